/*
 * device.h - records shared by the modules of the software DirectDraw.
 *
 * Objects: a DirectDraw object (`ddobject`) owns the surfaces, palettes and clippers it
 * created; releasing it frees them all, as on Windows. Each object hands out COM faces
 * (an interface record followed by a pointer back to the object): IDirectDraw and
 * IDirectDraw2 for the device, IDirectDrawSurface and IDirectDrawSurface2 for a surface.
 * One reference count per object serves all of its faces.
 *
 * Flip chains: the primary (front) links to its back buffers through `next`; the last one
 * links to nothing. Back buffers are created and freed with their front; their own count
 * only counts the references GetAttachedSurface handed out.
 *
 *   front --next--> back 1 --next--> back 2 --next--> null     (all: chain = front)
 *
 * Locks: one process-wide mutex, `ddlock`, guards every record of the device and the
 * fault and profile state. It is taken through a userguard (TerminateThread never ends a
 * thread that holds it) and may be held while calling the window side (never the other
 * way round). It is never held while a frame goes to the backend: see present.cpp.
 */
#ifndef PLAT_POSIX_DDRAW_DEVICE_H
#define PLAT_POSIX_DDRAW_DEVICE_H

#include "plat/ddraw.h"
#include "posix/user/user.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace platddraw {

/* ---- profiles and faults (profile.cpp) ------------------------------------------ */

struct profilemode {
    DWORD width, height, bpp;
    DWORD rmask, gmask, bmask;
    std::vector<DWORD> refresh; /* empty: the mode gives no rate */
    bool modex;
    DWORD backbuffers; /* 0: the description gives no count */
};

/* A requested size the driver sets as a larger one. */
struct moderemap {
    DWORD width, height, tow, toh;
};

struct profile {
    std::string name;
    bool hardware = true;
    GUID driverguid{};
    std::string driverdesc, drivername;
    DWORD caps = 0, surfacecaps = 0, ckeycaps = 0, fxcaps = 0, palcaps = 0;
    DWORD vidmem = 0;
    DWORD desktopbpp = 32;
    DWORD pitchalign = 4;
    std::vector<profilemode> modes;
    std::vector<moderemap> remaps;
};

/* Parses a profile text into p; false with a reason in *error for a bad line. */
bool parseprofile(const char *text, profile *p, std::string *error);

struct modekey {
    DWORD width, height, bpp;
};

struct faultstate {
    std::vector<modekey> refused;
    bool needactive = false;
    DWORD failsurfaces = 0;
    DWORD failfirstlock = 0;
    bool failrestore = false;
    DWORD failcreate = 0;
    int stilldrawing = 0;
};

/* The profile objects are created with, and the faults; ddlock held. */
const profile &currentprofile();
faultstate &faults();

/* ---- records ------------------------------------------------------------------- */

struct ddobject;
struct ddsurface;
struct ddpalette;
struct ddclipper;

/* A COM face: the interface record the caller sees, then the object behind it. */
template <class I, class O>
struct face {
    I com;
    O *self;
};

struct pixelformat {
    DWORD bpp = 8;
    DWORD rmask = 0, gmask = 0, bmask = 0; /* 0 for 8 bits: palette indexes */
};

struct ddpalette {
    face<IDirectDrawPalette, ddpalette> f;
    ULONG refs = 1;
    ddobject *dd = nullptr;
    DWORD caps = 0;
    int size = 256;
    PALETTEENTRY entries[256]{};
};

struct ddclipper {
    face<IDirectDrawClipper, ddclipper> f;
    ULONG refs = 1;
    ddobject *dd = nullptr;
    HWND hwnd = nullptr;
};

