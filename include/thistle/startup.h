/*
 * thistle/startup.h - the main window on its own thread: the display record, the window
 * module's state, the message handler table, opening and closing the window, placement,
 * the standard message handlers' key queue and the keyboard hook.
 *
 * The record holds interface pointers of the display device as pointers to incomplete
 * types, and window handles as void *, so that this header needs no platform header.
 * Threads: openmainwindow and closemainwindow belong to a calling thread, never the
 * window thread; handlers run on the window thread inside the handler-table lock (also
 * the input lock of the keyboard and mouse modules); the key queue has a lock of its own.
 * The record's hwnd is written only by the window thread.
 */
#ifndef THISTLE_STARTUP_H
#define THISTLE_STARTUP_H

#include <cstdint>

struct critsection;
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

/* ---- the window module's state ------------------------------------------------------ */

/* Trace levels of the window module and of the display modules (start 0). */
extern int32_t wintrace;
extern int32_t ddrawtrace;
/* Resource number of the class icon (start 32512) and the base window style to which
 * the mode's bits are added (start WS_VISIBLE). Read when the window is created. */
extern uint32_t windowicon;
extern uint32_t windowstyle;
/* Called on the window thread when the quit message arrives; null (the start value):
 * windowsexittask ends the program about 10 ticks later. */
extern void (*applicationquitfunc)(void);
/* Called after the display was configured or restored, and after the windowed display
 * area moved or was repainted. The start value adds 1 to displaychangecount. */
extern void (*displaychangedhook)(void);
extern int32_t displaychangecount;

/* Installs (or with null removes) the sound module's activation callback: called with 1
 * when the window is activated and 0 when it is deactivated. closemainwindow refuses
 * while one is installed. */
void setaudiocallback(void (*callback)(int32_t activate));

/* ---- message handlers --------------------------------------------------------------- */

/* A message handler: (record, window, message, wParam, lParam, reply). Non-zero: handled,
 * *reply (0 on entry) is the window procedure's result; zero: default processing. */
typedef int32_t (*winmessagehandler)(displayrecord *record, void *hwnd, uint32_t message,
                                     uintptr_t wparam, intptr_t lparam, int32_t *reply);

/* Size of the handler table. */
constexpr int32_t WINMESSAGE_HANDLERS = 128;
/* The stop request: the window thread destroys its window and ends. */
constexpr uint32_t WM_STOPTHREAD = 0x466;

/* The handler-table lock, also the keyboard and mouse modules' input lock; null until
 * makewinmessagelock creates it (whichever module needs it first). */
extern critsection *winmessagelock;
/* Creates winmessagelock once; returns it. Any thread. */
critsection *makewinmessagelock(void);

/* Installs handler for message (replacing the one there), or with null removes the
 * message's entry. 1 on success; 0 when the table is full or the removal finds nothing. */
int32_t setwinmessagehandler(uint32_t message, winmessagehandler handler);
/* The message's handler, or null. */
winmessagehandler getwinmessagehandler(uint32_t message);
/* Enter and leave the handler-table lock; the message loop holds it while it dispatches. */
void lockwinmessages(void);
void unlockwinmessages(void);

/* ---- the main window ---------------------------------------------------------------- */

/* Opens the main window (full screen or a width x height client area) on a new window
 * thread, installing the standard handlers the first time, and replaces a window that
 * is open. Returns the window handle, 0 on failure. */
void *openmainwindow(int32_t width, int32_t height, int32_t fullscreen);
/* Stops the window thread and waits until its window is gone (a fatal report while an
 * audio callback is installed); the last close unregisters the window class. */
void closemainwindow(void);
/* Posts message (or, synchronous, sends it without waiting) to the main window. 1 when
 * delivered; 0 without a window or when the platform refused. */
int32_t sendwinmessage(uint32_t message, intptr_t lparam, uintptr_t wparam, int32_t synchronous);
/* Places the client area at (x, y), width x height in screen coordinates, and records the
 * resulting client size and origin in the display record. Nothing without a window. */
void placemainwindow(int32_t x, int32_t y, int32_t width, int32_t height);
/* placemainwindow in the middle of the screen / over the whole screen. */
void centremainwindow(int32_t width, int32_t height);
void fillscreenwindow(void);
/* The main window's handle (null when there is none). */
void *getmainwindow(void);
/* Stores the client area's size (either pointer may be null). */
void getclientsize(int32_t *width, int32_t *height);
/* Shows (hide 0) or hides the window; the platform's result. */
int32_t showmainwindow(int32_t hide);
/* The record's createcount and directdraw. */
int32_t getcreatecount(void);
IDirectDraw2 *getdirectdraw(void);
/* System task installed by the quit message without applicationquitfunc: releases the
 * display window and ends the program through the normal exit path. */
uint32_t windowsexittask(uint32_t argument, int32_t lateness);

/* ---- key queue ----------------------------------------------------------------------- */

/* Room of the key queue. */
constexpr int32_t KEYQUEUE_ENTRIES = 32;

/* The key queue: entries written by the window thread's key handlers, read by the
 * keyboard module under lock. An entry is
 *
 *   31          16 15      8 7       0
 *   +-------------+---------+---------+
 *   |  key code   |  scan   |  ext    |     key code 0: the reader translates the scan
 *   +-------------+---------+---------+
 *
 * Positions wrap at size; read == write is empty, so it holds size - 1 entries. */
struct keyqueuerecord {
    uint32_t entries[KEYQUEUE_ENTRIES];
    int32_t read;
    int32_t write;
    int32_t size;      /* 1 to 32 */
    critsection *lock; /* created by the first openmainwindow */
};
extern keyqueuerecord keyqueue;

/* Appends (code, scan, extended) to the key queue; a full queue loses its oldest entry. */
void putkey(uint32_t code, uint32_t scan, uint32_t extended);
/* Sets the queue's size to n clamped to 1..32 and empties it; returns the size. */
int32_t setkeyqueuesize(int32_t n);
/* The classic extended key code that replaces a key-down message's character (cursor
 * keys, the numeric pad, F1 to F12), or 0. */
uint32_t keysubstitution(uint32_t message, uintptr_t virtualkey);

/* ---- keyboard hook and cursor ------------------------------------------------------- */

/* Filter of swallowed keys: (modifier scan code, key code) -> non-zero swallows. */
typedef int32_t (*keyfilterfunction)(int32_t modifier, int32_t key);

/* Hook state: the installed hook (null when none), whether activation re-installs it,
 * whether Alt combinations are swallowed, and the filter. */
extern void *keyboardhook;
extern int32_t keyboardhookenabled;
extern int32_t keyboardhookalt;
extern keyfilterfunction keyboardhookfilter;

/* Stores altflag and filter; without a hook, installs it and enables it. */
void installkeyboardhook(int32_t altflag, keyfilterfunction filter);
/* In full screen with a hook installed: removes it and disables it. */
void removekeyboardhook(void);
/* The hook procedure: swallows (returns 1 for) the system key combinations while the
 * application is active, passes everything else to the next hook. */
intptr_t keyboardhookproc(int32_t code, uintptr_t wparam, intptr_t lparam);

/* Moves the cursor to (x, y) in the client area of record's window (null: the library's
 * record) and clears the cursor shape. */
void placecursor(displayrecord *record, int32_t x, int32_t y);

#endif /* THISTLE_STARTUP_H */
