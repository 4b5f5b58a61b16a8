/*
 * thistle/ddraw.h - the display device: DirectDraw and its mode list, display
 * configuration and surfaces, blits, the palette transfer, and the surface lock with its
 * recovery from lost surfaces, page flips.
 *
 * Threads: device creation, the cooperative level, mode switches and configuration run on
 * the window thread inside the graphics requests; configuration and disposal hold liblock.
 * A thread that has a surface locked (locksurface) holds liblock until it unlocks. The
 * queries, blits and the lock run on any thread.
 * Surfaces and interfaces are incomplete types here, so that this header needs no
 * platform header; DirectDraw result codes are reduced to their low 16 bits.
 */
#ifndef THISTLE_DDRAW_H
#define THISTLE_DDRAW_H

#include <cstdint>

struct displayrecord;
struct rasterwindow;
struct IDirectDrawSurface;
struct IDirectDrawPalette;

/* One display mode of the "DDRAWMODES" list. */
struct displaymode {
    uint32_t width;
    uint32_t height;
    uint32_t refresh;   /* refresh rate when the driver gave one */
    uint32_t flags;     /* ddrawcaps at enumeration plus the DM_ bits */
    uint16_t pagecount; /* 1 + the driver's back-buffer count */
    uint8_t bitcount;   /* bits per pixel */
    uint8_t depth;      /* significant colour bits: 15 or 16 for 16-bit formats */
};
static_assert(sizeof(displaymode) == 20, "display mode record is 20 bytes");

/* Mode bits of displaymode.flags (the rest are ddrawcaps bits). */
constexpr uint32_t DM_ALPHADEPTH = 0x1;     /* the mode gives an alpha depth */
constexpr uint32_t DM_ZBUFFERDEPTH = 0x2;   /* the mode gives a z-buffer depth */
constexpr uint32_t DM_MODEX = 0x4;          /* a ModeX mode */
constexpr uint32_t DM_CANFLIP = 0x10;       /* set on the current mode when it flips */
constexpr uint32_t DM_FAILED = 0x80000000u; /* setting the mode failed; skipped */

/* What getdisplaymodeinfo tells about a mode. */
struct displaymodeinfo {
    int32_t width;
    int32_t height;
    int32_t depth;
    int32_t type;  /* raster window type code of the bit count */
    int32_t flags; /* DMI_ bits */
};
static_assert(sizeof(displaymodeinfo) == 20, "mode information record is 20 bytes");

constexpr int32_t DMI_BANKSWITCHED = 0x002;
constexpr int32_t DMI_MODEX = 0x004;
constexpr int32_t DMI_PAGEFLIP = 0x008;
constexpr int32_t DMI_ZBUFFER = 0x010;
constexpr int32_t DMI_BLTSYSMEM = 0x020;
constexpr int32_t DMI_BLT = 0x040;
constexpr int32_t DMI_COLORFILL = 0x080;
constexpr int32_t DMI_STRETCH = 0x100;
constexpr int32_t DMI_COLORKEY = 0x200;
constexpr int32_t DMI_3D = 0x400;
constexpr int32_t DMI_VBI = 0x800;

/* ddrawcaps bits, from the hardware capabilities. */
constexpr uint32_t DC_BANKSWITCHED = 0x08;
constexpr uint32_t DC_FLIP = 0x10;
constexpr uint32_t DC_3D = 0x20;
constexpr uint32_t DC_BLT = 0x40;
constexpr uint32_t DC_COLORFILL = 0x80;
constexpr uint32_t DC_STRETCH = 0x100;
constexpr uint32_t DC_COLORKEY = 0x200;
constexpr uint32_t DC_BLTSYSMEM = 0x400;
constexpr uint32_t DC_VBI = 0x800;

/* availabledepths bits. */
constexpr uint32_t AD_8 = 0x01;
constexpr uint32_t AD_15 = 0x02;
constexpr uint32_t AD_16 = 0x04;
constexpr uint32_t AD_24 = 0x08;
constexpr uint32_t AD_32 = 0x10;

/* Result of a lock that was not tried: the full-screen application is inactive or
 * minimised. */
constexpr int32_t LOCK_REFUSED = 0xEACBAD;

/* ---- device variables ------------------------------------------------------------ */

