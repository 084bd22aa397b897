// The hub hears: LISTEN and scored SAY on the channel, the input level passed
// on to the services, the level meter's scale, sound files as the hub takes
// them, and the listener thread decoding speech synthesised here with
// espeak-ng through the real recogniser.
#include "voiced/hub/listener.h"
#include "voiced/core/hubcore.h"
#include "voiced/recogniser/wave.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <thread>
#include <unistd.h>

namespace {

// ---------------------------------------------------------------------------
// The channel

struct ListeningLink : HubCore::Link {
    std::map<int, std::vector<std::string>> sent; // per client, newlines stripped
    std::vector<int> dropped;
    std::vector<std::string> files; // paths handed to Listen
    bool takes = true;
    void Send(int client, const std::string &line) override
    {
        sent[client].push_back(line.substr(0, line.size() - 1));
    }
    void Drop(int client) override { dropped.push_back(client); }
    bool Listen(int, const std::string &path, std::string *why) override
    {
        files.push_back(path);
        if (!takes)
            *why = "too many sound files are waiting";
        return takes;
    }
    std::vector<std::string> Take(int client)
    {
        auto lines = std::move(sent[client]);
        sent[client].clear();
        return lines;
    }
};

class VoicedListenHubTest : public ::testing::Test {
  protected:
    ListeningLink link;
    HubCore hub{&link};
    void SetUp() override
    {
        hub.Opened(1);
        hub.Received(1, "SERVICE\t100");
        hub.Received(1, "MENU\t1\t1\t1\tNelko\tMain\tGo Left\tBye Bye");
        hub.Opened(2);
        hub.Received(2, "SERVICE\t200");
        hub.Received(2, "MENU\t1\t1\t0\tQuiet\tMain\tGo Left"); // not listening
        hub.Opened(3);                                          // a client
    }
};

// The file is read off the hub's thread: the answer comes when it has been.
TEST_F(VoicedListenHubTest, ListenHandsTheFileOnAndAnswersWhenItHasBeenRead)
{
    hub.Received(3, "LISTEN\tZ:\\clips\\go left.wav");
    EXPECT_EQ(link.files, std::vector<std::string>{"Z:\\clips\\go left.wav"});
    EXPECT_TRUE(link.Take(3).empty());
    hub.Listened(3, true, 1940, "");
    EXPECT_EQ(link.Take(3), std::vector<std::string>{"LISTENING\t1940"});
    hub.Listened(3, false, 0, "not a wave file the recogniser reads");
    EXPECT_EQ(link.Take(3),
              std::vector<std::string>{"REFUSED\tnot a wave file the recogniser reads"});
    link.takes = false;
    hub.Received(3, "LISTEN\tZ:\\notes.wav");
    EXPECT_EQ(link.Take(3), std::vector<std::string>{"REFUSED\ttoo many sound files are waiting"});
    EXPECT_TRUE(link.dropped.empty()) << "a file refused is no broken protocol";
    hub.Closed(3);
    hub.Listened(3, true, 1940, "");
    EXPECT_TRUE(link.Take(3).empty()) << "an answer for a client gone goes nowhere";
}

// Only a file on a drive, named by its full path, reaches the recogniser.
TEST_F(VoicedListenHubTest, ListenTakesOnlyAFullPathOnADrive)
{
    const struct {
        const char *path;
        const char *refused; // or null: taken
    } rows[] = {
        {"C:\\clips\\go left.wav", nullptr},
        {"c:/clips/go left.wav", nullptr},   // either slash
        {"C:\\clips\\console.wav", nullptr}, // a device's name inside a longer one
        {"C:\\com10.wav", nullptr},          // no such device
        {"\\\\server\\share\\go.wav", "not a full path on a drive (C:\\...)"}, // UNC
        {"\\\\.\\pipe\\NelkoVoiceHub-1", "not a full path on a drive (C:\\...)"},
        {"\\\\?\\C:\\go.wav", "not a full path on a drive (C:\\...)"},
        {"clips\\go.wav", "not a full path on a drive (C:\\...)"}, // relative
        {"C:go.wav", "not a full path on a drive (C:\\...)"},      // the drive's own folder
        {"C:\\clips\\", "not a full path on a drive (C:\\...)"},   // a folder
        {"1:\\go.wav", "not a full path on a drive (C:\\...)"},
        {"C:\\go.wav:hidden", "not a file's path"}, // a stream
        {"C:\\clips\\*.wav", "not a file's path"},
        {"C:\\con", "a device, not a file"},
        {"C:\\clips\\NUL.wav", "a device, not a file"}, // an extension changes nothing
        {"C:\\clips\\Com1 .wav\\go.wav", "a device, not a file"},
        {"C:/lpt9", "a device, not a file"},
        {"C:\\conout$", "a device, not a file"},
        {"C:\\COM\xB9.wav", "a device, not a file"}, // superscript one, the ANSI code page
        {"C:\\lpt\xC2\xB2", "a device, not a file"}, // superscript two as UTF-8
        {"C:\\clips\\com\xB3 .x\\go.wav", "a device, not a file"},
        {"C:\\COM\xB4.wav", nullptr}, // an acute accent, no digit
    };
    for (const auto &row : rows) {
        link.files.clear();
        hub.Received(3, std::string("LISTEN\t") + row.path);
        if (row.refused) {
            EXPECT_TRUE(link.files.empty()) << row.path;
            EXPECT_EQ(link.Take(3),
                      std::vector<std::string>{std::string("REFUSED\t") + row.refused})
                << row.path;
        } else {
            EXPECT_EQ(link.files, std::vector<std::string>{row.path});
            EXPECT_TRUE(link.Take(3).empty()) << row.path;
        }
    }
    EXPECT_TRUE(link.dropped.empty());
}

TEST_F(VoicedListenHubTest, MalformedListenAndSayAreRefused)
{
    const struct {
        const char *line;
        const char *why;
    } cases[] = {
        {"LISTEN", "no path"},
        {"LISTEN\t", "an empty path"},
        {"LISTEN\ta\tb", "two paths"},
        {"SAY\tGo Left\t101", "a score over 100"},
        {"SAY\tGo Left\t-1", "a negative score"},
        {"SAY\tGo Left\t050", "a leading zero"},
        {"SAY\tGo Left\t50\t1", "a field too many"},
    };
    int client = 10;
    for (const auto &c : cases) {
        hub.Opened(client);
        hub.Received(client, c.line);
        ASSERT_EQ(link.dropped.size(), size_t(client - 9)) << c.why;
        EXPECT_EQ(link.dropped.back(), client) << c.why;
        ++client;
    }
    // A path as long as Windows allows, and one byte more.
    hub.Opened(client);
    hub.Received(client, "LISTEN\tC:\\" + std::string(HubCore::MaxListenPath - 3, 'p'));
    EXPECT_TRUE(link.Take(client).empty()) << "taken";
    hub.Received(client, "LISTEN\tC:\\" + std::string(HubCore::MaxListenPath - 2, 'p'));
    EXPECT_EQ(link.dropped.back(), client);
    EXPECT_EQ(link.files.size(), 1u) << "nothing refused reached the recogniser";
}

TEST_F(VoicedListenHubTest, AScoredSayIsDeliveredAsATypedOneAndKeepsItsScore)
{
    hub.Received(3, "SAY\tgo left\t73");
    EXPECT_EQ(link.Take(3), std::vector<std::string>{"SAID\t1\t1"});
    EXPECT_EQ(link.Take(1), std::vector<std::string>{"PHRASE\t1\tgo left"});
    EXPECT_TRUE(link.Take(2).empty());
    EXPECT_EQ(hub.Last().score, 73);
    hub.Received(3, "SAY\tBye Bye");
    EXPECT_EQ(hub.Last().score, -1) << "a typed phrase has no score";
    EXPECT_EQ(hub.Say("Bye Bye", nullptr, 0), 3u);
    EXPECT_EQ(hub.Last().score, 0);
}

TEST_F(VoicedListenHubTest, TheLevelGoesToListeningServicesOnly)
{
    link.Take(1), link.Take(2);
    hub.Level(40000);
    hub.Level(0);
    EXPECT_EQ(link.Take(1), (std::vector<std::string>{"LEVEL\t40000", "LEVEL\t0"}));
    EXPECT_TRUE(link.Take(2).empty());
    EXPECT_TRUE(link.Take(3).empty());
}

// ---------------------------------------------------------------------------
// The level meter

std::vector<int16_t> Sine(double amplitude, size_t count = 1600)
{
    std::vector<int16_t> s(count);
    for (size_t i = 0; i < count; ++i)
        s[i] = static_cast<int16_t>(std::lround(amplitude * std::sin(i * 0.3)));
    return s;
}

TEST(LevelPercent, ADecibelScaleFromSixtyBelowFullScale)
{
    const struct {
        std::vector<int16_t> samples;
        unsigned level;
    } cases[] = {
        {{}, 0},                                   // nothing
        {std::vector<int16_t>(1600, 0), 0},        // digital silence
        {std::vector<int16_t>(1600, -32768), 100}, // full scale, negative
        {std::vector<int16_t>(7, 32767), 100},     // full scale, an odd count
        {Sine(32767 * std::sqrt(2.0) / 10), 67},   // RMS at -20 dBFS: 40 of 60 dB
        {Sine(32767 * std::sqrt(2.0) / 1000), 0},  // -60 dBFS: the floor
        {Sine(32767 * std::sqrt(2.0) / 100), 33},  // -40 dBFS
        {std::vector<int16_t>(1600, 1), 0},        // the least bit: below the floor
    };
    for (const auto &c : cases)
        EXPECT_EQ(LevelPercent(c.samples.data(), c.samples.size()), c.level)
            << c.samples.size() << " samples";
}

// ---------------------------------------------------------------------------
// Sound files as the hub takes them

class LoadSoundTest : public ::testing::Test {
  protected:
    std::string Path(const std::string &name)
    {
        return testing::TempDir() + "voiced-listen-" + std::to_string(getpid()) + "-" + name;
    }
    std::string Write(const std::string &name, const std::vector<uint8_t> &bytes)
    {
        const std::string path = Path(name);
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
        written.push_back(path);
        return path;
    }
    void TearDown() override
    {
        for (const std::string &path : written)
            std::remove(path.c_str());
    }
    std::vector<std::string> written;
};

TEST_F(LoadSoundTest, TakesCommonRatesAndRefusesWhatIsNoSoundForIt)
{
    const std::vector<int16_t> second = Sine(8000, 44100 * 2); // stereo frames: one second
    const std::vector<int16_t> mono = Sine(8000, 22050);
    std::vector<int16_t> samples;
    std::string why;
    ASSERT_TRUE(
        LoadSound(Write("stereo.wav", WriteWave(second.data(), 44100, 44100, 2)), &samples, &why))
        << why;
    EXPECT_NEAR(double(samples.size()), RecogniserRate, 2) << "resampled to 16 kHz";
    ASSERT_TRUE(LoadSound(Write("mono.wav", WriteWave(mono.data(), mono.size(), 22050, 1)),
                          &samples, &why));
    EXPECT_NEAR(double(samples.size()), RecogniserRate, 2);

    const struct {
        std::string path;
        const char *why;
    } refused[] = {
        {Path("missing.wav"), "the file cannot be opened"},
        {Write("text.wav", {'h', 'e', 'l', 'l', 'o'}), "not a wave file the recogniser reads"},
        {Write("empty.wav", {}), "not a wave file the recogniser reads"},
        // A rate that would make the resampler's output enormous.
        {Write("slow.wav", WriteWave(mono.data(), 3000, 1000, 1)), "an unusual sample rate"},
        {Write("fast.wav", WriteWave(mono.data(), 3000, 96000, 1)), "an unusual sample rate"},
        {Write("long.wav",
               [] {
                   const std::vector<int16_t> s(size_t(MinSoundRate) * (MaxSoundSeconds + 1), 1);
                   return WriteWave(s.data(), s.size(), MinSoundRate, 1);
               }()),
         "the sound is too long"},
    };
    for (const auto &c : refused) {
        samples = {7};
        why.clear();
        EXPECT_FALSE(LoadSound(c.path, &samples, &why)) << c.path;
        EXPECT_EQ(why, c.why) << c.path;
        EXPECT_EQ(samples, std::vector<int16_t>{7}) << "untouched: " << c.path;
    }
    // Too large to read at all: refused by its size, before reading.
    const std::string huge = Path("huge.wav");
    written.push_back(huge);
    std::ofstream(huge).put('R');
    ASSERT_EQ(truncate(huge.c_str(), MaxSoundFileBytes + 1), 0); // sparse: no disk used
    EXPECT_FALSE(LoadSound(huge, &samples, &why));
    EXPECT_EQ(why, "the file is too large");
}

// ---------------------------------------------------------------------------
// The listener thread, with the real recogniser

// Speech synthesised with espeak-ng, at 16 kHz over a quiet noise floor.
std::vector<int16_t> Floor(double seconds)
{
    static uint32_t state = 4711;
    std::vector<int16_t> s(static_cast<size_t>(seconds * RecogniserRate));
    for (int16_t &v : s) {
        state = state * 1664525u + 1013904223u;
        v = static_cast<int16_t>((static_cast<int>(state >> 16) - 32768) * 40 / 32768);
    }
    return s;
}

std::vector<int16_t> Speech(const std::string &text)
{
    static std::map<std::string, std::vector<int16_t>> cache;
    auto hit = cache.find(text);
    if (hit != cache.end())
        return hit->second;
    const std::string path =
        testing::TempDir() + "voiced-listen-say-" + std::to_string(getpid()) + ".wav";
    const std::string command =
        "espeak-ng -v en-us -s 160 -w '" + path + "' '" + text + "' >/dev/null 2>&1";
    std::vector<int16_t> speech;
    if (std::system(command.c_str()) != 0 || !LoadWave16k(path.c_str(), &speech))
        ADD_FAILURE() << "espeak-ng could not say \"" << text << "\" (scripts/deps.sh)";
    std::remove(path.c_str());
    std::vector<int16_t> floor = Floor(0.8);
    for (size_t i = 0; i < speech.size(); ++i)
        speech[i] = static_cast<int16_t>(speech[i] + floor[i % floor.size()]);
    return cache[text] = speech;
}

std::vector<int16_t> Join(const std::vector<std::vector<int16_t>> &pieces)
{
    std::vector<int16_t> all;
    for (const auto &piece : pieces)
        all.insert(all.end(), piece.begin(), piece.end());
    return all;
}

const std::vector<std::string> Commands = {"Random",    "Go Left",     "Go Right", "Run Left",
                                           "Run Right", "Go Up",       "Go Down",  "Wave",
                                           "Dance",     "About Nelko", "Bye Bye"};

// What the hooks saw, in order, as one thread-safe log.
class Ears {
  public:
    Listener::Hooks Hooks()
    {
        return {
            [this](Listener::State state) {
                Log(state == Listener::State::Ready ? "ready" : "unavailable");
            },
            [this](const Listener::Heard &h) {
                std::lock_guard<std::mutex> hold(lock_);
                heard_.push_back(h);
                log_.push_back((h.source == Listener::Source::File ? "file: " : "mic: ") +
                               (h.phrase.empty() ? "(none)" : h.phrase));
                changed_.notify_all();
            },
            [this](bool decoding) { Log(decoding ? "file begins" : "file ends"); },
            [this](bool unknown) { Log(unknown ? "name unknown" : "name known"); },
        };
    }
    // Waits for a log line; false after a generous time.
    bool WaitFor(const std::string &line)
    {
        std::unique_lock<std::mutex> hold(lock_);
        return changed_.wait_for(hold, std::chrono::seconds(60), [&] {
            return std::find(log_.begin(), log_.end(), line) != log_.end();
        });
    }
    std::vector<std::string> Log()
    {
        std::lock_guard<std::mutex> hold(lock_);
        return log_;
    }
    std::vector<Listener::Heard> Heard()
    {
        std::lock_guard<std::mutex> hold(lock_);
        return heard_;
    }
    void Log(const std::string &line)
    {
        std::lock_guard<std::mutex> hold(lock_);
        log_.push_back(line);
        changed_.notify_all();
    }

