// The telephone band: telling it, and widening it for the decoder.
#include "voiced/recogniser/band.h"
#include "common/angles.h"
#include <algorithm>
#include <array>
#include <cmath>

namespace {

constexpr double Rate = 16000;
constexpr double TelephoneTopHz = 4000; // half of an 8 kHz sampling rate

// The meter's high-pass filter: 63 taps of a Blackman-windowed sinc with its
// cutoff at 4.6 kHz, down more than 70 dB below 3.9 kHz (where a resampler
// from 8 kHz leaves its last sound) and flat above 5.3 kHz.
constexpr int Taps = 63;
constexpr double CutoffHz = 4600;

// A block is loud within LoudRange (dB) of the loudest of the last ten
// seconds; with none above SilentPower, there is nothing to tell. In the
// tuning recordings, full-band speech has a loud block at most 26 dB down
// above the band (its bursts and hisses), sound from 8 kHz none less than 45
// dB down. The limit lies nearer the telephone's side: widening costs
// full-band speech more than it gains telephone speech. (A voice with little
// treble saying only vowels and glides, "run away", can fall below it.)
constexpr double LoudRange = 30;
constexpr double SilentPower = 100; // -70 dBFS
constexpr double NarrowShare = -40;

// The most blocks kept: longer than any utterance is taken.
constexpr size_t KeptBlocks = 1000;

const std::array<double, Taps> &HighPass()
{
    static const std::array<double, Taps> taps = [] {
        std::array<double, Taps> h{};
        const double fc = CutoffHz / Rate;
        for (int i = 0; i < Taps; i++) {
            const double n = i - (Taps - 1) / 2.0;
            const double sinc = n == 0 ? 2 * fc : std::sin(2 * Pi * fc * n) / (Pi * n);
            const double window = 0.42 - 0.5 * std::cos(2 * Pi * i / (Taps - 1)) +
                                  0.08 * std::cos(4 * Pi * i / (Taps - 1));
            h[size_t(i)] = -sinc * window;
        }
        h[(Taps - 1) / 2] += 1;
        return h;
    }();
    return taps;
}

double Mel(double hz)
{
    return 2595 * std::log10(1 + hz / 700);
}

double Hz(double mel)
{
    return 700 * (std::pow(10, mel / 2595) - 1);
}

} // namespace

namespace {

// Measures a block after the samples in m->before.
void Measure(BandMeter *m, const int16_t *samples, size_t count)
{
    const std::array<double, Taps> &h = HighPass();
    // The samples before the block, then the block: kept in one buffer that
    // keeps its room from block to block.
    std::vector<double> &x = m->before;
    if (x.empty()) // the stream starts after silence
        x.assign(Taps - 1, 0.0);
    x.insert(x.end(), samples, samples + count);
    // Both powers over the samples the filter's output is centred on.
    double all = 0, upper = 0;
    for (size_t n = Taps - 1; n < x.size(); n++) {
        double y = 0;
        for (size_t k = 0; k < Taps; k++)
            y += h[k] * x[n - k];
        const double centre = x[n - (Taps - 1) / 2];
        all += centre * centre, upper += y * y;
    }
    x.erase(x.begin(), x.end() - (Taps - 1));
    const double blockSize = double(std::max<size_t>(count, 1));
    m->power.push_back(float(all / blockSize));
    m->upperShare.push_back(float(10 * std::log10((upper + 1e-3) / (all + 1e-3))));
    if (m->power.size() > KeptBlocks)
        m->power.pop_front(), m->upperShare.pop_front();
}

} // namespace

void BandMeterHear(BandMeter *m, const int16_t *samples, size_t count)
{
    BandMeterCatchUp(m);
    Measure(m, samples, count);
}

void BandMeterKeep(BandMeter *m, const int16_t *samples, size_t count)
{
    m->kept.emplace_back(samples, samples + count);
    if (m->kept.size() + m->power.size() <= KeptBlocks)
        return;
    if (!m->power.empty()) {
        m->power.pop_front(), m->upperShare.pop_front();
        return;
    }
    // The oldest kept block goes unmeasured: the filter's history is its end.
    std::vector<double> &x = m->before;
    if (x.empty())
        x.assign(Taps - 1, 0.0);
    x.insert(x.end(), m->kept.front().begin(), m->kept.front().end());
    x.erase(x.begin(), x.end() - (Taps - 1));
    m->kept.pop_front();
}

