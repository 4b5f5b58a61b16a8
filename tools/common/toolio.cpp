/*
 * toolio.cpp - files, messages and the command line for the tools (see toolio.h), so that
 * every tool treats a user's files and options alike.
 */
#include "toolio.h"

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef THISTLE_VERSION_TEXT
#define THISTLE_VERSION_TEXT "1.0"
#endif

namespace {

/* One line to standard error: "TOOL: FILE: text", or for a usage error (file null)
 * "TOOL: text (TOOL --help for usage)". */
void report(const char *file, const char *format, va_list args) {
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    if (file != nullptr) {
        std::fprintf(stderr, "%s: %s: %s\n", toolname, file, text);
    } else {
        std::fprintf(stderr, "%s: %s (%s --help for usage)\n", toolname, text, toolname);
    }
}

} // namespace

int fail(const char *file, const char *format, ...) {
    va_list args;
    va_start(args, format);
    report(file, format, args);
    va_end(args);
    return exitfail;
}

int usage(const char *format, ...) {
    va_list args;
    va_start(args, format);
    report(nullptr, format, args);
    va_end(args);
    return exitusage;
}

bool isstdio(const char *path) {
    return std::strcmp(path, "-") == 0;
}

const char *shown(const char *path) {
    return isstdio(path) ? "(standard input)" : path;
}

bool endswith(const char *text, const char *end) {
    const size_t n = std::strlen(text), m = std::strlen(end);
    return n >= m && std::strcmp(text + n - m, end) == 0;
}

int readfile(const char *path, size_t limit, std::vector<uint8_t> &data, const char *what,
             const readwatch *watch) {
    const bool in = isstdio(path);
    struct stat st;
    if (in ? fstat(0, &st) != 0 : stat(path, &st) != 0) {
        return !fail(shown(path), "%s", std::strerror(errno));
    }
    if (S_ISDIR(st.st_mode)) {
        return !fail(shown(path), "is a directory");
    }
    if (S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) > limit) {
        return !fail(shown(path), "%s%s%lld bytes is too large (at most %zu bytes)",
                     what != nullptr ? what : "", what != nullptr ? " of " : "",
                     static_cast<long long>(st.st_size), limit);
    }
    const int fd = in ? 0 : open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return !fail(path, "%s", std::strerror(errno));
    }
    const readwatch none = {};
    const readwatch &w = watch != nullptr ? *watch : none;
    if (w.start != nullptr) {
        w.start(w.context, S_ISREG(st.st_mode) ? static_cast<size_t>(st.st_size) : 0);
    }
    data.clear();
    constexpr size_t chunk = size_t{1} << 20;
    int error = 0;
    while (data.size() <= limit) {
        const size_t at = data.size();
        data.resize(at + chunk);
        const ssize_t got = read(fd, data.data() + at, chunk);
        data.resize(at + (got > 0 ? static_cast<size_t>(got) : 0));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            error = got < 0 ? errno : 0;
            break;
        }
        if (w.step != nullptr) {
            w.step(w.context, data.size());
        }
    }
    if (w.end != nullptr) {
        w.end(w.context);
    }
    if (!in) {
        close(fd);
    }
    if (error != 0) {
        return !fail(shown(path), "read error: %s", std::strerror(error));
    }
    if (data.size() > limit) {
        return !fail(shown(path), "%s%stoo large (at most %zu bytes)", what != nullptr ? what : "",
                     what != nullptr ? " is " : "", limit);
    }
    return 1;
}

namespace {

// The temporary file being written, removed by the signal handler: a run stopped with
// SIGINT or SIGTERM leaves no debris and the target as it was.
char temppath[4096];
volatile sig_atomic_t tempactive = 0;

extern "C" void ondeadlysignal(int sig) {
    if (tempactive) {
        unlink(temppath);
    }
    signal(sig, SIG_DFL);
    raise(sig);
}

} // namespace

void catchsignals() {
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        signal(sig, ondeadlysignal);
    }
}

