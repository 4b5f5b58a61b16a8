/*
 * plat/ddrawtest.h - test control of the software DirectDraw (POSIX only).
 *
 * A driver profile describes the display hardware the program meets (drivers, modes,
 * capabilities, video memory); faults make the device refuse or lose things the way
 * real drivers do, so every fallback of the display code runs headless. Profiles and
 * faults are process-wide. Objects take the profile when DirectDrawCreate makes them;
 * faults act on the calls made after they are set. docs/platform-ddraw.md describes the
 * profile file format and the built-in profiles.
 *
 * Not installed; programs built on the layer have no use for it.
 */
#ifndef PLAT_DDRAWTEST_H
#define PLAT_DDRAWTEST_H

#ifndef _WIN32
#include "plat/ddraw.h"

/* ---- profiles ------------------------------------------------------------------ */

/* Chooses the driver profile for DirectDraw objects created from now on: a built-in
 * profile by name ("modern", "8bit", "noflip", "bankswitched", "largermode",
 * "emulation"), else a profile file by path. Returns 1 when found; otherwise writes one
 * line to standard error, chooses the default profile ("modern") and returns 0.
 * Null chooses what THISTLE_DDRAW_PROFILE names (the default when it is unset). */
int plat_ddrawsetprofile(const char *nameorpath);

/* The name of the profile in use. */
const char *plat_ddrawprofilename(void);

/* ---- faults -------------------------------------------------------------------- */

/* Kinds of surface, for plat_ddrawfailsurfaces and plat_ddrawfailfirstlock. A surface
 * is of every kind that applies to it. */
enum {
    PLAT_DDKIND_PRIMARY = 0x01,      /* the primary surface, with or without back buffers */
    PLAT_DDKIND_FLIPCHAIN = 0x02,    /* a primary with back buffers */
    PLAT_DDKIND_VIDEOMEMORY = 0x04,  /* placed in video memory */
    PLAT_DDKIND_SYSTEMMEMORY = 0x08, /* placed in system memory */
    PLAT_DDKIND_OFFSCREEN = 0x10,    /* an off-screen plain surface */
    PLAT_DDKIND_ANY = 0x1F,
};

/* Drivers, for plat_ddrawfailcreate. */
enum {
    PLAT_DDCREATE_DEFAULT = 0x01,   /* DirectDrawCreate with a null identifier */
    PLAT_DDCREATE_DRIVER = 0x02,    /* DirectDrawCreate with a hardware driver's identifier */
    PLAT_DDCREATE_HARDWARE = 0x03,  /* both of them */
    PLAT_DDCREATE_EMULATION = 0x04, /* DirectDrawCreate with DDCREATE_EMULATIONONLY */
    PLAT_DDCREATE_DDRAW2 = 0x08,    /* QueryInterface for IDirectDraw2 (E_NOINTERFACE) */
};

/* SetDisplayMode of width x height x bpp fails with DDERR_INVALIDMODE; 0 in a field
 * matches any value. Up to 16 refusals add up until reset. */
void plat_ddrawrefusemode(DWORD width, DWORD height, DWORD bpp);

/* 1: SetDisplayMode answers DDERR_NOEXCLUSIVEMODE while no window of the program is
 * active (GetActiveWindow is null), as when a full-screen program is in the background. */
void plat_ddrawneedactive(int on);

/* CreateSurface of a surface of any of the kinds fails (DDERR_OUTOFVIDEOMEMORY for
 * video memory, DDERR_NOFLIPHW for a flip chain, else DDERR_GENERIC); 0 ends it. */
void plat_ddrawfailsurfaces(DWORD kinds);

/* Surfaces of any of the kinds created from now on refuse their first Lock
 * (DDERR_CANTLOCKSURFACE); 0 ends it for new surfaces. */
void plat_ddrawfailfirstlock(DWORD kinds);

/* Every surface that exists now is lost: IsLost, Lock, Blt and Flip answer
 * DDERR_SURFACELOST until the surface is restored. */
void plat_ddrawloseall(void);

/* 1: Restore fails (DDERR_WRONGMODE) and the surface stays lost. */
void plat_ddrawfailrestore(int on);

/* DirectDrawCreate, or the IDirectDraw2 query, fails for the drivers given (the
 * PLAT_DDCREATE_ bits); 0 ends it. */
void plat_ddrawfailcreate(DWORD which);

/* The next count GetFlipStatus (DDGFS_ISFLIPDONE) and GetBltStatus (DDGBS_ISBLTDONE)
 * calls answer DDERR_WASSTILLDRAWING, as while the hardware is still busy. */
void plat_ddrawstilldrawing(int count);

/* Ends every fault, chooses the profile THISTLE_DDRAW_PROFILE names again and clears
 * the presentation record. Objects that still exist stay as they are. */
void plat_ddrawreset(void);

/* ---- what the device did --------------------------------------------------------- */

/* The last frame the device handed to the backend (Flip, Unlock or Blt of the primary,
 * a palette change of the primary, a repaint of its window). */
typedef struct plat_ddrawpresented {
    int count; /* frames presented since the last reset */
    HWND hwnd; /* the window showing the display */
    int width, height, bitcount;
    int fullscreen;
    RECT dirty; /* the part of the frame that changed */
    RECT view;  /* the part of the frame the window shows */
} plat_ddrawpresented;

/* Copies the record of the last presentation; returns its count (0: none yet). */
int plat_ddrawlastpresent(plat_ddrawpresented *out);

/* Number of DirectDraw objects, surfaces, palettes and clippers alive, for leak
 * checks: each pointer may be null. */
void plat_ddrawlive(int *objects, int *surfaces, int *palettes, int *clippers);

#endif /* _WIN32 */
#endif /* PLAT_DDRAWTEST_H */
