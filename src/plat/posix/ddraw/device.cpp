/*
 * device.cpp - the software DirectDraw object: creation, drivers, capabilities,
 * cooperative level, display modes, the vertical blank and the object's lifetime.
 *
 * The display modes are the driver profile's (profile.cpp). A mode set by one object is
 * the screen's until that object restores it, leaves exclusive mode or is released; the
 * desktop is the backend's screen size with the profile's bit count. Setting a mode loses
 * the primary and every video-memory surface, as a real mode switch does.
 * The vertical blank is simulated from the clock: a frame of the mode's refresh rate
 * (60 Hz without one) has the mode's lines plus a blank of a twentieth of them.
 * Threads: any; every method runs under ddlock (device.h), waits for the vertical blank
 * outside it.
 */
#include "device.h"
#include "plat/ddrawtest.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace platddraw {

std::mutex &ddlock() {
    static std::mutex *m = new std::mutex();
    return *m;
}

std::vector<ddobject *> &objects() {
    static std::vector<ddobject *> *all = new std::vector<ddobject *>();
    return *all;
}

bool isliveobject(const ddobject *dd) {
    const auto &all = objects();
    return std::find(all.begin(), all.end(), dd) != all.end();
}

livecounts &live() {
    static livecounts counts{};
    return counts;
}

pixelformat desktopformat(const profile &p) {
    pixelformat f;
    f.bpp = p.desktopbpp;
    if (f.bpp == 16) {
        f.rmask = 0xF800, f.gmask = 0x07E0, f.bmask = 0x001F;
    } else if (f.bpp > 16) {
        f.rmask = 0xFF0000, f.gmask = 0x00FF00, f.bmask = 0x0000FF;
    }
    return f;
}

pixelformat modeformat(const profilemode &m) {
    pixelformat f;
    f.bpp = m.bpp;
    f.rmask = m.rmask, f.gmask = m.gmask, f.bmask = m.bmask;
    return f;
}

bool fullscreen(const ddobject *dd) {
    return (dd->coopflags & DDSCL_FULLSCREEN) != 0;
}

void screensize(const ddobject *dd, DWORD *w, DWORD *h, pixelformat *fmt) {
    if (dd->modeset) {
        *w = dd->modew, *h = dd->modeh, *fmt = dd->modefmt;
        return;
    }
    *w = (DWORD)GetSystemMetrics(SM_CXSCREEN);
    *h = (DWORD)GetSystemMetrics(SM_CYSCREEN);
    *fmt = desktopformat(dd->prof);
}

DWORD pitchfor(const ddobject *dd, DWORD width, DWORD bpp) {
    DWORD align = dd->prof.pitchalign ? dd->prof.pitchalign : 1;
    DWORD bytes = width * ((bpp + 7) / 8);
    return (bytes + align - 1) / align * align;
}

void fillpixelformat(const pixelformat &f, DDPIXELFORMAT *out) {
    *out = DDPIXELFORMAT{};
    out->dwSize = sizeof(DDPIXELFORMAT);
    out->dwFlags = DDPF_RGB | (f.bpp == 8 ? DDPF_PALETTEINDEXED8 : 0);
    out->dwRGBBitCount = f.bpp;
    out->dwRBitMask = f.rmask;
    out->dwGBitMask = f.gmask;
    out->dwBBitMask = f.bmask;
}

DWORD depthof(const pixelformat &f) {
    if (f.bpp != 16)
        return f.bpp;
    return (DWORD)(__builtin_popcount(f.rmask) + __builtin_popcount(f.gmask) +
                   __builtin_popcount(f.bmask));
}

} // namespace platddraw

using namespace platddraw;

