/*
 * fuzz_huff - fuzz target for the Huffman decoder with escape runs and its running-sum filters
 * (huffunpackbounded); the checks are those of fuzzcheck.h.
 */
#include "fuzzcheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzzdecoder(huffunpackbounded, data, size);
    return 0;
}
