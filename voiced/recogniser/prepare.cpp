// Preparing an utterance's frames for the decoder's passes.
#include "voiced/recogniser/prepare.h"
#include "voiced/recogniser/decoder.h"
#include <sphinxbase/cmn.h>
#include <algorithm>
#include <cmath>

namespace {

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

} // namespace

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
void Tenths(std::vector<double> energy, double *low, double *high)
{
    const size_t frames = energy.size();
    std::sort(energy.begin(), energy.end());
    size_t tenth = std::max<size_t>(1, frames / 10);
    *low = *high = 0;
    for (size_t i = 0; i < tenth; i++)
        *low += energy[i], *high += energy[frames - 1 - i];
    *low /= tenth, *high /= tenth;
}

// The spread between the loudest and the quietest tenth: about 50 for clean
// speech, 30 at 20 dB and 20 at 10 dB signal to noise.
double Spread(const std::vector<double> &energy)
{
    double low = 0, high = 0;
    Tenths(energy, &low, &high);
    return high - low;
}

namespace {

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

// The frames of the room heard before the stream that the utterance opens
// with (its start lies before the stream's).
size_t LeadFrames(const Recogniser *r, size_t frames)
{
    if (r->utteranceStart >= 0)
        return 0;
    return std::min(frames,
                    size_t(std::lround(-r->utteranceStart * RecogniserRate / r->frameShift)));
}

// Decided early, it has heard only the start of the silence the detector
// waits: the rest is taken to be more of the same. (Its last frame alone,
// or the room, changed more of the results.)
void LengthenWaited(const Recogniser *r, int waited, std::vector<mfcc_t> *cepstra)
{
    const size_t from = cepstra->size() - size_t(waited) * r->cepSize;
    for (int i = 0; waited + i < r->endFrames; i++)
        for (int k = 0; k < r->cepSize; k++)
            cepstra->push_back((*cepstra)[from + size_t(i % waited) * r->cepSize + k]);
    LengthenEnd(std::max(waited, r->endFrames), r->cepSize, cepstra);
}

// Each speaker is heard through the frequency scale that fits the model best
// (an index into the warp's factors; their count for none). In a noisy room
// the noise, not the voice, decides the fit: the sound is heard as it came.
size_t ChooseScale(const Recogniser *r, const std::vector<mfcc_t> &cepstra)
{
    return r->warps && !cepstra.empty() && Spread(LogEnergy(cepstra, r->cepSize)) >= NoisySpread
               ? SpeakerWarpChoose(r->warp, cepstra)
               : r->warp.factors.size();
}

// Amid chatter, only the speaker's loud stretch is kept; an utterance the
// input cut off is lengthened as one decided early is. Sets the frames, the
// chatter, the energies and their spread.
void CutToSpeaker(const Recogniser *r, int waited, std::vector<mfcc_t> *cepstra, PreparedFrames *p)
{
    std::vector<double> energy = LogEnergy(*cepstra, r->cepSize);
    const size_t lead = LeadFrames(r, energy.size());
    int from = 0, to = 0;
    // A speaker from the stream's first moments is a recording cut at the
    // speech: its edges hold the speaker.
    p->chatter = FindSpeakerInChatter({energy.begin() + long(lead), energy.end()},
                                      r->options.chatterMargin, &from, &to) &&
                 !(lead > 0 && from == 0);
    from += int(lead), to += int(lead);
    if (waited < 0 && !p->chatter) { // cut off by the end of the input
        LengthenEnd(0, r->cepSize, cepstra);
        energy = LogEnergy(*cepstra, r->cepSize);
    }
    if (p->chatter) {
        cepstra->erase(cepstra->begin() + size_t(to + 1) * r->cepSize, cepstra->end());
        cepstra->erase(cepstra->begin(), cepstra->begin() + size_t(from) * r->cepSize);
        energy.assign(energy.begin() + from, energy.begin() + to + 1);
    }
    p->frames = energy.size();
    p->spread = Spread(energy);
    p->energy = std::move(energy);
}

// Each pass normalises the cepstra it is given. The everyday words get them
// as they are; the phone loop's decoder copies normalised here once
// already, so that its own normalising takes the mean of the louder frames
// only: what the scores were tuned with. The said-more check hears the
// sound as it came: scaled, the words after a command ("bye bye now") can
// fit a decoy better than the loop, and the check no longer hears the
// command to refuse it.
void CopyForPasses(const Recogniser *r, size_t scale, std::vector<mfcc_t> cepstra,
                   PreparedFrames *p)
{
    std::vector<mfcc_t> normalised = cepstra;
    std::vector<mfcc_t *> rows = Rows(normalised, r->cepSize);
    cmn_t *mean = cmn_init(r->cepSize);
    cmn(mean, rows.data(), FALSE, static_cast<int32>(rows.size()));
    cmn_free(mean);
    p->loop = normalised;
    p->everyday = cepstra;
    p->grammar = std::move(cepstra);
    if (r->warps)
        for (std::vector<mfcc_t> *c : {&p->grammar, &p->everyday, &p->loop})
            SpeakerWarpApply(r->warp, scale, c);
    p->saidMore = std::move(normalised);
}

} // namespace

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

PreparedFrames PrepareFrames(const Recogniser *r, int waited)
{
    PreparedFrames p;
    std::vector<mfcc_t> cepstra = r->cepstra;
    if (r->overlong || cepstra.empty())
        return p;
    if (waited > 0)
        LengthenWaited(r, waited, &cepstra);
    FillDigitalSilence(r, &cepstra);
    // Sound from a telephone's band is heard with an upper band made up.
    if (BandMeterNarrow(r->band))
        WidenBand(r->bank, r->cepSize, &cepstra);
    const size_t scale = ChooseScale(r, cepstra);
    CutToSpeaker(r, waited, &cepstra, &p);
    CopyForPasses(r, scale, std::move(cepstra), &p);
    return p;
}
