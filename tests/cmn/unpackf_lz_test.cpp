// unpackf_lz_test - the LZ decoder where its fast loop hands over to the careful one: random
// well-formed streams of every output size around the loop's margin, matches of every short
// distance and of long lengths in and out of the fast loop, and hostile streams whose
// faults lie inside the fast loop's reach (bad distances, overlong matches, truncation).
#include "thistle/unpack.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

using bytes = std::vector<uint8_t>;

struct rng {
    uint32_t state;
    uint32_t next(uint32_t n) { // 0..n-1
        state = state * 1103515245 + 12345;
        return (state >> 8) % n;
    }
};

// A stream under construction with the output it must decode to; matches are expanded
// byte after byte, which is what every decoder must reproduce.
struct lzstream {
    bytes cmds;
    bytes out;

    void literals(const bytes &lits) {
        cmds.insert(cmds.end(), lits.begin(), lits.end());
        out.insert(out.end(), lits.begin(), lits.end());
    }
    void expand(size_t dist, size_t len) {
        for (size_t i = 0; i < len; i++) {
            out.push_back(out[out.size() - dist]);
        }
    }
    // Command bytes of the smallest form that carries (lits, dist, len); lits <= 3.
    void command(const bytes &lits, size_t dist, size_t len) {
        const size_t n = lits.size(), d = dist - 1;
        if (d < 1024 && len <= 10) {
            cmds.push_back(uint8_t(((d >> 3) & 0x60) | ((len - 3) << 2) | n));
            cmds.push_back(uint8_t(d));
        } else if (d < 16384 && len >= 4 && len <= 67) {
            cmds.push_back(uint8_t(0x80 | (len - 4)));
            cmds.push_back(uint8_t((n << 6) | (d >> 8)));
            cmds.push_back(uint8_t(d));
        } else {
            const size_t l = len - 5;
            cmds.push_back(uint8_t(0xC0 | ((d >> 12) & 0x10) | ((l >> 6) & 0x0C) | n));
            cmds.push_back(uint8_t(d >> 8));
            cmds.push_back(uint8_t(d));
            cmds.push_back(uint8_t(l));
        }
        literals(lits);
        expand(dist, len);
    }
    void literalrun(const bytes &lits) { // size a multiple of 4, at most 112
        cmds.push_back(uint8_t(0xE0 + lits.size() / 4 - 1));
        literals(lits);
    }
    void end(const bytes &lits) { // at most 3
        cmds.push_back(uint8_t(0xFC | lits.size()));
        literals(lits);
    }
    bytes stream(uint32_t size) const {
        bytes s = {0x10, 0xFB, uint8_t(size >> 16), uint8_t(size >> 8), uint8_t(size)};
        s.insert(s.end(), cmds.begin(), cmds.end());
        return s;
    }
    bytes stream() const {
        return stream(uint32_t(out.size()));
    }
};

bytes randombytes(rng &r, size_t n) {
    bytes b(n);
    for (uint8_t &x : b) {
        x = uint8_t(r.next(4)); // a small alphabet, so overlapping copies show their order
    }
    return b;
}

// Random commands of every form for `size` output bytes, less up to 3 left for the end.
lzstream randombody(rng &r, size_t size) {
    lzstream z;
    while (size - z.out.size() > 3) {
        const size_t left = size - z.out.size();
        const uint32_t kind = r.next(8);
        if (z.out.empty() || kind == 0) {
            const size_t n = 4 * (1 + r.next(uint32_t(std::min<size_t>(112, left) / 4)));
            z.literalrun(randombytes(r, n));
            continue;
        }
        const size_t lits = std::min<size_t>(r.next(4), left - 3);
        const size_t maxlen = std::min<size_t>(left - lits, kind < 4 ? 10 : kind < 6 ? 67 : 1028);
        const size_t reach = z.out.size() + lits;
        size_t dist = 1 + (r.next(2) ? r.next(uint32_t(std::min<size_t>(reach, 20)))
                                     : r.next(uint32_t(std::min<size_t>(reach, 131072))));
        // Far matches have a shortest length in their command forms.
        const size_t minlen = dist > 16384 ? 5 : dist > 1024 ? 4 : 3;
        if (minlen > maxlen) {
            dist = 1 + r.next(uint32_t(std::min<size_t>(reach, 1024)));
        }
        const size_t lo = dist > 16384 ? 5 : dist > 1024 ? 4 : 3;
        const size_t len = lo + r.next(uint32_t(maxlen - lo + 1));
        z.command(randombytes(r, lits), dist, len);
    }
    return z;
}

