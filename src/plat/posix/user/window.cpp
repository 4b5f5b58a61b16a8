/*
 * window.cpp - window classes, windows, default processing and painting.
 *
 * Window state (class, procedure, styles, rectangle, visibility, minimised, need for
 * paint) lives here; the backend only mirrors a window on screen.
 * Geometry: a window's rectangle is its outer one; its client area lies inside the frame
 * and caption its style implies, with the classic sizes (caption 19, sizing frame 4,
 * fixed frame 3, thin border 1), so a program's AdjustWindowRect arithmetic comes out as
 * on Windows. The backend is given the client area; the window system draws its own frame
 * around it. A window belongs to
 * the thread that created it: only that thread may destroy it, and messages sent to it
 * from other threads run on it (message.cpp).
 * Locks: userlock (user.h), released around every procedure and backend call.
 * Limits: 1024 windows at a time; child windows get no backend window; windows of a
 * thread that ends are dropped without WM_DESTROY.
 */
#include "user.h"

#include "backend.h"
#include "input.h"

#include <strings.h>

namespace platuser {

namespace {

/* CW_USEDEFAULT sizes; there is no desktop layout to cascade over. */
constexpr int defaultwidth = 640;
constexpr int defaultheight = 480;
constexpr ATOM firstatom = 0xC000;

uint32_t hwndvalue(HWND h) {
    return (uint32_t)(uintptr_t)h;
}

/* The class named by a string (any case) or an atom; userlock held. */
classrec *findclass(LPCSTR name) {
    std::vector<classrec> &classes = state().classes;
    if (!name)
        return nullptr;
    if (IS_INTRESOURCE(name)) {
        size_t i = (size_t)(ULONG_PTR)name - firstatom;
        bool known = (ULONG_PTR)name >= firstatom && i < classes.size() && !classes[i].name.empty();
        return known ? &classes[i] : nullptr;
    }
    for (classrec &c : classes)
        if (!c.name.empty() && strcasecmp(c.name.c_str(), name) == 0)
            return &c;
    return nullptr;
}

/* Keeps WS_VISIBLE and WS_MINIMIZE in step with the window's state. */
void syncstyle(windowrec *w) {
    w->style &= ~(DWORD)(WS_VISIBLE | WS_MINIMIZE);
    if (w->visible)
        w->style |= WS_VISIBLE;
    if (w->minimised)
        w->style |= WS_MINIMIZE;
}

int showstate(const windowrec *w) {
    if (!w->visible)
        return PLAT_HIDDEN;
    return w->minimised ? PLAT_MINIMISED : PLAT_SHOWN;
}

/* The frame and caption of a window of this style: how far its client area lies inside
 * its window rectangle on each side. */
RECT frameinsets(DWORD style, BOOL menu) {
    constexpr LONG captionheight = 19, menuheight = 19;
    LONG edge = 0;
    if (style & WS_THICKFRAME)
        edge = 4;
    else if ((style & WS_CAPTION) == WS_CAPTION)
        edge = 3; /* a caption comes with a fixed dialog frame */
    else if (style & WS_BORDER)
        edge = 1;
    LONG top = edge;
    if ((style & WS_CAPTION) == WS_CAPTION)
        top += captionheight;
    if (menu)
        top += menuheight;
    return RECT{edge, top, edge, edge};
}

/* The client area of w in screen coordinates; userlock held. */
RECT clientarea(const windowrec *w) {
    RECT in = frameinsets(w->style, FALSE);
    RECT r{w->rect.left + in.left, w->rect.top + in.top, w->rect.right - in.right,
           w->rect.bottom - in.bottom};
    if (r.right < r.left)
        r.right = r.left;
    if (r.bottom < r.top)
        r.bottom = r.top;
    return r;
}

void releaseslot(windowrec *w) {
    if (state().foreground == makewindowhandle((int)(w - state().windows), w->gen))
        state().foreground = nullptr;
    w->used = false;
    w->title.clear();
    w->destroying = false;
    w->owner.reset();
    w->bw = nullptr;
}

/* Marks the window for WM_PAINT with erase and wakes its thread. userlock held; returns
 * whether the backend's wake is needed. */
bool invalidate(windowrec *w) {
    w->needpaint = true;
    w->neederase = true;
    return w->owner ? signalqueue(w->owner.get()) : false;
}

} // namespace

userstate &state() {
    static userstate *s = new userstate();
    return *s;
}

windowrec *findwindow(HWND hwnd) {
    uint32_t v = hwndvalue(hwnd);
    if ((uintptr_t)hwnd > 0x7FFFFFFFu || v == 0)
        return nullptr;
    int slot = (int)(v & 0xFFFF) - 1;
    if (slot < 0 || slot >= maxwindows)
        return nullptr;
    windowrec *w = &state().windows[slot];
    if (!w->used || w->gen != (uint16_t)(v >> 16))
        return nullptr;
    return w;
}

windowrec *livewindow(HWND hwnd) {
    windowrec *w = findwindow(hwnd);
    if (!w)
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return w;
}

bool findpaint(msgqueue *q, HWND filter, MSG *out) {
    userstate &st = state();
    for (int i = 0; i < maxwindows; i++) {
        windowrec *w = &st.windows[i];
        if (!w->used || w->destroying || w->owner.get() != q)
            continue;
        if (!w->needpaint || !w->visible || w->minimised)
            continue;
        HWND h = makewindowhandle(i, w->gen);
        if (filter && filter != h)
            continue;
        *out = MSG{};
        out->hwnd = h;
        out->message = WM_PAINT;
        out->time = msgtime();
        return true;
    }
    return false;
}

void dropthreadwindows(msgqueue *q) {
    std::vector<void *> gone;
    {
        userguard guard(state().lock);
        for (windowrec &w : state().windows) {
            if (!w.used || w.owner.get() != q)
                continue;
            if (w.bw)
                gone.push_back(w.bw);
            releaseslot(&w);
        }
    }
    const plat_backend *be = chosenbackend();
    for (void *bw : gone)
        be->destroywindow(bw);
}

} // namespace platuser

