/*
 * kernel_files_test.cpp - Windows file names and modes, the current directory, the
 * executable's module, and virtual memory.
 */
#include "kernel_testutil.h"
#include "plat/stdio.h"

#include <cstring>
#ifndef _WIN32
#include <sys/stat.h>
#endif

using KernelFiles = kt::ScratchDir;

TEST_F(KernelFiles, FopenAndCurrentDirectoryTakeWindowsNames) {
    ASSERT_TRUE(std::filesystem::create_directory("options"));
    FILE *f = fopen("options\\options.txt", "wt");
    ASSERT_NE(f, nullptr);
    fputs("line\n", f);
    fclose(f);
#ifdef _WIN32
    /* The Windows runtime writes text lines with CR LF, and reads them back (text modes,
     * and "r" without "b") as LF; here a line ends in LF either way. */
    EXPECT_EQ(kt::readfile(dir + "/options/options.txt"), "line\r\n");
    const std::string binaryline = "line\r\n";
#else
    EXPECT_EQ(kt::readfile(dir + "/options/options.txt"), "line\n");
    const std::string binaryline = "line\n";
#endif

    static const char *const modes[] = {"rt", "rb", "r", "r+t", "rt+"};
    for (const char *mode : modes) {
        f = fopen(".\\options\\options.txt", mode);
        ASSERT_NE(f, nullptr) << mode;
        char buf[16] = {};
        EXPECT_NE(fgets(buf, sizeof buf, f), nullptr);
        EXPECT_EQ(buf, std::string(mode) == "rb" ? binaryline : "line\n") << mode;
        fclose(f);
    }
    f = fopen("options\\ft.dat", "wb");
    ASSERT_NE(f, nullptr);
    uint32_t one = 1;
    EXPECT_EQ(fwrite(&one, 4, 1, f), 1u);
    fclose(f);
    EXPECT_EQ(kt::readfile("options/ft.dat"), std::string("\1\0\0\0", 4));

    EXPECT_EQ(fopen("options\\missing.dat", "rb"), nullptr);
    EXPECT_EQ(fopen("nodir\\x.dat", "wb"), nullptr);

    /* Only a regular file opens, as on Windows: a directory or a FIFO (which would wait
     * for a writer) fails at once. */
#ifdef _WIN32
    for (const char *name : {"options"}) {
#else
    ASSERT_EQ(mkfifo("options/pipe", 0644), 0);
    for (const char *name : {"options", "options\\pipe"}) {
#endif
        for (const char *mode : {"rb", "rt", "r+b", "wb", "ab"}) {
            EXPECT_EQ(fopen(name, mode), nullptr) << name << " " << mode;
        }
    }

    std::filesystem::create_directories(dir + "/inst/sub");
    EXPECT_TRUE(SetCurrentDirectoryA("inst\\sub\\"));
    char buf[4096];
    DWORD n = GetCurrentDirectoryA(sizeof buf, buf);
    EXPECT_EQ(std::string(buf), kt::native(dir + "/inst/sub"));
    EXPECT_EQ(n, strlen(buf));

    char small[4] = "abc";
    EXPECT_EQ(GetCurrentDirectoryA(sizeof small, small), n + 1);
    EXPECT_STREQ(small, "abc");

    EXPECT_FALSE(SetCurrentDirectoryA(""));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_NAME);
    EXPECT_FALSE(SetCurrentDirectoryA("no\\such\\dir"));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_PATH_NOT_FOUND);
    GetCurrentDirectoryA(sizeof buf, buf);
    EXPECT_EQ(std::string(buf), kt::native(dir + "/inst/sub")) << "a failed change leaves it";
}

TEST(KernelModule, ExecutableIsTheOneModuleMemoryReserveCommitRelease) {
    char exe[4096];
#ifdef _WIN32
    DWORD len = sizeof exe;
    ASSERT_TRUE(QueryFullProcessImageNameA(GetCurrentProcess(), 0, exe, &len));
    const char separator = '\\';
#else
    ssize_t len = readlink("/proc/self/exe", exe, sizeof exe - 1);
    ASSERT_GT(len, 0);
    exe[len] = '\0';
    const char separator = '/';
#endif

    char buf[4096];
    EXPECT_EQ(GetModuleFileNameA(nullptr, buf, sizeof buf), (DWORD)len);
    EXPECT_STREQ(buf, exe);
    char small[8];
    EXPECT_EQ(GetModuleFileNameA(nullptr, small, sizeof small), (DWORD)sizeof small);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
#ifdef _WIN32
    /* Wine fills all 8 bytes and leaves the name unterminated (as Windows XP did); later
     * Windows versions and the POSIX layer end it within the buffer. */
    EXPECT_EQ(std::string(small, 7), std::string(exe, 7));
#else
    EXPECT_EQ(std::string(small), std::string(exe, 7));
#endif

    HMODULE self = GetModuleHandleA(nullptr);
    ASSERT_NE(self, nullptr);
    EXPECT_EQ(GetModuleHandleA(strrchr(exe, separator) + 1), self);
    EXPECT_EQ(GetModuleFileNameA(self, buf, sizeof buf), (DWORD)len);
#ifndef _WIN32
    /* Windows has the system's libraries loaded in every program (this one links user32);
     * the POSIX layer has no modules besides the program. */
    EXPECT_EQ(GetModuleHandleA("user32.dll"), nullptr);
#endif

    SYSTEM_INFO si;
    GetSystemInfo(&si);
#ifndef _WIN32
    EXPECT_EQ(si.dwPageSize, (DWORD)sysconf(_SC_PAGESIZE));
#endif

    const SIZE_T size = 1 << 20;
    unsigned char *p =
        (unsigned char *)VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ((uintptr_t)p % 65536, 0u); /* zeroed and writable: the page allocator's suite */
    EXPECT_FALSE(VirtualFree(p + 4096, 0, MEM_RELEASE)) << "only the base releases";
    EXPECT_FALSE(VirtualFree(p, size, MEM_RELEASE)) << "release takes size 0";
    EXPECT_TRUE(VirtualFree(p, 0, MEM_RELEASE));
    EXPECT_FALSE(VirtualFree(p, 0, MEM_RELEASE));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);

    /* Reserve, commit a page in the middle, decommit: it reads zero again. */
    unsigned char *r = (unsigned char *)VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS);
    ASSERT_NE(r, nullptr);
    unsigned char *page = r + 3 * si.dwPageSize + 10;
    unsigned char *c = (unsigned char *)VirtualAlloc(page, 100, MEM_COMMIT, PAGE_READWRITE);
    EXPECT_EQ(c, r + 3 * si.dwPageSize);
    page[0] = 7;
    EXPECT_TRUE(VirtualFree(c, si.dwPageSize, MEM_DECOMMIT));
    ASSERT_EQ(VirtualAlloc(c, si.dwPageSize, MEM_COMMIT, PAGE_READWRITE), c);
    EXPECT_EQ(page[0], 0);
    EXPECT_EQ(VirtualAlloc(r + size, 10, MEM_COMMIT, PAGE_READWRITE), nullptr);
    EXPECT_TRUE(VirtualFree(r, 0, MEM_RELEASE));

    EXPECT_EQ(VirtualAlloc(nullptr, 0, MEM_COMMIT, PAGE_READWRITE), nullptr);
#ifndef _WIN32
    /* Windows grants executable memory; the POSIX layer refuses it (no caller needs it). */
    EXPECT_EQ(VirtualAlloc(nullptr, 10, MEM_COMMIT, 0x40 /* executable */), nullptr);
#endif
}
