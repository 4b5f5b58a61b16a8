// Window side, headless: classes, window life cycle, stale handles, frames and placement,
// painting, resources, the cursor, screen metrics, brushes, the screen-saver switches and
// message boxes.
#include "plat/resource.h"
#include "plat/win32.h"

#include "plat/testhooks.h"
#include "user_testutil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

const plat_stringres strings[] = {
    {103, "Thistlerun"},
    {109, "THISTLERUN"},
};
const UINT icons[] = {141};
const plat_resources resources = {strings, 2, nullptr, 0, icons, 1};
const int registered = plat_addresources(&resources);

std::vector<UINT> events; // messages that reached recordproc, on this thread only
CREATESTRUCTA created;
LRESULT createresult;

LRESULT CALLBACK recordproc(HWND h, UINT m, WPARAM w, LPARAM l) {
    static const std::thread::id main = std::this_thread::get_id();
    if (std::this_thread::get_id() == main)
        events.push_back(m);
    if (m == WM_CREATE) {
        created = *(const CREATESTRUCTA *)l;
        return createresult;
    }
    if (m == WM_DESTROY) {
        EXPECT_TRUE(IsWindow(h)) << "a window is still a window during WM_DESTROY";
    }
    return DefWindowProcA(h, m, w, l);
}

ATOM registerclass(const char *name, HBRUSH brush = nullptr) {
    return ut::registerclass(name, recordproc, CS_HREDRAW | CS_VREDRAW, brush);
}

// A 1 x 1 window of class cls at the screen's corner.
HWND popup(const char *cls, DWORD style = WS_POPUP) {
    return CreateWindowExA(0, cls, "", style, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
}

HWND plainwindow() {
    return popup("RecordClass");
}

class UserWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        events.clear();
        created = CREATESTRUCTA{};
        createresult = 0;
        registerclass("RecordClass");
    }
};

TEST_F(UserWindow, CreationMessagesComeFirstMinusOneUndoesTheWindowAndClassesAreUnique) {
    int param = 7;
    HWND h = CreateWindowExA(WS_EX_TOPMOST, "recordclass", "Title", WS_POPUP | WS_MINIMIZE, 10, 20,
                             300, 200, nullptr, nullptr, nullptr, &param);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(events, (std::vector<UINT>{WM_NCCREATE, WM_CREATE, WM_SIZE, WM_MOVE}));
    EXPECT_EQ(created.lpCreateParams, &param);
    EXPECT_EQ(std::vector<DWORD>({(DWORD)created.x, (DWORD)created.y, (DWORD)created.cx,
                                  (DWORD)created.cy, (DWORD)created.style, created.dwExStyle}),
              std::vector<DWORD>({10, 20, 300, 200, WS_POPUP | WS_MINIMIZE, WS_EX_TOPMOST}));
    EXPECT_STREQ(created.lpszName, "Title");
    EXPECT_STREQ(created.lpszClass, "recordclass");

    // Destroying delivers WM_DESTROY then WM_NCDESTROY; a new window in the same slot
    // must not revive the old handle.
    events.clear();
    ASSERT_TRUE(DestroyWindow(h));
    EXPECT_EQ(events, (std::vector<UINT>{WM_DESTROY, WM_NCDESTROY}));
    createresult = -1;
    events.clear();
    EXPECT_EQ(plainwindow(), nullptr);
    EXPECT_EQ(events, (std::vector<UINT>{WM_NCCREATE, WM_CREATE, WM_DESTROY, WM_NCDESTROY}));
    createresult = 0;
    HWND again = plainwindow();
    ASSERT_NE(again, nullptr);
    EXPECT_NE(again, h);
    EXPECT_FALSE(IsWindow(h));
    DestroyWindow(again);

    // Class names are unique without regard to case; a class goes only when its last
    // window has gone, and its name can then be registered again.
    EXPECT_EQ(registerclass("RECORDCLASS"), 0);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_CLASS_ALREADY_EXISTS);
    ATOM gone = registerclass("GoneClass");
    HWND last = popup("GoneClass");
    EXPECT_FALSE(UnregisterClassA("goneclass", nullptr));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_CLASS_HAS_WINDOWS);
    DestroyWindow(last);
    EXPECT_TRUE(UnregisterClassA(MAKEINTRESOURCEA(gone), nullptr));
    EXPECT_FALSE(UnregisterClassA("GoneClass", nullptr));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_CLASS_DOES_NOT_EXIST);
    EXPECT_EQ(popup("GoneClass", 0), nullptr);
    EXPECT_NE(registerclass("GoneClass"), 0);
    EXPECT_EQ(popup("NoSuchClass", 0), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_CANNOT_FIND_WND_CLASS);
}

