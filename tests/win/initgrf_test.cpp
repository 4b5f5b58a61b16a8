/*
 * initgrf_test.cpp - graphics start-up end to end on the headless backend and the
 * software display device: the argument defaults, the mode search and its fallbacks,
 * requests postponed while the application is inactive, taking graphics down, the current
 * display window with its stand-by, the fatal-report hook, and a test card drawn through
 * the surface lock compared with a reference picture.
 *
 * Each case runs in a process of its own (CTest), so the library's globals start fresh.
 * The device's driver profile and faults come from the software device's test controls;
 * what the library did is read from its display traces (captured standard output).
 */
#include "plat/ddrawtest.h"
#include "plat/testhooks.h"
#include "plat/win32.h"
#include "thistle/createw.h"
#include "thistle/ddraw.h"
#include "thistle/diag.h"
#include "thistle/initgrf.h"
#include "thistle/memstd.h"
#include "thistle/palette.h"
#include "thistle/row.h"
#include "thistle/startup.h"
#include "thistle/threads.h"
#include "thistle/vidwin.h"
#include "thistle/window.h"

#include <gtest/gtest.h>
#include <png.h>

#include <atomic>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

alignas(64) uint8_t region[16 << 20];
char testname[] = "thistle graphics test";

size_t occurrences(const std::string &text, const std::string &what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        n++;
    }
    return n;
}

/* Reports are recorded and cancelled, so a case can see what would have ended it. */
std::vector<std::string> reports;
int32_t cancelreport(const char *text) {
    reports.emplace_back(text);
    return 0;
}

template <typename Cond>
bool waitfor(Cond cond) {
    for (int i = 0; i < 5000 && !cond(); i++) {
        sleepms(1);
    }
    return cond();
}

/* Chooses a driver profile of a modern card with only the given mode lines. */
void useprofile(const char *modes) {
    const std::string path = ::testing::TempDir() + "initgrf-" +
                             ::testing::UnitTest::GetInstance()->current_test_info()->name() +
                             ".profile";
    std::ofstream(path) << "name search\n"
                           "driver {6B0C5E21-3D4A-4C8E-9F12-7A5D3C2B1E02} search.drv\n"
                           "caps BLT BLTCOLORFILL PALETTE GDI CANBLTSYSMEM\n"
                           "palettecaps 8BIT PRIMARYSURFACE ALLOW256\n"
                           "surfacecaps BACKBUFFER COMPLEX FLIP FRONTBUFFER OFFSCREENPLAIN "
                           "PALETTE PRIMARYSURFACE SYSTEMMEMORY VIDEOMEMORY VISIBLE\n"
                           "vidmem 16M\n"
                           "desktop 32\n"
                        << modes;
    ASSERT_EQ(plat_ddrawsetprofile(path.c_str()), 1);
}

HWND mainwindow() {
    return static_cast<HWND>(getmainwindow());
}

class Graphics : public ::testing::Test {
  protected:
    void SetUp() override {
        initmainthread();
        applicationname = testname;
        ASSERT_GT(creatememclass(0, "grf", region, sizeof region, 16, 16, 0, 0, 0, 1, 0, 0), 0);
        plat_ddrawreset();
    }
    void TearDown() override {
        restoregraphics();
        plat_ddrawreset();
    }

    /* Runs f with the display traces captured; returns them. */
    template <typename F>
    std::string traced(F f) {
        ddrawtrace = 16;
        ::testing::internal::CaptureStdout();
        f();
        fflush(stdout);
        ddrawtrace = 0;
        return ::testing::internal::GetCapturedStdout();
    }
};

} // namespace

/* ---- the request: arguments, the mode search and its fallbacks --------------------- */

