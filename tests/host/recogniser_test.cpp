// The offline recogniser: wave files, phrases to grammar and pronunciations,
// and recognition of speech synthesised here with espeak-ng.
#include "voiced/recogniser/band.h"
#include "voiced/recogniser/lexicon.h"
#include "voiced/recogniser/recogniser.h"
#include "voiced/recogniser/wave.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <unistd.h>

namespace {

const double Pi = 3.14159265358979323846;

// A wave image built chunk by chunk, for the reader's odd cases.
struct WaveImage {
    std::vector<uint8_t> bytes;
    void Put(uint32_t v, int n)
    {
        for (int i = 0; i < n; i++)
            bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    void Tag(const char *t) { bytes.insert(bytes.end(), t, t + 4); }
    WaveImage() { Tag("RIFF"), Put(0, 4), Tag("WAVE"); }
    void Fmt(uint16_t format, uint16_t channels, uint32_t rate, uint16_t bits,
             bool extensible = false)
    {
        Tag("fmt "), Put(extensible ? 40 : 16, 4);
        Put(extensible ? 0xFFFE : format, 2), Put(channels, 2), Put(rate, 4);
        Put(rate * channels * bits / 8, 4), Put(channels * bits / 8, 2), Put(bits, 2);
        if (extensible) {
            Put(22, 2), Put(bits, 2), Put(0, 4), Put(format, 2); // size, valid bits, mask, GUID
            static const uint8_t rest[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                             0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
            bytes.insert(bytes.end(), rest, rest + 14);
        }
    }
    void Data(const std::vector<uint8_t> &payload, uint32_t declared = 0)
    {
        Tag("data"), Put(declared ? declared : static_cast<uint32_t>(payload.size()), 4);
        bytes.insert(bytes.end(), payload.begin(), payload.end());
    }
};

std::vector<int16_t> Tone(double hz, double seconds, unsigned rate, double amplitude)
{
    std::vector<int16_t> s(static_cast<size_t>(seconds * rate));
    for (size_t i = 0; i < s.size(); i++)
        s[i] = static_cast<int16_t>(std::lround(amplitude * std::sin(2 * Pi * hz * i / rate)));
    return s;
}

double Rms(const std::vector<int16_t> &s, size_t from, size_t to)
{
    double sum = 0;
    for (size_t i = from; i < to; i++)
        sum += double(s[i]) * s[i];
    return std::sqrt(sum / (to - from));
}

// Upward zero crossings per second, away from the edges.
double Frequency(const std::vector<int16_t> &s, unsigned rate)
{
    size_t from = s.size() / 10, to = s.size() - s.size() / 10;
    int crossings = 0;
    for (size_t i = from + 1; i < to; i++)
        crossings += s[i - 1] < 0 && s[i] >= 0;
    return crossings * double(rate) / (to - from);
}

} // namespace

TEST(ReadWave, ReadsTheCommonEncodings)
{
    struct Case {
        const char *what;
        uint16_t format, channels, bits;
        bool extensible;
        std::vector<uint8_t> payload;
        std::vector<int16_t> expected;
    } cases[] = {
        // 16-bit, little-endian, signed
        {"pcm16", 1, 1, 16, false, {0x01, 0x00, 0xFF, 0xFF, 0x00, 0x80}, {1, -1, -32768}},
        // 8-bit is unsigned around 128
        {"pcm8", 1, 1, 8, false, {0x80, 0xFF, 0x00}, {0, 32512, -32768}},
        // 24-bit keeps the top 16 bits
        {"pcm24", 1, 1, 24, false, {0x00, 0x34, 0x12, 0xFF, 0xFF, 0xFF}, {0x1234, 0}},
        // 32-bit float, clipped at full scale
        {"float32",
         3,
         1,
         32,
         false,
         {0, 0, 0, 0x3F, 0, 0, 0x80, 0xBF, 0, 0, 0, 0x40},
         {16384, -32768, 32767}},
        // stereo is averaged: (1000 + 3000) / 2, (-2 + 0) / 2
        {"stereo", 1, 2, 16, false, {0xE8, 0x03, 0xB8, 0x0B, 0xFE, 0xFF, 0x00, 0x00}, {2000, -1}},
        // WAVE_FORMAT_EXTENSIBLE naming PCM in its sub-format
        {"extensible", 1, 1, 16, true, {0x10, 0x00, 0x20, 0x00}, {16, 32}},
        // a trailing odd byte that is not a whole sample is dropped
        {"partial", 1, 1, 16, false, {0x05, 0x00, 0x07}, {5}},
    };
    for (const Case &c : cases) {
        WaveImage w;
        w.Fmt(c.format, c.channels, 11025, c.bits, c.extensible);
        w.Data(c.payload);
        Wave wave;
        ASSERT_EQ(ReadWave(w.bytes.data(), w.bytes.size(), &wave), 1) << c.what;
        EXPECT_EQ(wave.rate, 11025u) << c.what;
        EXPECT_EQ(wave.samples, c.expected) << c.what;
    }
}

TEST(ReadWave, SkipsOtherChunksAndRefusesBrokenFiles)
{
    std::vector<uint8_t> pcm = {0x34, 0x12};
    auto build = [&](auto &&edit) {
        WaveImage w;
        edit(w);
        return w.bytes;
    };
    // A "LIST" chunk of odd length (padded) before the format, and a data
    // length larger than the file (a stream cut short).
    std::vector<uint8_t> good = build([&](WaveImage &w) {
        w.Tag("LIST"), w.Put(3, 4), w.Put(0x616263, 3), w.Put(0, 1);
        w.Fmt(1, 1, 16000, 16);
        w.Data(pcm, 1000);
    });
    Wave wave;
    ASSERT_EQ(ReadWave(good.data(), good.size(), &wave), 1);
    EXPECT_EQ(wave.samples, std::vector<int16_t>{0x1234});
    WaveHeader header;
    ASSERT_EQ(ReadWaveHeader(good.data(), good.size(), &header), 1);
    EXPECT_EQ(header.frames, 1u) << "the frames present, not the 500 declared";
    EXPECT_EQ(header.rate, 16000u);

    struct Case {
        const char *what;
        std::vector<uint8_t> bytes;
    } bad[] = {
        {"not RIFF",
         build([&](WaveImage &w) { w.bytes[0] = 'X', w.Fmt(1, 1, 16000, 16), w.Data(pcm); })},
        {"no format", build([&](WaveImage &w) { w.Data(pcm); })},
        {"no data", build([&](WaveImage &w) { w.Fmt(1, 1, 16000, 16); })},
        {"no channels", build([&](WaveImage &w) { w.Fmt(1, 0, 16000, 16), w.Data(pcm); })},
        {"rate 0", build([&](WaveImage &w) { w.Fmt(1, 1, 0, 16), w.Data(pcm); })},
        {"12 bits", build([&](WaveImage &w) { w.Fmt(1, 1, 16000, 12), w.Data(pcm); })},
        {"compressed", build([&](WaveImage &w) { w.Fmt(2, 1, 16000, 16), w.Data(pcm); })},
        {"chunk past the end", build([&](WaveImage &w) { w.Tag("LIST"), w.Put(0x7FFFFFFF, 4); })},
        {"format cut short",
         build([&](WaveImage &w) { w.Tag("fmt "), w.Put(16, 4), w.Put(1, 2); })},
        {"eleven bytes", std::vector<uint8_t>(good.begin(), good.begin() + 11)},
        // The walk must stop at the end, not one byte past it.
        {"an odd last chunk without its pad byte", build([&](WaveImage &w) {
             w.Fmt(1, 1, 16000, 16);
             w.Tag("LIST"), w.Put(3, 4), w.Put(0x616263, 3);
         })},
        // The sub-format would be read from the data chunk that follows,
        // whose first sample here reads as "PCM".
        {"extensible in 16 bytes", build([&](WaveImage &w) {
             w.Tag("fmt "), w.Put(16, 4), w.Put(0xFFFE, 2), w.Put(1, 2), w.Put(16000, 4);
             w.Put(32000, 4), w.Put(2, 2), w.Put(16, 2);
             w.Data({0x01, 0x00, 0x02, 0x00});
         })},
    };
    for (const Case &c : bad) {
        const std::vector<uint8_t> exact = c.bytes; // no spare capacity for a read past the end
        Wave out;
        WaveHeader header;
        EXPECT_EQ(ReadWave(exact.data(), exact.size(), &out), 0) << c.what;
        EXPECT_EQ(ReadWaveHeader(exact.data(), exact.size(), &header), 0) << c.what;
    }
}

TEST(ReadWave, RoundTripsTheWriter)
{
    std::vector<int16_t> s = {0, 1, -1, 32767, -32768, 1234, -4321};
    std::vector<uint8_t> image = WriteWave(s.data(), s.size(), 22050, 1);
    EXPECT_EQ(image.size(), 44 + 2 * s.size());
    Wave w;
    ASSERT_EQ(ReadWave(image.data(), image.size(), &w), 1);
    EXPECT_EQ(w.rate, 22050u);
    EXPECT_EQ(w.samples, s);

    std::string path = testing::TempDir() + "/roundtrip-8k.wav";
    std::vector<int16_t> tone = Tone(440, 1.0, 8000, 8000);
    ASSERT_EQ(SaveWave(path.c_str(), tone.data(), tone.size(), 8000), 1);
    std::vector<int16_t> at16k;
    ASSERT_EQ(LoadWave16k(path.c_str(), &at16k), 1); // read and converted to 16 kHz
    EXPECT_EQ(at16k.size(), 16000u);
    EXPECT_NEAR(Frequency(at16k, 16000), 440, 5);
    std::remove(path.c_str());
    EXPECT_EQ(LoadWave16k(path.c_str(), &at16k), 0); // gone
}

TEST(Resample, KeepsThePassBandAndStopsAliases)
{
    struct Case {
        unsigned from;
        double hz;    // tone in the input
        double gain;  // expected output RMS / input RMS
        double outHz; // expected frequency, 0 when removed
    } cases[] = {
        {8000, 440, 1.0, 440},                              // up by two
        {22050, 1000, 1.0, 1000},                           // espeak-ng's rate, ratio 320/441
        {44100, 3000, 1.0, 3000}, {48000, 6500, 1.0, 6500}, // the top of the speech band
        {48000, 11000, 0.0, 0},                             // above it: must not fold back to 5 kHz
        {44099, 500, 1.0, 500}, // no small common period: the nearest of 4096 phases
        {16000, 440, 1.0, 440}, // unchanged
    };
    for (const Case &c : cases) {
        std::vector<int16_t> in = Tone(c.hz, 0.5, c.from, 10000);
        std::vector<int16_t> out = Resample(in.data(), in.size(), c.from, 16000);
        EXPECT_EQ(out.size(), in.size() * 16000 / c.from) << c.from;
        double gain = Rms(out, out.size() / 10, out.size() * 9 / 10) / Rms(in, 0, in.size());
        EXPECT_NEAR(gain, c.gain, 0.03) << c.from << " Hz, tone " << c.hz;
        if (c.outHz > 0) {
            EXPECT_NEAR(Frequency(out, 16000), c.outHz, c.outHz * 0.01) << c.from;
        }
    }
    // Told to stop (the hub is closing): it gives up.
    const std::atomic<bool> stop{true};
    const std::vector<int16_t> in = Tone(440, 0.5, 48000, 10000);
    EXPECT_TRUE(Resample(in.data(), in.size(), 48000, 16000, &stop).empty());
}

TEST(PhraseWords, SplitsLabelsAsTheDictionarySpellsThem)
{
    struct Case {
        const char *phrase;
        std::vector<std::string> words;
    } cases[] = {
        {"Go Left", {"go", "left"}},
        {"  About   Nelko ", {"about", "nelko"}}, // spacing
        {"Bye-Bye", {"bye", "bye"}},              // hyphen splits
        {"Run, Right!", {"run", "right"}},        // punctuation dropped
        {"Don't Stop", {"don't", "stop"}},        // inner apostrophe kept
        {"'Wave'", {"wave"}},                     // quotes dropped
        {"&Dance", {"dance"}},                    // a menu accelerator marker
        {"R2D2", {"r2d2"}},
        {"", {}},
        {" -- ", {}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(PhraseWords(c.phrase), c.words) << '"' << c.phrase << '"';
}

TEST(BuildGrammar, OneAlternativePerDistinctPhraseAndDecoy)
{
    std::string g =
        BuildGrammar({{"go", "left"}, {"wave"}, {"go", "left"}, {}}, {"go", "wave", "stop"});
    EXPECT_NE(g.find("<command> = go left | wave;"), std::string::npos) << g;
    // "wave" is a command already; an empty phrase is no alternative
    EXPECT_NE(g.find("<other> = go | stop;"), std::string::npos) << g;
    EXPECT_NE(g.find("public <utterance> = <command> | <other>;"), std::string::npos) << g;
    std::string onlyDecoys = BuildGrammar({}, {"go"});
    EXPECT_EQ(onlyDecoys.find("<command>"), std::string::npos) << onlyDecoys;
}

TEST(LookUpWords, FindsEveryPronunciation)
{
    std::vector<Pronunciation> found;
    ASSERT_EQ(LookUpWords(NELKO_RECOGNISER_DICT, {"read", "dance", "nelko"}, &found), 1);
    std::map<std::string, std::string> byWord;
    for (const Pronunciation &p : found)
        byWord[p.word] = p.phones;
    EXPECT_EQ(byWord["read"], "R EH D");
    EXPECT_EQ(byWord["read(2)"], "R IY D");
    EXPECT_EQ(byWord["dance"], "D AE N S");
    EXPECT_EQ(byWord.count("nelko"), 0u); // the project's own word: not in the large dictionary
    found.clear();
    ASSERT_EQ(LookUpWords(NELKO_RECOGNISER_EXTRA_DICT, {"nelko"}, &found), 1);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].phones, "N EH L K OW");
    EXPECT_EQ(LookUpWords("/nonexistent/dict", {"go"}, &found), 0);
}

namespace {

// Speech synthesised with espeak-ng, at 16 kHz with a quiet noise floor
// before and after.
class Speech {
  public:
    static std::vector<int16_t> Say(const std::string &text, double padSeconds = 0.5,
                                    const std::string &voice = "en-us")
    {
        std::string key = text + "/" + std::to_string(padSeconds) + "/" + voice;
        auto hit = cache.find(key);
        if (hit != cache.end())
            return hit->second;
        // A file of this process's own: test processes run side by side, in
        // this tree and in others.
        std::string path =
            testing::TempDir() + "recogniser-say-" + std::to_string(getpid()) + ".wav";
        std::string command =
            "espeak-ng -v " + voice + " -s 175 -w '" + path + "' '" + text + "' >/dev/null 2>&1";
        std::vector<int16_t> speech;
        const bool said = std::system(command.c_str()) == 0 && LoadWave16k(path.c_str(), &speech);
        std::remove(path.c_str());
        if (!said) {
            ADD_FAILURE() << "espeak-ng could not say \"" << text << "\" (scripts/deps.sh)";
            return {};
        }
        std::vector<int16_t> out = Floor(padSeconds);
        out.insert(out.end(), speech.begin(), speech.end());
        std::vector<int16_t> tail = Floor(padSeconds);
        out.insert(out.end(), tail.begin(), tail.end());
        AddFloor(&out);
        return cache[key] = out;
    }
    // Digital silence upsets the detector's noise estimate: a low noise floor.
    static std::vector<int16_t> Floor(double seconds)
    {
        std::vector<int16_t> s(static_cast<size_t>(seconds * RecogniserRate), 0);
        AddFloor(&s);
        return s;
    }
    static void AddFloor(std::vector<int16_t> *s, int amplitude = 40)
    {
        for (int16_t &v : *s)
            v = static_cast<int16_t>(
                std::max(-32768, std::min(32767, v + Noise() * amplitude / 32768)));
    }
    static int Noise() // deterministic, uniform in [-32768, 32767]
    {
        state = state * 1664525u + 1013904223u;
        return static_cast<int>(state >> 16) - 32768;
    }
    // Forgets what was said and restarts the noise: a test then hears the
    // same samples whichever tests ran before it in the process.
    static void Reset()
    {
        cache.clear();
        state = 12345;
    }

