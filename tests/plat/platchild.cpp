/*
 * platchild.cpp - the child program of the kernel suites.
 *
 * Runs on the platform layer and does one thing, chosen by its arguments:
 *   return N             exit status N from main
 *   exit N               ExitProcess(N) (N in any C base, e.g. 0xC0000094)
 *   atexit FILE N        register a handler that creates FILE, then ExitProcess(N)
 *   threadexit FILE N    register that handler, then ExitProcess(N) on a second thread
 *   debugbreak           DebugBreak()
 *   getenv NAME FILE     write the variable's value (or "<unset>") to FILE
 *   serve NAME FILE [no] own mutex NAME, answer requests (unless "no"), create FILE,
 *                        sleep 30 s
 *   signal NAME          die by a signal (SEGV BUS FPE ILL INT KILL ABRT)
 *   args FILE ...        write cwd, argv and GetCommandLineA() to FILE, one per line
 *   sleep MS [FILE]      sleep, then create FILE
 *   mutex NAME           CreateMutexA(NAME): exit code is its last error
 *   regwrite PREFIX N    create keys HKLM\PREFIX0..N-1 each with "Value"="<i>"
 *   grandchild N         run "platchild exit N" without this layer, then exit(N & 0xff)
 * Sanitizer handlers are put back to the default before a deliberate crash.
 * On Windows (the system's own calls) serve's answers, signal and grandchild
 * are left out: they test what our POSIX layer adds.
 */
#include "plat/win32.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#ifndef _WIN32
#include "plat/testhooks.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;
#endif

namespace {

const char *atexitfile;

void writetext(const char *path, const char *text = "") {
    FILE *f = ::fopen(path, "w");
    if (f != nullptr) {
        fputs(text, f);
        fclose(f);
    }
}

void onexit() {
    writetext(atexitfile);
}

#ifndef _WIN32
[[noreturn]] void die(int sig) {
    signal(sig, SIG_DFL);
    raise(sig);
    _exit(100);
}
#endif

DWORD WINAPI exitonthread(LPVOID arg) {
    ExitProcess((UINT)(uintptr_t)arg);
}

#ifndef _WIN32
/* Answers "pong:<request>:<pid>". */
int answer(const char *request, char *reply, size_t replysize) {
    snprintf(reply, replysize, "pong:%s:%lu", request, (unsigned long)GetCurrentProcessId());
    return 1;
}

int signum(const char *name) {
    for (int sig = 1; sig < NSIG; sig++) {
        if (sigabbrev_np(sig) != nullptr && strcmp(sigabbrev_np(sig), name) == 0) {
            return sig;
        }
    }
    return SIGTERM;
}
#endif

int regwrite(const char *prefix, int count) {
    for (int i = 0; i < count; i++) {
        char key[256];
        char value[16];
        snprintf(key, sizeof key, "%s%d", prefix, i);
        snprintf(value, sizeof value, "%d", i);
        HKEY h;
        LSTATUS rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_ALL_ACCESS,
                                     nullptr, &h, nullptr);
        if (rc == ERROR_SUCCESS) {
            rc = RegSetValueExA(h, "Value", 0, REG_SZ, (const BYTE *)value,
                                (DWORD)strlen(value) + 1);
            RegCloseKey(h);
        }
        if (rc != ERROR_SUCCESS) {
            return (int)rc;
        }
    }
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    std::string mode = argc > 1 ? argv[1] : "";
    const char *a2 = argc > 2 ? argv[2] : "0";
    const char *a3 = argc > 3 ? argv[3] : nullptr;
    if (mode == "return") {
        return (int)strtol(a2, nullptr, 0);
    }
    if (mode == "exit") {
        ExitProcess((UINT)strtoul(a2, nullptr, 0));
    }
    if (mode == "atexit" && a3 != nullptr) {
        atexitfile = a2;
        atexit(onexit);
        ExitProcess((UINT)strtoul(a3, nullptr, 0));
    }
    if (mode == "threadexit" && a3 != nullptr) {
        atexitfile = a2;
        atexit(onexit);
        uintptr_t code = strtoul(a3, nullptr, 0);
        HANDLE h = CreateThread(nullptr, 0, exitonthread, (LPVOID)code, 0, nullptr);
        if (h == nullptr) {
            return 1;
        }
        Sleep(INFINITE);
    }
    if (mode == "debugbreak") {
        DebugBreak();
        return 0;
    }
    if (mode == "getenv" && a3 != nullptr) {
        const char *v = getenv(a2);
        writetext(a3, v != nullptr ? v : "<unset>");
        return 0;
    }
    if (mode == "serve" && a3 != nullptr) {
#ifndef _WIN32
        if (!(argc > 4 && strcmp(argv[4], "no") == 0)) {
            plat_setrequesthandler(answer);
        }
#endif
        HANDLE h = CreateMutexA(nullptr, TRUE, a2);
        if (h == nullptr || GetLastError() != 0) {
            return 1;
        }
        writetext(a3);
        Sleep(30000);
        return 0;
    }
#ifndef _WIN32
    if (mode == "signal") {
        die(signum(a2));
    }
#endif
    if (mode == "args") {
        FILE *f = ::fopen(a2, "wb"); /* the lines end in LF on Windows too */
        char cwd[4096];
        if (f == nullptr || GetCurrentDirectoryA(sizeof cwd, cwd) == 0) {
            return 1;
        }
        fprintf(f, "%s\n", cwd);
        for (int i = 0; i < argc; i++) {
            fprintf(f, "%s\n", argv[i]);
        }
        fputs(GetCommandLineA(), f);
        fclose(f);
        return 0;
    }
    if (mode == "sleep") {
        Sleep((DWORD)strtoul(a2, nullptr, 0));
        if (a3 != nullptr) {
            writetext(a3);
        }
        return 0;
    }
    if (mode == "mutex") {
        HANDLE h = CreateMutexA(nullptr, FALSE, a2);
        ExitProcess(h != nullptr ? GetLastError() : 1000 + GetLastError());
    }
    if (mode == "regwrite" && a3 != nullptr) {
        ExitProcess((UINT)regwrite(a2, atoi(a3)));
    }
#ifndef _WIN32
    if (mode == "grandchild") {
        /* Started directly, as a program not on this layer would start it. */
        char exitarg[] = "exit";
        char *args[] = {argv[0], exitarg, argv[2], nullptr};
        pid_t pid;
        if (posix_spawn(&pid, "/proc/self/exe", nullptr, nullptr, args, environ) != 0) {
            return 1;
        }
        int status;
        waitpid(pid, &status, 0);
        exit((int)(strtoul(a2, nullptr, 0) & 0xff));
    }
#endif
    return 99;
}
