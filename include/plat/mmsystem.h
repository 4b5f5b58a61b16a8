/*
 * plat/mmsystem.h - the multimedia timer: the one-shot timer the library's tick is
 * driven by, and the timer resolution it asks for.
 *
 * On Windows this is the system's own <mmsystem.h> (linked with winmm). Elsewhere it
 * declares the timer calls, their types and constants; they are implemented in
 * src/plat/posix/mmtimer.cpp.
 */
#ifndef PLAT_MMSYSTEM_H
#define PLAT_MMSYSTEM_H

#include "plat/win32.h"

#ifdef _WIN32
#include <mmsystem.h>
#else

typedef UINT MMRESULT;

#define MMSYSERR_NOERROR 0
#define MMSYSERR_INVALPARAM 11
#define TIMERR_NOERROR 0
#define TIMERR_NOCANDO 97

/* timeSetEvent: run once or periodically; the callback is called on the timer's thread. */
#define TIME_ONESHOT 0x0000
#define TIME_PERIODIC 0x0001
#define TIME_CALLBACK_FUNCTION 0x0000

typedef struct timecaps_tag {
    UINT wPeriodMin; /* smallest resolution, ms */
    UINT wPeriodMax; /* largest resolution, ms */
} TIMECAPS, *LPTIMECAPS;

typedef void(CALLBACK *LPTIMECALLBACK)(UINT uTimerID, UINT uMsg, DWORD_PTR dwUser, DWORD_PTR dw1,
                                       DWORD_PTR dw2);

/* The range of delays and resolutions the timer accepts, in milliseconds. */
MMRESULT WINAPI timeGetDevCaps(LPTIMECAPS ptc, UINT cbtc);
/* Asks for (Begin) and gives back (End) a timer resolution of uPeriod ms; each Begin
 * needs an End with the same value. TIMERR_NOCANDO for a value outside the range or
 * an End without its Begin. */
MMRESULT WINAPI timeBeginPeriod(UINT uPeriod);
MMRESULT WINAPI timeEndPeriod(UINT uPeriod);
/* Calls fptc(id, 0, dwUser, 0, 0) on the timer's thread once uDelay ms have passed, and
 * with TIME_PERIODIC every uDelay ms after that. Returns the event's id (never 0), or 0
 * when the arguments are refused. */
MMRESULT WINAPI timeSetEvent(UINT uDelay, UINT uResolution, LPTIMECALLBACK fptc, DWORD_PTR dwUser,
                             UINT fuEvent);
/* Cancels the event; returns once its callback is no longer running (unless called
 * from a callback). MMSYSERR_INVALPARAM when no such event is pending or running. */
MMRESULT WINAPI timeKillEvent(UINT uTimerID);
/* Milliseconds on the clock the timer runs on: the one GetTickCount reads. */
DWORD WINAPI timeGetTime(void);

#endif /* _WIN32 */
#endif /* PLAT_MMSYSTEM_H */
