// Frames of the software display on their way to the screen: the conversion every
// backend shows, the headless backend's last frame and its PNG, and the SDL backend's
// window contents on SDL's dummy video driver. The backend is chosen once per process,
// so each case needs a process of its own (CTest runs them so).
#include "backend.h"

#include "plat/testhooks.h"
#include "plat/win32.h"

#include <SDL.h>
#include <gtest/gtest.h>
#include <png.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

extern "C" __attribute__((used)) const char *__lsan_default_suppressions() {
    return "leak:libdbus-1.so\n";
}

namespace {

/* A frame over memory of the test's own; full screen, everything changed. */
struct testframe {
    std::vector<uint8_t> memory;
    plat_frame f{};
    testframe(int width, int height, int bitcount, int pitch = 0) {
        f.width = width;
        f.height = height;
        f.bitcount = bitcount;
        f.pitch = pitch ? pitch : width * bitcount / 8;
        memory.assign((size_t)f.pitch * height, 0);
        f.pixels = memory.data();
        f.dirty = RECT{0, 0, width, height};
        f.view = f.dirty;
        f.fullscreen = 1;
    }
    void masks(DWORD r, DWORD g, DWORD b) {
        f.rmask = r;
        f.gmask = g;
        f.bmask = b;
    }
    void put(int x, int y, uint32_t value) {
        memcpy(memory.data() + (size_t)y * f.pitch + (size_t)x * (f.bitcount / 8), &value,
               (size_t)f.bitcount / 8);
    }
    /* r converted into rows one pixel wider than r: that pixel must stay as it was */
    std::vector<uint32_t> xrgb(RECT r) const {
        const int w = r.right - r.left, h = r.bottom - r.top;
        std::vector<uint32_t> wide((size_t)(w + 1) * h, 0xDEADBEEF), out;
        plat_frametoxrgb(&f, r, wide.data(), (w + 1) * 4);
        for (int y = 0; y < h; y++) {
            out.insert(out.end(), wide.begin() + y * (w + 1), wide.begin() + y * (w + 1) + w);
            EXPECT_EQ(wide[(size_t)y * (w + 1) + w], 0xDEADBEEFu) << "row " << y << " overran";
        }
        return out;
    }
};

/* One row of pixels in a format of the given masks, converted. */
std::vector<uint32_t> converted(int bitcount, DWORD r, DWORD g, DWORD b,
                                const std::vector<uint32_t> &pixels) {
    const int n = (int)pixels.size();
    testframe t(n, 1, bitcount);
    t.masks(r, g, b);
    for (int x = 0; x < n; x++)
        t.put(x, 0, pixels[x]);
    return t.xrgb(RECT{0, 0, n, 1});
}

using xrgbs = std::vector<uint32_t>;

TEST(PresentConversion, EachFormatReachesFullScaleAndKeepsItsChannelsApart) {
    EXPECT_EQ(converted(16, 0xF800, 0x07E0, 0x001F,
                        {0x0000, 0xFFFF, 0xF800, 0x07E0, 0x001F, 0x8410, 0x0821}),
              (xrgbs{0x000000, 0xFFFFFF, 0xFF0000, 0x00FF00, 0x0000FF, 0x848284, 0x080408}));
    /* 555, the top bit ignored */
    EXPECT_EQ(
        converted(16, 0x7C00, 0x03E0, 0x001F, {0x8000, 0x7FFF, 0x7C00, 0x03E0, 0x001F, 0x4210}),
        (xrgbs{0x000000, 0xFFFFFF, 0xFF0000, 0x00FF00, 0x0000FF, 0x848484}));
    EXPECT_EQ(converted(24, 0xFF0000, 0x00FF00, 0x0000FF, {0x123456, 0xFFFFFF, 0x000001}),
              (xrgbs{0x123456, 0xFFFFFF, 0x000001}));
    /* 32 bits: the alpha byte dropped; blue first; 10 bits a channel */
    EXPECT_EQ(converted(32, 0xFF0000, 0x00FF00, 0x0000FF, {0xFF123456, 0x00FFFFFF, 0x80000000}),
              (xrgbs{0x123456, 0xFFFFFF, 0x000000}));
    EXPECT_EQ(converted(32, 0x0000FF, 0x00FF00, 0xFF0000, {0x00123456, 0x000000FF}),
              (xrgbs{0x563412, 0xFF0000}));
    EXPECT_EQ(
        converted(32, 0x3FF00000, 0x000FFC00, 0x000003FF, {0x3FFFFFFF, 0x20080200, 0x000FFC00}),
        (xrgbs{0xFFFFFF, 0x808080, 0x00FF00}));
    /* 16 bits 4444, and with a 2-bit blue */
    EXPECT_EQ(converted(16, 0x0F00, 0x00F0, 0x000F, {0x0F00, 0x0A50}), (xrgbs{0xFF0000, 0xAA5500}));
    EXPECT_EQ(converted(16, 0xE000, 0x1C00, 0x0300, {0x0100, 0x0200, 0x0300, 0xE000, 0x2000}),
              (xrgbs{0x000055, 0x0000AA, 0x0000FF, 0xFF0000, 0x240000}));
}

TEST(PresentConversion, EightBitsGoThroughThePaletteAndNoPaletteIsBlack) {
    testframe t(4, 1, 8);
    BYTE palette[256][4] = {};
    palette[0][0] = 1;
    palette[0][1] = 2;
    palette[0][2] = 3;
    palette[0][3] = 0xFF; /* flags never show */
    palette[255][0] = 0xFF;
    palette[255][1] = 0x80;
    palette[255][2] = 0x7F;
    palette[7][2] = 0xFF;
    t.put(1, 0, 255);
    t.put(2, 0, 7);
    t.put(3, 0, 6);
    t.f.palette = palette;
    EXPECT_EQ(t.xrgb(RECT{0, 0, 4, 1}),
              (std::vector<uint32_t>{0x010203, 0xFF807F, 0x0000FF, 0x000000}));
    t.f.palette = nullptr;
    EXPECT_EQ(t.xrgb(RECT{0, 0, 4, 1}), std::vector<uint32_t>(4, 0));
}

/* The part asked for lands at the output's top-left whatever the pitches; what lies
 * outside the frame is left as it was. */
TEST(PresentConversion, RectangleIsTakenAtItsPlaceAndClippedToTheFrame) {
    testframe t(5, 4, 16, 16); /* 6 bytes of padding a row */
    t.masks(0xF800, 0x07E0, 0x001F);
    for (int y = 0; y < 4; y++)
        for (int x = 0; x < 5; x++)
            t.put(x, y, (uint32_t)(y * 5 + x + 1)); /* blue 1..20 */
    auto blue = [](int v) { return (uint32_t)((v << 3) | (v >> 2)); };
    EXPECT_EQ(t.xrgb(RECT{3, 2, 5, 4}),
              (std::vector<uint32_t>{blue(14), blue(15), blue(19), blue(20)}));

    const uint32_t old = 0xDEADBEEF;
    EXPECT_EQ(t.xrgb(RECT{4, -1, 6, 1}), (std::vector<uint32_t>{old, old, blue(5), old}));
    EXPECT_EQ(t.xrgb(RECT{5, 0, 7, 1}), (std::vector<uint32_t>{old, old}));
    EXPECT_EQ(t.xrgb(RECT{-1, 3, 1, 5}), (std::vector<uint32_t>{old, blue(16), old, old}));

    /* an output pitch wider than the rectangle */
    std::vector<uint32_t> out(2 * 3, 0);
    plat_frametoxrgb(&t.f, RECT{0, 0, 2, 2}, out.data(), 3 * 4);
    EXPECT_EQ(out, (std::vector<uint32_t>{blue(1), blue(2), 0, blue(6), blue(7), 0}));
}

/* ---- the headless backend's last frame ---- */

std::vector<uint32_t> lastframe(int *width, int *height, unsigned long *frames = nullptr) {
    unsigned long n = plat_nulllastframe(width, height, nullptr, 0);
    std::vector<uint32_t> pixels((size_t)*width * *height, 0xDEADBEEF);
    plat_nulllastframe(width, height, pixels.data(), pixels.size());
    if (frames)
        *frames = n;
    return pixels;
}

TEST(PresentNullFrame, KeepsTheWindowsViewAndWhatChanged) {
    ASSERT_STREQ(plat_backendname(), "null");
    int w = -1, h = -1;
    EXPECT_EQ(plat_nulllastframe(&w, &h, nullptr, 0), 0u);
    EXPECT_EQ(w * 10 + h, 0);

    /* windowed: the view's part of a 4x3 screen, partly off it */
    testframe t(4, 3, 32);
    t.masks(0xFF0000, 0x00FF00, 0x0000FF);
    for (int y = 0; y < 3; y++)
        for (int x = 0; x < 4; x++)
            t.put(x, y, (uint32_t)(0x10 * y + x));
    t.f.fullscreen = 0;
    t.f.view = RECT{2, 1, 5, 3};
    plat_presentframe(&t.f);
    unsigned long frames;
    EXPECT_EQ(lastframe(&w, &h, &frames), (std::vector<uint32_t>{0x12, 0x13, 0, 0x22, 0x23, 0}));
    EXPECT_EQ(std::vector<int>({w, h, (int)frames}), std::vector<int>({3, 2, 1}));
    uint32_t small[5];
    EXPECT_EQ(plat_nulllastframe(&w, &h, small, 5), 1u);

    t.put(3, 2, 0xB0);
    t.f.dirty = RECT{3, 2, 4, 3};
    plat_presentframe(&t.f);
    EXPECT_EQ(lastframe(&w, &h), (std::vector<uint32_t>{0x12, 0x13, 0, 0x22, 0xB0, 0}));

    /* a view that moved takes all of it, whatever was dirty */
    t.put(2, 1, 0xA0);
    t.f.view = RECT{0, 0, 2, 2};
    plat_presentframe(&t.f);
    EXPECT_EQ(lastframe(&w, &h, &frames), (std::vector<uint32_t>{0x00, 0x01, 0x10, 0x11}));
    EXPECT_EQ(frames, 3u);
    t.f.view = RECT{1, 0, 3, 2};
    plat_presentframe(&t.f);
    EXPECT_EQ(lastframe(&w, &h), (std::vector<uint32_t>{0x01, 0x02, 0x11, 0xA0}));
    t.f.view = RECT{-1, 1, 1, 2};
    plat_presentframe(&t.f);
    EXPECT_EQ(lastframe(&w, &h), (std::vector<uint32_t>{0, 0x10}));
    t.f.view = RECT{3, 2, 4, 4};
    plat_presentframe(&t.f);
    EXPECT_EQ(lastframe(&w, &h), (std::vector<uint32_t>{0xB0, 0}));
}

TEST(PresentNullFrame, PaletteChangeShowsWithNothingDirtyAndFullScreenIsTheWholeMode) {
    testframe t(3, 2, 8);
    BYTE palette[256][4] = {};
    t.f.palette = palette;
    t.put(1, 1, 9);
    t.f.view = RECT{100, 100, 101, 101}; /* full screen: the view does not count */
    plat_presentframe(&t.f);
    int w, h;
    EXPECT_EQ(lastframe(&w, &h), std::vector<uint32_t>(6, 0));
    palette[9][1] = 0xC0;
    t.f.dirty = RECT{0, 0, 0, 0};
    plat_presentframe(&t.f);
    EXPECT_EQ(lastframe(&w, &h), (std::vector<uint32_t>{0, 0, 0, 0, 0xC000, 0}));

    /* a new mode takes the whole frame even with nothing dirty */
    testframe u(2, 1, 16);
    u.masks(0xF800, 0x07E0, 0x001F);
    u.put(1, 0, 0xFFFF);
    u.f.dirty = RECT{0, 0, 0, 0};
    plat_presentframe(&u.f);
    EXPECT_EQ(lastframe(&w, &h), (std::vector<uint32_t>{0, 0xFFFFFF}));
}

/* Reads a PNG as 0x00RRGGBB; empty when it is no 8-bit RGB PNG. */
std::vector<uint32_t> readpng(const std::string &path, int *width, int *height) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        return {};
    image.format = PNG_FORMAT_RGB;
    std::vector<png_byte> rgb(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr))
        return {};
    *width = (int)image.width;
    *height = (int)image.height;
    std::vector<uint32_t> out((size_t)image.width * image.height);
    for (size_t i = 0; i < out.size(); i++)
        out[i] = (uint32_t)rgb[3 * i] << 16 | (uint32_t)rgb[3 * i + 1] << 8 | rgb[3 * i + 2];
    return out;
}

