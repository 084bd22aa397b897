// The recogniser over the decoder's C interface.
//
// The speech detector of the decoder's front end runs over the stream and
// hands out the cepstra of each utterance; when the detector says the
// utterance has ended, it is decoded whole twice: once against the grammar
// of the active phrases and the decoys, once as a free loop of
// context-independent phones. The phone loop fits any speech about as well
// as speech can be fitted, so the grammar's shortfall per frame measures how
// well the audio matches what the grammar heard. The phone loop has a
// decoder of its own and runs on a thread beside the grammar's passes, which
// take about as long: an utterance is decided in little more than half the
// time.
//
// Each utterance is heard through the frequency scale that fits its speaker
// (a child's formants lie well above the model's adults, warp.h), except by
// the said-more check below, which hears it as it came.
//
// When other voices talk around the speaker (chatter, a radio), the
// detector hands over the speaker's words inside a stretch of theirs; only
// the speaker's loud stretch is decoded then, and its shortfall is weighed
// as that of speech through chatter.
//
// A command accepted that way is checked once more against the same
// grammar with a free loop of phones allowed before and after it: when that
// loop takes speech about as loud as the command's own ("wave goodbye",
// "go away"), the speaker said more than a command and it is refused.
//
// Nor is a command taken whose best path holds a silence that the phone
// loop fits far better and that is about as loud as the command's words:
// the grammar took speech it has no words for as silence ("i am hungry"
// heard as "bye ... bye", "turn right" as "... run right").
#include "voiced/recogniser/recogniser.h"
#include "voiced/recogniser/band.h"
#include "voiced/recogniser/warp.h"
#include <pocketsphinx.h>
#include <sphinxbase/ckd_alloc.h>
#include <sphinxbase/cmn.h>
#include <sphinxbase/err.h>
#include <sphinxbase/fe.h>
#include <sphinxbase/fsg_model.h>
#include <sphinxbase/jsgf.h>
#include <algorithm>
#include <chrono>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <system_error>
#include <thread>

