/*
 * cmn/memstd - memory classes: regions handed over by the application, carved into named,
 * signed blocks kept in address order.
 *
 * Threads and locks: reservememadr, purgememadr, purgememclass and largestmemblock run
 * under the class's lock when it has one (a re-entrant critical section from
 * win/threads); the lock is left before every report. The site table below is filled
 * lock-free. Everything else is plain globals without a lock.
 * Limits: 16 classes; a region below 2 GiB; 256 distinct site paths where pointers are
 * wider than 32 bits (further paths are recorded as 0). Besides the class table the module
 * keeps fixed search hints per class and, where it could get the pages, a search index
 * per class (about 2 % of a small region, less of a large one, from allocpages; see
 * below). The regions hold everything else, and their bytes do not depend on whether a
 * class has an index.
 *
 * A class region, from its start (S) to S + length:
 *
 *   S          S+16           S+80       S+80+T        first free      HIGH = S+len-32-T
 *   |  header  | class record | trailer  | "name LOW"  | header | data | header | trailer | "name
 * HIGH" |  16      | 64 bytes     | T bytes  | <= 32 bytes |   ...blocks in address order...  | 16
 * bytes
 *   \_________ LOW block (MB_BOUNDARY) ___________/    ^ data address: the first multiple
 *                                                        of the data alignment >= S+112+T
 *
 * Every block (LOW and HIGH included):
 *
 *   +0  "MB"/"FB"/"SB"   +2 type word   +4 size (int32)   +8 next   +12 prev   (16 bytes)
 *   +16 data: size bytes; in a free block: +16 next free, +20 previous free
 *   +16+size             trailer, T bytes: +0 "BEND", +4 site path, +8 site line, +12 zero
 *   +16+size+T           name and its zero (MB_NAMED)
 *   ...up to the next block; the whole length is a multiple of the block alignment.
 *
 * The class record (the LOW block's data, offsets from S+16):
 *
 *   +0 name[8]  +8 LOW  +12 HIGH  +16 sentinel header ("SB", size 0x7FFFFFFF)
 *   +32 first free  +36 last free  +40 block align  +44 data align  +48 trailer size
 *   +52 flags  +56 lock  +60 user value
 *
 * The first and last free words are the sentinel's two data words, so the sentinel sits
 * in the doubly linked, address-ordered free list like any free block; its huge size ends
 * every search. All stored addresses are 32-bit memlinks (see thistle/memstd.h).
 */
#include "thistle/memstd.h"

#include "thistle/diag.h"
#include "thistle/memutil.h"
#include "thistle/threads.h"

#include <array>
#include <atomic>
#include <bit>
#include <cstdio>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

int32_t defaultmemclass = 0;
void (*memfailhook)(void) = nullptr;
int32_t memclassindex = 1;

namespace {

constexpr int32_t headersize = 16;
constexpr int32_t recordsize = 64;
constexpr int32_t minimumdata = 8; /* room for the free-list links */
constexpr int32_t splitslack = 64; /* a larger surplus becomes a free block of its own */
constexpr int32_t sentinelsize = 0x7FFFFFFF;
constexpr bool widepointers = sizeof(void *) > 4;

/* Record field offsets. */
constexpr size_t rec_name = offsetof(memclassrecord, name);
constexpr size_t rec_low = offsetof(memclassrecord, lowblock);
constexpr size_t rec_high = offsetof(memclassrecord, highblock);
constexpr size_t rec_sentinel = offsetof(memclassrecord, sentinel);
constexpr size_t rec_blockalign = offsetof(memclassrecord, blockalign);
constexpr size_t rec_dataalign = offsetof(memclassrecord, dataalign);
constexpr size_t rec_trailer = offsetof(memclassrecord, trailersize);
constexpr size_t rec_flags = offsetof(memclassrecord, flags);
constexpr size_t rec_lock = offsetof(memclassrecord, lock);
constexpr size_t rec_user = offsetof(memclassrecord, user);

/* Class table: each entry points at a class record (LOW block data) or is null. */
uint8_t *classtable[MEMCLASSES];

/* Lock slots where a lock pointer does not fit the record's 32-bit field. */
critsection *lockslots[MEMCLASSES];

/* ---- raw field access: regions need not be aligned, so fields go through memcpy ---- */

inline uint32_t load32(const uint8_t *p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
inline void store32(uint8_t *p, uint32_t v) {
    std::memcpy(p, &v, 4);
}
inline uint16_t load16(const uint8_t *p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}
inline void store16(uint8_t *p, uint16_t v) {
    std::memcpy(p, &v, 2);
}

/* A memlink at field: the address itself, or (wide pointers) the distance from the field.
 * A field never points at itself (fields sit at offsets 8 to 20 of their block, targets
 * are block starts), so 0 is free to mean null. */
inline uint8_t *getlink(uint8_t *field) {
    uint32_t v = load32(field);
    if constexpr (widepointers) {
        return v == 0 ? nullptr : field + static_cast<int32_t>(v);
    } else {
        return reinterpret_cast<uint8_t *>(static_cast<uintptr_t>(v));
    }
}
inline void setlink(uint8_t *field, const uint8_t *target) {
    uint32_t v;
    if constexpr (widepointers) {
        v = target == nullptr ? 0 : static_cast<uint32_t>(static_cast<int32_t>(target - field));
    } else {
        v = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(target));
    }
    store32(field, v);
}

/* Header fields of the block at b. */
inline uint32_t btype(const uint8_t *b) {
    return load16(b + 2);
}
inline void settype(uint8_t *b, uint32_t t) {
    store16(b + 2, static_cast<uint16_t>(t));
}
inline int32_t bsize(const uint8_t *b) {
    return static_cast<int32_t>(load32(b + 4));
}
inline void setsize(uint8_t *b, int32_t s) {
    store32(b + 4, static_cast<uint32_t>(s));
}
inline uint8_t *bnext(uint8_t *b) {
    return getlink(b + 8);
}
inline uint8_t *bprev(uint8_t *b) {
    return getlink(b + 12);
}
inline void setnext(uint8_t *b, const uint8_t *n) {
    setlink(b + 8, n);
}
inline void setprev(uint8_t *b, const uint8_t *p) {
    setlink(b + 12, p);
}
inline void setsig(uint8_t *b, char c0, char c1) {
    b[0] = static_cast<uint8_t>(c0);
    b[1] = static_cast<uint8_t>(c1);
}
inline bool hassig(const uint8_t *b, char c0, char c1) {
    return b[0] == static_cast<uint8_t>(c0) && b[1] == static_cast<uint8_t>(c1);
}
/* A memlink that is never null: free-list links always lead to a free block or to the
 * sentinel, so they skip the null test. */
inline uint8_t *getfreelink(uint8_t *field) {
    if constexpr (widepointers) {
        return field + static_cast<int32_t>(load32(field));
    } else {
        return reinterpret_cast<uint8_t *>(static_cast<uintptr_t>(load32(field)));
    }
}
inline void setfreelink(uint8_t *field, const uint8_t *target) {
    if constexpr (widepointers) {
        store32(field, static_cast<uint32_t>(static_cast<int32_t>(target - field)));
    } else {
        store32(field, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(target)));
    }
}
/* Free-list links in the data (for the sentinel: the record's first/last free words). */
inline uint8_t *freenext(uint8_t *b) {
    return getfreelink(b + 16);
}
inline uint8_t *freeprev(uint8_t *b) {
    return getfreelink(b + 20);
}
inline void setfreenext(uint8_t *b, const uint8_t *n) {
    setfreelink(b + 16, n);
}
inline void setfreeprev(uint8_t *b, const uint8_t *p) {
    setfreelink(b + 20, p);
}

