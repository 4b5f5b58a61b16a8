// packrle_test - run-length encoder: exact streams for the basic runs, round trips
// through the bounded decoder at the count and chunk boundaries, capacity handling and
// working memory.

#include "packclass.h"

namespace {

using bytes = std::vector<uint8_t>;

class Packrle : public PackClassTest {
  protected:
    Packrle() : PackClassTest(4 << 20) {}
};

bytes pack(const bytes &in) {
    bytes out(in.size() + in.size() / 32 + 16);
    int32_t n = rlepack(in.data(), in.size(), out.data(), out.size());
    EXPECT_GT(n, 0);
    out.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return out;
}

bytes roundtrip(const bytes &in) {
    bytes stream = pack(in);
    expectunpacksto(stream, in);
    return stream;
}

TEST_F(Packrle, WritesTheShortestFormOfEachOperation) {
    struct {
        const char *what;
        bytes in;
        bytes stream;
    } cases[] = {
        {"empty", {}, {0x4A, 0xFB, 0, 0, 0}},
        {"one byte", {0x41}, {0x4A, 0xFB, 0, 0, 1, 0x01, 0x41}},
        {"zeros use the start fill", bytes(10, 0), {0x4A, 0xFB, 0, 0, 10, 0x8A}},
        {"fill then refill", bytes(100, 7), {0x4A, 0xFB, 0, 0, 100, 0x7F, 0x07, 0xA5}},
        {"nibbles", {0xA3, 0xA1, 0xA2, 0xA4}, {0x4A, 0xFB, 0, 0, 4, 0xC4, 0xA3, 0x12, 0x40}},
        {"literals", {0x10, 0x25, 0x3F}, {0x4A, 0xFB, 0, 0, 3, 0x03, 0x10, 0x25, 0x3F}},
        {"nibbles beat literals from 3 bytes", {1, 2, 3}, {0x4A, 0xFB, 0, 0, 3, 0xC3, 1, 0x23}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(roundtrip(c.in), c.stream);
    }
}

TEST_F(Packrle, RoundTripsAtTheCountBoundaries) {
    for (size_t n : {1u, 2u, 3u, 62u, 63u, 64u, 65u, 126u, 127u, 128u, 300u}) {
        SCOPED_TRACE(n);
        // A run costs 2 bytes per 63 at most (fill, then 1-byte refills).
        bytes stream = roundtrip(bytes(n, 0x5A));
        EXPECT_LE(stream.size(), 5 + 2 + (n - 1) / 63);
        // Bytes sharing a high nibble: about half a byte each.
        bytes nib(n);
        for (size_t i = 0; i < n; i++) {
            nib[i] = static_cast<uint8_t>(0x70 | ((i * 7 + i / 5) & 15));
        }
        stream = roundtrip(nib);
        EXPECT_LE(stream.size(), 5 + n / 2 + 3 * ((n + 62) / 63));
        // Literals with no structure: one control byte per 63.
        bytes lit(n);
        for (size_t i = 0; i < n; i++) {
            lit[i] = static_cast<uint8_t>((i * 37) ^ (i >> 3) ^ ((i & 1) << 7));
        }
        stream = roundtrip(lit);
        EXPECT_LE(stream.size(), 5 + n + (n + 62) / 63);
    }
}

TEST_F(Packrle, RoundTripsMixedDataAcrossChunks) {
    std::mt19937 rng(1234);
    // Runs, nibble stretches and noise, long enough to span several search chunks, with
    // runs and a fill byte carried over each chunk edge.
    bytes in;
    while (in.size() < 200000) {
        uint32_t kind = rng() % 4;
        size_t len = 1 + rng() % 150;
        uint8_t v = static_cast<uint8_t>(rng() % 3 == 0 ? 0 : rng());
        for (size_t i = 0; i < len; i++) {
            switch (kind) {
            case 0:
                in.push_back(v);
                break;
            case 1:
                in.push_back(static_cast<uint8_t>((v & 0xF0) | (rng() & 15)));
                break;
            case 2:
                in.push_back(static_cast<uint8_t>(rng()));
                break;
            default:
                in.push_back(static_cast<uint8_t>(i & 1 ? v : v ^ 0x80));
                break;
            }
        }
    }
    bytes stream = roundtrip(in);
    EXPECT_LT(stream.size(), in.size() * 3 / 4);

    bytes noise(70000);
    for (uint8_t &b : noise) {
        b = static_cast<uint8_t>(rng());
    }
    roundtrip(noise);
    roundtrip(bytes(65536 * 2 + 5, 0x33));
}

TEST_F(Packrle, RejectsBadArgumentsAndMissingMemory) {
    bytes in(1000, 1);
    bytes out(64);
    EXPECT_EQ(rlepack(nullptr, 4, out.data(), out.size()), PACK_EINVAL);
    EXPECT_EQ(rlepack(in.data(), PACK_MAXSIZE + 1u, out.data(), out.size()), PACK_EINVAL);
    EXPECT_EQ(rlepack(in.data(), in.size(), nullptr, 64), PACK_EINVAL);

    withtinyclass([&] { EXPECT_EQ(rlepack(in.data(), in.size(), out.data(), 64), PACK_ENOMEM); });
}

} // namespace
