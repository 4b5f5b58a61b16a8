// Window side, headless: keyboard and mouse input as a window thread sees it - key
// messages and their lParam, characters, key state, keybd_event, keyboard hooks, focus
// and activation, mouse messages and double clicks. Input comes through the headless
// backend's controls, which use the same sink as the SDL backend.
#include "plat/testhooks.h"
#include "plat/win32.h"
#include "user_testutil.h"

#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

constexpr UINT endmark = WM_USER + 99;

HWND makewindow(const char *cls, UINT style) {
    ut::registerclass(cls, DefWindowProcA, style);
    return CreateWindowExA(0, cls, "", WS_POPUP, 30, 40, 100, 100, nullptr, nullptr, nullptr,
                           nullptr);
}

/* Everything queued for this thread so far, each message translated as a window loop
 * does (the characters TranslateMessage posts are collected too). */
std::vector<MSG> drain() {
    std::vector<MSG> out;
    PostMessageA(nullptr, endmark, 0, 0);
    int marks = 0;
    MSG m;
    while (GetMessageA(&m, nullptr, 0, 0) > 0) {
        if (m.message == endmark) {
            if (++marks == 2)
                break;
            PostMessageA(nullptr, endmark, 0, 0); /* behind the characters */
            continue;
        }
        TranslateMessage(&m);
        out.push_back(m);
    }
    return out;
}

std::vector<UINT> kinds(const std::vector<MSG> &msgs) {
    std::vector<UINT> out;
    for (const MSG &m : msgs)
        out.push_back(m.message);
    return out;
}

/* The characters among msgs (WM_CHAR and WM_SYSCHAR); with wanted false, the rest. */
std::vector<MSG> chars(const std::vector<MSG> &msgs, bool wanted = true) {
    std::vector<MSG> out;
    for (const MSG &m : msgs)
        if ((m.message == WM_CHAR || m.message == WM_SYSCHAR) == wanted)
            out.push_back(m);
    return out;
}

using ut::expectmsgs;

struct hookcall {
    int hook;
    int code;
    WPARAM vk;
    LPARAM flags;
    bool ctrl; // GetAsyncKeyState(VK_CONTROL) inside the hook
};
std::vector<hookcall> hookcalls;
HHOOK hooks[2];
WPARAM swallowed = 0; // the key whose key-down hook 1 swallows
bool unhookself = false;

class UserInput : public ::testing::Test {
  protected:
    HWND h = nullptr;
    void SetUp() override {
        h = makewindow("InputTest", CS_DBLCLKS);
        ASSERT_NE(h, nullptr);
        setlock(VK_CAPITAL, false);
        setlock(VK_NUMLOCK, false);
        drain();
    }
    /* Leaves no key held and no window with the focus for the next case. */
    void TearDown() override {
        plat_nullfocus(h, 1);
        plat_nullfocus(h, 0);
        drain();
        DestroyWindow(h);
        for (HHOOK &hook : hooks)
            UnhookWindowsHookEx(std::exchange(hook, nullptr));
    }
    void key(int vk, int down, int repeats = 0) {
        plat_nullvkey(h, vk, down, repeats);
    }
    void tap(int vk) {
        key(vk, 1);
        key(vk, 0);
    }
    /* Sets a lock key's toggle the way a program does: a keystroke when it differs. */
    void setlock(int vk, bool on) {
        if ((GetKeyState(vk) & 1) != on)
            tap(vk);
    }
};

constexpr LPARAM lp(DWORD count, DWORD scan, DWORD flags) {
    return (LPARAM)(count | scan << 16 | flags);
}
constexpr DWORD ext = 1u << 24, alt = 1u << 29, prev = 1u << 30, up = 1u << 31;

