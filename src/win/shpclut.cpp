/*
 * win\shpclut - a shape's colour table and the three readers that deliver it as 256
 * palette entries, plus the table converters (see thistle/shpclut.h).
 *
 * A table's entries follow its 16-byte header; its width is the entry count. The readers
 * convert at most 256 entries, whatever the width says, since the caller's buffer holds
 * 256; entries behind a shorter table keep what the buffer held, except entry 255, which
 * is set to 0 (transparent) first. A 0x23 table is always read as 256 entries.
 * Tables are recognised by the low 7 bits of their type, as shapebits does; a packed
 * table (bit 7 set) cannot be read and is reported as an unsupported type.
 * Threads: no state of its own; reads the system palette without a lock.
 */
#include "thistle/shpclut.h"

#include "thistle/convrow.h"
#include "thistle/diag.h"
#include "thistle/palette.h"
#include "thistle/shpbytes.h"

#include <algorithm>
#include <cstring>

namespace {

int32_t clutcount(const uint8_t *clut) {
    if (shapetype(clut) == CLUT_BGR555) {
        return 256;
    }
    return std::clamp(shapewidth(clut), 0, 256);
}

uint8_t scale6to8(uint8_t v) {
    return static_cast<uint8_t>((v * 255 + 32) / 63);
}

uint8_t scale8to6(uint8_t v) {
    return static_cast<uint8_t>((v * 63 + 128) / 255);
}

uint32_t opaque(uint8_t r, uint8_t g, uint8_t b, int32_t index) {
    const uint32_t alpha = index == 255 ? 0 : 0xFF000000u;
    return alpha | static_cast<uint32_t>(r) << 16 | static_cast<uint32_t>(g) << 8 | b;
}

void putentry(void *destination, int32_t index, uint32_t colour) {
    memcpy(static_cast<uint8_t *>(destination) + 4 * index, &colour, 4);
}

uint32_t getentry(const void *source, int32_t index) {
    uint32_t colour;
    memcpy(&colour, static_cast<const uint8_t *>(source) + 4 * index, 4);
    return colour;
}

// Converts the table's entries to 0xAARRGGBB into out (room for 256). Returns the number
// of entries converted, or -1 for a type no reader knows.
int32_t clutto32(const uint8_t *clut, uint32_t *out) {
    const uint8_t *entries = shapepixels(clut);
    const int32_t count = clutcount(clut);
    switch (shapetype(clut)) {
    case CLUT_RGB8:
        clut8to32(count, entries, out);
        return count;
    case CLUT_RGB6:
        clut6to32(count, entries, out);
        return count;
    case CLUT_565:
        row565to8888(entries, out, count);
        return count;
    case CLUT_555:
        row555to8888(entries, out, count);
        return count;
    case CLUT_A565:
        rowa565to8888(entries, out, count);
        return count;
    case CLUT_A555:
        rowa555to8888(entries, out, count);
        return count;
    case CLUT_8888:
        memcpy(out, entries, 4 * count);
        return count;
    case CLUT_BGR555: {
        uint16_t swapped[256];
        row555swap(entries, swapped, count);
        row555to8888(swapped, out, count);
        return count;
    }
    default:
        return -1;
    }
}

} // namespace

void *getshapeclut(const void *shape) {
    if (shapebits(shape) == 0) {
        THISTLE_SITE("win\\shpclut");
        fatalerror("getshapeclut - INVALID SHAPE TYPE ($%02x)\n", shapetype(shape));
        return nullptr;
    }
    const uint8_t *block = static_cast<const uint8_t *>(shape);
    while (!iscluttype(shapetype(block))) {
        const int32_t offset = shapechain(block);
        if (offset == 0) {
            return nullptr;
        }
        block += offset;
    }
    return const_cast<uint8_t *>(block);
}

const uint32_t *getclutptr(const void *shape, uint32_t *buffer) {
    const uint8_t *clut = static_cast<const uint8_t *>(getshapeclut(shape));
    if (clut == nullptr) {
        return systempalette;
    }
    if (shapetype(clut) == CLUT_8888) {
        return reinterpret_cast<const uint32_t *>(shapepixels(clut));
    }
    buffer[255] = 0;
    if (clutto32(clut, buffer) < 0) {
        THISTLE_SITE("win\\shpclut");
        fatalerror("getclutptr - UNSUPPORTED CLUT TYPE 0x%x\n", shapetype(clut));
    }
    return buffer;
}