void BandMeterCatchUp(BandMeter *m)
{
    for (; !m->kept.empty(); m->kept.pop_front())
        Measure(m, m->kept.front().data(), m->kept.front().size());
}

bool BandMeterNarrow(const BandMeter &m)
{
    if (m.power.empty())
        return false;
    const float loudest = *std::max_element(m.power.begin(), m.power.end());
    if (loudest < SilentPower)
        return false;
    const double loud = loudest * std::pow(10, -LoudRange / 10);
    for (size_t i = 0; i < m.power.size(); i++)
        if (m.power[i] >= loud && m.upperShare[i] >= NarrowShare)
            return false;
    return true;
}

std::vector<double> FilterCentres(const FilterBank &bank)
{
    const int n = bank.filters;
    const double step = (Mel(bank.upperHz) - Mel(bank.lowerHz)) / (n + 1);
    std::vector<double> centres;
    for (int j = 0; j < n; j++)
        centres.push_back(Hz(Mel(bank.lowerHz) + (j + 1) * step));
    return centres;
}

std::vector<double> CepstralMap(const FilterBank &bank, int cepSize, const std::vector<double> &mix)
{
    const int n = bank.filters;
    auto lift = [&](int i) {
        return bank.lifter > 0 ? 1 + bank.lifter / 2 * std::sin(i * Pi / bank.lifter) : 1.0;
    };
    // A filter's log energy from the cepstra (the inverse of the
    // orthonormal transform), and back.
    auto energy = [&](int j, int i) {
        return (i == 0 ? std::sqrt(0.5) : std::cos(Pi / n * i * (j + 0.5))) / lift(i) *
               std::sqrt(2.0 / n);
    };
    auto back = [&](int i, int j) {
        return std::cos(Pi / n * i * (j + 0.5)) * std::sqrt((i == 0 ? 1.0 : 2.0) / n) * lift(i);
    };
    std::vector<double> map(size_t(cepSize * cepSize), 0.0);
    for (int j = 0; j < n; j++)
        for (int from = 0; from < n; from++) {
            const double share = mix[size_t(j * n + from)];
            if (share == 0)
                continue;
            for (int i = 0; i < cepSize; i++)
                for (int k = 0; k < cepSize; k++)
                    map[size_t(i * cepSize + k)] += back(i, j) * share * energy(from, k);
        }
    return map;
}

void ApplyCepstralMap(const std::vector<double> &map, int cepSize, std::vector<mfcc_t> *cepstra)
{
    const size_t n = size_t(cepSize);
    std::vector<double> in(n);
    for (size_t at = 0; n > 0 && at + n <= cepstra->size(); at += n) {
        mfcc_t *c = cepstra->data() + at;
        std::copy(c, c + n, in.begin());
        for (size_t i = 0; i < n; i++) {
            double v = 0;
            for (size_t j = 0; j < n; j++)
                v += map[i * n + j] * in[j];
            c[i] = mfcc_t(v);
        }
    }
}

void WidenBand(const FilterBank &bank, int cepSize, std::vector<mfcc_t> *cepstra)
{
    const int n = bank.filters;
    if (n <= 0 || cepSize <= 0 || cepSize > n || bank.upperHz <= TelephoneTopHz)
        return;
    // The first filter whose upper edge lies above the band.
    const double step = (Mel(bank.upperHz) - Mel(bank.lowerHz)) / (n + 1);
    int first = 0;
    while (first < n && Hz(Mel(bank.lowerHz) + (first + 2) * step) <= TelephoneTopHz)
        first++;
    if (first == 0 || first == n)
        return;
    // The band above made like the filter below it.
    std::vector<double> mix(size_t(n * n), 0.0);
    for (int j = 0; j < n; j++)
        mix[size_t(j * n + std::min(j, first - 1))] = 1;
    ApplyCepstralMap(CepstralMap(bank, cepSize, mix), cepSize, cepstra);
}
