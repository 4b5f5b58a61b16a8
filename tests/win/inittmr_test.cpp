// inittmr_test - the tick: accepted and refused frequencies with the state each report
// leaves, the rate the schedule keeps (fraction included) and the clock counter,
// suspension, the hook thread, timer functions, deadlines and tick waits.
//
// Timing checks are loose: ticks may be lost on a loaded machine (never gained), so the
// bounds are wide below the exact rate and tight only above it.
#include "thistle/diag.h"
#include "thistle/syshelp.h"
#include "thistle/systask.h"
#include "thistle/threads.h"
#include "thistle/timer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

namespace {

std::vector<std::string> reports;
std::atomic<int> hookcalls{0}, othercalls{0}, timercalls{0};
std::atomic<uint32_t> seentick{0};

// A number for each thread that asks, from 1 on.
int threadserial(void) {
    static std::atomic<int> serials{0};
    thread_local int serial = ++serials;
    return serial;
}

std::atomic<int> hookthread{0}, otherthread{0};

void hook(void) {
    hookthread = threadserial();
    hookcalls++;
}
void otherhook(void) {
    otherthread = threadserial();
    othercalls++;
}
void timerfn(void) {
    seentick = gettick();
    timercalls++;
}

uint32_t counter(uint32_t &value) {
    return std::atomic_ref<uint32_t>(value).load();
}

template <typename P>
bool waitfor(P done, uint32_t ms = 5000) {
    uint32_t start = getmilliseconds();
    while (!done()) {
        if (getmilliseconds() - start > ms)
            return false;
        sleepms(1);
    }
    return true;
}

class Tick : public ::testing::Test {
  protected:
    void SetUp() override {
        reports.clear();
        fatalfilterhook = [](const char *text) -> int32_t {
            reports.emplace_back(text);
            return 0;
        };
    }
    void TearDown() override {
        settimerhook(nullptr);
        cleartimers();
        killtimer();
        fatalfilterhook = nullptr;
    }
};

// 0 runs at 100, 1000 is accepted, 1001 is refused and leaves the tick stopped, 20000 is
// reported and replaced by 100. A running tick makes cleartimers the stop hook; killtimer
// takes it back and stops the count.
TEST_F(Tick, FrequenciesAndTheStateTheyLeave) {
    struct row {
        int32_t asked, runs;
        const char *report;
    } rows[] = {
        {0, 100, nullptr},
        {1000, 1000, nullptr},
        {20000, 100, "inittimer - BAD TIMER FREQUENCY SPECIFIED 20000\n"},
        {1001, 0, "inittimer - MULTIMEDIA TIMER CANNOT SUPPORT THIS FREQUENCY.\n"},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.asked);
        reports.clear();
        EXPECT_EQ(inittimer(r.asked), r.runs);
        EXPECT_EQ(tickrate, r.runs);
        if (r.report != nullptr) {
            ASSERT_EQ(reports.size(), 1u);
            EXPECT_EQ(reports[0], r.report);
            EXPECT_STREQ(errorsite.file, "win\\inittmr");
        } else {
            EXPECT_TRUE(reports.empty());
        }
        if (r.runs != 0) {
            EXPECT_TRUE(fatalstophook == cleartimers);
            EXPECT_TRUE(waitfor([] { return gettick() >= 3; }));
        } else {
            EXPECT_TRUE(fatalstophook == nullptr);
            sleepms(30);
            EXPECT_EQ(gettick(), 0u) << "no tick after a refused frequency";
        }
    }
    ASSERT_EQ(inittimer(100), 100);
    killtimer();
    EXPECT_EQ(tickrate, 0);
    EXPECT_TRUE(fatalstophook == nullptr);
    uint32_t stopped = gettick();
    sleepms(50);
    EXPECT_EQ(gettick(), stopped);
}

