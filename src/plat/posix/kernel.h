/*
 * kernel.h - kernel objects of the POSIX platform layer (internal).
 *
 * A HANDLE names a slot of one process-wide handle table; the slot holds a reference
 * to a kernel object and a generation number, so a closed or forged handle is caught
 * (ERROR_INVALID_HANDLE) instead of being followed:
 *
 *     HANDLE value:  | generation (10 bits) | slot index + 1 (20 bits) | 00 |
 *
 * Every object starts with a kobject header: a pointer to its type record (name and
 * destroy function) and a reference count. Each open handle owns one reference; a
 * call that works on an object holds another for its duration (kernref/kernunref),
 * so a CloseHandle on another thread never frees an object that is in use.
 *
 * Threads and locks: the handle table has its own lock, taken only inside
 * object.cpp. kernlock is the one lock that guards object state that changes over
 * time (thread start and end, process end, events, mutex ownership, queued APCs).
 * kernwake is the condition variable of every change but two: a change broadcasts it
 * so waiters re-check what they wait for. Events and a thread's own wake-ups (APCs,
 * TerminateThread) instead wake only the waits concerned: a wait enlists with each
 * event it waits for, and a wait for events alone (or a sleep) sleeps on a condition
 * variable of its own, which the thread's record points to meanwhile. So the 300
 * SetEvent calls a second of a 100 Hz tick wake nobody else (see
 * docs/platform-kernel.md for the numbers).
 * Lock order: kernlock may be held while taking the handle-table lock, never the
 * other way round. An object is never destroyed with kernlock held (destroy
 * functions may take it), so references are dropped after unlocking.
 * Limits: about a million handles open at once.
 */
#ifndef PLAT_POSIX_KERNEL_H
#define PLAT_POSIX_KERNEL_H

#include "plat/testhooks.h"
#include "plat/win32.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <csignal>
#include <memory>
#include <mutex>
#include <pthread.h>

struct kobject;

/* What a kind of object has in common: its name (for traces) and how it is freed
 * once the last reference goes. One static const record per kind.
 * Waitable kinds also say whether a wait by thread tid is satisfied now and what a
 * satisfied wait takes (an auto-reset event's state, a mutex's ownership); both are
 * called with kernlock held. signalled null: the kind cannot be waited on. Kinds
 * whose state changes without a kernwake broadcast (child processes) set pollms:
 * waits on them re-check at least that often. */
struct kobjtype {
    const char *name;
    void (*destroy)(kobject *obj);
    bool (*signalled)(kobject *obj, DWORD tid);
    void (*acquire)(kobject *obj, DWORD tid);
    int pollms;
    /* Kinds that must know who waits on them at a given moment (PulseEvent) are told
     * when a wait starts (w waits for it as its index'th object) and when it ends.
     * Called with kernlock held. */
    void (*enlist)(kobject *obj, struct kwaiter *w, int index) = nullptr;
    void (*delist)(kobject *obj, struct kwaiter *w) = nullptr;
};

/* One thread's wait, as the kinds that enlist it see it. */
struct kwaiter {
    int pulsed;                  /* [k] index of the object a pulse released it for, or -1 */
    bool all;                    /* waits for all of its objects: no pulse releases it */
    std::condition_variable *cv; /* what to notify, with kernlock held, to wake it */
};

/* Header of every kernel object; the kind's record embeds it as first member. */
struct kobject {
    const kobjtype *type;
    std::atomic<int> refs;
};

/* Sets up a new object's header with one reference, owned by the caller. */
void kerninit(kobject *obj, const kobjtype *type);

/* Makes a handle for obj. The handle takes over one reference that the caller
 * owns. Returns null with ERROR_NOT_ENOUGH_MEMORY when the table is full; the
 * reference is then dropped. */
HANDLE kernhandle(kobject *obj);

/* Looks a handle up. Returns its object with one more reference (release with
 * kernunref), or null with ERROR_INVALID_HANDLE when the handle is not open or its
 * object is not of the given kind (type null accepts every kind). */
kobject *kernref(HANDLE h, const kobjtype *type);

/* Adds a reference; false, adding none, when the last one is gone already (the object
 * is being destroyed: a name list may still show it). Never fails for a caller that
 * holds a reference. */
bool kernaddref(kobject *obj);
/* Drops a reference; the last one destroys the object. */
void kernunref(kobject *obj);

/* Closes a handle of the given kind (null: any kind). Returns FALSE with
 * ERROR_INVALID_HANDLE when it is not an open handle of that kind. */
BOOL kernclose(HANDLE h, const kobjtype *type);

/* The lock and condition variable of changing object state (see above). Made on
 * first use and never destroyed, so static initializers and threads still running
 * while the process exits can use them. */
std::mutex &kernlock();
std::condition_variable &kernwake();

/* The Win32 error code closest to an errno value. */
DWORD kernerror(int err);

/* Copies a Windows path into dst (size n), backslashes turned into slashes.
 * Returns 0 when it does not fit (ERROR_FILENAME_EXCED_RANGE-like: the caller sets
 * its own error), else 1. */
int kernpath(char *dst, size_t n, const char *src);

/* Opens path (a POSIX name) with open(2) flags and creation mode, close-on-exec,
 * when it is a regular file; a directory fails with EISDIR, a FIFO, socket or
 * device with EACCES, at once (a FIFO without a writer is not waited for).
 * Returns the descriptor, in blocking mode, or -1 with errno set. */
