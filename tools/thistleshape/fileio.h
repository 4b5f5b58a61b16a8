/*
 * fileio.h - files for thistleshape: whole-file reads with a size limit, and safe
 * output: an existing file is replaced only with -f, never when it is the input or not a
 * regular file, and always through a temporary file beside it that is renamed into
 * place; the temporary file is removed on failure and on SIGINT, SIGTERM, SIGHUP and
 * SIGPIPE. "-" is standard input or output.
 * Threads: one (the signal handler reads the temporary file's name).
 */
#ifndef THISTLESHAPE_FILEIO_H
#define THISTLESHAPE_FILEIO_H

#include <cstddef>
#include <cstdint>
#include <sys/types.h>
#include <vector>

constexpr int exitok = 0;
constexpr int exitfail = 1;
constexpr int exitusage = 2;

/* Prints "thistleshape: FILE: text" to standard error and returns exitfail. */
int fail(const char *file, const char *format, ...) __attribute__((format(printf, 2, 3)));
/* Prints the usage error and returns exitusage. */
int usage(const char *format, ...) __attribute__((format(printf, 1, 2)));

bool isstdio(const char *path);
/* The name a file goes by in messages. */
const char *shown(const char *path);

/* Reads a whole file of at most limit bytes; on failure prints the error, returns 0. */
int readfile(const char *path, size_t limit, std::vector<uint8_t> &data);

/* Where one output goes and what may be done to it. */
struct target {
    const char *path;  /* "-" for standard output */
    const char *input; /* the input's path, "-" for standard input, null for none */
    bool force;
    mode_t mode; /* permissions for a new file */
};

/* Checks a target before any work (see above); prints the refusal and returns 0. */
int checktarget(const target &t);
/* Writes the whole output safely; prints the failure and returns 0. */
int writetarget(const target &t, const uint8_t *data, size_t size);
/* Permissions for an output: the input's, or the usual ones for a new file. */
mode_t outputmode(const char *in);
/* Installs the handler that removes a temporary file on the signals above. */
void catchsignals();

#endif /* THISTLESHAPE_FILEIO_H */
