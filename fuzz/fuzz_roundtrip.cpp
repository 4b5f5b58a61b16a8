/*
 * fuzz_roundtrip - fuzz target for the encoders: every input is packed by one encoder
 * (chosen by its first byte) and read back.
 *
 * Byte 0: bits 0-2 the format (lz, huff, huff1, huff2, rle, pair, block, lz), bits 3-6 the
 * level (1 to 9, lz and block), bit 7 the long header form where the format has one. For
 * block, byte 1 gives the width (bit 7 clear: 4 to 64 in steps of 4; set: 1 to 64) and the
 * rest are little-endian 5:6:5 pixels in rows of that width; otherwise the rest is the
 * data.
 *
 * Checks: the stream fits packbound and starts with the format's code; it unpacks, with
 * the bounded dispatcher into exactly the input's size and with the plain one, to the
 * input (blocks: to an image of the same size in which every single-colour 4x4 block is
 * exact); the plain decoders change nothing behind the declared end; an encoder given one
 * byte less than its stream needs refuses with PACK_EOVERFLOW; every encoder returns all
 * its working memory.
 * Memory: one class of 256 MiB of pages, made on the first call.
 */
#include "fuzzcheck.h"

#include "thistle/memstd.h"
#include "thistle/memutil.h"
#include "thistle/pack.h"

#include <vector>

