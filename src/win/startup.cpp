/*
 * startup.cpp - win\startup: the main window on its own thread. The display record, the
 * sorted message handler table and the window procedure, opening and closing the window
 * with the start-up handshake, the window thread's message loop, placement, the standard
 * message handlers, the key queue and the keyboard hook.
 *
 * Start-up handshake (opener = a calling thread):
 *
 *   opener                                window thread
 *   createlibthread ----------------->    create the window
 *                                         publish handshake event, wait on it
 *   sees the event; closes the old
 *   window (stops the old thread)
 *   signals the event --------------->    publish hwnd, clear the event variable
 *   sees the variable cleared; returns    message loop
 *
 * so the new window exists before the old one goes, and its handle is published only
 * after the old window is gone.
 * Threads and locks: handlers run on the window thread inside the handler-table lock,
 * which the loop holds for each dispatch (and which is the keyboard and mouse input
 * lock); the key queue has its own lock. The record's hwnd is written only by the window
 * thread; shared words are read and written through atomic references.
 * Left open by design and decided here: a window thread that could not create its window
 * publishes the null handle and ends instead of waiting for messages forever; waits on
 * the window thread have no time limit.
 */
#include "thistle/startup.h"

#include "plat/win32.h"
#include "thistle/ddraw.h"
#include "thistle/diag.h"
#include "thistle/initgrf.h"
#include "thistle/key.h"
#include "thistle/mouse.h"
#include "thistle/syshelp.h"
#include "thistle/systask.h"
#include "thistle/threads.h"
#include "thistle/timer.h"
#include "thistle/window.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>

char *applicationname = nullptr;

/* No device, no window, the default mode and no palette change pending; the window
 * and display modules fill in the rest. */
displayrecord display = {
    .directdraw = nullptr,
    .clipper = nullptr,
    .modecount = 0,
    .modeindex = -1,
    .modelist = nullptr,
    .width = 0,
    .height = 0,
    .bitcount = 0,
    .memclass = 0,
    .palette = nullptr,
    .entries = {},
    .dirtyfirst = 256,
    .dirtylast = -1,
    .sysmemback = 0,
    .drambuffer = 0,
    .libmemback = 0,
    .pagesrequested = 0,
    .lockedsurface = nullptr,
    .lockedpixels = nullptr,
    .primary = nullptr,
    .back = nullptr,
    .screenwindow = nullptr,
    .backwindow = nullptr,
    .hwnd = nullptr,
    .depth = 0,
    .fullscreen = 0,
    .modexrequested = 0,
    .ismodex = 0,
    .canflip = 0,
    .bankswitched = 0,
    .pages = 0,
    .originx = 0,
    .originy = 0,
    .createcount = 0,
    .appactive = 0,
};

int32_t wintrace = 0;
int32_t ddrawtrace = 0;
uint32_t windowicon = 32512;
uint32_t windowstyle = WS_VISIBLE;
void (*applicationquitfunc)(void) = nullptr;
int32_t displaychangecount = 0;
critsection *winmessagelock = nullptr;
keyqueuerecord keyqueue = {};
void *keyboardhook = nullptr;
int32_t keyboardhookenabled = 0;
int32_t keyboardhookalt = 0;
keyfilterfunction keyboardhookfilter = nullptr;

