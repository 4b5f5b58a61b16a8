/*
 * mouse.cpp - win\mouse: the tracked mouse state fed by the window thread (see
 * thistle/mouse.h).
 *
 * Threads and locks: mouseevent runs on the window thread and stores the tracked state
 * under the input lock (the handler-table lock, made by startkeys or the first
 * openmainwindow); getmouse copies it out without one. setmousepos writes it from a
 * program thread with the display let go (main thread) or inside liblock (others).
 */
#include "thistle/mouse.h"

#include "thistle/createw.h"
#include "thistle/initgrf.h"
#include "thistle/startup.h"
#include "thistle/threads.h"
#include "thistle/window.h"

#include <atomic>

namespace {

int32_t nothing(int32_t) {
    return 0;
}

int32_t hidehook(int32_t) {
    return hidemouse();
}

int32_t showhook(int32_t) {
    return showmouse();
}

/* The state is shared between the window thread and programs' threads without a lock
 * on the reading side: each word is read and written whole. */
int32_t get(int32_t &field) {
    return std::atomic_ref<int32_t>(field).load(std::memory_order_relaxed);
}

void put(int32_t &field, int32_t value) {
    std::atomic_ref<int32_t>(field).store(value, std::memory_order_relaxed);
}

void copyout(int32_t *destination, int32_t &field) {
    if (destination != nullptr) {
        *destination = get(field);
    }
}

/* The default read hook: publishes the tracked state, answers the buttons. */
int32_t readhook(int32_t) {
    int32_t buttons = get(mousetrackbuttons);
    put(mousex, get(mousetrackx));
    put(mousey, get(mousetracky));
    put(mousebuttons, buttons);
    return buttons;
}

int32_t clamp(int32_t value, int32_t low, int32_t high) {
    if (value < low) {
        return low;
    }
    if (value > high) {
        return high;
    }
    return value;
}

} // namespace

mousehookfunction mousehooks[MOUSE_HOOKS] = {nothing, nothing, nothing, nothing, nothing,
                                             nothing, nothing, nothing, nothing};
int32_t mousetracking = 0;
int32_t mouseminx = 0, mouseminy = 0, mousemaxx = 0, mousemaxy = 0;
int32_t mousetrackx = 0, mousetracky = 0, mousetrackbuttons = 0;
int32_t mousex = 0, mousey = 0, mousebuttons = 0;
int32_t mouseshowcount = 0;

/* The box spans the screen as graphics initialisation published it; like the rest of
 * the box, its far corner is inclusive. */
int32_t initmouse(void) {
    put(mouseminx, 0);
    put(mouseminy, 0);
    put(mousemaxx, screenwidth);
    put(mousemaxy, screenheight);
    put(mouseshowcount, 0);
    mousehooks[0] = hidehook;
    mousehooks[1] = hidehook;
    mousehooks[2] = showhook;
    mousehooks[3] = readhook;
    put(mousetracking, 1);
    return 1;
}

void mouseevent(int32_t x, int32_t y, int32_t buttons, int32_t notify) {
    critsection *lock = std::atomic_ref<critsection *>(winmessagelock).load();
    if (get(mousetracking) == 0 || lock == nullptr) {
        return;
    }
    int32_t cx = clamp(x, get(mouseminx), get(mousemaxx));
    int32_t cy = clamp(y, get(mouseminy), get(mousemaxy));
    enterlock(lock);
    put(mousetrackbuttons, buttons);
    if (cx != x || cy != y) {
        placecursor(nullptr, cx, cy);
    }
    put(mousetrackx, cx);
    put(mousetracky, cy);
    leavelock(lock);
    if (notify != 0 && mousehooks[4] != nullptr) {
        mousehooks[4](buttons);
    }
}

void setmousebox(int32_t minx, int32_t miny, int32_t maxx, int32_t maxy) {
    put(mouseminx, minx);
    put(mouseminy, miny);
    put(mousemaxx, maxx);
    put(mousemaxy, maxy);
    mouseevent(get(mousetrackx), get(mousetracky), get(mousetrackbuttons), 0);
}

void getmousebox(int32_t *minx, int32_t *miny, int32_t *maxx, int32_t *maxy) {
    copyout(minx, mouseminx);
    copyout(miny, mouseminy);
    copyout(maxx, mousemaxx);
    copyout(maxy, mousemaxy);
}

int32_t readmouse(void) {
    return mousehooks[3](0);
}

/* Moving the cursor needs the window thread; a surface the main thread holds locked
 * (liblock with it) could keep that thread waiting, so the main thread lets its display
 * go meanwhile. Other threads just keep drawing threads out with liblock. */
void setmousepos(int32_t x, int32_t y) {
    const bool mainthread = isthread(nullptr) != 0;
    rasterwindow saved[2];
    if (mainthread) {
        savedisplaywindows(saved);
        releasedisplaywindow();
    } else {
        enterlock(liblock);
    }
    int32_t cx = clamp(x, get(mouseminx), get(mousemaxx));
    int32_t cy = clamp(y, get(mouseminy), get(mousemaxy));
    put(mousetrackx, cx);
    put(mousetracky, cy);
    put(mousex, cx);
    put(mousey, cy);
    placecursor(nullptr, cx, cy);
    if (mainthread) {
        restoredisplaywindows(saved);
    } else {
        leavelock(liblock);
    }
}

void getmouse(int32_t *buttons, int32_t *x, int32_t *y) {
    copyout(buttons, mousetrackbuttons);
    copyout(x, mousetrackx);
    copyout(y, mousetracky);
}

int32_t showmouse(void) {
    return std::atomic_ref<int32_t>(mouseshowcount).fetch_add(1) + 1;
}

int32_t hidemouse(void) {
    return std::atomic_ref<int32_t>(mouseshowcount).fetch_sub(1) - 1;
}
