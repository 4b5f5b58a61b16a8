/*
 * indexed.cpp - colour tables and indexes for thistleshape (see indexed.h).
 */
#include "indexed.h"

#include <cstdio>
#include <unordered_map>

#ifdef THISTLESHAPE_QUANT
#include <libimagequant.h>
#endif

namespace {

constexpr uint32_t transparentbelow = 0x40000000u;

/* The pixels as the table can show them: see makeindexed. */
uint32_t prepare(uint32_t c, clutalpha alpha, bool spare255) {
    switch (alpha) {
    case clutalpha::channel:
        return c;
    case clutalpha::zero:
        return c < transparentbelow ? 0 : c | 0xFF000000u;
    case clutalpha::none:
        return spare255 && c < transparentbelow ? 0 : c | 0xFF000000u;
    }
    return c;
}

int32_t distance(uint32_t a, uint32_t b) {
    int32_t sum = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const int32_t d =
            static_cast<int32_t>(a >> shift & 0xFF) - static_cast<int32_t>(b >> shift & 0xFF);
        sum += d * d;
    }
    return sum;
}

/* Nearest entry of the palette, as the table will read back, for every pixel. */
void mapto(const std::vector<uint32_t> &pixels, const std::vector<uint32_t> &readback,
           std::vector<uint8_t> &indexes) {
    std::unordered_map<uint32_t, uint8_t> seen;
    indexes.resize(pixels.size());
    for (size_t i = 0; i < pixels.size(); i++) {
        const auto found = seen.find(pixels[i]);
        if (found != seen.end()) {
            indexes[i] = found->second;
            continue;
        }
        size_t best = 0;
        int32_t bestdistance = distance(pixels[i], readback[0]);
        for (size_t e = 1; e < readback.size(); e++) {
            const int32_t d = distance(pixels[i], readback[e]);
            if (d < bestdistance) {
                best = e;
                bestdistance = d;
            }
        }
        indexes[i] = static_cast<uint8_t>(best);
        seen.emplace(pixels[i], indexes[i]);
    }
}

#ifdef THISTLESHAPE_QUANT

int quantise(const std::vector<uint32_t> &pixels, int32_t width, int32_t height, int32_t maxcolours,
             bool dither, std::vector<uint8_t> &indexes, std::vector<uint32_t> &entries,
             char *error, size_t errorsize) {
    std::vector<uint8_t> rgba(pixels.size() * 4);
    for (size_t i = 0; i < pixels.size(); i++) {
        rgba[4 * i] = static_cast<uint8_t>(pixels[i] >> 16);
        rgba[4 * i + 1] = static_cast<uint8_t>(pixels[i] >> 8);
        rgba[4 * i + 2] = static_cast<uint8_t>(pixels[i]);
        rgba[4 * i + 3] = static_cast<uint8_t>(pixels[i] >> 24);
    }
    liq_attr *attr = liq_attr_create();
    liq_image *image = nullptr;
    liq_result *result = nullptr;
    liq_error e = attr == nullptr ? LIQ_OUT_OF_MEMORY : liq_set_max_colors(attr, maxcolours);
    if (e == LIQ_OK) {
        image = liq_image_create_rgba(attr, rgba.data(), width, height, 0);
        e = image == nullptr ? LIQ_OUT_OF_MEMORY : liq_image_quantize(image, attr, &result);
    }
    if (e == LIQ_OK) {
        liq_set_dithering_level(result, dither ? 1.0f : 0.0f);
        indexes.resize(pixels.size());
        e = liq_write_remapped_image(result, image, indexes.data(), indexes.size());
    }
    if (e == LIQ_OK) {
        const liq_palette *palette = liq_get_palette(result);
        entries.resize(palette->count);
        for (unsigned i = 0; i < palette->count; i++) {
            const liq_color &c = palette->entries[i];
            entries[i] = static_cast<uint32_t>(c.a) << 24 | static_cast<uint32_t>(c.r) << 16 |
                         static_cast<uint32_t>(c.g) << 8 | c.b;
        }
    }
    if (result != nullptr) {
        liq_result_destroy(result);
    }
    if (image != nullptr) {
        liq_image_destroy(image);
    }
    if (attr != nullptr) {
        liq_attr_destroy(attr);
    }
    if (e != LIQ_OK) {
        std::snprintf(error, errorsize, "the quantiser failed (error %d)", static_cast<int>(e));
        return 0;
    }
    return 1;
}

#else

int quantise(const std::vector<uint32_t> &, int32_t, int32_t, int32_t, bool, std::vector<uint8_t> &,
             std::vector<uint32_t> &, char *error, size_t errorsize) {
    std::snprintf(error, errorsize,
                  "this build has no quantiser (libimagequant): give a palette with -P");
    return 0;
}

#endif

} // namespace

int havequantiser(void) {
#ifdef THISTLESHAPE_QUANT
    return 1;
#else
    return 0;
#endif
}

int makeindexed(const std::vector<uint32_t> &pixels, int32_t width, int32_t height, int32_t bits,
                const cluttypeinfo &clut, const std::vector<uint32_t> *given, bool dither,
                std::vector<uint8_t> &indexes, std::vector<uint32_t> &entries, char *error,
                size_t errorsize) {
    const int32_t most = 1 << bits;
    // Entry 255 of a 3-byte table reads as transparent: it is kept for transparent pixels.
    const bool spare255 = clut.alpha == clutalpha::none && bits == 8;
    std::vector<uint32_t> prepared(pixels.size());
    bool anytransparent = false;
    for (size_t i = 0; i < pixels.size(); i++) {
        prepared[i] = prepare(pixels[i], clut.alpha, spare255);
        anytransparent = anytransparent || (spare255 && prepared[i] == 0);
    }
    if (given != nullptr) {
        if (given->empty() || given->size() > static_cast<size_t>(most)) {
            std::snprintf(error, errorsize, "a palette of %zu colours does not fit %d-bit pixels",
                          given->size(), bits);
            return 0;
        }
        entries = *given;
        std::vector<uint8_t> bytes;
        writeclutentries(clut, entries.data(), static_cast<int32_t>(entries.size()), bytes);
        std::vector<uint32_t> readback(256);
        readclut(clut, bytes.data(), static_cast<int32_t>(entries.size()), readback.data());
        readback.resize(entries.size());
        mapto(prepared, readback, indexes);
        return 1;
    }
    if (!spare255 || !anytransparent) {
        // Without transparent pixels entry 255 is still kept out of a 3-byte table: an
        // opaque colour there would read as transparent.
        return quantise(prepared, width, height, spare255 ? most - 1 : most, dither, indexes,
                        entries, error, errorsize);
    }
    // The transparent pixels take an opaque colour of the image for the quantiser, so
    // that they cost no entry, and index 255 afterwards.
    uint32_t stand = 0xFF000000u;
    for (uint32_t c : prepared) {
        if (c != 0) {
            stand = c;
            break;
        }
    }
    std::vector<uint32_t> opaque(prepared);
    for (uint32_t &c : opaque) {
        c = c == 0 ? stand : c;
    }
    if (!quantise(opaque, width, height, most - 1, dither, indexes, entries, error, errorsize)) {
        return 0;
    }
    for (size_t i = 0; i < prepared.size(); i++) {
        indexes[i] = prepared[i] == 0 ? 255 : indexes[i];
    }
    entries.resize(256, 0);
    return 1;
}
