// Voice command records as a client adds them, and the phrases that find
// them again.
#include "voiced/core/commands.h"
#include <cstring>

namespace {

uint32_t Get32(const uint8_t *at)
{
    return at[0] | at[1] << 8 | at[2] << 16 | uint32_t{at[3]} << 24;
}

bool IsSpace(unsigned char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// A text the record points at: an offset past the header, a zero before the
// record ends, at most limit bytes before it.
bool ReadText(const uint8_t *record, uint32_t recordSize, uint32_t offset, size_t limit,
              std::string *text)
{
    if (offset < RecordHeaderSize || offset >= recordSize)
        return false;
    const uint8_t *start = record + offset;
    const void *zero = memchr(start, 0, recordSize - offset);
    if (!zero)
        return false;
    const size_t length = static_cast<const uint8_t *>(zero) - start;
    if (length > limit)
        return false;
    text->assign(reinterpret_cast<const char *>(start), length);
    return true;
}

// An optional text: offset 0 means none.
bool ReadOptionalText(const uint8_t *record, uint32_t recordSize, uint32_t offset, size_t limit,
                      std::string *text)
{
    if (offset == 0) {
        text->clear();
        return true;
    }
    return ReadText(record, recordSize, offset, limit, text);
}

bool ReadRecord(const uint8_t *record, uint32_t size, VoiceCommand *command)
{
    command->flags = Get32(record + RecordFlagsField);
    command->id = Get32(record + RecordIdField);
    if (!ReadText(record, size, Get32(record + RecordCommandField), MaxPhraseLength,
                  &command->phrase) ||
        !IsSayablePhrase(command->phrase))
        return false;
    if (!ReadText(record, size, Get32(record + RecordCategoryField), MaxCommandText,
                  &command->category) ||
        !ReadOptionalText(record, size, Get32(record + RecordDescriptionField), MaxCommandText,
                          &command->description) ||
        !ReadOptionalText(record, size, Get32(record + RecordCommandTextField), MaxCommandText,
                          &command->commandText))
        return false;
    const uint32_t actionSize = Get32(record + RecordActionSizeField);
    const uint32_t action = Get32(record + RecordActionField);
    command->action.clear();
    if (actionSize == 0)
        return true;
    if (actionSize > MaxActionSize || action < RecordHeaderSize || action > size ||
        actionSize > size - action)
        return false;
    command->action.assign(record + action, record + action + actionSize);
    return true;
}

} // namespace

int ReadCommandBlock(const uint8_t *block, size_t size, uint32_t count,
                     std::vector<VoiceCommand> *commands)
{
    if (!block && size != 0)
        return 0;
    // No record is smaller than its header, so a count the block cannot hold
    // is refused before anything is allocated for it.
    if (count > size / RecordHeaderSize || count > MaxMenuCommands)
        return 0;
    std::vector<VoiceCommand> read(count);
    size_t at = 0;
    for (VoiceCommand &command : read) {
        if (size - at < RecordHeaderSize)
            return 0;
        const uint8_t *record = block + at;
        const uint32_t recordSize = Get32(record + RecordSizeField);
        if (recordSize < RecordHeaderSize || recordSize % 4 != 0 || recordSize > size - at)
            return 0;
        if (!ReadRecord(record, recordSize, &command))
            return 0;
        at += recordSize;
    }
    if (at != size)
        return 0;
    for (VoiceCommand &command : read)
        commands->push_back(std::move(command));
    return 1;
}

std::string PhraseKey(const std::string &phrase)
{
    std::string key;
    key.reserve(phrase.size());
    for (unsigned char c : phrase) {
        if (IsSpace(c))
            continue;
        key += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    return key;
}

bool SamePhrase(const std::string &a, const std::string &b)
{
    return PhraseKey(a) == PhraseKey(b);
}

bool IsSayablePhrase(const std::string &phrase)
{
    if (phrase.empty() || phrase.size() > MaxPhraseLength)
        return false;
    bool words = false;
    for (unsigned char c : phrase) {
        if (c < 0x20 || c == 0x7F)
            return false;
        if (c != ' ')
            words = true;
    }
    return words;
}

std::string TrimPhrase(const std::string &phrase)
{
    size_t first = 0, last = phrase.size();
    while (first < last && IsSpace(static_cast<unsigned char>(phrase[first])))
        ++first;
    while (last > first && IsSpace(static_cast<unsigned char>(phrase[last - 1])))
        --last;
    return phrase.substr(first, last - first);
}
