/*
 * thistle/vidwin.h - video windows: raster window records over display surfaces.
 *
 * A video window's data is the surface's first pixel and its pitch the surface's; both
 * are valid while the surface is locked and are refreshed by updatevideowindow at every
 * lock. The screen window and the back window of the display are the two built-in
 * records below; any other video window is a "VIDWIND" block of a memory class.
 *
 * Threads: no locks; like memory windows, callers serialise use of the row table.
 */
#ifndef THISTLE_VIDWIN_H
#define THISTLE_VIDWIN_H

#include "thistle/createw.h"

#include <cstdint>

struct IDirectDrawSurface;

/* Largest video window (both inclusive). */
constexpr int32_t VIDWIN_MAXWIDTH = 2400;
constexpr int32_t VIDWIN_MAXHEIGHT = 1600;
/* Memory classes of makevideowindow that stand for the built-in records. */
constexpr int32_t VIDWIN_SCREEN = -1;
constexpr int32_t VIDWIN_BACK = -2;

/* The built-in records filled for memory class -1 and -2. Both start as an 8-bit
 * 640 x 480 window at 0xA0000 with pitch 640 and no runs. */
extern rasterwindow libscreenwindow;
extern rasterwindow libbackwindow;

/* A video window over pixels (pitch bytes a row) of surface: the built-in record for
 * memclass -1 or -2, else a new "VIDWIND" block of that class. bpp 0 is screendepth (8
 * before graphics are up). Null after a fatal report (size beyond 2400 x 1600, no memory). */
rasterwindow *makevideowindow(int32_t width, int32_t height, int32_t pitch, int32_t bpp,
                              int32_t memclass, void *pixels, IDirectDrawSurface *surface);
/* Fills record as a video window and takes its row runs (a fatal report when refused). */
void initvideowindow(rasterwindow *record, int32_t width, int32_t height, int32_t pitch,
                     int32_t bpp, void *pixels, IDirectDrawSurface *surface);
/* Points window (null: the current window) at pixels with pitch, exchanging the row run
 * when the pitch changed, and clamps the clip box to the window. */
void updatevideowindow(rasterwindow *window, int32_t pitch, void *pixels);
/* Gives the runs back and purges the record unless it is a built-in one. The surface
 * stays the caller's. */
void removevideowindow(rasterwindow *window);
/* A new off-screen surface of the display's depth (bpp 0 or screendepth) made with the
 * surface caps options, and a video window over it in memclass. Null when either cannot
 * be had; the surface does not outlive a failed window. */
rasterwindow *videowindowdefadr(int32_t width, int32_t height, int32_t bpp, int32_t memclass,
                                uint32_t options);
/* Page-lock / page-unlock the window's surface memory; the display's result. A window
 * without a surface is left alone and gives a non-zero value that is no display result. */
int32_t pagelockvideowindow(rasterwindow *window);
int32_t pageunlockvideowindow(rasterwindow *window);

#endif /* THISTLE_VIDWIN_H */
