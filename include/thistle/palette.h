/*
 * thistle/palette.h - the system palette: the meaning of every 8-bit pixel.
 *
 * 256 entries 0xAARRGGBB (in memory: blue, green, red, alpha). Written by the palette
 * setters and graphics initialisation; read by colour matching and shape conversion.
 */
#ifndef THISTLE_PALETTE_H
#define THISTLE_PALETTE_H

#include <cstdint>

extern uint32_t systempalette[256];

#endif /* THISTLE_PALETTE_H */
