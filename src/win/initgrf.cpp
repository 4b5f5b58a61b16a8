/*
 * initgrf.cpp - win\initgrf: bringing graphics up and down (see thistle/initgrf.h).
 *
 * Every DirectDraw call bound to the window runs on the window thread. A calling thread
 * asks for it with a private message and polls grfop_pending:
 *
 *   caller                                 window thread (lib_ handler)
 *   grfop_pending = 1, grfop_error "SEND"
 *   post WM_INITDDRAW / WM_SETDDRAWMODE -->  inactive: pending = -1 (postponed)
 *   poll every 1 ms                          active:   work; grfop_error = null or a
 *   pending -1 and the application active         text; pending = 0
 *     again: pending = 1, post once more
 *   pending 0: the result is grfop_error
 *
 * The mode search walks the mode list for the smallest mode at least as large as the
 * request, then asks for 200 x 200 less, then for 8 bits, then for the default mode; a
 * pass that finds nothing at all is repeated with the device in software emulation.
 *
 * Threads: initgraphics, setgraphicsmode, restoregraphics and reinitgraphics belong to a
 * calling thread; the two handlers run on the window thread under the handler-table lock.
 * Only grfop_pending and grfop_error cross between them.
 */
#include "thistle/initgrf.h"

#include "plat/win32.h"
#include "thistle/createw.h"
#include "thistle/ddraw.h"
#include "thistle/diag.h"
#include "thistle/memstd.h"
#include "thistle/palette.h"
#include "thistle/row.h"
#include "thistle/startup.h"
#include "thistle/syshelp.h"
#include "thistle/systask.h"
#include "thistle/threads.h"
#include "thistle/window.h"

int32_t graphicsflags = GRF_FULLSCREEN | GRF_SYSMEMBACK | GRF_SINGLEPAGE;
static_assert(GRF_FULLSCREEN + GRF_SYSMEMBACK + GRF_SINGLEPAGE == 0x45, "the start options");

int32_t screenwidth = 0, screenheight = 0, screendepth = 0, screenmode = 0;
int32_t viewx = 0, viewy = 0, viewwidth = 320, viewheight = 200;

int32_t graphicspages = 2;
int32_t displaypages = 0, displaybankswitched = 0;

std::atomic<int32_t> grfop_pending{0};
std::atomic<const char *> grfop_error{nullptr};

int32_t graphicsstate = 0;

void (*initgraphicshook)(int32_t width, int32_t height, int32_t depth) = nullptr;
void (*restoregraphicshook)(void) = nullptr;

