/*
 * thistle/diag.h - the fatal-error report, the levelled trace and the report switches.
 *
 * Every module reports an unrecoverable condition through fatalerror after setting
 * errorsite (THISTLE_SITE does both steps' first half), and traces through debugprint
 * with its own 32-bit level variable.
 *
 * Threads: every function here may be called from any thread. The switches, hooks and
 * site records are plain globals without a lock: set them before the threads that
 * report are started.
 */
#ifndef THISTLE_DIAG_H
#define THISTLE_DIAG_H

#include <cstdint>

struct critsection;

/* Where a report comes from. file is the module path in the library's form
 * ("cmn\\memstd", "win\\threads"); null means the record is empty. function is the
 * reporting site's own name slot (empty in the library's reports). */
struct siterecord {
    const char *file;
    char *function;
    int32_t line;
};

/* Written by the reporting code just before each fatalerror call (and before calls
 * that may report on the caller's behalf). */
extern siterecord errorsite;
/* Never written by the library: an application fills it for a second level of origin. */
extern siterecord callersite;

/* Non-zero (the start value, 1): failures that can occur in the normal course of a
 * program are reported through fatalerror; 0: they only return their failure value. */
extern int32_t reporterrors;

/* Sets errorsite to this module and line, with a function-name slot of the site's own
 * that holds an empty string. Use it on the line before the call that may report. */
#define THISTLE_SITE(path)                                                                         \
    do {                                                                                           \
        static char thistlesitename_[1];                                                           \
        errorsite.file = (path);                                                                   \
        errorsite.function = thistlesitename_;                                                     \
        errorsite.line = __LINE__;                                                                 \
    } while (0)

/* ---- report switches and hooks (all start at 0 / null unless noted) -------------- */

/* Set while a report is in progress; a report that finds it set returns at once. */
extern int32_t fatalactive;
/* Non-zero (start value 1): the FILE / CALLED FROM lines follow the message. */
extern int32_t fatalsiteinfo;
/* Non-zero: the finished text goes to the debugger output, then a debugger break. */
extern int32_t fataldebugbreak;
/* Called first with the formatted message; a result of 0 cancels the report. */
extern int32_t (*fatalfilterhook)(const char *text);
/* The three shutdown hooks, called in this order once the text is complete. The lock
 * hook may return a lock it took; the report leaves it after the message box. */
extern void (*fatalfirsthook)(void);
extern critsection *(*fatallockhook)(void);
extern void (*fatalstophook)(void);
/* Raised by out-of-memory reports; non-zero (and a hook set) copies the text to
 * standard output after OK and calls outofmemoryhook. */
extern int32_t outofmemorycount;
extern void (*outofmemoryhook)(void);

/* Where debugprint sends its text: 1 debugger output, 2 standard output (the start
 * value), 3 the text debug screen, anything else nowhere. */
extern int32_t debugprintmode;

/* The library's error number; nothing in the library sets it. */
extern uint16_t liberror;

/* The one fatal-error report: formats the message, adds the site lines, runs the
 * shutdown hooks, shows "Abort message:" and ends the process with exit code 0.
 * Returns only when a report is already in progress or the filter hook cancels it. */
void fatalerror(const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

/* Levelled trace: writes the formatted text when level is null or *level >= minimum,
 * to the destination chosen by debugprintmode. */
void debugprint(const int32_t *level, int32_t minimum, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

/* Writes "[%5d] sorry, not implemented" with liberror into buffer (31 bytes or more)
 * unless buffer is null; returns liberror. */
int32_t geterrortext(char *buffer);

/* Sets / returns the calling thread's system error code. */
void setsystemerror(uint32_t code);
uint32_t getsystemerror(void);

#endif /* THISTLE_DIAG_H */
