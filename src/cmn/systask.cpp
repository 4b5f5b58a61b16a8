/*
 * cmn\systask - system tasks: up to 16 functions run from the library's waiting loops,
 * each at most once per tick (see thistle/systask.h).
 *
 * Threads: no lock. Any waiting thread may run the table; tasks run on the caller. The
 * fields are read and written through atomic references: the insertion depth keeps
 * concurrent additions apart, the last-run tick lets one run through per tick, and the
 * busy flag, taken with a compare-exchange, keeps a task from being started again by a
 * nested run (a task that waits) or by another waiting thread.
 * Limits: 16 slots; a full table is reported.
 */
#include "thistle/systask.h"

#include "thistle/diag.h"
#include "thistle/timer.h"

#include <atomic>

int32_t systaskprofile = 0;
uint64_t systaskprofilecycles = 0;

namespace {

struct systask {
    systaskfunction function; /* null: empty slot */
    uint32_t interval;        /* ticks between runs */
    uint32_t due;             /* systemtickcount at or after which it runs next */
    uint32_t busy;            /* 1 while it runs */
};

systask tasks[SYSTEM_TASKS];
/* The systemtickcount of the last run; one more than the start count, so that the first
 * run happens whatever the count is. */
uint32_t lastrun = 0xFFFFFFFFu;
/* addsystemtask calls in progress. */
int32_t insertdepth = 0;

template <typename T>
std::atomic_ref<T> at(T &field) {
    return std::atomic_ref<T>(field);
}

uint32_t nowtick(void) {
    return at(systemtickcount).load(std::memory_order_relaxed);
}

/* Signed: a due tick just behind the wrap still counts as reached. */
bool reached(uint32_t now, uint32_t due) {
    return static_cast<int32_t>(now - due) >= 0;
}

bool profiling(void) {
    return at(systaskprofile).load(std::memory_order_relaxed) != 0 &&
           at(usetimestampcounter).load(std::memory_order_relaxed) != 0;
}

/* Runs one slot if it is due and not running; returns its result (0 when not run). The
 * count is read as the slot comes up: an earlier slow task makes the later ones later. */
uint32_t runslot(systask &task, uint32_t argument) {
    uint32_t now = nowtick();
    systaskfunction function = at(task.function).load(std::memory_order_acquire);
    if (function == nullptr || !reached(now, at(task.due).load(std::memory_order_relaxed)))
        return 0;
    uint32_t idle = 0;
    if (!at(task.busy).compare_exchange_strong(idle, 1, std::memory_order_acquire))
        return 0;
    /* Another thread may have run it between the due test and taking the flag: its new
     * due time is visible now (the flag's release), so test again. */
    if (!reached(now, at(task.due).load(std::memory_order_relaxed))) {
        at(task.busy).store(0, std::memory_order_release);
        return 0;
    }
    int32_t lateness = static_cast<int32_t>(now - at(task.due).load(std::memory_order_relaxed));
    uint32_t result = function(argument, lateness);
    /* From the count after the run: a task that took longer than its interval runs again
     * one interval later, without catching up on what it missed. */
    at(task.due).store(nowtick() + at(task.interval).load(std::memory_order_relaxed),
                       std::memory_order_relaxed);
    at(task.busy).store(0, std::memory_order_release);
    return result;
}

} // namespace

/* Registers or re-arms the task (see the header). A call that starts while d others are
 * in progress passes over the first d empty slots, so concurrent calls choose different
 * ones; a slot that already holds the function wins over any empty slot. */
void addsystemtask(systaskfunction function, uint32_t interval, uint32_t delay) {
    int32_t skip = at(insertdepth).fetch_add(1, std::memory_order_acq_rel);
    systask *chosen = nullptr;
    for (systask &task : tasks) {
        systaskfunction held = at(task.function).load(std::memory_order_acquire);
        if (held == function && function != nullptr) {
            chosen = &task;
        } else if (held == nullptr && chosen == nullptr) {
            if (skip > 0)
                skip--;
            else
                chosen = &task;
        }
    }
    if (chosen != nullptr) {
        at(chosen->interval).store(interval, std::memory_order_relaxed);
        at(chosen->due).store(nowtick() + delay, std::memory_order_relaxed);
        at(chosen->busy).store(0, std::memory_order_relaxed);
        at(chosen->function).store(function, std::memory_order_release);
    } else {
        THISTLE_SITE("cmn\\systask");
        fatalerror("addsystemtask - LIST FULL\n");
    }
    at(insertdepth).fetch_sub(1, std::memory_order_acq_rel);
}

/* Empties the first slot that holds the function. */
void removesystemtask(systaskfunction function) {
    for (systask &task : tasks) {
        if (at(task.function).load(std::memory_order_acquire) == function) {
            at(task.function).store(nullptr, std::memory_order_release);
            return;
        }
    }
}

/* One pass over the table per tick (see the header). A task late by several intervals
 * runs once, with its lateness. */
uint32_t runsystemtasks(uint32_t argument) {
    bool profile = profiling();
    uint64_t start = profile ? readtimestampcounter() : 0;
    uint32_t result = 0;
    uint32_t now = nowtick();
    if (at(lastrun).exchange(now, std::memory_order_acq_rel) != now) {
        for (systask &task : tasks)
            result |= runslot(task, argument);
    }
    if (profile)
        at(systaskprofilecycles)
            .fetch_add(readtimestampcounter() - start, std::memory_order_relaxed);
    return result;
}

/* Runs the tasks until ticks have passed on tickcount or a task answered non-zero. */
uint32_t waitsystemtasks(uint32_t ticks) {
    uint32_t end = gettick() + ticks;
    uint32_t result = 0;
    while (static_cast<int32_t>(gettick() - end) < 0 && result == 0)
        result |= runsystemtasks(0);
    return result;
}
