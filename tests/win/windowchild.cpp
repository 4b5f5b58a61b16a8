/*
 * windowchild.cpp - the child program of the window suite: ends that must end a process.
 *
 *   quit     opens a window without naming the application (prints "name S", the name
 *            it got), posts it WM_CLOSE with no applicationquitfunc and runs the system
 *            tasks; the exit function prints "exit after N ticks" (N counted from the
 *            close); "still running" means the exit task never ended the program
 *   audio    opens a window with an audio callback installed and closes it; the headless
 *            report box writes the report to standard error; "returned" should not appear
 *   trace L  with wintrace L: opens a window, closes it through applicationquitfunc's
 *            quit, sends the stop request and waits for the window to go
 *   break [off]
 *            Alt and the break key pressed in the window (keyabort off with "off"); then
 *            prints "alive"
 */
#include "plat/win32.h"

#include "thistle/key.h"
#include "thistle/startup.h"
#include "thistle/syshelp.h"
#include "thistle/systask.h"
#include "thistle/threads.h"
#include "thistle/timer.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

char name[] = "windowchild";
uint32_t closetick;

void sayticks(void) {
    printf("exit after %d ticks\n", (int)ticksince(closetick));
    fflush(stdout);
}

void audio(int32_t) {}

std::atomic<int> quits{0};
void quit(void) {
    quits++;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        return 2;
    }
    initmainthread();
    if (strcmp(argv[1], "quit") == 0) {
        inittimer(100);
        registerexit(sayticks);
        HWND window = (HWND)openmainwindow(320, 200, 0);
        if (window == nullptr) {
            return 3;
        }
        printf("name %s\n", applicationname);
        fflush(stdout);
        closetick = gettick();
        PostMessageA(window, WM_CLOSE, 0, 0);
        while (ticksince(closetick) < 300) {
            runsystemtasks(0);
            sleepms(1);
        }
        puts("still running");
        return 4;
    }
    applicationname = name;
    if (strcmp(argv[1], "trace") == 0 && argc > 2) {
        wintrace = atoi(argv[2]);
        applicationquitfunc = quit;
        HWND window = (HWND)openmainwindow(320, 200, 0);
        PostMessageA(window, WM_CLOSE, 0, 0);
        for (int i = 0; i < 5000 && quits.load() == 0; i++) { /* at most five seconds */
            sleepms(1);
        }
        closemainwindow();
        return 0;
    }
    if (strcmp(argv[1], "break") == 0) {
        keyabort = argc > 2 ? 0 : 1;
        HWND window = (HWND)openmainwindow(320, 200, 0);
        PostMessageA(window, WM_KEYDOWN, VK_MENU, 56 << 16 | 1);
        PostMessageA(window, WM_KEYDOWN, VK_NUMLOCK, 69 << 16 | 1);
        sleepms(200);
        puts("alive");
        return 0;
    }
    if (strcmp(argv[1], "audio") == 0) {
        setaudiocallback(audio);
        if (openmainwindow(320, 200, 0) == nullptr) {
            return 3;
        }
        closemainwindow();
        puts("returned");
        return 5;
    }
    return 2;
}