namespace {

constexpr int32_t workclass = 1;

void workmemory() {
    static bool ready = false;
    if (ready) {
        return;
    }
    size_t bytes = size_t{256} << 20;
    void *pages = allocpages(&bytes);
    initmemclasses();
    if (pages == nullptr || creatememclass(workclass, "fuzz", pages, static_cast<int32_t>(bytes),
                                           16, 16, 0, 0, 0, 1, 0, 0) == 0) {
        fuzzfail("no working memory for the encoders", 0, 0);
    }
    defaultmemclass = workclass;
    ready = true;
}

struct format {
    uint8_t code;
    int32_t filter;
};

const format formats[8] = {
    {PACK_LZCODE, 0},  {PACK_HUFFCODE, 0}, {PACK_HUFF1CODE, 1}, {PACK_HUFF2CODE, 2},
    {PACK_RLECODE, 0}, {PACK_PAIRCODE, 0}, {PACK_BLOCKCODE, 0}, {PACK_LZCODE, 0},
};

struct job {
    format f;
    int32_t level;
    int32_t header;
    const uint8_t *data;
    size_t size;
    std::vector<uint16_t> pixels;
    int32_t width, height;
};

int32_t encode(const job &j, uint8_t *out, size_t capacity) {
    switch (j.f.code) {
    case PACK_LZCODE:
        return lzpack(j.data, j.size, out, capacity, j.level, j.header);
    case PACK_HUFFCODE:
    case PACK_HUFF1CODE:
    case PACK_HUFF2CODE:
        return huffpack(j.data, j.size, out, capacity, j.f.filter, j.header);
    case PACK_RLECODE:
        return rlepack(j.data, j.size, out, capacity);
    case PACK_PAIRCODE:
        return pairpack(j.data, j.size, out, capacity, j.header);
    default:
        return blockpack(j.pixels.data(), j.width, j.height, out, capacity, j.level);
    }
}

/* Every 4x4 block of one colour must come back exactly: any endpoint search finds it. */
void checkuniformblocks(const job &j, const uint8_t *decoded) {
    for (int32_t by = 0; by + 4 <= j.height; by += 4) {
        for (int32_t bx = 0; bx + 4 <= j.width; bx += 4) {
            const uint16_t c = j.pixels[static_cast<size_t>(by) * j.width + bx];
            auto at = [&](int32_t i) {
                return static_cast<size_t>(by + i / 4) * j.width + bx + i % 4;
            };
            bool uniform = true;
            for (int32_t i = 0; i < 16; i++) {
                uniform = uniform && j.pixels[at(i)] == c;
            }
            for (int32_t i = 0; i < 16 && uniform; i++) {
                const uint16_t got =
                    static_cast<uint16_t>(decoded[2 * at(i)] | decoded[2 * at(i) + 1] << 8);
                if (got != c) {
                    fuzzfail("a single-colour block does not come back exactly", c, got);
                }
            }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) {
        return 0;
    }
    workmemory();
    job j;
    j.f = formats[data[0] & 7];
    j.level = ((data[0] >> 3) & 15) % 9 + 1;
    j.header = (data[0] & 0x80) != 0 && j.f.code != PACK_RLECODE && j.f.code != PACK_BLOCKCODE
                   ? PACK_LONGHEADER
                   : PACK_SHORTHEADER;
    j.data = data + 1;
    j.size = size - 1;
    j.width = j.height = 0;
    const bool block = j.f.code == PACK_BLOCKCODE;
    if (block) {
        if (size < 2) {
            return 0;
        }
        j.width = (data[1] & 0x80) != 0 ? (data[1] & 63) + 1 : 4 * ((data[1] & 15) + 1);
        const size_t count = (size - 2) / 2;
        j.height = static_cast<int32_t>(count / static_cast<size_t>(j.width));
        if (j.height == 0) {
            return 0;
        }
        j.pixels.resize(static_cast<size_t>(j.width) * j.height);
        for (size_t i = 0; i < j.pixels.size(); i++) {
            j.pixels[i] = static_cast<uint16_t>(data[2 + 2 * i] | data[3 + 2 * i] << 8);
        }
        j.data = nullptr;
        j.size = j.pixels.size() * 2;
    }

    const int32_t freebefore = largestmemblock(workclass);
    const size_t capacity = packbound(j.f.code, j.size);
    std::vector<uint8_t> stream(capacity);
    const int32_t r = encode(j, stream.data(), capacity);
    if (largestmemblock(workclass) != freebefore) {
        fuzzfail("an encoder kept working memory", freebefore, largestmemblock(workclass));
    }
    if (r < 0) {
        // Empty inputs may be refused, and so may images the block format cannot hold
        // exactly (dimensions not multiples of 4); nothing else.
        const bool oddimage = block && ((j.width & 3) != 0 || (j.height & 3) != 0);
        if (r == PACK_EINVAL && (j.size == 0 || oddimage)) {
            return 0;
        }
        fuzzfail("an encoder failed", r, static_cast<int32_t>(j.size));
    }
    if (static_cast<size_t>(r) > capacity || r < 5 || (stream[0] & 0xFE) != j.f.code) {
        fuzzfail("a stream outside packbound or without its code", r,
                 static_cast<int32_t>(capacity));
    }

    // The bounded dispatcher, into exactly the input's size.
    std::vector<uint8_t> out(j.size);
    const int32_t got = unpackbounded(stream.data(), static_cast<size_t>(r), out.data(), j.size);
    if (got != static_cast<int32_t>(j.size)) {
        fuzzfail("the stream does not unpack to the input's size", got,
                 static_cast<int32_t>(j.size));
    }
    if (block) {
        checkuniformblocks(j, out.data());
    } else if (j.size > 0 && std::memcmp(out.data(), j.data, j.size) != 0) {
        fuzzfail("the stream does not unpack to the input", r, static_cast<int32_t>(j.size));
    }

    // The plain dispatcher must agree and leave everything behind the end as it was.
    if (j.size > 0) {
        std::vector<uint8_t> plain(j.size + fuzzguard, fuzzguardbyte);
        const int32_t p = unpack(stream.data(), plain.data());
        if (p != static_cast<int32_t>(j.size) || std::memcmp(plain.data(), out.data(), j.size)) {
            fuzzfail("the plain dispatcher disagrees with the bounded one", p, got);
        }
        for (size_t i = j.size; i < plain.size(); i++) {
            if (plain[i] != fuzzguardbyte) {
                fuzzfail("the plain dispatcher changed bytes behind the end",
                         static_cast<int32_t>(i), plain[i]);
            }
        }
    }

    // One byte less than the stream needs must be refused, not overrun.
    if (r > 0) {
        std::unique_ptr<uint8_t[]> tight(new uint8_t[static_cast<size_t>(r) - 1]);
        const int32_t t = encode(j, tight.get(), static_cast<size_t>(r) - 1);
        if (t != PACK_EOVERFLOW) {
            fuzzfail("an encoder short of room did not refuse", t, r);
        }
    }
    return 0;
}
