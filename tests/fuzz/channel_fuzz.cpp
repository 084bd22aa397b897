// The channel as a client or the hub reads it: any bytes through the line
// splitter, each line through the parser and the message parsers. The split
// does not depend on how the bytes arrive, and every message taken formats
// back to the very line it came from (nothing is believed that would not be
// sent the same way).
#include "tests/fuzz/fuzz.h"
#include "voiced/core/channel.h"

namespace {

// A message its parser takes formats back to the line it came from.
template <class Notice>
void RoundTrip(const ChannelMessage &message, const std::string &sent,
               bool (*parse)(const ChannelMessage &, Notice *),
               std::string (*format)(const Notice &), const char *broken)
{
    Notice notice;
    if (parse(message, &notice))
        Require(format(notice) == sent, broken);
}

void CheckMessages(const std::string &line)
{
    ChannelMessage message;
    if (!ParseChannelLine(line, &message))
        return;
    const std::string sent = line + "\n";
    if (message.verb != Verb::Unknown)
        Require(FormatChannelLine(message.verb, message.fields) == sent,
                "a line does not format back");
    if (ParseEmptyNotice(message, message.verb))
        Require(FormatEmptyNotice(message.verb) == sent, "a bare verb does not format back");
    RoundTrip(message, sent, ParseSayNotice, FormatSayNotice, "a SAY does not format back");
    RoundTrip(message, sent, ParseSaidNotice, FormatSaidNotice, "a SAID does not format back");
    RoundTrip(message, sent, ParseListenNotice, FormatListenNotice,
              "a LISTEN does not format back");
    RoundTrip(message, sent, ParseListeningNotice, FormatListeningNotice,
              "a LISTENING does not format back");
    RoundTrip(message, sent, ParseRefusedNotice, FormatRefusedNotice,
              "a REFUSED does not format back");
    RoundTrip(message, sent, ParseErrorNotice, FormatErrorNotice, "an ERROR does not format back");
    RoundTrip(message, sent, ParseCommandsNotice, FormatCommandsNotice,
              "a COMMANDS does not format back");
    RoundTrip(message, sent, ParseStatusNotice, FormatStatusNotice,
              "a STATUS does not format back");
    RoundTrip(message, sent, ParseServiceNotice, FormatServiceNotice,
              "a SERVICE does not format back");
    RoundTrip(message, sent, ParseDropNotice, FormatDropNotice, "a DROP does not format back");
    RoundTrip(message, sent, ParsePhraseNotice, FormatPhraseNotice,
              "a PHRASE does not format back");
    RoundTrip(message, sent, ParseLevelNotice, FormatLevelNotice, "a LEVEL does not format back");
    MenuNotice menu;
    if (ParseMenuNotice(message, &menu)) {
        Require(FormatMenuNotice(menu) == sent, "a MENU does not format back");
        Require(menu.application.size() <= MaxNameLength && menu.state.size() <= MaxNameLength,
                "a MENU name too long");
        Require(menu.phrases.size() <= MaxMenuCommands, "a MENU with too many phrases");
        Require(!menu.listening || menu.active, "a MENU listening while inactive");
    }
    DoneNotice done;
    if (ParseDoneNotice(message, &done)) {
        Require(FormatDoneNotice(done) == sent, "a DONE does not format back");
        Require(done.application.size() <= MaxNameLength && done.state.size() <= MaxNameLength,
                "a DONE name too long");
    }
    if (ParseHeardNotice(message, &done)) {
        Require(FormatHeardNotice(done) == sent, "a HEARD does not format back");
        Require(done.application.size() <= MaxNameLength && done.state.size() <= MaxNameLength,
                "a HEARD name too long");
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
