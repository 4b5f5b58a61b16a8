/*
 * mono_test.cpp - the text debug screen: cells, control bytes, the attribute escape,
 * tabs, scrolling below the top row, pages and the level switch.
 *
 * The cursor is not reported by the library; tests find it by writing a marker and
 * looking where it landed.
 */
#include "thistle/mono.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace {

class Mono : public ::testing::Test {
  protected:
    void SetUp() override {
        monolevel = 2;
        monosetpage(0);
        monosettop(0);
        monosettab(8);
        monosetattr(7);
        monoputs("\f"); /* clear, cursor to row 0 */
        screen = monoscreen(0);
        ASSERT_NE(screen, nullptr);
    }
    void TearDown() override {
        monolevel = 2;
        monosetpage(0);
        monosettop(0);
    }
    uint8_t ch(int row, int column) const {
        return screen[(row * 80 + column) * 2];
    }
    /* Character and attribute bytes of count cells. */
    std::string cells(int row, int column, int count) const {
        return std::string((const char *)screen + (row * 80 + column) * 2, (size_t)count * 2);
    }
    std::string text(int row, int column, int count) const {
        std::string s;
        for (int i = 0; i < count; i++) {
            s += (char)ch(row, column + i);
        }
        return s;
    }
    /* Writes a marker and returns the byte offset of the cell it went to. */
    int cursor() {
        monoputs("\x7f");
        for (int i = 0; i < MONO_PAGEBYTES; i += 2) {
            if (screen[i] == 0x7f) {
                screen[i] = 0;
                screen[i + 1] = 0;
                monoputs("\b");
                return i;
            }
        }
        return -1;
    }
    /* Fills every row with its own letter, row r gets 'A' + r. */
    void fillrows() {
        for (int r = 0; r < 25; r++) {
            for (int c = 0; c < 80; c++) {
                screen[(r * 80 + c) * 2] = (uint8_t)('A' + r);
                screen[(r * 80 + c) * 2 + 1] = 7;
            }
        }
    }
    uint8_t *screen = nullptr;
};

TEST_F(Mono, CellsHoldCharacterThenAttribute) {
    monoputs("Hi");
    EXPECT_EQ(cursor(), 4);
    monosetattr(0x70);
    monoputs("!");
    /* The attribute escape: the byte after 14 is the attribute of what follows, not shown. */
    monoputs("\x0e\x0f"
             "A");
    monoputs("B");
    EXPECT_EQ(cells(0, 0, 6), std::string("H\x07i\x07!\x70"
                                          "A\x0f"
                                          "B\x0f\0\0",
                                          12));
}

TEST_F(Mono, ControlBytes) {
    /* Backspace moves back one cell, never before the first. */
    monoputs("ab\bX");
    EXPECT_EQ(text(0, 0, 2), "aX");
    monoputs("\b\b\b\b\bZ");
    EXPECT_EQ(ch(0, 0), 'Z');

    /* Line feed: start of the next row. 11: start of the top row. */
    monoputs("\nline");
    EXPECT_EQ(text(1, 0, 4), "line");
    monosettop(5);
    monoputs("\x0bT");
    EXPECT_EQ(ch(5, 0), 'T');

    /* Other control bytes are ignored. */
    monoputs("\x01\x07\x0d\x1b\x1f"
             "C");
    EXPECT_EQ(text(5, 0, 2), "TC");

    /* Form feed clears the whole page and homes to the top row. */
    monoputs("\fF");
    EXPECT_EQ(ch(0, 0) | ch(1, 0), 0);
    EXPECT_EQ(text(5, 0, 2), std::string("F\0", 2));
}

TEST_F(Mono, Tabs) {
    monoputs("ab\tX");
    EXPECT_EQ(ch(0, 8), 'X');
    monoputs("\tY"); /* from column 9 */
    EXPECT_EQ(ch(0, 16), 'Y');

    /* At column 79 with width 8 the tab lands at the start of the next row. */
    monoprintfat(79, 3, "\t");
    EXPECT_EQ(cursor(), 4 * 160);

    monosettab(3);
    monoprintfat(4, 6, "\tQ");
    EXPECT_EQ(ch(6, 6), 'Q');

    /* On the last row a tab may point past the screen: a backspace moves back from
     * there, and the next character scrolls first (column 75, width 12: offset 4008). */
    fillrows();
    monosettab(12);
    monoprintfat(75, 24, "\t\bX");
    EXPECT_EQ(ch(23, 0), 'A' + 24);
    EXPECT_EQ(ch(24, 0), 'X');
    EXPECT_EQ(ch(24, 79), 0);

    /* Width 0 is refused (3 stays); width 1 leaves the cursor where it is. */
    monosettab(3);
    monosettab(0);
    monoprintfat(0, 8, "\tV");
    EXPECT_EQ(ch(8, 3), 'V');
    monosettab(1);
    monoprintfat(10, 7, "\tW");
    EXPECT_EQ(ch(7, 10), 'W');
}

