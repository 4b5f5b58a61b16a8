/*
 * convrow.cpp - win\convrow: the pixel row converters, their dispatch tables and the
 * result-type table.
 *
 * Every converter does a whole row per call. The loops are plain element-wise code over
 * unaligned loads and stores (memcpy of one element, which compilers turn into a single
 * move) with no branches the compiler cannot turn into selects, so that compilers
 * vectorise them (Clang from -O2; GCC, whose -O2 does little of it, from -O3, which this
 * file is built with). 24-bit rows go four pixels to three words, and through byte
 * shuffles where the processor has them. Copies are block moves. The only per-pixel call
 * is the palette matching of row565to8.
 *
 * Pixels are little-endian in memory (the library's data convention; every target is).
 * Threads: the tables are constant; the look-ups are plain globals that shape conversion
 * fills before it converts.
 */
#include "thistle/convrow.h"

#include "thistle/syshelp.h"

#include <bit>
#include <cstring>

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#include <tmmintrin.h>
#endif

static_assert(std::endian::native == std::endian::little, "pixels are read as little-endian");

uint32_t convclut32[256] = {};
uint16_t convclut16[256] = {};
const uint32_t *convclut = convclut32;

namespace {

inline uint16_t load16(const uint8_t *p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

inline uint32_t load32(const uint8_t *p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

inline void store16(uint8_t *p, uint32_t v) {
    const uint16_t w = uint16_t(v);
    std::memcpy(p, &w, 2);
}

inline void store32(uint8_t *p, uint32_t v) {
    std::memcpy(p, &v, 4);
}

/* Runs body(i) for i = 0 .. count - 1: in blocks of a fixed 16, which the compiler
 * vectorises whole even under its cheapest cost model (-O2), then one by one. */
template <typename Body>
inline void eachpixel(const void *__restrict source, void *__restrict destination, int32_t count,
                      Body body) {
    /* Rows never overlap; saying so spares the vectorised loop its overlap checks. */
    const uint8_t *s = static_cast<const uint8_t *>(source);
    uint8_t *d = static_cast<uint8_t *>(destination);
    int32_t i = 0;
    for (; i + 16 <= count; i += 16) {
        for (int32_t j = 0; j < 16; j++) {
            body(s, d, i + j);
        }
    }
    for (; i < count; i++) {
        body(s, d, i);
    }
}

/* 24-bit rows, four pixels (three 32-bit words) at a time: whole words instead of single
 * bytes. pixel(s, i) gives pixel i with its three destination bytes in bits 0 to 23 (the
 * bits above may be anything); put writes one pixel of an odd tail. */
inline void put24(uint8_t *d, uint32_t c) {
    d[0] = uint8_t(c);
    d[1] = uint8_t(c >> 8);
    d[2] = uint8_t(c >> 16);
}

template <typename Pixel, typename Put>
inline void eachgroup24(const void *__restrict source, void *__restrict destination, int32_t count,
                        Pixel pixel, Put put, int32_t i = 0) {
    const uint8_t *s = static_cast<const uint8_t *>(source);
    uint8_t *d = static_cast<uint8_t *>(destination);
    for (; i + 4 <= count; i += 4) {
        const uint32_t p0 = pixel(s, i) & 0xFFFFFF;
        const uint32_t p1 = pixel(s, i + 1) & 0xFFFFFF;
        const uint32_t p2 = pixel(s, i + 2) & 0xFFFFFF;
        const uint32_t p3 = pixel(s, i + 3);
        store32(d + 3 * i, p0 | p1 << 24);
        store32(d + 3 * i + 4, p1 >> 8 | p2 << 16);
        store32(d + 3 * i + 8, p2 >> 16 | p3 << 8);
    }
    for (; i < count; i++) {
        put(d + 3 * i, pixel(s, i));
    }
}

/* From 24-bit rows to 32-bit ones, four pixels from three words; make(c) turns the three
 * bytes, read as the low 24 bits of c, into the 32-bit pixel. */
template <typename Make>
inline void eachfrom24(const void *__restrict source, void *__restrict destination, int32_t count,
                       Make make, int32_t i = 0) {
    const uint8_t *s = static_cast<const uint8_t *>(source);
    uint8_t *d = static_cast<uint8_t *>(destination);
    for (; i + 4 <= count; i += 4) {
        const uint32_t w0 = load32(s + 3 * i);
        const uint32_t w1 = load32(s + 3 * i + 4);
        const uint32_t w2 = load32(s + 3 * i + 8);
        store32(d + 4 * i, make(w0 & 0xFFFFFF));
        store32(d + 4 * i + 4, make((w0 >> 24 | w1 << 8) & 0xFFFFFF));
        store32(d + 4 * i + 8, make((w1 >> 16 | w2 << 16) & 0xFFFFFF));
        store32(d + 4 * i + 12, make(w2 >> 8));
    }
    for (; i < count; i++) {
        store32(d + 4 * i, make(uint32_t(s[3 * i]) | uint32_t(s[3 * i + 1]) << 8 |
                                uint32_t(s[3 * i + 2]) << 16));
    }
}

/* Byte shuffles of 24-bit rows, four pixels a step, where the processor has them (SSSE3,
 * checked once); each answers how many pixels it did, and the portable loops do the rest.
 * The 16-byte loads and stores stay inside the rows: a step is taken only while two more
 * pixels follow it. */
#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#define CONVROW_SHUFFLE 1

bool hasshuffle() {
    static const bool yes = __builtin_cpu_supports("ssse3");
    return yes;
}

/* 24-bit to 32-bit: order picks each pixel's three bytes (0x80: none), alpha 0xFF. */
__attribute__((target("ssse3"))) int32_t shufflefrom24(const uint8_t *s, uint8_t *d, int32_t count,
                                                       const uint8_t *order) {
    const __m128i mask = _mm_loadu_si128(reinterpret_cast<const __m128i *>(order));
    const __m128i alpha = _mm_set1_epi32(int32_t(0xFF000000u));
    int32_t i = 0;
    for (; i + 6 <= count; i += 4) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + 3 * i));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(d + 4 * i),
                         _mm_or_si128(_mm_shuffle_epi8(v, mask), alpha));
    }
    return i;
}

