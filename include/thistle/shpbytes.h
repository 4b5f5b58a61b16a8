/*
 * thistle/shpbytes.h - the shape header, the shape and colour-table type codes, and the
 * two size queries on shapes.
 *
 * A shape is a 16-byte header followed by pixel rows (top row first) or, when bit 7 of
 * the type is set, by a packed stream. A header may chain to a following block of the
 * same image, most often its colour table, which has the same header layout:
 *
 *   offset 0     1..3              4      6       8      10     12          14
 *          type  chain (signed 24, width  height  info8  info10 info12      info14
 *                bytes to the next        (table:               low 12 bits: value,
 *                block, 0: none)   entries)                     top 4: flags
 *
 * Bytes 0..3 read as one little-endian word: type in bits 0..7, chain in bits 8..31.
 * All fields are little-endian; the accessors below read and write them byte by byte,
 * so a header may sit at any address (a chained table often follows an odd-sized stream).
 * Threads: no state; every function may be called from any thread.
 */
#ifndef THISTLE_SHPBYTES_H
#define THISTLE_SHPBYTES_H

#include <cstddef>
#include <cstdint>

/* Image type codes. The 0x40 group has rows rounded up to 16-bit words. */
enum : uint8_t {
    SHAPE_1BIT = 0x79,      /* 1 bit a pixel; not convertible */
    SHAPE_4BIT = 0x7A,      /* two pixels a byte, the even pixel in the low nibble */
    SHAPE_8BIT = 0x7B,      /* palette index; rows exactly width bytes */
    SHAPE_15BIT = 0x7E,     /* 1:5:5:5, red in bits 10..14, bit 15 a flag */
    SHAPE_16BIT = 0x78,     /* 5:6:5 */
    SHAPE_24BIT = 0x7F,     /* bytes blue, green, red */
    SHAPE_32BIT = 0x7D,     /* 0xAARRGGBB */
    SHAPE_4444 = 0x6D,      /* 4:4:4:4, alpha in bits 12..15 */
    SHAPE_4BITW = 0x40,     /* as SHAPE_4BIT, word rows */
    SHAPE_8BITW = 0x41,     /* as SHAPE_8BIT, word rows */
    SHAPE_15BITSWAP = 0x42, /* 5:5:5, blue in bits 10..14, word rows */
    SHAPE_24BITW = 0x43,    /* as SHAPE_24BIT, word rows */
    SHAPE_1BITW = 0x44,     /* as SHAPE_1BIT, word rows; not convertible */
    SHAPE_PACKED = 0x80,    /* type bit: the pixels are a packed stream */
};

/* Colour-table type codes; a table's width is its entry count. */
enum : uint8_t {
    CLUT_RGB6 = 0x22,   /* 3 bytes red, green, blue, each 0..63 */
    CLUT_BGR555 = 0x23, /* 16-bit 5:5:5, blue in bits 10..14, red in bits 0..4 */
    CLUT_RGB8 = 0x24,   /* 3 bytes red, green, blue, each 0..255 */
    CLUT_565 = 0x29,    /* 16-bit 5:6:5 */
    CLUT_8888 = 0x2A,   /* 32-bit 0xAARRGGBB */
    CLUT_A565 = 0x2C,   /* 5:6:5 in bytes 0 and 1, alpha in byte 3 */
    CLUT_555 = 0x2D,    /* 16-bit 1:5:5:5 */
    CLUT_A555 = 0x2E,   /* 1:5:5:5 in bytes 0 and 1, alpha in byte 3 */
};

/* The header as it lies in memory on the library's (little-endian) targets. Code that
 * reads headers of unknown alignment uses the accessors instead. */
struct shapeheader {
    uint8_t type;
    uint8_t chain[3]; /* signed 24-bit, little-endian */
    int16_t width;
    int16_t height;
    uint16_t info8;
    uint16_t info10;
    uint16_t info12; /* low 12 bits copied by conversion, top 4 bits flags */
    uint16_t info14;
};
static_assert(sizeof(shapeheader) == 16, "the shape header is 16 bytes in every file");
static_assert(offsetof(shapeheader, width) == 4 && offsetof(shapeheader, height) == 6 &&
                  offsetof(shapeheader, info8) == 8 && offsetof(shapeheader, info14) == 14,
              "the shape header's fields sit at their fixed offsets");

constexpr int32_t SHAPEHEADERSIZE = 16;

inline uint8_t shapetype(const void *shape) {
    return static_cast<const uint8_t *>(shape)[0];
}
inline int32_t shapefield16(const void *shape, int32_t offset) {
    const uint8_t *p = static_cast<const uint8_t *>(shape) + offset;
    return static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)));
}
inline void setshapefield16(void *shape, int32_t offset, int32_t value) {
    uint8_t *p = static_cast<uint8_t *>(shape) + offset;
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
}
inline int32_t shapewidth(const void *shape) {
    return shapefield16(shape, 4);
}
inline int32_t shapeheight(const void *shape) {
    return shapefield16(shape, 6);
}
/* The signed distance from this header to the next block of the chain; 0 ends it. */
inline int32_t shapechain(const void *shape) {
    const uint8_t *p = static_cast<const uint8_t *>(shape);
    const uint32_t word = p[1] | (p[2] << 8) | (static_cast<uint32_t>(p[3]) << 16);
    return static_cast<int32_t>(word << 8) >> 8;
}
inline void setshapechain(void *shape, int32_t offset) {
    uint8_t *p = static_cast<uint8_t *>(shape);
    p[1] = static_cast<uint8_t>(offset);
    p[2] = static_cast<uint8_t>(offset >> 8);
    p[3] = static_cast<uint8_t>(offset >> 16);
}
/* The pixel rows (or packed stream) right behind the header. */
inline uint8_t *shapepixels(void *shape) {
    return static_cast<uint8_t *>(shape) + SHAPEHEADERSIZE;
}
inline const uint8_t *shapepixels(const void *shape) {
    return static_cast<const uint8_t *>(shape) + SHAPEHEADERSIZE;
}

/* Bits per pixel of an image type (15 for the 1:5:5:5 and 5:5:5 types), or per entry of
 * a colour-table type; 0 for 0x23 and any code in neither set. Looks at the low 7 bits
 * of the type byte only, so packed shapes answer too. */
int32_t shapebits(const void *shape);
/* Bytes per pixel row: the width for 8-bit 0x7B shapes, else width x bits rounded up to
 * bytes (to 16-bit words in the 0x40 group), 15 bits counting as 16. A packed shape is
 * a fatal report. */
int32_t shaperowbytes(const void *shape);
/* Whether a type code (its low 7 bits) is one of the colour-table types. */
bool iscluttype(uint8_t type);
/* Bytes of one entry of a colour table of that type (low 7 bits); 0 for other codes. */
int32_t clutentrybytes(uint8_t type);

#endif /* THISTLE_SHPBYTES_H */
