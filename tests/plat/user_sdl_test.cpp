// Window side with the SDL backend. On a private X server (skipped when Xvfb is not
// installed): the shell window's popup covers the screen, is painted with its class
// brush, is raised, gets messages, and goes away. With SDL's dummy video driver (no
// window system): posts from other threads reach the event thread at once, and a
// message box SDL cannot show is still written out. The backend is chosen once per
// process, so each case needs a process of its own (CTest runs them so).
#include "plat/win32.h"

#include "backend.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <signal.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

// The session-bus library SDL loads keeps one buffer until the process ends.
extern "C" __attribute__((used)) const char *__lsan_default_suppressions() {
    return "leak:libdbus-1.so\n";
}

namespace {

/* Starts Xvfb on a free display it picks itself (-displayfd) and returns its pid, or -1
 * when it cannot be started. The server may write the number more than once and ends
 * when it cannot, so the pipe stays open (*numberfd) until the server is stopped. */
pid_t startxvfb(std::string *display, int *numberfd) {
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    std::string fd = std::to_string(fds[1]);
    const char *argv[] = {"Xvfb",       "-displayfd", fd.c_str(), "-screen", "0",
                          "800x600x24", "-nolisten",  "tcp",      nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid;
    int err = posix_spawnp(&pid, "Xvfb", &actions, nullptr, (char *const *)argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (err != 0) {
        close(fds[0]);
        return -1;
    }
    char buf[32] = {0};
    ssize_t n = read(fds[0], buf, sizeof buf - 1); // the display number, once it listens
    *numberfd = fds[0];
    if (n <= 0) {
        close(fds[0]);
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        return -1;
    }
    *display = ":" + std::string(buf, strcspn(buf, "\n"));
    return pid;
}

LRESULT CALLBACK shellproc(HWND h, UINT m, WPARAM w, LPARAM l) {
    return DefWindowProcA(h, m, w, l);
}

SDL_Window *onlywindow() {
    SDL_Window *found = nullptr;
    for (Uint32 id = 1; id < 64; id++)
        if (SDL_Window *w = SDL_GetWindowFromID(id))
            found = w;
    return found;
}

TEST(SdlBackend, PopupCoversTheScreenIsPaintedAndDestroyed) {
    std::string display;
    int numberfd = -1;
    pid_t xvfb = startxvfb(&display, &numberfd);
    if (xvfb < 0)
        GTEST_SKIP() << "Xvfb is not available";
    setenv("DISPLAY", display.c_str(), 1);
    setenv("SDL_VIDEODRIVER", "x11", 1);
    setenv("THISTLE_VIDEO", "sdl", 1);

    ASSERT_STREQ(plat_userbackend()->name, "sdl") << display << ": " << SDL_GetError();
    int cx = GetSystemMetrics(SM_CXSCREEN), cy = GetSystemMetrics(SM_CYSCREEN);
    EXPECT_EQ(cx, 800);
    EXPECT_EQ(cy, 600);

    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = shellproc;
    wc.hbrBackground = CreateSolidBrush(RGB(0x20, 0x40, 0x60));
    wc.lpszClassName = "SHELLTEST";
    ASSERT_NE(RegisterClassExA(&wc), 0);
    ShowCursor(FALSE);
    HWND h = CreateWindowExA(0, "SHELLTEST", "Thistlerun", WS_POPUP | WS_MINIMIZE, 0, 0, cx, cy,
                             nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(h, nullptr);
    SDL_Window *win = onlywindow();
    ASSERT_NE(win, nullptr);
    Uint32 id = SDL_GetWindowID(win);
    EXPECT_TRUE(SDL_GetWindowFlags(win) & SDL_WINDOW_HIDDEN) << "not shown before ShowWindow";

    ShowWindow(h, SW_SHOWNORMAL);
    UpdateWindow(h);
    Uint32 flags = SDL_GetWindowFlags(win);
    EXPECT_TRUE(flags & SDL_WINDOW_BORDERLESS);
    EXPECT_TRUE(flags & SDL_WINDOW_SHOWN);
    int w = 0, hgt = 0, x = -1, y = -1;
    SDL_GetWindowSize(win, &w, &hgt);
    SDL_GetWindowPosition(win, &x, &y);
    EXPECT_EQ(w, 800);
    EXPECT_EQ(hgt, 600);
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 0);
    SDL_Surface *s = SDL_GetWindowSurface(win);
    ASSERT_NE(s, nullptr);
    Uint32 pixel = 0;
    memcpy(&pixel, (const Uint8 *)s->pixels + 300 * s->pitch + 400 * s->format->BytesPerPixel,
           s->format->BytesPerPixel);
    Uint8 r, g, b;
    SDL_GetRGB(pixel, s->format, &r, &g, &b);
    EXPECT_EQ(r, 0x20);
    EXPECT_EQ(g, 0x40);
    EXPECT_EQ(b, 0x60);

    // Raising goes through SDL while the window stays what it was.
    EXPECT_TRUE(SetForegroundWindow(h));
    EXPECT_EQ(GetForegroundWindow(), h);
    EXPECT_TRUE(SDL_GetWindowFlags(win) & SDL_WINDOW_SHOWN);

    // A post from another thread ends the loop's wait inside SDL.
    std::thread poster([h] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        PostMessageA(h, WM_USER + 1, 5, 0);
    });
    MSG msg;
    do {
        ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), 1);
        DispatchMessageA(&msg);
    } while (msg.message != WM_USER + 1);
    EXPECT_EQ(msg.wParam, 5u);
    poster.join();

