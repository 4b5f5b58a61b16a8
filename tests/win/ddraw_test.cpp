/*
 * ddraw_test.cpp - the display device: creation with its fallbacks, the mode list, mode
 * switching and window fitting, display configuration and its surface fallbacks, the
 * palette transfer, blits, and the surface lock with its recovery from lost surfaces.
 *
 * Headless: the software device with its driver profiles and injected faults. The device
 * and mode-list cases drive win\ddraw directly over a main window; the configuration and
 * lock cases bring graphics up with initgraphics. Traces are read from standard output.
 * POSIX only (the device's test controls).
 */
#include "grffixture.h"
#include "plat/ddraw.h"
#include "plat/ddrawtest.h"
#include "plat/testhooks.h"
#include "plat/win32.h"
#include "thistle/createw.h"
#include "thistle/ddraw.h"
#include "thistle/diag.h"
#include "thistle/initgrf.h"
#include "thistle/memstd.h"
#include "thistle/startup.h"
#include "thistle/threads.h"
#include "thistle/vidwin.h"
#include "thistle/window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

std::vector<std::string> reports;
int32_t capturereport(const char *text) {
    reports.push_back(text);
    return 0; /* cancelled: the report returns */
}

DDSURFACEDESC describe(IDirectDrawSurface *surface) {
    DDSURFACEDESC desc;
    memset(&desc, 0, sizeof desc);
    desc.dwSize = sizeof desc;
    IDirectDrawSurface_GetSurfaceDesc(surface, &desc);
    return desc;
}

class DisplayDevice : public GraphicsTest {
  protected:
    void SetUp() override {
        GraphicsTest::SetUp();
        graphicsflags = GRF_FULLSCREEN | GRF_SYSMEMBACK | GRF_SINGLEPAGE;
        graphicspages = 2;
        memset(displaydriverguid, 0, sizeof displaydriverguid);
        reports.clear();
        fatalfilterhook = capturereport;
    }
    void TearDown() override {
        restoregraphics();
        closemainwindow();
        GraphicsTest::TearDown();
    }

    /* A main window and, made on this thread, the device and its mode list. */
    void opendevice(int32_t fullscreen) {
        ASSERT_NE(openmainwindow(640, 480, fullscreen), nullptr);
        ASSERT_EQ(opendirectdraw(&display), 1);
        ASSERT_EQ(enumdisplaymodes(&display), 1);
    }

    /* Graphics up in 640 x 480 x 8 with the options given; windowed 320 x 200, so that
     * the client area is inside the desktop. */
    void graphicsup(int32_t flags, const char *profile = "modern") {
        plat_ddrawsetprofile(profile);
        graphicsflags = flags;
        if (flags & GRF_FULLSCREEN) {
            initgraphics(640, 480, 8);
        } else {
            initgraphics(320, 200, 8);
        }
        ASSERT_EQ(graphicsstate, GRAPHICS_UP);
    }
};

/* ---- the device ------------------------------------------------------------------------ */

/* The chosen driver, then the default driver, then emulation; each step traced, the
 * emulation option skipping the hardware, and both failures leaving their text. */
