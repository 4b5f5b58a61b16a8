// memstd_test - memory classes: region layout, placement, splitting, merging, trailers,
// reports, a long randomized run checked against the free-list invariants, and
// concurrent use of a locked class.
#include "thistle/diag.h"
#include "thistle/memstd.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <new>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

// Reading the stored layout independently of the module: fields by offset, links by the
// documented encoding (address, or distance from the link word where pointers are wider).
uint32_t word(const uint8_t *p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
uint16_t half(const uint8_t *p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}
uint8_t *follow(const uint8_t *field) {
    uint32_t v = word(field);
    if (sizeof(void *) > 4) {
        return v == 0 ? nullptr : const_cast<uint8_t *>(field) + static_cast<int32_t>(v);
    }
    return reinterpret_cast<uint8_t *>(static_cast<uintptr_t>(v));
}
std::string sig(const uint8_t *b) {
    return std::string(reinterpret_cast<const char *>(b), 2);
}
int32_t size(const uint8_t *b) {
    return static_cast<int32_t>(word(b + 4));
}
uint8_t *next(const uint8_t *b) {
    return follow(b + 8);
}
uint8_t *prev(const uint8_t *b) {
    return follow(b + 12);
}
uint8_t *hdr(void *data) {
    return static_cast<uint8_t *>(data) - 16;
}

// Free blocks of the class in region r, following the sentinel's links upwards.
std::vector<uint8_t *> freelist(const uint8_t *r) {
    const uint8_t *s = r + 16 + 16;
    std::vector<uint8_t *> out;
    for (uint8_t *b = follow(s + 16); b != s && out.size() < 100000; b = follow(b + 16)) {
        out.push_back(b);
    }
    return out;
}

std::vector<std::string> reports;
siterecord reportsite;
int32_t capture(const char *text) {
    reports.push_back(text);
    reportsite = errorsite;
    return 0;
}

class Memstd : public ::testing::Test {
  protected:
    void SetUp() override {
        initmemclasses();
        saved = reporterrors;
        reporterrors = 1;
        fatalfilterhook = capture;
        memfailhook = nullptr;
        callersite = siterecord{};
        reports.clear();
    }
    void TearDown() override {
        for (int32_t n = 0; n < MEMCLASSES; n++) {
            removememclass(n);
        }
        fatalfilterhook = nullptr;
        memfailhook = nullptr;
        callersite = siterecord{};
        reporterrors = saved;
        for (uint8_t *r : regions) {
            ::operator delete(r, std::align_val_t(4096));
        }
    }
    uint8_t *region(size_t n) {
        auto *r = static_cast<uint8_t *>(::operator new(n, std::align_val_t(4096)));
        std::memset(r, 0xEE, n);
        regions.push_back(r);
        return r;
    }
    // A class without trailer and names, block alignment 1: block lengths are exact.
    uint8_t *plainclass(int32_t n, int32_t length, int32_t blockalign = 1) {
        uint8_t *r = region(static_cast<size_t>(length));
        EXPECT_GT(creatememclass(n, "plain", r, length, blockalign, 16, 0, 0, 0, 0, 0, 0), 0);
        return r;
    }
    int32_t saved = 1;
    std::vector<uint8_t *> regions;
};

// The layout of a new class: the first free block's data on the data alignment behind
// the LOW block and its name, the HIGH block at the end, boundary names, the record's own
// values, and the sentinel linking the one free block both ways.
TEST_F(Memstd, NewClassLayout) {
    uint8_t *s = region(4096);
    // Data alignment 256: the first free data address rounds S+80+16+32 = S+128 up to S+256.
    int32_t got = creatememclass(3, "game", s, 4096, 16, 256, 16, 1, 1, 1, 0, 0x1234);
    uint8_t *first = s + 240;
    uint8_t *high = s + 4096 - 32 - 16;
    EXPECT_EQ(got, high - first - 16);
    EXPECT_EQ(next(s), first);
    EXPECT_EQ(prev(high), first);
    EXPECT_EQ(next(first), high);
    EXPECT_EQ(half(high + 2), 3 | MB_ENDMARK | MB_SITE | MB_NAMED | MB_BOUNDARY | MB_HIGH);
    EXPECT_STREQ(memblockname(s + 16), "game LOW");
    EXPECT_STREQ(memblockname(high + 16), "game HIGH");
    EXPECT_EQ(std::memcmp(high + 16, "BEND", 4), 0);
    EXPECT_EQ(freelist(s), std::vector<uint8_t *>{first});
    EXPECT_EQ(follow(s + 16 + 36), first);
    EXPECT_EQ(memclasstrailer(3), 16);
    EXPECT_EQ(largestmemblock(3), got);
}

TEST_F(Memstd, CreateRefusalsAndClassTable) {
    uint8_t *s = region(4096);
    EXPECT_EQ(creatememclass(16, "x", s, 4096, 16, 16, 0, 0, 0, 0, 0, 0), 0);
    EXPECT_EQ(creatememclass(-1, "x", s, 4096, 16, 16, 0, 0, 0, 0, 0, 0), 0);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0], "creatememclass - CLASS NUMBER OF 16 IS OUT OF RANGE. SHOULD BE 0..16\n");
    EXPECT_STREQ(reportsite.file, "cmn\\memstd");
    EXPECT_EQ(creatememclass(1, "x", s, 140, 16, 16, 0, 0, 0, 0, 0, 0), 0);  // too small
    EXPECT_EQ(creatememclass(1, "x", s, 4096, 24, 16, 0, 0, 0, 0, 0, 0), 0); // not 2^n

    // Names are cut to the record's 7 characters, boundary names included.
    ASSERT_GT(creatememclass(0, "longclassname", s, 4096, 16, 16, 0, 0, 0, 1, 0, 0), 0);
    EXPECT_STREQ(reinterpret_cast<char *>(s + 16), "longcla");
    EXPECT_STREQ(memblockname(s + 16), "longcla LOW");

    EXPECT_EQ(getfreememclass(), 1); // class 0 is in use but never handed out anyway
    for (int32_t n = 1; n < 16; n++) {
        plainclass(n, 1024);
    }
    reports.clear();
    EXPECT_EQ(getfreememclass(), 16);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], "getfreememclass - NO FREE CLASSES.  16 IS MAXIMUM\n");
    EXPECT_EQ(removememclass(7), 1);
    EXPECT_EQ(removememclass(7), 0);
    EXPECT_EQ(largestmemblock(7), 0);
    EXPECT_EQ(getfreememclass(), 7);
    EXPECT_EQ(reservememadr("gone", 10, 7), nullptr);
}

