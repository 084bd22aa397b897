// Malformed input by the hundred thousand: command blocks spoilt at random
// from Nelko's own, and random channel traffic into a hub. Under the
// sanitizers any read outside a buffer ends the run; the checks below make
// sure what was accepted is what the rules allow.
#include "app/app.h"
#include "fake_strings.h"
#include "voice/voice.h"
#include "voiced/voiced.h"
#include "voiced_records.h"
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <random>

using voicedtest::Get32;
using voicedtest::NelkosBlock;
using voicedtest::Put32;

namespace {

constexpr int FuzzedBlocks = 100000;

// Values that sit on the edges the reader checks.
uint32_t EdgeValue(std::mt19937 &random, uint32_t size)
{
    const uint32_t edges[] = {0,          1,          3,          4,          35,       36,
                              37,         40,         size - 1,   size,       size + 1, size + 4,
                              0x7FFFFFFF, 0x80000000, 0xFFFFFFFC, 0xFFFFFFFF, 64,       68};
    if (random() % 4 == 0)
        return static_cast<uint32_t>(random());
    return edges[random() % (sizeof edges / sizeof edges[0])];
}

// Every kept command obeys the rules a well-formed block guarantees.
void CheckKept(const std::vector<VoiceCommand> &commands)
{
    for (const VoiceCommand &c : commands) {
        ASSERT_TRUE(IsSayablePhrase(c.phrase)) << c.phrase;
        ASSERT_LE(c.action.size(), MaxActionSize);
        ASSERT_LE(c.category.size(), MaxCommandText);
    }
}

TEST(VoicedFuzz, MalformedCommandBlocksAreRefusedWithoutHarm)
{
    const std::vector<uint8_t> nelko = NelkosBlock();
    ASSERT_EQ(nelko.size(), 780u);
    std::mt19937 random(20240611);
    int accepted = 0, refused = 0;
    std::vector<VoiceCommand> commands;
    for (int i = 0; i < FuzzedBlocks; ++i) {
        std::vector<uint8_t> block = nelko;
        uint32_t count = 11;
        const int spoils = 1 + random() % 3;
        for (int s = 0; s < spoils; ++s) {
            switch (random() % 6) {
            case 0: // a field of some record set to an edge value
            {
                if (block.size() < 40)
                    break;
                const size_t record = (random() % 11) * 68 % (block.size() - 36);
                const size_t field = (random() % 9) * 4;
                Put32(block, record + field, EdgeValue(random, 68));
                break;
            }
            case 1: // a byte anywhere
                if (!block.empty())
                    block[random() % block.size()] = static_cast<uint8_t>(random());
                break;
            case 2: // cut short
                block.resize(random() % (block.size() + 1));
                break;
            case 3: // grown with noise
                for (int n = random() % 40; n > 0; --n)
                    block.push_back(static_cast<uint8_t>(random()));
                break;
            case 4: // the count off
                count = random() % 3 == 0 ? EdgeValue(random, 11) : count + random() % 5 - 2;
                break;
            case 5: // a first-record field at a 4-byte step past the header
                if (block.size() >= 40)
                    Put32(block, 12 + 4 * (random() % 6),
                          36 + 4 * static_cast<uint32_t>(random() % 12));
                break;
            }
        }
        // The block in a buffer of its own size, so that the sanitizer sees
        // the first byte read past its end.
        std::unique_ptr<uint8_t[]> exact(new uint8_t[block.size() + 1]);
        if (!block.empty())
            memcpy(exact.get(), block.data(), block.size());
        commands.clear();
        const int ok =
            ReadCommandBlock(block.empty() ? nullptr : exact.get(), block.size(), count, &commands);
        if (ok) {
            ++accepted;
            ASSERT_EQ(commands.size(), count);
            CheckKept(commands);
        } else {
            ++refused;
            ASSERT_TRUE(commands.empty()) << "a refused block kept something";
        }
    }
    // Both kinds occur, or the mutations are not reaching the checks.
    EXPECT_GT(refused, FuzzedBlocks / 2);
    EXPECT_GT(accepted, 100);
    RecordProperty("accepted", accepted);
    RecordProperty("refused", refused);
}

// Random lines from random clients into one hub: it never holds more than it
// is told to, and a client it dropped is gone.
TEST(VoicedFuzz, RandomChannelTrafficNeverBreaksTheHub)
{
    struct Link : HubCore::Link {
        std::vector<int> dropped;
        size_t sent = 0;
        void Send(int, const std::string &line) override
        {
            ASSERT_EQ(line.back(), '\n');
            ASSERT_EQ(line.find('\n'), line.size() - 1);
            ++sent;
        }
        void Drop(int client) override { dropped.push_back(client); }
    } link;
    HubCore hub(&link);
    std::mt19937 random(7);
    const char *verbs[] = {"SAY",  "LIST",   "WATCH",  "SERVICE", "MENU", "DROP",
                           "DONE", "STATUS", "PHRASE", "SHOW",    "X"};
    const char *pieces[] = {"1",      "0",     "2",          "Go Left", "go left",
                            "",       " ",     "4294967295", "ran",     "other",
                            "nobody", "Nelko", "Main",       "\xff",    "-1"};
    std::vector<int> open;
    for (int i = 0; i < 20000; ++i) {
        if (open.size() < 6 && random() % 10 == 0) {
            open.push_back(i);
            hub.Opened(i);
        }
        if (open.empty())
            continue;
        const int client = open[random() % open.size()];
        std::string line = verbs[random() % 11];
        for (int f = random() % 9; f > 0; --f)
            line += std::string("\t") + pieces[random() % 15];
        if (random() % 50 == 0)
            line[random() % line.size()] = static_cast<char>(random());
        hub.Received(client, line);
        if (random() % 200 == 0) {
            hub.Closed(client);
            open.erase(std::find(open.begin(), open.end(), client));
        }
        for (int dropped : link.dropped) {
            open.erase(std::remove(open.begin(), open.end(), dropped), open.end());
            hub.Closed(dropped);
        }
        link.dropped.clear();
        ASSERT_LE(hub.Clients(), open.size());
        ASSERT_LE(hub.Services().size(), hub.Clients());
        for (const HubService &service : hub.Services())
            ASSERT_LE(service.menus.size(), HubCore::MaxMenusPerService);
    }
    EXPECT_GT(link.sent, 0u);
}

} // namespace
