/*
 * present.cpp - frames of the software display on their way to the backend.
 *
 * The software DirectDraw hands the primary surface over as it is in memory; this is
 * where a frame finds its backend window and where its pixels become 0x00RRGGBB, so that
 * every backend shows the same pixels. The conversion picks its row loop once per call:
 * a palette table for 8 bits, shifts worked out from the masks for the others, so no
 * pixel costs a division or a bit count.
 * Threads: any; the layer's lock is held only to find the window.
 */
#include "user.h"

#include "backend.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

/* A colour mask as shifts that move its channel to 8 bits: ((p & mask) >> down) widened
 * by repeating its high bits, `up` and `again` for masks narrower than 8 bits. */
struct channel {
    uint32_t mask;
    int down;  /* to the channel's lowest bit, plus what an over-wide mask has beyond 8 */
    int up;    /* 8 - bits for a narrow mask, else 0 */
    int again; /* 2 * bits - 8: the repeated high bits, for narrow masks of 4..7 bits */
};

channel makechannel(DWORD mask) {
    channel c{mask, 0, 0, 0};
    if (mask == 0)
        return c;
    int shift = __builtin_ctz(mask);
    int bits = __builtin_popcount(mask);
    c.down = bits > 8 ? shift + bits - 8 : shift;
    c.up = bits < 8 ? 8 - bits : 0;
    c.again = bits < 8 ? 2 * bits - 8 : 0;
    return c;
}

/* Masks of 4 bits and more need the high bits once more; narrower ones (which no frame
 * format here has) are widened by a table instead. */
bool narrow(const channel &c) {
    return c.mask && c.up > 4;
}

inline uint32_t widen(uint32_t p, const channel &c) {
    uint32_t v = (p & c.mask) >> c.down;
    if (c.up)
        v = (v << c.up) | (v >> c.again);
    return v & 0xFF;
}

/* The 8-bit value of every value of a narrow channel (at most 8 entries). */
void widentable(const channel &c, uint8_t *table) {
    int bits = 8 - c.up;
    for (uint32_t v = 0; v < (1u << bits); v++) {
        uint32_t out = 0;
        for (int have = 0; have < 8; have += bits)
            out = (out << bits) | v;
        table[v] = (uint8_t)(out >> (((8 + bits - 1) / bits) * bits - 8));
    }
}

template <class Read>
void maskrows(const uint8_t *src, int pitch, int rows, int count, uint8_t *out, int outpitch,
              const channel &r, const channel &g, const channel &b, Read read) {
    for (int y = 0; y < rows; y++, src += pitch, out += outpitch) {
        auto *dst = reinterpret_cast<uint32_t *>(out);
        for (int x = 0; x < count; x++) {
            uint32_t p = read(src, x);
            dst[x] = widen(p, r) << 16 | widen(p, g) << 8 | widen(p, b);
        }
    }
}

} // namespace

/* r is clipped to the frame; what it leaves out of the output is not written. */
void plat_frametoxrgb(const plat_frame *f, RECT r, void *out, int outpitch) {
    RECT c{std::max<LONG>(r.left, 0), std::max<LONG>(r.top, 0), std::min<LONG>(r.right, f->width),
           std::min<LONG>(r.bottom, f->height)};
    if (c.left >= c.right || c.top >= c.bottom)
        return;
    const int rows = c.bottom - c.top, count = c.right - c.left;
    auto *dst = static_cast<uint8_t *>(out) + (ptrdiff_t)(c.top - r.top) * outpitch +
                (ptrdiff_t)(c.left - r.left) * 4;
    const int bytes = f->bitcount / 8;
    const uint8_t *src = static_cast<const uint8_t *>(f->pixels) + (ptrdiff_t)c.top * f->pitch +
                         (ptrdiff_t)c.left * bytes;

    if (f->bitcount == 8) {
        uint32_t lut[256] = {};
        if (f->palette)
            for (int i = 0; i < 256; i++)
                lut[i] = (uint32_t)f->palette[i][0] << 16 | (uint32_t)f->palette[i][1] << 8 |
                         f->palette[i][2];
        for (int y = 0; y < rows; y++, src += f->pitch, dst += outpitch) {
            auto *d = reinterpret_cast<uint32_t *>(dst);
            for (int x = 0; x < count; x++)
                d[x] = lut[src[x]];
        }
        return;
    }

    const channel cr = makechannel(f->rmask), cg = makechannel(f->gmask),
                  cb = makechannel(f->bmask);
    if (narrow(cr) || narrow(cg) || narrow(cb)) {
        /* Rare formats: one pixel at a time through small tables. */
        uint8_t tr[256], tg[256], tb[256];
        const channel *chans[3] = {&cr, &cg, &cb};
        uint8_t *tables[3] = {tr, tg, tb};
        for (int i = 0; i < 3; i++)
            if (narrow(*chans[i]))
                widentable(*chans[i], tables[i]);
        for (int y = 0; y < rows; y++, src += f->pitch, dst += outpitch) {
            auto *d = reinterpret_cast<uint32_t *>(dst);
            for (int x = 0; x < count; x++) {
                uint32_t p = 0;
                memcpy(&p, src + (ptrdiff_t)x * bytes, (size_t)bytes);
                uint32_t v[3];
                for (int i = 0; i < 3; i++)
                    v[i] = narrow(*chans[i]) ? tables[i][(p & chans[i]->mask) >> chans[i]->down]
                                             : widen(p, *chans[i]);
                d[x] = v[0] << 16 | v[1] << 8 | v[2];
            }
        }
        return;
    }

    switch (f->bitcount) {
    case 16:
        maskrows(src, f->pitch, rows, count, dst, outpitch, cr, cg, cb,
                 [](const uint8_t *s, int x) {
                     uint16_t p;
                     memcpy(&p, s + 2 * x, 2);
                     return (uint32_t)p;
                 });
        break;
    case 24:
        maskrows(src, f->pitch, rows, count, dst, outpitch, cr, cg, cb,
                 [](const uint8_t *s, int x) {
                     const uint8_t *p = s + 3 * x;
                     return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16;
                 });
        break;
    default:
        if (f->rmask == 0xFF0000 && f->gmask == 0xFF00 && f->bmask == 0xFF) {
            for (int y = 0; y < rows; y++, src += f->pitch, dst += outpitch) {
                auto *d = reinterpret_cast<uint32_t *>(dst);
                for (int x = 0; x < count; x++) {
                    uint32_t p;
                    memcpy(&p, src + 4 * x, 4);
                    d[x] = p & 0xFFFFFF;
                }
            }
            break;
        }
        maskrows(src, f->pitch, rows, count, dst, outpitch, cr, cg, cb,
                 [](const uint8_t *s, int x) {
                     uint32_t p;
                     memcpy(&p, s + 4 * x, 4);
                     return p;
                 });
        break;
    }
}

using namespace platuser;

void plat_presentframe(const plat_frame *frame) {
    const plat_backend *be = plat_userbackend();
    void *bw = nullptr;
    if (frame->hwnd) {
        userguard held(state().lock);
        if (windowrec *w = findwindow(frame->hwnd))
            bw = w->bw;
    }
    be->present(bw, frame);
}
