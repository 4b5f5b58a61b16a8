/*
 * window.cpp - win\window: the current display window (see thistle/window.h).
 *
 * No display window is ever made current yet, so there is none to release.
 */
#include "thistle/window.h"

/* Makes no display window current; with none current there is nothing to do. */
int32_t releasedisplaywindow(void) {
    return 1;
}
