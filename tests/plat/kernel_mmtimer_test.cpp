/*
 * kernel_mmtimer_test.cpp - the multimedia timer: when one-shot and periodic events
 * run against the tick count, their order, cancelling (also of a running callback and
 * from inside one), and the resolution counts. A one-shot event re-armed from its own
 * callback is the library's tick, which the timer suite runs at its rates. Timing bounds
 * are wide: the suites share a loaded machine.
 */
#include "plat/mmsystem.h"
#include "plat/win32.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

/* What callbacks saw: the tick count and user value of each call. */
struct record {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<DWORD> ticks;
    std::vector<DWORD_PTR> users;

    size_t count() {
        std::lock_guard<std::mutex> g(lock);
        return ticks.size();
    }
    bool waitfor(size_t n) {
        std::unique_lock<std::mutex> g(lock);
        return changed.wait_for(g, 5000ms, [&] { return ticks.size() >= n; });
    }
};

record *current; /* where note() writes; each test points it at its own record */

void CALLBACK note(UINT, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR) {
    DWORD now = GetTickCount();
    std::lock_guard<std::mutex> g(current->lock);
    current->ticks.push_back(now);
    current->users.push_back(user);
    current->changed.notify_all();
}

} // namespace

TEST(KernelMmtimer, RefusedArgumentsCapsAndResolutionCounts) {
    TIMECAPS caps{};
    ASSERT_EQ(timeGetDevCaps(&caps, sizeof caps), (MMRESULT)TIMERR_NOERROR);
    EXPECT_EQ(caps.wPeriodMin, 1u);
    EXPECT_GE(caps.wPeriodMax, 1000u);
    EXPECT_EQ(timeGetDevCaps(nullptr, sizeof caps), (MMRESULT)TIMERR_NOCANDO);
    EXPECT_EQ(timeSetEvent(0, 1, note, 0, TIME_ONESHOT), 0u);
    EXPECT_EQ(timeSetEvent(caps.wPeriodMax + 1, 1, note, 0, TIME_ONESHOT), 0u);
    EXPECT_EQ(timeSetEvent(10, 1, nullptr, 0, TIME_ONESHOT), 0u);
    EXPECT_EQ(timeSetEvent(10, 1, note, 0, 0x10), 0u); /* event callbacks: not offered */
    EXPECT_EQ(timeKillEvent(0), (MMRESULT)MMSYSERR_INVALPARAM);
    EXPECT_EQ(timeKillEvent(0x7ffffff0u), (MMRESULT)MMSYSERR_INVALPARAM);

    EXPECT_EQ(timeBeginPeriod(0), (MMRESULT)TIMERR_NOCANDO);
    EXPECT_EQ(timeBeginPeriod(caps.wPeriodMax + 1), (MMRESULT)TIMERR_NOCANDO);
    EXPECT_EQ(timeEndPeriod(7), (MMRESULT)TIMERR_NOCANDO);
    for (UINT p : {1u, 1u, 7u, caps.wPeriodMax}) {
        EXPECT_EQ(timeBeginPeriod(p), (MMRESULT)TIMERR_NOERROR) << p;
    }
    for (UINT p : {1u, 7u, caps.wPeriodMax, 1u}) {
        EXPECT_EQ(timeEndPeriod(p), (MMRESULT)TIMERR_NOERROR) << p;
    }
    EXPECT_EQ(timeEndPeriod(7), (MMRESULT)TIMERR_NOCANDO);
    EXPECT_EQ(timeEndPeriod(1), (MMRESULT)TIMERR_NOCANDO);
}

/* One-shot events run once each, in deadline order and not before the tick count says
 * they are due; killed ones never, and one that has run cannot be killed any more. A
 * long event comes first: the thread sleeps towards it and must be woken for the rest. */
