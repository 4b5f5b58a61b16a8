/*
 * startup.cpp - win\startup: the application's name and the library's display record.
 *
 * Only the globals other modules read so far; the main window, its thread and message
 * loop join them here. Threads: see thistle/startup.h.
 */
#include "thistle/startup.h"

char *applicationname = nullptr;

/* No device, no window, the default mode and no palette change pending; the window
 * and display modules fill in the rest. */
displayrecord display = {
    .directdraw = nullptr,
    .clipper = nullptr,
    .modecount = 0,
    .modeindex = -1,
    .modelist = nullptr,
    .width = 0,
    .height = 0,
    .bitcount = 0,
    .memclass = 0,
    .palette = nullptr,
    .entries = {},
    .dirtyfirst = 256,
    .dirtylast = -1,
    .sysmemback = 0,
    .drambuffer = 0,
    .libmemback = 0,
    .pagesrequested = 0,
    .lockedsurface = nullptr,
    .lockedpixels = nullptr,
    .primary = nullptr,
    .back = nullptr,
    .screenwindow = nullptr,
    .backwindow = nullptr,
    .hwnd = nullptr,
    .depth = 0,
    .fullscreen = 0,
    .modexrequested = 0,
    .ismodex = 0,
    .canflip = 0,
    .bankswitched = 0,
    .pages = 0,
    .originx = 0,
    .originy = 0,
    .createcount = 0,
    .appactive = 0,
};
