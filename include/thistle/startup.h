/*
 * thistle/startup.h - the application's name and the display record that the window
 * and display modules share.
 *
 * The record holds interface pointers of the display device as pointers to incomplete
 * types, and the window handle as void *, so that this header needs no platform header.
 * Threads: the window thread and the calling threads share the record; the display
 * modules say which lock covers which field.
 */
#ifndef THISTLE_STARTUP_H
#define THISTLE_STARTUP_H

#include <cstdint>

struct IDirectDraw2;
struct IDirectDrawClipper;
struct IDirectDrawPalette;
struct IDirectDrawSurface;

/* The application's name, also the main window's class name and title; null until
 * the program or the library sets it. */
extern char *applicationname;

/* The one record that describes the display. */
struct displayrecord {
    IDirectDraw2 *directdraw;    /* null: the device is not initialised */
    IDirectDrawClipper *clipper; /* clipper on the window (windowed display only) */
    int32_t modecount;           /* display mode records in modelist */
    int32_t modeindex;           /* current display mode; -1 the default mode */
    void *modelist;              /* "DDRAWMODES" block of display mode records */
    int32_t width;               /* display area in pixels (client area when windowed) */
    int32_t height;
    int32_t bitcount;                  /* bits per pixel of the display */
    int32_t memclass;                  /* memory class of the library back window */
    IDirectDrawPalette *palette;       /* device palette or null */
    uint8_t entries[256][4];           /* palette entries: red, green, blue, flags */
    int16_t dirtyfirst;                /* first entry changed since the last upload; 256: none */
    int16_t dirtylast;                 /* last changed entry; -1: none */
    uint8_t sysmemback;                /* back buffer kept out of video memory ('B') */
    uint8_t drambuffer;                /* back buffer in system memory ('D') */
    uint8_t libmemback;                /* back buffer is a library raster window ('L') */
    uint8_t pagesrequested;            /* video pages asked for: 1 or 2 */
    IDirectDrawSurface *lockedsurface; /* surface locked by locksurface, or null */
    void *lockedpixels;                /* its pixels while locked */
    IDirectDrawSurface *primary;       /* primary surface */
    IDirectDrawSurface *back;          /* back surface (flip chain or off-screen) */
    void *screenwindow;                /* raster window over the primary surface */
    void *backwindow;                  /* raster window over the back surface */
    void *hwnd;                        /* the main window; null when there is none */
    uint8_t depth;                     /* significant colour bits: 15, 16, else bitcount */
    uint8_t fullscreen;                /* exclusive full-screen display when set */
    uint8_t modexrequested;            /* ModeX asked for */
    uint8_t ismodex;                   /* the primary surface is a ModeX surface */
    uint8_t canflip;                   /* the hardware can flip */
    uint8_t bankswitched;              /* bank-switched video memory */
    uint8_t pages;                     /* video pages in use: 1 or 2 */
    int32_t originx;                   /* screen position of the display area's corner */
    int32_t originy;
    int32_t createcount; /* device objects created so far */
    int32_t appactive;   /* the application is active */
};

/* The library's display record. */
extern displayrecord display;

#endif /* THISTLE_STARTUP_H */
