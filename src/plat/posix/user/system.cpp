/*
 * system.cpp - the cursor, screen metrics, the screen-saver switches and message boxes.
 *
 * The cursor display count and shape are process-wide (Windows keeps them per input
 * queue; our programs have one thread with windows that take input, so the difference
 * does not show). The cursor shows while the count is 0 or more and it has a shape; the
 * backend is told when that changes. The position is the last one the pointer was seen at
 * or moved to.
 * The screen saver and monitor power-off switches belong to this process and last while
 * it runs (Windows keeps them for the user's session and can store them); the backend
 * keeps the screen saver away while either is off.
 * Locks: one lock orders cursor and switch changes with the backend calls they cause.
 */
#include "user.h"

#include "backend.h"

#include <vector>

namespace {

std::mutex cursorlock;
int cursorcount = 0;                                   /* cursorlock */
HCURSOR cursorshape = LoadCursorA(nullptr, IDC_ARROW); /* cursorlock */
POINT cursorpos{0, 0};                                 /* cursorlock */
BOOL screensaveractive = TRUE, poweroffactive = TRUE;  /* cursorlock */

bool cursorshown() {
    return cursorcount >= 0 && cursorshape != nullptr;
}

/* The top-level windows of the process that are not being destroyed. */
std::vector<HWND> toplevelwindows() {
    std::vector<HWND> all;
    platuser::userguard guard(platuser::state().lock);
    for (int i = 0; i < platuser::maxwindows; i++) {
        const platuser::windowrec &w = platuser::state().windows[i];
        if (w.used && !w.destroying && !(w.style & WS_CHILD))
            all.push_back(platuser::makewindowhandle(i, w.gen));
    }
    return all;
}

} // namespace

void platuser::notecursorpos(int x, int y) {
    userguard guard(cursorlock);
    cursorpos = POINT{x, y};
}

/* Adds one to the display count (TRUE) or takes one (FALSE); the cursor shows while the
 * count is 0 or more (and it has a shape). Returns the new count. */
int WINAPI ShowCursor(BOOL bShow) {
    const plat_backend *be = plat_userbackend();
    platuser::userguard guard(cursorlock);
    bool before = cursorshown();
    cursorcount += bShow ? 1 : -1;
    if (before != cursorshown())
        be->showcursor(cursorshown());
    return cursorcount;
}

/* The cursor's shape: null takes it away (nothing is drawn, whatever the display count).
 * Returns the shape before. */
HCURSOR WINAPI SetCursor(HCURSOR hCursor) {
    const plat_backend *be = plat_userbackend();
    platuser::userguard guard(cursorlock);
    bool before = cursorshown();
    HCURSOR old = cursorshape;
    cursorshape = hCursor;
    if (before != cursorshown())
        be->showcursor(cursorshown());
    return old;
}

/* Moves the pointer (screen coordinates); the window under it sees the move as input. */
BOOL WINAPI SetCursorPos(int X, int Y) {
    const plat_backend *be = plat_userbackend();
    {
        platuser::userguard guard(cursorlock);
        cursorpos = POINT{X, Y};
    }
    be->setcursorpos(X, Y);
    return TRUE;
}

BOOL WINAPI GetCursorPos(LPPOINT lpPoint) {
    if (!lpPoint) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    platuser::userguard guard(cursorlock);
    *lpPoint = cursorpos;
    return TRUE;
}

/* The screen saver and monitor power-off switches (SPI_GET... into a BOOL, SPI_SET... from
 * uiParam). With SPIF_SENDCHANGE every top-level window of the process is told through
 * WM_SETTINGCHANGE (wParam the action, lParam an empty section name). Other actions fail
 * with ERROR_INVALID_PARAMETER. */
BOOL WINAPI SystemParametersInfoA(UINT uiAction, UINT uiParam, PVOID pvParam, UINT fWinIni) {
    static const char nosection[] = "";
    BOOL *flag;
    switch (uiAction) {
    case SPI_GETSCREENSAVEACTIVE:
    case SPI_SETSCREENSAVEACTIVE:
        flag = &screensaveractive;
        break;
    case SPI_GETPOWEROFFACTIVE:
    case SPI_SETPOWEROFFACTIVE:
        flag = &poweroffactive;
        break;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    bool set = uiAction == SPI_SETSCREENSAVEACTIVE || uiAction == SPI_SETPOWEROFFACTIVE;
    if (!set) {
        if (!pvParam) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        platuser::userguard guard(cursorlock);
        *(BOOL *)pvParam = *flag;
        return TRUE;
    }
    const plat_backend *be = plat_userbackend();
    {
        platuser::userguard guard(cursorlock);
        bool before = screensaveractive && poweroffactive;
        *flag = uiParam ? TRUE : FALSE;
        bool after = screensaveractive && poweroffactive;
        if (before != after)
            be->screensaver(after);
    }
    if (fWinIni & SPIF_SENDCHANGE)
        for (HWND h : toplevelwindows())
            SendNotifyMessageA(h, WM_SETTINGCHANGE, uiAction, (LPARAM)nosection);
    return TRUE;
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