namespace {

int writeall(int fd, const uint8_t *data, size_t size) {
    while (size > 0) {
        const ssize_t put = write(fd, data, size);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            return put < 0 ? errno : EIO;
        }
        data += put;
        size -= static_cast<size_t>(put);
    }
    return 0;
}

} // namespace

/* Checks a target before any work is done, so that a refused file costs nothing:
 * an existing output needs -f and must be a regular file (or a link, which is replaced,
 * never followed), and must not be the input under any name. */
int checktarget(const target &t) {
    if (isstdio(t.path)) {
        return 1;
    }
    struct stat out;
    if (lstat(t.path, &out) != 0) {
        return errno == ENOENT ? 1 : !fail(t.path, "%s", std::strerror(errno));
    }
    struct stat in, outfollowed;
    if (t.input != nullptr && !isstdio(t.input) && stat(t.input, &in) == 0 &&
        stat(t.path, &outfollowed) == 0 && in.st_dev == outfollowed.st_dev &&
        in.st_ino == outfollowed.st_ino) {
        return !fail(t.path, "is the input file; not overwritten");
    }
    if (!S_ISREG(out.st_mode) && !S_ISLNK(out.st_mode)) {
        // Replacing it would remove a device, a pipe or a folder the user owns.
        return !fail(t.path, "exists and is not a regular file; not overwritten");
    }
    if (!t.force) {
        return !fail(t.path, "already exists; not overwritten (-f overwrites)");
    }
    return 1;
}

/* Writes data to the target: standard output directly, a file through a temporary file
 * in the same folder that is renamed over it once complete and synced. Any failure
 * removes the temporary file, which is all the tool ever removes. */
int writetarget(const target &t, const uint8_t *data, size_t size) {
    if (isstdio(t.path)) {
        const int e = writeall(1, data, size);
        return e == 0 ? 1 : !fail("(standard output)", "write error: %s", std::strerror(e));
    }
    if (!checktarget(t)) { // again: the first check was before the work
        return 0;
    }
    const char *slash = std::strrchr(t.path, '/');
    const std::string folder = slash == nullptr ? "" : std::string(t.path, slash + 1);
    const std::string name = slash == nullptr ? t.path : slash + 1;
    const std::string pattern = folder + "." + name + ".XXXXXX";
    if (pattern.size() >= sizeof temppath) {
        return !fail(t.path, "name too long");
    }
    std::memcpy(temppath, pattern.c_str(), pattern.size() + 1);
    sigset_t all, previous;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, &previous);
    const int fd = mkstemp(temppath);
    tempactive = fd >= 0;
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    if (fd < 0) {
        return !fail(t.path, "cannot create a file beside it: %s", std::strerror(errno));
    }
    int e = writeall(fd, data, size);
    if (e == 0 && fchmod(fd, t.mode) != 0) {
        e = errno;
    }
    if (e == 0 && fsync(fd) != 0) {
        e = errno;
    }
    if (close(fd) != 0 && e == 0) {
        e = errno;
    }
    if (e == 0 && !t.force) {
        // Without -f nothing that appeared meanwhile is replaced: link fails on an
        // existing name where rename would not.
        // Folders without hard links fall back to a rename after one more look.
        if (link(temppath, t.path) == 0) {
            unlink(temppath);
        } else if (errno != EPERM && errno != EOPNOTSUPP) {
            e = errno;
        } else if (struct stat st; lstat(t.path, &st) == 0) {
            e = EEXIST;
        } else if (rename(temppath, t.path) != 0) {
            e = errno;
        }
    } else if (e == 0 && rename(temppath, t.path) != 0) {
        e = errno;
    }
    if (e != 0) {
        unlink(temppath);
    }
    tempactive = 0;
    if (e == EEXIST) {
        return !fail(t.path, "already exists; not overwritten (-f overwrites)");
    }
    return e == 0 ? 1 : !fail(t.path, "write error: %s", std::strerror(e));
}

