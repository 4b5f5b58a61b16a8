/*
 * pack_bench - our packers side by side with the libraries a user would pick instead,
 * in one run over one corpus: ratio, packing speed and unpacking speed for every format
 * and level, and for the colour-block format its PSNR against libsquish.
 *
 *   thistle_pack_bench [--corpus DIR] [--reps N] [--only TEXT]
 *
 * DIR (default $THISTLE_PACK_CORPUS, else bench-corpus beside the build) holds the sets
 * that bench/corpus.sh makes: mixed, text, indexed8, image16. Every file is packed on its
 * own, as a game packs its assets. A measurement runs the codec over the whole set; it is
 * repeated N times (default 5) and the median is reported; a codec whose one pass takes
 * over 2 s is measured once. Every stream is unpacked and compared before it is timed.
 * Our unpack speed is given for the bounded decoders (as safe as the peers' safe calls)
 * and for the plain ones. Peers missing at build time are left out with a note.
 * Packing is also timed in processor time of the process (std::clock), which holds up
 * when other work shares the machine; the packing goals use that column.
 *
 * Output: a Markdown table per set, then the goals with their measured factors.
 * Memory: the encoders' working memory is one 1 GiB class of pages (touched only as used).
 */
#include "thistle/memstd.h"
#include "thistle/memutil.h"
#include "thistle/pack.h"
#include "thistle/unpack.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#ifdef THISTLE_HAVE_ZLIB
#include <zlib.h>
#endif
#ifdef THISTLE_HAVE_LZ4
#include <lz4.h>
#include <lz4hc.h>
#endif
#ifdef THISTLE_HAVE_ZSTD
#include <zstd.h>
#endif
#ifdef THISTLE_HAVE_SQUISH
#include <squish.h>
#endif