namespace {

/* The default mode's index and the one that only removes the surfaces. */
constexpr int32_t MODE_DEFAULT = -1;
constexpr int32_t MODE_NONE = -2;

template <typename T>
std::atomic_ref<T> at(T &field) {
    return std::atomic_ref<T>(field);
}

HWND mainwindow(void) {
    return (HWND)at(display.hwnd).load();
}

/* The application is active and its window exists: the window thread can do display
 * work now. */
bool canserve(const displayrecord *record) {
    displayrecord *r = const_cast<displayrecord *>(record);
    return at(r->appactive).load() != 0 && at(r->hwnd).load() != nullptr;
}

/* Posts a request; false when it could not be posted (after the report, which returns
 * only when a filter cancelled it: the request is then given up as not answered). */
bool postrequest(uint32_t message, intptr_t lparam) {
    if (sendwinmessage(message, lparam, 0, 0) != 0) {
        return true;
    }
    THISTLE_SITE("win\\initgrf");
    fatalerror("initgraphics - FAILED TO SEND MESSAGE TO WINDOW THREAD.\n");
    grfop_pending = 0;
    return false;
}

/* One attempt of the mode search: 1 when the window thread set mode m. */
int32_t trymode(int32_t m) {
    return sendddrawrequest(WM_SETDDRAWMODE, m) == nullptr ? 1 : 0;
}

/* The full-screen search over record's mode list; see selectddrawmode. */
int32_t searchmodes(displayrecord *record) {
    /* Sizes and differences are unsigned: a height taken below zero by the smaller
     * steps wraps to a huge value that no mode reaches, and the strict "below bestdiff"
     * keeps the first of equally good modes. */
    uint32_t w = uint32_t(record->width);
    uint32_t h = uint32_t(record->height);
    uint32_t b = uint32_t(record->bitcount);
    debugprint(&ddrawtrace, 14, "[INIT] searching for display mode [%dx%dx%d]\n", int32_t(w),
               int32_t(h), int32_t(b));
    for (;;) {
        displaymode *modes = static_cast<displaymode *>(record->modelist);
        const int32_t count = modes != nullptr ? record->modecount : 0;
        int32_t best = record->modecount;
        uint32_t bestdiff = 100000;
        for (int32_t i = 0; i < count; i++) {
            const displaymode &mode = modes[i];
            debugprint(&ddrawtrace, 15, "[INIT]  ->mode %d of %d [%dx%dx%d]\n", i,
                       record->modecount, int32_t(mode.width), int32_t(mode.height),
                       int32_t(mode.bitcount));
            if (mode.bitcount == b && (mode.flags & DM_FAILED) == 0 && w <= mode.width &&
                h <= mode.height && mode.width - w < bestdiff) {
                best = i;
                bestdiff = mode.width - w;
            }
        }
        debugprint(&ddrawtrace, 15, "[INIT] search result = %d\n", best);
        if (best < count) {
            if (trymode(best) != 0) {
                return 1;
            }
            modes[best].flags |= DM_FAILED;
        } else if (w > 320) {
            debugprint(&ddrawtrace, 15, "[INIT] try smaller\n");
            w -= 200;
            h -= 200;
        } else if (b != 8) {
            debugprint(&ddrawtrace, 15, "[INIT] try 8bit\n");
            w = uint32_t(record->width);
            h = uint32_t(record->height);
            b = 8;
        } else {
            debugprint(&ddrawtrace, 15, "[INIT] attempting default resolution\n");
            return trymode(MODE_DEFAULT);
        }
    }
}

void installhandlers(void) {
    setwinmessagehandler(WM_INITDDRAW, lib_initgraphics);
    setwinmessagehandler(WM_SETDDRAWMODE, lib_setdisplaymode);
}

/* restoregraphics is registered once: a second registration would only run it again at
 * exit, after the first run has taken graphics down. */
bool exitregistered = false;

} // namespace

void initgraphics(int32_t width, int32_t height, int32_t depth) {
    if (initgraphicshook != nullptr) {
        initgraphicshook(width, height, depth);
        return;
    }
    width = width == 0 ? 640 : width == -1 ? 1024 : width;
    height = height == 0 ? 480 : height == -1 ? 768 : height;
    if (depth == 0 || depth == -1 || depth == 15) {
        depth = 16;
    }
    for (;;) {
        const int32_t changed = applygraphicsflags();
        display.width = width;
        display.height = height;
        display.bitcount = depth;
        display.depth = uint8_t(depth);
        debugprint(&ddrawtrace, 15, "[INIT] requested mode is %dx%dx%d\n", width, height, depth);
        if (initddrawgraphics(changed) == 0) {
            graphicsstate = 0;
            return;
        }
        debugprint(&ddrawtrace, 15, "[INIT] select mode which matches %dx%dx%d\n", width, height,
                   depth);
        const int32_t found = selectddrawmode(&display);
        debugprint(&ddrawtrace, 15, "[INIT] selectddrawmode return %d\n", found);
        if (found != 0) {
            publishdisplay();
            return;
        }
        debugprint(&ddrawtrace, 15, "[INIT] all video modes failed\n");
        if ((graphicsflags & GRF_EMULATION) != 0) {
            graphicsstate = 0;
            return;
        }
        /* Takes effect when the device is next created; this pass keeps the device and
         * skips the modes already marked failed. */
        graphicsflags |= GRF_EMULATION;
    }
}

