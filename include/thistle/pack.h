/*
 * thistle/pack.h - encoders for every pack code: they write complete packed streams
 * (header included) that the decoders of thistle/unpack.h read back exactly.
 *
 * Every encoder writes at most `capacity` bytes and returns the stream's size, or a
 * PACK_E value below 0. packbound gives a capacity that always suffices. Inputs are
 * limited to PACK_MAXSIZE bytes (the header's size field has 24 bits). Working memory
 * is reserved from `defaultmemclass` and purged before the call returns.
 *
 * This is the public packing interface, the one the thistlepack tool uses: a game's build
 * tools can pack with it directly. Set up a memory class over a region of your own first
 * (about 32 MiB plus 24 bytes per input byte; PACK_ENOMEM asks for a larger one) and make
 * it the default class; pack on one thread at a time per class. The pack codes
 * (PACK_LZCODE ...) and the bounded decoders that check a stream are in thistle/unpack.h;
 * docs/thistlepack.md, "Packing from your own tools", has a complete example.
 */
#ifndef THISTLE_PACK_H
#define THISTLE_PACK_H

#include <cstddef>
#include <cstdint>

#define PACK_MAXSIZE 0xFFFFFF

enum : int32_t {
    PACK_EOVERFLOW = -1, /* the stream does not fit in the capacity given */
    PACK_EINVAL = -2,    /* an argument out of range (size, level, dimensions) */
    PACK_ENOMEM = -3,    /* no working memory in defaultmemclass */
};

/* Header forms: the short one, or the long one (code bit 0 set, 3 more bytes). */
enum : int32_t {
    PACK_SHORTHEADER = 0,
    PACK_LONGHEADER = 1,
};

/* LZ commands (code 0x10/0x11). level 1 (fastest) to 9 (densest). */
int32_t lzpack(const void *source, size_t size, void *destination, size_t capacity,
               int32_t level, int32_t header);
/* Huffman with escape runs: filter 0 (code 0x30), 1 (0x32, one running sum) or 2 (0x34,
 * two running sums). Never longer than size + size / 128 + 540 bytes. */
int32_t huffpack(const void *source, size_t size, void *destination, size_t capacity,
                 int32_t filter, int32_t header);
/* Run-length (code 0x4A). */
int32_t rlepack(const void *source, size_t size, void *destination, size_t capacity);
/* Byte pairs (code 0x46). */
int32_t pairpack(const void *source, size_t size, void *destination, size_t capacity,
                 int32_t header);
/* 4x4 colour blocks (code 0x18) of 5:6:5 pixels, width x height, rows of `width`
 * pixels; both must be multiples of 4. level 1 (fast endpoints) to 9 (refined), 0 for
 * the default (6). */
int32_t blockpack(const uint16_t *pixels, int32_t width, int32_t height, void *destination,
                  size_t capacity, int32_t level);

/* A capacity that always suffices for `size` input bytes (for blockpack: the pixel
 * data's byte size) with the given pack code. */
size_t packbound(uint8_t code, size_t size);

#endif /* THISTLE_PACK_H */
