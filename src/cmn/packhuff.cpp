/*
 * cmn\packhuff - Huffman encoder with escape runs (pack codes 0x30, 0x32 and 0x34).
 *
 * Writes one bit stream, most significant bit first, padded to whole 16-bit units:
 *
 *   +------+----+---------+-------+-----+---------------+-------------+--------------+
 *   | code | FB | [size]  | size  | esc | counts L=1..M | symbol list | coded data   |
 *   |  8   | 8  | 24 long | 24    |  8  | numbers       | numbers     | ... esc 0 1  |
 *   +------+----+---------+-------+-----+---------------+-------------+--------------+
 *
 * The code is canonical with lengths of at most 16 bits (package-merge), always complete,
 * so the reader's count list ends exactly at the longest length. One byte value is the
 * escape: an escape followed by a number r >= 1 repeats the last byte r more times, by 0
 * and a 0 bit carries a literal byte (how the escape value itself is written), by 0 and a
 * 1 bit ends the stream. An absent byte (when there is one) and the few least used bytes
 * are tried as the escape and the shortest stream wins; runs go through the escape
 * wherever that is shorter under the final code. Filters 1 and 2 store first or second
 * differences, which the reader turns back with one or two running sums.
 *
 * Threads: none; the call keeps all its state in one work block.
 * Memory: one block "huffpack" (about 70 KB) from defaultmemclass, purged before return.
 * Limits: inputs up to PACK_MAXSIZE bytes. Worst case: size + size / 128 + 540 bytes.
 */
#include "thistle/pack.h"

#include "thistle/diag.h"
#include "thistle/memstd.h"
#include "thistle/unpack.h"

#include "packbytes.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int32_t MAXLEN = 16;    /* longest code the reader accepts */
constexpr int32_t SHORTRUNS = 32; /* repeats below this are weighed against literals */
constexpr int32_t CHUNK = 4096;   /* bytes filtered at a time */
constexpr int32_t CANDIDATES = 4; /* least used present bytes tried as the escape */
constexpr int32_t ROUNDS = 4;     /* code / parse refinements per escape candidate */
/* Longest repeat one number carries in its short form (at most 15 leading zeros): the
 * wide form skips the values 2^18 - 4 to 2^19 - 5, so longer runs go in pieces. */
constexpr uint32_t RUNMAX = (1u << 18) - 5;

/* Run statistics of the filtered data, gathered once: each maximal run of a byte opens
 * with one literal and leaves `repeats` = length - 1 that may go through the escape. */
struct runstats {
    uint32_t count[256];                /* occurrences of each byte value */
    uint32_t runs[256];                 /* maximal runs of each byte value */
    uint32_t shortruns[256][SHORTRUNS]; /* runs of b with r repeats, 1 <= r < SHORTRUNS */
    uint64_t longtokens;                /* escapes needed by the longer repeats */
    uint64_t longbits;                  /* bits of their run numbers */
};

/* One canonical code: lengths, codes in list order, and the table as it is written. */
struct huffcode {
    uint8_t escape;
    uint8_t len[256]; /* 0: not in the code */
    uint16_t code[256];
    uint8_t list[256];      /* symbols in the order codes are handed out */
    uint8_t listdelta[256]; /* the number written for each of them */
    int32_t nsymbols;
    int32_t counts[MAXLEN + 1];
    int32_t maxlen;
    uint64_t tablebits; /* counts and symbol list */
};

struct huffwork {
    runstats stats;
    uint8_t runcoded[256][SHORTRUNS]; /* repeats of b, r that go through the escape */
    uint32_t freq[256];
    uint64_t sorted[256];            /* weight << 8 | symbol, ascending */
    uint64_t weights[2][2 * 256];    /* package-merge lists of two adjacent levels */
    uint8_t isleaf[MAXLEN][2 * 256]; /* which entries of each level's list are leaves */
    uint8_t chunk[CHUNK];
    huffcode trial;
    huffcode next;
    huffcode best;
};

struct bitwriter {
    uint8_t *out;
    size_t capacity;
    size_t pos; /* counts on past capacity; nothing is stored there */
    uint64_t acc;
    int32_t nbits;
};

