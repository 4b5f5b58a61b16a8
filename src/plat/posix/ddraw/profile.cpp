/*
 * profile.cpp - driver profiles and injected faults of the software DirectDraw, and the
 * test control of plat/ddrawtest.h.
 *
 * A profile is a small text, one setting a line ("#" starts a comment):
 *
 *   name modern                      the profile's name
 *   description Thistle accelerator  the hardware driver's description
 *   driver {GUID} file.drv           the hardware driver's identifier and name; without
 *                                    it only the default driver exists
 *   hardware no                      no hardware driver at all: emulation only
 *   caps BLT BLTCOLORFILL 0x20000    DDCAPS_ bits by name (without prefix) or number
 *   surfacecaps FLIP BACKBUFFER      DDSCAPS_ bits the hardware supports
 *   colorkeycaps SRCBLT              DDCKEYCAPS_ bits
 *   fxcaps 0x4000                    DDFXCAPS_ bits, by number
 *   palettecaps 8BIT ALLOW256        DDPCAPS_ bits
 *   vidmem 4M                        video memory: bytes, or with K or M
 *   desktop 32                       the desktop's bit count (its size is the screen's)
 *   pitchalign 8                     surface rows start on multiples of this many bytes
 *   mode 640x480x16/565 60 75        a display mode: size, bit count, for 16 bits the
 *                                    masks 555 or 565 (default 565), refresh rates;
 *                                    "modex" marks a ModeX mode, "backbuffers=N" gives a
 *                                    back-buffer count in its description
 *   setmode 640x480 800x600          the driver sets the second size when asked the first
 *
 * The built-in profiles are texts in this format. Settings not given keep the defaults of
 * the profile record (device.h). A profile file is read whole when it is chosen.
 * Locks: everything here is guarded by ddlock.
 */
#include "device.h"
#include "plat/ddrawtest.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

using namespace platddraw;

struct flagname {
    const char *name;
    DWORD value;
};

const flagname capsnames[] = {
    {"3D", DDCAPS_3D},
    {"ALIGNBOUNDARYDEST", DDCAPS_ALIGNBOUNDARYDEST},
    {"ALIGNSIZEDEST", DDCAPS_ALIGNSIZEDEST},
    {"ALIGNBOUNDARYSRC", DDCAPS_ALIGNBOUNDARYSRC},
    {"ALIGNSIZESRC", DDCAPS_ALIGNSIZESRC},
    {"ALIGNSTRIDE", DDCAPS_ALIGNSTRIDE},
    {"BLT", DDCAPS_BLT},
    {"BLTQUEUE", DDCAPS_BLTQUEUE},
    {"BLTSTRETCH", DDCAPS_BLTSTRETCH},
    {"GDI", DDCAPS_GDI},
    {"OVERLAY", DDCAPS_OVERLAY},
    {"PALETTE", DDCAPS_PALETTE},
    {"PALETTEVSYNC", DDCAPS_PALETTEVSYNC},
    {"READSCANLINE", DDCAPS_READSCANLINE},
    {"VBI", DDCAPS_VBI},
    {"COLORKEY", DDCAPS_COLORKEY},
    {"ALPHA", DDCAPS_ALPHA},
    {"COLORKEYHWASSIST", DDCAPS_COLORKEYHWASSIST},
    {"NOHARDWARE", DDCAPS_NOHARDWARE},
    {"BLTCOLORFILL", DDCAPS_BLTCOLORFILL},
    {"BANKSWITCHED", DDCAPS_BANKSWITCHED},
    {"CANCLIP", DDCAPS_CANCLIP},
    {"CANCLIPSTRETCHED", DDCAPS_CANCLIPSTRETCHED},
    {"CANBLTSYSMEM", DDCAPS_CANBLTSYSMEM},
};

