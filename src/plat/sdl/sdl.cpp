/*
 * sdl.cpp - the SDL2 backend: real windows, keyboard and mouse input, message boxes.
 *
 * Threads: SDL video starts on the thread that first needs the backend (in practice
 * the one that creates the first window). One thread at a time reads events - the
 * "event thread": the creator of the first window, or a later creator when the event
 * thread has no window left, or any thread that waits for messages when there is none -
 * and routes them to the owners of the windows through the sink, so windows of other
 * threads still get their input. Every SDL video call runs under `sdllock`, so no two
 * threads are ever inside SDL video at once, and the lock is only held for the call: the
 * event thread reads what the window system has, then waits without it on its own
 * condition variable, which a wake-up ends at once (the flag under `wakelock` keeps a
 * wake-up that comes before the wait). While waiting it looks at the window system
 * again every `pollms`: a short poll rather than SDL's own blocking wait, which would
 * need the lock held while blocked and an SDL event pushed to end it.
 * Cursor: ShowCursor may come from any thread; the wanted state is recorded and applied
 * by the next SDL call on the event thread or a window creation.
 * Input: keys are reported by their PC scan code, mouse and focus events as they come;
 * the layer's input module (posix/user/input.cpp) makes the messages and characters.
 * Limits: no system-modal boxes (SDL has none; every box is modal to the calling thread): a box
 * with MB_SYSTEMMODAL or MB_SETFOREGROUND takes "always on top" from our windows while
 * it is up, so a topmost full-screen window of ours cannot hide it.
 * Rendering is software: background fills and frames go to each window's own surface
 * (its framebuffer on the window system) directly.
 * Frames of the software display (present) are shown by the event thread: the presenting
 * thread points the window's kept frame at the frame's memory (under the window's
 * `framelock`, not sdllock, so a message box does not stop it; the memory stays as it is
 * until the next present returns, and that present waits for framelock) and wakes the
 * event thread, which turns what changed into the window surface's pixels and updates
 * that part of the window. That is no copy, one conversion and one transfer to the
 * window system: a streaming texture would add a copy into the texture and one out of
 * it. A present makes the frames other windows still hold copies of their own, so their
 * repaints outlive it. One frame is in flight at a time: a presenting thread waits until
 * the frame before was taken, up to `takeovermms`; when the event thread is busy
 * elsewhere that long, or the presenting thread is the event thread itself, or there is
 * none, the presenting thread shows the frame itself (under sdllock, like every SDL call
 * of ours). A windowed frame is the client area, 1:1; a full-screen frame is 1:1 on a
 * window of the mode's size and scaled to fit (nearest pixel, centred, black borders) on
 * any other, such as a full-screen desktop window. A window that has shown a frame
 * repaints it instead of the background colour (expose, erase).
 */
#include "backend.h"

#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace {

struct sdlwindow {
    SDL_Window *win;
    HWND hwnd;
    Uint32 id;
    std::thread::id creator;
    /* The last placement the layer asked for and when: the window system's reports of it
     * (and of earlier ones still on their way) are echoes, not moves of its own. */
    int x, y, width, height;
    Uint32 placedat;

    /* Presentation (sdllock) */
    bool shown = false;           /* a frame was shown: repaints show it again */
    bool repaint = false;         /* exposed: show the last frame again */
    SDL_Surface *stage = nullptr; /* the frame as 0x00RRGGBB when it cannot go 1:1 */

    /* The frame to show (framelock): what changed since the event thread last took it,
     * in view coordinates, and whether it has been taken. */
    std::mutex framelock;
    std::condition_variable taken;
    plat_keptframe kept;
    bool fullscreen = false;
    RECT changed{0, 0, 0, 0};
    bool pending = false;
};

/* An event read from SDL, handed to the layer once sdllock is released. */
struct input {
    enum { close, invalidate, minimise, key, move, button, focus, placed } kind;
    HWND hwnd;
    int a, b, c, d; /* key: scan, extended, down, repeats; move: x, y; button: x, y,
                       button, down; minimise, focus: a the flag */
};

std::mutex sdllock;
std::vector<sdlwindow *> windows; /* sdllock */
bool haseventthread = false;      /* sdllock */
std::thread::id eventthread;      /* sdllock */
int cursorshown = 1;              /* sdllock: what SDL was last told */
std::atomic<int> cursorwanted{1};
std::atomic<int> deskwidth{640};
std::atomic<int> deskheight{480};

