/*
 * cmn\layer - layer stacks between a connection and the wire (see thistle/layer.h).
 *
 * Sending copies the sender's pieces into a working array with one spare piece per
 * layer, so that layers may add pieces; several pieces are joined into one buffer for
 * the transmission. Both buffers live on the sender's stack, so a send allocates nothing.
 * Their bound (LAYER_MAXPIECES pieces, LAYER_MAXJOIN joined bytes, about 17 KiB of stack
 * on 64-bit) covers packets of the sizes a game sends; a larger send is refused with 0
 * rather than split, since a split would change what the peer receives.
 * Memory: the stack and every layer are "LAYER" blocks of defaultmemclass; the stack is
 * purged by removelayers, the layers stay with the application.
 */
#include "thistle/layer.h"

#include "thistle/diag.h"
#include "thistle/memstd.h"
#include "thistle/memutil.h"

namespace {

layer *layerat(layerstack *stack, int32_t index) {
    if (index < 0)
        return nullptr;
    return static_cast<layer *>(qfindindex(&stack->layers, static_cast<uint32_t>(index)));
}

/* Index i of n layers upwards: layer i's receive function, or the handler past the top. */
int32_t deliverup(connection *object, int32_t count, piece *pieces, layerstack *stack, int32_t i) {
    if (i >= static_cast<int32_t>(qlength(&stack->layers))) {
        if (count <= 0)
            return object->receive(object, nullptr, 0);
        return object->receive(object, pieces[0].data, pieces[0].length);
    }
    stack->current = i;
    layer *l = layerat(stack, i);
    if (l == nullptr)
        return 0;
    return l->receive(object, l->context, count, pieces, stack);
}

/* Index i downwards: layer i's send function, or the transmission below index 0. */
int32_t deliverdown(connection *object, int32_t count, piece *pieces, layerstack *stack,
                    int32_t i) {
    if (i < 0)
        return layertransmit(object, count, pieces);
    stack->current = i;
    layer *l = layerat(stack, i);
    if (l == nullptr)
        return 0;
    return l->send(object, l->context, count, pieces, stack);
}

} // namespace

/* Pushes a new layer at the head of the stack (index 0 is always the newest), creating
 * the stack first; 1, or 0 when a block was refused. */
int32_t addlayer(connection *object, layerfunction send, layerfunction receive, uintptr_t context) {
    if (object->layers == nullptr) {
        THISTLE_SITE("cmn\\layer");
        auto *stack = static_cast<layerstack *>(
            reservememadr("LAYER", sizeof(layerstack), static_cast<uint32_t>(defaultmemclass)));
        if (stack == nullptr)
            return 0;
        stack->current = 0;
        qinit(&stack->layers, nullptr, 0);
        object->layers = stack;
    }
    THISTLE_SITE("cmn\\layer");
    auto *l = static_cast<layer *>(
        reservememadr("LAYER", sizeof(layer), static_cast<uint32_t>(defaultmemclass)));
    if (l == nullptr)
        return 0;
    l->next = nullptr;
    l->send = send;
    l->receive = receive;
    l->context = context;
    qpush(&object->layers->layers, l);
    return 1;
}

/* Releases the stack's lock and block; the layers stay reserved. */
void removelayers(connection *object) {
    layerstack *stack = object->layers;
    if (stack == nullptr)
        return;
    qfree(&stack->layers);
    purgememadr(stack);
    object->layers = nullptr;
}

/* Received data: one piece (flags 0) up from the newest layer, or straight to the
 * receive handler. */
int32_t layerreceive(connection *object, const void *data, uint32_t length) {
    if (object->layers == nullptr)
        return object->receive(object, data, length);
    piece one = {0, length, data};
    return deliverup(object, 1, &one, object->layers, 0);
}

/* Data to send: into the working array, then down from the oldest layer. */
int32_t layersend(connection *object, int32_t count, const piece *pieces) {
    if (object == nullptr || object->sendhandle == 0)
        return 0;
    layerstack *stack = object->layers;
    if (stack == nullptr)
        return layertransmit(object, count, pieces);
    int32_t layers = static_cast<int32_t>(qlength(&stack->layers));
    if (count < 0 || count > LAYER_MAXPIECES - layers)
        return 0;
    piece work[LAYER_MAXPIECES];
    for (int32_t i = 0; i < count; i++)
        work[i] = pieces[i];
    return deliverdown(object, count, work, stack, layers - 1);
}

/* The next older layer, from the one being run. */
int32_t layerpassup(connection *object, int32_t count, piece *pieces, layerstack *stack) {
    return deliverup(object, count, pieces, stack, stack->current + 1);
}

/* The next newer layer, from the one being run. */
int32_t layerpassdown(connection *object, int32_t count, piece *pieces, layerstack *stack) {
    return deliverdown(object, count, pieces, stack, stack->current - 1);
}

/* One piece goes as it is; several are joined in order, lengths added and flags ORed. */
int32_t layertransmit(connection *object, int32_t count, const piece *pieces) {
    if (count <= 0)
        return object->methods->send(object, nullptr, 0);
    if (count == 1)
        return object->methods->send(object, pieces[0].data, pieces[0].length | pieces[0].flags);
    uint32_t total = 0;
    uint32_t flags = 0;
    for (int32_t i = 0; i < count; i++) {
        total += pieces[i].length;
        flags |= pieces[i].flags;
        if (total > LAYER_MAXJOIN)
            return 0;
    }
    unsigned char joined[LAYER_MAXJOIN];
    unsigned char *at = joined;
    for (int32_t i = 0; i < count; i++) {
        movebytes(pieces[i].data, at, pieces[i].length);
        at += pieces[i].length;
    }
    return object->methods->send(object, joined, total | flags);
}
