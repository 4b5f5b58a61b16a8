/*
 * window.cpp - the first program to run: opens the main window and shows what a game
 * reads from the keyboard and the mouse.
 *
 *   thistle-window [-raw] [width height]
 *
 * Each key getkey returns prints its key code in hex with the character, or the name of
 * an extended key (4B00 is the left cursor key, 3B00 F1). With -raw the keys are read
 * by scan code through the layout tables (startkeys), as a game that wants Alt and Ctrl
 * combinations does; otherwise the window system makes the characters. Mouse moves print
 * the position, button changes the buttons (bit 0 left, bit 1 right, bit 2 middle); the
 * mouse is kept inside a box 16 pixels in from the window's edges, which is drawn in
 * white on the display (graphics started windowed at the window's size). Closing the
 * window ends the program, and with -raw also Ctrl+Escape.
 * On Linux the window appears on the desktop (SDL); with THISTLE_VIDEO=null nothing is
 * shown and no input arrives. See docs/keys.md for the codes.
 */
#include "thistle.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

std::atomic<int> quit{0};

void quitrequested(void) {
    quit = 1;
}

/* Names of the extended keys without modifiers. */
const char *extendedname(int32_t code) {
    static const struct {
        int32_t code;
        const char *name;
    } names[] = {
        {0x3B00, "F1"},    {0x3C00, "F2"},     {0x3D00, "F3"},     {0x3E00, "F4"},
        {0x3F00, "F5"},    {0x4000, "F6"},     {0x4100, "F7"},     {0x4200, "F8"},
        {0x4300, "F9"},    {0x4400, "F10"},    {0x8700, "F11"},    {0x8800, "F12"},
        {0x4700, "Home"},  {0x4800, "Up"},     {0x4900, "PgUp"},   {0x4B00, "Left"},
        {0x4C00, "Pad 5"}, {0x4D00, "Right"},  {0x4F00, "End"},    {0x5000, "Down"},
        {0x5100, "PgDn"},  {0x5200, "Insert"}, {0x5300, "Delete"}, {0x8F00, "Shift+Tab"},
    };
    for (const auto &entry : names) {
        if (entry.code == code) {
            return entry.name;
        }
    }
    return (code & 0xFF) == 0 ? "extended" : "";
}

void printkey(int32_t code) {
    if (code >= 0x20 && code < 0x7F) {
        std::printf("key %04X '%c'\n", (unsigned)code, (int)code);
    } else if (code < 0x20) {
        std::printf("key %04X ^%c\n", (unsigned)code, (int)code + '@');
    } else {
        std::printf("key %04X %s\n", (unsigned)code, extendedname(code));
    }
}

/* Draws the outline of the box (x0, y0)-(x1, y1) in white through the screen window:
 * every byte of a pixel 0xFF is white at any depth (entry 255 of the default palette). */
void drawbox(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    if (!displaywindow()) {
        return;
    }
    const rasterwindow &w = currentwindow;
    int bytes = (w.bpp + 7) / 8;
    auto plot = [&](int32_t x, int32_t y) {
        if (x >= 0 && y >= 0 && x < w.width && y < w.height) {
            std::memset(static_cast<uint8_t *>(w.data) + w.rows[y] + w.cols[x], 0xFF, bytes);
        }
    };
    for (int32_t x = x0; x <= x1; x++) {
        plot(x, y0);
        plot(x, y1);
    }
    for (int32_t y = y0; y <= y1; y++) {
        plot(x0, y);
        plot(x1, y);
    }
    releasedisplaywindow(); /* the unlock shows it */
}

/* The memory the library's windows and tables come from. */
alignas(16) uint8_t memory[4 << 20];

} // namespace

int main(int argc, char **argv) {
    bool raw = argc > 1 && std::strcmp(argv[1], "-raw") == 0;
    int first = raw ? 2 : 1;
    int32_t width = argc > first + 1 ? std::atoi(argv[first]) : 640;
    int32_t height = argc > first + 1 ? std::atoi(argv[first + 1]) : 480;
    static char name[] = "thistle-window";
    applicationname = name;
    applicationquitfunc = quitrequested;
    if (creatememclass(0, "window", memory, sizeof memory, 16, 16, 0, 0, 0, 1, 0, 0) <= 0) {
        std::fprintf(stderr, "thistle-window: no memory class\n");
        return 1;
    }
    graphicsflags &= ~GRF_FULLSCREEN; /* a window of width x height on the desktop */
    initgraphics(width, height, 8);
    if (graphicsstate == 0) {
        const char *why = grfop_error;
        std::fprintf(stderr, "thistle-window: graphics did not start (%s)\n",
                     why ? why : "no mode");
        return 1;
    }
    inittimer(100);
    if (raw) {
        startkeys();
    }
    initmouse();
    setmousebox(16, 16, width - 17, height - 17);
    drawbox(16, 16, width - 17, height - 17);
    std::printf("window open (%dx%d, %s keys): type, move the mouse, click; close the window "
                "to end\n",
                width, height, raw ? "raw" : "window system");
    std::fflush(stdout);

    int32_t lastx = -1, lasty = -1, lastbuttons = -1;
    while (!quit) {
        int32_t code = inkeywait(1);
        if (code != 0) {
            printkey(code);
        }
        int32_t buttons, x, y;
        getmouse(&buttons, &x, &y);
        if (x != lastx || y != lasty) {
            std::printf("mouse at %d,%d\n", x, y);
            lastx = x;
            lasty = y;
        }
        if (buttons != lastbuttons) {
            std::printf("mouse buttons %d\n", buttons);
            lastbuttons = buttons;
        }
        std::fflush(stdout);
    }
    stopkeys();
    restoregraphics();
    return 0;
}
