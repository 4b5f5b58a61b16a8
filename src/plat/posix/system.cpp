/*
 * system.cpp - time, debugger and environment calls: GetTickCount,
 * OutputDebugStringA, DebugBreak, IsDebuggerPresent, GetCommandLineA, the
 * environment variables and plat_putenv.
 *
 * Debug output: THISTLE_DEBUGOUT set (any value) sends it to standard error;
 * otherwise it goes to standard error only while a debugger (a tracer) is attached,
 * which is where a debugger shows a program's output here; else it is dropped.
 * Threads and locks: the command line is built once (call_once); the environment is
 * the C library's, with its own lock for changes.
 */
#include "kernel.h"
#include "plat/stdlib.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace {

std::once_flag cmdlineonce;
std::string *cmdlinetext;

/* Joins the arguments with single spaces, argv[0] first. An argument that is empty
 * or holds blanks is put in double quotes, so splitting the text the C runtime's
 * way gives the arguments back (a Windows command line is written so). */
void buildcmdline() {
    std::string *s = new std::string;
    int fd = open("/proc/self/cmdline", O_RDONLY | O_CLOEXEC);
    std::string raw;
    if (fd >= 0) {
        char buf[4096];
        ssize_t n;
        while ((n = read(fd, buf, sizeof buf)) > 0) {
            raw.append(buf, (size_t)n);
        }
        close(fd);
    }
    size_t start = 0;
    while (start < raw.size()) {
        size_t end = raw.find('\0', start);
        if (end == std::string::npos) {
            end = raw.size();
        }
        std::string arg = raw.substr(start, end - start);
        if (!s->empty()) {
            *s += ' ';
        }
        if (arg.empty() || arg.find_first_of(" \t") != std::string::npos) {
            *s += '"' + arg + '"';
        } else {
            *s += arg;
        }
        start = end + 1;
    }
    cmdlinetext = s;
}

} // namespace

/* Milliseconds since the system started (CLOCK_BOOTTIME, suspended time included),
 * wrapping to 0 after 49.7 days as on Windows. */
DWORD WINAPI GetTickCount(void) {
    struct timespec ts;
    clock_gettime(CLOCK_BOOTTIME, &ts);
    uint64_t ms = (uint64_t)ts.tv_sec * 1000u + (uint64_t)ts.tv_nsec / 1000000u;
    return (DWORD)ms;
}

/* Whether a debugger is attached: the process has a tracer. */
BOOL WINAPI IsDebuggerPresent(void) {
    int fd = open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return FALSE;
    }
    char buf[4096];
    ssize_t n = read(fd, buf, sizeof buf - 1);
    close(fd);
    if (n <= 0) {
        return FALSE;
    }
    buf[n] = '\0';
    const char *p = strstr(buf, "\nTracerPid:");
    return p != nullptr && strtol(p + 11, nullptr, 10) != 0 ? TRUE : FALSE;
}

/* Writes the text unchanged (no newline added) to standard error when
 * THISTLE_DEBUGOUT is set or a debugger is attached; drops it otherwise. */
void WINAPI OutputDebugStringA(LPCSTR lpOutputString) {
    if (lpOutputString == nullptr) {
        return;
    }
    if (getenv("THISTLE_DEBUGOUT") == nullptr && !IsDebuggerPresent()) {
        return;
    }
    plat_writeall(STDERR_FILENO, lpOutputString, strlen(lpOutputString));
}

/* Breaks into the debugger (SIGTRAP). Without one the process ends as a Windows
 * program does on an unhandled breakpoint: exit code 0x80000003 (no core file). */
void WINAPI DebugBreak(void) {
    if (!IsDebuggerPresent()) {
        struct rlimit none = {0, 0};
        setrlimit(RLIMIT_CORE, &none);
        signal(SIGTRAP, SIG_DFL);
        sigset_t trap;
        sigemptyset(&trap);
        sigaddset(&trap, SIGTRAP);
        pthread_sigmask(SIG_UNBLOCK, &trap, nullptr);
    }
    raise(SIGTRAP);
}

/* The process's command line: its arguments, program first (see buildcmdline). The
 * text belongs to the layer and lives as long as the process. */
LPSTR WINAPI GetCommandLineA(void) {
    std::call_once(cmdlineonce, buildcmdline);
    return cmdlinetext->data();
}

/* Copies the variable's value into lpBuffer. Returns its length without the NUL; when
 * nSize is too small, the size needed with the NUL (buffer untouched); 0 with
 * ERROR_ENVVAR_NOT_FOUND when it is not set. */
DWORD WINAPI GetEnvironmentVariableA(LPCSTR lpName, LPSTR lpBuffer, DWORD nSize) {
    const char *v = lpName != nullptr ? getenv(lpName) : nullptr;
    if (v == nullptr) {
        SetLastError(ERROR_ENVVAR_NOT_FOUND);
        return 0;
    }
    size_t len = strlen(v);
    if (lpBuffer == nullptr || len + 1 > nSize) {
        return (DWORD)(len + 1);
    }
    memcpy(lpBuffer, v, len + 1);
    return (DWORD)len;
}

/* Sets the variable (for this process and the children it starts); a null value
 * removes it. FALSE with ERROR_INVALID_PARAMETER for an empty name or one with '='. */
BOOL WINAPI SetEnvironmentVariableA(LPCSTR lpName, LPCSTR lpValue) {
    if (lpName == nullptr || lpName[0] == '\0' || strchr(lpName, '=') != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    int rc = lpValue == nullptr ? unsetenv(lpName) : setenv(lpName, lpValue, 1);
    if (rc != 0) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    return TRUE;
}

/* "NAME=value" sets the entry (the text is copied), "NAME=" removes it. -1 for a
 * text without '=' or with an empty name, else 0. */
int plat_putenv(const char *entry) {
    const char *eq = entry != nullptr ? strchr(entry, '=') : nullptr;
    if (eq == nullptr || eq == entry) {
        return -1;
    }
    std::string name(entry, (size_t)(eq - entry));
    int rc = eq[1] == '\0' ? unsetenv(name.c_str()) : setenv(name.c_str(), eq + 1, 1);
    return rc == 0 ? 0 : -1;
}
