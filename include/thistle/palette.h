/*
 * thistle/palette.h - the system palette: the meaning of every 8-bit pixel.
 *
 * 256 entries 0xAARRGGBB (in memory: blue, green, red, alpha). Written by the palette
 * setters and graphics initialisation; read by colour matching and shape conversion.
 * Threads: the setters run on the caller's thread; the palette itself has no lock.
 */
#ifndef THISTLE_PALETTE_H
#define THISTLE_PALETTE_H

#include <cstdint>

struct displayrecord;

extern uint32_t systempalette[256];

/* Number of applypalette calls so far. */
extern int32_t palettechangecount;

/* Writes count red, green, blue byte triplets into the system palette from entry first
 * on (alpha 255) and hands the change to the display. */
void setpalette(int32_t first, int32_t count, const uint8_t *triplets);
/* setpalette(0, 256, the library's default table). */
void setdefaultpalette(void);
/* Hands entries first .. first + count - 1 to an 8-bit display (record null: the
 * library's): into its entries and dirty range, then to the device; windowed, reads the
 * colours the display took back into the system palette. Otherwise only counts. */
void applypalette(displayrecord *record, int32_t first, int32_t count);

#endif /* THISTLE_PALETTE_H */
