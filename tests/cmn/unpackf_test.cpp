// unpackf_test - the five decoders against hand-built streams for what the encoders never
// write: refused and malformed LZ streams, a Huffman symbol-list number past the free
// values, filters turned off by the signature, early ends and wide-loop runs, run-length
// and byte-pair corner cases, both colour-block modes and the block layout; and the
// bounded forms on truncated streams, small destinations and malformed tables. The round
// trips cover the streams the encoders write; the fuzz replays check every decoder's
// refusal of a destination one byte short.
#include "thistle/unpack.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using bytes = std::vector<uint8_t>;

bytes header(uint8_t code, uint8_t sig, uint32_t size) {
    return {code, sig, uint8_t(size >> 16), uint8_t(size >> 8), uint8_t(size)};
}

void append(bytes &b, const bytes &more) {
    b.insert(b.end(), more.begin(), more.end());
}

bytes operator+(bytes a, const bytes &b) {
    append(a, b);
    return a;
}

// Decodes with a bounded core into a destination of exactly `capacity` bytes followed by
// guard bytes, from a heap copy of exactly the stream's size (so ASan sees every overread).
// The guards must survive whatever the result.
using bounded = int32_t (*)(const void *, size_t, void *, size_t);
struct decoded {
    int32_t result;
    bytes out;
};
decoded runbounded(bounded fn, const bytes &stream, size_t capacity) {
    auto src = std::make_unique<uint8_t[]>(stream.size() + 1);
    if (!stream.empty()) {
        std::memcpy(src.get(), stream.data(), stream.size());
    }
    bytes dst(capacity + 16, 0xA5);
    decoded d;
    d.result = fn(src.get(), stream.size(), dst.data(), capacity);
    for (size_t i = capacity; i < dst.size(); i++) {
        EXPECT_EQ(dst[i], 0xA5) << "guard byte " << i - capacity << " changed";
    }
    d.out.assign(dst.begin(), dst.begin() + capacity);
    if (d.result >= 0) {
        d.out.resize(size_t(d.result));
    }
    return d;
}

// The bounded decoder must give exactly `expect`, and so must the plain one when given.
using plain = int32_t (*)(const void *, void *);
void expectdecodes(bounded fn, const bytes &s, const bytes &expect, plain full = nullptr) {
    decoded d = runbounded(fn, s, expect.size());
    EXPECT_EQ(d.result, int32_t(expect.size()));
    EXPECT_EQ(d.out, expect);
    if (full != nullptr) {
        bytes out(expect.size());
        EXPECT_EQ(full(s.data(), out.data()), int32_t(expect.size()));
        EXPECT_EQ(out, expect);
    }
}
const plain hufffull = [](const void *s, void *d) { return huffunpack(s, d, 1); };

// Every proper prefix of a valid stream is truncated; never a crash or an overread.
void expecttruncatedprefixes(bounded fn, const bytes &stream, size_t capacity) {
    for (size_t n = 0; n < stream.size(); n++) {
        bytes prefix(stream.begin(), stream.begin() + n);
        EXPECT_EQ(runbounded(fn, prefix, capacity).result, UNPACK_ETRUNCATED) << "prefix " << n;
    }
}

// ---- LZ -----------------------------------------------------------------------------

// The encoder writes no 3-byte match longer than 34 bytes: the length's top bit, here.
TEST(LzUnpack, LongestThreeByteMatch) {
    // 3 literals, distance 4
    bytes s = header(0x10, 0xFB, 7 + 67) + bytes{0xE0, 1, 2, 3, 4, 0xBF, 0xC0, 0x03, 9, 8, 7, 0xFC};
    bytes expect = {1, 2, 3, 4, 9, 8, 7};
    for (int i = 0; i < 67; i++) {
        expect.push_back(expect[expect.size() - 4]);
    }
    expectdecodes(lzunpackbounded, s, expect);
}

