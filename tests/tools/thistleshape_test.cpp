// thistleshape_test - the shape tool as a user runs it: PNG to every image type and back,
// colour tables of every type, packed shapes read back by the tool and by the library's
// unpackshape, the listing of a known file, damaged files refused with nothing written,
// the contact sheet's grid, and bad command lines.
#include "thistle/convshp.h"
#include "thistle/memstd.h"
#include "thistle/unpack.h"

#include <gtest/gtest.h>

#include "toolrun.h"
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

/* A picture: width, height and colours 0xAARRGGBB. */
struct picture {
    int32_t width = 0, height = 0;
    std::vector<uint32_t> pixels;
};

void writepng(const fs::path &p, const picture &pic) {
    std::vector<uint8_t> rgba;
    for (uint32_t c : pic.pixels) {
        rgba.insert(rgba.end(), {static_cast<uint8_t>(c >> 16), static_cast<uint8_t>(c >> 8),
                                 static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 24)});
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(pic.width);
    image.height = static_cast<png_uint_32>(pic.height);
    image.format = PNG_FORMAT_RGBA;
    ASSERT_TRUE(png_image_write_to_file(&image, p.c_str(), 0, rgba.data(), 0, nullptr));
}

picture readpng(const fs::path &p) {
    picture pic;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, p.c_str())) {
        ADD_FAILURE() << "not a PNG: " << p;
        return pic;
    }
    image.format = PNG_FORMAT_RGBA;
    std::vector<uint8_t> rgba(PNG_IMAGE_SIZE(image));
    EXPECT_TRUE(png_image_finish_read(&image, nullptr, rgba.data(), 0, nullptr));
    pic.width = static_cast<int32_t>(image.width);
    pic.height = static_cast<int32_t>(image.height);
    for (size_t i = 0; i + 3 < rgba.size(); i += 4) {
        pic.pixels.push_back(static_cast<uint32_t>(rgba[i + 3]) << 24 |
                             static_cast<uint32_t>(rgba[i]) << 16 | rgba[i + 1] << 8 | rgba[i + 2]);
    }
    return pic;
}

/* Deterministic colours masked to what a depth keeps; every `holes`-th pixel (if any)
 * fully transparent. */
picture makepicture(int32_t width, int32_t height, uint32_t mask, int32_t holes = 0) {
    picture pic{width, height, {}};
    uint32_t s = 2463534242u;
    for (int32_t i = 0; i < width * height; i++) {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        uint32_t c = s & mask;
        c |= (mask >> 24) == 0xFF ? 0 : 0xFF000000u;   // opaque unless alpha is kept
        c |= (c & 0x00F80000u) == 0 ? 0x00800000u : 0; // never black: 0 reads as transparent
        pic.pixels.push_back(holes != 0 && i % holes == 3 ? 0 : c);
    }
    return pic;
}

/* A picture of `count` flat colours in bands, with transparent pixels when holes. */
picture bands(int32_t width, int32_t height, const std::vector<uint32_t> &colours,
              bool holes = false) {
    picture pic{width, height, {}};
    for (int32_t y = 0; y < height; y++) {
        for (int32_t x = 0; x < width; x++) {
            pic.pixels.push_back(holes && x % 5 == 2 ? 0 : colours[(x / 3 + y) % colours.size()]);
        }
    }
    return pic;
}

/* Header bytes: type, chain, width, height, the four fields. */
std::string header(uint8_t type, int32_t chain, int16_t width, int16_t height,
                   const uint16_t (&fields)[4] = {0, 0, 0, 0}) {
    std::string h(16, '\0');
    const uint32_t word = type | static_cast<uint32_t>(chain) << 8;
    std::memcpy(h.data(), &word, 4);
    std::memcpy(h.data() + 4, &width, 2);
    std::memcpy(h.data() + 6, &height, 2);
    std::memcpy(h.data() + 8, fields, 8);
    return h;
}

int32_t channelerror(uint32_t a, uint32_t b) {
    int32_t most = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        most = std::max(most, std::abs(static_cast<int32_t>(a >> shift & 0xFF) -
                                       static_cast<int32_t>(b >> shift & 0xFF)));
    }
    return most;
}

/* Every pixel of back within tolerance of pic; transparent ones must stay so (alpha 0)
 * and opaque ones opaque. */