namespace {

constexpr const char *site = "win\\startup";

template <typename T>
std::atomic_ref<T> at(T &field) {
    return std::atomic_ref<T>(field);
}

void countdisplaychange(void) {
    at(displaychangecount).fetch_add(1);
}

/* ---- module state ------------------------------------------------------------------- */

HINSTANCE instance = nullptr;
int32_t opencount = 0;
int32_t handlersinstalled = 0;
void *handshake = nullptr; /* published by a starting window thread */
int32_t stopflag = 0;
threadrecord windowthread = {};
int32_t savedscreensaver = 0;
int32_t savedpoweroff = 0;
void (*audiocallback)(int32_t) = nullptr;
/* Where applicationname points when it is taken from the command line. */
char commandname[256];

/* ---- handler table ------------------------------------------------------------------ */

struct handlerentry {
    uint32_t message;
    winmessagehandler handler;
};
handlerentry handlers[WINMESSAGE_HANDLERS];
int32_t handlercount = 0;
/* The message number a removed entry takes: it sorts after every real message. */
constexpr uint32_t removedmessage = 0x7FFFFFFF;

/* Messages compare by signed difference, as the table has always been ordered. */
int32_t comparemessages(uint32_t a, uint32_t b) {
    return (int32_t)(a - b);
}

void sorthandlers(void) {
    std::sort(handlers, handlers + handlercount, [](const handlerentry &a, const handlerentry &b) {
        return comparemessages(a.message, b.message) < 0;
    });
}

/* Bisection: the entry's index, or -1. Caller holds the lock or is the window thread. */
int32_t findhandler(uint32_t message) {
    int32_t low = 0;
    int32_t high = handlercount - 1;
    while (low <= high) {
        int32_t middle = (low + high) / 2;
        int32_t order = comparemessages(message, handlers[middle].message);
        if (order == 0) {
            return middle;
        }
        if (order < 0) {
            high = middle - 1;
        } else {
            low = middle + 1;
        }
    }
    return -1;
}

/* ---- the screen saver and monitor power-off ------------------------------------------ */

/* Turns the screen saver and monitor power-off off where they are on and remembers them
 * for closemainwindow. fresh (the open) also records a switch found off; a setting change
 * only adds a switch it finds on: switching off broadcasts a setting change, and the
 * handler must not then record "off" and make the close forget to switch them back on. */
void keepscreenawake(bool fresh) {
    BOOL active = FALSE;
    SystemParametersInfoA(SPI_GETSCREENSAVEACTIVE, 0, &active, 0);
    if (fresh || active != 0) {
        savedscreensaver = active;
    }
    BOOL poweroff = FALSE;
    SystemParametersInfoA(SPI_GETPOWEROFFACTIVE, 0, &poweroff, 0);
    if (fresh || poweroff != 0) {
        savedpoweroff = poweroff;
    }
    if (active != 0) {
        SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, 0, nullptr, SPIF_SENDCHANGE);
    }
    if (poweroff != 0) {
        SystemParametersInfoA(SPI_SETPOWEROFFACTIVE, 0, nullptr, SPIF_SENDCHANGE);
    }
}

/* Turns back on what keepscreenawake turned off. */
void restorescreensaver(void) {
    if (savedscreensaver != 0) {
        SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, (UINT)savedscreensaver, nullptr,
                              SPIF_SENDCHANGE);
    }
    if (savedpoweroff != 0) {
        SystemParametersInfoA(SPI_SETPOWEROFFACTIVE, (UINT)savedpoweroff, nullptr, SPIF_SENDCHANGE);
    }
}

HWND mainwindow(void) {
    return (HWND)at(display.hwnd).load();
}

/* The client area's top-left corner in screen coordinates into originx, originy. */
void recordorigin(HWND window) {
    POINT corner = {0, 0};
    ClientToScreen(window, &corner);
    at(display.originx).store(corner.x);
    at(display.originy).store(corner.y);
}

LRESULT CALLBACK hookprocedure(int code, WPARAM wparam, LPARAM lparam) {
    return keyboardhookproc(code, wparam, lparam);
}

/* ---- standard handlers -------------------------------------------------------------- */

/* The window test of the handlers: the library's record and its own window. */
bool ourwindow(displayrecord *record, void *window) {
    return record != nullptr && window == at(record->hwnd).load();
}

void trace(const char *text) {
    debugprint(&wintrace, 2, "%s", text);
}

/* Set by an activation, cleared by the deactivation that follows. */
int32_t activated = 0;

void hookkeyboard(void) {
    HHOOK hook = SetWindowsHookExA(WH_KEYBOARD, hookprocedure, nullptr, 0);
    at(keyboardhook).store((void *)hook);
}

void unhookkeyboard(void) {
    void *hook = at(keyboardhook).exchange(nullptr);
    if (hook != nullptr) {
        UnhookWindowsHookEx((HHOOK)hook);
    }
}

int32_t lib_activateapp(displayrecord *record, void *, uint32_t, uintptr_t wparam, intptr_t,
                        int32_t *) {
    debugprint(&wintrace, 2, "lib_activateapp (%s)", wparam != 0 ? "active" : "inactive");
    at(record->appactive).store((int32_t)wparam);
    return 0;
}

int32_t lib_activate(displayrecord *record, void *window, uint32_t message, uintptr_t wparam,
                     intptr_t lparam, int32_t *reply) {
    if (!ourwindow(record, window)) {
        return 1;
    }
    void (*audio)(int32_t) = at(audiocallback).load();
    if (LOWORD(wparam) != 0 && wparam < 0x10000) {
        *reply = (int32_t)DefWindowProcA((HWND)window, message, wparam, lparam);
        activated = 1;
        if (at(keyboardhookenabled).load() != 0 && at(keyboardhook).load() == nullptr) {
            hookkeyboard();
        }
        if (audio != nullptr) {
            audio(1);
        }
        trace("lib_activate (active)");
        return 1;
    }
    if (audio != nullptr && activated != 0) {
        audio(0);
    }
    if (activated != 0) {
        trace("lib_activate (inactive)");
        activated = 0;
    }
    if (at(keyboardhookenabled).load() != 0) {
        unhookkeyboard();
    }
    ShowCursor(TRUE);
    for (uint8_t &down : keydowntable) {
        at(down).store(0);
    }
    *reply = (int32_t)DefWindowProcA((HWND)window, message, wparam, lparam);
    return 1;
}

