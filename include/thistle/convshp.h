/*
 * thistle/convshp.h - conversion of a shape from one type to another.
 *
 * A conversion runs in steps: each looks up the row converter and the type it gives for
 * (source format, target format) in the dispatch tables of thistle/convrow.h, converts
 * every row into a new block of defaultmemclass named "<sb>to<db>" (bits of source and
 * result, e.g. "8to16"), and goes on from the result until it has the target type, at
 * most 10 steps. A packed source is unpacked first. Indexed sources read their colours
 * from the shape's colour table (or the system palette, or the system palette through
 * the remap). The caller owns the result (purgememadr); the source is left as it was.
 * Threads: the colour look-ups are library-wide: one converting thread at a time.
 */
#ifndef THISTLE_CONVSHP_H
#define THISTLE_CONVSHP_H

#include "thistle/convrow.h"

#include <cstdint>

/* A new shape converted from shape towards type target. systempaletteflag non-zero: the
 * first step takes the colours of indexed pixels from the system palette through the
 * remap instead of the shape's table. alphathreshold non-zero: colours with alpha below
 * 0x40 become transparent 0 in 16-bit results. The result has chain offset 0 (no table).
 * Invalid types, a corrupted result and a failed reservation are fatal reports. */
void *convertshape(const void *shape, int32_t target, int32_t systempaletteflag,
                   int32_t alphathreshold);
/* convertshape(shape, target, 0, 1). */
void *convertshapetype(const void *shape, int32_t target);
/* convertshape(shape, windowtype(bpp), 0, 1). */
void *convertshapedepth(const void *shape, int32_t bpp);
/* The row converter that takes the shape to target in one step, or null when the step
 * gives another type. For indexed to direct pixels it also prepares the colour look-ups
 * from the shape's table, which stay set for the caller's own row loop. */
rowconverter getshapeconverter(const void *shape, int32_t target, int32_t alphathreshold);
/* Sets the remap from shape colour indices to system palette indices (256 bytes, copied)
 * used when convertshape is given the system-palette flag. Identity at start. */
void setshaperemap(const uint8_t *remap);

#endif /* THISTLE_CONVSHP_H */
