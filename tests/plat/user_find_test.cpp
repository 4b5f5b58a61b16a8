// Window side, headless: FindWindowA in this process and in the first instance of a
// program (through the named mutex it created), proxies for windows found there, and
// SetForegroundWindow.
#include "plat/win32.h"

#include "kernel_testutil.h"
#include "plat/testhooks.h"
#include "user_testutil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using kt::readfile;
using ut::registerclass;

HWND makewindow(const char *cls, const char *title, DWORD style = WS_POPUP | WS_VISIBLE,
                HWND parent = nullptr) {
    return CreateWindowExA(0, cls, title, style, 0, 0, 32, 32, parent, nullptr, nullptr, nullptr);
}

TEST(UserFind, MatchesClassWithoutCaseAndTitleExactlyAmongTopLevelWindowsSetForeground) {
    ASSERT_NE(registerclass("FindA"), 0);
    ATOM atomb = registerclass("FindB");
    ASSERT_NE(atomb, 0);
    HWND a = makewindow("FindA", "Alpha");
    HWND b = makewindow("FindB", "Beta");
    HWND child = makewindow("FindA", "Gamma", WS_CHILD | WS_VISIBLE, a);
    HWND untitled = makewindow("FindB", nullptr);
    ASSERT_TRUE(a && b && child && untitled);

    const struct {
        const char *cls;
        const char *title;
        HWND want;
    } cases[] = {
        {nullptr, "Beta", b},
        {"finda", nullptr, a},
        {"FINDA", "Alpha", a},
        {"FindB", "Alpha", nullptr}, // both must match
        {nullptr, "alpha", nullptr}, // titles compare exactly
        {nullptr, "Gamma", nullptr}, // child windows are not top-level
        {"NoSuchClass", nullptr, nullptr},
        {nullptr, "", untitled}, // no title is the empty title
        {(const char *)(ULONG_PTR)atomb, "Beta", b},
        {nullptr, nullptr, a}, // anything: the first window
    };
    for (const auto &c : cases) {
        EXPECT_EQ(FindWindowA(c.cls, c.title), c.want) << (&c - cases);
    }

    // The windows of one thread are windows of the whole process; destroyed ones are gone.
    std::thread([&] { EXPECT_EQ(FindWindowA(nullptr, "Beta"), b); }).join();
    DestroyWindow(b);
    EXPECT_EQ(FindWindowA(nullptr, "Beta"), nullptr);
    DestroyWindow(untitled);

    // SetForegroundWindow raises the window; the front window is forgotten with it.
    b = makewindow("FindB", "Two", WS_POPUP | WS_VISIBLE | WS_MINIMIZE);
    EXPECT_EQ(GetForegroundWindow(), nullptr);
    ASSERT_TRUE(SetForegroundWindow(b));
    EXPECT_EQ(GetForegroundWindow(), b);
    plat_nullwindowinfo info{};
    ASSERT_TRUE(plat_nullwindow(b, &info));
    EXPECT_EQ(info.raises, 1);
    EXPECT_EQ(info.show, PLAT_MINIMISED) << "headless only records the raise";
    ASSERT_TRUE(SetForegroundWindow(a));
    EXPECT_EQ(GetForegroundWindow(), a);
    DestroyWindow(a);
    EXPECT_EQ(GetForegroundWindow(), nullptr) << "a destroyed window is not in front";
    DestroyWindow(b);
}

/* ---- across processes ---------------------------------------------------------- */

/* The child's last report "<show> <foreground> <raises>\n", waited for until it equals
 * want (or anything, for want empty); what it was at the time-out otherwise. */
std::string waitreport(const std::string &path, const std::string &want, int timeoutms = 10000) {
    std::string got;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutms);
    do {
        got = readfile(path);
        if (!got.empty() && (want.empty() || got == want))
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    } while (std::chrono::steady_clock::now() < end);
    return got;
}

/* A session of its own per test, a scratch directory, and first instances to start. */
class UserCrossProcess : public kt::ScratchDir {
  protected:
    void SetUp() override {
        const testing::TestInfo *t = testing::UnitTest::GetInstance()->current_test_info();
        std::string session = std::string("userfind-") + std::to_string(getpid()) + "-" + t->name();
        setenv("THISTLE_SESSION", session.c_str(), 1);
        kt::ScratchDir::SetUp();
    }
    void TearDown() override {
        for (PROCESS_INFORMATION &pi : children)
            stop(&pi);
        kt::ScratchDir::TearDown();
    }

