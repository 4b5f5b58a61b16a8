/*
 * cmn/packpair - byte-pair encoder for pack code 0x46 (0x47: long header).
 *
 * Stream:
 *
 *   0x46 0xFB  size(3)                  short header
 *   0x47 0xFB  size(3)  size(3)         long header (the size stands in both fields)
 *   e  k  { p first second } x k        escape byte, pair definitions
 *   coded bytes ...  e 0x00             end
 *
 * The encoder works on a copy of the input as 16-bit symbols (0..255: a plain byte,
 * 256 + p: pair code p) and repeatedly replaces the most frequent adjacent pair by a new
 * code while that saves bytes. Codes are byte values the data no longer holds; when none
 * is left, the rarest byte value may become a code and its remaining plain occurrences
 * are written escaped (e b), which is priced into the choice. The escape is an unused
 * byte value when there is one, else the rarest non-zero one (its own occurrences are
 * written e e). Byte 0 never needs escaping (e 0 ends the stream): it is never the
 * escape nor a code while the data holds it. A byte that a definition names plainly
 * never becomes a code, since definitions cannot escape.
 *
 * Counting rules: a pair is counted at each position where it starts, except that in a
 * run of one symbol (a a a a a) only the pairs at even offsets from the run's start
 * count, which are the ones a left-to-right replacement takes; a pair with a plain byte
 * that has become a code is not counted. The most frequent pair wins; among equals the
 * one whose last counted occurrence comes first.
 *
 * The counts are kept up to date rather than recounted: the symbols form a sequence in
 * which replaced positions are skipped, every counted pair is on a list of its
 * occurrences in position order, and a heap holds the pairs counted 4 times or more
 * (fewer never pay for a definition). Replacing a pair visits only its occurrences and
 * their neighbours, so the whole run costs one pass to count plus work in proportion to
 * the pairs replaced (a run of one symbol whose first element is taken is walked once
 * to move its counted pairs by one).
 *
 * Replacing a pair only ever lowers the counts of the pairs already there or moves their
 * last occurrences right; the only pairs that grow are the new code's own. So the heap
 * keeps each pair's standing as it was when it went in, an upper bound: the top is
 * checked against its list and put back lower when it has fallen, and the new code's
 * pairs go in once all its occurrences are replaced.
 *
 *   block:  pairstate | pair table (512 x 512 x 8 bytes) | heap | next | prev | sym
 *
 *   sym[i]   symbol at i, or PAIRDEAD when a pair starting left of i took it
 *   next[i]  live i: next occurrence of the pair starting at i (circular list),
 *            PAIRNONE when that pair is not counted;
 *            first of a dead stretch: the live position after the stretch
 *   prev[i]  live i: previous occurrence on the same list;
 *            last of a dead stretch: the live position before the stretch
 *
 * Threads: none of its own; reentrant. Working memory is one named block of
 * defaultmemclass, purged before return: 14 bytes per input byte (4 of them heap, at
 * most 4 MiB) plus 2 MiB for the pair table.
 */
#include "thistle/memstd.h"
#include "thistle/pack.h"
#include "thistle/unpack.h"

#include "packbytes.h"

#include <cstring>

