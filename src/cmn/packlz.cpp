/*
 * cmn\packlz - the LZ command encoder (pack code 0x10/0x11): turns bytes into the command
 * stream that lzunpack reads back.
 *
 * Match finding: a one-entry table over the next 3 bytes finds the short near matches that
 * only the 2-byte command can carry; longer ones come from a hash chain over the next 4
 * bytes (levels 1-5) or, for the high levels, from a binary tree per 4-byte hash: every
 * position is a node, ordered by the bytes that follow it, so a search walks down one
 * path and meets the longest candidates without looking at each shorter one, and the
 * same walk inserts the position. Both tables are indexed by position modulo the window.
 * Parsing by level: greedy (1-3), lazy with one position of look-ahead (4-6), or a
 * byte-exact cost search over blocks of positions (7-9); deeper searches as the level
 * rises.
 *
 * Threads: no state outside the call; several threads may pack at once if the memory class
 * they share allows it. Memory: one block "lzpack" from defaultmemclass, sized from the
 * input (at most about 1.1 MiB with the chain, 2.6 MiB with the tree, 3.2 MiB for the
 * cost search), purged before returning.
 * Limits: input up to PACK_MAXSIZE bytes; matches up to 1028 bytes, distances up to
 * 131072 bytes (the whole window).
 *
 * Commands written (b0 first; L = literals carried, D = distance - 1, M = match length):
 *
 *   0DDMMMLL  DDDDDDDD            2 bytes  D < 1024,   M 3..10,   L 0..3
 *   10MMMMMM  LLDDDDDD DDDDDDDD   3 bytes  D < 16384,  M 4..67,   L 0..3
 *   110DMMLL  DDDDDDDD DDDDDDDD MMMMMMMM   4 bytes  D < 131072, M 5..1028
 *   111kkkkk  (k 0..27)           1 byte   (k + 1) * 4 literals follow, no match
 *   111111LL                      1 byte   L literals follow, then the stream ends
 */
#include "thistle/pack.h"

#include "thistle/diag.h"
#include "thistle/memstd.h"
#include "thistle/unpack.h"

#include "packbytes.h"

#include <cstring>