    /* Starts a first instance (see userchild.cpp); its report file name is returned,
     * once the child has written its first report. */
    std::string start(const char *title, int busyms = 0) {
        int n = (int)children.size();
        std::string report = dir + "/report" + std::to_string(n);
        std::string cmd = std::string("\"") + USERCHILD_PATH + "\" Brambleshot \"" + title + "\" " +
                          report + " " + dir + "/quit" + std::to_string(n) + " " +
                          std::to_string(busyms);
        PROCESS_INFORMATION pi{};
        EXPECT_TRUE(kt::start(nullptr, cmd, nullptr, &pi));
        children.push_back(pi);
        EXPECT_NE(waitreport(report, ""), "") << "the first instance did not come up";
        return report;
    }

    /* Asks child n to close its window and waits for it to end with 0. */
    void stop(PROCESS_INFORMATION *pi) {
        if (!pi->hProcess)
            return;
        int n = (int)(pi - children.data());
        kt::writefile(dir + "/quit" + std::to_string(n), "\n");
        EXPECT_EQ(kt::waitexit(pi->hProcess), 0u);
        kt::closeinfo(pi);
        pi->hProcess = nullptr;
    }

    std::vector<PROCESS_INFORMATION> children;
};

TEST_F(UserCrossProcess, SecondInstanceReachesTheFirstInstancesWindowWhileItLives) {
    std::string report = start("Brambleshot Demo");
    EXPECT_EQ(waitreport(report, "2 0 0\n"), "2 0 0\n") << "minimised, not in front";

    EXPECT_EQ(FindWindowA(nullptr, "Brambleshot Demo"), nullptr)
        << "only the creators of names we opened are asked";
    HANDLE mutex = CreateMutexA(nullptr, TRUE, "Brambleshot");
    ASSERT_NE(mutex, nullptr);
    ASSERT_EQ(GetLastError(), (DWORD)ERROR_ALREADY_EXISTS);

    HWND h = FindWindowA(nullptr, "Brambleshot Demo");
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(FindWindowA("userchildclass", nullptr), h) << "the same window, the same proxy";
    EXPECT_EQ(FindWindowA("UserChildClass", "Brambleshot"), nullptr);
    EXPECT_TRUE(IsWindow(h));

    EXPECT_TRUE(ShowWindow(h, SW_RESTORE)) << "it was visible (minimised)";
    EXPECT_TRUE(SetForegroundWindow(h));
    EXPECT_EQ(waitreport(report, "1 1 1\n"), "1 1 1\n");

    // Nothing else reaches the other process's window.
    SetLastError(0);
    EXPECT_FALSE(DestroyWindow(h));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_FALSE(PostMessageA(h, WM_CLOSE, 0, 0));
    EXPECT_EQ(SendMessageA(h, WM_CLOSE, 0, 0), 0);
    EXPECT_TRUE(IsWindow(h));

    // The proxy dies with the first instance. A new first instance takes the name over;
    // its window has the same handle value in its own process as the old one had, and
    // still the old proxy must stay dead.
    stop(&children[0]);
    EXPECT_FALSE(IsWindow(h));
    SetLastError(0);
    EXPECT_FALSE(ShowWindow(h, SW_RESTORE));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_EQ(FindWindowA(nullptr, "Brambleshot Demo"), nullptr);
    report = start("Brambleshot Demo");
    EXPECT_FALSE(IsWindow(h));
    EXPECT_FALSE(SetForegroundWindow(h));
    HWND second = FindWindowA(nullptr, "Brambleshot Demo");
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, h);
    EXPECT_TRUE(SetForegroundWindow(second));
    EXPECT_EQ(waitreport(report, "2 1 1\n"), "2 1 1\n");
    CloseHandle(mutex);
}

TEST_F(UserCrossProcess, WindowStateChangesWaitForTheWindowsOwnThread) {
    // The first instance's window thread is busy for a while before its loop runs: the
    // request gives up with FALSE instead of hanging, and the restore happens once the
    // window thread gets to it.
    std::string report = start("Brambleshot Demo", 2000);
    HANDLE mutex = CreateMutexA(nullptr, TRUE, "Brambleshot");
    HWND h = FindWindowA(nullptr, "Brambleshot Demo");
    ASSERT_NE(h, nullptr);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(ShowWindow(h, SW_RESTORE));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(3));
    EXPECT_EQ(readfile(report), "2 0 0\n") << "not applied on the requester's behalf";
    EXPECT_EQ(waitreport(report, "1 0 0\n"), "1 0 0\n");
    EXPECT_TRUE(IsWindow(h)) << "a late answer does not kill the proxy";
    CloseHandle(mutex);
}

} // namespace
