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
#include "grffixture.h"
#include "plat/ddrawtest.h"
#include "plat/testhooks.h"
#include "plat/win32.h"
#include "thistle/createw.h"
#include "thistle/ddraw.h"
#include "thistle/diag.h"
#include "thistle/initgrf.h"
#include "thistle/memstd.h"
#include "thistle/row.h"
#include "thistle/startup.h"
#include "thistle/threads.h"
#include "thistle/vidwin.h"
#include "thistle/window.h"

#include <gtest/gtest.h>
#include <png.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

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

/* The published screen: "mode: width x height x depth". */
std::string screen() {
    return std::to_string(screenmode) + ": " + std::to_string(screenwidth) + "x" +
           std::to_string(screenheight) + "x" + std::to_string(screendepth);
}

/* Attempts to set mode m in a trace. */
size_t attempts(const std::string &out, int m) {
    return occurrences(out, "[INIT] send ddraw request 1125 " + std::to_string(m) + "\n");
}

/* The user switches to (1) or away from (0) the program's window. */
void setactive(int on) {
    plat_nullfocus(static_cast<HWND>(getmainwindow()), on);
    ASSERT_TRUE(waitfor([on] { return std::atomic_ref<int32_t>(display.appactive) == on; }));
}

using Initgrf = GraphicsTest;

/* A test card: the 256 colours as a 16 x 16 grid of 40 x 30 swatches (colour 0 top left,
 * rising to the right, then down), framed by a line of colour 15. */
uint8_t testcard(int x, int y) {
    if (x == 0 || y == 0 || x == 639 || y == 479) {
        return 15;
    }
    return uint8_t(x / 40 + 16 * (y / 30));
}

} // namespace

/* ---- the request: arguments, the mode search and its fallbacks --------------------- */

TEST_F(Initgrf, ArgumentDefaults) {
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
        const std::string out = traced(15, [&] { initgraphics(c.width, c.height, c.depth); });
        EXPECT_EQ(occurrences(out, std::string("[INIT] requested mode is ") + c.asked + "\n"), 1u);
        EXPECT_EQ(screen().substr(screen().find(' ') + 1), c.asked);
        EXPECT_EQ(viewwidth * 10000 + viewheight, screenwidth * 10000 + screenheight);
        EXPECT_EQ(displaypages, 1);
        restoregraphics();
    }
}

TEST_F(Initgrf, SearchTakesTheNarrowestModeThatHoldsTheRequest) {
    /* Modes 0: 640 x 480, 1 and 2: 800 x 600 at two refresh rates. */
    useprofile("mode 640x480x16/565 60\nmode 800x600x16/565 60 75\n");
    const struct {
        int32_t width, height;
        const char *screen;
        size_t smaller; /* "try smaller" steps */
    } cases[] = {
        {700, 500, "1: 800x600x16", 0},  /* the one large enough */
        {640, 480, "0: 640x480x16", 0},  /* exact */
        {800, 600, "1: 800x600x16", 0},  /* equal widths: the first in the list */
        {1024, 768, "0: 640x480x16", 2}, /* nothing at 1024 x 768 or 824 x 568; at
                                            624 x 368 the narrower of two */
    };
    for (const auto &c : cases) {
        const std::string out = traced(15, [&] { initgraphics(c.width, c.height, 16); });
        EXPECT_EQ(screen(), c.screen);
        EXPECT_EQ(occurrences(out, "[INIT] try smaller\n"), c.smaller);
        EXPECT_EQ(occurrences(out, "[INIT] send ddraw request 1125 "), 1u);
        restoregraphics();
    }

    /* A mode that fails is marked and never tried again with the same list. */
    plat_ddrawrefusemode(640, 480, 16);
    std::string out = traced(15, [] { initgraphics(640, 480, 16); });
    EXPECT_EQ(screen(), "1: 800x600x16");
    EXPECT_EQ(attempts(out, 0), 1u);
    EXPECT_NE(static_cast<displaymode *>(display.modelist)[0].flags & DM_FAILED, 0u);
    out = traced(15, [] { initgraphics(640, 480, 16); });
    EXPECT_EQ(screen(), "1: 800x600x16");
    EXPECT_EQ(attempts(out, 0), 0u);
}