struct ddsurface {
    face<IDirectDrawSurface, ddsurface> f1;
    face<IDirectDrawSurface2, ddsurface> f2;
    ULONG refs = 1;
    ddobject *dd = nullptr;
    DWORD caps = 0;
    DWORD width = 0, height = 0;
    LONG pitch = 0;
    pixelformat fmt;
    std::vector<uint8_t> mem; /* pitch x height bytes; Flip swaps it along the chain */
    int memid = 0;            /* which of the chain's buffers mem is (0: the front's own) */
    bool invideo = false;
    bool lost = false;
    bool locked = false;
    RECT lockrect{};
    bool failfirstlock = false;
    unsigned modegen = 0; /* the display mode it was made in (Restore checks) */
    int pagelocks = 0;
    ddsurface *chain = nullptr; /* the front of its flip chain, or itself / null */
    ddsurface *next = nullptr;  /* the next surface of the flip chain */
    int chainindex = 0;         /* 0 front, 1.. back buffers */
    ddpalette *pal = nullptr;
    ddclipper *clip = nullptr;
    bool hassrckey = false, hasdestkey = false;
    DDCOLORKEY srckey{}, destkey{};
};

struct ddobject {
    face<IDirectDraw, ddobject> f1;
    face<IDirectDraw2, ddobject> f2;
    ULONG refs = 1;
    profile prof;
    bool emulation = false;
    HWND hwnd = nullptr;
    DWORD coopflags = 0; /* 0 until SetCooperativeLevel */
    bool modeset = false;
    DWORD modew = 0, modeh = 0, moderefresh = 0;
    pixelformat modefmt;
    bool modex = false;
    unsigned modegen = 0;
    DWORD vidfree = 0;
    ddsurface *primary = nullptr;
    std::vector<ddsurface *> surfaces;
    std::vector<ddpalette *> palettes;
    std::vector<ddclipper *> clippers;
};

/* ---- shared state and helpers ----------------------------------------------------- */

std::mutex &ddlock();
using guard = platuser::userguard;

/* Every live DirectDraw object; ddlock held. */
std::vector<ddobject *> &objects();
bool isliveobject(const ddobject *dd);

/* The screen's format and size: the mode in full screen, the desktop otherwise. */
pixelformat desktopformat(const profile &p);
pixelformat modeformat(const profilemode &m);
void screensize(const ddobject *dd, DWORD *w, DWORD *h, pixelformat *fmt);
bool fullscreen(const ddobject *dd);
DWORD pitchfor(const ddobject *dd, DWORD width, DWORD bpp);
void fillpixelformat(const pixelformat &f, DDPIXELFORMAT *out);
/* Sum of the set bits of the three colour masks (15 for 555), else the bit count. */
DWORD depthof(const pixelformat &f);

/* Surfaces (surface.cpp); ddlock held. */
HRESULT createsurface(ddobject *dd, const DDSURFACEDESC *desc, ddsurface **out);
void freesurface(ddsurface *s); /* with its chain when it is a front */
void describesurface(const ddsurface *s, DDSURFACEDESC *out);
void loseall(ddobject *dd, bool videoonly);
/* Moves each buffer of front's chain one surface forward: the first back buffer's memory
 * becomes the front's, the front's goes to the last back buffer. */
void rotatechain(ddsurface *front);

/* Palettes and clippers (palette.cpp); ddlock held. */
HRESULT createpalette(ddobject *dd, DWORD flags, const PALETTEENTRY *entries, ddpalette **out);
HRESULT createclipper(ddobject *dd, DWORD flags, ddclipper **out);
void freepalette(ddpalette *p);
void freeclipper(ddclipper *c);
void palettetoref(ddpalette *p);
void releasepaletteref(ddpalette *p);
void releaseclipperref(ddclipper *c);

/* Blits (blit.cpp); ddlock held. */
HRESULT blt(ddsurface *dst, const RECT *dstrect, ddsurface *src, const RECT *srcrect, DWORD flags,
            const DDBLTFX *fx);

/* Presentation (present.cpp). presentlater records that the primary of dd changed in
 * dirty (ddlock held); flushpresent, called with ddlock free, hands the recorded frames
 * to the backend. Every method that records one flushes before it returns. */
void presentlater(ddobject *dd, RECT dirty);
void flushpresent();
/* Forgets the presentation record of plat_ddrawlastpresent. */
void resetpresent();

/* Counts for plat_ddrawlive; ddlock held. */
struct livecounts {
    int objects, surfaces, palettes, clippers;
};
livecounts &live();

} // namespace platddraw

#endif /* PLAT_POSIX_DDRAW_DEVICE_H */
