// recogniser_bench: the recogniser's accuracy over synthesised or given clips.
//
//   recogniser_bench [options] [FOLDER...]
//
// Without folders it synthesises two parts that share no voice, no
// synthesiser voice, no noise recording and no out-of-vocabulary phrase:
//
//   tuning    espeak-ng (five voices, two rates) and flite (kal16, rms);
//             quiet, pink and white noise at 20 dB, chatter at 15 dB, a
//             room's echo, a link sampled at 8 kHz
//   held-out  other espeak-ng voices, flite (slt, awb), festival (two
//             voices); quiet, brown noise at 20 dB, other chatter at 15 dB,
//             another room's echo, a phone line's band (300 to 3400 Hz)
//
// Chatter is three or four voices saying other sentences at once; an echo
// is sox's reverberation of the speaker in a room of its own. Each clip
// is a command label (from the string table), an out-of-vocabulary phrase
// (near misses of the commands among them) or non-speech, with half a second
// of the room before and after. The recogniser is tuned on the tuning part
// only; the held-out part is the one that counts. --named gives the set the
// recogniser was first tuned on (five espeak-ng voices at three rates;
// quiet, pink noise at 20 and 10 dB).
//
// A folder holds clips named by their phrase ("go left.wav",
// "go left__en-us_140.wav": the name up to "__", underscores read as
// spaces); a name in parentheses ("(tone).wav") is non-speech. A folder with
// sub-folders of clips is one condition per sub-folder.
//
// Options: --part tuning|held-out|named (default: tuning and held-out)
//          --phrases FILE (default: the string table)
//          --keep DIR (where the synthesised clips go; default a temporary
//          folder)  --tsv FILE (one line per utterance: condition, file,
//          expected, heard, score, accepted, why a phrase heard was
//          refused, the name's score in Name mode); and the recogniser's own
//          (RecogniserFlagsUsage: --threshold T, --model DIR, ...)
#include "voiced/recogniser/flags.h"
#include "voiced/recogniser/lexicon.h"
#include "voiced/recogniser/wave.h"
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <map>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// A voice: the synthesiser, its voice and a speaking rate (espeak-ng's words
// a minute; 0 for the synthesiser's own).
struct Voice {
    const char *synth, *voice;
    int rate;
};

// A room: no added noise, a sox noise at an SNR, or chatter; and the
// speaker as heard there.
struct Room {
    const char *name;
    const char *noise;     // sox noise type, "chatter" or "" (quiet)
    double snr;            // dB
    const char *echo = ""; // sox effects on the speaker ("reverb ...")
    const char *link = ""; // sox effects on all that reaches the recogniser
};

struct Part {
    const char *name;
    std::vector<Voice> voices;
    std::vector<const char *> nearMisses, others; // out of vocabulary
    std::vector<Voice> chatterVoices;
    std::vector<const char *> chatter; // what the chatter says
    std::vector<Room> rooms;
    std::vector<const char *> nonSpeech; // names in NonSpeech
    // Real people: the recordings of these languages (folders of
    // RealPeopleDir), letters and syllables, none a command.
    std::vector<const char *> languages;
    // Talk: sentences with the commands' words in passing, said one after
    // another by these voices in turn: the sentences given, then every
    // template ("we should go left %s") with every ending ("after lunch").
    std::vector<Voice> talkVoices;
    std::vector<const char *> talk, talkTemplates, talkEndings;
};

