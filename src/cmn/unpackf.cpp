/*
 * cmn\unpackf - the five decoders of packed data: LZ commands, Huffman with escape runs,
 * run-length, byte pairs and 4x4 colour blocks (see thistle/unpack.h).
 *
 * Each decoder is one bounded core over (source, source size, destination, capacity).
 * Positions are indices, never pointers past a buffer, so the plain entry points can pass
 * an unlimited source size. A core reads only bytes inside the source, writes only bytes
 * below min(declared size, capacity) and leaves through one failure exit with an UNPACK_E
 * value; nothing behind the declared end of the output is ever read or written. The plain
 * entry points trust their input as they always did and return the declared size.
 *
 * Threads: every decoder keeps its state in the call (the byte-pair tables included), so
 * any number of threads may decode at once. Nothing is allocated; the largest frame is
 * the Huffman decoder's (about 10 KB).
 * Limits: declared sizes have 24 bits.
 */
#include "thistle/unpack.h"

#include "packbytes.h"

#include <array>
#include <bit>
#include <cstring>

namespace {

/* The plain entry points' "size" of a source or destination they cannot know. As a
 * source size it means a trusted stream of unknown length: no byte behind it is read. */
constexpr size_t unlimited = SIZE_MAX;

/* Offset of the size field: the long header form (code bit 0) puts 3 more bytes before
 * it in the LZ and Huffman formats. */
size_t sizeoffset(const uint8_t *src) {
    return (src[0] & 1) != 0 ? 5 : 2;
}

/* ---- LZ commands ---------------------------------------------------------------------
 *
 *   b0 0x00..0x7F  [b0 b1]        lit b0&3        dist ((b0&0x60)<<3)+b1+1  len ((b0>>2)&7)+3
 *   b0 0x80..0xBF  [b0 b1 b2]     lit b1>>6       dist ((b1&0x3F)<<8)+b2+1  len (b0&0x3F)+4
 *   b0 0xC0..0xDF  [b0 b1 b2 b3]  lit b0&3        dist ((b0&0x10)<<12)+(b1<<8)+b2+1
 *                                                 len ((b0&0x0C)<<6)+b3+5
 *   b0 0xE0..0xFB  [b0]           lit ((b0&0x1F)+1)*4, no match
 *   b0 0xFC..0xFF  [b0]           lit b0&3, then the end
 *
 * Literals follow the command bytes. Wide moves are used only where the room left below
 * the declared end covers them, so the end needs no saving and restoring. A fast loop
 * decodes while both buffers have a margin left; the careful loop finishes the stream.
 */
/* Room the fast loop needs before a command, in both buffers: the longest command with
 * the longest literal run (1 + 112 bytes) read and written in 16-byte steps, and a short
 * run's 4-byte word. Closer to either end the careful loop below takes over. */
constexpr size_t lzmargin = 128;

/* Distance to continue a match from after its first 8 bytes were copied one by one: the
 * smallest multiple of the distance that is at least 8. The output has the distance as
 * its period, so copying from that far back gives the same bytes, 8 at a time. */
constexpr uint8_t lzperiod8[8] = {0, 8, 8, 9, 8, 10, 12, 14};

/* The match fields of a command as shifts and masks of its first four bytes read as one
 * big-endian word w (b0 in the top byte), so the fast loop decodes all three command
 * forms without branching on the form:
 *
 *   dist = disthigh + ((w >> distshift) & distmask) + 1
 *   len  = lenbase + (w & lenmask)
 */
struct lzform {
    uint32_t disthigh;
    uint16_t distmask;
    uint16_t lenmask;
    uint16_t lenbase;
    uint8_t distshift;
};

/* One entry per first byte 0x00..0xDF (the match commands). */
constexpr std::array<lzform, 0xE0> lzforms = [] {
    std::array<lzform, 0xE0> t{};
    for (uint32_t b0 = 0; b0 < 0xE0; b0++) {
        lzform &f = t[b0];
        if (b0 < 0x80) {
            f = {.disthigh = (b0 & 0x60) << 3,
                 .distmask = 0xFF,
                 .lenmask = 0,
                 .lenbase = static_cast<uint16_t>(((b0 >> 2) & 7) + 3),
                 .distshift = 16};
        } else if (b0 < 0xC0) {
            f = {.disthigh = 0,
                 .distmask = 0x3FFF,
                 .lenmask = 0,
                 .lenbase = static_cast<uint16_t>((b0 & 0x3F) + 4),
                 .distshift = 8};
        } else {
            f = {.disthigh = (b0 & 0x10) << 12,
                 .distmask = 0xFFFF,
                 .lenmask = 0xFF,
                 .lenbase = static_cast<uint16_t>(((b0 & 0x0C) << 6) + 5),
                 .distshift = 8};
        }
    }
    return t;
}();

/* Room a wide match copy may write past the match's end. */
constexpr size_t lzoverrun = 32;

/* Copies a match of len bytes from dist behind d, with the result of a byte-after-byte
 * copy. Writes up to lzoverrun - 1 bytes past d + len, which the caller has room for;
 * they are rewritten by later output. Every wide step reads only bytes written before
 * it. Most matches are short and far, so the first 32 bytes go without a loop test. */
inline void lzmatchwide(uint8_t *d, size_t dist, size_t len) {
    const uint8_t *s = d - dist;
    uint8_t *const end = d + len;
    if (dist >= 16) {
        memcpy(d, s, 16);
        memcpy(d + 16, s + 16, 16);
        d += 32;
        s += 32;
        while (d < end) {
            memcpy(d, s, 16);
            d += 16;
            s += 16;
        }
        return;
    }
    if (dist < 8) {
        for (size_t i = 0; i < 8; i++) {
            d[i] = s[i];
        }
        d += 8;
        s = d - lzperiod8[dist];
    }
    while (d < end) {
        memcpy(d, s, 8);
        d += 8;
        s += 8;
    }
}

/* The fast loop of lzcore: decodes commands while both buffers have lzmargin bytes left
 * past the current positions, and stops before the end command. Advances ip and op;
 * returns 0, or UNPACK_EMALFORMED / UNPACK_EOVERFLOW exactly where the careful loop
 * would.
 *
 * With exact false the source end is unknown (a plain call on a trusted stream, which
 * holds nothing behind its end command), and the output still to come stands in for it:
 * 11 or more bytes of output cannot come from fewer than 4 source bytes, end command
 * included (a 2-byte command gives at most 10, and every literal is a byte of its own).
 * A 2- or 3-byte command leaves at least 58 of the 128 bytes of the margin to come, so
 * its 4-byte word and a 4-byte move of its literals stay inside the stream; a 4-byte
 * command's literals move as a word only while lzplaintail bytes remain behind its
 * match. Literal runs move in whole words. */
constexpr size_t lzplaintail = 11;

template <bool exact>
int32_t lzfast(const uint8_t *src, size_t srcsize, uint8_t *dst, size_t size, size_t &ip,
               size_t &op) {
    size_t i = ip;
    size_t o = op;
    int32_t err = 0;
    if (srcsize < lzmargin || size < lzmargin) {
        return 0;
    }
    const size_t ilast = srcsize - lzmargin;
    const size_t olast = size - lzmargin;
    while (i <= ilast && o <= olast) {
        const uint8_t *in = src + i;
        const uint32_t b0 = in[0];
        size_t lits;
        size_t dist;
        size_t len;
        if (b0 < 0xE0) {
            /* The margin covers the 4-byte read whatever the command's length. */
            const uint32_t w = getbe32(in);
            /* The next command's position waits only on these shifts, not on a table
             * load: command length and literal field by b0 >> 6 (0 and 1: 2 bytes, 2: 3
             * bytes with the literals in b1, 3: 4 bytes). */
            const uint32_t k = (b0 >> 6) * 8;
            lits = (w >> ((0x18161818u >> k) & 0xFF)) & 3;
            i += (0x04030202u >> k) & 0xFF;
            const lzform &f = lzforms[b0];
            dist = f.disthigh + ((w >> f.distshift) & f.distmask) + 1;
            len = f.lenbase + (w & f.lenmask);
        } else if (b0 < 0xFC) {
            lits = ((b0 & 0x1F) + 1) * 4;
            i += 1;
            size_t k = 0;
            if (exact) {
                for (; k < lits; k += 16) {
                    memcpy(dst + o + k, src + i + k, 16);
                }
            } else {
                /* Whole words: the run is a multiple of 4, so nothing past it is read. */
                for (; lits - k >= 16; k += 16) {
                    memcpy(dst + o + k, src + i + k, 16);
                }
                for (; k < lits; k += 4) {
                    memcpy(dst + o + k, src + i + k, 4);
                }
            }
            i += lits;
            o += lits;
            continue;
        } else {
            break;
        }
        if (exact || size - o >= lits + len + lzplaintail) {
            memcpy(dst + o, src + i, 4);
        } else if (lits != 0) {
            dst[o] = src[i];
            if (lits > 1) {
                dst[o + 1] = src[i + 1];
                if (lits > 2) {
                    dst[o + 2] = src[i + 2];
                }
            }
        }
        i += lits;
        o += lits;
        if (dist > o) {
            err = UNPACK_EMALFORMED;
            break;
        }
        /* The margin less 3 literals covers the overrun of any 2- or 3-byte command's
         * match (at most 67 bytes); only a long one needs the room checked. */
        if (len <= lzmargin - 3 - lzoverrun || size - o >= len + lzoverrun) {
            lzmatchwide(dst + o, dist, len);
        } else {
            /* Only a long 4-byte-command match gets here: it may still fit exactly. */
            if (size - o < len) {
                err = UNPACK_EOVERFLOW;
                break;
            }
            uint8_t *d = dst + o;
            const uint8_t *s = d - dist;
            for (size_t k = 0; k < len; k++) {
                d[k] = s[k];
            }
        }
        o += len;
    }
    ip = i;
    op = o;
    return err;
}

int32_t lzcore(const uint8_t *src, size_t srcsize, uint8_t *dst, size_t capacity) {
    const bool exact = srcsize != unlimited;
    int32_t err = UNPACK_ETRUNCATED;
    size_t ip = 0;
    size_t op = 0;
    size_t size = 0;
    if (dst == nullptr) {
        capacity = 0;
    }
    if (src == nullptr || srcsize < 2) {
        goto fail;
    }
    ip = sizeoffset(src);
    if (ip > srcsize || srcsize - ip < 3) {
        goto fail;
    }
    size = getbe24(src + ip);
    ip += 3;
    if (size > capacity) {
        err = UNPACK_EOVERFLOW;
        goto fail;
    }
    err = exact ? lzfast<true>(src, srcsize, dst, size, ip, op)
                : lzfast<false>(src, srcsize, dst, size, ip, op);
    if (err != 0) {
        goto fail;
    }
    for (;;) {
        if (ip >= srcsize) {
            err = UNPACK_ETRUNCATED;
            goto fail;
        }
        const uint32_t b0 = src[ip];
        size_t cmdlen = 1;
        size_t lits;
        size_t dist = 0;
        size_t len = 0;
        if (b0 < 0xE0) {
            cmdlen = b0 < 0x80 ? 2 : (b0 < 0xC0 ? 3 : 4);
            if (srcsize - ip < cmdlen) {
                err = UNPACK_ETRUNCATED;
                goto fail;
            }
            const uint32_t b1 = src[ip + 1];
            if (b0 < 0x80) {
                lits = b0 & 3;
                dist = ((b0 & 0x60) << 3) + b1 + 1;
                len = ((b0 >> 2) & 7) + 3;
            } else if (b0 < 0xC0) {
                lits = b1 >> 6;
                dist = ((b1 & 0x3F) << 8) + src[ip + 2] + 1;
                len = (b0 & 0x3F) + 4;
            } else {
                lits = b0 & 3;
                dist = ((b0 & 0x10) << 12) + (b1 << 8) + src[ip + 2] + 1;
                len = ((b0 & 0x0C) << 6) + src[ip + 3] + 5;
            }
        } else if (b0 < 0xFC) {
            lits = ((b0 & 0x1F) + 1) * 4;
        } else {
            lits = b0 & 3;
        }
        if (srcsize - ip - cmdlen < lits) {
            err = UNPACK_ETRUNCATED;
            goto fail;
        }
        if (size - op < lits) {
            err = UNPACK_EOVERFLOW;
            goto fail;
        }
        ip += cmdlen;
        /* A short literal run moves as one word where the source is known to hold it and
         * the room below the declared end covers it; the extra bytes are rewritten later.
         * A plain call does not know where the source ends, and the end command's
         * literals are the stream's last bytes, so it copies them exactly. */
        if (lits <= 3 && exact && srcsize - ip >= 4 && size - op >= 4) {
            memcpy(dst + op, src + ip, 4);
        } else if (lits > 3) {
            memcpy(dst + op, src + ip, lits);
        } else {
            for (size_t i = 0; i < lits; i++) {
                dst[op + i] = src[ip + i];
            }
        }
        ip += lits;
        op += lits;
        if (b0 >= 0xFC) {
            break;
        }
        if (len == 0) {
            continue;
        }
        if (dist > op) {
            err = UNPACK_EMALFORMED;
            goto fail;
        }
        if (size - op < len) {
            err = UNPACK_EOVERFLOW;
            goto fail;
        }
        uint8_t *d = dst + op;
        const uint8_t *s = d - dist;
        if (dist >= 8 && size - op >= len + 8) {
            /* Each 8-byte step reads only bytes written before it. */
            for (size_t i = 0; i < len; i += 8) {
                memcpy(d + i, s + i, 8);
            }
        } else if (dist == 1) {
            memset(d, s[0], len);
        } else {
            for (size_t i = 0; i < len; i++) {
                d[i] = s[i];
            }
        }
        op += len;
    }
    if (op != size) {
        err = UNPACK_EMALFORMED;
        goto fail;
    }
    return static_cast<int32_t>(size);
fail:
    return err;
}

/* ---- Huffman with escape runs ----------------------------------------------------------
 *
 * One bit stream, most significant bit first, in 16-bit big-endian units:
 *
 *   header word 16 | [skipped 24] | size 24 | escape 8 | counts per length (getnum) ...
 *   | symbol list (getnum each) | codes ... escape 0 1 (end)
 *
 * The reader loads a unit only when the bits it holds cannot answer the question at hand,
 * so it never reads past the unit that holds the end code (a plain call with an unlimited
 * source reads exactly the stream).
 *
 * The decoder is split like the LZ one: huffread builds the tables, hufffast and
 * hufffastplain decode plain symbols while the buffers have room, huffstep takes one code
 * the careful way (escapes, long codes, both ends), and hufffilter applies the running
 * sums.
 */
struct bitreader {
    const uint8_t *src;
    size_t size;
    size_t ip;
    uint64_t buf;   /* unconsumed bits, left-aligned */
    uint32_t count; /* number of them: at most 64, and below 48 when one unit is loaded */
};

bool loadunit(bitreader &r) {
    if (r.size - r.ip < 2) {
        return false;
    }
    const uint64_t unit = (static_cast<uint32_t>(r.src[r.ip]) << 8) | r.src[r.ip + 1];
    r.buf |= unit << (48 - r.count);
    r.ip += 2;
    r.count += 16;
    return true;
}

bool ensure(bitreader &r, uint32_t n) {
    while (r.count < n) {
        if (!loadunit(r)) {
            return false;
        }
    }
    return true;
}

/* n (1 to 32) bits as a number, or false at the end of the source. */
bool getbits(bitreader &r, uint32_t n, uint32_t &value) {
    if (!ensure(r, n)) {
        return false;
    }
    value = static_cast<uint32_t>(r.buf >> (64 - n));
    r.buf <<= n;
    r.count -= n;
    return true;
}

/* Variable-length number:  1 a b -> 0..3;  z zeros, 1, then z+2 bits v (z+3 bits from
 * z = 16 on) -> v + 2^n - 4. More than 28 zeros would not fit 32 bits: malformed. */
int32_t getnum(bitreader &r, uint32_t &value) {
    uint32_t zeros = 0;
    for (;;) {
        if (r.count == 0 && !loadunit(r)) {
            return UNPACK_ETRUNCATED;
        }
        const uint32_t lead = static_cast<uint32_t>(std::countl_zero(r.buf));
        if (lead < r.count) {
            zeros += lead;
            r.buf <<= lead;
            r.count -= lead;
            break;
        }
        zeros += r.count;
        r.buf = 0;
        r.count = 0;
        if (zeros > 28) {
            return UNPACK_EMALFORMED;
        }
    }
    if (zeros > 28) {
        return UNPACK_EMALFORMED;
    }
    uint32_t v = 0;
    if (zeros == 0) {
        if (!getbits(r, 3, v)) {
            return UNPACK_ETRUNCATED;
        }
        value = v - 4;
        return 0;
    }
    const uint32_t n = zeros <= 15 ? zeros + 2 : zeros + 3;
    r.buf <<= 1; /* the 1 that ends the zeros */
    r.count -= 1;
    if (!getbits(r, n, v)) {
        return UNPACK_ETRUNCATED;
    }
    value = v + (1u << n) - 4;
    return 0;
}

/* First-level look-up over the next huffbits bits of the stream, one word per entry:
 *
 *   31      24 23      16 15       8 7   6 5      0
 *   | third   | second   | first    | count | bits  |
 *
 * count (1 to 3) plain symbols, first to third, whose codes take bits together; each
 * further symbol is added while its whole code fits the bits left. count 0 with bits is
 * the escape's code (first is the escape); a word of 0 starts a code longer than huffbits,
 * found by searching the per-length limits. bits sits at the bottom so that it is the
 * shift count as it stands. */
constexpr uint32_t huffbits = 11;

/* Room the fast loop needs before a step: one 8-byte load of source, and three entries'
 * output written four bytes at a time (at most 3 + 3 + 3 + 4 bytes). */
constexpr size_t huffsrcroom = 8;
constexpr size_t huffdstroom = 16;

/* Longest run number the fast loop reads itself: 6 zeros, so 15 bits and runs of up to
 * 2^8 + 251 bytes; longer runs are rare enough for the careful steps. */
constexpr uint32_t hufffastzeros = 6;

/* What the stream's head says: header word, size, escape, and the code in three forms
 * (per-length base and limit for long codes, the symbol list, the first-level table). */
struct huffcode {
    uint32_t header;
    uint32_t size;
    uint32_t escape;
    uint32_t maxlen;
    uint32_t total;
    int32_t base[17];
    uint32_t limit[17];
    uint32_t counts[17];
    uint8_t list[256];
    uint8_t symlen[256];            /* code length of each symbol in the table */
    uint32_t table[1u << huffbits]; /* see huffbits */
};

/* Counts per length until the code space is full; code is the next free code. */
int32_t huffcounts(bitreader &r, huffcode &c) {
    uint32_t code = 0;
    for (uint32_t len = 1;; len++) {
        uint32_t count = 0;
        if (len > 16) {
            return UNPACK_EMALFORMED;
        }
        code *= 2;
        c.base[len] = static_cast<int32_t>(code) - static_cast<int32_t>(c.total);
        const int32_t err = getnum(r, count);
        if (err != 0) {
            return err;
        }
        if (count > 256 - c.total || code + count > (1u << len)) {
            return UNPACK_EMALFORMED;
        }
        c.counts[len] = count;
        c.total += count;
        code += count;
        c.limit[len] = count != 0 ? code << (16 - len) : 0;
        if (count != 0 && code == (1u << len)) {
            c.maxlen = len;
            c.limit[len] = 0x10000; /* the search always ends at the longest length */
            return 0;
        }
    }
}

/* Symbols: each is the (d+1)-th value not yet listed after the previous one. */
int32_t huffsymbols(bitreader &r, huffcode &c) {
    bool used[256] = {};
    uint32_t prev = 255;
    for (uint32_t i = 0; i < c.total; i++) {
        uint32_t d = 0;
        const int32_t err = getnum(r, d);
        if (err != 0) {
            return err;
        }
        uint32_t v = (prev + 1) & 255;
        while (used[v]) {
            v = (v + 1) & 255;
        }
        for (uint32_t step = d % (256 - i); step != 0; step--) {
            do {
                v = (v + 1) & 255;
            } while (used[v]);
        }
        used[v] = true;
        c.list[i] = static_cast<uint8_t>(v);
        prev = v;
    }
    return used[c.escape] ? 0 : UNPACK_ENOEND;
}

/* First-level table: each short code fills every entry it prefixes. Then each entry that
 * starts with a plain symbol takes the plain symbols whose codes follow inside its bits:
 * the bits below a code index the entry of the code after it. Only first symbols are read
 * there, and those never change, so the order of the pass is free. */
void hufftable(huffcode &c) {
    constexpr uint32_t entries = 1u << huffbits;
    uint32_t index = 0;
    for (uint32_t len = 1; len <= c.maxlen && len <= huffbits; len++) {
        for (uint32_t j = 0; j < c.counts[len]; j++, index++) {
            const uint32_t code = static_cast<uint32_t>(c.base[len]) + index;
            const uint32_t first = code << (huffbits - len);
            const uint32_t plain = c.list[index] != c.escape ? 1u << 6 : 0;
            const uint32_t entry = (static_cast<uint32_t>(c.list[index]) << 8) | plain | len;
            c.symlen[c.list[index]] = static_cast<uint8_t>(len);
            for (uint32_t k = 0; k < (1u << (huffbits - len)); k++) {
                c.table[first + k] = entry;
            }
        }
    }
    for (uint32_t i = 0; i < entries; i++) {
        uint32_t symbols = 0;
        uint32_t count = 0;
        uint32_t bits = 0;
        while (count < 3 && bits < huffbits) {
            const uint32_t next = c.table[(i << bits) & (entries - 1)];
            const uint32_t symbol = (next >> 8) & 0xFF;
            if ((next & 0xC0) == 0 || bits + c.symlen[symbol] > huffbits) {
                break;
            }
            symbols |= symbol << (8 * count);
            bits += c.symlen[symbol];
            count++;
        }
        if (count != 0) {
            c.table[i] = (symbols << 8) | (count << 6) | bits;
        }
    }
}

/* Reads everything before the coded data and builds the tables. Returns 0 or an UNPACK_E
 * value; a declared size above capacity is UNPACK_EOVERFLOW. */
int32_t huffread(bitreader &r, huffcode &c, size_t capacity) {
    if (!getbits(r, 16, c.header)) {
        return UNPACK_ETRUNCATED;
    }
    if ((c.header & 0x100) != 0 && !getbits(r, 24, c.size)) {
        return UNPACK_ETRUNCATED;
    }
    if (!getbits(r, 24, c.size) || !getbits(r, 8, c.escape)) {
        return UNPACK_ETRUNCATED;
    }
    if (c.size > capacity) {
        return UNPACK_EOVERFLOW;
    }
    int32_t err = huffcounts(r, c);
    if (err == 0) {
        err = huffsymbols(r, c);
    }
    if (err == 0) {
        hufftable(c);
    }
    return err;
}

/* Eight source bytes as a big-endian number: the next 64 bits of the stream. */
inline uint64_t huffload64(const uint8_t *p) {
    return (static_cast<uint64_t>(getbe32(p)) << 32) | getbe32(p + 4);
}

/* Writes the plain symbols of a table entry at d (4 bytes; the room is the caller's) and
 * returns how many there are. */
inline uint32_t putsymbols(uint8_t *d, uint32_t entry) {
    const uint32_t symbols = entry >> 8;
    if constexpr (std::endian::native == std::endian::little) {
        memcpy(d, &symbols, 4);
    } else {
        d[0] = static_cast<uint8_t>(symbols);
        d[1] = static_cast<uint8_t>(symbols >> 8);
        d[2] = static_cast<uint8_t>(symbols >> 16);
    }
    return (entry >> 6) & 3;
}

/* The fast loop for a source of known size, on locals the compiler keeps in registers,
 * while both buffers have room: plain symbols and short runs only; the escape's other
 * uses, a malformed long code and the last bytes of either buffer are left to huffstep.
 * A refill loads 64 bits and keeps whole units of them (at least 49 bits held after
 * it), so three codes of up to 16 bits need no check between them. Bits below the units
 * kept are the stream's next bits, so the next refill puts the same bits there again. */
void hufffast(const huffcode &c, bitreader &r, uint8_t *dst, size_t &op) {
    const size_t size = c.size;
    uint64_t buf = r.buf;
    uint32_t held = r.count;
    size_t at = r.ip;
    size_t o = op;
    while (size - o >= huffdstroom && r.size - at >= huffsrcroom) {
        if (held <= 48) {
            buf |= huffload64(r.src + at) >> held;
            const uint32_t units = (64 - held) >> 4;
            at += 2 * units;
            held += 16 * units;
        }
        for (uint32_t step = 0; step < 3; step++) {
            const uint32_t entry = c.table[buf >> (64 - huffbits)];
            if ((entry & 0xC0) != 0) {
                o += putsymbols(dst + o, entry);
                buf <<= entry & 63;
                held -= entry & 63;
                continue;
            }
            if (entry != 0) {
                /* The escape and a run of up to 2^8 + 251 bytes: a number of z zeros (0
                 * to hufffastzeros), a 1 and z + 2 bits (2 bits for z 0) is, as the
                 * 2z + 3 bits it takes, the value + 4. Longer numbers, the end, literals
                 * and a run without room go the careful way. */
                const uint32_t esclen = entry & 63;
                const uint64_t number = buf << esclen;
                const uint32_t zeros = static_cast<uint32_t>(std::countl_zero(number));
                if (zeros > hufffastzeros) {
                    goto done;
                }
                const uint32_t numlen = 2 * zeros + 3;
                const uint32_t run = static_cast<uint32_t>(number >> (64 - numlen)) - 4;
                if (esclen + numlen > held || run == 0 || o == 0 || size - o < run + huffdstroom) {
                    goto done;
                }
                const uint64_t fill = 0x0101010101010101ull * dst[o - 1];
                for (uint32_t k = 0; k < run; k += 8) {
                    memcpy(dst + o + k, &fill, 8);
                }
                o += run;
                buf <<= esclen + numlen;
                held -= esclen + numlen;
                break; /* up to 26 bits taken: refill */
            }
            const uint32_t bits = static_cast<uint32_t>(buf >> 48);
            uint32_t longlen = huffbits + 1;
            while (longlen < c.maxlen && bits >= c.limit[longlen]) {
                longlen++;
            }
            const uint32_t slot = static_cast<uint32_t>(
                static_cast<int32_t>(bits >> (16 - longlen)) - c.base[longlen]);
            if (slot >= c.total || c.list[slot] == c.escape) {
                goto done;
            }
            dst[o++] = c.list[slot];
            buf <<= longlen;
            held -= longlen;
        }
    }
done:
    /* huffstep expects nothing but zeros below the bits held. */
    r.buf = held != 0 ? buf & (~0ull << (64 - held)) : 0;
    r.count = held;
    r.ip = at;
    op = o;
}

/* The fast loop of a plain call, which cannot see where the source ends: a unit is
 * loaded only when an entry takes more bits than are held, as huffstep does. Below the
 * bits held are zeros, not stream bits, but a code read from them makes the entry longer
 * than the bits held (codes are prefix-free): whenever an entry does not fit, something
 * of the stream still lies in the next unit. */
void hufffastplain(const huffcode &c, bitreader &r, uint8_t *dst, size_t &op) {
    uint64_t buf = r.buf;
    uint32_t held = r.count;
    size_t at = r.ip;
    size_t o = op;
    while (c.size - o >= huffdstroom) {
        const uint32_t entry = c.table[buf >> (64 - huffbits)];
        if ((entry & 0xC0) == 0) {
            break; /* the escape or a long code */
        }
        if ((entry & 63) > held) {
            const uint64_t unit = (static_cast<uint32_t>(r.src[at]) << 8) | r.src[at + 1];
            buf |= unit << (48 - held);
            at += 2;
            held += 16;
            continue;
        }
        o += putsymbols(dst + o, entry);
        buf <<= entry & 63;
        held -= entry & 63;
    }
    r.buf = buf;
    r.count = held;
    r.ip = at;
    op = o;
}

/* Decodes one code unit by unit and acts on it: a plain symbol, an escape with its run,
 * literal or end. Returns 0 to go on, 1 at the end code, or an UNPACK_E value. */
int32_t huffstep(const huffcode &c, bitreader &r, uint8_t *dst, size_t &op) {
    uint32_t len = 0;
    uint32_t symbol = 0;
    for (;;) {
        const uint32_t entry = c.table[r.buf >> (64 - huffbits)];
        if (entry != 0) {
            symbol = (entry >> 8) & 0xFF;
            len = c.symlen[symbol];
        } else {
            const uint32_t bits = static_cast<uint32_t>(r.buf >> 48);
            len = huffbits + 1;
            while (len < c.maxlen && bits >= c.limit[len]) {
                len++;
            }
            const int64_t index = static_cast<int64_t>(bits >> (16 - len)) - c.base[len];
            if (index < 0 || index >= static_cast<int64_t>(c.total)) {
                return UNPACK_EMALFORMED;
            }
            symbol = c.list[index];
        }
        if (len <= r.count) {
            break;
        }
        if (!loadunit(r)) {
            return UNPACK_ETRUNCATED;
        }
    }
    r.buf <<= len;
    r.count -= len;
    if (symbol != c.escape) {
        if (op >= c.size) {
            return UNPACK_EOVERFLOW;
        }
        dst[op++] = static_cast<uint8_t>(symbol);
        return 0;
    }
    uint32_t run = 0;
    const int32_t err = getnum(r, run);
    if (err != 0) {
        return err;
    }
    if (run != 0) {
        if (op == 0) {
            return UNPACK_EMALFORMED; /* nothing to repeat */
        }
        if (c.size - op < run) {
            return UNPACK_EOVERFLOW;
        }
        memset(dst + op, dst[op - 1], run);
        op += run;
        return 0;
    }
    uint32_t flag = 0;
    uint32_t literal = 0;
    if (!getbits(r, 1, flag)) {
        return UNPACK_ETRUNCATED;
    }
    if (flag != 0) {
        return 1;
    }
    if (!getbits(r, 8, literal)) {
        return UNPACK_ETRUNCATED;
    }
    if (op >= c.size) {
        return UNPACK_EOVERFLOW;
    }
    dst[op++] = static_cast<uint8_t>(literal);
    return 0;
}

/* Running sums for sampled data over the first size bytes, chosen by the header word with
 * code bit 0 cleared. */
void hufffilter(uint32_t header, uint8_t *dst, size_t size) {
    if ((header & 0xFEFF) == 0x32FB) {
        uint8_t s = 0;
        for (size_t i = 0; i < size; i++) {
            s = static_cast<uint8_t>(s + dst[i]);
            dst[i] = s;
        }
    } else if ((header & 0xFEFF) == 0x34FB) {
        uint8_t s1 = 0;
        uint8_t s2 = 0;
        for (size_t i = 0; i < size; i++) {
            s1 = static_cast<uint8_t>(s1 + dst[i]);
            s2 = static_cast<uint8_t>(s2 + s1);
            dst[i] = s2;
        }
    }
}

/* With trusted false (the bounded form) a stream that ends before its declared size is
 * UNPACK_EMALFORMED: the bytes it did not write are not its own to vouch for. With
 * trusted true (the plain entry points) the decoder stops only at the end code, and the
 * filter then runs over the whole declared size, on whatever the destination holds past
 * the decoded bytes. */
int32_t huffcore(const uint8_t *src, size_t srcsize, uint8_t *dst, size_t capacity, bool trusted) {
    bitreader r = {src, srcsize, 0, 0, 0};
    huffcode c = {};
    size_t op = 0;
    if (dst == nullptr) {
        capacity = 0;
    }
    if (src == nullptr) {
        return UNPACK_ETRUNCATED;
    }
    int32_t err = huffread(r, c, capacity);
    while (err == 0) {
        if (srcsize != unlimited) {
            hufffast(c, r, dst, op);
        } else {
            hufffastplain(c, r, dst, op);
        }
        err = huffstep(c, r, dst, op);
    }
    if (err < 0) {
        return err;
    }
    if (op != c.size && !trusted) {
        return UNPACK_EMALFORMED;
    }
    hufffilter(c.header, dst, c.size);
    return static_cast<int32_t>(c.size);
}

/* ---- Run-length ------------------------------------------------------------------------
 *
 *   code sig size[3] | c [data] | c [data] ...      n = c & 0x3F, operation c >> 6:
 *   0: n bytes copied   1: v, n copies (v is the new fill byte)   2: n copies of the fill
 *   3: f, then n/2 bytes: f and n-1 bytes (f & 0xF0) | nibble, high nibble first
 *
 * Decision: operation 3 with n = 0 reads f and writes nothing, as n counts all it writes.
 * A run that passes the declared size is refused rather than cut.
 */
int32_t rlecore(const uint8_t *src, size_t srcsize, uint8_t *dst, size_t capacity) {
    int32_t err = UNPACK_ETRUNCATED;
    size_t ip = 5;
    size_t op = 0;
    size_t size = 0;
    uint8_t fill = 0;
    if (dst == nullptr) {
        capacity = 0;
    }
    if (src == nullptr || srcsize < 5) {
        goto fail;
    }
    size = getbe24(src + 2);
    if (size > capacity) {
        err = UNPACK_EOVERFLOW;
        goto fail;
    }
    while (op < size) {
        if (ip >= srcsize) {
            err = UNPACK_ETRUNCATED;
            goto fail;
        }
        const uint32_t c = src[ip++];
        const size_t n = c & 0x3F;
        const uint32_t operation = c >> 6;
        const size_t in = operation == 0 ? n : (operation == 3 ? 1 + n / 2 : (operation & 1));
        if (srcsize - ip < in) {
            err = UNPACK_ETRUNCATED;
            goto fail;
        }
        if (size - op < n) {
            err = UNPACK_EOVERFLOW;
            goto fail;
        }
        if (operation == 0) {
            if (n != 0) {
                memcpy(dst + op, src + ip, n);
            }
        } else if (operation == 1) {
            fill = src[ip];
            memset(dst + op, fill, n);
        } else if (operation == 2) {
            memset(dst + op, fill, n);
        } else if (n != 0) {
            const uint8_t f = src[ip];
            dst[op] = f;
            for (size_t i = 1; i < n; i++) {
                const uint8_t packed = src[ip + 1 + (i - 1) / 2];
                const uint8_t nibble = (i & 1) != 0 ? packed >> 4 : packed & 0x0F;
                dst[op + i] = static_cast<uint8_t>((f & 0xF0) | nibble);
            }
        }
        ip += in;
        op += n;
    }
    return static_cast<int32_t>(size);
fail:
    return err;
}

/* ---- Byte pairs ------------------------------------------------------------------------
 *
 *   code sig [3 skipped, only for 47 FB] size[3] | e | k | k x (p, first, second) | coded
 *   bytes ... e 00
 *
 * Pairs expand through an explicit stack in the call. An acyclic pair table nests at most
 * 256 deep; deeper means a pair that contains itself, which is malformed.
 */
enum : uint8_t { roleliteral, roleescape, rolepair };

int32_t paircore(const uint8_t *src, size_t srcsize, uint8_t *dst, size_t capacity) {
    int32_t err = UNPACK_ETRUNCATED;
    size_t ip = 2;
    size_t op = 0;
    size_t size = 0;
    uint32_t escape = 0;
    uint32_t pairs = 0;
    uint8_t role[256] = {};
    uint8_t first[256];
    uint8_t second[256];
    uint8_t stack[260];
    if (dst == nullptr) {
        capacity = 0;
    }
    if (src == nullptr || srcsize < 2) {
        goto fail;
    }
    if (src[0] == 0x47 && src[1] == 0xFB) {
        ip = 5;
    }
    if (ip > srcsize || srcsize - ip < 5) {
        goto fail;
    }
    size = getbe24(src + ip);
    escape = src[ip + 3];
    pairs = src[ip + 4];
    ip += 5;
    if (size > capacity) {
        err = UNPACK_EOVERFLOW;
        goto fail;
    }
    if (srcsize - ip < 3 * static_cast<size_t>(pairs)) {
        goto fail;
    }
    role[escape] = roleescape;
    for (uint32_t i = 0; i < pairs; i++, ip += 3) {
        const uint8_t p = src[ip];
        role[p] = rolepair;
        first[p] = src[ip + 1];
        second[p] = src[ip + 2];
    }
    if (role[escape] != roleescape) {
        err = UNPACK_ENOEND; /* the escape became a pair: nothing can end the stream */
        goto fail;
    }
    for (;;) {
        if (ip >= srcsize) {
            err = UNPACK_ETRUNCATED;
            goto fail;
        }
        const uint8_t b = src[ip++];
        if (role[b] == roleliteral) {
            if (op >= size) {
                err = UNPACK_EOVERFLOW;
                goto fail;
            }
            dst[op++] = b;
        } else if (role[b] == roleescape) {
            if (ip >= srcsize) {
                err = UNPACK_ETRUNCATED;
                goto fail;
            }
            const uint8_t x = src[ip++];
            if (x == 0) {
                break;
            }
            if (op >= size) {
                err = UNPACK_EOVERFLOW;
                goto fail;
            }
            dst[op++] = x;
        } else {
            size_t depth = 0;
            stack[depth++] = b;
            while (depth != 0) {
                const uint8_t x = stack[--depth];
                if (role[x] == rolepair) {
                    if (depth + 2 > sizeof stack) {
                        err = UNPACK_EMALFORMED;
                        goto fail;
                    }
                    stack[depth++] = second[x];
                    stack[depth++] = first[x];
                } else {
                    if (op >= size) {
                        err = UNPACK_EOVERFLOW;
                        goto fail;
                    }
                    dst[op++] = x;
                }
            }
        }
    }
    if (op != size) {
        err = UNPACK_EMALFORMED;
        goto fail;
    }
    return static_cast<int32_t>(size);
fail:
    return err;
}

/* ---- 4x4 colour blocks -----------------------------------------------------------------
 *
 *   code sig size[3] unused width[2] | blocks of 8 bytes, left to right, row by row:
 *   c0 (LE 5:6:5) c1 (LE) | index byte per pixel row, pixel i = (byte >> 2i) & 3
 *
 * Every block is decoded whole into rows of width pixels, so with a width that is not a
 * multiple of 4 the last block of each row also writes the first pixels of the next row.
 * Nothing at or behind the declared size is written.
 */
constexpr uint32_t fieldmasks[3] = {0xF800, 0x07E0, 0x001F}; /* red, green, blue */

uint32_t blend(uint32_t c0, uint32_t c1, uint32_t w0, uint32_t w1) {
    uint32_t out = 0;
    for (const uint32_t mask : fieldmasks) {
        out |= (((c0 & mask) * w0 + (c1 & mask) * w1) >> 16) & mask;
    }
    return out;
}

uint32_t average(uint32_t c0, uint32_t c1) {
    uint32_t out = 0;
    for (const uint32_t mask : fieldmasks) {
        out |= (((c0 & mask) + (c1 & mask)) / 2) & mask;
    }
    return out;
}

int32_t blockcore(const uint8_t *src, size_t srcsize, uint8_t *dst, size_t capacity) {
    int32_t err = UNPACK_ETRUNCATED;
    size_t size = 0;
    size_t width = 0;
    size_t pitch = 0;
    size_t blockrows = 0;
    size_t across = 0;
    size_t ip = 8;
    if (dst == nullptr) {
        capacity = 0;
    }
    if (src == nullptr || srcsize < 8) {
        goto fail;
    }
    size = getbe24(src + 2);
    width = (static_cast<size_t>(src[6]) << 8) | src[7];
    if (size > capacity) {
        err = UNPACK_EOVERFLOW;
        goto fail;
    }
    if (size == 0) {
        return 0;
    }
    if (width == 0) {
        err = UNPACK_EMALFORMED; /* no block would ever fill the size */
        goto fail;
    }
    pitch = width * 2;
    blockrows = (size + width * 8 - 1) / (width * 8);
    across = (width + 3) / 4;
    if ((srcsize - 8) / 8 / across < blockrows) {
        goto fail;
    }
    for (size_t row = 0; row < blockrows; row++) {
        for (size_t x = 0; x < width; x += 4, ip += 8) {
            const uint8_t *b = src + ip;
            const uint32_t c0 = b[0] | (static_cast<uint32_t>(b[1]) << 8);
            const uint32_t c1 = b[2] | (static_cast<uint32_t>(b[3]) << 8);
            uint32_t palette[4] = {c0, c1, 0, 0};
            if (c0 > c1) {
                palette[2] = blend(c0, c1, 43690, 21846);
                palette[3] = blend(c0, c1, 21846, 43690);
            } else {
                palette[2] = average(c0, c1);
            }
            /* Whole blocks at a pitch of width pixels: the columns of a row's last block
             * that pass the width land on the first pixels of the next row, over what the
             * row's first block put there. Only the declared size clips; an odd size ends
             * with the low byte of the pixel it cuts. */
            for (size_t y = 0; y < 4; y++) {
                const size_t at = (row * 4 + y) * pitch + x * 2;
                for (size_t i = 0; i < 4 && at + 2 * i < size; i++) {
                    const uint32_t pixel = palette[(b[4 + y] >> (2 * i)) & 3];
                    dst[at + 2 * i] = static_cast<uint8_t>(pixel);
                    if (size - (at + 2 * i) >= 2) {
                        dst[at + 2 * i + 1] = static_cast<uint8_t>(pixel >> 8);
                    }
                }
            }
        }
    }
    return static_cast<int32_t>(size);
fail:
    return err;
}

/* The plain entry points' result: the declared size whatever the core found, as the
 * decoders never checked their input. */
int32_t declared(const uint8_t *src, size_t offset) {
    return static_cast<int32_t>(getbe24(src + offset));
}

} // namespace