// Stale handles, made-up ones, and made-up handles in the range of windows of other
// processes (FindWindowA never gave them out).
TEST_F(UserWindow, StaleBogusAndOtherThreadsHandlesAreRefused) {
    HWND h = plainwindow();
    ASSERT_TRUE(DestroyWindow(h));
    events.clear();
    const uintptr_t bad[] = {(uintptr_t)h, 0xDEADBEEF, (uintptr_t)&events, 1,
                             0x00018000,   0x7FFF803F};
    auto refused = [](auto call) {
        SetLastError(0);
        return !call() && GetLastError() == (DWORD)ERROR_INVALID_WINDOW_HANDLE;
    };
    for (uintptr_t value : bad) {
        HWND b = (HWND)value;
        EXPECT_FALSE(IsWindow(b));
        EXPECT_TRUE(refused([&] { return DestroyWindow(b); }));
        EXPECT_TRUE(refused([&] { return PostMessageA(b, WM_USER, 0, 0); }));
        EXPECT_TRUE(refused([&] { return SendMessageA(b, WM_USER, 0, 0); }));
        EXPECT_TRUE(refused([&] { return ShowWindow(b, SW_RESTORE); }));
        EXPECT_TRUE(refused([&] { return SetForegroundWindow(b); }));
        EXPECT_FALSE(UpdateWindow(b));
        PAINTSTRUCT ps;
        EXPECT_EQ(BeginPaint(b, &ps), nullptr);
        MSG msg{b, WM_USER, 0, 0, 0, {}};
        EXPECT_EQ(DispatchMessageA(&msg), 0);
        EXPECT_EQ(GetMessageA(&msg, b, 0, 0), -1);
    }
    EXPECT_TRUE(events.empty()) << "no procedure runs for a dead window";

    // Only the owning thread destroys a window, and a thread's end takes its windows along.
    h = plainwindow();
    HWND other = nullptr;
    BOOL ok = TRUE;
    DWORD err = 0;
    std::thread([&] {
        ok = DestroyWindow(h);
        err = GetLastError();
        other = plainwindow();
    }).join();
    EXPECT_FALSE(ok);
    EXPECT_EQ(err, (DWORD)ERROR_ACCESS_DENIED);
    ASSERT_NE(other, nullptr);
    EXPECT_FALSE(IsWindow(other)) << "its thread ended";
    EXPECT_EQ(SendMessageA(other, WM_USER, 0, 0), 0);

    // Closing through default processing destroys it.
    events.clear();
    SendMessageA(h, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(events, (std::vector<UINT>{WM_SYSCOMMAND, WM_CLOSE, WM_DESTROY, WM_NCDESTROY}));
    EXPECT_FALSE(IsWindow(h));
}

// The launcher's shell window: a minimised black popup the screen's size, shown with
// the start-up command and painted once.
TEST_F(UserWindow, ShownPopupIsPaintedOnceWithTheClassBrush) {
    setenv("THISTLE_SCREEN", "1024x768", 1);
    static HBRUSH black = CreateSolidBrush(0); // the class keeps it for the process
    registerclass("BlackClass", black);
    int cx = GetSystemMetrics(SM_CXSCREEN), cy = GetSystemMetrics(SM_CYSCREEN);
    HWND h = CreateWindowExA(0, "BlackClass", "Thistlerun", WS_POPUP | WS_MINIMIZE, 0, 0, cx, cy,
                             nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(h, nullptr);
    plat_nullwindowinfo info;
    ASSERT_TRUE(plat_nullwindow(h, &info));
    EXPECT_EQ(info.show, PLAT_HIDDEN);
    EXPECT_EQ(std::vector<int>({info.width, info.height}), std::vector<int>({1024, 768}));

    events.clear();
    EXPECT_FALSE(ShowWindow(h, SW_SHOWNORMAL)) << "it was not visible before";
    EXPECT_TRUE(ShowWindow(h, SW_SHOWNORMAL));
    EXPECT_TRUE(UpdateWindow(h));
    EXPECT_EQ(events, (std::vector<UINT>{WM_PAINT, WM_ERASEBKGND}));
    ASSERT_TRUE(plat_nullwindow(h, &info));
    EXPECT_EQ(std::vector<int>({info.show, info.fills, (int)info.colour}),
              std::vector<int>({PLAT_SHOWN, 1, (int)RGB(0, 0, 0)}));

    events.clear();
    UpdateWindow(h);
    EXPECT_TRUE(events.empty()) << "a validated window is not painted again";

    ShowWindow(h, SW_MINIMIZE);
    ShowWindow(h, SW_RESTORE);
    MSG msg;
    ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), 1);
    EXPECT_EQ(msg.message, (UINT)WM_PAINT) << "a restored window asks for paint";
    EXPECT_EQ(msg.hwnd, h);
    DispatchMessageA(&msg);
    ASSERT_TRUE(plat_nullwindow(h, &info));
    EXPECT_EQ(info.fills, 2);

    DestroyWindow(h);
    EXPECT_FALSE(plat_nullwindow(h, &info)) << "the backend window goes with it";
}

