/*
 * kernel_system_test.cpp - environment variables and named mutexes
 * across processes: existence, no inheritance by children, session isolation, and
 * their request channel.
 */
#include "kernel_testutil.h"
#include "plat/stdlib.h"
#include "plat/testhooks.h"

#include <csignal>
#include <sched.h>

namespace {

/* Each test gets its own session so parallel runs never meet. */
class KernelSystem : public kt::ScratchDir {
  protected:
    void SetUp() override {
        kt::ScratchDir::SetUp();
        session = "ks" + std::to_string(getpid());
        setenv("THISTLE_SESSION", session.c_str(), 1);
    }
    std::string session;
};

using KernelMutex = KernelSystem;
using steady = std::chrono::steady_clock;

/* Creates the mutex; returns its handle and stores the last error. */
HANDLE create(const char *name, DWORD *error) {
    SetLastError(0xdead);
    HANDLE h = CreateMutexA(nullptr, FALSE, name);
    *error = GetLastError();
    return h;
}

TEST_F(KernelSystem, EnvironmentCallsFollowWin32AndReachChildren) {
    const char *name = "THISTLE_KT_VAR";
    auto childsees = [&] {
        kt::runchild(std::string("getenv ") + name + " " + dir + "/env.txt");
        return kt::readfile(dir + "/env.txt");
    };
    char buf[16];
    memset(buf, 'x', sizeof buf);
    EXPECT_EQ(GetEnvironmentVariableA(name, buf, sizeof buf), 0u);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ENVVAR_NOT_FOUND);

    EXPECT_TRUE(SetEnvironmentVariableA(name, "bramble"));
    EXPECT_EQ(GetEnvironmentVariableA(name, buf, 8), 7u);
    EXPECT_STREQ(buf, "bramble");
    memset(buf, 'x', sizeof buf);
    EXPECT_EQ(GetEnvironmentVariableA(name, buf, 7), 8u) << "size needed, with the NUL";
    EXPECT_EQ(buf[0], 'x') << "buffer untouched";
    EXPECT_EQ(childsees(), "bramble");
    EXPECT_TRUE(SetEnvironmentVariableA(name, nullptr));
    EXPECT_EQ(getenv(name), nullptr);
    EXPECT_FALSE(SetEnvironmentVariableA("A=B", "c"));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(SetEnvironmentVariableA("", "c"));

    /* _putenv copies: the caller's buffer may change or go away afterwards. */
    char entry[64];
    snprintf(entry, sizeof entry, "%s=%s", name, "shot");
    EXPECT_EQ(_putenv(entry), 0);
    memset(entry, 0, sizeof entry);
    EXPECT_EQ(childsees(), "shot");
    EXPECT_EQ(_putenv((std::string(name) + "=").c_str()), 0);
    EXPECT_EQ(childsees(), "<unset>");
    EXPECT_EQ(_putenv("no equals sign"), -1);
    EXPECT_EQ(_putenv("=value"), -1);
}

