/*
 * win\convshp - conversion of shapes between types, step by step through the row
 * converters' dispatch tables (see thistle/convshp.h).
 *
 * One step: source rows -> the table's converter -> a new block "<sb>to<db>":
 *
 *   +--------------+----------------------------------+--------+
 *   | header (16)  | height rows of result row bytes  | "CSHP" |
 *   +--------------+----------------------------------+--------+
 *
 * The sentinel behind the rows catches a converter that writes past its row; it is
 * checked after every step. Each step's result becomes the next step's source and the
 * previous intermediate block is purged, so only the last result stays.
 *
 * Indexed to direct steps read the look-ups of thistle/convrow.h, prepared here: the
 * 32-bit one from the shape's colour table (or the system palette through the remap),
 * the 16-bit one from it in the result's 16-bit format.
 * Threads: the look-ups and the remap are library-wide: one converting thread at a time.
 */
#include "thistle/convshp.h"

#include "thistle/createw.h"
#include "thistle/diag.h"
#include "thistle/memstd.h"
#include "thistle/palette.h"
#include "thistle/shpbytes.h"
#include "thistle/shpclut.h"
#include "thistle/unpack.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr int32_t MAXSTEPS = 10;
constexpr uint8_t SENTINEL[4] = {'C', 'S', 'H', 'P'};

uint8_t shaperemap[256] = {
#define ROW(n) n, n + 1, n + 2, n + 3, n + 4, n + 5, n + 6, n + 7
#define ROW64(n)                                                                                   \
    ROW(n), ROW(n + 8), ROW(n + 16), ROW(n + 24), ROW(n + 32), ROW(n + 40), ROW(n + 48), ROW(n + 56)
    ROW64(0), ROW64(64), ROW64(128), ROW64(192)
#undef ROW64
#undef ROW
};

int32_t typebits(uint8_t type) {
    return shapebits(&type);
}

// The alpha threshold in 4:4:4:4: colours with alpha under 0x40 are transparent 0.
// The look-up of an indexed step takes the threshold whenever the flag is set, for a
// 4:4:4:4 result too, where the row tables have no converter that applies it: a colour
// that is transparent in 5:6:5 is then transparent in every 16-bit form.
void row8888to4444a(const void *source, void *destination, int32_t count) {
    const uint8_t *src = static_cast<const uint8_t *>(source);
    uint16_t *dst = static_cast<uint16_t *>(destination);
    row8888to4444(source, destination, count);
    for (int32_t i = 0; i < count; i++) {
        if (src[4 * i + 3] < 0x40) { // a table's own entries need not be aligned
            dst[i] = 0;
        }
    }
}

// Sets convclut (256 colours) and convclut16 (in the result's 16-bit format) for a step
// from sb <= 8 bits to db > 8 bits. palettesource is the shape whose table gives the
// colours; with fromsystem, the system palette through the remap gives them instead.
void preparelookups(const void *palettesource, int32_t sb, int32_t db, int32_t target,
                    bool fromsystem, bool alpha) {
    const int32_t count = 1 << sb;
    if (fromsystem) {
        for (int32_t i = 0; i < count; i++) {
            convclut32[i] = systempalette[shaperemap[i]];
        }
        convclut = convclut32;
    } else {
        // Indices the table does not cover read as transparent 0, not as the colours of
        // an earlier conversion. A table answered in place (0x2A) is copied: it may hold
        // fewer entries than the look-up, and behind a packed stream it need not be
        // aligned.
        memset(convclut32, 0, sizeof convclut32);
        const uint32_t *colours = getclutptr(palettesource, convclut32);
        if (colours != convclut32 && colours != systempalette) {
            const int32_t have = std::clamp(shapewidth(getshapeclut(palettesource)), 0, 256);
            memcpy(convclut32, colours, sizeof(uint32_t) * size_t(have));
            colours = convclut32;
        }
        convclut = colours;
    }
    if (target == SHAPE_4444) {
        (alpha ? row8888to4444a : row8888to4444)(convclut, convclut16, count);
    } else if (db == 15) {
        (alpha ? row8888to555a : row8888to555)(convclut, convclut16, count);
    } else if (db == 16) {
        (alpha ? row8888to565a : row8888to565)(convclut, convclut16, count);
    }
}