const Part Parts[] = {
    {"tuning",
     {{"espeak-ng", "en-us", 150},
      {"espeak-ng", "en-us", 190},
      {"espeak-ng", "en-us+f3", 150},
      {"espeak-ng", "en-us+f3", 190},
      {"espeak-ng", "en-us+m3", 150},
      {"espeak-ng", "en-us+m3", 190},
      {"espeak-ng", "en", 150},
      {"espeak-ng", "en", 190},
      {"espeak-ng", "en-gb-x-rp", 150},
      {"espeak-ng", "en-gb-x-rp", 190},
      {"flite", "kal16", 0},
      {"flite", "rms", 0}},
     {"go", "left", "bye", "go back", "turn left", "wave hello", "bye now", "run fast", "go slow",
      "the dancer"},
     {"hello there", "thank you", "good morning", "what time is it", "open the window",
      "see you later", "how are you", "let's go", "turn it off"},
     {{"espeak-ng", "en-us+f2", 160},
      {"espeak-ng", "en-gb-x-gbclan", 170},
      {"espeak-ng", "en-us+m1", 150},
      {"flite", "kal", 0}},
     {"the meeting moved to thursday afternoon", "could you pass me the salt please",
      "i think the train is late again", "my sister bought a new car last week",
      "we should order some pizza tonight", "the printer on the second floor is broken",
      "did you see the game yesterday", "it is supposed to rain all weekend"},
     {{"quiet", "", 0},
      {"pink 20 dB", "pinknoise", 20},
      {"white 20 dB", "whitenoise", 20},
      {"chatter 15 dB", "chatter", 15},
      {"echo", "", 0, "pad 0 0.4 reverb 50 50 100"},
      {"8 kHz link", "", 0, "", "rate 8000 rate 16000"}},
     {"(silence)", "(tone)", "(sweep)", "(white noise)", "(knocks)"},
     {"ar", "cs", "de", "es", "fr", "hu", "it", "ml", "nb", "ru"},
     {{"espeak-ng", "en-us", 165},
      {"espeak-ng", "en-gb-x-rp+f3", 170},
      {"flite", "rms", 0},
      {"espeak-ng", "en-us+m3", 180},
      {"espeak-ng", "en-us+f4", 155},
      {"flite", "kal16", 0}},
     {"we should go left at the lights and then go right after the bridge",
      "she waved goodbye from the train",
      "the prices go up in summer and go down in winter",
      "let us dance at the wedding and then say bye bye to everyone",
      "it was a random choice but it worked out",
      "the kids run left and right across the playground",
      "tell me about the new job",
      "wave to your grandmother",
      "go up the stairs and turn right",
      "i had to run right back home for my keys",
      "the dance class starts at seven",
      "he said bye and left early",
      "keep left when the road splits",
      "we went up the hill and came back down",
      "that song is about a random stranger",
      "you go first and i will follow",
      "the right answer was on the left page",
      "the waves were huge this morning",
      "let us go out for dinner",
      "she does not like to dance in public"},
     {"we should go left %s",
      "the kids will dance %s",
      "prices always go up %s",
      "we will say bye bye to them %s",
      "she had to run right home %s",
      "he waved at us %s",
      "pick a random card %s",
      "the sun went down %s",
      "turn right and go up the road %s",
      "they talked about the weather %s",
      "we left the party %s",
      "the temperature will go down %s",
      "you can run left around the pond %s",
      "i was right about the traffic %s",
      "let us go dancing %s",
      "wave to the driver %s",
      "the bakery is on the right %s",
      "she said goodbye %s",
      "go down to the harbour %s",
      "it was a random meeting %s"},
     {"after lunch",          "on friday",
      "before the meeting",   "at the weekend",
      "near the old station", "when the bell rings",
      "in the morning",       "tonight",
      "every summer",         "with my brother",
      "after school",         "at the corner shop",
      "during the break",     "by the river",
      "next to the bank",     "on the way home",
      "before it gets dark",  "in the car park",
      "at half past six",     "after the film",
      "on monday morning",    "when it stops raining",
      "with the neighbours",  "at the market",
      "before dinner",        "behind the library",
      "in the spring",        "after the match",
      "at the bus stop",      "on my birthday"}},
    {"held-out",
     {{"espeak-ng", "en-029", 175},
      {"espeak-ng", "en-gb-scotland+f2", 165},
      {"espeak-ng", "en-us+m7", 185},
      {"flite", "slt", 0},
      {"flite", "awb", 0},
      {"festival", "kal_diphone", 0},
      {"festival", "cmu_us_slt_arctic_hts", 0}},
     {"turn right", "wave goodbye", "run away", "go home", "good bye", "front left", "go away",
      "about now", "dance floor", "run light"},
     {"where is my phone", "close the door", "nice weather today", "i am hungry", "call me later",
      "play some music", "what is that", "good night"},
     {{"festival", "kal_diphone", 0},
      {"flite", "awb", 0},
      {"espeak-ng", "en-gb-x-gbcwmd", 155},
      {"flite", "slt", 0}},
     {"the children are playing in the garden", "how much did the tickets cost",
      "she is working from home tomorrow", "that restaurant closes at nine o'clock",
      "please remember to water the plants", "the bus was full this morning",
      "he forgot his umbrella at the office", "we are visiting my parents in june"},
     {{"quiet", "", 0},
      {"brown 20 dB", "brownnoise", 20},
      {"chatter 15 dB", "chatter", 15},
      {"echo", "", 0, "pad 0 0.4 reverb 70 30 70 100 15"},
      {"phone line", "", 0, "", "sinc 300-3400"}},
     {"(pink noise)", "(brown noise)", "(hum)", "(clicks)", "(chord)"},
     {"da", "en", "en_GB", "he", "lt", "nds", "nl", "pt_BR", "tn", "uk"},
     {{"espeak-ng", "en-029", 170},
      {"flite", "awb", 0},
      {"festival", "kal_diphone", 0},
      {"espeak-ng", "en-gb-scotland", 175},
      {"espeak-ng", "en-us+m7", 160},
      {"flite", "slt", 0}},
     {"turn left at the church and go right at the school",
      "he gave a little wave and went home",
      "they always go down to the beach on sunday",
      "the price will go up again next year",
      "my daughter loves to dance in the kitchen",
      "just a random thought about dinner",
      "say bye bye to grandpa",
      "the car on the left was going too fast",
      "run left if you see the ball coming",
      "what is that book about",
      "you were right about the weather",
      "we can go up to the roof and watch the stars",
      "the dog ran right past me",
      "go left at the end of the corridor",
      "i will wave when i see you",
      "nothing is left in the fridge",
      "the sun goes down early in december",
      "bye for now and see you soon",
      "that dance was a lot of fun",
      "the office is up the street on the right"},
     {"you go left and i will go right %s",
      "the children danced %s",
      "the lift goes up %s",
      "we said bye bye %s",
      "the runners ran right past us %s",
      "she gave a little wave %s",
      "it was a random choice %s",
      "the price went down %s",
      "go up to the top floor %s",
      "we were talking about you %s",
      "he left his bag behind %s",
      "the road goes down to the sea %s",
      "run left along the fence %s",
      "that was the right decision %s",
      "we will dance all night %s",
      "wave your hand %s",
      "he said bye %s",
      "go down the stairs %s",
      "just pick one at random %s",
      "there is a cafe up on the left %s"},
     {"after breakfast",      "on saturday",
      "after the concert",    "next week",
      "by the fountain",      "when the train arrives",
      "in the evening",       "this afternoon",
      "every winter",         "with my cousin",
      "after work",           "at the petrol station",
      "during the holidays",  "along the beach",
      "outside the cinema",   "on the way to school",
      "before the storm",     "in the garden centre",
      "at a quarter to nine", "after the lesson",
      "on thursday night",    "when the sun comes out",
      "with our friends",     "at the airport",
      "before bedtime",       "opposite the post office",
      "in the autumn",        "after the game",
      "at the crossroads",    "on christmas eve"}},
    {"named",
     {{"espeak-ng", "en-us", 140},
      {"espeak-ng", "en-us", 175},
      {"espeak-ng", "en-us", 200},
      {"espeak-ng", "en-us+f3", 140},
      {"espeak-ng", "en-us+f3", 175},
      {"espeak-ng", "en-us+f3", 200},
      {"espeak-ng", "en-us+m3", 140},
      {"espeak-ng", "en-us+m3", 175},
      {"espeak-ng", "en-us+m3", 200},
      {"espeak-ng", "en", 140},
      {"espeak-ng", "en", 175},
      {"espeak-ng", "en", 200},
      {"espeak-ng", "en-gb-x-rp", 140},
      {"espeak-ng", "en-gb-x-rp", 175},
      {"espeak-ng", "en-gb-x-rp", 200}},
     {"go", "left", "bye", "go home", "run away", "hello there", "thank you"},
     {"good morning", "what time is it", "open the window", "see you later", "how are you",
      "right now", "let's go", "turn it off"},
     {},
     {},
     {{"quiet", "", 0}, {"snr20", "pinknoise", 20}, {"snr10", "pinknoise", 10}},
     {"(silence)", "(tone)", "(sweep)", "(white noise)", "(pink noise)", "(brown noise)",
      "(knocks)", "(hum)"},
     {},
     {},
     {},
     {},
     {}},
};

