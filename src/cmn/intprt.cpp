/*
 * cmn\intprt - reading keys (see thistle/intprt.h): the layout tables that turn the key
 * queue's scan codes into key codes, the substitution slots and index, and the waiting
 * reads.
 *
 * Threads and locks: the queue is read under its own lock (the window thread writes it);
 * the key-down table and the caps flag are bytes the window thread writes and this module
 * reads without a lock. The substitution tables take no lock: a program binds its keys
 * before it reads them.
 * Decided here: without a key queue (no main window opened yet) the readers find nothing;
 * the waits give the processor up for a millisecond between polls; keyticks waits for a
 * key until the deadline (see there).
 */
#include "thistle/intprt.h"

#include "thistle/diag.h"
#include "thistle/key.h"
#include "thistle/startup.h"
#include "thistle/syshelp.h"
#include "thistle/systask.h"
#include "thistle/threads.h"
#include "thistle/timer.h"

#include <atomic>

namespace {

constexpr const char *site = "cmn\\intprt";

/* ---- layout tables ------------------------------------------------------------------ */

/* One byte per scan code 0x00..0x5A. A value below 0x80 is the key code itself; 0x80 to
 * 0x8F give value << 8 and 0x90 to 0xFF give (value & 0x7F) << 8, so the extended codes
 * fit in a byte (0xBB is F1, 0x3B00); 0 gives nothing. */
constexpr int32_t LAYOUT_KEYS = 0x5B;

const uint8_t alttable[LAYOUT_KEYS] = {
    /* 0x00 */ 0x00, 0x1B, 0x21, 0x40, 0x23, 0x24, 0x25, 0x5E,
    /* 0x08 */ 0x26, 0x2A, 0x28, 0x29, 0x5F, 0x2B, 0x08, 0x8F,
    /* 0x10 */ 0x90, 0x91, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97,
    /* 0x18 */ 0x98, 0x99, 0x7B, 0x7D, 0x0D, 0x00, 0x9E, 0x9F,
    /* 0x20 */ 0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0x3A,
    /* 0x28 */ 0x22, 0x7E, 0x00, 0x7C, 0xAC, 0xAD, 0xAE, 0xAF,
    /* 0x30 */ 0xB0, 0xB1, 0xB2, 0x3C, 0x3E, 0x3F, 0x00, 0x00,
    /* 0x38 */ 0x00, 0x20, 0x00, 0xF8, 0xF9, 0xFA, 0xFB, 0xFC,
    /* 0x40 */ 0xFD, 0xFE, 0xFF, 0x80, 0x81, 0x00, 0x00, 0xC7,
    /* 0x48 */ 0xC8, 0xC9, 0x2D, 0xCB, 0xCC, 0xCD, 0x2B, 0xCF,
    /* 0x50 */ 0xD0, 0xD1, 0xD2, 0xD3, 0x00, 0x00, 0x00, 0x8D,
    /* 0x58 */ 0x8E, 0x00, 0x00,
};

const uint8_t ctrltable[LAYOUT_KEYS] = {
    /* 0x00 */ 0x00, 0x1B, 0x21, 0x00, 0x23, 0x24, 0x25, 0x1E,
    /* 0x08 */ 0x26, 0x2A, 0x28, 0x29, 0x1F, 0xB3, 0x7F, 0x09,
    /* 0x10 */ 0x11, 0x17, 0x05, 0x12, 0x14, 0x19, 0x15, 0x09,
    /* 0x18 */ 0x0F, 0x10, 0x1B, 0x1D, 0x0D, 0x00, 0x01, 0x13,
    /* 0x20 */ 0x04, 0x06, 0x07, 0x08, 0x0A, 0x0B, 0x0C, 0x3B,
    /* 0x28 */ 0x2C, 0x60, 0x00, 0x1C, 0x1A, 0x18, 0x03, 0x16,
    /* 0x30 */ 0x02, 0x0E, 0xB2, 0x3C, 0x3E, 0x3F, 0x00, 0x00,
    /* 0x38 */ 0x00, 0x20, 0x00, 0xDE, 0xDF, 0xE0, 0xE1, 0xE2,
    /* 0x40 */ 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0x00, 0x00, 0xC7,
    /* 0x48 */ 0xC8, 0xC9, 0x2D, 0xCB, 0xCC, 0xCD, 0x2B, 0xCF,
    /* 0x50 */ 0xD0, 0xD1, 0xD2, 0xD3, 0x00, 0x00, 0x00, 0x8B,
    /* 0x58 */ 0x8C, 0x00, 0x00,
};

const uint8_t shifttable[LAYOUT_KEYS] = {
    /* 0x00 */ 0x00, 0x1B, 0x21, 0x40, 0x23, 0x24, 0x25, 0x5E,
    /* 0x08 */ 0x26, 0x2A, 0x28, 0x29, 0x5F, 0x2B, 0x08, 0x8F,
    /* 0x10 */ 0x51, 0x57, 0x45, 0x52, 0x54, 0x59, 0x55, 0x49,
    /* 0x18 */ 0x4F, 0x50, 0x7B, 0x7D, 0x0D, 0x00, 0x41, 0x53,
    /* 0x20 */ 0x44, 0x46, 0x47, 0x48, 0x4A, 0x4B, 0x4C, 0x3A,
    /* 0x28 */ 0x22, 0x7E, 0x00, 0x7C, 0x5A, 0x58, 0x43, 0x56,
    /* 0x30 */ 0x42, 0x4E, 0x4D, 0x3C, 0x3E, 0x3F, 0x00, 0x00,
    /* 0x38 */ 0x00, 0x20, 0x00, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8,
    /* 0x40 */ 0xD9, 0xDA, 0xDB, 0xDC, 0xDD, 0x00, 0x00, 0xC7,
    /* 0x48 */ 0xC8, 0xC9, 0x2D, 0xCB, 0xCC, 0xCD, 0x2B, 0xCF,
    /* 0x50 */ 0xD0, 0xD1, 0xD2, 0xD3, 0x00, 0x00, 0x00, 0x89,
    /* 0x58 */ 0x8A, 0x00, 0x00,
};

const uint8_t capstable[LAYOUT_KEYS] = {
    /* 0x00 */ 0x00, 0x1B, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36,
    /* 0x08 */ 0x37, 0x38, 0x39, 0x30, 0x2D, 0x3D, 0x08, 0x8F,
    /* 0x10 */ 0x51, 0x57, 0x45, 0x52, 0x54, 0x59, 0x55, 0x49,
    /* 0x18 */ 0x4F, 0x50, 0x5B, 0x5D, 0x0D, 0x00, 0x41, 0x53,
    /* 0x20 */ 0x44, 0x46, 0x47, 0x48, 0x4A, 0x4B, 0x4C, 0x3B,
    /* 0x28 */ 0x27, 0x60, 0x00, 0x5C, 0x5A, 0x58, 0x43, 0x56,
    /* 0x30 */ 0x42, 0x4E, 0x4D, 0x2C, 0x2E, 0x2F, 0x00, 0x00,
    /* 0x38 */ 0x00, 0x20, 0x00, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8,
    /* 0x40 */ 0xD9, 0xDA, 0xDB, 0xDC, 0xDD, 0x00, 0x00, 0xC7,
    /* 0x48 */ 0xC8, 0xC9, 0x2D, 0xCB, 0xCC, 0xCD, 0x2B, 0xCF,
    /* 0x50 */ 0xD0, 0xD1, 0xD2, 0xD3, 0x00, 0x00, 0x00, 0x89,
    /* 0x58 */ 0x8A, 0x00, 0x00,
};

const uint8_t unshiftedtable[LAYOUT_KEYS] = {
    /* 0x00 */ 0x00, 0x1B, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36,
    /* 0x08 */ 0x37, 0x38, 0x39, 0x30, 0x2D, 0x3D, 0x08, 0x09,
    /* 0x10 */ 0x71, 0x77, 0x65, 0x72, 0x74, 0x79, 0x75, 0x69,
    /* 0x18 */ 0x6F, 0x70, 0x5B, 0x5D, 0x0D, 0x00, 0x61, 0x73,
    /* 0x20 */ 0x64, 0x66, 0x67, 0x68, 0x6A, 0x6B, 0x6C, 0x3B,
    /* 0x28 */ 0x27, 0x60, 0x00, 0x5C, 0x7A, 0x78, 0x63, 0x76,
    /* 0x30 */ 0x62, 0x6E, 0x6D, 0x2C, 0x2E, 0x2F, 0x00, 0x2A,
    /* 0x38 */ 0x00, 0x20, 0x00, 0xBB, 0xBC, 0xBD, 0xBE, 0xBF,
    /* 0x40 */ 0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0x00, 0x00, 0xC7,
    /* 0x48 */ 0xC8, 0xC9, 0x2D, 0xCB, 0xCC, 0xCD, 0x2B, 0xCF,
    /* 0x50 */ 0xD0, 0xD1, 0xD2, 0xD3, 0x00, 0x00, 0x00, 0x87,
    /* 0x58 */ 0x88, 0x00, 0x00,
};

constexpr uint8_t SCAN_ESCAPE = 0x01;
constexpr uint8_t SCAN_CTRL = 0x1D;
constexpr uint8_t SCAN_LEFTSHIFT = 0x2A;
constexpr uint8_t SCAN_RIGHTSHIFT = 0x36;
constexpr uint8_t SCAN_ALT = 0x38;
constexpr uint8_t SCAN_CAPSLOCK = 0x3A;

/* The table the held modifiers choose. */
const uint8_t *layout(void) {
    if (keydown(SCAN_ALT) != 0) {
        return alttable;
    }
    if (keydown(SCAN_CTRL) != 0) {
        return ctrltable;
    }
    if (keydown(SCAN_LEFTSHIFT) != 0 || keydown(SCAN_RIGHTSHIFT) != 0) {
        return shifttable;
    }
    if (std::atomic_ref<uint8_t>(keycaps).load() != 0) {
        return capstable;
    }
    return unshiftedtable;
}

int32_t keycodeof(uint8_t value) {
    if (value < 0x80) {
        return value;
    }
    if (value < 0x90) {
        return (int32_t)value << 8;
    }
    return (int32_t)(value & 0x7F) << 8;
}

/* Marks the abort from translate. */
constexpr int32_t ABORT = -1;

/* translatekey without the abort itself: ABORT when Ctrl+Escape is to end the program. */
int32_t translate(int32_t scan) {
    if (scan == SCAN_CAPSLOCK) {
        std::atomic_ref<uint8_t>(keycaps).fetch_xor(1);
        return 0;
    }
    if (scan == SCAN_ESCAPE && keydown(SCAN_CTRL) != 0 && keyabort != 0) {
        return ABORT;
    }
    if (scan < 0 || scan >= LAYOUT_KEYS) {
        return 0;
    }
    return keycodeof(layout()[scan]);
}

/* ---- the key queue ------------------------------------------------------------------- */

/* Takes entries from the read position until one gives a key code, and returns scan << 16
 * | key code, 0 when the queue runs out. remove 0 leaves the entry that gave the code in
 * the queue. */
uint32_t readqueue(bool remove) {
    critsection *lock = std::atomic_ref<critsection *>(keyqueue.lock).load();
    if (lock == nullptr) {
        return 0;
    }
    enterlock(lock);
    uint32_t result = 0;
    bool abort = false;
    while (keyqueue.read != keyqueue.write && result == 0 && !abort) {
        uint32_t entry = keyqueue.entries[keyqueue.read];
        uint32_t scan = (entry >> 8) & 0xFF;
        uint32_t code = entry >> 16;
        if (code == 0) {
            int32_t translated = translate((int32_t)scan);
            abort = translated == ABORT;
            code = abort ? 0 : (uint32_t)translated;
        }
        if (code != 0) {
            result = scan << 16 | code;
        }
        if (code == 0 || remove) {
            keyqueue.read = (keyqueue.read + 1) % keyqueue.size;
        }
    }
    leavelock(lock);
    /* Outside the lock: the exit functions may wait for the window thread, which may be
     * waiting for the queue. */
    if (abort) {
        exitprogram();
    }
    return result;
}

/* ---- substitutions ------------------------------------------------------------------- */

keysubfunction subslots[KEY_SUBSTITUTIONS];
/* Slot number + 1 per code 0..255, and per high byte of codes 256..65535; 0: unbound. */
uint8_t lowsubs[256];
uint8_t highsubs[256];

/* The index byte of code, or null for codes that have none. */
uint8_t *subindex(int32_t code) {
    uint32_t value = (uint32_t)code;
    if (value < 256) {
        return &lowsubs[value];
    }
    if (value < 65536) {
        return &highsubs[value >> 8];
    }
    return nullptr;
}

/* ---- waits --------------------------------------------------------------------------- */

keyreaderfunction keyreader = getkey;

int32_t pollkey(void) {
    keyreaderfunction reader = std::atomic_ref<keyreaderfunction>(keyreader).load();
    return reader != nullptr ? reader() : 0;
}

/* A wait on the main thread while it holds a display surface would keep the window thread
 * (which needs liblock to paint) and so the keys themselves away. */
void checksurface(const char *name) {
    if (isthread(nullptr) != 0 && std::atomic_ref<IDirectDraw2 *>(display.directdraw).load() &&
        std::atomic_ref<IDirectDrawSurface *>(display.lockedsurface).load() != nullptr) {
        THISTLE_SITE(site);
        fatalerror("%s - DO NOT CALL WITH SURFACE LOCKED\n", name);
    }
}

} // namespace

