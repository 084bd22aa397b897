// Voice command records for the service's tests: a well-formed record laid
// out as Nelko packs it, and the field access the tests use to spoil it.
#pragma once
#include "app/app.h"
#include "fake_strings.h"
#include "voice/voice.h"
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace voicedtest {

inline void Put32(std::vector<uint8_t> &bytes, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

inline uint32_t Get32(const std::vector<uint8_t> &bytes, size_t at)
{
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | uint32_t{bytes[at + 3]} << 24;
}

// header, 4-byte action value, phrase, description, category "Main", zero
// word; the texts padded to whole words with at least one zero.
inline std::vector<uint8_t> Record(const std::string &phrase, uint32_t action, uint32_t id = 0)
{
    const uint32_t room = (static_cast<uint32_t>(phrase.size()) + 4) & ~3u;
    const uint32_t size = 44 + 2 * room + 8;
    std::vector<uint8_t> r(size, 0);
    Put32(r, 0, size);
    Put32(r, 8, id);
    Put32(r, 12, 40);
    Put32(r, 16, 40 + room);
    Put32(r, 20, 40 + 2 * room);
    Put32(r, 28, 36);
    Put32(r, 32, 4);
    Put32(r, 36, action);
    memcpy(&r[40], phrase.data(), phrase.size());
    memcpy(&r[40 + room], phrase.data(), phrase.size());
    memcpy(&r[40 + 2 * room], "Main", 4);
    return r;
}

inline std::vector<uint8_t> Block(const std::vector<std::vector<uint8_t>> &records)
{
    std::vector<uint8_t> block;
    for (const auto &r : records)
        block.insert(block.end(), r.begin(), r.end());
    return block;
}

// Nelko's own block with the shipped labels, as its voice set-up hands it to
// Add; empty when it cannot be built.
inline std::vector<uint8_t> NelkosBlock()
{
    const uint16_t savedCount = CommandCount;
    CommandCount = 11;
    ClearFakeStrings();
    SetShippedCommandLabels();
    CommandListBlock block = {nullptr, 0};
    uint32_t count = 0;
    std::vector<uint8_t> bytes;
    if (BuildCommandListBlock(&block, &count))
        bytes.assign(block.data, block.data + block.size);
    free(block.data);
    CommandCount = savedCount;
    ClearFakeStrings();
    return bytes;
}

} // namespace voicedtest
