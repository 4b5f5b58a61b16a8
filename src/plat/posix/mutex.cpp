/*
 * mutex.cpp - mutex objects, named ones shared by all processes of a session.
 *
 * A named mutex is an abstract-namespace Unix socket bound to a name made of the
 * user id, the session (THISTLE_SESSION, default the user id) and the mutex name:
 *
 *     "\0thistlerun/<uid>/<session>/mutex/<name>"     (too long: ".../#<hash>")
 *
 * The kernel keeps the name while the socket is open and drops it when the process
 * ends, however it ends, so a holder killed by SIGKILL leaves no stale name. The
 * socket is close-on-exec (children do not keep it alive) and listens, so that the
 * owner can later be sent requests over it.
 *
 * Whether a name already exists is all another process learns: a process that
 * opens an existing name gets a handle (last error ERROR_ALREADY_EXISTS) that does
 * not keep the name alive; the name lives as long as the creating process holds
 * it. Within one process, the same name gives handles to the same object.
 *
 * Threads and locks: namelock guards the table of names this process owns.
 * Ownership fields are guarded by kernlock (waits come with the next changes).
 */
#include "kernel.h"

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {

struct kmutex {
    kobject hdr;
    int sock;         /* bound socket of a name this process owns, else -1 */
    std::string name; /* socket name (without the leading NUL) when sock >= 0 */
    DWORD owner;      /* owning thread id or 0; guarded by kernlock */
    DWORD count;      /* recursion count; guarded by kernlock */
};

std::mutex namelock;

/* Names this process owns; guarded by namelock. Never destroyed, like the handle
 * table: handles may be closed during exit. */
std::vector<kmutex *> &ownednames() {
    static std::vector<kmutex *> *v = new std::vector<kmutex *>;
    return *v;
}

void mutexdestroy(kobject *obj) {
    kmutex *m = reinterpret_cast<kmutex *>(obj);
    if (m->sock >= 0) {
        std::lock_guard<std::mutex> lock(namelock);
        std::vector<kmutex *> &names = ownednames();
        for (size_t i = 0; i < names.size(); i++) {
            if (names[i] == m) {
                names.erase(names.begin() + (long)i);
                break;
            }
        }
        close(m->sock);
    }
    delete m;
}

uint64_t fnv1a(const std::string &s) {
    uint64_t h = 14695981039346656037ull;
    for (unsigned char c : s) {
        h = (h ^ c) * 1099511628211ull;
    }
    return h;
}

/* The socket name of a mutex name, short enough for sun_path. */
std::string socketname(const char *name) {
    char uid[32];
    snprintf(uid, sizeof uid, "%lu", (unsigned long)getuid());
    const char *session = getenv("THISTLE_SESSION");
    if (session == nullptr || session[0] == '\0') {
        session = uid;
    }
    std::string full = std::string("thistlerun/") + uid + "/" + session + "/mutex/" + name;
    if (full.size() < sizeof(((sockaddr_un *)nullptr)->sun_path)) {
        return full;
    }
    char hashed[64];
    snprintf(hashed, sizeof hashed, "thistlerun/%s/#%016llx", uid, (unsigned long long)fnv1a(full));
    return hashed;
}

kmutex *newmutex(bool owned) {
    kmutex *m = new (std::nothrow) kmutex{};
    if (m != nullptr) {
        kerninit(&m->hdr, &kmutextype);
        m->sock = -1;
        if (owned) {
            m->owner = GetCurrentThreadId();
            m->count = 1;
        }
    }
    return m;
}

/* One more reference to a table entry unless it is already being destroyed. */
bool tryaddref(kobject *obj) {
    int n = obj->refs.load();
    while (n > 0) {
        if (obj->refs.compare_exchange_weak(n, n + 1)) {
            return true;
        }
    }
    return false;
}

/* Finds or binds the name. Returns the object with one reference for the caller,
 * or null with the last error set. */
kmutex *findname(const std::string &sname, bool owned, bool *exists) {
    std::lock_guard<std::mutex> lock(namelock);
    for (kmutex *m : ownednames()) {
        if (m->name == sname && tryaddref(&m->hdr)) {
            *exists = true;
            return m;
        }
    }

    int sock = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (sock < 0) {
        SetLastError(kernerror(errno));
        return nullptr;
    }
    sockaddr_un addr;
    memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    memcpy(addr.sun_path + 1, sname.data(), sname.size());
    socklen_t len = (socklen_t)(offsetof(sockaddr_un, sun_path) + 1 + sname.size());
    *exists = false;
    if (bind(sock, (sockaddr *)&addr, len) != 0) {
        int err = errno;
        close(sock);
        if (err != EADDRINUSE) {
            SetLastError(kernerror(err));
            return nullptr;
        }
        *exists = true;
        sock = -1;
    } else {
        listen(sock, 8);
    }

    kmutex *m = newmutex(owned && !*exists);
    if (m == nullptr) {
        if (sock >= 0) {
            close(sock);
        }
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (sock >= 0) {
        m->sock = sock;
        m->name = sname;
        ownednames().push_back(m);
    }
    return m;
}

HANDLE opennamed(const char *name, bool owned) {
    bool exists = false;
    kmutex *m = findname(socketname(name), owned, &exists);
    if (m == nullptr) {
        return nullptr;
    }
    /* Outside namelock: a failing kernhandle destroys the object, which takes it. */
    HANDLE h = kernhandle(&m->hdr);
    if (h != nullptr) {
        SetLastError(exists ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    }
    return h;
}

} // namespace

const kobjtype kmutextype = {
    .name = "mutex",
    .destroy = mutexdestroy,
};

/* Creates or opens a mutex. Unnamed: a new object of this process. Named: see the
 * top of this file; last error 0 when the name is new, ERROR_ALREADY_EXISTS when it
 * existed (the handle is valid either way). With bInitialOwner the calling thread
 * owns a new mutex. Returns null with the last error set on failure. */
HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner,
                           LPCSTR lpName) {
    (void)lpMutexAttributes;
    if (lpName != nullptr && lpName[0] != '\0') {
        return opennamed(lpName, bInitialOwner != FALSE);
    }
    kmutex *m = newmutex(bInitialOwner != FALSE);
    if (m == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    HANDLE h = kernhandle(&m->hdr);
    if (h != nullptr) {
        SetLastError(ERROR_SUCCESS);
    }
    return h;
}
