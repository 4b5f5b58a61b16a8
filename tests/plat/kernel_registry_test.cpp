/*
 * kernel_registry_test.cpp - the registry file: keys and string values, the file
 * format as regedit writes it, access rights, damaged files, concurrent writers.
 */
#include "kernel_testutil.h"

#include <cstring>
#include <sys/stat.h>
#include <vector>

/* On Windows the cases that test the calls run against the system's registry (under
 * Wine, the prefix's); the ones about our registry file are POSIX only. */

namespace {

const char KEY[] = "Software\\Vornholt\\Brambleshot Demo";

/* The registry file lives in a directory that does not exist yet. */
class KernelRegistry : public kt::ScratchDir {
  protected:
    void SetUp() override {
        kt::ScratchDir::SetUp();
#ifdef _WIN32
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\Vornholt");
#else
        file = dir + "/conf/reg/registry.reg";
        setenv("THISTLE_REGISTRY", file.c_str(), 1);
#endif
    }
#ifdef _WIN32
    void TearDown() override {
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\Vornholt");
        kt::ScratchDir::TearDown();
    }
#endif
    std::string file;
};

LSTATUS openkey(const char *sub, REGSAM access, HKEY *h, DWORD *disposition = nullptr) {
    DWORD d = 0;
    LSTATUS rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, sub, 0, (LPSTR) "", 0, access, nullptr, h, &d);
    if (disposition != nullptr) {
        *disposition = d;
    }
    return rc;
}

LSTATUS setstring(HKEY h, const char *name, const std::string &value) {
    return RegSetValueExA(h, name, 0, REG_SZ, (const BYTE *)value.c_str(), (DWORD)value.size() + 1);
}

/* A value's type and bytes as "<type>:<bytes>", or "<error N>". */
std::string value(HKEY h, const char *name) {
    char buf[256];
    DWORD size = sizeof buf;
    DWORD type = 0;
    LSTATUS rc = RegQueryValueExA(h, name, nullptr, &type, (LPBYTE)buf, &size);
    return rc != ERROR_SUCCESS ? "<error " + std::to_string(rc) + ">"
                               : std::to_string(type) + ":" + std::string(buf, size);
}

/* The value under HKLM\sub, or "<no key>". */
[[maybe_unused]] std::string readvalue(const char *sub, const char *name) {
    HKEY h;
    if (openkey(sub, KEY_READ, &h) != ERROR_SUCCESS) {
        return "<no key>";
    }
    std::string v = value(h, name);
    RegCloseKey(h);
    return v;
}

/* A string value as value() gives it. */
std::string sz(const std::string &text) {
    return "1:" + text + std::string(1, '\0');
}

} // namespace

TEST_F(KernelRegistry, MissingKeyIsCreatedThenOpened) {
    HKEY h;
    DWORD disp;
    ASSERT_EQ(openkey(KEY, KEY_ALL_ACCESS, &h, &disp), ERROR_SUCCESS);
    EXPECT_EQ(disp, (DWORD)REG_CREATED_NEW_KEY);
#ifndef _WIN32
    EXPECT_TRUE(kt::exists(file));
#endif
    EXPECT_EQ(value(h, "Path"), "<error 2>");
    ASSERT_EQ(setstring(h, "Path", "C:\\Games\\Say \"hi\"\\"), ERROR_SUCCESS);
    EXPECT_EQ(RegFlushKey(h), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(h), ERROR_SUCCESS);

    /* Key and value names are matched without regard to case. */
    ASSERT_EQ(openkey("SOFTWARE\\vornholt\\BRAMBLESHOT DEMO", KEY_ALL_ACCESS, &h, &disp),
              ERROR_SUCCESS);
    EXPECT_EQ(disp, (DWORD)REG_OPENED_EXISTING_KEY);
    EXPECT_EQ(value(h, "path"), sz("C:\\Games\\Say \"hi\"\\"));
    EXPECT_EQ(RegCloseKey(h), ERROR_SUCCESS);

#ifndef _WIN32
    std::string text = kt::readfile(file);
    EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\Software\\Vornholt\\Brambleshot Demo]\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\"Path\"=\"C:\\\\Games\\\\Say \\\"hi\\\"\\\\\"\n"), std::string::npos)
        << text;
