/*
 * thistle/initgrf.h - win\initgrf: bringing graphics up and down. The graphics options a
 * program sets before initgraphics, the requests to the window thread, the mode search
 * and the screen description published for the drawing modules.
 *
 * Threads: initgraphics, setgraphicsmode, restoregraphics and reinitgraphics run on a
 * calling thread (never the window thread), which posts requests to the window thread
 * and polls grfop_pending; the lib_ handlers run on the window thread.
 */
#ifndef THISTLE_INITGRF_H
#define THISTLE_INITGRF_H

#include <atomic>
#include <cstdint>

struct critsection;
struct displayrecord;

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

/* Video pages asked for (start 2); after each successful initialisation, the number of
 * display raster windows obtained (screen plus back window, 0 to 2). */
extern int32_t graphicspages;
/* The display record's pages and bankswitched, as published. */
extern int32_t displaypages, displaybankswitched;

/* The request state shared with the window thread: grfop_pending is 1 while a request is
 * on its way or served, 0 when done, -1 when postponed (the application is inactive);
 * grfop_error is null after success, else the failure text ("SEND", "OPEN", "RETRY",
 * "MODE" or the device's own). */
extern std::atomic<int32_t> grfop_pending;
extern std::atomic<const char *> grfop_error;

/* 7 while graphics are initialised, 0 otherwise. */
constexpr int32_t GRAPHICS_UP = 7;
extern int32_t graphicsstate;

/* Optional replacements (start null) of initgraphics and restoregraphics. */
extern void (*initgraphicshook)(int32_t width, int32_t height, int32_t depth);
extern void (*restoregraphicshook)(void);

/* The private requests served on the window thread: create the device and its mode list
 * (lParam 0), set display mode lParam (-1 the default mode or the window's area, -2 only
 * remove the surfaces). */
constexpr uint32_t WM_INITDDRAW = 0x464;
constexpr uint32_t WM_SETDDRAWMODE = 0x465;

/* Brings the display up in a mode that fits width x height x depth (0: 640, 480, 16;
 * -1: 1024, 768, 16; depth 15 means 16), falling back to smaller sizes, to 8 bits, to
 * the default mode and to a device in emulation. graphicsstate tells the outcome. */
void initgraphics(int32_t width, int32_t height, int32_t depth);
/* Initialises graphics when needed and sets mode (outside the list: the default mode).
 * 1 when graphics are up and the mode was set. */
int32_t setgraphicsmode(int32_t mode);
/* Takes graphics down: closes the window (disposing the device) and the row table. Also
 * registered to run at program exit. */
void restoregraphics(void);
/* Opens the window and creates the device when there is none or reopen is set; installs
 * the request handlers. 1 on success. */
int32_t initddrawgraphics(int32_t reopen);
/* Searches record's mode list for the request in its width, height and bitcount and sets
 * the first mode that works; windowed, one attempt with the window's area. 1 when a mode
 * was set. */
int32_t selectddrawmode(displayrecord *record);
/* Posts message with lparam to the window thread and waits until it is served, re-sending
 * it when it was postponed. The request's grfop_error: null on success. */
const char *sendddrawrequest(uint32_t message, intptr_t lparam);
/* Closes the window and initialises graphics again in the mode in use. */
int32_t reinitgraphics(void);
/* Window-thread handlers of WM_INITDDRAW and WM_SETDDRAWMODE; always handled, reply 0. */
int32_t lib_initgraphics(displayrecord *record, void *hwnd, uint32_t message, uintptr_t wparam,
                         intptr_t lparam, int32_t *reply);
int32_t lib_setdisplaymode(displayrecord *record, void *hwnd, uint32_t message, uintptr_t wparam,
                           intptr_t lparam, int32_t *reply);
/* Turns graphicsflags into the display record's options and, the first time, sets up the
 * row table, the exit function and the fatal-report hook. 1 when the full-screen setting
 * changed. */
int32_t applygraphicsflags(void);
/* Writes the screen variables from the display record and releases the display window. */
void publishdisplay(void);
/* fatallockhook while graphics are up: on the main thread takes graphics down (null); on
 * another thread enters liblock, minimises the window and returns liblock. */
critsection *graphicsfatalhook(void);

#endif /* THISTLE_INITGRF_H */
