/*
 * ddraw.cpp - win\ddraw: the display device (see thistle/ddraw.h).
 *
 * The device with its fallbacks (chosen driver, default driver, emulation), the mode list
 * "DDRAWMODES", mode switching and window fitting, display configuration (flip chain or
 * double buffer, back buffer in video, system or library memory), surfaces and blits,
 * the palette transfer, and the surface lock with its recovery from lost surfaces.
 *
 * Threads: device creation, the cooperative level, mode switches and configuration run
 * on the window thread. liblock: configuration and disposal hold it; a thread holds it
 * for as long as it has a surface locked; lockwithrestore leaves it around the rebuild
 * of the display, which needs the window thread. The record's fields that the window
 * thread and the drawing threads both read (window, activity, origin, locked surface)
 * are accessed atomically; the rest is written by one thread at a time.
 * Every device result is reduced to its low 16 bits before it is compared or traced.
 */
#include "thistle/ddraw.h"

#include "plat/ddraw.h"
#include "plat/win32.h"
#include "thistle/createw.h"
#include "thistle/diag.h"
#include "thistle/initgrf.h"
#include "thistle/memstd.h"
#include "thistle/startup.h"
#include "thistle/threads.h"
#include "thistle/vidwin.h"
#include "thistle/window.h"

#include <atomic>
#include <bit>
#include <cstring>

uint8_t displaydriverguid[16];
int32_t allowmodex = 1;
uint32_t ddrawcaps = 0;
uint32_t availabledepths = 0;

uint32_t locktick = 0;
int32_t lastlocktime = 0;
int32_t maxlocktime = 0;
int32_t lockfailed = 0;
int32_t lockok = 1;