// Steps 1 to 3 of a conversion step shared with getshapeconverter: the converter and the
// type it gives, with the reports for types the tables do not know. False after a report.
bool lookupstep(uint8_t source, int32_t target, bool alpha, rowconverter *converter,
                uint8_t *result) {
    const int32_t si = typeindex(source);
    if (si < 0) {
        THISTLE_SITE("win\\convshp");
        fatalerror("convertshapedepth - INVALID SOURCE SHAPE TYPE ($%02x)\n", source);
        return false;
    }
    const int32_t ti = typeindex(target);
    if (ti < 0) {
        THISTLE_SITE("win\\convshp");
        fatalerror("convertshapedepth - INVALID DESTINATION SHAPE TYPE SPECIFIED ($%02x)\n",
                   static_cast<uint32_t>(target));
        return false;
    }
    *converter = (alpha ? rowconvalpha : rowconvplain)[si][ti];
    *result = rowconvresult[si][ti];
    if (*result == 0) {
        THISTLE_SITE("win\\convshp");
        fatalerror("convertshapetype - UNABLE TO CONVERT TO TARGET SHAPE TYPE.\nInitial shape "
                   "type ($%02x). Target shape type ($%02x)\n",
                   source, static_cast<uint32_t>(target));
        return false;
    }
    return true;
}

// Bytes a block of a chain occupies, as far as its header tells: a table by its entries
// (a 0x23 table is read as 256), an unpacked image by its rows, anything else its header.
int64_t blockextent(const uint8_t *block) {
    const uint8_t type = shapetype(block);
    const int64_t width = std::max(shapewidth(block), 0);
    const int64_t height = std::max(shapeheight(block), 0);
    if (type & SHAPE_PACKED) {
        return SHAPEHEADERSIZE;
    }
    if (iscluttype(type)) {
        return SHAPEHEADERSIZE + (type == CLUT_BGR555 ? 256 : width) * clutentrybytes(type);
    }
    if (shapebits(block) != 0) {
        return SHAPEHEADERSIZE + shaperowbytes(block) * height;
    }
    return SHAPEHEADERSIZE;
}

// How many bytes of a packed shape its "packed" copy must carry: the header, the stream
// and the chain behind it up to the end of its first colour table. A stream's own length
// is not stored anywhere; with a chain it ends where the next block starts. 0 when the
// chain does not run forward (nothing to carry: the shape is unpacked in place).
int64_t carriedbytes(const uint8_t *shape) {
    int64_t position = shapechain(shape);
    if (position < SHAPEHEADERSIZE) {
        return 0;
    }
    int64_t extent = position;
    for (;;) {
        const uint8_t *block = shape + position;
        extent = std::max(extent, position + blockextent(block));
        const int32_t next = shapechain(block);
        if (iscluttype(shapetype(block)) || next == 0) {
            return extent;
        }
        position += next;
        if (position < SHAPEHEADERSIZE) {
            return 0;
        }
    }
}

// Purges what a conversion made besides its result: the unpacked copy of a packed source
// and the copy it was unpacked from.
void purgecopies(const void *shape, void *unpacked, void *packedcopy) {
    if (unpacked != nullptr && unpacked != shape) {
        purgememadr(unpacked);
    }
    purgememadr(packedcopy);
}

} // namespace

/*
 * A packed source is unpacked into a copy whose chain must still reach the colour table.
 * unpackshape points the copy's chain back at the block it unpacked, so that block and
 * its table travel together in the "packed" copy. The copy carries exactly the header,
 * the stream and the chain up to the end of the first table (the stream ends where the
 * chain's next block starts): never more than the source holds, although the block is
 * reserved at its full width x height x bits + 20 bytes. A packed shape without a forward
 * chain has nothing to carry and is unpacked straight from the source. The copy stays
 * until the end: a later indexed step (4 -> 8 -> 32) still reads the table in it.
 */
