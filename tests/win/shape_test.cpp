// shape_test - shapes, colour tables and shape conversion: row sizes and bits of every
// type, the chain walk, every table type through the three readers, the table
// converters' rounding, conversion paths of one, two and ten steps with their blocks,
// the look-ups (table, system palette through the remap, alpha threshold), packed
// sources from every encoder, and the reports.
#include "thistle/convshp.h"
#include "thistle/diag.h"
#include "thistle/memstd.h"
#include "thistle/pack.h"
#include "thistle/palette.h"
#include "thistle/shpbytes.h"
#include "thistle/shpclut.h"
#include "thistle/syshelp.h"
#include "thistle/unpack.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace {

using bytes = std::vector<uint8_t>;

std::vector<std::string> reports;
std::string reportsite;
int32_t capture(const char *text) {
    reports.push_back(text);
    reportsite = errorsite.file != nullptr ? errorsite.file : "";
    return 0; // cancel: the case goes on
}

// A shape: header (fields 8..14 set to recognisable values with flag bits on top) and
// pixel bytes.
bytes makeshape(uint8_t type, int32_t width, int32_t height, const bytes &pixels = {}) {
    bytes s(16, 0);
    s[0] = type;
    setshapefield16(s.data(), 4, width);
    setshapefield16(s.data(), 6, height);
    setshapefield16(s.data(), 8, 0x1234);
    setshapefield16(s.data(), 10, 0xABCD);
    setshapefield16(s.data(), 12, 0xF321);
    setshapefield16(s.data(), 14, 0x9456);
    s.insert(s.end(), pixels.begin(), pixels.end());
    return s;
}

// Appends a colour table of `count` entries to the shape and chains the shape to it.
void addtable(bytes &s, uint8_t type, int32_t count, const bytes &entries) {
    setshapechain(s.data(), int32_t(s.size()));
    bytes t = makeshape(type, count, 1, entries);
    s.insert(s.end(), t.begin(), t.end());
}

// Values as little-endian bytes.
template <typename T>
bytes le(std::initializer_list<T> values) {
    bytes b;
    for (T v : values) {
        for (size_t i = 0; i < sizeof(T); i++) {
            b.push_back(uint8_t(v >> (8 * i)));
        }
    }
    return b;
}
bytes (*const le16)(std::initializer_list<uint16_t>) = le<uint16_t>;
bytes (*const le32)(std::initializer_list<uint32_t>) = le<uint32_t>;

template <typename T>
T pixel(const void *shape, int32_t index) {
    T v;
    memcpy(&v, shapepixels(shape) + index * int32_t(sizeof(T)), sizeof(T));
    return v;
}

std::string blockname(const void *block) {
    const char *name = memblockname(block);
    return name != nullptr ? name : "";
}

class Shape : public ::testing::Test {
  protected:
    void SetUp() override {
        initmemclasses();
        region.assign(8 << 20, 0);
        ASSERT_GT(creatememclass(0, "shape", region.data(), int32_t(region.size()), 16, 16, 0, 0, 0,
                                 1, 0, 0),
                  0);
        defaultmemclass = 0;
        freebefore = largestmemblock(0);
        reports.clear();
        fatalfilterhook = capture;
        reporterrors = 1;
        for (int i = 0; i < 256; i++) {
            systempalette[i] = 0xFF000000u | uint32_t(i) << 16 | uint32_t(255 - i);
        }
    }
    void TearDown() override {
        EXPECT_EQ(largestmemblock(0), freebefore) << "a conversion kept a block";
        fatalfilterhook = nullptr;
        removememclass(0);
    }
    std::vector<uint8_t> region;
    int32_t freebefore = 0;
};