/* Preferred display driver (16-byte identifier; all zero: none). Set by the program. */
extern uint8_t displaydriverguid[16];
/* The full-screen cooperative level allows ModeX modes (start 1). Set by the program. */
extern int32_t allowmodex;
/* Capability word of the hardware driver (DC_ bits), rebuilt by opendirectdraw. */
extern uint32_t ddrawcaps;
/* Depths seen by the last mode enumeration (AD_ bits). */
extern uint32_t availabledepths;

/* ---- lock timing ---------------------------------------------------------------- */

/* GetTickCount when the current lock was taken. */
extern uint32_t locktick;
/* Milliseconds the last lock was held; -1 after a failed lock, 0 after a failed relock. */
extern int32_t lastlocktime;
/* Longest lastlocktime seen. */
extern int32_t maxlocktime;
/* 1 after a failed locksurface; 0 after a successful one or any unlock. */
extern int32_t lockfailed;
/* The last lock succeeded (start 1); the failure and recovery traces appear once per
 * change of it. */
extern int32_t lockok;

/* ---- device and mode list --------------------------------------------------------- */

/* Creates the device of record (null: the library's): the preferred driver, the default
 * driver, then emulation; takes its second interface and rebuilds ddrawcaps. 1 when the
 * record has a device afterwards, else 0 with grfop_error set. Window thread. */
int32_t opendirectdraw(displayrecord *record);
/* Sets the cooperative level for the record's window and builds the mode list (at least
 * 16 records). 1 on success, else 0 with grfop_error set. Window thread. */
int32_t enumdisplaymodes(displayrecord *record);
/* Releases the display device of record (null: the library's record): surfaces,
 * windows, the mode list and the device. Nothing when it has no device. */
void disposewindisplay(displayrecord *record);
/* Number of modes of the library's record, initialising graphics first if needed. */
int32_t getnumdisplaymodes(void);
/* Fills info for mode index (-1: the windowed desktop). 1 when filled, else 0. */
int32_t getdisplaymodeinfo(int32_t index, displaymodeinfo *info);
/* Video memory (total, free), bank switching (1/0) and, with depths given, the depths of
 * a fresh count of the modes. Each pointer may be null. 1 when modes were seen. */
int32_t getddrawinfo(displayrecord *record, uint32_t *total, uint32_t *free, int32_t *bankswitched,
                     uint32_t *depths);
/* Total video memory in bytes (initialising graphics if needed), or 0; stores the
 * depths and bank switching like getddrawinfo. */
uint32_t getvideomemory(uint32_t *depths, int32_t *bankswitched);
/* Calls callback for every display driver with its 16-byte identifier (all zero for the
 * primary display driver), its description and its name. The platform's result. */
typedef void (*displaydriverfunction)(const uint8_t *guid, const char *description,
                                      const char *name);
int32_t enumdisplaydrivers(displaydriverfunction callback);
/* The current scan line, or -1. */
int32_t getscanline(displayrecord *record);
/* Non-zero while the display is in its vertical blank. */
int32_t getverticalblank(displayrecord *record);
/* Waits for the end (which 2) or else the beginning of the vertical blank; the result
 * of the wait (0 on success). */
int32_t waitverticalblank(displayrecord *record, int32_t which);
/* Brings the record's window to the foreground. */
void bringdisplaytofront(displayrecord *record);

/* ---- configuration and surfaces ------------------------------------------------------ */

/* Switches to mode m of the list (-1: 640 x 480 x 16), or, windowed, fits the window
 * to the record's size. 1 done, 0 failed (the mode is marked DM_FAILED), -1 no
 * exclusive access yet (retry when active). Window thread. */
int32_t setdisplaymode(displayrecord *record, int32_t m);
/* Builds the primary and back surfaces, their raster windows and the palette for the
 * current mode. 1 on success, else 0 with grfop_error set. Window thread. */
int32_t configwindisplay(displayrecord *record);
/* Removes the screen and back windows and releases the back and primary surfaces. 1. */
int32_t disposesurfaces(displayrecord *record);
/* Creates a surface: width x height (ignored for a primary), backbuffers attached ones,
 * format 0 the primary's pixel format or negative none, caps DDSCAPS_ bits, palette
 * attached at 8 bits or fewer. The surface must lock once. The surface, or null. */
IDirectDrawSurface *makesurface(displayrecord *record, int32_t width, int32_t height,
                                int32_t bitcount, int32_t backbuffers, int32_t format,
                                uint32_t caps, IDirectDrawPalette *palette);