TEST_F(DisplayDevice, CreationFallsBackFromDriverToEmulation) {
    struct {
        const char *profile;
        bool chosen;
        int32_t flags;
        DWORD fail;
        const char *traces;
        int32_t result, created;
        const char *error;
    } table[] = {
        {"modern", false, 0, 0, "[DDRAW] create default HAL\n", 1, 1, nullptr},
        {"modern", true, 0, 0, "[DDRAW] create specific HAL\n", 1, 1, nullptr},
        {"modern", true, 0, PLAT_DDCREATE_DRIVER,
         "[DDRAW] create specific HAL\n[DDRAW] create default HAL\n", 1, 2, nullptr},
        {"modern", false, 0, PLAT_DDCREATE_HARDWARE,
         "[DDRAW] create default HAL\n[DDRAW] create HEL\n", 1, 2, nullptr},
        {"modern", true, GRF_EMULATION, 0, "[DDRAW] create HEL\n", 1, 1, nullptr},
        {"emulation", false, 0, 0, "[DDRAW] create default HAL\n[DDRAW] create HEL\n", 1, 2,
         nullptr},
        {"modern", false, 0, PLAT_DDCREATE_HARDWARE | PLAT_DDCREATE_EMULATION,
         "[DDRAW] create default HAL\n[DDRAW] create HEL\n", 0, 2, "FAILED DirectDrawCreate"},
        {"modern", false, 0, PLAT_DDCREATE_DDRAW2, "[DDRAW] create default HAL\n", 0, 1,
         "FAILED TO ACQUIRE DDRAW2 INTERFACE"},
    };
    /* The primary display driver comes first, with an all-zero identifier; the hardware
     * driver after it is the one chosen. */
    static std::vector<std::string> drivers;
    enumdisplaydrivers([](const uint8_t *guid, const char *, const char *name) {
        static const uint8_t none[16] = {};
        drivers.push_back(std::string(memcmp(guid, none, 16) == 0 ? "0 " : "id ") + name);
        memcpy(displaydriverguid, guid, 16);
    });
    ASSERT_EQ(drivers.size(), 2u);
    EXPECT_EQ(drivers[0].substr(0, 2), "0 ");
    EXPECT_EQ(drivers[1], "id vanguard.drv");
    uint8_t chosen[16];
    const uint8_t none[16] = {};
    memcpy(chosen, displaydriverguid, 16);
    for (const auto &row : table) {
        SCOPED_TRACE(row.traces);
        plat_ddrawreset();
        ASSERT_EQ(plat_ddrawsetprofile(row.profile), 1);
        memcpy(displaydriverguid, row.chosen ? chosen : none, 16);
        graphicsflags = row.flags;
        plat_ddrawfailcreate(row.fail);
        display.createcount = 0;
        grfop_error = "SEND";
        int32_t result = 0;
        EXPECT_EQ(traced(1, [&] { result = opendirectdraw(&display); }), row.traces);
        EXPECT_EQ(result, row.result);
        EXPECT_EQ(display.createcount, row.created);
        EXPECT_EQ(display.directdraw != nullptr, row.result == 1);
        EXPECT_STREQ(grfop_error.load(), row.error);
        disposewindisplay(&display);
        int objects = -1;
        plat_ddrawlive(&objects, nullptr, nullptr, nullptr);
        EXPECT_EQ(objects, 0) << "a device left behind";
    }
}

/* ---- the mode list ----------------------------------------------------------------------- */

/* Without a device or a window the list is not built, and the text says which. Three
 * modes fill a list block of the minimum 16 records; a 16-bit mode's depth comes from its
 * masks (15 or 16), and the depths seen are collected. */
TEST_F(DisplayDevice, ModeListAndDepths) {
    useprofile("mode 640x480x8 60\nmode 640x480x16/555 70\nmode 800x600x16/565 60\n");
    grfop_error = nullptr;
    EXPECT_EQ(enumdisplaymodes(&display), 0);
    EXPECT_STREQ(grfop_error.load(), "DIRECTDRAW IS NOT INITIALIZED");
    ASSERT_EQ(opendirectdraw(&display), 1);
    EXPECT_EQ(enumdisplaymodes(&display), 0);
    EXPECT_STREQ(grfop_error.load(), "GDI WINDOW DOES NOT EXIST.");
    disposewindisplay(&display);
    opendevice(0);
    EXPECT_EQ(display.modecount, 3);
    EXPECT_EQ(memblocksize(display.modelist), 16 * 20);
    EXPECT_STREQ(memblockname(display.modelist), "DDRAWMODES");
    EXPECT_EQ(availabledepths, AD_8 | AD_15 | AD_16);
    const auto *list = static_cast<const displaymode *>(display.modelist);
    std::vector<std::vector<uint32_t>> modes;
    for (int i = 0; i < 3; i++) {
        modes.push_back({list[i].width, list[i].refresh, list[i].bitcount, list[i].depth,
                         list[i].pagecount,
                         list[i].flags & ~(uint32_t)(DM_ALPHADEPTH | DM_ZBUFFERDEPTH | DM_MODEX)});
    }
    EXPECT_EQ(modes, (std::vector<std::vector<uint32_t>>{{640, 60, 8, 8, 1, ddrawcaps},
                                                         {640, 70, 16, 15, 1, ddrawcaps},
                                                         {800, 60, 16, 16, 1, ddrawcaps}}));

    /* A new enumeration replaces the list; disposal gives it back with the device. */
    const int32_t free = largestmemblock(0);
    std::string text = traced(8, [] { ASSERT_EQ(enumdisplaymodes(&display), 1); });
    ASSERT_NE(text.find("3 modes\n"), std::string::npos);
    EXPECT_EQ(text.substr(text.find("3 modes\n")),
              "3 modes\n"
              "[DDRAW]    640x 480x 8( 8) [ 640] 1 pg ND 4cc=00000000\n"
              "[DDRAW]    640x 480x16(15) [1280] 1 pg ND 4cc=00000000\n"
              "[DDRAW]    800x 600x16(16) [1600] 1 pg ND 4cc=00000000\n"
              "[DDRAW] enumdisplaymodes 3 modes, defaults 0000, err = 0\n");
    EXPECT_EQ(largestmemblock(0), free);
    text = traced(10, [] { disposewindisplay(&display); });
    EXPECT_EQ(text, "[DDRAW] disposewindisplay\n"
                    "[DDRAW] removing previous surfaces & windows\n"
                    "[DDRAW] old video system destroyed\n"
                    "[DDRAW] direct draw object ...released!\n");
    EXPECT_GT(largestmemblock(0), free);
    EXPECT_EQ(display.modelist, nullptr);
    EXPECT_EQ(display.directdraw, nullptr);
    EXPECT_EQ(display.clipper, nullptr);
}

