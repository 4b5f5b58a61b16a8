/*
 * diagchild.cpp - the child program of the diagnostics and helper suites.
 *
 * Runs on the library and the platform layer and does one thing, chosen by its
 * arguments; text the test checks goes to standard output, report boxes (headless)
 * to standard error:
 *   fatal main | thread   two exit functions (they print "exit a", "exit b"), then a
 *                         report from the main thread or from a second thread
 *   report KIND           one report with KIND: site, callersite, null, nosite, nofile,
 *                         long; prints "line N" (the site's line) first
 *   hooks                 shutdown hooks that print their names; the first hook
 *                         reports again; the lock hook returns a lock it entered and an
 *                         exit function says whether another thread can take it
 *   oom [thread]          out-of-memory copy and hook; with "thread" the report comes
 *                         from a second thread and the hook prints nothing, so only the
 *                         process's end can flush the copy
 *   exittable             fills the exit-function table around two atexit functions,
 *                         prints the refused result
 *   screen                prints getscreensize
 *   instance NAME FLAG    singleinstance(NAME, "-" for null) with singleinstanceexit
 *                         FLAG; prints "result N" and "name S", returns 7
 *   holdwindow NAME READY STOP
 *                         first instance: singleinstance(NAME), a minimised window
 *                         titled NAME and its message loop, then creates READY and
 *                         waits (at most 20 s) for STOP; then prints the window's state
 *                         as the headless backend mirrors it: "<shown|minimised|hidden>
 *                         <foreground>"
 */
#include "plat/testhooks.h"
#include "plat/win32.h"

#include "thistle/diag.h"
#include "thistle/startup.h"
#include "thistle/syshelp.h"
#include "thistle/threads.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

void say(const char *text) {
    fputs(text, stdout);
    fflush(stdout);
}

void exita() {
    say("exit a\n");
}

critsection *hooklock;

void firsthook() {
    say("first\n");
    THISTLE_SITE("win\\inner");
    fatalerror("inner - SECOND REPORT\n");
    say("inner returned\n");
}

critsection *lockhook() {
    say("lock\n");
    enterlock(hooklock);
    return hooklock;
}

/* Runs at exit: the report must have left the lock its lock hook took. */
void checklock() {
    bool taken = false;
    std::thread other([&] {
        auto *section = reinterpret_cast<CRITICAL_SECTION *>(hooklock);
        taken = TryEnterCriticalSection(section) != 0;
        if (taken) {
            LeaveCriticalSection(section);
        }
    });
    other.join();
    say(taken ? "lock free\n" : "lock held\n");
}

int fatal(const std::string &where) {
    isthread(nullptr); /* this is the main thread */
    registerexit(exita);
    registerexit([] { say("exit b\n"); });
    if (where == "main") {
        THISTLE_SITE("cmn\\x");
        fatalerror("child - MAIN THREAD\nvalue: %d\n", 7);
    } else {
        std::thread other([] {
            THISTLE_SITE("cmn\\x");
            fatalerror("child - OTHER THREAD\n");
        });
        other.join();
    }
    say("returned\n");
    return 5;
}

int report(const std::string &kind) {
    static char callerfunction[] = "caller";
    THISTLE_SITE("cmn\\x");
    printf("line %d\n", (int)errorsite.line);
    fflush(stdout);
    if (kind == "callersite") {
        callersite.file = "game\\main";
        callersite.function = callerfunction;
        callersite.line = 99;
        fatalerror("child - WITH CALLER\n");
    } else if (kind == "null") {
        fatalerror(nullptr);
    } else if (kind == "nosite") {
        fatalsiteinfo = 0;
        fatalerror("child - NO SITE\n");
    } else if (kind == "nofile") {
        errorsite.file = nullptr;
        fatalerror("child - NO FILE\n");
    } else if (kind == "long") {
        std::string big(600, 'x');
        fatalerror("%s", big.c_str());
    } else {
        fatalerror("child - %s\n", "SITE");
    }
    return 5;
}

int hooks() {
    isthread(nullptr);
    hooklock = createlock();
    registerexit(checklock);
    fatalfirsthook = firsthook;
    fatallockhook = lockhook;
    fatalstophook = [] { say("stop\n"); };
    THISTLE_SITE("cmn\\x");
    fatalerror("child - HOOKS\n");
    return 5;
}

