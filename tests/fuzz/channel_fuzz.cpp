// The channel as a client or the hub reads it: any bytes through the line
// splitter, each line through the parser and the message parsers. The split
// does not depend on how the bytes arrive, and every message taken formats
// back to the very line it came from (nothing is believed that would not be
// sent the same way).
#include "tests/fuzz/fuzz.h"
#include "voiced/core/channel.h"

namespace {

void CheckMessages(const std::string &line)
{
    ChannelMessage message;
    if (!ParseChannelLine(line, &message))
        return;
    const std::string sent = line + "\n";
    Require(FormatChannelLine(message.verb, message.fields) == sent, "a line does not format back");
    MenuNotice menu;
    if (ParseMenuNotice(message, &menu)) {
        Require(FormatMenuNotice(menu) == sent, "a MENU does not format back");
        Require(menu.application.size() <= 31 && menu.state.size() <= 31, "a MENU name too long");
        Require(menu.phrases.size() <= MaxMenuCommands, "a MENU with too many phrases");
        Require(!menu.listening || menu.active, "a MENU listening while inactive");
    }
    PhraseNotice phrase;
    if (ParsePhraseNotice(message, &phrase))
        Require(FormatPhraseNotice(phrase) == sent, "a PHRASE does not format back");
    DoneNotice done;
    if (ParseDoneNotice(message, &done)) {
        Require(FormatDoneNotice(done) == sent, "a DONE does not format back");
        Require(done.application.size() <= 31 && done.state.size() <= 31, "a DONE name too long");
    }
    if (ParseHeardNotice(message, &done)) {
        Require(FormatHeardNotice(done) == sent, "a HEARD does not format back");
        Require(done.application.size() <= 31 && done.state.size() <= 31, "a HEARD name too long");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const char *bytes = reinterpret_cast<const char *>(data);
    LineReader whole, piecemeal;
    std::vector<std::string> lines, piecewise;
    const bool fine = whole.Feed(bytes, size, &lines);
    bool piecesFine = true;
    for (size_t i = 0; i < size && piecesFine; ++i)
        piecesFine = piecemeal.Feed(bytes + i, 1, &piecewise);
    Require(fine == piecesFine && lines == piecewise, "the split depends on the pieces");
    for (const std::string &line : lines) {
        Require(line.size() <= MaxChannelLine, "an oversized line let through");
        CheckMessages(line);
    }
    return 0;
}
