/*
 * registry.cpp - the registry, kept in one text file in regedit export format.
 *
 *     REGEDIT4                              (or "Windows Registry Editor Version 5.00")
 *     ; comment
 *     [HKEY_LOCAL_MACHINE\Software\Maker\Game]
 *     "Path"="C:\\Games\\Game\\"            string value, \\ and \" escaped
 *     @="default value"                     the key's default value
 *     "Count"=dword:00000002                other types: read as their bytes,
 *     "Dir"=hex(2):43,00,3a,00,00,00        kept verbatim on a rewrite
 *
 * The file is THISTLE_REGISTRY, else $XDG_CONFIG_HOME/thistlerun/registry.reg, else
 * ~/.config/thistlerun/registry.reg; a missing file is an empty registry. Every call
 * reads it afresh, so other processes' changes are seen at once. A change takes an
 * exclusive flock on the file's directory, re-reads the file, applies the change,
 * writes a temporary file beside it, syncs it and renames it over the file: readers
 * never see half a file and two writers never lose each other's changes. The
 * directory, unlike the file, is the same before and after the rename, so the lock
 * stays valid and leaves no file behind. Comments, blank lines and values of other
 * types survive a rewrite; so do the header and the line ends (CRLF or LF) the file
 * had. New files get the version 5 header and LF.
 *
 * Key and value names compare without regard to case. A key exists when it has a
 * section or when a section below it exists. A file without write permission bits
 * (for root too) is read-only: creating a key, setting a value and opening a key
 * for any write access (KEY_ALL_ACCESS included) fail with ERROR_ACCESS_DENIED, as
 * Windows refuses full access to a key the caller may only read.
 * A file that cannot be parsed makes the call fail with ERROR_BADDB; it is never
 * rewritten. Text encodings: ANSI/UTF-8 only (a UTF-16 export is ERROR_BADDB).
 *
 * Threads and locks: no shared state besides the key handles (kernel objects) and
 * the file itself, whose writers the directory's flock serialises across threads
 * and processes alike.
 */
#include "kernel.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <string>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const char HEADER4[] = "REGEDIT4";
const char HEADER5[] = "Windows Registry Editor Version 5.00";

/* Access bits that need a writable file. */
constexpr REGSAM WRITE_ACCESS = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK |
                                0x00010000 /* DELETE */ | 0x00040000 /* WRITE_DAC */ |
                                0x00080000 /* WRITE_OWNER */;

struct kregkey {
    kobject hdr;
    std::string path; /* full key path, root name first */
    REGSAM access;
};

void regkeydestroy(kobject *obj) {
    delete reinterpret_cast<kregkey *>(obj);
}

/* One line (or continued lines) of a section: a string value, or kept verbatim. */
struct regitem {
    bool isvalue;     /* a value line: name is meaningful */
    bool isstring;    /* a string value: data is its text */
    bool isdefault;   /* "@" */
    std::string name; /* value name, unescaped */
    std::string data; /* other types: the text after '=' (lines joined by '\n') */
    std::string raw;  /* verbatim text of non-string items (lines joined by '\n') */
};

struct regsection {
    std::string path;
    std::vector<regitem> items;
};

struct regfile {
    std::string header;
    bool crlf;
    std::vector<std::string> preamble;
    std::vector<regsection> sections;
};

