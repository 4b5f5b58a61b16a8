/*
 * blit.cpp - the software blitter: colour fill, copy, stretch, source colour key,
 * mirrors and rotations.
 *
 * Every destination pixel takes the source pixel its position maps to (nearest
 * neighbour). The mapping, for a destination rectangle of W x H and a source of w x h:
 * the source is mirrored (left-right, up-down) and then turned counter-clockwise by the
 * rotation (90 and 270 exchange its width and height), and what results is stretched to
 * W x H. A source pixel inside the colour key's range leaves the destination pixel alone.
 * A clipper on the destination keeps the blit inside its window's client area (in screen
 * coordinates, the primary's); the mapping is that of the whole rectangle, so a clipped
 * blit draws the same pixels as the unclipped one where both draw. Without a clipper a
 * rectangle must lie inside its surface.
 * Threads: called under ddlock.
 */
#include "device.h"

#include <algorithm>
#include <cstring>
#include <vector>

using namespace platddraw;

namespace {

constexpr DWORD srccopy = 0x00CC0020;
constexpr DWORD unsupportedflags = DDBLT_ROTATIONANGLE | DDBLT_ZBUFFER | DDBLT_DEPTHFILL |
                                   DDBLT_KEYDEST | DDBLT_KEYDESTOVERRIDE | DDBLT_DDROPS |
                                   0x000001FF /* the alpha flags */;

bool inside(const RECT &r, const ddsurface *s) {
    return r.left >= 0 && r.top >= 0 && r.left < r.right && r.top < r.bottom &&
           r.right <= (LONG)s->width && r.bottom <= (LONG)s->height;
}

inline DWORD readpixel(const uint8_t *p, int bytes) {
    switch (bytes) {
    case 1:
        return p[0];
    case 2:
        return (DWORD)p[0] | (DWORD)p[1] << 8;
    case 3:
        return (DWORD)p[0] | (DWORD)p[1] << 8 | (DWORD)p[2] << 16;
    default:
        return (DWORD)p[0] | (DWORD)p[1] << 8 | (DWORD)p[2] << 16 | (DWORD)p[3] << 24;
    }
}

inline void writepixel(uint8_t *p, int bytes, DWORD v) {
    for (int i = 0; i < bytes; i++)
        p[i] = (uint8_t)(v >> (8 * i));
}

/* The part of r the destination's clipper lets through, or r itself without one. */
RECT cliprect(const ddsurface *dst, const RECT &r) {
    RECT clip{0, 0, (LONG)dst->width, (LONG)dst->height};
    if (dst->clip && dst->clip->hwnd) {
        RECT client;
        POINT origin{0, 0};
        if (GetClientRect(dst->clip->hwnd, &client) && ClientToScreen(dst->clip->hwnd, &origin)) {
            clip.left = std::max(clip.left, origin.x);
            clip.top = std::max(clip.top, origin.y);
            clip.right = std::min(clip.right, origin.x + client.right);
            clip.bottom = std::min(clip.bottom, origin.y + client.bottom);
        }
    }
    return RECT{std::max(r.left, clip.left), std::max(r.top, clip.top),
                std::min(r.right, clip.right), std::min(r.bottom, clip.bottom)};
}

void fill(ddsurface *dst, const RECT &draw, DWORD colour) {
    int bytes = (int)dst->fmt.bpp / 8;
    for (LONG y = draw.top; y < draw.bottom; y++) {
        uint8_t *row = dst->mem.data() + (size_t)y * dst->pitch;
        for (LONG x = draw.left; x < draw.right; x++)
            writepixel(row + (size_t)x * bytes, bytes, colour);
    }
}

struct mapping {
    LONG sw, sh; /* source size */
    LONG rw, rh; /* size after the rotation */
    LONG dw, dh; /* destination size */
    DWORD fx;
};

/* The source pixel (x, y), relative to the source rectangle, of destination pixel (i, j)
 * relative to the destination rectangle. */
inline void mappixel(const mapping &m, LONG i, LONG j, LONG *x, LONG *y) {
    LONG u = (LONG)((int64_t)i * m.rw / m.dw);
    LONG v = (LONG)((int64_t)j * m.rh / m.dh);
    LONG mx, my;
    if (m.fx & DDBLTFX_ROTATE90) { /* counter-clockwise: the top right comes to the top left */
        mx = m.sw - 1 - v, my = u;
    } else if (m.fx & DDBLTFX_ROTATE180) {
        mx = m.sw - 1 - u, my = m.sh - 1 - v;
    } else if (m.fx & DDBLTFX_ROTATE270) {
        mx = v, my = m.sh - 1 - u;
    } else {
        mx = u, my = v;
    }
    *x = (m.fx & DDBLTFX_MIRRORLEFTRIGHT) ? m.sw - 1 - mx : mx;
    *y = (m.fx & DDBLTFX_MIRRORUPDOWN) ? m.sh - 1 - my : my;
}

} // namespace