/* getdisplaymodeinfo: the windowed desktop (-1), and what has no answer (the display
 * suite asks for the listed modes). */
TEST_F(DisplayDevice, ModeInformation) {
    graphicsup(GRF_SYSMEMBACK | GRF_SINGLEPAGE);
    displaymodeinfo info;
    memset(&info, 0x55, sizeof info);
    const auto fields = [&info] {
        return std::vector<int32_t>{info.width, info.height, info.depth, info.type};
    };
    ASSERT_EQ(getdisplaymodeinfo(-1, &info), 1);
    EXPECT_EQ(fields(), (std::vector<int32_t>{320, 200, 32, windowtype(32)}));
    EXPECT_EQ(info.flags, 0) << "one page: no flipping although the card can";
    memset(&info, 0x55, sizeof info);
    EXPECT_EQ(getdisplaymodeinfo(display.modecount, &info), 0);
    EXPECT_EQ(info.width, 0) << "the record is cleared even when there is no answer";
    /* The window thread reads the switch as it runs its loop: written whole. */
    std::atomic_ref<uint8_t>(display.fullscreen).store(1);
    EXPECT_EQ(getdisplaymodeinfo(-1, &info), 0);
    std::atomic_ref<uint8_t>(display.fullscreen).store(0);
}

/* Asking for the video memory without a display brings graphics up in the default mode
 * first; the answer is the hardware's, with the depths of every mode. */
TEST_F(DisplayDevice, VideoMemoryQueryBringsGraphicsUp) {
    useprofile("mode 640x480x16/565 60\nmode 640x480x32 60\n");
    uint32_t depths = 0;
    int32_t bankswitched = -1;
    EXPECT_EQ(getvideomemory(&depths, &bankswitched), 16u << 20);
    EXPECT_EQ(graphicsstate, GRAPHICS_UP);
    EXPECT_EQ(depths, AD_16 | AD_32);
    EXPECT_EQ(bankswitched, 0);
    EXPECT_EQ(getnumdisplaymodes(), 2);
}

/* ---- mode switching ----------------------------------------------------------------------- */

/* The display record's size, origin and mode index. */
std::vector<int32_t> geometry() {
    return {display.width, display.height, display.originx, display.originy, display.modeindex};
}

/* Index of the first listed mode of that size and bit count, or -1. */
int32_t findmode(uint32_t width, uint32_t height, uint32_t bitcount) {
    const auto *list = static_cast<const displaymode *>(display.modelist);
    for (int32_t i = 0; i < display.modecount; i++) {
        if (list[i].width == width && list[i].height == height && list[i].bitcount == bitcount) {
            return i;
        }
    }
    return -1;
}