int oom(const std::string &where) {
    isthread(nullptr); /* this is the main thread */
    outofmemorycount = 1;
    if (where != "thread") {
        outofmemoryhook = [] { say("oom hook\n"); };
        THISTLE_SITE("cmn\\x");
        fatalerror("createwindowadr - OUT OF MEMORY\n");
        return 5;
    }
    outofmemoryhook = [] {};
    std::thread other([] {
        THISTLE_SITE("cmn\\x");
        fatalerror("createwindowadr - OUT OF MEMORY\n");
    });
    other.join();
    return 5;
}

void (*const printers[EXIT_FUNCTIONS])(void) = {
#define P(n) [] { say("exit " #n "\n"); }
    P(0),  P(1),  P(2),  P(3),  P(4),  P(5),  P(6),  P(7),  P(8),  P(9),  P(10),
    P(11), P(12), P(13), P(14), P(15), P(16), P(17), P(18), P(19), P(20), P(21),
    P(22), P(23), P(24), P(25), P(26), P(27), P(28), P(29), P(30), P(31),
#undef P
};

int exittable() {
    std::atexit([] { say("atexit 1\n"); });
    for (int i = 0; i < EXIT_FUNCTIONS; i++) {
        if (i == EXIT_FUNCTIONS / 2) {
            std::atexit([] { say("atexit 2\n"); });
        }
        if (registerexit(printers[i]) != 0) {
            say("refused early\n");
        }
    }
    printf("extra %d\n", (int)registerexit(exita));
    fflush(stdout);
    return 0;
}

int screen() {
    screensize size = {-1, -1, -1};
    screensize *back = getscreensize(&size);
    printf("%d %d %d %s\n", (int)size.width, (int)size.height, (int)size.depth,
           back == &size ? "same" : "other");
    return 0;
}

int instance(const std::string &name, int flag) {
    singleinstanceexit = flag;
    int32_t result = singleinstance(name == "-" ? nullptr : name.c_str());
    printf("result %d\nname %s\n", (int)result, applicationname != nullptr ? applicationname : "");
    fflush(stdout);
    return 7;
}

bool waitstop(const std::string &stop) {
    for (int i = 0; i < 2000; i++) {
        if (access(stop.c_str(), F_OK) == 0) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

LRESULT CALLBACK windowproc(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m == WM_DESTROY) {
        PostQuitMessage(0);
    }
    return DefWindowProcA(h, m, w, l);
}

int holdwindow(const std::string &name, const std::string &ready, const std::string &stop) {
    printf("result %d\n", (int)singleinstance(name.c_str()));
    fflush(stdout);
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = windowproc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "DiagChildClass";
    if (RegisterClassExA(&wc) == 0) {
        return 3;
    }
    HWND window = CreateWindowExA(0, "DiagChildClass", applicationname, WS_OVERLAPPEDWINDOW, 0, 0,
                                  320, 200, nullptr, nullptr, wc.hInstance, nullptr);
    if (window == nullptr) {
        return 4;
    }
    ShowWindow(window, SW_MINIMIZE);
    if (FILE *f = fopen(ready.c_str(), "w")) {
        fclose(f);
    }
    std::thread watcher([&] {
        waitstop(stop);
        plat_nullwindowinfo info{};
        plat_nullwindow(window, &info);
        const char *show = info.show == PLAT_SHOWN       ? "shown"
                           : info.show == PLAT_MINIMISED ? "minimised"
                                                         : "hidden";
        printf("%s %d\n", show, GetForegroundWindow() == window ? 1 : 0);
        fflush(stdout);
        PostMessageA(window, WM_CLOSE, 0, 0);
    });
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        DispatchMessageA(&msg);
    }
    watcher.join();
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    std::string cmd = argc > 1 ? argv[1] : "";
    std::string a = argc > 2 ? argv[2] : "";
    if (cmd == "fatal" || cmd == "report" || cmd == "oom") {
        return cmd == "fatal" ? fatal(a) : cmd == "report" ? report(a) : oom(a);
    }
    if (cmd == "hooks" || cmd == "exittable" || cmd == "screen") {
        return cmd == "hooks" ? hooks() : cmd == "exittable" ? exittable() : screen();
    }
    if (cmd == "instance" && argc > 3) {
        return instance(a, atoi(argv[3]));
    }
    if (cmd == "holdwindow" && argc > 4) {
        return holdwindow(a, argv[3], argv[4]);
    }
    fprintf(stderr, "diagchild: unknown command\n");
    return 2;
}
