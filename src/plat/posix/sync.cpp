/*
 * sync.cpp - critical sections, events and the waits on every waitable object.
 *
 * A critical section lives in the caller's CRITICAL_SECTION: a futex word (0 free,
 * 1 taken, 2 taken with sleepers), the owner's thread id and the recursion count.
 * The word is taken with acquire and given back with release ordering, so the
 * thread sanitizer sees the hand-over; the futex only puts threads to sleep.
 *
 * Events and waits: object state is guarded by kernlock (see kernel.h). A wait
 * resolves its handles to objects (one reference each), waits, and releases them.
 * Waiting checks the objects in index order under kernlock through each kind's own
 * functions (signalled, acquire), takes what the first satisfied one consumes and
 * returns its index. A wait enlists with every object of a kind that asks for it
 * (events), which wakes exactly its enlisted waits: SetEvent notifies each one's
 * condition variable. A wait for events alone (or a plain sleep) has a condition
 * variable of its own, so a SetEvent wakes only the threads waiting for that event;
 * a wait that includes other kinds sleeps on kernwake, which their changes broadcast.
 * PulseEvent marks the waiters it releases (all waits for any one object for a
 * manual-reset event, the longest-waiting one for an auto-reset event); the event
 * stays reset.
 *
 * Limits: MAXIMUM_WAIT_OBJECTS handles a wait. Named events are shared within the
 * process only. Mutexes are never abandoned (a thread that ends owning one leaves it
 * owned).
 */
#include "kernel.h"

#include <chrono>
#include <climits>
#include <cstring>
#include <linux/futex.h>
#include <string>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

