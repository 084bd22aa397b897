// The checks on a phrase heard, and the refusal they give.
#include "voiced/recogniser/checks.h"
#include "voiced/recogniser/lexicon.h"
#include "voiced/recogniser/prepare.h"
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

// The grammar's shortfall per frame grows with the spread of the
// utterance's energy: clean speech leaves the phone loop more detail to fit
// than noisy speech does. The score scales the shortfall by the square root
// of the spread of speech at about 20 dB over the utterance's own, so that
// one threshold serves quiet rooms and noisy ones alike.
constexpr double SpreadRef = 30;
constexpr double MinSpread = 5;

double Percentile90(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[(v.size() - 1) * 9 / 10];
}

// Each check's name and the refusal it gives, in check order.
const struct {
    RecogniserCheck check;
    const char *name;
    RecogniserRefusal refusal;
} Checks[] = {
    {RecogniserCheck::None, "", RecogniserRefusal::None},
    {RecogniserCheck::LoudFrames, "loud frames", RecogniserRefusal::MoreSpeech},
    {RecogniserCheck::SaidMore, "said more", RecogniserRefusal::MoreSpeech},
    {RecogniserCheck::EverydayWords, "everyday words", RecogniserRefusal::OtherWords},
    {RecogniserCheck::Silence, "silence", RecogniserRefusal::OtherWords},
    {RecogniserCheck::Score, "score", RecogniserRefusal::Score},
};
static_assert(sizeof Checks / sizeof Checks[0] == size_t(RecogniserCheck::Score) + 1,
              "a row per check, in order");

} // namespace

std::string HeardWords(const std::string &hypothesis)
{
    std::string out;
    for (const std::string &w : PhraseWords(hypothesis))
        out += (out.empty() ? "" : " ") + w;
    return out;
}

int LoudFrames(const std::vector<double> &energy)
{
    double low = 0, high = 0;
    Tenths(energy, &low, &high);
    return int(std::count_if(energy.begin(), energy.end(),
                             [mid = (low + high) / 2](double e) { return e > mid; }));
}

// (Also refusing a check that heard only some of the command's words, as
// decoys, cost commands.)
bool SaidMoreGap(const std::vector<Segment> &path, const std::vector<double> &energy,
                 const std::string &heard, double *gap)
{
    const size_t prefix = std::strlen(LoopWordPrefix);
    int from = -1, to = -1, loopFrames = 0;
    std::string words;
    for (const Segment &s : path) {
        const std::string &word = s.word;
        if (word.compare(0, prefix, LoopWordPrefix) == 0) {
            loopFrames += s.last - s.first + 1;
        } else if (!word.empty() && word[0] != '<' && word[0] != '[' && word[0] != '(') {
            if (from < 0)
                from = s.first;
            to = s.last;
            words += (words.empty() ? "" : " ") + word.substr(0, word.find('('));
        }
    }
    if (from < 0 || loopFrames == 0)
        return false;
    std::vector<double> inside, outside;
    for (int i = 0; i < int(energy.size()); i++)
        (i >= from && i <= to ? inside : outside).push_back(energy[i]);
    if (outside.empty() || inside.empty() || HeardWords(words) != heard)
        return false;
    *gap = Percentile90(inside) - Percentile90(outside);
    return true;
}

bool EverydayFitsBetter(const std::string &heard, int32_t heardScore, const std::string &everyday,
                        int32_t everydayScore, double scale, RecogniserChecks *checks)
{
    if (everyday == heard)
        return false;
    checks->everyday = true;
    checks->everydayWords = everyday;
    checks->everydayGain = (everydayScore - heardScore) * scale;
    return true;
}

namespace {

bool Within(const Segment &s, int frames)
{
    return s.first >= 0 && s.first <= s.last && s.last < frames;
}

// The phone loop's score per frame: each stretch's spread evenly over it.
std::vector<double> PhoneFit(const std::vector<Segment> &phones, int frames)
{
    std::vector<double> fit(size_t(std::max(frames, 0)));
    for (const Segment &s : phones)
        if (Within(s, frames))
            for (int i = s.first; i <= s.last; i++)
                fit[i] = double(s.score) / (s.last - s.first + 1);
    return fit;
}

// The score's factor for the utterance's energy spread.
double SpreadFactor(double spread)
{
    return std::sqrt(SpreadRef / std::max(spread, MinSpread));
}

} // namespace

