/*
 * frame.cpp - the primary surface on its way to the backend.
 *
 * A method that changes what the primary shows records the change with presentlater
 * while it holds ddlock: the changed rows are copied into the pending frame, a copy of
 * the screen. Once the method has left ddlock, flushpresent makes the pending frame the
 * shown one and hands it to plat_presentframe, with no copy: the backend may keep
 * reading it until its next present returns. Only the changed rows are copied, once.
 *
 *   surface --presentlater (ddlock)--> pending --flushpresent (showlock)--> shown --> backend
 *
 * Three frames take turns: pending, shown, and the one shown before, which the backend
 * may still read until the present of the new shown frame returns. That one becomes
 * pending only at the next flush, which waits for showlock, so it is never written while
 * a backend may read it; the surface memory itself never goes to a backend, as a drawing
 * thread may lock it at any time. A frame that comes back to pending lacks the changes of
 * the two flushes since it last was: `stale` keeps their bounds, and the first
 * presentlater copies them from the surface along with its own change.
 * ddlock is never held while a backend works (it may wait for its own thread, which may
 * be waiting for the device).
 *
 * The frame goes to the window of the primary's clipper, else to the cooperative window.
 * Windowed, it shows that window's client area of the desktop-sized primary.
 * Locks: showlock is taken before ddlock, never after it.
 */
#include "device.h"
#include "plat/ddrawtest.h"

#include "backend.h"

#include <algorithm>
#include <cstring>

using namespace platddraw;

namespace {

struct framecopy {
    std::vector<uint8_t> pixels;
    int pitch = 0, width = 0, height = 0, bitcount = 0;
    DWORD rmask = 0, gmask = 0, bmask = 0;
    BYTE palette[256][4]{};
    bool haspalette = false;
    HWND hwnd = nullptr;
    int fullscreen = 0;
    RECT dirty{0, 0, 0, 0}; /* changed since the frame shown before */
    RECT stale{0, 0, 0, 0}; /* behind the surface here: changes shown while it was not pending */
};

/* Never freed: a backend may still hold the last frame while the process ends. */
framecopy *const frames = new framecopy[3];
framecopy *pending = &frames[0]; /* ddlock; changed under showlock too */
framecopy *shown = &frames[1];   /* showlock (and ddlock while it changes) */
framecopy *spare = &frames[2];   /* shown before; the backend may read it until its next present */
std::mutex showlock;
plat_ddrawpresented lastpresent{}; /* showlock */

struct screenshape {
    int pitch, width, height, bitcount;
    size_t bytes;
    bool operator==(const screenshape &) const = default;
};
screenshape lastshape{}; /* ddlock: the screen of the last change recorded */

bool empty(const RECT &r) {
    return r.left >= r.right || r.top >= r.bottom;
}

RECT unite(const RECT &a, const RECT &b) {
    if (empty(a))
        return b;
    if (empty(b))
        return a;
    return RECT{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
                std::max(a.bottom, b.bottom)};
}

void copyrows(framecopy &to, const uint8_t *from, int frompitch, RECT r) {
    int bytes = to.bitcount / 8;
    for (LONG y = r.top; y < r.bottom; y++)
        memcpy(to.pixels.data() + (size_t)y * to.pitch + (size_t)r.left * bytes,
               from + (size_t)y * frompitch + (size_t)r.left * bytes,
               (size_t)(r.right - r.left) * bytes);
}

} // namespace

