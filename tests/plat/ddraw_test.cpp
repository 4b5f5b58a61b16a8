// The software DirectDraw, headless: creation paths and capabilities per driver profile,
// the mode list and mode switches, surfaces, flip chains and video memory, lock, loss and
// restore, every injected fault, blits checked pixel by pixel, palettes and clippers, and
// what goes to the backend. Each case runs in a process of its own (CTest), so profile
// and fault state start clean; the fixture still resets them and checks for leaks.
#include "plat/ddraw.h"
#include "plat/ddrawtest.h"
#include "plat/testhooks.h"
#include "plat/win32.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

LRESULT CALLBACK windowproc(HWND h, UINT m, WPARAM w, LPARAM l) {
    return DefWindowProcA(h, m, w, l);
}

struct modeseen {
    DWORD w, h, bpp, refresh, flags, caps, rmask;
};

HRESULT CALLBACK collectmode(LPDDSURFACEDESC d, LPVOID context) {
    static_cast<std::vector<modeseen> *>(context)->push_back(
        {d->dwWidth, d->dwHeight, d->ddpfPixelFormat.dwRGBBitCount, d->dwRefreshRate, d->dwFlags,
         d->ddsCaps.dwCaps, d->ddpfPixelFormat.dwRBitMask});
    return DDENUMRET_OK;
}

BOOL CALLBACK collectdriver(GUID *g, LPSTR, LPSTR, LPVOID context) {
    static_cast<std::vector<GUID> *>(context)->push_back(g ? *g : GUID{});
    return TRUE;
}

class DDraw : public ::testing::Test {
  protected:
    HWND hwnd = nullptr;
    LPDIRECTDRAW2 dd = nullptr;

    void SetUp() override {
        plat_ddrawreset();
        WNDCLASSEXA wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = windowproc;
        wc.lpszClassName = "DDrawTest";
        RegisterClassExA(&wc);
        hwnd = CreateWindowExA(0, "DDrawTest", "", WS_POPUP, 30, 40, 200, 100, nullptr, nullptr,
                               nullptr, nullptr);
        ASSERT_NE(hwnd, nullptr);
    }

    void TearDown() override {
        if (dd) {
            EXPECT_EQ(IDirectDraw2_Release(dd), 0u);
        }
        int counts[4];
        plat_ddrawlive(&counts[0], &counts[1], &counts[2], &counts[3]);
        for (int c : counts)
            EXPECT_EQ(c, 0);
        DestroyWindow(hwnd);
    }

    /* A DirectDraw 2 object of the profile for driver id, at cooperative level flags
     * (0: none set). */
    void open(const char *profile, DWORD flags = DDSCL_NORMAL, GUID *id = nullptr) {
        ASSERT_EQ(plat_ddrawsetprofile(profile), 1);
        LPDIRECTDRAW d1 = nullptr;
        ASSERT_EQ(DirectDrawCreate(id, &d1, nullptr), DD_OK);
        ASSERT_EQ(IDirectDraw_QueryInterface(d1, IID_IDirectDraw2, (void **)&dd), DD_OK);
        EXPECT_EQ(IDirectDraw_Release(d1), 1u);
        if (flags) {
            ASSERT_EQ(IDirectDraw2_SetCooperativeLevel(dd, hwnd, flags), DD_OK);
        }
    }

    void fullscreen(DWORD w, DWORD h, DWORD bpp, const char *profile = "modern") {
        open(profile, DDSCL_EXCLUSIVE | DDSCL_FULLSCREEN | DDSCL_ALLOWMODEX);
        ASSERT_EQ(IDirectDraw2_SetDisplayMode(dd, w, h, bpp, 0, 0), DD_OK);
    }

    HRESULT make(DWORD caps, DWORD w, DWORD h, LPDIRECTDRAWSURFACE *s, DWORD backs = 0,
                 DWORD bpp = 0) {
        DDSURFACEDESC d{};
        d.dwSize = sizeof d;
        d.dwFlags = DDSD_CAPS;
        d.ddsCaps.dwCaps = caps;
        if (w)
            d.dwFlags |= DDSD_WIDTH | DDSD_HEIGHT, d.dwWidth = w, d.dwHeight = h;
        if (backs) {
            d.dwFlags |= DDSD_BACKBUFFERCOUNT;
            d.dwBackBufferCount = backs;
            d.ddsCaps.dwCaps |= DDSCAPS_FLIP | DDSCAPS_COMPLEX;
        }
        if (bpp) {
            d.dwFlags |= DDSD_PIXELFORMAT;
            d.ddpfPixelFormat.dwSize = sizeof d.ddpfPixelFormat;
            d.ddpfPixelFormat.dwFlags = DDPF_RGB | (bpp == 8 ? DDPF_PALETTEINDEXED8 : 0);
            d.ddpfPixelFormat.dwRGBBitCount = bpp;
        }
        return IDirectDraw2_CreateSurface(dd, &d, s, nullptr);
    }

    static DDSURFACEDESC describe(LPDIRECTDRAWSURFACE s) {
        DDSURFACEDESC d{};
        d.dwSize = sizeof d;
        EXPECT_EQ(IDirectDrawSurface_GetSurfaceDesc(s, &d), DD_OK);
        return d;
    }

    std::vector<modeseen> modes(DWORD flags = DDEDM_REFRESHRATES, LPDDSURFACEDESC templ = nullptr) {
        std::vector<modeseen> seen;
        EXPECT_EQ(IDirectDraw2_EnumDisplayModes(dd, flags, templ, &seen, collectmode), DD_OK);
        return seen;
    }

    DDCAPS hal() {
        DDCAPS c{}, e{};
        c.dwSize = e.dwSize = sizeof c;
        EXPECT_EQ(IDirectDraw2_GetCaps(dd, &c, &e), DD_OK);
        return c;
    }
};

/* An 8-bit surface's pixels as rows of values; writes them when rows is given. */
std::vector<std::vector<int>> pixels(LPDIRECTDRAWSURFACE s,
                                     const std::vector<std::vector<int>> *rows = nullptr) {
    DDSURFACEDESC d{};
    d.dwSize = sizeof d;
    EXPECT_EQ(IDirectDrawSurface_Lock(s, nullptr, &d, DDLOCK_WAIT, nullptr), DD_OK);
    std::vector<std::vector<int>> out(d.dwHeight, std::vector<int>(d.dwWidth));
    for (DWORD y = 0; y < d.dwHeight; y++) {
        auto *row = static_cast<uint8_t *>(d.lpSurface) + y * d.lPitch;
        for (DWORD x = 0; x < d.dwWidth; x++) {
            if (rows)
                row[x] = (uint8_t)(*rows)[y][x];
            out[y][x] = row[x];
        }
    }
    EXPECT_EQ(IDirectDrawSurface_Unlock(s, d.lpSurface), DD_OK);
    return out;
}

/* ---- creation and capabilities ------------------------------------------------------ */

