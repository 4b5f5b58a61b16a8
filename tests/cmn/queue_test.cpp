// queue_test - the queue operations' results, links and changed mark, the walks and their
// stopping rules, peer locks across threads, the misuse reports, and a long random run
// checked against a std::list model after every step.
//
// Reports are captured through fatalfilterhook returning 0, so the process goes on.
#include "thistle/diag.h"
#include "thistle/queue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <list>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

struct item {
    item *next;
    uintptr_t prio;
    int id;
};

uintptr_t itemprio(void *e, uintptr_t) {
    return static_cast<item *>(e)->prio;
}

std::vector<std::string> reports;

int32_t capture(const char *text) {
    reports.emplace_back(text);
    return 0;
}

int isid(void *e, void *data) {
    return int(static_cast<item *>(e)->id == *static_cast<int *>(data));
}

std::string uninittext(const char *op, const queue *q) {
    char text[96];
    std::snprintf(text, sizeof text, "%s - UNINITIALIZED QUEUE %08x USED.\n", op,
                  static_cast<unsigned>(reinterpret_cast<uintptr_t>(q)));
    return text;
}

class Queue : public ::testing::Test {
  protected:
    queue q{};
    item it[8]{};

    void SetUp() override {
        reports.clear();
        fatalfilterhook = capture;
        for (int i = 0; i < 8; i++) {
            it[i] = item{nullptr, 0, i};
        }
        qinit(&q, itemprio, 0);
    }
    void TearDown() override {
        if (q.lock != nullptr) {
            qfree(&q);
        }
        EXPECT_TRUE(reports.empty()) << reports.front();
        fatalfilterhook = nullptr;
    }

    // The ids from head to tail, after checking count, tail and the last link.
    std::vector<int> ids() {
        std::vector<int> out;
        item *last = nullptr;
        for (auto *e = reinterpret_cast<item *>(q.head); e != nullptr; e = e->next) {
            out.push_back(e->id);
            last = e;
        }
        EXPECT_EQ(out.size(), q.count);
        EXPECT_EQ(reinterpret_cast<qelement *>(last), q.tail);
        return out;
    }
    // Empties the queue, appends items 0..n-1 and clears the changed mark.
    void fill(int n) {
        while (qpop(&q) != nullptr) {
        }
        for (int i = 0; i < n; i++) {
            qbottom(&q, &it[i]);
        }
        clearmark();
    }
    bool changed() const {
        return (q.flags & QF_CHANGED) != 0;
    }
    void clearmark() {
        q.flags &= ~uint32_t{QF_CHANGED};
    }
};

using ids_t = std::vector<int>;

// Which operations set the changed mark, each starting from a queue 0,1,2 with the mark clear.
TEST_F(Queue, ChangedMarkRules) {
    struct row {
        const char *what;
        std::function<void(queue *, item *)> op;
        bool sets;
    };
    const row rows[] = {
        {"qpush null", [](queue *p, item *) { qpush(p, nullptr); }, false},
        {"qbottom null", [](queue *p, item *) { qbottom(p, nullptr); }, false},
        {"qinsert null", [](queue *p, item *) { qinsert(p, nullptr); }, false},
        {"qpush", [](queue *p, item *e) { qpush(p, &e[5]); }, true},
        {"qbottom", [](queue *p, item *e) { qbottom(p, &e[5]); }, true},
        {"qinsert", [](queue *p, item *e) { qinsert(p, &e[5]); }, true},
        {"qremove absent", [](queue *p, item *e) { EXPECT_EQ(qremove(p, &e[5]), 0); }, false},
        {"qremove null", [](queue *p, item *) { EXPECT_EQ(qremove(p, nullptr), 0); }, false},
        {"qremove", [](queue *p, item *e) { EXPECT_EQ(qremove(p, &e[1]), 1); }, true},
        {"qfetch none", [](queue *p, item *e) { qfetch(p, isid, &e[6].id); }, false},
        {"qfetchindex", [](queue *p, item *) { qfetchindex(p, 1); }, true},
        {"qfetchnext at end",
         [](queue *p, item *e) { EXPECT_EQ(qfetchnext(p, &e[2], 0), nullptr); }, false},
        {"qfind", [](queue *p, item *) { qfind(p, nullptr, nullptr); }, false},
        {"qposition", [](queue *p, item *e) { qposition(p, &e[1]); }, false},
        {"qhighpriority", [](queue *p, item *) { qhighpriority(p); }, false},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.what);
        fill(3);
        r.op(&q, it);
        EXPECT_EQ(changed(), r.sets);
    }
    fill(0);
    EXPECT_EQ(qpop(&q), nullptr); // empty pops still mark
    EXPECT_TRUE(changed());
    clearmark();
    EXPECT_EQ(qpoplast(&q), nullptr);
    EXPECT_TRUE(changed());
}

