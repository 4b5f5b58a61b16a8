/*
 * thistlepack - the command-line packer for the library's packed data: packs files in
 * every pack code, unpacks them, describes them and checks them with the bounded
 * decoders, so that data from anywhere can be looked at safely.
 *
 * Threads: one, plus a worker that runs the encoder while the main thread draws the
 * progress bar (only for large inputs on a terminal); the worker is the only user of the
 * memory class while it runs.
 * Memory: the encoders take their working memory from defaultmemclass; the tool makes
 * one class over pages of its own, sized from the input, and grows it when an encoder
 * runs out.
 * Limits: inputs up to PACK_MAXSIZE bytes (the header's size field has 24 bits).
 * Exit codes: 0 success, 1 a file or its data failed, 2 bad command line.
 */
#include "thistle/memstd.h"
#include "thistle/memutil.h"
#include "thistle/pack.h"
#include "thistle/unpack.h"

#include "pngread.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int exitok = 0;
constexpr int exitfail = 1;
constexpr int exitusage = 2;

// The bar appears for inputs above this size; smaller ones finish before it would help.
constexpr size_t progressthreshold = size_t{4} << 20;
// Packed files are read up to this size: a bound on any stream of a PACK_MAXSIZE input.
constexpr size_t maxpackedfile = size_t{64} << 20;

const char helptext[] =
    "usage: thistlepack pack -f FORMAT [-l LEVEL] [--long] [--width W] IN OUT\n"
    "       thistlepack unpack IN OUT\n"
    "       thistlepack info IN...\n"
    "       thistlepack verify IN...\n"
    "\n"
    "pack     packs IN into OUT and checks that OUT unpacks again\n"
    "         FORMAT: lz, huff, huff1 (running sum), huff2 (double running sum),\n"
    "                 rle, pair, block (4x4 colour blocks of 5:6:5 pixels)\n"
    "         -l LEVEL  1 (fastest) to 9 (densest), for lz (default 6) and block\n"
    "                   (default 9)\n"
    "         --long    long header form (lz, huff*, pair)\n"
    "         --width W width in pixels of raw 5:6:5 input (block); a PNG file is\n"
    "                   converted to 5:6:5 and needs no width\n"
    "unpack   unpacks IN into OUT with the bounded decoders\n"
    "info     prints each file's pack code, sizes and ratio\n"
    "verify   unpacks each file in memory; exit code 1 if any of them fails\n"
    "\n"
    "Inputs are limited to 16777215 bytes. Exit codes: 0 success, 1 failure, 2 usage.\n";

/* One line per failure, prefixed with the program and the file it concerns. */
int fail(const char *file, const char *format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    std::fprintf(stderr, "thistlepack: %s: %s\n", file, text);
    return exitfail;
}

int usage(const char *format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    std::fprintf(stderr, "thistlepack: %s (thistlepack --help for usage)\n", text);
    return exitusage;
}

/* ---- formats ---------------------------------------------------------------------- */

enum class kind { lz, huff, rle, pair, block };

struct formatentry {
    const char *name;
    uint8_t code;
    kind k;
    int32_t filter;   /* huff: running sums */
    bool levels;      /* takes -l */
    bool longheader;  /* takes --long */
    int32_t deflevel; /* level when -l is not given */
};

static const formatentry formats[] = {
    {.name = "lz",
     .code = PACK_LZCODE,
     .k = kind::lz,
     .filter = 0,
     .levels = true,
     .longheader = true,
     .deflevel = 6},
    {.name = "huff",
     .code = PACK_HUFFCODE,
     .k = kind::huff,
     .filter = 0,
     .levels = false,
     .longheader = true,
     .deflevel = 0},
    {.name = "huff1",
     .code = PACK_HUFF1CODE,
     .k = kind::huff,
     .filter = 1,
     .levels = false,
     .longheader = true,
     .deflevel = 0},
    {.name = "huff2",
     .code = PACK_HUFF2CODE,
     .k = kind::huff,
     .filter = 2,
     .levels = false,
     .longheader = true,
     .deflevel = 0},
    {.name = "rle",
     .code = PACK_RLECODE,
     .k = kind::rle,
     .filter = 0,
     .levels = false,
     .longheader = false,
     .deflevel = 0},
    {.name = "pair",
     .code = PACK_PAIRCODE,
     .k = kind::pair,
     .filter = 0,
     .levels = false,
     .longheader = true,
     .deflevel = 0},
    {.name = "block",
     .code = PACK_BLOCKCODE,
     .k = kind::block,
     .filter = 0,
     .levels = true,
     .longheader = false,
     .deflevel = 9},
};

