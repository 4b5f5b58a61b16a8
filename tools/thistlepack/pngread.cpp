/*
 * pngread.cpp - PNG to 5:6:5 conversion for thistlepack (see pngread.h), through the
 * tools' PNG reader, which handles every colour type, bit depth and interlacing and
 * expands them to 8-bit RGB for us.
 * Threads: no shared state. Limits: images up to 16384 pixels on a side.
 */
#include "pngread.h"

#include "toolpng.h"

#include <cstdio>

#if THISTLE_TOOLPNG

namespace {

// Larger images could never fit a packed stream (16 MiB of 2-byte pixels) anyway.
constexpr pnglimits limits = {.side = 16384, .pixels = 0};

uint16_t to565(uint8_t r, uint8_t g, uint8_t b) {
    const uint32_t r5 = (r * 31u + 127u) / 255u;
    const uint32_t g6 = (g * 63u + 127u) / 255u;
    const uint32_t b5 = (b * 31u + 127u) / 255u;
    return static_cast<uint16_t>((r5 << 11) | (g6 << 5) | b5);
}

} // namespace

int readpng565(const uint8_t *data, size_t size, std::vector<uint16_t> &pixels, int32_t &width,
               int32_t &height, char *error, size_t errorsize) {
    std::vector<uint8_t> rgb;
    if (!readpngbytes(data, size, 3, limits, rgb, width, height, error, errorsize)) {
        return 0;
    }
    pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
    for (size_t i = 0; i < pixels.size(); i++) {
        pixels[i] = to565(rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]);
    }
    return 1;
}

#else

int readpng565(const uint8_t *, size_t, std::vector<uint16_t> &, int32_t &, int32_t &, char *error,
               size_t errorsize) {
    std::snprintf(error, errorsize, "PNG input is not available (built without libpng)");
    return 0;
}

#endif
