/*
 * surface.cpp - surfaces of the software DirectDraw: creation and placement, flip chains,
 * lock, loss and restore, palettes, clippers and colour keys attached to them.
 *
 * A surface is plain memory with a pitch. Video memory is an account: a surface placed
 * there takes pitch x height bytes of the profile's video memory until it is freed, and
 * a request that does not fit fails (or, when it did not insist on video memory, lands in
 * system memory). The primary is the screen: the mode's size in full screen, the
 * desktop's otherwise; changing the mode loses it together with every video-memory
 * surface, and such a surface restores only in the mode it was made in.
 * A lock is exclusive: a second Lock of a locked surface answers DDERR_SURFACEBUSY, and so
 * do Flip and Blt on it. Unlock, Flip and palette changes of the primary present it.
 * Threads: any; every method runs under ddlock and presents after leaving it.
 */
#include "device.h"
#include "plat/ddrawtest.h"

#include <algorithm>
#include <cstring>

using namespace platddraw;

namespace {

constexpr DWORD unsupportedcaps = DDSCAPS_ALPHA | DDSCAPS_OVERLAY | DDSCAPS_TEXTURE |
                                  DDSCAPS_ZBUFFER | DDSCAPS_MIPMAP | DDSCAPS_VIDEOPORT |
                                  DDSCAPS_LIVEVIDEO | DDSCAPS_HWCODEC | DDSCAPS_OWNDC;
constexpr DWORD maxbackbuffers = 8;
constexpr DWORD maxside = 16384;

template <class I>
ddsurface *sur(I *p) {
    return p ? reinterpret_cast<face<I, ddsurface> *>(p)->self : nullptr;
}

/* The interface of s of the same kind as I. */
inline IDirectDrawSurface *faceof(ddsurface *s, IDirectDrawSurface *) {
    return &s->f1.com;
}
inline IDirectDrawSurface2 *faceof(ddsurface *s, IDirectDrawSurface2 *) {
    return &s->f2.com;
}

ddsurface *frontof(ddsurface *s) {
    return s->chain ? s->chain : s;
}

bool isprimary(const ddsurface *s) {
    return s->dd->primary == s;
}

/* Whether s belongs to the screen: the primary or a buffer of its chain. */
bool isscreen(const ddsurface *s) {
    return s->dd->primary && s->chain == s->dd->primary;
}

RECT whole(const ddsurface *s) {
    return RECT{0, 0, (LONG)s->width, (LONG)s->height};
}

/* Reads a requested pixel format; false when the device has no such format. */
bool readformat(const DDPIXELFORMAT &pf, pixelformat *out) {
    if (!(pf.dwFlags & DDPF_RGB) || (pf.dwFlags & (DDPF_FOURCC | DDPF_ALPHAPIXELS)))
        return false;
    pixelformat f;
    f.bpp = pf.dwRGBBitCount;
    switch (f.bpp) {
    case 8:
        if (!(pf.dwFlags & DDPF_PALETTEINDEXED8))
            return false;
        break;
    case 16:
        f.rmask = pf.dwRBitMask ? pf.dwRBitMask : 0xF800;
        f.gmask = pf.dwGBitMask ? pf.dwGBitMask : 0x07E0;
        f.bmask = pf.dwBBitMask ? pf.dwBBitMask : 0x001F;
        break;
    case 24:
    case 32:
        f.rmask = pf.dwRBitMask ? pf.dwRBitMask : 0xFF0000;
        f.gmask = pf.dwGBitMask ? pf.dwGBitMask : 0x00FF00;
        f.bmask = pf.dwBBitMask ? pf.dwBBitMask : 0x0000FF;
        break;
    default:
        return false;
    }
    *out = f;
    return true;
}

/* The error a failing kind of surface answers with. */
HRESULT failurefor(DWORD kinds) {
    if (kinds & PLAT_DDKIND_FLIPCHAIN)
        return DDERR_NOFLIPHW;
    if (kinds & PLAT_DDKIND_VIDEOMEMORY)
        return DDERR_OUTOFVIDEOMEMORY;
    return DDERR_GENERIC;
}

/* ---- methods of both surface interfaces -------------------------------------------- */

template <class I>
HRESULT WINAPI s_QueryInterface(I *This, REFIID riid, void **out) {
    if (!out)
        return DDERR_INVALIDPARAMS;
    guard held(ddlock());
    ddsurface *s = sur(This);
    *out = nullptr;
    if (riid == IID_IDirectDrawSurface2)
        *out = &s->f2.com;
    else if (riid == IID_IDirectDrawSurface || riid == IID_IUnknown)
        *out = &s->f1.com;
    else
        return E_NOINTERFACE;
    s->refs++;
    return DD_OK;
}

template <class I>
ULONG WINAPI s_AddRef(I *This) {
    guard held(ddlock());
    return ++sur(This)->refs;
}

/* A back buffer only gives back the references GetAttachedSurface handed out; the
 * chain goes when its front does. */
template <class I>
ULONG WINAPI s_Release(I *This) {
    guard held(ddlock());
    ddsurface *s = sur(This);
    if (s->refs == 0)
        return 0;
    ULONG left = --s->refs;
    if (left == 0 && s->chainindex == 0)
        freesurface(s);
    return left;
}

template <class I, class... A>
HRESULT WINAPI s_unsupported(I *, A...) {
    return DDERR_UNSUPPORTED;
}

template <class I>
HRESULT WINAPI s_Blt(I *This, LPRECT dstrect, I *src, LPRECT srcrect, DWORD flags, LPDDBLTFX fx) {
    HRESULT r;
    {
        guard held(ddlock());
        r = blt(sur(This), dstrect, sur(src), srcrect, flags, fx);
    }
    flushpresent();
    return r;
}

constexpr DWORD bltfastsrckey = 0x1, bltfastdestkey = 0x2;

template <class I>
HRESULT WINAPI s_BltFast(I *This, DWORD x, DWORD y, I *src, LPRECT srcrect, DWORD trans) {
    if (!src || (trans & bltfastdestkey))
        return src ? DDERR_UNSUPPORTED : DDERR_INVALIDPARAMS;
    HRESULT r;
    {
        guard held(ddlock());
        ddsurface *from = sur(src);
        RECT sr = srcrect ? *srcrect : whole(from);
        RECT dr{(LONG)x, (LONG)y, (LONG)x + (sr.right - sr.left), (LONG)y + (sr.bottom - sr.top)};
        r = blt(sur(This), &dr, from, &sr, (trans & bltfastsrckey) ? DDBLT_KEYSRC : 0, nullptr);
    }
    flushpresent();
    return r;
}

template <class I>
HRESULT WINAPI s_Flip(I *This, I *target, DWORD flags) {
    (void)flags; /* the software flip is done at once: nothing to wait for */
    {
        guard held(ddlock());
        ddsurface *s = sur(This);
        if (s->chainindex != 0 || !s->next)
            return DDERR_NOTFLIPPABLE;
        ddsurface *other = sur(target);
        bool inchain = other == nullptr;
        for (ddsurface *c = s; c; c = c->next) {
            if (c->lost)
                return DDERR_SURFACELOST;
            if (c->locked)
                return DDERR_SURFACEBUSY;
            inchain = inchain || (c == other && c != s);
        }
        if (!inchain)
            return DDERR_INVALIDPARAMS;
        if (other) {
            std::swap(s->mem, other->mem);
            std::swap(s->memid, other->memid);
        } else {
            rotatechain(s);
        }
        if (isprimary(s))
            presentlater(s->dd, whole(s));
    }
    flushpresent();
    return DD_OK;
}

/* What is attached to s: the next buffer of its chain; the last back buffer has the
 * front attached, so the chain reads as a ring. */
template <class I>
HRESULT WINAPI s_GetAttachedSurface(I *This, LPDDSCAPS caps, I **out) {
    if (!caps || !out)
        return DDERR_INVALIDPARAMS;
    guard held(ddlock());
    ddsurface *s = sur(This);
    *out = nullptr;
    ddsurface *attached = s->next ? s->next : (s->chain && s->chain != s ? s->chain : nullptr);
    if (!attached || (attached->caps & caps->dwCaps) != caps->dwCaps)
        return DDERR_NOTFOUND;
    attached->refs++;
    *out = faceof(attached, (I *)nullptr);
    return DD_OK;
}

/* The fault that keeps the hardware busy answers the status queries first. */
HRESULT busystatus() {
    if (faults().stilldrawing > 0) {
        faults().stilldrawing--;
        return DDERR_WASSTILLDRAWING;
    }
    return DD_OK;
}

template <class I>
HRESULT WINAPI s_GetBltStatus(I *This, DWORD flags) {
    if (flags != DDGBS_CANBLT && flags != DDGBS_ISBLTDONE)
        return DDERR_INVALIDPARAMS;
    guard held(ddlock());
    if (sur(This)->lost)
        return DDERR_SURFACELOST;
    return busystatus();
}

template <class I>
HRESULT WINAPI s_GetFlipStatus(I *This, DWORD flags) {
    if (flags != DDGFS_CANFLIP && flags != DDGFS_ISFLIPDONE)
        return DDERR_INVALIDPARAMS;
    guard held(ddlock());
    ddsurface *s = sur(This);
    if (!s->chain)
        return DDERR_NOTFLIPPABLE;
    if (s->lost)
        return DDERR_SURFACELOST;
    return busystatus();
}

template <class I>
HRESULT WINAPI s_GetCaps(I *This, LPDDSCAPS caps) {
    if (!caps)
        return DDERR_INVALIDPARAMS;
    guard held(ddlock());
    caps->dwCaps = sur(This)->caps;
    return DD_OK;
}

template <class I>
HRESULT WINAPI s_GetClipper(I *This, LPDIRECTDRAWCLIPPER *out) {
    if (!out)
        return DDERR_INVALIDPARAMS;
    guard held(ddlock());
    ddsurface *s = sur(This);
    *out = nullptr;
    if (!s->clip)
        return DDERR_NOCLIPPERATTACHED;
    s->clip->refs++;
    *out = &s->clip->f.com;
    return DD_OK;
}

template <class I>
HRESULT WINAPI s_GetColorKey(I *This, DWORD flags, LPDDCOLORKEY key) {
    if (!key)
        return DDERR_INVALIDPARAMS;
    guard held(ddlock());
    ddsurface *s = sur(This);
    if (flags == DDCKEY_SRCBLT && s->hassrckey)
        *key = s->srckey;
    else if (flags == DDCKEY_DESTBLT && s->hasdestkey)
        *key = s->destkey;
    else
        return flags == DDCKEY_SRCBLT || flags == DDCKEY_DESTBLT ? DDERR_NOCOLORKEY
                                                                 : DDERR_INVALIDPARAMS;
    return DD_OK;
}

template <class I>
HRESULT WINAPI s_GetPalette(I *This, LPDIRECTDRAWPALETTE *out) {
    if (!out)
        return DDERR_INVALIDPARAMS;
    guard held(ddlock());
    ddsurface *s = sur(This);
    *out = nullptr;
    if (!s->pal)
        return DDERR_NOPALETTEATTACHED;
    s->pal->refs++;
    *out = &s->pal->f.com;
    return DD_OK;
}

/* Fills the whole format, size included, whatever the caller put there. */
template <class I>
HRESULT WINAPI s_GetPixelFormat(I *This, LPDDPIXELFORMAT out) {
    if (!out)
        return DDERR_INVALIDPARAMS;
    guard held(ddlock());
    fillpixelformat(sur(This)->fmt, out);
    return DD_OK;
}

template <class I>
HRESULT WINAPI s_GetSurfaceDesc(I *This, LPDDSURFACEDESC d) {
    if (!d || d->dwSize != sizeof(DDSURFACEDESC))
        return DDERR_INVALIDPARAMS;
    guard held(ddlock());
    describesurface(sur(This), d);
    return DD_OK;
}

template <class I>
HRESULT WINAPI s_Initialize(I *, LPDIRECTDRAW, LPDDSURFACEDESC) {
    return DDERR_ALREADYINITIALIZED;
}

template <class I>
HRESULT WINAPI s_IsLost(I *This) {
    guard held(ddlock());
    return sur(This)->lost ? DDERR_SURFACELOST : DD_OK;
}

/* Locks the rectangle (null: all of it). DDLOCK_WAIT changes nothing: the software
 * device is never busy drawing. */
template <class I>
HRESULT WINAPI s_Lock(I *This, LPRECT rect, LPDDSURFACEDESC d, DWORD flags, HANDLE event) {
    (void)flags, (void)event;
    if (!d || d->dwSize != sizeof(DDSURFACEDESC))
        return DDERR_INVALIDPARAMS;
    guard held(ddlock());
    ddsurface *s = sur(This);
    if (s->lost)
        return DDERR_SURFACELOST;
    if (s->locked)
        return DDERR_SURFACEBUSY;
    if (s->failfirstlock) {
        s->failfirstlock = false;
        return DDERR_CANTLOCKSURFACE;
    }
    RECT r = rect ? *rect : whole(s);
    if (r.left < 0 || r.top < 0 || r.left >= r.right || r.top >= r.bottom ||
        r.right > (LONG)s->width || r.bottom > (LONG)s->height)
        return DDERR_INVALIDRECT;
    s->failfirstlock = false;
    s->locked = true;
    s->lockrect = r;
    describesurface(s, d);
    d->lpSurface = s->mem.data() + (size_t)r.top * s->pitch + (size_t)r.left * (s->fmt.bpp / 8);
    return DD_OK;
}

/* Restores the whole chain of the surface. Surfaces of the screen and of video memory
 * only restore in the display mode they were made in. */
template <class I>
HRESULT WINAPI s_Restore(I *This) {
    guard held(ddlock());
    ddsurface *front = frontof(sur(This));
    if (faults().failrestore)
        return DDERR_WRONGMODE;
    if ((front->invideo || isscreen(front) || isprimary(front)) &&
        front->modegen != front->dd->modegen)
        return DDERR_WRONGMODE;
    for (ddsurface *c = front; c; c = c->next)
        c->lost = false;
    return DD_OK;
}

template <class I>
HRESULT WINAPI s_SetClipper(I *This, LPDIRECTDRAWCLIPPER clipper) {
    guard held(ddlock());
    ddsurface *s = sur(This);
    ddclipper *c =
        clipper ? reinterpret_cast<face<IDirectDrawClipper, ddclipper> *>(clipper)->self : nullptr;
    if (c)
        c->refs++;
    releaseclipperref(s->clip);
    s->clip = c;
    return DD_OK;
}

template <class I>
HRESULT WINAPI s_SetColorKey(I *This, DWORD flags, LPDDCOLORKEY key) {
    DWORD which = flags & ~(DWORD)DDCKEY_COLORSPACE;
    if (which != DDCKEY_SRCBLT && which != DDCKEY_DESTBLT)
        return which == DDCKEY_SRCOVERLAY || which == DDCKEY_DESTOVERLAY ? DDERR_UNSUPPORTED
                                                                         : DDERR_INVALIDPARAMS;
    guard held(ddlock());
    ddsurface *s = sur(This);
    DDCOLORKEY k{};
    if (key) {
        k = *key;
        if (!(flags & DDCKEY_COLORSPACE))
            k.dwColorSpaceHighValue = k.dwColorSpaceLowValue;
    }
    if (which == DDCKEY_SRCBLT)
        s->hassrckey = key != nullptr, s->srckey = k;
    else
        s->hasdestkey = key != nullptr, s->destkey = k;
    return DD_OK;
}

template <class I>
HRESULT WINAPI s_SetPalette(I *This, LPDIRECTDRAWPALETTE palette) {
    {
        guard held(ddlock());
        ddsurface *s = sur(This);
        ddpalette *p = palette
                           ? reinterpret_cast<face<IDirectDrawPalette, ddpalette> *>(palette)->self
                           : nullptr;
        if (p && s->fmt.bpp != 8)
            return DDERR_INVALIDPIXELFORMAT;
        if (p)
            palettetoref(p);
        releasepaletteref(s->pal);
        s->pal = p;
        if (isprimary(s))
            presentlater(s->dd, whole(s));
    }
    flushpresent();
    return DD_OK;
}

template <class I>
HRESULT WINAPI s_Unlock(I *This, LPVOID data) {
    (void)data; /* one lock per surface: nothing to tell apart */
    {
        guard held(ddlock());
        ddsurface *s = sur(This);
        if (!s->locked)
            return DDERR_NOTLOCKED;
        s->locked = false;
        if (isprimary(s))
            presentlater(s->dd, s->lockrect);
    }
    flushpresent();
    return DD_OK;
}

HRESULT WINAPI s2_GetDDInterface(IDirectDrawSurface2 *This, LPVOID *out) {
    if (!out)
        return DDERR_INVALIDPARAMS;
    guard held(ddlock());
    ddobject *dd = sur(This)->dd;
    dd->refs++;
    *out = &dd->f1.com;
    return DD_OK;
}

/* Page locks only count: the memory never moves while the surface exists. */
HRESULT WINAPI s2_PageLock(IDirectDrawSurface2 *This, DWORD flags) {
    if (flags)
        return DDERR_INVALIDPARAMS;
    guard held(ddlock());
    sur(This)->pagelocks++;
    return DD_OK;
}

HRESULT WINAPI s2_PageUnlock(IDirectDrawSurface2 *This, DWORD flags) {
    if (flags)
        return DDERR_INVALIDPARAMS;
    guard held(ddlock());
    ddsurface *s = sur(This);
    if (s->pagelocks == 0)
        return DDERR_NOTPAGELOCKED;
    s->pagelocks--;
    return DD_OK;
}

#define SURFACE_METHODS(I)                                                                         \
    .QueryInterface = s_QueryInterface<I>, .AddRef = s_AddRef<I>, .Release = s_Release<I>,         \
    .AddAttachedSurface = s_unsupported, .AddOverlayDirtyRect = s_unsupported, .Blt = s_Blt<I>,    \
    .BltBatch = s_unsupported, .BltFast = s_BltFast<I>, .DeleteAttachedSurface = s_unsupported,    \
    .EnumAttachedSurfaces = s_unsupported, .EnumOverlayZOrders = s_unsupported, .Flip = s_Flip<I>, \
    .GetAttachedSurface = s_GetAttachedSurface<I>, .GetBltStatus = s_GetBltStatus<I>,              \
    .GetCaps = s_GetCaps<I>, .GetClipper = s_GetClipper<I>, .GetColorKey = s_GetColorKey<I>,       \
    .GetDC = s_unsupported, .GetFlipStatus = s_GetFlipStatus<I>,                                   \
    .GetOverlayPosition = s_unsupported, .GetPalette = s_GetPalette<I>,                            \
    .GetPixelFormat = s_GetPixelFormat<I>, .GetSurfaceDesc = s_GetSurfaceDesc<I>,                  \
    .Initialize = s_Initialize<I>, .IsLost = s_IsLost<I>, .Lock = s_Lock<I>,                       \
    .ReleaseDC = s_unsupported, .Restore = s_Restore<I>, .SetClipper = s_SetClipper<I>,            \
    .SetColorKey = s_SetColorKey<I>, .SetOverlayPosition = s_unsupported,                          \
    .SetPalette = s_SetPalette<I>, .Unlock = s_Unlock<I>, .UpdateOverlay = s_unsupported,          \
    .UpdateOverlayDisplay = s_unsupported, .UpdateOverlayZOrder = s_unsupported

const IDirectDrawSurfaceVtbl surface1vtbl = {SURFACE_METHODS(IDirectDrawSurface)};

const IDirectDrawSurface2Vtbl surface2vtbl = {
    SURFACE_METHODS(IDirectDrawSurface2),
    .GetDDInterface = s2_GetDDInterface,
    .PageLock = s2_PageLock,
    .PageUnlock = s2_PageUnlock,
};

} // namespace

