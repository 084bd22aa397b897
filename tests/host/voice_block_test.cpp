// The command list block handed to the voice menu, byte for byte.
#include "app/app.h"
#include "fake_strings.h"
#include "voice/voice.h"
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <string>

namespace {

uint32_t Get32(const BYTE *at)
{
    return at[0] | at[1] << 8 | at[2] << 16 | uint32_t{at[3]} << 24;
}

class CommandListBlockTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        savedCount = CommandCount;
        CommandCount = 11;
        ClearFakeStrings();
        SetShippedCommandLabels();
    }
    void TearDown() override
    {
        free(block.data);
        CommandCount = savedCount;
        ClearFakeStrings();
    }
    uint16_t savedCount = 0;
    CommandListBlock block = {nullptr, 0};
    uint32_t count = 0;
};

// The label, zero-padded to its room of `room` bytes.
::testing::AssertionResult TextAt(const BYTE *at, const std::string &text, uint32_t room)
{
    std::string expected = text;
    expected.resize(room, '\0');
    std::string got(reinterpret_cast<const char *>(at), room);
    if (got == expected)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "got \"" << got << "\" (" << room << " bytes), expected \"" << text << "\" and zeros";
}

TEST_F(CommandListBlockTest, ShippedLabelsGiveElevenRecordsIn780Bytes)
{
    struct Row {
        const char *label;
        uint32_t room; // the label's padded room L
        uint32_t size; // record size, 44 + 2L + 8
        uint32_t start;
    } rows[] = {
        {"Random", 8, 68, 0},         {"Go Left", 8, 68, 68},     {"Go Right", 12, 76, 136},
        {"Run Left", 12, 76, 212},    {"Run Right", 12, 76, 288}, {"Go Up", 8, 68, 364},
        {"Go Down", 8, 68, 432},      {"Wave", 8, 68, 500},       {"Dance", 8, 68, 568},
        {"About Nelko", 12, 76, 636}, {"Bye Bye", 8, 68, 712},
    };
    ASSERT_EQ(BuildCommandListBlock(&block, &count), 1);
    EXPECT_EQ(count, 11u);
    ASSERT_EQ(block.size, 780u);
    for (uint32_t i = 0; i < 11; ++i) {
        const Row &row = rows[i];
        SCOPED_TRACE(row.label);
        const BYTE *r = block.data + row.start;
        EXPECT_EQ(Get32(r + 0), row.size);                           // dwSize
        EXPECT_EQ(Get32(r + 4), 0u);                                 // dwFlags
        EXPECT_EQ(Get32(r + 8), 0u);                                 // dwID
        EXPECT_EQ(Get32(r + 12), 40u);                               // dwCommand: the phrase
        EXPECT_EQ(Get32(r + 16), 40 + row.room);                     // dwDescription
        EXPECT_EQ(Get32(r + 20), 40 + 2 * row.room);                 // dwCategory
        EXPECT_EQ(Get32(r + 24), 0u);                                // dwCommandText: none
        EXPECT_EQ(Get32(r + 28), 36u);                               // dwAction
        EXPECT_EQ(Get32(r + 32), 4u);                                // dwActionSize
        EXPECT_EQ(Get32(r + 36), i + 1);                             // the action value
        EXPECT_TRUE(TextAt(r + 40, row.label, row.room));            // phrase
        EXPECT_TRUE(TextAt(r + 40 + row.room, row.label, row.room)); // description
        EXPECT_TRUE(TextAt(r + 40 + 2 * row.room, "Main", 8));       // category
        EXPECT_EQ(Get32(r + 48 + 2 * row.room), 0u);                 // closing zero word
    }
}

// "Wave" fills its four characters exactly, so four zeros follow it.
TEST_F(CommandListBlockTest, WaveRecordByteForByte)
{
    static const BYTE expected[68] = {
        68,  0, 0, 0,  0, 0,   0,   0,   0,   0,   0, 0,  40, 0, 0,   0,   48,
        0,   0, 0, 56, 0, 0,   0,   0,   0,   0,   0, 36, 0,  0, 0,   4,   0,
        0,   0, 8, 0,  0, 0,   'W', 'a', 'v', 'e', 0, 0,  0,  0, 'W', 'a', 'v',
        'e', 0, 0, 0,  0, 'M', 'a', 'i', 'n', 0,   0, 0,  0,  0, 0,   0,   0,
    };
    ASSERT_EQ(BuildCommandListBlock(&block, &count), 1);
    ASSERT_EQ(block.size, 780u);
    EXPECT_EQ(memcmp(block.data + 500, expected, sizeof expected), 0);
}

TEST_F(CommandListBlockTest, LongestLabelGivesA180ByteRecord)
{
    const std::string label(63, 'x');
    SetFakeString(8000, label.c_str());
    CommandCount = 2;
    ASSERT_EQ(BuildCommandListBlock(&block, &count), 1);
    EXPECT_EQ(count, 2u);
    ASSERT_EQ(block.size, 180u + 68u); // then "Go Left"
    EXPECT_EQ(Get32(block.data), 180u);
    EXPECT_EQ(Get32(block.data + 16), 104u); // description at 40 + 64
    EXPECT_EQ(Get32(block.data + 20), 168u); // category at 40 + 128
    EXPECT_TRUE(TextAt(block.data + 40, label, 64));
    EXPECT_TRUE(TextAt(block.data + 104, label, 64));
    EXPECT_TRUE(TextAt(block.data + 168, "Main", 8));
    EXPECT_EQ(Get32(block.data + 180), 68u); // the next record starts right after
    EXPECT_EQ(Get32(block.data + 180 + 36), 2u);
}

TEST_F(CommandListBlockTest, NoCommandsGiveAnEmptyBlock)
{
    CommandCount = 0;
    count = 99;
    ASSERT_EQ(BuildCommandListBlock(&block, &count), 1);
    EXPECT_EQ(block.size, 0u);
    EXPECT_EQ(count, 0u);
}

// A missing or empty label fails the whole block; the records built so far
// are freed (the leak checker watches) and nothing is handed out.
TEST_F(CommandListBlockTest, MissingLabelFailsAndHandsOutNothing)
{
    struct Case {
        UINT id;
        const char *text; // nullptr: missing
    } cases[] = {
        {8005, nullptr}, // after five records
        {8000, nullptr}, // the first
        {8010, ""},      // the last, empty
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.id);
        SetShippedCommandLabels();
        SetFakeString(c.id, c.text);
        CommandListBlock untouched = {reinterpret_cast<BYTE *>(&count), 12345};
        count = 77;
        EXPECT_EQ(BuildCommandListBlock(&untouched, &count), 0);
        EXPECT_EQ(untouched.data, reinterpret_cast<BYTE *>(&count));
        EXPECT_EQ(untouched.size, 12345u);
        EXPECT_EQ(count, 77u);
    }
}

} // namespace
