/*
 * plat/ddraw.h - the DirectDraw interfaces the display modules talk to.
 *
 * On Windows this is the system's own <ddraw.h> (interface version 5, so that DDCAPS has
 * the 364-byte layout the display modules pass). Elsewhere it declares the same subset:
 * result codes, identifiers, structures at their Windows layouts, flags with their
 * Windows values, the interfaces as COM-shaped records (the first member points at a
 * table of functions) and the C call macros that the calling code uses, shaped as on
 * Windows (`IDirectDraw2_SetDisplayMode(dd, w, h, bpp, refresh, flags)`). The software
 * device behind them is src/plat/posix/ddraw/; docs/platform-ddraw.md describes it and
 * plat/ddrawtest.h is its test control.
 *
 * Structure sizes follow the pointer width as on Windows: DDSURFACEDESC is 108 bytes on
 * a 32-bit build and 120 on a 64-bit one, DDBLTFX 100 and 128; DDCAPS is 364, DDPIXELFORMAT
 * 32 and PALETTEENTRY 4 on both. Callers fill dwSize with sizeof.
 */
#ifndef PLAT_DDRAW_H
#define PLAT_DDRAW_H

#include "plat/win32.h"

#ifdef _WIN32
#ifndef DIRECTDRAW_VERSION
#define DIRECTDRAW_VERSION 0x0500
#endif
#include <ddraw.h>
#else

/* ---- results -------------------------------------------------------------------- */

/* Method results: negative values are failures. */
typedef LONG HRESULT;
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)
#define MAKE_HRESULT(sev, fac, code)                                                               \
    ((HRESULT)(((DWORD)(sev) << 31) | ((DWORD)(fac) << 16) | ((DWORD)(code))))
#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define E_NOTIMPL ((HRESULT)0x80004001)
#define E_NOINTERFACE ((HRESULT)0x80004002)
#define E_POINTER ((HRESULT)0x80004003)
#define E_FAIL ((HRESULT)0x80004005)
#define E_OUTOFMEMORY ((HRESULT)0x8007000E)
#define E_INVALIDARG ((HRESULT)0x80070057)

#define _FACDD 0x876
#define MAKE_DDHRESULT(code) MAKE_HRESULT(1, _FACDD, code)

#define DD_OK S_OK
#define DD_FALSE S_FALSE
#define DDERR_ALREADYINITIALIZED MAKE_DDHRESULT(5)
#define DDERR_GENERIC E_FAIL
#define DDERR_INVALIDCAPS MAKE_DDHRESULT(100)
#define DDERR_INVALIDMODE MAKE_DDHRESULT(120)
#define DDERR_INVALIDOBJECT MAKE_DDHRESULT(130)
#define DDERR_INVALIDPARAMS E_INVALIDARG
#define DDERR_INVALIDPIXELFORMAT MAKE_DDHRESULT(145)
#define DDERR_INVALIDRECT MAKE_DDHRESULT(150)
#define DDERR_NOCOOPERATIVELEVELSET MAKE_DDHRESULT(212)
#define DDERR_NOCOLORKEY MAKE_DDHRESULT(215)
#define DDERR_NOCOLORKEYHW MAKE_DDHRESULT(220)
#define DDERR_NOEXCLUSIVEMODE MAKE_DDHRESULT(225)
#define DDERR_NOFLIPHW MAKE_DDHRESULT(230)
#define DDERR_NOMIRRORHW MAKE_DDHRESULT(250)
#define DDERR_NOTFOUND MAKE_DDHRESULT(255)
#define DDERR_NOROTATIONHW MAKE_DDHRESULT(290)
#define DDERR_NOSTRETCHHW MAKE_DDHRESULT(310)
#define DDERR_NOVSYNCHW MAKE_DDHRESULT(335)
#define DDERR_OUTOFMEMORY E_OUTOFMEMORY
#define DDERR_OUTOFVIDEOMEMORY MAKE_DDHRESULT(380)
#define DDERR_SURFACEBUSY MAKE_DDHRESULT(430)
#define DDERR_CANTLOCKSURFACE MAKE_DDHRESULT(435)
#define DDERR_SURFACELOST MAKE_DDHRESULT(450)
#define DDERR_UNSUPPORTED E_NOTIMPL
#define DDERR_UNSUPPORTEDFORMAT MAKE_DDHRESULT(510)
#define DDERR_VERTICALBLANKINPROGRESS MAKE_DDHRESULT(537)
#define DDERR_WASSTILLDRAWING MAKE_DDHRESULT(540)
#define DDERR_INVALIDDIRECTDRAWGUID MAKE_DDHRESULT(561)
#define DDERR_DIRECTDRAWALREADYCREATED MAKE_DDHRESULT(562)
#define DDERR_NODIRECTDRAWHW MAKE_DDHRESULT(563)
#define DDERR_PRIMARYSURFACEALREADYEXISTS MAKE_DDHRESULT(564)
#define DDERR_NOCLIPPERATTACHED MAKE_DDHRESULT(568)
#define DDERR_NOHWND MAKE_DDHRESULT(569)
#define DDERR_HWNDALREADYSET MAKE_DDHRESULT(571)
#define DDERR_NOPALETTEATTACHED MAKE_DDHRESULT(572)
#define DDERR_NOBLTHW MAKE_DDHRESULT(575)
#define DDERR_EXCLUSIVEMODEALREADYSET MAKE_DDHRESULT(581)
#define DDERR_NOTFLIPPABLE MAKE_DDHRESULT(582)
#define DDERR_NOTLOCKED MAKE_DDHRESULT(584)
#define DDERR_WRONGMODE MAKE_DDHRESULT(587)
#define DDERR_IMPLICITLYCREATED MAKE_DDHRESULT(588)
#define DDERR_NOTPALETTIZED MAKE_DDHRESULT(589)
#define DDERR_UNSUPPORTEDMODE MAKE_DDHRESULT(590)
#define DDERR_NOTPAGELOCKED MAKE_DDHRESULT(680)

/* ---- identifiers ---------------------------------------------------------------- */

typedef struct _GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];
} GUID, *LPGUID;
typedef GUID IID;
typedef const GUID &REFGUID;
typedef const IID &REFIID;

inline bool IsEqualGUID(REFGUID a, REFGUID b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3)
        return false;
    for (int i = 0; i < 8; i++)
        if (a.Data4[i] != b.Data4[i])
            return false;
    return true;
}
#define IsEqualIID(a, b) IsEqualGUID(a, b)
inline bool operator==(REFGUID a, REFGUID b) {
    return IsEqualGUID(a, b);
}
inline bool operator!=(REFGUID a, REFGUID b) {
    return !IsEqualGUID(a, b);
}

inline constexpr GUID IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr GUID IID_IDirectDraw = {
    0x6C14DB80, 0xA733, 0x11CE, {0xA5, 0x21, 0x00, 0x20, 0xAF, 0x0B, 0xE5, 0x60}};
inline constexpr GUID IID_IDirectDraw2 = {
    0xB3A6F3E0, 0x2B43, 0x11CF, {0xA2, 0xDE, 0x00, 0xAA, 0x00, 0xB9, 0x33, 0x56}};
inline constexpr GUID IID_IDirectDrawSurface = {
    0x6C14DB81, 0xA733, 0x11CE, {0xA5, 0x21, 0x00, 0x20, 0xAF, 0x0B, 0xE5, 0x60}};
inline constexpr GUID IID_IDirectDrawSurface2 = {
    0x57805885, 0x6EEC, 0x11CF, {0x94, 0x41, 0xA8, 0x23, 0x03, 0xC1, 0x0E, 0x27}};
inline constexpr GUID IID_IDirectDrawPalette = {
    0x6C14DB84, 0xA733, 0x11CE, {0xA5, 0x21, 0x00, 0x20, 0xAF, 0x0B, 0xE5, 0x60}};
inline constexpr GUID IID_IDirectDrawClipper = {
    0x6C14DB85, 0xA733, 0x11CE, {0xA5, 0x21, 0x00, 0x20, 0xAF, 0x0B, 0xE5, 0x60}};

