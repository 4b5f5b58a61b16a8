/*
 * demo/frontend.cpp - "frontend.run", the demo's menus, as a terminal program.
 *
 * thistlerun starts it as "frontend.run QTX_BRAMBLE <launcher pid>" in the installation
 * directory. It greets the player ("ft.dat" is 1 only on its first run in a launcher
 * process), shows the settings from "options\options.txt" and "options\mp.dat", and ends
 * in one of two ways:
 *   start game: saves the settings, writes "quit.dat" = 1, exits 0;
 *   quit:       writes "quit.dat" = 0, exits 0 (the launcher then ends the run).
 * Without a terminal it decides alone: start the game on the first run, quit after that.
 * Exit code 1 only when it was not started by the launcher.
 */
#include "control.h"

#include <cstring>
#include <plat/stdio.h>

namespace {

struct FrontEnd {
    DemoOptions opts;
    int32_t multiplayer; /* "options\mp.dat": 0 off, 1 on */
    int32_t sfxon;       /* the value sound effects return to when switched back on */
    int changed;         /* settings differ from the files */
};

void showsettings(const FrontEnd *fe) {
    int32_t sfx = fe->opts.line[OPTLINE_SFX];
    printf("[frontend] settings: sound effects %s (%d), multiplayer %s, difficulty %d\n",
           sfx > 0 ? "on" : "off", (int)sfx, fe->multiplayer ? "on" : "off",
           (int)fe->opts.line[OPTLINE_DIFFICULTY]);
}

/* The options menu; returns when the player goes back (or input ends). */
void optionsmenu(FrontEnd *fe) {
    for (;;) {
        showsettings(fe);
        printf("  1) sound effects on/off   2) multiplayer on/off   3) difficulty   4) back\n");
        int c = askchoice("[frontend] options> ", 1, 4);
        if (c == 1) {
            int32_t *sfx = &fe->opts.line[OPTLINE_SFX];
            *sfx = *sfx > 0 ? 0 : fe->sfxon;
        } else if (c == 2) {
            fe->multiplayer = !fe->multiplayer;
        } else if (c == 3) {
            int32_t *d = &fe->opts.line[OPTLINE_DIFFICULTY];
            *d = *d >= 3 || *d < 1 ? 1 : *d + 1;
        } else {
            return;
        }
        fe->changed = 1;
    }
}

/* The main menu; returns 1 to start the game, 0 to quit. */
int mainmenu(FrontEnd *fe) {
    for (;;) {
        showsettings(fe);
        printf("  1) start game   2) options   3) quit\n");
        int c = askchoice("[frontend] menu> ", 1, 3);
        if (c == 1) {
            return 1;
        }
        if (c == 2) {
            optionsmenu(fe);
            continue;
        }
        return 0; /* quit, or end of input */
    }
}

int savesettings(const FrontEnd *fe) {
    int ok = saveoptions(&fe->opts);
    ok = writevalue(DEMO_MPFILE, fe->multiplayer) && ok;
    if (!ok) {
        printf("[frontend] could not save the settings into options/\n");
    }
    return ok;
}

} // namespace

int main(int argc, char **argv) {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    if (argc < 2 || strcmp(argv[1], DEMO_TOKEN) != 0) {
        printf("[frontend] frontend.run must be started by thistlerun\n");
        return 1;
    }
    const char *launcherpid = argc > 2 ? argv[2] : "?";

    FrontEnd fe{};
    defaultoptions(&fe.opts);
    if (!loadoptions(&fe.opts)) {
        printf("[frontend] no options/options.txt: using the built-in settings\n");
    }
    readvalue(DEMO_MPFILE, &fe.multiplayer);
    fe.multiplayer = fe.multiplayer != 0;
    fe.sfxon = fe.opts.line[OPTLINE_SFX] > 0 ? fe.opts.line[OPTLINE_SFX] : DEMO_SFXDEFAULT;

    int32_t firstrun = 0, menu = 0, sfx = 0;
    readvalue(DEMO_FIRSTRUNFILE, &firstrun);
    printf("[frontend] Brambleshot Demo front end, started by launcher %s\n", launcherpid);
    if (firstrun == 1) {
        printf("[frontend] welcome! (ft.dat = 1: first front end of this launcher run)\n");
    } else {
        printf("[frontend] welcome back from the game (ft.dat = %d)\n", (int)firstrun);
    }
    if (readvalue(DEMO_MENUFILE, &menu) && menu == 2) {
        printf("[frontend] the previous launcher run ended normally (options/menu.dat = 2)\n");
    }
    if (readvalue(DEMO_SFXFILE, &sfx)) {
        printf("[frontend] the launcher measured this machine: sound effects %d "
               "(options/sfx.dat)\n",
               (int)sfx);
    }

    int start;
    if (isinteractive()) {
        start = mainmenu(&fe);
    } else {
        showsettings(&fe);
        start = firstrun == 1;
        printf("[frontend] no terminal: %s\n",
               start ? "starting the game (first run)" : "quitting (not the first run)");
    }

    if (start) {
        savesettings(&fe);
        writevalue(DEMO_QUITFILE, 1);
        printf("[frontend] start game: saved the settings, quit.dat = 1\n");
    } else {
        if (fe.changed) {
            savesettings(&fe);
        }
        writevalue(DEMO_QUITFILE, 0);
        printf("[frontend] quit: quit.dat = 0\n");
    }
    return 0;
}