void expectclose(const picture &pic, const picture &back, int32_t tolerance) {
    ASSERT_EQ(back.width, pic.width);
    ASSERT_EQ(back.height, pic.height);
    int32_t worst = 0;
    size_t at = 0;
    for (size_t i = 0; i < pic.pixels.size(); i++) {
        const uint32_t a = pic.pixels[i], b = back.pixels[i];
        const int32_t e = a >> 24 == 0 ? (b >> 24 == 0 ? 0 : 255) : channelerror(a, b);
        if (e > worst) {
            worst = e;
            at = i;
        }
    }
    EXPECT_LE(worst, tolerance) << "pixel " << at << ": " << std::hex << pic.pixels[at]
                                << " came back " << back.pixels[at];
}

class Thistleshape : public ToolTest {
  protected:
    Thistleshape() : ToolTest(THISTLESHAPE_PATH) {}

    // Memory class 0, the default class, for the library's conversions and unpackshape's
    // copies.
    void SetUp() override {
        ToolTest::SetUp();
        initmemclasses();
        region.assign(size_t{8} << 20, 0);
        ASSERT_GT(creatememclass(0, "test", region.data(), int32_t(region.size()), 16, 16, 0, 0, 0,
                                 1, 0, 0),
                  0);
    }
    void TearDown() override {
        removememclass(0);
        ToolTest::TearDown();
    }

    // PNG -> shape with the options -> PNG; the picture that came back.
    picture roundtrip(const picture &pic, const std::vector<std::string> &options) {
        // No file of the last round may stand in for one that was not made.
        fs::remove(dir / "in.shp");
        fs::remove(dir / "back.png");
        writepng(dir / "in.png", pic);
        std::vector<std::string> args = options;
        args.insert(args.end(), {"-f", "-o", file("in.shp"), file("in.png")});
        const outcome made = run(args);
        EXPECT_EQ(made.code, 0) << made.err;
        const outcome back = run({"-d", "-f", "-o", file("back.png"), file("in.shp")});
        EXPECT_EQ(back.code, 0) << back.err;
        picture pic2 = readpng(dir / "back.png");
        const uint8_t type = static_cast<uint8_t>(readbytes(file("in.shp"))[0] & 0x7F);
        if (type != 0x79 && type != 0x44) { // 1-bit shapes are not convertible
            EXPECT_EQ(libraryview(dir / "in.shp").pixels, pic2.pixels);
        }
        return pic2;
    }

    // The first shape of a file as the library shows it: unpacked by unpackshape when
    // packed, and converted to 32 bits by convertshapetype.
    picture libraryview(const fs::path &p) {
        const std::string bytes = readbytes(p);
        auto *shape =
            static_cast<uint8_t *>(reservememadr("shape", static_cast<int32_t>(bytes.size()), 0));
        std::memcpy(shape, bytes.data(), bytes.size());
        auto *plain = static_cast<uint8_t *>(unpackshape(shape));
        auto *wide = static_cast<uint8_t *>(convertshapetype(plain, 0x7D));
        picture pic;
        int16_t side[2];
        std::memcpy(side, wide + 4, 4);
        pic.width = side[0];
        pic.height = side[1];
        pic.pixels.resize(static_cast<size_t>(pic.width) * static_cast<size_t>(pic.height));
        std::memcpy(pic.pixels.data(), wide + 16, pic.pixels.size() * 4);
        purgememadr(wide);
        if (plain != shape) {
            purgememadr(plain);
        }
        purgememadr(shape);
        return pic;
    }

    std::vector<uint8_t> region;
};

void expectfailure(const outcome &o, int code, const std::string &contains) {
    EXPECT_EQ(o.code, code) << o.err;
    EXPECT_EQ(o.err.rfind("thistleshape: ", 0), 0u) << o.err;
    EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << o.err;
    EXPECT_NE(o.err.find(contains), std::string::npos) << o.err;
}

// Odd widths catch row padding (whole bytes, 16-bit words) and the odd last nibble.
TEST_F(Thistleshape, DirectTypesKeepEveryColourTheirDepthHolds) {
    struct row {
        const char *type;
        uint32_t mask;
        int32_t holes; // transparent pixels: 0 stays 0 in 16-bit formats
    };
    const row rows[] = {
        {"24", 0x00FFFFFF, 0},   {"24w", 0x00FFFFFF, 0},  {"0x43", 0x00FFFFFF, 0},
        {"8888", 0xFFFFFFFF, 0}, {"32", 0xFFFFFFFF, 7},   {"565", 0x00F8FCF8, 5},
        {"0x78", 0x00F8FCF8, 0}, {"1555", 0x00F8F8F8, 5}, {"555b", 0x00F8F8F8, 5},
        {"4444", 0xFFFFFFFF, 0},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.type);
        picture pic = makepicture(37, 13, r.mask, r.holes);
        if (std::string(r.type) == "4444") {
            for (uint32_t &c : pic.pixels) {
                c = (c & 0xF0F0F0F0u) | (c & 0xF0F0F0F0u) >> 4; // nibbles times 17
            }
        }
        const picture back = roundtrip(pic, {"-T", r.type});
        EXPECT_EQ(back.pixels, pic.pixels);
    }
}