int32_t lib_winchange(displayrecord *record, void *window, uint32_t, uintptr_t, intptr_t,
                      int32_t *) {
    if (!ourwindow(record, window)) {
        return 0;
    }
    trace("lib_winchange");
    if (at(record->fullscreen).load() == 0) {
        recordorigin((HWND)window);
        if (displaychangedhook != nullptr) {
            displaychangedhook();
        }
    }
    return 0;
}

int32_t lib_close(displayrecord *record, void *window, uint32_t, uintptr_t, intptr_t, int32_t *) {
    if (ourwindow(record, window)) {
        trace("lib_close");
        PostQuitMessage(0);
    }
    return 1;
}

int32_t lib_windestroyed(displayrecord *record, void *window, uint32_t, uintptr_t, intptr_t,
                         int32_t *) {
    if (ourwindow(record, window)) {
        trace("lib_windestroyed");
    }
    return 0;
}

int32_t lib_paint(displayrecord *record, void *window, uint32_t, uintptr_t, intptr_t,
                  int32_t *reply) {
    if (!ourwindow(record, window) || window == nullptr) {
        return 1;
    }
    if (at(record->fullscreen).load() != 0) {
        SetForegroundWindow((HWND)window);
    }
    trace("lib_paint");
    /* A locked display surface holds liblock: the paint waits for the game to unlock. */
    enterlock(liblock);
    PAINTSTRUCT paint;
    BeginPaint((HWND)window, &paint);
    EndPaint((HWND)window, &paint);
    leavelock(liblock);
    if (at(record->fullscreen).load() == 0 && displaychangedhook != nullptr) {
        displaychangedhook();
    }
    *reply = 1;
    return 1;
}

int32_t lib_erasebkgnd(displayrecord *record, void *window, uint32_t, uintptr_t, intptr_t,
                       int32_t *) {
    return ourwindow(record, window) && at(record->fullscreen).load() != 0 ? 1 : 0;
}

int32_t lib_setchange(displayrecord *record, void *window, uint32_t, uintptr_t, intptr_t lparam,
                      int32_t *) {
    const char *section = (const char *)lparam;
    debugprint(&wintrace, 2, "lib_setchange '%s'", section != nullptr ? section : "");
    if (ourwindow(record, window) && at(record->fullscreen).load() != 0) {
        trace(" disable screensaver");
        keepscreenawake(false);
    }
    return 0;
}

int32_t lib_syscommand(displayrecord *record, void *, uint32_t, uintptr_t wparam, intptr_t,
                       int32_t *) {
    switch (wparam) {
    case SC_CLOSE:
    case SC_MINIMIZE:
    case SC_MAXIMIZE:
    case SC_RESTORE:
        return 0;
    default:
        return at(record->fullscreen).load();
    }
}

int32_t lib_stopthread(displayrecord *record, void *window, uint32_t, uintptr_t, intptr_t,
                       int32_t *) {
    if (ourwindow(record, window)) {
        trace("lib_stopthread");
        at(stopflag).store(1);
    }
    return 1;
}

/* The repeat count in the low word of lParam, at most the queue's size. */
int32_t repeatcount(intptr_t lparam) {
    int32_t count = (int32_t)LOWORD(lparam);
    return count < keyqueue.size ? count : keyqueue.size;
}

uint32_t scanof(intptr_t lparam) {
    return ((uint32_t)lparam >> 16) & 0x7F;
}

uint32_t extendedof(intptr_t lparam) {
    return ((uint32_t)lparam >> 24) & 1;
}

/* The message's scan code, through the translation table when one is installed. */
uint32_t translatedscan(intptr_t lparam) {
    uint32_t scan = scanof(lparam);
    return keyscantable != nullptr ? keyscantable[scan] : scan;
}

void setkeydown(uint32_t scan, uint8_t down) {
    if (scan < sizeof keydowntable) {
        at(keydowntable[scan]).store(down);
    }
}

int32_t lib_char(displayrecord *record, void *window, uint32_t, uintptr_t wparam, intptr_t lparam,
                 int32_t *) {
    if (!ourwindow(record, window)) {
        return 1;
    }
    int32_t count = repeatcount(lparam);
    for (int32_t i = 0; i < count; i++) {
        putkey((uint32_t)wparam, scanof(lparam), extendedof(lparam));
    }
    trace("lib_char");
    return 1;
}