TEST_F(Initgrf, SmallerThenEightBitsThenTheDefaultMode) {
    /* No 16-bit mode: 520, then 320 wide (the last smaller step), then 8 bits from the
     * full size again. */
    useprofile("mode 512x384x8 60\nmode 640x480x8 60\n");
    std::string out = traced(15, [] { initgraphics(520, 400, 16); });
    EXPECT_EQ(screen(), "1: 640x480x8");
    EXPECT_EQ(occurrences(out, "[INIT] try smaller\n"), 1u);
    EXPECT_EQ(occurrences(out, "[INIT] try 8bit\n"), 1u);
    EXPECT_EQ(attempts(out, -1), 0u);
    restoregraphics();

    /* Nothing fits at all: the default mode. */
    useprofile("mode 320x200x8 70\nmode 640x480x16/565 60\n");
    out = traced(15, [] { initgraphics(1024, 768, 24); });
    EXPECT_EQ(occurrences(out, "[INIT] attempting default resolution\n"), 1u);
    EXPECT_EQ(screen(), "-1: 640x480x16");
}

TEST_F(Initgrf, EmulationPassAfterEveryModeFailed) {
    plat_ddrawrefusemode(0, 0, 0);
    std::string out = traced(15, [] { initgraphics(640, 480, 16); });
    EXPECT_EQ(graphicsstate, 0);
    EXPECT_NE(graphicsflags & GRF_EMULATION, 0);
    /* Two passes over the same device: the second skips every mode marked failed. */
    EXPECT_EQ(attempts(out, -1), 2u);
    EXPECT_EQ(attempts(out, 0), 1u);
    EXPECT_EQ(occurrences(out, "[DDRAW] create HEL\n"), 0u);

    /* The flag stays: the next device is made in emulation. */
    restoregraphics();
    plat_ddrawreset();
    out = traced(15, [] { initgraphics(640, 480, 16); });
    EXPECT_EQ(graphicsstate, GRAPHICS_UP);
    EXPECT_EQ(occurrences(out, "[DDRAW] create HEL\n"), 1u);
    EXPECT_EQ(occurrences(out, "HAL\n"), 0u);
}

TEST_F(Initgrf, WindowedIsOneAttemptAtTheWindowsSize) {
    graphicsflags &= ~GRF_FULLSCREEN;
    std::string out = traced(15, [] { initgraphics(320, 200, 8); });
    EXPECT_EQ(attempts(out, -1), 1u);
    EXPECT_EQ(occurrences(out, "[INIT] searching"), 0u);
    EXPECT_EQ(screen(), "-1: 320x200x32"); /* the desktop's depth */
    restoregraphics();

    /* A window whose display cannot be built: one attempt in each pass. */
    plat_ddrawfailsurfaces(PLAT_DDKIND_PRIMARY);
    out = traced(15, [] { initgraphics(320, 200, 8); });
    EXPECT_EQ(graphicsstate, 0);
    EXPECT_EQ(attempts(out, -1), 2u);
    EXPECT_EQ(occurrences(out, "[INIT] searching"), 0u);
}

