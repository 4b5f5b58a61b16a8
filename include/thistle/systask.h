/*
 * thistle/systask.h - system tasks: the library's cooperative background work.
 *
 * Up to 16 functions, each with an interval in ticks, run from the library's waiting
 * loops (message loop, key and tick waits, the network layer) on whichever thread waits,
 * at most once per tick and never re-entered. Due ticks are counted on systemtickcount,
 * which the timer thread advances and nothing resets.
 *
 * Threads: the table takes no lock; concurrent additions pick different empty slots and
 * a task that is running is not started again by a nested or concurrent run.
 */
#ifndef THISTLE_SYSTASK_H
#define THISTLE_SYSTASK_H

#include <cstdint>

/* Table size. */
constexpr int32_t SYSTEM_TASKS = 16;

/* A task: (argument, lateness in ticks, 0 when on time) -> result. */
typedef uint32_t (*systaskfunction)(uint32_t argument, int32_t lateness);

/* Non-zero together with usetimestampcounter: runsystemtasks adds the time-stamp-counter
 * cycles it spends to systaskprofilecycles. Both start at 0. */
extern int32_t systaskprofile;
extern uint64_t systaskprofilecycles;

/* Registers the task to run every interval ticks, the first time delay ticks from now;
 * a task already registered is re-armed with the new interval and delay. A full table
 * is reported ("addsystemtask - LIST FULL"). */
void addsystemtask(systaskfunction function, uint32_t interval, uint32_t delay);
/* Empties the first slot that holds the task. */
void removesystemtask(systaskfunction function);
/* Runs the due tasks once per tick (later calls in the same tick run nothing), each with
 * argument. Returns the OR of the results of the tasks run. */
uint32_t runsystemtasks(uint32_t argument);
/* Runs the tasks until ticks ticks have passed or a task answered non-zero; returns the
 * OR of the results. */
uint32_t waitsystemtasks(uint32_t ticks);

#endif /* THISTLE_SYSTASK_H */
