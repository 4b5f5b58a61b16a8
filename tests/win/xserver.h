/*
 * xserver.h - what the suites that run on an X display of their own share: running a
 * program (xdotool) and an Xvfb started for the case and ended by its process id. POSIX
 * only.
 */
#ifndef TESTS_WIN_XSERVER_H
#define TESTS_WIN_XSERVER_H

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace xserver {

/* Runs a program with arguments and returns its exit status (-1 when it did not start);
 * with out, its standard output is returned there. */
inline int run(const std::vector<std::string> &argv, std::string *out = nullptr) {
    std::vector<char *> args;
    for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    pid_t pid;
    int started = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    std::string text;
    char buf[256];
    for (ssize_t n; started == 0 && (n = read(fds[0], buf, sizeof buf)) > 0;)
        text.append(buf, (size_t)n);
    close(fds[0]);
    if (started != 0)
        return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    if (out)
        *out = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

/* An Xvfb of the case's own; DISPLAY names it while it runs. */
class Display {
  public:
    explicit Display(const char *screen = "1024x768x24") {
        int fds[2];
        if (pipe(fds) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        const char *argv[] = {"Xvfb", "-displayfd", "3",   "-screen", "0",
                              screen, "-nolisten",  "tcp", nullptr};
        if (posix_spawnp(&pid, "Xvfb", &actions, nullptr, const_cast<char **>(argv), environ) != 0)
            pid = 0;
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        /* Xvfb writes the number and its line end apart and exits when the second write
         * finds the pipe closed: read up to the line end. */
        char number[32] = {};
        size_t n = 0;
        for (ssize_t got; pid && n < sizeof number - 1 && !memchr(number, '\n', n) &&
                          (got = read(fds[0], number + n, sizeof number - 1 - n)) > 0;)
            n += (size_t)got;
        close(fds[0]);
        if (n > 0) {
            /* Not ":" + std::string(...): GCC 12 at -O3 sees an overlap there
             * (-Wrestrict) where this is inlined into the display bench. */
            char display[40];
            snprintf(display, sizeof display, ":%.*s", int(strcspn(number, "\n")), number);
            name = std::string(display);
            setenv("DISPLAY", name.c_str(), 1);
        }
    }
    ~Display() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
    }
    std::string name;

  private:
    pid_t pid = 0;
};

} // namespace xserver

#endif
