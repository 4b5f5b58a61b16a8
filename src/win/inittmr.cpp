/*
 * win\inittmr - the fixed-rate tick: inittimer/killtimer, the multimedia timer callback,
 * the timer thread and its counters, the hook thread, suspension and the tick arithmetic
 * (see thistle/timer.h).
 *
 * Schedule: the period is 65536000 / frequency, milliseconds in 16.16 fixed point. Each
 * callback adds it to the 16-bit fraction, carries the whole milliseconds into the due
 * time on the platform millisecond clock and arms the next one-shot event for
 * (due - now - 1) ms, at least 1: over a second the ticks follow the exact rate, and a
 * schedule that fell behind catches up in 1 ms steps (or, more than a second behind, is
 * re-based and counted in timerresyncs).
 *
 *   callback (platform timer thread) --signals--> tick event  -> timer thread (level 2)
 *                                             \-> hook event  -> hook thread  (level 3)
 *                                              \> secondary   -> secondary thread (1)
 *
 * Threads and locks: the schedule is shared by the callback, inittimer and killtimer; a
 * guard covers its few stores and the arming (never a wait), so that a callback in
 * flight during killtimer cannot arm an event nobody kills. The tick and hook events
 * are published and withdrawn under a second guard that the callback holds while it
 * signals them, so it never signals an event its thread has closed. The counters are
 * plain words read and written through atomic references.
 * Platform: the multimedia timer through plat/mmsystem.h, the millisecond clock and the
 * sleeps through plat/win32.h; threads and events through the thread module.
 */
#include "thistle/diag.h"
#include "thistle/syshelp.h"
#include "thistle/systask.h"
#include "thistle/threads.h"
#include "thistle/timer.h"

#include "plat/mmsystem.h"
#include "plat/win32.h"

#include <atomic>
#include <chrono>
#include <mutex>
#if defined(__i386__) || defined(__x86_64__) || defined(_M_IX86) || defined(_M_X64)
#include <x86intrin.h>
#define THISTLE_HAVE_RDTSC 1
#endif

int32_t tickrate = 0;
uint32_t tickcount = 0;
uint32_t systemtickcount = 0;
uint32_t clocktickcount = 0;
int32_t timerresyncs = 0;
int32_t timerprofile = 0;
int32_t usetimestampcounter = 1;
uint64_t timerprofilecycles = 0;

