/*
 * thistle/createw.h - the raster window record and memory windows.
 *
 * A memory window is one named block: the record, a 16-byte shape header and the pixel
 * rows. Pixel (x, y) is at data + rows[y] + cols[x]; rows and cols are row runs of the
 * row table (thistle/row.h), shared with other windows of the same geometry.
 *
 * Threads: no locks; creation and removal use the row table, so callers serialise them.
 */
#ifndef THISTLE_CREATEW_H
#define THISTLE_CREATEW_H

#include <cstddef>
#include <cstdint>

struct IDirectDrawSurface;

/* id of a live window ('WIND', stored low byte first) and of a removed one ('WINk'). */
constexpr uint32_t WINDOW_ID = 0x57494E44;
constexpr uint32_t WINDOW_REMOVEDID = 0x57494E6B;
/* Bytes of the shape header in front of a memory window's pixels. */
constexpr int32_t WINDOW_SHAPEHEADER = 16;
/* Largest memory window creation accepts (both inclusive). */
constexpr int32_t WINDOW_MAXWIDTH = 16384;
constexpr int32_t WINDOW_MAXHEIGHT = 8192;
/* marker of a memory window and of a video window. */
constexpr uint8_t WINDOW_MEMORYMARKER = 0;
constexpr uint8_t WINDOW_VIDEOMARKER = 255;

/* The raster window record, fields in this order. Pointers are native; on a 32-bit
 * target the record is 52 bytes. */
struct rasterwindow {
    uint32_t id;                 /* WINDOW_ID while it lives */
    int32_t width;               /* pixels per row */
    int32_t height;              /* rows */
    int32_t minx;                /* clip box: left column */
    int32_t miny;                /* clip box: top row */
    int32_t maxx;                /* clip box: one past the right-most column */
    int32_t maxy;                /* clip box: one past the bottom row */
    uint8_t bpp;                 /* bits per pixel as requested (15 stays 15) */
    uint8_t type;                /* shape type code of the depth (windowtype) */
    uint8_t marker;              /* 0 memory window, 255 video window */
    uint8_t *data;               /* where row offsets count from: shape header or first pixel */
    int32_t pitch;               /* bytes from one row to the next */
    int32_t *rows;               /* row run: entry y is row y's offset from data */
    int32_t *cols;               /* row run: entry x is pixel x's byte offset in a row */
    IDirectDrawSurface *surface; /* display surface of a video window, else null */
};
static_assert(sizeof(void *) != 4 || sizeof(rasterwindow) == 52,
              "the raster window record is 52 bytes on a 32-bit target");
static_assert(offsetof(rasterwindow, bpp) == 28 && offsetof(rasterwindow, marker) == 30,
              "bpp, type and marker follow the clip box");

/* Shape type code of a depth: 1, 4, 8, 15, 16, 24, 32 -> 0x79, 0x7A, 0x7B, 0x7E, 0x78,
 * 0x7F, 0x7D; 0 for any other depth. */
int32_t windowtype(int32_t bpp);

/* A new memory window of width x height pixels (0..16384 x 0..8192) and depth bpp (0:
 * screendepth, or 8 before graphics are up), in one block of memory class memclass
 * named "WxHxB". The caller owns it until removewindow. Null on failure, reported while
 * reporterrors is set. Needs the row table. */
rasterwindow *createwindow(int32_t width, int32_t height, int32_t bpp, int32_t memclass);
/* createwindow that never reports. */
rasterwindow *createwindowquiet(int32_t width, int32_t height, int32_t bpp, int32_t memclass);
/* Releases the window's surface and row runs, marks the record removed ('WINk', type and
 * bpp 0) and purges its block. */
void removewindow(rasterwindow *window);

#endif /* THISTLE_CREATEW_H */
