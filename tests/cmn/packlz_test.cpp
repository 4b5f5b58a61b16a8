// packlz_test - the LZ command encoder: round trips through the bounded decoder over many
// kinds of data at every level and in both header forms, the window's edges, long runs,
// packbound, argument checks and the working memory's return.
#include "thistle/diag.h"
#include "thistle/memstd.h"
#include "thistle/pack.h"
#include "thistle/unpack.h"

#include "packclass.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <random>
#include <string>
#include <vector>

namespace {

using bytes = std::vector<uint8_t>;

constexpr size_t WINDOW = 131072;

// ---- test data ----------------------------------------------------------------------

// Words drawn with a skewed frequency, sentences and line breaks: the shape of prose.
bytes textbytes(size_t n, uint32_t seed) {
    static const char *const words[] = {
        "the",     "of",     "and",      "a",       "to",      "in",      "is",      "packed",
        "stream",  "window", "distance", "literal", "command", "thistle", "memory",  "class",
        "decoder", "bytes",  "length",   "header",  "game",    "shape",   "palette", "run"};
    std::mt19937 rng(seed);
    std::geometric_distribution<int> pick(0.18);
    std::string s;
    while (s.size() < n) {
        const int count = 4 + static_cast<int>(rng() % 12);
        for (int i = 0; i < count; i++) {
            const size_t w = static_cast<size_t>(pick(rng)) % std::size(words);
            s += words[w];
            s += i + 1 < count ? " " : (rng() % 4 == 0 ? ".\n" : ". ");
        }
    }
    return bytes(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(n));
}

// Records of little-endian fields: a rising offset, small counts, flag words, a few random
// bytes. Like tables and executables: repeats at fixed strides, rarely long.
bytes binarybytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    bytes out;
    uint32_t offset = 0x401000;
    while (out.size() < n) {
        offset += 4 + (rng() % 64);
        const uint32_t r = static_cast<uint32_t>(rng());
        const uint32_t fields[4] = {offset, r % 16, (r >> 4) % 3 << 8,
                                    static_cast<uint32_t>(rng())};
        for (uint32_t f : fields) {
            for (int b = 0; b < 4 && out.size() < n; b++) {
                out.push_back(static_cast<uint8_t>(f >> (8 * b)));
            }
        }
    }
    return out;
}

// Runs of one byte of random lengths, some very long, with short runs of 2 and 3 periods.
bytes runbytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    bytes out;
    while (out.size() < n) {
        const size_t len = rng() % 8 == 0 ? 2000 + rng() % 5000 : 1 + rng() % 40;
        const uint8_t a = static_cast<uint8_t>(rng() % 4);
        const uint8_t b = static_cast<uint8_t>(rng() % 3 == 0 ? rng() : a);
        const size_t period = 1 + rng() % 3;
        for (size_t i = 0; i < len && out.size() < n; i++) {
            out.push_back(i % period == 0 ? a : b);
        }
    }
    return out;
}

// ---- fixture --------------------------------------------------------------------------

class Packlz : public ::testing::Test {
  protected:
    static constexpr int32_t REGION = 4 << 20;

    void SetUp() override {
        initmemclasses();
        region = static_cast<uint8_t *>(::operator new(REGION, std::align_val_t(4096)));
        ASSERT_GT(creatememclass(0, "packlz", region, REGION, 16, 16, 0, 0, 0, 1, 0, 0), 0);
        defaultmemclass = 0;
        freebefore = largestmemblock(0);
    }
    void TearDown() override {
        // every call returned its working block
        EXPECT_EQ(largestmemblock(0), freebefore);
        removememclass(0);
        ::operator delete(region, std::align_val_t(4096));
    }

    // Packs data, checks the stream against packbound, decodes it with the bounded decoder
    // and returns the stream.
    static bytes roundtrip(const bytes &data, int32_t level, int32_t header = PACK_SHORTHEADER) {
        const size_t bound = packbound(PACK_LZCODE, data.size());
        bytes stream(bound);
        const int32_t got =
            lzpack(data.data(), data.size(), stream.data(), stream.size(), level, header);
        EXPECT_GT(got, 0) << "level " << level;
        if (got <= 0) {
            return {};
        }
        EXPECT_LE(static_cast<size_t>(got), bound);
        stream.resize(static_cast<size_t>(got));

        bytes out(data.size() + 1, 0x5A);
        EXPECT_EQ(lzunpackbounded(stream.data(), stream.size(), out.data(), data.size()),
                  static_cast<int32_t>(data.size()))
            << "level " << level;
        EXPECT_EQ(out.back(), 0x5A);
        out.pop_back();
        EXPECT_TRUE(out == data) << "level " << level << " size " << data.size();

        return stream;
    }

    uint8_t *region = nullptr;
    int32_t freebefore = 0;
};

// ---- round trips ----------------------------------------------------------------------

TEST_F(Packlz, RoundTripsEveryKindOfDataAtEveryLevelAndHeader) {
    const struct {
        const char *name;
        bytes data;
    } inputs[] = {
        {"random", randombytes(20000, 1)},
        {"text", textbytes(60000, 2)},
        {"binary", binarybytes(50000, 3)},
        {"runs", runbytes(70000, 5)},
    };
    for (const auto &in : inputs) {
        SCOPED_TRACE(in.name);
        for (int32_t level = 1; level <= 9; level++) {
            roundtrip(in.data, level, PACK_SHORTHEADER);
            roundtrip(in.data, level, PACK_LONGHEADER);
        }
    }
}

