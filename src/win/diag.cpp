/*
 * diag.cpp - win\diag: the fatal-error report, the levelled trace, the site records,
 * report switches and hooks, and the small error helpers.
 *
 * Threads: fatalerror and debugprint run on any thread. The switches, hooks and site
 * records are plain globals; the one shared step is claiming fatalactive, done with an
 * atomic exchange so that of two threads reporting at once exactly one owns the report
 * and the other returns to its caller.
 * Limits: the report text is 512 bytes with its site lines, each site line 256 bytes;
 * a trace text is 1024 bytes. Longer text is cut, never written past the buffers.
 */
#include "thistle/diag.h"

#include "plat/win32.h"
#include "thistle/mono.h"
#include "thistle/syshelp.h"
#include "thistle/threads.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>

siterecord errorsite = {nullptr, nullptr, 0};
siterecord callersite = {nullptr, nullptr, 0};
int32_t reporterrors = 1;

int32_t fatalactive = 0;
int32_t fatalsiteinfo = 1;
int32_t fataldebugbreak = 0;
int32_t (*fatalfilterhook)(const char *text) = nullptr;
void (*fatalfirsthook)(void) = nullptr;
critsection *(*fatallockhook)(void) = nullptr;
void (*fatalstophook)(void) = nullptr;
int32_t outofmemorycount = 0;
void (*outofmemoryhook)(void) = nullptr;

int32_t debugprintmode = 2;
uint16_t liberror = 0;

namespace {

constexpr size_t fataltextsize = 512;
constexpr size_t sitelinesize = 256;
constexpr size_t tracetextsize = 1024;

/* OK and Cancel, exclamation icon, system-modal, brought to the foreground. */
constexpr UINT fatalboxstyle = MB_OKCANCEL | MB_ICONEXCLAMATION | MB_SYSTEMMODAL | MB_SETFOREGROUND;
static_assert(fatalboxstyle == 0x11031, "the report box style");

/* Formats one site line (into its own 256 bytes) and appends as much of it as the
 * report text still has room for. An empty record adds nothing. */
void appendsite(char *text, size_t size, const char *format, const siterecord &site) {
    if (site.file == nullptr) {
        return;
    }
    char line[sitelinesize];
    snprintf(line, sizeof line, format, site.file, (int)site.line,
             site.function != nullptr ? site.function : "");
    size_t used = strlen(text);
    size_t room = size - 1 - used;
    size_t add = strlen(line);
    if (add > room) {
        add = room;
    }
    memcpy(text + used, line, add);
    text[used + add] = 0;
}

} // namespace

/* The fatal-error report (see the header). Cutting: the message is formatted into the
 * 512-byte text and cut there; site lines are appended only as far as room remains, so
 * an overlong message may lose them. */
void fatalerror(const char *format, ...) {
    std::atomic_ref<int32_t> active(fatalactive);
    if (active.exchange(1) != 0) {
        return;
    }

    char text[fataltextsize];
    text[0] = 0;
    if (format != nullptr) {
        va_list args;
        va_start(args, format);
        vsnprintf(text, sizeof text, format, args);
        va_end(args);
    }

    if (fatalfilterhook != nullptr && fatalfilterhook(text) == 0) {
        active.store(0);
        return;
    }

    if (fatalsiteinfo != 0) {
        appendsite(text, sizeof text, "FILE %s LINE %d FUNCTION %s\n", errorsite);
        appendsite(text, sizeof text, "CALLED FROM FILE %s LINE %d FUNCTION %s\n", callersite);
    }

    if (fataldebugbreak != 0) {
        OutputDebugStringA(text);
        DebugBreak();
    }

    if (fatalfirsthook != nullptr) {
        fatalfirsthook();
    }
    critsection *held = fatallockhook != nullptr ? fatallockhook() : nullptr;
    if (fatalstophook != nullptr) {
        fatalstophook();
    }

    ShowCursor(TRUE);
    int answer = MessageBoxA(nullptr, text, "Abort message:", fatalboxstyle);
    if (answer == IDOK && outofmemorycount != 0 && outofmemoryhook != nullptr) {
        printf("%s", text);
        outofmemoryhook();
    }

    if (held != nullptr) {
        leavelock(held);
    }

    /* Only the main thread may run the exit functions: they stop the library's threads
     * and would wait for this one. Any other thread ends the process on the spot. */
    if (isthread(nullptr)) {
        exitprogram();
    }
    ExitProcess(0);
}

/* The levelled trace (see the header). The text is written as formatted: no prefix,
 * no level, no time stamp; the caller brings its tag and newline. */
void debugprint(const int32_t *level, int32_t minimum, const char *format, ...) {
    if (level != nullptr && *level < minimum) {
        return;
    }
    char text[tracetextsize];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);

    switch (debugprintmode) {
    case 1:
        OutputDebugStringA(text);
        break;
    case 2:
        fputs(text, stdout);
        fflush(stdout);
        break;
    case 3:
        monoputs(text); /* takes the screen lock itself */
        break;
    default:
        break;
    }
}

/* Formats the library error number's text into buffer (at least 31 bytes: the longest
 * text, "[65535] sorry, not implemented", is 30 characters); returns the number. */
int32_t geterrortext(char *buffer) {
    if (buffer != nullptr) {
        snprintf(buffer, 31, "[%5d] sorry, not implemented", (int)liberror);
    }
    return liberror;
}

/* Sets the calling thread's system error code. */
void setsystemerror(uint32_t code) {
    SetLastError(code);
}

/* The calling thread's system error code. */
uint32_t getsystemerror(void) {
    return GetLastError();
}