namespace platddraw {

void presentlater(ddobject *dd, RECT dirty) {
    ddsurface *p = dd->primary;
    if (!p)
        return;
    RECT all{0, 0, (LONG)p->width, (LONG)p->height};
    dirty = RECT{std::max(dirty.left, (LONG)0), std::max(dirty.top, (LONG)0),
                 std::min(dirty.right, all.right), std::min(dirty.bottom, all.bottom)};
    if (empty(dirty))
        return;
    framecopy &to = *pending;
    const screenshape shape{p->pitch, (int)p->width, (int)p->height, (int)p->fmt.bpp,
                            p->mem.size()};
    if (!(shape == lastshape)) {
        /* A new screen: all of it is reported. */
        lastshape = shape;
        dirty = all;
    }
    if (!(shape == screenshape{to.pitch, to.width, to.height, to.bitcount, to.pixels.size()})) {
        /* This frame held another screen, or none yet: all of it is copied. */
        to.pixels = p->mem;
        to.pitch = p->pitch;
        to.width = (int)p->width;
        to.height = (int)p->height;
        to.bitcount = (int)p->fmt.bpp;
    } else {
        copyrows(to, p->mem.data(), p->pitch, unite(dirty, to.stale));
    }
    to.dirty = unite(to.dirty, dirty);
    to.stale = RECT{0, 0, 0, 0};
    to.rmask = p->fmt.rmask;
    to.gmask = p->fmt.gmask;
    to.bmask = p->fmt.bmask;
    to.haspalette = p->fmt.bpp == 8 && p->pal;
    if (to.haspalette)
        for (int i = 0; i < 256; i++) {
            const PALETTEENTRY &e = p->pal->entries[i < p->pal->size ? i : 0];
            to.palette[i][0] = e.peRed;
            to.palette[i][1] = e.peGreen;
            to.palette[i][2] = e.peBlue;
            to.palette[i][3] = e.peFlags;
        }
    to.hwnd = p->clip && p->clip->hwnd ? p->clip->hwnd : dd->hwnd;
    to.fullscreen = fullscreen(dd) ? 1 : 0;
}

void flushpresent() {
    guard showing(showlock);
    RECT dirty;
    {
        guard held(ddlock());
        if (empty(pending->dirty))
            return;
        dirty = pending->dirty;
        pending->dirty = RECT{0, 0, 0, 0};
        /* The frame shown before is no longer read by the backend (its present returned
         * before showlock came to us): it is the next to be written. */
        framecopy *next = spare;
        spare = shown;
        shown = pending;
        pending = next;
        spare->stale = unite(spare->stale, dirty);
        pending->stale = unite(pending->stale, dirty);
    }
    const framecopy &s = *shown;
    plat_frame f{};
    f.hwnd = s.hwnd;
    f.pixels = s.pixels.data();
    f.pitch = s.pitch;
    f.width = s.width;
    f.height = s.height;
    f.bitcount = s.bitcount;
    f.rmask = s.rmask, f.gmask = s.gmask, f.bmask = s.bmask;
    f.palette = s.bitcount == 8 && s.haspalette ? s.palette : nullptr;
    f.dirty = dirty;
    f.fullscreen = s.fullscreen;
    f.view = RECT{0, 0, s.width, s.height};
    POINT origin{0, 0};
    RECT client;
    if (!f.fullscreen && f.hwnd && GetClientRect(f.hwnd, &client) &&
        ClientToScreen(f.hwnd, &origin))
        f.view = RECT{origin.x, origin.y, origin.x + client.right, origin.y + client.bottom};
    plat_presentframe(&f);
    lastpresent.count++;
    lastpresent.hwnd = f.hwnd;
    lastpresent.width = f.width;
    lastpresent.height = f.height;
    lastpresent.bitcount = f.bitcount;
    lastpresent.fullscreen = f.fullscreen;
    lastpresent.dirty = f.dirty;
    lastpresent.view = f.view;
}

void resetpresent() {
    guard showing(showlock);
    lastpresent = plat_ddrawpresented{};
}

} // namespace platddraw

/* The window hwnd was repainted: show the primary again in it when it shows one. */
void platuser::ddrawrepaint(HWND hwnd) {
    {
        guard held(ddlock());
        for (ddobject *dd : objects()) {
            ddsurface *p = dd->primary;
            if (p && (dd->hwnd == hwnd || (p->clip && p->clip->hwnd == hwnd)))
                presentlater(dd, RECT{0, 0, (LONG)p->width, (LONG)p->height});
        }
    }
    flushpresent();
}

int plat_ddrawlastpresent(plat_ddrawpresented *out) {
    guard showing(showlock);
    if (out)
        *out = lastpresent;
    return lastpresent.count;
}
