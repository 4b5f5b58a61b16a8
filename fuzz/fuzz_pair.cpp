/*
 * fuzz_pair - fuzz target for the byte-pair decoder (pairunpackbounded); the checks are those of
 * fuzzcheck.h.
 */
#include "fuzzcheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzzdecoder(pairunpackbounded, data, size);
    return 0;
}
