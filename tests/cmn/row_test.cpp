// row_test - the row table: pool set-up and its capacity report, first fit with the split
// margin, sharing of equal series anywhere in the pool, merging on release, the pool's end,
// a full pool, and a pointer that is not a run.
#include "thistle/diag.h"
#include "thistle/memstd.h"
#include "thistle/row.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

std::vector<std::string> reports;
siterecord reportsite;
int32_t capture(const char *text) {
    reports.push_back(text);
    reportsite = errorsite;
    return 0;
}

// (count, users) of every run, read by walking the headers from the pool's start.
using runlist = std::vector<std::pair<int32_t, uint32_t>>;
runlist runs() {
    runlist out;
    for (int32_t *r = rowtable; r < rowtableend && out.size() < 1000; r += r[0] + 2) {
        out.emplace_back(r[0], static_cast<uint32_t>(r[1]));
    }
    return out;
}

class Row : public ::testing::Test {
  protected:
    void SetUp() override {
        reports.clear();
        fatalfilterhook = capture;
        std::memset(pool, 0x5A, sizeof pool);
    }
    void TearDown() override {
        fatalfilterhook = nullptr;
        rowtable = nullptr; // the pools here are the test's own memory
        rowtableend = nullptr;
        rowcapacity = ROWTABLE_DEFAULTCAPACITY;
    }
    // A pool of n words in the test's memory, with guard words behind it.
    void makepool(int32_t n) {
        ASSERT_LE(n + 4, static_cast<int32_t>(std::size(pool)));
        initrowadr(pool, n);
    }
    int32_t pool[420];
};

// initrow reserves "rowtbl" of capacity words in defaultmemclass as one free run; a second
// initrow keeps the memory and forgets the runs; closerow gives the block back. Below 204
// words initrow reports and sets nothing up; initrowadr has no minimum and makes its size
// the configured one.
TEST_F(Row, PoolSetUpAndCapacity) {
    static uint8_t region[65536 + 4096];
    initmemclasses();
    ASSERT_GT(creatememclass(0, "rows", region, sizeof region, 16, 16, 0, 0, 0, 1, 0, 0), 0);
    int32_t before = largestmemblock(0);

    initrow();
    EXPECT_EQ(runs(), (runlist{{14334, 0}}));
    EXPECT_EQ(memblocksize(rowtable), 57344);
    EXPECT_STREQ(memblockname(rowtable), "rowtbl");
    int32_t *table = rowtable;
    ASSERT_NE(getrows(0, 8, 3, 100), nullptr);
    initrow();
    EXPECT_EQ(rowtable, table);
    EXPECT_EQ(runs(), (runlist{{14334, 0}}));
    closerow();
    EXPECT_EQ(rowtable, nullptr);
    EXPECT_EQ(largestmemblock(0), before);
    EXPECT_EQ(getrows(0, 1, 0, 1), nullptr);

    rowcapacity = 203;
    initrow();
    ASSERT_EQ(reports,
              std::vector<std::string>{
                  "initrow - INSUFFICIENT ROW TABLE SPACE (203)\nMUST BE AT LEAST 204.\n"});
    EXPECT_STREQ(reportsite.file, "cmn\\row");
    EXPECT_EQ(rowtable, nullptr);
    rowcapacity = 204;
    initrow();
    EXPECT_EQ(runs(), (runlist{{202, 0}}));
    closerow();
    removememclass(0);

    EXPECT_EQ(initrowadr(pool, 50), pool);
    EXPECT_EQ(rowcapacity, 50);
    EXPECT_EQ(runs(), (runlist{{48, 0}}));
    EXPECT_EQ(reports.size(), 1u);
}

// A free run is split only when it has at least 8 entries more than asked for; a run
// taken whole is filled over its full length. Entries are (base + i * step) >> shift
// with an arithmetic shift.
TEST_F(Row, FirstFitSplitsAtEightSpare) {
    makepool(19);
    int32_t *r = getrows(-5, 2, 1, 10);
    EXPECT_EQ(r, pool + 2);
    EXPECT_EQ(runs(), (runlist{{17, 1}}));
    for (int32_t i = 0; i < 17; i++) {
        EXPECT_EQ(r[i], (-5 + i * 2) >> 1) << i;
    }
    makepool(20);
    getrows(0, 4, 3, 10);
    EXPECT_EQ(runs(), (runlist{{10, 1}, {6, 0}}));
    EXPECT_EQ(pool[2 + 3], 1); // 4-bit columns: pixel 3 is in byte 1
}