TEST_F(Graphics, ArgumentDefaults) {
    const struct {
        int32_t width, height, depth;
        const char *asked;
    } cases[] = {
        {0, 0, 0, "640x480x16"},
        {-1, -1, 15, "1024x768x16"},
        {-1, -1, -1, "1024x768x16"},
        {800, 600, 8, "800x600x8"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.asked);
        const std::string out = traced([&] { initgraphics(c.width, c.height, c.depth); });
        EXPECT_EQ(occurrences(out, std::string("[INIT] requested mode is ") + c.asked + "\n"), 1u);
        EXPECT_EQ(graphicsstate, GRAPHICS_UP);
        EXPECT_EQ(std::to_string(screenwidth) + "x" + std::to_string(screenheight) + "x" +
                      std::to_string(screendepth),
                  c.asked);
        restoregraphics();
    }
}

TEST_F(Graphics, SearchTakesTheNarrowestModeThatHoldsTheRequest) {
    /* Modes 0: 640 x 480, 1 and 2: 800 x 600 at two refresh rates. */
    useprofile("mode 640x480x16/565 60\nmode 800x600x16/565 60 75\n");
    const struct {
        int32_t width, height;
        int32_t mode, screenwidth;
        size_t smaller; /* "try smaller" steps */
    } cases[] = {
        {700, 500, 1, 800, 0},  /* the one large enough */
        {640, 480, 0, 640, 0},  /* exact */
        {800, 600, 1, 800, 0},  /* equal widths: the first in the list */
        {1024, 768, 0, 640, 2}, /* nothing at 1024 x 768 or 824 x 568; at 624 x 368 the
                                   narrower of two */
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.width);
        const std::string out = traced([&] { initgraphics(c.width, c.height, 16); });
        ASSERT_EQ(graphicsstate, GRAPHICS_UP);
        EXPECT_EQ(screenmode, c.mode);
        EXPECT_EQ(screenwidth, c.screenwidth);
        EXPECT_EQ(occurrences(out, "[INIT] try smaller\n"), c.smaller);
        EXPECT_EQ(occurrences(out, "[INIT] send ddraw request 1125 "), 1u);
        restoregraphics();
    }
}

TEST_F(Graphics, FailedModesAreNotTriedAgain) {
    useprofile("mode 640x480x16/565 60\nmode 800x600x16/565 60\n");
    plat_ddrawrefusemode(640, 480, 16);
    std::string out = traced([] { initgraphics(640, 480, 16); });
    ASSERT_EQ(graphicsstate, GRAPHICS_UP);
    EXPECT_EQ(screenmode, 1);
    EXPECT_EQ(occurrences(out, "[INIT] send ddraw request 1125 0\n"), 1u);
    EXPECT_NE(static_cast<displaymode *>(display.modelist)[0].flags & DM_FAILED, 0u);

    /* The same list again: the failed mode is passed over without an attempt. */
    out = traced([] { initgraphics(640, 480, 16); });
    EXPECT_EQ(screenmode, 1);
    EXPECT_EQ(occurrences(out, "[INIT] send ddraw request 1125 0\n"), 0u);
}

TEST_F(Graphics, SmallerThenEightBitsThenTheDefaultMode) {
    /* No 16-bit mode large enough: 8 bits from the full size again. */
    useprofile("mode 320x200x16/565 70\nmode 512x384x8 60\nmode 640x480x8 60\n");
    std::string out = traced([] { initgraphics(640, 480, 16); });
    ASSERT_EQ(graphicsstate, GRAPHICS_UP);
    EXPECT_EQ(screenmode, 2);
    EXPECT_EQ(screendepth, 8);
    EXPECT_EQ(occurrences(out, "[INIT] try smaller\n"), 2u);
    EXPECT_EQ(occurrences(out, "[INIT] try 8bit\n"), 1u);
    EXPECT_EQ(occurrences(out, "[INIT] attempting default resolution\n"), 0u);
    restoregraphics();

    /* Nothing fits at all: the default mode, index -1. */
    useprofile("mode 320x200x8 70\nmode 640x480x16/565 60\n");
    out = traced([] { initgraphics(1024, 768, 24); });
    ASSERT_EQ(graphicsstate, GRAPHICS_UP);
    EXPECT_EQ(occurrences(out, "[INIT] attempting default resolution\n"), 1u);
    EXPECT_EQ(screenmode, -1);
    EXPECT_EQ(screenwidth * 10000 + screenheight * 10 + (screendepth == 16), 6404801);
}

