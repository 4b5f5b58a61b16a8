/*
 * find.cpp - finding top-level windows by class and title, in this process and in the
 * processes whose named objects it opened, and proxies for windows found elsewhere.
 *
 * A process that created a named object (the named mutex of a single-instance guard)
 * answers requests about its windows over that object (plat_setrequesthandler). When
 * no window of this process matches, FindWindowA asks the creators of the names this
 * process opened, and a window found there becomes a proxy: a handle in our own space
 * (user.h) that remembers the owner's name and the window's identity over there.
 * IsWindow, ShowWindow and SetForegroundWindow on a proxy become requests; the owner
 * applies them on the window's own thread. Every other call refuses a proxy.
 *
 * Requests are one line of tab-separated fields. A window travels as "<hwnd>@<pid>"
 * (hex handle, decimal process id), so a proxy never reaches a window of a later
 * process that took over the same name and happens to reuse the handle value.
 *
 *   FINDWINDOW <class> <title>    "<hwnd>@<pid>" or ""     (field: "*" any, "=" text)
 *   ISWINDOW <window>             "1" or ""
 *   SHOWWINDOW <window> <cmd>     "1"/"0" (ShowWindow's result), "" gone, "?" no time
 *   SETFOREGROUND <window>        "1"/"0", "" gone, "?" no time
 *
 * Threads and locks: proxylock guards the proxy table; it is never held during a
 * request or together with userlock. Requests from other processes arrive on the
 * kernel side's thread; window work is handed to the window's thread (runonowner)
 * and waited for at most ownerwaitms, below the requester's own time-out.
 * Limits: 64 proxies (the oldest slot is reused when all are taken); class names
 * given as atoms, names or titles with a tab or line break and requests of 1 KiB or
 * more are found only in this process; the first 16 opened names are asked, in the order the kernel
 * side lists them.
 */
#include "user.h"

#include "backend.h"
#include "posix/kernel.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>
#include <unistd.h>