/* Releases surface, unlocking it first when it is the record's locked surface. */
void releasesurface(displayrecord *record, IDirectDrawSurface *surface);
/* The surface attached as back buffer / alpha surface / z-buffer, or null. */
IDirectDrawSurface *getbackbuffer(IDirectDrawSurface *surface);
IDirectDrawSurface *getalphasurface(IDirectDrawSurface *surface);
IDirectDrawSurface *getzbuffer(IDirectDrawSurface *surface);
/* Size, depth (15/16 for 16-bit formats), pitch and pixel address of surface; each
 * pointer may be null; all 0 when the description cannot be read. */
void getsurfaceinfo(IDirectDrawSurface *surface, int32_t *width, int32_t *height, int32_t *depth,
                    int32_t *pitch, void **pixels);
/* Page-locks / page-unlocks the surface's memory; the result (0 on success). */
int32_t pagelocksurface(IDirectDrawSurface *surface);
int32_t pageunlocksurface(IDirectDrawSurface *surface);
/* Non-zero when surface is lost. */
int32_t surfacelost(IDirectDrawSurface *surface);
/* Fills a rectangle with a pixel value (on the primary relative to the display area).
 * 1 on success. */
int32_t fillsurface(IDirectDrawSurface *surface, int32_t x, int32_t y, int32_t width,
                    int32_t height, uint32_t colour);
/* Blits a source rectangle to a destination rectangle (stretching as needed). options:
 * 0x1 rotate 90, 0x2 rotate 180, 0x3 rotate 270, 0x4 mirror left-right, 0x8 mirror
 * up-down, 0x10 source colour key. 1 on success. */
int32_t blitsurface(IDirectDrawSurface *destination, int32_t dx, int32_t dy, int32_t dw, int32_t dh,
                    IDirectDrawSurface *source, int32_t sx, int32_t sy, int32_t sw, int32_t sh,
                    int32_t options);
/* Moves (*x, *y) from display-area to surface coordinates: adds the origin when surface
 * is the library's primary. */
void surfacetoscreen(IDirectDrawSurface *surface, int32_t *x, int32_t *y);
/* Sends the changed palette entries (dirtyfirst..dirtylast) to the device and marks
 * none changed. Fatal while a surface is locked. */
void setwinpalette(displayrecord *record);
/* The device palette as 256 colours 0xFFRRGGBB (all 0 without a palette). */
void getwinpalette(displayrecord *record, uint32_t *colours);
/* The library record's ismodex; canflip without a system-memory back buffer;
 * bankswitched. */
int32_t isdisplaymodex(void);
int32_t canflipinvideo(void);
int32_t isbankswitched(void);

/* ---- lock and flip ------------------------------------------------------------------ */

/* Locks surface (null: only unlocks) for window (may be null), which then addresses the
 * locked pixels; the calling thread holds liblock while locked. 1 locked (or nothing to
 * lock), 0 failed (lockfailed 1). Locking the locked surface again returns 1 at once. */
int32_t locksurface(displayrecord *record, IDirectDrawSurface *surface, rasterwindow *window);
/* Unlocks the locked surface, records the lock time, leaves liblock. */
void unlocksurface(displayrecord *record);
/* Gives the lock up briefly so other threads get liblock, then locks again. 1 when the
 * lock is held again at the same address (or nothing was locked), else 0 with the
 * stand-by window current. */
int32_t relocksurface(displayrecord *record);
/* Locks surface into description (the device's surface description); with a record, a
 * lost surface is restored (the display rebuilt when that fails) and the palette
 * reloaded. The result code, 0 on success. */
int32_t lockwithrestore(displayrecord *record, IDirectDrawSurface *surface, void *description);
/* 1 when surface can be locked (it is unlocked again at once), else 0. */
int32_t testlocksurface(IDirectDrawSurface *surface);
/* Unlocks and flips the primary (waiting for the flip when wait is set). 1 when the flip
 * was accepted. */
int32_t flipdisplay(displayrecord *record, int32_t wait);
/* 0 while the last flip is still in progress, else 1. */
int32_t flipdone(displayrecord *record);
/* Returns when surface's blits are done. */
void waitblitdone(IDirectDrawSurface *surface);

#endif /* THISTLE_DDRAW_H */
