/*
 * palette_test.cpp - the system palette: the setters in their three forms and the
 * readers, clipping to 256 entries, the default colours, the obsolete 6-bit reader; on
 * the software display device (POSIX): the hand-off to an 8-bit display with its dirty
 * range, a 16-bit display, and a windowed display whose colours are read back (a change
 * while the display is locked is in the graphics start-up suite).
 *
 * Each case runs in a process of its own (CTest), so the library's globals start fresh.
 */
#include "thistle/createw.h"
#include "thistle/diag.h"
#include "thistle/initgrf.h"
#include "thistle/memstd.h"
#include "thistle/palette.h"
#include "thistle/startup.h"
#include "thistle/syshelp.h"
#include "thistle/threads.h"
#include "thistle/window.h"

#ifndef _WIN32
#include "grffixture.h"
#endif
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<std::string> reports;
int32_t cancelreport(const char *text) {
    reports.emplace_back(text);
    return 0;
}

/* Entries first .. first + count - 1 of the system palette. */
std::vector<uint32_t> entries(int first, int count) {
    return {systempalette + first, systempalette + first + count};
}
using colourlist = std::vector<uint32_t>;

TEST(PaletteSetters, ThreeFormsReadBackAndOnlyCountWhileGraphicsAreDown) {
    const uint8_t rgb[6] = {1, 2, 3, 4, 5, 6};
    setpalette(250, 2, rgb);
    EXPECT_EQ(entries(250, 3), (colourlist{0xFF010203, 0xFF040506, 0}));
    /* Six bits widen with the top bits repeated: 63 -> 255, 32 -> 130, 1 -> 4. */
    const uint8_t vga[6] = {63, 0, 32, 1, 16, 62};
    vgapalette(3, 2, vga);
    EXPECT_EQ(entries(3, 2), (colourlist{0xFFFF0082, 0xFF0441FB}));
    const uint32_t colours[2] = {0x12345678, 0};
    systempalette[101] = 0xFFFFFFFF;
    setpalette32(100, 2, colours); /* alpha as given, 0 included */
    EXPECT_EQ(entries(100, 2), (colourlist{0x12345678, 0}));

    uint8_t back[6] = {};
    getpalette(250, 2, back);
    EXPECT_EQ(std::memcmp(back, rgb, 6), 0);
    uint32_t back32[2] = {1, 1};
    getpalette32(99, 2, back32);
    EXPECT_EQ(back32[1], 0x12345678u);

    /* Graphics are down: every change is counted (the display record is left alone, as the
     * graphics start-up suite shows). */
    EXPECT_EQ(palettechangecount, 3);
}

TEST(PaletteSetters, RangesAreCutToThePalette) {
    /* Entries below 0 are skipped together with their input; past 255 nothing is written
     * (the palette's neighbours would be). */
    const uint8_t rgb[12] = {1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4};
    setpalette(-2, 4, rgb);
    EXPECT_EQ(entries(0, 3), (colourlist{0xFF030303, 0xFF040404, 0}));
    uint8_t out[6] = {0xEE, 0xEE, 0xEE, 0, 0, 0};
    getpalette(-1, 2, out);
    EXPECT_EQ(out[2], 0xEE);
    EXPECT_EQ(out[3], 3);
    const uint32_t colours[4] = {0xA, 0xB, 0xC, 0xD};
    setpalette32(254, 4, colours);
    EXPECT_EQ(systempalette[255], 0xBu);
    uint32_t tail[3] = {0, 0, 0x77};
    getpalette32(254, 3, tail);
    EXPECT_EQ(tail[1], 0xBu);
    EXPECT_EQ(tail[2], 0x77u);
}

TEST(PaletteSetters, DefaultPalette) {
    setdefaultpalette();
    EXPECT_EQ(systempalette[6], 0xFFA85400u);
    EXPECT_EQ(systempalette[150], 0xFF0004FCu);
    EXPECT_EQ(systempalette[255], 0xFFFFFFFFu); /* matching against it: ConvRowPixel */
}

TEST(PaletteSetters, SixBitReadIsAlwaysAFatalReport) {
    fatalfilterhook = cancelreport;
    getvgapalette();
    fatalfilterhook = nullptr;
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0],
              "getvgapalette - STOP USING VGA PALETTES, THEY`VE BEEN OBSOLETE FOR 5 YEARS!\n");
    EXPECT_STREQ(errorsite.file, "win\\palette");
}

#ifndef _WIN32

class PaletteDisplay : public GraphicsTest {
  protected:
    /* The device's entry i as 0xRRGGBB. */
    static uint32_t device(int i) {
        PALETTEENTRY entry{};
        EXPECT_EQ(IDirectDrawPalette_GetEntries(display.palette, 0, DWORD(i), 1, &entry), DD_OK);
        return uint32_t(entry.peRed) << 16 | uint32_t(entry.peGreen) << 8 | entry.peBlue;
    }

