// vidwin_test - video windows: the built-in records, limits and reports (made whatever
// reporterrors says), the record and its column steps, updates with the same and a new
// pitch, clip clamping, removal; on POSIX also windows over surfaces of the software
// display device.
#include "thistle/createw.h"
#include "thistle/diag.h"
#include "thistle/initgrf.h"
#include "thistle/memstd.h"
#include "thistle/row.h"
#include "thistle/vidwin.h"
#include "thistle/window.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include "plat/ddraw.h"
#include "plat/ddrawtest.h"
#endif

#include <string>
#include <utility>
#include <vector>

namespace {

std::vector<std::string> reports;
int32_t capture(const char *text) {
    EXPECT_STREQ(errorsite.file, "win\\vidwin");
    reports.push_back(text);
    return 0;
}

using strings = std::vector<std::string>;

alignas(16) uint8_t region[64 * 1024];
constexpr int32_t POOLWORDS = 4100; // room for the largest window's two runs
int32_t pool[POOLWORDS];
uint8_t pixels[64];
auto *const fakesurface = reinterpret_cast<IDirectDrawSurface *>(pixels + 8);

class Vidwin : public ::testing::Test {
  protected:
    void SetUp() override {
        initmemclasses();
        ASSERT_GT(creatememclass(3, "vid", region, sizeof region, 16, 16, 0, 0, 0, 1, 0, 0), 0);
        initrowadr(pool, POOLWORDS);
        reports.clear();
        fatalfilterhook = capture;
        reporterrors = 0; // the reports here do not depend on it
        freebefore = largestmemblock(3);
    }
    void TearDown() override {
        if (graphicsstate == GRAPHICS_UP) { // also after a failed assertion, before the pool goes
            restoregraphics();
        }
        fatalfilterhook = nullptr;
        reporterrors = 1;
        screendepth = 0;
        rowtable = nullptr;
        removememclass(3);
    }
    void expectnothingheld() {
        EXPECT_EQ(pool[0], POOLWORDS - 2);
        EXPECT_EQ(largestmemblock(3), freebefore);
    }
    int32_t freebefore = 0;
};

std::vector<int32_t> fields(const rasterwindow *w) {
    return {w->width, w->height, w->minx, w->miny,   w->maxx,
            w->maxy,  w->bpp,    w->type, w->marker, w->pitch};
}

// Both built-in records start as the 8-bit 640 x 480 screen at 0xA0000 without runs;
// classes -1 and -2 fill them, and removal gives their runs back but keeps the records.
TEST_F(Vidwin, BuiltInRecordsKept) {
    for (rasterwindow *r : {&libscreenwindow, &libbackwindow}) {
        EXPECT_EQ(r->id, WINDOW_ID);
        EXPECT_EQ(fields(r), (std::vector<int32_t>{640, 480, 0, 0, 640, 480, 8, 0x7B, 0, 640}));
        EXPECT_EQ(r->data, reinterpret_cast<uint8_t *>(uintptr_t{0xA0000}));
        EXPECT_EQ(r->rows, nullptr);
    }
    EXPECT_EQ(makevideowindow(320, 200, 320, 8, -1, pixels, fakesurface), &libscreenwindow);
    EXPECT_EQ(makevideowindow(320, 200, 320, 8, -2, pixels, nullptr), &libbackwindow);
    reporterrors = 1; // purging a built-in record would be reported
    removevideowindow(&libscreenwindow);
    removevideowindow(&libbackwindow);
    EXPECT_EQ(reports, strings{});
    EXPECT_EQ(libscreenwindow.cols, nullptr);
    EXPECT_EQ(libscreenwindow.surface, fakesurface);
    EXPECT_EQ(libbackwindow.width, 320);
    expectnothingheld();
}

// Sizes up to 2400 x 1600 are accepted. Beyond, and when the record or a run cannot be
// had, the report comes although reporterrors is off, and nothing is left behind.
TEST_F(Vidwin, LimitsAndReports) {
    rasterwindow *w = makevideowindow(2400, 1600, 2400, 8, 3, pixels, nullptr);
    ASSERT_NE(w, nullptr);
    EXPECT_STREQ(memblockname(w), "VIDWIND");
    EXPECT_EQ(memblocksize(w), static_cast<int32_t>(sizeof(rasterwindow)));
    removevideowindow(w);
    w = makevideowindow(0, 0, 0, 8, 3, pixels, nullptr);
    ASSERT_NE(w, nullptr);
    removevideowindow(w);
    EXPECT_EQ(makevideowindow(2401, 1, 1, 8, 3, pixels, nullptr), nullptr);
    EXPECT_EQ(makevideowindow(1, 1601, 1, 8, -1, pixels, nullptr), nullptr);
    initrowadr(pool, 2000);
    EXPECT_EQ(makevideowindow(1500, 1000, 1500, 8, 3, pixels, nullptr), nullptr);
    initrowadr(pool, POOLWORDS);
    void *hog = reservememadr(nullptr, freebefore, 3);
    EXPECT_EQ(makevideowindow(5, 6, 5, 8, 3, pixels, nullptr), nullptr);
    purgememadr(hog);
    EXPECT_EQ(reports, (strings{"makevideowindow - INVALID WINDOW DIMENSIONS\nrequested: "
                                "2401x1 maximum: 2400x1600\n",
                                "makevideowindow - INVALID WINDOW DIMENSIONS\nrequested: "
                                "1x1601 maximum: 2400x1600\n",
                                "makevideowindow - OUT OF ROW SPACE\nrequested: 1500x1000\n",
                                "makevideowindow - OUT OF MEMORY\nrequested: 5x6 available: 0\n"}));
    expectnothingheld();
}

// The record over the pixels: no shape header (row 0 at offset 0), marker 255, columns
// stepped by bpp rounded up to even (1 takes 2, 15 takes 16); depth 0 is screendepth,
// else 8.
TEST_F(Vidwin, RecordAndColumnSteps) {
    const std::pair<int32_t, std::vector<int32_t>> table[] = {
        {1, {0, 0, 0, 0, 1}}, {15, {0, 2, 4, 6, 8}}, {24, {0, 3, 6, 9, 12}}};
    for (const auto &[bpp, cols] : table) {
        rasterwindow *w = makevideowindow(5, 3, 100, bpp, 3, pixels, fakesurface);
        EXPECT_EQ(fields(w),
                  (std::vector<int32_t>{5, 3, 0, 0, 5, 3, bpp, windowtype(bpp), 255, 100}));
        EXPECT_EQ(w->data, pixels);
        EXPECT_EQ(w->surface, fakesurface);
        EXPECT_EQ(std::vector<int32_t>(w->rows, w->rows + 3), (std::vector<int32_t>{0, 100, 200}));
        EXPECT_EQ(std::vector<int32_t>(w->cols, w->cols + 5), cols);
        removevideowindow(w);
    }
    rasterwindow *w = makevideowindow(5, 3, 100, 0, 3, pixels, nullptr);
    EXPECT_EQ(w->bpp, 8);
    screendepth = 15;
    initvideowindow(w, 5, 3, 100, 0, pixels, nullptr); // the record's old runs are forgotten
    EXPECT_EQ(w->cols[1], 2);
}

// The same pitch keeps the row run; a new one gives the old run back before taking the
// new, so a run the window held alone is reused in place and one shared with another
// window stays that window's. Null updates the current window. Every update clamps the
// clip box into the window, its right and bottom edges never left of or above the others.
TEST_F(Vidwin, UpdateAndClipBox) {
    rasterwindow *a = makevideowindow(10, 20, 64, 8, 3, pixels, nullptr);
    int32_t *rows = a->rows;
    updatevideowindow(a, 64, pixels + 4);
    EXPECT_EQ(a->data, pixels + 4);
    EXPECT_EQ(rows[-1], 1);
    updatevideowindow(a, 80, pixels);
    EXPECT_EQ(a->rows, rows);
    EXPECT_EQ(a->rows[19], 19 * 80);
    rasterwindow *b = makevideowindow(10, 20, 80, 8, 3, pixels, nullptr);
    updatevideowindow(a, 96, pixels);
    EXPECT_EQ(a->rows[1], 96);
    EXPECT_EQ(b->rows, rows);
    EXPECT_EQ(rows[-1], 1);

    a->minx = 50;
    a->maxx = 5;
    a->miny = 5;
    a->maxy = 900;
    updatevideowindow(a, 96, pixels);
    EXPECT_EQ(fields(a), (std::vector<int32_t>{10, 20, 10, 5, 10, 20, 8, 0x7B, 255, 96}));
    b->minx = 4;
    b->maxx = 2;
    b->miny = 30;
    b->maxy = -3;
    updatevideowindow(b, 80, pixels);
    EXPECT_EQ(fields(b), (std::vector<int32_t>{10, 20, 4, 20, 4, 20, 8, 0x7B, 255, 80}));
    removevideowindow(a);
    removevideowindow(b);

    initvideowindow(&currentwindow, 10, 20, 64, 8, pixels, nullptr);
    updatevideowindow(nullptr, 32, pixels + 1);
    EXPECT_EQ(currentwindow.data, pixels + 1);
    EXPECT_EQ(currentwindow.rows[1], 32);

    initrowadr(pool, 27); // room for one row run and one column run
    rasterwindow *d = makevideowindow(2, 10, 8, 8, 3, pixels, nullptr);
    rasterwindow *e = makevideowindow(2, 10, 8, 8, 3, pixels, nullptr);
    updatevideowindow(d, 16, pixels);
    EXPECT_EQ(reports, strings{"updatevideowindow - OUT OF ROW SPACE\nrequested: 2x10\n"});
    EXPECT_EQ(d->rows, nullptr);
    EXPECT_EQ(e->rows[-1], 1);
}

#ifndef _WIN32
// With graphics up on the software device: a window over a new off-screen surface of the
// display's depth, its page lock, and the surface going with a window that cannot be made
// or that is removed.
TEST_F(Vidwin, WindowOverASoftwareSurface) {
    static uint8_t memory[1 << 20];
    ASSERT_GT(creatememclass(0, "lib", memory, sizeof memory, 16, 16, 0, 0, 0, 1, 0, 0), 0);
    rowtable = nullptr;
    initgraphics(640, 480, 16);
    ASSERT_EQ(screendepth, 16);
    int before = 0, live = 0;
    plat_ddrawlive(nullptr, &before, nullptr, nullptr);
    const uint32_t offscreen = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY;
    rasterwindow *w = videowindowdefadr(64, 32, 0, 3, offscreen);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(fields(w), (std::vector<int32_t>{64, 32, 0, 0, 64, 32, 16, 0x78, 255, w->pitch}));
    EXPECT_GE(w->pitch, 128);
    EXPECT_EQ(pagelockvideowindow(w), 0);
    EXPECT_EQ(pageunlockvideowindow(w), 0);
    plat_ddrawlive(nullptr, &live, nullptr, nullptr);
    EXPECT_EQ(live, before + 1);
    removewindow(w);
    EXPECT_EQ(videowindowdefadr(2401, 8, 16, 3, offscreen), nullptr);
    EXPECT_EQ(videowindowdefadr(8, 8, 8, 3, offscreen), nullptr);
    plat_ddrawlive(nullptr, &live, nullptr, nullptr);
    EXPECT_EQ(live, before);
    EXPECT_EQ(reports, (strings{"makevideowindow - INVALID WINDOW DIMENSIONS\nrequested: "
                                "2401x8 maximum: 2400x1600\n",
                                "videowindowdefadr - DEPTHS DIFFERENT THAN THAT OF THE DISPLAY "
                                "NOT YET SUPPORTED.\n"}));
    rasterwindow bare{};
    EXPECT_NE(pagelockvideowindow(&bare), 0); // no surface: nothing to lock
    restoregraphics();
}
#endif

} // namespace
