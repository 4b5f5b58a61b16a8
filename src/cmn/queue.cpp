/*
 * cmn\queue - singly linked queues of caller-owned elements with an optional priority
 * order (see thistle/queue.h).
 *
 * Locks: each queue has one re-entrant lock, its own or a peer's. Every operation but
 * qinit, qinitpeer, qfree, qlength and the walk of qiterate runs entirely under it; priority
 * and test functions are called with it held. qiterate calls its callbacks without the lock
 * and notices changes through the changed mark, so the mark, count and the elements' links
 * are read and written through relaxed atomic accesses: the lock orders the writers, the
 * atomics only keep the unlocked readers (qiterate's walk, qlength) well defined.
 * Limits: nothing is allocated; every search walks the list from head.
 */
#include "thistle/queue.h"

#include "thistle/diag.h"

#include <atomic>

namespace {

template <typename T>
T loadrelaxed(T &field) {
    return std::atomic_ref<T>(field).load(std::memory_order_relaxed);
}

template <typename T>
void storerelaxed(T &field, T value) {
    std::atomic_ref<T>(field).store(value, std::memory_order_relaxed);
}

qelement *asel(void *element) {
    return static_cast<qelement *>(element);
}

// Sets the changed mark under the lock. A plain load and store do: the only writer that
// does not hold the lock, a walk whose callback returned 0, sets this same bit, so
// nothing it writes can be lost. That saves a locked instruction on every change.
void setchanged(queue *q) {
    storerelaxed(q->flags, loadrelaxed(q->flags) | QF_CHANGED);
}

// Sets the mark from outside the lock.
void setchangedunlocked(queue *q) {
    std::atomic_ref<uint32_t>(q->flags).fetch_or(QF_CHANGED, std::memory_order_relaxed);
}

bool ischanged(queue *q) {
    return (loadrelaxed(q->flags) & QF_CHANGED) != 0;
}

// Only called with the lock held, so the load and the store cannot interleave with
// another writer.
void addcount(queue *q, uint32_t delta) {
    storerelaxed(q->count, q->count + delta);
}

// The report names the record by the low 32 bits of its address: the text keeps its
// eight hex digits on every platform.
void uninitialised(const queue *q, const char *operation) {
    THISTLE_SITE("cmn\\queue");
    fatalerror("%s - UNINITIALIZED QUEUE %08x USED.\n", operation,
               static_cast<unsigned>(reinterpret_cast<uintptr_t>(q)));
}

// Common start of a locked operation: the lock now held, or null when the queue is not
// initialised (reported; should the report return, the operation goes on unlocked).
// The caller leaves the lock it got back, so a callback that frees the queue meanwhile
// cannot make it leave a lock it never entered.
critsection *begin(queue *q, const char *operation) {
    critsection *lock = q->lock;
    if (lock == nullptr) {
        uninitialised(q, operation);
        return nullptr;
    }
    enterlock(lock);
    return lock;
}

void end(critsection *held) {
    if (held != nullptr) {
        leavelock(held);
    }
}

// A zero-filled record that was never initialised has no priority function; it gets the
// default one rather than a call through null.
uintptr_t priorityof(const queue *q, qelement *e) {
    qpriorityfunc priority = q->priority != nullptr ? q->priority : qdefaultpriority;
    return priority(e, q->prioritydata);
}

// Takes the element out of the queue under the caller's lock: 1 done, 0 not found.
int qunlink(queue *q, qelement *e) {
    if (e == nullptr || q->count == 0) {
        return 0;
    }
    if (e == q->head) {
        if (e == q->tail) {
            q->head = nullptr;
            q->tail = nullptr;
        } else {
            q->head = e->next;
        }
    } else {
        qelement *prev = q->head;
        while (prev != nullptr && prev->next != e) {
            prev = prev->next;
        }
        if (prev == nullptr) {
            return 0;
        }
        storerelaxed(prev->next, e->next);
        if (e == q->tail) {
            q->tail = prev;
        }
    }
    addcount(q, static_cast<uint32_t>(-1));
    storerelaxed(e->next, static_cast<qelement *>(nullptr));
    setchanged(q);
    return 1;
}

// The searches, under the caller's lock.
qelement *findtest(queue *q, qtestfunc test, void *data) {
    qelement *e = q->head;
    if (test == nullptr) {
        return e;
    }
    while (e != nullptr && test(e, data) == 0) {
        e = e->next;
    }
    return e;
}

// Follows the links rather than trusting count, so an index past the tail is null.
qelement *findindex(queue *q, uint32_t index) {
    qelement *e = q->head;
    for (uint32_t i = 0; i < index && e != nullptr; i++) {
        e = e->next;
    }
    return e;
}

qelement *findpriority(queue *q, uintptr_t priority) {
    qelement *e = q->head;
    while (e != nullptr) {
        uintptr_t p = priorityof(q, e);
        if (p >= priority) {
            return p == priority ? e : nullptr;
        }
        e = e->next;
    }
    return nullptr;
}

// The tail of every fetch: take the found element out, or report that it could not be.
void *fetchfound(queue *q, qelement *e, const char *message) {
    if (e == nullptr) {
        return nullptr;
    }
    if (qunlink(q, e) == 0) {
        THISTLE_SITE("cmn\\queue");
        fatalerror("%s", message);
        return nullptr;
    }
    return e;
}

// qiterate's walk. held is the lock its caller got from the common start (null when the
// queue is not initialised); it is entered again for the two short steps at either end,
// which also works inside qsafeiterate since the lock is re-entrant.
int32_t walk(queue *q, critsection *held, qtestfunc callback, void *data) {
    if (held != nullptr) {
        enterlock(held);
    }
    uint32_t waschanged = loadrelaxed(q->flags) & QF_CHANGED;
    std::atomic_ref<uint32_t>(q->flags).fetch_and(~uint32_t{QF_CHANGED}, std::memory_order_relaxed);
    qelement *e = q->head;
    end(held);

    int32_t calls = 0;
    while (e != nullptr && !ischanged(q)) {
        if (callback(e, data) == 0) {
            setchangedunlocked(q);
        }
        calls++;
        // Read after the callback: a removed element has a null link, which ends the walk.
        e = loadrelaxed(e->next);
    }

    if (held != nullptr) {
        enterlock(held);
    }
    int32_t result = ischanged(q) ? calls : -1;
    std::atomic_ref<uint32_t>(q->flags).fetch_or(waschanged, std::memory_order_relaxed);
    end(held);
    return result;
}

} // namespace