// The PC keyboard's scan codes as Windows names their keys, with the E0 prefix and
// Num Lock deciding between the grey keys and the numeric pad (the main block's keys are
// the key suite's: KeyWindow); the key messages carry the scan code, the E0 flag and, on
// the key-up, the previous-state and transition bits.
TEST_F(UserInput, ScanCodesGiveTheVirtualKeysOfAUsKeyboardAndTheKeystrokeFlags) {
    const struct {
        int scan, ext, numlock;
        WPARAM vk;
    } cases[] = {
        {0x47, 1, 1, VK_HOME},    {0x47, 0, 1, VK_NUMPAD7},  {0x47, 0, 0, VK_HOME},
        {0x4C, 0, 0, VK_CLEAR},   {0x53, 0, 0, VK_DELETE},   {0x1C, 1, 0, VK_RETURN},
        {0x35, 1, 0, VK_DIVIDE},  {0x37, 0, 0, VK_MULTIPLY}, {0x37, 1, 0, VK_SNAPSHOT},
        {0x45, 0, 0, VK_PAUSE},   {0x5B, 1, 0, VK_LWIN},     {0x5C, 1, 0, VK_RWIN},
        {0x5D, 1, 0, VK_APPS},    {0x38, 1, 0, VK_MENU},     {0x57, 0, 0, VK_F11},
        {0x1D, 1, 0, VK_CONTROL}, {0x36, 0, 0, VK_SHIFT},
    };
    for (const auto &c : cases) {
        setlock(VK_NUMLOCK, c.numlock);
        drain();
        plat_nullkey(h, c.scan, c.ext, 1, 0);
        plat_nullkey(h, c.scan, c.ext, 0, 0);
        std::vector<MSG> got = chars(drain(), false);
        SCOPED_TRACE(testing::Message() << std::hex << c.scan << " ext " << c.ext);
        ASSERT_EQ(got.size(), 2u);
        EXPECT_EQ(got[0].hwnd, h);
        EXPECT_EQ(got[0].wParam, c.vk);
        DWORD e = c.ext ? ext : 0;
        EXPECT_EQ((DWORD)got[0].lParam & ~alt, (DWORD)lp(1, c.scan, e)) << "Alt's own bit aside";
        EXPECT_EQ((DWORD)got[1].lParam, (DWORD)lp(1, c.scan, e | prev | up));
    }
    plat_nullkey(h, 0x54, 0, 1, 0); // no key there
    plat_nullkey(h, 0x59, 0, 1, 0); // past the table
    plat_nullkey(h, 0x2A, 1, 1, 0);
    plat_nullvkey(h, VK_SELECT, 1, 0); // a virtual key without a key
    EXPECT_TRUE(drain().empty());
}

TEST_F(UserInput, AltMakesSystemKeysUnlessCtrlIsDownAndF10IsOneAlone) {
    key(VK_MENU, 1);
    key('X', 1);
    key('X', 0);
    key(VK_MENU, 0);
    tap(VK_F10);
    key(VK_CONTROL, 1);
    key(VK_MENU, 1);
    key('X', 1);
    key(VK_MENU, 0);
    tap(VK_F10);
    std::vector<MSG> got = drain();
    std::vector<MSG> keys = chars(got, false);
    EXPECT_EQ(kinds(keys),
              (std::vector<UINT>{WM_SYSKEYDOWN, WM_SYSKEYDOWN, WM_SYSKEYUP, WM_SYSKEYUP,
                                 WM_SYSKEYDOWN, WM_SYSKEYUP, WM_KEYDOWN, WM_KEYDOWN, WM_KEYDOWN,
                                 WM_KEYUP, WM_KEYDOWN, WM_KEYUP}));
    std::string altbits; // lParam bit 29: Alt down after the key
    for (const MSG &m : keys)
        altbits += m.lParam & alt ? '1' : '0';
    EXPECT_EQ(altbits, "111000011000");
    // Alt+X gives WM_SYSCHAR 'x'; Ctrl+Alt+X gives nothing (no AltGr on a US keyboard).
    expectmsgs(chars(got), {{h, WM_SYSCHAR, 'x', lp(1, 0x2D, alt)}});
}

