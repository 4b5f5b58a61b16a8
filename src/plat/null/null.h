/*
 * null/null.h - what the headless backend recorded, for tests.
 *
 * The headless backend has no window system; it keeps a small record per window so a
 * test can see how the layer mirrored it (shown, moved, filled with which colour,
 * raised).
 */
#ifndef PLAT_NULL_NULL_H
#define PLAT_NULL_NULL_H

#include "plat/win32.h"

typedef struct plat_nullwindowinfo {
    int x, y, width, height;
    int show;        /* PLAT_HIDDEN / PLAT_SHOWN / PLAT_MINIMISED */
    int fills;       /* number of background fills */
    COLORREF colour; /* colour of the last fill */
    int raises;      /* number of times it was brought to the front */
} plat_nullwindowinfo;

/* Copies the record of hwnd's headless window; 0 when it has none. */
int plat_nullwindow(HWND hwnd, plat_nullwindowinfo *info);
/* 1 while the headless cursor is shown. */
int plat_nullcursorvisible(void);

#endif /* PLAT_NULL_NULL_H */
