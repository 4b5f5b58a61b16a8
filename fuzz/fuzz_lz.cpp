/*
 * fuzz_lz - fuzz target for the LZ command decoder (lzunpackbounded); the checks are those of
 * fuzzcheck.h.
 */
#include "fuzzcheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzzdecoder(lzunpackbounded, data, size);
    return 0;
}