TEST_F(DDraw, DriversAndCreationPathsFollowTheProfile) {
    ASSERT_EQ(plat_ddrawsetprofile("modern"), 1);
    std::vector<GUID> drivers;
    ASSERT_EQ(DirectDrawEnumerateA(collectdriver, &drivers), DD_OK);
    ASSERT_EQ(drivers.size(), 2u);
    LPDIRECTDRAW d1 = nullptr;
    GUID wrong = drivers[1];
    wrong.Data1 ^= 1;
    EXPECT_EQ(DirectDrawCreate(&wrong, &d1, nullptr), DDERR_INVALIDDIRECTDRAWGUID);

    /* The emulation has no hardware block and no video memory. */
    open("modern", DDSCL_NORMAL, (GUID *)DDCREATE_EMULATIONONLY);
    EXPECT_EQ(hal().dwCaps, (DWORD)DDCAPS_NOHARDWARE);
    LPDIRECTDRAWSURFACE s = nullptr;
    EXPECT_EQ(make(DDSCAPS_OFFSCREENPLAIN | DDSCAPS_VIDEOMEMORY, 8, 8, &s), DDERR_NODIRECTDRAWHW);
    IDirectDraw2_Release(dd);

    /* A machine without display hardware lists no hardware driver (what can be created
     * there is the library's creation case). */
    dd = nullptr;
    ASSERT_EQ(plat_ddrawsetprofile("emulation"), 1);
    drivers.clear();
    DirectDrawEnumerateA(collectdriver, &drivers);
    EXPECT_EQ(drivers.size(), 1u);
}

TEST_F(DDraw, CapabilitiesPerProfile) {
    struct want {
        const char *profile;
        DWORD caps, nocaps, surfacecaps, nosurfacecaps, vidmem;
    };
    const want table[] = {
        {"modern", DDCAPS_BLT | DDCAPS_BLTCOLORFILL | DDCAPS_BLTSTRETCH | DDCAPS_CANBLTSYSMEM, 0,
         DDSCAPS_FLIP, 0, 16u << 20},
        {"8bit", DDCAPS_BLT, DDCAPS_BLTSTRETCH, DDSCAPS_FLIP, 0, 2u << 20},
        {"noflip", DDCAPS_BLT, 0, DDSCAPS_VIDEOMEMORY, DDSCAPS_FLIP, 4u << 20},
        {"bankswitched", DDCAPS_BANKSWITCHED, DDCAPS_BLT, 0, DDSCAPS_FLIP, 1u << 20},
        {"largermode", DDCAPS_BLT, 0, DDSCAPS_FLIP, 0, 8u << 20},
    };
    for (const want &w : table) {
        SCOPED_TRACE(w.profile);
        open(w.profile, 0);
        DDCAPS c = hal();
        EXPECT_EQ(c.dwCaps & w.caps, w.caps);
        EXPECT_EQ(c.dwCaps & w.nocaps, 0u);
        EXPECT_EQ(c.ddsCaps.dwCaps & w.surfacecaps, w.surfacecaps);
        EXPECT_EQ(c.ddsCaps.dwCaps & w.nosurfacecaps, 0u);
        EXPECT_EQ(c.dwVidMemTotal, w.vidmem);
        EXPECT_EQ(c.dwVidMemFree, w.vidmem);
        DDCAPS bad{};
        bad.dwSize = 100;
        EXPECT_EQ(IDirectDraw2_GetCaps(dd, &bad, nullptr), DDERR_INVALIDPARAMS);
        IDirectDraw2_Release(dd);
        dd = nullptr;
    }
    EXPECT_STREQ(plat_ddrawprofilename(), "largermode");
}