struct rootname {
    HKEY key;
    const char *name;
};
const rootname roots[] = {
    {HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT"},
    {HKEY_CURRENT_USER, "HKEY_CURRENT_USER"},
    {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE"},
    {HKEY_USERS, "HKEY_USERS"},
};

bool sameci(const std::string &a, const std::string &b) {
    return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

std::string registrypath() {
    const char *p = getenv("THISTLE_REGISTRY");
    if (p != nullptr && p[0] != '\0') {
        return p;
    }
    const char *xdg = getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] != '\0') {
        return std::string(xdg) + "/thistlerun/registry.reg";
    }
    const char *home = getenv("HOME");
    if (home == nullptr || home[0] == '\0') {
        struct passwd *pw = getpwuid(getuid());
        home = pw != nullptr ? pw->pw_dir : "/tmp";
    }
    return std::string(home) + "/.config/thistlerun/registry.reg";
}

std::string dirof(const std::string &path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

/* ---- parsing ---------------------------------------------------------------------- */

/* Parses a quoted string at s[*pos] (on the opening quote) into out; leaves *pos
 * after the closing quote. False when it is not closed. */
bool parsequoted(const std::string &s, size_t *pos, std::string *out) {
    size_t i = *pos + 1;
    out->clear();
    while (i < s.size()) {
        char c = s[i];
        if (c == '"') {
            *pos = i + 1;
            return true;
        }
        if (c == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) {
            *out += s[i + 1];
            i += 2;
            continue;
        }
        *out += c;
        i++;
    }
    return false;
}

bool blank(const std::string &s, size_t from) {
    for (size_t i = from; i < s.size(); i++) {
        if (s[i] != ' ' && s[i] != '\t') {
            return false;
        }
    }
    return true;
}

std::string trimright(const std::string &s) {
    size_t n = s.size();
    while (n > 0 && (s[n - 1] == ' ' || s[n - 1] == '\t')) {
        n--;
    }
    return s.substr(0, n);
}

/* A known root name followed by nothing or a backslash. */
bool validkeypath(const std::string &path) {
    for (const rootname &r : roots) {
        size_t n = strlen(r.name);
        if (path.size() >= n && strncasecmp(path.c_str(), r.name, n) == 0 &&
            (path.size() == n || path[n] == '\\')) {
            return true;
        }
    }
    return false;
}

/* Splits the text (after a UTF-8 byte order mark) into lines without their ends;
 * *crlf tells whether the first line ended in CRLF. */
std::vector<std::string> splitlines(const std::string &text, bool *crlf) {
    std::vector<std::string> lines;
    size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    *crlf = false;
    while (start < text.size()) {
        size_t nl = text.find('\n', start);
        std::string line = text.substr(start, nl == std::string::npos ? nl : nl - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
            *crlf = *crlf || lines.empty();
        }
        lines.push_back(line);
        if (nl == std::string::npos) {
            break;
        }
        start = nl + 1;
    }
    return lines;
}

size_t skipblanks(const std::string &s, size_t p) {
    while (p < s.size() && (s[p] == ' ' || s[p] == '\t')) {
        p++;
    }
    return p;
}

/* A section line "[HKEY_...\path]", its '[' at p: opens a new section. */
LSTATUS parsesection(const std::string &line, size_t p, regfile *f) {
    std::string t = trimright(line);
    if (t.back() != ']' || t.size() - p < 3 || t[p + 1] == '-') {
        return ERROR_BADDB;
    }
    std::string path = t.substr(p + 1, t.size() - p - 2);
    while (!path.empty() && path.back() == '\\') {
        path.pop_back();
    }
    if (!validkeypath(path)) {
        return ERROR_BADDB;
    }
    f->sections.push_back(regsection{path, {}});
    return ERROR_SUCCESS;
}

/* A value line, its name ('"' or '@') at p, of the last section. A value of another
 * type than a string takes its continuation lines (those after a line ending in
 * '\'), advancing *i past them. */
LSTATUS parsevalue(const std::vector<std::string> &lines, size_t *i, size_t p, regfile *f) {
    const std::string &line = lines[*i];
    regitem item{true, false, line[p] == '@', "", "", ""};
    if (line[p] == '@') {
        p++;
    } else if (!parsequoted(line, &p, &item.name)) {
        return ERROR_BADDB;
    }
    p = skipblanks(line, p);
    if (p >= line.size() || line[p] != '=') {
        return ERROR_BADDB;
    }
    p = skipblanks(line, p + 1);
    if (p < line.size() && line[p] == '"') {
        if (!parsequoted(line, &p, &item.data) || !blank(line, p)) {
            return ERROR_BADDB;
        }
        item.isstring = true;
    } else {
        item.raw = line;
        item.data = line.substr(p);
        std::string cur = trimright(line);
        while (!cur.empty() && cur.back() == '\\' && *i + 1 < lines.size()) {
            ++*i;
            item.raw += '\n' + lines[*i];
            item.data += '\n' + lines[*i];
            cur = trimright(lines[*i]);
        }
    }
    f->sections.back().items.push_back(item);
    return ERROR_SUCCESS;
}

/* Parses the file's text. Returns ERROR_SUCCESS or ERROR_BADDB. */
LSTATUS parse(const std::string &text, regfile *f) {
    *f = regfile{};
    if (text.size() >= 2 && ((unsigned char)text[0] == 0xFF || (unsigned char)text[0] == 0xFE)) {
        return ERROR_BADDB; /* UTF-16 */
    }
    std::vector<std::string> lines = splitlines(text, &f->crlf);
    size_t i = 0;
    while (i < lines.size() && blank(lines[i], 0)) {
        i++;
    }
    if (i == lines.size()) {
        return ERROR_SUCCESS; /* an empty file is an empty registry */
    }
    f->header = trimright(lines[i]);
    if (f->header != HEADER4 && f->header != HEADER5) {
        return ERROR_BADDB;
    }
    for (i++; i < lines.size(); i++) {
        const std::string &line = lines[i];
        size_t p = skipblanks(line, 0);
        char first = p < line.size() ? line[p] : '\0';
        LSTATUS rc = ERROR_SUCCESS;
        if (first == '\0' || first == ';') {
            if (f->sections.empty()) {
                f->preamble.push_back(line);
            } else {
                f->sections.back().items.push_back(regitem{false, false, false, "", "", line});
            }
        } else if (first == '[') {
            rc = parsesection(line, p, f);
        } else if ((first == '"' || first == '@') && !f->sections.empty()) {
            rc = parsevalue(lines, &i, p, f);
        } else {
            rc = ERROR_BADDB;
        }
        if (rc != ERROR_SUCCESS) {
            return rc;
        }
    }
    return ERROR_SUCCESS;
}

/* ---- values of other types -------------------------------------------------------- */

int hexdigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    c = (char)(c | 0x20);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

/* The comma-separated two-digit hex bytes of s from p on; blanks, line breaks and
 * the continuation backslashes between them are skipped. False when malformed. */
bool hexbytes(const std::string &s, size_t p, std::string *out) {
    auto skip = [&](size_t q) {
        while (q < s.size() && strchr(" \t\r\n\\", s[q]) != nullptr) {
            q++;
        }
        return q;
    };
    out->clear();
    for (p = skip(p); p < s.size(); p = skip(p + 1)) {
        if (p + 1 >= s.size() || hexdigit(s[p]) < 0 || hexdigit(s[p + 1]) < 0) {
            return false;
        }
        out->push_back((char)(hexdigit(s[p]) << 4 | hexdigit(s[p + 1])));
        p = skip(p + 2);
        if (p < s.size() && s[p] != ',') {
            return false;
        }
    }
    return true;
}

/* UTF-16LE to UTF-8, as the A calls give text stored in Unicode. */
std::string fromutf16(const std::string &in) {
    std::string out;
    for (size_t i = 0; i + 1 < in.size(); i += 2) {
        uint32_t c = (uint8_t)in[i] | (uint32_t)(uint8_t)in[i + 1] << 8;
        if (c >= 0xD800 && c < 0xDC00 && i + 3 < in.size()) {
            uint32_t low = (uint8_t)in[i + 2] | (uint32_t)(uint8_t)in[i + 3] << 8;
            if (low >= 0xDC00 && low < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        if (c < 0x80) {
            out += (char)c;
        } else if (c < 0x800) {
            out += (char)(0xC0 | c >> 6);
            out += (char)(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += (char)(0xE0 | c >> 12);
            out += (char)(0x80 | (c >> 6 & 0x3F));
            out += (char)(0x80 | (c & 0x3F));
        } else {
            out += (char)(0xF0 | c >> 18);
            out += (char)(0x80 | (c >> 12 & 0x3F));
            out += (char)(0x80 | (c >> 6 & 0x3F));
            out += (char)(0x80 | (c & 0x3F));
        }
    }
    return out;
}

/* Type and bytes of a value: a string with its terminating zero; "dword:" four
 * bytes; "hex:" REG_BINARY and "hex(N):" type N, their bytes as written. Version 5
 * files hold the text types (expandable and multiple strings) in UTF-16, which is
 * given as UTF-8 here; REGEDIT4 files hold them as ANSI bytes already. False when the
 * value's text is none of these forms. */
bool valuebytes(const regitem &it, bool unicode, DWORD *type, std::string *bytes) {
    if (it.isstring) {
        *type = REG_SZ;
        *bytes = it.data + '\0';
        return true;
    }
    const std::string &d = it.data;
    if (d.compare(0, 6, "dword:") == 0) {
        size_t end = 6;
        while (end < d.size() && end < 14 && hexdigit(d[end]) >= 0) {
            end++;
        }
        if (end == 6 || !blank(d, end)) {
            return false;
        }
        uint32_t v = (uint32_t)strtoul(d.substr(6, end - 6).c_str(), nullptr, 16);
        *type = REG_DWORD;
        bytes->assign(reinterpret_cast<const char *>(&v), 4);
        return true;
    }
    size_t colon;
    if (d.compare(0, 4, "hex:") == 0) {
        *type = REG_BINARY;
        colon = 3;
    } else if (d.compare(0, 4, "hex(") == 0 && (colon = d.find("):")) != std::string::npos &&
               colon > 4 && colon <= 12) {
        char *end = nullptr;
        *type = (DWORD)strtoul(d.c_str() + 4, &end, 16);
        if (end != d.c_str() + colon) {
            return false;
        }
        colon++;
    } else {
        return false;
    }
    if (!hexbytes(d, colon + 1, bytes)) {
        return false;
    }
    if (unicode && (*type == REG_EXPAND_SZ || *type == REG_MULTI_SZ)) {
        *bytes = fromutf16(*bytes);
    }
    return true;
}

/* ---- writing ---------------------------------------------------------------------- */

std::string escaped(const std::string &s) {
    std::string out;
    for (char c : s) {
        if (c == '\\' || c == '"') {
            out += '\\';
        }
        out += c;
    }
    return out;
}

std::string serialise(const regfile &f) {
    const char *eol = f.crlf ? "\r\n" : "\n";
    std::string out = f.header.empty() ? HEADER5 : f.header;
    out += eol;
    for (const std::string &l : f.preamble) {
        out += l;
        out += eol;
    }
    if (f.preamble.empty()) {
        out += eol;
    }
    for (const regsection &s : f.sections) {
        out += '[';
        out += s.path;
        out += ']';
        out += eol;
        for (const regitem &it : s.items) {
            if (it.isstring) {
                if (it.isdefault) {
                    out += '@';
                } else {
                    out += '"';
                    out += escaped(it.name);
                    out += '"';
                }
                out += "=\"";
                out += escaped(it.data);
                out += '"';
            } else {
                /* Continuation lines were joined with '\n'; give them the file's ends. */
                for (char c : it.raw) {
                    if (c == '\n') {
                        out += eol;
                    } else {
                        out += c;
                    }
                }
            }
            out += eol;
        }
    }
    return out;
}

/* ---- file access ------------------------------------------------------------------ */

/* Reads and parses the file; a missing file is an empty registry. */
LSTATUS load(const std::string &path, regfile *f) {
    std::string text;
    int fd = plat_openfile(path.c_str(), O_RDONLY, 0);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            return parse(text, f);
        }
        return errno == EACCES ? ERROR_ACCESS_DENIED : ERROR_CANTOPEN;
    }
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) != 0) {
        if (n < 0 && errno != EINTR) {
            close(fd);
            return ERROR_CANTREAD;
        }
        if (n > 0) {
            text.append(buf, (size_t)n);
        }
    }
    close(fd);
    return parse(text, f);
}

bool dirwritable(const std::string &dir) {
    std::string d = dir;
    struct stat st;
    /* A missing directory will be created in its nearest existing ancestor. */
    while (stat(d.c_str(), &st) != 0) {
        if (errno != ENOENT || d == "/" || d == ".") {
            return false;
        }
        d = dirof(d);
    }
    return S_ISDIR(st.st_mode) && (st.st_mode & 0222) != 0 && access(d.c_str(), W_OK) == 0;
}

/* Whether a change could be written. Mode bits count, not only access(), which
 * says yes to root for a file that is meant to be read-only. */
bool writable(const std::string &path) {
    struct stat st;
    if (stat(path.c_str(), &st) == 0) {
        if ((st.st_mode & 0222) == 0 || access(path.c_str(), W_OK) != 0) {
            return false;
        }
    } else if (errno != ENOENT) {
        return false;
    }
    return dirwritable(dirof(path));
}

bool makedirs(const std::string &dir) {
    struct stat st;
    if (stat(dir.c_str(), &st) == 0) {
        return S_ISDIR(st.st_mode);
    }
    if (dir == "/" || dir == "." || !makedirs(dirof(dir))) {
        return false;
    }
    return mkdir(dir.c_str(), 0755) == 0 || errno == EEXIST;
}

/* Locks the writers of the files in dir out: an exclusive flock on the directory
 * itself. Returns the descriptor that holds it (closing it unlocks), or -1. */
int lockdir(const std::string &dir) {
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    while (flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            close(fd);
            return -1;
        }
    }
    return fd;
}