namespace {

namespace fs = std::filesystem;

struct corpusfile {
    std::string name;
    std::vector<uint8_t> data;
    int32_t width, height; /* from NAME.WxH.ext; 0 otherwise */
};

struct corpusset {
    std::string name;
    std::vector<corpusfile> files;
    size_t bytes;
};

/* ---- codecs --------------------------------------------------------------------- */

/* A codec packs one file into out (capacity from bound) and unpacks one stream into
 * exactly the file's size. Both return the size written, 0 on failure. */
struct codec {
    const char *name;
    int level;
    bool imagesonly; /* 16-bit image sets only; lossy, compared by PSNR */
    bool ours;
    size_t (*bound)(const corpusfile &f, int level);
    size_t (*pack)(const corpusfile &f, uint8_t *out, size_t capacity, int level);
    size_t (*unpack)(const uint8_t *in, size_t size, uint8_t *out, size_t capacity);
    size_t (*plainunpack)(const uint8_t *in, uint8_t *out); /* ours: trusting decoder */
};

size_t memcpybound(const corpusfile &f, int) {
    return f.data.size();
}
size_t memcpypack(const corpusfile &f, uint8_t *out, size_t, int) {
    std::memcpy(out, f.data.data(), f.data.size());
    return f.data.size();
}
size_t memcpyunpack(const uint8_t *in, size_t size, uint8_t *out, size_t) {
    std::memcpy(out, in, size);
    return size;
}

size_t ourbound(const corpusfile &f, int code) {
    return packbound(static_cast<uint8_t>(code), f.data.size());
}
size_t ourresult(int32_t r) {
    return r < 0 ? 0 : static_cast<size_t>(r);
}
size_t lzpackf(const corpusfile &f, uint8_t *out, size_t cap, int level) {
    return ourresult(lzpack(f.data.data(), f.data.size(), out, cap, level, PACK_SHORTHEADER));
}
size_t lzbound(const corpusfile &f, int) {
    return ourbound(f, PACK_LZCODE);
}
size_t huffpackf(const corpusfile &f, uint8_t *out, size_t cap, int filter) {
    return ourresult(huffpack(f.data.data(), f.data.size(), out, cap, filter, PACK_SHORTHEADER));
}
size_t huffbound(const corpusfile &f, int filter) {
    return ourbound(f, PACK_HUFFCODE + 2 * filter);
}
size_t rlepackf(const corpusfile &f, uint8_t *out, size_t cap, int) {
    return ourresult(rlepack(f.data.data(), f.data.size(), out, cap));
}
size_t rlebound(const corpusfile &f, int) {
    return ourbound(f, PACK_RLECODE);
}
size_t pairpackf(const corpusfile &f, uint8_t *out, size_t cap, int) {
    return ourresult(pairpack(f.data.data(), f.data.size(), out, cap, PACK_SHORTHEADER));
}
size_t pairbound(const corpusfile &f, int) {
    return ourbound(f, PACK_PAIRCODE);
}
size_t blockpackf(const corpusfile &f, uint8_t *out, size_t cap, int level) {
    std::vector<uint16_t> px(f.data.size() / 2);
    std::memcpy(px.data(), f.data.data(), px.size() * 2); /* little-endian host */
    return ourresult(blockpack(px.data(), f.width, f.height, out, cap, level));
}
size_t blockbound(const corpusfile &f, int) {
    return ourbound(f, PACK_BLOCKCODE);
}
size_t ourunpack(const uint8_t *in, size_t size, uint8_t *out, size_t cap) {
    return ourresult(unpackbounded(in, size, out, cap));
}
size_t ourplainunpack(const uint8_t *in, uint8_t *out) {
    return ourresult(unpack(in, out));
}

#ifdef THISTLE_HAVE_ZLIB
size_t zlibbound(const corpusfile &f, int) {
    return compressBound(static_cast<uLong>(f.data.size()));
}
size_t zlibpack(const corpusfile &f, uint8_t *out, size_t cap, int level) {
    uLongf n = static_cast<uLongf>(cap);
    return compress2(out, &n, f.data.data(), static_cast<uLong>(f.data.size()), level) == Z_OK ? n
                                                                                               : 0;
}
size_t zlibunpack(const uint8_t *in, size_t size, uint8_t *out, size_t cap) {
    uLongf n = static_cast<uLongf>(cap);
    return uncompress(out, &n, in, static_cast<uLong>(size)) == Z_OK ? n : 0;
}
#endif

#ifdef THISTLE_HAVE_LZ4
size_t lz4bound(const corpusfile &f, int) {
    return static_cast<size_t>(LZ4_compressBound(static_cast<int>(f.data.size())));
}
size_t lz4pack(const corpusfile &f, uint8_t *out, size_t cap, int level) {
    const char *src = reinterpret_cast<const char *>(f.data.data());
    const int n = static_cast<int>(f.data.size());
    const int r =
        level == 0
            ? LZ4_compress_default(src, reinterpret_cast<char *>(out), n, static_cast<int>(cap))
            : LZ4_compress_HC(src, reinterpret_cast<char *>(out), n, static_cast<int>(cap), level);
    return r <= 0 ? 0 : static_cast<size_t>(r);
}
size_t lz4unpack(const uint8_t *in, size_t size, uint8_t *out, size_t cap) {
    const int r =
        LZ4_decompress_safe(reinterpret_cast<const char *>(in), reinterpret_cast<char *>(out),
                            static_cast<int>(size), static_cast<int>(cap));
    return r < 0 ? 0 : static_cast<size_t>(r);
}
#endif

#ifdef THISTLE_HAVE_ZSTD
size_t zstdbound(const corpusfile &f, int) {
    return ZSTD_compressBound(f.data.size());
}
size_t zstdpack(const corpusfile &f, uint8_t *out, size_t cap, int level) {
    const size_t r = ZSTD_compress(out, cap, f.data.data(), f.data.size(), level);
    return ZSTD_isError(r) ? 0 : r;
}
size_t zstdunpack(const uint8_t *in, size_t size, uint8_t *out, size_t cap) {
    const size_t r = ZSTD_decompress(out, cap, in, size);
    return ZSTD_isError(r) ? 0 : r;
}
#endif

#ifdef THISTLE_HAVE_SQUISH
/* 5:6:5 expanded to 8 bits a channel, the way a display shows it. */
void expand565(uint16_t c, uint8_t *rgb) {
    const uint32_t r = c >> 11, g = (c >> 5) & 63, b = c & 31;
    rgb[0] = static_cast<uint8_t>(r << 3 | r >> 2);
    rgb[1] = static_cast<uint8_t>(g << 2 | g >> 4);
    rgb[2] = static_cast<uint8_t>(b << 3 | b >> 2);
}
size_t squishbound(const corpusfile &f, int) {
    return static_cast<size_t>(squish::GetStorageRequirements(f.width, f.height, squish::kDxt1));
}
size_t squishpack(const corpusfile &f, uint8_t *out, size_t, int fit) {
    std::vector<uint8_t> rgba(static_cast<size_t>(f.width) * f.height * 4);
    for (size_t i = 0; i < rgba.size() / 4; i++) {
        expand565(static_cast<uint16_t>(f.data[2 * i] | f.data[2 * i + 1] << 8), &rgba[4 * i]);
        rgba[4 * i + 3] = 255;
    }
    squish::CompressImage(rgba.data(), f.width, f.height, out, squish::kDxt1 | fit);
    return squishbound(f, fit);
}
#endif

/* The codecs in table order; peers missing from the build are absent. */
std::vector<codec> codecs() {
    std::vector<codec> c;
    c.push_back({"memcpy", 0, false, false, memcpybound, memcpypack, memcpyunpack, nullptr});
    c.push_back({"lz-1", 1, false, true, lzbound, lzpackf, ourunpack, ourplainunpack});
    c.push_back({"lz-6", 6, false, true, lzbound, lzpackf, ourunpack, ourplainunpack});
    c.push_back({"lz-9", 9, false, true, lzbound, lzpackf, ourunpack, ourplainunpack});
    c.push_back({"huff", 0, false, true, huffbound, huffpackf, ourunpack, ourplainunpack});
    c.push_back({"huff1", 1, false, true, huffbound, huffpackf, ourunpack, ourplainunpack});
    c.push_back({"huff2", 2, false, true, huffbound, huffpackf, ourunpack, ourplainunpack});
    c.push_back({"rle", 0, false, true, rlebound, rlepackf, ourunpack, ourplainunpack});
    c.push_back({"pair", 0, false, true, pairbound, pairpackf, ourunpack, ourplainunpack});
    c.push_back({"block-1", 1, true, true, blockbound, blockpackf, ourunpack, ourplainunpack});
    c.push_back({"block-9", 9, true, true, blockbound, blockpackf, ourunpack, ourplainunpack});
#ifdef THISTLE_HAVE_ZLIB
    c.push_back({"zlib-1", 1, false, false, zlibbound, zlibpack, zlibunpack, nullptr});
    c.push_back({"zlib-6", 6, false, false, zlibbound, zlibpack, zlibunpack, nullptr});
    c.push_back({"zlib-9", 9, false, false, zlibbound, zlibpack, zlibunpack, nullptr});
#endif
#ifdef THISTLE_HAVE_LZ4
    c.push_back({"lz4", 0, false, false, lz4bound, lz4pack, lz4unpack, nullptr});
    c.push_back({"lz4hc-9", 9, false, false, lz4bound, lz4pack, lz4unpack, nullptr});
    c.push_back({"lz4hc-12", 12, false, false, lz4bound, lz4pack, lz4unpack, nullptr});
#endif
#ifdef THISTLE_HAVE_ZSTD
    c.push_back({"zstd-1", 1, false, false, zstdbound, zstdpack, zstdunpack, nullptr});
    c.push_back({"zstd-3", 3, false, false, zstdbound, zstdpack, zstdunpack, nullptr});
    c.push_back({"zstd-19", 19, false, false, zstdbound, zstdpack, zstdunpack, nullptr});
#endif
#ifdef THISTLE_HAVE_SQUISH
    c.push_back({"squish-range", squish::kColourRangeFit, true, false, squishbound, squishpack,
                 nullptr, nullptr});
    c.push_back({"squish-cluster", squish::kColourClusterFit, true, false, squishbound, squishpack,
                 nullptr, nullptr});
#endif
    return c;
}

/* ---- corpus ---------------------------------------------------------------------- */

void dimensions(corpusfile &f) {
    f.width = f.height = 0;
    // NAME.WxH.ext
    const size_t ext = f.name.rfind('.');
    const size_t dot = ext == std::string::npos ? ext : f.name.rfind('.', ext - 1);
    if (dot != std::string::npos) {
        std::sscanf(f.name.c_str() + dot + 1, "%dx%d", &f.width, &f.height);
    }
}

corpusset loadset(const fs::path &dir, const std::string &name) {
    corpusset s{name, {}, 0};
    std::vector<fs::path> paths;
    std::error_code ec;
    for (const auto &e : fs::directory_iterator(dir / name, ec)) {
        if (e.is_regular_file()) {
            paths.push_back(e.path());
        }
    }
    std::sort(paths.begin(), paths.end());
    for (const fs::path &p : paths) {
        std::ifstream in(p, std::ios::binary);
        corpusfile f{p.filename().string(),
                     std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                                          std::istreambuf_iterator<char>()),
                     0, 0};
        if (f.data.empty() || f.data.size() > PACK_MAXSIZE) {
            std::fprintf(stderr, "note: %s/%s skipped (empty or over 16 MiB)\n", name.c_str(),
                         f.name.c_str());
            continue;
        }
        dimensions(f);
        s.bytes += f.data.size();
        s.files.push_back(std::move(f));
    }
    return s;
}