/* Stores the 32 oldest bits held; past capacity only the count moves on. */
inline void flushword(bitwriter *w) {
    w->nbits -= 32;
    uint32_t word = static_cast<uint32_t>(w->acc >> w->nbits);
    if (w->capacity - w->pos >= 4 && w->pos <= w->capacity) {
        putbe32(w->out + w->pos, word);
        w->pos += 4;
        return;
    }
    for (int32_t k = 0; k < 4; k++, w->pos++) {
        if (w->pos < w->capacity) {
            w->out[w->pos] = static_cast<uint8_t>(word >> (24 - 8 * k));
        }
    }
}

/* Appends count (0 to 32) bits; fewer than 32 are held between calls. */
inline void putbits(bitwriter *w, uint32_t value, int32_t count) {
    w->acc = (w->acc << count) | value;
    w->nbits += count;
    if (w->nbits >= 32) {
        flushword(w);
    }
}

/* Pads with zero bits to whole 16-bit units and stores what is held. */
void finishbits(bitwriter *w) {
    putbits(w, 0, (16 - w->nbits % 16) % 16);
    for (; w->nbits > 0; w->nbits -= 8, w->pos++) {
        if (w->pos < w->capacity) {
            w->out[w->pos] = static_cast<uint8_t>(w->acc >> (w->nbits - 8));
        }
    }
}

/* Width n of a number's long form: v + 4 lies in [2^n, 2^(n+1)). */
int32_t numwidth(uint32_t v) {
    int32_t n = 0;
    for (uint32_t x = v + 4; x > 1; x >>= 1) {
        n++;
    }
    return n;
}

/* Bits of a number: 1ab for 0..3, else n - 2 zeros, a one and n bits (v <= RUNMAX). */
uint32_t numbits(uint32_t v) {
    return v < 4 ? 3u : static_cast<uint32_t>(2 * numwidth(v) - 1);
}

void putnum(bitwriter *w, uint32_t v) {
    if (v < 4) {
        putbits(w, 4 | v, 3);
        return;
    }
    int32_t n = numwidth(v);
    putbits(w, 0, n - 2);
    putbits(w, v + 4, n + 1); /* the top bit of v + 4 is the one that ends the zeros */
}

/* The data as stored: the bytes themselves or their first or second differences. */
void filterchunk(const uint8_t *src, size_t pos, size_t n, int32_t filter, uint8_t *out) {
    uint8_t a = pos >= 1 ? src[pos - 1] : 0; /* x[i - 1] */
    uint8_t b = pos >= 2 ? src[pos - 2] : 0; /* x[i - 2] */
    for (size_t i = 0; i < n; i++) {
        uint8_t x = src[pos + i];
        out[i] = filter == 1 ? static_cast<uint8_t>(x - a) : static_cast<uint8_t>(x - 2 * a + b);
        b = a;
        a = x;
    }
}

/* Calls onrun(byte, length) for each maximal run of the filtered data, in order. */
template <typename F>
void forruns(const uint8_t *src, size_t size, int32_t filter, uint8_t *chunk, F &&onrun) {
    uint32_t cur = 0;
    uint32_t n = 0;
    for (size_t pos = 0; pos < size; pos += CHUNK) {
        size_t m = std::min<size_t>(CHUNK, size - pos);
        const uint8_t *p = src + pos;
        if (filter != 0) {
            filterchunk(src, pos, m, filter, chunk);
            p = chunk;
        }
        for (size_t i = 0; i < m; i++) {
            if (p[i] == cur && n != 0) {
                n++;
            } else {
                if (n != 0) {
                    onrun(cur, n);
                }
                cur = p[i];
                n = 1;
            }
        }
    }
    if (n != 0) {
        onrun(cur, n);
    }
}

void gatherstats(huffwork *w, const uint8_t *src, size_t size, int32_t filter) {
    runstats *s = &w->stats;
    std::memset(s, 0, sizeof(*s));
    forruns(src, size, filter, w->chunk, [s](uint32_t b, uint32_t n) {
        s->count[b] += n;
        s->runs[b]++;
        uint32_t r = n - 1;
        if (r == 0) {
            return;
        }
        if (r < SHORTRUNS) {
            s->shortruns[b][r]++;
            return;
        }
        for (; r > 0; r -= std::min(r, RUNMAX)) {
            s->longtokens++;
            s->longbits += numbits(std::min(r, RUNMAX));
        }
    });
}

/* Which short repeats go through the escape: under code c those that come out shorter,
 * without a code the opening guess (two repeats or more). The escape's own repeats
 * always do, as do repeats of SHORTRUNS or more. */
