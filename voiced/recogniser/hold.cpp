// Hold mode: a key's hold, decided on its sound up to its last speech and a
// trailing stretch. The measure that finds the speech is causal (a frame is
// judged on the frames up to it), so a hold that has ended in that stretch
// of silence is decided while the key is still held, and the same samples,
// hence the same decision, are what the whole hold is decided on.
#include "voiced/recogniser/hold.h"
#include "voiced/recogniser/decide.h"
#include "voiced/recogniser/decoder.h"
#include "voiced/recogniser/stream.h"
#include <algorithm>
#include <cmath>

namespace {

// The speech measure: each 10 ms frame's power, averaged over the last
// SmoothFrames, is speech when its level is SpeechDb above the quietest
// such level so far. It errs towards speech (a noisy room's swings, chatter,
// a breath), which only keeps more of the hold; what it must not miss is the
// end of a word, which the trailing stretch covers.
constexpr size_t MeasureFrame = RecogniserRate / 100;
constexpr size_t SmoothFrames = 5;
constexpr double SpeechDb = 10;

const size_t TrailSamples = size_t(RecogniserHoldTrailSeconds * RecogniserRate);

// Takes in the whole frames fed since the last call.
void Measure(HeldSound *h)
{
    while (h->measured + MeasureFrame <= h->samples.size()) {
        const int16_t *frame = &h->samples[h->measured];
        double sum = 0;
        for (size_t i = 0; i < MeasureFrame; i++)
            sum += double(frame[i]) * frame[i];
        h->recent.push_back(sum / MeasureFrame);
        if (h->recent.size() > SmoothFrames)
            h->recent.pop_front();
        double power = 0;
        for (double p : h->recent)
            power += p / double(h->recent.size());
        const double level = 10 * std::log10(power + 1);
        h->floor = std::min(h->floor, level);
        h->measured += MeasureFrame;
        if (level > h->floor + SpeechDb)
            h->speechEnd = h->measured;
    }
}

bool Settled(const HeldSound &h)
{
    return h.speechEnd > 0 && h.measured >= h.speechEnd + TrailSamples;
}

// Every frame of a hold's samples into r->cepstra, through a front end that
// has heard them once (as a stream's detector hears its opening) to learn
// the room's noise: false when there is no front end.
bool HoldFrames(Recogniser *r, const int16_t *samples, size_t count)
{
    fe_t *fe = NewFrontEnd(r, "-remove_silence", FALSE);
    if (!fe)
        return false;
    std::vector<mfcc_t> out((count / r->frameShift + 2) * r->cepSize);
    std::vector<mfcc_t *> rows = Rows(out, r->cepSize);
    int32_t nframes = 0;
    for (int pass = 0; pass < 2; pass++) {
        fe_start_utt(fe);
        const int16_t *from = samples;
        size_t left = count;
        nframes = int32_t(rows.size());
        fe_process_frames(fe, &from, &left, rows.data(), &nframes, nullptr);
    }
    fe_free(fe);
    r->cepstra.assign(out.begin(), out.begin() + long(nframes) * r->cepSize);
    return true;
}

// The first count samples of the hold decoded whole, every frame of them.
Decision DecideHold(Recogniser *r, size_t count)
{
    const int16_t *samples = r->hold.samples.data();
    const double seconds = double(count) / RecogniserRate;
    r->band = BandMeter();
    BandMeterHear(&r->band, samples, count);
    r->utteranceStart = 0;
    r->overlong = seconds > r->options.maxUtteranceSeconds || !HoldFrames(r, samples, count);
    if (r->overlong)
        r->cepstra.clear();
    Decision d = Decide(r, seconds, -1);
    r->band = BandMeter();
    r->cepstra.clear();
    r->overlong = false;
    return d;
}

} // namespace

size_t HoldDecidedLength(const HeldSound &h)
{
    return h.speechEnd > 0 ? std::min(h.samples.size(), h.speechEnd + TrailSamples)
                           : h.samples.size();
}

void RecogniserHoldBegin(Recogniser *r)
{
    r->hold = HeldSound();
}

void RecogniserHoldFeed(Recogniser *r, const int16_t *samples, size_t count)
{
    if (r->options.listen != RecogniserListen::Hold)
        return;
    HeldSound &h = r->hold;
    h.samples.insert(h.samples.end(), samples, samples + count);
    Measure(&h);
    const size_t length = HoldDecidedLength(h);
    if (Settled(h) && !(h.decided && h.decidedLength == length)) {
        h.decision = DecideHold(r, length);
        h.decided = true, h.decidedLength = length;
    }
}

int RecogniserHoldSettled(const Recogniser *r)
{
    return r->options.listen == RecogniserListen::Hold && Settled(r->hold);
}

void RecogniserHoldEnd(Recogniser *r, RecogniserCallback callback, void *context)
{
    if (r->options.listen != RecogniserListen::Hold)
        return;
    HeldSound &h = r->hold;
    const size_t length = HoldDecidedLength(h);
    Decision d =
        h.decided && h.decidedLength == length ? std::move(h.decision) : DecideHold(r, length);
    d.utterance.end = double(h.samples.size()) / RecogniserRate;
    r->hold = HeldSound();
    RecogniserUtterance u = d.utterance;
    u.phrase = d.phrase.c_str();
    u.heard = d.heard.c_str();
    if (callback)
        callback(context, u);
}

void RecogniserFeedHeld(Recogniser *r, const int16_t *samples, size_t count,
                        RecogniserCallback callback, void *context)
{
    if (r->options.listen != RecogniserListen::Hold) {
        RestartStream(r);
        RecogniserFeed(r, samples, count, callback, context);
        RecogniserFlush(r, callback, context);
        return;
    }
    RecogniserHoldBegin(r);
    RecogniserHoldFeed(r, samples, count);
    RecogniserHoldEnd(r, callback, context);
}