namespace {

constexpr const char *SITE = "win\\ddraw";
/* Sizes of the device's structures as the library hands them over: the capability
 * block of the device generation the library was written for (no pointers in it, so
 * the same on every target), the others as the target lays them out (108 and 100 bytes
 * on a 32-bit target). */
constexpr DWORD DESCSIZE = sizeof(DDSURFACEDESC);
constexpr DWORD CAPSSIZE = 364;
constexpr DWORD BLTFXSIZE = sizeof(DDBLTFX);
static_assert(sizeof(void *) != 4 || (DESCSIZE == 108 && BLTFXSIZE == 100));
static_assert(sizeof(DDCAPS) >= CAPSSIZE);
static_assert(sizeof(DDPIXELFORMAT) == 32 && sizeof(PALETTEENTRY) == 4);

constexpr int32_t SURFACELOST = 0x1C2;
constexpr int32_t NOEXCLUSIVEMODE = 225;
constexpr int32_t WASSTILLDRAWING = 540;

/* Modes seen by the current enumeration. */
int32_t modecounter = 0;

template <typename T>
std::atomic_ref<T> at(T &field) {
    return std::atomic_ref<T>(field);
}

displayrecord *orlibrary(displayrecord *record) {
    return record != nullptr ? record : &display;
}

int32_t low16(HRESULT result) {
    return (int32_t)((uint32_t)result & 0xFFFF);
}

HWND windowof(displayrecord *record) {
    return (HWND)at(record->hwnd).load();
}

displaymode *modes(displayrecord *record) {
    return (displaymode *)record->modelist;
}

/* Significant colour bits of a pixel format: the set mask bits for 16-bit formats (or
 * when there is no format), else the bit count. */
int32_t maskdepth(const DDPIXELFORMAT &format) {
    return std::popcount((uint32_t)format.dwRBitMask) + std::popcount((uint32_t)format.dwGBitMask) +
           std::popcount((uint32_t)format.dwBBitMask);
}

uint32_t depthbit(int32_t depth) {
    switch (depth) {
    case 8:
        return AD_8;
    case 15:
        return AD_15;
    case 16:
        return AD_16;
    case 24:
        return AD_24;
    case 32:
        return AD_32;
    default:
        return 0;
    }
}

/* Hardware and emulation capabilities; the device's result. */
HRESULT getcaps(IDirectDraw2 *directdraw, DDCAPS *hardware, DDCAPS *emulation) {
    memset(hardware, 0, sizeof *hardware);
    memset(emulation, 0, sizeof *emulation);
    hardware->dwSize = CAPSSIZE;
    emulation->dwSize = CAPSSIZE;
    return IDirectDraw2_GetCaps(directdraw, hardware, emulation);
}

uint32_t capsword(const DDCAPS &hardware) {
    DWORD caps = hardware.dwCaps;
    uint32_t word = 0;
    if (caps & DDCAPS_BANKSWITCHED) {
        word |= DC_BANKSWITCHED;
    }
    if (hardware.ddsCaps.dwCaps & DDSCAPS_FLIP) {
        word |= DC_FLIP;
    }
    if (caps & DDCAPS_3D) {
        word |= DC_3D;
    }
    /* A 3D card that needs aligned blit destinations gets no blit bits at all. */
    if (!((caps & DDCAPS_3D) && (caps & DDCAPS_ALIGNBOUNDARYDEST))) {
        word |= (caps & DDCAPS_BLT) ? DC_BLT : 0;
        word |= (caps & DDCAPS_BLTCOLORFILL) ? DC_COLORFILL : 0;
        word |= (caps & DDCAPS_BLTSTRETCH) ? DC_STRETCH : 0;
        word |= (caps & DDCAPS_CANBLTSYSMEM) ? DC_BLTSYSMEM : 0;
    }
    if ((caps & DDCAPS_COLORKEYHWASSIST) && (hardware.dwCKeyCaps & DDCKEYCAPS_SRCBLT)) {
        word |= DC_COLORKEY;
    }
    if (caps & DDCAPS_VBI) {
        word |= DC_VBI;
    }
    return word;
}

void cleardesc(DDSURFACEDESC *desc) {
    memset(desc, 0, sizeof *desc);
    desc->dwSize = DESCSIZE;
}

/* ---- device ------------------------------------------------------------------------ */

IDirectDraw *createdevice(displayrecord *record, GUID *identifier) {
    IDirectDraw *object = nullptr;
    HRESULT result = DirectDrawCreate(identifier, &object, nullptr);
    if (FAILED(result)) {
        object = nullptr;
    }
    record->createcount++;
    debugprint(&ddrawtrace, 13, "[DDRAW] DirectDrawCreate(%x) = 0x%08x, count = %d, err = %d\n",
               (unsigned)(uintptr_t)identifier, (unsigned)(uintptr_t)object, record->createcount,
               low16(result));
    return object;
}

/* Fills mode record index (when index >= 0) from desc; as the current mode also the
 * flip bit and the record's size (full screen), bit count and depth. */
void fillmode(displayrecord *record, int32_t index, const DDSURFACEDESC &desc, bool current) {
    const DDPIXELFORMAT &format = desc.ddpfPixelFormat;
    int32_t depth = ((desc.dwFlags & DDSD_PIXELFORMAT) && format.dwRGBBitCount != 16)
                        ? (int32_t)(format.dwRGBBitCount & 0xFF)
                        : maskdepth(format);
    if (index >= 0) {
        displaymode &mode = modes(record)[index];
        mode.width = desc.dwWidth;
        mode.height = desc.dwHeight;
        mode.bitcount = (uint8_t)format.dwRGBBitCount;
        mode.depth = (uint8_t)depth;
        mode.pagecount = 1;
        mode.flags = ddrawcaps;
        if (desc.dwFlags & DDSD_REFRESHRATE) {
            mode.refresh = desc.dwRefreshRate;
        }
        if (desc.dwFlags & DDSD_BACKBUFFERCOUNT) {
            mode.pagecount = (uint16_t)(mode.pagecount + desc.dwBackBufferCount);
        }
        if (desc.dwFlags & DDSD_ALPHABITDEPTH) {
            mode.flags |= DM_ALPHADEPTH;
        }
        if (desc.dwFlags & DDSD_ZBUFFERBITDEPTH) {
            mode.flags |= DM_ZBUFFERDEPTH;
        }
        if ((desc.dwFlags & DDSD_CAPS) && (desc.ddsCaps.dwCaps & DDSCAPS_MODEX)) {
            mode.flags |= DM_MODEX;
        }
        if (current) {
            mode.flags = record->canflip ? (mode.flags | DM_CANFLIP) : (mode.flags & ~DM_CANFLIP);
        }
    }
    if (current) {
        if (record->fullscreen) {
            record->width = (int32_t)desc.dwWidth;
            record->height = (int32_t)desc.dwHeight;
        }
        record->bitcount = (int32_t)format.dwRGBBitCount;
        record->depth = (uint8_t)depth;
    }
}

HRESULT CALLBACK modecallback(LPDDSURFACEDESC desc, LPVOID context) {
    const DDPIXELFORMAT &format = desc->ddpfPixelFormat;
    int32_t depth =
        format.dwRGBBitCount == 16 ? maskdepth(format) : (int32_t)(format.dwRGBBitCount & 0xFF);
    availabledepths |= depthbit(depth);
    auto *record = (displayrecord *)context;
    if (record != nullptr && record->modelist != nullptr) {
        if (modecounter >= record->modecount) {
            debugprint(&ddrawtrace, 1,
                       "[DDRAW] DirectDraw lied too badly about the number of modes, must "
                       "abort search.\n");
            return DDENUMRET_CANCEL;
        }
        fillmode(record, modecounter, *desc, false);
        debugprint(&ddrawtrace, 8, "[DDRAW] %c %4dx%4dx%2d(%2d) [%4d] %1d pg %c%c 4cc=%08x\n", ' ',
                   (int)desc->dwWidth, (int)desc->dwHeight, (int)format.dwRGBBitCount, depth,
                   (int)desc->lPitch, (int)desc->dwBackBufferCount + 1,
                   (desc->ddsCaps.dwCaps & DDSCAPS_MODEX) ? 'X' : 'N',
                   (desc->ddsCaps.dwCaps & DDSCAPS_FLIP) ? 'F' : 'D', (unsigned)format.dwFourCC);
    }
    modecounter++;
    return DDENUMRET_OK;
}

struct driveradapter {
    displaydriverfunction callback;
};

BOOL CALLBACK drivercallback(GUID *guid, LPSTR description, LPSTR name, LPVOID context) {
    static const uint8_t primarydriver[16] = {};
    auto *adapter = (driveradapter *)context;
    adapter->callback(guid != nullptr ? (const uint8_t *)guid : primarydriver, description, name);
    return DDENUMRET_OK;
}

/* ---- surfaces ------------------------------------------------------------------------ */

IDirectDrawSurface *attached(IDirectDrawSurface *surface, DWORD caps) {
    if (surface == nullptr) {
        return nullptr;
    }
    DDSCAPS wanted;
    memset(&wanted, 0, sizeof wanted);
    wanted.dwCaps = caps;
    IDirectDrawSurface *found = nullptr;
    if (FAILED(IDirectDrawSurface_GetAttachedSurface(surface, &wanted, &found))) {
        return nullptr;
    }
    return found;
}

/* The primary, trying in turn: as requested, any memory, the other memory, and (when
 * two pages were asked for) without a back buffer. */
IDirectDrawSurface *makeprimary(displayrecord *record, uint32_t request) {
    auto make = [record](uint32_t caps) {
        return makesurface(record, record->width, record->height, record->bitcount,
                           record->pages - 1, 0, caps, record->palette);
    };
    debugprint(&ddrawtrace, 14, "[DDRAW] trying for requested backsurface\n");
    IDirectDrawSurface *surface = make(request);
    uint32_t any = request & ~(uint32_t)(DDSCAPS_VIDEOMEMORY | DDSCAPS_SYSTEMMEMORY);
    if (surface == nullptr) {
        debugprint(&ddrawtrace, 14, "[DDRAW] trying for any backsurface\n");
        surface = make(any);
    }
    if (surface == nullptr) {
        debugprint(&ddrawtrace, 14, "[DDRAW] trying for other kind of backsurface\n");
        surface = make(
            any | ((request & DDSCAPS_VIDEOMEMORY) ? DDSCAPS_SYSTEMMEMORY : DDSCAPS_VIDEOMEMORY));
    }
    if (surface == nullptr && record->pages > 1) {
        debugprint(&ddrawtrace, 14, "[DDRAW] trying for nonflipping surface\n");
        record->pages = 1;
        surface = make(any);
    }
    return surface;
}

/* The rectangle (x, y, x + w, y + h), moved to the screen for the library's primary. */
RECT screenrect(IDirectDrawSurface *surface, int32_t x, int32_t y, int32_t width, int32_t height) {
    surfacetoscreen(surface, &x, &y);
    return RECT{x, y, x + width, y + height};
}

/* ---- lock ------------------------------------------------------------------------------ */

/* The lock with recovery. *surface may be replaced by the rebuilt surface in the same
 * role when the display had to be rebuilt. */
int32_t lockrestoring(displayrecord *record, IDirectDrawSurface **surface, DDSURFACEDESC *desc) {
    cleardesc(desc);
    int32_t result = low16(IDirectDrawSurface_Lock(*surface, nullptr, desc, DDLOCK_WAIT, nullptr));
    if (record == nullptr || result != SURFACELOST) {
        return result;
    }
    debugprint(&ddrawtrace, 9, "[DDRAW] SURFACE LOST, RESTORING\n");
    IDirectDrawSurface *primary = record->primary;
    IDirectDrawSurface *back = record->back;
    IDirectDrawSurface_Restore(*surface);
    if (*surface != primary && primary != nullptr && IDirectDrawSurface_IsLost(primary) != DD_OK) {
        IDirectDrawSurface_Restore(primary);
    }
    if (back != nullptr && back != *surface && IDirectDrawSurface_IsLost(back) != DD_OK) {
        IDirectDrawSurface_Restore(back);
    }
    if (low16(IDirectDrawSurface_IsLost(*surface)) == SURFACELOST) {
        return SURFACELOST;
    }
    cleardesc(desc);
    result = low16(IDirectDrawSurface_Lock(*surface, nullptr, desc, DDLOCK_WAIT, nullptr));
    debugprint(&ddrawtrace, 11, "[DDRAW] relock = %x\n", (unsigned)result);
    if (result != 0) {
        debugprint(&ddrawtrace, 10, "[DDRAW] restore failed, reiniting\n");
        bool wasprimary = *surface == primary;
        bool wasback = !wasprimary && *surface == back;
        leavelock(liblock);
        reinitgraphics();
        enterlock(liblock);
        /* The surface the lock was asked for went with the old display. The last attempt
         * locks its successor in the same role (primary or back) in the rebuilt display;
         * a surface of neither role has no successor and stays lost. */
        IDirectDrawSurface *successor =
            wasprimary ? record->primary : (wasback ? record->back : nullptr);
        if (successor == nullptr) {
            return SURFACELOST;
        }
        *surface = successor;
        cleardesc(desc);
        result = low16(IDirectDrawSurface_Lock(*surface, nullptr, desc, DDLOCK_WAIT, nullptr));
        debugprint(&ddrawtrace, 11, "[DDRAW] reinit lock = %x\n", (unsigned)result);
        if (result != 0) {
            return result;
        }
    }
    if (record->fullscreen && (at(record->appactive).load() == 0 || windowof(record) == nullptr)) {
        bringdisplaytofront(record);
    }
    if (record->palette != nullptr) {
        record->dirtyfirst = 256;
        record->dirtylast = -1;
        HRESULT r = IDirectDrawPalette_SetEntries(record->palette, 0, 0, 256,
                                                  (PALETTEENTRY *)record->entries);
        debugprint(&ddrawtrace, 12, "[DDRAW] reset palette entries (%d)\n", low16(r));
        r = IDirectDrawSurface_SetPalette(record->primary, record->palette);
        debugprint(&ddrawtrace, 12, "[DDRAW] reset palette (%d)\n", low16(r));
    }
    debugprint(&ddrawtrace, 10, "[DDRAW] restore done\n");
    if (displaychangedhook != nullptr) {
        displaychangedhook();
    }
    return 0;
}

void notelocktime(void) {
    lastlocktime = (int32_t)(GetTickCount() - locktick);
    if (lastlocktime > maxlocktime) {
        maxlocktime = lastlocktime;
    }
}

} // namespace

