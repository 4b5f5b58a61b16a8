/*
 * thread.cpp - threads of the process: CreateThread (also suspended), ResumeThread,
 * priorities, TerminateThread, ExitThread, exit codes, pseudo-handles,
 * DuplicateHandle, QueueUserAPC, thread ids, Sleep and SleepEx.
 *
 * A thread object is the record of one pthread, created detached: the object, not
 * a join, tells when it has ended. Each thread owns one reference to its own record
 * through a thread-local holder, dropped when the thread ends however it ends
 * (return, ExitThread, TerminateThread), so closing the handle early is safe.
 * Threads that CreateThread did not start get a record the first time they need one.
 *
 * Priorities: the THREAD_PRIORITY_* value set is what GetThreadPriority reads back.
 * It is also applied as the thread's nice value relative to the process's nice at
 * start-up; raising above it usually needs privileges, and a refusal is ignored (the
 * call still succeeds, as Windows would answer). HIGHEST and TIME_CRITICAL also ask for
 * the two lowest real-time priorities (SCHED_FIFO 1 and 2): on Windows such threads of
 * a normal process run before every normal thread, which is what a tick's threads rely
 * on (a nice value only shares the processor out; under load the tick lost ticks and
 * drifted, docs/bench-timer.md). Without the privilege they keep the nice value alone.
 *
 * TerminateThread ends another thread wherever it is, as Windows does: a thread waiting
 * or sleeping in this layer (or still suspended) sees its terminate flag and ends; any
 * other thread the layer started gets the signal KERN_TERMSIGNAL, whose handler jumps
 * straight back to the bottom of threadmain, which publishes the end. Nothing between
 * is unwound (see TerminateThread for what that leaves behind). The handler does not
 * jump while the thread is inside the layer's own waits or while anyone holds the
 * layer's locks; the terminating thread then sends the signal again a moment later.
 * Waits outside kernwake (the window side's) are woken through the hook the thread
 * registered with kernsetwake.
 *
 * Threads and locks: every record field that changes is guarded by kernlock, and
 * changes broadcast kernwake; those the thread itself waits for (APCs, the terminate
 * flag) also wake it in a wait of its own (kernwakethread).
 */
#include "kernel.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <csetjmp>
#include <csignal>
#include <ctime>
#include <sched.h>
#include <sys/syscall.h>
#include <sys/resource.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define THISTLE_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define THISTLE_ASAN 1
#endif
#endif
#ifndef THISTLE_ASAN
#define THISTLE_ASAN 0
#endif
#if THISTLE_ASAN
extern "C" void __asan_unpoison_memory_region(void const volatile *addr, size_t size);
#endif

