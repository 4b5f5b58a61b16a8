/*
 * win\lowtimer - the secondary timer: a thread at above-normal priority that calls up to
 * 8 functions on every tick of the multimedia timer (see thistle/timer.h).
 *
 * The list is kept packed (no gap before the last used slot) and is read and changed
 * only under the secondary lock. The lock exists exactly while the secondary timer runs:
 * wininittimer creates it, killsecondarytimer forgets it. Its record is deleted only once
 * the thread no longer uses it: by killsecondarytimer after the thread has ended, or, when
 * the thread stops itself (its last function removed itself), by the thread on its way out.
 * Threads and locks: the callback signals the thread's event under a guard that the
 * thread also takes to publish and withdraw it, so no signal reaches a closed event.
 */
#include "thistle/diag.h"
#include "thistle/syshelp.h"
#include "thistle/threads.h"
#include "thistle/timer.h"

#include "plat/win32.h"

#include <atomic>
#include <mutex>

namespace {

template <typename T>
std::atomic_ref<T> at(T &field) {
    return std::atomic_ref<T>(field);
}

timerfunction secondarylist[TIMER_FUNCTIONS];
critsection *secondarylock = nullptr;
void *secondaryevent = nullptr;
std::mutex eventguard;
threadrecord secondaryrecord;
/* Set by killsecondarytimer on the thread itself (which alone reads it): the lock that the
 * thread deletes as it leaves, since nobody waits for it. */
critsection *selfstopped = nullptr;

/* A sleeping guard: the callback runs above the threads it shares it with. */
void guardenter(void) {
    eventguard.lock();
}

void guardleave(void) {
    eventguard.unlock();
}

/* The thread: created while its creator holds the lock, so the lock it finds is its own.
 * It runs while that lock is still the secondary lock. */
void secondarythread(void) {
    critsection *lock = at(secondarylock).load();
    void *event = makeevent();
    guardenter();
    at(secondaryevent).store(event);
    guardleave();
    while (at(secondarylock).load() == lock) {
        waitevent(event);
        enterlock(lock);
        if (at(secondarylock).load() == lock) {
            for (int32_t i = 0; i < TIMER_FUNCTIONS && secondarylist[i] != nullptr; i++)
                secondarylist[i]();
        }
        leavelock(lock);
    }
    /* Withdraw the event unless a newer thread has published its own already. */
    guardenter();
    void *mine = event;
    at(secondaryevent).compare_exchange_strong(mine, nullptr);
    guardleave();
    closeevent(event);
    if (selfstopped == lock) {
        selfstopped = nullptr;
        deletelock(lock);
    }
}

} // namespace

/* Starts the secondary thread under a new secondary lock (see the header); returns once
 * the thread's event exists. killsecondarytimer is registered for program exit once. */
int32_t wininittimer(void) {
    static bool exitregistered = false;
    if (!exitregistered) {
        exitregistered = true;
        registerexit(killsecondarytimer);
    }
    critsection *lock = createlock();
    if (lock == nullptr)
        return 0;
    enterlock(lock);
    void *before = at(secondaryevent).load();
    at(secondarylock).store(lock);
    if (createlibthread(secondarythread, 0, 1, -1, &secondaryrecord) == nullptr) {
        at(secondarylock).store(nullptr);
        leavelock(lock);
        deletelock(lock);
        THISTLE_SITE("win\\lowtimer");
        fatalerror("wininittimer - FAILED TO CREATE SECONDARY TIMER`S THREAD.\n");
        return 0;
    }
    while (at(secondaryevent).load() == before || at(secondaryevent).load() == nullptr)
        sleepms(0);
    leavelock(lock);
    return 1;
}

/* Adds the function in the lowest empty slot, starting the secondary timer first when it
 * does not run. A listed function or a full list leaves the list as it is. */
void addsecondarytimer(timerfunction function) {
    if (at(secondarylock).load() == nullptr && wininittimer() == 0)
        return;
    critsection *lock = at(secondarylock).load();
    enterlock(lock);
    for (int32_t i = 0; i < TIMER_FUNCTIONS; i++) {
        if (secondarylist[i] == function)
            break;
        if (secondarylist[i] == nullptr) {
            secondarylist[i] = function;
            break;
        }
    }
    leavelock(lock);
}

/* Removes the function, moving the later slots down; the last removal stops the thread. */
void removesecondarytimer(timerfunction function) {
    critsection *lock = at(secondarylock).load();
    if (lock == nullptr)
        return;
    enterlock(lock);
    for (int32_t i = 0; i < TIMER_FUNCTIONS; i++) {
        if (secondarylist[i] == function) {
            for (int32_t j = i; j < TIMER_FUNCTIONS - 1; j++)
                secondarylist[j] = secondarylist[j + 1];
            secondarylist[TIMER_FUNCTIONS - 1] = nullptr;
            break;
        }
    }
    bool empty = secondarylist[0] == nullptr;
    leavelock(lock);
    if (empty)
        killsecondarytimer();
}

/* Stops the secondary thread: forgets the lock and wakes the thread, which then ends.
 * From another thread it waits until the thread's event is gone and deletes the lock;
 * on the thread itself (a secondary function stopping its own timer) the thread deletes
 * it as it leaves. */
void killsecondarytimer(void) {
    critsection *lock = at(secondarylock).load();
    if (lock == nullptr)
        return;
    enterlock(lock);
    at(secondarylock).store(nullptr);
    void *event = at(secondaryevent).load();
    signalsecondarytimer();
    leavelock(lock);
    if (isthread(&secondaryrecord)) {
        selfstopped = lock;
        return;
    }
    while (event != nullptr && at(secondaryevent).load() == event)
        sleepms(0);
    deletelock(lock);
}

/* Wakes the secondary thread (the tick callback's part). */
void signalsecondarytimer(void) {
    guardenter();
    void *event = at(secondaryevent).load();
    if (event != nullptr)
        signalevent(event);
    guardleave();
}
