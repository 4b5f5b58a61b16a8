/*
 * cmn/packbytes.h - byte helpers shared by the decoders, the dispatcher, the encoders and
 * the packing tool: big-endian 24- and 32-bit numbers, little-endian 32-bit words, the
 * pack header the encoders write and the encoders' working-memory reservation.
 *
 * Internal: not part of the library's interface. Includes no platform header.
 *
 *   short header:  code    0xFB  size(3)             5 bytes
 *   long header:   code|1  0xFB  size(3)  size(3)    8 bytes (the extra field repeats
 *                                                     the size, so readers that take
 *                                                     either field agree)
 */
#ifndef THISTLE_CMN_PACKBYTES_H
#define THISTLE_CMN_PACKBYTES_H

#include "thistle/diag.h"
#include "thistle/memstd.h"
#include "thistle/pack.h"

#include <cstddef>
#include <cstdint>

inline uint32_t getbe24(const uint8_t *p) {
    return (static_cast<uint32_t>(p[0]) << 16) | (static_cast<uint32_t>(p[1]) << 8) | p[2];
}

inline void putbe24(uint8_t *p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 16);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v);
}

inline uint32_t getbe32(const uint8_t *p) {
    return (static_cast<uint32_t>(p[0]) << 24) | getbe24(p + 1);
}

inline void putbe32(uint8_t *p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    putbe24(p + 1, v);
}

inline uint32_t load32le(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

/* Length of the header of the given form (PACK_SHORTHEADER or PACK_LONGHEADER). */
inline size_t packheadersize(int32_t header) {
    return header == PACK_LONGHEADER ? 8 : 5;
}

/* Writes the header for code (bit 0 clear) and size in the given form at out, which
 * holds packheadersize(header) bytes; returns that size. */
inline size_t putpackheader(uint8_t *out, uint8_t code, uint32_t size, int32_t header) {
    out[0] = static_cast<uint8_t>(code | (header == PACK_LONGHEADER ? 1 : 0));
    out[1] = 0xFB;
    putbe24(out + 2, size);
    if (header == PACK_LONGHEADER) {
        putbe24(out + 5, size);
    }
    return packheadersize(header);
}

/* Reserves an encoder's working block of bytes from defaultmemclass under name, with
 * errorsite naming the encoder's module and line should the reservation be reported.
 * Returns null when the class has no room; the encoder purges the block. */
inline void *reservepackwork(const char *module, int32_t line, const char *name, size_t bytes) {
    static char nofunction[1];
    errorsite.file = module;
    errorsite.function = nofunction;
    errorsite.line = line;
    return reservememadr(name, static_cast<int32_t>(bytes),
                         static_cast<uint32_t>(defaultmemclass) & MB_CLASS);
}

/* The Huffman decoder as the plain entry points run it (cmn\unpackf), for unpack: a
 * trusted stream of unknown length, at most capacity bytes written. A stream that ends
 * before its declared size still gets its running-sum filter over the whole size. Returns
 * the declared size or an UNPACK_E value. */
int32_t huffunpacktrusted(const void *source, void *destination, size_t capacity);

#endif /* THISTLE_CMN_PACKBYTES_H */