// The main block's characters, plain, shifted and with Caps Lock, are the key suite's
// (KeyWindow compares them with the layout tables); here the control characters, the
// pad and the keys without one.
TEST_F(UserInput, TranslateMessageGivesTheCharactersOfAUsKeyboard) {
    const struct {
        std::vector<int> held;
        int vk;
        bool caps, numlock;
        int ch; // 0: none
    } cases[] = {
        {{VK_RSHIFT}, 'A', true, false, 'a'},
        {{VK_SHIFT}, VK_OEM_2, true, false, '?'},
        {{VK_SHIFT}, VK_TAB, false, false, 0x09},
        {{VK_CONTROL}, 'C', true, false, 0x03},
        {{VK_RCONTROL}, 'Z', false, false, 0x1A},
        {{VK_CONTROL}, VK_OEM_4, false, false, 0x1B},
        {{VK_CONTROL}, VK_OEM_5, false, false, 0x1C},
        {{VK_CONTROL}, VK_OEM_6, false, false, 0x1D},
        {{VK_CONTROL}, '1', false, false, 0},
        {{VK_CONTROL, VK_MENU}, 'A', false, false, 0},
        {{}, VK_NUMPAD7, false, false, 0}, // the pad's Home key then
        {{}, VK_DECIMAL, false, true, '.'},
        {{}, VK_NUMPAD3, false, true, '3'},
        {{}, VK_MULTIPLY, false, false, '*'},
        {{}, VK_SUBTRACT, false, false, '-'},
        {{}, VK_DIVIDE, false, false, '/'},
        {{}, VK_F1, false, false, 0},
        {{}, VK_LEFT, false, false, 0},
    };
    for (const auto &c : cases) {
        setlock(VK_CAPITAL, c.caps);
        setlock(VK_NUMLOCK, c.numlock);
        drain();
        for (int m : c.held)
            key(m, 1);
        tap(c.vk);
        for (int m : c.held)
            key(m, 0);
        std::vector<MSG> got = chars(drain());
        ASSERT_EQ(got.size(), c.ch ? 1u : 0u) << "vk " << std::hex << c.vk;
        if (c.ch) {
            EXPECT_EQ(got[0].wParam, (WPARAM)c.ch) << "vk " << std::hex << c.vk;
            EXPECT_EQ(got[0].message, (UINT)WM_CHAR);
        }
    }
}

// The character is the keyboard's at the moment of the key, whatever came after it; the
// repeat count carries over; a program's own key messages follow the thread's state.
TEST_F(UserInput, CharactersKeepTheirMomentAndRepeatCount) {
    key(VK_SHIFT, 1);
    key('Q', 1, 2);
    key(VK_SHIFT, 0);
    tap(VK_CAPITAL); // after the key: no effect on it
    expectmsgs(chars(drain()), {{h, WM_CHAR, 'Q', lp(2, 0x10, prev)}});

    tap(VK_CAPITAL);
    key(VK_SHIFT, 1);
    drain(); // Shift is down for this thread now, Caps Lock off again
    PostMessageA(h, WM_KEYDOWN, 'Z', lp(1, 0x2C, 0));
    expectmsgs(chars(drain()), {{h, WM_CHAR, 'Z', lp(1, 0x2C, 0)}});
}

// GetAsyncKeyState is the keyboard now; GetKeyState's down bit follows the messages the
// thread took, its toggle bit the keyboard.
TEST_F(UserInput, KeyStateAsyncThreadAndToggles) {
    bool capswas = GetKeyState(VK_CAPITAL) & 1;
    key(VK_LSHIFT, 1);
    key(VK_RSHIFT, 1);
    key(VK_CAPITAL, 1);
    EXPECT_LT(GetAsyncKeyState(VK_SHIFT), 0);
    EXPECT_LT(GetAsyncKeyState(VK_RSHIFT), 0);
    EXPECT_GE(GetKeyState(VK_SHIFT), 0) << "not yet retrieved";
    EXPECT_NE(GetKeyState(VK_CAPITAL) & 1, (int)capswas) << "toggled by the press";
    key(VK_CAPITAL, 1, 1);
    key(VK_CAPITAL, 0);
    EXPECT_NE(GetKeyState(VK_CAPITAL) & 1, (int)capswas) << "repeats and releases keep it";
    drain();
    EXPECT_LT(GetKeyState(VK_SHIFT), 0);
    EXPECT_LT(GetKeyState(VK_LSHIFT), 0);
    key(VK_LSHIFT, 0);
    drain();
    EXPECT_LT(GetKeyState(VK_SHIFT), 0) << "the right Shift is still down";
    EXPECT_GE(GetKeyState(VK_LSHIFT), 0);
    key(VK_RSHIFT, 0);
    drain();
    EXPECT_GE(GetKeyState(VK_SHIFT), 0);
    EXPECT_GE(GetAsyncKeyState(VK_SHIFT), 0);
    EXPECT_EQ(GetAsyncKeyState(0x100) | GetKeyState(-1), 0) << "no such keys";

    plat_nullmousebutton(h, 5, 5, PLAT_RIGHT, 1);
    key(VK_RCONTROL, 1);
    EXPECT_LT(GetAsyncKeyState(VK_RBUTTON), 0);
    drain();
    EXPECT_LT(GetKeyState(VK_RBUTTON), 0);
    EXPECT_LT(GetKeyState(VK_RCONTROL), 0);
    EXPECT_GE(GetKeyState(VK_LCONTROL), 0);
}

