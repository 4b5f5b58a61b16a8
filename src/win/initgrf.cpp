/*
 * initgrf.cpp - win\initgrf: the graphics options (see thistle/initgrf.h).
 */
#include "thistle/initgrf.h"

int32_t graphicsflags = GRF_FULLSCREEN | GRF_SYSMEMBACK | GRF_SINGLEPAGE;
static_assert(GRF_FULLSCREEN + GRF_SYSMEMBACK + GRF_SINGLEPAGE == 0x45, "the start options");
