/*
 * thistle/timer.h - the fixed-rate tick: its rate and (later) the timer functions.
 *
 * Threads: tickrate is written by the timer module (inittimer, the timer thread,
 * killtimer) and read by any thread; readers take it as a hint of the current rate.
 */
#ifndef THISTLE_TIMER_H
#define THISTLE_TIMER_H

#include <cstdint>

/* Ticks a second while the tick runs; 0 while it is stopped (the start value, until
 * inittimer). Modules that convert ticks to milliseconds count 0 as 100. */
extern int32_t tickrate;

#endif /* THISTLE_TIMER_H */
