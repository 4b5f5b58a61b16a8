/*
 * mouse_test.cpp - the mouse state: the clip box over the screen graphics start-up
 * published, pulling the position and the cursor back into it, the button hook, the read
 * hook and show count, and setmousepos handing the display over while the main thread
 * draws.
 *
 * Graphics come up on the software display in the headless backend; the pointer is
 * moved with the backend's test controls. POSIX only.
 */
#include "grffixture.h"
#include "plat/ddrawtest.h"
#include "plat/testhooks.h"
#include "plat/win32.h"
#include "thistle/createw.h"
#include "thistle/initgrf.h"
#include "thistle/key.h"
#include "thistle/memstd.h"
#include "thistle/mouse.h"
#include "thistle/startup.h"
#include "thistle/threads.h"
#include "thistle/window.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

std::atomic<int> buttonevents{0};
std::atomic<int32_t> lastbuttons{-1};
int32_t buttonhook(int32_t buttons) {
    buttonevents++;
    lastbuttons = buttons;
    return 0;
}

/* Tracked buttons, x, y. */
std::vector<int32_t> tracked() {
    int32_t buttons = -1, x = -1, y = -1;
    getmouse(&buttons, &x, &y);
    return {buttons, x, y};
}

/* The cursor's position in the main window's client area. */
std::vector<int32_t> cursor() {
    POINT point = {0, 0}, origin = {0, 0};
    GetCursorPos(&point);
    ClientToScreen((HWND)getmainwindow(), &origin);
    return {point.x - origin.x, point.y - origin.y};
}

/* Graphics up at 640 x 480 (windowed), the mouse initialised, the button hook counting. */
class Mouse : public GraphicsTest {
  protected:
    void SetUp() override {
        GraphicsTest::SetUp();
        graphicsflags &= ~GRF_FULLSCREEN;
        initgraphics(640, 480, 16);
        ASSERT_EQ(screenwidth, 640);
        startkeys();
        EXPECT_EQ(initmouse(), 1);
        mouseevent(0, 0, 0, 0); /* what earlier cases left */
        buttonevents = 0;
        mousehooks[4] = buttonhook;
    }
    void TearDown() override {
        mousehooks[4] = mousehooks[5];
        stopkeys();
        GraphicsTest::TearDown();
    }
};

/* The box starts over the published screen; a pointer outside it is stored at the near
 * edge and the cursor is put there; a new box pulls the position in without a button
 * event. */
TEST_F(Mouse, ClipBoxPullsThePositionAndTheCursorIn) {
    placemainwindow(10, 10, 300, 200); /* the window's size is not the screen's */
    initmouse();
    int32_t box[4] = {-1, -1, -1, -1};
    getmousebox(&box[0], &box[1], &box[2], &box[3]);
    EXPECT_EQ(std::vector<int32_t>(box, box + 4), (std::vector<int32_t>{0, 0, 640, 480}));
    setmousebox(0, 0, 639, 479);
    HWND window = (HWND)getmainwindow();
    plat_nullmousemove(window, 700, -5);
    ASSERT_TRUE(waitfor([] { return tracked()[1] == 639; }));
    EXPECT_EQ(tracked(), (std::vector<int32_t>{0, 639, 0}));
    EXPECT_EQ(cursor(), (std::vector<int32_t>{639, 0}));

    setmousebox(400, 100, 500, 150);
    EXPECT_EQ(tracked(), (std::vector<int32_t>{0, 500, 100}));
    EXPECT_EQ(cursor(), (std::vector<int32_t>{500, 100}));
    EXPECT_EQ(buttonevents, 0);
}

/* A button message calls the button hook even when the buttons did not change, a move
 * never; without the input lock nothing changes; readmouse goes through the read hook;
 * the show count only counts. */
TEST_F(Mouse, HooksAndCounts) {
    mouseevent(5, 6, MOUSE_RIGHT, 1);
    mouseevent(5, 6, MOUSE_RIGHT, 1);
    mouseevent(7, 8, MOUSE_RIGHT, 0);
    EXPECT_EQ(buttonevents, 2);
    critsection *lock = winmessagelock;
    lockwinmessages(); /* keeps the window thread out meanwhile */
    std::atomic_ref<critsection *>(winmessagelock).store(nullptr);
    mouseevent(50, 60, MOUSE_LEFT, 1);
    std::atomic_ref<critsection *>(winmessagelock).store(lock);
    unlockwinmessages();
    EXPECT_EQ(tracked(), (std::vector<int32_t>{MOUSE_RIGHT, 7, 8}));
    EXPECT_EQ(buttonevents, 2);

    mousehooks[3] = [](int32_t) -> int32_t { return 42; };
    EXPECT_EQ(readmouse(), 42);
    EXPECT_EQ(showmouse() + showmouse(), 1 + 2);
    EXPECT_EQ(hidemouse(), 1);
}

/* Widths of the windows setdisplaywindow was given (-1 for none). */
std::vector<int32_t> windowcalls;
int32_t recordwindow(rasterwindow *window) {
    windowcalls.push_back(window != nullptr ? window->width : -1);
    return 1;
}

/* On the main thread the current display window is let go for the move and made current
 * again; another thread waits for liblock, which a drawing thread holds with its surface. */
TEST_F(Mouse, SetPositionHandsTheDisplayOver) {
    displaywindowhook = recordwindow;
    ASSERT_EQ(setdisplaywindow(getscreenwindow()), 1);
    windowcalls.clear();
    setmousepos(1000, 20);
    EXPECT_EQ(windowcalls, (std::vector<int32_t>{-1, 640}));
    displaywindowhook = nullptr;
    EXPECT_EQ(tracked(), (std::vector<int32_t>{0, 640, 20}));
    EXPECT_EQ(std::vector<int32_t>({mousex, mousey}), (std::vector<int32_t>{640, 20}));
    EXPECT_EQ(cursor(), (std::vector<int32_t>{640, 20}));

    ASSERT_EQ(displaywindow(), 1);
    std::atomic<int> moved{0};
    std::thread other([&] {
        setmousepos(5, -7);
        moved = 1;
    });
    sleepms(50);
    EXPECT_EQ(moved, 0) << "liblock is held with the surface";
    EXPECT_EQ(releasedisplaywindow(), 1);
    other.join();
    EXPECT_EQ(tracked(), (std::vector<int32_t>{0, 5, 0}));
    EXPECT_EQ(cursor(), (std::vector<int32_t>{5, 0}));
}

} // namespace
