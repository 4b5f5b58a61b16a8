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
 * object.cpp. kernlock/kernwake are the one lock and condition variable that
 * guard object state that changes over time (thread start and end, process end);
 * every such change broadcasts kernwake so waiters re-check what they wait for.
 * Lock order: kernlock may be held while taking the handle-table lock, never the
 * other way round.
 * Limits: about a million handles open at once.
 */
#ifndef PLAT_POSIX_KERNEL_H
#define PLAT_POSIX_KERNEL_H

#include "plat/win32.h"

#include <atomic>
#include <condition_variable>
#include <mutex>

struct kobject;

/* What a kind of object has in common: its name (for traces) and how it is freed
 * once the last reference goes. One static const record per kind. */
struct kobjtype {
    const char *name;
    void (*destroy)(kobject *obj);
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

/* Adds or drops a reference; the last kernunref destroys the object. */
void kernaddref(kobject *obj);
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

/* A thread object for a thread of another process (the main thread of a child):
 * it only carries the id. Returns it with one reference owned by the caller, or
 * null when out of memory. */
kobject *kernremotethread(DWORD tid);

/* Object kinds defined by the modules, for kind checks in other modules. */
extern const kobjtype kprocesstype;
extern const kobjtype kthreadtype;
extern const kobjtype kmutextype;
extern const kobjtype kregkeytype;

#endif /* PLAT_POSIX_KERNEL_H */
