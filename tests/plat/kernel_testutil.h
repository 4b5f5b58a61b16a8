/*
 * kernel_testutil.h - helpers shared by the kernel suites: a scratch directory that
 * is the current directory for the test, child starts and waits, small files.
 */
#ifndef TESTS_PLAT_KERNEL_TESTUTIL_H
#define TESTS_PLAT_KERNEL_TESTUTIL_H

#include "plat/win32.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>

namespace kt {

inline std::string readfile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline void writefile(const std::string &path, const std::string &text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

/* A path with '/' separators as the system writes it back (GetCurrentDirectory...). */
inline std::string native(std::string path) {
#ifdef _WIN32
    for (char &c : path)
        c = c == '/' ? '\\' : c;
#endif
    return path;
}

inline bool exists(const std::string &path) {
    return access(path.c_str(), F_OK) == 0;
}

/* Starts a program: by path (program, null line) or by command line, in cwd. */
inline BOOL start(const char *program, std::string line, const char *cwd, PROCESS_INFORMATION *pi) {
    STARTUPINFOA si{};
    si.cb = sizeof si;
    *pi = PROCESS_INFORMATION{};
    return CreateProcessA(program, program != nullptr ? nullptr : line.data(), nullptr, nullptr,
                          FALSE, 0, nullptr, cwd, &si, pi);
}

#ifdef PLATCHILD_PATH
/* Starts PLATCHILD_PATH with the given arguments by command line. */
inline BOOL startchild(const std::string &args, PROCESS_INFORMATION *pi) {
    return start(nullptr, std::string("\"") + PLATCHILD_PATH + "\" " + args, nullptr, pi);
}
#endif

/* Polls until the exit code is no longer STILL_ACTIVE; STILL_ACTIVE on timeout. */
inline DWORD waitexit(HANDLE h, int timeoutms = 10000) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutms);
    DWORD code = STILL_ACTIVE;
    while (GetExitCodeProcess(h, &code) && code == (DWORD)STILL_ACTIVE &&
           std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return code;
}

inline void closeinfo(PROCESS_INFORMATION *pi) {
    CloseHandle(pi->hProcess);
    CloseHandle(pi->hThread);
}

/* Runs a program as start() does to its end; its exit code, or ~0 when it could not
 * start. */
inline DWORD run(const char *program, const std::string &line, const char *cwd = nullptr) {
    PROCESS_INFORMATION pi;
    if (!start(program, line, cwd, &pi)) {
        return ~(DWORD)0;
    }
    DWORD code = waitexit(pi.hProcess);
    closeinfo(&pi);
    return code;
}

#ifdef PLATCHILD_PATH
/* Runs the child with the given arguments to its end, as run() does. */
inline DWORD runchild(const std::string &args) {
    return run(nullptr, std::string("\"") + PLATCHILD_PATH + "\" " + args);
}
#endif

/* Waits until path exists; false on timeout. */
inline bool waitfile(const std::string &path, int timeoutms = 10000) {
    for (int t = 0; t < timeoutms && !exists(path); t += 2) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return exists(path);
}

/* A fresh directory, current for the test, removed afterwards. */
class ScratchDir : public ::testing::Test {
  protected:
    void SetUp() override {
#ifdef _WIN32
        dir = (std::filesystem::temp_directory_path() /
               ("thistle-kernel-" + std::to_string(GetCurrentProcessId())))
                  .string();
        ASSERT_TRUE(std::filesystem::create_directory(dir));
        for (char &c : dir) // as the tests write paths; the calls take both
            c = c == '\\' ? '/' : c;
#else
        char tmpl[] = "/tmp/thistle-kernel-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
#endif
        char buf[4096];
        ASSERT_NE(getcwd(buf, sizeof buf), nullptr);
        oldcwd = buf;
        ASSERT_EQ(chdir(dir.c_str()), 0);
    }
    void TearDown() override {
        EXPECT_EQ(chdir(oldcwd.c_str()), 0);
        std::error_code ec;
        std::filesystem::permissions(dir, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(dir, ec);
    }
    std::string dir;
    std::string oldcwd;
};

} // namespace kt

#endif