/* Class record fields. */
inline uint8_t *sentinel(uint8_t *rec) {
    return rec + rec_sentinel;
}
inline int32_t recfield(const uint8_t *rec, size_t off) {
    return static_cast<int32_t>(load32(rec + off));
}

inline uint8_t *lookup(uint32_t classnum) {
    return classtable[classnum & MB_CLASS];
}

critsection *classlock(const uint8_t *rec) {
    uint32_t v = load32(rec + rec_lock);
    if constexpr (widepointers) {
        return v == 0 || v > static_cast<uint32_t>(MEMCLASSES) ? nullptr : lockslots[v - 1];
    } else {
        return reinterpret_cast<critsection *>(static_cast<uintptr_t>(v));
    }
}

inline void lockclass(critsection *lock) {
    if (lock != nullptr) {
        enterlock(lock);
    }
}
inline void unlockclass(critsection *lock) {
    if (lock != nullptr) {
        leavelock(lock);
    }
}

inline bool ispow2(int32_t v) {
    return v > 0 && (v & (v - 1)) == 0;
}
inline uintptr_t roundup(uintptr_t v, uintptr_t align) {
    return (v + align - 1) & ~(align - 1);
}

/* ---- site paths ------------------------------------------------------------------- */

/* Where pointers are wider than 32 bits the trailer's site word is 1 + a slot of this
 * table, which interns path pointers (not their text) by open addressing. Slots are
 * only ever filled, never cleared, so readers need no lock. */
constexpr uint32_t siteslots = 256;
std::atomic<const char *> sitetable[siteslots];

uint32_t siteword(const char *path) {
    if (path == nullptr) {
        return 0;
    }
    if constexpr (!widepointers) {
        return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(path));
    }
    uint32_t slot = static_cast<uint32_t>((reinterpret_cast<uintptr_t>(path) >> 3) * 2654435761u);
    for (uint32_t n = 0; n < siteslots; n++, slot++) {
        slot &= siteslots - 1;
        const char *seen = sitetable[slot].load(std::memory_order_acquire);
        if (seen == nullptr) {
            if (sitetable[slot].compare_exchange_strong(seen, path, std::memory_order_acq_rel)) {
                return slot + 1;
            }
        }
        if (seen == path) {
            return slot + 1;
        }
    }
    return 0; /* table full: the block records no path */
}

/* ---- block header writer and free list -------------------------------------------- */

/* Writes a block's header and, behind its data (at data + size), the trailer words whose
 * bits the type has, then the name when the type has MB_NAMED. A trailer word is written
 * only if the class's trailer reaches past it, so a short trailer never spills into the
 * name or the next block. */
void writeheader(uint8_t *b, uint32_t type, int32_t size, const uint8_t *next, const uint8_t *prev,
                 int32_t trailer, const char *name) {
    setsig(b, 'M', 'B');
    settype(b, type);
    setsize(b, size);
    setnext(b, next);
    setprev(b, prev);
    uint8_t *t = b + headersize + size;
    if ((type & MB_ENDMARK) != 0 && trailer >= 4) {
        std::memcpy(t, "BEND", 4);
    }
    if ((type & MB_SITE) != 0 && trailer >= 12) {
        const siterecord &site = callersite.file != nullptr ? callersite : errorsite;
        store32(t + 4, siteword(site.file));
        store32(t + 8, static_cast<uint32_t>(site.line));
    }
    if ((type & MB_ZEROWORD) != 0 && trailer >= 16) {
        store32(t + 12, 0);
    }
    if (name != nullptr && (type & MB_NAMED) != 0) {
        std::memcpy(t + trailer, name, std::strlen(name) + 1);
    }
}

/* Search hints, kept beside the class table rather than in the region so that the region
 * stays exactly as described above. For each size threshold T[k], low[k] is a free block
 * (or the sentinel) below which every free block is smaller than T[k], and high[k] one
 * above which every free block is; a search for `need` bytes starts at the hint of the
 * largest threshold not above need. The blocks it skips could never have been chosen, so
 * first fit, MB_HIGH and MB_LARGEST pick exactly what a walk from the end of the list
 * picks. A free block's size changes only while it is off the list, so insertfree and
 * removefree alone keep the hints right (under the class lock). Thresholds: every 16
 * bytes up to 240, then four steps per doubling from 256 bytes to 224 KiB. A class with a
 * search index (below) searches through it instead and keeps no hints. */
constexpr int hintcount = 55;
constexpr std::array<int32_t, hintcount> thresholds = [] {
    std::array<int32_t, hintcount> t{};
    for (int k = 0; k < hintcount; k++) {
        const int j = k - 15;
        t[static_cast<size_t>(k)] = k < 15 ? 16 * (k + 1) : ((256 << (j / 4)) / 4) * (4 + j % 4);
    }
    return t;
}();
struct searchhints {
    uint8_t *low[hintcount];
    uint8_t *high[hintcount];
};
searchhints hints[MEMCLASSES];

inline searchhints &hintsof(const uint8_t *rec) {
    return hints[load32(rec + rec_flags) & MB_CLASS];
}

