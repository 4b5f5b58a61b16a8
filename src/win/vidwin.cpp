/*
 * win\vidwin - video windows: raster window records whose pixels belong to a display
 * surface (see thistle/vidwin.h).
 *
 * A video window has no shape header: data is the surface's first pixel, rows are
 * (0, pitch, 0) and columns (0, bpp rounded up to even, 3) runs of the row table. The
 * surface's address and pitch hold only while it is locked, so the display layer calls
 * updatevideowindow after every lock. The screen and back window records are built in and
 * reused; any other video window is a "VIDWIND" block just large enough for the record.
 *
 * Threads: no locks; callers serialise use of the row table. Every failure is a fatal
 * report, made whether or not reporterrors is set; a report that returns gives null.
 * Depends on: win\ddraw for the surfaces of videowindowdefadr and page locking.
 */
#include "thistle/vidwin.h"

#include "thistle/ddraw.h"
#include "thistle/diag.h"
#include "thistle/initgrf.h"
#include "thistle/memstd.h"
#include "thistle/row.h"
#include "thistle/startup.h"
#include "thistle/window.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

// The state both built-in records start in: the 640 x 480 8-bit screen at 0xA0000.
rasterwindow builtinrecord(void) {
    rasterwindow w{};
    w.id = WINDOW_ID;
    w.width = 640;
    w.height = 480;
    w.maxx = 640;
    w.maxy = 480;
    w.bpp = 8;
    w.type = 0x7B;
    w.data = reinterpret_cast<uint8_t *>(static_cast<uintptr_t>(0xA0000));
    w.pitch = 640;
    return w;
}

bool isbuiltin(const rasterwindow *window) {
    return window == &libscreenwindow || window == &libbackwindow;
}

// Reserves the record with the memory classes' own report switched off: the failure is
// reported once, here, with the window's size in it.
rasterwindow *reserverecord(int32_t memclass) {
    int32_t saved = reporterrors;
    reporterrors = 0;
    void *block = reservememadr("VIDWIND", sizeof(rasterwindow), static_cast<uint32_t>(memclass));
    reporterrors = saved;
    return static_cast<rasterwindow *>(block);
}

// Gives back whichever runs the window holds and clears them.
void droprows(rasterwindow *window) {
    if (window->rows != nullptr) {
        freerows(window->rows);
        window->rows = nullptr;
    }
    if (window->cols != nullptr) {
        freerows(window->cols);
        window->cols = nullptr;
    }
}

// initvideowindow's work; false (after the report) when a run was refused, in which case
// the window holds no run.
bool fillvideowindow(rasterwindow *record, int32_t width, int32_t height, int32_t pitch,
                     int32_t bpp, void *pixels, IDirectDrawSurface *surface) {
    if (bpp == 0) {
        bpp = screendepth != 0 ? screendepth : 8;
    }
    std::memset(record, 0, sizeof *record);
    record->id = WINDOW_ID;
    record->pitch = pitch;
    record->width = width;
    record->height = height;
    record->maxx = width;
    record->maxy = height;
    record->bpp = static_cast<uint8_t>(bpp);
    record->marker = WINDOW_VIDEOMARKER;
    record->type = static_cast<uint8_t>(windowtype(bpp));
    record->data = static_cast<uint8_t *>(pixels);
    record->surface = surface;
    record->rows = getrows(0, pitch, 0, height);
    record->cols = getrows(0, (bpp + 1) & ~1, 3, width);
    if (record->rows == nullptr || record->cols == nullptr) {
        droprows(record);
        THISTLE_SITE("win\\vidwin");
        fatalerror("makevideowindow - OUT OF ROW SPACE\nrequested: %dx%d\n", width, height);
        return false;
    }
    return true;
}

} // namespace

rasterwindow libscreenwindow = builtinrecord();
rasterwindow libbackwindow = builtinrecord();

/* A video window in the built-in record (memclass -1 screen, -2 back) or a new "VIDWIND"
 * block, which the caller owns until removevideowindow. Null after a report. */
