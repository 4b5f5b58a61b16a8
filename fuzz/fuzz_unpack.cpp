/*
 * fuzz_unpack - fuzz target for the pack-code dispatcher: any stream, any code (unpackbounded); the
 * checks are those of fuzzcheck.h.
 */
#include "fuzzcheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzzdecoder(unpackbounded, data, size);
    return 0;
}
