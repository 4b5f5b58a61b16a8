/*
 * toolpng.cpp - PNG reading and writing for the tools (see toolpng.h).
 */
#include "toolpng.h"

#include <cstdio>
#include <cstring>

#if THISTLE_TOOLPNG
#include <png.h>
#endif

int ispngdata(const uint8_t *data, size_t size) {
    static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    return size >= 8 && std::memcmp(data, signature, 8) == 0;
}

#if THISTLE_TOOLPNG

namespace {

int begin(png_image &image, const uint8_t *data, size_t size, const pnglimits &limits, char *error,
          size_t errorsize) {
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, data, size)) {
        std::snprintf(error, errorsize, "bad PNG: %s", image.message);
        return 0;
    }
    if (image.width == 0 || image.height == 0 || image.width > limits.side ||
        image.height > limits.side ||
        (limits.pixels != 0 && static_cast<uint64_t>(image.width) * image.height > limits.pixels)) {
        // Without a bound on the total the side alone is the limit, and the message
        // stays the short one.
        if (limits.pixels != 0) {
            std::snprintf(error, errorsize,
                          "PNG of %ux%u pixels is out of range (1 to %u a side, %u pixels)",
                          image.width, image.height, limits.side, limits.pixels);
        } else {
            std::snprintf(error, errorsize, "PNG of %ux%u pixels is out of range", image.width,
                          image.height);
        }
        png_image_free(&image);
        return 0;
    }
    return 1;
}

uint32_t colour(const uint8_t *rgba) {
    return static_cast<uint32_t>(rgba[3]) << 24 | static_cast<uint32_t>(rgba[0]) << 16 |
           static_cast<uint32_t>(rgba[1]) << 8 | rgba[2];
}

} // namespace

int readpngbytes(const uint8_t *data, size_t size, int channels, const pnglimits &limits,
                 std::vector<uint8_t> &bytes, int32_t &width, int32_t &height, char *error,
                 size_t errorsize) {
    png_image image;
    if (!begin(image, data, size, limits, error, errorsize)) {
        return 0;
    }
    image.format = channels == 4 ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
    bytes.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, bytes.data(), 0, nullptr)) {
        std::snprintf(error, errorsize, "bad PNG: %s", image.message);
        png_image_free(&image);
        return 0;
    }
    width = static_cast<int32_t>(image.width);
    height = static_cast<int32_t>(image.height);
    return 1;
}

int readpngcolours(const uint8_t *data, size_t size, const pnglimits &limits,
                   std::vector<uint32_t> &pixels, int32_t &width, int32_t &height, char *error,
                   size_t errorsize) {
    std::vector<uint8_t> rgba;
    if (!readpngbytes(data, size, 4, limits, rgba, width, height, error, errorsize)) {
        return 0;
    }
    pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
    for (size_t i = 0; i < pixels.size(); i++) {
        pixels[i] = colour(rgba.data() + 4 * i);
    }
    return 1;
}

int readpngpalette(const uint8_t *data, size_t size, const pnglimits &limits,
                   std::vector<uint32_t> &colours, char *error, size_t errorsize) {
    png_image image;
    if (!begin(image, data, size, limits, error, errorsize)) {
        return 0;
    }
    if ((image.format & PNG_FORMAT_FLAG_COLORMAP) == 0) {
        std::snprintf(error, errorsize, "PNG has no palette");
        png_image_free(&image);
        return 0;
    }
    image.format = PNG_FORMAT_RGBA_COLORMAP;
    std::vector<uint8_t> indexes(PNG_IMAGE_SIZE(image));
    std::vector<uint8_t> map(PNG_IMAGE_COLORMAP_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, indexes.data(), 0, map.data())) {
        std::snprintf(error, errorsize, "bad PNG: %s", image.message);
        png_image_free(&image);
        return 0;
    }
    colours.resize(image.colormap_entries);
    for (size_t i = 0; i < colours.size(); i++) {
        colours[i] = colour(map.data() + 4 * i);
    }
    return 1;
}
int writepngcolours(const uint32_t *pixels, int32_t width, int32_t height,
                    std::vector<uint8_t> &png, char *error, size_t errorsize) {
    const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
    std::vector<uint8_t> rgba(count * 4);
    for (size_t i = 0; i < count; i++) {
        rgba[4 * i] = static_cast<uint8_t>(pixels[i] >> 16);
        rgba[4 * i + 1] = static_cast<uint8_t>(pixels[i] >> 8);
        rgba[4 * i + 2] = static_cast<uint8_t>(pixels[i]);
        rgba[4 * i + 3] = static_cast<uint8_t>(pixels[i] >> 24);
    }
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_RGBA;
    png_alloc_size_t bytes = 0;
    if (!png_image_write_to_memory(&image, nullptr, &bytes, 0, rgba.data(), 0, nullptr)) {
        std::snprintf(error, errorsize, "PNG not written: %s", image.message);
        return 0;
    }
    png.resize(bytes);
    if (!png_image_write_to_memory(&image, png.data(), &bytes, 0, rgba.data(), 0, nullptr)) {
        std::snprintf(error, errorsize, "PNG not written: %s", image.message);
        return 0;
    }
    png.resize(bytes);
    return 1;
}

#endif /* THISTLE_TOOLPNG */