int32_t lib_keydown(displayrecord *record, void *window, uint32_t message, uintptr_t wparam,
                    intptr_t lparam, int32_t *) {
    if (!ourwindow(record, window)) {
        return 1;
    }
    int32_t count = repeatcount(lparam);
    uint32_t scan = translatedscan(lparam);
    uint32_t extended = extendedof(lparam);
    lastscancode = (int32_t)scan;
    setkeydown(scan, 1);
    if (keyabort != 0 && (int32_t)scan == breakscancode && keydown(56) != 0) {
        OutputDebugStringA("User break key\n");
        DebugBreak();
    }
    if (at(rawkeytracking).load() != 0) {
        for (int32_t i = 0; i < count; i++) {
            putkey(0, scan, extended);
        }
        trace("lib_keydown xlate");
        return 1;
    }
    uint32_t code = keysubstitution(message, wparam);
    if (code != 0) {
        for (int32_t i = 0; i < count; i++) {
            putkey(code, scan, extended);
        }
        trace("lib_keydown substitution");
        return 1;
    }
    trace("lib_keydown default");
    return 0;
}

int32_t lib_keyup(displayrecord *record, void *window, uint32_t, uintptr_t, intptr_t lparam,
                  int32_t *) {
    if (!ourwindow(record, window)) {
        return 0;
    }
    uint32_t scan = translatedscan(lparam);
    if (scan == 42 || scan == 54) { /* either Shift releases both */
        setkeydown(42, 0);
        setkeydown(54, 0);
    } else {
        setkeydown(scan, 0);
    }
    trace("lib_keyup");
    return 0;
}

/* The position is taken as signed 16-bit words, so a point left of or above the client
 * area clamps to the near edge of the mouse box rather than the far one. */
void mousemessage(uintptr_t wparam, intptr_t lparam, int32_t pressed) {
    int32_t buttons = 0;
    if ((wparam & MK_LBUTTON) != 0) {
        buttons |= 1;
    }
    if ((wparam & MK_RBUTTON) != 0) {
        buttons |= 2;
    }
    if ((wparam & MK_MBUTTON) != 0) {
        buttons |= 4;
    }
    mouseevent((int16_t)LOWORD(lparam), (int16_t)HIWORD(lparam), buttons, pressed);
}

int32_t lib_mbutton(displayrecord *record, void *window, uint32_t, uintptr_t wparam,
                    intptr_t lparam, int32_t *) {
    if (ourwindow(record, window)) {
        trace("lib_mbutton");
        mousemessage(wparam, lparam, 1);
    }
    return 0;
}

int32_t lib_mouse(displayrecord *record, void *window, uint32_t, uintptr_t wparam, intptr_t lparam,
                  int32_t *) {
    if (ourwindow(record, window)) {
        trace("lib_mouse");
        mousemessage(wparam, lparam, 0);
    }
    return 0;
}

int32_t lib_power(displayrecord *, void *, uint32_t, uintptr_t, intptr_t, int32_t *reply) {
    trace("lib_power");
    *reply = BROADCAST_QUERY_DENY;
    return 1;
}

/* The standard set, installed by the first openmainwindow. */
constexpr struct {
    uint32_t message;
    winmessagehandler handler;
} standardhandlers[] = {
    {WM_ACTIVATEAPP, lib_activateapp},
    {WM_ACTIVATE, lib_activate},
    {WM_SIZE, lib_winchange},
    {WM_MOVE, lib_winchange},
    {WM_CLOSE, lib_close},
    {WM_DESTROY, lib_windestroyed},
    {WM_PAINT, lib_paint},
    {WM_ERASEBKGND, lib_erasebkgnd},
    {WM_SETTINGCHANGE, lib_setchange},
    {WM_SYSCOMMAND, lib_syscommand},
    {WM_STOPTHREAD, lib_stopthread},
    {WM_CHAR, lib_char},
    {WM_KEYDOWN, lib_keydown},
    {WM_SYSKEYDOWN, lib_keydown},
    {WM_KEYUP, lib_keyup},
    {WM_SYSKEYUP, lib_keyup},
    {WM_LBUTTONDOWN, lib_mbutton},
    {WM_LBUTTONDBLCLK, lib_mbutton},
    {WM_RBUTTONDOWN, lib_mbutton},
    {WM_RBUTTONDBLCLK, lib_mbutton},
    {WM_MBUTTONDOWN, lib_mbutton},
    {WM_MBUTTONDBLCLK, lib_mbutton},
    {WM_MOUSEMOVE, lib_mouse},
    {WM_LBUTTONUP, lib_mouse},
    {WM_RBUTTONUP, lib_mouse},
    {WM_MBUTTONUP, lib_mouse},
    {WM_POWERBROADCAST, lib_power},
};

void installstandardhandlers(void) {
    for (const auto &entry : standardhandlers) {
        setwinmessagehandler(entry.message, entry.handler);
    }
}

/* ---- window procedure --------------------------------------------------------------- */

/* The class's procedure. It looks the handler up without the table lock: a message sent
 * from another thread is served inside GetMessageA, outside the loop's lock, and taking
 * the lock there would deadlock a sender that holds it. */
