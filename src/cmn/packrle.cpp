/*
 * cmn/packrle - run-length encoder for pack code 0x4A.
 *
 * Stream: pack header (0x4A, 0xFB, 3-byte big-endian size), then runs whose control byte
 * holds the operation in bits 6-7 and a count n (0..63) in bits 0-5:
 *
 *   00nnnnnn  b1 .. bn            n literal bytes
 *   01nnnnnn  v                   n copies of v; v becomes the fill byte
 *   10nnnnnn                      n copies of the fill byte
 *   11nnnnnn  f  hl hl ..         f, then n-1 bytes with f's high nibble and the packed
 *                                 low nibbles (high nibble of each byte first)
 *
 * The encoder picks runs by a shortest-path search over the input, one chunk of
 * RLECHUNK bytes at a time: every position has a "between runs" node and an "inside a
 * literal run" node, and edges for fills, nibble runs and literal bytes weighted by the
 * bytes they cost. Each node remembers the fill byte its best path leaves behind, so a
 * fill of the same byte is priced (and written) as the 1-byte operation 2.
 *
 * Threads: none of its own; reentrant. Working memory (17 bytes per chunk byte) is
 * one named block of defaultmemclass, purged before return.
 */
#include "thistle/memstd.h"
#include "thistle/pack.h"
#include "thistle/unpack.h"

#include "packbytes.h"

#include <cstring>