/* Permissions for an output: the input's, or the usual ones for a new file. */
mode_t outputmode(const char *in) {
    struct stat st;
    if (!isstdio(in) && stat(in, &st) == 0 && S_ISREG(st.st_mode)) {
        return st.st_mode & 0777;
    }
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

int verbosity = 1;

int modeflag(std::span<const modeoption> modes, int &mode, const std::string &name,
             const char *shownas) {
    for (size_t i = 0; i < modes.size(); i++) {
        if (name != modes[i].letter && name != modes[i].name) {
            continue;
        }
        const int chosen = static_cast<int>(i) + 1;
        if (mode != 0 && mode != chosen) {
            std::string all;
            for (const modeoption &m : modes) {
                all += (all.empty() ? "-" : ", -") + std::string(m.letter);
            }
            return usage("%s cannot be combined with another of %s", shownas, all.c_str());
        }
        mode = chosen;
        return exitok;
    }
    return notmode;
}

int toolflag(tooloptions &o, const std::string &name, const char *shownas, const char *help) {
    if (name == "c" || name == "stdout") {
        o.tostdout = true;
    } else if (name == "f" || name == "force") {
        o.force = true;
    } else if (name == "q" || name == "quiet") {
        verbosity = 0;
    } else if (name == "v" || name == "verbose") {
        verbosity = 2;
    } else if (name == "long") {
        o.longform = true;
    } else if (name == "h" || name == "help") {
        std::fputs(help, stdout);
        return answered;
    } else if (name == "V" || name == "version") {
        std::printf("%s %s\n", toolname, THISTLE_VERSION_TEXT);
        return answered;
    } else if (name.size() == 1 && name[0] >= '1' && name[0] <= '9') {
        o.level = name[0] - '0';
    } else {
        return usage("unknown option '%s'", shownas);
    }
    return exitok;
}

int parseoptions(int argc, char **argv, const optionset &set, tooloptions &o) {
    auto takesvalue = [&](const std::string &name) {
        return name == "o" || name == "output" || set.takesvalue(name);
    };
    auto valued = [&](const std::string &name, const char *value) {
        if (name == "o" || name == "output") {
            o.output = value;
            return exitok;
        }
        return set.valued(name, value);
    };
    bool onlyfiles = false;
    for (int i = 1; i < argc; i++) {
        const char *arg = argv[i];
        int status = exitok;
        if (onlyfiles || arg[0] != '-' || arg[1] == 0) {
            o.files.push_back(arg);
        } else if (std::strcmp(arg, "--") == 0) {
            onlyfiles = true;
        } else if (arg[1] == '-') {
            const char *eq = std::strchr(arg, '=');
            const std::string name = eq != nullptr ? std::string(arg + 2, eq) : arg + 2;
            if (!takesvalue(name)) {
                status =
                    eq != nullptr ? usage("%s takes no value", name.c_str()) : set.flag(name, arg);
            } else if (eq != nullptr) {
                status = valued(name, eq + 1);
            } else if (i + 1 < argc) {
                status = valued(name, argv[++i]);
            } else {
                status = usage("%s needs a value", arg);
            }
        } else {
            for (const char *c = arg + 1; *c != 0 && status == exitok; c++) {
                const std::string name(1, *c);
                const char shownas[3] = {'-', *c, 0};
                if (!takesvalue(name)) {
                    status = set.flag(name, shownas);
                } else if (c[1] != 0) {
                    status = valued(name, c + 1);
                    break;
                } else if (i + 1 < argc) {
                    status = valued(name, argv[++i]);
                } else {
                    status = usage("%s needs a value", shownas);
                }
            }
        }
        if (status != exitok) {
            return status;
        }
    }
    return exitok;
}

int parsenumber(const char *text, long low, long high, int32_t &value) {
    char *end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (end == text || *end != 0 || v < low || v > high) {
        return 0;
    }
    value = static_cast<int32_t>(v);
    return 1;
}
