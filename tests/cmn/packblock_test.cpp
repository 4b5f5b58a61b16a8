// packblock_test - colour-block encoder: exact blocks (one or two colours, four-colour and
// three-colour-with-black palettes), error bounds by level on photographic-like images and
// interface art, and argument and capacity handling. Every image is decoded by the bounded
// decoder; the stream's header is the fuzz round trip's and the tool suite's to check.
#include "thistle/pack.h"
#include "thistle/unpack.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

using bytes = std::vector<uint8_t>;
using pixels = std::vector<uint16_t>;

struct image {
    int32_t width;
    int32_t height;
    pixels px;
};

bytes pack(const image &im, int32_t level) {
    bytes out(packbound(PACK_BLOCKCODE, im.px.size() * 2));
    int32_t n = blockpack(im.px.data(), im.width, im.height, out.data(), out.size(), level);
    EXPECT_EQ(n, 8 + im.width * im.height / 2);
    out.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return out;
}

pixels decode(const bytes &stream, size_t count) {
    bytes raw(count * 2);
    EXPECT_EQ(blockunpackbounded(stream.data(), stream.size(), raw.data(), raw.size()),
              static_cast<int32_t>(raw.size()));
    pixels px(count);
    for (size_t i = 0; i < count; i++) {
        px[i] = static_cast<uint16_t>(raw[2 * i] | raw[2 * i + 1] << 8);
    }
    return px;
}

uint16_t rgb565(double r, double g, double b) {
    auto q = [](double v, int32_t top) {
        int32_t n = static_cast<int32_t>(std::lround(v * top));
        return n < 0 ? 0 : n > top ? top : n;
    };
    return static_cast<uint16_t>(q(r, 31) << 11 | q(g, 63) << 5 | q(b, 31));
}

// Smooth colour fields with edges and a little noise, like a rendered or photographed
// scene at 16 bits.
image scene(int32_t w, int32_t h, uint32_t seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, 0.02);
    image im{w, h, pixels(static_cast<size_t>(w * h))};
    for (int32_t y = 0; y < h; y++) {
        for (int32_t x = 0; x < w; x++) {
            double u = x / static_cast<double>(w);
            double v = y / static_cast<double>(h);
            bool disc = (u - 0.6) * (u - 0.6) + (v - 0.4) * (v - 0.4) < 0.05;
            double r = disc ? 0.9 - 0.3 * v : 0.5 + 0.4 * std::sin(6 * u + 2 * v);
            double g = disc ? 0.7 * u : 0.5 + 0.4 * std::cos(5 * v - 3 * u);
            double b = (x / 8 + y / 8) % 5 == 0 ? 0.1 : 0.3 + 0.5 * u * v;
            im.px[static_cast<size_t>(y * w + x)] =
                rgb565(r + noise(rng), g + noise(rng), b + noise(rng));
        }
    }
    return im;
}

TEST(Packblock, EncodesTwoColourBlocksExactly) {
    std::mt19937 rng(5);
    image im{32, 16, pixels(32 * 16)};
    // Each block: two random colours in a random pattern (some blocks one colour).
    for (int32_t by = 0; by < 16; by += 4) {
        for (int32_t bx = 0; bx < 32; bx += 4) {
            uint16_t a = static_cast<uint16_t>(rng());
            uint16_t b = bx == 8 ? a : static_cast<uint16_t>(rng());
            uint32_t pattern = rng();
            for (int32_t i = 0; i < 16; i++) {
                im.px[static_cast<size_t>((by + i / 4) * 32 + bx + i % 4)] =
                    (pattern >> i) & 1 ? a : b;
            }
        }
    }
    for (int32_t level : {1, 5, 9}) {
        SCOPED_TRACE(level);
        EXPECT_EQ(decode(pack(im, level), im.px.size()), im.px);
    }
}

