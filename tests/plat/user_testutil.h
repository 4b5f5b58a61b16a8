/*
 * user_testutil.h - helpers shared by the window-side suites: registering a class and
 * comparing the messages a loop got with the ones it should have got.
 */
#ifndef TESTS_PLAT_USER_TESTUTIL_H
#define TESTS_PLAT_USER_TESTUTIL_H

#include "plat/win32.h"

#include <gtest/gtest.h>

#include <vector>

namespace ut {

/* Registers a class; 0 when the name is taken (the error says so). */
inline ATOM registerclass(const char *name, WNDPROC proc = DefWindowProcA, UINT style = 0,
                          HBRUSH brush = nullptr, HCURSOR cursor = nullptr) {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.style = style;
    wc.lpfnWndProc = proc;
    wc.hbrBackground = brush;
    wc.hCursor = cursor;
    wc.lpszClassName = name;
    return RegisterClassExA(&wc);
}

struct msgwant {
    HWND hwnd;
    UINT msg;
    WPARAM w;
    DWORD l;
};

/* got is want, message by message: window, message, wParam and lParam. */
inline void expectmsgs(const std::vector<MSG> &got, const std::vector<msgwant> &want) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); i++) {
        EXPECT_EQ(got[i].hwnd, want[i].hwnd) << i;
        EXPECT_EQ(got[i].message, want[i].msg) << i;
        EXPECT_EQ(got[i].wParam, want[i].w) << i;
        EXPECT_EQ((DWORD)got[i].lParam, want[i].l) << i;
    }
}

} // namespace ut

#endif
