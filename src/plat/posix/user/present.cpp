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
#include <utility>

/* GCC vectorises at -O2 only loops that need no remainder handling; the row loops need
 * it and gain four to eight times from it. */
#if defined(__GNUC__) && !defined(__clang__)
#define ROWLOOP __attribute__((optimize("vect-cost-model=dynamic")))
#else
#define ROWLOOP
#endif

namespace {

/* A colour mask as shifts that move its channel to 8 bits: ((p & mask) >> down), then
 * widened by repeating its high bits: (v << up) | (v >> again). Masks of 8 bits and more
 * have up 0 and again 8 (v has 8 bits then, so v >> 8 adds nothing), which keeps the
 * row loops free of branches. */
struct channel {
    uint32_t mask;
    int down;  /* to the channel's lowest bit, plus what an over-wide mask has beyond 8 */
    int up;    /* 8 - bits for a narrow mask, else 0 */
    int again; /* 2 * bits - 8 for narrow masks of 4..7 bits, else 8 */
};

channel makechannel(DWORD mask) {
    channel c{mask, 0, 0, 8};
    if (mask == 0)
        return c;
    int shift = __builtin_ctz(mask);
    int bits = __builtin_popcount(mask);
    c.down = bits > 8 ? shift + bits - 8 : shift;
    c.up = bits < 8 ? 8 - bits : 0;
    c.again = bits < 8 ? 2 * bits - 8 : 8;
    return c;
}

/* Masks of 4 bits and more need the high bits once more; narrower ones (which no frame
 * format here has) are widened by a table instead. */
bool narrow(const channel &c) {
    return c.mask && c.up > 4;
}

inline uint32_t widen(uint32_t p, uint32_t mask, int down, int up, int again) {
    uint32_t v = (p & mask) >> down;
    return ((v << up) | (v >> again)) & 0xFF;
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

/* Rows of pixels read by read(row, x), widened channel by channel. The channels are
 * copied into locals first: the output rows could alias a caller's record, and the
 * compiler would reload it after every store instead of keeping the loop vectorised. */
template <class Read>
ROWLOOP void maskrows(const uint8_t *src, int pitch, int rows, int count, uint8_t *out,
                      int outpitch, channel r, channel g, channel b, Read read) {
    const uint32_t rm = r.mask, gm = g.mask, bm = b.mask;
    const int rd = r.down, ru = r.up, ra = r.again, gd = g.down, gu = g.up, ga = g.again,
              bd = b.down, bu = b.up, ba = b.again;
    for (int y = 0; y < rows; y++, src += pitch, out += outpitch) {
        auto *dst = reinterpret_cast<uint32_t *>(out);
        for (int x = 0; x < count; x++) {
            uint32_t p = read(src, x);
            dst[x] = widen(p, rm, rd, ru, ra) << 16 | widen(p, gm, gd, gu, ga) << 8 |
                     widen(p, bm, bd, bu, ba);
        }
    }
}

/* The two 16-bit formats of every card, with their shifts known to the compiler. The
 * channels are worked out in 16-bit lanes (eight pixels a vector step) and only the last
 * step widens them: green and blue make the low half of a pixel, red the high half. */
template <int RBITS, int GBITS>
ROWLOOP void rows16(const uint8_t *src, int pitch, int rows, int count, uint8_t *out,
                    int outpitch) {
    constexpr int BBITS = 5, GSHIFT = BBITS, RSHIFT = BBITS + GBITS;
    for (int y = 0; y < rows; y++, src += pitch, out += outpitch) {
        auto *dst = reinterpret_cast<uint32_t *>(out);
        for (int x = 0; x < count; x++) {
            uint16_t p;
            memcpy(&p, src + 2 * x, 2);
            uint16_t r = (uint16_t)((p >> RSHIFT) & ((1u << RBITS) - 1));
            uint16_t g = (uint16_t)((p >> GSHIFT) & ((1u << GBITS) - 1));
            uint16_t b = (uint16_t)(p & ((1u << BBITS) - 1));
            r = (uint16_t)((r << (8 - RBITS)) | (r >> (2 * RBITS - 8)));
            g = (uint16_t)((g << (8 - GBITS)) | (g >> (2 * GBITS - 8)));
            b = (uint16_t)((b << 3) | (b >> 2));
            uint16_t low = (uint16_t)(g << 8 | b);
            dst[x] = (uint32_t)r << 16 | low;
        }
    }
}

} // namespace

/* r is clipped to the frame; what it leaves out of the output is not written. */
ROWLOOP void plat_frametoxrgb(const plat_frame *f, RECT r, void *out, int outpitch) {
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
                                             : widen(p, chans[i]->mask, chans[i]->down,
                                                     chans[i]->up, chans[i]->again);
                d[x] = v[0] << 16 | v[1] << 8 | v[2];
            }
        }
        return;
    }

    switch (f->bitcount) {
    case 16:
        if (f->rmask == 0xF800 && f->gmask == 0x07E0 && f->bmask == 0x001F) {
            rows16<5, 6>(src, f->pitch, rows, count, dst, outpitch);
            break;
        }
        if (f->rmask == 0x7C00 && f->gmask == 0x03E0 && f->bmask == 0x001F) {
            rows16<5, 5>(src, f->pitch, rows, count, dst, outpitch);
            break;
        }
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

namespace {

/* plat_keepframe and plat_holdframe: the kept view follows the frame; held keeps a
 * reference to the frame's memory instead of a copy of its rows. */
RECT keepview(plat_keptframe *k, const plat_frame *f, bool held) {
    RECT view = f->fullscreen || f->view.right <= f->view.left || f->view.bottom <= f->view.top
                    ? RECT{0, 0, f->width, f->height}
                    : f->view;
    RECT src{std::max<LONG>(view.left, 0), std::max<LONG>(view.top, 0),
             std::min<LONG>(view.right, f->width), std::min<LONG>(view.bottom, f->height)};
    src.right = std::max(src.right, src.left);
    src.bottom = std::max(src.bottom, src.top);
    const int bytes = f->bitcount / 8;
    RECT changed = f->dirty;
    BYTE palette[256][4] = {};
    if (f->bitcount == 8 && f->palette)
        memcpy(palette, f->palette, sizeof palette);
    const bool newpalette = f->bitcount == 8 && memcmp(palette, k->palette, sizeof palette) != 0;
    memcpy(k->palette, palette, sizeof palette);
    bool all = false;
    if (!k->any || src.left != k->source.left || src.top != k->source.top ||
        src.right != k->source.right || src.bottom != k->source.bottom ||
        view.right - view.left != k->width || view.bottom - view.top != k->height ||
        f->width != k->framewidth || f->height != k->frameheight || f->bitcount != k->bitcount ||
        f->rmask != k->rmask || f->gmask != k->gmask || f->bmask != k->bmask || newpalette ||
        held != (k->held != nullptr)) {
        k->any = true;
        k->width = view.right - view.left;
        k->height = view.bottom - view.top;
        k->inside = RECT{src.left - view.left, src.top - view.top, src.right - view.left,
                         src.bottom - view.top};
        k->source = src;
        k->framewidth = f->width;
        k->frameheight = f->height;
        k->bitcount = f->bitcount;
        k->rmask = f->rmask;
        k->gmask = f->gmask;
        k->bmask = f->bmask;
        if (!held) {
            k->held = nullptr;
            k->pitch = (src.right - src.left) * bytes;
            k->raw.assign((size_t)k->pitch * (src.bottom - src.top), 0);
        }
        changed = src;
        all = true;
    }
    if (held) {
        k->raw = std::vector<uint8_t>();
        k->pitch = f->pitch;
        k->held = static_cast<const uint8_t *>(f->pixels) + (ptrdiff_t)src.top * f->pitch +
                  (ptrdiff_t)src.left * bytes;
    }
    RECT copy{std::max(changed.left, src.left), std::max(changed.top, src.top),
              std::min(changed.right, src.right), std::min(changed.bottom, src.bottom)};
    if (copy.left >= copy.right || copy.top >= copy.bottom)
        return all ? RECT{0, 0, k->width, k->height} : RECT{0, 0, 0, 0};
    if (!held) {
        const auto *from = static_cast<const uint8_t *>(f->pixels);
        const size_t length = (size_t)(copy.right - copy.left) * bytes;
        for (LONG y = copy.top; y < copy.bottom; y++)
            memcpy(k->raw.data() + (size_t)(y - src.top) * k->pitch +
                       (size_t)(copy.left - src.left) * bytes,
                   from + (ptrdiff_t)y * f->pitch + (ptrdiff_t)copy.left * bytes, length);
    }
    if (all) /* the whole view, its black borders too */
        return RECT{0, 0, k->width, k->height};
    return RECT{copy.left - view.left, copy.top - view.top, copy.right - view.left,
                copy.bottom - view.top};
}

} // namespace

RECT plat_keepframe(plat_keptframe *k, const plat_frame *f) {
    return keepview(k, f, false);
}

RECT plat_holdframe(plat_keptframe *k, const plat_frame *f) {
    return keepview(k, f, true);
}

void plat_unholdframe(plat_keptframe *k) {
    if (!k->held)
        return;
    const size_t length = (size_t)(k->inside.right - k->inside.left) * (k->bitcount / 8);
    const int rows = k->inside.bottom - k->inside.top;
    std::vector<uint8_t> raw(length * rows);
    for (int y = 0; y < rows; y++)
        memcpy(raw.data() + y * length, k->held + (ptrdiff_t)y * k->pitch, length);
    k->raw = std::move(raw);
    k->pitch = (int)length;
    k->held = nullptr;
}

void plat_keptxrgb(const plat_keptframe *k, RECT r, void *out, int outpitch) {
    if (r.left < k->inside.left || r.top < k->inside.top || r.right > k->inside.right ||
        r.bottom > k->inside.bottom) {
        for (LONG y = r.top; y < r.bottom; y++)
            std::fill_n(reinterpret_cast<uint32_t *>(static_cast<uint8_t *>(out) +
                                                     (ptrdiff_t)(y - r.top) * outpitch),
                        r.right - r.left, 0u);
    }
    plat_frame f{};
    f.pixels = k->held ? k->held : k->raw.data();
    f.pitch = k->pitch;
    f.width = k->inside.right - k->inside.left;
    f.height = k->inside.bottom - k->inside.top;
    f.bitcount = k->bitcount;
    f.rmask = k->rmask;
    f.gmask = k->gmask;
    f.bmask = k->bmask;
    f.palette = k->palette;
    plat_frametoxrgb(&f,
                     RECT{r.left - k->inside.left, r.top - k->inside.top, r.right - k->inside.left,
                          r.bottom - k->inside.top},
                     out, outpitch);
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
