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
#include "thistle/memstd.h"
#include "thistle/memutil.h"
#include "thistle/pack.h"
#include "thistle/unpack.h"

#include "pngread.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef THISTLE_VERSION_TEXT
#define THISTLE_VERSION_TEXT "1.0"
#endif

namespace {

constexpr int exitok = 0;
constexpr int exitfail = 1;
constexpr int exitusage = 2;

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

/* What the header of a packed stream says, read the way unpack and each decoder read it. */
struct header {
    const formatentry *format;
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
    h.unpacked = getbigendian(data + 2, 3);
    h.decoders = getbigendian(data + (h.longform ? 5 : 2), 3);
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

/* A header whose bytes say two different things: a code that asks for something its
 * signature or decoder does not do. Returns the contradiction, or null. */
const char *contradiction(const header &h) {
    if (h.format->filter != 0 && h.signature != 0xFB) {
        return "signature 0x32 turns off the running sum that the code asks for";
    }
    if ((h.code & 1) != 0 && !h.longform) {
        return h.format->k == kind::pair ? "code 0x47 asks for the long header form, which "
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
    // The bounded decoders fail on a stream cut short, so one that still unpacks without
    // its last byte was followed by bytes that are not part of it. The smallest prefix
    // that unpacks is where it ends.
    std::vector<uint8_t> scratch(out.size());
    auto whole = [&](size_t n) {
        return unpackbounded(data.data(), n, scratch.data(), scratch.size()) == got;
    };
    if (whole(data.size() - 1)) {
        size_t low = 2, high = data.size() - 1; // whole(high) holds
        while (low < high) {
            const size_t mid = low + (high - low) / 2;
            if (whole(mid)) {
                high = mid;
            } else {
                low = mid + 1;
            }
        }
        header next;
        char ignored[8];
        const bool joined =
            readheader(data.data() + high, data.size() - high, next, ignored, sizeof ignored) != 0;
        std::snprintf(error, errorsize, "%zu bytes after the end of the stream at %zu%s",
                      data.size() - high, high, joined ? " (another packed stream)" : "");
        return 0;
    }
    return 1;
}

/* ---- progress --------------------------------------------------------------------- */

/* How much the tool says: -q nothing but errors, -v a line per file. */
int verbosity = 1;

struct progress {
    bool enabled;
    const char *label;
    std::chrono::steady_clock::time_point last;
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

bool isstdio(const char *path) {
    return std::strcmp(path, "-") == 0;
}

/* The name a file goes by in messages. */
const char *shown(const char *path) {
    return isstdio(path) ? "(standard input)" : path;
}

/* Reads a whole file (or standard input for "-") of at most limit bytes; on failure
 * prints the error and returns 0. what names the limit in the message. */
int readfile(const char *path, size_t limit, std::vector<uint8_t> &data, const char *what) {
    const bool in = isstdio(path);
    struct stat st;
    if (in ? fstat(0, &st) != 0 : stat(path, &st) != 0) {
        return !fail(shown(path), "%s", std::strerror(errno));
    }
    if (S_ISDIR(st.st_mode)) {
        return !fail(shown(path), "is a directory");
    }
    if (S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) > limit) {
        return !fail(shown(path), "%s of %lld bytes is too large (at most %zu bytes)", what,
                     static_cast<long long>(st.st_size), limit);
    }
    const int fd = in ? 0 : open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return !fail(path, "%s", std::strerror(errno));
    }
    progress bar;
    progressstart(bar, "reading", S_ISREG(st.st_mode) ? static_cast<size_t>(st.st_size) : 0);
    data.clear();
    constexpr size_t chunk = size_t{1} << 20;
    int error = 0;
    while (data.size() <= limit) {
        const size_t at = data.size();
        data.resize(at + chunk);
        const ssize_t got = read(fd, data.data() + at, chunk);
        data.resize(at + (got > 0 ? static_cast<size_t>(got) : 0));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            error = got < 0 ? errno : 0;
            break;
        }
        progressdraw(bar, static_cast<double>(data.size()) / static_cast<double>(st.st_size));
    }
    progressend(bar);
    if (!in) {
        close(fd);
    }
    if (error != 0) {
        return !fail(shown(path), "read error: %s", std::strerror(error));
    }
    if (data.size() > limit) {
        return !fail(shown(path), "%s is too large (at most %zu bytes)", what, limit);
    }
    return 1;
}

/* ---- writing ---------------------------------------------------------------------- */

// The temporary file being written, removed by the signal handler: a run stopped with
// SIGINT or SIGTERM leaves no debris and the target as it was.
char temppath[4096];
volatile sig_atomic_t tempactive = 0;

extern "C" void ondeadlysignal(int sig) {
    if (tempactive) {
        unlink(temppath);
    }
    signal(sig, SIG_DFL);
    raise(sig);
}

void catchsignals() {
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        signal(sig, ondeadlysignal);
    }
}

