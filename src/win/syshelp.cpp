/*
 * syshelp.cpp - process and platform helpers: program exit and the exit-function
 * table, the environment, the millisecond clock, the single-instance guard, the screen
 * size, the detection stubs and colour conversion.
 *
 * Exit functions: room for EXIT_FUNCTIONS (32), enough for the library's own (timers,
 * network) and a program's. Each one is handed to std::atexit as it is registered, so
 * that the C runtime keeps a single list: exit functions and the program's own atexit
 * functions run in one reverse order, however the two kinds were interleaved.
 * Threads: the count has its own mutex (registration may come from any thread). The
 * rest is stateless or start-up only.
 */
#include "thistle/syshelp.h"

#include "plat/stdlib.h"
#include "plat/win32.h"
#include "thistle/mono.h"
#include "thistle/palette.h"
#include "thistle/startup.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

int32_t singleinstanceexit = 1;
void *instancemutex = nullptr;

namespace {

std::mutex exitguard;
int exitcount = 0;

/* Palette entries colour matching may pick: 0 to 253; 254 and 255 are left out. */
constexpr uint8_t usableentry(int index) {
    return index < 254 ? 1 : 0;
}
struct usabletable {
    uint8_t entry[256];
};
constexpr usabletable makeusable() {
    usabletable t{};
    for (int i = 0; i < 256; i++) {
        t.entry[i] = usableentry(i);
    }
    return t;
}
constexpr usabletable usable = makeusable();
static_assert(usable.entry[253] == 1 && usable.entry[254] == 0 && usable.entry[255] == 0);

/* The storage applicationname points at when singleinstance fills it. */
char instancename[MAX_PATH];

/* Copies the first word of a command line (a quoted word without its quotes). */
void firstword(const char *line, char *out, size_t size) {
    size_t n = 0;
    if (line != nullptr) {
        while (*line == ' ' || *line == '\t') {
            line++;
        }
        bool quoted = *line == '"';
        if (quoted) {
            line++;
        }
        for (; *line != 0 && n + 1 < size; line++) {
            if (quoted ? *line == '"' : (*line == ' ' || *line == '\t')) {
                break;
            }
            out[n++] = *line;
        }
    }
    out[n] = 0;
}

} // namespace

/* Normal exit with code 0: the exit functions run, the standard streams are flushed. */
[[noreturn]] void exitprogram(void) {
    std::exit(0);
}

/* Registers function with the C runtime's exit list; 0, or -1 when EXIT_FUNCTIONS are
 * registered already (or the runtime refused). A null function takes a place and is
 * skipped at exit. */
int32_t registerexit(void (*function)(void)) {
    std::lock_guard<std::mutex> guard(exitguard);
    if (exitcount >= EXIT_FUNCTIONS) {
        return -1;
    }
    if (function != nullptr && std::atexit(function) != 0) {
        return -1;
    }
    exitcount++;
    return 0;
}

/* Sets "name=value" in the process environment (cut at 511 bytes); returns 0. The
 * platform's _putenv keeps its own copy of the text. */
int32_t setenvironment(const char *name, const char *value) {
    char entry[512];
    snprintf(entry, sizeof entry, "%s=%s", name != nullptr ? name : "",
             value != nullptr ? value : "");
    _putenv(entry);
    return 0;
}

/* Milliseconds since the system started. */
uint32_t getmilliseconds(void) {
    return GetTickCount();
}

/* The single-instance guard (see the header). The mutex handle is kept, never closed:
 * the name stays taken until the process ends. An applicationname set here is cut to
 * MAX_PATH - 1 bytes. */
int32_t singleinstance(const char *name) {
    if (applicationname == nullptr || applicationname[0] == 0) {
        if (name != nullptr) {
            snprintf(instancename, sizeof instancename, "%s", name);
        } else {
            firstword(GetCommandLineA(), instancename, sizeof instancename);
        }
        applicationname = instancename;
    }

    SetLastError(ERROR_SUCCESS);
    instancemutex = CreateMutexA(nullptr, TRUE, name != nullptr ? name : applicationname);
    if (GetLastError() != ERROR_ALREADY_EXISTS) {
        return 0;
    }

    HWND first = FindWindowA(nullptr, applicationname);
    if (first != nullptr) {
        ShowWindow(first, SW_RESTORE);
        SetForegroundWindow(first);
    }
    if (singleinstanceexit == 0) {
        return 1;
    }
    exitprogram();
}

