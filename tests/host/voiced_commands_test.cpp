// The service's reading of a command block and its phrase matching.
#include "app/app.h"
#include "fake_strings.h"
#include "voice/voice.h"
#include "voiced/core/commands.h"
#include "voiced_records.h"
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>

using voicedtest::Block;
using voicedtest::Get32;
using voicedtest::Put32;
using voicedtest::Record;

namespace {

// Nelko's own block, as its voice set-up hands it to Add, reads back as the
// eleven commands with their action values 1 to 11.
TEST(VoicedCommandBlock, NelkosBlockReadsBackAsElevenCommands)
{
    const std::vector<uint8_t> block = voicedtest::NelkosBlock();
    ASSERT_FALSE(block.empty());
    std::vector<VoiceCommand> commands;
    EXPECT_EQ(ReadCommandBlock(block.data(), block.size(), 11, &commands), 1);

    const char *labels[] = {"Random",  "Go Left", "Go Right", "Run Left",    "Run Right", "Go Up",
                            "Go Down", "Wave",    "Dance",    "About Nelko", "Bye Bye"};
    ASSERT_EQ(commands.size(), 11u);
    for (uint32_t i = 0; i < 11; ++i) {
        SCOPED_TRACE(labels[i]);
        EXPECT_EQ(commands[i].phrase, labels[i]);
        EXPECT_EQ(commands[i].description, labels[i]);
        EXPECT_EQ(commands[i].category, "Main");
        EXPECT_EQ(commands[i].commandText, "");
        ASSERT_EQ(commands[i].action.size(), 4u);
        EXPECT_EQ(Get32(commands[i].action, 0), i + 1);
    }
}

// One spoilt field of the second of three records; every row must be refused
// and leave the list as it was. Offsets are from the record's start (68 bytes
// for "Go Left": phrase at 40, description at 48, category at 56).
TEST(VoicedCommandBlock, EveryMalformedRecordIsRefusedAndNothingKept)
{
    struct Row {
        const char *why;
        std::function<void(std::vector<uint8_t> &)> spoil; // on the middle record
        int sizeChange;                                    // to the block size handed over
        int countChange;
    } rows[] = {
        {"record size 0", [](auto &r) { Put32(r, 0, 0); }, 0, 0},
        {"record size below the header", [](auto &r) { Put32(r, 0, 32); }, 0, 0},
        {"record size not a whole word", [](auto &r) { Put32(r, 0, 67); }, 0, 0},
        // The middle record made the last: 66 of its 68 bytes, the third
        // (76 bytes) left out, so that no record after it is misaligned.
        {"last record's size not a whole word", [](auto &r) { Put32(r, 0, 66); }, -78, -1},
        {"record size past the block", [](auto &r) { Put32(r, 0, 0xFFFFFFF0); }, 0, 0},
        {"phrase offset inside the header", [](auto &r) { Put32(r, 12, 8); }, 0, 0},
        {"phrase offset past the record", [](auto &r) { Put32(r, 12, 68); }, 0, 0},
        {"phrase offset wraps", [](auto &r) { Put32(r, 12, 0xFFFFFFFF); }, 0, 0},
        {"phrase without a zero before the end",
         [](auto &r) {
             Put32(r, 12, 64);
             memset(&r[64], 'x', 4);
         },
         0, 0},
        {"empty phrase", [](auto &r) { Put32(r, 12, 47); }, 0, 0},
        {"phrase of spaces only", [](auto &r) { memset(&r[40], ' ', 7); }, 0, 0},
        {"phrase with a tab", [](auto &r) { r[42] = '\t'; }, 0, 0},
        {"no category", [](auto &r) { Put32(r, 20, 0); }, 0, 0},
        {"category without a zero",
         [](auto &r) {
             Put32(r, 20, 64);
             memset(&r[64], 'c', 4);
         },
         0, 0},
        {"description offset past the record", [](auto &r) { Put32(r, 16, 100); }, 0, 0},
        {"command text offset in the header", [](auto &r) { Put32(r, 24, 4); }, 0, 0},
        {"action data running past the record", [](auto &r) { Put32(r, 32, 33); }, 0, 0},
        {"action size that wraps", [](auto &r) { Put32(r, 32, 0xFFFFFFFD); }, 0, 0},
        {"action offset past the record", [](auto &r) { Put32(r, 28, 72); }, 0, 0},
        {"action offset in the header", [](auto &r) { Put32(r, 28, 32); }, 0, 0},
        {"block size a byte short", [](auto &) {}, -1, 0},
        {"block size a byte long", [](auto &) {}, +1, 0},
        {"a record more than the block holds", [](auto &) {}, 0, +1},
        {"a record fewer than the block holds", [](auto &) {}, 0, -1},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.why);
        auto middle = Record("Go Left", 2);
        row.spoil(middle);
        auto block = Block({Record("Random", 1), middle, Record("Go Right", 3)});
        block.push_back(0); // so that "a byte long" reads a real byte
        std::vector<VoiceCommand> commands(1);
        commands[0].phrase = "kept before";
        EXPECT_EQ(ReadCommandBlock(block.data(), block.size() - 1 + row.sizeChange,
                                   3 + row.countChange, &commands),
                  0);
        ASSERT_EQ(commands.size(), 1u);
        EXPECT_EQ(commands[0].phrase, "kept before");
    }
}

