/*
 * present.cpp - frames of the software display on their way to the backend.
 *
 * The software DirectDraw hands the primary surface over as it is in memory; this is
 * where a frame finds its backend window and where its pixels become 0x00RRGGBB, so that
 * every backend shows the same pixels.
 * Threads: any; the layer's lock is held only to find the window.
 */
#include "user.h"

#include "backend.h"

#include <cstdint>
#include <cstring>

namespace {

/* Scales a channel of `bits` bits at `shift` to 8 bits by repeating its high bits, so
 * the channel's maximum becomes 255 and 0 stays 0. */
inline uint32_t channel(uint32_t pixel, DWORD mask) {
    if (mask == 0)
        return 0;
    int shift = __builtin_ctz(mask);
    int bits = __builtin_popcount(mask);
    uint32_t v = (pixel & mask) >> shift;
    if (bits >= 8)
        return v >> (bits - 8);
    uint32_t out = 0;
    for (int have = 0; have < 8; have += bits)
        out = (out << bits) | v;
    return (out >> (((8 + bits - 1) / bits) * bits - 8)) & 0xFF;
}

} // namespace

void plat_frametoxrgb(const plat_frame *f, RECT r, void *out, int outpitch) {
    const auto *src = static_cast<const uint8_t *>(f->pixels);
    for (int y = r.top; y < r.bottom; y++) {
        const uint8_t *row = src + (ptrdiff_t)y * f->pitch;
        auto *dst = reinterpret_cast<uint32_t *>(static_cast<uint8_t *>(out) +
                                                 (ptrdiff_t)(y - r.top) * outpitch);
        for (int x = r.left; x < r.right; x++) {
            uint32_t p;
            switch (f->bitcount) {
            case 8: {
                const BYTE *e = f->palette ? f->palette[row[x]] : nullptr;
                *dst++ = e ? (uint32_t)e[0] << 16 | (uint32_t)e[1] << 8 | e[2] : 0;
                continue;
            }
            case 16:
                p = (uint32_t)row[2 * x] | (uint32_t)row[2 * x + 1] << 8;
                break;
            case 24:
                p = (uint32_t)row[3 * x] | (uint32_t)row[3 * x + 1] << 8 |
                    (uint32_t)row[3 * x + 2] << 16;
                break;
            default:
                memcpy(&p, row + 4 * x, 4);
                break;
            }
            *dst++ = channel(p, f->rmask) << 16 | channel(p, f->gmask) << 8 |
                     channel(p, f->bmask);
        }
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
