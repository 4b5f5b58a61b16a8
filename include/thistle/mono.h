/*
 * thistle/mono.h - the text debug screen: 80 x 25 character cells, two bytes a cell
 * (character, then attribute), 4000 bytes a page.
 *
 * Output, clear and top-row changes take the screen lock (created on first use);
 * the attribute, tab width and page setters are plain stores.
 */
#ifndef THISTLE_MONO_H
#define THISTLE_MONO_H

#include <cstdint>

/* Output happens only while it is 2 (the start value) or more. */
extern int32_t monolevel;

/* Bytes of one page; pages addressable through monoscreen. */
#define MONO_PAGEBYTES 4000
#define MONO_PAGES 8

/* Formats into 256 bytes (longer text is cut) and writes it with monoputs. */
void monoprintf(const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
/* As monoprintf, after moving the cursor to (column, row) when both are on screen. */
void monoprintfat(int32_t column, int32_t row, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;
/* Writes text at the cursor: characters of 32 and above, and the control bytes 8
 * (back), 9 (tab), 10 (line feed), 11 (top), 12 (clear), 14 (next byte is the
 * attribute); scrolls the rows below the top row. */
void monoputs(const char *text);
/* Zeroes the current page. */
void monoclear(void);
/* Sets the first row of the scrolling region (0 to 24; other values are ignored). */
void monosettop(int32_t row);
/* Sets the attribute byte stored with each following character. */
void monosetattr(int32_t attribute);
/* Sets the tab width in columns (1 or more; other values are ignored). */
void monosettab(int32_t width);
/* Selects page n: the base address becomes 0xB0000 + n * 0x8000. */
void monosetpage(int32_t page);
/* Stores 0 in both outputs (the cursor position is not reported). */
void monogetcursor(uint8_t *column, uint8_t *row);

/* The 4000 bytes of page n (0 to MONO_PAGES - 1), zero until written; null for other
 * pages. The program may read and write them; they stay for the life of the process. */
uint8_t *monoscreen(int32_t page);

#endif /* THISTLE_MONO_H */
