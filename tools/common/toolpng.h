/*
 * toolpng.h - PNG files for the tools: recognising one, and (when the build has libpng)
 * reading any PNG as 8-bit RGB or RGBA, a PNG's own palette as a list of colours, and
 * writing colours as an RGBA PNG, through libpng's simplified interface.
 * Colours are 0xAARRGGBB. Threads: no shared state. Limits: what the caller gives; a
 * small file can claim a huge picture, so every reader takes a bound on its size.
 */
#ifndef THISTLE_TOOLPNG_H
#define THISTLE_TOOLPNG_H

#include <cstddef>
#include <cstdint>
#include <vector>

/* Non-zero when the bytes start with the PNG signature. */
int ispngdata(const uint8_t *data, size_t size);

#if THISTLE_TOOLPNG

/* How large a picture is read: side pixels on a side, and pixels in all (0: no bound
 * on the total, and the refusal does not name the bounds). */
struct pnglimits {
    uint32_t side;
    uint32_t pixels;
};

/* Decodes a PNG to rows of 8-bit channels, RGB (channels 3, alpha composed away by
 * libpng) or RGBA (channels 4). Returns 1, or 0 with the reason in error. */
int readpngbytes(const uint8_t *data, size_t size, int channels, const pnglimits &limits,
                 std::vector<uint8_t> &bytes, int32_t &width, int32_t &height, char *error,
                 size_t errorsize);

/* Decodes a PNG to colours, row by row. Returns 1, or 0 with the reason in error. */
int readpngcolours(const uint8_t *data, size_t size, const pnglimits &limits,
                   std::vector<uint32_t> &pixels, int32_t &width, int32_t &height, char *error,
                   size_t errorsize);

/* The palette of a palette PNG (its entries in order, with their transparency). Returns
 * 1, or 0 with the reason in error (also for a PNG without a palette). */
int readpngpalette(const uint8_t *data, size_t size, const pnglimits &limits,
                   std::vector<uint32_t> &colours, char *error, size_t errorsize);

/* Encodes colours as an RGBA PNG into png. Returns 1, or 0 with the reason in error. */
int writepngcolours(const uint32_t *pixels, int32_t width, int32_t height,
                    std::vector<uint8_t> &png, char *error, size_t errorsize);

#endif /* THISTLE_TOOLPNG */

#endif /* THISTLE_TOOLPNG_H */
