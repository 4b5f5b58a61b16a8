/*
 * win/threads - pooled locks, the main-thread record, library threads and events.
 *
 * Lock pool: records live in pages from allocpages and are never returned. A new page
 * is pushed onto the free list in address order, so its highest record goes out first:
 *
 *   page: | rec 0 | rec 1 | ... | rec n-1 |      free list: rec n-1 -> ... -> rec 0 -> older
 *   rec:  | CRITICAL_SECTION | link | marker "FREE" | pad to critsectionsize |
 *
 * Threads and locks: modules create their locks lazily from whichever thread comes first,
 * so the free list and the first recording of the main thread each take a small spin
 * guard of their own (a pool lock cannot come from the pool it guards). The guards are
 * held only for a few stores, never across a platform wait.
 * Thread start: the creator keeps the start block on its stack and waits (alertable,
 * 1 ms steps) until the new thread has copied it and cleared the handle slot.
 * Display lock: whether a display surface is locked is the display module's state; it
 * answers through the surfacelocked query it installs, so this module needs nothing of
 * the display and starts threads freely while no display module is up.
 * Platform: critical sections, threads, events and waits through plat/win32.h.
 */
#include "thistle/threads.h"

#include "plat/win32.h"
#include "thistle/diag.h"
#include "thistle/memutil.h"
#include "thistle/timer.h"

#include <atomic>
#include <cstring>

struct alignas(critsectionsize) critsection {
    CRITICAL_SECTION section; /* first: the record's address is the lock handle */
    critsection *link;        /* next free record while on the free list */
    uint32_t marker;          /* critsectionfree while free, 0 while handed out */
};
static_assert(sizeof(critsection) == critsectionsize, "pool records divide a page evenly");
static_assert(offsetof(critsection, section) == 0, "the lock handle addresses the section");
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(CRITICAL_SECTION) == 24 && sizeof(critsection) == 32,
              "32-bit record: 24-byte section, link, marker");
#endif

critsection *liblock = nullptr;
int (*surfacelocked)(void) = nullptr;

namespace {

/* Spin guard for the few stores of the pool and the main-thread record. */
void guardenter(std::atomic_flag &flag) {
    while (flag.test_and_set(std::memory_order_acquire))
        SleepEx(0, FALSE);
}

void guardleave(std::atomic_flag &flag) {
    flag.clear(std::memory_order_release);
}

struct lockpool {
    critsection *free; /* head of the free list */
    size_t growth;     /* records asked for at the next growth */
    std::atomic_flag busy;
};
lockpool pool = {nullptr, 32, ATOMIC_FLAG_INIT};

struct mainrecord {
    std::atomic<int> initialised;
    DWORD id;
    HANDLE handle; /* real handle, duplicated from the pseudo-handle */
    std::atomic_flag busy;
};
mainrecord mainthread = {{0}, 0, nullptr, ATOMIC_FLAG_INIT};

/* Thread start data, on the creator's stack until the new thread clears handle. */
struct startblock {
    std::atomic<HANDLE> handle; /* the new thread's handle; 0 releases the creator */
    threadrecord *record;
    threadfunction function;
    threadparamfunction paramfunction;
    uint32_t argument;
};
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(startblock) == 20, "start block: five 32-bit words");
#endif

/* Platform priority of each level, from -3 to 3. */
constexpr int prioritytable[7] = {
    /* -3 */ THREAD_PRIORITY_IDLE,
    /* -2 */ THREAD_PRIORITY_LOWEST,
    /* -1 */ THREAD_PRIORITY_BELOW_NORMAL,
    /*  0 */ THREAD_PRIORITY_NORMAL,
    /*  1 */ THREAD_PRIORITY_ABOVE_NORMAL,
    /*  2 */ THREAD_PRIORITY_HIGHEST,
    /*  3 */ THREAD_PRIORITY_TIME_CRITICAL,
};

int leveltopriority(int32_t level) {
    if (level < -3 || level > 3)
        return THREAD_PRIORITY_NORMAL;
    return prioritytable[level + 3];
}

int prioritytolevel(int priority) {
    for (int i = 0; i < 7; i++) {
        if (prioritytable[i] == priority)
            return i - 3;
    }
    return 0;
}

/* Pushes one more batch of records; leaves the list empty when the pages are refused.
 * The allocator rounds up to whole pages, and the next batch asks for what it gave. */
void growpool(void) {
    size_t size = pool.growth * sizeof(critsection);
    auto *page = static_cast<critsection *>(allocpages(&size));
    if (page == nullptr)
        return;
    size_t count = size / sizeof(critsection);
    pool.growth = count;
    for (size_t i = 0; i < count; i++) {
        page[i].link = pool.free;
        page[i].marker = critsectionfree;
        pool.free = &page[i];
    }
}

/* Takes a record from the pool and initialises its section; null when the pool cannot
 * grow. Does not touch the main-thread record (initmainthread uses it for liblock). */