// Non-speech: sox's synthesiser, as sox command tails.
struct Sound {
    const char *name;
    const char *synth;
};
const Sound NonSpeech[] = {
    {"(silence)", "synth 1.5 sine 0 vol 0"},
    {"(tone)", "synth 1.0 sine 440 vol 0.3"},
    {"(sweep)", "synth 1.2 sine 300-3000 vol 0.3"},
    {"(white noise)", "synth 0.8 whitenoise vol 0.2"},
    {"(pink noise)", "synth 1.0 pinknoise vol 0.3"},
    {"(brown noise)", "synth 1.0 brownnoise vol 0.3"},
    {"(knocks)", "synth 0.04 square 90 vol 0.5 pad 0 0.3 repeat 3"},
    {"(hum)", "synth 1.5 sine 50 sine 100 sine 150 vol 0.2"},
    {"(clicks)", "synth 0.01 whitenoise vol 0.6 pad 0 0.15 repeat 6"},
    {"(chord)", "synth 1.2 sine 262 sine 330 sine 392 vol 0.25 fade 0.05 1.2 0.3"},
};

// The listening modes, as --listen names them.
const struct {
    RecogniserListen listen;
    const char *name;
} Modes[] = {
    {RecogniserListen::Always, "always"},
    {RecogniserListen::Hold, "hold"},
    {RecogniserListen::Name, "name"},
};

// What a mode changes in the clips: in Name mode the name is said before
// every phrase (after a pause in every other voice); in Hold mode each clip
// runs from the key's press, HoldPress seconds before the speech, to
// HoldRelease after it and the hub's tail after that, both drawn per clip.
struct Listening {
    RecogniserListen listen = RecogniserListen::Always;
    std::string name;
};
constexpr double HoldPress[] = {0.2, 0.5};
constexpr double HoldRelease[] = {0.1, 0.3};

// Real people: the recordings of letters and syllables, by language.
const char RealPeopleDir[] = "/usr/share/klettres";
// Talk: a pause of TalkPause seconds after each sentence; in Hold mode the
// key is held over every TalkHeldEvery-th sentence.
constexpr double TalkPause[] = {0.3, 1.2};
constexpr int TalkHeldEvery = 5;

constexpr double FloorRms = 30; // the quiet noise floor, about -60 dBFS
constexpr double PadSeconds = 0.5;
constexpr double NoiseSeconds = 40;

std::string Joined(const std::string &phrase)
{
    std::string out;
    for (const std::string &w : PhraseWords(phrase))
        out += (out.empty() ? "" : " ") + w;
    return out;
}