/* Index of the largest threshold not above need, or -1 below the first one. */
inline int hintindex(int32_t need) {
    if (need < 256) {
        return (need >> 4) - 1;
    }
    const int octave = std::bit_width(static_cast<uint32_t>(need)) - 9;
    const int k = 15 + 4 * octave + ((need >> (octave + 6)) & 3);
    return k < hintcount ? k : hintcount - 1;
}

/* Search index, the fast path beside the hints. Where creatememclass can get the memory
 * (from allocpages, never the process heap; released by removememclass), a class has an
 * index that finds the lowest (or highest) free block of at least n bytes in a few steps
 * instead of a walk along the list. The region is cut into granules of 2^shift bytes
 * (256 bytes, wider for regions above 64 MiB so that there are at most 2^18 granules;
 * the index then takes about 5 bytes per granule), and a 64-way tree of byte entries
 * sits over them:
 *
 *   top ......................... bound on the class of the largest free block
 *   level[0]   up to 64 entries . bound for each 64th of the region
 *   level[1]   up to 4096
 *   level[L-1] one per granule .. bound on the class of the largest free block starting
 *                                 in the granule; 0: no free block starts there
 *   firstfree  one per granule .. its lowest free block (offset from the region start;
 *                                 0: none, since offset 0 is the LOW block)
 *
 * Entries are size classes, not sizes (sizeclass below), so that a group of 64 fills one
 * cache line and is compared with a class in four vector steps. firstfree is exact, and so
 * is the difference between a 0 and a non-zero entry: a granule's entry becomes 0 when its
 * last free block leaves. A non-zero entry is an upper bound: an insertion raises it at
 * once, a removal that leaves other blocks in the granule leaves it, and a search that
 * walks the granule and finds less than promised sets the class of what it found. Each
 * inner entry is the maximum of its group below.
 *
 * A search for n bytes descends to the first (for MB_HIGH the last) granule whose entry is
 * at least the class of n and walks the free list inside it (the free blocks of a granule
 * are neighbours in the list). Every granule passed over holds only blocks of a lower
 * class, hence smaller than n; if the granule holds nothing large enough, the search goes
 * on from the next granule of a high enough entry. So the block found is the one a walk of
 * the whole list would find. The index only answers questions about the list; the list is
 * written exactly as without it, so both paths leave the same bytes in the region. */
constexpr uint32_t fanbits = 6;
constexpr uint32_t fanout = 1u << fanbits;
constexpr int maxlevels = 3; /* 64^3 = 2^18 */
constexpr uint32_t mingranuleshift = 8;
constexpr uint32_t maxgranulebits = 18;

struct searchindex {
    uint8_t *base;             /* the region's start; null: the class has no index */
    void *pages;               /* allocpages memory holding the arrays below */
    uint8_t *level[maxlevels]; /* classes, level[levels - 1] per granule */
    uint32_t *firstfree;       /* per granule, see above */
    uint32_t top;
    uint32_t shift;
    int levels;
};
searchindex indexes[MEMCLASSES];

inline searchindex *indexof(const uint8_t *rec) {
    searchindex *ix = &indexes[load32(rec + rec_flags) & MB_CLASS];
    return ix->base != nullptr ? ix : nullptr;
}

inline uint32_t granuleof(const searchindex *ix, const uint8_t *b) {
    return static_cast<uint32_t>(static_cast<uintptr_t>(b - ix->base) >> ix->shift);
}

/* Class of a free block of n bytes: 1 to 16 in 16-byte steps below 256 bytes, then eight
 * steps per doubling (17 to 200 up to 2^31). Larger blocks never get a smaller class, so
 * a block of at least n bytes has at least n's class. */
inline uint32_t sizeclass(int32_t n) {
    const auto u = static_cast<uint32_t>(n);
    if (u < 256) {
        return 1 + (u >> 4);
    }
    const auto octave = static_cast<uint32_t>(std::bit_width(u)) - 9;
    return 17 + 8 * octave + ((u >> (octave + 5)) & 7);
}

/* The class of a granule whose largest free block has m bytes (0: it has none). */
inline uint32_t granuleclass(int32_t m) {
    return m == 0 ? 0 : sizeclass(m);
}

/* Bit k set for each of the 64 entries at v (a group, 64-byte aligned) that is at least
 * c, and the largest of them. With SSE2 (every x86-64) a group is four vector compares;
 * elsewhere the loops below, which give the same answers. */
#if defined(__SSE2__)
inline __m128i groupquarter(const uint8_t *v, int q) {
    __m128i x;
    std::memcpy(&x, v + 16 * q, sizeof x);
    return x;
}
inline uint64_t atleast(const uint8_t *v, uint32_t c) {
    const __m128i want = _mm_set1_epi8(static_cast<char>(c));
    uint64_t bits = 0;
    for (int q = 0; q < 4; q++) {
        const __m128i x = groupquarter(v, q);
        const __m128i ge = _mm_cmpeq_epi8(_mm_max_epu8(x, want), x);
        bits |= static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(ge))) << (16 * q);
    }
    return bits;
}
inline uint32_t groupmax(const uint8_t *v) {
    __m128i m = groupquarter(v, 0);
    for (int q = 1; q < 4; q++) {
        m = _mm_max_epu8(m, groupquarter(v, q));
    }
    m = _mm_max_epu8(m, _mm_srli_si128(m, 8));
    m = _mm_max_epu8(m, _mm_srli_si128(m, 4));
    m = _mm_max_epu8(m, _mm_srli_si128(m, 2));
    m = _mm_max_epu8(m, _mm_srli_si128(m, 1));
    return static_cast<uint32_t>(_mm_cvtsi128_si32(m)) & 0xFF;
}
#else
inline uint64_t atleast(const uint8_t *v, uint32_t c) {
    uint64_t bits = 0;
    for (uint32_t k = 0; k < fanout; k++) {
        bits |= static_cast<uint64_t>(v[k] >= c) << k;
    }
    return bits;
}
inline uint32_t groupmax(const uint8_t *v) {
    uint32_t m = 0;
    for (uint32_t k = 0; k < fanout; k++) {
        m = v[k] > m ? v[k] : m;
    }
    return m;
}
#endif

/* Lowest (high: highest) set bit of a non-zero mask. */
inline uint32_t pick(uint64_t m, bool high) {
    return static_cast<uint32_t>(high ? 63 - std::countl_zero(m) : std::countr_zero(m));
}

