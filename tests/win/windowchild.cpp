/*
 * windowchild.cpp - the child program of the window suite: ends that must end a process.
 *
 *   quit    opens a window, posts it WM_CLOSE with no applicationquitfunc and runs the
 *           system tasks; the exit function prints "exit after N ticks" (N counted from
 *           the close); "still running" means the exit task never ended the program
 *   audio   opens a window with an audio callback installed and closes it; the headless
 *           report box writes the report to standard error; "returned" should not appear
 */
#include "plat/win32.h"

#include "thistle/startup.h"
#include "thistle/syshelp.h"
#include "thistle/systask.h"
#include "thistle/threads.h"
#include "thistle/timer.h"

#include <cstdio>
#include <cstring>

namespace {

char name[] = "windowchild";
uint32_t closetick;

void sayticks(void) {
    printf("exit after %d ticks\n", (int)ticksince(closetick));
    fflush(stdout);
}

void audio(int32_t) {}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        return 2;
    }
    initmainthread();
    applicationname = name;
    if (strcmp(argv[1], "quit") == 0) {
        inittimer(100);
        registerexit(sayticks);
        HWND window = (HWND)openmainwindow(320, 200, 0);
        if (window == nullptr) {
            return 3;
        }
        closetick = gettick();
        PostMessageA(window, WM_CLOSE, 0, 0);
        while (ticksince(closetick) < 300) {
            runsystemtasks(0);
            sleepms(1);
        }
        puts("still running");
        return 4;
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
