/*
 * palette.cpp - palettes and clippers of the software DirectDraw.
 *
 * A palette holds 2, 4, 16 or 256 entries. An 8-bit palette made without
 * DDPCAPS_ALLOW256 keeps entry 0 black and entry 255 white, as the system does; changing
 * the entries of the palette the primary shows presents the primary. A clipper only
 * knows its window: Blt to a surface with a clipper keeps to that window's client area
 * (blit.cpp), and the window is where the primary is shown.
 * Threads: any; every method runs under ddlock and presents after leaving it.
 */
#include "device.h"

#include <algorithm>
#include <cstring>

using namespace platddraw;

namespace {

ddpalette *pal(IDirectDrawPalette *p) {
    return reinterpret_cast<face<IDirectDrawPalette, ddpalette> *>(p)->self;
}

ddclipper *clip(IDirectDrawClipper *p) {
    return reinterpret_cast<face<IDirectDrawClipper, ddclipper> *>(p)->self;
}

/* 8-bit palettes without ALLOW256 keep their first and last entry. */
void keepreserved(ddpalette *p) {
    if (p->size == 256 && !(p->caps & DDPCAPS_ALLOW256)) {
        p->entries[0] = PALETTEENTRY{0, 0, 0, 0};
        p->entries[255] = PALETTEENTRY{255, 255, 255, 0};
    }
}

HRESULT WINAPI p_QueryInterface(IDirectDrawPalette *This, REFIID riid, void **out) {
    if (!out)
        return DDERR_INVALIDPARAMS;
    *out = nullptr;
    if (riid != IID_IDirectDrawPalette && riid != IID_IUnknown)
        return E_NOINTERFACE;
    guard held(ddlock());
    pal(This)->refs++;
    *out = This;
    return DD_OK;
}

ULONG WINAPI p_AddRef(IDirectDrawPalette *This) {
    guard held(ddlock());
    return ++pal(This)->refs;
}

ULONG WINAPI p_Release(IDirectDrawPalette *This) {
    guard held(ddlock());
    ddpalette *p = pal(This);
    ULONG left = --p->refs;
    if (left == 0)
        freepalette(p);
    return left;
}

HRESULT WINAPI p_GetCaps(IDirectDrawPalette *This, LPDWORD caps) {
    if (!caps)
        return DDERR_INVALIDPARAMS;
    guard held(ddlock());
    ddpalette *p = pal(This);
    *caps = p->caps;
    if (p->dd->primary && p->dd->primary->pal == p)
        *caps |= DDPCAPS_PRIMARYSURFACE;
    return DD_OK;
}

HRESULT WINAPI p_GetEntries(IDirectDrawPalette *This, DWORD flags, DWORD base, DWORD count,
                            LPPALETTEENTRY entries) {
    if (flags || !entries)
        return DDERR_INVALIDPARAMS;
    guard held(ddlock());
    ddpalette *p = pal(This);
    if (base >= (DWORD)p->size || count > (DWORD)p->size - base)
        return DDERR_INVALIDPARAMS;
    memcpy(entries, p->entries + base, count * sizeof(PALETTEENTRY));
    return DD_OK;
}

HRESULT WINAPI p_Initialize(IDirectDrawPalette *, LPDIRECTDRAW, DWORD, LPPALETTEENTRY) {
    return DDERR_ALREADYINITIALIZED;
}

HRESULT WINAPI p_SetEntries(IDirectDrawPalette *This, DWORD flags, DWORD start, DWORD count,
                            LPPALETTEENTRY entries) {
    if (flags || !entries)
        return DDERR_INVALIDPARAMS;
    {
        guard held(ddlock());
        ddpalette *p = pal(This);
        if (start >= (DWORD)p->size || count > (DWORD)p->size - start)
            return DDERR_INVALIDPARAMS;
        memcpy(p->entries + start, entries, count * sizeof(PALETTEENTRY));
        keepreserved(p);
        ddsurface *primary = p->dd->primary;
        if (primary && primary->pal == p)
            presentlater(p->dd, RECT{0, 0, (LONG)primary->width, (LONG)primary->height});
    }
    flushpresent();
    return DD_OK;
}

const IDirectDrawPaletteVtbl palettevtbl = {
    .QueryInterface = p_QueryInterface,
    .AddRef = p_AddRef,
    .Release = p_Release,
    .GetCaps = p_GetCaps,
    .GetEntries = p_GetEntries,
    .Initialize = p_Initialize,
    .SetEntries = p_SetEntries,
};

HRESULT WINAPI c_QueryInterface(IDirectDrawClipper *This, REFIID riid, void **out) {
    if (!out)
        return DDERR_INVALIDPARAMS;
    *out = nullptr;
    if (riid != IID_IDirectDrawClipper && riid != IID_IUnknown)
        return E_NOINTERFACE;
    guard held(ddlock());
    clip(This)->refs++;
    *out = This;
    return DD_OK;
}

ULONG WINAPI c_AddRef(IDirectDrawClipper *This) {
    guard held(ddlock());
    return ++clip(This)->refs;
}

ULONG WINAPI c_Release(IDirectDrawClipper *This) {
    guard held(ddlock());
    ddclipper *c = clip(This);
    ULONG left = --c->refs;
    if (left == 0)
        freeclipper(c);
    return left;
}

HRESULT WINAPI c_GetClipList(IDirectDrawClipper *, LPRECT, LPRGNDATA, LPDWORD) {
    return DDERR_UNSUPPORTED;
}

HRESULT WINAPI c_GetHWnd(IDirectDrawClipper *This, HWND *out) {
    if (!out)
        return DDERR_INVALIDPARAMS;
    guard held(ddlock());
    *out = clip(This)->hwnd;
    return DD_OK;
}

HRESULT WINAPI c_Initialize(IDirectDrawClipper *, LPDIRECTDRAW, DWORD) {
    return DDERR_ALREADYINITIALIZED;
}

HRESULT WINAPI c_IsClipListChanged(IDirectDrawClipper *, BOOL *changed) {
    if (!changed)
        return DDERR_INVALIDPARAMS;
    *changed = FALSE;
    return DD_OK;
}

HRESULT WINAPI c_SetClipList(IDirectDrawClipper *, LPRGNDATA, DWORD) {
    return DDERR_UNSUPPORTED;
}

HRESULT WINAPI c_SetHWnd(IDirectDrawClipper *This, DWORD flags, HWND hwnd) {
    if (flags || (hwnd && !IsWindow(hwnd)))
        return DDERR_INVALIDPARAMS;
    guard held(ddlock());
    clip(This)->hwnd = hwnd;
    return DD_OK;
}

const IDirectDrawClipperVtbl clippervtbl = {
    .QueryInterface = c_QueryInterface,
    .AddRef = c_AddRef,
    .Release = c_Release,
    .GetClipList = c_GetClipList,
    .GetHWnd = c_GetHWnd,
    .Initialize = c_Initialize,
    .IsClipListChanged = c_IsClipListChanged,
    .SetClipList = c_SetClipList,
    .SetHWnd = c_SetHWnd,
};

} // namespace

