// The channel between the hub and its clients: lines, fields and messages.
#include "voiced/core/channel.h"
#include <gtest/gtest.h>

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
        const char *verb;
        std::vector<std::string> fields;
    } rows[] = {
        {"LIST", true, "LIST", {}},                     // a verb alone
        {"SAY\tgo left", true, "SAY", {"go left"}},     // one field
        {"MENU\t1\t\t", true, "MENU", {"1", "", ""}},   // empty fields count
        {"SAY\t\xC9t\xE9", true, "SAY", {"\xC9t\xE9"}}, // bytes above 127 pass
        {"", false, "", {}},                            // no verb
        {"say\tx", false, "", {}},                      // lower case verb
        {"SAY go", false, "", {}},                      // space after the verb
        {"\tx", false, "", {}},                         // a field with no verb
        {"SAY\tgo\rleft", false, "", {}},               // carriage return
        {"SAY\tgo\x1b", false, "", {}},                 // escape
        {"SAY\tgo\x7F", false, "", {}},                 // delete
        {"ABCDEFGHIJKLMNOPQ", false, "", {}},           // verb of 17 letters
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
    const std::string line = FormatChannelLine("SAY", {"go\tle\nft\x01", ""});
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

} // namespace
