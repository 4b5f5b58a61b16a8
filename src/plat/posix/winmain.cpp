/*
 * winmain.cpp - the process entry of a program written against WinMain.
 *
 * Builds the command-line text from argv[1..] joined by single spaces (the program
 * name is not part of it, as with WinMain) and calls WinMain with the executable's
 * module handle and SW_SHOWDEFAULT. Its result goes through ExitProcess, so a parent
 * on this layer sees all 32 bits of it, as it would on Windows.
 */
#include "plat/win32.h"

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
    ExitProcess((UINT)code);
}
