/*
 * system.cpp - cursor display count, screen metrics and message boxes.
 *
 * The cursor display count is process-wide (Windows keeps one per input queue; our
 * programs have one thread with windows that take input, so the difference does not
 * show). The backend hides or shows the cursor when the count crosses zero.
 * Locks: one lock orders count changes with the backend calls they cause.
 */
#include "user.h"

#include "backend.h"

namespace {

std::mutex cursorlock;
int cursorcount = 0;

} // namespace

/* Adds one to the display count (TRUE) or takes one (FALSE); the cursor shows while the
 * count is 0 or more. Returns the new count. */
int WINAPI ShowCursor(BOOL bShow) {
    const plat_backend *be = plat_userbackend();
    platuser::userguard guard(cursorlock);
    int before = cursorcount;
    cursorcount += bShow ? 1 : -1;
    if ((before >= 0) != (cursorcount >= 0))
        be->showcursor(cursorcount >= 0);
    return cursorcount;
}

/* SM_CXSCREEN and SM_CYSCREEN from the backend's screen; 0 for other indexes. */
int WINAPI GetSystemMetrics(int nIndex) {
    if (nIndex != SM_CXSCREEN && nIndex != SM_CYSCREEN)
        return 0;
    int w = 0, h = 0;
    plat_userbackend()->screensize(&w, &h);
    return nIndex == SM_CXSCREEN ? w : h;
}

/* Shows a modal message box through the backend and returns the button pressed
 * (IDOK or IDCANCEL). The owner window is not used: the box is modal for the whole
 * program, whichever thread calls. A null caption reads "Error", as on Windows. */
int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
    (void)hWnd;
    return plat_userbackend()->messagebox(lpText ? lpText : "", lpCaption ? lpCaption : "Error",
                                          uType);
}