/* The default priority function: orders elements by address. */
uintptr_t qdefaultpriority(void *element, uintptr_t) {
    return reinterpret_cast<uintptr_t>(element);
}

/* Sets the queue up empty with a new lock of its own; the priority function defaults to
 * qdefaultpriority. When the lock pool is exhausted the queue stays uninitialised and the
 * report names qinit. */
void qinit(queue *q, qpriorityfunc priority, uintptr_t data) {
    q->lock = createlock();
    q->count = 0;
    q->flags = QF_OWNLOCK;
    q->head = nullptr;
    q->tail = nullptr;
    q->priority = priority != nullptr ? priority : qdefaultpriority;
    q->prioritydata = data;
    if (q->lock == nullptr) {
        uninitialised(q, "qinit");
    }
}

/* Sets the queue up empty on the peer's lock. An uninitialised peer is reported with its
 * own address (it is the record wrongly used) and leaves this queue uninitialised. */
void qinitpeer(queue *q, qpriorityfunc priority, uintptr_t data, queue *peer) {
    q->lock = peer->lock;
    q->count = 0;
    q->flags = 0;
    q->head = nullptr;
    q->tail = nullptr;
    q->priority = priority != nullptr ? priority : qdefaultpriority;
    q->prioritydata = data;
    if (q->lock == nullptr) {
        uninitialised(peer, "qinitpeer");
    }
}

/* Makes the queue uninitialised; deletes the lock only when the queue created it, so a
 * peer's lock survives. Must not run while another thread uses the queue. */
void qfree(queue *q) {
    if (q->lock == nullptr) {
        uninitialised(q, "qfree");
    }
    if ((q->flags & QF_OWNLOCK) != 0) {
        deletelock(q->lock);
    }
    q->lock = nullptr;
}

/* Links the element in at the head; null is ignored. */
void qpush(queue *q, void *element) {
    critsection *held = begin(q, "qpush");
    qelement *e = asel(element);
    if (e != nullptr) {
        storerelaxed(e->next, q->head);
        q->head = e;
        addcount(q, 1);
        if (e->next == nullptr) {
            q->tail = e;
        }
        setchanged(q);
    }
    end(held);
}

