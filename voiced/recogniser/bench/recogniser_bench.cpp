// recogniser_bench: the recogniser's accuracy over synthesised or given clips.
//
//   recogniser_bench [options] [FOLDER...]
//
// Without folders it synthesises the standard set with espeak-ng and sox:
// every command label (read from the string table) in each voice at each
// rate, out-of-vocabulary phrases and non-speech, each padded with half a
// second of a quiet noise floor, in quiet and with pink noise at 20 dB and
// 10 dB SNR (one sub-folder per condition).
//
// A folder holds clips named by their phrase ("go left.wav",
// "go left__en-us_140.wav": the name up to "__", underscores read as
// spaces); a name in parentheses ("(tone).wav") is non-speech. A folder with
// sub-folders of clips is one condition per sub-folder.
//
// Options: --voices a,b,c  --rates 140,175,200  --threshold T
//          --phrases FILE (default: the string table)  --keep DIR (where the
//          synthesised set goes; default a temporary folder)  --tsv FILE
//          (one line per clip: condition, file, expected, heard, score)
#include "voiced/recogniser/recogniser.h"
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <map>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const char *const NamedVoices = "en-us,en-us+f3,en-us+m3,en,en-gb-x-rp";
const char *const NamedRates = "140,175,200";

// Out-of-vocabulary speech: the first NearMisses are near misses of the
// commands; the rest are other phrases.
constexpr int NearMisses = 7;
const char *const OutOfVocabulary[] = {"go",
                                       "left",
                                       "bye",
                                       "go home",
                                       "run away",
                                       "hello there",
                                       "thank you",
                                       "good morning",
                                       "what time is it",
                                       "open the window",
                                       "see you later",
                                       "how are you",
                                       "right now",
                                       "let's go",
                                       "turn it off"};

struct Condition {
    const char *name;
    double snr; // dB; 0 for quiet
};
const Condition Conditions[] = {{"quiet", 0}, {"snr20", 20}, {"snr10", 10}};

constexpr double FloorRms = 30; // the quiet noise floor, about -60 dBFS
constexpr double PadSeconds = 0.5;

std::vector<std::string> Split(const std::string &s, char sep)
{
    std::vector<std::string> out;
    size_t at = 0;
    while (at <= s.size()) {
        size_t end = s.find(sep, at);
        if (end == std::string::npos)
            end = s.size();
        if (end > at)
            out.push_back(s.substr(at, end - at));
        at = end + 1;
    }
    return out;
}

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

struct Noise {
    std::vector<int16_t> pink; // a long stretch of pink noise, unit-ish level
    size_t at = 0;
    // The next n samples, scaled to the given RMS.
    std::vector<double> Take(size_t n, double rms)
    {
        double sum = 0;
        for (int16_t s : pink)
            sum += double(s) * s;
        double scale = rms / std::sqrt(sum / pink.size());
        std::vector<double> out(n);
        for (size_t i = 0; i < n; i++, at++)
            out[i] = pink[at % pink.size()] * scale;
        return out;
    }
};

// RMS of the active part: frames within 40 dB of the loudest.
double ActiveRms(const std::vector<int16_t> &s)
{
    const size_t frame = 160;
    std::vector<double> energy;
    for (size_t i = 0; i + frame <= s.size(); i += frame) {
        double e = 0;
        for (size_t k = 0; k < frame; k++)
            e += double(s[i + k]) * s[i + k];
        energy.push_back(e / frame);
    }
    double peak = energy.empty() ? 0 : *std::max_element(energy.begin(), energy.end());
    double sum = 0;
    size_t n = 0;
    for (double e : energy)
        if (e > peak * 1e-4)
            sum += e, n++;
    return n ? std::sqrt(sum / n) : 0;
}