void dropindex(int32_t classnum) {
    searchindex &ix = indexes[classnum];
    if (ix.pages != nullptr) {
        freepages(ix.pages);
    }
    ix = searchindex{};
}

/* Gives class classnum an index over [start, start + length); without the pages it has
 * none and the class searches with the hints alone. */
void buildindex(int32_t classnum, uint8_t *start, int32_t length) {
    dropindex(classnum);
    if (memclassindex == 0) {
        return;
    }
    uint32_t shift = mingranuleshift;
    while ((static_cast<uint64_t>(length) >> shift) >= (uint64_t{1} << maxgranulebits)) {
        shift++;
    }
    const uint64_t granules = ((static_cast<uint64_t>(length) - 1) >> shift) + 1;
    int levels = 1;
    while ((uint64_t{1} << (fanbits * static_cast<uint32_t>(levels))) < granules) {
        levels++;
    }
    /* Each level holds whole groups of 64 for the entries in use below it (level 0 is one
     * group); the entries past the region's end stay 0, so no search goes there. Every
     * group starts on a multiple of 64 bytes of the page-aligned memory. */
    size_t span[maxlevels] = {};
    size_t entries = 0;
    size_t n = static_cast<size_t>(granules);
    for (int j = levels - 1; j >= 0; j--) {
        span[j] = (n + fanout - 1) & ~size_t{fanout - 1};
        entries += span[j];
        n = (n + fanout - 1) / fanout;
    }
    size_t bytes = entries + static_cast<size_t>(granules) * 4;
    void *pages = allocpages(&bytes);
    if (pages == nullptr) {
        return;
    }
    zerobytes(pages, bytes);
    searchindex &ix = indexes[classnum];
    ix.base = start;
    ix.pages = pages;
    uint8_t *at = static_cast<uint8_t *>(pages);
    for (int j = 0; j < levels; j++) {
        ix.level[j] = at;
        at += span[j];
    }
    ix.firstfree = reinterpret_cast<uint32_t *>(static_cast<void *>(at));
    ix.top = 0;
    ix.shift = shift;
    ix.levels = levels;
}

/* Raises granule g's entry to class c, with the entries above it. */
void indexraise(searchindex *ix, uint32_t g, uint32_t c) {
    for (int j = ix->levels - 1; j >= 0; j--, g >>= fanbits) {
        if (ix->level[j][g] >= c) {
            return;
        }
        ix->level[j][g] = static_cast<uint8_t>(c);
    }
    ix->top = c > ix->top ? c : ix->top;
}

/* Sets granule g's entry to class c, below what it was, and carries the change upwards
 * while a group's maximum changes. */
void indexlower(searchindex *ix, uint32_t g, uint32_t c) {
    int j = ix->levels - 1;
    ix->level[j][g] = static_cast<uint8_t>(c);
    for (; j > 0; j--) {
        const uint32_t gm = groupmax(ix->level[j] + (g & ~(fanout - 1)));
        g >>= fanbits;
        if (ix->level[j - 1][g] == gm) {
            return;
        }
        ix->level[j - 1][g] = static_cast<uint8_t>(gm);
    }
    ix->top = groupmax(ix->level[0]);
}

/* Free block b of size bytes went on the list. */
void indexadd(searchindex *ix, const uint8_t *b, int32_t size) {
    const uint32_t g = granuleof(ix, b);
    const auto off = static_cast<uint32_t>(b - ix->base);
    if (ix->firstfree[g] == 0 || off < ix->firstfree[g]) {
        ix->firstfree[g] = off;
    }
    indexraise(ix, g, sizeclass(size));
}

/* Free block b came off the list; n was the block after it there. The granule's first
 * free block moves on to n, or the granule is empty and its entry becomes 0. */
void indexdrop(searchindex *ix, const uint8_t *s, const uint8_t *b, const uint8_t *n) {
    const uint32_t g = granuleof(ix, b);
    if (ix->firstfree[g] == static_cast<uint32_t>(b - ix->base)) {
        if (n != s && granuleof(ix, n) == g) {
            ix->firstfree[g] = static_cast<uint32_t>(n - ix->base);
        } else {
            ix->firstfree[g] = 0;
            indexlower(ix, g, 0);
        }
    }
}

/* From entry i of level j, which is at least c, down to the first (high: last) granule
 * below it whose entry is at least c. */
uint32_t indexdescend(const searchindex *ix, int j, uint32_t i, uint32_t c, bool high) {
    for (j++; j < ix->levels; j++) {
        i = (i << fanbits) + pick(atleast(ix->level[j] + (i << fanbits), c), high);
    }
    return i;
}

/* The first (high: last) granule whose entry is at least c; the caller has checked
 * top >= c. */
uint32_t indexfind(const searchindex *ix, uint32_t c, bool high) {
    return indexdescend(ix, 0, pick(atleast(ix->level[0], c), high), c, high);
}

/* The first granule after g (high: the last before g) whose entry is at least c, or -1. */
int64_t indexstep(const searchindex *ix, uint32_t g, uint32_t c, bool high) {
    uint32_t i = g;
    for (int j = ix->levels - 1; j >= 0; j--, i >>= fanbits) {
        const uint32_t k = i & (fanout - 1);
        const uint64_t beyond = high ? (uint64_t{1} << k) - 1 : ~uint64_t{1} << k;
        const uint64_t m = atleast(ix->level[j] + (i - k), c) & beyond;
        if (m != 0) {
            return indexdescend(ix, j, i - k + pick(m, high), c, high);
        }
    }
    return -1;
}

/* A walk has just seen every free block of granule g, the largest of m bytes: the
 * granule's entry, an upper bound until now, becomes exact. */
void indexsettle(searchindex *ix, uint32_t g, int32_t m) {
    const uint32_t c = granuleclass(m);
    if (c < ix->level[ix->levels - 1][g]) {
        indexlower(ix, g, c);
    }
}

/* The first free block of granule g; its entry is not 0, so it has one. */
inline uint8_t *granulefirst(const searchindex *ix, uint32_t g) {
    return ix->base + ix->firstfree[g];
}

