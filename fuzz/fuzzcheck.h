/*
 * fuzzcheck.h - shared checks of the fuzz targets: each target's entry calls these, and
 * a failed check aborts with a one-line reason, which both libFuzzer and the replay main
 * treat as a crash.
 *
 * Decoder checks, for any input whatever it holds:
 *   - the decoder reads only the input (it is handed exactly its bytes) and writes only
 *     the capacity it is given (exactly that much memory under the sanitizers; guard
 *     bytes behind it otherwise);
 *   - the result is one of the UNPACK_E values or a size within the capacity;
 *   - a decoding that succeeded succeeds again, with the same bytes, into a destination
 *     of exactly the size it reported;
 *   - a destination one byte short of that size is refused with UNPACK_EOVERFLOW.
 * Threads: none. Limits: capacities are capped at 1 MiB.
 */
#ifndef THISTLE_FUZZCHECK_H
#define THISTLE_FUZZCHECK_H

#include "thistle/unpack.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>

typedef int32_t (*boundeddecoder)(const void *source, size_t sourcesize, void *destination,
                                  size_t capacity);

/* Stops the run with a reason; both libFuzzer and the replay main report it as a crash. */
[[noreturn]] inline void fuzzfail(const char *what, int32_t a, int32_t b) {
    std::fprintf(stderr, "fuzz check failed: %s (%d, %d)\n", what, a, b);
    std::abort();
}

constexpr size_t fuzzmaxcapacity = size_t{1} << 20;
constexpr size_t fuzzguard = 64;
constexpr uint8_t fuzzguardbyte = 0xA5;

/* The larger of the two size fields a header may hold (offsets 2 and 5), capped: enough
 * room for any stream of this input to decode in full. */
inline size_t fuzzcapacity(const uint8_t *data, size_t size) {
    size_t c = 0;
    for (size_t at : {size_t{2}, size_t{5}}) {
        if (size >= at + 3) {
            const size_t v = (size_t{data[at]} << 16) | (size_t{data[at + 1]} << 8) | data[at + 2];
            c = v > c ? v : c;
        }
    }
    return c > fuzzmaxcapacity ? fuzzmaxcapacity : c;
}

inline void fuzzcheckresult(int32_t result, size_t capacity) {
    if (result < UNPACK_EBADCODE || (result >= 0 && static_cast<size_t>(result) > capacity)) {
        fuzzfail("result outside the error codes and the capacity", result,
                 static_cast<int32_t>(capacity));
    }
}

/* Runs one decoder over one input with all the checks above. */
inline void fuzzdecoder(boundeddecoder decode, const uint8_t *data, size_t size) {
    const size_t capacity = fuzzcapacity(data, size);
    // The input in a block of exactly its size, so a read past it is caught.
    std::unique_ptr<uint8_t[]> source(new uint8_t[size]);
    if (size > 0) {
        std::memcpy(source.get(), data, size);
    }
    std::unique_ptr<uint8_t[]> first(new uint8_t[capacity]);
    const int32_t result = decode(source.get(), size, first.get(), capacity);
    fuzzcheckresult(result, capacity);
    if (result < 0) {
        return;
    }
    const size_t n = static_cast<size_t>(result);
    std::unique_ptr<uint8_t[]> second(new uint8_t[n + fuzzguard]);
    std::memset(second.get(), fuzzguardbyte, n + fuzzguard);
    const int32_t again = decode(source.get(), size, second.get(), n);
    if (again != result) {
        fuzzfail("a second decoding into exactly the size reported differs", result, again);
    }
    if (n > 0 && std::memcmp(first.get(), second.get(), n) != 0) {
        fuzzfail("a second decoding wrote different bytes", result, again);
    }
    for (size_t i = n; i < n + fuzzguard; i++) {
        if (second[i] != fuzzguardbyte) {
            fuzzfail("a write behind the capacity", static_cast<int32_t>(n),
                     static_cast<int32_t>(i));
        }
    }
    if (n > 0) {
        const int32_t shortresult = decode(source.get(), size, second.get(), n - 1);
        if (shortresult != UNPACK_EOVERFLOW) {
            fuzzfail("a destination one byte short is not refused", result, shortresult);
        }
        if (second[n - 1] != first[n - 1]) {
            // The last byte was written by the full decoding; the short one must stop
            // before it, and leaves it as that decoding did.
            fuzzfail("a write behind a short capacity", static_cast<int32_t>(n - 1), 0);
        }
    }
}

#endif /* THISTLE_FUZZCHECK_H */