using namespace platuser;

void plat_invalidate(HWND hwnd) {
    userguard held(state().lock);
    windowrec *w = findwindow(hwnd);
    bool wake = w && invalidate(w);
    held.unlock();
    if (wake)
        plat_userbackend()->wake();
}

void plat_setminimised(HWND hwnd, int minimised) {
    userguard held(state().lock);
    windowrec *w = findwindow(hwnd);
    if (!w)
        return;
    bool wake = false;
    if (w->minimised && !minimised)
        wake = invalidate(w);
    w->minimised = minimised != 0;
    syncstyle(w);
    held.unlock();
    if (wake)
        plat_userbackend()->wake();
}

/* The window system moved or resized hwnd's client area (screen coordinates): the window
 * rectangle follows, and WM_MOVE / WM_SIZE are posted to its thread for what changed. */
void plat_windowmoved(HWND hwnd, int x, int y, int width, int height) {
    userguard held(state().lock);
    windowrec *w = findwindow(hwnd);
    if (!w)
        return;
    RECT in = frameinsets(w->style, FALSE);
    RECT before = clientarea(w);
    w->rect = RECT{x - in.left, y - in.top, x + width + in.right, y + height + in.bottom};
    held.unlock();
    if (x != before.left || y != before.top)
        PostMessageA(hwnd, WM_MOVE, 0, MAKELPARAM((WORD)x, (WORD)y));
    if (width != before.right - before.left || height != before.bottom - before.top)
        PostMessageA(hwnd, WM_SIZE, SIZE_RESTORED, MAKELPARAM((WORD)width, (WORD)height));
}

