/*
 * plat/backend.h - the window-system backend under the POSIX window side.
 *
 * The window side (src/plat/posix/user/) keeps all window state, queues and messages;
 * a backend only mirrors windows on a real window system (SDL2) or on nothing at all
 * (the headless one), and feeds window-system input back through the sink calls below.
 *
 * Threads: the layer never holds its own lock while it calls a backend, so a backend
 * may call the sink from inside any of its operations. Which operations may run on
 * which thread is each backend's affair; every operation below may be called from any
 * thread, and a backend that needs one thread for its window system arranges that
 * itself (see src/plat/sdl/).
 */
#ifndef PLAT_BACKEND_H
#define PLAT_BACKEND_H

#include "plat/testhooks.h"
#include "plat/win32.h"

#include <cstdint>
#include <vector>

/* How a window appears on screen (PLAT_HIDDEN, PLAT_SHOWN, PLAT_MINIMISED), the mouse
 * buttons of the sink and the headless backend's window records and input controls are
 * declared in plat/testhooks.h, where tests reach them. */

/* What a backend needs to mirror a window. Strings are only valid during the call. */
typedef struct plat_windowdesc {
    HWND hwnd; /* the layer's handle, for the sink calls */
    int x, y, width, height;
    DWORD style, exstyle;
    const char *title;
    int show; /* PLAT_HIDDEN / PLAT_SHOWN / PLAT_MINIMISED */
} plat_windowdesc;

/* A frame of the software display to show (see plat_presentframe). Pixels are as the
 * surface holds them; plat_frametoxrgb turns them into what a backend shows, so every
 * backend shows the same pixels. */
typedef struct plat_frame {
    HWND hwnd;                 /* the window showing the display; null: none yet */
    const void *pixels;        /* first pixel of the frame */
    int pitch;                 /* bytes from one row to the next */
    int width, height;         /* frame size: the mode's size, or the desktop's when windowed */
    int bitcount;              /* 8, 16, 24 or 32 */
    DWORD rmask, gmask, bmask; /* colour masks of 16-, 24- and 32-bit frames */
    const BYTE (*palette)[4];  /* 8 bits: 256 entries red, green, blue, flags; else null */
    RECT dirty;                /* the part of the frame that changed */
    int fullscreen;            /* 1: an exclusive mode of width x height; 0: windowed */
    RECT view;                 /* windowed: the client area of hwnd in frame (screen)
                                  coordinates, the part of the frame the window shows;
                                  full screen: 0, 0, width, height */
} plat_frame;

/* Converts the part r of a frame to 32-bit 0x00RRGGBB pixels at out (outpitch bytes a
 * row; r's top-left lands on out). 8-bit pixels go through the palette; masks of any
 * width are scaled to 8 bits per channel by repeating their high bits. */
void plat_frametoxrgb(const plat_frame *frame, RECT r, void *out, int outpitch);

/* The visible part of the last frame as a backend keeps it: the view (full screen: the
 * whole frame) in the frame's own format, so that presenting costs at most a copy of the
 * rows that changed, and 0x00RRGGBB only where the backend needs it. Parts of the view
 * outside the frame show black. */
struct plat_keptframe {
    bool any = false;          /* a frame was kept */
    int width = 0, height = 0; /* the view's size */
    RECT inside{};             /* the part of the view inside the frame, view coordinates */
    int bitcount = 0;
    DWORD rmask = 0, gmask = 0, bmask = 0;
    BYTE palette[256][4] = {}; /* 8 bits; all black when the frame had none */
    int pitch = 0;
    std::vector<uint8_t> raw;      /* inside's pixels, rows of pitch bytes */
    const uint8_t *held = nullptr; /* or, kept by reference: inside's first pixel in the
                                      frame's memory, rows of pitch bytes */
    RECT source{};                 /* inside in frame coordinates, and the frame's size */
    int framewidth = 0, frameheight = 0;
};

/* Takes what changed in frame into kept: the frame's dirty part of the view, or the whole
 * view when the view, the frame's size or format, or the palette of an 8-bit frame
 * changed (or nothing was kept yet). Returns the part of the view that changed, in view
 * coordinates; empty when nothing did. */
RECT plat_keepframe(plat_keptframe *kept, const plat_frame *frame);
/* The same, keeping a reference to the frame's memory instead of a copy (the palette is
 * still copied): for a backend that reads the kept frame only until its next present
 * returns, under a lock that present holds while it calls this. */
RECT plat_holdframe(plat_keptframe *kept, const plat_frame *frame);
/* Makes a frame kept by reference a copy of its own (nothing when it holds none): what a
 * backend does, during a present, to every other frame it holds. */
void plat_unholdframe(plat_keptframe *kept);
/* Converts the part r of the kept view (view coordinates, within the view) to 32-bit
 * 0x00RRGGBB pixels at out (outpitch bytes a row; r's top-left lands on out). */
