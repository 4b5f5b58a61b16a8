// Window side, headless: queues, quit, sent messages across threads, keyboard
// translation and accelerators. The threaded cases also run under ThreadSanitizer.
#include "plat/resource.h"
#include "plat/testhooks.h"
#include "plat/win32.h"
#include "user_testutil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr UINT pingmsg = WM_USER + 1;  // wParam + 1 is the answer
constexpr UINT sendback = WM_USER + 2; // the procedure sends pingmsg to (HWND)lParam

const ACCEL shellkeys[] = {
    {FALT, '?', 104},
    {FALT, '/', 104},
    {FVIRTKEY | FCONTROL, 'S', 200},
};
const plat_accelres accels[] = {{109, shellkeys, 3}};
const plat_resources resources = {nullptr, 0, accels, 1, nullptr, 0};
const int registered = plat_addresources(&resources);

std::mutex seenlock;
std::vector<MSG> seen; // messages that reached testproc, any thread

LRESULT CALLBACK testproc(HWND h, UINT m, WPARAM w, LPARAM l) {
    {
        std::lock_guard<std::mutex> guard(seenlock);
        seen.push_back(MSG{h, m, w, l, 0, {}});
    }
    switch (m) {
    case pingmsg:
        return (LRESULT)w + 1;
    case sendback:
        return SendMessageA((HWND)l, pingmsg, w, 0) + 100;
    case WM_DESTROY:
        PostQuitMessage(3);
        return 0;
    default:
        return DefWindowProcA(h, m, w, l);
    }
}

HWND makewindow() {
    ut::registerclass("MsgTestClass", testproc);
    return CreateWindowExA(0, "MsgTestClass", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                           nullptr);
}

/* Runs a window's message loop on its own thread until the window is destroyed. */
struct loopthread {
    std::atomic<HWND> hwnd{nullptr};
    int exitcode = -1;
    std::thread t;

    loopthread() {
        t = std::thread([this] {
            HWND h = makewindow();
            hwnd = h;
            MSG msg;
            while (GetMessageA(&msg, nullptr, 0, 0) > 0)
                DispatchMessageA(&msg);
            exitcode = (int)msg.wParam;
        });
        while (!hwnd)
            std::this_thread::yield();
    }
    void stop() {
        PostMessageA(hwnd, WM_CLOSE, 0, 0);
        t.join();
    }
};

void clearseen() {
    std::lock_guard<std::mutex> guard(seenlock);
    seen.clear();
}

std::vector<MSG> seencopy() {
    std::lock_guard<std::mutex> guard(seenlock);
    return seen;
}

TEST(UserQueue, FiltersPickFromThePostsAndQuitComesAfterThemWithItsCode) {
    HWND h = makewindow();
    PostMessageA(h, WM_USER + 10, 1, 2);
    PostMessageA(nullptr, WM_USER + 11, 3, 4);
    PostQuitMessage(7);
    PostMessageA(h, WM_USER + 12, 0, 0);
    /* GetMessageA's result, then the message's window, number, wParam and lParam. */
    using got = std::vector<uintptr_t>;
    auto get = [](HWND w, UINT first, UINT last) {
        MSG m{};
        BOOL r = GetMessageA(&m, w, first, last);
        return got{(uintptr_t)r, (uintptr_t)m.hwnd, m.message, m.wParam, (uintptr_t)m.lParam};
    };
    EXPECT_EQ(get(nullptr, WM_USER + 11, WM_USER + 12), (got{1, 0, WM_USER + 11, 3, 4}))
        << "a thread message";
    EXPECT_EQ(get(h, WM_USER + 11, WM_USER + 12), (got{1, (uintptr_t)h, WM_USER + 12, 0, 0}));
    EXPECT_EQ(get(nullptr, 0, 0), (got{1, (uintptr_t)h, WM_USER + 10, 1, 2}));
    EXPECT_EQ(get(nullptr, 0, 0), (got{0, 0, WM_QUIT, 7, 0}));
    DestroyWindow(h); // posts quit 3
    EXPECT_EQ(get(nullptr, 0, 0), (got{0, 0, WM_QUIT, 3, 0}));
}

