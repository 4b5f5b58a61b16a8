// packhuff_test - the Huffman escape-run encoder: round trips through the library's
// decoders over typical and awkward data with every filter and both header forms; the
// exact smallest stream, the escape choice, the 16-bit length limit, density against the
// order-0 entropy, capacity handling and working memory.

#include "packclass.h"

#include <algorithm>
#include <cmath>

namespace {

using bytes = std::vector<uint8_t>;

// ---- inputs ----------------------------------------------------------------------------

template <typename F>
bytes sampled(size_t n, F f) {
    bytes v(n);
    for (size_t i = 0; i < n; i++) {
        v[i] = static_cast<uint8_t>(f(static_cast<double>(i)));
    }
    return v;
}
bytes sine(size_t n) {
    return sampled(n, [](double i) { return 128 + std::lround(100 * std::sin(0.013 * i)); });
}
bytes ramp(size_t n) {
    return sampled(n, [](double i) { return static_cast<long>(i * 3) & 0xFF; });
}

// Every byte value 1000 times, except 0x55 that appears once as a run of 300: no value
// is absent, so the escape is a value in use, and its occurrences form a run.
bytes allvalues() {
    bytes v;
    for (int k = 0; k < 1000; k++) {
        for (int b = 0; b < 256; b++) {
            if ((b ^ (k & 0x0F)) != 0x55) {
                v.push_back(static_cast<uint8_t>(b ^ (k & 0x0F)));
            }
        }
        if (k == 500) {
            v.insert(v.end(), 300, 0x55);
        }
    }
    return v;
}

// Fibonacci frequencies: an unlimited Huffman code would need 25-bit codes.
bytes fibonacci() {
    bytes v;
    uint32_t a = 1;
    uint32_t b = 1;
    for (int sym = 0; sym < 26; sym++) {
        for (uint32_t i = 0; i < a; i++) {
            v.push_back(static_cast<uint8_t>(sym * 7));
        }
        uint32_t c = a + b;
        a = b;
        b = c;
    }
    std::shuffle(v.begin(), v.end(), std::mt19937(5));
    return v;
}

class Packhuff : public PackClassTest {
  protected:
    Packhuff() : PackClassTest(1 << 20) {}