// Two free blocks of the same largest size, far apart or close enough to share one area of
// the search index: MB_LARGEST takes the first met, from either end.
TEST_F(Memstd, LargestTakesFirstMetOnEqualSizes) {
    for (int32_t sz : {200, 40}) {
        SCOPED_TRACE(sz);
        initmemclasses();
        plainclass(2, 4096);
        void *a = reservememadr(nullptr, sz, 2);
        reservememadr(nullptr, 8, 2);
        void *b = reservememadr(nullptr, sz, 2);
        reservememadr(nullptr, 8, 2);
        reservememadr(nullptr, largestmemblock(2), 2);
        purgememadr(a);
        purgememadr(b);
        EXPECT_EQ(reservememadr(nullptr, sz - 16, 2 | MB_LARGEST), a);
        purgememadr(a);
        EXPECT_EQ(reservememadr(nullptr, sz - 16, 2 | MB_LARGEST | MB_HIGH), b);
    }
}

// MB_HIGH with a block alignment above the split slack: the block starts whole alignment
// steps into the free block, so the rest of the surplus stays inside the block, and a
// surplus under one step is no split at all.
TEST_F(Memstd, HighSplitKeepsTheBlockAlignment) {
    uint8_t *s = plainclass(4, 4196, 128);
    uint8_t *first = freelist(s)[0];
    uint8_t *end = next(first);
    ASSERT_EQ(end - first, 4068);
    void *whole = reservememadr(nullptr, 3952, 4 | MB_HIGH); // 3968 bytes: 100 left over
    EXPECT_EQ(hdr(whole), first);
    EXPECT_TRUE(freelist(s).empty());
    purgememadr(whole);
    uint8_t *top = hdr(reservememadr(nullptr, 3824, 4 | MB_HIGH)); // 3840 bytes: 228 left
    EXPECT_EQ(top, first + 128);
    EXPECT_EQ(next(top), end);
    EXPECT_EQ(freelist(s), std::vector<uint8_t *>{first});
    EXPECT_EQ(size(first), 112);
    EXPECT_EQ(half(first + 2), MB_FREE); // the lower part keeps a type-0 header
    EXPECT_EQ(half(top + 2), 4 | MB_HIGH);
}