// keybd_event types into the window with the focus, from any thread; without one only
// the key state changes. A lock key set this way reads back at once.
TEST_F(UserInput, KeybdEventGoesToTheFocusWindowAndSetsLockKeys) {
    keybd_event(VK_SHIFT, 0, 0, 0);
    EXPECT_LT(GetAsyncKeyState(VK_SHIFT), 0);
    keybd_event(VK_SHIFT, 0, KEYEVENTF_KEYUP, 0);
    EXPECT_TRUE(drain().empty()) << "no window has the focus";

    plat_nullfocus(h, 1);
    drain();
    bool numwas = GetKeyState(VK_NUMLOCK) & 1;
    std::thread([] {
        keybd_event(VK_NUMLOCK, 0x45, KEYEVENTF_EXTENDEDKEY, 0);
        keybd_event(VK_NUMLOCK, 0x45, KEYEVENTF_EXTENDEDKEY | KEYEVENTF_KEYUP, 0);
        keybd_event(VK_CAPITAL, 0, 0, 0); // scan code looked up
        keybd_event(VK_CAPITAL, 0, 0, 0); // held: a repeat
    }).join();
    EXPECT_NE(GetKeyState(VK_NUMLOCK) & 1, (int)numwas);
    expectmsgs(drain(), {{h, WM_KEYDOWN, VK_NUMLOCK, lp(1, 0x45, ext)},
                         {h, WM_KEYUP, VK_NUMLOCK, lp(1, 0x45, ext | prev | up)},
                         {h, WM_KEYDOWN, VK_CAPITAL, lp(1, 0x3A, 0)},
                         {h, WM_KEYDOWN, VK_CAPITAL, lp(1, 0x3A, prev)}});
}

LRESULT CALLBACK hook0(int code, WPARAM w, LPARAM l) {
    hookcalls.push_back({0, code, w, l, GetAsyncKeyState(VK_CONTROL) < 0});
    if (unhookself)
        UnhookWindowsHookEx(hooks[0]);
    return CallNextHookEx(hooks[0], code, w, l);
}

LRESULT CALLBACK hook1(int code, WPARAM w, LPARAM l) {
    hookcalls.push_back({1, code, w, l, GetAsyncKeyState(VK_CONTROL) < 0});
    if (w == swallowed && !(l & up))
        return 1;
    return CallNextHookEx(hooks[1], code, w, l);
}

