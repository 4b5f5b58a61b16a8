// memutil_test - fills, copies, byte order and pages.
//
// Copies sweep every count 0..300 with every source and destination alignment 0..15 and
// check the whole buffer, guard bytes included; overlapping moves run under each copier
// setting in both directions, against memmove.
#include "thistle/memutil.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include "plat/win32.h"
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

namespace {

size_t pagesize() {
#ifdef _WIN32
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    return si.dwPageSize;
#else
    return static_cast<size_t>(sysconf(_SC_PAGESIZE));
#endif
}

/* Two readable and writable pages, the second then made inaccessible. */
uint8_t *guardedpage(size_t page) {
#ifdef _WIN32
    void *map = VirtualAlloc(nullptr, 2 * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    DWORD old = 0;
    if (!map || !VirtualProtect(static_cast<uint8_t *>(map) + page, page, PAGE_NOACCESS, &old))
        return nullptr;
#else
    void *map = mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (map == MAP_FAILED || mprotect(static_cast<uint8_t *>(map) + page, page, PROT_NONE) != 0)
        return nullptr;
#endif
    return static_cast<uint8_t *>(map);
}

void freeguarded(uint8_t *map, size_t page) {
#ifdef _WIN32
    (void)page;
    VirtualFree(map, 0, MEM_RELEASE);
#else
    munmap(map, 2 * page);
#endif
}

constexpr size_t maxcount = 300;
constexpr size_t guard = 16;
constexpr size_t maxalign = 16;

using copier = void (*)(const void *, void *, size_t);

// Every value occurs, and the filler rarely equals the source byte meant for the same
// place, so stray writes show.
uint8_t sourcebyte(size_t i) {
    return static_cast<uint8_t>(i * 7 + 13 + (i >> 8));
}
uint8_t fillerbyte(size_t i) {
    return static_cast<uint8_t>(0xA5 ^ (i * 3));
}
std::vector<uint8_t> pattern(size_t size, uint8_t (*byte)(size_t)) {
    std::vector<uint8_t> v(size);
    for (size_t i = 0; i < size; i++) {
        v[i] = byte(i);
    }
    return v;
}

// A forward copier, or movebytes under one switch setting.
struct copycase {
    const char *name;
    copier copy;
    int mmx;
    int fpu;
};
void PrintTo(const copycase &c, std::ostream *os) {
    *os << c.name;
}

// Sets the switches for one test and restores their start values.
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

class MemutilCopy : public testing::TestWithParam<copycase> {};

// Non-overlapping copies: the destination gets the source bytes, nothing around it changes
// and the source stays as it was.
TEST_P(MemutilCopy, EveryCountAndAlignment) {
    const copycase &c = GetParam();
    switchsetting sw(c.mmx, c.fpu);
    const size_t size = guard + maxalign + maxcount + guard;
    const std::vector<uint8_t> src = pattern(size, sourcebyte);
    const std::vector<uint8_t> filler = pattern(size, fillerbyte);
    for (size_t sa = 0; sa < maxalign; sa++) {
        for (size_t da = 0; da < maxalign; da++) {
            for (size_t n = 0; n <= maxcount; n++) {
                std::vector<uint8_t> dst = filler, want = filler;
                std::memcpy(want.data() + guard + da, src.data() + guard + sa, n);
                c.copy(src.data() + guard + sa, dst.data() + guard + da, n);
                clearmmx();
                ASSERT_EQ(dst, want)
                    << "source align " << sa << ", dest align " << da << ", count " << n;
            }
        }
    }
    EXPECT_EQ(src, pattern(size, sourcebyte)) << "source was written";
}

// Bit patterns that a copy through floating-point registers could alter: signalling and
// quiet NaNs with payloads, the x87 integer indefinite, denormals, negative zero.
TEST_P(MemutilCopy, SpecialBitPatternsSurvive) {
    const copycase &c = GetParam();
    switchsetting sw(c.mmx, c.fpu);
    const uint64_t specials[] = {
        0x7FF0000000000001ull, 0x7FF4000000000000ull, 0xFFF0000000000001ull, 0x7FF8000000000001ull,
        0x8000000000000000ull, 0xFFFFFFFFFFFFFFFFull, 0x0000000000000001ull, 0x800FFFFFFFFFFFFFull,
        0x7FF0000000000000ull, 0x7FFFFFFFFFFFFFFFull, 0x0000000000000000ull,
    };
    uint64_t src[64]; // 512 bytes: the 128-, 32- and 8-byte blocks all run
    for (size_t i = 0; i < std::size(src); i++) {
        src[i] = specials[i % std::size(specials)];
    }
    for (size_t lead : {size_t{0}, size_t{3}}) {
        uint8_t dst[sizeof src + 8] = {};
        c.copy(src, dst + lead, sizeof src - 8);
        clearmmx();
        EXPECT_EQ(std::memcmp(dst + lead, src, sizeof src - 8), 0) << "destination offset " << lead;
    }
}

INSTANTIATE_TEST_SUITE_P(Copiers, MemutilCopy,
                         testing::Values(copycase{"copymmx", copymmx, 0, 1},
                                         copycase{"copyfpuint", copyfpuint, 0, 1},
                                         copycase{"copyfpudouble", copyfpudouble, 0, 1},
                                         copycase{"copylongs", copylongs, 0, 1},
                                         copycase{"movebytes_mmx", movebytes, 1, 0},
                                         copycase{"movebytes_fpuint", movebytes, 0, 1},
                                         copycase{"movebytes_longs", movebytes, 0, 0}),
                         [](const auto &info) { return std::string(info.param.name); });

class MemutilMoveOverlap : public testing::TestWithParam<copycase> {};

// Overlapping moves in both directions, across distances below, around and above the
// 8-, 32- and 128-byte blocks.
TEST_P(MemutilMoveOverlap, MatchesMemmove) {
    const copycase &c = GetParam();
    switchsetting sw(c.mmx, c.fpu);
    const size_t base = 160;
    const size_t size = base + maxalign + 160 + maxcount + guard;
    const std::vector<uint8_t> pristine = pattern(size, sourcebyte);
    for (long shift : {-144, -48, -16, 0, 16, 48, 144}) {
        for (size_t sa = 0; sa < maxalign; sa++) {
            for (size_t da = 0; da < maxalign; da++) {
                const size_t so = base + sa;
                const size_t dof = static_cast<size_t>(static_cast<long>(base + da) + shift);
                for (size_t n = 0; n <= maxcount; n++) {
                    std::vector<uint8_t> buf = pristine, want = pristine;
                    std::memmove(want.data() + dof, want.data() + so, n);
                    movebytes(buf.data() + so, buf.data() + dof, n);
                    ASSERT_EQ(buf, want) << "distance " << static_cast<long>(dof - so)
                                         << ", source align " << sa << ", count " << n;
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Switches, MemutilMoveOverlap,
                         testing::Values(copycase{"mmx", movebytes, 1, 0},
                                         copycase{"fpuint", movebytes, 0, 1},
                                         copycase{"longs", movebytes, 0, 0}),
                         [](const auto &info) { return std::string(info.param.name); });

// After movebytes on the MMX path the x87 unit must be usable: a copier that then loads
// x87 registers would otherwise store the integer indefinite instead of the data.
TEST(MemutilCopyMmx, LeavesFloatingPointUsable) {
    const std::vector<uint8_t> src = pattern(256, sourcebyte);
    uint8_t dst[256], out[256];
    {
        switchsetting sw(1, 0);
        movebytes(src.data(), dst, sizeof dst);
    }
    copyfpuint(dst, out, sizeof out);
    EXPECT_EQ(std::memcmp(out, src.data(), sizeof out), 0);
}

// Exact bytes from an odd address, with the odd tails of the word and long fills.
TEST(MemutilFill, StoresExactBytes) {
    const struct {
        int op; // 0 filllongs, 1 fillwords, 2 fillbytes, 3 zerobytes
        size_t count;
        uint32_t value;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {0, 11, 0x11223344, {0x44, 0x33, 0x22, 0x11, 0x44, 0x33, 0x22, 0x11, 0x44, 0x33, 0x44}},
        {0, 2, 0x11223344, {0x44, 0x33}},
        {0, 1, 0x11223344, {0x44}},
        {0, 0, 0x11223344, {}},
        {1, 5, 0xBEEF, {0xEF, 0xBE, 0xEF, 0xBE, 0xEF}},
        {2, 3, 0x5A, {0x5A, 0x5A, 0x5A}},
        {3, 2, 0, {0, 0}},
    };
    for (const auto &c : cases) {
        std::vector<uint8_t> buf(16, 0xCC), want(16, 0xCC);
        std::copy(c.bytes.begin(), c.bytes.end(), want.begin() + 1);
        if (c.op == 0) {
            filllongs(buf.data() + 1, c.count, c.value);
        } else if (c.op == 1) {
            fillwords(buf.data() + 1, c.count, static_cast<uint16_t>(c.value));
        } else if (c.op == 2) {
            fillbytes(buf.data() + 1, c.count, static_cast<uint8_t>(c.value));
        } else {
            zerobytes(buf.data() + 1, c.count);
        }
        EXPECT_EQ(buf, want) << "op " << c.op << " count " << c.count;
    }
}

// The writers store the low n bytes and nothing else, checked at the very end of a page
// that an inaccessible one follows: one byte too many would fault.
TEST(MemutilEndian, WritersStoreLowNBytesUpToThePageEnd) {
    const size_t page = pagesize();
    uint8_t *map = guardedpage(page);
    ASSERT_NE(map, nullptr);
    uint8_t *end = map + page;
    const uint32_t v = 0x8182838Au;
    for (uint32_t n = 1; n <= 4; n++) {
        const long at = -static_cast<long>(n);
        const uint32_t low = n == 4 ? v : v & ((1u << (8 * n)) - 1);
        std::memset(end - 6, 0xCC, 6);
        putbigendian(end - n, v, n);
        EXPECT_EQ(end[at], static_cast<uint8_t>(v >> (8 * (n - 1)))) << "n " << n;
        EXPECT_EQ(end[-1], 0x8A) << "n " << n;
        EXPECT_EQ(getbigendian(end - n, n), low) << "n " << n;
        putlittleendian(end - n, v, n);
        EXPECT_EQ(end[at], 0x8A) << "n " << n;
        EXPECT_EQ(getlittleendian(end - n, n), low) << "n " << n;
        EXPECT_EQ(end[at - 1], 0xCC) << "n " << n;
    }
    EXPECT_EQ(getlittleendian(end, 0), 0u);
    freeguarded(map, page);
}

TEST(MemutilPages, RoundsToWholeWritablePages) {
    const size_t page = pagesize();
    const struct {
        size_t ask, got;
    } cases[] = {{1, page}, {page, page}, {page + 1, 2 * page}, {3 * page - 1, 3 * page}};
    for (const auto &c : cases) {
        size_t size = c.ask;
        auto *mem = static_cast<uint8_t *>(allocpages(&size));
        ASSERT_NE(mem, nullptr) << "size " << c.ask;
        EXPECT_EQ(size, c.got) << "size " << c.ask;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(mem) % page, 0u);
        EXPECT_EQ(mem[0] | mem[size - 1], 0);
        fillbytes(mem, size, 0x5A);
        EXPECT_NE(freepages(mem), 0);
    }
    size_t none = 0;
    EXPECT_EQ(allocpages(&none), nullptr);
    EXPECT_EQ(none, 0u);
}

} // namespace