TEST(LzUnpackBounded, RefusesBadStreams) {
    // 4 literals, then length 8 at distance 4 (a byte code of 3; 4 is distance 5).
    auto lz = [](uint32_t size, uint8_t distance) {
        return header(0x10, 0xFB, size) + bytes{0xE0, 1, 2, 3, 4, 0x14, distance, 0xFC};
    };
    bytes good = lz(12, 0x03);
    ASSERT_EQ(runbounded(lzunpackbounded, good, 12).result, 12);
    expecttruncatedprefixes(lzunpackbounded, good, 12);
    EXPECT_EQ(runbounded(lzunpackbounded, lz(12, 0x04), 12).result, UNPACK_EMALFORMED);
    bytes longer = lz(10, 0x03); // the match runs past the declared size
    EXPECT_EQ(runbounded(lzunpackbounded, longer, 64).result, UNPACK_EOVERFLOW);
    EXPECT_EQ(runbounded(lzunpackbounded, lz(13, 0x03), 64).result, UNPACK_EMALFORMED); // short

    // Plain decoding of the over-long stream still stops at its declared end.
    bytes out(16, 0xCC);
    EXPECT_EQ(lzunpack(longer.data(), out.data(), 1), 10);
    EXPECT_EQ(out[10], 0xCC);
    EXPECT_EQ(lzunpack(nullptr, nullptr, 1), 0);
}

// ---- Huffman ---------------------------------------------------------------------------

struct bitwriter {
    bytes out;
    uint32_t acc = 0;
    int n = 0;
    void put(uint32_t v, int bits) {
        for (int i = bits - 1; i >= 0; i--) {
            acc = (acc << 1) | ((v >> i) & 1);
            if (++n == 16) {
                out.push_back(uint8_t(acc >> 8));
                out.push_back(uint8_t(acc));
                acc = 0;
                n = 0;
            }
        }
    }
    void bits(const char *s) {
        for (; *s; s++) {
            put(*s == '1', 1);
        }
    }
    // Variable-length number: 1ab for 0..3, else z zeros, 1, n bits.
    void num(uint32_t v) {
        if (v < 4) {
            put(4 + v, 3);
            return;
        }
        for (int z = 1;; z++) {
            int nb = z <= 15 ? z + 2 : z + 3;
            uint64_t lo = (1ull << nb) - 4;
            if (v < lo + (1ull << nb)) {
                put(0, z);
                put(1, 1);
                put(uint32_t(v - lo), nb);
                return;
            }
        }
    }
    bytes finish() {
        while (n != 0) {
            put(0, 1);
        }
        return out;
    }
};

// A code given as symbols with their lengths, in list order (lengths not decreasing).
struct huffcode {
    std::vector<std::pair<uint8_t, int>> symbols;
    uint32_t codeof[256] = {};
    int lenof[256] = {};
};

// Writes header, counts and symbol list; fills in the canonical codes.
void writetable(bitwriter &w, huffcode &c, uint16_t headerword, uint32_t size, uint8_t escape) {
    w.put(headerword, 16);
    if (headerword & 0x100) {
        w.put(0xABCDEF, 24);
    }
    w.put(size, 24);
    w.put(escape, 8);
    int maxlen = c.symbols.back().second;
    uint32_t code = 0;
    size_t at = 0;
    for (int len = 1; len <= maxlen; len++) {
        code <<= 1;
        uint32_t count = 0;
        while (at < c.symbols.size() && c.symbols[at].second == len) {
            c.codeof[c.symbols[at].first] = code++;
            c.lenof[c.symbols[at].first] = len;
            at++;
            count++;
        }
        w.num(count);
    }
    bool used[256] = {};
    int prev = 255;
    for (auto &[sym, len] : c.symbols) {
        uint32_t d = 0;
        for (int v = (prev + 1) & 255; v != sym; v = (v + 1) & 255) {
            d += !used[v];
        }
        w.num(d);
        used[sym] = true;
        prev = sym;
    }
}