/* Ends the event thread's wait: `woken` is set by a wake-up and taken by the wait. */
std::mutex wakelock;
std::condition_variable wakecv;
bool woken = false; /* wakelock */

/* How often a waiting event thread looks at the window system: the most window-system
 * input waits before it becomes a message. */
constexpr int pollms = 4;

/* The event thread, for presenting threads that must not wait for sdllock to learn it:
 * a default id while there is none. Written with eventthread. */
std::atomic<std::thread::id> reader{};

/* The windows a presenting thread may still reach: present holds livelock while it
 * fills a window's frame, and a window leaves this list (under it) before it is freed.
 * Order: sdllock, then livelock, then a window's framelock. */
std::mutex livelock;
std::vector<sdlwindow *> live; /* livelock */

/* How long a presenting thread waits for the event thread to take the frame before
 * (a busy event thread): then it shows that frame itself. Three 60 Hz frames. */
constexpr int takeovermms = 50;

/* PC (set 1) scan codes of the keys SDL reports, with the E0 prefix flag; keys not
 * listed are not reported. Print Screen is E0 37, as Windows reports it. */
struct keyinfo {
    SDL_Scancode sc;
    BYTE scan;
    BYTE ext;
};

const keyinfo keytable[] = {
    /* 0x04 a..z */
    {SDL_SCANCODE_A, 0x1E, 0},
    {SDL_SCANCODE_B, 0x30, 0},
    {SDL_SCANCODE_C, 0x2E, 0},
    {SDL_SCANCODE_D, 0x20, 0},
    {SDL_SCANCODE_E, 0x12, 0},
    {SDL_SCANCODE_F, 0x21, 0},
    {SDL_SCANCODE_G, 0x22, 0},
    {SDL_SCANCODE_H, 0x23, 0},
    {SDL_SCANCODE_I, 0x17, 0},
    {SDL_SCANCODE_J, 0x24, 0},
    {SDL_SCANCODE_K, 0x25, 0},
    {SDL_SCANCODE_L, 0x26, 0},
    {SDL_SCANCODE_M, 0x32, 0},
    {SDL_SCANCODE_N, 0x31, 0},
    {SDL_SCANCODE_O, 0x18, 0},
    {SDL_SCANCODE_P, 0x19, 0},
    {SDL_SCANCODE_Q, 0x10, 0},
    {SDL_SCANCODE_R, 0x13, 0},
    {SDL_SCANCODE_S, 0x1F, 0},
    {SDL_SCANCODE_T, 0x14, 0},
    {SDL_SCANCODE_U, 0x16, 0},
    {SDL_SCANCODE_V, 0x2F, 0},
    {SDL_SCANCODE_W, 0x11, 0},
    {SDL_SCANCODE_X, 0x2D, 0},
    {SDL_SCANCODE_Y, 0x15, 0},
    {SDL_SCANCODE_Z, 0x2C, 0},
    /* 0x1E 1..9, 0 */
    {SDL_SCANCODE_1, 0x02, 0},
    {SDL_SCANCODE_2, 0x03, 0},
    {SDL_SCANCODE_3, 0x04, 0},
    {SDL_SCANCODE_4, 0x05, 0},
    {SDL_SCANCODE_5, 0x06, 0},
    {SDL_SCANCODE_6, 0x07, 0},
    {SDL_SCANCODE_7, 0x08, 0},
    {SDL_SCANCODE_8, 0x09, 0},
    {SDL_SCANCODE_9, 0x0A, 0},
    {SDL_SCANCODE_0, 0x0B, 0},
    /* 0x28 */
    {SDL_SCANCODE_RETURN, 0x1C, 0},
    {SDL_SCANCODE_ESCAPE, 0x01, 0},
    {SDL_SCANCODE_BACKSPACE, 0x0E, 0},
    {SDL_SCANCODE_TAB, 0x0F, 0},
    {SDL_SCANCODE_SPACE, 0x39, 0},
    {SDL_SCANCODE_MINUS, 0x0C, 0},
    {SDL_SCANCODE_EQUALS, 0x0D, 0},
    {SDL_SCANCODE_LEFTBRACKET, 0x1A, 0},
    {SDL_SCANCODE_RIGHTBRACKET, 0x1B, 0},
    {SDL_SCANCODE_BACKSLASH, 0x2B, 0},
    /* 0x33 */
    {SDL_SCANCODE_SEMICOLON, 0x27, 0},
    {SDL_SCANCODE_APOSTROPHE, 0x28, 0},
    {SDL_SCANCODE_GRAVE, 0x29, 0},
    {SDL_SCANCODE_COMMA, 0x33, 0},
    {SDL_SCANCODE_PERIOD, 0x34, 0},
    {SDL_SCANCODE_SLASH, 0x35, 0},
    {SDL_SCANCODE_CAPSLOCK, 0x3A, 0},
    /* 0x3A F1..F12 */
    {SDL_SCANCODE_F1, 0x3B, 0},
    {SDL_SCANCODE_F2, 0x3C, 0},
    {SDL_SCANCODE_F3, 0x3D, 0},
    {SDL_SCANCODE_F4, 0x3E, 0},
    {SDL_SCANCODE_F5, 0x3F, 0},
    {SDL_SCANCODE_F6, 0x40, 0},
    {SDL_SCANCODE_F7, 0x41, 0},
    {SDL_SCANCODE_F8, 0x42, 0},
    {SDL_SCANCODE_F9, 0x43, 0},
    {SDL_SCANCODE_F10, 0x44, 0},
    {SDL_SCANCODE_F11, 0x57, 0},
    {SDL_SCANCODE_F12, 0x58, 0},
    /* 0x46 */
    {SDL_SCANCODE_PRINTSCREEN, 0x37, 1},
    {SDL_SCANCODE_SCROLLLOCK, 0x46, 0},
    {SDL_SCANCODE_PAUSE, 0x45, 0},
    {SDL_SCANCODE_INSERT, 0x52, 1},
    {SDL_SCANCODE_HOME, 0x47, 1},
    {SDL_SCANCODE_PAGEUP, 0x49, 1},
    {SDL_SCANCODE_DELETE, 0x53, 1},
    {SDL_SCANCODE_END, 0x4F, 1},
    {SDL_SCANCODE_PAGEDOWN, 0x51, 1},
    {SDL_SCANCODE_RIGHT, 0x4D, 1},
    {SDL_SCANCODE_LEFT, 0x4B, 1},
    {SDL_SCANCODE_DOWN, 0x50, 1},
    {SDL_SCANCODE_UP, 0x48, 1},
    /* 0x53 keypad */
    {SDL_SCANCODE_NUMLOCKCLEAR, 0x45, 1},
    {SDL_SCANCODE_KP_DIVIDE, 0x35, 1},
    {SDL_SCANCODE_KP_MULTIPLY, 0x37, 0},
    {SDL_SCANCODE_KP_MINUS, 0x4A, 0},
    {SDL_SCANCODE_KP_PLUS, 0x4E, 0},
    {SDL_SCANCODE_KP_ENTER, 0x1C, 1},
    {SDL_SCANCODE_KP_1, 0x4F, 0},
    {SDL_SCANCODE_KP_2, 0x50, 0},
    {SDL_SCANCODE_KP_3, 0x51, 0},
    {SDL_SCANCODE_KP_4, 0x4B, 0},
    {SDL_SCANCODE_KP_5, 0x4C, 0},
    {SDL_SCANCODE_KP_6, 0x4D, 0},
    {SDL_SCANCODE_KP_7, 0x47, 0},
    {SDL_SCANCODE_KP_8, 0x48, 0},
    {SDL_SCANCODE_KP_9, 0x49, 0},
    {SDL_SCANCODE_KP_0, 0x52, 0},
    {SDL_SCANCODE_KP_PERIOD, 0x53, 0},
    /* 0x65 */
    {SDL_SCANCODE_APPLICATION, 0x5D, 1},
    /* 0xE0 modifiers */
    {SDL_SCANCODE_LCTRL, 0x1D, 0},
    {SDL_SCANCODE_LSHIFT, 0x2A, 0},
    {SDL_SCANCODE_LALT, 0x38, 0},
    {SDL_SCANCODE_LGUI, 0x5B, 1},
    {SDL_SCANCODE_RCTRL, 0x1D, 1},
    {SDL_SCANCODE_RSHIFT, 0x36, 0},
    {SDL_SCANCODE_RALT, 0x38, 1},
    {SDL_SCANCODE_RGUI, 0x5C, 1},
};