/* ---- device and mode list --------------------------------------------------------------- */

int32_t opendirectdraw(displayrecord *record) {
    record = orlibrary(record);
    initmainthread(); /* liblock */
    IDirectDraw *object = nullptr;
    if (!(graphicsflags & GRF_EMULATION)) {
        static const uint8_t none[16] = {};
        if (memcmp(displaydriverguid, none, sizeof none) != 0) {
            debugprint(&ddrawtrace, 1, "[DDRAW] create specific HAL\n");
            object = createdevice(record, (GUID *)displaydriverguid);
        }
        if (object == nullptr) {
            debugprint(&ddrawtrace, 1, "[DDRAW] create default HAL\n");
            object = createdevice(record, nullptr);
        }
    }
    if (object == nullptr) {
        debugprint(&ddrawtrace, 1, "[DDRAW] create HEL\n");
        object = createdevice(record, (GUID *)(uintptr_t)DDCREATE_EMULATIONONLY);
    }
    if (object == nullptr) {
        record->directdraw = nullptr;
        grfop_error = "FAILED DirectDrawCreate";
        return 0;
    }
    IDirectDraw2 *second = nullptr;
    HRESULT result = IDirectDraw_QueryInterface(object, IID_IDirectDraw2, (void **)&second);
    if (FAILED(result)) {
        second = nullptr;
    }
    record->directdraw = second;
    IDirectDraw_Release(object);
    debugprint(&ddrawtrace, 13, "[DDRAW] Query for DirectDraw2, err = %d\n", low16(result));
    if (record->directdraw == nullptr) {
        grfop_error = "FAILED TO ACQUIRE DDRAW2 INTERFACE";
        return 0;
    }
    DDCAPS hardware, emulation;
    result = getcaps(record->directdraw, &hardware, &emulation);
    debugprint(&ddrawtrace, 13, "[DDRAW] GetCaps (HAL=%08x, HEL=%08x) (err %d)\n",
               (unsigned)hardware.dwCaps, (unsigned)emulation.dwCaps, low16(result));
    ddrawcaps = capsword(hardware);
    grfop_error = nullptr;
    return 1;
}

int32_t enumdisplaymodes(displayrecord *record) {
    record = orlibrary(record);
    if (record->directdraw == nullptr) {
        grfop_error = "DIRECTDRAW IS NOT INITIALIZED";
        return 0;
    }
    HWND window = windowof(record);
    if (window == nullptr) {
        grfop_error = "GDI WINDOW DOES NOT EXIST.";
        return 0;
    }
    DWORD level;
    if (record->fullscreen) {
        debugprint(&ddrawtrace, 13, "[DDRAW] about to set fullscreen cooperative level\n");
        level = DDSCL_EXCLUSIVE | DDSCL_FULLSCREEN | (allowmodex ? DDSCL_ALLOWMODEX : 0);
    } else {
        debugprint(&ddrawtrace, 13, "[DDRAW] about to set windowed cooperative level\n");
        level = DDSCL_NORMAL;
    }
    HRESULT result = IDirectDraw2_SetCooperativeLevel(record->directdraw, window, level);
    debugprint(&ddrawtrace, 2, "[DDRAW] have set cooperative level (err = %d)\n", low16(result));
    if (FAILED(result)) {
        grfop_error = "FAILED TO SetCooperativeLevel";
        return 0;
    }

    modecounter = 0;
    debugprint(&ddrawtrace, 8, "[DDRAW] Counting DDraw modes: ");
    result = IDirectDraw2_EnumDisplayModes(record->directdraw, DDEDM_REFRESHRATES, nullptr, record,
                                           modecallback);
    if (FAILED(result)) {
        grfop_error = "COULD NOT ENUMERATE DISPLAY MODES";
        return 0;
    }
    debugprint(&ddrawtrace, 8, "%d modes\n", modecounter);

    if (record->modelist != nullptr) {
        purgememadr(record->modelist);
        record->modelist = nullptr;
    }
    /* Room for at least 16 modes, so that a driver that finds a few more modes on the
     * second pass still fits. */
    record->modecount = modecounter < 16 ? 16 : modecounter;
    THISTLE_SITE(SITE);
    record->modelist = reservememadr("DDRAWMODES", record->modecount * (int32_t)sizeof(displaymode),
                                     (uint32_t)defaultmemclass);
    if (record->modelist == nullptr) {
        grfop_error = "FAILED TO ALLOCATE MEMORY FOR MODE LIST";
        return 0;
    }

    modecounter = 0;
    result = IDirectDraw2_EnumDisplayModes(record->directdraw, DDEDM_REFRESHRATES, nullptr, record,
                                           modecallback);
    debugprint(&ddrawtrace, 4, "[DDRAW] enumdisplaymodes %d modes, defaults %04x, err = %d\n",
               modecounter, 0, low16(result));
    record->modecount = modecounter;

    if (!record->fullscreen && record->clipper == nullptr) {
        IDirectDraw2_CreateClipper(record->directdraw, 0, &record->clipper, nullptr);
        if (record->clipper != nullptr) {
            IDirectDrawClipper_SetHWnd(record->clipper, 0, window);
        }
    } else {
        record->clipper = nullptr;
    }
    grfop_error = nullptr;
    return 1;
}