const formatentry *formatbyname(const char *name) {
    for (const formatentry &f : formats) {
        if (std::strcmp(f.name, name) == 0) {
            return &f;
        }
    }
    return nullptr;
}

const formatentry *formatbycode(uint8_t code) {
    for (const formatentry &f : formats) {
        if (f.code == (code & 0xFE)) {
            return &f;
        }
    }
    return nullptr;
}

/* What the header of a packed stream says, read the way each decoder reads it. */
struct header {
    const formatentry *format;
    uint8_t code;      /* byte 0 as stored */
    uint8_t signature; /* byte 1 */
    bool longform;     /* the decoder skips the 3-byte field */
    size_t unpacked;   /* the size the decoder takes */
    int32_t width;     /* block: pixels per row */
};

int readheader(const uint8_t *data, size_t size, header &h, char *error, size_t errorsize) {
    if (size < 5) {
        std::snprintf(error, errorsize, "too short for a pack header (%zu bytes)", size);
        return 0;
    }
    h.code = data[0];
    h.signature = data[1];
    if (h.signature != 0xFB && h.signature != 0x32) {
        std::snprintf(error, errorsize, "not a packed stream (signature 0x%02x)", h.signature);
        return 0;
    }
    h.format = formatbycode(h.code);
    if (h.format == nullptr) {
        std::snprintf(error, errorsize, "unknown pack code 0x%02x", h.code);
        return 0;
    }
    // The LZ and Huffman decoders honour bit 0 of every code; the byte-pair decoder only
    // the exact bytes 0x47 0xFB; the others always read the size at offset 2.
    const kind k = h.format->k;
    h.longform = ((k == kind::lz || k == kind::huff) && (h.code & 1) != 0) ||
                 (k == kind::pair && h.code == 0x47 && h.signature == 0xFB);
    if (h.longform && size < 8) {
        std::snprintf(error, errorsize, "too short for a long pack header (%zu bytes)", size);
        return 0;
    }
    h.unpacked = getbigendian(data + (h.longform ? 5 : 2), 3);
    h.width = 0;
    if (k == kind::block) {
        if (size < 8) {
            std::snprintf(error, errorsize, "too short for a colour-block header");
            return 0;
        }
        h.width = (data[6] << 8) | data[7];
    }
    return 1;
}

const char *unpackerror(int32_t result) {
    switch (result) {
    case UNPACK_ETRUNCATED:
        return "truncated: the stream ends before its data does";
    case UNPACK_EOVERFLOW:
        return "unpacks to more than its declared size";
    case UNPACK_EMALFORMED:
        return "malformed: a code table or reference that cannot be right";
    case UNPACK_ENOEND:
        return "no end mark";
    case UNPACK_EBADCODE:
        return "not a packed stream (unknown pack code or signature)";
    default:
        return "cannot be unpacked";
    }
}

/* ---- files and progress ---------------------------------------------------------- */

struct progress {
    bool enabled;
    const char *label;
    std::chrono::steady_clock::time_point last;
};

void progressstart(progress &p, const char *label, size_t total) {
    p.enabled = total > progressthreshold && isatty(2);
    p.label = label;
    p.last = std::chrono::steady_clock::now() - std::chrono::seconds(1);
}

void progressdraw(progress &p, double fraction) {
    if (!p.enabled) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now - p.last < std::chrono::milliseconds(100) && fraction < 1.0) {
        return;
    }
    p.last = now;
    constexpr int width = 40;
    fraction = fraction < 0 ? 0 : fraction > 1 ? 1 : fraction;
    const int filled = static_cast<int>(fraction * width);
    char bar[width + 1];
    for (int i = 0; i < width; i++) {
        bar[i] = i < filled ? '#' : '-';
    }
    bar[width] = 0;
    std::fprintf(stderr, "\r%-9s [%s] %3d%%", p.label, bar, static_cast<int>(fraction * 100));
    std::fflush(stderr);
}

void progressend(progress &p) {
    if (p.enabled) {
        std::fprintf(stderr, "\r%60s\r", "");
        std::fflush(stderr);
    }
}

/* Reads a whole file of at most limit bytes; on failure prints the error and returns 0.
 * oversize names what the limit is for in the message. */
