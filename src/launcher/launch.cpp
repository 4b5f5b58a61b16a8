/*
 * launch.cpp - the launch thread: runs the front end and the game in turn, polls each
 * child's exit code every two seconds and exchanges the control files with them while
 * no child runs; at the end writes the end files and sends the shell window WM_DESTROY.
 *
 * Threads: launchthread runs on its own thread, started from the shell window's
 * WM_CREATE. It reads launcherpid and installdir (written before it started) and
 * shellwindow (only in its last step); no lock. It never waits on a handle, only sleeps.
 */
#include <cstring>

#include "launcher.h"

#include "plat/stdio.h"

namespace {

constexpr char frontendprogram[] = "frontend.run";
constexpr char gameprogram[] = "game.run";
constexpr char game2program[] = "game2.run";
constexpr char frontendtoken[] = "QTX_BRAMBLE";

/* Crash exit codes, tested in this order, and the text shown for each. */
struct CrashCode {
    DWORD code;
    const char *text;
};
constexpr CrashCode crashcodes[] = {
    {.code = 0xC000008Eu, .text = "Divide By 0"},          // STATUS_FLOAT_DIVIDE_BY_ZERO
    {.code = 0xC0000005u, .text = "Access Violation"},     // STATUS_ACCESS_VIOLATION
    {.code = 0xC0000094u, .text = "Interger Divide By 0"}, // STATUS_INTEGER_DIVIDE_BY_ZERO
    {.code = 0xC000008Cu, .text = "Array Exceeded"},       // STATUS_ARRAY_BOUNDS_EXCEEDED
};

/* Starts a child; on failure leaves a note saying which one and why. */
int startchild(const char *program, char *commandline, const char *directory, STARTUPINFOA *startup,
               PROCESS_INFORMATION *process) {
    if (CreateProcessA(program, commandline, nullptr, nullptr, FALSE, 0, nullptr, directory,
                       startup, process))
        return 1;
    debugnote("cannot start %s (error %lu); the session ends", program ? program : commandline,
              (unsigned long)GetLastError());
    return 0;
}

/* checkexitcode with a note when the child crashed. */
int crashed(const char *program, DWORD exitcode) {
    if (!checkexitcode(exitcode))
        return 0;
    debugnote("%s crashed (exit code 0x%08lX); the session ends", program, (unsigned long)exitcode);
    return 1;
}

/* Polls the child every two seconds until its exit code is no longer STILL_ACTIVE; a
 * child that itself exits with 259 is therefore polled for ever. The handles are not
 * needed once the exit code is known and are closed here. */
DWORD pollchild(PROCESS_INFORMATION *process) {
    DWORD exitcode = 0;
    do {
        Sleep(1000);
        GetExitCodeProcess(process->hProcess, &exitcode);
        Sleep(1000);
    } while (exitcode == STILL_ACTIVE);
    if (process->hThread)
        CloseHandle(process->hThread);
    if (process->hProcess)
        CloseHandle(process->hProcess);
    process->hThread = nullptr;
    process->hProcess = nullptr;
    return exitcode;
}

} // namespace

int checkexitcode(DWORD code) {
    for (const CrashCode &crash : crashcodes) {
        if (crash.code == code) {
            MessageBoxA(nullptr, crash.text, "Application Error", MB_ICONHAND | MB_OK);
            return 1;
        }
    }
    return 0;
}

int32_t readquitflag(void) {
    Sleep(100);
    int32_t value = 0; // a short "quit.dat" gives its bytes, the missing ones zero
    if (!readcontrolvalue("quit.dat", &value))
        return 0;
    return value;
}

int writefirstrunflag(int32_t value) {
    return writecontrolvalue("ft.dat", "wb", value);
}

DWORD WINAPI launchthread(LPVOID unused) {
    (void)unused;
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    memset(&process, 0, sizeof process);
    int32_t launchresult = 0;
    DWORD exitcode = 0;
    int32_t mpvalue = 0;
    int optionsseen = 0;
    LaunchOptions options;
    memset(&options, 0, sizeof options);
    char commandline[240];

    writecontrolvalue("quit.dat", "wb", 0);
    writefirstrunflag(1);

    for (;;) {
        ShowCursor(FALSE);
        if (readoptions(&options)) {
            optionsseen = 1;
            if (firsttimefe()) {
                if (checkspeed(&options)) {
                    options.sfx = 0;
                    writeoptions(&options);
                }
                writesfx(options.sfx);
            }
        }

        snprintf(commandline, sizeof commandline, "%s %s %u", frontendprogram, frontendtoken,
                 (unsigned)launcherpid);
        launchresult = startchild(nullptr, commandline, nullptr, &startup, &process);
        if (!launchresult)
            break;
        exitcode = pollchild(&process);
        if (crashed(frontendprogram, exitcode))
            break;
        writefirstrunflag(0);
        if (!readquitflag()) {
            debugnote("quit.dat is 0 or missing after %s; the session ends", frontendprogram);
            break;
        }

        const char *game = gameprogram;
        ShowCursor(FALSE);
        if (optionsseen) {
            Sleep(1000);
            readoptions(&options);
            readcontrolvalue("options\\mp.dat", &mpvalue);
            if (options.sfx <= 0 && mpvalue == 0)
                game = game2program;
        }
        // With no installation directory from the registry the game starts in our own
        // current directory rather than in an empty one.
        const char *gamedir = installdir[0] ? installdir : nullptr;
        launchresult = startchild(game, nullptr, gamedir, &startup, &process);
        if (!launchresult)
            break;
        exitcode = pollchild(&process);
        if (crashed(game, exitcode))
            break;
        if (!readquitflag()) {
            debugnote("quit.dat is 0 or missing after %s; the session ends", game);
            break;
        }
        Sleep(1000);
    }

    // A short "options\patch.dat" gives its bytes with the missing ones zero.
    launchresult = 0;
    if (readcontrolvalue("options\\patch.dat", &launchresult) && launchresult != 0)
        Sleep(2000);
    launchresult = 2;
    writecontrolvalue("options\\menu.dat", "wb", launchresult);
    SendMessageA(shellwindow, WM_DESTROY, 0, 0);
    return 0;
}
