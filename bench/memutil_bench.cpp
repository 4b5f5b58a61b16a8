// memutil_bench - throughput of movebytes (under each copier setting) and of each forward
// copier, side by side with the C library's memcpy, for 64 B to 16 MiB.
//
// Source and destination are 64-byte aligned and distinct; each size reuses the same two
// buffers, so the small sizes run from cache and the large ones from memory.
#include "thistle/memutil.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t largest = size_t{16} << 20;

uint8_t *buffer(int which) {
    static uint8_t *buffers[2];
    if (buffers[which] == nullptr) {
        buffers[which] = static_cast<uint8_t *>(std::aligned_alloc(64, largest));
        std::memset(buffers[which], which + 1, largest); // fault every page in up front
    }
    return buffers[which];
}

using copier = void (*)(const void *, void *, size_t);

void runcopy(benchmark::State &state, copier copy, int mmx, int fpu) {
    const size_t n = static_cast<size_t>(state.range(0));
    uint8_t *src = buffer(0);
    uint8_t *dst = buffer(1);
    usemmx = mmx;
    usefpucopy = fpu;
    for (auto _ : state) {
        copy(src, dst, n);
        benchmark::DoNotOptimize(dst);
        benchmark::ClobberMemory();
    }
    clearmmx();
    usemmx = 0;
    usefpucopy = 1;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(n));
}

void memcpycopy(const void *src, void *dst, size_t n) {
    std::memcpy(dst, src, n);
}

void BM_memcpy(benchmark::State &state) {
    runcopy(state, memcpycopy, 0, 1);
}
void BM_movebytes_mmx(benchmark::State &state) {
    runcopy(state, movebytes, 1, 0);
}
void BM_movebytes_fpuint(benchmark::State &state) {
    runcopy(state, movebytes, 0, 1);
}
void BM_movebytes_longs(benchmark::State &state) {
    runcopy(state, movebytes, 0, 0);
}
void BM_copymmx(benchmark::State &state) {
    runcopy(state, copymmx, 0, 1);
}
void BM_copyfpuint(benchmark::State &state) {
    runcopy(state, copyfpuint, 0, 1);
}
void BM_copyfpudouble(benchmark::State &state) {
    runcopy(state, copyfpudouble, 0, 1);
}
void BM_copylongs(benchmark::State &state) {
    runcopy(state, copylongs, 0, 1);
}

#define SIZES RangeMultiplier(4)->Range(64, static_cast<int64_t>(largest))
BENCHMARK(BM_memcpy)->SIZES;
BENCHMARK(BM_movebytes_mmx)->SIZES;
BENCHMARK(BM_movebytes_fpuint)->SIZES;
BENCHMARK(BM_movebytes_longs)->SIZES;
BENCHMARK(BM_copymmx)->SIZES;
BENCHMARK(BM_copyfpuint)->SIZES;
BENCHMARK(BM_copyfpudouble)->SIZES;
BENCHMARK(BM_copylongs)->SIZES;

} // namespace
