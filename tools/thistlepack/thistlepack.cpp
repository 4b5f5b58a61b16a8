/*
 * thistlepack - the command-line packer for the library's packed data: packs files in
 * every pack code, unpacks them, lists and tests them with the bounded decoders, so that
 * data from anywhere can be looked at safely.
 *
 *   thistlepack [OPTIONS] [FILE...]      pack each FILE into FILE.tpk
 *   thistlepack -d [OPTIONS] [FILE...]   unpack FILE.tpk into FILE
 *   thistlepack -t FILE...               test: unpack in memory and check the stream
 *   thistlepack -l FILE...               list: format, header form, both sizes, ratio
 *
 * Threads: one, plus a worker that runs the encoder while the main thread draws the
 * progress bar (only for large inputs on a terminal); the worker is the only user of the
 * memory class while it runs.
 * Memory: the encoders take their working memory from defaultmemclass; the tool makes
 * one class over pages of its own, sized from the input, and grows it when an encoder
 * runs out.
 * Output: written to a temporary file beside the target and renamed into place, so a
 * failed write leaves the target as it was; the temporary file is removed on failure
 * and on SIGINT, SIGTERM, SIGHUP and SIGPIPE (a SIGKILL leaves it behind, named
 * .NAME.XXXXXX).
 * Limits: inputs up to PACK_MAXSIZE bytes (the header's size field has 24 bits).
 * Exit codes: 0 success, 1 some file failed, 2 bad command line.
 */
#include "thistle/memutil.h"
#include "thistle/pack.h"
#include "thistle/unpack.h"

#include "pngread.h"
#include "toolio.h"
#include "toolpack.h"
#include "toolpng.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

const char toolname[] = "thistlepack";

