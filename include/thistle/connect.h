/*
 * thistle/connect.h - the connection record and the connection type (its operations
 * table), shared by the connection module and the layer stacks.
 *
 * A connection is a record the caller owns, bound by its open to a connection type: a
 * table of operations supplied by whoever implements that kind of connection. The
 * library reads and writes only the members named below; the unnamed ones belong to the
 * types.
 *
 * Widths: members are 32-bit words except the pointers, which are native width (a
 * connection's size is nowhere part of its behaviour), and the four 16-bit words. On
 * the 32-bit targets the record is therefore a run of 32-bit words.
 */
#ifndef THISTLE_CONNECT_H
#define THISTLE_CONNECT_H

#include <cstddef>
#include <cstdint>

struct connection;
struct layerstack;
/* The open network service a service connection runs over; defined with the network
 * service interface. */
struct servicerecord;

/* Length-and-flags word of a send: flags in bits 24 to 31, length in bits 0 to 23. */
constexpr uint32_t PIECE_FLAGS = 0xFF000000u;
constexpr uint32_t PIECE_LENGTH = 0x00FFFFFFu;

/* Packet type bytes of service connections: data, and the query of an unconfirmed peer. */
constexpr uint8_t PACKET_DATA = 0x3D;  /* '=' */
constexpr uint8_t PACKET_QUERY = 0x71; /* 'q' */

/* Receive handler: (connection, data, length) -> result. */
typedef int32_t (*connectionreceive)(connection *object, const void *data, uint32_t length);
/* The three event handlers and the arrival function: (connection) -> result. The library
 * never calls the event handlers; open gives an empty one a function that returns 0. */
typedef int32_t (*connectionevent)(connection *object);

/* The operations table of a kind of connection. open and close answer non-zero on
 * success; a type with a poll operation is polled from a secondary timer function while
 * one of its connections is open. status and poll may be null. The values of open are
 * the type's own and pointer-wide, so that a type can be handed a pointer. */
struct connectiontype {
    void *reserved; /* slot 0: not used by the library */
    int32_t (*open)(connection *object, uintptr_t a, uintptr_t b, uintptr_t c);
    int32_t (*send)(connection *object, const void *data, uint32_t lengthflags);
    int32_t (*status)(connection *object);
    void (*poll)(connection *object);
    int32_t (*close)(connection *object);
};

/* The connection record (caller-owned), members in this order. */
struct connection {
    connection *next;              /* link of the connection lists (a queue element) */
    uint32_t unused1;              /* not used by the library */
    const connectiontype *methods; /* set by open */
    connectionevent arrival;       /* service connections: a packet from the peer waits */
    uint32_t unused2;              /* not used by the library */
    int32_t active;                /* set by the type; 0: close does not call the type */
    connectionevent events[3];     /* the type's event handlers */
    connectionreceive receive;     /* where received data ends, after the layers */
    uintptr_t sendhandle;          /* the type's; 0 while the connection cannot send */
    uint16_t unused3;              /* not used by the library */
    uint16_t settings[3];          /* 2, 4 and 6 by default (set at open when 0) */
    layerstack *layers;            /* null without layers; cleared at open */
    uint8_t address[20];           /* service connections: the peer's address */
    int32_t state;                 /* service connections: 0 closed, -1..-5 unconfirmed, 1 */
    servicerecord *service;        /* service connections: the service it runs over */
};
static_assert(offsetof(connection, next) == 0, "a connection is a queue element");
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(offsetof(connection, settings) == 46 && offsetof(connection, address) == 56 &&
                  sizeof(connection) == 84,
              "32-bit connection: 32-bit words, the 16-bit run and a 20-byte address");
#endif

#endif /* THISTLE_CONNECT_H */
