/*
 * shapefile.cpp - shape files for thistleshape (see shapefile.h).
 *
 * Nothing here trusts the file: a header, a row, a stream or a colour table is read only
 * after its whole extent has been checked against the file's size, and packed pixels go
 * through unpackbounded with the rows' size as the limit.
 */
#include "shapefile.h"

#include "toolpack.h"

#include "thistle/memutil.h"
#include "thistle/palette.h"
#include "thistle/unpack.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const std::vector<imagetypeinfo> imagetable = {
    {0x79, 1, "1", nullptr, "1-bit indexed"},
    {0x7A, 4, "4", nullptr, "4-bit indexed"},
    {0x7B, 8, "8", nullptr, "8-bit indexed"},
    {0x7E, 15, "1555", "15", "16-bit 1:5:5:5"},
    {0x78, 16, "565", "16", "16-bit 5:6:5"},
    {0x7F, 24, "24", nullptr, "24-bit blue, green, red"},
    {0x7D, 32, "8888", "32", "32-bit alpha, red, green, blue"},
    {0x6D, 16, "4444", nullptr, "16-bit 4:4:4:4"},
    {0x40, 4, "4w", nullptr, "4-bit indexed, word rows"},
    {0x41, 8, "8w", nullptr, "8-bit indexed, word rows"},
    {0x42, 15, "555b", nullptr, "16-bit 5:5:5 blue high, word rows"},
    {0x43, 24, "24w", nullptr, "24-bit blue, green, red, word rows"},
    {0x44, 1, "1w", nullptr, "1-bit indexed, word rows"},
};

const std::vector<cluttypeinfo> cluttable = {
    {0x22, 3, clutalpha::none, "rgb6", "red, green, blue 0..63"},
    {0x23, 2, clutalpha::zero, "bgr555", "16-bit 5:5:5 blue high"},
    {0x24, 3, clutalpha::none, "rgb", "red, green, blue 0..255"},
    {0x29, 2, clutalpha::zero, "565", "16-bit 5:6:5"},
    {0x2A, 4, clutalpha::channel, "argb", "32-bit alpha, red, green, blue"},
    {0x2C, 4, clutalpha::channel, "a565", "5:6:5 with alpha"},
    {0x2D, 2, clutalpha::zero, "1555", "16-bit 1:5:5:5"},
    {0x2E, 4, clutalpha::channel, "a1555", "1:5:5:5 with alpha"},
};

/* "0xNN" or "NN" in hexadecimal after 0x; -1 when the text is not one. */
int32_t hexcode(const char *text) {
    if (text[0] != '0' || (text[1] != 'x' && text[1] != 'X') || text[2] == 0) {
        return -1;
    }
    char *end = nullptr;
    const long v = std::strtol(text + 2, &end, 16);
    return *end == 0 && v >= 0 && v <= 0xFF ? static_cast<int32_t>(v) : -1;
}

/* The library's colour packings (truncating, as its row converters do). */
uint32_t pack565(uint32_t c) {
    return ((c >> 8) & 0xF800) | ((c >> 5) & 0x07E0) | ((c >> 3) & 0x001F);
}

uint32_t pack555(uint32_t c) {
    return ((c >> 9) & 0x7C00) | ((c >> 6) & 0x03E0) | ((c >> 3) & 0x001F);
}

/* With the alpha threshold: almost transparent colours become 0, and an opaque 5:6:5
 * black becomes 1 so that it stays apart from transparent. */
uint32_t pack565a(uint32_t c) {
    if (c < 0x40000000u) {
        return 0;
    }
    const uint32_t p = pack565(c);
    return p == 0 ? 1 : p;
}

uint32_t pack1555a(uint32_t c) {
    return c < 0x40000000u ? 0 : 0x8000u | pack555(c);
}

uint32_t swap555(uint32_t v) {
    return ((v & 0x1F) << 10) | (v & 0x03E0) | ((v >> 10) & 0x1F);
}