// Literal commands and the end command for n more output bytes.
void finish(lzstream &z, rng &r, size_t n) {
    while (n >= 4) {
        const size_t k = std::min<size_t>(112, n / 4 * 4);
        z.literalrun(randombytes(r, k));
        n -= k;
    }
    z.end(randombytes(r, n));
}

// A random well-formed stream of exactly `size` output bytes.
lzstream randomstream(rng &r, size_t size) {
    lzstream z = randombody(r, size);
    finish(z, r, size - z.out.size());
    return z;
}

// Decodes from a heap copy of exactly the stream (ASan sees any overread) into exactly
// `capacity` bytes followed by guards that must survive. Returns the result; `out` gets
// the first `capacity` bytes.
int32_t bounded(const bytes &stream, size_t capacity, bytes &out) {
    auto src = std::make_unique<uint8_t[]>(stream.size());
    std::memcpy(src.get(), stream.data(), stream.size());
    bytes dst(capacity + 32, 0xA5);
    const int32_t result = lzunpackbounded(src.get(), stream.size(), dst.data(), capacity);
    for (size_t i = capacity; i < dst.size(); i++) {
        EXPECT_EQ(dst[i], 0xA5) << "guard byte " << i - capacity;
    }
    out.assign(dst.begin(), dst.begin() + long(capacity));
    return result;
}

// Both decoders must give the expected bytes and leave everything behind them alone.
void expectdecodes(const lzstream &z) {
    const bytes s = z.stream();
    bytes out;
    ASSERT_EQ(bounded(s, z.out.size(), out), int32_t(z.out.size()));
    EXPECT_EQ(out, z.out);

    auto src = std::make_unique<uint8_t[]>(s.size());
    std::memcpy(src.get(), s.data(), s.size());
    bytes plain(z.out.size() + 32, 0xA5);
    EXPECT_EQ(lzunpack(src.get(), plain.data(), 1), int32_t(z.out.size()));
    EXPECT_TRUE(std::equal(z.out.begin(), z.out.end(), plain.begin())) << "plain decode";
    EXPECT_TRUE(std::all_of(plain.begin() + long(z.out.size()), plain.end(), [](uint8_t b) {
        return b == 0xA5;
    })) << "plain decode wrote behind the declared end";
}

TEST(LzFastLoop, RandomStreamsOfEverySizeAroundTheMargin) {
    for (size_t size = 0; size <= 700; size++) {
        for (uint32_t seed = 1; seed <= 3; seed++) {
            SCOPED_TRACE(testing::Message() << "size " << size << " seed " << seed);
            rng r{uint32_t(size * 7919 + seed)};
            expectdecodes(randomstream(r, size));
        }
    }
}

TEST(LzFastLoop, LargeRandomStreams) {
    for (uint32_t seed = 1; seed <= 4; seed++) {
        rng r{seed};
        expectdecodes(randomstream(r, 200000 + seed * 997));
    }
}

TEST(LzFastLoop, EveryShortDistanceAndLength) {
    // Each match once deep inside the stream (fast loop) and once ending exactly at the
    // declared end (careful loop), and once ending 1 to 20 bytes before it.
    const size_t lengths[] = {3, 4, 5, 7, 8, 9, 10, 11, 15, 16, 17, 31, 32, 33, 67, 68, 500, 1028};
    for (size_t dist = 1; dist <= 33; dist++) {
        for (size_t len : lengths) {
            for (size_t tail : {size_t(0), size_t(1), size_t(7), size_t(15), size_t(16), size_t(20),
                                size_t(300)}) {
                SCOPED_TRACE(testing::Message()
                             << "dist " << dist << " len " << len << " tail " << tail);
                rng r{uint32_t(dist * 131 + len)};
                lzstream z;
                z.literalrun(randombytes(r, 36));
                z.command(randombytes(r, len % 4), dist, len);
                finish(z, r, tail);
                expectdecodes(z);
            }
        }
    }
}