    EXPECT_TRUE(DestroyWindow(h));
    EXPECT_EQ(SDL_GetWindowFromID(id), nullptr);
    plat_userbackend()->shutdown();
    SDL_Quit();

    kill(xvfb, SIGTERM);
    waitpid(xvfb, nullptr, 0);
    close(numberfd);
}

/* The SDL backend on SDL's dummy video driver, with no desktop to show a box on. */
void usedummydriver() {
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("THISTLE_VIDEO", "sdl", 1);
    ASSERT_STREQ(plat_userbackend()->name, "sdl") << SDL_GetError();
}

TEST(SdlDummy, MessageBoxThatCannotBeShownIsWrittenAsOneLine) {
    usedummydriver();
    testing::internal::CaptureStderr();
    int r1 = MessageBoxA(nullptr, "Interger Divide By 0", "Application Error", MB_OK | MB_ICONHAND);
    int r2 = MessageBoxA(nullptr, "Go on?", "Question", MB_OKCANCEL | MB_SYSTEMMODAL);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Application Error: Interger Divide By 0\nQuestion: Go on?\n");
    EXPECT_EQ(r1, IDOK);
    EXPECT_EQ(r2, IDCANCEL) << "nobody agreed to go on";
}

// The window thread and the display's requests rely on a post ending the event
// thread's wait at once. Each message is posted once the one before has arrived, so
// many posts land just as the event thread goes back to waiting. A lost wake-up costs
// the whole wait (100 ms) and hits dozens of the posts; a loaded machine stalls one
// now and then, so a few may be as late.
TEST(SdlDummy, PostsFromAnotherThreadEndTheEventWaitAtOnce) {
    using namespace std::chrono_literals;
    usedummydriver();
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = shellproc;
    wc.lpszClassName = "WAKETEST";
    ASSERT_NE(RegisterClassExA(&wc), 0);
    HWND h = CreateWindowExA(0, "WAKETEST", "", WS_POPUP, 0, 0, 64, 48, nullptr, nullptr, nullptr,
                             nullptr);
    ASSERT_NE(h, nullptr);

    using clock = std::chrono::steady_clock;
    constexpr int count = 20000;
    std::vector<clock::time_point> posted(count);
    std::vector<clock::duration> delays;
    std::atomic<int> arrived{-1};
    std::thread poster([&] {
        for (int i = 0; i < count; i++) {
            while (arrived.load() != i - 1)
                std::this_thread::yield();
            posted[i] = clock::now();
            PostMessageA(h, WM_USER + 1, (WPARAM)i, 0);
        }
    });
    for (int i = 0; i < count; i++) {
        MSG msg;
        if (GetMessageA(&msg, nullptr, 0, 0) != 1 || msg.wParam != (WPARAM)i)
            break;
        delays.push_back(clock::now() - posted[i]);
        arrived.store(i);
    }
    arrived.store(count);
    poster.join();
    ASSERT_EQ(delays.size(), (size_t)count) << "posts lost or out of order";
    std::sort(delays.begin(), delays.end());
    auto late = delays.end() - std::lower_bound(delays.begin(), delays.end(), 50ms);
    EXPECT_LE(late, 5) << "posts 50 ms late or more (a lost wake-up: 100 ms)";
    EXPECT_LT(delays.back(), 1s) << "the slowest post";
    EXPECT_TRUE(DestroyWindow(h));
}

} // namespace
