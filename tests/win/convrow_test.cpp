/*
 * convrow_test.cpp - the pixel row converters on edge values, whole rows against single
 * pixels (the vectorised blocks and the tails must agree and stay inside the row), the
 * format indexes, and the dispatch and result-type tables read as conversion paths.
 */
#include "thistle/convrow.h"
#include "thistle/palette.h"
#include "thistle/startup.h"
#include "thistle/syshelp.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

/* One pixel of a 16- or 32-bit format through a converter; the result read back as a
 * number of outbytes bytes. */
uint32_t one(rowconverter convert, uint32_t pixel, int inbytes, int outbytes) {
    uint8_t in[4] = {};
    uint8_t out[4] = {};
    std::memcpy(in, &pixel, size_t(inbytes));
    convert(in, out, 1);
    uint32_t result = 0;
    std::memcpy(&result, out, size_t(outbytes));
    return result;
}

struct pixelcases {
    rowconverter convert;
    int inbytes, outbytes;
    std::vector<std::pair<uint32_t, uint32_t>> pixels; /* in, out */
};

/* 565to555 and 555swap clear bit 15 and drop green's low bit; 555to565 puts a 0 below
 * green; 565to4444 keeps a dim pixel opaque; 555to8888 makes the flag opaque black;
 * 8888to565a/555a keep alpha 0x40 and up. The converters behind the colour-table readers
 * and the tool's exact round trips (a565, a555, low16, 24/32, 4444, 5:6:5 to 32) are
 * checked on their edge values by the shape suites. */
TEST(ConvRowPixel, EdgeValuesOfEveryFieldConverter) {
    // clang-format off
    static const pixelcases cases[] = {
        {row565to555, 2, 2, {{0xFFFF, 0x7FFF}, {0x0020, 0x0000}, {0xF81F, 0x7C1F}}},
        {row555to565, 2, 2, {{0xFFFF, 0xFFDF}, {0x0020, 0x0040}, {0x8000, 0x0000}}},
        {row555swap, 2, 2, {{0x7C00, 0x001F}, {0x001F, 0x7C00}, {0x83E0, 0x03E0}}},
        {row565to24, 2, 3, {{0xFFFF, 0xF8FCF8}, {0x001F, 0x0000F8}, {0x07E0, 0x00FC00},
            {0xF800, 0xF80000}}},
        {row555to8888, 2, 4, {{0x7FFF, 0xFFF8F8F8}, {0x8000, 0xFF000000}, {0x0000, 0x00000000},
            {0x03E0, 0xFF00F800}}},
        {row565to4444, 2, 2, {{0x0000, 0x0000}, {0xFFFF, 0xFFFF}, {0x0001, 0xF000},
            {0x8410, 0xF888}}},
        {row8888to565a, 4, 2, {{0x40000000, 0x0001}, {0x3FFFFFFF, 0x0000}, {0xFFFF0000, 0xF800},
            {0xFF070307, 0x0001}, {0x40000008, 0x0001}, {0xFFFFFFFF, 0xFFFF}}},
        {row8888to555a, 4, 2, {{0x40000000, 0x8000}, {0x3FFFFFFF, 0x0000}, {0xFFFFFFFF, 0xFFFF}}},
        {row8888to555, 4, 2, {{0x00000000, 0x0000}, {0xFF000000, 0x8000}, {0x00000001, 0x8000},
            {0x00F80800, 0xFC20}}},
        {row8888to4444, 4, 2, {{0x12345678, 0x1357}, {0xFFFFFFFF, 0xFFFF}, {0x0F0F0F0F, 0x0000}}},
    };
    // clang-format on
    for (const pixelcases &c : cases) {
        for (const auto &[in, out] : c.pixels) {
            EXPECT_EQ(one(c.convert, in, c.inbytes, c.outbytes), out)
                << std::hex << in << " in case " << &c - cases;
        }
    }
}

/* The look-ups into 32 and 16 bits are checked through the shape conversions; 8to24,
 * which the shape suites do not reach, writes blue first from convclut, which a table may
 * redirect. */
