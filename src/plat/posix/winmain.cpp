/*
 * winmain.cpp - the process entry of a program written against WinMain.
 *
 * Builds the command-line text from argv[1..] joined by single spaces (the program
 * name is not part of it, as with WinMain) and calls WinMain with the executable's
 * module handle and SW_SHOWDEFAULT. Its result is told to a parent on this layer in
 * full (all 32 bits, as on Windows) and then returned from main, so the normal exit
 * path runs: atexit functions, static destructors, flushing of the standard streams.
 */
#include "kernel.h"

#include <string>

int main(int argc, char **argv) {
    std::string cmdline;
    for (int i = 1; i < argc; i++) {
        if (i > 1) {
            cmdline += ' ';
        }
        cmdline += argv[i];
    }
    int code = WinMain(GetModuleHandleA(nullptr), nullptr, cmdline.data(), SW_SHOWDEFAULT);
    kernreportexit((UINT)code);
    return code;
}