// Equal series share a run, a shorter request included, even past a free run that
// would fit; the users count tracks the holders. Different series or a request longer
// than the run get a run of their own.
TEST_F(Row, SharingAcrossThePool) {
    makepool(400);
    int32_t *front = getrows(0, 32, 0, 70);
    int32_t *rows = getrows(16, 64, 0, 64);
    freerows(front); // a free run of 70 now comes first
    EXPECT_EQ(getrows(16, 64, 0, 50), rows);
    EXPECT_EQ(getrows(16, 64, 0, 64), rows);
    EXPECT_EQ(rows[-1], 3);
    EXPECT_NE(getrows(16, 32, 0, 10), rows);
    EXPECT_NE(getrows(16, 64, 0, 65), rows);
    EXPECT_NE(getrows(0, 16, 3, 10), getrows(0, 8, 3, 10)); // 16-bit and 8-bit columns
    freerows(rows);
    freerows(rows);
    EXPECT_EQ(rows[-1], 1);
    freerows(rows);
    EXPECT_EQ(rows[-1], 0);
}

// A release merges the run with a free follower and a free predecessor, so freeing the
// middle of free, used, free leaves one run (each absorbed header adds 2 entries).
TEST_F(Row, ReleaseMergesBothSides) {
    makepool(100);
    int32_t *a = getrows(0, 1, 0, 10);
    int32_t *b = getrows(0, 2, 0, 10);
    int32_t *c = getrows(0, 3, 0, 10);
    int32_t *d = getrows(0, 4, 0, 10);
    freerows(a);
    EXPECT_EQ(runs(), (runlist{{10, 0}, {10, 1}, {10, 1}, {10, 1}, {50, 0}}));
    freerows(b); // predecessor free
    EXPECT_EQ(runs(), (runlist{{22, 0}, {10, 1}, {10, 1}, {50, 0}}));
    freerows(d); // follower free
    EXPECT_EQ(runs(), (runlist{{22, 0}, {10, 1}, {62, 0}}));
    freerows(c); // both
    EXPECT_EQ(runs(), (runlist{{98, 0}}));
    EXPECT_EQ(reports.size(), 0u);
}

// The last run of the pool has no follower: the words behind the pool are never read as
// one, even when they look like a free run.
TEST_F(Row, LastRunStopsAtTheEnd) {
    makepool(30);
    pool[30] = 0; // a "free run" of 0 entries right behind the pool
    pool[31] = 0;
    int32_t *a = getrows(0, 1, 0, 10);
    int32_t *b = getrows(0, 2, 0, 12); // 16 < 12 + 8: takes the rest whole
    EXPECT_EQ(runs(), (runlist{{10, 1}, {16, 1}}));
    freerows(b);
    EXPECT_EQ(runs(), (runlist{{10, 1}, {16, 0}}));
    freerows(a);
    EXPECT_EQ(runs(), (runlist{{28, 0}}));
}

// With nothing large enough free, or without a row table, getrows gives null and leaves
// every word of the pool as it was.
TEST_F(Row, FullPoolIsLeftUnchanged) {
    makepool(40);
    getrows(0, 1, 0, 20);
    int32_t *b = getrows(0, 2, 0, 10);
    freerows(b);
    std::vector<int32_t> before(pool, pool + 40);
    EXPECT_EQ(getrows(0, 3, 0, 17), nullptr);
    EXPECT_EQ(std::vector<int32_t>(pool, pool + 40), before);
    rowtable = nullptr;
    EXPECT_EQ(getrows(0, 3, 0, 1), nullptr);
}

// A pointer that is not the first entry of a run is reported as corrupted row space once
// its hold count reaches 0, and the pool is not merged; one outside the pool is reported
// without being written.
TEST_F(Row, PointerThatIsNotARun) {
    makepool(100);
    int32_t *a = getrows(1, 1, 0, 10); // entries 1, 2, 3, ...
    getrows(0, 2, 0, 10);
    freerows(a + 1); // its "users" word is entry 0, which goes from 1 to 0
    ASSERT_EQ(reports, std::vector<std::string>{"removewindow - ROW SPACE CORRUPTED\n"});
    EXPECT_STREQ(reportsite.file, "cmn\\row");
    EXPECT_EQ(runs(), (runlist{{10, 1}, {10, 1}, {74, 0}}));
    int32_t outside[4] = {0, 1, 7, 7};
    freerows(outside + 2);
    EXPECT_EQ(reports.size(), 2u);
    EXPECT_EQ(outside[1], 1);
}

} // namespace