TEST_F(KernelMutex, NamesAreOneObjectInTheProcessAndSeenInTheSessionOnly) {
    std::string longa(300, 'x');
    std::string longb = longa;
    longb.back() = 'y';
    DWORD err;
    HANDLE a = create("ZRN", &err);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(err, 0u);
    HANDLE b = create("ZRN", &err);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(err, (DWORD)ERROR_ALREADY_EXISTS);
    EXPECT_NE(a, b);
    HANDLE hl = create(longa.c_str(), &err);
    ASSERT_EQ(err, 0u);
    EXPECT_EQ(kt::runchild("mutex ZRN"), (DWORD)ERROR_ALREADY_EXISTS);
    EXPECT_EQ(kt::runchild("mutex " + longa), (DWORD)ERROR_ALREADY_EXISTS);
    EXPECT_EQ(kt::runchild("mutex " + longb), 0u) << "long names that differ at the end";
    setenv("THISTLE_SESSION", (session + "b").c_str(), 1);
    EXPECT_EQ(kt::runchild("mutex ZRN"), 0u);
    setenv("THISTLE_SESSION", session.c_str(), 1);

    /* The name lives while any handle of this process is open; a child started while it
     * is held does not keep it. */
    PROCESS_INFORMATION pi;
    ASSERT_TRUE(kt::startchild("sleep 5000", &pi));
    EXPECT_TRUE(CloseHandle(a));
    HANDLE c = create("ZRN", &err);
    EXPECT_EQ(err, (DWORD)ERROR_ALREADY_EXISTS);
    EXPECT_TRUE(CloseHandle(c));
    EXPECT_TRUE(CloseHandle(b));
    EXPECT_TRUE(CloseHandle(hl));
    EXPECT_EQ(kt::runchild("mutex ZRN"), 0u) << "the running child holds the name";
    HANDLE d = create("ZRN", &err);
    EXPECT_EQ(err, 0u) << "the running child holds the name";
    EXPECT_TRUE(CloseHandle(d));
    kill((pid_t)pi.dwProcessId, SIGKILL);
    kt::waitexit(pi.hProcess);
    kt::closeinfo(&pi);

    /* Unnamed mutexes are independent objects. */
    HANDLE u1 = create(nullptr, &err);
    HANDLE u2 = create(nullptr, &err);
    EXPECT_EQ(err, 0u) << "the second of two open unnamed mutexes";
    EXPECT_TRUE(CloseHandle(u1));
    EXPECT_TRUE(CloseHandle(u2));
}

int echohandler(const char *request, char *reply, size_t replysize) {
    if (strcmp(request, "decline") == 0) {
        return 0;
    }
    snprintf(reply, replysize, "self:%s", request);
    return 1;
}

/* (A second instance's window search: the single-instance suite.) */
TEST_F(KernelSystem, SecondInstanceTalksToTheOwnerOfTheName) {
    PROCESS_INFORMATION pi;
    ASSERT_TRUE(kt::startchild("serve ZRN " + dir + "/ready", &pi));
    ASSERT_TRUE(kt::waitfile(dir + "/ready"));

    SetLastError(0);
    HANDLE h = CreateMutexA(nullptr, TRUE, "ZRN");
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ALREADY_EXISTS);

    char reply[256];
    ASSERT_EQ(plat_namedrequest("ZRN", "raise window", reply, sizeof reply, 5000), 1);
    EXPECT_EQ(std::string(reply), "pong:raise window:" + std::to_string(pi.dwProcessId));
    char small[8];
    ASSERT_EQ(plat_namedrequest("ZRN", "cut", small, sizeof small, 5000), 1);
    EXPECT_STREQ(small, "pong:cu") << "the reply is cut to the buffer";

    /* A killed owner frees the name: no answer, and no waiting for the time-out. */
    ASSERT_EQ(kill((pid_t)pi.dwProcessId, SIGKILL), 0);
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, 10000), (DWORD)WAIT_OBJECT_0);
    kt::closeinfo(&pi);
    steady::time_point t0 = steady::now();
    EXPECT_EQ(plat_namedrequest("ZRN", "anyone", reply, sizeof reply, 5000), 0);
    EXPECT_LT(steady::now() - t0, std::chrono::milliseconds(1000));
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(plat_namedrequest("never-created", "x", reply, sizeof reply, 5000), 0);

    /* The next owner finds the name free, so the killed one let it go. Without a
     * handler it closes the connection: no answer, and no waiting. */
    ASSERT_TRUE(kt::startchild("serve ZRN " + dir + "/ready2 no", &pi));
    ASSERT_TRUE(kt::waitfile(dir + "/ready2"));
    t0 = steady::now();
    EXPECT_EQ(plat_namedrequest("ZRN", "hello", reply, sizeof reply, 5000), 0);
    EXPECT_LT(steady::now() - t0, std::chrono::milliseconds(2000)) << "closed, not timed out";
    kill((pid_t)pi.dwProcessId, SIGKILL);
    kt::waitexit(pi.hProcess);
    kt::closeinfo(&pi);
}