/* DirectDrawCreate's identifiers of the hardware driver alone and of the software
 * emulation: numbers, as on Windows, given as (GUID *)(uintptr_t)DDCREATE_EMULATIONONLY. */
#define DDCREATE_HARDWAREONLY 1L
#define DDCREATE_EMULATIONONLY 2L

/* ---- interfaces by name ----------------------------------------------------------- */

struct IUnknown;
struct IDirectDraw;
struct IDirectDraw2;
struct IDirectDrawSurface;
struct IDirectDrawSurface2;
struct IDirectDrawPalette;
struct IDirectDrawClipper;
typedef struct IUnknown *LPUNKNOWN;
typedef struct IDirectDraw *LPDIRECTDRAW;
typedef struct IDirectDraw2 *LPDIRECTDRAW2;
typedef struct IDirectDrawSurface *LPDIRECTDRAWSURFACE;
typedef struct IDirectDrawSurface2 *LPDIRECTDRAWSURFACE2;
typedef struct IDirectDrawPalette *LPDIRECTDRAWPALETTE;
typedef struct IDirectDrawClipper *LPDIRECTDRAWCLIPPER;

/* Taken by methods the software device does not implement; never dereferenced. */
struct _RGNDATA;
struct _DDBLTBATCH;
struct _DDOVERLAYFX;
typedef struct _RGNDATA *LPRGNDATA;
typedef struct _DDBLTBATCH *LPDDBLTBATCH;
typedef struct _DDOVERLAYFX *LPDDOVERLAYFX;

/* ---- structures ----------------------------------------------------------------- */

typedef struct tagPALETTEENTRY {
    BYTE peRed;
    BYTE peGreen;
    BYTE peBlue;
    BYTE peFlags;
} PALETTEENTRY, *LPPALETTEENTRY;

typedef struct _DDSCAPS {
    DWORD dwCaps;
} DDSCAPS, *LPDDSCAPS;

/* A colour key: pixels from low to high value inclusive are transparent. */
typedef struct _DDCOLORKEY {
    DWORD dwColorSpaceLowValue;
    DWORD dwColorSpaceHighValue;
} DDCOLORKEY, *LPDDCOLORKEY;

typedef struct _DDPIXELFORMAT {
    DWORD dwSize;
    DWORD dwFlags; /* DDPF_ */
    DWORD dwFourCC;
    union {
        DWORD dwRGBBitCount;
        DWORD dwYUVBitCount;
        DWORD dwZBufferBitDepth;
        DWORD dwAlphaBitDepth;
    };
    union {
        DWORD dwRBitMask;
        DWORD dwYBitMask;
    };
    union {
        DWORD dwGBitMask;
        DWORD dwUBitMask;
    };
    union {
        DWORD dwBBitMask;
        DWORD dwVBitMask;
    };
    union {
        DWORD dwRGBAlphaBitMask;
        DWORD dwYUVAlphaBitMask;
        DWORD dwRGBZBitMask;
        DWORD dwYUVZBitMask;
    };
} DDPIXELFORMAT, *LPDDPIXELFORMAT;

/* A surface or display mode description; dwFlags (DDSD_) tells which fields count. */
typedef struct _DDSURFACEDESC {
    DWORD dwSize;
    DWORD dwFlags;
    DWORD dwHeight;
    DWORD dwWidth;
    union {
        LONG lPitch;
        DWORD dwLinearSize;
    };
    DWORD dwBackBufferCount;
    union {
        DWORD dwMipMapCount;
        DWORD dwZBufferBitDepth;
        DWORD dwRefreshRate;
    };
    DWORD dwAlphaBitDepth;
    DWORD dwReserved;
    LPVOID lpSurface;
    DDCOLORKEY ddckCKDestOverlay;
    DDCOLORKEY ddckCKDestBlt;
    DDCOLORKEY ddckCKSrcOverlay;
    DDCOLORKEY ddckCKSrcBlt;
    DDPIXELFORMAT ddpfPixelFormat;
    DDSCAPS ddsCaps;
} DDSURFACEDESC, *LPDDSURFACEDESC;

#define DD_ROP_SPACE 8

/* Capabilities of a driver (GetCaps fills one block for the hardware, one for the
 * emulation). */
typedef struct _DDCAPS {
    DWORD dwSize;
    DWORD dwCaps; /* DDCAPS_ */
    DWORD dwCaps2;
    DWORD dwCKeyCaps; /* DDCKEYCAPS_ */
    DWORD dwFXCaps;   /* DDFXCAPS_ */
    DWORD dwFXAlphaCaps;
    DWORD dwPalCaps; /* DDPCAPS_ */
    DWORD dwSVCaps;
    DWORD dwAlphaBltConstBitDepths;
    DWORD dwAlphaBltPixelBitDepths;
    DWORD dwAlphaBltSurfaceBitDepths;
    DWORD dwAlphaOverlayConstBitDepths;
    DWORD dwAlphaOverlayPixelBitDepths;
    DWORD dwAlphaOverlaySurfaceBitDepths;
    DWORD dwZBufferBitDepths;
    DWORD dwVidMemTotal;
    DWORD dwVidMemFree;
    DWORD dwMaxVisibleOverlays;
    DWORD dwCurrVisibleOverlays;
    DWORD dwNumFourCCCodes;
    DWORD dwAlignBoundarySrc;
    DWORD dwAlignSizeSrc;
    DWORD dwAlignBoundaryDest;
    DWORD dwAlignSizeDest;
    DWORD dwAlignStrideAlign;
    DWORD dwRops[DD_ROP_SPACE];
    DDSCAPS ddsCaps; /* the surface caps the driver supports */
    DWORD dwMinOverlayStretch;
    DWORD dwMaxOverlayStretch;
    DWORD dwMinLiveVideoStretch;
    DWORD dwMaxLiveVideoStretch;
    DWORD dwMinHwCodecStretch;
    DWORD dwMaxHwCodecStretch;
    DWORD dwReserved1;
    DWORD dwReserved2;
    DWORD dwReserved3;
    DWORD dwSVBCaps;
    DWORD dwSVBCKeyCaps;
    DWORD dwSVBFXCaps;
    DWORD dwSVBRops[DD_ROP_SPACE];
    DWORD dwVSBCaps;
    DWORD dwVSBCKeyCaps;
    DWORD dwVSBFXCaps;
    DWORD dwVSBRops[DD_ROP_SPACE];
    DWORD dwSSBCaps;
    DWORD dwSSBCKeyCaps;
    DWORD dwSSBFXCaps;
    DWORD dwSSBRops[DD_ROP_SPACE];
    DWORD dwMaxVideoPorts;
    DWORD dwCurrVideoPorts;
    DWORD dwSVBCaps2;
    DWORD dwNLVBCaps;
    DWORD dwNLVBCaps2;
    DWORD dwNLVBCKeyCaps;
    DWORD dwNLVBFXCaps;
    DWORD dwNLVBRops[DD_ROP_SPACE];
} DDCAPS, *LPDDCAPS;

/* Effects and fill values of a Blt. */
typedef struct _DDBLTFX {
    DWORD dwSize;
    DWORD dwDDFX; /* DDBLTFX_ */
    DWORD dwROP;
    DWORD dwDDROP;
    DWORD dwRotationAngle;
    DWORD dwZBufferOpCode;
    DWORD dwZBufferLow;
    DWORD dwZBufferHigh;
    DWORD dwZBufferBaseDest;
    DWORD dwZDestConstBitDepth;
    union {
        DWORD dwZDestConst;
        LPDIRECTDRAWSURFACE lpDDSZBufferDest;
    };
    DWORD dwZSrcConstBitDepth;
    union {
        DWORD dwZSrcConst;
        LPDIRECTDRAWSURFACE lpDDSZBufferSrc;
    };
    DWORD dwAlphaEdgeBlendBitDepth;
    DWORD dwAlphaEdgeBlend;
    DWORD dwReserved;
    DWORD dwAlphaDestConstBitDepth;
    union {
        DWORD dwAlphaDestConst;
        LPDIRECTDRAWSURFACE lpDDSAlphaDest;
    };
    DWORD dwAlphaSrcConstBitDepth;
    union {
        DWORD dwAlphaSrcConst;
        LPDIRECTDRAWSURFACE lpDDSAlphaSrc;
    };
    union {
        DWORD dwFillColor;
        DWORD dwFillDepth;
        DWORD dwFillPixel;
        LPDIRECTDRAWSURFACE lpDDSPattern;
    };
    DDCOLORKEY ddckDestColorkey;
    DDCOLORKEY ddckSrcColorkey;
} DDBLTFX, *LPDDBLTFX;

