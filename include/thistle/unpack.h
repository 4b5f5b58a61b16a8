/*
 * thistle/unpack.h - packed data: the pack-code dispatcher and its five decoders.
 *
 * A packed stream starts with a pack header: the pack code (bit 0: long header form),
 * a signature (0xFB or 0x32) and the unpacked size (3 bytes, big-endian). unpack
 * chooses the decoder by the code. The plain entry points trust their input, as they
 * always have; the bounded ones take the source size and the destination capacity and
 * never read or write outside either, whatever the input holds.
 *
 * Choices the format leaves open, made here (encoders rely on them):
 * - Long header form (code bit 0): the LZ and Huffman decoders, and the byte-pair decoder
 *   for 47 FB, take their size 3 bytes later than unpacksize does. unpack lets a decoder
 *   write no more than the size at offset 2; encoders write the same size in both fields.
 * - Decoders never write behind the declared size: a stream whose output would pass it is
 *   refused (bounded: UNPACK_EOVERFLOW), one that ends short of it is UNPACK_EMALFORMED.
 *   A Huffman stream whose end code comes early still has its running-sum filter run
 *   over the whole declared size by the plain entry points (huffunpack, unpack).
 * - Huffman streams are whole 16-bit units; the decoder reads no unit past the one that
 *   holds the end code.
 * - Colour blocks are written whole at a pitch of the width: with a width that is not a
 *   multiple of 4 the last block of each row also covers the first pixels of the next
 *   row. Only the declared size clips.
 * - Run-length operation 3 with n = 0 reads its first byte and writes nothing.
 * The plain decoders return the declared size whatever they found, as they always did.
 */
#ifndef THISTLE_UNPACK_H
#define THISTLE_UNPACK_H

#include <cstddef>
#include <cstdint>

/* Pack codes (the code byte with bit 0 cleared). */
enum : uint8_t {
    PACK_LZCODE = 0x10,
    PACK_BLOCKCODE = 0x18,
    PACK_HUFFCODE = 0x30,
    PACK_HUFF1CODE = 0x32,
    PACK_HUFF2CODE = 0x34,
    PACK_PAIRCODE = 0x46,
    PACK_RLECODE = 0x4A,
};

/* Results of the bounded decoders below 0. */
enum : int32_t {
    UNPACK_ETRUNCATED = -1, /* the stream ends before its data does */
    UNPACK_EOVERFLOW = -2,  /* the output would not fit in the destination */
    UNPACK_EMALFORMED = -3, /* a code table or a reference that cannot be right */
    UNPACK_ENOEND = -4,     /* no end mark where the format needs one */
    UNPACK_EBADCODE = -5,   /* an unknown pack code or signature */
};

/* Dispatcher: unpacks by pack code. Returns the unpacked size, 0 when nothing was
 * unpacked (reported as an invalid pack code under the conditions of the format). */
int32_t unpack(const void *source, void *destination);
/* The unpacked size from the header for a known code; 0 otherwise. */
int32_t unpacksize(const void *source);
/* The shape itself when it is not packed; else a new "unshp" block in memory class 0
 * holding the unpacked shape, which the caller purges. */
void *unpackshape(void *shape);

/* The decoders, as the dispatcher calls them (decode 0: only read the size). */
int32_t lzunpack(const void *source, void *destination, int32_t decode);
int32_t huffunpack(const void *source, void *destination, int32_t decode);
int32_t rleunpack(const void *source, void *destination);
int32_t pairunpack(const void *source, void *destination);
int32_t blockunpack(const void *source, void *destination, int32_t decode);

/* Bounded forms: the unpacked size (>= 0) or an UNPACK_E value. They read only the
 * sourcesize bytes at source and write only below min(declared size, capacity); a
 * declared size above capacity writes nothing. unpackbounded never reports (an unknown
 * code or signature is UNPACK_EBADCODE). Every decoder keeps its state in the call, so
 * threads may decode at once. */
int32_t unpackbounded(const void *source, size_t sourcesize, void *destination, size_t capacity);
int32_t lzunpackbounded(const void *source, size_t sourcesize, void *destination, size_t capacity);
int32_t huffunpackbounded(const void *source, size_t sourcesize, void *destination,
                          size_t capacity);
int32_t rleunpackbounded(const void *source, size_t sourcesize, void *destination, size_t capacity);
int32_t pairunpackbounded(const void *source, size_t sourcesize, void *destination,
                          size_t capacity);
int32_t blockunpackbounded(const void *source, size_t sourcesize, void *destination,
                           size_t capacity);

#endif /* THISTLE_UNPACK_H */
