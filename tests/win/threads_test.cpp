/*
 * threads_test - the lock pool, the main-thread record, thread start-up and removal,
 * priority levels, events and waits. Meant to run under ThreadSanitizer as well.
 */
#include "plat/win32.h"
#include "thistle/diag.h"
#include "thistle/threads.h"
#include "thistle/timer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

/* The main-thread record belongs to the thread that runs the tests. */
class ThreadsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        initmainthread();
    }
};

/* Polls cond with 1 ms sleeps for up to five seconds. */
template <typename Cond>
bool waitfor(Cond cond) {
    for (int i = 0; i < 5000 && !cond(); i++)
        sleepms(1);
    return cond();
}

/* Runs body on a library thread and waits until it has returned; what body stores is
 * visible afterwards through the done flag. */
void (*body)(void);
std::atomic<int> done{0};
void runbody(void) {
    body();
    done = 1;
}
bool runandwait(void (*function)(void)) {
    threadrecord record;
    body = function;
    done = 0;
    return createlibthread(runbody, 0, 0, -1, &record) != nullptr &&
           waitfor([] { return done.load() != 0; });
}

/* ---- thread start-up and the main-thread record ------------------------------------ */

constexpr uint32_t startcount = 24;
std::atomic<int> seen[startcount + 1];
std::atomic<uint32_t> started{0};
void countargument(uint32_t argument) {
    seen[argument < startcount ? argument : startcount].fetch_add(1);
    started.fetch_add(1);
}

/* Each start block lives in the same frame of the creator, so a creator that returned
 * before its thread copied the block would let the next call overwrite the argument:
 * some value would then be seen twice and another never. */
TEST_F(ThreadsTest, CreatorReturnsOnlyAfterThreadTookItsStartData) {
    started = 0;
    for (auto &count : seen)
        count = 0;
    for (uint32_t i = 0; i < startcount; i++) {
        threadrecord record;
        ASSERT_NE(createparamthread(countargument, i, 0, 0, -1, &record), nullptr);
    }
    ASSERT_TRUE(waitfor([] { return started.load() == startcount; }));
    for (uint32_t i = 0; i < startcount; i++)
        EXPECT_EQ(seen[i].load(), 1) << "argument " << i;
}

threadrecord filled;
int results[4];

TEST_F(ThreadsTest, RecordAndIsThreadDesignateTheRightThreads) {
    std::memset(&filled, 0xAB, sizeof filled);
    body = [] {
        results[0] = isthread(&filled);
        results[1] = static_cast<int>(GetCurrentThreadId() == filled.id);
        results[2] = getpriority(THREAD_SELF);
    };
    done = 0;
    void *handle = createlibthread(runbody, 65536, 2, -1, &filled);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(filled.handle, handle);
    EXPECT_EQ(filled.stacksize, 65536u);
    EXPECT_EQ(filled.priority, 2);
    EXPECT_EQ(filled.reserved, 0u);
    EXPECT_EQ(isthread(&filled), 0);
    ASSERT_TRUE(waitfor([] { return done.load() != 0; }));
    EXPECT_EQ(results[0], 1);
    EXPECT_EQ(results[1], 1);
    EXPECT_EQ(results[2], 2) << "the level is set before the thread runs";

    ASSERT_TRUE(runandwait([] {
        initmainthread(); /* a later first-use test must not re-record the main thread */
        results[0] = isthread(nullptr);
        results[1] = isthread(THREAD_SELF);
    }));
    EXPECT_EQ(results[0], 0);
    EXPECT_EQ(results[1], 1);
    EXPECT_EQ(isthread(nullptr), 1);
    EXPECT_EQ(isthread(THREAD_SELF), 1);
    EXPECT_NE(liblock, nullptr);
}

/* ---- priorities ------------------------------------------------------------------ */

int levels[9];

