// thistlepack_test - the packing tool as a user runs it: every format through files and
// pipes under the default names, -t and -l on streams the game would misread, outputs
// that are never clobbered (existing files, the input itself, device nodes, a full disk),
// several inputs with one failing, and the exit codes of bad command lines.
#include <gtest/gtest.h>

#include "toolrun.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#ifdef THISTLEPACK_PNG
#include <png.h>
#endif

namespace {

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

// The words of -l's line for one file (the line after the column heads).
std::vector<std::string> listed(const std::string &out) {
    std::istringstream lines(out);
    std::string line;
    std::getline(std::getline(lines, line), line);
    std::istringstream words(line);
    return {std::istream_iterator<std::string>(words), std::istream_iterator<std::string>()};
}

class Thistlepack : public ToolTest {
  protected:
    Thistlepack() : ToolTest(THISTLEPACK_PATH) {}
};

// Ends with the code and one line on standard error per failing file, naming the
// program first.
void expectfailure(const outcome &o, int code, const std::string &contains, int lines = 1) {
    EXPECT_EQ(o.code, code) << o.err;
    EXPECT_EQ(o.err.rfind("thistlepack: ", 0), 0u) << o.err;
    EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), lines) << o.err;
    EXPECT_NE(o.err.find(contains), std::string::npos) << o.err;
}