// The chain runs where the key is retrieved, most recent hook first; a non-zero result
// drops the key message and so its character.
TEST_F(UserInput, KeyboardHooksSeeEveryKeyAndMaySwallowIt) {
    EXPECT_EQ(SetWindowsHookExA(7 /* WH_MOUSE */, hook0, nullptr, 0), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HOOK_FILTER);
    hookcalls.clear();
    unhookself = false;
    hooks[1] = SetWindowsHookExA(WH_KEYBOARD, hook1, nullptr, 0);
    hooks[0] = SetWindowsHookExA(WH_KEYBOARD, hook0, nullptr, GetCurrentThreadId());
    ASSERT_NE(hooks[0], nullptr);
    ASSERT_NE(hooks[1], nullptr);
    swallowed = VK_ESCAPE;
    key(VK_CONTROL, 1);
    tap(VK_ESCAPE);
    tap('B');
    PostMessageA(h, WM_KEYDOWN, 'C', 0); // a program's own: no hook
    std::vector<MSG> got = drain();
    EXPECT_EQ(kinds(got), (std::vector<UINT>{WM_KEYDOWN, WM_KEYUP, WM_KEYDOWN, WM_KEYUP, WM_KEYDOWN,
                                             WM_CHAR, WM_CHAR}));
    EXPECT_EQ(got[1].wParam, (WPARAM)VK_ESCAPE) << "only the key-down was swallowed";
    ASSERT_EQ(hookcalls.size(), 10u);
    for (size_t i = 0; i < 10; i++) {
        EXPECT_EQ(hookcalls[i].hook, (int)i % 2) << i;
        EXPECT_EQ(hookcalls[i].code, HC_ACTION);
        EXPECT_TRUE(hookcalls[i].ctrl) << "Ctrl is down now";
    }
    EXPECT_EQ(hookcalls[2].vk, (WPARAM)VK_ESCAPE);
    EXPECT_EQ((DWORD)hookcalls[2].flags, (DWORD)lp(1, 0x01, 0));
    EXPECT_EQ(hookcalls[8].vk, (WPARAM)'B');

    // A hook that unhooks itself still passes the key on; afterwards only the other runs.
    hookcalls.clear();
    unhookself = true;
    tap('D');
    drain();
    ASSERT_EQ(hookcalls.size(), 3u);
    EXPECT_EQ(hookcalls[0].hook, 0);
    EXPECT_EQ(hookcalls[1].hook, 1) << "called on by the hook that unhooked itself";
    EXPECT_EQ(hookcalls[2].hook, 1);
    EXPECT_FALSE(UnhookWindowsHookEx(hooks[0]));
    EXPECT_EQ(CallNextHookEx(hooks[1], HC_ACTION, 'D', 0), 0) << "outside a chain";

    // A hook for another thread does not run here.
    EXPECT_TRUE(UnhookWindowsHookEx(hooks[1]));
    hookcalls.clear();
    hooks[0] = SetWindowsHookExA(WH_KEYBOARD, hook0, nullptr, GetCurrentThreadId() + 1);
    tap('E');
    drain();
    EXPECT_TRUE(hookcalls.empty());
}

// Focus comes and goes as Windows reports it: the application's activation around the
// window's, and keys held when it goes are released without key-ups.
TEST_F(UserInput, FocusActivatesAndReleasesHeldKeysWhenItGoes) {
    HWND other = makewindow("InputOther", 0);
    ShowWindow(other, SW_MINIMIZE);
    drain();
    plat_nullfocus(h, 1);
    plat_nullfocus(h, 1);                 // already has it: nothing
    plat_nullkey(nullptr, 0x2A, 0, 1, 0); // Shift, to the focus window
    plat_nullfocus(other, 1);
    plat_nullfocus(h, 0); // h has no focus to lose
    expectmsgs(drain(), {{h, WM_ACTIVATEAPP, TRUE, 0},
                         {h, WM_ACTIVATE, WA_ACTIVE, 0},
                         {h, WM_KEYDOWN, VK_SHIFT, lp(1, 0x2A, 0)},
                         {h, WM_ACTIVATE, WA_INACTIVE, (DWORD)(uintptr_t)other},
                         {other, WM_ACTIVATE, MAKEWPARAM(WA_ACTIVE, 1) /* minimised */,
                          (DWORD)(uintptr_t)h}});
    EXPECT_LT(GetKeyState(VK_SHIFT), 0) << "moving between our windows keeps keys";
    plat_nullwindowinfo info;
    ASSERT_TRUE(plat_nullwindow(other, &info));
    EXPECT_EQ(info.focus, 1);
    ASSERT_TRUE(plat_nullwindow(h, &info));
    EXPECT_EQ(info.focus, 0);

    plat_nullfocus(other, 0);
    EXPECT_GE(GetAsyncKeyState(VK_SHIFT), 0);
    expectmsgs(drain(), {{other, WM_ACTIVATE, MAKEWPARAM(WA_INACTIVE, 1), 0},
                         {other, WM_ACTIVATEAPP, FALSE, 0}});
    EXPECT_GE(GetKeyState(VK_SHIFT), 0);
    plat_nullkey(nullptr, 0x1E, 0, 1, 0);
    EXPECT_TRUE(drain().empty()) << "no window has the focus";
    EXPECT_LT(GetAsyncKeyState('A'), 0);

    // A focus window that is destroyed takes the application's activation with it.
    plat_nullfocus(other, 1);
    DestroyWindow(other);
    key(VK_SHIFT, 1);
    plat_nullfocus(other, 0); // the window system's late word that the focus went
    EXPECT_GE(GetAsyncKeyState(VK_SHIFT), 0) << "released all the same";
    drain();
    plat_nullfocus(h, 1);
    EXPECT_EQ(kinds(drain()), (std::vector<UINT>{WM_ACTIVATEAPP, WM_ACTIVATE}));
}

