// unpack_test - the pack-code dispatcher: which decoder each code and signature reaches,
// the header forms, when an invalid pack code is reported, the bounded dispatcher, and
// unpackshape's copies and chain offsets.
#include "thistle/diag.h"
#include "thistle/memstd.h"
#include "thistle/unpack.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using bytes = std::vector<uint8_t>;

bytes header(uint8_t code, uint8_t sig, uint32_t size) {
    return {code, sig, uint8_t(size >> 16), uint8_t(size >> 8), uint8_t(size)};
}

bytes operator+(bytes a, const bytes &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// "aaaa" with a 1-bit code each for 'a' and the escape 0xFF: the counts, the symbol list,
// then a a a a, escape, r = 0, end, padded to 16-bit units. The long form (odd code) adds
// the 3-byte size unpacksize reads.
bytes huffaaaa(uint8_t code, uint8_t sig) {
    bytes s = (code & 1) ? bytes{code, sig, 0, 0, 4} : bytes{code, sig};
    s = s + bytes{0, 0, 4, 0xFF, 0xC1, 0x94, 0x14, 0x21, 0x90};
    if ((code & 1) == 0) {
        s.push_back(0);
    }
    return s;
}

std::vector<std::string> reports;
std::string reportfile;
int32_t capture(const char *text) {
    reports.push_back(text);
    reportfile = errorsite.file != nullptr ? errorsite.file : "";
    return 0; // cancel: the test goes on
}

class Unpack : public ::testing::Test {
  protected:
    void SetUp() override {
        saved = reporterrors;
        reporterrors = 1;
        fatalfilterhook = capture;
        reports.clear();
    }
    void TearDown() override {
        fatalfilterhook = nullptr;
        reporterrors = saved;
    }
    int32_t saved = 0;
};

// Plain unpack into a destination with guard bytes behind `room`.
struct result {
    int32_t value;
    bytes out;
    bool guardsintact;
};
result run(const bytes &stream, size_t room) {
    bytes dst(room + 8, 0xA5);
    result r;
    r.value = unpack(stream.data(), dst.data());
    r.guardsintact = true;
    for (size_t i = room; i < dst.size(); i++) {
        r.guardsintact = r.guardsintact && dst[i] == 0xA5;
    }
    r.out.assign(dst.begin(), dst.begin() + room);
    return r;
}

TEST_F(Unpack, EveryCodeAndBothSignatures) {
    const bytes abcd = {'a', 'b', 'c', 'd'};
    const bytes aaaa = {'a', 'a', 'a', 'a'};
    // unused byte, width 4, c0 = 0x0400, c1 = 0x001F, rows 0 1 2 3
    const bytes block = {0x00, 0x00, 0x04, 0x00, 0x04, 0x1F, 0x00, 0xE4, 0xE4, 0xE4, 0xE4};
    bytes blockout;
    for (int y = 0; y < 4; y++) {
        for (uint16_t p : {0x0400, 0x001F, 0x02AA, 0x0154}) {
            blockout.push_back(uint8_t(p));
            blockout.push_back(uint8_t(p >> 8));
        }
    }
    for (uint8_t sig : {uint8_t(0xFB), uint8_t(0x32)}) {
        for (uint8_t odd : {0, 1}) {
            SCOPED_TRACE(std::to_string(sig) + (odd ? " long" : " short"));
            const uint32_t sizefield = 4;
            bytes pre = odd ? bytes{0, 0, 4} : bytes{};
            struct {
                bytes stream;
                bytes expect;
            } cases[] = {
                {header(0x10 | odd, sig, sizefield) + pre + bytes{0xE0, 'a', 'b', 'c', 'd', 0xFC},
                 abcd},
                {header(0x4A | odd, sig, sizefield) + bytes{0x04, 'a', 'b', 'c', 'd'}, abcd},
                {header(0x46 | odd, sig, sizefield) + (odd && sig == 0xFB ? pre : bytes{}) +
                     bytes{0xFF, 1, 0x80, 'a', 'b', 0x80, 'c', 'd', 0xFF, 0x00},
                 abcd},
                {header(0x18 | odd, sig, 32) + block, blockout},
                {huffaaaa(uint8_t(0x30 | odd), sig), aaaa},
            };
            for (auto &tc : cases) {
                SCOPED_TRACE(tc.stream[0]);
                EXPECT_EQ(unpacksize(tc.stream.data()), int32_t(tc.expect.size()));
                result r = run(tc.stream, tc.expect.size());
                EXPECT_EQ(r.value, int32_t(tc.expect.size()));
                EXPECT_EQ(r.out, tc.expect);
                EXPECT_TRUE(r.guardsintact);
                bytes out(tc.expect.size());
                EXPECT_EQ(unpackbounded(tc.stream.data(), tc.stream.size(), out.data(), out.size()),
                          int32_t(tc.expect.size()));
                EXPECT_EQ(out, tc.expect);
            }
        }
    }
    EXPECT_TRUE(reports.empty());
}

TEST_F(Unpack, ResultsOfTheLongHeaderAndRunLength) {
    // The decoder reads the size 3 bytes later than unpacksize does.
    bytes s = header(0x11, 0xFB, 6) + bytes{0, 0, 4, 0xE0, 'w', 'x', 'y', 'z', 0xFC};
    EXPECT_EQ(unpacksize(s.data()), 6);
    EXPECT_EQ(lzunpack(s.data(), nullptr, 0), 4);
    result r = run(s, 6);
    EXPECT_EQ(r.value, 4);
    EXPECT_EQ(bytes(r.out.begin(), r.out.begin() + 4), (bytes{'w', 'x', 'y', 'z'}));

    // A decoder size above the size at offset 2 writes nothing past what unpacksize asked for.
    bytes big = header(0x11, 0xFB, 2) + bytes{0, 0, 4, 0xE0, 'w', 'x', 'y', 'z', 0xFC};
    result b = run(big, 2);
    EXPECT_TRUE(b.guardsintact);
    EXPECT_EQ(b.value, 4);

    // Run length: the only run passes the declared size; the decoder refuses it, the
    // result stays the header's 3.
    result rle = run(header(0x4A, 0xFB, 3) + bytes{0x45, 0x07}, 3);
    EXPECT_EQ(rle.value, 3);
    EXPECT_TRUE(rle.guardsintact);
    EXPECT_TRUE(reports.empty());
}

TEST_F(Unpack, InvalidPackCodeReports) {
    struct {
        bytes stream;
        int32_t reporton; // reporterrors
        bool unpackreports, sizereports;
    } cases[] = {
        {{0x22, 0xFB, 0, 0, 4}, 1, true, true},
        {{0x22, 0xFB, 0, 0, 4}, 0, false, true},
        {{0x7F, 0xFB, 0, 0, 4}, 1, true, true},
        {{0x80, 0xFB, 0, 0, 4}, 1, false, false},
        {{0x0F, 0xFB, 0, 0, 4}, 1, false, false},
        {{0x22, 0x00, 0, 0, 4}, 1, false, false},
        {{0x22, 0x32, 0, 0, 4}, 1, false, false},
        {{0x10, 0x00, 0, 0, 4}, 1, false, false},
        // a known code whose declared size is 0 looks the same
        {{0x10, 0xFB, 0, 0, 0, 0xFC}, 1, true, true},
        {{0x4B, 0xFB, 0, 0, 0}, 1, true, true},
        {{0x10, 0x32, 0, 0, 0, 0xFC}, 1, false, false},
    };
    for (auto &tc : cases) {
        char code[8];
        std::snprintf(code, sizeof code, "%02x%02x", tc.stream[0], tc.stream[1]);
        SCOPED_TRACE(code);
        reporterrors = tc.reporton;
        reports.clear();
        bytes dst(8, 0);
        EXPECT_EQ(unpack(tc.stream.data(), dst.data()), 0);
        EXPECT_EQ(unpacksize(tc.stream.data()), 0);
        std::vector<std::string> expect;
        for (const char *who : {"unpack", "unpacksize"}) {
            if (who[6] == 0 ? tc.unpackreports : tc.sizereports) {
                expect.push_back(std::string(who) + " - INVALID PACK CODE (" + code + ")\n");
            }
        }
        EXPECT_EQ(reports, expect);
        if (!expect.empty()) {
            EXPECT_EQ(reportfile, "cmn\\unpack");
        }
    }
    reports.clear();
    EXPECT_EQ(unpack(nullptr, nullptr), 0);
    EXPECT_TRUE(reports.empty());
}

TEST_F(Unpack, BoundedDispatcher) {
    bytes dst(16);
    const bytes bad[] = {{0x22, 0xFB, 0, 0, 1}, {0x10, 0x00, 0, 0, 1}, {0x80, 0xFB, 0, 0, 1}};
    for (const bytes &b : bad) {
        EXPECT_EQ(unpackbounded(b.data(), b.size(), dst.data(), dst.size()), UNPACK_EBADCODE);
    }
    const uint8_t one[1] = {0x10};
    EXPECT_EQ(unpackbounded(one, 1, dst.data(), dst.size()), UNPACK_ETRUNCATED);
    EXPECT_EQ(unpackbounded(one, 0, dst.data(), dst.size()), UNPACK_ETRUNCATED);
    EXPECT_EQ(unpackbounded(nullptr, 5, dst.data(), dst.size()), UNPACK_ETRUNCATED);
    bytes lz = header(0x10, 0xFB, 4) + bytes{0xE0, 'a', 'b', 'c', 'd', 0xFC};
    EXPECT_EQ(unpackbounded(lz.data(), lz.size() - 1, dst.data(), 4), UNPACK_ETRUNCATED);
    EXPECT_TRUE(reports.empty());
}

// ---- unpackshape -----------------------------------------------------------------------

// Class 0 and the shapes share one arena, so chain offsets between them fit 24 bits.
alignas(16) uint8_t arena[1 << 20];
constexpr size_t regionsize = 1 << 19;

class UnpackShape : public Unpack {
  protected:
    void SetUp() override {
        Unpack::SetUp();
        initmemclasses();
        ASSERT_GT(creatememclass(0, "shapes", arena, regionsize, 16, 16, 0, 0, 0, 1, 0, 0), 0);
    }
    void TearDown() override {
        removememclass(0);
        Unpack::TearDown();
    }
    // A shape header: type, chain offset (24-bit, signed), width, height.
    uint8_t *shape(size_t at, uint8_t type, int32_t chain, const bytes &stream) {
        uint8_t *s = arena + regionsize + at;
        uint32_t word = type | (uint32_t(chain) << 8);
        for (int i = 0; i < 4; i++) {
            s[i] = uint8_t(word >> (8 * i));
        }
        const uint8_t rest[12] = {4, 0, 0, 0, 2, 0, 0, 0, 0x11, 0x22, 0x33, 0x44};
        std::memcpy(s + 4, rest, 12);
        std::memcpy(s + 16, stream.data(), stream.size());
        return s;
    }
};

int32_t chainof(const uint8_t *s) {
    uint32_t field = s[1] | (s[2] << 8) | (uint32_t(s[3]) << 16);
    return int32_t(field << 8) >> 8;
}

const bytes eightbytes = header(0x10, 0xFB, 8) + bytes{0xE0, 1, 2, 3, 4, 0xE0, 5, 6, 7, 8, 0xFC};

// An unpacked shape is returned as it is. A packed one gets a copy: a class-0 block
// "unshp" with the unpacked type, the same header and the unpacked data; a chain offset
// is rebased so that it still reaches the same block. The shape tool's suite checks the
// copy's type, rows and forward chains on real shape files; here no chain and chains
// back, down to the 24-bit field's range.
TEST_F(UnpackShape, PackedShapeGetsAnUnpackedCopy) {
    uint8_t *plain = shape(0, 0x05, 0, {1, 2, 3, 4, 5, 6, 7, 8});
    const int32_t before = largestmemblock(0);
    EXPECT_EQ(unpackshape(plain), plain);
    EXPECT_EQ(largestmemblock(0), before);
    for (int32_t chain : {0, -16, -300000}) {
        SCOPED_TRACE(chain);
        uint8_t *s = shape(300000, 0x85, chain, eightbytes);
        uint8_t *copy = static_cast<uint8_t *>(unpackshape(s));
        ASSERT_NE(copy, nullptr);
        ASSERT_NE(copy, s);
        EXPECT_EQ(memblocksize(copy), 16 + 8);
        EXPECT_STREQ(memblockname(copy), "unshp");
        EXPECT_EQ(memblocktype(copy) & MB_CLASS, 0u);
        if (chain == 0) {
            EXPECT_EQ(chainof(copy), 0); // no chain stays no chain
        } else {
            EXPECT_EQ(copy + chainof(copy), s + chain);
        }
        EXPECT_EQ(0, std::memcmp(copy + 4, s + 4, 12));
        EXPECT_EQ(bytes(copy + 16, copy + 24), (bytes{1, 2, 3, 4, 5, 6, 7, 8}));
        EXPECT_EQ(s[0], 0x85); // the packed shape is left alone
        EXPECT_EQ(purgememadr(copy), 1);
    }
    EXPECT_TRUE(reports.empty());
}

} // namespace