TEST_F(Thistleshape, IndexedTypesQuantiseEveryTableTypeAndKeepTransparency) {
    const std::vector<uint32_t> twelve = {0xFFE02010u, 0xFF20E010u, 0xFF1020E0u, 0xFFF0F0F0u,
                                          0xFF808080u, 0xFF402000u, 0xFFE0E000u, 0xFF00E0E0u,
                                          0xFFE000E0u, 0xFF604080u, 0xFF80C040u, 0xFF101040u};
    const picture pic = bands(37, 13, twelve, true);
    for (const char *type : {"8", "8w", "4", "4w"}) {
        SCOPED_TRACE(type);
        expectclose(pic, roundtrip(pic, {"-T", type}), 2);
        EXPECT_NE(run({"-l", file("in.shp")}).out.find("0x2a argb"), std::string::npos);
    }
    const picture two = bands(37, 5, {0xFF102030u, 0xFFF0E0D0u});
    for (const char *type : {"1", "1w"}) {
        SCOPED_TRACE(type);
        expectclose(two, roundtrip(two, {"-T", type, "-C", "rgb"}), 2);
    }
    // Every table type at 8 bits: the colours within the table's precision, transparent
    // pixels transparent (entry 255 of a 3-byte table, the value 0 of a 16-bit one).
    for (const char *clut : {"rgb6", "bgr555", "rgb", "565", "argb", "a565", "1555", "a1555"}) {
        SCOPED_TRACE(clut);
        expectclose(pic, roundtrip(pic, {"-C", clut}), 8);
    }
    // The library's alpha threshold: alpha 0x40 is opaque (black as 5:6:5 1), below it
    // transparent.
    const picture edge = roundtrip(bands(3, 2, {0x40000000u, 0x3FFFFFFFu}), {"-C", "565"});
    EXPECT_EQ(edge.pixels[0], 0xFF000008u);
    EXPECT_EQ(edge.pixels[3], 0u);
    // A 3-byte table at 4 bits has no transparent entry: those pixels become opaque.
    const picture flat = roundtrip(pic, {"-T", "4", "-C", "rgb"});
    EXPECT_TRUE(std::all_of(flat.pixels.begin(), flat.pixels.end(),
                            [](uint32_t c) { return c >> 24 == 0xFF; }));
}

