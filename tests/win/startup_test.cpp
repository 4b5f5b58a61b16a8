/*
 * startup_test.cpp - the main window on its own thread: the handler table, opening,
 * replacing and closing the window, quit and stop, the standard handlers' window tests
 * and replies, keys into the key queue, the keyboard hook and placement.
 *
 * Handlers are watched on the window thread by a spy that takes a standard handler's
 * place in the table and records what it answered. Posted messages are waited for with
 * a sentinel message posted behind them (twice, so that a WM_CHAR the first round made
 * is handled too). Runs under ThreadSanitizer. Cases that inject input through the
 * headless backend or run the child program are POSIX only.
 */
#include "plat/win32.h"
#include "thistle/diag.h"
#include "thistle/key.h"
#include "thistle/mouse.h"
#include "thistle/startup.h"
#include "thistle/threads.h"

#ifndef _WIN32
#include "childrun.h"
#include "plat/testhooks.h"
#endif

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <vector>

namespace {

template <typename T>
std::atomic_ref<T> at(T &field) {
    return std::atomic_ref<T>(field);
}

template <typename Cond>
bool waitfor(Cond cond) {
    for (int i = 0; i < 5000 && !cond(); i++) {
        sleepms(1);
    }
    return cond();
}

char testname[] = "thistle startup test";

/* ---- the spy and the sentinel ---------------------------------------------------------- */

winmessagehandler spied;
std::atomic<int32_t> spyhandled{-1};
std::atomic<int32_t> spyreply{-1};

int32_t spy(displayrecord *record, void *window, uint32_t message, uintptr_t wparam,
            intptr_t lparam, int32_t *reply) {
    int32_t handled = spied(record, window, message, wparam, lparam, reply);
    spyhandled = handled;
    spyreply = *reply;
    return handled;
}

constexpr UINT WM_SENTINEL = WM_APP + 1;
std::atomic<int> sentinels{0};

int32_t sentinel(displayrecord *, void *, uint32_t, uintptr_t, intptr_t, int32_t *) {
    sentinels++;
    return 1;
}

/* Every window test starts with a windowed 320 x 200 main window, the sentinel installed
 * and an empty key queue. */
class StartupWindow : public ::testing::Test {
  protected:
    HWND window = nullptr;

    void SetUp() override {
        initmainthread();
        applicationname = testname;
        window = (HWND)openmainwindow(320, 200, 0);
        ASSERT_NE(window, nullptr);
        ASSERT_EQ(setwinmessagehandler(WM_SENTINEL, sentinel), 1);
        setkeyqueuesize(KEYQUEUE_ENTRIES);
    }
    void TearDown() override {
        setwinmessagehandler(WM_SENTINEL, nullptr);
        closemainwindow();
        EXPECT_EQ(getmainwindow(), nullptr);
    }

    void reopen(int fullscreen) {
        closemainwindow();
        window = (HWND)openmainwindow(320, 200, fullscreen);
        ASSERT_NE(window, nullptr);
    }

    /* Waits until what was posted before has been handled, and what that posted too. */
    void drain() {
        for (int round = 0; round < 2; round++) {
            int before = sentinels;
            ASSERT_NE(PostMessageA((HWND)getmainwindow(), WM_SENTINEL, 0, 0), 0);
            ASSERT_TRUE(waitfor([&] { return sentinels > before; }));
        }
    }

    void post(UINT message, WPARAM wparam, LPARAM lparam) {
        ASSERT_NE(PostMessageA(window, message, wparam, lparam), 0);
    }

