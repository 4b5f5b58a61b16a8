// The launcher's entry pieces in process: the installation directory from the registry
// (a temporary registry file per case), the shell window's commands and the resources
// the entry loads. The whole entry is exercised end to end in run_test.cpp.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "launcher.h"

namespace {

namespace fs = std::filesystem;

const char registryhead[] =
    "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Vornholt\\Brambleshot Demo]\n";

class InstallDir : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/thistlerun-entry-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root = pattern;
        registry = root + "/registry.reg";
        setenv("THISTLE_REGISTRY", registry.c_str(), 1);
        memset(buffer, 'Z', sizeof buffer);
        buffer[sizeof buffer - 1] = '\0';
    }
    void TearDown() override {
        fs::remove_all(root);
    }

    void store(const std::string &text) {
        std::ofstream(registry, std::ios::binary) << text;
    }
    /* A registry file whose "Path" holds value (escaped the regedit way). */
    void storepath(const std::string &value) {
        std::string escaped;
        for (char c : value) {
            if (c == '\\' || c == '"')
                escaped.push_back('\\');
            escaped.push_back(c);
        }
        store(std::string(registryhead) + "\"Path\"=\"" + escaped + "\"\n");
    }
    bool untouched() const {
        for (size_t i = 0; i + 1 < sizeof buffer; i++)
            if (buffer[i] != 'Z')
                return false;
        return true;
    }

    std::string root;
    std::string registry;
    char buffer[260];
};

TEST_F(InstallDir, BackslashIsAppendedOnlyWhenMissing) {
    storepath("/tmp/x");
    EXPECT_EQ(readinstalldir(buffer), 7);
    EXPECT_STREQ(buffer, "/tmp/x\\");

    storepath("C:\\Games\\Brambleshot\\");
    EXPECT_EQ(readinstalldir(buffer), 21);
    EXPECT_STREQ(buffer, "C:\\Games\\Brambleshot\\");
}

TEST_F(InstallDir, EmptyValueStaysEmpty) {
    storepath("");
    EXPECT_EQ(readinstalldir(buffer), 0);
    EXPECT_STREQ(buffer, "");
}

TEST_F(InstallDir, LongestValueThatFits) {
    storepath(std::string(254, 'd'));
    EXPECT_EQ(readinstalldir(buffer), 255);
    EXPECT_EQ(std::string(buffer), std::string(254, 'd') + "\\");

    memset(buffer, 'Z', sizeof buffer - 1);
    storepath(std::string(255, 'd'));
    EXPECT_EQ(readinstalldir(buffer), 0);
    EXPECT_TRUE(untouched());
}

TEST_F(InstallDir, MissingKeyIsCreated) {
    store("REGEDIT4\n\n");
    EXPECT_EQ(readinstalldir(buffer), 0);
    EXPECT_TRUE(untouched());
    std::ifstream in(registry, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_NE(text.find("Brambleshot Demo]"), std::string::npos) << text;
}

TEST_F(InstallDir, MissingValueFails) {
    store(std::string(registryhead) + "\"Other\"=\"/tmp/y\"\n");
    EXPECT_EQ(readinstalldir(buffer), 0);
    EXPECT_TRUE(untouched());
    EXPECT_EQ(readinstalldir(nullptr), 0);
}

// ---- shell window -----------------------------------------------------------------------

/* The shell window's procedure without its WM_CREATE, which would start the launch
 * thread in the test process. */
LRESULT CALLBACK testproc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_CREATE)
        return 0;
    return shellwindowproc(window, message, wparam, lparam);
}

HWND maketestwindow() {
    setenv("THISTLE_VIDEO", "null", 1);
    WNDCLASSEXA wc;
    memset(&wc, 0, sizeof wc);
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = testproc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "SHELLTEST";
    RegisterClassExA(&wc);
    return CreateWindowExA(0, "SHELLTEST", "test", WS_POPUP, 0, 0, 64, 48, nullptr, nullptr,
                           wc.hInstance, nullptr);
}

TEST(ShellWindow, AboutDoesNothingExitEndsTheLoop) {
    HWND window = maketestwindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(SendMessageA(window, WM_COMMAND, MAKEWPARAM(IDM_ABOUT, 0), 0), 0);
    EXPECT_EQ(SendMessageA(window, WM_COMMAND, MAKEWPARAM(IDM_ABOUT, 1), 0), 0);
    EXPECT_TRUE(IsWindow(window));

    // Only the low word names the command.
    EXPECT_EQ(SendMessageA(window, WM_COMMAND, MAKEWPARAM(IDM_EXIT, 1), 0), 0);
    EXPECT_FALSE(IsWindow(window));
    MSG msg;
    memset(&msg, 0, sizeof msg);
    int guard = 0;
    while (GetMessageA(&msg, nullptr, 0, 0) && ++guard < 100)
        DispatchMessageA(&msg);
    EXPECT_LT(guard, 100);
    EXPECT_EQ(msg.message, (UINT)WM_QUIT);
    EXPECT_EQ(msg.wParam, 0u);
}

TEST(ShellWindow, DestroyPostsQuitZero) {
    HWND window = maketestwindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(SendMessageA(window, WM_PAINT, 0, 0), 0);
    EXPECT_EQ(SendMessageA(window, WM_DESTROY, 0, 0), 0);
    MSG msg;
    memset(&msg, 0, sizeof msg);
    int guard = 0;
    while (GetMessageA(&msg, nullptr, 0, 0) && ++guard < 100)
        DispatchMessageA(&msg);
    EXPECT_EQ(msg.message, (UINT)WM_QUIT);
    EXPECT_EQ(msg.wParam, 0u);
}

// ---- resources --------------------------------------------------------------------------

TEST(ShellWindow, ResourcesGiveTitleClassAndAboutKeys) {
    HWND window = maketestwindow();
    ASSERT_NE(window, nullptr);
    HINSTANCE self = GetModuleHandleA(nullptr);
    char text[100];
    EXPECT_EQ(LoadStringA(self, IDS_APP_TITLE, text, sizeof text), 10);
    EXPECT_STREQ(text, "Thistlerun");
    EXPECT_EQ(LoadStringA(self, IDC_THISTLERUN, text, sizeof text), 10);
    EXPECT_STREQ(text, "THISTLERUN");
    EXPECT_NE(LoadIconA(self, MAKEINTRESOURCEA(IDI_THISTLERUN)), nullptr);

    // Alt with the characters "?" and "/" is the About command, which does nothing.
    HACCEL table = LoadAcceleratorsA(self, MAKEINTRESOURCEA(IDC_THISTLERUN));
    ASSERT_NE(table, nullptr);
    const char altkeys[] = {'?', '/'};
    for (char key : altkeys) {
        MSG msg;
        memset(&msg, 0, sizeof msg);
        msg.hwnd = window;
        msg.message = WM_SYSCHAR;
        msg.wParam = (WPARAM)key;
        msg.lParam = (LPARAM)1 << 29; // Alt held
        EXPECT_NE(TranslateAcceleratorA(window, table, &msg), 0) << key;
        EXPECT_TRUE(IsWindow(window));
    }
    MSG plain;
    memset(&plain, 0, sizeof plain);
    plain.hwnd = window;
    plain.message = WM_CHAR;
    plain.wParam = (WPARAM)'?';
    EXPECT_EQ(TranslateAcceleratorA(window, table, &plain), 0);
}

} // namespace
