// createw_test - memory windows: the block and its geometry for every depth, the limits
// and their reports in order, no partial window after a failure (reported or quiet),
// shared row runs, removal; checkwindow's fields, ranges and four report forms.
#include "thistle/createw.h"
#include "thistle/diag.h"
#include "thistle/initgrf.h"
#include "thistle/memstd.h"
#include "thistle/row.h"
#include "thistle/validwin.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
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

// A record with the fields checkwindow looks at, in record order.
rasterwindow record(uint32_t id, int32_t width, int32_t height, int32_t minx, int32_t miny,
                    int32_t maxx, int32_t maxy, uint8_t bpp, uint8_t type) {
    return {id,   width, height,  minx, miny,    maxx,    maxy,   bpp,
            type, 0,     nullptr, 0,    nullptr, nullptr, nullptr};
}

alignas(16) uint8_t region[256 * 1024];
int32_t pool[2000];

class Createw : public ::testing::Test {
  protected:
    void SetUp() override {
        initmemclasses();
        ASSERT_GT(creatememclass(2, "win", region, sizeof region, 16, 16, 0, 0, 0, 1, 0, 0), 0);
        initrowadr(pool, 2000);
        reports.clear();
        reportsites.clear();
        fatalfilterhook = capture;
        reporterrors = 1;
        screendepth = 0;
        outofmemorycount = 0;
        freebefore = largestmemblock(2);
    }
    void TearDown() override {
        fatalfilterhook = nullptr;
        screendepth = 0;
        rowtable = nullptr;
        removememclass(2);
    }
    // (count, users) of the run whose first entry is entries.
    static std::pair<int32_t, uint32_t> run(const int32_t *entries) {
        return {entries[-2], static_cast<uint32_t>(entries[-1])};
    }
    // The pool and the class are as they were before the test made anything.
    void expectnothingheld() {
        EXPECT_EQ(pool[0], 1998);
        EXPECT_EQ(pool[1], 0);
        EXPECT_EQ(largestmemblock(2), freebefore);
    }
    int32_t freebefore = 0;
};

struct geometry {
    int32_t width, bpp, pitch, type;
    std::vector<int32_t> cols;
};

// For every depth: the pitch (rows rounded up to whole bytes, 15-bit pixels take 16 bits),
// the type code, the requested bpp kept, the clip box, the column bytes, the row offsets
// behind the shape header, the block's size and name, and the shape header itself.
TEST_F(Createw, GeometryOfEveryDepth) {
    const geometry table[] = {
        {9, 1, 2, 0x79, {0, 0, 0, 0, 0, 0, 0, 0, 1}},
        {3, 4, 2, 0x7A, {0, 0, 1}},
        {3, 8, 3, 0x7B, {0, 1, 2}},
        {3, 15, 6, 0x7E, {0, 2, 4}},
        {3, 16, 6, 0x78, {0, 2, 4}},
        {3, 24, 9, 0x7F, {0, 3, 6}},
        {3, 32, 12, 0x7D, {0, 4, 8}},
    };
    for (const geometry &g : table) {
        SCOPED_TRACE(g.bpp);
        rasterwindow *w = createwindow(g.width, 5, g.bpp, 2);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->id, 0x57494E44u);
        EXPECT_EQ(
            (std::vector<int32_t>{w->pitch, w->bpp, w->type, w->minx, w->miny, w->maxx, w->maxy,
                                  w->rows[4]}),
            (std::vector<int32_t>{g.pitch, g.bpp, g.type, 0, 0, g.width, 5, 16 + 4 * g.pitch}));
        EXPECT_EQ(std::vector<int32_t>(w->cols, w->cols + g.width), g.cols);
        EXPECT_EQ(w->data, reinterpret_cast<uint8_t *>(w) + sizeof(rasterwindow));
        EXPECT_EQ(memblocksize(w), static_cast<int32_t>(sizeof(rasterwindow)) + 16 + 5 * g.pitch);
        char name[32];
        std::snprintf(name, sizeof name, "%dx5x%d", g.width, g.bpp);
        EXPECT_STREQ(memblockname(w), name);
        const uint8_t header[16] = {static_cast<uint8_t>(g.type),  0, 0, 0,
                                    static_cast<uint8_t>(g.width), 0, 5};
        EXPECT_EQ(std::memcmp(w->data, header, 16), 0);
        removewindow(w);
    }
    EXPECT_EQ(windowtype(0) | windowtype(12) | windowtype(-8), 0);
    expectnothingheld();

    // Depth 0 is the screen's depth, or 8 before graphics are up; sizes above 255 go into
    // the shape header as little-endian 16-bit values.
    rasterwindow *w = createwindow(300, 2, 0, 2);
    EXPECT_EQ(w->bpp, 8);
    EXPECT_EQ(w->data[4] | w->data[5] << 8, 300);
    screendepth = 16;
    rasterwindow *v = createwindow(2, 260, 0, 2);
    EXPECT_EQ(v->bpp, 16);
    EXPECT_EQ(v->type, 0x78);
    EXPECT_EQ(v->data[6] | v->data[7] << 8, 260);
    EXPECT_STREQ(memblockname(v), "2x260x16");
    removewindow(w);
    removewindow(v);
}

