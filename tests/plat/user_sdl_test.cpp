// Window side with the SDL backend on SDL's dummy video driver: no window system, but
// the backend's windows, event thread and message boxes run as they do on a desktop.
// The backend is chosen once per process, so each case needs a process of its own
// (CTest runs them so).
#include "plat/win32.h"

#include "plat/testhooks.h"
#include "user_testutil.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

// The session-bus library SDL loads keeps one buffer until the process ends.
extern "C" __attribute__((used)) const char *__lsan_default_suppressions() {
    return "leak:libdbus-1.so\n";
}

namespace {

/* The SDL backend, with no desktop to show a box on. */
void usesdl() {
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("THISTLE_VIDEO", "sdl", 1);
    ASSERT_STREQ(plat_backendname(), "sdl") << SDL_GetError();
}

/* A window of the shell's class. */
HWND shellwindow(DWORD style, int width, int height) {
    usesdl();
    ut::registerclass("SHELLTEST", DefWindowProcA, CS_HREDRAW | CS_VREDRAW,
                      CreateSolidBrush(RGB(0x20, 0x40, 0x60)));
    return CreateWindowExA(0, "SHELLTEST", "Thistlerun", style, 0, 0, width, height, nullptr,
                           nullptr, nullptr, nullptr);
}

TEST(SdlBackend, PopupCoversTheScreenIsPaintedRaisedAndDestroyed) {
    usesdl();
    SDL_DisplayMode mode;
    ASSERT_EQ(SDL_GetDesktopDisplayMode(0, &mode), 0);
    int cx = GetSystemMetrics(SM_CXSCREEN), cy = GetSystemMetrics(SM_CYSCREEN);
    EXPECT_EQ(std::vector<int>({cx, cy}), std::vector<int>({mode.w, mode.h}));

    ShowCursor(FALSE);
    HWND h = shellwindow(WS_POPUP | WS_MINIMIZE, cx, cy);
    ASSERT_NE(h, nullptr);
    SDL_Window *win = nullptr;
    for (Uint32 id = 1; id < 64; id++)
        if (SDL_Window *w = SDL_GetWindowFromID(id))
            win = w;
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
    EXPECT_EQ(std::vector<int>({w, hgt, x, y}), std::vector<int>({cx, cy, 0, 0}));
    SDL_Surface *s = SDL_GetWindowSurface(win);
    ASSERT_NE(s, nullptr);
    Uint32 pixel = 0;
    memcpy(&pixel, (const Uint8 *)s->pixels + cy / 2 * s->pitch + cx / 2 * s->format->BytesPerPixel,
           s->format->BytesPerPixel);
    Uint8 r, g, b;
    SDL_GetRGB(pixel, s->format, &r, &g, &b);
    EXPECT_EQ(std::vector<int>({r, g, b}), std::vector<int>({0x20, 0x40, 0x60}))
        << "the class brush";

    EXPECT_TRUE(SetForegroundWindow(h));
    EXPECT_EQ(GetForegroundWindow(), h);
    EXPECT_TRUE(SDL_GetWindowFlags(win) & SDL_WINDOW_SHOWN);
    EXPECT_TRUE(DestroyWindow(h));
    EXPECT_EQ(SDL_GetWindowFromID(id), nullptr);
    plat_backendshutdown();
    SDL_Quit();
}

TEST(SdlBackend, MessageBoxThatCannotBeShownIsWrittenAsOneLine) {
    usesdl();
    testing::internal::CaptureStderr();
    int r1 = MessageBoxA(nullptr, "Interger Divide By 0", "Application Error", MB_OK | MB_ICONHAND);
    int r2 = MessageBoxA(nullptr, "Go on?", "Question", MB_OKCANCEL | MB_SYSTEMMODAL);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Application Error: Interger Divide By 0\nQuestion: Go on?\n");
    EXPECT_EQ(r1, IDOK);
    EXPECT_EQ(r2, IDCANCEL) << "nobody agreed to go on";
}

// Events as the window system delivers them come out as a Windows program sees them:
// activation, scan codes with the E0 flag, auto-repeat with the previous-state bit, and
// the characters TranslateMessage makes.
TEST(SdlBackend, KeysRepeatAndFocusFromSdlBecomeWindowsMessages) {
    HWND h = shellwindow(WS_POPUP, 64, 48);
    ASSERT_NE(h, nullptr);
    Uint32 id = 0;
    for (Uint32 i = 1; i < 64 && !id; i++)
        if (SDL_GetWindowFromID(i))
            id = i;
    SDL_Event ev{};
    ev.type = SDL_WINDOWEVENT;
    ev.window.windowID = id;
    ev.window.event = SDL_WINDOWEVENT_FOCUS_GAINED;
    SDL_PushEvent(&ev);
    const struct {
        Uint32 type;
        SDL_Scancode sc;
        Uint8 repeat;
    } keys[] = {
        {SDL_KEYDOWN, SDL_SCANCODE_A, 0}, {SDL_KEYDOWN, SDL_SCANCODE_A, 1},
        {SDL_KEYUP, SDL_SCANCODE_A, 0},   {SDL_KEYDOWN, SDL_SCANCODE_UP, 0},
        {SDL_KEYUP, SDL_SCANCODE_UP, 0},
    };
    for (const auto &k : keys) {
        ev = SDL_Event{};
        ev.type = k.type;
        ev.key.windowID = id;
        ev.key.state = k.type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
        ev.key.repeat = k.repeat;
        ev.key.keysym.scancode = k.sc;
        SDL_PushEvent(&ev);
    }
    std::vector<MSG> got;
    MSG msg;
    while (got.size() < 9 && GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        if (msg.message != WM_PAINT && msg.message != WM_ERASEBKGND)
            got.push_back(msg);
    }
    ut::expectmsgs(got, {{h, WM_ACTIVATEAPP, TRUE, 0},
                         {h, WM_ACTIVATE, WA_ACTIVE, 0},
                         {h, WM_KEYDOWN, 'A', 0x001E0001},
                         {h, WM_KEYDOWN, 'A', 0x401E0001},
                         {h, WM_KEYUP, 'A', 0xC01E0001},
                         {h, WM_KEYDOWN, VK_UP, 0x01480001},
                         {h, WM_KEYUP, VK_UP, 0xC1480001},
                         {h, WM_CHAR, 'a', 0x001E0001},
                         {h, WM_CHAR, 'a', 0x401E0001}});
    EXPECT_EQ(GetActiveWindow(), h);
    EXPECT_TRUE(DestroyWindow(h));
}

// The window thread and the display's requests rely on a post ending the event
// thread's wait at once. Each message is posted a little (0-60 us) after the one before
// has arrived, so the posts land all along the event thread's way back to waiting. A lost wake-up
// costs the whole wait (100 ms) and hits dozens of the posts; a loaded machine stalls one now and
// then, so a few may be as late.
TEST(SdlBackend, PostsFromAnotherThreadEndTheEventWaitAtOnce) {
    using namespace std::chrono_literals;
    using clock = std::chrono::steady_clock;
    HWND h = shellwindow(WS_POPUP, 64, 48);
    ASSERT_NE(h, nullptr);
    constexpr int count = 20000;
    std::vector<clock::time_point> posted(count);
    std::vector<clock::duration> delays;
    std::atomic<int> arrived{-1};
    std::thread poster([&] {
        for (int i = 0; i < count; i++) {
            while (arrived.load() != i - 1)
                std::this_thread::yield();
            clock::time_point at = clock::now() + std::chrono::microseconds(i * 37 % 60);
            while (clock::now() < at) {
            }
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
