/*
 * thistle/layer.h - layer stacks: filters between a connection and the wire.
 *
 * Data sent on a connection passes its layers from the oldest to the newest before it is
 * transmitted through the connection type's send; data received passes them from the
 * newest to the oldest before it reaches the connection's receive handler. Each layer's
 * function decides whether and what to pass on, with layerpassdown / layerpassup.
 *
 *   layer stack ("LAYER" block)          layers ("LAYER" blocks), newest first
 *   +----------------------+---------+    +-------+    +-------+
 *   | queue (7 fields)     | current | -> | B (1) | -> | A (0) |  index 0 = newest = B
 *   +----------------------+---------+    +-------+    +-------+
 *
 * Widths: the pointers of these records are native width. On the 32-bit targets the stack
 * is 32 bytes, a layer 16 and a piece 12, all 32-bit words; elsewhere they are wider.
 * Nothing depends on their byte sizes: the blocks are reserved at the record's size and
 * piece arrays are indexed by record.
 *
 * Threads: a stack's queue has its own lock, but a delivery holds no lock across the
 * layer calls, and the current index belongs to one delivery at a time.
 */
#ifndef THISTLE_LAYER_H
#define THISTLE_LAYER_H

#include "thistle/connect.h"
#include "thistle/queue.h"

#include <cstdint>

/* One piece of data to send or of data received. flags holds bits 24 to 31 of a
 * length-and-flags word (its low 24 bits are 0), length 0 to 0xFFFFFF bytes. */
struct piece {
    uint32_t flags;
    uint32_t length;
    const void *data;
};

/* The layer stack of a connection. current is the index of the layer being run. */
struct layerstack {
    queue layers;
    int32_t current;
};

/* A layer's send- or receive-direction function: (connection, context, piece count,
 * pieces, stack) -> result. A send function may add pieces: the array has room for
 * one more piece per layer than the sender gave. */
typedef int32_t (*layerfunction)(connection *object, uintptr_t context, int32_t count,
                                 piece *pieces, layerstack *stack);

/* One layer: a queue element. */
struct layer {
    layer *next;
    layerfunction send;
    layerfunction receive;
    uintptr_t context;
};

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(piece) == 12, "piece: three 32-bit words");
static_assert(sizeof(layerstack) == 32, "layer stack block: queue and index, 32 bytes");
static_assert(sizeof(layer) == 16, "layer block: four 32-bit words");
#endif

/* Bounds of a send: pieces in the working array (the sender's plus one per layer) and
 * bytes of a joined transmission. Both buffers live on the sender's stack; a send beyond
 * them is refused (0, nothing sent). */
constexpr int32_t LAYER_MAXPIECES = 64;
constexpr uint32_t LAYER_MAXJOIN = 16384;

/* Adds a layer at the top (newest end) of the connection's stack, creating the stack
 * (a "LAYER" block of defaultmemclass) on the first call. 1, or 0 when a block could not
 * be reserved. The layer blocks stay reserved until the application purges them. */
int32_t addlayer(connection *object, layerfunction send, layerfunction receive, uintptr_t context);
/* Frees the connection's layer stack and clears its pointer; the layers are not purged. */
void removelayers(connection *object);

/* Delivers received data upwards: the newest layer's receive function, or the receive
 * handler without layers. Returns that call's result. */
int32_t layerreceive(connection *object, const void *data, uint32_t length);
/* Sends count pieces downwards: the oldest layer's send function, or the transmission
 * without layers. 0 when the object is null or has no send handle. */
int32_t layersend(connection *object, int32_t count, const piece *pieces);
/* From a receive function: on to the next older layer, or the receive handler after the
 * oldest. Only the first piece reaches the handler. */
int32_t layerpassup(connection *object, int32_t count, piece *pieces, layerstack *stack);
/* From a send function: on to the next newer layer, or the transmission after the newest. */
int32_t layerpassdown(connection *object, int32_t count, piece *pieces, layerstack *stack);
/* Transmits count pieces as one: a single piece as it is, several joined in order into
 * one buffer with their flags ORed. The type's send result; 0 when the join is too long. */
int32_t layertransmit(connection *object, int32_t count, const piece *pieces);

#endif /* THISTLE_LAYER_H */
