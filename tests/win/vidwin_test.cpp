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

#include <string>
#include <utility>
#include <vector>

namespace {

std::vector<std::string> reports;
std::vector<std::string> reportsites;
int32_t capture(const char *text) {
    reports.push_back(text);
    reportsites.push_back(errorsite.file != nullptr ? errorsite.file : "");
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
        reportsites.clear();
        fatalfilterhook = capture;
        reporterrors = 0; // the reports here do not depend on it
        screendepth = 0;
        freebefore = largestmemblock(3);
    }
    void TearDown() override {
        fatalfilterhook = nullptr;
        reporterrors = 1;
        screendepth = 0;
        rowtable = nullptr;
        removememclass(3);
    }
    static std::pair<int32_t, uint32_t> run(const int32_t *entries) {
        return {entries[-2], static_cast<uint32_t>(entries[-1])};
    }
    void expectnothingheld() {
        EXPECT_EQ(pool[0], POOLWORDS - 2);
        EXPECT_EQ(pool[1], 0);
        EXPECT_EQ(largestmemblock(3), freebefore);
    }
    int32_t freebefore = 0;
};

// Both built-in records start as the 8-bit 640 x 480 screen at 0xA0000 without runs;
// classes -1 and -2 fill them, and removal gives their runs back but keeps them for the
// next makevideowindow.
TEST_F(Vidwin, BuiltInRecordsKept) {
    for (rasterwindow *r : {&libscreenwindow, &libbackwindow}) {
        EXPECT_EQ(r->id, WINDOW_ID);
        EXPECT_EQ((std::vector<int32_t>{r->width, r->height, r->minx, r->miny, r->maxx, r->maxy,
                                        r->bpp, r->type, r->marker, r->pitch}),
                  (std::vector<int32_t>{640, 480, 0, 0, 640, 480, 8, 0x7B, 0, 640}));
        EXPECT_EQ(r->data, reinterpret_cast<uint8_t *>(uintptr_t{0xA0000}));
        EXPECT_EQ(r->rows, nullptr);
        EXPECT_EQ(r->cols, nullptr);
        EXPECT_EQ(r->surface, nullptr);
    }
    EXPECT_EQ(makevideowindow(320, 200, 320, 8, -1, pixels, fakesurface), &libscreenwindow);
    EXPECT_EQ(makevideowindow(320, 200, 320, 8, -2, pixels, nullptr), &libbackwindow);
    EXPECT_EQ(libscreenwindow.rows, libbackwindow.rows);
    removevideowindow(&libscreenwindow);
    removevideowindow(&libbackwindow);
    EXPECT_EQ(libscreenwindow.rows, nullptr);
    EXPECT_EQ(libscreenwindow.cols, nullptr);
    EXPECT_EQ(libscreenwindow.surface, fakesurface);
    expectnothingheld();
    EXPECT_EQ(makevideowindow(16, 16, 32, 16, -1, pixels, nullptr), &libscreenwindow);
    EXPECT_EQ(libscreenwindow.width, 16);
    removevideowindow(&libscreenwindow);
    EXPECT_EQ(reports, strings{});
}

// Sizes up to 2400 x 1600 are accepted; beyond, and when the record or a run cannot be
// had, the report comes with reporterrors off too, and nothing is left behind.
TEST_F(Vidwin, LimitsAndReports) {
    rasterwindow *w = makevideowindow(2400, 1600, 2400, 8, 3, pixels, nullptr);
    ASSERT_NE(w, nullptr);
    EXPECT_STREQ(memblockname(w), "VIDWIND");
    EXPECT_EQ(memblocksize(w), static_cast<int32_t>(sizeof(rasterwindow)));
    removevideowindow(w);
    EXPECT_EQ(makevideowindow(2401, 1, 1, 8, 3, pixels, nullptr), nullptr);
    EXPECT_EQ(makevideowindow(1, 1601, 1, 8, 3, pixels, nullptr), nullptr);
    EXPECT_EQ(makevideowindow(-1, 1, 1, 8, -1, pixels, nullptr), nullptr);
    initrowadr(pool, 2000);
    EXPECT_EQ(makevideowindow(1500, 1000, 1500, 8, 3, pixels, nullptr), nullptr);
    initrowadr(pool, POOLWORDS);
    rasterwindow *hog = static_cast<rasterwindow *>(reservememadr(nullptr, freebefore, 3));
    ASSERT_NE(hog, nullptr);
    EXPECT_EQ(makevideowindow(5, 6, 5, 8, 3, pixels, nullptr), nullptr);
    purgememadr(hog);
    EXPECT_EQ(reports, (strings{"makevideowindow - INVALID WINDOW DIMENSIONS\nrequested: "
                                "2401x1 maximum: 2400x1600\n",
                                "makevideowindow - INVALID WINDOW DIMENSIONS\nrequested: "
                                "1x1601 maximum: 2400x1600\n",
                                "makevideowindow - INVALID WINDOW DIMENSIONS\nrequested: "
                                "-1x1 maximum: 2400x1600\n",
                                "makevideowindow - OUT OF ROW SPACE\nrequested: 1500x1000\n",
                                "makevideowindow - OUT OF MEMORY\nrequested: 5x6 available: 0\n"}));
    EXPECT_EQ(reportsites, strings(5, "win\\vidwin"));
    expectnothingheld();
}

struct columns {
    int32_t bpp, type;
    std::vector<int32_t> cols;
};