/* Registers a window class under its name (compared without case). Returns its atom,
 * or 0 with ERROR_CLASS_ALREADY_EXISTS for a name in use, ERROR_INVALID_PARAMETER for
 * a bad record. The name is copied; the other pointers are kept as given. */
ATOM WINAPI RegisterClassExA(const WNDCLASSEXA *lpwcx) {
    if (!lpwcx || lpwcx->cbSize != sizeof(WNDCLASSEXA) || !lpwcx->lpfnWndProc ||
        !lpwcx->lpszClassName || IS_INTRESOURCE(lpwcx->lpszClassName)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    userguard guard(state().lock);
    if (findclass(lpwcx->lpszClassName)) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    std::vector<classrec> &classes = state().classes;
    if (classes.size() >= 0x3FFF) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    classrec c;
    c.name = lpwcx->lpszClassName;
    c.wc = *lpwcx;
    c.wc.lpszClassName = nullptr;
    /* An unregistered class's entry (empty name) is taken again, atom and all. */
    for (classrec &old : classes) {
        if (old.name.empty()) {
            c.atom = old.atom;
            old = c;
            return c.atom;
        }
    }
    c.atom = (ATOM)(firstatom + classes.size());
    classes.push_back(c);
    return c.atom;
}

/* Removes a class by name or atom: FALSE with ERROR_CLASS_DOES_NOT_EXIST for an unknown
 * one, ERROR_CLASS_HAS_WINDOWS while a window of it exists. The instance is not used. */
BOOL WINAPI UnregisterClassA(LPCSTR lpClassName, HINSTANCE hInstance) {
    (void)hInstance;
    userguard guard(state().lock);
    classrec *c = findclass(lpClassName);
    if (!c) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    size_t index = (size_t)(c - state().classes.data());
    for (const windowrec &w : state().windows) {
        if (w.used && w.classindex == index) {
            SetLastError(ERROR_CLASS_HAS_WINDOWS);
            return FALSE;
        }
    }
    c->name.clear();
    return TRUE;
}

namespace {

/* Where a new window goes: CW_USEDEFAULT gives (0, 0) and the default size, a negative
 * size gives an empty window. */
RECT placement(int x, int y, int width, int height) {
    if (x == CW_USEDEFAULT)
        x = y = 0;
    if (width == CW_USEDEFAULT) {
        width = defaultwidth;
        height = defaultheight;
    }
    if (width < 0 || height < 0)
        width = height = 0;
    return RECT{x, y, x + width, y + height};
}

/* Takes a free slot for a window of cs's class, owned by the calling thread, and
 * returns its handle; null with the last error set for an unknown class or parent or a
 * full table. */
HWND newwindow(const CREATESTRUCTA &cs, WNDPROC *proc) {
    std::shared_ptr<msgqueue> me = currentqueueref();
    userguard guard(state().lock);
    classrec *c = findclass(cs.lpszClass);
    if (!c) {
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return nullptr;
    }
    if (cs.hwndParent && !livewindow(cs.hwndParent))
        return nullptr;
    userstate &st = state();
    int slot = -1;
    for (int n = 0; n < maxwindows && slot < 0; n++)
        if (!st.windows[(st.nextslot + n) % maxwindows].used)
            slot = (st.nextslot + n) % maxwindows;
    if (slot < 0) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    st.nextslot = (slot + 1) % maxwindows;
    windowrec *w = &st.windows[slot];
    w->gen = (uint16_t)(w->gen % 0x7FFF + 1);
    w->used = true;
    w->destroying = false;
    w->classindex = (size_t)(c - st.classes.data());
    w->proc = c->wc.lpfnWndProc;
    w->style = (DWORD)cs.style;
    w->exstyle = cs.dwExStyle;
    w->rect = RECT{cs.x, cs.y, cs.x + cs.cx, cs.y + cs.cy};
    w->title = cs.lpszName ? cs.lpszName : "";
    w->visible = (cs.style & WS_VISIBLE) != 0;
    w->minimised = (cs.style & WS_MINIMIZE) != 0;
    w->needpaint = w->neederase = w->visible;
    w->owner = me;
    w->bw = nullptr;
    *proc = w->proc;
    return makewindowhandle(slot, w->gen);
}

/* WM_NCCREATE, then WM_CREATE; false when the procedure refused the window, which is
 * gone again then. */
bool sendcreate(HWND h, WNDPROC proc, CREATESTRUCTA *cs) {
    if (!proc(h, WM_NCCREATE, 0, (LPARAM)cs)) {
        proc(h, WM_NCDESTROY, 0, 0);
        userguard guard(state().lock);
        if (windowrec *gone = findwindow(h))
            releaseslot(gone);
        return false;
    }
    if (proc(h, WM_CREATE, 0, (LPARAM)cs) == -1) {
        DestroyWindow(h);
        return false;
    }
    return true;
}

/* What the backend needs to mirror h, as the window is now (its procedure may have
 * moved or shown it); false when its own WM_CREATE destroyed it. */
bool describe(HWND h, const char *title, plat_windowdesc *desc) {
    userguard guard(state().lock);
    windowrec *w = findwindow(h);
    if (!w)
        return false;
    *desc = plat_windowdesc{};
    RECT client = clientarea(w);
    desc->hwnd = h;
    desc->x = (int)client.left;
    desc->y = (int)client.top;
    desc->width = (int)(client.right - client.left);
    desc->height = (int)(client.bottom - client.top);
    desc->style = w->style;
    desc->exstyle = w->exstyle;
    desc->title = title;
    desc->show = showstate(w);
    return true;
}

/* Makes the backend window of a new window; dropped again when the window went away
 * meanwhile. */
void attachbackend(const plat_backend *be, const plat_windowdesc &desc) {
    void *bw = be->createwindow(&desc);
    {
        userguard guard(state().lock);
        windowrec *w = findwindow(desc.hwnd);
        if (w && !w->destroying) {
            w->bw = bw;
            bw = nullptr;
        }
    }
    if (bw)
        be->destroywindow(bw);
}

/* WM_MOVE (the client area's corner on the screen) and WM_SIZE (its size) to the
 * window's procedure, on its own thread, as a window that moved or changed size gets
 * them. */
void sendplacement(HWND h, bool moved, bool sized) {
    RECT c;
    bool minimised;
    {
        userguard guard(state().lock);
        windowrec *w = findwindow(h);
        if (!w)
            return;
        c = clientarea(w);
        minimised = w->minimised;
    }
    if (moved)
        SendMessageA(h, WM_MOVE, 0, MAKELPARAM((WORD)c.left, (WORD)c.top));
    if (sized)
        SendMessageA(h, WM_SIZE, minimised ? SIZE_MINIMIZED : SIZE_RESTORED,
                     MAKELPARAM((WORD)(c.right - c.left), (WORD)(c.bottom - c.top)));
}

/* Sets the window rectangle (SWP_NOMOVE / SWP_NOSIZE keep a part), mirrors the client
 * area in the backend and sends WM_MOVE / WM_SIZE for what changed. */
BOOL place(HWND h, int x, int y, int width, int height, UINT flags, BOOL repaint) {
    userguard held(state().lock);
    windowrec *w = livewindow(h);
    if (!w)
        return FALSE;
    RECT before = w->rect;
    RECT r = before;
    if (!(flags & SWP_NOMOVE)) {
        r.right += x - r.left;
        r.bottom += y - r.top;
        r.left = x;
        r.top = y;
    }
    if (!(flags & SWP_NOSIZE)) {
        r.right = r.left + (width > 0 ? width : 0);
        r.bottom = r.top + (height > 0 ? height : 0);
    }
    w->rect = r;
    bool moved = r.left != before.left || r.top != before.top;
    bool sized = r.right - r.left != before.right - before.left ||
                 r.bottom - r.top != before.bottom - before.top;
    bool wake = repaint && invalidate(w);
    RECT c = clientarea(w);
    void *bw = w->bw;
    held.unlock();
    const plat_backend *be = plat_userbackend();
    if (bw && (moved || sized))
        be->movewindow(bw, (int)c.left, (int)c.top, (int)(c.right - c.left),
                       (int)(c.bottom - c.top));
    if (wake)
        be->wake();
    sendplacement(h, moved, sized);
    return TRUE;
}

} // namespace

/* Creates a window owned by the calling thread. WM_NCCREATE and WM_CREATE reach the
 * procedure (lParam: the CREATESTRUCTA) before the call returns; FALSE from WM_NCCREATE
 * or -1 from WM_CREATE destroy it again and the result is null. The backend shows the
 * window once WM_CREATE has accepted it. */
HWND WINAPI CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle,
                            int X, int Y, int nWidth, int nHeight, HWND hWndParent, HMENU hMenu,
                            HINSTANCE hInstance, LPVOID lpParam) {
    RECT r = placement(X, Y, nWidth, nHeight);
    CREATESTRUCTA cs;
    cs.lpCreateParams = lpParam;
    cs.hInstance = hInstance;
    cs.hMenu = hMenu;
    cs.hwndParent = hWndParent;
    cs.cy = (int)(r.bottom - r.top);
    cs.cx = (int)(r.right - r.left);
    cs.y = (int)r.top;
    cs.x = (int)r.left;
    cs.style = (LONG)dwStyle;
    cs.lpszName = lpWindowName;
    cs.lpszClass = lpClassName;
    cs.dwExStyle = dwExStyle;
    WNDPROC proc = nullptr;
    HWND h = newwindow(cs, &proc);
    if (!h || !sendcreate(h, proc, &cs))
        return nullptr;
    sendplacement(h, false, true); /* a new window hears of its size first */
    sendplacement(h, true, false);
    const plat_backend *be = plat_userbackend();
    plat_windowdesc desc;
    if (!describe(h, lpWindowName ? lpWindowName : "", &desc))
        return nullptr;
    installrequests();
    if (!(dwStyle & WS_CHILD))
        attachbackend(be, desc);
    return h;
}

