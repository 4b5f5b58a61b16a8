/*
 * win/memutil - the library's fills, copies, byte-order readers/writers and page allocator.
 *
 * Threads: no locks. The page size is fetched once and kept in an atomic so that threads
 * racing on the first allocpages all store and read the same value.
 * Platform: VirtualAlloc, VirtualFree and GetSystemInfo through plat/win32.h.
 * Limits: on x86 the wide copiers use MMX, x87 and SSE2 registers through inline assembly;
 * on other processors every copier moves plain 64-bit integers, so the switches select
 * copiers that differ only in name there.
 *
 * Forward copier layout, for a destination that is not aligned:
 *
 *   dst: |1|2 2|4 4 4 4|128 x k ........|32 x m ...|8 x j|4|2|1|
 *         ^ alignment steps, each taken only if the address needs it and the bytes remain
 *
 * Within each block all loads are done before any store, which keeps every copier correct
 * when the destination lies below an overlapping source (movebytes relies on that).
 */
#include "thistle/memutil.h"

#include "plat/win32.h"

#include <atomic>
#include <cstring>

int usemmx = 0;
int usefpucopy = 1;

namespace {

/* Unaligned loads and stores through memcpy of a fixed size: the compiler turns them into
 * single moves, without the aliasing and alignment faults of pointer casts. */
inline uint16_t load16(const uint8_t *p) {
    uint16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline uint32_t load32(const uint8_t *p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline void store16(uint8_t *p, uint16_t v) {
    std::memcpy(p, &v, sizeof v);
}
inline void store32(uint8_t *p, uint32_t v) {
    std::memcpy(p, &v, sizeof v);
}

/* One block mover: copies its fixed number of bytes from src to dst. */
using blockmove = void (*)(const uint8_t *src, uint8_t *dst);

/* ---- 32-bit words (copylongs) ---------------------------------------------------- */
/* The empty asm pins each word in a general register; without it the compiler merges the
 * words into vector moves and this would no longer be the plain-register copier. */
inline uint32_t inregister(uint32_t w) {
    __asm__("" : "+r"(w));
    return w;
}
inline void longs32(const uint8_t *src, uint8_t *dst) {
    uint32_t w0 = inregister(load32(src)), w1 = inregister(load32(src + 4));
    uint32_t w2 = inregister(load32(src + 8)), w3 = inregister(load32(src + 12));
    uint32_t w4 = inregister(load32(src + 16)), w5 = inregister(load32(src + 20));
    uint32_t w6 = inregister(load32(src + 24)), w7 = inregister(load32(src + 28));
    store32(dst, w0);
    store32(dst + 4, w1);
    store32(dst + 8, w2);
    store32(dst + 12, w3);
    store32(dst + 16, w4);
    store32(dst + 20, w5);
    store32(dst + 24, w6);
    store32(dst + 28, w7);
}
inline void longs8(const uint8_t *src, uint8_t *dst) {
    uint32_t a = inregister(load32(src));
    uint32_t b = inregister(load32(src + 4));
    store32(dst, a);
    store32(dst + 4, b);
}

#if defined(__x86_64__) || defined(__i386__)

#define X87_REGS "st", "st(1)", "st(2)", "st(3)", "st(4)", "st(5)", "st(6)", "st(7)"

/* ---- MMX registers (copymmx) ----------------------------------------------------- */
#if defined(__MMX__)
#define MMX_REGS "mm0", "mm1", "mm2", "mm3", "mm4", "mm5", "mm6", "mm7"
#else
/* A target built without MMX code generation does not know the mm names; they are the x87
 * registers under another name, so those are what the copy clobbers. */
#define MMX_REGS X87_REGS
#endif

inline void mmx128(const uint8_t *src, uint8_t *dst) {
    __asm__ volatile("movq 0(%0), %%mm0\n\tmovq 8(%0), %%mm1\n\t"
                     "movq 16(%0), %%mm2\n\tmovq 24(%0), %%mm3\n\t"
                     "movq 32(%0), %%mm4\n\tmovq 40(%0), %%mm5\n\t"
                     "movq 48(%0), %%mm6\n\tmovq 56(%0), %%mm7\n\t"
                     "movq %%mm0, 0(%1)\n\tmovq %%mm1, 8(%1)\n\t"
                     "movq %%mm2, 16(%1)\n\tmovq %%mm3, 24(%1)\n\t"
                     "movq %%mm4, 32(%1)\n\tmovq %%mm5, 40(%1)\n\t"
                     "movq %%mm6, 48(%1)\n\tmovq %%mm7, 56(%1)\n\t"
                     "movq 64(%0), %%mm0\n\tmovq 72(%0), %%mm1\n\t"
                     "movq 80(%0), %%mm2\n\tmovq 88(%0), %%mm3\n\t"
                     "movq 96(%0), %%mm4\n\tmovq 104(%0), %%mm5\n\t"
                     "movq 112(%0), %%mm6\n\tmovq 120(%0), %%mm7\n\t"
                     "movq %%mm0, 64(%1)\n\tmovq %%mm1, 72(%1)\n\t"
                     "movq %%mm2, 80(%1)\n\tmovq %%mm3, 88(%1)\n\t"
                     "movq %%mm4, 96(%1)\n\tmovq %%mm5, 104(%1)\n\t"
                     "movq %%mm6, 112(%1)\n\tmovq %%mm7, 120(%1)"
                     :
                     : "r"(src), "r"(dst)
                     : "memory", MMX_REGS);
}
inline void mmx32(const uint8_t *src, uint8_t *dst) {
    __asm__ volatile("movq 0(%0), %%mm0\n\tmovq 8(%0), %%mm1\n\t"
                     "movq 16(%0), %%mm2\n\tmovq 24(%0), %%mm3\n\t"
                     "movq %%mm0, 0(%1)\n\tmovq %%mm1, 8(%1)\n\t"
                     "movq %%mm2, 16(%1)\n\tmovq %%mm3, 24(%1)"
                     :
                     : "r"(src), "r"(dst)
                     : "memory", MMX_REGS);
}
inline void mmx8(const uint8_t *src, uint8_t *dst) {
    __asm__ volatile("movq (%0), %%mm0\n\tmovq %%mm0, (%1)"
                     :
                     : "r"(src), "r"(dst)
                     : "memory", MMX_REGS);
}

/* ---- x87 64-bit integers (copyfpuint) -------------------------------------------- */
/* fild/fistp of a 64-bit integer are exact for every bit pattern: the 64-bit significand
 * holds any int64 and precision control does not apply to loads and stores. The stack is
 * empty between calls (the calling convention guarantees it), so eight loads fit. Stores
 * pop in reverse order of the loads. */
#define FPU_LOAD8(o)                                                                               \
    "fildq " o "+0(%0)\n\tfildq " o "+8(%0)\n\tfildq " o "+16(%0)\n\tfildq " o "+24(%0)\n\t"       \
    "fildq " o "+32(%0)\n\tfildq " o "+40(%0)\n\tfildq " o "+48(%0)\n\tfildq " o "+56(%0)\n\t"
#define FPU_STORE8(o)                                                                              \
    "fistpq " o "+56(%1)\n\tfistpq " o "+48(%1)\n\tfistpq " o "+40(%1)\n\t"                        \
    "fistpq " o "+32(%1)\n\tfistpq " o "+24(%1)\n\tfistpq " o "+16(%1)\n\t"                        \
    "fistpq " o "+8(%1)\n\tfistpq " o "+0(%1)\n\t"

inline void fpuint128(const uint8_t *src, uint8_t *dst) {
    __asm__ volatile(FPU_LOAD8("0") FPU_STORE8("0") FPU_LOAD8("64") FPU_STORE8("64")
                     :
                     : "r"(src), "r"(dst)
                     : "memory", X87_REGS);
}
inline void fpuint32(const uint8_t *src, uint8_t *dst) {
    __asm__ volatile("fildq 0(%0)\n\tfildq 8(%0)\n\tfildq 16(%0)\n\tfildq 24(%0)\n\t"
                     "fistpq 24(%1)\n\tfistpq 16(%1)\n\tfistpq 8(%1)\n\tfistpq 0(%1)"
                     :
                     : "r"(src), "r"(dst)
                     : "memory", X87_REGS);
}
inline void fpuint8(const uint8_t *src, uint8_t *dst) {
    __asm__ volatile("fildq (%0)\n\tfistpq (%1)" : : "r"(src), "r"(dst) : "memory", X87_REGS);
}

/* ---- double registers (copyfpudouble) -------------------------------------------- */
#if defined(__SSE2__)
#define XMM_REGS "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7"
#define SSE_LOAD8(o)                                                                               \
    "movsd " o "+0(%0), %%xmm0\n\tmovsd " o "+8(%0), %%xmm1\n\t"                                   \
    "movsd " o "+16(%0), %%xmm2\n\tmovsd " o "+24(%0), %%xmm3\n\t"                                 \
    "movsd " o "+32(%0), %%xmm4\n\tmovsd " o "+40(%0), %%xmm5\n\t"                                 \
    "movsd " o "+48(%0), %%xmm6\n\tmovsd " o "+56(%0), %%xmm7\n\t"
#define SSE_STORE8(o)                                                                              \
    "movsd %%xmm0, " o "+0(%1)\n\tmovsd %%xmm1, " o "+8(%1)\n\t"                                   \
    "movsd %%xmm2, " o "+16(%1)\n\tmovsd %%xmm3, " o "+24(%1)\n\t"                                 \
    "movsd %%xmm4, " o "+32(%1)\n\tmovsd %%xmm5, " o "+40(%1)\n\t"                                 \
    "movsd %%xmm6, " o "+48(%1)\n\tmovsd %%xmm7, " o "+56(%1)\n\t"

/* movsd moves a double's 64 bits untouched, signalling NaNs included. */
inline void double128(const uint8_t *src, uint8_t *dst) {
    __asm__ volatile(SSE_LOAD8("0") SSE_STORE8("0") SSE_LOAD8("64") SSE_STORE8("64")
                     :
                     : "r"(src), "r"(dst)
                     : "memory", XMM_REGS);
}
inline void double32(const uint8_t *src, uint8_t *dst) {
    __asm__ volatile("movsd 0(%0), %%xmm0\n\tmovsd 8(%0), %%xmm1\n\t"
                     "movsd 16(%0), %%xmm2\n\tmovsd 24(%0), %%xmm3\n\t"
                     "movsd %%xmm0, 0(%1)\n\tmovsd %%xmm1, 8(%1)\n\t"
                     "movsd %%xmm2, 16(%1)\n\tmovsd %%xmm3, 24(%1)"
                     :
                     : "r"(src), "r"(dst)
                     : "memory", "xmm0", "xmm1", "xmm2", "xmm3");
}
inline void double8(const uint8_t *src, uint8_t *dst) {
    __asm__ volatile("movsd (%0), %%xmm0\n\tmovsd %%xmm0, (%1)"
                     :
                     : "r"(src), "r"(dst)
                     : "memory", "xmm0");
}
#else
/* Without SSE2 the only double registers are the x87 ones, and an x87 double load quiets
 * signalling NaNs. The x87 registers are therefore loaded as 64-bit integers, which
 * carries every bit pattern. */
constexpr blockmove double128 = fpuint128;
constexpr blockmove double32 = fpuint32;
constexpr blockmove double8 = fpuint8;
#endif

#else /* no x86 units */

inline uint64_t load64(const uint8_t *p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline void store64(uint8_t *p, uint64_t v) {
    std::memcpy(p, &v, sizeof v);
}

inline void plain32(const uint8_t *src, uint8_t *dst) {
    uint64_t q0 = load64(src), q1 = load64(src + 8), q2 = load64(src + 16);
    uint64_t q3 = load64(src + 24);
    store64(dst, q0);
    store64(dst + 8, q1);
    store64(dst + 16, q2);
    store64(dst + 24, q3);
}
inline void plain128(const uint8_t *src, uint8_t *dst) {
    for (int i = 0; i < 128; i += 32) {
        plain32(src + i, dst + i);
    }
}
inline void plain8(const uint8_t *src, uint8_t *dst) {
    store64(dst, load64(src));
}
constexpr blockmove mmx128 = plain128, mmx32 = plain32, mmx8 = plain8;
constexpr blockmove fpuint128 = plain128, fpuint32 = plain32, fpuint8 = plain8;
constexpr blockmove double128 = plain128, double32 = plain32, double8 = plain8;

#endif

/* The shape every forward copier shares. alignmask says when the alignment steps run
 * (7: the 8-byte copiers; 3: copylongs, whose steps then reach 8 as well); move128 is
 * null for copylongs, which has no 128-byte loop. */
template <uintptr_t alignmask, blockmove move128, blockmove move32, blockmove move8>
inline void copyforward(const void *source, void *destination, size_t count) {
    const uint8_t *src = static_cast<const uint8_t *>(source);
    uint8_t *dst = static_cast<uint8_t *>(destination);

    if ((reinterpret_cast<uintptr_t>(dst) & alignmask) != 0) {
        if ((reinterpret_cast<uintptr_t>(dst) & 1) != 0 && count >= 1) {
            *dst++ = *src++;
            count -= 1;
        }
        if ((reinterpret_cast<uintptr_t>(dst) & 3) != 0 && count >= 2) {
            store16(dst, load16(src));
            src += 2, dst += 2, count -= 2;
        }
        if ((reinterpret_cast<uintptr_t>(dst) & 7) != 0 && count >= 4) {
            store32(dst, load32(src));
            src += 4, dst += 4, count -= 4;
        }
    }
    if constexpr (move128 != nullptr) {
        for (; count >= 128; src += 128, dst += 128, count -= 128) {
            move128(src, dst);
        }
    }
    for (; count >= 32; src += 32, dst += 32, count -= 32) {
        move32(src, dst);
    }
    for (; count >= 8; src += 8, dst += 8, count -= 8) {
        move8(src, dst);
    }
    if (count >= 4) {
        store32(dst, load32(src));
        src += 4, dst += 4, count -= 4;
    }
    if (count >= 2) {
        store16(dst, load16(src));
        src += 2, dst += 2, count -= 2;
    }
    if (count != 0) {
        *dst = *src;
    }
}

/* getlittleendian's masks, indexed by the byte count. */
constexpr uint32_t lemask[5] = {0, 0xFF, 0xFFFF, 0xFFFFFF, 0xFFFFFFFF};

/* Page size of the platform, 0 until the first allocpages fetches it. */
std::atomic<uint32_t> pagesize{0};

} // namespace

/* Stores value count times from dst on. */
void fillbytes(void *dst, size_t count, uint8_t value) {
    std::memset(dst, value, count);
}

/* Stores count zero bytes from dst on. */
void zerobytes(void *dst, size_t count) {
    fillbytes(dst, count, 0);
}

/* filllongs with value repeated in both halves of the pattern. */
void fillwords(void *dst, size_t count, uint16_t value) {
    filllongs(dst, count, static_cast<uint32_t>(value) * 0x00010001u);
}

/* Stores pattern as 32-bit words while 4 or more bytes remain, then its low half, then its
 * low byte. The words start at dst itself, aligned or not, so the byte phase of the pattern
 * is fixed by dst and not by the address. */
void filllongs(void *dst, size_t count, uint32_t pattern) {
    uint8_t *p = static_cast<uint8_t *>(dst);
    for (; count >= 4; p += 4, count -= 4) {
        store32(p, pattern);
    }
    if (count >= 2) {
        store16(p, static_cast<uint16_t>(pattern));
        p += 2, count -= 2;
    }
    if (count != 0) {
        *p = static_cast<uint8_t>(pattern);
    }
}

/* Copies count bytes from src to dst, correct for any overlap. Only a destination inside
 * the source's tail needs the backward byte copy; equal areas and a destination below the
 * source take the fast forward copier, which reads each block before writing it. */
void movebytes(const void *src, void *dst, size_t count) {
    uintptr_t s = reinterpret_cast<uintptr_t>(src);
    uintptr_t d = reinterpret_cast<uintptr_t>(dst);
    if (d > s && d - s < count) {
        const uint8_t *from = static_cast<const uint8_t *>(src) + count;
        uint8_t *to = static_cast<uint8_t *>(dst) + count;
        while (count-- != 0) {
            *--to = *--from;
        }
        return;
    }
    if (usemmx != 0) {
        copymmx(src, dst, count);
        clearmmx();
    } else if (usefpucopy != 0) {
        copyfpuint(src, dst, count);
    } else {
        copylongs(src, dst, count);
    }
}

/* Forward copy through the MMX registers; leaves the MMX state in use (see clearmmx). */
void copymmx(const void *src, void *dst, size_t count) {
    copyforward<7, mmx128, mmx32, mmx8>(src, dst, count);
}

/* Forward copy through the x87 unit as 64-bit integers; every bit pattern survives. */
void copyfpuint(const void *src, void *dst, size_t count) {
    copyforward<7, fpuint128, fpuint32, fpuint8>(src, dst, count);
}

/* Forward copy through the double registers, bit-exact (NaN payloads included). */
void copyfpudouble(const void *src, void *dst, size_t count) {
    copyforward<7, double128, double32, double8>(src, dst, count);
}

/* Forward copy in 32-bit words, 32 bytes per loop step. */
void copylongs(const void *src, void *dst, size_t count) {
    copyforward<3, nullptr, longs32, longs8>(src, dst, count);
}

/* Empties the MMX state (emms) so that x87 code sees an empty register stack. */
void clearmmx(void) {
#if defined(__x86_64__) || defined(__i386__)
    __asm__ volatile("emms" : : : "memory");
#endif
}

/* The n bytes at p as a big-endian number; reads only those n bytes. */
uint32_t getbigendian(const void *p, uint32_t n) {
    const uint8_t *b = static_cast<const uint8_t *>(p);
    uint32_t value = 0;
    for (uint32_t i = 0; i < n && i < 4; i++) {
        value = (value << 8) | b[i];
    }
    return value;
}

/* The n bytes at p as a little-endian number; reads only those n bytes, the rest of the
 * four-byte word stays zero before the mask for n is applied. */
uint32_t getlittleendian(const void *p, uint32_t n) {
    if (n > 4) {
        n = 4;
    }
    uint8_t b[4] = {0, 0, 0, 0};
    std::memcpy(b, p, n);
    uint32_t value = static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
                     static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
    return value & lemask[n];
}

/* Stores the low n bytes of value, most significant first. */
void putbigendian(void *p, uint32_t value, uint32_t n) {
    if (n > 4) {
        n = 4;
    }
    uint8_t *b = static_cast<uint8_t *>(p);
    for (uint32_t i = 0; i < n; i++) {
        b[i] = static_cast<uint8_t>(value >> (8 * (n - 1 - i)));
    }
}

/* Stores the low n bytes of value, least significant first. */
void putlittleendian(void *p, uint32_t value, uint32_t n) {
    if (n > 4) {
        n = 4;
    }
    uint8_t *b = static_cast<uint8_t *>(p);
    for (uint32_t i = 0; i < n; i++, value >>= 8) {
        b[i] = static_cast<uint8_t>(value);
    }
}

/* Reserves and commits *size bytes rounded up to whole pages, writing the rounded size
 * back. A size of 0 (or one that overflows when rounded) gives null, as the platform's own
 * VirtualAlloc does for an empty request. */
void *allocpages(size_t *size) {
    uint32_t page = pagesize.load(std::memory_order_relaxed);
    if (page == 0) {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        page = info.dwPageSize;
        if (page == 0) {
            return nullptr;
        }
        pagesize.store(page, std::memory_order_relaxed);
    }
    size_t want = *size;
    if (want > SIZE_MAX - (page - 1)) {
        return nullptr;
    }
    size_t rounded = (want + page - 1) / page * page;
    *size = rounded;
    if (rounded == 0) {
        return nullptr;
    }
    return VirtualAlloc(nullptr, rounded, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
}

/* Releases an allocation made by allocpages; non-zero on success. */
int freepages(void *address) {
    return VirtualFree(address, 0, MEM_RELEASE) ? 1 : 0;
}