rasterwindow *makevideowindow(int32_t width, int32_t height, int32_t pitch, int32_t bpp,
                              int32_t memclass, void *pixels, IDirectDrawSurface *surface) {
    if (width < 0 || width > VIDWIN_MAXWIDTH || height < 0 || height > VIDWIN_MAXHEIGHT) {
        THISTLE_SITE("win\\vidwin");
        fatalerror("makevideowindow - INVALID WINDOW DIMENSIONS\nrequested: %dx%d maximum: %dx%d\n",
                   width, height, VIDWIN_MAXWIDTH, VIDWIN_MAXHEIGHT);
        return nullptr;
    }
    rasterwindow *record;
    if (memclass == VIDWIN_SCREEN) {
        record = &libscreenwindow;
    } else if (memclass == VIDWIN_BACK) {
        record = &libbackwindow;
    } else {
        record = reserverecord(memclass);
        if (record == nullptr) {
            THISTLE_SITE("win\\vidwin");
            fatalerror("makevideowindow - OUT OF MEMORY\nrequested: %dx%d available: %d\n", width,
                       height, largestmemblock(memclass));
            return nullptr;
        }
    }
    if (!fillvideowindow(record, width, height, pitch, bpp, pixels, surface)) {
        if (!isbuiltin(record)) {
            purgememadr(record);
        }
        return nullptr;
    }
    return record;
}

/* Makes record a video window over pixels of surface and takes its runs; a refused run
 * is a fatal report and leaves the record without runs. */
void initvideowindow(rasterwindow *record, int32_t width, int32_t height, int32_t pitch,
                     int32_t bpp, void *pixels, IDirectDrawSurface *surface) {
    fillvideowindow(record, width, height, pitch, bpp, pixels, surface);
}

/* Points the window at the surface memory of the current lock. The old row run is given
 * back before the new one is taken, so a run that other windows share stays theirs. */
void updatevideowindow(rasterwindow *window, int32_t pitch, void *pixels) {
    if (window == nullptr) {
        window = &currentwindow;
    }
    window->data = static_cast<uint8_t *>(pixels);
    if (pitch != window->pitch) {
        if (window->rows != nullptr) {
            freerows(window->rows);
        }
        window->pitch = pitch;
        window->rows = getrows(0, pitch, 0, window->height);
        if (window->rows == nullptr) {
            THISTLE_SITE("win\\vidwin");
            fatalerror("updatevideowindow - OUT OF ROW SPACE\nrequested: %dx%d\n", window->width,
                       window->height);
        }
    }
    window->minx = std::min(window->minx, window->width);
    window->miny = std::min(window->miny, window->height);
    window->maxx = std::max(std::min(window->maxx, window->width), window->minx);
    window->maxy = std::max(std::min(window->maxy, window->height), window->miny);
}

/* Gives the runs back and purges the record, except the built-in ones, which stay for
 * the next makevideowindow. The surface is not touched. */
void removevideowindow(rasterwindow *window) {
    droprows(window);
    if (!isbuiltin(window)) {
        purgememadr(window);
    }
}

/* An off-screen surface of the display's depth and a video window over it; null when
 * either fails (a failed window releases the surface). */
rasterwindow *videowindowdefadr(int32_t width, int32_t height, int32_t bpp, int32_t memclass,
                                uint32_t options) {
    if (bpp != 0 && bpp != screendepth) {
        THISTLE_SITE("win\\vidwin");
        fatalerror("videowindowdefadr - DEPTHS DIFFERENT THAN THAT OF THE DISPLAY NOT YET "
                   "SUPPORTED.\n");
        return nullptr;
    }
    // The surface takes the primary's pixel format (format 0), so the bit count is the
    // display's own.
    IDirectDrawSurface *surface =
        makesurface(&display, width, height, display.bitcount, 0, 0, options, nullptr);
    if (surface == nullptr) {
        return nullptr;
    }
    int32_t w = 0, h = 0, depth = 0, pitch = 0;
    void *pixels = nullptr;
    getsurfaceinfo(surface, &w, &h, &depth, &pitch, &pixels);
    rasterwindow *window = makevideowindow(w, h, pitch, depth, memclass, pixels, surface);
    if (window == nullptr) {
        releasesurface(&display, surface);
    }
    return window;
}

/* Page-locks the window's surface memory: the display's result. Without a surface
 * nothing is done and the result is 1, which is no display result. */
int32_t pagelockvideowindow(rasterwindow *window) {
    return window->surface != nullptr ? pagelocksurface(window->surface) : 1;
}

/* Page-unlocks the window's surface memory, like pagelockvideowindow. */
int32_t pageunlockvideowindow(rasterwindow *window) {
    return window->surface != nullptr ? pageunlocksurface(window->surface) : 1;
}
