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
 * Requests: the listening sockets of the names this process owns are served by one
 * service thread, started with the first such name. It accepts a connection, reads
 * one request line, asks the handler installed with plat_setrequesthandler and
 * writes its reply line; no handler (or a handler that declines) closes the
 * connection unanswered. plat_namedrequest is the other end. The thread is detached,
 * blocks every signal and holds no lock while it waits, so it neither keeps the
 * process alive nor delays its exit.
 *
 * Threads and locks: namelock guards the table of names this process owns, the
 * opened-name list and the service thread's state. A socket being polled by the
 * service thread is closed only after the thread has left poll (the kernel would
 * keep the name bound until then). Ownership fields are guarded by kernlock.
 * Limits: requests and replies are one line of less than 1024 bytes; a client gets
 * at most one second to send its request; 16 opened names are remembered.
 */
#include "kernel.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <string>
#include <sys/eventfd.h>
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

constexpr size_t REQUEST_MAX = 1024;
constexpr int OPENED_MAX = 16;

/* Service thread state; guarded by namelock. */
struct servicestate {
    bool started = false;
    int wakefd = -1;      /* eventfd that ends the thread's poll */
    bool polling = false; /* inside poll() with a snapshot of the sockets */
    uint64_t polls = 0;   /* how many polls have ended */
    std::condition_variable left;
    std::vector<std::string> opened; /* names opened but not created, most recent first */
};

servicestate &service() {
    static servicestate *s = new servicestate;
    return *s;
}

std::atomic<plat_requesthandler> requesthandler{nullptr};

void servicewake();

/* Names this process owns; guarded by namelock. Never destroyed, like the handle
 * table: handles may be closed during exit. */
std::vector<kmutex *> &ownednames() {
    static std::vector<kmutex *> *v = new std::vector<kmutex *>;
    return *v;
}

void mutexdestroy(kobject *obj) {
    kmutex *m = reinterpret_cast<kmutex *>(obj);
    if (m->sock >= 0) {
        std::unique_lock<std::mutex> lock(namelock);
        std::vector<kmutex *> &names = ownednames();
        for (size_t i = 0; i < names.size(); i++) {
            if (names[i] == m) {
                names.erase(names.begin() + (long)i);
                break;
            }
        }
        /* The name must be gone when CloseHandle returns: get the socket out of the
         * service thread's poll before closing it. */
        servicestate &sv = service();
        if (sv.polling) {
            uint64_t one = 1;
            ssize_t n = write(sv.wakefd, &one, sizeof one);
            (void)n;
            uint64_t current = sv.polls;
            sv.left.wait(lock, [&sv, current] { return sv.polls != current; });
        }
        close(m->sock);
    }
    delete m;
}

bool mutexsignalled(kobject *obj, DWORD tid) {
    kmutex *m = reinterpret_cast<kmutex *>(obj);
    return m->owner == 0 || m->owner == tid;
}