const flagname surfacecapsnames[] = {
    {"ALPHA", DDSCAPS_ALPHA},
    {"BACKBUFFER", DDSCAPS_BACKBUFFER},
    {"COMPLEX", DDSCAPS_COMPLEX},
    {"FLIP", DDSCAPS_FLIP},
    {"FRONTBUFFER", DDSCAPS_FRONTBUFFER},
    {"OFFSCREENPLAIN", DDSCAPS_OFFSCREENPLAIN},
    {"OVERLAY", DDSCAPS_OVERLAY},
    {"PALETTE", DDSCAPS_PALETTE},
    {"PRIMARYSURFACE", DDSCAPS_PRIMARYSURFACE},
    {"SYSTEMMEMORY", DDSCAPS_SYSTEMMEMORY},
    {"TEXTURE", DDSCAPS_TEXTURE},
    {"3DDEVICE", DDSCAPS_3DDEVICE},
    {"VIDEOMEMORY", DDSCAPS_VIDEOMEMORY},
    {"VISIBLE", DDSCAPS_VISIBLE},
    {"ZBUFFER", DDSCAPS_ZBUFFER},
    {"MODEX", DDSCAPS_MODEX},
};

const flagname ckeycapsnames[] = {
    {"DESTBLT", DDCKEYCAPS_DESTBLT},       {"DESTOVERLAY", DDCKEYCAPS_DESTOVERLAY},
    {"SRCBLT", DDCKEYCAPS_SRCBLT},         {"SRCBLTCLRSPACE", DDCKEYCAPS_SRCBLTCLRSPACE},
    {"SRCOVERLAY", DDCKEYCAPS_SRCOVERLAY},
};

const flagname palcapsnames[] = {
    {"4BIT", DDPCAPS_4BIT},
    {"8BIT", DDPCAPS_8BIT},
    {"PRIMARYSURFACE", DDPCAPS_PRIMARYSURFACE},
    {"ALLOW256", DDPCAPS_ALLOW256},
    {"VSYNC", DDPCAPS_VSYNC},
};

/* ---- the built-in profiles -------------------------------------------------------- */

#define MODERN_MODES                                                                               \
    "mode 320x200x8 70\n"                                                                          \
    "mode 320x240x8 60 75\n"                                                                       \
    "mode 512x384x8 60 75\n"                                                                       \
    "mode 640x400x8 70\n"                                                                          \
    "mode 640x480x8 60 72 75\n"                                                                    \
    "mode 800x600x8 60 72 75\n"                                                                    \
    "mode 1024x768x8 60 70 75\n"                                                                   \
    "mode 320x240x16/565 60 75\n"                                                                  \
    "mode 640x480x16/565 60 72 75\n"                                                               \
    "mode 800x600x16/565 60 72 75\n"                                                               \
    "mode 1024x768x16/565 60 70 75\n"                                                              \
    "mode 640x480x24 60\n"                                                                         \
    "mode 640x480x32 60 72 75\n"                                                                   \
    "mode 800x600x32 60 72 75\n"                                                                   \
    "mode 1024x768x32 60 70 75\n"

#define MODERN_CAPS                                                                                \
    "caps BLT BLTCOLORFILL BLTSTRETCH COLORKEY COLORKEYHWASSIST CANBLTSYSMEM VBI PALETTE "         \
    "GDI READSCANLINE CANCLIP CANCLIPSTRETCHED\n"                                                  \
    "colorkeycaps SRCBLT DESTBLT\n"                                                                \
    "fxcaps 0x154C0\n"                                                                             \
    "palettecaps 8BIT PRIMARYSURFACE ALLOW256\n"