std::string tempname(const char *suffix) {
    return std::string(getenv("TMPDIR") ? getenv("TMPDIR") : "/tmp") + "/present_test_" +
           std::to_string(getpid()) + suffix;
}

TEST(PresentNullFrame, PngHoldsTheLastFrameOnRequestAndAtEveryPresentWithScreenshot) {
    const std::string asked = tempname("_asked.png"), shot = tempname("_shot.png");
    EXPECT_EQ(plat_nullwritepng(asked.c_str()), 0) << "no frame yet";
    setenv("THISTLE_SCREENSHOT", shot.c_str(), 1);

    testframe t(7, 5, 24);
    t.masks(0xFF0000, 0x00FF00, 0x0000FF);
    for (int y = 0; y < 5; y++)
        for (int x = 0; x < 7; x++)
            t.put(x, y, (uint32_t)(x * 0x240000 + y * 0x3300 + (x ^ y) * 0x11));
    plat_presentframe(&t.f);
    int w, h, pw = 0, ph = 0;
    std::vector<uint32_t> shown = lastframe(&w, &h);
    EXPECT_EQ(readpng(shot, &pw, &ph), shown);
    EXPECT_EQ(std::vector<int>({pw, ph}), std::vector<int>({7, 5}));

    t.put(6, 4, 0xFFFFFF);
    plat_presentframe(&t.f);
    shown = lastframe(&w, &h);
    EXPECT_EQ(readpng(shot, &pw, &ph), shown) << "rewritten at the next present";
    EXPECT_EQ(shown.back(), 0xFFFFFFu);
    EXPECT_EQ(access((shot + ".new").c_str(), F_OK), -1);

    ASSERT_EQ(plat_nullwritepng(asked.c_str()), 1);
    EXPECT_EQ(readpng(asked, &pw, &ph), shown);
    EXPECT_EQ(plat_nullwritepng("/nonexistent/dir/x.png"), 0);
    EXPECT_EQ(plat_nullwritepng("/dev/full"), 0);
    remove(asked.c_str());
    remove(shot.c_str());
}