void disposewindisplay(displayrecord *record) {
    record = orlibrary(record);
    if (record->directdraw == nullptr) {
        return;
    }
    debugprint(&ddrawtrace, 1, "[DDRAW] disposewindisplay\n");
    enterlock(liblock);
    disposesurfaces(record);
    debugprint(&ddrawtrace, 10, "[DDRAW] direct draw object ...");
    IDirectDraw2_Release(record->directdraw);
    debugprint(&ddrawtrace, 10, "released!\n");
    if (record->modelist != nullptr) {
        purgememadr(record->modelist);
    }
    /* The clipper and the palette went with the device: forgotten, not released. */
    record->modelist = nullptr;
    record->clipper = nullptr;
    record->palette = nullptr;
    record->directdraw = nullptr;
    leavelock(liblock);
}

int32_t getnumdisplaymodes(void) {
    if (display.directdraw == nullptr) {
        setgraphicsmode(-1);
    }
    return display.modecount;
}

int32_t getdisplaymodeinfo(int32_t index, displaymodeinfo *info) {
    if (display.directdraw == nullptr) {
        setgraphicsmode(-1);
    }
    memset(info, 0, sizeof *info);
    if (index >= 0 && index < display.modecount && display.modelist != nullptr) {
        const displaymode &mode = modes(&display)[index];
        info->width = (int32_t)mode.width;
        info->height = (int32_t)mode.height;
        info->depth = mode.depth;
        info->type = windowtype(mode.bitcount);
        static const struct {
            uint32_t mode;
            int32_t info;
        } basic[] = {{DC_BANKSWITCHED, DMI_BANKSWITCHED},
                     {DM_MODEX, DMI_MODEX},
                     {DM_CANFLIP, DMI_PAGEFLIP},
                     {DM_ZBUFFERDEPTH, DMI_ZBUFFER},
                     {DC_VBI, DMI_VBI}},
          blits[] = {{DC_BLTSYSMEM, DMI_BLTSYSMEM}, {DC_BLT, DMI_BLT},
                     {DC_COLORFILL, DMI_COLORFILL}, {DC_STRETCH, DMI_STRETCH},
                     {DC_COLORKEY, DMI_COLORKEY},   {DC_3D, DMI_3D}};
        for (const auto &bit : basic) {
            info->flags |= (mode.flags & bit.mode) ? bit.info : 0;
        }
        /* A ModeX mode has no blitter worth naming. */
        if (!(mode.flags & DM_MODEX)) {
            for (const auto &bit : blits) {
                info->flags |= (mode.flags & bit.mode) ? bit.info : 0;
            }
        }
        return 1;
    }
    if (index == -1 && !display.fullscreen) {
        info->width = display.width;
        info->height = display.height;
        info->depth = display.depth;
        info->type = getscreenwindow()->type;
        info->flags = (display.bankswitched ? DMI_BANKSWITCHED : 0) |
                      (display.ismodex ? DMI_MODEX : 0) |
                      (display.pages > 1 && display.canflip ? DMI_PAGEFLIP : 0);
        return 1;
    }
    return 0;
}

int32_t getddrawinfo(displayrecord *record, uint32_t *total, uint32_t *free, int32_t *bankswitched,
                     uint32_t *depths) {
    record = orlibrary(record);
    if (record->directdraw == nullptr) {
        return 0;
    }
    DDCAPS hardware, emulation;
    if (FAILED(getcaps(record->directdraw, &hardware, &emulation))) {
        return 0;
    }
    if (total != nullptr) {
        *total = hardware.dwVidMemTotal;
    }
    if (free != nullptr) {
        *free = hardware.dwVidMemFree;
    }
    if (bankswitched != nullptr) {
        *bankswitched = (hardware.dwCaps & DDCAPS_BANKSWITCHED) ? 1 : 0;
    }
    if (depths != nullptr) {
        modecounter = 0;
        availabledepths = 0;
        IDirectDraw2_EnumDisplayModes(record->directdraw, DDEDM_REFRESHRATES, nullptr, nullptr,
                                      modecallback);
        *depths = availabledepths;
        debugprint(&ddrawtrace, 13, "[DDRAW] got %d modes\n", modecounter);
    }
    return modecounter > 0 ? 1 : 0;
}

uint32_t getvideomemory(uint32_t *depths, int32_t *bankswitched) {
    if (display.directdraw == nullptr) {
        setgraphicsmode(-1);
    }
    uint32_t total = 0;
    if (graphicsstate == GRAPHICS_UP &&
        getddrawinfo(&display, &total, nullptr, bankswitched, depths)) {
        return total;
    }
    return 0;
}

int32_t enumdisplaydrivers(displaydriverfunction callback) {
    driveradapter adapter{callback};
    return (int32_t)DirectDrawEnumerateA(drivercallback, &adapter);
}

int32_t getscanline(displayrecord *record) {
    record = orlibrary(record);
    DWORD line = 0;
    if (record->directdraw == nullptr ||
        FAILED(IDirectDraw2_GetScanLine(record->directdraw, &line))) {
        return -1;
    }
    return (int32_t)line;
}

int32_t getverticalblank(displayrecord *record) {
    record = orlibrary(record);
    BOOL inblank = FALSE;
    if (record->directdraw != nullptr) {
        IDirectDraw2_GetVerticalBlankStatus(record->directdraw, &inblank);
    }
    return inblank;
}

int32_t waitverticalblank(displayrecord *record, int32_t which) {
    record = orlibrary(record);
    if (record->directdraw == nullptr) {
        return low16(DDERR_GENERIC);
    }
    return low16(IDirectDraw2_WaitForVerticalBlank(
        record->directdraw, which == 2 ? DDWAITVB_BLOCKEND : DDWAITVB_BLOCKBEGIN, nullptr));
}

void bringdisplaytofront(displayrecord *record) {
    SetForegroundWindow(windowof(orlibrary(record)));
}

/* ---- configuration and surfaces ----------------------------------------------------------- */

