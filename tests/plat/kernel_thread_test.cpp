/*
 * kernel_thread_test.cpp - threads, critical sections, events, mutexes, waits and
 * APCs of the POSIX kernel side. Run under the thread sanitizer too.
 */
#include "kernel_testutil.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <vector>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

using namespace std::chrono_literals;
using steady = std::chrono::steady_clock;
using dwords = std::vector<DWORD>;

long elapsedms(steady::time_point since) {
    return (long)std::chrono::duration_cast<std::chrono::milliseconds>(steady::now() - since)
        .count();
}

/* Spins (sleeping 1 ms) until cond holds; false after 5 s. */
template <typename F>
bool eventually(F cond) {
    for (int i = 0; i < 5000; i++) {
        if (cond()) {
            return true;
        }
        Sleep(1);
    }
    return cond();
}

/* The thread's exit code (STILL_ACTIVE while it runs), or 0xBAD when the call fails. */
DWORD threadcode(HANDLE h) {
    DWORD code = 0xBAD;
    return GetExitCodeThread(h, &code) ? code : 0xBAD;
}

/* Appends its letter to a log of up to eight letters; returns the letter. */
struct orderitem {
    std::atomic<uint64_t> *log;
    char letter;
};

DWORD WINAPI appendletter(LPVOID arg) {
    orderitem *it = static_cast<orderitem *>(arg);
    uint64_t v = it->log->load();
    while (!it->log->compare_exchange_weak(v, v << 8 | (uint8_t)it->letter)) {
    }
    return (DWORD)it->letter;
}

DWORD WINAPI waitforever(LPVOID arg) {
    WaitForSingleObject(static_cast<HANDLE>(arg), INFINITE);
    return 1;
}

TEST(KernelThreadStart, SuspendedThreadsRunInResumeOrderInvalidPrioritiesAreRefused) {
    std::atomic<uint64_t> log{0};
    orderitem a{&log, 'A'};
    orderitem b{&log, 'B'};
    HANDLE ha = CreateThread(nullptr, 0, appendletter, &a, CREATE_SUSPENDED, nullptr);
    HANDLE hb = CreateThread(nullptr, 0, appendletter, &b, CREATE_SUSPENDED, nullptr);
    ASSERT_TRUE(ha && hb);
    Sleep(30);
    EXPECT_EQ(log.load(), 0u) << "a suspended thread ran";
    EXPECT_EQ(threadcode(ha), (DWORD)STILL_ACTIVE);

    /* Priorities out of the table are refused (valid ones: the threads suite). */
    for (int p : {3, -3, 7, -7, 14, 16, -16, 31, THREAD_PRIORITY_ERROR_RETURN}) {
        SetLastError(0);
        EXPECT_FALSE(SetThreadPriority(ha, p)) << p;
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
    }
    EXPECT_TRUE(SetThreadPriority(ha, THREAD_PRIORITY_IDLE));
    EXPECT_EQ(GetThreadPriority(ha), THREAD_PRIORITY_IDLE);

    /* Resume counts and waits in order; a running (or ended) thread's count stays 0. */
    EXPECT_EQ(dwords({ResumeThread(hb), WaitForSingleObject(hb, 5000), ResumeThread(ha),
                      WaitForSingleObject(ha, 5000), threadcode(ha), ResumeThread(ha),
                      ResumeThread(GetCurrentThread())}),
              dwords({1, WAIT_OBJECT_0, 1, WAIT_OBJECT_0, 'A', 0, 0}));
    EXPECT_EQ(log.load(), (uint64_t)('B' << 8 | 'A'));
    EXPECT_TRUE(CloseHandle(ha) && CloseHandle(hb));
    EXPECT_EQ(GetThreadPriority(ha), THREAD_PRIORITY_ERROR_RETURN);
}

DWORD WINAPI exitwith(LPVOID arg) {
    ExitThread((DWORD)(uintptr_t)arg);
}

DWORD WINAPI sleepforever(LPVOID) {
    Sleep(INFINITE);
    return 1;
}

/* Blocked outside the layer: in read() of a pipe nobody writes to. */
DWORD WINAPI readforever(LPVOID arg) {
    char c;
    long n = read(*static_cast<int *>(arg), &c, 1);
    return (DWORD)n;
}

