// One service process's menus, what phrases mean to them, and the queue that
// keeps calls into a sink one at a time.
#include "voiced/core/hubcore.h"
#include "voiced/core/servicecore.h"
#include "voiced_records.h"
#include <gtest/gtest.h>

using voicedtest::Block;
using voicedtest::Record;

namespace {

class VoicedServiceCoreTest : public ::testing::Test {
  protected:
    ServiceCore core;
    uint32_t Menu(const char *application, const char *state = "Main")
    {
        return core.OpenMenu(application, state, 9, "US English", true);
    }
    void AddCommands(uint32_t menu, std::initializer_list<const char *> phrases)
    {
        std::vector<std::vector<uint8_t>> records;
        uint32_t value = 1;
        for (const char *phrase : phrases)
            records.push_back(Record(phrase, value++));
        auto block = Block(records);
        uint32_t first = 0;
        ASSERT_EQ(core.Add(menu, block.data(), block.size(), static_cast<uint32_t>(records.size()),
                           &first),
                  1);
    }
    void Listen(uint32_t menu)
    {
        core.enabled = core.awake = true;
        core.Menu(menu)->active = true;
    }
};

TEST_F(VoicedServiceCoreTest, MenusOpenByApplicationAndState)
{
    const uint32_t main = Menu("Nelko");
    EXPECT_EQ(Menu("NELKO", "main"), main) << "the same name in another case opens it";
    EXPECT_NE(Menu("Nelko", "Dancing"), main);
    EXPECT_EQ(core.Menus().size(), 2u);
    EXPECT_EQ(core.Menu(main)->dialect, "US English");

    core.CloseMenu(main, false);
    EXPECT_NE(core.Menu(main), nullptr) << "still held";
    core.CloseMenu(main, true);
    EXPECT_EQ(core.Menu(main), nullptr) << "a temporary menu goes with its last holder";
    const uint32_t kept = core.OpenMenu("Nelko", "Kept", 9, "", false);
    core.CloseMenu(kept, true);
    EXPECT_NE(core.Menu(kept), nullptr) << "a lasting menu stays";
}

// A service makes no more menus than the hub takes from it: one more is
// refused here rather than sent to be refused there (again at every
// reconnection); a menu it has still opens.
TEST_F(VoicedServiceCoreTest, NoMoreMenusThanTheHubTakes)
{
    for (size_t i = 0; i < MaxServiceMenus; ++i)
        ASSERT_NE(Menu("Nelko", ("State" + std::to_string(i)).c_str()), 0u);
    EXPECT_EQ(Menu("Nelko", "One too many"), 0u);
    EXPECT_EQ(core.Menus().size(), HubCore::MaxMenusPerService);
    EXPECT_EQ(Menu("NELKO", "state7"), core.Menus()[7]->id);
}

TEST_F(VoicedServiceCoreTest, AddNumbersCommandsFromOneAndRefusesWithoutKeeping)
{
    const uint32_t menu = Menu("Nelko");
    auto block = Block({Record("Random", 1), Record("Go Left", 2)});
    uint32_t first = 0;
    ASSERT_EQ(core.Add(menu, block.data(), block.size(), 2, &first), 1);
    EXPECT_EQ(first, 1u);
    ASSERT_EQ(core.Add(menu, block.data(), block.size(), 2, &first), 1);
    EXPECT_EQ(first, 3u);
    EXPECT_EQ(core.Add(menu, block.data(), block.size() - 4, 2, &first), 0);
    EXPECT_EQ(core.Menu(menu)->commands.size(), 4u);
    EXPECT_EQ(core.Add(menu + 100, block.data(), block.size(), 2, &first), 0) << "no such menu";

    // Growing past the limit is refused as a whole.
    std::vector<std::vector<uint8_t>> many(MaxMenuCommands - 4, Record("Wave", 8));
    auto big = Block(many);
    ASSERT_EQ(core.Add(menu, big.data(), big.size(), static_cast<uint32_t>(many.size()), &first),
              1);
    EXPECT_EQ(core.Add(menu, block.data(), 68, 1, &first), 0);
    EXPECT_EQ(core.Menu(menu)->commands.size(), MaxMenuCommands);
}

TEST_F(VoicedServiceCoreTest, RecognitionNeedsEnabledAwakeAndAnActiveMenu)
{
    const uint32_t menu = Menu("Nelko");
    AddCommands(menu, {"Random", "Go Left"});
    struct Row {
        const char *why;
        bool enabled, awake, active;
        Outcome outcome;
    } rows[] = {
        {"all on", true, true, true, Outcome::Ran},
        {"not enabled", false, true, true, Outcome::Ignored},
        {"asleep", true, false, true, Outcome::Ignored},
        {"menu inactive", true, true, false, Outcome::Ignored},
    };
    for (const Row &row : rows) {
        core.enabled = row.enabled;
        core.awake = row.awake;
        core.Menu(menu)->active = row.active;
        EXPECT_EQ(core.Recognise("go left").outcome, row.outcome) << row.why;
        EXPECT_EQ(core.Listening(), row.outcome == Outcome::Ran) << row.why;
        EXPECT_EQ(core.Notice(*core.Menu(menu)).listening, row.outcome == Outcome::Ran) << row.why;
    }
}

TEST_F(VoicedServiceCoreTest, PhrasesFindTheFirstMatchingCommandOfTheActiveMenus)
{
    const uint32_t first = Menu("Nelko");
    const uint32_t second = Menu("Other");
    AddCommands(first, {"Random", "Go Left"});
    AddCommands(second, {"go left", "Hello"});
    Listen(first);
    Listen(second);

    Recognition r = core.Recognise("GoLeft");
    ASSERT_EQ(r.outcome, Outcome::Ran);
    EXPECT_EQ(r.application, "Nelko") << "the menu created first wins";
    EXPECT_EQ(r.command.phrase, "Go Left");
    EXPECT_EQ(r.command.action, (std::vector<uint8_t>{2, 0, 0, 0}));

    r = core.Recognise("hello");
    ASSERT_EQ(r.outcome, Outcome::Ran);
    EXPECT_EQ(r.application, "Other");

    r = core.Recognise("sing");
    EXPECT_EQ(r.outcome, Outcome::Other);
    EXPECT_EQ(r.application, "Nelko") << "Other names the first active menu";
    EXPECT_EQ(r.command.phrase, "");

    core.Menu(first)->active = false;
    r = core.Recognise("Go Left");
    EXPECT_EQ(r.application, "Other") << "only active menus are heard";
}

// A sink call during which the apartment dispatches more phrases: they wait
// for it, and nothing is ever delivered inside another delivery.
TEST(VoicedSerialQueue, EventsPostedDuringADeliveryWaitTheirTurn)
{
    SerialQueue<int> queue;
    std::vector<int> delivered;
    int depth = 0, deepest = 0;
    std::function<void(int)> deliver = [&](int event) {
        ++depth;
        deepest = std::max(deepest, depth);
        if (event == 1) { // "About Nelko": more arrive while it is open
            queue.Post(2, deliver);
            queue.Post(3, deliver);
            EXPECT_EQ(queue.Waiting(), 2u);
        }
        if (event == 2)
            queue.Post(4, deliver);
        delivered.push_back(event);
        --depth;
    };
    queue.Post(1, deliver);
    EXPECT_EQ(delivered, (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(deepest, 1);
    EXPECT_FALSE(queue.Busy());
    queue.Post(5, deliver);
    EXPECT_EQ(delivered.back(), 5) << "an idle queue delivers at once";
}

// A flood during a long call: what may be lost is dropped beyond the limit
// and never delivered; what may not still waits.
TEST(VoicedSerialQueue, OffersBeyondTheLimitAreDroppedWhileACallIsOut)
{
    SerialQueue<int> queue;
    std::vector<int> delivered;
    std::vector<bool> taken;
    std::function<void(int)> deliver = [&](int event) {
        if (event == 0) {
            for (int i = 1; i <= 5; ++i)
                taken.push_back(queue.Offer(i, 3, deliver));
            queue.Post(100, deliver);
        }
        delivered.push_back(event);
    };
    EXPECT_TRUE(queue.Offer(0, 3, deliver));
    EXPECT_EQ(taken, (std::vector<bool>{true, true, true, false, false}));
    EXPECT_EQ(delivered, (std::vector<int>{0, 1, 2, 3, 100}));
}

TEST(VoicedClientGone, DeadPeersAreToldFromRefusals)
{
    struct Row {
        uint32_t result;
        bool gone;
    } rows[] = {
        {0x800706BA, true},  // RPC_S_SERVER_UNAVAILABLE: the process died
        {0x80010108, true},  // RPC_E_DISCONNECTED
        {0x800401FD, true},  // CO_E_OBJNOTCONNECTED
        {0x800706B5, true},  // RPC_S_UNKNOWN_IF: the sink was disconnected
        {0x80010001, false}, // RPC_E_CALL_REJECTED: busy, not gone
        {0x8001010D, false}, // RPC_E_CANTCALLOUT_ININPUTSYNCCALL
        {0x80004001, false}, // E_NOTIMPL
        {0, false},          // S_OK
    };
    for (const Row &row : rows)
        EXPECT_EQ(ClientGone(row.result), row.gone) << std::hex << row.result;
}

} // namespace