TEST_F(DDraw, QueriesAndReferenceCounts) {
    open("modern");
    LPDIRECTDRAW d1 = nullptr;
    ASSERT_EQ(IDirectDraw2_QueryInterface(dd, IID_IDirectDraw, (void **)&d1), DD_OK);
    EXPECT_EQ(IDirectDraw_AddRef(d1), 3u);
    EXPECT_EQ(IDirectDraw_Release(d1), 2u);
    EXPECT_EQ(IDirectDraw_Release(d1), 1u);
    void *none = &none;
    EXPECT_EQ(IDirectDraw2_QueryInterface(dd, IID_IDirectDrawPalette, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
}

/* ---- modes ---------------------------------------------------------------------------- */

TEST_F(DDraw, ModeListWithRatesAndMasks) {
    open("modern", 0);
    std::vector<modeseen> all = modes();
    std::vector<modeseen> plain = modes(0);
    EXPECT_EQ(plain.size(), 15u);
    EXPECT_GT(all.size(), plain.size());
    for (const modeseen &m : all)
        EXPECT_EQ(
            m.flags & (DDSD_WIDTH | DDSD_HEIGHT | DDSD_PITCH | DDSD_PIXELFORMAT | DDSD_REFRESHRATE),
            (DWORD)(DDSD_WIDTH | DDSD_HEIGHT | DDSD_PITCH | DDSD_PIXELFORMAT | DDSD_REFRESHRATE));
    DDSURFACEDESC t{};
    t.dwSize = sizeof t;
    t.dwFlags = DDSD_WIDTH | DDSD_HEIGHT;
    t.dwWidth = 640, t.dwHeight = 480;
    std::vector<modeseen> vga = modes(DDEDM_REFRESHRATES, &t);
    ASSERT_EQ(vga.size(), 10u); /* 8: 3 rates, 16: 3, 24: 1, 32: 3 */
    EXPECT_EQ(vga[0].refresh, 60u);
    EXPECT_EQ(vga[3].rmask, 0xF800u);
    IDirectDraw2_Release(dd);

    open("noflip", 0);
    t.dwFlags = DDSD_PIXELFORMAT;
    t.ddpfPixelFormat.dwRGBBitCount = 16;
    std::vector<modeseen> hi = modes(0, &t);
    ASSERT_EQ(hi.size(), 2u);
    EXPECT_EQ(hi[0].rmask, 0x7C00u);
}

TEST_F(DDraw, DisplayModeSwitches) {
    open("8bit", DDSCL_NORMAL);
    DDSURFACEDESC d{};
    d.dwSize = sizeof d;
    EXPECT_EQ(IDirectDraw2_SetDisplayMode(dd, 640, 480, 8, 0, 0), DDERR_NOEXCLUSIVEMODE);
    IDirectDraw2_Release(dd);

    fullscreen(640, 480, 16);
    ASSERT_EQ(IDirectDraw2_GetDisplayMode(dd, &d), DD_OK);
    EXPECT_EQ(d.dwWidth, 640u);
    EXPECT_EQ(d.ddpfPixelFormat.dwRGBBitCount, 16u);
    EXPECT_EQ(d.dwRefreshRate, 60u);
    EXPECT_EQ(IDirectDraw2_SetDisplayMode(dd, 640, 480, 16, 75, 0), DD_OK);
    EXPECT_EQ(IDirectDraw2_SetDisplayMode(dd, 640, 480, 16, 85, 0), DDERR_INVALIDMODE);
    EXPECT_EQ(IDirectDraw2_SetDisplayMode(dd, 641, 480, 16, 0, 0), DDERR_INVALIDMODE);
    EXPECT_EQ(IDirectDraw2_RestoreDisplayMode(dd), DD_OK);
    ASSERT_EQ(IDirectDraw2_GetDisplayMode(dd, &d), DD_OK);
    EXPECT_EQ(d.ddpfPixelFormat.dwRGBBitCount, 32u);

    /* A second object cannot take exclusive mode while the first has it. */
    LPDIRECTDRAW other = nullptr;
    ASSERT_EQ(DirectDrawCreate(nullptr, &other, nullptr), DD_OK);
    EXPECT_EQ(IDirectDraw_SetCooperativeLevel(other, hwnd, DDSCL_EXCLUSIVE | DDSCL_FULLSCREEN),
              DDERR_EXCLUSIVEMODEALREADYSET);
    EXPECT_EQ(IDirectDraw_SetCooperativeLevel(other, hwnd, DDSCL_EXCLUSIVE), DDERR_INVALIDPARAMS);
    /* Once the first leaves exclusive mode, the second can have it. */
    ASSERT_EQ(IDirectDraw2_SetCooperativeLevel(dd, hwnd, DDSCL_NORMAL), DD_OK);
    EXPECT_EQ(IDirectDraw_SetCooperativeLevel(other, hwnd, DDSCL_EXCLUSIVE | DDSCL_FULLSCREEN),
              DD_OK);
    IDirectDraw_Release(other);
}

/* ---- surfaces ------------------------------------------------------------------------- */

TEST_F(DDraw, PrimaryIsTheScreen) {
    open("modern");
    LPDIRECTDRAWSURFACE p = nullptr, again = nullptr, chain = nullptr;
    EXPECT_EQ(make(DDSCAPS_PRIMARYSURFACE, 0, 0, &chain, 1), DDERR_NOEXCLUSIVEMODE);
    EXPECT_EQ(make(DDSCAPS_PRIMARYSURFACE, 320, 200, &p), DDERR_INVALIDPARAMS);
    ASSERT_EQ(make(DDSCAPS_PRIMARYSURFACE, 0, 0, &p), DD_OK);
    DDSURFACEDESC d = describe(p);
    EXPECT_EQ(d.dwWidth, (DWORD)GetSystemMetrics(SM_CXSCREEN));
    EXPECT_EQ(d.ddpfPixelFormat.dwRGBBitCount, 32u);
    EXPECT_EQ(d.lPitch, (LONG)d.dwWidth * 4);
    EXPECT_EQ(d.ddsCaps.dwCaps & (DDSCAPS_PRIMARYSURFACE | DDSCAPS_VIDEOMEMORY),
              (DWORD)(DDSCAPS_PRIMARYSURFACE | DDSCAPS_VIDEOMEMORY));
    EXPECT_EQ(make(DDSCAPS_PRIMARYSURFACE, 0, 0, &again), DDERR_PRIMARYSURFACEALREADYEXISTS);
    EXPECT_EQ(IDirectDrawSurface_Release(p), 0u);
    ASSERT_EQ(make(DDSCAPS_PRIMARYSURFACE, 0, 0, &again), DD_OK);

    /* Off-screen surfaces take the screen's format unless they name one. */
    LPDIRECTDRAWSURFACE s = nullptr;
    ASSERT_EQ(make(DDSCAPS_OFFSCREENPLAIN, 33, 7, &s), DD_OK);
    d = describe(s);
    EXPECT_EQ(d.ddpfPixelFormat.dwRGBBitCount, 32u);
    EXPECT_EQ(d.lPitch, 33 * 4);
    IDirectDrawSurface_Release(s);
    ASSERT_EQ(make(DDSCAPS_OFFSCREENPLAIN, 5, 1, &s, 0, 8), DD_OK);
    EXPECT_EQ(describe(s).lPitch, 8); /* rows start on 4 bytes */
    EXPECT_EQ(make(DDSCAPS_OFFSCREENPLAIN, 0, 0, &s), DDERR_INVALIDPARAMS);
    EXPECT_EQ(make(DDSCAPS_OFFSCREENPLAIN | DDSCAPS_ZBUFFER, 4, 4, &s), DDERR_INVALIDCAPS);
    EXPECT_EQ(make(DDSCAPS_OFFSCREENPLAIN, 4, 4, &s, 0, 12), DDERR_INVALIDPIXELFORMAT);
}

TEST_F(DDraw, FlipChainsRotateTheirMemory) {
    fullscreen(320, 240, 8);
    LPDIRECTDRAWSURFACE front = nullptr, back = nullptr, third = nullptr, ring = nullptr;
    ASSERT_EQ(make(DDSCAPS_PRIMARYSURFACE, 0, 0, &front, 2), DD_OK);
    DDSURFACEDESC d = describe(front);
    EXPECT_EQ(d.dwBackBufferCount, 2u);
    EXPECT_EQ(d.ddsCaps.dwCaps & DDSCAPS_MODEX, 0u); /* only ModeX modes make ModeX screens */
    EXPECT_EQ(d.ddsCaps.dwCaps & (DDSCAPS_FRONTBUFFER | DDSCAPS_FLIP | DDSCAPS_COMPLEX),
              (DWORD)(DDSCAPS_FRONTBUFFER | DDSCAPS_FLIP | DDSCAPS_COMPLEX));
    DDSCAPS caps{DDSCAPS_BACKBUFFER};
    ASSERT_EQ(IDirectDrawSurface_GetAttachedSurface(front, &caps, &back), DD_OK);
    caps.dwCaps = DDSCAPS_FLIP;
    ASSERT_EQ(IDirectDrawSurface_GetAttachedSurface(back, &caps, &third), DD_OK);
    ASSERT_EQ(IDirectDrawSurface_GetAttachedSurface(third, &caps, &ring), DD_OK);
    EXPECT_EQ(ring, front);
    IDirectDrawSurface_Release(ring);
    caps.dwCaps = DDSCAPS_ZBUFFER;
    EXPECT_EQ(IDirectDrawSurface_GetAttachedSurface(front, &caps, &ring), DDERR_NOTFOUND);

    /* Mark each buffer, then flip: the front shows the old back, and so on round. */
    LPDIRECTDRAWSURFACE all[3] = {front, back, third};
    for (int i = 0; i < 3; i++) {
        std::vector<std::vector<int>> rows(240, std::vector<int>(320, 10 + i));
        pixels(all[i], &rows);
    }
    EXPECT_EQ(IDirectDrawSurface_Flip(back, nullptr, DDFLIP_WAIT), DDERR_NOTFLIPPABLE);
    ASSERT_EQ(IDirectDrawSurface_Flip(front, nullptr, DDFLIP_WAIT), DD_OK);
    EXPECT_EQ(pixels(front)[0][0], 11);
    EXPECT_EQ(pixels(back)[0][0], 12);
    EXPECT_EQ(pixels(third)[0][0], 10);
    ASSERT_EQ(IDirectDrawSurface_Flip(front, third, 0), DD_OK); /* a chosen target */
    EXPECT_EQ(pixels(front)[0][0], 10);
    EXPECT_EQ(pixels(third)[0][0], 11);

    /* A locked buffer keeps the chain from flipping. */
    DDSURFACEDESC l{};
    l.dwSize = sizeof l;
    ASSERT_EQ(IDirectDrawSurface_Lock(back, nullptr, &l, DDLOCK_WAIT, nullptr), DD_OK);
    EXPECT_EQ(IDirectDrawSurface_Flip(front, nullptr, 0), DDERR_SURFACEBUSY);
    IDirectDrawSurface_Unlock(back, l.lpSurface);

    /* Back to the memory the desktop uses. */
    ASSERT_EQ(IDirectDrawSurface_Flip(front, nullptr, 0), DD_OK);
    ASSERT_EQ(IDirectDraw2_FlipToGDISurface(dd), DD_OK);
    EXPECT_EQ(pixels(front)[0][0], 10);
    EXPECT_EQ(IDirectDrawSurface_Release(back), 0u);
    EXPECT_EQ(IDirectDrawSurface_Release(third), 0u);
    EXPECT_EQ(IDirectDrawSurface_Release(front), 0u); /* takes its chain along */
}

TEST_F(DDraw, PlacementAndVideoMemory) {
    fullscreen(640, 480, 8, "bankswitched"); /* 1 MB */
    DWORD total = 0, left = 0;
    DDSCAPS vcaps{DDSCAPS_VIDEOMEMORY};
    LPDIRECTDRAWSURFACE p = nullptr, a = nullptr, b = nullptr, sys = nullptr;
    ASSERT_EQ(make(DDSCAPS_PRIMARYSURFACE, 0, 0, &p), DD_OK);
    ASSERT_EQ(IDirectDraw2_GetAvailableVidMem(dd, &vcaps, &total, &left), DD_OK);
    EXPECT_EQ(total - left, 640u * 480);
    ASSERT_EQ(make(DDSCAPS_OFFSCREENPLAIN | DDSCAPS_VIDEOMEMORY, 1024, 512, &a), DD_OK);
    EXPECT_EQ(make(DDSCAPS_OFFSCREENPLAIN | DDSCAPS_VIDEOMEMORY, 640, 480, &b),
              DDERR_OUTOFVIDEOMEMORY);
    /* Not insisting on video memory lands in system memory. */
    ASSERT_EQ(make(DDSCAPS_OFFSCREENPLAIN, 640, 480, &sys), DD_OK);
    EXPECT_TRUE(describe(sys).ddsCaps.dwCaps & DDSCAPS_SYSTEMMEMORY);
    IDirectDrawSurface_Release(a);
    ASSERT_EQ(make(DDSCAPS_OFFSCREENPLAIN | DDSCAPS_VIDEOMEMORY, 640, 480, &b), DD_OK);
}

/* ---- lock, loss, restore ------------------------------------------------------------ */

TEST_F(DDraw, LockGivesTheMemory) {
    open("modern");
    LPDIRECTDRAWSURFACE s = nullptr;
    ASSERT_EQ(make(DDSCAPS_OFFSCREENPLAIN, 10, 6, &s, 0, 16), DD_OK);
    DDSURFACEDESC d{}, again{};
    d.dwSize = again.dwSize = sizeof d;
    ASSERT_EQ(IDirectDrawSurface_Lock(s, nullptr, &d, DDLOCK_WAIT, nullptr), DD_OK);
    EXPECT_EQ(d.lPitch, 20);
    EXPECT_EQ(d.ddpfPixelFormat.dwRBitMask, 0xF800u);
    auto *base = static_cast<uint8_t *>(d.lpSurface);
    EXPECT_EQ(IDirectDrawSurface_Lock(s, nullptr, &again, DDLOCK_WAIT, nullptr), DDERR_SURFACEBUSY);
    ASSERT_EQ(IDirectDrawSurface_Unlock(s, base), DD_OK);
    EXPECT_EQ(IDirectDrawSurface_Unlock(s, base), DDERR_NOTLOCKED);
    RECT r{3, 2, 5, 4};
    ASSERT_EQ(IDirectDrawSurface_Lock(s, &r, &d, 0, nullptr), DD_OK);
    EXPECT_EQ(static_cast<uint8_t *>(d.lpSurface), base + 2 * 20 + 3 * 2);
    IDirectDrawSurface_Unlock(s, d.lpSurface);
    r = RECT{8, 0, 11, 1};
    EXPECT_EQ(IDirectDrawSurface_Lock(s, &r, &d, 0, nullptr), DDERR_INVALIDRECT);
    d.dwSize = 100;
    EXPECT_EQ(IDirectDrawSurface_Lock(s, nullptr, &d, 0, nullptr), DDERR_INVALIDPARAMS);

    /* Page locks (the library's video window case takes one and gives it back) count
     * down no further than they went up. */
    LPDIRECTDRAWSURFACE2 s2 = nullptr;
    ASSERT_EQ(IDirectDrawSurface_QueryInterface(s, IID_IDirectDrawSurface2, (void **)&s2), DD_OK);
    EXPECT_EQ(IDirectDrawSurface2_PageUnlock(s2, 0), DDERR_NOTPAGELOCKED);
    EXPECT_EQ(IDirectDrawSurface2_Release(s2), 1u);
}

TEST_F(DDraw, LostSurfacesUntilRestored) {
    fullscreen(640, 480, 8);
    LPDIRECTDRAWSURFACE p = nullptr, back = nullptr, sys = nullptr;
    ASSERT_EQ(make(DDSCAPS_PRIMARYSURFACE, 0, 0, &p, 1), DD_OK);
    ASSERT_EQ(make(DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY, 8, 8, &sys), DD_OK);
    DDSCAPS caps{DDSCAPS_BACKBUFFER};
    ASSERT_EQ(IDirectDrawSurface_GetAttachedSurface(p, &caps, &back), DD_OK);
    plat_ddrawloseall();
    DDSURFACEDESC d{};
    d.dwSize = sizeof d;
    for (LPDIRECTDRAWSURFACE s : {p, back, sys}) {
        EXPECT_EQ(IDirectDrawSurface_IsLost(s), DDERR_SURFACELOST);
        EXPECT_EQ(IDirectDrawSurface_Lock(s, nullptr, &d, DDLOCK_WAIT, nullptr), DDERR_SURFACELOST);
    }
    EXPECT_EQ(IDirectDrawSurface_Flip(p, nullptr, 0), DDERR_SURFACELOST);
    EXPECT_EQ(IDirectDrawSurface_Blt(back, nullptr, sys, nullptr, DDBLT_WAIT, nullptr),
              DDERR_SURFACELOST);

    ASSERT_EQ(IDirectDrawSurface_Restore(p), DD_OK); /* the chain comes back together */
    EXPECT_EQ(IDirectDrawSurface_IsLost(back), DD_OK);
    EXPECT_EQ(IDirectDrawSurface_IsLost(sys), DDERR_SURFACELOST);
    ASSERT_EQ(IDirectDrawSurface_Restore(sys), DD_OK);

    /* A mode switch loses the screen, which then only restores in its own mode; system
     * memory survives it. */
    ASSERT_EQ(IDirectDraw2_SetDisplayMode(dd, 800, 600, 8, 0, 0), DD_OK);
    EXPECT_EQ(IDirectDrawSurface_IsLost(p), DDERR_SURFACELOST);
    EXPECT_EQ(IDirectDrawSurface_IsLost(sys), DD_OK);
    EXPECT_EQ(IDirectDrawSurface_Restore(p), DDERR_WRONGMODE);
    IDirectDrawSurface_Release(back);
}

/* ---- faults ----------------------------------------------------------------------------- */

TEST_F(DDraw, SurfaceFaults) {
    fullscreen(640, 480, 8);
    LPDIRECTDRAWSURFACE p = nullptr, s = nullptr;
    ASSERT_EQ(make(DDSCAPS_PRIMARYSURFACE, 0, 0, &p), DD_OK);

    /* Video memory refuses: requests that insist fail, the others land in system memory. */
    plat_ddrawfailsurfaces(PLAT_DDKIND_VIDEOMEMORY);
    EXPECT_EQ(make(DDSCAPS_OFFSCREENPLAIN | DDSCAPS_VIDEOMEMORY, 8, 8, &s), DDERR_OUTOFVIDEOMEMORY);
    ASSERT_EQ(make(DDSCAPS_OFFSCREENPLAIN, 8, 8, &s), DD_OK);
    EXPECT_TRUE(describe(s).ddsCaps.dwCaps & DDSCAPS_SYSTEMMEMORY);
    IDirectDrawSurface_Release(s);
    plat_ddrawfailsurfaces(PLAT_DDKIND_ANY);
    EXPECT_EQ(make(DDSCAPS_OFFSCREENPLAIN, 8, 8, &s), DDERR_GENERIC);
    plat_ddrawfailsurfaces(0);

    /* The first lock of a new surface fails once; older surfaces are not touched. */
    plat_ddrawfailfirstlock(PLAT_DDKIND_OFFSCREEN);
    ASSERT_EQ(make(DDSCAPS_OFFSCREENPLAIN, 8, 8, &s), DD_OK);
    DDSURFACEDESC d{};
    d.dwSize = sizeof d;
    EXPECT_EQ(IDirectDrawSurface_Lock(p, nullptr, &d, 0, nullptr), DD_OK);
    IDirectDrawSurface_Unlock(p, d.lpSurface);
    EXPECT_EQ(IDirectDrawSurface_Lock(s, nullptr, &d, 0, nullptr), DDERR_CANTLOCKSURFACE);
    EXPECT_EQ(IDirectDrawSurface_Lock(s, nullptr, &d, 0, nullptr), DD_OK);
    IDirectDrawSurface_Unlock(s, d.lpSurface);
}

TEST_F(DDraw, ProfilesByNameFileAndEnvironment) {
    std::string path = testing::TempDir() + "ddraw_profile.txt";
    FILE *f = fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fputs("# a small card\n"
          "caps BLT 0x80000   # VBI by number\n"
          "surfacecaps FLIP PRIMARYSURFACE\n"
          "vidmem 512K\n"
          "desktop 16\n"
          "pitchalign 64\n"
          "mode 400x300x16/555 50 modex\n",
          f);
    fclose(f);
    open(path.c_str(), DDSCL_NORMAL);
    DDCAPS c = hal();
    EXPECT_EQ(c.dwCaps, (DWORD)(DDCAPS_BLT | DDCAPS_VBI));
    EXPECT_EQ(c.dwVidMemTotal, 512u << 10);
    DDSURFACEDESC d{};
    d.dwSize = sizeof d;
    ASSERT_EQ(IDirectDraw2_GetDisplayMode(dd, &d), DD_OK);
    EXPECT_EQ(d.ddpfPixelFormat.dwRGBBitCount, 16u);
    LPDIRECTDRAWSURFACE s = nullptr;
    ASSERT_EQ(make(DDSCAPS_OFFSCREENPLAIN, 10, 2, &s), DD_OK);
    EXPECT_EQ(describe(s).lPitch, 64);
    EXPECT_TRUE(modes().empty()); /* its one mode is ModeX */
    IDirectDraw2_Release(dd);
    dd = nullptr;

    f = fopen(path.c_str(), "w");
    fputs("mode 640x480x12\n", f);
    fclose(f);
    testing::internal::CaptureStderr();
    EXPECT_EQ(plat_ddrawsetprofile(path.c_str()), 0);
    EXPECT_EQ(plat_ddrawsetprofile("nosuchcard"), 0);
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("line 1: bad mode"), std::string::npos) << said;
    EXPECT_NE(said.find("nosuchcard"), std::string::npos) << said;
    EXPECT_STREQ(plat_ddrawprofilename(), "modern");

    setenv("THISTLE_DDRAW_PROFILE", "noflip", 1);
    plat_ddrawreset();
    EXPECT_STREQ(plat_ddrawprofilename(), "noflip");
    unsetenv("THISTLE_DDRAW_PROFILE");
    remove(path.c_str());
}

/* ---- blits -------------------------------------------------------------------------- */

class Blit : public DDraw {
  protected:
    LPDIRECTDRAWSURFACE src = nullptr, dst = nullptr;
    const std::vector<std::vector<int>> image{{1, 2, 3}, {4, 5, 6}};

    void SetUp() override {
        DDraw::SetUp();
        open("modern");
        ASSERT_EQ(make(DDSCAPS_OFFSCREENPLAIN, 3, 2, &src, 0, 8), DD_OK);
        ASSERT_EQ(make(DDSCAPS_OFFSCREENPLAIN, 6, 4, &dst, 0, 8), DD_OK);
        pixels(src, &image);
    }

    /* Blits the whole source to dst rectangle r with the effects and flags given, and
     * gives back dst's rows within r (the rest of dst must stay 0). */
    std::vector<std::vector<int>> blit(RECT r, DWORD effects, DWORD flags = 0) {
        std::vector<std::vector<int>> zero(4, std::vector<int>(6, 0));
        pixels(dst, &zero);
        DDBLTFX fx{};
        fx.dwSize = sizeof fx;
        fx.dwDDFX = effects;
        EXPECT_EQ(IDirectDrawSurface_Blt(dst, &r, src, nullptr,
                                         DDBLT_WAIT | flags | (effects ? DDBLT_DDFX : 0), &fx),
                  DD_OK);
        std::vector<std::vector<int>> all = pixels(dst), out;
        for (LONG y = 0; y < 4; y++) {
            if (y >= r.top && y < r.bottom)
                out.emplace_back(all[y].begin() + r.left, all[y].begin() + r.right);
            for (LONG x = 0; x < 6; x++)
                if (y < r.top || y >= r.bottom || x < r.left || x >= r.right) {
                    EXPECT_EQ(all[y][x], 0) << x << "," << y;
                }
        }
        return out;
    }
};

using rows = std::vector<std::vector<int>>;

TEST_F(Blit, CopyStretchAndFill) {
    EXPECT_EQ(blit({1, 1, 4, 3}, 0), (rows{{1, 2, 3}, {4, 5, 6}}));
    EXPECT_EQ(
        blit({0, 0, 6, 4}, 0),
        (rows{{1, 1, 2, 2, 3, 3}, {1, 1, 2, 2, 3, 3}, {4, 4, 5, 5, 6, 6}, {4, 4, 5, 5, 6, 6}}));
    EXPECT_EQ(blit({0, 0, 2, 1}, 0), (rows{{1, 2}})); /* shrinking drops columns */

    DDBLTFX fx{};
    fx.dwSize = sizeof fx;
    fx.dwFillColor = 0x1234; /* only the low byte at 8 bits */
    RECT r{4, 2, 6, 4};
    ASSERT_EQ(IDirectDrawSurface_Blt(dst, &r, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx),
              DD_OK);
    EXPECT_EQ(pixels(dst)[3], (std::vector<int>{0, 0, 0, 0, 0x34, 0x34}));

    /* BltFast: the source's size at a point, with its colour key when asked. */
    DDCOLORKEY key{5, 5};
    IDirectDrawSurface_SetColorKey(src, DDCKEY_SRCBLT, &key);
    ASSERT_EQ(IDirectDrawSurface_BltFast(dst, 3, 1, src, nullptr, DDBLTFAST_SRCCOLORKEY), DD_OK);
    EXPECT_EQ(pixels(dst)[2], (std::vector<int>{0, 0, 0, 4, 0x34, 6}));

    RECT out{5, 0, 7, 1};
    EXPECT_EQ(IDirectDrawSurface_Blt(dst, &out, src, nullptr, 0, nullptr), DDERR_INVALIDRECT);
    LPDIRECTDRAWSURFACE wide = nullptr;
    ASSERT_EQ(make(DDSCAPS_OFFSCREENPLAIN, 3, 2, &wide, 0, 16), DD_OK);
    EXPECT_EQ(IDirectDrawSurface_Blt(wide, nullptr, src, nullptr, 0, nullptr),
              DDERR_INVALIDPIXELFORMAT);
}

TEST_F(Blit, MirrorsAndRotations) {
    EXPECT_EQ(blit({0, 0, 3, 2}, DDBLTFX_MIRRORLEFTRIGHT), (rows{{3, 2, 1}, {6, 5, 4}}));
    EXPECT_EQ(blit({0, 0, 3, 2}, DDBLTFX_MIRRORUPDOWN), (rows{{4, 5, 6}, {1, 2, 3}}));
    EXPECT_EQ(blit({0, 0, 3, 2}, DDBLTFX_ROTATE180), (rows{{6, 5, 4}, {3, 2, 1}}));
    /* Counter-clockwise: the top right corner comes to the top left. */
    EXPECT_EQ(blit({0, 0, 2, 3}, DDBLTFX_ROTATE90), (rows{{3, 6}, {2, 5}, {1, 4}}));
    EXPECT_EQ(blit({0, 0, 2, 3}, DDBLTFX_ROTATE270), (rows{{4, 1}, {5, 2}, {6, 3}}));
    EXPECT_EQ(blit({1, 0, 3, 3}, DDBLTFX_ROTATE90 | DDBLTFX_MIRRORLEFTRIGHT),
              (rows{{1, 4}, {2, 5}, {3, 6}}));
    /* Rotated and stretched to twice the size. */
    EXPECT_EQ(blit({0, 0, 4, 3}, DDBLTFX_ROTATE270)[0], (std::vector<int>{4, 4, 1, 1}));
}

/* A surface's key is the wide formats' and the library's blit case; here a range through
 * the override, which needs no key on the surface. */
TEST_F(Blit, SourceColourKeyRange) {
    RECT r{0, 0, 3, 2};
    EXPECT_EQ(IDirectDrawSurface_Blt(dst, &r, src, nullptr, DDBLT_KEYSRC, nullptr),
              DDERR_NOCOLORKEY);
    DDBLTFX fx{};
    fx.dwSize = sizeof fx;
    fx.ddckSrcColorkey = DDCOLORKEY{4, 5};
    std::vector<std::vector<int>> seven(4, std::vector<int>(6, 7));
    pixels(dst, &seven);
    ASSERT_EQ(IDirectDrawSurface_Blt(dst, &r, src, nullptr, DDBLT_KEYSRCOVERRIDE, &fx), DD_OK);
    EXPECT_EQ(pixels(dst)[1], (std::vector<int>{7, 7, 6, 7, 7, 7}));
}

TEST_F(Blit, WideFormatsKeepEveryByte) {
    for (DWORD bpp : {16u, 24u, 32u}) {
        SCOPED_TRACE(bpp);
        const int bytes = (int)bpp / 8;
        LPDIRECTDRAWSURFACE from = nullptr, to = nullptr;
        ASSERT_EQ(make(DDSCAPS_OFFSCREENPLAIN, 3, 1, &from, 0, bpp), DD_OK);
        ASSERT_EQ(make(DDSCAPS_OFFSCREENPLAIN, 3, 1, &to, 0, bpp), DD_OK);
        const uint8_t values[3][4] = {
            {0x11, 0x22, 0x33, 0x44}, {0x55, 0x66, 0x77, 0x88}, {0x99, 0xAA, 0xBB, 0xCC}};
        DDSURFACEDESC d{};
        d.dwSize = sizeof d;
        ASSERT_EQ(IDirectDrawSurface_Lock(from, nullptr, &d, 0, nullptr), DD_OK);
        for (int x = 0; x < 3; x++)
            memcpy(static_cast<uint8_t *>(d.lpSurface) + x * bytes, values[x], bytes);
        IDirectDrawSurface_Unlock(from, d.lpSurface);
        /* The key is the middle pixel exactly: one byte more or less is not it. */
        DWORD middle = 0;
        memcpy(&middle, values[1], bytes);
        DDCOLORKEY key{middle, middle};
        ASSERT_EQ(IDirectDrawSurface_SetColorKey(from, DDCKEY_SRCBLT, &key), DD_OK);
        DDBLTFX fx{};
        fx.dwSize = sizeof fx;
        fx.dwFillColor = 0xF0F0F0F0;
        ASSERT_EQ(IDirectDrawSurface_Blt(to, nullptr, nullptr, nullptr, DDBLT_COLORFILL, &fx),
                  DD_OK);
        fx.dwDDFX = DDBLTFX_MIRRORLEFTRIGHT;
        ASSERT_EQ(
            IDirectDrawSurface_Blt(to, nullptr, from, nullptr, DDBLT_DDFX | DDBLT_KEYSRC, &fx),
            DD_OK);
        ASSERT_EQ(IDirectDrawSurface_Lock(to, nullptr, &d, 0, nullptr), DD_OK);
        const auto *got = static_cast<const uint8_t *>(d.lpSurface);
        std::vector<uint8_t> want;
        for (int i = 0; i < bytes; i++)
            want.push_back(values[2][i]);
        want.insert(want.end(), bytes, 0xF0);
        for (int i = 0; i < bytes; i++)
            want.push_back(values[0][i]);
        EXPECT_EQ(std::vector<uint8_t>(got, got + 3 * bytes), want);
        IDirectDrawSurface_Unlock(to, d.lpSurface);
        IDirectDrawSurface_Release(from);
        IDirectDrawSurface_Release(to);
    }
}

TEST_F(Blit, OverlappingCopyWithinOneSurface) {
    RECT from{0, 0, 2, 2}, to{1, 0, 3, 2};
    ASSERT_EQ(IDirectDrawSurface_Blt(src, &to, src, &from, 0, nullptr), DD_OK);
    EXPECT_EQ(pixels(src), (rows{{1, 1, 2}, {4, 4, 5}}));
}

/* ---- palettes and clippers ------------------------------------------------------------ */

TEST_F(DDraw, Palettes) {
    fullscreen(640, 480, 8);
    PALETTEENTRY e[256];
    for (int i = 0; i < 256; i++)
        e[i] = PALETTEENTRY{(BYTE)i, (BYTE)(255 - i), 7, 0};
    LPDIRECTDRAWPALETTE all = nullptr, kept = nullptr, got = nullptr;
    ASSERT_EQ(IDirectDraw2_CreatePalette(dd, DDPCAPS_8BIT | DDPCAPS_ALLOW256, e, &all, nullptr),
              DD_OK);
    ASSERT_EQ(IDirectDraw2_CreatePalette(dd, DDPCAPS_8BIT, e, &kept, nullptr), DD_OK);
    PALETTEENTRY out[1], two[2] = {{9, 9, 9, 0}, {8, 8, 8, 0}};
    ASSERT_EQ(IDirectDrawPalette_SetEntries(all, 0, 254, 2, two), DD_OK);
    EXPECT_EQ(IDirectDrawPalette_SetEntries(all, 0, 255, 2, two), DDERR_INVALIDPARAMS);
    ASSERT_EQ(IDirectDrawPalette_GetEntries(all, 0, 255, 1, out), DD_OK);
    EXPECT_EQ(out[0].peRed, 8);
    EXPECT_EQ(IDirectDraw2_CreatePalette(dd, DDPCAPS_8BIT | DDPCAPS_4BIT, e, &got, nullptr),
              DDERR_INVALIDPARAMS);

    /* A surface holds the palette it shows; a 16-bit one takes none. */
    LPDIRECTDRAWSURFACE p = nullptr, hi = nullptr;
    ASSERT_EQ(make(DDSCAPS_PRIMARYSURFACE, 0, 0, &p), DD_OK);
    EXPECT_EQ(IDirectDrawSurface_GetPalette(p, &got), DDERR_NOPALETTEATTACHED);
    ASSERT_EQ(IDirectDrawSurface_SetPalette(p, all), DD_OK);
    EXPECT_EQ(IDirectDrawPalette_Release(all), 1u);
    ASSERT_EQ(IDirectDrawSurface_GetPalette(p, &got), DD_OK);
    EXPECT_EQ(got, all);
    DWORD caps = 0;
    IDirectDrawPalette_GetCaps(got, &caps);
    EXPECT_TRUE(caps & DDPCAPS_PRIMARYSURFACE);
    IDirectDrawPalette_Release(got);
    ASSERT_EQ(make(DDSCAPS_OFFSCREENPLAIN, 4, 4, &hi, 0, 16), DD_OK);
    EXPECT_EQ(IDirectDrawSurface_SetPalette(hi, kept), DDERR_INVALIDPIXELFORMAT);
    IDirectDrawPalette_Release(kept);
    int palettes = 0;
    IDirectDrawSurface_Release(p); /* the last reference to the palette */
    plat_ddrawlive(nullptr, nullptr, &palettes, nullptr);
    EXPECT_EQ(palettes, 0);
}

TEST_F(DDraw, ClipperKeepsBlitsInTheWindow) {
    open("modern"); /* windowed: the primary is the 640 x 480 desktop */
    LPDIRECTDRAWSURFACE p = nullptr;
    LPDIRECTDRAWCLIPPER c = nullptr;
    ASSERT_EQ(make(DDSCAPS_PRIMARYSURFACE, 0, 0, &p), DD_OK);
    ASSERT_EQ(IDirectDraw2_CreateClipper(dd, 0, &c, nullptr), DD_OK);
    ASSERT_EQ(IDirectDrawClipper_SetHWnd(c, 0, hwnd), DD_OK);
    HWND got = nullptr;
    IDirectDrawClipper_GetHWnd(c, &got);
    EXPECT_EQ(got, hwnd);
    ASSERT_EQ(IDirectDrawSurface_SetClipper(p, c), DD_OK);
    EXPECT_EQ(IDirectDrawClipper_Release(c), 1u);

    POINT origin{0, 0};
    ClientToScreen(hwnd, &origin);
    RECT client;
    GetClientRect(hwnd, &client);
    DDBLTFX fx{};
    fx.dwSize = sizeof fx;
    fx.dwFillColor = 0x00FF00FF;
    ASSERT_EQ(IDirectDrawSurface_Blt(p, nullptr, nullptr, nullptr, DDBLT_COLORFILL, &fx), DD_OK);
    DDSURFACEDESC d{};
    d.dwSize = sizeof d;
    ASSERT_EQ(IDirectDrawSurface_Lock(p, nullptr, &d, 0, nullptr), DD_OK);
    auto at = [&](LONG x, LONG y) {
        return static_cast<uint32_t *>(d.lpSurface)[y * d.lPitch / 4 + x];
    };
    EXPECT_EQ(at(origin.x, origin.y), 0x00FF00FFu);
    EXPECT_EQ(at(origin.x + client.right - 1, origin.y + client.bottom - 1), 0x00FF00FFu);
    EXPECT_EQ(at(origin.x - 1, origin.y), 0u);
    EXPECT_EQ(at(origin.x + client.right, origin.y), 0u);
    EXPECT_EQ(at(origin.x, origin.y + client.bottom), 0u);
    IDirectDrawSurface_Unlock(p, d.lpSurface);

    /* The backend is shown the whole desktop, with the client area as the view. */
    plat_ddrawpresented f{};
    ASSERT_EQ(plat_ddrawlastpresent(&f), 2);
    EXPECT_EQ(f.fullscreen, 0);
    EXPECT_EQ(f.width, GetSystemMetrics(SM_CXSCREEN));
    EXPECT_EQ(f.view.left, origin.x);
    EXPECT_EQ(f.view.top, origin.y);
    EXPECT_EQ(f.view.right - f.view.left, 200);
}

/* ---- presentation ------------------------------------------------------------------ */

TEST_F(DDraw, ThePrimaryGoesToTheBackend) {
    fullscreen(320, 200, 8);
    LPDIRECTDRAWSURFACE p = nullptr, off = nullptr;
    ASSERT_EQ(make(DDSCAPS_PRIMARYSURFACE, 0, 0, &p, 1), DD_OK);
    ASSERT_EQ(make(DDSCAPS_OFFSCREENPLAIN, 8, 8, &off), DD_OK);
    plat_ddrawpresented f{};
    EXPECT_EQ(plat_ddrawlastpresent(&f), 0);
    ASSERT_EQ(IDirectDrawSurface_Flip(p, nullptr, DDFLIP_WAIT), DD_OK);
    ASSERT_EQ(plat_ddrawlastpresent(&f), 1); /* what it holds: the whole-screen case */
    EXPECT_EQ(f.hwnd, hwnd);

    /* An off-screen surface is not the screen; a repaint of the window shows it again. */
    DDSURFACEDESC d{};
    d.dwSize = sizeof d;
    ASSERT_EQ(IDirectDrawSurface_Lock(off, nullptr, &d, 0, nullptr), DD_OK);
    IDirectDrawSurface_Unlock(off, d.lpSurface);
    EXPECT_EQ(plat_ddrawlastpresent(nullptr), 1);
    ShowWindow(hwnd, SW_SHOW);
    UpdateWindow(hwnd);
    EXPECT_EQ(plat_ddrawlastpresent(nullptr), 2);
}

/* The headless backend's last frame, 0x00RRGGBB. */
std::vector<uint32_t> lastframe() {
    int w = 0, h = 0;
    plat_nulllastframe(&w, &h, nullptr, 0);
    std::vector<uint32_t> out((size_t)w * h, 0xDEADBEEF);
    plat_nulllastframe(&w, &h, out.data(), out.size());
    return out;
}

/* 565 fills whose 0x00RRGGBB is plain. */
constexpr uint16_t fills565[] = {0xF800, 0x07E0, 0x001F, 0xFFFF, 0x0000};
constexpr uint32_t fillsxrgb[] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF, 0x000000};