critsection *newlock(void) {
    guardenter(pool.busy);
    if (pool.free == nullptr)
        growpool();
    critsection *lock = pool.free;
    if (lock != nullptr)
        pool.free = lock->link;
    guardleave(pool.busy);
    if (lock == nullptr)
        return nullptr;
    lock->link = nullptr;
    lock->marker = 0;
    std::memset(&lock->section, 0, sizeof lock->section);
    InitializeCriticalSection(&lock->section);
    return lock;
}

/* The platform handle a designator stands for. */
HANDLE designatedhandle(const threadrecord *thread) {
    if (thread == nullptr)
        return mainthread.handle;
    if (thread == THREAD_SELF)
        return GetCurrentThread();
    return thread->handle;
}

/* Every library thread starts here: take the start data, release the creator, run. */
DWORD WINAPI threadstart(LPVOID parameter) {
    auto *block = static_cast<startblock *>(parameter);
    HANDLE self = block->handle.load(std::memory_order_acquire);
    threadfunction function = block->function;
    threadparamfunction paramfunction = block->paramfunction;
    uint32_t argument = block->argument;
    /* From here on the block may be gone with the creator's frame. */
    block->handle.store(nullptr, std::memory_order_release);
    if (function != nullptr)
        function();
    else if (paramfunction != nullptr)
        paramfunction(argument);
    CloseHandle(self);
    return 0;
}

/* The common body of both thread starters. */
void *startthread(threadfunction function, threadparamfunction paramfunction, uint32_t argument,
                  uint32_t stacksize, int32_t priority, threadrecord *record) {
    if (surfacelocked != nullptr && surfacelocked() != 0) {
        THISTLE_SITE("win\\threads");
        fatalerror("createparamthread - UNLOCK DDRAW SURFACE BEFORE CALLING.\n");
    }
    initmainthread();
    /* A caller without a record of its own gets the handle only. */
    threadrecord local;
    if (record == nullptr)
        record = &local;

    startblock block;
    block.handle.store(INVALID_HANDLE_VALUE, std::memory_order_relaxed);
    block.record = record;
    block.function = function;
    block.paramfunction = paramfunction;
    block.argument = argument;

    DWORD id = 0;
    HANDLE handle = CreateThread(nullptr, stacksize, threadstart, &block, CREATE_SUSPENDED, &id);
    if (handle == nullptr)
        return nullptr;
    block.handle.store(handle, std::memory_order_release);
    record->handle = handle;
    record->stacksize = stacksize;
    record->priority = priority;
    record->reserved = 0;
    record->id = id;
    SetThreadPriority(handle, leveltopriority(priority));

    if (ResumeThread(handle) == static_cast<DWORD>(-1)) {
        /* Never ran: nobody else will close its handle or release us. */
        TerminateThread(handle, 0);
        CloseHandle(handle);
        return nullptr;
    }
    while (block.handle.load(std::memory_order_acquire) != nullptr)
        SleepEx(1, TRUE);
    return record->handle;
}

/* Ticks to milliseconds at the current rate, a stopped tick counting as 100 a second.
 * Kept below the platform's "no limit" value so that a long wait still ends. */
DWORD tickstoms(uint32_t ticks) {
    int32_t rate = tickrate;
    if (rate <= 0)
        rate = 100;
    uint64_t ms = static_cast<uint64_t>(ticks) * 1000u / static_cast<uint32_t>(rate);
    return ms >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(ms);
}

/* Waits, not alertable, for any one of count handles; the signalled handle or null. */
void *waitany(int32_t count, void *const *handles, DWORD milliseconds) {
    if (count <= 0)
        return nullptr;
    DWORD r =
        WaitForMultipleObjectsEx(static_cast<DWORD>(count), handles, FALSE, milliseconds, FALSE);
    DWORD first = static_cast<DWORD>(WAIT_OBJECT_0);
    if (r < first || r - first >= static_cast<DWORD>(count))
        return nullptr;
    return handles[r - first];
}

} // namespace

/* Records the calling thread as the main thread (id and a real handle) and creates
 * liblock, once. The record is published only after liblock exists, so a thread that
 * sees it initialised also sees liblock. */
void initmainthread(void) {
    if (mainthread.initialised.load(std::memory_order_acquire) != 0)
        return;
    guardenter(mainthread.busy);
    if (mainthread.initialised.load(std::memory_order_relaxed) == 0) {
        mainthread.id = GetCurrentThreadId();
        HANDLE process = GetCurrentProcess();
        DuplicateHandle(process, GetCurrentThread(), process, &mainthread.handle, 0, FALSE,
                        DUPLICATE_SAME_ACCESS);
        liblock = newlock();
        mainthread.initialised.store(1, std::memory_order_release);
    }
    guardleave(mainthread.busy);
}

/* A new initialised lock from the pool (the most recently freed record first); null
 * when the pool has no record and cannot get another page. */
critsection *createlock(void) {
    initmainthread();
    return newlock();
}

/* Enters the lock; blocks while another thread holds it. */
void enterlock(critsection *lock) {
    EnterCriticalSection(&lock->section);
}