/* The free block (or the sentinel) that b, not itself free, follows in the list. */
uint8_t *indexbefore(searchindex *ix, uint8_t *s, uint8_t *b) {
    const uint32_t g = granuleof(ix, b);
    uint8_t *after;
    if (ix->firstfree[g] != 0) {
        /* Past the granule's free blocks below b, the walk reaches the first one above
         * it, in this granule or the next one that has any. */
        after = granulefirst(ix, g);
        while (after != s && after < b) {
            after = freenext(after);
        }
    } else {
        const int64_t h = indexstep(ix, g, 1, false);
        after = h < 0 ? s : granulefirst(ix, static_cast<uint32_t>(h));
    }
    return freeprev(after);
}

/* The largest free block of at least need bytes, the first met on equal sizes (from the
 * high end with high), or null. Only granules of the top class can hold it. Each is
 * walked, which makes its entry exact; if none holds a block of that class, the top has
 * come down and the next class is tried. */
uint8_t *indexlargest(searchindex *ix, uint8_t *s, int32_t need, bool high) {
    while (ix->top >= sizeclass(need)) {
        const uint32_t c = ix->top;
        uint8_t *best = nullptr;
        int32_t bestsize = 0;
        for (int64_t g = indexfind(ix, c, high); g >= 0;
             g = indexstep(ix, static_cast<uint32_t>(g), c, high)) {
            const auto gu = static_cast<uint32_t>(g);
            uint8_t *at = nullptr;
            int32_t m = 0;
            for (uint8_t *b = granulefirst(ix, gu); b != s && granuleof(ix, b) == gu;
                 b = freenext(b)) {
                const int32_t sz = bsize(b);
                if (sz > m || (high && sz == m)) {
                    at = b;
                    m = sz;
                }
            }
            indexsettle(ix, gu, m);
            if (m > bestsize) {
                best = at;
                bestsize = m;
            }
        }
        if (best != nullptr && sizeclass(bestsize) == c) {
            return bestsize >= need ? best : nullptr;
        }
    }
    return nullptr;
}

/* The free block for a request of need bytes as findfree defines it, or null. */
uint8_t *indexsearch(searchindex *ix, uint8_t *s, int32_t need, uint32_t type) {
    const bool high = (type & MB_HIGH) != 0;
    if ((type & MB_LARGEST) != 0) {
        return indexlargest(ix, s, need, high);
    }
    const uint32_t c = sizeclass(need);
    if (ix->top < c) {
        return nullptr;
    }
    for (int64_t g = indexfind(ix, c, high); g >= 0;
         g = indexstep(ix, static_cast<uint32_t>(g), c, high)) {
        const auto gu = static_cast<uint32_t>(g);
        uint8_t *found = nullptr;
        int32_t m = 0;
        for (uint8_t *b = granulefirst(ix, gu); b != s && granuleof(ix, b) == gu; b = freenext(b)) {
            const int32_t sz = bsize(b);
            if (sz >= need) {
                found = b;
                if (!high) {
                    return b;
                }
            }
            m = sz > m ? sz : m;
        }
        if (found != nullptr) {
            return found;
        }
        indexsettle(ix, gu, m);
    }
    return nullptr;
}

/* Largest free block of the class. */
int32_t indexlargestsize(searchindex *ix, uint8_t *s) {
    uint8_t *b = indexlargest(ix, s, 1, false);
    return b != nullptr ? bsize(b) : 0;
}

/* Steps tried along the address chain before falling back to the free-list walk. */
constexpr int chainsteps = 16;

/* The free block (or the sentinel) that b follows in the address-ordered free list. The
 * nearest free blocks in address order are usually a few blocks away along the chain of
 * all blocks, so that is tried first, both ways at once; failing that, the free list is
 * walked from its nearer end (forward from the first free block when b lies at or below
 * the midpoint of the first and the last, backward from the last otherwise). */
uint8_t *freebefore(uint8_t *s, uint8_t *b) {
    uint8_t *first = freenext(s);
    uint8_t *last = freeprev(s);
    if (first == s) {
        return s;
    }
    uint8_t *down = bprev(b);
    uint8_t *up = bnext(b);
    for (int n = 0; n < chainsteps; n++) {
        if ((btype(down) & MB_FREE) != 0) {
            return down;
        }
        if ((btype(up) & MB_FREE) != 0) {
            return freeprev(up);
        }
        uint8_t *below = bprev(down);
        uint8_t *above = bnext(up);
        if (below == nullptr) { /* down is the LOW block: nothing free below b */
            return s;
        }
        if (above == nullptr) { /* up is the HIGH block: nothing free above b */
            return last;
        }
        down = below;
        up = above;
    }
    if (reinterpret_cast<uintptr_t>(b) <=
        reinterpret_cast<uintptr_t>(first) +
            (reinterpret_cast<uintptr_t>(last) - reinterpret_cast<uintptr_t>(first)) / 2) {
        uint8_t *after = first;
        while (after != s && after < b) {
            after = freenext(after);
        }
        return freeprev(after);
    }
    uint8_t *before = last;
    while (before != s && before > b) {
        before = freeprev(before);
    }
    return before;
}

/* Links block b into the class's free list in address order; its size becomes
 * (next - b - 16), it gets MB_FREE and the signature "FB". before is the free block (or
 * the sentinel) b goes behind when the caller knows it, else null. */
void insertfree(uint8_t *rec, uint8_t *b, uint8_t *before) {
    uint8_t *s = sentinel(rec);
    const int32_t size = static_cast<int32_t>(bnext(b) - b - headersize);
    setsize(b, size);
    searchindex *ix = indexof(rec);
    if (before == nullptr) {
        before = ix != nullptr ? indexbefore(ix, s, b) : freebefore(s, b);
    }
    uint8_t *after = freenext(before);
    setfreenext(b, after);
    setfreeprev(b, before);
    setfreenext(before, b);
    setfreeprev(after, b);
    settype(b, btype(b) | MB_FREE);
    setsig(b, 'F', 'B');
    if (ix != nullptr) {
        indexadd(ix, b, size);
        return;
    }
    searchhints &h = hintsof(rec);
    for (int k = 0; k < hintcount && thresholds[static_cast<size_t>(k)] <= size; k++) {
        if (h.low[k] == s || b < h.low[k]) {
            h.low[k] = b;
        }
        if (h.high[k] == s || b > h.high[k]) {
            h.high[k] = b;
        }
    }
}

/* Takes block b off the free list; it is then in neither state (signature 0). heir, when
 * not null, is the free block that the caller puts in b's place in the list before the
 * class is used again: b itself (shrunk or grown) or a block cut from it. */
