// The configuration numbers and the drag state machine.
#include "app/app.h"
#include <gtest/gtest.h>

TEST(ParseDecimal, ReadsConfigurationNumbers)
{
    struct Case {
        const char *text;
        uint16_t expected; // low 16 bits, as stored
    } cases[] = {
        {"64", 64},
        {" 64", 64}, // leading white space skipped
        {"\t\n\v\f\r128", 128},
        {"64px", 64}, // text after the digits ignored
        {"px", 0},    // no digits: 0, accepted
        {"", 0},
        {"-1", 65535}, // negated in 32 bits, low half kept
        {"+12", 12},
        {"70000", 4464},   // 70000 modulo 65536
        {"--5", 0},        // one sign only
        {"4294967297", 1}, // wraps in 32 bits
    };
    for (const Case &c : cases)
        EXPECT_EQ(static_cast<uint16_t>(ParseDecimal(c.text)), c.expected) << '"' << c.text << '"';
}

namespace {
uint32_t Pack(int16_t x, int16_t y)
{
    return static_cast<uint16_t>(x) | static_cast<uint32_t>(static_cast<uint16_t>(y)) << 16;
}

struct PointerTest : ::testing::Test {
    void SetUp() override { Dragging = 0, DragAnchor = 0; }
    int Move(uint32_t keys, int16_t x, int16_t y)
    {
        dx = dy = 12345;
        return PointerMoved(keys, Pack(x, y), &dx, &dy);
    }
    int32_t dx = 0, dy = 0;
};
} // namespace

TEST_F(PointerTest, HoverMovesOnlyRecordTheAnchor)
{
    Dragging = 1; // whatever the drag state says
    EXPECT_EQ(Move(0, -3, 40), 0);
    EXPECT_EQ(DragAnchor, Pack(-3, 40));
    EXPECT_EQ(Dragging, 1u);
}

// x and y lie far apart, so that an axis measured against the other shows.
TEST_F(PointerTest, FivePixelsIsStillAClickSixStartsADrag)
{
    Move(0, 10, 40);
    EXPECT_EQ(Move(PointerLeftButton, 15, 45), 0); // 5 on both axes
    EXPECT_EQ(Dragging, 0u);
    EXPECT_EQ(Move(PointerLeftButton, 10, 34), 0); // 6 on one axis: the drag starts
    EXPECT_EQ(Dragging, 1u);                       // but the window does not move yet
    EXPECT_EQ(Move(PointerLeftButton, 14, 55), 1); // it follows from the next move
    EXPECT_EQ(dx, 4);
    EXPECT_EQ(dy, 15);
    EXPECT_EQ(DragAnchor, Pack(10, 40)); // the anchor stays under the pointer
}

TEST_F(PointerTest, NegativeClientCoordinatesDuringCapture)
{
    Move(0, 10, 20);
    Move(PointerLeftButton, -30, 20);
    ASSERT_EQ(Dragging, 1u);
    EXPECT_EQ(Move(PointerLeftButton, -30, -7), 1);
    EXPECT_EQ(dx, -40);
    EXPECT_EQ(dy, -27);
}

TEST_F(PointerTest, PressWithoutHoverUsesTheInitialAnchor)
{
    EXPECT_EQ(Move(PointerLeftButton, 6, 0), 0);
    EXPECT_EQ(Dragging, 1u);
}