void sym(bitwriter &w, const huffcode &c, uint8_t s) {
    w.put(c.codeof[s], c.lenof[s]);
}

// Escape 0xFF with a 2-bit code; 'a' 'b' 2 bits, 'c' 3, 'd' 3.
huffcode smallcode() {
    huffcode c;
    c.symbols = {{'a', 2}, {'b', 2}, {0xFF, 2}, {'c', 3}, {'d', 3}};
    return c;
}

void endstream(bitwriter &w, const huffcode &c, uint8_t escape) {
    sym(w, c, escape);
    w.bits("100"); // r = 0
    w.bits("1");   // end
}

// A symbol-list number counts the values not listed yet, upward from the one after the
// previous symbol; one past all of them wraps around. The encoder writes every other kind
// of list number in its round trips (within a length it lists upward and wraps).
TEST(HuffUnpack, SymbolListNumberPastTheFreeValuesWraps) {
    bitwriter w;
    w.put(0x30FB, 16);
    w.put(6, 24);
    w.put(4, 8); // escape: the first listed symbol
    w.num(0);    // length 1
    w.num(2);    // length 2
    w.num(4);    // length 3: 2*2 + 4 = 8 fills
    w.num(256 + 4);
    for (int i = 0; i < 5; i++) {
        w.num(0); // 5 6 7 8 9
    }
    // codes: 00 01 | 100 101 110 111; symbols 5..9, then the escape literal 4, then the end.
    w.put(1, 2);
    for (uint32_t code : {4, 5, 6, 7}) {
        w.put(code, 3);
    }
    w.put(0, 2);
    w.bits("1000"); // r = 0, literal
    w.put(4, 8);
    w.put(0, 2);
    w.bits("1001"); // r = 0, end
    expectdecodes(huffunpackbounded, w.finish(), {5, 6, 7, 8, 9, 4});
}

// A stream of 4 bytes coded 1 -> 0, 253 -> 10, escape 0xFF -> 11, ending after `raw`.
bytes filterstream(uint16_t word, const bytes &raw) {
    huffcode c;
    c.symbols = {{1, 1}, {253, 2}, {0xFF, 2}};
    bitwriter w;
    writetable(w, c, word, 4, 0xFF);
    for (uint8_t b : raw) {
        sym(w, c, b);
    }
    endstream(w, c, 0xFF);
    return w.finish();
}

// Signature 0x32 turns the filters off; the encoder round trips cover them under 0xFB.
TEST(HuffUnpack, FiltersByHeaderWord) {
    for (uint16_t word : {0x3232, 0x3432}) {
        SCOPED_TRACE(word);
        bytes s = filterstream(word, {1, 1, 1, 253});
        expectdecodes(huffunpackbounded, s, {1, 1, 1, 253}, hufffull);
        EXPECT_EQ(huffunpack(s.data(), nullptr, 0), 4);
    }
    EXPECT_EQ(huffunpack(nullptr, nullptr, 1), 0);
}

// The end code may come before the declared size: the plain decoders stop there and still
// run the filter over the whole declared size, over whatever the destination holds past
// the decoded bytes. The bounded decoder cannot vouch for those bytes and refuses.
TEST(HuffUnpack, EarlyEndStillFiltersTheDeclaredSize) {
    struct {
        uint16_t word;
        bytes expect; // decoded 1 1, then the destination's 5 7
    } cases[] = {
        {0x30FB, {1, 1, 5, 7}},
        {0x32FB, {1, 2, 7, 14}},
        {0x35FB, {1, 3, 10, 24}},
    };
    for (auto &tc : cases) {
        SCOPED_TRACE(tc.word);
        bytes s = filterstream(tc.word, {1, 1});
        bytes plain = {9, 9, 5, 7, 0xA5};
        EXPECT_EQ(huffunpack(s.data(), plain.data(), 1), 4);
        EXPECT_EQ(plain, tc.expect + bytes{0xA5});
        bytes viaunpack = {9, 9, 5, 7, 0xA5};
        EXPECT_EQ(unpack(s.data(), viaunpack.data()), 4);
        EXPECT_EQ(viaunpack, plain);
        EXPECT_EQ(runbounded(huffunpackbounded, s, 4).result, UNPACK_EMALFORMED);
    }
}

