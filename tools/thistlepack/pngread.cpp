/*
 * pngread.cpp - PNG to 5:6:5 conversion for thistlepack (see pngread.h), through
 * libpng's simplified reading interface, which handles every colour type, bit depth and
 * interlacing and expands them to 8-bit RGB for us.
 * Threads: no shared state. Limits: images up to 16384 pixels on a side.
 */
#include "pngread.h"

#include <cstdio>
#include <cstring>

#ifdef THISTLEPACK_PNG
#include <png.h>
#endif

int ispng(const uint8_t *data, size_t size) {
    static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    return size >= 8 && std::memcmp(data, signature, 8) == 0;
}

#ifdef THISTLEPACK_PNG

namespace {

// Larger images could never fit a packed stream (16 MiB of 2-byte pixels) anyway.
constexpr uint32_t maxside = 16384;

uint16_t to565(uint8_t r, uint8_t g, uint8_t b) {
    const uint32_t r5 = (r * 31u + 127u) / 255u;
    const uint32_t g6 = (g * 63u + 127u) / 255u;
    const uint32_t b5 = (b * 31u + 127u) / 255u;
    return static_cast<uint16_t>((r5 << 11) | (g6 << 5) | b5);
}

} // namespace

int readpng565(const uint8_t *data, size_t size, std::vector<uint16_t> &pixels, int32_t &width,
               int32_t &height, char *error, size_t errorsize) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, data, size)) {
        std::snprintf(error, errorsize, "bad PNG: %s", image.message);
        return 0;
    }
    if (image.width == 0 || image.height == 0 || image.width > maxside || image.height > maxside) {
        png_image_free(&image);
        std::snprintf(error, errorsize, "PNG of %ux%u pixels is out of range", image.width,
                      image.height);
        return 0;
    }
    image.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) {
        std::snprintf(error, errorsize, "bad PNG: %s", image.message);
        png_image_free(&image);
        return 0;
    }
    width = static_cast<int32_t>(image.width);
    height = static_cast<int32_t>(image.height);
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