#endif
    /* A parent of an existing key exists too. */
    ASSERT_EQ(openkey("Software\\Vornholt", KEY_READ, &h, &disp), ERROR_SUCCESS);
    EXPECT_EQ(disp, (DWORD)REG_OPENED_EXISTING_KEY);
#ifndef _WIN32
    /* (A Windows key handle is a kernel handle that CloseHandle takes too.) */
    EXPECT_FALSE(CloseHandle((HANDLE)h)) << "keys are closed with RegCloseKey";
#endif
    EXPECT_EQ(RegCloseKey(h), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(h), ERROR_INVALID_HANDLE);
    EXPECT_EQ(setstring(h, "Path", "x"), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
}

#ifndef _WIN32
TEST_F(KernelRegistry, ReadsRegeditExportsAndKeepsWhatItDoesNotUse) {
    static const struct {
        const char *header;
        const char *eol;
    } forms[] = {{"REGEDIT4", "\n"},
                 {"REGEDIT4", "\r\n"},
                 {"Windows Registry Editor Version 5.00", "\n"},
                 {"Windows Registry Editor Version 5.00", "\r\n"}};
    for (const auto &f : forms) {
        std::string e = f.eol;
        /* Expandable strings are exported in UTF-16 by version 5, in ANSI by REGEDIT4. */
        bool v5 = f.header[0] == 'W';
        std::string text =
            std::string(f.header) + e + e + "; exported" + e +
            "[HKEY_LOCAL_MACHINE\\Software\\Vornholt\\Brambleshot Demo]" + e +
            "\"Path\"=\"D:\\\\Demo\\\\\"" + e + "@=\"the \\\"default\\\"\"" + e +
            "\"Count\"=dword:0000f002" + e + "\"Blob\"=hex:01,02,\\" + e + "  03,04" + e +
            "\"Exp\"=hex(2):" +
            (v5 ? "25,00,41,00,c9,00,00,d8,00,dc,ff,db,ff,df,00,00" : "25,41,c9,00") + e +
            "\"Odd\"=hex(2):41,00,42" + e + "\"Bad\"=hex:1" + e + e + "[HKEY_CURRENT_USER\\Other]" +
            e + "\"Path\"=\"elsewhere\"" + e;
        std::filesystem::create_directories(dir + "/conf/reg");
        kt::writefile(file, text);
        SCOPED_TRACE(std::string(f.header) + (e.size() == 2 ? " CRLF" : " LF"));

        EXPECT_EQ(readvalue(KEY, "Path"), sz("D:\\Demo\\"));
        EXPECT_EQ(readvalue(KEY, nullptr), sz("the \"default\""));
        EXPECT_EQ(readvalue(KEY, ""), sz("the \"default\""));
        /* Other types read as their bytes. */
        EXPECT_EQ(readvalue(KEY, "Count"), std::string("4:\x02\xf0\0\0", 6));
        EXPECT_EQ(readvalue(KEY, "Blob"), "3:\x01\x02\x03\x04");
        EXPECT_EQ(readvalue(KEY, "Exp"),
                  v5 ? std::string("2:%A\xc3\x89\xf0\x90\x80\x80\xf4\x8f\xbf\xbf\0", 15)
                     : std::string("2:%A\xc9\0", 6));
        /* A last odd byte of UTF-16 text is no character. */
        EXPECT_EQ(readvalue(KEY, "Odd"), v5 ? "2:A" : std::string("2:A\0B", 5));
        EXPECT_EQ(readvalue(KEY, "Bad"), "<error 13>");
        HKEY h;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Other", 0, nullptr, 0, KEY_READ, nullptr, &h,
                                  nullptr),
                  ERROR_SUCCESS);
        EXPECT_EQ(value(h, "Path"), sz("elsewhere"));
        RegCloseKey(h);

        /* A rewrite keeps header, line ends, comments and other value types. */
        ASSERT_EQ(openkey(KEY, KEY_ALL_ACCESS, &h), ERROR_SUCCESS);
        ASSERT_EQ(setstring(h, "New", "n"), ERROR_SUCCESS);
        RegCloseKey(h);
        std::string after = kt::readfile(file);
        std::string expected = text;
        expected.insert(expected.find("hex:1") + 5 + e.size(), "\"New\"=\"n\"" + e);
        EXPECT_EQ(after, expected);
    }
}