bool WriteClip(const std::string &path, const std::vector<int16_t> &sound, double snr, Noise &noise)
{
    size_t pad = static_cast<size_t>(PadSeconds * RecogniserRate);
    std::vector<double> mix(sound.size() + 2 * pad, 0.0);
    for (size_t i = 0; i < sound.size(); i++)
        mix[pad + i] = sound[i];
    std::vector<double> floor = noise.Take(mix.size(), FloorRms);
    double level = snr > 0 ? ActiveRms(sound) / std::pow(10.0, snr / 20) : 0;
    std::vector<double> extra = noise.Take(mix.size(), level);
    std::vector<int16_t> out(mix.size());
    for (size_t i = 0; i < mix.size(); i++) {
        double v = std::lround(mix[i] + floor[i] + extra[i]);
        out[i] = static_cast<int16_t>(std::max(-32768.0, std::min(32767.0, v)));
    }
    return SaveWave(path.c_str(), out.data(), out.size(), RecogniserRate);
}

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
};

bool Synthesise(const std::string &dir, const std::vector<std::string> &commands,
                const std::vector<std::string> &voices, const std::vector<std::string> &rates)
{
    std::string tmp = dir + "/.work.wav";
    Noise noise;
    if (!Run("sox -R -n -r 16000 -b 16 -c 1 " + tmp + " synth 30 pinknoise vol 0.5") ||
        !LoadWave16k(tmp.c_str(), &noise.pink)) {
        std::fprintf(stderr, "recogniser_bench: sox is needed (scripts/deps.sh)\n");
        return false;
    }
    struct Item {
        std::string file;
        std::vector<int16_t> sound;
    };
    std::vector<Item> items;
    std::vector<std::string> texts = commands;
    texts.insert(texts.end(), std::begin(OutOfVocabulary), std::end(OutOfVocabulary));
    for (const std::string &text : texts)
        for (const std::string &voice : voices)
            for (const std::string &rate : rates) {
                Item item;
                item.file = text + "__" + voice + "_" + rate + ".wav";
                if (!Run("espeak-ng -v " + Quote(voice) + " -s " + rate + " -w " + tmp + " " +
                         Quote(text)) ||
                    !LoadWave16k(tmp.c_str(), &item.sound)) {
                    std::fprintf(stderr, "recogniser_bench: espeak-ng failed for %s (%s)\n",
                                 text.c_str(), voice.c_str());
                    return false;
                }
                items.push_back(item);
            }
    for (const Sound &s : NonSpeech) {
        Item item;
        item.file = std::string(s.name) + ".wav";
        if (!Run("sox -R -n -r 16000 -b 16 -c 1 " + tmp + " " + s.synth) ||
            !LoadWave16k(tmp.c_str(), &item.sound))
            return false;
        items.push_back(item);
    }
    std::remove(tmp.c_str());
    for (const Condition &c : Conditions) {
        std::string sub = dir + "/" + c.name;
        mkdir(sub.c_str(), 0755);
        for (const Item &item : items)
            if (!WriteClip(sub + "/" + item.file, item.sound, c.snr, noise))
                return false;
    }
    return true;
}

// Evaluation ------------------------------------------------------------

struct Heard {
    std::vector<RecogniserUtterance> utterances;
    std::vector<std::string> strings; // keeps the heard texts alive
};

void Collect(void *context, const RecogniserUtterance &u)
{
    Heard *h = static_cast<Heard *>(context);
    h->strings.push_back(std::string(u.phrase) + "\n" + u.heard);
    h->utterances.push_back(u);
}

double CpuMs()
{
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
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
    int near = 0, nearAccepted = 0;
    std::vector<double> decodeMs, cpuMs;
};