int plat_openfile(const char *path, int flags, unsigned int mode);

/* Writes all size bytes to fd, going on after short writes and interruptions.
 * Returns 1, or 0 on an error (errno set). */
int plat_writeall(int fd, const void *data, size_t size);

/* The pseudo-handles of GetCurrentProcess and GetCurrentThread (Windows' values). */
#define KERN_CURRENTPROCESS ((HANDLE)(LONG_PTR)-1)
#define KERN_CURRENTTHREAD ((HANDLE)(LONG_PTR)-2)

/* An APC queued to a thread. */
struct kapc {
    PAPCFUNC fn;
    ULONG_PTR param;
};

/* A thread of this process (made by CreateThread, or adopted the first time a thread
 * started elsewhere needs one), or of another process (remote: only tid is known).
 * Fields marked [k] are guarded by kernlock. */
struct kthread {
    kobject hdr;
    LPTHREAD_START_ROUTINE start;
    LPVOID param;
    DWORD tid;                /* [k] until started */
    bool started;             /* [k] */
    bool finished;            /* [k] the handle is signalled from here on */
    bool remote;              /* a thread of another process */
    DWORD exitcode;           /* [k] */
    DWORD suspend;            /* [k] suspend count; the start routine waits for 0 */
    int priority;             /* [k] the THREAD_PRIORITY_* value last set */
    bool terminate;           /* [k] TerminateThread asked the thread to end */
    DWORD termcode;           /* [k] its exit code then */
    std::atomic<bool> killed; /* KERN_TERMSIGNAL is for it (read by the signal handler) */
    std::deque<kapc> apcs;    /* [k] queued by QueueUserAPC, run by alertable waits */
    /* [k] The condition variable the thread sleeps on in a wait of its own (see the
     * top of the file), null otherwise; notified by kernwakethread. */
    std::condition_variable *waitcv = nullptr;
    /* [k] Wakes the thread from waits outside kernwake (the window side's); called by
     * TerminateThread, without kernlock, once the terminate flag is set. */
    void (*wake)(void *arg) = nullptr;
    std::shared_ptr<void> wakearg;
};

/* The calling thread's record, adopted on first use by threads that CreateThread
 * did not start (the main thread among them). The thread owns it: no reference is
 * added for the caller. Null only when out of memory. */
kthread *kernself();

/* Looks up a thread handle, GetCurrentThread's pseudo-handle included. Returns the
 * record with one more reference, or null with ERROR_INVALID_HANDLE. */
kthread *kernrefthread(HANDLE h);

/* Ends the calling thread with code: its handle becomes signalled, its thread-local
 * objects are destroyed (the stack is unwound as pthread_exit does). */
[[noreturn]] void kernendthread(DWORD code);

/* Ends the calling thread, whose terminate flag is set, as TerminateThread does:
 * without unwinding when the layer started it (see thread.cpp). */
[[noreturn]] void kernterminated();

/* Registers the calling thread's wake-up for TerminateThread (see kthread::wake);
 * arg is kept alive until the thread's record goes. */
void kernsetwake(void (*wake)(void *arg), std::shared_ptr<void> arg);

/* Wakes t when it sleeps in a wait of its own, so that it sees a change of its own
 * record (queued APCs, the terminate flag). Called with kernlock held; the caller
 * still broadcasts kernwake for waits on shared kinds. */
void kernwakethread(kthread *t);

/* True once TerminateThread has asked the calling thread to end. Takes kernlock. */
bool kernterminating();

/* The signal with which TerminateThread stops a thread outside the layer's waits. */
#define KERN_TERMSIGNAL (SIGRTMIN + 4)

/* While one exists on a thread, TerminateThread's signal leaves the thread alone:
 * for layer code that must not be cut short, such as a wait on kernwake (the thread
 * is ended through its terminate flag instead). Nests. */
struct kernnoterm {
    kernnoterm();
    ~kernnoterm();
    kernnoterm(const kernnoterm &) = delete;
    kernnoterm &operator=(const kernnoterm &) = delete;
};

/* True while any thread holds or waits for kernlock or the handle table's lock;
 * async-signal-safe. While false it also wakes sleepers of those locks, so a thread
 * that stops between freeing one and waking its sleepers leaves nobody asleep. */
bool kernlocksbusy();

/* The wait of WaitForMultipleObjectsEx; nCount 0 (with lpHandles ignored) is a
 * sleep, alertable or not. A thread that TerminateThread ends while it waits leaves
 * through its terminate flag. */
DWORD kernwait(DWORD nCount, const HANDLE *lpHandles, BOOL bWaitAll, DWORD dwMilliseconds,
               BOOL bAlertable);

/* Tells a parent on this layer the full 32-bit exit code (once; later calls do
 * nothing). ExitProcess calls it before _exit, main() before returning. */
void kernreportexit(UINT code);

/* The named-object request channel (plat_setrequesthandler, plat_namedrequest,
 * plat_openednames) is declared in plat/testhooks.h: tests drive it directly. */

/* A thread object for a thread of another process (the main thread of a child):
 * it only carries the id. Returns it with one reference owned by the caller, or
 * null when out of memory. */
kobject *kernremotethread(DWORD tid);

/* Object kinds defined by the modules, for kind checks in other modules. */
extern const kobjtype kprocesstype;
extern const kobjtype kthreadtype;
extern const kobjtype kmutextype;
extern const kobjtype kregkeytype;
extern const kobjtype keventtype;

#endif /* PLAT_POSIX_KERNEL_H */