TEST_F(Graphics, EmulationPassAfterEveryModeFailed) {
    plat_ddrawrefusemode(0, 0, 0);
    std::string out = traced([] { initgraphics(640, 480, 16); });
    EXPECT_EQ(graphicsstate, 0);
    EXPECT_NE(graphicsflags & GRF_EMULATION, 0);
    /* Two passes over the same device: the second skips every mode marked failed. */
    EXPECT_EQ(occurrences(out, "[INIT] attempting default resolution\n"), 2u);
    EXPECT_EQ(occurrences(out, "[DDRAW] create HEL\n"), 0u);
    EXPECT_EQ(occurrences(out, "[INIT] send ddraw request 1125 0\n"), 1u);

    /* The flag stays: the next device is made in emulation. */
    restoregraphics();
    plat_ddrawreset();
    out = traced([] { initgraphics(640, 480, 16); });
    EXPECT_EQ(graphicsstate, GRAPHICS_UP);
    EXPECT_EQ(occurrences(out, "[DDRAW] create HEL\n"), 1u);
    EXPECT_EQ(occurrences(out, "HAL\n"), 0u);
}

TEST_F(Graphics, WindowedIsOneAttemptAtTheWindowsSize) {
    graphicsflags &= ~GRF_FULLSCREEN;
    std::string out = traced([] { initgraphics(320, 200, 8); });
    ASSERT_EQ(graphicsstate, GRAPHICS_UP);
    EXPECT_EQ(occurrences(out, "[INIT] send ddraw request 1125 -1\n"), 1u);
    EXPECT_EQ(occurrences(out, "[INIT] searching"), 0u);
    EXPECT_EQ(screenwidth, 320);
    EXPECT_EQ(screenheight, 200);
    EXPECT_EQ(screendepth, 32); /* the desktop's */
    restoregraphics();

    /* A window whose display cannot be built: one attempt in each pass. */
    plat_ddrawfailsurfaces(PLAT_DDKIND_PRIMARY);
    out = traced([] { initgraphics(320, 200, 8); });
    EXPECT_EQ(graphicsstate, 0);
    EXPECT_EQ(occurrences(out, "[INIT] send ddraw request 1125 -1\n"), 2u);
    EXPECT_EQ(occurrences(out, "[INIT] searching"), 0u);
}

TEST_F(Graphics, PostponedRequestsAreSentAgainOnActivation) {
    initgraphics(640, 480, 8);
    ASSERT_EQ(graphicsstate, GRAPHICS_UP);
    HWND window = mainwindow();
    const int32_t wide = 5; /* 800 x 600 x 8 at 60 Hz in the modern card's list */
    ASSERT_EQ(static_cast<displaymode *>(display.modelist)[wide].width, 800u);

    /* In the background: the window thread postpones; activation sends it again. */
    plat_nullfocus(window, 0);
    ASSERT_TRUE(waitfor([] { return std::atomic_ref<int32_t>(display.appactive).load() == 0; }));
    std::thread user([window] {
        waitfor([] { return grfop_pending.load() < 0; });
        sleepms(150);
        plat_nullfocus(window, 1);
    });
    int32_t ok = 0;
    std::string out = traced([&] { ok = setgraphicsmode(wide); });
    user.join();
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(screenwidth, 800);
    EXPECT_GE(occurrences(out, "[INIT] postponed, waiting\n"), 1u);
    EXPECT_EQ(occurrences(out, "[INIT] postponed, retrying\n"), 1u);

    /* Believed active, but another program holds the screen: "RETRY", and the request is
     * sent again with the window brought to the front. */
    plat_ddrawneedactive(1);
    plat_nullfocus(window, 0);
    ASSERT_TRUE(waitfor([] { return std::atomic_ref<int32_t>(display.appactive).load() == 0; }));
    std::atomic_ref<int32_t>(display.appactive).store(1);
    plat_nullwindowinfo before{}, after{};
    plat_nullwindow(window, &before);
    out = traced([&] { ok = setgraphicsmode(0); });
    plat_nullwindow(window, &after);
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(screenmode, 0);
    EXPECT_GE(occurrences(out, "[INIT] postponed, retrying\n"), 1u);
    EXPECT_GT(after.raises, before.raises);
}