/* ---- callbacks ------------------------------------------------------------------ */

typedef BOOL(CALLBACK *LPDDENUMCALLBACKA)(GUID *lpGUID, LPSTR lpDriverDescription,
                                          LPSTR lpDriverName, LPVOID lpContext);
typedef HRESULT(CALLBACK *LPDDENUMMODESCALLBACK)(LPDDSURFACEDESC lpDDSurfaceDesc, LPVOID lpContext);
typedef HRESULT(CALLBACK *LPDDENUMSURFACESCALLBACK)(LPDIRECTDRAWSURFACE lpDDSurface,
                                                    LPDDSURFACEDESC lpDDSurfaceDesc,
                                                    LPVOID lpContext);

#define DDENUMRET_CANCEL 0
#define DDENUMRET_OK 1

/* ---- flags ---------------------------------------------------------------------- */

/* DDSURFACEDESC.dwFlags */
#define DDSD_CAPS 0x00000001
#define DDSD_HEIGHT 0x00000002
#define DDSD_WIDTH 0x00000004
#define DDSD_PITCH 0x00000008
#define DDSD_BACKBUFFERCOUNT 0x00000020
#define DDSD_ZBUFFERBITDEPTH 0x00000040
#define DDSD_ALPHABITDEPTH 0x00000080
#define DDSD_LPSURFACE 0x00000800
#define DDSD_PIXELFORMAT 0x00001000
#define DDSD_CKDESTOVERLAY 0x00002000
#define DDSD_CKDESTBLT 0x00004000
#define DDSD_CKSRCOVERLAY 0x00008000
#define DDSD_CKSRCBLT 0x00010000
#define DDSD_MIPMAPCOUNT 0x00020000
#define DDSD_REFRESHRATE 0x00040000
#define DDSD_LINEARSIZE 0x00080000
#define DDSD_ALL 0x000FF9EE

/* DDSCAPS.dwCaps */
#define DDSCAPS_ALPHA 0x00000002
#define DDSCAPS_BACKBUFFER 0x00000004
#define DDSCAPS_COMPLEX 0x00000008
#define DDSCAPS_FLIP 0x00000010
#define DDSCAPS_FRONTBUFFER 0x00000020
#define DDSCAPS_OFFSCREENPLAIN 0x00000040
#define DDSCAPS_OVERLAY 0x00000080
#define DDSCAPS_PALETTE 0x00000100
#define DDSCAPS_PRIMARYSURFACE 0x00000200
#define DDSCAPS_PRIMARYSURFACELEFT 0x00000400
#define DDSCAPS_SYSTEMMEMORY 0x00000800
#define DDSCAPS_TEXTURE 0x00001000
#define DDSCAPS_3DDEVICE 0x00002000
#define DDSCAPS_VIDEOMEMORY 0x00004000
#define DDSCAPS_VISIBLE 0x00008000
#define DDSCAPS_WRITEONLY 0x00010000
#define DDSCAPS_ZBUFFER 0x00020000
#define DDSCAPS_OWNDC 0x00040000
#define DDSCAPS_LIVEVIDEO 0x00080000
#define DDSCAPS_HWCODEC 0x00100000
#define DDSCAPS_MODEX 0x00200000
#define DDSCAPS_MIPMAP 0x00400000
#define DDSCAPS_ALLOCONLOAD 0x04000000
#define DDSCAPS_VIDEOPORT 0x08000000
#define DDSCAPS_LOCALVIDMEM 0x10000000
#define DDSCAPS_NONLOCALVIDMEM 0x20000000
#define DDSCAPS_STANDARDVGAMODE 0x40000000

/* DDPIXELFORMAT.dwFlags */
#define DDPF_ALPHAPIXELS 0x00000001
#define DDPF_ALPHA 0x00000002
#define DDPF_FOURCC 0x00000004
#define DDPF_PALETTEINDEXED4 0x00000008
#define DDPF_PALETTEINDEXEDTO8 0x00000010
#define DDPF_PALETTEINDEXED8 0x00000020
#define DDPF_RGB 0x00000040
#define DDPF_ZBUFFER 0x00000400
#define DDPF_PALETTEINDEXED1 0x00000800
#define DDPF_PALETTEINDEXED2 0x00001000

/* DDCAPS.dwCaps */
#define DDCAPS_3D 0x00000001
#define DDCAPS_ALIGNBOUNDARYDEST 0x00000002
#define DDCAPS_ALIGNSIZEDEST 0x00000004
#define DDCAPS_ALIGNBOUNDARYSRC 0x00000008
#define DDCAPS_ALIGNSIZESRC 0x00000010
#define DDCAPS_ALIGNSTRIDE 0x00000020
#define DDCAPS_BLT 0x00000040
#define DDCAPS_BLTQUEUE 0x00000080
#define DDCAPS_BLTFOURCC 0x00000100
#define DDCAPS_BLTSTRETCH 0x00000200
#define DDCAPS_GDI 0x00000400
#define DDCAPS_OVERLAY 0x00000800
#define DDCAPS_OVERLAYCANTCLIP 0x00001000
#define DDCAPS_OVERLAYFOURCC 0x00002000
#define DDCAPS_OVERLAYSTRETCH 0x00004000
#define DDCAPS_PALETTE 0x00008000
#define DDCAPS_PALETTEVSYNC 0x00010000
#define DDCAPS_READSCANLINE 0x00020000
#define DDCAPS_STEREOVIEW 0x00040000
#define DDCAPS_VBI 0x00080000
#define DDCAPS_ZBLTS 0x00100000
#define DDCAPS_ZOVERLAYS 0x00200000
#define DDCAPS_COLORKEY 0x00400000
#define DDCAPS_ALPHA 0x00800000
#define DDCAPS_COLORKEYHWASSIST 0x01000000
#define DDCAPS_NOHARDWARE 0x02000000
#define DDCAPS_BLTCOLORFILL 0x04000000
#define DDCAPS_BANKSWITCHED 0x08000000
#define DDCAPS_BLTDEPTHFILL 0x10000000
#define DDCAPS_CANCLIP 0x20000000
#define DDCAPS_CANCLIPSTRETCHED 0x40000000
#define DDCAPS_CANBLTSYSMEM 0x80000000

/* DDCAPS.dwCKeyCaps */
#define DDCKEYCAPS_DESTBLT 0x00000001
#define DDCKEYCAPS_DESTOVERLAY 0x00000010
#define DDCKEYCAPS_SRCBLT 0x00000200
#define DDCKEYCAPS_SRCBLTCLRSPACE 0x00000400
#define DDCKEYCAPS_SRCOVERLAY 0x00002000

/* DDCAPS.dwFXCaps */
#define DDFXCAPS_BLTMIRRORLEFTRIGHT 0x00000040
#define DDFXCAPS_BLTMIRRORUPDOWN 0x00000080
#define DDFXCAPS_BLTROTATION 0x00000100
#define DDFXCAPS_BLTROTATION90 0x00000200
#define DDFXCAPS_BLTSHRINKX 0x00000400
#define DDFXCAPS_BLTSHRINKY 0x00001000
#define DDFXCAPS_BLTSTRETCHX 0x00004000
#define DDFXCAPS_BLTSTRETCHY 0x00010000

