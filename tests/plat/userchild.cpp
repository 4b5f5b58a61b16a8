/*
 * userchild.cpp - the first instance in the window-finding suite.
 *
 *   userchild MUTEX TITLE REPORT QUIT [BUSYMS]
 *
 * Creates the named mutex MUTEX (owned), a minimised top-level window of class
 * "UserChildClass" titled TITLE, and runs its message loop on the main thread (after
 * sleeping BUSYMS first, to play a window thread that is busy). A reporter thread
 * writes the window's state to REPORT whenever it changes, as one line
 *     "<show> <foreground> <raises>"
 * (show: PLAT_HIDDEN/PLAT_SHOWN/PLAT_MINIMISED as the headless backend mirrors it;
 * foreground: 1 when it is GetForegroundWindow; raises: backend raise count), written
 * to a temporary name and renamed, so a reader never sees half a line. Once QUIT
 * exists the window is closed and the program ends with 0; it ends by itself after
 * 20 seconds. Exit codes 2-4: bad arguments, mutex or window failure.
 */
#include "plat/testhooks.h"
#include "plat/win32.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

std::atomic<bool> closing{false};

LRESULT CALLBACK childproc(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m == WM_DESTROY)
        PostQuitMessage(0);
    return DefWindowProcA(h, m, w, l);
}

void writereport(const std::string &path, const std::string &line) {
    std::string tmp = path + ".tmp";
    FILE *f = fopen(tmp.c_str(), "w");
    if (!f)
        return;
    fputs(line.c_str(), f);
    fclose(f);
    rename(tmp.c_str(), path.c_str());
}

void reporter(HWND h, std::string report, std::string quit) {
    std::string last;
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!closing) {
        plat_nullwindowinfo info{};
        plat_nullwindow(h, &info);
        char line[64];
        snprintf(line, sizeof line, "%d %d %d\n", info.show, GetForegroundWindow() == h ? 1 : 0,
                 info.raises);
        if (line != last) {
            writereport(report, line);
            last = line;
        }
        if (access(quit.c_str(), F_OK) == 0 || std::chrono::steady_clock::now() > end) {
            PostMessageA(h, WM_CLOSE, 0, 0);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 5)
        return 2;
    HANDLE mutex = CreateMutexA(nullptr, TRUE, argv[1]);
    if (!mutex || GetLastError() == ERROR_ALREADY_EXISTS)
        return 3;
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = childproc;
    wc.lpszClassName = "UserChildClass";
    RegisterClassExA(&wc);
    HWND h = CreateWindowExA(0, "UserChildClass", argv[2], WS_POPUP | WS_VISIBLE | WS_MINIMIZE, 0,
                             0, 64, 48, nullptr, nullptr, nullptr, nullptr);
    if (!h)
        return 4;
    std::thread t(reporter, h, std::string(argv[3]), std::string(argv[4]));
    if (argc > 5)
        std::this_thread::sleep_for(std::chrono::milliseconds(atoi(argv[5])));
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    closing = true;
    t.join();
    /* The mutex stays open to the end, as a single-instance guard keeps it. */
    return 0;
}
