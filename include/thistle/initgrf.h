/*
 * thistle/initgrf.h - the graphics options a program sets before graphics start.
 *
 * Threads: set on the program's thread before the window is opened; read by the window
 * thread when it creates the window.
 */
#ifndef THISTLE_INITGRF_H
#define THISTLE_INITGRF_H

#include <cstdint>

constexpr int32_t GRF_FULLSCREEN = 0x01; /* exclusive full screen; windowed when clear */
constexpr int32_t GRF_DRAMBACK = 0x02;   /* back buffer in system memory */
constexpr int32_t GRF_SYSMEMBACK = 0x04; /* back buffer out of video memory */
constexpr int32_t GRF_LIBMEM = 0x08;     /* back buffer is a library raster window */
constexpr int32_t GRF_MODEX = 0x10;      /* ModeX display, two pages */
constexpr int32_t GRF_RESIZABLE = 0x20;  /* windowed: sizing frame and maximise box */
constexpr int32_t GRF_SINGLEPAGE = 0x40; /* one video page even when two are asked */
constexpr int32_t GRF_EMULATION = 0x80;  /* display device in software emulation only */

/* The options; start value GRF_FULLSCREEN | GRF_SYSMEMBACK | GRF_SINGLEPAGE. */
extern int32_t graphicsflags;

/* The screen as graphics initialisation left it, for the drawing modules. screendepth is
 * also the depth of windows created with depth 0; 0 before graphics are up. */
extern int32_t screenwidth, screenheight, screendepth, screenmode;
extern int32_t viewx, viewy, viewwidth, viewheight;

#endif /* THISTLE_INITGRF_H */
