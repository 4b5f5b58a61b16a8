// Window side, headless: classes, window life cycle, stale handles, painting, resources,
// cursor count, screen metrics, brushes and message boxes.
#include "plat/resource.h"
#include "plat/win32.h"

#include "plat/testhooks.h"

#include <gtest/gtest.h>

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
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = recordproc;
    wc.hbrBackground = brush;
    wc.lpszClassName = name;
    return RegisterClassExA(&wc);
}

HWND plainwindow() {
    return CreateWindowExA(0, "RecordClass", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                           nullptr);
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
    ASSERT_EQ(events, (std::vector<UINT>{WM_NCCREATE, WM_CREATE}));
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

    // Class names are unique without regard to case.
    EXPECT_EQ(registerclass("RECORDCLASS"), 0);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_CLASS_ALREADY_EXISTS);
    EXPECT_EQ(
        CreateWindowExA(0, "NoSuchClass", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr),
        nullptr);
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
    EXPECT_EQ(info.show, PLAT_SHOWN);
    EXPECT_EQ(info.fills, 1);
    EXPECT_EQ(info.colour, RGB(0, 0, 0));

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

TEST(UserSystem, ResourcesBrushesCursorCountScreenSizeAndHeadlessMessageBoxes) {
    ASSERT_EQ(registered, 1);
    char buf[100];
    EXPECT_EQ(LoadStringA(nullptr, 103, buf, 100), 10);
    EXPECT_STREQ(buf, "Thistlerun");
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
    EXPECT_NE(LoadIconA(self, MAKEINTRESOURCEA(141)), nullptr);
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