TEST_F(Thistlepack, EveryFormatRoundTripsThroughFilesAndPipes) {
    struct row {
        std::vector<std::string> options;
        std::string data;
        const char *list; // what -l shows first: format, code, header form
    };
    const std::vector<row> rows = {
        {{"-1"}, textdata(200000), "lz 0x10 short"},
        {{"--format=lz", "--long", "-9"}, textdata(5000), "lz 0x11 long"},
        {{"-Fhuff"}, textdata(100000), "huff 0x30 short"},
        {{"-F", "huff1", "--long"}, runsdata(30000), "huff1 0x33 long"},
        {{"--format", "huff2"}, runsdata(50000), "huff2 0x34 short"},
        {{"-F", "rle"}, runsdata(70000), "rle 0x4a short"},
        {{"-F", "pair"}, textdata(40000), "pair 0x46 short"},
        {{"-F", "pair", "--long"}, textdata(4000), "pair 0x47 long"},
    };
    int n = 0;
    for (const row &r : rows) {
        SCOPED_TRACE(r.list);
        const std::string in = file("in" + std::to_string(n++));
        writebytes(in, r.data);
        // Files: IN becomes IN.tpk and IN is kept; -d makes IN again from IN.tpk.
        std::vector<std::string> args = r.options;
        args.push_back(in);
        const outcome p = run(args);
        ASSERT_EQ(p.code, 0) << p.err;
        EXPECT_EQ(p.err, "");
        const std::string packed = readbytes(in + ".tpk");
        EXPECT_LT(packed.size(), r.data.size());
        EXPECT_EQ(readbytes(in), r.data);
        fs::remove(in);
        const outcome u = run({"-d", in + ".tpk"});
        ASSERT_EQ(u.code, 0) << u.err;
        EXPECT_EQ(readbytes(in), r.data);

        // Pipes: the same stream from standard input, with or without "-".
        args.back() = "-";
        EXPECT_EQ(run(args, &r.data).out, packed);
        EXPECT_EQ(run({"-d"}, &packed).out, r.data);
        EXPECT_EQ(run({"-t", "-v", "-"}, &packed).out,
                  "(standard input): ok, " + std::to_string(r.data.size()) + " bytes\n");
        // -l: the format and both size fields, the second one only in the long form.
        const std::vector<std::string> shown = listed(run({"-l", in + ".tpk"}).out);
        const std::string size = std::to_string(r.data.size());
        const bool longform = std::string(r.list).find("long") != std::string::npos;
        ASSERT_EQ(shown.size(), 8u);
        EXPECT_EQ(shown[0] + " " + shown[1] + " " + shown[2], r.list);
        EXPECT_EQ(shown[3], size);
        EXPECT_EQ(shown[4], longform ? size : "-");
        EXPECT_EQ(shown[5], std::to_string(packed.size()));
    }
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

TEST_F(Thistlepack, BlockPacksRaw565WithWidthAndPng) {
    const std::string img = image565();
    writebytes(file("img"), img);
    ASSERT_EQ(run({"-F", "block", "--width=64", "-5", "-o", file("img.pk"), file("img")}).code, 0);
    const outcome back = run({"-d", "-c", file("img.pk")});
    ASSERT_EQ(back.out.size(), img.size()) << back.err;
    for (int q = 0; q < 3; q++) {
        const int x = (q & 1) * 32 + 5, y = (q >> 1) * 16 + 9;
        EXPECT_EQ(pixel(back.out, (size_t)(y * imagewidth + x)), quartercolours[q]) << q;
    }
    EXPECT_NE(run({"-l", file("img.pk")}).out.find("(64 x 32 pixels)"), std::string::npos);
    expectfailure(run({"-F", "block", "-c", file("img")}), 1, "needs --width");
#ifdef THISTLEPACK_PNG
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
    ASSERT_TRUE(png_image_write_to_file(&image, file("rb.png").c_str(), 0, rgb.data(), 0, nullptr));
    ASSERT_EQ(run({"-F", "block", file("rb.png")}).code, 0);
    const std::string pixels = run({"-dc", file("rb.png.tpk")}).out;
    ASSERT_EQ(pixels.size(), 16u * 16u * 2u);
    EXPECT_EQ(pixel(pixels, 0), 0xF800);  // red, top left
    EXPECT_EQ(pixel(pixels, 15), 0x001F); // blue, top right
    // A width that disagrees with the PNG's is an error, not a reinterpretation.
    expectfailure(run({"-F", "block", "--width", "8", "-c", file("rb.png")}), 1, "16 pixels wide");
#endif
}

// Streams that the bounded decoders could read but the game would misread (or that
// are damaged) fail -t and -d alike; -d writes nothing for them.
TEST_F(Thistlepack, TestAndUnpackRefuseWhatTheGameWouldMisread) {
    const std::string text = textdata(30000);
    auto pack = [&](const std::vector<std::string> &options) {
        std::vector<std::string> args = options;
        args.push_back("-c");
        return run(args, &text).out;
    };
    const std::string lz = pack({}), lzlong = pack({"--long"}), huff = pack({"-F", "huff"});
    auto changed = [](std::string s, size_t at, int value) {
        s[at] = static_cast<char>(value);
        return s;
    };
    const std::vector<std::pair<std::string, std::string>> bad = {
        // The game unpacks the size at offset 2, the decoder reads the one at offset 5.
        {changed(lzlong, 4, lzlong[4] + 1), "the two size fields disagree: 30001 at offset 2"},
        {changed(lzlong, 7, lzlong[7] - 1),
         "disagree: 30000 at offset 2 (what the game unpacks), 29999 at offset 5"},
        {changed(pack({"-F", "huff", "--long"}), 4, 0x31), "the two size fields disagree"},
        {changed(pack({"-F", "pair", "--long"}), 3, 0), "disagree: 48 at offset 2"},
        // Bytes after the end: junk, and a second stream joined on.
        {lz + std::string(3, '\0'), "3 bytes after the end of the stream at"},
        {lz + huff, std::to_string(huff.size()) + " bytes after the end of the stream at " +
                        std::to_string(lz.size()) + " (another packed stream)"},
        {pack({"-F", "rle"}) + "x", "1 bytes after the end"},
        // A signature or header form the code asks for that the decoder does not use.
        {changed(pack({"-F", "huff1"}), 1, 0x32), "turns off the running sum"},
        {changed(pack({"-F", "pair", "--long"}), 1, 0x32), "code 0x47 asks for the long"},
        {changed(pack({"-F", "rle"}), 0, 0x4B), "long header form that this decoder"},
        // Damaged.
        {lz.substr(0, lz.size() - 40), "truncated"},
        {changed(lz, 2, lz[2] + 1), "malformed"},
        {text, "not a packed stream"},
        {std::string("\x10\xFB\0", 3), "too short"},
    };
    int n = 0;
    for (const auto &[stream, message] : bad) {
        SCOPED_TRACE(message);
        const std::string name = file("bad" + std::to_string(n++) + ".tpk");
        writebytes(name, stream);
        const outcome t = run({"-t", name});
        expectfailure(t, 1, message);
        EXPECT_EQ(t.err.rfind("thistlepack: " + name + ": ", 0), 0u);
        expectfailure(run({"-d", name}), 1, name + ": ");
        EXPECT_FALSE(fs::exists(name.substr(0, name.size() - 4)));
    }
    // A run goes on past a failing file in every mode (one loop, shown for packing below).
    // -l shows the disagreeing fields side by side.
    const std::vector<std::string> shown = listed(run({"-l", file("bad0.tpk")}).out);
    ASSERT_GE(shown.size(), 5u);
    EXPECT_EQ(shown[3] + " " + shown[4], "30001 30000");
}

// An output is only ever replaced with -f, by a complete file; the input, device nodes
// and whatever a failed write would have replaced stay as they were, with no debris.
TEST_F(Thistlepack, OutputsAreNeverClobbered) {
    const std::string text = textdata(20000), old = "keep me";
    const std::string in = file("in"), out = file("in.tpk");
    writebytes(in, text);
    // An existing output kept without -f: the shared output code, shown by thistleshape.
    ASSERT_EQ(run({in}).code, 0);
    chmod(in.c_str(), 0640);
    writebytes(file("x"), old);
    ASSERT_EQ(run({"--force", "-o", file("x"), in}).code, 0);
    EXPECT_EQ(fs::status(file("x")).permissions(), fs::perms(0640)); // the input's
    // The input under its own name, through a link, or as -d's output.
    fs::create_symlink(in, file("link"));
    fs::create_hard_link(in, file("hard"));
    for (const std::string &target : {in, file("link"), file("hard")}) {
        expectfailure(run({"-f", "-o", target, in}), 1, "is the input file");
    }
    expectfailure(run({"-d", "-f", "-o", out, out}), 1, "is the input file");
    EXPECT_EQ(readbytes(in), text);
    // A device node: refused with or without -f, and never removed.
    std::string device = "/dev/full";
    if (mknod(file("full").c_str(), S_IFCHR | 0666, makedev(1, 7)) == 0) {
        device = file("full");
    }
    for (const char *force : {"-k", "-f"}) {
        expectfailure(run({force, "-o", device, in}), 1, "not a regular file");
        EXPECT_TRUE(fs::is_character_file(device));
    }
    // A full file system: the write fails, the old file is whole, no temporary file.
    const std::string small = file("small");
    fs::create_directory(small);
    const std::vector<std::string> before = names();
    if (mount("tmpfs", small.c_str(), "tmpfs", 0, "size=64k") != 0) {
        GTEST_SKIP() << "no tmpfs mount here: the full-disk case is not run";
    }
    std::string random(200000, 0);
    for (uint32_t i = 0, s = 1; i < random.size(); i++) {
        s = s * 1103515245u + 12345u;
        random[i] = static_cast<char>(s >> 23);
    }
    writebytes(file("random"), random);
    writebytes(small + "/old", text.substr(0, 40000));
    const outcome full = run({"-F", "rle", "-f", "-o", small + "/old", file("random")});
    const std::string after = readbytes(small + "/old");
    const size_t left =
        static_cast<size_t>(std::distance(fs::directory_iterator(small), fs::directory_iterator()));
    umount(small.c_str());
    expectfailure(full, 1, "write error: No space left on device");
    EXPECT_EQ(after, text.substr(0, 40000));
    EXPECT_EQ(left, 1u);
    fs::remove(file("random"));
    EXPECT_EQ(names(), before);
}

TEST_F(Thistlepack, DefaultNamesAndSeveralInputsWithOneFailing) {
    const std::string a = file("a"), b = file("b.txt"), missing = file("missing");
    writebytes(a, textdata(3000));
    writebytes(b, runsdata(5000));
    // Every file is tried; the missing one is named and fails the run.
    const outcome p = run({"-v", a, missing, b});
    EXPECT_EQ(p.code, 1);
    EXPECT_EQ(std::count(p.err.begin(), p.err.end(), '\n'), 3) << p.err;
    EXPECT_NE(p.err.find("thistlepack: " + missing + ": No such file or directory\n"),
              std::string::npos);
    EXPECT_NE(p.err.find(a + ": 3000 -> "), std::string::npos) << p.err; // -v: one line a file
    EXPECT_EQ(names(), (std::vector<std::string>{"a", "a.tpk", "b.txt", "b.txt.tpk"}));
    // A name that already ends in .tpk is not packed again; one without it is not
    // unpacked without -o or -c.
    expectfailure(run({a + ".tpk"}), 1, "already has the .tpk suffix");
    expectfailure(run({"-d", a}), 1, "has no .tpk suffix");
    // --rm removes the inputs once their outputs are written; -d makes them again.
    fs::remove(a + ".tpk");
    fs::remove(b + ".tpk");
    ASSERT_EQ(run({"--rm", a, b}).code, 0);
    EXPECT_EQ(names(), (std::vector<std::string>{"a.tpk", "b.txt.tpk"}));
    ASSERT_EQ(run({"-d", "--rm", a + ".tpk", b + ".tpk"}).code, 0);
    EXPECT_EQ(names(), (std::vector<std::string>{"a", "b.txt"}));
    EXPECT_EQ(readbytes(b), runsdata(5000));
    // -c writes every stream to standard output, one after the other, inputs kept.
    const outcome c = run({"-c", a, b});
    EXPECT_EQ(c.out, run({"-c", a}).out + run({"-c", b}).out);
    EXPECT_EQ(names(), (std::vector<std::string>{"a", "b.txt"}));
    // Packed data is not written to a terminal unless forced.
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0) {
        const std::string tty = ptsname(master);
        const std::string text = textdata(100);
        expectfailure(run({}, &text, tty), 1, "not written to a terminal");
        EXPECT_EQ(run({"-f"}, &text, tty).code, 0);
    }
    if (master >= 0) {
        close(master);
    }
}

