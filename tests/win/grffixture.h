// grffixture.h - what the suites on the software display device share: a memory class
// for the library, the device reset before and after each case, fatal reports failing
// the case, the display traces captured, and waiting for another thread. POSIX only.
#pragma once

#include "plat/ddrawtest.h"
#include "thistle/diag.h"
#include "thistle/initgrf.h"
#include "thistle/memstd.h"
#include "thistle/startup.h"
#include "thistle/threads.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

// A report ends the process with exit code 0, which would pass for success.
inline int32_t unexpectedreport(const char *text) {
    ADD_FAILURE() << "fatal report: " << text;
    return 0;
}

// Standard output while f runs with ddrawtrace at level.
template <typename F>
std::string traced(int32_t level, F f) {
    ddrawtrace = level;
    ::testing::internal::CaptureStdout();
    f();
    fflush(stdout);
    ddrawtrace = 0;
    return ::testing::internal::GetCapturedStdout();
}

// A modern card with only the given mode lines as the device's driver profile.
inline void useprofile(const char *modes) {
    const std::string path = ::testing::TempDir() + "grf-" +
                             ::testing::UnitTest::GetInstance()->current_test_info()->name() +
                             ".profile";
    std::ofstream(path) << "name modes\n"
                           "driver {5D2E8A31-7C4B-4E1F-A3D2-6B9C0E1F2A03} modes.drv\n"
                           "caps BLT BLTCOLORFILL PALETTE GDI CANBLTSYSMEM\n"
                           "palettecaps 8BIT PRIMARYSURFACE ALLOW256\n"
                           "surfacecaps BACKBUFFER COMPLEX FLIP FRONTBUFFER OFFSCREENPLAIN "
                           "PALETTE PRIMARYSURFACE SYSTEMMEMORY VIDEOMEMORY VISIBLE\n"
                           "vidmem 16M\n"
                           "desktop 32\n"
                        << modes;
    ASSERT_EQ(plat_ddrawsetprofile(path.c_str()), 1);
}

template <typename Cond>
bool waitfor(Cond cond) {
    for (int i = 0; i < 5000 && !cond(); i++) {
        sleepms(1);
    }
    return cond();
}

// The main thread initialised, memory class 0 over a static region, the device reset.
class GraphicsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        initmainthread();
        applicationname = testname;
        ASSERT_GT(creatememclass(0, "grf", region, sizeof region, 16, 16, 0, 0, 0, 1, 0, 0), 0);
        plat_ddrawreset();
        fatalfilterhook = unexpectedreport;
    }
    void TearDown() override {
        restoregraphics();
        plat_ddrawreset();
    }
    alignas(64) static inline uint8_t region[16 << 20];
    static inline char testname[] = "thistle graphics test";
};