TEST(HuffUnpackBounded, MalformedTables) {
    // Each case writes the counts and what follows after a header for 4 bytes, escape 0xFF;
    // the smallcode cases write their own table.
    struct {
        const char *name;
        std::function<void(bitwriter &)> body;
        int32_t expect;
    } cases[] = {
        {"3 codes of length 1: more than the code space", [](bitwriter &w) { w.num(3); },
         UNPACK_EMALFORMED},
        {"one code at each length: the space never fills within 16 bits",
         [](bitwriter &w) {
             for (int i = 0; i < 17; i++) {
                 w.num(1);
             }
         },
         UNPACK_EMALFORMED},
        {"a count past 256 symbols",
         [](bitwriter &w) {
             for (int len = 1; len <= 8; len++) {
                 w.num(0);
             }
             w.num(300);
         },
         UNPACK_EMALFORMED},
        {"too many zeros for any number",
         [](bitwriter &w) {
             w.put(0, 30);
             w.put(1, 1);
             w.put(0, 32);
         },
         UNPACK_EMALFORMED},
        {"the escape is not among the symbols: nothing can end the stream",
         [](bitwriter &w) {
             w.num(2);
             w.num(0);
             w.num(0);
         },
         UNPACK_ENOEND},
    };
    for (auto &tc : cases) {
        SCOPED_TRACE(tc.name);
        bitwriter w;
        w.put(0x30FB, 16);
        w.put(4, 24);
        w.put(0xFF, 8);
        tc.body(w);
        EXPECT_EQ(runbounded(huffunpackbounded, w.finish(), 4).result, tc.expect);
    }
    // A run before any output, and a run past the declared size.
    for (uint8_t first : {uint8_t(0xFF), uint8_t('a')}) {
        huffcode c = smallcode();
        bitwriter w;
        writetable(w, c, 0x30FB, 4, 0xFF);
        sym(w, c, first);
        if (first != 0xFF) {
            sym(w, c, 0xFF);
        }
        w.num(first == 0xFF ? 3 : 4);
        endstream(w, c, 0xFF);
        EXPECT_EQ(runbounded(huffunpackbounded, w.finish(), 64).result,
                  first == 0xFF ? UNPACK_EMALFORMED : UNPACK_EOVERFLOW);
    }
}

