/*
 * frame.cpp - the primary surface on its way to the backend.
 *
 * A method that changes what the primary shows records the change with presentlater
 * while it holds ddlock: the changed rows are copied into the pending frame, a copy of
 * the screen. Once the method has left ddlock, flushpresent copies the pending changes
 * into the shown frame and hands that to plat_presentframe. The backend thus never reads
 * surface memory that another thread may be drawing into or freeing, and ddlock is never
 * held while a backend works (it may wait for its own thread, which may be waiting for
 * the device). Only the changed rows are copied, twice.
 *
 *   surface --presentlater (ddlock)--> pending --flushpresent (showlock)--> shown --> backend
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
    RECT dirty{0, 0, 0, 0};
};

framecopy pending; /* ddlock */
std::mutex showlock;
framecopy shown;                   /* showlock */
plat_ddrawpresented lastpresent{}; /* showlock */

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

bool samegeometry(const framecopy &a, const framecopy &b) {
    return a.pitch == b.pitch && a.width == b.width && a.height == b.height &&
           a.bitcount == b.bitcount && a.pixels.size() == b.pixels.size();
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
    bool same = pending.pitch == p->pitch && pending.width == (int)p->width &&
                pending.height == (int)p->height && pending.bitcount == (int)p->fmt.bpp &&
                pending.pixels.size() == p->mem.size();
    if (!same) {
        /* A new screen: all of it is copied and reported. */
        pending.pixels = p->mem;
        pending.pitch = p->pitch;
        pending.width = (int)p->width;
        pending.height = (int)p->height;
        pending.bitcount = (int)p->fmt.bpp;
        pending.dirty = all;
    } else {
        copyrows(pending, p->mem.data(), p->pitch, dirty);
        pending.dirty = unite(pending.dirty, dirty);
    }
    pending.rmask = p->fmt.rmask;
    pending.gmask = p->fmt.gmask;
    pending.bmask = p->fmt.bmask;
    pending.haspalette = p->fmt.bpp == 8 && p->pal;
    if (pending.haspalette)
        for (int i = 0; i < 256; i++) {
            const PALETTEENTRY &e = p->pal->entries[i < p->pal->size ? i : 0];
            pending.palette[i][0] = e.peRed;
            pending.palette[i][1] = e.peGreen;
            pending.palette[i][2] = e.peBlue;
            pending.palette[i][3] = e.peFlags;
        }
    pending.hwnd = p->clip && p->clip->hwnd ? p->clip->hwnd : dd->hwnd;
    pending.fullscreen = fullscreen(dd) ? 1 : 0;
}

void flushpresent() {
    guard showing(showlock);
    RECT dirty;
    {
        guard held(ddlock());
        if (empty(pending.dirty))
            return;
        dirty = pending.dirty;
        if (!samegeometry(shown, pending)) {
            shown.pixels = pending.pixels;
            shown.pitch = pending.pitch;
            shown.width = pending.width;
            shown.height = pending.height;
            shown.bitcount = pending.bitcount;
        } else {
            copyrows(shown, pending.pixels.data(), pending.pitch, dirty);
        }
        shown.rmask = pending.rmask, shown.gmask = pending.gmask, shown.bmask = pending.bmask;
        shown.haspalette = pending.haspalette;
        memcpy(shown.palette, pending.palette, sizeof shown.palette);
        shown.hwnd = pending.hwnd;
        shown.fullscreen = pending.fullscreen;
        pending.dirty = RECT{0, 0, 0, 0};
    }
    plat_frame f{};
    f.hwnd = shown.hwnd;
    f.pixels = shown.pixels.data();
    f.pitch = shown.pitch;
    f.width = shown.width;
    f.height = shown.height;
    f.bitcount = shown.bitcount;
    f.rmask = shown.rmask, f.gmask = shown.gmask, f.bmask = shown.bmask;
    f.palette = shown.bitcount == 8 && shown.haspalette ? shown.palette : nullptr;
    f.dirty = dirty;
    f.fullscreen = shown.fullscreen;
    f.view = RECT{0, 0, shown.width, shown.height};
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
