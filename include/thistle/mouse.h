/*
 * thistle/mouse.h - the tracked mouse position and buttons, fed by the window thread's
 * mouse messages, confined to a clip box.
 *
 * Threads: mouseevent runs on the window thread and writes the tracked state under the
 * input lock (the handler-table lock); getmouse reads it without a lock.
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

/* Clip box over the display (0, 0, width, height), show count 0, the default hooks,
 * tracking on. Returns 1. */
int32_t initmouse(void);
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