namespace {

/* A multiple of 63, so that cutting the input into chunks never costs a control byte
 * beyond one per 63 plain bytes. */
constexpr int32_t RLECHUNK = 63 * 1040;
constexpr uint32_t RLEMAXRUN = 63;
constexpr uint32_t RLEINFINITE = 0xFFFFFFFFu;

/* Operation numbers as they stand in the control byte; RLECLOSE marks a boundary node
 * reached by ending the literal run that is open at the same position. */
enum : uint8_t {
    RLELITERAL = 0,
    RLEFILL = 1,
    RLEREFILL = 2,
    RLENIBBLE = 3,
    RLECLOSE = 4,
};

/* The search's per-position arrays, carved from one block. */
struct rlework {
    uint32_t *boundcost; /* cheapest cost to reach position i between runs */
    uint32_t *litcost;   /* cheapest cost to reach i inside an open literal run */
    uint8_t *boundkind;  /* how boundcost was reached (RLEFILL, RLENIBBLE, RLECLOSE) */
    uint8_t *boundlen;   /* bytes covered by that last operation */
    uint8_t *boundfill;  /* fill byte after the best path to the boundary node */
    uint8_t *litlen;     /* length of the open literal run */
    uint8_t *litfill;    /* fill byte along the literal node's path */
    uint8_t *run;        /* equal bytes starting at i, capped at 63 */
    uint8_t *nibble;     /* bytes sharing in[i]'s high nibble from i, capped at 63 */
    uint8_t *beforerun;  /* distance to the next run of 3 or more, capped at 63 */
    uint8_t *ops;        /* chosen operations, packed kind << 6 | length, back to front */
};

struct rleout {
    uint8_t *at;
    uint8_t *end;
    int32_t fill;
    bool overflow;
};

void putbyte(rleout &out, uint8_t b) {
    if (out.at == out.end) {
        out.overflow = true;
        return;
    }
    *out.at++ = b;
}

/* Writes one chosen operation covering in[0..n). A fill turns into operation 2 when the
 * decoder's fill byte already matches. */
void putop(rleout &out, const uint8_t *in, uint8_t kind, uint32_t n) {
    if (kind == RLELITERAL) {
        putbyte(out, static_cast<uint8_t>(n));
        for (uint32_t i = 0; i < n; i++) {
            putbyte(out, in[i]);
        }
    } else if (kind == RLEFILL) {
        if (out.fill == in[0]) {
            putbyte(out, static_cast<uint8_t>(0x80 | n));
        } else {
            putbyte(out, static_cast<uint8_t>(0x40 | n));
            putbyte(out, in[0]);
            out.fill = in[0];
        }
    } else {
        putbyte(out, static_cast<uint8_t>(0xC0 | n));
        putbyte(out, in[0]);
        for (uint32_t i = 1; i < n; i += 2) {
            uint8_t hi = static_cast<uint8_t>(in[i] << 4);
            uint8_t lo = i + 1 < n ? static_cast<uint8_t>(in[i + 1] & 0x0F) : 0;
            putbyte(out, static_cast<uint8_t>(hi | lo));
        }
    }
}

void relaxbound(rlework &w, uint32_t to, uint32_t cost, uint8_t kind, uint32_t len, uint8_t fill) {
    if (cost < w.boundcost[to]) {
        w.boundcost[to] = cost;
        w.boundkind[to] = kind;
        w.boundlen[to] = static_cast<uint8_t>(len);
        w.boundfill[to] = fill;
    }
}

/* Encodes in[0..n) (n <= RLECHUNK) with the decoder's fill byte at entry out.fill. */
void packchunk(rlework &w, const uint8_t *in, uint32_t n, rleout &out) {
    /* Run, nibble and next-run lengths, back to front. */
    w.run[n - 1] = 1;
    w.nibble[n - 1] = 1;
    w.beforerun[n - 1] = RLEMAXRUN;
    for (uint32_t i = n - 1; i-- > 0;) {
        uint32_t r = in[i] == in[i + 1] ? w.run[i + 1] + 1u : 1u;
        uint32_t h = (in[i] >> 4) == (in[i + 1] >> 4) ? w.nibble[i + 1] + 1u : 1u;
        w.run[i] = static_cast<uint8_t>(r < RLEMAXRUN ? r : RLEMAXRUN);
        w.nibble[i] = static_cast<uint8_t>(h < RLEMAXRUN ? h : RLEMAXRUN);
        uint32_t d = w.run[i] >= 3 ? 0 : w.beforerun[i + 1] + 1u;
        w.beforerun[i] = static_cast<uint8_t>(d < RLEMAXRUN ? d : RLEMAXRUN);
    }
    for (uint32_t i = 0; i <= n; i++) {
        w.boundcost[i] = RLEINFINITE;
        w.litcost[i] = RLEINFINITE;
    }
    w.boundcost[0] = 0;
    w.boundfill[0] = static_cast<uint8_t>(out.fill);
    w.boundkind[0] = RLECLOSE;

    for (uint32_t i = 0;; i++) {
        if (w.litcost[i] <= w.boundcost[i]) { /* ties go to plain bytes */
            w.boundcost[i] = w.litcost[i];
            w.boundkind[i] = RLECLOSE;
            w.boundlen[i] = w.litlen[i];
            w.boundfill[i] = w.litfill[i];
        }
        if (i == n) {
            break;
        }
        uint32_t base = w.boundcost[i];
        uint8_t fill = w.boundfill[i];
        /* Literal byte: extend the open run, or start a new one. */
        if (w.litcost[i] != RLEINFINITE && w.litlen[i] < RLEMAXRUN) {
            w.litcost[i + 1] = w.litcost[i] + 1;
            w.litlen[i + 1] = static_cast<uint8_t>(w.litlen[i] + 1);
            w.litfill[i + 1] = w.litfill[i];
        }
        if (base + 2 < w.litcost[i + 1]) {
            w.litcost[i + 1] = base + 2;
            w.litlen[i + 1] = 1;
            w.litfill[i + 1] = fill;
        }
        /* Fill of the whole run from here (the rest of a longer run starts later). */
        uint32_t r = w.run[i];
        relaxbound(w, i + r, base + (fill == in[i] ? 1u : 2u), RLEFILL, r, in[i]);
        /* Nibble run: the whole stretch, and the part before the next run of 3. */
        uint32_t m = w.nibble[i];
        if (m >= 3) {
            relaxbound(w, i + m, base + 2 + m / 2, RLENIBBLE, m, fill);
            uint32_t cut = w.beforerun[i];
            if (cut >= 3 && cut < m) {
                relaxbound(w, i + cut, base + 2 + cut / 2, RLENIBBLE, cut, fill);
            }
        }
    }

    /* Walk back along the best path, then write front to back. */
    uint32_t count = 0;
    for (uint32_t pos = n; pos > 0;) {
        uint8_t kind = w.boundkind[pos];
        uint32_t len = w.boundlen[pos];
        if (kind == RLECLOSE) {
            kind = RLELITERAL;
        }
        w.ops[count++] = static_cast<uint8_t>(kind << 6 | len);
        pos -= len;
    }
    const uint8_t *at = in;
    while (count > 0 && !out.overflow) {
        uint8_t op = w.ops[--count];
        uint32_t len = op & 0x3Fu;
        putop(out, at, static_cast<uint8_t>(op >> 6), len);
        at += len;
    }
}

} // namespace

