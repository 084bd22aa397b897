// Voice commands: the records a client adds to a voice menu, checked before
// any is kept, and the phrase matching that finds them again.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Limits of what a menu keeps; a block beyond them is refused. They bound the
// size of a menu's line on the channel (MaxMenuCommands phrases of at most
// MaxPhraseLength bytes fit well inside MaxChannelLine).
constexpr size_t MaxPhraseLength = 127; // bytes, without the terminating zero
constexpr size_t MaxMenuCommands = 256;
// Menus one service keeps and publishes; the hub refuses a service with more.
constexpr size_t MaxServiceMenus = 64;
constexpr size_t MaxCommandText = 1024; // description, category, command text
constexpr size_t MaxActionSize = 4096;

// One voice command record: nine 32-bit little-endian fields, then the data
// its offsets point into (counted from the record's own start).
enum CommandRecordField : uint32_t {
    RecordSizeField = 0,
    RecordFlagsField = 4,
    RecordIdField = 8,
    RecordCommandField = 12,     // offset of the phrase
    RecordDescriptionField = 16, // offset of the description, 0 for none
    RecordCategoryField = 20,    // offset of the category
    RecordCommandTextField = 24, // offset of the command text, 0 for none
    RecordActionField = 28,      // offset of the action data
    RecordActionSizeField = 32,  // its size in bytes, 0 for none
    RecordHeaderSize = 36,       // the data starts here
};

// A command as a menu keeps it: its own copies of everything.
struct VoiceCommand {
    uint32_t id = 0;
    uint32_t flags = 0;
    std::string phrase;
    std::string description;
    std::string category;
    std::string commandText;
    std::vector<uint8_t> action; // exactly as added
};

// Reads count records packed back to back in block[0, size). Every record is
// checked before any is kept: its size is a multiple of 4, at least the
// header and inside the block; every offset points past the header and inside
// the record; the phrase, category and any description and command text end
// with a zero inside the record; the action data lies inside the record; and
// the records add up to exactly size. The phrase must be one a user can say
// (IsSayablePhrase). Returns 1 and appends the commands, or 0 leaving
// *commands as it was.
int ReadCommandBlock(const uint8_t *block, size_t size, uint32_t count,
                     std::vector<VoiceCommand> *commands);

// Phrases compare without regard to case or spacing: "go  left", "Go Left"
// and "GoLeft" are one phrase. The key is the phrase in lower case without
// white space.
std::string PhraseKey(const std::string &phrase);
bool SamePhrase(const std::string &a, const std::string &b);
// 1 to MaxPhraseLength bytes, no control characters, at least one that is
// not white space.
bool IsSayablePhrase(const std::string &phrase);
// Trims white space at both ends (a typed phrase).
std::string TrimPhrase(const std::string &phrase);