namespace platuser {

namespace {

constexpr int maxproxies = 64;
constexpr uint32_t proxybase = 0x8000;
constexpr int maxasked = 16;
constexpr size_t maxrequest = 1024; /* the request channel's line limit */
/* How long a request to another process may take, and how long its answerer waits for
 * the window's thread; the second is shorter, so "?" arrives before we give up. */
constexpr DWORD requestms = 2000;
constexpr DWORD ownerwaitms = 1000;

struct proxy {
    bool used;
    uint16_t gen;
    char owner[256]; /* name of the object whose creator owns the window */
    char window[40]; /* "<hwnd>@<pid>" as the owner gave it */
};

std::mutex proxylock;
proxy proxies[maxproxies]; /* proxylock */
int nextproxy = 0;         /* proxylock */
std::once_flag installonce;

uint32_t handlevalue(HWND h) {
    return (uint32_t)(uintptr_t)h;
}

/* The first top-level window matching class (any case, or atom) and title (exact);
 * null arguments match anything. userlock held. */
HWND findlocal(LPCSTR cls, LPCSTR title) {
    userstate &st = state();
    for (int i = 0; i < maxwindows; i++) {
        const windowrec &w = st.windows[i];
        if (!w.used || w.destroying || (w.style & WS_CHILD))
            continue;
        if (cls) {
            const classrec &c = st.classes[w.classindex];
            if (IS_INTRESOURCE(cls) ? c.atom != (ATOM)(ULONG_PTR)cls
                                    : strcasecmp(c.name.c_str(), cls) != 0)
                continue;
        }
        if (title && w.title != title)
            continue;
        return makewindowhandle(i, w.gen);
    }
    return nullptr;
}

/* Copies s into out (size n) and returns it; an empty string when it does not fit
 * (the callers' strings always fit: they come from buffers of the same size). */
const char *copyreply(char *out, size_t n, const char *s) {
    if (n == 0)
        return out;
    size_t len = strlen(s);
    if (len >= n)
        len = 0;
    memcpy(out, s, len);
    out[len] = '\0';
    return out;
}

/* Splits a request at tabs into at most max fields; the count. */
int splitfields(const char *request, std::string *fields, int max) {
    int n = 0;
    const char *p = request;
    while (n < max) {
        const char *tab = strchr(p, '\t');
        size_t len = tab ? (size_t)(tab - p) : strlen(p);
        fields[n++].assign(p, len);
        if (!tab)
            break;
        p = tab + 1;
    }
    return n;
}

/* A FINDWINDOW field: "*" for any (*out null), "=" followed by the text. */
bool decodefield(const std::string &f, const char **out) {
    if (f == "*") {
        *out = nullptr;
        return true;
    }
    if (f.empty() || f[0] != '=')
        return false;
    *out = f.c_str() + 1;
    return true;
}

/* A window of this process named by "<hwnd>@<pid>", or null. */
HWND decodewindow(const std::string &f) {
    unsigned long value = 0, pid = 0;
    char extra;
    if (sscanf(f.c_str(), "%lx@%lu%c", &value, &pid, &extra) != 2)
        return nullptr;
    if (pid != (unsigned long)getpid() || value == 0 || value > 0x7FFFFFFFul)
        return nullptr;
    HWND h = (HWND)(uintptr_t)value;
    userguard guard(state().lock);
    return findwindow(h) ? h : nullptr;
}

LRESULT showonthread(HWND hwnd, int cmd) {
    return ShowWindow(hwnd, cmd);
}

LRESULT raiseonthread(HWND hwnd, int) {
    return SetForegroundWindow(hwnd);
}

/* Answers a request of another process about our windows (see the top of the file).
 * Returns 1 when the request was one of ours, 0 otherwise. */
int answer(const char *request, char *reply, size_t replysize) {
    copyreply(reply, replysize, "");
    std::string f[4];
    int n = splitfields(request, f, 4);
    if (f[0] == "FINDWINDOW" && n == 3) {
        const char *cls, *title;
        if (!decodefield(f[1], &cls) || !decodefield(f[2], &title))
            return 1;
        HWND h;
        {
            userguard guard(state().lock);
            h = findlocal(cls, title);
        }
        if (h)
            snprintf(reply, replysize, "%" PRIx32 "@%lu", handlevalue(h), (unsigned long)getpid());
        return 1;
    }
    LRESULT (*fn)(HWND, int) = nullptr;
    int arg = 0;
    if (f[0] == "ISWINDOW" && n == 2) {
        if (decodewindow(f[1]))
            copyreply(reply, replysize, "1");
        return 1;
    } else if (f[0] == "SHOWWINDOW" && n == 3) {
        fn = showonthread;
        arg = atoi(f[2].c_str());
    } else if (f[0] == "SETFOREGROUND" && n == 2) {
        fn = raiseonthread;
    } else {
        return 0;
    }
    HWND h = decodewindow(f[1]);
    LRESULT r = 0;
    if (!h)
        return 1;
    if (!runonowner(h, fn, arg, ownerwaitms, &r))
        copyreply(reply, replysize, decodewindow(f[1]) ? "?" : "");
    else
        copyreply(reply, replysize, r ? "1" : "0");
    return 1;
}

bool plainfield(LPCSTR s) {
    return !s || !strpbrk(s, "\t\r\n");
}

void appendfield(std::string &req, LPCSTR s) {
    req += '\t';
    if (s) {
        req += '=';
        req += s;
    } else {
        req += '*';
    }
}

/* The proxy for a window of another process, made or found again. */
HWND makeproxy(const char *owner, const char *window) {
    userguard guard(proxylock);
    int slot = -1;
    for (int i = 0; i < maxproxies && slot < 0; i++) {
        const proxy &p = proxies[i];
        if (p.used && strcmp(p.owner, owner) == 0 && strcmp(p.window, window) == 0)
            return (HWND)(uintptr_t)(((uint32_t)p.gen << 16) | (proxybase + (uint32_t)i));
    }
    for (int i = 0; i < maxproxies && slot < 0; i++)
        if (!proxies[(nextproxy + i) % maxproxies].used)
            slot = (nextproxy + i) % maxproxies;
    if (slot < 0)
        slot = nextproxy; /* all taken: the oldest goes */
    nextproxy = (slot + 1) % maxproxies;
    proxy &p = proxies[slot];
    p.used = true;
    p.gen = (uint16_t)(p.gen % 0x7FFF + 1);
    copyreply(p.owner, sizeof p.owner, owner);
    copyreply(p.window, sizeof p.window, window);
    return (HWND)(uintptr_t)(((uint32_t)p.gen << 16) | (proxybase + (uint32_t)slot));
}

/* The table slot of a live proxy handle, or -1. proxylock held. */
int proxyslot(HWND h) {
    if (!isproxy(h))
        return -1;
    uint32_t v = handlevalue(h);
    int slot = (int)((v & 0xFFFF) - proxybase);
    const proxy &p = proxies[slot];
    return p.used && p.gen == (uint16_t)(v >> 16) ? slot : -1;
}

/* Sends "<verb>\t<window>[\t<arg>]" to the owner of proxy h. Returns the answer
 * ('1', '0' or '?'), or 0 when the window is gone (the proxy is dropped) or the owner
 * did not answer; the last error is ERROR_INVALID_WINDOW_HANDLE then. */
char askowner(HWND h, const char *verb, const char *arg) {
    char owner[256];
    std::string req = verb;
    {
        userguard guard(proxylock);
        int slot = proxyslot(h);
        if (slot < 0) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        memcpy(owner, proxies[slot].owner, sizeof owner);
        req += '\t';
        req += proxies[slot].window;
    }
    if (arg) {
        req += '\t';
        req += arg;
    }
    char reply[16] = "";
    if (!plat_namedrequest(owner, req.c_str(), reply, sizeof reply, requestms)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (reply[0] == '1' || reply[0] == '0' || reply[0] == '?')
        return reply[0];
    /* The owner answered that the window no longer exists: the handle stays dead. */
    userguard guard(proxylock);
    if (proxyslot(h) >= 0)
        proxies[proxyslot(h)].used = false;
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
}

/* Asks the creators of the names this process opened for a matching window. */
HWND findremote(LPCSTR cls, LPCSTR title) {
    if ((cls && IS_INTRESOURCE(cls)) || !plainfield(cls) || !plainfield(title))
        return nullptr;
    std::string req = "FINDWINDOW";
    appendfield(req, cls);
    appendfield(req, title);
    if (req.size() >= maxrequest)
        return nullptr;
    char names[maxasked][256];
    int count = plat_openednames(names, maxasked);
    HWND found = nullptr;
    for (int i = 0; i < count && i < maxasked && !found; i++) {
        char reply[40] = "";
        if (plat_namedrequest(names[i], req.c_str(), reply, sizeof reply, requestms) && reply[0])
            found = makeproxy(names[i], reply);
    }
    return found;
}

} // namespace

void installrequests() {
    std::call_once(installonce, [] { plat_setrequesthandler(answer); });
}

bool isproxy(HWND hwnd) {
    uintptr_t v = (uintptr_t)hwnd;
    return v <= 0x7FFFFFFFu && (v >> 16) != 0 && (v & 0xFFFF) >= proxybase &&
           (v & 0xFFFF) < proxybase + maxproxies;
}

BOOL proxyiswindow(HWND hwnd) {
    return askowner(hwnd, "ISWINDOW", nullptr) == '1' ? TRUE : FALSE;
}

BOOL proxyshow(HWND hwnd, int cmd) {
    char arg[16];
    snprintf(arg, sizeof arg, "%d", cmd);
    return askowner(hwnd, "SHOWWINDOW", arg) == '1' ? TRUE : FALSE;
}

BOOL proxyforeground(HWND hwnd) {
    return askowner(hwnd, "SETFOREGROUND", nullptr) == '1' ? TRUE : FALSE;
}

} // namespace platuser

using namespace platuser;

/* The first top-level window of this process whose class name (any case; or atom) and
 * title (exact) match, null arguments matching anything. When there is none, the
 * creators of the named objects this process opened are asked, and a window of theirs
 * comes back as a proxy handle (see the top of this file). Null when none matches. */
HWND WINAPI FindWindowA(LPCSTR lpClassName, LPCSTR lpWindowName) {
    installrequests();
    {
        userguard guard(state().lock);
        if (HWND h = findlocal(lpClassName, lpWindowName))
            return h;
    }
    return findremote(lpClassName, lpWindowName);
}