int makepipe(int fds[2]) {
#ifdef _WIN32
    return _pipe(fds, 256, _O_BINARY);
#else
    return pipe(fds);
#endif
}

/* Never waits, sleeps or makes a system call. */
DWORD WINAPI spinforever(LPVOID arg) {
    for (;;) {
        static_cast<std::atomic<long> *>(arg)->fetch_add(1, std::memory_order_relaxed);
    }
}

#ifndef _WIN32
/* Blocks every signal, then spins until told to sleep in the layer. */
DWORD WINAPI spinblocked(LPVOID arg) {
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
    std::atomic<long> *state = static_cast<std::atomic<long> *>(arg);
    for (long v = 0; v >= 0;) {
        state->compare_exchange_weak(v, v + 1); /* v turns -1 once told */
    }
    for (;;) {
        Sleep(1);
    }
}
#endif

TEST(KernelThreadEnd, TerminatedThreadsEndWithTheCodeGivenWhereverTheyAre) {
    HANDLE ev = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    int fds[2];
    ASSERT_EQ(makepipe(fds), 0);
    std::atomic<long> spins{0};
    HANDLE all[] = {
        CreateThread(nullptr, 0, waitforever, ev, 0, nullptr),
        CreateThread(nullptr, 0, sleepforever, nullptr, 0, nullptr),
        CreateThread(nullptr, 0, readforever, &fds[0], 0, nullptr),
        CreateThread(nullptr, 0, sleepforever, nullptr, CREATE_SUSPENDED, nullptr),
        CreateThread(nullptr, 0, spinforever, &spins, 0, nullptr),
    };
    ASSERT_TRUE(eventually([&] { return spins.load() > 0; }));
    Sleep(30);
    for (int i = 0; i < 5; i++) {
        ASSERT_NE(all[i], nullptr);
        EXPECT_EQ(WaitForSingleObject(all[i], 0), (DWORD)WAIT_TIMEOUT) << i;
        EXPECT_TRUE(TerminateThread(all[i], 40u + (DWORD)i)) << i;
        /* It has ended when TerminateThread returns. */
        EXPECT_EQ(WaitForSingleObject(all[i], 0), (DWORD)WAIT_OBJECT_0) << i;
#ifndef _WIN32
        /* A second terminate of an ended thread changes nothing. (Wine takes the second
         * code as the thread's exit code.) */
        EXPECT_TRUE(TerminateThread(all[i], 99));
#endif
        EXPECT_EQ(threadcode(all[i]), 40u + (DWORD)i) << i;
        EXPECT_TRUE(CloseHandle(all[i]));
    }
    long stopped = spins.load();
    Sleep(20);
    EXPECT_EQ(spins.load(), stopped) << "the busy thread still runs";
#ifndef _WIN32
    /* (On Windows the runtime's lock of the read end stays with the terminated reader:
     * closing it would wait for ever, as TerminateThread's documentation warns.) */
    close(fds[0]);
    close(fds[1]);
#endif

#ifndef _WIN32
    /* With the signal blocked the call still returns; the thread ends at its next
     * sleep in the layer. */
    std::atomic<long> state{0};
    HANDLE h = CreateThread(nullptr, 0, spinblocked, &state, 0, nullptr);
    ASSERT_TRUE(eventually([&] { return state.load() > 0; }));
    EXPECT_TRUE(TerminateThread(h, 50));
    EXPECT_EQ(WaitForSingleObject(h, 0), (DWORD)WAIT_TIMEOUT);
    state = -1;
    EXPECT_EQ(dwords({WaitForSingleObject(h, 5000), threadcode(h)}), dwords({WAIT_OBJECT_0, 50}));
    EXPECT_TRUE(CloseHandle(h));
#else
    HANDLE h;
#endif

    h = CreateThread(nullptr, 0, exitwith, (LPVOID)(uintptr_t)0xC0DE, 0, nullptr);
    EXPECT_EQ(dwords({WaitForSingleObject(h, 5000), threadcode(h)}),
              dwords({WAIT_OBJECT_0, 0xC0DE}));
    EXPECT_TRUE(CloseHandle(h) && CloseHandle(ev));
}

