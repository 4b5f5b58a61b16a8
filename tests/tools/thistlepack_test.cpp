// thistlepack_test - the packing tool as a user runs it: every format through pack and
// unpack, info's report, verify's verdicts and exit codes on good and damaged files, and
// the one-line errors for bad command lines, missing files and oversize input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <sys/wait.h>

#ifdef THISTLEPACK_PNG
#include <png.h>
#endif

namespace {

namespace fs = std::filesystem;

struct outcome {
    int code;
    std::string out;
    std::string err;
};

std::string readbytes(const fs::path &p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writebytes(const fs::path &p, const std::string &data) {
    std::ofstream(p, std::ios::binary) << data;
}

// A file of n zero bytes (sparse where the file system allows).
void sizedfile(const fs::path &p, size_t n) {
    std::ofstream(p).close();
    fs::resize_file(p, n);
}

// Deterministic test data of the kinds the formats are for.
std::string textdata(size_t n) {
    static const char *words[] = {"packed ",  "shape ", "the ", "window ", "of ",
                                  "palette ", "tick ",  "\n",   "memory ", "class "};
    std::string v;
    for (uint32_t s = 12345; v.size() < n;) {
        s = s * 1103515245u + 12345u;
        v += words[(s >> 16) % 10];
    }
    return v.substr(0, n);
}

std::string runsdata(size_t n) {
    std::string v;
    for (uint8_t b = 0; v.size() < n; b = static_cast<uint8_t>(b + 29)) {
        v.append(1 + (b * 7u) % 90, static_cast<char>(b));
    }
    return v.substr(0, n);
}

// A 64x32 5:6:5 image: flat quarters of four colours, one with a gradient.
constexpr int imagewidth = 64;
constexpr int imageheight = 32;
const uint16_t quartercolours[4] = {0xF800, 0x07E0, 0x001F, 0xFFFF};

std::string image565() {
    std::string v;
    for (int y = 0; y < imageheight; y++) {
        for (int x = 0; x < imagewidth; x++) {
            uint16_t c = quartercolours[(y >= 16) * 2 + (x >= 32)];
            if (y >= 16 && x >= 32) {
                c = static_cast<uint16_t>(((x - 32) & 31) << 11 | (y & 15));
            }
            v += {static_cast<char>(c), static_cast<char>(c >> 8)};
        }
    }
    return v;
}

uint16_t pixel(const std::string &img, size_t at) {
    return static_cast<uint16_t>((uint8_t)img[2 * at] | (uint8_t)img[2 * at + 1] << 8);
}

class Thistlepack : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/thistlepack_test.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }

    fs::path file(const std::string &name) const {
        return dir / name;
    }

    outcome run(const std::vector<std::string> &args) const {
        std::string command = "'" THISTLEPACK_PATH "'";
        for (const std::string &a : args) {
            command += " '" + a + "'";
        }
        command += " >'" + file("stdout").string() + "' 2>'" + file("stderr").string() + "'";
        const int status = std::system(command.c_str());
        outcome o;
        o.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        o.out = readbytes(file("stdout"));
        o.err = readbytes(file("stderr"));
        return o;
    }

    // A file packed with the given arguments, checked to have worked.
    fs::path packed(const std::string &name, const std::string &data,
                    std::vector<std::string> options) {
        writebytes(file(name), data);
        options.insert(options.begin(), "pack");
        options.push_back(file(name).string());
        options.push_back(file(name + ".pk").string());
        EXPECT_EQ(run(options).err, "");
        return file(name + ".pk");
    }

    // What unpack makes of a packed file, which it must take without a word.
    std::string unpacked(const fs::path &pk) const {
        const outcome u = run({"unpack", pk.string(), pk.string() + ".out"});
        EXPECT_EQ(u.code, 0) << u.err;
        EXPECT_EQ(u.err, "");
        return readbytes(pk.string() + ".out");
    }

    fs::path dir;
};

// Ends with the code and one line on standard error, naming the program first.
void expectfailure(const outcome &o, int code, const std::string &contains) {
    EXPECT_EQ(o.code, code) << o.err;
    EXPECT_EQ(o.err.rfind("thistlepack: ", 0), 0u) << o.err;
    EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << o.err;
    EXPECT_NE(o.err.find(contains), std::string::npos) << o.err;
}