int readfile(const char *path, size_t limit, std::vector<uint8_t> &data, const char *what) {
    struct stat st;
    if (stat(path, &st) != 0) {
        return !fail(path, "%s", std::strerror(errno));
    }
    if (S_ISDIR(st.st_mode)) {
        return !fail(path, "is a directory");
    }
    if (S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) > limit) {
        return !fail(path, "%s of %lld bytes is too large (at most %zu bytes)", what,
                     static_cast<long long>(st.st_size), limit);
    }
    FILE *f = std::fopen(path, "rb");
    if (f == nullptr) {
        return !fail(path, "%s", std::strerror(errno));
    }
    progress bar;
    progressstart(bar, "reading", S_ISREG(st.st_mode) ? static_cast<size_t>(st.st_size) : 0);
    data.clear();
    constexpr size_t chunk = size_t{1} << 20;
    for (;;) {
        const size_t at = data.size();
        if (at > limit) {
            break;
        }
        data.resize(at + chunk);
        const size_t got = std::fread(data.data() + at, 1, chunk, f);
        data.resize(at + got);
        if (got < chunk) {
            break;
        }
        progressdraw(bar, static_cast<double>(data.size()) / static_cast<double>(st.st_size));
    }
    progressend(bar);
    const bool bad = std::ferror(f) != 0;
    std::fclose(f);
    if (bad) {
        return !fail(path, "read error");
    }
    if (data.size() > limit) {
        return !fail(path, "%s is too large (at most %zu bytes)", what, limit);
    }
    return 1;
}

int writefile(const char *path, const void *data, size_t size) {
    FILE *f = std::fopen(path, "wb");
    if (f == nullptr) {
        return !fail(path, "%s", std::strerror(errno));
    }
    const bool written = std::fwrite(data, 1, size, f) == size;
    if (std::fclose(f) != 0 || !written) {
        const int e = errno;
        std::remove(path);
        return !fail(path, "write error: %s", std::strerror(e));
    }
    return 1;
}

/* ---- working memory --------------------------------------------------------------- */

struct workmem {
    void *pages;
    int32_t classnum;
};

// The region must stay below 2 GiB (class sizes are 32-bit).
constexpr size_t maxregion = size_t{1536} << 20;

/* Makes a memory class of about `bytes` and makes it the default class. */
int memup(workmem &m, size_t bytes) {
    m.pages = nullptr;
    m.classnum = 1;
    bytes = bytes > maxregion ? maxregion : bytes;
    void *pages = allocpages(&bytes);
    if (pages == nullptr) {
        return 0;
    }
    initmemclasses();
    if (creatememclass(m.classnum, "thistlepack", pages, static_cast<int32_t>(bytes), 16, 16, 0, 0,
                       0, 1, 0, 0) == 0) {
        freepages(pages);
        return 0;
    }
    m.pages = pages;
    defaultmemclass = m.classnum;
    return 1;
}

void memdown(workmem &m) {
    if (m.pages != nullptr) {
        removememclass(m.classnum);
        freepages(m.pages);
        m.pages = nullptr;
    }
}

/* ---- pack ------------------------------------------------------------------------- */

struct packjob {
    const formatentry *format;
    const uint8_t *data; /* bytes, or little-endian 5:6:5 pixels for block */
    size_t size;
    int32_t width, height; /* block */
    int32_t level;
    int32_t header;
};

int32_t encode(const packjob &j, uint8_t *out, size_t capacity) {
    switch (j.format->k) {
    case kind::lz:
        return lzpack(j.data, j.size, out, capacity, j.level, j.header);
    case kind::huff:
        return huffpack(j.data, j.size, out, capacity, j.format->filter, j.header);
    case kind::rle:
        return rlepack(j.data, j.size, out, capacity);
    case kind::pair:
        return pairpack(j.data, j.size, out, capacity, j.header);
    case kind::block: {
        // Pixels are little-endian in files; the encoder takes them in host order.
        std::vector<uint16_t> pixels(j.size / 2);
        for (size_t i = 0; i < pixels.size(); i++) {
            pixels[i] = static_cast<uint16_t>(j.data[2 * i] | (j.data[2 * i + 1] << 8));
        }
        return blockpack(pixels.data(), j.width, j.height, out, capacity, j.level);
    }
    }
    return PACK_EINVAL;
}

/* Runs the encoder; with the bar on, in a worker thread while the bar advances on an
 * estimate taken from packing the first part of the input. */
