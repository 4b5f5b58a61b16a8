/*
 * thistle/shpclut.h - colour tables of shapes: finding a shape's table and reading it as
 * a palette of 256 entries in the form a display depth needs, and converting tables
 * between their 6-bit, 8-bit and 32-bit forms.
 *
 * The readers answer 256 entries: 32-bit 0xAARRGGBB, 16-bit 5:6:5, or 32-bit with the
 * alpha byte on top and a 5:6:5 colour in the low 16 bits. A table already in the wanted
 * form is answered in place; otherwise the entries are converted into the caller's
 * buffer and entry 255 of it starts at 0 (transparent). A shape without a table reads as
 * the system palette. Unknown table types are fatal reports.
 * Threads: no state of their own; the system palette is read without a lock.
 */
#ifndef THISTLE_SHPCLUT_H
#define THISTLE_SHPCLUT_H

#include <cstdint>

/* The first colour table in the shape's chain (the shape itself when it is one), or
 * null. A shape whose type has no bits (shapebits 0) is a fatal report. */
void *getshapeclut(const void *shape);

/* The shape's colours as 256 0xAARRGGBB entries: the system palette itself, a 0x2A
 * table's own entries, or buffer (256 entries) filled from the table. */
const uint32_t *getclutptr(const void *shape, uint32_t *buffer);
/* As 256 5:6:5 entries: a 0x29 table's own entries, or buffer filled (32-bit colours
 * under the alpha threshold: alpha below 0x40 gives 0, a packing of 0 gives 1). */
const uint16_t *getclut16ptr(const void *shape, uint16_t *buffer);
/* As 256 entries alpha << 24 | 5:6:5: a 0x2C table's own entries, or buffer filled. */
const uint32_t *getclut16aptr(const void *shape, uint32_t *buffer);

/* Table converters over count entries in caller memory. 6-bit components scale as
 * (v x 255 + 32) / 63 up and (v x 63 + 128) / 255 down; the 32-bit results are opaque
 * except entry 255, which is transparent (alpha 0). */
void clut6to8(int32_t count, const void *source, void *destination);
void clut8to6(int32_t count, const void *source, void *destination);
void clut6to32(int32_t count, const void *source, void *destination);
void clut8to32(int32_t count, const void *source, void *destination);
void clut32to6(int32_t count, const void *source, void *destination);
void clut32to8(int32_t count, const void *source, void *destination);

#endif /* THISTLE_SHPCLUT_H */
