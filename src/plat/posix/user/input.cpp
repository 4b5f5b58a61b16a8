/*
 * input.cpp - keyboard and mouse input of the POSIX window layer, for every backend.
 *
 * Backends deliver raw events through the sink (plat/backend.h): a scan code going down
 * or up, mouse moves and buttons, focus gained or lost. Here they become the messages a
 * Windows program gets: key messages with the keystroke flags in lParam, mouse messages
 * with MK_ flags and double clicks, activation messages. This module also owns the
 * scan-code and virtual-key tables (PC set 1, US layout), the key state behind
 * GetKeyState and GetAsyncKeyState, keybd_event, the WH_KEYBOARD hook chain, the
 * character rule of TranslateMessage and the focus window.
 *
 * Key state, and how it relates to the messages (the decision the callers rely on):
 *   - process-wide: the down bit of every virtual key as the keyboard and mouse last
 *     reported it, and a toggle bit per key flipped by each press. GetAsyncKeyState
 *     reads it, so a keyboard hook sees the keyboard as it is now.
 *   - per thread: the down bits as the key and button messages the thread has retrieved
 *     left them. GetKeyState reads these, with the process-wide toggle bit: a lock key's
 *     toggle changes as the keyboard delivers the press, so a thread that sets a lock key
 *     with keybd_event sees the new state at once, whether or not it reads messages.
 *   - each keyboard message carries the modifiers and Caps Lock as they were when it was
 *     made, so its character does not depend on what happened since.
 *
 * Threads and locks: the sink may be called from any thread without a layer lock held.
 * `inputlock` guards the process-wide state and is held while a message is posted, so
 * messages leave in the order the events came in; it is taken before userlock, never
 * after. Hooks run with no lock held, on the thread that retrieves the key message.
 * Limits: US layout only; Shift with the numeric pad does not turn Num Lock keys into
 * cursor keys; no Alt+numpad character codes.
 */
#include "input.h"

#include "backend.h"
#include "user.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

