// packpair_test - byte-pair encoder: exact small streams, round trips through the
// bounded decoder (nested pairs, every byte value in use, zero bytes, the long header),
// capacity handling and working memory.

#include "packclass.h"

#include <cstring>

namespace {

using bytes = std::vector<uint8_t>;

class Packpair : public PackClassTest {
  protected:
    Packpair() : PackClassTest(8 << 20) {}
};

bytes text(const std::string &s) {
    return bytes(s.begin(), s.end());
}

bytes pack(const bytes &in, int32_t header = PACK_SHORTHEADER) {
    bytes out(packbound(PACK_PAIRCODE, in.size()));
    int32_t n = pairpack(in.data(), in.size(), out.data(), out.size(), header);
    EXPECT_GT(n, 0);
    out.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return out;
}

bytes roundtrip(const bytes &in, int32_t header = PACK_SHORTHEADER) {
    bytes stream = pack(in, header);
    expectunpacksto(stream, in);
    return stream;
}

TEST_F(Packpair, WritesTablesAndEscapesAsExpected) {
    // Nothing to pair: the highest unused byte is the escape, no definitions.
    EXPECT_EQ(roundtrip({}), (bytes{0x46, 0xFB, 0, 0, 0, 0xFF, 0, 0xFF, 0}));
    EXPECT_EQ(roundtrip({0x41}), (bytes{0x46, 0xFB, 0, 0, 1, 0xFF, 0, 0x41, 0xFF, 0}));
    // Six "ab" pay for a definition; the code is the lowest unused byte.
    EXPECT_EQ(roundtrip(text("abababababab")),
              (bytes{0x46, 0xFB, 0, 0, 12, 0xFF, 1, 0x00, 'a', 'b', 0, 0, 0, 0, 0, 0, 0xFF, 0}));
    // Three do not, nor do seven a's: a run counts its pairs once (a a a: one a a).
    EXPECT_EQ(roundtrip(text("ababab")).size(), 5u + 2 + 6 + 2);
    EXPECT_EQ(roundtrip(text("aaaaaaa")),
              (bytes{0x46, 0xFB, 0, 0, 7, 0xFF, 0, 'a', 'a', 'a', 'a', 'a', 'a', 'a', 0xFF, 0}));
    EXPECT_EQ(roundtrip(text("aaaaaaaa")).size(), 5u + 2 + 3 + 4 + 2);
    // The long header carries the size in both fields.
    bytes longer = roundtrip(text("xyz"), PACK_LONGHEADER);
    EXPECT_EQ(bytes(longer.begin(), longer.begin() + 8), (bytes{0x47, 0xFB, 0, 0, 3, 0, 0, 3}));
    EXPECT_EQ(unpacksize(longer.data()), 3);
}

TEST_F(Packpair, RoundTripsNestedPairs) {
    // One byte repeated nests codes many levels deep.
    bytes same(5000, 'a');
    bytes stream = roundtrip(same);
    EXPECT_LT(stream.size(), 200u);

    std::string prose;
    while (prose.size() < 20000) {
        prose += "the quick brown fox jumps over the lazy dog; pack the pairs, then the pairs of "
                 "pairs. ";
    }
    stream = roundtrip(text(prose));
    EXPECT_LT(stream.size(), prose.size() / 3);

    // Runs of zeros among other bytes: zero must never be escaped.
    bytes sparse(3000, 0);
    for (size_t i = 0; i < sparse.size(); i += 7) {
        sparse[i] = static_cast<uint8_t>(i % 5 + 1);
    }
    roundtrip(sparse);
}

TEST_F(Packpair, StaysValidWithEveryByteValueInUse) {
    std::mt19937 rng(77);
    // Every value appears: the escape is a used byte and its own occurrences are escaped.
    bytes noise(4096);
    for (uint8_t &b : noise) {
        b = static_cast<uint8_t>(rng());
    }
    for (int32_t v = 0; v < 256; v++) {
        noise[static_cast<size_t>(v)] = static_cast<uint8_t>(v);
    }
    bytes stream = roundtrip(noise);
    EXPECT_NE(stream[5], 0) << "escape 0 would end the stream at the first plain zero";
    EXPECT_LE(stream.size(), packbound(PACK_PAIRCODE, noise.size()));

    // Every value appears once, and one pair very often: a rare value is turned into a
    // code and its plain occurrence written escaped.
    bytes mixed;
    for (int32_t v = 0; v < 256; v++) {
        mixed.push_back(static_cast<uint8_t>(v));
    }
    for (int32_t i = 0; i < 500; i++) {
        mixed.push_back('x');
        mixed.push_back(i % 3 == 0 ? 'z' : 'y');
    }
    stream = roundtrip(mixed, PACK_LONGHEADER);
    EXPECT_GT(stream[9], 0) << "some definition despite no unused byte";
    EXPECT_LT(stream.size(), mixed.size() * 3 / 4);
    // A pair seen 5 times pays for its definition and one escape, 4 times it does not.
    for (uint8_t times : {4, 5}) {
        bytes each(mixed.begin(), mixed.begin() + 256);
        for (uint8_t i = 0; i < times; i++) {
            each.insert(each.end(), {'z', 'x'});
        }
        EXPECT_EQ(roundtrip(each)[6], times - 4) << int{times} << " times";
    }

    // All values equally common: no code can pay for the escapes it would need, so the
    // stream is the input plus its escaped escape bytes.
    bytes ramp;
    for (int32_t r = 0; r < 40; r++) {
        for (int32_t v = 0; v < 256; v++) {
            ramp.push_back(static_cast<uint8_t>(v));
        }
    }
    stream = roundtrip(ramp);
    EXPECT_EQ(stream.size(), 5 + 2 + ramp.size() + 40 + 2);
}

// Which pairs are made, and so the size, depends on every count being exact after each
// replacement; the sizes are those of a full recount before every code.
TEST_F(Packpair, CountsStayExactAcrossReplacements) {
    // Runs of a few letters: the run rule (a a a counts a a once) as runs grow, shrink and
    // lose their first element to the pair on their left.
    struct {
        uint32_t alphabet;
        uint32_t longest;
        size_t packed;
    } const cases[] = {{2, 9, 552}, {3, 9, 724}, {3, 5, 967}, {4, 12, 697}};
    for (const auto &c : cases) {
        std::mt19937 rng(5);
        bytes in;
        while (in.size() < 4000) {
            const uint8_t letter = static_cast<uint8_t>('a' + rng() % c.alphabet);
            in.insert(in.end(), 1 + rng() % c.longest, letter);
        }
        in.resize(4000);
        EXPECT_EQ(roundtrip(in).size(), c.packed)
            << c.alphabet << " letters, runs up to " << c.longest;
    }

    // Blocks v x y w, each four times: making x y a code turns every pair around it into
    // a pair with the code at once, so most pairs counted so far go stale together.
    bytes blocks;
    for (int32_t r = 0; r < 4; r++) {
        for (uint8_t i = 0; i < 20; i++) {
            blocks.insert(blocks.end(),
                          {static_cast<uint8_t>(1 + i), 'x', 'y', static_cast<uint8_t>(128 + i)});
        }
    }
    EXPECT_EQ(roundtrip(blocks).size(), 193u);
}

TEST_F(Packpair, RejectsBadArgumentsAndMissingMemory) {
    bytes in = text("aaaaaaaabbbbbbbb");

    bytes out(64);
    EXPECT_EQ(pairpack(in.data(), in.size(), out.data(), out.size(), 2), PACK_EINVAL);
    EXPECT_EQ(pairpack(nullptr, 3, out.data(), out.size(), 0), PACK_EINVAL);
    EXPECT_EQ(pairpack(in.data(), PACK_MAXSIZE + 1u, out.data(), out.size(), 0), PACK_EINVAL);

    withtinyclass(
        [&] { EXPECT_EQ(pairpack(in.data(), in.size(), out.data(), 64, 0), PACK_ENOMEM); });
}

} // namespace
