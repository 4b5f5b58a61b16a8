/*
 * thistle/convrow.h - pixel row converters: one function per pair of pixel formats that
 * converts a whole row, the two dispatch tables that name the converter for every pair of
 * format indexes, and the table of the shape type a one-step conversion produces.
 *
 * Format indexes:
 *   0  4-bit, two pixels a byte, the even pixel in the low nibble   (types 0x7A, 0x40)
 *   1  8-bit palette index                                           (0x7B, 0x41)
 *   2  16-bit 1:5:5:5, red in bits 10..14, bit 15 a flag             (0x7E)
 *   3  16-bit 5:6:5                                                  (0x78)
 *   4  24-bit, bytes blue, green, red                                (0x7F, 0x43)
 *   5  32-bit 0xAARRGGBB                                             (0x7D)
 *   6  16-bit 4:4:4:4, alpha in the top nibble                       (0x6D)
 *   7  16-bit 5:5:5, blue in bits 10..14                             (0x42)
 *
 * Every converter takes (source row, destination row, pixel count); source and
 * destination must not overlap. Those that read a palette read the look-ups below, which
 * shape conversion prepares. Threads: the tables are constant; the look-ups are plain
 * globals, one converting thread at a time.
 */
#ifndef THISTLE_CONVROW_H
#define THISTLE_CONVROW_H

#include <cstdint>

typedef void (*rowconverter)(const void *source, void *destination, int32_t count);

/* 4-bit and 8-bit sources. */
void row4to4(const void *source, void *destination, int32_t count);
void row4to8(const void *source, void *destination, int32_t count);
void row4to16(const void *source, void *destination, int32_t count);
void row8to4(const void *source, void *destination, int32_t count);
void row8to8(const void *source, void *destination, int32_t count);
void row8to16(const void *source, void *destination, int32_t count);
void row8to24(const void *source, void *destination, int32_t count);
void row8to32(const void *source, void *destination, int32_t count);

/* 16-bit sources. */
void row565to8(const void *source, void *destination, int32_t count);
void row565to555(const void *source, void *destination, int32_t count);
void row555to565(const void *source, void *destination, int32_t count);
void row555swap(const void *source, void *destination, int32_t count);
void row16to16(const void *source, void *destination, int32_t count);
void row565to24(const void *source, void *destination, int32_t count);
void row565to8888(const void *source, void *destination, int32_t count);
void row555to8888(const void *source, void *destination, int32_t count);
void row565to4444(const void *source, void *destination, int32_t count);
void row4444to8888(const void *source, void *destination, int32_t count);

/* 24-bit and 32-bit sources. */
void row24to24(const void *source, void *destination, int32_t count);
void row24to32(const void *source, void *destination, int32_t count);
void row32to24(const void *source, void *destination, int32_t count);
void row32to32(const void *source, void *destination, int32_t count);
void row8888to565a(const void *source, void *destination, int32_t count);
void row8888to565(const void *source, void *destination, int32_t count);
void row8888to555a(const void *source, void *destination, int32_t count);
void row8888to555(const void *source, void *destination, int32_t count);
void row8888to4444(const void *source, void *destination, int32_t count);

/* Colour tables and palette setters: 32-bit colour with alpha kept and 5:6:5 below it,
 * alpha-carrying 5:6:5 / 5:5:5 entries to 32-bit, the low halves of 32-bit entries, and
 * red/green/blue byte triplets to 32-bit opaque colours. */
void row8888toa565(const void *source, void *destination, int32_t count);
void rowa565to8888(const void *source, void *destination, int32_t count);
void rowa555to8888(const void *source, void *destination, int32_t count);
void rowlow16(const void *source, void *destination, int32_t count);
void rowrgbto32(const void *source, void *destination, int32_t count);

/* The format index of a shape type code; -1 for a code with no format index. */
int32_t typeindex(int32_t type);
/* The format index of a display depth: 8, 15, 16, 24, 32 give 1..5, any other 0. */
int32_t depthindex(int32_t depth);

/* [source index][destination index]: the converter with the alpha threshold (colours
 * below 0x40000000 become transparent 0), the plain one, and the shape type a one-step
 * conversion gives; a type other than the target's means "go on from there". */
extern const rowconverter rowconvalpha[8][8];
extern const rowconverter rowconvplain[8][8];
extern const uint8_t rowconvresult[8][8];

/* The look-ups the palette-reading converters use: 256 colours 0xAARRGGBB, and 256
 * pixels already in the destination's 16-bit format. convclut points at convclut32 or at
 * a colour table's own 32-bit entries; row8to24 and row8to32 read through it, row4to16
 * and row8to16 read convclut16. */
extern uint32_t convclut32[256];
extern uint16_t convclut16[256];
extern const uint32_t *convclut;

#endif /* THISTLE_CONVROW_H */
