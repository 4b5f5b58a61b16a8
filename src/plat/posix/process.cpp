/*
 * process.cpp - child processes and the process's own end: CreateProcessA,
 * GetExitCodeProcess, ExitProcess, GetCurrentProcessId.
 *
 * Children are started with posix_spawn. Each child gets one end of a socket pair,
 * named in its environment as THISTLE_EXITCODE_FD=<fd>:<parent pid>; a child that
 * runs on this layer takes it over at start-up (and removes the variable, so its
 * own children never see it), and ExitProcess sends the full 32-bit exit code there
 * before the process ends at once (_exit) with the low 8 bits: as on Windows, the
 * program's atexit functions do not run, but the standard streams are flushed first,
 * as the system's C runtime does when the process goes. main() of
 * thistleplatmain reports its code the same way and then returns it, so the normal
 * exit path (atexit functions, stdio flushing) runs there. The parent reads the four bytes
 * once it has reaped the child and uses them when they agree with the exit status.
 * A death by signal becomes the exception code a Windows program would end with.
 *
 * Threads and locks: a process object's state (reaped, exit code, socket) changes
 * under kernlock; waits on a process handle poll it (kprocesstype.pollms). A process handle closed
 * while its child still runs hands the child to a small detached reaper thread, which waits for it
 * (the child is never killed, and never left a zombie).
 */
#include "kernel.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

const char EXITCODE_VAR[] = "THISTLE_EXITCODE_FD";

struct kprocess {
    kobject hdr;
    pid_t pid;
    int exitfd;     /* our end of the exit-code socket; -1 once reaped */
    bool reaped;    /* guarded by kernlock */
    DWORD exitcode; /* guarded by kernlock */
};

/* Signal deaths and the exception codes they stand for. SIGABRT is what abort()
 * raises; the Windows runtime's abort() ends the process with 3. Other signals
 * (SIGKILL, SIGTERM, ...) give 128 + the signal number, as a shell shows them: an
 * ordinary non-zero code, not a crash. */
struct sigcode {
    int sig;
    DWORD code;
};
const sigcode sigcodes[] = {
    {SIGSEGV, STATUS_ACCESS_VIOLATION},
    {SIGBUS, STATUS_ACCESS_VIOLATION},
    {SIGFPE, STATUS_INTEGER_DIVIDE_BY_ZERO},
    {SIGILL, STATUS_ILLEGAL_INSTRUCTION},
    {SIGINT, STATUS_CONTROL_C_EXIT},
    {SIGTRAP, 0x80000003u}, /* STATUS_BREAKPOINT */
    {SIGABRT, 3},
};

/* This process's end of its parent's exit-code socket, or -1. */
std::atomic<int> ownexitfd{-1};

/* Takes over the exit-code socket named by the parent, before main() runs. The
 * parent pid in the variable keeps a grandchild that inherited the variable through
 * a program not on this layer from answering for its parent. */
__attribute__((constructor)) void takeexitfd() {
    const char *v = getenv(EXITCODE_VAR);
    if (v == nullptr) {
        return;
    }
    int fd = -1;
    long ppid = -1;
    int ok = sscanf(v, "%d:%ld", &fd, &ppid) == 2;
    unsetenv(EXITCODE_VAR);
    struct stat st;
    if (!ok || fd < 0 || ppid != (long)getppid() || fstat(fd, &st) != 0 || !S_ISSOCK(st.st_mode)) {
        return;
    }
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    ownexitfd.store(fd);
}

DWORD codefromstatus(int status, const unsigned char *sent, size_t got) {
    if (WIFEXITED(status)) {
        DWORD low = (DWORD)WEXITSTATUS(status);
        if (got == 4) {
            DWORD full;
            memcpy(&full, sent, 4);
            if ((full & 0xff) == low) {
                return full;
            }
        }
        return low;
    }
    if (WIFSIGNALED(status)) {
        int sig = WTERMSIG(status);
        for (const sigcode &s : sigcodes) {
            if (s.sig == sig) {
                return s.code;
            }
        }
        return 128u + (DWORD)sig;
    }
    return 0;
}