namespace platddraw {

HRESULT createsurface(ddobject *dd, const DDSURFACEDESC *desc, ddsurface **out) {
    *out = nullptr;
    if (!dd->coopflags)
        return DDERR_NOCOOPERATIVELEVELSET;
    DWORD caps = (desc->dwFlags & DDSD_CAPS) ? desc->ddsCaps.dwCaps : 0;
    if ((caps & unsupportedcaps) || (caps & (DDSCAPS_SYSTEMMEMORY | DDSCAPS_VIDEOMEMORY)) ==
                                        (DDSCAPS_SYSTEMMEMORY | DDSCAPS_VIDEOMEMORY))
        return DDERR_INVALIDCAPS;
    bool primary = caps & (DDSCAPS_PRIMARYSURFACE | DDSCAPS_PRIMARYSURFACELEFT);
    DWORD backs = (desc->dwFlags & DDSD_BACKBUFFERCOUNT) ? desc->dwBackBufferCount : 0;
    if (backs > maxbackbuffers)
        return DDERR_INVALIDPARAMS;
    if ((backs != 0) !=
        ((caps & (DDSCAPS_FLIP | DDSCAPS_COMPLEX)) == (DDSCAPS_FLIP | DDSCAPS_COMPLEX)))
        return DDERR_INVALIDCAPS;

    DWORD w, h;
    pixelformat fmt;
    screensize(dd, &w, &h, &fmt);
    if (primary) {
        if (desc->dwFlags & (DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT))
            return DDERR_INVALIDPARAMS;
        if (dd->primary)
            return DDERR_PRIMARYSURFACEALREADYEXISTS;
        if (backs && !(dd->coopflags & DDSCL_EXCLUSIVE))
            return DDERR_NOEXCLUSIVEMODE;
    } else {
        if ((desc->dwFlags & (DDSD_WIDTH | DDSD_HEIGHT)) != (DDSD_WIDTH | DDSD_HEIGHT) ||
            desc->dwWidth == 0 || desc->dwHeight == 0 || desc->dwWidth > maxside ||
            desc->dwHeight > maxside)
            return DDERR_INVALIDPARAMS;
        w = desc->dwWidth;
        h = desc->dwHeight;
        if ((desc->dwFlags & DDSD_PIXELFORMAT) && !readformat(desc->ddpfPixelFormat, &fmt))
            return DDERR_INVALIDPIXELFORMAT;
    }

    /* Placement: video memory when asked, or when not asked and it fits on hardware that
     * can hold the surface there (a chain needs flipping hardware). */
    DWORD pitch = pitchfor(dd, w, fmt.bpp);
    uint64_t total = (uint64_t)pitch * h * (backs + 1);
    bool hardware = !dd->emulation && dd->prof.hardware;
    bool canflip = (dd->prof.surfacecaps & DDSCAPS_FLIP) != 0;
    bool videofault = faults().failsurfaces & PLAT_DDKIND_VIDEOMEMORY;
    bool video;
    if (caps & DDSCAPS_VIDEOMEMORY) {
        if (!hardware)
            return DDERR_NODIRECTDRAWHW;
        if (backs && !canflip)
            return DDERR_NOFLIPHW;
        if (total > dd->vidfree || videofault)
            return DDERR_OUTOFVIDEOMEMORY;
        video = true;
    } else {
        video = !(caps & DDSCAPS_SYSTEMMEMORY) && hardware && total <= dd->vidfree &&
                (!backs || canflip) && !videofault;
    }
    DWORD kinds = (primary ? PLAT_DDKIND_PRIMARY : PLAT_DDKIND_OFFSCREEN) |
                  (primary && backs ? PLAT_DDKIND_FLIPCHAIN : 0) |
                  (video ? PLAT_DDKIND_VIDEOMEMORY : PLAT_DDKIND_SYSTEMMEMORY);
    if (faults().failsurfaces & kinds)
        return failurefor(faults().failsurfaces & kinds);

    DWORD memcaps = video ? DDSCAPS_VIDEOMEMORY | DDSCAPS_LOCALVIDMEM : DDSCAPS_SYSTEMMEMORY;
    DWORD kept = caps & (DDSCAPS_3DDEVICE | DDSCAPS_OFFSCREENPLAIN | DDSCAPS_WRITEONLY);
    ddsurface *front = nullptr, *prev = nullptr;
    for (DWORD i = 0; i <= backs; i++) {
        auto *s = new ddsurface();
        s->f1 = {{&surface1vtbl}, s};
        s->f2 = {{&surface2vtbl}, s};
        s->refs = i == 0 ? 1 : 0;
        s->dd = dd;
        s->width = w;
        s->height = h;
        s->pitch = (LONG)pitch;
        s->fmt = fmt;
        s->mem.assign((size_t)pitch * h, 0);
        s->memid = (int)i;
        s->invideo = video;
        s->modegen = dd->modegen;
        s->chainindex = (int)i;
        s->failfirstlock = (faults().failfirstlock & kinds) != 0;
        s->caps = kept | memcaps;
        if (i == 0 && primary) {
            s->caps |= DDSCAPS_PRIMARYSURFACE | DDSCAPS_VISIBLE;
            if (dd->modeset && dd->modex)
                s->caps |= DDSCAPS_MODEX;
        }
        if (backs)
            s->caps |= DDSCAPS_FLIP | DDSCAPS_COMPLEX |
                       (i == 0   ? DDSCAPS_FRONTBUFFER
                        : i == 1 ? DDSCAPS_BACKBUFFER
                                 : 0);
        if (i == 0) {
            front = s;
            if (desc->dwFlags & DDSD_CKSRCBLT)
                s->hassrckey = true, s->srckey = desc->ddckCKSrcBlt;
            if (desc->dwFlags & DDSD_CKDESTBLT)
                s->hasdestkey = true, s->destkey = desc->ddckCKDestBlt;
        } else {
            prev->next = s;
        }
        s->chain = backs ? front : nullptr;
        prev = s;
        dd->surfaces.push_back(s);
        live().surfaces++;
    }
    if (video)
        dd->vidfree -= (DWORD)total;
    if (primary)
        dd->primary = front;
    *out = front;
    return DD_OK;
}

void freesurface(ddsurface *s) {
    ddsurface *front = frontof(s);
    ddobject *dd = front->dd;
    for (ddsurface *c = front; c;) {
        ddsurface *next = c->next;
        releasepaletteref(c->pal);
        releaseclipperref(c->clip);
        if (c->invideo)
            dd->vidfree += (DWORD)c->mem.size();
        dd->surfaces.erase(std::find(dd->surfaces.begin(), dd->surfaces.end(), c));
        live().surfaces--;
        delete c;
        c = next;
    }
    if (dd->primary == front)
        dd->primary = nullptr;
}

void describesurface(const ddsurface *s, DDSURFACEDESC *d) {
    *d = DDSURFACEDESC{};
    d->dwSize = sizeof(DDSURFACEDESC);
    d->dwFlags =
        DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PITCH | DDSD_PIXELFORMAT | DDSD_LPSURFACE;
    d->dwWidth = s->width;
    d->dwHeight = s->height;
    d->lPitch = s->pitch;
    d->lpSurface = (LPVOID)s->mem.data();
    d->ddsCaps.dwCaps = s->caps;
    fillpixelformat(s->fmt, &d->ddpfPixelFormat);
    if (s->chainindex == 0 && s->next) {
        d->dwFlags |= DDSD_BACKBUFFERCOUNT;
        for (const ddsurface *b = s->next; b; b = b->next)
            d->dwBackBufferCount++;
    }
    if (s->hassrckey) {
        d->dwFlags |= DDSD_CKSRCBLT;
        d->ddckCKSrcBlt = s->srckey;
    }
    if (s->hasdestkey) {
        d->dwFlags |= DDSD_CKDESTBLT;
        d->ddckCKDestBlt = s->destkey;
    }
}

void loseall(ddobject *dd, bool videoonly) {
    for (ddsurface *s : dd->surfaces)
        if (!videoonly || s->invideo || isscreen(s) || isprimary(s))
            s->lost = true;
}

void rotatechain(ddsurface *front) {
    for (ddsurface *s = front; s->next; s = s->next) {
        std::swap(s->mem, s->next->mem);
        std::swap(s->memid, s->next->memid);
    }
}

} // namespace platddraw
