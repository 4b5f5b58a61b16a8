/*
 * cmn\unpack - the pack-code dispatcher: unpack, unpacksize, unpackshape and the bounded
 * unpackbounded (see thistle/unpack.h; the decoders live in cmn\unpackf).
 *
 *   offset 0     1          2..4             (5..7 in the long form of LZ, Huffman
 *          code  signature  size, big-endian  and 47 FB byte pairs: the decoder's size)
 *
 * Threads: no state between calls; any thread may unpack. unpackshape reserves from
 * memory class 0 and so follows that class's locking.
 * Decision (long header form): unpack lets a decoder write no more than the size at
 * offset 2, the amount unpacksize tells callers to provide, whatever the decoder's own
 * size field says. The encoders write the same size in both fields.
 */
#include "thistle/unpack.h"

#include "thistle/diag.h"
#include "thistle/memstd.h"

#include "packbytes.h"

#include <cstring>

namespace {

bool knownsignature(const uint8_t *src) {
    return src[1] == 0xFB || src[1] == 0x32;
}

bool knowncode(uint8_t code) {
    switch (code & 0xFE) {
    case PACK_LZCODE:
    case PACK_BLOCKCODE:
    case PACK_HUFFCODE:
    case PACK_HUFF1CODE:
    case PACK_HUFF2CODE:
    case PACK_PAIRCODE:
    case PACK_RLECODE:
        return true;
    default:
        return false;
    }
}

/* A 0 result is an invalid pack code when the stream looks like one of ours. */
bool reportable(const uint8_t *src) {
    return src[0] >= 0x10 && src[0] <= 0x7F && src[1] == 0xFB;
}

uint32_t headerword(const uint8_t *src) {
    return (static_cast<uint32_t>(src[0]) << 8) | src[1];
}

/* The size the code's plain decoder reads and returns. */
int32_t decodersize(const uint8_t *src) {
    switch (src[0] & 0xFE) {
    case PACK_LZCODE:
        return lzunpack(src, nullptr, 0);
    case PACK_BLOCKCODE:
        return blockunpack(src, nullptr, 0);
    case PACK_PAIRCODE:
        return static_cast<int32_t>(getbe24(src + (src[0] == 0x47 && src[1] == 0xFB ? 5 : 2)));
    case PACK_RLECODE:
        return static_cast<int32_t>(getbe24(src + 2));
    default:
        return huffunpack(src, nullptr, 0);
    }
}

} // namespace

/* Unpacks the stream at source into destination (unpacksize bytes). Returns the unpacked
 * size; 0 when the code or signature is not ours, reported as an invalid pack code while
 * reporterrors is set. A null source returns 0 unreported. The stream is trusted: a
 * malformed one leaves the destination undefined but nothing outside it is written. */
int32_t unpack(const void *source, void *destination) {
    if (source == nullptr) {
        return 0;
    }
    const uint8_t *src = static_cast<const uint8_t *>(source);
    int32_t result = 0;
    if (knownsignature(src) && knowncode(src[0])) {
        const uint32_t given = getbe24(src + 2);
        const bool huff = (src[0] & 0xF8) == PACK_HUFFCODE;
        const int32_t decoded = huff ? huffunpacktrusted(src, destination, given)
                                     : unpackbounded(src, SIZE_MAX, destination, given);
        if ((src[0] & 0xFE) == PACK_RLECODE) {
            result = static_cast<int32_t>(given);
        } else {
            result = decoded >= 0 ? decoded : decodersize(src);
        }
    }
    if (result == 0 && reporterrors != 0 && reportable(src)) {
        THISTLE_SITE("cmn\\unpack");
        fatalerror("unpack - INVALID PACK CODE (%x)\n", headerword(src));
    }
    return result;
}

/* The unpacked size at offset 2 for a known code and signature, else 0. A 0 result from
 * a stream with signature 0xFB and code byte 0x10..0x7F is always reported. */
int32_t unpacksize(const void *source) {
    if (source == nullptr) {
        return 0;
    }
    const uint8_t *src = static_cast<const uint8_t *>(source);
    int32_t result = 0;
    if (knownsignature(src) && knowncode(src[0])) {
        result = static_cast<int32_t>(getbe24(src + 2));
    }
    if (result == 0 && reportable(src)) {
        THISTLE_SITE("cmn\\unpack");
        fatalerror("unpacksize - INVALID PACK CODE (%x)\n", headerword(src));
    }
    return result;
}

/* Shape header (16 bytes): byte 0 the type (bit 7: packed), the first little-endian word's
 * upper 24 bits a signed offset from the header to the next block of the chain (0: none).
 *
 *   packed:  [hdr 16][packed stream ...]          copy: [hdr 16][unpacked pixels ...]
 *            ^shape                                      ^"unshp" block, class 0
 *
 * Returns the shape when it is not packed; otherwise the unpacked copy, whose chain
 * offset points at the same next block as before (kept to 24 bits). The caller owns the
 * copy and purges it; null when the reservation fails (reported by the memory classes). */
void *unpackshape(void *shape) {
    uint8_t *packed = static_cast<uint8_t *>(shape);
    if ((packed[0] & 0x80) == 0) {
        return shape;
    }
    const int32_t size = unpacksize(packed + 16) + 16;
    uint8_t *copy = static_cast<uint8_t *>(reservememadr("unshp", size, 0));
    if (copy == nullptr) {
        return nullptr;
    }
    memcpy(copy, packed, 16);
    unpack(packed + 16, copy + 16);
    copy[0] &= 0x7F;

    /* Bytes 1..3 hold the offset, least significant first; sign-extend from 24 bits. */
    const uint32_t field = packed[1] | (static_cast<uint32_t>(packed[2]) << 8) |
                           (static_cast<uint32_t>(packed[3]) << 16);
    const int32_t offset = static_cast<int32_t>(field << 8) >> 8;
    if (offset != 0) {
        const intptr_t moved =
            reinterpret_cast<intptr_t>(packed) - reinterpret_cast<intptr_t>(copy);
        const uint32_t chained = static_cast<uint32_t>(moved + offset) & 0xFFFFFF;
        copy[1] = static_cast<uint8_t>(chained);
        copy[2] = static_cast<uint8_t>(chained >> 8);
        copy[3] = static_cast<uint8_t>(chained >> 16);
    }
    return copy;
}

/* Bounded dispatcher: the decoder's bounded result, or UNPACK_EBADCODE for a code or
 * signature that is not ours, UNPACK_ETRUNCATED when not even the two header bytes are
 * there. Never reports. */
int32_t unpackbounded(const void *source, size_t sourcesize, void *destination, size_t capacity) {
    const uint8_t *src = static_cast<const uint8_t *>(source);
    if (src == nullptr || sourcesize < 2) {
        return UNPACK_ETRUNCATED;
    }
    if (!knownsignature(src) || !knowncode(src[0])) {
        return UNPACK_EBADCODE;
    }
    switch (src[0] & 0xFE) {
    case PACK_LZCODE:
        return lzunpackbounded(src, sourcesize, destination, capacity);
    case PACK_BLOCKCODE:
        return blockunpackbounded(src, sourcesize, destination, capacity);
    case PACK_PAIRCODE:
        return pairunpackbounded(src, sourcesize, destination, capacity);
    case PACK_RLECODE:
        return rleunpackbounded(src, sourcesize, destination, capacity);
    default:
        return huffunpackbounded(src, sourcesize, destination, capacity);
    }
}