/* ---- taking graphics down ------------------------------------------------------------ */

void countrestore() {
    reports.emplace_back("restore hook");
}
void countinit(int32_t width, int32_t height, int32_t depth) {
    reports.push_back("init hook " + std::to_string(width) + " " + std::to_string(height) + " " +
                      std::to_string(depth));
}

TEST_F(Graphics, RestoreTakesEverythingDown) {
    initgraphics(640, 480, 8);
    ASSERT_EQ(graphicsstate, GRAPHICS_UP);
    EXPECT_EQ(fatallockhook, graphicsfatalhook);
    plat_nullfocus(mainwindow(), 0); /* a refused lock makes the stand-by window */
    ASSERT_TRUE(waitfor([] { return std::atomic_ref<int32_t>(display.appactive).load() == 0; }));
    ASSERT_EQ(displaywindow(), 0);
    ASSERT_NE(standbywindow, nullptr);

    restoregraphics();
    EXPECT_EQ(graphicsstate, 0);
    EXPECT_EQ(getmainwindow(), nullptr);
    EXPECT_EQ(display.directdraw, nullptr);
    EXPECT_EQ(rowtable, nullptr);
    EXPECT_EQ(standbywindow, nullptr);
    EXPECT_EQ(fatallockhook, nullptr);
    int objects = -1, surfaces = -1;
    plat_ddrawlive(&objects, &surfaces, nullptr, nullptr);
    EXPECT_EQ(objects, 0);
    EXPECT_EQ(surfaces, 0);

    /* The hooks replace the whole work, arguments as given. */
    initgraphicshook = countinit;
    restoregraphicshook = countrestore;
    initgraphics(0, -1, 15);
    restoregraphics();
    initgraphicshook = nullptr;
    restoregraphicshook = nullptr;
    EXPECT_EQ(graphicsstate, 0);
    EXPECT_EQ(getmainwindow(), nullptr);
    EXPECT_EQ(reports, (std::vector<std::string>{"init hook 0 -1 15", "restore hook"}));
}

TEST_F(Graphics, FatalHookStopsDrawingThreadsAndTakesGraphicsDown) {
    initgraphics(640, 480, 8);
    ASSERT_EQ(graphicsstate, GRAPHICS_UP);
    HWND window = mainwindow();

    /* Another thread: liblock entered and handed to the report, the window minimised. */
    critsection *held = nullptr;
    std::thread drawing([&held] {
        held = graphicsfatalhook();
        if (held != nullptr) {
            leavelock(held);
        }
    });
    drawing.join();
    EXPECT_EQ(held, liblock);
    plat_nullwindowinfo info{};
    ASSERT_EQ(plat_nullwindow(window, &info), 1);
    EXPECT_EQ(info.show, PLAT_MINIMISED);

    /* The main thread: graphics go down before the report shows. */
    EXPECT_EQ(graphicsfatalhook(), nullptr);
    EXPECT_EQ(graphicsstate, 0);
    EXPECT_EQ(getmainwindow(), nullptr);
}