TEST(ConvRowPixel, EightTo24ReadsTheRedirectedLookUpBlueFirst) {
    uint32_t own[256] = {};
    own[255] = 0xAB010203u;
    convclut = own;
    const uint8_t index = 255;
    uint8_t rgb[3];
    row8to24(&index, rgb, 1);
    convclut = convclut32;
    EXPECT_EQ(std::vector<uint8_t>(rgb, rgb + 3), (std::vector<uint8_t>{3, 2, 1}));
}

/* With the default palette on an 8-bit display, every 5:6:5 pixel becomes the nearest
 * usable entry; runs of one colour must not carry a match across a change of colour. */
TEST(ConvRowPixel, Row565to8MatchesThePalette) {
    display.depth = 8;
    setdefaultpalette();
    const uint16_t pixels[] = {0xFFFF, 0xFFFF, 0x0000, 0xF800, 0xF800, 0x07E0, 0xFFFF, 0x001F};
    uint8_t out[8];
    row565to8(pixels, out, 8);
    for (int i = 0; i < 8; i++) {
        const uint32_t v = pixels[i];
        const uint32_t c = (v & 0xF800) << 8 | (v & 0x7E0) << 5 | (v & 0x1F) << 3;
        EXPECT_EQ(out[i], closestcolour(systempalette, c)) << i;
    }
    EXPECT_EQ(out[0], 15); /* FCFCFC; FFFFFF at 255 is not usable */
    EXPECT_EQ(out[2], 0);

    /* A new row starts without a remembered match, even for 0. */
    systempalette[0] = 0xFFFFFFFF;
    systempalette[7] = 0xFF000000;
    row565to8(pixels + 2, out, 1);
    EXPECT_EQ(out[0], 7);
}

struct rowcase {
    const char *name;
    rowconverter convert;
    int inbytes, outbytes;
};

// clang-format off
const rowcase wholerows[] = {
    {"8to8", row8to8, 1, 1},             {"8to16", row8to16, 1, 2},
    {"8to24", row8to24, 1, 3},           {"8to32", row8to32, 1, 4},
    {"565to555", row565to555, 2, 2},     {"555to565", row555to565, 2, 2},
    {"555swap", row555swap, 2, 2},       {"16to16", row16to16, 2, 2},
    {"565to24", row565to24, 2, 3},       {"565to8888", row565to8888, 2, 4},
    {"555to8888", row555to8888, 2, 4},   {"565to4444", row565to4444, 2, 2},
    {"4444to8888", row4444to8888, 2, 4}, {"24to24", row24to24, 3, 3},
    {"24to32", row24to32, 3, 4},         {"32to24", row32to24, 4, 3},
    {"32to32", row32to32, 4, 4},         {"8888to565a", row8888to565a, 4, 2},
    {"8888to565", row8888to565, 4, 2},   {"8888to555a", row8888to555a, 4, 2},
    {"8888to555", row8888to555, 4, 2},   {"8888to4444", row8888to4444, 4, 2},
    {"8888toa565", row8888toa565, 4, 4}, {"a565to8888", rowa565to8888, 4, 4},
    {"a555to8888", rowa555to8888, 4, 4}, {"low16", rowlow16, 4, 2},
    {"rgbto32", rowrgbto32, 3, 4},
};
// clang-format on

/* Every length from 0 to past two vector blocks, at unaligned addresses: the row equals
 * its pixels converted one at a time, and nothing after the row is written. */
TEST(ConvRowWhole, RowsEqualTheirPixelsAndStayInside) {
    std::mt19937 random(16);
    for (int i = 0; i < 256; i++) {
        convclut32[i] = random();
        convclut16[i] = uint16_t(random());
    }
    constexpr int most = 75;
    std::vector<uint8_t> source(4 * most + 1);
    for (uint8_t &b : source) {
        b = uint8_t(random());
    }
    /* Edge values among the random ones: zero pixels and alpha at the threshold. */
    std::memset(&source[1 + 4 * 3], 0, 4);
    const uint32_t threshold = 0x40000000;
    std::memcpy(&source[1 + 4 * 20], &threshold, 4);

    for (const rowcase &c : wholerows) {
        for (int count = 0; count <= most; count++) {
            std::vector<uint8_t> whole(size_t(c.outbytes) * most + 8, 0xEE);
            std::vector<uint8_t> single(whole.size(), 0xEE);
            c.convert(&source[1], &whole[1], count);
            for (int i = 0; i < count; i++) {
                c.convert(&source[1 + size_t(c.inbytes) * i], &single[1 + size_t(c.outbytes) * i],
                          1);
            }
            ASSERT_EQ(whole, single) << c.name << " count " << count;
        }
    }
}

