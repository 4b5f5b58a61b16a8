/*
 * fuzz_block - fuzz target for the colour-block decoder (blockunpackbounded); the checks are those
 * of fuzzcheck.h.
 */
#include "fuzzcheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzzdecoder(blockunpackbounded, data, size);
    return 0;
}
