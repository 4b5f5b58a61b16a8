/*
 * launcher.h - the launcher's internal declarations: globals, the options record and
 * the routines of the entry (entry.cpp), the launch loop (launch.cpp) and the control
 * files (control.cpp).
 *
 * Threads: the main thread runs WinMain and the shell window; the launch thread runs
 * launchthread and everything in launch.cpp and control.cpp. The globals below are
 * written by the main thread before the launch thread starts and only read after, so
 * no lock is used (shellwindow: see shellwindowproc).
 */
#ifndef THISTLERUN_LAUNCHER_H
#define THISTLERUN_LAUNCHER_H

#include <cstdint>

#include "plat/win32.h"
#include "resource.h"

/* ---- entry (entry.cpp) ------------------------------------------------------------ */

extern DWORD launcherpid;     /* our process id, passed to the front end */
extern char windowtitle[100]; /* string 103 */
extern char windowclass[100]; /* string 109 */
extern char installdir[260];  /* "Path" from the registry with a trailing backslash */
extern HWND shellwindow;      /* the black full-screen popup */

/* Fills the 260-byte buffer with the installation directory from the registry, with a
 * trailing backslash appended when the value lacks one (an empty value stays empty).
 * Returns the text's length; 0 with the buffer untouched when the key cannot be opened
 * or created or the value cannot be read. A missing key is created. */
int readinstalldir(char *buffer);

/* Registers the shell window's class (black brush, icon 141, shellwindowproc) under
 * windowclass. The result is ignored by the caller, so nothing is returned. */
void registershellclass(HINSTANCE instance);

/* Creates the shell window (which starts the launch thread from WM_CREATE), shows and
 * paints it once. Returns 1, or 0 when the window cannot be created. */
int createshellwindow(HINSTANCE instance, int showcommand);

/* Window procedure of the shell window: WM_CREATE starts the launch thread, WM_DESTROY
 * ends the message loop, command 105 destroys the window, command 104 does nothing. */
LRESULT CALLBACK shellwindowproc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

/* Leaves one line "thistlerun: <text>\n" through OutputDebugStringA: how the
 * launcher tells why it ended or went on without something, while staying silent
 * for the player (THISTLE_DEBUGOUT shows the lines on Linux). */
void debugnote(const char *format, ...) __attribute__((format(printf, 1, 2)));

/* ---- launch loop (launch.cpp) ----------------------------------------------------- */

/* The launch thread: runs the front end and the game in turn until a child asks to
 * stop, crashes or cannot be started, then writes the end files and sends the shell
 * window WM_DESTROY. The argument is ignored; returns 0. */
DWORD WINAPI launchthread(LPVOID unused);

/* Shows "Application Error" with the crash's text and returns 1 when code is one of
 * the four processor exception codes; returns 0 for any other code, silently. */
int checkexitcode(DWORD code);

/* Sleeps 100 ms, then returns the 32-bit value of "quit.dat", or 0 when it cannot be
 * opened. A file shorter than 4 bytes gives its bytes with the missing ones zero. */
int32_t readquitflag(void);

/* Writes the 32-bit value into "ft.dat". Returns 1, or 0 when it cannot be created. */
int writefirstrunflag(int32_t value);

/* ---- control and option files (control.cpp) -------------------------------------- */

/* The values of "options\options.txt", one field per line. */
struct LaunchOptions {
    char optionstext[256]; /* line 1 with its line feed */
    int32_t option2;
    int32_t option3;
    int32_t option4;
    int32_t option5;
    int32_t option6;
    int32_t option7;
    int32_t option8;
    int32_t option9;
    int32_t sfx; /* line 10: the sound-effects value */
    int32_t option11;
    int32_t option12;
    int32_t option13; /* line 13: non-zero widens the slow-machine test */
};

/* Reads "options\options.txt" into the record. Returns 1, or 0 when the file cannot
 * be opened (the record is then untouched). Lines without a number, and missing
 * lines, leave their fields as they were. */
int readoptions(LaunchOptions *options);

/* Rewrites "options\options.txt" from the record and writes the 56-byte
 * "options\opt.dat". Returns 1 when both were written, 0 when either cannot be opened
 * (opt.dat is not touched when options.txt cannot be). */
int writeoptions(const LaunchOptions *options);

/* First-run speed test from "options\speed.txt". Returns 1 for a slow machine (the
 * record's sfx is then 0; on the slowest, "options\screen.dat" is written too), 0
 * otherwise or when the file is missing or unreadable. */
int checkspeed(LaunchOptions *options);

/* Writes the reduced screen record "options\screen.dat" (24 bytes). Returns 1, or 0
 * when it cannot be created. */
int writescreen(void);

/* Writes the sound-effects value into "options\sfx.dat". Returns 1, or 0 when the value
 * is outside 0..255 (nothing touched) or the file cannot be created. */
int writesfx(int32_t value);

/* Reads a one-value control file opened with "rb". Returns 1 and stores the value when
 * the file opens, 0 (value untouched) otherwise. Files shorter than 4 bytes give their
 * bytes with the missing high bytes zero; bytes after the fourth are ignored. */
int readcontrolvalue(const char *name, int32_t *value);

/* Writes one 32-bit value, little-endian, into a control file opened with mode ("wb"
 * or "w+b"). Returns 1, or 0 when the file cannot be created or written. */
int writecontrolvalue(const char *name, const char *mode, int32_t value);

/* Tests and sets the installation's first-run marker "options//firsttimefe.txt".
 * Returns 1 when it did not hold 1 and has now been set, 0 otherwise (also when it
 * cannot be set). */
int firsttimefe(void);

#endif /* THISTLERUN_LAUNCHER_H */