void decideruns(huffwork *w, const huffcode *c) {
    for (int32_t b = 0; b < 256; b++) {
        for (int32_t r = 1; r < SHORTRUNS; r++) {
            uint32_t esc = c != nullptr ? c->len[c->escape] + numbits(static_cast<uint32_t>(r)) : 0;
            uint32_t lit = c != nullptr ? static_cast<uint32_t>(r) * c->len[b] : 0;
            w->runcoded[b][r] = c != nullptr ? esc < lit : r >= 2;
        }
    }
}

/* Symbol frequencies of the parse chosen by runcoded with the given escape; returns the
 * bits that follow escapes (run numbers, literal bytes, the end mark). */
uint64_t tokenize(huffwork *w, uint32_t escape) {
    const runstats *s = &w->stats;
    uint64_t esc = s->longtokens + 1;
    uint64_t extra = s->longbits + 4; /* end: number 0, then a 1 bit */
    for (uint32_t b = 0; b < 256; b++) {
        uint64_t f = s->runs[b];
        if (b == escape) {
            esc += f; /* each run of the escape value opens with an escaped literal */
            extra += 12 * f;
            f = 0;
        }
        for (uint32_t r = 1; r < SHORTRUNS; r++) {
            uint32_t k = s->shortruns[b][r];
            if (k == 0) {
                continue;
            }
            if (b == escape || w->runcoded[b][r]) {
                esc += k;
                extra += static_cast<uint64_t>(k) * numbits(r);
            } else {
                f += static_cast<uint64_t>(k) * r;
            }
        }
        w->freq[b] = static_cast<uint32_t>(f);
    }
    w->freq[escape] = static_cast<uint32_t>(esc);
    return extra;
}

/* Optimal code lengths of at most MAXLEN bits for the symbols with a frequency, and the
 * escape (package-merge). Fewer than two symbols get a second, unused one, since a
 * code of one symbol never fills the code space. The code is always complete. */
void buildlengths(huffwork *w, uint32_t escape, huffcode *c) {
    int32_t n = 0;
    for (uint32_t b = 0; b < 256; b++) {
        if (w->freq[b] != 0 || b == escape) {
            w->sorted[n++] = static_cast<uint64_t>(w->freq[b]) << 8 | b;
        }
    }
    if (n == 1) {
        w->sorted[n++] = (escape + 1) & 0xFF; /* weight 0 */
    }
    std::sort(w->sorted, w->sorted + n);

    /* Deepest level first: its list is the leaves; each level above merges the leaves
     * with the pairs of the level below, leaves first among equal weights. */
    uint64_t *prev = w->weights[0];
    int32_t prevsize = n;
    for (int32_t i = 0; i < n; i++) {
        prev[i] = w->sorted[i] >> 8;
        w->isleaf[MAXLEN - 1][i] = 1;
    }
    for (int32_t level = MAXLEN - 2; level >= 0; level--) {
        uint64_t *cur = w->weights[(MAXLEN - 1 - level) & 1];
        int32_t packages = prevsize / 2;
        int32_t li = 0;
        int32_t pi = 0;
        int32_t size = 0;
        while (li < n || pi < packages) {
            uint64_t pw = pi < packages ? prev[2 * pi] + prev[2 * pi + 1] : 0;
            uint64_t lw = li < n ? w->sorted[li] >> 8 : 0;
            if (li < n && (pi >= packages || lw <= pw)) {
                cur[size] = lw;
                w->isleaf[level][size++] = 1;
                li++;
            } else {
                cur[size] = pw;
                w->isleaf[level][size++] = 0;
                pi++;
            }
        }
        prev = cur;
        prevsize = size;
    }

    /* Take 2n - 2 entries at the top; each leaf taken at a level adds one bit to its
     * symbol, and the leaves taken are always the lightest ones. */
    uint8_t lens[256] = {};
    int32_t take = 2 * n - 2;
    for (int32_t level = 0; level < MAXLEN && take > 0; level++) {
        int32_t leaves = 0;
        for (int32_t i = 0; i < take; i++) {
            leaves += w->isleaf[level][i];
        }
        for (int32_t i = 0; i < leaves; i++) {
            lens[i]++;
        }
        take = 2 * (take - leaves);
    }
    std::memset(c->len, 0, sizeof(c->len));
    for (int32_t i = 0; i < n; i++) {
        c->len[w->sorted[i] & 0xFF] = lens[i];
    }
    c->escape = static_cast<uint8_t>(escape);
}