/* Applies a changed cursor request; sdllock held. */
void applycursor() {
    int want = cursorwanted.load();
    if (want != cursorshown) {
        SDL_ShowCursor(want ? SDL_ENABLE : SDL_DISABLE);
        cursorshown = want;
    }
}

HWND hwndof(Uint32 id) {
    for (sdlwindow *w : windows)
        if (w->id == id)
            return w->hwnd;
    return nullptr;
}

/* Turns one SDL event into input for the layer; sdllock held. */
void translate(const SDL_Event &ev, std::vector<input> &out) {
    switch (ev.type) {
    case SDL_WINDOWEVENT: {
        HWND h = hwndof(ev.window.windowID);
        if (!h)
            return;
        switch (ev.window.event) {
        case SDL_WINDOWEVENT_CLOSE:
            out.push_back({input::close, h, 0, 0, 0, 0});
            break;
        case SDL_WINDOWEVENT_EXPOSED:
            for (sdlwindow *w : windows)
                if (w->id == ev.window.windowID)
                    w->repaint = true;
            out.push_back({input::invalidate, h, 0, 0, 0, 0});
            break;
        case SDL_WINDOWEVENT_MINIMIZED:
            out.push_back({input::minimise, h, 1, 0, 0, 0});
            break;
        case SDL_WINDOWEVENT_RESTORED:
            out.push_back({input::minimise, h, 0, 0, 0, 0});
            break;
        case SDL_WINDOWEVENT_FOCUS_GAINED:
            out.push_back({input::focus, h, 1, 0, 0, 0});
            break;
        case SDL_WINDOWEVENT_FOCUS_LOST:
            out.push_back({input::focus, h, 0, 0, 0, 0});
            break;
        case SDL_WINDOWEVENT_MOVED:
        case SDL_WINDOWEVENT_SIZE_CHANGED: {
            /* Moved or resized on the desktop (not by us: see sdlwindow). */
            sdlwindow *sw = nullptr;
            for (sdlwindow *w : windows)
                if (w->id == ev.window.windowID)
                    sw = w;
            int x, y, width, height;
            SDL_GetWindowPosition(sw->win, &x, &y);
            SDL_GetWindowSize(sw->win, &width, &height);
            bool asked = x == sw->x && y == sw->y && width == sw->width && height == sw->height;
            if (!asked && SDL_GetTicks() - sw->placedat > 500)
                out.push_back({input::placed, h, x, y, width, height});
            break;
        }
        default:
            break;
        }
        break;
    }
    case SDL_KEYDOWN:
    case SDL_KEYUP: {
        HWND h = hwndof(ev.key.windowID);
        for (const keyinfo &k : keytable)
            if (k.sc == ev.key.keysym.scancode)
                out.push_back({input::key, h, k.scan, k.ext, ev.type == SDL_KEYDOWN,
                               ev.type == SDL_KEYDOWN && ev.key.repeat ? 1 : 0});
        break;
    }
    case SDL_MOUSEMOTION: {
        HWND h = hwndof(ev.motion.windowID);
        if (h)
            out.push_back({input::move, h, ev.motion.x, ev.motion.y, 0, 0});
        break;
    }
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
        HWND h = hwndof(ev.button.windowID);
        int button;
        switch (ev.button.button) {
        case SDL_BUTTON_LEFT:
            button = PLAT_LEFT;
            break;
        case SDL_BUTTON_RIGHT:
            button = PLAT_RIGHT;
            break;
        case SDL_BUTTON_MIDDLE:
            button = PLAT_MIDDLE;
            break;
        default:
            return;
        }
        if (h)
            out.push_back({input::button, h, ev.button.x, ev.button.y, button,
                           ev.type == SDL_MOUSEBUTTONDOWN});
        break;
    }
    default:
        break;
    }
}

