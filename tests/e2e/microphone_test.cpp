// The voice hub's microphone, heard for real: a sound server of the test's
// own, Wine's pulse driver, and speech (espeak-ng at 16 kHz) fed into the
// default microphone at real-time pace over room noise. Nelko obeys what is
// said as it obeys the menu; the microphone may come late, go and come back.
#include "voice.h"
#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <algorithm>
#include <cstdlib>

using namespace e2e;

namespace {

constexpr int HeardMs = 20000; // speech decoded and acted on under Wine
const char Open[] = "text\tListening to the microphone";
const char Closed[] = "text\tNo microphone: type a phrase or click a command";

class Microphone : public VoiceTest {
  protected:
    Microphone() : VoiceTest(true) {}

    std::string Texts() // the window's texts, for failure messages
    {
        std::string texts;
        for (const std::string &line : FeedbackWindow())
            if (line.rfind("text\t", 0) == 0)
                texts += line.substr(5) + " | ";
        return texts;
    }
    bool Shows(const std::string &line)
    {
        const std::vector<std::string> window = FeedbackWindow();
        return std::find(window.begin(), window.end(), line) != window.end();
    }
    bool WaitShows(const std::string &line, int timeoutMs)
    {
        return session.WaitFor([&] { return Shows(line); }, timeoutMs);
    }
    int Meter()
    {
        for (const std::string &line : FeedbackWindow())
            if (line.rfind("meter\t", 0) == 0)
                return atoi(line.c_str() + 6);
        return -1;
    }
    // Nobody was shown a message box.
    ::testing::AssertionResult NoMessageBox()
    {
        for (Window window : session.TopLevelWindows())
            if (session.Title(window) == "Error" || session.Title(window) == "Nelko Error")
                return ::testing::AssertionFailure() << session.Describe();
        return ::testing::AssertionSuccess();
    }
    // Says text into the microphone and waits until it was all fed.
    void Say(const std::string &text)
    {
        feed.Speak(Speech(text));
        ASSERT_TRUE(feed.WaitSpoken(15000));
    }
    // Said text, once Nelko starts to act on it, moved it by (dx, 0).
    ::testing::AssertionResult Walks(const std::string &text, int dx)
    {
        const Rect before = nelko->Where();
        Say(text);
        if (!session.WaitFor([&] { return nelko->Frame(art) != RestFrame; }, HeardMs))
            return ::testing::AssertionFailure() << "\"" << text << "\" ran nothing";
        return Moved(before, dx, 0);
    }
    void StartNelko()
    {
        nelko = std::make_unique<Character>(session);
        ASSERT_TRUE(Listening()) << "the hub never listed Nelko's commands";
        ASSERT_TRUE(nelko->WaitForRest(art));
    }