// What the format allows beyond Nelko's own layout.
TEST(VoicedCommandBlock, WellFormedVariationsAreKeptExactly)
{
    struct Row {
        const char *why;
        std::function<void(std::vector<uint8_t> &)> change;
        std::function<void(const VoiceCommand &)> check;
    } rows[] = {
        {"no description and no action data",
         [](auto &r) {
             Put32(r, 16, 0);
             Put32(r, 32, 0);
         },
         [](const VoiceCommand &c) {
             EXPECT_EQ(c.description, "");
             EXPECT_TRUE(c.action.empty());
         }},
        {"a command text after the category",
         [](auto &r) {
             r.resize(r.size() + 8);
             Put32(r, 0, static_cast<uint32_t>(r.size()));
             Put32(r, 24, 68);
             memcpy(&r[68], "west", 5);
         },
         [](const VoiceCommand &c) { EXPECT_EQ(c.commandText, "west"); }},
        {"action data of 12 bytes, ending exactly at the record's end",
         [](auto &r) {
             Put32(r, 28, 56);
             Put32(r, 32, 12);
             Put32(r, 20, 48); // the category moves onto the description
             memcpy(&r[56], "\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c", 12);
         },
         [](const VoiceCommand &c) {
             ASSERT_EQ(c.action.size(), 12u);
             EXPECT_EQ(c.action[0], 1);
             EXPECT_EQ(c.action[11], 12);
             EXPECT_EQ(c.category, "Go Left");
         }},
        {"an id and flags kept as given",
         [](auto &r) {
             Put32(r, 4, 0x80000001);
             Put32(r, 8, 4242);
         },
         [](const VoiceCommand &c) {
             EXPECT_EQ(c.flags, 0x80000001u);
             EXPECT_EQ(c.id, 4242u);
         }},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.why);
        auto record = Record("Go Left", 2);
        row.change(record);
        std::vector<VoiceCommand> commands;
        ASSERT_EQ(ReadCommandBlock(record.data(), record.size(), 1, &commands), 1);
        ASSERT_EQ(commands.size(), 1u);
        EXPECT_EQ(commands[0].phrase, "Go Left");
        row.check(commands[0]);
    }
}

TEST(VoicedCommandBlock, EmptyBlocksAndLimits)
{
    std::vector<VoiceCommand> commands;
    EXPECT_EQ(ReadCommandBlock(nullptr, 0, 0, &commands), 1) << "nothing to add";
    EXPECT_EQ(ReadCommandBlock(nullptr, 4, 0, &commands), 0) << "a size with no block";
    const uint8_t four[4] = {};
    EXPECT_EQ(ReadCommandBlock(four, 4, 0, &commands), 0) << "bytes that are no record";
    EXPECT_EQ(ReadCommandBlock(four, 0, 1, &commands), 0) << "a record in no bytes";
    EXPECT_TRUE(commands.empty());

    // The longest phrase a menu keeps, and one byte more.
    const std::string longest(MaxPhraseLength, 'a');
    auto ok = Record(longest, 1);
    EXPECT_EQ(ReadCommandBlock(ok.data(), ok.size(), 1, &commands), 1);
    auto tooLong = Record(longest + "a", 1);
    EXPECT_EQ(ReadCommandBlock(tooLong.data(), tooLong.size(), 1, &commands), 0);

    // The longest command text a record keeps, and one byte more: the text
    // after the record's own fields, the record grown to a whole word.
    auto withText = [](size_t length) {
        auto record = Record("Go Left", 2);
        const size_t at = record.size();
        record.resize((at + length + 1 + 3) / 4 * 4);
        memset(&record[at], 'c', length);
        Put32(record, 0, static_cast<uint32_t>(record.size()));
        Put32(record, 24, static_cast<uint32_t>(at));
        return record;
    };
    commands.clear();
    auto fullText = withText(MaxCommandText);
    EXPECT_EQ(ReadCommandBlock(fullText.data(), fullText.size(), 1, &commands), 1);
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0].commandText.size(), MaxCommandText);
    auto textTooLong = withText(MaxCommandText + 1);
    EXPECT_EQ(ReadCommandBlock(textTooLong.data(), textTooLong.size(), 1, &commands), 0);

    // A menu holds at most MaxMenuCommands.
    std::vector<std::vector<uint8_t>> many(MaxMenuCommands + 1, Record("Wave", 8));
    auto block = Block(many);
    commands.clear();
    EXPECT_EQ(ReadCommandBlock(block.data(), block.size(), MaxMenuCommands + 1, &commands), 0);
    block.resize(block.size() - many.back().size());
    EXPECT_EQ(ReadCommandBlock(block.data(), block.size(), MaxMenuCommands, &commands), 1);
}

TEST(VoicedPhrases, CaseAndSpacingDoNotMatter)
{
    struct Row {
        const char *said, *command;
        bool same;
    } rows[] = {
        {"Go Left", "Go Left", true},      // as the menu has it
        {"go left", "Go Left", true},      // lower case
        {"GO LEFT", "Go Left", true},      // upper case
        {"  go   left ", "Go Left", true}, // extra spaces
        {"go\tleft", "Go Left", true},     // a tab between
        {"GoLeft", "Go Left", true},       // no space at all
        {"go lef", "Go Left", false},      // a letter short
        {"go left!", "Go Left", false},    // punctuation counts
        {"go right", "Go Left", false},    // another command
        {"\xC9t\xE9", "\xC9T\xC9", false}, // only ASCII letters fold
        {"\xC9t\xE9", "\xC9t\xE9", true},  // other bytes compare as they are
    };
    for (const Row &row : rows)
        EXPECT_EQ(SamePhrase(row.said, row.command), row.same)
            << "\"" << row.said << "\" against \"" << row.command << "\"";
}

} // namespace
