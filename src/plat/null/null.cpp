/*
 * null.cpp - the headless backend: no window system at all.
 *
 * Windows exist only as records (see plat/testhooks.h); input comes only from a test,
 * through the controls of plat/testhooks.h and the layer's sink, so a waiting thread
 * sleeps on its queue. The screen is THISTLE_SCREEN=WxH (default 640x480), read
 * at each query. Message boxes write one line "<caption>: <text>" to standard error
 * and are answered with IDOK at once.
 * Frames: the last one presented is kept as the window showed it (its view rectangle,
 * full screen the whole mode) in the surface's own format with its palette, and turned
 * into 0x00RRGGBB only when a test reads it or a PNG is written. It is kept by reference
 * (the presenter keeps the memory unchanged until the next present returns, and the
 * readers take framelock, which present holds while it changes the reference), so
 * presenting copies no pixels. THISTLE_SCREENSHOT=path writes the PNG at every present,
 * not at exit: ExitProcess ends the process without running exit handlers, and the
 * file should hold the last frame however the program ends. It is written beside the
 * path and renamed over it, so a reader never sees half a file.
 * Threads: any thread may call anything; one lock guards the window records, another
 * the last frame.
 */
#include "plat/testhooks.h"

#include "backend.h"
#include "posix/kernel.h"
#include "posix/user/input.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <png.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct nullwindow {
    HWND hwnd;
    plat_nullwindowinfo info;
};

std::mutex nulllock;
std::vector<nullwindow *> windows;
std::atomic<int> cursorvisible{1};
std::atomic<int> screensaverallowed{1};

int nullinit(void) {
    return 1;
}

void nullshutdown(void) {
    std::lock_guard<std::mutex> guard(nulllock);
    for (nullwindow *w : windows)
        delete w;
    windows.clear();
}

void *nullcreatewindow(const plat_windowdesc *desc) {
    nullwindow *w = new nullwindow{};
    w->hwnd = desc->hwnd;
    w->info.x = desc->x;
    w->info.y = desc->y;
    w->info.width = desc->width;
    w->info.height = desc->height;
    w->info.show = desc->show;
    std::lock_guard<std::mutex> guard(nulllock);
    windows.push_back(w);
    return w;
}

void nullshowwindow(void *win, int show) {
    std::lock_guard<std::mutex> guard(nulllock);
    ((nullwindow *)win)->info.show = show;
}

void nullmovewindow(void *win, int x, int y, int width, int height) {
    std::lock_guard<std::mutex> guard(nulllock);
    plat_nullwindowinfo &i = ((nullwindow *)win)->info;
    i.x = x;
    i.y = y;
    i.width = width;
    i.height = height;
}

/* Only counted: there is no stacking order, and a minimised window stays minimised
 * (the layer's own state says which window is in front). */
void nullraisewindow(void *win) {
    std::lock_guard<std::mutex> guard(nulllock);
    plat_nullwindowinfo &i = ((nullwindow *)win)->info;
    i.raises++;
}

void nulldestroywindow(void *win) {
    std::lock_guard<std::mutex> guard(nulllock);
    std::erase(windows, (nullwindow *)win);
    delete (nullwindow *)win;
}

void nullfillwindow(void *win, COLORREF colour) {
    std::lock_guard<std::mutex> guard(nulllock);
    plat_nullwindowinfo &i = ((nullwindow *)win)->info;
    i.fills++;
    i.colour = colour;
}

int nullpumpevents(int waitms) {
    (void)waitms;
    return 0;
}

void nullwake(void) {}

void nullthreadexit(void) {}

int nullmessagebox(const char *text, const char *caption, UINT type) {
    (void)type;
    plat_writeboxline(caption, text);
    return IDOK;
}

void nullscreensize(int *width, int *height) {
    *width = 640;
    *height = 480;
    const char *s = getenv("THISTLE_SCREEN");
    int w, h;
    char extra;
    if (s && sscanf(s, "%dx%d%c", &w, &h, &extra) == 2 && w > 0 && h > 0) {
        *width = w;
        *height = h;
    }
}

void nullshowcursor(int visible) {
    cursorvisible.store(visible);
}

void nullsetcursorpos(int x, int y) {
    (void)x; /* the layer keeps the position; there is no pointer to move */
    (void)y;
}

void nullscreensaver(int allowed) {
    screensaverallowed.store(allowed);
}

std::mutex framelock;
plat_keptframe last;          /* framelock */
unsigned long framecount = 0; /* framelock */

/* The kept frame as 0x00RRGGBB rows of last.width pixels; framelock held. */
void lastxrgb(uint32_t *out) {
    plat_keptxrgb(&last, RECT{0, 0, last.width, last.height}, out, last.width * 4);
}