// A long valid prefix without an end command, which keeps the fast loop running up to
// the command under test.
lzstream longprefix() {
    rng r{99};
    return randombody(r, 5000);
}

TEST(LzFastLoop, PlainDecodeReadsNothingBehindTheEndCommand) {
    // A long match taken in the fast loop leaves only a few bytes to come, made by the
    // fewest source bytes there can be: a 2-byte command and a bare end command. The
    // plain decoder cannot measure the source, so a wide read of the long command's
    // literals would run past the stream here (ASan sees it: the copy has exactly the
    // stream's size).
    for (size_t lits = 0; lits <= 3; lits++) {
        for (size_t left = 0; left <= 14; left++) {
            SCOPED_TRACE(testing::Message() << "lits " << lits << " left " << left);
            rng r{uint32_t(lits * 31 + left)};
            lzstream z;
            z.literalrun(randombytes(r, 40));
            z.command(randombytes(r, lits), 40, 300);
            if (left >= 3) {
                z.command({}, 1 + left % 7, std::min<size_t>(left, 10));
            }
            finish(z, r, left - std::min<size_t>(left >= 3 ? left : 0, 10));
            expectdecodes(z);
        }
    }
}

TEST(LzFastLoop, HostileStreamsInsideTheMargin) {
    bytes out;
    {
        SCOPED_TRACE("distance reaching before the output");
        lzstream z = longprefix();
        const size_t d = z.out.size(); // distance d + 1
        z.cmds.insert(z.cmds.end(), {0xC0, uint8_t(d >> 8), uint8_t(d), 0});
        bytes s = z.stream(uint32_t(z.out.size() + 2000));
        s.insert(s.end(), 400, 0xE0); // plenty of source left behind the fault
        EXPECT_EQ(bounded(s, z.out.size() + 2000, out), UNPACK_EMALFORMED);
    }
    {
        SCOPED_TRACE("long match running past the declared end");
        for (size_t over = 1; over <= 20; over++) {
            lzstream z = longprefix();
            z.cmds.insert(z.cmds.end(), {0xCC, 0x00, 0x00, 0xFF}); // distance 1, length 1028
            bytes s = z.stream(uint32_t(z.out.size() + 1028 - over));
            s.insert(s.end(), 400, 0xFC);
            EXPECT_EQ(bounded(s, z.out.size() + 1028 - over, out), UNPACK_EOVERFLOW) << over;
        }
    }
    {
        SCOPED_TRACE("long match fitting exactly with no room to spare");
        for (size_t room = 0; room <= 20; room++) {
            rng r{uint32_t(room)};
            lzstream z = longprefix();
            z.command({}, 3, 1028);
            finish(z, r, room);
            expectdecodes(z);
        }
    }
    {
        SCOPED_TRACE("every truncation of a long stream's last 300 bytes");
        rng r{5};
        lzstream z = longprefix();
        finish(z, r, 300);
        const bytes s = z.stream();
        for (size_t cut = 1; cut <= 300; cut++) {
            const bytes prefix(s.begin(), s.end() - long(cut));
            EXPECT_EQ(bounded(prefix, z.out.size(), out), UNPACK_ETRUNCATED) << cut;
        }
    }
    {
        SCOPED_TRACE("capacity one byte short writes nothing");
        rng r{6};
        lzstream z = longprefix();
        finish(z, r, 2);
        bytes dst(z.out.size() - 1 + 32, 0xA5);
        const bytes s = z.stream();
        EXPECT_EQ(lzunpackbounded(s.data(), s.size(), dst.data(), z.out.size() - 1),
                  UNPACK_EOVERFLOW);
        EXPECT_TRUE(std::all_of(dst.begin(), dst.end(), [](uint8_t b) { return b == 0xA5; }));
    }
}

} // namespace
