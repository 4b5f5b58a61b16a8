/*
 * kernel_mutex_test.cpp - named mutexes across processes: existence, release when
 * the holder dies, no inheritance by children, session isolation.
 */
#include "kernel_testutil.h"

#include <csignal>

namespace {

/* Each test gets its own session so parallel runs never meet. */
class KernelMutex : public kt::ScratchDir {
  protected:
    void SetUp() override {
        kt::ScratchDir::SetUp();
        session = "kt" + std::to_string(getpid());
        setenv("THISTLE_SESSION", session.c_str(), 1);
    }
    std::string session;
};

/* Creates the mutex; returns its handle and stores the last error. */
HANDLE create(const char *name, DWORD *error) {
    SetLastError(0xdead);
    HANDLE h = CreateMutexA(nullptr, FALSE, name);
    *error = GetLastError();
    return h;
}

} // namespace

TEST_F(KernelMutex, SecondCreateInTheProcessSeesTheFirst) {
    DWORD err;
    HANDLE a = create("ZRN", &err);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(err, 0u);
    HANDLE b = create("ZRN", &err);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(err, (DWORD)ERROR_ALREADY_EXISTS);
    EXPECT_NE(a, b);
    /* The name lives while any handle of this process is open. */
    EXPECT_TRUE(CloseHandle(a));
    HANDLE c = create("ZRN", &err);
    EXPECT_EQ(err, (DWORD)ERROR_ALREADY_EXISTS);
    EXPECT_TRUE(CloseHandle(c));
    EXPECT_TRUE(CloseHandle(b));
    HANDLE d = create("ZRN", &err);
    EXPECT_EQ(err, 0u);
    EXPECT_TRUE(CloseHandle(d));

    /* Unnamed mutexes are independent objects. */
    HANDLE u1 = create(nullptr, &err);
    EXPECT_EQ(err, 0u);
    HANDLE u2 = create(nullptr, &err);
    EXPECT_EQ(err, 0u);
    EXPECT_TRUE(CloseHandle(u1));
    EXPECT_TRUE(CloseHandle(u2));
}

TEST_F(KernelMutex, AnotherProcessSeesTheNameInItsSessionOnly) {
    std::string longa(300, 'x');
    std::string longb = longa;
    longb.back() = 'y';
    DWORD err;
    HANDLE h = create("ZRN", &err);
    ASSERT_EQ(err, 0u);
    HANDLE hl = create(longa.c_str(), &err);
    ASSERT_EQ(err, 0u);
    EXPECT_EQ(kt::runchild("mutex ZRN"), (DWORD)ERROR_ALREADY_EXISTS);
    EXPECT_EQ(kt::runchild("mutex other"), 0u);
    EXPECT_EQ(kt::runchild("mutex " + longa), (DWORD)ERROR_ALREADY_EXISTS);
    EXPECT_EQ(kt::runchild("mutex " + longb), 0u) << "long names that differ at the end";
    setenv("THISTLE_SESSION", (session + "b").c_str(), 1);
    EXPECT_EQ(kt::runchild("mutex ZRN"), 0u);
    setenv("THISTLE_SESSION", session.c_str(), 1);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_TRUE(CloseHandle(hl));
    EXPECT_EQ(kt::runchild("mutex ZRN"), 0u);
}

TEST_F(KernelMutex, KilledHolderReleasesTheName) {
    PROCESS_INFORMATION pi;
    ASSERT_TRUE(kt::startchild("holdmutex ZRN " + dir + "/ready", &pi));
    ASSERT_TRUE(kt::waitfile(dir + "/ready"));
    DWORD err;
    HANDLE h = create("ZRN", &err);
    ASSERT_NE(h, nullptr) << "a handle is given even when the name exists";
    EXPECT_EQ(err, (DWORD)ERROR_ALREADY_EXISTS);
    EXPECT_TRUE(CloseHandle(h));

    ASSERT_EQ(kill((pid_t)pi.dwProcessId, SIGKILL), 0);
    EXPECT_EQ(kt::waitexit(pi.hProcess), 128u + SIGKILL);
    kt::closeinfo(&pi);
    h = create("ZRN", &err);
    EXPECT_EQ(err, 0u);
    EXPECT_TRUE(CloseHandle(h));
}

TEST_F(KernelMutex, ChildrenDoNotKeepTheName) {
    DWORD err;
    HANDLE h = create("ZRN", &err);
    ASSERT_EQ(err, 0u);
    PROCESS_INFORMATION pi;
    ASSERT_TRUE(kt::startchild("sleep 5000", &pi));
    EXPECT_TRUE(CloseHandle(h));
    h = create("ZRN", &err);
    EXPECT_EQ(err, 0u) << "the running child holds the launcher's name";
    EXPECT_TRUE(CloseHandle(h));
    kill((pid_t)pi.dwProcessId, SIGKILL);
    kt::waitexit(pi.hProcess);
    kt::closeinfo(&pi);
}
