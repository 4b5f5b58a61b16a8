/*
 * thistle/validwin.h - validation of a raster window record before it is drawn into.
 *
 * Threads: reads the record only; any thread.
 */
#ifndef THISTLE_VALIDWIN_H
#define THISTLE_VALIDWIN_H

#include <cstdint>

struct rasterwindow;

/* 1 when id, width, height, bpp, type and the clip box all lie in range, else 0. Every
 * field is checked; each bad one is reported while reporterrors is set. data, pitch,
 * the runs and the surface are not looked at. */
int32_t checkwindow(const rasterwindow *window);

#endif /* THISTLE_VALIDWIN_H */
