/*
 * plat/stdio.h - the C runtime's file-open call with Windows file names.
 *
 * Windows programs name files with backslashes ("options\options.txt") and open text
 * files with "t" in the mode. On Windows this is plain <stdio.h>. Elsewhere fopen is
 * routed to plat_fopen, which turns backslashes into slashes and drops the "t" (text
 * and binary modes are the same here: a line ends in a single line feed).
 *
 * Include it after every other header of the file, as its last include: the macro
 * renames the call in what follows.
 */
#ifndef PLAT_STDIO_H
#define PLAT_STDIO_H

#include <stdio.h>

#ifndef _WIN32
FILE *plat_fopen(const char *name, const char *mode);
#define fopen plat_fopen
#endif

#endif /* PLAT_STDIO_H */
