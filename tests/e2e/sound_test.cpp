// Nelko's sounds heard: the speaker of a private sound server is recorded
// while Nelko runs with Wine's pulse driver, and the recording is matched
// against the sound resources (the files the build embedded) by normalised
// cross-correlation. A sound counts where it starts: the time its first
// sample was played, against the time the X server first showed the frame
// it belongs to.
#include "character.h"
#include "sound.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>

using namespace e2e;

namespace {

constexpr unsigned Rate = 11025; // of the recording
constexpr double Tick = 0.066;   // Nelko's animation tick, seconds
// A sound's opening matches itself played under load at 0.84 to 1.00, the
// other sound at most 0.18, a later part of itself at most 0.35.
constexpr double Matches = 0.6;
constexpr int WaveFirst = 49, WaveSoundFrame = 56, WaveLast = 66;
constexpr int DanceFirst = 66, DanceSoundFrame = 69, DanceLast = 86;

// What the screen showed, each change with the time it was first seen.
struct Sample {
    double at;
    std::vector<int> candidates;
};

class Sounds : public ::testing::Test {
  protected:
    void SetUp() override
    {
        nelko = std::make_unique<Character>(session);
        ASSERT_TRUE(nelko->WaitForRest(art));
    }

    // Samples the screen as fast as it can for ms, or until stop says so.
    void Watch(int ms, const std::function<bool(const std::vector<int> &)> &stop = nullptr)
    {
        const double end = Now() + ms / 1000.0;
        while (Now() < end) {
            const double at = Now();
            std::vector<int> frames = art.Candidates(nelko->Screen());
            if (!frames.empty() && (seen.empty() || seen.back().candidates != frames))
                seen.push_back({at, frames});
            if (stop && !frames.empty() && stop(frames))
                return;
        }
    }

    // The times frame n was first shown in each pass through first..last:
    // samples are read as frames rising through the range (repeated poses
    // have several candidates), and a fall starts a new pass.
    std::vector<double> Shown(int first, int last, int n) const
    {
        std::vector<double> times;
        int previous = first - 1;
        for (const Sample &sample : seen) {
            int next = 0;
            for (int f : sample.candidates)
                if (f > previous && f <= last && (next = f))
                    break;
            if (!next) { // out of the range, or a new pass
                previous = first - 1;
                for (int f : sample.candidates)
                    if (f >= first && f <= last && (next = f))
                        break;
            }
            if (next == n)
                times.push_back(sample.at);
            previous = next ? next : first - 1;
        }
        return times;
    }

    // Where sound starts in what the speaker played, as times.
    std::vector<double> Heard(Speaker &speaker, const std::vector<int16_t> &sound,
                              const std::vector<int16_t> &recording)
    {
        std::vector<double> times;
        for (const Occurrence &o : FindSound(recording, sound, Rate, Matches)) {
            times.push_back(speaker.TimeOf(o.start));
            printf("  heard at %.3f s (correlation %.2f)\n", times.back(), o.score);
        }
        return times;
    }

    // Each sound started within two ticks of its frame.
    void ExpectInStep(const std::vector<double> &sounds, const std::vector<double> &frames,
                      const char *what)
    {
        ASSERT_EQ(sounds.size(), frames.size()) << what;
        for (size_t i = 0; i < sounds.size(); ++i) {
            const double offset = sounds[i] - frames[i];
            printf("  %s %zu: sound starts %+.0f ms from its frame\n", what, i + 1, offset * 1000);
            RecordProperty(std::string(what) + std::to_string(i + 1) + "OffsetMs",
                           int(std::lround(offset * 1000)));
            EXPECT_LE(std::fabs(offset), 2 * Tick) << what << " " << i + 1;
        }
    }

    UseSoundPrefix prefix{"-sound"}; // before the server and the session
    SoundServer server;
    Session session;
    Art art;
    std::unique_ptr<Character> nelko;
    std::vector<Sample> seen;
    const std::vector<int16_t> greeting = SoundFile(Win32Dir() + "/assets/waving.wav", Rate);
    const std::vector<int16_t> jingle = SoundFile(Win32Dir() + "/assets/dancing.wav", Rate);
};

TEST_F(Sounds, WavePlaysTheGreetingOnceAtItsFrameAndNothingPlaysAtRest)
{
    Speaker speaker(Rate);
    Session::Sleep(1500);
    const size_t rested = speaker.Samples().size();
    ASSERT_GT(rested, Rate) << "the speaker is not recorded";

    nelko->Pick(Wave);
    Watch(4000);
    ASSERT_TRUE(nelko->WaitForRest(art));
    Session::Sleep(1500); // the greeting's end, and rest again
    const std::vector<int16_t> recording = speaker.Samples();

    EXPECT_EQ(Peak(recording, 0, rested), 0) << "something played at rest";
    ExpectInStep(Heard(speaker, greeting, recording), Shown(WaveFirst, WaveLast, WaveSoundFrame),
                 "greeting");
    EXPECT_TRUE(Heard(speaker, jingle, recording).empty()) << "the jingle matched the greeting";
    const size_t end = size_t((Now() - 1.0 - speaker.TimeOf(0)) * Rate);
    EXPECT_EQ(Peak(recording, end), 0) << "something played at rest after the wave";
}

// A click dances; a click during the dance starts it again, and its jingle
// again with it, at the new dance's frame (not at the click).
TEST_F(Sounds, DancePlaysTheJingleAtItsFrameAndAgainOnlyWhenItStartsAgain)
{
    Speaker speaker(Rate);
    Session::Sleep(500);
    int x, y;
    nelko->PointOnFigure(&x, &y);
    session.Click(x, y);
    // Past the jingle's frame, a click starts the dance again.
    auto late = [](const std::vector<int> &frames) { // a pose of its own, after 76
        return frames.size() == 1 && frames[0] >= 77 && frames[0] <= 82;
    };
    Watch(3000, late);
    ASSERT_TRUE(!seen.empty() && late(seen.back().candidates)) << "the dance did not get far";
    const double clicked = Now();
    nelko->PointOnFigure(&x, &y); // on this frame's outline
    session.Click(x, y);
    Watch(3500);
    ASSERT_TRUE(nelko->WaitForRest(art));
    Session::Sleep(1000);
    const std::vector<int16_t> recording = speaker.Samples();

    const std::vector<double> frames = Shown(DanceFirst, DanceLast, DanceSoundFrame);
    ASSERT_EQ(frames.size(), 2u) << "two dances";
    EXPECT_GT(frames[1], clicked);
    const std::vector<double> sounds = Heard(speaker, jingle, recording);
    ExpectInStep(sounds, frames, "jingle");
    EXPECT_TRUE(Heard(speaker, greeting, recording).empty()) << "the greeting matched the jingle";
}

} // namespace