/* SetCooperativeLevel */
#define DDSCL_FULLSCREEN 0x00000001
#define DDSCL_ALLOWREBOOT 0x00000002
#define DDSCL_NOWINDOWCHANGES 0x00000004
#define DDSCL_NORMAL 0x00000008
#define DDSCL_EXCLUSIVE 0x00000010
#define DDSCL_ALLOWMODEX 0x00000040
#define DDSCL_SETFOCUSWINDOW 0x00000080
#define DDSCL_SETDEVICEWINDOW 0x00000100
#define DDSCL_CREATEDEVICEWINDOW 0x00000200
#define DDSCL_MULTITHREADED 0x00000400
#define DDSCL_FPUSETUP 0x00000800

/* EnumDisplayModes */
#define DDEDM_REFRESHRATES 0x00000001
#define DDEDM_STANDARDVGAMODES 0x00000002

/* Lock */
#define DDLOCK_SURFACEMEMORYPTR 0x00000000
#define DDLOCK_WAIT 0x00000001
#define DDLOCK_EVENT 0x00000002
#define DDLOCK_READONLY 0x00000010
#define DDLOCK_WRITEONLY 0x00000020
#define DDLOCK_NOSYSLOCK 0x00000800

/* Blt */
#define DDBLT_ASYNC 0x00000200
#define DDBLT_COLORFILL 0x00000400
#define DDBLT_DDFX 0x00000800
#define DDBLT_DDROPS 0x00001000
#define DDBLT_KEYDEST 0x00002000
#define DDBLT_KEYDESTOVERRIDE 0x00004000
#define DDBLT_KEYSRC 0x00008000
#define DDBLT_KEYSRCOVERRIDE 0x00010000
#define DDBLT_ROP 0x00020000
#define DDBLT_ROTATIONANGLE 0x00040000
#define DDBLT_ZBUFFER 0x00080000
#define DDBLT_WAIT 0x01000000
#define DDBLT_DEPTHFILL 0x02000000

/* DDBLTFX.dwDDFX */
#define DDBLTFX_ARITHSTRETCHY 0x00000001
#define DDBLTFX_MIRRORLEFTRIGHT 0x00000002
#define DDBLTFX_MIRRORUPDOWN 0x00000004
#define DDBLTFX_NOTEARING 0x00000008
#define DDBLTFX_ROTATE180 0x00000010
#define DDBLTFX_ROTATE270 0x00000020
#define DDBLTFX_ROTATE90 0x00000040

/* Flip, GetFlipStatus, GetBltStatus, WaitForVerticalBlank */
#define DDFLIP_WAIT 0x00000001
#define DDFLIP_EVEN 0x00000002
#define DDFLIP_ODD 0x00000004
#define DDGFS_CANFLIP 0x00000001
#define DDGFS_ISFLIPDONE 0x00000002
#define DDGBS_CANBLT 0x00000001
#define DDGBS_ISBLTDONE 0x00000002
#define DDWAITVB_BLOCKBEGIN 0x00000001
#define DDWAITVB_BLOCKBEGINEVENT 0x00000002
#define DDWAITVB_BLOCKEND 0x00000004

/* CreatePalette, palette GetCaps */
#define DDPCAPS_4BIT 0x00000001
#define DDPCAPS_8BITENTRIES 0x00000002
#define DDPCAPS_8BIT 0x00000004
#define DDPCAPS_INITIALIZE 0x00000008
#define DDPCAPS_PRIMARYSURFACE 0x00000010
#define DDPCAPS_PRIMARYSURFACELEFT 0x00000020
#define DDPCAPS_ALLOW256 0x00000040
#define DDPCAPS_VSYNC 0x00000080
#define DDPCAPS_1BIT 0x00000100
#define DDPCAPS_2BIT 0x00000200

/* SetColorKey, GetColorKey */
#define DDCKEY_COLORSPACE 0x00000001
#define DDCKEY_DESTBLT 0x00000002
#define DDCKEY_DESTOVERLAY 0x00000004
#define DDCKEY_SRCBLT 0x00000008
#define DDCKEY_SRCOVERLAY 0x00000010

/* ---- interfaces ----------------------------------------------------------------- */

/* Each interface is a record whose only member points at its method table; a method
 * takes the interface pointer first. The tables list every method in its Windows order;
 * the software device answers DDERR_UNSUPPORTED from the ones it does not implement
 * (docs/platform-ddraw.md). */

typedef struct IDirectDrawVtbl {
    HRESULT(WINAPI *QueryInterface)(IDirectDraw *This, REFIID riid, void **ppvObject);
    ULONG(WINAPI *AddRef)(IDirectDraw *This);
    ULONG(WINAPI *Release)(IDirectDraw *This);
    HRESULT(WINAPI *Compact)(IDirectDraw *This);
    HRESULT(WINAPI *CreateClipper)
    (IDirectDraw *This, DWORD dwFlags, LPDIRECTDRAWCLIPPER *lplpDDClipper, IUnknown *pUnkOuter);
    HRESULT(WINAPI *CreatePalette)
    (IDirectDraw *This, DWORD dwFlags, LPPALETTEENTRY lpColorTable,
     LPDIRECTDRAWPALETTE *lplpDDPalette, IUnknown *pUnkOuter);
    HRESULT(WINAPI *CreateSurface)
    (IDirectDraw *This, LPDDSURFACEDESC lpDDSurfaceDesc, LPDIRECTDRAWSURFACE *lplpDDSurface,
     IUnknown *pUnkOuter);
    HRESULT(WINAPI *DuplicateSurface)
    (IDirectDraw *This, LPDIRECTDRAWSURFACE lpDDSurface, LPDIRECTDRAWSURFACE *lplpDupDDSurface);
    HRESULT(WINAPI *EnumDisplayModes)
    (IDirectDraw *This, DWORD dwFlags, LPDDSURFACEDESC lpDDSurfaceDesc, LPVOID lpContext,
     LPDDENUMMODESCALLBACK lpEnumModesCallback);
    HRESULT(WINAPI *EnumSurfaces)
    (IDirectDraw *This, DWORD dwFlags, LPDDSURFACEDESC lpDDSD, LPVOID lpContext,
     LPDDENUMSURFACESCALLBACK lpEnumSurfacesCallback);
    HRESULT(WINAPI *FlipToGDISurface)(IDirectDraw *This);
    HRESULT(WINAPI *GetCaps)(IDirectDraw *This, LPDDCAPS lpDDDriverCaps, LPDDCAPS lpDDHELCaps);
    HRESULT(WINAPI *GetDisplayMode)(IDirectDraw *This, LPDDSURFACEDESC lpDDSurfaceDesc);
    HRESULT(WINAPI *GetFourCCCodes)(IDirectDraw *This, LPDWORD lpNumCodes, LPDWORD lpCodes);
    HRESULT(WINAPI *GetGDISurface)(IDirectDraw *This, LPDIRECTDRAWSURFACE *lplpGDIDDSurface);
    HRESULT(WINAPI *GetMonitorFrequency)(IDirectDraw *This, LPDWORD lpdwFrequency);
    HRESULT(WINAPI *GetScanLine)(IDirectDraw *This, LPDWORD lpdwScanLine);
    HRESULT(WINAPI *GetVerticalBlankStatus)(IDirectDraw *This, BOOL *lpbIsInVB);
    HRESULT(WINAPI *Initialize)(IDirectDraw *This, GUID *lpGUID);
    HRESULT(WINAPI *RestoreDisplayMode)(IDirectDraw *This);
    HRESULT(WINAPI *SetCooperativeLevel)(IDirectDraw *This, HWND hWnd, DWORD dwFlags);
    HRESULT(WINAPI *SetDisplayMode)(IDirectDraw *This, DWORD dwWidth, DWORD dwHeight, DWORD dwBPP);
    HRESULT(WINAPI *WaitForVerticalBlank)(IDirectDraw *This, DWORD dwFlags, HANDLE hEvent);
} IDirectDrawVtbl;

struct IDirectDraw {
    const IDirectDrawVtbl *lpVtbl;
};