/* Lays out the canonical code of c->len: counts, the symbol list and the codes. Within
 * one length the symbols are listed upward from the one after the previous symbol, so
 * the numbers of the list stay small. */
void buildtable(huffcode *c) {
    std::memset(c->counts, 0, sizeof(c->counts));
    c->maxlen = 0;
    for (int32_t b = 0; b < 256; b++) {
        c->counts[c->len[b]]++;
        c->maxlen = std::max<int32_t>(c->maxlen, c->len[b]);
    }
    c->tablebits = 0;
    for (int32_t len = 1; len <= c->maxlen; len++) {
        c->tablebits += numbits(static_cast<uint32_t>(c->counts[len]));
    }

    bool used[256] = {};
    uint32_t prev = 255;
    uint32_t code = 0;
    c->nsymbols = 0;
    for (int32_t len = 1; len <= c->maxlen; len++) {
        code <<= 1;
        if (c->counts[len] == 0) {
            continue;
        }
        uint32_t start = (prev + 1) & 0xFF;
        for (uint32_t k = 0; k < 256; k++) {
            uint32_t sym = (start + k) & 0xFF;
            if (c->len[sym] != len) {
                continue;
            }
            uint32_t d = 0;
            for (uint32_t v = (prev + 1) & 0xFF; v != sym; v = (v + 1) & 0xFF) {
                d += used[v] ? 0 : 1;
            }
            used[sym] = true;
            c->list[c->nsymbols] = static_cast<uint8_t>(sym);
            c->listdelta[c->nsymbols++] = static_cast<uint8_t>(d);
            c->tablebits += numbits(d);
            c->code[sym] = static_cast<uint16_t>(code++);
            prev = sym;
        }
    }
}

/* Bytes of the whole stream for code c with the parse of runcoded (already tokenized
 * into freq, with `extra` bits behind escapes). */
uint64_t streambytes(const huffwork *w, const huffcode *c, uint64_t extra, int32_t header) {
    uint64_t bits = 48 + (header == PACK_LONGHEADER ? 24 : 0) + c->tablebits + extra;
    for (int32_t b = 0; b < 256; b++) {
        bits += static_cast<uint64_t>(w->freq[b]) * c->len[b];
    }
    return (bits + 15) / 16 * 2;
}

/* Tries one escape value: builds a code for the opening parse, then alternates between
 * the best parse under the code and the best code for the parse. Keeps the shortest in
 * w->best; returns its size, or bestbytes when nothing was shorter. */
uint64_t tryescape(huffwork *w, uint32_t escape, int32_t header, uint64_t bestbytes) {
    decideruns(w, nullptr);
    tokenize(w, escape);
    buildlengths(w, escape, &w->trial);
    buildtable(&w->trial);
    for (int32_t round = 0; round < ROUNDS; round++) {
        decideruns(w, &w->trial);
        uint64_t bytes = streambytes(w, &w->trial, tokenize(w, escape), header);
        if (bytes < bestbytes) {
            bestbytes = bytes;
            w->best = w->trial;
        }
        buildlengths(w, escape, &w->next);
        if (std::memcmp(w->next.len, w->trial.len, sizeof(w->trial.len)) == 0) {
            break;
        }
        buildtable(&w->next);
        w->trial = w->next;
    }
    return bestbytes;
}

/* Picks the escape and the code: an absent byte value when there is one, and the least
 * used present values, each refined; the shortest stream wins. */
uint64_t choosecode(huffwork *w, int32_t header) {
    uint64_t bestbytes = UINT64_MAX;
    const uint32_t *count = w->stats.count;
    for (uint32_t b = 0; b < 256; b++) {
        if (count[b] == 0) {
            bestbytes = tryescape(w, b, header, bestbytes);
            break;
        }
    }
    uint64_t *rare = w->sorted; /* free until buildlengths runs */
    int32_t present = 0;
    for (uint32_t b = 0; b < 256; b++) {
        if (count[b] != 0) {
            rare[present++] = static_cast<uint64_t>(count[b]) << 8 | b;
        }
    }
    std::sort(rare, rare + present);
    uint32_t candidates[CANDIDATES];
    int32_t ncandidates = std::min(present, CANDIDATES);
    for (int32_t i = 0; i < ncandidates; i++) {
        candidates[i] = static_cast<uint32_t>(rare[i] & 0xFF);
    }
    for (int32_t i = 0; i < ncandidates; i++) {
        bestbytes = tryescape(w, candidates[i], header, bestbytes);
    }
    return bestbytes;
}

