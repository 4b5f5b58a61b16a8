/*
 * demo/game.cpp - "game.run" (and, built with DEMO_GAME2, "game2.run"), the demo's game:
 * one round of a number hunt in the terminal.
 *
 * thistlerun starts it in the installation directory after the front end has written
 * "quit.dat" = 1. The game reads its settings ("options\options.txt", "options\mp.dat"),
 * plays one round, and leaves "quit.dat" = 1 to go back to the front end or 0 to end the
 * launcher's run. Without a terminal it plays by itself (halving the range each guess,
 * so it always wins) and goes back to the front end.
 *
 * game2.run is the variant the launcher picks when sound effects and multiplayer are both
 * off (a slow machine): its own title, and always the easiest range.
 *
 * The number comes from the clock in a terminal, from a fixed seed otherwise; the
 * environment variable THISTLE_DEMO_SEED fixes it for tests and repeatable demos.
 */
#include "control.h"

#include <cstdlib>
#include <ctime>
#include <plat/stdio.h>

#ifdef DEMO_GAME2
#define GAMETITLE "Brambleshot Demo: Quiet Hunt"
#define MAXDIFFICULTY 1
#else
#define GAMETITLE "Brambleshot Demo: Number Hunt"
#define MAXDIFFICULTY 3
#endif

namespace {

/* The numbers of a round run from 1 to RANGESTEP times the difficulty. */
constexpr int RANGESTEP = 20;

/* Guesses each player has: enough to always find the number by halving the range. */
int guessesfor(int range) {
    int n = 0;
    while (range > 0) {
        range >>= 1;
        n++;
    }
    return n;
}

/* Spreads a seed over 1..range (a multiplicative hash, then its upper bits). */
int secretfor(uint32_t seed, int range) {
    uint32_t h = (seed + 1) * 2654435761u;
    return 1 + (int)((h >> 8) % (uint32_t)range);
}

uint32_t roundseed(int interactive) {
    const char *fixed = getenv("THISTLE_DEMO_SEED");
    if (fixed && *fixed) {
        return (uint32_t)strtoul(fixed, nullptr, 10);
    }
    return interactive ? (uint32_t)time(nullptr) ^ (uint32_t)clock() : 7u;
}

/* Plays one round. Returns 1 when a player found the number, 0 when the guesses ran
 * out, -1 when the player gave up (end of input). */
int playround(int range, int players, int interactive, uint32_t seed, int sfx) {
    const int secret = secretfor(seed, range);
    const int guesses = guessesfor(range);
    int lo = 1, hi = range; /* what the hints so far leave open */
    printf("[game] I am thinking of a number from 1 to %d; %s %d guesses.\n", range,
           players > 1 ? "each player has" : "you have", guesses);

    for (int turn = 0; turn < guesses * players; turn++) {
        char who[24];
        if (players > 1) {
            snprintf(who, sizeof who, "player %d", 1 + turn % players);
        } else {
            snprintf(who, sizeof who, "you");
        }
        int guess;
        if (interactive) {
            char prompt[48];
            snprintf(prompt, sizeof prompt, "[game] %s, your guess> ", who);
            guess = askchoice(prompt, 1, range);
            if (guess < 0) {
                printf("[game] %s gave up; the number was %d\n", who, secret);
                return -1;
            }
        } else {
            guess = lo + (hi - lo) / 2;
        }
        if (guess == secret) {
            int used = turn / players + 1;
            printf("[game] %s: %d... found it in %d %s!%s\n", who, guess, used,
                   used == 1 ? "guess" : "guesses", sfx > 0 ? " *fanfare*" : "");
            return 1;
        }
        if (guess < secret) {
            lo = guess + 1 > lo ? guess + 1 : lo;
        } else {
            hi = guess - 1 < hi ? guess - 1 : hi;
        }
        printf("[game] %s: %d... too %s\n", who, guess, guess < secret ? "low" : "high");
    }
    printf("[game] out of guesses: the number was %d%s\n", secret, sfx > 0 ? " *womp*" : "");
    return 0;
}

} // namespace

int main() {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    DemoOptions opts;
    defaultoptions(&opts);
    loadoptions(&opts);
    int32_t multiplayer = 0;
    readvalue(DEMO_MPFILE, &multiplayer);

    int difficulty = opts.line[OPTLINE_DIFFICULTY];
    difficulty = difficulty < 1 ? 1 : difficulty > MAXDIFFICULTY ? MAXDIFFICULTY : difficulty;
    const int sfx = opts.line[OPTLINE_SFX];
    const int players = multiplayer ? 2 : 1;
    const int interactive = isinteractive();

    printf("[game] %s\n", GAMETITLE);
    printf("[game] sound effects %s (%d), %s, difficulty %d\n", sfx > 0 ? "on" : "off", sfx,
           players > 1 ? "two players" : "one player", difficulty);

    int result =
        playround(RANGESTEP * difficulty, players, interactive, roundseed(interactive), sfx);

    int again;
    if (result < 0) {
        again = 0;
    } else if (interactive) {
        printf("  1) play again via the menu   2) quit\n");
        again = askchoice("[game] next> ", 1, 2) == 1;
    } else {
        again = 1;
        printf("[game] no terminal: back to the menu\n");
    }
    writevalue(DEMO_QUITFILE, again ? 1 : 0);
    printf("[game] %s\n", again ? "back to the menu: quit.dat = 1" : "quit: quit.dat = 0");
    return 0;
}
