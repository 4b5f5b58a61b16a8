/*
 * thistle/window.h - win\window: the current display window (the raster window drawing
 * goes to), making a window current by locking the surface behind it, the stand-by window
 * that takes over after a failed lock, and giving the display up for a moment.
 *
 * Threads: the drawing thread. Making a window with a surface current takes liblock
 * (through the surface lock) and keeps it until the window is released.
 */
#ifndef THISTLE_WINDOW_H
#define THISTLE_WINDOW_H

#include <cstdint>

struct rasterwindow;

/* The window drawing goes to: a copy of the window made current, or cleared (size 0,
 * the screen's depth and type) when none is. */
extern rasterwindow currentwindow;

/* Optional replacement of the surface lock in setdisplaywindow (start null): called with
 * the window, its result taken as the lock's. */
extern int32_t (*displaywindowhook)(rasterwindow *window);

/* The 8 x 8 memory window made current after a failed lock; null until the first one.
 * restoregraphics removes it. */
extern rasterwindow *standbywindow;

/* Makes window current: checks it, locks its surface (or calls displaywindowhook) and
 * copies it into currentwindow. Null releases the current window and its lock. 1 on
 * success; 0 for an invalid window (nothing changes) or a failed lock (the stand-by
 * window becomes current). */
int32_t setdisplaywindow(rasterwindow *window);
/* setdisplaywindow of the screen window; a fatal report on a ModeX display. */
int32_t displaywindow(void);
/* setdisplaywindow of the back window. */
int32_t backdisplaywindow(void);
/* setdisplaywindow(null): no current window, no surface lock held. */
int32_t releasedisplaywindow(void);

/* The library's screen and back window records. */
rasterwindow *getscreenwindow(void);
rasterwindow *getbackwindow(void);

/* Copies the current window (buffer[0]) and the screen window (buffer[1]) records into
 * buffer, which holds two records. */
void savedisplaywindows(rasterwindow *buffer);
/* Makes the saved current window current again (no reports meanwhile: it may be gone)
 * and puts the saved screen window record back; the result of setdisplaywindow. */
int32_t restoredisplaywindows(const rasterwindow *buffer);

/* Gives the display lock up for a moment so other threads (the window thread) can work,
 * and takes it back. 1, or the relock's result. */
int32_t yielddisplay(void);

#endif /* THISTLE_WINDOW_H */
