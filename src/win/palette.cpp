/*
 * palette.cpp - win\palette: the system palette, the library's default colours, and
 * handing palette changes to an 8-bit display.
 *
 * Threads: the setters run on the caller's thread and write the system palette without a
 * lock; a change reaches the display through the display record's entries and dirty
 * range, with any surface lock given up during the transfer.
 */
#include "thistle/palette.h"

#include "thistle/convrow.h"
#include "thistle/createw.h"
#include "thistle/ddraw.h"
#include "thistle/diag.h"
#include "thistle/initgrf.h"
#include "thistle/startup.h"
#include "thistle/window.h"

#include <algorithm>
#include <cstring>

uint32_t systempalette[256] = {};

int32_t palettechangecount = 0;

namespace {

constexpr const char *SITE = "win\\palette";

/* The default palette, 0xRRGGBB, eight entries a row: 16 basic colours, a grey ramp from
 * light to dark, twelve hue ramps from pale to dark (red, orange, yellow, yellow-green,
 * green, cyan, sky blue, blue, violet, magenta, light brown, flesh), and a ramp from
 * black in steps of 8 that ends in pure white. */
// clang-format off
const uint32_t defaulttable[256] = {
    /* 0x00 */ 0x000000, 0x0000A8, 0x00A800, 0x00A8A8, 0xA80000, 0xA800A8, 0xA85400, 0xA8A8A8,
    /* 0x08 */ 0x545454, 0x5454FC, 0x54FC54, 0x54FCFC, 0xFC5454, 0xFC54FC, 0xFCFC54, 0xFCFCFC,
    /* 0x10 */ 0xFCFCFC, 0xDCDCDC, 0xCCCCCC, 0xC0C0C0, 0xB0B0B0, 0xA4A4A4, 0x989898, 0x888888,
    /* 0x18 */ 0x7C7C7C, 0x707070, 0x606060, 0x545454, 0x484848, 0x383838, 0x2C2C2C, 0x202020,
    /* 0x20 */ 0xFCD8D8, 0xFCB8B8, 0xFC9C9C, 0xFC7C7C, 0xFC5C5C, 0xFC4040, 0xFC2020, 0xFC0000,
    /* 0x28 */ 0xE40000, 0xCC0000, 0xB40000, 0x9C0000, 0x840000, 0x700000, 0x580000, 0x400000,
    /* 0x30 */ 0xFCE8D8, 0xFCDCC0, 0xFCD4AC, 0xFCC894, 0xFCC080, 0xFCB868, 0xFCAC54, 0xFCA43C,
    /* 0x38 */ 0xFC9C28, 0xE08820, 0xC4781C, 0xA86414, 0x905410, 0x744008, 0x583004, 0x402000,
    /* 0x40 */ 0xFCFCD8, 0xFCFCB8, 0xFCFC9C, 0xFCFC7C, 0xFCF85C, 0xFCF440, 0xFCF420, 0xFCF400,
    /* 0x48 */ 0xE4D800, 0xCCC000, 0xB4A400, 0x9C8C00, 0x847400, 0x6C5800, 0x544000, 0x402800,
    /* 0x50 */ 0xF8FCD8, 0xF4FCB8, 0xE8FC9C, 0xE0FC7C, 0xD0FC5C, 0xC4FC40, 0xB4FC20, 0xA0FC00,
    /* 0x58 */ 0x90E400, 0x80CC00, 0x74B400, 0x609C00, 0x508400, 0x447000, 0x345800, 0x284000,
    /* 0x60 */ 0xD8FCD8, 0x9CFC9C, 0x90EC90, 0x84E084, 0x78D078, 0x70C46C, 0x64B864, 0x58A858,
    /* 0x68 */ 0x509C4C, 0x449040, 0x388034, 0x2C742C, 0x246820, 0x185814, 0x0C4C08, 0x044000,
    /* 0x70 */ 0xD8FCFC, 0xB8FCFC, 0x9CFCFC, 0x7CFCF8, 0x5CFCFC, 0x40FCFC, 0x20FCFC, 0x00FCFC,
    /* 0x78 */ 0x00E4E4, 0x00CCCC, 0x00B4B4, 0x009C9C, 0x008484, 0x007070, 0x005858, 0x004040,
    /* 0x80 */ 0xD8ECFC, 0xB8E0FC, 0x9CD4FC, 0x7CC8FC, 0x5CBCFC, 0x40B0FC, 0x009CFC, 0x008CE4,
    /* 0x88 */ 0x0080D0, 0x0074BC, 0x0064A8, 0x005890, 0x004C7C, 0x003C68, 0x003054, 0x002440,
    /* 0x90 */ 0xD8D8FC, 0xB8BCFC, 0x9C9CFC, 0x7C80FC, 0x5C60FC, 0x4040FC, 0x0004FC, 0x0000E4,
    /* 0x98 */ 0x0000D0, 0x0000BC, 0x0000A8, 0x000090, 0x00007C, 0x000068, 0x000054, 0x000040,
    /* 0xA0 */ 0xF0D8FC, 0xE4B8FC, 0xD89CFC, 0xD07CFC, 0xC85CFC, 0xBC40FC, 0xB420FC, 0xA800FC,
    /* 0xA8 */ 0x9800E4, 0x8000CC, 0x7400B4, 0x60009C, 0x500084, 0x440070, 0x340058, 0x280040,
    /* 0xB0 */ 0xFCD8FC, 0xFCB8FC, 0xFC9CFC, 0xFC7CFC, 0xFC5CFC, 0xFC40FC, 0xFC20FC, 0xE000E4,
    /* 0xB8 */ 0xCC00CC, 0xB800B8, 0xA400A4, 0x900090, 0x7C007C, 0x680068, 0x540054, 0x400040,
    /* 0xC0 */ 0xFCE8DC, 0xF0D4C4, 0xE4C4AC, 0xD8B498, 0xCCA080, 0xC0906C, 0xB48054, 0xAC7040,
    /* 0xC8 */ 0x9C6438, 0x8C5C34, 0x80542C, 0x704C28, 0x604020, 0x54381C, 0x443014, 0x382810,
    /* 0xD0 */ 0xFCD8CC, 0xF8CCB8, 0xF4C0A8, 0xF0B494, 0xECA884, 0xE89C74, 0xE49464, 0xE08C58,
    /* 0xD8 */ 0xD8804C, 0xD47840, 0xC86C34, 0xC0602C, 0xB45424, 0xA8481C, 0x9C3C14, 0x94300C,
    /* 0xE0 */ 0x000000, 0x080808, 0x101010, 0x181818, 0x202020, 0x282828, 0x303030, 0x383838,
    /* 0xE8 */ 0x404040, 0x484848, 0x505050, 0x585858, 0x606060, 0x686868, 0x707070, 0x787878,
    /* 0xF0 */ 0x808080, 0x888888, 0x909090, 0x989898, 0xA0A0A0, 0xA8A8A8, 0xB0B0B0, 0xB8B8B8,
    /* 0xF8 */ 0xC0C0C0, 0xC8C8C8, 0xD0D0D0, 0xD8D8D8, 0xE0E0E0, 0xE8E8E8, 0xF0F0F0, 0xFFFFFF,
};
// clang-format on

/* Entries outside 0..255 are left out: the range [first, first + count) is cut to the
 * palette (a caller's overlong count must not write past it). skip is how many leading
 * input elements fall before entry 0. False when nothing is left. */
bool cliprange(int32_t &first, int32_t &count, int32_t &skip) {
    skip = 0;
    if (first < 0) {
        skip = -first;
        count += first;
        first = 0;
    }
    count = std::min(count, 256 - first);
    return count > 0;
}

} // namespace

