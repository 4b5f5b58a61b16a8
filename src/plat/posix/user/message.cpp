/*
 * message.cpp - per-thread message queues, posted and sent messages, the message loop
 * calls and keyboard translation.
 *
 * Threads: every thread that creates a window, calls GetMessageA or sends to another
 * thread gets a queue. Posted messages are kept in order; messages sent from other
 * threads wait in their own list and are served first, by GetMessageA or by a thread
 * blocked in its own SendMessageA (so two threads sending to each other both finish).
 * Layer calls (work the layer does on a window's own thread for another process) are
 * served before sent messages, at the same points. Key messages from the keyboard pass
 * the keyboard hooks (input.cpp) on their way out of GetMessageA.
 * Locks: userlock (see user.h); procedures and backend calls run without it.
 * Termination: every queue registers a wake-up with its thread's record; TerminateThread
 * calls it to get the thread out of its queue wait (or the backend's), and the thread
 * ends there once it has let go of userlock. A sender ended while it waits withdraws
 * its message; a thread ended inside a procedure answers the sent messages it was
 * serving with 0.
 * Limits: no message filter on sent messages; a posted WM_QUIT is returned like the
 * quit flag; the quit flag is seen only when no posted message passes the filter.
 */
#include "user.h"

#include "backend.h"
#include "input.h"

#include <algorithm>
#include <chrono>