TEST_F(DDraw, TheBackendSeesTheWholeScreenAfterEveryChange) {
    /* Partial changes of the primary and flips in turn, more than the frames the device
     * keeps for the backend: each must show everything drawn so far, not only its own
     * change. */
    fullscreen(320, 240, 16);
    LPDIRECTDRAWSURFACE p = nullptr, back = nullptr;
    ASSERT_EQ(make(DDSCAPS_PRIMARYSURFACE, 0, 0, &p, 1), DD_OK);
    DDSCAPS caps{DDSCAPS_BACKBUFFER};
    ASSERT_EQ(IDirectDrawSurface_GetAttachedSurface(p, &caps, &back), DD_OK);
    std::vector<uint32_t> screen(320 * 240, 0), backbuffer(320 * 240, 0);
    auto fill = [](LPDIRECTDRAWSURFACE s, std::vector<uint32_t> &model, RECT r, int colour) {
        DDBLTFX fx{};
        fx.dwSize = sizeof fx;
        fx.dwFillColor = fills565[colour];
        ASSERT_EQ(IDirectDrawSurface_Blt(s, &r, nullptr, nullptr, DDBLT_COLORFILL, &fx), DD_OK);
        for (LONG y = r.top; y < r.bottom; y++)
            std::fill_n(model.begin() + y * 320 + r.left, r.right - r.left, fillsxrgb[colour]);
    };
    for (int step = 0; step < 12; step++) {
        if (step % 5 == 4) {
            fill(back, backbuffer, RECT{0, 0, 320, 240}, step % 3);
            fill(back, backbuffer, RECT{step, 0, step + 9, 240}, 3);
            ASSERT_EQ(IDirectDrawSurface_Flip(p, nullptr, DDFLIP_WAIT), DD_OK);
            std::swap(screen, backbuffer);
        } else {
            LONG at = 20 * step;
            fill(p, screen, RECT{at, at / 2, at + 15, at / 2 + 30}, step % 5);
        }
        ASSERT_EQ(lastframe(), screen) << "step " << step;
    }
    IDirectDrawSurface_Release(back);
}

