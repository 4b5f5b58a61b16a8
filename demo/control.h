/*
 * demo/control.h - the demo children's side of the launcher's control files, and the
 * little terminal helpers the two children share.
 *
 * The front end and the game talk to thistlerun only through files in the installation
 * directory (their current directory): one-value files holding a signed 32-bit
 * little-endian integer ("quit.dat", "ft.dat", "options\mp.dat" ...) and the 13-line text
 * file "options\options.txt". Names are written the Windows way; plat/stdio.h maps them.
 *
 * Single-threaded programs; no locks. A missing or short file always means "use the
 * default", never an error.
 */
#ifndef DEMO_CONTROL_H
#define DEMO_CONTROL_H

#include <cstdint>

/* Control and option files, named as the launcher names them. */
#define DEMO_QUITFILE "quit.dat"
#define DEMO_FIRSTRUNFILE "ft.dat"
#define DEMO_OPTIONSFILE "options\\options.txt"
#define DEMO_MPFILE "options\\mp.dat"
#define DEMO_MENUFILE "options\\menu.dat"
#define DEMO_SFXFILE "options\\sfx.dat"

/* The token the launcher passes as the front end's first argument. */
#define DEMO_TOKEN "QTX_BRAMBLE"

/* Lines of "options\options.txt" that the demo gives a meaning to. */
enum {
    OPTLINE_DIFFICULTY = 2, /* 1..3: how wide the game's number range is */
    OPTLINE_SFX = 10,       /* sound effects 0..255; 0 = off */
    OPTLINE_SLOWTEST = 13,  /* non-zero widens the launcher's slow-machine test */
    OPTLINE_COUNT = 13
};

/* What the sound-effects setting becomes when switched on without an earlier value. */
#define DEMO_SFXDEFAULT 200

/*
 * The children's copy of "options\options.txt": line 1 kept as text with its line feed,
 * lines 2..13 as integers in line[2]..line[13] (line[0] and line[1] are unused, so that
 * an index is a line number).
 */
struct DemoOptions {
    char text[256];
    int32_t line[OPTLINE_COUNT + 1];
};

/* Reads one 32-bit little-endian value from the file `name`. Returns 1 and sets *value
 * when 4 bytes were read; 0 (with *value untouched) when the file is missing or short. */
int readvalue(const char *name, int32_t *value);

/* Writes `value` as 4 little-endian bytes into `name`, replacing the file.
 * Returns 1 on success, 0 when the file cannot be created or written. */
int writevalue(const char *name, int32_t value);

/* Fills `opts` with the sample settings that the demo installation ships. */
void defaultoptions(DemoOptions *opts);

/* Reads "options\options.txt" over `opts`; lines that are missing or hold no number
 * keep what `opts` had. Returns 1 when the file was read, 0 when it is missing. */
int loadoptions(DemoOptions *opts);

/* Writes `opts` into "options\options.txt" in the launcher's own layout: line 1 as text,
 * then each number followed by four spaces. Returns 1 on success, 0 otherwise. */
int saveoptions(const DemoOptions *opts);

/* 1 when the children should ask the user, 0 when they decide alone: standard input
 * being a terminal decides, unless THISTLE_DEMO_INTERACTIVE is 1 (ask, e.g. for scripted
 * keys) or 0 (never ask). */
int isinteractive();

/* Prints `prompt`, reads a line from standard input and returns the number on it when it
 * lies in lo..hi; asks again otherwise. Returns -1 at the end of input. */
int askchoice(const char *prompt, int lo, int hi);

#endif /* DEMO_CONTROL_H */
