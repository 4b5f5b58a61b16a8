/*
 * plat/testhooks.h - what tests reach below the Win32 surface of the POSIX layer.
 *
 * The headless backend's record of each window and of the cursor, the backend in use,
 * input injected as a window system would deliver it (keys, mouse, focus), and the
 * request channel that the owner of a named object answers on. Programs built on the
 * layer have no use for any of it; test suites and their child programs include it
 * instead of the layer's internal headers. Not installed; POSIX only.
 */
#ifndef PLAT_TESTHOOKS_H
#define PLAT_TESTHOOKS_H

#ifndef _WIN32
#include "plat/win32.h"

#include <cstddef>
#include <cstdint>

/* ---- display backend ------------------------------------------------------------- */

/* How a window appears on screen, as the layer derives it from its window state. */
enum {
    PLAT_HIDDEN = 0,
    PLAT_SHOWN = 1,
    PLAT_MINIMISED = 2,
};

/* The headless backend has no window system; it keeps a small record per window so a
 * test can see how the layer mirrored it (shown, moved, filled with which colour,
 * raised). */
typedef struct plat_nullwindowinfo {
    int x, y, width, height;
    int show;        /* PLAT_HIDDEN / PLAT_SHOWN / PLAT_MINIMISED */
    int fills;       /* number of background fills */
    COLORREF colour; /* colour of the last fill */
    int raises;      /* number of times it was brought to the front */
    int focus;       /* 1 while it has the keyboard focus (the active window) */
} plat_nullwindowinfo;

/* Copies the record of hwnd's headless window; 0 when it has none. */
int plat_nullwindow(HWND hwnd, plat_nullwindowinfo *info);
/* 1 while the headless cursor is shown. */
int plat_nullcursorvisible(void);
/* 0 while the program keeps the screen saver away (SystemParametersInfoA). */
int plat_nullscreensaver(void);

/* The name of the backend in use ("sdl" or "null"), chosen and started on first call
 * as the first window call would (THISTLE_VIDEO, then DISPLAY/WAYLAND_DISPLAY). */
const char *plat_backendname(void);
/* Shuts the backend in use down; the caller's windows must be destroyed first. */
void plat_backendshutdown(void);

/* ---- presented frames (headless backend) ------------------------------------------ */

/* The headless backend keeps the last frame of the software display that was presented
 * (plat/backend.h): the part its window shows (the view rectangle; full screen: the whole
 * mode), as 0x00RRGGBB pixels. THISTLE_SCREENSHOT=path writes it there as a PNG each time
 * a frame is presented (see docs/display.md). */

/* The number of frames presented so far in this process (0: none yet) and the last one's
 * size at width and height (0 x 0 before the first). With pixels non-null and room there
 * for maxpixels >= width * height pixels, the last frame is copied there, rows of width
 * pixels one after the other; otherwise pixels is left alone. */
unsigned long plat_nulllastframe(int *width, int *height, uint32_t *pixels, size_t maxpixels);
/* Writes the last frame to path as an 8-bit RGB PNG; 1 on success, 0 when no frame was
 * presented yet or the file cannot be written. */
int plat_nullwritepng(const char *path);

/* ---- headless input --------------------------------------------------------------- */

/* Input as a window system would deliver it, through the same sink the backends use
 * (plat/backend.h); any thread. hwnd null sends keys to the window with the focus. */

/* Mouse buttons */
enum {
    PLAT_LEFT = 0,
    PLAT_RIGHT = 1,
    PLAT_MIDDLE = 2,
};

/* A key by its set-1 scan code (extended: the E0 prefix) goes down (1) or up (0);
 * repeats > 0 makes a press an auto-repeat standing for that many repeats. */
void plat_nullkey(HWND hwnd, int scan, int extended, int down, int repeats);
/* The same by virtual key, on the key of a US keyboard that has it (VK_CONTROL is the
 * left Ctrl, VK_RCONTROL the right one, VK_HOME the grey Home key, VK_NUMPAD7 the pad's);
 * keys the keyboard does not have do nothing. */
void plat_nullvkey(HWND hwnd, int vk, int down, int repeats);
/* The mouse moves to (x, y), or a button goes down (1) or up (0) there. */
void plat_nullmousemove(HWND hwnd, int x, int y);
void plat_nullmousebutton(HWND hwnd, int x, int y, int button, int down);
/* The window system gives hwnd the focus (gained 1) or takes it away (0). */
void plat_nullfocus(HWND hwnd, int gained);

/* ---- named-object request channel ------------------------------------------------ */

typedef int (*plat_requesthandler)(const char *request, char *reply, size_t replysize);

/* Installs the one handler that answers requests arriving at the named objects this
 * process created; it runs on a service thread of the layer; returns 1 to answer with
 * reply. */
void plat_setrequesthandler(plat_requesthandler handler);

/* Sends request (one line of text, < 1024 bytes) to the process that created the named
 * object `name` (the session's named mutex of that name); waits up to timeoutms for the
 * reply. 1 with the reply (NUL-terminated) on success, 0 when no owner answers. */
int plat_namedrequest(const char *name, const char *request, char *reply, size_t replysize,
                      DWORD timeoutms);

/* Copies the names of named objects that this process opened but did not create (it got
 * ERROR_ALREADY_EXISTS), most recent first; returns how many (at most max). */
int plat_openednames(char (*names)[256], int max);

#endif /* _WIN32 */
#endif /* PLAT_TESTHOOKS_H */
