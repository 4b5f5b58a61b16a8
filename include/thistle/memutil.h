/*
 * thistle/memutil.h - fills, copies, byte-order readers/writers and the page allocator.
 *
 * Counts are byte counts of type size_t: 32 bits on the 32-bit targets the library was
 * written for, the full address width on 64-bit builds. Copy operations take the source
 * first and the destination second. Values are uint32_t; the byte-order calls use the
 * low n bytes of a value.
 *
 * Threads: no call takes a lock. usemmx and usefpucopy are set by the application
 * before it starts copying from several threads; nothing in the library changes them.
 */
#ifndef THISTLE_MEMUTIL_H
#define THISTLE_MEMUTIL_H

#include <cstddef>
#include <cstdint>

/* Copier choice of movebytes: usemmx non-zero selects copymmx (followed by clearmmx);
 * otherwise usefpucopy non-zero selects copyfpuint; otherwise copylongs. */
extern int usemmx;     /* starts at 0 */
extern int usefpucopy; /* starts at 1 */

/* Stores value count times from dst on. */
void fillbytes(void *dst, size_t count, uint8_t value);

/* Stores count zero bytes from dst on. */
void zerobytes(void *dst, size_t count);

/* filllongs with value in both halves of the pattern: the bytes repeat value's low and
 * high byte, and an odd count ends on the low byte. */
void fillwords(void *dst, size_t count, uint16_t value);

/* Stores pattern as little-endian 32-bit words while 4 or more bytes remain, then its
 * low 16 bits if 2 or more remain, then its low byte for a last odd byte. With count 7
 * and 0x11223344: 44 33 22 11 44 33 44. dst needs no alignment. */
void filllongs(void *dst, size_t count, uint32_t pattern);

/* Copies count bytes from src to dst; correct for any overlap. A destination that
 * overlaps the source's tail is copied byte by byte from the end; everything else goes
 * through the forward copier chosen by usemmx and usefpucopy. */
void movebytes(const void *src, void *dst, size_t count);

/* Forward copiers: same result, different units (MMX registers, x87 64-bit integer
 * loads/stores, double registers, 32-bit words). Each aligns the destination, then moves
 * large blocks, then the tail. The areas may overlap only with dst at or below src.
 * After copymmx the caller must call clearmmx before any floating-point work. */
void copymmx(const void *src, void *dst, size_t count);
void copyfpuint(const void *src, void *dst, size_t count);
void copyfpudouble(const void *src, void *dst, size_t count);
void copylongs(const void *src, void *dst, size_t count);

/* Ends MMX use so that the floating-point unit can be used again (no-op where the
 * processor has no MMX unit). */
void clearmmx(void);

/* The n bytes at p (n 1 to 4) as an unsigned big-endian number. Reads exactly n bytes,
 * so a number at the very end of a buffer is safe to read. n 0 gives 0; n above 4 is
 * taken as 4. */
uint32_t getbigendian(const void *p, uint32_t n);

/* The n bytes at p (n 0 to 4) as an unsigned little-endian number; 0 for n 0. Reads
 * exactly n bytes; n above 4 is taken as 4. */
uint32_t getlittleendian(const void *p, uint32_t n);

/* Stores the low n bytes of value at p, most significant first (n 1 to 4; above 4 is
 * taken as 4, 0 stores nothing). */
void putbigendian(void *p, uint32_t value, uint32_t n);

/* Stores the low n bytes of value at p, least significant first (same n rules). */
void putlittleendian(void *p, uint32_t value, uint32_t n);

/* Reserves and commits read/write pages for *size bytes: *size is rounded up to a
 * multiple of the page size and written back. Returns the page-aligned address, or null
 * (size 0, or the platform refused). Release with freepages. */
void *allocpages(size_t *size);

/* Releases a whole allocation made by allocpages. Returns non-zero on success. */
int freepages(void *address);

#endif /* THISTLE_MEMUTIL_H */