void *convertshape(const void *shape, int32_t target, int32_t systempaletteflag,
                   int32_t alphathreshold) {
    const uint8_t *source = static_cast<const uint8_t *>(shape);
    void *packedcopy = nullptr;
    void *unpacked = nullptr;
    if (shapetype(source) & SHAPE_PACKED) {
        const int64_t carried = carriedbytes(source);
        uint8_t *from = const_cast<uint8_t *>(source);
        if (carried > 0) {
            const int64_t bound =
                int64_t(shapewidth(source)) * shapeheight(source) * shapebits(source) + 20;
            const int64_t size =
                std::max(carried, bound) > INT32_MAX ? carried : std::max(carried, bound);
            THISTLE_SITE("win\\convshp");
            packedcopy = reservememadr("packed", int32_t(size), defaultmemclass);
            if (packedcopy == nullptr) {
                return nullptr;
            }
            memcpy(packedcopy, source, size_t(carried));
            from = static_cast<uint8_t *>(packedcopy);
        }
        unpacked = unpackshape(from);
        if (unpacked == nullptr) {
            purgememadr(packedcopy);
            return nullptr;
        }
        source = static_cast<const uint8_t *>(unpacked);
    }
    getshapeclut(source);
    if (shapebits(source) == 0) {
        purgecopies(shape, unpacked, packedcopy);
        return nullptr;
    }
    const uint8_t *palettesource = source;
    const int32_t width = shapewidth(source);
    const int32_t height = shapeheight(source);
    uint8_t *result = nullptr;
    for (int32_t step = 0; step < MAXSTEPS; step++) {
        rowconverter converter;
        uint8_t resulttype;
        if (!lookupstep(shapetype(source), target, alphathreshold != 0, &converter, &resulttype)) {
            purgememadr(result);
            purgecopies(shape, unpacked, packedcopy);
            return nullptr;
        }
        const int32_t sb = shapebits(source);
        const int32_t db = typebits(resulttype);
        const int32_t sourcerow = shaperowbytes(source);
        const int32_t resultrow = (width * ((db + 1) & ~1) + 7) / 8;
        if (sb <= 8 && db > 8) {
            preparelookups(palettesource, sb, db, target, systempaletteflag != 0 && step == 0,
                           alphathreshold != 0);
        }
        char name[24];
        snprintf(name, sizeof name, "%dto%d", sb, db);
        THISTLE_SITE("win\\convshp");
        uint8_t *next = static_cast<uint8_t *>(
            reservememadr(name, resultrow * height + 20, uint32_t(defaultmemclass)));
        if (next == nullptr) {
            purgememadr(result);
            purgecopies(shape, unpacked, packedcopy);
            return nullptr;
        }
        uint8_t *sentinel = shapepixels(next) + resultrow * height;
        memcpy(sentinel, SENTINEL, 4);
        if (db < 8) {
            // Converters into 4-bit rows keep the other nibble of a byte: a row of odd
            // width would end in whatever the block held.
            memset(shapepixels(next), 0, size_t(resultrow) * size_t(std::max(height, 0)));
        }
        memset(next, 0, SHAPEHEADERSIZE);
        next[0] = resulttype;
        setshapefield16(next, 4, width);
        setshapefield16(next, 6, height);
        memcpy(next + 8, source + 8, 4);
        setshapefield16(next, 12, shapefield16(source, 12) & 0x0FFF);
        setshapefield16(next, 14, shapefield16(source, 14) & 0x0FFF);
        for (int32_t y = 0; y < height; y++) {
            converter(shapepixels(source) + y * sourcerow, shapepixels(next) + y * resultrow,
                      width);
        }
        if (memcmp(sentinel, SENTINEL, 4) != 0) {
            THISTLE_SITE("win\\convshp");
            fatalerror("convshp - SENTINAL CORRUPTED. %dx%dx%d->%dx%dx%d\n", width, height, sb,
                       width, height, db);
            purgememadr(next);
            purgememadr(result);
            purgecopies(shape, unpacked, packedcopy);
            return nullptr;
        }
        purgememadr(result);
        result = next;
        source = next;
        if (resulttype == target) {
            break;
        }
    }
    purgecopies(shape, unpacked, packedcopy);
    return result;
}

void *convertshapetype(const void *shape, int32_t target) {
    return convertshape(shape, target, 0, 1);
}

void *convertshapedepth(const void *shape, int32_t bpp) {
    return convertshape(shape, windowtype(bpp), 0, 1);
}

rowconverter getshapeconverter(const void *shape, int32_t target, int32_t alphathreshold) {
    rowconverter converter;
    uint8_t resulttype;
    if (!lookupstep(shapetype(shape), target, alphathreshold != 0, &converter, &resulttype) ||
        resulttype != target) {
        return nullptr;
    }
    if (shapebits(shape) <= 8 && typebits(resulttype) > 8) {
        preparelookups(shape, shapebits(shape), typebits(resulttype), target, false,
                       alphathreshold != 0);
    }
    return converter;
}

void setshaperemap(const uint8_t *remap) {
    memcpy(shaperemap, remap, sizeof shaperemap);
}