// A captioned window placed the way a program centres its client area: the frame is
// outside the client area, the backend shows the client area, and moves and size changes
// reach the procedure as WM_MOVE / WM_SIZE with the client area's corner and size.
TEST_F(UserWindow, FramesClientAreaAndPlacementMessages) {
    const struct {
        DWORD style;
        RECT grown;
    } frames[] = {
        {WS_POPUP, {100, 50, 420, 250}},
        {WS_POPUP | WS_BORDER, {99, 49, 421, 251}},
        {WS_CAPTION | WS_SYSMENU, {97, 28, 423, 253}},
        {WS_CAPTION | WS_THICKFRAME, {96, 27, 424, 254}},
    };
    for (const auto &f : frames) {
        RECT r{100, 50, 420, 250};
        ASSERT_TRUE(AdjustWindowRect(&r, f.style, FALSE));
        EXPECT_EQ(std::vector<LONG>({r.left, r.top, r.right, r.bottom}),
                  std::vector<LONG>({f.grown.left, f.grown.top, f.grown.right, f.grown.bottom}))
            << std::hex << f.style;
    }

    DWORD style = WS_CAPTION | WS_SYSMENU | WS_BORDER;
    RECT r{100, 50, 420, 250};
    AdjustWindowRect(&r, style, FALSE);
    HWND h = CreateWindowExA(0, "RecordClass", "", style, (int)r.left, (int)r.top,
                             (int)(r.right - r.left), (int)(r.bottom - r.top), nullptr, nullptr,
                             nullptr, nullptr);
    ASSERT_NE(h, nullptr);
    RECT client;
    ASSERT_TRUE(GetClientRect(h, &client));
    EXPECT_EQ(std::vector<LONG>({client.left, client.top, client.right, client.bottom}),
              std::vector<LONG>({0, 0, 320, 200}));
    POINT corner{0, 0};
    ASSERT_TRUE(ClientToScreen(h, &corner));
    EXPECT_EQ(std::vector<LONG>({corner.x, corner.y}), std::vector<LONG>({100, 50}));
    plat_nullwindowinfo info;
    ASSERT_TRUE(plat_nullwindow(h, &info));
    EXPECT_EQ(std::vector<int>({info.x, info.y, info.width, info.height}),
              std::vector<int>({100, 50, 320, 200}));
    EXPECT_EQ((DWORD)GetWindowLongA(h, GWL_STYLE), style);

    // From another thread: the messages run on the window's own thread.
    static std::vector<LPARAM> moves;
    struct proc {
        static LRESULT CALLBACK fn(HWND w, UINT m, WPARAM wp, LPARAM lp) {
            if (m == WM_MOVE || m == WM_SIZE)
                moves.push_back(m == WM_MOVE ? lp : -lp);
            return DefWindowProcA(w, m, wp, lp);
        }
    };
    ut::registerclass("MoveClass", proc::fn);
    HWND moved = nullptr;
    std::atomic<bool> ready{false}, stop{false};
    std::thread owner([&] {
        moved = CreateWindowExA(0, "MoveClass", "", style, (int)r.left, (int)r.top,
                                (int)(r.right - r.left), (int)(r.bottom - r.top), nullptr, nullptr,
                                nullptr, nullptr);
        moves.clear();
        ready = true;
        MSG m;
        while (!stop && GetMessageA(&m, nullptr, 0, 0) > 0)
            DispatchMessageA(&m);
        DestroyWindow(moved);
    });
    while (!ready)
        std::this_thread::yield();
    ASSERT_TRUE(SetWindowPos(moved, nullptr, (int)r.left + 10, (int)r.top, 0, 0,
                             SWP_NOSIZE | SWP_NOZORDER));
    ASSERT_TRUE(SetWindowPos(moved, nullptr, 0, 0, 330, 230, SWP_NOMOVE | SWP_NOZORDER));
    ASSERT_TRUE(SetWindowPos(moved, nullptr, 0, 0, 330, 230, SWP_NOMOVE | SWP_NOZORDER));
    EXPECT_EQ(moves, (std::vector<LPARAM>{MAKELPARAM(110, 50), -MAKELPARAM(324, 205)}))
        << "the same size again sends nothing";
    stop = true;
    PostMessageA(moved, WM_NULL, 0, 0);
    owner.join();

    EXPECT_FALSE(IsIconic(h));
    ShowWindow(h, SW_MINIMIZE);
    EXPECT_TRUE(IsIconic(h));
    DestroyWindow(h);
    EXPECT_FALSE(GetClientRect(h, &client));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_WINDOW_HANDLE);
}

