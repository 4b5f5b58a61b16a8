/*
 * input_x11_test.cpp - keys and mouse end to end on a real X display: a sentence typed
 * with xdotool (Shift, Caps Lock, cursor keys) reaches inkey with the codes a game
 * expects, read through the layout tables and as the window system's characters; a click
 * reaches the button hook and the mouse state; the clip box pulls the real pointer back.
 *
 * The case starts its own Xvfb and ends it by process id; without Xvfb or xdotool
 * (scripts/setup.sh installs them) it fails rather than skips. POSIX only.
 */
#include "thistle/intprt.h"
#include "thistle/key.h"
#include "thistle/mouse.h"
#include "thistle/startup.h"
#include "thistle/threads.h"
#include "thistle/timer.h"

#include "xserver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <vector>

/* SDL's X11 start-up keeps memory until SDL is shut down, which never happens here. */
extern "C" const char *__lsan_default_suppressions() {
    return "leak:libSDL2\nleak:libdbus-1\n";
}

namespace {

using xserver::run;

std::atomic<int> buttonchanges{0};
std::atomic<int32_t> lastbuttons{-1};
int32_t buttonhook(int32_t buttons) {
    buttonchanges++;
    lastbuttons = buttons;
    return 0;
}

/* Runs xdotool with args, then reads count key codes through inkeywait (0 where none
 * came within three seconds). */
std::vector<int32_t> typed(std::vector<std::string> args, size_t count) {
    args.insert(args.begin(), "xdotool");
    EXPECT_EQ(run(args), 0);
    std::vector<int32_t> codes;
    while (codes.size() < count) {
        codes.push_back(inkeywait(300));
    }
    return codes;
}

/* The value of name=... in xdotool's --shell output. */
int shellvalue(const std::string &text, const std::string &name) {
    size_t at = text.find(name + "=");
    return at == std::string::npos ? -1 : std::atoi(text.c_str() + at + name.size() + 1);
}

TEST(InputOnX, TypedSentenceAndTheClipBox) {
    xserver::Display x;
    ASSERT_FALSE(x.name.empty()) << "Xvfb did not start (scripts/setup.sh installs it)";
    setenv("THISTLE_VIDEO", "sdl", 1);
    setenv("SDL_VIDEODRIVER", "x11", 1);
    initmainthread();
    static char name[] = "thistle-input-x11-test";
    applicationname = name;
    ASSERT_NE(openmainwindow(320, 240, 0), nullptr);
    ASSERT_EQ(inittimer(100), 100);
    std::string id;
    ASSERT_EQ(run({"xdotool", "search", "--sync", "--name", name}, &id), 0) << "xdotool";
    id = id.substr(0, id.find('\n'));
    ASSERT_EQ(run({"xdotool", "windowfocus", "--sync", id}), 0);

    /* "Hi, CAPS 1!" then left, up, Page Up and the pad's Home (Num Lock is off: the
     * pad's 7 moving the cursor). The tables read Shift when the key is read, so each
     * shifted key is read before Shift goes up. Both ways must agree. */
    for (int raw = 1; raw >= 0; raw--) {
        if (raw != 0) {
            startkeys();
        } else {
            stopkeys();
        }
        std::vector<int32_t> codes = typed({"keydown", "shift", "key", "h"}, 1);
        auto add = [&codes](const std::vector<int32_t> &more) {
            codes.insert(codes.end(), more.begin(), more.end());
        };
        add(typed({"keyup", "shift", "key", "i", "comma", "space", "Caps_Lock", "c", "a", "p", "s",
                   "Caps_Lock", "space", "1"},
                  9));
        add(typed({"keydown", "shift", "key", "1"}, 1));
        add(typed({"keyup", "shift", "key", "Left", "Up", "Prior", "KP_Home"}, 4));
        EXPECT_EQ(codes, (std::vector<int32_t>{'H', 'i', ',', ' ', 'C', 'A', 'P', 'S', ' ', '1',
                                               '!', 0x4B00, 0x4800, 0x4900, 0x4700}))
            << (raw != 0 ? "through the tables" : "the window system's characters");
        EXPECT_EQ(inkeywait(10), 0);
    }

    /* A press calls the button hook, the release only updates the state; the pointer
     * moved out of the box is put back on its edge. */
    initmouse();
    setmousebox(0, 0, 100, 80);
    mousehooks[4] = buttonhook;
    ASSERT_EQ(run({"xdotool", "mousemove", "--window", id, "30", "40", "click", "1"}), 0);
    int32_t buttons = -1, mx = -1, my = -1;
    for (int i = 0; i < 500 && (buttonchanges == 0 || buttons != 0); i++) {
        sleepms(10);
        getmouse(&buttons, &mx, &my);
    }
    EXPECT_EQ(std::vector<int32_t>({buttonchanges, lastbuttons, buttons, mx, my}),
              (std::vector<int32_t>{1, MOUSE_LEFT, 0, 30, 40}));
    std::string geometry, pointer;
    ASSERT_EQ(run({"xdotool", "getwindowgeometry", "--shell", id}, &geometry), 0);
    ASSERT_EQ(run({"xdotool", "mousemove", "--window", id, "200", "150"}), 0);
    int px = -1, py = -1;
    for (int i = 0; i < 100; i++) {
        run({"xdotool", "getmouselocation", "--shell"}, &pointer);
        px = shellvalue(pointer, "X");
        py = shellvalue(pointer, "Y");
        if (px == shellvalue(geometry, "X") + 100 && py == shellvalue(geometry, "Y") + 80) {
            break;
        }
        sleepms(20);
    }
    EXPECT_EQ(px - shellvalue(geometry, "X"), 100);
    EXPECT_EQ(py - shellvalue(geometry, "Y"), 80);
    getmouse(&buttons, &mx, &my);
    EXPECT_EQ(std::vector<int32_t>({mx, my}), (std::vector<int32_t>{100, 80}));
    killtimer();
    closemainwindow();
}

} // namespace