namespace {

/* ---- critical sections ---------------------------------------------------------- */

struct csstate {
    std::atomic<uint32_t> word;
    std::atomic<uint32_t> owner;
    uint32_t recursion; /* touched by the owner only */
};

/* The state must fit the 32-bit Windows record too (six 32-bit words). */
static_assert(sizeof(csstate) <= sizeof(CRITICAL_SECTION), "critical section state");
static_assert(sizeof(csstate) <= 24, "critical section state fits the 32-bit record");
static_assert(alignof(csstate) <= alignof(CRITICAL_SECTION), "critical section alignment");

csstate *cs(LPCRITICAL_SECTION c) {
    return reinterpret_cast<csstate *>(c);
}

void futexwait(std::atomic<uint32_t> *w, uint32_t expected) {
    syscall(SYS_futex, reinterpret_cast<uint32_t *>(w), FUTEX_WAIT_PRIVATE, expected, nullptr,
            nullptr, 0);
}

void futexwake(std::atomic<uint32_t> *w) {
    syscall(SYS_futex, reinterpret_cast<uint32_t *>(w), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

/* ---- events --------------------------------------------------------------------- */

struct kevent {
    kobject hdr;
    bool manual;
    bool state;                                     /* guarded by kernlock */
    std::vector<std::pair<kwaiter *, int>> waiters; /* guarded by kernlock */
    std::string name;                               /* empty: unnamed */
};

/* Named events of the process; guarded by kernlock. Never destroyed. */
std::vector<kevent *> &eventnames() {
    static std::vector<kevent *> *v = new std::vector<kevent *>;
    return *v;
}

void eventdestroy(kobject *obj) {
    kevent *e = reinterpret_cast<kevent *>(obj);
    if (!e->name.empty()) {
        std::lock_guard<std::mutex> lock(kernlock());
        std::vector<kevent *> &names = eventnames();
        for (size_t i = 0; i < names.size(); i++) {
            if (names[i] == e) {
                names.erase(names.begin() + (long)i);
                break;
            }
        }
    }
    delete e;
}

bool eventsignalled(kobject *obj, DWORD tid) {
    (void)tid;
    return reinterpret_cast<kevent *>(obj)->state;
}

void eventacquire(kobject *obj, DWORD tid) {
    (void)tid;
    kevent *e = reinterpret_cast<kevent *>(obj);
    if (!e->manual) {
        e->state = false;
    }
}

void eventenlist(kobject *obj, kwaiter *w, int index) {
    reinterpret_cast<kevent *>(obj)->waiters.emplace_back(w, index);
}

void eventdelist(kobject *obj, kwaiter *w) {
    std::vector<std::pair<kwaiter *, int>> &ws = reinterpret_cast<kevent *>(obj)->waiters;
    for (size_t k = 0; k < ws.size(); k++) {
        if (ws[k].first == w) {
            ws.erase(ws.begin() + (long)k);
            return;
        }
    }
}

kevent *refevent(HANDLE h) {
    return reinterpret_cast<kevent *>(kernref(h, &keventtype));
}

/* With kernlock held: wakes the waits enlisted with e (only those a pulse marked,
 * when pulsed). Waits sharing kernwake are woken once. */
void wakewaiters(kevent *e, bool pulsed) {
    bool shared = false;
    for (const std::pair<kwaiter *, int> &w : e->waiters) {
        if (pulsed && w.first->pulsed < 0) {
            continue;
        }
        if (w.first->cv == &kernwake()) {
            shared = true;
        } else {
            w.first->cv->notify_one();
        }
    }
    if (shared) {
        kernwake().notify_all();
    }
}

} // namespace

const kobjtype keventtype = {
    .name = "event",
    .destroy = eventdestroy,
    .signalled = eventsignalled,
    .acquire = eventacquire,
    .pollms = 0,
    .enlist = eventenlist,
    .delist = eventdelist,
};

/* Makes the critical section ready: free, no owner. */
void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    memset(lpCriticalSection, 0, sizeof *lpCriticalSection);
    new (lpCriticalSection) csstate{{0}, {0}, 0};
}

/* Enters the critical section, waiting while another thread owns it. The owner may
 * enter again; it must leave as often as it entered. */
void WINAPI EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    csstate *c = cs(lpCriticalSection);
    uint32_t me = GetCurrentThreadId();
    if (c->owner.load(std::memory_order_relaxed) == me) {
        c->recursion++;
        return;
    }
    uint32_t v = 0;
    if (!c->word.compare_exchange_strong(v, 1, std::memory_order_acquire)) {
        /* Mark the word contended before sleeping, so the leaver wakes someone. */
        if (v != 2) {
            v = c->word.exchange(2, std::memory_order_acquire);
        }
        while (v != 0) {
            futexwait(&c->word, 2);
            v = c->word.exchange(2, std::memory_order_acquire);
        }
    }
    c->owner.store(me, std::memory_order_relaxed);
    c->recursion = 1;
}

/* Enters the critical section if that needs no wait. TRUE when entered (again, for
 * the owner), FALSE when another thread owns it. */
BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    csstate *c = cs(lpCriticalSection);
    uint32_t me = GetCurrentThreadId();
    if (c->owner.load(std::memory_order_relaxed) == me) {
        c->recursion++;
        return TRUE;
    }
    uint32_t v = 0;
    if (!c->word.compare_exchange_strong(v, 1, std::memory_order_acquire)) {
        return FALSE;
    }
    c->owner.store(me, std::memory_order_relaxed);
    c->recursion = 1;
    return TRUE;
}

/* Leaves the critical section once; the last leave of the owner frees it. A leave
 * by a thread that does not own it is ignored. */
void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    csstate *c = cs(lpCriticalSection);
    if (c->owner.load(std::memory_order_relaxed) != GetCurrentThreadId()) {
        return;
    }
    if (--c->recursion > 0) {
        return;
    }
    c->owner.store(0, std::memory_order_relaxed);
    if (c->word.exchange(0, std::memory_order_release) == 2) {
        futexwake(&c->word);
    }
}

/* Ends the critical section's life; it holds no resources. */
void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    cs(lpCriticalSection)->~csstate();
    memset(lpCriticalSection, 0, sizeof *lpCriticalSection);
}

