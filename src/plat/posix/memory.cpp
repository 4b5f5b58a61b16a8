/*
 * memory.cpp - virtual memory: VirtualAlloc, VirtualFree, GetSystemInfo.
 *
 * A reservation is an anonymous mapping, its pages inaccessible until committed;
 * committing changes the protection, decommitting drops the pages (they read as
 * zero when committed again). Reservations start on 64 KiB boundaries, the
 * allocation granularity Windows reports and programs may rely on; the table of
 * reservations (base -> size) lets MEM_RELEASE free a whole one by its base.
 * Threads and locks: the table is guarded by maplock.
 */
#include "kernel.h"

#include <cerrno>
#include <map>
#include <sys/mman.h>
#include <unistd.h>

namespace {

constexpr uintptr_t GRANULARITY = 65536;

std::mutex maplock;

/* base -> size; guarded by maplock. Never destroyed: memory may be freed by code
 * that runs during exit. */
std::map<uintptr_t, size_t> &reservationmap() {
    static std::map<uintptr_t, size_t> *m = new std::map<uintptr_t, size_t>;
    return *m;
}

uintptr_t pagesize() {
    return (uintptr_t)sysconf(_SC_PAGESIZE);
}

bool protection(DWORD flProtect, int *prot) {
    switch (flProtect) {
    case PAGE_NOACCESS:
        *prot = PROT_NONE;
        return true;
    case PAGE_READONLY:
        *prot = PROT_READ;
        return true;
    case PAGE_READWRITE:
        *prot = PROT_READ | PROT_WRITE;
        return true;
    default:
        return false;
    }
}

/* The reservation that holds [start, end), or reservations.end(). maplock held. */
std::map<uintptr_t, size_t>::iterator holder(uintptr_t start, uintptr_t end) {
    std::map<uintptr_t, size_t> &reservations = reservationmap();
    auto it = reservations.upper_bound(start);
    if (it == reservations.begin()) {
        return reservations.end();
    }
    --it;
    if (end > it->first + it->second) {
        return reservations.end();
    }
    return it;
}

/* A new reservation of size bytes at a 64 KiB boundary (at want when not null). */
void *reserve(uintptr_t want, size_t size, int prot) {
    if (want != 0) {
        want &= ~(GRANULARITY - 1);
        void *p = mmap((void *)want, size, prot, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE,
                       -1, 0);
        if (p == MAP_FAILED || (uintptr_t)p != want) {
            if (p != MAP_FAILED) {
                munmap(p, size);
            }
            return nullptr;
        }
        return p;
    }
    /* Over-map by the granularity and trim both ends to get the alignment. */
    size_t span = size + GRANULARITY;
    void *raw = mmap(nullptr, span, prot, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (raw == MAP_FAILED) {
        return nullptr;
    }
    uintptr_t start = ((uintptr_t)raw + GRANULARITY - 1) & ~(GRANULARITY - 1);
    if (start > (uintptr_t)raw) {
        munmap(raw, start - (uintptr_t)raw);
    }
    uintptr_t tail = (uintptr_t)raw + span - (start + size);
    if (tail > 0) {
        munmap((void *)(start + size), tail);
    }
    return (void *)start;
}

} // namespace

/* Reserves and/or commits pages. With lpAddress null (or MEM_RESERVE) a new region
 * at a 64 KiB boundary; with MEM_COMMIT alone, pages of an existing region. Returns
 * the base of what was reserved or committed, or null with the last error set
 * (ERROR_INVALID_PARAMETER for unknown flags or an address outside any region). */
LPVOID WINAPI VirtualAlloc(LPVOID lpAddress, SIZE_T dwSize, DWORD flAllocationType,
                           DWORD flProtect) {
    int prot = PROT_NONE;
    DWORD kind = flAllocationType & (MEM_RESERVE | MEM_COMMIT);
    if (dwSize == 0 || kind == 0 || (flAllocationType & ~(DWORD)(MEM_RESERVE | MEM_COMMIT)) != 0 ||
        !protection(flProtect, &prot)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    uintptr_t page = pagesize();
    uintptr_t addr = (uintptr_t)lpAddress;
    std::lock_guard<std::mutex> lock(maplock);
    std::map<uintptr_t, size_t> &reservations = reservationmap();

    if ((kind & MEM_RESERVE) != 0 || addr == 0) {
        size_t size = ((size_t)dwSize + page - 1) & ~(page - 1);
        void *p = reserve(addr, size, (kind & MEM_COMMIT) != 0 ? prot : PROT_NONE);
        if (p == nullptr) {
            SetLastError(addr != 0 ? (DWORD)ERROR_INVALID_PARAMETER
                                   : (DWORD)ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        reservations[(uintptr_t)p] = size;
        return p;
    }

    uintptr_t start = addr & ~(page - 1);
    uintptr_t end = (addr + (uintptr_t)dwSize + page - 1) & ~(page - 1);
    if (holder(start, end) == reservations.end()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (mprotect((void *)start, end - start, prot) != 0) {
        SetLastError(kernerror(errno));
        return nullptr;
    }
    return (void *)start;
}

/* MEM_RELEASE with dwSize 0 frees the whole region whose base lpAddress is;
 * MEM_DECOMMIT drops the pages of a range (dwSize 0: to the end of the region).
 * FALSE with ERROR_INVALID_PARAMETER for anything else. */
BOOL WINAPI VirtualFree(LPVOID lpAddress, SIZE_T dwSize, DWORD dwFreeType) {
    uintptr_t addr = (uintptr_t)lpAddress;
    uintptr_t page = pagesize();
    std::lock_guard<std::mutex> lock(maplock);
    std::map<uintptr_t, size_t> &reservations = reservationmap();
    if (dwFreeType == MEM_RELEASE) {
        auto it = reservations.find(addr);
        if (dwSize != 0 || it == reservations.end()) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        munmap((void *)it->first, it->second);
        reservations.erase(it);
        return TRUE;
    }
    if (dwFreeType == MEM_DECOMMIT) {
        uintptr_t start = addr & ~(page - 1);
        auto it = holder(start, start + 1);
        if (it != reservations.end()) {
            uintptr_t limit = it->first + it->second;
            uintptr_t end =
                dwSize == 0 ? limit : (addr + (uintptr_t)dwSize + page - 1) & ~(page - 1);
            if (end <= limit) {
                madvise((void *)start, end - start, MADV_DONTNEED);
                mprotect((void *)start, end - start, PROT_NONE);
                return TRUE;
            }
        }
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

/* Page size, processor count and the 64 KiB allocation granularity of
 * VirtualAlloc; processor type and level describe a generic x86 processor. */
void WINAPI GetSystemInfo(LPSYSTEM_INFO lpSystemInfo) {
    long cpus = sysconf(_SC_NPROCESSORS_ONLN);
    if (cpus < 1) {
        cpus = 1;
    }
    *lpSystemInfo = SYSTEM_INFO{};
    lpSystemInfo->dwPageSize = (DWORD)pagesize();
    lpSystemInfo->lpMinimumApplicationAddress = (LPVOID)GRANULARITY;
    lpSystemInfo->lpMaximumApplicationAddress =
        (LPVOID)(sizeof(void *) == 8 ? (uintptr_t)0x00007FFFFFFEFFFFull : (uintptr_t)0xBFFEFFFFu);
    unsigned bits = (unsigned)(cpus < (long)(8 * sizeof(DWORD_PTR)) ? cpus : 8 * sizeof(DWORD_PTR));
    lpSystemInfo->dwActiveProcessorMask =
        bits >= 8 * sizeof(DWORD_PTR) ? ~(DWORD_PTR)0 : (((DWORD_PTR)1 << bits) - 1);
    lpSystemInfo->dwNumberOfProcessors = (DWORD)cpus;
    lpSystemInfo->dwProcessorType = 586; /* PROCESSOR_INTEL_PENTIUM */
    lpSystemInfo->dwAllocationGranularity = (DWORD)GRANULARITY;
    lpSystemInfo->wProcessorLevel = 6;
}