TEST_F(Thistlepack, BadCommandLinesExitTwoAndWriteNothing) {
    const std::string in = file("in");
    writebytes(in, textdata(100));
    const std::vector<std::pair<std::vector<std::string>, const char *>> rows = {
        {{"-x", in}, "unknown option '-x'"},
        {{"--fast", in}, "unknown option '--fast'"},
        {{"--format=zip", in}, "unknown format 'zip'"},
        {{in, "-F"}, "-F needs a value"},
        {{"--width=0", "-F", "block", in}, "not 1 to 65535"},
        {{"--force=yes", in}, "force takes no value"},
        {{"-F", "rle", "-3", in}, "apply to lz and block only"},
        {{"-F", "rle", "--long", in}, "--long applies"},
        {{"--width", "8", in}, "--width applies"},
        {{"-o", file("o"), in, in}, "-o takes one input"},
        {{"-c", "-o", file("o"), in}, "-o goes with"},
        {{"-t", "-o", file("o"), in}, "-o goes with"},
        {{"-d", "-t", in}, "cannot be combined"},
        {{"-l", "-d", in}, "cannot be combined"},
    };
    for (const auto &[args, message] : rows) {
        SCOPED_TRACE(message);
        const outcome o = run(args);
        expectfailure(o, 2, message);
        EXPECT_TRUE(o.out.empty());
        EXPECT_EQ(names(), std::vector<std::string>{"in"});
    }
    // After --, an option-like name is a file.
    writebytes(file("-9"), textdata(100));
    EXPECT_EQ(run({"--", "-9"}).code, 1); // relative to the working folder: missing
    ASSERT_EQ(run({"-o", file("o"), "--", file("-9")}).code, 0);
    EXPECT_TRUE(fs::exists(file("o")));
}

TEST_F(Thistlepack, InputsAreLimitedToTheTwentyFourBitSize) {
    // The largest input the header can describe packs and comes back whole.
    const size_t largest = 0xFFFFFF;
    sizedfile(file("max"), largest);
    ASSERT_EQ(run({"-F", "rle", file("max")}).code, 0);
    ASSERT_EQ(run({"-t", file("max.tpk")}).code, 0);
    // One byte more is refused before anything is written.
    sizedfile(file("over"), largest + 1);
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{file("over")},
          std::vector<std::string>{"-F", "block", "--width", "4", file("over")}}) {
        expectfailure(run(args), 1, "too large");
        EXPECT_FALSE(fs::exists(file("over.tpk")));
    }
}

} // namespace
