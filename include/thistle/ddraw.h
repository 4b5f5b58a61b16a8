/*
 * thistle/ddraw.h - the display device's lifetime and the current display window, as far
 * as the window thread and its exit task need them.
 *
 * Threads: disposewindisplay runs on the window thread (or the thread that owns the
 * display's shut-down) inside liblock.
 */
#ifndef THISTLE_DDRAW_H
#define THISTLE_DDRAW_H

struct displayrecord;

/* Releases the display device of record (null: the library's record): surfaces,
 * windows, the mode list and the device. Nothing when it has no device. */
void disposewindisplay(displayrecord *record);

#endif /* THISTLE_DDRAW_H */
