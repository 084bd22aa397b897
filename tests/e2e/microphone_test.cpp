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
    feed.Speak(Speech("the weather was lovely this morning so we walked to the market and "
                      "bought some bread"));
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

} // namespace