/* 32-bit to 24-bit; each store's last four bytes are written again by the next step. */
__attribute__((target("ssse3"))) int32_t shuffleto24(const uint8_t *s, uint8_t *d, int32_t count) {
    const __m128i mask = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    int32_t i = 0;
    for (; i + 6 <= count; i += 4) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + 4 * i));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(d + 3 * i), _mm_shuffle_epi8(v, mask));
    }
    return i;
}

// clang-format off
alignas(16) const uint8_t bgrorder[16] = {0, 1, 2, 0x80, 3, 4, 5, 0x80, 6, 7, 8, 0x80, 9, 10, 11, 0x80};
alignas(16) const uint8_t rgborder[16] = {2, 1, 0, 0x80, 5, 4, 3, 0x80, 8, 7, 6, 0x80, 11, 10, 9, 0x80};
// clang-format on
#endif

/* 0xAABBCCDD -> 0xDDCCBBAA, written so that compilers make it one instruction. */
inline uint32_t swapbytes(uint32_t c) {
    return (c & 0xFF) << 24 | (c & 0xFF00) << 8 | (c >> 8 & 0xFF00) | c >> 24;
}

#define SRC const uint8_t *s = static_cast<const uint8_t *>(source)
#define DST uint8_t *d = static_cast<uint8_t *>(destination)

/* The packing rules, one pixel each; the loops below inline them. */
inline uint32_t pack565(uint32_t c) {
    return ((c >> 3) & 0x1F) | ((c >> 5) & 0x7E0) | ((c >> 8) & 0xF800);
}

/* 0 stays 0 (transparent); anything else is flagged by bit 15. */
inline uint32_t pack555(uint32_t c) {
    const uint32_t p = ((c >> 3) & 0x1F) | ((c >> 6) & 0x3E0) | ((c >> 9) & 0x7C00) | 0x8000;
    return c == 0 ? 0 : p;
}

/* Below the alpha threshold a colour is transparent (0); opaque black packs to 1 so that
 * it stays distinct from it. */
inline uint32_t pack565a(uint32_t c) {
    const uint32_t p = pack565(c);
    return c < 0x40000000u ? 0 : (p == 0 ? 1 : p);
}

