/*
 * thread.cpp - threads of the process: CreateThread, thread ids, Sleep.
 *
 * A thread object is the record of one pthread, created detached: the object, not
 * a join, tells when it has ended. The new thread holds its own reference to the
 * object until its start routine returns, so closing the handle early is safe.
 * Threads and locks: start and end of a thread are published under kernlock with a
 * kernwake broadcast. CREATE_SUSPENDED is not offered yet (fails cleanly).
 */
#include "kernel.h"

#include <cerrno>
#include <climits>
#include <ctime>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

namespace {

struct kthread {
    kobject hdr;
    LPTHREAD_START_ROUTINE start;
    LPVOID param;
    DWORD tid;      /* guarded by kernlock until started */
    bool started;   /* guarded by kernlock */
    bool finished;  /* guarded by kernlock */
    bool remote;    /* a thread of another process: only tid is known */
    DWORD exitcode; /* guarded by kernlock */
};

void threaddestroy(kobject *obj) {
    delete reinterpret_cast<kthread *>(obj);
}

void *threadmain(void *arg) {
    kthread *t = static_cast<kthread *>(arg);
    {
        std::lock_guard<std::mutex> lock(kernlock());
        t->tid = (DWORD)gettid();
        t->started = true;
    }
    kernwake().notify_all();
    DWORD code = t->start(t->param);
    {
        std::lock_guard<std::mutex> lock(kernlock());
        t->exitcode = code;
        t->finished = true;
    }
    kernwake().notify_all();
    kernunref(&t->hdr);
    return nullptr;
}

kthread *newthread() {
    kthread *t = new (std::nothrow) kthread{};
    if (t != nullptr) {
        kerninit(&t->hdr, &kthreadtype);
    }
    return t;
}

} // namespace

const kobjtype kthreadtype = {
    .name = "thread",
    .destroy = threaddestroy,
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

/* Starts lpStartAddress(lpParameter) on a new thread at once. Returns its handle
 * (the caller closes it; the thread runs on regardless) and its id through
 * lpThreadId, or null with the last error set. dwStackSize 0 takes the default. */
HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES lpThreadAttributes, SIZE_T dwStackSize,
                           LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                           DWORD dwCreationFlags, LPDWORD lpThreadId) {
    (void)lpThreadAttributes;
    if (lpStartAddress == nullptr || (dwCreationFlags & CREATE_SUSPENDED) != 0) {
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
    pthread_t th;
    int rc = pthread_create(&th, &attr, threadmain, t);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        delete t;
        SetLastError(kernerror(rc));
        return nullptr;
    }

    /* The id is the kernel's thread id, known only once the thread runs. */
    DWORD tid;
    {
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

/* The calling thread's id: the kernel's thread id, unique on the machine while the
 * thread lives (the main thread's id equals the process id). */
DWORD WINAPI GetCurrentThreadId(void) {
    return (DWORD)gettid();
}

/* Suspends the calling thread for at least dwMilliseconds; 0 gives up the rest of
 * the time slice, INFINITE never returns. Signals do not cut the wait short. */
void WINAPI Sleep(DWORD dwMilliseconds) {
    if (dwMilliseconds == 0) {
        sched_yield();
        return;
    }
    if (dwMilliseconds == INFINITE) {
        for (;;) {
            pause();
        }
    }
    struct timespec ts;
    ts.tv_sec = (time_t)(dwMilliseconds / 1000);
    ts.tv_nsec = (long)(dwMilliseconds % 1000) * 1000000L;
    while (clock_nanosleep(CLOCK_MONOTONIC, 0, &ts, &ts) == EINTR) {
    }
}

/* Sleep that could be cut short by queued callbacks when bAlertable is set; no
 * callbacks are queued on this layer yet, so it always sleeps fully and returns 0. */
DWORD WINAPI SleepEx(DWORD dwMilliseconds, BOOL bAlertable) {
    (void)bAlertable;
    Sleep(dwMilliseconds);
    return 0;
}