TEST_F(Memstd, SplitThresholdAndZeroSize) {
    struct row {
        int32_t surplus;
        uint32_t high;
        bool split;
    };
    const row rows[] = {
        {0, 0, false}, {64, 0, false}, {65, 0, true}, {64, MB_HIGH, false}, {65, MB_HIGH, true}};
    for (const row &r : rows) {
        SCOPED_TRACE(testing::Message() << "surplus " << r.surplus << " high " << r.high);
        initmemclasses();
        plainclass(4, 2048);
        const int32_t whole = largestmemblock(4);
        uint8_t *block = hdr(reservememadr(nullptr, whole - r.surplus, 4 | r.high));
        EXPECT_EQ(size(block), whole - r.surplus);
        std::vector<uint8_t *> f = freelist(regions.back());
        if (!r.split) {
            EXPECT_TRUE(f.empty());
            EXPECT_EQ(largestmemblock(4), 0);
            continue;
        }
        ASSERT_EQ(f.size(), 1u);
        EXPECT_EQ(size(f[0]), r.surplus - 16);
        if (r.high != 0) {
            EXPECT_EQ(next(f[0]), block); // free part below, block on top
        } else {
            EXPECT_EQ(next(block), f[0]);
        }
    }

    initmemclasses();
    plainclass(4, 2048);
    uint8_t *zero = hdr(reservememadr(nullptr, 0, 4));
    EXPECT_EQ(size(zero), 0);
    EXPECT_EQ(next(zero), zero + 16 + 8); // room for the two free links once released
}

TEST_F(Memstd, NamesSitesEndMarkAndZeroWord) {
    uint8_t *s = region(8192);
    ASSERT_GT(creatememclass(6, "named", s, 8192, 8, 16, 16, 1, 1, 1, 0, 0), 0);
    EXPECT_EQ(memblockoverhead("rowtbl", 6), 16 + 7);
    EXPECT_EQ(memblockoverhead(nullptr, 6), 16);

    THISTLE_SITE("win\\ddraw");
    const int32_t line = errorsite.line;
    auto *p = static_cast<uint8_t *>(reservememadr("rowtbl", 13, 6 | MB_ZEROWORD));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(memblocktype(p), 6u | MB_NAMED | MB_ENDMARK | MB_SITE | MB_ZEROWORD);
    EXPECT_EQ(memblocksize(p), 13);
    EXPECT_EQ(std::memcmp(p + 13, "BEND", 4), 0);
    EXPECT_STREQ(memsitepath(word(p + 17)), "win\\ddraw");
    EXPECT_EQ(static_cast<int32_t>(word(p + 21)), line);
    EXPECT_EQ(word(p + 25), 0u);
    EXPECT_EQ(memblockname(p), reinterpret_cast<char *>(p + 13 + 16));
    EXPECT_STREQ(memblockname(p), "rowtbl");
    EXPECT_EQ((next(hdr(p)) - hdr(p)) % 8, 0); // whole length on the block alignment

    // callersite, when set, is recorded instead; a nameless block is not MB_NAMED.
    static const char caller[] = "game\\level";
    callersite = siterecord{caller, nullptr, 77};
    auto *q = static_cast<uint8_t *>(reservememadr(nullptr, 8, 6));
    EXPECT_EQ(memsitepath(word(q + 12)), caller);
    EXPECT_EQ(word(q + 16), 77u);
    EXPECT_EQ(memblocktype(q) & MB_NAMED, 0u);
    EXPECT_EQ(memblockname(q), nullptr);
    EXPECT_EQ(word(q + 20), 0xEEEEEEEEu); // no MB_ZEROWORD asked: word left alone

    // A 12-byte trailer holds the site words but not the zero word.
    uint8_t *t = region(4096);
    ASSERT_GT(creatememclass(9, "site12", t, 4096, 8, 16, 12, 0, 1, 0, 0, 0), 0);
    auto *w = static_cast<uint8_t *>(reservememadr(nullptr, 8, 9 | MB_ZEROWORD));
    EXPECT_EQ(memsitepath(word(w + 12)), caller);
    EXPECT_EQ(word(w + 20), 0xEEEEEEEEu);

    // A class without names stores none, even when the request carries MB_NAMED.
    uint8_t *r = region(4096);
    ASSERT_GT(creatememclass(8, "bare", r, 4096, 16, 16, 0, 0, 0, 0, 0, 0), 0);
    EXPECT_EQ(memblockoverhead("rowtbl", 8), 0);
    auto *u = static_cast<uint8_t *>(reservememadr("rowtbl", 16, 8 | MB_NAMED));
    EXPECT_EQ(memblocktype(u), 8u);
    EXPECT_EQ(memblockname(u), nullptr);
    EXPECT_EQ(next(hdr(u)), u + 16); // no room was taken for a name, and none written
    EXPECT_EQ(sig(u + 16), "FB");
}