void removefree(uint8_t *rec, uint8_t *b, const uint8_t *heir) {
    uint8_t *n = freenext(b);
    uint8_t *p = freeprev(b);
    setfreenext(p, n);
    setfreeprev(n, p);
    settype(b, btype(b) & ~MB_FREE);
    setsig(b, 0, 0);
    if (searchindex *ix = indexof(rec); ix != nullptr) {
        const uint32_t g = granuleof(ix, b);
        if (heir != nullptr && granuleof(ix, heir) == g) {
            /* Its successor in the granule is on the way: hand the granule over instead
             * of emptying it and filling it again. */
            if (ix->firstfree[g] == static_cast<uint32_t>(b - ix->base)) {
                ix->firstfree[g] = static_cast<uint32_t>(heir - ix->base);
            }
            return;
        }
        indexdrop(ix, sentinel(rec), b, n);
        return;
    }
    searchhints &h = hintsof(rec);
    for (int k = 0; k < hintcount; k++) {
        if (h.low[k] == b) {
            h.low[k] = n;
        }
        if (h.high[k] == b) {
            h.high[k] = p;
        }
    }
}

int32_t largestfree(uint8_t *rec) {
    if (rec == nullptr) {
        return 0;
    }
    if (searchindex *ix = indexof(rec); ix != nullptr) {
        return indexlargestsize(ix, sentinel(rec));
    }
    uint8_t *s = sentinel(rec);
    int32_t best = 0;
    for (uint8_t *b = freenext(s); b != s; b = freenext(b)) {
        if (bsize(b) > best) {
            best = bsize(b);
        }
    }
    return best;
}

int32_t overhead(const uint8_t *rec, const char *name) {
    if (rec == nullptr) {
        return 0;
    }
    int32_t n = recfield(rec, rec_trailer);
    if (name != nullptr && (load32(rec + rec_flags) & MB_NAMED) != 0) {
        n += static_cast<int32_t>(std::strlen(name)) + 1;
    }
    return n;
}

/* Printable name for the reports: the C library of the original target printed a null
 * %s argument as "(null)"; pass that text explicitly so every target prints the same. */
inline const char *shownname(const char *name) {
    return name != nullptr ? name : "(null)";
}

/* Free block found for a request of `need` bytes, or null. */
uint8_t *findfree(uint8_t *rec, int32_t need, uint32_t type) {
    uint8_t *s = sentinel(rec);
    if (searchindex *ix = indexof(rec); ix != nullptr) {
        return indexsearch(ix, s, need, type);
    }
    const bool high = (type & MB_HIGH) != 0;
    const int k = hintindex(need);
    uint8_t *b = k >= 0 ? (high ? hintsof(rec).high[k] : hintsof(rec).low[k])
                        : (high ? freeprev(s) : freenext(s));
    if (b == s) {
        return nullptr;
    }
    if ((type & MB_LARGEST) != 0) {
        uint8_t *best = nullptr;
        int32_t bestsize = 0;
        for (; b != s; b = high ? freeprev(b) : freenext(b)) {
            int32_t sz = bsize(b);
            if (sz >= need && (best == nullptr || sz > bestsize)) {
                best = b;
                bestsize = sz;
            }
        }
        return best;
    }
    /* The sentinel's size 0x7FFFFFFF ends the walk at the latest. Removals leave a hint
     * on whatever block followed the removed one; the walk moves it on past the blocks
     * below its threshold that lead the way, so the next search skips them. */
    uint8_t **hint = k < 0 ? nullptr : high ? &hintsof(rec).high[k] : &hintsof(rec).low[k];
    const int32_t threshold = k < 0 ? 0 : thresholds[static_cast<size_t>(k)];
    while (bsize(b) < need) {
        const bool below = bsize(b) < threshold;
        b = high ? freeprev(b) : freenext(b);
        if (hint != nullptr) {
            if (below) {
                *hint = b;
            } else {
                hint = nullptr;
            }
        }
    }
    return b == s ? nullptr : b;
}

void *reserve(const char *name, int32_t size, uint32_t type) {
    type &= 0xFFFF;
    uint8_t *rec = lookup(type);
    if (rec == nullptr) {
        /* No class under that number: nothing to reserve from, reported as out of memory
         * with 0 available. */
        if (reporterrors != 0) {
            THISTLE_SITE("cmn\\memstd");
            fatalerror(
                "reservememadr - OUT OF MEMORY\nrequested '%s': %d\navailable: %d. type %04lx\n",
                shownname(name), size, 0, static_cast<unsigned long>(type));
        }
        return nullptr;
    }
    critsection *lock = classlock(rec);
    lockclass(lock);
    if (size < 0) {
        int32_t available = largestfree(rec);
        unlockclass(lock);
        if (reporterrors != 0) {
            THISTLE_SITE("cmn\\memstd");
            fatalerror("reservememadr - INVALID SIZE REQUESTED\nrequested '%s': %d\navailable: %d. "
                       "type %04lx MB_LOW\n",
                       shownname(name), size, available, static_cast<unsigned long>(type));
        }
        return nullptr;
    }
    const uint32_t flags = load32(rec + rec_flags);
    const int32_t trailer = recfield(rec, rec_trailer);
    const uintptr_t blockalign = load32(rec + rec_blockalign);
    const int32_t data = size < minimumdata ? minimumdata : size;
    /* 64-bit arithmetic: a size near 2^31 must fail to fit, not wrap into a small need. */
    const uint64_t length =
        (static_cast<uint64_t>(data) + static_cast<uint64_t>(overhead(rec, name)) + headersize +
         blockalign - 1) &
        ~static_cast<uint64_t>(blockalign - 1);
    const int32_t need = length - headersize >= static_cast<uint64_t>(sentinelsize)
                             ? sentinelsize
                             : static_cast<int32_t>(length - headersize);
    uint8_t *b = need == sentinelsize ? nullptr : findfree(rec, need, type);
    if (b == nullptr) {
        int32_t available = largestfree(rec);
        unlockclass(lock);
        if (reporterrors != 0) {
            if (memfailhook != nullptr) {
                memfailhook();
            }
            THISTLE_SITE("cmn\\memstd");
            fatalerror(
                "reservememadr - OUT OF MEMORY\nrequested '%s': %d\navailable: %d. type %04lx\n",
                shownname(name), size, available, static_cast<unsigned long>(type));
        }
        return nullptr;
    }

    /* A surplus above splitslack stays free: behind the reserved block, or (MB_HIGH) below
     * it. The reserved block then starts on a block-alignment step from the free block, so
     * the part left below keeps the class's spacing; with an alignment above the surplus
     * there is no such step and the block is taken whole. */
    const int32_t surplus = bsize(b) - need;
    const bool high = (type & MB_HIGH) != 0;
    const int32_t low = static_cast<int32_t>(static_cast<uintptr_t>(surplus) & ~(blockalign - 1));
    uint8_t *heir = surplus <= splitslack             ? nullptr
                    : !high                           ? b + headersize + need
                    : low >= headersize + minimumdata ? b
                                                      : nullptr;
    uint8_t *before = freeprev(b); /* what the free part goes behind */
    removefree(rec, b, heir);
    uint8_t *next = bnext(b);
    if (heir != nullptr) {
        if (!high) {
            uint8_t *rest = heir;
            writeheader(rest, 0, 0, next, b, 0, nullptr);
            setprev(next, rest);
            setnext(b, rest);
            insertfree(rec, rest, before);
            next = rest;
        } else {
            uint8_t *top = b + low;
            settype(b, 0);
            setnext(b, top);
            setsig(top, 0, 0);
            settype(top, 0);
            setnext(top, next);
            setprev(top, b);
            setprev(next, top);
            insertfree(rec, b, before);
            b = top;
        }
    }

    /* The three class properties come from the class alone: a request's own copies of
     * them are dropped, as are the state bits, which only this module sets. */
    uint32_t t = (type & ~(MB_NAMED | MB_ENDMARK | MB_SITE | MB_FREE | MB_BOUNDARY)) |
                 (flags & (MB_NAMED | MB_ENDMARK | MB_SITE));
    if (name == nullptr) {
        t &= ~MB_NAMED;
    }
    writeheader(b, t, size, next, bprev(b), trailer, name);
    unlockclass(lock);
    return b + headersize;
}