#define IDirectDraw_QueryInterface(p, a, b) (p)->lpVtbl->QueryInterface(p, a, b)
#define IDirectDraw_AddRef(p) (p)->lpVtbl->AddRef(p)
#define IDirectDraw_Release(p) (p)->lpVtbl->Release(p)
#define IDirectDraw_Compact(p) (p)->lpVtbl->Compact(p)
#define IDirectDraw_CreateClipper(p, a, b, c) (p)->lpVtbl->CreateClipper(p, a, b, c)
#define IDirectDraw_CreatePalette(p, a, b, c, d) (p)->lpVtbl->CreatePalette(p, a, b, c, d)
#define IDirectDraw_CreateSurface(p, a, b, c) (p)->lpVtbl->CreateSurface(p, a, b, c)
#define IDirectDraw_DuplicateSurface(p, a, b) (p)->lpVtbl->DuplicateSurface(p, a, b)
#define IDirectDraw_EnumDisplayModes(p, a, b, c, d) (p)->lpVtbl->EnumDisplayModes(p, a, b, c, d)
#define IDirectDraw_EnumSurfaces(p, a, b, c, d) (p)->lpVtbl->EnumSurfaces(p, a, b, c, d)
#define IDirectDraw_FlipToGDISurface(p) (p)->lpVtbl->FlipToGDISurface(p)
#define IDirectDraw_GetCaps(p, a, b) (p)->lpVtbl->GetCaps(p, a, b)
#define IDirectDraw_GetDisplayMode(p, a) (p)->lpVtbl->GetDisplayMode(p, a)
#define IDirectDraw_GetFourCCCodes(p, a, b) (p)->lpVtbl->GetFourCCCodes(p, a, b)
#define IDirectDraw_GetGDISurface(p, a) (p)->lpVtbl->GetGDISurface(p, a)
#define IDirectDraw_GetMonitorFrequency(p, a) (p)->lpVtbl->GetMonitorFrequency(p, a)
#define IDirectDraw_GetScanLine(p, a) (p)->lpVtbl->GetScanLine(p, a)
#define IDirectDraw_GetVerticalBlankStatus(p, a) (p)->lpVtbl->GetVerticalBlankStatus(p, a)
#define IDirectDraw_Initialize(p, a) (p)->lpVtbl->Initialize(p, a)
#define IDirectDraw_RestoreDisplayMode(p) (p)->lpVtbl->RestoreDisplayMode(p)
#define IDirectDraw_SetCooperativeLevel(p, a, b) (p)->lpVtbl->SetCooperativeLevel(p, a, b)
#define IDirectDraw_SetDisplayMode(p, a, b, c) (p)->lpVtbl->SetDisplayMode(p, a, b, c)
#define IDirectDraw_WaitForVerticalBlank(p, a, b) (p)->lpVtbl->WaitForVerticalBlank(p, a, b)

/* IDirectDraw2: IDirectDraw with a refresh rate and flags in SetDisplayMode, and the
 * free video memory of a kind of surface. */
typedef struct IDirectDraw2Vtbl {
    HRESULT(WINAPI *QueryInterface)(IDirectDraw2 *This, REFIID riid, void **ppvObject);
    ULONG(WINAPI *AddRef)(IDirectDraw2 *This);
    ULONG(WINAPI *Release)(IDirectDraw2 *This);
    HRESULT(WINAPI *Compact)(IDirectDraw2 *This);
    HRESULT(WINAPI *CreateClipper)
    (IDirectDraw2 *This, DWORD dwFlags, LPDIRECTDRAWCLIPPER *lplpDDClipper, IUnknown *pUnkOuter);
    HRESULT(WINAPI *CreatePalette)
    (IDirectDraw2 *This, DWORD dwFlags, LPPALETTEENTRY lpColorTable,
     LPDIRECTDRAWPALETTE *lplpDDPalette, IUnknown *pUnkOuter);
    HRESULT(WINAPI *CreateSurface)
    (IDirectDraw2 *This, LPDDSURFACEDESC lpDDSurfaceDesc, LPDIRECTDRAWSURFACE *lplpDDSurface,
     IUnknown *pUnkOuter);
    HRESULT(WINAPI *DuplicateSurface)
    (IDirectDraw2 *This, LPDIRECTDRAWSURFACE lpDDSurface, LPDIRECTDRAWSURFACE *lplpDupDDSurface);
    HRESULT(WINAPI *EnumDisplayModes)
    (IDirectDraw2 *This, DWORD dwFlags, LPDDSURFACEDESC lpDDSurfaceDesc, LPVOID lpContext,
     LPDDENUMMODESCALLBACK lpEnumModesCallback);
    HRESULT(WINAPI *EnumSurfaces)
    (IDirectDraw2 *This, DWORD dwFlags, LPDDSURFACEDESC lpDDSD, LPVOID lpContext,
     LPDDENUMSURFACESCALLBACK lpEnumSurfacesCallback);
    HRESULT(WINAPI *FlipToGDISurface)(IDirectDraw2 *This);
    HRESULT(WINAPI *GetCaps)(IDirectDraw2 *This, LPDDCAPS lpDDDriverCaps, LPDDCAPS lpDDHELCaps);
    HRESULT(WINAPI *GetDisplayMode)(IDirectDraw2 *This, LPDDSURFACEDESC lpDDSurfaceDesc);
    HRESULT(WINAPI *GetFourCCCodes)(IDirectDraw2 *This, LPDWORD lpNumCodes, LPDWORD lpCodes);
    HRESULT(WINAPI *GetGDISurface)(IDirectDraw2 *This, LPDIRECTDRAWSURFACE *lplpGDIDDSurface);
    HRESULT(WINAPI *GetMonitorFrequency)(IDirectDraw2 *This, LPDWORD lpdwFrequency);
    HRESULT(WINAPI *GetScanLine)(IDirectDraw2 *This, LPDWORD lpdwScanLine);
    HRESULT(WINAPI *GetVerticalBlankStatus)(IDirectDraw2 *This, BOOL *lpbIsInVB);
    HRESULT(WINAPI *Initialize)(IDirectDraw2 *This, GUID *lpGUID);
    HRESULT(WINAPI *RestoreDisplayMode)(IDirectDraw2 *This);
    HRESULT(WINAPI *SetCooperativeLevel)(IDirectDraw2 *This, HWND hWnd, DWORD dwFlags);
    HRESULT(WINAPI *SetDisplayMode)
    (IDirectDraw2 *This, DWORD dwWidth, DWORD dwHeight, DWORD dwBPP, DWORD dwRefreshRate,
     DWORD dwFlags);
    HRESULT(WINAPI *WaitForVerticalBlank)(IDirectDraw2 *This, DWORD dwFlags, HANDLE hEvent);
    HRESULT(WINAPI *GetAvailableVidMem)
    (IDirectDraw2 *This, LPDDSCAPS lpDDCaps, LPDWORD lpdwTotal, LPDWORD lpdwFree);
} IDirectDraw2Vtbl;

struct IDirectDraw2 {
    const IDirectDraw2Vtbl *lpVtbl;
};