void setpalette(int32_t first, int32_t count, const uint8_t *triplets) {
    int32_t skip;
    if (!cliprange(first, count, skip)) {
        return;
    }
    rowrgbto32(triplets + 3 * skip, systempalette + first, count);
    applypalette(nullptr, first, count);
}

void setpalette32(int32_t first, int32_t count, const uint32_t *colours) {
    int32_t skip;
    if (!cliprange(first, count, skip)) {
        return;
    }
    std::memcpy(systempalette + first, colours + skip, sizeof(uint32_t) * size_t(count));
    applypalette(nullptr, first, count);
}

void vgapalette(int32_t first, int32_t count, const uint8_t *triplets) {
    int32_t skip;
    if (!cliprange(first, count, skip)) {
        return;
    }
    /* Six bits widen to eight with the top bits repeated below: 63 gives 255, 0 stays 0. */
    uint8_t wide[256 * 3];
    const uint8_t *vga = triplets + 3 * skip;
    for (int32_t i = 0; i < 3 * count; i++) {
        wide[i] = uint8_t(vga[i] << 2 | vga[i] >> 4);
    }
    rowrgbto32(wide, systempalette + first, count);
    applypalette(nullptr, first, count);
}

void getpalette(int32_t first, int32_t count, uint8_t *triplets) {
    int32_t skip;
    cliprange(first, count, skip);
    uint8_t *rgb = triplets + 3 * skip;
    for (int32_t i = 0; i < count; i++, rgb += 3) {
        const uint32_t c = systempalette[first + i];
        rgb[0] = uint8_t(c >> 16);
        rgb[1] = uint8_t(c >> 8);
        rgb[2] = uint8_t(c);
    }
}