/* Writes text to a temporary file beside path with path's permissions, syncs it
 * and renames it over path. Returns ERROR_SUCCESS or ERROR_CANTWRITE (path as it
 * was). */
LSTATUS replacefile(const std::string &path, const std::string &text) {
    std::string tmp = path + ".XXXXXX";
    int fd = mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0) {
        return ERROR_CANTWRITE;
    }
    struct stat st;
    fchmod(fd, stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644);
    bool ok = plat_writeall(fd, text.data(), text.size()) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (!ok || rename(tmp.c_str(), path.c_str()) != 0) {
        unlink(tmp.c_str());
        return ERROR_CANTWRITE;
    }
    return ERROR_SUCCESS;
}

/* Applies change to the file under its lock and replaces the file atomically.
 * change returns ERROR_SUCCESS to write, anything else to leave the file as is
 * (ERROR_NO_MORE_ITEMS: nothing to change, success). */
template <typename F>
LSTATUS modify(const std::string &path, F change) {
    std::string dir = dirof(path);
    if (!makedirs(dir)) {
        return ERROR_ACCESS_DENIED;
    }
    int lockfd = lockdir(dir);
    if (lockfd < 0) {
        return ERROR_ACCESS_DENIED;
    }
    regfile f;
    LSTATUS rc = load(path, &f);
    if (rc == ERROR_SUCCESS) {
        rc = change(f);
        if (rc == ERROR_SUCCESS) {
            rc = replacefile(path, serialise(f));
        } else if (rc == ERROR_NO_MORE_ITEMS) {
            rc = ERROR_SUCCESS;
        }
    }
    close(lockfd);
    return rc;
}