namespace {

template <typename T>
std::atomic_ref<T> at(T &field) {
    return std::atomic_ref<T>(field);
}

/* The tick schedule (process-wide). */
struct tickschedule {
    uint32_t period;     /* ms per tick, 16.16 */
    uint32_t fraction;   /* fractional ms carried from tick to tick (low 16 bits) */
    uint32_t due;        /* millisecond clock value at which the next tick is due */
    uint32_t resolution; /* ms asked of the multimedia timer: 1 while running, else 0 */
    UINT eventid;        /* the pending one-shot event, 0 when none */
    int32_t running;     /* the frequency while the tick runs, 0 when stopped */
    int32_t suspend;     /* while above 0 the timer thread gets no ticks */
};
tickschedule schedule = {};
std::mutex scheduleguard;

/* Threads' events: null while the thread is not up. */
void *tickevent = nullptr;
void *hookevent = nullptr;
std::mutex eventguard;

timerfunction hook = nullptr;
threadrecord timerthreadrecord;
threadrecord hookthreadrecord;
/* 1 from the timer thread's start until it has withdrawn its event. */
std::atomic<int32_t> timerthreadalive{0};
/* clocktickcount's 16-bit fraction. */
uint32_t clockfraction = 0;
/* tickdelta's base and the deadline. */
uint32_t deltabase = 0;
uint32_t deadline = 0;

/* The guards sleep, never spin: the callback and the timer thread run at higher
 * priorities than the threads that share the guards with them, and a yielding spin at a
 * higher priority would keep the holder off its processor. */
void guardenter(std::mutex &guard) {
    guard.lock();
}

void guardleave(std::mutex &guard) {
    guard.unlock();
}

void setstopped(void) {
    at(schedule.running).store(0);
    at(tickrate).store(0);
}

/* Signals an event of a thread of this module, unless the thread has withdrawn it. */
void signalpublished(void *&event) {
    guardenter(eventguard);
    void *e = at(event).load(std::memory_order_acquire);
    if (e != nullptr)
        signalevent(e);
    guardleave(eventguard);
}

void publish(void *&event, void *value) {
    guardenter(eventguard);
    at(event).store(value, std::memory_order_release);
    guardleave(eventguard);
}

bool profiling(void) {
    return at(timerprofile).load(std::memory_order_relaxed) != 0 &&
           at(usetimestampcounter).load(std::memory_order_relaxed) != 0;
}

void CALLBACK tickcallback(UINT id, UINT message, DWORD_PTR user, DWORD_PTR, DWORD_PTR);

/* Steps 1 and 2 of the callback, under the schedule guard: advance the due time by one
 * period and arm the event for the next tick (a failed arming stops the tick). */
void scheduletick(void) {
    guardenter(scheduleguard);
    uint32_t sum = schedule.fraction + schedule.period;
    schedule.fraction = sum & 0xFFFFu;
    schedule.due += sum >> 16;
    if (schedule.running != 0) {
        uint32_t now = GetTickCount();
        int32_t delay = static_cast<int32_t>(schedule.due - now) - 1;
        if (delay < 1) {
            if (delay < -1000) {
                /* More than a second behind: start afresh rather than fire a burst. */
                schedule.due = now + 1;
                at(timerresyncs).fetch_add(1, std::memory_order_relaxed);
            }
            delay = 1;
        }
        schedule.eventid = timeSetEvent(static_cast<UINT>(delay), schedule.resolution, tickcallback,
                                        0, TIME_ONESHOT);
        if (schedule.eventid == 0) {
            setstopped();
            timeEndPeriod(schedule.resolution);
        }
    }
    guardleave(scheduleguard);
}

/* The multimedia timer callback (also run once by inittimer): re-arm, then wake the
 * threads. The timer thread only while the tick is not suspended. */
void CALLBACK tickcallback(UINT, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR) {
    scheduletick();
    if (at(schedule.suspend).load() == 0)
        signalpublished(tickevent);
    signalpublished(hookevent);
    signalsecondarytimer();
}

/* The timer thread: counters and timer functions once per tick received. It also checks
 * the running state before its first wait, so that a stop that came before its event
 * existed still ends it. */
void timerthread(void) {
    uint32_t last = GetTickCount();
    void *event = makeevent();
    publish(tickevent, event);
    while (at(schedule.running).load() != 0) {
        waitevent(event);
        if (at(schedule.running).load() == 0)
            break;
        bool profile = profiling();
        uint64_t start = profile ? readtimestampcounter() : 0;
        at(tickcount).fetch_add(1, std::memory_order_relaxed);
        at(systemtickcount).fetch_add(1, std::memory_order_relaxed);
        uint32_t now = GetTickCount();
        /* 1193 per 65536 ms: the old 18.2 Hz clock, whatever the tick rate. */
        uint32_t sum = clockfraction + (now - last) * 1193u;
        clockfraction = sum & 0xFFFFu;
        at(clocktickcount).fetch_add(sum >> 16, std::memory_order_relaxed);
        last = now;
        calltimers();
        if (profile)
            at(timerprofilecycles)
                .fetch_add(readtimestampcounter() - start, std::memory_order_relaxed);
    }
    publish(tickevent, nullptr);
    closeevent(event);
    at(tickrate).store(0);
    timerthreadalive.store(0);
}

/* The hook thread: the hook, then a wait for the next tick, while a hook is set. */
void hookthread(void) {
    void *event = makeevent();
    publish(hookevent, event);
    for (;;) {
        timerfunction current = at(hook).load(std::memory_order_acquire);
        if (current == nullptr)
            break;
        current();
        waitevent(event);
    }
    publish(hookevent, nullptr);
    closeevent(event);
}

/* Waits, sleeping a millisecond at a time, until the timer thread has ended; not when
 * the caller is that thread (a timer function that stops the tick). */
void waittimerthread(void) {
    if (isthread(&timerthreadrecord))
        return;
    while (timerthreadalive.load() != 0)
        sleepms(1);
}

/* One failure of inittimer: report (site set by the caller), stop, give 0. */
int32_t failstart(void) {
    setstopped();
    return 0;
}

} // namespace