inline uint32_t pack555a(uint32_t c) {
    return c < 0x40000000u ? 0 : pack555(c);
}

/* 16-bit to 32-bit: a 0 pixel is transparent, any other is opaque, each field at the top
 * of its byte. */
inline uint32_t unpack565(uint32_t v) {
    const uint32_t c = 0xFF000000u | (v & 0xF800) << 8 | (v & 0x7E0) << 5 | (v & 0x1F) << 3;
    return v == 0 ? 0 : c;
}

inline uint32_t unpack555(uint32_t v) {
    const uint32_t c = 0xFF000000u | (v & 0x7C00) << 9 | (v & 0x3E0) << 6 | (v & 0x1F) << 3;
    return v == 0 ? 0 : c;
}

} // namespace

/* ---- 4-bit and 8-bit sources ---------------------------------------------------- */

void row4to4(const void *source, void *destination, int32_t count) {
    if (count > 0) {
        std::memcpy(destination, source, size_t(count + 1) / 2);
    }
}

void row4to8(const void *source, void *destination, int32_t count) {
    SRC;
    DST;
    const int32_t pairs = count / 2;
    eachpixel(source, destination, pairs, [&](const uint8_t *s, uint8_t *d, int32_t i) {
        d[2 * i] = s[i] & 0x0F;
        d[2 * i + 1] = s[i] >> 4;
    });
    if (count > 0 && (count & 1) != 0) {
        d[count - 1] = s[pairs] & 0x0F;
    }
}

void row8to4(const void *source, void *destination, int32_t count) {
    SRC;
    DST;
    const int32_t pairs = count / 2;
    eachpixel(source, destination, pairs, [&](const uint8_t *s, uint8_t *d, int32_t i) {
        d[i] = uint8_t((s[2 * i] & 0x0F) | (s[2 * i + 1] << 4));
    });
    if (count > 0 && (count & 1) != 0) {
        /* An odd last pixel takes the low nibble; the high one belongs to whatever
         * follows in the destination. */
        d[pairs] = uint8_t((d[pairs] & 0xF0) | (s[count - 1] & 0x0F));
    }
}

void row8to8(const void *source, void *destination, int32_t count) {
    if (count > 0) {
        std::memcpy(destination, source, size_t(count));
    }
}

void row4to16(const void *source, void *destination, int32_t count) {
    SRC;
    DST;
    const uint16_t *lut = convclut16;
    const int32_t pairs = count / 2;
    eachpixel(source, destination, pairs, [&](const uint8_t *s, uint8_t *d, int32_t i) {
        store16(d + 4 * i, lut[s[i] & 0x0F]);
        store16(d + 4 * i + 2, lut[s[i] >> 4]);
    });
    if (count > 0 && (count & 1) != 0) {
        store16(d + 2 * (count - 1), lut[s[pairs] & 0x0F]);
    }
}

void row8to16(const void *source, void *destination, int32_t count) {
    const uint16_t *lut = convclut16;
    eachpixel(source, destination, count,
              [&](const uint8_t *s, uint8_t *d, int32_t i) { store16(d + 2 * i, lut[s[i]]); });
}

void row8to24(const void *source, void *destination, int32_t count) {
    const uint32_t *lut = convclut;
    eachgroup24(
        source, destination, count, [&](const uint8_t *s, int32_t i) { return lut[s[i]]; }, put24);
}

void row8to32(const void *source, void *destination, int32_t count) {
    const uint32_t *lut = convclut;
    eachpixel(source, destination, count,
              [&](const uint8_t *s, uint8_t *d, int32_t i) { store32(d + 4 * i, lut[s[i]]); });
}

/* ---- 16-bit sources ---------------------------------------------------------------- */

void row565to8(const void *source, void *destination, int32_t count) {
    SRC;
    DST;
    /* Matching against the palette is the costly part: runs of one colour, common in
     * images, are matched once. */
    uint32_t previous = 0;
    uint8_t matched = 0;
    bool known = false;
    for (int32_t i = 0; i < count; i++) {
        const uint32_t v = load16(s + 2 * i);
        if (!known || v != previous) {
            const uint32_t c = 0xFF000000u | (v & 0xF800) << 8 | (v & 0x7E0) << 5 | (v & 0x1F) << 3;
            matched = uint8_t(colourtopixel(c));
            previous = v;
            known = true;
        }
        d[i] = matched;
    }
}