/* sdllock held */
void dropstage(sdlwindow *sw) {
    if (sw->stage)
        SDL_FreeSurface(sw->stage);
    sw->stage = nullptr;
}

bool isempty(const RECT &r) {
    return r.left >= r.right || r.top >= r.bottom;
}

/* Turns the part c of the kept frame (view coordinates) into the window surface s;
 * returns the part of s to update. sdllock and framelock held. */
SDL_Rect drawframe(sdlwindow *sw, SDL_Surface *s, RECT c) {
    const plat_keptframe &k = sw->kept;
    const bool scaled = sw->fullscreen && (s->w != k.width || s->h != k.height);
    if (!scaled && (s->format->format == SDL_PIXELFORMAT_RGB888 ||
                    s->format->format == SDL_PIXELFORMAT_ARGB8888)) {
        c = RECT{c.left, c.top, std::min(c.right, (LONG)s->w), std::min(c.bottom, (LONG)s->h)};
        if (isempty(c))
            return SDL_Rect{0, 0, 0, 0};
        SDL_LockSurface(s);
        plat_keptxrgb(&k, c,
                      static_cast<uint8_t *>(s->pixels) + (size_t)c.top * s->pitch + c.left * 4,
                      s->pitch);
        SDL_UnlockSurface(s);
        return SDL_Rect{c.left, c.top, c.right - c.left, c.bottom - c.top};
    }
    /* Other window formats and scaling: through a 0x00RRGGBB copy and SDL's blits. */
    if (!sw->stage || sw->stage->w != k.width || sw->stage->h != k.height) {
        dropstage(sw);
        sw->stage =
            SDL_CreateRGBSurfaceWithFormat(0, k.width, k.height, 32, SDL_PIXELFORMAT_RGB888);
        if (!sw->stage)
            return SDL_Rect{0, 0, 0, 0};
        c = RECT{0, 0, k.width, k.height};
    }
    plat_keptxrgb(&k, c,
                  static_cast<uint8_t *>(sw->stage->pixels) + (size_t)c.top * sw->stage->pitch +
                      c.left * 4,
                  sw->stage->pitch);
    if (!scaled) {
        SDL_Rect part{c.left, c.top, c.right - c.left, c.bottom - c.top};
        SDL_Rect to = part;
        SDL_BlitSurface(sw->stage, &part, s, &to);
        return to;
    }
    double scale = std::min((double)s->w / k.width, (double)s->h / k.height);
    SDL_Rect to{0, 0, (int)(k.width * scale), (int)(k.height * scale)};
    to.x = (s->w - to.w) / 2;
    to.y = (s->h - to.h) / 2;
    SDL_FillRect(s, nullptr, SDL_MapRGB(s->format, 0, 0, 0));
    SDL_BlitScaled(sw->stage, nullptr, s, &to);
    return SDL_Rect{0, 0, s->w, s->h};
}

