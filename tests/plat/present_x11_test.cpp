// A frame of the software display on a real X server: presented through the SDL backend
// into a window of the mode's size, and read back from the server with XGetImage.
//
// The case starts its own Xvfb (the display number comes back on a descriptor) and ends
// it by process id. Xvfb comes with scripts/setup.sh; without it the case fails rather
// than skips, so a machine that lacks it is noticed.
#include "backend.h"

#include "plat/testhooks.h"
#include "plat/win32.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

/* last: Xlib's macros (None, Bool, Status) would spoil the headers above */
#include <X11/Xlib.h>
#include <X11/Xutil.h>

extern char **environ;

/* SDL's X11 start-up (and the D-Bus connection it opens) keeps memory until SDL is shut
 * down: not our leaks. */
extern "C" __attribute__((used)) const char *__lsan_default_suppressions() {
    return "leak:libSDL2\nleak:libdbus-1\nleak:libX11\n";
}

namespace {

/* An Xvfb of the case's own; DISPLAY names it while it runs. */
class Xserver {
  public:
    Xserver() {
        int fds[2];
        if (pipe(fds) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        const char *argv[] = {"Xvfb",       "-displayfd", "3",   "-screen", "0",
                              "640x480x24", "-nolisten",  "tcp", nullptr};
        if (posix_spawnp(&pid, "Xvfb", &actions, nullptr, const_cast<char **>(argv), environ) != 0)
            pid = 0;
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        char number[32] = {};
        ssize_t n = pid ? read(fds[0], number, sizeof number - 1) : 0;
        close(fds[0]);
        if (n > 0) {
            name = ":" + std::string(number, strcspn(number, "\n"));
            setenv("DISPLAY", name.c_str(), 1);
        }
    }
    ~Xserver() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
    }
    std::string name;

  private:
    pid_t pid = 0;
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
    ASSERT_FALSE(server.name.empty()) << "Xvfb did not start";
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

    Display *x = XOpenDisplay(server.name.c_str());
    ASSERT_NE(x, nullptr);
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
    XCloseDisplay(x);
    DestroyWindow(h);
    plat_backendshutdown();
}

} // namespace