// Empty queues answer the none values; without a priority function the address orders.
// Insertion order among priorities is the model run's.
TEST_F(Queue, EmptyValuesAndAddressPriority) {
    EXPECT_EQ(qhighpriority(&q), ~uintptr_t{0});
    EXPECT_EQ(qposition(&q, nullptr), -1);
    queue byaddress;
    qinit(&byaddress, nullptr, 0);
    for (int i : {6, 4, 5}) {
        qinsert(&byaddress, &it[i]);
    }
    EXPECT_EQ(qfindindex(&byaddress, 0), &it[4]);
    EXPECT_EQ(qfindindex(&byaddress, 2), &it[6]);
    EXPECT_EQ(qhighpriority(&byaddress), reinterpret_cast<uintptr_t>(&it[6]));
    qfree(&byaddress);
}

// ---- walks ---------------------------------------------------------------------------

int countvisit(void *, void *n) {
    ++*static_cast<long *>(n);
    return 1;
}

struct walklog {
    std::vector<int> seen;
    std::function<int(item *)> act;
};

int logged(void *e, void *data) {
    auto *log = static_cast<walklog *>(data);
    log->seen.push_back(static_cast<item *>(e)->id);
    return log->act ? log->act(static_cast<item *>(e)) : 1;
}

TEST_F(Queue, IterateResultsAndStops) {
    walklog log;
    EXPECT_EQ(qiterate(&q, logged, &log), -1);
    EXPECT_TRUE(log.seen.empty());
    fill(4);
    q.flags |= QF_CHANGED;
    EXPECT_EQ(qiterate(&q, logged, &log), -1); // mark was set before: set again after
    EXPECT_EQ(log.seen, (ids_t{0, 1, 2, 3}));
    EXPECT_TRUE(changed());
    clearmark();
    EXPECT_EQ(qiterate(&q, logged, &log), -1);
    EXPECT_FALSE(changed()); // a full walk leaves a clear mark clear

    struct {
        const char *what;
        std::function<int(item *)> act;
        int32_t result;
        ids_t seen;
    } const cases[] = {
        {"first returns 0", [](item *) { return 0; }, 1, {0}},
        {"second returns 0", [](item *e) { return int(e->id != 1); }, 2, {0, 1}},
        {"removes itself", [this](item *e) { return e->id == 1 ? qremove(&q, e) : 1; }, 2, {0, 1}},
        {"pops the head",
         [this](item *e) { return e->id == 2 ? qpop(&q) != nullptr : 1; },
         3,
         {0, 1, 2}},
        {"nested walk stopped",
         [this](item *e) {
             if (e->id == 0) {
                 walklog inner{{}, [](item *) { return 0; }};
                 EXPECT_EQ(qiterate(&q, logged, &inner), 1);
             }
             return 1;
         },
         1,
         {0}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        fill(4);
        log = walklog{{}, c.act};
        EXPECT_EQ(qiterate(&q, logged, &log), c.result);
        EXPECT_EQ(log.seen, c.seen);
        EXPECT_TRUE(changed()); // a stopped walk leaves the mark set
    }
}

// qsafeiterate holds the lock: another thread's qpush waits for the walk, on the queue and
// on a peer sharing its lock, while the walking thread itself may still use both.
TEST_F(Queue, SafeIterateAndPeersExcludeOtherThreads) {
    queue peer;
    qinitpeer(&peer, itemprio, 0, &q);
    EXPECT_EQ(peer.lock, q.lock);
    EXPECT_EQ(peer.flags, 0u);
    fill(2);
    std::atomic<int> started{0}, done{0};
    std::thread other;
    walklog log{{}, [&](item *e) {
                    if (e->id == 0) {
                        other = std::thread([&] {
                            started = 1;
                            qpush(&q, &it[4]);
                            qpush(&peer, &it[5]);
                            done = 1;
                        });
                        while (started == 0) {
                            std::this_thread::yield();
                        }
                        std::this_thread::sleep_for(std::chrono::milliseconds(30));
                        EXPECT_EQ(done.load(), 0);
                        qbottom(&peer, &it[6]); // same thread: re-entrant, peer's own mark
                    }
                    return 1;
                }};
    EXPECT_EQ(qsafeiterate(&q, logged, &log), -1);
    EXPECT_EQ(log.seen, (ids_t{0, 1}));
    other.join();
    EXPECT_EQ(ids(), (ids_t{4, 0, 1}));
    EXPECT_EQ(qlength(&peer), 2u);

    // Freed locks are handed out again last-in first-out, so the next createlock tells
    // whether a qfree deleted the lock: a peer never does, the owner does.
    critsection *shared = q.lock;
    qfree(&peer);
    critsection *fresh = createlock();
    EXPECT_NE(fresh, shared);
    deletelock(fresh);
    // qenter holds off other threads until qleave, still through the shared lock.
    EXPECT_EQ(qenter(&q), 0);
    done = 0;
    other = std::thread([&] {
        EXPECT_EQ(qpop(&q), &it[4]);
        done = 1;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(done.load(), 0);
    qleave(&q);
    other.join();
    qfree(&q);
    fresh = createlock();
    EXPECT_EQ(fresh, shared);
    deletelock(fresh);
}

// Writers push and pop while another thread walks; run under ThreadSanitizer this checks
// that the unlocked walk only touches the queue through its well-defined accesses.
TEST_F(Queue, ConcurrentWritersAndWalker) {
    static item pool[2][64];
    std::atomic<int> writing{2};
    auto writer = [&](item *mine) {
        for (int round = 0; round < 200; round++) {
            for (int i = 0; i < 64; i++) {
                (i & 1) ? qpush(&q, &mine[i]) : qbottom(&q, &mine[i]);
            }
            for (int i = 0; i < 64; i++) {
                EXPECT_EQ(qremove(&q, &mine[i]), 1);
            }
        }
        writing--;
    };
    std::thread a(writer, pool[0]), b(writer, pool[1]);
    long visits = 0;
    while (writing > 0) {
        qiterate(&q, countvisit, &visits);
        qlength(&q);
    }
    a.join();
    b.join();
    EXPECT_EQ(qlength(&q), 0u);
    EXPECT_EQ(q.head, nullptr);
}

// ---- misuse reports -------------------------------------------------------------------

// The locked operations share one start; qfree, qlength and the walks check on their own.
TEST_F(Queue, UninitialisedQueueIsReported) {
    queue bad{}; // never initialised
    long visits = 0;
    struct {
        const char *name;
        std::function<void()> op;
    } const ops[] = {
        {"qfree", [&] { qfree(&bad); }},
        {"qpush", [&] { qpush(&bad, &it[0]); }},
        {"qfetchnext", [&] { qfetchnext(&bad, &it[0], 0); }},
        {"qlength", [&] { qlength(&bad); }},
        {"qiterate", [&] { qiterate(&bad, countvisit, &visits); }},
        {"qsafeiterate", [&] { qsafeiterate(&bad, countvisit, &visits); }},
    };
    for (int pass = 0; pass < 2; pass++) {
        if (pass == 1) { // the same after qfree
            qinit(&bad, nullptr, 0);
            qfree(&bad);
        }
        for (const auto &o : ops) {
            reports.clear();
            errorsite = siterecord{};
            o.op();
            ASSERT_EQ(reports.size(), 1u) << o.name;
            EXPECT_EQ(reports[0], uninittext(o.name, &bad));
            EXPECT_STREQ(errorsite.file, "cmn\\queue");
            EXPECT_STREQ(errorsite.function, "");
        }
    }
    // A reported operation still does its work, without the lock.
    reports.clear();
    qbottom(&bad, &it[3]);
    EXPECT_EQ(bad.tail, reinterpret_cast<qelement *>(&it[3]));
    EXPECT_EQ(reports.size(), 1u);
    reports.clear();
    queue fresh{};
    qinitpeer(&fresh, nullptr, 0, &bad);
    EXPECT_EQ(reports, (std::vector<std::string>{uninittext("qinitpeer", &bad)}));
    reports.clear();
    qinsert(&bad, nullptr); // no element: no test, no report
    EXPECT_TRUE(reports.empty());
}

// A found element that cannot be taken out: each fetch reports its own text and returns null.
TEST_F(Queue, FetchReportsElementThatCouldNotBeRemoved) {
    for (int i = 0; i < 3; i++) {
        it[i].prio = uintptr_t(i);
        qbottom(&q, &it[i]);
    }
    // A test that takes its element out itself (the lock is re-entrant).
    auto takeout = [](void *e, void *qp) { return qremove(static_cast<queue *>(qp), e); };
    EXPECT_EQ(qfetch(&q, takeout, &q), nullptr);
    EXPECT_EQ(ids(), (ids_t{1, 2}));

    queue other;
    qinit(&other, nullptr, 0);
    qbottom(&other, &it[4]);
    qbottom(&other, &it[5]);
    EXPECT_EQ(qfetchnext(&q, &it[4], 0), nullptr); // walks into the other queue
    EXPECT_EQ(qlength(&other), 2u);
    qfree(&other);

    uint32_t count = q.count; // as if another thread emptied it without the lock
    q.count = 0;
    EXPECT_EQ(qfetchindex(&q, 0), nullptr);
    EXPECT_EQ(qfetchpriority(&q, 1), nullptr);
    q.count = count;
    EXPECT_EQ(reports, (std::vector<std::string>{
                           "qfetch - FOUND ELEMENT THAT COULD NOT BE REMOVED!",
                           "qfetchnext - FOUND ELEMENT THAT COULD NOT BE REMOVED!",
                           "qfetchindex - FOUND ELEMENT THAT COULD NOT BE REMOVED!",
                           "qfetchpriority - FOUND ELEMENT THAT COULD NOT BE REMOVED!"}));
    EXPECT_STREQ(errorsite.file, "cmn\\queue");
    reports.clear();
}

// ---- random run against a model ---------------------------------------------------------

TEST_F(Queue, RandomOperationsMatchListModel) {
    static item pool[48];
    for (int i = 0; i < 48; i++) {
        pool[i] = item{nullptr, 0, i};
    }
    std::list<item *> model;
    std::mt19937 rng(20240611);
    auto pick = [&](int n) { return int(rng() % unsigned(n)); };
    auto inmodel = [&](item *e) { return std::find(model.begin(), model.end(), e) != model.end(); };
    // First element whose priority is >= p, as the priority walks see it.
    auto firstatleast = [&](uintptr_t p) {
        return std::find_if(model.begin(), model.end(), [&](item *e) { return e->prio >= p; });
    };
    for (int step = 0; step < 20000; step++) {
        item *e = &pool[pick(48)];
        bool absent = !inmodel(e);
        int op = pick(12);
        SCOPED_TRACE(testing::Message() << "step " << step << " op " << op);
        if (op <= 2 && absent) {
            e->prio = uintptr_t(pick(6));
            if (op == 0) {
                qpush(&q, e);
                model.push_front(e);
            } else if (op == 1) {
                qbottom(&q, e);
                model.push_back(e);
            } else {
                qinsert(&q, e);
                model.insert(firstatleast(e->prio), e);
            }
        } else if (op == 3) {
            item *want = model.empty() ? nullptr : model.front();
            ASSERT_EQ(qpop(&q), want);
            if (want)
                model.pop_front();
        } else if (op == 4) {
            item *want = model.empty() ? nullptr : model.back();
            ASSERT_EQ(qpoplast(&q), want);
            if (want)
                model.pop_back();
        } else if (op == 5) {
            ASSERT_EQ(qremove(&q, e), int(!absent));
            model.remove(e);
        } else if (op == 6) {
            uint32_t index = uint32_t(pick(int(model.size()) + 2));
            item *want = index < model.size() ? *std::next(model.begin(), index) : nullptr;
            ASSERT_EQ(qfetchindex(&q, index), want);
            model.remove(want);
        } else if (op == 7 && !absent) {
            uint32_t n = uint32_t(pick(3));
            auto at = std::find(model.begin(), model.end(), e);
            item *want =
                uint32_t(std::distance(at, model.end())) > n + 1 ? *std::next(at, n + 1) : nullptr;
            ASSERT_EQ(qfetchnext(&q, e, n), want);
            model.remove(want);
        } else if (op == 8) {
            uintptr_t p = uintptr_t(pick(7));
            auto at = firstatleast(p);
            item *want = at != model.end() && (*at)->prio == p ? *at : nullptr;
            ASSERT_EQ(qfetchpriority(&q, p), want);
            model.remove(want);
        } else if (op == 9) {
            int32_t want = -1, index = 0;
            for (item *m : model) {
                if (m == e) {
                    want = index;
                    break;
                }
                if (m->prio > e->prio)
                    break;
                index++;
            }
            ASSERT_EQ(qposition(&q, e), want);
        } else if (op == 10) { // by test, or the head with a null test
            item *head = model.empty() ? nullptr : model.front();
            item *byid = absent ? nullptr : e;
            ASSERT_EQ(qfind(&q, isid, &e->id), byid);
            ASSERT_EQ(qfind(&q, nullptr, nullptr), head);
            const bool bytest = pick(2) != 0;
            ASSERT_EQ(bytest ? qfetch(&q, isid, &e->id) : qfetch(&q, nullptr, nullptr),
                      bytest ? byid : head);
            model.remove(bytest ? byid : head);
        } else if (op == 11) { // finds without removing, and the lowest priority
            uint32_t index = uint32_t(pick(int(model.size()) + 2));
            ASSERT_EQ(qfindindex(&q, index),
                      index < model.size() ? *std::next(model.begin(), index) : nullptr);
            uintptr_t p = uintptr_t(pick(7));
            auto at = firstatleast(p);
            ASSERT_EQ(qfindpriority(&q, p), at != model.end() && (*at)->prio == p ? *at : nullptr);
            ASSERT_EQ(qlowpriority(&q), model.empty() ? ~uintptr_t{0} : model.front()->prio);
            ASSERT_EQ(qhighpriority(&q), model.empty() ? ~uintptr_t{0} : model.back()->prio);
        }
        // Invariants: count, chain order, tail, and free elements unlinked.
        ASSERT_EQ(q.count, model.size());
        ASSERT_EQ(q.head == nullptr, q.tail == nullptr);
        qelement *walk = q.head;
        for (item *m : model) {
            ASSERT_EQ(walk, reinterpret_cast<qelement *>(m));
            walk = walk->next;
        }
        ASSERT_EQ(walk, nullptr);
        ASSERT_EQ(q.tail, model.empty() ? nullptr : reinterpret_cast<qelement *>(model.back()));
        bool member[48] = {};
        for (item *m : model) {
            member[m->id] = true;
        }
        for (int i = 0; i < 48; i++) {
            ASSERT_TRUE(member[i] || pool[i].next == nullptr) << i;
        }
    }
}

} // namespace
