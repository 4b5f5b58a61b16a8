/*
 * object.cpp - handle table, object references, last error and path helpers.
 *
 * Threads and locks: the handle table is guarded by tablelock, held only for a
 * slot lookup or change and never while an object is destroyed (a destroy function
 * may close handles itself). Reference counts are atomic. The last error is per
 * thread. Limits: HANDLE_MAXSLOTS open handles at once.
 */
#include "kernel.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr uint32_t HANDLE_MAXSLOTS = 1u << 20;
constexpr uint32_t HANDLE_GENMASK = (1u << 10) - 1;

struct handleslot {
    kobject *obj;
    uint32_t gen;
};

/* The table is made on first use and never destroyed: handles stay usable in
 * static initializers and while the process exits (atexit handlers, threads still
 * running), and leak checkers still see the objects it holds. */
std::mutex tablelock;

struct handletable {
    std::vector<handleslot> slots;
    std::vector<uint32_t> freeslots;
};

handletable &table() {
    static handletable *t = new handletable;
    return *t;
}

thread_local DWORD lasterror;

HANDLE encodehandle(uint32_t index, uint32_t gen) {
    uintptr_t v = ((uintptr_t)(gen & HANDLE_GENMASK) << 20 | (uintptr_t)(index + 1)) << 2;
    return (HANDLE)v;
}

/* Slot index of a well-formed handle value, or -1. */
long decodehandle(HANDLE h, uint32_t *gen) {
    uint64_t v = (uint64_t)(uintptr_t)h;
    if (v == 0 || (v & 3) != 0 || (v >> 32) != 0) {
        return -1;
    }
    v >>= 2;
    uint32_t field = (uint32_t)(v & (HANDLE_MAXSLOTS - 1));
    if (field == 0) {
        return -1;
    }
    *gen = (uint32_t)(v >> 20) & HANDLE_GENMASK;
    return (long)field - 1;
}

} // namespace

std::mutex &kernlock() {
    static std::mutex *m = new std::mutex;
    return *m;
}

std::condition_variable &kernwake() {
    static std::condition_variable *c = new std::condition_variable;
    return *c;
}

/* Reads the lock words of the C library's mutexes (glibc keeps 0 there while free). */
bool kernlocksbusy() {
    int *words[] = {&kernlock().native_handle()->__data.__lock,
                    &tablelock.native_handle()->__data.__lock};
    for (int *w : words) {
        if (__atomic_load_n(w, __ATOMIC_ACQUIRE) != 0) {
            return true;
        }
    }
    for (int *w : words) {
        syscall(SYS_futex, w, FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0);
    }
    return false;
}

void kerninit(kobject *obj, const kobjtype *type) {
    obj->type = type;
    obj->refs.store(1, std::memory_order_relaxed);
}

bool kernaddref(kobject *obj) {
    int n = obj->refs.load(std::memory_order_relaxed);
    while (n > 0) {
        if (obj->refs.compare_exchange_weak(n, n + 1, std::memory_order_relaxed)) {
            return true;
        }
    }
    return false;
}

void kernunref(kobject *obj) {
    if (obj->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        obj->type->destroy(obj);
    }
}

HANDLE kernhandle(kobject *obj) {
    uint32_t index;
    uint32_t gen;
    {
        std::lock_guard<std::mutex> lock(tablelock);
        std::vector<handleslot> &slots = table().slots;
        std::vector<uint32_t> &freeslots = table().freeslots;
        if (!freeslots.empty()) {
            index = freeslots.back();
            freeslots.pop_back();
        } else if (slots.size() < HANDLE_MAXSLOTS - 1) {
            index = (uint32_t)slots.size();
            slots.push_back(handleslot{nullptr, 0});
        } else {
            index = HANDLE_MAXSLOTS;
        }
        if (index != HANDLE_MAXSLOTS) {
            slots[index].obj = obj;
            gen = slots[index].gen;
        }
    }
    if (index == HANDLE_MAXSLOTS) {
        kernunref(obj);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return encodehandle(index, gen);
}

kobject *kernref(HANDLE h, const kobjtype *type) {
    uint32_t gen = 0;
    long index = decodehandle(h, &gen);
    if (index >= 0) {
        std::lock_guard<std::mutex> lock(tablelock);
        std::vector<handleslot> &slots = table().slots;
        if ((size_t)index < slots.size()) {
            handleslot &s = slots[(size_t)index];
            if (s.obj != nullptr && s.gen == gen && (type == nullptr || s.obj->type == type)) {
                kernaddref(s.obj);
                return s.obj;
            }
        }
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
}

BOOL kernclose(HANDLE h, const kobjtype *type) {
    uint32_t gen = 0;
    long index = decodehandle(h, &gen);
    kobject *obj = nullptr;
    if (index >= 0) {
        std::lock_guard<std::mutex> lock(tablelock);
        std::vector<handleslot> &slots = table().slots;
        if ((size_t)index < slots.size()) {
            handleslot &s = slots[(size_t)index];
            if (s.obj != nullptr && s.gen == gen && (type == nullptr || s.obj->type == type)) {
                obj = s.obj;
                s.obj = nullptr;
                s.gen = (s.gen + 1) & HANDLE_GENMASK;
                table().freeslots.push_back((uint32_t)index);
            }
        }
    }
    if (obj == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    kernunref(obj);
    return TRUE;
}

/* Closes a handle of any kind but registry keys, which RegCloseKey closes.
 * Returns FALSE with ERROR_INVALID_HANDLE for anything else. */
BOOL WINAPI CloseHandle(HANDLE hObject) {
    kobject *obj = kernref(hObject, nullptr);
    if (obj == nullptr) {
        return FALSE;
    }
    const kobjtype *type = obj->type;
    kernunref(obj);
    if (type == &kregkeytype) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return kernclose(hObject, type);
}

/* The calling thread's last error code. */
DWORD WINAPI GetLastError(void) {
    return lasterror;
}

/* Sets the calling thread's last error code. */
void WINAPI SetLastError(DWORD dwErrCode) {
    lasterror = dwErrCode;
}

DWORD kernerror(int err) {
    switch (err) {
    case 0:
        return ERROR_SUCCESS;
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
        return ERROR_ACCESS_DENIED;
    case ENOEXEC:
        return ERROR_BAD_FORMAT;
    case ENOMEM:
    case EAGAIN:
        return ERROR_NOT_ENOUGH_MEMORY;
    case EBADF:
        return ERROR_INVALID_HANDLE;
    case EEXIST:
        return ERROR_ALREADY_EXISTS;
    default:
        return ERROR_INVALID_PARAMETER;
    }
}

int kernpath(char *dst, size_t n, const char *src) {
    size_t len = strlen(src);
    if (len >= n) {
        return 0;
    }
    for (size_t i = 0; i <= len; i++) {
        dst[i] = src[i] == '\\' ? '/' : src[i];
    }
    return 1;
}