struct duprun {
    std::atomic<HANDLE> created{nullptr}; /* CreateThread's handle, closed by the thread */
    std::atomic<HANDLE> mine{nullptr};    /* its own real handle, from its pseudo-handle */
    std::atomic<BOOL> closed{FALSE};
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
};

DWORD WINAPI duplicateself(LPVOID arg) {
    duprun *d = static_cast<duprun *>(arg);
    while (d->created.load() == nullptr) {
        Sleep(1);
    }
    d->closed = CloseHandle(d->created.load());
    HANDLE mine = nullptr;
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &mine, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
    d->mine = mine;
    WaitForSingleObject(d->go, INFINITE);
    return 5;
}

/* The thread closes the handle CreateThread gave and runs on; the handle it made from
 * its pseudo-handle names it on every thread, and sees its end. */
TEST(KernelThreadHandle, ThreadClosesItsOwnHandleAndDuplicatesItsPseudoHandle) {
    duprun d;
    HANDLE h = CreateThread(nullptr, 0, duplicateself, &d, 0, nullptr);
    ASSERT_NE(h, nullptr);
    d.created = h;
    ASSERT_TRUE(eventually([&] { return d.mine.load() != nullptr; }));
    EXPECT_TRUE(d.closed.load());
#ifndef _WIN32
    /* Windows gives a closed handle's value to the next handle made (here, likely the
     * thread's duplicate): only our layer's values stay unused. */
    EXPECT_FALSE(CloseHandle(h)) << "closed by the thread";
#endif
    HANDLE mine = d.mine.load();
    EXPECT_EQ(GetThreadPriority(mine), THREAD_PRIORITY_HIGHEST) << "not the calling thread";
    EXPECT_EQ(WaitForSingleObject(mine, 10), (DWORD)WAIT_TIMEOUT);

    /* DUPLICATE_CLOSE_SOURCE closes the original. */
    HANDLE copy = nullptr;
    EXPECT_TRUE(DuplicateHandle(GetCurrentProcess(), mine, GetCurrentProcess(), &copy, 0, FALSE,
                                DUPLICATE_SAME_ACCESS | DUPLICATE_CLOSE_SOURCE));
#ifndef _WIN32
    EXPECT_FALSE(CloseHandle(mine)) << "source still open"; /* the copy may take its value */
#endif
    EXPECT_TRUE(SetEvent(d.go));
    EXPECT_EQ(dwords({WaitForSingleObject(copy, 5000), threadcode(copy)}),
              dwords({WAIT_OBJECT_0, 5}));
    EXPECT_TRUE(CloseHandle(copy));
    EXPECT_TRUE(CloseHandle(d.go));
}

struct shared {
    CRITICAL_SECTION cs;
    long counter; /* guarded by cs only: a race shows under the thread sanitizer */
};

/* Each entry yields inside the section, so a lock that lets two threads in shows within a
 * few rounds; the rounds are few because on a busy machine each yield may cost a time slice. */
constexpr int hammerrounds = 1000;

DWORD WINAPI hammer(LPVOID arg) {
    shared *s = static_cast<shared *>(arg);
    for (int i = 0; i < hammerrounds; i++) {
        EnterCriticalSection(&s->cs);
        EnterCriticalSection(&s->cs); /* re-entry by the owner */
        long seen = s->counter;
        sched_yield();
        s->counter = seen + 1;
        LeaveCriticalSection(&s->cs);
        LeaveCriticalSection(&s->cs);
    }
    return 0;
}

/* TryEnterCriticalSection from another thread: 1 when it got in (and left), else 0. */
int trythere(CRITICAL_SECTION *cs) {
    int got = -1;
    std::thread([&] {
        got = TryEnterCriticalSection(cs);
        if (got) {
            LeaveCriticalSection(cs);
        }
    }).join();
    return got;
}

