/*
 * kernel_mmtimer_test.cpp - the multimedia timer: when one-shot and periodic events
 * run against the tick count, their order, cancelling (also of a running callback and
 * from inside one), re-arming from the callback, the callback's thread, and the
 * resolution counts. Timing bounds are wide: the suites share a loaded machine.
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

/* What callbacks saw: the tick count, user value and thread of each call. */
struct record {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<DWORD> ticks;
    std::vector<DWORD_PTR> users;
    std::vector<DWORD> tids;

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
    current->tids.push_back(GetCurrentThreadId());
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

TEST(KernelMmtimer, OneShotRunsOnceWhenTheTickCountSaysItIsDue) {
    record r;
    current = &r;
    for (UINT delay : {1u, 30u}) {
        size_t before = r.count();
        DWORD armed = GetTickCount();
        UINT id = timeSetEvent(delay, 1, note, reinterpret_cast<DWORD_PTR>(&r), TIME_ONESHOT);
        ASSERT_NE(id, 0u);
        ASSERT_TRUE(r.waitfor(before + 1));
        std::this_thread::sleep_for(100ms);
        std::lock_guard<std::mutex> g(r.lock);
        ASSERT_EQ(r.ticks.size(), before + 1) << "delay " << delay;
        EXPECT_GE((LONG)(r.ticks.back() - armed), (LONG)delay);
        EXPECT_EQ(r.users.back(), reinterpret_cast<DWORD_PTR>(&r));
    }
    /* ids are fresh, and a one-shot event that has run cannot be killed any more */
    UINT a = timeSetEvent(1, 1, note, reinterpret_cast<DWORD_PTR>(&r), TIME_ONESHOT);
    UINT b = timeSetEvent(1, 1, note, reinterpret_cast<DWORD_PTR>(&r), TIME_ONESHOT);
    EXPECT_NE(a, b);
    ASSERT_TRUE(r.waitfor(4));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(timeKillEvent(a), (MMRESULT)MMSYSERR_INVALPARAM);
}

TEST(KernelMmtimer, EventsRunInDeadlineOrderKilledOnesNever) {
    record r;
    current = &r;
    /* A long event first: the thread sleeps towards it and must be woken for the rest. */
    UINT later = timeSetEvent(10000, 1, note, 99, TIME_ONESHOT);
    ASSERT_NE(later, 0u);
    std::this_thread::sleep_for(20ms);
    DWORD start = GetTickCount();
    ASSERT_NE(timeSetEvent(120, 1, note, 3, TIME_ONESHOT), 0u);
    UINT once = timeSetEvent(50, 1, note, 8, TIME_ONESHOT);
    UINT every = timeSetEvent(50, 1, note, 9, TIME_PERIODIC);
    ASSERT_NE(timeSetEvent(40, 1, note, 1, TIME_ONESHOT), 0u);
    ASSERT_NE(timeSetEvent(80, 1, note, 2, TIME_ONESHOT), 0u);
    EXPECT_EQ(timeKillEvent(once), (MMRESULT)TIMERR_NOERROR);
    EXPECT_EQ(timeKillEvent(every), (MMRESULT)TIMERR_NOERROR);
    EXPECT_EQ(timeKillEvent(once), (MMRESULT)MMSYSERR_INVALPARAM);
    ASSERT_TRUE(r.waitfor(3));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(timeKillEvent(later), (MMRESULT)TIMERR_NOERROR);
    std::lock_guard<std::mutex> g(r.lock);
    EXPECT_EQ(r.users, (std::vector<DWORD_PTR>{1, 2, 3}));
    EXPECT_LT((LONG)(r.ticks[0] - start), 2000)
        << "a sleep towards the long event was not cut short";
}

TEST(KernelMmtimer, PeriodicKeepsItsScheduleUntilKilled) {
    record r;
    current = &r;
    DWORD armed = GetTickCount();
    UINT id = timeSetEvent(10, 1, note, reinterpret_cast<DWORD_PTR>(&r), TIME_PERIODIC);
    ASSERT_NE(id, 0u);
    std::this_thread::sleep_for(500ms);
    ASSERT_EQ(timeKillEvent(id), (MMRESULT)TIMERR_NOERROR);
    DWORD killed = GetTickCount();
    size_t n = r.count();
    std::this_thread::sleep_for(60ms);
    EXPECT_EQ(r.count(), n) << "ran after it was killed";
    EXPECT_EQ(timeKillEvent(id), (MMRESULT)MMSYSERR_INVALPARAM);
    /* ~50 calls; never more than the elapsed periods, never before the k-th is due */
    EXPECT_GE(n, 30u);
    EXPECT_LE(n, (size_t)(killed - armed) / 10);
    std::lock_guard<std::mutex> g(r.lock);
    for (size_t k = 0; k < r.ticks.size(); k++) {
        EXPECT_GE((LONG)(r.ticks[k] - armed), (LONG)(10 * (k + 1))) << "call " << k;
    }
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

TEST(KernelMmtimer, PeriodicDropsThePeriodsItMissedAndGoesOn) {
    record r;
    current = &r;
    stallend = 0;
    UINT id = timeSetEvent(10, 1, stallonce, 0, TIME_PERIODIC);
    ASSERT_NE(id, 0u);
    ASSERT_TRUE(r.waitfor(12));
    EXPECT_EQ(timeKillEvent(id), (MMRESULT)TIMERR_NOERROR);
    std::lock_guard<std::mutex> g(r.lock);
    size_t burst = 0;
    for (size_t k = 1; k < r.ticks.size(); k++) {
        burst += (LONG)(r.ticks[k] - stallend.load()) <= 5;
    }
    EXPECT_LE(burst, 3u) << "the missed periods ran in a burst";
}

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

namespace {

/* The library's tick: a one-shot event re-armed from its own callback. */
struct rearm {
    record r;
    int left;
    std::atomic<UINT> pending;
};

void CALLBACK tick(UINT, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR) {
    rearm *t = reinterpret_cast<rearm *>(user);
    if (--t->left > 0) {
        t->pending = timeSetEvent(3, 1, tick, user, TIME_ONESHOT);
    }
    note(0, 0, user, 0, 0);
    BOOL set = SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
    EXPECT_TRUE(set);
    EXPECT_EQ(GetThreadPriority(GetCurrentThread()), THREAD_PRIORITY_HIGHEST);
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
}

} // namespace

TEST(KernelMmtimer, ReArmedFromItsCallbackOnALayerThread) {
    rearm t;
    current = &t.r;
    t.left = 20;
    t.pending = timeSetEvent(3, 1, tick, reinterpret_cast<DWORD_PTR>(&t), TIME_ONESHOT);
    ASSERT_NE(t.pending.load(), 0u);
    ASSERT_TRUE(t.r.waitfor(20));
    std::this_thread::sleep_for(30ms);
    std::lock_guard<std::mutex> g(t.r.lock);
    ASSERT_EQ(t.r.ticks.size(), 20u);
    for (size_t k = 1; k < t.r.ticks.size(); k++) {
        EXPECT_GE((LONG)(t.r.ticks[k] - t.r.ticks[k - 1]), 3) << "call " << k;
    }
    DWORD tid = t.r.tids[0];
    EXPECT_NE(tid, 0u);
    EXPECT_NE(tid, GetCurrentThreadId());
    for (DWORD other : t.r.tids) {
        EXPECT_EQ(other, tid);
    }
}