// Runs that end the output or pass the longest number the wide loop reads itself, with the
// escape at each position of a refill: the run must be written exactly up to its end.
TEST(HuffUnpackBounded, WideLoopRuns) {
    for (uint32_t run : {1u, 7u, 8u, 9u, 15u, 16u, 17u, 23u, 24u, 25u, 40u, 507u, 508u,
                         (1u << 17) - 4, (1u << 17), (1u << 19) + 1}) {
        for (uint32_t before = 20; before < 24; before++) {
            // 64 after: the declared size ends with the run and coded bytes follow it.
            for (uint32_t after : {0u, 1u, 20u, 64u}) {
                SCOPED_TRACE(std::to_string(run) + " after " + std::to_string(before) + ", then " +
                             std::to_string(after));
                huffcode c = smallcode();
                bitwriter w;
                const uint32_t size = before + run + (after == 64 ? 0 : after);
                writetable(w, c, 0x30FB, size, 0xFF);
                bytes expect;
                for (uint32_t i = 0; i < before; i++) {
                    expect.push_back("abcd"[(i * 7 + 3) % 4]);
                    sym(w, c, expect.back());
                }
                sym(w, c, 0xFF);
                w.num(run);
                expect.insert(expect.end(), run, expect.back());
                for (uint32_t i = 0; i < after; i++) {
                    expect.push_back("abcd"[i % 4]);
                    sym(w, c, expect.back());
                }
                endstream(w, c, 0xFF);
                bytes s = w.finish();
                if (after == 64) {
                    EXPECT_EQ(runbounded(huffunpackbounded, s, size).result, UNPACK_EOVERFLOW);
                    continue;
                }
                expectdecodes(huffunpackbounded, s, expect);
                EXPECT_EQ(runbounded(huffunpackbounded, s, size - 1).result, UNPACK_EOVERFLOW);
            }
        }
    }
    // Two 16-bit codes, then an 11-bit escape with a 15-bit run number: more bits than a
    // refill leaves after the two, at some phase of the bit stream against the refills.
    huffcode c;
    c.symbols = {{'a', 2}, {'b', 2}, {'c', 2}};
    for (int len = 3; len <= 16; len++) {
        c.symbols.push_back({uint8_t(0x40 + len), len});
    }
    c.symbols.push_back({0x7F, 16});
    for (uint32_t phase = 0; phase < 16; phase++) {
        SCOPED_TRACE(phase);
        bitwriter w;
        const uint32_t size = phase + 12 * (2 + 300);
        writetable(w, c, 0x30FB, size, 0x4B);
        bytes expect(phase, 'a');
        for (uint32_t i = 0; i < phase; i++) {
            sym(w, c, 'a');
        }
        for (int i = 0; i < 12; i++) {
            sym(w, c, 0x50);
            sym(w, c, 0x7F);
            sym(w, c, 0x4B);
            w.num(300);
            expect.push_back(0x50);
            expect.insert(expect.end(), 301, 0x7F);
        }
        endstream(w, c, 0x4B);
        expectdecodes(huffunpackbounded, w.finish(), expect);
    }
}

// ---- Run-length ------------------------------------------------------------------------

// The encoder's round trips cover the start fill and even nibble counts.
TEST(RleUnpack, Operations) {
    struct {
        const char *name;
        bytes runs;
        bytes expect;
    } cases[] = {
        {"nibbles, n 1", {0xC1, 0x77, 0x01, 0x66}, {0x77, 0x66}},
        {"nibbles, n 0 reads f only", {0xC0, 0x99, 0x01, 0x66}, {0x66}},
        {"fill byte carries over", {0x41, 0x05, 0x02, 1, 2, 0x81}, {5, 1, 2, 5}},
    };
    for (auto &tc : cases) {
        SCOPED_TRACE(tc.name);
        bytes s = header(0x4A, 0xFB, uint32_t(tc.expect.size())) + tc.runs;
        expectdecodes(rleunpackbounded, s, tc.expect, rleunpack);
        expecttruncatedprefixes(rleunpackbounded, s, tc.expect.size());
    }
    bytes over = header(0x4A, 0xFB, 4) + bytes{0x45, 1};
    EXPECT_EQ(runbounded(rleunpackbounded, over, 16).result, UNPACK_EOVERFLOW);
    EXPECT_EQ(runbounded(rleunpackbounded, over, 3).result, UNPACK_EOVERFLOW);
}

// ---- Byte pairs ------------------------------------------------------------------------