// The record over the pixels: no shape header (row 0 at offset 0), marker 255, the type
// of the depth, and columns stepped by bpp rounded up to even (15 takes 16, 1 takes 2).
TEST_F(Vidwin, RecordAndColumnSteps) {
    const columns table[] = {
        {1, 0x79, {0, 0, 0, 0, 1}},    {4, 0x7A, {0, 0, 1, 1, 2}},  {8, 0x7B, {0, 1, 2, 3, 4}},
        {15, 0x7E, {0, 2, 4, 6, 8}},   {16, 0x78, {0, 2, 4, 6, 8}}, {24, 0x7F, {0, 3, 6, 9, 12}},
        {32, 0x7D, {0, 4, 8, 12, 16}},
    };
    for (const columns &c : table) {
        SCOPED_TRACE(c.bpp);
        rasterwindow *w = makevideowindow(5, 3, 100, c.bpp, 3, pixels, fakesurface);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->id, WINDOW_ID);
        EXPECT_EQ(w->marker, 255);
        EXPECT_EQ(w->bpp, c.bpp);
        EXPECT_EQ(w->type, c.type);
        EXPECT_EQ(w->pitch, 100);
        EXPECT_EQ(w->data, pixels);
        EXPECT_EQ(w->surface, fakesurface);
        EXPECT_EQ((std::vector<int32_t>{w->minx, w->miny, w->maxx, w->maxy}),
                  (std::vector<int32_t>{0, 0, 5, 3}));
        EXPECT_EQ(std::vector<int32_t>(w->rows, w->rows + 3), (std::vector<int32_t>{0, 100, 200}));
        EXPECT_EQ(std::vector<int32_t>(w->cols, w->cols + 5), c.cols);
        removevideowindow(w);
    }
    rasterwindow *w = makevideowindow(5, 3, 100, 0, 3, pixels, nullptr);
    EXPECT_EQ(w->bpp, 8);
    removevideowindow(w);
    screendepth = 15;
    rasterwindow record;
    initvideowindow(&record, 5, 3, 100, 0, pixels, nullptr);
    EXPECT_EQ(record.bpp, 15);
    EXPECT_EQ(record.cols[1], 2);
    freerows(record.rows);
    freerows(record.cols);
    expectnothingheld();
}

// The same pitch keeps the row run; a new one gives the old run back before taking the
// new, so a run the window held alone is reused in place and one shared with another
// window stays that window's. Null updates the current window.
TEST_F(Vidwin, UpdateWithSameAndNewPitch) {
    rasterwindow *a = makevideowindow(10, 20, 64, 8, 3, pixels, nullptr);
    int32_t *rows = a->rows;
    updatevideowindow(a, 64, pixels + 4);
    EXPECT_EQ(a->data, pixels + 4);
    EXPECT_EQ(a->rows, rows);
    EXPECT_EQ(run(rows), std::make_pair(20, 1u));
    updatevideowindow(a, 80, pixels);
    EXPECT_EQ(a->rows, rows);
    EXPECT_EQ(a->pitch, 80);
    EXPECT_EQ(a->rows[19], 19 * 80);

    rasterwindow *b = makevideowindow(10, 20, 80, 8, 3, pixels, nullptr);
    EXPECT_EQ(b->rows, rows);
    updatevideowindow(a, 96, pixels);
    EXPECT_NE(a->rows, rows);
    EXPECT_EQ(a->rows[1], 96);
    EXPECT_EQ(run(rows), std::make_pair(20, 1u));
    EXPECT_EQ(b->rows[1], 80);
    removevideowindow(a);
    removevideowindow(b);

    initvideowindow(&currentwindow, 10, 20, 64, 8, pixels, nullptr);
    updatevideowindow(nullptr, 32, pixels + 1);
    EXPECT_EQ(currentwindow.data, pixels + 1);
    EXPECT_EQ(currentwindow.rows[1], 32);
    freerows(currentwindow.rows);
    freerows(currentwindow.cols);

    // A shared run is not given back, and the pool has no room for another.
    initrowadr(pool, 27);
    rasterwindow *d = makevideowindow(2, 10, 8, 8, 3, pixels, nullptr);
    rasterwindow *e = makevideowindow(2, 10, 8, 8, 3, pixels, nullptr);
    EXPECT_EQ(reports, strings{});
    updatevideowindow(d, 16, pixels);
    EXPECT_EQ(reports, strings{"updatevideowindow - OUT OF ROW SPACE\nrequested: 2x10\n"});
    EXPECT_EQ(d->rows, nullptr);
    EXPECT_EQ(run(e->rows), std::make_pair(10, 1u));
    removevideowindow(d);
    removevideowindow(e);
    initrowadr(pool, POOLWORDS);
    expectnothingheld();
}

// Every update clamps the clip box into the window, the right and bottom edges never
// left of or above the left and top ones.
TEST_F(Vidwin, ClipBoxClamped) {
    rasterwindow *w = makevideowindow(100, 40, 100, 8, 3, pixels, nullptr);
    w->minx = 50;
    w->maxx = 10;
    w->miny = 5;
    w->maxy = 900;
    updatevideowindow(w, 100, pixels);
    EXPECT_EQ((std::vector<int32_t>{w->minx, w->miny, w->maxx, w->maxy}),
              (std::vector<int32_t>{50, 5, 50, 40}));
    w->minx = 300;
    w->miny = 41;
    w->maxx = 200;
    w->maxy = -3;
    updatevideowindow(w, 100, pixels);
    EXPECT_EQ((std::vector<int32_t>{w->minx, w->miny, w->maxx, w->maxy}),
              (std::vector<int32_t>{100, 40, 100, 40}));
    removevideowindow(w);
}

} // namespace