/* Destroys a window of the calling thread: WM_DESTROY, then WM_NCDESTROY, then the
 * handle is dead. Another thread's window: FALSE with ERROR_ACCESS_DENIED, as Windows
 * does; a stale handle: FALSE with ERROR_INVALID_WINDOW_HANDLE. */
BOOL WINAPI DestroyWindow(HWND hWnd) {
    msgqueue *me = currentqueue();
    userguard held(state().lock);
    windowrec *w = livewindow(hWnd);
    if (!w)
        return FALSE;
    if (w->owner.get() != me) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (w->destroying)
        return TRUE; /* called again from its own WM_DESTROY */
    w->destroying = true;
    w->visible = false;
    WNDPROC proc = w->proc;
    void *bw = w->bw;
    held.unlock();

    const plat_backend *be = plat_userbackend();
    if (bw)
        be->showwindow(bw, PLAT_HIDDEN);
    proc(hWnd, WM_DESTROY, 0, 0);
    proc(hWnd, WM_NCDESTROY, 0, 0);
    held.lock();
    if ((w = findwindow(hWnd)) != nullptr) {
        bw = w->bw;
        releaseslot(w);
    }
    held.unlock();
    if (bw)
        be->destroywindow(bw);
    return TRUE;
}

/* TRUE while hWnd names a window that exists (including during its WM_DESTROY); for a
 * window of another process, while that process answers that it exists. */
