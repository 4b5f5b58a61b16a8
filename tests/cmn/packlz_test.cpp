// packlz_test - the LZ command encoder: round trips through the bounded decoder over many
// kinds of data at every level and in both header forms, the window's edges, long runs,
// packbound, argument checks and the working memory's return.

#include "packclass.h"

#include <algorithm>

namespace {

using bytes = std::vector<uint8_t>;

constexpr size_t WINDOW = 131072;

class Packlz : public PackClassTest {
  protected:
    Packlz() : PackClassTest(4 << 20) {}

    // Packs data, checks the stream against packbound, unpacks it and returns the stream.
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
        SCOPED_TRACE("level " + std::to_string(level));
        expectunpacksto(stream, data);
        return stream;
    }
};

// ---- round trips ----------------------------------------------------------------------

TEST_F(Packlz, TinyInputsAndLiteralRunBoundaries) {
    // Empty: the header and an end command without literals.
    bytes stream = roundtrip({}, 5);
    EXPECT_EQ(stream, (bytes{0x10, 0xFB, 0, 0, 0, 0xFC}));
    stream = roundtrip({0x42}, 1);
    EXPECT_EQ(stream, (bytes{0x10, 0xFB, 0, 0, 1, 0xFD, 0x42}));

    roundtrip(randombytes(229, 3), 9, PACK_LONGHEADER); // literal runs past the 112 limit
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
    const bytes inputs[] = {textbytes(100000, 31), textbytes(40000, 32)};
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

    withtinyclass([&] {
        EXPECT_EQ(lzpack(in, 16, out, 64, 5, 0), PACK_ENOMEM);
        EXPECT_EQ(lzpack(in, 3, out, 64, 5, 0), 9); // too short for a match: no tables
    });
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