/* The r repeats that follow the opening byte b of a run: codes of b, or escapes with
 * run numbers, as runcoded decided. */
void putrepeats(const huffwork *w, bitwriter *out, uint32_t b, uint32_t r) {
    const huffcode *c = &w->best;
    uint32_t escape = c->escape;
    if (b != escape && r < SHORTRUNS && !w->runcoded[b][r]) {
        for (; r > 0; r--) {
            putbits(out, c->code[b], c->len[b]);
        }
        return;
    }
    for (; r > 0; r -= std::min(r, RUNMAX)) {
        putbits(out, c->code[escape], c->len[escape]);
        putnum(out, std::min(r, RUNMAX));
    }
}

void writestream(huffwork *w, bitwriter *out, const uint8_t *src, size_t size, int32_t filter,
                 int32_t header) {
    const huffcode *c = &w->best;
    uint32_t escape = c->escape;
    uint32_t esccode = c->code[escape];
    int32_t esclen = c->len[escape];

    uint8_t head[8];
    const size_t headsize = putpackheader(head, static_cast<uint8_t>(PACK_HUFFCODE + 2 * filter),
                                          static_cast<uint32_t>(size), header);
    for (size_t i = 0; i < headsize; i++) {
        putbits(out, head[i], 8);
    }
    putbits(out, escape, 8);
    for (int32_t len = 1; len <= c->maxlen; len++) {
        putnum(out, static_cast<uint32_t>(c->counts[len]));
    }
    for (int32_t i = 0; i < c->nsymbols; i++) {
        putnum(out, c->listdelta[i]);
    }

    forruns(src, size, filter, w->chunk, [&](uint32_t b, uint32_t n) {
        if (b != escape) {
            putbits(out, c->code[b], c->len[b]);
        } else {
            putbits(out, esccode, esclen);
            putbits(out, 0x800 | b, 12); /* number 0, a 0 bit, the byte */
        }
        if (n > 1) {
            putrepeats(w, out, b, n - 1);
        }
    });
    putbits(out, esccode, esclen);
    putbits(out, 0x9, 4); /* number 0, a 1 bit: the end */
    finishbits(out);
}

} // namespace

/* Packs size bytes with the Huffman escape-run format: code 0x30, or 0x32 / 0x34 with
 * filter 1 / 2 (first / second differences for sampled data), short or long header.
 * Returns the stream size, PACK_EOVERFLOW when it exceeds capacity (nothing is written
 * then), PACK_EINVAL for bad arguments, PACK_ENOMEM without working memory. */
int32_t huffpack(const void *source, size_t size, void *destination, size_t capacity,
                 int32_t filter, int32_t header) {
    if (size > PACK_MAXSIZE || filter < 0 || filter > 2 ||
        (header != PACK_SHORTHEADER && header != PACK_LONGHEADER) ||
        (source == nullptr && size != 0)) {
        return PACK_EINVAL;
    }
    const uint8_t *src = static_cast<const uint8_t *>(source);

    void *block = reservepackwork("cmn\\packhuff", __LINE__, "huffpack", sizeof(huffwork) + 8);
    if (block == nullptr) {
        return PACK_ENOMEM;
    }
    /* The class may align data to less than the record needs. */
    uintptr_t at = (reinterpret_cast<uintptr_t>(block) + 7) & ~static_cast<uintptr_t>(7);
    huffwork *w = reinterpret_cast<huffwork *>(at);

    gatherstats(w, src, size, filter);
    uint64_t bytes = choosecode(w, header);
    int32_t result = PACK_EOVERFLOW;
    if (bytes <= capacity) {
        decideruns(w, &w->best);
        bitwriter out = {static_cast<uint8_t *>(destination), capacity, 0, 0, 0};
        writestream(w, &out, src, size, filter, header);
        if (out.pos <= capacity) {
            result = static_cast<int32_t>(out.pos);
        }
    }
    purgememadr(block);
    return result;
}