TEST_F(UserInput, MouseMessagesCarryButtonsModifiersAndPosition) {
    key(VK_SHIFT, 1);
    plat_nullmousemove(h, 10, 20);
    plat_nullmousebutton(h, 10, 20, PLAT_LEFT, 1);
    plat_nullmousemove(h, 300, 2);
    plat_nullmousebutton(h, 300, 2, PLAT_MIDDLE, 1);
    plat_nullmousebutton(h, 300, 2, PLAT_LEFT, 0);
    plat_nullmousebutton(h, 300, 2, PLAT_MIDDLE, 0);
    key(VK_SHIFT, 0);
    key(VK_CONTROL, 1);
    plat_nullmousebutton(h, -1, 7, PLAT_RIGHT, 1);
    std::vector<MSG> got;
    for (const MSG &m : drain())
        if (m.message >= WM_MOUSEMOVE)
            got.push_back(m);
    expectmsgs(got, {{h, WM_MOUSEMOVE, MK_SHIFT, MAKELPARAM(10, 20)},
                     {h, WM_LBUTTONDOWN, MK_SHIFT | MK_LBUTTON, MAKELPARAM(10, 20)},
                     {h, WM_MOUSEMOVE, MK_SHIFT | MK_LBUTTON, MAKELPARAM(300, 2)},
                     {h, WM_MBUTTONDOWN, MK_SHIFT | MK_LBUTTON | MK_MBUTTON, MAKELPARAM(300, 2)},
                     {h, WM_LBUTTONUP, MK_SHIFT | MK_MBUTTON, MAKELPARAM(300, 2)},
                     {h, WM_MBUTTONUP, MK_SHIFT, MAKELPARAM(300, 2)},
                     {h, WM_RBUTTONDOWN, MK_CONTROL | MK_RBUTTON, MAKELPARAM(-1, 7)}});
    POINT p;
    ASSERT_TRUE(GetCursorPos(&p));
    EXPECT_EQ(std::vector<LONG>({p.x, p.y}), std::vector<LONG>({30 - 1, 40 + 7}))
        << "on the screen";
}

// A second press of the same button close by and soon after is a double click, for
// windows whose class asks for them; a third press starts over.
TEST_F(UserInput, DoubleClicksOnlyForClassesThatAskForThem) {
    HWND plain = makewindow("InputPlain", 0);
    auto presses = [](HWND w, std::vector<std::pair<int, int>> at, int button = PLAT_LEFT) {
        for (auto [x, y] : at) {
            plat_nullmousebutton(w, x, y, button, 1);
            plat_nullmousebutton(w, x, y, button, 0);
        }
        std::vector<UINT> downs;
        for (const MSG &m : drain())
            if (m.message != WM_LBUTTONUP && m.message != WM_RBUTTONUP)
                downs.push_back(m.message);
        return downs;
    };
    EXPECT_EQ(presses(h, {{50, 50}, {52, 48}, {52, 48}}),
              (std::vector<UINT>{WM_LBUTTONDOWN, WM_LBUTTONDBLCLK, WM_LBUTTONDOWN}));
    EXPECT_EQ(presses(h, {{50, 50}, {50, 50}}, PLAT_RIGHT),
              (std::vector<UINT>{WM_RBUTTONDOWN, WM_RBUTTONDBLCLK}));
    EXPECT_EQ(presses(h, {{50, 50}, {53, 50}}), (std::vector<UINT>{WM_LBUTTONDOWN, WM_LBUTTONDOWN}))
        << "3 pixels away";
    EXPECT_EQ(presses(plain, {{50, 50}, {50, 50}}),
              (std::vector<UINT>{WM_LBUTTONDOWN, WM_LBUTTONDOWN}));

    // Another button in between, or too long a pause, starts over.
    plat_nullmousebutton(h, 50, 50, PLAT_LEFT, 1);
    plat_nullmousebutton(h, 50, 50, PLAT_RIGHT, 1);
    EXPECT_EQ(presses(h, {{50, 50}}),
              (std::vector<UINT>{WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_LBUTTONDOWN}));
    Sleep(550);
    EXPECT_EQ(presses(h, {{50, 50}}), (std::vector<UINT>{WM_LBUTTONDOWN}));
    DestroyWindow(plain);
}

} // namespace
