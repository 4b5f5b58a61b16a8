/*
 * entry.cpp - the launcher's process entry: single-instance guard, installation
 * directory from the registry, the black full-screen shell window and its message loop.
 *
 * Threads: WinMain and shellwindowproc run on the main thread. The launch thread is
 * started from WM_CREATE inside createshellwindow; the globals here are written before
 * that and only read afterwards (shellwindow: see WM_CREATE). The process ends when
 * the launch thread sends WM_DESTROY, or on the Exit command.
 */
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "launcher.h"

DWORD launcherpid;
char windowtitle[100];
char windowclass[100];
char installdir[260];
HWND shellwindow;

namespace {

constexpr char instancemutex[] = "ZRN";
constexpr char installkey[] = "Software\\Vornholt\\Brambleshot Demo";
constexpr char installvalue[] = "Path";

} // namespace

void debugnote(const char *format, ...) {
    char text[512];
    int prefix = snprintf(text, sizeof text, "thistlerun: ");
    va_list args;
    va_start(args, format);
    vsnprintf(text + prefix, sizeof text - (size_t)prefix - 1, format, args);
    va_end(args);
    strcat(text, "\n");
    OutputDebugStringA(text);
}

int readinstalldir(char *buffer) {
    if (!buffer)
        return 0;

    char keyclass[1] = {'\0'};
    HKEY key = nullptr;
    DWORD disposition = 0;
    int opened = 0;
    LSTATUS status =
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, installkey, 0, keyclass, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &key, &disposition);
    if (status != ERROR_SUCCESS)
        SetLastError((DWORD)status);
    else if (disposition == REG_CREATED_NEW_KEY || disposition == REG_OPENED_EXISTING_KEY)
        opened = 1;
    else
        RegCloseKey(key);

    char value[256];
    DWORD size = 255; // with its terminating zero, so at most 254 characters fit
    int haveval = 0;
    if (opened) {
        DWORD type = 0;
        status = RegQueryValueExA(key, installvalue, nullptr, &type, (LPBYTE)value, &size);
        if (status == ERROR_SUCCESS)
            haveval = 1;
        else
            SetLastError((DWORD)status);
        RegCloseKey(key);
    }
    if (!haveval)
        return 0;

    // The stored value need not carry its terminating zero.
    value[size < sizeof value ? size : sizeof value - 1] = '\0';
    size_t n = strlen(value);
    if (n >= 1 && value[n - 1] != '\\') {
        value[n++] = '\\';
        value[n] = '\0';
    }
    memcpy(buffer, value, n + 1);
    return (int)n;
}

void registershellclass(HINSTANCE instance) {
    WNDCLASSEXA wc;
    memset(&wc, 0, sizeof wc);
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = shellwindowproc;
    wc.cbClsExtra = 0;
    wc.cbWndExtra = 0;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_THISTLERUN));
    wc.hCursor = nullptr;
    // Never freed: the class lives as long as the process.
    wc.hbrBackground = CreateSolidBrush(RGB(0, 0, 0));
    wc.lpszMenuName = nullptr;
    wc.lpszClassName = windowclass;
    wc.hIconSm = nullptr;
    RegisterClassExA(&wc);
}

int createshellwindow(HINSTANCE instance, int showcommand) {
    HWND window = CreateWindowExA(0, windowclass, windowtitle, WS_POPUP | WS_MINIMIZE, 0, 0,
                                  GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN),
                                  nullptr, nullptr, instance, nullptr);
    // WM_CREATE has stored the same handle already, before the launch thread started;
    // storing only a different one keeps this write from racing with that thread.
    if (shellwindow != window)
        shellwindow = window;
    if (!window)
        return 0;
    ShowWindow(window, showcommand);
    UpdateWindow(window);
    return 1;
}

LRESULT CALLBACK shellwindowproc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_CREATE:
        shellwindow = window;
        if (!CreateThread(nullptr, 0, launchthread, nullptr, 0, nullptr)) {
            debugnote("cannot start the launch thread (error %lu)", (unsigned long)GetLastError());
            PostQuitMessage(0);
        }
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        BeginPaint(window, &paint);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_COMMAND:
        switch (LOWORD(wparam)) {
        case IDM_ABOUT:
            return 0;
        case IDM_EXIT:
            DestroyWindow(window);
            return 0;
        default:
            return DefWindowProcA(window, message, wparam, lparam);
        }
    default:
        return DefWindowProcA(window, message, wparam, lparam);
    }
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandline, int showcommand) {
    (void)previous;
    (void)commandline;
    launcherpid = GetCurrentProcessId();
    LoadStringA(instance, IDS_APP_TITLE, windowtitle, sizeof windowtitle);
    LoadStringA(instance, IDC_THISTLERUN, windowclass, sizeof windowclass);
    registershellclass(instance);

    // Cleared first so that only this call's answer counts. The handle stays open for
    // the life of the process: holding it is what keeps a second copy out.
    SetLastError(0);
    CreateMutexA(nullptr, FALSE, instancemutex);
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        debugnote("another copy is running (mutex %s); this one ends", instancemutex);
        return 0;
    }

    SetLastError(0);
    if (readinstalldir(installdir) == 0)
        debugnote("no installation directory: registry value \"%s\" under HKEY_LOCAL_MACHINE\\%s "
                  "is missing, empty or unreadable (error %lu); staying in the current directory",
                  installvalue, installkey, (unsigned long)GetLastError());
    if (!SetCurrentDirectoryA(installdir) && installdir[0] != '\0')
        debugnote("cannot change to the installation directory %s (error %lu)", installdir,
                  (unsigned long)GetLastError());
    ShowCursor(FALSE);
    if (!createshellwindow(instance, showcommand)) {
        debugnote("cannot create the shell window (error %lu)", (unsigned long)GetLastError());
        return 0;
    }
    ShowCursor(FALSE);
    HACCEL accelerators = LoadAcceleratorsA(instance, MAKEINTRESOURCEA(IDC_THISTLERUN));

    MSG msg;
    memset(&msg, 0, sizeof msg);
    while (GetMessageA(&msg, nullptr, 0, 0)) {
        if (!TranslateAcceleratorA(msg.hwnd, accelerators, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        // Drive the display count below zero after every message, whatever showed it.
        while (ShowCursor(FALSE) >= 0) {
        }
    }
    return (int)msg.wParam;
}
