/*
 * pngio.h - PNG files for thistleshape through libpng's simplified interface: any PNG
 * read as 32-bit colours, a PNG's own palette read as a list of colours, and colours
 * written as an RGBA PNG.
 * Colours are 0xAARRGGBB. Threads: no shared state. Limits: 32767 pixels on a side (a
 * shape's width and height are signed 16-bit numbers) and 16777216 pixels in all (a
 * small file can claim a huge picture; this keeps the tool's memory to about 1 GiB).
 */
#ifndef THISTLESHAPE_PNGIO_H
#define THISTLESHAPE_PNGIO_H

#include <cstddef>
#include <cstdint>
#include <vector>

constexpr int32_t maxpngside = 32767;
constexpr uint32_t maxpngpixels = uint32_t{1} << 24;

/* Non-zero when the bytes start with the PNG signature. */
int ispngdata(const uint8_t *data, size_t size);

/* Decodes a PNG to colours, row by row. Returns 1, or 0 with the reason in error. */
int readpngcolours(const uint8_t *data, size_t size, std::vector<uint32_t> &pixels, int32_t &width,
                   int32_t &height, char *error, size_t errorsize);

/* The palette of a palette PNG (its entries in order, with their transparency). Returns
 * 1, or 0 with the reason in error (also for a PNG without a palette). */
int readpngpalette(const uint8_t *data, size_t size, std::vector<uint32_t> &colours, char *error,
                   size_t errorsize);

/* Encodes colours as an RGBA PNG into png. Returns 1, or 0 with the reason in error. */
int writepngcolours(const uint32_t *pixels, int32_t width, int32_t height,
                    std::vector<uint8_t> &png, char *error, size_t errorsize);

#endif /* THISTLESHAPE_PNGIO_H */
