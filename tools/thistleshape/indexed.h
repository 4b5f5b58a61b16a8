/*
 * indexed.h - indexed pixels for thistleshape: a colour table made by the quantiser
 * (libimagequant, when the build has it) or taken from a given palette, and the image's
 * pixels as indexes into it.
 * Threads: no shared state.
 */
#ifndef THISTLESHAPE_INDEXED_H
#define THISTLESHAPE_INDEXED_H

#include "shapefile.h"

#include <cstddef>
#include <cstdint>
#include <vector>

/* Non-zero when the build has the quantiser. */
int havequantiser(void);

/* Makes the indexes (one per pixel) and the table's colours for a shape of `bits` bits
 * per pixel (1, 4 or 8) whose table has the type `clut`. The table's way of marking
 * transparency decides what becomes of transparent pixels (alpha below 0x40, the
 * library's threshold): a table with alpha keeps every alpha; a 16-bit table keeps them
 * transparent; a 3-byte table sends them to entry 255, which the library reads as
 * transparent, at 8 bits, and makes them opaque at 1 and 4 bits. given: the palette to
 * use, or null to quantise. Returns 1, or 0 with the reason in error. */
int makeindexed(const std::vector<uint32_t> &pixels, int32_t width, int32_t height, int32_t bits,
                const cluttypeinfo &clut, const std::vector<uint32_t> *given, bool dither,
                std::vector<uint8_t> &indexes, std::vector<uint32_t> &entries, char *error,
                size_t errorsize);

#endif /* THISTLESHAPE_INDEXED_H */