LRESULT CALLBACK windowprocedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    int32_t index = findhandler(message);
    winmessagehandler handler = index >= 0 ? handlers[index].handler : nullptr;
    debugprint(&wintrace, handler != nullptr ? 3 : 4, "MSG=%08x [%1x %08x %08x] %c",
               (unsigned)message, window != nullptr ? 1u : 0u, (unsigned)wparam, (unsigned)lparam,
               handler != nullptr ? '=' : ';');
    int32_t reply = 0;
    int32_t handled = 0;
    if (handler != nullptr) {
        handled = handler(&display, window, message, wparam, lparam, &reply);
    }
    debugprint(&wintrace, handler != nullptr ? 2 : 4, "\n");
    if (handled != 0) {
        return reply;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

/* ---- main window creation (window thread) ------------------------------------------ */

HWND createmainwindow(void) {
    DWORD style;
    DWORD exstyle;
    int x, y, width, height;
    if (at(display.fullscreen).load() != 0) {
        at(display.originx).store(0);
        at(display.originy).store(0);
        x = 0;
        y = 0;
        width = GetSystemMetrics(SM_CXSCREEN);
        height = GetSystemMetrics(SM_CYSCREEN);
        style = windowstyle | WS_POPUP;
        exstyle = WS_EX_TOPMOST;
    } else {
        style = windowstyle | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
        exstyle = WS_EX_APPWINDOW;
        if ((graphicsflags & GRF_RESIZABLE) != 0) {
            style |= WS_THICKFRAME | WS_MAXIMIZEBOX;
        } else {
            style |= WS_BORDER;
            exstyle |= WS_EX_WINDOWEDGE;
        }
        /* -8192: not placed yet; the first display mode set centres the window. */
        RECT rect;
        rect.left = mainwindow() != nullptr ? at(display.originx).load() : -8192;
        rect.top = mainwindow() != nullptr ? at(display.originy).load() : -8192;
        rect.right = rect.left + display.width;
        rect.bottom = rect.top + display.height;
        AdjustWindowRect(&rect, style, FALSE);
        at(display.originx).store(rect.left);
        at(display.originy).store(rect.top);
        x = rect.left;
        y = rect.top;
        width = rect.right - rect.left;
        height = rect.bottom - rect.top;
    }
    debugprint(&wintrace, 6, "[WIND] creating new window @ %d,%d size=%dx%d\n", x, y, width,
               height);
    HWND window = CreateWindowExA(exstyle, applicationname, applicationname, style, x, y, width,
                                  height, nullptr, nullptr, instance, nullptr);
    debugprint(&wintrace, 6, "[WIND] created new window\n");
    if (window != nullptr) {
        SetCursor(nullptr);
        if (at(display.fullscreen).load() != 0) {
            ShowCursor(FALSE);
        }
        keycaps = 0;
        if (keyscantable == nullptr) {
            setlockkey(0, 0);
            setlockkey(1, 0);
            setlockkey(2, 0);
        }
    }
    return window;
}

/* ---- window thread ------------------------------------------------------------------ */

/* One round of the loop: a message dispatched under the table lock, or the quit
 * message handed to the program. */
void pumpmessage(void) {
    MSG msg;
    BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    if (got > 0) {
        debugprint(&wintrace, 5, "GetMsg@%08x::\n", (unsigned)at(tickcount).load());
        lockwinmessages();
        /* Keys that have a substitute code make no character message. */
        if (at(rawkeytracking).load() == 0 && keysubstitution(msg.message, msg.wParam) == 0) {
            TranslateMessage(&msg);
        }
        DispatchMessageA(&msg);
        unlockwinmessages();
        debugprint(&wintrace, 5, "GMDone@%08x!!\n", (unsigned)at(tickcount).load());
    } else if (got == 0) {
        if (applicationquitfunc != nullptr) {
            debugprint(&wintrace, 2, "quit message recieved - calling applicationquitfunc\n");
            applicationquitfunc();
        } else {
            debugprint(&wintrace, 2, "quit message recieved - installing windowsexittask\n");
            addsystemtask(windowsexittask, 1, 10);
        }
    }
}

/* Stop: the device goes, then the window; clearing hwnd ends the loop and releases
 * closemainwindow. */
void stopwindow(HWND window) {
    at(stopflag).store(0);
    if (display.directdraw != nullptr && display.modelist != nullptr) {
        debugprint(&wintrace, 1, "Dispose library DirectDraw\n");
        disposewindisplay(&display);
    }
    debugprint(&wintrace, 1, "Destroy window\n");
    DestroyWindow(window);
    at(display.hwnd).store(nullptr);
}

void windowthreadmain(void) {
    HWND window = createmainwindow();

    void *event = makeevent();
    at(handshake).store(event);
    waitevent(event);
    closeevent(event);

    at(display.hwnd).store((void *)window);
    at(stopflag).store(0);
    at(handshake).store(nullptr);
    /* A thread without a window would wait for messages that can never reach it. */
    if (window == nullptr) {
        return;
    }

    debugprint(&wintrace, 1, "[WIND] starting message loop\n");
    if (at(display.fullscreen).load() != 0) {
        SetForegroundWindow(window);
        at(display.originx).store(0);
        at(display.originy).store(0);
    } else {
        recordorigin(window);
    }
    SetActiveWindow(window);
    at(display.appactive).store(1);

    while (mainwindow() == window) {
        pumpmessage();
        if (at(stopflag).load() != 0) {
            stopwindow(window);
        }
        if (at(display.fullscreen).load() != 0) {
            HWND current = mainwindow();
            if (at(display.appactive).load() != 0 && current != nullptr) {
                if (at(display.lockedsurface).load() == nullptr) {
                    ShowCursor(FALSE);
                }
            } else if (current != nullptr && !IsIconic(current)) {
                SetForegroundWindow(current);
            }
        }
    }
    debugprint(&wintrace, 1, "message loop terminated\n");
}

/* applicationname from the first word of the command line (quoted or not), or "DLL". */
void nameapplication(void) {
    const char *line = GetCommandLineA();
    size_t length = 0;
    if (line != nullptr) {
        while (*line == ' ' || *line == '\t') {
            line++;
        }
        char end = ' ';
        if (*line == '"') {
            end = '"';
            line++;
        }
        while (line[length] != 0 && line[length] != end && (end == '"' || line[length] != '\t') &&
               length < sizeof commandname - 1) {
            length++;
        }
    }
    if (length == 0) {
        snprintf(commandname, sizeof commandname, "DLL");
    } else {
        memcpy(commandname, line, length);
        commandname[length] = 0;
    }
    applicationname = commandname;
}

int32_t registerwindowclass(void) {
    WNDCLASSEXA windowclass = {};
    windowclass.cbSize = sizeof windowclass;
    windowclass.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
    windowclass.lpfnWndProc = windowprocedure;
    windowclass.hInstance = instance;
    windowclass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(windowicon));
    windowclass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowclass.hbrBackground = (HBRUSH)GetStockObject(BLACK_BRUSH);
    windowclass.lpszMenuName = applicationname;
    windowclass.lpszClassName = applicationname;
    return RegisterClassExA(&windowclass) != 0;
}

} // namespace