// The dimension test (0..16384 by 0..8192) comes before the depth test, which comes
// before the reservation; each failure has its own report at cmn\createw, and leaves
// neither a block nor a run behind. Sizes at the limits pass the dimension test (and here
// run out of memory instead). Running out of memory raises outofmemorycount and makes one
// report only, the window's.
TEST_F(Createw, LimitsAndReportsInOrder) {
    EXPECT_EQ(createwindow(16385, 1, 8, 2), nullptr);
    EXPECT_EQ(createwindow(1, 8193, 12, 2), nullptr);
    EXPECT_EQ(createwindow(-1, 1, 8, 2), nullptr);
    EXPECT_EQ(createwindow(1, 1, 12, 2), nullptr);
    EXPECT_EQ(outofmemorycount, 0);
    EXPECT_EQ(createwindow(16384, 8192, 8, 2), nullptr);
    EXPECT_EQ(outofmemorycount, 1);
    const std::string bytes = std::to_string(sizeof(rasterwindow) + 16 + 16384 * 8192);
    EXPECT_EQ(reports,
              (strings{"createwindow - INVALID WINDOW DIMENSIONS\nrequested: 16385x1x8 maximum: "
                       "16384x8192\n",
                       "createwindow - INVALID WINDOW DIMENSIONS\nrequested: 1x8193x12 maximum: "
                       "16384x8192\n",
                       "createwindow - INVALID WINDOW DIMENSIONS\nrequested: -1x1x8 maximum: "
                       "16384x8192\n",
                       "createwindow - INVALID DEPTH\nrequested: 1x1x12 BPP MUST BE "
                       "1,4,8,15,16,24,OR 32\n",
                       "createwindowadr - OUT OF MEMORY\nrequested: 16384x8192x8 bytes: " + bytes +
                           " available: " + std::to_string(freebefore) + "\n"}));
    EXPECT_EQ(reportsites, strings(5, "cmn\\createw"));
    rasterwindow *empty = createwindow(0, 0, 8, 2);
    ASSERT_NE(empty, nullptr);
    removewindow(empty);
    expectnothingheld();
}

// Without a row table the reserved block is purged; when the pool cannot give the column
// run, the row run already taken is given back and the block purged. Nothing is left
// behind either way, and nothing is said by createwindowquiet, nor by createwindow while
// reporterrors is off.
TEST_F(Createw, NoPartialWindowAfterAFailure) {
    const std::pair<decltype(&createwindow), int32_t> ways[] = {
        {createwindow, 1}, {createwindowquiet, 1}, {createwindow, 0}};
    for (auto [make, on] : ways) {
        reporterrors = on;
        rowtable = nullptr;
        EXPECT_EQ(make(4, 4, 8, 2), nullptr);
        initrowadr(pool, 2000);
        EXPECT_EQ(make(1000, 1000, 1, 2), nullptr); // rows fit, 1000 columns do not
        EXPECT_EQ(make(1000, 1000, 8, 2), nullptr); // out of memory
        EXPECT_EQ(make(1, 1, 12, 2), nullptr);
        EXPECT_EQ(make(16385, 1, 8, 2), nullptr);
        expectnothingheld();
    }
    EXPECT_EQ(outofmemorycount, 1);
    EXPECT_EQ(reports.size(), 5u);
    EXPECT_EQ(std::vector<std::string>(reports.begin(), reports.begin() + 2),
              (strings{"createwindow - ROW TABLE MANAGER NOT INITIALIZED\ncall initrow or "
                       "initgraphics first.  requested: 4x4x8.\n",
                       "createwindowblock - OUT OF ROW SPACE\nrequested: 1000x1000\n"}));
}