namespace platddraw {

HRESULT blt(ddsurface *dst, const RECT *dstrect, ddsurface *src, const RECT *srcrect, DWORD flags,
            const DDBLTFX *fx) {
    if (!dst || (flags & unsupportedflags))
        return dst ? DDERR_UNSUPPORTED : DDERR_INVALIDPARAMS;
    if ((flags & (DDBLT_COLORFILL | DDBLT_DDFX | DDBLT_ROP | DDBLT_KEYSRCOVERRIDE)) && !fx)
        return DDERR_INVALIDPARAMS;
    if (fx && fx->dwSize != sizeof(DDBLTFX))
        return DDERR_INVALIDPARAMS;
    if ((flags & DDBLT_ROP) && fx->dwROP != srccopy)
        return DDERR_UNSUPPORTED;
    bool filling = flags & DDBLT_COLORFILL;
    if (!filling && !src)
        return DDERR_INVALIDPARAMS;
    if (dst->lost || (!filling && src->lost))
        return DDERR_SURFACELOST;
    if (dst->locked || (!filling && src->locked))
        return DDERR_SURFACEBUSY;

    RECT dr = dstrect ? *dstrect : RECT{0, 0, (LONG)dst->width, (LONG)dst->height};
    RECT draw = cliprect(dst, dr);
    if (!dst->clip && !inside(dr, dst))
        return DDERR_INVALIDRECT;
    if (dr.left >= dr.right || dr.top >= dr.bottom)
        return DDERR_INVALIDRECT;
    if (filling) {
        if (draw.left < draw.right && draw.top < draw.bottom)
            fill(dst, draw, fx->dwFillColor);
    } else {
        RECT sr = srcrect ? *srcrect : RECT{0, 0, (LONG)src->width, (LONG)src->height};
        if (!inside(sr, src))
            return DDERR_INVALIDRECT;
        if (src->fmt.bpp != dst->fmt.bpp)
            return DDERR_INVALIDPIXELFORMAT;
        DWORD effects = (flags & DDBLT_DDFX) ? fx->dwDDFX : 0;
        bool keyed = flags & (DDBLT_KEYSRC | DDBLT_KEYSRCOVERRIDE);
        DDCOLORKEY key = (flags & DDBLT_KEYSRCOVERRIDE) ? fx->ddckSrcColorkey : src->srckey;
        if ((flags & DDBLT_KEYSRC) && !(flags & DDBLT_KEYSRCOVERRIDE) && !src->hassrckey)
            return DDERR_NOCOLORKEY;
        mapping m{sr.right - sr.left, sr.bottom - sr.top, 0,      0,
                  dr.right - dr.left, dr.bottom - dr.top, effects};
        bool turned = effects & (DDBLTFX_ROTATE90 | DDBLTFX_ROTATE270);
        m.rw = turned ? m.sh : m.sw;
        m.rh = turned ? m.sw : m.sh;
        int bytes = (int)dst->fmt.bpp / 8;
        /* A blit within one surface reads from a copy, so overlapping rectangles work. */
        std::vector<uint8_t> copy;
        const uint8_t *from = src->mem.data();
        if (src == dst) {
            copy = src->mem;
            from = copy.data();
        }
        for (LONG y = draw.top; y < draw.bottom; y++) {
            uint8_t *row = dst->mem.data() + (size_t)y * dst->pitch;
            for (LONG x = draw.left; x < draw.right; x++) {
                LONG sx, sy;
                mappixel(m, x - dr.left, y - dr.top, &sx, &sy);
                const uint8_t *p =
                    from + (size_t)(sr.top + sy) * src->pitch + (size_t)(sr.left + sx) * bytes;
                DWORD v = readpixel(p, bytes);
                if (keyed && v >= key.dwColorSpaceLowValue && v <= key.dwColorSpaceHighValue)
                    continue;
                writepixel(row + (size_t)x * bytes, bytes, v);
            }
        }
    }
    if (dst->dd->primary == dst && draw.left < draw.right && draw.top < draw.bottom)
        presentlater(dst->dd, draw);
    return DD_OK;
}

} // namespace platddraw