/* A driver that sets 800 x 600 for 640 x 480: the asked size is kept and centred. */
TEST_F(DisplayDevice, LargerModeIsCentred) {
    plat_ddrawsetprofile("largermode");
    opendevice(1);
    int32_t m = findmode(640, 480, 8);
    ASSERT_GE(m, 0);
    EXPECT_EQ(setdisplaymode(&display, m), 1);
    EXPECT_EQ(geometry(), (std::vector<int32_t>{640, 480, 80, 60, m}));
    EXPECT_EQ(display.bitcount, 8);
}

/* A refused mode fails and is marked (the start-up search shows that it is not tried
 * again); an index beyond the list means the first mode. */
TEST_F(DisplayDevice, RefusedModeIsMarkedFailed) {
    opendevice(1);
    auto *list = static_cast<displaymode *>(display.modelist);
    plat_ddrawrefusemode(list[0].width, list[0].height, list[0].bitcount);
    EXPECT_EQ(setdisplaymode(&display, display.modecount + 3), 0);
    EXPECT_EQ(display.modeindex, 0);
    EXPECT_NE(list[0].flags & DM_FAILED, 0u);
}

/* Windowed, a window not yet placed (origin below -5000) is centred on the screen; a
 * placed one stays where it is. Either way the record takes the client area. */
TEST_F(DisplayDevice, WindowedDisplayIsCentredOnlyWhenNotPlaced) {
    opendevice(0);
    const int32_t screenw = GetSystemMetrics(SM_CXSCREEN);
    const int32_t screenh = GetSystemMetrics(SM_CYSCREEN);
    struct {
        int32_t x, y, expectx, expecty;
    } table[] = {{-8192, -8192, (screenw - 320) / 2, (screenh - 200) / 2},
                 {-8192, 40, (screenw - 320) / 2, 40},
                 {30, 40, 30, 40}};
    for (const auto &row : table) {
        SCOPED_TRACE(row.x);
        placemainwindow(row.x, row.y, 320, 200);
        ASSERT_EQ(setdisplaymode(&display, -1), 1);
        EXPECT_EQ(geometry(), (std::vector<int32_t>{320, 200, row.expectx, row.expecty, -1}));
    }
}

/* ---- configuration ---------------------------------------------------------------------- */

/* GRF_LIBMEM: no back surface; the back window is a memory window, copied into the
 * library's back window record. */
TEST_F(DisplayDevice, LibraryMemoryBackWindow) {
    std::string text = traced(8, [&] { graphicsup(GRF_FULLSCREEN | GRF_LIBMEM); });
    EXPECT_NE(text.find("[DDRAW] Requested config: doublebuffer, LIBMEM\n"), std::string::npos);
    EXPECT_EQ(display.back, nullptr);
    auto *back = static_cast<rasterwindow *>(display.backwindow);
    ASSERT_NE(back, nullptr);
    EXPECT_NE(back, getbackwindow());
    EXPECT_EQ(back->surface, nullptr);
    EXPECT_EQ(back->marker, 0);
    EXPECT_EQ(back->width, display.width);
    EXPECT_EQ(memcmp(back, getbackwindow(), sizeof *back), 0);
}

/* The default options: one page, the back buffer an off-screen surface in system
 * memory. Two pages: a flip chain where the hardware has one, else the primary falls back
 * to a single page with an off-screen back buffer in video memory; a bank-switched card
 * without flipping asks for its primary in system memory. The capability word follows
 * the hardware: flipping, bank switching. */
