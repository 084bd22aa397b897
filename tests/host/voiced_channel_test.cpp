// The channel between the hub and its clients: lines, fields, the table of
// verbs and every message's parser and formatter.
#include "voiced/core/hubcore.h"
#include <gtest/gtest.h>
#include <functional>
#include <map>
#include <set>

namespace {

std::vector<std::string> FeedAll(LineReader &reader, const std::string &bytes, bool *ok)
{
    std::vector<std::string> lines;
    *ok = reader.Feed(bytes.data(), bytes.size(), &lines);
    return lines;
}

TEST(VoicedChannel, LinesArriveWholeWhateverTheChunks)
{
    const std::string stream = "SAY\tgo left\nLIST\n\nWATCH\n";
    for (size_t chunk = 1; chunk <= stream.size(); ++chunk) {
        LineReader reader;
        std::vector<std::string> lines;
        for (size_t at = 0; at < stream.size(); at += chunk)
            ASSERT_TRUE(
                reader.Feed(stream.data() + at, std::min(chunk, stream.size() - at), &lines));
        EXPECT_EQ(lines, (std::vector<std::string>{"SAY\tgo left", "LIST", "", "WATCH"}))
            << "in chunks of " << chunk;
        EXPECT_EQ(reader.Pending(), 0u);
    }
}

TEST(VoicedChannel, OversizedLinesAndNulBytesBreakTheStream)
{
    bool ok = false;
    LineReader longest;
    auto lines = FeedAll(longest, std::string(MaxChannelLine, 'x') + "\n", &ok);
    EXPECT_TRUE(ok) << "a line of exactly the limit";
    ASSERT_EQ(lines.size(), 1u);

    LineReader tooLong;
    FeedAll(tooLong, std::string(MaxChannelLine, 'x'), &ok);
    EXPECT_TRUE(ok) << "not yet over";
    FeedAll(tooLong, "x", &ok);
    EXPECT_FALSE(ok) << "one byte over, without waiting for its end";
    lines = FeedAll(tooLong, "\nLIST\n", &ok);
    EXPECT_FALSE(ok) << "a broken stream stays broken";
    EXPECT_TRUE(lines.empty());
    EXPECT_EQ(tooLong.Pending(), 0u) << "nothing of it is kept";

    LineReader nul;
    lines = FeedAll(nul, std::string("LIST\nSA\0Y\n", 10), &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(lines, std::vector<std::string>{"LIST"}) << "lines before the NUL still count";
}

TEST(VoicedChannel, LineGrammar)
{
    struct Row {
        const char *line;
        bool ok;
        Verb verb;
        std::vector<std::string> fields;
    } rows[] = {
        {"LIST", true, Verb::List, {}},                      // a verb alone
        {"SAY\tgo left", true, Verb::Say, {"go left"}},      // one field
        {"MENU\t1\t\t", true, Verb::Menu, {"1", "", ""}},    // empty fields count
        {"SAY\t\xC9t\xE9", true, Verb::Say, {"\xC9t\xE9"}},  // bytes above 127 pass
        {"ABCDEFGHIJKLMNOP\tx", true, Verb::Unknown, {"x"}}, // a verb the channel lacks
        {"", false, Verb::Unknown, {}},                      // no verb
        {"say\tx", false, Verb::Unknown, {}},                // lower case verb
        {"SAY go", false, Verb::Unknown, {}},                // space after the verb
        {"\tx", false, Verb::Unknown, {}},                   // a field with no verb
        {"SAY\tgo\rleft", false, Verb::Unknown, {}},         // carriage return
        {"SAY\tgo\x1b", false, Verb::Unknown, {}},           // escape
        {"SAY\tgo\x7F", false, Verb::Unknown, {}},           // delete
        {"ABCDEFGHIJKLMNOPQ", false, Verb::Unknown, {}},     // verb of 17 letters
    };
    for (const Row &row : rows) {
        ChannelMessage message;
        EXPECT_EQ(ParseChannelLine(row.line, &message), row.ok) << "\"" << row.line << "\"";
        if (!row.ok)
            continue;
        EXPECT_EQ(message.verb, row.verb);
        EXPECT_EQ(message.fields, row.fields);
    }
}

TEST(VoicedChannel, FormattedLinesAlwaysParse)
{
    const std::string line = FormatChannelLine(Verb::Say, {"go\tle\nft\x01", ""});
    EXPECT_EQ(line, "SAY\tgo le ft \t\n");
    ChannelMessage message;
    ASSERT_TRUE(ParseChannelLine(line.substr(0, line.size() - 1), &message));
    EXPECT_EQ(message.fields, (std::vector<std::string>{"go le ft ", ""}));
}

ChannelMessage Parsed(const std::string &line)
{
    ChannelMessage message;
    EXPECT_TRUE(ParseChannelLine(line, &message)) << line;
    return message;
}

TEST(VoicedChannel, MenuNotices)
{
    MenuNotice notice{7, true, true, "Nelko", "Main", {"Go Left", "Bye Bye"}};
    std::string line = FormatMenuNotice(notice);
    EXPECT_EQ(line, "MENU\t7\t1\t1\tNelko\tMain\tGo Left\tBye Bye\n");
    MenuNotice read;
    ASSERT_TRUE(ParseMenuNotice(Parsed(line.substr(0, line.size() - 1)), &read));
    EXPECT_EQ(read.id, 7u);
    EXPECT_TRUE(read.active);
    EXPECT_TRUE(read.listening);
    EXPECT_EQ(read.application, "Nelko");
    EXPECT_EQ(read.phrases, notice.phrases);

    const char *refused[] = {
        "MENU\t7\t1\t1\tNelko",                                  // no state
        "MENU\tx\t1\t1\tNelko\tMain",                            // id not a number
        "MENU\t-1\t1\t1\tNelko\tMain",                           // negative id
        "MENU\t4294967296\t1\t1\tNelko\tMain",                   // id past 32 bits
        "MENU\t07\t1\t1\tNelko\tMain",                           // leading zero
        "MENU\t7\t2\t1\tNelko\tMain",                            // flag not 0 or 1
        "MENU\t7\t0\t1\tNelko\tMain",                            // listening but not active
        "MENU\t7\t1\t1\tNelko\tMain\t",                          // an empty phrase
        "MENU\t7\t1\t1\tNelko\tMain\t  ",                        // a phrase of spaces
        "MENU\t7\t1\t1\tabcdefghijabcdefghijabcdefghijab\tMain", // application of 32
    };
    for (const char *line : refused) {
        MenuNotice ignored;
        EXPECT_FALSE(ParseMenuNotice(Parsed(line), &ignored)) << line;
    }
    // More phrases than a menu holds, and a phrase longer than one may be.
    std::string many = "MENU\t1\t1\t1\ta\tb";
    for (size_t i = 0; i <= MaxMenuCommands; ++i)
        many += "\tWave";
    MenuNotice ignored;
    EXPECT_FALSE(ParseMenuNotice(Parsed(many), &ignored));
    EXPECT_FALSE(ParseMenuNotice(
        Parsed("MENU\t1\t1\t1\ta\tb\t" + std::string(MaxPhraseLength + 1, 'w')), &ignored));
}

TEST(VoicedChannel, PhraseDoneAndHeardNotices)
{
    PhraseNotice phrase;
    ASSERT_TRUE(ParsePhraseNotice(Parsed("PHRASE\t12\tGo Left"), &phrase));
    EXPECT_EQ(phrase.seq, 12u);
    EXPECT_EQ(phrase.phrase, "Go Left");
    EXPECT_EQ(FormatPhraseNotice(phrase), "PHRASE\t12\tGo Left\n");
    EXPECT_FALSE(ParsePhraseNotice(Parsed("PHRASE\t0\tGo Left"), &phrase)) << "seq 0";
    EXPECT_FALSE(ParsePhraseNotice(Parsed("PHRASE\t1\t "), &phrase)) << "nothing said";
    EXPECT_FALSE(ParsePhraseNotice(Parsed("PHRASE\t1\ta\tb"), &phrase)) << "a field too many";

    DoneNotice done;
    done.seq = 3;
    done.outcome = Outcome::Ran;
    done.micros = 1500;
    done.command = "Go Left";
    done.application = "Nelko";
    done.state = "Main";
    std::string line = FormatDoneNotice(done);
    EXPECT_EQ(line, "DONE\t3\tran\t1500\tGo Left\tNelko\tMain\n");
    DoneNotice read;
    ASSERT_TRUE(ParseDoneNotice(Parsed(line.substr(0, line.size() - 1)), &read));
    EXPECT_EQ(read.outcome, Outcome::Ran);
    EXPECT_EQ(read.micros, 1500u);
    EXPECT_EQ(read.command, "Go Left");

    done.phrase = "go left";
    line = FormatHeardNotice(done);
    EXPECT_EQ(line, "HEARD\t3\tran\t1500\tgo left\tGo Left\tNelko\tMain\n");
    ASSERT_TRUE(ParseHeardNotice(Parsed(line.substr(0, line.size() - 1)), &read));
    EXPECT_EQ(read.phrase, "go left");

    const char *refused[] = {
        "DONE\t3\tran\t1500\t\tNelko\tMain",          // ran, but names no command
        "DONE\t3\tother\t1500\tGo Left\tNelko\tMain", // other, yet names one
        "DONE\t3\tnobody\t0\t\t\t",                   // only the hub says nobody
        "DONE\t3\tsang\t0\t\t\t",                     // no such outcome
        "DONE\t3\tother\t1.5\t\t\t",                  // micros not whole
        "DONE\t3\tother\t0\t\t",                      // a field short
    };
    for (const char *bad : refused)
        EXPECT_FALSE(ParseDoneNotice(Parsed(bad), &read)) << bad;
    EXPECT_TRUE(ParseHeardNotice(Parsed("HEARD\t3\tnobody\t0\tgo\t\t\t"), &read));
    const std::string application32(32, 'a');
    EXPECT_FALSE(
        ParseDoneNotice(Parsed("DONE\t3\tother\t0\t\t" + application32 + "\tMain"), &read));
    EXPECT_FALSE(
        ParseHeardNotice(Parsed("HEARD\t3\tother\t0\tgo\t\t" + application32 + "\tMain"), &read));
}

// ---------------------------------------------------------------------------
// Every message through its own parser and formatter: a row per message with
// its line on the wire and a line of the same verb that breaks its rules.

using Reformat = std::function<bool(const ChannelMessage &, std::string *)>;

template <class Notice>
Reformat Via(bool (*parse)(const ChannelMessage &, Notice *), std::string (*format)(const Notice &))
{
    return [=](const ChannelMessage &message, std::string *line) {
        Notice notice;
        if (!parse(message, &notice))
            return false;
        *line = format(notice);
        return true;
    };
}

Reformat Bare(Verb verb)
{
    return [=](const ChannelMessage &message, std::string *line) {
        if (!ParseEmptyNotice(message, verb))
            return false;
        *line = FormatEmptyNotice(verb);
        return true;
    };
}

struct MessageRow {
    Verb verb;
    std::string line;
    std::string malformed;
    const char *why; // what is wrong with it
    Reformat reformat;
};

const std::vector<MessageRow> &MessageRows()
{
    static const std::vector<MessageRow> rows = {
        {Verb::Say, "SAY\tgo left\t100", "SAY\tgo left\t101", "a score over 100",
         Via(ParseSayNotice, FormatSayNotice)},
        {Verb::Said, "SAID\t4\t1", "SAID\t4", "no count of services",
         Via(ParseSaidNotice, FormatSaidNotice)},
        {Verb::Listen, "LISTEN\tC:\\clips\\bye.wav",
         "LISTEN\tC:\\" + std::string(MaxListenPath - 2, 'p'), "a path too long",
         Via(ParseListenNotice, FormatListenNotice)},
        {Verb::Listening, "LISTENING\t1940", "LISTENING\t1.9", "not a whole number",
         Via(ParseListeningNotice, FormatListeningNotice)},
        {Verb::Refused, "REFUSED\tno recogniser", "REFUSED\tno\trecogniser", "two reasons",
         Via(ParseRefusedNotice, FormatRefusedNotice)},
        {Verb::List, "LIST", "LIST\tx", "a field", Bare(Verb::List)},
        {Verb::Commands, "COMMANDS\tGo Left\tBye Bye", "COMMANDS\tGo Left\t ",
         "a phrase of a space", Via(ParseCommandsNotice, FormatCommandsNotice)},
        {Verb::Watch, "WATCH", "WATCH\t", "an empty field", Bare(Verb::Watch)},
        {Verb::Status, "STATUS", "STATUS\t1", "the question takes nothing", Bare(Verb::Status)},
        {Verb::Status, "STATUS\t99\t100\t200", "STATUS\t99\tx", "a pid not a number",
         Via(ParseStatusNotice, FormatStatusNotice)},
        {Verb::Show, "SHOW", "SHOW\t1", "a field", Bare(Verb::Show)},
        {Verb::Service, "SERVICE\t812", "SERVICE\t0812", "a leading zero",
         Via(ParseServiceNotice, FormatServiceNotice)},
        {Verb::Menu, "MENU\t1\t1\t1\tNelko\tMain\tGo Left", "MENU\t1\t0\t1\tNelko\tMain",
         "listening but not active", Via(ParseMenuNotice, FormatMenuNotice)},
        {Verb::Drop, "DROP\t1", "DROP\t4294967296", "an id past 32 bits",
         Via(ParseDropNotice, FormatDropNotice)},
        {Verb::Done, "DONE\t4\tran\t1830\tGo Left\tNelko\tMain", "DONE\t0\tother\t1\t\t\t", "seq 0",
         Via(ParseDoneNotice, FormatDoneNotice)},
        {Verb::Phrase, "PHRASE\t4\tgo left", "PHRASE\t4", "no phrase",
         Via(ParsePhraseNotice, FormatPhraseNotice)},
        {Verb::Level, "LEVEL\t65535", "LEVEL\t65536", "a level over MaxLevel",
         Via(ParseLevelNotice, FormatLevelNotice)},
        {Verb::Changed, "CHANGED", "CHANGED\tx", "a field", Bare(Verb::Changed)},
        {Verb::Heard, "HEARD\t4\tnobody\t0\tgo left\t\t\t", "HEARD\t4\tran\t0\tgo\t\t\t",
         "ran, but names no command", Via(ParseHeardNotice, FormatHeardNotice)},
        {Verb::Error, "ERROR\tunknown verb", "ERROR", "no reason",
         Via(ParseErrorNotice, FormatErrorNotice)},
    };
    return rows;
}

TEST(VoicedChannel, EveryVerbHasItsMessages)
{
    std::set<Verb> covered;
    for (const MessageRow &row : MessageRows()) {
        covered.insert(row.verb);
        EXPECT_EQ(row.line.substr(0, row.line.find('\t')), VerbName(row.verb));
    }
    for (const VerbEntry &entry : Verbs)
        EXPECT_TRUE(covered.count(entry.verb)) << entry.name << " has no row";
    EXPECT_STREQ(VerbName(Verb::Unknown), "");
}

// Each row's line formats back exactly; its malformed line, and every other
// message's line, is refused by its parser.
TEST(VoicedChannel, EveryMessageFormatsBackAndRefusesWhatBreaksItsRules)
{
    const auto &rows = MessageRows();
    for (size_t i = 0; i < rows.size(); ++i) {
        const MessageRow &row = rows[i];
        SCOPED_TRACE(row.line);
        const ChannelMessage message = Parsed(row.line);
        EXPECT_EQ(message.verb, row.verb);
        std::string line;
        ASSERT_TRUE(row.reformat(message, &line));
        EXPECT_EQ(line, row.line + "\n");
        const ChannelMessage malformed = Parsed(row.malformed);
        EXPECT_EQ(malformed.verb, row.verb) << row.why;
        EXPECT_FALSE(row.reformat(malformed, &line)) << row.why;
        for (size_t j = 0; j < rows.size(); ++j)
            EXPECT_TRUE(i == j || !rows[j].reformat(message, &line)) << "taken as " << rows[j].line;
    }
}

struct RefusalLink : HubCore::Link {
    std::map<int, std::vector<std::string>> sent;
    std::set<int> dropped;
    void Send(int client, const std::string &line) override { sent[client].push_back(line); }
    void Drop(int client) override { dropped.insert(client); }
};

// A client that is no service may send only what any client may; a service
// may send a service's verbs too; nobody may send the hub's.
TEST(VoicedChannel, TheHubTakesEachVerbOnlyFromWhoMaySendIt)
{
    const std::map<Sender, std::string> refusal = {{Sender::Service, "ERROR\tnot a service\n"},
                                                   {Sender::Hub, "ERROR\tunknown verb\n"}};
    std::set<Verb> tried;
    for (const MessageRow &row : MessageRows()) {
        if (!tried.insert(row.verb).second)
            continue; // STATUS: the question, not the answer
        SCOPED_TRACE(row.line);
        RefusalLink link;
        HubCore hub(&link);
        const Sender sender = VerbSender(row.verb);
        hub.Opened(1);
        hub.Received(1, row.line);
        EXPECT_EQ(link.dropped.count(1), sender != Sender::AnyClient);
        if (sender != Sender::AnyClient) {
            ASSERT_FALSE(link.sent[1].empty());
            EXPECT_EQ(link.sent[1].back(), refusal.at(sender));
        }
        hub.Opened(2);
        hub.Received(2, "SERVICE\t200");
        hub.Received(2, row.line);
        if (sender != Sender::AnyClient) {
            EXPECT_EQ(link.dropped.count(2), sender == Sender::Hub) << "from a service";
        }
    }
}

} // namespace