int32_t setdisplaymode(displayrecord *record, int32_t m) {
    record = orlibrary(record);
    debugprint(&ddrawtrace, 1, "[DDRAW] set display mode (%d)\n", m);
    DDSURFACEDESC current;
    cleardesc(&current);
    HRESULT result = IDirectDraw2_GetDisplayMode(record->directdraw, &current);
    debugprint(&ddrawtrace, 14, "[DDRAW] current display mode (err %d) = %d x %d x %d\n",
               low16(result), (int)current.dwWidth, (int)current.dwHeight,
               (int)current.ddpfPixelFormat.dwRGBBitCount);

    if (!record->fullscreen) {
        HWND window = windowof(record);
        POINT corner{0, 0};
        ClientToScreen(window, &corner);
        int32_t left = corner.x, top = corner.y;
        if (at(record->originx).load() < -5000) {
            left = (GetSystemMetrics(SM_CXSCREEN) - record->width) / 2;
        }
        if (at(record->originy).load() < -5000) {
            top = (GetSystemMetrics(SM_CYSCREEN) - record->height) / 2;
        }
        RECT frame{left, top, left + record->width, top + record->height};
        AdjustWindowRect(&frame, (DWORD)GetWindowLongA(window, GWL_STYLE), FALSE);
        SetWindowPos(window, nullptr, frame.left, frame.top, frame.right - frame.left,
                     frame.bottom - frame.top, SWP_NOZORDER | SWP_NOACTIVATE);
        RECT client{0, 0, 0, 0};
        GetClientRect(window, &client);
        corner = POINT{0, 0};
        ClientToScreen(window, &corner);
        record->width = client.right - client.left;
        record->height = client.bottom - client.top;
        at(record->originx).store(corner.x);
        at(record->originy).store(corner.y);
        record->bitcount =
            SUCCEEDED(result) ? (int32_t)current.ddpfPixelFormat.dwRGBBitCount : screendepth;
        record->modeindex = m;
        return 1;
    }

    if (record->modelist == nullptr) {
        debugprint(&ddrawtrace, 1, "[DDRAW] ddraw modes not initialized\n");
        return 0;
    }
    uint32_t width = 640, height = 480, bitcount = 16, refresh = 0;
    if (m >= 0) {
        if (m >= record->modecount) {
            m = 0;
        }
        const displaymode &mode = modes(record)[m];
        width = mode.width;
        height = mode.height;
        bitcount = mode.bitcount;
        refresh = mode.refresh;
        debugprint(&ddrawtrace, 14, "[DDRAW] mode parameters = %d x %d x %d\n", (int)width,
                   (int)height, (int)bitcount);
    } else {
        debugprint(&ddrawtrace, 14, "[DDRAW] trying for default display mode\n");
    }
    if (record->palette != nullptr) {
        PALETTEENTRY black[256];
        memset(black, 0, sizeof black);
        IDirectDrawPalette_SetEntries(record->palette, 0, 0, 256, black);
        record->dirtyfirst = 0;
        record->dirtylast = 255;
    }
    debugprint(&ddrawtrace, 15, "[DDRAW] calling IDirectDraw2_SetDisplayMode... ");
    HRESULT set =
        IDirectDraw2_SetDisplayMode(record->directdraw, width, height, bitcount, refresh, 0);
    debugprint(&ddrawtrace, 12, "[DDRAW] IDirectDraw2_SetDisplayMode (err=%d)\n", low16(set));
    IDirectDraw2_GetDisplayMode(record->directdraw, &current);
    /* A driver may set a larger mode than asked: keep the asked size and centre it. */
    if (width < current.dwWidth) {
        record->width = (int32_t)width;
        at(record->originx).store((int32_t)((current.dwWidth - width) / 2));
    } else {
        record->width = (int32_t)current.dwWidth;
    }
    if (height < current.dwHeight) {
        record->height = (int32_t)height;
        at(record->originy).store((int32_t)((current.dwHeight - height) / 2));
    } else {
        record->height = (int32_t)current.dwHeight;
    }
    int32_t outcome;
    if (SUCCEEDED(set) && current.ddpfPixelFormat.dwRGBBitCount == bitcount) {
        outcome = 1;
    } else if (low16(set) == NOEXCLUSIVEMODE) {
        outcome = -1;
    } else {
        outcome = 0;
        if (m >= 0) {
            modes(record)[m].flags |= DM_FAILED;
        }
    }
    record->bitcount = (int32_t)current.ddpfPixelFormat.dwRGBBitCount;
    record->modeindex = m;
    RegFlushKey(HKEY_CLASSES_ROOT);
    debugprint(&ddrawtrace, 2, "[DDRAW] setdisplaymode requested %dx%dx%d, and got %dx%dx%d\n",
               (int)width, (int)height, (int)bitcount, record->width, record->height,
               record->bitcount);
    return outcome;
}