std::string Quote(const std::string &s)
{
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

bool Run(const std::string &command)
{
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// Synthesis -------------------------------------------------------------

std::string VoiceName(const Voice &v)
{
    return std::string(v.synth) + "-" + v.voice + (v.rate ? "_" + std::to_string(v.rate) : "");
}

// Says each text in one voice into the given files. Festival is started
// once for all of them.
bool Say(const Voice &v, const std::vector<std::string> &texts,
         const std::vector<std::string> &files, const std::string &work)
{
    std::string synth = v.synth;
    if (synth == "festival") {
        std::string script = work + "/say.scm";
        FILE *f = std::fopen(script.c_str(), "w");
        if (!f)
            return false;
        std::fprintf(f, "(voice_%s)\n", v.voice);
        for (size_t i = 0; i < texts.size(); i++)
            std::fprintf(f, "(utt.save.wave (utt.synth (Utterance Text \"%s\")) \"%s\" 'riff)\n",
                         texts[i].c_str(), files[i].c_str());
        std::fclose(f);
        return Run("festival -b " + Quote(script));
    }
    for (size_t i = 0; i < texts.size(); i++) {
        std::string command =
            synth == "flite"
                ? "flite -voice " + Quote(v.voice) + " -t " + Quote(texts[i]) + " -o " + files[i]
                : "espeak-ng -v " + Quote(v.voice) + " -s " + std::to_string(v.rate) + " -w " +
                      files[i] + " " + Quote(texts[i]);
        if (!Run(command))
            return false;
    }
    return true;
}

// Says the texts in the voice, read back at 16 kHz.
bool SayAll(const Voice &v, const std::vector<std::string> &texts, const std::string &work,
            std::vector<std::vector<int16_t>> *sounds)
{
    std::vector<std::string> files;
    for (size_t i = 0; i < texts.size(); i++)
        files.push_back(work + "/say" + std::to_string(i) + ".wav");
    if (!Say(v, texts, files, work)) {
        std::fprintf(stderr, "recogniser_bench: %s could not say it (scripts/deps.sh)\n",
                     VoiceName(v).c_str());
        return false;
    }
    for (const std::string &file : files) {
        sounds->emplace_back();
        if (!LoadWave16k(file.c_str(), &sounds->back()))
            return false;
        std::remove(file.c_str());
    }
    return true;
}

double Rms(const std::vector<double> &s)
{
    double sum = 0;
    for (double v : s)
        sum += v * v;
    return s.empty() ? 0 : std::sqrt(sum / s.size());
}

// A long stretch of a noise at unit RMS, taken from in turn.
struct Noise {
    std::vector<double> samples;
    size_t at = 0;
    std::vector<double> Take(size_t n, double rms)
    {
        std::vector<double> out(n);
        for (size_t i = 0; i < n; i++, at++)
            out[i] = samples[at % samples.size()] * rms;
        return out;
    }
};

void Normalise(Noise *noise)
{
    double rms = Rms(noise->samples);
    for (double &v : noise->samples)
        v /= rms > 0 ? rms : 1;
}

bool SoxNoise(const std::string &type, const std::string &work, Noise *noise)
{
    std::string tmp = work + "/noise.wav";
    std::vector<int16_t> s;
    if (!Run("sox -R -n -r 16000 -b 16 -c 1 " + tmp + " synth " +
             std::to_string(int(NoiseSeconds)) + " " + type + " vol 0.5") ||
        !LoadWave16k(tmp.c_str(), &s)) {
        std::fprintf(stderr, "recogniser_bench: sox is needed (scripts/deps.sh)\n");
        return false;
    }
    std::remove(tmp.c_str());
    noise->samples.assign(s.begin(), s.end());
    Normalise(noise);
    return true;
}

// Chatter: each voice says the sentences one after another, starting at a
// different one, and the voices are mixed.
bool Chatter(const Part &part, const std::string &work, Noise *noise)
{
    size_t n = static_cast<size_t>(NoiseSeconds * RecogniserRate);
    noise->samples.assign(n, 0.0);
    std::vector<std::string> texts(part.chatter.begin(), part.chatter.end());
    for (size_t k = 0; k < part.chatterVoices.size(); k++) {
        std::vector<std::vector<int16_t>> said;
        if (!SayAll(part.chatterVoices[k], texts, work, &said))
            return false;
        size_t at = k * RecogniserRate / 3;
        for (size_t i = 0; at < n; i++) {
            const std::vector<int16_t> &s = said[(i + 3 * k) % said.size()];
            double level = 0;
            for (int16_t v : s)
                level += double(v) * v;
            level = std::sqrt(level / std::max<size_t>(1, s.size()));
            for (size_t j = 0; j < s.size() && at < n; j++, at++)
                noise->samples[at] += s[j] / (level > 0 ? level : 1);
            at += RecogniserRate / 5; // a breath between sentences
        }
    }
    Normalise(noise);
    return true;
}

constexpr size_t Frame = 160; // 10 ms

// The mean power of each 10 ms.
std::vector<double> FramePowers(const std::vector<int16_t> &s)
{
    std::vector<double> energy;
    for (size_t i = 0; i + Frame <= s.size(); i += Frame) {
        double e = 0;
        for (size_t k = 0; k < Frame; k++)
            e += double(s[i + k]) * s[i + k];
        energy.push_back(e / Frame);
    }
    return energy;
}

// A clean sound cut to its speech: from its first 10 ms within 40 dB of
// the loudest to its last (all of it when it has none).
std::vector<int16_t> SpeechOf(const std::vector<int16_t> &s)
{
    const std::vector<double> energy = FramePowers(s);
    if (energy.empty())
        return s;
    const double peak = *std::max_element(energy.begin(), energy.end());
    size_t first = 0, last = energy.size();
    while (first < last && energy[first] <= peak * 1e-4)
        first++;
    while (last > first && energy[last - 1] <= peak * 1e-4)
        last--;
    if (first == last || peak <= 0)
        return s;
    return {s.begin() + long(first * Frame), s.begin() + long(std::min(s.size(), last * Frame))};
}

// RMS of the active part: frames within 40 dB of the loudest.
double ActiveRms(const std::vector<int16_t> &s)
{
    const std::vector<double> energy = FramePowers(s);
    double peak = energy.empty() ? 0 : *std::max_element(energy.begin(), energy.end());
    double sum = 0;
    size_t n = 0;
    for (double e : energy)
        if (e > peak * 1e-4)
            sum += e, n++;
    return n ? std::sqrt(sum / n) : 0;
}

// Runs a sound through sox effects (an effect chain as sox takes it).
bool SoxEffect(const std::string &effect, const std::string &work, std::vector<int16_t> *sound)
{
    const std::string dry = work + "/dry.wav", wet = work + "/wet.wav";
    const bool ok = SaveWave(dry.c_str(), sound->data(), sound->size(), RecogniserRate) &&
                    Run("sox -R " + dry + " " + wet + " " + effect) &&
                    LoadWave16k(wet.c_str(), sound);
    std::remove(dry.c_str());
    std::remove(wet.c_str());
    return ok;
}

// The room around a clip's sound: seconds before and after it.
struct Pads {
    double before = PadSeconds, after = PadSeconds;
};

bool WriteClip(const std::string &path, const std::vector<int16_t> &sound, Pads pads, double snr,
               Noise &floor, Noise *noise, const char *link, const std::string &work)
{
    const size_t before = size_t(pads.before * RecogniserRate),
                 after = size_t(pads.after * RecogniserRate);
    std::vector<double> mix(sound.size() + before + after, 0.0);
    for (size_t i = 0; i < sound.size(); i++)
        mix[before + i] = sound[i];
    std::vector<double> quiet = floor.Take(mix.size(), FloorRms);
    std::vector<double> extra(mix.size(), 0.0);
    if (noise)
        extra = noise->Take(mix.size(), ActiveRms(sound) / std::pow(10.0, snr / 20));
    std::vector<int16_t> out(mix.size());
    for (size_t i = 0; i < mix.size(); i++) {
        double v = std::lround(mix[i] + quiet[i] + extra[i]);
        out[i] = static_cast<int16_t>(std::max(-32768.0, std::min(32767.0, v)));
    }
    return (!*link || SoxEffect(link, work, &out)) &&
           SaveWave(path.c_str(), out.data(), out.size(), RecogniserRate);
}

// The texts as a voice says them in the mode: the name before each in Name
// mode, after a pause in every other voice.
std::vector<std::string> AsSaid(const std::vector<std::string> &texts, const Listening &l,
                                size_t voice)
{
    std::vector<std::string> said = texts;
    if (l.listen == RecogniserListen::Name)
        for (std::string &t : said)
            t = l.name + (voice % 2 ? ", " : " ") + t;
    return said;
}

// A draw from [range[0], range[1]).
double Between(std::mt19937 *random, const double (&range)[2])
{
    return std::uniform_real_distribution<double>(range[0], range[1])(*random);
}

// The sound in the room: the key's hold around its speech in Hold mode.
Pads PadsFor(const Listening &l, std::mt19937 *random, std::vector<int16_t> *sound)
{
    if (l.listen != RecogniserListen::Hold)
        return {};
    *sound = SpeechOf(*sound);
    const double press = Between(random, HoldPress);
    return {press, Between(random, HoldRelease) + RecogniserHoldTailSeconds};
}

// Each part draws its holds from a seed of its own: the same clips each run.
std::mt19937 Seeded(const Part &part)
{
    std::seed_seq seed(part.name, part.name + std::strlen(part.name));
    return std::mt19937(seed);
}

bool SynthesiseRooms(const std::string &dir, const Part &part, const Listening &l,
                     const std::vector<std::pair<std::string, std::vector<int16_t>>> &items)
{
    Noise floor;
    if (!SoxNoise("pinknoise", dir, &floor))
        return false;
    std::mt19937 random = Seeded(part);
    for (const Room &room : part.rooms) {
        Noise noise;
        std::string type = room.noise;
        if (!type.empty() &&
            !(type == "chatter" ? Chatter(part, dir, &noise) : SoxNoise(type, dir, &noise)))
            return false;
        std::string sub = dir + "/" + room.name;
        mkdir(sub.c_str(), 0755);
        for (const auto &item : items) {
            std::vector<int16_t> sound = item.second;
            if (*room.echo && !SoxEffect(room.echo, dir, &sound))
                return false;
            const Pads pads = PadsFor(l, &random, &sound);
            if (!WriteClip(sub + "/" + item.first, sound, pads, room.snr, floor,
                           type.empty() ? nullptr : &noise, room.link, dir))
                return false;
        }
    }
    return true;
}

// The real people's recordings of the part's languages, as they are, in
// a folder of their own ("it-syllab-ba.wav").
bool RealPeople(const std::string &dir, const Part &part)
{
    if (part.languages.empty())
        return true;
    const std::string sub = dir + "/real people";
    mkdir(sub.c_str(), 0755);
    for (const char *language : part.languages)
        for (const char *kind : {"alpha", "syllab"}) {
            const std::string from = std::string(RealPeopleDir) + "/" + language + "/" + kind;
            DIR *d = opendir(from.c_str());
            if (!d)
                continue;
            while (dirent *e = readdir(d)) {
                std::string name = e->d_name;
                if (name.size() < 5 || name.compare(name.size() - 4, 4, ".ogg") != 0)
                    continue;
                const std::string to = sub + "/" + language + "-" + kind + "-" +
                                       name.substr(0, name.size() - 4) + ".wav";
                if (!Run("sox -R " + Quote(from + "/" + name) + " -r 16000 -c 1 -b 16 " +
                         Quote(to))) {
                    closedir(d);
                    return false;
                }
            }
            closedir(d);
        }
    return true;
}

// Talk's sentences, in the order they are said (shuffled by the part's
// seed, so that one template's sentences are spread over the stream).
std::vector<std::string> TalkSentences(const Part &part, std::mt19937 *random)
{
    std::vector<std::string> texts(part.talk.begin(), part.talk.end());
    for (const char *t : part.talkTemplates)
        for (const char *ending : part.talkEndings) {
            std::string text = t;
            text.replace(text.find("%s"), 2, ending);
            texts.push_back(text);
        }
    std::shuffle(texts.begin(), texts.end(), *random);
    return texts;
}

// Talk: the sentences said by the talk voices in turn, each followed by a
// pause, one clip a sentence ("talk/0007.wav") in the order they are heard.
bool Talk(const std::string &dir, const Part &part)
{
    if (part.talk.empty())
        return true;
    const std::string sub = dir + "/talk";
    mkdir(sub.c_str(), 0755);
    std::mt19937 random = Seeded(part);
    const std::vector<std::string> texts = TalkSentences(part, &random);
    const size_t voices = part.talkVoices.size();
    std::vector<std::vector<int16_t>> clips(texts.size());
    for (size_t k = 0; k < voices; k++) {
        std::vector<std::string> mine;
        for (size_t i = k; i < texts.size(); i += voices)
            mine.push_back(texts[i]);
        std::vector<std::vector<int16_t>> said;
        if (!SayAll(part.talkVoices[k], mine, dir, &said))
            return false;
        for (size_t j = 0; j < said.size(); j++)
            clips[k + j * voices] = std::move(said[j]);
    }
    Noise floor;
    if (!SoxNoise("pinknoise", dir, &floor))
        return false;
    for (size_t i = 0; i < clips.size(); i++) {
        char name[32];
        std::snprintf(name, sizeof name, "/%04zu.wav", i);
        const Pads pads{0.05, Between(&random, TalkPause)};
        if (!WriteClip(sub + name, clips[i], pads, 0, floor, nullptr, "", dir))
            return false;
    }
    return true;
}

bool Synthesise(const std::string &dir, const Part &part, const std::vector<std::string> &commands,
                const Listening &l)
{
    std::vector<std::pair<std::string, std::vector<int16_t>>> items;
    std::vector<std::string> texts = commands;
    texts.insert(texts.end(), part.nearMisses.begin(), part.nearMisses.end());
    texts.insert(texts.end(), part.others.begin(), part.others.end());
    for (size_t k = 0; k < part.voices.size(); k++) {
        const Voice &v = part.voices[k];
        std::vector<std::vector<int16_t>> said;
        if (!SayAll(v, AsSaid(texts, l, k), dir, &said))
            return false;
        for (size_t i = 0; i < texts.size(); i++)
            items.push_back({texts[i] + "__" + VoiceName(v) + ".wav", said[i]});
    }
    std::string tmp = dir + "/sound.wav";
    for (const char *name : part.nonSpeech)
        for (const Sound &s : NonSpeech) {
            if (std::string(s.name) != name)
                continue;
            items.push_back({std::string(s.name) + ".wav", {}});
            if (!Run("sox -R -n -r 16000 -b 16 -c 1 " + tmp + " " + s.synth) ||
                !LoadWave16k(tmp.c_str(), &items.back().second))
                return false;
        }
    std::remove(tmp.c_str());
    return SynthesiseRooms(dir, part, l, items) && RealPeople(dir, part);
}

// Evaluation ------------------------------------------------------------

// An utterance's strings live only until the next one: copies are kept.
struct Utterance {
    std::string phrase, heard;
    double decodeMs;
    bool early; // decoded while its end silence was waited
    RecogniserRefusal refusal;
    RecogniserChecks checks;
    double seconds; // from its start to its end
};

struct Heard {
    std::vector<Utterance> utterances;
};

void Collect(void *context, const RecogniserUtterance &u)
{
    static_cast<Heard *>(context)->utterances.push_back(
        {u.phrase, u.heard, u.decodeMs, u.decided < u.end, u.refusal, u.checks, u.end - u.start});
}

// One line of the --tsv record: condition, file, expected, heard, score,
// phrase taken, refusal, the name's score, then each check's value (loud
// frames, the said-more gap or "-", the everyday words and their gain,
// the silence's shortfall, chatter 0/1) and the utterance's length.
void WriteTsv(FILE *tsv, const std::string &condition, const std::string &file,
              const char *expected, const Utterance &u)
{
    const RecogniserChecks &c = u.checks;
    char gap[32] = "-";
    if (c.besideSpeech)
        std::snprintf(gap, sizeof gap, "%.2f", c.saidMoreGap);
    std::fprintf(tsv, "%s\t%s\t%s\t%s\t%.4f\t%s\t%s\t%.4f\t%d\t%s\t%s\t%.2f\t%.2f\t%d\t%.2f\n",
                 condition.c_str(), file.c_str(), expected, u.heard.c_str(), c.score,
                 u.phrase.c_str(), RecogniserRefusalName(u.refusal), c.nameScore, c.loudFrames, gap,
                 c.everyday ? c.everydayWords.c_str() : "", c.everydayGain, c.silenceShortfall,
                 int(c.chatter), u.seconds);
}

double CpuMs()
{
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t); // the phone loop's thread too
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

std::vector<std::string> ListDir(const std::string &dir, bool folders)
{
    std::vector<std::string> out;
    DIR *d = opendir(dir.c_str());
    if (!d)
        return out;
    while (dirent *e = readdir(d)) {
        std::string name = e->d_name;
        if (name[0] == '.')
            continue;
        struct stat st;
        if (stat((dir + "/" + name).c_str(), &st))
            continue;
        bool isDir = S_ISDIR(st.st_mode);
        bool wav = name.size() > 4 && name.compare(name.size() - 4, 4, ".wav") == 0;
        if (folders ? isDir : (!isDir && wav))
            out.push_back(name);
    }
    closedir(d);
    std::sort(out.begin(), out.end());
    return out;
}

struct Totals {
    int commands = 0, right = 0, oov = 0, oovAccepted = 0, noise = 0, noiseAccepted = 0;
    int near = 0, nearAccepted = 0, early = 0;
    // Talk: its length, the commands taken from it outside the key (all of
    // them outside Hold mode), and the sentences held and commands taken in
    // them.
    double talkSeconds = 0;
    int talkFalse = 0, talkHeld = 0, talkHeldFalse = 0;
    std::vector<double> decodeMs, cpuMs;
    void Add(const Totals &t)
    {
        commands += t.commands, right += t.right, oov += t.oov, oovAccepted += t.oovAccepted;
        noise += t.noise, noiseAccepted += t.noiseAccepted, near += t.near;
        nearAccepted += t.nearAccepted, early += t.early;
        talkSeconds += t.talkSeconds, talkFalse += t.talkFalse, talkHeld += t.talkHeld;
        talkHeldFalse += t.talkHeldFalse;
        decodeMs.insert(decodeMs.end(), t.decodeMs.begin(), t.decodeMs.end());
        cpuMs.insert(cpuMs.end(), t.cpuMs.begin(), t.cpuMs.end());
    }
};

bool IsNearMiss(const std::string &stem)
{
    for (const Part &part : Parts)
        for (const char *n : part.nearMisses)
            if (stem == n)
                return true;
    return false;
}

double Pct(int a, int b)
{
    return b ? 100.0 * a / b : 0.0;
}

// A clip and what its name says it is.
struct Clip {
    std::string file, stem;
    std::string expected; // the phrase, or "" for anything else
    bool nonSpeech = false;
    const char *Expected() const
    {
        return nonSpeech ? "(non-speech)" : expected.empty() ? "(oov)" : expected.c_str();
    }
};

Clip ClipNamed(const std::string &file, const std::map<std::string, std::string> &byWords)
{
    Clip clip;
    clip.file = file;
    clip.stem = file.substr(0, file.size() - 4);
    clip.stem = clip.stem.substr(0, clip.stem.find("__"));
    std::replace(clip.stem.begin(), clip.stem.end(), '_', ' ');
    clip.nonSpeech = !clip.stem.empty() && clip.stem[0] == '(';
    auto it = clip.nonSpeech ? byWords.end() : byWords.find(Joined(clip.stem));
    clip.expected = it == byWords.end() ? "" : it->second;
    return clip;
}

// Decodes a clip: the times go to *t, one line per utterance to tsv, and
// what was accepted to *got ("" for nothing, "(N commands)" for several, or
// for a command heard but refused "(refused: score)" and the like).
bool DecodeClip(Recogniser *r, const std::string &dir, const std::string &name, const Clip &clip,
                FILE *tsv, Totals *t, std::string *got)
{
    std::vector<int16_t> samples;
    if (!LoadWave16k((dir + "/" + clip.file).c_str(), &samples)) {
        std::fprintf(stderr, "recogniser_bench: cannot read %s/%s\n", dir.c_str(),
                     clip.file.c_str());
        return false;
    }
    Heard heard;
    double cpu = CpuMs();
    RecogniserFeedHeld(r, samples.data(), samples.size(), Collect, &heard); // a stream outside Hold
    cpu = CpuMs() - cpu;
    int acceptedCount = 0;
    std::string refused;
    for (const Utterance &u : heard.utterances) {
        t->decodeMs.push_back(u.decodeMs);
        t->early += u.early;
        if (!u.phrase.empty())
            *got = u.phrase, acceptedCount++;
        else if (!clip.expected.empty() && u.refusal != RecogniserRefusal::None &&
                 u.heard == Joined(clip.expected))
            refused = std::string("(refused: ") + RecogniserRefusalName(u.refusal) + ")";
        if (tsv)
            WriteTsv(tsv, name, clip.file, clip.Expected(), u);
    }
    if (acceptedCount == 0 && !refused.empty())
        *got = refused;
    if (tsv && heard.utterances.empty())
        std::fprintf(tsv, "%s\t%s\t%s\t\t0\t\t\t1\n", name.c_str(), clip.file.c_str(),
                     clip.Expected());
    if (!heard.utterances.empty())
        t->cpuMs.push_back(cpu / heard.utterances.size());
    if (acceptedCount > 1)
        *got = "(" + std::to_string(acceptedCount) + " commands)";
    return true;
}

// What went wrong in a condition, for its details.
struct Mistakes {
    std::map<std::string, std::pair<int, int>> perPhrase; // right, total
    std::map<std::string, int> confusions, accepted;
};

void Tally(const Clip &clip, const std::string &got, Totals *t, Mistakes *m)
{
    if (!clip.expected.empty()) {
        t->commands++;
        m->perPhrase[clip.expected].second++;
        if (got == clip.expected)
            t->right++, m->perPhrase[clip.expected].first++;
        else
            m->confusions[clip.expected + " -> " + (got.empty() ? "(nothing)" : got)]++;
    } else if (clip.nonSpeech) {
        t->noise++;
        if (!got.empty())
            t->noiseAccepted++, m->accepted[clip.stem + " -> " + got]++;
    } else {
        bool isNear = IsNearMiss(clip.stem);
        t->oov++, t->near += isNear;
        if (!got.empty())
            t->oovAccepted++, t->nearAccepted += isNear, m->accepted[clip.stem + " -> " + got]++;
    }
}

// One condition: a folder of clips. Prints the details and returns the counts.
Totals Evaluate(Recogniser *r, const std::string &dir, const std::string &name,
                const std::vector<std::string> &phrases, FILE *tsv)
{
    std::map<std::string, std::string> byWords; // joined words -> phrase
    for (const std::string &p : phrases)
        byWords.emplace(Joined(p), p);
    Mistakes m;
    Totals t;
    for (const std::string &file : ListDir(dir, false)) {
        Clip clip = ClipNamed(file, byWords);
        std::string got;
        if (DecodeClip(r, dir, name, clip, tsv, &t, &got))
            Tally(clip, got, &t, &m);
    }
    std::printf("\n== %s: commands right %.1f%% (%d of %d)\n", name.c_str(),
                Pct(t.right, t.commands), t.right, t.commands);
    for (const auto &p : m.perPhrase)
        if (p.second.first < p.second.second)
            std::printf("  %-16s %5.1f%%  (%d of %d)\n", p.first.c_str(),
                        Pct(p.second.first, p.second.second), p.second.first, p.second.second);
    for (const auto &c : m.confusions)
        std::printf("  confusion        %s  x%d\n", c.first.c_str(), c.second);
    for (const auto &a : m.accepted)
        std::printf("  false accept     %s  x%d\n", a.first.c_str(), a.second);
    return t;
}

// Talk's utterances: the commands taken counted, each utterance recorded.
struct TalkCount {
    int *count;
    FILE *tsv;
    std::string condition, file; // the sentence being fed when it was decided
};

void CountAccepted(void *context, const RecogniserUtterance &u)
{
    TalkCount *t = static_cast<TalkCount *>(context);
    if (*u.phrase)
        std::printf("  false command    %s (heard \"%s\")\n", u.phrase, u.heard);
    *t->count += *u.phrase != 0;
    if (t->tsv)
        WriteTsv(t->tsv, t->condition, t->file, "(talk)",
                 {u.phrase, u.heard, u.decodeMs, false, u.refusal, u.checks, u.end - u.start});
}

// Talk: its sentences fed as one stream; in Hold mode the key is held over
// every TalkHeldEvery-th, which is decoded as a hold as well.
Totals EvaluateTalk(Recogniser *r, const std::string &dir, const std::string &name, bool hold,
                    FILE *tsv)
{
    Totals t;
    std::printf("\n== %s\n", name.c_str());
    int n = 0;
    TalkCount stream{&t.talkFalse, tsv, name, ""}, held{&t.talkHeldFalse, tsv, name + " held", ""};
    for (const std::string &file : ListDir(dir, false)) {
        std::vector<int16_t> samples;
        if (!LoadWave16k((dir + "/" + file).c_str(), &samples))
            continue;
        t.talkSeconds += double(samples.size()) / RecogniserRate;
        stream.file = held.file = file;
        RecogniserFeed(r, samples.data(), samples.size(), CountAccepted, &stream);
        if (hold && n++ % TalkHeldEvery == TalkHeldEvery - 1) {
            t.talkHeld++;
            RecogniserFeedHeld(r, samples.data(), samples.size(), CountAccepted, &held);
        }
    }
    RecogniserFlush(r, CountAccepted, &stream);
    std::printf("  %d false commands in %.1f minutes: %.1f per 10 minutes", t.talkFalse,
                t.talkSeconds / 60, t.talkSeconds > 0 ? t.talkFalse * 600 / t.talkSeconds : 0);
    if (hold)
        std::printf("; with the key held over %d sentences, %d", t.talkHeld, t.talkHeldFalse);
    std::printf("\n");
    return t;
}

void PrintRow(const char *name, const Totals &t)
{
    std::printf(
        "| %-14s | %5.1f%% (%4d/%4d) | %5.1f%% (%3d/%3d) | %5.1f%% (%2d/%3d) | %2d of %2d |\n",
        name, Pct(t.right, t.commands), t.right, t.commands, Pct(t.oovAccepted, t.oov),
        t.oovAccepted, t.oov, Pct(t.nearAccepted, t.near), t.nearAccepted, t.near, t.noiseAccepted,
        t.noise);
}

void PrintTimes(const char *what, std::vector<double> v)
{
    if (v.empty())
        return;
    std::sort(v.begin(), v.end());
    double sum = 0;
    for (double x : v)
        sum += x;
    std::printf("%s: mean %.1f ms, median %.1f ms, 95th %.1f ms, max %.1f ms (%zu utterances)\n",
                what, sum / v.size(), v[v.size() / 2], v[v.size() * 95 / 100], v.back(), v.size());
}

// A folder of conditions (or of clips): the details, then a table.
Totals EvaluateFolder(Recogniser *r, const std::string &folder,
                      const std::vector<std::string> &phrases, FILE *tsv, bool hold)
{
    std::vector<std::string> subs = ListDir(folder, true);
    std::vector<std::pair<std::string, Totals>> rows;
    Totals talk;
    if (subs.empty())
        rows.push_back({folder, Evaluate(r, folder, folder, phrases, tsv)});
    for (const std::string &sub : subs)
        if (sub == "talk")
            talk = EvaluateTalk(r, folder + "/" + sub, sub, hold, tsv);
        else
            rows.push_back({sub, Evaluate(r, folder + "/" + sub, sub, phrases, tsv)});
    Totals all = talk;
    std::printf("\n%s\n| condition      | commands right     | OOV accepted       | near misses "
                "acc.   | non-speech |\n",
                folder.c_str());
    for (const auto &row : rows) {
        PrintRow(row.first.c_str(), row.second);
        all.Add(row.second);
    }
    PrintRow("all", all);
    return all;
}

struct Args {
    std::string part, keep, tsvPath;
    std::string phraseFile = NELKO_SOURCE_DIR "/resources/commands.rc";
    RecogniserOptions options{NELKO_RECOGNISER_MODEL, NELKO_RECOGNISER_DICT,
                              NELKO_RECOGNISER_EXTRA_DICT};
    std::vector<RecogniserListen> modes; // --listen's, or always
    std::vector<std::string> folders;
};

const char *ModeName(RecogniserListen listen)
{
    for (const auto &m : Modes)
        if (m.listen == listen)
            return m.name;
    return "?";
}

// --listen always|hold|name|all: false for anything else.
bool ReadModes(const std::string &value, std::vector<RecogniserListen> *modes)
{
    for (const auto &m : Modes)
        if (value == m.name || value == "all")
            modes->push_back(m.listen);
    return !modes->empty();
}

bool ParseArgs(int argc, char **argv, Args *args)
{
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        bool more = i + 1 < argc;
        bool ok = true;
        if (a == "--listen" && more)
            ok = ReadModes(argv[++i], &args->modes);
        else if (ReadRecogniserFlag(argc, argv, &i, &args->options))
            continue;
        else if (a == "--part" && more)
            args->part = argv[++i];
        else if (a == "--phrases" && more)
            args->phraseFile = argv[++i];
        else if (a == "--keep" && more)
            args->keep = argv[++i];
        else if (a == "--tsv" && more)
            args->tsvPath = argv[++i];
        else if (a[0] == '-')
            ok = false;
        else
            args->folders.push_back(a);
        if (!ok) {
            std::fprintf(stderr,
                         "usage: recogniser_bench [--part tuning|held-out|named] "
                         "[--listen always|hold|name|all] %s "
                         "[--phrases FILE] [--keep DIR] [--tsv FILE] [FOLDER...]\n",
                         RecogniserFlagsUsage);
            return false;
        }
    }
    if (args->modes.empty())
        args->modes.push_back(args->options.listen);
    return true;
}

// Synthesises the parts asked for, as the mode hears them, into
// DIR/MODE/PART (DIR: --keep's folder or a temporary one, *temporary) and
// adds their folders to *folders; a part a run with --keep finished before
// is kept as it is. Returns an exit status, 0 when done.
int SynthesiseParts(const Args &args, const std::vector<std::string> &phrases, const Listening &l,
                    std::string *temporary, std::vector<std::string> *folders)
{
    std::string dir = args.keep.empty() ? *temporary : args.keep;
    if (dir.empty()) {
        char tmpl[] = "/tmp/recogniser_bench.XXXXXX";
        if (!mkdtemp(tmpl))
            return 1;
        dir = *temporary = tmpl;
    }
    mkdir(dir.c_str(), 0755);
    dir += std::string("/") + ModeName(l.listen);
    mkdir(dir.c_str(), 0755);
    for (const Part &p : Parts) {
        bool wanted = args.part.empty() ? std::string(p.name) != "named" : args.part == p.name;
        if (!wanted)
            continue;
        const std::string sub = dir + "/" + p.name, done = sub + "/.done";
        mkdir(sub.c_str(), 0755);
        struct stat st;
        if (stat(done.c_str(), &st) != 0) {
            std::printf("synthesising the %s part in %s\n", p.name, sub.c_str());
            std::fflush(stdout);
            if (!Synthesise(sub, p, phrases, l) || !Run("touch " + Quote(done)))
                return 1;
        }
        // Talk is made apart: a kept part gets the talk of this version.
        const std::string talk = sub + "/talk", talkDone = talk + "/.done";
        if (!p.talk.empty() && stat(talkDone.c_str(), &st) != 0) {
            std::printf("synthesising the %s part's talk in %s\n", p.name, talk.c_str());
            std::fflush(stdout);
            if (!Run("rm -rf " + Quote(talk)) || !Talk(sub, p) || !Run("touch " + Quote(talkDone)))
                return 1;
        }
        folders->push_back(sub);
    }
    if (folders->empty()) {
        std::fprintf(stderr, "recogniser_bench: no part called %s\n", args.part.c_str());
        return 2;
    }
    return 0;
}

void PrintSummary(const char *mode, const std::vector<std::pair<std::string, Totals>> &totals)
{
    Totals all;
    std::printf("\n");
    for (const auto &t : totals) {
        std::printf("%s, %s: commands right %.1f%%, out of vocabulary accepted %.1f%% (near misses "
                    "%.1f%%), non-speech accepted %d of %d\n",
                    mode, t.first.c_str(), Pct(t.second.right, t.second.commands),
                    Pct(t.second.oovAccepted, t.second.oov),
                    Pct(t.second.nearAccepted, t.second.near), t.second.noiseAccepted,
                    t.second.noise);
        const Totals &u = t.second;
        if (u.talkSeconds > 0)
            std::printf("%s, %s: talk %d false commands in %.1f minutes (%.2f per 10 minutes)%s\n",
                        mode, t.first.c_str(), u.talkFalse, u.talkSeconds / 60,
                        u.talkFalse * 600 / u.talkSeconds,
                        u.talkHeld ? (", key held over " + std::to_string(u.talkHeld) +
                                      " sentences: " + std::to_string(u.talkHeldFalse))
                                         .c_str()
                                   : "");
        all.Add(t.second);
    }
    PrintTimes("decode time per utterance (wall)", all.decodeMs);
    std::printf("decoded while the end silence was waited: %d of %zu utterances\n", all.early,
                all.decodeMs.size());
    PrintTimes("processing per utterance (CPU, incl. speech detection)", all.cpuMs);
}

// One mode over its folders. Returns an exit status, 0 when done.
int RunMode(const Args &args, const std::vector<std::string> &phrases, RecogniserListen listen,
            std::string *temporary, FILE *tsv)
{
    Listening l{listen, args.options.name};
    std::vector<std::string> folders = args.folders;
    if (folders.empty())
        if (int status = SynthesiseParts(args, phrases, l, temporary, &folders))
            return status;
    RecogniserOptions options = args.options;
    options.listen = listen;
    Recogniser *r = RecogniserCreate(options);
    std::vector<std::string> unknown;
    if (!r || !RecogniserSetPhrases(r, phrases, &unknown)) {
        std::fprintf(stderr, "recogniser_bench: cannot set up the recogniser\n");
        RecogniserDestroy(r);
        return 1;
    }
    for (const std::string &w : unknown)
        std::printf("no pronunciation for \"%s\": its phrase is left out\n", w.c_str());
    std::printf("\n#### listen %s: threshold %.2f, %zu phrases\n", ModeName(listen),
                options.threshold, phrases.size());
    std::vector<std::pair<std::string, Totals>> totals;
    for (const std::string &folder : folders)
        totals.push_back(
            {folder, EvaluateFolder(r, folder, phrases, tsv, listen == RecogniserListen::Hold)});
    PrintSummary(ModeName(listen), totals);
    RecogniserDestroy(r);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    Args args;
    if (!ParseArgs(argc, argv, &args))
        return 2;
    std::vector<std::string> phrases = ReadPhraseFile(args.phraseFile.c_str());
    if (phrases.empty()) {
        std::fprintf(stderr, "recogniser_bench: no phrases in %s\n", args.phraseFile.c_str());
        return 1;
    }
    std::string temporary;
    FILE *tsv = args.tsvPath.empty() ? nullptr : std::fopen(args.tsvPath.c_str(), "w");
    int status = 0;
    for (RecogniserListen listen : args.modes)
        if ((status = RunMode(args, phrases, listen, &temporary, tsv)) != 0)
            break;
    if (tsv)
        std::fclose(tsv);
    if (!temporary.empty())
        Run("rm -rf " + Quote(temporary));
    return status;
}
