// layer_test - layer stacks on a connection: the order of the layers both ways, pieces
// that layers add, the joined transmission, sends that are refused, and the stack's
// "LAYER" blocks.
#include "thistle/diag.h"
#include "thistle/layer.h"
#include "thistle/memstd.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::string trace;               // who ran, in order
std::vector<std::string> sent;   // the bytes of each transmission
std::vector<uint32_t> sentwords; // its length-and-flags word

int32_t transmit(connection *, const void *data, uint32_t word) {
    trace += "T";
    sent.emplace_back(static_cast<const char *>(data), word & PIECE_LENGTH);
    sentwords.push_back(word);
    return 77;
}

int32_t handler(connection *, const void *data, uint32_t length) {
    trace += "H";
    sent.emplace_back(static_cast<const char *>(data), length);
    return 55;
}

const connectiontype wire = {nullptr, nullptr, transmit, nullptr, nullptr, nullptr};

// A layer named by its context: on the way down it adds a one-byte piece carrying its name
// and the flag bit (1 << name) in front of the rest; on the way up it passes the data on.
int32_t down(connection *object, uintptr_t context, int32_t count, piece *pieces,
             layerstack *stack) {
    static char names[] = "AB";
    char *name = &names[context - 'A'];
    trace += std::string("s") + *name;
    for (int32_t i = count; i > 0; i--)
        pieces[i] = pieces[i - 1];
    pieces[0] = {uint32_t{1} << (24 + (context - 'A')), 1, name};
    return layerpassdown(object, count + 1, pieces, stack);
}

int32_t up(connection *object, uintptr_t context, int32_t count, piece *pieces, layerstack *stack) {
    trace += std::string("r") + static_cast<char>(context);
    return layerpassup(object, count, pieces, stack);
}

class Layer : public ::testing::Test {
  protected:
    alignas(16) static inline uint8_t region[16384];
    connection c{};

    void SetUp() override {
        ASSERT_GT(creatememclass(5, "layers", region, sizeof region, 16, 16, 0, 0, 0, 1, 0, 0), 0);
        defaultmemclass = 5;
        c.methods = &wire;
        c.receive = handler;
        c.sendhandle = 1;
        trace.clear();
        sent.clear();
        sentwords.clear();
    }
    void TearDown() override {
        removememclass(5);
        defaultmemclass = 0;
    }
};

// Three pieces of 10, 20 and 30 bytes go out as one 60-byte transmission, in order, flags
// ORed; one piece goes as it is.
TEST_F(Layer, PiecesAreJoinedIntoOneTransmission) {
    std::string a(10, 'a'), b(20, 'b'), d(30, 'd');
    piece three[] = {{0x01000000, 10, a.data()}, {0, 20, b.data()}, {0x80000000, 30, d.data()}};
    EXPECT_EQ(layersend(&c, 3, three), 77);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], a + b + d);
    EXPECT_EQ(sentwords[0], 0x81000000u | 60);
    piece one = {0x02000000, 16, d.data()};
    EXPECT_EQ(layersend(&c, 1, &one), 77);
    EXPECT_EQ(sentwords[1], 0x02000010u);
}

// Null objects, objects without send handle and sends beyond the stack bounds (joined
// bytes; pieces with the room the layers may add) send nothing; sends up to them go.
TEST_F(Layer, RefusedSendsTransmitNothing) {
    static char big[LAYER_MAXJOIN + 1];
    piece two[] = {{0, LAYER_MAXJOIN, big}, {0, 1, big}};
    EXPECT_EQ(layersend(nullptr, 2, two), 0);
    c.sendhandle = 0;
    EXPECT_EQ(layersend(&c, 1, two), 0);
    c.sendhandle = 1;
    EXPECT_EQ(layersend(&c, 2, two), 0) << "joined length above the bound";
    EXPECT_EQ(layersend(&c, 1, two), 77) << "one piece needs no join";
    two[0].length = LAYER_MAXJOIN - 1;
    EXPECT_EQ(layersend(&c, 2, two), 77) << "a join of exactly the bound";
    EXPECT_EQ(trace, "TT");

    ASSERT_EQ(addlayer(&c, down, up, 'A'), 1);
    std::vector<piece> many(LAYER_MAXPIECES, piece{0, 0, big});
    EXPECT_EQ(layersend(&c, LAYER_MAXPIECES, many.data()), 0) << "no room for the layer's piece";
    EXPECT_EQ(trace, "TT");
    EXPECT_EQ(layersend(&c, LAYER_MAXPIECES - 1, many.data()), 77);
    EXPECT_EQ(trace, "TTsAT");
    removelayers(&c);
}

// Layers A (added first) and B: sending runs A, then B, then the transmission, each layer
// adding its piece in front; receiving runs B, then A, then the handler.
TEST_F(Layer, LayersRunOldestFirstDownAndNewestFirstUp) {
    ASSERT_EQ(addlayer(&c, down, up, 'A'), 1);
    layerstack *stack = c.layers;
    ASSERT_NE(stack, nullptr);
    EXPECT_STREQ(memblockname(stack), "LAYER");
    ASSERT_EQ(addlayer(&c, down, up, 'B'), 1);
    EXPECT_EQ(c.layers, stack) << "one stack per connection";
    EXPECT_STREQ(memblockname(qfindindex(&stack->layers, 0)), "LAYER");

    piece data = {0, 4, "data"};
    EXPECT_EQ(layersend(&c, 1, &data), 77);
    EXPECT_EQ(trace, "sAsBT");
    EXPECT_EQ(sent[0], "BAdata");
    EXPECT_EQ(sentwords[0], 0x03000000u | 6);
    EXPECT_EQ(data.length, 4u) << "the sender's pieces are not touched";

    trace.clear();
    EXPECT_EQ(layerreceive(&c, "in", 2), 55);
    EXPECT_EQ(trace, "rBrAH");
    EXPECT_EQ(sent[1], "in");

    removelayers(&c);
    EXPECT_EQ(c.layers, nullptr);
    EXPECT_NE(memblocktype(stack) & MB_FREE, 0u) << "the stack block is given back";
    trace.clear();
    EXPECT_EQ(layerreceive(&c, "x", 1), 55);
    EXPECT_EQ(trace, "H");
}

// Without memory for the stack, addlayer answers 0 and the connection keeps no stack.
TEST_F(Layer, NoMemoryNoLayer) {
    int32_t saved = reporterrors;
    reporterrors = 0;
    defaultmemclass = 6; // no such class
    EXPECT_EQ(addlayer(&c, down, up, 'A'), 0);
    EXPECT_EQ(c.layers, nullptr);
    reporterrors = saved;
}

} // namespace
