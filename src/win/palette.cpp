/*
 * palette.cpp - win\palette: the system palette.
 *
 * 256 colours 0xAARRGGBB, all 0 until graphics initialisation loads the default
 * palette. Threads: written by the palette setters, read by colour matching; no lock.
 */
#include "thistle/palette.h"

uint32_t systempalette[256] = {};