TEST_F(Shape, BitsAndRowBytesOfEveryType) {
    struct {
        uint8_t type;
        int32_t width, bits, rowbytes;
    } cases[] = {
        // The other image types: thistleshape reads them back at odd widths through these.
        {0x79, 9, 1, 2},  {0x44, 17, 1, 4}, {0x22, 2, 24, 6}, {0x24, 2, 24, 6}, {0x29, 2, 16, 4},
        {0x2A, 2, 32, 8}, {0x2C, 2, 32, 8}, {0x2E, 2, 32, 8}, {0x2D, 2, 15, 4},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.type);
        bytes s = makeshape(c.type, c.width, 1);
        EXPECT_EQ(shapebits(s.data()), c.bits);
        EXPECT_EQ(shaperowbytes(s.data()), c.rowbytes);
    }
    for (uint8_t type : {0x23, 0x00, 0x7C, 0x45, 0x21}) {
        EXPECT_EQ(shapebits(&type), 0) << int(type);
    }
    // Only the low 7 bits count: packed shapes answer their bits.
    for (uint8_t type : {0xFB, 0xFD, 0xA4}) {
        const uint8_t plain = type & 0x7F;
        EXPECT_EQ(shapebits(&type), shapebits(&plain)) << int(type);
    }
    EXPECT_TRUE(reports.empty());
    bytes packed = makeshape(0xFA, 5, 1);
    EXPECT_EQ(shaperowbytes(packed.data()), 0);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], "shaperowbytes - PACKED SHAPES NOT SUPPORTED. PACKTYPE fa\n");
    EXPECT_EQ(reportsite, "cmn\\shpbytes");
}

TEST_F(Shape, ChainWalk) {
    bytes alone = makeshape(0x7B, 2, 1, {1, 2});
    EXPECT_EQ(getshapeclut(alone.data()), nullptr);

    bytes s = makeshape(0x7B, 2, 1, {1, 2});
    addtable(s, 0x24, 1, {1, 2, 3});
    EXPECT_EQ(getshapeclut(s.data()), s.data() + 18);
    EXPECT_EQ(getshapeclut(s.data() + 18), s.data() + 18); // a table is its own table

    // Through an image block to the table; and a chain running backwards.
    bytes two = makeshape(0x7B, 1, 1, {0});
    bytes mid = makeshape(0x78, 1, 1, {0, 0});
    two.insert(two.end(), mid.begin(), mid.end());
    addtable(two, 0x2A, 1, le32({0}));
    setshapechain(two.data(), 17);
    setshapechain(two.data() + 17, 18);
    EXPECT_EQ(getshapeclut(two.data()), two.data() + 35);
    bytes back = makeshape(0x29, 1, 1, le16({0}));
    bytes after = makeshape(0x7B, 1, 1, {0});
    back.insert(back.end(), after.begin(), after.end());
    setshapechain(back.data() + 18, -18);
    EXPECT_EQ(getshapeclut(back.data() + 18), back.data());

    // A 0x23 table is not a shape (type 0 is in InvalidTypesAreReportedAndLeaveNothing).
    EXPECT_TRUE(reports.empty());
    bytes bad = makeshape(0x23, 1, 1, {0, 0});
    EXPECT_EQ(getshapeclut(bad.data()), nullptr);
    EXPECT_EQ(reports, std::vector<std::string>{"getshapeclut - INVALID SHAPE TYPE ($23)\n"});
    EXPECT_EQ(reportsite, "win\\shpclut");
}