// The decoder's palettes (its own suite checks them): four colours when the first
// endpoint is the greater, three and black otherwise. An image made of one palette's
// entries must come back exactly, in the right mode.
TEST(Packblock, FindsExactPalettesInBothModes) {
    struct {
        const char *what;
        uint16_t pal[4];
        bool four;
    } cases[] = {
        {"four colours, red to blue", {0xF800, 0x001F, 0xA00A, 0x5014}, true},
        {"four colours, greys", {0xE71C, 0x2104, 0x9CF3, 0x630C}, true},
        {"three colours and black", {0x3186, 0xF7BE, 0x9492, 0x0000}, false},
        {"three colours and black, saturated", {0x07E0, 0xF81F, 0x7BEF, 0x0000}, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        image im{4, 4, pixels(16)};
        for (int32_t i = 0; i < 16; i++) {
            im.px[static_cast<size_t>(i)] = c.pal[(i * 7 + i / 4) % 4];
        }
        for (int32_t level : {1, 4, 9}) {
            SCOPED_TRACE(level);
            bytes s = pack(im, level);
            EXPECT_EQ(decode(s, 16), im.px);
            uint16_t e0 = static_cast<uint16_t>(s[8] | s[9] << 8);
            uint16_t e1 = static_cast<uint16_t>(s[10] | s[11] << 8);
            EXPECT_EQ(e0 > e1, c.four);
        }
    }
}

// Sum of squared differences over the three channels widened to 8 bits.
int64_t squarederror(const pixels &a, const pixels &b) {
    int64_t sum = 0;
    for (size_t i = 0; i < a.size(); i++) {
        for (int32_t shift : {11, 5, 0}) {
            const int32_t top = shift == 5 ? 63 : 31;
            const int32_t d =
                ((a[i] >> shift) & top) * 255 / top - ((b[i] >> shift) & top) * 255 / top;
            sum += d * d;
        }
    }
    return sum;
}

// Flat-shaded interface art: each block mixes two to four colours of a small palette in
// a random pattern, some with near-black pixels.
image interface(int32_t w, int32_t h, uint32_t seed) {
    std::mt19937 rng(seed);
    image im{w, h, pixels(static_cast<size_t>(w * h))};
    for (int32_t by = 0; by < h; by += 4) {
        for (int32_t bx = 0; bx < w; bx += 4) {
            uint16_t colour[4];
            for (uint16_t &c : colour) {
                c = static_cast<uint16_t>(rng() % 3 == 0 ? rng() & 0x1863 : rng());
            }
            const uint32_t used = 2 + rng() % 3;
            for (int32_t i = 0; i < 16; i++) {
                im.px[static_cast<size_t>((by + i / 4) * w + bx + i % 4)] = colour[rng() % used];
            }
        }
    }
    return im;
}

// Higher levels never raise the error of a scene and end well below level 1's. Level 9
// starts from the best splits of the pixels ordered along their axis, into four runs and
// into three plus black; its bounds are the errors that search reaches.
TEST(Packblock, HigherLevelsLowerTheErrorAndLevelNineFindsTheBestClusters) {
    const image im = scene(64, 64, 11);
    int64_t first = 0;
    int64_t last = 0;
    for (int32_t level : {1, 3, 6, 9}) {
        SCOPED_TRACE(level);
        const int64_t e = squarederror(decode(pack(im, level), im.px.size()), im.px);
        // Above 31.5 dB, and never more than 0.05 dB below the level before.
        EXPECT_LT(e, 565000);
        EXPECT_LE(e * 1000, last == 0 ? e * 1000 : last * 1012);
        last = e;
        first = first == 0 ? e : first;
    }
    EXPECT_LT(last * 9, first * 8); // 0.5 dB
    EXPECT_LE(last, 390197);
    const image art = interface(64, 64, 4);
    EXPECT_LE(squarederror(decode(pack(art, 9), art.px.size()), art.px), 2456455);
    EXPECT_EQ(pack(im, 0), pack(im, 6)) << "level 0 is the default level";
}

TEST(Packblock, RejectsSizesAndLevelsAndStopsAtTheCapacity) {
    image im = scene(8, 8, 3);
    bytes out(64, 0xEE);
    struct {
        int32_t w, h, level;
    } bad[] = {{6, 8, 1}, {8, 6, 1}, {0, 8, 1}, {8, 0, 1}, {-4, 8, 1}, {8, 8, 10}, {8, 8, -1}};
    for (const auto &b : bad) {
        EXPECT_EQ(blockpack(im.px.data(), b.w, b.h, out.data(), out.size(), b.level), PACK_EINVAL);
    }
    EXPECT_EQ(blockpack(nullptr, 8, 8, out.data(), out.size(), 1), PACK_EINVAL);
    // More pixels than the size field holds.
    EXPECT_EQ(blockpack(im.px.data(), 4096, 4096, out.data(), out.size(), 1), PACK_EINVAL);
    // 8x8 needs 8 + 32 bytes; one fewer writes nothing.
    EXPECT_EQ(blockpack(im.px.data(), 8, 8, out.data(), 39, 1), PACK_EOVERFLOW);
    EXPECT_EQ(out, bytes(64, 0xEE));
    EXPECT_EQ(blockpack(im.px.data(), 8, 8, out.data(), 40, 1), 40);
}

} // namespace