/* (Re)starts the tick; see the header. Each failure is reported through fatalerror and,
 * when the report returns, leaves the tick stopped (a bad frequency goes on at 100).
 * killtimer is registered for program exit once, however often the tick is restarted. */
int32_t inittimer(int32_t frequency) {
    static bool exitregistered = false;
    killtimer();
    if (frequency == 0)
        frequency = 100;
    if (frequency < 1 || frequency > 10000) {
        THISTLE_SITE("win\\inittmr");
        fatalerror("inittimer - BAD TIMER FREQUENCY SPECIFIED %d\n", frequency);
        frequency = 100;
    }
    guardenter(scheduleguard);
    schedule.period = 65536000u / static_cast<uint32_t>(frequency);
    schedule.fraction = 0;
    guardleave(scheduleguard);
    at(tickcount).store(0);
    at(clocktickcount).store(0);
    clockfraction = 0;

    TIMECAPS caps;
    if (timeGetDevCaps(&caps, sizeof caps) != TIMERR_NOERROR) {
        THISTLE_SITE("win\\inittmr");
        fatalerror("inittimer - MULTIMEDIA TIMER NOT FOUND.\n");
        return failstart();
    }
    /* The capabilities are not needed: every platform offers 1 ms. */
    uint32_t resolution = 1;
    if (resolution * 65536u > schedule.period) {
        THISTLE_SITE("win\\inittmr");
        fatalerror("inittimer - MULTIMEDIA TIMER CANNOT SUPPORT THIS FREQUENCY.\n");
        return failstart();
    }
    /* Running before the thread starts, so that it waits for ticks rather than ending. */
    at(schedule.running).store(frequency);
    timerthreadalive.store(1);
    if (createlibthread(timerthread, 0, 2, -1, &timerthreadrecord) == nullptr) {
        timerthreadalive.store(0);
        setstopped();
        THISTLE_SITE("win\\inittmr");
        fatalerror("inittimer - FAILED TO CREATE TIMER THREAD.\n");
        return 0;
    }
    if (timeBeginPeriod(resolution) != TIMERR_NOERROR) {
        setstopped();
        signalpublished(tickevent);
        THISTLE_SITE("win\\inittmr");
        fatalerror("inittimer - FAILED TO INITIALIZE MULTIMEDIA TIMER.\n");
        return 0;
    }
    at(schedule.resolution).store(resolution);
    if (!exitregistered) {
        exitregistered = true;
        registerexit(killtimer);
    }
    at(tickrate).store(frequency);

    if (at(schedule.eventid).load() == 0) {
        /* The first tick comes from the callback's own arming; it must not count. */
        at(schedule.suspend).fetch_add(1);
        guardenter(scheduleguard);
        schedule.due = GetTickCount();
        guardleave(scheduleguard);
        tickcallback(0, 0, 0, 0, 0);
        at(schedule.suspend).fetch_sub(1);
    }
    uint32_t started = GetTickCount();
    while (at(tickcount).load() == 0 &&
           GetTickCount() - started < static_cast<uint32_t>(frequency) * 5u)
        sleepms(1);
    if (at(tickcount).load() == 0)
        killtimer();

    if (at(tickrate).load() == 0) {
        THISTLE_SITE("win\\inittmr");
        fatalerror("inittimer - FAILED TO INITIALIZE WINDOWS MULTIMEDIA TIMER, TRY RE-RUNNING.\n");
        return 0;
    }
    fatalstophook = cleartimers;
    return frequency;
}

