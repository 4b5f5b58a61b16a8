/*
 * syshelp_test.cpp - process and platform helpers: colour conversion, the
 * environment, the exit-function table, the screen size, the detection
 * stubs and the single-instance guard (the last ones in diagchild processes).
 */
#include "childrun.h"
#include "thistle/mono.h"
#include "thistle/palette.h"
#include "thistle/startup.h"
#include "thistle/syshelp.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <thread>

namespace {

TEST(ColourPacking, EdgeValues) {
    struct row {
        uint32_t colour, c565, c555;
    };
    // clang-format off
    static const row table[] = {
        {0x000000,   0x0000, 0x0000},
        {0xFFFFFF,   0xFFFF, 0xFFFF},
        {0x000008,   0x0001, 0x8001},
        {0x000007,   0x0000, 0x8000}, /* not black, yet nothing survives: the top bit does */
        {0x000400,   0x0020, 0x8000},
        {0x123456,   0x11AA, 0x88CA},
        {0xFF000000, 0x0000, 0x8000}, /* the top byte is ignored, but makes it non-zero */
    };
    // clang-format on
    for (const row &r : table) {
        EXPECT_EQ(rgbto565(r.colour), r.c565) << std::hex << r.colour;
        EXPECT_EQ(rgbto555(r.colour), r.c555) << std::hex << r.colour;
    }
    EXPECT_EQ(swapredblue(0x11223344), 0x11443322u);
}

class Palette : public ::testing::Test {
  protected:
    void SetUp() override {
        for (uint32_t &e : systempalette) {
            e = 0xFF808080; /* grey everywhere: alpha must not count */
        }
    }
    void TearDown() override {
        memset(systempalette, 0, sizeof systempalette);
        display.depth = 0;
    }
};

/* Only entries 0 to 253 count, by red, green and blue distance (not the packed number),
 * the first of equal distances wins, the palette argument is not read, and nothing
 * nearer than 99999 gives 0. */
TEST_F(Palette, ClosestColourSearchesUsableEntries) {
    systempalette[254] = 0x00123456;
    systempalette[255] = 0x00123456;
    EXPECT_EQ(closestcolour(nullptr, 0x123456), 0) << "all usable entries are the same grey";
    uint32_t other[256] = {};
    systempalette[3] = 0x00102030;
    systempalette[7] = 0x00102030;
    systempalette[5] = 0x00112233;
    EXPECT_EQ(closestcolour(other, 0x00102030), 3);
    EXPECT_EQ(closestcolour(other, 0x00112234), 5);
    systempalette[9] = 0x00FF0000;
    systempalette[10] = 0x000000FF;
    EXPECT_EQ(closestcolour(nullptr, 0x00F00000), 9);
    EXPECT_EQ(closestcolour(nullptr, 0x000000F0), 10);

    for (uint32_t &e : systempalette) {
        e = 0x00FFFFFF; /* black to white: 3 * 255^2 = 195075 */
    }
    systempalette[254] = 0;
    EXPECT_EQ(closestcolour(nullptr, 0x000000), 0);
    systempalette[200] = 0x00B0B0B0; /* 3 * 176^2 = 92928 */
    EXPECT_EQ(closestcolour(nullptr, 0x000000), 200);
}

TEST_F(Palette, ColourToPixelFollowsTheDisplayDepth) {
    systempalette[42] = 0x00123456;
    const uint32_t colour = 0x123456;
    const struct {
        uint8_t depth;
        uint32_t pixel;
    } table[] = {{0, 42},      {8, 42}, {9, 0},  {14, 0},      {15, 0x88CA},
                 {16, 0x11AA}, {17, 0}, {23, 0}, {24, colour}, {32, colour}};
    for (const auto &r : table) {
        display.depth = r.depth;
        EXPECT_EQ(colourtopixel(colour), r.pixel) << "depth " << (int)r.depth;
    }
}

TEST(Environment, SetEnvironmentIsSeenByGetenv) {
    EXPECT_EQ(setenvironment("THISTLE_SYSHELP_TEST", "one two=three"), 0);
    ASSERT_NE(getenv("THISTLE_SYSHELP_TEST"), nullptr);
    EXPECT_STREQ(getenv("THISTLE_SYSHELP_TEST"), "one two=three");

    /* Overlong entries are cut to 511 bytes, not written past the buffer. */
    std::string big(1000, 'b');
    EXPECT_EQ(setenvironment("THISTLE_SYSHELP_TEST", big.c_str()), 0);
    ASSERT_NE(getenv("THISTLE_SYSHELP_TEST"), nullptr);
    EXPECT_EQ(strlen(getenv("THISTLE_SYSHELP_TEST")), 511 - strlen("THISTLE_SYSHELP_TEST="));
}

TEST(Detection, StubsWarnOnTheScreenAndReportSuccess) {
    monolevel = 2;
    monosetpage(0);
    monosettop(0);
    monoputs("\f");
    EXPECT_EQ(detecthardware(), 1);
    EXPECT_EQ(detectdirect3d(), 1);
    EXPECT_EQ(detectdirectsound(), 1);
    auto row = [](int r) {
        std::string s;
        for (int c = 0; c < 80 && monoscreen(0)[(r * 80 + c) * 2] != 0; c++) {
            s += (char)monoscreen(0)[(r * 80 + c) * 2];
        }
        return s;
    };
    EXPECT_EQ(row(0), "WARNING:  detectdirectdraw NOT IMPLEMENTED IN LIBRARY.");
    EXPECT_EQ(row(1), "WARNING:  detectdirect3d NOT IMPLEMENTED IN LIBRARY.");
    EXPECT_EQ(row(2), "WARNING:  detectdirectsound NOT IMPLEMENTED IN LIBRARY.");
}

/* ---- in child processes ----------------------------------------------------------- */

/* Exit functions and atexit functions run in one reverse order however they were mixed:
 * "atexit 1", exit 0 to 15, "atexit 2", exit 16 to 31 were registered. */
TEST(ExitFunctions, RunInReverseOrderWithAtexitAndTheTableIsBounded) {
    childrun::result r = childrun::run({"exittable"});
    EXPECT_EQ(r.status, 0);
    std::string expect = "extra -1\n";
    for (int i = EXIT_FUNCTIONS - 1; i >= 0; i--) {
        expect += "exit " + std::to_string(i) + "\n";
        expect += i == EXIT_FUNCTIONS / 2 ? "atexit 2\n" : i == 0 ? "atexit 1\n" : "";
    }
    EXPECT_EQ(r.out, expect);
}

TEST(ScreenSize, ComesFromThePlatformScreen) {
    childrun::result r =
        childrun::run({"screen"}, {"THISTLE_VIDEO=null", "THISTLE_SCREEN=800x600"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "800 600 0 same\n");
}

/* A name space of its own for the named mutexes of one test. */
std::string sessionentry() {
    return "THISTLE_SESSION=diagtest-" + std::to_string(getpid()) + "-" +
           std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
}

class SingleInstance : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/thistle-instance-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        session = sessionentry();
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    /* Starts a first instance holding name, with a minimised window titled name;
     * returns once it holds it. */
    void holdfirst(const std::string &name) {
        ready = dir + "/ready";
        stop = dir + "/stop";
        holder = std::thread([this, name] {
            held =
                childrun::run({"holdwindow", name, ready, stop}, {session, "THISTLE_VIDEO=null"});
        });
        for (int i = 0; i < 1000 && access(ready.c_str(), F_OK) != 0; i++) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ASSERT_EQ(access(ready.c_str(), F_OK), 0) << "first instance did not start";
    }
    void releasefirst() {
        if (FILE *f = fopen(stop.c_str(), "w")) {
            fclose(f);
        }
        holder.join();
    }
    std::string dir, session, ready, stop;
    std::thread holder;
    childrun::result held;
};

TEST_F(SingleInstance, OnlyInstanceGetsZeroAndTakesTheName) {
    childrun::result r = childrun::run({"instance", "thistle-alone", "1"}, {session});
    EXPECT_EQ(r.status, 7);
    EXPECT_EQ(r.out, "result 0\nname thistle-alone\n");

    /* Without a name the program's own path names the application. */
    r = childrun::run({"instance", "-", "1"}, {session});
    EXPECT_EQ(r.status, 7);
    EXPECT_EQ(r.out, std::string("result 0\nname ") + DIAGCHILD_PATH + "\n");
}

/* A second instance ends (code 0) or answers 1 and keeps going; either way the first
 * instance's minimised window is restored and raised. Other names stay free, and so does
 * the name once the first instance has ended. */
TEST_F(SingleInstance, SecondInstanceEndsOrAnswersOneAndRaisesTheFirstWindow) {
    holdfirst("thistle-twice");
    childrun::result ends = childrun::run({"instance", "thistle-twice", "1"}, {session});
    childrun::result stays = childrun::run({"instance", "thistle-twice", "0"}, {session});
    childrun::result other = childrun::run({"instance", "thistle-other", "0"}, {session});
    releasefirst();
    EXPECT_EQ(ends.status, 0);
    EXPECT_EQ(ends.out, "");
    EXPECT_EQ(stays.status, 7);
    EXPECT_EQ(stays.out, "result 1\nname thistle-twice\n");
    EXPECT_EQ(other.out, "result 0\nname thistle-other\n");
    EXPECT_EQ(held.status, 0);
    EXPECT_EQ(held.out, "result 0\nshown 1\n");
    childrun::result after = childrun::run({"instance", "thistle-twice", "0"}, {session});
    EXPECT_EQ(after.out, "result 0\nname thistle-twice\n");
}

} // namespace
