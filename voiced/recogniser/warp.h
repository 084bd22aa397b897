// The speaker's vocal tract: a child's formants lie well above an adult
// man's, a deep voice's below, and the acoustic model learned adults
// between. Each utterance is heard through the frequency scale that its
// loud frames fit the model's sounds best with, found over a few scales;
// in a noisy room the caller keeps scale 1.
#pragma once
#include "voiced/recogniser/band.h"
#include <string>
#include <vector>

struct SpeakerWarp {
    int cepSize = 0, codebooks = 0, densities = 0; // densities per codebook
    // Every density of every codebook: its mean and half its inverse
    // variance over the cepstra ([codebook][cepstrum][density]), and its log
    // normaliser ([codebook][density]).
    std::vector<float> mean, halfInverse, norm;
    std::vector<double> factors;             // the scales tried, 1 among them
    std::vector<std::vector<double>> matrix; // per scale, cepSize x cepSize
    // Per scale, the smoothing its interpolation between filters brings
    // without the shift: a scale is weighed by what it fits better than that.
    std::vector<std::vector<double>> smoothing;
};

// Reads the model's densities over the cepstra (MODEL/means and
// MODEL/variances, whose first stream they are); false when the model or the
// filter bank is not one this can warp.
bool SpeakerWarpLoad(const std::string &modelDir, const FilterBank &bank, int cepSize,
                     SpeakerWarp *w);

// The scale the utterance's loud frames fit best, adults' voices (scale 1)
// favoured when the frames say little: an index into factors.
size_t SpeakerWarpChoose(const SpeakerWarp &w, const std::vector<mfcc_t> &cepstra);

// The cepstra heard through scale index.
void SpeakerWarpApply(const SpeakerWarp &w, size_t index, std::vector<mfcc_t> *cepstra);