// A table of each type read by the three readers: the special entries of each form (0,
// 255, alpha, the threshold boundaries, 6-bit rounding), and which reader answers in place.
TEST_F(Shape, EveryTableTypeThroughTheThreeReaders) {
    bytes e22(256 * 3, 0), e23(512, 0);
    const bytes first22 = {63, 32, 0, 1, 62, 31};
    std::copy(first22.begin(), first22.end(), e22.begin());
    e22[255 * 3] = 63;
    e23[0] = 0x1F;           // red in bits 0..4
    e23[200 * 2 + 1] = 0x7C; // blue in bits 10..14
    e23[255 * 2] = 0xE0;     // green 7
    struct expect {
        int32_t index;
        uint32_t c32;
        uint16_t c16;
        uint32_t c16a;
    };
    struct {
        uint8_t type;
        int32_t count;
        bytes entries;
        std::vector<expect> entry;
    } cases[] = {
        // clang-format off
        {0x22, 256, e22, {{0, 0xFFFF8200, 0xFC00, 0xFF00FC00}, {1, 0xFF04FB7D, 0x07CF, 0xFF0007CF},
                          {255, 0x00FF0000, 0, 0x0000F800}}},
        {0x24, 2, {0x12, 0x34, 0x56, 0, 0, 0},
         {{0, 0xFF123456, 0x11AA, 0xFF0011AA}, {1, 0xFF000000, 1, 0xFF000000}, {255, 0, 0, 0}}},
        {0x29, 3, le16({0xF800, 0, 0x07E0}),
         {{0, 0xFFF80000, 0xF800, 0xFF00F800}, {1, 0, 0, 0}, {2, 0xFF00FC00, 0x07E0, 0xFF0007E0}}},
        {0x2A, 4, le32({0x3FFFFFFF, 0x40000000, 0xFF000000, 0x80FF0000}),
         {{0, 0x3FFFFFFF, 0, 0x3F00FFFF}, {1, 0x40000000, 1, 0x40000000},
          {2, 0xFF000000, 1, 0xFF000000}, {3, 0x80FF0000, 0xF800, 0x8000F800}}},
        {0x2C, 2, {0x00, 0xF8, 0x55, 0x80, 0x00, 0x00, 0x00, 0x7F},
         {{0, 0x80F80000, 0xF800, 0x8055F800}, {1, 0x7F000000, 0, 0x7F000000}}},
        {0x2D, 3, le16({0x7C00, 0, 0x7FFF}),
         {{0, 0xFFF80000, 0xF800, 0xFF00F800}, {1, 0, 0, 0}, {2, 0xFFF8F8F8, 0xFFDF, 0xFF00FFDF}}},
        {0x2E, 2, {0xE0, 0x03, 0, 0x40, 0x1F, 0x00, 0, 0xFF},
         {{0, 0x4000F800, 0x07C0, 0x400007C0}, {1, 0xFF0000F8, 0x001F, 0xFF00001F}}},
        // 0x23: red and blue exchanged, all 256 entries whatever the count says.
        {0x23, 1, e23, {{0, 0xFFF80000, 0xF800, 0xFF00F800}, {200, 0xFF0000F8, 0x001F, 0xFF00001F},
                        {255, 0xFF003800, 0x01C0, 0xFF0001C0}}},
        // clang-format on
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.type);
        bytes s = makeshape(0x7B, 4, 1, {0, 0, 0, 0}); // the entries 4-byte aligned
        addtable(s, c.type, c.count, c.entries);
        const uint8_t *entries = s.data() + 36;
        uint32_t b32[256], b16a[256];
        uint16_t b16[256];
        const uint32_t *c32 = getclutptr(s.data(), b32);
        const uint16_t *c16 = getclut16ptr(s.data(), b16);
        const uint32_t *c16a = getclut16aptr(s.data(), b16a);
        EXPECT_EQ(static_cast<const void *>(c32), c.type == 0x2A ? entries : (void *)b32);
        EXPECT_EQ(static_cast<const void *>(c16), c.type == 0x29 ? entries : (void *)b16);
        EXPECT_EQ(static_cast<const void *>(c16a), c.type == 0x2C ? entries : (void *)b16a);
        for (const expect &e : c.entry) {
            EXPECT_EQ(c32[e.index], e.c32) << e.index;
            EXPECT_EQ(c16[e.index], e.c16) << e.index;
            EXPECT_EQ(c16a[e.index], e.c16a) << e.index;
        }
    }
    // A short table read no further than its entries: the end-of-readable-memory cases.
    EXPECT_TRUE(reports.empty());
}

