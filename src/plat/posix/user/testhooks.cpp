/*
 * testhooks.cpp - the backend calls of plat/testhooks.h that the backends do not
 * provide themselves (the headless records live in src/plat/null/, the request channel
 * in posix/mutex.cpp).
 */
#include "backend.h"

const char *plat_backendname(void) {
    return plat_userbackend()->name;
}

void plat_backendshutdown(void) {
    plat_userbackend()->shutdown();
}