TEST_F(DisplayDevice, PrimaryFallbacks) {
    const int32_t defaults = GRF_FULLSCREEN | GRF_SYSMEMBACK | GRF_SINGLEPAGE;
    struct {
        const char *profile;
        int32_t flags;
        DWORD failkinds;
        const char *config;
        int32_t pages;
        bool nonflipping, flip, bankswitched;
        DWORD memory;
    } table[] = {
        {"modern", defaults, 0, "doublebuffer, DRAM", 1, false, true, false, DDSCAPS_SYSTEMMEMORY},
        {"modern", GRF_FULLSCREEN, 0, "pageflip, VRAM", 2, false, true, false, DDSCAPS_VIDEOMEMORY},
        {"modern", GRF_FULLSCREEN, PLAT_DDKIND_FLIPCHAIN, "pageflip, VRAM", 1, true, true, false,
         DDSCAPS_VIDEOMEMORY},
        {"noflip", GRF_FULLSCREEN, 0, "pageflip, VRAM", 1, true, false, false, DDSCAPS_VIDEOMEMORY},
        {"bankswitched", GRF_FULLSCREEN, 0, "doublebuffer, DRAM", 1, true, false, true,
         DDSCAPS_VIDEOMEMORY},
    };
    for (const auto &row : table) {
        SCOPED_TRACE(row.config);
        plat_ddrawreset();
        plat_ddrawfailsurfaces(row.failkinds);
        std::string text = traced(14, [&] { graphicsup(row.flags, row.profile); });
        EXPECT_NE(text.find(std::string("[DDRAW] Requested config: ") + row.config),
                  std::string::npos);
        EXPECT_EQ(text.find("[DDRAW] trying for nonflipping surface\n") != std::string::npos,
                  row.nonflipping);
        EXPECT_EQ(display.pages, row.pages);
        ASSERT_NE(display.back, nullptr);
        const DWORD caps = describe(display.back).ddsCaps.dwCaps;
        EXPECT_EQ((caps & DDSCAPS_BACKBUFFER) != 0, row.pages == 2);
        EXPECT_EQ(caps & (DDSCAPS_VIDEOMEMORY | DDSCAPS_SYSTEMMEMORY), row.memory);
        EXPECT_EQ((ddrawcaps & DC_FLIP) != 0, row.flip);
        EXPECT_EQ((ddrawcaps & DC_BANKSWITCHED) != 0, row.bankswitched);
        int32_t bankswitched = -1;
        uint32_t depths = 0;
        EXPECT_EQ(getddrawinfo(&display, nullptr, nullptr, &bankswitched, &depths), 1);
        EXPECT_EQ(bankswitched, row.bankswitched ? 1 : 0);
        restoregraphics();
    }
}

/* A ModeX mode: the primary turns out to be ModeX, so it is made again with two pages;
 * the mode's information stops before the blit flags. */
TEST_F(DisplayDevice, ModeXPrimaryIsMadeAgainWithTwoPages) {
    plat_ddrawsetprofile("bankswitched");
    graphicsflags = GRF_FULLSCREEN | GRF_MODEX;
    std::string text = traced(14, [] { initgraphics(320, 240, 8); });
    ASSERT_EQ(graphicsstate, GRAPHICS_UP);
    EXPECT_NE(text.find("[DDRAW] recreate ModeX primary surface\n"), std::string::npos);
    EXPECT_NE(text.find("2pg XD F\n"), std::string::npos) << text;
    EXPECT_EQ(isdisplaymodex(), 1);
    EXPECT_EQ(display.pages, 2);
    EXPECT_EQ(display.back, getbackbuffer(display.primary));
    IDirectDrawSurface_Release(display.back); /* the reference getbackbuffer took */
    displaymodeinfo info;
    ASSERT_EQ(getdisplaymodeinfo(display.modeindex, &info), 1);
    /* Flipping is the hardware's flip capability, which this card lacks. */
    EXPECT_EQ(info.flags & (DMI_MODEX | DMI_PAGEFLIP | DMI_BANKSWITCHED),
              DMI_MODEX | DMI_BANKSWITCHED);
    static_cast<displaymode *>(display.modelist)[display.modeindex].flags |= DC_BLT;
    ASSERT_EQ(getdisplaymodeinfo(display.modeindex, &info), 1);
    EXPECT_EQ(info.flags & DMI_BLT, 0);
}

/* One or two pages: none asked for means one, and no back buffer at all; the current
 * mode (the first here) is marked as flipping on a card that flips. More than two is
 * refused before anything is made. */
TEST_F(DisplayDevice, PagesRequested) {
    useprofile("mode 640x480x8 60\n");
    opendevice(1);
    applygraphicsflags();
    ASSERT_EQ(setdisplaymode(&display, 0), 1);
    display.pagesrequested = 0;
    display.pages = 1;
    ASSERT_EQ(configwindisplay(&display), 1);
    EXPECT_EQ(display.pagesrequested, 1);
    EXPECT_EQ(display.back, nullptr);
    EXPECT_EQ(display.backwindow, nullptr);
    EXPECT_NE(static_cast<displaymode *>(display.modelist)[0].flags & DM_CANFLIP, 0u);

    display.pagesrequested = 3;
    EXPECT_EQ(configwindisplay(&display), 0);
    EXPECT_STREQ(grfop_error.load(), "ONLY 1 OR 2 VIDEO PAGES SUPPORTED.");
    EXPECT_EQ(display.primary, nullptr);
}

