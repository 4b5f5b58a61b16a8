// Control and option files of the launcher, byte for byte, each case in a fresh
// temporary installation directory; plus the launch loop's small file and crash helpers.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "launcher.h"

namespace {

namespace fs = std::filesystem;

std::string le32(int32_t v) {
    const uint32_t u = (uint32_t)v;
    return {(char)u, (char)(u >> 8), (char)(u >> 16), (char)(u >> 24)};
}

class ControlFiles : public ::testing::Test {
  protected:
    void SetUp() override {
#ifdef _WIN32
        dir = (fs::temp_directory_path() /
               ("thistlerun-control-" + std::to_string(GetCurrentProcessId())))
                  .string();
        ASSERT_TRUE(fs::create_directory(dir));
#else
        char pattern[] = "/tmp/thistlerun-control-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
#endif
        old = fs::current_path();
        fs::current_path(dir);
        fs::create_directory("options");
    }
    void TearDown() override {
        fs::current_path(old);
        fs::remove_all(dir);
    }

    static void put(const std::string &name, const std::string &content) {
        std::ofstream(name, std::ios::binary) << content;
    }
    static std::string get(const std::string &name) {
        std::ifstream in(name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static bool exists(const std::string &name) {
        return fs::exists(name);
    }

    std::string dir;
    fs::path old;
};

const char sampleoptions[] =
    "Brambleshot settings v3\n1\n  -2 trailing words\n3\n4\n5\n6\n7\n8\n200\n11\n12\n0\n";

// ---- options.txt and opt.dat ---------------------------------------------------------

TEST_F(ControlFiles, OptionsReadAndRewrittenRecordLeftAloneWhereNothingIsRead) {
    put("options/options.txt", sampleoptions);
    LaunchOptions o;
    memset(&o, 0x55, sizeof o);
    ASSERT_EQ(readoptions(&o), 1);
    EXPECT_STREQ(o.optionstext, "Brambleshot settings v3\n");
    const int32_t got[12] = {o.option2, o.option3, o.option4, o.option5,  o.option6,  o.option7,
                             o.option8, o.option9, o.sfx,     o.option11, o.option12, o.option13};
    const int32_t want[12] = {1, -2, 3, 4, 5, 6, 7, 8, 200, 11, 12, 0};
    for (int i = 0; i < 12; i++)
        EXPECT_EQ(got[i], want[i]) << "line " << i + 2;

    o.sfx = 0;
    o.option13 = -7;
    ASSERT_EQ(writeoptions(&o), 1);
    // First line unchanged; every number followed by four spaces and a line end (a single
    // line feed; on Windows the runtime's text mode writes CR LF).
    std::string rewritten = "Brambleshot settings v3\n"
                            "1    \n-2    \n3    \n4    \n5    \n6    \n"
                            "7    \n8    \n0    \n11    \n12    \n-7    \n";
#ifdef _WIN32
    for (size_t at = 0; (at = rewritten.find('\n', at)) != std::string::npos; at += 2)
        rewritten.insert(at, "\r");
#endif
    EXPECT_EQ(get("options/options.txt"), rewritten);
    std::string want56 = le32(1) + le32(-2) + le32(3) + le32(4) + le32(5) + le32(6) + le32(7) +
                         le32(8) + le32(0) + le32(11) + le32(12) + le32(-7) + std::string(8, '\0');
    EXPECT_EQ(get("options/opt.dat"), want56);

    // Where nothing is read the record is left alone.
    fs::remove("options/options.txt");
    memset(&o, 0x55, sizeof o);
    LaunchOptions before = o;
    EXPECT_EQ(readoptions(&o), 0); // no file
    // A directory or a FIFO of that name is no file either (and is not waited on).
    fs::create_directory("options/options.txt");
    EXPECT_EQ(readoptions(&o), 0);
#ifndef _WIN32
    fs::remove("options/options.txt");
    ASSERT_EQ(mkfifo("options/options.txt", 0644), 0);
    EXPECT_EQ(readoptions(&o), 0);
#endif
    EXPECT_EQ(memcmp(&o, &before, sizeof o), 0);
    fs::remove("options/options.txt");

    // A line without a number and the lines past the end keep their values.
    put("options/options.txt", "head\n1\nnone\n3\n");
    o.option3 = 33;
    o.option13 = 1313;
    ASSERT_EQ(readoptions(&o), 1);
    EXPECT_EQ(o.option2, 1);
    EXPECT_EQ(o.option3, 33);
    EXPECT_EQ(o.option4, 3);
    EXPECT_EQ(o.option13, 1313);
}

TEST_F(ControlFiles, LongFirstLineIsCutAndKeepsItsLineEnd) {
    // Past 1023 characters too: the rest of the line must not spill into the next ones.
    for (size_t length : {255, 300, 1022, 1023, 1024, 5000}) {
        SCOPED_TRACE(length);
        put("options/options.txt",
            std::string(length, 'a') + "\n1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n11\n12\n");
        LaunchOptions o;
        memset(&o, 0, sizeof o);
        ASSERT_EQ(readoptions(&o), 1);
        EXPECT_EQ(std::string(o.optionstext), std::string(254, 'a') + "\n");
        EXPECT_EQ(o.option2, 1);
        EXPECT_EQ(o.option13, 12);
        ASSERT_EQ(writeoptions(&o), 1);
        std::string text = get("options/options.txt");
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 13);
    }
}

TEST_F(ControlFiles, WritersFailQuietly) {
    LaunchOptions o;
    memset(&o, 0, sizeof o);
    strcpy(o.optionstext, "x\n");

    // options.txt cannot be rewritten: opt.dat is not touched.
    fs::create_directory("options/options.txt");
    EXPECT_EQ(writeoptions(&o), 0);
    EXPECT_FALSE(exists("options/opt.dat"));
    fs::remove("options/options.txt");

    // opt.dat cannot be created: 0, though options.txt has been written.
    fs::create_directory("options/opt.dat");
    EXPECT_EQ(writeoptions(&o), 0);
    EXPECT_TRUE(fs::is_regular_file("options/options.txt"));

    // A marker that can be read but not set is no first run.
    fs::create_directory("options/firsttimefe.txt");
    EXPECT_EQ(firsttimefe(), 0);
    fs::create_directory("ft.dat");
    EXPECT_EQ(writefirstrunflag(1), 0);

    fs::remove_all("options");
    EXPECT_EQ(writesfx(3), 0);
    EXPECT_EQ(writescreen(), 0);
    EXPECT_EQ(firsttimefe(), 0);
    EXPECT_EQ(writeoptions(&o), 0);
    EXPECT_FALSE(exists("options"));
}

// ---- the first-run speed test -------------------------------------------------------

TEST_F(ControlFiles, CheckSpeedRules) {
    const std::string screenrecord =
        le32(0) + le32(16) + le32(512) + le32(384) + le32(64) + le32(48);
    // speed.txt's two figures (kilobytes, speed), or nullptr for no speed.txt.
    const struct {
        const char *figures;
        int option13;
        int slow;
        bool screen;
    } cases[] = {
        {"40000\n200\n", 0, 1, false}, // m 39: rule 2
        {"35000\n200\n", 0, 1, true},  // m 34: rule 1
        {"30000\n250\n", 0, 1, false}, // m 29: rule 3
        {"50000\n233\n", 0, 0, false}, // m 48, 233: only rule 4 could hold
        {"50000\n233\n", 1, 1, false}, //   ... and does with option13 set
        {"70000\n100\n", 0, 0, false}, // m 68
        {"36863\n233\n", 0, 1, true},  // m 35 (truncated, not rounded): rule 1
        {"36864\n233\n", 0, 0, false}, // m 36: rule 1 no longer holds, rule 2 needs < 233
        {"36864\n232\n", 0, 1, false}, //   rule 2
        {"36863\n234\n", 0, 0, false}, // speed 234 fails rules 1, 2 and 4
        {"36863\n234\n", 1, 0, false},
        {"65535\n232\n", 0, 1, false}, // m 63: rule 2
        {"65536\n232\n", 1, 0, false}, // m 64: nothing
        {"33791\n300\n", 0, 1, false}, // m 32: rule 3
        {"33792\n300\n", 0, 0, false}, // m 33
        {"33791\n301\n", 0, 0, false},
        {"1023\n0\n", 0, 1, true}, // m 0
        {nullptr, 0, 0, false},
        {"1000\n", 0, 0, false},               // one figure only
        {"  1000 kb\n  10 mhz\n", 0, 1, true}, // leading blanks and trailing text are fine
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << (c.figures ? c.figures : "none") << " opt13 " << c.option13);
        fs::remove("options/screen.dat");
        fs::remove("options/speed.txt");
        if (c.figures)
            put("options/speed.txt", c.figures);
        LaunchOptions o;
        memset(&o, 0, sizeof o);
        o.sfx = 9;
        o.option13 = c.option13;
        EXPECT_EQ(checkspeed(&o), c.slow);
        EXPECT_EQ(o.sfx, c.slow ? 0 : 9);
        EXPECT_EQ(get("options/screen.dat"), c.screen ? screenrecord : "");
    }
}

// ---- sfx.dat, the first-run marker, quit.dat and the other value files ------------------

TEST_F(ControlFiles, ValueFilesAndFirstTimeMarker) {
    EXPECT_EQ(writesfx(-1), 0);
    EXPECT_FALSE(exists("options/sfx.dat"));
    EXPECT_EQ(writesfx(0), 1);
    EXPECT_EQ(get("options/sfx.dat"), le32(0));
    EXPECT_EQ(writesfx(255), 1);
    EXPECT_EQ(get("options/sfx.dat"), le32(255));
    EXPECT_EQ(writesfx(256), 0);
    EXPECT_EQ(get("options/sfx.dat"), le32(255)); // untouched

    // A missing marker is a first run that sets it, a set one none (the end-to-end runs);
    // any other value runs again and sets the marker; empty reads as 0, a short file's
    // missing bytes are zero.
    for (const auto &[marker, first] :
         {std::pair<std::string, int>{le32(2), 1}, {le32(0x101), 1}, {"", 1}, {"\x01", 0}}) {
        put("options/firsttimefe.txt", marker);
        EXPECT_EQ(firsttimefe(), first) << marker.size();
        EXPECT_EQ(get("options/firsttimefe.txt"), first ? le32(1) : marker);
    }

    EXPECT_EQ(readquitflag(), 0); // missing
    for (const auto &[quit, value] : {std::pair<std::string, int32_t>{le32(0x12345678), 0x12345678},
                                      {le32(-1) + "tail", -1},
                                      {"\x05\x01", 0x105}}) {
        put("quit.dat", quit);
        EXPECT_EQ(readquitflag(), value);
    }

    // A directory is not a value of 0: it cannot be opened, and the value stays.
    fs::create_directory("options/mp.dat");
    int32_t mp = 7;
    EXPECT_EQ(readcontrolvalue("options\\mp.dat", &mp), 0);
    EXPECT_EQ(mp, 7);
}

#ifndef _WIN32
// On Windows the message box is a real one; the launcher's end-to-end test answers it.
TEST(CheckExitCode, OnlyTheFourCrashCodesShowAMessage) {
    // Headless, the message box is one line on standard error and answers at once.
    setenv("THISTLE_VIDEO", "null", 1);
    auto shown = [](DWORD code, int crash) {
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(checkexitcode(code), crash) << std::hex << code;
        return ::testing::internal::GetCapturedStderr();
    };
    // Access violations, integer divisions by zero and 0xC000001D, 0xFFFFFFFF and 3 as
    // ordinary ends come through the launcher's end-to-end runs.
    EXPECT_EQ(shown(0xC000008Eu, 1), "Application Error: Divide By 0\n");
    EXPECT_EQ(shown(0xC000008Cu, 1), "Application Error: Array Exceeded\n");
    for (DWORD code : {0u, 259u, 0xC0000096u})
        EXPECT_EQ(shown(code, 0), "");
}
#endif

} // namespace
