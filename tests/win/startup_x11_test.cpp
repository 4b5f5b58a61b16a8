/*
 * startup_x11_test.cpp - the main window end to end on a real X display: keys typed and
 * a button clicked with xdotool reach the key queue and the mouse state through SDL.
 *
 * The case starts its own Xvfb (the display number comes back on a descriptor) and ends
 * it by process id. Xvfb and xdotool come with scripts/setup.sh; without them the case
 * fails rather than skips, so a machine that lacks them is noticed. POSIX only.
 */
#include "thistle/key.h"
#include "thistle/mouse.h"
#include "thistle/startup.h"
#include "thistle/threads.h"

#include <gtest/gtest.h>

#include "xserver.h"

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

/* SDL's X11 start-up (and the D-Bus connection it opens) keeps memory until SDL is shut
 * down, which a program ending with its window never does: not our leaks. */
extern "C" const char *__lsan_default_suppressions() {
    return "leak:libSDL2\nleak:libdbus-1\n";
}

namespace {

using xserver::Display;
using xserver::run;

std::atomic<int> buttonchanges{0};
std::atomic<int32_t> lastbuttons{-1};

int32_t buttonhook(int32_t buttons) {
    buttonchanges++;
    lastbuttons = buttons;
    return 0;
}

/* Takes the key queue's entries that have arrived, waiting up to five seconds for count. */
std::vector<uint32_t> takekeys(size_t count) {
    std::vector<uint32_t> keys;
    for (int i = 0; i < 500 && keys.size() < count; i++) {
        enterlock(keyqueue.lock);
        while (keyqueue.read != keyqueue.write) {
            keys.push_back(keyqueue.entries[keyqueue.read]);
            keyqueue.read = (keyqueue.read + 1) % keyqueue.size;
        }
        leavelock(keyqueue.lock);
        sleepms(10);
    }
    return keys;
}

TEST(WindowOnX, TypedKeysAndAClickReachTheKeyQueueAndTheMouse) {
    Display x;
    ASSERT_FALSE(x.name.empty()) << "Xvfb did not start (scripts/setup.sh installs it)";
    setenv("THISTLE_VIDEO", "sdl", 1);
    setenv("SDL_VIDEODRIVER", "x11", 1);
    initmainthread();
    static char name[] = "thistle-x11-test";
    applicationname = name;
    void *window = openmainwindow(320, 240, 0);
    ASSERT_NE(window, nullptr);
    initmouse();
    setmousebox(0, 0, 320, 240); /* no graphics: the box over the window */
    mousehooks[4] = buttonhook;

    std::string id;
    ASSERT_EQ(run({"xdotool", "search", "--sync", "--name", name}, &id), 0)
        << "xdotool (scripts/setup.sh installs it)";
    id = id.substr(0, id.find('\n'));
    ASSERT_EQ(run({"xdotool", "windowfocus", "--sync", id}), 0);
    ASSERT_EQ(run({"xdotool", "key", "--delay", "30", "shift+t", "h", "Caps_Lock", "e", "Caps_Lock",
                   "Left", "Prior", "KP_Home"}),
              0);
    // Characters come with their scan code and no extended flag; the cursor keys as their
    // classic extended codes with the extended flag (the keypad's Home has none: Num Lock
    // is off, so it is the keypad's 7 key moving the cursor).
    auto entry = [](uint32_t code, uint32_t scan, uint32_t ext) {
        return code << 16 | scan << 8 | ext;
    };
    EXPECT_EQ(takekeys(6), (std::vector<uint32_t>{entry('T', 0x14, 0), entry('h', 0x23, 0),
                                                  entry('E', 0x12, 0), entry(0x4B00, 0x4B, 1),
                                                  entry(0x4900, 0x49, 1), entry(0x4700, 0x47, 0)}));

    // A press calls the button hook; the release only updates the state.
    ASSERT_EQ(run({"xdotool", "mousemove", "--window", id, "30", "40", "click", "1"}), 0);
    int32_t buttons = -1, mx = -1, my = -1;
    for (int i = 0; i < 500 && (buttonchanges == 0 || buttons != 0); i++) {
        sleepms(10);
        getmouse(&buttons, &mx, &my);
    }
    EXPECT_EQ(buttonchanges, 1);
    EXPECT_EQ(lastbuttons, 1) << "the left button";
    EXPECT_EQ(buttons, 0) << "released";
    EXPECT_EQ(mx, 30);
    EXPECT_EQ(my, 40);
    closemainwindow();
}

} // namespace
