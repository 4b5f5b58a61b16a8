/*
 * fuzz_decoder - fuzz target for one bounded decoder, chosen when it is built (FUZZ_DECODER):
 * the pack-code dispatcher (unpackbounded, any stream and any code) or one of the five
 * decoders; the checks are those of fuzzcheck.h.
 */
#include "fuzzcheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzzdecoder(FUZZ_DECODER, data, size);
    return 0;
}