void row565to555(const void *source, void *destination, int32_t count) {
    eachpixel(source, destination, count, [&](const uint8_t *s, uint8_t *d, int32_t i) {
        const uint32_t v = load16(s + 2 * i);
        store16(d + 2 * i, ((v >> 1) & 0x7FE0) | (v & 0x1F));
    });
}

void row555to565(const void *source, void *destination, int32_t count) {
    eachpixel(source, destination, count, [&](const uint8_t *s, uint8_t *d, int32_t i) {
        const uint32_t v = load16(s + 2 * i);
        store16(d + 2 * i, ((v & 0x7FE0) << 1) | (v & 0x1F));
    });
}

void row555swap(const void *source, void *destination, int32_t count) {
    eachpixel(source, destination, count, [&](const uint8_t *s, uint8_t *d, int32_t i) {
        const uint32_t v = load16(s + 2 * i);
        store16(d + 2 * i, (v & 0x1F) << 10 | (v & 0x3E0) | ((v >> 10) & 0x1F));
    });
}

void row16to16(const void *source, void *destination, int32_t count) {
    if (count > 0) {
        std::memcpy(destination, source, 2 * size_t(count));
    }
}

void row565to24(const void *source, void *destination, int32_t count) {
    eachgroup24(
        source, destination, count,
        [](const uint8_t *s, int32_t i) {
            const uint32_t v = load16(s + 2 * i);
            return (v & 0x1F) << 3 | (v & 0x7E0) << 5 | (v & 0xF800) << 8;
        },
        put24);
}

void row565to8888(const void *source, void *destination, int32_t count) {
    eachpixel(source, destination, count, [&](const uint8_t *s, uint8_t *d, int32_t i) {
        store32(d + 4 * i, unpack565(load16(s + 2 * i)));
    });
}

void row555to8888(const void *source, void *destination, int32_t count) {
    eachpixel(source, destination, count, [&](const uint8_t *s, uint8_t *d, int32_t i) {
        store32(d + 4 * i, unpack555(load16(s + 2 * i)));
    });
}

void row565to4444(const void *source, void *destination, int32_t count) {
    eachpixel(source, destination, count, [&](const uint8_t *s, uint8_t *d, int32_t i) {
        const uint32_t v = load16(s + 2 * i);
        const uint32_t p = 0xF000 | ((v >> 4) & 0xF00) | ((v >> 3) & 0xF0) | ((v >> 1) & 0x0F);
        store16(d + 2 * i, v == 0 ? 0 : p);
    });
}

void row4444to8888(const void *source, void *destination, int32_t count) {
    eachpixel(source, destination, count, [&](const uint8_t *s, uint8_t *d, int32_t i) {
        const uint32_t v = load16(s + 2 * i);
        /* Spread the four nibbles one to a byte, then x17 repeats each in both halves. */
        const uint32_t spread =
            (v & 0x000F) | (v & 0x00F0) << 4 | (v & 0x0F00) << 8 | (v & 0xF000) << 12;
        store32(d + 4 * i, spread * 17);
    });
}

/* ---- 24-bit and 32-bit sources ---------------------------------------------------- */

void row24to24(const void *source, void *destination, int32_t count) {
    if (count > 0) {
        std::memcpy(destination, source, 3 * size_t(count));
    }
}

void row24to32(const void *source, void *destination, int32_t count) {
    int32_t done = 0;
#ifdef CONVROW_SHUFFLE
    if (hasshuffle()) {
        done = shufflefrom24(static_cast<const uint8_t *>(source),
                             static_cast<uint8_t *>(destination), count, bgrorder);
    }
#endif
    eachfrom24(
        source, destination, count, [](uint32_t c) { return 0xFF000000u | c; }, done);
}

void row32to24(const void *source, void *destination, int32_t count) {
    int32_t done = 0;
#ifdef CONVROW_SHUFFLE
    if (hasshuffle()) {
        done = shuffleto24(static_cast<const uint8_t *>(source),
                           static_cast<uint8_t *>(destination), count);
    }
#endif
    eachgroup24(
        source, destination, count, [](const uint8_t *s, int32_t i) { return load32(s + 4 * i); },
        put24, done);
}