TEST(KernelCriticalSection, ReentrantAndExclusive) {
    /* Pointers, two 32-bit counts, handles and the spin count: 40 bytes, 24 on 32-bit. */
    static_assert(sizeof(CRITICAL_SECTION) == (sizeof(void *) == 8 ? 40 : 24),
                  "record size as on Windows");
    shared s{};
    InitializeCriticalSection(&s.cs);
    EnterCriticalSection(&s.cs);
    EXPECT_TRUE(TryEnterCriticalSection(&s.cs));
    EXPECT_EQ(trythere(&s.cs), 0);
    LeaveCriticalSection(&s.cs);
    EXPECT_EQ(trythere(&s.cs), 0) << "freed while entered once more";
    LeaveCriticalSection(&s.cs);
    EXPECT_EQ(trythere(&s.cs), 1);

    const int n = 4;
    HANDLE hs[n];
    for (HANDLE &h : hs) {
        h = CreateThread(nullptr, 0, hammer, &s, 0, nullptr);
        ASSERT_NE(h, nullptr);
    }
    EXPECT_EQ(WaitForMultipleObjects(n, hs, TRUE, 25000), (DWORD)WAIT_OBJECT_0);
    for (HANDLE h : hs) {
        CloseHandle(h);
    }
    EXPECT_EQ(s.counter, n * (long)hammerrounds) << "two threads were inside at once";
    DeleteCriticalSection(&s.cs);
}

TEST(KernelEvent, AutoResetIsTakenByOneWaitManualStaysSet) {
    /* (Signals kept and consumed: the threads suite.) The initial state, two sets. */
    for (BOOL manual : {FALSE, TRUE}) {
        HANDLE e = CreateEventA(nullptr, manual, TRUE, nullptr);
        ASSERT_NE(e, nullptr);
        auto wait = [e](DWORD ms) { return WaitForSingleObject(e, ms); };
        const DWORD second = manual ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
        EXPECT_EQ(dwords({wait(0), wait(0)}), dwords({WAIT_OBJECT_0, second})) << manual;
        EXPECT_TRUE(SetEvent(e) && SetEvent(e));
        EXPECT_EQ(dwords({wait(0), wait(0)}), dwords({WAIT_OBJECT_0, second}))
            << "two sets of an auto-reset event release one wait";
        /* A pulse with no waiter keeps nothing for later, and resets a set event. */
        EXPECT_TRUE(ResetEvent(e));
        EXPECT_TRUE(PulseEvent(e));
        EXPECT_EQ(wait(20), (DWORD)WAIT_TIMEOUT);
        EXPECT_TRUE(SetEvent(e) && PulseEvent(e));
        EXPECT_EQ(wait(0), (DWORD)WAIT_TIMEOUT);
        EXPECT_TRUE(CloseHandle(e));
        EXPECT_FALSE(SetEvent(e));
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
    }
    /* Named events are one object within the process. */
    HANDLE a = CreateEventA(nullptr, TRUE, FALSE, "kt-event");
    EXPECT_EQ(GetLastError(), 0u);
    HANDLE b = CreateEventA(nullptr, FALSE, FALSE, "kt-event");
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ALREADY_EXISTS);
    EXPECT_TRUE(SetEvent(a));
    EXPECT_EQ(WaitForSingleObject(b, 0), (DWORD)WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(b, 0), (DWORD)WAIT_OBJECT_0) << "manual mode of the first";
    CloseHandle(a);
    CloseHandle(b);
}

/* n waiters on an event (and on idle first, which ends them all when the group goes). */
struct waitgroup {
    HANDLE event;
    HANDLE idle = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atomic<int> waiting{0};
    std::atomic<int> released{0};
    std::vector<std::thread> threads;

    /* Returns once the waiters are (very likely) blocked in the wait. */
    waitgroup(BOOL manual, int n) : event(CreateEventA(nullptr, manual, FALSE, nullptr)) {
        for (int i = 0; i < n; i++) {
            threads.emplace_back([this] {
                waiting++;
                const HANDLE hs[] = {idle, event};
                released += WaitForMultipleObjects(2, hs, FALSE, 10000) == WAIT_OBJECT_0 + 1;
            });
        }
        eventually([&] { return waiting == n; });
        Sleep(100);
    }
    ~waitgroup() {
        SetEvent(idle);
        for (std::thread &t : threads) {
            t.join();
        }
        CloseHandle(event);
        CloseHandle(idle);
    }
};

