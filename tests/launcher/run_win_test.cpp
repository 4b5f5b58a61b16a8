// The launcher end to end on Windows: the built thistlerun.exe runs scripted children
// (scriptchild.exe copied in as "frontend.run", "game.run", "game2.run") in a temporary
// installation named by the registry's Path value, as the installer leaves it. The
// launcher's message boxes are real windows here: the cases find them and answer them.
// The registry value and the single-instance mutex are shared by every program of the
// machine (the Wine prefix), so CTest runs these cases one at a time.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "plat/win32.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const char installkey[] = "Software\\Vornholt\\Brambleshot Demo";

/* A control file holding the 32-bit value v (0 to 255). */
std::string le32(char v) {
    return std::string(1, v) + std::string(3, '\0');
}

/* One line of children.log: its key=value words. */
using Seen = std::map<std::string, std::string>;
using Names = std::vector<std::string>;

/* A top-level window of process pid titled title, or null. */
HWND findwindow(DWORD pid, const char *title) {
    HWND hwnd = nullptr;
    DWORD owner = 0;
    while ((hwnd = FindWindowExA(nullptr, hwnd, nullptr, title)) != nullptr &&
           (GetWindowThreadProcessId(hwnd, &owner), owner != pid)) {
    }
    return hwnd;
}

class LauncherRunWindows : public ::testing::Test {
  protected:
    void SetUp() override {
        root = (fs::temp_directory_path() /
                ("thistlerun-run-" + std::to_string(GetCurrentProcessId())))
                   .string();
        dir = root + "\\install";
        fs::remove_all(root);
        fs::create_directories(dir + "\\options");
        for (const char *name : {"frontend.run", "game.run", "game2.run"})
            fs::copy_file(SCRIPTCHILD_PATH, dir + "\\" + name);
        // The installer's registry value: the installation directory.
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, installkey, 0, nullptr, 0, KEY_SET_VALUE,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        EXPECT_EQ(RegSetValueExA(key, "Path", 0, REG_SZ, (const BYTE *)dir.c_str(),
                                 (DWORD)dir.size() + 1),
                  ERROR_SUCCESS);
        RegCloseKey(key);
        // Kills whatever the launcher leaves running when the case ends.
        job = CreateJobObjectA(nullptr, nullptr);
        ASSERT_NE(job, nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        ASSERT_TRUE(SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits,
                                            sizeof limits));
    }
    void TearDown() override {
        if (launcher.hProcess) {
            TerminateProcess(launcher.hProcess, 1);
            CloseHandle(launcher.hProcess);
            CloseHandle(launcher.hThread);
        }
        TerminateJobObject(job, 1);
        CloseHandle(job);
        std::error_code ec;
        for (int i = 0; i < 50 && fs::exists(root); i++) {
            fs::remove_all(root, ec); // the children may still hold their files a moment
            Sleep(100);
        }
    }

    void script(std::initializer_list<std::string> lines) {
        std::ofstream out(dir + "\\script.txt", std::ios::binary);
        for (const std::string &line : lines)
            out << line << "\n";
    }
    std::string file(const std::string &name) const {
        std::ifstream in(dir + "\\" + name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::vector<Seen> children() const {
        std::vector<Seen> runs;
        std::ifstream in(dir + "\\children.log");
        for (std::string line; std::getline(in, line);) {
            std::istringstream words(line);
            runs.emplace_back();
            for (std::string word; words >> word;)
                runs.back()[word.substr(0, word.find('='))] = word.substr(word.find('=') + 1);
        }
        return runs;
    }
    Names names() const {
        Names out;
        for (Seen s : children())
            out.push_back(s["name"]);
        return out;
    }

    /* Starts thistlerun.exe in the root directory (outside the installation), in the job. */
    void start() {
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        std::string line = std::string("\"") + THISTLERUN_PATH + "\"";
        ASSERT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                                   nullptr, root.c_str(), &startup, &launcher))
            << GetLastError();
        ASSERT_TRUE(AssignProcessToJobObject(job, launcher.hProcess)) << GetLastError();
        ResumeThread(launcher.hThread);
        began = Clock::now();
    }
    /* Waits up to limit seconds for the launcher's end: its exit code, or STILL_ACTIVE. */
    DWORD wait(double limit) {
        auto left = began + std::chrono::duration<double>(limit) - Clock::now();
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(left).count();
        WaitForSingleObject(launcher.hProcess, ms > 0 ? (DWORD)ms : 0);
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(launcher.hProcess, &code);
        return code;
    }
    double seconds() const {
        return std::chrono::duration<double>(Clock::now() - began).count();
    }