/* ---- palette --------------------------------------------------------------------------- */

/* Sets palette entry i (the device sees it once it is in the changed range). */
void setentry(int i, uint8_t red, uint8_t green, uint8_t blue) {
    display.entries[i][0] = red;
    display.entries[i][1] = green;
    display.entries[i][2] = blue;
}

/* The changed range is empty. */
bool nochange() {
    return display.dirtyfirst == 256 && display.dirtylast == -1;
}

/* Nothing goes to the device when nothing changed (the palette suite sends ranges), and
 * the range is empty afterwards. A locked surface makes it a fatal report. */
TEST_F(DisplayDevice, PaletteTransferSendsTheChangedRange) {
    uint32_t colours[256];
    memset(colours, 0x55, sizeof colours);
    getwinpalette(&display, colours);
    EXPECT_EQ(std::count(colours, colours + 256, 0u), 256) << "no palette: all black";
    graphicsup(GRF_FULLSCREEN | GRF_SYSMEMBACK | GRF_SINGLEPAGE);
    display.dirtyfirst = 256;
    display.dirtylast = -1;
    setentry(5, 1, 2, 3);
    std::string text = traced(1, [] { setwinpalette(&display); });
    EXPECT_EQ(text, "[DDRAW] setwinpalette\n");
    getwinpalette(&display, colours);
    EXPECT_NE(colours[5], 0xFF010203u);
    EXPECT_TRUE(nochange());

    ASSERT_EQ(displaywindow(), 1);
    setwinpalette(&display);
    releasedisplaywindow();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], "setwinpalette - SURFACE MAY NOT BE LOCKED DURING SETPALETTE.\n");
}

/* ---- blits ------------------------------------------------------------------------------- */

/* The 16 pixels of a 4 x 4 8-bit surface; with fill, written first. */
std::vector<uint8_t> pixels(IDirectDrawSurface *surface, const std::vector<uint8_t> &fill = {}) {
    DDSURFACEDESC desc;
    memset(&desc, 0, sizeof desc);
    desc.dwSize = sizeof desc;
    IDirectDrawSurface_Lock(surface, nullptr, &desc, DDLOCK_WAIT, nullptr);
    std::vector<uint8_t> out;
    for (size_t i = 0; i < 16; i++) {
        uint8_t &pixel = static_cast<uint8_t *>(desc.lpSurface)[i / 4 * desc.lPitch + i % 4];
        pixel = fill.empty() ? pixel : fill[i];
        out.push_back(pixel);
    }
    IDirectDrawSurface_Unlock(surface, desc.lpSurface);
    return out;
}

/* A 4 x 4 8-bit system-memory surface holding fill. */
IDirectDrawSurface *surfacewith(const std::vector<uint8_t> &fill) {
    IDirectDrawSurface *surface = makesurface(
        &display, 4, 4, 8, 0, 0, DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY, nullptr);
    if (surface != nullptr) {
        pixels(surface, fill);
    }
    return surface;
}

/* The options choose the rotation (0x3: 270 degrees, clockwise) and the source colour
 * key (0x10, here the corner pixel 0xFF), and nothing else. */
TEST_F(DisplayDevice, BlitOptionsChooseRotationAndColourKey) {
    graphicsup(GRF_FULLSCREEN | GRF_SYSMEMBACK | GRF_SINGLEPAGE);
    std::vector<uint8_t> pattern(16);
    for (size_t i = 0; i < 16; i++) {
        pattern[i] = i == 0 ? 0xFF : (uint8_t)i;
    }
    IDirectDrawSurface *source = surfacewith(pattern);
    ASSERT_NE(source, nullptr);
    const std::vector<uint8_t> rotated{12, 8, 4, 0xFF, 13, 9, 5, 1, 14, 10, 6, 2, 15, 11, 7, 3};
    for (int32_t options : {0x3, 0x13}) {
        IDirectDrawSurface *target = surfacewith(std::vector<uint8_t>(16, 0x80));
        EXPECT_EQ(blitsurface(target, 0, 0, 4, 4, source, 0, 0, 4, 4, options), 1);
        std::vector<uint8_t> want = rotated;
        want[3] = options & 0x10 ? 0x80 : 0xFF;
        EXPECT_EQ(pixels(target), want) << options;
        IDirectDrawSurface_Release(target);
    }
    IDirectDrawSurface_Release(source);
}

