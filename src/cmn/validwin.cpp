/*
 * cmn\validwin - validation of raster window records (see thistle/validwin.h).
 *
 * Every field of the table is checked, in its order, even after one failed, so that a
 * damaged record is described whole while reporterrors is set.
 */
#include "thistle/validwin.h"

#include "thistle/createw.h"
#include "thistle/diag.h"

#include <cstddef>
#include <cstdint>
#include <iterator>

namespace {

struct fieldcheck {
    const char *name;
    int32_t low;
    int32_t high;
    bool hex; // the value and its range are shown in hex
};

// The checked fields in their order; a field passes when low <= value <= high (signed).
// Heights up to 16384 pass although creation makes none above 8192.
constexpr fieldcheck fieldchecks[] = {
    {"id", static_cast<int32_t>(WINDOW_ID), static_cast<int32_t>(WINDOW_ID), true},
    {"width", 1, 16384, false},
    {"height", 1, 16384, false},
    {"bpp", 1, 32, false},
    {"type", 0, 127, true},
    {"minx", 0, 16384, false},
    {"maxx", 0, 16384, false},
    {"miny", 0, 16384, false},
    {"maxy", 0, 16384, false},
};

// The report of one bad field, in one of four forms: a single allowed value or a range,
// shown in hex or decimal. The record is named by the low 32 bits of its address so the
// text keeps eight hex digits on every target.
void reportfield(const rasterwindow *w, const fieldcheck &f, int32_t v) {
    auto at = static_cast<unsigned long>(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(w)));
    int32_t low = f.low, high = f.high;
    int32_t width = w->width, height = w->height, bpp = w->bpp;
    THISTLE_SITE("cmn\\validwin");
    if (f.low == f.high && f.hex) {
        fatalerror("checkwindow - BAD WINDOW FIELD '%s'.\nVALUE IS %x.  SHOULD BE %x.  "
                   "%dx%dx%d @ %lx\n",
                   f.name, static_cast<unsigned>(v), static_cast<unsigned>(low), width, height, bpp,
                   at);
    } else if (f.low == f.high) {
        fatalerror("checkwindow - BAD WINDOW FIELD '%s'.\nVALUE IS %d.  SHOULD BE %d.  "
                   "%dx%dx%d @ %lx\n",
                   f.name, v, low, width, height, bpp, at);
    } else if (f.hex) {
        fatalerror("checkwindow - BAD WINDOW FIELD '%s'.\nVALUE IS %x.  SHOULD BE %x..%x.  "
                   "%dx%dx%d @ %lx\n",
                   f.name, static_cast<unsigned>(v), static_cast<unsigned>(low),
                   static_cast<unsigned>(high), width, height, bpp, at);
    } else {
        fatalerror("checkwindow - BAD WINDOW FIELD '%s'.\nVALUE IS %d.  SHOULD BE %d..%d.  "
                   "%dx%dx%d @ %lx\n",
                   f.name, v, low, high, width, height, bpp, at);
    }
}

} // namespace

/* 1 when every checked field is in range; each bad field reported while reporterrors is
 * set. */
int32_t checkwindow(const rasterwindow *window) {
    // The values in the table's order, compared as signed 32-bit numbers.
    const int32_t values[] = {static_cast<int32_t>(window->id),
                              window->width,
                              window->height,
                              window->bpp,
                              window->type,
                              window->minx,
                              window->maxx,
                              window->miny,
                              window->maxy};
    static_assert(std::size(values) == std::size(fieldchecks));
    int32_t ok = 1;
    for (size_t i = 0; i < std::size(fieldchecks); i++) {
        const fieldcheck &f = fieldchecks[i];
        if (values[i] < f.low || values[i] > f.high) {
            ok = 0;
            if (reporterrors != 0) {
                reportfield(window, f, values[i]);
            }
        }
    }
    return ok;
}