TEST(KernelEvent, PulseReleasesTheCurrentWaitersAndLeavesTheEventReset) {
    /* Manual-reset: every waiter goes; auto-reset: exactly one, the next set takes one more. */
    for (auto [manualreset, released] : {std::pair{TRUE, 3}, {FALSE, 1}}) {
        const BOOL manual = manualreset; /* lambdas take copies, not structured bindings */
        const int goes = released;
        waitgroup group(manual, 3);
        EXPECT_TRUE(PulseEvent(group.event));
        EXPECT_TRUE(eventually([&] { return group.released == goes; })) << manual;
        Sleep(50);
        EXPECT_EQ(group.released, goes) << manual;
        EXPECT_EQ(WaitForSingleObject(group.event, 0), (DWORD)WAIT_TIMEOUT);
        EXPECT_TRUE(SetEvent(group.event));
        EXPECT_TRUE(eventually([&] { return group.released == (manual ? 3 : 2); })) << manual;
    }

    /* A wait for all is not released by a pulse of one of its events, only by both set. */
    {
        HANDLE both[2] = {CreateEventA(nullptr, TRUE, FALSE, nullptr),
                          CreateEventA(nullptr, FALSE, FALSE, nullptr)};
        std::atomic<DWORD> r{WAIT_FAILED};
        std::thread t([&] { r = WaitForMultipleObjects(2, both, TRUE, 5000); });
        Sleep(50);
        EXPECT_TRUE(PulseEvent(both[0]));
        Sleep(50);
        EXPECT_EQ(r.load(), (DWORD)WAIT_FAILED) << "a pulse released a wait for all";
        EXPECT_TRUE(SetEvent(both[1]));
        EXPECT_TRUE(SetEvent(both[0]));
        t.join();
        EXPECT_EQ(r.load(), (DWORD)WAIT_OBJECT_0);
        CloseHandle(both[0]);
        CloseHandle(both[1]);
    }
}