  private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<std::string> log_;
    std::vector<Listener::Heard> heard_;
};

void StartListening(Listener &listener)
{
    listener.Start({NELKO_RECOGNISER_MODEL, NELKO_RECOGNISER_DICT, NELKO_RECOGNISER_EXTRA_DICT});
}

TEST(Listener, AFileIsSegmentedAndEachUtteranceReportedOnceInOrder)
{
    Ears ears;
    Listener listener(ears.Hooks());
    listener.SetPhrases(Commands);
    // Handed in before the model has loaded: it waits.
    listener.Listen(Join({Floor(0.5), Speech("go left"), Floor(1.5), Speech("hello there"),
                          Floor(1.2), Speech("about nelko"), Floor(0.6)}));
    EXPECT_EQ(listener.FilesPending(), 1u);
    StartListening(listener);
    ASSERT_TRUE(ears.WaitFor("file ends"));
    EXPECT_EQ(ears.Log(),
              (std::vector<std::string>{"ready", "file begins", "file: Go Left", "file: (none)",
                                        "file: About Nelko", "file ends"}));
    EXPECT_EQ(listener.FilesPending(), 0u);
    for (const Listener::Heard &h : ears.Heard()) {
        EXPECT_FALSE(h.heard.empty()) << "what a rejected utterance was heard as is shown";
        EXPECT_DOUBLE_EQ(h.threshold, RecogniserDefaultThreshold);
        EXPECT_LT(h.start, h.end);
    }
    EXPECT_EQ(listener.Level(), 0u) << "the meter falls when the file ends";
}

TEST(Listener, AFileInterruptsTheMicrophoneWhichGoesOnAfterIt)
{
    Ears ears;
    Listener listener(ears.Hooks());
    listener.SetPhrases(Commands);
    StartListening(listener);
    ASSERT_TRUE(ears.WaitFor("ready"));

    // The microphone stops in the middle of "wave" (no pause after it) when
    // a file comes: the word is decoded from the microphone's stream first.
    const std::vector<int16_t> mic = Join({Floor(0.5), Speech("wave")});
    for (size_t at = 0; at < mic.size(); at += 1600)
        ASSERT_TRUE(listener.Hear(mic.data() + at, std::min<size_t>(1600, mic.size() - at)));
    EXPECT_GT(listener.Level(), 30u) << "the meter shows the loudest piece heard";
    listener.Listen(Join({Floor(0.5), Speech("go right"), Floor(0.6)}));
    ASSERT_TRUE(ears.WaitFor("file ends"));

    // New phrases and a strict threshold apply to what comes next.
    listener.SetPhrases({"Dance", "Go Down"});
    listener.SetThreshold(1.5); // clamped to 1
    const std::vector<int16_t> more = Join({Floor(0.5), Speech("go down"), Floor(0.8)});
    listener.Hear(more.data(), more.size());
    listener.MicrophoneStopped();
    ASSERT_TRUE(ears.WaitFor("mic: (none)"));
    EXPECT_EQ(ears.Log(), (std::vector<std::string>{"ready", "mic: Wave", "file begins",
                                                    "file: Go Right", "file ends", "mic: (none)"}));
    const Listener::Heard last = ears.Heard().back();
    EXPECT_EQ(last.heard, "go down");
    EXPECT_DOUBLE_EQ(last.threshold, 1.0);
    EXPECT_LT(last.score, 1.0) << "a perfect score would pass any threshold";
    EXPECT_EQ(listener.Level(), 0u);
}

// Hold mode: speech with the key up is never decoded; the hold, from just
// before the press to just after the release, is one utterance, decided at
// the release without its tail when it then already ends in silence. A file
// handed in is decoded as it would be always.
TEST(Listener, InHoldModeOnlyTheHoldAndFilesAreDecoded)
{
    Ears ears;
    Listener listener(ears.Hooks());
    listener.SetPhrases(Commands);
    RecogniserOptions options{NELKO_RECOGNISER_MODEL, NELKO_RECOGNISER_DICT,
                              NELKO_RECOGNISER_EXTRA_DICT};
    options.listen = RecogniserListen::Hold;
    listener.Start(options);
    ASSERT_TRUE(ears.WaitFor("ready"));
    const auto hear = [&](const std::vector<int16_t> &samples) {
        for (size_t at = 0; at < samples.size(); at += 160)
            ASSERT_TRUE(
                listener.Hear(samples.data() + at, std::min<size_t>(160, samples.size() - at)));
    };
    hear(Join({Floor(0.5), Speech("go left"), Floor(1.0)}));
    listener.SetKeyDown(true);
    hear(Join({Floor(0.1), Speech("wave")}));
    listener.SetKeyDown(false);
    hear(Floor(0.5));
    ASSERT_TRUE(ears.WaitFor("mic: Wave"));
    listener.Listen(Join({Floor(0.5), Speech("go right"), Floor(0.6)}));
    ASSERT_TRUE(ears.WaitFor("file ends"));
    // The speaker stopped well before the key came up: no more sound is
    // needed (none comes).
    listener.SetKeyDown(true);
    hear(Join({Floor(0.1), Speech("go left"), Floor(0.4)}));
    listener.SetKeyDown(false);
    ASSERT_TRUE(ears.WaitFor("mic: Go Left"));
    EXPECT_EQ(ears.Log(),
              (std::vector<std::string>{"ready", "mic: Wave", "file begins", "file: Go Right",
                                        "file ends", "mic: Go Left"}));
}

// The microphone's samples may wait between utterances, where the
// recogniser only listens for speech to begin; they are wanted as they come
// while it hears speech, whose end is waited for, and in Hold mode, whose
// key's release is.
TEST(Listener, TheMicrophoneMayWaitOnlyBetweenUtterances)
{
    Ears ears;
    Listener listener(ears.Hooks());
    listener.SetPhrases(Commands);
    StartListening(listener);
    ASSERT_TRUE(ears.WaitFor("ready"));
    const auto hear = [&](const std::vector<int16_t> &samples, size_t from, size_t to) {
        for (size_t at = from; at < to; at += 160)
            ASSERT_TRUE(listener.Hear(samples.data() + at, std::min<size_t>(160, to - at)));
    };
    const auto wantsSoon = [&](bool want) { // once the listener has caught up, or not
        for (int i = 0; i < 500 && listener.WantsSamplesSoon() != want; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return listener.WantsSamplesSoon() == want;
    };
    const std::vector<int16_t> mic = Join({Floor(0.5), Speech("go left"), Floor(1.0)});
    const size_t midWord = Floor(0.5).size() + Speech("go left").size() * 2 / 3;
    hear(mic, 0, Floor(0.5).size());
    EXPECT_TRUE(wantsSoon(false)) << "the room before the speech";
    hear(mic, Floor(0.5).size(), midWord);
    EXPECT_TRUE(wantsSoon(true)) << "in the middle of the command";
    hear(mic, midWord, mic.size());
    ASSERT_TRUE(ears.WaitFor("mic: Go Left"));
    EXPECT_TRUE(wantsSoon(false)) << "after the command";
    listener.SetListening(RecogniserListen::Hold, "");
    EXPECT_TRUE(listener.WantsSamplesSoon()) << "Hold mode, with the key up";
}

// Name mode from the start, before any phrase is set.
TEST(Listener, InNameModeACommandCountsAfterTheName)
{
    Ears ears;
    Listener listener(ears.Hooks());
    RecogniserOptions options{NELKO_RECOGNISER_MODEL, NELKO_RECOGNISER_DICT,
                              NELKO_RECOGNISER_EXTRA_DICT};
    options.listen = RecogniserListen::Name;
    listener.Start(options);
    ASSERT_TRUE(ears.WaitFor("ready"));
    listener.SetPhrases(Commands);
    listener.Listen(
        Join({Floor(0.5), Speech("go left"), Floor(1.5), Speech("nelko, go right"), Floor(0.6)}));
    ASSERT_TRUE(ears.WaitFor("file ends"));
    EXPECT_EQ(ears.Log(), (std::vector<std::string>{"ready", "file begins", "file: (none)",
                                                    "file: Go Right", "file ends"}));
    // A name the ear cannot pronounce is told, with or without phrases, and
    // so is its end.
    listener.SetListening(RecogniserListen::Name, "zqxv");
    ASSERT_TRUE(ears.WaitFor("name unknown"));
    listener.SetListening(RecogniserListen::Name, "nelko");
    EXPECT_TRUE(ears.WaitFor("name known"));
}

// Files handed in by path are read on a thread of their own. At most a few
// wait; the rest are refused at once, and one that cannot be read is
// answered so and frees its place.
TEST(Listener, FilesWaitingAreBoundedAndEachIsAnsweredOnce)
{
    const std::string good =
        testing::TempDir() + "voiced-listen-" + std::to_string(getpid()) + "-floor.wav";
    const std::vector<int16_t> floor = Floor(0.5);
    ASSERT_EQ(SaveWave(good.c_str(), floor.data(), floor.size(), RecogniserRate), 1);
    Ears ears;
    Listener listener(ears.Hooks()); // not started: nothing is read yet
    const auto answer = [&](bool taken, uint32_t millis, const std::string &why) {
        ears.Log(taken ? "taken " + std::to_string(millis) : "refused: " + why);
    };
    std::string why;
    for (size_t i = 0; i < Listener::MaxFilesWaiting; ++i)
        EXPECT_TRUE(listener.ListenFile(i == 1 ? good + ".missing" : good, answer, &why)) << i;
    EXPECT_FALSE(listener.ListenFile(good, answer, &why));
    EXPECT_EQ(why, "too many sound files are waiting");
    EXPECT_EQ(listener.FilesPending(), Listener::MaxFilesWaiting);

    StartListening(listener);
    for (int i = 0; i < 600 && listener.FilesPending(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::vector<std::string> answers;
    for (const std::string &line : ears.Log())
        if (line.rfind("taken", 0) == 0 || line.rfind("refused", 0) == 0)
            answers.push_back(line);
    EXPECT_EQ(answers, (std::vector<std::string>{"taken 500", "refused: the file cannot be opened",
                                                 "taken 500", "taken 500"}));
    const std::vector<std::string> log = ears.Log();
    EXPECT_EQ(std::count(log.begin(), log.end(), "file ends"), 3);
    EXPECT_TRUE(listener.ListenFile(good, answer, &why)) << "room again";
    std::remove(good.c_str());
}

TEST(Listener, WithoutAModelNothingIsQueued)
{
    Ears ears;
    Listener listener(ears.Hooks());
    listener.Start({"/nonexistent/model", NELKO_RECOGNISER_DICT, ""});
    ASSERT_TRUE(ears.WaitFor("unavailable"));
    EXPECT_EQ(listener.CurrentState(), Listener::State::Unavailable);
    const std::vector<int16_t> s = Floor(0.1);
    EXPECT_FALSE(listener.Hear(s.data(), s.size()));
    std::string why;
    EXPECT_FALSE(listener.ListenFile("any.wav", nullptr, &why));
    EXPECT_EQ(why, "speech recognition is unavailable");
}

TEST(Listener, TheMicrophoneBacklogIsBounded)
{
    Ears ears;
    Listener listener(ears.Hooks()); // not started: nothing is taken off the queue
    const std::vector<int16_t> tenth = Floor(0.1);
    size_t taken = 0;
    while (listener.Hear(tenth.data(), tenth.size()) && taken < 2 * Listener::MaxBacklogSamples)
        taken += tenth.size();
    EXPECT_EQ(taken, Listener::MaxBacklogSamples);
}

} // namespace