/* Packs size bytes of source as a run-length stream (code 0x4A, signature 0xFB) into
 * destination. Returns the stream's size; PACK_EOVERFLOW when it does not fit in
 * capacity (nothing is written past it), PACK_EINVAL for a size above PACK_MAXSIZE or a
 * missing buffer, PACK_ENOMEM without working memory in defaultmemclass. */
int32_t rlepack(const void *source, size_t size, void *destination, size_t capacity) {
    if (size > PACK_MAXSIZE || (source == nullptr && size > 0) ||
        (destination == nullptr && capacity > 0)) {
        return PACK_EINVAL;
    }
    uint8_t *dst = static_cast<uint8_t *>(destination);
    /* The decoder's fill byte starts at 0, so a leading run of zeros is operation 2. */
    rleout out{dst, dst + capacity, 0, false};
    uint8_t head[8];
    const size_t headsize =
        putpackheader(head, PACK_RLECODE, static_cast<uint32_t>(size), PACK_SHORTHEADER);
    for (size_t i = 0; i < headsize; i++) {
        putbyte(out, head[i]);
    }
    if (out.overflow) {
        return PACK_EOVERFLOW;
    }
    if (size == 0) {
        return 5;
    }

    uint32_t chunk = size < static_cast<size_t>(RLECHUNK) ? static_cast<uint32_t>(size)
                                                          : static_cast<uint32_t>(RLECHUNK);
    uint32_t nodes = chunk + 1;
    const size_t bytes = size_t{nodes} * (2 * 4 + 9);
    uint8_t *block =
        static_cast<uint8_t *>(reservepackwork("cmn\\packrle", __LINE__, "rlepack", bytes));
    if (block == nullptr) {
        return PACK_ENOMEM;
    }
    rlework w;
    uint8_t *p = block;
    auto take = [&p](uint32_t count) {
        uint8_t *here = p;
        p += count;
        return here;
    };
    /* The cost words come first so that they keep the block's alignment. */
    w.boundcost = static_cast<uint32_t *>(static_cast<void *>(take(nodes * 4)));
    w.litcost = static_cast<uint32_t *>(static_cast<void *>(take(nodes * 4)));
    w.boundkind = take(nodes);
    w.boundlen = take(nodes);
    w.boundfill = take(nodes);
    w.litlen = take(nodes);
    w.litfill = take(nodes);
    w.run = take(nodes);
    w.nibble = take(nodes);
    w.beforerun = take(nodes);
    w.ops = take(nodes);

    const uint8_t *in = static_cast<const uint8_t *>(source);
    for (size_t at = 0; at < size && !out.overflow; at += chunk) {
        size_t left = size - at;
        packchunk(w, in + at, left < chunk ? static_cast<uint32_t>(left) : chunk, out);
    }
    purgememadr(block);
    if (out.overflow) {
        return PACK_EOVERFLOW;
    }
    return static_cast<int32_t>(out.at - dst);
}