int32_t configwindisplay(displayrecord *record) {
    record = orlibrary(record);
    debugprint(&ddrawtrace, 1, "[DDRAW] configwindisplay\n");
    if (record->lockedpixels != nullptr) {
        THISTLE_SITE(SITE);
        fatalerror("initgraphics - CONFIG DISPLAY WHILE SURFACE LOCKED, PLEASE REPORT.\n");
    }
    enterlock(liblock);
    disposesurfaces(record);
    DDCAPS hardware, emulation;
    getcaps(record->directdraw, &hardware, &emulation);
    if (record->pagesrequested < 1) {
        record->pagesrequested = 1;
    }
    if (record->pagesrequested > 2) {
        grfop_error = "ONLY 1 OR 2 VIDEO PAGES SUPPORTED.";
        leavelock(liblock);
        return 0;
    }
    record->canflip = (hardware.ddsCaps.dwCaps & DDSCAPS_FLIP) ? 1 : 0;
    record->bankswitched = (hardware.dwCaps & DDCAPS_BANKSWITCHED) ? 1 : 0;

    uint32_t request = 0;
    if (record->modexrequested) {
        record->libmemback = 0;
        record->drambuffer = 1;
        record->pagesrequested = 2;
        record->pages = 1;
        request |= DDSCAPS_3DDEVICE | DDSCAPS_PRIMARYSURFACE | DDSCAPS_SYSTEMMEMORY;
    } else if (record->libmemback) {
        record->drambuffer = 1;
        record->sysmemback = 1;
    }
    if (record == &display) {
        request |= DDSCAPS_PRIMARYSURFACE;
    }
    if (record->pages > 1) {
        if (!record->canflip && record->bankswitched) {
            request |= DDSCAPS_SYSTEMMEMORY;
        } else if (record->modexrequested || (!record->drambuffer && !record->sysmemback)) {
            request |= DDSCAPS_VIDEOMEMORY;
        } else {
            request |= DDSCAPS_SYSTEMMEMORY;
        }
    }

    if (record->palette == nullptr) {
        IDirectDraw2_CreatePalette(record->directdraw, DDPCAPS_8BIT | DDPCAPS_ALLOW256,
                                   (PALETTEENTRY *)record->entries, &record->palette, nullptr);
    } else {
        IDirectDrawPalette_SetEntries(record->palette, 0, 0, 256, (PALETTEENTRY *)record->entries);
    }
    record->dirtyfirst = 0;
    record->dirtylast = 255;
    record->ismodex = 0;

    debugprint(&ddrawtrace, 8, "[DDRAW] Requested config: %s, %s\n",
               record->pages > 1 && !(request & DDSCAPS_SYSTEMMEMORY) ? "pageflip" : "doublebuffer",
               record->libmemback                ? "LIBMEM"
               : (request & DDSCAPS_VIDEOMEMORY) ? "VRAM"
                                                 : "DRAM");

    IDirectDrawSurface *primary = makeprimary(record, request);
    DDSURFACEDESC desc;
    if (primary == nullptr) {
        record->ismodex = 1;
    } else {
        cleardesc(&desc);
        IDirectDrawSurface_GetSurfaceDesc(primary, &desc);
        record->ismodex = (desc.ddsCaps.dwCaps & DDSCAPS_MODEX) ? 1 : 0;
    }
    if (record->ismodex) {
        debugprint(&ddrawtrace, 14, "[DDRAW] recreate ModeX primary surface\n");
        record->pagesrequested = 2;
        record->pages = 2;
        if (primary != nullptr) {
            releasesurface(record, primary);
        }
        primary = makeprimary(record, request);
    }
    if (primary == nullptr) {
        grfop_error = "FAILED TO CREATE PRIMARY SURFACE";
        leavelock(liblock);
        return 0;
    }
    if (!record->fullscreen && record->clipper != nullptr) {
        IDirectDrawSurface_SetClipper(primary, record->clipper);
    }
    cleardesc(&desc);
    IDirectDrawSurface_GetSurfaceDesc(primary, &desc);
    bool listed = record->modelist != nullptr && record->modeindex >= 0 &&
                  record->modeindex < record->modecount;
    fillmode(record, listed ? record->modeindex : -1, desc, true);
    record->primary = primary;

    IDirectDrawSurface *back = nullptr;
    if (record->pages > 1) {
        back = getbackbuffer(primary);
    } else if (!record->libmemback && record->pagesrequested > 1) {
        if (!record->drambuffer && !record->sysmemback) {
            debugprint(&ddrawtrace, 14, "[DDRAW] make backbuffer VRAM surface\n");
            back = makesurface(record, record->width, record->height, record->bitcount, 0, 0,
                               DDSCAPS_OFFSCREENPLAIN | DDSCAPS_VIDEOMEMORY, nullptr);
        }
        if (back == nullptr) {
            debugprint(&ddrawtrace, 14, "[DDRAW] make backbuffer DRAM surface\n");
            back = makesurface(record, record->width, record->height, record->bitcount, 0, 0,
                               DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY, nullptr);
        }
    }
    record->back = back;

    record->screenwindow = makevideowindow(record->width, record->height, (int32_t)desc.lPitch,
                                           record->depth, -1, desc.lpSurface, primary);
    if (back != nullptr) {
        DDSURFACEDESC backdesc;
        cleardesc(&backdesc);
        IDirectDrawSurface_GetSurfaceDesc(back, &backdesc);
        record->backwindow =
            makevideowindow(record->width, record->height, (int32_t)backdesc.lPitch, record->depth,
                            -2, backdesc.lpSurface, back);
    } else if (record->pagesrequested > 1) {
        debugprint(&ddrawtrace, 4, "[DDRAW] attempting to use library window\n");
        rasterwindow *window =
            createwindow(record->width, record->height, record->depth, record->memclass);
        record->backwindow = window;
        if (window != nullptr) {
            *getbackwindow() = *window;
        }
    }

    auto *screen = (rasterwindow *)record->screenwindow;
    debugprint(&ddrawtrace, 8, "[DDRAW] New video mode: %3dx%3dx%2d(%2d) [%4d] %1dpg %c%c%c%c\n",
               record->width, record->height, record->bitcount, record->depth,
               screen != nullptr ? screen->pitch : 0, record->pagesrequested,
               record->ismodex ? 'X' : ' ',
               record->libmemback ? 'L' : (record->drambuffer ? 'D' : 'V'),
               record->sysmemback ? 'B' : ' ', record->pages > 1 ? 'F' : ' ');
    leavelock(liblock);
    if (displaychangedhook != nullptr) {
        displaychangedhook();
    }
    return 1;
}

int32_t disposesurfaces(displayrecord *record) {
    record = orlibrary(record);
    debugprint(&ddrawtrace, 1, "[DDRAW] removing previous surfaces & windows\n");
    if (record->primary != nullptr && record->directdraw != nullptr) {
        IDirectDraw2_FlipToGDISurface(record->directdraw);
    }
    if (record->backwindow != nullptr) {
        removevideowindow((rasterwindow *)record->backwindow);
        record->backwindow = nullptr;
    }
    if (record->screenwindow != nullptr) {
        removevideowindow((rasterwindow *)record->screenwindow);
        record->screenwindow = nullptr;
    }
    if (record->back != nullptr) {
        releasesurface(record, record->back);
        record->back = nullptr;
    }
    if (record->primary != nullptr) {
        releasesurface(record, record->primary);
        record->primary = nullptr;
    }
    debugprint(&ddrawtrace, 10, "[DDRAW] old video system destroyed\n");
    return 1;
}

IDirectDrawSurface *makesurface(displayrecord *record, int32_t width, int32_t height,
                                int32_t bitcount, int32_t backbuffers, int32_t format,
                                uint32_t caps, IDirectDrawPalette *palette) {
    record = orlibrary(record);
    DDSURFACEDESC desc;
    cleardesc(&desc);
    desc.dwFlags = DDSD_CAPS;
    if (backbuffers > 0) {
        desc.dwFlags |= DDSD_BACKBUFFERCOUNT;
        desc.dwBackBufferCount = (DWORD)backbuffers;
        caps |= DDSCAPS_COMPLEX | DDSCAPS_FLIP;
    }
    if (!(caps & (DDSCAPS_PRIMARYSURFACE | DDSCAPS_PRIMARYSURFACELEFT))) {
        desc.dwFlags |= DDSD_WIDTH | DDSD_HEIGHT;
        desc.dwWidth = (DWORD)width;
        desc.dwHeight = (DWORD)height;
        if (format > 0) {
            THISTLE_SITE(SITE);
            fatalerror("makesurface - ALTERNATIVE TEXTURE FORMATS NOT YET SUPPORTED.\n");
            return nullptr;
        }
        /* Without a primary (a record configured without one) the device's own format
         * is taken. */
        if (format == 0 && record->primary != nullptr) {
            desc.dwFlags |= DDSD_PIXELFORMAT;
            desc.ddpfPixelFormat.dwSize = sizeof(DDPIXELFORMAT);
            IDirectDrawSurface_GetPixelFormat(record->primary, &desc.ddpfPixelFormat);
        }
    }
    desc.ddsCaps.dwCaps = caps;
    debugprint(&ddrawtrace, 11, "[DDRAW] CreateSurface(%dx%dx%d %d pages)\n", width, height,
               bitcount, backbuffers + 1);
    IDirectDrawSurface *surface = nullptr;
    HRESULT result = IDirectDraw2_CreateSurface(record->directdraw, &desc, &surface, nullptr);
    if (FAILED(result) || surface == nullptr) {
        debugprint(&ddrawtrace, 10, "[DDRAW] CreateSurface err=%x\n", (unsigned)low16(result));
        return nullptr;
    }
    debugprint(&ddrawtrace, 15, "[DDRAW] Surface created\n");
    /* A surface the device cannot lock is no use to the library's drawing. */
    enterlock(liblock);
    DDSURFACEDESC locked;
    int32_t lockresult = lockwithrestore(nullptr, surface, &locked);
    if (lockresult != 0) {
        debugprint(&ddrawtrace, 11, "[DDRAW] CreateSurface LOCK failure (%x)\n",
                   (unsigned)lockresult);
    } else {
        IDirectDrawSurface_Unlock(surface, locked.lpSurface);
    }
    leavelock(liblock);
    if (lockresult != 0 && !record->ismodex) {
        IDirectDrawSurface_Release(surface);
        debugprint(&ddrawtrace, 10, "[DDRAW] CreateSurface err=%x\n", (unsigned)lockresult);
        return nullptr;
    }
    cleardesc(&desc);
    IDirectDrawSurface_GetSurfaceDesc(surface, &desc);
    DDCOLORKEY key;
    if (desc.ddpfPixelFormat.dwRGBBitCount <= 8) {
        key.dwColorSpaceLowValue = 0xFF;
        key.dwColorSpaceHighValue = 0xFF;
        if (palette != nullptr) {
            IDirectDrawSurface_SetPalette(surface, palette);
        }
    } else {
        key.dwColorSpaceLowValue = 0;
        key.dwColorSpaceHighValue = 0;
    }
    IDirectDrawSurface_SetColorKey(surface, DDCKEY_SRCBLT, &key);
    return surface;
}