/* ---- model queries ---------------------------------------------------------------- */

regsection *findsection(regfile &f, const std::string &key) {
    for (regsection &s : f.sections) {
        if (sameci(s.path, key)) {
            return &s;
        }
    }
    return nullptr;
}

bool keyexists(const regfile &f, const std::string &key) {
    for (const regsection &s : f.sections) {
        if (s.path.size() >= key.size() &&
            strncasecmp(s.path.c_str(), key.c_str(), key.size()) == 0 &&
            (s.path.size() == key.size() || s.path[key.size()] == '\\')) {
            return true;
        }
    }
    return false;
}

regitem *findvalue(regsection &s, const char *name) {
    bool isdefault = name == nullptr || name[0] == '\0';
    for (regitem &it : s.items) {
        if (!it.isvalue) {
            continue;
        }
        if (isdefault ? it.isdefault : (!it.isdefault && sameci(it.name, name))) {
            return &it;
        }
    }
    return nullptr;
}

regsection &addsection(regfile &f, const std::string &key) {
    /* Keep a blank line between sections, as regedit writes them. */
    if (!f.sections.empty()) {
        std::vector<regitem> &items = f.sections.back().items;
        if (items.empty() || items.back().isvalue || !blank(items.back().raw, 0)) {
            items.push_back(regitem{false, false, false, "", "", ""});
        }
    }
    f.sections.push_back(regsection{key, {}});
    return f.sections.back();
}