TEST_F(Initgrf, PostponedRequestsAreSentAgainOnActivation) {
    initgraphics(640, 480, 8);
    HWND window = static_cast<HWND>(getmainwindow());

    /* In the background: the window thread postpones; activation sends it again. */
    setactive(0);
    std::thread user([] {
        waitfor([] { return grfop_pending < 0; });
        sleepms(150);
        setactive(1);
    });
    int32_t ok = 0;
    std::string out = traced(15, [&] { ok = setgraphicsmode(0); });
    user.join();
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(screen(), "0: 320x200x8");
    EXPECT_GE(occurrences(out, "[INIT] postponed, waiting\n"), 1u);
    EXPECT_EQ(occurrences(out, "[INIT] postponed, retrying\n"), 1u);

    /* Believed active, but another program holds the screen: "RETRY", sent again and
     * again with the window brought to the front until the user switches back. */
    plat_ddrawneedactive(1);
    setactive(0);
    std::atomic_ref<int32_t>(display.appactive).store(1);
    plat_nullwindowinfo before{}, after{};
    plat_nullwindow(window, &before);
    std::thread back([] {
        waitfor([] { return grfop_pending < 0; });
        sleepms(350);
        setactive(1);
    });
    out = traced(15, [&] { ok = setgraphicsmode(6); });
    back.join();
    plat_nullwindow(window, &after);
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(screen(), "6: 640x480x8");
    EXPECT_GE(occurrences(out, "[INIT] postponed, retrying\n"), 2u);
    EXPECT_EQ(occurrences(out, "[INIT] postponed, waiting\n"), 0u);
    EXPECT_GE(after.raises, before.raises + 2);
}

/* ---- the current display window, taking graphics down ------------------------------- */

TEST_F(Initgrf, CurrentWindowFollowsTheLock) {
    EXPECT_EQ(currentwindow.width * 10000 + currentwindow.height, 6400480); /* as VGA had it */
    EXPECT_EQ(currentwindow.bpp, 8);
    initgraphics(640, 480, 8);
    ASSERT_EQ(graphicsstate, GRAPHICS_UP);

    /* Released: size 0, but the screen's depth and type. */
    EXPECT_EQ(currentwindow.width, 0);
    EXPECT_EQ(currentwindow.bpp, 8);
    EXPECT_EQ(currentwindow.type, libscreenwindow.type);

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
    EXPECT_EQ(releasedisplaywindow(), 1);
    EXPECT_EQ(display.lockedsurface, nullptr);
    EXPECT_EQ(yielddisplay(), 1); /* nothing to yield */

    /* A display window hook takes the lock's place, also when the display is yielded. */
    static std::vector<rasterwindow *> hooked;
    displaywindowhook = [](rasterwindow *window) {
        hooked.push_back(window);
        return int32_t(1);
    };
    EXPECT_EQ(displaywindow(), 1);
    EXPECT_EQ(currentwindow.surface, display.primary);
    EXPECT_EQ(yielddisplay(), 1);
    displaywindowhook = nullptr;
    EXPECT_EQ(display.lockedsurface, nullptr);
    ASSERT_EQ(hooked.size(), 3u); /* the screen, none, the screen's copy */
    EXPECT_EQ(hooked[0], &libscreenwindow);
    EXPECT_EQ(hooked[1], nullptr);
    EXPECT_EQ(hooked[2] != nullptr ? hooked[2]->surface : nullptr, display.primary);

    /* The fatal-report hook on another thread: liblock entered and handed to the report,
     * the window minimised. */
    HWND window = static_cast<HWND>(getmainwindow());
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

    /* On the main thread: graphics go down before the report shows. */
    EXPECT_EQ(graphicsfatalhook(), nullptr);
    EXPECT_EQ(graphicsstate, 0);
    EXPECT_EQ(getmainwindow(), nullptr);
}

