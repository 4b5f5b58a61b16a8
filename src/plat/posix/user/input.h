/*
 * input.h - the keyboard and mouse side of the POSIX window layer (input.cpp), as the
 * other modules of the window side use it.
 *
 * Backends deliver raw events through the sink of plat/backend.h; input.cpp turns them
 * into messages, keeps the key state, runs the keyboard hooks and owns the character
 * rule and the focus window. message.cpp calls in here when a thread retrieves or
 * translates a message.
 */
#ifndef PLAT_POSIX_USER_INPUT_H
#define PLAT_POSIX_USER_INPUT_H

#include "plat/win32.h"

namespace platuser {

/* What a queued message carries besides the message itself: whether the keyboard made it
 * (keyboard hooks see only those) and the keyboard as it was at that moment, which is
 * what the character of a key-down depends on. Program posts carry 0. */
enum : unsigned {
    inp_keyboard = 0x01, /* from the keyboard: the sink or keybd_event */
    inp_shift = 0x02,
    inp_ctrl = 0x04,
    inp_alt = 0x08,
    inp_caps = 0x10,    /* Caps Lock toggled on */
    inp_release = 0x20, /* WM_ACTIVATE of a focus loss: the thread's keys are released */
    inp_pointer = 0x40, /* from the mouse: the window is asked for its cursor first */
};

/* Posts an input message to the thread that owns hwnd (message.cpp); false for a stale
 * window, a full queue or an ended thread. No window-side lock held. */
bool postinput(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam, unsigned input);

/* Runs the keyboard hooks that apply to the calling thread for a key message it is about
 * to return (code HC_ACTION, wParam the virtual key, lParam the keystroke flags); true
 * when the chain's result discards the message. No window-side lock held. */
bool runkeyhooks(const MSG &msg);

/* The calling thread has retrieved msg: its own key state follows the key and mouse
 * button messages it takes, and a focus loss (inp_release) releases its keys. */
void noteretrieved(const MSG &msg, unsigned input);

/* The character a key-down of vk produces with the modifiers in mods (inp_shift,
 * inp_ctrl, inp_alt, inp_caps); 0 when it produces none. */
int keychar(UINT vk, unsigned mods);

/* The modifier bits (as keychar takes them) of the calling thread's key state, for key
 * messages that did not come from the keyboard. */
unsigned threadmods();

/* Whether vk is down in the calling thread's key state. */
bool threadkeydown(UINT vk);

/* Makes hwnd (null: none) the window with the keyboard focus, the active window of the
 * process, and returns the one that had it. The windows concerned get WM_ACTIVATE (and
 * WM_ACTIVATEAPP when the process as a whole gains or loses the focus), sent, as
 * SetActiveWindow does. Stale handles count as none. Call without userlock. */
HWND setfocuswindow(HWND hwnd);

/* The window with the keyboard focus, or null (none, or it was destroyed). Call without
 * userlock. */
HWND focuswindow();

/* The virtual key of a set-1 scan code (ext: the E0 prefix) with Num Lock on or off;
 * left and right modifiers give VK_LSHIFT, VK_RCONTROL...; 0 for keys without one. */
UINT scantovk(int scan, bool ext, bool numlock);

/* The set-1 scan code of a virtual key and whether it is an extended key; 0 when the
 * US keyboard has no key for it. */
int vktoscan(UINT vk, bool *ext);

} // namespace platuser

#endif /* PLAT_POSIX_USER_INPUT_H */
