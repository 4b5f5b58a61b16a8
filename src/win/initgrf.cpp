/*
 * initgrf.cpp - win\initgrf: the graphics options (see thistle/initgrf.h).
 */
#include "thistle/initgrf.h"

int32_t graphicsflags = GRF_FULLSCREEN | GRF_SYSMEMBACK | GRF_SINGLEPAGE;
static_assert(GRF_FULLSCREEN + GRF_SYSMEMBACK + GRF_SINGLEPAGE == 0x45, "the start options");

int32_t screenwidth = 0, screenheight = 0, screendepth = 0, screenmode = 0;
int32_t viewx = 0, viewy = 0, viewwidth = 320, viewheight = 200;