// Over a second the tick count follows the rate: 30 Hz (33.33 ms, fraction carried) and
// 600 Hz (1.67 ms: without the fraction it would run at 1000). The clock counter advances
// 1193/65536 per millisecond whatever the rate. A restart leaves one timer thread at the
// new rate.
TEST_F(Tick, ScheduleKeepsTheRate) {
    uint32_t lastsystem = 0;
    for (int32_t rate : {30, 600}) {
        SCOPED_TRACE(rate);
        ASSERT_EQ(inittimer(rate), rate);
        uint32_t t0 = getmilliseconds(), c0 = gettick(), k0 = counter(clocktickcount);
        uint32_t s0 = counter(systemtickcount);
        sleepms(1000);
        uint32_t t1 = getmilliseconds(), c1 = gettick(), k1 = counter(clocktickcount);
        uint32_t s1 = counter(systemtickcount);
        double expected = (t1 - t0) * rate / 1000.0;
        EXPECT_LE(c1 - c0, expected + 3);
        EXPECT_GE(c1 - c0, expected * 0.6 - 3);
        EXPECT_NEAR(double(s1 - s0), double(c1 - c0), 1.0) << "both count every tick";
        EXPECT_GE(s0, lastsystem) << "inittimer does not reset systemtickcount";
        lastsystem = s1;
        double clock = (t1 - t0) * 1193.0 / 65536.0;
        EXPECT_NEAR(double(k1 - k0), clock, 2.5);
        EXPECT_EQ(tickrate, rate) << "no earlier timer thread stopped the tick";
        EXPECT_EQ(timerresyncs, 0);
    }
}

// While suspended the count and the timer functions stop, the hook goes on; resuming
// brings the ticks back. The count never drops below 0.
TEST_F(Tick, SuspensionHoldsBackTheTimerThreadOnly) {
    ASSERT_EQ(inittimer(100), 100);
    addtimer(timerfn);
    settimerhook(hook);
    ASSERT_TRUE(waitfor([] { return timercalls > 2; }));
    EXPECT_EQ(suspendtimer(), 1);
    sleepms(30); // a tick already on its way
    uint32_t held = gettick();
    int calls = timercalls, hooked = hookcalls;
    EXPECT_TRUE(waitfor([&] { return hookcalls >= hooked + 10; }));
    EXPECT_EQ(gettick(), held);
    EXPECT_EQ(timercalls, calls);
    EXPECT_EQ(suspendtimer(), 2);
    EXPECT_EQ(resumetimer(), 1);
    EXPECT_EQ(resumetimer(), 0);
    EXPECT_EQ(resumetimer(), 0);
    EXPECT_TRUE(waitfor([&] { return timercalls > calls + 2; }));
    EXPECT_EQ(seentick.load(), gettick()) << "timer functions run after the count moved";
}

// The hook thread starts with the first hook and has ended when its removal returns; a new
// hook right after starts a new thread.
TEST_F(Tick, HookThreadStartsAndStops) {
    ASSERT_EQ(inittimer(100), 100);
    settimerhook(hook);
    ASSERT_TRUE(waitfor([] { return hookcalls > 3; }));
    settimerhook(nullptr);
    int stopped = hookcalls;
    settimerhook(otherhook);
    EXPECT_TRUE(waitfor([] { return othercalls > 3; }));
    EXPECT_EQ(hookcalls, stopped);
    EXPECT_NE(otherthread.load(), hookthread.load());
}

// Deadlines and waits on the running tick (system tasks run meanwhile), and the signed
// arithmetic across the wrap with the tick stopped.
TEST_F(Tick, DeadlinesAndWaits) {
    static std::atomic<int> taskruns{0};
    systaskfunction task = [](uint32_t, int32_t) -> uint32_t { return taskruns++, 0u; };
    addsystemtask(task, 1, 0);
    ASSERT_EQ(inittimer(100), 100);
    uint32_t start = gettick();
    setdeadline(5);
    EXPECT_EQ(deadlinepassed(), 0);
    waitdeadline();
    EXPECT_EQ(deadlinepassed(), 1);
    EXPECT_GE(ticksince(start), 5);
    start = gettick();
    waitticks(4);
    EXPECT_GE(ticksince(start), 4);
    EXPECT_GT(taskruns, 3) << "the waits run the system tasks";
    removesystemtask(task);
    killtimer();

    tickcount = 0xFFFFFFFEu;
    setdeadline(4);
    EXPECT_EQ(deadlinepassed(), 0);
    tickcount = 1;
    EXPECT_EQ(deadlinepassed(), 0);
    tickcount = 2;
    EXPECT_EQ(deadlinepassed(), 1);
    EXPECT_EQ(ticksince(0xFFFFFFFEu), 4);
    resetticks();
    EXPECT_EQ(deadlinepassed(), 1);
    tickcount = 7;
    EXPECT_EQ(tickdelta(), 7);
    EXPECT_EQ(tickdelta(), 0);
    tickcount = 3;
    EXPECT_EQ(tickdelta(), -4);
    resetticks();
    EXPECT_EQ(gettick(), 0u);
}

} // namespace