/* ---- threads and the beam ------------------------------------------------------------ */

TEST_F(DDraw, LockOnOneThreadWhileOthersFlipBlitAndReadWholeFrames) {
    /* This thread fills the back buffer under a lock while one thread flips, another
     * fills the whole primary with blits and reads the backend's last frame: the flips
     * get between the locks, and every frame read is one fill, never a mix, whichever
     * thread presented it. */
    fullscreen(320, 240, 16);
    LPDIRECTDRAWSURFACE p = nullptr, back = nullptr;
    ASSERT_EQ(make(DDSCAPS_PRIMARYSURFACE, 0, 0, &p, 1), DD_OK);
    DDSCAPS caps{DDSCAPS_BACKBUFFER};
    ASSERT_EQ(IDirectDrawSurface_GetAttachedSurface(p, &caps, &back), DD_OK);
    std::atomic<bool> stop{false};
    std::atomic<int> flips{0}, reads{0}, torn{0};
    std::thread flipper([&] {
        while (!stop)
            if (IDirectDrawSurface_Flip(p, nullptr, 0) == DD_OK)
                flips++;
    });
    std::thread blitter([&] {
        DDBLTFX fx{};
        fx.dwSize = sizeof fx;
        for (int i = 0; !stop; i++) {
            fx.dwFillColor = fills565[i % 5];
            if (IDirectDrawSurface_Blt(p, nullptr, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT,
                                       &fx) != DD_OK)
                break;
            std::vector<uint32_t> f = lastframe();
            reads++;
            if (f.empty() || std::count(f.begin(), f.end(), f[0]) != (long)f.size() ||
                std::find(std::begin(fillsxrgb), std::end(fillsxrgb), f[0]) == std::end(fillsxrgb))
                torn++;
        }
    });
    const DWORD start = GetTickCount();
    for (int i = 0; GetTickCount() - start < 300 ||
                    (GetTickCount() - start < 10000 && (reads < 50 || flips < 50));
         i++) {
        DDSURFACEDESC d{};
        d.dwSize = sizeof d;
        ASSERT_EQ(IDirectDrawSurface_Lock(back, nullptr, &d, DDLOCK_WAIT, nullptr), DD_OK);
        for (DWORD y = 0; y < d.dwHeight; y++)
            std::fill_n(
                reinterpret_cast<uint16_t *>(static_cast<uint8_t *>(d.lpSurface) + y * d.lPitch),
                d.dwWidth, fills565[i % 5]);
        IDirectDrawSurface_Unlock(back, d.lpSurface);
    }
    stop = true;
    flipper.join();
    blitter.join();
    EXPECT_EQ(torn.load(), 0) << "of " << reads.load();
    EXPECT_GE(flips.load(), 50);
    EXPECT_GE(reads.load(), 50);
    IDirectDrawSurface_Release(back);
}