// Without a table the readers give the system palette; a packed table is reported.
TEST_F(Shape, ReadersWithoutATableOrWithAPackedOne) {
    systempalette[0] = 0x3FFFFFFF;
    systempalette[1] = 0xFF000000;
    systempalette[2] = 0x80F80400;
    bytes s = makeshape(0x7B, 1, 1, {0});
    uint32_t b32[256], b16a[256];
    uint16_t b16[256];
    EXPECT_EQ(getclutptr(s.data(), b32), systempalette);
    const uint16_t *c16 = getclut16ptr(s.data(), b16);
    EXPECT_EQ(std::vector<uint16_t>(c16, c16 + 3), (std::vector<uint16_t>{0, 1, 0xF820}));
    const uint32_t *c16a = getclut16aptr(s.data(), b16a);
    EXPECT_EQ(std::vector<uint32_t>(c16a, c16a + 3),
              (std::vector<uint32_t>{0x3F00FFFF, 0xFF000000, 0x8000F820}));

    addtable(s, 0xA4, 1, {1, 2, 3});
    getclutptr(s.data(), b32);
    getclut16ptr(s.data(), b16);
    getclut16aptr(s.data(), b32);
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[0], "getclutptr - UNSUPPORTED CLUT TYPE 0xa4\n");
    EXPECT_EQ(reports[1], "getclut16ptr - UNSUPPORTED CLUT TYPE 0xa4\n");
    EXPECT_EQ(reports[2], "getclut16aptr - UNSUPPORTED CLUT TYPE 0xa4\n");
}

TEST_F(Shape, TableConvertersRoundAndOrderChannels) {
    bytes six = {0, 1, 2, 31, 32, 63};
    bytes eight(6);
    clut6to8(2, six.data(), eight.data());
    EXPECT_EQ(eight, (bytes{0, 4, 8, 125, 130, 255}));
    // The rounding boundary of 8 to 6 bits: 2 rounds down to 0, 3 up to 1.
    bytes down(6);
    clut8to6(2, bytes{2, 3, 130, 252, 253, 255}.data(), down.data());
    EXPECT_EQ(down, (bytes{0, 1, 32, 62, 63, 63}));

    const uint32_t colours[2] = {0x80FF8000u, 0x00010203u};
    bytes to8(6), to6(6);
    clut32to8(2, colours, to8.data());
    EXPECT_EQ(to8, (bytes{0xFF, 0x80, 0x00, 0x01, 0x02, 0x03}));
    clut32to6(2, colours, to6.data());
    EXPECT_EQ(to6, (bytes{63, 32, 0, 0, 0, 1}));
}

// Converts and checks the block: its name, the header fields and the sentinel behind it.
void *convertchecked(const uint8_t *s, int32_t target, const char *name, uint8_t type,
                     int32_t systempaletteflag = 0, int32_t alpha = 1) {
    void *r = convertshape(s, target, systempaletteflag, alpha);
    EXPECT_NE(r, nullptr);
    if (r == nullptr) {
        return nullptr;
    }
    EXPECT_EQ(blockname(r), name);
    EXPECT_EQ(shapetype(r), type);
    EXPECT_EQ(shapechain(r), 0);
    EXPECT_EQ(shapewidth(r), shapewidth(s));
    EXPECT_EQ(shapeheight(r), shapeheight(s));
    EXPECT_EQ(shapefield16(r, 8), 0x1234);
    EXPECT_EQ(shapefield16(r, 10) & 0xFFFF, 0xABCD);
    EXPECT_EQ(shapefield16(r, 12), 0x0321); // flags not copied
    EXPECT_EQ(shapefield16(r, 14), 0x0456);
    const int32_t rows = shaperowbytes(r) * shapeheight(r);
    EXPECT_EQ(memblocksize(r), rows + 20);
    EXPECT_EQ(memcmp(shapepixels(r) + rows, "CSHP", 4), 0);
    return r;
}

bytes withtable(bytes s, uint8_t type, int32_t count, const bytes &entries) {
    addtable(s, type, count, entries);
    return s;
}

