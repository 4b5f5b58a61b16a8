/*
 * thistle/memstd.h - numbered memory classes with named, signed blocks.
 *
 * The application hands the library regions of memory; creatememclass makes each one a
 * class (numbers 0 to 15) and reservememadr/purgememadr take and return blocks of it. A
 * block is a 16-byte header, the data callers get, a trailer of the class's size and, in
 * classes that keep names, the block's name. The region and every block in it stay the
 * application's memory; nothing here calls the process heap.
 *
 * Threads: a class created with a lock serialises reservememadr, purgememadr,
 * purgememclass and largestmemblock on it; every other call takes no lock. A class
 * without a lock belongs to one thread at a time. The class table, defaultmemclass and
 * memfailhook are plain globals, set up before threads share them.
 *
 * Links: every address stored in a block header, in a free block's data or in the class
 * record is a 32-bit word (memlink). Where pointers are 32 bits it is the address itself.
 * Where they are wider it is the signed distance from the word's own address to the
 * target, 0 for null; a class region is therefore limited to 2 GiB, which its 32-bit sizes
 * already imply.
 */
#ifndef THISTLE_MEMSTD_H
#define THISTLE_MEMSTD_H

#include <cstddef>
#include <cstdint>

/* A stored address: see Links above. */
typedef uint32_t memlink;

/* Type word bits (the class number is bits 0 to 3). */
constexpr uint32_t MB_CLASS = 0x000F;
constexpr uint32_t MB_HIGH = 0x0010;     /* search from the high end, carve from the top */
constexpr uint32_t MB_LARGEST = 0x0020;  /* largest fitting free block instead of the first */
constexpr uint32_t MB_NAMED = 0x0100;    /* name stored behind the trailer (class property) */
constexpr uint32_t MB_ENDMARK = 0x0200;  /* "BEND" right behind the data (class property) */
constexpr uint32_t MB_SITE = 0x0400;     /* reserving file and line in the trailer (class) */
constexpr uint32_t MB_ZEROWORD = 0x0800; /* trailer word at offset 12 set to 0 */
constexpr uint32_t MB_FREE = 0x4000;     /* on the free list */
constexpr uint32_t MB_BOUNDARY = 0x8000; /* a class's LOW or HIGH block */

/* Number of class table entries; class numbers run from 0 to MEMCLASSES - 1. */
constexpr int32_t MEMCLASSES = 16;

/* Every block starts with this header; callers' data follows it directly. Signature "MB"
 * in use, "FB" free, "SB" the free-list sentinel, 0 while changing state. size is the
 * requested size of a block in use, (next - block - 16) of a free block. */
struct memblockheader {
    char signature[2];
    uint16_t type;
    int32_t size;
    memlink next; /* next block in address order; null for the HIGH block */
    memlink prev; /* previous block in address order; null for the LOW block */
};
static_assert(sizeof(memblockheader) == 16, "block header is 16 bytes on every target");

/* The class record: the 64 data bytes of the class's LOW block. The sentinel's data
 * words are firstfree and lastfree, so the sentinel links into the free list exactly as
 * a free block does (a free block's first data word is its next free block, its second
 * the previous one). lock is the class's lock when pointers are 32 bits; where they are
 * wider it is the class number + 1 of a module-held lock slot (0: no lock). */
struct memclassrecord {
    char name[8];
    memlink lowblock;
    memlink highblock;
    memblockheader sentinel;
    memlink firstfree;
    memlink lastfree;
    uint32_t blockalign;
    uint32_t dataalign;
    uint32_t trailersize;
    uint32_t flags;
    uint32_t lock;
    uint32_t user;
};
static_assert(sizeof(memclassrecord) <= 64, "class record fits the LOW block's 64 data bytes");
static_assert(offsetof(memclassrecord, sentinel) == 16 &&
                  offsetof(memclassrecord, firstfree) == 32 &&
                  offsetof(memclassrecord, lastfree) == 36,
              "the sentinel's two data words are firstfree and lastfree");