/* Reads what the child sent on its exit-code socket: 0 or 4 bytes. */
size_t readsent(int fd, unsigned char *buf) {
    size_t got = 0;
    while (got < 4) {
        ssize_t n = recv(fd, buf + got, 4 - got, MSG_DONTWAIT);
        if (n > 0) {
            got += (size_t)n;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            break;
        }
    }
    return got;
}

/* Checks once, without blocking, whether the child has ended; records its code.
 * Called with kernlock held. */
void pollprocess(kprocess *p) {
    if (p->reaped) {
        return;
    }
    int status = 0;
    pid_t r;
    do {
        r = waitpid(p->pid, &status, WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r == 0) {
        return;
    }
    unsigned char sent[4];
    size_t got = readsent(p->exitfd, sent);
    if (r == p->pid) {
        p->exitcode = codefromstatus(status, sent, got);
    } else {
        /* Reaped by someone else (a waitpid(-1) of the program's own, or SIGCHLD
         * ignored after the start): only what the child sent itself is known. */
        uint32_t full = 0;
        if (got == 4) {
            memcpy(&full, sent, 4);
        }
        p->exitcode = full;
    }
    close(p->exitfd);
    p->exitfd = -1;
    p->reaped = true;
    kernwake().notify_all();
}

struct orphan {
    pid_t pid;
    int fd;
};

void *reapermain(void *arg) {
    orphan o = *static_cast<orphan *>(arg);
    delete static_cast<orphan *>(arg);
    while (waitpid(o.pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    close(o.fd);
    return nullptr;
}

bool processsignalled(kobject *obj, DWORD tid) {
    (void)tid;
    kprocess *p = reinterpret_cast<kprocess *>(obj);
    pollprocess(p);
    return p->reaped;
}

void processdestroy(kobject *obj) {
    kprocess *p = reinterpret_cast<kprocess *>(obj);
    bool running;
    {
        std::lock_guard<std::mutex> lock(kernlock());
        pollprocess(p);
        running = !p->reaped;
    }
    if (running) {
        orphan *o = new (std::nothrow) orphan{p->pid, p->exitfd};
        pthread_t th;
        pthread_attr_t attr;
        pthread_attr_init(&attr);
        pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
        pthread_attr_setstacksize(&attr, 64 * 1024);
        if (o == nullptr || pthread_create(&th, &attr, reapermain, o) != 0) {
            /* Out of resources: the child becomes a zombie until we exit. */
            delete o;
            close(p->exitfd);
        }
        pthread_attr_destroy(&attr);
    }
    delete p;
}

/* Splits a command line the way the Windows C runtime does: blanks separate words,
 * double quotes group, 2n backslashes before a quote give n backslashes and the
 * quote groups, 2n+1 give n backslashes and a literal quote. The first word (the
 * program) knows quotes only, no escapes. */
std::vector<std::string> splitcmdline(const char *cmd) {
    std::vector<std::string> args;
    const char *s = cmd;
    while (*s == ' ' || *s == '\t') {
        s++;
    }
    if (*s == '\0') {
        return args;
    }
    std::string word;
    if (*s == '"') {
        s++;
        while (*s != '\0' && *s != '"') {
            word += *s++;
        }
        if (*s == '"') {
            s++;
        }
    } else {
        while (*s != '\0' && *s != ' ' && *s != '\t') {
            word += *s++;
        }
    }
    args.push_back(word);
    for (;;) {
        while (*s == ' ' || *s == '\t') {
            s++;
        }
        if (*s == '\0') {
            break;
        }
        word.clear();
        bool quoted = false;
        while (*s != '\0' && (quoted || (*s != ' ' && *s != '\t'))) {
            if (*s == '\\') {
                size_t n = 0;
                while (*s == '\\') {
                    n++;
                    s++;
                }
                if (*s == '"') {
                    word.append(n / 2, '\\');
                    if (n % 2 == 1) {
                        word += '"';
                        s++;
                    }
                } else {
                    word.append(n, '\\');
                }
            } else if (*s == '"') {
                quoted = !quoted;
                s++;
            } else {
                word += *s++;
            }
        }
        args.push_back(word);
    }
    return args;
}

/* 0 when path is a runnable regular file, else the reason as an errno value. The
 * mode bits are checked as well as access(), which says yes to root for any file. */
int runnable(const std::string &path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        return errno;
    }
    if (!S_ISREG(st.st_mode) || (st.st_mode & 0111) == 0 || access(path.c_str(), X_OK) != 0) {
        return EACCES;
    }
    return 0;
}

std::string currentdir() {
    char buf[4096];
    if (getcwd(buf, sizeof buf) == nullptr) {
        return std::string();
    }
    return buf;
}

/* Finds a bare program name: the calling executable's directory, the current
 * directory, then each directory of PATH. Returns the absolute path or "". */
std::string searchprogram(const std::string &name) {
    std::vector<std::string> dirs;
    char exe[4096];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n > 0) {
        exe[n] = '\0';
        char *slash = strrchr(exe, '/');
        if (slash != nullptr) {
            *slash = '\0';
            dirs.push_back(exe[0] != '\0' ? exe : "/");
        }
    }
    dirs.push_back(currentdir());
    if (const char *path = getenv("PATH")) {
        std::string all = path;
        size_t start = 0;
        for (;;) {
            size_t colon = all.find(':', start);
            std::string d = all.substr(start, colon == std::string::npos ? colon : colon - start);
            /* An empty PATH entry means the current directory, already searched. */
            if (!d.empty()) {
                dirs.push_back(d);
            }
            if (colon == std::string::npos) {
                break;
            }
            start = colon + 1;
        }
    }
    for (const std::string &d : dirs) {
        std::string candidate = d + "/" + name;
        if (runnable(candidate) == 0) {
            return candidate[0] == '/' ? candidate : currentdir() + "/" + candidate;
        }
    }
    return std::string();
}

/* The child's environment: ours (or the given Windows environment block of
 * NUL-terminated "name=value" strings ending in an empty one), with the exit-code
 * variable set to the child's socket. */
std::vector<std::string> childenv(const char *block, int fd) {
    std::vector<std::string> env;
    const size_t varlen = sizeof EXITCODE_VAR - 1;
    auto keep = [&](const char *e) {
        if (strncmp(e, EXITCODE_VAR, varlen) != 0 || e[varlen] != '=') {
            env.push_back(e);
        }
    };
    if (block != nullptr) {
        for (const char *e = block; *e != '\0'; e += strlen(e) + 1) {
            keep(e);
        }
    } else {
        for (char **e = environ; *e != nullptr; e++) {
            keep(*e);
        }
    }
    char var[64];
    snprintf(var, sizeof var, "%s=%d:%ld", EXITCODE_VAR, fd, (long)getpid());
    env.push_back(var);
    return env;
}

std::vector<char *> pointers(std::vector<std::string> &strings) {
    std::vector<char *> v;
    for (std::string &s : strings) {
        v.push_back(s.data());
    }
    v.push_back(nullptr);
    return v;
}

BOOL failwith(DWORD err) {
    SetLastError(err);
    return FALSE;
}

/* Resolves the program to an absolute path, before the child changes directory:
 * written is the program path, or the command line's first word (searched for
 * when it has no slash). Returns 0, or the error to fail with. */
DWORD findprogram(const char *written, bool search, std::string *program) {
    char buf[4096];
    if (!kernpath(buf, sizeof buf, written) || buf[0] == '\0') {
        return ERROR_FILE_NOT_FOUND;
    }
    if (search && strchr(buf, '/') == nullptr) {
        *program = searchprogram(buf);
        return program->empty() ? (DWORD)ERROR_FILE_NOT_FOUND : 0;
    }
    *program = buf[0] == '/' ? std::string(buf) : currentdir() + "/" + buf;
    int err = runnable(*program);
    return err != 0 ? kernerror(err) : 0;
}

/* The child's directory as a POSIX name in cwd; "" (null or empty given) runs it
 * in ours. Returns 0, or ERROR_DIRECTORY when it is not a directory. */
DWORD childdir(const char *given, char (&cwd)[4096]) {
    cwd[0] = '\0';
    if (given == nullptr || given[0] == '\0') {
        return 0;
    }
    struct stat st;
    if (!kernpath(cwd, sizeof cwd, given) || stat(cwd, &st) != 0 || !S_ISDIR(st.st_mode)) {
        return ERROR_DIRECTORY;
    }
    return 0;
}

/* Our children must stay ours to reap. A parent can pass SIGCHLD on ignored (or
 * with SA_NOCLDWAIT); the kernel would then reap them itself and their exit status,
 * crashes included, would be lost. A handler of the program's own is kept. */
void keepchildren() {
    struct sigaction sa;
    if (sigaction(SIGCHLD, nullptr, &sa) != 0) {
        return;
    }
    if (sa.sa_handler == SIG_IGN || (sa.sa_flags & SA_NOCLDWAIT) != 0) {
        if (sa.sa_handler == SIG_IGN) {
            sa.sa_handler = SIG_DFL;
        }
        sa.sa_flags &= ~SA_NOCLDWAIT;
        sigaction(SIGCHLD, &sa, nullptr);
    }
}

/* Starts program with args and the environment block (null: ours) in cwd ("":
 * ours), handing it one end of a new exit-code socket. Returns 0 with the pid and
 * our end of the socket, or an errno value with nothing started. */
int spawnchild(const std::string &program, std::vector<std::string> &args, const char *envblock,
               const char *cwd, pid_t *pid, int *exitfd) {
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) {
        return errno;
    }
    std::vector<std::string> env = childenv(envblock, sv[1]);
    std::vector<char *> argv = pointers(args);
    std::vector<char *> envp = pointers(env);

    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    /* dup2 onto itself clears close-on-exec in the child only. */
    posix_spawn_file_actions_adddup2(&fa, sv[1], sv[1]);
    if (cwd[0] != '\0') {
        posix_spawn_file_actions_addchdir_np(&fa, cwd);
    }
    /* A child starts with no blocked signals and default dispositions, whatever the
     * calling thread has set up. */
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigemptyset(&none);
    sigset_t reset;
    sigemptyset(&reset);
    for (int sig : {SIGPIPE, SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGCHLD, SIGUSR1, SIGUSR2, SIGALRM,
                    SIGTSTP, SIGTTIN, SIGTTOU}) {
        sigaddset(&reset, sig);
    }
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &reset);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    keepchildren();
    int rc = posix_spawn(pid, program.c_str(), &fa, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&attr);
    close(sv[1]);
    if (rc != 0) {
        close(sv[0]);
        return rc;
    }
    *exitfd = sv[0];
    return 0;
}

