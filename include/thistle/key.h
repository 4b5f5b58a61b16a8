/*
 * thistle/key.h - the keyboard state that the window thread keeps: which scan codes are
 * held, the caps flag, the optional scan-code translation table, the raw key tracking
 * and abort switches; and the lock keys. Reading keys is thistle/intprt.h.
 *
 * Threads: the key-down table, the caps flag and the last scan code are written by the
 * window thread and read by any thread without a lock (keydown reads a byte whole). The
 * switches and the translation table are set by the program before keys arrive.
 */
#ifndef THISTLE_KEY_H
#define THISTLE_KEY_H

#include <cstdint>

/* One byte per scan code, 1 while the key is held. */
extern uint8_t keydowntable[128];
/* Selects the caps-lock layout; cleared when the main window is created. */
extern uint8_t keycaps;
/* Optional 256-byte table that replaces each incoming scan code; null when absent. */
extern const uint8_t *keyscantable;
/* While set (startkeys), key presses are queued by scan code and make no characters. */
extern int32_t rawkeytracking;
/* While set (the start value), Alt with the break key stops in the debugger and the
 * key readers end the program on Ctrl+Escape. */
extern int32_t keyabort;
/* The break key's scan code (69). */
extern int32_t breakscancode;
/* The last scan code a key-down message brought. */
extern int32_t lastscancode;

/* The key-down byte of scan (0 for scan codes outside the table). */
int32_t keydown(int32_t scan);
/* Creates the input lock if needed, switches raw key tracking on and clears the key-down
 * table. */
void startkeys(void);
/* Switches raw key tracking off. */
void stopkeys(void);
/* Sets a lock key (which: 0 Caps Lock, 1 Num Lock, 2 Scroll Lock; others do nothing) on
 * (state 1) or off (0) by a synthesised press and release when its toggle differs. */
void setlockkey(int32_t which, int32_t state);
/* setlockkey(1, 1) and setlockkey(1, 0). */
void numlockon(void);
void numlockoff(void);

#endif /* THISTLE_KEY_H */