TEST_F(Memstd, FailuresReportedOnlyWhileReportErrorsIsSet) {
    plainclass(9, 2048, 16);
    static int hookcalls;
    hookcalls = 0;
    memfailhook = [] { hookcalls++; };
    const int32_t avail = largestmemblock(9);
    for (int32_t on = 1; on >= 0; on--) {
        reporterrors = on;
        reports.clear();
        EXPECT_EQ(reservememadr("big", 100000, 9 | 0x30), nullptr);
        EXPECT_EQ(reservememadr(nullptr, -5, 9), nullptr);
        void *p = reservememadr("x", 10, 9);
        EXPECT_EQ(purgememadr(p), 1);
        EXPECT_EQ(purgememadr(p), 0);
        EXPECT_EQ(purgememadr(nullptr), 1);
        EXPECT_EQ(purgememadr(regions.back() + 16), 0); // the LOW block is no block in use
        if (on == 0) {
            EXPECT_TRUE(reports.empty());
            EXPECT_EQ(hookcalls, 1);
            continue;
        }
        ASSERT_EQ(reports.size(), 4u);
        char text[200];
        std::snprintf(text, sizeof text,
                      "purgememadr - NOT A MEMBLOCK.  BLOCK @ 0x%08lx, SIGNATURE 'FB' (0x4642)\n",
                      static_cast<unsigned long>(reinterpret_cast<uintptr_t>(p)));
        const std::string available = "\navailable: " + std::to_string(avail) + ". type 00";
        EXPECT_EQ(reports[0],
                  "reservememadr - OUT OF MEMORY\nrequested 'big': 100000" + available + "39\n");
        EXPECT_EQ(reports[1], "reservememadr - INVALID SIZE REQUESTED\nrequested '(null)': -5" +
                                  available + "09 MB_LOW\n");
        EXPECT_EQ(reports[2], text);
        EXPECT_STREQ(reportsite.file, "cmn\\memstd");
        EXPECT_EQ(hookcalls, 1);
    }
}

// The report runs after the class lock is left: another thread must be able to use the
// class from inside the report, or this test hangs.
TEST_F(Memstd, LockIsLeftBeforeReport) {
    uint8_t *s = region(4096);
    ASSERT_GT(creatememclass(10, "locked", s, 4096, 16, 16, 0, 0, 0, 0, 1, 0), 0);
    EXPECT_NE(word(s + 16 + 56), 0u);
    fatalfilterhook = [](const char *text) -> int32_t {
        reports.push_back(text);
        std::thread other([] { purgememadr(reservememadr(nullptr, 16, 10)); });
        other.join();
        return 0;
    };
    EXPECT_EQ(reservememadr(nullptr, 1 << 20, 10), nullptr);
    EXPECT_EQ(reservememadr(nullptr, -1, 10), nullptr);
    EXPECT_EQ(reports.size(), 2u);
}