namespace platuser {

namespace {

/* Owns the calling thread's queue; its destructor runs when the thread ends. */
struct queueholder {
    std::shared_ptr<msgqueue> q;
    ~queueholder();
};

thread_local queueholder holder;

/* The last key-down message GetMessageA returned and the keyboard it was made with,
 * so TranslateMessage gives it the character of that moment. */
thread_local struct {
    bool valid;
    MSG msg;
    unsigned input;
} lastkey;

queueholder::~queueholder() {
    if (!q)
        return;
    dropthreadwindows(q.get());
    userguard held(state().lock);
    q->dead = true;
    q->posted.clear();
    /* Senders waiting on this thread get 0, as for a thread that ended (also those
     * whose message it was in the middle of: it was terminated). */
    auto answer = [](const std::shared_ptr<sentmsg> &s) {
        s->result = 0;
        s->done = true;
        if (s->sender)
            s->sender->cv.notify_all();
    };
    std::for_each(q->serving.begin(), q->serving.end(), answer);
    std::for_each(q->sent.begin(), q->sent.end(), answer);
    q->serving.clear();
    q->sent.clear();
    /* Layer calls that never ran are answered as failed. */
    for (const std::shared_ptr<layercall> &c : q->calls) {
        c->done = true;
        c->cv.notify_all();
    }
    q->calls.clear();
    held.unlock();
    if (const plat_backend *be = chosenbackend())
        be->threadexit();
}

bool iskeydown(UINT m) {
    return m == WM_KEYDOWN || m == WM_SYSKEYDOWN;
}

bool iskeymsg(UINT m) {
    return m == WM_KEYDOWN || m == WM_SYSKEYDOWN || m == WM_KEYUP || m == WM_SYSKEYUP;
}

bool passes(const MSG &m, HWND filter, UINT lo, UINT hi) {
    if (filter && m.hwnd != filter)
        return false;
    if (lo == 0 && hi == 0)
        return true;
    return m.message >= lo && m.message <= hi;
}

/* Posts into q; false when the queue is full or its thread has ended. */
bool postto(msgqueue *q, HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam, unsigned input) {
    userguard held(state().lock);
    if (q->dead || q->posted.size() >= maxposted)
        return false;
    queuedmsg e{};
    e.msg.hwnd = hwnd;
    e.msg.message = msg;
    e.msg.wParam = wparam;
    e.msg.lParam = lparam;
    e.msg.time = msgtime();
    e.input = input;
    q->posted.push_back(e);
    bool wake = signalqueue(q);
    held.unlock();
    if (wake)
        plat_userbackend()->wake();
    return true;
}

/* Looks up the window's owner queue; sets the last error for a stale handle. */
std::shared_ptr<msgqueue> ownerof(HWND hwnd, WNDPROC *proc) {
    userguard guard(state().lock);
    windowrec *w = livewindow(hwnd);
    if (!w)
        return nullptr;
    if (proc)
        *proc = w->proc;
    return w->owner;
}

/* Runs one message sent from another thread and releases its sender; userlock held,
 * released around the procedure call. */
void servesent(userguard &held, msgqueue *q, const std::shared_ptr<sentmsg> &s) {
    windowrec *w = findwindow(s->hwnd);
    WNDPROC proc = w ? w->proc : nullptr;
    LRESULT r = 0;
    if (proc) {
        q->serving.push_back(s);
        held.unlock();
        r = proc(s->hwnd, s->msg, s->wparam, s->lparam);
        held.lock();
        std::erase(q->serving, s);
    }
    s->result = r;
    s->done = true;
    if (s->sender)
        s->sender->cv.notify_all();
}

/* Runs the layer calls queued for q's thread; userlock held, released around each. */
void servecalls(userguard &held, msgqueue *q) {
    while (!q->calls.empty()) {
        std::shared_ptr<layercall> c = q->calls.front();
        q->calls.pop_front();
        held.unlock();
        LRESULT r = c->fn(c->hwnd, c->arg);
        held.lock();
        c->result = r;
        c->ran = true;
        c->done = true;
        c->cv.notify_all();
    }
}

/* Serves what other threads queued for q's thread: its layer calls, else one sent
 * message. False when there was nothing. userlock held, released around the calls. */
bool serveincoming(userguard &held, msgqueue *q) {
    if (!q->calls.empty()) {
        servecalls(held, q);
        return true;
    }
    if (q->sent.empty())
        return false;
    std::shared_ptr<sentmsg> s = q->sent.front();
    q->sent.pop_front();
    servesent(held, q, s);
    return true;
}

/* Wakes q's thread for something just queued for it; the backend is woken too, with
 * userlock released around it, when the thread waits there. */
void wakeowner(userguard &held, msgqueue *q) {
    if (signalqueue(q)) {
        held.unlock();
        plat_userbackend()->wake();
        held.lock();
    }
}

/* TerminateThread's wake-up for the thread of queue arg: out of its condition wait, or
 * out of the backend's wait. */
void wakeforend(void *arg) {
    msgqueue *q = static_cast<msgqueue *>(arg);
    userguard held(state().lock);
    if (q->waiting)
        q->waiting->notify_all();
    bool pumping = q->inpump;
    held.unlock();
    const plat_backend *be = chosenbackend();
    if (pumping && be)
        be->wake();
}

} // namespace

bool userwait(userguard &held, std::condition_variable &cv,
              std::chrono::steady_clock::time_point until) {
    msgqueue *q = currentqueue(); /* registers the wake-up before the flag is read */
    if (kernterminating())
        return false;
    bool woken = true;
    q->waiting = &cv;
    if (until == std::chrono::steady_clock::time_point::max())
        cv.wait(held.native());
    else
        woken = cv.wait_until(held.native(), until) == std::cv_status::no_timeout;
    q->waiting = nullptr;
    return woken;
}

void endifterminated(userguard &held) {
    if (kernterminating()) {
        held.unlock();
        kernterminated();
    }
}

DWORD msgtime() {
    using namespace std::chrono;
    return (DWORD)duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::shared_ptr<msgqueue> currentqueueref() {
    currentqueue();
    return holder.q;
}

/* Takes no reference: a thread terminated on its way through would keep it. */
msgqueue *currentqueue() {
    if (!holder.q) {
        holder.q = std::make_shared<msgqueue>();
        kernsetwake(wakeforend, holder.q);
    }
    return holder.q.get();
}

bool signalqueue(msgqueue *q) {
    q->signals++;
    q->cv.notify_all();
    /* The owning thread itself never waits, so it needs no wake-up. */
    return q->inpump && q != holder.q.get();
}

bool runonowner(HWND hwnd, LRESULT (*fn)(HWND, int), int arg, DWORD waitms, LRESULT *result) {
    std::shared_ptr<msgqueue> owner = ownerof(hwnd, nullptr);
    if (!owner)
        return false;
    if (owner.get() == holder.q.get()) {
        *result = fn(hwnd, arg);
        return true;
    }
    auto c = std::make_shared<layercall>();
    c->hwnd = hwnd;
    c->fn = fn;
    c->arg = arg;
    userguard held(state().lock);
    if (owner->dead)
        return false;
    owner->calls.push_back(c);
    wakeowner(held, owner.get());
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitms);
    while (!c->done && userwait(held, c->cv, until)) {
    }
    if (kernterminating()) {
        owner.reset(); /* the jump skips destructors */
        c.reset();
        endifterminated(held);
    }
    if (!c->ran)
        return false;
    *result = c->result;
    return true;
}

bool postinput(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam, unsigned input) {
    std::shared_ptr<msgqueue> q = ownerof(hwnd, nullptr);
    return q && postto(q.get(), hwnd, msg, wparam, lparam, input);
}

} // namespace platuser

using namespace platuser;

/* Waits for a message for the calling thread: sent messages are served first, then a
 * posted one is returned, then the quit flag (result 0, msg.wParam the exit code), then
 * a WM_PAINT for a window that needs it. A key message from the keyboard first goes
 * through the keyboard hooks, which may discard it. Returns -1 for a stale hwnd
 * filter. */