namespace {

// The bar (or, off a terminal, the -v line) is for inputs above this size; smaller ones
// finish before it would help.
constexpr size_t progressthreshold = size_t{4} << 20;
// Packed files are read up to this size: a bound on any stream of a PACK_MAXSIZE input.
constexpr size_t maxpackedfile = size_t{64} << 20;

const char suffix[] = ".tpk";

const char helptext[] =
    "usage: thistlepack [OPTIONS] [FILE...]      pack each FILE into FILE.tpk\n"
    "       thistlepack -d [OPTIONS] [FILE...]   unpack FILE.tpk into FILE\n"
    "       thistlepack -t FILE...               test: unpack in memory, check the stream\n"
    "       thistlepack -l FILE...               list: format, header form, sizes, ratio\n"
    "\n"
    "With no FILE, or when FILE is -, read standard input and write standard output.\n"
    "\n"
    "  -F, --format=F  lz (default), huff, huff1 (running sum), huff2 (double running\n"
    "                  sum), rle, pair, block (4x4 colour blocks of 5:6:5 pixels)\n"
    "  -1 .. -9        level for lz (default 6) and block (default 9): 1 fastest\n"
    "      --long      long header form (lz, huff*, pair)\n"
    "      --width=N   width in pixels of raw 5:6:5 input (block); PNG input needs none\n"
    "  -d, --decompress  unpack\n"
    "  -t, --test      check each stream; the format has no checksum, so this checks\n"
    "                  the stream's structure and sizes, not that the content is right\n"
    "  -l, --list      show each file's format, header form, both size fields and ratio\n"
    "  -o FILE         write to FILE (one input only)\n"
    "  -c, --stdout    write to standard output\n"
    "  -f, --force     overwrite existing files; write packed data to a terminal\n"
    "  -k, --keep      keep the input files (the default)\n"
    "      --rm        remove each input file once its output is written\n"
    "  -q, --quiet     no progress and no verdicts, only errors\n"
    "  -v, --verbose   one line per file, and progress on large inputs\n"
    "  -h, --help      this text\n"
    "  -V, --version   the version\n"
    "  --              the arguments after it are files\n"
    "\n"
    "Inputs are limited to 16777215 bytes. Exit codes: 0 success, 1 some file failed,\n"
    "2 bad command line.\n";

/* ---- formats ---------------------------------------------------------------------- */

/* What the header of a packed stream says, read the way unpack and each decoder read it. */
struct header {
    const packformat *format;
    uint8_t code;      /* byte 0 as stored */
    uint8_t signature; /* byte 1 */
    bool longform;     /* the decoder skips the 3-byte field */
    size_t unpacked;   /* the size at offset 2: what unpack lets the decoder write */
    size_t decoders;   /* the size the decoder reads (offset 5 in the long form) */
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
    h.format = packformatbycode(h.code);
    if (h.format == nullptr) {
        std::snprintf(error, errorsize, "unknown pack code 0x%02x", h.code);
        return 0;
    }
    // The LZ and Huffman decoders honour bit 0 of every code; the byte-pair decoder only
    // the exact bytes 0x47 0xFB; the others always read the size at offset 2.
    const packkind k = h.format->k;
    h.longform = ((k == packkind::lz || k == packkind::huff) && (h.code & 1) != 0) ||
                 (k == packkind::pair && h.code == 0x47 && h.signature == 0xFB);
    if (h.longform && size < 8) {
        std::snprintf(error, errorsize, "too short for a long pack header (%zu bytes)", size);
        return 0;
    }
    h.unpacked = getbigendian(data + 2, 3);
    h.decoders = getbigendian(data + (h.longform ? 5 : 2), 3);
    h.width = 0;
    if (k == packkind::block) {
        if (size < 8) {
            std::snprintf(error, errorsize, "too short for a colour-block header");
            return 0;
        }
        h.width = (data[6] << 8) | data[7];
    }
    return 1;
}

/* A header whose bytes say two different things: a code that asks for something its
 * signature or decoder does not do. Returns the contradiction, or null. */
const char *contradiction(const header &h) {
    if (h.format->filter != 0 && h.signature != 0xFB) {
        return "signature 0x32 turns off the running sum that the code asks for";
    }
    if ((h.code & 1) != 0 && !h.longform) {
        return h.format->k == packkind::pair
                   ? "code 0x47 asks for the long header form, which "
                     "the byte-pair decoder takes only with signature 0xfb"
                   : "bit 0 of the code asks for a long header form "
                     "that this decoder does not have";
    }
    return nullptr;
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

/* Checks one packed stream the way the game will read it and unpacks it into out: the
 * size that counts is the one at offset 2, which unpack lets the decoder write. The
 * format has no checksum, so this checks structure and sizes, not content. On failure
 * writes the reason into error and returns 0. */
int checkstream(const std::vector<uint8_t> &data, std::vector<uint8_t> &out, char *error,
                size_t errorsize) {
    header h;
    if (!readheader(data.data(), data.size(), h, error, errorsize)) {
        return 0;
    }
    if (const char *c = contradiction(h)) {
        std::snprintf(error, errorsize, "%s", c);
        return 0;
    }
    if (h.unpacked != h.decoders) {
        std::snprintf(error, errorsize,
                      "the two size fields disagree: %zu at offset 2 (what the game unpacks), "
                      "%zu at offset 5",
                      h.unpacked, h.decoders);
        return 0;
    }
    if (h.unpacked == 0) {
        std::snprintf(error, errorsize, "declares 0 bytes, which the game reads as no stream");
        return 0;
    }
    out.resize(h.unpacked);
    const int32_t got = unpackbounded(data.data(), data.size(), out.data(), out.size());
    if (got < 0) {
        std::snprintf(error, errorsize, "%s", unpackerror(got));
        return 0;
    }
    if (static_cast<size_t>(got) != h.unpacked) {
        std::snprintf(error, errorsize, "unpacks to %d bytes, not the %zu its header declares", got,
                      h.unpacked);
        return 0;
    }
    // A stream that still unpacks without its last bytes was followed by bytes that are
    // not part of it.
    if (const size_t end = packstreamend(data.data(), data.size(), h.unpacked); end < data.size()) {
        header next;
        char ignored[8];
        const bool joined =
            readheader(data.data() + end, data.size() - end, next, ignored, sizeof ignored) != 0;
        std::snprintf(error, errorsize, "%zu bytes after the end of the stream at %zu%s",
                      data.size() - end, end, joined ? " (another packed stream)" : "");
        return 0;
    }
    return 1;
}

/* ---- progress --------------------------------------------------------------------- */

struct progress {
    bool enabled;
    const char *label;
    std::chrono::steady_clock::time_point last;
    size_t total; /* reading: the file's size */
};

void progressstart(progress &p, const char *label, size_t total) {
    p.enabled = verbosity > 0 && total > progressthreshold && isatty(2);
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

/* ---- reading ---------------------------------------------------------------------- */

/* The -v bar for a long read. */
const readwatch readingbar = {
    .start =
        [](void *p, size_t total) {
            progressstart(*static_cast<progress *>(p), "reading", total);
            static_cast<progress *>(p)->total = total;
        },
    .step =
        [](void *p, size_t done) {
            auto &bar = *static_cast<progress *>(p);
            progressdraw(bar, static_cast<double>(done) / static_cast<double>(bar.total));
        },
    .end = [](void *p) { progressend(*static_cast<progress *>(p)); },
    .context = nullptr,
};

/* Reads a whole file with the bar; what names the limit in the message. */
int readwithbar(const char *path, size_t limit, std::vector<uint8_t> &data, const char *what) {
    progress bar;
    readwatch watch = readingbar;
    watch.context = &bar;
    return readfile(path, limit, data, what, &watch);
}

/* ---- pack ------------------------------------------------------------------------- */

/* Runs the encoder; with the bar on, in a worker thread while the bar advances on an
 * estimate taken from packing the first part of the input. */
int32_t encodewithprogress(const packjob &j, uint8_t *out, size_t capacity) {
    progress bar;
    progressstart(bar, "packing", j.size);
    if (!bar.enabled) {
        return packencode(j, out, capacity);
    }
    packjob probe = j;
    probe.size = size_t{512} << 10;
    if (j.format->k == packkind::block) {
        probe.height = static_cast<int32_t>(probe.size / 2 / static_cast<size_t>(j.width)) & ~3;
        probe.height = probe.height < 4 ? 4 : probe.height;
        probe.size = static_cast<size_t>(probe.height) * static_cast<size_t>(j.width) * 2;
    }
    const auto t0 = std::chrono::steady_clock::now();
    std::vector<uint8_t> scratch(packbound(j.format->code, probe.size));
    packencode(probe, scratch.data(), scratch.size());
    const double probeseconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double estimate =
        probeseconds * static_cast<double>(j.size) / static_cast<double>(probe.size) + 0.05;

    std::atomic<bool> done{false};
    int32_t result = 0;
    const auto start = std::chrono::steady_clock::now();
    std::thread worker([&] {
        result = packencode(j, out, capacity);
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

/* Makes the block job's pixels from a PNG (converted to 5:6:5 into pixelbytes) or from
 * raw 5:6:5 rows of the given width. Returns exitok or the failure's exit code. */
int readpixels(int32_t width, const char *in, const std::vector<uint8_t> &data, packjob &job,
               std::vector<uint8_t> &pixelbytes) {
    if (!ispngdata(data.data(), data.size())) {
        if (width == 0) {
            return fail(shown(in), "raw 5:6:5 input needs --width (a PNG file needs none)");
        }
        const size_t row = static_cast<size_t>(width) * 2;
        if (data.empty() || data.size() % row != 0) {
            return fail(shown(in), "%zu bytes are not whole rows of %d 5:6:5 pixels", data.size(),
                        width);
        }
        job.width = width;
        job.height = static_cast<int32_t>(data.size() / row);
        return exitok;
    }
    std::vector<uint16_t> pixels;
    char error[256];
    if (!readpng565(data.data(), data.size(), pixels, job.width, job.height, error, sizeof error)) {
        return fail(shown(in), "%s", error);
    }
    if (width != 0 && width != job.width) {
        return fail(shown(in), "PNG is %d pixels wide, not %d", job.width, width);
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

/* Names an encoder failure; exitok for a stream. */
int packfailure(const packformat *format, const char *in, int32_t result) {
    switch (result) {
    case PACK_EOVERFLOW:
        return fail(shown(in), "the packed stream overflowed its bound (encoder fault)");
    case PACK_EINVAL:
        return fail(shown(in), "%s cannot pack this input (size or dimensions out of range)",
                    format->name);
    case PACK_ENOMEM:
        return fail(shown(in), "the encoder ran out of working memory");
    default:
        return result < 0 ? fail(shown(in), "the encoder failed (%d)", result) : exitok;
    }
}

/* ---- the command line ------------------------------------------------------------- */

// The default first, then the others in the order of flag's modes.
enum class mode { pack, unpack, test, list };

struct options : tooloptions {
    mode m = mode::pack;
    const packformat *format = &packformats[0];
    int32_t width = 0; /* 0: not given */
    bool rm = false;
};

/* One option without a value (short letter or long name); exitusage when unknown. */
int flag(options &o, const std::string &name, const char *shownas) {
    static const modeoption modes[] = {{"d", "decompress"}, {"t", "test"}, {"l", "list"}};
    if (const int status = modeflag(modes, o.m, name, shownas); status != notmode) {
        return status;
    }
    if (name == "k" || name == "keep") {
        o.rm = false;
    } else if (name == "rm") {
        o.rm = true;
    } else {
        return toolflag(o, name, shownas, helptext);
    }
    return exitok;
}

bool takesvalue(const std::string &name) {
    return name == "F" || name == "format" || name == "width";
}

int valued(options &o, const std::string &name, const char *value) {
    if (name == "F" || name == "format") {
        o.format = packformatbyname(value);
        return o.format != nullptr ? exitok : usage("unknown format '%s'", value);
    }
    return parsenumber(value, 1, 65535, o.width) ? exitok
                                                 : usage("width '%s' is not 1 to 65535", value);
}

/* The rules between options, once all are read (no file is standard input, and the
 * packing options must fit the format); exitok or exitusage. */
int checkargs(options &o) {
    if (o.files.empty()) {
        o.files.push_back("-");
    }
    if (o.output != nullptr && (o.tostdout || o.m == mode::test || o.m == mode::list)) {
        return usage("-o goes with packing or unpacking to a file, not with -c, -t or -l");
    }
    if (o.output != nullptr && o.files.size() != 1) {
        return usage("-o takes one input, not %zu", o.files.size());
    }
    if (o.m != mode::pack) {
        return exitok; // the packing options do not matter to the other modes
    }
    if (o.level != 0 && !o.format->levels) {
        return usage("-1 .. -9 apply to lz and block only");
    }
    if (o.longform && !o.format->longheader) {
        return usage("--long applies to lz, huff, huff1, huff2 and pair only");
    }
    if (o.width != 0 && o.format->k != packkind::block) {
        return usage("--width applies to block only");
    }
    return exitok;
}

/* After a file is done: --rm removes its input (never standard input, and not when the
 * output went to standard output); -v says what was made, with the packed size as a
 * share of the unpacked one. */
int finish(const options &o, const char *in, const char *out, size_t from, size_t to,
           bool packing) {
    if (o.rm && !isstdio(in) && !isstdio(out) && unlink(in) != 0) {
        return fail(in, "not removed: %s", std::strerror(errno));
    }
    if (verbosity > 1) {
        std::fprintf(stderr, "%s: %zu -> %zu bytes (%.1f%%)%s%s\n", shown(in), from, to,
                     100.0 * static_cast<double>(packing ? to : from) /
                         static_cast<double>(packing ? from : to),
                     isstdio(out) ? "" : " -> ", isstdio(out) ? "" : out);
    }
    return exitok;
}

int packone(const options &o, const char *in) {
    std::string name;
    if (o.output != nullptr) {
        name = o.output;
    } else if (o.tostdout || isstdio(in)) {
        name =
            std::string(1, '-'); // not = "-": GCC 12 at -O3 warns of an overlap there (-Wrestrict)
    } else if (endswith(in, suffix)) {
        return fail(in, "already has the %s suffix; not packed (-o names an output)", suffix);
    } else {
        name = std::string(in) + suffix;
    }
    const target t = {.path = name.c_str(), .input = in, .force = o.force, .mode = outputmode(in)};
    if (isstdio(t.path) && !o.force && isatty(1)) {
        return fail(shown(in), "packed data is not written to a terminal (-f forces it)");
    }
    if (!checktarget(t)) {
        return exitfail;
    }
    std::vector<uint8_t> data;
    // A PNG may be smaller than its pixels; its pixels are checked after decoding.
    const bool block = o.format->k == packkind::block;
    if (!readwithbar(in, block ? maxpackedfile : PACK_MAXSIZE, data, "input")) {
        return exitfail;
    }
    packjob job = {.format = o.format,
                   .data = data.data(),
                   .size = data.size(),
                   .width = 0,
                   .height = 0,
                   .level = o.level != 0 ? o.level : o.format->deflevel,
                   .header = o.longform ? PACK_LONGHEADER : PACK_SHORTHEADER};
    std::vector<uint8_t> pixelbytes;
    if (block && readpixels(o.width, in, data, job, pixelbytes) != exitok) {
        return exitfail;
    }
    if (job.size > PACK_MAXSIZE) {
        return fail(shown(in), "input of %zu bytes is too large (at most %d bytes)", job.size,
                    PACK_MAXSIZE);
    }
    if (job.size == 0) {
        return fail(shown(in), "empty input: a stream that unpacks to 0 bytes reads as invalid");
    }
    std::vector<uint8_t> packed(packbound(o.format->code, job.size));
    int32_t result = 0;
    const auto encode = [&] { return encodewithprogress(job, packed.data(), packed.size()); };
    if (!packinmemory(in, job.size, encode, result) ||
        packfailure(o.format, in, result) != exitok) {
        return exitfail;
    }
    // Every stream is read back before it is written: a file that thistlepack wrote
    // always unpacks, to the input itself for the lossless formats.
    const size_t packedsize = static_cast<size_t>(result);
    std::vector<uint8_t> check(job.size);
    const int32_t back = unpackbounded(packed.data(), packedsize, check.data(), check.size());
    if (back != static_cast<int32_t>(job.size) ||
        (!block && std::memcmp(check.data(), job.data, job.size) != 0)) {
        return fail(shown(in), "internal error: the %s stream does not unpack to the input (%d)",
                    o.format->name, back);
    }
    if (!writetarget(t, packed.data(), packedsize)) {
        return exitfail;
    }
    return finish(o, in, t.path, data.size(), packedsize, true);
}

/* Reads and checks one packed file; on failure prints the error and returns 0. */
int decodefile(const char *in, std::vector<uint8_t> &out) {
    std::vector<uint8_t> data;
    if (!readwithbar(in, maxpackedfile, data, "packed file")) {
        return 0;
    }
    char error[256];
    if (!checkstream(data, out, error, sizeof error)) {
        return !fail(shown(in), "%s", error);
    }
    return 1;
}

int unpackone(const options &o, const char *in) {
    std::string name;
    if (o.output != nullptr) {
        name = o.output;
    } else if (o.tostdout || isstdio(in)) {
        name =
            std::string(1, '-'); // not = "-": GCC 12 at -O3 warns of an overlap there (-Wrestrict)
    } else if (!endswith(in, suffix) || endswith(in, (std::string("/") + suffix).c_str()) ||
               std::strcmp(in, suffix) == 0) {
        return fail(in, "has no %s suffix to take off; -o or -c names the output", suffix);
    } else {
        name.assign(in, std::strlen(in) - std::strlen(suffix));
    }
    const target t = {.path = name.c_str(), .input = in, .force = o.force, .mode = outputmode(in)};
    if (!checktarget(t)) {
        return exitfail;
    }
    std::vector<uint8_t> out;
    if (!decodefile(in, out) || !writetarget(t, out.data(), out.size())) {
        return exitfail;
    }
    struct stat st;
    const size_t packedsize =
        !isstdio(in) && stat(in, &st) == 0 ? static_cast<size_t>(st.st_size) : 0;
    return finish(o, in, t.path, packedsize, out.size(), false);
}

int testone(const char *in) {
    std::vector<uint8_t> out;
    if (!decodefile(in, out)) {
        return exitfail;
    }
    if (verbosity > 1) {
        std::printf("%s: ok, %zu bytes\n", shown(in), out.size());
    }
    return exitok;
}

int listone(const char *in, bool first) {
    std::vector<uint8_t> data;
    if (!readwithbar(in, maxpackedfile, data, "packed file")) {
        return exitfail;
    }
    header h;
    char error[256];
    if (!readheader(data.data(), data.size(), h, error, sizeof error)) {
        return fail(shown(in), "%s", error);
    }
    if (first) {
        std::printf("format  code  header  size@2    size@5    packed    ratio   name\n");
    }
    char second[16] = "-";
    if (h.longform) {
        std::snprintf(second, sizeof second, "%zu", h.decoders);
    }
    const double ratio =
        h.unpacked > 0 ? 100.0 * static_cast<double>(data.size()) / static_cast<double>(h.unpacked)
                       : 0.0;
    std::printf("%-7s 0x%02x  %-6s  %-9zu %-9s %-9zu %5.1f%%  %s", h.format->name, h.code,
                h.longform ? "long" : "short", h.unpacked, second, data.size(), ratio, shown(in));
    if (h.format->k == packkind::block && h.width > 0) {
        std::printf("  (%d x %zu pixels)", h.width, h.unpacked / 2 / static_cast<size_t>(h.width));
    }
    std::printf("\n");
    return exitok;
}

} // namespace

/* Entry: see helptext. Every file is tried; the exit code says whether any failed. */
int main(int argc, char **argv) {
    options o;
    if (const int status = toolstart(argc, argv, o, takesvalue, flag, valued, checkargs);
        status != proceed) {
        return status;
    }
    int result = exitok;
    bool first = true;
    for (const char *in : o.files) {
        int one = exitok;
        switch (o.m) {
        case mode::pack:
            one = packone(o, in);
            break;
        case mode::unpack:
            one = unpackone(o, in);
            break;
        case mode::test:
            one = testone(in);
            break;
        case mode::list:
            one = listone(in, first);
            first = first && one != exitok;
            break;
        }
        result = one != exitok ? exitfail : result;
    }
    std::fflush(stdout);
    return result;
}