TEST_F(Memstd, DefaultClassEntryPointsAndPurgeClass) {
    uint8_t *s = plainclass(11, 8192, 16);
    defaultmemclass = 0x1B; // only the low four bits count
    const int32_t whole = largestdefaultmemblock();
    void *a = reservemem(100);
    void *b = reservememadr2("two", 100, 11);
    void *c = reservemem(300);
    EXPECT_EQ(memblocktype(a) & MB_CLASS, 11u);
    EXPECT_EQ(hdr(b), next(hdr(a)));
    EXPECT_EQ(purgemem(b), 1);
    purgememclass(11);
    EXPECT_EQ(largestmemblock(11), whole);
    EXPECT_EQ(freelist(s).size(), 1u);
    EXPECT_EQ(sig(hdr(c)), std::string(2, '\0')); // merged away
    defaultmemclass = 0;
}

// One seeded run on class 1 over region r: reservations (all four placements, named and
// not, filled with a byte of their own), releases, and a purge of the whole class now and
// then (once, halfway, in a model run). Logged: every result, largestmemblock after each
// step, and a digest of the region every `every` steps. With `model`, the indexed run first
// predicts each placement from the free list (a hole a few bytes too small is passed
// over) and walks the whole class after every step against the live blocks: chain links,
// headers, data, end marks, names, no two free neighbours, and a free list that holds
// exactly the free blocks of the chain in address order. The walked run must then match it result
// for result and byte for byte.
struct runconfig {
    int32_t length;
    int steps, every;
    uint32_t maxsize;
    bool model;
};
struct runlog {
    std::vector<int64_t> results;
    std::vector<uint64_t> digests;
    int failed = 0;
    size_t peak = 0;
};
uint64_t digest(const uint8_t *r, int32_t length) {
    uint64_t h = 0x9E3779B97F4A7C15ull;
    for (int32_t i = 0; i + 8 <= length; i += 8) {
        uint64_t v;
        std::memcpy(&v, r + i, 8);
        h = (h ^ v) * 0x100000001B3ull;
        h ^= h >> 29;
    }
    return h;
}
struct live {
    int32_t size;
    uint8_t fill;
    std::string name;
};
void checkclass(uint8_t *r, const std::map<uint8_t *, live> &model) {
    uint8_t *high = follow(r + 16 + 12), *sent = r + 32;
    std::vector<uint8_t *> freeinchain;
    size_t inuse = 0;
    uint8_t *before = r;
    for (uint8_t *b = next(r); b != high; before = b, b = next(b)) {
        ASSERT_EQ(prev(b), before);
        ASSERT_GT(next(b), b);
        if (sig(b) == "FB") {
            ASSERT_NE(sig(before), "FB");
            ASSERT_EQ(size(b), next(b) - b - 16);
            ASSERT_NE(half(b + 2) & MB_FREE, 0u);
            freeinchain.push_back(b);
            continue;
        }
        ASSERT_EQ(sig(b), "MB");
        auto it = model.find(b + 16);
        ASSERT_NE(it, model.end());
        const live &l = it->second;
        ASSERT_EQ(size(b), l.size);
        ASSERT_TRUE(std::all_of(b + 16, b + 16 + l.size, [&](uint8_t v) { return v == l.fill; }));
        ASSERT_EQ(std::memcmp(b + 16 + l.size, "BEND", 4), 0);
        if (!l.name.empty()) {
            ASSERT_STREQ(memblockname(b + 16), l.name.c_str());
        }
        inuse++;
    }
    ASSERT_EQ(inuse, model.size());
    ASSERT_EQ(freelist(r), freeinchain);
    ASSERT_EQ(follow(sent + 20), freeinchain.empty() ? sent : freeinchain.back());
    ASSERT_EQ(sig(sent), "SB");
}
void randomrun(uint8_t *r, const runconfig &c, int32_t withindex, runlog &log) {
    const bool check = c.model && withindex != 0;
    std::memset(r, 0xEE, static_cast<size_t>(c.length));
    memclassindex = withindex;
    const int32_t whole = creatememclass(1, "rand", r, c.length, 8, 32, 16, 1, 1, 1, 0, 0);
    memclassindex = 1;
    ASSERT_GT(whole, 0);
    std::map<uint8_t *, live> model; // by data address
    std::mt19937 rng(20240601);
    reporterrors = 0;
    for (int step = 0; step < c.steps; step++) {
        SCOPED_TRACE(step);
        const bool grow = model.size() < 40 || (model.size() < 400 && rng() % 100 < 52);
        if (c.model ? step == c.steps / 2 : step % 997 == 996) {
            purgememclass(1);
            model.clear();
        } else if (!grow) {
            auto it = std::next(model.begin(), static_cast<long>(rng() % model.size()));
            log.results.push_back(purgememadr(it->first));
            model.erase(it);
        } else {
            const uint32_t pick = rng() % 100;
            const auto sz = static_cast<int32_t>(pick < 70   ? rng() % 64
                                                 : pick < 97 ? rng() % 1024
                                                             : rng() % c.maxsize);
            const uint32_t mode =
                std::array<uint32_t, 4>{0, MB_HIGH, MB_LARGEST, MB_HIGH | MB_LARGEST}[rng() % 4];
            std::string name = rng() % 2 ? "b" + std::to_string(step) : std::string();
            // The block the request must get, predicted from the free list as it stands.
            uint8_t *want = nullptr;
            if (check) {
                const int32_t need = ((std::max(sz, 8) + 16 +
                                       (name.empty() ? 0 : int32_t(name.size()) + 1) + 16 + 7) &
                                      ~7) -
                                     16;
                std::vector<uint8_t *> f = freelist(r);
                if (mode & MB_HIGH) {
                    std::reverse(f.begin(), f.end());
                }
                for (uint8_t *b : f) {
                    if (size(b) >= need &&
                        (want == nullptr || ((mode & MB_LARGEST) && size(b) > size(want)))) {
                        want = b;
                        if (!(mode & MB_LARGEST)) {
                            break;
                        }
                    }
                }
            }
            uint8_t *wantend = want != nullptr ? next(want) : nullptr;
            auto *p = static_cast<uint8_t *>(
                reservememadr(name.empty() ? nullptr : name.c_str(), sz, 1 | mode));
            log.results.push_back(p == nullptr ? -1 : p - r);
            if (check) {
                ASSERT_EQ(p == nullptr, want == nullptr);
                if (p != nullptr) {
                    ASSERT_EQ((mode & MB_HIGH) ? next(hdr(p)) : hdr(p),
                              (mode & MB_HIGH) ? wantend : want);
                }
            }
            if (p == nullptr) {
                log.failed++;
            } else {
                const auto fill = static_cast<uint8_t>(rng());
                std::memset(p, fill, static_cast<size_t>(sz));
                model[p] = live{sz, fill, name};
                log.peak = std::max(log.peak, model.size());
            }
        }
        log.results.push_back(largestmemblock(1));
        if (check) {
            checkclass(r, model);
            ASSERT_FALSE(testing::Test::HasFatalFailure());
        }
        if (step % c.every == 0) {
            log.digests.push_back(digest(r, c.length));
        }
    }
    reporterrors = 1;
    for (auto &[p, l] : model) {
        log.results.push_back(purgememadr(p));
    }
    EXPECT_EQ(largestmemblock(1), whole); // every block released: one free block again
    log.digests.push_back(digest(r, c.length));
    removememclass(1);
}