void Evaluate(Recogniser *r, const std::string &dir, const std::string &name,
              const std::vector<std::string> &phrases, FILE *tsv, Totals *all)
{
    std::map<std::string, std::string> byWords; // joined words -> phrase
    for (const std::string &p : phrases)
        byWords.emplace(Joined(p), p);
    std::map<std::string, std::pair<int, int>> perPhrase; // right, total
    std::map<std::string, int> confusions, accepted;
    Totals t;
    for (const std::string &file : ListDir(dir, false)) {
        std::string stem = file.substr(0, file.size() - 4);
        stem = stem.substr(0, stem.find("__"));
        std::replace(stem.begin(), stem.end(), '_', ' ');
        bool nonSpeech = !stem.empty() && stem[0] == '(';
        auto it = nonSpeech ? byWords.end() : byWords.find(Joined(stem));
        std::string expected = it == byWords.end() ? "" : it->second;

        std::vector<int16_t> samples;
        if (!LoadWave16k((dir + "/" + file).c_str(), &samples)) {
            std::fprintf(stderr, "recogniser_bench: cannot read %s/%s\n", dir.c_str(),
                         file.c_str());
            continue;
        }
        Heard heard;
        double cpu = CpuMs();
        RecogniserFeed(r, samples.data(), samples.size(), Collect, &heard);
        RecogniserFlush(r, Collect, &heard);
        cpu = CpuMs() - cpu;
        std::string got, words;
        double best = 0;
        int acceptedCount = 0;
        for (const RecogniserUtterance &u : heard.utterances) {
            t.decodeMs.push_back(u.decodeMs);
            if (*u.phrase) {
                got = u.phrase, acceptedCount++;
            }
            if (u.score >= best || words.empty())
                best = u.score, words = u.heard;
        }
        if (!heard.utterances.empty())
            t.cpuMs.push_back(cpu / heard.utterances.size());
        if (acceptedCount > 1)
            got = "(" + std::to_string(acceptedCount) + " commands)";
        if (tsv)
            std::fprintf(tsv, "%s\t%s\t%s\t%s\t%.4f\t%d\n", name.c_str(), file.c_str(),
                         nonSpeech          ? "(non-speech)"
                         : expected.empty() ? "(oov)"
                                            : expected.c_str(),
                         words.c_str(), best, int(heard.utterances.size()));
        if (!expected.empty()) {
            t.commands++;
            perPhrase[expected].second++;
            if (got == expected)
                t.right++, perPhrase[expected].first++;
            else
                confusions[expected + " -> " + (got.empty() ? "(nothing)" : got)]++;
        } else if (nonSpeech) {
            t.noise++;
            if (!got.empty())
                t.noiseAccepted++, accepted[stem + " -> " + got]++;
        } else {
            bool isNear = std::find(OutOfVocabulary, OutOfVocabulary + NearMisses, stem) !=
                          OutOfVocabulary + NearMisses;
            t.oov++, t.near += isNear;
            if (!got.empty())
                t.oovAccepted++, t.nearAccepted += isNear, accepted[stem + " -> " + got]++;
        }
    }
    auto pct = [](int a, int b) { return b ? 100.0 * a / b : 0.0; };
    std::printf("\n== %s\n", name.c_str());
    std::printf("commands right     %5.1f%%  (%d of %d)\n", pct(t.right, t.commands), t.right,
                t.commands);
    std::printf("out of vocabulary  %5.1f%% accepted  (%d of %d; near misses %d of %d)\n",
                pct(t.oovAccepted, t.oov), t.oovAccepted, t.oov, t.nearAccepted, t.near);
    std::printf("non-speech         %5.1f%% accepted  (%d of %d)\n", pct(t.noiseAccepted, t.noise),
                t.noiseAccepted, t.noise);
    for (const auto &p : perPhrase)
        std::printf("  %-16s %5.1f%%  (%d of %d)\n", p.first.c_str(),
                    pct(p.second.first, p.second.second), p.second.first, p.second.second);
    for (const auto &c : confusions)
        std::printf("  confusion        %s  x%d\n", c.first.c_str(), c.second);
    for (const auto &a : accepted)
        std::printf("  false accept     %s  x%d\n", a.first.c_str(), a.second);
    all->commands += t.commands, all->right += t.right, all->oov += t.oov;
    all->oovAccepted += t.oovAccepted, all->noise += t.noise, all->noiseAccepted += t.noiseAccepted;
    all->near += t.near, all->nearAccepted += t.nearAccepted;
    all->decodeMs.insert(all->decodeMs.end(), t.decodeMs.begin(), t.decodeMs.end());
    all->cpuMs.insert(all->cpuMs.end(), t.cpuMs.begin(), t.cpuMs.end());
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

} // namespace

