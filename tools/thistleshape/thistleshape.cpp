/*
 * thistleshape - the command-line tool for the library's shapes: makes shapes of every
 * image type from PNG files (indexed ones with a colour table from the quantiser or a
 * given palette, packed with any pack code), turns shapes back into PNG files, lists
 * them, and lays out every shape of a set of files on one contact sheet.
 *
 *   thistleshape [OPTIONS] FILE.png...     make FILE.shp from each PNG
 *   thistleshape -d [OPTIONS] FILE.shp...  make FILE.png from each shape file
 *   thistleshape -l FILE.shp...            list every shape's header, packing and table
 *   thistleshape -s -o SHEET.png FILE...   one PNG with every shape of the files
 *
 * Direct types are made by the library's own conversion (convertshapetype from a 32-bit
 * shape of the picture, with its alpha threshold), so a shape made here holds what the
 * game would make of the same picture; 0x43 takes the 0x7F rows at its word pitch, which
 * the conversion tables do not reach. Shapes are read back and shown by the tool's own
 * reader (shapefile.cpp), which follows the library's reading rules.
 * Memory: the conversion and the encoders take their memory from defaultmemclass: the
 * tool makes one class over pages of its own, sized from the picture.
 * Output: as every tool's (toolio.h): a temporary file beside the target, renamed into
 * place, removed on failure and on signals. Shape files are padded to a multiple of 4
 * bytes.
 * Exit codes: 0 success, 1 some file failed, 2 bad command line.
 */
#include "indexed.h"
#include "shapefile.h"
#include "toolio.h"
#include "toolpack.h"
#include "toolpng.h"

#include "thistle/convshp.h"
#include "thistle/diag.h"
#include "thistle/memstd.h"
#include "thistle/memutil.h"
#include "thistle/pack.h"
#include "thistle/unpack.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

const char toolname[] = "thistleshape";