/* Leaves the lock once (a thread that entered it twice leaves it twice). */
void leavelock(critsection *lock) {
    LeaveCriticalSection(&lock->section);
}

/* Deletes the section and puts the record back at the head of the free list, marked
 * free. Null is ignored. */
void deletelock(critsection *lock) {
    if (lock == nullptr)
        return;
    DeleteCriticalSection(&lock->section);
    guardenter(pool.busy);
    lock->link = pool.free;
    lock->marker = critsectionfree;
    pool.free = lock;
    guardleave(pool.busy);
}

/* Starts an argument-less thread function; see threads.h for the handshake. */
void *createlibthread(threadfunction function, uint32_t stacksize, int32_t priority, int32_t unused,
                      threadrecord *record) {
    (void)unused;
    return startthread(function, nullptr, 0, stacksize, priority, record);
}

/* Starts a thread function with its 32-bit argument; see threads.h. */
void *createparamthread(threadparamfunction function, uint32_t argument, uint32_t stacksize,
                        int32_t priority, int32_t unused, threadrecord *record) {
    (void)unused;
    return startthread(nullptr, function, argument, stacksize, priority, record);
}

/* Ends the designated thread with code 0 and closes the record's handle; refuses the
 * main thread with a report. The thread is stopped wherever it is and not cleaned up
 * (see threads.h). */
void removethread(threadrecord *thread) {
    if (thread == nullptr) {
        THISTLE_SITE("win\\threads");
        fatalerror("removethread - CANNOT REMOVE THE MAIN THREAD.\n");
        return;
    }
    if (thread == THREAD_SELF) {
        /* Ending oneself needs no handle: the same exit code without a self-kill. */
        ExitThread(0);
    }
    TerminateThread(thread->handle, 0);
    CloseHandle(thread->handle);
}

/* 1 when the calling thread is the designated one; THREAD_SELF always matches. */
int isthread(const threadrecord *thread) {
    if (thread == THREAD_SELF)
        return 1;
    initmainthread();
    DWORD id = thread == nullptr ? mainthread.id : thread->id;
    return GetCurrentThreadId() == id ? 1 : 0;
}

/* The designated thread's level, mapped back from its platform priority. */
int getpriority(const threadrecord *thread) {
    initmainthread();
    return prioritytolevel(GetThreadPriority(designatedhandle(thread)));
}

/* Sets the platform priority that level stands for; returns the platform's result. */
int setpriority(const threadrecord *thread, int32_t level) {
    initmainthread();
    return SetThreadPriority(designatedhandle(thread), leveltopriority(level));
}

/* Ends the calling thread with code 0 (its handle stays with whoever holds it). */
void exitlibthread(void) {
    ExitThread(0);
}

/* Sleeps alertably for the given milliseconds. */
void sleepms(uint32_t milliseconds) {
    SleepEx(milliseconds, TRUE);
}

/* Sleeps alertably for ticks at the current tick rate. */
void sleepticks(uint32_t ticks) {
    SleepEx(tickstoms(ticks), TRUE);
}

/* An unnamed auto-reset event, not signalled. */
void *makeevent(void) {
    return CreateEventA(nullptr, FALSE, FALSE, nullptr);
}

/* An unnamed manual-reset event, not signalled. */
void *makemanualevent(void) {
    return CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

/* Sets the event. */
int signalevent(void *event) {
    return SetEvent(event);
}

/* Sets the event, ignoring value. */
void signaleventcallback(uint32_t value, void *event) {
    (void)value;
    SetEvent(event);
}

/* Resets the event. */
int resetevent(void *event) {
    return ResetEvent(event);
}

/* Pulses the event: current waiters go, the event ends reset. */
int pulseevent(void *event) {
    return PulseEvent(event);
}

/* Closes an event (or any handle). */
int closeevent(void *handle) {
    return CloseHandle(handle);
}

/* Sets the event and closes the caller's handle to it. */
int signalandclose(void *event) {
    BOOL set = SetEvent(event);
    BOOL closed = CloseHandle(event);
    return set && closed;
}

/* Waits for any one handle, not alertable; the signalled handle or null. -1 converts
 * to the platform's INFINITE, which has the same bits. */
void *waitevents(int32_t count, void *const *handles, int32_t milliseconds) {
    return waitany(count, handles, static_cast<DWORD>(milliseconds));
}

/* waitevents without a time limit. */
void *waitanyevent(int32_t count, void *const *handles) {
    return waitany(count, handles, INFINITE);
}

/* Waits for one event without a time limit. */
void *waitevent(void *event) {
    return waitany(1, &event, INFINITE);
}

/* 1 when the event is signalled right now. */
int pollevent(void *event) {
    return waitany(1, &event, 0) != nullptr ? 1 : 0;
}

/* Waits at most ticks for the event; 1 when it was signalled. */
int waiteventticks(void *event, uint32_t ticks) {
    return waitany(1, &event, tickstoms(ticks)) != nullptr ? 1 : 0;
}