    MicrophoneFeed feed{server->fifo()};
};

TEST_F(Microphone, SpokenCommandsRunNelkoAndTheMeterFollowsTheVoice)
{
    StartNelko();
    ASSERT_TRUE(WaitShows(Open, 15000)) << Texts();

    EXPECT_TRUE(Walks("go left", -96));
    EXPECT_TRUE(Shows("text\tHeard \"Go Left\": ran \"Go Left\" (Nelko, Main)")) << Texts();

    // Unrelated speech moves the meter while it lasts and runs nothing; on
    // room noise the meter rests.
    const Rect before = nelko->Where();
    feed.Speak(Speech("the weather was lovely this morning so we walked to the market"));
    int loudest = 0;
    for (int i = 0; i < 4; ++i)
        loudest = std::max(loudest, Meter());
    ASSERT_TRUE(feed.WaitSpoken(15000));
    EXPECT_GE(loudest, 40) << "the meter did not move with the voice";
    EXPECT_TRUE(session.WaitFor([&] { return Meter() <= 10; }, 5000)) << "meter " << Meter();
    EXPECT_TRUE(session.WaitFor(
        [&] {
            for (const std::string &line : FeedbackWindow())
                if (line.rfind("text\tRecognised", 0) == 0) // and none taken
                    return line.find("no command") != std::string::npos ||
                           line.find("not taken") != std::string::npos;
            return false;
        },
        HeardMs))
        << Texts();
    EXPECT_TRUE(Shows("text\tHeard \"Go Left\": ran \"Go Left\" (Nelko, Main)")) << Texts();
    EXPECT_EQ(nelko->Frame(art), RestFrame);
    EXPECT_EQ(nelko->Where().x, before.x);

    Say("about nelko");
    const Window box = session.FindWindow("About Nelko", HeardMs);
    ASSERT_NE(box, 0u) << session.Describe();
    session.Key(box, XK_Escape);
    EXPECT_TRUE(session.WaitFor([&] { return !session.Mapped(box); }, 5000));

    EXPECT_TRUE(NoMessageBox());
    Say("bye bye");
    EXPECT_EQ(nelko->Exit(HeardMs), 0);
}

// The hub looks for a microphone every few seconds: one plugged in after it
// started is used, one pulled out mid-stream is reported, and used again
// when it comes back. No speaker either: Wine offers a speaker's monitor as
// a microphone.
TEST_F(Microphone, OneThatComesLateOrGoesAndComesBackIsPickedUp)
{
    ASSERT_TRUE(server->UnplugSpeaker());
    ASSERT_TRUE(server->UnplugMicrophone());
    StartNelko();
    ASSERT_TRUE(WaitShows(Closed, 15000)) << Texts();

    ASSERT_TRUE(server->PlugMicrophone());
    EXPECT_TRUE(WaitShows(Open, 8000)) << "not picked up within the retry interval";
    EXPECT_TRUE(Walks("go left", -96));

    ASSERT_TRUE(server->UnplugMicrophone());
    EXPECT_TRUE(WaitShows(Closed, 8000)) << Texts();
    ASSERT_TRUE(server->PlugMicrophone());
    EXPECT_TRUE(WaitShows(Open, 8000)) << "not picked up again";
    EXPECT_TRUE(Walks("go right", 96));
    EXPECT_TRUE(NoMessageBox());
}

// Benchmarks through the real capture; run them by name, they are not part of
// the test run:
//   e2e_tests --gtest_also_run_disabled_tests --gtest_filter='Microphone.DISABLED_*'
// Latency: from the end of a spoken command (its last loud sample written
// into the microphone) to Nelko's first frame of the walk, over 20 commands;
// then the hub's processor time while it listens to room noise.
TEST_F(Microphone, DISABLED_Benchmark)
{
    StartNelko();
    ASSERT_TRUE(WaitShows(Open, 15000)) << Texts();
    std::vector<double> latencies;
    for (int i = 0; i < 20; ++i) {
        const double spokenBefore = feed.SpeechEnded();
        feed.Speak(Speech(i % 2 ? "go right" : "go left"));
        double acted = 0;
        // The walk's first frame moves the window: its place is looked at
        // every few milliseconds. Telling the frame from the screen's pixels
        // that often took the hub's decoding a third longer on two cores.
        const Rect before = nelko->Where();
        for (const double end = Now() + HeardMs / 1000.0; !acted && Now() < end;)
            if (nelko->Where().x != before.x)
                acted = Now();
            else
                Session::Sleep(3);
        ASSERT_GT(acted, 0) << "command " << i << " ran nothing; " << Texts();
        ASSERT_GT(feed.SpeechEnded(), spokenBefore);
        latencies.push_back(acted - feed.SpeechEnded());
        ASSERT_TRUE(nelko->WaitForRest(art));
    }
    std::sort(latencies.begin(), latencies.end());
    printf("spoken command to first frame over %zu commands: median %.0f ms, 90th percentile "
           "%.0f ms, fastest %.0f ms, slowest %.0f ms\n",
           latencies.size(), latencies[latencies.size() / 2] * 1000,
           latencies[latencies.size() * 9 / 10] * 1000, latencies.front() * 1000,
           latencies.back() * 1000);

    const pid_t hub = WineProcess("Feedback.exe");
    ASSERT_NE(hub, 0);
    const double start = Now(), used = CpuSeconds(hub);
    Session::Sleep(60000);
    printf("the hub listening to room noise: %.1f%% of one core over %.0f s\n",
           (CpuSeconds(hub) - used) / (Now() - start) * 100, Now() - start);
    EXPECT_TRUE(Walks("go left", -96)) << "the hub still obeys";
}

// Ten minutes of room noise through the real capture, with twenty commands
// spoken between pauses: each reaches the service once, in order. A probe
// stands in for the service and counts the deliveries.
TEST_F(Microphone, DISABLED_TenMinutesOfRoomNoiseWithTwentyCommands)
{
    const std::vector<std::string> commands = {"Random",    "Go Left",     "Go Right", "Run Left",
                                               "Run Right", "Go Up",       "Go Down",  "Wave",
                                               "Dance",     "About Nelko", "Bye Bye"};
    constexpr int Count = 20, Seconds = 600;
    std::vector<std::string> said;
    for (int i = 0; i < Count; ++i)
        said.push_back(commands[(i * 7) % commands.size()]);

    feed.SetNoise(100); // a quiet room, about -55 dBFS, above the fixture's floor
    session.Start("Feedback.exe");
    ASSERT_NE(session.FindWindow(FeedbackWindowTitle, 10000), 0u) << session.Describe();
    const std::string out = testing::TempDir() + "voice-room-serve.txt";
    std::vector<std::string> args = {"serve", std::to_string(Count), std::to_string(Seconds + 60),
                                     "Z:" + out};
    args.insert(args.end(), commands.begin(), commands.end());
    const pid_t probe = session.Start("voiceprobe.exe", args);
    ASSERT_TRUE(Listening()) << "the probe's menu never reached the hub";
    ASSERT_TRUE(WaitShows(Open, 15000)) << Texts();

    const pid_t hub = WineProcess("Feedback.exe");
    const double start = Now(), used = CpuSeconds(hub);
    for (int i = 0; i < Count; ++i) {
        // A command in the middle of each half minute.
        while (Now() < start + i * Seconds / Count + 10)
            Session::Sleep(100);
        feed.Speak(Speech(said[i]));
    }
    while (Now() < start + Seconds)
        Session::Sleep(100);
    printf("the hub over %.0f s of room noise and %d commands: %.1f%% of one core\n", Now() - start,
           Count, (CpuSeconds(hub) - used) / (Now() - start) * 100);
    EXPECT_EQ(session.WaitExit(probe, 70000), 0) << "not every command was delivered";
    std::vector<std::string> delivered;
    for (const std::string &line : Lines(ReadFile(out)))
        if (line.rfind("phrase\t", 0) == 0)
            delivered.push_back(line.substr(7));
    printf("%zu commands said, %zu delivered\n", said.size(), delivered.size());
    EXPECT_EQ(delivered, said);
}

} // namespace
