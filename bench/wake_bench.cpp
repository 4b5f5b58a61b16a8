/*
 * wake_bench.cpp - what SetEvent costs the threads that are not waiting for it.
 *
 * Idle threads each wait (INFINITE) on an event of their own that is never set, as the
 * idle threads of a game do, while:
 *   tick   one thread sets three auto-reset events at 100 Hz, each waited for by its
 *          own consumer thread (the library's timer, hook and secondary threads);
 *   flood  one thread sets one auto-reset event as fast as it can, one consumer waits
 *          for it.
 * Reported per scenario: the idle threads' wake-ups (voluntary context switches, from
 * /proc/self/task/<tid>/status) and CPU time per second, summed over them; for tick,
 * the SetEvent-to-wake latency of the consumers (p50/p99/max); for flood, the sets and
 * the consumer's wakes per second.
 *
 * usage: thistle_wake_bench [idle threads, default 8] [seconds per scenario, default 3]
 */
#include "plat/win32.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using clk = std::chrono::steady_clock;

struct taskstats {
    long long wakes = 0; /* voluntary context switches */
    long long cpuns = 0;
};

taskstats readtask(DWORD tid) {
    taskstats s;
    std::string base = "/proc/self/task/" + std::to_string(tid);
    std::ifstream status(base + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("voluntary_ctxt_switches:", 0) == 0) {
            s.wakes = std::atoll(line.c_str() + 24);
        }
    }
    std::ifstream sched(base + "/schedstat");
    sched >> s.cpuns;
    return s;
}

struct idleset {
    std::vector<HANDLE> events;
    std::vector<std::thread> threads;
    std::vector<std::atomic<DWORD>> tids;
    explicit idleset(int n) : tids(n) {
        for (int i = 0; i < n; i++) {
            events.push_back(CreateEventA(nullptr, FALSE, FALSE, nullptr));
        }
        for (int i = 0; i < n; i++) {
            threads.emplace_back([this, i] {
                tids[i] = GetCurrentThreadId();
                WaitForSingleObject(events[i], INFINITE);
            });
        }
        for (auto &t : tids) {
            while (t.load() == 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50)); /* all asleep */
    }
    taskstats total() {
        taskstats sum;
        for (auto &t : tids) {
            taskstats s = readtask(t.load());
            sum.wakes += s.wakes;
            sum.cpuns += s.cpuns;
        }
        return sum;
    }
    ~idleset() {
        for (HANDLE e : events) {
            SetEvent(e);
        }
        for (auto &t : threads) {
            t.join();
        }
        for (HANDLE e : events) {
            CloseHandle(e);
        }
    }
};

double pct(std::vector<double> &v, double p) {
    if (v.empty()) {
        return 0;
    }
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, (size_t)(p * (double)v.size()))];
}

void report(const char *name, int idle, const taskstats &a, const taskstats &b, double secs,
            const std::string &extra) {
    std::printf("%-6s %5d %14.0f %14.2f   %s\n", name, idle, (double)(b.wakes - a.wakes) / secs,
                (double)(b.cpuns - a.cpuns) / 1e6 / secs, extra.c_str());
}

void tick(int idle, double secs) {
    idleset set(idle);
    HANDLE ev[3];
    std::atomic<long long> setat[3];
    std::vector<double> lat[3];
    std::atomic<bool> stop{false};
    std::vector<std::thread> consumers;
    for (int i = 0; i < 3; i++) {
        ev[i] = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        setat[i] = 0;
    }
    for (int i = 0; i < 3; i++) {
        consumers.emplace_back([&, i] {
            while (WaitForSingleObject(ev[i], INFINITE) == WAIT_OBJECT_0 && !stop.load()) {
                long long now = clk::now().time_since_epoch().count();
                lat[i].push_back((double)(now - setat[i].load()) / 1000.0);
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    taskstats before = set.total();
    clk::time_point start = clk::now();
    clk::time_point next = start;
    int ticks = (int)(secs * 100);
    for (int k = 0; k < ticks; k++) {
        next += std::chrono::milliseconds(10);
        std::this_thread::sleep_until(next);
        for (int i = 0; i < 3; i++) {
            setat[i] = clk::now().time_since_epoch().count();
            SetEvent(ev[i]);
        }
    }
    double elapsed = std::chrono::duration<double>(clk::now() - start).count();
    taskstats after = set.total();
    stop = true;
    for (int i = 0; i < 3; i++) {
        SetEvent(ev[i]);
    }
    for (auto &c : consumers) {
        c.join();
    }
    std::vector<double> all;
    for (auto &l : lat) {
        all.insert(all.end(), l.begin(), l.end());
    }
    char extra[160];
    std::snprintf(extra, sizeof extra, "latency us p50 %.0f p99 %.0f max %.0f", pct(all, 0.5),
                  pct(all, 0.99), pct(all, 1.0));
    report("tick", idle, before, after, elapsed, extra);
    for (HANDLE e : ev) {
        CloseHandle(e);
    }
}

void flood(int idle, double secs) {
    idleset set(idle);
    HANDLE ev = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    std::atomic<bool> stop{false};
    std::atomic<long long> wakes{0};
    std::thread consumer([&] {
        while (WaitForSingleObject(ev, INFINITE) == WAIT_OBJECT_0 && !stop.load()) {
            wakes++;
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    taskstats before = set.total();
    clk::time_point start = clk::now();
    long long sets = 0;
    while (clk::now() - start < std::chrono::duration<double>(secs)) {
        for (int k = 0; k < 100; k++) {
            SetEvent(ev);
        }
        sets += 100;
    }
    double elapsed = std::chrono::duration<double>(clk::now() - start).count();
    taskstats after = set.total();
    stop = true;
    SetEvent(ev);
    consumer.join();
    char extra[160];
    std::snprintf(extra, sizeof extra, "sets/s %.0f, consumer wakes/s %.0f", (double)sets / elapsed,
                  (double)wakes.load() / elapsed);
    report("flood", idle, before, after, elapsed, extra);
    CloseHandle(ev);
}

} // namespace

int main(int argc, char **argv) {
    int idle = argc > 1 ? std::atoi(argv[1]) : 8;
    double secs = argc > 2 ? std::atof(argv[2]) : 3.0;
    std::printf("%-6s %5s %14s %14s   %s\n", "run", "idle", "idle wakes/s", "idle cpu ms/s", "");
    tick(idle, secs);
    flood(idle, secs);
    return 0;
}