void (*displaychangedhook)(void) = countdisplaychange;

void setaudiocallback(void (*callback)(int32_t activate)) {
    at(audiocallback).store(callback);
}

/* ---- handler table ------------------------------------------------------------------ */

critsection *makewinmessagelock(void) {
    critsection *lock = at(winmessagelock).load();
    if (lock != nullptr) {
        return lock;
    }
    static std::mutex creating;
    std::lock_guard<std::mutex> hold(creating);
    lock = at(winmessagelock).load();
    if (lock == nullptr) {
        lock = createlock();
        at(winmessagelock).store(lock);
    }
    return lock;
}

void lockwinmessages(void) {
    enterlock(makewinmessagelock());
}

void unlockwinmessages(void) {
    leavelock(makewinmessagelock());
}

int32_t setwinmessagehandler(uint32_t message, winmessagehandler handler) {
    lockwinmessages();
    int32_t result = 1;
    int32_t index = findhandler(message);
    if (index >= 0) {
        if (handler != nullptr) {
            handlers[index].handler = handler;
        } else {
            handlers[index].message = removedmessage;
            sorthandlers();
            handlercount--;
        }
    } else if (handler != nullptr && handlercount < WINMESSAGE_HANDLERS) {
        handlers[handlercount] = {message, handler};
        handlercount++;
        sorthandlers();
    } else {
        result = 0;
    }
    unlockwinmessages();
    return result;
}

winmessagehandler getwinmessagehandler(uint32_t message) {
    lockwinmessages();
    int32_t index = findhandler(message);
    winmessagehandler handler = index >= 0 ? handlers[index].handler : nullptr;
    unlockwinmessages();
    return handler;
}

/* ---- opening and closing ------------------------------------------------------------ */

