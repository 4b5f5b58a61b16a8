// layer_test - layer stacks on a connection: the order of the layers both ways, pieces
// that layers add, the joined transmission, the sends that are refused, and the "LAYER"
// blocks.
#include "thistle/diag.h"
#include "thistle/layer.h"
#include "thistle/memstd.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string trace;            // who ran, in order
std::vector<std::string> got; // the bytes of each transmission or delivery
std::vector<uint32_t> words;  // the length-and-flags word of each transmission

int32_t transmit(connection *, const void *data, uint32_t word) {
    trace += "T";
    got.emplace_back(static_cast<const char *>(data), word & PIECE_LENGTH);
    words.push_back(word);
    return 77;
}

int32_t handler(connection *, const void *data, uint32_t length) {
    trace += "H";
    got.emplace_back(static_cast<const char *>(data), length);
    return 55;
}

const connectiontype wire = {nullptr, nullptr, transmit, nullptr, nullptr, nullptr};

// Layer 'A' or 'B' (its context): on the way down it puts a one-byte piece with its name
// and flag bit 24 + (name - 'A') in front; on the way up it passes the data on.
int32_t down(connection *object, uintptr_t context, int32_t count, piece *pieces,
             layerstack *stack) {
    static const char names[] = "AB";
    trace += std::string("s") + char(context);
    for (int32_t i = count; i > 0; i--)
        pieces[i] = pieces[i - 1];
    pieces[0] = {uint32_t{1} << (24 + (context - 'A')), 1, &names[context - 'A']};
    return layerpassdown(object, count + 1, pieces, stack);
}

int32_t up(connection *object, uintptr_t context, int32_t count, piece *pieces, layerstack *stack) {
    trace += std::string("r") + char(context);
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
        got.clear();
        words.clear();
    }
    void TearDown() override {
        removememclass(5);
        defaultmemclass = 0;
    }
};

// Pieces of 10, 20 and 30 bytes go out as one 60-byte transmission, in order, flags ORed;
// one piece goes as it is. Null objects, objects without send handle and sends beyond the
// stack bounds (joined bytes; pieces plus the room the layers may add) send nothing.
TEST_F(Layer, PiecesJoinedAndSendsRefused) {
    std::string a(10, 'a'), b(20, 'b'), d(30, 'd');
    piece three[] = {{0x01000000, 10, a.data()}, {0, 20, b.data()}, {0x80000000, 30, d.data()}};
    EXPECT_EQ(layersend(&c, 3, three), 77);
    EXPECT_EQ(got.back(), a + b + d);
    EXPECT_EQ(words.back(), 0x81000000u | 60);
    EXPECT_EQ(layersend(&c, 1, &three[2]), 77);
    EXPECT_EQ(words.back(), 0x80000000u | 30);
    trace.clear();
    static char big[LAYER_MAXJOIN];
    piece two[] = {{0, LAYER_MAXJOIN, big}, {0, 1, big}};
    EXPECT_EQ(layersend(nullptr, 2, two), 0);
    c.sendhandle = 0;
    EXPECT_EQ(layersend(&c, 1, two), 0);
    c.sendhandle = 1;
    EXPECT_EQ(layersend(&c, 2, two), 0) << "joined length above the bound";
    two[0].length = LAYER_MAXJOIN - 1;
    EXPECT_EQ(layersend(&c, 2, two), 77) << "a join of exactly the bound";
    ASSERT_EQ(addlayer(&c, down, up, 'A'), 1);
    std::vector<piece> many(LAYER_MAXPIECES, piece{0, 0, big});
    EXPECT_EQ(layersend(&c, LAYER_MAXPIECES, many.data()), 0) << "no room for A's piece";
    EXPECT_EQ(layersend(&c, LAYER_MAXPIECES - 1, many.data()), 77);
    EXPECT_EQ(trace, "TsAT");
}

// Layers A (added first) and B: sending runs A, then B, then the transmission, each layer
// adding its piece in front; receiving runs B, then A, then the handler. removelayers
// gives the stack block back; without memory for a stack addlayer answers 0.
TEST_F(Layer, LayersRunOldestFirstDownAndNewestFirstUp) {
    ASSERT_EQ(addlayer(&c, down, up, 'A'), 1);
    layerstack *stack = c.layers;
    ASSERT_EQ(addlayer(&c, down, up, 'B'), 1);
    EXPECT_EQ(c.layers, stack) << "one stack per connection";
    EXPECT_STREQ(memblockname(stack), "LAYER");
    EXPECT_STREQ(memblockname(qfindindex(&stack->layers, 0)), "LAYER");

    piece data = {0, 4, "data"};
    EXPECT_EQ(layersend(&c, 1, &data), 77);
    EXPECT_EQ(layerreceive(&c, "in", 2), 55);
    EXPECT_EQ(trace, "sAsBTrBrAH");
    EXPECT_EQ(got, (std::vector<std::string>{"BAdata", "in"}));
    EXPECT_EQ(words.back(), 0x03000000u | 6);
    EXPECT_EQ(data.length, 4u) << "the sender's pieces are not touched";

    removelayers(&c);
    EXPECT_EQ(c.layers, nullptr);
    EXPECT_NE(memblocktype(stack) & MB_FREE, 0u);
    trace.clear();
    EXPECT_EQ(layerreceive(&c, "x", 1), 55);
    EXPECT_EQ(trace, "H");

    defaultmemclass = 6; // no such class: nothing to reserve from
    reporterrors = 0;
    EXPECT_EQ(addlayer(&c, down, up, 'A'), 0);
    reporterrors = 1;
    EXPECT_EQ(c.layers, nullptr);
}

} // namespace