// Paths of one, two and ten steps: the last step's block name, the result type and the
// first pixels. 0x40 is answered with 0x7A, which is never 0x40: all ten steps run.
// (4 -> 8 -> 32 with a table: thistleshape's 4-bit shapes, read through the library.)
TEST_F(Shape, ConversionPaths) {
    const bytes eight = withtable(makeshape(0x7B, 3, 2, {0, 1, 2, 2, 1, 0}), 0x24, 3,
                                  {0xFF, 0, 0, 0, 0, 0, 0x10, 0x20, 0x30});
    const bytes four32 = withtable(makeshape(0x7A, 3, 1, {0x10, 0x02}), 0x2A, 3,
                                   le32({0x3F123456, 0xFF00FF00, 0x40FFFFFF}));
    const bytes direct = makeshape(0x7D, 3, 1, le32({0x3FFFFFFF, 0xFF000000, 0x40000000}));
    struct {
        const bytes &shape;
        int32_t target, alpha;
        const char *name;
        uint8_t type;
        bytes pixels;
    } cases[] = {
        {eight, 0x78, 1, "8to16", 0x78, le16({0xF800, 1, 0x1106, 0x1106, 1, 0xF800})},
        {eight, 0x7E, 0, "8to15", 0x7E, le16({0xFC00, 0x8000})},
        {four32, 0x6D, 1, "8to16", 0x6D, le16({0, 0xF0F0, 0x4FFF})}, // 4 -> 8 -> 4444
        {four32, 0x6D, 0, "8to16", 0x6D, le16({0x3135})},
        {makeshape(0x7F, 2, 1, {0, 0, 0xFF, 0x10, 0x20, 0x30}), 0x78, 1, "32to16", 0x78,
         le16({0xF800, 0x3102})},
        {makeshape(0x42, 2, 1, le16({0x001F, 0x7C00})), 0x78, 1, "15to16", 0x78,
         le16({0xF800, 0x001F})},
        {makeshape(0x6D, 1, 1, le16({0xF18F})), 0x7F, 1, "32to24", 0x7F, {0xFF, 0x88, 0x11}},
        // clang-format off
        {makeshape(0x7B, 5, 2, {1, 2, 3, 4, 5, 0xF6, 7, 8, 9, 0xFA}), 0x40, 1, "4to4", 0x7A,
         {0x21, 0x43, 0x05, 0x76, 0x98, 0x0A}},
        // clang-format on
        {direct, 0x78, 1, "32to16", 0x78, le16({0, 1, 1})},
        {direct, 0x78, 0, "32to16", 0x78, le16({0xFFFF, 0})},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(std::string(c.name) + " to " + std::to_string(c.target));
        void *r = convertchecked(c.shape.data(), c.target, c.name, c.type, 0, c.alpha);
        EXPECT_EQ(bytes(shapepixels(r), shapepixels(r) + c.pixels.size()), c.pixels);
        purgememadr(r);
    }
    // convertshapetype and convertshapedepth keep the threshold on.
    void *r = convertshapetype(direct.data(), 0x78);
    EXPECT_EQ(pixel<uint16_t>(r, 0), 0);
    purgememadr(r);
    r = convertshapedepth(direct.data(), 15);
    EXPECT_EQ(shapetype(r), 0x7E);
    EXPECT_EQ(pixel<uint16_t>(r, 0), 0);
    purgememadr(r);
}

TEST_F(Shape, TheSystemPaletteThroughTheRemapOnTheFirstStepOnly) {
    bytes s = makeshape(0x7B, 2, 1, {0, 3});
    addtable(s, 0x24, 4, bytes(12, 0x55));
    void *r = convertchecked(s.data(), 0x7D, "8to32", 0x7D, 1); // the remap starts as identity
    EXPECT_EQ(pixel<uint32_t>(r, 1), systempalette[3]);
    purgememadr(r);
    uint8_t remap[256];
    for (int i = 0; i < 256; i++) {
        remap[i] = uint8_t(255 - i);
    }
    setshaperemap(remap);
    r = convertchecked(s.data(), 0x7D, "8to32", 0x7D, 1);
    EXPECT_EQ(pixel<uint32_t>(r, 0), systempalette[255]);
    EXPECT_EQ(pixel<uint32_t>(r, 1), systempalette[252]);
    purgememadr(r);
    // 4-bit: the first 16 entries through the remap into the 16-bit look-up.
    bytes four = makeshape(0x7A, 2, 1, {0xF0});
    r = convertchecked(four.data(), 0x78, "4to16", 0x78, 1);
    EXPECT_EQ(pixel<uint16_t>(r, 0), rgbto565(systempalette[255]));
    EXPECT_EQ(pixel<uint16_t>(r, 1), rgbto565(systempalette[240]));
    purgememadr(r);
    // 4 -> 8 -> 32: the flag has passed with the first step; the second reads the table.
    addtable(four, 0x24, 16, bytes(48, 0x11));
    r = convertchecked(four.data(), 0x7D, "8to32", 0x7D, 1);
    EXPECT_EQ(pixel<uint32_t>(r, 0), 0xFF111111u);
    purgememadr(r);
}