namespace {

/* The process's nice value at start-up: what THREAD_PRIORITY_NORMAL stands for. */
int basenice;

__attribute__((constructor)) void readbasenice() {
    errno = 0;
    int n = getpriority(PRIO_PROCESS, 0);
    basenice = errno == 0 ? n : 0;
}

/* Nice offsets of the seven priorities. */
int niceoffset(int priority) {
    switch (priority) {
    case THREAD_PRIORITY_IDLE:
        return 19;
    case THREAD_PRIORITY_LOWEST:
        return 8;
    case THREAD_PRIORITY_BELOW_NORMAL:
        return 4;
    case THREAD_PRIORITY_ABOVE_NORMAL:
        return -2;
    case THREAD_PRIORITY_HIGHEST:
        return -5;
    case THREAD_PRIORITY_TIME_CRITICAL:
        return -10;
    default:
        return 0;
    }
}

bool validpriority(int p) {
    return p == THREAD_PRIORITY_IDLE || p == THREAD_PRIORITY_TIME_CRITICAL ||
           (p >= THREAD_PRIORITY_LOWEST && p <= THREAD_PRIORITY_HIGHEST);
}

void applynice(DWORD tid, int priority) {
    struct sched_param rt {};
    rt.sched_priority = priority == THREAD_PRIORITY_TIME_CRITICAL ? 2
                        : priority == THREAD_PRIORITY_HIGHEST     ? 1
                                                                  : 0;
    /* refused: the thread keeps its policy, the value is still remembered */
    sched_setscheduler((pid_t)tid, rt.sched_priority != 0 ? SCHED_FIFO : SCHED_OTHER, &rt);
    int n = basenice + niceoffset(priority);
    n = n < -20 ? -20 : n > 19 ? 19 : n;
    setpriority(PRIO_PROCESS, (id_t)tid, n);
}

void threaddestroy(kobject *obj) {
    delete reinterpret_cast<kthread *>(obj);
}

bool threadsignalled(kobject *obj, DWORD tid) {
    (void)tid;
    return reinterpret_cast<kthread *>(obj)->finished;
}

/* Publishes the end of t; the first end wins, and a pending TerminateThread gives
 * its own code. */
void finish(kthread *t, DWORD code) {
    {
        std::lock_guard<std::mutex> lock(kernlock());
        if (!t->finished) {
            t->exitcode = t->terminate ? t->termcode : code;
            t->finished = true;
            t->apcs.clear();
        }
    }
    kernwake().notify_all();
}

__attribute__((noinline)) void release(kthread *own) {
    finish(own, 0);
    kernunref(&own->hdr);
}

/* Top of the stack part that ExitThread may unwind: the frame of threadmain. */
thread_local char *stacktop;

/* The calling thread's own reference to its record; destroyed when the thread ends,
 * after ExitThread too. ExitThread's unwinding runs behind the address sanitizer's
 * back, leaving the old frames marked; they are cleared before this runs on top of
 * them. */
struct selfholder {
    kthread *t = nullptr;
    ~selfholder() {
        if (t != nullptr) {
            kthread *own = t;
            t = nullptr;
#if THISTLE_ASAN
            char *sp = static_cast<char *>(__builtin_frame_address(0)) - 16384;
            if (stacktop > sp) {
                __asan_unpoison_memory_region(sp, (size_t)(stacktop - sp));
            }
#endif
            release(own);
        }
    }
};

thread_local selfholder self;
thread_local DWORD cachedtid;

/* Where a terminated thread that the layer started goes: the bottom of threadmain.
 * Set while the thread function may run; taken (cleared) by the jump. */
thread_local sigjmp_buf *volatile landing;
/* Above 0 while the thread is in layer code that a jump must not cut short. */
thread_local volatile sig_atomic_t nojump;

/* The first jump clears landing, so signals still queued for the thread are ignored. */
[[noreturn]] void jumptolanding() {
    sigjmp_buf *to = landing;
    landing = nullptr;
    siglongjmp(*to, 1);
}

void onterminate(int) {
    kthread *t = self.t;
    if (t == nullptr || landing == nullptr || nojump > 0 ||
        !t->killed.load(std::memory_order_acquire) || kernlocksbusy()) {
        return; /* not asked for, or not now: the terminating thread asks again */
    }
    jumptolanding();
}

void installterminate() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction sa {};
        sa.sa_handler = onterminate;
        /* No SA_RESTART: a blocking call that the signal interrupts returns, so that a
         * runtime that defers signals to the end of the call (the thread sanitizer)
         * delivers it. The thread ends then, or, were it deferred, soon after. */
        sa.sa_flags = 0;
        sigemptyset(&sa.sa_mask);
        sigaction(KERN_TERMSIGNAL, &sa, nullptr);
    });
}

/* After fork the child's one thread has a new id. */
__attribute__((constructor)) void registerforkreset() {
    pthread_atfork(nullptr, nullptr, [] { cachedtid = 0; });
}

kthread *newthread() {
    kthread *t = new (std::nothrow) kthread{};
    if (t != nullptr) {
        kerninit(&t->hdr, &kthreadtype);
    }
    return t;
}

