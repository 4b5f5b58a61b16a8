// convrow_bench - the pixel row converters beside SDL_ConvertPixels, on every pair of
// formats both convert, and beside memcpy as the limit.
//
// Each pair runs on a 640x480 image and a 4096x64 one: ours converts it row by row (one
// call a row, as shape conversion does), SDL converts it in one SDL_ConvertPixels call,
// and memcpy copies as many bytes as the conversion reads and writes together (half
// read, half written). All three run in the same process, interleaved pair by pair, so
// the load of a shared machine falls on all of them alike. With repetitions, the table
// printed at the end takes the medians.
//
// Our formats in SDL's terms: 4-bit = INDEX4LSB, 8-bit = INDEX8, 1:5:5:5 = ARGB1555 (or
// RGB555 where ours leaves bit 15 clear), 5:6:5 = RGB565, 24-bit = BGR24, 32-bit =
// ARGB8888, 4:4:4:4 = ARGB4444, blue-first 5:5:5 = BGR555; rowrgbto32 reads RGB24. SDL
// converts indexed formats only onto themselves (a copy), so the palette converters have
// no counterpart; its copy of INDEX4LSB copies nothing (0 bytes a pixel), so row4to4 is
// left out. The formats agree in layout, not always in rounding: SDL widens 5 bits
// to 8 by repeating the top bits, ours leaves the low bits 0 and keeps 0 transparent.
#include "thistle/convrow.h"

#include <SDL.h>
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

struct pair {
    const char *name; /* ours, as in the tables */
    rowconverter convert;
    int inbytes, outbytes; /* per pixel; 0 for 4-bit (half a byte) */
    Uint32 sdlfrom, sdlto;
};

// clang-format off
const pair pairs[] = {
    {"row8to8 (copy)",   row8to8,       1, 1, SDL_PIXELFORMAT_INDEX8,   SDL_PIXELFORMAT_INDEX8},
    {"row16to16 (copy)", row16to16,     2, 2, SDL_PIXELFORMAT_RGB565,   SDL_PIXELFORMAT_RGB565},
    {"row24to24 (copy)", row24to24,     3, 3, SDL_PIXELFORMAT_BGR24,    SDL_PIXELFORMAT_BGR24},
    {"row32to32 (copy)", row32to32,     4, 4, SDL_PIXELFORMAT_ARGB8888, SDL_PIXELFORMAT_ARGB8888},
    {"row555to565",      row555to565,   2, 2, SDL_PIXELFORMAT_ARGB1555, SDL_PIXELFORMAT_RGB565},
    {"row565to555",      row565to555,   2, 2, SDL_PIXELFORMAT_RGB565,   SDL_PIXELFORMAT_RGB555},
    {"row555swap 2>7",   row555swap,    2, 2, SDL_PIXELFORMAT_ARGB1555, SDL_PIXELFORMAT_BGR555},
    {"row555swap 7>2",   row555swap,    2, 2, SDL_PIXELFORMAT_BGR555,   SDL_PIXELFORMAT_RGB555},
    {"row555to8888",     row555to8888,  2, 4, SDL_PIXELFORMAT_ARGB1555, SDL_PIXELFORMAT_ARGB8888},
    {"row565to8888",     row565to8888,  2, 4, SDL_PIXELFORMAT_RGB565,   SDL_PIXELFORMAT_ARGB8888},
    {"row565to24",       row565to24,    2, 3, SDL_PIXELFORMAT_RGB565,   SDL_PIXELFORMAT_BGR24},
    {"row565to4444",     row565to4444,  2, 2, SDL_PIXELFORMAT_RGB565,   SDL_PIXELFORMAT_ARGB4444},
    {"row4444to8888",    row4444to8888, 2, 4, SDL_PIXELFORMAT_ARGB4444, SDL_PIXELFORMAT_ARGB8888},
    {"row24to32",        row24to32,     3, 4, SDL_PIXELFORMAT_BGR24,    SDL_PIXELFORMAT_ARGB8888},
    {"rowrgbto32",       rowrgbto32,    3, 4, SDL_PIXELFORMAT_RGB24,    SDL_PIXELFORMAT_ARGB8888},
    {"row32to24",        row32to24,     4, 3, SDL_PIXELFORMAT_ARGB8888, SDL_PIXELFORMAT_BGR24},
    {"row8888to565",     row8888to565,  4, 2, SDL_PIXELFORMAT_ARGB8888, SDL_PIXELFORMAT_RGB565},
    {"row8888to565a",    row8888to565a, 4, 2, SDL_PIXELFORMAT_ARGB8888, SDL_PIXELFORMAT_RGB565},
    {"row8888to555",     row8888to555,  4, 2, SDL_PIXELFORMAT_ARGB8888, SDL_PIXELFORMAT_ARGB1555},
    {"row8888to555a",    row8888to555a, 4, 2, SDL_PIXELFORMAT_ARGB8888, SDL_PIXELFORMAT_ARGB1555},
    {"row8888to4444",    row8888to4444, 4, 2, SDL_PIXELFORMAT_ARGB8888, SDL_PIXELFORMAT_ARGB4444},
};
// clang-format on

struct imagesize {
    int width, height;
};
const imagesize sizes[] = {{640, 480}, {4096, 64}};

/* Bytes of a row of width pixels; 4-bit rows round up. */
size_t rowbytes(int bytesperpixel, int width) {
    return bytesperpixel == 0 ? size_t(width + 1) / 2 : size_t(bytesperpixel) * size_t(width);
}

