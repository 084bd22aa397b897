// Speech through a telephone's band: a link or a recording sampled at
// 8 kHz (a headset's hands-free link, a phone call) holds nothing above
// 4 kHz, where the acoustic model learned the hiss of "s" and the bursts of
// "t" and "k". The meter tells such sound from full-band sound; WidenBand
// gives the decoder an upper band that follows the band below it.
#pragma once
#include <sphinxbase/fe.h>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

// Each block's power, and the share of it above the telephone band (dB),
// for the last blocks heard, newest last; and blocks kept to be measured.
struct BandMeter {
    std::vector<double> before; // the samples before the oldest block not measured
    std::deque<float> power, upperShare;
    std::deque<std::vector<int16_t>> kept; // not measured yet, oldest first
};

// Measures one block (a frame shift) of 16 kHz samples, after any kept.
void BandMeterHear(BandMeter *m, const int16_t *samples, size_t count);

// Keeps a block to be measured only when it is needed (BandMeterCatchUp):
// a stream's blocks between utterances are measured only when speech
// follows within the meter's ten seconds, and then alike.
void BandMeterKeep(BandMeter *m, const int16_t *samples, size_t count);

// Measures the blocks kept.
void BandMeterCatchUp(BandMeter *m);

// Whether the loud blocks of the last ten seconds all lack the upper band
// (those measured: catch up first).
bool BandMeterNarrow(const BandMeter &m);

// The front end's filters, as its configuration sets them; filters is 0
// when its cepstra are not an orthonormal transform of their log energies.
struct FilterBank {
    double lowerHz = 0, upperHz = 0, lifter = 0;
    int filters = 0;
};

// The centre of each filter (Hz), lowest first.
std::vector<double> FilterCentres(const FilterBank &bank);

// The linear map of a frame's cepstra (cepSize x cepSize, row-major) that
// gives filter j the log energy sum over k of mix[j * filters + k] times
// filter k's (the cepstra keep a smoothed log energy, their inverse
// transform).
std::vector<double> CepstralMap(const FilterBank &bank, int cepSize,
                                const std::vector<double> &mix);

// Each frame of the cepstra (cepSize each) through a map of CepstralMap's.
void ApplyCepstralMap(const std::vector<double> &map, int cepSize, std::vector<mfcc_t> *cepstra);

// In each frame, the filters reaching above 4 kHz take the log energy of the
// last one below.
void WidenBand(const FilterBank &bank, int cepSize, std::vector<mfcc_t> *cepstra);