/* 16-bit values to colours: fields shifted to the top of their bytes, alpha 255. */
uint32_t from565(uint32_t v) {
    return 0xFF000000u | (v >> 11 & 0x1F) << 19 | (v >> 5 & 0x3F) << 10 | (v & 0x1F) << 3;
}

uint32_t from555(uint32_t v) {
    return 0xFF000000u | (v >> 10 & 0x1F) << 19 | (v >> 5 & 0x1F) << 11 | (v & 0x1F) << 3;
}

uint32_t get16(const uint8_t *p) {
    return p[0] | static_cast<uint32_t>(p[1]) << 8;
}

void put16(uint8_t *p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

int errorf(char *error, size_t errorsize, const char *format, size_t a = 0, size_t b = 0,
           size_t c = 0) {
    std::snprintf(error, errorsize, format, a, b, c);
    return 0;
}

const char *unpackerror(int32_t result) {
    switch (result) {
    case UNPACK_ETRUNCATED:
        return "the stream ends before its data does (truncated?)";
    case UNPACK_EOVERFLOW:
        return "the stream unpacks to more than its rows";
    case UNPACK_EMALFORMED:
        return "the stream is malformed";
    case UNPACK_ENOEND:
        return "the stream has no end mark";
    case UNPACK_EBADCODE:
        return "unknown pack code";
    default:
        return "the stream unpacks to fewer bytes than its rows";
    }
}

/* Finds and reads the first colour table in the chain that starts at the shape's own
 * header, as the library walks it. */
int readchain(const uint8_t *data, size_t size, shapeinfo &s, char *error, size_t errorsize) {
    size_t at = s.offset;
    int32_t chain = s.header.chain;
    // A chain is a handful of blocks; more than this is a loop.
    for (int hops = 0; chain != 0; hops++) {
        if (hops == 16) {
            return errorf(error, errorsize, "the chain at %zu does not end", s.offset);
        }
        const long long next = static_cast<long long>(at) + chain;
        if (next < 0 || static_cast<unsigned long long>(next) + shapeheadersize > size) {
            return errorf(error, errorsize, "the chain at %zu points outside the file", at);
        }
        at = static_cast<size_t>(next);
        shapeheader h;
        readshapeheader(data + at, h);
        if (const cluttypeinfo *t = cluttype(h.type)) {
            if (h.width < 0 || h.width > 256) {
                return errorf(error, errorsize, "the colour table at %zu has %zu entries", at,
                              static_cast<size_t>(h.width & 0xFFFF));
            }
            const size_t bytes = static_cast<size_t>(h.width) * t->entrybytes;
            if (size - at - shapeheadersize < bytes) {
                return errorf(error, errorsize,
                              "the colour table at %zu needs %zu bytes, the file has %zu", at,
                              shapeheadersize + bytes, size - at);
            }
            s.hasclut = true;
            s.clutoffset = at;
            s.clut = h;
            s.cluttype = t;
            readclut(*t, data + at + shapeheadersize, h.width, s.colours.data());
            s.end = at + shapeheadersize + bytes > s.end ? at + shapeheadersize + bytes : s.end;
            return 1;
        }
        chain = h.chain;
    }
    return 1;
}

} // namespace

const std::vector<imagetypeinfo> &imagetypes() {
    return imagetable;
}

const std::vector<cluttypeinfo> &cluttypes() {
    return cluttable;
}

const imagetypeinfo *imagetype(uint8_t code) {
    for (const imagetypeinfo &t : imagetable) {
        if (t.code == (code & 0x7F)) {
            return &t;
        }
    }
    return nullptr;
}

const imagetypeinfo *imagetypebyname(const char *text) {
    const int32_t code = hexcode(text);
    for (const imagetypeinfo &t : imagetable) {
        if (code == t.code || std::strcmp(text, t.name) == 0 ||
            (t.alias != nullptr && std::strcmp(text, t.alias) == 0)) {
            return &t;
        }
    }
    return nullptr;
}

const cluttypeinfo *cluttype(uint8_t code) {
    for (const cluttypeinfo &t : cluttable) {
        if (t.code == code) {
            return &t;
        }
    }
    return nullptr;
}

