/*
 * cmn\packbound - the output capacity that always suffices for each pack code's encoder.
 *
 * Threads: none; pure arithmetic. Limits: the bounds hold for inputs up to PACK_MAXSIZE;
 * for larger sizes they are still computed (the encoders refuse such inputs).
 */
#include "thistle/pack.h"

#include "thistle/unpack.h"

/* A capacity that lets the encoder of code (bit 0, the header form, is ignored) finish for
 * any size bytes of input, header included; 0 for a code without an encoder. Each bound
 * is the format's cost of leaving the data unpacked plus the encoder's fixed tables. */
size_t packbound(uint8_t code, size_t size) {
    switch (code & 0xFE) {
    case PACK_LZCODE:
        /* Long header 8, end command 1; every 112 literals need a run command, and a
         * match never costs more than the bytes it replaces, so cutting a run in two
         * costs at most the byte the match saved. */
        return size + size / 112 + 16;
    case PACK_BLOCKCODE:
        /* size = width x height x 2. Blocks of 8 bytes cover 4x4 pixels; the worst is a
         * one-pixel-wide image (8 bytes per 4 pixels = size + 6), plus the 8-byte header. */
        return size + 16;
    case PACK_HUFFCODE:
    case PACK_HUFF1CODE:
    case PACK_HUFF2CODE:
        /* Header and escape 9 bytes, counts for 16 lengths at most 30, symbol list at most
         * 512, end code and padding 5. A code built from the byte counts averages at most
         * 9 bits a byte (a complete 8/9-bit code exists for 257 symbols); escaped literals
         * of the least used byte add at most 20 bits for every 256 bytes. A quarter more
         * than the input leaves margin for a length limit that is not exactly optimal. */
        return size + size / 4 + 1024;
    case PACK_PAIRCODE:
        /* Long header 8, escape and count 2, 255 definitions 765, end 2; the escape byte
         * is the least used one, so escaping it costs at most one byte in 256, and pair
         * codes that also occur as plain bytes are chosen only where they save more than
         * their escapes cost. */
        return size + size / 64 + 1024;
    case PACK_RLECODE:
        /* Header 5; plain bytes go in runs of at most 63 behind one control byte. */
        return size + size / 63 + 16;
    default:
        return 0;
    }
}