void reportnotablock(const uint8_t *b, const void *data) {
    if (reporterrors != 0) {
        THISTLE_SITE("cmn\\memstd");
        fatalerror("purgememadr - NOT A MEMBLOCK.  BLOCK @ 0x%08lx, SIGNATURE '%2.2s' (0x%02x)\n",
                   static_cast<unsigned long>(reinterpret_cast<uintptr_t>(data)),
                   reinterpret_cast<const char *>(b), (b[0] << 8) | b[1]);
    }
}

} // namespace

int32_t initmemclasses(void) {
    for (int32_t n = 0; n < MEMCLASSES; n++) {
        classtable[n] = nullptr;
        dropindex(n); /* module memory, unlike the regions and locks */
    }
    return 1;
}

int32_t creatememclass(int32_t classnum, const char *name, void *start, int32_t length,
                       int32_t blockalign, int32_t dataalign, int32_t trailersize,
                       int32_t endmarkwanted, int32_t sitewanted, int32_t nameswanted,
                       int32_t lockwanted, int32_t user) {
    if (classnum < 0 || classnum >= MEMCLASSES) {
        if (reporterrors != 0) {
            THISTLE_SITE("cmn\\memstd");
            fatalerror("creatememclass - CLASS NUMBER OF %d IS OUT OF RANGE. SHOULD BE 0..%d\n",
                       classnum, MEMCLASSES);
        }
        return 0;
    }
    /* Refused without a report: alignments that are not powers of two (the rounding
     * masks need them), a negative trailer, and a region whose free block would not even
     * hold its two links. */
    if (!ispow2(blockalign) || !ispow2(dataalign) || trailersize < 0 || start == nullptr) {
        return 0;
    }
    uint8_t *low = static_cast<uint8_t *>(start);
    const uintptr_t s = reinterpret_cast<uintptr_t>(start);
    const uintptr_t firstdata = roundup(s + 80 + static_cast<uintptr_t>(trailersize) + 32,
                                        static_cast<uintptr_t>(dataalign));
    const int64_t highoff = static_cast<int64_t>(length) - 32 - trailersize;
    if (highoff < static_cast<int64_t>(firstdata - s) + minimumdata) {
        return 0;
    }
    uint8_t *first = low + (firstdata - s) - headersize;
    uint8_t *high = low + highoff;

    uint32_t flags = static_cast<uint32_t>(classnum);
    if (endmarkwanted != 0) {
        flags |= MB_ENDMARK;
    }
    if (sitewanted != 0) {
        flags |= MB_SITE;
    }
    if (nameswanted != 0) {
        flags |= MB_NAMED;
    }

    /* The boundary names use the name as stored in the record (at most 7 characters), so
     * "%s LOW" always fits the 32 bytes kept for it. */
    char shortname[8] = {};
    if (name != nullptr) {
        std::strncpy(shortname, name, sizeof shortname - 1);
    }
    char text[256];
    std::snprintf(text, sizeof text, "%s LOW", shortname);
    writeheader(low, flags | MB_BOUNDARY, recordsize, first, nullptr, trailersize, text);
    writeheader(first, 0, static_cast<int32_t>(high - first - headersize), high, low, 0, nullptr);
    std::snprintf(text, sizeof text, "%s HIGH", shortname);
    writeheader(high, flags | MB_BOUNDARY | MB_HIGH, 0, nullptr, first, trailersize, text);

    uint8_t *rec = low + headersize;
    classtable[classnum] = rec;
    std::memset(rec, 0, recordsize);
    std::memcpy(rec + rec_name, shortname, sizeof shortname);
    setlink(rec + rec_low, low);
    setlink(rec + rec_high, high);
    uint8_t *sent = sentinel(rec);
    setsig(sent, 'S', 'B');
    setsize(sent, sentinelsize);
    setfreenext(sent, sent);
    setfreeprev(sent, sent);
    store32(rec + rec_blockalign, static_cast<uint32_t>(blockalign));
    store32(rec + rec_dataalign, static_cast<uint32_t>(dataalign));
    store32(rec + rec_trailer, static_cast<uint32_t>(trailersize));
    store32(rec + rec_flags, flags);
    store32(rec + rec_user, static_cast<uint32_t>(user));
    for (int k = 0; k < hintcount; k++) {
        hints[classnum].low[k] = sent;
        hints[classnum].high[k] = sent;
    }
    buildindex(classnum, low, length);
    insertfree(rec, first, sent);

    if (lockwanted != 0) {
        critsection *lock = createlock();
        if constexpr (widepointers) {
            lockslots[classnum] = lock;
            store32(rec + rec_lock, lock != nullptr ? static_cast<uint32_t>(classnum) + 1 : 0);
        } else {
            store32(rec + rec_lock, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(lock)));
        }
    }
    return bsize(first);
}

