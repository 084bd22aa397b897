// The voice hub hears speech: recordings handed to it with
// `nelkovoice.exe /listen` are decoded by the hub's recogniser and what it
// accepts runs Nelko's commands as said phrases do. The clips are
// synthesised with espeak-ng (Clips, voice.h).
//
// Like the service's tests, these use the harness's prefix with "-voice"
// appended and install the service there. Wine runs with its audio driver
// off: the hub has no microphone, which is the state the window must show.
#include "voice.h"
#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace e2e;

namespace {

constexpr int DecodeMs = 30000; // a recording decoded under Wine

const std::vector<std::string> Commands = {"Random",    "Go Left",     "Go Right", "Run Left",
                                           "Run Right", "Go Up",       "Go Down",  "Wave",
                                           "Dance",     "About Nelko", "Bye Bye"};

class Listen : public VoiceTest {
  protected:
    int Hear(const std::string &clip)
    {
        return Program("nelkovoice.exe", {"/listen", Clips::Windows(clip)});
    }

    // The window's line that starts with prefix ("text\tRecognised"), or "".
    std::string WindowLine(const std::string &prefix)
    {
        for (const std::string &line : FeedbackWindow())
            if (line.rfind(prefix, 0) == 0)
                return line;
        return "";
    }
    bool Shows(const std::string &line)
    {
        const std::vector<std::string> window = FeedbackWindow();
        return std::find(window.begin(), window.end(), line) != window.end();
    }
    // Hands a clip to the hub and waits until the hub has decoded it: the
    // recognised line changed and no file is being listened to.
    ::testing::AssertionResult HearAll(const std::string &clip)
    {
        const std::string before = WindowLine("text\tRecognised");
        if (const int code = Hear(clip))
            return ::testing::AssertionFailure() << "/listen exited with " << code;
        const bool done = session.WaitFor(
            [&] {
                const std::vector<std::string> window = FeedbackWindow();
                const bool busy = std::find(window.begin(), window.end(),
                                            "text\tListening to a sound file") != window.end();
                std::string now;
                for (const std::string &line : window)
                    if (line.rfind("text\tRecognised", 0) == 0)
                        now = line;
                return !busy && !now.empty() && now != before;
            },
            DecodeMs);
        if (!done)
            return ::testing::AssertionFailure() << "nothing recognised in " << clip;
        return ::testing::AssertionSuccess();
    }
};

TEST_F(Listen, SpokenCommandsRunNelkoAndOtherSpeechRunsNothing)
{
    Clips &clips = Clips::Get();
    nelko = std::make_unique<Character>(session);
    ASSERT_TRUE(Listening()) << "the hub never listed Nelko's commands";
    ASSERT_TRUE(nelko->WaitForRest(art));

    // No microphone under Wine here: the window says so, and nothing else
    // is shown.
    EXPECT_TRUE(session.WaitFor(
        [&] { return Shows("text\tNo microphone: type a phrase or click a command"); }, 20000))
        << ::testing::PrintToString(FeedbackWindow());
    for (Window window : session.TopLevelWindows())
        EXPECT_NE(session.Title(window), "Error") << session.Describe();

    // "go left" walks left as the menu entry does; the window shows what was
    // heard and its score.
    Rect before = nelko->Where();
    ASSERT_TRUE(HearAll(clips.Say("go left")));
    EXPECT_TRUE(Moved(before, -96, 0));
    EXPECT_TRUE(Shows("text\tHeard \"Go Left\": ran \"Go Left\" (Nelko, Main)"))
        << ::testing::PrintToString(FeedbackWindow());
    const std::string recognised = WindowLine("text\tRecognised \"go left\" (score ");
    EXPECT_NE(recognised, "") << ::testing::PrintToString(FeedbackWindow());
    EXPECT_EQ(recognised.substr(recognised.size() < 2 ? 0 : recognised.size() - 2), "%)");

    // Unrelated speech is heard, and runs nothing.
    before = nelko->Where();
    ASSERT_TRUE(
        HearAll(clips.Say("the weather was lovely this morning so we walked to the market")));
    EXPECT_NE(WindowLine("text\tRecognised").find("no command"), std::string::npos)
        << ::testing::PrintToString(FeedbackWindow());
    EXPECT_TRUE(Shows("text\tHeard \"Go Left\": ran \"Go Left\" (Nelko, Main)"))
        << "something was said";
    Session::Sleep(500);
    EXPECT_EQ(nelko->Frame(art), RestFrame);
    EXPECT_EQ(nelko->Where().x, before.x);

    // The sensitivity at its top: "go left" is heard, its score falls short,
    // and it runs nothing.
    ASSERT_EQ(Program("Feedback.exe", {}), 0); // shows the running hub's window
    const Window feedback = session.FindWindow(FeedbackWindowTitle, 5000);
    ASSERT_NE(feedback, 0u) << session.Describe();
    int sliderX = 0, sliderY = 0;
    {
        std::istringstream fields(WindowLine("slider\t").substr(7));
        int position = 0;
        fields >> position >> sliderX >> sliderY;
        EXPECT_EQ(position, 25) << "the default sensitivity";
    }
    ASSERT_GT(sliderX, 0) << "no sensitivity slider";
    session.Click(sliderX, sliderY);
    session.Key(feedback, XK_End);
    ASSERT_TRUE(session.WaitFor(
        [&] { return WindowLine("slider\t").rfind("slider\t100\t", 0) == 0; }, 5000))
        << ::testing::PrintToString(FeedbackWindow());
    EXPECT_TRUE(Shows("text\t100%"));
    ASSERT_TRUE(HearAll(clips.Say("go left")));
    EXPECT_NE(WindowLine("text\tRecognised \"go left\"").find("under 100%): not taken"),
              std::string::npos)
        << ::testing::PrintToString(FeedbackWindow());
    Session::Sleep(500);
    EXPECT_EQ(nelko->Where().x, before.x) << "a phrase under the sensitivity ran";
    session.Click(sliderX, sliderY);
    session.Key(feedback, XK_Home); // everything the grammar hears is taken
    ASSERT_TRUE(
        session.WaitFor([&] { return WindowLine("slider\t").rfind("slider\t0\t", 0) == 0; }, 5000));

    // "about nelko" opens the About box.
    ASSERT_EQ(Hear(clips.Say("about nelko")), 0);
    const Window box = session.FindWindow("About Nelko", DecodeMs);
    ASSERT_NE(box, 0u) << session.Describe();
    session.Key(box, XK_Escape);
    EXPECT_TRUE(session.WaitFor([&] { return !session.Mapped(box); }, 5000));

    // "bye bye" ends Nelko with exit code 0.
    ASSERT_EQ(Hear(clips.Say("bye bye")), 0);
    EXPECT_EQ(nelko->Exit(DecodeMs), 0);
}

// A file whose last chunk has an odd length and no pad byte, which once sent
// the hub's reader past the end of the file: refused with a reason, and the
// hub goes on serving.
TEST_F(Listen, AMalformedFileIsRefusedAndTheHubKeepsServing)
{
    const std::string clip = Clips::Get().Say("wave");
    session.Start("Feedback.exe");
    ASSERT_NE(session.FindWindow(FeedbackWindowTitle, 10000), 0u) << session.Describe();
    const auto le = [](uint32_t value, int bytes) {
        std::string text;
        for (int i = 0; i < bytes; ++i)
            text += static_cast<char>(value >> (8 * i));
        return text;
    };
    const std::string bad = testing::TempDir() + "voice-listen-odd.wav";
    // PCM, mono, 16 kHz, 16 bits; then a chunk of odd length without its pad.
    const std::string format =
        le(1, 2) + le(1, 2) + le(16000, 4) + le(32000, 4) + le(2, 2) + le(16, 2);
    std::ofstream(bad, std::ios::binary)
        << "RIFF" + le(39, 4) + "WAVE" + "fmt " + le(16, 4) + format + "LIST" + le(3, 4) + "abc";
    EXPECT_EQ(Hear(bad), 2) << "refused";
    std::remove(bad.c_str());
    EXPECT_EQ(Hear(clip), 0) << "the hub took a good file after it";
    EXPECT_NE(session.FindWindow(FeedbackWindowTitle, 1000), 0u) << session.Describe();
}

// What is opened is what was named: a good clip under a device's name with a
// superscript digit (which Wine opens as a file), a link to a good clip and a
// good clip inside a linked folder are refused; the clip itself is taken.
TEST_F(Listen, DevicesAndLinksAreRefused)
{
    const std::string clip = Clips::Get().Say("wave");
    const std::string folder = clip.substr(0, clip.rfind('/'));
    const std::string links = testing::TempDir() + "voice-listen-links-" + std::to_string(getpid());
    ASSERT_EQ(mkdir(links.c_str(), 0700), 0);
    ASSERT_EQ(symlink(clip.c_str(), (links + "/link.wav").c_str()), 0);
    ASSERT_EQ(symlink(folder.c_str(), (links + "/folder").c_str()), 0);
    const std::string devices[] = {"COM\u00B9.wav", "lpt\u00B2"};
    for (const std::string &device : devices)
        std::ofstream(links + "/" + device, std::ios::binary) << ReadFile(clip);
    session.Start("Feedback.exe");
    ASSERT_NE(session.FindWindow(FeedbackWindowTitle, 10000), 0u) << session.Describe();
    const struct {
        std::string path;
        const char *why;
    } rows[] = {
        {Clips::Windows(links + "/" + devices[0]), "a superscript one names the device"},
        {Clips::Windows(links + "/" + devices[1]), "a superscript two names the device"},
        {Clips::Windows(links + "/link.wav"), "a link to a clip"},
        {Clips::Windows(links + "/folder" + clip.substr(folder.size())), "a clip through a link"},
    };
    for (const auto &row : rows)
        EXPECT_EQ(Program("nelkovoice.exe", {"/listen", row.path}), 2) << row.why;
    EXPECT_EQ(Hear(clip), 0) << "the clip itself is taken";
    for (const std::string &name :
         {devices[0], devices[1], std::string("link.wav"), std::string("folder")})
        unlink((links + "/" + name).c_str());
    rmdir(links.c_str());
}

// A minute of speech with fifteen commands between pauses, noise bursts and
// tones: the hub segments it and hands each command to the service exactly
// once, in order. A probe stands in for the service, so that every delivery
// is counted where a service process sees it.
TEST_F(Listen, ALongRecordingDeliversEachCommandOnce)
{
    std::vector<std::string> said;
    for (size_t i = 0; i < 15; ++i)
        said.push_back(Commands[(i * 7) % Commands.size()]);
    const std::string recording = Clips::Get().Long(said);

    session.Start("Feedback.exe");
    ASSERT_NE(session.FindWindow(FeedbackWindowTitle, 10000), 0u) << session.Describe();
    const std::string out = testing::TempDir() + "voice-listen-serve.txt";
    std::vector<std::string> args = {"serve", std::to_string(said.size()), "120",
                                     Clips::Windows(out)};
    args.insert(args.end(), Commands.begin(), Commands.end());
    const pid_t probe = session.Start("voiceprobe.exe", args);
    ASSERT_TRUE(Listening()) << "the probe's menu never reached the hub";

    ASSERT_EQ(Hear(recording), 0);
    EXPECT_EQ(session.WaitExit(probe, 130000), 0) << "not every command was delivered";
    std::vector<std::string> delivered;
    int level = -1;
    for (const std::string &line : Lines(ReadFile(out))) {
        if (line.rfind("phrase\t", 0) == 0)
            delivered.push_back(line.substr(7));
        if (line.rfind("level\t", 0) == 0)
            level = atoi(line.c_str() + 6);
    }
    EXPECT_EQ(delivered, said);
    EXPECT_GT(level, 0) << "the services were never given the input level";
}

} // namespace
