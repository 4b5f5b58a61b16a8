// display_bench - frames per second of the software display: lock the back buffer of a
// 640x480x16 full-screen flip chain, fill it, unlock, flip (which presents), on the
// headless backend and on SDL under an Xvfb of the run's own; beside them SDL2's own
// streaming-texture path doing the same work (lock the texture, fill, unlock, copy,
// present) and the memory-bandwidth limit for the frame size (memcpy of one frame).
//
// The backend is chosen once per process, so the program runs itself once per backend
// (--backend=null, --backend=sdl); other arguments go to Google Benchmark in each run.
// As in the library, the window lives on a window thread of its own that waits for
// messages, and the drawing thread is another one.
#include "plat/ddraw.h"
#include "plat/testhooks.h"
#include "plat/win32.h"
#include "xserver.h"

#include <SDL.h>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <future>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

/* last: Xlib's macros (None, Bool, Status) would spoil the headers above */
#include <X11/Xlib.h>

extern char **environ;

namespace {

constexpr int width = 640, height = 480;
constexpr size_t framebytes = (size_t)width * height * 2;

/* The same fill for every contender: a 16-bit value that changes each frame. */
void fill(void *pixels, int pitch, uint16_t value) {
    for (int y = 0; y < height; y++)
        std::fill_n(
            reinterpret_cast<uint16_t *>(static_cast<uint8_t *>(pixels) + (size_t)y * pitch), width,
            value);
}

/* Processor time of the whole process (every thread of it; not the X server's). */
double processcpu() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (double)(u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e6 + u.ru_utime.tv_usec +
           u.ru_stime.tv_usec;
}

/* Frames per second, and the process's processor time a frame (all its threads): the
 * machine may be shared, and a frame handed to another thread costs waiting time that
 * the work itself does not. */
void perframe(benchmark::State &state, double cpustart) {
    state.counters["fps"] =
        benchmark::Counter((double)state.iterations(), benchmark::Counter::kIsRate);
    state.counters["proc_cpu_us"] =
        state.iterations() ? (processcpu() - cpustart) / (double)state.iterations() : 0;
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)framebytes);
}

