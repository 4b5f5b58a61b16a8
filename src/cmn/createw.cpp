/*
 * cmn\createw - memory windows: creation and removal of raster windows that own their
 * pixels (see thistle/createw.h).
 *
 * A memory window is one block of a memory class, named "WxHxB":
 *
 *   +-----------------+--------------+----------+----------+-----+---------------+
 *   | rasterwindow    | shape header | row 0    | row 1    | ... | row height-1  |
 *   |                 | (16 bytes)   | (pitch)  | (pitch)  |     | (pitch)       |
 *   +-----------------+--------------+----------+----------+-----+---------------+
 *                     ^ data         ^ data + rows[0] (= data + 16)
 *
 * so the pixels are at the same time a shape. Rows are ceil(width * step / 8) bytes,
 * step being the bits one pixel takes (15-bit pixels take 16), with no further rounding.
 *
 * Threads: no locks; the row table needs callers to serialise creation and removal.
 */
#include "thistle/createw.h"

#include "thistle/ddraw.h"
#include "thistle/diag.h"
#include "thistle/initgrf.h"
#include "thistle/memstd.h"
#include "thistle/row.h"
#include "thistle/startup.h"

#include <cstdio>
#include <cstring>

namespace {

// Bits one pixel takes in memory.
int32_t pixelstep(int32_t bpp) {
    return bpp == 15 ? 16 : bpp;
}

// Reserves the block with the memory classes' own report switched off: a window that
// does not fit is reported once, by the window's creator, with the window's size in it.
void *reservequietly(const char *name, int32_t size, int32_t memclass) {
    int32_t saved = reporterrors;
    reporterrors = 0;
    void *block = reservememadr(name, size, static_cast<uint32_t>(memclass));
    reporterrors = saved;
    return block;
}

// Writes the 16-byte shape header in front of the pixels: type, three zero bytes, width
// and height as little-endian 16-bit values, eight zero bytes.
void writeshapeheader(uint8_t *header, int32_t type, int32_t width, int32_t height) {
    std::memset(header, 0, WINDOW_SHAPEHEADER);
    header[0] = static_cast<uint8_t>(type);
    header[4] = static_cast<uint8_t>(width);
    header[5] = static_cast<uint8_t>(width >> 8);
    header[6] = static_cast<uint8_t>(height);
    header[7] = static_cast<uint8_t>(height >> 8);
}

// The one creation procedure; report says whether failures go through fatalerror.
rasterwindow *makewindow(int32_t width, int32_t height, int32_t bpp, int32_t memclass,
                         int32_t report) {
    if (bpp == 0) {
        bpp = screendepth != 0 ? screendepth : 8;
    }
    if (width < 0 || width > WINDOW_MAXWIDTH || height < 0 || height > WINDOW_MAXHEIGHT) {
        if (report != 0) {
            THISTLE_SITE("cmn\\createw");
            fatalerror("createwindow - INVALID WINDOW DIMENSIONS\nrequested: %dx%dx%d maximum: "
                       "%dx%d\n",
                       width, height, bpp, WINDOW_MAXWIDTH, WINDOW_MAXHEIGHT);
        }
        return nullptr;
    }
    int32_t type = windowtype(bpp);
    if (type == 0) {
        if (report != 0) {
            THISTLE_SITE("cmn\\createw");
            fatalerror("createwindow - INVALID DEPTH\nrequested: %dx%dx%d BPP MUST BE "
                       "1,4,8,15,16,24,OR 32\n",
                       width, height, bpp);
        }
        return nullptr;
    }
    int32_t step = pixelstep(bpp);
    int32_t pitch = (width * step + 7) / 8;
    int32_t size = static_cast<int32_t>(sizeof(rasterwindow)) + WINDOW_SHAPEHEADER + pitch * height;
    char name[40];
    std::snprintf(name, sizeof name, "%dx%dx%d", width, height, bpp);
    auto *window = static_cast<rasterwindow *>(reservequietly(name, size, memclass));
    if (window == nullptr) {
        if (report != 0) {
            outofmemorycount += 1;
            THISTLE_SITE("cmn\\createw");
            fatalerror("createwindowadr - OUT OF MEMORY\nrequested: %dx%dx%d bytes: %d available: "
                       "%d\n",
                       width, height, bpp, size, largestmemblock(memclass));
        }
        return nullptr;
    }
    std::memset(window, 0, sizeof(rasterwindow));
    uint8_t *header = reinterpret_cast<uint8_t *>(window + 1);
    writeshapeheader(header, type, width, height);
    window->id = WINDOW_ID;
    window->width = width;
    window->maxx = width;
    window->height = height;
    window->maxy = height;
    window->bpp = static_cast<uint8_t>(bpp);
    window->type = static_cast<uint8_t>(type);
    window->data = header;
    if (rowtable == nullptr) {
        purgememadr(window);
        if (report != 0) {
            THISTLE_SITE("cmn\\createw");
            fatalerror("createwindow - ROW TABLE MANAGER NOT INITIALIZED\ncall initrow or "
                       "initgraphics first.  requested: %dx%dx%d.\n",
                       width, height, bpp);
        }
        return nullptr;
    }
    window->pitch = pitch;
    window->rows = getrows(WINDOW_SHAPEHEADER, pitch, 0, height);
    window->cols = getrows(0, step, 3, width);
    if (window->rows == nullptr || window->cols == nullptr) {
        if (window->rows != nullptr) {
            freerows(window->rows);
        }
        if (window->cols != nullptr) {
            freerows(window->cols);
        }
        purgememadr(window);
        if (report != 0) {
            THISTLE_SITE("cmn\\createw");
            fatalerror("createwindowblock - OUT OF ROW SPACE\nrequested: %dx%d\n", width, height);
        }
        return nullptr;
    }
    return window;
}

} // namespace

/* The shape type code of a depth, 0 when the depth is not one a window can have. */
int32_t windowtype(int32_t bpp) {
    switch (bpp) {
    case 1:
        return 0x79;
    case 4:
        return 0x7A;
    case 8:
        return 0x7B;
    case 15:
        return 0x7E;
    case 16:
        return 0x78;
    case 24:
        return 0x7F;
    case 32:
        return 0x7D;
    default:
        return 0;
    }
}

/* A new memory window, or null; failures are reported while reporterrors is set. The
 * window is the caller's until removewindow. */
rasterwindow *createwindow(int32_t width, int32_t height, int32_t bpp, int32_t memclass) {
    return makewindow(width, height, bpp, memclass, reporterrors);
}

/* createwindow without any report. */
rasterwindow *createwindowquiet(int32_t width, int32_t height, int32_t bpp, int32_t memclass) {
    return makewindow(width, height, bpp, memclass, 0);
}

/* Releases the window's surface (a video window's) and runs, marks the record removed and
 * purges its block. */
void removewindow(rasterwindow *window) {
    if (window->surface != nullptr) {
        releasesurface(&display, window->surface);
    }
    if (window->rows != nullptr) {
        freerows(window->rows);
    }
    if (window->cols != nullptr) {
        freerows(window->cols);
    }
    window->type = 0;
    window->bpp = 0;
    window->id = WINDOW_REMOVEDID;
    purgememadr(window);
}