BOOL WINAPI IsWindow(HWND hWnd) {
    if (isproxy(hWnd))
        return proxyiswindow(hWnd);
    userguard guard(state().lock);
    return findwindow(hWnd) ? TRUE : FALSE;
}

/* Default processing: WM_NCCREATE accepts, WM_CLOSE destroys, WM_PAINT validates,
 * WM_ERASEBKGND fills with the class brush, WM_SETCURSOR puts the class cursor up over
 * the client area, WM_SYSCOMMAND closes, minimises and restores, Alt+F4 closes.
 * Everything else gives 0. */
LRESULT WINAPI DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    constexpr WPARAM vkf4 = 0x73;
    switch (Msg) {
    case WM_NCCREATE:
        return TRUE;
    case WM_CLOSE:
        DestroyWindow(hWnd);
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        if (BeginPaint(hWnd, &ps))
            EndPaint(hWnd, &ps);
        return 0;
    }
    case WM_ERASEBKGND: {
        userguard held(state().lock);
        windowrec *w = findwindow(hWnd);
        if (!w)
            return 0;
        HBRUSH brush = state().classes[w->classindex].wc.hbrBackground;
        void *bw = w->bw;
        held.unlock();
        COLORREF colour;
        if (!brush || !brushcolour(brush, &colour))
            return 0;
        if (bw)
            plat_userbackend()->fillwindow(bw, colour);
        return 1;
    }
    case WM_SYSCOMMAND:
        switch (wParam & 0xFFF0) {
        case SC_CLOSE:
            SendMessageA(hWnd, WM_CLOSE, 0, 0);
            break;
        case SC_MINIMIZE:
            ShowWindow(hWnd, SW_MINIMIZE);
            break;
        case SC_MAXIMIZE:
            ShowWindow(hWnd, SW_MAXIMIZE);
            break;
        case SC_RESTORE:
            ShowWindow(hWnd, SW_RESTORE);
            break;
        default:
            break;
        }
        return 0;
    case WM_SETCURSOR: {
        /* Over the client area the pointer takes the class's cursor (none: left alone). */
        if (LOWORD(lParam) != HTCLIENT)
            return FALSE;
        userguard held(state().lock);
        windowrec *w = findwindow(hWnd);
        HCURSOR shape = w ? state().classes[w->classindex].wc.hCursor : nullptr;
        held.unlock();
        if (!shape)
            return FALSE;
        SetCursor(shape);
        return TRUE;
    }
    case WM_SYSKEYDOWN:
        if (wParam == vkf4 && (lParam & (1L << 29)))
            SendMessageA(hWnd, WM_SYSCOMMAND, SC_CLOSE, 0);
        return 0;
    default:
        return 0;
    }
}

