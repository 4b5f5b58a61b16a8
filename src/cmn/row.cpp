/*
 * cmn\row - the row table: one pool of 32-bit offset series shared by the raster windows
 * (see thistle/row.h).
 *
 * The pool is an unbroken sequence of runs that covers it exactly:
 *
 *   rowtable                                                        rowtableend
 *   |                                                                     |
 *   +-------+-------+----------------+-------+-------+-------------------+
 *   | count | users | count entries  | count | users | count entries ... |
 *   +-------+-------+----------------+-------+-------+-------------------+
 *                   ^                ^
 *                   holder's pointer next run: count + 2 words further on
 *
 * users 0 marks a free run; a fresh pool is one free run of capacity - 2 entries, and a
 * release merges a free run with its free neighbours, so no two free runs touch.
 *
 * Threads: no lock; callers serialise. Limits: runs are found by a walk over the headers.
 */
#include "thistle/row.h"

#include "thistle/diag.h"
#include "thistle/memstd.h"

#include <cstdint>

int32_t rowcapacity = ROWTABLE_DEFAULTCAPACITY;
int32_t *rowtable = nullptr;
int32_t *rowtableend = nullptr;

namespace {

// A run smaller than the request by fewer than this many words is taken whole: the rest
// would be a sliver too small to serve anyone.
constexpr int32_t SPLITMARGIN = 8;

int32_t &runcount(int32_t *run) {
    return run[0];
}

uint32_t &runusers(int32_t *run) {
    return reinterpret_cast<uint32_t &>(run[1]);
}

int32_t *nextrun(int32_t *run) {
    return run + ROWRUN_HEADER + runcount(run);
}

// Entry i of the series in wrapping signed 32-bit arithmetic; the shift is arithmetic.
// Only the low five bits of shift count, so no shift is ever wider than a word.
int32_t seriesentry(int32_t base, int32_t step, int32_t shift, int32_t i) {
    uint32_t value =
        static_cast<uint32_t>(base) + static_cast<uint32_t>(i) * static_cast<uint32_t>(step);
    return static_cast<int32_t>(value) >> (shift & 31);
}

// One free run over the whole pool. A pool too small for a header (only initrowadr can
// make one) is left empty: no run, so getrows finds nothing.
void formatpool(void) {
    rowtableend = rowtable + rowcapacity;
    if (rowcapacity >= ROWRUN_HEADER) {
        runcount(rowtable) = rowcapacity - ROWRUN_HEADER;
        runusers(rowtable) = 0;
    }
}

// An in-use run is shared when it is long enough and begins with the same two entries.
// A run of fewer than two entries is compared on the entries it has (it can only serve
// requests of that size or less, and those read no further).
bool sameseries(int32_t *run, int32_t first, int32_t second) {
    int32_t count = runcount(run);
    return (count < 1 || run[2] == first) && (count < 2 || run[3] == second);
}

void corrupted(void) {
    THISTLE_SITE("cmn\\row");
    fatalerror("removewindow - ROW SPACE CORRUPTED\n");
}

} // namespace

/* Sets up (or wipes) the pool from rowcapacity; see thistle/row.h. A capacity report that
 * returns leaves the row table as it was. */
void initrow(void) {
    if (rowcapacity < ROWTABLE_MINCAPACITY) {
        THISTLE_SITE("cmn\\row");
        fatalerror("initrow - INSUFFICIENT ROW TABLE SPACE (%d)\nMUST BE AT LEAST 204.\n",
                   rowcapacity);
        return;
    }
    if (rowtable == nullptr) {
        THISTLE_SITE("cmn\\row");
        rowtable = static_cast<int32_t *>(
            reservememadr("rowtbl", rowcapacity * 4, static_cast<uint32_t>(defaultmemclass)));
        if (rowtable == nullptr) {
            return; // the memory classes have reported it
        }
    }
    formatpool();
}

/* Makes the caller's memory of capacity words the row table and its size the configured
 * capacity; returns memory. */
int32_t *initrowadr(int32_t *memory, int32_t capacity) {
    rowtable = memory;
    rowcapacity = capacity;
    formatpool();
    return memory;
}

/* Hands the pool to the memory classes (a pool given by initrowadr too, which is then
 * expected to be a block of theirs) and forgets it. Held runs are not looked at. */
void closerow(void) {
    if (rowtable != nullptr) {
        purgememadr(rowtable);
    }
    rowtable = nullptr;
    rowtableend = nullptr;
}

/* A shared or newly filled run for the series; see thistle/row.h. A negative count asks
 * for nothing that can be had: null, like a full pool. */
int32_t *getrows(int32_t base, int32_t step, int32_t shift, int32_t count) {
    if (rowtable == nullptr || count < 0) {
        return nullptr;
    }
    // The sharing test compares entry 1 with base + (step >> shift): for the two kinds of
    // run callers use (shift 0, or base 0) that is exactly entry 1 of the series.
    int32_t second = static_cast<int32_t>(static_cast<uint32_t>(base) +
                                          static_cast<uint32_t>(step >> (shift & 31)));
    // Sharing wins over a free fit anywhere in the pool, so the whole pool is walked.
    int32_t *fit = nullptr;
    for (int32_t *run = rowtable; run < rowtableend; run = nextrun(run)) {
        if (runcount(run) < count) {
            continue;
        }
        if (runusers(run) != 0) {
            if (sameseries(run, base, second)) {
                runusers(run) += 1;
                return run + ROWRUN_HEADER;
            }
        } else if (fit == nullptr) {
            fit = run;
        }
    }
    if (fit == nullptr) {
        return nullptr;
    }
    if (static_cast<int64_t>(runcount(fit)) >= static_cast<int64_t>(count) + SPLITMARGIN) {
        int32_t *rest = fit + ROWRUN_HEADER + count;
        runcount(rest) = runcount(fit) - count - ROWRUN_HEADER;
        runusers(rest) = 0;
        runcount(fit) = count;
    }
    runusers(fit) = 1;
    int32_t *entries = fit + ROWRUN_HEADER;
    for (int32_t i = 0; i < runcount(fit); i++) {
        entries[i] = seriesentry(base, step, shift, i);
    }
    return entries;
}

/* Drops one hold on the run; the last one frees it and merges it with free neighbours.
 * A pointer whose header lies outside the pool is reported before anything is written. */
void freerows(int32_t *entries) {
    int32_t *header = entries - ROWRUN_HEADER;
    auto at = reinterpret_cast<uintptr_t>(header);
    if (rowtable == nullptr || at < reinterpret_cast<uintptr_t>(rowtable) ||
        at >= reinterpret_cast<uintptr_t>(rowtableend)) {
        corrupted();
        return;
    }
    runusers(header) -= 1;
    if (runusers(header) != 0) {
        return;
    }
    int32_t *previous = nullptr;
    int32_t *run = rowtable;
    while (run < header && runcount(run) >= 0) {
        previous = run;
        run = nextrun(run);
    }
    if (run != header) {
        corrupted();
        return;
    }
    int32_t *following = nextrun(header);
    if (following < rowtableend && runusers(following) == 0) {
        runcount(header) += runcount(following) + ROWRUN_HEADER;
    }
    if (previous != nullptr && runusers(previous) == 0) {
        runcount(previous) += runcount(header) + ROWRUN_HEADER;
    }
}