int writeall(int fd, const uint8_t *data, size_t size) {
    while (size > 0) {
        const ssize_t put = write(fd, data, size);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            return put < 0 ? errno : EIO;
        }
        data += put;
        size -= static_cast<size_t>(put);
    }
    return 0;
}

/* Where one output goes and what may be done to it. */
struct target {
    const char *path;  /* "-" for standard output */
    const char *input; /* the input's path, "-" for standard input */
    bool force;
    mode_t mode; /* permissions for a new file */
};

/* Checks a target before any work is done, so that a refused file costs nothing:
 * an existing output needs -f and must be a regular file (or a link, which is replaced,
 * never followed), and must not be the input under any name. */
int checktarget(const target &t) {
    if (isstdio(t.path)) {
        return 1;
    }
    struct stat out;
    if (lstat(t.path, &out) != 0) {
        return errno == ENOENT ? 1 : !fail(t.path, "%s", std::strerror(errno));
    }
    struct stat in, outfollowed;
    if (!isstdio(t.input) && stat(t.input, &in) == 0 && stat(t.path, &outfollowed) == 0 &&
        in.st_dev == outfollowed.st_dev && in.st_ino == outfollowed.st_ino) {
        return !fail(t.path, "is the input file; not overwritten");
    }
    if (!S_ISREG(out.st_mode) && !S_ISLNK(out.st_mode)) {
        // Replacing it would remove a device, a pipe or a folder the user owns.
        return !fail(t.path, "exists and is not a regular file; not overwritten");
    }
    if (!t.force) {
        return !fail(t.path, "already exists; not overwritten (-f overwrites)");
    }
    return 1;
}

/* Writes data to the target: standard output directly, a file through a temporary file
 * in the same folder that is renamed over it once complete and synced. Any failure
 * removes the temporary file, which is all the tool ever removes. */
int writetarget(const target &t, const uint8_t *data, size_t size) {
    if (isstdio(t.path)) {
        const int e = writeall(1, data, size);
        return e == 0 ? 1 : !fail("(standard output)", "write error: %s", std::strerror(e));
    }
    if (!checktarget(t)) { // again: the first check was before the work
        return 0;
    }
    const char *slash = std::strrchr(t.path, '/');
    const std::string folder = slash == nullptr ? "" : std::string(t.path, slash + 1);
    const std::string name = slash == nullptr ? t.path : slash + 1;
    const std::string pattern = folder + "." + name + ".XXXXXX";
    if (pattern.size() >= sizeof temppath) {
        return !fail(t.path, "name too long");
    }
    std::memcpy(temppath, pattern.c_str(), pattern.size() + 1);
    sigset_t all, previous;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, &previous);
    const int fd = mkstemp(temppath);
    tempactive = fd >= 0;
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    if (fd < 0) {
        return !fail(t.path, "cannot create a file beside it: %s", std::strerror(errno));
    }
    int e = writeall(fd, data, size);
    if (e == 0 && fchmod(fd, t.mode) != 0) {
        e = errno;
    }
    if (e == 0 && fsync(fd) != 0) {
        e = errno;
    }
    if (close(fd) != 0 && e == 0) {
        e = errno;
    }
    if (e == 0 && !t.force) {
        // Without -f nothing that appeared meanwhile is replaced: link fails on an
        // existing name where rename would not.
        // Folders without hard links fall back to a rename after one more look.
        if (link(temppath, t.path) == 0) {
            unlink(temppath);
        } else if (errno != EPERM && errno != EOPNOTSUPP) {
            e = errno;
        } else if (struct stat st; lstat(t.path, &st) == 0) {
            e = EEXIST;
        } else if (rename(temppath, t.path) != 0) {
            e = errno;
        }
    } else if (e == 0 && rename(temppath, t.path) != 0) {
        e = errno;
    }
    if (e != 0) {
        unlink(temppath);
    }
    tempactive = 0;
    if (e == EEXIST) {
        return !fail(t.path, "already exists; not overwritten (-f overwrites)");
    }
    return e == 0 ? 1 : !fail(t.path, "write error: %s", std::strerror(e));
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