void *openmainwindow(int32_t width, int32_t height, int32_t fullscreen) {
    makewinmessagelock();
    debugprint(&wintrace, 4, "[WIND] openmainwindow(%d,%d,%d)\n", (int)width, (int)height,
               (int)fullscreen);
    if (opencount++ == 0) {
        instance = GetModuleHandleA(nullptr);
        if (applicationname == nullptr) {
            nameapplication();
        }
        if (registerwindowclass() == 0) {
            THISTLE_SITE(site);
            fatalerror("initgraphics - FAILED WINDOWS CALL REGISTERCLASS (%d)",
                       (int)GetLastError());
            opencount = 0;
            return nullptr;
        }
    }
    if (handlersinstalled == 0) {
        keyqueue.lock = createlock();
        setkeyqueuesize(KEYQUEUE_ENTRIES);
        installstandardhandlers();
        handlersinstalled = 1;
    }

    at(display.appactive).store(1);
    display.width = width;
    display.height = height;
    at(display.fullscreen).store(fullscreen != 0 ? 1 : 0);

    threadrecord started;
    if (createlibthread(windowthreadmain, 0, 1, -1, &started) == nullptr) {
        return nullptr;
    }
    while (at(handshake).load() == nullptr) {
        runsystemtasks(0);
        sleepms(0);
    }
    /* The new window is not published yet: the one closed here is the old one. */
    if (mainwindow() != nullptr) {
        closemainwindow();
    }
    signalevent(at(handshake).load());
    while (at(handshake).load() != nullptr) {
        sleepms(0);
        runsystemtasks(0);
    }
    windowthread = started;

    HWND window = mainwindow();
    if (fullscreen != 0) {
        keepscreenawake(true);
    } else {
        SetForegroundWindow(window);
        centremainwindow(width, height);
        savedscreensaver = 0;
        savedpoweroff = 0;
    }
    return (void *)window;
}

void closemainwindow(void) {
    if (mainwindow() != nullptr) {
        debugprint(&wintrace, 4, "[WIND] closemainwindow\n");
        if (at(audiocallback).load() != nullptr) {
            THISTLE_SITE(site);
            fatalerror("closemainwindow - YOU MUST SHUT DOWN AUDIO FIRST.  CALL SNDrestore()\n");
        }
        debugprint(&wintrace, 5, "[WIND] stopping main window thread\n");
        sendwinmessage(WM_STOPTHREAD, 0, 0, 0);
        while (mainwindow() != nullptr) {
            sleepms(0);
            runsystemtasks(0);
        }
        debugprint(&wintrace, 5, "[WIND] main window has closed\n");
        /* Only now: switching them on broadcasts a setting change, and a full-screen
         * window still there would switch them off again. */
        restorescreensaver();
    }
    if (opencount > 0 && --opencount == 0) {
        UnregisterClassA(applicationname, instance);
    }
}

int32_t sendwinmessage(uint32_t message, intptr_t lparam, uintptr_t wparam, int32_t synchronous) {
    debugprint(&wintrace, 3, "sendwinmessage(%08x, %08x, %08x, %d)\n", (unsigned)message,
               (unsigned)lparam, (unsigned)wparam, (int)synchronous);
    HWND window = mainwindow();
    if (window == nullptr) {
        return 0;
    }
    BOOL sent = synchronous != 0 ? SendNotifyMessageA(window, message, wparam, lparam)
                                 : PostMessageA(window, message, wparam, lparam);
    if (sent == 0) {
        debugprint(&wintrace, 3, "sendwinmessage = %d\n", (int)(GetLastError() & 0xFFFF));
        return 0;
    }
    return 1;
}

uint32_t windowsexittask(uint32_t, int32_t) {
    debugprint(&wintrace, 1, "System task forcing exit.\n");
    releasedisplaywindow();
    removesystemtask(windowsexittask);
    exitprogram();
}

/* ---- placement ---------------------------------------------------------------------- */

void placemainwindow(int32_t x, int32_t y, int32_t width, int32_t height) {
    HWND window = mainwindow();
    if (window == nullptr) {
        return;
    }
    RECT rect = {x, y, x + width, y + height};
    AdjustWindowRect(&rect, (DWORD)GetWindowLongA(window, GWL_STYLE), FALSE);
    SetWindowPos(window, nullptr, rect.left, rect.top, rect.right - rect.left,
                 rect.bottom - rect.top, SWP_NOZORDER | SWP_NOACTIVATE);
    RECT client;
    if (GetClientRect(window, &client)) {
        display.width = client.right - client.left;
        display.height = client.bottom - client.top;
    }
    recordorigin(window);
}