/* Shows the window's pending frame; with again, also the last one when nothing is
 * pending. sdllock held. A presenting thread waiting for the frame to be taken is woken
 * once it has been drawn: it could not go on before (the frame stays held until then,
 * under framelock), and a wake-up before would only have it wait again for the lock. */
void showframe(sdlwindow *sw, bool again) {
    SDL_Rect update{0, 0, 0, 0};
    {
        std::lock_guard<std::mutex> held(sw->framelock);
        if (!sw->pending && !(again && sw->shown))
            return;
        RECT c = again ? RECT{0, 0, sw->kept.width, sw->kept.height} : sw->changed;
        sw->repaint = false;
        sw->pending = false;
        sw->changed = RECT{0, 0, 0, 0};
        SDL_Surface *s = SDL_GetWindowSurface(sw->win);
        if (s && !isempty(c) && sw->kept.width > 0 && sw->kept.height > 0) {
            update = drawframe(sw, s, c);
            sw->shown = true;
        }
    }
    sw->taken.notify_all();
    if (update.w > 0 && update.h > 0)
        SDL_UpdateWindowSurfaceRects(sw->win, &update, 1);
}

int sdlinit(void) {
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    /* Normal priority: the environment variable of the same name still wins. */
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
    /* The screen saver stays as the desktop has it until the program switches it off
     * (SystemParametersInfoA); SDL would otherwise keep it away from its start. */
    SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
    std::lock_guard<std::mutex> guard(sdllock);
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0)
        return 0;
    SDL_DisplayMode mode;
    if (SDL_GetDesktopDisplayMode(0, &mode) == 0 && mode.w > 0 && mode.h > 0) {
        deskwidth.store(mode.w);
        deskheight.store(mode.h);
    }
    SDL_StopTextInput();
    return 1;
}