// A near miss ("go", "left", "go back") lands on one of these instead of on
// the command it resembles. Every single word of a command is a decoy too
// (added per phrase set), so that half a command is not taken for the whole.
// None is a word of the benchmark's held-out near misses.
std::vector<std::string> RecogniserDefaultDecoys()
{
    return {"go",  "run", "bye",  "left",  "right", "up",  "down", "stop", "hello", "hi",
            "yes", "no",  "okay", "there", "thank", "you", "what", "come", "back"};
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

namespace {

const char *const GrammarSearch = "commands";
const char *const PhoneSearch = "phones";
const char *const EverydaySearch = "commands among everyday words";
const char *const NoisyEverydaySearch = "commands among everyday words, noisy";
const char *const SpeechSearch = "commands in speech"; // the grammar inside a phone loop

// The phone loop around the commands: a word per context-independent phone,
// each costing RecogniserOptions::loopPhoneWeight so that the loop takes
// only what no command or decoy explains.
const char *const LoopPhones[] = {"AA", "AE", "AH", "AO", "AW", "AY", "B",  "CH", "D",  "DH",
                                  "EH", "ER", "EY", "F",  "G",  "HH", "IH", "IY", "JH", "K",
                                  "L",  "M",  "N",  "NG", "OW", "OY", "P",  "R",  "S",  "SH",
                                  "T",  "TH", "UH", "UW", "V",  "W",  "Y",  "Z",  "ZH"};
const char *const LoopWordPrefix = "phone_";

// The said-more check searches with a narrower beam than the decoder's: in
// half the time, and on the tuning voices it refused a little more of what
// it should and no command more.
constexpr double CheckBeam = 1e-20;

// The everyday-word searches: every everyday word enters at its cost, so
// their beams are EverydayBeamBeyondCost wider than that. An utterance whose
// energy spreads less than NoisySpread (log energy) is noisy: every word
// fits it worse, and an everyday word must do better to stand for one of a
// command's.
constexpr double EverydayBeamBeyondCost = 1e-5;
constexpr double NoisySpread = 40;

// How much of a stream's opening the detector learns the noise from at
// least: all of the first pieces fed, once they are this long. A file fed
// whole is learnt whole (the benchmark's figures); a microphone's small
// pieces give a quarter second, and the estimate settles as the stream goes
// on. (The benchmark's commands at 10 dB, each clip fed in pieces to a fresh
// detector: 82%, not 87%; fed so a second time, 87% again.)
constexpr size_t WarmUpSamples = RecogniserRate / 4;

// A recording may begin and end within a few hundredths of a second of the
// speech, where a microphone's stream has the room before it and after.
// When a stream's first LoudStartSamples are LoudStartRatio (10 dB) louder
// than the opening's quietest RoomSamples, the detector hears
// RoomLeadSeconds of that stretch, played forwards and backwards in turn,
// before the stream: it starts in the room, and the utterance opens with
// it. (A stream that starts in the room is heard as it comes: a short
// stretch repeated is steadier than the room, whose own sounds would then
// count as speech.) An utterance the input cuts off is lengthened as one
// decided early is. (Held-out commands cut 50 ms from their speech: 82%
// right before, 94% with both.)
constexpr size_t RoomSamples = RecogniserRate / 20;
constexpr size_t LoudStartSamples = RecogniserRate / 5;
constexpr double LoudStartRatio = 10;
constexpr double RoomLeadSeconds = 0.3;

// Digital silence (a microphone's noise gate between words, a recording
// padded with zeros) holds no room: the front end gives its frames an energy
// far below any room's (DigitalSilence, where a room's has 0 and more) and a
// flat spectrum, which throw the utterance's normalisation and spread, so
// that "bye bye" is heard as "bye". Such frames are decoded as the quiet room
// the scores were tuned in: frames of pink noise, RoomBelowSpeech (log
// energy, about 45 dB: the spread of clean speech) below the utterance's
// loudest tenth. (Commands behind a noise gate at 45 dB, right as they came
// and so: tuning part 91% and 98%, held-out 87% and 95%, held-out 30 dB
// quieter 90% and 97%.)
constexpr double DigitalSilence = -30;
constexpr double RoomBelowSpeech = 50;
constexpr int RoomFrames = 50;

// The grammar's shortfall per frame grows with the spread of the
// utterance's energy: clean speech leaves the phone loop more detail to fit
// than noisy speech does. The score scales the shortfall by the square root
// of the spread of speech at about 20 dB over the utterance's own, so that
// one threshold serves quiet rooms and noisy ones alike.
constexpr double SpreadRef = 30;
constexpr double MinSpread = 5;

// The speaker amid chatter: the utterance's edges, which the detector takes
// from before and after the speech it found, hold the room (not the room
// heard before the stream, which is ours). Chatter there is
// loud and uneven: its loudest tenth within RecogniserOptions::chatterMargin
// of the utterance's peak and at least ChatterSwing above its quietest
// tenth, where a quiet room lies far below speech and steady noise is even.
// The speaker is then the loudest stretch: frames within LoudDrop of the
// peak, joined across gaps of up to LoudGap frames, with LoudPad frames
// either side for the quiet sounds at a word's ends. (Log energies are the
// first cepstral coefficient, about one unit a decibel; chosen on the
// tuning voices.)
constexpr size_t EdgeFrames = 10;
constexpr double ChatterSwing = 6;
constexpr double LoudDrop = 10;
constexpr int LoudGap = 30;
constexpr int LoudPad = 15;

// The decoder normalises the cepstra over the whole utterance, and the score
// averages over its frames: both were tuned with the detector waiting half a
// second of silence before it ends an utterance. With a shorter wait, the
// silence it waited is repeated up to that length before decoding.
constexpr int ScoredEndFrames = 50;

// The detector ends an utterance after its end silence; the decoding need
// not wait for that. A second detector, alike but for ending an utterance
// after EarlyEndFrames of silence, hears the same stream and so judges each
// frame alike: when it hears the speech end, the utterance is decoded as it
// stands, and when the detector then ends it with no speech since, that
// decision stands, made while the silence was waited. At most
// MaxEarlyDecodes an utterance, and only while it is short enough to be a
// command, so that talk with many pauses costs little more. Five frames
// leave the decoding a tenth of a second before the detector's end, about
// what it takes under Wine; eight left 70 ms, and a command waited for its
// decoding. (The benchmark's decisions moved by two clips a condition at most.)
constexpr int EarlyEndFrames = 5;
constexpr int MaxEarlyDecodes = 3;
constexpr size_t EarlyMaxFrames = 300;

// A command is a word or two: an utterance with more than CommandLoudFrames
// of speech (LoudFrames) is someone talking, even when the grammar finds a
// command's words in it and takes the rest for silence ("go up the stairs
// and turn left ..."). The slowest command of the tuning voices, in echo,
// had 110; sentences have 200 and more.
constexpr int CommandLoudFrames = 150;

// The decoder keeps acoustic scores in its log base, shifted right by ten bits.
constexpr double ScoreScale = 1024;

// Speech taken for silence: a silence in the grammar's path that the phone
// loop fits better by more than SilenceShortfall (natural log) over the
// same frames, with its loud end within SilenceLoudness (log energy) of the
// loudest word's. Quiet breath, a word's fading end and steady noise fall
// short of one or the other. (Chosen on the tuning voices, where no
// command's silence that loud fell short by more than 21; a room's echo
// of the last word can come within 15 of the words.)
constexpr double SilenceShortfall = 36;
constexpr double SilenceLoudness = 12;

double Now()
{
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

// A speech detector, a front end of the decoder's configuration, with room
// for the most frames it hands out at once.
struct Detector {
    fe_t *fe = nullptr;
    std::vector<mfcc_t> out;
    std::vector<mfcc_t *> rows;
};

struct Recogniser {
    ps_decoder_t *ps = nullptr;   // the grammar's searches
    ps_decoder_t *loop = nullptr; // the phone loop, beside them
    Detector detector;
    RecogniserOptions options;
    std::set<std::string> decoderWords;         // words the decoder has a pronunciation for
    std::map<std::string, std::string> phrases; // joined words -> the phrase as given
    double logBase = 0;                         // natural log of the score base
    int frameShift = 160;                       // samples per frame
    int maxPrespeech = 21;                      // frames the detector can hand out at once
    int endFrames = 50;                         // silent frames that end an utterance
    int cepSize = 13;

    // The stream.
    uint64_t samplesDone = 0;     // samples given to the detector
    std::vector<int16_t> pending; // less than a frame shift, waiting for more
    bool warm = false;            // the detector has heard the opening
    std::vector<int16_t> opening; // the stream's start, until there is enough to warm up
    bool inSpeech = false;
    bool overlong = false; // the current utterance passed the limit
    bool holding = false;  // it ended as no command, and waits in case more comes
    int heldFrames = 0;    // silent frames since its speech ended
    RecogniserUtterance held{};
    Detector early; // the detector that hears the end sooner
    bool earlySpeech = false;
    size_t earlyFrames = 0; // frames the early decision covers, 0 for none
    int earlyDecodes = 0;
    RecogniserUtterance earlyDecision{};
    BandMeter band;     // the stream's recent blocks
    FilterBank bank;    // the front end's filters
    SpeakerWarp warp;   // the model's densities, for the speaker's scale
    bool warps = false; // the model and front end allow it
    double utteranceStart = 0;
    std::vector<mfcc_t> cepstra; // the current utterance, cepSize per frame
    std::vector<mfcc_t> room;    // RoomFrames of the quiet room, cepSize each
    double roomEnergy = 0;       // their mean log energy
    std::string phrase, heard;   // storage for the callback's strings
};

namespace {

bool WordKnown(ps_decoder_t *ps, const std::string &word)
{
    char *phones = ps_lookup_word(ps, word.c_str());
    ckd_free(phones);
    return phones != nullptr;
}

// A pointer to each frame of cepstra, as the decoder's front end takes them.
std::vector<mfcc_t *> Rows(std::vector<mfcc_t> &cepstra, int cepSize)
{
    std::vector<mfcc_t *> rows(cepstra.size() / cepSize);
    for (size_t i = 0; i < rows.size(); i++)
        rows[i] = &cepstra[i * cepSize];
    return rows;
}

// A front end of the decoder's configuration with one integer setting
// changed; the decoder's configuration keeps its own.
fe_t *NewFrontEnd(Recogniser *r, const char *setting, long value)
{
    cmd_ln_t *config = ps_get_config(r->ps);
    const long own = cmd_ln_int_r(config, setting);
    cmd_ln_set_int_r(config, setting, value);
    fe_t *fe = fe_init_auto_r(config);
    cmd_ln_set_int_r(config, setting, own);
    return fe;
}

// A speech detector that ends an utterance after endFrames of silence.
bool NewDetector(Recogniser *r, int endFrames, Detector *d)
{
    d->fe = NewFrontEnd(r, "-vad_postspeech", endFrames);
    if (!d->fe)
        return false;
    fe_start_utt(d->fe);
    d->out.resize(static_cast<size_t>(r->maxPrespeech + 2) * r->cepSize);
    d->rows = Rows(d->out, r->cepSize);
    return true;
}

// The recogniser's two detectors, hearing a stream from its start.
bool NewDetectors(Recogniser *r)
{
    r->earlySpeech = false;
    return NewDetector(r, r->endFrames, &r->detector) &&
           NewDetector(r, std::min(EarlyEndFrames, r->endFrames), &r->early);
}

void FreeDetectors(Recogniser *r)
{
    for (Detector *d : {&r->detector, &r->early})
        if (d->fe)
            fe_free(d->fe), d->fe = nullptr;
}

// A stretch of a best path: a word, or a silence or noise between words.
struct Segment {
    bool silence;
    int first, last; // frames
    int32_t score;   // acoustic, in the decoder's units
};

// Decodes the utterance with a search: 1 and its best path's acoustic
// score, words (hyp) and stretches (path, when given), or 0 when it found
// no path.
int Decode(ps_decoder_t *ps, const char *search, std::vector<mfcc_t *> &rows, int32_t *score,
           const char **hyp, std::vector<Segment> *path = nullptr)
{
    if (ps_set_search(ps, search) < 0 || ps_start_utt(ps) < 0)
        return 0;
    ps_process_cep(ps, rows.data(), static_cast<int>(rows.size()), FALSE, TRUE);
    ps_end_utt(ps);
    int32_t best = 0;
    const char *h = ps_get_hyp(ps, &best);
    if (!h)
        return 0;
    int32_t sum = 0;
    if (path)
        path->clear();
    for (ps_seg_t *seg = ps_seg_iter(ps); seg; seg = ps_seg_next(seg)) {
        Segment s{};
        ps_seg_prob(seg, &s.score, nullptr, nullptr);
        sum += s.score;
        if (path) {
            const char *word = ps_seg_word(seg);
            s.silence = word[0] == '<' || word[0] == '[' || word[0] == '+';
            ps_seg_frames(seg, &s.first, &s.last);
            path->push_back(s);
        }
    }
    *score = sum;
    if (hyp)
        *hyp = h;
    return 1;
}

// The first cepstral coefficient of each frame: its log energy.
std::vector<double> LogEnergy(const std::vector<mfcc_t> &cepstra, int cepSize)
{
    std::vector<double> energy(cepstra.size() / cepSize);
    for (size_t i = 0; i < energy.size(); i++)
        energy[i] = cepstra[i * cepSize];
    return energy;
}

// Whether the utterance is a speaker amid chatter (see ChatterSwing); if so,
// *from and *to are the speaker's first and last frame.
bool FindSpeakerInChatter(const std::vector<double> &energy, double margin, int *from, int *to)
{
    const int frames = int(energy.size());
    if (energy.size() < EdgeFrames)
        return false;
    std::vector<double> smooth(energy.size()), edges;
    for (int i = 0; i < frames; i++) {
        int first = std::max(0, i - 2), last = std::min(frames - 1, i + 2);
        double sum = 0;
        for (int k = first; k <= last; k++)
            sum += energy[k];
        smooth[i] = sum / (last - first + 1);
        if (size_t(i) < EdgeFrames || size_t(i) >= energy.size() - EdgeFrames)
            edges.push_back(energy[i]);
    }
    std::sort(edges.begin(), edges.end());
    const double loudEdge = edges[edges.size() * 9 / 10];
    const int peak = int(std::max_element(smooth.begin(), smooth.end()) - smooth.begin());
    if (smooth[peak] - loudEdge >= margin || loudEdge - edges[edges.size() / 10] < ChatterSwing)
        return false;
    const double floor = smooth[peak] - LoudDrop;
    *from = *to = peak;
    for (int i = peak; i >= 0 && *from - i <= LoudGap; i--)
        if (smooth[i] > floor)
            *from = i;
    for (int i = peak; i < frames && i - *to <= LoudGap; i++)
        if (smooth[i] > floor)
            *to = i;
    *from = std::max(0, *from - LoudPad);
    *to = std::min(frames - 1, *to + LoudPad);
    return true;
}

// The mean log energy (the first cepstral coefficient) of the quietest and
// of the loudest tenth of the utterance's frames.
void Tenths(std::vector<double> c0, double *low, double *high)
{
    const size_t frames = c0.size();
    std::sort(c0.begin(), c0.end());
    size_t tenth = std::max<size_t>(1, frames / 10);
    *low = *high = 0;
    for (size_t i = 0; i < tenth; i++)
        *low += c0[i], *high += c0[frames - 1 - i];
    *low /= tenth, *high /= tenth;
}

// The spread between the loudest and the quietest tenth: about 50 for clean
// speech, 30 at 20 dB and 20 at 10 dB signal to noise.
double Spread(const std::vector<double> &c0)
{
    double low = 0, high = 0;
    Tenths(c0, &low, &high);
    return high - low;
}

// The frames louder than halfway from the quietest tenth to the loudest:
// the speech, in a quiet room or a noisy one.
int LoudFrames(const std::vector<double> &c0)
{
    double low = 0, high = 0;
    Tenths(c0, &low, &high);
    return int(std::count_if(c0.begin(), c0.end(),
                             [mid = (low + high) / 2](double e) { return e > mid; }));
}

// The hypothesis as words, without fillers and alternate markers.
std::string CleanHyp(const char *hyp)
{
    std::string out;
    for (const std::string &w : PhraseWords(hyp ? hyp : ""))
        out += (out.empty() ? "" : " ") + w;
    return out;
}

double Percentile90(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[(v.size() - 1) * 9 / 10];
}

// Whether the grammar's path took speech for silence (see SilenceShortfall).
// The phone loop's score of a stretch is spread evenly over its frames;
// scale turns the decoder's units into natural log.
bool SpeechTakenForSilence(const std::vector<Segment> &grammar, const std::vector<Segment> &phones,
                           const std::vector<double> &energy, double scale)
{
    const int frames = int(energy.size());
    auto within = [frames](const Segment &s) {
        return s.first >= 0 && s.first <= s.last && s.last < frames;
    };
    std::vector<double> phoneFit(energy.size());
    for (const Segment &s : phones)
        if (within(s))
            for (int i = s.first; i <= s.last; i++)
                phoneFit[i] = double(s.score) / (s.last - s.first + 1);
    auto loudEnd = [&energy](const Segment &s) {
        return Percentile90({energy.begin() + s.first, energy.begin() + s.last + 1});
    };
    double words = -HUGE_VAL;
    for (const Segment &s : grammar)
        if (!s.silence && within(s))
            words = std::max(words, loudEnd(s));
    for (const Segment &s : grammar) {
        if (!s.silence || !within(s))
            continue;
        double fit = 0;
        for (int i = s.first; i <= s.last; i++)
            fit += phoneFit[i];
        if ((s.score - fit) * scale < -SilenceShortfall && loudEnd(s) > words - SilenceLoudness)
            return true;
    }
    return false;
}

// Whether the speaker said more than the command heard: the utterance is
// decoded again on the phone loop's decoder, from cepstra normalised as the
// loop's are, with the phone loop allowed around the grammar. True when the
// check hears the same command, the loop took some of the frames, and the
// loud end (the 90th percentile of the first cepstral coefficient) of the
// frames around the command is less than saidMoreMargin below that of its
// own: speech about as loud as the command beside it. Chatter around a
// command is quieter than the speaker. (Also refusing a check that heard
// only some of the command's words, as decoys, cost commands.)
bool SaidMore(Recogniser *r, std::vector<mfcc_t> cepstra)
{
    const std::vector<double> c0 = LogEnergy(cepstra, r->cepSize);
    std::vector<mfcc_t *> rows = Rows(cepstra, r->cepSize);
    int32_t ignored = 0;
    if (!Decode(r->loop, SpeechSearch, rows, &ignored, nullptr))
        return false;
    const size_t prefix = std::strlen(LoopWordPrefix);
    int from = -1, to = -1, loopFrames = 0;
    std::string words;
    for (ps_seg_t *seg = ps_seg_iter(r->loop); seg; seg = ps_seg_next(seg)) {
        std::string word = ps_seg_word(seg);
        int sf = 0, ef = 0;
        ps_seg_frames(seg, &sf, &ef);
        if (word.compare(0, prefix, LoopWordPrefix) == 0) {
            loopFrames += ef - sf + 1;
        } else if (!word.empty() && word[0] != '<' && word[0] != '[' && word[0] != '(') {
            if (from < 0)
                from = sf;
            to = ef;
            words += (words.empty() ? "" : " ") + word.substr(0, word.find('('));
        }
    }
    if (from < 0 || loopFrames == 0)
        return false;
    std::vector<double> inside, outside;
    for (int i = 0; i < int(c0.size()); i++)
        (i >= from && i <= to ? inside : outside).push_back(c0[i]);
    if (outside.empty())
        return false;
    return CleanHyp(words.c_str()) == r->heard &&
           Percentile90(inside) - Percentile90(outside) < r->options.saidMoreMargin;
}

// Whether the heard command is heard otherwise when an everyday word may
// stand in place of its first or last word: the utterance is then no
// command.
bool EverydayWordsFitBetter(Recogniser *r, std::vector<mfcc_t> cepstra, bool noisy)
{
    if (r->options.everydayWords.empty())
        return false;
    std::vector<mfcc_t *> rows = Rows(cepstra, r->cepSize);
    int32_t ignored = 0;
    const char *hyp = nullptr;
    return Decode(r->ps, noisy ? NoisyEverydaySearch : EverydaySearch, rows, &ignored, &hyp) &&
           CleanHyp(hyp) != r->heard;
}

// Lengthens the silence the detector waited to ScoredEndFrames with the
// room as it was before the speaker began: the utterance's first frames.
void LengthenEnd(int waited, int cepSize, std::vector<mfcc_t> *cepstra)
{
    const size_t frames = cepstra->size() / cepSize;
    const int room = int(std::min(frames, EdgeFrames));
    for (int i = waited; i < ScoredEndFrames; i++) {
        const size_t at = size_t(i % room) * cepSize;
        for (int k = 0; k < cepSize; k++)
            cepstra->push_back((*cepstra)[at + k]);
    }
}

// The room's frames (see DigitalSilence): the front end's cepstra of pink
// noise at about -60 dBFS, from white noise of a linear congruential
// generator through a three-pole filter, once the front end's own noise
// removal has settled on it.
bool HearRoom(Recogniser *r)
{
    fe_t *fe = NewFrontEnd(r, "-remove_silence", FALSE); // every frame, not only speech
    if (!fe)
        return false;
    std::vector<int16_t> noise(size_t(3 * RoomFrames * r->frameShift));
    uint32_t seed = 1;
    double b[3] = {};
    const double rms = 30, pinkGain = 3.017; // -60 dBFS; the filter's gain on white noise
    for (int16_t &v : noise) {
        seed = seed * 1664525u + 1013904223u;
        const double white = ((seed >> 8) / double(1 << 24) - 0.5) * std::sqrt(12.0);
        b[0] = 0.99765 * b[0] + white * 0.0990460;
        b[1] = 0.96300 * b[1] + white * 0.2965164;
        b[2] = 0.57000 * b[2] + white * 1.0526913;
        v = int16_t(std::lround((b[0] + b[1] + b[2] + white * 0.1848) / pinkGain * rms));
    }
    std::vector<mfcc_t> heard(noise.size() / r->frameShift * r->cepSize);
    std::vector<mfcc_t *> rows = Rows(heard, r->cepSize);
    const int16_t *samples = noise.data();
    size_t left = noise.size();
    int32_t nframes = int32_t(rows.size());
    fe_start_utt(fe);
    fe_process_frames(fe, &samples, &left, rows.data(), &nframes, nullptr);
    fe_free(fe);
    if (nframes < 2 * RoomFrames)
        return false;
    r->room.assign(heard.begin() + long(nframes - RoomFrames) * r->cepSize,
                   heard.begin() + long(nframes) * r->cepSize);
    r->roomEnergy = 0;
    for (int i = 0; i < RoomFrames; i++)
        r->roomEnergy += r->room[size_t(i) * r->cepSize] / RoomFrames;
    return true;
}

// Puts the room, RoomBelowSpeech below the loudest tenth, in place of the
// frames of digital silence.
void FillDigitalSilence(const Recogniser *r, std::vector<mfcc_t> *cepstra)
{
    const std::vector<double> energy = LogEnergy(*cepstra, r->cepSize);
    if (std::none_of(energy.begin(), energy.end(), [](double e) { return e <= DigitalSilence; }))
        return;
    double low = 0, high = 0;
    Tenths(energy, &low, &high);
    const double shift = high - RoomBelowSpeech - r->roomEnergy;
    for (size_t i = 0, k = 0; i < energy.size(); i++) {
        if (energy[i] > DigitalSilence)
            continue;
        const mfcc_t *from = &r->room[k++ % RoomFrames * r->cepSize];
        std::copy(from, from + r->cepSize, cepstra->begin() + long(i * r->cepSize));
        (*cepstra)[i * r->cepSize] += mfcc_t(shift);
    }
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

// The frames of the room heard before the stream that the utterance opens
// with (its start lies before the stream's).
size_t LeadFrames(const Recogniser *r, size_t frames)
{
    if (r->utteranceStart >= 0)
        return 0;
    return std::min(frames,
                    size_t(std::lround(-r->utteranceStart * RecogniserRate / r->frameShift)));
}

// Decodes the utterance as it stands, leaving its cepstra as they are; the
// strings go to r->phrase and r->heard. waited: the silent frames it ends
// with, or -1 when the input stopped.
RecogniserUtterance Decide(Recogniser *r, double end, int waited)
{
    double started = Now();
    std::vector<mfcc_t> cepstra = r->cepstra;
    if (waited > 0 && !r->overlong && !cepstra.empty()) {
        // Decided early, it has heard only the start of the silence the
        // detector waits: the rest is taken to be more of the same. (Its
        // last frame alone, or the room, changed more of the results.)
        const size_t from = cepstra.size() - size_t(waited) * r->cepSize;
        for (int i = 0; waited + i < r->endFrames; i++)
            for (int k = 0; k < r->cepSize; k++)
                cepstra.push_back(cepstra[from + size_t(i % waited) * r->cepSize + k]);
        LengthenEnd(std::max(waited, r->endFrames), r->cepSize, &cepstra);
    }
    FillDigitalSilence(r, &cepstra);
    // Sound from a telephone's band is heard with an upper band made up.
    if (BandMeterNarrow(r->band))
        WidenBand(r->bank, r->cepSize, &cepstra);
    // Each speaker is heard through the frequency scale that fits the model
    // best (applied below, when the cepstra are copied for each pass). In a
    // noisy room the noise, not the voice, decides the fit: the sound is
    // heard as it came.
    const size_t scale =
        r->warps && !cepstra.empty() && Spread(LogEnergy(cepstra, r->cepSize)) >= NoisySpread
            ? SpeakerWarpChoose(r->warp, cepstra)
            : r->warp.factors.size();
    size_t frames = cepstra.size() / r->cepSize;
    r->phrase.clear();
    r->heard.clear();
    double score = 0;
    RecogniserRefusal refusal = RecogniserRefusal::None;
    if (!r->overlong && frames > 0) {
        std::vector<double> energy = LogEnergy(cepstra, r->cepSize);
        const size_t lead = LeadFrames(r, frames);
        int from = 0, to = 0;
        // A speaker from the stream's first moments is a recording cut at
        // the speech: its edges hold the speaker.
        const bool chatter = FindSpeakerInChatter({energy.begin() + long(lead), energy.end()},
                                                  r->options.chatterMargin, &from, &to) &&
                             !(lead > 0 && from == 0);
        from += int(lead), to += int(lead);
        if (waited < 0 && !chatter) { // cut off by the end of the input
            LengthenEnd(0, r->cepSize, &cepstra);
            frames = cepstra.size() / r->cepSize;
            energy = LogEnergy(cepstra, r->cepSize);
        }
        if (chatter) {
            cepstra.erase(cepstra.begin() + size_t(to + 1) * r->cepSize, cepstra.end());
            cepstra.erase(cepstra.begin(), cepstra.begin() + size_t(from) * r->cepSize);
            energy.assign(energy.begin() + from, energy.begin() + to + 1);
            frames = energy.size();
        }
        const double spread = Spread(energy);
        // Each pass normalises the cepstra it is given. The everyday words
        // get them as they are; the phone loop's decoder copies normalised
        // here once already, so that its own normalising takes the mean of
        // the louder frames only: what the scores were tuned with.
        std::vector<mfcc_t> raw = cepstra, normalised = cepstra;
        std::vector<mfcc_t *> normalRows = Rows(normalised, r->cepSize);
        cmn_t *mean = cmn_init(r->cepSize);
        cmn(mean, normalRows.data(), FALSE, static_cast<int32>(normalRows.size()));
        cmn_free(mean);
        std::vector<mfcc_t> loopCepstra = normalised;
        // The said-more check hears the sound as it came: scaled, the words
        // after a command ("bye bye now") can fit a decoy better than the
        // loop, and the check no longer hears the command to refuse it.
        if (r->warps)
            for (std::vector<mfcc_t> *c : {&cepstra, &raw, &loopCepstra})
                SpeakerWarpApply(r->warp, scale, c);
        std::vector<mfcc_t *> loopRows = Rows(loopCepstra, r->cepSize);
        int32_t phones = 0;
        std::vector<Segment> phonePath;
        int looped = 0;
        auto loop = [&] {
            looped = Decode(r->loop, PhoneSearch, loopRows, &phones, nullptr, &phonePath);
        };
        Beside beside(loop);
        std::vector<mfcc_t *> rows = Rows(cepstra, r->cepSize);
        int32_t grammar = 0;
        const char *hyp = nullptr;
        std::vector<Segment> grammarPath;
        const bool decoded = Decode(r->ps, GrammarSearch, rows, &grammar, &hyp, &grammarPath);
        if (decoded)
            r->heard = CleanHyp(hyp);
        // A command is checked twice before the phone loop's score says
        // whether it is needed: for everyday words here, and whether the
        // speaker said more on the phone loop's decoder once the loop is
        // done. (The work splits about evenly over two cores.) Once the check
        // has started, only its thread joins the loop's.
        auto match = r->phrases.find(r->heard);
        const bool heardPhrase = match != r->phrases.end();
        const bool heardCommand = // in no more speech than a command takes
            heardPhrase && LoudFrames(energy) <= CommandLoudFrames;
        bool saidMore = false;
        auto more = [&] {
            beside.Join();
            saidMore = heardCommand && SaidMore(r, std::move(normalised));
        };
        Beside checking(more);
        const bool everyday =
            heardCommand && EverydayWordsFitBetter(r, std::move(raw), spread < NoisySpread);
        checking.Join();
        if (decoded && looped) {
            double perFrame = double(grammar - phones) / frames * r->logBase * ScoreScale;
            perFrame *= std::sqrt(SpreadRef / std::max(spread, MinSpread));
            if (chatter)
                perFrame *= r->options.chatterScale;
            score = std::exp(perFrame < 0 ? perFrame : 0);
        }
        // Amid chatter the silences hold the other voices.
        const bool silence =
            heardCommand && !chatter &&
            SpeechTakenForSilence(grammarPath, phonePath, energy, r->logBase * ScoreScale);
        if (heardPhrase)
            refusal = !heardCommand || saidMore      ? RecogniserRefusal::MoreSpeech
                      : everyday || silence          ? RecogniserRefusal::OtherWords
                      : score < r->options.threshold ? RecogniserRefusal::Score
                                                     : RecogniserRefusal::None;
        if (heardPhrase && refusal == RecogniserRefusal::None)
            r->phrase = match->second;
    }
    RecogniserUtterance u;
    u.phrase = r->phrase.c_str();
    u.heard = r->heard.c_str();
    u.score = score;
    u.threshold = r->options.threshold;
    u.refusal = refusal;
    u.start = std::max(0.0, r->utteranceStart);
    u.end = u.decided = end;
    u.decodeMs = Now() - started;
    return u;
}

// Reports a decided utterance and starts afresh.
void Deliver(Recogniser *r, const RecogniserUtterance &u, RecogniserCallback callback,
             void *context)
{
    r->cepstra.clear();
    r->overlong = false;
    r->holding = false;
    r->earlyFrames = 0, r->earlyDecodes = 0;
    if (callback)
        callback(context, u);
}

// Runs a detector over samples, a frame shift at most: how many frames it
// handed out, into its rows; *count becomes the samples it left.
int32_t Detect(Detector &d, const int16_t *samples, size_t *count)
{
    int32_t nframes = static_cast<int32_t>(d.rows.size());
    fe_process_frames(d.fe, &samples, count, d.rows.data(), &nframes, nullptr);
    return nframes;
}

// One frame shift of samples through the detector. When it hears the
// speech end, a command is taken at once; anything else waits on, in case
// the speaker goes on after a pause ("go ... left"), until ScoredEndFrames
// of silence have passed: speech before then continues the utterance.
void DetectStep(Recogniser *r, const int16_t *samples, size_t count, RecogniserCallback callback,
                void *context)
{
    BandMeterHear(&r->band, samples, count);
    size_t left = count;
    const int32_t nframes = Detect(r->detector, samples, &left);
    r->samplesDone += count - left;
    const bool speech = fe_get_vad_state(r->detector.fe) != 0;
    left = count;
    Detect(r->early, samples, &left); // only its state is wanted
    const bool earlySpeech = fe_get_vad_state(r->early.fe) != 0;
    const bool earlyEnd = r->earlySpeech && !earlySpeech;
    r->earlySpeech = earlySpeech;
    double now = double(r->samplesDone) / RecogniserRate;
    if (speech && !r->inSpeech && !r->holding)
        r->utteranceStart = now - double(nframes) * r->frameShift / RecogniserRate;
    if (nframes > 0 && !r->overlong) {
        const std::vector<mfcc_t> &out = r->detector.out;
        r->cepstra.insert(r->cepstra.end(), out.begin(), out.begin() + nframes * r->cepSize);
        if (now - r->utteranceStart > r->options.maxUtteranceSeconds)
            r->overlong = true, r->cepstra.clear();
    }
    const size_t frames = r->cepstra.size() / r->cepSize;
    if (earlySpeech || r->overlong)
        r->earlyFrames = 0;
    else if (speech && earlyEnd && r->earlyDecodes < MaxEarlyDecodes && frames <= EarlyMaxFrames) {
        r->earlyDecision = Decide(r, now, EarlyEndFrames);
        r->earlyFrames = frames, r->earlyDecodes++;
    }
    if (!speech && r->inSpeech) {
        // The early decision stands when the detector's silence began
        // before it.
        RecogniserUtterance u = r->earlyFrames && r->earlyFrames + r->endFrames >= frames
                                    ? r->earlyDecision
                                    : Decide(r, now, r->endFrames);
        u.end = now;
        r->earlyFrames = 0;
        if (*u.phrase || r->overlong || r->endFrames >= ScoredEndFrames)
            Deliver(r, u, callback, context);
        else
            r->holding = true, r->held = u, r->heldFrames = r->endFrames;
    } else if (r->holding) {
        if (speech)
            r->holding = false; // one utterance with a pause inside
        else if (++r->heldFrames >= ScoredEndFrames)
            Deliver(r, r->held, callback, context);
    }
    r->inSpeech = speech;
}

} // namespace

namespace {

// A decoder over the model, starting from the small dictionary when there
// is one (the phrases' words are looked up and added when the phrases are
// set), or from none.
ps_decoder_t *NewDecoder(const RecogniserOptions &options, bool withWords)
{
    const std::string &startDict =
        options.ownDictPath.empty() ? options.dictPath : options.ownDictPath;
    char weight[32], endFrames[32];
    std::snprintf(weight, sizeof weight, "%.9g", options.languageWeight);
    // The detector counts frames of ten milliseconds.
    std::snprintf(endFrames, sizeof endFrames, "%ld",
                  std::max(1L, std::lround(options.endSilenceSeconds * 100)));
    cmd_ln_t *config = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", options.modelDir.c_str(),
                                   "-dict", startDict.c_str(), "-lw", weight, "-allphone_ci", "yes",
                                   "-vad_postspeech", endFrames, nullptr);
    if (!config)
        return nullptr;
    if (!withWords)
        cmd_ln_set_str_r(config, "-dict", nullptr); // the phone loop needs none
    ps_decoder_t *ps = ps_init(config);
    cmd_ln_free_r(config); // the decoder keeps its own reference
    return ps;
}

// The front end's frame layout and the score base, as the decoder set them.
void ReadDecoderLayout(Recogniser *r)
{
    cmd_ln_t *used = ps_get_config(r->ps);
    r->frameShift = static_cast<int>(
        std::lround(cmd_ln_float32_r(used, "-samprate") / double(cmd_ln_int32_r(used, "-frate"))));
    r->maxPrespeech = cmd_ln_int32_r(used, "-vad_prespeech") + 1;
    r->endFrames = cmd_ln_int32_r(used, "-vad_postspeech");
    r->cepSize = cmd_ln_int32_r(used, "-ceplen");
    r->logBase = std::log(logmath_get_base(ps_get_logmath(r->ps)));
    const char *transform = cmd_ln_str_r(used, "-transform");
    if (transform && std::strcmp(transform, "dct") == 0) {
        r->bank.lowerHz = cmd_ln_float32_r(used, "-lowerf");
        r->bank.upperHz = cmd_ln_float32_r(used, "-upperf");
        r->bank.lifter = cmd_ln_int32_r(used, "-lifter");
        r->bank.filters = cmd_ln_int32_r(used, "-nfilt");
    }
}

} // namespace

Recogniser *RecogniserCreate(const RecogniserOptions &options)
{
    if (!std::getenv("NELKO_RECOGNISER_LOG"))
        err_set_logfp(nullptr);
    ps_decoder_t *ps = NewDecoder(options, true);
    if (!ps)
        return nullptr;
    Recogniser *r = new Recogniser;
    r->ps = ps;
    r->loop = NewDecoder(options, false);
    r->options = options;
    ReadDecoderLayout(r);
    r->warps = SpeakerWarpLoad(options.modelDir, r->bank, r->cepSize, &r->warp);
    if (!r->loop || !NewDetectors(r) || r->frameShift <= 0 || !HearRoom(r) ||
        ps_set_allphone(r->loop, PhoneSearch, nullptr) < 0 ||
        !RecogniserSetPhrases(r, {}, nullptr)) {
        RecogniserDestroy(r);
        return nullptr;
    }
    return r;
}

void RecogniserUpdate(Recogniser *r, const RecogniserOptions &options)
{
    r->options.threshold = options.threshold;
    r->options.maxUtteranceSeconds = options.maxUtteranceSeconds;
}

void RecogniserDestroy(Recogniser *r)
{
    if (!r)
        return;
    FreeDetectors(r);
    if (r->loop) {
        // The phone loop keeps its last best path until its next backtrace
        // and never frees it: an empty utterance makes it let go.
        if (ps_set_search(r->loop, PhoneSearch) >= 0 && ps_start_utt(r->loop) >= 0) {
            ps_end_utt(r->loop);
            ps_get_hyp(r->loop, nullptr);
        }
        ps_free(r->loop);
    }
    if (r->ps)
        ps_free(r->ps);
    delete r;
}

namespace {

// Pronunciations for the words the decoder lacks: the project's own
// dictionary first, then the large one.
void AddPronunciations(Recogniser *r, const std::vector<std::string> &words)
{
    std::vector<std::string> missing;
    for (const std::string &w : words)
        if (!r->decoderWords.count(w) && !WordKnown(r->ps, w))
            missing.push_back(w);
    std::vector<Pronunciation> found;
    if (!missing.empty() && !r->options.ownDictPath.empty())
        LookUpWords(r->options.ownDictPath.c_str(), missing, &found);
    std::set<std::string> fromOwn;
    for (const Pronunciation &p : found)
        fromOwn.insert(p.word.substr(0, p.word.find('(')));
    std::vector<std::string> rest;
    for (const std::string &w : missing)
        if (!fromOwn.count(w))
            rest.push_back(w);
    if (!rest.empty() && !r->options.dictPath.empty())
        LookUpWords(r->options.dictPath.c_str(), rest, &found);
    for (const Pronunciation &p : found)
        if (ps_add_word(r->ps, p.word.c_str(), p.phones.c_str(), FALSE) >= 0)
            r->decoderWords.insert(p.word.substr(0, p.word.find('(')));
}

bool Known(Recogniser *r, const std::string &word)
{
    return r->decoderWords.count(word) || WordKnown(r->ps, word);
}

// The phrases whose words are all pronounceable, as words, each mapped from
// its joined words to the phrase as given; their words become decoys.
struct Usable {
    std::vector<std::vector<std::string>> words;
    std::map<std::string, std::string> phrases;
    std::vector<std::string> decoys;
};

Usable UsablePhrases(Recogniser *r, const std::vector<std::string> &phrases,
                     const std::vector<std::vector<std::string>> &phraseWords,
                     std::vector<std::string> *unknownWords)
{
    Usable usable;
    for (size_t i = 0; i < phrases.size(); i++) {
        bool ok = !phraseWords[i].empty();
        std::string joined;
        for (const std::string &w : phraseWords[i]) {
            if (!Known(r, w)) {
                ok = false;
                if (unknownWords)
                    unknownWords->push_back(w);
            }
            joined += (joined.empty() ? "" : " ") + w;
        }
        if (!ok)
            continue;
        usable.words.push_back(phraseWords[i]);
        usable.phrases.emplace(joined, phrases[i]);
        for (const std::string &w : phraseWords[i])
            usable.decoys.push_back(w);
    }
    for (const std::string &d : r->options.decoys)
        if (Known(r, d))
            usable.decoys.push_back(d);
    return usable;
}

// Makes fsg the decoder's search of that name, searched with its own beams
// (0: the decoder's): the search takes them from the configuration as it is
// made, and the configuration keeps the decoder's own. Frees fsg.
bool AddSearch(ps_decoder_t *ps, const char *search, fsg_model_t *fsg, double beam,
               double wordBeam = 0)
{
    cmd_ln_t *config = ps_get_config(ps);
    const char *const names[] = {"-beam", "-pbeam", "-wbeam"};
    const double wanted[] = {beam, beam, wordBeam};
    double own[3];
    for (int i = 0; i < 3; i++) {
        own[i] = cmd_ln_float_r(config, names[i]);
        if (wanted[i] > 0)
            cmd_ln_set_float_r(config, names[i], wanted[i]);
    }
    const int result = ps_set_fsg(ps, search, fsg);
    for (int i = 0; i < 3; i++)
        cmd_ln_set_float_r(config, names[i], own[i]);
    fsg_model_free(fsg);
    return result >= 0;
}

// Makes the grammar the decoder's search of that name, searched with the
// given beam (0: the decoder's own). Parsed here rather than by
// ps_set_jsgf_string, which never frees the parsed grammar.
bool SetGrammar(ps_decoder_t *ps, const char *search, const std::string &grammar, double beam = 0)
{
    jsgf_t *jsgf = jsgf_parse_string(grammar.c_str(), nullptr);
    if (!jsgf)
        return false;
    bool set = false;
    if (jsgf_rule_t *rule = jsgf_get_public_rule(jsgf))
        if (fsg_model_t *fsg = jsgf_build_fsg(jsgf, rule, ps_get_logmath(ps),
                                              cmd_ln_float32_r(ps_get_config(ps), "-lw")))
            set = AddSearch(ps, search, fsg, beam);
    jsgf_grammar_free(jsgf);
    return set;
}

// The grammar (a command or a decoy) and beside it the everyday words: one
// in place of a command's first or last word ("about that", "go away"), or
// one alone; each costs cost (a probability). Built as a graph, as the
// grammar's parser takes no list that long. State 0 starts and 1 ends; an
// everyday word leads from the start to AfterWord, where the commands' last
// words go on to the end, or from BeforeWord, which their first words
// reach, to the end.
bool SetEverydaySearch(Recogniser *r, const Usable &usable, const char *search, double cost)
{
    std::set<std::vector<std::string>> commands(usable.words.begin(), usable.words.end());
    commands.erase(std::vector<std::string>());
    std::set<std::string> decoys(usable.decoys.begin(), usable.decoys.end()), firsts, lasts;
    enum : int32 { Start, End, AfterWord, BeforeWord, Fixed };
    int32 states = Fixed;
    for (const std::vector<std::string> &c : commands) {
        states += int32(c.size()) - 1;
        firsts.insert(c.front());
        lasts.insert(c.back());
        if (c.size() == 1)
            decoys.erase(c.front());
    }
    logmath_t *lmath = ps_get_logmath(r->ps);
    fsg_model_t *fsg =
        fsg_model_init(search, lmath, cmd_ln_float32_r(ps_get_config(r->ps), "-lw"), states);
    fsg->start_state = Start;
    fsg->final_state = End;
    auto add = [fsg](int32 from, int32 to, int32 logp, const std::string &word) {
        fsg_model_trans_add(fsg, from, to, logp, fsg_model_word_add(fsg, word.c_str()));
    };
    int32 next = Fixed;
    for (const std::vector<std::string> &c : commands)
        for (size_t k = 0, from = Start; k < c.size(); k++) {
            const int32 to = k + 1 == c.size() ? End : next++;
            add(int32(from), to, 0, c[k]);
            from = size_t(to);
        }
    for (const std::string &d : decoys)
        add(Start, End, 0, d);
    const int32 logCost = logmath_log(lmath, cost);
    for (const std::string &w : r->options.everydayWords)
        if (Known(r, w)) {
            add(Start, AfterWord, logCost, w);
            add(BeforeWord, End, logCost, w);
        }
    for (const std::string &w : lasts)
        add(AfterWord, End, 0, w);
    for (const std::string &w : firsts)
        add(Start, BeforeWord, 0, w);
    fsg_model_null_trans_add(fsg, AfterWord, End, 0);
    glist_free(fsg_model_null_trans_closure(fsg, nullptr));
    const double beam = cost * EverydayBeamBeyondCost;
    return AddSearch(r->ps, search, fsg, beam, beam);
}

// Gives the phone loop's decoder the pronunciations the grammar's has of the
// phrases' words and the decoys, every variant ("word(2)") of each.
void CopyPronunciations(Recogniser *r, const Usable &usable)
{
    std::vector<std::string> words = usable.decoys;
    for (const std::vector<std::string> &phrase : usable.words)
        words.insert(words.end(), phrase.begin(), phrase.end());
    for (const std::string &w : words)
        for (int n = 1;; n++) {
            const std::string variant = n == 1 ? w : w + "(" + std::to_string(n) + ")";
            if (WordKnown(r->loop, variant))
                continue;
            char *phones = ps_lookup_word(r->ps, variant.c_str());
            if (!phones)
                break;
            ps_add_word(r->loop, variant.c_str(), phones, FALSE);
            ckd_free(phones);
        }
}

// The grammar with the phone loop allowed before and after its utterance.
std::string InsidePhoneLoop(Recogniser *r, const std::string &grammar)
{
    const std::string head = "public <utterance> = ";
    size_t at = grammar.find(head);
    size_t end = grammar.find(";\n", at);
    if (at == std::string::npos || end == std::string::npos)
        return grammar;
    char weight[32];
    std::snprintf(weight, sizeof weight, "/%g/ ", r->options.loopPhoneWeight);
    std::string phones;
    for (const char *phone : LoopPhones) {
        std::string word = LoopWordPrefix;
        for (const char *c = phone; *c; c++)
            word += static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
        if (!WordKnown(r->loop, word))
            ps_add_word(r->loop, word.c_str(), phone, FALSE);
        phones += (phones.empty() ? "" : " | ") + std::string(weight) + word;
    }
    std::string inner = grammar.substr(at + head.size(), end - at - head.size());
    return grammar.substr(0, at) + head + "[<loop>] (" + inner + ") [<loop>]" +
           grammar.substr(end) + "<loop> = <phone>+;\n<phone> = " + phones + ";\n";
}

} // namespace

int RecogniserSetPhrases(Recogniser *r, const std::vector<std::string> &phrases,
                         std::vector<std::string> *unknownWords)
{
    std::vector<std::vector<std::string>> phraseWords;
    std::vector<std::string> words = r->options.decoys;
    words.insert(words.end(), r->options.everydayWords.begin(), r->options.everydayWords.end());
    for (const std::string &phrase : phrases) {
        phraseWords.push_back(PhraseWords(phrase));
        for (const std::string &w : phraseWords.back())
            words.push_back(w);
    }
    AddPronunciations(r, words);
    Usable usable = UsablePhrases(r, phrases, phraseWords, unknownWords);
    std::string grammar = BuildGrammar(usable.words, usable.decoys);
    CopyPronunciations(r, usable);
    if (!SetGrammar(r->ps, GrammarSearch, grammar) ||
        !SetGrammar(r->loop, SpeechSearch, InsidePhoneLoop(r, grammar), CheckBeam) ||
        !(r->options.everydayWords.empty() ||
          (SetEverydaySearch(r, usable, EverydaySearch, r->options.everydayWordCost) &&
           SetEverydaySearch(r, usable, NoisyEverydaySearch, r->options.noisyEverydayWordCost))))
        return 0;
    r->phrases = std::move(usable.phrases);
    return 1;
}

namespace {

// Whole frame shifts through the detector; the rest waits for more.
void FeedSteps(Recogniser *r, const int16_t *samples, size_t count, RecogniserCallback callback,
               void *context)
{
    const size_t shift = static_cast<size_t>(r->frameShift);
    while (count > 0) {
        if (!r->pending.empty() || count < shift) {
            size_t take = std::min(count, shift - r->pending.size());
            r->pending.insert(r->pending.end(), samples, samples + take);
            samples += take, count -= take;
            if (r->pending.size() == shift) {
                std::vector<int16_t> step;
                step.swap(r->pending);
                DetectStep(r, step.data(), step.size(), callback, context);
            }
            continue;
        }
        DetectStep(r, samples, shift, callback, context);
        samples += shift, count -= shift;
    }
}

// The detector's noise estimate starts from its first frame, taken to be far
// above the noise, so the opening of a stream would count as speech until
// the estimate settles. A fresh detector therefore listens to the opening
// once, forgets what it decided, and then hears the stream from its start
// with the noise level it has learnt.
void WarmUp(Recogniser *r)
{
    const size_t shift = static_cast<size_t>(r->frameShift);
    for (Detector *d : {&r->detector, &r->early}) {
        for (size_t at = 0; at + shift <= r->opening.size(); at += shift) {
            size_t left = shift;
            Detect(*d, &r->opening[at], &left);
        }
        fe_start_utt(d->fe);
    }
    r->warm = true;
}

// The quietest RoomSamples of the opening.
std::vector<int16_t> QuietestStretch(const std::vector<int16_t> &opening)
{
    const size_t n = std::min(RoomSamples, opening.size());
    size_t best = 0;
    double bestEnergy = HUGE_VAL, energy = 0;
    for (size_t i = 0; i < opening.size(); i++) {
        energy += double(opening[i]) * opening[i];
        if (i >= n)
            energy -= double(opening[i - n]) * opening[i - n];
        if (i + 1 >= n && energy < bestEnergy)
            bestEnergy = energy, best = i + 1 - n;
    }
    return {opening.begin() + long(best), opening.begin() + long(best + n)};
}

// Warms the detectors up on the opening, lets them hear the room when the
// stream starts loud (see RoomLeadSeconds), and then the stream from its
// start, whose time starts after the room.
void Open(Recogniser *r, RecogniserCallback callback, void *context)
{
    WarmUp(r);
    std::vector<int16_t> opening, room = QuietestStretch(r->opening), sound;
    opening.swap(r->opening);
    auto power = [](const int16_t *s, size_t n) {
        double sum = 0;
        for (size_t i = 0; i < n; i++)
            sum += double(s[i]) * s[i];
        return sum / double(std::max<size_t>(n, 1));
    };
    const bool loudStart = power(opening.data(), std::min(opening.size(), LoudStartSamples)) >
                           power(room.data(), room.size()) * LoudStartRatio + 1;
    const size_t want = loudStart ? size_t(RoomLeadSeconds * RecogniserRate) : 0;
    for (bool back = false; sound.size() < want; back = !back)
        if (back)
            sound.insert(sound.end(), room.rbegin(), room.rend());
        else
            sound.insert(sound.end(), room.begin(), room.end());
    sound.resize(want);
    FeedSteps(r, sound.data(), sound.size(), callback, context);
    r->samplesDone = 0;
    FeedSteps(r, opening.data(), opening.size(), callback, context);
}

} // namespace

void RecogniserFeed(Recogniser *r, const int16_t *samples, size_t count,
                    RecogniserCallback callback, void *context)
{
    if (!r->detector.fe || !r->early.fe)
        return;
    if (r->warm) {
        FeedSteps(r, samples, count, callback, context);
        return;
    }
    r->opening.insert(r->opening.end(), samples, samples + count);
    if (r->opening.size() >= WarmUpSamples)
        Open(r, callback, context);
}

void RecogniserFlush(Recogniser *r, RecogniserCallback callback, void *context)
{
    if (!r->detector.fe || !r->early.fe)
        return;
    if (!r->warm && !r->opening.empty())
        Open(r, callback, context);
    if (!r->pending.empty()) {
        std::vector<int16_t> step;
        step.swap(r->pending);
        step.resize(r->frameShift, 0);
        DetectStep(r, step.data(), step.size(), callback, context);
    }
    if (r->inSpeech)
        Deliver(r, Decide(r, double(r->samplesDone) / RecogniserRate, -1), callback, context);
    else if (r->holding)
        Deliver(r, r->held, callback, context);
    // A new stream starts with detectors that have heard nothing yet.
    FreeDetectors(r);
    NewDetectors(r);
    r->warm = false;
    r->inSpeech = false;
    r->overlong = false;
    r->cepstra.clear();
    r->earlyFrames = 0, r->earlyDecodes = 0;
    r->samplesDone = 0;
    r->band = BandMeter();
}

int RecogniserInSpeech(const Recogniser *r)
{
    return r->inSpeech;
}
