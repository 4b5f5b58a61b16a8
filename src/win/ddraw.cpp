/*
 * ddraw.cpp - win\ddraw: the display device's disposal (see thistle/ddraw.h).
 *
 * No display device is created yet, so a record never holds one and there is nothing
 * to release.
 */
#include "thistle/ddraw.h"

#include "thistle/startup.h"

/* Releases record's device; a record without one is left as it is. */
void disposewindisplay(displayrecord *record) {
    if (record == nullptr) {
        record = &display;
    }
    if (record->directdraw == nullptr) {
        return;
    }
}
