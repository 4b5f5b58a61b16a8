/*
 * user.h - records shared by the modules of the POSIX window side.
 *
 * Locks: one process-wide lock, `userlock`, guards the class table, the window table
 * and every message queue. It is never held while a window procedure or a backend
 * operation runs. Each queue has its own condition variable (waited on with
 * `userlock`), signalled when something arrives for its thread. Every window-side lock
 * is taken through a userguard, so TerminateThread never ends a thread that holds one
 * or waits on one; a waiting thread is woken instead and ends outside the lock.
 *
 * Window handles carry a slot index and a generation:
 *
 *   31      30..16        15..0
 *   [0][generation 1..7FFF][slot + 1]            a window of this process
 *   [0][generation 1..7FFF][8000 + proxy slot]   a window of another process
 *
 * A destroyed window's slot gets a new generation, so its old handle never matches
 * again until the generation wraps (32767 reuses of the same slot; slots are handed
 * out round-robin, so that takes a long time). Proxies (find.cpp) are out of the
 * window table's range, so every call that looks a window up refuses them unless it
 * knows them.
 */
#ifndef PLAT_POSIX_USER_USER_H
#define PLAT_POSIX_USER_USER_H

#include "plat/resource.h"
#include "plat/win32.h"
#include "posix/kernel.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct plat_backend;

namespace platuser {

constexpr int maxwindows = 1024;
/* A posted message beyond this many waiting ones is refused, as on Windows. */
constexpr size_t maxposted = 10000;

struct msgqueue;

/* Holds a window-side lock; TerminateThread leaves the thread alone while it is held,
 * condition waits on it included. lock/unlock may repeat around calls out of the layer,
 * where the thread can be ended again. */
class userguard {
  public:
    explicit userguard(std::mutex &m) : held(m, std::defer_lock) {
        lock();
    }
    ~userguard() {
        if (held.owns_lock())
            unlock();
    }
    userguard(const userguard &) = delete;
    userguard &operator=(const userguard &) = delete;
    void lock() {
        quiet.emplace();
        held.lock();
    }
    void unlock() {
        held.unlock();
        quiet.reset();
    }
    std::unique_lock<std::mutex> &native() {
        return held;
    }

