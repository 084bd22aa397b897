// Preparing an utterance's frames for the decoder: the silence it waited
// lengthened, digital silence filled with a room, a telephone's band
// widened, the speaker's scale chosen, the speaker's stretch cut from
// chatter, and a copy of the cepstra for each pass.
#pragma once
#include "voiced/recogniser/instance.h"
#include <vector>

// An utterance whose energy spreads less than NoisySpread (log energy) is
// noisy: every word fits it worse, so an everyday word must do better to
// stand for one of a command's, and the noise, not the voice, would choose
// the speaker's scale.
constexpr double NoisySpread = 40;

// The decoder normalises the cepstra over the whole utterance, and the score
// averages over its frames: both were tuned with the detector waiting half a
// second of silence before it ends an utterance. With a shorter wait, the
// silence it waited is repeated up to that length before decoding.
constexpr int ScoredEndFrames = 50;

// The first cepstral coefficient of each frame: its log energy.
std::vector<double> LogEnergy(const std::vector<mfcc_t> &cepstra, int cepSize);
// The mean log energy of the quietest and of the loudest tenth of the frames.
void Tenths(std::vector<double> energy, double *low, double *high);
// The spread between the loudest and the quietest tenth: about 50 for clean
// speech, 30 at 20 dB and 20 at 10 dB signal to noise.
double Spread(const std::vector<double> &energy);

// Whether the utterance is a speaker amid chatter (its edges loud and
// uneven, their loudest within margin of its peak); if so, *from and *to are
// the speaker's first and last frame.
bool FindSpeakerInChatter(const std::vector<double> &energy, double margin, int *from, int *to);

// Hears the quiet room that digital silence is decoded as (r->room).
bool HearRoom(Recogniser *r);

// The utterance as each pass hears it.
struct PreparedFrames {
    size_t frames = 0; // 0: nothing to decode (none, or longer than an utterance may be)
    bool chatter = false;
    std::vector<double> energy; // per frame, as decoded
    double spread = 0;
    // The grammar's and the phone loop's, through the speaker's scale; the
    // everyday words' alike; the said-more check's, as the sound came.
    std::vector<mfcc_t> grammar, loop, everyday, saidMore;
};

// The current utterance (r->cepstra, left as it is) prepared. waited: the
// silent frames it ends with, or -1 when the input stopped.
PreparedFrames PrepareFrames(const Recogniser *r, int waited);