/* ---- measuring ------------------------------------------------------------------- */

double seconds(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

double cpuseconds() {
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

/* Median seconds of one pass of fn over the set: passes are grouped so that a sample
 * lasts at least 50 ms; a pass over 2 s is measured once. *cpu, when given, receives
 * the median processor seconds of the same samples. */
template <typename F>
double median(int reps, F fn, double *cpu = nullptr) {
    auto t0 = std::chrono::steady_clock::now();
    double c0 = cpuseconds();
    fn();
    const double first = seconds(t0);
    if (first > 2.0) {
        if (cpu != nullptr) {
            *cpu = cpuseconds() - c0;
        }
        return first;
    }
    const int inner = first >= 0.05 ? 1 : static_cast<int>(0.05 / (first + 1e-9)) + 1;
    std::vector<double> samples, cpusamples;
    for (int r = 0; r < reps; r++) {
        t0 = std::chrono::steady_clock::now();
        c0 = cpuseconds();
        for (int i = 0; i < inner; i++) {
            fn();
        }
        samples.push_back(seconds(t0) / inner);
        cpusamples.push_back((cpuseconds() - c0) / inner);
    }
    std::sort(samples.begin(), samples.end());
    std::sort(cpusamples.begin(), cpusamples.end());
    if (cpu != nullptr) {
        *cpu = cpusamples[cpusamples.size() / 2];
    }
    return samples[samples.size() / 2];
}

struct result {
    bool ok;
    double ratio;      /* packed / original, percent */
    double packmbs;    /* MB/s of original bytes */
    double packcpumbs; /* the same in processor time */
    double unpackmbs;  /* bounded (ours) or the peer's decoder */
    double plainmbs;   /* ours: the plain decoder; 0 otherwise */
    double psnr;       /* images: dB; 0 otherwise */
    std::string note;
};

/* Sum of squared differences in 8-bit RGB between two images of 5:6:5 or RGBA pixels. */
void imageerror(const corpusfile &f, const uint8_t *decoded, bool rgba, double &se, double &n) {
    const size_t count = static_cast<size_t>(f.width) * f.height;
    for (size_t i = 0; i < count; i++) {
        uint8_t a[3], b[3];
        const uint16_t c = static_cast<uint16_t>(f.data[2 * i] | f.data[2 * i + 1] << 8);
        const auto expand = [](uint16_t v, uint8_t *rgb) {
            const uint32_t r = v >> 11, g = (v >> 5) & 63, bl = v & 31;
            rgb[0] = static_cast<uint8_t>(r << 3 | r >> 2);
            rgb[1] = static_cast<uint8_t>(g << 2 | g >> 4);
            rgb[2] = static_cast<uint8_t>(bl << 3 | bl >> 2);
        };
        expand(c, a);
        if (rgba) {
            std::memcpy(b, decoded + 4 * i, 3);
        } else {
            expand(static_cast<uint16_t>(decoded[2 * i] | decoded[2 * i + 1] << 8), b);
        }
        for (int k = 0; k < 3; k++) {
            const double d = static_cast<double>(a[k]) - b[k];
            se += d * d;
        }
        n += 3;
    }
}

result measure(const codec &c, const corpusset &s, int reps) {
    result r{};
    std::vector<std::vector<uint8_t>> streams(s.files.size());
    std::vector<size_t> sizes(s.files.size());
    size_t packed = 0;
    for (size_t i = 0; i < s.files.size(); i++) {
        const corpusfile &f = s.files[i];
        if (c.imagesonly && (f.width <= 0 || f.height <= 0 ||
                             static_cast<size_t>(f.width) * f.height * 2 != f.data.size())) {
            r.note = "file without dimensions";
            return r;
        }
        streams[i].resize(c.bound(f, c.level));
        sizes[i] = c.pack(f, streams[i].data(), streams[i].size(), c.level);
        if (sizes[i] == 0) {
            r.note = "pack failed on " + f.name;
            return r;
        }
        packed += sizes[i];
    }
    // Check before timing: lossless codecs give the file back, image codecs their PSNR.
    double se = 0, n = 0;
    std::vector<uint8_t> out;
    for (size_t i = 0; i < s.files.size(); i++) {
        const corpusfile &f = s.files[i];
#ifdef THISTLE_HAVE_SQUISH
        if (c.unpack == nullptr) {
            out.resize(f.data.size() * 2);
            squish::DecompressImage(out.data(), f.width, f.height, streams[i].data(),
                                    squish::kDxt1);
            imageerror(f, out.data(), true, se, n);
            continue;
        }
#endif
        out.assign(f.data.size() + 8, 0);
        if (c.unpack(streams[i].data(), sizes[i], out.data(), f.data.size()) != f.data.size()) {
            r.note = "unpack failed on " + f.name;
            return r;
        }
        if (c.imagesonly) {
            imageerror(f, out.data(), false, se, n);
        } else if (std::memcmp(out.data(), f.data.data(), f.data.size()) != 0) {
            r.note = "round trip differs on " + f.name;
            return r;
        }
    }
    r.ratio = 100.0 * static_cast<double>(packed) / static_cast<double>(s.bytes);
    if (n > 0) {
        r.psnr = se == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 * n / se);
    }
    // Room for the largest file, and the 4 bytes the plain LZ decoder may use behind it.
    size_t largest = 0;
    for (const corpusfile &f : s.files) {
        largest = std::max(largest, f.data.size());
    }
    out.assign(largest + 8, 0);
    std::vector<uint8_t> scratch;
    const double mb = static_cast<double>(s.bytes) / 1e6;
    double packcpu = 0;
    r.packmbs = mb / median(
                         reps,
                         [&] {
                             for (size_t i = 0; i < s.files.size(); i++) {
                                 scratch.resize(streams[i].size());
                                 c.pack(s.files[i], scratch.data(), scratch.size(), c.level);
                             }
                         },
                         &packcpu);
    r.packcpumbs = packcpu > 0 ? mb / packcpu : 0;
    if (c.unpack != nullptr) {
        r.unpackmbs =
            mb / median(reps, [&] {
                for (size_t i = 0; i < s.files.size(); i++) {
                    c.unpack(streams[i].data(), sizes[i], out.data(), s.files[i].data.size());
                }
            });
    }
    if (c.plainunpack != nullptr) {
        r.plainmbs = mb / median(reps, [&] {
                         for (size_t i = 0; i < s.files.size(); i++) {
                             c.plainunpack(streams[i].data(), out.data());
                         }
                     });
    }
    r.ok = true;
    return r;
}

} // namespace