TEST_F(DDraw, VerticalBlank) {
    fullscreen(640, 480, 8);
    DWORD line = 0;
    HRESULT r = IDirectDraw2_GetScanLine(dd, &line);
    EXPECT_TRUE(r == DD_OK || r == DDERR_VERTICALBLANKINPROGRESS);
    EXPECT_LT(line, 480u + 480u / 20);
    EXPECT_EQ(r == DDERR_VERTICALBLANKINPROGRESS, line >= 480u);
    /* The beam reaches the blank within a frame. */
    BOOL blank = FALSE;
    for (DWORD start = GetTickCount(); !blank && GetTickCount() - start < 1000;)
        IDirectDraw2_GetVerticalBlankStatus(dd, &blank);
    EXPECT_TRUE(blank);
    EXPECT_EQ(IDirectDraw2_WaitForVerticalBlank(dd, DDWAITVB_BLOCKBEGIN, nullptr), DD_OK);
    EXPECT_EQ(IDirectDraw2_WaitForVerticalBlank(dd, DDWAITVB_BLOCKEND, nullptr), DD_OK);
    EXPECT_EQ(IDirectDraw2_WaitForVerticalBlank(dd, DDWAITVB_BLOCKBEGINEVENT, nullptr),
              DDERR_UNSUPPORTED);
    IDirectDraw2_Release(dd);
    open("8bit"); /* no scan line register */
    EXPECT_EQ(IDirectDraw2_GetScanLine(dd, &line), DDERR_UNSUPPORTED);
}

} // namespace