// Threads sending to each other do not deadlock; posts from another thread wake the
// waiting loop and arrive in each poster's order.
TEST(UserSend, ManySendersAndPostersAgainstOneLoop) {
    loopthread loop, other;
    // loop's procedure sends back to a window of this thread, which is blocked in its own
    // send to loop and must serve it meanwhile; other's sends on to loop.
    HWND mine = makewindow();
    EXPECT_EQ(SendMessageA(loop.hwnd, sendback, 5, (LPARAM)mine), 106);
    EXPECT_EQ(SendMessageA(other.hwnd, sendback, 7, (LPARAM)(HWND)loop.hwnd), 108);
    DestroyWindow(mine);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    }
    other.stop();
    clearseen();
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 100; i++) {
                if (SendMessageA(loop.hwnd, pingmsg, (WPARAM)(t * 1000 + i), 0) !=
                        t * 1000 + i + 1 ||
                    !PostMessageA(loop.hwnd, WM_USER + 40, (WPARAM)(t * 1000 + i), 0))
                    wrong++;
            }
        });
    }
    for (std::thread &t : threads)
        t.join();
    loop.stop();
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(loop.exitcode, 3);
    int next[4] = {0, 0, 0, 0};
    for (const MSG &m : seencopy())
        if (m.message == WM_USER + 40) {
            EXPECT_EQ(m.wParam % 1000, (WPARAM)next[m.wParam / 1000]++);
        }
    EXPECT_EQ(std::vector<int>(next, next + 4), std::vector<int>(4, 100));
}

// The shell window's loop: Alt+'?' and Alt+'/' are command 104; a plain '?' is not.
class UserAccelerators : public ::testing::Test {
  protected:
    HWND h = nullptr;
    HACCEL table = nullptr;
    void SetUp() override {
        ASSERT_EQ(registered, 1);
        h = makewindow();
        table = LoadAcceleratorsA(nullptr, MAKEINTRESOURCEA(109));
        ASSERT_NE(table, nullptr);
        clearseen();
    }
    void TearDown() override {
        DestroyWindow(h);
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        }
    }
    /* One turn of the launcher's loop; returns whether the accelerator took it. */
    int loopturn() {
        MSG msg;
        EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), 1);
        if (TranslateAcceleratorA(msg.hwnd, table, &msg))
            return 1;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
        return 0;
    }
    std::vector<WPARAM> commands() {
        std::vector<WPARAM> out;
        for (const MSG &m : seencopy())
            if (m.message == WM_COMMAND)
                out.push_back(m.wParam);
        return out;
    }
};

TEST_F(UserAccelerators, AltQuestionMarkAndAltSlashGiveCommand104FromTheTableAndTheLoop) {
    const struct {
        UINT msg;
        WPARAM key;
        int hit;
    } cases[] = {
        {WM_SYSCHAR, '?', 1}, {WM_SYSCHAR, '/', 1},     {WM_CHAR, '?', 0},
        {WM_SYSCHAR, 'x', 0}, {WM_SYSKEYDOWN, 0xBF, 0}, // the '/' key itself: character entries
                                                        // wait for WM_SYSCHAR
    };
    for (const auto &c : cases) {
        clearseen();
        MSG msg{h, c.msg, c.key, 1 | (1 << 29), 0, {}};
        EXPECT_EQ(TranslateAcceleratorA(h, table, &msg), c.hit) << c.msg << " " << c.key;
        EXPECT_EQ(commands(), std::vector<WPARAM>(c.hit, MAKEWPARAM(104, 1)));
    }
    EXPECT_EQ(TranslateAcceleratorA(nullptr, table, nullptr), 0);

    // From the keyboard, Alt+Shift+'/' is WM_SYSKEYDOWN; TranslateMessage turns it into
    // WM_SYSCHAR '?', which the next turn of the loop matches.
    clearseen();
    for (int vk : {VK_MENU, VK_SHIFT, VK_OEM_2})
        plat_nullvkey(h, vk, 1, 0);
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(loopturn(), 0);
    EXPECT_EQ(loopturn(), 1);
    EXPECT_EQ(commands(), std::vector<WPARAM>{MAKEWPARAM(104, 1)});
    for (int vk : {VK_OEM_2, VK_SHIFT, VK_MENU}) // let go, for the cases after this one
        plat_nullvkey(h, vk, 0, 0);
}