namespace {

constexpr uint32_t LZWINDOW = 131072;
constexpr uint32_t LZMAXMATCH = 1028;
constexpr uint32_t LZMAXRUN = 28;          /* literal-run commands carry up to 28 groups of 4 */
constexpr uint32_t LZBLOCK = 32768;        /* positions per pass of the cost search */
constexpr uint32_t LZLIST = 48;            /* match candidates kept per position */
constexpr uint32_t LZMAXHASHBITS = 17;     /* 4-byte hash heads; 3-byte heads use 3 fewer */
constexpr uint32_t LZDEARER[2] = {10, 67}; /* one byte more needs a dearer command */

enum lzparse : uint8_t { LZGREEDY, LZLAZY, LZOPTIMAL };

struct lzlevel {
    uint16_t depth; /* chain entries (tree nodes) looked at per position */
    uint16_t nice;  /* a match this long ends the search (and, when costing, is taken) */
    lzparse parse;
    bool tree; /* binary-tree finder instead of the chain */
};

/* Chosen by measuring on text, executables and images: each step costs more time for a
 * smaller stream. A tree walk of n nodes finds what a chain finds in many times n steps,
 * hence the tree's small depths. */
static const lzlevel lzlevels[10] = {
    /* 0 */ {0, 0, LZGREEDY, false},
    /* 1 */ {2, 24, LZGREEDY, false},
    /* 2 */ {6, 32, LZGREEDY, false},
    /* 3 */ {16, 48, LZGREEDY, false},
    /* 4 */ {12, 48, LZLAZY, false},
    /* 5 */ {32, 64, LZLAZY, false},
    /* 6 */ {96, 128, LZLAZY, false},
    /* 7 */ {16, 96, LZOPTIMAL, true},
    /* 8 */ {16, 128, LZOPTIMAL, true},
    /* 9 */ {32, 192, LZOPTIMAL, true},
};

struct lzmatch {
    uint32_t len;
    uint32_t dist;
};

struct lzfinder {
    const uint8_t *in;
    uint32_t size;
    uint32_t *head;  /* 4-byte hash -> last position + 1 (0: none) */
    uint32_t *head3; /* 3-byte hash -> last position + 1 */
    uint32_t *chain; /* position % window -> previous position + 1 with the same hash */
    uint32_t *tree;  /* tree finder: position % window -> two children (position + 1):
                        [0] follows with smaller bytes, [1] with larger; null: chain */
    uint32_t shift;  /* 32 - hash bits */
    uint32_t shift3;
    uint32_t chainmask;
    uint32_t treemask; /* the tree holds more than a window: its last position is in reach */
    uint32_t inserted; /* positions below this are in the tables */
    uint32_t depth;
    uint32_t nice;
};

struct lzout {
    uint8_t *dst;
    size_t capacity;
    size_t used;
};

/* Working arrays of the cost search, one entry per position of a block (+1). */
struct lzcosts {
    uint32_t *cost;  /* bytes of the cheapest way found to reach the position */
    uint32_t *lits;  /* literals pending on that way */
    uint32_t *dist;  /* distance of the match that reaches it */
    uint16_t *len;   /* length of that match; 0: reached by a literal */
    uint32_t *trace; /* chosen matches, as (start, length, distance) triples */
};

uint32_t hash4(const lzfinder *f, const uint8_t *p) {
    return (load32le(p) * 2654435761u) >> f->shift;
}

uint32_t hash3(const lzfinder *f, const uint8_t *p) {
    return ((load32le(p) & 0xFFFFFF) * 2246822519u) >> f->shift3;
}

/* Bytes a match costs as one command; 0 when no command can carry it. */
uint32_t matchcost(uint32_t len, uint32_t dist) {
    if (len <= 10 && dist <= 1024) {
        return len >= 3 ? 2 : 0;
    }
    if (len <= 67 && dist <= 16384) {
        return len >= 4 ? 3 : 0;
    }
    return len >= 5 ? 4 : 0;
}

/* Extra bytes the (count + 1)-th pending literal costs: its own byte, plus a run command
 * each time a new run of up to 112 literals opens. The 0 to 3 literals left over ride on
 * the next command for free. */
uint32_t litstep(uint32_t count) {
    return (count & 3) == 3 && ((count >> 2) % LZMAXRUN) == 0 ? 2 : 1;
}

/* Compares 8 bytes at a time; the first differing byte is the lowest set byte of the
 * difference, the targets being little-endian. */
uint32_t matchlen(const uint8_t *a, const uint8_t *b, uint32_t limit) {
    uint32_t n = 0;
    while (n + 8 <= limit) {
        uint64_t x;
        uint64_t y;
        std::memcpy(&x, a + n, 8);
        std::memcpy(&y, b + n, 8);
        if (x != y) {
            return n + static_cast<uint32_t>(__builtin_ctzll(x ^ y)) / 8;
        }
        n += 8;
    }
    while (n < limit && a[n] == b[n]) {
        n++;
    }
    return n;
}

uint32_t treewalk(lzfinder *f, uint32_t pos, lzmatch *list);

void insertupto(lzfinder *f, uint32_t pos) {
    const uint32_t last = f->size >= 4 ? f->size - 3 : 0; /* positions with 4 bytes ahead */
    const uint32_t end = pos < last ? pos : last;
    if (f->tree != nullptr) {
        for (uint32_t p = f->inserted; p < end; p++) {
            treewalk(f, p, nullptr);
        }
        if (pos > f->inserted) {
            f->inserted = pos;
        }
        return;
    }
    for (uint32_t p = f->inserted; p < end; p++) {
        const uint8_t *at = f->in + p;
        const uint32_t h = hash4(f, at);
        f->chain[p & f->chainmask] = f->head[h];
        f->head[h] = p + 1;
        f->head3[hash3(f, at)] = p + 1;
    }
    if (pos > f->inserted) {
        f->inserted = pos;
    }
}

/* Matches at pos, nearest first, each longer than the one before: for any length, the
 * first entry at least that long has the nearest (cheapest) distance. Positions below pos
 * must be inserted. Returns the number of entries. */
uint32_t findmatches(const lzfinder *f, uint32_t pos, lzmatch *list) {
    const uint8_t *in = f->in;
    const uint32_t remain = f->size - pos;
    if (remain < 4) {
        return 0;
    }
    const uint32_t limit = remain < LZMAXMATCH ? remain : LZMAXMATCH;
    uint32_t count = 0;
    uint32_t best = 2;

    const uint32_t near = f->head3[hash3(f, in + pos)];
    if (near != 0 && pos - (near - 1) <= 1024) {
        const uint32_t len = matchlen(in + near - 1, in + pos, limit);
        if (len >= 3) {
            list[count++] = {len, pos - (near - 1)};
            best = len;
        }
    }

    uint32_t cand = f->head[hash4(f, in + pos)];
    for (uint32_t steps = f->depth; cand != 0 && steps > 0 && best < f->nice && best < limit;
         steps--) {
        const uint32_t at = cand - 1;
        const uint32_t dist = pos - at;
        if (dist > LZWINDOW) {
            break;
        }
        /* best < limit here, so both bytes lie inside the input */
        if (in[at + best] == in[pos + best]) {
            const uint32_t len = matchlen(in + at, in + pos, limit);
            if (len > best && matchcost(len, dist) != 0) {
                if (count == LZLIST) {
                    count--;
                }
                list[count++] = {len, dist};
                best = len;
            }
        }
        const uint32_t next = f->chain[at & f->chainmask];
        if (next >= cand) { /* the chain only runs backwards */
            break;
        }
        cand = next;
    }
    return count;
}

/* Tree finder: inserts pos (positions below it must be in) and, when list is given, puts
 * its matches there as findmatches does. The walk goes from the newest node of pos's hash
 * down the tree; the nodes it passes become pos's two subtrees, split by whether their
 * bytes sort before or after pos's. Every node in a subtree shares at least the shorter
 * of the two prefixes met on the way down, so comparison starts there. A match as long as
 * the search allows ends the walk: pos then takes over that node's children, and the
 * node, shadowed by pos, leaves the tree. */
uint32_t treewalk(lzfinder *f, uint32_t pos, lzmatch *list) {
    const uint8_t *in = f->in;
    const uint32_t remain = f->size - pos;
    if (remain < 4) {
        return 0;
    }
    const uint32_t limit = remain < LZMAXMATCH ? remain : LZMAXMATCH;
    const uint32_t stop = f->nice < limit ? f->nice : limit;
    uint32_t count = 0;
    uint32_t best = 2;

    uint32_t *slot3 = &f->head3[hash3(f, in + pos)];
    const uint32_t near = *slot3;
    *slot3 = pos + 1;
    if (list != nullptr && near != 0 && pos - (near - 1) <= 1024) {
        const uint32_t len = matchlen(in + near - 1, in + pos, limit);
        if (len >= 3) {
            list[count++] = {len, pos - (near - 1)};
            best = len;
        }
    }

    uint32_t *slot = &f->head[hash4(f, in + pos)];
    uint32_t cand = *slot;
    *slot = pos + 1;
    uint32_t *smaller = &f->tree[2 * (pos & f->treemask)];
    uint32_t *larger = smaller + 1;
    uint32_t smallerlen = 0;
    uint32_t largerlen = 0;
    for (uint32_t steps = f->depth;; steps--) {
        if (cand == 0 || steps == 0 || pos - (cand - 1) > LZWINDOW) {
            *smaller = 0;
            *larger = 0;
            break;
        }
        const uint32_t at = cand - 1;
        uint32_t len = smallerlen < largerlen ? smallerlen : largerlen;
        /* Only a match that ends the walk is measured past stop, and only when it is
         * wanted: inserting the positions a long match steps over stays cheap. */
        len += matchlen(in + at + len, in + pos + len, stop - len);
        if (len == stop && list != nullptr) {
            len += matchlen(in + at + len, in + pos + len, limit - len);
        }
        const uint32_t dist = pos - at;
        if (list != nullptr && len > best && matchcost(len, dist) != 0) {
            if (count == LZLIST) {
                count--;
            }
            list[count++] = {len, dist};
            best = len;
        }
        uint32_t *node = &f->tree[2 * (at & f->treemask)];
        if (len >= stop) {
            *smaller = node[0];
            *larger = node[1];
            break;
        }
        if (in[at + len] < in[pos + len]) {
            *smaller = cand;
            smaller = node + 1;
            cand = *smaller;
            smallerlen = len;
        } else {
            *larger = cand;
            larger = node;
            cand = *larger;
            largerlen = len;
        }
    }
    return count;
}

/* Matches at pos from whichever finder f has, inserting positions up to pos. */
uint32_t matchesat(lzfinder *f, uint32_t pos, lzmatch *list) {
    insertupto(f, pos);
    if (f->tree == nullptr) {
        return findmatches(f, pos, list);
    }
    const uint32_t count = treewalk(f, pos, list);
    if (pos + 1 > f->inserted) {
        f->inserted = pos + 1;
    }
    return count;
}

/* Bytes a match saves against writing its bytes as literals. */
int32_t saving(const lzmatch &m) {
    return static_cast<int32_t>(m.len) - static_cast<int32_t>(matchcost(m.len, m.dist));
}

/* The match at pos that saves most (the longer one on a tie); 0 if there is none. */
bool bestmatch(lzfinder *f, uint32_t pos, lzmatch *found) {
    lzmatch list[LZLIST];
    const uint32_t count = matchesat(f, pos, list);
    if (count == 0) {
        return false;
    }
    uint32_t pick = 0;
    for (uint32_t i = 1; i < count; i++) {
        if (saving(list[i]) >= saving(list[pick])) {
            pick = i;
        }
    }
    *found = list[pick];
    return true;
}

bool put(lzout *o, const uint8_t *bytes, size_t count) {
    if (count > o->capacity - o->used) {
        return false;
    }
    if (count == 0) { /* an empty input may come without a buffer */
        return true;
    }
    std::memcpy(o->dst + o->used, bytes, count);
    o->used += count;
    return true;
}

/* Writes the literals in[from, from + count) as whole runs of 4; returns how many (0 to 3)
 * are left for the next command, or -1 when the output is full. */
int32_t putruns(lzout *o, const uint8_t *from, uint32_t count) {
    while (count >= 4) {
        uint32_t groups = count >> 2;
        if (groups > LZMAXRUN) {
            groups = LZMAXRUN;
        }
        const uint8_t command = static_cast<uint8_t>(0xE0 + groups - 1);
        if (!put(o, &command, 1) || !put(o, from, groups * 4)) {
            return -1;
        }
        from += groups * 4;
        count -= groups * 4;
    }
    return static_cast<int32_t>(count);
}

/* The literals in[anchor, pos), then the match at pos. */
bool putsequence(lzout *o, const uint8_t *in, uint32_t anchor, uint32_t pos, lzmatch m) {
    const int32_t lits = putruns(o, in + anchor, pos - anchor);
    if (lits < 0) {
        return false;
    }
    const uint32_t l = static_cast<uint32_t>(lits);
    const uint32_t d = m.dist - 1;
    uint8_t command[4];
    size_t length;
    if (m.len <= 10 && m.dist <= 1024) {
        command[0] = static_cast<uint8_t>((d >> 8) << 5 | (m.len - 3) << 2 | l);
        command[1] = static_cast<uint8_t>(d);
        length = 2;
    } else if (m.len <= 67 && m.dist <= 16384) {
        command[0] = static_cast<uint8_t>(0x80 | (m.len - 4));
        command[1] = static_cast<uint8_t>(l << 6 | d >> 8);
        command[2] = static_cast<uint8_t>(d);
        length = 3;
    } else {
        const uint32_t x = m.len - 5;
        command[0] = static_cast<uint8_t>(0xC0 | (d >> 16) << 4 | (x >> 8) << 2 | l);
        command[1] = static_cast<uint8_t>(d >> 8);
        command[2] = static_cast<uint8_t>(d);
        command[3] = static_cast<uint8_t>(x);
        length = 4;
    }
    return put(o, command, length) && put(o, in + pos - l, l);
}

/* The literals in[anchor, size) and the end command. */
bool putend(lzout *o, const uint8_t *in, uint32_t anchor, uint32_t size) {
    const int32_t lits = putruns(o, in + anchor, size - anchor);
    if (lits < 0) {
        return false;
    }
    const uint8_t command = static_cast<uint8_t>(0xFC | lits);
    return put(o, &command, 1) && put(o, in + size - lits, static_cast<size_t>(lits));
}

/* Greedy parse, or lazy: a match is put off while the next position offers one that saves
 * more. The greedy levels stride over data that keeps offering no match (after 64 misses
 * in a row, one position more per 64 misses, at most 32), neither searching nor
 * remembering the positions they step over. */
bool parsegreedy(lzfinder *f, lzout *o, bool lazy) {
    const uint32_t size = f->size;
    uint32_t anchor = 0;
    uint32_t pos = 0;
    uint32_t misses = 0;
    while (pos + 4 <= size) {
        lzmatch m;
        if (!bestmatch(f, pos, &m)) {
            const uint32_t stride = lazy ? 1 : 1 + (misses++ >> 6);
            pos += stride < 32 ? stride : 32;
            if (pos > f->inserted + 1) {
                f->inserted = pos - 1; /* keep the last position before pos only */
            }
            continue;
        }
        misses = 0;
        while (lazy && m.len < f->nice && pos + 5 <= size) {
            lzmatch later;
            if (!bestmatch(f, pos + 1, &later) || saving(later) <= saving(m)) {
                break;
            }
            pos++;
            m = later;
        }
        if (!putsequence(o, f->in, anchor, pos, m)) {
            return false;
        }
        pos += m.len;
        anchor = pos;
    }
    return putend(o, f->in, anchor, size);
}

/* Cost search: for each block of positions, the cheapest command sequence in bytes, found
 * forwards (every position's cost is final when it is reached) and traced back from the
 * block's end. Matches stop at the block's end; literals pending there carry over. */
/* Offers the match (l, dist) from position i, reached at cost here, for every l in
 * [from, to]. The cost steps up at the longest length each command carries, so the
 * lengths go in spans of one cost; lengths no command carries are left. */
void offer(const lzcosts *w, uint32_t i, uint32_t here, uint32_t from, uint32_t to, uint32_t dist) {
    for (uint32_t l = from; l <= to;) {
        const uint32_t c = matchcost(l, dist);
        const uint32_t span = c == 2 ? 10 : c == 3 ? 67 : to;
        const uint32_t last = c == 0 ? l : span < to ? span : to;
        for (const uint32_t reach = here + c; c != 0 && l <= last; l++) {
            if (reach < w->cost[i + l]) {
                w->cost[i + l] = reach;
                w->lits[i + l] = 0;
                w->len[i + l] = static_cast<uint16_t>(l);
                w->dist[i + l] = dist;
            }
        }
        l = last + 1;
    }
}

/* Whether list holds a match of distance dist at least len long. */
bool holds(const lzmatch *list, uint32_t count, uint32_t dist, uint32_t len) {
    for (uint32_t k = 0; k < count; k++) {
        if (list[k].dist == dist && list[k].len >= len) {
            return true;
        }
    }
    return false;
}

bool parseoptimal(lzfinder *f, lzout *o, const lzcosts *w) {
    const uint32_t size = f->size;
    uint32_t anchor = 0;
    lzmatch lists[2][LZLIST];
    for (uint32_t start = 0; start < size;) {
        const uint32_t block = size - start < LZBLOCK ? size - start : LZBLOCK;
        w->cost[0] = 0;
        w->lits[0] = start - anchor;
        for (uint32_t j = 1; j <= block; j++) {
            w->cost[j] = UINT32_MAX;
        }
        lzmatch *before = lists[1];
        uint32_t beforecount = 0; /* 0: the position before was not searched */
        uint32_t beforehere = 0;
        for (uint32_t i = 0; i < block; i++) {
            lzmatch *list = before == lists[0] ? lists[1] : lists[0];
            const uint32_t here = w->cost[i];
            if (here + litstep(w->lits[i]) < w->cost[i + 1]) {
                w->cost[i + 1] = here + litstep(w->lits[i]);
                w->lits[i + 1] = w->lits[i] + 1;
                w->len[i + 1] = 0;
            }
            const uint32_t count = matchesat(f, start + i, list);
            /* A match that the position before found one byte longer at the same
             * distance was offered there for every length here plus one, by that distance
             * or a nearer one, from a cost no higher: those offers reached the same ends
             * at no higher cost, save where the longer length needs the dearer command
             * (11 and 68 bytes), so only lengths 10 and 67 are offered again. */
            const bool follows = beforecount != 0 && here >= beforehere;
            uint32_t shorter = 2;
            for (uint32_t k = 0; k < count && shorter < block - i; k++) {
                const uint32_t longest = list[k].len < block - i ? list[k].len : block - i;
                const uint32_t dist = list[k].dist;
                if (follows && holds(before, beforecount, dist, list[k].len + 1)) {
                    for (const uint32_t l : LZDEARER) {
                        if (l > shorter && l <= longest) {
                            offer(w, i, here, l, l, dist);
                        }
                    }
                } else {
                    offer(w, i, here, shorter + 1, longest, dist);
                }
                shorter = longest;
            }
            before = list;
            beforecount = count;
            beforehere = here;
            /* A long match is taken as it is: searching inside it rarely pays. */
            if (count != 0 && list[count - 1].len >= f->nice && list[count - 1].len <= block - i) {
                i += list[count - 1].len - 1;
                beforecount = 0;
            }
        }
        uint32_t chosen = 0;
        for (uint32_t j = block; j > 0;) {
            if (w->len[j] == 0) {
                j--;
                continue;
            }
            const uint32_t len = w->len[j];
            w->trace[chosen * 3 + 1] = len;
            w->trace[chosen * 3 + 2] = w->dist[j];
            j -= len;
            w->trace[chosen * 3] = j;
            chosen++;
        }
        while (chosen-- > 0) {
            const uint32_t *t = w->trace + chosen * 3;
            if (!putsequence(o, f->in, anchor, start + t[0], lzmatch{t[1], t[2]})) {
                return false;
            }
            anchor = start + t[0] + t[1];
        }
        start += block;
    }
    return putend(o, f->in, anchor, size);
}

uint32_t bitsfor(uint32_t n) {
    uint32_t bits = 0;
    while (bits < 32 && (uint32_t{1} << bits) < n) {
        bits++;
    }
    return bits;
}

} // namespace

