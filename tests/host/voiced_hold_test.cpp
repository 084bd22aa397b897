// How the hub listens, as plain logic: the sound of one hold of the key
// (the lead before the press, the tail after the release), the keys a user
// may hold and the names a user may give.
#include "voiced/hub/listening.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <numeric>

namespace {

// Samples numbered from 1 as they arrive, so a hold shows which it kept.
class Stream {
  public:
    explicit Stream(HoldSound &sound) : sound_(sound) {}
    // Feeds count samples in buffers of `buffer`, taking what the hold kept
    // after each; the holds completed.
    std::vector<std::vector<int16_t>> Feed(size_t count, size_t buffer = 10)
    {
        std::vector<std::vector<int16_t>> holds;
        while (count > 0) {
            std::vector<int16_t> piece(std::min(count, buffer));
            std::iota(piece.begin(), piece.end(), int16_t(next_));
            next_ += piece.size();
            count -= piece.size();
            const bool ended = sound_.Add(piece.data(), piece.size());
            const std::vector<int16_t> kept = sound_.Take();
            hold_.insert(hold_.end(), kept.begin(), kept.end());
            if (ended)
                holds.push_back(std::move(hold_)), hold_.clear();
        }
        return holds;
    }

  private:
    HoldSound &sound_;
    size_t next_ = 1;
    std::vector<int16_t> hold_; // the hold's pieces so far
};

std::vector<int16_t> Range(int first, int last)
{
    std::vector<int16_t> samples(last - first + 1);
    std::iota(samples.begin(), samples.end(), int16_t(first));
    return samples;
}

TEST(HoldSound, KeepsTheLeadBeforeThePressAndTheTailAfterTheRelease)
{
    HoldSound sound(30, 20, 1000);
    Stream stream(sound);
    EXPECT_TRUE(stream.Feed(100).empty()) << "key up: only the ring is kept";
    EXPECT_TRUE(sound.Press());
    EXPECT_TRUE(sound.Held());
    EXPECT_TRUE(stream.Feed(50).empty());
    EXPECT_FALSE(sound.Press()) << "auto-repeat changes nothing";
    EXPECT_TRUE(stream.Feed(50).empty());
    EXPECT_TRUE(sound.Release());
    EXPECT_FALSE(sound.Held());
    // The tail ends within a buffer: the rest of it leads the next hold.
    const auto holds = stream.Feed(25, 15);
    ASSERT_EQ(holds.size(), 1u);
    EXPECT_EQ(holds[0], Range(71, 220)) << "30 before the press, 100 held, 20 after";

    stream.Feed(10);
    sound.Press();
    sound.Release();
    const auto next = stream.Feed(20, 20);
    ASSERT_EQ(next.size(), 1u);
    EXPECT_EQ(next[0], Range(221, 255)) << "the lead is what came since the last tail";

    stream.Feed(40);
    sound.ForgetLead(); // the microphone paused and woke again
    stream.Feed(5);
    sound.Press();
    sound.Release();
    const auto woken = stream.Feed(20, 20);
    ASSERT_EQ(woken.size(), 1u);
    EXPECT_EQ(woken[0], Range(296, 320)) << "nothing from before the pause";
}

TEST(HoldSound, EdgesOfAHold)
{
    const struct {
        const char *why;
        size_t before, during, after; // samples fed around the press and release
        bool again;                   // pressed again within the tail
        size_t most;
        std::vector<int16_t> hold;
    } rows[] = {
        {"pressed before the lead filled: what there is", 12, 8, 20, false, 1000, Range(1, 40)},
        {"a hold longer than the most is cut", 50, 200, 20, false, 60, Range(21, 80)},
        {"pressed again in the tail: one hold goes on", 0, 10, 5, true, 1000, Range(1, 35)},
    };
    for (const auto &row : rows) {
        HoldSound sound(30, 20, row.most);
        Stream stream(sound);
        stream.Feed(row.before);
        sound.Press();
        stream.Feed(row.during);
        sound.Release();
        auto holds = stream.Feed(row.after, 5);
        if (row.again) {
            EXPECT_TRUE(holds.empty()) << row.why;
            EXPECT_TRUE(sound.Press()) << row.why;
            stream.Feed(0);
            sound.Release();
            holds = stream.Feed(20, 5);
        }
        ASSERT_EQ(holds.size(), 1u) << row.why;
        EXPECT_EQ(holds[0], row.hold) << row.why;
    }
    HoldSound sound(30, 20, 1000);
    Stream stream(sound);
    EXPECT_FALSE(sound.Release());
    EXPECT_TRUE(stream.Feed(100).empty()) << "a release without a press is no hold";
    EXPECT_TRUE(sound.Take().empty());
}

TEST(ListenSettings, KeysAndNames)
{
    ASSERT_NE(FindHoldKey(DefaultHoldKey), nullptr);
    EXPECT_STREQ(FindHoldKey(DefaultHoldKey)->name, "Right Ctrl");
    EXPECT_EQ(FindHoldKey(0x11), nullptr) << "either Ctrl: no key to hold, Ctrl-C would talk";
    EXPECT_EQ(FindHoldKey(0x41), nullptr) << "a letter";
    for (size_t i = 0; i < HoldKeyCount; ++i)
        EXPECT_EQ(FindHoldKey(HoldKeys[i].vk), &HoldKeys[i]) << HoldKeys[i].name << " twice";

    const struct {
        const char *name, *recognised, *why;
    } rows[] = {
        {"Nelko", "nelko", "lower case"},
        {"  Hey   Nelko ", "hey nelko", "spaces trimmed and single"},
        {"o'brien-smith", "o'brien-smith", "apostrophes and hyphens"},
        {"", "", "empty"},
        {" - ' ", "", "no letter"},
        {"nelko2", "", "a digit"},
        {"n\xe9lko", "", "outside ASCII"},
        {"abcdefghijklmnopqrstuvwxyzabcdef", "abcdefghijklmnopqrstuvwxyzabcdef", "the longest"},
        {"abcdefghijklmnopqrstuvwxyzabcdefg", "", "one longer"},
    };
    for (const auto &row : rows)
        EXPECT_EQ(RecognisedName(row.name), row.recognised) << row.why;
}

} // namespace
