// The decision: the utterance's frames are decoded twice, against the
// grammar of the active phrases and the decoys, and as a free loop of
// context-independent phones. The phone loop fits any speech about as well
// as speech can be fitted, so the grammar's shortfall per frame measures how
// well the audio matches what the grammar heard: the score. The phone loop
// has a decoder of its own and runs on a thread beside the grammar's
// passes, which take about as long: an utterance is decided in little more
// than half the time.
//
// A phrase heard is then checked (checks.h): that it holds no more speech
// than a command, that the speaker said no more beside it, that no everyday
// word fits better in place of one of its words, that the grammar took no
// speech for silence, and that its score reaches the threshold.
#include "voiced/recogniser/decide.h"
#include "voiced/recogniser/checks.h"
#include "voiced/recogniser/decoder.h"
#include "voiced/recogniser/lexicon.h"
#include "voiced/recogniser/prepare.h"
#include <chrono>
#include <cmath>
#include <functional>
#include <system_error>
#include <thread>

namespace {

// A hold is meant for the recogniser: its score need only pass the
// threshold times HoldThresholdScale (0.04 at the default sensitivity).
// (Holds of the tuning part at 0.04: quiet 100%, pink noise at 20 dB 98.5%,
// chatter at 15 dB 90.2%, as with no threshold at all; 0.05 lost chatter's
// commands, 88.6%; at the default 0.25, 62.9%.)
constexpr double HoldThresholdScale = 0.16;

// In Name mode the name says the speaker meant us, and its own score caps
// the utterance's: the score need only pass the threshold times
// NameThresholdScale (0.08 at the default sensitivity). (The tuning part
// said after the name, NameWeight 0.5: chatter at 15 dB 75% right, at the
// default 0.25 18%; the near misses and other phrases after the name
// accepted 20.6%, at 0.06 27%.)
constexpr double NameThresholdScale = 0.32;

double Now()
{
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

// Work on a thread of its own while the caller goes on, joined by Join or
// at the latest when it goes out of scope; run at once when no thread can
// be started.
class Beside {
  public:
    template <typename Work> explicit Beside(Work &work)
    {
        try {
            thread_ = std::thread(std::ref(work));
        } catch (const std::system_error &) {
            work();
        }
    }
    ~Beside() { Join(); }
    Beside(const Beside &) = delete;
    Beside &operator=(const Beside &) = delete;
    void Join()
    {
        if (thread_.joinable())
            thread_.join();
    }

  private:
    std::thread thread_;
};

// The said-more check, on the phone loop's decoder: the grammar inside the
// phone loop, over the cepstra normalised as the loop's are.
void CheckSaidMore(Recogniser *r, std::vector<mfcc_t> cepstra, const std::string &heard,
                   RecogniserChecks *c)
{
    const std::vector<double> energy = LogEnergy(cepstra, r->cepSize);
    Pass pass;
    if (Decode(r, Search::InPhoneLoop, cepstra, &pass))
        c->besideSpeech = SaidMoreGap(pass.path, energy, heard, &c->saidMoreGap);
}

// The everyday words in place of a command's first or last word, or alone.
void CheckEveryday(Recogniser *r, PreparedFrames *p, const Pass &grammar, RecogniserChecks *c)
{
    Pass pass;
    if (!r->options.everydayWords.empty() &&
        Decode(r, p->spread < NoisySpread ? Search::NoisyEveryday : Search::Everyday, p->everyday,
               &pass))
        EverydayFitsBetter(grammar.words, grammar.score, pass.words, pass.score,
                           r->logBase * ScoreScale, c);
}

// Name mode: the name's own score, which the utterance's may not exceed.
void CheckName(Recogniser *r, const PreparedFrames &p, const Pass &grammar, const Pass &phones,
               RecogniserChecks *c)
{
    const double shortfall =
        NameShortfallOf(grammar.path, phones.path, PhraseWords(r->options.name).size(),
                        int(p.frames), r->logBase * ScoreScale, p.spread);
    c->named = true;
    c->nameScore = std::exp(-NameWeight * shortfall);
    c->score = std::min(c->score, c->nameScore);
}

// What the grammar heard, into the record: whether it is a command the
// checks look at (a phrase in no more speech than a command takes).
bool TakeHeard(const Recogniser *r, const PreparedFrames &p, bool decoded, const Pass &grammar,
               std::string *heard, RecogniserChecks *c)
{
    if (decoded)
        *heard = grammar.words;
    c->chatter = p.chatter;
    c->phrase = r->phrases.count(*heard) > 0;
    c->loudFrames = LoudFrames(p.energy);
    return c->phrase && c->loudFrames <= CommandLoudFrames;
}

// The grammar's fit against the phone loop's, when both were decoded.
void TakeScore(const Recogniser *r, const PreparedFrames &p, const Pass &grammar,
               const Pass &phones, RecogniserChecks *c)
{
    c->score = ScoreOf(grammar.score, phones.score, p.frames, r->logBase, p.spread,
                       p.chatter ? r->options.chatterScale : 1);
}

// A hold is meant for the recogniser: it is heard by the grammar and the
// everyday words side by side, and what the speaker said beside a command,
// or took for silence, does not refuse it. The everyday words, the longest
// search, run at once on the grammar's decoder while the phone loop's
// decoder takes the phone loop and then the grammar (the same searches, so
// the same decisions, in about the everyday words' time).
void HearHold(Recogniser *r, PreparedFrames *p, std::string *heard, RecogniserChecks *c)
{
    Pass phones, grammar, everyday;
    int looped = 0, decoded = 0, other = 0;
    auto beside = [&] {
        looped = Decode(r, Search::Phones, p->loop, &phones);
        decoded = Decode(r, Search::GrammarBeside, p->grammar, &grammar);
    };
    Beside loop(beside);
    if (!r->options.everydayWords.empty())
        other = Decode(r, p->spread < NoisySpread ? Search::NoisyEveryday : Search::Everyday,
                       p->everyday, &everyday);
    loop.Join();
    if (TakeHeard(r, *p, decoded, grammar, heard, c) && other)
        EverydayFitsBetter(grammar.words, grammar.score, everyday.words, everyday.score,
                           r->logBase * ScoreScale, c);
    if (decoded && looped)
        TakeScore(r, *p, grammar, phones, c);
}

// The passes and the checks. A command is checked twice before the phone
// loop's score says whether it is needed: for everyday words here, and
// whether the speaker said more on the phone loop's decoder once the loop is
// done. (The work splits about evenly over two cores.) Once the check has
// started, only its thread joins the loop's.
void Hear(Recogniser *r, PreparedFrames *p, std::string *heard, RecogniserChecks *c)
{
    Pass phones, grammar;
    int looped = 0;
    auto loop = [&] { looped = Decode(r, Search::Phones, p->loop, &phones); };
    Beside beside(loop);
    const bool decoded = Decode(r, Search::Grammar, p->grammar, &grammar);
    const bool command = TakeHeard(r, *p, decoded, grammar, heard, c);
    auto more = [&] {
        beside.Join();
        if (command)
            CheckSaidMore(r, std::move(p->saidMore), *heard, c);
    };
    Beside checking(more);
    if (command)
        CheckEveryday(r, p, grammar, c);
    checking.Join();
    if (decoded && looped)
        TakeScore(r, *p, grammar, phones, c);
    // Amid chatter the silences hold the other voices.
    if (command && !p->chatter)
        c->silenceShortfall =
            SilenceShortfallOf(grammar.path, phones.path, p->energy, r->logBase * ScoreScale);
    if (command && decoded && looped && r->options.listen == RecogniserListen::Name)
        CheckName(r, *p, grammar, phones, c);
}

} // namespace

Decision Decide(Recogniser *r, double end, int waited)
{
    const double started = Now();
    Decision d;
    RecogniserUtterance &u = d.utterance;
    BandMeterCatchUp(&r->band);
    PreparedFrames frames = PrepareFrames(r, waited);
    if (frames.frames > 0)
        (r->options.listen == RecogniserListen::Hold ? HearHold : Hear)(r, &frames, &d.heard,
                                                                        &u.checks);
    u.threshold =
        r->options.threshold * (r->options.listen == RecogniserListen::Hold   ? HoldThresholdScale
                                : r->options.listen == RecogniserListen::Name ? NameThresholdScale
                                                                              : 1);
    u.refusal = Judge(u.checks, u.threshold);
    if (u.checks.phrase && u.refusal == RecogniserRefusal::None)
        d.phrase = r->phrases.at(d.heard);
    u.start = std::max(0.0, r->utteranceStart);
    u.end = u.decided = end;
    u.decodeMs = Now() - started;
    return d;
}