void *threadmain(void *arg) {
    kthread *t = static_cast<kthread *>(arg);
    self.t = t; /* takes over the reference CreateThread made for the thread */
    stacktop = static_cast<char *>(__builtin_frame_address(0));
    sigjmp_buf land;
    if (sigsetjmp(land, 1) != 0) {
        finish(t, 0); /* terminated: finish gives the terminate code */
        return nullptr;
    }
    landing = &land;
    int priority;
    bool run;
    {
        kernnoterm quiet;
        std::unique_lock<std::mutex> lock(kernlock());
        t->tid = GetCurrentThreadId();
        t->started = true;
        kernwake().notify_all();
        kernwake().wait(lock, [t] { return t->suspend == 0 || t->terminate; });
        run = !t->terminate;
        priority = t->priority;
    }
    DWORD code = 0;
    if (run) {
        /* A new thread inherits its creator's nice value and scheduling policy (a
         * real-time one, from a HIGHEST or TIME_CRITICAL creator); it starts at its own. */
        applynice(t->tid, priority);
        code = t->start(t->param);
    }
    landing = nullptr;
    finish(t, code);
    return nullptr;
}

BOOL failwith(DWORD err) {
    SetLastError(err);
    return FALSE;
}

} // namespace

const kobjtype kthreadtype = {
    .name = "thread",
    .destroy = threaddestroy,
    .signalled = threadsignalled,
    .acquire = nullptr,
    .pollms = 0,
};

kobject *kernremotethread(DWORD tid) {
    kthread *t = newthread();
    if (t == nullptr) {
        return nullptr;
    }
    t->tid = tid;
    t->started = true;
    t->remote = true;
    return &t->hdr;
}

kthread *kernself() {
    if (self.t == nullptr) {
        kthread *t = newthread();
        if (t == nullptr) {
            return nullptr;
        }
        t->tid = GetCurrentThreadId();
        t->started = true;
        self.t = t;
    }
    return self.t;
}

kthread *kernrefthread(HANDLE h) {
    if (h == KERN_CURRENTTHREAD) {
        kthread *t = kernself();
        if (t == nullptr) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        kernaddref(&t->hdr);
        return t;
    }
    return reinterpret_cast<kthread *>(kernref(h, &kthreadtype));
}

[[noreturn]] void kernendthread(DWORD code) {
    kthread *t = kernself();
    if (t != nullptr) {
        finish(t, code);
    }
    pthread_exit(nullptr);
}

[[noreturn]] void kernterminated() {
    if (landing != nullptr) {
        jumptolanding();
    }
    kthread *t = kernself();
    DWORD code;
    {
        std::lock_guard<std::mutex> lock(kernlock());
        code = t->termcode;
    }
    kernendthread(code);
}

void kernsetwake(void (*wake)(void *arg), std::shared_ptr<void> arg) {
    kthread *t = kernself();
    if (t == nullptr) {
        return;
    }
    std::lock_guard<std::mutex> lock(kernlock());
    t->wake = wake;
    t->wakearg = std::move(arg);
}

bool kernterminating() {
    kthread *t = self.t;
    if (t == nullptr) {
        return false;
    }
    std::lock_guard<std::mutex> lock(kernlock());
    return t->terminate;
}

kernnoterm::kernnoterm() {
    nojump = nojump + 1;
}

kernnoterm::~kernnoterm() {
    nojump = nojump - 1;
}

/* Starts lpStartAddress(lpParameter) on a new thread, at once or, with
 * CREATE_SUSPENDED, once ResumeThread brings its suspend count to 0. Returns its
 * handle (the caller closes it; the thread runs on regardless) and its id through
 * lpThreadId, or null with the last error set. dwStackSize 0 takes the default. */
HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES lpThreadAttributes, SIZE_T dwStackSize,
                           LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                           DWORD dwCreationFlags, LPDWORD lpThreadId) {
    (void)lpThreadAttributes;
    if (lpStartAddress == nullptr || (dwCreationFlags & ~(DWORD)CREATE_SUSPENDED) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    kthread *t = newthread();
    if (t == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    t->start = lpStartAddress;
    t->param = lpParameter;
    t->suspend = (dwCreationFlags & CREATE_SUSPENDED) != 0 ? 1 : 0;

    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    if (dwStackSize != 0) {
        long page = sysconf(_SC_PAGESIZE);
        size_t size = ((size_t)dwStackSize + (size_t)page - 1) / (size_t)page * (size_t)page;
        if (size < (size_t)PTHREAD_STACK_MIN) {
            size = (size_t)PTHREAD_STACK_MIN;
        }
        pthread_attr_setstacksize(&attr, size);
    }
    kernaddref(&t->hdr); /* the new thread's own reference */
    /* The record is filled under kernlock before the thread can read it. */
    int rc;
    {
        std::lock_guard<std::mutex> lock(kernlock());
        pthread_t thread;
        rc = pthread_create(&thread, &attr, threadmain, t);
    }
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        delete t;
        SetLastError(kernerror(rc));
        return nullptr;
    }

    /* The id is the kernel's thread id, known only once the thread runs. */
    DWORD tid;
    {
        kernnoterm quiet;
        std::unique_lock<std::mutex> lock(kernlock());
        kernwake().wait(lock, [t] { return t->started; });
        tid = t->tid;
    }
    HANDLE h = kernhandle(&t->hdr);
    if (h != nullptr && lpThreadId != nullptr) {
        *lpThreadId = tid;
    }
    return h;
}

/* Takes one from the thread's suspend count; at 0 a suspended thread starts.
 * Returns the count before the call (0: it was running), or (DWORD)-1 with the last
 * error set. */
DWORD WINAPI ResumeThread(HANDLE hThread) {
    kthread *t = kernrefthread(hThread);
    if (t == nullptr) {
        return (DWORD)-1;
    }
    DWORD previous;
    {
        std::lock_guard<std::mutex> lock(kernlock());
        previous = t->suspend;
        if (t->suspend > 0) {
            t->suspend--;
        }
    }
    kernwake().notify_all();
    kernunref(&t->hdr);
    return previous;
}

/* The priority last set on the thread (THREAD_PRIORITY_NORMAL until then), or
 * THREAD_PRIORITY_ERROR_RETURN with the last error set. */
int WINAPI GetThreadPriority(HANDLE hThread) {
    kthread *t = kernrefthread(hThread);
    if (t == nullptr) {
        return THREAD_PRIORITY_ERROR_RETURN;
    }
    int p;
    {
        std::lock_guard<std::mutex> lock(kernlock());
        p = t->priority;
    }
    kernunref(&t->hdr);
    return p;
}

/* Sets one of the seven THREAD_PRIORITY_* values (others: FALSE with
 * ERROR_INVALID_PARAMETER, as for a normal-class process on Windows). The value is
 * remembered whatever the system lets the thread have; see the top of the file. */
BOOL WINAPI SetThreadPriority(HANDLE hThread, int nPriority) {
    if (!validpriority(nPriority)) {
        return failwith(ERROR_INVALID_PARAMETER);
    }
    kthread *t = kernrefthread(hThread);
    if (t == nullptr) {
        return FALSE;
    }
    bool apply;
    DWORD tid;
    {
        std::lock_guard<std::mutex> lock(kernlock());
        t->priority = nPriority;
        apply = !t->remote && !t->finished;
        tid = t->tid;
    }
    if (apply) {
        applynice(tid, nPriority);
    }
    kernunref(&t->hdr);
    return TRUE;
}

/* Ends a thread of this process with dwExitCode, wherever it is, and returns once it
 * has ended; its handle is signalled then. For the calling thread this is ExitThread.
 * As on Windows, nothing of the thread is cleaned up: locks it holds stay held
 * (critical sections, mutexes, and the C library's own, such as the heap's when it
 * was allocating), objects on its stack are not destroyed and memory it allocated is
 * not freed; only its thread-local objects are destroyed. Only threads that
 * CreateThread started are stopped anywhere; others end at their next wait or sleep
 * in this layer. A thread that blocks KERN_TERMSIGNAL is given about 0.2 s; this then
 * returns TRUE and the thread ends when it unblocks the signal or waits or sleeps in
 * this layer. FALSE with the last error set for a thread of another process or a bad
 * handle. */
BOOL WINAPI TerminateThread(HANDLE hThread, DWORD dwExitCode) {
    kthread *t = kernrefthread(hThread);
    if (t == nullptr) {
        return FALSE;
    }
    if (t->remote) {
        kernunref(&t->hdr);
        return failwith(ERROR_ACCESS_DENIED);
    }
    if (t == self.t) {
        kernunref(&t->hdr);
        kernendthread(dwExitCode);
    }
    installterminate();
    kthread *me = kernself();
    bool signal;
    DWORD tid;
    void (*wake)(void *) = nullptr;
    std::shared_ptr<void> wakearg;
    {
        std::lock_guard<std::mutex> lock(kernlock());
        if (!t->finished && !t->terminate) {
            t->terminate = true;
            t->termcode = dwExitCode;
        }
        signal = !t->finished && t->start != nullptr;
        t->killed.store(signal, std::memory_order_release);
        tid = t->tid;
        if (!t->finished) {
            wake = t->wake;
            wakearg = t->wakearg;
        }
        kernwakethread(t);
    }
    kernwake().notify_all();
    /* A thread waiting on the window side holds off the signal there; it ends once
     * woken. */
    if (wake != nullptr) {
        wake(wakearg.get());
    }
    /* Signalled without kernlock held, so that the handler can act at once. A thread
     * that has ended meanwhile gets nothing, or, were its id taken by a new thread
     * already, that thread ignores the signal (its killed flag is clear). */
    bool terminated = false;
    for (int tries = 0; signal && tries < 200 && !terminated; tries++) {
        syscall(SYS_tgkill, (pid_t)getpid(), (pid_t)tid, KERN_TERMSIGNAL);
        kernnoterm quiet;
        std::unique_lock<std::mutex> lock(kernlock());
        kernwake().wait_for(lock, std::chrono::milliseconds(1),
                            [t, me] { return t->finished || (me != nullptr && me->terminate); });
        signal = !t->finished;
        terminated = me != nullptr && me->terminate;
    }
    kernunref(&t->hdr);
    if (terminated) {
        kernterminated();
    }
    return TRUE;
}

/* Ends the calling thread with dwExitCode (the process goes on). */
[[noreturn]] void WINAPI ExitThread(DWORD dwExitCode) {
    kernendthread(dwExitCode);
}

/* STILL_ACTIVE while the thread runs (threads of other processes always read so),
 * then its exit code. FALSE with the last error set for a bad handle. */
BOOL WINAPI GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode) {
    if (lpExitCode == nullptr) {
        return failwith(ERROR_INVALID_PARAMETER);
    }
    kthread *t = kernrefthread(hThread);
    if (t == nullptr) {
        return FALSE;
    }
    {
        std::lock_guard<std::mutex> lock(kernlock());
        *lpExitCode = t->finished ? t->exitcode : (DWORD)STILL_ACTIVE;
    }
    kernunref(&t->hdr);
    return TRUE;
}