#endif

TEST_F(KernelRegistry, QuerySizesFollowWin32Rules) {
    HKEY h;
    ASSERT_EQ(openkey(KEY, KEY_ALL_ACCESS, &h), ERROR_SUCCESS);
    ASSERT_EQ(setstring(h, "Path", "abcdef"), ERROR_SUCCESS);

    DWORD type = 0;
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(h, "Path", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 7u);
    EXPECT_EQ(type, (DWORD)REG_SZ);

    char buf[16];
    memset(buf, '#', sizeof buf);
    size = 6;
    EXPECT_EQ(RegQueryValueExA(h, "Path", nullptr, &type, (LPBYTE)buf, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 7u);
    EXPECT_EQ(buf[0], '#') << "a short buffer is left alone";

    size = 7;
    EXPECT_EQ(RegQueryValueExA(h, "Path", nullptr, nullptr, (LPBYTE)buf, &size), ERROR_SUCCESS);
    EXPECT_STREQ(buf, "abcdef");

    size = sizeof buf;
    EXPECT_EQ(RegQueryValueExA(h, "Missing", nullptr, &type, (LPBYTE)buf, &size),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegQueryValueExA(h, "Path", nullptr, &type, (LPBYTE)buf, nullptr),
              ERROR_INVALID_PARAMETER);

    /* Windows keeps a string's bytes as given: zeros inside, no terminating zero (which
     * is why readers must not count on one), line feeds. The registry file holds a string
     * as one quoted text: the value ends at the first zero within the given size, gets its
     * terminating zero, and takes no line feed. */
#ifdef _WIN32
    const bool quoted = false;
#else
    const bool quoted = true;
#endif
    ASSERT_EQ(RegSetValueExA(h, "Cut", 0, REG_SZ, (const BYTE *)"ab\0cd", 6), ERROR_SUCCESS);
    EXPECT_EQ(value(h, "Cut"), quoted ? sz("ab") : std::string("1:ab\0cd\0", 8));
    ASSERT_EQ(RegSetValueExA(h, "Two", 0, REG_SZ, (const BYTE *)"abcd", 2), ERROR_SUCCESS);
    EXPECT_EQ(value(h, "Two"), quoted ? sz("ab") : "1:ab");
    EXPECT_EQ(RegSetValueExA(h, "Bad", 0, REG_SZ, (const BYTE *)"a\nb", 4),
              quoted ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS);
    RegCloseKey(h);
}

#ifndef _WIN32
TEST_F(KernelRegistry, AccessAskedForAndFileRightsAreEnforced) {
    HKEY h;
    ASSERT_EQ(openkey(KEY, KEY_ALL_ACCESS, &h), ERROR_SUCCESS);
    ASSERT_EQ(chmod(file.c_str(), 0640), 0);
    ASSERT_EQ(setstring(h, "Path", "x"), ERROR_SUCCESS);
    RegCloseKey(h);
    struct stat st;
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u) << "a rewrite keeps the file's permissions";

    ASSERT_EQ(openkey(KEY, KEY_READ, &h), ERROR_SUCCESS);
    EXPECT_EQ(setstring(h, "Path", "y"), ERROR_ACCESS_DENIED);
    RegCloseKey(h);
    ASSERT_EQ(openkey(KEY, KEY_SET_VALUE, &h), ERROR_SUCCESS);
    char buf[8];
    DWORD size = sizeof buf;
    EXPECT_EQ(RegQueryValueExA(h, "Path", nullptr, nullptr, (LPBYTE)buf, &size),
              ERROR_ACCESS_DENIED);
    RegCloseKey(h);

    /* A file without write permission can be read only, by root too. */
    ASSERT_EQ(chmod(file.c_str(), 0444), 0);
    std::string before = kt::readfile(file);
    EXPECT_EQ(readvalue(KEY, "Path"), sz("x"));
    EXPECT_EQ(openkey(KEY, KEY_ALL_ACCESS, &h), ERROR_ACCESS_DENIED);
    EXPECT_EQ(openkey("Software\\Missing", KEY_READ, &h), ERROR_ACCESS_DENIED);
    EXPECT_EQ(kt::readfile(file), before);
}

