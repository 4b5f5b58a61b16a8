/*
 * childrun.h - runs the diagnostics child program with extra environment entries and
 * collects its exit status, standard output and standard error.
 */
#ifndef TESTS_WIN_CHILDRUN_H
#define TESTS_WIN_CHILDRUN_H

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace childrun {

struct result {
    int status = -1; /* exit status, or -1 when the child did not exit normally */
    std::string out;
    std::string err;
};

inline std::string slurp(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

/* Runs DIAGCHILD_PATH with args, the environment plus env ("NAME=value" entries). */
inline result run(const std::vector<std::string> &args, const std::vector<std::string> &env = {}) {
    char outpath[] = "/tmp/thistle-diag-out-XXXXXX";
    char errpath[] = "/tmp/thistle-diag-err-XXXXXX";
    int outfd = mkstemp(outpath);
    int errfd = mkstemp(errpath);
    std::vector<std::string> argstore{DIAGCHILD_PATH}, envstore(env);
    argstore.insert(argstore.end(), args.begin(), args.end());
    for (char **e = environ; *e != nullptr; e++) {
        envstore.emplace_back(*e);
    }
    std::vector<char *> argv, envp;
    for (std::string &a : argstore) {
        argv.push_back(a.data());
    }
    for (std::string &e : envstore) {
        envp.push_back(e.data());
    }
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    result r;
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(outfd, 1);
        dup2(errfd, 2);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    if (int status = 0; pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
        r.status = WEXITSTATUS(status);
    }
    close(outfd);
    close(errfd);
    r.out = slurp(outpath);
    r.err = slurp(errpath);
    unlink(outpath);
    unlink(errpath);
    return r;
}

} // namespace childrun

#endif