TEST_F(Packlz, TinyInputsAndLiteralRunBoundaries) {
    // Empty: the header and an end command without literals.
    bytes stream = roundtrip({}, 5);
    EXPECT_EQ(stream, (bytes{0x10, 0xFB, 0, 0, 0, 0xFC}));
    stream = roundtrip({0x42}, 1);
    EXPECT_EQ(stream, (bytes{0x10, 0xFB, 0, 0, 1, 0xFD, 0x42}));

    // Literal counts around the run command's multiples of 4 and its 112 limit.
    for (size_t n : {2, 3, 4, 5, 7, 8, 111, 112, 113, 115, 116, 224, 229, 1000}) {
        const bytes data = randombytes(n, static_cast<uint32_t>(n));
        for (int32_t level : {1, 5, 9}) {
            roundtrip(data, level);
        }
    }
    // Short repeats: a 3-byte match at distance 1 and at the 2-byte command's reach.
    roundtrip({7, 7, 7, 7}, 1);
    bytes near = randombytes(1030, 9);
    near[1027] = near[3], near[1028] = near[4], near[1029] = near[5];
    for (int32_t level : {1, 5, 9}) {
        roundtrip(near, level);
    }
}

// ---- window and lengths ---------------------------------------------------------------

TEST_F(Packlz, MatchesReachTheWholeWindowAndNoFurther) {
    // A 300-byte block repeated exactly one window later, in random filler.
    bytes data = randombytes(WINDOW + 300, 21);
    std::copy(data.begin(), data.begin() + 300, data.begin() + WINDOW);
    for (int32_t level = 1; level <= 9; level++) {
        const bytes stream = roundtrip(data, level);
        if (level >= 4) {
            // the filler costs its size and a run byte per 112; the copy nearly nothing
            EXPECT_LT(stream.size(), data.size() + data.size() / 112 - 280) << level;
        }
    }
    // One byte further the copy is out of reach: the stream must still be exact.
    bytes far = randombytes(WINDOW + 301, 22);
    std::copy(far.begin(), far.begin() + 300, far.begin() + WINDOW + 1);
    for (int32_t level : {1, 5, 9}) {
        roundtrip(far, level);
    }
    // Exactly a window of text, and text longer than two windows.
    const bytes text = textbytes(3 * WINDOW, 23);
    for (int32_t level : {1, 4, 7, 9}) {
        roundtrip(bytes(text.begin(), text.begin() + WINDOW), level);
    }
    roundtrip(text, 8);
}

TEST_F(Packlz, LongRunsUseTheLongestCommands) {
    bytes data(300000, 0);
    std::fill(data.begin() + 150000, data.end(), 0xAB);
    for (int32_t level = 1; level <= 9; level++) {
        const bytes stream = roundtrip(data, level);
        // 4 bytes per 1028 bytes of run, nothing more to speak of
        EXPECT_LT(stream.size(), 300000 / 1028 * 4 + 32) << level;
    }
    // Period 2 and 3 runs: matches shorter than their own distance plus one overlap.
    bytes periodic;
    for (size_t i = 0; i < 50000; i++) {
        periodic.push_back(i < 25000 ? static_cast<uint8_t>(i % 2) : static_cast<uint8_t>(i % 3));
    }
    for (int32_t level : {1, 5, 9}) {
        EXPECT_LT(roundtrip(periodic, level).size(), 300u) << level;
    }
}

TEST_F(Packlz, HigherLevelsPackSmaller) {
    const bytes inputs[] = {textbytes(100000, 31), binarybytes(100000, 32)};
    for (const bytes &data : inputs) {
        const size_t fast = roundtrip(data, 1).size();
        const size_t lazy = roundtrip(data, 5).size();
        const size_t best = roundtrip(data, 9).size();
        EXPECT_LE(lazy, fast);
        EXPECT_LE(best, lazy);
        EXPECT_LT(best, fast);
    }
}

// ---- limits ---------------------------------------------------------------------------

TEST_F(Packlz, BadArgumentsAndMissingMemory) {
    uint8_t in[16] = {};
    uint8_t out[64];
    EXPECT_EQ(lzpack(in, 16, out, 64, 0, 0), PACK_EINVAL);
    EXPECT_EQ(lzpack(in, 16, out, 64, 10, 0), PACK_EINVAL);
    EXPECT_EQ(lzpack(in, 16, out, 64, 5, 2), PACK_EINVAL);
    EXPECT_EQ(lzpack(in, size_t{PACK_MAXSIZE} + 1, out, 64, 5, 0), PACK_EINVAL);
    EXPECT_EQ(lzpack(nullptr, 16, out, 64, 5, 0), PACK_EINVAL);

    // A class too small for the hash tables: the failure is returned, not reported.
    const int32_t saved = reporterrors;
    reporterrors = 0;
    alignas(16) static uint8_t tiny[4096];
    ASSERT_GT(creatememclass(5, "tiny", tiny, sizeof tiny, 16, 16, 0, 0, 0, 0, 0, 0), 0);
    defaultmemclass = 5;
    EXPECT_EQ(lzpack(in, 16, out, 64, 5, 0), PACK_ENOMEM);
    // Inputs too short for a match need no working memory.
    EXPECT_EQ(lzpack(in, 3, out, 64, 5, 0), 9);
    defaultmemclass = 0;
    removememclass(5);
    reporterrors = saved;
}

TEST_F(Packlz, PackboundCoversTheWorstCases) {
    // LZ: data without a single match, in the long header form.
    for (size_t n : {0, 1, 4, 112, 113, 4096, 100000}) {
        EXPECT_GE(packbound(0x11, n), 8 + n + (n / 4 + 27) / 28 + 1) << n;
    }
    // Colour blocks: a one-pixel-wide image of 64 rows needs 16 blocks and the header.
    EXPECT_GE(packbound(PACK_BLOCKCODE, 64 * 2), 16 * 8 + 8u);
    EXPECT_EQ(packbound(0x20, 1000), 0u); // no encoder for that code
}

} // namespace
