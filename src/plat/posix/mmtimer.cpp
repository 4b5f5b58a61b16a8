/*
 * mmtimer.cpp - the multimedia timer: one-shot and periodic timer events whose
 * callbacks run on one timer thread of the process, and the resolution requests.
 *
 * Clock: events are due on CLOCK_BOOTTIME, the clock GetTickCount reads (suspended
 * time counts, as in the tick count of Windows), so a callback armed for "due - now"
 * milliseconds runs when GetTickCount says the due time has come. Deadlines sit on
 * whole milliseconds of that clock: an event armed at tick count T for d ms is due at
 * the start of millisecond T + d, as a timer driven by a 1 ms interrupt would be.
 * Over the tick-count readings this loses nothing and adds no sub-millisecond
 * jitter to a schedule that is re-armed from its own callback.
 *
 * Timer thread: started through CreateThread on the first timeSetEvent, so callbacks
 * run on a thread with a record of this layer (GetCurrentThreadId, GetCurrentThread,
 * SetThreadPriority work there). It runs at THREAD_PRIORITY_TIME_CRITICAL, which this
 * layer makes a real-time priority where allowed, as the system's timer thread runs
 * above every normal thread on Windows: with both cores busy it still wakes within a
 * fraction of a millisecond (docs/bench-timer.md). Without the privilege it runs at
 * a raised nice value only. It sleeps in poll()
 * on a timerfd armed with the absolute deadline of the first event (TFD_TIMER_ABSTIME
 * on CLOCK_BOOTTIME: the same sleep as clock_nanosleep(TIMER_ABSTIME), and unlike
 * that one another thread can cut it short through an eventfd when it arms an
 * earlier event). The thread never ends.
 *
 * Events: a multimap ordered by deadline (equal deadlines in arming order); ids come
 * from a 32-bit counter that skips 0 and ids in use, so an id comes back only after
 * four billion events. A periodic event stays on its grid (deadline += period); when
 * the thread fell behind by more than a period, the missed periods are dropped (the
 * deadline moves on by whole periods) rather than run in a burst.
 *
 * Threads and locks: the timer lock guards the events, the running callback and the
 * resolution counts; callbacks run without it, one at a time. timeKillEvent of the
 * running event waits on a condition variable until the callback has returned,
 * except on the timer thread itself (a callback that kills an event never waits).
 * The timer lock is never held while taking kernlock.
 *
 * Resolution: timeBeginPeriod/timeEndPeriod only count requests per value; deadlines
 * are exact whatever is asked for (timerfd expiries carry no timer slack).
 * Limits: the state is never freed, so callbacks may still run while the process
 * exits; in a child made by fork() events never run (it has no timer thread).
 */
#include "kernel.h"
#include "plat/mmsystem.h"

#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <map>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

namespace {

constexpr UINT maxperiod = 1000000; /* longest delay and coarsest resolution, ms */
constexpr uint64_t nsperms = 1000000;
constexpr uint64_t never = UINT64_MAX;

struct timerevent {
    UINT id;
    UINT period; /* ms; 0 for a one-shot event */
    LPTIMECALLBACK fn;
    DWORD_PTR user;
};

struct timerstate {
    std::mutex lock;
    std::condition_variable idle;               /* a callback returned */
    std::multimap<uint64_t, timerevent> events; /* by deadline, ns of CLOCK_BOOTTIME */
    UINT lastid = 0;
    UINT running = 0;    /* id of the event whose callback runs, 0: none */
    DWORD thread = 0;    /* the timer thread's id, 0 until it runs */
    bool asleep = false; /* the thread sleeps, till armed (never: till woken) */
    uint64_t armed = never;
    int timerfd = -1; /* set once before the thread starts */
    int wakefd = -1;
    std::map<UINT, unsigned> periods; /* resolution requests by value */
};

/* Made on first use and never destroyed (see the limits above). */
timerstate &state() {
    static timerstate *s = new timerstate;
    return *s;
}

uint64_t nowns() {
    struct timespec ts;
    clock_gettime(CLOCK_BOOTTIME, &ts);
    return (uint64_t)ts.tv_sec * 1000000000u + (uint64_t)ts.tv_nsec;
}

/* With the lock held: an id not in use, never 0. */
UINT newid(timerstate &s) {
    for (;;) {
        UINT id = ++s.lastid;
        if (id == 0 || id == s.running) {
            continue;
        }
        bool used = false;
        for (const auto &e : s.events) {
            used = used || e.second.id == id;
        }
        if (!used) {
            return id;
        }
    }
}

void drain(int fd) {
    uint64_t v;
    while (read(fd, &v, sizeof v) > 0) {
    }
}

/* With the lock held (as lk): runs every event that is due, each callback with the
 * lock released. Returns the deadline of the first event left, or never. */
uint64_t rundue(timerstate &s, std::unique_lock<std::mutex> &lk) {
    for (;;) {
        if (s.events.empty()) {
            return never;
        }
        auto first = s.events.begin();
        uint64_t now = nowns();
        if (first->first > now) {
            return first->first;
        }
        uint64_t due = first->first;
        timerevent ev = first->second;
        s.events.erase(first);
        if (ev.period != 0) {
            uint64_t step = (uint64_t)ev.period * nsperms;
            due += step;
            if (due + step <= now) {
                due += (now - due) / step * step;
            }
            s.events.emplace(due, ev);
        }
        s.running = ev.id;
        lk.unlock();
        ev.fn(ev.id, 0, ev.user, 0, 0);
        lk.lock();
        s.running = 0;
        s.idle.notify_all();
    }
}

DWORD WINAPI timermain(LPVOID) {
    timerstate &s = state();
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    std::unique_lock<std::mutex> lk(s.lock);
    s.thread = GetCurrentThreadId();
    for (;;) {
        uint64_t next = rundue(s, lk);
        struct itimerspec its {};
        if (next != never) {
            its.it_value.tv_sec = (time_t)(next / 1000000000u);
            its.it_value.tv_nsec = (long)(next % 1000000000u);
        }
        timerfd_settime(s.timerfd, TFD_TIMER_ABSTIME, &its, nullptr);
        s.armed = next;
        s.asleep = true;
        lk.unlock();
        struct pollfd fds[2] = {{s.timerfd, POLLIN, 0}, {s.wakefd, POLLIN, 0}};
        if (poll(fds, 2, -1) > 0) {
            drain(s.timerfd);
            drain(s.wakefd);
        }
        lk.lock();
        s.asleep = false;
    }
    return 0;
}

/* Starts the timer thread once; false when it could not be started (a later call
 * tries again). */
bool startthread(timerstate &s) {
    static std::mutex startlock;
    static bool started = false;
    std::lock_guard<std::mutex> guard(startlock);
    if (started) {
        return true;
    }
    if (s.timerfd < 0) {
        s.timerfd = timerfd_create(CLOCK_BOOTTIME, TFD_CLOEXEC | TFD_NONBLOCK);
    }
    if (s.wakefd < 0) {
        s.wakefd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    }
    if (s.timerfd < 0 || s.wakefd < 0) {
        return false;
    }
    HANDLE h = CreateThread(nullptr, 0, timermain, nullptr, 0, nullptr);
    if (h == nullptr) {
        return false;
    }
    CloseHandle(h);
    started = true;
    return true;
}

} // namespace

