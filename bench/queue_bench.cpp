// queue_bench - the queue operations side by side with what a user would pick instead:
// std::deque and std::list guarded by a std::recursive_mutex (the queue always takes its
// re-entrant lock, so the peers take one too).
//
// Every benchmark keeps its container at a steady size: each timed step undoes itself
// (push then pop, insert then remove, remove then append). Positions and priorities come
// from a fixed-seed sequence shared by all three contenders.
#include "thistle/queue.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <deque>
#include <list>
#include <mutex>
#include <type_traits>
#include <random>
#include <vector>

namespace {

struct node {
    node *next;
    uintptr_t prio;
    uint32_t id;
};

uintptr_t nodeprio(void *e, uintptr_t) {
    return static_cast<node *>(e)->prio;
}

constexpr size_t sequencelength = 4096; // power of two

// Shared random draws: values below n.
std::vector<uint32_t> draws(uint32_t n) {
    std::mt19937 rng(12345);
    std::vector<uint32_t> out(sequencelength);
    for (auto &v : out) {
        v = static_cast<uint32_t>(rng() % n);
    }
    return out;
}

// N nodes with priorities 0, 2, 4, ... so that an odd priority always lands between two.
std::vector<node> makenodes(size_t n) {
    std::vector<node> nodes(n + 1);
    for (size_t i = 0; i < nodes.size(); i++) {
        nodes[i] = node{nullptr, 2 * i, static_cast<uint32_t>(i)};
    }
    return nodes;
}

struct thistleq {
    queue q;
    thistleq() {
        qinit(&q, nodeprio, 0);
    }
    ~thistleq() {
        qfree(&q);
    }
};

using lockguard = std::lock_guard<std::recursive_mutex>;

// ---- push / pop at the head, append / pop -------------------------------------------

void BM_qpush_qpop(benchmark::State &state) {
    thistleq t;
    node n{};
    for (auto _ : state) {
        qpush(&t.q, &n);
        benchmark::DoNotOptimize(qpop(&t.q));
    }
}

void BM_qbottom_qpop(benchmark::State &state) {
    thistleq t;
    std::vector<node> nodes(8);
    for (auto &n : nodes) {
        qbottom(&t.q, &n);
    }
    for (auto _ : state) {
        qbottom(&t.q, qpop(&t.q));
    }
}

template <typename C>
void pushpop(benchmark::State &state, bool front) {
    C c;
    std::recursive_mutex m;
    node n{};
    for (int i = 0; i < 8; i++) {
        c.push_back(&n);
    }
    for (auto _ : state) {
        {
            lockguard g(m);
            front ? c.push_front(&n) : c.push_back(&n);
        }
        lockguard g(m);
        benchmark::DoNotOptimize(c.front());
        c.pop_front();
    }
}

void BM_deque_pushfront_popfront(benchmark::State &state) {
    pushpop<std::deque<node *>>(state, true);
}
void BM_list_pushfront_popfront(benchmark::State &state) {
    pushpop<std::list<node *>>(state, true);
}
void BM_deque_pushback_popfront(benchmark::State &state) {
    pushpop<std::deque<node *>>(state, false);
}
void BM_list_pushback_popfront(benchmark::State &state) {
    pushpop<std::list<node *>>(state, false);
}

// ---- ordered insert into N elements, then remove the new one ----------------------------

void BM_qinsert_qremove(benchmark::State &state) {
    const size_t n = static_cast<size_t>(state.range(0));
    std::vector<node> nodes = makenodes(n);
    thistleq t;
    for (size_t i = 0; i < n; i++) {
        qbottom(&t.q, &nodes[i]);
    }
    node &extra = nodes[n];
    std::vector<uint32_t> at = draws(static_cast<uint32_t>(n));
    size_t k = 0;
    for (auto _ : state) {
        extra.prio = 2 * at[k++ & (sequencelength - 1)] + 1;
        qinsert(&t.q, &extra);
        qremove(&t.q, &extra);
    }
}

template <typename C>
void insertremove(benchmark::State &state) {
    const size_t n = static_cast<size_t>(state.range(0));
    std::vector<node> nodes = makenodes(n);
    C c;
    std::recursive_mutex m;
    for (size_t i = 0; i < n; i++) {
        c.push_back(&nodes[i]);
    }
    node &extra = nodes[n];
    std::vector<uint32_t> at = draws(static_cast<uint32_t>(n));
    size_t k = 0;
    auto less = [](const node *a, uintptr_t p) { return a->prio < p; };
    for (auto _ : state) {
        extra.prio = 2 * at[k++ & (sequencelength - 1)] + 1;
        typename C::iterator it;
        {
            lockguard g(m);
            // The list walks as the queue does; the deque can search by halving.
            if constexpr (std::is_same_v<C, std::list<node *>>) {
                it = std::find_if(c.begin(), c.end(),
                                  [&](node *e) { return e->prio >= extra.prio; });
            } else {
                it = std::lower_bound(c.begin(), c.end(), extra.prio, less);
            }
            it = c.insert(it, &extra);
        }
        lockguard g(m);
        c.erase(it);
    }
}

void BM_list_insert_erase(benchmark::State &state) {
    insertremove<std::list<node *>>(state);
}
void BM_deque_insert_erase(benchmark::State &state) {
    insertremove<std::deque<node *>>(state);
}

// ---- find by test, remove and re-append, among N elements -------------------------------

int idis(void *e, void *data) {
    return static_cast<node *>(e)->id == *static_cast<uint32_t *>(data);
}

void BM_qfind(benchmark::State &state) {
    const size_t n = static_cast<size_t>(state.range(0));
    std::vector<node> nodes = makenodes(n);
    thistleq t;
    for (size_t i = 0; i < n; i++) {
        qbottom(&t.q, &nodes[i]);
    }
    std::vector<uint32_t> at = draws(static_cast<uint32_t>(n));
    size_t k = 0;
    for (auto _ : state) {
        uint32_t want = at[k++ & (sequencelength - 1)];
        benchmark::DoNotOptimize(qfind(&t.q, idis, &want));
    }
}

void BM_qremove_qbottom(benchmark::State &state) {
    const size_t n = static_cast<size_t>(state.range(0));
    std::vector<node> nodes = makenodes(n);
    thistleq t;
    for (size_t i = 0; i < n; i++) {
        qbottom(&t.q, &nodes[i]);
    }
    std::vector<uint32_t> at = draws(static_cast<uint32_t>(n));
    size_t k = 0;
    for (auto _ : state) {
        node *e = &nodes[at[k++ & (sequencelength - 1)]];
        qremove(&t.q, e);
        qbottom(&t.q, e);
    }
}

template <typename C>
void findremove(benchmark::State &state, bool remove) {
    const size_t n = static_cast<size_t>(state.range(0));
    std::vector<node> nodes = makenodes(n);
    C c;
    std::recursive_mutex m;
    for (size_t i = 0; i < n; i++) {
        c.push_back(&nodes[i]);
    }
    std::vector<uint32_t> at = draws(static_cast<uint32_t>(n));
    size_t k = 0;
    for (auto _ : state) {
        uint32_t want = at[k++ & (sequencelength - 1)];
        lockguard g(m);
        auto it = std::find_if(c.begin(), c.end(), [&](node *e) { return e->id == want; });
        if (remove) {
            node *e = *it;
            c.erase(it);
            c.push_back(e);
        } else {
            benchmark::DoNotOptimize(*it);
        }
    }
}

void BM_list_find(benchmark::State &state) {
    findremove<std::list<node *>>(state, false);
}
void BM_deque_find(benchmark::State &state) {
    findremove<std::deque<node *>>(state, false);
}
void BM_list_erase_pushback(benchmark::State &state) {
    findremove<std::list<node *>>(state, true);
}
void BM_deque_erase_pushback(benchmark::State &state) {
    findremove<std::deque<node *>>(state, true);
}

// ---- visit all N elements through a callback --------------------------------------------

int visit(void *e, void *sum) {
    *static_cast<uintptr_t *>(sum) += static_cast<node *>(e)->prio;
    return 1;
}

void BM_qiterate(benchmark::State &state) {
    const size_t n = static_cast<size_t>(state.range(0));
    std::vector<node> nodes = makenodes(n);
    thistleq t;
    for (size_t i = 0; i < n; i++) {
        qbottom(&t.q, &nodes[i]);
    }
    uintptr_t sum = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(qiterate(&t.q, visit, &sum));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// The peers walk under their lock and call the same callback through a pointer.
template <typename C>
void iterate(benchmark::State &state) {
    const size_t n = static_cast<size_t>(state.range(0));
    std::vector<node> nodes = makenodes(n);
    C c;
    std::recursive_mutex m;
    for (size_t i = 0; i < n; i++) {
        c.push_back(&nodes[i]);
    }
    int (*volatile callback)(void *, void *) = visit;
    uintptr_t sum = 0;
    for (auto _ : state) {
        lockguard g(m);
        for (node *e : c) {
            if (callback(e, &sum) == 0) {
                break;
            }
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_list_iterate(benchmark::State &state) {
    iterate<std::list<node *>>(state);
}
void BM_deque_iterate(benchmark::State &state) {
    iterate<std::deque<node *>>(state);
}

} // namespace

BENCHMARK(BM_qpush_qpop);
BENCHMARK(BM_deque_pushfront_popfront);
BENCHMARK(BM_list_pushfront_popfront);
BENCHMARK(BM_qbottom_qpop);
BENCHMARK(BM_deque_pushback_popfront);
BENCHMARK(BM_list_pushback_popfront);

#define SIZES RangeMultiplier(16)->Range(16, 4096)
BENCHMARK(BM_qinsert_qremove)->SIZES;
BENCHMARK(BM_list_insert_erase)->SIZES;
BENCHMARK(BM_deque_insert_erase)->SIZES;
BENCHMARK(BM_qfind)->SIZES;
BENCHMARK(BM_list_find)->SIZES;
BENCHMARK(BM_deque_find)->SIZES;
BENCHMARK(BM_qremove_qbottom)->SIZES;
BENCHMARK(BM_list_erase_pushback)->SIZES;
BENCHMARK(BM_deque_erase_pushback)->SIZES;
BENCHMARK(BM_qiterate)->SIZES;
BENCHMARK(BM_list_iterate)->SIZES;
BENCHMARK(BM_deque_iterate)->SIZES;
