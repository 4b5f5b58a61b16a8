// systask_test - system tasks: once per tick, due ticks and lateness, re-arming, the
// full table, no re-entry from a nested run, waits, and runs from several threads.
//
// The tick is not started here: the cases advance systemtickcount (and tickcount) by hand.
#include "thistle/diag.h"
#include "thistle/systask.h"
#include "thistle/timer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

std::vector<std::string> reports;
// What the tasks saw: one entry per run, its name and lateness.
std::vector<std::pair<char, int32_t>> runs;

void tick(uint32_t n = 1) {
    systemtickcount += n;
}

template <char Name, uint32_t Result = 0>
uint32_t task(uint32_t, int32_t lateness) {
    runs.emplace_back(Name, lateness);
    return Result;
}

class SysTask : public ::testing::Test {
  protected:
    std::vector<systaskfunction> added;

    void SetUp() override {
        reports.clear();
        runs.clear();
        fatalfilterhook = [](const char *text) -> int32_t {
            reports.emplace_back(text);
            return 0;
        };
        tick(); // a tick of its own, whatever ran before
    }
    void TearDown() override {
        for (auto f : added)
            removesystemtask(f);
        fatalfilterhook = nullptr;
    }
    void add(systaskfunction f, uint32_t interval, uint32_t delay) {
        addsystemtask(f, interval, delay);
        added.push_back(f);
    }
    // Runs the table on each of n new ticks; the names run, in order.
    std::string runticks(int n) {
        std::string names;
        for (int i = 0; i < n; i++) {
            runs.clear();
            tick();
            runsystemtasks(0);
            for (auto &r : runs)
                names += r.first;
            names += '.';
        }
        return names;
    }
};

TEST_F(SysTask, DueTicksOncePerTickAndTheResultsOred) {
    add(task<'a', 1>, 1, 0);
    add(task<'b', 4>, 3, 2);
    tick();
    EXPECT_EQ(runsystemtasks(0), 1u) << "delay 0: due at once";
    EXPECT_EQ(runsystemtasks(0), 0u) << "a second call in the same tick runs nothing";
    EXPECT_EQ(runticks(8), "ab.a.a.ab.a.a.ab.a.");
    tick(2);
    EXPECT_EQ(runsystemtasks(0), 5u);
}

TEST_F(SysTask, SecondAddReArmsTheSameSlot) {
    add(task<'a'>, 1, 0);
    add(task<'a'>, 4, 2); // re-armed: first run two ticks on, then every four
    EXPECT_EQ(runticks(7), ".a....a..");
    // One slot: fifteen more distinct tasks fit, a seventeenth does not.
    systaskfunction more[] = {task<'0'>, task<'1'>, task<'2'>, task<'3'>, task<'4'>,
                              task<'5'>, task<'6'>, task<'7'>, task<'8'>, task<'9'>,
                              task<'A'>, task<'B'>, task<'C'>, task<'D'>, task<'E'>};
    for (auto f : more)
        add(f, 1000, 1000);
    EXPECT_TRUE(reports.empty());
    add(task<'x'>, 1, 0);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], "addsystemtask - LIST FULL\n");
    EXPECT_STREQ(errorsite.file, "cmn\\systask");
    EXPECT_EQ(runticks(8).find('x'), std::string::npos) << "nothing registered after the report";
}

// A late task runs once with its lateness; one that overran its interval is next due one
// interval after the tick its run ended on.
TEST_F(SysTask, LateTasksRunOnceWithoutCatchingUp) {
    add(task<'a'>, 2, 0);
    add(
        [](uint32_t, int32_t lateness) -> uint32_t {
            runs.emplace_back('s', lateness);
            tick(3); // a slow run: three ticks pass meanwhile
            return 0;
        },
        2, 1);
    tick(7);
    runsystemtasks(0);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0], std::make_pair('a', 7));
    EXPECT_EQ(runs[1], std::make_pair('s', 6));
    // Both are now due two ticks after the count at the end of their run.
    EXPECT_EQ(runticks(6), "a.s.a.s.a.s.");
}

// A task that waits (and so runs the table again) is not re-entered; the nested run
// starts the other due tasks.
TEST_F(SysTask, NestedRunSkipsTheRunningTask) {
    static int depth = 0;
    static uint32_t nested = 0;
    add(
        [](uint32_t argument, int32_t) -> uint32_t {
            runs.emplace_back('w', static_cast<int32_t>(argument));
            if (depth++ == 0) {
                tick();
                nested = runsystemtasks(7);
            }
            return 0x10;
        },
        1, 0);
    add(task<'b', 2>, 1, 0);
    tick();
    EXPECT_EQ(runsystemtasks(0), 0x10u);
    EXPECT_EQ(nested, 2u) << "the skipped task adds nothing to the nested result";
    std::string names;
    for (auto &r : runs)
        names += r.first;
    EXPECT_EQ(names, "wb") << "w once, b in the nested run (and not again after it)";
    EXPECT_EQ(runs[0].second, 0) << "the argument reaches the task";
}

// waitsystemtasks ends after its ticks on tickcount, or at once when a task answers.
TEST_F(SysTask, WaitEndsOnTicksOrAnAnswer) {
    add(
        [](uint32_t, int32_t) -> uint32_t {
            runs.emplace_back('t', 0);
            tickcount++; // the task is the clock here
            tick();
            return 0;
        },
        0, 0);               // interval 0: due again on the tick its run ended on
    tickcount = 0xFFFFFFFEu; // across the wrap
    EXPECT_EQ(waitsystemtasks(3), 0u);
    EXPECT_EQ(runs.size(), 3u);
    EXPECT_EQ(tickcount, 1u);

    add(task<'r', 0x40>, 1, 0);
    runs.clear();
    EXPECT_EQ(waitsystemtasks(100), 0x40u);
    EXPECT_EQ(runs.size(), 2u) << "one pass, then the answer ends the wait";
}

// Several waiting threads run the table while the tick advances: no task runs twice in a
// tick or on two threads at once.
TEST_F(SysTask, WaitingThreadsShareTheTable) {
    static std::atomic<int> inside{0}, overlaps{0}, total{0};
    static std::atomic<uint32_t> lastseen{0};
    static std::atomic<int> twice{0};
    add(
        [](uint32_t, int32_t) -> uint32_t {
            if (inside.fetch_add(1) != 0)
                overlaps++;
            uint32_t now = std::atomic_ref<uint32_t>(systemtickcount).load();
            if (lastseen.exchange(now) == now)
                twice++;
            total++;
            std::this_thread::yield();
            inside--;
            return 0;
        },
        1, 0);
    std::atomic<bool> stop{false};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; i++)
        waiters.emplace_back([&] {
            while (!stop.load())
                runsystemtasks(0);
        });
    for (int i = 0; i < 200; i++) {
        std::atomic_ref<uint32_t>(systemtickcount).fetch_add(1);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    stop = true;
    for (auto &t : waiters)
        t.join();
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_EQ(twice.load(), 0);
    EXPECT_GT(total.load(), 0);
}

} // namespace
