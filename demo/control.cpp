/*
 * demo/control.cpp - control-file reading and writing for the demo children, and their
 * prompt helper.
 *
 * Single-threaded; no locks. Values are assembled byte by byte so that the files are
 * little-endian whatever the host. The first line of "options\options.txt" is kept to
 * 254 characters plus its line feed; a longer one is cut there.
 */
#include "control.h"

#include <cstdlib>
#include <cstring>
#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif
#include <plat/stdio.h>

/* A line of the options file is read with room for 1023 characters, as the launcher does. */
#define LINEMAX 1024

int readvalue(const char *name, int32_t *value) {
    FILE *f = fopen(name, "rb");
    if (!f) {
        return 0;
    }
    unsigned char b[4];
    size_t got = fread(b, 1, sizeof b, f);
    fclose(f);
    if (got != sizeof b) {
        return 0;
    }
    *value = (int32_t)((uint32_t)b[0] | (uint32_t)b[1] << 8 | (uint32_t)b[2] << 16 |
                       (uint32_t)b[3] << 24);
    return 1;
}

int writevalue(const char *name, int32_t value) {
    FILE *f = fopen(name, "wb");
    if (!f) {
        return 0;
    }
    uint32_t v = (uint32_t)value;
    const unsigned char b[4] = {(unsigned char)v, (unsigned char)(v >> 8), (unsigned char)(v >> 16),
                                (unsigned char)(v >> 24)};
    size_t put = fwrite(b, 1, sizeof b, f);
    int closed = fclose(f) == 0;
    return put == sizeof b && closed;
}

void defaultoptions(DemoOptions *opts) {
    /* The same values as the sample "options/options.txt" of the demo installation. */
    static const int32_t sample[OPTLINE_COUNT + 1] = {
        0,   /* no line 0 */
        0,   /* line 1 is text */
        1,   /* line 2: difficulty */
        640, /* line 3: screen width */
        480, /* line 4: screen height */
        16,  /* line 5: colour depth */
        180, /* line 6: music volume */
        2,   /* line 7: detail level */
        5,   /* line 8: mouse speed */
        0,   /* line 9: language */
        200, /* line 10: sound effects */
        1,   /* line 11: subtitles */
        0,   /* line 12: control scheme */
        0,   /* line 13: slow-machine test off */
    };
    snprintf(opts->text, sizeof opts->text, "Brambleshot Demo settings\n");
    memcpy(opts->line, sample, sizeof opts->line);
}

/* Copies the first line into `text`, cut to fit, always ending in a line feed. */
static void keeptext(char *text, size_t size, const char *line) {
    size_t n = strcspn(line, "\r\n");
    if (n > size - 2) {
        n = size - 2;
    }
    memcpy(text, line, n);
    text[n] = '\n';
    text[n + 1] = '\0';
}

int loadoptions(DemoOptions *opts) {
    FILE *f = fopen(DEMO_OPTIONSFILE, "rt");
    if (!f) {
        return 0;
    }
    char line[LINEMAX];
    if (fgets(line, sizeof line, f)) {
        keeptext(opts->text, sizeof opts->text, line);
        for (int i = 2; i <= OPTLINE_COUNT && fgets(line, sizeof line, f); i++) {
            int v;
            if (sscanf(line, "%d", &v) == 1) {
                opts->line[i] = v;
            }
        }
    }
    fclose(f);
    return 1;
}

int saveoptions(const DemoOptions *opts) {
    FILE *f = fopen(DEMO_OPTIONSFILE, "w+t");
    if (!f) {
        return 0;
    }
    int ok = fprintf(f, "%s", opts->text) >= 0;
    for (int i = 2; i <= OPTLINE_COUNT; i++) {
        ok = ok && fprintf(f, "%d    \n", (int)opts->line[i]) >= 0;
    }
    return fclose(f) == 0 && ok;
}

int isinteractive() {
    const char *force = getenv("THISTLE_DEMO_INTERACTIVE");
    if (force && (strcmp(force, "0") == 0 || strcmp(force, "1") == 0)) {
        return force[0] == '1';
    }
    return isatty(fileno(stdin)) ? 1 : 0;
}

int askchoice(const char *prompt, int lo, int hi) {
    char line[LINEMAX];
    for (;;) {
        printf("%s", prompt);
        fflush(stdout);
        if (!fgets(line, sizeof line, stdin)) {
            printf("\n");
            return -1;
        }
        char *end;
        long v = strtol(line, &end, 10);
        if (end != line && v >= lo && v <= hi) {
            return (int)v;
        }
        printf("  please enter a number from %d to %d\n", lo, hi);
    }
}
