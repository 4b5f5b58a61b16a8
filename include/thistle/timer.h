/*
 * thistle/timer.h - the fixed-rate tick, the counters built on it, the timer functions,
 * the hook and the secondary timer.
 *
 * inittimer drives the tick from the platform's one-shot multimedia timer, re-armed from
 * each callback on an exact fractional schedule; each callback wakes three threads: the
 * timer thread (counters, then up to 8 timer functions), the hook thread (one hook) and,
 * once started, the secondary timer thread (up to 8 secondary functions).
 *
 * Threads: the counters and tickrate are written by the timer side and read by any
 * thread. Timer functions run on the timer thread, the hook on the hook thread, secondary
 * functions on the secondary thread under its lock: all must be short and must not wait
 * for the tick. The timer function list takes no lock; a change is seen from the next
 * tick on.
 */
#ifndef THISTLE_TIMER_H
#define THISTLE_TIMER_H

#include <cstdint>

/* Ticks a second while the tick runs; 0 while it is stopped (the start value, until
 * inittimer). Modules that convert ticks to milliseconds count 0 as 100. */
extern int32_t tickrate;

/* Counters of the ticks the timer thread received (32-bit, wrapping). tickcount restarts
 * at 0 with inittimer (and resetticks); systemtickcount is never reset; clocktickcount
 * restarts with inittimer and advances about 18.2 a second (1193/65536 per elapsed
 * millisecond) whatever the rate. */
extern uint32_t tickcount;
extern uint32_t systemtickcount;
extern uint32_t clocktickcount;
/* How often the schedule fell more than a second behind and was re-based. */
extern int32_t timerresyncs;

/* Profiling: with timerprofile (start 0) and usetimestampcounter (start 1) non-zero, the
 * timer thread adds the time-stamp-counter cycles of each tick's work to
 * timerprofilecycles. */
extern int32_t timerprofile;
extern int32_t usetimestampcounter;
extern uint64_t timerprofilecycles;

/* A timer, hook or secondary function. */
typedef void (*timerfunction)(void);

/* Slots of the timer function list and of the secondary list. */
constexpr int32_t TIMER_FUNCTIONS = 8;

/* (Re)starts the tick at frequency ticks a second (0: 100; 1 to 1000 supported).
 * Returns tickrate afterwards: the frequency, or 0 when the tick could not start (each
 * such failure is reported). */
int32_t inittimer(int32_t frequency);
/* Stops the tick; waits until the timer thread has ended. Registered for program exit. */
void killtimer(void);
/* Holds back (suspend) or lets through (resume) the ticks of the timer thread only; the
 * hook and the secondary functions keep theirs. Both return the new suspend count. */
int32_t suspendtimer(void);
int32_t resumetimer(void);
/* Installs the hook (starting the hook thread) or, with null, removes it (ending the
 * thread); returns when the thread is up or gone. */
void settimerhook(timerfunction hook);

/* Adds the function to the timer function list unless it is there (lowest empty slot;
 * a full list is reported). */
void addtimer(timerfunction function);
/* Empties the function's slot, if present. */
void removetimer(timerfunction function);
/* Empties all slots; also the fatal report's stop hook while the tick runs. */
void cleartimers(void);
/* The number of used slots. */
int32_t counttimers(void);
/* Calls the used slots in order 0 to 7 (the timer thread's part of each tick). */
void calltimers(void);

/* Starts the secondary timer thread: 1, or 0 when it could not start (reported). */
int32_t wininittimer(void);
/* Adds the function to the packed secondary list (starting the thread first if needed);
 * a function already there, or a full list, leaves the list as it is. */
void addsecondarytimer(timerfunction function);
/* Removes the function, keeping the list packed; the last removal stops the thread. */
void removesecondarytimer(timerfunction function);
/* Stops the secondary timer thread. Registered for program exit by wininittimer. */
void killsecondarytimer(void);
/* Wakes the secondary timer thread, if it runs: the tick callback's part. */
void signalsecondarytimer(void);

/* Tick arithmetic on tickcount. Differences are signed, so they hold across the wrap. */
uint32_t gettick(void);
int32_t ticksince(uint32_t tick);
/* Ticks since the previous tickdelta or resetticks. */
int32_t tickdelta(void);
/* tickcount, the tickdelta base and the deadline become 0. */
void resetticks(void);
void setdeadline(int32_t ticks);
/* 1 once tickcount has reached the deadline, else 0. */
int32_t deadlinepassed(void);
/* Run the system tasks (argument 0) until the deadline has passed / ticks have passed. */
void waitdeadline(void);
void waitticks(int32_t ticks);

/* The processor's time-stamp counter where there is one, else a monotonic nanosecond
 * count: the unit of the profiling counters. */
uint64_t readtimestampcounter(void);

#endif /* THISTLE_TIMER_H */
