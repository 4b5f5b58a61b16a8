/*
 * window.cpp - win\window: the current display window (see thistle/window.h).
 *
 * Drawing goes to currentwindow, a copy of the window made current. Making a window with
 * a surface current locks the surface (win\ddraw's locksurface, which holds liblock while
 * locked) and points the window at the locked pixels; a failed lock puts the 8 x 8
 * stand-by memory window in its place, so drawing after a failed lock lands somewhere
 * harmless instead of on the display.
 *
 * Threads: the drawing thread; currentwindow and the stand-by window have no lock of
 * their own (liblock is held while a surface window is current).
 */
#include "thistle/window.h"

#include "thistle/createw.h"
#include "thistle/ddraw.h"
#include "thistle/diag.h"
#include "thistle/initgrf.h"
#include "thistle/memstd.h"
#include "thistle/startup.h"
#include "thistle/validwin.h"
#include "thistle/vidwin.h"

/* The record every library window starts as: a 640 x 480 x 8 window over the old VGA
 * address, with no row or column runs and no surface. */
rasterwindow currentwindow = {
    .id = WINDOW_ID,
    .width = 640,
    .height = 480,
    .minx = 0,
    .miny = 0,
    .maxx = 640,
    .maxy = 480,
    .bpp = 8,
    .type = 0x7B,
    .marker = WINDOW_MEMORYMARKER,
    .data = reinterpret_cast<uint8_t *>(0xA0000),
    .pitch = 640,
    .rows = nullptr,
    .cols = nullptr,
    .surface = nullptr,
};

int32_t (*displaywindowhook)(rasterwindow *window) = nullptr;

rasterwindow *standbywindow = nullptr;

int32_t setdisplaywindow(rasterwindow *window) {
    if (window != nullptr && checkwindow(window) == 0) {
        return 0;
    }
    int32_t ok;
    if (displaywindowhook != nullptr) {
        ok = displaywindowhook(window);
    } else if (window != nullptr) {
        ok = locksurface(&display, window->surface, window);
    } else {
        unlocksurface(&display);
        ok = 1;
    }
    if (window == nullptr) {
        /* No window: size 0, but the screen's depth and column offsets, so code that only
         * asks for the depth still gets the display's. */
        const rasterwindow &screen = libscreenwindow;
        currentwindow = rasterwindow{};
        currentwindow.bpp = screen.bpp;
        currentwindow.type = screen.type;
        currentwindow.marker = screen.marker;
        currentwindow.cols = screen.cols;
    } else if (ok != 0) {
        currentwindow = *window;
    } else {
        if (standbywindow == nullptr) {
            standbywindow = createwindow(8, 8, screendepth, defaultmemclass);
        }
        if (standbywindow != nullptr) {
            currentwindow = *standbywindow;
        }
    }
    return ok;
}

int32_t displaywindow(void) {
    if (isdisplaymodex() != 0) {
        THISTLE_SITE("win\\window");
        fatalerror("displaywindow - DOES NOT WORK IN THIS DISPLAY MODE (isdisplaymodex()=%d)\n",
                   isdisplaymodex());
    }
    return setdisplaywindow(getscreenwindow());
}

int32_t backdisplaywindow(void) {
    return setdisplaywindow(getbackwindow());
}

int32_t releasedisplaywindow(void) {
    return setdisplaywindow(nullptr);
}

rasterwindow *getscreenwindow(void) {
    return &libscreenwindow;
}

rasterwindow *getbackwindow(void) {
    return &libbackwindow;
}

void savedisplaywindows(rasterwindow *buffer) {
    buffer[0] = currentwindow;
    buffer[1] = libscreenwindow;
}

int32_t restoredisplaywindows(const rasterwindow *buffer) {
    /* The saved window may have gone since (a rebuilt display): checking it must not
     * end the program. The lock writes the new pixel address into the record it is
     * given, so it gets a copy. */
    const int32_t reporting = reporterrors;
    reporterrors = 0;
    rasterwindow saved = buffer[0];
    const int32_t ok = setdisplaywindow(&saved);
    reporterrors = reporting;
    libscreenwindow = buffer[1];
    return ok;
}

int32_t yielddisplay(void) {
    if (currentwindow.surface == nullptr) {
        return 1;
    }
    if (displaywindowhook != nullptr) {
        rasterwindow saved[2];
        savedisplaywindows(saved);
        releasedisplaywindow();
        restoredisplaywindows(saved);
        return 1;
    }
    return relocksurface(&display);
}
