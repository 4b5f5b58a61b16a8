/*
 * file.cpp - files, directories and the executable's own module.
 *
 * Windows names are taken with backslashes and turned into POSIX names; text and
 * binary modes are the same here. Only regular files open as files, as on Windows:
 * a directory, a FIFO or a device is refused at once, never waited on. The
 * executable is the one module: its handle is a fixed value, its file name is
 * /proc/self/exe.
 * Threads: no state of its own; the current directory is the process's.
 * Limits: names up to 4095 bytes.
 */
#include "kernel.h"
#include "plat/stdio.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

/* The executable's module handle: the address a Windows executable loads at. It is
 * a name, never dereferenced. */
const HMODULE EXE_MODULE = (HMODULE)(uintptr_t)0x400000;

} // namespace

#undef fopen

int plat_openfile(const char *path, int flags, unsigned int mode) {
    /* O_NONBLOCK: opening a FIFO without a writer would wait for one. */
    int fd = open(path, flags | O_NONBLOCK | O_CLOEXEC, (mode_t)mode);
    if (fd < 0) {
        return -1;
    }
    struct stat st;
    if (fstat(fd, &st) != 0) {
        int err = errno;
        close(fd);
        errno = err;
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        int err = S_ISDIR(st.st_mode) ? EISDIR : EACCES;
        close(fd);
        errno = err;
        return -1;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

int plat_writeall(int fd, const void *data, size_t size) {
    const char *p = static_cast<const char *>(data);
    while (size > 0) {
        ssize_t n = write(fd, p, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return 0;
        }
        p += n;
        size -= (size_t)n;
    }
    return 1;
}

/* fopen with a Windows file name and mode: backslashes become slashes, a 't' in the
 * mode is dropped, and only a regular file opens (see plat_openfile). Returns the
 * stream or null with errno set. */
FILE *plat_fopen(const char *name, const char *mode) {
    char path[4096];
    if (name == nullptr || mode == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    if (!kernpath(path, sizeof path, name)) {
        errno = ENAMETOOLONG;
        return nullptr;
    }
    int flags;
    switch (mode[0]) {
    case 'r':
        flags = 0;
        break;
    case 'w':
        flags = O_CREAT | O_TRUNC;
        break;
    case 'a':
        flags = O_CREAT | O_APPEND;
        break;
    default:
        errno = EINVAL;
        return nullptr;
    }
    if (strchr(mode, 'x') != nullptr) {
        flags |= O_EXCL;
    }
    bool update = strchr(mode, '+') != nullptr;
    flags |= update ? O_RDWR : mode[0] == 'r' ? O_RDONLY : O_WRONLY;
    int fd = plat_openfile(path, flags, 0666);
    if (fd < 0) {
        return nullptr;
    }
    /* The stream's own mode: what fdopen understands of ours, without the 't'. */
    const char *streammode = mode[0] == 'r'   ? (update ? "r+" : "r")
                             : mode[0] == 'w' ? (update ? "w+" : "w")
                                              : (update ? "a+" : "a");
    FILE *file = fdopen(fd, streammode);
    if (file == nullptr) {
        int err = errno;
        close(fd);
        errno = err;
    }
    return file;
}

/* Changes the current directory (backslashes allowed). An empty name is no path at all
 * (ERROR_INVALID_NAME, as on Windows); a missing directory is ERROR_PATH_NOT_FOUND. */
BOOL WINAPI SetCurrentDirectoryA(LPCSTR lpPathName) {
    char path[4096];
    if (lpPathName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (lpPathName[0] == '\0') {
        SetLastError(ERROR_INVALID_NAME);
        return FALSE;
    }
    if (!kernpath(path, sizeof path, lpPathName)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    if (chdir(path) != 0) {
        SetLastError(errno == ENOENT ? (DWORD)ERROR_PATH_NOT_FOUND : kernerror(errno));
        return FALSE;
    }
    return TRUE;
}

/* Copies the current directory (a POSIX name) into lpBuffer. Returns its length
 * without the terminating zero, or, when nBufferLength is too small, the size
 * needed including it with the buffer untouched; 0 on failure. */
DWORD WINAPI GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer) {
    char path[4096];
    if (getcwd(path, sizeof path) == nullptr) {
        SetLastError(kernerror(errno));
        return 0;
    }
    DWORD len = (DWORD)strlen(path);
    if (lpBuffer == nullptr || nBufferLength <= len) {
        return len + 1;
    }
    memcpy(lpBuffer, path, len + 1);
    return len;
}

/* The executable's file name for hModule null or the executable's own handle.
 * Returns its length; when it does not fit, the truncated name (terminated), nSize
 * and ERROR_INSUFFICIENT_BUFFER; 0 with the last error set on failure. */
DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
    char path[4096];
    if (hModule != nullptr && hModule != EXE_MODULE) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n < 0) {
        SetLastError(kernerror(errno));
        return 0;
    }
    path[n] = '\0';
    if (lpFilename == nullptr || nSize == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if ((DWORD)n >= nSize) {
        memcpy(lpFilename, path, nSize - 1);
        lpFilename[nSize - 1] = '\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return nSize;
    }
    memcpy(lpFilename, path, (size_t)n + 1);
    return (DWORD)n;
}

/* The executable's module handle for a null name or the executable's file name
 * (with or without directory); null with ERROR_FILE_NOT_FOUND for other modules,
 * of which there are none here. */
HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName) {
    if (lpModuleName == nullptr) {
        return EXE_MODULE;
    }
    char path[4096];
    char want[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n > 0 && kernpath(want, sizeof want, lpModuleName)) {
        path[n] = '\0';
        const char *base = strrchr(path, '/');
        base = base != nullptr ? base + 1 : path;
        if (strcmp(want, path) == 0 || strcmp(want, base) == 0) {
            return EXE_MODULE;
        }
    }
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
}
