/*
 * cmn\shpbytes - bits per pixel and bytes per row of shapes (see thistle/shpbytes.h).
 * Threads: no state.
 */
#include "thistle/shpbytes.h"

#include "thistle/diag.h"

int32_t shapebits(const void *shape) {
    switch (shapetype(shape) & 0x7F) {
    case SHAPE_1BIT:
    case SHAPE_1BITW:
        return 1;
    case SHAPE_4BIT:
    case SHAPE_4BITW:
        return 4;
    case SHAPE_8BIT:
    case SHAPE_8BITW:
        return 8;
    case SHAPE_15BIT:
    case SHAPE_15BITSWAP:
    case CLUT_555:
        return 15;
    case SHAPE_16BIT:
    case SHAPE_4444:
    case CLUT_565:
        return 16;
    case SHAPE_24BIT:
    case SHAPE_24BITW:
    case CLUT_RGB6:
    case CLUT_RGB8:
        return 24;
    case SHAPE_32BIT:
    case CLUT_8888:
    case CLUT_A565:
    case CLUT_A555:
        return 32;
    default: /* CLUT_BGR555 among them */
        return 0;
    }
}

int32_t shaperowbytes(const void *shape) {
    const uint8_t type = shapetype(shape);
    const int32_t width = shapewidth(shape);
    if (type == SHAPE_8BIT) {
        return width;
    }
    if (type & SHAPE_PACKED) {
        THISTLE_SITE("cmn\\shpbytes");
        fatalerror("shaperowbytes - PACKED SHAPES NOT SUPPORTED. PACKTYPE %02x\n", type);
        return 0;
    }
    int32_t bits = shapebits(shape);
    if (bits == 15) {
        bits = 16;
    }
    if ((type & 0xF0) == 0x40) {
        return (width * bits + 15) / 16 * 2;
    }
    return (width * bits + 7) / 8;
}

bool iscluttype(uint8_t type) {
    return clutentrybytes(type) != 0;
}

int32_t clutentrybytes(uint8_t type) {
    switch (type & 0x7F) {
    case CLUT_RGB6:
    case CLUT_RGB8:
        return 3;
    case CLUT_BGR555:
    case CLUT_565:
    case CLUT_555:
        return 2;
    case CLUT_8888:
    case CLUT_A565:
    case CLUT_A555:
        return 4;
    default:
        return 0;
    }
}