/* The pseudo-handle that names the calling thread wherever a thread handle is taken;
 * DuplicateHandle turns it into a real one that other threads can use. */
HANDLE WINAPI GetCurrentThread(void) {
    return KERN_CURRENTTHREAD;
}

/* The pseudo-handle of the calling process; accepted as the process of
 * DuplicateHandle; a wait on it never ends. */
HANDLE WINAPI GetCurrentProcess(void) {
    return KERN_CURRENTPROCESS;
}

/* Makes a new handle to the object of hSourceHandle (an open handle of any kind, or
 * the current thread's pseudo-handle) within this process; both process handles must
 * be GetCurrentProcess(). Access is always the same as the source's. With
 * DUPLICATE_CLOSE_SOURCE the source handle is closed (also when the copy fails).
 * TRUE with *lpTargetHandle set, or FALSE with the last error set. */
BOOL WINAPI DuplicateHandle(HANDLE hSourceProcessHandle, HANDLE hSourceHandle,
                            HANDLE hTargetProcessHandle, LPHANDLE lpTargetHandle,
                            DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwOptions) {
    (void)dwDesiredAccess;
    (void)bInheritHandle;
    if (hSourceProcessHandle != KERN_CURRENTPROCESS ||
        hTargetProcessHandle != KERN_CURRENTPROCESS) {
        return failwith(ERROR_INVALID_PARAMETER);
    }
    kobject *obj;
    if (hSourceHandle == KERN_CURRENTTHREAD) {
        kthread *t = kernrefthread(hSourceHandle);
        obj = t != nullptr ? &t->hdr : nullptr;
    } else {
        obj = kernref(hSourceHandle, nullptr);
    }
    if (obj == nullptr) {
        return FALSE;
    }
    const kobjtype *type = obj->type;
    BOOL ok = TRUE;
    if (lpTargetHandle != nullptr) {
        HANDLE h = kernhandle(obj); /* takes over our reference */
        ok = h != nullptr;
        *lpTargetHandle = h;
    } else {
        kernunref(obj);
    }
    if ((dwOptions & DUPLICATE_CLOSE_SOURCE) != 0 && hSourceHandle != KERN_CURRENTTHREAD) {
        DWORD err = GetLastError();
        kernclose(hSourceHandle, type);
        SetLastError(err);
    }
    return ok;
}

