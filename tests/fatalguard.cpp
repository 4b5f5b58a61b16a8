/*
 * fatalguard.cpp - linked into every suite of the library: a fatal report that the case
 * does not expect fails the case.
 *
 * A report ends the process with exit code 0, which the test runner counts as a pass, so
 * a case that ran into one would pass unseen. Until a case installs a filter of its own,
 * this one prints the report and ends the process with a failure code instead.
 */
#include "thistle/diag.h"

#include <cstdio>
#include <cstdlib>

namespace {

int32_t unexpected(const char *text) {
    std::fprintf(stderr, "unexpected fatal report:\n%s\n", text);
    std::fflush(stderr);
    std::_Exit(70);
}

/* fatalfilterhook starts null by constant initialisation, before this runs. */
const bool installed = [] {
    fatalfilterhook = unexpected;
    return true;
}();

} // namespace