void row32to32(const void *source, void *destination, int32_t count) {
    if (count > 0) {
        std::memcpy(destination, source, 4 * size_t(count));
    }
}

void row8888to565a(const void *source, void *destination, int32_t count) {
    eachpixel(source, destination, count, [&](const uint8_t *s, uint8_t *d, int32_t i) {
        store16(d + 2 * i, pack565a(load32(s + 4 * i)));
    });
}

void row8888to565(const void *source, void *destination, int32_t count) {
    eachpixel(source, destination, count, [&](const uint8_t *s, uint8_t *d, int32_t i) {
        store16(d + 2 * i, pack565(load32(s + 4 * i)));
    });
}

void row8888to555a(const void *source, void *destination, int32_t count) {
    eachpixel(source, destination, count, [&](const uint8_t *s, uint8_t *d, int32_t i) {
        store16(d + 2 * i, pack555a(load32(s + 4 * i)));
    });
}

void row8888to555(const void *source, void *destination, int32_t count) {
    eachpixel(source, destination, count, [&](const uint8_t *s, uint8_t *d, int32_t i) {
        store16(d + 2 * i, pack555(load32(s + 4 * i)));
    });
}

void row8888to4444(const void *source, void *destination, int32_t count) {
    eachpixel(source, destination, count, [&](const uint8_t *s, uint8_t *d, int32_t i) {
        const uint32_t c = load32(s + 4 * i);
        store16(d + 2 * i,
                ((c >> 16) & 0xF000) | ((c >> 12) & 0xF00) | ((c >> 8) & 0xF0) | ((c >> 4) & 0x0F));
    });
}

/* ---- colour tables and palette setters ------------------------------------------- */

void row8888toa565(const void *source, void *destination, int32_t count) {
    eachpixel(source, destination, count, [&](const uint8_t *s, uint8_t *d, int32_t i) {
        const uint32_t c = load32(s + 4 * i);
        store32(d + 4 * i, (c & 0xFF000000u) | pack565(c));
    });
}

void rowa565to8888(const void *source, void *destination, int32_t count) {
    eachpixel(source, destination, count, [&](const uint8_t *s, uint8_t *d, int32_t i) {
        const uint32_t e = load32(s + 4 * i);
        store32(d + 4 * i,
                (e & 0xFF000000u) | (e & 0xF800) << 8 | (e & 0x7E0) << 5 | (e & 0x1F) << 3);
    });
}

void rowa555to8888(const void *source, void *destination, int32_t count) {
    eachpixel(source, destination, count, [&](const uint8_t *s, uint8_t *d, int32_t i) {
        const uint32_t e = load32(s + 4 * i);
        store32(d + 4 * i,
                (e & 0xFF000000u) | (e & 0x7C00) << 9 | (e & 0x3E0) << 6 | (e & 0x1F) << 3);
    });
}

void rowlow16(const void *source, void *destination, int32_t count) {
    eachpixel(source, destination, count, [&](const uint8_t *s, uint8_t *d, int32_t i) {
        store16(d + 2 * i, load32(s + 4 * i));
    });
}

void rowrgbto32(const void *source, void *destination, int32_t count) {
    int32_t done = 0;
#ifdef CONVROW_SHUFFLE
    if (hasshuffle()) {
        done = shufflefrom24(static_cast<const uint8_t *>(source),
                             static_cast<uint8_t *>(destination), count, rgborder);
    }
#endif
    /* The bytes read as 0x00BBGGRR: red and blue change places. */
    eachfrom24(
        source, destination, count, [](uint32_t c) { return 0xFF000000u | swapbytes(c << 8); },
        done);
}

/* ---- format indexes and tables ---------------------------------------------------- */

int32_t typeindex(int32_t type) {
    switch (type) {
    case 0x7A:
    case 0x40:
        return 0;
    case 0x7B:
    case 0x41:
        return 1;
    case 0x7E:
        return 2;
    case 0x78:
        return 3;
    case 0x7F:
    case 0x43:
        return 4;
    case 0x7D:
        return 5;
    case 0x6D:
        return 6;
    case 0x42:
        return 7;
    default:
        return -1;
    }
}