int32_t encodewithprogress(const packjob &j, uint8_t *out, size_t capacity) {
    progress bar;
    progressstart(bar, "packing", j.size);
    if (!bar.enabled) {
        return encode(j, out, capacity);
    }
    packjob probe = j;
    probe.size = size_t{512} << 10;
    if (j.format->k == kind::block) {
        probe.height = static_cast<int32_t>(probe.size / 2 / static_cast<size_t>(j.width)) & ~3;
        probe.height = probe.height < 4 ? 4 : probe.height;
        probe.size = static_cast<size_t>(probe.height) * static_cast<size_t>(j.width) * 2;
    }
    const auto t0 = std::chrono::steady_clock::now();
    std::vector<uint8_t> scratch(packbound(j.format->code, probe.size));
    encode(probe, scratch.data(), scratch.size());
    const double probeseconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double estimate =
        probeseconds * static_cast<double>(j.size) / static_cast<double>(probe.size) + 0.05;

    std::atomic<bool> done{false};
    int32_t result = 0;
    const auto start = std::chrono::steady_clock::now();
    std::thread worker([&] {
        result = encode(j, out, capacity);
        done.store(true, std::memory_order_release);
    });
    while (!done.load(std::memory_order_acquire)) {
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        progressdraw(bar, elapsed / estimate < 0.99 ? elapsed / estimate : 0.99);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    worker.join();
    progressdraw(bar, 1.0);
    progressend(bar);
    return result;
}

int parselevel(const char *text, int32_t &level) {
    char *end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (end == text || *end != 0 || v < 1 || v > 9) {
        return 0;
    }
    level = static_cast<int32_t>(v);
    return 1;
}

int parsewidth(const char *text, int32_t &width) {
    char *end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (end == text || *end != 0 || v < 1 || v > 65535) {
        return 0;
    }
    width = static_cast<int32_t>(v);
    return 1;
}

/* The pack command's options and files. */
struct packargs {
    const formatentry *format;
    int32_t level; /* 0: the format's default */
    int32_t width; /* 0: not given */
    bool longform;
    const char *in;
    const char *out;
};

/* Reads the pack command line into a; returns exitok or the usage failure. */
int parsepackargs(int argc, char **argv, packargs &a) {
    a = {};
    int nfiles = 0;
    for (int i = 0; i < argc; i++) {
        const char *arg = argv[i];
        const bool valued = std::strcmp(arg, "-f") == 0 || std::strcmp(arg, "-l") == 0 ||
                            std::strcmp(arg, "--width") == 0;
        if (valued && i + 1 >= argc) {
            return usage("%s needs a value", arg);
        }
        if (std::strcmp(arg, "-f") == 0) {
            a.format = formatbyname(argv[++i]);
            if (a.format == nullptr) {
                return usage("unknown format '%s'", argv[i]);
            }
        } else if (std::strcmp(arg, "-l") == 0) {
            if (!parselevel(argv[++i], a.level)) {
                return usage("level '%s' is not 1 to 9", argv[i]);
            }
        } else if (std::strcmp(arg, "--width") == 0) {
            if (!parsewidth(argv[++i], a.width)) {
                return usage("width '%s' is not 1 to 65535", argv[i]);
            }
        } else if (std::strcmp(arg, "--long") == 0) {
            a.longform = true;
        } else if (arg[0] == '-' && arg[1] != 0) {
            return usage("unknown option '%s'", arg);
        } else if (nfiles < 2) {
            (nfiles++ == 0 ? a.in : a.out) = arg;
        } else {
            return usage("pack takes one input and one output");
        }
    }
    if (a.format == nullptr) {
        return usage("pack needs -f FORMAT");
    }
    if (nfiles != 2) {
        return usage("pack takes one input and one output");
    }
    if (a.level != 0 && !a.format->levels) {
        return usage("-l applies to lz and block only");
    }
    if (a.longform && !a.format->longheader) {
        return usage("--long applies to lz, huff, huff1, huff2 and pair only");
    }
    if (a.width != 0 && a.format->k != kind::block) {
        return usage("--width applies to block only");
    }
    return exitok;
}

/* Makes the block job's pixels from a PNG (converted to 5:6:5 into pixelbytes) or from
 * raw 5:6:5 rows of the given width. Returns exitok or the failure's exit code. */
int readpixels(const packargs &a, const std::vector<uint8_t> &data, packjob &job,
               std::vector<uint8_t> &pixelbytes) {
    if (!ispng(data.data(), data.size())) {
        if (a.width == 0) {
            return usage("block needs --width for raw 5:6:5 input");
        }
        const size_t row = static_cast<size_t>(a.width) * 2;
        if (data.empty() || data.size() % row != 0) {
            return fail(a.in, "%zu bytes are not whole rows of %d 5:6:5 pixels", data.size(),
                        a.width);
        }
        job.width = a.width;
        job.height = static_cast<int32_t>(data.size() / row);
        return exitok;
    }
    std::vector<uint16_t> pixels;
    char error[256];
    if (!readpng565(data.data(), data.size(), pixels, job.width, job.height, error, sizeof error)) {
        return fail(a.in, "%s", error);
    }
    if (a.width != 0 && a.width != job.width) {
        return fail(a.in, "PNG is %d pixels wide, not %d", job.width, a.width);
    }
    pixelbytes.resize(pixels.size() * 2);
    for (size_t i = 0; i < pixels.size(); i++) {
        pixelbytes[2 * i] = static_cast<uint8_t>(pixels[i]);
        pixelbytes[2 * i + 1] = static_cast<uint8_t>(pixels[i] >> 8);
    }
    job.data = pixelbytes.data();
    job.size = pixelbytes.size();
    return exitok;
}

/* Runs the encoder in a memory class sized from the input, four times larger after each
 * PACK_ENOMEM up to maxregion. Returns the stream's size or a PACK_E value; 0 with the
 * failure printed when not even the first class could be made. */
int32_t packinmemory(const packjob &job, const char *in, std::vector<uint8_t> &packed) {
    int32_t result = PACK_ENOMEM;
    workmem mem;
    for (size_t region = (size_t{32} << 20) + 24 * job.size; result == PACK_ENOMEM; region *= 4) {
        if (!memup(mem, region)) {
            return !fail(in, "no memory for the encoder's work");
        }
        result = encodewithprogress(job, packed.data(), packed.size());
        memdown(mem);
        if (region >= maxregion) {
            break;
        }
    }
    return result;
}

/* Names an encoder failure; exitok for a stream. */
int packfailure(const packargs &a, int32_t result) {
    switch (result) {
    case PACK_EOVERFLOW:
        return fail(a.in, "the packed stream overflowed its bound (encoder fault)");
    case PACK_EINVAL:
        return fail(a.in, "%s cannot pack this input (size or dimensions out of range)",
                    a.format->name);
    case PACK_ENOMEM:
        return fail(a.in, "the encoder ran out of working memory");
    default:
        return result < 0 ? fail(a.in, "the encoder failed (%d)", result) : exitok;
    }
}

int cmdpack(int argc, char **argv) {
    packargs a;
    int status = parsepackargs(argc, argv, a);
    if (status != exitok) {
        return status;
    }
    std::vector<uint8_t> data;
    // A PNG may be smaller than its pixels; its pixels are checked after decoding.
    const bool block = a.format->k == kind::block;
    if (!readfile(a.in, block ? maxpackedfile : PACK_MAXSIZE, data, "input")) {
        return exitfail;
    }
    packjob job = {.format = a.format,
                   .data = data.data(),
                   .size = data.size(),
                   .width = 0,
                   .height = 0,
                   .level = a.level != 0 ? a.level : a.format->deflevel,
                   .header = a.longform ? PACK_LONGHEADER : PACK_SHORTHEADER};
    std::vector<uint8_t> pixelbytes;
    status = block ? readpixels(a, data, job, pixelbytes) : exitok;
    if (status != exitok) {
        return status;
    }
    if (job.size > PACK_MAXSIZE) {
        return fail(a.in, "input of %zu bytes is too large (at most %d bytes)", job.size,
                    PACK_MAXSIZE);
    }
    if (job.size == 0) {
        return fail(a.in, "empty input: a stream that unpacks to 0 bytes reads as invalid");
    }

    std::vector<uint8_t> packed(packbound(a.format->code, job.size));
    const int32_t result = packinmemory(job, a.in, packed);
    if (result == 0 || packfailure(a, result) != exitok) {
        return exitfail;
    }
    // Every stream is read back before it is written: a file that thistlepack wrote
    // always unpacks, to the input itself for the lossless formats.
    const size_t packedsize = static_cast<size_t>(result);
    std::vector<uint8_t> check(job.size);
    const int32_t back = unpackbounded(packed.data(), packedsize, check.data(), check.size());
    if (back != static_cast<int32_t>(job.size) ||
        (!block && std::memcmp(check.data(), job.data, job.size) != 0)) {
        return fail(a.in, "internal error: the %s stream does not unpack to the input (%d)",
                    a.format->name, back);
    }
    return writefile(a.out, packed.data(), packedsize) ? exitok : exitfail;
}

/* ---- unpack, info, verify --------------------------------------------------------- */

/* Reads and decodes one packed file; on failure prints the error and returns 0. */
int decodefile(const char *path, std::vector<uint8_t> &out) {
    std::vector<uint8_t> data;
    if (!readfile(path, maxpackedfile, data, "packed file")) {
        return 0;
    }
    header h;
    char error[256];
    if (!readheader(data.data(), data.size(), h, error, sizeof error)) {
        return !fail(path, "%s", error);
    }
    out.resize(h.unpacked);
    const int32_t got = unpackbounded(data.data(), data.size(), out.data(), out.size());
    if (got < 0) {
        return !fail(path, "%s", unpackerror(got));
    }
    if (static_cast<size_t>(got) != h.unpacked) {
        return !fail(path, "unpacks to %d bytes, not the %zu its header declares", got, h.unpacked);
    }
    return 1;
}

int cmdunpack(int argc, char **argv) {
    if (argc != 2) {
        return usage("unpack takes one input and one output");
    }
    std::vector<uint8_t> out;
    if (!decodefile(argv[0], out)) {
        return exitfail;
    }
    return writefile(argv[1], out.data(), out.size()) ? exitok : exitfail;
}

int cmdinfo(int argc, char **argv) {
    if (argc < 1) {
        return usage("info needs a file");
    }
    int status = exitok;
    for (int i = 0; i < argc; i++) {
        std::vector<uint8_t> data;
        if (!readfile(argv[i], maxpackedfile, data, "packed file")) {
            status = exitfail;
            continue;
        }
        header h;
        char error[256];
        if (!readheader(data.data(), data.size(), h, error, sizeof error)) {
            status = fail(argv[i], "%s", error);
            continue;
        }
        std::printf("%s: %s\n", argv[i], h.format->name);
        std::printf("  code       0x%02x (%s header), signature 0x%02x\n", h.code,
                    h.longform ? "long" : "short", h.signature);
        std::printf("  packed     %zu bytes\n", data.size());
        std::printf("  unpacked   %zu bytes\n", h.unpacked);
        if (h.unpacked > 0) {
            std::printf("  ratio      %.2f%% (%.2f:1)\n",
                        100.0 * static_cast<double>(data.size()) / static_cast<double>(h.unpacked),
                        static_cast<double>(h.unpacked) / static_cast<double>(data.size()));
        }
        if (h.format->k == kind::block && h.width > 0) {
            std::printf("  image      %d x %zu pixels, 5:6:5\n", h.width,
                        h.unpacked / 2 / static_cast<size_t>(h.width));
        }
    }
    return status;
}

int cmdverify(int argc, char **argv) {
    if (argc < 1) {
        return usage("verify needs a file");
    }
    int status = exitok;
    for (int i = 0; i < argc; i++) {
        std::vector<uint8_t> out;
        if (decodefile(argv[i], out)) {
            std::printf("%s: ok, %zu bytes\n", argv[i], out.size());
        } else {
            status = exitfail;
        }
    }
    return status;
}

} // namespace

/* Entry: the first argument names the command; see helptext. */
int main(int argc, char **argv) {
    if (argc < 2) {
        return usage("no command");
    }
    const char *command = argv[1];
    if (std::strcmp(command, "--help") == 0 || std::strcmp(command, "-h") == 0 ||
        std::strcmp(command, "help") == 0) {
        std::fputs(helptext, stdout);
        return exitok;
    }
    if (std::strcmp(command, "pack") == 0) {
        return cmdpack(argc - 2, argv + 2);
    }
    if (std::strcmp(command, "unpack") == 0) {
        return cmdunpack(argc - 2, argv + 2);
    }
    if (std::strcmp(command, "info") == 0) {
        return cmdinfo(argc - 2, argv + 2);
    }
    if (std::strcmp(command, "verify") == 0) {
        return cmdverify(argc - 2, argv + 2);
    }
    return usage("unknown command '%s'", command);
}
