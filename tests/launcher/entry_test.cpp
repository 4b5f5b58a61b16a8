// The launcher's entry pieces in process: the installation directory from the registry
// (a temporary registry file per case), the shell window's commands and the resources
// the entry loads. The whole entry is exercised end to end in run_test.cpp.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "launcher.h"

namespace {

namespace fs = std::filesystem;

class InstallDir : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/thistlerun-entry-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root = pattern;
        registry = root + "/registry.reg";
        setenv("THISTLE_REGISTRY", registry.c_str(), 1);
    }
    void TearDown() override {
        fs::remove_all(root);
    }
    /* readinstalldir's result and text, or "untouched" when the buffer kept its fill. */
    std::string lookup(const std::string &registrytext, int *length) {
        std::ofstream(registry, std::ios::binary) << registrytext;
        char buffer[260];
        memset(buffer, 'Z', sizeof buffer);
        *length = readinstalldir(buffer);
        return buffer[0] == 'Z' && buffer[1] == 'Z' ? "untouched" : buffer;
    }
    std::string root;
    std::string registry;
};

TEST_F(InstallDir, PathValueInEveryFormItIsStoredIn) {
    const std::string v4 =
        "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Vornholt\\Brambleshot Demo]\n";
    const std::string v5 = "Windows Registry Editor Version 5.00\n\n" + v4.substr(10);
    const struct {
        std::string text;
        int length;
        std::string dir;
    } cases[] = {
        {v4 + "\"Path\"=\"/tmp/x\"\n", 7, "/tmp/x\\"},
        {v4 + "\"Path\"=\"C:\\\\Games\\\\Bramble\\\\\"\n", 17, "C:\\Games\\Bramble\\"},
        {v4 + "\"Path\"=\"\"\n", 0, ""},
        {v4 + "\"Path\"=\"" + std::string(254, 'd') + "\"\n", 255, std::string(254, 'd') + "\\"},
        {v4 + "\"Path\"=\"" + std::string(255, 'd') + "\"\n", 0, "untouched"},
        // An expandable string as version 5 files export it (UTF-16), and plain bytes: the
        // launcher takes the value whatever its type.
        {v5 + "\"Path\"=hex(2):2f,00,74,00,6d,00,70,00,2f,00,79,00,00,00\n", 7, "/tmp/y\\"},
        {v4 + "\"Path\"=hex:2f,74,6d,70,2f,7a\n", 7, "/tmp/z\\"},
        {v4 + "\"Other\"=\"/tmp/y\"\n", 0, "untouched"}, // no key: run_test.cpp
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        int length = -1;
        EXPECT_EQ(lookup(c.text, &length), c.dir);
        EXPECT_EQ(length, c.length);
    }
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
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = testproc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "SHELLTEST";
    RegisterClassExA(&wc);
    return CreateWindowExA(0, "SHELLTEST", "test", WS_POPUP, 0, 0, 64, 48, nullptr, nullptr,
                           wc.hInstance, nullptr);
}

TEST(ShellWindow, ResourcesAboutExitAndDestroy) {
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
    const struct {
        UINT message;
        char key;
        int hit;
    } cases[] = {{WM_SYSCHAR, '?', 1}, {WM_SYSCHAR, '/', 1}, {WM_CHAR, '?', 0}};
    for (const auto &c : cases) {
        MSG msg{window, c.message, (WPARAM)c.key, (LPARAM)1 << 29, 0, {}}; // Alt held
        EXPECT_EQ(TranslateAcceleratorA(window, table, &msg), c.hit) << c.key;
    }
    EXPECT_EQ(SendMessageA(window, WM_PAINT, 0, 0), 0);
    EXPECT_EQ(SendMessageA(window, WM_COMMAND, MAKEWPARAM(IDM_ABOUT, 0), 0), 0);
    EXPECT_TRUE(IsWindow(window));

    // Exit (only the low word names the command) and WM_DESTROY both end the loop.
    for (UINT message : {(UINT)WM_COMMAND, (UINT)WM_DESTROY}) {
        if (message != WM_COMMAND)
            window = maketestwindow();
        EXPECT_EQ(SendMessageA(window, message, MAKEWPARAM(IDM_EXIT, 1), 0), 0);
        EXPECT_EQ(IsWindow(window), message != WM_COMMAND);
        MSG msg{};
        int guard = 0;
        while (GetMessageA(&msg, nullptr, 0, 0) && ++guard < 100)
            DispatchMessageA(&msg);
        EXPECT_LT(guard, 100);
        EXPECT_EQ(msg.message, (UINT)WM_QUIT);
        EXPECT_EQ(msg.wParam, 0u);
    }
}

} // namespace