BOOL WINAPI GetMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax) {
    if (!lpMsg) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    if (hWnd && !IsWindow(hWnd))
        return -1;
    msgqueue *q = currentqueue(); /* no reference of ours: a terminated wait would keep it */
    const plat_backend *be = plat_userbackend();
    userguard held(state().lock);
    for (;;) {
        endifterminated(held);
        if (serveincoming(held, q))
            continue;
        auto it = std::find_if(q->posted.begin(), q->posted.end(), [&](const queuedmsg &p) {
            return passes(p.msg, hWnd, wMsgFilterMin, wMsgFilterMax);
        });
        if (it != q->posted.end()) {
            queuedmsg e = *it;
            q->posted.erase(it);
            held.unlock();
            if ((e.input & inp_keyboard) && iskeymsg(e.msg.message) && runkeyhooks(e.msg)) {
                held.lock(); /* discarded: never returned, never translated */
                continue;
            }
            *lpMsg = e.msg;
            noteretrieved(e.msg, e.input);
            /* Pointer input asks the window for its cursor first, as the window system
             * does (the default sets the class cursor). */
            if ((e.input & inp_pointer) && e.msg.hwnd)
                SendMessageA(e.msg.hwnd, WM_SETCURSOR, (WPARAM)e.msg.hwnd,
                             MAKELPARAM(HTCLIENT, e.msg.message));
            if (iskeydown(e.msg.message))
                lastkey = {true, e.msg, e.input};
            return e.msg.message == WM_QUIT ? 0 : 1;
        }
        bool quitok = (wMsgFilterMin == 0 && wMsgFilterMax == 0) ||
                      (WM_QUIT >= wMsgFilterMin && WM_QUIT <= wMsgFilterMax);
        if (q->quit && quitok) {
            q->quit = false;
            *lpMsg = MSG{};
            lpMsg->message = WM_QUIT;
            lpMsg->wParam = (WPARAM)(UINT)q->quitcode;
            lpMsg->time = msgtime();
            return 0;
        }
        MSG paint;
        if (findpaint(q, hWnd, &paint)) {
            *lpMsg = paint;
            return 1;
        }
        /* Nothing queued: let the backend read window-system events (it may wait for
         * them, woken by a post), else sleep until a post or send arrives. */
        unsigned long seen = q->signals;
        q->inpump = true;
        held.unlock();
        int pumped = be->pumpevents(100);
        held.lock();
        q->inpump = false;
        if (pumped)
            continue;
        if (q->signals == seen)
            userwait(held, q->cv);
    }
}

/* Posts to the thread that owns hWnd; with hWnd null, a thread message to the caller.
 * FALSE with ERROR_INVALID_WINDOW_HANDLE for a stale window, ERROR_NOT_ENOUGH_QUOTA
 * when the queue is full. */
BOOL WINAPI PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    std::shared_ptr<msgqueue> owner = hWnd ? ownerof(hWnd, nullptr) : nullptr;
    msgqueue *q = hWnd ? owner.get() : currentqueue();
    if (!q)
        return FALSE;
    if (!postto(q, hWnd, Msg, wParam, lParam, 0)) {
        SetLastError(ERROR_NOT_ENOUGH_QUOTA);
        return FALSE;
    }
    return TRUE;
}

/* Sets the calling thread's quit flag: GetMessageA returns WM_QUIT with the code once
 * the messages posted before are gone. */
void WINAPI PostQuitMessage(int nExitCode) {
    msgqueue *q = currentqueue();
    userguard guard(state().lock);
    q->quit = true;
    q->quitcode = nExitCode;
}

/* Calls the procedure directly for a window of the calling thread; otherwise queues the
 * message for the owner and waits for its result, serving messages sent to the caller
 * meanwhile. 0 for a stale window or an owner that has ended. */
LRESULT WINAPI SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    WNDPROC proc = nullptr;
    std::shared_ptr<msgqueue> owner = ownerof(hWnd, &proc);
    if (!owner)
        return 0;
    std::shared_ptr<msgqueue> meref = currentqueueref();
    msgqueue *me = meref.get();
    if (owner.get() == me)
        return proc ? proc(hWnd, Msg, wParam, lParam) : 0;

    /* Only s keeps the sender's queue: a terminated wait skips this frame's destructors. */
    auto s =
        std::make_shared<sentmsg>(sentmsg{hWnd, Msg, wParam, lParam, 0, false, std::move(meref)});
    userguard held(state().lock);
    if (owner->dead)
        return 0;
    owner->sent.push_back(s);
    wakeowner(held, owner.get());
    while (!s->done) {
        if (serveincoming(held, me) || userwait(held, me->cv))
            continue;
        /* Terminated: the owner must not answer into a thread that has gone. */
        std::erase(owner->sent, s);
        s->sender = nullptr;
        s.reset(); /* the jump skips destructors */
        owner.reset();
        endifterminated(held);
    }
    return s->result;
}