TEST_F(Thistleshape, AGivenPaletteGivesItsOwnIndexes) {
    // A palette PNG of five colours, and a picture of exactly those colours.
    // Sixteen entries, as many as 4 bits hold; the picture uses the first five. Entry 5
    // repeats entry 0: the first of equal entries is the one taken.
    uint8_t map[16 * 3] = {0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255, 200, 100, 50, 0, 0, 0};
    for (int i = 6; i < 16; i++) {
        map[3 * i] = map[3 * i + 1] = map[3 * i + 2] = static_cast<uint8_t>(i * 16);
    }
    std::vector<uint8_t> indexes(9 * 4);
    for (size_t i = 0; i < indexes.size(); i++) {
        indexes[i] = static_cast<uint8_t>((i * 7) % 5);
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = 9;
    image.height = 4;
    image.format = PNG_FORMAT_RGB_COLORMAP;
    image.colormap_entries = 16;
    ASSERT_TRUE(
        png_image_write_to_file(&image, file("pal.png").c_str(), 0, indexes.data(), 0, map));
    ASSERT_EQ(run({"-P", file("pal.png"), file("pal.png")}).code, 0);
    const std::string shape = readbytes(file("pal.shp"));
    ASSERT_GE(shape.size(), 16u + indexes.size());
    EXPECT_EQ(shape.substr(16, indexes.size()), std::string(indexes.begin(), indexes.end()));
    EXPECT_NE(
        run({"-l", file("pal.shp")}).out.find("0x24 rgb (red, green, blue 0..255), 16 entries"),
        std::string::npos);
    // The table of a shape file serves as a palette too; too many colours for 1 bit fail.
    ASSERT_EQ(
        run({"-P", file("pal.shp"), "-T", "4w", "-o", file("pal4.shp"), file("pal.png")}).code, 0);
    EXPECT_EQ(
        readpng(dir / "pal.png").pixels,
        (run({"-d", "-o", file("pal4.png"), file("pal4.shp")}), readpng(dir / "pal4.png")).pixels);
    // A bare colour table, exactly as long as its entries; cut short, it is refused.
    const std::string bare = header(0x2A, 0, 2, 1) + std::string("\0\0\0\xFF\xFF\xFF\xFF\xFF", 8);
    writebytes(file("bare.tab"), bare);
    writepng(dir / "bw.png", bands(5, 2, {0xFF000000u, 0xFFFFFFFFu}));
    ASSERT_EQ(run({"-P", file("bare.tab"), "-T", "1", "-C", "argb", file("bw.png")}).code, 0);
    const std::string bw = readbytes(file("bw.shp"));
    EXPECT_EQ(bw.substr(16, 2), std::string("\x18\x07", 2)); // pixels 0 0 0 1 1, 1 1 1 0 0
    EXPECT_EQ(bw.substr(bw.size() - 8), bare.substr(16));
    writebytes(file("bare.tab"), bare.substr(0, bare.size() - 1));
    expectfailure(run({"-P", file("bare.tab"), "-T", "1", "-c", file("bw.png")}), 1,
                  "a colour table of 2 entries that the file does not hold");
    expectfailure(run({"-P", file("pal.png"), "-T", "1", "-c", file("pal.png")}), 1,
                  "a palette of 16 colours does not fit 1-bit pixels");
}

TEST_F(Thistleshape, PackedShapesReadBackThroughTheToolAndUnpackshape) {
    // Smooth, so that the lossy colour blocks stay close.
    picture pic{36, 12, {}};
    for (int32_t y = 0; y < 12; y++) {
        for (int32_t x = 0; x < 36; x++) {
            pic.pixels.push_back(0xFF800000u | (x * 3u) << 16 | (y * 20u) << 8 | (x + y) * 4u);
        }
    }
    writepng(dir / "pic.png", pic);
    struct row {
        std::vector<std::string> type, pack;
        const char *listed;
    };
    const row rows[] = {
        {{}, {"-p", "lz", "-1"}, "lz 0x10"},
        {{}, {"-p", "lz", "--long"}, "lz 0x11"},
        {{}, {"-p", "huff"}, "huff 0x30"},
        {{}, {"-p", "huff1", "--long"}, "huff1 0x33"},
        {{}, {"-p", "huff2"}, "huff2 0x34"},
        {{}, {"-p", "rle"}, "rle 0x4a"},
        {{}, {"-p", "pair"}, "pair 0x46"},
        {{"-T", "4"}, {"-p", "pair", "--long"}, "pair 0x47"},
        {{"-T", "565"}, {"-p", "block"}, "block 0x18"},
        {{"-T", "24w"}, {"-p", "lz"}, "lz 0x10"},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.listed);
        const bool block = r.pack[1] == "block";
        std::vector<std::string> plain = r.type, packed = r.type;
        packed.insert(packed.end(), r.pack.begin(), r.pack.end());
        plain.insert(plain.end(), {"-f", "-o", file("plain.shp"), file("pic.png")});
        packed.insert(packed.end(), {"-f", "-o", file("packed.shp"), file("pic.png")});
        ASSERT_EQ(run(plain).code, 0);
        const outcome made = run(packed);
        ASSERT_EQ(made.code, 0) << made.err;
        const std::string listing = run({"-l", file("packed.shp")}).out;
        EXPECT_NE(listing.find(std::string("packing  ") + r.listed), std::string::npos) << listing;

        // The tool shows the packed shape as the unpacked one (block: within its loss).
        ASSERT_EQ(run({"-d", "-f", "-o", file("plain.png"), file("plain.shp")}).code, 0);
        ASSERT_EQ(run({"-d", "-f", "-o", file("packed.png"), file("packed.shp")}).code, 0);
        if (block) {
            expectclose(readpng(dir / "plain.png"), readpng(dir / "packed.png"), 64);
        } else {
            EXPECT_EQ(readbytes(file("plain.png")), readbytes(file("packed.png")));
        }
        // The library shows it alike: unpackshape's copy (of a shape in a block of the
        // class, as a game's) gives the rows, and its chain still reaches the table.
        EXPECT_EQ(libraryview(dir / "packed.shp").pixels, readpng(dir / "packed.png").pixels);
    }
}

