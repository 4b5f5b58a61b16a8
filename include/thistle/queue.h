/*
 * thistle/queue.h - the library's one container: a singly linked queue of caller-owned
 * elements with an optional priority order, guarded by a re-entrant lock.
 *
 * The queue never allocates. An element is any record of the caller's whose first field
 * is the link `next`; the queue reads and writes only that field. A queue record is
 * embedded in the caller's own structures and may share its lock with peer queues.
 */
#ifndef THISTLE_QUEUE_H
#define THISTLE_QUEUE_H

#include "thistle/threads.h"

#include <cstddef>
#include <cstdint>

/* The link every element starts with; null in the last element and in any element that
 * is in no queue. */
struct qelement {
    qelement *next;
};

/* Priority of an element: unsigned and pointer-wide, always compared unsigned.
 * The data is the queue's prioritydata, passed unchanged. */
typedef uintptr_t (*qpriorityfunc)(void *element, uintptr_t data);
/* Test of the find/fetch operations (non-zero selects the element) and callback of the
 * walks (0 stops the walk). */
typedef int (*qtestfunc)(void *element, void *data);

/* Bits of queue.flags. */
enum : uint32_t {
    QF_CHANGED = 1, /* set by every change; qiterate watches it */
    QF_OWNLOCK = 2, /* the queue created its lock and deletes it in qfree */
};

/* The queue record: seven fields in this order. On the 32-bit platform every field is
 * 32 bits (28 bytes); elsewhere the pointers, and prioritydata, are native width.
 * prioritydata is an integer as wide as a pointer so that a caller can pass either a
 * number or a pointer to its own context. lock doubles as the initialised marker. */
struct queue {
    uint32_t count;
    uint32_t flags;
    qelement *head;
    qelement *tail;
    qpriorityfunc priority;
    uintptr_t prioritydata;
    critsection *lock;
};

static_assert(offsetof(queue, head) == 8, "queue: count and flags lead the record");
static_assert(sizeof(queue) == 8 + 5 * sizeof(void *), "queue: seven fields, no padding");
static_assert(sizeof(void *) != 4 || sizeof(queue) == 28, "queue: 28 bytes on 32-bit");

/* The default priority: the element's own address. */
uintptr_t qdefaultpriority(void *element, uintptr_t data);

/* Initialises the queue with a lock of its own (own-lock mark set), no elements, the given
 * priority function (null: qdefaultpriority) and data. Reports when no lock is left. */
void qinit(queue *q, qpriorityfunc priority, uintptr_t data);
/* Initialises the queue to share the peer's lock: the two exclude each other. The peer
 * must stay initialised until this queue is freed. Reports when the peer is not initialised. */
void qinitpeer(queue *q, qpriorityfunc priority, uintptr_t data, queue *peer);
/* Makes the queue uninitialised again, deleting its lock if it owns it. Elements, count,
 * head and tail are left as they are; the elements stay the caller's. */
void qfree(queue *q);

/* Puts the element at the head (qpush) or the tail (qbottom); null is ignored.
 * Priorities play no part. */
void qpush(queue *q, void *element);
void qbottom(queue *q, void *element);
/* Takes out and returns the first (qpop) or last (qpoplast) element, null when empty.
 * Both mark the queue changed even when it is empty. */
void *qpop(queue *q);
void *qpoplast(queue *q);
/* Links the element in front of the first element of greater or equal priority, so that
 * priorities do not decrease from head to tail and the newest of equals comes first. */
void qinsert(queue *q, void *element);
/* Takes the element out: 1 when it was in the queue, 0 otherwise (also for null). */
int qremove(queue *q, void *element);

/* The number of elements, read without the lock. */
uint32_t qlength(queue *q);
/* Index from 0 of the element in a priority-ordered queue, or -1 when it is absent or
 * sits behind an element of higher priority. */
int32_t qposition(queue *q, void *element);
/* Priority of the first element (qlowpriority) or of the last (qhighpriority), which in
 * the order qinsert keeps are the lowest and the highest; all bits set when empty. */
uintptr_t qlowpriority(queue *q);
uintptr_t qhighpriority(queue *q);

/* The first element the test selects (null test: the first element), the element at an
 * index from 0, or the first element of exactly the given priority; null when none.
 * The fetch forms also take the element out of the queue. */
void *qfind(queue *q, qtestfunc test, void *data);
void *qfindindex(queue *q, uint32_t index);
void *qfindpriority(queue *q, uintptr_t priority);
void *qfetch(queue *q, qtestfunc test, void *data);
void *qfetchindex(queue *q, uint32_t index);
void *qfetchpriority(queue *q, uintptr_t priority);
/* Takes out and returns the element n + 1 places after the given one (n = 0: its
 * successor); null when the chain ends first. That element must be in this queue. */
void *qfetchnext(queue *q, void *element, uint32_t n);

/* Calls the callback on each element from head to tail without holding the lock. The walk
 * stops when a callback returns 0 or when the queue changes meanwhile. Returns -1 when
 * every element was visited, else the number of callbacks made. */
int32_t qiterate(queue *q, qtestfunc callback, void *data);
/* As qiterate, holding the lock for the whole walk: other threads wait, while the
 * callback may still use this queue and its peers. */
int32_t qsafeiterate(queue *q, qtestfunc callback, void *data);

/* Enter and leave the queue's lock, to make several operations one step. qenter returns 0.
 * Neither tests that the queue is initialised. */
int qenter(queue *q);
void qleave(queue *q);

#endif /* THISTLE_QUEUE_H */