/* Makes the process and thread handles of a started child. FALSE when out of
 * memory: too late to refuse then, the child runs and goes to the reaper. */
BOOL childhandles(pid_t pid, int exitfd, LPPROCESS_INFORMATION info) {
    kprocess *p = new (std::nothrow) kprocess{};
    kobject *t = kernremotethread((DWORD)pid);
    if (p == nullptr || t == nullptr) {
        if (p != nullptr) {
            kerninit(&p->hdr, &kprocesstype);
            p->pid = pid;
            p->exitfd = exitfd;
            kernunref(&p->hdr);
        } else {
            close(exitfd);
        }
        if (t != nullptr) {
            kernunref(t);
        }
        return failwith(ERROR_NOT_ENOUGH_MEMORY);
    }
    kerninit(&p->hdr, &kprocesstype);
    p->pid = pid;
    p->exitfd = exitfd;
    info->hProcess = kernhandle(&p->hdr);
    info->hThread = kernhandle(t);
    info->dwProcessId = (DWORD)pid;
    info->dwThreadId = (DWORD)pid;
    return TRUE;
}

} // namespace

const kobjtype kprocesstype = {
    .name = "process",
    .destroy = processdestroy,
    .signalled = processsignalled,
    .acquire = nullptr,
    .pollms = 5,
};