TEST_F(Initgrf, StandbyWindowAfterARefusedLockThenRestore) {
    initgraphics(640, 480, 8);
    ASSERT_EQ(graphicsstate, GRAPHICS_UP);
    EXPECT_EQ(fatallockhook, graphicsfatalhook);
    setactive(0); /* full screen in the background: no lock */

    /* The failure is traced once however often it repeats, and the next success once. */
    rasterwindow *standby = nullptr;
    std::string out = traced(4, [&standby] {
        EXPECT_EQ(displaywindow(), 0);
        standby = standbywindow;
        EXPECT_EQ(backdisplaywindow(), 0);
    });
    EXPECT_EQ(out, "[DDRAW] locksurface - FAILED TO LOCK SURFACE (00eacbad)\n");
    EXPECT_EQ(lastlocktime, -1);
    ASSERT_NE(standby, nullptr);
    EXPECT_EQ(currentwindow.width, 8);
    EXPECT_EQ(currentwindow.bpp, 8);
    EXPECT_EQ(currentwindow.rows, standby->rows);
    EXPECT_EQ(display.lockedsurface, nullptr);
    EXPECT_EQ(standbywindow, standby); /* made once */
    setactive(1);
    out = traced(4, [] {
        EXPECT_EQ(displaywindow(), 1);
        EXPECT_EQ(backdisplaywindow(), 1);
    });
    EXPECT_EQ(out, "[DDRAW] locksurface - RESTORED\n");
    EXPECT_EQ(lockfailed, 0);
    EXPECT_EQ(currentwindow.surface, display.back);
    releasedisplaywindow();

    restoregraphics();
    EXPECT_EQ(graphicsstate, 0);
    EXPECT_EQ(getmainwindow(), nullptr);
    EXPECT_EQ(rowtable, nullptr);
    EXPECT_EQ(standbywindow, nullptr);
    EXPECT_EQ(fatallockhook, nullptr);
    int objects = -1, surfaces = -1;
    plat_ddrawlive(&objects, &surfaces, nullptr, nullptr);
    EXPECT_EQ(objects + surfaces, 0);

    /* The hooks replace the whole work, arguments as given. */
    initgraphicshook = [](int32_t w, int32_t h, int32_t d) { graphicspages = w + h + d; };
    restoregraphicshook = [] { graphicspages = 99; };
    initgraphics(16, -1, 15);
    EXPECT_EQ(graphicspages, 30);
    EXPECT_EQ(getmainwindow(), nullptr);
    restoregraphics();
    EXPECT_EQ(graphicspages, 99);
    restoregraphicshook = nullptr;
}

TEST_F(Initgrf, Reports) {
    /* The first report of each call (going on after a cancelled report may make more). */
    const auto first = [](auto call) {
        reports.clear();
        call();
        return reports.empty() ? std::string() : reports[0];
    };
    fatalfilterhook = cancelreport;
    EXPECT_EQ(first([] { sendddrawrequest(WM_SETDDRAWMODE, 0); }), /* no window */
              "initgraphics - FAILED TO SEND MESSAGE TO WINDOW THREAD.\n");
    display.ismodex = 1;
    EXPECT_EQ(first([] { displaywindow(); }),
              "displaywindow - DOES NOT WORK IN THIS DISPLAY MODE (isdisplaymodex()=1)\n");
    display.ismodex = 0;
    ASSERT_EQ(removememclass(0), 1);
    EXPECT_EQ(first([] { applygraphicsflags(); }),
              "initgraphics - INITMEM REQUIRED BEFORE INITGRAPHICS\n");
    fatalfilterhook = unexpectedreport;
}

/* ---- the picture ------------------------------------------------------------------------ */

TEST_F(Initgrf, TestCardMatchesTheReference) {
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
    reference.format = PNG_FORMAT_BGRA; /* as 32-bit words: 0xFFRRGGBB */
    ASSERT_EQ(PNG_IMAGE_SIZE(reference), frame.size() * 4);
    std::vector<uint32_t> want(frame.size());
    ASSERT_NE(png_image_finish_read(&reference, nullptr, want.data(), 0, nullptr), 0);
    int wrong = 0;
    for (size_t i = 0; i < frame.size(); i++) {
        if ((frame[i] | 0xFF000000u) != want[i] && wrong++ == 0) {
            ADD_FAILURE() << "pixel " << i % 640 << "," << i / 640 << ": " << std::hex << frame[i]
                          << " instead of " << want[i];
        }
    }
    EXPECT_EQ(wrong, 0);
}
