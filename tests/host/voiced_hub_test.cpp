// The hub's routing: services publish their menus, phrases go to the
// listening ones, results go back to the watchers, and a client that breaks
// the protocol is dropped.
#include "voiced/core/hubcore.h"
#include "voiced/core/idpool.h"
#include <gtest/gtest.h>
#include <map>

namespace {

struct RecordingLink : HubCore::Link {
    std::map<int, std::vector<std::string>> sent; // per client, newlines stripped
    std::vector<int> dropped;
    int changes = 0;
    int shows = 0;
    void Send(int client, const std::string &line) override
    {
        sent[client].push_back(line.substr(0, line.size() - 1));
    }
    void Drop(int client) override { dropped.push_back(client); }
    void Changed() override { ++changes; }
    void ShowWindow() override { ++shows; }
    uint32_t OwnPid() const override { return 99; }
    std::vector<std::string> Take(int client)
    {
        auto lines = std::move(sent[client]);
        sent[client].clear();
        return lines;
    }
};

class VoicedHubTest : public ::testing::Test {
  protected:
    RecordingLink link;
    HubCore hub{&link};

    // A connected service publishing one menu.
    void Service(int client, uint32_t pid, const std::string &menuLine)
    {
        hub.Opened(client);
        hub.Received(client, "SERVICE\t" + std::to_string(pid));
        hub.Received(client, menuLine);
    }
};

const char NelkoMenu[] = "MENU\t1\t1\t1\tNelko\tMain\tRandom\tGo Left\tBye Bye";

TEST_F(VoicedHubTest, PhrasesGoToEveryListeningServiceAndResultsToWatchers)
{
    Service(1, 100, NelkoMenu);
    Service(2, 200, "MENU\t1\t1\t1\tOther\tMain\tHello");
    Service(3, 300, "MENU\t1\t1\t0\tQuiet\tMain\tGo Left"); // active but not listening
    hub.Received(2, "MENU\t2\t0\t0\tOther\tAway\tGo Left"); // has it, but does not listen
    hub.Opened(4);
    hub.Received(4, "WATCH");
    hub.Opened(5);
    hub.Received(5, "SAY\t  go LEFT ");

    EXPECT_EQ(link.Take(5), std::vector<std::string>{"SAID\t1\t1"}) << "one service listens for it";
    EXPECT_EQ(link.Take(1), std::vector<std::string>{"PHRASE\t1\tgo LEFT"});
    EXPECT_EQ(link.Take(2), std::vector<std::string>{"PHRASE\t1\tgo LEFT"})
        << "a listening service without the command hears it too (CommandOther)";
    EXPECT_TRUE(link.Take(3).empty()) << "not listening";
    EXPECT_EQ(hub.Last().waiting, 2);

    hub.Received(2, "DONE\t1\tother\t300\t\tOther\tMain");
    // While the first service still owes its answer: a second answer from
    // the one that gave it, and one from a service never sent the phrase,
    // are not taken.
    hub.Received(2, "DONE\t1\tran\t5\tHello\tOther\tMain");
    hub.Received(3, "DONE\t1\tran\t5\tGo Left\tQuiet\tMain");
    EXPECT_EQ(hub.Last().results.size(), 1u);
    EXPECT_EQ(hub.Last().waiting, 1);
    hub.Received(1, "DONE\t1\tran\t900\tGo Left\tNelko\tMain");
    EXPECT_EQ(link.Take(4), (std::vector<std::string>{
                                "HEARD\t1\tother\t300\tgo LEFT\t\tOther\tMain",
                                "HEARD\t1\tran\t900\tgo LEFT\tGo Left\tNelko\tMain",
                            }));
    ASSERT_EQ(hub.Last().results.size(), 2u);
    EXPECT_EQ(hub.Last().results[1].command, "Go Left");
    EXPECT_EQ(hub.Last().waiting, 0);

    // A second answer for the same phrase, or one for a phrase never sent,
    // changes nothing.
    hub.Received(1, "DONE\t1\tran\t900\tGo Left\tNelko\tMain");
    hub.Received(1, "DONE\t77\tother\t5\t\tNelko\tMain");
    EXPECT_TRUE(link.Take(4).empty());
    EXPECT_TRUE(link.dropped.empty());
}

// A flood while Nelko is inside a long call: its service takes what it can
// queue and drops the rest; the hub counts the drops of one busy spell.
TEST_F(VoicedHubTest, DroppedPhrasesAreCountedUntilTheClientTakesANewerOne)
{
    Service(1, 100, NelkoMenu);
    hub.Opened(4);
    hub.Received(4, "WATCH");
    for (int i = 0; i < 5; ++i)
        hub.Say("Go Left");
    hub.Received(1, "DONE\t4\tdropped\t0\t\tNelko\tMain");
    hub.Received(1, "DONE\t5\tdropped\t0\t\t\t"); // dropped before the service's thread saw it
    EXPECT_EQ(hub.Last().seq, 5u);
    EXPECT_EQ(hub.Last().dropped, 2u) << "two in a row";
    ASSERT_EQ(hub.Last().results.size(), 1u);
    EXPECT_EQ(hub.Last().results[0].outcome, Outcome::Dropped);
    EXPECT_EQ(link.Take(4).back(), "HEARD\t5\tdropped\t0\tGo Left\t\tNelko\tMain");
    // The phrases it had queued come after the call: older than the drops,
    // they end no spell.
    for (const char *done :
         {"DONE\t1\tran\t9\tGo Left\tNelko\tMain", "DONE\t2\tran\t9\tGo Left\tNelko\tMain",
          "DONE\t3\tran\t9\tGo Left\tNelko\tMain"})
        hub.Received(1, done);
    hub.Say("Go Left");
    hub.Received(1, "DONE\t6\tdropped\t0\t\tNelko\tMain");
    EXPECT_EQ(hub.Last().dropped, 3u) << "still busy";
    // A newer phrase taken ends the spell.
    hub.Say("Go Left");
    hub.Received(1, "DONE\t7\tran\t9\tGo Left\tNelko\tMain");
    hub.Say("Go Left");
    hub.Received(1, "DONE\t8\tdropped\t0\t\tNelko\tMain");
    EXPECT_EQ(hub.Last().dropped, 1u);
    EXPECT_TRUE(link.dropped.empty());
}

TEST_F(VoicedHubTest, NobodyListeningIsReportedAtOnce)
{
    Service(1, 100, "MENU\t1\t0\t0\tNelko\tMain\tGo Left"); // not active
    hub.Opened(2);
    hub.Received(2, "WATCH");
    uint32_t matching = 9;
    EXPECT_EQ(hub.Say("Go Left", &matching), 1u);
    EXPECT_EQ(matching, 0u);
    EXPECT_TRUE(link.Take(1).empty());
    EXPECT_EQ(link.Take(2), std::vector<std::string>{"HEARD\t1\tnobody\t0\tGo Left\t\t\t"});
    EXPECT_EQ(hub.Say("   "), 0u) << "nothing to say";
    EXPECT_EQ(hub.Say(std::string(MaxPhraseLength + 1, 'a')), 0u);
}

TEST_F(VoicedHubTest, MenusAreListedUpdatedAndDropped)
{
    Service(1, 100, NelkoMenu);
    Service(2, 200, "MENU\t4\t1\t1\tOther\tMain\tgo  left\tWave");
    hub.Opened(3);
    hub.Received(3, "LIST");
    EXPECT_EQ(link.Take(3), std::vector<std::string>{"COMMANDS\tRandom\tGo Left\tBye Bye\tWave"})
        << "each phrase once, as the first menu spells it";
    EXPECT_TRUE(hub.Listening());

    hub.Received(1, "MENU\t1\t1\t0\tNelko\tMain\tRandom"); // recognition switched off
    hub.Received(2, "DROP\t4");
    EXPECT_TRUE(hub.ActivePhrases().empty());
    EXPECT_FALSE(hub.Listening());
    ASSERT_EQ(hub.Services().size(), 2u);
    EXPECT_EQ(hub.Services()[0].menus[0].phrases, std::vector<std::string>{"Random"});
    EXPECT_TRUE(hub.Services()[1].menus.empty());

    hub.Received(3, "STATUS");
    EXPECT_EQ(link.Take(3), std::vector<std::string>{"STATUS\t99\t100\t200"});

    // A service that goes away takes its menus and its pending phrases.
    hub.Received(1, "MENU\t1\t1\t1\tNelko\tMain\tRandom");
    hub.Say("Random");
    EXPECT_EQ(hub.Last().waiting, 1);
    hub.Closed(1);
    EXPECT_EQ(hub.Last().waiting, 0);
    EXPECT_EQ(hub.Services().size(), 1u);
    EXPECT_GT(link.changes, 0);
}

// More phrases than a line holds: the answer is as many whole phrases as a
// client's reader takes.
TEST_F(VoicedHubTest, AListAnswerFitsTheLineAClientReads)
{
    hub.Opened(1);
    hub.Received(1, "SERVICE\t100");
    std::vector<std::string> phrases;
    for (int menu = 1; menu <= 3; ++menu) {
        std::string line = "MENU\t" + std::to_string(menu) + "\t1\t1\tA\tB";
        for (size_t i = 0; i < MaxMenuCommands; ++i) {
            phrases.push_back(std::to_string(phrases.size() + 1000) +
                              std::string(MaxPhraseLength - 4, 'w'));
            line += "\t" + phrases.back();
        }
        hub.Received(1, line);
    }
    ASSERT_TRUE(link.dropped.empty());
    hub.Opened(2);
    hub.Received(2, "LIST");
    const std::vector<std::string> sent = link.Take(2);
    ASSERT_EQ(sent.size(), 1u);
    const std::string line = sent[0] + "\n";
    LineReader reader;
    std::vector<std::string> read;
    EXPECT_TRUE(reader.Feed(line.data(), line.size(), &read)) << line.size() << " bytes";
    EXPECT_GT(line.size() + 1 + MaxPhraseLength, MaxChannelLine) << "room for one more";
    ChannelMessage message;
    ASSERT_TRUE(ParseChannelLine(sent[0], &message));
    phrases.resize(message.fields.size());
    EXPECT_EQ(message.fields, phrases);
}

// Each row: what one client sends; it is answered with ERROR and dropped,
// and the hub holds nothing from it.
TEST_F(VoicedHubTest, ProtocolBreakersAreDropped)
{
    struct Row {
        const char *why;
        std::vector<std::string> lines;
    } rows[] = {
        {"unknown verb", {"HELLO"}},
        {"malformed line", {"say\tx"}},
        {"menu before SERVICE", {"MENU\t1\t1\t1\tA\tB\tGo"}},
        {"DONE before SERVICE", {"DONE\t1\tother\t0\t\t\t"}},
        {"PHRASE is the hub's own", {"PHRASE\t1\tGo"}},
        {"SERVICE twice", {"SERVICE\t1", "SERVICE\t1"}},
        {"SERVICE without a pid", {"SERVICE"}},
        {"malformed MENU", {"SERVICE\t1", "MENU\t1\t1\t1\tA"}},
        {"DROP without an id", {"SERVICE\t1", "DROP\tx"}},
        {"SAY of nothing", {"SAY\t   "}},
        {"SAY with two fields", {"SAY\ta\tb"}},
        {"LIST with a field", {"LIST\tx"}},
    };
    int client = 10;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.why);
        ++client;
        hub.Opened(client);
        for (const std::string &line : row.lines)
            hub.Received(client, line);
        ASSERT_FALSE(link.sent[client].empty());
        EXPECT_EQ(link.sent[client].back().rfind("ERROR\t", 0), 0u) << link.sent[client].back();
        ASSERT_FALSE(link.dropped.empty());
        EXPECT_EQ(link.dropped.back(), client);
        EXPECT_TRUE(hub.Services().empty());
        EXPECT_EQ(hub.Clients(), 0u);
    }
}

