/*
 * smoke.cpp - a program built against the installed library: it starts through WinMain,
 * sets up a memory class, packs a buffer and unpacks it again, and checks the platform's
 * named mutex. Prints "smoke: ok" and ends with 0, or names what failed and ends with 1.
 * It includes every installed header, so one that is missing there or does not compile
 * fails the build.
 */
#include "plat/ddraw.h"
#include "plat/mmsystem.h"
#include "plat/resource.h"
#include "plat/stdlib.h"
#include "plat/win32.h"
#include "thistle.h"

#include <cstdio>
#include <cstring>

#include "plat/stdio.h" /* last: it renames fopen */

namespace {

int fail(const char *what) {
    fprintf(stderr, "smoke: %s\n", what);
    return 1;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    size_t bytes = size_t{4} << 20;
    void *pages = allocpages(&bytes);
    initmemclasses();
    if (!pages || !creatememclass(1, "smoke", pages, (int32_t)bytes, 16, 16, 0, 0, 0, 1, 0, 0))
        return fail("no memory class");
    defaultmemclass = 1;

    static char text[4096];
    for (size_t i = 0; i < sizeof text; i++)
        text[i] = "the front end and the game, in turn; "[i % 37];
    static unsigned char packed[8192];
    static char unpacked[sizeof text];
    int32_t n = lzpack(text, sizeof text, packed, sizeof packed, 9, PACK_SHORTHEADER);
    if (n <= 0 || n >= (int32_t)sizeof text)
        return fail("lzpack did not pack");
    if (unpacksize(packed) != (int32_t)sizeof text || unpack(packed, unpacked) <= 0 ||
        memcmp(text, unpacked, sizeof text) != 0)
        return fail("unpack did not give the text back");

    HANDLE mutex = CreateMutexA(nullptr, FALSE, "thistle-install-smoke");
    if (!mutex)
        return fail("CreateMutexA failed");
    CloseHandle(mutex);
    freepages(pages);
    printf("smoke: ok (%d bytes packed into %d)\n", (int)sizeof text, (int)n);
    return 0;
}