    /* Runs f with a device palette that keeps entry 0 black and 255 white, as a display
     * shared with the system does. */
    template <typename F>
    static void withreservedpalette(F f) {
        IDirectDrawPalette *own = display.palette;
        IDirectDrawPalette *reserved = nullptr;
        ASSERT_EQ(IDirectDraw2_CreatePalette(display.directdraw, DDPCAPS_8BIT,
                                             (PALETTEENTRY *)display.entries, &reserved, nullptr),
                  DD_OK);
        display.palette = reserved;
        f();
        display.palette = own;
        IDirectDrawPalette_Release(reserved);
    }
};

TEST_F(PaletteDisplay, FullScreenTakesTheChangedRangeAndKeepsTheSystemColours) {
    initgraphics(640, 480, 8);
    ASSERT_EQ(graphicsstate, GRAPHICS_UP);
    ASSERT_NE(display.fullscreen, 0);
    const uint8_t rgb[6] = {0x10, 0x20, 0x30, 0xF0, 0xE0, 0xD0};
    /* The mode set left every entry pending: the first change sends them all, then only
     * what changed. */
    std::string out = traced(1, [&] { setpalette(10, 2, rgb); });
    EXPECT_NE(out.find("set entries (0, 256)"), std::string::npos) << out;
    out = traced(1, [&] { setpalette(10, 2, rgb); });
    EXPECT_NE(out.find("set entries (10, 2)"), std::string::npos) << out;
    EXPECT_EQ(device(10), 0x102030u);
    EXPECT_EQ(device(11), 0xF0E0D0u);
    EXPECT_EQ(display.entries[11][2], 0xD0);
    EXPECT_EQ(display.entries[11][3], 0);

    /* A range still pending is widened, not replaced, at either end. */
    display.dirtyfirst = 3;
    display.dirtylast = 4;
    out = traced(1, [&] { setpalette(20, 1, rgb); });
    EXPECT_NE(out.find("set entries (3, 18)"), std::string::npos) << out;
    display.dirtyfirst = 200;
    display.dirtylast = 210;
    out = traced(1, [&] { setpalette(20, 1, rgb); });
    EXPECT_NE(out.find("set entries (20, 191)"), std::string::npos) << out;
    EXPECT_EQ(display.dirtyfirst, 256);

    /* Full screen, the system palette keeps what was set even where the device differs. */
    withreservedpalette([&] {
        setpalette(0, 1, rgb + 3);
        EXPECT_EQ(device(0), 0u);
        EXPECT_EQ(systempalette[0], 0xFFF0E0D0u);
    });
}

TEST_F(PaletteDisplay, SixteenBitDisplayOnlyCounts) {
    initgraphics(640, 480, 16);
    ASSERT_EQ(graphicsstate, GRAPHICS_UP);
    ASSERT_EQ(display.bitcount, 16);
    const uint8_t entry5[4] = {display.entries[5][0], display.entries[5][1], display.entries[5][2],
                               display.entries[5][3]};
    const int32_t before = palettechangecount;
    const uint8_t rgb[3] = {1, 2, 3};
    const std::string out = traced(1, [&] { setpalette(5, 1, rgb); });
    EXPECT_EQ(palettechangecount, before + 1);
    EXPECT_EQ(systempalette[5], 0xFF010203u);
    EXPECT_EQ(std::memcmp(display.entries[5], entry5, 4), 0);
    EXPECT_EQ(out.find("set entries"), std::string::npos) << out;
}

TEST_F(PaletteDisplay, WindowedReadsBackTheColoursTheDisplayTook) {
    graphicsflags &= ~GRF_FULLSCREEN;
    plat_ddrawsetprofile("8bit"); /* an 8-bit desktop */
    initgraphics(320, 200, 8);
    ASSERT_EQ(graphicsstate, GRAPHICS_UP);
    ASSERT_EQ(display.fullscreen, 0);
    ASSERT_EQ(display.bitcount, 8);
    withreservedpalette([] {
        const uint32_t colours[3] = {0x80FF0000, 0x8000FF00, 0x40123456};
        setpalette32(254, 2, colours); /* 255 stays white, with the alpha given */
        setpalette32(0, 2, colours);   /* 0 stays black */
        EXPECT_EQ(entries(0, 2), (colourlist{0x80000000, 0x8000FF00}));
        EXPECT_EQ(entries(254, 2), (colourlist{0x80FF0000, 0x80FFFFFF}));
    });
}

#endif /* _WIN32 */

} // namespace