void releasesurface(displayrecord *record, IDirectDrawSurface *surface) {
    record = orlibrary(record);
    if (surface == nullptr) {
        return;
    }
    if (surface == at(record->lockedsurface).load()) {
        unlocksurface(record);
    }
    IDirectDrawSurface_Release(surface);
}

IDirectDrawSurface *getbackbuffer(IDirectDrawSurface *surface) {
    return attached(surface, DDSCAPS_BACKBUFFER);
}

IDirectDrawSurface *getalphasurface(IDirectDrawSurface *surface) {
    return attached(surface, DDSCAPS_ALPHA);
}

IDirectDrawSurface *getzbuffer(IDirectDrawSurface *surface) {
    return attached(surface, DDSCAPS_ZBUFFER);
}

void getsurfaceinfo(IDirectDrawSurface *surface, int32_t *width, int32_t *height, int32_t *depth,
                    int32_t *pitch, void **pixels) {
    DDSURFACEDESC desc;
    cleardesc(&desc);
    if (surface == nullptr || FAILED(IDirectDrawSurface_GetSurfaceDesc(surface, &desc))) {
        cleardesc(&desc);
    }
    const DDPIXELFORMAT &format = desc.ddpfPixelFormat;
    if (width != nullptr) {
        *width = (int32_t)desc.dwWidth;
    }
    if (height != nullptr) {
        *height = (int32_t)desc.dwHeight;
    }
    if (depth != nullptr) {
        *depth =
            format.dwRGBBitCount == 16 ? maskdepth(format) : (int32_t)(format.dwRGBBitCount & 0xFF);
    }
    if (pitch != nullptr) {
        *pitch = (int32_t)desc.lPitch;
    }
    if (pixels != nullptr) {
        *pixels = desc.lpSurface;
    }
}

/* Page locking is only offered by the second surface interface. */
static int32_t pagelocking(IDirectDrawSurface *surface, bool lock) {
    IDirectDrawSurface2 *second = nullptr;
    HRESULT result =
        IDirectDrawSurface_QueryInterface(surface, IID_IDirectDrawSurface2, (void **)&second);
    if (FAILED(result)) {
        return low16(result);
    }
    result =
        lock ? IDirectDrawSurface2_PageLock(second, 0) : IDirectDrawSurface2_PageUnlock(second, 0);
    IDirectDrawSurface2_Release(second);
    return low16(result);
}

int32_t pagelocksurface(IDirectDrawSurface *surface) {
    return pagelocking(surface, true);
}

int32_t pageunlocksurface(IDirectDrawSurface *surface) {
    return pagelocking(surface, false);
}

int32_t surfacelost(IDirectDrawSurface *surface) {
    return low16(IDirectDrawSurface_IsLost(surface));
}

int32_t fillsurface(IDirectDrawSurface *surface, int32_t x, int32_t y, int32_t width,
                    int32_t height, uint32_t colour) {
    RECT rect = screenrect(surface, x, y, width, height);
    DDBLTFX fx;
    memset(&fx, 0, sizeof fx);
    fx.dwSize = BLTFXSIZE;
    fx.dwFillColor = colour;
    return SUCCEEDED(IDirectDrawSurface_Blt(surface, &rect, nullptr, nullptr,
                                            DDBLT_COLORFILL | DDBLT_WAIT, &fx))
               ? 1
               : 0;
}

int32_t blitsurface(IDirectDrawSurface *destination, int32_t dx, int32_t dy, int32_t dw, int32_t dh,
                    IDirectDrawSurface *source, int32_t sx, int32_t sy, int32_t sw, int32_t sh,
                    int32_t options) {
    RECT to = screenrect(destination, dx, dy, dw, dh);
    RECT from = screenrect(source, sx, sy, sw, sh);
    DWORD flags = DDBLT_WAIT | ((options & 0x10) ? DDBLT_KEYSRC : 0);
    DWORD effects = 0;
    switch (options & 0x3) {
    case 0x3:
        effects = DDBLTFX_ROTATE270;
        break;
    case 0x2:
        effects = DDBLTFX_ROTATE180;
        break;
    case 0x1:
        effects = DDBLTFX_ROTATE90;
        break;
    default:
        break;
    }
    effects |= (options & 0x4) ? DDBLTFX_MIRRORLEFTRIGHT : 0;
    effects |= (options & 0x8) ? DDBLTFX_MIRRORUPDOWN : 0;
    DDBLTFX fx;
    memset(&fx, 0, sizeof fx);
    fx.dwSize = BLTFXSIZE;
    fx.dwDDFX = effects;
    if (effects != 0) {
        flags |= DDBLT_DDFX;
    }
    return SUCCEEDED(IDirectDrawSurface_Blt(destination, &to, source, &from, flags,
                                            effects != 0 ? &fx : nullptr))
               ? 1
               : 0;
}

void surfacetoscreen(IDirectDrawSurface *surface, int32_t *x, int32_t *y) {
    if (surface != nullptr && surface == display.primary) {
        *x += at(display.originx).load();
        *y += at(display.originy).load();
    }
}

