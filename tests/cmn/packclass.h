// packclass.h - shared by the encoder tests: random and prose-like input bytes, and a
// fixture with a memory class of its own as defaultmemclass (class 1, 16-byte alignment,
// with a lock), with reports off, so that an encoder's working memory comes from where the
// library expects it; every test must give all of it back.
#ifndef TESTS_CMN_PACKCLASS_H
#define TESTS_CMN_PACKCLASS_H

#include "thistle/diag.h"
#include "thistle/memstd.h"
#include "thistle/pack.h"
#include "thistle/unpack.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <random>
#include <string>
#include <vector>

// n bytes from a Mersenne twister seeded with seed: the same bytes on every platform.
inline std::vector<uint8_t> randombytes(size_t n, uint32_t seed) {
    std::mt19937 g(seed);
    std::vector<uint8_t> v(n);
    for (auto &b : v) {
        b = static_cast<uint8_t>(g());
    }
    return v;
}

// Words drawn with a skewed frequency, sentences and line breaks: the shape of prose.
inline std::vector<uint8_t> textbytes(size_t n, uint32_t seed) {
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
            s += words[static_cast<size_t>(pick(rng)) % std::size(words)];
            s += i + 1 < count ? " " : (rng() % 4 == 0 ? ".\n" : ". ");
        }
    }
    return std::vector<uint8_t>(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(n));
}

// A lossless stream must unpack to `in` through the bounded dispatcher into exactly its
// size (the byte behind must survive) and through unpack.
inline void expectunpacksto(const std::vector<uint8_t> &stream, const std::vector<uint8_t> &in) {
    std::vector<uint8_t> back(in.size() + 1, 0xEE);
    EXPECT_EQ(unpackbounded(stream.data(), stream.size(), back.data(), in.size()),
              static_cast<int32_t>(in.size()));
    EXPECT_EQ(back[in.size()], 0xEE);
    back.resize(in.size());
    EXPECT_EQ(back, in);
    if (!in.empty()) {
        std::vector<uint8_t> again(in.size() + 16);
        EXPECT_EQ(unpack(stream.data(), again.data()), static_cast<int32_t>(in.size()));
        again.resize(in.size());
        EXPECT_EQ(again, in);
    }
}

class PackClassTest : public ::testing::Test {
  protected:
    explicit PackClassTest(size_t regionbytes) : regionsize(regionbytes) {}
    void SetUp() override {
        initmemclasses();
        saved = reporterrors;
        reporterrors = 0;
        region.assign(regionsize, 0);
        ASSERT_GT(creatememclass(1, "pack", region.data(), static_cast<int32_t>(region.size()), 16,
                                 16, 0, 0, 0, 1, 0, 0),
                  0);
        defaultmemclass = 1;
        freebefore = largestmemblock(1);
    }
    void TearDown() override {
        EXPECT_EQ(largestmemblock(1), freebefore) << "an encoder kept working memory";
        removememclass(1);
        defaultmemclass = 0;
        reporterrors = saved;
    }
    // Runs f with a default class too small for any encoder's tables.
    template <typename F>
    static void withtinyclass(F f) {
        alignas(16) static uint8_t tiny[4096];
        ASSERT_GT(creatememclass(5, "tiny", tiny, sizeof tiny, 16, 16, 0, 0, 0, 0, 0, 0), 0);
        defaultmemclass = 5;
        f();
        defaultmemclass = 1;
        removememclass(5);
    }
    size_t regionsize;
    int32_t saved = 0;
    int32_t freebefore = 0;
    std::vector<uint8_t> region;
};

#endif // TESTS_CMN_PACKCLASS_H