namespace platddraw {

HRESULT createpalette(ddobject *dd, DWORD flags, const PALETTEENTRY *entries, ddpalette **out) {
    *out = nullptr;
    if (!entries)
        return DDERR_INVALIDPARAMS;
    int size = (flags & DDPCAPS_8BIT)   ? 256
               : (flags & DDPCAPS_4BIT) ? 16
               : (flags & DDPCAPS_2BIT) ? 4
               : (flags & DDPCAPS_1BIT) ? 2
                                        : 0;
    int kinds = !!(flags & DDPCAPS_8BIT) + !!(flags & DDPCAPS_4BIT) + !!(flags & DDPCAPS_2BIT) +
                !!(flags & DDPCAPS_1BIT);
    if (kinds != 1 || (flags & DDPCAPS_8BITENTRIES))
        return DDERR_INVALIDPARAMS;
    if (!dd->coopflags)
        return DDERR_NOCOOPERATIVELEVELSET;
    auto *p = new ddpalette();
    p->f = {{&palettevtbl}, p};
    p->dd = dd;
    p->caps = flags & (DDPCAPS_8BIT | DDPCAPS_4BIT | DDPCAPS_2BIT | DDPCAPS_1BIT |
                       DDPCAPS_ALLOW256 | DDPCAPS_VSYNC);
    p->size = size;
    memcpy(p->entries, entries, (size_t)size * sizeof(PALETTEENTRY));
    keepreserved(p);
    dd->palettes.push_back(p);
    live().palettes++;
    *out = p;
    return DD_OK;
}

HRESULT createclipper(ddobject *dd, DWORD flags, ddclipper **out) {
    *out = nullptr;
    if (flags)
        return DDERR_INVALIDPARAMS;
    auto *c = new ddclipper();
    c->f = {{&clippervtbl}, c};
    c->dd = dd;
    dd->clippers.push_back(c);
    live().clippers++;
    *out = c;
    return DD_OK;
}

/* Frees a palette: surfaces that still show it lose it (only when its object goes). */
void freepalette(ddpalette *p) {
    ddobject *dd = p->dd;
    for (ddsurface *s : dd->surfaces)
        if (s->pal == p)
            s->pal = nullptr;
    dd->palettes.erase(std::find(dd->palettes.begin(), dd->palettes.end(), p));
    live().palettes--;
    delete p;
}

void freeclipper(ddclipper *c) {
    ddobject *dd = c->dd;
    for (ddsurface *s : dd->surfaces)
        if (s->clip == c)
            s->clip = nullptr;
    dd->clippers.erase(std::find(dd->clippers.begin(), dd->clippers.end(), c));
    live().clippers--;
    delete c;
}

void palettetoref(ddpalette *p) {
    p->refs++;
}

void releasepaletteref(ddpalette *p) {
    if (p && --p->refs == 0)
        freepalette(p);
}

void releaseclipperref(ddclipper *c) {
    if (c && --c->refs == 0)
        freeclipper(c);
}

} // namespace platddraw