/* One source image for every pair: random bytes, with a quarter of the pixels 0 so that
 * the transparent cases take their share. */
const std::vector<uint8_t> &sourceimage() {
    static const std::vector<uint8_t> image = [] {
        std::vector<uint8_t> bytes(4u * 4096 * 480);
        std::mt19937 random(2026);
        for (size_t i = 0; i < bytes.size(); i += 4) {
            const uint32_t v = (random() & 3) == 0 ? 0 : uint32_t(random());
            std::memcpy(&bytes[i], &v, 4);
        }
        return bytes;
    }();
    return image;
}

void ours(benchmark::State &state, const pair &p, imagesize s) {
    const size_t inpitch = rowbytes(p.inbytes, s.width), outpitch = rowbytes(p.outbytes, s.width);
    const uint8_t *source = sourceimage().data();
    std::vector<uint8_t> destination(outpitch * size_t(s.height));
    for (auto _ : state) {
        for (int y = 0; y < s.height; y++) {
            p.convert(source + inpitch * size_t(y), destination.data() + outpitch * size_t(y),
                      s.width);
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * s.width * s.height);
    state.SetBytesProcessed(state.iterations() * int64_t(inpitch + outpitch) * s.height);
}

void sdl(benchmark::State &state, const pair &p, imagesize s) {
    const size_t inpitch = rowbytes(p.inbytes, s.width), outpitch = rowbytes(p.outbytes, s.width);
    const uint8_t *source = sourceimage().data();
    std::vector<uint8_t> destination(outpitch * size_t(s.height));
    for (auto _ : state) {
        if (SDL_ConvertPixels(s.width, s.height, p.sdlfrom, source, int(inpitch), p.sdlto,
                              destination.data(), int(outpitch)) != 0) {
            state.SkipWithError(SDL_GetError());
            break;
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * s.width * s.height);
    state.SetBytesProcessed(state.iterations() * int64_t(inpitch + outpitch) * s.height);
}

/* The limit: a copy with the conversion's traffic, (in + out) / 2 bytes copied a pixel. */
void copy(benchmark::State &state, const pair &p, imagesize s) {
    const size_t traffic =
        (rowbytes(p.inbytes, s.width) + rowbytes(p.outbytes, s.width)) * size_t(s.height);
    const uint8_t *source = sourceimage().data();
    std::vector<uint8_t> destination(traffic / 2);
    for (auto _ : state) {
        std::memcpy(destination.data(), source, traffic / 2);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * s.width * s.height);
    state.SetBytesProcessed(state.iterations() * int64_t(traffic));
}

/* Console output as usual; the medians (or single runs) kept for the table. */
class tablereporter : public benchmark::ConsoleReporter {
  public:
    struct result {
        double pixels = 0, bytes = 0;
    };
    std::map<std::string, result> results;
    bool repeated = false;

    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            const bool single = run.run_type == Run::RT_Iteration && !repeated;
            if ((median || single) && !run.error_occurred) {
                const auto counter = [&](const char *name) {
                    const auto c = run.counters.find(name);
                    return c == run.counters.end() ? 0.0 : double(c->second);
                };
                results[run.run_name.function_name] = {counter("items_per_second"),
                                                       counter("bytes_per_second")};
            }
        }
    }
};

std::string key(const char *who, const pair &p, imagesize s) {
    return std::string(who) + "/" + p.name + "/" + std::to_string(s.width) + "x" +
           std::to_string(s.height);
}

} // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    sourceimage();
    for (const pair &p : pairs) {
        for (const imagesize s : sizes) {
            benchmark::RegisterBenchmark(key("ours", p, s).c_str(), ours, p, s);
            benchmark::RegisterBenchmark(key("sdl", p, s).c_str(), sdl, p, s);
            benchmark::RegisterBenchmark(key("memcpy", p, s).c_str(), copy, p, s);
        }
    }
    tablereporter reporter;
    for (int i = 1; i < argc; i++) {
        reporter.repeated |= std::strncmp(argv[i], "--benchmark_repetitions=", 24) == 0 &&
                             std::atoi(argv[i] + 24) > 1;
    }
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf(
        "\n| pair | SDL formats | image | ours Mpix/s | SDL Mpix/s | ours / SDL "
        "| ours GB/s | memcpy GB/s | of memcpy |\n|---|---|---|---:|---:|---:|---:|---:|---:|\n");
    for (const pair &p : pairs) {
        for (const imagesize s : sizes) {
            const auto o = reporter.results.find(key("ours", p, s));
            const auto d = reporter.results.find(key("sdl", p, s));
            const auto m = reporter.results.find(key("memcpy", p, s));
            if (o == reporter.results.end() || d == reporter.results.end() ||
                m == reporter.results.end()) {
                continue;
            }
            std::printf("| %s | %s > %s | %dx%d | %.0f | %.0f | %.2f | %.2f | %.2f | %.0f %% |\n",
                        p.name, SDL_GetPixelFormatName(p.sdlfrom) + 16,
                        SDL_GetPixelFormatName(p.sdlto) + 16, s.width, s.height,
                        o->second.pixels / 1e6, d->second.pixels / 1e6,
                        o->second.pixels / d->second.pixels, o->second.bytes / 1e9,
                        m->second.bytes / 1e9, 100 * o->second.bytes / m->second.bytes);
        }
    }
    return 0;
}