/* Queues pfnAPC(dwData) to run on the thread the next time it waits or sleeps
 * alertably. Non-zero on success; 0 with the last error set for a bad handle, a
 * thread of another process or one that has ended. */
DWORD WINAPI QueueUserAPC(PAPCFUNC pfnAPC, HANDLE hThread, ULONG_PTR dwData) {
    if (pfnAPC == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    kthread *t = kernrefthread(hThread);
    if (t == nullptr) {
        return 0;
    }
    bool queued = false;
    {
        std::lock_guard<std::mutex> lock(kernlock());
        if (!t->remote && !t->finished) {
            t->apcs.push_back(kapc{pfnAPC, dwData});
            queued = true;
            kernwakethread(t);
        }
    }
    kernwake().notify_all();
    kernunref(&t->hdr);
    if (!queued) {
        SetLastError(ERROR_INVALID_PARAMETER);
    }
    return queued ? 1 : 0;
}

/* The calling thread's id: the kernel's thread id, unique on the machine while the
 * thread lives (the main thread's id equals the process id). */
DWORD WINAPI GetCurrentThreadId(void) {
    if (cachedtid == 0) {
        cachedtid = (DWORD)gettid();
    }
    return cachedtid;
}

/* Suspends the calling thread for at least dwMilliseconds; 0 gives up the rest of
 * the time slice, INFINITE never returns. Queued APCs stay queued. */
void WINAPI Sleep(DWORD dwMilliseconds) {
    if (dwMilliseconds == 0) {
        sched_yield();
        return;
    }
    kernwait(0, nullptr, FALSE, dwMilliseconds, FALSE);
}

/* Sleep; with bAlertable, queued APCs run and end the sleep early with
 * WAIT_IO_COMPLETION. Returns 0 when the time has passed. */
DWORD WINAPI SleepEx(DWORD dwMilliseconds, BOOL bAlertable) {
    if (dwMilliseconds == 0 && !bAlertable) {
        sched_yield();
        return 0;
    }
    DWORD r = kernwait(0, nullptr, FALSE, dwMilliseconds, bAlertable);
    if (r == WAIT_TIMEOUT) {
        if (dwMilliseconds == 0) {
            sched_yield();
        }
        return 0;
    }
    return r;
}