namespace {

constexpr uint32_t PAIRSYMBOLS = 512;
constexpr uint32_t PAIRTABLE = PAIRSYMBOLS * PAIRSYMBOLS;
constexpr uint32_t PAIRNONE = 0xFFFFFFFF;
constexpr uint16_t PAIRDEAD = 0xFFFF;
/* A definition costs 3 bytes and each replaced pair saves one: fewer than 4 never pay. */
constexpr uint32_t PAIRWORTH = 4;

enum : uint8_t {
    PAIRPLAIN = 0,
    PAIRESCAPE = 1,
    PAIRCODE = 2,
};

struct pairtype {
    uint32_t head;  /* first occurrence, PAIRNONE when not counted anywhere */
    uint32_t count; /* occurrences on the list */
};

/* A pair's standing: its count above, the complement of its last occurrence below, so
 * the larger standing is the better pair. */
struct pairentry {
    uint64_t standing;
    uint32_t pair;
};

struct pairstate {
    uint16_t *sym;
    uint32_t *next;
    uint32_t *prev;
    pairtype *types; /* PAIRTABLE entries, indexed first * PAIRSYMBOLS + second */
    pairentry *heap; /* best standing first, each at or above the pair's own */
    uint32_t heapsize;
    uint32_t heapcap;
    uint32_t length;
    uint32_t plain[256]; /* plain occurrences of each byte value in sym */
    uint8_t role[256];   /* PAIRPLAIN, PAIRESCAPE or PAIRCODE */
    uint8_t named[256];  /* byte value appears plainly in a definition */
    uint16_t first[256]; /* definition of each code, as symbols */
    uint16_t second[256];
    uint8_t order[256]; /* codes in the order they were made */
    uint32_t defined;
    uint8_t escape;
};

/* ---- The sequence: live positions, skipping the dead stretches ------------------------ */

/* The live position after live i, or length at the end. */
uint32_t after(const pairstate &s, uint32_t i) {
    uint32_t j = i + 1;
    if (j < s.length && s.sym[j] == PAIRDEAD) {
        j = s.next[j];
    }
    return j;
}

/* The live position before live i, or PAIRNONE at the start (position 0 never dies). */
uint32_t before(const pairstate &s, uint32_t i) {
    if (i == 0) {
        return PAIRNONE;
    }
    return s.sym[i - 1] == PAIRDEAD ? s.prev[i - 1] : i - 1;
}

/* Kills live j, which lies between live i and live k (k may be length). */
void kill(pairstate &s, uint32_t i, uint32_t j, uint32_t k) {
    s.sym[j] = PAIRDEAD;
    s.next[i + 1] = k;
    s.prev[k - 1] = i;
}

bool countable(const pairstate &s, uint32_t sym) {
    return sym >= 256 || s.role[sym] != PAIRCODE;
}

bool counted(const pairstate &s, uint32_t i) {
    return s.next[i] != PAIRNONE;
}

/* ---- The heap of pairs worth a definition --------------------------------------------- */

uint64_t standing(const pairstate &s, uint32_t pair) {
    const pairtype &t = s.types[pair];
    return static_cast<uint64_t>(t.count) << 32 | (0xFFFFFFFF - s.prev[t.head]);
}

void siftup(pairstate &s, uint32_t at) {
    const pairentry e = s.heap[at];
    while (at > 0) {
        const uint32_t up = (at - 1) / 2;
        if (s.heap[up].standing >= e.standing) {
            break;
        }
        s.heap[at] = s.heap[up];
        at = up;
    }
    s.heap[at] = e;
}

void siftdown(pairstate &s, uint32_t at) {
    const pairentry e = s.heap[at];
    for (;;) {
        uint32_t child = 2 * at + 1;
        if (child >= s.heapsize) {
            break;
        }
        if (child + 1 < s.heapsize && s.heap[child + 1].standing > s.heap[child].standing) {
            child++;
        }
        if (s.heap[child].standing <= e.standing) {
            break;
        }
        s.heap[at] = s.heap[child];
        at = child;
    }
    s.heap[at] = e;
}

void heapify(pairstate &s) {
    for (uint32_t at = s.heapsize / 2; at-- > 0;) {
        siftdown(s, at);
    }
}

/* Drops the pairs that fell below PAIRWORTH and brings the others' standing up to date;
 * then at most a quarter of the input's positions are in the heap. */
void heapcompact(pairstate &s) {
    uint32_t kept = 0;
    for (uint32_t i = 0; i < s.heapsize; i++) {
        const uint32_t pair = s.heap[i].pair;
        if (s.types[pair].count >= PAIRWORTH) {
            s.heap[kept++] = pairentry{standing(s, pair), pair};
        }
    }
    s.heapsize = kept;
    heapify(s);
}

void heappush(pairstate &s, uint32_t pair) {
    if (s.heapsize == s.heapcap) {
        heapcompact(s);
    }
    s.heap[s.heapsize] = pairentry{standing(s, pair), pair};
    siftup(s, s.heapsize++);
}

/* The most frequent pair (see the counting rules), PAIRNONE when none is worth a
 * definition. */
uint32_t heaptop(pairstate &s) {
    while (s.heapsize > 0) {
        const uint32_t pair = s.heap[0].pair;
        if (s.types[pair].count < PAIRWORTH) {
            s.heap[0] = s.heap[--s.heapsize];
        } else {
            const uint64_t now = standing(s, pair);
            if (now == s.heap[0].standing) {
                return pair;
            }
            s.heap[0].standing = now;
        }
        siftdown(s, 0);
    }
    return PAIRNONE;
}

/* ---- Occurrence lists ----------------------------------------------------------------- */

/* Appends position x to the pair's list; positions arrive in increasing order. */
void listadd(pairstate &s, uint32_t pair, uint32_t x) {
    pairtype &t = s.types[pair];
    if (t.head == PAIRNONE) {
        t.head = x;
        s.next[x] = x;
        s.prev[x] = x;
    } else {
        const uint32_t tail = s.prev[t.head];
        s.next[tail] = x;
        s.prev[x] = tail;
        s.next[x] = t.head;
        s.prev[t.head] = x;
    }
    t.count++;
}

void listremove(pairstate &s, uint32_t pair, uint32_t x) {
    pairtype &t = s.types[pair];
    if (s.next[x] == x) {
        t.head = PAIRNONE;
    } else {
        const uint32_t n = s.next[x];
        const uint32_t p = s.prev[x];
        s.next[p] = n;
        s.prev[n] = p;
        if (t.head == x) {
            t.head = n;
        }
    }
    s.next[x] = PAIRNONE;
    s.prev[x] = PAIRNONE;
    t.count--;
}

/* Moves the pair's occurrence at x to y, the next live position; no other occurrence of
 * the pair lies between them, so the list stays in order. */
void listmove(pairstate &s, uint32_t pair, uint32_t x, uint32_t y) {
    pairtype &t = s.types[pair];
    if (s.next[x] == x) {
        s.next[y] = y;
        s.prev[y] = y;
    } else {
        const uint32_t n = s.next[x];
        const uint32_t p = s.prev[x];
        s.next[y] = n;
        s.prev[y] = p;
        s.next[p] = y;
        s.prev[n] = y;
    }
    if (t.head == x) {
        t.head = y;
    }
    s.next[x] = PAIRNONE;
    s.prev[x] = PAIRNONE;
}

/* Forgets every occurrence of the pair (its byte has just become a code). */
void listdrop(pairstate &s, uint32_t pair) {
    pairtype &t = s.types[pair];
    if (t.head == PAIRNONE) {
        return;
    }
    uint32_t x = t.head;
    do {
        const uint32_t n = s.next[x];
        s.next[x] = PAIRNONE;
        s.prev[x] = PAIRNONE;
        x = n;
    } while (x != t.head);
    t.head = PAIRNONE;
    t.count = 0;
}

/* ---- Counting and replacing ----------------------------------------------------------- */

/* Counts the pairs of the input, left to right, and heaps those worth a definition. */
void countpairs(pairstate &s) {
    bool last = false; /* the pair before was counted */
    for (uint32_t i = 0; i + 1 < s.length; i++) {
        const uint32_t a = s.sym[i];
        const uint32_t b = s.sym[i + 1];
        if (a == b && last && s.sym[i - 1] == a) {
            last = false;
            continue;
        }
        const uint32_t pair = a * PAIRSYMBOLS + b;
        listadd(s, pair, i);
        if (s.types[pair].count == PAIRWORTH) {
            s.heap[s.heapsize++].pair = pair;
        }
        last = true;
    }
    for (uint32_t at = 0; at < s.heapsize; at++) {
        s.heap[at].standing = standing(s, s.heap[at].pair);
    }
    heapify(s);
}

/* The first element of a run of b starting at j is about to go: every counted (b, b) of
 * the run moves one position right (the pairs at even offsets from the run's new start
 * are the ones that count), and the last one goes when the run is left even. */
void shiftrun(pairstate &s, uint32_t b, uint32_t j) {
    const uint32_t pair = b * PAIRSYMBOLS + b;
    uint32_t x = j;
    for (;;) {
        const uint32_t y = after(s, x);
        const uint32_t z = after(s, y);
        if (z == s.length || s.sym[z] != b) {
            listremove(s, pair, x);
            break;
        }
        listmove(s, pair, x, y);
        x = z;
        const uint32_t w = after(s, x);
        if (!counted(s, x) || w == s.length || s.sym[w] != b) {
            break;
        }
    }
}

/* Replaces the counted occurrence of (a, b) at i by code symbol c, updating the counts of
 * the pairs around it. */
void replaceat(pairstate &s, uint32_t a, uint32_t b, uint32_t c, uint32_t i) {
    const uint32_t j = after(s, i);
    const uint32_t k = after(s, j);
    const uint32_t h = before(s, i);
    listremove(s, a * PAIRSYMBOLS + b, i);
    if (h != PAIRNONE && counted(s, h)) {
        const uint32_t pair = s.sym[h] * PAIRSYMBOLS + a;
        listremove(s, pair, h);
    }
    if (k != s.length && counted(s, j)) {
        if (a != b && s.sym[k] == b) {
            shiftrun(s, b, j);
        } else {
            const uint32_t pair = b * PAIRSYMBOLS + s.sym[k];
            listremove(s, pair, j);
        }
    }
    s.sym[i] = static_cast<uint16_t>(c);
    kill(s, i, j, k);
    if (a < 256) {
        s.plain[a]--;
    }
    if (b < 256) {
        s.plain[b]--;
    }
    if (h != PAIRNONE && countable(s, s.sym[h])) {
        /* c c c: the pair at h counts only at an even offset of the run of c. */
        const uint32_t g = before(s, h);
        if (s.sym[h] != c || g == PAIRNONE || s.sym[g] != c || !counted(s, g)) {
            const uint32_t pair = s.sym[h] * PAIRSYMBOLS + c;
            listadd(s, pair, h);
        }
    }
    /* Occurrences are replaced left to right, so no c lies right of i yet. */
    if (k != s.length && countable(s, s.sym[k])) {
        const uint32_t pair = c * PAIRSYMBOLS + s.sym[k];
        listadd(s, pair, i);
    }
}

/* The cheapest byte value to turn into a code for the pair (a, b): its plain
 * occurrences (each one then costs an escape byte). -1 when none may be used. */
int32_t choosecode(const pairstate &s, uint32_t a, uint32_t b) {
    int32_t chosen = -1;
    for (uint32_t v = 0; v < 256; v++) {
        if (s.role[v] != PAIRPLAIN || s.named[v] || v == a || v == b) {
            continue;
        }
        if (v == 0 && s.plain[0] > 0) {
            continue;
        }
        if (chosen < 0 || s.plain[v] < s.plain[chosen]) {
            chosen = static_cast<int32_t>(v);
            if (s.plain[v] == 0) {
                break;
            }
        }
    }
    return chosen;
}

void buildcodes(pairstate &s) {
    countpairs(s);
    while (s.defined < 255) {
        const uint32_t top = heaptop(s);
        if (top == PAIRNONE) {
            break;
        }
        const uint32_t a = top / PAIRSYMBOLS;
        const uint32_t b = top % PAIRSYMBOLS;
        int32_t p = choosecode(s, a, b);
        if (p < 0 || s.types[top].count <= 3 + s.plain[p]) {
            break;
        }
        s.role[p] = PAIRCODE;
        s.first[p] = static_cast<uint16_t>(a);
        s.second[p] = static_cast<uint16_t>(b);
        s.order[s.defined++] = static_cast<uint8_t>(p);
        if (a < 256) {
            s.named[a] = 1;
        }
        if (b < 256) {
            s.named[b] = 1;
        }
        if (s.plain[p] > 0) {
            /* Its plain occurrences no longer pair with anything. */
            for (uint32_t v = 0; v < PAIRSYMBOLS; v++) {
                listdrop(s, v * PAIRSYMBOLS + static_cast<uint32_t>(p));
                listdrop(s, static_cast<uint32_t>(p) * PAIRSYMBOLS + v);
            }
        }
        const uint32_t c = 256 + static_cast<uint32_t>(p);
        while (s.types[top].head != PAIRNONE) {
            replaceat(s, a, b, c, s.types[top].head);
        }
        for (uint32_t v = 0; v < PAIRSYMBOLS; v++) {
            if (s.types[v * PAIRSYMBOLS + c].count >= PAIRWORTH) {
                heappush(s, v * PAIRSYMBOLS + c);
            }
            if (v != c && s.types[c * PAIRSYMBOLS + v].count >= PAIRWORTH) {
                heappush(s, c * PAIRSYMBOLS + v);
            }
        }
    }
}

struct pairout {
    uint8_t *at;
    uint8_t *end;
    bool overflow;
};

void putbyte(pairout &out, uint8_t b) {
    if (out.at == out.end) {
        out.overflow = true;
        return;
    }
    *out.at++ = b;
}

/* A definition's byte: a code as itself, a plain byte as itself (never a code). */
uint8_t symbolbyte(uint16_t sym) {
    return static_cast<uint8_t>(sym < 256 ? sym : sym - 256);
}

} // namespace

