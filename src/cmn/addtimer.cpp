/*
 * cmn\addtimer - the timer function list: 8 slots of functions the timer thread calls
 * on every tick it receives (see thistle/timer.h).
 *
 * Threads: no lock. The timer thread walks the list while the application changes it;
 * each slot is one pointer read and written atomically, so a change is seen whole from
 * the next tick on (or already in this one, for slots the walk has not reached).
 * Limits: 8 slots; a ninth function is reported.
 */
#include "thistle/timer.h"

#include "thistle/diag.h"

#include <atomic>

namespace {

timerfunction timerlist[TIMER_FUNCTIONS];

std::atomic_ref<timerfunction> slot(int32_t i) {
    return std::atomic_ref<timerfunction>(timerlist[i]);
}

} // namespace

/* Stores the function in the lowest empty slot unless it is listed already. */
void addtimer(timerfunction function) {
    int32_t empty = -1;
    for (int32_t i = 0; i < TIMER_FUNCTIONS; i++) {
        timerfunction held = slot(i).load(std::memory_order_acquire);
        if (held == function)
            return;
        if (held == nullptr && empty < 0)
            empty = i;
    }
    if (empty < 0) {
        THISTLE_SITE("cmn\\addtimer");
        fatalerror("addtimer - LIST FULL\n");
        return;
    }
    slot(empty).store(function, std::memory_order_release);
}

/* Empties the function's slot; the others keep their places. */
void removetimer(timerfunction function) {
    for (int32_t i = 0; i < TIMER_FUNCTIONS; i++) {
        if (slot(i).load(std::memory_order_acquire) == function) {
            slot(i).store(nullptr, std::memory_order_release);
            return;
        }
    }
}

/* Empties every slot: the timer thread calls nothing from its next tick on. */
void cleartimers(void) {
    for (int32_t i = 0; i < TIMER_FUNCTIONS; i++)
        slot(i).store(nullptr, std::memory_order_release);
}

/* The number of used slots. */
int32_t counttimers(void) {
    int32_t used = 0;
    for (int32_t i = 0; i < TIMER_FUNCTIONS; i++)
        used += slot(i).load(std::memory_order_acquire) != nullptr ? 1 : 0;
    return used;
}

/* The used slots, 0 to 7 in order, each read once. */
void calltimers(void) {
    for (int32_t i = 0; i < TIMER_FUNCTIONS; i++) {
        timerfunction function = slot(i).load(std::memory_order_acquire);
        if (function != nullptr)
            function();
    }
}
