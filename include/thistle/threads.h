/*
 * thistle/threads.h - locks, the main-thread record, library threads and events.
 *
 * A lock is a re-entrant critical section handed out from a pool; the pointer that
 * createlock returns is the lock handle callers keep.
 */
#ifndef THISTLE_THREADS_H
#define THISTLE_THREADS_H

#include <cstdint>

/* A pool record whose first member is the platform's critical section. */
typedef struct critsection critsection;

/* The library-wide lock, created with the main-thread record on first use. */
extern critsection *liblock;

/* A new re-entrant lock from the pool; null when the pool cannot grow. Records the
 * main thread first if that has not happened yet. */
critsection *createlock(void);
/* Enters the lock, blocking; the same thread may enter it again. */
void enterlock(critsection *lock);
/* Leaves the lock once. */
void leavelock(critsection *lock);
/* Deletes the lock and returns its record to the pool; null is ignored. */
void deletelock(critsection *lock);

/* A library thread's record, filled by the thread starters into caller-owned memory. */
struct threadrecord;

/* 1 when the calling thread is the designated one: a record, null for the main thread,
 * or the calling thread's designator (always 1). */
int isthread(const threadrecord *thread);

#endif /* THISTLE_THREADS_H */
