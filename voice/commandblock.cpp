// The command list block: the voice command records handed to the voice menu.
#include "app/app.h"
#include "resources/ids.h"
#include "voice/voice.h"
#include <cstdlib>
#include <cstring>

namespace {

// One record, offsets from its own start. All numbers are 32-bit
// little-endian; the texts follow the nine fields and the action value.
enum : DWORD {
    SizeField = 0,
    FlagsField = 4,
    IdField = 8,
    CommandField = 12,     // offset of the phrase
    DescriptionField = 16, // offset of the description
    CategoryField = 20,    // offset of the category
    CommandTextField = 24, // offset of the command text; none
    ActionField = 28,      // offset of the action data
    ActionSizeField = 32,
    ActionData = 36, // the action value, command number + 1
    Phrase = 40,     // then the description L bytes on, the category 2L on
};
constexpr DWORD ActionSize = 4;
constexpr char Category[] = "Main";
constexpr DWORD LabelBufferSize = 64; // labels have at most 63 characters

// Room for n characters and at least one zero, in whole 32-bit words.
constexpr DWORD Padded(DWORD n)
{
    return (n + 4) & ~DWORD{3};
}
constexpr DWORD CategorySize = Padded(sizeof Category - 1);
// The fields, the action value, phrase, description, category and a closing
// zero word.
constexpr DWORD RecordSize(DWORD padded)
{
    return Phrase + 2 * padded + CategorySize + 4;
}

void Put32(BYTE *at, DWORD value)
{
    at[0] = static_cast<BYTE>(value);
    at[1] = static_cast<BYTE>(value >> 8);
    at[2] = static_cast<BYTE>(value >> 16);
    at[3] = static_cast<BYTE>(value >> 24);
}

// Writes the record of a label of length n with the given action value into
// a zeroed record of RecordSize(Padded(n)) bytes.
void WriteRecord(BYTE *record, const char *label, DWORD n, DWORD action)
{
    const DWORD padded = Padded(n);
    Put32(record + SizeField, RecordSize(padded));
    Put32(record + FlagsField, 0);
    Put32(record + IdField, 0);
    Put32(record + CommandField, Phrase);
    Put32(record + DescriptionField, Phrase + padded);
    Put32(record + CategoryField, Phrase + 2 * padded);
    Put32(record + CommandTextField, 0);
    Put32(record + ActionField, ActionData);
    Put32(record + ActionSizeField, ActionSize);
    Put32(record + ActionData, action);
    memcpy(record + Phrase, label, n);
    memcpy(record + Phrase + padded, label, n);
    memcpy(record + Phrase + 2 * padded, Category, sizeof Category);
}

} // namespace

int BuildCommandListBlock(CommandListBlock *block, uint32_t *count)
{
    BYTE *data = static_cast<BYTE *>(malloc(0));
    if (!data)
        return 0;
    DWORD total = 0;
    uint32_t i = 0;
    for (; i < CommandCount; ++i) {
        char label[LabelBufferSize];
        const int n = LoadText(IDS_COMMAND_FIRST + i, label, sizeof label);
        if (n <= 0 || static_cast<DWORD>(n) >= sizeof label) {
            free(data);
            return 0;
        }
        const DWORD size = RecordSize(Padded(static_cast<DWORD>(n)));
        BYTE *grown = static_cast<BYTE *>(realloc(data, total + size));
        if (!grown) {
            free(data);
            return 0;
        }
        data = grown;
        memset(data + total, 0, size);
        WriteRecord(data + total, label, static_cast<DWORD>(n), i + 1);
        total += size;
    }
    block->data = data;
    block->size = total;
    *count = i;
    return 1;
}