TEST_F(Mono, ScrollingKeepsTheRowsAboveTheTop) {
    fillrows();
    monosettop(10);
    /* A line feed on row 24 scrolls once and leaves the cursor at row 24's start. */
    monoprintfat(5, 24, "\n");
    EXPECT_EQ(cursor(), 3840);
    for (int r = 0; r < 10; r++) {
        EXPECT_EQ(ch(r, 0), 'A' + r) << "row " << r << " is above the top and stays";
    }
    for (int r = 10; r < 24; r++) {
        EXPECT_EQ(ch(r, 79), 'A' + r + 1) << "row " << r << " takes the row below";
    }
    for (int c = 0; c < 80; c++) {
        EXPECT_EQ(ch(24, c), 0) << "the last row is cleared";
    }

    /* Writing past the last cell scrolls before the character is stored; top rows out
     * of range are refused (10 stays). */
    fillrows();
    monosettop(25);
    monosettop(-1);
    monoprintfat(78, 24, "xyz");
    EXPECT_EQ(text(23, 78, 2), "xy");
    EXPECT_EQ(ch(24, 0), 'z');
    EXPECT_EQ(ch(24, 1), 0);
    EXPECT_EQ(ch(9, 0), 'A' + 9);
    EXPECT_EQ(ch(10, 0), 'A' + 11);

    /* With top row 24 only the last row scrolls. */
    fillrows();
    monosettop(24);
    monoprintfat(0, 24, "\n");
    EXPECT_EQ(ch(23, 0), 'A' + 23);
    EXPECT_EQ(ch(24, 0), 0);
    EXPECT_EQ(cursor(), 3840);
}

TEST_F(Mono, PrintfAtMovesOnlyToCellsOnScreen) {
    monoprintfat(3, 2, "%d-%s", 42, "ok");
    EXPECT_EQ(text(2, 3, 5), "42-ok");
    for (auto [column, row] : {std::pair{80, 0}, {-1, 0}, {0, 25}, {0, -1}}) {
        monoprintfat(column, row, "+");
    }
    EXPECT_EQ(text(2, 8, 4), "++++") << "an invalid position leaves the cursor";

    /* Longer text than the 256-byte buffer is cut. */
    monoputs("\f");
    std::string big(300, 'k');
    monoprintf("%s", big.c_str());
    EXPECT_EQ(ch(3, 14), 'k');
    EXPECT_EQ(ch(3, 15), 0);
    EXPECT_EQ(cursor(), 255 * 2);
}

TEST_F(Mono, LevelBelowTwoSilencesOutputOnly) {
    monoputs("keep");
    monolevel = 1;
    monoputs("\fX");
    monoprintf("Y");
    monoprintfat(0, 0, "Z");
    monoclear();
    EXPECT_EQ(text(0, 0, 4), "keep");
    monosettop(3); /* setters work at any level */
    monosetattr(0x1e);
    monolevel = 2;
    monoputs("\x0bQ");
    EXPECT_EQ(cells(3, 0, 1), "Q\x1e");

    monoclear();
    EXPECT_EQ(std::count(screen, screen + MONO_PAGEBYTES, 0), MONO_PAGEBYTES);
}

TEST_F(Mono, PagesAreSeparateRegions) {
    EXPECT_EQ(monoscreen(-1), nullptr);
    EXPECT_EQ(monoscreen(MONO_PAGES), nullptr);
    uint8_t *page1 = monoscreen(1);
    ASSERT_NE(page1, nullptr);
    memset(page1, 0, MONO_PAGEBYTES);

    monosetpage(1);
    monoprintfat(0, 0, "P1");
    EXPECT_EQ(page1[0], 'P');
    EXPECT_EQ(ch(0, 0), 0) << "page 0 untouched";

    /* The full 4000 bytes read back, last cell included. */
    monoprintfat(79, 24, "E");
    EXPECT_EQ(std::string((char *)page1 + 3998, 2), "E\x07");

    /* A page that names no region: output has no effect anywhere. */
    monosetpage(-3);
    monoputs("\fgone");
    EXPECT_EQ(page1[0], 'P');
    monosetpage(0);

    uint8_t column = 9, row = 9;
    monogetcursor(&column, &row);
    EXPECT_EQ(column, 0);
    EXPECT_EQ(row, 0);
}

TEST_F(Mono, ConcurrentWritersKeepWholeTexts) {
    /* Each text is written under the lock: the screen ends up with whole lines. */
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; t++) {
        writers.emplace_back([t] {
            char line[] = "thread ?: 0123456789\n";
            line[7] = (char)('0' + t);
            for (int i = 0; i < 200; i++) {
                monoputs(line);
            }
        });
    }
    for (std::thread &w : writers) {
        w.join();
    }
    for (int r = 0; r < 24; r++) {
        std::string s = text(r, 0, 20);
        EXPECT_EQ(s.substr(0, 7), "thread ") << "row " << r;
        EXPECT_EQ(s.substr(8), ": 0123456789") << "row " << r;
    }
}

} // namespace