// A service that never answers: the hub awaits at most MaxPending phrases,
// the oldest giving way, so its late answer is not taken; the next oldest
// still is.
TEST_F(VoicedHubTest, PhrasesAwaitingAnswersAreBounded)
{
    Service(1, 100, NelkoMenu);
    hub.Opened(4);
    hub.Received(4, "WATCH");
    for (size_t said = 0; said <= HubCore::MaxPending; ++said)
        hub.Say("Go Left");
    link.Take(4);
    hub.Received(1, "DONE\t1\tran\t9\tGo Left\tNelko\tMain");
    EXPECT_TRUE(link.Take(4).empty()) << "the oldest gave way";
    hub.Received(1, "DONE\t2\tran\t9\tGo Left\tNelko\tMain");
    EXPECT_EQ(link.Take(4).size(), 1u) << "the next oldest is still awaited";
    EXPECT_TRUE(link.dropped.empty());
}

// A full table makes the oldest connection holding no menu give way, told
// why: services that named themselves and idle, or watchers, cannot shut a
// new service out; services holding menus are never the ones to go.
TEST_F(VoicedHubTest, IdleClientsGiveWayOldestFirstWhenTheTableIsFull)
{
    Service(1, 100, NelkoMenu); // the oldest, but it holds a menu
    for (int client = 2; client <= int(HubCore::MaxClients); ++client) {
        hub.Opened(client);
        hub.Received(client, client % 2 ? "WATCH" : "SERVICE\t" + std::to_string(client));
    }
    EXPECT_TRUE(link.dropped.empty()) << "a full table is not yet too full";
    const int newcomer = HubCore::MaxClients + 1;
    Service(newcomer, 7, "MENU\t1\t1\t1\tNew\tMain\tHello");
    EXPECT_EQ(link.dropped, std::vector<int>{2});
    EXPECT_EQ(link.Take(2), std::vector<std::string>{
                                "ERROR\tthe hub is full: the oldest connection without a menu "
                                "gives way"});
    EXPECT_EQ(hub.Clients(), HubCore::MaxClients);
    hub.Opened(newcomer + 1);
    EXPECT_EQ(link.dropped.back(), 3) << "a watcher gives way too";
    ASSERT_EQ(hub.Say("Hello"), 1u);
    EXPECT_EQ(link.Take(newcomer), std::vector<std::string>{"PHRASE\t1\tHello"});

    // With every slot holding a menu, the newcomer itself is turned away.
    RecordingLink full;
    HubCore busy{&full};
    for (int client = 1; client <= int(HubCore::MaxClients); ++client) {
        busy.Opened(client);
        busy.Received(client, "SERVICE\t" + std::to_string(client));
        busy.Received(client, "MENU\t1\t1\t1\tA\tMain\tGo");
    }
    busy.Opened(newcomer);
    EXPECT_EQ(full.dropped, std::vector<int>{newcomer});
    EXPECT_EQ(busy.Services().size(), HubCore::MaxClients);
}