int32_t applygraphicsflags(void) {
    /* The memory classes count as initialised when the default class exists with room
     * in it: every display object is reserved there. */
    if (largestmemblock(defaultmemclass) <= 0) {
        THISTLE_SITE("win\\initgrf");
        fatalerror("initgraphics - INITMEM REQUIRED BEFORE INITGRAPHICS\n");
    }
    const uint8_t fullscreen = (graphicsflags & GRF_FULLSCREEN) != 0 ? 1 : 0;
    const int32_t changed = at(display.fullscreen).load() != fullscreen ? 1 : 0;
    at(display.fullscreen).store(fullscreen);
    if ((graphicsflags & GRF_MODEX) != 0) {
        display.sysmemback = 0;
        display.drambuffer = 0;
        display.libmemback = 0;
        display.modexrequested = 1;
        display.pagesrequested = 2;
        display.pages = 2;
    } else {
        display.libmemback = (graphicsflags & GRF_LIBMEM) != 0 ? 1 : 0;
        display.drambuffer = (graphicsflags & GRF_DRAMBACK) != 0 ? 1 : 0;
        display.sysmemback = (graphicsflags & GRF_SYSMEMBACK) != 0 ? 1 : 0;
        display.modexrequested = 0;
        display.pagesrequested = uint8_t(graphicspages);
        const bool onepage = (graphicsflags & GRF_SINGLEPAGE) != 0 || display.libmemback != 0;
        display.pages = onepage ? 1 : display.pagesrequested;
    }
    display.memclass = defaultmemclass;
    if (graphicsstate != GRAPHICS_UP) {
        initrow();
        if (!exitregistered) {
            exitregistered = registerexit(restoregraphics) == 0;
        }
        graphicsstate = GRAPHICS_UP;
        fatallockhook = graphicsfatalhook;
    }
    releasedisplaywindow();
    return changed;
}

int32_t initddrawgraphics(int32_t reopen) {
    const bool first = display.directdraw == nullptr;
    const bool open = first || reopen != 0;
    installhandlers();
    if (first && at(display.fullscreen).load() != 0) {
        debugprint(&ddrawtrace, 7, "[INIT] first init fullscreen\n");
        display.width = display.width == 0 ? 640 : display.width;
        display.height = display.height == 0 ? 480 : display.height;
    }
    const char *e = nullptr;
    if (open) {
        debugprint(&ddrawtrace, 5, "[INIT] opening window\n");
        if (openmainwindow(display.width, display.height, at(display.fullscreen).load()) !=
            nullptr) {
            e = sendddrawrequest(WM_INITDDRAW, 0);
            SetForegroundWindow(mainwindow());
        } else {
            e = "OPEN";
            grfop_error = e;
        }
    }
    if (first) {
        setdefaultpalette();
    }
    if (e == nullptr) {
        return 1;
    }
    debugprint(&ddrawtrace, 1, "[INIT] initddrawgraphics failed = %s\n", e);
    return 0;
}

const char *sendddrawrequest(uint32_t message, intptr_t lparam) {
    grfop_pending = 1;
    grfop_error = "SEND";
    /* The window thread may dispose or rebuild the surfaces: no lock may be held. */
    releasedisplaywindow();
    debugprint(&ddrawtrace, 14, "[INIT] send ddraw request %d %d\n", int32_t(message),
               int32_t(lparam));
    if (postrequest(message, lparam)) {
        debugprint(&ddrawtrace, 15, "[INIT] sent message\n");
    }
    while (grfop_pending != 0) {
        sleepms(1);
        if (isthread(nullptr) != 0) {
            runsystemtasks(0);
        }
        if (grfop_pending < 0) {
            sleepms(100);
            if (canserve(&display)) {
                debugprint(&ddrawtrace, 15, "[INIT] postponed, retrying\n");
                grfop_pending = 1;
                SetForegroundWindow(mainwindow());
                postrequest(message, lparam);
            } else {
                debugprint(&ddrawtrace, 15, "[INIT] postponed, waiting\n");
            }
        }
        debugprint(&ddrawtrace, 16, "[INIT] grfop_pending = %d\n", grfop_pending.load());
    }
    const char *e = grfop_error;
    debugprint(&ddrawtrace, 12, "[INIT] message processed (%s)\n", e != nullptr ? e : "okay");
    return e;
}

int32_t lib_initgraphics(displayrecord *record, void *hwnd, uint32_t message, uintptr_t wparam,
                         intptr_t lparam, int32_t *reply) {
    (void)hwnd, (void)message, (void)wparam, (void)lparam;
    debugprint(&ddrawtrace, 15, "[INIT] lib_initgraphics\n");
    *reply = 0;
    if (canserve(record)) {
        if (record->directdraw != nullptr) {
            disposewindisplay(record);
        }
        /* Each step leaves its own text in grfop_error when it fails. */
        if (opendirectdraw(record) != 0 && enumdisplaymodes(record) != 0) {
            grfop_error = nullptr;
        }
        grfop_pending = 0;
    } else {
        HWND window = (HWND)at(record->hwnd).load();
        if (window != nullptr) {
            ShowWindow(window, SW_RESTORE);
            SetForegroundWindow(window);
        }
        grfop_pending = -1;
    }
    return 1;
}

