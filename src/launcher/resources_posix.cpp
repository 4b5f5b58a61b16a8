/*
 * resources_posix.cpp - the launcher's resources for the POSIX layer: the strings, the
 * accelerator table and the icon id that thistlerun.rc gives the Windows executable.
 *
 * Registered from a static initializer, before WinMain runs. Linked straight into the
 * executable (not the launcher library) so that the initializer is not dropped.
 * The menu and the two dialogs of the .rc file are not shown by any step and have no
 * counterpart here.
 */
#include "launcher.h"

#include "plat/resource.h"

namespace {

constexpr plat_stringres strings[] = {
    {.id = IDS_APP_TITLE, .text = "Thistlerun"},
    {.id = IDC_THISTLERUN, .text = "THISTLERUN"},
};

/* Alt with the plain characters "?" and "/" (not virtual keys): About. */
constexpr ACCEL shellaccels[] = {
    {.fVirt = FALT, .key = '?', .cmd = IDM_ABOUT},
    {.fVirt = FALT, .key = '/', .cmd = IDM_ABOUT},
};

constexpr plat_accelres accels[] = {
    {.id = IDC_THISTLERUN, .entries = shellaccels, .count = 2},
};

constexpr UINT icons[] = {IDI_THISTLERUN};

constexpr plat_resources resources = {
    .strings = strings,
    .stringcount = 2,
    .accels = accels,
    .accelcount = 1,
    .icons = icons,
    .iconcount = 1,
};

[[maybe_unused]] const int registered = plat_addresources(&resources);

} // namespace