TEST_F(Thistlepack, EveryLosslessFormatRoundTripsAndInfoNamesIt) {
    struct row {
        std::vector<std::string> options;
        std::string data;
        const char *name;
        const char *code;
    };
    const std::vector<row> rows = {
        {{"-f", "lz", "-l", "1"}, textdata(200000), "lz", "0x10 (short"},
        {{"-f", "lz", "--long"}, textdata(5000), "lz", "0x11 (long"},
        {{"-f", "huff"}, textdata(100000), "huff", "0x30 (short"},
        {{"-f", "huff2"}, runsdata(50000), "huff2", "0x34 (short"},
        {{"-f", "rle"}, runsdata(70000), "rle", "0x4a (short"},
        {{"-f", "pair"}, textdata(40000), "pair", "0x46 (short"},
        {{"-f", "pair", "--long"}, textdata(4000), "pair", "0x47 (long"},
    };
    int n = 0;
    for (const row &r : rows) {
        SCOPED_TRACE(r.name + std::string(" #") + std::to_string(n));
        const std::string base = "in" + std::to_string(n++);
        const fs::path pk = packed(base, r.data, r.options);
        EXPECT_LT(fs::file_size(pk), r.data.size());
        EXPECT_EQ(unpacked(pk), r.data);
        const outcome i = run({"info", pk.string()});
        ASSERT_EQ(i.code, 0) << i.err;
        for (const std::string &line :
             {": " + std::string(r.name) + "\n", std::string(r.code),
              "unpacked   " + std::to_string(r.data.size()) + " bytes",
              "packed     " + std::to_string(fs::file_size(pk)) + " bytes"}) {
            EXPECT_NE(i.out.find(line), std::string::npos) << line << " in " << i.out;
        }
    }
}

TEST_F(Thistlepack, BlockPacksRaw565WithWidthAndKeepsFlatAreas) {
    const std::string img = image565();
    const fs::path pk = packed("img.565", img, {"-f", "block", "--width", "64", "-l", "5"});
    const std::string back = unpacked(pk);
    ASSERT_EQ(back.size(), img.size());
    for (int q = 0; q < 3; q++) {
        const int x = (q & 1) * 32 + 5, y = (q >> 1) * 16 + 9;
        EXPECT_EQ(pixel(back, (size_t)(y * imagewidth + x)), quartercolours[q]) << "quarter " << q;
    }
    const outcome i = run({"info", pk.string()});
    EXPECT_NE(i.out.find("image      64 x 32 pixels"), std::string::npos) << i.out;
}

