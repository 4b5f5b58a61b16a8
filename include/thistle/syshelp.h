/*
 * thistle/syshelp.h - process and platform helpers: program exit and exit functions,
 * the environment, the millisecond clock, the single-instance guard, the screen size,
 * the hardware-detection stubs and colour conversion to pixel values.
 *
 * Threads: registerexit may be called from any thread; singleinstance belongs to
 * program start-up on the main thread.
 */
#ifndef THISTLE_SYSHELP_H
#define THISTLE_SYSHELP_H

#include <cstdint>

/* Room in the exit-function table; registrations beyond it answer -1. */
#define EXIT_FUNCTIONS 32

/* Ends the program through the normal exit path with code 0: the registered exit
 * functions run, the standard streams are flushed. */
[[noreturn]] void exitprogram(void);

/* Registers function to run at normal program exit, the last registered first.
 * Returns 0, or -1 when the table is full. */
int32_t registerexit(void (*function)(void));

/* Sets the environment entry name=value of the process (as "%s=%s", cut at 511
 * bytes); returns 0. */
int32_t setenvironment(const char *name, const char *value);

/* Milliseconds since the system started; wraps after about 49.7 days. */
uint32_t getmilliseconds(void);

/* Non-zero (start value 1): a second instance ends in singleinstance. */
extern int32_t singleinstanceexit;
/* The mutex singleinstance created; held for the life of the process. */
extern void *instancemutex;

/* 0 when this is the only instance of the program named name (null: applicationname,
 * set from the program's path when still empty). Otherwise restores and raises the
 * first instance's window, then returns 1, or ends the program when
 * singleinstanceexit is set. */
int32_t singleinstance(const char *name);

/* The primary screen's size; depth is always stored as 0. */
struct screensize {
    int32_t width;
    int32_t height;
    int32_t depth;
};
static_assert(sizeof(screensize) == 12, "three 32-bit fields");

/* Fills size with the screen's width and height and 0; returns size. */
screensize *getscreensize(screensize *size);

/* Detection placeholders: each writes its warning to the text debug screen and
 * returns 1. detecthardware answers what detectdirectdraw answers. */
int32_t detectdirectdraw(void);
int32_t detectdirect3d(void);
int32_t detectdirectsound(void);
int32_t detecthardware(void);

/* Colours are 0x00RRGGBB. closestcolour searches the system palette (palette is not
 * read) for the nearest entry among 0 to 253; colourtopixel gives the pixel value of
 * the colour at the display's current depth. */
int32_t closestcolour(const uint32_t *palette, uint32_t colour);
uint32_t colourtopixel(uint32_t colour);
/* Packs a colour into 5:6:5 / 1:5:5:5 (top bit set, except for black) pixels. */
uint32_t rgbto565(uint32_t colour);
uint32_t rgbto555(uint32_t colour);
/* Exchanges the lowest and the third byte: 0xAARRGGBB becomes 0xAABBGGRR. */
uint32_t swapredblue(uint32_t colour);

#endif /* THISTLE_SYSHELP_H */