void sdlshutdown(void) {
    std::lock_guard<std::mutex> guard(sdllock);
    {
        std::lock_guard<std::mutex> listed(livelock);
        live.clear();
    }
    for (sdlwindow *w : windows) {
        dropstage(w);
        SDL_DestroyWindow(w->win);
        delete w;
    }
    windows.clear();
    haseventthread = false;
    reader.store(std::thread::id());
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

/* A borderless window for WS_POPUP (a popup the screen's size covers the screen),
 * framed otherwise; topmost with WS_EX_TOPMOST. */
void *sdlcreatewindow(const plat_windowdesc *desc) {
    Uint32 flags = 0;
    if (desc->style & WS_POPUP)
        flags |= SDL_WINDOW_BORDERLESS;
    if (desc->exstyle & WS_EX_TOPMOST)
        flags |= SDL_WINDOW_ALWAYS_ON_TOP;
    if (desc->show == PLAT_HIDDEN)
        flags |= SDL_WINDOW_HIDDEN;
    else if (desc->show == PLAT_MINIMISED)
        flags |= SDL_WINDOW_MINIMIZED;
    int w = desc->width > 0 ? desc->width : 1;
    int h = desc->height > 0 ? desc->height : 1;
    std::lock_guard<std::mutex> guard(sdllock);
    SDL_Window *win = SDL_CreateWindow(desc->title, desc->x, desc->y, w, h, flags);
    if (!win)
        return nullptr;
    /* Events are best read by a thread that has windows: take over from one without. */
    bool eventthreadhaswindows = false;
    for (sdlwindow *w : windows)
        if (haseventthread && w->creator == eventthread)
            eventthreadhaswindows = true;
    if (!eventthreadhaswindows) {
        haseventthread = true;
        eventthread = std::this_thread::get_id();
        reader.store(eventthread);
    }
    applycursor();
    sdlwindow *sw = new sdlwindow;
    sw->win = win;
    sw->hwnd = desc->hwnd;
    sw->id = SDL_GetWindowID(win);
    sw->creator = std::this_thread::get_id();
    sw->x = desc->x;
    sw->y = desc->y;
    sw->width = w;
    sw->height = h;
    sw->placedat = SDL_GetTicks();
    windows.push_back(sw);
    std::lock_guard<std::mutex> listed(livelock);
    live.push_back(sw);
    return sw;
}

void sdlshowwindow(void *win, int show) {
    SDL_Window *w = ((sdlwindow *)win)->win;
    std::lock_guard<std::mutex> guard(sdllock);
    if (show == PLAT_HIDDEN) {
        SDL_HideWindow(w);
    } else if (show == PLAT_MINIMISED) {
        SDL_ShowWindow(w);
        SDL_MinimizeWindow(w);
    } else {
        SDL_ShowWindow(w);
        if (SDL_GetWindowFlags(w) & SDL_WINDOW_MINIMIZED)
            SDL_RestoreWindow(w);
    }
}

void sdlmovewindow(void *win, int x, int y, int width, int height) {
    SDL_Window *w = ((sdlwindow *)win)->win;
    std::lock_guard<std::mutex> guard(sdllock);
    sdlwindow *sw = (sdlwindow *)win;
    sw->x = x;
    sw->y = y;
    sw->width = width > 0 ? width : 1;
    sw->height = height > 0 ? height : 1;
    sw->placedat = SDL_GetTicks();
    SDL_SetWindowPosition(w, x, y);
    SDL_SetWindowSize(w, sw->width, sw->height);
}

/* SDL_RaiseWindow alone leaves an iconified window iconified on some window managers,
 * so a minimised window is restored first; the restore event then reaches the layer. */
void sdlraisewindow(void *win) {
    SDL_Window *w = ((sdlwindow *)win)->win;
    std::lock_guard<std::mutex> guard(sdllock);
    if (SDL_GetWindowFlags(w) & SDL_WINDOW_MINIMIZED)
        SDL_RestoreWindow(w);
    SDL_RaiseWindow(w);
}

void sdldestroywindow(void *win) {
    sdlwindow *sw = (sdlwindow *)win;
    std::lock_guard<std::mutex> guard(sdllock);
    std::erase(windows, sw);
    {
        std::lock_guard<std::mutex> listed(livelock);
        std::erase(live, sw);
    }
    dropstage(sw);
    SDL_DestroyWindow(sw->win);
    delete sw;
}

void sdlfillwindow(void *win, COLORREF colour) {
    SDL_Window *w = ((sdlwindow *)win)->win;
    std::lock_guard<std::mutex> guard(sdllock);
    if (((sdlwindow *)win)->shown) {
        showframe((sdlwindow *)win, true);
        return;
    }
    SDL_Surface *s = SDL_GetWindowSurface(w);
    if (!s)
        return;
    SDL_FillRect(s, nullptr,
                 SDL_MapRGB(s->format, colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF));
    SDL_UpdateWindowSurface(w);
}

/* Reads what the window system has queued into out and shows the frames that came
 * meanwhile; sdllock held. */
void readevents(std::vector<input> &out) {
    applycursor();
    SDL_Event ev;
    while (SDL_PollEvent(&ev))
        translate(ev, out);
    applycursor();
    for (sdlwindow *w : windows)
        showframe(w, w->repaint);
}

/* Hands one event to the layer; no lock held. */
void deliver(const input &i) {
    switch (i.kind) {
    case input::close:
        PostMessageA(i.hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
        break;
    case input::invalidate:
        plat_invalidate(i.hwnd);
        break;
    case input::minimise:
        plat_setminimised(i.hwnd, i.a);
        break;
    case input::key: /* a key with no window of ours: the layer's focus window */
        plat_keyinput(i.hwnd, i.a, i.b, i.c, i.d);
        break;
    case input::move:
        plat_mousemove(i.hwnd, i.a, i.b);
        break;
    case input::button:
        plat_mousebutton(i.hwnd, i.a, i.b, i.c, i.d);
        break;
    case input::focus:
        plat_focus(i.hwnd, i.a);
        break;
    case input::placed:
        plat_windowmoved(i.hwnd, i.a, i.b, i.c, i.d);
        break;
    }
}

/* Waits up to ms for a wake-up and takes it; true when there was one. */
bool waitforwake(int ms) {
    std::unique_lock<std::mutex> held(wakelock);
    wakecv.wait_for(held, std::chrono::milliseconds(ms), [] { return woken; });
    bool was = woken;
    woken = false;
    return was;
}

/* Only the event thread reads events; the first thread to ask becomes it when there
 * is none (its own thread ended, or no window was created yet). It returns once there
 * is input, a wake-up came or waitms passed. */
int sdlpumpevents(int waitms) {
    using clock = std::chrono::steady_clock;
    const clock::time_point end = clock::now() + std::chrono::milliseconds(waitms);
    std::vector<input> out;
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(sdllock);
            if (!haseventthread) {
                haseventthread = true;
                eventthread = std::this_thread::get_id();
                reader.store(eventthread);
            }
            if (eventthread != std::this_thread::get_id())
                return 0;
            readevents(out);
        }
        if (!out.empty())
            break;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - clock::now());
        if (left.count() <= 0 || waitforwake(std::min(pollms, (int)left.count())))
            break;
    }
    for (const input &i : out)
        deliver(i);
    return 1;
}

