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

/* The setters write entries first .. first + count - 1 of the system palette and hand
 * the change to the display (applypalette). Entries outside 0..255 are left out; the
 * input's first element still belongs to entry first. From red, green, blue byte
 * triplets (alpha 255), from 32-bit colours as they are, and from triplets of 0..63
 * widened to 0..255. */
void setpalette(int32_t first, int32_t count, const uint8_t *triplets);
void setpalette32(int32_t first, int32_t count, const uint32_t *colours);
void vgapalette(int32_t first, int32_t count, const uint8_t *triplets);
/* Read entries first .. first + count - 1 back as red, green, blue triplets or as 32-bit
 * colours, clipped to the palette as the setters are. */
void getpalette(int32_t first, int32_t count, uint8_t *triplets);
void getpalette32(int32_t first, int32_t count, uint32_t *colours);
/* Always a fatal report: 6-bit palettes are only accepted, never given out. */
void getvgapalette(void);
/* setpalette(0, 256, the library's default table). */
void setdefaultpalette(void);
/* Hands entries first .. first + count - 1 to an 8-bit display (record null: the
 * library's): into its entries and dirty range, then to the device; windowed, reads the
 * colours the display took back into the system palette. Otherwise only counts. */
void applypalette(displayrecord *record, int32_t first, int32_t count);

#endif /* THISTLE_PALETTE_H */
