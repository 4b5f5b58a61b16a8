/*
 * thistle.h - the runtime library's public interface: includes every module header.
 */
#ifndef THISTLE_H
#define THISTLE_H

#include "thistle/memutil.h"

#endif /* THISTLE_H */