// SetActiveWindow moves the focus between the caller's windows with the activation
// messages; another thread's window cannot be made active from here.
TEST_F(UserWindow, ActiveWindowTakesTheFocusWithItsMessages) {
    HWND a = plainwindow(), b = plainwindow();
    events.clear();
    SetActiveWindow(nullptr);
    events.clear();
    EXPECT_EQ(SetActiveWindow(a), nullptr);
    EXPECT_EQ(events, (std::vector<UINT>{WM_ACTIVATEAPP, WM_ACTIVATE}));
    events.clear();
    EXPECT_EQ(SetActiveWindow(b), a);
    EXPECT_EQ(events, (std::vector<UINT>{WM_ACTIVATE, WM_ACTIVATE})) << "a loses, b gains";
    EXPECT_EQ(GetActiveWindow(), b);
    std::atomic<HWND> other{nullptr};
    std::atomic<bool> done{false};
    std::thread owner([&] {
        other = plainwindow();
        while (!done)
            Sleep(1);
    });
    while (!other)
        Sleep(1);
    EXPECT_EQ(SetActiveWindow(other), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    done = true;
    owner.join();
    EXPECT_EQ(GetActiveWindow(), b);
    DestroyWindow(b);
    EXPECT_EQ(GetActiveWindow(), nullptr);
    DestroyWindow(a);
}

// SendNotifyMessageA to another thread's window returns at once, and the message is served
// before the messages posted earlier.
TEST(UserSend, NotifyReturnsAtOnceAndComesBeforePosts) {
    static std::vector<UINT> seen;
    struct proc {
        static LRESULT CALLBACK fn(HWND w, UINT m, WPARAM wp, LPARAM lp) {
            if (m >= WM_USER)
                seen.push_back(m);
            return DefWindowProcA(w, m, wp, lp);
        }
    };
    ut::registerclass("NotifyClass", proc::fn);
    std::atomic<HWND> h{nullptr};
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread owner([&] {
        h = popup("NotifyClass");
        WaitForSingleObject(go, INFINITE);
        MSG m;
        while (GetMessageA(&m, nullptr, 0, 0) > 0 && m.message != WM_USER + 9)
            DispatchMessageA(&m);
        DestroyWindow(h);
    });
    while (!h)
        std::this_thread::yield();
    ASSERT_TRUE(PostMessageA(h, WM_USER + 1, 0, 0));
    EXPECT_TRUE(SendNotifyMessageA(h, WM_USER + 2, 0, 0)) << "the owner is not pumping yet";
    ASSERT_TRUE(PostMessageA(h, WM_USER + 9, 0, 0));
    SetEvent(go);
    owner.join();
    CloseHandle(go);
    EXPECT_EQ(seen, (std::vector<UINT>{WM_USER + 2, WM_USER + 1}));
    EXPECT_FALSE(SendNotifyMessageA(h, WM_USER, 0, 0)) << "the window has gone";
}

// The cursor shape (and the class cursor over the client area) and position, and the
// screen-saver switches with the change they
// announce to the program's windows.
TEST_F(UserWindow, CursorShapePositionAndScreenSaverSwitches) {
    HCURSOR arrow = LoadCursorA(nullptr, IDC_ARROW);
    ASSERT_NE(arrow, nullptr);
    EXPECT_EQ(LoadCursorA((HINSTANCE)(uintptr_t)0x400000, IDC_ARROW), nullptr);
    ASSERT_EQ(plat_nullcursorvisible(), 1);
    HCURSOR before = SetCursor(nullptr);
    EXPECT_EQ(plat_nullcursorvisible(), 0) << "no shape, nothing drawn";
    ShowCursor(TRUE);
    EXPECT_EQ(plat_nullcursorvisible(), 0);
    ShowCursor(FALSE);
    EXPECT_EQ(SetCursor(before), nullptr);
    EXPECT_EQ(plat_nullcursorvisible(), 1);

    ASSERT_TRUE(SetCursorPos(-5, 700));
    POINT p;
    ASSERT_TRUE(GetCursorPos(&p));
    EXPECT_EQ(std::vector<LONG>({p.x, p.y}), std::vector<LONG>({-5, 700}));

    static std::vector<WPARAM> changes;
    struct proc {
        static LRESULT CALLBACK fn(HWND w, UINT m, WPARAM wp, LPARAM lp) {
            if (m == WM_SETTINGCHANGE) {
                changes.push_back(wp);
                EXPECT_STREQ((const char *)lp, "");
            }
            return DefWindowProcA(w, m, wp, lp);
        }
    };
    ut::registerclass("SettingClass", proc::fn, 0, nullptr, arrow);
    HWND h = popup("SettingClass");
    // The pointer moving over the client area brings the class cursor back.
    SetCursor(nullptr);
    plat_nullmousemove(h, 0, 0);
    MSG moved;
    ASSERT_EQ(GetMessageA(&moved, nullptr, 0, 0), 1);
    EXPECT_EQ(moved.message, (UINT)WM_MOUSEMOVE);
    EXPECT_EQ(plat_nullcursorvisible(), 1);
    BOOL on = FALSE;
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETSCREENSAVEACTIVE, 0, &on, 0));
    EXPECT_TRUE(on);
    ASSERT_TRUE(SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, FALSE, nullptr, SPIF_SENDCHANGE));
    EXPECT_EQ(plat_nullscreensaver(), 0);
    SystemParametersInfoA(SPI_SETPOWEROFFACTIVE, FALSE, nullptr, 0);
    SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, TRUE, nullptr, 0);
    EXPECT_EQ(plat_nullscreensaver(), 0) << "power-off is still switched off";
    SystemParametersInfoA(SPI_GETPOWEROFFACTIVE, 0, &on, 0);
    EXPECT_FALSE(on);
    SystemParametersInfoA(SPI_SETPOWEROFFACTIVE, TRUE, nullptr, SPIF_SENDCHANGE);
    EXPECT_EQ(plat_nullscreensaver(), 1);
    EXPECT_EQ(changes, (std::vector<WPARAM>{SPI_SETSCREENSAVEACTIVE, SPI_SETPOWEROFFACTIVE}));
    EXPECT_FALSE(SystemParametersInfoA(SPI_GETSCREENSAVEACTIVE, 0, nullptr, 0));
    EXPECT_FALSE(SystemParametersInfoA(0x0001, 0, &on, 0)) << "not one of ours";
    DestroyWindow(h);
}