#define IDirectDraw2_QueryInterface(p, a, b) (p)->lpVtbl->QueryInterface(p, a, b)
#define IDirectDraw2_AddRef(p) (p)->lpVtbl->AddRef(p)
#define IDirectDraw2_Release(p) (p)->lpVtbl->Release(p)
#define IDirectDraw2_Compact(p) (p)->lpVtbl->Compact(p)
#define IDirectDraw2_CreateClipper(p, a, b, c) (p)->lpVtbl->CreateClipper(p, a, b, c)
#define IDirectDraw2_CreatePalette(p, a, b, c, d) (p)->lpVtbl->CreatePalette(p, a, b, c, d)
#define IDirectDraw2_CreateSurface(p, a, b, c) (p)->lpVtbl->CreateSurface(p, a, b, c)
#define IDirectDraw2_DuplicateSurface(p, a, b) (p)->lpVtbl->DuplicateSurface(p, a, b)
#define IDirectDraw2_EnumDisplayModes(p, a, b, c, d) (p)->lpVtbl->EnumDisplayModes(p, a, b, c, d)
#define IDirectDraw2_EnumSurfaces(p, a, b, c, d) (p)->lpVtbl->EnumSurfaces(p, a, b, c, d)
#define IDirectDraw2_FlipToGDISurface(p) (p)->lpVtbl->FlipToGDISurface(p)
#define IDirectDraw2_GetCaps(p, a, b) (p)->lpVtbl->GetCaps(p, a, b)
#define IDirectDraw2_GetDisplayMode(p, a) (p)->lpVtbl->GetDisplayMode(p, a)
#define IDirectDraw2_GetFourCCCodes(p, a, b) (p)->lpVtbl->GetFourCCCodes(p, a, b)
#define IDirectDraw2_GetGDISurface(p, a) (p)->lpVtbl->GetGDISurface(p, a)
#define IDirectDraw2_GetMonitorFrequency(p, a) (p)->lpVtbl->GetMonitorFrequency(p, a)
#define IDirectDraw2_GetScanLine(p, a) (p)->lpVtbl->GetScanLine(p, a)
#define IDirectDraw2_GetVerticalBlankStatus(p, a) (p)->lpVtbl->GetVerticalBlankStatus(p, a)
#define IDirectDraw2_Initialize(p, a) (p)->lpVtbl->Initialize(p, a)
#define IDirectDraw2_RestoreDisplayMode(p) (p)->lpVtbl->RestoreDisplayMode(p)
#define IDirectDraw2_SetCooperativeLevel(p, a, b) (p)->lpVtbl->SetCooperativeLevel(p, a, b)
#define IDirectDraw2_SetDisplayMode(p, a, b, c, d, e) (p)->lpVtbl->SetDisplayMode(p, a, b, c, d, e)
#define IDirectDraw2_WaitForVerticalBlank(p, a, b) (p)->lpVtbl->WaitForVerticalBlank(p, a, b)
#define IDirectDraw2_GetAvailableVidMem(p, a, b, c) (p)->lpVtbl->GetAvailableVidMem(p, a, b, c)

typedef struct IDirectDrawPaletteVtbl {
    HRESULT(WINAPI *QueryInterface)(IDirectDrawPalette *This, REFIID riid, void **ppvObject);
    ULONG(WINAPI *AddRef)(IDirectDrawPalette *This);
    ULONG(WINAPI *Release)(IDirectDrawPalette *This);
    HRESULT(WINAPI *GetCaps)(IDirectDrawPalette *This, LPDWORD lpdwCaps);
    HRESULT(WINAPI *GetEntries)
    (IDirectDrawPalette *This, DWORD dwFlags, DWORD dwBase, DWORD dwNumEntries,
     LPPALETTEENTRY lpEntries);
    HRESULT(WINAPI *Initialize)
    (IDirectDrawPalette *This, LPDIRECTDRAW lpDD, DWORD dwFlags, LPPALETTEENTRY lpDDColorTable);
    HRESULT(WINAPI *SetEntries)
    (IDirectDrawPalette *This, DWORD dwFlags, DWORD dwStartingEntry, DWORD dwCount,
     LPPALETTEENTRY lpEntries);
} IDirectDrawPaletteVtbl;

struct IDirectDrawPalette {
    const IDirectDrawPaletteVtbl *lpVtbl;
};

#define IDirectDrawPalette_QueryInterface(p, a, b) (p)->lpVtbl->QueryInterface(p, a, b)
#define IDirectDrawPalette_AddRef(p) (p)->lpVtbl->AddRef(p)
#define IDirectDrawPalette_Release(p) (p)->lpVtbl->Release(p)
#define IDirectDrawPalette_GetCaps(p, a) (p)->lpVtbl->GetCaps(p, a)
#define IDirectDrawPalette_GetEntries(p, a, b, c, d) (p)->lpVtbl->GetEntries(p, a, b, c, d)
#define IDirectDrawPalette_Initialize(p, a, b, c) (p)->lpVtbl->Initialize(p, a, b, c)
#define IDirectDrawPalette_SetEntries(p, a, b, c, d) (p)->lpVtbl->SetEntries(p, a, b, c, d)

typedef struct IDirectDrawClipperVtbl {
    HRESULT(WINAPI *QueryInterface)(IDirectDrawClipper *This, REFIID riid, void **ppvObject);
    ULONG(WINAPI *AddRef)(IDirectDrawClipper *This);
    ULONG(WINAPI *Release)(IDirectDrawClipper *This);
    HRESULT(WINAPI *GetClipList)
    (IDirectDrawClipper *This, LPRECT lpRect, LPRGNDATA lpClipList, LPDWORD lpdwSize);
    HRESULT(WINAPI *GetHWnd)(IDirectDrawClipper *This, HWND *lphWnd);
    HRESULT(WINAPI *Initialize)(IDirectDrawClipper *This, LPDIRECTDRAW lpDD, DWORD dwFlags);
    HRESULT(WINAPI *IsClipListChanged)(IDirectDrawClipper *This, BOOL *lpbChanged);
    HRESULT(WINAPI *SetClipList)(IDirectDrawClipper *This, LPRGNDATA lpClipList, DWORD dwFlags);
    HRESULT(WINAPI *SetHWnd)(IDirectDrawClipper *This, DWORD dwFlags, HWND hWnd);
} IDirectDrawClipperVtbl;

struct IDirectDrawClipper {
    const IDirectDrawClipperVtbl *lpVtbl;
};

#define IDirectDrawClipper_QueryInterface(p, a, b) (p)->lpVtbl->QueryInterface(p, a, b)
#define IDirectDrawClipper_AddRef(p) (p)->lpVtbl->AddRef(p)
#define IDirectDrawClipper_Release(p) (p)->lpVtbl->Release(p)
#define IDirectDrawClipper_GetClipList(p, a, b, c) (p)->lpVtbl->GetClipList(p, a, b, c)
#define IDirectDrawClipper_GetHWnd(p, a) (p)->lpVtbl->GetHWnd(p, a)
#define IDirectDrawClipper_Initialize(p, a, b) (p)->lpVtbl->Initialize(p, a, b)
#define IDirectDrawClipper_IsClipListChanged(p, a) (p)->lpVtbl->IsClipListChanged(p, a)
#define IDirectDrawClipper_SetClipList(p, a, b) (p)->lpVtbl->SetClipList(p, a, b)
#define IDirectDrawClipper_SetHWnd(p, a, b) (p)->lpVtbl->SetHWnd(p, a, b)

/* The surface methods, shared by IDirectDrawSurface (S = LPDIRECTDRAWSURFACE) and
 * IDirectDrawSurface2 (S = LPDIRECTDRAWSURFACE2), which adds three at the end. */
