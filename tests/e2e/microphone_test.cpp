// The voice hub's microphone, heard for real: a sound server of the test's
// own, Wine's pulse driver, and speech (espeak-ng at 16 kHz) fed into the
// default microphone at real-time pace over room noise. Nelko obeys what is
// said as it obeys the menu; the microphone may come late, go and come back.
#include "voice.h"
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <algorithm>
#include <cstdlib>

using namespace e2e;

namespace {

constexpr int HeardMs = 20000; // speech decoded and acted on under Wine
const char Open[] = "text\tListening to the microphone";
const char Closed[] = "text\tNo microphone: type a phrase or click a command";
const char HoldUp[] = "text\tHold Right Ctrl to give a command"; // Hold mode, the key up
const char Held[] = "text\tListening\x85";                       // ... and held
const char AfterName[] = "text\tListening for commands said after \"Nelko\"";

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

    // The hub's Listen setting (0 always, 1 hold, 2 name), as the user's
    // choice in the window keeps it; taken when the hub starts.
    int SetListen(int mode)
    {
        return Program("C:\\windows\\system32\\reg.exe",
                       {"add", "HKCU\\Software\\Voice", "/v", "FeedbackListen", "/t", "REG_DWORD",
                        "/d", std::to_string(mode), "/f"});
    }
    void TearDown() override
    {
        Program("C:\\windows\\system32\\reg.exe",
                {"delete", "HKCU\\Software\\Voice", "/v", "FeedbackListen", "/f"});
    }
    // The hub's default key to hold, pressed or released with the focus on
    // Nelko (the hub's hook sees keys that reach a window of the prefix).
    void HoldKey(bool down)
    {
        Display *x = session.display();
        XSetInputFocus(x, nelko->window(), RevertToParent, CurrentTime);
        XTestFakeKeyEvent(x, XKeysymToKeycode(x, XK_Control_R), down, CurrentTime);
        XSync(x, False);
    }
    // Nothing ran and nothing was shown as recognised.
    ::testing::AssertionResult RanNothing(const Rect &before)
    {
        if (nelko->Frame(art) != RestFrame || nelko->Where().x != before.x)
            return ::testing::AssertionFailure() << "Nelko moved";
        if (!Shows("text\tNothing recognised yet"))
            return ::testing::AssertionFailure() << Texts();
        return ::testing::AssertionSuccess();
    }

    // mode: as SetListen; "nelko" is said first in Name mode.
    // shown: what the window says once the microphone is open.
    void Measure(int mode, const char *what, const char *shown)
    {
        ASSERT_EQ(SetListen(mode), 0);
        StartNelko();
        ASSERT_TRUE(WaitShows(shown, 15000)) << Texts();
        std::vector<double> latencies;
        for (int i = 0; i < 20; ++i) {
            const std::string command = i % 2 ? "go right" : "go left";
            const double spokenBefore = feed.SpeechEnded();
            double from = 0;
            ASSERT_NO_FATAL_FAILURE(Speak(mode, mode == 2 ? "nelko " + command : command, &from));
            double acted = 0;
            // The walk's first frame moves the window (a command misheard
            // moves it too, and counts the same): its place is looked at
            // every few milliseconds. Telling the frame from the screen's
            // pixels that often took the hub's decoding a third longer on two
            // cores.
            const Rect before = nelko->Where();
            for (const double end = Now() + HeardMs / 1000.0; !acted && Now() < end;)
                if (nelko->Where().x != before.x || nelko->Where().y != before.y)
                    acted = Now();
                else
                    Session::Sleep(3);
            ASSERT_GT(acted, 0) << "command " << i << " ran nothing; " << Texts();
            ASSERT_GT(feed.SpeechEnded(), spokenBefore);
            latencies.push_back(acted - (from ? from : feed.SpeechEnded()));
            ASSERT_TRUE(nelko->WaitForRest(art));
        }
        std::sort(latencies.begin(), latencies.end());
        printf("%s to first frame over %zu commands: median %.0f ms, 90th percentile "
               "%.0f ms, fastest %.0f ms, slowest %.0f ms\n",
               what, latencies.size(), latencies[latencies.size() / 2] * 1000,
               latencies[latencies.size() * 9 / 10] * 1000, latencies.front() * 1000,
               latencies.back() * 1000);

        const pid_t hub = WineProcess("Feedback.exe");
        ASSERT_NE(hub, 0);
        const double start = Now(), used = CpuSeconds(hub);
        Session::Sleep(60000);
        printf("the hub listening to room noise: %.1f%% of one core over %.0f s\n",
               (CpuSeconds(hub) - used) / (Now() - start) * 100, Now() - start);
    }
    // Says text. In Hold mode the key is held from before the speech and
    // released a moment after it (*from: when); otherwise *from stays 0.
    void Speak(int mode, const std::string &text, double *from)
    {
        if (mode == 1) {
            HoldKey(true);
            Session::Sleep(250);
        }
        feed.Speak(Speech(text));
        if (mode == 1) {
            ASSERT_TRUE(feed.WaitSpoken(15000));
            Session::Sleep(150);
            HoldKey(false);
            *from = Now();
        }
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

// Hold mode: what is said with the key up is neither decoded nor shown;
// what is said while it is held runs once the key comes up.
TEST_F(Microphone, HoldModeTakesOnlyWhatIsSaidWhileTheKeyIsHeld)
{
    ASSERT_EQ(SetListen(1), 0);
    StartNelko();
    ASSERT_TRUE(WaitShows(HoldUp, 15000)) << Texts();

    const Rect before = nelko->Where();
    Say("go left");
    Session::Sleep(3000);
    EXPECT_TRUE(RanNothing(before));

    HoldKey(true);
    EXPECT_TRUE(WaitShows(Held, 2000)) << Texts();
    Session::Sleep(300);
    feed.Speak(Speech("go left"));
    ASSERT_TRUE(feed.WaitSpoken(15000));
    Session::Sleep(300);
    HoldKey(false);
    EXPECT_TRUE(session.WaitFor([&] { return nelko->Frame(art) != RestFrame; }, HeardMs))
        << Texts();
    EXPECT_TRUE(Moved(before, -96, 0));
    EXPECT_TRUE(Shows(HoldUp)) << Texts();
}

// Name mode: a command counts only after the name.
TEST_F(Microphone, NameModeTakesACommandOnlyAfterTheName)
{
    ASSERT_EQ(SetListen(2), 0);
    StartNelko();
    ASSERT_TRUE(WaitShows(AfterName, 15000)) << Texts();

    const Rect before = nelko->Where();
    Say("go left");
    Session::Sleep(3000);
    EXPECT_TRUE(Shows("text\tNothing heard yet")) << Texts();
    EXPECT_EQ(nelko->Frame(art), RestFrame);
    EXPECT_EQ(nelko->Where().x, before.x);
    EXPECT_TRUE(Walks("nelko, go left", -96));
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
// into the microphone), or in Hold mode from the key's release, to Nelko's
// first frame of the walk, over 20 commands; then the hub's processor time
// while it listens to room noise (in Hold mode with the key up), in each
// mode.
TEST_F(Microphone, DISABLED_Benchmark)
{
    Measure(0, "spoken command", Open);
    EXPECT_TRUE(Walks("go left", -96)) << "the hub still obeys";
}

TEST_F(Microphone, DISABLED_BenchmarkHold)
{
    Measure(1, "key released after a command", HoldUp);
}

TEST_F(Microphone, DISABLED_BenchmarkName)
{
    Measure(2, "spoken command after the name", AfterName);
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