TEST_F(Graphics, Reports) {
    fatalfilterhook = cancelreport;
    EXPECT_NE(sendddrawrequest(WM_SETDDRAWMODE, 0), nullptr); /* no window to post to */
    display.ismodex = 1;
    displaywindow();
    display.ismodex = 0;
    ASSERT_EQ(removememclass(0), 1);
    applygraphicsflags();
    fatalfilterhook = nullptr;
    ASSERT_GE(reports.size(), 3u);
    EXPECT_EQ(reports[0].rfind("initgraphics - FAILED TO SEND MESSAGE TO WINDOW THREAD.\n", 0), 0u);
    EXPECT_EQ(reports[1].rfind("displaywindow - DOES NOT WORK IN THIS DISPLAY MODE "
                               "(isdisplaymodex()=1)\n",
                               0),
              0u);
    EXPECT_EQ(reports[2].rfind("initgraphics - INITMEM REQUIRED BEFORE INITGRAPHICS\n", 0), 0u);
}

/* ---- the current display window -------------------------------------------------------- */

TEST_F(Graphics, CurrentWindowFollowsTheLock) {
    initgraphics(640, 480, 16);
    ASSERT_EQ(graphicsstate, GRAPHICS_UP);

    /* Released: size 0, but the screen's depth and type. */
    EXPECT_EQ(currentwindow.width, 0);
    EXPECT_EQ(currentwindow.height, 0);
    EXPECT_EQ(currentwindow.bpp, 16);
    EXPECT_EQ(currentwindow.type, libscreenwindow.type);
    EXPECT_EQ(currentwindow.surface, nullptr);

    /* Current: the screen window over the locked primary. */
    ASSERT_EQ(displaywindow(), 1);
    EXPECT_EQ(display.lockedsurface, display.primary);
    EXPECT_EQ(currentwindow.surface, display.primary);
    EXPECT_EQ(currentwindow.width, 640);
    EXPECT_EQ(static_cast<void *>(currentwindow.data), display.lockedpixels);
    EXPECT_EQ(yielddisplay(), 1);
    EXPECT_EQ(display.lockedsurface, display.primary);

    /* An invalid window is refused and changes nothing. */
    rasterwindow gone = currentwindow;
    gone.id = WINDOW_REMOVEDID;
    reporterrors = 0;
    EXPECT_EQ(setdisplaywindow(&gone), 0);
    EXPECT_EQ(currentwindow.surface, display.primary);
    EXPECT_EQ(display.lockedsurface, display.primary);

    EXPECT_EQ(releasedisplaywindow(), 1);
    EXPECT_EQ(display.lockedsurface, nullptr);
    EXPECT_EQ(yielddisplay(), 1);
}

TEST_F(Graphics, RefusedLockLeavesTheStandbyWindowCurrent) {
    initgraphics(640, 480, 8);
    ASSERT_EQ(graphicsstate, GRAPHICS_UP);
    plat_nullfocus(mainwindow(), 0); /* full screen in the background: no lock */
    ASSERT_TRUE(waitfor([] { return std::atomic_ref<int32_t>(display.appactive).load() == 0; }));

    EXPECT_EQ(displaywindow(), 0);
    ASSERT_NE(standbywindow, nullptr);
    rasterwindow *standby = standbywindow;
    EXPECT_EQ(currentwindow.width, 8);
    EXPECT_EQ(currentwindow.height, 8);
    EXPECT_EQ(currentwindow.bpp, 8);
    EXPECT_EQ(currentwindow.rows, standby->rows);
    EXPECT_EQ(display.lockedsurface, nullptr);
    EXPECT_EQ(lockfailed, 1);
    EXPECT_EQ(backdisplaywindow(), 0);
    EXPECT_EQ(standbywindow, standby); /* made once */

    plat_nullfocus(mainwindow(), 1);
    ASSERT_TRUE(waitfor([] { return std::atomic_ref<int32_t>(display.appactive).load() != 0; }));
    EXPECT_EQ(displaywindow(), 1);
    EXPECT_EQ(currentwindow.surface, display.primary);
    releasedisplaywindow();
}

/* ---- the palette ---------------------------------------------------------------------- */