int main(int argc, char **argv) {
    const char *env = std::getenv("THISTLE_PACK_CORPUS");
    std::string corpus = env != nullptr ? env : THISTLE_PACK_CORPUS_DEFAULT;
    int reps = 5;
    std::string only;
    for (int i = 1; i < argc; i++) {
        if (std::strcmp(argv[i], "--corpus") == 0 && i + 1 < argc) {
            corpus = argv[++i];
        } else if (std::strcmp(argv[i], "--reps") == 0 && i + 1 < argc) {
            reps = std::max(1, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc) {
            only = argv[++i];
        } else {
            std::fprintf(stderr, "usage: %s [--corpus DIR] [--reps N] [--only TEXT]\n", argv[0]);
            return 2;
        }
    }
    size_t region = size_t{1} << 30;
    void *pages = allocpages(&region);
    initmemclasses();
    if (pages == nullptr || creatememclass(1, "bench", pages, static_cast<int32_t>(region), 16, 16,
                                           0, 0, 0, 1, 0, 0) == 0) {
        std::fprintf(stderr, "pack_bench: no memory for the encoders\n");
        return 1;
    }
    defaultmemclass = 1;
#ifndef THISTLE_HAVE_ZLIB
    std::printf("note: zlib not found at build time; its rows are left out\n");
#endif
#ifndef THISTLE_HAVE_LZ4
    std::printf("note: liblz4 not found at build time; its rows are left out\n");
#endif
#ifndef THISTLE_HAVE_ZSTD
    std::printf("note: libzstd not found at build time; its rows are left out\n");
#endif
#ifndef THISTLE_HAVE_SQUISH
    std::printf("note: libsquish not found at build time; its rows are left out\n");
#endif

    std::map<std::string, std::map<std::string, result>> all;
    for (const char *setname : {"mixed", "text", "indexed8", "image16"}) {
        const corpusset s = loadset(corpus, setname);
        if (s.files.empty()) {
            std::printf("note: no files in %s/%s (run bench/corpus.sh)\n", corpus.c_str(), setname);
            continue;
        }
        std::printf("\n### %s: %zu files, %zu bytes\n\n", setname, s.files.size(), s.bytes);
        std::printf("| codec | size %% | pack MB/s | pack CPU MB/s | unpack MB/s | "
                    "plain unpack MB/s | PSNR dB |\n|---|---:|---:|---:|---:|---:|---:|\n");
        for (const codec &c : codecs()) {
            const bool images = std::strcmp(setname, "image16") == 0;
            if ((c.imagesonly && !images) ||
                (!only.empty() && std::string(c.name).find(only) == std::string::npos)) {
                continue;
            }
            const result r = measure(c, s, reps);
            all[setname][c.name] = r;
            if (!r.ok) {
                std::printf("| %s | %s | | | | | |\n", c.name, r.note.c_str());
                continue;
            }
            char unpackcell[32] = "", plaincell[32] = "", psnrcell[32] = "";
            if (r.unpackmbs > 0) {
                std::snprintf(unpackcell, sizeof unpackcell, "%.0f", r.unpackmbs);
            }
            if (r.plainmbs > 0) {
                std::snprintf(plaincell, sizeof plaincell, "%.0f", r.plainmbs);
            }
            if (r.psnr > 0) {
                std::snprintf(psnrcell, sizeof psnrcell, "%.2f", r.psnr);
            }
            std::printf("| %s | %.2f | %.1f | %.1f | %s | %s | %s |\n", c.name, r.ratio, r.packmbs,
                        r.packcpumbs, unpackcell, plaincell, psnrcell);
            std::fflush(stdout);
        }
    }

    // Goals, as ratios within this run.
    std::printf("\n### goals\n\n| goal | set | measured | target | verdict |\n"
                "|---|---|---:|---:|---|\n");
    const auto get = [&](const char *set, const char *name) -> const result * {
        auto s = all.find(set);
        if (s == all.end()) {
            return nullptr;
        }
        auto r = s->second.find(name);
        return r == s->second.end() || !r->second.ok ? nullptr : &r->second;
    };
    const auto goal = [&](const char *what, const char *set, const char *a, const char *b,
                          double (*value)(const result &, const result &), double target,
                          bool atleast) {
        const result *ra = get(set, a), *rb = get(set, b);
        if (ra == nullptr || rb == nullptr) {
            std::printf("| %s | %s | not measured | | |\n", what, set);
            return;
        }
        const double v = value(*ra, *rb);
        const bool met = atleast ? v >= target : v <= target;
        std::printf("| %s | %s | %.2f | %s %.2f | %s |\n", what, set, v,
                    atleast ? ">=" : "<=", target, met ? "met" : "missed");
    };
    const auto speedratio = [](const result &a, const result &b) {
        return a.unpackmbs / b.unpackmbs;
    };
    for (const char *set : {"mixed", "text"}) {
        goal("lz-9 unpack / lz4 unpack", set, "lz-9", "lz4", speedratio, 0.8, true);
    }
    for (const char *set : {"mixed", "text", "indexed8", "image16"}) {
        goal("lz-9 unpack / zlib-6 inflate", set, "lz-9", "zlib-6", speedratio, 3.0, true);
    }
    for (const char *set : {"mixed", "text"}) {
        goal(
            "lz-9 size / lz4hc-12 size", set, "lz-9", "lz4hc-12",
            [](const result &a, const result &b) { return a.ratio / b.ratio; }, 1.0, false);
    }
    for (const char *set : {"mixed", "text", "indexed8", "image16"}) {
        goal("huff unpack / zlib-6 inflate", set, "huff", "zlib-6", speedratio, 1.5, true);
    }
    const auto packratio = [](const result &a, const result &b) {
        return a.packcpumbs / b.packcpumbs;
    };
    for (const char *set : {"mixed", "text", "indexed8", "image16"}) {
        goal("lz-9 pack / lz4hc-12 pack", set, "lz-9", "lz4hc-12", packratio, 1.0, true);
        goal("lz-6 pack / lz4hc-9 pack", set, "lz-6", "lz4hc-9", packratio, 1.0, true);
        goal(
            "pair pack / 20 MB/s", set, "pair", "pair",
            [](const result &a, const result &) { return a.packcpumbs / 20.0; }, 1.0, true);
    }
    goal("block-9 pack / squish cluster fit pack", "image16", "block-9", "squish-cluster",
         packratio, 1.0, true);
    goal(
        "block-9 PSNR - squish range fit (dB)", "image16", "block-9", "squish-range",
        [](const result &a, const result &b) { return a.psnr - b.psnr; }, 0.0, true);
    goal(
        "block-9 PSNR - squish cluster fit (dB)", "image16", "block-9", "squish-cluster",
        [](const result &a, const result &b) { return a.psnr - b.psnr; }, -0.5, true);
    return 0;
}