void sdlwake(void) {
    {
        std::lock_guard<std::mutex> guard(wakelock);
        woken = true;
    }
    wakecv.notify_all();
}

void sdlthreadexit(void) {
    std::lock_guard<std::mutex> guard(sdllock);
    if (haseventthread && eventthread == std::this_thread::get_id()) {
        haseventthread = false;
        reader.store(std::thread::id());
    }
}

/* OK, or OK and Cancel, with the icon's severity; Enter answers the first button and
 * Escape the last. */
int sdlmessagebox(const char *text, const char *caption, UINT type) {
    const bool okcancel = (type & 0xF) == MB_OKCANCEL;
    SDL_MessageBoxButtonData buttons[2] = {
        {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT, IDOK, "OK"},
        {SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, IDCANCEL, "Cancel"},
    };
    if (!okcancel)
        buttons[0].flags |= SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT;
    Uint32 flags;
    switch (type & 0xF0) {
    case MB_ICONHAND:
        flags = SDL_MESSAGEBOX_ERROR;
        break;
    case MB_ICONEXCLAMATION:
        flags = SDL_MESSAGEBOX_WARNING;
        break;
    default:
        flags = SDL_MESSAGEBOX_INFORMATION;
        break;
    }
    SDL_MessageBoxData data{};
    data.flags = flags;
    data.window = nullptr;
    data.title = caption;
    data.message = text;
    data.numbuttons = okcancel ? 2 : 1;
    data.buttons = buttons;
    /* SDL touches its video state (cursor, keyboard) around the box, so the box runs
     * under sdllock like every other SDL video call; the event thread waits meanwhile. */
    int pressed = -1;
    std::lock_guard<std::mutex> guard(sdllock);
    /* A box that must come to the front: our topmost windows step back while it is up
     * (nothing else can change them meanwhile: we hold sdllock). */
    std::vector<SDL_Window *> topmost;
    if (type & (MB_SETFOREGROUND | MB_SYSTEMMODAL)) {
        for (sdlwindow *w : windows) {
            if (SDL_GetWindowFlags(w->win) & SDL_WINDOW_ALWAYS_ON_TOP) {
                SDL_SetWindowAlwaysOnTop(w->win, SDL_FALSE);
                topmost.push_back(w->win);
            }
        }
    }
    int shown = SDL_ShowMessageBox(&data, &pressed);
    for (SDL_Window *w : topmost)
        SDL_SetWindowAlwaysOnTop(w, SDL_TRUE);
    if (shown != 0) {
        /* No box on this desktop (no window system, or no helper to draw one): the
         * message still gets out, and the answer is the safe one. */
        plat_writeboxline(caption, text);
        return okcancel ? IDCANCEL : IDOK;
    }
    if (pressed == IDOK || pressed == IDCANCEL)
        return pressed;
    return okcancel ? IDCANCEL : IDOK;
}