int32_t translatekey(int32_t scan) {
    int32_t code = translate(scan);
    if (code == ABORT) {
        exitprogram();
    }
    return code;
}

int32_t getrawkey(void) {
    return (int32_t)(readqueue(true) & 0xFFFF);
}

int32_t getkey(void) {
    int32_t code = getrawkey();
    return code != 0 ? applysub(code) : 0;
}

int32_t peekkey(void) {
    return (int32_t)(readqueue(false) & 0xFFFF);
}

void flushkeys(void) {
    while (getrawkey() != 0) {
    }
}

int32_t inkey(void) {
    checksurface("inkey");
    for (;;) {
        runsystemtasks(0);
        int32_t key = pollkey();
        if (key != 0) {
            return key;
        }
        sleepms(1);
    }
}

int32_t inkeywait(int32_t ticks) {
    uint32_t end = gettick() + (uint32_t)ticks;
    for (;;) {
        int32_t key = pollkey();
        if (key != 0) {
            return key;
        }
        runsystemtasks(0);
        if ((int32_t)(gettick() - end) >= 0) {
            return 0;
        }
        sleepms(1);
    }
}

/* Waits for a key while the deadline is ahead and gives 0 once it has passed, always
 * after one poll at least: a wait bounded by the deadline is what a caller that sets one
 * wants, rather than a poll that turns into an endless wait once the deadline is gone. */