void mutexacquire(kobject *obj, DWORD tid) {
    kmutex *m = reinterpret_cast<kmutex *>(obj);
    m->owner = tid;
    m->count++;
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

/* Finds or binds the name. Returns the object with one reference for the caller,
 * or null with the last error set. */
kmutex *findname(const std::string &sname, bool owned, bool *exists, const char *name) {
    std::lock_guard<std::mutex> lock(namelock);
    for (kmutex *m : ownednames()) {
        if (m->name == sname && kernaddref(&m->hdr)) {
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
        std::vector<std::string> &opened = service().opened;
        for (size_t i = 0; i < opened.size(); i++) {
            if (opened[i] == name) {
                opened.erase(opened.begin() + (long)i);
                break;
            }
        }
        opened.insert(opened.begin(), std::string(name).substr(0, 255));
        if (opened.size() > (size_t)OPENED_MAX) {
            opened.pop_back();
        }
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
        servicewake();
    }
    return m;
}

HANDLE opennamed(const char *name, bool owned) {
    bool exists = false;
    kmutex *m = findname(socketname(name), owned, &exists, name);
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

/* ---- request service ------------------------------------------------------------ */

/* Reads up to a newline into buf (size n, NUL-terminated, newline dropped) within
 * the deadline. 1 when a whole line came, else 0. */
int readline(int fd, char *buf, size_t n, std::chrono::steady_clock::time_point deadline) {
    size_t got = 0;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return 0;
        }
        pollfd p{fd, POLLIN, 0};
        int r = poll(&p, 1, (int)left.count());
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r <= 0) {
            return 0;
        }
        ssize_t k = recv(fd, buf + got, n - 1 - got, MSG_DONTWAIT);
        if (k < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (k <= 0) {
            return 0;
        }
        char *nl = static_cast<char *>(memchr(buf + got, '\n', (size_t)k));
        got += (size_t)k;
        if (nl != nullptr) {
            *nl = '\0';
            return 1;
        }
        if (got >= n - 1) {
            return 0;
        }
    }
}

/* Writes all of buf; 0 when the peer went away or did not read in time. */
int writeall(int fd, const char *buf, size_t n, std::chrono::steady_clock::time_point deadline) {
    size_t done = 0;
    while (done < n) {
        ssize_t k = send(fd, buf + done, n - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (k > 0) {
            done += (size_t)k;
            continue;
        }
        if (k < 0 && errno != EINTR && errno != EAGAIN) {
            return 0;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{fd, POLLOUT, 0};
        if (left.count() <= 0 || (poll(&p, 1, (int)left.count()) <= 0 && errno != EINTR)) {
            return 0;
        }
    }
    return 1;
}

void serve(int conn) {
    char request[REQUEST_MAX];
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    plat_requesthandler handler = requesthandler.load();
    if (handler != nullptr && readline(conn, request, sizeof request, deadline)) {
        char reply[REQUEST_MAX + 1];
        reply[0] = '\0';
        if (handler(request, reply, REQUEST_MAX) == 1) {
            reply[REQUEST_MAX - 1] = '\0';
            size_t len = strlen(reply);
            reply[len] = '\n';
            writeall(conn, reply, len + 1,
                     std::chrono::steady_clock::now() + std::chrono::seconds(1));
        }
    }
    close(conn);
}

void *servicemain(void *) {
    servicestate &sv = service();
    std::vector<pollfd> fds;
    std::vector<kmutex *> snapshot;
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(namelock);
            fds.clear();
            snapshot.clear();
            fds.push_back(pollfd{sv.wakefd, POLLIN, 0});
            for (kmutex *m : ownednames()) {
                fds.push_back(pollfd{m->sock, POLLIN, 0});
                snapshot.push_back(m);
            }
            sv.polling = true;
        }
        poll(fds.data(), (nfds_t)fds.size(), -1);
        std::vector<int> conns;
        {
            std::lock_guard<std::mutex> lock(namelock);
            sv.polling = false;
            sv.polls++;
            sv.left.notify_all();
            if ((fds[0].revents & POLLIN) != 0) {
                uint64_t v;
                ssize_t n = read(sv.wakefd, &v, sizeof v);
                (void)n;
            }
            /* Only sockets still in the table: the others may have been closed and
             * their numbers reused. */
            std::vector<kmutex *> &names = ownednames();
            for (size_t i = 0; i < snapshot.size(); i++) {
                if ((fds[i + 1].revents & POLLIN) == 0) {
                    continue;
                }
                bool live = false;
                for (kmutex *m : names) {
                    live = live || (m == snapshot[i] && m->sock == fds[i + 1].fd);
                }
                int c = live ? accept4(fds[i + 1].fd, nullptr, nullptr, SOCK_CLOEXEC) : -1;
                if (c >= 0) {
                    conns.push_back(c);
                }
            }
        }
        for (int c : conns) {
            serve(c);
        }
    }
    return nullptr;
}

/* Client side: a connected socket to the owner of the name, or -1. */
int connectname(const char *name) {
    std::string sname = socketname(name);
    int sock = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (sock < 0) {
        return -1;
    }
    sockaddr_un addr;
    memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    memcpy(addr.sun_path + 1, sname.data(), sname.size());
    socklen_t len = (socklen_t)(offsetof(sockaddr_un, sun_path) + 1 + sname.size());
    int rc;
    do {
        rc = connect(sock, (sockaddr *)&addr, len);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        close(sock);
        return -1;
    }
    return sock;
}

/* A name of this process's own now listens: starts the service thread with the
 * first one, and makes it poll the new socket too. Called with namelock held. */
void servicewake() {
    servicestate &sv = service();
    if (!sv.started) {
        sv.wakefd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (sv.wakefd < 0) {
            return;
        }
        /* The thread takes no signal meant for the program's own threads. */
        sigset_t all;
        sigset_t old;
        sigfillset(&all);
        pthread_sigmask(SIG_SETMASK, &all, &old);
        pthread_attr_t attr;
        pthread_attr_init(&attr);
        pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
        pthread_attr_setstacksize(&attr, 256 * 1024);
        pthread_t th;
        sv.started = pthread_create(&th, &attr, servicemain, nullptr) == 0;
        pthread_attr_destroy(&attr);
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
        if (!sv.started) {
            close(sv.wakefd);
            sv.wakefd = -1;
            return;
        }
    }
    uint64_t one = 1;
    ssize_t n = write(sv.wakefd, &one, sizeof one);
    (void)n;
}

} // namespace

