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

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

/* SDL's X11 start-up (and the D-Bus connection it opens) keeps memory until SDL is shut
 * down, which a program ending with its window never does: not our leaks. */
extern "C" const char *__lsan_default_suppressions() {
    return "leak:libSDL2\nleak:libdbus-1\n";
}

namespace {

/* Runs a program with arguments and returns its exit status (-1 when it did not start);
 * with out, its standard output is returned there. */
int run(const std::vector<std::string> &argv, std::string *out = nullptr) {
    std::vector<char *> args;
    for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    pid_t pid;
    int started = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    std::string text;
    char buf[256];
    for (ssize_t n; started == 0 && (n = read(fds[0], buf, sizeof buf)) > 0;)
        text.append(buf, (size_t)n);
    close(fds[0]);
    if (started != 0)
        return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    if (out)
        *out = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

/* An Xvfb of the case's own; DISPLAY names it while it runs. */
class Display {
  public:
    Display() {
        int fds[2];
        if (pipe(fds) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        const char *argv[] = {"Xvfb",        "-displayfd", "3",   "-screen", "0",
                              "1024x768x24", "-nolisten",  "tcp", nullptr};
        if (posix_spawnp(&pid, "Xvfb", &actions, nullptr, const_cast<char **>(argv), environ) != 0)
            pid = 0;
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        char number[32] = {};
        ssize_t n = pid ? read(fds[0], number, sizeof number - 1) : 0;
        close(fds[0]);
        if (n > 0) {
            name = ":" + std::string(number, strcspn(number, "\n"));
            setenv("DISPLAY", name.c_str(), 1);
        }
    }
    ~Display() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
    }
    std::string name;

  private:
    pid_t pid = 0;
};

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