// (Characters coming behind what was queued before them: SdlBackend's and UserInput's.)
TEST_F(UserAccelerators, VirtualKeyEntriesFollowTheModifierState) {
    PostMessageA(h, WM_KEYDOWN, 'S', 0);  // without Ctrl
    PostMessageA(h, WM_KEYDOWN, 0x11, 0); // Ctrl down
    PostMessageA(h, WM_KEYDOWN, 'S', 0);  // Ctrl+S
    PostMessageA(h, WM_KEYUP, 0x11, 0);
    PostMessageA(h, WM_KEYDOWN, 'S', 0); // Ctrl released
    PostMessageA(h, WM_USER + 60, 0, 0);
    int hits = 0;
    do {
        hits += loopturn();
    } while (seencopy().empty() || seencopy().back().message != WM_USER + 60);
    EXPECT_EQ(hits, 1);
    EXPECT_EQ(commands(), std::vector<WPARAM>{MAKEWPARAM(200, 1)});
}

DWORD WINAPI waitsinget(LPVOID) {
    MSG msg;
    GetMessageA(&msg, nullptr, 0, 0);
    return 1;
}

DWORD WINAPI waitsinsend(LPVOID to) {
    return (DWORD)SendMessageA((HWND)to, pingmsg, 77, 0);
}

std::atomic<int> rounds{0};

DWORD WINAPI keepsposting(LPVOID) {
    for (;;) {
        MSG msg;
        PostMessageA(nullptr, WM_USER + 50, 0, 0);
        GetMessageA(&msg, nullptr, 0, 0);
        rounds++;
    }
}

// A thread blocked in its queue wait, one waiting for a reply to a send, and one that
// keeps going through the queue lock are each ended promptly with their code; the
// window side stays usable and the unanswered send never reaches its window.
TEST(UserTerminate, ThreadsEndedInQueueCallsLeaveTheWindowSideWorking) {
    HWND mine = makewindow(); // this thread does not serve it until the end
    clearseen();
    LPTHREAD_START_ROUTINE starts[] = {waitsinget, waitsinsend, keepsposting};
    for (DWORD i = 0; i < 3; i++) {
        rounds = 0;
        HANDLE h = CreateThread(nullptr, 0, starts[i], mine, 0, nullptr);
        ASSERT_NE(h, nullptr);
        Sleep(50); // into its wait, or well into its loop
        if (starts[i] == keepsposting)
            while (rounds < 1000)
                Sleep(1);
        auto before = std::chrono::steady_clock::now();
        ASSERT_TRUE(TerminateThread(h, 20 + i));
        EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(1000)) << i;
        ASSERT_EQ(WaitForSingleObject(h, 2000), WAIT_OBJECT_0) << i;
        DWORD code = 0;
        EXPECT_TRUE(GetExitCodeThread(h, &code));
        EXPECT_EQ(code, 20 + i);
        CloseHandle(h);
        loopthread loop; // creating a window, posting and sending still work
        EXPECT_EQ(SendMessageA(loop.hwnd, pingmsg, i, 0), (LRESULT)i + 1);
        loop.stop();
        EXPECT_EQ(loop.exitcode, 3);
    }
    PostMessageA(mine, WM_USER + 51, 0, 0);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0 && msg.message != WM_USER + 51) {
    }
    for (const MSG &m : seencopy())
        EXPECT_FALSE(m.message == pingmsg && m.wParam == 77) << "sent by a thread that had ended";
    DestroyWindow(mine);
}

} // namespace