void setwinpalette(displayrecord *record) {
    record = orlibrary(record);
    if (at(record->lockedsurface).load() != nullptr) {
        THISTLE_SITE(SITE);
        fatalerror("setwinpalette - SURFACE MAY NOT BE LOCKED DURING SETPALETTE.\n");
    }
    if (record->palette == nullptr || record->bitcount > 8) {
        return;
    }
    debugprint(&ddrawtrace, 1, "[DDRAW] setwinpalette\n");
    int32_t first = record->dirtyfirst;
    int32_t count = record->dirtylast - record->dirtyfirst + 1;
    if (first < 256 && count > 0) {
        HRESULT result = IDirectDrawPalette_SetEntries(
            record->palette, 0, (DWORD)first, (DWORD)count, (PALETTEENTRY *)record->entries[first]);
        debugprint(&ddrawtrace, 1, "[DDRAW] set entries (%d, %d); err=%d\n", first, count,
                   low16(result));
        /* A windowed display shares the system palette, which may have moved entries. */
        if (!record->fullscreen) {
            IDirectDrawPalette_GetEntries(record->palette, 0, 0, 256,
                                          (PALETTEENTRY *)record->entries);
        }
    }
    record->dirtyfirst = 256;
    record->dirtylast = -1;
}

void getwinpalette(displayrecord *record, uint32_t *colours) {
    record = orlibrary(record);
    if (record->palette == nullptr) {
        memset(colours, 0, 256 * sizeof *colours);
        return;
    }
    PALETTEENTRY entries[256];
    memset(entries, 0, sizeof entries);
    IDirectDrawPalette_GetEntries(record->palette, 0, 0, 256, entries);
    for (int i = 0; i < 256; i++) {
        colours[i] = 0xFF000000u | (uint32_t)entries[i].peRed << 16 |
                     (uint32_t)entries[i].peGreen << 8 | entries[i].peBlue;
    }
}

int32_t isdisplaymodex(void) {
    return display.ismodex;
}

int32_t canflipinvideo(void) {
    return display.canflip && !display.drambuffer && !display.sysmemback ? 1 : 0;
}

int32_t isbankswitched(void) {
    return display.bankswitched;
}

/* ---- lock and flip ------------------------------------------------------------------------- */

int32_t locksurface(displayrecord *record, IDirectDrawSurface *surface, rasterwindow *window) {
    record = orlibrary(record);
    if (surface != nullptr && surface == at(record->lockedsurface).load()) {
        return 1;
    }
    if (at(record->lockedsurface).load() != nullptr) {
        unlocksurface(record);
    }
    if (surface != nullptr) {
        enterlock(liblock);
        DDSURFACEDESC desc;
        cleardesc(&desc);
        HWND hwnd = windowof(record);
        int32_t result = LOCK_REFUSED;
        if (!record->fullscreen ||
            (at(record->appactive).load() != 0 && hwnd != nullptr && !IsIconic(hwnd))) {
            result = lockrestoring(record, &surface, &desc);
        }
        locktick = GetTickCount();
        if (result != 0) {
            lastlocktime = -1;
            if (lockok) {
                debugprint(&ddrawtrace, 4, "[DDRAW] locksurface - FAILED TO LOCK SURFACE (%08x)\n",
                           (unsigned)result);
                lockok = 0;
            }
            record->lockedpixels = nullptr;
            at(record->lockedsurface).store(nullptr);
            leavelock(liblock);
            lockfailed = 1;
            return 0;
        }
        if (!lockok) {
            debugprint(&ddrawtrace, 4, "[DDRAW] locksurface - RESTORED\n");
            lockok = 1;
        }
        record->lockedpixels = desc.lpSurface;
        at(record->lockedsurface).store(surface);
        if (window != nullptr) {
            auto *pixels = (uint8_t *)desc.lpSurface;
            auto pitch = (int32_t)desc.lPitch;
            /* A windowed primary is the whole desktop: the window starts at the client
             * area. */
            if (!record->fullscreen && surface == record->primary) {
                pixels += (ptrdiff_t)at(record->originx).load() *
                              (int32_t)(desc.ddpfPixelFormat.dwRGBBitCount / 8) +
                          (ptrdiff_t)at(record->originy).load() * pitch;
            }
            updatevideowindow(window, pitch, pixels);
        }
    }
    lockfailed = 0;
    return 1;
}

void unlocksurface(displayrecord *record) {
    record = orlibrary(record);
    IDirectDrawSurface *surface = at(record->lockedsurface).load();
    if (surface != nullptr) {
        IDirectDrawSurface_Unlock(surface, record->lockedpixels);
        at(record->lockedsurface).store(nullptr);
        record->lockedpixels = nullptr;
        notelocktime();
        leavelock(liblock);
    }
    lockfailed = 0;
}

int32_t relocksurface(displayrecord *record) {
    IDirectDrawSurface *surface = at(record->lockedsurface).load();
    if (surface == nullptr) {
        return 1;
    }
    void *before = record->lockedpixels;
    IDirectDrawSurface_Unlock(surface, before);
    /* Unlocked while liblock is given up: a configuration that runs meanwhile must not
     * find a lock. */
    at(record->lockedsurface).store(nullptr);
    record->lockedpixels = nullptr;
    notelocktime();
    leavelock(liblock);
    enterlock(liblock);
    locktick = GetTickCount();
    DDSURFACEDESC desc;
    int32_t result = lockrestoring(record, &surface, &desc);
    if (result == 0 && desc.lpSurface == before) {
        record->lockedpixels = before;
        at(record->lockedsurface).store(surface);
        return 1;
    }
    if (result == 0) {
        IDirectDrawSurface_Unlock(surface, desc.lpSurface);
    }
    lastlocktime = 0;
    leavelock(liblock);
    setdisplaywindow(standbywindow);
    debugprint(&ddrawtrace, 3, "relocksurface failed\n");
    return 0;
}

int32_t lockwithrestore(displayrecord *record, IDirectDrawSurface *surface, void *description) {
    auto *desc = (DDSURFACEDESC *)description;
    IDirectDrawSurface *locked = surface;
    int32_t result = lockrestoring(record, &locked, desc);
    /* The display was rebuilt: the caller's surface is gone, and the caller cannot know
     * the one that was locked in its place. */
    if (result == 0 && locked != surface) {
        IDirectDrawSurface_Unlock(locked, desc->lpSurface);
        return SURFACELOST;
    }
    return result;
}

int32_t testlocksurface(IDirectDrawSurface *surface) {
    DDSURFACEDESC desc;
    if (lockwithrestore(nullptr, surface, &desc) != 0) {
        return 0;
    }
    IDirectDrawSurface_Unlock(surface, desc.lpSurface);
    return 1;
}

int32_t flipdisplay(displayrecord *record, int32_t wait) {
    record = orlibrary(record);
    unlocksurface(record);
    if (record->primary == nullptr) {
        return 0;
    }
    return SUCCEEDED(IDirectDrawSurface_Flip(record->primary, nullptr, wait ? DDFLIP_WAIT : 0)) ? 1
                                                                                                : 0;
}

int32_t flipdone(displayrecord *record) {
    record = orlibrary(record);
    if (record->primary == nullptr) {
        return 1;
    }
    return low16(IDirectDrawSurface_GetFlipStatus(record->primary, DDGFS_ISFLIPDONE)) ==
                   WASSTILLDRAWING
               ? 0
               : 1;
}

void waitblitdone(IDirectDrawSurface *surface) {
    while (low16(IDirectDrawSurface_GetBltStatus(surface, DDGBS_ISBLTDONE)) == WASSTILLDRAWING) {
        sleepms(0);
    }
}