/* Class used by the library's own modules; only its low four bits count. Starts at 0. */
extern int32_t defaultmemclass;

/* Called by reservememadr just before it reports that a class ran out of memory (only
 * while reporterrors is set). Starts null. */
extern void (*memfailhook)(void);

/* Non-zero (the start value): creatememclass gives each new class a search index, kept in
 * pages of its own outside the region, so that reservations and releases take a few steps
 * instead of walks along the free list. 0: new classes search by walking, which needs no
 * memory beyond the region. Either way every block lands in the same place. */
extern int32_t memclassindex;

/* Empties the class table (locks and regions are left alone); returns 1. */
int32_t initmemclasses(void);

/* Lays out a class in the region [start, start + length): LOW block, one free block, HIGH
 * block, with the given block and data alignments (powers of two) and trailer size. The
 * three wanted flags add MB_ENDMARK, MB_SITE and MB_NAMED to the class; lockwanted creates
 * a lock. Returns the free block's size; 0 for a class number outside 0 to 15, a region
 * too small for the boundary blocks, or an alignment that is not a power of two. */
int32_t creatememclass(int32_t classnum, const char *name, void *start, int32_t length,
                       int32_t blockalign, int32_t dataalign, int32_t trailersize,
                       int32_t endmarkwanted, int32_t sitewanted, int32_t nameswanted,
                       int32_t lockwanted, int32_t user);

/* Lowest class number 1 to 15 without a class; 16 (reported while reporterrors is set)
 * when all are taken. Class 0 is never handed out. */
int32_t getfreememclass(void);

/* Deletes the class's lock, zeroes its record and empties its table entry; the blocks are
 * not looked at. 1, or 0 when there was no class. */
int32_t removememclass(int32_t classnum);

/* Reserves size bytes (0 reserves as for 8) named name (may be null) from the class in
 * type's low four bits, placed by MB_HIGH/MB_LARGEST. Returns the data, owned by the
 * caller until purgememadr; null on a negative size or when nothing fits (reported
 * while reporterrors is set). Records errorsite (or callersite) in classes with MB_SITE. */
void *reservememadr(const char *name, int32_t size, uint32_t type);

/* A second entry point with reservememadr's arguments and result. */
void *reservememadr2(const char *name, int32_t size, uint32_t type);

/* Returns the block to its class, merging it with free neighbours. 1 when released or
 * data is null; 0 when data is not a block in use (reported while reporterrors is set). */
int32_t purgememadr(void *data);

/* Size of the largest free block of the class (low four bits of classnum); 0 if none. */
int32_t largestmemblock(int32_t classnum);

/* largestmemblock of defaultmemclass. */
int32_t largestdefaultmemblock(void);

/* The size field of the block's header (the requested size of a block in use). */
int32_t memblocksize(const void *data);

/* The type word of the block's header. */
uint32_t memblocktype(const void *data);

/* The block's stored name (inside the block) when its type has MB_NAMED, else null. */
char *memblockname(const void *data);

/* Trailer size of the class (low four bits of classnum); 0 when there is no class. */
int32_t memclasstrailer(int32_t classnum);

/* Bytes a block of the class needs behind its data: the trailer, plus the name with its
 * terminator when name is not null and the class keeps names. */
int32_t memblockoverhead(const char *name, int32_t classnum);

/* reservememadr(null, size, defaultmemclass). */
void *reservemem(int32_t size);

/* purgememadr(data). */
int32_t purgemem(void *data);

/* Releases every block in use of the class, leaving the boundary blocks and the free
 * blocks as they are; afterwards the class is one free block again. */
void purgememclass(int32_t classnum);

/* The source path that an MB_SITE trailer word (trailer offset 4) stands for; null for 0
 * or an unknown word. Where pointers are 32 bits the word is the path's address. */
const char *memsitepath(uint32_t word);

#endif /* THISTLE_MEMSTD_H */
