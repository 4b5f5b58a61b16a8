// lowtimer_test - the secondary timer: its thread starts with the first function and
// stops with the last removal, the list stays packed, a full list is left alone.
#include "thistle/diag.h"
#include "thistle/syshelp.h"
#include "thistle/threads.h"
#include "thistle/timer.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

std::atomic<int> calls[10];
std::atomic<int> threadsseen{0};

// Counts each new thread the secondary functions are called on.
void notethread(void) {
    thread_local bool seen = false;
    if (!seen) {
        seen = true;
        threadsseen++;
    }
}

template <int N>
void fn(void) {
    notethread();
    calls[N]++;
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

bool allcalled(std::initializer_list<int> which) {
    for (int n : which) {
        if (calls[n] < 3)
            return false;
    }
    return true;
}

void resetcalls(void) {
    for (auto &c : calls)
        c = 0;
}

TEST(Secondary, ThreadFollowsTheListAndTheListStaysPacked) {
    ASSERT_EQ(inittimer(100), 100);
    addsecondarytimer(fn<0>);
    addsecondarytimer(fn<1>);
    addsecondarytimer(fn<2>);
    addsecondarytimer(fn<1>);
    ASSERT_TRUE(waitfor([] { return allcalled({0, 1, 2}); }));
    EXPECT_EQ(threadsseen, 1);

    // Removing from the middle leaves no gap that would hide the later functions.
    removesecondarytimer(fn<1>);
    resetcalls();
    EXPECT_TRUE(waitfor([] { return allcalled({0, 2}); }));
    EXPECT_EQ(calls[1], 0);

    // Up to eight; a ninth is not added.
    for (timerfunction f : {fn<3>, fn<4>, fn<5>, fn<6>, fn<7>, fn<8>, fn<9>})
        addsecondarytimer(f);
    resetcalls();
    EXPECT_TRUE(waitfor([] { return allcalled({0, 2, 3, 4, 5, 6, 7, 8}); }));
    EXPECT_EQ(calls[9], 0);

    // The last removal stops the thread; the next addition starts a new one.
    for (timerfunction f : {fn<0>, fn<2>, fn<3>, fn<4>, fn<5>, fn<6>, fn<7>, fn<8>})
        removesecondarytimer(f);
    resetcalls();
    sleepms(50);
    for (auto &c : calls)
        EXPECT_EQ(c, 0);
    addsecondarytimer(fn<5>);
    EXPECT_TRUE(waitfor([] { return calls[5] > 2; }));
    EXPECT_EQ(threadsseen, 2);

    killsecondarytimer();
    resetcalls();
    sleepms(50);
    EXPECT_EQ(calls[5], 0);
    killtimer();
    // The secondary lock went back to the pool once: two new locks are two records.
    critsection *a = createlock(), *b = createlock();
    EXPECT_NE(a, b);
    deletelock(a);
    deletelock(b);
}

// A secondary function that removes itself as the last one stops its own thread, and a
// later addition starts the timer afresh.
std::atomic<int> selfruns{0};

void selfremover(void) {
    if (++selfruns == 3)
        removesecondarytimer(selfremover);
}

TEST(Secondary, LastFunctionRemovesItself) {
    ASSERT_EQ(inittimer(100), 100);
    addsecondarytimer(selfremover);
    ASSERT_TRUE(waitfor([] { return selfruns >= 3; }));
    sleepms(50);
    EXPECT_EQ(selfruns, 3);
    resetcalls();
    addsecondarytimer(fn<4>);
    EXPECT_TRUE(waitfor([] { return calls[4] > 2; }));
    killsecondarytimer();
    killtimer();
}

} // namespace