TEST(ConvRowWhole, FourBitRowsEqualTheirPixels) {
    std::mt19937 random(4);
    for (int i = 0; i < 256; i++) {
        convclut16[i] = uint16_t(random());
    }
    std::vector<uint8_t> packed(40);
    for (uint8_t &b : packed) {
        b = uint8_t(random());
    }
    for (int count = 0; count <= 75; count++) {
        std::vector<uint8_t> bytes(80, 0xEE);
        std::vector<uint16_t> words(80, 0xEEEE);
        row4to8(packed.data(), bytes.data(), count);
        row4to16(packed.data(), words.data(), count);
        for (int i = 0; i < 80; i++) {
            const int nibble = i < count ? (packed[size_t(i / 2)] >> (4 * (i & 1))) & 0xF : -1;
            ASSERT_EQ(bytes[size_t(i)], nibble < 0 ? 0xEE : nibble) << count << " " << i;
            ASSERT_EQ(words[size_t(i)], nibble < 0 ? 0xEEEE : convclut16[nibble])
                << count << " " << i;
        }
        std::vector<uint8_t> repacked(41, 0x5A);
        row8to4(bytes.data(), repacked.data(), count);
        for (int i = 0; i < 41; i++) {
            uint8_t expected = 0x5A;
            if (2 * i + 1 < count) {
                expected = packed[size_t(i)];
            } else if (2 * i < count) {
                expected = uint8_t(0x50 | (packed[size_t(i)] & 0xF));
            }
            ASSERT_EQ(repacked[size_t(i)], expected) << count << " " << i;
        }
    }
}

/* The type indexes are read by every conversion of the shape suites and the tool (the
 * second codes too) and by the dispatch check below; the depth indexes only here. */
TEST(ConvRowTables, DepthIndexes) {
    const std::map<int, int> depths = {{8, 1}, {15, 2}, {16, 3}, {24, 4}, {32, 5}};
    for (int depth = -1; depth <= 64; depth++) {
        const auto known = depths.find(depth);
        EXPECT_EQ(depthindex(depth), known == depths.end() ? 0 : known->second) << depth;
    }
}

/* What a converter reads and what it writes, as format indexes; -1: any 16-bit format
 * (the look-up converters write convclut16's format, the copy keeps its source's). */
struct formatpair {
    std::vector<int> from;
    int to;
};

const std::map<rowconverter, formatpair> &converterformats() {
    // clang-format off
    static const std::map<rowconverter, formatpair> formats = {
        {row4to4, {{0}, 0}},          {row4to8, {{0}, 1}},          {row4to16, {{0}, -1}},
        {row8to4, {{1}, 0}},          {row8to8, {{1}, 1}},          {row8to16, {{1}, -1}},
        {row8to24, {{1}, 4}},         {row8to32, {{1}, 5}},         {row565to8, {{3}, 1}},
        {row555swap, {{2, 7}, -1}},   {row565to555, {{3}, 2}},      {row555to565, {{2}, 3}},
        {row16to16, {{2, 3, 6, 7}, -1}}, {row565to24, {{3}, 4}},    {row565to8888, {{3}, 5}},
        {row555to8888, {{2}, 5}},     {row565to4444, {{3}, 6}},     {row4444to8888, {{6}, 5}},
        {row24to24, {{4}, 4}},        {row24to32, {{4}, 5}},        {row32to24, {{5}, 4}},
        {row32to32, {{5}, 5}},        {row8888to565a, {{5}, 3}},    {row8888to565, {{5}, 3}},
        {row8888to555a, {{5}, 2}},    {row8888to555, {{5}, 2}},     {row8888to4444, {{5}, 6}},
    };
    // clang-format on
    return formats;
}