/* As SendMessageA for a window of the calling thread; for another thread's window the
 * message is queued with the sent ones (served before posted messages) and the call
 * returns at once. FALSE for a stale window or an owner that has ended. */
BOOL WINAPI SendNotifyMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    WNDPROC proc = nullptr;
    std::shared_ptr<msgqueue> owner = ownerof(hWnd, &proc);
    if (!owner)
        return FALSE;
    if (owner.get() == currentqueue()) {
        if (proc)
            proc(hWnd, Msg, wParam, lParam);
        return TRUE;
    }
    auto s = std::make_shared<sentmsg>(sentmsg{hWnd, Msg, wParam, lParam, 0, false, nullptr});
    userguard held(state().lock);
    if (owner->dead)
        return FALSE;
    owner->sent.push_back(s);
    wakeowner(held, owner.get());
    return TRUE;
}

/* Calls the procedure of msg->hwnd with the message; 0 for thread messages and stale
 * windows. */
LRESULT WINAPI DispatchMessageA(const MSG *lpMsg) {
    if (!lpMsg || !lpMsg->hwnd)
        return 0;
    WNDPROC proc = nullptr;
    if (!ownerof(lpMsg->hwnd, &proc) || !proc)
        return 0;
    return proc(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
}

/* Posts WM_CHAR (after WM_KEYDOWN) or WM_SYSCHAR (after WM_SYSKEYDOWN) for keys that
 * produce a character, with the key-down's lParam (so the repeat count carries over).
 * The character follows the US keyboard (input.cpp): for a key from the keyboard with
 * the modifiers and Caps Lock of the moment it was pressed, for a key message a program
 * posted with the thread's key state now. TRUE when the message was a key message. */
BOOL WINAPI TranslateMessage(const MSG *lpMsg) {
    if (!lpMsg || !iskeymsg(lpMsg->message))
        return FALSE;
    if (!iskeydown(lpMsg->message))
        return TRUE;
    const MSG &k = lastkey.msg;
    bool fromkeyboard = lastkey.valid && (lastkey.input & inp_keyboard) && k.hwnd == lpMsg->hwnd &&
                        k.message == lpMsg->message && k.wParam == lpMsg->wParam &&
                        k.lParam == lpMsg->lParam && k.time == lpMsg->time;
    int ch = keychar((UINT)lpMsg->wParam, fromkeyboard ? lastkey.input : threadmods());
    if (ch == 0)
        return TRUE;
    UINT out = lpMsg->message == WM_KEYDOWN ? WM_CHAR : WM_SYSCHAR;
    std::shared_ptr<msgqueue> q = lpMsg->hwnd ? ownerof(lpMsg->hwnd, nullptr) : currentqueueref();
    if (q)
        postto(q.get(), lpMsg->hwnd, out, (WPARAM)ch, lpMsg->lParam, 0);
    return TRUE;
}

/* Matches the message against the table: character entries against WM_CHAR (WM_SYSCHAR
 * when they carry FALT), virtual-key entries against WM_KEYDOWN/WM_SYSKEYDOWN with the
 * Shift, Ctrl and Alt state. On a match sends WM_COMMAND (cmd, 1) to hWnd and returns 1;
 * otherwise 0. */
int WINAPI TranslateAcceleratorA(HWND hWnd, HACCEL hAccTable, LPMSG lpMsg) {
    const plat_accelres *table = findaccel(hAccTable);
    if (!table || !lpMsg || !hWnd) {
        SetLastError(table ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return 0;
    }
    UINT m = lpMsg->message;
    bool charmsg = m == WM_CHAR || m == WM_SYSCHAR;
    if (!charmsg && !iskeydown(m))
        return 0;
    bool shift = threadkeydown(VK_SHIFT);
    bool ctrl = threadkeydown(VK_CONTROL);
    bool alt = m == WM_SYSCHAR || m == WM_SYSKEYDOWN || threadkeydown(VK_MENU);
    for (int i = 0; i < table->count; i++) {
        const ACCEL &a = table->entries[i];
        bool match;
        if (a.fVirt & FVIRTKEY) {
            match = !charmsg && a.key == lpMsg->wParam && shift == !!(a.fVirt & FSHIFT) &&
                    ctrl == !!(a.fVirt & FCONTROL) && alt == !!(a.fVirt & FALT);
        } else {
            match = charmsg && a.key == lpMsg->wParam && (m == WM_SYSCHAR) == !!(a.fVirt & FALT);
        }
        if (match) {
            SendMessageA(hWnd, WM_COMMAND, MAKEWPARAM(a.cmd, 1), 0);
            return 1;
        }
    }
    return 0;
}