TEST(UserSystem, ResourcesBrushesCursorCountScreenSizeAndHeadlessMessageBoxes) {
    ASSERT_EQ(registered, 1);
    // Whole strings and icons as the launcher loads them: its ShellWindow case.
    char buf[100];
    memset(buf, 'x', sizeof buf);
    EXPECT_EQ(LoadStringA(nullptr, 109, buf, 5), 4);
    EXPECT_STREQ(buf, "THIS");
    EXPECT_EQ(buf[5], 'x') << "nothing written past the buffer";
    EXPECT_EQ(LoadStringA(nullptr, 103, buf, 11), 10);
    EXPECT_EQ(LoadStringA(nullptr, 103, buf, 1), 0);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(LoadStringA(nullptr, 999, buf, 100), 0);

    EXPECT_NE(LoadIconA(nullptr, MAKEINTRESOURCEA(32512)), nullptr) << "system icon";
    HINSTANCE self = (HINSTANCE)(uintptr_t)0x400000;
    EXPECT_EQ(LoadIconA(self, MAKEINTRESOURCEA(142)), nullptr);
    EXPECT_EQ(LoadAcceleratorsA(self, MAKEINTRESOURCEA(4711)), nullptr);

    HBRUSH b = CreateSolidBrush(RGB(1, 2, 3));
    EXPECT_TRUE(DeleteObject(b));
    EXPECT_FALSE(DeleteObject(b)) << "already deleted";
    HGDIOBJ stock = GetStockObject(BLACK_BRUSH);
    EXPECT_TRUE(DeleteObject(stock));
    EXPECT_EQ(GetStockObject(BLACK_BRUSH), stock) << "stock objects are never freed";

    // The cursor shows while the count is not negative.
    const struct {
        BOOL show;
        int count;
    } cursor[] = {{FALSE, -1}, {FALSE, -2}, {TRUE, -1}, {TRUE, 0}};
    for (const auto &c : cursor) {
        EXPECT_EQ(ShowCursor(c.show), c.count);
        EXPECT_EQ(plat_nullcursorvisible(), c.count >= 0);
    }

    EXPECT_STREQ(plat_backendname(), "null");
    setenv("THISTLE_SCREEN", "800x600", 1);
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 800);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 600);
    for (const char *bad : {"", "800", "0x600", "800x600x8", "wide"}) {
        setenv("THISTLE_SCREEN", bad, 1);
        EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 640) << bad;
        EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 480) << bad;
    }
    unsetenv("THISTLE_SCREEN");

    // A box that must come to the front is written the same way; "Error" stands in for
    // a missing caption. (The launcher's crash boxes: control_test.cpp.)
    testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBoxA(nullptr, "Abort message:", nullptr,
                          MB_OKCANCEL | MB_ICONEXCLAMATION | MB_SYSTEMMODAL | MB_SETFOREGROUND),
              IDOK);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: Abort message:\n");
}

} // namespace