/* Reports the delays and resolutions accepted: 1 to 1000000 ms. */
MMRESULT WINAPI timeGetDevCaps(LPTIMECAPS ptc, UINT cbtc) {
    if (ptc == nullptr || cbtc < sizeof(TIMECAPS)) {
        return TIMERR_NOCANDO;
    }
    ptc->wPeriodMin = 1;
    ptc->wPeriodMax = maxperiod;
    return TIMERR_NOERROR;
}

/* Counts a request for a resolution of uPeriod ms (see the top of the file). */
MMRESULT WINAPI timeBeginPeriod(UINT uPeriod) {
    if (uPeriod < 1 || uPeriod > maxperiod) {
        return TIMERR_NOCANDO;
    }
    timerstate &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    s.periods[uPeriod]++;
    return TIMERR_NOERROR;
}

/* Gives back one request made by timeBeginPeriod with the same value. */
MMRESULT WINAPI timeEndPeriod(UINT uPeriod) {
    timerstate &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    auto it = s.periods.find(uPeriod);
    if (it == s.periods.end()) {
        return TIMERR_NOCANDO;
    }
    if (--it->second == 0) {
        s.periods.erase(it);
    }
    return TIMERR_NOERROR;
}

/* Arms an event due uDelay ms from now (1 to 1000000), on whole milliseconds of the
 * tick count; uResolution is not needed for that and is ignored. Only function
 * callbacks are offered. */
MMRESULT WINAPI timeSetEvent(UINT uDelay, UINT uResolution, LPTIMECALLBACK fptc, DWORD_PTR dwUser,
                             UINT fuEvent) {
    (void)uResolution;
    if (fptc == nullptr || uDelay < 1 || uDelay > maxperiod ||
        (fuEvent & ~(UINT)TIME_PERIODIC) != 0) {
        return 0;
    }
    timerstate &s = state();
    if (!startthread(s)) {
        return 0;
    }
    uint64_t due = (nowns() / nsperms + uDelay) * nsperms;
    UINT id;
    bool wake;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        id = newid(s);
        UINT period = (fuEvent & TIME_PERIODIC) != 0 ? uDelay : 0;
        s.events.emplace(due, timerevent{id, period, fptc, dwUser});
        /* Awake, the thread looks at the events again before it sleeps. */
        wake = s.asleep && due < s.armed;
    }
    if (wake) {
        uint64_t one = 1;
        (void)!write(s.wakefd, &one, sizeof one);
    }
    return id;
}

/* Cancels the event: a pending one never runs (again). When its callback is running
 * on the timer thread, returns once it has returned. */
MMRESULT WINAPI timeKillEvent(UINT uTimerID) {
    if (uTimerID == 0) {
        return MMSYSERR_INVALPARAM;
    }
    timerstate &s = state();
    std::unique_lock<std::mutex> lk(s.lock);
    bool found = false;
    for (auto it = s.events.begin(); it != s.events.end(); ++it) {
        if (it->second.id == uTimerID) {
            s.events.erase(it);
            found = true;
            break;
        }
    }
    if (s.running == uTimerID) {
        found = true;
        if (GetCurrentThreadId() != s.thread) {
            s.idle.wait(lk, [&s, uTimerID] { return s.running != uTimerID; });
        }
    }
    return found ? TIMERR_NOERROR : MMSYSERR_INVALPARAM;
}

/* The tick count as timeSetEvent reads it: GetTickCount's milliseconds. */
DWORD WINAPI timeGetTime(void) {
    return (DWORD)(nowns() / nsperms);
}
