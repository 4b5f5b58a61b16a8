/*
 * shapefile.h - shape files for thistleshape: the type and colour-table codes with their
 * names, reading shapes out of untrusted bytes (every size checked against the file,
 * packed pixels through the bounded decoders), and turning pixels into shape rows and
 * colour tables and back.
 *
 * Colours are 32-bit 0xAARRGGBB throughout, as the library keeps them. The packing and
 * reading rules are the library's own (the same truncation, the alpha threshold, 0 as
 * transparent in 16-bit formats), so a shape shows here as the game shows it.
 * Threads: no shared state.
 */
#ifndef THISTLESHAPE_SHAPEFILE_H
#define THISTLESHAPE_SHAPEFILE_H

#include <cstddef>
#include <cstdint>
#include <vector>

constexpr size_t shapeheadersize = 16;

/* An image type: code, bits per pixel as shapebits counts them, names for -T. */
struct imagetypeinfo {
    uint8_t code;
    int32_t bits;
    const char *name;  /* what -T takes and -l shows */
    const char *alias; /* a second spelling, or null */
    const char *label; /* a few words for -l */
};

/* A colour-table type: code, bytes per entry, how it marks transparency. */
enum class clutalpha {
    none,    /* 3-byte tables: only entry 255 reads as transparent */
    zero,    /* 16-bit tables: an entry of 0 reads as transparent */
    channel, /* an alpha byte per entry */
};

struct cluttypeinfo {
    uint8_t code;
    int32_t entrybytes;
    clutalpha alpha;
    const char *name;
    const char *label;
};

/* Look-ups by code (image types by the low 7 bits) or by name, alias or "0xNN"; null
 * when there is none. */
const imagetypeinfo *imagetype(uint8_t code);
const imagetypeinfo *imagetypebyname(const char *text);
const cluttypeinfo *cluttype(uint8_t code);
const cluttypeinfo *cluttypebyname(const char *text);
/* Every image type, for the help text and the tests. */
const std::vector<imagetypeinfo> &imagetypes();
const std::vector<cluttypeinfo> &cluttypes();

/* Bytes per pixel row of an unpacked shape of this type: exactly the width for 0x7B,
 * whole 16-bit words for the 0x40 group, whole bytes for the others. */
size_t shaperowsize(uint8_t code, int32_t width);

/* The 16-byte header, decoded. */
struct shapeheader {
    uint8_t type;      /* as stored, bit 7 included */
    int32_t chain;     /* signed 24-bit offset to the next block, 0 for none */
    int32_t width;     /* signed 16-bit */
    int32_t height;    /* signed 16-bit */
    uint16_t field[4]; /* the fields at 8, 10, 12 and 14 */
};

void readshapeheader(const uint8_t *bytes, shapeheader &h);
void writeshapeheader(uint8_t *bytes, const shapeheader &h);

/* A shape read from a file and checked. */
struct shapeinfo {
    size_t offset; /* where its header starts in the file */
    shapeheader header;
    const imagetypeinfo *type;
    bool packed;
    uint8_t packcode;          /* the stream's byte 0, when packed */
    size_t packedsize;         /* bytes of the stream (up to the chain, or its true end) */
    std::vector<uint8_t> rows; /* the unpacked pixel rows */
    bool hasclut;
    size_t clutoffset; /* where the colour table's header starts */
    shapeheader clut;
    const cluttypeinfo *cluttype;
    std::vector<uint32_t> colours; /* 256 colours as the library reads the table */
    size_t end;                    /* the first byte after the shape and its chain */
};

/* Reads the shape whose header is at `offset`. Returns 1, or 0 with the reason in error. */
int readshape(const uint8_t *data, size_t size, size_t offset, shapeinfo &s, char *error,
              size_t errorsize);

/* Reads every shape of a file: shapes one after another, each starting at the first
 * 4-byte boundary after the one before (as thistleshape writes them, so files joined
 * with cat read as sets). Zero bytes after the last one are padding. */
int readshapes(const uint8_t *data, size_t size, std::vector<shapeinfo> &shapes, char *error,
               size_t errorsize);

/* The 256 colours of a colour table as the library reads them; entries behind the
 * table's own count are 0. bytes points at the entries, count is the header's width. */
void readclut(const cluttypeinfo &type, const uint8_t *bytes, int32_t count, uint32_t *colours);

/* The colours of the library's default palette, used for indexed shapes without a table. */
void defaultcolours(uint32_t *colours);

/* A shape's pixels as colours, width x height, row by row. */
void shapetocolours(const shapeinfo &s, std::vector<uint32_t> &pixels);

/* Indexed types: one index per pixel into shape rows (1-bit pixels take the low bit
 * first, 4-bit pixels the low nibble first). */
void packindexed(uint8_t code, const uint8_t *indexes, int32_t width, int32_t height,
                 std::vector<uint8_t> &rows);
/* A colour table: the entries written in the table type (header not included). */
void writeclutentries(const cluttypeinfo &type, const uint32_t *colours, int32_t count,
                      std::vector<uint8_t> &bytes);

#endif /* THISTLESHAPE_SHAPEFILE_H */