/* Shows, hides, minimises or restores the window and mirrors it in the backend.
 * Returns whether it was visible before. A window that comes into view needs paint.
 * A window of another process is shown by its own process, on the window's thread. */
BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow) {
    if (isproxy(hWnd))
        return proxyshow(hWnd, nCmdShow);
    userguard held(state().lock);
    windowrec *w = livewindow(hWnd);
    if (!w)
        return FALSE;
    bool was = w->visible;
    int before = showstate(w);
    switch (nCmdShow) {
    case SW_HIDE:
        w->visible = false;
        break;
    case SW_SHOWNORMAL:
    case SW_SHOWMAXIMIZED:
    case SW_SHOWNOACTIVATE:
    case SW_RESTORE:
    case SW_SHOWDEFAULT:
        w->visible = true;
        w->minimised = false;
        break;
    case SW_SHOWMINIMIZED:
    case SW_MINIMIZE:
    case SW_SHOWMINNOACTIVE:
        w->visible = true;
        w->minimised = true;
        break;
    default: /* SW_SHOW, SW_SHOWNA and unknown commands: as it was, but visible */
        w->visible = true;
        break;
    }
    syncstyle(w);
    int after = showstate(w);
    bool wake = false;
    if (after == PLAT_SHOWN && before != PLAT_SHOWN)
        wake = invalidate(w);
    void *bw = w->bw;
    held.unlock();
    const plat_backend *be = plat_userbackend();
    if (bw && after != before)
        be->showwindow(bw, after);
    if (wake)
        be->wake();
    return was ? TRUE : FALSE;
}