/* Starts a program; see plat/win32.h for how it is found. Security attributes,
 * handle inheritance and the start record are accepted and not used (handles of
 * this layer are not file descriptors). An empty lpCurrentDirectory runs the child
 * in the caller's current directory. Returns TRUE with *lpProcessInformation
 * filled (the caller closes both handles), or FALSE with the last error set and no
 * process started. */
BOOL WINAPI CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine,
                           LPSECURITY_ATTRIBUTES lpProcessAttributes,
                           LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles,
                           DWORD dwCreationFlags, LPVOID lpEnvironment, LPCSTR lpCurrentDirectory,
                           LPSTARTUPINFOA lpStartupInfo,
                           LPPROCESS_INFORMATION lpProcessInformation) {
    (void)lpProcessAttributes;
    (void)lpThreadAttributes;
    (void)bInheritHandles;
    (void)lpStartupInfo;
    if (lpProcessInformation == nullptr || (dwCreationFlags & CREATE_SUSPENDED) != 0 ||
        (lpApplicationName == nullptr && lpCommandLine == nullptr)) {
        return failwith(ERROR_INVALID_PARAMETER);
    }
    std::vector<std::string> args;
    if (lpCommandLine != nullptr) {
        args = splitcmdline(lpCommandLine);
    }
    if (args.empty()) {
        if (lpApplicationName == nullptr) {
            return failwith(ERROR_INVALID_PARAMETER);
        }
        args.push_back(lpApplicationName);
    }
    std::string program;
    const char *written = lpApplicationName != nullptr ? lpApplicationName : args[0].c_str();
    if (DWORD err = findprogram(written, lpApplicationName == nullptr, &program)) {
        return failwith(err);
    }
    char cwd[4096];
    if (DWORD err = childdir(lpCurrentDirectory, cwd)) {
        return failwith(err);
    }
    pid_t pid = 0;
    int exitfd = -1;
    if (int err = spawnchild(program, args, static_cast<const char *>(lpEnvironment), cwd, &pid,
                             &exitfd)) {
        return failwith(kernerror(err));
    }
    return childhandles(pid, exitfd, lpProcessInformation);
}