#ifdef THISTLEPACK_PNG
TEST_F(Thistlepack, BlockTakesPngAndConvertsTo565) {
    std::vector<uint8_t> rgb;
    for (int i = 0; i < 16 * 16; i++) {
        const uint8_t left = i % 16 < 8 ? 255 : 0;
        rgb.insert(rgb.end(), {left, 0, static_cast<uint8_t>(~left)});
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = 16;
    image.height = 16;
    image.format = PNG_FORMAT_RGB;
    ASSERT_TRUE(
        png_image_write_to_file(&image, file("red-blue.png").c_str(), 0, rgb.data(), 0, nullptr));
    ASSERT_EQ(
        run({"pack", "-f", "block", file("red-blue.png").string(), file("rb.pk").string()}).code,
        0);
    const std::string back = unpacked(file("rb.pk"));
    ASSERT_EQ(back.size(), 16u * 16u * 2u);
    EXPECT_EQ(pixel(back, 0), 0xF800);  // red, top left
    EXPECT_EQ(pixel(back, 15), 0x001F); // blue, top right
    // A width that disagrees with the PNG's is an error, not a reinterpretation.
    expectfailure(run({"pack", "-f", "block", "--width", "8", file("red-blue.png").string(),
                       file("rb2.pk").string()}),
                  1, "16 pixels wide");
}
#endif

TEST_F(Thistlepack, VerifyPassesGoodFilesAndNamesEachBadOne) {
    const std::string text = textdata(30000);
    const fs::path good = packed("good", text, {"-f", "lz"});
    const fs::path huff = packed("goodh", text, {"-f", "huff"});
    const std::string stream = readbytes(good);

    // Cut short: the end command is gone.
    writebytes(file("cut.pk"), stream.substr(0, stream.size() - 40));
    // Not a packed stream at all.
    writebytes(file("plain.pk"), text);
    // A header that promises more than the commands give.
    std::string bigger = stream;
    bigger[2]++;
    writebytes(file("bigger.pk"), bigger);
    // Three bytes: not even a header.
    writebytes(file("tiny.pk"), std::string("\x10\xFB\0", 3));

    const outcome ok = run({"verify", good.string(), huff.string()});
    EXPECT_EQ(ok.code, 0) << ok.err;
    EXPECT_NE(ok.out.find(good.string() + ": ok, 30000 bytes"), std::string::npos) << ok.out;
    EXPECT_TRUE(ok.err.empty());

    for (const char *bad : {"cut.pk", "plain.pk", "bigger.pk", "tiny.pk"}) {
        SCOPED_TRACE(bad);
        expectfailure(run({"verify", file(bad).string()}), 1, file(bad).string() + ": ");
        // unpack refuses the same files and leaves no output behind.
        const outcome u = run({"unpack", file(bad).string(), file("bad.out").string()});
        EXPECT_EQ(u.code, 1);
        EXPECT_FALSE(fs::exists(file("bad.out")));
    }
    // One bad file among good ones fails the run but every file is reported.
    const outcome mixed = run({"verify", good.string(), file("cut.pk").string(), huff.string()});
    EXPECT_NE(mixed.out.find(huff.string() + ": ok"), std::string::npos);
    expectfailure(mixed, 1, "cut.pk: ");
}

TEST_F(Thistlepack, BadCommandLinesExitTwoWithOneLine) {
    writebytes(file("in"), textdata(100));
    const std::string in = file("in").string(), out = file("out").string();
    const std::vector<std::pair<std::vector<std::string>, const char *>> rows = {
        {{}, "no command"},
        {{"squash", in}, "unknown command 'squash'"},
        {{"pack", in, out}, "needs -f"},
        {{"pack", "-f", "zip", in, out}, "unknown format 'zip'"},
        {{"pack", "-f", "lz", "-l", "0", in, out}, "not 1 to 9"},
        {{"pack", "-f", "lz", "-l", "10", in, out}, "not 1 to 9"},
        {{"pack", "-f", "lz", "-l"}, "-l needs a value"},
        {{"pack", "-f", "rle", "-l", "3", in, out}, "-l applies"},
        {{"pack", "-f", "rle", "--long", in, out}, "--long applies"},
        {{"pack", "-f", "lz", "--width", "8", in, out}, "--width applies"},
        {{"pack", "-f", "block", in, out}, "needs --width"},
        {{"pack", "-f", "lz", "--fast", in, out}, "unknown option '--fast'"},
        {{"pack", "-f", "lz", in}, "one input and one output"},
        {{"pack", "-f", "lz", in, out, out}, "one input and one output"},
        {{"unpack", in}, "one input and one output"},
        {{"info"}, "needs a file"},
        {{"verify"}, "needs a file"},
    };
    for (const auto &[args, message] : rows) {
        SCOPED_TRACE(message);
        const outcome o = run(args);
        expectfailure(o, 2, message);
        EXPECT_TRUE(o.out.empty());
        EXPECT_FALSE(fs::exists(out));
    }
    const outcome help = run({"--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_EQ(help.out.rfind("usage: thistlepack pack", 0), 0u);
}

TEST_F(Thistlepack, MissingAndUnwritableFilesAreNamed) {
    const std::string missing = file("missing").string();
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{"pack", "-f", "lz", missing, file("o").string()},
          std::vector<std::string>{"unpack", missing, file("o").string()},
          std::vector<std::string>{"info", missing}, std::vector<std::string>{"verify", missing}}) {
        SCOPED_TRACE(args[0]);
        expectfailure(run(args), 1, "thistlepack: " + missing + ": No such file or directory");
    }
    writebytes(file("in"), textdata(100));
    const std::string nowhere = file("no/such/dir/out").string();
    expectfailure(run({"pack", "-f", "lz", file("in").string(), nowhere}), 1, nowhere + ": ");
    expectfailure(run({"pack", "-f", "lz", dir.string(), file("o").string()}), 1, "is a directory");
}

TEST_F(Thistlepack, InputsAreLimitedToTheTwentyFourBitSize) {
    // The largest input the header can describe packs and comes back whole.
    const size_t largest = 0xFFFFFF;
    sizedfile(file("max"), largest);
    ASSERT_EQ(run({"pack", "-f", "rle", file("max").string(), file("max.pk").string()}).code, 0);
    EXPECT_EQ(unpacked(file("max.pk")).size(), largest);

    // One byte more is refused before anything is written.
    sizedfile(file("over"), largest + 1);
    expectfailure(run({"pack", "-f", "lz", file("over").string(), file("over.pk").string()}), 1,
                  "too large");
    EXPECT_FALSE(fs::exists(file("over.pk")));
    // Raw pixels are limited the same way (the limit is on the pixel bytes).
    expectfailure(run({"pack", "-f", "block", "--width", "4", file("over").string(),
                       file("over.pk").string()}),
                  1, "too large");
    EXPECT_FALSE(fs::exists(file("over.pk")));
}

} // namespace