/* ---- the lock ---------------------------------------------------------------------------- */

/* Locking the locked surface again answers 1 and touches nothing: no second hold of
 * liblock, no new lock time. (A lock that fails and recovers: the start-up suite's
 * stand-by window case.) */
TEST_F(DisplayDevice, LockAgainTouchesNothing) {
    graphicsup(GRF_FULLSCREEN | GRF_SYSMEMBACK | GRF_SINGLEPAGE);
    ASSERT_EQ(backdisplaywindow(), 1);
    locktick = 12345;
    lastlocktime = 777;
    EXPECT_EQ(locksurface(&display, display.back, nullptr), 1);
    EXPECT_EQ(locktick, 12345u);
    EXPECT_EQ(lastlocktime, 777);
    locktick = GetTickCount();
    unlocksurface(&display);
    EXPECT_EQ(display.lockedsurface, nullptr);
    std::atomic<bool> entered{false};
    std::thread other([&] {
        enterlock(liblock);
        entered = true;
        leavelock(liblock);
    });
    other.join();
    EXPECT_TRUE(entered) << "one unlock gives liblock up";
    EXPECT_GE(maxlocktime, lastlocktime);
}

/* Windowed, the primary is the desktop: a window locked over it, and a fill of it, start
 * at the client area; a window over another surface starts at its first pixel. */
TEST_F(DisplayDevice, WindowedPrimaryStartsAtTheClientArea) {
    graphicsup(GRF_SYSMEMBACK | GRF_SINGLEPAGE);
    ASSERT_TRUE(display.originx > 0 || display.originy > 0);
    ASSERT_EQ(fillsurface(display.primary, 0, 0, 1, 1, 0x2A), 1);
    ASSERT_EQ(displaywindow(), 1);
    EXPECT_EQ(currentwindow.data[0], 0x2A);
    ASSERT_EQ(backdisplaywindow(), 1);
    EXPECT_EQ(currentwindow.data, display.lockedpixels);
    releasedisplaywindow();
}

/* Lost surfaces are restored by the lock, whichever of primary and back is locked: both
 * come back, the palette is loaded again whole, and the display-changed hook runs. */
TEST_F(DisplayDevice, LostSurfacesAreRestoredWithThePaletteOrFailTheLock) {
    graphicsup(GRF_FULLSCREEN | GRF_SYSMEMBACK | GRF_SINGLEPAGE);
    for (int32_t (*lock)(void) : {displaywindow, backdisplaywindow}) {
        plat_ddrawloseall();
        setentry(7, 9, 8, 7);
        display.dirtyfirst = 7;
        display.dirtylast = 7;
        const int32_t changes = displaychangecount;
        std::string text = traced(12, [&] { EXPECT_EQ(lock(), 1); });
        EXPECT_EQ(text, "[DDRAW] SURFACE LOST, RESTORING\n"
                        "[DDRAW] relock = 0\n"
                        "[DDRAW] reset palette entries (0)\n"
                        "[DDRAW] reset palette (0)\n"
                        "[DDRAW] restore done\n");
        releasedisplaywindow();
        EXPECT_EQ(surfacelost(display.primary), 0);
        EXPECT_EQ(surfacelost(display.back), 0);
        EXPECT_EQ(displaychangecount, changes + 1);
        EXPECT_TRUE(nochange());
        uint32_t colours[256];
        getwinpalette(&display, colours);
        EXPECT_EQ(colours[7], 0xFF090807u);
    }

    /* A surface that stays lost fails the lock with the lost code; the program carries on
     * with the stand-by window. */
    plat_ddrawloseall();
    plat_ddrawfailrestore(1);
    std::string text = traced(4, [] { EXPECT_EQ(displaywindow(), 0); });
    EXPECT_EQ(text, "[DDRAW] locksurface - FAILED TO LOCK SURFACE (000001c2)\n");
    EXPECT_EQ(currentwindow.width, 8);
    DDSURFACEDESC desc;
    EXPECT_EQ(lockwithrestore(nullptr, display.back, &desc), 0x1C2);
    EXPECT_EQ(testlocksurface(display.back), 0);
}