// A file made here byte by byte, not by the tool: a 4-bit shape with a 0..63 table, and
// a 32-bit shape behind it. (How the tool reads nibbles and 0..63 tables: the round trips
// of 4-bit and rgb6 shapes, against the library's reading.)
TEST_F(Thistleshape, AKnownFileLists) {
    std::string shape = header(0x7A, 28, 5, 3, {0x1234, 7, 0xF00A, 0x1003});
    shape += std::string("\x21\x00\x00\x00\x00\x00\x00\x00\x00", 9) + std::string(3, '\0');
    std::string table(48, '\0');
    table[3] = 63; // entry 1: red 63
    table[7] = 32; // entry 2: green 32
    shape += header(0x22, 0, 16, 1) + table;
    ASSERT_EQ(shape.size(), 92u);
    shape += header(0x7D, 0, 2, 2) + std::string(16, '\x7F');
    writebytes(file("set.shp"), shape);
    const outcome listed = run({"-l", file("set.shp")});
    EXPECT_EQ(listed.code, 0) << listed.err;
    EXPECT_EQ(listed.out, file("set.shp") +
                              ": 2 shapes\n"
                              "shape at 0\n"
                              "  type     0x7a 4 (4-bit indexed)\n"
                              "  width    5\n"
                              "  height   3\n"
                              "  chain    28\n"
                              "  fields   4660 7 10 3 (flags f 1)\n"
                              "  packing  none, 9 bytes of rows\n"
                              "  colours  0x22 rgb6 (red, green, blue 0..63), "
                              "16 entries at 28\n"
                              "shape at 92\n"
                              "  type     0x7d 8888 (32-bit alpha, red, green, blue)\n"
                              "  width    2\n"
                              "  height   2\n"
                              "  chain    0\n"
                              "  fields   0 0 0 0 (flags 0 0)\n"
                              "  packing  none, 16 bytes of rows\n");
}

TEST_F(Thistleshape, DamagedFilesAreRefusedWithNothingWritten) {
    writepng(dir / "pic.png", makepicture(20, 10, 0x00FFFFFF));
    ASSERT_EQ(run({"-o", file("plain.shp"), file("pic.png")}).code, 0);
    ASSERT_EQ(run({"-T", "565", "-p", "lz", "-o", file("packed.shp"), file("pic.png")}).code, 0);
    const std::string plain = readbytes(file("plain.shp")), packed = readbytes(file("packed.shp"));
    auto patched = [](std::string s, size_t at, const std::string &bytes) {
        s.replace(at, bytes.size(), bytes);
        return s;
    };
    struct row {
        std::string bytes;
        const char *error;
    };
    const row rows[] = {
        {"", "too short for a shape header"},
        {plain.substr(0, 10), "too short for a shape header"},
        {plain.substr(0, 16 + 150), "the shape needs 200 (truncated?)"},
        {plain.substr(0, plain.size() - 20), "the colour table at 216 needs"},
        {patched(plain, 1, "\xF0\xFF\x7F"), "points outside the file"},
        {patched(plain, 0, "\x24"), "type 0x24 at 0 is not an image type"},
        {patched(plain, 4, std::string("\0\0", 2)), "a shape of 0 x 10 pixels"},
        {patched(plain, 6, std::string("\0\0", 2)), "a shape of 20 x 0 pixels"},
        {packed.substr(0, packed.size() / 2), "truncated?"},
        {patched(packed, 16 + 2, std::string("\0\x01\0", 3)),
         "unpacks to 256 bytes, the rows are 400"},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.error);
        writebytes(file("bad.shp"), r.bytes);
        const std::vector<std::string> before = names();
        expectfailure(run({"-d", file("bad.shp")}), 1, r.error);
        expectfailure(run({"-l", file("bad.shp")}), 1, r.error);
        expectfailure(run({"-s", "-o", file("sheet.png"), file("plain.shp"), file("bad.shp")}), 1,
                      r.error);
        EXPECT_EQ(names(), before);
    }
    // A small PNG may claim a huge picture: refused before it is decoded.
    writepng(dir / "one.png", makepicture(1, 1, 0x00FFFFFF));
    std::string bomb = readbytes(file("one.png"));
    const uint8_t side[8] = {0, 0, 0x4E, 0x20, 0, 0, 0x4E, 0x20}; // 20000 x 20000
    bomb.replace(16, 8, reinterpret_cast<const char *>(side), 8);
    const uint32_t crc =
        static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef *>(bomb.data() + 12), 17));
    const char crcbytes[4] = {static_cast<char>(crc >> 24), static_cast<char>(crc >> 16),
                              static_cast<char>(crc >> 8), static_cast<char>(crc)};
    bomb.replace(29, 4, crcbytes, 4);
    writebytes(file("bomb.png"), bomb);
    expectfailure(run({"-T", "8888", file("bomb.png")}), 1,
                  "PNG of 20000x20000 pixels is out of range");
    EXPECT_FALSE(fs::exists(dir / "bomb.shp"));

    // A good file goes on being made beside a bad one; an existing output is kept.
    const outcome two = run({"-d", file("bad.shp"), file("plain.shp")});
    EXPECT_EQ(two.code, 1);
    EXPECT_TRUE(fs::exists(dir / "plain.png"));
    writebytes(file("plain.png"), "mine");
    expectfailure(run({"-d", file("plain.shp")}), 1, "already exists; not overwritten");
    EXPECT_EQ(readbytes(file("plain.png")), "mine");
}

