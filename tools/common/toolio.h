/*
 * toolio.h - what the command-line tools share about files and command lines: messages
 * prefixed with the tool's name, whole-file reads with a size limit, safe output (an
 * existing file is replaced only with -f, never when it is the input or not a regular
 * file, and always through a temporary file beside it that is renamed into place; the
 * temporary file is removed on failure and on SIGINT, SIGTERM, SIGHUP and SIGPIPE), and
 * the option parser. "-" is standard input or output.
 * Threads: one (the signal handler reads the temporary file's name).
 */
#ifndef THISTLE_TOOLIO_H
#define THISTLE_TOOLIO_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <sys/types.h>
#include <vector>

constexpr int exitok = 0;
constexpr int exitfail = 1;
constexpr int exitusage = 2;

/* The tool's name in messages; each tool defines it. */
extern const char toolname[];

/* Prints "TOOL: FILE: text" to standard error and returns exitfail. */
int fail(const char *file, const char *format, ...) __attribute__((format(printf, 2, 3)));
/* Prints "TOOL: text (TOOL --help for usage)" and returns exitusage. */
int usage(const char *format, ...) __attribute__((format(printf, 1, 2)));

bool isstdio(const char *path);
/* The name a file goes by in messages. */
const char *shown(const char *path);
bool endswith(const char *text, const char *end);

/* Told how a long read goes: start with the size expected (0 when unknown), step with the
 * bytes read so far after each chunk, end once the read is over. Any may be null. */
struct readwatch {
    void (*start)(void *context, size_t total);
    void (*step)(void *context, size_t done);
    void (*end)(void *context);
    void *context;
};

/* Reads a whole file (standard input for "-") of at most limit bytes into data; on
 * failure prints the error and returns 0. what, when given, names the input in the size
 * messages ("input of N bytes is too large"); watch, when given, follows the read. */
int readfile(const char *path, size_t limit, std::vector<uint8_t> &data, const char *what = nullptr,
             const readwatch *watch = nullptr);

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

/* ---- the command line ---- */

/* Returned by an option that has been answered in full (-h, -V): the run ends there with
 * exitok. */
constexpr int answered = -1;

/* How much a tool says: 0 (-q) only errors, 1 the default, 2 (-v) a line per file. */
extern int verbosity;

/* The options every tool takes; a tool's own options record starts with it. */
struct tooloptions {
    int32_t level = 0;            /* -1 .. -9; 0: the format's default */
    bool longform = false;        /* --long */
    const char *output = nullptr; /* -o */
    bool tostdout = false;        /* -c */
    bool force = false;           /* -f */
    std::vector<const char *> files;
};

/* Returned by modeflag for a name that chooses no mode. */
constexpr int notmode = -2;

/* An option that chooses a mode other than the tool's default: its letter and long name. */
struct modeoption {
    const char *letter;
    const char *name;
};

/* When name chooses one of modes, sets mode to its place + 1 (0 is the default mode) and
 * returns exitok, or exitusage when another of them was chosen before; returns notmode
 * for any other name. */
int modeflag(std::span<const modeoption> modes, int &mode, const std::string &name,
             const char *shownas);

/* The same for a tool's mode enumeration: its default first, then modes in order. */
template <typename M>
int modeflag(std::span<const modeoption> modes, M &mode, const std::string &name,
             const char *shownas) {
    int m = static_cast<int>(mode);
    const int status = modeflag(modes, m, name, shownas);
    mode = static_cast<M>(m);
    return status;
}

/* The options without a value that every tool takes (-c, -f, -q, -v, --long, -1 .. -9,
 * and -h, which prints help, and -V); a tool's own flags come first and end here.
 * Returns exitok, answered, or exitusage for an unknown option. */
int toolflag(tooloptions &o, const std::string &name, const char *shownas, const char *help);

/* A tool's own options: whether a name (letter or long name) takes a value, and what an
 * option without and with a value does; both return exitok, answered or exitusage.
 * shownas is the option as the user wrote it. -o and --output are every tool's. */
struct optionset {
    std::function<bool(const std::string &name)> takesvalue;
    std::function<int(const std::string &name, const char *shownas)> flag;
    std::function<int(const std::string &name, const char *value)> valued;
};

/* Reads the command line: options through set and into o, the rest into o.files in
 * order. Short options bundle (-kf, -9v, -Fhuff, -oFILE); long ones take --name=value or
 * --name value; after "--" everything is a file, and "-" alone is one. Returns the first
 * status other than exitok, or exitok. */
int parseoptions(int argc, char **argv, const optionset &set, tooloptions &o);

/* Returned by toolstart when the run goes on to the files. */
constexpr int proceed = -3;

/* A tool's start: reads the command line into its options record O (which starts with
 * tooloptions) through its three handlers, applies check (the rules between options,
 * once all are read) and installs the signal handler. Returns proceed, or the exit code
 * to end with at once (exitok after -h or -V). */
template <typename O>
int toolstart(int argc, char **argv, O &o, bool (*takesvalue)(const std::string &),
              int (*flag)(O &, const std::string &, const char *),
              int (*valued)(O &, const std::string &, const char *), int (*check)(O &)) {
    const optionset set = {
        .takesvalue = takesvalue,
        .flag = [&o, flag](const std::string &name,
                           const char *shownas) { return flag(o, name, shownas); },
        .valued = [&o, valued](const std::string &name,
                               const char *value) { return valued(o, name, value); },
    };
    int status = parseoptions(argc, argv, set, o);
    status = status == exitok ? check(o) : status;
    if (status != exitok) {
        return status == answered ? exitok : status;
    }
    catchsignals();
    return proceed;
}

/* A whole decimal number from low to high into value; returns 0 (value untouched) for
 * anything else. */
int parsenumber(const char *text, long low, long high, int32_t &value);

#endif /* THISTLE_TOOLIO_H */
