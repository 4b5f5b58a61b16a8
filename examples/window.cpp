/*
 * window.cpp - the first program to run: opens the main window and prints what arrives
 * from the keyboard and the mouse.
 *
 *   thistle-window [width height]
 *
 * Each key press that reaches the key queue prints its entry: the key code (a character,
 * or an extended key's code such as 4B00 for the left cursor key), the scan code and the
 * extended flag. Mouse moves print the position, button presses the buttons (bit 0 left,
 * bit 1 right, bit 2 middle). Closing the window ends the program.
 * On Linux the window appears on the desktop (SDL); with THISTLE_VIDEO=null nothing is
 * shown and no input arrives.
 */
#include "thistle.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace {

std::atomic<int> quit{0};

void quitrequested(void) {
    quit = 1;
}

/* Called on the window thread for every button press. */
int32_t buttonpressed(int32_t buttons) {
    std::printf("mouse buttons %d\n", buttons);
    std::fflush(stdout);
    return 0;
}

void printkey(uint32_t entry) {
    uint32_t code = entry >> 16;
    uint32_t scan = (entry >> 8) & 0xFF;
    uint32_t extended = entry & 0xFF;
    if (code >= 0x20 && code < 0x7F)
        std::printf("key %04X '%c'  scan %02X  extended %u\n", code, (int)code, scan, extended);
    else
        std::printf("key %04X      scan %02X  extended %u\n", code, scan, extended);
}

} // namespace

int main(int argc, char **argv) {
    int32_t width = argc > 2 ? std::atoi(argv[1]) : 640;
    int32_t height = argc > 2 ? std::atoi(argv[2]) : 480;
    static char name[] = "thistle-window";
    applicationname = name;
    applicationquitfunc = quitrequested;
    if (openmainwindow(width, height, 0) == nullptr) {
        std::fprintf(stderr, "thistle-window: the main window did not open\n");
        return 1;
    }
    initmouse();
    mousehooks[4] = buttonpressed;
    std::printf("window open (%dx%d): type, move the mouse, click; close the window to end\n",
                width, height);
    std::fflush(stdout);

    int32_t lastx = -1, lasty = -1;
    while (!quit) {
        enterlock(keyqueue.lock);
        while (keyqueue.read != keyqueue.write) {
            printkey(keyqueue.entries[keyqueue.read]);
            keyqueue.read = (keyqueue.read + 1) % keyqueue.size;
        }
        leavelock(keyqueue.lock);
        int32_t buttons, x, y;
        getmouse(&buttons, &x, &y);
        if (x != lastx || y != lasty) {
            std::printf("mouse at %d,%d\n", x, y);
            lastx = x;
            lasty = y;
        }
        std::fflush(stdout);
        runsystemtasks(0);
        sleepms(10);
    }
    closemainwindow();
    return 0;
}