/* Stops the tick: no further event is armed, the pending one is killed, the resolution
 * given back and the timer thread ended (and waited for). The stop hook is removed only
 * when it is still the one inittimer installed. */
void killtimer(void) {
    guardenter(scheduleguard);
    int32_t wasrunning = schedule.running;
    UINT pending = schedule.eventid;
    uint32_t resolution = schedule.resolution;
    setstopped();
    schedule.eventid = 0;
    guardleave(scheduleguard);
    if (wasrunning != 0) {
        /* Outside the guard: the platform may wait here for a callback in flight. */
        if (pending != 0)
            timeKillEvent(pending);
        timeEndPeriod(resolution);
    }
    signalpublished(tickevent);
    waittimerthread();
    guardenter(scheduleguard);
    schedule.fraction = 0;
    schedule.resolution = 0;
    schedule.eventid = 0;
    guardleave(scheduleguard);
    at(schedule.suspend).store(0);
    if (fatalstophook == cleartimers)
        fatalstophook = nullptr;
}

/* Suspend count + 1; the new count. */
int32_t suspendtimer(void) {
    return at(schedule.suspend).fetch_add(1) + 1;
}

/* Suspend count - 1 while above 0; the new count. */
int32_t resumetimer(void) {
    int32_t count = at(schedule.suspend).load();
    while (count > 0 && !at(schedule.suspend).compare_exchange_weak(count, count - 1)) {
    }
    return count > 0 ? count - 1 : 0;
}

/* Installs or removes the hook; starting or ending the hook thread as needed, and
 * returning once its event exists or is gone. */
void settimerhook(timerfunction function) {
    at(hook).store(function, std::memory_order_release);
    if (function != nullptr) {
        if (at(hookevent).load() == nullptr) {
            if (createlibthread(hookthread, 0, 3, -1, &hookthreadrecord) == nullptr)
                return;
            while (at(hookevent).load() == nullptr)
                sleepms(0);
        }
    } else if (at(hookevent).load() != nullptr) {
        signalpublished(hookevent);
        while (at(hookevent).load() != nullptr)
            sleepms(0);
    }
}

/* ---- tick arithmetic --------------------------------------------------------------- */

uint32_t gettick(void) {
    return at(tickcount).load(std::memory_order_relaxed);
}

int32_t ticksince(uint32_t tick) {
    return static_cast<int32_t>(gettick() - tick);
}

/* Ticks since the previous call (or resetticks); the base moves to now. */
int32_t tickdelta(void) {
    uint32_t now = gettick();
    uint32_t base = at(deltabase).exchange(now);
    return static_cast<int32_t>(now - base);
}

void resetticks(void) {
    at(tickcount).store(0);
    at(deltabase).store(0);
    at(deadline).store(0);
}

void setdeadline(int32_t ticks) {
    at(deadline).store(gettick() + static_cast<uint32_t>(ticks));
}

int32_t deadlinepassed(void) {
    return static_cast<int32_t>(gettick() - at(deadline).load()) >= 0 ? 1 : 0;
}

/* Both waits run the system tasks over and over and give up the processor between two
 * runs (a zero sleep, no delay): on a machine with few cores the timer thread that ends
 * the wait must get its turn. */
void waitdeadline(void) {
    while (deadlinepassed() == 0) {
        runsystemtasks(0);
        SleepEx(0, TRUE);
    }
}

void waitticks(int32_t ticks) {
    uint32_t start = gettick();
    while (static_cast<int32_t>(gettick() - start) < ticks) {
        runsystemtasks(0);
        SleepEx(0, TRUE);
    }
}

/* The time-stamp counter on x86; elsewhere a monotonic nanosecond count. */
uint64_t readtimestampcounter(void) {
#ifdef THISTLE_HAVE_RDTSC
    return __rdtsc();
#else
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
#endif
}
