/*
 * kernel_process_test.cpp - child processes, exit codes, program search, threads
 * and handles of the POSIX kernel side.
 */
#include "kernel_testutil.h"

#include <cerrno>
#include <csignal>
#include <vector>
#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#endif

/* On Windows the cases about exit paths, command lines and handles run against the system;
 * the ones that look at POSIX processes (/proc, zombies, signals, scripts) do not. */
using KernelProcess = kt::ScratchDir;

#ifndef _WIN32
namespace {

/* State letter of a process from /proc (Z: zombie), or 0 when it is gone. */
char procstate(DWORD pid) {
    std::string stat = kt::readfile("/proc/" + std::to_string(pid) + "/stat");
    size_t close = stat.rfind(')');
    return close == std::string::npos || close + 2 >= stat.size() ? 0 : stat[close + 2];
}

void writescript(const std::string &path, const std::string &body) {
    kt::writefile(path, "#!/bin/sh\n" + body + "\n");
    chmod(path.c_str(), 0755);
}

std::string exedir() {
    std::string s = std::filesystem::read_symlink("/proc/self/exe");
    return s.substr(0, s.rfind('/'));
}

/* No child of ours exists, running or zombie. */
bool nochildren() {
    return waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD;
}

} // namespace

/* (SEGV, FPE and 0xFFFFFFFF: the launcher's end-to-end runs.) */
TEST(KernelExitCode, EndsMapToWindowsCodes) {
    static const struct {
        const char *args;
        DWORD code;
    } cases[] = {
        {"return 3", 3},
        {"exit 0xC0000094", STATUS_INTEGER_DIVIDE_BY_ZERO},
        {"signal BUS", STATUS_ACCESS_VIOLATION},
        {"signal ILL", STATUS_ILLEGAL_INSTRUCTION},
        {"signal INT", STATUS_CONTROL_C_EXIT},
        {"signal ABRT", 3},
        {"signal KILL", 128 + SIGKILL},
        {"debugbreak", 0x80000003u}, /* no debugger: ends with the breakpoint code */
    };
    /* A parent can hand SIGCHLD on ignored; the codes must come through all the same. */
    for (auto disposition : {SIG_DFL, SIG_IGN}) {
        signal(SIGCHLD, disposition);
        for (const auto &c : cases) {
            EXPECT_EQ(kt::runchild(c.args), c.code)
                << c.args << (disposition == SIG_IGN ? " (SIGCHLD ignored)" : "");
        }
    }
    signal(SIGCHLD, SIG_DFL);
}
#endif

TEST_F(KernelProcess, ExitPathsAsOnWindows) {
    /* ExitProcess, from any thread: the code arrives whole, atexit functions do not run. */
    EXPECT_EQ(kt::runchild("atexit " + dir + "/ran 0xC0000005"), STATUS_ACCESS_VIOLATION);
    EXPECT_EQ(kt::runchild("threadexit " + dir + "/ran 0x1234567"), 0x1234567u);
    EXPECT_FALSE(kt::exists(dir + "/ran"));
    /* Returning from WinMain takes the normal exit path: atexit functions, stdio flushed. */
    EXPECT_EQ(kt::run(nullptr, std::string("\"") + WINMAINCHILD_PATH + "\" atexit " + dir +
                                   "/ran 0x1234505"),
              0x1234505u);
    EXPECT_TRUE(kt::exists(dir + "/ran"));
    EXPECT_EQ(kt::readfile(dir + "/ran.out"), "buffered") << "stdio was not flushed";
#ifndef _WIN32
    /* A grandchild (ExitProcess 0x107) cannot answer for its parent (exit(7)). */
    EXPECT_EQ(kt::runchild("grandchild 0x107"), 7u);
#endif
}

#ifndef _WIN32
TEST(KernelExitCode, CodeOf259ReadsAsStillActiveAfterTheEnd) {
    PROCESS_INFORMATION pi;
    ASSERT_TRUE(kt::startchild("exit 259", &pi));
    DWORD code = 0;
    for (int i = 0; i < 5000 && procstate(pi.dwProcessId) != 0; i++) {
        ASSERT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
        EXPECT_EQ(code, (DWORD)STILL_ACTIVE);
        usleep(2000);
    }
    EXPECT_EQ(procstate(pi.dwProcessId), 0) << "reaped while reporting 259";
    ASSERT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
    EXPECT_EQ(code, (DWORD)STILL_ACTIVE);
    kt::closeinfo(&pi);
}

TEST_F(KernelProcess, SearchOrderIsExeDirThenCwdThenPath) {
    std::string name = "kt_search_" + std::to_string(getpid()) + ".run";
    ASSERT_EQ(mkdir((dir + "/bin").c_str(), 0755), 0);
    const std::string places[] = {exedir() + "/" + name, dir + "/" + name, dir + "/bin/" + name};
    for (int i = 0; i < 3; i++) {
        writescript(places[i], "exit " + std::to_string(11 + i));
    }
    std::string oldpath = getenv("PATH") != nullptr ? getenv("PATH") : "";
    setenv("PATH", (dir + "/bin:" + oldpath).c_str(), 1);
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(kt::run(nullptr, name + " a b"), 11u + (DWORD)i);
        unlink(places[i].c_str());
    }
    PROCESS_INFORMATION pi{};
    EXPECT_FALSE(kt::start(nullptr, name, nullptr, &pi));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
    setenv("PATH", oldpath.c_str(), 1);
}

#endif