#define PLAT_DDSURFACE_METHODS(I, S)                                                               \
    HRESULT(WINAPI *QueryInterface)(I * This, REFIID riid, void **ppvObject);                      \
    ULONG(WINAPI *AddRef)(I * This);                                                               \
    ULONG(WINAPI *Release)(I * This);                                                              \
    HRESULT(WINAPI *AddAttachedSurface)(I * This, S lpDDSAttachedSurface);                         \
    HRESULT(WINAPI *AddOverlayDirtyRect)(I * This, LPRECT lpRect);                                 \
    HRESULT(WINAPI *Blt)                                                                           \
    (I * This, LPRECT lpDestRect, S lpDDSrcSurface, LPRECT lpSrcRect, DWORD dwFlags,               \
     LPDDBLTFX lpDDBltFx);                                                                         \
    HRESULT(WINAPI *BltBatch)(I * This, LPDDBLTBATCH lpDDBltBatch, DWORD dwCount, DWORD dwFlags);  \
    HRESULT(WINAPI *BltFast)                                                                       \
    (I * This, DWORD dwX, DWORD dwY, S lpDDSrcSurface, LPRECT lpSrcRect, DWORD dwTrans);           \
    HRESULT(WINAPI *DeleteAttachedSurface)(I * This, DWORD dwFlags, S lpDDSAttachedSurface);       \
    HRESULT(WINAPI *EnumAttachedSurfaces)                                                          \
    (I * This, LPVOID lpContext, LPDDENUMSURFACESCALLBACK lpEnumSurfacesCallback);                 \
    HRESULT(WINAPI *EnumOverlayZOrders)                                                            \
    (I * This, DWORD dwFlags, LPVOID lpContext, LPDDENUMSURFACESCALLBACK lpfnCallback);            \
    HRESULT(WINAPI *Flip)(I * This, S lpDDSurfaceTargetOverride, DWORD dwFlags);                   \
    HRESULT(WINAPI *GetAttachedSurface)(I * This, LPDDSCAPS lpDDSCaps, S * lplpDDAttachedSurface); \
    HRESULT(WINAPI *GetBltStatus)(I * This, DWORD dwFlags);                                        \
    HRESULT(WINAPI *GetCaps)(I * This, LPDDSCAPS lpDDSCaps);                                       \
    HRESULT(WINAPI *GetClipper)(I * This, LPDIRECTDRAWCLIPPER * lplpDDClipper);                    \
    HRESULT(WINAPI *GetColorKey)(I * This, DWORD dwFlags, LPDDCOLORKEY lpDDColorKey);              \
    HRESULT(WINAPI *GetDC)(I * This, HDC * lphDC);                                                 \
    HRESULT(WINAPI *GetFlipStatus)(I * This, DWORD dwFlags);                                       \
    HRESULT(WINAPI *GetOverlayPosition)(I * This, LPLONG lplX, LPLONG lplY);                       \
    HRESULT(WINAPI *GetPalette)(I * This, LPDIRECTDRAWPALETTE * lplpDDPalette);                    \
    HRESULT(WINAPI *GetPixelFormat)(I * This, LPDDPIXELFORMAT lpDDPixelFormat);                    \
    HRESULT(WINAPI *GetSurfaceDesc)(I * This, LPDDSURFACEDESC lpDDSurfaceDesc);                    \
    HRESULT(WINAPI *Initialize)(I * This, LPDIRECTDRAW lpDD, LPDDSURFACEDESC lpDDSurfaceDesc);     \
    HRESULT(WINAPI *IsLost)(I * This);                                                             \
    HRESULT(WINAPI *Lock)                                                                          \
    (I * This, LPRECT lpDestRect, LPDDSURFACEDESC lpDDSurfaceDesc, DWORD dwFlags, HANDLE hEvent);  \
    HRESULT(WINAPI *ReleaseDC)(I * This, HDC hDC);                                                 \
    HRESULT(WINAPI *Restore)(I * This);                                                            \
    HRESULT(WINAPI *SetClipper)(I * This, LPDIRECTDRAWCLIPPER lpDDClipper);                        \
    HRESULT(WINAPI *SetColorKey)(I * This, DWORD dwFlags, LPDDCOLORKEY lpDDColorKey);              \
    HRESULT(WINAPI *SetOverlayPosition)(I * This, LONG lX, LONG lY);                               \
    HRESULT(WINAPI *SetPalette)(I * This, LPDIRECTDRAWPALETTE lpDDPalette);                        \
    HRESULT(WINAPI *Unlock)(I * This, LPVOID lpSurfaceData);                                       \
    HRESULT(WINAPI *UpdateOverlay)                                                                 \
    (I * This, LPRECT lpSrcRect, S lpDDDestSurface, LPRECT lpDestRect, DWORD dwFlags,              \
     LPDDOVERLAYFX lpDDOverlayFx);                                                                 \
    HRESULT(WINAPI *UpdateOverlayDisplay)(I * This, DWORD dwFlags);                                \
    HRESULT(WINAPI *UpdateOverlayZOrder)(I * This, DWORD dwFlags, S lpDDSReference);

typedef struct IDirectDrawSurfaceVtbl {
    PLAT_DDSURFACE_METHODS(IDirectDrawSurface, LPDIRECTDRAWSURFACE)
} IDirectDrawSurfaceVtbl;

struct IDirectDrawSurface {
    const IDirectDrawSurfaceVtbl *lpVtbl;
};

typedef struct IDirectDrawSurface2Vtbl {
    PLAT_DDSURFACE_METHODS(IDirectDrawSurface2, LPDIRECTDRAWSURFACE2)
    HRESULT(WINAPI *GetDDInterface)(IDirectDrawSurface2 *This, LPVOID *lplpDD);
    HRESULT(WINAPI *PageLock)(IDirectDrawSurface2 *This, DWORD dwFlags);
    HRESULT(WINAPI *PageUnlock)(IDirectDrawSurface2 *This, DWORD dwFlags);
} IDirectDrawSurface2Vtbl;

struct IDirectDrawSurface2 {
    const IDirectDrawSurface2Vtbl *lpVtbl;
};

#define IDirectDrawSurface_QueryInterface(p, a, b) (p)->lpVtbl->QueryInterface(p, a, b)
#define IDirectDrawSurface_AddRef(p) (p)->lpVtbl->AddRef(p)
#define IDirectDrawSurface_Release(p) (p)->lpVtbl->Release(p)
#define IDirectDrawSurface_AddAttachedSurface(p, a) (p)->lpVtbl->AddAttachedSurface(p, a)
#define IDirectDrawSurface_AddOverlayDirtyRect(p, a) (p)->lpVtbl->AddOverlayDirtyRect(p, a)
#define IDirectDrawSurface_Blt(p, a, b, c, d, e) (p)->lpVtbl->Blt(p, a, b, c, d, e)
#define IDirectDrawSurface_BltBatch(p, a, b, c) (p)->lpVtbl->BltBatch(p, a, b, c)
#define IDirectDrawSurface_BltFast(p, a, b, c, d, e) (p)->lpVtbl->BltFast(p, a, b, c, d, e)
#define IDirectDrawSurface_DeleteAttachedSurface(p, a, b)                                          \
    (p)->lpVtbl->DeleteAttachedSurface(p, a, b)
#define IDirectDrawSurface_EnumAttachedSurfaces(p, a, b) (p)->lpVtbl->EnumAttachedSurfaces(p, a, b)
#define IDirectDrawSurface_EnumOverlayZOrders(p, a, b, c)                                          \
    (p)->lpVtbl->EnumOverlayZOrders(p, a, b, c)
#define IDirectDrawSurface_Flip(p, a, b) (p)->lpVtbl->Flip(p, a, b)
#define IDirectDrawSurface_GetAttachedSurface(p, a, b) (p)->lpVtbl->GetAttachedSurface(p, a, b)
#define IDirectDrawSurface_GetBltStatus(p, a) (p)->lpVtbl->GetBltStatus(p, a)
#define IDirectDrawSurface_GetCaps(p, a) (p)->lpVtbl->GetCaps(p, a)
#define IDirectDrawSurface_GetClipper(p, a) (p)->lpVtbl->GetClipper(p, a)
#define IDirectDrawSurface_GetColorKey(p, a, b) (p)->lpVtbl->GetColorKey(p, a, b)
#define IDirectDrawSurface_GetDC(p, a) (p)->lpVtbl->GetDC(p, a)
#define IDirectDrawSurface_GetFlipStatus(p, a) (p)->lpVtbl->GetFlipStatus(p, a)
#define IDirectDrawSurface_GetOverlayPosition(p, a, b) (p)->lpVtbl->GetOverlayPosition(p, a, b)
#define IDirectDrawSurface_GetPalette(p, a) (p)->lpVtbl->GetPalette(p, a)
#define IDirectDrawSurface_GetPixelFormat(p, a) (p)->lpVtbl->GetPixelFormat(p, a)
#define IDirectDrawSurface_GetSurfaceDesc(p, a) (p)->lpVtbl->GetSurfaceDesc(p, a)
#define IDirectDrawSurface_Initialize(p, a, b) (p)->lpVtbl->Initialize(p, a, b)
#define IDirectDrawSurface_IsLost(p) (p)->lpVtbl->IsLost(p)
#define IDirectDrawSurface_Lock(p, a, b, c, d) (p)->lpVtbl->Lock(p, a, b, c, d)
#define IDirectDrawSurface_ReleaseDC(p, a) (p)->lpVtbl->ReleaseDC(p, a)
#define IDirectDrawSurface_Restore(p) (p)->lpVtbl->Restore(p)
#define IDirectDrawSurface_SetClipper(p, a) (p)->lpVtbl->SetClipper(p, a)
#define IDirectDrawSurface_SetColorKey(p, a, b) (p)->lpVtbl->SetColorKey(p, a, b)
#define IDirectDrawSurface_SetOverlayPosition(p, a, b) (p)->lpVtbl->SetOverlayPosition(p, a, b)
#define IDirectDrawSurface_SetPalette(p, a) (p)->lpVtbl->SetPalette(p, a)
#define IDirectDrawSurface_Unlock(p, b) (p)->lpVtbl->Unlock(p, b)
#define IDirectDrawSurface_UpdateOverlay(p, a, b, c, d, e)                                         \
    (p)->lpVtbl->UpdateOverlay(p, a, b, c, d, e)