int32_t keyticks(void) {
    checksurface("keyticks");
    for (;;) {
        runsystemtasks(0);
        int32_t key = pollkey();
        if (key != 0 || deadlinepassed() != 0) {
            return key;
        }
        sleepms(1);
    }
}

keyreaderfunction setkeyreader(keyreaderfunction reader) {
    std::atomic_ref<keyreaderfunction>(keyreader).store(reader);
    return reader;
}

void interpretsub(int32_t code, keysubfunction handler) {
    int32_t slot = -1;
    int32_t empty = -1;
    for (int32_t i = 0; i < KEY_SUBSTITUTIONS; i++) {
        if (subslots[i] == handler) {
            slot = i;
            break;
        }
        if (subslots[i] == nullptr && empty < 0) {
            empty = i;
        }
    }
    if (slot < 0) {
        if (empty < 0) {
            THISTLE_SITE(site);
            fatalerror("interpretsub -- MAXIMUM 64 KEYSUBS");
            return;
        }
        slot = empty;
        subslots[slot] = handler;
    }
    if (uint8_t *index = subindex(code)) {
        *index = (uint8_t)(slot + 1);
    }
}

void removesub(int32_t code) {
    if (uint8_t *index = subindex(code)) {
        *index = 0;
    }
}

int32_t applysub(int32_t code) {
    uint8_t *index = subindex(code);
    if (index == nullptr || *index == 0) {
        return code;
    }
    keysubfunction handler = subslots[*index - 1];
    if (handler != nullptr) {
        handler();
    }
    return 0;
}