namespace {

// Inputs are read up to this size: far above any shape a game loads.
constexpr size_t maxinput = size_t{256} << 20;
// PNG inputs: 32767 pixels on a side (a shape's width and height are signed 16-bit
// numbers) and 16777216 pixels in all (a small file can claim a huge picture; this keeps
// the tool's memory to about 1 GiB).
constexpr pnglimits pngbounds = {.side = 32767, .pixels = uint32_t{1} << 24};
// A contact sheet stays below this many pixels (256 MiB of colours).
constexpr size_t maxsheetpixels = size_t{1} << 26;

const char helptext[] =
    "usage: thistleshape [OPTIONS] FILE.png...     make FILE.shp from each PNG\n"
    "       thistleshape -d [OPTIONS] FILE.shp...  make FILE.png from each shape file\n"
    "       thistleshape -l FILE.shp...            list header, packing and colour table\n"
    "       thistleshape -s -o SHEET.png FILE...   contact sheet of every shape\n"
    "\n"
    "FILE - reads standard input and writes standard output.\n"
    "\n"
    "  -T, --type=T    image type: 1, 4, 8 (default), 1555 (or 15), 565 (or 16), 24,\n"
    "                  8888 (or 32), 4444, with word rows 1w, 4w, 8w, 555b, 24w; or\n"
    "                  the code, 0x79 .. 0x44\n"
    "  -C, --clut=C    colour table of indexed types: rgb (0x24, the default), argb\n"
    "                  (0x2a, the default for PNGs with transparency), rgb6 (0x22),\n"
    "                  bgr555 (0x23), 565 (0x29), a565 (0x2c), 1555 (0x2d), a1555 (0x2e)\n"
    "  -P, --palette=F the colours of indexed types from F (a palette PNG or a shape\n"
    "                  file with a colour table) instead of the quantiser\n"
    "      --dither    dither to the quantiser's colours (off: flat areas stay flat)\n"
    "  -p, --pack=F    pack the pixels: lz, huff, huff1, huff2, rle, pair, block\n"
    "                  (block: 565 shapes whose sides are multiples of 4)\n"
    "  -1 .. -9        level for lz (default 6) and block (default 9)\n"
    "      --long      long pack header form (lz, huff*, pair)\n"
    "  -d, --decode    shape files to PNG (the first shape of each file)\n"
    "  -l, --list      list every shape of each file\n"
    "  -s, --sheet     one PNG with every shape of all the files, in a grid\n"
    "      --columns=N shapes a row on the sheet (default: a square grid)\n"
    "  -o FILE         write to FILE (one input, or the sheet)\n"
    "  -c, --stdout    write to standard output\n"
    "  -f, --force     overwrite existing files\n"
    "  -q, --quiet     only errors\n"
    "  -v, --verbose   one line per file\n"
    "  -h, --help      this text\n"
    "  -V, --version   the version\n"
    "  --              the arguments after it are files\n"
    "\n"
    "Exit codes: 0 success, 1 some file failed, 2 bad command line.\n";

/* ---- the command line ------------------------------------------------------------- */

// The default first, then the others in the order of flag's modes.
enum class mode { encode, decode, list, sheet };

struct options : tooloptions {
    mode m = mode::encode;
    const imagetypeinfo *type = imagetype(0x7B);
    const cluttypeinfo *clut = nullptr; /* null: chosen by the picture */
    const char *palette = nullptr;
    bool dither = false;
    const packformat *pack = nullptr;
    int32_t columns = 0;
};

int flag(options &o, const std::string &name, const char *shownas) {
    static const modeoption modes[] = {{"d", "decode"}, {"l", "list"}, {"s", "sheet"}};
    if (const int status = modeflag(modes, o.m, name, shownas); status != notmode) {
        return status;
    }
    if (name == "dither") {
        o.dither = true;
    } else {
        return toolflag(o, name, shownas, helptext);
    }
    return exitok;
}

bool takesvalue(const std::string &name) {
    for (const char *n : {"T", "type", "C", "clut", "P", "palette", "p", "pack", "columns"}) {
        if (name == n) {
            return true;
        }
    }
    return false;
}

int valued(options &o, const std::string &name, const char *value) {
    if (name == "T" || name == "type") {
        o.type = imagetypebyname(value);
        return o.type != nullptr ? exitok : usage("unknown image type '%s'", value);
    }
    if (name == "C" || name == "clut") {
        o.clut = cluttypebyname(value);
        return o.clut != nullptr ? exitok : usage("unknown colour-table type '%s'", value);
    }
    if (name == "P" || name == "palette") {
        o.palette = value;
        return exitok;
    }
    if (name == "p" || name == "pack") {
        o.pack = packformatbyname(value);
        return o.pack != nullptr ? exitok : usage("unknown pack format '%s'", value);
    }
    return parsenumber(value, 1, 4096, o.columns) ? exitok
                                                  : usage("columns '%s' is not 1 to 4096", value);
}

/* The rules between options, once all are read (files are needed; -o, -s, -p and the
 * colour options must fit the mode and type); exitok or exitusage. */
int checkargs(options &o) {
    if (o.files.empty()) {
        return usage("no input files");
    }
    if (o.output != nullptr && (o.tostdout || o.m == mode::list)) {
        return usage("-o goes with making files, not with -c or -l");
    }
    if (o.output != nullptr && o.m != mode::sheet && o.files.size() != 1) {
        return usage("-o takes one input, not %zu", o.files.size());
    }
    if (o.m == mode::sheet && o.output == nullptr && !o.tostdout) {
        return usage("-s needs -o SHEET.png or -c");
    }
    if (o.columns != 0 && o.m != mode::sheet) {
        return usage("--columns applies to -s only");
    }
    if (o.m != mode::encode) {
        return exitok;
    }
    if (o.level != 0 && (o.pack == nullptr || !o.pack->levels)) {
        return usage("-1 .. -9 apply to -p lz and -p block only");
    }
    if (o.longform && (o.pack == nullptr || !o.pack->longheader)) {
        return usage("--long applies to -p lz, huff, huff1, huff2 and pair only");
    }
    if (o.pack != nullptr && o.pack->k == packkind::block && o.type->code != 0x78) {
        return usage("-p block packs 565 shapes (-T 565) only");
    }
    if ((o.clut != nullptr || o.palette != nullptr || o.dither) && o.type->bits > 8) {
        return usage("-C, -P and --dither apply to indexed types (1, 4, 8, 1w, 4w, 8w) only");
    }
    return exitok;
}

/* The output's name: -o, standard output, or the input's with its suffix exchanged. */
std::string outputname(const options &o, const char *in, const char *from, const char *to) {
    if (o.output != nullptr) {
        return o.output;
    }
    if (o.tostdout || isstdio(in)) {
        return "-";
    }
    std::string name = in;
    if (endswith(in, from) && std::strlen(in) > std::strlen(from) &&
        in[std::strlen(in) - std::strlen(from) - 1] != '/') {
        name.resize(name.size() - std::strlen(from));
    }
    return name + to;
}

/* ---- palettes --------------------------------------------------------------------- */

/* A given palette: a palette PNG, or a shape file with a colour table (a bare table or a
 * shape with one behind it), as colours the way the library reads that table. */
int loadpalette(const char *path, std::vector<uint32_t> &colours) {
    std::vector<uint8_t> data;
    if (!readfile(path, maxinput, data)) {
        return 0;
    }
    char error[256];
    if (ispngdata(data.data(), data.size())) {
        return readpngpalette(data.data(), data.size(), pngbounds, colours, error, sizeof error) ||
               !fail(shown(path), "%s", error);
    }
    if (data.size() >= shapeheadersize && cluttype(data[0]) != nullptr) {
        shapeheader h;
        readshapeheader(data.data(), h);
        const cluttypeinfo *t = cluttype(h.type);
        if (h.width <= 0 || h.width > 256 ||
            data.size() - shapeheadersize < static_cast<size_t>(h.width) * t->entrybytes) {
            return !fail(shown(path), "a colour table of %d entries that the file does not hold",
                         h.width);
        }
        colours.resize(256);
        readclut(*t, data.data() + shapeheadersize, h.width, colours.data());
        colours.resize(static_cast<size_t>(h.width));
        return 1;
    }
    shapeinfo s;
    if (!readshape(data.data(), data.size(), 0, s, error, sizeof error)) {
        return !fail(shown(path), "%s", error);
    }
    if (!s.hasclut) {
        return !fail(shown(path), "has no colour table to take a palette from");
    }
    colours.assign(s.colours.begin(), s.colours.begin() + s.clut.width);
    return 1;
}

/* ---- PNG to shape ----------------------------------------------------------------- */

/* The rows of a direct type: the library converts a 32-bit shape of the pixels. */
int directrows(const char *in, uint8_t code, const std::vector<uint32_t> &pixels, int32_t width,
               int32_t height, std::vector<uint8_t> &rows) {
    const uint8_t target = code == 0x43 ? 0x7F : code;
    const size_t bytes = shapeheadersize + pixels.size() * 4;
    workmem mem;
    if (!memup(mem, 3 * bytes + (size_t{1} << 20))) {
        return fail(shown(in), "no memory for the conversion");
    }
    auto *source = static_cast<uint8_t *>(reservememadr("picture", static_cast<int32_t>(bytes),
                                                        static_cast<uint32_t>(defaultmemclass)));
    if (source == nullptr) {
        memdown(mem);
        return fail(shown(in), "no memory for the conversion");
    }
    shapeheader h = {};
    h.type = 0x7D;
    h.width = width;
    h.height = height;
    writeshapeheader(source, h);
    for (size_t i = 0; i < pixels.size(); i++) {
        putlittleendian(source + shapeheadersize + 4 * i, pixels[i], 4);
    }
    const auto *result =
        static_cast<const uint8_t *>(target == 0x7D ? source : convertshapetype(source, target));
    int status = exitok;
    if (result == nullptr || result[0] != target) {
        status = fail(shown(in), "internal error: the conversion to 0x%02x gave 0x%02x", target,
                      result != nullptr ? result[0] : 0);
    } else {
        const size_t from = shaperowsize(target, width), to = shaperowsize(code, width);
        rows.assign(to * static_cast<size_t>(height), 0);
        for (int32_t y = 0; y < height; y++) {
            std::memcpy(rows.data() + to * static_cast<size_t>(y),
                        result + shapeheadersize + from * static_cast<size_t>(y), from);
        }
    }
    if (result != nullptr && result != source) {
        purgememadr(const_cast<uint8_t *>(result));
    }
    purgememadr(source);
    memdown(mem);
    return status;
}

/* Packs the rows into stream; returns exitok or prints the failure. */
int packrows(const options &o, const char *in, const std::vector<uint8_t> &rows, int32_t width,
             int32_t height, std::vector<uint8_t> &stream) {
    if (rows.size() > PACK_MAXSIZE) {
        return fail(shown(in), "%zu bytes of rows are too many to pack (at most %d)", rows.size(),
                    PACK_MAXSIZE);
    }
    const packformat &f = *o.pack;
    stream.resize(packbound(f.code, rows.size()));
    const packjob job = {.format = &f,
                         .data = rows.data(),
                         .size = rows.size(),
                         .width = width,
                         .height = height,
                         .level = o.level != 0 ? o.level : f.deflevel,
                         .header = o.longform ? PACK_LONGHEADER : PACK_SHORTHEADER};
    int32_t result = 0;
    const auto encode = [&] { return packencode(job, stream.data(), stream.size()); };
    if (!packinmemory(in, rows.size(), encode, result)) {
        return exitfail;
    }
    if (result == PACK_EINVAL) {
        return fail(shown(in), "%s cannot pack this shape (block: sides must be multiples of 4)",
                    f.name);
    }
    if (result <= 0) {
        return fail(shown(in), "the %s encoder failed (%d)", f.name, result);
    }
    stream.resize(static_cast<size_t>(result));
    return exitok;
}

/* The shape file: header, rows or stream, and the colour table behind them at the next
 * 4-byte boundary, where the chain offset points; padded to 4 bytes at the end. */
void assemble(uint8_t type, int32_t width, int32_t height, const std::vector<uint8_t> &payload,
              const cluttypeinfo *clut, const std::vector<uint32_t> &entries,
              std::vector<uint8_t> &file) {
    const size_t clutat = (shapeheadersize + payload.size() + 3) & ~size_t{3};
    std::vector<uint8_t> table;
    if (clut != nullptr) {
        writeclutentries(*clut, entries.data(), static_cast<int32_t>(entries.size()), table);
    }
    const size_t total = clut != nullptr ? clutat + shapeheadersize + table.size()
                                         : shapeheadersize + payload.size();
    file.assign((total + 3) & ~size_t{3}, 0);
    shapeheader h = {};
    h.type = type;
    h.chain = clut != nullptr ? static_cast<int32_t>(clutat) : 0;
    h.width = width;
    h.height = height;
    writeshapeheader(file.data(), h);
    std::memcpy(file.data() + shapeheadersize, payload.data(), payload.size());
    if (clut != nullptr) {
        shapeheader c = {};
        c.type = clut->code;
        c.width = static_cast<int32_t>(entries.size());
        c.height = 1;
        writeshapeheader(file.data() + clutat, c);
        std::memcpy(file.data() + clutat + shapeheadersize, table.data(), table.size());
    }
}

int encodeone(const options &o, const char *in, const std::vector<uint32_t> *palette) {
    const std::string name = outputname(o, in, ".png", ".shp");
    const target t = {.path = name.c_str(), .input = in, .force = o.force, .mode = outputmode(in)};
    if (!checktarget(t)) {
        return exitfail;
    }
    std::vector<uint8_t> data;
    if (!readfile(in, maxinput, data)) {
        return exitfail;
    }
    std::vector<uint32_t> pixels;
    int32_t width = 0, height = 0;
    char error[256];
    if (!readpngcolours(data.data(), data.size(), pngbounds, pixels, width, height, error,
                        sizeof error)) {
        return fail(shown(in), "%s", error);
    }
    const imagetypeinfo &type = *o.type;
    std::vector<uint8_t> rows;
    std::vector<uint32_t> entries;
    const cluttypeinfo *clut = nullptr;
    if (type.bits <= 8) {
        clut = o.clut;
        if (clut == nullptr) {
            bool alpha = false;
            for (uint32_t c : palette != nullptr ? *palette : pixels) {
                alpha = alpha || c < 0xFF000000u;
            }
            clut = cluttype(alpha ? 0x2A : 0x24);
        }
        std::vector<uint8_t> indexes;
        if (!makeindexed(pixels, width, height, type.bits, *clut, palette, o.dither, indexes,
                         entries, error, sizeof error)) {
            return fail(shown(in), "%s", error);
        }
        packindexed(type.code, indexes.data(), width, height, rows);
    } else if (directrows(in, type.code, pixels, width, height, rows) != exitok) {
        return exitfail;
    }
    std::vector<uint8_t> payload;
    uint8_t code = type.code;
    if (o.pack != nullptr) {
        if (packrows(o, in, rows, width, height, payload) != exitok) {
            return exitfail;
        }
        code |= 0x80;
    } else {
        payload = rows;
    }
    std::vector<uint8_t> file;
    assemble(code, width, height, payload, clut, entries, file);
    // Read back as any other shape file is: what this tool writes, it reads.
    shapeinfo back;
    if (!readshape(file.data(), file.size(), 0, back, error, sizeof error) ||
        (o.pack == nullptr || o.pack->k != packkind::block ? back.rows != rows
                                                           : back.rows.size() != rows.size())) {
        return fail(shown(in), "internal error: the shape does not read back (%s)", error);
    }
    if (!writetarget(t, file.data(), file.size())) {
        return exitfail;
    }
    if (verbosity > 1) {
        std::fprintf(stderr, "%s: %d x %d -> %s, type 0x%02x%s%s, %zu bytes\n", shown(in), width,
                     height, isstdio(t.path) ? "(standard output)" : t.path, code,
                     o.pack != nullptr ? ", packed " : "", o.pack != nullptr ? o.pack->name : "",
                     file.size());
    }
    return exitok;
}

/* ---- shape to PNG, listing ---------------------------------------------------------- */

int readshapefile(const char *in, std::vector<shapeinfo> &shapes) {
    std::vector<uint8_t> data;
    if (!readfile(in, maxinput, data)) {
        return 0;
    }
    char error[256];
    if (!readshapes(data.data(), data.size(), shapes, error, sizeof error)) {
        return !fail(shown(in), "%s", error);
    }
    return 1;
}

int decodeone(const options &o, const char *in) {
    const std::string name = outputname(o, in, ".shp", ".png");
    const target t = {.path = name.c_str(), .input = in, .force = o.force, .mode = outputmode(in)};
    if (!checktarget(t)) {
        return exitfail;
    }
    std::vector<shapeinfo> shapes;
    if (!readshapefile(in, shapes)) {
        return exitfail;
    }
    std::vector<uint32_t> pixels;
    shapetocolours(shapes[0], pixels);
    std::vector<uint8_t> png;
    char error[256];
    if (!writepngcolours(pixels.data(), shapes[0].header.width, shapes[0].header.height, png, error,
                         sizeof error)) {
        return fail(shown(in), "%s", error);
    }
    if (!writetarget(t, png.data(), png.size())) {
        return exitfail;
    }
    if (verbosity > 1) {
        std::fprintf(stderr, "%s: %d x %d type 0x%02x -> %s%s\n", shown(in), shapes[0].header.width,
                     shapes[0].header.height, shapes[0].type->code,
                     isstdio(t.path) ? "(standard output)" : t.path,
                     shapes.size() > 1 ? " (the first of its shapes)" : "");
    }
    return exitok;
}

void listshape(const shapeinfo &s) {
    const shapeheader &h = s.header;
    std::printf("shape at %zu\n", s.offset);
    std::printf("  type     0x%02x %s (%s)\n", s.type->code, s.type->name, s.type->label);
    std::printf("  width    %d\n", h.width);
    std::printf("  height   %d\n", h.height);
    std::printf("  chain    %d\n", h.chain);
    std::printf("  fields   %u %u %u %u (flags %x %x)\n", h.field[0], h.field[1],
                h.field[2] & 0x0FFFu, h.field[3] & 0x0FFFu, h.field[2] >> 12, h.field[3] >> 12);
    if (s.packed) {
        const packformat *f = packformatbycode(s.packcode);
        std::printf("  packing  %s 0x%02x, %zu packed, %zu unpacked (%.1f%%)\n",
                    f != nullptr ? f->name : "unknown", s.packcode, s.packedsize, s.rows.size(),
                    100.0 * static_cast<double>(s.packedsize) / static_cast<double>(s.rows.size()));
    } else {
        std::printf("  packing  none, %zu bytes of rows\n", s.rows.size());
    }
    if (s.hasclut) {
        std::printf("  colours  0x%02x %s (%s), %d entries at %zu\n", s.cluttype->code,
                    s.cluttype->name, s.cluttype->label, s.clut.width, s.clutoffset);
    } else if (s.type->bits <= 8) {
        std::printf("  colours  none (the system palette)\n");
    }
}

int listone(const char *in) {
    std::vector<shapeinfo> shapes;
    if (!readshapefile(in, shapes)) {
        return exitfail;
    }
    std::printf("%s: %zu shape%s\n", shown(in), shapes.size(), shapes.size() == 1 ? "" : "s");
    for (const shapeinfo &s : shapes) {
        listshape(s);
    }
    return exitok;
}

/* ---- contact sheet ---------------------------------------------------------------- */

constexpr int32_t gap = 4;

/* A shape's pixel over the cell's checkerboard, so that transparency shows. */
uint32_t overboard(uint32_t c, int32_t x, int32_t y) {
    const uint32_t board = ((x >> 3) + (y >> 3)) & 1 ? 0x99 : 0x66;
    const uint32_t a = c >> 24;
    uint32_t out = 0xFF000000u;
    for (int shift = 0; shift < 24; shift += 8) {
        const uint32_t v = ((c >> shift & 0xFF) * a + board * (255 - a) + 127) / 255;
        out |= v << shift;
    }
    return out;
}

int sheet(const options &o) {
    const std::string name = o.output != nullptr ? o.output : "-";
    const target t = {
        .path = name.c_str(), .input = nullptr, .force = o.force, .mode = outputmode("-")};
    if (!checktarget(t)) {
        return exitfail;
    }
    std::vector<shapeinfo> all;
    int result = exitok;
    for (const char *in : o.files) {
        std::vector<shapeinfo> shapes;
        if (!readshapefile(in, shapes)) {
            result = exitfail;
            continue;
        }
        for (shapeinfo &s : shapes) {
            if (verbosity > 1) {
                std::fprintf(stderr, "%zu: %s, shape at %zu, %d x %d\n", all.size(), shown(in),
                             s.offset, s.header.width, s.header.height);
            }
            all.push_back(std::move(s));
        }
    }
    if (result != exitok) {
        return result; // a sheet with shapes missing would mislead
    }
    int32_t cellwidth = 0, cellheight = 0;
    for (const shapeinfo &s : all) {
        cellwidth = s.header.width > cellwidth ? s.header.width : cellwidth;
        cellheight = s.header.height > cellheight ? s.header.height : cellheight;
    }
    const int32_t count = static_cast<int32_t>(all.size());
    int32_t columns = o.columns;
    if (columns == 0) {
        columns = static_cast<int32_t>(std::ceil(std::sqrt(static_cast<double>(count))));
    }
    columns = columns > count ? count : columns;
    const int32_t rowsofcells = (count + columns - 1) / columns;
    const int64_t width = int64_t{columns} * (cellwidth + gap) + gap;
    const int64_t height = int64_t{rowsofcells} * (cellheight + gap) + gap;
    if (width > pngbounds.side || height > pngbounds.side ||
        static_cast<size_t>(width * height) > maxsheetpixels) {
        return fail(name == "-" ? "(standard output)" : name.c_str(),
                    "a sheet of %lld x %lld pixels is too large (try --columns)",
                    static_cast<long long>(width), static_cast<long long>(height));
    }
    std::vector<uint32_t> pixels(static_cast<size_t>(width * height), 0xFF303030u);
    std::vector<uint32_t> shape;
    for (int32_t i = 0; i < count; i++) {
        shapetocolours(all[i], shape);
        const int64_t left = gap + int64_t{i % columns} * (cellwidth + gap);
        const int64_t top = gap + int64_t{i / columns} * (cellheight + gap);
        const int32_t w = all[i].header.width;
        for (int32_t y = 0; y < all[i].header.height; y++) {
            uint32_t *row = pixels.data() + (top + y) * width + left;
            for (int32_t x = 0; x < w; x++) {
                row[x] = overboard(shape[static_cast<size_t>(y) * w + x], x, y);
            }
        }
    }
    std::vector<uint8_t> png;
    char error[256];
    if (!writepngcolours(pixels.data(), static_cast<int32_t>(width), static_cast<int32_t>(height),
                         png, error, sizeof error)) {
        return fail(name.c_str(), "%s", error);
    }
    return writetarget(t, png.data(), png.size()) ? exitok : exitfail;
}

/* A fatal report of the library would end the tool with exit code 0 behind a message
 * box: here it is one line on standard error and exit code 1 (no output is being
 * written while the library converts or packs). */
int32_t libraryfault(const char *text) {
    std::fprintf(stderr, "thistleshape: internal error in the library: %s", text);
    std::fflush(stderr);
    std::_Exit(exitfail);
}

} // namespace

/* Entry: see helptext. A sheet is made of all the files at once; otherwise every file is
 * tried, and the exit code says whether any failed. */
int main(int argc, char **argv) {
    fatalfilterhook = libraryfault;
    options o;
    if (const int status = toolstart(argc, argv, o, takesvalue, flag, valued, checkargs);
        status != proceed) {
        return status;
    }
    if (o.m == mode::encode && o.type->bits <= 8 && o.palette == nullptr && !havequantiser()) {
        return usage("this build has no quantiser (libimagequant): indexed types need -P");
    }
    if (o.m == mode::sheet) {
        return sheet(o);
    }
    std::vector<uint32_t> palette;
    if (o.palette != nullptr && o.m == mode::encode && !loadpalette(o.palette, palette)) {
        return exitfail;
    }
    int result = exitok;
    for (const char *in : o.files) {
        int one = exitok;
        switch (o.m) {
        case mode::encode:
            one = encodeone(o, in, o.palette != nullptr ? &palette : nullptr);
            break;
        case mode::decode:
            one = decodeone(o, in);
            break;
        case mode::list:
            one = listone(in);
            break;
        case mode::sheet:
            break;
        }
        result = one != exitok ? exitfail : result;
    }
    std::fflush(stdout);
    return result;
}
