/*
 * plat/ddraw.h - the DirectDraw interfaces the display modules talk to.
 *
 * On Windows this is the system's own <ddraw.h>. Elsewhere it names the interface types
 * (the library's records hold pointers to them) and the result type of their methods;
 * the methods, the structures they take and the software device behind them are
 * declared here together with their implementation in src/plat/posix/.
 */
#ifndef PLAT_DDRAW_H
#define PLAT_DDRAW_H

#include "plat/win32.h"

#ifdef _WIN32
#include <ddraw.h>
#else

/* Method results: negative values are failures. */
typedef LONG HRESULT;
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)
#define DD_OK 0
#define DD_FALSE 1

/* The interfaces, known here by name only. */
struct IDirectDraw;
struct IDirectDraw2;
struct IDirectDrawSurface;
struct IDirectDrawSurface2;
struct IDirectDrawPalette;
struct IDirectDrawClipper;
typedef struct IDirectDraw *LPDIRECTDRAW;
typedef struct IDirectDraw2 *LPDIRECTDRAW2;
typedef struct IDirectDrawSurface *LPDIRECTDRAWSURFACE;
typedef struct IDirectDrawSurface2 *LPDIRECTDRAWSURFACE2;
typedef struct IDirectDrawPalette *LPDIRECTDRAWPALETTE;
typedef struct IDirectDrawClipper *LPDIRECTDRAWCLIPPER;

#endif /* _WIN32 */
#endif /* PLAT_DDRAW_H */