void plat_setrequesthandler(plat_requesthandler handler) {
    requesthandler.store(handler);
}

int plat_namedrequest(const char *name, const char *request, char *reply, size_t replysize,
                      DWORD timeoutms) {
    if (name == nullptr || request == nullptr || reply == nullptr || replysize == 0 ||
        strlen(request) >= REQUEST_MAX || strchr(request, '\n') != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    reply[0] = '\0';
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutms);
    int sock = connectname(name);
    if (sock < 0) {
        return 0;
    }
    std::string line = std::string(request) + "\n";
    char buf[REQUEST_MAX + 1];
    int ok = writeall(sock, line.data(), line.size(), deadline) &&
             readline(sock, buf, sizeof buf, deadline);
    close(sock);
    if (ok) {
        snprintf(reply, replysize, "%s", buf);
    }
    return ok;
}

int plat_openednames(char (*names)[256], int max) {
    std::lock_guard<std::mutex> lock(namelock);
    const std::vector<std::string> &opened = service().opened;
    int n = 0;
    for (; n < max && (size_t)n < opened.size(); n++) {
        snprintf(names[n], 256, "%s", opened[(size_t)n].c_str());
    }
    return n;
}

const kobjtype kmutextype = {
    .name = "mutex",
    .destroy = mutexdestroy,
    .signalled = mutexsignalled,
    .acquire = mutexacquire,
    .pollms = 0,
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

/* Gives up one level of the calling thread's ownership; the last one frees the
 * mutex for the next waiter. FALSE with ERROR_NOT_OWNER when the thread does not own
 * it. */
BOOL WINAPI ReleaseMutex(HANDLE hMutex) {
    kobject *obj = kernref(hMutex, &kmutextype);
    if (obj == nullptr) {
        return FALSE;
    }
    kmutex *m = reinterpret_cast<kmutex *>(obj);
    bool owned;
    {
        std::lock_guard<std::mutex> lock(kernlock());
        owned = m->owner == GetCurrentThreadId() && m->count > 0;
        if (owned && --m->count == 0) {
            m->owner = 0;
        }
    }
    kernwake().notify_all();
    kernunref(obj);
    if (!owned) {
        SetLastError(ERROR_NOT_OWNER);
        return FALSE;
    }
    return TRUE;
}