const cluttypeinfo *cluttypebyname(const char *text) {
    const int32_t code = hexcode(text);
    for (const cluttypeinfo &t : cluttable) {
        if (code == t.code || std::strcmp(text, t.name) == 0) {
            return &t;
        }
    }
    return nullptr;
}

size_t shaperowsize(uint8_t code, int32_t width) {
    const imagetypeinfo *t = imagetype(code);
    const size_t w = width > 0 ? static_cast<size_t>(width) : 0;
    if (t == nullptr) {
        return 0;
    }
    if (t->code == 0x7B) {
        return w;
    }
    const size_t bits = t->bits == 15 ? 16 : static_cast<size_t>(t->bits);
    if ((t->code & 0xF0) == 0x40) {
        return (w * bits + 15) / 16 * 2;
    }
    return (w * bits + 7) / 8;
}

void readshapeheader(const uint8_t *bytes, shapeheader &h) {
    const uint32_t word = getlittleendian(bytes, 4);
    h.type = bytes[0];
    h.chain = static_cast<int32_t>(word) >> 8;
    h.width = static_cast<int16_t>(get16(bytes + 4));
    h.height = static_cast<int16_t>(get16(bytes + 6));
    for (int i = 0; i < 4; i++) {
        h.field[i] = static_cast<uint16_t>(get16(bytes + 8 + 2 * i));
    }
}

void writeshapeheader(uint8_t *bytes, const shapeheader &h) {
    putlittleendian(bytes, h.type | (static_cast<uint32_t>(h.chain) << 8), 4);
    put16(bytes + 4, static_cast<uint32_t>(h.width));
    put16(bytes + 6, static_cast<uint32_t>(h.height));
    for (int i = 0; i < 4; i++) {
        put16(bytes + 8 + 2 * i, h.field[i]);
    }
}

int readshape(const uint8_t *data, size_t size, size_t offset, shapeinfo &s, char *error,
              size_t errorsize) {
    s = shapeinfo{};
    s.offset = offset;
    s.colours.assign(256, 0);
    if (offset > size || size - offset < shapeheadersize) {
        return errorf(error, errorsize, "%zu bytes at %zu are too short for a shape header",
                      offset > size ? 0 : size - offset, offset);
    }
    readshapeheader(data + offset, s.header);
    s.type = imagetype(s.header.type);
    if (s.type == nullptr) {
        return errorf(error, errorsize, "type 0x%02zx at %zu is not an image type", s.header.type,
                      offset);
    }
    if (s.header.width <= 0 || s.header.height <= 0) {
        std::snprintf(error, errorsize, "a shape of %d x %d pixels at %zu", s.header.width,
                      s.header.height, offset);
        return 0;
    }
    s.packed = (s.header.type & 0x80) != 0;
    const size_t rowsize = shaperowsize(s.header.type, s.header.width);
    const size_t rowbytes = rowsize * static_cast<size_t>(s.header.height);
    const size_t start = offset + shapeheadersize;
    const size_t left = size - start;
    // The pixels end at the chain's next block, or with the file.
    size_t room = left;
    if (s.header.chain != 0) {
        if (s.header.chain > 0 && static_cast<size_t>(s.header.chain) < shapeheadersize) {
            return errorf(error, errorsize, "the chain offset %zu points into the header",
                          static_cast<size_t>(s.header.chain));
        }
        if (s.header.chain > 0) {
            room = static_cast<size_t>(s.header.chain) - shapeheadersize;
            room = room < left ? room : left;
        }
    }
    if (!s.packed) {
        if (room < rowbytes) {
            return errorf(error, errorsize,
                          "%zu bytes of pixel rows at %zu, the shape needs %zu (truncated?)", room,
                          start, rowbytes);
        }
        s.rows.assign(data + start, data + start + rowbytes);
        s.end = start + rowbytes;
    } else {
        const uint8_t *stream = data + start;
        if (room < 5 || (stream[1] != 0xFB && stream[1] != 0x32)) {
            return errorf(error, errorsize,
                          "packed shape at %zu: no packed stream behind its header", offset);
        }
        s.packcode = stream[0];
        const size_t declared = getbigendian(stream + 2, 3);
        if (declared != rowbytes) {
            return errorf(error, errorsize,
                          "packed shape at %zu: the stream unpacks to %zu bytes, the rows are %zu",
                          offset, declared, rowbytes);
        }
        s.rows.assign(rowbytes, 0);
        const int32_t got = unpackbounded(stream, room, s.rows.data(), s.rows.size());
        if (got != static_cast<int32_t>(rowbytes)) {
            std::snprintf(error, errorsize, "packed shape at %zu: %s", offset, unpackerror(got));
            return 0;
        }
        s.packedsize = s.header.chain > 0 ? room : packstreamend(stream, room, rowbytes);
        s.end = start + s.packedsize;
    }
    return readchain(data, size, s, error, errorsize);
}