/* Stores STILL_ACTIVE while the child runs, then its exit code (see plat/win32.h);
 * reaps the child the first time it is seen ended. FALSE with ERROR_INVALID_HANDLE
 * for anything but an open process handle. */
BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode) {
    kobject *obj = kernref(hProcess, &kprocesstype);
    if (obj == nullptr) {
        return FALSE;
    }
    if (lpExitCode == nullptr) {
        kernunref(obj);
        return failwith(ERROR_INVALID_PARAMETER);
    }
    kprocess *p = reinterpret_cast<kprocess *>(obj);
    {
        std::lock_guard<std::mutex> lock(kernlock());
        pollprocess(p);
        *lpExitCode = p->reaped ? p->exitcode : (DWORD)STILL_ACTIVE;
    }
    kernunref(obj);
    return TRUE;
}

/* The process id, the kernel's own. */
DWORD WINAPI GetCurrentProcessId(void) {
    return (DWORD)getpid();
}

void kernreportexit(UINT code) {
    int fd = ownexitfd.exchange(-1);
    if (fd >= 0) {
        uint32_t full = code;
        unsigned char bytes[4];
        memcpy(bytes, &full, 4);
        /* MSG_NOSIGNAL: a parent that is gone must not turn our exit into SIGPIPE. */
        while (send(fd, bytes, 4, MSG_NOSIGNAL) < 0 && errno == EINTR) {
        }
        close(fd);
    }
}

/* Ends the process at once with uExitCode, from any thread: tells a parent on this
 * layer all 32 bits, then _exit with the low 8. atexit functions and static
 * destructors do not run, as on Windows; the stdio buffers are flushed first, as the
 * Windows C runtime flushes its own when the process ends. */
[[noreturn]] void WINAPI ExitProcess(UINT uExitCode) {
    fflush(nullptr);
    kernreportexit(uExitCode);
    _exit((int)(uExitCode & 0xff));
}