TEST_F(Thistleshape, TheContactSheetHoldsEveryShapeOfEveryFile) {
    writepng(dir / "a.png", bands(10, 6, {0xFF112233u}));
    writepng(dir / "b.png", bands(7, 9, {0xFF445566u}));
    writepng(dir / "c.png", bands(3, 3, {0xFF778899u}));
    ASSERT_EQ(run({"-T", "24", file("a.png")}).code, 0);
    ASSERT_EQ(run({"-T", "565", "-p", "rle", file("b.png")}).code, 0);
    ASSERT_EQ(run({"-T", "4", file("c.png")}).code, 0);
    // A set: shape files joined one after another.
    writebytes(file("set.shp"), readbytes(file("b.shp")) + readbytes(file("c.shp")));
    EXPECT_NE(run({"-l", file("set.shp")}).out.find(": 2 shapes"), std::string::npos);

    ASSERT_EQ(
        run({"-s", "--columns=2", "-o", file("two.png"), file("a.shp"), file("set.shp")}).code, 0);
    const picture two = readpng(dir / "two.png");
    // Cells of the largest shape (10 x 9) with 4 pixels around each.
    EXPECT_EQ(two.width, 2 * (10 + 4) + 4);
    EXPECT_EQ(two.height, 2 * (9 + 4) + 4);
    EXPECT_EQ(two.pixels[4 * two.width + 4], 0xFF112233u);
    EXPECT_EQ(two.pixels[4 * two.width + 4 + 14], 0xFF405460u); // 5:6:5 of b
    EXPECT_EQ(two.pixels[(4 + 13) * two.width + 4] & 0xFFF0F0F0u, 0xFF708090u);

    // Without --columns the grid is square: five shapes in three columns and two rows.
    ASSERT_EQ(run({"-s", "-c", file("a.shp"), file("set.shp"), file("set.shp")}).code, 0);
    writebytes(file("five.png"), readbytes(io / "stdout"));
    const picture five = readpng(dir / "five.png");
    EXPECT_EQ(five.width, 3 * 14 + 4);
    EXPECT_EQ(five.height, 2 * 13 + 4);
}

// Unknown options and modes combined go through the option code shared with thistlepack,
// whose suite checks them with their messages.
TEST_F(Thistleshape, BadCommandLinesExitWithTwo) {
    writepng(dir / "pic.png", makepicture(4, 4, 0x00FFFFFF));
    const std::vector<std::vector<std::string>> lines = {
        {"-T", "0x7c", file("pic.png")},
        {"-C", "0x25", file("pic.png")},
        {"-p", "zip", file("pic.png")},
        {"-p", "block", file("pic.png")},
        {"-T", "565", "-C", "rgb", file("pic.png")},
        {"-9", "-p", "huff", file("pic.png")},
        {"--long", "-p", "rle", file("pic.png")},
        {"-s", file("pic.png")},
        {"--columns=3", file("pic.png")},
        {"-o", file("x.shp"), file("pic.png"), file("pic.png")},
        {},
    };
    for (const auto &line : lines) {
        const outcome o = run(line);
        EXPECT_EQ(o.code, 2) << o.err;
        EXPECT_NE(o.err.find("(thistleshape --help for usage)"), std::string::npos) << o.err;
    }
    EXPECT_EQ(names(), std::vector<std::string>{"pic.png"});
    EXPECT_EQ(run({"--help"}).code, 0);
}

} // namespace