int main(int argc, char **argv)
{
    std::string voices = NamedVoices, rates = NamedRates, keep, tsvPath;
    std::string phraseFile = NELKO_SOURCE_DIR "/resources/commands.rc";
    double threshold = RecogniserDefaultThreshold;
    std::vector<std::string> folders;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        bool more = i + 1 < argc;
        if (a == "--voices" && more)
            voices = argv[++i];
        else if (a == "--rates" && more)
            rates = argv[++i];
        else if (a == "--threshold" && more)
            threshold = std::atof(argv[++i]);
        else if (a == "--phrases" && more)
            phraseFile = argv[++i];
        else if (a == "--keep" && more)
            keep = argv[++i];
        else if (a == "--tsv" && more)
            tsvPath = argv[++i];
        else if (a[0] == '-') {
            std::fprintf(stderr, "usage: recogniser_bench [--voices a,b] [--rates 140,175] "
                                 "[--threshold T] [--phrases FILE] [--keep DIR] [--tsv FILE] "
                                 "[FOLDER...]\n");
            return 2;
        } else
            folders.push_back(a);
    }
    std::vector<std::string> phrases = ReadPhraseFile(phraseFile.c_str());
    if (phrases.empty()) {
        std::fprintf(stderr, "recogniser_bench: no phrases in %s\n", phraseFile.c_str());
        return 1;
    }
    bool temporary = false;
    if (folders.empty()) {
        std::string dir = keep;
        if (dir.empty()) {
            char tmpl[] = "/tmp/recogniser_bench.XXXXXX";
            if (!mkdtemp(tmpl))
                return 1;
            dir = tmpl, temporary = true;
        } else {
            mkdir(dir.c_str(), 0755);
        }
        std::printf("synthesising clips in %s (voices %s; rates %s)\n", dir.c_str(), voices.c_str(),
                    rates.c_str());
        std::fflush(stdout);
        if (!Synthesise(dir, phrases, Split(voices, ','), Split(rates, ',')))
            return 1;
        folders.push_back(dir);
    }

    Recogniser *r = RecogniserCreate(NELKO_RECOGNISER_MODEL, NELKO_RECOGNISER_DICT,
                                     NELKO_RECOGNISER_EXTRA_DICT);
    std::vector<std::string> unknown;
    if (!r || !RecogniserSetPhrases(r, phrases, &unknown)) {
        std::fprintf(stderr, "recogniser_bench: cannot set up the recogniser\n");
        return 1;
    }
    for (const std::string &w : unknown)
        std::printf("no pronunciation for \"%s\": its phrase is left out\n", w.c_str());
    RecogniserSetThreshold(r, threshold);
    std::printf("threshold %.2f, %zu phrases\n", threshold, phrases.size());
    FILE *tsv = tsvPath.empty() ? nullptr : std::fopen(tsvPath.c_str(), "w");
    Totals all;
    for (const std::string &folder : folders) {
        std::vector<std::string> subs = ListDir(folder, true);
        if (subs.empty())
            Evaluate(r, folder, folder, phrases, tsv, &all);
        for (const std::string &sub : subs)
            Evaluate(r, folder + "/" + sub, sub, phrases, tsv, &all);
    }
    if (tsv)
        std::fclose(tsv);
    std::printf("\nall: commands right %.1f%%, out of vocabulary accepted %.1f%% (near misses "
                "%.1f%%), non-speech accepted %d of %d\n",
                all.commands ? 100.0 * all.right / all.commands : 0.0,
                all.oov ? 100.0 * all.oovAccepted / all.oov : 0.0,
                all.near ? 100.0 * all.nearAccepted / all.near : 0.0, all.noiseAccepted, all.noise);
    PrintTimes("decode time per utterance (wall)", all.decodeMs);
    PrintTimes("processing per utterance (CPU, incl. speech detection)", all.cpuMs);
    RecogniserDestroy(r);
    if (temporary)
        Run("rm -rf " + Quote(folders[0]));
    return 0;
}
