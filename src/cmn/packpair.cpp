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
 * Cost: one counting and one replacing pass over the symbols per code, so up to 255
 * passes; meant for tables and small images rather than many megabytes.
 *
 * Threads: none of its own; reentrant. Working memory (2 bytes per input byte plus a
 * 1 MiB pair-count table) is one named block of defaultmemclass, purged before return.
 */
#include "thistle/memstd.h"
#include "thistle/pack.h"
#include "thistle/unpack.h"

#include "packbytes.h"

#include <cstring>

namespace {

constexpr uint32_t PAIRSYMBOLS = 512;
constexpr uint32_t PAIRTABLE = PAIRSYMBOLS * PAIRSYMBOLS;

enum : uint8_t {
    PAIRPLAIN = 0,
    PAIRESCAPE = 1,
    PAIRCODE = 2,
};

struct pairstate {
    uint16_t *sym;
    uint32_t length;
    uint32_t *counts;    /* PAIRTABLE counts, zero between passes */
    uint32_t plain[256]; /* plain occurrences of each byte value in sym */
    uint8_t role[256];   /* PAIRPLAIN, PAIRESCAPE or PAIRCODE */
    uint8_t named[256];  /* byte value appears plainly in a definition */
    uint16_t first[256]; /* definition of each code, as symbols */
    uint16_t second[256];
    uint8_t order[256]; /* codes in the order they were made */
    uint32_t defined;
    uint8_t escape;
};

/* Counts non-overlapping adjacent pairs (a run a a a counts a a once) and returns the
 * index of the most frequent one in *best with its count. */
uint32_t countpairs(pairstate &s, uint32_t *best) {
    uint32_t top = 0;
    bool counted = false;
    for (uint32_t i = 0; i + 1 < s.length; i++) {
        uint32_t a = s.sym[i];
        uint32_t b = s.sym[i + 1];
        if (a == b && counted && s.sym[i - 1] == a) {
            counted = false;
            continue;
        }
        /* A plain byte that has become a code cannot stand in a definition. */
        if ((a < 256 && s.role[a] == PAIRCODE) || (b < 256 && s.role[b] == PAIRCODE)) {
            counted = false;
            continue;
        }
        counted = true;
        uint32_t index = a * PAIRSYMBOLS + b;
        uint32_t c = ++s.counts[index];
        if (c > top) {
            top = c;
            *best = index;
        }
    }
    return top;
}

void clearcounts(pairstate &s) {
    for (uint32_t i = 0; i + 1 < s.length; i++) {
        s.counts[s.sym[i] * PAIRSYMBOLS + s.sym[i + 1]] = 0;
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

/* Replaces every non-overlapping (a, b), left to right, by code p. */
void replacepair(pairstate &s, uint32_t a, uint32_t b, uint8_t p) {
    uint32_t to = 0;
    uint32_t i = 0;
    while (i < s.length) {
        if (i + 1 < s.length && s.sym[i] == a && s.sym[i + 1] == b) {
            s.sym[to++] = static_cast<uint16_t>(256 + p);
            if (a < 256) {
                s.plain[a]--;
            }
            if (b < 256) {
                s.plain[b]--;
            }
            i += 2;
        } else {
            s.sym[to++] = s.sym[i++];
        }
    }
    s.length = to;
}

void buildcodes(pairstate &s) {
    while (s.defined < 255) {
        uint32_t index = 0;
        uint32_t top = countpairs(s, &index);
        clearcounts(s);
        uint32_t a = index / PAIRSYMBOLS;
        uint32_t b = index % PAIRSYMBOLS;
        if (top < 4) {
            break;
        }
        int32_t p = choosecode(s, a, b);
        /* A definition costs 3 bytes; each pair replaced saves one. */
        if (p < 0 || top <= 3 + s.plain[p]) {
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
        replacepair(s, a, b, static_cast<uint8_t>(p));
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

    pairstate *s = nullptr;
    uint8_t *block = nullptr;
    const size_t bytes = sizeof(pairstate) + PAIRTABLE * 4 + size * 2;
    block = static_cast<uint8_t *>(reservepackwork("cmn\\packpair", __LINE__, "pairpack", bytes));
    if (block == nullptr) {
        return PACK_ENOMEM;
    }
    s = static_cast<pairstate *>(static_cast<void *>(block));
    std::memset(s, 0, sizeof(pairstate));
    s->counts = static_cast<uint32_t *>(static_cast<void *>(block + sizeof(pairstate)));
    s->sym =
        static_cast<uint16_t *>(static_cast<void *>(block + sizeof(pairstate) + PAIRTABLE * 4));
    std::memset(s->counts, 0, PAIRTABLE * 4);
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
    for (uint32_t i = 0; i < s->length && !out.overflow; i++) {
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