int32_t depthindex(int32_t depth) {
    switch (depth) {
    case 8:
        return 1;
    case 15:
        return 2;
    case 16:
        return 3;
    case 24:
        return 4;
    case 32:
        return 5;
    default:
        return 0;
    }
}

/* Rows: source index; columns: destination index 0 (4-bit) .. 7 (blue-first 5:5:5).
 * Where the converter's output is not the destination's format, rowconvresult says what
 * it is and the conversion goes on from there. */
// clang-format off
const rowconverter rowconvalpha[8][8] = {
    /* 4-bit */    {row4to4, row4to8, row4to16, row4to16, row4to8, row4to8, row4to8, row4to16},
    /* 8-bit */    {row8to4, row8to8, row8to16, row8to16, row8to24, row8to32, row8to16, row8to16},
    /* 1:5:5:5 */  {row555to565, row555to565, row16to16, row555to565, row555to565, row555to8888,
                    row555to8888, row555swap},
    /* 5:6:5 */    {row565to8, row565to8, row565to555, row16to16, row565to24, row565to8888,
                    row565to4444, row565to555},
    /* 24-bit */   {row24to32, row24to32, row24to32, row24to32, row24to24, row24to32, row24to32,
                    row24to32},
    /* 32-bit */   {row8888to565a, row8888to565a, row8888to555a, row8888to565a, row32to24,
                    row32to32, row8888to4444, row8888to555a},
    /* 4:4:4:4 */  {row4444to8888, row4444to8888, row4444to8888, row4444to8888, row4444to8888,
                    row4444to8888, row16to16, row4444to8888},
    /* 5:5:5 BGR */{row555swap, row555swap, row555swap, row555swap, row555swap, row555swap,
                    row555swap, row16to16},
};

/* The same without the alpha threshold: only the 32-bit row differs. */
const rowconverter rowconvplain[8][8] = {
    /* 4-bit */    {row4to4, row4to8, row4to16, row4to16, row4to8, row4to8, row4to8, row4to16},
    /* 8-bit */    {row8to4, row8to8, row8to16, row8to16, row8to24, row8to32, row8to16, row8to16},
    /* 1:5:5:5 */  {row555to565, row555to565, row16to16, row555to565, row555to565, row555to8888,
                    row555to8888, row555swap},
    /* 5:6:5 */    {row565to8, row565to8, row565to555, row16to16, row565to24, row565to8888,
                    row565to4444, row565to555},
    /* 24-bit */   {row24to32, row24to32, row24to32, row24to32, row24to24, row24to32, row24to32,
                    row24to32},
    /* 32-bit */   {row8888to565, row8888to565, row8888to555, row8888to565, row32to24,
                    row32to32, row8888to4444, row8888to555},
    /* 4:4:4:4 */  {row4444to8888, row4444to8888, row4444to8888, row4444to8888, row4444to8888,
                    row4444to8888, row16to16, row4444to8888},
    /* 5:5:5 BGR */{row555swap, row555swap, row555swap, row555swap, row555swap, row555swap,
                    row555swap, row16to16},
};

const uint8_t rowconvresult[8][8] = {
    /* 4-bit */     {0x7A, 0x7B, 0x7E, 0x78, 0x7B, 0x7B, 0x7B, 0x7E},
    /* 8-bit */     {0x7A, 0x7B, 0x7E, 0x78, 0x7F, 0x7D, 0x6D, 0x7E},
    /* 1:5:5:5 */   {0x78, 0x78, 0x7E, 0x78, 0x78, 0x7D, 0x7D, 0x42},
    /* 5:6:5 */     {0x7B, 0x7B, 0x7E, 0x78, 0x7F, 0x7D, 0x6D, 0x7E},
    /* 24-bit */    {0x7D, 0x7D, 0x7D, 0x7D, 0x7F, 0x7D, 0x7D, 0x7D},
    /* 32-bit */    {0x78, 0x78, 0x7E, 0x78, 0x7F, 0x7D, 0x6D, 0x7E},
    /* 4:4:4:4 */   {0x7D, 0x7D, 0x7D, 0x7D, 0x7D, 0x7D, 0x6D, 0x7D},
    /* 5:5:5 BGR */ {0x7E, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E, 0x42},
};
// clang-format on