/* Decodes an LZ stream (code 0x10/0x11) into destination, which holds the declared size.
 * Returns the declared size (0 for a null source); decode 0 only reads it. Nothing behind
 * the declared end of the output changes. */
int32_t lzunpack(const void *source, void *destination, int32_t decode) {
    if (source == nullptr) {
        return 0;
    }
    const uint8_t *src = static_cast<const uint8_t *>(source);
    if (decode != 0) {
        lzcore(src, unlimited, static_cast<uint8_t *>(destination), unlimited);
    }
    return declared(src, sizeoffset(src));
}

/* Decodes a Huffman stream (codes 0x30 to 0x35) and applies its running-sum filter.
 * Returns the declared size (0 for a null source); decode 0 only reads it. */
int32_t huffunpack(const void *source, void *destination, int32_t decode) {
    if (source == nullptr) {
        return 0;
    }
    const uint8_t *src = static_cast<const uint8_t *>(source);
    if (decode != 0) {
        huffcore(src, unlimited, static_cast<uint8_t *>(destination), unlimited, true);
    }
    return declared(src, sizeoffset(src));
}

/* Decodes a run-length stream (code 0x4A/0x4B). Returns the declared size; 0 for a null
 * source. */
int32_t rleunpack(const void *source, void *destination) {
    if (source == nullptr) {
        return 0;
    }
    const uint8_t *src = static_cast<const uint8_t *>(source);
    rlecore(src, unlimited, static_cast<uint8_t *>(destination), unlimited);
    return declared(src, 2);
}

