/*
 * plat/resource.h - an executable's resources on the POSIX layer.
 *
 * On Windows, resources are compiled from an .rc file into the executable and found by
 * LoadStringA, LoadAcceleratorsA and LoadIconA. Here the program describes the same
 * resources in a table and registers it before WinMain runs, from a static initializer
 * of a file that only the POSIX build compiles. Only the kinds the loaders read are
 * kept: strings, accelerator tables and icons (an icon is known by its id alone).
 */
#ifndef PLAT_RESOURCE_H
#define PLAT_RESOURCE_H

#ifndef _WIN32
#include "plat/win32.h"

typedef struct plat_stringres {
    UINT id;
    const char *text;
} plat_stringres;

typedef struct plat_accelres {
    UINT id;          /* table id */
    const ACCEL *entries;
    int count;
} plat_accelres;

typedef struct plat_resources {
    const plat_stringres *strings;
    int stringcount;
    const plat_accelres *accels;
    int accelcount;
    const UINT *icons;
    int iconcount;
} plat_resources;

/* Registers the resources of the executable (the module GetModuleHandleA(NULL) names).
 * The table must live for the whole process. Returns 1. */
int plat_addresources(const plat_resources *res);
#endif

#endif /* PLAT_RESOURCE_H */
