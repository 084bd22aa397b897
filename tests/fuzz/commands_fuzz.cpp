// The command-block reader (a client's Add): a 32-bit record count, then the
// block. A block read keeps exactly count commands, each within the limits;
// a block refused keeps nothing.
#include "tests/fuzz/fuzz.h"
#include "voiced/core/commands.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4)
        return 0;
    const uint32_t count = data[0] | data[1] << 8 | data[2] << 16 | uint32_t{data[3]} << 24;
    std::vector<VoiceCommand> commands(1); // one kept before: it must stay as it is
    commands[0].phrase = "kept";
    // The block ends where the input ends, so the sanitizer sees any read past it.
    const int read = ReadCommandBlock(size > 4 ? data + 4 : nullptr, size - 4, count, &commands);
    Require(commands[0].phrase == "kept", "a command kept before was changed");
    if (!read) {
        Require(commands.size() == 1, "a refused block kept something");
        return 0;
    }
    Require(commands.size() == 1 + size_t{count}, "not count commands kept");
    for (size_t i = 1; i < commands.size(); ++i) {
        const VoiceCommand &c = commands[i];
        Require(IsSayablePhrase(c.phrase), "a phrase no one can say kept");
        Require(c.category.size() <= MaxCommandText && c.description.size() <= MaxCommandText &&
                    c.commandText.size() <= MaxCommandText,
                "a text over its limit kept");
        Require(c.action.size() <= MaxActionSize, "an action over its limit kept");
    }
    return 0;
}