/* Decodes a byte-pair stream (code 0x46/0x47). Returns the declared size; 0 for a null
 * source. Keeps its tables in the call: threads may decode at once. */
int32_t pairunpack(const void *source, void *destination) {
    if (source == nullptr) {
        return 0;
    }
    const uint8_t *src = static_cast<const uint8_t *>(source);
    paircore(src, unlimited, static_cast<uint8_t *>(destination), unlimited);
    return declared(src, src[0] == 0x47 && src[1] == 0xFB ? 5 : 2);
}

/* Decodes a colour-block stream (code 0x18/0x19) to 5:6:5 pixels, width x 2 bytes a row.
 * Returns the declared size (0 for a null source); decode 0 only reads it. */
int32_t blockunpack(const void *source, void *destination, int32_t decode) {
    if (source == nullptr) {
        return 0;
    }
    const uint8_t *src = static_cast<const uint8_t *>(source);
    if (decode != 0) {
        blockcore(src, unlimited, static_cast<uint8_t *>(destination), unlimited);
    }
    return declared(src, 2);
}

/* Bounded forms: the declared size, or UNPACK_ETRUNCATED / EOVERFLOW / EMALFORMED /
 * ENOEND. They read only [source, source + sourcesize) and write only below
 * min(declared size, capacity); a declared size above capacity writes nothing. */