#define IDirectDrawSurface_UpdateOverlayDisplay(p, a) (p)->lpVtbl->UpdateOverlayDisplay(p, a)
#define IDirectDrawSurface_UpdateOverlayZOrder(p, a, b) (p)->lpVtbl->UpdateOverlayZOrder(p, a, b)

#define IDirectDrawSurface2_QueryInterface(p, a, b) (p)->lpVtbl->QueryInterface(p, a, b)
#define IDirectDrawSurface2_AddRef(p) (p)->lpVtbl->AddRef(p)
#define IDirectDrawSurface2_Release(p) (p)->lpVtbl->Release(p)
#define IDirectDrawSurface2_AddAttachedSurface(p, a) (p)->lpVtbl->AddAttachedSurface(p, a)
#define IDirectDrawSurface2_AddOverlayDirtyRect(p, a) (p)->lpVtbl->AddOverlayDirtyRect(p, a)
#define IDirectDrawSurface2_Blt(p, a, b, c, d, e) (p)->lpVtbl->Blt(p, a, b, c, d, e)
#define IDirectDrawSurface2_BltBatch(p, a, b, c) (p)->lpVtbl->BltBatch(p, a, b, c)
#define IDirectDrawSurface2_BltFast(p, a, b, c, d, e) (p)->lpVtbl->BltFast(p, a, b, c, d, e)
#define IDirectDrawSurface2_DeleteAttachedSurface(p, a, b)                                         \
    (p)->lpVtbl->DeleteAttachedSurface(p, a, b)
#define IDirectDrawSurface2_EnumAttachedSurfaces(p, a, b) (p)->lpVtbl->EnumAttachedSurfaces(p, a, b)
#define IDirectDrawSurface2_EnumOverlayZOrders(p, a, b, c)                                         \
    (p)->lpVtbl->EnumOverlayZOrders(p, a, b, c)
#define IDirectDrawSurface2_Flip(p, a, b) (p)->lpVtbl->Flip(p, a, b)
#define IDirectDrawSurface2_GetAttachedSurface(p, a, b) (p)->lpVtbl->GetAttachedSurface(p, a, b)
#define IDirectDrawSurface2_GetBltStatus(p, a) (p)->lpVtbl->GetBltStatus(p, a)
#define IDirectDrawSurface2_GetCaps(p, a) (p)->lpVtbl->GetCaps(p, a)
#define IDirectDrawSurface2_GetClipper(p, a) (p)->lpVtbl->GetClipper(p, a)
#define IDirectDrawSurface2_GetColorKey(p, a, b) (p)->lpVtbl->GetColorKey(p, a, b)
#define IDirectDrawSurface2_GetDC(p, a) (p)->lpVtbl->GetDC(p, a)
#define IDirectDrawSurface2_GetFlipStatus(p, a) (p)->lpVtbl->GetFlipStatus(p, a)
#define IDirectDrawSurface2_GetOverlayPosition(p, a, b) (p)->lpVtbl->GetOverlayPosition(p, a, b)
#define IDirectDrawSurface2_GetPalette(p, a) (p)->lpVtbl->GetPalette(p, a)
#define IDirectDrawSurface2_GetPixelFormat(p, a) (p)->lpVtbl->GetPixelFormat(p, a)
#define IDirectDrawSurface2_GetSurfaceDesc(p, a) (p)->lpVtbl->GetSurfaceDesc(p, a)
#define IDirectDrawSurface2_Initialize(p, a, b) (p)->lpVtbl->Initialize(p, a, b)
#define IDirectDrawSurface2_IsLost(p) (p)->lpVtbl->IsLost(p)
#define IDirectDrawSurface2_Lock(p, a, b, c, d) (p)->lpVtbl->Lock(p, a, b, c, d)
#define IDirectDrawSurface2_ReleaseDC(p, a) (p)->lpVtbl->ReleaseDC(p, a)
#define IDirectDrawSurface2_Restore(p) (p)->lpVtbl->Restore(p)
#define IDirectDrawSurface2_SetClipper(p, a) (p)->lpVtbl->SetClipper(p, a)
#define IDirectDrawSurface2_SetColorKey(p, a, b) (p)->lpVtbl->SetColorKey(p, a, b)
#define IDirectDrawSurface2_SetOverlayPosition(p, a, b) (p)->lpVtbl->SetOverlayPosition(p, a, b)
#define IDirectDrawSurface2_SetPalette(p, a) (p)->lpVtbl->SetPalette(p, a)
#define IDirectDrawSurface2_Unlock(p, b) (p)->lpVtbl->Unlock(p, b)
#define IDirectDrawSurface2_UpdateOverlay(p, a, b, c, d, e)                                        \
    (p)->lpVtbl->UpdateOverlay(p, a, b, c, d, e)
#define IDirectDrawSurface2_UpdateOverlayDisplay(p, a) (p)->lpVtbl->UpdateOverlayDisplay(p, a)
#define IDirectDrawSurface2_UpdateOverlayZOrder(p, a, b) (p)->lpVtbl->UpdateOverlayZOrder(p, a, b)

#define IDirectDrawSurface2_GetDDInterface(p, a) (p)->lpVtbl->GetDDInterface(p, a)
#define IDirectDrawSurface2_PageLock(p, a) (p)->lpVtbl->PageLock(p, a)
#define IDirectDrawSurface2_PageUnlock(p, a) (p)->lpVtbl->PageUnlock(p, a)

/* ---- the device ----------------------------------------------------------------- */

/* Creates a DirectDraw object: lpGUID null for the default display driver, a driver's
 * identifier from DirectDrawEnumerateA, or DDCREATE_EMULATIONONLY for the software
 * emulation. pUnkOuter must be null. */
HRESULT WINAPI DirectDrawCreate(GUID *lpGUID, LPDIRECTDRAW *lplpDD, IUnknown *pUnkOuter);

/* Calls lpCallback for each display driver: first the primary display driver (null
 * identifier), then each hardware driver of the profile, while it returns TRUE. */
HRESULT WINAPI DirectDrawEnumerateA(LPDDENUMCALLBACKA lpCallback, LPVOID lpContext);

#endif /* _WIN32 */

/* The layouts the display modules rely on. */
static_assert(sizeof(PALETTEENTRY) == 4, "PALETTEENTRY layout");
static_assert(sizeof(DDPIXELFORMAT) == 32, "DDPIXELFORMAT layout");
static_assert(sizeof(DDCAPS) == 364, "DDCAPS layout");
static_assert(sizeof(DDSURFACEDESC) == (sizeof(void *) == 4 ? 108 : 120), "DDSURFACEDESC layout");
static_assert(sizeof(DDBLTFX) == (sizeof(void *) == 4 ? 100 : 128), "DDBLTFX layout");

#endif /* PLAT_DDRAW_H */
