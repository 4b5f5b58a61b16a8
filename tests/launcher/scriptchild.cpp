// scriptchild: the stand-in front end and game of the launcher's end-to-end tests.
//
// Copied into a test installation as "frontend.run", "game.run" and "game2.run". Each
// run takes the next line of "script.txt" beside its executable (run n takes line n,
// counted by the lines already in "children.log"), appends what it saw to
// "children.log", does what the line says and exits.
//
// Script line: space-separated key=value words, done in this order:
//   sfx=N      rewrite line 10 of options/options.txt with N (as the front end does)
//   mp=N       write N into options/mp.dat
//   patch=N    write N into options/patch.dat
//   quit=N     write N into quit.dat
//   exit=X     end: a number (decimal or 0x hex) through ExitProcess, "still" for 259,
//              "segv" or "fpe" to die by that signal (on Windows: by a real access
//              violation or a real integer division by zero); default 0
// A run without a script line writes quit.dat 0 and exits 0, so a runaway launcher ends.
//
// Log line: name=<program> cwd=<dir> ft=<ft.dat> quit=<quit.dat> sfxdat=<options/sfx.dat>
// t=<monotonic ms> argv=<arguments joined by '|'>; a missing file shows as "none".
#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>
#endif

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "plat/win32.h"

namespace {

/* A control file's 32-bit value, or "none". */
std::string readvalue(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return "none";
    unsigned char b[4] = {0, 0, 0, 0};
    in.read((char *)b, 4);
    return std::to_string((int32_t)(b[0] | b[1] << 8 | b[2] << 16 | (uint32_t)b[3] << 24));
}

void writevalue(const std::string &path, long value) {
    uint32_t v = (uint32_t)value;
    const char b[4] = {(char)v, (char)(v >> 8), (char)(v >> 16), (char)(v >> 24)};
    std::ofstream(path, std::ios::binary).write(b, 4);
}

void setsfxline(const std::string &path, const std::string &value) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    in.close();
    if (lines.size() < 10)
        return;
    lines[9] = value;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (const std::string &line : lines)
        out << line << "\n";
}

#ifdef _WIN32
constexpr char separator = '\\';

/* The faults themselves. The top-level filter has the system end the process with the
 * exception's code at once: no debugger, no fault box (the launcher's own message is
 * what the tests look for). */
volatile int *volatile nowhere = nullptr;
volatile int zero = 0;
LONG WINAPI endprocess(EXCEPTION_POINTERS *) {
    return EXCEPTION_EXECUTE_HANDLER;
}
[[noreturn]] void segv() {
    SetUnhandledExceptionFilter(endprocess);
    *nowhere = 1;
    ExitProcess(1);
}
[[noreturn]] void fpe() {
    SetUnhandledExceptionFilter(endprocess);
    zero = 1 / zero;
    ExitProcess(1);
}
#else
constexpr char separator = '/';

[[noreturn]] void diebysignal(int sig) {
    rlimit nocore = {0, 0};
    setrlimit(RLIMIT_CORE, &nocore);
    signal(sig, SIG_DFL);
    raise(sig);
    _exit(1);
}
[[noreturn]] void segv() {
    diebysignal(SIGSEGV);
}
[[noreturn]] void fpe() {
    diebysignal(SIGFPE);
}
#endif

} // namespace

int main(int argc, char **argv) {
    char exe[4096];
#ifdef _WIN32
    DWORD len = GetModuleFileNameA(nullptr, exe, sizeof exe);
    if (len == 0 || len >= sizeof exe)
        return 120;
#else
    ssize_t len = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (len <= 0)
        return 120;
    exe[len] = '\0';
#endif
    std::string path(exe);
    std::string dir = path.substr(0, path.rfind(separator));
    std::string name = path.substr(path.rfind(separator) + 1);

    std::string logpath = dir + "/children.log";
    size_t run = 0;
    std::string script = "quit=0", line;
    for (std::ifstream log(logpath); std::getline(log, line);)
        run++;
    std::ifstream in(dir + "/script.txt");
    for (size_t i = 0; i <= run && std::getline(in, line); i++)
        if (i == run)
            script = line;

    char cwd[4096];
#ifdef _WIN32
    DWORD cwdlen = GetCurrentDirectoryA(sizeof cwd, cwd);
    if (cwdlen == 0 || cwdlen >= sizeof cwd)
        strcpy(cwd, "?");
    long long ms = (long long)GetTickCount64();
#else
    if (!getcwd(cwd, sizeof cwd))
        strcpy(cwd, "?");
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    long long ms = (long long)now.tv_sec * 1000 + now.tv_nsec / 1000000;
#endif
    std::string args;
    for (int i = 0; i < argc; i++)
        args += (i ? "|" : "") + std::string(argv[i]);
    {
        std::ofstream log(logpath, std::ios::app);
        log << "name=" << name << " cwd=" << cwd << " ft=" << readvalue(dir + "/ft.dat")
            << " quit=" << readvalue(dir + "/quit.dat")
            << " sfxdat=" << readvalue(dir + "/options/sfx.dat") << " t=" << ms << " argv=" << args
            << "\n";
    }

    std::string exitword = "0";
    std::istringstream words(script);
    for (std::string word; words >> word;) {
        size_t eq = word.find('=');
        if (eq == std::string::npos)
            continue;
        std::string key = word.substr(0, eq);
        std::string value = word.substr(eq + 1);
        if (key == "sfx")
            setsfxline(dir + "/options/options.txt", value);
        else if (key == "mp")
            writevalue(dir + "/options/mp.dat", strtol(value.c_str(), nullptr, 0));
        else if (key == "patch")
            writevalue(dir + "/options/patch.dat", strtol(value.c_str(), nullptr, 0));
        else if (key == "quit")
            writevalue(dir + "/quit.dat", strtol(value.c_str(), nullptr, 0));
        else if (key == "exit")
            exitword = value;
    }

    if (exitword == "segv")
        segv();
    if (exitword == "fpe")
        fpe();
    if (exitword == "still")
        ExitProcess(STILL_ACTIVE);
    ExitProcess((UINT)strtoul(exitword.c_str(), nullptr, 0));
}