TEST_F(KernelProcess, CommandLineGivesArgumentsAndInheritsCwd) {
    /* The helper lives beside the test program: found by the exe-directory rule. The
     * child's own command line is its arguments again, program first. */
    const char line[] = "platchild args out.txt QTX_BRAMBLE \"two words\" 42";
    ASSERT_EQ(kt::run(nullptr, line), 0u);
    EXPECT_EQ(kt::readfile("out.txt"),
              kt::native(dir) + "\nplatchild\nargs\nout.txt\nQTX_BRAMBLE\ntwo words\n42\n" + line);
}

#ifndef _WIN32
TEST_F(KernelProcess, ProgramPathIsResolvedBeforeChangingDirectory) {
    std::filesystem::create_directories(dir + "/sub");
    std::filesystem::create_directories(dir + "/work/dir");
    writescript(dir + "/sub/prog.run", "pwd > cwd.txt\necho \"$0\" >> cwd.txt\nexit 5");

    EXPECT_EQ(kt::run("sub\\prog.run", "", "work\\dir\\"), 5u);
    EXPECT_EQ(kt::readfile(dir + "/work/dir/cwd.txt"),
              dir + "/work/dir\n" + dir + "/sub/prog.run\n");

    /* An empty directory text runs the child where the caller is. */
    EXPECT_EQ(kt::run("sub\\prog.run", "", ""), 5u);
    EXPECT_TRUE(kt::exists(dir + "/cwd.txt"));
}

TEST_F(KernelProcess, UnstartableProgramsFailAndStartNothing) {
    writescript(dir + "/plain.run", "exit 0");
    chmod((dir + "/plain.run").c_str(), 0644);
    writescript(dir + "/ok.run", "exit 0");
    std::filesystem::create_directories(dir + "/adir");
    static const struct {
        const char *program; /* by path; null: by command line */
        const char *line;
        const char *cwd;
        DWORD error;
    } cases[] = {
        {nullptr, "kt_no_such_program_anywhere.run", nullptr, ERROR_FILE_NOT_FOUND},
        {"missing.run", nullptr, nullptr, ERROR_FILE_NOT_FOUND},
        {"plain.run", nullptr, nullptr, ERROR_ACCESS_DENIED},
        {"adir", nullptr, nullptr, ERROR_ACCESS_DENIED},
        {"ok.run", nullptr, "no\\such\\dir", ERROR_DIRECTORY},
        {nullptr, "   ", nullptr, ERROR_INVALID_PARAMETER},
    };
    for (const auto &c : cases) {
        PROCESS_INFORMATION pi{};
        EXPECT_FALSE(kt::start(c.program, c.line ? c.line : "", c.cwd, &pi))
            << (c.program ? c.program : c.line);
        EXPECT_EQ(GetLastError(), c.error) << (c.program ? c.program : c.line);
        EXPECT_EQ(pi.hProcess, nullptr);
    }
    EXPECT_TRUE(nochildren());
}

TEST_F(KernelProcess, ClosedHandlesLeaveNoZombies) {
    /* Ended before the close: reaped by the close. */
    PROCESS_INFORMATION pi;
    ASSERT_TRUE(kt::startchild("return 0", &pi));
    for (int i = 0; i < 5000 && procstate(pi.dwProcessId) != 'Z'; i++) {
        usleep(1000);
    }
    ASSERT_EQ(procstate(pi.dwProcessId), 'Z');
    kt::closeinfo(&pi);
    EXPECT_EQ(procstate(pi.dwProcessId), 0);

    /* Still running at the close: runs to its end, then is reaped. */
    ASSERT_TRUE(kt::startchild("sleep 300 " + dir + "/done", &pi));
    kt::closeinfo(&pi);
    EXPECT_NE(procstate(pi.dwProcessId), 0);
    EXPECT_NE(procstate(pi.dwProcessId), 'Z');
    for (int i = 0; i < 5000 && procstate(pi.dwProcessId) != 0; i++) {
        usleep(1000);
    }
    EXPECT_EQ(procstate(pi.dwProcessId), 0);
    EXPECT_TRUE(kt::exists(dir + "/done")) << "the child was cut short";
    EXPECT_TRUE(nochildren());
}

#endif

TEST(KernelHandle, ClosedAndWrongKindHandlesAreRefused) {
    PROCESS_INFORMATION pi;
    ASSERT_TRUE(kt::startchild("return 0", &pi));
    DWORD code;
    EXPECT_FALSE(GetExitCodeProcess(pi.hThread, &code));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
    EXPECT_EQ(kt::waitexit(pi.hProcess), 0u);
    kt::closeinfo(&pi);
#ifndef _WIN32
    /* Not even once a new object reuses the slot. (Windows gives closed handles' values to
     * new handles.) */
    HANDLE m = CreateMutexA(nullptr, FALSE, nullptr);
    for (HANDLE h : {pi.hProcess, pi.hThread, (HANDLE) nullptr, INVALID_HANDLE_VALUE}) {
        EXPECT_FALSE(GetExitCodeProcess(h, &code)) << h;
        EXPECT_FALSE(CloseHandle(h)) << h;
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
    }
    EXPECT_TRUE(CloseHandle(m));
#endif
}

TEST_F(KernelProcess, ThreadsStartChildrenAtOnceWithoutMixingThem) {
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++) {
        threads.emplace_back([t, &failures] {
            for (int i = 0; i < 3; i++) {
                DWORD want = 0xA0000000u | (DWORD)t << 8 | (DWORD)i;
                char args[32];
                snprintf(args, sizeof args, "exit 0x%X", (unsigned)want);
                failures += kt::runchild(args) != want;
            }
        });
    }
    for (std::thread &thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures.load(), 0);
#ifndef _WIN32
    EXPECT_TRUE(nochildren());
#endif
}