double SilenceShortfallOf(const std::vector<Segment> &grammar, const std::vector<Segment> &phones,
                          const std::vector<double> &energy, double scale)
{
    const int frames = int(energy.size());
    auto within = [frames](const Segment &s) { return Within(s, frames); };
    const std::vector<double> phoneFit = PhoneFit(phones, frames);
    auto loudEnd = [&energy](const Segment &s) {
        return Percentile90({energy.begin() + s.first, energy.begin() + s.last + 1});
    };
    double words = -HUGE_VAL;
    for (const Segment &s : grammar)
        if (!s.silence && within(s))
            words = std::max(words, loudEnd(s));
    double most = 0;
    for (const Segment &s : grammar) {
        if (!s.silence || !within(s) || !(loudEnd(s) > words - SilenceLoudness))
            continue;
        double fit = 0;
        for (int i = s.first; i <= s.last; i++)
            fit += phoneFit[i];
        most = std::max(most, (fit - s.score) * scale);
    }
    return most;
}

double NameShortfallOf(const std::vector<Segment> &grammar, const std::vector<Segment> &phones,
                       size_t nameWords, int frames, double scale, double spread)
{
    const std::vector<double> phoneFit = PhoneFit(phones, frames);
    double fit = 0, own = 0;
    int count = 0;
    size_t words = 0;
    for (const Segment &s : grammar) {
        if (words == nameWords)
            break;
        if (s.silence)
            continue;
        words++;
        if (!Within(s, frames))
            return 0;
        own += s.score;
        count += s.last - s.first + 1;
        for (int i = s.first; i <= s.last; i++)
            fit += phoneFit[i];
    }
    if (words < nameWords || count == 0)
        return 0;
    return std::max(0.0, (fit - own) * scale / count * SpreadFactor(spread));
}

double ScoreOf(int32_t grammar, int32_t phones, size_t frames, double logBase, double spread,
               double chatterScale)
{
    double perFrame = double(grammar - phones) / frames * logBase * ScoreScale;
    perFrame *= SpreadFactor(spread);
    perFrame *= chatterScale;
    return std::exp(perFrame < 0 ? perFrame : 0);
}

RecogniserCheck FirstFailed(const RecogniserChecks &c, double threshold)
{
    if (!c.phrase)
        return RecogniserCheck::None;
    if (c.loudFrames > CommandLoudFrames)
        return RecogniserCheck::LoudFrames;
    if (c.besideSpeech && c.saidMoreGap < SaidMoreMargin)
        return RecogniserCheck::SaidMore;
    if (c.everyday)
        return RecogniserCheck::EverydayWords;
    if (c.silenceShortfall > SilenceShortfall)
        return RecogniserCheck::Silence;
    if (c.score < threshold)
        return RecogniserCheck::Score;
    return RecogniserCheck::None;
}

RecogniserRefusal Judge(const RecogniserChecks &checks, double threshold)
{
    return Checks[size_t(FirstFailed(checks, threshold))].refusal;
}

const char *RecogniserCheckName(RecogniserCheck check)
{
    return Checks[size_t(check)].name;
}

const char *RecogniserRefusalName(RecogniserRefusal refusal)
{
    switch (refusal) {
    case RecogniserRefusal::MoreSpeech: return "more speech";
    case RecogniserRefusal::OtherWords: return "other words";
    case RecogniserRefusal::Score: return "score";
    case RecogniserRefusal::None: break;
    }
    return "";
}

std::string RecogniserChecksText(const RecogniserChecks &c, double threshold)
{
    const RecogniserCheck failed = FirstFailed(c, threshold);
    std::string verdict = !c.phrase                         ? "no phrase"
                          : failed == RecogniserCheck::None ? "taken"
                                                            : "refused by ";
    verdict += RecogniserCheckName(failed);
    char said[48] = "none", everyday[160] = "none", line[400];
    if (c.besideSpeech)
        std::snprintf(said, sizeof said, "gap %.1f (at least %.0f)", c.saidMoreGap, SaidMoreMargin);
    if (c.everyday)
        std::snprintf(everyday, sizeof everyday, "\"%.100s\", acoustic gain %.1f",
                      c.everydayWords.c_str(), c.everydayGain);
    std::snprintf(line, sizeof line,
                  "%s: loud frames %d (at most %d), said more %s, everyday words %s, silence "
                  "for speech %.1f (at most %.0f), score %.3f (at least %.3f), chatter %s",
                  verdict.c_str(), c.loudFrames, CommandLoudFrames, said, everyday,
                  c.silenceShortfall, SilenceShortfall, c.score, threshold,
                  c.chatter ? "yes" : "no");
    std::string text = line;
    if (c.named) {
        std::snprintf(line, sizeof line, ", name's score %.3f", c.nameScore);
        text += line;
    }
    return text;
}