/* ---- choosing the backend ---- */

TEST(PresentBackend, UnknownVideoNameIsSaidOnceOnStandardError) {
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    setenv("THISTLE_VIDEO", "nul", 1);
    testing::internal::CaptureStderr();
    const std::string first = plat_backendname(), second = plat_backendname();
    EXPECT_EQ(first + second, "nullnull");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "thistle: unknown THISTLE_VIDEO 'nul' (known: sdl null), using null\n");
}

/* ---- the SDL backend on the dummy driver: what its window surface holds ---- */

LRESULT CALLBACK plainproc(HWND h, UINT m, WPARAM w, LPARAM l) {
    return DefWindowProcA(h, m, w, l);
}

HWND sdlwindow(int x, int y, int width, int height) {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("THISTLE_VIDEO", "sdl", 1);
    EXPECT_STREQ(plat_backendname(), "sdl") << SDL_GetError();
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = plainproc;
    wc.lpszClassName = "PRESENTTEST";
    wc.hbrBackground = CreateSolidBrush(RGB(0x20, 0x40, 0x60));
    RegisterClassExA(&wc);
    HWND h = CreateWindowExA(0, "PRESENTTEST", "present", WS_POPUP | WS_VISIBLE, x, y, width,
                             height, nullptr, nullptr, nullptr, nullptr);
    EXPECT_NE(h, nullptr);
    return h;
}