/* Links the element in at the tail; null is ignored. */
void qbottom(queue *q, void *element) {
    critsection *held = begin(q, "qbottom");
    qelement *e = asel(element);
    if (e != nullptr) {
        storerelaxed(e->next, static_cast<qelement *>(nullptr));
        addcount(q, 1);
        if (q->tail != nullptr) {
            storerelaxed(q->tail->next, e);
        } else {
            q->head = e;
        }
        q->tail = e;
        setchanged(q);
    }
    end(held);
}

/* Takes out the first element and returns it (null when empty). Marks the queue changed
 * in either case, which stops a qiterate in progress. */
void *qpop(queue *q) {
    critsection *held = begin(q, "qpop");
    qelement *e = q->head;
    if (e != nullptr) {
        if (e == q->tail) {
            q->head = nullptr;
            q->tail = nullptr;
        } else {
            q->head = e->next;
        }
        addcount(q, static_cast<uint32_t>(-1));
        storerelaxed(e->next, static_cast<qelement *>(nullptr));
    }
    setchanged(q);
    end(held);
    return e;
}

/* Takes out the last element and returns it (null when empty), walking from head to find
 * its predecessor. Marks the queue changed in either case. */
void *qpoplast(queue *q) {
    critsection *held = begin(q, "qpoplast");
    qelement *e = q->tail;
    if (e != nullptr) {
        addcount(q, static_cast<uint32_t>(-1));
        if (e == q->head) {
            q->head = nullptr;
            q->tail = nullptr;
        } else {
            qelement *prev = q->head;
            while (prev != nullptr && prev->next != e) {
                prev = prev->next;
            }
            q->tail = prev;
            if (prev != nullptr) {
                storerelaxed(prev->next, static_cast<qelement *>(nullptr));
            }
        }
        storerelaxed(e->next, static_cast<qelement *>(nullptr));
    }
    setchanged(q);
    end(held);
    return e;
}

/* Links the element in ahead of the first element whose priority is greater or equal.
 * The new element's priority is taken before the lock (it is in no queue yet); a null
 * element changes nothing and so neither reports nor locks. */
void qinsert(queue *q, void *element) {
    qelement *e = asel(element);
    if (e == nullptr) {
        return;
    }
    uintptr_t p = priorityof(q, e);
    critsection *held = begin(q, "qinsert");
    addcount(q, 1);
    qelement *prev = nullptr;
    qelement *next = q->head;
    while (next != nullptr && priorityof(q, next) < p) {
        prev = next;
        next = next->next;
    }
    storerelaxed(e->next, next);
    if (prev != nullptr) {
        storerelaxed(prev->next, e);
    } else {
        q->head = e;
    }
    if (next == nullptr) {
        q->tail = e;
    }
    setchanged(q);
    end(held);
}

/* Takes the element out of the queue: 1 when it was there, else 0 with the queue and
 * its changed mark untouched. */
int qremove(queue *q, void *element) {
    critsection *held = begin(q, "qremove");
    int removed = element != nullptr ? qunlink(q, asel(element)) : 0;
    end(held);
    return removed;
}

/* The element count, read without the lock: a snapshot when other threads are busy. */
uint32_t qlength(queue *q) {
    if (q->lock == nullptr) {
        uninitialised(q, "qlength");
    }
    return loadrelaxed(q->count);
}

/* Index of the element from head, or -1. The walk gives up at the first element of
 * higher priority than the sought one, as it would in a queue kept by qinsert; so an
 * element placed behind higher priorities by qpush or qbottom is reported as -1. */
int32_t qposition(queue *q, void *element) {
    critsection *held = begin(q, "qposition");
    int32_t result = -1;
    if (element != nullptr) {
        uintptr_t p = priorityof(q, asel(element));
        int32_t index = 0;
        for (qelement *e = q->head; e != nullptr; e = e->next, index++) {
            if (e == element) {
                result = index;
                break;
            }
            if (priorityof(q, e) > p) {
                break;
            }
        }
    }
    end(held);
    return result;
}

/* Priority of the first element, the lowest in a queue kept by qinsert; all bits set
 * when the queue is empty. */