namespace {

/* The process's exclusive owner: one object at a time may hold exclusive mode. */
ddobject *exclusiveowner = nullptr; /* ddlock */

template <class I>
ddobject *obj(I *p) {
    return reinterpret_cast<face<I, ddobject> *>(p)->self;
}

/* The emulation's capabilities: everything the software blitter does. */
void fillhelcaps(DDCAPS *c) {
    c->dwCaps = DDCAPS_BLT | DDCAPS_BLTCOLORFILL | DDCAPS_BLTSTRETCH | DDCAPS_COLORKEY |
                DDCAPS_CANBLTSYSMEM | DDCAPS_PALETTE | DDCAPS_CANCLIP | DDCAPS_CANCLIPSTRETCHED;
    c->dwCKeyCaps = DDCKEYCAPS_SRCBLT;
    c->dwFXCaps = DDFXCAPS_BLTMIRRORLEFTRIGHT | DDFXCAPS_BLTMIRRORUPDOWN | DDFXCAPS_BLTROTATION90 |
                  DDFXCAPS_BLTSHRINKX | DDFXCAPS_BLTSHRINKY | DDFXCAPS_BLTSTRETCHX |
                  DDFXCAPS_BLTSTRETCHY;
    c->dwPalCaps = DDPCAPS_8BIT | DDPCAPS_PRIMARYSURFACE | DDPCAPS_ALLOW256;
    c->ddsCaps.dwCaps = DDSCAPS_BACKBUFFER | DDSCAPS_COMPLEX | DDSCAPS_FLIP | DDSCAPS_FRONTBUFFER |
                        DDSCAPS_OFFSCREENPLAIN | DDSCAPS_PALETTE | DDSCAPS_PRIMARYSURFACE |
                        DDSCAPS_SYSTEMMEMORY | DDSCAPS_VISIBLE | DDSCAPS_MODEX | DDSCAPS_3DDEVICE;
}

void fillhalcaps(const ddobject *dd, DDCAPS *c) {
    if (dd->emulation) {
        c->dwCaps = DDCAPS_NOHARDWARE;
        return;
    }
    const profile &p = dd->prof;
    c->dwCaps = p.caps;
    c->dwCKeyCaps = p.ckeycaps;
    c->dwFXCaps = p.fxcaps;
    c->dwPalCaps = p.palcaps;
    c->ddsCaps.dwCaps = p.surfacecaps;
    c->dwVidMemTotal = p.vidmem;
    c->dwVidMemFree = dd->vidfree;
}

/* Whether a caps block's size is one DirectDraw knows (versions 3, 5 and 6). */
bool capssize(DWORD size) {
    return size == 316 || size == sizeof(DDCAPS) || size == 380;
}

void freeobject(ddobject *dd) {
    while (!dd->surfaces.empty())
        freesurface(dd->surfaces.back()->chain ? dd->surfaces.back()->chain : dd->surfaces.back());
    while (!dd->palettes.empty())
        freepalette(dd->palettes.back());
    while (!dd->clippers.empty())
        freeclipper(dd->clippers.back());
    if (exclusiveowner == dd)
        exclusiveowner = nullptr;
    auto &all = objects();
    all.erase(std::find(all.begin(), all.end(), dd));
    live().objects--;
    delete dd;
}

/* ---- the methods of both interfaces ------------------------------------------------ */

template <class I>
HRESULT WINAPI dd_QueryInterface(I *This, REFIID riid, void **out) {
    if (!out)
        return DDERR_INVALIDPARAMS;
    guard held(ddlock());
    ddobject *dd = obj(This);
    *out = nullptr;
    if (riid == IID_IDirectDraw2) {
        if (faults().failcreate & PLAT_DDCREATE_DDRAW2)
            return E_NOINTERFACE;
        *out = &dd->f2.com;
    } else if (riid == IID_IDirectDraw || riid == IID_IUnknown) {
        *out = &dd->f1.com;
    } else {
        return E_NOINTERFACE;
    }
    dd->refs++;
    return DD_OK;
}

template <class I>
ULONG WINAPI dd_AddRef(I *This) {
    guard held(ddlock());
    return ++obj(This)->refs;
}

template <class I>
ULONG WINAPI dd_Release(I *This) {
    guard held(ddlock());
    ddobject *dd = obj(This);
    ULONG left = --dd->refs;
    if (left == 0)
        freeobject(dd);
    return left;
}

template <class I, class... A>
HRESULT WINAPI dd_unsupported(I *, A...) {
    return DDERR_UNSUPPORTED;
}

template <class I>
HRESULT WINAPI dd_Compact(I *) {
    return DD_OK;
}

template <class I>
HRESULT WINAPI dd_CreateClipper(I *This, DWORD flags, LPDIRECTDRAWCLIPPER *out, IUnknown *outer) {
    if (!out || outer)
        return DDERR_INVALIDPARAMS;
    guard held(ddlock());
    ddclipper *c = nullptr;
    HRESULT r = createclipper(obj(This), flags, &c);
    *out = c ? &c->f.com : nullptr;
    return r;
}

template <class I>
HRESULT WINAPI dd_CreatePalette(I *This, DWORD flags, LPPALETTEENTRY entries,
                                LPDIRECTDRAWPALETTE *out, IUnknown *outer) {
    if (!out || outer)
        return DDERR_INVALIDPARAMS;
    guard held(ddlock());
    ddpalette *p = nullptr;
    HRESULT r = createpalette(obj(This), flags, entries, &p);
    *out = p ? &p->f.com : nullptr;
    return r;
}

template <class I>
HRESULT WINAPI dd_CreateSurface(I *This, LPDDSURFACEDESC desc, LPDIRECTDRAWSURFACE *out,
                                IUnknown *outer) {
    if (!out || outer || !desc || desc->dwSize != sizeof(DDSURFACEDESC))
        return DDERR_INVALIDPARAMS;
    guard held(ddlock());
    ddsurface *s = nullptr;
    HRESULT r = createsurface(obj(This), desc, &s);
    *out = s ? &s->f1.com : nullptr;
    return r;
}

/* Whether a mode of the profile matches a template description. */
bool matches(const profilemode &m, DWORD refresh, const DDSURFACEDESC *t) {
    if (!t)
        return true;
    if ((t->dwFlags & DDSD_WIDTH) && t->dwWidth != m.width)
        return false;
    if ((t->dwFlags & DDSD_HEIGHT) && t->dwHeight != m.height)
        return false;
    if ((t->dwFlags & DDSD_PIXELFORMAT) && t->ddpfPixelFormat.dwRGBBitCount != m.bpp)
        return false;
    if ((t->dwFlags & DDSD_REFRESHRATE) && t->dwRefreshRate != refresh)
        return false;
    return true;
}

void describemode(const ddobject *dd, const profilemode &m, DWORD refresh, DDSURFACEDESC *d) {
    *d = DDSURFACEDESC{};
    d->dwSize = sizeof(DDSURFACEDESC);
    d->dwFlags = DDSD_WIDTH | DDSD_HEIGHT | DDSD_PITCH | DDSD_PIXELFORMAT | DDSD_REFRESHRATE;
    d->dwWidth = m.width;
    d->dwHeight = m.height;
    d->lPitch = (LONG)pitchfor(dd, m.width, m.bpp);
    d->dwRefreshRate = refresh;
    fillpixelformat(modeformat(m), &d->ddpfPixelFormat);
    if (m.modex) {
        d->dwFlags |= DDSD_CAPS;
        d->ddsCaps.dwCaps = DDSCAPS_MODEX;
    }
    if (m.backbuffers) {
        d->dwFlags |= DDSD_BACKBUFFERCOUNT;
        d->dwBackBufferCount = m.backbuffers;
    }
}

/* The callback runs without ddlock (it may call the device), over a copy of the list. */
template <class I>
HRESULT WINAPI dd_EnumDisplayModes(I *This, DWORD flags, LPDDSURFACEDESC templ, LPVOID context,
                                   LPDDENUMMODESCALLBACK callback) {
    if (!callback)
        return DDERR_INVALIDPARAMS;
    std::vector<DDSURFACEDESC> list;
    {
        guard held(ddlock());
        ddobject *dd = obj(This);
        for (const profilemode &m : dd->prof.modes) {
            /* ModeX modes exist only for a program that allowed them. */
            if (m.modex && !(dd->coopflags & DDSCL_ALLOWMODEX))
                continue;
            std::vector<DWORD> rates{0};
            if ((flags & DDEDM_REFRESHRATES) && !m.refresh.empty())
                rates = m.refresh;
            for (DWORD rate : rates) {
                if (!matches(m, rate, templ))
                    continue;
                list.emplace_back();
                describemode(dd, m, rate, &list.back());
            }
        }
    }
    for (DDSURFACEDESC &d : list)
        if (callback(&d, context) == DDENUMRET_CANCEL)
            break;
    return DD_OK;
}

template <class I>
HRESULT WINAPI dd_FlipToGDISurface(I *This) {
    {
        guard held(ddlock());
        ddobject *dd = obj(This);
        ddsurface *front = dd->primary;
        if (!front || !front->next)
            return DD_OK;
        /* Flip until the front shows the memory it was created with, the one the
         * desktop draws to. */
        for (ddsurface *s = front->next; s && front->memid != 0; s = s->next)
            rotatechain(front);
        presentlater(dd, RECT{0, 0, (LONG)front->width, (LONG)front->height});
    }
    flushpresent();
    return DD_OK;
}

template <class I>
HRESULT WINAPI dd_GetCaps(I *This, LPDDCAPS hal, LPDDCAPS hel) {
    if (!hal && !hel)
        return DDERR_INVALIDPARAMS;
    if ((hal && !capssize(hal->dwSize)) || (hel && !capssize(hel->dwSize)))
        return DDERR_INVALIDPARAMS;
    guard held(ddlock());
    ddobject *dd = obj(This);
    DDCAPS c;
    if (hal) {
        c = DDCAPS{};
        fillhalcaps(dd, &c);
        c.dwSize = hal->dwSize;
        memcpy(hal, &c, std::min<size_t>(hal->dwSize, sizeof c));
    }
    if (hel) {
        c = DDCAPS{};
        fillhelcaps(&c);
        c.dwSize = hel->dwSize;
        memcpy(hel, &c, std::min<size_t>(hel->dwSize, sizeof c));
    }
    return DD_OK;
}

template <class I>
HRESULT WINAPI dd_GetDisplayMode(I *This, LPDDSURFACEDESC d) {
    if (!d || d->dwSize != sizeof(DDSURFACEDESC))
        return DDERR_INVALIDPARAMS;
    guard held(ddlock());
    ddobject *dd = obj(This);
    DWORD w, h;
    pixelformat fmt;
    screensize(dd, &w, &h, &fmt);
    *d = DDSURFACEDESC{};
    d->dwSize = sizeof(DDSURFACEDESC);
    d->dwFlags = DDSD_WIDTH | DDSD_HEIGHT | DDSD_PITCH | DDSD_PIXELFORMAT | DDSD_REFRESHRATE;
    d->dwWidth = w;
    d->dwHeight = h;
    d->lPitch = (LONG)pitchfor(dd, w, fmt.bpp);
    d->dwRefreshRate = dd->modeset ? dd->moderefresh : 0;
    fillpixelformat(fmt, &d->ddpfPixelFormat);
    if (dd->modeset && dd->modex) {
        d->dwFlags |= DDSD_CAPS;
        d->ddsCaps.dwCaps = DDSCAPS_MODEX;
    }
    return DD_OK;
}

template <class I>
HRESULT WINAPI dd_GetFourCCCodes(I *, LPDWORD count, LPDWORD) {
    if (!count)
        return DDERR_INVALIDPARAMS;
    *count = 0;
    return DD_OK;
}

template <class I>
HRESULT WINAPI dd_GetMonitorFrequency(I *This, LPDWORD out) {
    if (!out)
        return DDERR_INVALIDPARAMS;
    guard held(ddlock());
    ddobject *dd = obj(This);
    *out = dd->modeset && dd->moderefresh ? dd->moderefresh : 60;
    return DD_OK;
}

/* ---- the simulated beam ----------------------------------------------------------- */

struct beam {
    int64_t periodns; /* one frame */
    DWORD lines;      /* visible lines */
    DWORD total;      /* with the blank */
};

beam beamof(const ddobject *dd) {
    DWORD w, h;
    pixelformat fmt;
    screensize(dd, &w, &h, &fmt);
    DWORD rate = dd->modeset && dd->moderefresh ? dd->moderefresh : 60;
    DWORD lines = h ? h : 480;
    return beam{1000000000LL / rate, lines, lines + std::max<DWORD>(lines / 20, 1)};
}

int64_t nowns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

DWORD lineat(const beam &b, int64_t t) {
    return (DWORD)((t % b.periodns) * b.total / b.periodns);
}

template <class I>
HRESULT WINAPI dd_GetScanLine(I *This, LPDWORD out) {
    if (!out)
        return DDERR_INVALIDPARAMS;
    guard held(ddlock());
    ddobject *dd = obj(This);
    if (!dd->emulation && !(dd->prof.caps & DDCAPS_READSCANLINE))
        return DDERR_UNSUPPORTED;
    beam b = beamof(dd);
    DWORD line = lineat(b, nowns());
    *out = line;
    return line >= b.lines ? DDERR_VERTICALBLANKINPROGRESS : DD_OK;
}

template <class I>
HRESULT WINAPI dd_GetVerticalBlankStatus(I *This, BOOL *out) {
    if (!out)
        return DDERR_INVALIDPARAMS;
    guard held(ddlock());
    beam b = beamof(obj(This));
    *out = lineat(b, nowns()) >= b.lines ? TRUE : FALSE;
    return DD_OK;
}

template <class I>
HRESULT WINAPI dd_WaitForVerticalBlank(I *This, DWORD flags, HANDLE) {
    if (flags != DDWAITVB_BLOCKBEGIN && flags != DDWAITVB_BLOCKEND)
        return flags == DDWAITVB_BLOCKBEGINEVENT ? DDERR_UNSUPPORTED : DDERR_INVALIDPARAMS;
    beam b;
    {
        guard held(ddlock());
        b = beamof(obj(This));
    }
    int64_t t = nowns();
    int64_t start = t - t % b.periodns;
    /* The blank begins after the visible lines and ends with the frame. */
    int64_t at =
        start + (flags == DDWAITVB_BLOCKBEGIN ? b.periodns * b.lines / b.total : b.periodns);
    if (at <= t)
        at += b.periodns;
    std::this_thread::sleep_for(std::chrono::nanoseconds(at - t));
    return DD_OK;
}

template <class I>
HRESULT WINAPI dd_Initialize(I *, GUID *) {
    return DDERR_ALREADYINITIALIZED;
}

void restoremode(ddobject *dd) {
    if (!dd->modeset)
        return;
    dd->modeset = false;
    dd->modex = false;
    dd->modegen++;
    loseall(dd, true);
}

template <class I>
HRESULT WINAPI dd_RestoreDisplayMode(I *This) {
    guard held(ddlock());
    restoremode(obj(This));
    return DD_OK;
}

template <class I>
HRESULT WINAPI dd_SetCooperativeLevel(I *This, HWND hwnd, DWORD flags) {
    guard held(ddlock());
    ddobject *dd = obj(This);
    bool exclusive = flags & DDSCL_EXCLUSIVE;
    if (exclusive != ((flags & DDSCL_FULLSCREEN) != 0))
        return DDERR_INVALIDPARAMS;
    if (exclusive == ((flags & DDSCL_NORMAL) != 0))
        return DDERR_INVALIDPARAMS;
    if ((exclusive && !hwnd) || (hwnd && !IsWindow(hwnd)))
        return DDERR_INVALIDPARAMS;
    if (exclusive && exclusiveowner && exclusiveowner != dd)
        return DDERR_EXCLUSIVEMODEALREADYSET;
    if (!exclusive) {
        if (exclusiveowner == dd)
            exclusiveowner = nullptr;
        restoremode(dd);
    } else {
        exclusiveowner = dd;
    }
    dd->hwnd = hwnd;
    dd->coopflags = flags;
    return DD_OK;
}

bool refused(DWORD w, DWORD h, DWORD bpp) {
    for (const modekey &k : faults().refused)
        if ((!k.width || k.width == w) && (!k.height || k.height == h) && (!k.bpp || k.bpp == bpp))
            return true;
    return false;
}

HRESULT setmode(ddobject *dd, DWORD w, DWORD h, DWORD bpp, DWORD refresh) {
    if (!dd->coopflags)
        return DDERR_NOCOOPERATIVELEVELSET;
    if (!(dd->coopflags & DDSCL_EXCLUSIVE))
        return DDERR_NOEXCLUSIVEMODE;
    if (faults().needactive && GetActiveWindow() == nullptr)
        return DDERR_NOEXCLUSIVEMODE;
    if (refused(w, h, bpp))
        return DDERR_INVALIDMODE;
    const profilemode *found = nullptr;
    for (const profilemode &m : dd->prof.modes) {
        if (m.width != w || m.height != h || m.bpp != bpp)
            continue;
        if (m.modex && !(dd->coopflags & DDSCL_ALLOWMODEX))
            continue;
        if (refresh && std::find(m.refresh.begin(), m.refresh.end(), refresh) == m.refresh.end())
            continue;
        found = &m;
        break;
    }
    if (!found)
        return DDERR_INVALIDMODE;
    DWORD setw = w, seth = h;
    for (const moderemap &r : dd->prof.remaps)
        if (r.width == w && r.height == h)
            setw = r.tow, seth = r.toh;
    dd->modeset = true;
    dd->modew = setw;
    dd->modeh = seth;
    dd->moderefresh = refresh ? refresh : (found->refresh.empty() ? 0 : found->refresh[0]);
    dd->modefmt = modeformat(*found);
    dd->modex = found->modex;
    dd->modegen++;
    loseall(dd, true);
    return DD_OK;
}

HRESULT WINAPI dd1_SetDisplayMode(IDirectDraw *This, DWORD w, DWORD h, DWORD bpp) {
    guard held(ddlock());
    return setmode(obj(This), w, h, bpp, 0);
}

HRESULT WINAPI dd2_SetDisplayMode(IDirectDraw2 *This, DWORD w, DWORD h, DWORD bpp, DWORD refresh,
                                  DWORD flags) {
    if (flags & ~(DWORD)0x1) /* only DDSDM_STANDARDVGAMODE exists */
        return DDERR_INVALIDPARAMS;
    guard held(ddlock());
    return setmode(obj(This), w, h, bpp, refresh);
}

HRESULT WINAPI dd2_GetAvailableVidMem(IDirectDraw2 *This, LPDDSCAPS caps, LPDWORD total,
                                      LPDWORD freemem) {
    if (!caps)
        return DDERR_INVALIDPARAMS;
    guard held(ddlock());
    ddobject *dd = obj(This);
    bool hw = !dd->emulation && dd->prof.hardware;
    if (total)
        *total = hw ? dd->prof.vidmem : 0;
    if (freemem)
        *freemem = hw ? dd->vidfree : 0;
    return DD_OK;
}

#define DD_COMMON_METHODS(I)                                                                       \
    .QueryInterface = dd_QueryInterface<I>, .AddRef = dd_AddRef<I>, .Release = dd_Release<I>,      \
    .Compact = dd_Compact<I>, .CreateClipper = dd_CreateClipper<I>,                                \
    .CreatePalette = dd_CreatePalette<I>, .CreateSurface = dd_CreateSurface<I>,                    \
    .DuplicateSurface = dd_unsupported, .EnumDisplayModes = dd_EnumDisplayModes<I>,                \
    .EnumSurfaces = dd_unsupported, .FlipToGDISurface = dd_FlipToGDISurface<I>,                    \
    .GetCaps = dd_GetCaps<I>, .GetDisplayMode = dd_GetDisplayMode<I>,                              \
    .GetFourCCCodes = dd_GetFourCCCodes<I>, .GetGDISurface = dd_unsupported,                       \
    .GetMonitorFrequency = dd_GetMonitorFrequency<I>, .GetScanLine = dd_GetScanLine<I>,            \
    .GetVerticalBlankStatus = dd_GetVerticalBlankStatus<I>, .Initialize = dd_Initialize<I>,        \
    .RestoreDisplayMode = dd_RestoreDisplayMode<I>,                                                \
    .SetCooperativeLevel = dd_SetCooperativeLevel<I>

const IDirectDrawVtbl dd1vtbl = {
    DD_COMMON_METHODS(IDirectDraw),
    .SetDisplayMode = dd1_SetDisplayMode,
    .WaitForVerticalBlank = dd_WaitForVerticalBlank<IDirectDraw>,
};

const IDirectDraw2Vtbl dd2vtbl = {
    DD_COMMON_METHODS(IDirectDraw2),
    .SetDisplayMode = dd2_SetDisplayMode,
    .WaitForVerticalBlank = dd_WaitForVerticalBlank<IDirectDraw2>,
    .GetAvailableVidMem = dd2_GetAvailableVidMem,
};

/* The primary display driver's identity, reported with a null identifier. */
char primarydesc[] = "Primary Display Driver";
char primaryname[] = "display";

} // namespace