const char *const builtins[][2] = {
    {"modern", "description Thistle Vanguard accelerator\n"
               "driver {6B0C5E21-3D4A-4C8E-9F12-7A5D3C2B1E01} vanguard.drv\n" MODERN_CAPS
               "surfacecaps BACKBUFFER COMPLEX FLIP FRONTBUFFER OFFSCREENPLAIN PALETTE "
               "PRIMARYSURFACE SYSTEMMEMORY VIDEOMEMORY VISIBLE\n"
               "vidmem 16M\n"
               "desktop 32\n" MODERN_MODES},
    {"8bit", "description Thistle Palette card\n"
             "caps BLT BLTCOLORFILL PALETTE GDI\n"
             "palettecaps 8BIT PRIMARYSURFACE ALLOW256\n"
             "surfacecaps BACKBUFFER COMPLEX FLIP FRONTBUFFER OFFSCREENPLAIN PALETTE "
             "PRIMARYSURFACE SYSTEMMEMORY VIDEOMEMORY VISIBLE\n"
             "vidmem 2M\n"
             "desktop 8\n"
             "mode 320x200x8 70\n"
             "mode 640x400x8 70\n"
             "mode 640x480x8 60\n"
             "mode 800x600x8 60\n"},
    {"noflip", "description Thistle Simple card\n"
               "caps BLT BLTCOLORFILL PALETTE GDI CANBLTSYSMEM\n"
               "palettecaps 8BIT PRIMARYSURFACE ALLOW256\n"
               "surfacecaps OFFSCREENPLAIN PALETTE PRIMARYSURFACE SYSTEMMEMORY VIDEOMEMORY "
               "VISIBLE\n"
               "vidmem 4M\n"
               "desktop 16\n"
               "mode 320x200x8 70\n"
               "mode 640x480x8 60\n"
               "mode 640x480x16/555 60\n"
               "mode 800x600x16/555 60\n"},
    {"bankswitched", "description Thistle Banked card\n"
                     "caps BANKSWITCHED PALETTE GDI\n"
                     "palettecaps 8BIT PRIMARYSURFACE ALLOW256\n"
                     "surfacecaps BACKBUFFER COMPLEX FLIP FRONTBUFFER PALETTE PRIMARYSURFACE "
                     "SYSTEMMEMORY VIDEOMEMORY VISIBLE\n"
                     "vidmem 1M\n"
                     "desktop 8\n"
                     "mode 320x200x8 70 modex backbuffers=1\n"
                     "mode 320x240x8 60 modex backbuffers=1\n"
                     "mode 640x480x8 60\n"},
    {"largermode", "description Thistle Wide card\n" MODERN_CAPS
                   "surfacecaps BACKBUFFER COMPLEX FLIP FRONTBUFFER OFFSCREENPLAIN PALETTE "
                   "PRIMARYSURFACE SYSTEMMEMORY VIDEOMEMORY VISIBLE\n"
                   "vidmem 8M\n"
                   "desktop 32\n"
                   "mode 640x480x8 60\n"
                   "mode 640x480x16/565 60\n"
                   "mode 800x600x8 60\n"
                   "mode 800x600x16/565 60\n"
                   "setmode 640x480 800x600\n"},
    {"emulation", "description No display hardware\n"
                  "hardware no\n"
                  "desktop 32\n" MODERN_MODES},
};

/* ---- parsing ------------------------------------------------------------------------ */

bool parseflags(std::istringstream &in, const flagname *names, size_t count, DWORD *out,
                std::string *error) {
    std::string word;
    *out = 0;
    while (in >> word) {
        if (isdigit((unsigned char)word[0])) {
            char *end = nullptr;
            unsigned long v = strtoul(word.c_str(), &end, 0);
            if (*end == '\0') {
                *out |= (DWORD)v;
                continue;
            }
        }
        size_t i = 0;
        while (i < count && word != names[i].name)
            i++;
        if (i == count) {
            *error = "unknown flag " + word;
            return false;
        }
        *out |= names[i].value;
    }
    return true;
}

bool parsesize(const std::string &word, DWORD *w, DWORD *h) {
    char tail = 0;
    return sscanf(word.c_str(), "%ux%u%c", w, h, &tail) == 2 && *w && *h;
}