TEST(PairUnpack, ExpansionEscapesHeadersAndDepth) {
    // e = 0xFF; 0x80 -> a b; 0x81 -> 0x80 c.
    bytes body = {0xFF, 2, 0x80, 'a', 'b', 0x81, 0x80, 'c', 0x81, 0x41, 0xFF, 0x80, 0xFF, 0x00};
    bytes expect = {'a', 'b', 'c', 'A', 0x80};
    bytes s = header(0x46, 0xFB, 5) + body;
    expectdecodes(pairunpackbounded, s, expect, pairunpack);
    expecttruncatedprefixes(pairunpackbounded, s, 5);
    EXPECT_EQ(pairunpack(nullptr, nullptr), 0);

    // e = 0, k = 0: bytes copy, 0x00 0x01 writes 0x01, 0x00 0x00 ends.
    expectdecodes(pairunpackbounded,
                  header(0x46, 0xFB, 3) + bytes{0x00, 0, 'x', 0x00, 0x01, 0x80, 0x00, 0x00},
                  {'x', 0x01, 0x80});
    // A later definition replaces an earlier one.
    expectdecodes(pairunpackbounded,
                  header(0x46, 0xFB, 2) +
                      bytes{0xFF, 2, 0x80, 'a', 'b', 0x80, 'c', 'd', 0x80, 0xFF, 0x00},
                  {'c', 'd'});
    // Codes 1..254 nest through their first bytes, 254 deep: p -> (p - 1) 0xFF.
    bytes chain = header(0x46, 0xFB, 255) + bytes{0x00, 254};
    for (int p = 1; p <= 254; p++) {
        append(chain, {uint8_t(p), p == 1 ? uint8_t(0xFF) : uint8_t(p - 1), uint8_t(0xFF)});
    }
    expectdecodes(pairunpackbounded, chain + bytes{0xFE, 0x00, 0x00}, bytes(255, 0xFF));
}

TEST(PairUnpackBounded, MalformedTables) {
    const struct {
        uint32_t size;
        bytes body;
        int32_t result;
    } cases[] = {
        // 0x80 -> 0x81 a, 0x81 -> 0x80 b
        {8, {0xFF, 2, 0x80, 0x81, 'a', 0x81, 0x80, 'b', 0x80, 0xFF, 0x00}, UNPACK_EMALFORMED},
        // 0x80 -> a 0x80: grows without end
        {8, {0xFF, 1, 0x80, 'a', 0x80, 0x80, 0xFF, 0x00}, UNPACK_EOVERFLOW},
        // the escape redefined as a pair
        {2, {0xFF, 1, 0xFF, 'a', 'b', 0xFF, 0xFF, 0x00}, UNPACK_ENOEND},
        // ends before the declared size
        {3, {0xFF, 0, 'a', 0xFF, 0x00}, UNPACK_EMALFORMED},
    };
    for (const auto &c : cases) {
        bytes s = header(0x46, 0xFB, c.size) + c.body;
        EXPECT_EQ(runbounded(pairunpackbounded, s, c.size).result, c.result) << c.size;
    }
}

// ---- Colour blocks ---------------------------------------------------------------------

bytes blockheader(uint32_t width, uint32_t height) {
    bytes s = header(0x18, 0xFB, width * height * 2);
    append(s, {0x00, uint8_t(width >> 8), uint8_t(width)});
    return s;
}

void block(bytes &s, uint16_t c0, uint16_t c1, bytes rows) {
    append(s, {uint8_t(c0), uint8_t(c0 >> 8), uint8_t(c1), uint8_t(c1 >> 8)});
    append(s, rows);
}

uint16_t pixel(const bytes &out, size_t width, size_t x, size_t y) {
    size_t at = (y * width + x) * 2;
    return uint16_t(out[at] | (out[at + 1] << 8));
}