  private:
    std::optional<kernnoterm> quiet;
    std::unique_lock<std::mutex> held;
};

/* Work the layer itself runs on a window's thread (a remote process restoring or raising
 * it): queued like a sent message but never seen by the window procedure. Shared by the
 * waiter and the queue, so a waiter that gives up leaves nothing dangling. */
struct layercall {
    HWND hwnd;
    LRESULT (*fn)(HWND hwnd, int arg);
    int arg;
    LRESULT result = 0;
    bool done = false;
    bool ran = false;
    std::condition_variable cv;
};

/* A message sent from another thread; shared by the sender and the queue, so a sender
 * that is terminated while it waits leaves nothing dangling (sender is then null). */
struct sentmsg {
    HWND hwnd;
    UINT msg;
    WPARAM wparam;
    LPARAM lparam;
    LRESULT result;
    bool done;
    std::shared_ptr<msgqueue> sender;
};

/* A posted message and, for input, where it came from and the keyboard as it was then
 * (the inp_ bits of input.h; 0 for what a program posted). */
struct queuedmsg {
    MSG msg;
    unsigned input;
};

/* One thread's message queue; created on the thread's first need, marked dead when the
 * thread ends (it then stays allocated while windows or senders still refer to it). */
struct msgqueue {
    std::condition_variable cv;
    std::deque<queuedmsg> posted;
    std::deque<std::shared_ptr<sentmsg>> sent;
    std::vector<std::shared_ptr<sentmsg>> serving; /* sent ones its procedures run now */
    std::deque<std::shared_ptr<layercall>> calls;
    bool quit = false;
    int quitcode = 0;
    bool inpump = false;       /* waiting inside the backend's pumpevents */
    unsigned long signals = 0; /* counts signalqueue calls, so no wake-up is lost */
    std::condition_variable *waiting = nullptr; /* what its thread waits on, or null */
    bool dead = false;
};

struct classrec {
    std::string name;
    WNDCLASSEXA wc;
    ATOM atom;
};

struct windowrec {
    uint16_t gen = 0;
    bool used = false;
    bool destroying = false;
    size_t classindex = 0;
    WNDPROC proc = nullptr;
    DWORD style = 0;
    DWORD exstyle = 0;
    RECT rect{};
    std::string title;
    bool visible = false;
    bool minimised = false;
    bool needpaint = false;
    bool neederase = false;
    std::shared_ptr<msgqueue> owner;
    void *bw = nullptr; /* backend window, or null */
};

struct userstate {
    std::mutex lock;
    windowrec windows[maxwindows];
    int nextslot = 0;
    std::vector<classrec> classes;
    HWND foreground = nullptr; /* the last window SetForegroundWindow raised */
};

/* The handle of the window in table slot `slot` with generation `gen`. */
inline HWND makewindowhandle(int slot, uint16_t gen) {
    return (HWND)(uintptr_t)(((uint32_t)gen << 16) | (uint32_t)(slot + 1));
}

/* The one instance; never destroyed, so threads ending during process exit still
 * find it. */
userstate &state();

/* The calling thread's queue, created on first use. */
msgqueue *currentqueue();
std::shared_ptr<msgqueue> currentqueueref();

/* The live window record of hwnd, or null (stale, destroyed or never valid).
 * userlock held. */
windowrec *findwindow(HWND hwnd);

/* findwindow, setting ERROR_INVALID_WINDOW_HANDLE when there is no such window.
 * userlock held. */
windowrec *livewindow(HWND hwnd);

/* Waits on cv with userlock (held) until notified or until `until`. False on time-out,
 * and at once, without waiting, when TerminateThread has asked the thread to end: the
 * caller then lets go of what it queued and calls endifterminated. */
bool userwait(
    userguard &held, std::condition_variable &cv,
    std::chrono::steady_clock::time_point until = std::chrono::steady_clock::time_point::max());

/* Ends the calling thread, releasing held first, when TerminateThread asked for it. */
void endifterminated(userguard &held);

/* Hands a message to q's thread: wakes it from its queue wait. Returns true when the
 * thread waits in the backend and the caller must call the backend's wake after
 * releasing userlock. userlock held. */
bool signalqueue(msgqueue *q);

/* WM_PAINT for the first window of q that needs painting and passes the filter.
 * userlock held. */
bool findpaint(msgqueue *q, HWND filter, MSG *out);

/* Runs fn(hwnd, arg) on the thread that owns hwnd: at once when that is the caller,
 * else from that thread's next message wait, waiting up to waitms for it. False for a
 * stale window, an ended owner or a time-out (the call still runs later then). */
bool runonowner(HWND hwnd, LRESULT (*fn)(HWND, int), int arg, DWORD waitms, LRESULT *result);

/* Installs the answerer of other processes' window requests (find.cpp); once. */
void installrequests();

/* Proxies for windows of other processes (find.cpp). isproxy: hwnd is in the proxy
 * range (then no other call accepts it). The others answer through the owner and
 * return FALSE, with ERROR_INVALID_WINDOW_HANDLE, when it does not answer. */
bool isproxy(HWND hwnd);
BOOL proxyiswindow(HWND hwnd);
BOOL proxyshow(HWND hwnd, int cmd);
BOOL proxyforeground(HWND hwnd);

/* Drops the windows of an ending thread without calling their procedures. */
void dropthreadwindows(msgqueue *q);

/* The colour of a brush made by CreateSolidBrush or GetStockObject; false for others. */
bool brushcolour(HBRUSH brush, COLORREF *colour);

/* The registered accelerator table behind a handle, or null. */
const plat_accelres *findaccel(HACCEL accel);

/* The backend in use, or null while none has been chosen yet. */
const plat_backend *chosenbackend();

/* Where the pointer was last seen on the screen (GetCursorPos); input calls it. */
void notecursorpos(int x, int y);

/* Milliseconds since an arbitrary start, for MSG.time. */
DWORD msgtime();

/* hwnd was repainted: the software display shows its primary there again (ddraw/). */
void ddrawrepaint(HWND hwnd);

} // namespace platuser

#endif /* PLAT_POSIX_USER_USER_H */
