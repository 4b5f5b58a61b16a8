/*
 * thistle/diag.h - the fatal-error report, the levelled trace and the report switches.
 *
 * Every module reports an unrecoverable condition through fatalerror after setting
 * errorsite (THISTLE_SITE does both steps' first half), and traces through debugprint
 * with its own 32-bit level variable.
 */
#ifndef THISTLE_DIAG_H
#define THISTLE_DIAG_H

#include <cstdint>

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
#define THISTLE_SITE(path)                 \
    do {                                   \
        static char thistlesitename_[1];   \
        errorsite.file = (path);           \
        errorsite.function = thistlesitename_; \
        errorsite.line = __LINE__;         \
    } while (0)

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

#endif /* THISTLE_DIAG_H */
