/*
 * key.cpp - win\key: the keyboard state the window thread keeps and the lock keys
 * (see thistle/key.h).
 *
 * Threads: the window thread writes the key-down table and the last scan code; any
 * thread reads them without a lock. setlockkey synthesises keys through the platform,
 * whose own input handling turns them into messages for the window thread.
 */
#include "thistle/key.h"

#include "plat/win32.h"
#include "thistle/startup.h"

#include <atomic>

uint8_t keydowntable[128] = {};
uint8_t keycaps = 0;
const uint8_t *keyscantable = nullptr;
int32_t rawkeytracking = 0;
int32_t keyabort = 1;
int32_t breakscancode = 69;
int32_t lastscancode = 0;

/* A translated scan code may be 128 or above; the table has no byte for it. The bytes
 * are read and written whole: the window thread writes them while readers look. */
int32_t keydown(int32_t scan) {
    if (scan < 0 || scan >= (int32_t)sizeof keydowntable) {
        return 0;
    }
    return std::atomic_ref<uint8_t>(keydowntable[scan]).load(std::memory_order_relaxed);
}

void startkeys(void) {
    makewinmessagelock();
    std::atomic_ref<int32_t>(rawkeytracking).store(1);
    for (uint8_t &down : keydowntable) {
        std::atomic_ref<uint8_t>(down).store(0, std::memory_order_relaxed);
    }
}

/* The window thread reads the switch as it translates each message. */
void stopkeys(void) {
    std::atomic_ref<int32_t>(rawkeytracking).store(0);
}

namespace {

/* The lock keys: virtual key, scan code, whether the key is an extended one. */
struct lockkey {
    BYTE vk;
    BYTE scan;
    DWORD extended;
};
constexpr lockkey lockkeys[3] = {
    {VK_CAPITAL, 0x3A, 0},                     /* 0 Caps Lock */
    {VK_NUMLOCK, 0x45, KEYEVENTF_EXTENDEDKEY}, /* 1 Num Lock */
    {VK_SCROLL, 0x46, 0},                      /* 2 Scroll Lock */
};

} // namespace

void setlockkey(int32_t which, int32_t state) {
    if (which < 0 || which > 2) {
        return;
    }
    const lockkey &key = lockkeys[which];
    if ((GetKeyState(key.vk) & 1) == (state & 1)) {
        return;
    }
    keybd_event(key.vk, key.scan, key.extended, 0);
    keybd_event(key.vk, key.scan, key.extended | KEYEVENTF_KEYUP, 0);
}

void numlockon(void) {
    setlockkey(1, 1);
}

void numlockoff(void) {
    setlockkey(1, 0);
}
