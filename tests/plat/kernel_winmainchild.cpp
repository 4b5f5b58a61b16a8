/*
 * kernel_winmainchild.cpp - a child program entered through the layer's main() and
 * WinMain, for the exit-path tests.
 *   atexit FILE N   register a handler that creates FILE, print a line without a
 *                   newline to FILE.out (left in the stdio buffer), return N
 */
#include "plat/win32.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string atexitfile;

void onexit() {
    FILE *f = ::fopen(atexitfile.c_str(), "w");
    if (f != nullptr) {
        fclose(f);
    }
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR lpCmdLine, int) {
    char mode[64] = "";
    char file[1024] = "";
    unsigned long code = 0;
    if (sscanf(lpCmdLine, "%63s %1023s %li", mode, file, (long *)&code) != 3 ||
        strcmp(mode, "atexit") != 0) {
        return 99;
    }
    atexitfile = file;
    atexit(onexit);
    static FILE *out = ::fopen((atexitfile + ".out").c_str(), "w");
    if (out != nullptr) {
        fputs("buffered", out);
    }
    return (int)code;
}
