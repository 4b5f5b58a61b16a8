/*
 * thistle/mouse.h - the tracked mouse position and buttons, fed by the window thread's
 * mouse messages, confined to a clip box.
 *
 * Threads: mouseevent runs on the window thread and writes the tracked state under the
 * input lock (the handler-table lock); getmouse and getmousebox read without a lock. The
 * show count only counts: what it does to the visible cursor is the display's business.
 */
#ifndef THISTLE_MOUSE_H
#define THISTLE_MOUSE_H

#include <cstdint>

/* Buttons: bit 0 left, bit 1 right, bit 2 middle. */
constexpr int32_t MOUSE_LEFT = 1;
constexpr int32_t MOUSE_RIGHT = 2;
constexpr int32_t MOUSE_MIDDLE = 4;

/* A mouse hook slot: 0 and 1 hide, 2 show, 3 read (returns the buttons), 4 button event
 * (takes the buttons); 5 to 8 are the program's. Each is a do-nothing function at start. */
typedef int32_t (*mousehookfunction)(int32_t value);
constexpr int32_t MOUSE_HOOKS = 9;
extern mousehookfunction mousehooks[MOUSE_HOOKS];

/* Set by initmouse; mouse messages are ignored while clear. */
extern int32_t mousetracking;
/* Clip box, inclusive. */
extern int32_t mouseminx, mouseminy, mousemaxx, mousemaxy;
/* The tracked state (window thread) and the copy programs read (the read hook). */
extern int32_t mousetrackx, mousetracky, mousetrackbuttons;
extern int32_t mousex, mousey, mousebuttons;
/* Show count, 0 after initmouse. */
extern int32_t mouseshowcount;

/* Clip box over the screen (0, 0, screenwidth, screenheight), show count 0, the default
 * hooks, tracking on. Returns 1. */
int32_t initmouse(void);
/* Sets the clip box (inclusive) and pulls the tracked position into it, moving the
 * cursor when it was outside. */
void setmousebox(int32_t minx, int32_t miny, int32_t maxx, int32_t maxy);
/* Copies the clip box; any pointer may be null. */
void getmousebox(int32_t *minx, int32_t *miny, int32_t *maxx, int32_t *maxy);
/* Calls the read hook: by default publishes the tracked state in mousex, mousey and
 * mousebuttons and returns the buttons. */
int32_t readmouse(void);
/* Puts the mouse at (x, y) clamped to the box: tracked and public state and the cursor.
 * On the main thread the display is released meanwhile (a locked surface would keep the
 * window thread waiting); other threads hold liblock. */
void setmousepos(int32_t x, int32_t y);
/* A mouse message: clamps (x, y) to the box, stores it with the buttons (moving the
 * cursor back into the box when it was outside), and with notify calls the button hook.
 * Nothing before initmouse or before the input lock exists. */
void mouseevent(int32_t x, int32_t y, int32_t buttons, int32_t notify);
/* Copies the tracked buttons and position; any pointer may be null. */
void getmouse(int32_t *buttons, int32_t *x, int32_t *y);
/* Raise / lower the show count; return the new count. */
int32_t showmouse(void);
int32_t hidemouse(void);

#endif /* THISTLE_MOUSE_H */