TEST_F(Graphics, PaletteReachesAnEightBitDisplay) {
    const uint8_t red[3] = {0xFF, 0, 0};
    setpalette(5, 1, red); /* graphics down: only the system palette */
    EXPECT_EQ(systempalette[5], 0xFFFF0000u);
    EXPECT_EQ(display.entries[5][0], 0);

    initgraphics(640, 480, 8);
    ASSERT_EQ(graphicsstate, GRAPHICS_UP);
    EXPECT_EQ(systempalette[1], 0xFF0000A8u);
    EXPECT_EQ(systempalette[15], 0xFFFCFCFCu);
    EXPECT_EQ(systempalette[255], 0xFFFFFFFFu);
    EXPECT_EQ(display.entries[6][0], 0xA8);
    EXPECT_EQ(display.entries[6][1], 0x54);

    /* With the screen locked: given up for the transfer and taken back. */
    ASSERT_EQ(displaywindow(), 1);
    const int32_t changes = palettechangecount;
    setpalette(7, 1, red);
    EXPECT_EQ(palettechangecount, changes + 1);
    EXPECT_EQ(display.lockedsurface, display.primary);
    EXPECT_EQ(currentwindow.surface, display.primary);
    EXPECT_EQ(display.dirtyfirst, 256);
    EXPECT_EQ(display.dirtylast, -1);
    releasedisplaywindow();
    PALETTEENTRY entry{};
    ASSERT_EQ(IDirectDrawPalette_GetEntries(display.palette, 0, 7, 1, &entry), DD_OK);
    EXPECT_EQ(entry.peRed * 0x10000 + entry.peGreen * 0x100 + entry.peBlue, 0xFF0000);
}

/* ---- the picture ------------------------------------------------------------------------ */

/* A test card: the 256 colours as a 16 x 16 grid of 40 x 30 swatches (colour 0 top left,
 * rising to the right, then down), framed by a line of colour 15. */
uint8_t testcard(int x, int y) {
    if (x == 0 || y == 0 || x == 639 || y == 479) {
        return 15;
    }
    return uint8_t(x / 40 + 16 * (y / 30));
}

TEST_F(Graphics, TestCardMatchesTheReference) {
    initgraphics(640, 480, 8);
    ASSERT_EQ(graphicsstate, GRAPHICS_UP);
    ASSERT_EQ(screendepth, 8);
    ASSERT_EQ(displaywindow(), 1);
    for (int y = 0; y < 480; y++) {
        for (int x = 0; x < 640; x++) {
            currentwindow.data[currentwindow.rows[y] + currentwindow.cols[x]] = testcard(x, y);
        }
    }
    releasedisplaywindow(); /* the unlock shows the frame */

    int width = 0, height = 0;
    std::vector<uint32_t> frame(640 * 480);
    ASSERT_GT(plat_nulllastframe(&width, &height, frame.data(), frame.size()), 0u);
    ASSERT_EQ(width, 640);
    ASSERT_EQ(height, 480);

    png_image reference{};
    reference.version = PNG_IMAGE_VERSION;
    ASSERT_NE(png_image_begin_read_from_file(&reference, GRF_DATA "/testcard.png"), 0);
    reference.format = PNG_FORMAT_RGB;
    ASSERT_EQ(reference.width * 10000 + reference.height, 6400480u);
    std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(reference));
    ASSERT_NE(png_image_finish_read(&reference, nullptr, rgb.data(), 0, nullptr), 0);
    int wrong = 0;
    for (int i = 0; i < 640 * 480; i++) {
        const uint32_t want =
            uint32_t(rgb[3 * i]) << 16 | uint32_t(rgb[3 * i + 1]) << 8 | uint32_t(rgb[3 * i + 2]);
        if ((frame[i] & 0xFFFFFF) != want && wrong++ == 0) {
            ADD_FAILURE() << "pixel " << i % 640 << "," << i / 640 << ": " << std::hex << frame[i]
                          << " instead of " << want;
        }
    }
    EXPECT_EQ(wrong, 0);
}
