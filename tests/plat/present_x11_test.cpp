// A frame of the software display on a real X server: presented through the SDL backend
// into a window of the mode's size, and read back from the server with XGetImage.
//
// The case starts its own Xvfb (the display number comes back on a descriptor) and ends
// it by process id. Xvfb comes with scripts/setup.sh; without it the case fails rather
// than skips, so a machine that lacks it is noticed.
#include "backend.h"

#include "../win/xserver.h"

#include "plat/testhooks.h"
#include "plat/win32.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

/* last: Xlib's macros (None, Bool, Status) would spoil the headers above */
#include <X11/Xlib.h>
#include <X11/Xutil.h>

/* SDL's X11 start-up (and the D-Bus connection it opens) keeps memory until SDL is shut
 * down: not our leaks. */
extern "C" __attribute__((used)) const char *__lsan_default_suppressions() {
    return "leak:libSDL2\nleak:libdbus-1\nleak:libX11\n";
}

namespace {

/* An Xvfb of the case's own and a connection to it. */
class Xserver {
  public:
    Xserver() {
        if (!server.name.empty())
            x = XOpenDisplay(server.name.c_str());
    }
    ~Xserver() {
        if (x)
            XCloseDisplay(x);
    }
    Display *x = nullptr; /* the case's own connection */

  private:
    xserver::Display server{"640x480x24"};
};

LRESULT CALLBACK plainproc(HWND h, UINT m, WPARAM w, LPARAM l) {
    return DefWindowProcA(h, m, w, l);
}

/* The screen's pixels in (0, 0)-(width, height) as 0x00RRGGBB. */
std::vector<uint32_t> screenpixels(Display *x, int width, int height) {
    std::vector<uint32_t> out;
    XImage *image = XGetImage(x, DefaultRootWindow(x), 0, 0, (unsigned)width, (unsigned)height,
                              AllPlanes, ZPixmap);
    if (!image)
        return out;
    for (int y = 0; y < height; y++)
        for (int px = 0; px < width; px++)
            out.push_back((uint32_t)XGetPixel(image, px, y) & 0xFFFFFF);
    XDestroyImage(image);
    return out;
}

TEST(PresentX11, EightBitFrameIsOnTheServerThroughThePalette) {
    Xserver server;
    ASSERT_NE(server.x, nullptr) << "Xvfb did not start";
    setenv("THISTLE_VIDEO", "sdl", 1);
    setenv("SDL_VIDEODRIVER", "x11", 1);
    ASSERT_STREQ(plat_backendname(), "sdl");

    const int width = 96, height = 64;
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = plainproc;
    wc.lpszClassName = "PRESENTX11";
    RegisterClassExA(&wc);
    HWND h = CreateWindowExA(WS_EX_TOPMOST, "PRESENTX11", "present", WS_POPUP | WS_VISIBLE, 0, 0,
                             width, height, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(h, nullptr);

    /* bands of palette colours, with a diagonal of entry 255 */
    BYTE palette[256][4] = {};
    for (int i = 0; i < 256; i++) {
        palette[i][0] = (BYTE)(i * 7);
        palette[i][1] = (BYTE)(255 - i);
        palette[i][2] = (BYTE)(i * 3 + 1);
    }
    std::vector<uint8_t> pixels((size_t)width * height);
    std::vector<uint32_t> expected;
    for (int y = 0; y < height; y++) {
        for (int x = 0; x < width; x++) {
            uint8_t v = x == y ? 255 : (uint8_t)(x / 8 + y / 16 * 12);
            pixels[(size_t)y * width + x] = v;
            expected.push_back((uint32_t)palette[v][0] << 16 | palette[v][1] << 8 | palette[v][2]);
        }
    }
    plat_frame f{};
    f.hwnd = h;
    f.pixels = pixels.data();
    f.pitch = width;
    f.width = width;
    f.height = height;
    f.bitcount = 8;
    f.palette = palette;
    f.dirty = RECT{0, 0, width, height};
    f.fullscreen = 1;
    f.view = f.dirty;

    Display *x = server.x;
    /* A game thread presents; the window thread (this one) shows the frame while it waits
     * for messages. The window may be mapped only after the first frame, so the frame is
     * presented again until the server has it (five seconds at most). */
    std::atomic<bool> done{false};
    std::thread game([&] {
        while (!done) {
            plat_presentframe(&f);
            PostMessageA(h, WM_USER, 0, 0);
            Sleep(20);
        }
    });
    std::vector<uint32_t> seen;
    for (int i = 0; i < 250 && seen != expected; i++) {
        MSG m;
        GetMessageA(&m, nullptr, 0, 0);
        DispatchMessageA(&m);
        seen = screenpixels(x, width, height);
    }
    done = true;
    game.join();
    EXPECT_TRUE(seen == expected) << "first pixels on the server: " << std::hex << seen[0] << " "
                                  << seen[1] << ", expected " << expected[0] << " " << expected[1];
    DestroyWindow(h);
    plat_backendshutdown();
}

} // namespace
