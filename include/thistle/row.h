/*
 * thistle/row.h - the row table: one shared pool of 32-bit offset series ("row runs")
 * through which every raster window addresses its rows and columns.
 *
 * A run holds entry i = (base + i * step) >> shift. Windows of the same geometry share a
 * run (a users count per run); a run made for a taller window also serves a shorter one
 * with the same series. The pool is first fit and merges free neighbours on release.
 *
 * Threads: no lock of its own; one thread at a time (window creation and removal callers
 * serialise). The state below is plain globals.
 */
#ifndef THISTLE_ROW_H
#define THISTLE_ROW_H

#include <cstdint>

/* Pool size in 32-bit words (headers included) that initrow sets up: 14336 words
 * (57,344 bytes) until initrowadr makes its own size the configured one. */
constexpr int32_t ROWTABLE_DEFAULTCAPACITY = 0x3800;
/* initrow refuses a smaller capacity. */
constexpr int32_t ROWTABLE_MINCAPACITY = 204;
/* Words of a run's header: count of entries, then users (0: free). */
constexpr int32_t ROWRUN_HEADER = 2;

/* The configured capacity in words. */
extern int32_t rowcapacity;
/* Start of the pool (null while there is no row table) and one past its last word. */
extern int32_t *rowtable;
extern int32_t *rowtableend;

/* Sets up the row table from rowcapacity: reserves the pool ("rowtbl", defaultmemclass)
 * when there is none, and makes it one free run. A pool that exists is kept but every run
 * in it is forgotten. A capacity below 204 is a fatal report. */
void initrow(void);
/* Sets up the row table in the caller's memory of capacity words (no minimum) and makes
 * that the configured capacity. The memory stays the caller's. Returns memory. */
int32_t *initrowadr(int32_t *memory, int32_t capacity);
/* Purges the pool and marks the row table absent; runs still held are not looked at. */
void closerow(void);
/* A run of at least count entries holding (base + i * step) >> shift (shift 0..31): an
 * existing run with the same first two entries is shared, else the first free run that
 * fits is taken. Returns its first entry; null when nothing fits or there is no table. */
int32_t *getrows(int32_t base, int32_t step, int32_t shift, int32_t count);
/* Gives back one hold on the run whose first entry is entries; the last hold frees it.
 * A pointer that is not a run's first entry is a fatal report. */
void freerows(int32_t *entries);

#endif /* THISTLE_ROW_H */