bool parsemode(std::istringstream &in, profilemode *m, std::string *error) {
    std::string word;
    in >> word;
    unsigned w = 0, h = 0, bpp = 0, masks = 565;
    int n = sscanf(word.c_str(), "%ux%ux%u/%u", &w, &h, &bpp, &masks);
    if (n < 3 || !w || !h || (bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) ||
        (masks != 555 && masks != 565)) {
        *error = "bad mode " + word;
        return false;
    }
    *m = profilemode{w, h, bpp, 0, 0, 0, {}, false, 0};
    if (bpp == 16 && masks == 555)
        m->rmask = 0x7C00, m->gmask = 0x03E0, m->bmask = 0x001F;
    else if (bpp == 16)
        m->rmask = 0xF800, m->gmask = 0x07E0, m->bmask = 0x001F;
    else if (bpp > 16)
        m->rmask = 0xFF0000, m->gmask = 0x00FF00, m->bmask = 0x0000FF;
    while (in >> word) {
        unsigned v = 0;
        if (word == "modex")
            m->modex = true;
        else if (sscanf(word.c_str(), "backbuffers=%u", &v) == 1)
            m->backbuffers = v;
        else if (isdigit((unsigned char)word[0]) && (v = (unsigned)atoi(word.c_str())) > 0)
            m->refresh.push_back(v);
        else {
            *error = "bad mode option " + word;
            return false;
        }
    }
    return true;
}

bool parseguid(const std::string &word, GUID *g) {
    unsigned d1, d2, d3, b[8];
    char tail = 0;
    if (sscanf(word.c_str(), "{%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}%c", &d1, &d2, &d3, &b[0],
               &b[1], &b[2], &b[3], &b[4], &b[5], &b[6], &b[7], &tail) != 11)
        return false;
    g->Data1 = d1;
    g->Data2 = (WORD)d2;
    g->Data3 = (WORD)d3;
    for (int i = 0; i < 8; i++)
        g->Data4[i] = (BYTE)b[i];
    return true;
}

bool parseline(const std::string &key, std::istringstream &in, profile *p, std::string *error) {
    std::string word;
    if (key == "name") {
        in >> p->name;
    } else if (key == "description") {
        std::getline(in >> std::ws, p->driverdesc);
    } else if (key == "driver") {
        if (!(in >> word) || !parseguid(word, &p->driverguid) || !(in >> p->drivername)) {
            *error = "bad driver line";
            return false;
        }
    } else if (key == "hardware") {
        in >> word;
        if (word != "yes" && word != "no") {
            *error = "hardware wants yes or no";
            return false;
        }
        p->hardware = word == "yes";
    } else if (key == "caps") {
        return parseflags(in, capsnames, std::size(capsnames), &p->caps, error);
    } else if (key == "surfacecaps") {
        return parseflags(in, surfacecapsnames, std::size(surfacecapsnames), &p->surfacecaps,
                          error);
    } else if (key == "colorkeycaps") {
        return parseflags(in, ckeycapsnames, std::size(ckeycapsnames), &p->ckeycaps, error);
    } else if (key == "palettecaps") {
        return parseflags(in, palcapsnames, std::size(palcapsnames), &p->palcaps, error);
    } else if (key == "fxcaps") {
        return parseflags(in, nullptr, 0, &p->fxcaps, error);
    } else if (key == "vidmem") {
        char *end = nullptr;
        in >> word;
        unsigned long v = strtoul(word.c_str(), &end, 10);
        if (*end == 'K' || *end == 'k')
            v <<= 10, end++;
        else if (*end == 'M' || *end == 'm')
            v <<= 20, end++;
        if (word.empty() || *end) {
            *error = "bad vidmem " + word;
            return false;
        }
        p->vidmem = (DWORD)v;
    } else if (key == "desktop") {
        unsigned bpp = 0;
        in >> bpp;
        if (bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) {
            *error = "bad desktop bit count";
            return false;
        }
        p->desktopbpp = bpp;
    } else if (key == "pitchalign") {
        unsigned a = 0;
        in >> a;
        if (a == 0 || a > 4096) {
            *error = "bad pitchalign";
            return false;
        }
        p->pitchalign = a;
    } else if (key == "mode") {
        profilemode m;
        if (!parsemode(in, &m, error))
            return false;
        p->modes.push_back(m);
    } else if (key == "setmode") {
        std::string to;
        moderemap r{};
        if (!(in >> word >> to) || !parsesize(word, &r.width, &r.height) ||
            !parsesize(to, &r.tow, &r.toh)) {
            *error = "bad setmode line";
            return false;
        }
        p->remaps.push_back(r);
    } else {
        *error = "unknown setting " + key;
        return false;
    }
    return true;
}

