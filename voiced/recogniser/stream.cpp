// The stream: two speech detectors over the samples as they come, one
// ending an utterance after the end silence, one sooner so that the
// decoding is done while the silence is waited; the warm-up on a stream's
// opening and the room heard before a loud start; and the holding of an
// utterance that is no command, in case the speaker goes on.
#include "voiced/recogniser/stream.h"
#include "voiced/recogniser/decide.h"
#include "voiced/recogniser/decoder.h"
#include "voiced/recogniser/prepare.h"
#include <algorithm>
#include <cmath>

namespace {

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

} // namespace

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

namespace {

// Reports a decided utterance and starts afresh.
void Deliver(Recogniser *r, const Decision &d, RecogniserCallback callback, void *context)
{
    RecogniserUtterance u = d.utterance;
    u.phrase = d.phrase.c_str();
    u.heard = d.heard.c_str();
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
    size_t left = count;
    const int32_t nframes = Detect(r->detector, samples, &left);
    r->samplesDone += count - left;
    const bool speech = fe_get_vad_state(r->detector.fe) != 0;
    // Between utterances the band's blocks are only kept; in speech they are
    // measured as they come, so that a decision finds them measured.
    if (speech || r->inSpeech || r->holding)
        BandMeterHear(&r->band, samples, count);
    else
        BandMeterKeep(&r->band, samples, count);
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
        Decision d = r->earlyFrames && r->earlyFrames + r->endFrames >= frames
                         ? r->earlyDecision
                         : Decide(r, now, r->endFrames);
        d.utterance.end = now;
        r->earlyFrames = 0;
        if (!d.phrase.empty() || r->overlong || r->endFrames >= ScoredEndFrames)
            Deliver(r, d, callback, context);
        else
            r->holding = true, r->held = std::move(d), r->heldFrames = r->endFrames;
    } else if (r->holding) {
        if (speech)
            r->holding = false; // one utterance with a pause inside
        else if (++r->heldFrames >= ScoredEndFrames)
            Deliver(r, r->held, callback, context);
    }
    r->inSpeech = speech;
}

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

void RestartStream(Recogniser *r)
{
    // A new stream starts with detectors that have heard nothing yet.
    FreeDetectors(r);
    NewDetectors(r);
    r->warm = false;
    r->opening.clear();
    r->pending.clear();
    r->inSpeech = false;
    r->overlong = false;
    r->holding = false;
    r->cepstra.clear();
    r->earlyFrames = 0, r->earlyDecodes = 0;
    r->samplesDone = 0;
    r->band = BandMeter();
}

void RecogniserFeed(Recogniser *r, const int16_t *samples, size_t count,
                    RecogniserCallback callback, void *context)
{
    if (!r->detector.fe || !r->early.fe || r->options.listen == RecogniserListen::Hold)
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
    if (!r->detector.fe || !r->early.fe || r->options.listen == RecogniserListen::Hold)
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
    RestartStream(r);
}

int RecogniserInSpeech(const Recogniser *r)
{
    return r->inSpeech;
}
