/*
 * gdi.cpp - the brushes a window class paints its background with.
 *
 * There is no drawing here: a brush only records its colour, which the default
 * WM_ERASEBKGND hands to the backend. Handles carry a slot and a generation, so a
 * deleted brush is refused rather than reused by mistake.
 * Locks: one lock around the brush table. Limits: 256 brushes at a time.
 */
#include "user.h"

namespace {

constexpr int maxbrushes = 256;
/* Handle layout: 0x0B gggg ss (tag, generation 1..FFFF, slot). */
constexpr uintptr_t brushtag = 0x0B000000;
/* The stock black brush: a fixed handle outside the table that DeleteObject ignores. */
constexpr uintptr_t stockblack = 0x0A000000 | BLACK_BRUSH;

struct brushrec {
    bool used;
    uint16_t gen;
    COLORREF colour;
};

std::mutex brushlock;
brushrec brushes[maxbrushes];

brushrec *findbrush(HGDIOBJ h) {
    uintptr_t v = (uintptr_t)h;
    if ((v & 0xFF000000u) != brushtag || v > 0xFFFFFFFFu)
        return nullptr;
    brushrec *b = &brushes[v & 0xFF];
    return b->used && b->gen == (uint16_t)(v >> 8) ? b : nullptr;
}

} // namespace

bool platuser::brushcolour(HBRUSH brush, COLORREF *colour) {
    if ((uintptr_t)brush == stockblack) {
        *colour = RGB(0, 0, 0);
        return true;
    }
    platuser::userguard guard(brushlock);
    brushrec *b = findbrush(brush);
    if (b)
        *colour = b->colour;
    return b != nullptr;
}

/* A brush of one colour; null with ERROR_NOT_ENOUGH_MEMORY when the table is full. */
HBRUSH WINAPI CreateSolidBrush(COLORREF color) {
    platuser::userguard guard(brushlock);
    for (int i = 0; i < maxbrushes; i++) {
        brushrec *b = &brushes[i];
        if (b->used)
            continue;
        b->used = true;
        b->gen = (uint16_t)(b->gen == 0xFFFF ? 1 : b->gen + 1);
        b->colour = color & 0x00FFFFFF;
        return (HBRUSH)(brushtag | ((uintptr_t)b->gen << 8) | (uintptr_t)i);
    }
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

/* BLACK_BRUSH; every other stock object is unknown here and gives null. */
HGDIOBJ WINAPI GetStockObject(int i) {
    if (i == BLACK_BRUSH)
        return (HGDIOBJ)stockblack;
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
}

/* Frees a brush; a stock object is left alone (TRUE). FALSE for unknown handles. */
BOOL WINAPI DeleteObject(HGDIOBJ ho) {
    if ((uintptr_t)ho == stockblack)
        return TRUE;
    platuser::userguard guard(brushlock);
    brushrec *b = findbrush(ho);
    if (!b) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    b->used = false;
    return TRUE;
}