int32_t getfreememclass(void) {
    for (int32_t n = 1; n < MEMCLASSES; n++) {
        if (classtable[n] == nullptr) {
            return n;
        }
    }
    if (reporterrors != 0) {
        THISTLE_SITE("cmn\\memstd");
        fatalerror("getfreememclass - NO FREE CLASSES.  %d IS MAXIMUM\n", MEMCLASSES);
    }
    return MEMCLASSES;
}

int32_t removememclass(int32_t classnum) {
    if (classnum < 0 || classnum >= MEMCLASSES || classtable[classnum] == nullptr) {
        return 0;
    }
    uint8_t *rec = classtable[classnum];
    critsection *lock = classlock(rec);
    if (lock != nullptr) {
        deletelock(lock);
        if constexpr (widepointers) {
            lockslots[load32(rec + rec_lock) - 1] = nullptr;
        }
    }
    dropindex(classnum);
    std::memset(rec, 0, recordsize);
    classtable[classnum] = nullptr;
    return 1;
}

void *reservememadr(const char *name, int32_t size, uint32_t type) {
    return reserve(name, size, type);
}

void *reservememadr2(const char *name, int32_t size, uint32_t type) {
    return reserve(name, size, type);
}

int32_t purgememadr(void *data) {
    if (data == nullptr) {
        return 1;
    }
    uint8_t *b = static_cast<uint8_t *>(data) - headersize;
    /* A boundary block carries "MB" but is not a block in use, and a class that was
     * removed has no free list to return to: both are refused like a bad signature. */
    uint8_t *rec = hassig(b, 'M', 'B') ? lookup(btype(b)) : nullptr;
    if (rec == nullptr || (btype(b) & MB_BOUNDARY) != 0) {
        reportnotablock(b, data);
        return 0;
    }
    critsection *lock = classlock(rec);
    lockclass(lock);
    setsig(b, 0, 0);
    /* A free neighbour tells where the merged block goes in the list. */
    uint8_t *before = nullptr;
    uint8_t *prev = bprev(b);
    if ((btype(prev) & MB_FREE) != 0) {
        before = freeprev(prev);
        removefree(rec, prev, prev);
        uint8_t *next = bnext(b);
        setnext(prev, next);
        setprev(next, prev);
        b = prev;
    }
    uint8_t *next = bnext(b);
    if ((btype(next) & MB_FREE) != 0) {
        if (before == nullptr) {
            before = freeprev(next);
        }
        removefree(rec, next, nullptr);
        uint8_t *after = bnext(next);
        setnext(b, after);
        setprev(after, b);
    }
    insertfree(rec, b, before);
    unlockclass(lock);
    return 1;
}

/* Takes the class lock when there is one: an unlocked walk racing a reservation could
 * follow a link that is being rewritten, and a search through the index settles entries
 * of it. Only the timing differs from an unlocked read. */
int32_t largestmemblock(int32_t classnum) {
    uint8_t *rec = lookup(static_cast<uint32_t>(classnum));
    if (rec == nullptr) {
        return 0;
    }
    critsection *lock = classlock(rec);
    lockclass(lock);
    const int32_t largest = largestfree(rec);
    unlockclass(lock);
    return largest;
}

int32_t largestdefaultmemblock(void) {
    return largestmemblock(defaultmemclass);
}

int32_t memblocksize(const void *data) {
    return bsize(static_cast<const uint8_t *>(data) - headersize);
}

uint32_t memblocktype(const void *data) {
    return btype(static_cast<const uint8_t *>(data) - headersize);
}

char *memblockname(const void *data) {
    const uint8_t *b = static_cast<const uint8_t *>(data) - headersize;
    uint32_t type = btype(b);
    const uint8_t *rec = lookup(type);
    if ((type & MB_NAMED) == 0 || rec == nullptr) {
        return nullptr;
    }
    const uint8_t *name =
        static_cast<const uint8_t *>(data) + bsize(b) + recfield(rec, rec_trailer);
    return reinterpret_cast<char *>(const_cast<uint8_t *>(name));
}

int32_t memclasstrailer(int32_t classnum) {
    const uint8_t *rec = lookup(static_cast<uint32_t>(classnum));
    return rec == nullptr ? 0 : recfield(rec, rec_trailer);
}

int32_t memblockoverhead(const char *name, int32_t classnum) {
    return overhead(lookup(static_cast<uint32_t>(classnum)), name);
}

void *reservemem(int32_t size) {
    return reservememadr(nullptr, size, static_cast<uint32_t>(defaultmemclass) & MB_CLASS);
}

int32_t purgemem(void *data) {
    return purgememadr(data);
}

/* Walks the blocks from the LOW block along the next links and releases each block in
 * use. The boundary blocks and the free blocks are stepped over: releasing a boundary
 * block would break the class, and a free block has nothing to release. A release may
 * merge the block into the free block before it, so the walk goes on from whichever free
 * block now covers the released one. */
void purgememclass(int32_t classnum) {
    uint8_t *rec = lookup(static_cast<uint32_t>(classnum));
    if (rec == nullptr) {
        return;
    }
    critsection *lock = classlock(rec);
    lockclass(lock);
    uint8_t *high = getlink(rec + rec_high);
    uint8_t *before = getlink(rec + rec_low);
    uint8_t *b = bnext(before);
    while (b != high && b != nullptr) {
        if (hassig(b, 'M', 'B') && (btype(b) & MB_BOUNDARY) == 0) {
            const bool intoprev = (btype(before) & MB_FREE) != 0;
            purgememadr(b + headersize);
            if (intoprev) {
                b = before;
            }
        }
        before = b;
        b = bnext(b);
    }
    unlockclass(lock);
}

const char *memsitepath(uint32_t word) {
    if constexpr (widepointers) {
        return word == 0 || word > siteslots ? nullptr
                                             : sitetable[word - 1].load(std::memory_order_acquire);
    } else {
        return reinterpret_cast<const char *>(static_cast<uintptr_t>(word));
    }
}
