/*
 * toolpack.h - packing for the tools: the pack formats by the names the tools take, one
 * call for every encoder, and the memory class the encoders and the shape conversion
 * work in (pages of the tool's own, made the default class).
 * Threads: memup/memdown change the default class; one user at a time.
 */
#ifndef THISTLE_TOOLPACK_H
#define THISTLE_TOOLPACK_H

#include <cstddef>
#include <cstdint>
#include <functional>

enum class packkind { lz, huff, rle, pair, block };

struct packformat {
    const char *name;
    uint8_t code;
    packkind k;
    int32_t filter;   /* huff: running sums */
    bool levels;      /* takes -1 .. -9 */
    bool longheader;  /* takes --long */
    int32_t deflevel; /* level when none is given */
};

/* lz first: the tools' default. */
extern const packformat packformats[7];

/* The format of a name, or null. */
const packformat *packformatbyname(const char *name);
/* The format of a stream's pack code (bit 0, the header form, ignored), or null. */
const packformat *packformatbycode(uint8_t code);

/* One encoder run. */
struct packjob {
    const packformat *format;
    const uint8_t *data; /* bytes, or little-endian 5:6:5 pixels for block */
    size_t size;
    int32_t width, height; /* block */
    int32_t level;
    int32_t header; /* PACK_SHORTHEADER or PACK_LONGHEADER */
};

/* Runs the job's encoder into out; returns the stream's size or a PACK_E value. */
int32_t packencode(const packjob &j, uint8_t *out, size_t capacity);

/* Where a packed stream that unpacks to `unpacked` bytes from all `available` bytes ends:
 * the bounded decoders fail on a stream cut short, so the shortest prefix that still
 * unpacks whole is the stream; anything behind it is not part of it. */
size_t packstreamend(const uint8_t *stream, size_t available, size_t unpacked);

/* Runs encode in a memory class sized from the input's size, four times larger after each
 * PACK_ENOMEM up to the largest class. Returns 1 with encode's last result in result; 0,
 * with the failure printed for input in, when not even the first class could be made. */
int packinmemory(const char *in, size_t size, const std::function<int32_t()> &encode,
                 int32_t &result);

/* Working memory: a memory class over pages of the tool's own, named after the tool. */
struct workmem {
    void *pages;
    int32_t classnum;
};

/* Makes a memory class of about `bytes` (at most 1.5 GiB) and makes it the default class;
 * returns 0 when there is no memory for it. */
int memup(workmem &m, size_t bytes);
/* Removes the class and frees its pages. */
void memdown(workmem &m);

#endif /* THISTLE_TOOLPACK_H */