int32_t lib_setdisplaymode(displayrecord *record, void *hwnd, uint32_t message, uintptr_t wparam,
                           intptr_t lparam, int32_t *reply) {
    (void)hwnd, (void)message, (void)wparam;
    debugprint(&ddrawtrace, 15, "[INIT] lib_setdisplaymode\n");
    *reply = 0;
    if (!canserve(record)) {
        grfop_pending = -1;
        return 1;
    }
    disposesurfaces(record);
    const int32_t m = int32_t(lparam);
    if (m == MODE_NONE) {
        grfop_error = nullptr;
        grfop_pending = 0;
        return 1;
    }
    const int32_t v = setdisplaymode(record, m);
    if (v == -1) {
        /* No exclusive access (another application has the display): again once the
         * application is active. */
        grfop_error = "RETRY";
        grfop_pending = -1;
    } else if (v == 0) {
        grfop_error = "MODE";
        grfop_pending = 0;
    } else if (configwindisplay(record) != 0) {
        grfop_error = nullptr;
        grfop_pending = 0;
    } else if (grfop_error.load() == nullptr) {
        grfop_error = "RETRY";
        grfop_pending = -1;
    } else {
        grfop_pending = 0;
    }
    return 1;
}

int32_t selectddrawmode(displayrecord *record) {
    int32_t ok;
    if (at(record->fullscreen).load() == 0) {
        ok = trymode(MODE_DEFAULT);
    } else {
        ok = searchmodes(record);
    }
    debugprint(&ddrawtrace, 15, "[INIT] havemode %d\n", ok);
    if (ok == 0) {
        debugprint(&ddrawtrace, 15, "[INIT] all video modes failed\n");
    }
    return ok;
}

int32_t setgraphicsmode(int32_t mode) {
    const int32_t changed = applygraphicsflags();
    int32_t ok = 0;
    if (initddrawgraphics(changed) != 0) {
        if (mode < 0 || mode >= display.modecount) {
            mode = MODE_DEFAULT;
        }
        ok = trymode(mode);
        publishdisplay();
    } else {
        graphicsstate = 0;
    }
    return graphicsstate == GRAPHICS_UP ? ok : 0;
}

void publishdisplay(void) {
    screenwidth = display.width;
    screenheight = display.height;
    screendepth = display.depth;
    screenmode = display.modeindex;
    viewwidth = screenwidth - viewx;
    viewheight = screenheight - viewy;
    /* The page count is the program's request for the next initialisation too: a
     * display that got no windows (its mode failed) leaves the request as it was. */
    const int32_t windows =
        (display.screenwindow != nullptr ? 1 : 0) + (display.backwindow != nullptr ? 1 : 0);
    if (windows != 0) {
        graphicspages = windows;
    }
    displaypages = display.pages;
    displaybankswitched = display.bankswitched;
    releasedisplaywindow();
}

int32_t reinitgraphics(void) {
    const int32_t mode = display.modeindex;
    closemainwindow();
    return setgraphicsmode(mode);
}

void restoregraphics(void) {
    releasedisplaywindow();
    if (restoregraphicshook != nullptr) {
        restoregraphicshook();
        return;
    }
    debugprint(&ddrawtrace, 5, "[INIT] restoring graphics\n");
    if (mainwindow() != nullptr) {
        closemainwindow();
    }
    if (graphicsstate == GRAPHICS_UP) {
        if (standbywindow != nullptr) {
            removewindow(standbywindow);
            standbywindow = nullptr;
        }
        closerow();
        graphicsstate = 0;
        if (fatallockhook == graphicsfatalhook) {
            fatallockhook = nullptr;
        }
    }
    debugprint(&ddrawtrace, 5, "[INIT] restore completed\n");
}

critsection *graphicsfatalhook(void) {
    if (isthread(nullptr) != 0) {
        restoregraphics();
        return nullptr;
    }
    if (liblock == nullptr) {
        return nullptr;
    }
    /* Stays entered: drawing threads stop at their next lock while the report shows. */
    enterlock(liblock);
    HWND window = mainwindow();
    if (window != nullptr) {
        ShowWindow(window, SW_MINIMIZE);
    }
    return liblock;
}