TEST(KernelMmtimer, OneShotsRunOnceInDeadlineOrderKilledOnesNever) {
    record r;
    current = &r;
    UINT later = timeSetEvent(10000, 1, note, 99, TIME_ONESHOT);
    ASSERT_NE(later, 0u);
    std::this_thread::sleep_for(20ms);
    DWORD start = GetTickCount();
    ASSERT_NE(timeSetEvent(120, 1, note, 120, TIME_ONESHOT), 0u);
    UINT once = timeSetEvent(50, 1, note, 8, TIME_ONESHOT);
    UINT every = timeSetEvent(50, 1, note, 9, TIME_PERIODIC);
    UINT first = timeSetEvent(40, 1, note, 40, TIME_ONESHOT);
    ASSERT_NE(timeSetEvent(80, 1, note, 80, TIME_ONESHOT), 0u);
    EXPECT_EQ(timeKillEvent(once), (MMRESULT)TIMERR_NOERROR);
    EXPECT_EQ(timeKillEvent(every), (MMRESULT)TIMERR_NOERROR);
    EXPECT_EQ(timeKillEvent(once), (MMRESULT)MMSYSERR_INVALPARAM);
    ASSERT_TRUE(r.waitfor(3));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(timeKillEvent(first), (MMRESULT)MMSYSERR_INVALPARAM);
    EXPECT_EQ(timeKillEvent(later), (MMRESULT)TIMERR_NOERROR);
    std::lock_guard<std::mutex> g(r.lock);
    ASSERT_EQ(r.users, (std::vector<DWORD_PTR>{40, 80, 120}));
    for (size_t k = 0; k < 3; k++) {
        EXPECT_GE((LONG)(r.ticks[k] - start), (LONG)r.users[k]) << "event " << r.users[k];
    }
    EXPECT_LT((LONG)(r.ticks[0] - start), 2000)
        << "a sleep towards the long event was not cut short";
}

namespace {

std::atomic<DWORD> stallend; /* tick count when the first call's stall ended */

void CALLBACK stallonce(UINT id, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR) {
    note(id, 0, user, 0, 0);
    if (stallend.load() == 0) {
        std::this_thread::sleep_for(200ms);
        stallend = GetTickCount();
    }
}

} // namespace

/* A periodic event never runs before its k-th period is due, drops the periods its first
 * (stalled) call missed instead of running them in a burst, and stops with the kill. */
TEST(KernelMmtimer, PeriodicKeepsItsScheduleDropsMissedPeriodsUntilKilled) {
    record r;
    current = &r;
    stallend = 0;
    DWORD armed = GetTickCount();
    UINT id = timeSetEvent(10, 1, stallonce, 0, TIME_PERIODIC);
    ASSERT_NE(id, 0u);
    std::this_thread::sleep_for(500ms);
    ASSERT_EQ(timeKillEvent(id), (MMRESULT)TIMERR_NOERROR);
    size_t n = r.count();
    std::this_thread::sleep_for(60ms);
    EXPECT_EQ(r.count(), n) << "ran after it was killed";
    EXPECT_EQ(timeKillEvent(id), (MMRESULT)MMSYSERR_INVALPARAM);
    EXPECT_GE(n, 12u); /* ~30 calls after the stall */
    std::lock_guard<std::mutex> g(r.lock);
    size_t burst = 0;
    for (size_t k = 0; k < r.ticks.size(); k++) {
        EXPECT_GE((LONG)(r.ticks[k] - armed), (LONG)(10 * (k + 1))) << "call " << k;
        burst += k > 0 && (LONG)(r.ticks[k] - stallend.load()) <= 5;
    }
    EXPECT_LE(burst, 3u) << "the missed periods ran in a burst";
}

namespace {

std::atomic<int> slowstate; /* 0 armed, 1 in the callback, 2 returned */
std::atomic<int> selfkills;
std::atomic<MMRESULT> selfkillresult;

void CALLBACK slow(UINT, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR) {
    slowstate = 1;
    std::this_thread::sleep_for(100ms);
    slowstate = 2;
}

void CALLBACK killself(UINT id, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR) {
    selfkills++;
    selfkillresult = timeKillEvent(id);
}

} // namespace

TEST(KernelMmtimer, KillWaitsForARunningCallbackButNotFromInsideOne) {
    slowstate = 0;
    UINT id = timeSetEvent(5, 1, slow, 0, TIME_PERIODIC);
    ASSERT_NE(id, 0u);
    while (slowstate.load() == 0) {
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(timeKillEvent(id), (MMRESULT)TIMERR_NOERROR);
    EXPECT_EQ(slowstate.load(), 2) << "kill returned while the callback ran";
    slowstate = 0;
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(slowstate.load(), 0);

    selfkills = 0;
    id = timeSetEvent(5, 1, killself, 0, TIME_PERIODIC);
    ASSERT_NE(id, 0u);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(selfkills.load(), 1);
    EXPECT_EQ(selfkillresult.load(), (MMRESULT)TIMERR_NOERROR);
}
