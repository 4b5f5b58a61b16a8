/*
 * timer_bench.cpp - how even the tick is: intervals between ticks at 100 Hz and
 * 1000 Hz from three sources, one after the other in the same run, idle and with
 * every core kept busy by spinning threads:
 *   tick       the library's tick: inittimer(rate) and a timer function (addtimer) on
 *              the timer thread, woken by the platform's one-shot multimedia timer that
 *              each callback re-arms on the 16.16 fixed-point schedule;
 *   SDL        SDL_AddTimer with the period rounded to whole milliseconds;
 *   nanosleep  a bare clock_nanosleep(TIMER_ABSTIME) loop on a thread scheduled as
 *              the timer's thread asks to be (SCHED_FIFO 1 when allowed): the limit.
 * Per source: mean period against the nominal one, deviation of the intervals from
 * the nominal period (p50, p99, max) and a histogram of it.
 *
 * Each source is a record of start and stop functions around onetick().
 *
 * usage: thistle_timer_bench [seconds per run, default 10]
 */
#include "thistle/timer.h"

#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <pthread.h>
#include <sched.h>
#include <thread>
#include <vector>

namespace {

/* ---- recording ---------------------------------------------------------------- */

std::vector<long long> stamps; /* ns of CLOCK_MONOTONIC, written by the ticking thread */
std::atomic<size_t> nstamps;

long long nowns() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

void onetick() {
    size_t n = nstamps.load(std::memory_order_relaxed);
    if (n < stamps.size()) {
        stamps[n] = nowns();
        nstamps.store(n + 1, std::memory_order_release);
    }
}

/* ---- the library's tick ------------------------------------------------------------ */

bool tickstart(int rate) {
    if (inittimer(rate) == 0) {
        return false;
    }
    nstamps = 0; /* from the first tick on */
    addtimer(onetick);
    return counttimers() == 1;
}

void tickstop() {
    killtimer();
    cleartimers();
}

/* ---- SDL_AddTimer --------------------------------------------------------------- */

SDL_TimerID sdltimer;

Uint32 sdltick(Uint32 interval, void *) {
    onetick();
    return interval;
}

bool sdlstart(int rate) {
    if (SDL_InitSubSystem(SDL_INIT_TIMER) != 0) {
        return false;
    }
    sdltimer = SDL_AddTimer((Uint32)(1000 / rate), sdltick, nullptr);
    return sdltimer != 0;
}

void sdlstop() {
    SDL_RemoveTimer(sdltimer);
    SDL_QuitSubSystem(SDL_INIT_TIMER);
}

/* ---- bare clock_nanosleep loop ---------------------------------------------------- */

std::thread sleeper;
std::atomic<bool> sleeping;

bool sleepstart(int rate) {
    sleeping = true;
    long long period = 1000000000LL / rate;
    sleeper = std::thread([period] {
        struct sched_param rt {}; /* as the timer thread asks for */
        rt.sched_priority = 1;
        pthread_setschedparam(pthread_self(), SCHED_FIFO, &rt);
        struct timespec next;
        clock_gettime(CLOCK_MONOTONIC, &next);
        while (sleeping.load()) {
            next.tv_nsec += period;
            while (next.tv_nsec >= 1000000000L) {
                next.tv_nsec -= 1000000000L;
                next.tv_sec++;
            }
            clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
            onetick();
        }
    });
    return true;
}

void sleepstop() {
    sleeping = false;
    sleeper.join();
}

struct ticksource {
    const char *name;
    bool (*start)(int rate);
    void (*stop)();
};

const ticksource sources[] = {
    {.name = "tick", .start = tickstart, .stop = tickstop},
    {.name = "SDL", .start = sdlstart, .stop = sdlstop},
    {.name = "nanosleep", .start = sleepstart, .stop = sleepstop},
};

/* ---- load and statistics ---------------------------------------------------------- */

std::atomic<bool> spinning;
std::vector<std::thread> spinners;

void loadon() {
    spinning = true;
    unsigned n = std::max(1u, std::thread::hardware_concurrency());
    for (unsigned i = 0; i < n; i++) {
        spinners.emplace_back([] {
            volatile unsigned long x = 0;
            while (spinning.load(std::memory_order_relaxed)) {
                x = x + 1;
            }
        });
    }
}

void loadoff() {
    spinning = false;
    for (auto &t : spinners) {
        t.join();
    }
    spinners.clear();
}

const double edges[] = {0.05, 0.25, 0.5, 1, 2, 5}; /* histogram bucket tops, ms */
constexpr int nbuckets = 7;

void measure(const ticksource &src, int rate, double secs, const char *load) {
    stamps.assign((size_t)(rate * secs * 2 + 100), 0);
    nstamps = 0;
    if (!src.start(rate)) {
        std::printf("%-6s %5d %-10s could not start\n", load, rate, src.name);
        return;
    }
    SDL_Delay((Uint32)(secs * 1000));
    src.stop();
    size_t n = nstamps.load(std::memory_order_acquire);
    if (n < 3) {
        std::printf("%-6s %5d %-10s %zu ticks only\n", load, rate, src.name, n);
        return;
    }
    double nominal = 1000.0 / rate;
    std::vector<double> dev;
    int hist[nbuckets] = {};
    for (size_t i = 1; i < n; i++) {
        double d = std::fabs((double)(stamps[i] - stamps[i - 1]) / 1e6 - nominal);
        dev.push_back(d);
        int b = 0;
        while (b < nbuckets - 1 && d >= edges[b]) {
            b++;
        }
        hist[b]++;
    }
    double mean = (double)(stamps[n - 1] - stamps[0]) / 1e6 / (double)(n - 1);
    std::sort(dev.begin(), dev.end());
    std::printf("%-6s %5d %-10s %6zu %9.4f %+8.3f %7.3f %7.3f %7.3f  ", load, rate, src.name, n,
                mean, (mean - nominal) / nominal * 100, dev[dev.size() / 2],
                dev[(size_t)(0.99 * (double)dev.size())], dev.back());
    for (int b = 0; b < nbuckets; b++) {
        std::printf(" %5.1f", 100.0 * hist[b] / (double)dev.size());
    }
    std::printf("\n");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv) {
    double secs = argc > 1 ? std::atof(argv[1]) : 10.0;
    std::printf("interval deviation from the nominal period (ms); histogram columns: %% of "
                "intervals off by <0.05 <0.25 <0.5 <1 <2 <5 >=5 ms\n");
    std::printf("%-6s %5s %-10s %6s %9s %8s %7s %7s %7s   %s\n", "load", "Hz", "source", "ticks",
                "period", "err %", "p50", "p99", "max", "histogram");
    for (const char *load : {"idle", "busy"}) {
        if (load[0] == 'b') {
            loadon();
        }
        for (int rate : {100, 1000}) {
            for (const ticksource &src : sources) {
                measure(src, rate, secs, load);
            }
        }
        if (load[0] == 'b') {
            loadoff();
        }
    }
    SDL_Quit();
    return 0;
}