/* Creates an event: manual-reset (stays set until ResetEvent) or auto-reset (one
 * satisfied wait resets it), set or not. A name opens the process's event of that
 * name when it exists (last error ERROR_ALREADY_EXISTS, its own reset mode and state
 * kept); names are not seen by other processes. Null with the last error on failure. */
HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset,
                           BOOL bInitialState, LPCSTR lpName) {
    (void)lpEventAttributes;
    bool named = lpName != nullptr && lpName[0] != '\0';
    kevent *found = nullptr;
    kevent *e = nullptr;
    {
        std::lock_guard<std::mutex> lock(kernlock());
        if (named) {
            for (kevent *n : eventnames()) {
                if (n->name == lpName && kernaddref(&n->hdr)) {
                    found = n;
                    break;
                }
            }
        }
        if (found == nullptr) {
            e = new (std::nothrow) kevent{};
            if (e != nullptr) {
                kerninit(&e->hdr, &keventtype);
                e->manual = bManualReset != FALSE;
                e->state = bInitialState != FALSE;
                if (named) {
                    e->name = lpName;
                    eventnames().push_back(e);
                }
            }
        }
    }
    if (found != nullptr) {
        HANDLE h = kernhandle(&found->hdr);
        if (h != nullptr) {
            SetLastError(ERROR_ALREADY_EXISTS);
        }
        return h;
    }
    if (e == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    HANDLE h = kernhandle(&e->hdr);
    if (h != nullptr) {
        SetLastError(ERROR_SUCCESS);
    }
    return h;
}

/* Sets the event: a manual-reset event releases every waiter and stays set; an
 * auto-reset one releases one waiter (or the next one to come) and resets. */
BOOL WINAPI SetEvent(HANDLE hEvent) {
    kevent *e = refevent(hEvent);
    if (e == nullptr) {
        return FALSE;
    }
    {
        std::lock_guard<std::mutex> lock(kernlock());
        e->state = true;
        wakewaiters(e, false);
    }
    kernunref(&e->hdr);
    return TRUE;
}

/* Resets the event. */
BOOL WINAPI ResetEvent(HANDLE hEvent) {
    kevent *e = refevent(hEvent);
    if (e == nullptr) {
        return FALSE;
    }
    {
        std::lock_guard<std::mutex> lock(kernlock());
        e->state = false;
    }
    kernunref(&e->hdr);
    return TRUE;
}

/* Releases the threads waiting on the event at this moment (all of them for a
 * manual-reset event, one for an auto-reset event) and leaves the event reset. With
 * no waiter nothing happens but the reset. */
BOOL WINAPI PulseEvent(HANDLE hEvent) {
    kevent *e = refevent(hEvent);
    if (e == nullptr) {
        return FALSE;
    }
    {
        std::lock_guard<std::mutex> lock(kernlock());
        for (std::pair<kwaiter *, int> &w : e->waiters) {
            if (w.first->pulsed < 0 && !w.first->all) {
                w.first->pulsed = w.second;
                if (!e->manual) {
                    break;
                }
            }
        }
        e->state = false;
        wakewaiters(e, true);
    }
    kernunref(&e->hdr);
    return TRUE;
}

namespace {

/* The objects of one wait, each with a reference held. Null entries stand for the
 * calling process, which never becomes signalled. */
struct waitset {
    DWORD count = 0;
    kobject *objs[MAXIMUM_WAIT_OBJECTS] = {};
    int pollms = 0; /* the shortest re-check period of the kinds, 0: none */
};

void release(waitset *ws) {
    for (DWORD i = 0; i < ws->count; i++) {
        if (ws->objs[i] != nullptr) {
            kernunref(ws->objs[i]);
        }
    }
    ws->count = 0;
}

/* Takes a reference to the object of every handle. ERROR_SUCCESS, or the error of
 * the whole wait (nothing held then): a handle that is not open or not waitable, or
 * the same object twice in a wait for all. */
DWORD resolve(waitset *ws, DWORD n, const HANDLE *hs, BOOL all) {
    for (DWORD i = 0; i < n; i++) {
        kobject *o = nullptr;
        if (hs[i] != KERN_CURRENTPROCESS) {
            kthread *t = hs[i] == KERN_CURRENTTHREAD ? kernrefthread(hs[i]) : nullptr;
            o = t != nullptr ? &t->hdr : kernref(hs[i], nullptr);
            if (o == nullptr || o->type->signalled == nullptr) {
                if (o != nullptr) {
                    kernunref(o);
                }
                release(ws);
                return ERROR_INVALID_HANDLE;
            }
            int p = o->type->pollms;
            if (p > 0 && (ws->pollms == 0 || p < ws->pollms)) {
                ws->pollms = p;
            }
        }
        ws->objs[ws->count++] = o;
    }
    for (DWORD i = 0; all && i < n; i++) {
        for (DWORD j = i + 1; j < n; j++) {
            if (ws->objs[i] != nullptr && ws->objs[i] == ws->objs[j]) {
                release(ws);
                return ERROR_INVALID_PARAMETER; /* as Windows refuses it */
            }
        }
    }
    return ERROR_SUCCESS;
}

bool ready(kobject *o, DWORD tid) {
    return o != nullptr && o->type->signalled(o, tid);
}

void take(kobject *o, DWORD tid) {
    if (o->type->acquire != nullptr) {
        o->type->acquire(o, tid);
    }
}

/* With kernlock held: takes what the wait is satisfied by and returns its result, or
 * WAIT_TIMEOUT when it is not satisfied yet. A pulse counts for the object it came
 * from; any one object is taken in index order, or all of them at once. */
DWORD satisfy(waitset *ws, const kwaiter &w, BOOL all, DWORD tid) {
    if (w.pulsed >= 0) {
        return WAIT_OBJECT_0 + (DWORD)w.pulsed;
    }
    if (all) {
        for (DWORD i = 0; i < ws->count; i++) {
            if (!ready(ws->objs[i], tid)) {
                return WAIT_TIMEOUT;
            }
        }
        for (DWORD i = 0; i < ws->count; i++) {
            take(ws->objs[i], tid);
        }
        return WAIT_OBJECT_0;
    }
    for (DWORD i = 0; i < ws->count; i++) {
        if (ready(ws->objs[i], tid)) {
            take(ws->objs[i], tid);
            return WAIT_OBJECT_0 + i;
        }
    }
    return WAIT_TIMEOUT;
}

/* Waits until the set is satisfied, the time is up, an alertable wait has APCs
 * (moved to torun) or the thread is to terminate (WAIT_FAILED with *terminated). */
DWORD wait(waitset *ws, BOOL all, DWORD ms, BOOL alertable, kthread *me, std::deque<kapc> *torun,
           bool *terminated) {
    using clock = std::chrono::steady_clock;
    const DWORD tid = GetCurrentThreadId();
    const bool forever = ms == INFINITE;
    const clock::time_point deadline = clock::now() + std::chrono::milliseconds(ms);
    /* Waits for events alone sleep on a condition variable of their own. */
    bool own = true;
    for (DWORD i = 0; i < ws->count; i++) {
        own = own && (ws->objs[i] == nullptr || ws->objs[i]->type == &keventtype);
    }
    std::condition_variable mine;
    kwaiter w{-1, all != FALSE, own ? &mine : &kernwake()};
    DWORD result;
    std::unique_lock<std::mutex> lock(kernlock());
    for (DWORD i = 0; i < ws->count; i++) {
        if (ws->objs[i] != nullptr && ws->objs[i]->type->enlist != nullptr) {
            ws->objs[i]->type->enlist(ws->objs[i], &w, (int)i);
        }
    }
    if (own) {
        me->waitcv = &mine;
    }
    for (;;) {
        if (me->terminate) {
            *terminated = true;
            result = WAIT_FAILED;
            break;
        }
        result = satisfy(ws, w, all, tid);
        if (result != WAIT_TIMEOUT) {
            break;
        }
        if (alertable && !me->apcs.empty()) {
            torun->swap(me->apcs);
            result = WAIT_IO_COMPLETION;
            break;
        }
        clock::time_point now = clock::now();
        if (!forever && now >= deadline) {
            break;
        }
        clock::time_point until = forever ? now + std::chrono::hours(24) : deadline;
        if (ws->pollms > 0 && until > now + std::chrono::milliseconds(ws->pollms)) {
            until = now + std::chrono::milliseconds(ws->pollms);
        }
        w.cv->wait_until(lock, until);
    }
    me->waitcv = nullptr;
    for (DWORD i = 0; i < ws->count; i++) {
        if (ws->objs[i] != nullptr && ws->objs[i]->type->delist != nullptr) {
            ws->objs[i]->type->delist(ws->objs[i], &w);
        }
    }
    return result;
}

} // namespace

void kernwakethread(kthread *t) {
    if (t->waitcv != nullptr) {
        t->waitcv->notify_one();
    }
}

DWORD kernwait(DWORD nCount, const HANDLE *lpHandles, BOOL bWaitAll, DWORD dwMilliseconds,
               BOOL bAlertable) {
    if (nCount > MAXIMUM_WAIT_OBJECTS || (nCount > 0 && lpHandles == nullptr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    kthread *me = kernself();
    if (me == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return WAIT_FAILED;
    }
    waitset ws;
    DWORD err = resolve(&ws, nCount, lpHandles, bWaitAll);
    if (err != ERROR_SUCCESS) {
        SetLastError(err);
        return WAIT_FAILED;
    }
    bool terminated = false;
    DWORD result;
    { /* nothing of this frame may be left to destroy when the thread ends below */
        std::deque<kapc> torun;
        {
            kernnoterm quiet;
            result = wait(&ws, bWaitAll, dwMilliseconds, bAlertable, me, &torun, &terminated);
        }
        release(&ws);
        for (const kapc &a : torun) {
            a.fn(a.param);
        }
    }
    if (terminated) {
        kernterminated();
    }
    return result;
}

/* Waits until the object is signalled; see WaitForMultipleObjectsEx. */
DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    return kernwait(1, &hHandle, FALSE, dwMilliseconds, FALSE);
}

/* Waits until the object is signalled, alertably if asked. */
DWORD WINAPI WaitForSingleObjectEx(HANDLE hHandle, DWORD dwMilliseconds, BOOL bAlertable) {
    return kernwait(1, &hHandle, FALSE, dwMilliseconds, bAlertable);
}

/* Waits for any one (or, with bWaitAll, all) of the objects; not alertable. */
DWORD WINAPI WaitForMultipleObjects(DWORD nCount, const HANDLE *lpHandles, BOOL bWaitAll,
                                    DWORD dwMilliseconds) {
    return WaitForMultipleObjectsEx(nCount, lpHandles, bWaitAll, dwMilliseconds, FALSE);
}

/* Waits up to dwMilliseconds (INFINITE: no limit) for events, threads, processes and
 * mutexes. Returns WAIT_OBJECT_0 + the lowest index of a signalled object (whose
 * auto-reset state or ownership the wait takes), WAIT_OBJECT_0 when all are signalled
 * with bWaitAll, WAIT_TIMEOUT, WAIT_IO_COMPLETION after running queued APCs in an
 * alertable wait, or WAIT_FAILED with the last error set (ERROR_INVALID_HANDLE). */
DWORD WINAPI WaitForMultipleObjectsEx(DWORD nCount, const HANDLE *lpHandles, BOOL bWaitAll,
                                      DWORD dwMilliseconds, BOOL bAlertable) {
    if (nCount == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    return kernwait(nCount, lpHandles, bWaitAll, dwMilliseconds, bAlertable);
}