    std::string root;
    std::string dir;
    HANDLE job = nullptr;
    PROCESS_INFORMATION launcher{};
    Clock::time_point began;
};

TEST_F(LauncherRunWindows, FrontEndAndGameAlternateUntilTheFrontEndQuits) {
    script({"quit=1", "quit=1 exit=3", "quit=0"});
    start();
    ASSERT_EQ(wait(60), 0u);
    std::vector<Seen> seen = children();
    ASSERT_EQ(names(), (Names{"frontend.run", "game.run", "frontend.run"}));
    // The front end gets the token and the launcher's process id; the installation
    // directory (from the registry) is current for every child.
    EXPECT_EQ(seen[0]["argv"], "frontend.run|QTX_BRAMBLE|" + std::to_string(launcher.dwProcessId));
    for (Seen &child : seen)
        EXPECT_EQ(child["cwd"], dir);
    EXPECT_EQ(seen[0]["ft"], "1"); // the first front end only
    EXPECT_EQ(seen[2]["ft"], "0");
    EXPECT_EQ(file("options\\menu.dat"), le32(2));
    // The game waited for the front end's poll: at least a second apart.
    EXPECT_GE(std::stoll(seen[1]["t"]) - std::stoll(seen[0]["t"]), 1000);
}

TEST_F(LauncherRunWindows, CrashesShowTheApplicationErrorBoxAndEndTheSession) {
    // The front end ends with the access violation code, the game by a real fault.
    for (bool game : {false, true}) {
        SCOPED_TRACE(game);
        fs::remove(dir + "\\children.log");
        if (game)
            script({"quit=1", "exit=segv"});
        else
            script({"quit=1 exit=0xC0000005"});
        start();
        HWND box = nullptr;
        while (!box && wait(0.1) == STILL_ACTIVE && seconds() < 30)
            box = findwindow(launcher.dwProcessId, "Application Error");
        ASSERT_NE(box, nullptr) << "no message box; the launcher "
                                << (wait(0) == STILL_ACTIVE ? "still runs" : "ended");
        char text[256] = "";
        GetDlgItemTextA(box, 0xFFFF, text, sizeof text); // a message box's text control
        EXPECT_STREQ(text, "Access Violation");
        // While the box is up the launcher waits for its answer.
        EXPECT_EQ(wait(1), (DWORD)STILL_ACTIVE);
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        EXPECT_EQ(wait(20), 0u);
        EXPECT_EQ(names().size(), game ? 2u : 1u);
        EXPECT_EQ(file("ft.dat"), le32(game ? 0 : 1));
        CloseHandle(launcher.hProcess);
        CloseHandle(launcher.hThread);
        launcher = PROCESS_INFORMATION{};
    }
}

TEST_F(LauncherRunWindows, SecondInstanceExitsAtOnceTouchingNothing) {
    HANDLE held = CreateMutexA(nullptr, FALSE, "ZRN");
    ASSERT_NE(held, nullptr);
    script({"quit=0"});
    start();
    EXPECT_EQ(wait(10), 0u);
    EXPECT_LT(seconds(), 1.9);
    EXPECT_TRUE(children().empty());
    EXPECT_FALSE(fs::exists(dir + "\\quit.dat"));
    EXPECT_FALSE(fs::exists(root + "\\quit.dat"));
    CloseHandle(held);
}

} // namespace
