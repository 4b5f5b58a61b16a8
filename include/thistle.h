/*
 * thistle.h - the runtime library's public interface: includes every module header
 * (every header under thistle/; scripts/ci.sh checks that none is left out).
 */
#ifndef THISTLE_H
#define THISTLE_H

#include "thistle/memutil.h"
#include "thistle/connect.h"
#include "thistle/convshp.h"
#include "thistle/convrow.h"
#include "thistle/createw.h"
#include "thistle/ddraw.h"
#include "thistle/layer.h"
#include "thistle/memstd.h"
#include "thistle/diag.h"
#include "thistle/initgrf.h"
#include "thistle/intprt.h"
#include "thistle/key.h"
#include "thistle/mono.h"
#include "thistle/mouse.h"
#include "thistle/pack.h"
#include "thistle/palette.h"
#include "thistle/startup.h"
#include "thistle/syshelp.h"
#include "thistle/systask.h"
#include "thistle/queue.h"
#include "thistle/row.h"
#include "thistle/shpbytes.h"
#include "thistle/shpclut.h"
#include "thistle/threads.h"
#include "thistle/timer.h"
#include "thistle/unpack.h"
#include "thistle/validwin.h"
#include "thistle/vidwin.h"
#include "thistle/window.h"

#endif /* THISTLE_H */