TEST_F(KernelSystem, OwnNamesAnswerThroughTheServiceThreadAndCloseAtOnce) {
    plat_setrequesthandler(echohandler);
    HANDLE h = CreateMutexA(nullptr, FALSE, "kt-own");
    ASSERT_EQ(GetLastError(), 0u);
    char reply[64];
    ASSERT_EQ(plat_namedrequest("kt-own", "ping", reply, sizeof reply, 5000), 1);
    EXPECT_STREQ(reply, "self:ping");
    EXPECT_EQ(plat_namedrequest("kt-own", "decline", reply, sizeof reply, 5000), 0);
    EXPECT_EQ(plat_namedrequest("kt-own", "two\nlines", reply, sizeof reply, 5000), 0);
    EXPECT_EQ(
        plat_namedrequest("kt-own", std::string(1024, 'a').c_str(), reply, sizeof reply, 5000), 0);

    /* Closing the last handle frees the name at once, while the service thread polls. */
    for (int i = 0; i < 20; i++) {
        EXPECT_TRUE(CloseHandle(h));
        h = CreateMutexA(nullptr, FALSE, "kt-own");
        ASSERT_EQ(GetLastError(), 0u) << i;
    }
    ASSERT_EQ(plat_namedrequest("kt-own", "still", reply, sizeof reply, 5000), 1);
    EXPECT_STREQ(reply, "self:still");
    EXPECT_TRUE(CloseHandle(h));
    plat_setrequesthandler(nullptr);
    EXPECT_EQ(kt::runchild("mutex kt-own"), 0u);
}

} // namespace

/* The two highest priorities are real-time ones where the process may have them (a tick
 * that only got a nice value drifted under load); others put the thread back. */
TEST(KernelPriority, HighestAndTimeCriticalRunBeforeNormalThreads) {
    struct sched_param probe {};
    probe.sched_priority = 1;
    if (sched_setscheduler(0, SCHED_FIFO, &probe) != 0) {
        GTEST_SKIP() << "no real-time priorities for this process";
    }
    probe.sched_priority = 0;
    sched_setscheduler(0, SCHED_OTHER, &probe);
    const std::pair<int, int> levels[] = {{THREAD_PRIORITY_TIME_CRITICAL, 2},
                                          {THREAD_PRIORITY_NORMAL, 0},
                                          {THREAD_PRIORITY_HIGHEST, 1},
                                          {THREAD_PRIORITY_ABOVE_NORMAL, 0}};
    for (const auto &[priority, realtime] : levels) {
        ASSERT_TRUE(SetThreadPriority(GetCurrentThread(), priority));
        struct sched_param now {};
        sched_getparam(0, &now);
        EXPECT_EQ(sched_getscheduler(0), realtime != 0 ? SCHED_FIFO : SCHED_OTHER) << priority;
        EXPECT_EQ(now.sched_priority, realtime) << priority;
        EXPECT_EQ(GetThreadPriority(GetCurrentThread()), priority);
    }
    /* A thread started by a real-time one runs at its own priority, not its creator's. */
    ASSERT_TRUE(SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL));
    HANDLE h = CreateThread(
        nullptr, 0, [](LPVOID) -> DWORD { return (DWORD)sched_getscheduler(0); }, nullptr, 0,
        nullptr);
    DWORD policy = 99;
    EXPECT_EQ(WaitForSingleObject(h, 5000), (DWORD)WAIT_OBJECT_0);
    EXPECT_TRUE(GetExitCodeThread(h, &policy));
    EXPECT_EQ(policy, (DWORD)SCHED_OTHER);
    CloseHandle(h);
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL);
}