  private:
    static inline std::map<std::string, std::vector<int16_t>> cache;
    static inline uint32_t state = 12345;
};

struct Heard {
    std::string phrase, heard;
    double score, start, end, decided;
    RecogniserRefusal refusal;
};

void Collect(void *context, const RecogniserUtterance &u)
{
    static_cast<std::vector<Heard> *>(context)->push_back(
        {u.phrase, u.heard, u.checks.score, u.start, u.end, u.decided, u.refusal});
}

const std::vector<std::string> Commands = {"Random",    "Go Left",     "Go Right", "Run Left",
                                           "Run Right", "Go Up",       "Go Down",  "Wave",
                                           "Dance",     "About Nelko", "Bye Bye"};

class RecogniserTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite()
    {
        r = RecogniserCreate(
            {NELKO_RECOGNISER_MODEL, NELKO_RECOGNISER_DICT, NELKO_RECOGNISER_EXTRA_DICT});
    }
    static void TearDownTestSuite() { RecogniserDestroy(r), r = nullptr; }
    void SetUp() override
    {
        Speech::Reset();
        ASSERT_NE(r, nullptr) << "the acoustic model did not load from " NELKO_RECOGNISER_MODEL;
        ASSERT_EQ(RecogniserSetPhrases(r, Commands, nullptr), 1);
        RecogniserUpdate(r, RecogniserOptions());
    }
    std::vector<Heard> Hear(const std::vector<int16_t> &samples, size_t chunk = 4000)
    {
        return HearWith(r, samples, chunk);
    }
    static std::vector<Heard> HearWith(Recogniser *with, const std::vector<int16_t> &samples,
                                       size_t chunk = 4000)
    {
        std::vector<Heard> heard;
        for (size_t at = 0; at < samples.size(); at += chunk)
            RecogniserFeed(with, samples.data() + at, std::min(chunk, samples.size() - at), Collect,
                           &heard);
        RecogniserFlush(with, Collect, &heard);
        return heard;
    }
    static Recogniser *r;
};
Recogniser *RecogniserTest::r = nullptr;

std::vector<std::string> Accepted(const std::vector<Heard> &heard)
{
    std::vector<std::string> out;
    for (const Heard &h : heard)
        if (!h.phrase.empty())
            out.push_back(h.phrase);
    return out;
}

// Words without the synthesiser's silence around them.
std::vector<int16_t> Sounded(const std::string &text, const std::string &voice = "en-us")
{
    std::vector<int16_t> s = Speech::Say(text, 0, voice);
    size_t first = 0, last = s.size();
    while (first < last && std::abs(s[first]) < 400)
        first++;
    while (last > first && std::abs(s[last - 1]) < 400)
        last--;
    return std::vector<int16_t>(s.begin() + first, s.begin() + last);
}

std::vector<int16_t> Joined(std::vector<std::vector<int16_t>> parts)
{
    std::vector<int16_t> out;
    for (const std::vector<int16_t> &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

} // namespace

TEST_F(RecogniserTest, HearsCommandsOnceEach)
{
    for (const char *phrase : {"Go Left", "About Nelko", "Bye Bye", "Random"}) {
        std::vector<Heard> heard = Hear(Speech::Say(phrase));
        EXPECT_EQ(Accepted(heard), std::vector<std::string>{phrase});
        ASSERT_EQ(heard.size(), 1u) << phrase;
        EXPECT_GE(heard[0].score, RecogniserDefaultThreshold) << phrase;
        EXPECT_LE(heard[0].score, 1.0) << phrase;
    }
}

// A noise gate's output: every 10 ms quieter than the loudest by more than
// 45 dB made digital silence, as a microphone's noise suppression does.
std::vector<int16_t> Gated(std::vector<int16_t> s)
{
    const size_t frame = RecogniserRate / 100;
    std::vector<double> power;
    for (size_t at = 0; at + frame <= s.size(); at += frame) {
        double sum = 0;
        for (size_t i = at; i < at + frame; i++)
            sum += double(s[i]) * s[i];
        power.push_back(sum / frame);
    }
    const double floor = *std::max_element(power.begin(), power.end()) * std::pow(10.0, -4.5);
    for (size_t k = 0; k < power.size(); k++)
        if (power[k] < floor)
            std::fill(s.begin() + long(k * frame), s.begin() + long((k + 1) * frame), 0);
    return s;
}

// Words in a room behind a noise gate, made quieter by dB.
std::vector<int16_t> GatedInRoom(const std::vector<int16_t> &said, double dB)
{
    std::vector<int16_t> s = Gated(Joined({Speech::Floor(0.5), said, Speech::Floor(0.5)}));
    for (int16_t &v : s)
        v = int16_t(std::lround(v * std::pow(10.0, dB / 20)));
    return s;
}

// The voice as a shorter vocal tract (a child's) or a longer one would
// sound: every frequency times factor, as a recording played faster or
// slower.
std::vector<int16_t> Scaled(const std::vector<int16_t> &said, double factor)
{
    const std::string path =
        testing::TempDir() + "recogniser-scaled-" + std::to_string(getpid()) + ".wav";
    std::vector<int16_t> out;
    const bool done = SaveWave(path.c_str(), said.data(), said.size(),
                               unsigned(std::lround(RecogniserRate * factor))) == 1 &&
                      LoadWave16k(path.c_str(), &out) == 1;
    std::remove(path.c_str());
    EXPECT_TRUE(done);
    return out;
}

// Sound as a link sampled at 8 kHz passes it: nothing above 4 kHz (255
// taps of a Blackman-windowed sinc, cut off at 3.85 kHz).
std::vector<int16_t> TelephoneBand(const std::vector<int16_t> &s)
{
    const int taps = 255;
    const double fc = 3850.0 / RecogniserRate, pi = std::acos(-1.0);
    std::vector<double> h(taps);
    for (int i = 0; i < taps; i++) {
        const double n = i - (taps - 1) / 2.0;
        h[size_t(i)] = (n == 0 ? 2 * fc : std::sin(2 * pi * fc * n) / (pi * n)) *
                       (0.42 - 0.5 * std::cos(2 * pi * i / (taps - 1)) +
                        0.08 * std::cos(4 * pi * i / (taps - 1)));
    }
    std::vector<int16_t> out(s.size());
    for (size_t i = 0; i < s.size(); i++) {
        double y = 0;
        for (int k = 0; k < taps; k++) {
            const long at = long(i) + (taps - 1) / 2 - k;
            if (at >= 0 && at < long(s.size()))
                y += h[size_t(k)] * s[size_t(at)];
        }
        out[i] = int16_t(std::lround(std::max(-32768.0, std::min(32767.0, y))));
    }
    return out;
}

TEST(BandMeter, TellsTheTelephoneBandFromTheFullBand)
{
    Speech::Reset();
    for (const char *voice : {"en-us", "en-029"}) {
        const std::vector<int16_t> full = Speech::Say("Go Up", 0.5, voice);
        for (bool telephone : {false, true}) {
            const std::vector<int16_t> s = telephone ? TelephoneBand(full) : full;
            BandMeter m;
            for (size_t at = 0; at + 160 <= s.size(); at += 160)
                BandMeterHear(&m, &s[at], 160);
            EXPECT_EQ(BandMeterNarrow(m), telephone) << voice;
        }
    }
}

// Blocks kept between utterances and measured once speech follows read as
// blocks measured as they came, however many were kept.
TEST(BandMeter, BlocksKeptAndMeasuredLaterReadAsMeasuredAtOnce)
{
    Speech::Reset();
    const std::vector<int16_t> said = TelephoneBand(Speech::Say("Go Up", 0.5, "en-us"));
    const struct {
        size_t keptBlocks; // kept before the rest is heard as it comes
        const char *why;
    } rows[] = {
        {37, "a few"},
        {1000, "the meter's ten seconds"},
        {1333, "more than ten seconds: the oldest go unmeasured"},
    };
    for (const auto &row : rows) {
        std::vector<int16_t> s;
        for (size_t i = 0; s.size() < row.keptBlocks * 160; i++) // an uneven room
            s.push_back(int16_t(int(i * 7919 % 61) - 30 + int(i / 160 % 5) * 3));
        s.insert(s.end(), said.begin(), said.end());
        BandMeter once, later;
        size_t differing = 0; // blocks after which the two read differently
        for (size_t at = 0; at + 160 <= s.size(); at += 160) {
            if (at < row.keptBlocks * 160) {
                BandMeterHear(&once, &s[at], 160);
                BandMeterKeep(&later, &s[at], 160);
                continue;
            }
            if (at == row.keptBlocks * 160) { // caught up alone, as a decision does
                BandMeterCatchUp(&later);
                differing += later.power != once.power || later.upperShare != once.upperShare;
            }
            BandMeterHear(&once, &s[at], 160);
            BandMeterHear(&later, &s[at], 160);
            differing += later.power != once.power || later.upperShare != once.upperShare;
        }
        EXPECT_EQ(differing, 0u) << row.why;
        EXPECT_TRUE(BandMeterNarrow(later)) << row.why;
    }
}

TEST_F(RecogniserTest, CommandsAreHeardHoweverTheRecordingTreatsTheRoom)
{
    // Fed whole and in pieces: a recording that starts and stops 50 ms from
    // the words (the detector has no room before the speech to learn from,
    // and the decoder no silence after it), and gated ones, whose room and
    // quietest sounds are digital silence, at two levels.
    struct Treatment {
        const char *what;
        std::function<std::vector<int16_t>(std::vector<int16_t>)> treat;
        std::vector<const char *> voices, phrases;
    } treatments[] = {
        {"cut close",
         [](std::vector<int16_t> said) {
             return Joined({Speech::Floor(0.05), said, Speech::Floor(0.05)});
         },
         {"en-us", "en-gb-scotland+f2"},
         {"About Nelko", "Random", "Dance", "Bye Bye"}},
        {"gated",
         [](std::vector<int16_t> said) { return GatedInRoom(said, 0); },
         {"en-029", "en-us+m7"},
         {"About Nelko", "Bye Bye", "Go Left"}},
        {"gated, 30 dB quieter",
         [](std::vector<int16_t> said) { return GatedInRoom(said, -30); },
         {"en-029", "en-us+m7"},
         {"About Nelko", "Bye Bye"}},
    };
    std::vector<std::string> missed;
    for (const Treatment &t : treatments)
        for (const char *voice : t.voices)
            for (const char *phrase : t.phrases) {
                std::vector<int16_t> s = t.treat(Sounded(phrase, voice));
                for (size_t chunk : {s.size(), size_t(4000)})
                    if (Accepted(Hear(s, chunk)) != std::vector<std::string>{phrase})
                        missed.push_back(std::string(phrase) + " (" + voice + ", " + t.what +
                                         ") in pieces of " + std::to_string(chunk));
            }
    EXPECT_EQ(missed, std::vector<std::string>{});
}

// A child's voice, every frequency a quarter higher than the synthesiser's,
// and a deeper one, a fifth lower: the model learned adults between. Most
// commands are heard (without a scale per speaker, 8 of the 22).
TEST_F(RecogniserTest, VoicesAboveAndBelowTheModelsAdultsAreHeard)
{
    std::vector<std::string> missed;
    for (double factor : {1.25, 0.8})
        for (const std::string &phrase : Commands) {
            const std::vector<int16_t> s =
                Joined({Speech::Floor(0.5), Scaled(Sounded(phrase), factor), Speech::Floor(0.5)});
            if (Accepted(Hear(s)) != std::vector<std::string>{phrase})
                missed.push_back(phrase + " x" + std::to_string(factor));
        }
    EXPECT_LE(missed.size(), 4u) << testing::PrintToString(missed);
}

TEST_F(RecogniserTest, PhrasesComeFromTheCallerNotTheCode)
{
    // A label no one has written code for, in odd spelling, and one the
    // dictionary cannot pronounce.
    std::vector<std::string> unknown;
    ASSERT_EQ(RecogniserSetPhrases(r, {"  JUMP twice!", "Zorblax Quux", "Go Left"}, &unknown), 1);
    EXPECT_EQ(unknown, (std::vector<std::string>{"zorblax", "quux"}));
    EXPECT_EQ(Accepted(Hear(Speech::Say("jump twice"))), std::vector<std::string>{"  JUMP twice!"});
    // The old commands are gone with the old phrase list.
    EXPECT_EQ(Accepted(Hear(Speech::Say("About Nelko"))), std::vector<std::string>{});
    // No phrases at all: nothing is a command.
    ASSERT_EQ(RecogniserSetPhrases(r, {}, nullptr), 1);
    EXPECT_EQ(Accepted(Hear(Speech::Say("Go Left"))), std::vector<std::string>{});
}

TEST_F(RecogniserTest, NonSpeechIsNoCommand)
{
    struct Case {
        const char *what;
        std::vector<int16_t> samples;
    } cases[] = {
        {"noise floor only", Speech::Floor(2.0)},
        {"digital silence", std::vector<int16_t>(RecogniserRate, 0)},
        {"a tone",
         [] {
             std::vector<int16_t> s = Speech::Floor(0.5), t = Tone(440, 1.0, 16000, 8000),
                                  e = Speech::Floor(0.8);
             s.insert(s.end(), t.begin(), t.end()), s.insert(s.end(), e.begin(), e.end());
             return s;
         }()},
        {"a noise burst",
         [] {
             std::vector<int16_t> s = Speech::Floor(2.0);
             for (size_t i = 8000; i < 16000; i++)
                 s[i] = static_cast<int16_t>(Speech::Noise() / 6);
             return s;
         }()},
    };
    for (const Case &c : cases)
        EXPECT_EQ(Accepted(Hear(c.samples)), std::vector<std::string>{}) << c.what;
    // Near misses land on the decoys; a command with more speech after it
    // (as loud as itself) is no command, nor is one the grammar finds only
    // by taking the other words for silence.
    for (const char *miss :
         {"hello there", "go", "bye bye now", "go left now", "random thoughts", "good night"}) {
        std::vector<Heard> heard = Hear(Speech::Say(miss));
        EXPECT_EQ(Accepted(heard), std::vector<std::string>{}) << miss;
    }
}

TEST_F(RecogniserTest, SomeoneTalkingIsNoCommandThoughACommandsWordsBeginIt)
{
    // The grammar hears "go up" and takes the rest of the sentence for
    // silence; in this voice no other check refuses it.
    std::vector<Heard> heard = Hear(
        Speech::Say("go up the stairs and turn left at the second door", 0.5, "en-gb-scotland+f2"));
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0].heard, "go up");
    EXPECT_EQ(heard[0].phrase, "");
    EXPECT_EQ(heard[0].refusal, RecogniserRefusal::MoreSpeech);
}

TEST_F(RecogniserTest, PeopleReadingAloudAreNoCommand)
{
    // The decoder's own test recordings (scripts/deps.sh), each fed whole:
    // a real voice. The grammar hears the first as "go left" and takes the
    // rest of the sentence for silence; no other check refuses it.
    const std::string data = "/usr/share/pocketsphinx/test/data/";
    for (const char *name : {"0890", "0870", "0880", "0920", "0930"}) {
        std::string path = data + "librivox/sense_and_sensibility_01_austen_64kb-" + name + ".wav";
        std::vector<int16_t> samples;
        ASSERT_TRUE(LoadWave16k(path.c_str(), &samples)) << path;
        EXPECT_EQ(Accepted(Hear(samples, samples.size())), std::vector<std::string>{}) << path;
    }
}

TEST_F(RecogniserTest, ALoneVowelIsNoCommand)
{
    // Real people saying the letter "a" (Debian's klettres-data, scripts/deps.sh)
    // with the room around it: a vowel alone, which the grammar took for
    // "dance", the one-word command with a vowel like it.
    const struct {
        const char *file, *why;
    } rows[] = {
        {"cs/alpha/a-0.ogg", "a Czech speaker's open a"},
        {"cs/alpha/a-5.ogg", "another, shorter"},
        {"ar/alpha/a-20.ogg", "an Arabic speaker's"},
        {"ar/alpha/a-26.ogg", "another, nearer the e of \"dance\""},
    };
    for (const auto &row : rows) {
        const std::string path =
            testing::TempDir() + "recogniser-vowel-" + std::to_string(getpid()) + ".wav";
        const std::string command = "sox -R /usr/share/klettres/" + std::string(row.file) +
                                    " -r 16000 -c 1 -b 16 '" + path + "' >/dev/null 2>&1";
        std::vector<int16_t> vowel;
        ASSERT_TRUE(std::system(command.c_str()) == 0 && LoadWave16k(path.c_str(), &vowel))
            << row.file;
        std::remove(path.c_str());
        std::vector<int16_t> heard = Speech::Floor(0.5), tail = Speech::Floor(0.5);
        heard.insert(heard.end(), vowel.begin(), vowel.end());
        heard.insert(heard.end(), tail.begin(), tail.end());
        EXPECT_EQ(Accepted(Hear(heard)), std::vector<std::string>{}) << row.file << ": " << row.why;
    }
}

TEST_F(RecogniserTest, AnEverydayWordForACommandsWordIsNoCommand)
{
    // The grammar takes "about that" for About Nelko; an everyday word in
    // place of the command's last word fits better. At a lower cost than the
    // tuned one, so that the decision does not hang on the noise floor; on
    // fresh recognisers, as the decoder's normalising carries over from one
    // utterance to the next.
    for (bool everyday : {false, true}) {
        RecogniserOptions options{NELKO_RECOGNISER_MODEL, NELKO_RECOGNISER_DICT,
                                  NELKO_RECOGNISER_EXTRA_DICT};
        options.everydayWordCost = options.noisyEverydayWordCost = 1e-30;
        if (!everyday)
            options.everydayWords.clear();
        Recogniser *fresh = RecogniserCreate(options);
        ASSERT_NE(fresh, nullptr);
        ASSERT_EQ(RecogniserSetPhrases(fresh, Commands, nullptr), 1);
        std::vector<Heard> heard = HearWith(fresh, Speech::Say("about that"));
        RecogniserDestroy(fresh);
        ASSERT_EQ(heard.size(), 1u);
        EXPECT_EQ(heard[0].heard, "about nelko");
        EXPECT_EQ(heard[0].phrase, everyday ? "" : "About Nelko") << everyday;
        EXPECT_EQ(heard[0].refusal,
                  everyday ? RecogniserRefusal::OtherWords : RecogniserRefusal::None);
    }
}

TEST_F(RecogniserTest, ThresholdDecidesAcceptance)
{
    std::vector<Heard> heard = Hear(Speech::Say("Go Right"));
    ASSERT_EQ(heard.size(), 1u);
    ASSERT_EQ(heard[0].heard, "go right");
    ASSERT_EQ(heard[0].refusal, RecogniserRefusal::None);
    RecogniserOptions strictOptions;
    strictOptions.threshold = heard[0].score + 0.001;
    RecogniserUpdate(r, strictOptions);
    std::vector<Heard> strict = Hear(Speech::Say("Go Right"));
    ASSERT_EQ(strict.size(), 1u);
    EXPECT_EQ(strict[0].phrase, "");                        // refused, but still reported
    EXPECT_EQ(strict[0].heard, "go right");                 // with what was heard
    EXPECT_EQ(strict[0].refusal, RecogniserRefusal::Score); // and why
    EXPECT_DOUBLE_EQ(strict[0].score, heard[0].score);
}

TEST_F(RecogniserTest, AnUtteranceCutOffIsDecodedAtTheEndOfInput)
{
    // The recording stops right after the word.
    std::vector<int16_t> s = Joined({Speech::Floor(0.5), Sounded("Wave")});
    std::vector<Heard> heard;
    RecogniserFeed(r, s.data(), s.size(), Collect, &heard);
    EXPECT_TRUE(heard.empty());
    EXPECT_EQ(RecogniserInSpeech(r), 1);
    RecogniserFlush(r, Collect, &heard);
    EXPECT_EQ(Accepted(heard), std::vector<std::string>{"Wave"});
    EXPECT_EQ(RecogniserInSpeech(r), 0);
}

TEST_F(RecogniserTest, ACommandIsTakenSoonAfterItsSpeechEndsAndAPauseDoesNotCutIt)
{
    // Taken within a quarter of a second of the last sound, not at the end
    // of the input a second later, and decoded a tenth of a second before
    // the end silence was waited: the decoding is done by then.
    std::vector<int16_t> said = Joined({Speech::Floor(0.5), Sounded("Go Left")});
    const double spoken = double(said.size()) / RecogniserRate;
    std::vector<Heard> heard = Hear(Joined({said, Speech::Floor(1.0)}));
    ASSERT_EQ(Accepted(heard), std::vector<std::string>{"Go Left"});
    EXPECT_LT(heard[0].end - spoken, 0.25);
    EXPECT_LE(heard[0].decided, heard[0].end - 0.09);

    // A pause of a quarter of a second between the words: one command, once.
    EXPECT_EQ(Accepted(Hear(Joined({Speech::Floor(0.5), Sounded("go"), Speech::Floor(0.25),
                                    Sounded("left"), Speech::Floor(1.0)}))),
              std::vector<std::string>{"Go Left"});
}

TEST_F(RecogniserTest, ALongStreamIsSegmentedIntoEachCommandOnce)
{
    // A minute: fifteen commands with pauses of 2 to 3.5 s between them,
    // noise bursts in some of the pauses, fed in odd-sized pieces.
    std::vector<int16_t> stream = Speech::Floor(1.0);
    std::vector<std::string> said;
    for (int i = 0; i < 15; i++) {
        const std::string &phrase = Commands[(i * 7) % Commands.size()];
        std::vector<int16_t> s = Speech::Say(phrase, 0.0);
        stream.insert(stream.end(), s.begin(), s.end());
        said.push_back(phrase);
        std::vector<int16_t> pause = Speech::Floor(2.0 + (i % 4) * 0.5);
        if (i % 3 == 1) // a burst of noise in the middle of the pause
            for (size_t k = pause.size() / 2 - 2000; k < pause.size() / 2 + 2000; k++)
                pause[k] = static_cast<int16_t>(Speech::Noise() / 8);
        stream.insert(stream.end(), pause.begin(), pause.end());
    }
    ASSERT_GT(stream.size(), 50u * RecogniserRate);
    std::vector<Heard> heard = Hear(stream, 1237);
    EXPECT_EQ(Accepted(heard), said);
    for (size_t i = 1; i < heard.size(); i++)
        EXPECT_GE(heard[i].start, heard[i - 1].end) << i; // in order, never overlapping
}

TEST_F(RecogniserTest, CommandsAreHeardThroughChatter)
{
    // Two other voices talk on before, through and after each command, about
    // 18 dB below the speaker: the detector hears one long utterance. (Whole
    // utterances decoded as they came heard one command of the eleven.)
    const std::vector<int16_t> a = Speech::Say("the printer on the second floor is broken again", 0,
                                               "en-gb"),
                               b = Speech::Say("we should order some pizza for everyone tonight", 0,
                                               "en-us+m3");
    auto rms = [](const int16_t *s, size_t n) {
        double sum = 0;
        for (size_t i = 0; i < n; i++)
            sum += double(s[i]) * s[i];
        return std::sqrt(sum / std::max<size_t>(n, 1));
    };
    const size_t pad = RecogniserRate / 2;
    std::vector<std::string> right, wrong;
    for (const std::string &phrase : Commands) {
        std::vector<int16_t> s = Speech::Say(phrase);
        ASSERT_GT(s.size(), 2 * pad);
        const double gain = rms(s.data() + pad, s.size() - 2 * pad) / std::pow(10.0, 15 / 20.0) /
                            rms(a.data(), a.size()) / 2;
        for (size_t i = 0; i < s.size(); i++) {
            double v = s[i] + gain * (a[i % a.size()] + b[(i + 7000) % b.size()]);
            s[i] = static_cast<int16_t>(std::max(-32768.0, std::min(32767.0, v)));
        }
        std::vector<std::string> accepted = Accepted(Hear(s));
        (accepted == std::vector<std::string>{phrase} ? right : wrong).push_back(phrase);
    }
    EXPECT_GE(right.size(), 9u) << "missed: " << testing::PrintToString(wrong);
}

TEST_F(RecogniserTest, InNameModeACommandCountsOnlyAfterTheName)
{
    RecogniserOptions named;
    named.listen = RecogniserListen::Name;
    RecogniserUpdate(r, named); // rebuilds the grammar from the phrases set
    struct Case {
        const char *why;
        std::vector<int16_t> samples;
        const char *phrase; // the phrase as given, without the name
    } cases[] = {
        {"the command alone", Speech::Say("go left"), ""},
        {"the name first", Speech::Say("nelko go left"), "Go Left"},
        {"a pause after the name",
         Joined({Speech::Floor(0.5), Sounded("nelko"), Speech::Floor(0.3), Sounded("go left"),
                 Speech::Floor(0.5)}),
         "Go Left"},
        {"the name and half a command", Speech::Say("nelko go"), ""},
    };
    for (const Case &c : cases) {
        std::vector<Heard> heard = Hear(c.samples);
        ASSERT_EQ(heard.size(), 1u) << c.why;
        EXPECT_EQ(heard[0].phrase, c.phrase) << c.why;
        if (*c.phrase) {
            EXPECT_EQ(heard[0].heard, "nelko go left") << c.why;
        }
    }
    // A name without a pronunciation is reported, by the rebuild and with no
    // phrase at all, and nothing is taken.
    named.name = "zqxv";
    std::vector<std::string> unknown;
    RecogniserUpdate(r, named, &unknown);
    EXPECT_NE(std::find(unknown.begin(), unknown.end(), "zqxv"), unknown.end());
    unknown.clear();
    RecogniserSetPhrases(r, {}, &unknown);
    EXPECT_EQ(unknown, std::vector<std::string>{"zqxv"});
    RecogniserSetPhrases(r, Commands, nullptr);
    EXPECT_EQ(Accepted(Hear(Speech::Say("zqxv go left"))), std::vector<std::string>{});
    // Back to always: the command alone is one again.
    RecogniserUpdate(r, RecogniserOptions());
    EXPECT_EQ(Accepted(Hear(Speech::Say("go left"))), std::vector<std::string>{"Go Left"});
    // Created in Name mode, before any phrase is set.
    RecogniserOptions options{NELKO_RECOGNISER_MODEL, NELKO_RECOGNISER_DICT,
                              NELKO_RECOGNISER_EXTRA_DICT};
    options.listen = RecogniserListen::Name;
    Recogniser *fresh = RecogniserCreate(options);
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(RecogniserSetPhrases(fresh, Commands, nullptr), 1);
    EXPECT_EQ(Accepted(HearWith(fresh, Speech::Say("nelko go left"))),
              std::vector<std::string>{"Go Left"});
    RecogniserDestroy(fresh);
}

TEST_F(RecogniserTest, InHoldModeOnlyTheHoldIsHeardAndOnceWhole)
{
    RecogniserOptions hold;
    hold.listen = RecogniserListen::Hold;
    RecogniserUpdate(r, hold);
    const std::vector<int16_t> said = Speech::Say("Go Left", 0.3);
    EXPECT_TRUE(Hear(said).empty()); // outside the key: not even reported
    for (const char *what : {"Go Left", "hello there"}) {
        std::vector<Heard> heard;
        const std::vector<int16_t> s = Speech::Say(what, 0.3);
        RecogniserFeedHeld(r, s.data(), s.size(), Collect, &heard);
        ASSERT_EQ(heard.size(), 1u) << what;
        EXPECT_EQ(heard[0].phrase, std::string(what) == "Go Left" ? "Go Left" : "") << what;
    }
    // A hold cut tight at the speech, as the key may be let go: one
    // utterance all the same.
    std::vector<Heard> tight;
    const std::vector<int16_t> s = Sounded("Go Left");
    RecogniserFeedHeld(r, s.data(), s.size(), Collect, &tight);
    EXPECT_EQ(tight.size(), 1u);
}

// A hold handed over as it comes is decided once its speech has been
// followed by the trailing stretch of silence, while the key is still held.
// That decision is the whole hold's: the same samples decide both. Speech
// after it has the hold decided again.
TEST_F(RecogniserTest, AHoldIsDecidedWhenItsSpeechEndsAsItIsWhole)
{
    RecogniserOptions hold;
    hold.listen = RecogniserListen::Hold;
    RecogniserUpdate(r, hold);
    const struct {
        const char *why;
        std::vector<int16_t> said;
        bool endsInSilence; // the last speech is followed by the stretch
        const char *phrase;
    } rows[] = {
        {"a command, then the room",
         Joined({Speech::Floor(0.4), Sounded("go left"), Speech::Floor(1.0)}), true, "Go Left"},
        {"half a command, a pause, the rest as the key comes up: decided early on half, then "
         "again",
         Joined({Speech::Floor(0.4), Sounded("go"), Speech::Floor(0.5), Sounded("left"),
                 Speech::Floor(0.15)}),
         false, "Go Left"},
    };
    const auto decide = [&](const std::vector<int16_t> &s, size_t count) {
        std::vector<Heard> heard;
        RecogniserFeedHeld(r, s.data(), count, Collect, &heard);
        EXPECT_EQ(heard.size(), 1u);
        return heard.empty() ? Heard{} : heard[0];
    };
    for (const auto &row : rows) {
        size_t settled = 0; // where the speech had last ended in the stretch
        std::vector<Heard> streamed;
        RecogniserHoldBegin(r);
        for (size_t at = 0; at < row.said.size(); at += 160) {
            const size_t n = std::min<size_t>(160, row.said.size() - at);
            const bool was = RecogniserHoldSettled(r);
            RecogniserHoldFeed(r, &row.said[at], n);
            if (RecogniserHoldSettled(r) && !was)
                settled = at + n;
        }
        EXPECT_EQ(RecogniserHoldSettled(r), row.endsInSilence) << row.why;
        RecogniserHoldEnd(r, Collect, &streamed);
        ASSERT_NE(settled, 0u) << row.why;
        ASSERT_EQ(streamed.size(), 1u) << row.why;
        const Heard whole = decide(row.said, row.said.size());
        const Heard early = decide(row.said, settled);
        EXPECT_EQ(whole.phrase, row.phrase) << row.why;
        EXPECT_EQ(streamed[0].phrase, whole.phrase) << row.why;
        EXPECT_EQ(streamed[0].score, whole.score) << row.why;
        if (row.endsInSilence) {
            EXPECT_EQ(early.heard, whole.heard) << row.why;
            EXPECT_EQ(early.score, whole.score) << row.why;
            EXPECT_LT(whole.decided, whole.end) << row.why << ": decided up to the stretch";
        } else {
            EXPECT_NE(early.heard, whole.heard) << row.why << ": the early decision is no use";
        }
    }
}