/* Creates an object for the default driver (null), the profile's hardware driver (its
 * identifier) or the emulation. A profile without hardware has neither hardware driver. */
HRESULT WINAPI DirectDrawCreate(GUID *lpGUID, LPDIRECTDRAW *lplpDD, IUnknown *pUnkOuter) {
    if (!lplpDD || pUnkOuter)
        return DDERR_INVALIDPARAMS;
    *lplpDD = nullptr;
    guard held(ddlock());
    const profile &p = currentprofile();
    uintptr_t id = (uintptr_t)lpGUID;
    bool emulation = id == (uintptr_t)DDCREATE_EMULATIONONLY;
    if (emulation) {
        if (faults().failcreate & PLAT_DDCREATE_EMULATION)
            return DDERR_GENERIC;
    } else if (id == 0 || id == (uintptr_t)DDCREATE_HARDWAREONLY) {
        if (!p.hardware)
            return DDERR_NODIRECTDRAWHW;
        if (faults().failcreate & PLAT_DDCREATE_DEFAULT)
            return DDERR_GENERIC;
    } else {
        if (!p.hardware || *lpGUID != p.driverguid)
            return DDERR_INVALIDDIRECTDRAWGUID;
        if (faults().failcreate & PLAT_DDCREATE_DRIVER)
            return DDERR_GENERIC;
    }
    auto *dd = new ddobject();
    dd->f1 = {{&dd1vtbl}, dd};
    dd->f2 = {{&dd2vtbl}, dd};
    dd->prof = p;
    dd->emulation = emulation;
    dd->vidfree = emulation ? 0 : p.vidmem;
    objects().push_back(dd);
    live().objects++;
    *lplpDD = &dd->f1.com;
    return DD_OK;
}

HRESULT WINAPI DirectDrawEnumerateA(LPDDENUMCALLBACKA lpCallback, LPVOID lpContext) {
    if (!lpCallback)
        return DDERR_INVALIDPARAMS;
    profile p;
    {
        guard held(ddlock());
        p = currentprofile();
    }
    if (!lpCallback(nullptr, primarydesc, primaryname, lpContext) || !p.hardware ||
        p.drivername.empty())
        return DD_OK;
    GUID id = p.driverguid;
    lpCallback(&id, p.driverdesc.data(), p.drivername.data(), lpContext);
    return DD_OK;
}
