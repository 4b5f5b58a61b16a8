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
 * mouse is kept inside a box 16 pixels in from the window's edges. Closing the window
 * ends the program, and with -raw also Ctrl+Escape.
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

} // namespace

int main(int argc, char **argv) {
    bool raw = argc > 1 && std::strcmp(argv[1], "-raw") == 0;
    int first = raw ? 2 : 1;
    int32_t width = argc > first + 1 ? std::atoi(argv[first]) : 640;
    int32_t height = argc > first + 1 ? std::atoi(argv[first + 1]) : 480;
    static char name[] = "thistle-window";
    applicationname = name;
    applicationquitfunc = quitrequested;
    if (openmainwindow(width, height, 0) == nullptr) {
        std::fprintf(stderr, "thistle-window: the main window did not open\n");
        return 1;
    }
    inittimer(100);
    if (raw) {
        startkeys();
    }
    initmouse();
    setmousebox(16, 16, width - 17, height - 17);
    /* Once the display is up: draw the box (16, 16)-(width - 17, height - 17) here. */
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
    closemainwindow();
    return 0;
}