void centremainwindow(int32_t width, int32_t height) {
    placemainwindow((GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                    (GetSystemMetrics(SM_CYSCREEN) - height) / 2, width, height);
}

void fillscreenwindow(void) {
    placemainwindow(0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
}

void *getmainwindow(void) {
    return (void *)mainwindow();
}

void getclientsize(int32_t *width, int32_t *height) {
    RECT client = {0, 0, 0, 0};
    GetClientRect(mainwindow(), &client);
    if (width != nullptr) {
        *width = client.right - client.left;
    }
    if (height != nullptr) {
        *height = client.bottom - client.top;
    }
}

int32_t showmainwindow(int32_t hide) {
    return ShowWindow(mainwindow(), hide != 0 ? SW_HIDE : SW_SHOW);
}

int32_t getcreatecount(void) {
    return display.createcount;
}

IDirectDraw2 *getdirectdraw(void) {
    return display.directdraw;
}

/* ---- key queue ---------------------------------------------------------------------- */

void putkey(uint32_t code, uint32_t scan, uint32_t extended) {
    enterlock(keyqueue.lock);
    keyqueue.entries[keyqueue.write] = (code << 16) | ((scan & 0xFF) << 8) | (extended & 0xFF);
    keyqueue.write = (keyqueue.write + 1) % keyqueue.size;
    if (keyqueue.write == keyqueue.read) {
        keyqueue.read = (keyqueue.read + 1) % keyqueue.size;
    }
    leavelock(keyqueue.lock);
}

int32_t setkeyqueuesize(int32_t n) {
    if (n > KEYQUEUE_ENTRIES) {
        n = KEYQUEUE_ENTRIES;
    }
    if (n < 1) {
        n = 1;
    }
    enterlock(keyqueue.lock);
    keyqueue.size = n;
    keyqueue.read = 0;
    keyqueue.write = 0;
    leavelock(keyqueue.lock);
    return n;
}

uint32_t keysubstitution(uint32_t message, uintptr_t virtualkey) {
    if ((message != WM_KEYDOWN && message != WM_SYSKEYDOWN) || virtualkey < 33 ||
        virtualkey > 123) {
        return 0;
    }
    if (virtualkey >= VK_F1 && virtualkey <= VK_F10) {
        return 0x3B00 + 0x100 * (uint32_t)(virtualkey - VK_F1);
    }
    switch (virtualkey) {
    case VK_PRIOR:
    case VK_NUMPAD9:
        return 0x4900;
    case VK_NEXT:
    case VK_NUMPAD3:
        return 0x5100;
    case VK_END:
    case VK_NUMPAD1:
        return 0x4F00;
    case VK_HOME:
    case VK_NUMPAD7:
        return 0x4700;
    case VK_LEFT:
    case VK_NUMPAD4:
        return 0x4B00;
    case VK_UP:
    case VK_NUMPAD8:
        return 0x4800;
    case VK_RIGHT:
    case VK_NUMPAD6:
        return 0x4D00;
    case VK_DOWN:
    case VK_NUMPAD2:
        return 0x5000;
    case VK_INSERT:
    case VK_NUMPAD0:
        return 0x5200;
    case VK_DELETE:
        return 0x5300;
    case VK_NUMPAD5:
        return 0x4C00;
    case VK_F11:
        return 0x8700;
    case VK_F12:
        return 0x8800;
    default:
        return 0;
    }
}

/* ---- keyboard hook and cursor ------------------------------------------------------- */

void installkeyboardhook(int32_t altflag, keyfilterfunction filter) {
    at(keyboardhookalt).store(altflag);
    at(keyboardhookfilter).store(filter);
    if (at(keyboardhook).load() == nullptr) {
        hookkeyboard();
        at(keyboardhookenabled).store(1);
    }
}

void removekeyboardhook(void) {
    if (at(display.fullscreen).load() != 0 && at(keyboardhook).load() != nullptr) {
        unhookkeyboard();
        at(keyboardhookenabled).store(0);
    }
}

intptr_t keyboardhookproc(int32_t code, uintptr_t wparam, intptr_t lparam) {
    if (code == HC_ACTION && at(display.appactive).load() != 0) {
        int32_t modifier = 0;
        int32_t key = 0;
        if (at(keyboardhookalt).load() != 0 && (lparam & (1 << 29)) != 0) {
            modifier = 56;
            if (wparam == VK_TAB) {
                key = 15;
            } else if (wparam == VK_ESCAPE) {
                key = 1;
            } else if (wparam == VK_SPACE && GetAsyncKeyState(VK_CONTROL) < 0) {
                key = 57;
            }
        } else if (GetAsyncKeyState(VK_CONTROL) < 0) {
            modifier = 29;
            if (wparam == VK_ESCAPE) {
                key = 1;
            }
        } else if (wparam == VK_LWIN || wparam == VK_RWIN || wparam == VK_APPS ||
                   wparam == VK_SNAPSHOT) {
            key = (int32_t)wparam;
        }
        bool swallow = key != 0;
        keyfilterfunction filter = at(keyboardhookfilter).load();
        if (swallow && filter != nullptr) {
            swallow = filter(modifier, key) != 0;
        }
        if (swallow) {
            return 1;
        }
    }
    return CallNextHookEx((HHOOK)at(keyboardhook).load(), code, wparam, lparam);
}

void placecursor(displayrecord *record, int32_t x, int32_t y) {
    if (record == nullptr) {
        record = &display;
    }
    POINT point = {x, y};
    if (!ClientToScreen((HWND)at(record->hwnd).load(), &point)) {
        point = {x, y};
    }
    SetCursorPos(point.x, point.y);
    SetCursor(nullptr);
}