// Connection ids go on past INT_MAX from 1 (under the sanitizers, an
// overflow fails).
TEST(VoicedIdPool, IdsWrapWithoutOverflow)
{
    IdPool ids(INT_MAX - 1);
    EXPECT_EQ(ids.Take(), INT_MAX - 1);
    EXPECT_EQ(ids.Take(), INT_MAX);
    EXPECT_EQ(ids.Take(), 1) << "wrapped";
    IdPool from(0);
    EXPECT_EQ(from.Take(), 1) << "ids are positive: 0 means none";
}

TEST_F(VoicedHubTest, MenusPerServiceAreBounded)
{
    hub.Opened(1);
    hub.Received(1, "SERVICE\t5");
    for (size_t i = 1; i <= HubCore::MaxMenusPerService; ++i)
        hub.Received(1, "MENU\t" + std::to_string(i) + "\t0\t0\tA\tB");
    EXPECT_TRUE(link.dropped.empty());
    hub.Received(1, "MENU\t1\t1\t1\tA\tB\tGo"); // an update of a known menu is fine
    EXPECT_TRUE(link.dropped.empty());
    hub.Received(1, "MENU\t999\t0\t0\tA\tB");
    EXPECT_EQ(link.dropped, std::vector<int>{1});
}

// Phrases in all menus together are bounded: four services with every menu
// full fill the hub, a fifth's menu is refused with a reason and the
// service stays connected; a held menu may still be replaced.
TEST_F(VoicedHubTest, PhrasesOfAllServicesTogetherAreBounded)
{
    auto fullMenu = [](size_t id) {
        std::string line = "MENU\t" + std::to_string(id) + "\t1\t1\tApp\tMain";
        for (size_t phrase = 0; phrase < MaxMenuCommands; ++phrase)
            line += "\tphrase " + std::to_string(phrase);
        return line;
    };
    const size_t services = HubCore::MaxPhrasesInAll / (MaxServiceMenus * MaxMenuCommands);
    for (size_t service = 1; service <= services + 1; ++service) {
        hub.Opened(service);
        hub.Received(service, "SERVICE\t" + std::to_string(service));
        for (size_t menu = 1; menu <= (service > services ? 1 : MaxServiceMenus); ++menu)
            hub.Received(service, fullMenu(menu));
    }
    const int last = static_cast<int>(services + 1);
    EXPECT_EQ(link.Take(last), std::vector<std::string>{"ERROR\tthe hub holds too many phrases"});
    EXPECT_TRUE(hub.Services().back().menus.empty());
    EXPECT_TRUE(link.dropped.empty());
    hub.Received(1, fullMenu(1));
    EXPECT_TRUE(link.Take(1).empty()) << "a held menu replaced";
}

} // namespace