    // Packs, checks the header, unpacks, and checks that the stream ends with its data
    // (its last unit is needed).
    static bytes roundtrip(const bytes &in, int32_t filter, int32_t header) {
        bytes s(in.size() + in.size() / 128 + 540);
        int32_t n = huffpack(in.data(), in.size(), s.data(), s.size(), filter, header);
        EXPECT_GT(n, 0);
        if (n <= 0) {
            return {};
        }
        s.resize(static_cast<size_t>(n));
        EXPECT_EQ(n % 2, 0);
        EXPECT_EQ(s[0], 0x30 + 2 * filter + header);
        EXPECT_EQ(s[1], 0xFB);
        SCOPED_TRACE("filter " + std::to_string(filter) + " header " + std::to_string(header));
        expectunpacksto(s, in);
        bytes out(in.size());
        EXPECT_LT(huffunpackbounded(s.data(), s.size() - 2, out.data(), in.size()), 0);
        return s;
    }
};

// ---- round trips -------------------------------------------------------------------------

TEST_F(Packhuff, RoundTripsEveryKindOfDataWithEveryFilterAndHeader) {
    struct kind {
        const char *name;
        bytes data;
    } kinds[] = {
        {"empty", {}},
        {"one distinct value", bytes(1000, 0x41)},
        {"random", randombytes(65536, 1)},
        {"text", textbytes(65536, 3)},
        {"sine", sine(65536)},
        {"all values in use", allvalues()},
        {"fibonacci frequencies (code lengths cut to 16)", fibonacci()},
    };
    for (const kind &k : kinds) {
        SCOPED_TRACE(k.name);
        for (int32_t filter = 0; filter <= 2; filter++) {
            for (int32_t header : {PACK_SHORTHEADER, PACK_LONGHEADER}) {
                roundtrip(k.data, filter, header);
            }
        }
    }
}

TEST_F(Packhuff, LongRunsSplitAcrossSeveralRunNumbers) {
    // Runs longer than one number's short form carries, of an ordinary byte and of the
    // only byte value left for the escape.
    bytes v(600000, 'A');
    v.push_back('B');
    v.insert(v.end(), 300000, 'C');
    bytes s = roundtrip(v, 0, PACK_SHORTHEADER);
    EXPECT_LT(s.size(), 40u);
    bytes all = randombytes(256 * 64, 9);
    for (int b = 0; b < 256; b++) {
        all[static_cast<size_t>(b) * 64] = static_cast<uint8_t>(b);
    }
    std::replace(all.begin(), all.end(), uint8_t{0x99}, uint8_t{0x98});
    all[300] = 0x99;
    all.insert(all.begin() + 1000, 700000, 0x99); // least used value but a long run
    roundtrip(all, 0, PACK_LONGHEADER);
}

TEST_F(Packhuff, EmptyInputIsTheSmallestStream) {
    // Escape 0 and an unused symbol 1, both 1-bit codes (count 2 at length 1), then the
    // end mark: 110 100 100 | 0 1001, padded to 16 bits.
    bytes s(16);
    ASSERT_EQ(huffpack(nullptr, 0, s.data(), s.size(), 0, PACK_SHORTHEADER), 8);
    s.resize(8);
    EXPECT_EQ(s, (bytes{0x30, 0xFB, 0x00, 0x00, 0x00, 0x00, 0xD2, 0x24}));
}

// ---- choices that decide the ratio -------------------------------------------------------

TEST_F(Packhuff, EscapeIsAnAbsentValueOrTheLeastUsedOne) {
    bytes t = textbytes(20000, 3);
    bytes s = roundtrip(t, 0, PACK_SHORTHEADER);
    ASSERT_GT(s.size(), 5u);
    EXPECT_EQ(std::count(t.begin(), t.end(), s[5]), 0);

    bytes a = allvalues();
    s = roundtrip(a, 0, PACK_SHORTHEADER);
    ASSERT_GT(s.size(), 5u);
    EXPECT_EQ(s[5], 0x55);
}

TEST_F(Packhuff, DensityMatchesTheData) {
    auto packed = [](const bytes &in, int32_t filter) {
        bytes s(in.size() + in.size() / 128 + 540);
        return huffpack(in.data(), in.size(), s.data(), s.size(), filter, PACK_SHORTHEADER);
    };
    // Within a few percent of the order-0 entropy where runs do not help.
    const bytes in = textbytes(65536, 3);
    double counts[256] = {};
    for (uint8_t b : in) {
        counts[b]++;
    }
    double bits = 0;
    for (double c : counts) {
        bits += c > 0 ? -c * std::log2(c / static_cast<double>(in.size())) : 0;
    }
    EXPECT_LT(packed(in, 0), bits / 8 * 1.03 + 100);
    EXPECT_LT(packed(ramp(65536), 1), 64); // differences: one long run
    EXPECT_LT(packed(sine(65536), 2) * 3, packed(sine(65536), 0));
    EXPECT_LT(packed(bytes(100000, 7), 0), 24);
}

// ---- capacity, arguments, memory ---------------------------------------------------------

TEST_F(Packhuff, RejectsBadArgumentsAndMissingMemory) {
    uint8_t in[4] = {1, 2, 3, 4};
    uint8_t out[64];
    EXPECT_EQ(huffpack(in, 4, out, 64, 3, PACK_SHORTHEADER), PACK_EINVAL);
    EXPECT_EQ(huffpack(in, 4, out, 64, -1, PACK_SHORTHEADER), PACK_EINVAL);
    EXPECT_EQ(huffpack(in, 4, out, 64, 0, 2), PACK_EINVAL);
    EXPECT_EQ(huffpack(nullptr, 4, out, 64, 0, PACK_SHORTHEADER), PACK_EINVAL);
    EXPECT_EQ(huffpack(in, PACK_MAXSIZE + 1, out, 64, 0, PACK_SHORTHEADER), PACK_EINVAL);
    withtinyclass([&] { EXPECT_EQ(huffpack(in, 4, out, 64, 0, PACK_SHORTHEADER), PACK_ENOMEM); });
}

} // namespace
