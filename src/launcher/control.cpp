/*
 * control.cpp - the launcher's control and option files in the installation directory
 * ("options\options.txt", "options\opt.dat", "options\sfx.dat", "options\screen.dat",
 * "options\speed.txt", the first-run marker) and the first-run speed test.
 *
 * Threads: called from the launch thread only, while no child runs; no state of its own.
 * Limits: a text line is read as at most 1023 characters, the rest of a longer line
 * is passed over (the front end writes short lines); numbers in files are signed
 * 32-bit little-endian whatever the host.
 * Every routine fails quietly: a file that cannot be opened gives 0, never a message.
 */
#include <cstring>

#include "launcher.h"

#include "plat/stdio.h"

namespace {

/* Lines 2 to 13 of "options\options.txt", in file order; also the word order of
 * "options\opt.dat". */
constexpr int32_t LaunchOptions::*const optionfields[12] = {
    /*  2 */ &LaunchOptions::option2,
    /*  3 */ &LaunchOptions::option3,
    /*  4 */ &LaunchOptions::option4,
    /*  5 */ &LaunchOptions::option5,
    /*  6 */ &LaunchOptions::option6,
    /*  7 */ &LaunchOptions::option7,
    /*  8 */ &LaunchOptions::option8,
    /*  9 */ &LaunchOptions::option9,
    /* 10 */ &LaunchOptions::sfx,
    /* 11 */ &LaunchOptions::option11,
    /* 12 */ &LaunchOptions::option12,
    /* 13 */ &LaunchOptions::option13,
};

/*
 * "options\opt.dat", 56 bytes:
 *   0        4        8             32      36             44       48        56
 *   | option2| option3| ...         | sfx   | ...  | option13| 0 0 0 0 0 0 0 0 |
 */
constexpr size_t optdatsize = 56;

/* "options\screen.dat": the reduced screen record of the slowest machines. */
constexpr int32_t screenrecord[6] = {0, 16, 512, 384, 64, 48};

constexpr char optionsname[] = "options\\options.txt";
constexpr char firstrunname[] = "options//firsttimefe.txt";

void putle32(unsigned char *p, int32_t value) {
    uint32_t v = (uint32_t)value;
    p[0] = (unsigned char)v;
    p[1] = (unsigned char)(v >> 8);
    p[2] = (unsigned char)(v >> 16);
    p[3] = (unsigned char)(v >> 24);
}

int32_t getle32(const unsigned char *p) {
    return (int32_t)((uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 |
                     (uint32_t)p[3] << 24);
}

/* Reads the next line, keeping at most 1023 characters and the line feed, and passes
 * over the rest of a longer line, so that it never spills into the next one. Returns
 * 0 at the end of the file. */
int readline(FILE *file, char (&line)[1024]) {
    if (!fgets(line, sizeof line, file))
        return 0;
    size_t length = strlen(line);
    if (length + 1 < sizeof line || line[length - 1] == '\n')
        return 1;
    int c;
    while ((c = getc(file)) != EOF && c != '\n') {
    }
    if (c == '\n')
        line[length - 1] = '\n';
    return 1;
}

/* A first line longer than optionstext holds is cut to 254 characters and keeps its
 * line feed, so that a rewritten file still has its 13 lines. */
void copyfirstline(char (&text)[256], const char *line) {
    size_t length = strlen(line);
    if (length < sizeof text) {
        memcpy(text, line, length + 1);
        return;
    }
    bool lineend = line[length - 1] == '\n';
    size_t keep = lineend ? sizeof text - 2 : sizeof text - 1;
    memcpy(text, line, keep);
    if (lineend)
        text[keep++] = '\n';
    text[keep] = '\0';
}

/* Reads the next line and converts its number; 0 at end of file or without a number. */
int readnumberline(FILE *file, int *value) {
    char line[1024];
    if (!readline(file, line))
        return 0;
    return sscanf(line, "%d", value) == 1;
}

} // namespace

int readcontrolvalue(const char *name, int32_t *value) {
    FILE *file = fopen(name, "rb");
    if (!file)
        return 0;
    unsigned char bytes[4] = {0, 0, 0, 0};
    size_t got = fread(bytes, 1, sizeof bytes, file);
    (void)got; // a short file leaves its missing bytes zero
    fclose(file);
    *value = getle32(bytes);
    return 1;
}

int writecontrolvalue(const char *name, const char *mode, int32_t value) {
    FILE *file = fopen(name, mode);
    if (!file)
        return 0;
    unsigned char bytes[4];
    putle32(bytes, value);
    size_t written = fwrite(bytes, 1, sizeof bytes, file);
    fclose(file);
    return written == sizeof bytes;
}

int readoptions(LaunchOptions *options) {
    FILE *file = fopen(optionsname, "rt");
    if (!file)
        return 0;
    char line[1024];
    if (readline(file, line))
        copyfirstline(options->optionstext, line);
    // Missing lines keep their fields' earlier values, like lines without a number.
    for (int32_t LaunchOptions::*field : optionfields) {
        int value;
        if (!readline(file, line))
            break;
        if (sscanf(line, "%d", &value) == 1)
            options->*field = value;
    }
    fclose(file);
    return 1;
}

int writeoptions(const LaunchOptions *options) {
    FILE *file = fopen(optionsname, "w+t");
    if (!file)
        return 0;
    fprintf(file, "%s", options->optionstext);
    for (int32_t LaunchOptions::*field : optionfields)
        fprintf(file, "%d    \n", (int)(options->*field));
    fclose(file);

    unsigned char record[optdatsize] = {};
    for (size_t i = 0; i < 12; i++)
        putle32(record + 4 * i, options->*optionfields[i]);
    file = fopen("options\\opt.dat", "w+b");
    if (!file)
        return 0;
    size_t written = fwrite(record, sizeof record, 1, file);
    fclose(file);
    return written == 1;
}

int writescreen(void) {
    unsigned char record[sizeof screenrecord];
    for (size_t i = 0; i < 6; i++)
        putle32(record + 4 * i, screenrecord[i]);
    FILE *file = fopen("options\\screen.dat", "w+b");
    if (!file)
        return 0;
    size_t written = fwrite(record, sizeof record, 1, file);
    fclose(file);
    return written == 1;
}

int checkspeed(LaunchOptions *options) {
    FILE *file = fopen("options\\speed.txt", "rt");
    if (!file)
        return 0;
    int size = 0;
    int speed = 0;
    int slow = 0;
    // A file without both figures says nothing about the machine: not slow.
    if (readnumberline(file, &size) && readnumberline(file, &speed)) {
        int m = size / 1024;
        // Rule 2 stops at 233 where rules 1 and 4 stop at 234: a speed of exactly 233
        // between 36 and 63 counts as slow only with option13 set.
        if (m < 36 && speed < 234) {
            options->sfx = 0;
            writescreen();
            slow = 1;
        } else if (m < 64 && speed < 233) {
            slow = 1;
        } else if (m < 33 && speed < 301) {
            slow = 1;
        } else if (m < 64 && speed < 234 && options->option13 != 0) {
            slow = 1;
        }
        if (slow)
            options->sfx = 0;
    }
    fclose(file);
    return slow;
}

int writesfx(int32_t value) {
    if (value < 0 || value > 255)
        return 0;
    return writecontrolvalue("options\\sfx.dat", "wb", value);
}

int firsttimefe(void) {
    int32_t value = 0;
    if (readcontrolvalue(firstrunname, &value) && value == 1)
        return 0;
    return writecontrolvalue(firstrunname, "w+b", 1);
}
