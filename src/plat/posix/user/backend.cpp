/*
 * backend.cpp - chooses the window-system backend of the POSIX window side.
 *
 * Threads: the choice is made once, by whichever thread first needs a backend; later
 * calls only read it. The layer calls the backend through a copy of its table whose
 * operations TerminateThread does not cut short: a backend keeps its own locks and waits,
 * which an ended thread must not leave behind. A thread in a message box is thus ended
 * only once the box is answered.
 * Limits: backends are chosen once per process; there is no switching afterwards.
 */
#include "user.h"

#include "backend.h"

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <string>
#include <strings.h>

namespace {

/* Every backend this build has, in the order of preference when nothing is asked. */
const plat_backend *const backends[] = {
    &plat_sdlbackend,
    &plat_nullbackend,
};

std::atomic<const plat_backend *> chosen{nullptr};
std::once_flag chooseonce;
plat_backend guarded; /* written once, before chosen is set */

/* quiet<&plat_backend::op>::call: the chosen backend's op, with the terminate signal
 * held off. */
template <auto op>
struct quiet;
template <class R, class... A, R (*plat_backend::*op)(A...)>
struct quiet<op> {
    static R call(A... a) {
        kernnoterm hold;
        return (chosen.load()->*op)(a...);
    }
};

void guard(const plat_backend *be) {
    guarded = *be;
    guarded.shutdown = quiet<&plat_backend::shutdown>::call;
    guarded.createwindow = quiet<&plat_backend::createwindow>::call;
    guarded.showwindow = quiet<&plat_backend::showwindow>::call;
    guarded.movewindow = quiet<&plat_backend::movewindow>::call;
    guarded.raisewindow = quiet<&plat_backend::raisewindow>::call;
    guarded.destroywindow = quiet<&plat_backend::destroywindow>::call;
    guarded.fillwindow = quiet<&plat_backend::fillwindow>::call;
    guarded.pumpevents = quiet<&plat_backend::pumpevents>::call;
    guarded.wake = quiet<&plat_backend::wake>::call;
    guarded.threadexit = quiet<&plat_backend::threadexit>::call;
    guarded.messagebox = quiet<&plat_backend::messagebox>::call;
    guarded.screensize = quiet<&plat_backend::screensize>::call;
    guarded.showcursor = quiet<&plat_backend::showcursor>::call;
    guarded.present = quiet<&plat_backend::present>::call;
}

bool isset(const char *name) {
    const char *v = getenv(name);
    return v && *v;
}

void choose() {
    const plat_backend *be = nullptr;
    const char *want = getenv("THISTLE_VIDEO");
    if (want && *want) {
        for (const plat_backend *b : backends)
            if (strcasecmp(b->name, want) == 0)
                be = b;
    }
    /* An unknown name is treated like no name, so a typo still gives a window, but it
     * is said once on standard error: a typo must not pass for the choice. */
    if (!be) {
        be = isset("DISPLAY") || isset("WAYLAND_DISPLAY") ? &plat_sdlbackend : &plat_nullbackend;
        if (want && *want) {
            std::string line = std::string("thistle: unknown THISTLE_VIDEO '") + want + "' (known:";
            for (const plat_backend *b : backends)
                line += std::string(" ") + b->name;
            line += std::string("), using ") + be->name + "\n";
            plat_writeall(2, line.data(), line.size());
        }
    }
    kernnoterm hold;
    if (!be->init()) {
        be = &plat_nullbackend;
        be->init();
    }
    guard(be);
    chosen.store(be);
}

} // namespace

const plat_backend *platuser::chosenbackend() {
    return chosen.load() ? &guarded : nullptr;
}

const plat_backend *plat_userbackend(void) {
    std::call_once(chooseonce, choose);
    return &guarded;
}