TEST_F(ThreadsTest, PriorityLevelsReadBack) {
    ASSERT_TRUE(runandwait([] {
        for (int level = -3; level <= 5; level++) {
            setpriority(THREAD_SELF, level);
            levels[level + 3] = getpriority(THREAD_SELF);
        }
        setpriority(nullptr, 1);
        results[0] = getpriority(nullptr);
        setpriority(nullptr, 0);
    }));
    /* Levels -3 to 3 read back; 4 and 5 set normal. */
    EXPECT_EQ(std::vector<int>(levels, levels + 9),
              (std::vector<int>{-3, -2, -1, 0, 1, 2, 3, 0, 0}));
    EXPECT_EQ(results[0], 1) << "null designates the main thread";

    HANDLE self = GetCurrentThread();
    EXPECT_NE(SetThreadPriority(self, THREAD_PRIORITY_LOWEST), 0);
    EXPECT_EQ(getpriority(nullptr), -2);
    EXPECT_NE(SetThreadPriority(self, THREAD_PRIORITY_TIME_CRITICAL), 0);
    EXPECT_EQ(getpriority(nullptr), 3);
    /* Platforms that take in-between values must still map them to level 0. */
    if (SetThreadPriority(self, 5) != 0) {
        EXPECT_EQ(getpriority(THREAD_SELF), 0);
    }
    SetThreadPriority(self, THREAD_PRIORITY_NORMAL);
}

/* ---- removal, ending and reports --------------------------------------------------- */

std::atomic<HANDLE> ownhandle{nullptr};
std::atomic<int> pastend{0};

/* Publishes a real handle of the calling thread, for waiting on its end. */
void publishself(void) {
    HANDLE process = GetCurrentProcess();
    HANDLE copy = nullptr;
    DuplicateHandle(process, GetCurrentThread(), process, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS);
    ownhandle = copy;
}

std::atomic<long> spins{0};

/* A removed thread stops at once, also one that never waits or sleeps (the kernel suite
 * ends threads wherever they are). */
TEST_F(ThreadsTest, RemovedAndSelfEndingThreadsEndWithCodeZero) {
    threadfunction cases[] = {
        [] {
            publishself();
            for (;;)
                spins.fetch_add(1, std::memory_order_relaxed);
        }, /* removed by the test */
        [] {
            publishself();
            removethread(THREAD_SELF);
            pastend = 1;
        },
        [] {
            publishself();
            exitlibthread();
        },
    };
    for (threadfunction function : cases) {
        ownhandle = nullptr;
        threadrecord own;
        ASSERT_NE(createlibthread(function, 0, 0, -1, &own), nullptr);
        ASSERT_TRUE(waitfor([] { return ownhandle.load() != nullptr; }));
        if (function == cases[0])
            removethread(&own);
        HANDLE handle = ownhandle.load();
        EXPECT_EQ(WaitForSingleObject(handle, 5000), static_cast<DWORD>(WAIT_OBJECT_0));
        DWORD code = 99;
        EXPECT_NE(GetExitCodeThread(handle, &code), 0);
        EXPECT_EQ(code, 0u);
        CloseHandle(handle);
    }
    long stopped = spins.load();
    sleepms(20);
    EXPECT_EQ(spins.load(), stopped) << "the removed busy thread still runs";
    EXPECT_EQ(pastend.load(), 0);
}

std::string reported;

TEST_F(ThreadsTest, MisuseIsReportedFromThisModule) {
    fatalfilterhook = [](const char *text) -> int32_t {
        reported = text;
        return 0; /* cancel: the caller goes on */
    };
    removethread(nullptr);
    EXPECT_EQ(reported, "removethread - CANNOT REMOVE THE MAIN THREAD.\n");
    EXPECT_STREQ(errorsite.file, "win\\threads");

    /* A cancelled refusal lets the thread start after all. */
    reported.clear();
    surfacelocked = [] { return 1; };
    bool ran = runandwait([] {});
    surfacelocked = nullptr;
    fatalfilterhook = nullptr;
    EXPECT_EQ(reported, "createparamthread - UNLOCK DDRAW SURFACE BEFORE CALLING.\n");
    EXPECT_STREQ(errorsite.file, "win\\threads");
    EXPECT_TRUE(ran);
}

/* ---- events and waits -------------------------------------------------------------- */

