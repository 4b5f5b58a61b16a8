/*
 * mono.cpp - win\mono: the text debug screen, 80 x 25 character cells.
 *
 *   page (4000 bytes)                     cell (2 bytes)
 *   +-----------------------+ 0           +-----------+-----------+
 *   | row 0 .. top-1        |  fixed      | character | attribute |
 *   +-----------------------+ top*160     +-----------+-----------+
 *   | row top .. 24         |  scrolls      cursor = byte offset of the next cell
 *   +-----------------------+ 4000
 *
 * The screen once lived in the monochrome adapter's text memory at 0xB0000 (page n at
 * 0xB0000 + n * 0x8000). A process cannot reach that memory, so each page is a
 * 4000-byte region of our own: MONO_PAGES of them in static storage, zero at start,
 * readable and writable through monoscreen. The base address is kept as the value the
 * page setter computes; a base that names no page here makes output do nothing.
 *
 * Threads and locks: output, clear and the top row run under the screen lock (a
 * library lock created on first use, never deleted). Attribute, tab width and base
 * address are single stores without it, as their setters take no lock; they are
 * atomics so that a setter racing with output is still well-defined.
 */
#include "thistle/mono.h"

#include "thistle/threads.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>

int32_t monolevel = 2;

namespace {

constexpr int32_t rowbytes = 160;
constexpr int32_t screenbytes = MONO_PAGEBYTES;
constexpr int32_t lastrow = 3840; /* byte offset of row 24 */
constexpr uint32_t monobasefirst = 0xB0000;
constexpr uint32_t monopagestep = 0x8000;
constexpr size_t printfsize = 256;

uint8_t pages[MONO_PAGES][MONO_PAGEBYTES];

/* Under the screen lock. A tab may send the cursor past the last cell, far past it with
 * a wide tab (hence 64 bits); a following character or line feed then scrolls. */
int64_t cursor = 0x780; /* row 12, column 0 */
int32_t toprow = 0;

std::atomic<int32_t> attribute{0x07};
std::atomic<int32_t> tabwidth{8};
std::atomic<uint32_t> monobase{monobasefirst};

critsection *screenlock() {
    static critsection *lock = createlock();
    return lock;
}

void lockscreen() {
    if (critsection *lock = screenlock()) {
        enterlock(lock);
    }
}

void unlockscreen() {
    if (critsection *lock = screenlock()) {
        leavelock(lock);
    }
}

/* The page the base address names, or null. */
uint8_t *currentpage() {
    uint32_t base = monobase.load(std::memory_order_relaxed);
    if (base < monobasefirst || (base - monobasefirst) % monopagestep != 0) {
        return nullptr;
    }
    return monoscreen((int32_t)((base - monobasefirst) / monopagestep));
}

/* Scrolls the region below the top row by one row once the cursor is past the last
 * cell: rows top+1..24 move up over row top, row 24 is cleared. */
void scrollifneeded(uint8_t *screen) {
    if (cursor < screenbytes) {
        return;
    }
    memmove(screen + toprow * rowbytes, screen + (toprow + 1) * rowbytes,
            (size_t)((24 - toprow) * rowbytes));
    memset(screen + lastrow, 0, rowbytes);
    cursor = lastrow;
}

/* The body of monoputs; the caller holds the screen lock. */
void putlocked(const char *text) {
    uint8_t *screen = currentpage();
    if (screen == nullptr || text == nullptr) {
        return;
    }
    bool escape = false; /* an escape left at the end of a text is dropped */
    for (const unsigned char *p = (const unsigned char *)text; *p != 0; p++) {
        unsigned char c = *p;
        if (escape) {
            attribute.store(c, std::memory_order_relaxed);
            escape = false;
            continue;
        }
        if (c >= 32) {
            scrollifneeded(screen);
            screen[cursor] = c;
            screen[cursor + 1] = (uint8_t)attribute.load(std::memory_order_relaxed);
            cursor += 2;
            continue;
        }
        switch (c) {
        case 8:
            if (cursor >= 2) {
                cursor -= 2;
            }
            break;
        case 9: {
            int64_t tab = tabwidth.load(std::memory_order_relaxed);
            if (tab > 1) {
                int64_t column = (cursor % rowbytes) / 2;
                cursor = (cursor - cursor % rowbytes) + (column / tab + 1) * tab * 2;
            }
            break;
        }
        case 10:
            cursor = cursor - cursor % rowbytes + rowbytes;
            scrollifneeded(screen);
            break;
        case 11:
            cursor = toprow * rowbytes;
            break;
        case 12:
            memset(screen, 0, screenbytes);
            cursor = toprow * rowbytes;
            break;
        case 14:
            escape = true;
            break;
        default:
            break;
        }
    }
}

void vprintfat(int32_t column, int32_t row, bool move, const char *format, va_list args) {
    char text[printfsize];
    vsnprintf(text, sizeof text, format, args);
    lockscreen();
    if (move && column >= 0 && column < 80 && row >= 0 && row < 25) {
        cursor = (row * 80 + column) * 2;
    }
    putlocked(text);
    unlockscreen();
}

} // namespace

/* Formats into 256 bytes (cutting longer text) and writes it under the screen lock. */
void monoprintf(const char *format, ...) {
    if (monolevel < 2) {
        return;
    }
    va_list args;
    va_start(args, format);
    vprintfat(0, 0, false, format, args);
    va_end(args);
}

/* As monoprintf, with the cursor first moved to (column, row) when that cell exists. */
void monoprintfat(int32_t column, int32_t row, const char *format, ...) {
    if (monolevel < 2) {
        return;
    }
    va_list args;
    va_start(args, format);
    vprintfat(column, row, true, format, args);
    va_end(args);
}

/* Writes text at the cursor under the screen lock (see the header for the bytes). */
void monoputs(const char *text) {
    if (monolevel < 2) {
        return;
    }
    lockscreen();
    putlocked(text);
    unlockscreen();
}

/* Zeroes all 4000 bytes of the current page; the cursor stays. */
void monoclear(void) {
    if (monolevel < 2) {
        return;
    }
    lockscreen();
    if (uint8_t *screen = currentpage()) {
        memset(screen, 0, screenbytes);
    }
    unlockscreen();
}

/* Sets the first scrolling row when 0 <= row <= 24. */
void monosettop(int32_t row) {
    if (row < 0 || row > 24) {
        return;
    }
    lockscreen();
    toprow = row;
    unlockscreen();
}

/* Sets the attribute byte of following characters (the low byte of attribute). */
void monosetattr(int32_t value) {
    attribute.store(value & 0xFF, std::memory_order_relaxed);
}

/* Sets the tab width when width >= 1. */
void monosettab(int32_t width) {
    if (width >= 1) {
        tabwidth.store(width, std::memory_order_relaxed);
    }
}

/* Base address 0xB0000 + page * 0x8000 (computed modulo 2^32, as the 32-bit address
 * arithmetic it stands for). */
void monosetpage(int32_t page) {
    monobase.store(monobasefirst + (uint32_t)page * monopagestep, std::memory_order_relaxed);
}

/* The position is not reported: both outputs get 0. */
void monogetcursor(uint8_t *column, uint8_t *row) {
    if (column != nullptr) {
        *column = 0;
    }
    if (row != nullptr) {
        *row = 0;
    }
}

/* The 4000 bytes of page n, or null outside 0..MONO_PAGES-1. */
uint8_t *monoscreen(int32_t page) {
    if (page < 0 || page >= MONO_PAGES) {
        return nullptr;
    }
    return pages[page];
}
