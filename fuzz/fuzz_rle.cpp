/*
 * fuzz_rle - fuzz target for the run-length decoder (rleunpackbounded); the checks are those of
 * fuzzcheck.h.
 */
#include "fuzzcheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzzdecoder(rleunpackbounded, data, size);
    return 0;
}