    /* The queue's entries, oldest first. */
    static std::vector<uint32_t> queued() {
        std::vector<uint32_t> entries;
        enterlock(keyqueue.lock);
        for (int32_t i = keyqueue.read; i != keyqueue.write; i = (i + 1) % keyqueue.size) {
            entries.push_back(keyqueue.entries[i]);
        }
        leavelock(keyqueue.lock);
        return entries;
    }
};

int32_t ignore(displayrecord *, void *, uint32_t, uintptr_t, intptr_t, int32_t *) {
    return 1;
}

/* lParam of a key message: repeat count, scan code, extended flag, Alt held. */
LPARAM keyparam(int repeat, int scan, int extended = 0, int alt = 0) {
    return (LPARAM)((uint32_t)repeat | (uint32_t)scan << 16 | (uint32_t)extended << 24 |
                    (uint32_t)alt << 29);
}

uint32_t entry(uint32_t code, uint32_t scan, uint32_t extended = 0) {
    return code << 16 | scan << 8 | extended;
}

/* ---- handler table ------------------------------------------------------------------- */

winmessagehandler pick(uint32_t message) {
    return message % 2 != 0 ? ignore : sentinel;
}

/* Messages in the private range, inserted out of order; found by bisection only when the
 * table is kept sorted. */
TEST(StartupHandlerTable, InsertReplaceRemoveAndTheLimit) {
    initmainthread();
    int32_t present = 0;
    for (uint32_t message = 0; message < 0x1000; message++) {
        present += getwinmessagehandler(message) != nullptr;
    }
    std::vector<uint32_t> added;
    for (uint32_t i = 0; i < 200; i++) {
        uint32_t message = 0x5000 + (i * 37) % 200;
        if (setwinmessagehandler(message, pick(message)) == 0) {
            break;
        }
        added.push_back(message);
    }
    EXPECT_EQ((int32_t)added.size(), WINMESSAGE_HANDLERS - present) << "the 129th is refused";
    for (uint32_t message : added) {
        EXPECT_EQ(getwinmessagehandler(message), pick(message)) << std::hex << message;
    }
    EXPECT_EQ(getwinmessagehandler(0x5000 + (uint32_t)(added.size() * 37) % 200), nullptr);

    /* Replace, remove, remove again; the freed entry takes a new message. */
    uint32_t middle = added[added.size() / 2];
    EXPECT_EQ(setwinmessagehandler(middle, spy), 1);
    EXPECT_EQ(getwinmessagehandler(middle), spy);
    EXPECT_EQ(setwinmessagehandler(middle, nullptr), 1);
    EXPECT_EQ(getwinmessagehandler(middle), nullptr);
    EXPECT_EQ(setwinmessagehandler(middle, nullptr), 0);
    EXPECT_EQ(setwinmessagehandler(0x4FFF, spy), 1);
    EXPECT_EQ(setwinmessagehandler(0x6000, spy), 0);
    EXPECT_EQ(getwinmessagehandler(0x4FFF), spy);
    for (uint32_t message : added) {
        EXPECT_EQ(getwinmessagehandler(message), message != middle ? pick(message) : nullptr);
    }

    added.push_back(0x4FFF);
    for (uint32_t message : added) {
        setwinmessagehandler(message, nullptr);
    }
}

/* ---- opening, replacing, closing --------------------------------------------------- */

std::atomic<void *> oldwindow{nullptr};
std::atomic<int> oldalive{-1};          /* whether the old window existed at the new WM_CREATE */
std::atomic<void *> published{nullptr}; /* the published handle at the old WM_DESTROY */
std::atomic<int> createx{0}, createwidth{0};

int32_t watchcreate(displayrecord *, void *, uint32_t, uintptr_t, intptr_t lparam, int32_t *) {
    createx = ((CREATESTRUCTA *)lparam)->x;
    createwidth = ((CREATESTRUCTA *)lparam)->cx;
    void *old = oldwindow;
    if (old != nullptr) {
        oldalive = IsWindow((HWND)old) ? 1 : 0;
    }
    return 0;
}

int32_t watchdestroy(displayrecord *, void *window, uint32_t, uintptr_t, intptr_t, int32_t *) {
    if (window == oldwindow.load()) {
        published = getmainwindow();
    }
    return 0;
}

bool classregistered() {
    WNDCLASSEXA probe = {};
    probe.cbSize = sizeof probe;
    probe.lpfnWndProc = DefWindowProcA;
    probe.hInstance = GetModuleHandleA(nullptr);
    probe.lpszClassName = testname;
    if (RegisterClassExA(&probe) != 0) {
        UnregisterClassA(testname, GetModuleHandleA(nullptr));
        return false;
    }
    return true;
}

/* The new window exists before the old one goes, its handle is published only after the
 * old one is destroyed, and one close after a replacement unregisters the class. */
TEST(StartupLifecycle, ReplacementOrderAndClassRegistration) {
    initmainthread();
    applicationname = testname;
#ifndef _WIN32 /* Windows updates a thread's toggles only as it reads its input */
    /* The lock keys go off when a window is made. */
    for (int vk : {VK_CAPITAL, VK_NUMLOCK, VK_SCROLL}) {
        if ((GetKeyState(vk) & 1) == 0) {
            keybd_event((BYTE)vk, 0, 0, 0);
            keybd_event((BYTE)vk, 0, KEYEVENTF_KEYUP, 0);
        }
    }
#endif
    /* The first open installs the standard handlers, which the watchers then replace. */
    ASSERT_NE(openmainwindow(320, 200, 0), nullptr);
    closemainwindow();
    ASSERT_FALSE(classregistered());
    ASSERT_EQ(setwinmessagehandler(WM_CREATE, watchcreate), 1);
    winmessagehandler destroyhandler = getwinmessagehandler(WM_DESTROY);
    ASSERT_EQ(setwinmessagehandler(WM_DESTROY, watchdestroy), 1);

    void *first = openmainwindow(320, 200, 0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(getmainwindow(), first);
    RECT frame = {-8192, -8192, -8192 + 320, -8192 + 200};
    AdjustWindowRect(&frame, (DWORD)GetWindowLongA((HWND)first, GWL_STYLE), FALSE);
    EXPECT_EQ(createx.load(), frame.left) << "a first window starts out of sight";
    EXPECT_EQ(createwidth.load(), frame.right - frame.left);
#ifndef _WIN32
    for (int vk : {VK_CAPITAL, VK_NUMLOCK, VK_SCROLL}) {
        EXPECT_EQ(GetKeyState(vk) & 1, 0) << "lock key " << vk << " switched off";
    }
#endif
    EXPECT_TRUE(classregistered());

    oldwindow = first;
    void *second = openmainwindow(320, 200, 0);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, first);
    EXPECT_EQ(getmainwindow(), second);
    EXPECT_EQ(oldalive.load(), 1) << "the new window is made before the old one is closed";
    EXPECT_EQ(published.load(), first) << "the new handle is published after the old is gone";
    EXPECT_FALSE(IsWindow((HWND)first));

    closemainwindow();
    EXPECT_EQ(getmainwindow(), nullptr);
    EXPECT_FALSE(IsWindow((HWND)second));
    EXPECT_FALSE(classregistered());
    closemainwindow(); /* no window: only the count, which is already 0 */
    EXPECT_FALSE(classregistered());

    setwinmessagehandler(WM_CREATE, nullptr);
    setwinmessagehandler(WM_DESTROY, destroyhandler);
    oldwindow = nullptr;
}

/* ---- quit and stop ------------------------------------------------------------------- */

std::atomic<int> quits{0};
void countquit(void) {
    quits++;
}

/* The window's close asks the program (the window stays and the loop goes on); the stop
 * request destroys the window and ends the thread. */
TEST_F(StartupWindow, CloseCallsTheQuitFunctionStopEndsTheThread) {
    applicationquitfunc = countquit;
    post(WM_CLOSE, 0, 0);
    drain();
    EXPECT_EQ(quits.load(), 1);
    EXPECT_TRUE(IsWindow(window));
    post(WM_SYSCOMMAND, SC_CLOSE, 0); /* the system menu's close: the same */
    drain();
    EXPECT_EQ(quits.load(), 2);
    EXPECT_EQ(getmainwindow(), window);
    applicationquitfunc = nullptr;

    EXPECT_EQ(sendwinmessage(WM_STOPTHREAD, 0, 0, 0), 1);
    EXPECT_TRUE(waitfor([] { return getmainwindow() == nullptr; }));
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(sendwinmessage(WM_SENTINEL, 0, 0, 0), 0) << "no window to send to";
}

#ifndef _WIN32
TEST(StartupQuit, WithoutQuitFunctionTheExitTaskEndsTheProgram) {
    childrun::result r = childrun::run({"quit"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    int ticks = -1;
    size_t at = r.out.find("exit after");
    ASSERT_NE(at, std::string::npos) << r.out;
    ASSERT_EQ(sscanf(r.out.c_str() + at, "exit after %d ticks", &ticks), 1) << r.out;
    EXPECT_GE(ticks, 10);
    EXPECT_LE(ticks, 40);
    EXPECT_EQ(r.out.find("name " DIAGCHILD_PATH "\n"), 0u) << "named after the program";
}

/* Alt with the break key stops the program in the debugger (none here: it dies of the
 * trap) unless the abort switch is off. */
TEST(StartupQuit, BreakKey) {
    childrun::result r = childrun::run({"break"}, {"THISTLE_DEBUGOUT=1"});
    EXPECT_EQ(r.status, -1);
    EXPECT_NE(r.err.find("User break key\n"), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("alive"), std::string::npos);
    r = childrun::run({"break", "off"}, {"THISTLE_DEBUGOUT=1"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "alive\n");
}

/* Each trace text appears from its level on. */
TEST(StartupQuit, TraceLevels) {
    const struct {
        const char *text;
        int level;
    } traces[] = {
        {"[WIND] starting message loop\n", 1},
        {"Destroy window\n", 1},
        {"message loop terminated\n", 1},
        {"lib_close\n", 2},
        {"quit message recieved - calling applicationquitfunc\n", 2},
        {"MSG=00000010 [1 00000000 00000000] =lib_close", 3},
        {"sendwinmessage(00000466, 00000000, 00000000, 0)\n", 3},
        {"[WIND] openmainwindow(320,200,0)\n", 4},
        {"[WIND] closemainwindow\n", 4},
        {"] ;\n", 4}, /* a message without a handler */
        {"[WIND] stopping main window thread\n", 5},
        {"[WIND] main window has closed\n", 5},
        {"GetMsg@", 5},
        {"GMDone@", 5},
        {"[WIND] creating new window @ ", 6},
        {"[WIND] created new window\n", 6},
    };
    for (int level = 0; level <= 6; level++) {
        childrun::result r = childrun::run({"trace", std::to_string(level)});
        EXPECT_EQ(r.status, 0);
        for (const auto &t : traces) {
            EXPECT_EQ(r.out.find(t.text) != std::string::npos, t.level <= level)
                << "level " << level << ": " << t.text << "\n"
                << r.out;
        }
    }
}

TEST(StartupQuit, CloseWithAudioAttachedIsRefused) {
    childrun::result r = childrun::run({"audio"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("closemainwindow - YOU MUST SHUT DOWN AUDIO FIRST.  CALL SNDrestore()\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.out.find("returned"), std::string::npos);
}
#endif

/* ---- standard handlers: window test and reply ------------------------------------------ */

struct handlercase {
    UINT message;
    WPARAM wparam;
    int fullscreen;
    int foreignhandled; /* -1: the handler is not to be called for a foreign window */
    int foreignreply;
    int ownhandled; /* -1: not sent to the own window here */
    int ownreply;
};

constexpr int any = -2; /* the reply is the default processing's */
/* A system command that the default processing ignores. */
constexpr WPARAM othercommand = 0xF1F0;

const handlercase handlercases[] = {
    {WM_ACTIVATEAPP, 1, 0, 0, 0, 0, 0},
    {WM_ACTIVATE, WA_ACTIVE, 0, 1, 0, 1, any},
    {WM_ACTIVATE, WA_INACTIVE, 0, -1, 0, 1, any},
    {WM_SIZE, 0, 0, 0, 0, 0, 0},
    {WM_MOVE, 0, 0, 0, 0, 0, 0},
    {WM_CLOSE, 0, 0, 1, 0, -1, 0},
    {WM_DESTROY, 0, 0, 0, 0, -1, 0},
    {WM_PAINT, 0, 0, 1, 0, 1, 1},
    {WM_PAINT, 0, 1, -1, 0, 1, 1},
    {WM_ERASEBKGND, 0, 0, 0, 0, 0, 0},
    {WM_ERASEBKGND, 0, 1, 0, 0, 1, 0},
    {WM_SETTINGCHANGE, 0, 1, 0, 0, 0, 0},
    {WM_SYSCOMMAND, othercommand, 0, 0, 0, 0, 0},
    {WM_SYSCOMMAND, othercommand, 1, 1, 0, 1, 0},
    {WM_SYSCOMMAND, SC_MINIMIZE + 1, 1, 1, 0, 1, 0}, /* the whole wParam is compared */
    {WM_SYSCOMMAND, SC_MAXIMIZE, 1, 0, 0, -1, 0},
    {WM_SYSCOMMAND, SC_RESTORE, 1, 0, 0, 0, 0},
    {WM_STOPTHREAD, 0, 0, 1, 0, -1, 0},
    {WM_CHAR, 'a', 0, 1, 0, 1, 0},
    {WM_KEYDOWN, 'A', 0, 1, 0, 0, 0},
    {WM_KEYDOWN, VK_PRIOR, 0, 1, 0, 1, 0},
    {WM_SYSKEYDOWN, VK_F1, 0, 1, 0, 1, 0},
    {WM_KEYUP, 'A', 0, 0, 0, 0, 0},
    {WM_SYSKEYUP, 'A', 0, 0, 0, 0, 0},
    {WM_LBUTTONDOWN, MK_LBUTTON, 0, 0, 0, 0, 0},
    {WM_MBUTTONDBLCLK, MK_MBUTTON, 0, 0, 0, 0, 0},
    {WM_MOUSEMOVE, 0, 0, 0, 0, 0, 0},
    {WM_RBUTTONUP, 0, 0, 0, 0, 0, 0},
    {WM_POWERBROADCAST, 0, 0, 1, BROADCAST_QUERY_DENY, 1, BROADCAST_QUERY_DENY},
};

/* Each handler answers a window that is not the main window (one of the same class on
 * this thread) and the main window as the table says; nothing a foreign window sends
 * reaches the key queue or stops the thread. Sizing, moving or repainting the windowed
 * display counts as a display change. */
TEST_F(StartupWindow, HandlersTestTheWindowAndReply) {
    for (int fullscreen = 0; fullscreen < 2; fullscreen++) {
        if (fullscreen != 0) {
            reopen(1);
        }
        HWND foreign = CreateWindowExA(0, testname, "foreign", WS_POPUP, 0, 0, 10, 10, nullptr,
                                       nullptr, GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(foreign, nullptr);
        int32_t changes[2] = {0, 0}; /* display changes while sending to foreign, own */
        for (const handlercase &c : handlercases) {
            if (c.fullscreen != fullscreen) {
                continue;
            }
            SCOPED_TRACE(testing::Message() << std::hex << "message " << c.message << " wparam "
                                            << c.wparam << " fullscreen " << fullscreen);
            spied = getwinmessagehandler(c.message);
            ASSERT_NE(spied, nullptr);
            ASSERT_EQ(setwinmessagehandler(c.message, spy), 1);
            const char *section = "Windows";
            LPARAM lparam = c.message == WM_SETTINGCHANGE ? (LPARAM)section : keyparam(1, 30);
            auto send = [&](HWND to, int handled, int reply) {
                if (handled >= 0) {
                    spyhandled = -1;
                    int32_t before = at(displaychangecount).load();
                    LRESULT result = SendMessageA(to, c.message, c.wparam, lparam);
                    changes[to == window] += at(displaychangecount).load() - before;
                    EXPECT_EQ(spyhandled.load(), handled) << (to == window ? "main" : "foreign");
                    if (handled != 0 && reply != any) {
                        EXPECT_EQ(std::vector<int32_t>({spyreply.load(), (int32_t)result}),
                                  std::vector<int32_t>(2, reply));
                    }
                }
            };
            send(foreign, c.foreignhandled, c.foreignreply);
            send(window, c.ownhandled, c.ownreply);
            setwinmessagehandler(c.message, spied);
        }
        DestroyWindow(foreign);
        EXPECT_EQ(getmainwindow(), window);
#ifdef _WIN32 /* the window system may add its own */
        EXPECT_GE(changes[1], fullscreen != 0 ? 0 : 3);
#else
        EXPECT_EQ(std::vector<int32_t>(changes, changes + 2),
                  (std::vector<int32_t>{0, fullscreen != 0 ? 0 : 3}));
#endif
    }
    std::vector<uint32_t> entries = queued();
    EXPECT_EQ(entries,
              (std::vector<uint32_t>{entry('a', 30), entry(0x4900, 30), entry(0x3B00, 30)}));
}

/* ---- keys into the key queue ------------------------------------------------------------ */

/* A repeat count above the queue's size puts only as many entries as the size; a full
 * queue drops its oldest entry for each new one, so the last 31 of 1 + 32 + 1 remain. The
 * size is clamped to 1..32, and setting it empties the queue. */
TEST_F(StartupWindow, RepeatCountsAreCappedAndTheOldestEntriesDropped) {
    post(WM_CHAR, 'q', keyparam(1, 0x10));
    post(WM_KEYDOWN, VK_PRIOR, keyparam(40, 0x49, 1));
    post(WM_CHAR, 'w', keyparam(1, 0x11));
    drain();
    std::vector<uint32_t> entries(30, entry(0x4900, 0x49, 1));
    entries.push_back(entry('w', 0x11));
    EXPECT_EQ(queued(), entries);
    EXPECT_EQ(keyqueue.write, 2) << "1 + 32 + 1 entries written, not 1 + 40 + 1";
    EXPECT_EQ(keyqueue.read, 3);

    EXPECT_EQ(setkeyqueuesize(100), 32);
    EXPECT_TRUE(queued().empty());

    EXPECT_EQ(setkeyqueuesize(-5), 1);
    putkey('a', 30, 0);
    EXPECT_TRUE(queued().empty()) << "a queue of one holds nothing";
}

/* Releasing either Shift clears both; other keys clear only themselves; a translation
 * table maps the scan code before it is recorded. */
TEST_F(StartupWindow, KeyDownTableAndShift) {
    /* A deactivation clears the table; keep the window system's focus changes out. */
    winmessagehandler activate = getwinmessagehandler(WM_ACTIVATE);
    setwinmessagehandler(WM_ACTIVATE, ignore);
    post(WM_KEYDOWN, VK_SHIFT, keyparam(1, 42));
    post(WM_KEYDOWN, VK_SHIFT, keyparam(1, 54));
    post(WM_KEYDOWN, 'A', keyparam(1, 30));
    post(WM_KEYDOWN, 'B', keyparam(1, 48));
    drain();
    EXPECT_EQ(keydown(42) + keydown(54) + keydown(30) + keydown(48), 4);
    EXPECT_EQ(at(lastscancode).load(), 48);
    post(WM_KEYUP, VK_SHIFT, keyparam(1, 54));
    post(WM_KEYUP, 'A', keyparam(1, 30));
    drain();
    EXPECT_EQ(keydown(42) + keydown(54) + keydown(30), 0);
    EXPECT_EQ(keydown(48), 1);
    post(WM_KEYDOWN, VK_SHIFT, keyparam(1, 54));
    post(WM_KEYUP, VK_SHIFT, keyparam(1, 42));
    drain();
    EXPECT_EQ(keydown(54), 0) << "the left Shift's release too";

    static uint8_t table[256];
    for (int i = 0; i < 256; i++) {
        table[i] = (uint8_t)i;
    }
    table[48] = 42;  /* B acts as a Shift key */
    table[47] = 200; /* V has no key-down byte */
    keyscantable = table;
    post(WM_KEYUP, 'B', keyparam(1, 48));
    post(WM_KEYDOWN, 'C', keyparam(1, 46));
    post(WM_KEYDOWN, 'V', keyparam(1, 47));
    drain();
    keyscantable = nullptr;
    EXPECT_EQ(keydown(48), 1) << "the release was Shift's";
    EXPECT_EQ(keydown(46), 1);
    EXPECT_EQ(keydown(47) + keydown(200) + keydown(128) + keydown(-1), 0);
    setwinmessagehandler(WM_ACTIVATE, activate);
}

#ifndef _WIN32
/* Keys with a substitute code make no character; with raw key tracking no key does, and
 * every press is queued by its scan code alone. */
TEST_F(StartupWindow, SubstitutionsAndRawTrackingSuppressCharacters) {
    auto press = [&](int vk, int repeats) {
        plat_nullvkey(window, vk, 1, repeats);
        plat_nullvkey(window, vk, 0, 0);
    };
    setlockkey(1, 1); /* Num Lock on: the pad's 9 is VK_NUMPAD9, which makes a '9' */
    setlockkey(3, 0); /* no such lock key */
    ASSERT_EQ(GetKeyState(VK_NUMLOCK) & 1, 1);
    press(VK_NUMPAD9, 0);
    press('A', 0);
    drain();
    EXPECT_EQ(queued(), (std::vector<uint32_t>{entry(0x4900, 0x49), entry('a', 30)}));

    setkeyqueuesize(KEYQUEUE_ENTRIES);
    startkeys();
    press('A', 2);
    press(VK_PRIOR, 0);
    drain();
    stopkeys();
    EXPECT_EQ(queued(), (std::vector<uint32_t>{entry(0, 30), entry(0, 30), entry(0, 0x49, 1)}));
}
#endif

/* Deactivation clears the key-down table, shows the cursor and unhooks the keyboard; the
 * next activation hooks it again. */
TEST_F(StartupWindow, DeactivationClearsKeysShowsTheCursorAndRehooks) {
    installkeyboardhook(0, nullptr);
    /* Windows refuses a hook for all threads without a module; the layer takes it. */
#ifdef _WIN32
    bool hooked = at(keyboardhook).load() != nullptr;
#else
    bool hooked = true;
    EXPECT_NE(at(keyboardhook).load(), nullptr);
#endif
    post(WM_KEYDOWN, 'A', keyparam(1, 30));
    drain();
    EXPECT_EQ(keydown(30), 1);
#ifndef _WIN32
    /* The hook is in the platform's chain: Alt+Tab never reaches the window. */
    installkeyboardhook(1, nullptr);
    plat_nullvkey(window, VK_MENU, 1, 0);
    plat_nullvkey(window, VK_TAB, 1, 0);
    drain();
    EXPECT_EQ(keydown(56), 1);
    EXPECT_EQ(keydown(15), 0);
#endif

    int hidden = ShowCursor(FALSE);
    SendMessageA(window, WM_ACTIVATE, WA_INACTIVE, 0);
    EXPECT_EQ(keydown(30) + keydown(56), 0);
    EXPECT_EQ(at(keyboardhook).load(), nullptr);
    EXPECT_EQ(at(keyboardhookenabled).load(), 1);
#ifndef _WIN32
    plat_nullvkey(window, VK_TAB, 1, 0); /* unhooked: it comes through */
    drain();
    EXPECT_EQ(keydown(15), 1);
    plat_nullvkey(window, VK_TAB, 0, 0);
    plat_nullvkey(window, VK_MENU, 0, 0);
    EXPECT_EQ(ShowCursor(TRUE), hidden + 2) << "Windows keeps the display count per thread";
#else
    ShowCursor(TRUE);
    (void)hidden;
#endif

    SendMessageA(window, WM_ACTIVATE, WA_ACTIVE, 0);
    EXPECT_EQ(at(keyboardhook).load() != nullptr, hooked);
    SendMessageA(window, WM_ACTIVATE, MAKEWPARAM(WA_ACTIVE, 1), 0); /* minimised: not active */
    EXPECT_EQ(at(keyboardhook).load(), nullptr);
    at(keyboardhookenabled).store(0);
}

/* ---- keyboard hook ------------------------------------------------------------------- */

std::atomic<int32_t> filtered{0};
int32_t recordfilter(int32_t modifier, int32_t key) {
    filtered = modifier << 16 | key;
    return 1;
}
int32_t passfilter(int32_t, int32_t) {
    return 0;
}

struct hookcase {
    int alt;     /* the Alt-combination flag */
    int altdown; /* bit 29 of the keystroke flags */
    int control; /* Control held */
    WPARAM key;
    int modifier; /* -1: passed on */
    int code;
};

const hookcase hookcases[] = {
    {1, 1, 0, VK_TAB, 56, 15},      {0, 1, 0, VK_TAB, -1, 0},
    {1, 1, 0, VK_ESCAPE, 56, 1},    {1, 1, 0, VK_SPACE, -1, 0},
    {1, 1, 1, VK_SPACE, 56, 57},    {1, 1, 0, VK_LWIN, -1, 0},
    {0, 1, 0, VK_LWIN, 0, VK_LWIN}, {0, 0, 1, VK_ESCAPE, 29, 1},
    {1, 0, 1, VK_ESCAPE, 29, 1},    {0, 0, 1, VK_LWIN, -1, 0},
    {0, 0, 0, VK_ESCAPE, -1, 0},    {0, 0, 0, VK_RWIN, 0, VK_RWIN},
    {0, 0, 0, VK_APPS, 0, VK_APPS}, {0, 0, 0, VK_SNAPSHOT, 0, VK_SNAPSHOT},
};

/* The swallowing rules, what the filter is shown, and that a filter answering 0, an
 * inactive application or a code other than HC_ACTION let every key pass. */
TEST(StartupKeyboardHook, SwallowingRules) {
    at(display.appactive).store(1);
    for (const hookcase &c : hookcases) {
        SCOPED_TRACE(testing::Message() << "alt flag " << c.alt << " alt " << c.altdown
                                        << " control " << c.control << " key " << c.key);
        if (c.control != 0) {
            keybd_event(VK_CONTROL, 0x1D, 0, 0);
        }
        ASSERT_EQ(GetAsyncKeyState(VK_CONTROL) < 0, c.control != 0);
        LPARAM flags = keyparam(1, 0, 0, c.altdown);
        keyboardhookalt = c.alt;
        keyboardhookfilter = nullptr;
        EXPECT_EQ(keyboardhookproc(HC_ACTION, c.key, flags), c.modifier >= 0 ? 1 : 0);
        keyboardhookfilter = recordfilter;
        filtered = -1;
        EXPECT_EQ(keyboardhookproc(HC_ACTION, c.key, flags), c.modifier >= 0 ? 1 : 0);
        EXPECT_EQ(filtered.load(), c.modifier >= 0 ? c.modifier << 16 | c.code : -1);
        keyboardhookfilter = passfilter;
        EXPECT_EQ(keyboardhookproc(HC_ACTION, c.key, flags), 0);
        keyboardhookfilter = nullptr;
        EXPECT_EQ(keyboardhookproc(1, c.key, flags), 0);
        at(display.appactive).store(0);
        EXPECT_EQ(keyboardhookproc(HC_ACTION, c.key, flags), 0);
        at(display.appactive).store(1);
        if (c.control != 0) {
            keybd_event(VK_CONTROL, 0x1D, KEYEVENTF_KEYUP, 0);
        }
    }
    keyboardhookalt = 0;
}

TEST(StartupKeySubstitution, CodesForKeyDownMessagesOnly) {
    const struct {
        WPARAM key;
        uint32_t code;
    } codes[] = {
        {VK_PRIOR, 0x4900},  {VK_NUMPAD9, 0x4900}, {VK_NEXT, 0x5100},   {VK_NUMPAD3, 0x5100},
        {VK_END, 0x4F00},    {VK_NUMPAD1, 0x4F00}, {VK_HOME, 0x4700},   {VK_NUMPAD7, 0x4700},
        {VK_LEFT, 0x4B00},   {VK_NUMPAD4, 0x4B00}, {VK_UP, 0x4800},     {VK_NUMPAD8, 0x4800},
        {VK_RIGHT, 0x4D00},  {VK_NUMPAD6, 0x4D00}, {VK_DOWN, 0x5000},   {VK_NUMPAD2, 0x5000},
        {VK_INSERT, 0x5200}, {VK_NUMPAD0, 0x5200}, {VK_DELETE, 0x5300}, {VK_NUMPAD5, 0x4C00},
        {VK_F1, 0x3B00},     {VK_F2, 0x3C00},      {VK_F9, 0x4300},     {VK_F10, 0x4400},
        {VK_F11, 0x8700},    {VK_F12, 0x8800},
    };
    for (WPARAM key = 0; key < 256; key++) {
        uint32_t expected = 0;
        for (const auto &c : codes) {
            if (c.key == key) {
                expected = c.code;
            }
        }
        if (key >= VK_F3 && key <= VK_F8) {
            expected = 0x3D00 + 0x100 * (uint32_t)(key - VK_F3);
        }
        EXPECT_EQ(keysubstitution(WM_KEYDOWN, key), expected) << key;
        EXPECT_EQ(keysubstitution(WM_SYSKEYDOWN, key), expected) << key;
        EXPECT_EQ(keysubstitution(WM_KEYUP, key), 0u) << key;
        EXPECT_EQ(keysubstitution(WM_CHAR, key), 0u) << key;
    }
}

/* ---- mouse ------------------------------------------------------------------------- */

std::atomic<int32_t> buttonevents{0};
std::atomic<int32_t> lastbuttons{-1};
int32_t buttonhook(int32_t buttons) {
    buttonevents++;
    lastbuttons = buttons;
    return 0;
}

/* Button messages reach the mouse state clamped to the box, with the buttons mapped to
 * bits 0 to 2; a press calls the button hook, a release or move does not. (The cursor put
 * on the box's edge: the mouse suite's.) */
TEST_F(StartupWindow, MouseMessagesReachTheMouseState) {
    /* The window system's own pointer moves are kept out. */
    winmessagehandler move = getwinmessagehandler(WM_MOUSEMOVE);
    setwinmessagehandler(WM_MOUSEMOVE, ignore);
    EXPECT_EQ(initmouse(), 1);
    setmousebox(0, 0, 320, 200); /* the box initmouse takes from graphics start-up */
    EXPECT_EQ(mousehooks[0](0) + mousehooks[1](0) + mousehooks[2](0), -1 - 2 - 1)
        << "hide, hide, show";
    mousehooks[4] = buttonhook;
    auto mouse = [] {
        int32_t buttons = 0, x = 0, y = 0;
        getmouse(&buttons, &x, &y);
        return std::vector<int32_t>{buttons, x, y};
    };
    post(WM_MBUTTONDOWN, MK_LBUTTON | MK_MBUTTON, MAKELPARAM(700, -5));
    drain();
    EXPECT_EQ(mouse(), (std::vector<int32_t>{MOUSE_LEFT | MOUSE_MIDDLE, 320, 0}));
    EXPECT_EQ(buttonevents.load(), 1);
    EXPECT_EQ(lastbuttons.load(), MOUSE_LEFT | MOUSE_MIDDLE);

    post(WM_LBUTTONUP, MK_RBUTTON | MK_CONTROL, MAKELPARAM(10, 20));
    drain();
    EXPECT_EQ(mouse(), (std::vector<int32_t>{MOUSE_RIGHT, 10, 20}));
    EXPECT_EQ(buttonevents.load(), 1);
    EXPECT_EQ(mousehooks[3](0), MOUSE_RIGHT);
    EXPECT_EQ(mousex + mousey, 30) << "the read hook publishes the tracked state";

    mousetracking = 0; /* not tracking: messages change nothing */
    post(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(1, 2));
    drain();
    EXPECT_EQ(mouse()[0], MOUSE_RIGHT);
    EXPECT_EQ(buttonevents.load(), 1);
    mousehooks[4] = mousehooks[5];
    setwinmessagehandler(WM_MOUSEMOVE, move);
}

#ifndef _WIN32
/* A full-screen window keeps the screen saver and monitor power-off away until it is
 * closed (also one switched on meanwhile), hides the cursor while the application is
 * active and, while it is not, raises the window unless it is minimised. */
TEST_F(StartupWindow, FullScreenLoop) {
    closemainwindow();
    SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, FALSE, nullptr, 0);
    SystemParametersInfoA(SPI_SETPOWEROFFACTIVE, TRUE, nullptr, 0);
    window = (HWND)openmainwindow(320, 200, 1);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(plat_nullscreensaver(), 0);
    SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, TRUE, nullptr, SPIF_SENDCHANGE);
    drain();
    BOOL saver = TRUE;
    SystemParametersInfoA(SPI_GETSCREENSAVEACTIVE, 0, &saver, 0);
    EXPECT_FALSE(saver) << "switched off again by the setting change";
    EXPECT_EQ(plat_nullcursorvisible(), 0);

    auto raises = [&] {
        plat_nullwindowinfo info = {};
        plat_nullwindow(window, &info);
        return info.raises;
    };
    int before = raises();
    SendMessageA(window, WM_PAINT, 0, 0); /* a full-screen paint raises the window */
    EXPECT_GT(raises(), before);
    SendMessageA(window, WM_ACTIVATEAPP, 0, 0);
    before = raises();
    drain();
    EXPECT_GT(raises(), before);
    ShowWindow(window, SW_MINIMIZE);
    before = raises();
    drain();
    EXPECT_EQ(raises(), before);

    closemainwindow();
    EXPECT_EQ(plat_nullscreensaver(), 1);
    window = (HWND)openmainwindow(320, 200, 0);
}
#endif

/* ---- placement ----------------------------------------------------------------------- */

/* The client area lands where asked on the screen, centred with divisions toward zero,
 * or over the whole screen; a full-screen window covers the screen from (0, 0). */
TEST_F(StartupWindow, PlacementOnTheScreen) {
    int screenwidth = GetSystemMetrics(SM_CXSCREEN);
    int screenheight = GetSystemMetrics(SM_CYSCREEN);
    /* The record is read back from the window, as getclientsize is. */
    auto expectclient = [&](int x, int y, int width, int height) {
        int32_t w = 0, h = 0;
        getclientsize(&w, &h);
        EXPECT_EQ(std::vector<int32_t>({at(display.originx).load(), at(display.originy).load(),
                                        display.width, display.height, w, h}),
                  std::vector<int32_t>({x, y, width, height, width, height}));
    };
    expectclient((screenwidth - 320) / 2, (screenheight - 200) / 2, 320, 200); /* opened */
    placemainwindow(10, 20, 300, 150);
    expectclient(10, 20, 300, 150);

    /* A frameless full-screen window: its client area is the window. */
    reopen(1);
    RECT rect;
    GetWindowRect(window, &rect);
    EXPECT_EQ(std::vector<LONG>({rect.left, rect.top, rect.right, rect.bottom}),
              std::vector<LONG>({0, 0, screenwidth, screenheight}));
    EXPECT_EQ(GetWindowLongA(window, GWL_STYLE) & WS_POPUP, WS_POPUP);
    centremainwindow(321, 201);
    expectclient((screenwidth - 321) / 2, (screenheight - 201) / 2, 321, 201);
    fillscreenwindow();
    expectclient(0, 0, screenwidth, screenheight);
}

} // namespace