// The same runs on a class that searches through its index and on one that walks its free
// list, in the same region: every result and the region's bytes must agree throughout.
// The model run reaches exhaustion with hundreds of live blocks; the small region is one
// group of index entries, the large one has wider granules and a deeper index.
class MemstdRandom : public Memstd, public ::testing::WithParamInterface<runconfig> {};

TEST_P(MemstdRandom, RunsMatchTheModelWithAndWithoutTheIndex) {
    const runconfig &c = GetParam();
    uint8_t *r = region(static_cast<size_t>(c.length));
    runlog indexed, walked;
    randomrun(r, c, 1, indexed);
    ASSERT_FALSE(HasFatalFailure());
    randomrun(r, c, 0, walked);
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_EQ(indexed.results.size(), walked.results.size());
    for (size_t i = 0; i < indexed.results.size(); i++) {
        ASSERT_EQ(indexed.results[i], walked.results[i]) << "result " << i;
    }
    ASSERT_EQ(indexed.digests, walked.digests);
    if (c.length <= (1 << 20)) {
        EXPECT_GT(indexed.failed, 0); // the run did reach exhaustion
    }
    if (c.model) {
        EXPECT_GT(indexed.peak, 200u);
    }
}

INSTANTIATE_TEST_SUITE_P(Regions, MemstdRandom,
                         ::testing::Values(runconfig{256 * 1024, 30000, 16, 16384, true},
                                           runconfig{12 * 1024, 4000, 1, 2048, false},
                                           runconfig{96 << 20, 6000, 2000, 1 << 20, false}),
                         [](const auto &info) {
                             return "KiB" + std::to_string(info.param.length >> 10);
                         });

