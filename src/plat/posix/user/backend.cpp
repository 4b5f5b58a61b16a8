/*
 * backend.cpp - chooses the window-system backend of the POSIX window side.
 *
 * Threads: the choice is made once, by whichever thread first needs a backend; later
 * calls only read it.
 * Limits: backends are chosen once per process; there is no switching afterwards.
 */
#include "user.h"

#include "backend.h"

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <strings.h>

namespace {

/* Every backend this build has, in the order of preference when nothing is asked. */
const plat_backend *const backends[] = {
    &plat_sdlbackend,
    &plat_nullbackend,
};

std::atomic<const plat_backend *> chosen{nullptr};
std::once_flag chooseonce;

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
    /* An unknown name is treated like no name, so a typo still gives a window. */
    if (!be)
        be = isset("DISPLAY") || isset("WAYLAND_DISPLAY") ? &plat_sdlbackend : &plat_nullbackend;
    if (!be->init()) {
        be = &plat_nullbackend;
        be->init();
    }
    chosen.store(be);
}

} // namespace

const plat_backend *platuser::chosenbackend() {
    return chosen.load();
}

const plat_backend *plat_userbackend(void) {
    std::call_once(chooseonce, choose);
    return chosen.load();
}