int readshapes(const uint8_t *data, size_t size, std::vector<shapeinfo> &shapes, char *error,
               size_t errorsize) {
    shapes.clear();
    size_t at = 0;
    do {
        shapeinfo s;
        if (!readshape(data, size, at, s, error, errorsize)) {
            return 0;
        }
        at = (s.end + 3) & ~size_t{3};
        shapes.push_back(std::move(s));
        size_t zeros = at;
        while (zeros < size && data[zeros] == 0) {
            zeros++;
        }
        if (zeros == size) {
            break;
        }
    } while (at < size);
    return 1;
}

void readclut(const cluttypeinfo &type, const uint8_t *bytes, int32_t count, uint32_t *colours) {
    for (int32_t i = 0; i < 256; i++) {
        colours[i] = 0;
    }
    // Only the table's own entries are read, also for 0x23 (which the library reads
    // 256 of whatever the count): behind the count there may be no table.
    for (int32_t i = 0; i < count && i < 256; i++) {
        const uint8_t *e = bytes + static_cast<size_t>(i) * type.entrybytes;
        const uint32_t alpha = i == 255 ? 0 : 0xFF000000u;
        uint32_t c = 0;
        switch (type.code) {
        case 0x22:
            c = alpha | ((e[0] * 255u + 32) / 63) << 16 | ((e[1] * 255u + 32) / 63) << 8 |
                (e[2] * 255u + 32) / 63;
            break;
        case 0x24:
            c = alpha | static_cast<uint32_t>(e[0]) << 16 | e[1] << 8 | e[2];
            break;
        case 0x29:
            c = get16(e) == 0 ? 0 : from565(get16(e));
            break;
        case 0x2D:
            c = get16(e) == 0 ? 0 : from555(get16(e));
            break;
        case 0x23:
            c = get16(e) == 0 ? 0 : from555(swap555(get16(e)));
            break;
        case 0x2A:
            c = getlittleendian(e, 4);
            break;
        case 0x2C:
            c = (from565(get16(e)) & 0x00FFFFFF) | static_cast<uint32_t>(e[3]) << 24;
            break;
        case 0x2E:
            c = (from555(get16(e)) & 0x00FFFFFF) | static_cast<uint32_t>(e[3]) << 24;
            break;
        }
        colours[i] = c;
    }
}

void defaultcolours(uint32_t *colours) {
    setdefaultpalette();
    std::memcpy(colours, systempalette, sizeof systempalette);
}