TEST(KernelWait, MultipleWaitGivesLowestSignalledIndexOrTimesOut) {
    HANDLE e[3];
    for (HANDLE &h : e) {
        h = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    }
    /* A set from another thread ends a wait without limit (timeouts and the lowest
     * signalled index: the threads suite). */
    std::thread setter([&] {
        Sleep(30);
        SetEvent(e[2]);
    });
    EXPECT_EQ(WaitForMultipleObjectsEx(3, e, FALSE, INFINITE, TRUE), WAIT_OBJECT_0 + 2);
    setter.join();

    /* Wait-all takes every object or none. */
    SetEvent(e[0]);
    EXPECT_EQ(WaitForMultipleObjects(2, e, TRUE, 0), (DWORD)WAIT_TIMEOUT);
    SetEvent(e[1]);
    EXPECT_EQ(WaitForMultipleObjects(2, e, TRUE, 0), (DWORD)WAIT_OBJECT_0);
    EXPECT_EQ(WaitForMultipleObjects(2, e, FALSE, 0), (DWORD)WAIT_TIMEOUT);

    /* Bad handles fail the whole wait. */
    HANDLE closed = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    CloseHandle(closed);
    const HANDLE withbad[] = {e[0], closed};
    auto failed = [](DWORD result) { return result == WAIT_FAILED ? GetLastError() : 0; };
    EXPECT_EQ(failed(WaitForMultipleObjectsEx(2, withbad, FALSE, 0, FALSE)), ERROR_INVALID_HANDLE);
    EXPECT_EQ(failed(WaitForSingleObject(nullptr, 0)), ERROR_INVALID_HANDLE);
    EXPECT_EQ(failed(WaitForMultipleObjectsEx(0, e, FALSE, 0, FALSE)), ERROR_INVALID_PARAMETER);
    HANDLE many[MAXIMUM_WAIT_OBJECTS + 1];
    std::fill(many, many + MAXIMUM_WAIT_OBJECTS + 1, e[0]);
    SetEvent(e[0]);
#ifdef _WIN32
    /* Wine waits on a handle given twice (Windows refuses it for a wait for all, as the
     * POSIX layer does) and faults on a null array (Windows fails the call). */
    for (DWORD n : {(DWORD)MAXIMUM_WAIT_OBJECTS + 1}) {
#else
    for (DWORD n : {(DWORD)MAXIMUM_WAIT_OBJECTS + 1, 2u}) { /* too many, or one twice */
#endif
        EXPECT_EQ(failed(WaitForMultipleObjects(n, many, TRUE, 0)), ERROR_INVALID_PARAMETER) << n;
    }
#ifndef _WIN32
    EXPECT_EQ(WaitForMultipleObjects(1, nullptr, FALSE, 0), WAIT_FAILED);
#endif
    EXPECT_EQ(WaitForMultipleObjects(2, many, FALSE, 0), (DWORD)WAIT_OBJECT_0);
    for (HANDLE h : e) {
        CloseHandle(h);
    }
    /* The pseudo-handles are waitable: the caller's process and thread never end. A
     * child's process handle is waited on by the process and request-channel suites. */
    EXPECT_EQ(WaitForSingleObject(GetCurrentProcess(), 20), (DWORD)WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(GetCurrentThread(), 0), (DWORD)WAIT_TIMEOUT);
}

/* From another thread: a release (not the owner's) and its error, then a 30 ms wait. */
dwords othertries(HANDLE m) {
    dwords r;
    std::thread([&] {
        r = {(DWORD)ReleaseMutex(m), GetLastError(), WaitForSingleObject(m, 30)};
        if (r[2] == WAIT_OBJECT_0) {
            ReleaseMutex(m);
        }
    }).join();
    return r;
}

TEST(KernelWait, MutexIsOwnedByOneThreadAtATime) {
    HANDLE m = CreateMutexA(nullptr, TRUE, nullptr);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(WaitForSingleObject(m, 0), (DWORD)WAIT_OBJECT_0) << "owner enters again";
    EXPECT_EQ(othertries(m), dwords({FALSE, ERROR_NOT_OWNER, WAIT_TIMEOUT}));
    EXPECT_TRUE(ReleaseMutex(m));
    EXPECT_EQ(othertries(m)[2], (DWORD)WAIT_TIMEOUT) << "still owned once";
    EXPECT_TRUE(ReleaseMutex(m));
    EXPECT_FALSE(ReleaseMutex(m));
    EXPECT_EQ(othertries(m)[2], (DWORD)WAIT_OBJECT_0);
    CloseHandle(m);
}

struct apcrun {
    std::atomic<DWORD> rantid{0};
    std::atomic<int> calls{0};
    std::atomic<int> phase{0};
    DWORD sleepresult = 0;
    DWORD waitresult = 0;
    DWORD plainsleep = 0;
    DWORD plainwait = 0;
    DWORD laterresult = 0;
    HANDLE event;
};

apcrun *currentapc;

void WINAPI onapc(ULONG_PTR param) {
    currentapc->rantid = GetCurrentThreadId();
    currentapc->calls += (int)param;
}

DWORD WINAPI apcthread(LPVOID arg) {
    apcrun *r = static_cast<apcrun *>(arg);
    r->sleepresult = SleepEx(INFINITE, TRUE);
    r->waitresult = WaitForMultipleObjectsEx(1, &r->event, FALSE, INFINITE, TRUE);
    r->phase = 1;
    /* Non-alertable: the APC queued now stays queued. */
    while (r->phase != 2) {
        Sleep(1);
    }
    r->plainwait = WaitForSingleObject(r->event, 20);
    Sleep(1);
    r->plainsleep = r->calls;
    r->laterresult = SleepEx(0, TRUE);
    return 0;
}

#ifndef _WIN32
/* (POSIX only: it counts a thread's sleeps in /proc.) */

/* Voluntary context switches of a thread of this process: how often it slept. */
long sleepsof(DWORD tid) {
    std::string status = kt::readfile("/proc/self/task/" + std::to_string(tid) + "/status");
    size_t at = status.find("voluntary_ctxt_switches:");
    return at == std::string::npos ? -1 : std::atol(status.c_str() + at + 24);
}

struct idlewaiter {
    HANDLE own;
    HANDLE shared; /* a mutex: the wait shares the wake-up of its kind */
    std::atomic<DWORD> tid{0};
    std::atomic<DWORD> result{0};
};

DWORD WINAPI waitidle(LPVOID arg) {
    idlewaiter *w = static_cast<idlewaiter *>(arg);
    w->tid = GetCurrentThreadId();
    HANDLE hs[2] = {w->own, w->shared};
    w->result = WaitForMultipleObjects(w->shared != nullptr ? 2 : 1, hs, FALSE, 10000);
    return 0;
}

TEST(KernelEvent, SetEventWakesOnlyTheWaitsForThatEvent) {
    HANDLE busy = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HANDLE owned = CreateMutexA(nullptr, TRUE, nullptr);
    idlewaiter alone{CreateEventA(nullptr, FALSE, FALSE, nullptr), nullptr};
    idlewaiter mixed{CreateEventA(nullptr, FALSE, FALSE, nullptr), owned};
    HANDLE threads[2] = {CreateThread(nullptr, 0, waitidle, &alone, 0, nullptr),
                         CreateThread(nullptr, 0, waitidle, &mixed, 0, nullptr)};
    ASSERT_TRUE(eventually([&] { return alone.tid != 0 && mixed.tid != 0; }));
    Sleep(20);
    long before = sleepsof(alone.tid);
    for (int i = 0; i < 100; i++) {
        SetEvent(busy);
        Sleep(1);
    }
    EXPECT_LT(sleepsof(alone.tid) - before, 10) << "woken by another event's SetEvent";
    /* Both still wake for their own event, and the mixed one for its mutex too. */
    EXPECT_TRUE(SetEvent(alone.own));
    EXPECT_TRUE(ReleaseMutex(owned));
    EXPECT_EQ(WaitForMultipleObjects(2, threads, TRUE, 5000), (DWORD)WAIT_OBJECT_0);
    EXPECT_EQ(alone.result.load(), (DWORD)WAIT_OBJECT_0);
    EXPECT_EQ(mixed.result.load(), (DWORD)WAIT_OBJECT_0 + 1);
    for (HANDLE h : {busy, owned, alone.own, mixed.own, threads[0], threads[1]}) {
        CloseHandle(h);
    }
}
#endif

TEST(KernelApc, AlertableWaitsRunQueuedApcsOthersKeepThem) {
    apcrun r;
    currentapc = &r;
    r.event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    DWORD tid = 0;
    HANDLE h = CreateThread(nullptr, 0, apcthread, &r, 0, &tid);
    Sleep(20);
    EXPECT_NE(QueueUserAPC(onapc, h, 1), 0u);
    EXPECT_TRUE(eventually([&] { return r.calls == 1; }));
    EXPECT_EQ(r.rantid.load(), tid) << "an APC runs on its thread";
    Sleep(20);
    EXPECT_NE(QueueUserAPC(onapc, h, 10), 0u);
    EXPECT_TRUE(eventually([&] { return r.phase == 1; }));
    EXPECT_EQ(r.calls, 11);
    EXPECT_NE(QueueUserAPC(onapc, h, 100), 0u);
    r.phase = 2;
    EXPECT_EQ(WaitForSingleObject(h, 5000), (DWORD)WAIT_OBJECT_0);
    /* A non-alertable wait neither runs the third APC (11 calls) nor ends for it. */
    EXPECT_EQ(std::vector<DWORD>({r.sleepresult, r.waitresult, r.plainsleep, r.plainwait,
                                  r.laterresult, (DWORD)r.calls}),
              std::vector<DWORD>({WAIT_IO_COMPLETION, WAIT_IO_COMPLETION, 11, WAIT_TIMEOUT,
                                  WAIT_IO_COMPLETION, 111}));
    /* An ended thread takes no APC. */
    EXPECT_EQ(QueueUserAPC(onapc, h, 1), 0u);
    CloseHandle(h);
    CloseHandle(r.event);

    /* Queued to oneself: the next alertable sleep runs it at once. */
    EXPECT_NE(QueueUserAPC(onapc, GetCurrentThread(), 1000), 0u);
    steady::time_point t0 = steady::now();
    EXPECT_EQ(SleepEx(5000, TRUE), (DWORD)WAIT_IO_COMPLETION);
    EXPECT_LT(elapsedms(t0), 2000);
    EXPECT_EQ(r.calls, 1111);
}

} // namespace