/* Packs size bytes at source into a complete 0x10 stream (0x11 with PACK_LONGHEADER, whose
 * extra field repeats the size so both header readings agree) at destination. Returns the
 * stream's size; PACK_EOVERFLOW if it would pass capacity (nothing is written beyond it),
 * PACK_EINVAL for a bad size, level or header, PACK_ENOMEM without working memory. */
int32_t lzpack(const void *source, size_t size, void *destination, size_t capacity, int32_t level,
               int32_t header) {
    if (size > PACK_MAXSIZE || level < 1 || level > 9 ||
        (header != PACK_SHORTHEADER && header != PACK_LONGHEADER) ||
        (source == nullptr && size != 0) || (destination == nullptr && capacity != 0)) {
        return PACK_EINVAL;
    }
    const uint8_t *in = static_cast<const uint8_t *>(source);
    const uint32_t n = static_cast<uint32_t>(size);
    const lzlevel &lv = lzlevels[level];

    lzout o = {static_cast<uint8_t *>(destination), capacity, 0};
    uint8_t head[8];
    if (!put(&o, head, putpackheader(head, PACK_LZCODE, n, header))) {
        return PACK_EOVERFLOW;
    }
    if (n < 4) { /* too short for any match */
        return putend(&o, in, 0, n) ? static_cast<int32_t>(o.used) : PACK_EOVERFLOW;
    }

    /* Working block, sized from the input:
     *
     *   +------------+-------------+-----------------+------------------------------+
     *   | head       | head3       | chain: 1 word   | cost search only:            |
     *   | 2^hb words | 2^(hb-3) w. | per window pos; | cost lits dist trace len     |
     *   |            |             | tree: 2 words   |                              |
     *   |            |             | per pos of up   |                              |
     *   |            |             | to two windows  |                              |
     *   +------------+-------------+-----------------+------------------------------+
     */
    uint32_t hashbits = bitsfor(n);
    hashbits = hashbits < 12 ? 12 : hashbits > LZMAXHASHBITS ? LZMAXHASHBITS : hashbits;
    const uint32_t chainsize = n < LZWINDOW ? uint32_t{1} << bitsfor(n) : LZWINDOW;
    const uint32_t block = n < LZBLOCK ? n : LZBLOCK;
    const uint32_t treesize = n <= LZWINDOW ? chainsize : 2 * LZWINDOW;
    const size_t tablewords = lv.tree ? 2 * size_t{treesize} : chainsize;
    const bool costing = lv.parse == LZOPTIMAL;
    const size_t words = (size_t{1} << hashbits) + (size_t{1} << (hashbits - 3)) + tablewords +
                         (costing ? 3 * (size_t{block} + 1) + 3 * (size_t{block} / 3 + 1) : 0);
    const size_t bytes = words * 4 + (costing ? 2 * (size_t{block} + 1) : 0);

    uint32_t *work =
        static_cast<uint32_t *>(reservepackwork("cmn\\packlz", __LINE__, "lzpack", bytes));
    if (work == nullptr) {
        return PACK_ENOMEM;
    }
    lzfinder f = {};
    f.in = in;
    f.size = n;
    f.head = work;
    f.head3 = f.head + (size_t{1} << hashbits);
    f.chain = f.head3 + (size_t{1} << (hashbits - 3));
    f.shift = 32 - hashbits;
    f.shift3 = 32 - (hashbits - 3);
    f.tree = lv.tree ? f.chain : nullptr;
    f.chainmask = chainsize - 1;
    f.treemask = treesize - 1;
    f.depth = lv.depth;
    f.nice = lv.nice;
    /* chain and tree entries are always written before they are read */
    std::memset(f.head, 0, ((size_t{1} << hashbits) + (size_t{1} << (hashbits - 3))) * 4);

    bool done;
    if (costing) {
        lzcosts w;
        w.cost = f.chain + tablewords;
        w.lits = w.cost + block + 1;
        w.dist = w.lits + block + 1;
        w.trace = w.dist + block + 1;
        w.len = reinterpret_cast<uint16_t *>(w.trace + 3 * (block / 3 + 1));
        done = parseoptimal(&f, &o, &w);
    } else {
        done = parsegreedy(&f, &o, lv.parse == LZLAZY);
    }
    purgememadr(work);
    return done ? static_cast<int32_t>(o.used) : PACK_EOVERFLOW;
}