SDL_Window *onlywindow() {
    SDL_Window *win = nullptr;
    for (Uint32 id = 1; id < 64; id++)
        if (SDL_Window *w = SDL_GetWindowFromID(id))
            win = w;
    return win;
}

/* The window surface at (x, y) as 0x00RRGGBB. */
uint32_t onscreen(SDL_Window *win, int x, int y) {
    SDL_Surface *s = SDL_GetWindowSurface(win);
    if (!s)
        return 0xDEADBEEF;
    Uint32 p;
    memcpy(&p, (const Uint8 *)s->pixels + y * s->pitch + x * s->format->BytesPerPixel, 4);
    Uint8 r, g, b;
    SDL_GetRGB(p, s->format, &r, &g, &b);
    return (uint32_t)r << 16 | (uint32_t)g << 8 | b;
}

/* Runs the window thread's message loop until cond holds (two seconds at most); a
 * helper posts to h every 20 ms so that GetMessageA comes back to look. */
template <class Cond>
bool pumpuntil(HWND h, Cond cond) {
    std::atomic<bool> done{false};
    std::thread poster([&] {
        while (!done) {
            PostMessageA(h, WM_USER, 0, 0);
            Sleep(20);
        }
    });
    for (int i = 0; i < 100 && !cond(); i++) {
        MSG m;
        GetMessageA(&m, nullptr, 0, 0);
        DispatchMessageA(&m);
    }
    done = true;
    poster.join();
    return cond();
}