/* Encodes rows of 0x00RRGGBB pixels; false when libpng gave up. */
bool encodepng(png_structp png, png_infop info, FILE *file, const uint32_t *xrgb, int width,
               int height, png_byte *row) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_init_io(png, file);
    png_set_IHDR(png, info, (png_uint_32)width, (png_uint_32)height, 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < height; y++) {
        const uint32_t *p = xrgb + (size_t)y * width;
        for (int x = 0; x < width; x++) {
            row[3 * x] = (png_byte)(p[x] >> 16);
            row[3 * x + 1] = (png_byte)(p[x] >> 8);
            row[3 * x + 2] = (png_byte)p[x];
        }
        png_write_row(png, row);
    }
    png_write_end(png, nullptr);
    return true;
}

/* framelock held */
int writepng(const char *path) {
    if (framecount == 0)
        return 0;
    FILE *file = fopen(path, "wb");
    if (!file)
        return 0;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    std::vector<uint32_t> xrgb((size_t)last.width * last.height);
    std::vector<png_byte> row((size_t)last.width * 3);
    lastxrgb(xrgb.data());
    bool ok = info && encodepng(png, info, file, xrgb.data(), last.width, last.height, row.data());
    png_destroy_write_struct(&png, &info);
    return fclose(file) == 0 && ok;
}

void nullpresent(void *, const plat_frame *f) {
    std::lock_guard<std::mutex> guard(framelock);
    plat_holdframe(&last, f);
    framecount++;
    const char *shot = getenv("THISTLE_SCREENSHOT");
    if (shot && *shot) {
        std::string temp = std::string(shot) + ".new";
        if (writepng(temp.c_str()))
            rename(temp.c_str(), shot);
        else
            remove(temp.c_str());
    }
}

} // namespace

unsigned long plat_nulllastframe(int *width, int *height, uint32_t *pixels, size_t maxpixels) {
    std::lock_guard<std::mutex> guard(framelock);
    *width = last.width;
    *height = last.height;
    if (pixels && framecount && maxpixels >= (size_t)last.width * last.height)
        lastxrgb(pixels);
    return framecount;
}

int plat_nullwritepng(const char *path) {
    std::lock_guard<std::mutex> guard(framelock);
    return writepng(path);
}

int plat_nullscreensaver(void) {
    return screensaverallowed.load();
}

const plat_backend plat_nullbackend = {
    .name = "null",
    .description = "headless: no window system",
    .init = nullinit,
    .shutdown = nullshutdown,
    .createwindow = nullcreatewindow,
    .showwindow = nullshowwindow,
    .movewindow = nullmovewindow,
    .raisewindow = nullraisewindow,
    .destroywindow = nulldestroywindow,
    .fillwindow = nullfillwindow,
    .pumpevents = nullpumpevents,
    .wake = nullwake,
    .threadexit = nullthreadexit,
    .messagebox = nullmessagebox,
    .screensize = nullscreensize,
    .showcursor = nullshowcursor,
    .setcursorpos = nullsetcursorpos,
    .screensaver = nullscreensaver,
    .present = nullpresent,
};

void plat_writeboxline(const char *caption, const char *text) {
    std::string line = std::string(caption) + ": " + text + "\n";
    plat_writeall(2, line.data(), line.size());
}

int plat_nullwindow(HWND hwnd, plat_nullwindowinfo *info) {
    HWND focus = platuser::focuswindow();
    std::lock_guard<std::mutex> guard(nulllock);
    for (nullwindow *w : windows) {
        if (w->hwnd == hwnd) {
            *info = w->info;
            info->focus = hwnd == focus;
            return 1;
        }
    }
    return 0;
}

int plat_nullcursorvisible(void) {
    return cursorvisible.load();
}

void plat_nullkey(HWND hwnd, int scan, int extended, int down, int repeats) {
    plat_keyinput(hwnd, scan, extended, down, repeats);
}

void plat_nullvkey(HWND hwnd, int vk, int down, int repeats) {
    bool ext;
    if (int scan = platuser::vktoscan((UINT)vk, &ext))
        plat_keyinput(hwnd, scan, ext, down, repeats);
}

void plat_nullmousemove(HWND hwnd, int x, int y) {
    plat_mousemove(hwnd, x, y);
}

void plat_nullmousebutton(HWND hwnd, int x, int y, int button, int down) {
    plat_mousebutton(hwnd, x, y, button, down);
}

void plat_nullfocus(HWND hwnd, int gained) {
    plat_focus(hwnd, gained);
}