void plat_keptxrgb(const plat_keptframe *kept, RECT r, void *out, int outpitch);

/* Shows a frame through the backend in use, in the backend window of frame->hwnd (or
 * nowhere in particular when the frame has no window); any thread. The caller keeps the
 * frame's memory valid and unchanged until its next call returns (see present below). */
void plat_presentframe(const plat_frame *frame);

typedef struct plat_backend {
    const char *name;        /* what THISTLE_VIDEO names */
    const char *description; /* one line for traces */

    /* 1 when usable; the layer falls back to the headless backend on 0. */
    int (*init)(void);
    void (*shutdown)(void);

    /* A backend window for a new window, or null when it shows none (headless). */
    void *(*createwindow)(const plat_windowdesc *desc);
    void (*showwindow)(void *win, int show);
    void (*movewindow)(void *win, int x, int y, int width, int height);
    /* Brings the window in front of the others and gives it the input focus, restoring
     * it first when the window system has it minimised (SetForegroundWindow). */
    void (*raisewindow)(void *win);
    void (*destroywindow)(void *win);
    /* Fills the whole window with a colour (background erase). */
    void (*fillwindow)(void *win, COLORREF colour);

    /* Turns pending window-system events into messages through the sink, waiting up to
     * waitms for the first one. Returns 0 at once when the calling thread is not the one
     * that reads events; the layer then sleeps on the thread's queue instead. */
    int (*pumpevents)(int waitms);
    /* Ends a pumpevents wait early; callable from any thread. */
    void (*wake)(void);
    /* The calling thread ends (after its windows were destroyed). */
    void (*threadexit)(void);

    /* Modal message box; returns IDOK or IDCANCEL. With MB_SETFOREGROUND or
     * MB_SYSTEMMODAL in type the box must end up in front of every window of ours. */
    int (*messagebox)(const char *text, const char *caption, UINT type);
    void (*screensize)(int *width, int *height);
    /* The cursor display count crossed zero, or the shape came or went: show (1) or hide
     * (0) it over our windows. */
    void (*showcursor)(int visible);
    /* Moves the pointer to a point of the screen. */
    void (*setcursorpos)(int x, int y);
    /* Whether the screen saver (and the monitor's power-off) may come on: 0 keeps it away
     * while the program runs. */
    void (*screensaver)(int allowed);
    /* Shows a frame of the software display in win (the backend window of frame->hwnd,
     * null when it has none); any thread. The frame's memory (pixels and palette) holds
     * the whole frame, not only its dirty part, and stays valid and unchanged until the
     * next present call (for any window) returns: a backend may keep a reference to it
     * and read it until then (plat_holdframe), or copy what it needs (plat_keepframe)
     * when it shows the frame later than that. */
    void (*present)(void *win, const plat_frame *frame);
} plat_backend;

extern const plat_backend plat_sdlbackend;
extern const plat_backend plat_nullbackend;

/* The backend in use, chosen and started on first call: THISTLE_VIDEO by name, else SDL
 * when DISPLAY or WAYLAND_DISPLAY is set, else headless; headless also when the chosen
 * one fails to start. Never null. */
const plat_backend *plat_userbackend(void);

/* Writes "<caption>: <text>" and a line end to standard error in one write, so lines of
 * boxes shown at once never mix: the headless message box, and what a backend does with
 * a box it cannot show, so no message is lost. */
void plat_writeboxline(const char *caption, const char *text);

/* ---- sink: window-system input into the layer (any thread, no layer lock held) ---- */

/* Input carries only what the window system reports; the layer's input module
 * (posix/user/input.cpp) makes the messages, keeps the key state and runs the hooks.
 * hwnd is the window the event is for; keys with hwnd null go to the window that has
 * the keyboard focus. Events for windows that are gone are dropped. */

/* A key went down (down 1) or up (0): its PC set-1 scan code, extended for the E0
 * prefix. repeats: 0 for a press or a release; n > 0 for an auto-repeat press standing
 * for n repeats (one message with that repeat count). */
void plat_keyinput(HWND hwnd, int scan, int extended, int down, int repeats);
/* The mouse moved to (x, y), client coordinates of hwnd. */
void plat_mousemove(HWND hwnd, int x, int y);
/* A button (PLAT_LEFT, PLAT_RIGHT, PLAT_MIDDLE) went down (1) or up (0) at (x, y). */
void plat_mousebutton(HWND hwnd, int x, int y, int button, int down);
/* hwnd got (gained 1) or lost (0) the keyboard focus. */
void plat_focus(HWND hwnd, int gained);
/* The window's contents were lost (exposed): it gets WM_PAINT with an erase. */
void plat_invalidate(HWND hwnd);
/* The window system minimised (1) or restored (0) the window. */
void plat_setminimised(HWND hwnd, int minimised);
/* The window system moved or resized the window's client area (screen coordinates). */
void plat_windowmoved(HWND hwnd, int x, int y, int width, int height);

#endif /* PLAT_BACKEND_H */