/* Path and access of an open key or a predefined root. Returns false for
 * anything else. */
bool keyinfo(HKEY hKey, std::string *path, REGSAM *access) {
    for (const rootname &r : roots) {
        if (r.key == hKey) {
            *path = r.name;
            *access = KEY_ALL_ACCESS;
            return true;
        }
    }
    kobject *obj = kernref((HANDLE)hKey, &kregkeytype);
    if (obj == nullptr) {
        return false;
    }
    kregkey *k = reinterpret_cast<kregkey *>(obj);
    *path = k->path;
    *access = k->access;
    kernunref(obj);
    return true;
}

} // namespace

const kobjtype kregkeytype = {
    .name = "registry key",
    .destroy = regkeydestroy,
    .signalled = nullptr,
    .acquire = nullptr,
    .pollms = 0,
};

/* Opens lpSubKey under hKey, creating it (and writing the file) when it does not
 * exist; *lpdwDisposition tells which. The access asked for is kept in the key
 * and checked by the value calls. Class, options and security are not used. Returns
 * ERROR_SUCCESS with *phkResult to close with RegCloseKey, or the error. */
LSTATUS WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass,
                               DWORD dwOptions, REGSAM samDesired,
                               LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                               LPDWORD lpdwDisposition) {
    (void)Reserved;
    (void)lpClass;
    (void)dwOptions;
    (void)lpSecurityAttributes;
    std::string key;
    REGSAM parentaccess;
    if (phkResult == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    if (!keyinfo(hKey, &key, &parentaccess)) {
        return ERROR_INVALID_HANDLE;
    }
    if (lpSubKey != nullptr && lpSubKey[0] != '\0') {
        std::string sub = lpSubKey;
        while (!sub.empty() && sub.back() == '\\') {
            sub.pop_back();
        }
        if (sub.empty() || sub[0] == '\\' || sub.find("\\\\") != std::string::npos ||
            sub.find_first_of("[]\r\n") != std::string::npos) {
            return ERROR_INVALID_PARAMETER;
        }
        key += "\\" + sub;
    }

    std::string path = registrypath();
    regfile f;
    LSTATUS rc = load(path, &f);
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    bool canwrite = writable(path);
    DWORD disposition = REG_OPENED_EXISTING_KEY;
    if (keyexists(f, key)) {
        if ((samDesired & WRITE_ACCESS) != 0 && !canwrite) {
            return ERROR_ACCESS_DENIED;
        }
    } else {
        if (!canwrite) {
            return ERROR_ACCESS_DENIED;
        }
        rc = modify(path, [&](regfile &cur) -> LSTATUS {
            if (keyexists(cur, key)) {
                return ERROR_NO_MORE_ITEMS; /* another writer was first */
            }
            addsection(cur, key);
            disposition = REG_CREATED_NEW_KEY;
            return ERROR_SUCCESS;
        });
        if (rc != ERROR_SUCCESS) {
            return rc;
        }
    }

    kregkey *k = new (std::nothrow) kregkey{};
    if (k == nullptr) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    kerninit(&k->hdr, &kregkeytype);
    k->path = key;
    k->access = samDesired;
    HANDLE h = kernhandle(&k->hdr);
    if (h == nullptr) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    *phkResult = (HKEY)h;
    if (lpdwDisposition != nullptr) {
        *lpdwDisposition = disposition;
    }
    return ERROR_SUCCESS;
}

/* Reads a value of any type (lpValueName null or "" is the default value) with its
 * type (see valuebytes). Sizes count a string's terminating zero. lpData null: only
 * type and size. Buffer too small: ERROR_MORE_DATA with the size needed, the buffer
 * untouched. No such value: ERROR_FILE_NOT_FOUND; a value line that is none of the
 * known forms: ERROR_INVALID_DATA. */
LSTATUS WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                                LPBYTE lpData, LPDWORD lpcbData) {
    std::string key;
    REGSAM access;
    if (!keyinfo(hKey, &key, &access)) {
        return ERROR_INVALID_HANDLE;
    }
    if (lpReserved != nullptr || (lpData != nullptr && lpcbData == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    if ((access & KEY_QUERY_VALUE) == 0) {
        return ERROR_ACCESS_DENIED;
    }
    regfile f;
    LSTATUS rc = load(registrypath(), &f);
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    regsection *s = findsection(f, key);
    regitem *it = s != nullptr ? findvalue(*s, lpValueName) : nullptr;
    if (it == nullptr) {
        return ERROR_FILE_NOT_FOUND;
    }
    DWORD type = REG_NONE;
    std::string bytes;
    if (!valuebytes(*it, f.header == HEADER5, &type, &bytes)) {
        return ERROR_INVALID_DATA;
    }
    DWORD size = (DWORD)bytes.size();
    if (lpType != nullptr) {
        *lpType = type;
    }
    if (lpData == nullptr) {
        if (lpcbData != nullptr) {
            *lpcbData = size;
        }
        return ERROR_SUCCESS;
    }
    if (*lpcbData < size) {
        *lpcbData = size;
        return ERROR_MORE_DATA;
    }
    memcpy(lpData, bytes.data(), size);
    *lpcbData = size;
    return ERROR_SUCCESS;
}

/* Sets a string value (REG_SZ only; the text ends at the first zero within
 * cbData bytes and may not hold line breaks). Needs KEY_SET_VALUE on the key and a
 * writable file. Returns ERROR_SUCCESS or the error. */
LSTATUS WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                              const BYTE *lpData, DWORD cbData) {
    (void)Reserved;
    std::string key;
    REGSAM access;
    if (!keyinfo(hKey, &key, &access)) {
        return ERROR_INVALID_HANDLE;
    }
    if (dwType != REG_SZ || (lpData == nullptr && cbData != 0)) {
        return ERROR_INVALID_PARAMETER;
    }
    if ((access & KEY_SET_VALUE) == 0) {
        return ERROR_ACCESS_DENIED;
    }
    std::string data;
    for (DWORD i = 0; i < cbData && lpData[i] != 0; i++) {
        data += (char)lpData[i];
    }
    std::string name = lpValueName != nullptr ? lpValueName : "";
    if (data.find_first_of("\r\n") != std::string::npos ||
        name.find_first_of("\r\n") != std::string::npos) {
        return ERROR_INVALID_PARAMETER;
    }
    std::string path = registrypath();
    if (!writable(path)) {
        return ERROR_ACCESS_DENIED;
    }
    return modify(path, [&](regfile &f) -> LSTATUS {
        regsection *s = findsection(f, key);
        if (s == nullptr) {
            s = &addsection(f, key);
        }
        regitem item{true, true, name.empty(), name, data, ""};
        if (regitem *old = findvalue(*s, name.c_str())) {
            *old = item;
            return ERROR_SUCCESS;
        }
        /* After the last value, before trailing blank lines and comments. */
        size_t at = s->items.size();
        while (at > 0 && !s->items[at - 1].isvalue) {
            at--;
        }
        s->items.insert(s->items.begin() + (long)at, item);
        return ERROR_SUCCESS;
    });
}

/* Closes a key from RegCreateKeyExA; the predefined roots need no closing. */
LSTATUS WINAPI RegCloseKey(HKEY hKey) {
    for (const rootname &r : roots) {
        if (r.key == hKey) {
            return ERROR_SUCCESS;
        }
    }
    return kernclose((HANDLE)hKey, &kregkeytype) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

/* Every change is already on disk (synced before the rename); this only checks
 * the handle. */
LSTATUS WINAPI RegFlushKey(HKEY hKey) {
    std::string key;
    REGSAM access;
    return keyinfo(hKey, &key, &access) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}