/* Makes the block job's pixels from a PNG (converted to 5:6:5 into pixelbytes) or from
 * raw 5:6:5 rows of the given width. Returns exitok or the failure's exit code. */
int readpixels(int32_t width, const char *in, const std::vector<uint8_t> &data, packjob &job,
               std::vector<uint8_t> &pixelbytes) {
    if (!ispng(data.data(), data.size())) {
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

/* Runs the encoder in a memory class sized from the input, four times larger after each
 * PACK_ENOMEM up to maxregion. Returns the stream's size or a PACK_E value; 0 with the
 * failure printed when not even the first class could be made. */
int32_t packinmemory(const packjob &job, const char *in, std::vector<uint8_t> &packed) {
    int32_t result = PACK_ENOMEM;
    workmem mem;
    for (size_t region = (size_t{32} << 20) + 24 * job.size; result == PACK_ENOMEM; region *= 4) {
        if (!memup(mem, region)) {
            return !fail(shown(in), "no memory for the encoder's work");
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
int packfailure(const formatentry *format, const char *in, int32_t result) {
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

enum class mode { pack, unpack, test, list };

struct options {
    mode m = mode::pack;
    const formatentry *format = &formats[0];
    int32_t level = 0; /* 0: the format's default */
    int32_t width = 0; /* 0: not given */
    bool longform = false;
    const char *output = nullptr; /* -o */
    bool tostdout = false;
    bool force = false;
    bool rm = false;
    std::vector<const char *> files;
};

int parsewidth(const char *text, int32_t &width) {
    char *end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (end == text || *end != 0 || v < 1 || v > 65535) {
        return 0;
    }
    width = static_cast<int32_t>(v);
    return 1;
}

// Set when -h or -V has been answered: the run ends there with exitok.
constexpr int answered = -1;

int setmode(options &o, mode m, const char *option) {
    if (o.m != mode::pack && o.m != m) {
        return usage("%s cannot be combined with another of -d, -t, -l", option);
    }
    o.m = m;
    return exitok;
}

/* One option without a value (short letter or long name); exitusage when unknown. */
int flag(options &o, const std::string &name, const char *shownas) {
    if (name == "d" || name == "decompress") {
        return setmode(o, mode::unpack, shownas);
    }
    if (name == "t" || name == "test") {
        return setmode(o, mode::test, shownas);
    }
    if (name == "l" || name == "list") {
        return setmode(o, mode::list, shownas);
    }
    if (name == "c" || name == "stdout") {
        o.tostdout = true;
    } else if (name == "f" || name == "force") {
        o.force = true;
    } else if (name == "k" || name == "keep") {
        o.rm = false;
    } else if (name == "rm") {
        o.rm = true;
    } else if (name == "q" || name == "quiet") {
        verbosity = 0;
    } else if (name == "v" || name == "verbose") {
        verbosity = 2;
    } else if (name == "long") {
        o.longform = true;
    } else if (name == "h" || name == "help") {
        std::fputs(helptext, stdout);
        return answered;
    } else if (name == "V" || name == "version") {
        std::printf("thistlepack %s\n", THISTLE_VERSION_TEXT);
        return answered;
    } else if (name.size() == 1 && name[0] >= '1' && name[0] <= '9') {
        o.level = name[0] - '0';
    } else {
        return usage("unknown option '%s'", shownas);
    }
    return exitok;
}

bool takesvalue(const std::string &name) {
    return name == "F" || name == "format" || name == "o" || name == "output" || name == "width";
}

int valued(options &o, const std::string &name, const char *value) {
    if (name == "F" || name == "format") {
        o.format = formatbyname(value);
        return o.format != nullptr ? exitok : usage("unknown format '%s'", value);
    }
    if (name == "o" || name == "output") {
        o.output = value;
        return exitok;
    }
    return parsewidth(value, o.width) ? exitok : usage("width '%s' is not 1 to 65535", value);
}

/* Reads the command line into o; returns exitok, answered or exitusage. Short options
 * bundle (-kf, -9v, -Fhuff, -oFILE); long ones take --name=value or --name value. */
int parseargs(int argc, char **argv, options &o) {
    bool onlyfiles = false;
    for (int i = 1; i < argc; i++) {
        const char *arg = argv[i];
        int status = exitok;
        if (onlyfiles || arg[0] != '-' || arg[1] == 0) {
            o.files.push_back(arg);
        } else if (std::strcmp(arg, "--") == 0) {
            onlyfiles = true;
        } else if (arg[1] == '-') {
            const char *eq = std::strchr(arg, '=');
            const std::string name = eq != nullptr ? std::string(arg + 2, eq) : arg + 2;
            if (!takesvalue(name)) {
                status =
                    eq != nullptr ? usage("%s takes no value", name.c_str()) : flag(o, name, arg);
            } else if (eq != nullptr) {
                status = valued(o, name, eq + 1);
            } else if (i + 1 < argc) {
                status = valued(o, name, argv[++i]);
            } else {
                status = usage("%s needs a value", arg);
            }
        } else {
            for (const char *c = arg + 1; *c != 0 && status == exitok; c++) {
                const std::string name(1, *c);
                const char shownas[3] = {'-', *c, 0};
                if (!takesvalue(name)) {
                    status = flag(o, name, shownas);
                } else if (c[1] != 0) {
                    status = valued(o, name, c + 1);
                    break;
                } else if (i + 1 < argc) {
                    status = valued(o, name, argv[++i]);
                } else {
                    status = usage("%s needs a value", shownas);
                }
            }
        }
        if (status != exitok) {
            return status;
        }
    }
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
    if (o.width != 0 && o.format->k != kind::block) {
        return usage("--width applies to block only");
    }
    return exitok;
}

bool endswith(const char *text, const char *end) {
    const size_t n = std::strlen(text), m = std::strlen(end);
    return n >= m && std::strcmp(text + n - m, end) == 0;
}

/* Permissions for an output: the input's, or the usual ones for a new file. */
mode_t outputmode(const char *in) {
    struct stat st;
    if (!isstdio(in) && stat(in, &st) == 0 && S_ISREG(st.st_mode)) {
        return st.st_mode & 0777;
    }
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
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
        name = "-";
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
    const bool block = o.format->k == kind::block;
    if (!readfile(in, block ? maxpackedfile : PACK_MAXSIZE, data, "input")) {
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
    const int32_t result = packinmemory(job, in, packed);
    if (result == 0 || packfailure(o.format, in, result) != exitok) {
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
    if (!readfile(in, maxpackedfile, data, "packed file")) {
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
        name = "-";
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
    if (!readfile(in, maxpackedfile, data, "packed file")) {
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
    if (h.format->k == kind::block && h.width > 0) {
        std::printf("  (%d x %zu pixels)", h.width, h.unpacked / 2 / static_cast<size_t>(h.width));
    }
    std::printf("\n");
    return exitok;
}

} // namespace

/* Entry: see helptext. Every file is tried; the exit code says whether any failed. */
int main(int argc, char **argv) {
    options o;
    const int status = parseargs(argc, argv, o);
    if (status != exitok) {
        return status == answered ? exitok : status;
    }
    catchsignals();
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