// Four threads reserve, fill, check and release blocks of one locked class while a fifth
// asks for the largest free block: the query takes the lock too, so it never follows a
// link that a reservation is rewriting, nor disturbs the index under it. The class is
// small enough that the free list stays long and changing. With and without the index.
TEST_F(Memstd, ConcurrentReserveAndPurgeOnALockedClass) {
    const int32_t length = 96 * 1024;
    for (int32_t withindex : {1, 0}) {
        SCOPED_TRACE(withindex);
        initmemclasses();
        memclassindex = withindex;
        uint8_t *s = region(length);
        const int32_t whole = creatememclass(13, "shared", s, length, 16, 16, 4, 1, 0, 0, 1, 0);
        memclassindex = 1;
        ASSERT_GT(whole, 0);
        std::vector<int> faults(5, 0);
        std::atomic<int> working{4};
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; t++) {
            threads.emplace_back([t, &faults, &working] {
                std::mt19937 rng(static_cast<uint32_t>(t) + 1);
                std::vector<std::pair<uint8_t *, int32_t>> mine;
                for (int i = 0; i < 20000; i++) {
                    if (mine.size() < 32 && rng() % 3 != 0) {
                        int32_t sz = static_cast<int32_t>(rng() % 512);
                        auto *p = static_cast<uint8_t *>(
                            reservememadr(nullptr, sz, 13 | (rng() % 2 ? MB_HIGH : 0)));
                        if (p == nullptr) {
                            faults[t]++;
                            continue;
                        }
                        std::memset(p, t + 1, static_cast<size_t>(sz));
                        mine.emplace_back(p, sz);
                    } else if (!mine.empty()) {
                        size_t k = rng() % mine.size();
                        auto [p, sz] = mine[k];
                        if (!std::all_of(p, p + sz, [t](uint8_t v) { return v == t + 1; }) ||
                            std::memcmp(p + sz, "BEND", 4) != 0 || purgememadr(p) != 1) {
                            faults[t]++;
                        }
                        mine.erase(mine.begin() + static_cast<long>(k));
                    }
                }
                for (auto [p, sz] : mine) {
                    purgememadr(p);
                }
                working--;
            });
        }
        while (working > 0) {
            const int32_t n = largestmemblock(13);
            faults[4] += n <= 0 || n > whole;
        }
        for (std::thread &t : threads) {
            t.join();
        }
        EXPECT_EQ(faults, std::vector<int>(5, 0));
        EXPECT_EQ(largestmemblock(13), whole);
        EXPECT_EQ(freelist(s).size(), 1u);
    }
}

} // namespace
