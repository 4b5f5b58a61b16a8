/*
 * plat/mmsystem.h - the multimedia timer: the one-shot timer the library's tick is
 * driven by, and the timer resolution it asks for.
 *
 * On Windows this is the system's own <mmsystem.h> (linked with winmm). Elsewhere it
 * declares the types and constants of the timer calls; the calls themselves
 * (timeGetDevCaps, timeBeginPeriod, timeSetEvent, timeKillEvent, timeEndPeriod) are
 * declared here together with their implementation in src/plat/posix/.
 */
#ifndef PLAT_MMSYSTEM_H
#define PLAT_MMSYSTEM_H

#include "plat/win32.h"

#ifdef _WIN32
#include <mmsystem.h>
#else

typedef UINT MMRESULT;

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

#endif /* _WIN32 */
#endif /* PLAT_MMSYSTEM_H */