TEST(BlockUnpack, BothModes) {
    struct {
        const char *name;
        uint16_t c0, c1;
        uint16_t p2, p3;
    } cases[] = {
        {"red over blue: thirds", 0xF800, 0x001F, 0xA00A, 0x5014},
        {"white over black: thirds", 0xFFFF, 0x0000, 0xA534, 0x52AA},
        {"equal colours average", 0x1234, 0x1234, 0x1234, 0x0000},
        {"c0 below c1 averages fields", 0x001F, 0xF800, 0x780F, 0x0000},
        {"green fields", 0x07E0, 0x0020, 0x0540, 0x02A0},
    };
    for (auto &tc : cases) {
        SCOPED_TRACE(tc.name);
        bytes s = blockheader(4, 4);
        block(s, tc.c0, tc.c1, {0xE4, 0x1B, 0x00, 0xFF});
        decoded d = runbounded(blockunpackbounded, s, 32);
        ASSERT_EQ(d.result, 32);
        const uint16_t pal[4] = {tc.c0, tc.c1, tc.p2, tc.p3};
        for (int x = 0; x < 4; x++) {
            EXPECT_EQ(pixel(d.out, 4, x, 0), pal[x]);     // E4: 0 1 2 3
            EXPECT_EQ(pixel(d.out, 4, x, 1), pal[3 - x]); // 1B: 3 2 1 0
            EXPECT_EQ(pixel(d.out, 4, x, 2), pal[0]);
            EXPECT_EQ(pixel(d.out, 4, x, 3), pal[3]);
        }
    }
}

TEST(BlockUnpack, LayoutAndEdges) {
    // 6 x 6 pixels in blocks A B / C D. Rows are 6 pixels apart, so the last block of each
    // row writes its columns 4 to 7 as columns 4, 5 of its row and 0, 1 of the next one,
    // over what the first block put there; the next block row covers block B's spill
    // into row 4, and block D's last rows lie past the declared size.
    bytes s = blockheader(6, 6);
    const uint16_t colours[4] = {0x1111, 0x2222, 0x3333, 0x4444};
    for (uint16_t c : colours) {
        block(s, c, c, {0, 0, 0, 0}); // every pixel p0
    }
    const char *picture[6] = {"AAAABB", "BBAABB", "BBAABB", "BBAABB", "CCCCDD", "DDCCDD"};
    decoded d = runbounded(blockunpackbounded, s, 72);
    ASSERT_EQ(d.result, 72);
    bytes plain(72 + 8, 0xA5);
    EXPECT_EQ(blockunpack(s.data(), plain.data(), 1), 72);
    EXPECT_EQ(plain, d.out + bytes(8, 0xA5));
    for (size_t y = 0; y < 6; y++) {
        for (size_t x = 0; x < 6; x++) {
            EXPECT_EQ(pixel(d.out, 6, x, y), colours[picture[y][x] - 'A']) << x << "," << y;
        }
    }
    expecttruncatedprefixes(blockunpackbounded, s, 72);
    EXPECT_EQ(blockunpack(s.data(), nullptr, 0), 72);

    bytes zerowidth = blockheader(0, 4);
    zerowidth[4] = 8;
    EXPECT_EQ(runbounded(blockunpackbounded, zerowidth, 64).result, UNPACK_EMALFORMED);

    // An odd declared size ends inside a pixel: every byte up to it is written, the last
    // one being that pixel's low byte.
    bytes odd = blockheader(4, 4);
    odd[2] = 0;
    odd[3] = 0;
    odd[4] = 3;
    block(odd, 0xA1B2, 0xA1B2, {0, 0, 0, 0});
    expectdecodes(blockunpackbounded, odd, {0xB2, 0xA1, 0xB2});
}

TEST(UnpackBounded, LongHeaderShorterThanItsSizeField) {
    // The long form puts the size 3 bytes later; a source that ends before it is
    // truncated, not read past.
    for (const bytes &s :
         {bytes{0x11, 0xFB, 0x00}, bytes{0x11, 0xFB, 0, 0, 0, 0, 0}, bytes{0x29, 0xF0, 0xFE}}) {
        EXPECT_EQ(runbounded(lzunpackbounded, s, 16).result, UNPACK_ETRUNCATED);
    }
    for (const bytes &s : {bytes{0x47, 0xFB, 0xFB, 0x00}, bytes{0x47, 0xFB, 0, 0, 0, 0, 0, 0}}) {
        EXPECT_EQ(runbounded(pairunpackbounded, s, 16).result, UNPACK_ETRUNCATED);
    }
}

} // namespace
