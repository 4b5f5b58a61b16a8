// packblock_test - colour-block encoder: the stream layout, exact blocks (one or two
// colours, four-colour and three-colour-with-black palettes), error bounds by level on
// photographic-like images, and argument and capacity handling. Every image is decoded
// by the bounded decoder.
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

// Peak signal to noise ratio over the three channels widened to 8 bits.
double psnr(const pixels &a, const pixels &b) {
    double sum = 0;
    for (size_t i = 0; i < a.size(); i++) {
        int32_t ca[3] = {(a[i] >> 11) * 255 / 31, ((a[i] >> 5) & 63) * 255 / 63,
                         (a[i] & 31) * 255 / 31};
        int32_t cb[3] = {(b[i] >> 11) * 255 / 31, ((b[i] >> 5) & 63) * 255 / 63,
                         (b[i] & 31) * 255 / 31};
        for (int32_t c = 0; c < 3; c++) {
            sum += (ca[c] - cb[c]) * (ca[c] - cb[c]);
        }
    }
    double mse = sum / (3.0 * static_cast<double>(a.size()));
    return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
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

TEST(Packblock, WritesHeaderAndBlocksInOrder) {
    // 8x4: two blocks, left red, right blue.
    image im{8, 4, pixels(32)};
    for (int32_t i = 0; i < 32; i++) {
        im.px[static_cast<size_t>(i)] = (i % 8) < 4 ? 0xF800 : 0x001F;
    }
    bytes s = pack(im, 1);
    ASSERT_EQ(s.size(), 24u);
    EXPECT_EQ(bytes(s.begin(), s.begin() + 8), (bytes{0x18, 0xFB, 0, 0, 64, 0, 0, 8}));
    // A solid block: both endpoints the colour (little-endian), every index the same.
    EXPECT_EQ(s[8] | s[9] << 8, 0xF800);
    EXPECT_EQ(s[16] | s[17] << 8, 0x001F);
    EXPECT_EQ(decode(s, 32), im.px);
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

TEST(Packblock, FindsExactPalettesInBothModes) {
    // The decoder's own palettes: decode one hand-made block of each mode showing its
    // four entries, then ask the encoder for an image made of those entries.
    auto entries = [](uint16_t c0, uint16_t c1) {
        bytes s = {0x18, 0xFB, 0, 0, 32, 0, 0, 4};
        for (uint16_t c : {c0, c1}) {
            s.push_back(static_cast<uint8_t>(c));
            s.push_back(static_cast<uint8_t>(c >> 8));
        }
        s.insert(s.end(), 4, 0xE4);
        pixels px = decode(s, 16);
        return pixels(px.begin(), px.begin() + 4);
    };
    struct {
        const char *what;
        uint16_t c0, c1;
        bool four;
    } cases[] = {
        {"four colours, red to blue", 0xF800, 0x001F, true},
        {"four colours, greys", 0xE71C, 0x2104, true},
        {"three colours and black", 0x3186, 0xF7BE, false},
        {"three colours and black, saturated", 0x07E0, 0xF81F, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        pixels pal = entries(c.c0, c.c1);
        image im{4, 4, pixels(16)};
        for (int32_t i = 0; i < 16; i++) {
            im.px[static_cast<size_t>(i)] = pal[static_cast<size_t>((i * 7 + i / 4) % 4)];
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

// Level 9 starts from the best splits of the pixels ordered along their axis, into four
// runs and into three plus black; these bounds are the errors that search reaches.
TEST(Packblock, LevelNineFindsTheBestClusters) {
    struct {
        const char *what;
        image im;
        int64_t most;
    } cases[] = {
        {"scene", scene(64, 64, 11), 390197},
        {"interface", interface(64, 64, 4), 2456455},
    };
    for (const auto &c : cases) {
        const int64_t e = squarederror(decode(pack(c.im, 9), c.im.px.size()), c.im.px);
        EXPECT_LE(e, c.most) << c.what;
    }
}

TEST(Packblock, HigherLevelsLowerTheError) {
    image im = scene(64, 64, 11);
    double last = 0;
    double first = 0;
    for (int32_t level : {1, 3, 6, 9}) {
        SCOPED_TRACE(level);
        double q = psnr(decode(pack(im, level), im.px.size()), im.px);
        EXPECT_GT(q, 31.5);
        EXPECT_GE(q, last - 0.05);
        last = q;
        first = first == 0 ? q : first;
    }
    EXPECT_GT(last, first + 0.5);
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