uintptr_t qlowpriority(queue *q) {
    critsection *held = begin(q, "qlowpriority");
    uintptr_t result = q->head != nullptr ? priorityof(q, q->head) : ~uintptr_t{0};
    end(held);
    return result;
}

/* Priority of the last element, the highest in a queue kept by qinsert; all bits set
 * when the queue is empty. The tail is the element that answers the question the name
 * asks, and it costs no walk; in a queue with one element both ends agree. */
uintptr_t qhighpriority(queue *q) {
    critsection *held = begin(q, "qhighpriority");
    uintptr_t result = q->tail != nullptr ? priorityof(q, q->tail) : ~uintptr_t{0};
    end(held);
    return result;
}

/* The first element for which the test gives non-zero (a null test selects the head);
 * null when none does. The test runs under the queue's lock. */
void *qfind(queue *q, qtestfunc test, void *data) {
    critsection *held = begin(q, "qfind");
    qelement *e = findtest(q, test, data);
    end(held);
    return e;
}

/* The element at the index from 0, or null when the queue is shorter. */
void *qfindindex(queue *q, uint32_t index) {
    critsection *held = begin(q, "qfindindex");
    qelement *e = findindex(q, index);
    end(held);
    return e;
}

/* The first element of exactly the given priority in a priority-ordered queue, or null;
 * the walk stops at the first greater priority. */
void *qfindpriority(queue *q, uintptr_t priority) {
    critsection *held = begin(q, "qfindpriority");
    qelement *e = findpriority(q, priority);
    end(held);
    return e;
}

/* As qfind, and the element found is taken out and returned. */
void *qfetch(queue *q, qtestfunc test, void *data) {
    critsection *held = begin(q, "qfetch");
    void *e =
        fetchfound(q, findtest(q, test, data), "qfetch - FOUND ELEMENT THAT COULD NOT BE REMOVED!");
    end(held);
    return e;
}

/* As qfindindex, and the element found is taken out and returned. */
void *qfetchindex(queue *q, uint32_t index) {
    critsection *held = begin(q, "qfetchindex");
    void *e = fetchfound(q, findindex(q, index),
                         "qfetchindex - FOUND ELEMENT THAT COULD NOT BE REMOVED!");
    end(held);
    return e;
}

/* As qfindpriority, and the element found is taken out and returned. */
void *qfetchpriority(queue *q, uintptr_t priority) {
    critsection *held = begin(q, "qfetchpriority");
    void *e = fetchfound(q, findpriority(q, priority),
                         "qfetchpriority - FOUND ELEMENT THAT COULD NOT BE REMOVED!");
    end(held);
    return e;
}

/* Follows the links n + 1 times from the given element (whose membership is not checked)
 * and takes out the element reached; null, with nothing changed, when the chain ends. */
void *qfetchnext(queue *q, void *element, uint32_t n) {
    critsection *held = begin(q, "qfetchnext");
    qelement *e = asel(element);
    for (uint32_t i = 0; i <= n && e != nullptr; i++) {
        e = e->next;
    }
    void *result = fetchfound(q, e, "qfetchnext - FOUND ELEMENT THAT COULD NOT BE REMOVED!");
    end(held);
    return result;
}

/* Calls the callback on each element without holding the lock; any change to the queue
 * meanwhile (from the callback, another thread or a stopped nested walk) or a callback
 * result of 0 ends the walk. Returns -1 after a full walk, else the number of calls. The
 * changed mark ends as it was, or set if the walk saw a change. */
int32_t qiterate(queue *q, qtestfunc callback, void *data) {
    critsection *lock = q->lock;
    if (lock == nullptr) {
        uninitialised(q, "qiterate");
    }
    return walk(q, lock, callback, data);
}

/* As qiterate, with the lock held for the whole walk: other threads wait until it ends,
 * while the callback may use this queue and its peers from this thread. */
int32_t qsafeiterate(queue *q, qtestfunc callback, void *data) {
    critsection *held = begin(q, "qsafeiterate");
    int32_t result = walk(q, held, callback, data);
    end(held);
    return result;
}

/* Enters the queue's lock (re-entrant) so that several operations form one step; 0. */
int qenter(queue *q) {
    enterlock(q->lock);
    return 0;
}

/* Leaves the lock entered by qenter. */
void qleave(queue *q) {
    leavelock(q->lock);
}
