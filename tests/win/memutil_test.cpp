// memutil_test - fills, copies, byte order and pages, checked against byte-by-byte models.
//
// Copies sweep every count 0..300 with every source and destination alignment 0..15 and
// check the whole destination buffer, guard bytes included. The overlap sweep runs
// movebytes under each copier setting in both directions.
#include "thistle/memutil.h"

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

namespace {

constexpr size_t maxcount = 300;
constexpr size_t guard = 16;
constexpr size_t maxalign = 16;

using copier = void (*)(const void *, void *, size_t);

// Source and filler bytes: every value occurs, and a filler byte rarely equals the
// source byte meant for the same place, so stray writes show.
uint8_t sourcebyte(size_t i) {
    return static_cast<uint8_t>(i * 7 + 13 + (i >> 8));
}
uint8_t fillerbyte(size_t i) {
    return static_cast<uint8_t>(0xA5 ^ (i * 3));
}

// A 64-byte aligned buffer whose contents are reset from a fixed pattern.
struct testbuffer {
    std::vector<uint8_t> storage;
    uint8_t *data;
    size_t size;
};

testbuffer makebuffer(size_t size, uint8_t (*pattern)(size_t)) {
    testbuffer b;
    b.storage.resize(size + 64);
    uintptr_t p = reinterpret_cast<uintptr_t>(b.storage.data());
    b.data = b.storage.data() + ((64 - p % 64) % 64);
    b.size = size;
    for (size_t i = 0; i < size; i++) {
        b.data[i] = pattern(i);
    }
    return b;
}

// Index of the first differing byte, or -1 when equal.
long firstdifference(const uint8_t *a, const uint8_t *b, size_t size) {
    if (std::memcmp(a, b, size) == 0) {
        return -1;
    }
    size_t i = 0;
    while (a[i] == b[i]) {
        i++;
    }
    return static_cast<long>(i);
}

// Copier under test: a forward copier, or movebytes under one switch setting.
struct copycase {
    const char *name;
    copier copy;
    int mmx;
    int fpu;
};

const copycase copycases[] = {
    {"copymmx", copymmx, 0, 1},
    {"copyfpuint", copyfpuint, 0, 1},
    {"copyfpudouble", copyfpudouble, 0, 1},
    {"copylongs", copylongs, 0, 1},
    {"movebytes_mmx", movebytes, 1, 0},
    {"movebytes_fpuint", movebytes, 0, 1},
    {"movebytes_longs", movebytes, 0, 0},
};
const copycase movecases[] = {
    {"mmx", movebytes, 1, 0},
    {"fpuint", movebytes, 0, 1},
    {"longs", movebytes, 0, 0},
};

// Restores the switches to their start values after a test that changes them.
struct switchsetting {
    switchsetting(int mmx, int fpu) {
        usemmx = mmx;
        usefpucopy = fpu;
    }
    ~switchsetting() {
        usemmx = 0;
        usefpucopy = 1;
    }
};

void PrintTo(const copycase &c, std::ostream *os) {
    *os << c.name;
}

std::string casename(const testing::TestParamInfo<copycase> &info) {
    return info.param.name;
}

class MemutilCopySweep : public testing::TestWithParam<copycase> {};

// Non-overlapping copies: the destination gets the source bytes and nothing around it
// changes; the source stays as it was.
TEST_P(MemutilCopySweep, NonOverlappingMatchesModel) {
    const copycase &c = GetParam();
    switchsetting sw(c.mmx, c.fpu);
    const size_t size = guard + maxalign + maxcount + guard;
    testbuffer src = makebuffer(size, sourcebyte);
    testbuffer pristine = makebuffer(size, fillerbyte);
    testbuffer dst = makebuffer(size, fillerbyte);
    testbuffer expected = makebuffer(size, fillerbyte);

    for (size_t sa = 0; sa < maxalign; sa++) {
        for (size_t da = 0; da < maxalign; da++) {
            for (size_t n = 0; n <= maxcount; n++) {
                std::memcpy(dst.data, pristine.data, size);
                std::memcpy(expected.data, pristine.data, size);
                for (size_t i = 0; i < n; i++) {
                    expected.data[guard + da + i] = src.data[guard + sa + i];
                }
                c.copy(src.data + guard + sa, dst.data + guard + da, n);
                clearmmx();
                long at = firstdifference(dst.data, expected.data, size);
                if (at >= 0) {
                    ADD_FAILURE() << c.name << ": source align " << sa << ", dest align " << da
                                  << ", count " << n << ": wrong byte at dest offset "
                                  << at - static_cast<long>(guard + da);
                    return;
                }
            }
        }
    }
    testbuffer original = makebuffer(size, sourcebyte);
    EXPECT_EQ(firstdifference(src.data, original.data, size), -1) << "source was written";
}

class MemutilMoveOverlap : public testing::TestWithParam<copycase> {};

// Overlapping moves in both directions, across distances below, around and above the
// 8-, 32- and 128-byte blocks, against a model that copies through a temporary.
TEST_P(MemutilMoveOverlap, MatchesModel) {
    const copycase &c = GetParam();
    switchsetting sw(c.mmx, c.fpu);
    const long shifts[] = {-144, -48, -16, 0, 16, 48, 144};
    const size_t base = 160;
    const size_t size = base + maxalign + 160 + maxcount + guard;
    testbuffer pristine = makebuffer(size, sourcebyte);
    testbuffer buf = makebuffer(size, sourcebyte);
    testbuffer expected = makebuffer(size, sourcebyte);
    uint8_t temp[maxcount];

    for (long shift : shifts) {
        for (size_t sa = 0; sa < maxalign; sa++) {
            for (size_t da = 0; da < maxalign; da++) {
                const size_t so = base + sa;
                const size_t dof = static_cast<size_t>(static_cast<long>(base + da) + shift);
                for (size_t n = 0; n <= maxcount; n++) {
                    std::memcpy(buf.data, pristine.data, size);
                    std::memcpy(expected.data, pristine.data, size);
                    for (size_t i = 0; i < n; i++) {
                        temp[i] = pristine.data[so + i];
                    }
                    for (size_t i = 0; i < n; i++) {
                        expected.data[dof + i] = temp[i];
                    }
                    movebytes(buf.data + so, buf.data + dof, n);
                    long at = firstdifference(buf.data, expected.data, size);
                    if (at >= 0) {
                        ADD_FAILURE() << c.name << ": distance "
                                      << static_cast<long>(dof) - static_cast<long>(so)
                                      << ", source align " << sa << ", dest align " << da
                                      << ", count " << n << ": wrong byte at buffer offset " << at;
                        return;
                    }
                }
            }
        }
    }
}

// Bit patterns that a copy through floating-point registers could alter: signalling and
// quiet NaNs with payloads, the x87 integer indefinite, denormals, negative zero.
TEST_P(MemutilCopySweep, SpecialBitPatternsSurvive) {
    const copycase &c = GetParam();
    switchsetting sw(c.mmx, c.fpu);
    const uint64_t specials[] = {
        0x7FF0000000000001ull, 0x7FF4000000000000ull, 0xFFF0000000000001ull, 0x7FF8000000000001ull,
        0x8000000000000000ull, 0xFFFFFFFFFFFFFFFFull, 0x0000000000000001ull, 0x800FFFFFFFFFFFFFull,
        0x7FF0000000000000ull, 0x7FFFFFFFFFFFFFFFull, 0x0000000000000000ull,
    };
    const size_t units = 64; // 512 bytes: the 128-, 32- and 8-byte blocks all run
    testbuffer src = makebuffer(units * 8 + 8, fillerbyte);
    testbuffer dst = makebuffer(units * 8 + 8, fillerbyte);
    for (size_t i = 0; i < units; i++) {
        std::memcpy(src.data + 8 * i, &specials[i % std::size(specials)], 8);
    }
    for (size_t lead : {size_t{0}, size_t{3}}) {
        std::memset(dst.data, 0, dst.size);
        c.copy(src.data, dst.data + lead, units * 8 - 8);
        clearmmx();
        EXPECT_EQ(firstdifference(dst.data + lead, src.data, units * 8 - 8), -1)
            << c.name << " with destination offset " << lead;
    }
}

INSTANTIATE_TEST_SUITE_P(Copiers, MemutilCopySweep, testing::ValuesIn(copycases), casename);
INSTANTIATE_TEST_SUITE_P(Switches, MemutilMoveOverlap, testing::ValuesIn(movecases), casename);

// After movebytes on the MMX path the x87 unit must be usable: a copier that then loads
// x87 registers would otherwise store the integer indefinite instead of the data.
TEST(MemutilCopy, MmxPathLeavesFloatingPointUsable) {
    uint8_t src[256], dst[256], out[256];
    for (size_t i = 0; i < sizeof src; i++) {
        src[i] = sourcebyte(i);
    }
    {
        switchsetting sw(1, 0);
        movebytes(src, dst, sizeof src);
    }
    copyfpuint(dst, out, sizeof out);
    EXPECT_EQ(std::memcmp(out, src, sizeof src), 0);
}

// The worked examples: a one-byte shift up copies backwards; a 7-byte copy to an odd
// address is all alignment steps.
TEST(MemutilCopy, DocumentedExamples) {
    uint8_t b[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    movebytes(b, b + 1, 10);
    const uint8_t shifted[16] = {1, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 12, 13, 14, 15, 16};
    EXPECT_EQ(std::memcmp(b, shifted, 16), 0);

    uint8_t c[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    movebytes(c + 1, c, 10);
    const uint8_t down[16] = {2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 11, 12, 13, 14, 15, 16};
    EXPECT_EQ(std::memcmp(c, down, 16), 0);

    alignas(8) uint8_t d[16] = {};
    const uint8_t seven[7] = {0x71, 0x72, 0x73, 0x74, 0x75, 0x76, 0x77};
    for (copier copy : {copymmx, copyfpuint, copyfpudouble, copylongs}) {
        std::memset(d, 0, sizeof d);
        copy(seven, d + 1, 7);
        clearmmx();
        const uint8_t want[16] = {0, 0x71, 0x72, 0x73, 0x74, 0x75, 0x76, 0x77};
        EXPECT_EQ(std::memcmp(d, want, 16), 0);
    }
}

// ---- fills ---------------------------------------------------------------------------

struct fillcase {
    const char *what;
    size_t count;
    uint32_t value;
    std::vector<uint8_t> bytes;
};

// Exact byte sequences, including the odd tails of the word and long fills.
TEST(MemutilFill, StoresExactBytes) {
    const fillcase cases[] = {
        {"filllongs", 7, 0x11223344, {0x44, 0x33, 0x22, 0x11, 0x44, 0x33, 0x44}},
        {"filllongs", 3, 0x11223344, {0x44, 0x33, 0x44}},
        {"filllongs", 2, 0x11223344, {0x44, 0x33}},
        {"filllongs", 1, 0x11223344, {0x44}},
        {"filllongs", 5, 0x11223344, {0x44, 0x33, 0x22, 0x11, 0x44}},
        {"filllongs", 0, 0x11223344, {}},
        {"fillwords", 5, 0xBEEF, {0xEF, 0xBE, 0xEF, 0xBE, 0xEF}},
        {"fillwords", 3, 0xBEEF, {0xEF, 0xBE, 0xEF}},
        {"fillbytes", 3, 0x5A, {0x5A, 0x5A, 0x5A}},
        {"zerobytes", 2, 0, {0, 0}},
    };
    for (const fillcase &c : cases) {
        uint8_t buf[16];
        std::memset(buf, 0xCC, sizeof buf);
        const std::string what = c.what;
        if (what == "filllongs") {
            filllongs(buf + 1, c.count, c.value);
        } else if (what == "fillwords") {
            fillwords(buf + 1, c.count, static_cast<uint16_t>(c.value));
        } else if (what == "fillbytes") {
            fillbytes(buf + 1, c.count, static_cast<uint8_t>(c.value));
        } else {
            zerobytes(buf + 1, c.count);
        }
        std::vector<uint8_t> want(16, 0xCC);
        std::copy(c.bytes.begin(), c.bytes.end(), want.begin() + 1);
        EXPECT_EQ(std::vector<uint8_t>(buf, buf + 16), want) << c.what << " count " << c.count;
    }
}

// Every count and alignment: the pattern runs from the start address (not from an
// aligned one) and nothing outside the area is written.
TEST(MemutilFill, SweepKeepsGuardsAndPattern) {
    const size_t maxfill = 70;
    const size_t size = guard + maxalign + maxfill + guard;
    const uint8_t pat[4] = {0x44, 0x33, 0x22, 0x11};
    testbuffer buf = makebuffer(size, fillerbyte);
    testbuffer expected = makebuffer(size, fillerbyte);
    for (size_t a = 0; a < maxalign; a++) {
        for (size_t n = 0; n <= maxfill; n++) {
            for (int op = 0; op < 3; op++) {
                for (size_t i = 0; i < size; i++) {
                    buf.data[i] = expected.data[i] = fillerbyte(i);
                }
                uint8_t *at = expected.data + guard + a;
                if (op == 0) {
                    fillbytes(buf.data + guard + a, n, 0x5A);
                    std::fill(at, at + n, 0x5A);
                } else if (op == 1) {
                    filllongs(buf.data + guard + a, n, 0x11223344);
                    for (size_t i = 0; i < n; i++) {
                        at[i] = pat[i % 4];
                    }
                    if (n % 4 == 3) {
                        at[n - 1] = pat[0];
                    }
                } else {
                    fillwords(buf.data + guard + a, n, 0x3344);
                    for (size_t i = 0; i < n; i++) {
                        at[i] = pat[i % 2];
                    }
                }
                long d = firstdifference(buf.data, expected.data, size);
                ASSERT_EQ(d, -1) << "op " << op << ", align " << a << ", count " << n;
            }
        }
    }
}

// ---- byte order ----------------------------------------------------------------------

TEST(MemutilEndian, ReadersTakeOnlyNBytes) {
    const uint8_t b[4] = {0x12, 0x34, 0x56, 0x78};
    const uint8_t hi[4] = {0xFF, 0xFE, 0x80, 0x01};
    const struct {
        uint32_t n, big, little, bighi, littlehi;
    } cases[] = {
        {0, 0, 0, 0, 0},
        {1, 0x12, 0x12, 0xFF, 0xFF},
        {2, 0x1234, 0x3412, 0xFFFE, 0xFEFF},
        {3, 0x123456, 0x563412, 0xFFFE80, 0x80FEFF},
        {4, 0x12345678, 0x78563412, 0xFFFE8001, 0x0180FEFF},
    };
    for (const auto &c : cases) {
        if (c.n > 0) {
            EXPECT_EQ(getbigendian(b, c.n), c.big) << "n " << c.n;
            EXPECT_EQ(getbigendian(hi, c.n), c.bighi) << "n " << c.n;
        }
        EXPECT_EQ(getlittleendian(b, c.n), c.little) << "n " << c.n;
        EXPECT_EQ(getlittleendian(hi, c.n), c.littlehi) << "n " << c.n;
    }
}

TEST(MemutilEndian, WritersStoreLowNBytes) {
    uint8_t b[6];
    std::memset(b, 0xCC, sizeof b);
    putbigendian(b + 1, 0x00ABCDEF, 3);
    const uint8_t big3[6] = {0xCC, 0xAB, 0xCD, 0xEF, 0xCC, 0xCC};
    EXPECT_EQ(std::memcmp(b, big3, 6), 0);

    std::memset(b, 0xCC, sizeof b);
    putlittleendian(b + 1, 0x00ABCDEF, 3);
    const uint8_t little3[6] = {0xCC, 0xEF, 0xCD, 0xAB, 0xCC, 0xCC};
    EXPECT_EQ(std::memcmp(b, little3, 6), 0);

    // Round trips for every width, with the top bit set in each byte.
    for (uint32_t n = 1; n <= 4; n++) {
        const uint32_t v = 0x8182838Au;
        const uint32_t low = n == 4 ? v : v & ((1u << (8 * n)) - 1);
        putbigendian(b, v, n);
        EXPECT_EQ(getbigendian(b, n), low) << "n " << n;
        putlittleendian(b, v, n);
        EXPECT_EQ(getlittleendian(b, n), low) << "n " << n;
    }
}

// Numbers at the very end of a readable page, right before an inaccessible one: reading
// or writing one byte too many would fault.
TEST(MemutilEndian, NumberAtEndOfPageTouchesNothingBeyond) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    void *map = mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(map, MAP_FAILED);
    uint8_t *p = static_cast<uint8_t *>(map);
    ASSERT_EQ(mprotect(p + page, page, PROT_NONE), 0);
    uint8_t *end = p + page;
    end[-4] = 0x12, end[-3] = 0x34, end[-2] = 0x56, end[-1] = 0x78;

    EXPECT_EQ(getlittleendian(end, 0), 0u);
    EXPECT_EQ(getbigendian(end - 1, 1), 0x78u);
    EXPECT_EQ(getbigendian(end - 2, 2), 0x5678u);
    EXPECT_EQ(getbigendian(end - 3, 3), 0x345678u);
    EXPECT_EQ(getlittleendian(end - 1, 1), 0x78u);
    EXPECT_EQ(getlittleendian(end - 2, 2), 0x7856u);
    EXPECT_EQ(getlittleendian(end - 3, 3), 0x785634u);
    putbigendian(end - 3, 0x00ABCDEF, 3);
    EXPECT_EQ(getbigendian(end - 3, 3), 0xABCDEFu);
    putlittleendian(end - 2, 0xBEEF, 2);
    EXPECT_EQ(getlittleendian(end - 2, 2), 0xBEEFu);
    munmap(map, 2 * page);
}

// ---- pages ---------------------------------------------------------------------------

TEST(MemutilPages, RoundsToWholeWritablePages) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    const struct {
        size_t ask, got;
    } cases[] = {{1, page}, {page, page}, {page + 1, 2 * page}, {3 * page - 1, 3 * page}};
    for (const auto &c : cases) {
        size_t size = c.ask;
        void *mem = allocpages(&size);
        ASSERT_NE(mem, nullptr) << "size " << c.ask;
        EXPECT_EQ(size, c.got) << "size " << c.ask;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(mem) % page, 0u);
        uint8_t *b = static_cast<uint8_t *>(mem);
        EXPECT_EQ(b[0], 0);
        EXPECT_EQ(b[size - 1], 0);
        fillbytes(b, size, 0x5A);
        EXPECT_EQ(b[size - 1], 0x5A);
        EXPECT_NE(freepages(mem), 0);
    }
    size_t none = 0;
    EXPECT_EQ(allocpages(&none), nullptr);
    EXPECT_EQ(none, 0u);
}

} // namespace
