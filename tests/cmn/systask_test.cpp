// systask_test - system tasks: once per tick, due ticks and lateness, re-arming, the full
// table, no re-entry from a nested run, waits, and runs from several waiting threads.
// No tick runs here: the cases advance systemtickcount (and tickcount) by hand.
#include "thistle/diag.h"
#include "thistle/systask.h"
#include "thistle/timer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string reported, names; // the last report; the tasks run, in order
std::vector<int32_t> lateness;

template <char Name, uint32_t Result = 0>
uint32_t task(uint32_t, int32_t late) {
    names += Name;
    lateness.push_back(late);
    return Result;
}

// Runs the table on each of n new ticks: the names run, a '.' after each tick.
std::string runticks(int n) {
    std::string out;
    for (int i = 0; i < n; i++) {
        names.clear();
        systemtickcount++;
        runsystemtasks(0);
        out += names + '.';
    }
    return out;
}

// A tick of the case's own to start with; empties the table again at the end.
struct tasks {
    std::vector<systaskfunction> added;
    tasks() {
        systemtickcount++;
    }
    void add(systaskfunction f, uint32_t interval, uint32_t delay) {
        addsystemtask(f, interval, delay);
        added.push_back(f);
    }
    ~tasks() {
        for (auto f : added)
            removesystemtask(f);
        names.clear();
        lateness.clear();
    }
};

// Each task at most once a tick, results ORed; a second add re-arms; a late task runs once
// with its lateness, and one that overran is next due an interval after its run ended.
TEST(SysTask, DueTicksLatenessAndReArming) {
    tasks t;
    t.add(task<'a', 1>, 1, 0);
    t.add(task<'b', 4>, 3, 2);
    t.add(task<'c'>, 1, 0);
    t.add(task<'c'>, 4, 2); // re-armed: first run two ticks on, then every four
    systemtickcount++;
    EXPECT_EQ(runsystemtasks(0), 1u);
    EXPECT_EQ(runsystemtasks(0), 0u) << "a second call in the same tick runs nothing";
    EXPECT_EQ(runticks(8), "abc.a.a.ab.ac.a.ab.a.");
    systemtickcount += 2;
    EXPECT_EQ(runsystemtasks(0), 5u);
    removesystemtask(task<'a', 1>);
    removesystemtask(task<'b', 4>);
    removesystemtask(task<'c'>);

    t.add(task<'a'>, 2, 0);
    t.add(
        [](uint32_t, int32_t late) -> uint32_t {
            task<'s'>(0, late);
            systemtickcount += 3; // a slow run: three ticks pass meanwhile
            return 0;
        },
        2, 1);
    lateness.clear();
    systemtickcount += 7;
    runsystemtasks(0);
    EXPECT_EQ(lateness, (std::vector<int32_t>{7, 6}));
    EXPECT_EQ(runticks(6), "a.s.a.s.a.s.");
}

// A task that waits (and so runs the table again) is not re-entered, and adds nothing to
// the nested result; a seventeenth distinct task is reported and not registered.
TEST(SysTask, NoReEntryAndTheFullTable) {
    tasks t;
    static uint32_t nested = 0;
    t.add(
        [](uint32_t argument, int32_t) -> uint32_t {
            names += argument == 0 ? 'w' : 'W';
            if (names.size() == 1) {
                systemtickcount++;
                nested = runsystemtasks(7);
            }
            return 0x10;
        },
        1, 0);
    t.add(task<'b', 2>, 1, 0);
    systemtickcount++;
    EXPECT_EQ(runsystemtasks(0), 0x10u);
    EXPECT_EQ(nested, 2u);
    EXPECT_EQ(names, "wb");

    fatalfilterhook = [](const char *text) -> int32_t { return reported = text, 0; };
    for (auto f : {task<'0'>, task<'1'>, task<'2'>, task<'3'>, task<'4'>, task<'5'>, task<'6'>,
                   task<'7'>, task<'8'>, task<'9'>, task<'A'>, task<'B'>, task<'C'>, task<'D'>})
        t.add(f, 1000, 1000);
    EXPECT_EQ(reported, "");
    t.add(task<'x'>, 1, 0);
    fatalfilterhook = nullptr;
    EXPECT_EQ(reported, "addsystemtask - LIST FULL\n");
    EXPECT_STREQ(errorsite.file, "cmn\\systask");
    EXPECT_EQ(runticks(3).find('x'), std::string::npos);
}

// waitsystemtasks ends after its ticks on tickcount (here across the wrap), or after the
// pass in which a task answered.
TEST(SysTask, WaitEndsOnTicksOrAnAnswer) {
    tasks t;
    t.add(
        [](uint32_t, int32_t) -> uint32_t {
            names += 't';
            tickcount++; // the task is the clock here
            systemtickcount++;
            return 0;
        },
        0, 0); // interval 0: due again on the tick its run ended on
    tickcount = 0xFFFFFFFEu;
    EXPECT_EQ(waitsystemtasks(3), 0u);
    EXPECT_EQ(names, "ttt");
    t.add(task<'r', 0x40>, 1, 0);
    names.clear();
    EXPECT_EQ(waitsystemtasks(100), 0x40u);
    EXPECT_EQ(names, "tr");
}

// Threads waiting at once while the tick advances: no task runs twice in a tick or on two
// threads at the same time.
TEST(SysTask, WaitingThreadsShareTheTable) {
    static std::atomic<int> inside{0}, faults{0}, total{0};
    static std::atomic<uint32_t> lastseen{0};
    tasks t;
    t.add(
        [](uint32_t, int32_t) -> uint32_t {
            faults += inside.fetch_add(1) != 0;
            faults += lastseen.exchange(std::atomic_ref<uint32_t>(systemtickcount).load()) ==
                      lastseen.load();
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
            while (!stop)
                runsystemtasks(0);
        });
    /* Ticks go on until the waiters have run the task a while (a sleep shorter than the
     * system's timer step may not sleep at all on Windows, so the count, not the time,
     * ends it). */
    for (int i = 0; i < 20000 && total < 100; i++) {
        std::atomic_ref<uint32_t>(systemtickcount).fetch_add(1);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    stop = true;
    for (auto &w : waiters)
        w.join();
    EXPECT_EQ(faults, 0);
    EXPECT_GT(total, 0);
}

} // namespace
