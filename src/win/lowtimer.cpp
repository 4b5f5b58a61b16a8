/*
 * win/lowtimer - the fixed-rate tick driven by the platform's multimedia timer.
 *
 * For now the module holds only the tick rate that other modules read; the tick itself
 * (inittimer, the timer threads and the counters) comes with the timer functions.
 * Threads: tickrate is a plain 32-bit word, written by the timer side only.
 */
#include "thistle/timer.h"

/* 0: the tick is stopped until inittimer starts it. */
int32_t tickrate = 0;