void sdlscreensize(int *width, int *height) {
    *width = deskwidth.load();
    *height = deskheight.load();
}

void sdlshowcursor(int visible) {
    cursorwanted.store(visible);
    sdlwake();
}

void sdlsetcursorpos(int x, int y) {
    std::lock_guard<std::mutex> guard(sdllock);
    SDL_WarpMouseGlobal(x, y);
}

void sdlscreensaver(int allowed) {
    std::lock_guard<std::mutex> guard(sdllock);
    if (allowed)
        SDL_EnableScreenSaver();
    else
        SDL_DisableScreenSaver();
}

void sdlpresent(void *win, const plat_frame *f) {
    sdlwindow *sw = (sdlwindow *)win;
    const std::thread::id self = std::this_thread::get_id();
    bool showhere = reader.load() == std::thread::id() || reader.load() == self;
    {
        std::lock_guard<std::mutex> listed(livelock);
        /* The frames other windows hold are gone once this present returns. */
        for (sdlwindow *w : live)
            if (w != sw && w->kept.held) {
                std::lock_guard<std::mutex> other(w->framelock);
                plat_unholdframe(&w->kept);
            }
        if (!sw || std::find(live.begin(), live.end(), sw) == live.end())
            return;
        std::unique_lock<std::mutex> held(sw->framelock);
        if (sw->pending && !showhere &&
            !sw->taken.wait_for(held, std::chrono::milliseconds(takeovermms),
                                [sw] { return !sw->pending; }))
            showhere = true; /* the event thread is busy: this frame is shown here */
        RECT c = plat_holdframe(&sw->kept, f);
        if (sw->fullscreen != (f->fullscreen != 0)) {
            sw->fullscreen = f->fullscreen != 0;
            c = RECT{0, 0, sw->kept.width, sw->kept.height};
        }
        RECT &all = sw->changed;
        if (!isempty(c)) {
            all = isempty(all) ? c
                               : RECT{std::min(all.left, c.left), std::min(all.top, c.top),
                                      std::max(all.right, c.right), std::max(all.bottom, c.bottom)};
            sw->pending = true;
        }
    }
    if (showhere) {
        std::lock_guard<std::mutex> guard(sdllock);
        if (std::find(windows.begin(), windows.end(), sw) != windows.end())
            showframe(sw, false);
    } else {
        sdlwake();
    }
}

} // namespace

const plat_backend plat_sdlbackend = {
    .name = "sdl",
    .description = "SDL2 windows with software rendering",
    .init = sdlinit,
    .shutdown = sdlshutdown,
    .createwindow = sdlcreatewindow,
    .showwindow = sdlshowwindow,
    .movewindow = sdlmovewindow,
    .raisewindow = sdlraisewindow,
    .destroywindow = sdldestroywindow,
    .fillwindow = sdlfillwindow,
    .pumpevents = sdlpumpevents,
    .wake = sdlwake,
    .threadexit = sdlthreadexit,
    .messagebox = sdlmessagebox,
    .screensize = sdlscreensize,
    .showcursor = sdlshowcursor,
    .setcursorpos = sdlsetcursorpos,
    .screensaver = sdlscreensaver,
    .present = sdlpresent,
};