int32_t lzunpackbounded(const void *source, size_t sourcesize, void *destination, size_t capacity) {
    return lzcore(static_cast<const uint8_t *>(source), sourcesize,
                  static_cast<uint8_t *>(destination), capacity);
}

int32_t huffunpackbounded(const void *source, size_t sourcesize, void *destination,
                          size_t capacity) {
    return huffcore(static_cast<const uint8_t *>(source), sourcesize,
                    static_cast<uint8_t *>(destination), capacity, false);
}

int32_t huffunpacktrusted(const void *source, void *destination, size_t capacity) {
    return huffcore(static_cast<const uint8_t *>(source), unlimited,
                    static_cast<uint8_t *>(destination), capacity, true);
}

int32_t rleunpackbounded(const void *source, size_t sourcesize, void *destination,
                         size_t capacity) {
    return rlecore(static_cast<const uint8_t *>(source), sourcesize,
                   static_cast<uint8_t *>(destination), capacity);
}

int32_t pairunpackbounded(const void *source, size_t sourcesize, void *destination,
                          size_t capacity) {
    return paircore(static_cast<const uint8_t *>(source), sourcesize,
                    static_cast<uint8_t *>(destination), capacity);
}

int32_t blockunpackbounded(const void *source, size_t sourcesize, void *destination,
                           size_t capacity) {
    return blockcore(static_cast<const uint8_t *>(source), sourcesize,
                     static_cast<uint8_t *>(destination), capacity);
}