void memcpyframe(benchmark::State &state) {
    std::vector<uint8_t> from(framebytes, 1), to(framebytes);
    const double cpu = processcpu();
    for (auto _ : state) {
        from[0]++;
        memcpy(to.data(), from.data(), framebytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    perframe(state, cpu);
}

/* The drawing alone: the fill into plain memory of the frame's size. */
void fillframe(benchmark::State &state) {
    std::vector<uint8_t> frame(framebytes);
    uint16_t value = 0;
    const double cpu = processcpu();
    for (auto _ : state) {
        fill(frame.data(), width * 2, value++);
        benchmark::DoNotOptimize(frame.data());
        benchmark::ClobberMemory();
    }
    perframe(state, cpu);
}

LRESULT CALLBACK windowproc(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m == WM_USER + 1) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(h, m, w, l);
}

/* The display's window on a thread of its own, waiting for messages as the library's
 * window thread does. */
class windowthread {
  public:
    windowthread() {
        std::promise<HWND> made;
        std::future<HWND> window = made.get_future();
        thread = std::thread([&made] {
            WNDCLASSEXA wc{};
            wc.cbSize = sizeof wc;
            wc.lpfnWndProc = windowproc;
            wc.lpszClassName = "DISPLAYBENCH";
            RegisterClassExA(&wc);
            HWND h = CreateWindowExA(WS_EX_TOPMOST, "DISPLAYBENCH", "display bench",
                                     WS_POPUP | WS_VISIBLE, 0, 0, width, height, nullptr, nullptr,
                                     nullptr, nullptr);
            made.set_value(h);
            MSG m;
            while (GetMessageA(&m, nullptr, 0, 0) > 0)
                DispatchMessageA(&m);
            DestroyWindow(h);
        });
        hwnd = window.get();
    }
    ~windowthread() {
        PostMessageA(hwnd, WM_USER + 1, 0, 0);
        thread.join();
    }
    HWND hwnd;

  private:
    std::thread thread;
};

/* Lock, fill, unlock and flip through the software device. */
void ddrawframes(benchmark::State &state) {
    windowthread window;
    LPDIRECTDRAW d1 = nullptr;
    LPDIRECTDRAW2 dd = nullptr;
    LPDIRECTDRAWSURFACE primary = nullptr, back = nullptr;
    DDSURFACEDESC d{};
    d.dwSize = sizeof d;
    d.dwFlags = DDSD_CAPS | DDSD_BACKBUFFERCOUNT;
    d.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX;
    d.dwBackBufferCount = 1;
    DDSCAPS backcaps{DDSCAPS_BACKBUFFER};
    if (!window.hwnd || DirectDrawCreate(nullptr, &d1, nullptr) != DD_OK ||
        IDirectDraw_QueryInterface(d1, IID_IDirectDraw2, (void **)&dd) != DD_OK ||
        IDirectDraw2_SetCooperativeLevel(dd, window.hwnd, DDSCL_EXCLUSIVE | DDSCL_FULLSCREEN) !=
            DD_OK ||
        IDirectDraw2_SetDisplayMode(dd, width, height, 16, 0, 0) != DD_OK ||
        IDirectDraw2_CreateSurface(dd, &d, &primary, nullptr) != DD_OK ||
        IDirectDrawSurface_GetAttachedSurface(primary, &backcaps, &back) != DD_OK) {
        state.SkipWithError("no full-screen 640x480x16 flip chain");
    } else {
        uint16_t value = 0;
        const double cpu = processcpu();
        for (auto _ : state) {
            DDSURFACEDESC locked{};
            locked.dwSize = sizeof locked;
            if (IDirectDrawSurface_Lock(back, nullptr, &locked, DDLOCK_WAIT, nullptr) != DD_OK) {
                state.SkipWithError("lock failed");
                break;
            }
            fill(locked.lpSurface, (int)locked.lPitch, value++);
            IDirectDrawSurface_Unlock(back, locked.lpSurface);
            IDirectDrawSurface_Flip(primary, nullptr, DDFLIP_WAIT);
        }
        perframe(state, cpu);
    }
    if (back)
        IDirectDrawSurface_Release(back);
    if (primary)
        IDirectDrawSurface_Release(primary);
    if (dd) {
        IDirectDraw2_RestoreDisplayMode(dd);
        IDirectDraw2_Release(dd);
    }
    if (d1)
        IDirectDraw_Release(d1);
}

/* SDL2's own path: a streaming RGB565 texture on the software renderer, the events
 * read once a frame as a game loop would. Runs while no window of the layer exists, so
 * no thread of the backend is inside SDL meanwhile. */
void sdlframes(benchmark::State &state) {
    SDL_Window *win = SDL_CreateWindow("sdl bench", 0, 0, width, height, SDL_WINDOW_BORDERLESS);
    SDL_Renderer *r = win ? SDL_CreateRenderer(win, -1, SDL_RENDERER_SOFTWARE) : nullptr;
    SDL_Texture *t =
        r ? SDL_CreateTexture(r, SDL_PIXELFORMAT_RGB565, SDL_TEXTUREACCESS_STREAMING, width, height)
          : nullptr;
    if (!t) {
        state.SkipWithError(SDL_GetError());
    } else {
        uint16_t value = 0;
        const double cpu = processcpu();
        for (auto _ : state) {
            SDL_Event ev;
            while (SDL_PollEvent(&ev)) {
            }
            void *pixels;
            int pitch;
            SDL_LockTexture(t, nullptr, &pixels, &pitch);
            fill(pixels, pitch, value++);
            SDL_UnlockTexture(t);
            SDL_RenderCopy(r, t, nullptr, nullptr);
            SDL_RenderPresent(r);
        }
        perframe(state, cpu);
    }
    if (t)
        SDL_DestroyTexture(t);
    if (r)
        SDL_DestroyRenderer(r);
    if (win)
        SDL_DestroyWindow(win);
}

/* Runs this program again with --backend=name first; its exit status. */
int runbackend(const char *self, const char *name, int argc, char **argv) {
    char flag[64];
    snprintf(flag, sizeof flag, "--backend=%s", name);
    std::vector<char *> args{const_cast<char *>(self), flag};
    for (int i = 1; i < argc; i++)
        args.push_back(argv[i]);
    args.push_back(nullptr);
    pid_t pid;
    if (posix_spawn(&pid, "/proc/self/exe", nullptr, nullptr, args.data(), environ) != 0)
        return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

int main(int argc, char **argv) {
    const char *backend = nullptr;
    if (argc > 1 && strncmp(argv[1], "--backend=", 10) == 0) {
        backend = argv[1] + 10;
        argv[1] = argv[0];
        argc--;
        argv++;
    }
    if (!backend) {
        int failed = runbackend(argv[0], "null", argc, argv) != 0;
        xserver::Display xvfb; /* an Xvfb of the run's own; DISPLAY names it */
        if (xvfb.name.empty()) {
            fprintf(stderr, "display_bench: Xvfb did not start; no SDL rows\n");
            return 1;
        }
        /* A connection of the run's own, so the server does not start over (a reset)
         * between the runs' windows. */
        Display *held = XOpenDisplay(xvfb.name.c_str());
        failed |= runbackend(argv[0], "sdl", argc, argv) != 0;
        if (held)
            XCloseDisplay(held);
        return failed;
    }

    setenv("THISTLE_VIDEO", backend, 1);
    const bool sdl = strcmp(backend, "sdl") == 0;
    if (sdl)
        setenv("SDL_VIDEODRIVER", "x11", 1);
    if (strcmp(plat_backendname(), backend) != 0) {
        fprintf(stderr, "display_bench: backend %s did not start (%s, DISPLAY %s)\n", backend,
                SDL_GetError(), getenv("DISPLAY"));
        return 1;
    }
    if (!sdl) {
        benchmark::RegisterBenchmark("memcpy/frame", memcpyframe);
        benchmark::RegisterBenchmark("fill/frame", fillframe);
    }
    char name[64];
    snprintf(name, sizeof name, "%s/ddraw_lock_fill_unlock_flip", backend);
    benchmark::RegisterBenchmark(name, ddrawframes)->UseRealTime();
    if (sdl)
        benchmark::RegisterBenchmark("sdl/streaming_texture", sdlframes)->UseRealTime();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