TEST_F(Shape, OneStepConverterForTheCallersOwnLoop) {
    bytes s = makeshape(0x7B, 1, 1, {0});
    addtable(s, 0x2A, 2, le32({0xFF00FF00, 0x20FFFFFF}));
    EXPECT_EQ(getshapeconverter(s.data(), 0x78, 1), &row8to16);
    EXPECT_EQ(convclut16[0], 0x07E0);
    EXPECT_EQ(convclut16[1], 0);
    EXPECT_EQ(getshapeconverter(s.data(), 0x7E, 0), &row8to16);
    EXPECT_EQ(convclut16[1], 0xFFFF);
    EXPECT_EQ(getshapeconverter(s.data(), 0x7D, 1), &row8to32);
    EXPECT_EQ(convclut[1], 0x20FFFFFFu);
    bytes d = makeshape(0x7D, 1, 1, le32({0}));
    EXPECT_EQ(getshapeconverter(d.data(), 0x78, 1), &row8888to565a);
    EXPECT_EQ(getshapeconverter(d.data(), 0x78, 0), &row8888to565);
    // Steps that do not arrive in one go give null.
    bytes t = makeshape(0x7F, 1, 1, {0, 0, 0});
    EXPECT_EQ(getshapeconverter(t.data(), 0x78, 1), nullptr);
    bytes four = makeshape(0x7A, 1, 1, {0});
    EXPECT_EQ(getshapeconverter(four.data(), 0x7D, 1), nullptr);
    EXPECT_TRUE(reports.empty());
}

TEST_F(Shape, InvalidTypesAreReportedAndLeaveNothing) {
    bytes onebit = makeshape(0x79, 8, 1, {0xFF});
    bytes eight = makeshape(0x7B, 1, 1, {0});
    bytes table = makeshape(0x24, 1, 1, {0, 0, 0});
    bytes none = makeshape(0x00, 1, 1, {0});
    EXPECT_EQ(convertshape(onebit.data(), 0x7B, 0, 1), nullptr);
    EXPECT_EQ(convertshapetype(table.data(), 0x7B), nullptr);
    EXPECT_EQ(convertshapetype(eight.data(), 0x24), nullptr);
    EXPECT_EQ(convertshapedepth(eight.data(), 12), nullptr);
    EXPECT_EQ(convertshapedepth(eight.data(), 1), nullptr);
    EXPECT_EQ(getshapeconverter(eight.data(), 0x44, 1), nullptr);
    EXPECT_EQ(convertshapetype(none.data(), 0x7B), nullptr);
    const std::vector<std::string> expect = {
        "convertshapedepth - INVALID SOURCE SHAPE TYPE ($79)\n",
        "convertshapedepth - INVALID SOURCE SHAPE TYPE ($24)\n",
        "convertshapedepth - INVALID DESTINATION SHAPE TYPE SPECIFIED ($24)\n",
        "convertshapedepth - INVALID DESTINATION SHAPE TYPE SPECIFIED ($00)\n",
        "convertshapedepth - INVALID DESTINATION SHAPE TYPE SPECIFIED ($79)\n",
        "convertshapedepth - INVALID DESTINATION SHAPE TYPE SPECIFIED ($44)\n",
        "getshapeclut - INVALID SHAPE TYPE ($00)\n",
    };
    EXPECT_EQ(reports, expect);
}

#if !defined(_WIN32)
// An 8-bit 24 x 9 image with runs and noise, packed by each encoder with a 0x24 table
// chained right behind the stream; converting it must equal converting the plain shape.
bytes testpixels() {
    bytes p(24 * 9);
    for (size_t i = 0; i < p.size(); i++) {
        p[i] = uint8_t(i < 60 ? 7 : (i * 37 + i / 5) % 5);
    }
    return p;
}

const bytes table8 = {0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255, 9, 9, 9, 1, 2, 3, 4, 5, 6, 7, 8, 9};