/* ---- the current profile and faults ---------------------------------------------- */

profile chosen;          /* ddlock */
bool havechosen = false; /* ddlock */
faultstate injected;     /* ddlock */

void loadbuiltin(const char *name, profile *p) {
    for (const auto &b : builtins) {
        if (strcmp(b[0], name) == 0) {
            std::string error;
            *p = profile{};
            parseprofile(b[1], p, &error);
            p->name = name;
            return;
        }
    }
}

/* Chooses by name or path; ddlock held. */
bool choose(const char *nameorpath) {
    havechosen = true;
    if (!nameorpath || !*nameorpath) {
        loadbuiltin("modern", &chosen);
        return true;
    }
    for (const auto &b : builtins) {
        if (strcmp(b[0], nameorpath) == 0) {
            loadbuiltin(nameorpath, &chosen);
            return true;
        }
    }
    std::ifstream file(nameorpath);
    std::string error = "no such profile";
    if (file) {
        std::stringstream text;
        text << file.rdbuf();
        profile p;
        p.name = nameorpath;
        if (parseprofile(text.str().c_str(), &p, &error)) {
            chosen = p;
            return true;
        }
    }
    fprintf(stderr, "ddraw: profile %s: %s; using modern\n", nameorpath, error.c_str());
    loadbuiltin("modern", &chosen);
    return false;
}

} // namespace

namespace platddraw {

bool parseprofile(const char *text, profile *p, std::string *error) {
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
        number++;
        size_t hash = line.find('#');
        if (hash != std::string::npos)
            line.erase(hash);
        std::istringstream in(line);
        std::string key;
        if (!(in >> key))
            continue;
        if (!parseline(key, in, p, error)) {
            *error = "line " + std::to_string(number) + ": " + *error;
            return false;
        }
    }
    return true;
}

const profile &currentprofile() {
    if (!havechosen)
        choose(getenv("THISTLE_DDRAW_PROFILE"));
    return chosen;
}

faultstate &faults() {
    return injected;
}

} // namespace platddraw

/* ---- plat/ddrawtest.h --------------------------------------------------------------- */

int plat_ddrawsetprofile(const char *nameorpath) {
    guard held(ddlock());
    return choose(nameorpath ? nameorpath : getenv("THISTLE_DDRAW_PROFILE")) ? 1 : 0;
}

const char *plat_ddrawprofilename(void) {
    guard held(ddlock());
    return currentprofile().name.c_str();
}

void plat_ddrawrefusemode(DWORD width, DWORD height, DWORD bpp) {
    guard held(ddlock());
    if (injected.refused.size() < 16)
        injected.refused.push_back(modekey{width, height, bpp});
}

void plat_ddrawneedactive(int on) {
    guard held(ddlock());
    injected.needactive = on != 0;
}

void plat_ddrawfailsurfaces(DWORD kinds) {
    guard held(ddlock());
    injected.failsurfaces = kinds;
}

void plat_ddrawfailfirstlock(DWORD kinds) {
    guard held(ddlock());
    injected.failfirstlock = kinds;
}

void plat_ddrawloseall(void) {
    guard held(ddlock());
    for (ddobject *dd : objects())
        loseall(dd, false);
}

void plat_ddrawfailrestore(int on) {
    guard held(ddlock());
    injected.failrestore = on != 0;
}

void plat_ddrawfailcreate(DWORD which) {
    guard held(ddlock());
    injected.failcreate = which;
}

void plat_ddrawstilldrawing(int count) {
    guard held(ddlock());
    injected.stilldrawing = count;
}

void plat_ddrawlive(int *objects, int *surfaces, int *palettes, int *clippers) {
    guard held(ddlock());
    const livecounts &c = live();
    if (objects)
        *objects = c.objects;
    if (surfaces)
        *surfaces = c.surfaces;
    if (palettes)
        *palettes = c.palettes;
    if (clippers)
        *clippers = c.clippers;
}

void plat_ddrawreset(void) {
    {
        guard held(ddlock());
        injected = faultstate{};
        choose(getenv("THISTLE_DDRAW_PROFILE"));
    }
    resetpresent();
}