void getpalette32(int32_t first, int32_t count, uint32_t *colours) {
    int32_t skip;
    if (cliprange(first, count, skip)) {
        std::memcpy(colours + skip, systempalette + first, sizeof(uint32_t) * size_t(count));
    }
}

void getvgapalette(void) {
    THISTLE_SITE(SITE);
    fatalerror("getvgapalette - STOP USING VGA PALETTES, THEY`VE BEEN OBSOLETE FOR 5 YEARS!\n");
}

void setdefaultpalette(void) {
    uint8_t triplets[256 * 3];
    for (int32_t i = 0; i < 256; i++) {
        triplets[3 * i] = uint8_t(defaulttable[i] >> 16);
        triplets[3 * i + 1] = uint8_t(defaulttable[i] >> 8);
        triplets[3 * i + 2] = uint8_t(defaulttable[i]);
    }
    setpalette(0, 256, triplets);
}

void applypalette(displayrecord *record, int32_t first, int32_t count) {
    if (record == nullptr) {
        record = &display;
    }
    palettechangecount++;
    if (graphicsstate != GRAPHICS_UP || record->bitcount > 8) {
        return;
    }
    int32_t skip;
    if (!cliprange(first, count, skip)) {
        return;
    }
    const int32_t last = first + count - 1;
    for (int32_t i = first; i <= last; i++) {
        record->entries[i][0] = uint8_t(systempalette[i] >> 16);
        record->entries[i][1] = uint8_t(systempalette[i] >> 8);
        record->entries[i][2] = uint8_t(systempalette[i]);
        record->entries[i][3] = 0;
    }
    record->dirtyfirst = int16_t(std::min<int32_t>(record->dirtyfirst, first));
    record->dirtylast = int16_t(std::max<int32_t>(record->dirtylast, last));

    /* The device refuses a palette while a surface is locked: give the display up for
     * the transfer and take the same windows back afterwards. */
    rasterwindow saved[2];
    const bool locked = record->lockedsurface != nullptr;
    if (locked) {
        savedisplaywindows(saved);
        releasedisplaywindow();
    }
    setwinpalette(record);
    if (record->fullscreen == 0) {
        /* A window shares the system's palette, which may have moved some colours: the
         * library sees the ones the display took. */
        for (int32_t i = first; i <= last; i++) {
            systempalette[i] = (systempalette[i] & 0xFF000000u) |
                               uint32_t(record->entries[i][0]) << 16 |
                               uint32_t(record->entries[i][1]) << 8 | record->entries[i][2];
        }
    }
    if (locked) {
        restoredisplaywindows(saved);
    }
}