/* The primary screen's width and height, depth 0; null is passed through. */
screensize *getscreensize(screensize *size) {
    if (size != nullptr) {
        size->width = GetSystemMetrics(SM_CXSCREEN);
        size->height = GetSystemMetrics(SM_CYSCREEN);
        size->depth = 0;
    }
    return size;
}

/* Placeholder: warns on the text debug screen, reports the device present. */
int32_t detectdirectdraw(void) {
    monoprintf("WARNING:  detectdirectdraw NOT IMPLEMENTED IN LIBRARY.\n");
    return 1;
}

/* Placeholder: warns on the text debug screen, reports the device present. */
int32_t detectdirect3d(void) {
    monoprintf("WARNING:  detectdirect3d NOT IMPLEMENTED IN LIBRARY.\n");
    return 1;
}

/* Placeholder: warns on the text debug screen, reports the device present. */
int32_t detectdirectsound(void) {
    monoprintf("WARNING:  detectdirectsound NOT IMPLEMENTED IN LIBRARY.\n");
    return 1;
}

/* What detectdirectdraw answers. */
int32_t detecthardware(void) {
    return detectdirectdraw();
}

/* Index of the nearest usable system palette entry (squared distance over red, green
 * and blue; the first of equals wins); 0 when none is nearer than 99999. palette is
 * accepted for the caller's sake and not read. */
int32_t closestcolour(const uint32_t *palette, uint32_t colour) {
    (void)palette;
    const int32_t r = (int32_t)((colour >> 16) & 0xFF);
    const int32_t g = (int32_t)((colour >> 8) & 0xFF);
    const int32_t b = (int32_t)(colour & 0xFF);
    int32_t best = 0;
    int32_t smallest = 99999;
    for (int32_t i = 0; i < 256; i++) {
        if (usable.entry[i] == 0) {
            continue;
        }
        const uint32_t e = systempalette[i];
        const int32_t dr = r - (int32_t)((e >> 16) & 0xFF);
        const int32_t dg = g - (int32_t)((e >> 8) & 0xFF);
        const int32_t db = b - (int32_t)(e & 0xFF);
        const int32_t distance = dr * dr + dg * dg + db * db;
        if (distance < smallest) {
            smallest = distance;
            best = i;
        }
    }
    return best;
}

/* The pixel value of colour at the display's depth: a palette index up to 8 bits,
 * 5:5:5 at 15, 5:6:5 at 16, the colour itself from 24; 0 for depths in between. */
uint32_t colourtopixel(uint32_t colour) {
    const uint8_t depth = display.depth;
    if (depth <= 8) {
        return (uint32_t)closestcolour(systempalette, colour);
    }
    if (depth == 15) {
        return rgbto555(colour);
    }
    if (depth == 16) {
        return rgbto565(colour);
    }
    if (depth >= 24) {
        return colour;
    }
    return 0;
}

/* 5 bits of blue low, 6 of green, 5 of red. */
uint32_t rgbto565(uint32_t colour) {
    return ((colour >> 3) & 0x1F) + ((colour & 0xFC00) >> 5) + ((colour & 0xF80000) >> 8);
}

/* 5 bits each, with the top bit set; black stays 0. */
uint32_t rgbto555(uint32_t colour) {
    if (colour == 0) {
        return 0;
    }
    return ((colour >> 3) & 0x1F) + ((colour & 0xF800) >> 6) + ((colour & 0xF80000) >> 9) + 0x8000;
}

/* 0xAARRGGBB <-> 0xAABBGGRR. */
uint32_t swapredblue(uint32_t colour) {
    return (colour & 0xFF00FF00u) | ((colour & 0xFF) << 16) | ((colour >> 16) & 0xFF);
}