const uint16_t *getclut16ptr(const void *shape, uint16_t *buffer) {
    const uint8_t *clut = static_cast<const uint8_t *>(getshapeclut(shape));
    if (clut == nullptr) {
        row8888to565a(systempalette, buffer, 256);
        return buffer;
    }
    const uint8_t *entries = shapepixels(clut);
    const int32_t count = clutcount(clut);
    uint32_t colours[256];
    buffer[255] = 0;
    switch (shapetype(clut)) {
    case CLUT_565:
        return reinterpret_cast<const uint16_t *>(entries);
    case CLUT_RGB8:
    case CLUT_RGB6:
    case CLUT_8888:
        clutto32(clut, colours);
        row8888to565a(colours, buffer, count);
        break;
    case CLUT_A565:
        rowlow16(entries, buffer, count);
        break;
    case CLUT_A555: {
        uint16_t low[256];
        rowlow16(entries, low, count);
        row555to565(low, buffer, count);
        break;
    }
    case CLUT_555:
        row555to565(entries, buffer, count);
        break;
    case CLUT_BGR555: {
        uint16_t swapped[256];
        row555swap(entries, swapped, count);
        row555to565(swapped, buffer, count);
        break;
    }
    default:
        THISTLE_SITE("win\\shpclut");
        fatalerror("getclut16ptr - UNSUPPORTED CLUT TYPE 0x%x\n", shapetype(clut));
        break;
    }
    return buffer;
}

const uint32_t *getclut16aptr(const void *shape, uint32_t *buffer) {
    const uint8_t *clut = static_cast<const uint8_t *>(getshapeclut(shape));
    if (clut == nullptr) {
        row8888toa565(systempalette, buffer, 256);
        return buffer;
    }
    if (shapetype(clut) == CLUT_A565) {
        return reinterpret_cast<const uint32_t *>(shapepixels(clut));
    }
    uint32_t colours[256];
    buffer[255] = 0;
    const int32_t count = clutto32(clut, colours);
    if (count < 0) {
        THISTLE_SITE("win\\shpclut");
        fatalerror("getclut16aptr - UNSUPPORTED CLUT TYPE 0x%x\n", shapetype(clut));
        return buffer;
    }
    row8888toa565(colours, buffer, count);
    return buffer;
}

void clut6to8(int32_t count, const void *source, void *destination) {
    const uint8_t *src = static_cast<const uint8_t *>(source);
    uint8_t *dst = static_cast<uint8_t *>(destination);
    for (int32_t i = 0; i < 3 * count; i++) {
        dst[i] = scale6to8(src[i]);
    }
}

void clut8to6(int32_t count, const void *source, void *destination) {
    const uint8_t *src = static_cast<const uint8_t *>(source);
    uint8_t *dst = static_cast<uint8_t *>(destination);
    for (int32_t i = 0; i < 3 * count; i++) {
        dst[i] = scale8to6(src[i]);
    }
}

void clut6to32(int32_t count, const void *source, void *destination) {
    const uint8_t *src = static_cast<const uint8_t *>(source);
    for (int32_t i = 0; i < count; i++, src += 3) {
        putentry(destination, i,
                 opaque(scale6to8(src[0]), scale6to8(src[1]), scale6to8(src[2]), i));
    }
}

void clut8to32(int32_t count, const void *source, void *destination) {
    const uint8_t *src = static_cast<const uint8_t *>(source);
    for (int32_t i = 0; i < count; i++, src += 3) {
        putentry(destination, i, opaque(src[0], src[1], src[2], i));
    }
}

void clut32to6(int32_t count, const void *source, void *destination) {
    uint8_t *dst = static_cast<uint8_t *>(destination);
    for (int32_t i = 0; i < count; i++, dst += 3) {
        const uint32_t colour = getentry(source, i);
        dst[0] = scale8to6(static_cast<uint8_t>(colour >> 16));
        dst[1] = scale8to6(static_cast<uint8_t>(colour >> 8));
        dst[2] = scale8to6(static_cast<uint8_t>(colour));
    }
}

void clut32to8(int32_t count, const void *source, void *destination) {
    uint8_t *dst = static_cast<uint8_t *>(destination);
    for (int32_t i = 0; i < count; i++, dst += 3) {
        const uint32_t colour = getentry(source, i);
        dst[0] = static_cast<uint8_t>(colour >> 16);
        dst[1] = static_cast<uint8_t>(colour >> 8);
        dst[2] = static_cast<uint8_t>(colour);
    }
}