/* Moves and sizes the window (outer rectangle, screen coordinates); WM_MOVE and WM_SIZE
 * follow as they changed. A repaint request marks it for WM_PAINT. */
BOOL WINAPI MoveWindow(HWND hWnd, int X, int Y, int nWidth, int nHeight, BOOL bRepaint) {
    return place(hWnd, X, Y, nWidth, nHeight, SWP_NOZORDER | SWP_NOACTIVATE, bRepaint);
}

/* Moves and sizes the window like MoveWindow, each part unless its SWP_NOMOVE or
 * SWP_NOSIZE flag says otherwise; SWP_SHOWWINDOW and SWP_HIDEWINDOW show (without
 * activating) and hide it. There is no z-order here: the insert-after window is not used. */
BOOL WINAPI SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy,
                         UINT uFlags) {
    (void)hWndInsertAfter;
    if (!place(hWnd, X, Y, cx, cy, uFlags, FALSE))
        return FALSE;
    if (uFlags & SWP_HIDEWINDOW)
        ShowWindow(hWnd, SW_HIDE);
    else if (uFlags & SWP_SHOWWINDOW)
        ShowWindow(hWnd, SW_SHOWNA);
    return TRUE;
}

BOOL WINAPI AdjustWindowRectEx(LPRECT lpRect, DWORD dwStyle, BOOL bMenu, DWORD dwExStyle) {
    (void)dwExStyle; /* none of the extended styles we know takes room */
    if (!lpRect) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    RECT in = frameinsets(dwStyle, bMenu);
    lpRect->left -= in.left;
    lpRect->top -= in.top;
    lpRect->right += in.right;
    lpRect->bottom += in.bottom;
    return TRUE;
}

BOOL WINAPI AdjustWindowRect(LPRECT lpRect, DWORD dwStyle, BOOL bMenu) {
    return AdjustWindowRectEx(lpRect, dwStyle, bMenu, 0);
}

BOOL WINAPI GetWindowRect(HWND hWnd, LPRECT lpRect) {
    userguard guard(state().lock);
    windowrec *w = livewindow(hWnd);
    if (!w || !lpRect)
        return FALSE;
    *lpRect = w->rect;
    return TRUE;
}

/* The client area's size as a rectangle at (0, 0). */
BOOL WINAPI GetClientRect(HWND hWnd, LPRECT lpRect) {
    userguard guard(state().lock);
    windowrec *w = livewindow(hWnd);
    if (!w || !lpRect)
        return FALSE;
    RECT c = clientarea(w);
    *lpRect = RECT{0, 0, c.right - c.left, c.bottom - c.top};
    return TRUE;
}

BOOL WINAPI ClientToScreen(HWND hWnd, LPPOINT lpPoint) {
    userguard guard(state().lock);
    windowrec *w = livewindow(hWnd);
    if (!w || !lpPoint)
        return FALSE;
    RECT c = clientarea(w);
    lpPoint->x += c.left;
    lpPoint->y += c.top;
    return TRUE;
}

BOOL WINAPI IsIconic(HWND hWnd) {
    userguard guard(state().lock);
    windowrec *w = findwindow(hWnd);
    return w && w->minimised ? TRUE : FALSE;
}

/* GWL_STYLE and GWL_EXSTYLE; other indexes give 0 with ERROR_INVALID_INDEX. */
LONG WINAPI GetWindowLongA(HWND hWnd, int nIndex) {
    userguard guard(state().lock);
    windowrec *w = livewindow(hWnd);
    if (!w)
        return 0;
    if (nIndex == GWL_STYLE)
        return (LONG)w->style;
    if (nIndex == GWL_EXSTYLE)
        return (LONG)w->exstyle;
    SetLastError(ERROR_INVALID_INDEX);
    return 0;
}