/* A surface that is restored but still cannot be locked (here: someone else holds its
 * lock) has the display rebuilt; the lock then holds the rebuilt surface in the same
 * role, and the window addresses it. */
TEST_F(DisplayDevice, RestoredSurfaceThatWillNotLockRebuildsTheDisplay) {
    graphicsup(GRF_FULLSCREEN | GRF_SYSMEMBACK | GRF_SINGLEPAGE);
    IDirectDrawSurface *old = display.back;
    const int32_t created = display.createcount;
    DDSURFACEDESC held;
    memset(&held, 0, sizeof held);
    held.dwSize = sizeof held;
    ASSERT_EQ(IDirectDrawSurface_Lock(old, nullptr, &held, DDLOCK_WAIT, nullptr), DD_OK);
    plat_ddrawloseall();
    std::string text = traced(11, [] { EXPECT_EQ(backdisplaywindow(), 1); });
    EXPECT_NE(text.find("[DDRAW] relock = 1ae\n[DDRAW] restore failed, reiniting\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("[DDRAW] reinit lock = 0\n"), std::string::npos);
    EXPECT_NE(text.find("[DDRAW] restore done\n"), std::string::npos);
    EXPECT_GT(display.createcount, created);
    ASSERT_NE(display.back, nullptr);
    EXPECT_EQ(display.lockedsurface, display.back);
    EXPECT_EQ(currentwindow.surface, display.back);
    EXPECT_EQ(getbackwindow()->surface, display.back);
    EXPECT_EQ(static_cast<void *>(currentwindow.data), display.lockedpixels);
    releasedisplaywindow();
}

/* The relock gives liblock up between unlock and lock. When another thread flips the
 * pages meanwhile, the locked back buffer's pixels have moved: the relock fails and
 * drawing goes to the stand-by window. */
TEST_F(DisplayDevice, RelockAtAnotherAddressFailsAndFlipStatus) {
    graphicsup(GRF_FULLSCREEN);
    ASSERT_EQ(display.pages, 2);
    ASSERT_EQ(backdisplaywindow(), 1);
    void *before = display.lockedpixels;
    EXPECT_EQ(relocksurface(&display), 1);
    EXPECT_EQ(display.lockedpixels, before);

    std::atomic<bool> flipped{false};
    std::thread flipper([&] {
        enterlock(liblock);
        IDirectDrawSurface_Flip(display.primary, nullptr, DDFLIP_WAIT);
        flipped = true;
        leavelock(liblock);
    });
    std::string text;
    int32_t result = 1;
    const uint32_t start = GetTickCount();
    while (result == 1 && GetTickCount() - start < 5000) {
        text = traced(3, [&] { result = relocksurface(&display); });
    }
    flipper.join();
    ASSERT_TRUE(flipped);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(text, "relocksurface failed\n");
    EXPECT_EQ(lastlocktime, 0);
    EXPECT_EQ(display.lockedsurface, nullptr);
    EXPECT_EQ(currentwindow.surface, nullptr);
    EXPECT_EQ(relocksurface(&display), 1) << "nothing locked";

    /* flipdisplay releases the lock and flips; flipdone and waitblitdone follow the
     * device's still-drawing answers. */
    ASSERT_EQ(backdisplaywindow(), 1);
    EXPECT_EQ(flipdisplay(&display, 1), 1);
    EXPECT_EQ(display.lockedsurface, nullptr);
    plat_ddrawstilldrawing(1);
    EXPECT_EQ(flipdone(&display), 0);
    EXPECT_EQ(flipdone(&display), 1);
    plat_ddrawstilldrawing(3);
    waitblitdone(display.back);
    EXPECT_EQ(flipdone(&display), 1) << "the busy answers were used up";
}

} // namespace