void shapetocolours(const shapeinfo &s, std::vector<uint32_t> &pixels) {
    const int32_t width = s.header.width, height = s.header.height;
    const size_t rowsize = shaperowsize(s.header.type, width);
    uint32_t palette[256];
    if (s.type->bits <= 8) {
        if (s.hasclut) {
            std::memcpy(palette, s.colours.data(), sizeof palette);
        } else {
            defaultcolours(palette);
        }
    }
    pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
    uint32_t *out = pixels.data();
    for (int32_t y = 0; y < height; y++) {
        const uint8_t *row = s.rows.data() + rowsize * static_cast<size_t>(y);
        for (int32_t x = 0; x < width; x++, out++) {
            const uint8_t *p;
            switch (s.type->code) {
            case 0x79:
            case 0x44:
                *out = palette[(row[x >> 3] >> (x & 7)) & 1];
                break;
            case 0x7A:
            case 0x40:
                *out = palette[(row[x >> 1] >> ((x & 1) * 4)) & 0x0F];
                break;
            case 0x7B:
            case 0x41:
                *out = palette[row[x]];
                break;
            case 0x7E:
                *out = get16(row + 2 * x) == 0 ? 0 : from555(get16(row + 2 * x));
                break;
            case 0x42:
                *out = get16(row + 2 * x) == 0 ? 0 : from555(swap555(get16(row + 2 * x)));
                break;
            case 0x78:
                *out = get16(row + 2 * x) == 0 ? 0 : from565(get16(row + 2 * x));
                break;
            case 0x6D: {
                const uint32_t v = get16(row + 2 * x);
                *out = (v >> 12 & 15) * 0x11000000u | (v >> 8 & 15) * 0x110000u |
                       (v >> 4 & 15) * 0x1100u | (v & 15) * 0x11u;
                break;
            }
            case 0x7F:
            case 0x43:
                p = row + 3 * x;
                *out = 0xFF000000u | static_cast<uint32_t>(p[2]) << 16 | p[1] << 8 | p[0];
                break;
            case 0x7D:
                *out = getlittleendian(row + 4 * x, 4);
                break;
            }
        }
    }
}

void packindexed(uint8_t code, const uint8_t *indexes, int32_t width, int32_t height,
                 std::vector<uint8_t> &rows) {
    const size_t rowsize = shaperowsize(code, width);
    const int32_t bits = imagetype(code)->bits;
    rows.assign(rowsize * static_cast<size_t>(height), 0);
    for (int32_t y = 0; y < height; y++) {
        uint8_t *row = rows.data() + rowsize * static_cast<size_t>(y);
        const uint8_t *in = indexes + static_cast<size_t>(width) * static_cast<size_t>(y);
        for (int32_t x = 0; x < width; x++) {
            if (bits == 1) {
                row[x >> 3] = static_cast<uint8_t>(row[x >> 3] | (in[x] & 1) << (x & 7));
            } else if (bits == 4) {
                row[x >> 1] = static_cast<uint8_t>(row[x >> 1] | (in[x] & 15) << ((x & 1) * 4));
            } else {
                row[x] = in[x];
            }
        }
    }
}

void writeclutentries(const cluttypeinfo &type, const uint32_t *colours, int32_t count,
                      std::vector<uint8_t> &bytes) {
    bytes.assign(static_cast<size_t>(count) * type.entrybytes, 0);
    for (int32_t i = 0; i < count; i++) {
        uint8_t *e = bytes.data() + static_cast<size_t>(i) * type.entrybytes;
        const uint32_t c = colours[i];
        const uint8_t r = static_cast<uint8_t>(c >> 16), g = static_cast<uint8_t>(c >> 8),
                      b = static_cast<uint8_t>(c), a = static_cast<uint8_t>(c >> 24);
        switch (type.code) {
        case 0x22:
            e[0] = static_cast<uint8_t>((r * 63 + 128) / 255);
            e[1] = static_cast<uint8_t>((g * 63 + 128) / 255);
            e[2] = static_cast<uint8_t>((b * 63 + 128) / 255);
            break;
        case 0x24:
            e[0] = r;
            e[1] = g;
            e[2] = b;
            break;
        case 0x29:
            put16(e, pack565a(c));
            break;
        case 0x2D:
            put16(e, pack1555a(c));
            break;
        case 0x23: {
            const uint32_t v = pack1555a(c);
            put16(e, (v & 0x8000) | swap555(v & 0x7FFF));
            break;
        }
        case 0x2A:
            putlittleendian(e, c, 4);
            break;
        case 0x2C:
            put16(e, pack565(c));
            e[3] = a;
            break;
        case 0x2E:
            put16(e, 0x8000u | pack555(c));
            e[3] = a;
            break;
        }
    }
}