/* Sends WM_PAINT at once when the window has something to repaint. */
BOOL WINAPI UpdateWindow(HWND hWnd) {
    userguard held(state().lock);
    windowrec *w = livewindow(hWnd);
    if (!w)
        return FALSE;
    bool paint = w->needpaint && w->visible && !w->minimised;
    held.unlock();
    if (paint)
        SendMessageA(hWnd, WM_PAINT, 0, 0);
    return TRUE;
}

/* Validates the window and sends WM_ERASEBKGND when an erase is pending; fErase tells
 * whether the erase was left to the caller. The HDC is a token for EndPaint only: the
 * layer has no drawing calls. */
HDC WINAPI BeginPaint(HWND hWnd, LPPAINTSTRUCT lpPaint) {
    userguard held(state().lock);
    windowrec *w = findwindow(hWnd);
    if (!w || !lpPaint) {
        SetLastError(w ? ERROR_INVALID_PARAMETER : ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    bool erase = w->neederase;
    w->neederase = false;
    w->needpaint = false;
    *lpPaint = PAINTSTRUCT{};
    RECT client = clientarea(w);
    lpPaint->rcPaint = RECT{0, 0, client.right - client.left, client.bottom - client.top};
    held.unlock();
    HDC dc = (HDC)(uintptr_t)(hwndvalue(hWnd) | 0x80000000u);
    lpPaint->hdc = dc;
    if (erase)
        lpPaint->fErase = SendMessageA(hWnd, WM_ERASEBKGND, (WPARAM)dc, 0) == 0;
    return dc;
}

/* Ends a paint begun by BeginPaint; FALSE for a stale window. */
BOOL WINAPI EndPaint(HWND hWnd, const PAINTSTRUCT *lpPaint) {
    (void)lpPaint;
    ddrawrepaint(hWnd);
    return IsWindow(hWnd);
}

/* Makes the window the foreground window of the layer and has the backend raise it
 * (SDL also restores it when minimised; headless only records it). A window of
 * another process (a proxy from FindWindowA) is raised by its own process. FALSE with
 * ERROR_INVALID_WINDOW_HANDLE for a stale handle. */
BOOL WINAPI SetForegroundWindow(HWND hWnd) {
    if (isproxy(hWnd))
        return proxyforeground(hWnd);
    userguard held(state().lock);
    windowrec *w = livewindow(hWnd);
    if (!w)
        return FALSE;
    state().foreground = hWnd;
    void *bw = w->bw;
    held.unlock();
    if (bw)
        plat_userbackend()->raisewindow(bw);
    return TRUE;
}

/* The window SetForegroundWindow last raised in this process while it still exists,
 * else null. Focus the window system gives by itself (a click) is not tracked. */
HWND WINAPI GetForegroundWindow(void) {
    userguard guard(state().lock);
    return state().foreground;
}

/* Makes a window of the calling thread the active window: it takes the keyboard focus and
 * gets WM_ACTIVATE (after WM_ACTIVATEAPP when the program had none active), the window
 * that had it WM_ACTIVATE with WA_INACTIVE. Returns the window active before. Another
 * thread's window: null with ERROR_ACCESS_DENIED (Windows wants the caller's own). */
HWND WINAPI SetActiveWindow(HWND hWnd) {
    msgqueue *me = currentqueue();
    {
        userguard guard(state().lock);
        windowrec *w = livewindow(hWnd);
        if (!w)
            return nullptr;
        if (w->owner.get() != me) {
            SetLastError(ERROR_ACCESS_DENIED);
            return nullptr;
        }
    }
    return setfocuswindow(hWnd);
}

/* The active window of the program (the one with the keyboard focus), or null. */
HWND WINAPI GetActiveWindow(void) {
    return focuswindow();
}