bytes packedshape(int32_t encoder, const bytes &pixels, bool withtable) {
    bytes stream(packbound(PACK_HUFFCODE, pixels.size()) + 4096);
    const uint8_t *in = pixels.data();
    const size_t size = pixels.size();
    const int32_t n = encoder == 0   ? lzpack(in, size, stream.data(), stream.size(), 6, 0)
                      : encoder == 1 ? huffpack(in, size, stream.data(), stream.size(), 1, 0)
                      : encoder == 2 ? rlepack(in, size, stream.data(), stream.size())
                      : encoder == 3 ? pairpack(in, size, stream.data(), stream.size(), 1)
                                     : lzpack(in, size, stream.data(), stream.size(), 1, 1);
    EXPECT_GT(n, 0);
    stream.resize(size_t(std::max(n, 0)));
    bytes s = makeshape(0xFB, 24, 9, stream);
    if (withtable) {
        addtable(s, 0x24, 8, table8);
    }
    return s;
}

// A copy of s that ends exactly where a page that may not be read begins: reading one
// byte too far ends the case with a fault.
struct guarded {
    explicit guarded(const bytes &s) {
        page = size_t(sysconf(_SC_PAGESIZE));
        map = mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        EXPECT_NE(map, MAP_FAILED);
        uint8_t *guard = static_cast<uint8_t *>(map) + page;
        EXPECT_EQ(mprotect(guard, page, PROT_NONE), 0);
        EXPECT_LT(s.size(), page);
        shape = guard - s.size();
        memcpy(shape, s.data(), s.size());
    }
    ~guarded() {
        munmap(map, 2 * page);
    }
    size_t page;
    void *map;
    uint8_t *shape;
};

// The packed copy takes the stream and its table without reading past the source (the
// table last, or with no table the stream last); the result equals the plain shape's, and
// the source is not touched.
TEST_F(Shape, APackedShapeAtTheEndOfReadableMemory) {
    const bytes pixels = testpixels();
    for (bool withtable : {true, false}) {
        bytes plain = makeshape(0x7B, 24, 9, pixels);
        if (withtable) {
            addtable(plain, 0x24, 8, table8);
        }
        void *want = convertshapetype(plain.data(), 0x7D);
        EXPECT_EQ(pixel<uint32_t>(want, 0), withtable ? 0xFF070809u : systempalette[7]);
        for (int32_t encoder = 0; encoder < 5; encoder++) {
            SCOPED_TRACE(std::to_string(encoder) + (withtable ? " table" : " stream"));
            const bytes s = packedshape(encoder, pixels, withtable);
            guarded g(s);
            void *got = convertchecked(g.shape, 0x7D, "8to32", 0x7D);
            ASSERT_NE(got, nullptr);
            EXPECT_EQ(memcmp(shapepixels(got), shapepixels(want), 24 * 9 * 4), 0);
            EXPECT_EQ(memcmp(g.shape, s.data(), s.size()), 0);
            purgememadr(got);
        }
        purgememadr(want);
    }
}

// A 32-bit table shorter than the 256-entry look-up, last in memory: the look-ups take
// only its entries; indices it does not cover give transparent 0.
TEST_F(Shape, AShortTableAtTheEndOfReadableMemory) {
    bytes s = makeshape(0x7B, 3, 1, {1, 0, 5});
    addtable(s, 0x2A, 2, le32({0xFF0000FF, 0xFFFF0000}));
    guarded g(s);
    void *r = convertshapetype(g.shape, 0x78);
    EXPECT_EQ(pixel<uint16_t>(r, 0), 0xF800);
    EXPECT_EQ(pixel<uint16_t>(r, 1), 0x001F);
    EXPECT_EQ(pixel<uint16_t>(r, 2), 0);
    purgememadr(r);
    r = convertshapetype(g.shape, 0x7D);
    EXPECT_EQ(pixel<uint32_t>(r, 0), 0xFFFF0000u);
    EXPECT_EQ(pixel<uint32_t>(r, 2), 0u);
    purgememadr(r);
    EXPECT_EQ(getshapeconverter(g.shape, 0x6D, 1), &row8to16);
    EXPECT_EQ(convclut16[1], 0xFF00);
}
#endif

} // namespace