TEST(PresentSdl, WindowShowsItsViewOneToOneAndTheLastFrameAfterAnErase) {
    HWND h = sdlwindow(10, 20, 4, 2);
    SDL_Window *win = onlywindow();
    ASSERT_NE(win, nullptr);
    testframe t(16, 8, 32);
    t.masks(0xFF0000, 0x00FF00, 0x0000FF);
    for (int y = 0; y < 8; y++)
        for (int x = 0; x < 16; x++)
            t.put(x, y, (uint32_t)(x << 16 | y << 8 | 0x40));
    t.f.hwnd = h;
    t.f.fullscreen = 0;
    t.f.view = RECT{10, 6, 14, 8};
    plat_presentframe(&t.f); /* on the window's own thread: shown at once */
    EXPECT_EQ(std::vector<uint32_t>({onscreen(win, 0, 0), onscreen(win, 3, 1)}),
              std::vector<uint32_t>({0x0A0640, 0x0D0740}));
    /* a change shows at its place in the view */
    t.put(12, 7, 0xABCDEF);
    t.f.dirty = RECT{12, 7, 13, 8};
    plat_presentframe(&t.f);
    EXPECT_EQ(onscreen(win, 2, 1), 0xABCDEFu);

    /* an erase (the window's background) shows the frame again, not the colour */
    SendMessageA(h, WM_ERASEBKGND, 0, 0);
    EXPECT_EQ(onscreen(win, 3, 1), 0x0D0740u);
    DestroyWindow(h);
}

TEST(PresentSdl, AWindowRepaintsItsFrameAfterAPresentToAnotherReusedItsMemory) {
    /* A present may reuse the memory of the frame before it (the backend may hold a
     * frame only until the next present returns): a window that is not presented to
     * keeps its own copy of what it shows. */
    HWND a = sdlwindow(0, 0, 2, 1);
    SDL_Window *wina = onlywindow();
    HWND b = sdlwindow(0, 10, 2, 1);
    SDL_Window *winb = onlywindow();
    ASSERT_NE(wina, winb);
    testframe t(2, 1, 32), u(2, 1, 32);
    t.masks(0xFF0000, 0x00FF00, 0x0000FF);
    u.masks(0xFF0000, 0x00FF00, 0x0000FF);
    t.put(0, 0, 0x123456);
    t.f.hwnd = a;
    plat_presentframe(&t.f);
    u.put(0, 0, 0x654321);
    u.f.hwnd = b;
    plat_presentframe(&u.f);
    t.put(0, 0, 0xABCDEF);
    SendMessageA(a, WM_ERASEBKGND, 0, 0);
    SendMessageA(b, WM_ERASEBKGND, 0, 0);
    EXPECT_EQ(std::vector<uint32_t>({onscreen(wina, 0, 0), onscreen(winb, 0, 0)}),
              std::vector<uint32_t>({0x123456, 0x654321}))
        << "a shows its own frame";
    DestroyWindow(a);
    DestroyWindow(b);
}

TEST(PresentSdl, PaletteChangeAloneRedrawsTheFrame) {
    HWND h = sdlwindow(0, 0, 2, 1);
    SDL_Window *win = onlywindow();
    ASSERT_NE(win, nullptr);
    testframe t(2, 1, 8);
    BYTE palette[256][4] = {};
    t.put(1, 0, 3);
    t.f.palette = palette;
    t.f.hwnd = h;
    plat_presentframe(&t.f);
    palette[3][0] = 0x40;
    t.f.dirty = RECT{0, 0, 0, 0};
    plat_presentframe(&t.f);
    EXPECT_EQ(onscreen(win, 1, 0), 0x400000u);
    DestroyWindow(h);
}

TEST(PresentSdl, FrameFromAnotherThreadIsShownByTheWindowThreadScaledWhenFullScreen) {
    HWND h = sdlwindow(0, 0, 8, 4);
    SDL_Window *win = onlywindow();
    ASSERT_NE(win, nullptr);
    testframe t(3, 2, 16);
    t.masks(0xF800, 0x07E0, 0x001F);
    t.put(0, 0, 0xF800);
    t.put(1, 0, 0x07E0);
    t.put(2, 1, 0x001F);
    t.f.hwnd = h;
    std::thread game([&] { plat_presentframe(&t.f); });
    /* the window thread pumps: the frame (3x2 on an 8x4 window) is scaled twice, centred
     * between black columns */
    EXPECT_TRUE(pumpuntil(h, [&] { return onscreen(win, 6, 3) == 0x0000FF; }));
    EXPECT_EQ(std::vector<uint32_t>({onscreen(win, 0, 0), onscreen(win, 1, 0), onscreen(win, 2, 1),
                                     onscreen(win, 3, 0), onscreen(win, 7, 3)}),
              std::vector<uint32_t>({0, 0xFF0000, 0xFF0000, 0x00FF00, 0}));
    game.join();

    /* a second frame while the window thread does not pump is shown by the game thread
     * once it has waited long enough, and the one after it too */
    t.put(0, 0, 0x07E0);
    std::thread second([&] {
        plat_presentframe(&t.f);
        t.put(0, 0, 0xFFFF);
        plat_presentframe(&t.f);
    });
    second.join();
    EXPECT_EQ(onscreen(win, 1, 0), 0xFFFFFFu);
    DestroyWindow(h);
}

} // namespace
