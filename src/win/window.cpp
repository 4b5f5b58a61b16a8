/*
 * window.cpp - win\window: the current display window (see thistle/ddraw.h).
 *
 * No display window is ever made current yet, so there is none to release.
 */
#include "thistle/ddraw.h"

/* Makes no display window current; with none current there is nothing to do. */
void releasedisplaywindow(void) {}
