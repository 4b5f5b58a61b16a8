/*
 * toolpack.cpp - pack formats, encoders and working memory for the tools (see toolpack.h).
 */
#include "toolpack.h"

#include "toolio.h"

#include "thistle/memstd.h"
#include "thistle/memutil.h"
#include "thistle/pack.h"
#include "thistle/unpack.h"

#include <cstring>
#include <vector>

const packformat packformats[7] = {
    {.name = "lz",
     .code = PACK_LZCODE,
     .k = packkind::lz,
     .filter = 0,
     .levels = true,
     .longheader = true,
     .deflevel = 6},
    {.name = "huff",
     .code = PACK_HUFFCODE,
     .k = packkind::huff,
     .filter = 0,
     .levels = false,
     .longheader = true,
     .deflevel = 0},
    {.name = "huff1",
     .code = PACK_HUFF1CODE,
     .k = packkind::huff,
     .filter = 1,
     .levels = false,
     .longheader = true,
     .deflevel = 0},
    {.name = "huff2",
     .code = PACK_HUFF2CODE,
     .k = packkind::huff,
     .filter = 2,
     .levels = false,
     .longheader = true,
     .deflevel = 0},
    {.name = "rle",
     .code = PACK_RLECODE,
     .k = packkind::rle,
     .filter = 0,
     .levels = false,
     .longheader = false,
     .deflevel = 0},
    {.name = "pair",
     .code = PACK_PAIRCODE,
     .k = packkind::pair,
     .filter = 0,
     .levels = false,
     .longheader = true,
     .deflevel = 0},
    {.name = "block",
     .code = PACK_BLOCKCODE,
     .k = packkind::block,
     .filter = 0,
     .levels = true,
     .longheader = false,
     .deflevel = 9},
};

const packformat *packformatbyname(const char *name) {
    for (const packformat &f : packformats) {
        if (std::strcmp(f.name, name) == 0) {
            return &f;
        }
    }
    return nullptr;
}

const packformat *packformatbycode(uint8_t code) {
    for (const packformat &f : packformats) {
        if (f.code == (code & 0xFE)) {
            return &f;
        }
    }
    return nullptr;
}

int32_t packencode(const packjob &j, uint8_t *out, size_t capacity) {
    switch (j.format->k) {
    case packkind::lz:
        return lzpack(j.data, j.size, out, capacity, j.level, j.header);
    case packkind::huff:
        return huffpack(j.data, j.size, out, capacity, j.format->filter, j.header);
    case packkind::rle:
        return rlepack(j.data, j.size, out, capacity);
    case packkind::pair:
        return pairpack(j.data, j.size, out, capacity, j.header);
    case packkind::block: {
        // Pixels are little-endian in files; the encoder takes them in host order.
        std::vector<uint16_t> pixels(j.size / 2);
        for (size_t i = 0; i < pixels.size(); i++) {
            pixels[i] = static_cast<uint16_t>(j.data[2 * i] | (j.data[2 * i + 1] << 8));
        }
        return blockpack(pixels.data(), j.width, j.height, out, capacity, j.level);
    }
    }
    return PACK_EINVAL;
}

size_t packstreamend(const uint8_t *stream, size_t available, size_t unpacked) {
    std::vector<uint8_t> scratch(unpacked);
    auto whole = [&](size_t n) {
        return unpackbounded(stream, n, scratch.data(), scratch.size()) ==
               static_cast<int32_t>(unpacked);
    };
    // Most streams end at the last byte: one look settles those.
    if (available < 3 || !whole(available - 1)) {
        return available;
    }
    size_t low = 2, high = available - 1; // whole(high) holds
    while (low < high) {
        const size_t mid = low + (high - low) / 2;
        if (whole(mid)) {
            high = mid;
        } else {
            low = mid + 1;
        }
    }
    return high;
}

namespace {

// The region must stay below 2 GiB (class sizes are 32-bit).
constexpr size_t maxregion = size_t{1536} << 20;

} // namespace

int packinmemory(const char *in, size_t size, const std::function<int32_t()> &encode,
                 int32_t &result) {
    result = PACK_ENOMEM;
    workmem mem;
    for (size_t region = (size_t{32} << 20) + 24 * size; result == PACK_ENOMEM; region *= 4) {
        if (!memup(mem, region)) {
            return !fail(shown(in), "no memory for the encoder's work");
        }
        result = encode();
        memdown(mem);
        if (region >= maxregion) {
            break;
        }
    }
    return 1;
}

int memup(workmem &m, size_t bytes) {
    m.pages = nullptr;
    m.classnum = 1;
    bytes = bytes > maxregion ? maxregion : bytes;
    void *pages = allocpages(&bytes);
    if (pages == nullptr) {
        return 0;
    }
    initmemclasses();
    if (creatememclass(m.classnum, toolname, pages, static_cast<int32_t>(bytes), 16, 16, 0, 0, 0, 1,
                       0, 0) == 0) {
        freepages(pages);
        return 0;
    }
    m.pages = pages;
    defaultmemclass = m.classnum;
    return 1;
}

void memdown(workmem &m) {
    if (m.pages != nullptr) {
        removememclass(m.classnum);
        freepages(m.pages);
        m.pages = nullptr;
    }
}