/* Events keep or consume their signal; waits return the signalled handle or null. */
TEST_F(ThreadsTest, EventsKeepOrConsumeTheirSignalAndWaitsReturnIt) {
    void *automatic = makeevent();
    void *manual = makemanualevent();
    EXPECT_EQ(pollevent(automatic) + pollevent(manual), 0);
    signaleventcallback(12345, automatic);
    EXPECT_EQ(waitevent(automatic), automatic);
    EXPECT_EQ(pollevent(automatic), 0) << "an auto-reset event is consumed by one wait";
    signalevent(manual);
    EXPECT_EQ(pollevent(manual) + pollevent(manual), 2) << "a manual-reset event stays set";
    pulseevent(manual);
    EXPECT_EQ(pollevent(manual), 0) << "a pulse leaves the event reset";
    signalevent(manual);
    resetevent(manual);
    EXPECT_EQ(pollevent(manual), 0);
    closeevent(automatic);
    EXPECT_EQ(signalandclose(manual), 1);
    void *mutex = CreateMutexA(nullptr, FALSE, nullptr);
    EXPECT_EQ(signalandclose(mutex), 0) << "closed, but no event to set";
    EXPECT_EQ(closeevent(mutex), 0);

    void *events[2] = {makeevent(), makeevent()};
    signalevent(events[1]);
    EXPECT_EQ(waitevents(2, events, 1000), events[1]);
    EXPECT_EQ(waitevents(2, events, 0), nullptr);
    signalevent(events[0]);
    signalevent(events[1]);
    EXPECT_EQ(waitanyevent(2, events), events[0]) << "the lowest signalled handle wins";
    EXPECT_EQ(waitanyevent(2, events), events[1]);

    DWORD before = GetTickCount();
    EXPECT_EQ(waitevents(2, events, 60), nullptr);
    EXPECT_GE(GetTickCount() - before, 50u);
    signalandclose(events[0]);
    closeevent(events[1]);
}

TEST_F(ThreadsTest, TickWaitsCountAStoppedTickAsHundredPerSecond) {
    ASSERT_EQ(tickrate, 0);
    void *event = makeevent();
    DWORD before = GetTickCount();
    EXPECT_EQ(waiteventticks(event, 6), 0);
    DWORD waited = GetTickCount() - before;
    EXPECT_GE(waited, 50u);
    EXPECT_LT(waited, 1000u);
    before = GetTickCount();
    sleepticks(6);
    EXPECT_GE(GetTickCount() - before, 50u);

    tickrate = 20; /* 50 ms a tick */
    before = GetTickCount();
    sleepticks(2);
    EXPECT_GE(GetTickCount() - before, 90u);
    tickrate = 0;
    signalevent(event);
    EXPECT_EQ(waiteventticks(event, 1000), 1);
    closeevent(event);
}

/* ---- lock pool ------------------------------------------------------------------- */

TEST_F(ThreadsTest, DeletedLocksAreReusedLastInFirstOut) {
    critsection *a = createlock();
    critsection *b = createlock();
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    enterlock(b);
    enterlock(b);
    leavelock(b);
    leavelock(b);
    deletelock(a);
    deletelock(b);
    deletelock(nullptr);
    EXPECT_EQ(createlock(), b);
    EXPECT_EQ(createlock(), a);
    deletelock(a);
    deletelock(b);
}

constexpr int makers = 4;
constexpr int locksper = 300;
critsection *made[makers][locksper];
std::atomic<int> makersready{0};
std::atomic<int> makersgo{0};
std::atomic<int> makersdone{0};

/* Waits for the others, then takes its share of locks and gives every other one back
 * at once, with no platform call in between, so that growth, reuse and deletion of
 * the threads overlap; each surviving lock is used once afterwards. */
void makelocks(uint32_t index) {
    makersready.fetch_add(1);
    while (makersgo.load(std::memory_order_acquire) == 0) {
    }
    for (int i = 0; i < locksper; i++) {
        made[index][i] = createlock();
        if (i % 2 == 1) {
            deletelock(made[index][i - 1]);
            made[index][i - 1] = nullptr;
        }
    }
    for (critsection *lock : made[index]) {
        if (lock != nullptr) {
            enterlock(lock);
            leavelock(lock);
        }
    }
    makersdone.fetch_add(1);
}

TEST_F(ThreadsTest, ConcurrentCreateLockHandsOutDistinctRecords) {
    threadrecord records[makers];
    for (uint32_t m = 0; m < makers; m++)
        ASSERT_NE(createparamthread(makelocks, m, 0, 0, -1, &records[m]), nullptr);
    ASSERT_TRUE(waitfor([] { return makersready.load() == makers; }));
    makersgo.store(1, std::memory_order_release);
    ASSERT_TRUE(waitfor([] { return makersdone.load() == makers; }));
    std::set<critsection *> distinct;
    for (auto &row : made) {
        for (int i = 1; i < locksper; i += 2) {
            ASSERT_NE(row[i], nullptr);
            EXPECT_TRUE(distinct.insert(row[i]).second) << "record handed out twice";
        }
    }
    EXPECT_EQ(distinct.count(liblock), 0u);
    for (critsection *lock : distinct)
        deletelock(lock);
}

} // namespace
