/*
 * thistle/threads.h - locks, the main-thread record, library threads and events.
 *
 * A lock is a re-entrant critical section handed out from a pool; the pointer that
 * createlock returns is the lock handle callers keep. Threads are designated by a
 * pointer to their record, null for the main thread or THREAD_SELF for the caller.
 * Event and thread handles are the platform's handles, carried as void pointers so that
 * platform-neutral modules can hold them without a platform header.
 */
#ifndef THISTLE_THREADS_H
#define THISTLE_THREADS_H

#include <cstddef>
#include <cstdint>

/* A pool record whose first member is the platform's critical section, followed by the
 * free-list link and the marker. critsectionsize bytes, so that a pool page holds a
 * whole number of records: 32 where the critical section takes 24 bytes (32-bit
 * targets), 64 where it and the link are wider. */
typedef struct critsection critsection;
#if UINTPTR_MAX == 0xFFFFFFFFu
inline constexpr size_t critsectionsize = 32;
#else
inline constexpr size_t critsectionsize = 64;
#endif
/* Marker word of a record while it is on the pool's free list (the characters FREE). */
inline constexpr uint32_t critsectionfree = 0x46524545u;

/* The library-wide lock, created with the main-thread record on first use. */
extern critsection *liblock;

/* Records the calling thread as the main thread and creates liblock, once; later calls
 * (from any thread) leave the record as it is. Every operation that needs the record
 * calls it first. */
void initmainthread(void);

/* A new re-entrant lock from the pool; null when the pool cannot grow. Records the
 * main thread first if that has not happened yet. */
critsection *createlock(void);
/* Enters the lock, blocking; the same thread may enter it again. */
void enterlock(critsection *lock);
/* Leaves the lock once. */
void leavelock(critsection *lock);
/* Deletes the lock and returns its record to the pool; null is ignored. */
void deletelock(critsection *lock);

/* A library thread's record, filled by the thread starters into caller-owned memory.
 * The handle is closed by the thread itself when its function returns. */
struct threadrecord {
    void *handle;       /* the platform's thread handle */
    uint32_t stacksize; /* as requested, 0 = the platform default */
    int32_t priority;   /* level as requested, -3 to 3 */
    uint32_t reserved;  /* 0 */
    uint32_t id;        /* the platform's thread id */
};
static_assert(sizeof(threadrecord) == sizeof(void *) + 16, "thread record: five fields");

/* Designator of the calling thread, wherever a thread record pointer is taken. */
#define THREAD_SELF ((threadrecord *)(intptr_t)-1)

typedef void (*threadfunction)(void);
typedef void (*threadparamfunction)(uint32_t argument);

/* Optional query of the display module: non-zero while a display surface is locked.
 * Null (the start value) until the display module installs it. Thread starters refuse
 * to start a thread while it answers non-zero. */
extern int (*surfacelocked)(void);

/* Starts function on a new thread with the stack size (0 = default) and priority level
 * (-3 to 3) given, and fills record. Returns once the thread runs and has taken its start
 * data. unused is ignored (callers pass -1). Returns the thread's handle, null on failure.
 * The thread closes its handle and ends with code 0 when function returns. */
void *createlibthread(threadfunction function, uint32_t stacksize, int32_t priority, int32_t unused,
                      threadrecord *record);
/* createlibthread for a function that takes one 32-bit argument. */
void *createparamthread(threadparamfunction function, uint32_t argument, uint32_t stacksize,
                        int32_t priority, int32_t unused, threadrecord *record);

/* Terminates the designated thread with exit code 0, wherever it is, and closes the
 * record's handle. Nothing of the thread is cleaned up: locks it holds stay held,
 * objects on its stack are not destroyed, memory it took is not given back.
 * THREAD_SELF ends the calling thread; null (the main thread) is reported and refused.
 * Only for threads whose function has not returned yet. */
void removethread(threadrecord *thread);

/* 1 when the calling thread is the designated one (always 1 for THREAD_SELF), else 0. */
int isthread(const threadrecord *thread);

/* The designated thread's priority level, -3 to 3; 0 for a platform priority that has
 * no level. */
int getpriority(const threadrecord *thread);
/* Sets the designated thread's platform priority from level (levels outside -3 to 3
 * give normal priority). Returns the platform call's result (non-zero on success). */
int setpriority(const threadrecord *thread, int32_t level);

/* Ends the calling thread with exit code 0. */
[[noreturn]] void exitlibthread(void);

/* Alertable sleeps: queued calls for this thread run while it sleeps. sleepticks
 * converts with tickrate, a stopped tick (tickrate 0) counting as 100 a second. */
void sleepms(uint32_t milliseconds);
void sleepticks(uint32_t ticks);

/* Unnamed events, not signalled when made: auto-reset (one waiter is released per
 * signal) or manual-reset. Null on failure. The caller closes them with closeevent. */
void *makeevent(void);
void *makemanualevent(void);

/* Event operations; each returns the platform call's result (non-zero on success). */
int signalevent(void *event);
int resetevent(void *event);
/* Releases the current waiters (all of a manual-reset event, one of an auto-reset
 * event) and leaves the event reset. */
int pulseevent(void *event);
int closeevent(void *handle);
/* Sets the event, then closes it. */
int signalandclose(void *event);
/* Sets the event; value is ignored (the form of a callback with a user value). */
void signaleventcallback(uint32_t value, void *event);

/* Waits, not alertable, until any one of count handles is signalled, at most
 * milliseconds (-1: no limit). Returns that handle; null on time-out, abandonment or
 * failure. */
void *waitevents(int32_t count, void *const *handles, int32_t milliseconds);
/* waitevents without a time limit. */
void *waitanyevent(int32_t count, void *const *handles);
/* Waits for one event without a time limit; returns it, or null on failure. */
void *waitevent(void *event);
/* 1 when the event is signalled now (an auto-reset event is consumed), else 0. */
int pollevent(void *event);
/* Waits at most ticks (converted like sleepticks); 1 when the event was signalled. */
int waiteventticks(void *event, uint32_t ticks);

#endif /* THISTLE_THREADS_H */
