/*
 * thistle/intprt.h - reading keys: the key queue's scan codes turned into key codes
 * through five layout tables, key substitutions (handlers bound to key codes) and the
 * waiting reads that keep the system tasks running.
 *
 * A key code is 16 bits: below 0x80 a character (or a control code such as 0x1B Escape,
 * 0x08 Backspace, 0x0D Enter); an extended key has its code in the high byte and 0 in
 * the low byte (0x3B00 F1, 0x4800 cursor up, 0x1000 Alt+Q). 0 means no key.
 *
 * Threads: the queue is read under its own lock from any thread; substitutions are not
 * locked (bind them before keys are read) and their handlers run on the reading thread.
 */
#ifndef THISTLE_INTPRT_H
#define THISTLE_INTPRT_H

#include <cstdint>

/* Number of substitution slots (distinct handlers). */
constexpr int32_t KEY_SUBSTITUTIONS = 64;

/* A substitution handler, called on the thread that reads its key. */
typedef void (*keysubfunction)(void);
/* What the waiting reads poll: returns a key code or 0. */
typedef int32_t (*keyreaderfunction)(void);

/* The key code of scan code scan by the layout that the held modifiers choose (Alt before
 * Ctrl before Shift before the caps flag). Caps Lock (0x3A) toggles the caps flag and gives
 * 0; Ctrl+Escape ends the program while keyabort is set. */
int32_t translatekey(int32_t scan);

/* The next key code from the key queue, without substitutions; 0 when none. Entries that
 * give no key (modifiers, Caps Lock) are consumed on the way. */
int32_t getrawkey(void);
/* getrawkey through applysub: a bound key runs its handler and gives 0. */
int32_t getkey(void);
/* The next key code, left in the queue; 0 when none. Entries that give no key are still
 * removed. */
int32_t peekkey(void);
/* Reads and drops every queued key. */
void flushkeys(void);

/* Waits for the next non-zero key from the key reader, running the system tasks. A fatal
 * report when called on the main thread with a display surface locked. */
int32_t inkey(void);
/* The next key from the key reader, or 0 once ticks ticks have passed (0: one poll). */
int32_t inkeywait(int32_t ticks);
/* Polls the key reader until a key comes or the timers' deadline (setdeadline) passes;
 * the key or 0. Same surface-lock check as inkey. */
int32_t keyticks(void);
/* Makes reader (getkey at start; null: every poll gives 0) the function the waits poll;
 * returns it. */
keyreaderfunction setkeyreader(keyreaderfunction reader);

/* Binds handler to code. One handler takes one slot however many codes it is bound to;
 * a 65th distinct handler is a fatal report. A code of 256 or more binds every code with
 * the same high byte; 65536 or more (and negative codes) bind nothing but take the slot. */
void interpretsub(int32_t code, keysubfunction handler);
/* Unbinds code (or its high byte); the handler keeps its slot. */
void removesub(int32_t code);
/* code, or 0 when a substitution takes it (its handler, if any, has run). */
int32_t applysub(int32_t code);

#endif /* THISTLE_INTPRT_H */