namespace platuser {

namespace {

/* ---- tables -------------------------------------------------------------------- */

/* Virtual keys of the scan codes without the E0 prefix; the numeric pad (0x47..0x53) as
 * Num Lock on gives it. Pause is 0x45 without the prefix, Num Lock 0x45 with it. */
/* clang-format off */
constexpr BYTE basekeys[0x59] = {
    /* 0x00 */ 0, VK_ESCAPE, '1', '2', '3', '4', '5', '6',
    /* 0x08 */ '7', '8', '9', '0', VK_OEM_MINUS, VK_OEM_PLUS, VK_BACK, VK_TAB,
    /* 0x10 */ 'Q', 'W', 'E', 'R', 'T', 'Y', 'U', 'I',
    /* 0x18 */ 'O', 'P', VK_OEM_4, VK_OEM_6, VK_RETURN, VK_LCONTROL, 'A', 'S',
    /* 0x20 */ 'D', 'F', 'G', 'H', 'J', 'K', 'L', VK_OEM_1,
    /* 0x28 */ VK_OEM_7, VK_OEM_3, VK_LSHIFT, VK_OEM_5, 'Z', 'X', 'C', 'V',
    /* 0x30 */ 'B', 'N', 'M', VK_OEM_COMMA, VK_OEM_PERIOD, VK_OEM_2, VK_RSHIFT, VK_MULTIPLY,
    /* 0x38 */ VK_LMENU, VK_SPACE, VK_CAPITAL, VK_F1, VK_F2, VK_F3, VK_F4, VK_F5,
    /* 0x40 */ VK_F6, VK_F7, VK_F8, VK_F9, VK_F10, VK_PAUSE, VK_SCROLL, VK_NUMPAD7,
    /* 0x48 */ VK_NUMPAD8, VK_NUMPAD9, VK_SUBTRACT, VK_NUMPAD4, VK_NUMPAD5, VK_NUMPAD6, VK_ADD, VK_NUMPAD1,
    /* 0x50 */ VK_NUMPAD2, VK_NUMPAD3, VK_NUMPAD0, VK_DECIMAL, 0, 0, 0, VK_F11,
    /* 0x58 */ VK_F12,
};
/* clang-format on */

/* The numeric pad 0x47..0x53 with Num Lock off (0: the key does not change). */
constexpr BYTE padkeys[13] = {
    /* 0x47 */ VK_HOME, VK_UP,   VK_PRIOR, 0,         VK_LEFT,   VK_CLEAR, VK_RIGHT, 0,
    /* 0x4F */ VK_END,  VK_DOWN, VK_NEXT,  VK_INSERT, VK_DELETE,
};

/* Keys with the E0 prefix (lParam bit 24). */
struct extkey {
    BYTE scan;
    BYTE vk;
};
constexpr extkey extkeys[] = {
    {0x1C, VK_RETURN}, /* numeric pad Enter */
    {0x1D, VK_RCONTROL}, {0x35, VK_DIVIDE}, {0x37, VK_SNAPSHOT}, {0x38, VK_RMENU},
    {0x45, VK_NUMLOCK},  {0x47, VK_HOME},   {0x48, VK_UP},       {0x49, VK_PRIOR},
    {0x4B, VK_LEFT},     {0x4D, VK_RIGHT},  {0x4F, VK_END},      {0x50, VK_DOWN},
    {0x51, VK_NEXT},     {0x52, VK_INSERT}, {0x53, VK_DELETE},   {0x5B, VK_LWIN},
    {0x5C, VK_RWIN},     {0x5D, VK_APPS},
};

/* Characters of the keys that give the same one with Caps Lock on or off. */
struct charkey {
    BYTE vk;
    char plain;
    char shifted;
};
constexpr charkey charkeys[] = {
    {'1', '1', '!'},          {'2', '2', '@'},           {'3', '3', '#'},
    {'4', '4', '$'},          {'5', '5', '%'},           {'6', '6', '^'},
    {'7', '7', '&'},          {'8', '8', '*'},           {'9', '9', '('},
    {'0', '0', ')'},          {VK_OEM_MINUS, '-', '_'},  {VK_OEM_PLUS, '=', '+'},
    {VK_OEM_4, '[', '{'},     {VK_OEM_6, ']', '}'},      {VK_OEM_5, '\\', '|'},
    {VK_OEM_1, ';', ':'},     {VK_OEM_7, '\'', '"'},     {VK_OEM_3, '`', '~'},
    {VK_OEM_COMMA, ',', '<'}, {VK_OEM_PERIOD, '.', '>'}, {VK_OEM_2, '/', '?'},
    {VK_SPACE, ' ', ' '},     {VK_RETURN, 0x0D, 0x0D},   {VK_BACK, 0x08, 0x08},
    {VK_TAB, 0x09, 0x09},     {VK_ESCAPE, 0x1B, 0x1B},   {VK_MULTIPLY, '*', '*'},
    {VK_ADD, '+', '+'},       {VK_SUBTRACT, '-', '-'},   {VK_DIVIDE, '/', '/'},
    {VK_DECIMAL, '.', '.'},
};

/* The generic virtual key that messages carry for a left or right modifier. */
UINT messagevk(UINT vk) {
    switch (vk) {
    case VK_LSHIFT:
    case VK_RSHIFT:
        return VK_SHIFT;
    case VK_LCONTROL:
    case VK_RCONTROL:
        return VK_CONTROL;
    case VK_LMENU:
    case VK_RMENU:
        return VK_MENU;
    default:
        return vk;
    }
}

/* The left or right modifier a generic one stands for, told by its scan code. */
UINT sidedvk(UINT vk, int scan, bool ext) {
    switch (vk) {
    case VK_SHIFT:
        return scan == 0x36 ? VK_RSHIFT : VK_LSHIFT;
    case VK_CONTROL:
        return ext ? VK_RCONTROL : VK_LCONTROL;
    case VK_MENU:
        return ext ? VK_RMENU : VK_LMENU;
    default:
        return vk;
    }
}

/* Sets vk's down bit; a left or right modifier also sets its generic key, which is down
 * while either side is. */
void setdown(BYTE *down, UINT vk, bool isdown) {
    if (vk > 0xFF)
        return;
    down[vk] = isdown;
    UINT left = 0, right = 0, generic = messagevk(vk);
    switch (generic) {
    case VK_SHIFT:
        left = VK_LSHIFT, right = VK_RSHIFT;
        break;
    case VK_CONTROL:
        left = VK_LCONTROL, right = VK_RCONTROL;
        break;
    case VK_MENU:
        left = VK_LMENU, right = VK_RMENU;
        break;
    default:
        return;
    }
    if (generic != vk)
        down[generic] = down[left] || down[right];
}

/* Mouse positions come in client coordinates; GetCursorPos gives the screen's. */
void notepointer(HWND hwnd, int x, int y) {
    POINT p{x, y};
    if (ClientToScreen(hwnd, &p))
        notecursorpos((int)p.x, (int)p.y);
}

UINT buttonvk(int button) {
    return button == PLAT_RIGHT ? VK_RBUTTON : button == PLAT_MIDDLE ? VK_MBUTTON : VK_LBUTTON;
}

/* ---- process-wide state -------------------------------------------------------- */

/* Two presses of the same button this close in time and space make a double click (a
 * box 4 pixels wide and high around the first press). */
constexpr auto dblclicktime = std::chrono::milliseconds(500);
constexpr int dblclickbox = 4;

struct keyboard {
    std::mutex inputlock;
    BYTE down[256] = {};
    BYTE toggled[256] = {};
    HWND focus = nullptr;
    /* The press that a second one may turn into a double click. */
    bool armed = false;
    HWND clickwindow = nullptr;
    int clickbutton = 0, clickx = 0, clicky = 0;
    std::chrono::steady_clock::time_point clickat;
};

/* Never destroyed: threads still running at exit may deliver input. */
keyboard &kb() {
    static keyboard *k = new keyboard();
    return *k;
}

/* The calling thread's down bits, as its retrieved messages left them. */
thread_local BYTE threaddown[256];

bool windowexists(HWND hwnd) {
    userguard guard(state().lock);
    return findwindow(hwnd) != nullptr;
}

bool windowminimised(HWND hwnd) {
    userguard guard(state().lock);
    windowrec *w = findwindow(hwnd);
    return w && w->minimised;
}

bool windowdblclks(HWND hwnd) {
    userguard guard(state().lock);
    windowrec *w = findwindow(hwnd);
    return w && (state().classes[w->classindex].wc.style & CS_DBLCLKS);
}

/* The modifier bits of a message made now; inputlock held. */
unsigned keyboardmods(const keyboard &k) {
    unsigned mods = inp_keyboard;
    if (k.down[VK_SHIFT])
        mods |= inp_shift;
    if (k.down[VK_CONTROL])
        mods |= inp_ctrl;
    if (k.down[VK_MENU])
        mods |= inp_alt;
    if (k.toggled[VK_CAPITAL])
        mods |= inp_caps;
    return mods;
}

/* A key went down or up on the keyboard: key state, toggle and the key message for
 * target (none: state only). vk may be a generic modifier; scan and ext tell its side.
 * repeats > 0: that many auto-repeats in one message. inputlock held. */
void deliverkey(keyboard &k, HWND target, UINT vk, int scan, bool ext, bool down, int repeats) {
    UINT sided = sidedvk(vk, scan, ext);
    UINT msgvk = messagevk(sided);
    if (sided == 0 || sided > 0xFF)
        return;
    bool was = k.down[sided];
    if (down && !was) {
        k.toggled[sided] ^= 1;
        if (msgvk != sided)
            k.toggled[msgvk] ^= 1;
    }
    setdown(k.down, sided, down);
    bool alt = k.down[VK_MENU];
    bool ctrl = k.down[VK_CONTROL];
    /* Keys with Alt held, and Alt itself and F10, are system keys unless Ctrl is down. */
    bool sys = !ctrl && (alt || msgvk == VK_MENU || msgvk == VK_F10);
    UINT msg = down ? (sys ? WM_SYSKEYDOWN : WM_KEYDOWN) : (sys ? WM_SYSKEYUP : WM_KEYUP);
    DWORD count = down && repeats > 1 ? (DWORD)std::min(repeats, 0xFFFF) : 1;
    DWORD lp = count | ((DWORD)(scan & 0xFF) << 16);
    if (ext)
        lp |= 1u << 24;
    if (alt)
        lp |= 1u << 29;
    if (!down || was || repeats > 0)
        lp |= 1u << 30; /* previous state: down before this message */
    if (!down)
        lp |= 1u << 31;
    if (target)
        postinput(target, msg, msgvk, (LPARAM)lp, keyboardmods(k));
}

/* The activation messages of a focus change; inputlock held. */
struct activation {
    HWND to;
    UINT msg;
    WPARAM wparam;
    LPARAM lparam;
    unsigned input;
};

std::vector<activation> changefocus(keyboard &k, HWND to) {
    std::vector<activation> out;
    HWND from = k.focus && windowexists(k.focus) ? k.focus : nullptr;
    k.focus = to;
    /* Keys held when the process loses the focus are released without key-ups: their
     * key-ups go to some other program. */
    if (!to) {
        memset(k.down, 0, sizeof k.down);
        k.armed = false;
    }
    if (from == to)
        return out;
    if (from) {
        WPARAM w = MAKEWPARAM(WA_INACTIVE, windowminimised(from));
        out.push_back({from, WM_ACTIVATE, w, (LPARAM)to, to ? 0u : (unsigned)inp_release});
        if (!to)
            out.push_back({from, WM_ACTIVATEAPP, FALSE, 0, 0});
    }
    if (to) {
        if (!from)
            out.push_back({to, WM_ACTIVATEAPP, TRUE, 0, 0});
        out.push_back(
            {to, WM_ACTIVATE, MAKEWPARAM(WA_ACTIVE, windowminimised(to)), (LPARAM)from, 0});
    }
    return out;
}

/* ---- keyboard hooks ------------------------------------------------------------ */

struct hookrec {
    HHOOK handle;
    HOOKPROC proc;
    DWORD thread; /* 0: every thread of the process */
    std::atomic<bool> alive{true};
};

/* Never destroyed, like the keyboard: a thread may still retrieve keys at exit. */
struct hookchain {
    std::mutex lock;
    std::vector<std::shared_ptr<hookrec>> hooks; /* most recent first */
    uintptr_t count = 0;
};

hookchain &chain() {
    static hookchain *c = new hookchain();
    return *c;
}

/* The chain a thread is running: the hooks as they were when the message came, and the
 * one being called, so CallNextHookEx knows where to go on (also after the hook
 * unhooked itself). */
struct chainrun {
    std::vector<std::shared_ptr<hookrec>> list;
    size_t at = 0;
};
thread_local chainrun *running = nullptr;

LRESULT callfrom(chainrun &c, size_t from, int code, WPARAM wparam, LPARAM lparam) {
    for (size_t i = from; i < c.list.size(); i++) {
        if (!c.list[i]->alive.load())
            continue;
        size_t saved = c.at;
        c.at = i;
        LRESULT r = c.list[i]->proc(code, wparam, lparam);
        c.at = saved;
        return r;
    }
    return 0;
}

} // namespace

/* ---- for the other modules of the window side ---------------------------------- */

UINT scantovk(int scan, bool ext, bool numlock) {
    if (ext) {
        for (const extkey &e : extkeys)
            if (e.scan == scan)
                return e.vk;
        return 0;
    }
    if (scan < 0 || scan >= (int)sizeof basekeys)
        return 0;
    if (!numlock && scan >= 0x47 && scan <= 0x53 && padkeys[scan - 0x47])
        return padkeys[scan - 0x47];
    return basekeys[scan];
}

int vktoscan(UINT vk, bool *ext) {
    *ext = false;
    switch (vk) {
    case VK_SHIFT:
        vk = VK_LSHIFT;
        break;
    case VK_CONTROL:
        vk = VK_LCONTROL;
        break;
    case VK_MENU:
        vk = VK_LMENU;
        break;
    default:
        break;
    }
    for (int s = 1; s < (int)sizeof basekeys; s++)
        if (basekeys[s] == vk)
            return s;
    for (const extkey &e : extkeys) {
        if (e.vk == vk) {
            *ext = true;
            return e.scan;
        }
    }
    for (int i = 0; i < (int)sizeof padkeys; i++)
        if (padkeys[i] == vk)
            return 0x47 + i;
    return 0;
}

int keychar(UINT vk, unsigned mods) {
    bool shift = mods & inp_shift;
    bool ctrl = mods & inp_ctrl;
    if (ctrl && (mods & inp_alt))
        return 0; /* AltGr on layouts that have it; nothing on a US keyboard */
    if (vk >= 'A' && vk <= 'Z') {
        if (ctrl)
            return (int)(vk - 'A' + 1);
        return shift != ((mods & inp_caps) != 0) ? (int)vk : (int)(vk - 'A' + 'a');
    }
    if (ctrl) {
        /* The control characters a US keyboard types, as Windows gives them. */
        switch (vk) {
        case VK_OEM_4:
            return 0x1B;
        case VK_OEM_5:
            return 0x1C;
        case VK_OEM_6:
            return 0x1D;
        case '6':
            return shift ? 0x1E : 0;
        case VK_OEM_MINUS:
            return shift ? 0x1F : 0;
        case VK_RETURN:
            return 0x0A;
        case VK_BACK:
            return 0x7F;
        case VK_SPACE:
            return ' ';
        default:
            return 0;
        }
    }
    if (vk >= VK_NUMPAD0 && vk <= VK_NUMPAD9)
        return (int)('0' + vk - VK_NUMPAD0);
    for (const charkey &c : charkeys)
        if (c.vk == vk)
            return shift ? c.shifted : c.plain;
    return 0;
}

unsigned threadmods() {
    unsigned mods = 0;
    if (threaddown[VK_SHIFT])
        mods |= inp_shift;
    if (threaddown[VK_CONTROL])
        mods |= inp_ctrl;
    if (threaddown[VK_MENU])
        mods |= inp_alt;
    keyboard &k = kb();
    std::lock_guard<std::mutex> guard(k.inputlock);
    if (k.toggled[VK_CAPITAL])
        mods |= inp_caps;
    return mods;
}

bool threadkeydown(UINT vk) {
    return vk <= 0xFF && threaddown[vk];
}

void noteretrieved(const MSG &msg, unsigned input) {
    WPARAM w = msg.wParam;
    int scan = (int)((msg.lParam >> 16) & 0xFF);
    bool ext = (msg.lParam >> 24) & 1;
    switch (msg.message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_KEYUP:
    case WM_SYSKEYUP:
        if (w <= 0xFF)
            setdown(threaddown, sidedvk((UINT)w, scan, ext),
                    msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN);
        break;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_LBUTTONUP:
        threaddown[VK_LBUTTON] = msg.message != WM_LBUTTONUP;
        break;
    case WM_RBUTTONDOWN:
    case WM_RBUTTONDBLCLK:
    case WM_RBUTTONUP:
        threaddown[VK_RBUTTON] = msg.message != WM_RBUTTONUP;
        break;
    case WM_MBUTTONDOWN:
    case WM_MBUTTONDBLCLK:
    case WM_MBUTTONUP:
        threaddown[VK_MBUTTON] = msg.message != WM_MBUTTONUP;
        break;
    case WM_ACTIVATE:
        if (input & inp_release)
            memset(threaddown, 0, sizeof threaddown);
        break;
    default:
        break;
    }
}

bool runkeyhooks(const MSG &msg) {
    chainrun c;
    {
        hookchain &hc = chain();
        std::lock_guard<std::mutex> guard(hc.lock);
        DWORD me = GetCurrentThreadId();
        for (const std::shared_ptr<hookrec> &h : hc.hooks)
            if (h->thread == 0 || h->thread == me)
                c.list.push_back(h);
    }
    if (c.list.empty())
        return false;
    chainrun *outer = running; /* a hook that reads messages itself runs chains inside */
    running = &c;
    LRESULT r = callfrom(c, 0, HC_ACTION, msg.wParam, msg.lParam);
    running = outer;
    return r != 0;
}

HWND focuswindow() {
    keyboard &k = kb();
    std::lock_guard<std::mutex> guard(k.inputlock);
    if (k.focus && !windowexists(k.focus))
        k.focus = nullptr;
    return k.focus;
}

HWND setfocuswindow(HWND hwnd) {
    if (hwnd && !windowexists(hwnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    keyboard &k = kb();
    std::vector<activation> msgs;
    HWND before;
    {
        std::lock_guard<std::mutex> guard(k.inputlock);
        before = k.focus && windowexists(k.focus) ? k.focus : nullptr;
        msgs = changefocus(k, hwnd);
    }
    if (!hwnd && before)
        memset(threaddown, 0, sizeof threaddown);
    for (const activation &a : msgs)
        SendMessageA(a.to, a.msg, a.wparam, a.lparam);
    return before;
}

} // namespace platuser

using namespace platuser;

/* ---- sink ---------------------------------------------------------------------- */

void plat_keyinput(HWND hwnd, int scan, int extended, int down, int repeats) {
    keyboard &k = kb();
    std::lock_guard<std::mutex> guard(k.inputlock);
    UINT vk = scantovk(scan, extended != 0, k.toggled[VK_NUMLOCK]);
    if (vk)
        deliverkey(k, hwnd ? hwnd : k.focus, vk, scan, extended != 0, down != 0, repeats);
}

namespace {

/* The MK_ flags of a mouse message: the buttons and the Shift and Ctrl keys held now.
 * Input lock held. */
WPARAM mousekeys(const keyboard &k) {
    static const struct {
        UINT vk;
        WPARAM mk;
    } flags[] = {{VK_LBUTTON, MK_LBUTTON},
                 {VK_RBUTTON, MK_RBUTTON},
                 {VK_MBUTTON, MK_MBUTTON},
                 {VK_SHIFT, MK_SHIFT},
                 {VK_CONTROL, MK_CONTROL}};
    WPARAM mk = 0;
    for (const auto &f : flags)
        if (k.down[f.vk])
            mk |= f.mk;
    return mk;
}

} // namespace

void plat_mousemove(HWND hwnd, int x, int y) {
    keyboard &k = kb();
    std::lock_guard<std::mutex> guard(k.inputlock);
    WPARAM mk = mousekeys(k);
    notepointer(hwnd, x, y);
    postinput(hwnd, WM_MOUSEMOVE, mk, MAKELPARAM(x, y), inp_pointer);
}

void plat_mousebutton(HWND hwnd, int x, int y, int button, int down) {
    static const UINT downmsg[3] = {WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_MBUTTONDOWN};
    if (button < PLAT_LEFT || button > PLAT_MIDDLE)
        return;
    keyboard &k = kb();
    std::lock_guard<std::mutex> guard(k.inputlock);
    k.down[buttonvk(button)] = down != 0;
    /* Button messages carry the buttons as they are after the change. */
    WPARAM mk = mousekeys(k);
    UINT msg = downmsg[button] + (down ? 0 : 1);
    if (down) {
        auto now = std::chrono::steady_clock::now();
        bool second = k.armed && k.clickwindow == hwnd && k.clickbutton == button &&
                      now - k.clickat <= dblclicktime &&
                      std::abs(x - k.clickx) <= dblclickbox / 2 &&
                      std::abs(y - k.clicky) <= dblclickbox / 2;
        if (second && windowdblclks(hwnd)) {
            msg = downmsg[button] + 2;
            k.armed = false; /* a third press starts over */
        } else {
            k.armed = true;
            k.clickwindow = hwnd;
            k.clickbutton = button;
            k.clickx = x;
            k.clicky = y;
            k.clickat = now;
        }
    }
    notepointer(hwnd, x, y);
    postinput(hwnd, msg, mk, MAKELPARAM(x, y), inp_pointer);
}

void plat_focus(HWND hwnd, int gained) {
    keyboard &k = kb();
    std::lock_guard<std::mutex> guard(k.inputlock);
    if (gained && !windowexists(hwnd))
        return;
    if (!gained && k.focus != hwnd)
        return; /* a window that had no focus cannot lose it */
    for (const activation &a : changefocus(k, gained ? hwnd : nullptr))
        postinput(a.to, a.msg, a.wparam, a.lparam, a.input);
}

/* ---- key state and synthesised keys -------------------------------------------- */

/* Bit 15 while vk is down now (the last event the keyboard or mouse reported). */
SHORT WINAPI GetAsyncKeyState(int vKey) {
    if (vKey < 0 || vKey > 0xFF)
        return 0;
    keyboard &k = kb();
    std::lock_guard<std::mutex> guard(k.inputlock);
    return k.down[vKey] ? (SHORT)0x8000 : 0;
}

/* Bit 15 while vk is down as the calling thread's retrieved messages left it; bit 0 the
 * key's toggle (flipped by each press, as the keyboard delivered it). */
SHORT WINAPI GetKeyState(int vKey) {
    if (vKey < 0 || vKey > 0xFF)
        return 0;
    keyboard &k = kb();
    std::lock_guard<std::mutex> guard(k.inputlock);
    return (SHORT)((threaddown[vKey] ? 0x8000 : 0) | (k.toggled[vKey] & 1));
}

/* A keystroke as if from the keyboard: key state and toggle change, and the key message
 * goes to the window with the focus (none: only the state changes). A scan code of 0 is
 * looked up from the virtual key; KEYEVENTF_EXTENDEDKEY sets the E0 prefix. A second
 * press without a release is an auto-repeat. */
void WINAPI keybd_event(BYTE bVk, BYTE bScan, DWORD dwFlags, ULONG_PTR dwExtraInfo) {
    (void)dwExtraInfo;
    bool ext = dwFlags & KEYEVENTF_EXTENDEDKEY;
    keyboard &k = kb();
    std::lock_guard<std::mutex> guard(k.inputlock);
    UINT vk = bVk ? bVk : scantovk(bScan, ext, k.toggled[VK_NUMLOCK]);
    int scan = bScan;
    if (!scan) {
        bool natural;
        scan = vktoscan(vk, &natural);
    }
    if (!vk)
        return;
    HWND target = k.focus && windowexists(k.focus) ? k.focus : nullptr;
    deliverkey(k, target, vk, scan, ext, !(dwFlags & KEYEVENTF_KEYUP), 0);
}

/* ---- keyboard hooks ------------------------------------------------------------ */

/* Installs a WH_KEYBOARD hook for one thread of the process, or, with thread 0, for every
 * thread of the process. Windows wants a module for a hook over other processes' threads;
 * here there are none, so thread 0 without a module is accepted and means this process.
 * Other hook types fail with ERROR_INVALID_HOOK_FILTER. */
HHOOK WINAPI SetWindowsHookExA(int idHook, HOOKPROC lpfn, HINSTANCE hmod, DWORD dwThreadId) {
    (void)hmod;
    if (idHook != WH_KEYBOARD) {
        SetLastError(ERROR_INVALID_HOOK_FILTER);
        return nullptr;
    }
    if (!lpfn) {
        SetLastError(ERROR_INVALID_FILTER_PROC);
        return nullptr;
    }
    auto h = std::make_shared<hookrec>();
    h->proc = lpfn;
    h->thread = dwThreadId;
    hookchain &hc = chain();
    std::lock_guard<std::mutex> guard(hc.lock);
    h->handle = (HHOOK)(uintptr_t)(0x10000 + ++hc.count);
    hc.hooks.insert(hc.hooks.begin(), h);
    return h->handle;
}

/* Removes a hook; a chain running now skips it from here on (also when it removes itself
 * from inside its own call). FALSE with ERROR_INVALID_HOOK_HANDLE for an unknown one. */
BOOL WINAPI UnhookWindowsHookEx(HHOOK hhk) {
    hookchain &hc = chain();
    std::lock_guard<std::mutex> guard(hc.lock);
    for (auto it = hc.hooks.begin(); it != hc.hooks.end(); ++it) {
        if ((*it)->handle == hhk) {
            (*it)->alive.store(false);
            hc.hooks.erase(it);
            return TRUE;
        }
    }
    SetLastError(ERROR_INVALID_HOOK_HANDLE);
    return FALSE;
}

/* From inside a hook: calls the next hook of the running chain and returns its result;
 * 0 past the end of the chain, or outside one. hhk is not looked at, as on Windows. */
LRESULT WINAPI CallNextHookEx(HHOOK hhk, int nCode, WPARAM wParam, LPARAM lParam) {
    (void)hhk;
    if (!running)
        return 0;
    return callfrom(*running, running->at + 1, nCode, wParam, lParam);
}