/* Each cell's converter reads the row's format and writes the format the result table
 * names for that cell: a wrong cell in either table shows here. */
TEST(ConvRowTables, DispatchAgreesWithResults) {
    const auto &formats = converterformats();
    for (int s = 0; s < 8; s++) {
        for (int t = 0; t < 8; t++) {
            const int result = typeindex(rowconvresult[s][t]);
            ASSERT_GE(result, 0) << s << " " << t;
            for (const rowconverter convert : {rowconvalpha[s][t], rowconvplain[s][t]}) {
                const auto known = formats.find(convert);
                ASSERT_NE(known, formats.end()) << s << " " << t;
                const formatpair &f = known->second;
                EXPECT_NE(std::find(f.from.begin(), f.from.end(), s), f.from.end())
                    << s << " " << t;
                if (convert == row555swap) {
                    EXPECT_EQ(result, s == 2 ? 7 : 2) << s << " " << t;
                } else if (convert == row16to16) {
                    EXPECT_EQ(result, s) << s << " " << t;
                } else if (f.to < 0) {
                    EXPECT_TRUE(result == 2 || result == 3 || result == 6 || result == 7)
                        << s << " " << t;
                } else {
                    EXPECT_EQ(result, f.to) << s << " " << t;
                }
            }
            /* The two tables differ only where 32-bit colours are packed to 16 bits. */
            const rowconverter alpha = rowconvalpha[s][t], plain = rowconvplain[s][t];
            if (alpha == row8888to565a) {
                EXPECT_EQ(plain, row8888to565) << t;
            } else if (alpha == row8888to555a) {
                EXPECT_EQ(plain, row8888to555) << t;
            } else {
                EXPECT_EQ(plain, alpha) << s << " " << t;
            }
        }
    }
    EXPECT_EQ(rowconvalpha[5][0], row8888to565a);
    EXPECT_EQ(rowconvplain[5][7], row8888to555);
}

/* Follows the result table from a source type towards a target type; the types passed
 * through, the source first. Stops on arrival or after 10 steps. */
std::vector<int> path(int source, int target) {
    std::vector<int> types = {source};
    while (types.back() != target && types.size() <= 10) {
        types.push_back(rowconvresult[typeindex(types.back())][typeindex(target)]);
    }
    return types;
}

TEST(ConvRowTables, ConversionPaths) {
    const int canonical[8] = {0x7A, 0x7B, 0x7E, 0x78, 0x7F, 0x7D, 0x6D, 0x42};
    for (int source : {0x7A, 0x40, 0x7B, 0x41, 0x7E, 0x78, 0x7F, 0x43, 0x7D, 0x6D, 0x42}) {
        for (int target : canonical) {
            const std::vector<int> p = path(source, target);
            EXPECT_EQ(p.back(), target) << std::hex << source << " to " << target;
            EXPECT_LE(p.size(), 5u) << std::hex << source << " to " << target;
        }
    }
    using v = std::vector<int>;
    EXPECT_EQ(path(0x40, 0x7F), (v{0x40, 0x7B, 0x7F})); /* 4-bit through 8-bit */
    EXPECT_EQ(path(0x7E, 0x7B), (v{0x7E, 0x78, 0x7B})); /* 1:5:5:5 through 5:6:5 */
    EXPECT_EQ(path(0x7E, 0x7F), (v{0x7E, 0x78, 0x7F}));
    EXPECT_EQ(path(0x43, 0x42), (v{0x43, 0x7D, 0x7E, 0x42})); /* 24-bit through 32-bit */
    EXPECT_EQ(path(0x7D, 0x7A), (v{0x7D, 0x78, 0x7B, 0x7A})); /* 32-bit to 4-bit via 5:6:5 */
    EXPECT_EQ(path(0x42, 0x7A), (v{0x42, 0x7E, 0x78, 0x7B, 0x7A}));

    /* The second type codes of a format are never produced: a path to one never arrives,
     * unless it starts there. */
    for (int target : {0x40, 0x41, 0x43}) {
        for (int source : canonical) {
            EXPECT_NE(path(source, target).back(), target) << std::hex << source << " " << target;
        }
        EXPECT_EQ(path(target, target).size(), 1u);
    }
}

} // namespace