/* Packs size bytes of source as a byte-pair stream (code 0x46, or 0x47 with header
 * PACK_LONGHEADER; signature 0xFB) into destination. Returns the stream's size;
 * PACK_EOVERFLOW when it does not fit in capacity (nothing is written past it),
 * PACK_EINVAL for a bad size, header or buffer, PACK_ENOMEM without working memory. */
int32_t pairpack(const void *source, size_t size, void *destination, size_t capacity,
                 int32_t header) {
    if (size > PACK_MAXSIZE || (source == nullptr && size > 0) ||
        (destination == nullptr && capacity > 0) ||
        (header != PACK_SHORTHEADER && header != PACK_LONGHEADER)) {
        return PACK_EINVAL;
    }
    const uint8_t *in = static_cast<const uint8_t *>(source);
    uint8_t *dst = static_cast<uint8_t *>(destination);
    pairout out{dst, dst + capacity, false};
    /* Fails early on a capacity that cannot even hold the fixed part. */
    size_t fixed = packheadersize(header) + 2 + 2;
    if (capacity < fixed) {
        return PACK_EOVERFLOW;
    }

    /* At most a quarter of the positions start pairs counted PAIRWORTH times, and each
     * pair is in the heap at most once. */
    const size_t heapcap = size / PAIRWORTH + 2 < PAIRTABLE ? size / PAIRWORTH + 2 : PAIRTABLE;
    const size_t bytes = sizeof(pairstate) + PAIRTABLE * sizeof(pairtype) +
                         heapcap * sizeof(pairentry) + size * (4 + 4 + 2);
    uint8_t *block =
        static_cast<uint8_t *>(reservepackwork("cmn\\packpair", __LINE__, "pairpack", bytes));
    if (block == nullptr) {
        return PACK_ENOMEM;
    }
    pairstate *s = static_cast<pairstate *>(static_cast<void *>(block));
    std::memset(s, 0, sizeof(pairstate));
    uint8_t *at = block + sizeof(pairstate);
    s->types = static_cast<pairtype *>(static_cast<void *>(at));
    at += PAIRTABLE * sizeof(pairtype);
    s->heap = static_cast<pairentry *>(static_cast<void *>(at));
    s->heapcap = static_cast<uint32_t>(heapcap);
    at += heapcap * sizeof(pairentry);
    s->next = static_cast<uint32_t *>(static_cast<void *>(at));
    at += size * 4;
    s->prev = static_cast<uint32_t *>(static_cast<void *>(at));
    at += size * 4;
    s->sym = static_cast<uint16_t *>(static_cast<void *>(at));
    for (uint32_t i = 0; i < PAIRTABLE; i++) {
        s->types[i] = pairtype{PAIRNONE, 0};
    }
    std::memset(s->next, 0xFF, size * 4);
    std::memset(s->prev, 0xFF, size * 4);
    s->length = static_cast<uint32_t>(size);
    for (size_t i = 0; i < size; i++) {
        s->sym[i] = in[i];
        s->plain[in[i]]++;
    }

    int32_t escape = -1;
    for (int32_t v = 255; v >= 0 && escape < 0; v--) {
        if (s->plain[v] == 0) {
            escape = v;
        }
    }
    if (escape < 0) {
        escape = 1;
        for (int32_t v = 2; v < 256; v++) {
            if (s->plain[v] < s->plain[escape]) {
                escape = v;
            }
        }
    }
    s->escape = static_cast<uint8_t>(escape);
    s->role[escape] = PAIRESCAPE;
    buildcodes(*s);

    uint8_t head[8];
    const size_t headsize = putpackheader(head, PACK_PAIRCODE, static_cast<uint32_t>(size), header);
    for (size_t i = 0; i < headsize; i++) {
        putbyte(out, head[i]);
    }
    putbyte(out, s->escape);
    putbyte(out, static_cast<uint8_t>(s->defined));
    for (uint32_t d = 0; d < s->defined; d++) {
        uint8_t p = s->order[d];
        putbyte(out, p);
        putbyte(out, symbolbyte(s->first[p]));
        putbyte(out, symbolbyte(s->second[p]));
    }
    for (uint32_t i = 0; i < s->length && !out.overflow; i = after(*s, i)) {
        uint16_t sym = s->sym[i];
        if (sym >= 256) {
            putbyte(out, static_cast<uint8_t>(sym - 256));
        } else {
            if (s->role[sym] != PAIRPLAIN) {
                putbyte(out, s->escape);
            }
            putbyte(out, static_cast<uint8_t>(sym));
        }
    }
    putbyte(out, s->escape);
    putbyte(out, 0x00);
    purgememadr(block);
    if (out.overflow) {
        return PACK_EOVERFLOW;
    }
    return static_cast<int32_t>(out.at - dst);
}
