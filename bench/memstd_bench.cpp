// memstd_bench - reservememadr/purgememadr against malloc/free on a game-like workload.
//
// A fixed, seeded trace over a set of slots (the live blocks: 1000 to 8000): each step
// releases the block in a random slot and reserves a new one there. Sizes mix many small
// blocks (16 to 128 bytes, 60 %), medium ones (up to 1 KiB, 30 %), larger ones (up to
// 8 KiB, 9 %) and a few large ones (64 to 256 KiB, 1 %); slots are picked with a skew, so
// some blocks live for a few steps and others for the whole run. Every block gets one of
// a handful of short names. One step is two operations. Each contender first runs the
// whole trace once untimed and is then timed from there on.
#include "thistle/diag.h"
#include "thistle/memstd.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <vector>

namespace {

constexpr int32_t regionlength = 256 << 20;
constexpr size_t steps = 1 << 16;

const char *const names[] = {"LAYER", "VIDWIND", "unshp", "rowtbl", "capturebuf", "sprite"};

struct step {
    uint32_t slot;
    int32_t size;
    const char *name;
};

// The trace for a live-set size, the same for every contender.
const std::vector<step> &trace(size_t live) {
    static std::map<size_t, std::vector<step>> cache;
    std::vector<step> &t = cache[live];
    if (!t.empty()) {
        return t;
    }
    std::mt19937 rng(static_cast<uint32_t>(live));
    for (size_t i = 0; i < steps; i++) {
        // Half the steps churn the first eighth of the slots: short-lived blocks.
        uint32_t slot = rng() % 2 ? rng() % static_cast<uint32_t>(live / 8)
                                  : rng() % static_cast<uint32_t>(live);
        uint32_t pick = rng() % 100;
        int32_t size = pick < 60   ? 16 + static_cast<int32_t>(rng() % 113)
                       : pick < 90 ? 128 + static_cast<int32_t>(rng() % 897)
                       : pick < 99 ? 1024 + static_cast<int32_t>(rng() % 7169)
                                   : (64 << 10) + static_cast<int32_t>(rng() % (192 << 10));
        t.push_back({slot, size, names[rng() % 6]});
    }
    return t;
}

uint8_t *region() {
    static uint8_t *r = [] {
        auto *p = static_cast<uint8_t *>(std::malloc(regionlength));
        // Fault every page in up front, as an application that hands a region over has
        // usually done. The fill is not zero: malloc followed by a zero fill may be turned
        // into calloc, which leaves the pages to fault in during the timed loop.
        std::memset(p, 0xA5, regionlength);
        return p;
    }();
    return r;
}

template <typename Alloc, typename Release>
void run(benchmark::State &state, Alloc alloc, Release release) {
    const size_t live = static_cast<size_t>(state.range(0));
    const std::vector<step> &t = trace(live);
    std::vector<void *> slots(live);
    std::mt19937 rng(7);
    for (void *&p : slots) { // the live set, before timing starts
        const step &s = t[rng() % t.size()];
        p = alloc(s.name, s.size);
    }
    // One pass of the trace before timing starts, so that both contenders are timed in
    // the steady state the trace leads to rather than while the live set first spreads.
    for (const step &s : t) {
        release(slots[s.slot]);
        slots[s.slot] = alloc(s.name, s.size);
    }
    size_t i = 0;
    for (auto _ : state) {
        const step &s = t[i++ % steps];
        release(slots[s.slot]);
        slots[s.slot] = alloc(s.name, s.size);
        benchmark::DoNotOptimize(slots[s.slot]);
    }
    for (void *p : slots) {
        release(p);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 2);
}

void BM_malloc_free(benchmark::State &state) {
    run(
        state, [](const char *, int32_t size) { return std::malloc(static_cast<size_t>(size)); },
        [](void *p) { std::free(p); });
}

// One class over the whole region, 16-byte block alignment, with the given trailer,
// properties and lock; requests add type to the class number. index 0 makes the class
// search by walking its free list (memclassindex).
void memclassrun(benchmark::State &state, int32_t trailer, int32_t endmark, int32_t site,
                 int32_t names_, int32_t lock, uint32_t type, int32_t index = 1) {
    initmemclasses();
    reporterrors = 0;
    memclassindex = index;
    const int32_t made = creatememclass(1, "bench", region(), regionlength, 16, 16, trailer,
                                        endmark, site, names_, lock, 0);
    memclassindex = 1;
    if (made == 0) {
        state.SkipWithError("creatememclass failed");
        return;
    }
    run(
        state,
        [type](const char *name, int32_t size) { return reservememadr(name, size, 1 | type); },
        [](void *p) { purgememadr(p); });
    removememclass(1);
}

void BM_memclass_plain(benchmark::State &state) {
    memclassrun(state, 0, 0, 0, 0, 0, 0);
}
void BM_memclass_named_checked(benchmark::State &state) {
    memclassrun(state, 16, 1, 1, 1, 0, 0);
}
void BM_memclass_named_locked(benchmark::State &state) {
    memclassrun(state, 16, 1, 1, 1, 1, 0);
}
void BM_memclass_plain_largest(benchmark::State &state) {
    memclassrun(state, 0, 0, 0, 0, 0, MB_LARGEST);
}
void BM_memclass_plain_walk(benchmark::State &state) {
    memclassrun(state, 0, 0, 0, 0, 0, 0, 0);
}

} // namespace

BENCHMARK(BM_malloc_free)->Arg(1000)->Arg(2000)->Arg(4000)->Arg(8000);
BENCHMARK(BM_memclass_plain)->Arg(1000)->Arg(2000)->Arg(4000)->Arg(8000);
BENCHMARK(BM_memclass_named_checked)->Arg(1000)->Arg(2000)->Arg(4000)->Arg(8000);
BENCHMARK(BM_memclass_named_locked)->Arg(1000)->Arg(2000)->Arg(4000)->Arg(8000);
BENCHMARK(BM_memclass_plain_largest)->Arg(1000)->Arg(4000);
BENCHMARK(BM_memclass_plain_walk)->Arg(1000)->Arg(2000)->Arg(4000)->Arg(8000);
