/*
 * plat/stdlib.h - the C runtime's environment setter with its Windows name.
 *
 * _putenv("NAME=value") sets (or, with "NAME=", removes) an entry of the process
 * environment so that getenv and child processes see it. On Windows this is the C
 * runtime's own; elsewhere plat_putenv copies the text (the caller's buffer may go away)
 * and sets the entry. Returns 0, or -1 for a text without '='.
 */
#ifndef PLAT_STDLIB_H
#define PLAT_STDLIB_H

#include <stdlib.h>

#ifndef _WIN32
int plat_putenv(const char *entry);
#define _putenv plat_putenv
#endif

#endif /* PLAT_STDLIB_H */