TEST_F(KernelRegistry, DamagedFileIsAnErrorNotACrash) {
    static const char *const damaged[] = {
        "not a registry file\n",
        "REGEDIT4\n\"Path\"=\"value before any key\"\n",
        "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\n",
        "REGEDIT4\n[HKEY_NOWHERE\\Software]\n",
        "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software]\n\"Path\"=\"unterminated\n",
        "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software]\n\"Path\"\"no equals\"\n",
        "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software]\n\"Path\"=\"x\" trailing\n",
        "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software]\ngarbage line\n",
        "REGEDIT4\n[]\n",
        "\xFF\xFEW\0i\0n\0",
    };
    HKEY open;
    ASSERT_EQ(openkey("Software", KEY_ALL_ACCESS, &open), ERROR_SUCCESS);
    for (const char *text : damaged) {
        kt::writefile(file, text);
        HKEY h;
        EXPECT_EQ(openkey("Software", KEY_ALL_ACCESS, &h), ERROR_BADDB) << text;
        EXPECT_EQ(openkey("Software\\New", KEY_ALL_ACCESS, &h), ERROR_BADDB) << text;
        char buf[8];
        DWORD size = sizeof buf;
        EXPECT_EQ(RegQueryValueExA(open, "Path", nullptr, nullptr, (LPBYTE)buf, &size), ERROR_BADDB)
            << text;
        EXPECT_EQ(setstring(open, "Path", "x"), ERROR_BADDB) << text;
        EXPECT_EQ(kt::readfile(file), text) << "a damaged file is never rewritten";
    }
    RegCloseKey(open);
}

TEST_F(KernelRegistry, DefaultFileFollowsXdgThenHome) {
    unsetenv("THISTLE_REGISTRY");
    setenv("XDG_CONFIG_HOME", (dir + "/xdg").c_str(), 1);
    setenv("HOME", (dir + "/home").c_str(), 1);
    for (const char *made :
         {"/xdg/thistlerun/registry.reg", "/home/.config/thistlerun/registry.reg"}) {
        HKEY h;
        ASSERT_EQ(openkey("Software\\A", KEY_READ, &h), ERROR_SUCCESS);
        RegCloseKey(h);
        EXPECT_TRUE(kt::exists(dir + made));
        unsetenv("XDG_CONFIG_HOME");
    }
}

TEST_F(KernelRegistry, ConcurrentWritersLoseNothing) {
    const int writers = 6;
    const int keys = 5;
    std::vector<PROCESS_INFORMATION> pis(writers);
    for (int i = 0; i < writers; i++) {
        std::string args =
            "regwrite Software\\T\\W" + std::to_string(i) + "_ " + std::to_string(keys);
        ASSERT_TRUE(kt::startchild(args, &pis[(size_t)i]));
    }
    for (PROCESS_INFORMATION &pi : pis) {
        EXPECT_EQ(kt::waitexit(pi.hProcess), 0u);
        kt::closeinfo(&pi);
    }
    for (int i = 0; i < writers; i++) {
        for (int k = 0; k < keys; k++) {
            std::string key = "Software\\T\\W" + std::to_string(i) + "_" + std::to_string(k);
            EXPECT_EQ(readvalue(key.c_str(), "Value"), sz(std::to_string(k))) << key;
        }
    }
    /* The lock leaves nothing behind, nor do the temporary files. */
    std::vector<std::string> left;
    for (const auto &entry : std::filesystem::directory_iterator(dir + "/conf/reg")) {
        left.push_back(entry.path().filename());
    }
    EXPECT_EQ(left, std::vector<std::string>{"registry.reg"});
}
#endif