// Windows of one geometry share both runs; removing one leaves them to the other, and
// removal marks the record 'WINk' with type and bpp 0.
TEST_F(Createw, RunsSharedAndRemoval) {
    rasterwindow *a = createwindow(64, 64, 8, 2);
    rasterwindow *b = createwindow(64, 64, 8, 2);
    rasterwindow *shorter = createwindow(64, 10, 8, 2);
    EXPECT_EQ(a->rows, b->rows);
    EXPECT_EQ(a->cols, b->cols);
    EXPECT_EQ(shorter->rows, a->rows);
    EXPECT_EQ(run(a->rows), std::make_pair(64, 3u));
    EXPECT_EQ(run(a->cols), std::make_pair(64, 3u));
    removewindow(shorter);
    removewindow(a);
    EXPECT_EQ(run(b->rows), std::make_pair(64, 1u));
    EXPECT_EQ(b->rows[63], 16 + 63 * 64);
    // Purging b merges its block into a's free one, so its record is left readable.
    removewindow(b);
    EXPECT_EQ(b->id, 0x57494E6Bu);
    EXPECT_EQ(b->type, 0);
    EXPECT_EQ(b->bpp, 0);
    expectnothingheld();
}

// checkwindow passes a live window, checks all nine fields at their range ends, and
// reports each bad field in order in its form: single value or range, hex or decimal.
TEST_F(Createw, CheckwindowFieldsAndReports) {
    rasterwindow *w = createwindow(8, 8, 8, 2);
    EXPECT_EQ(checkwindow(w), 1);
    rasterwindow high = record(WINDOW_ID, 16384, 16384, 16384, 16384, 16384, 16384, 32, 127);
    rasterwindow low = record(WINDOW_ID, 1, 1, 0, 0, 0, 0, 1, 0);
    EXPECT_EQ(checkwindow(&high), 1);
    EXPECT_EQ(checkwindow(&low), 1);
    EXPECT_EQ(reports, strings{});

    rasterwindow bad = record(WINDOW_REMOVEDID, 0, 16385, -1, -7, 16385, 20000, 33, 128);
    EXPECT_EQ(checkwindow(&bad), 0);
    char at[16];
    std::snprintf(
        at, sizeof at, "%lx",
        static_cast<unsigned long>(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&bad))));
    auto form = [&](const std::string &field, const std::string &rest) {
        return "checkwindow - BAD WINDOW FIELD '" + field + "'.\nVALUE IS " + rest +
               "  0x16385x33 @ " + at + "\n";
    };
    EXPECT_EQ(
        reports,
        (strings{
            form("id", "57494e6b.  SHOULD BE 57494e44."), form("width", "0.  SHOULD BE 1..16384."),
            form("height", "16385.  SHOULD BE 1..16384."), form("bpp", "33.  SHOULD BE 1..32."),
            form("type", "80.  SHOULD BE 0..7f."), form("minx", "-1.  SHOULD BE 0..16384."),
            form("maxx", "16385.  SHOULD BE 0..16384."), form("miny", "-7.  SHOULD BE 0..16384."),
            form("maxy", "20000.  SHOULD BE 0..16384.")}));
    EXPECT_EQ(reportsites, strings(9, "cmn\\validwin"));

    reports.clear();
    reporterrors = 0;
    EXPECT_EQ(checkwindow(&bad), 0);
    EXPECT_EQ(reports, strings{});
    removewindow(w);
}

} // namespace
