// The speaker's vocal tract: a frequency scale per utterance.
#include "voiced/recogniser/warp.h"
#include "common/angles.h"
#include <sphinxbase/bio.h>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <numeric>
#include <utility>

namespace {

// The scales tried: a filter at f hears the speaker at factor x f, up to a
// knee, and the band above the knee is squeezed or stretched onto the rest.
const double Factors[] = {0.80, 0.85, 0.90, 0.95, 1.0, 1.06, 1.12, 1.18, 1.25};
constexpr double KneeShare = 0.7; // of the upper edge, for factor 1

constexpr float VarianceFloor = 1e-4f;

// The frames weighed: the loudest LoudShareOfFrames percent, at most
// FramesWeighed of them, evenly; an utterance of fewer than MinFrames keeps
// scale 1.
constexpr size_t LoudShareOfFrames = 40, FramesWeighed = 24;
constexpr int MinFrames = 10;
// Each frame is weighed at the other scales against the codebooks that fit
// it best at scale 1.
constexpr int ShortlistBooks = 4;
// A frame's gain at a scale counts for GainWeight of itself (neighbouring
// frames say much the same), and the scales are spread about 1 with
// PriorSpread (of the logarithm): a child's 1.25 lies 1.5 spreads away.
constexpr double GainWeight = 0.3, PriorSpread = 0.15;

// One file of the model's densities: [codebook][stream][density][width].
bool ReadDensities(const std::string &path, int *codebooks, int *densities,
                   std::vector<int> *widths, std::vector<float> *values)
{
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
    char **names = nullptr, **texts = nullptr;
    int32 swap = 0;
    bool ok = bio_readhdr(f, &names, &texts, &swap) >= 0;
    if (ok)
        bio_hdrarg_free(names, texts);
    uint32 sum = 0;
    int32 head[3] = {0, 0, 0}; // codebooks, streams, densities
    ok = ok && bio_fread(head, sizeof(int32), 3, f, swap, &sum) == 3 && head[0] > 0 &&
         head[1] > 0 && head[1] <= 8 && head[2] > 0 && int64_t(head[0]) * head[2] <= 1 << 16;
    std::vector<int32> w(ok ? size_t(head[1]) : 0);
    ok = ok && bio_fread(w.data(), sizeof(int32), head[1], f, swap, &sum) == head[1];
    int32 total = 0, block = 0;
    for (int32 x : w)
        if (x <= 0 || x > 64)
            ok = false;
        else
            block += x;
    ok = ok && bio_fread(&total, sizeof(int32), 1, f, swap, &sum) == 1 &&
         total == head[0] * head[2] * block;
    if (ok) {
        values->resize(size_t(total));
        ok = bio_fread(values->data(), sizeof(float), total, f, swap, &sum) == total;
    }
    std::fclose(f);
    if (!ok)
        return false;
    *codebooks = head[0], *densities = head[2];
    widths->assign(w.begin(), w.end());
    return true;
}

// The log likelihood of a frame's cepstra under the best density of a
// codebook (each density's in scratch).
double Fit(const SpeakerWarp &w, const double *x, int codebook, std::vector<float> *scratch)
{
    const int n = w.cepSize, m = w.densities;
    scratch->assign(w.norm.begin() + codebook * m, w.norm.begin() + (codebook + 1) * m);
    float *d = scratch->data();
    for (int i = 0; i < n; i++) {
        const float at = float(x[i]);
        const float *mean = &w.mean[size_t((codebook * n + i) * m)],
                    *half = &w.halfInverse[size_t((codebook * n + i) * m)];
        for (int k = 0; k < m; k++) {
            const float diff = at - mean[k];
            d[k] -= diff * diff * half[k];
        }
    }
    return *std::max_element(d, d + m);
}

// Codebook by codebook, dimension by dimension, the densities side by
// side, from the model's files (first stream of each density): a frame is
// weighed against a whole codebook at once.
void ArrangeDensities(const std::vector<float> &means, const std::vector<float> &variances,
                      int block, SpeakerWarp *w)
{
    const int codebooks = w->codebooks, cepSize = w->cepSize;
    const size_t m = size_t(w->densities);
    w->mean.assign(size_t(codebooks * cepSize) * m, 0.0f);
    w->halfInverse.assign(w->mean.size(), 0.0f);
    w->norm.assign(size_t(codebooks) * m, 0.0f);
    for (int c = 0; c < codebooks; c++)
        for (size_t k = 0; k < m; k++) {
            // The first stream of density k of codebook c.
            size_t from = size_t(c) * size_t(w->densities * block) + k * size_t(cepSize);
            double norm = 0;
            for (int i = 0; i < cepSize; i++, from++) {
                const float v = std::max(variances[from], VarianceFloor);
                const size_t to = size_t(c * cepSize + i) * m + k;
                w->mean[to] = means[from];
                w->halfInverse[to] = 0.5f / v;
                norm -= 0.5 * std::log(2 * Pi * v);
            }
            w->norm[size_t(c) * m + k] = float(norm);
        }
}

// The fractional filter that a frequency falls on, between two centres.
double FilterAt(const std::vector<double> &centres, double hz)
{
    if (hz <= centres.front())
        return 0.0;
    for (size_t j = 1; j < centres.size(); j++)
        if (hz <= centres[j])
            return double(j - 1) + (hz - centres[j - 1]) / (centres[j] - centres[j - 1]);
    return double(centres.size() - 1);
}

// One scale's filter maps: each filter hears between the two filters beside
// its source (shifted); the smoothing alone spreads as far (variance share x
// (1 - share)), evenly to both neighbours (smoothed).
void ScaleMaps(const FilterBank &bank, const std::vector<double> &centres, double factor,
               std::vector<double> *shifted, std::vector<double> *smoothed)
{
    const int n = bank.filters;
    const double top = bank.upperHz, knee = top * KneeShare / std::max(factor, 1.0);
    shifted->assign(size_t(n * n), 0.0);
    smoothed->assign(size_t(n * n), 0.0);
    for (int j = 0; j < n; j++) {
        const double f = centres[size_t(j)];
        const double source = FilterAt(
            centres, f <= knee ? factor * f
                               : factor * knee + (f - knee) * (top - factor * knee) / (top - knee));
        const int below = std::min(int(source), n - 2);
        const double share = source - below, spread = share * (1 - share);
        (*shifted)[size_t(j * n + below)] += 1 - share;
        (*shifted)[size_t(j * n + below + 1)] += share;
        (*smoothed)[size_t(j * n + j)] += 1 - spread;
        (*smoothed)[size_t(j * n + std::max(j - 1, 0))] += spread / 2;
        (*smoothed)[size_t(j * n + std::min(j + 1, n - 1))] += spread / 2;
    }
}

// The loud frames weighed, by log energy: indices into the utterance.
std::vector<int> LoudFrames(const std::vector<mfcc_t> &cepstra, int n, int frames)
{
    std::vector<int> order(static_cast<size_t>(frames));
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(),
              [&](int a, int b) { return cepstra[size_t(a * n)] > cepstra[size_t(b * n)]; });
    const size_t loud = size_t(frames) * LoudShareOfFrames / 100,
                 weighed = std::min(loud, FramesWeighed);
    std::vector<int> chosen(weighed);
    for (size_t k = 0; k < weighed; k++)
        chosen[k] = order[k * loud / weighed];
    return chosen;
}

// What one frame (x, normalised) adds to each scale's fit: what the scale
// fits among the codebooks that fit the frame best at scale 1, less what its
// smoothing alone fits.
void AddFrameFit(const SpeakerWarp &w, size_t one, const std::vector<double> &x,
                 std::vector<double> *fit)
{
    const int n = w.cepSize;
    std::vector<double> y(static_cast<size_t>(n));
    std::vector<std::pair<double, int>> books(static_cast<size_t>(w.codebooks));
    std::vector<float> scratch;
    for (int c = 0; c < w.codebooks; c++)
        books[size_t(c)] = {Fit(w, x.data(), c, &scratch), c};
    std::partial_sort(books.begin(), books.begin() + ShortlistBooks, books.end(),
                      std::greater<std::pair<double, int>>());
    for (size_t f = 0; f < w.factors.size(); f++) {
        if (f == one)
            continue;
        for (const auto &[m, sign] : {std::pair(&w.matrix[f], 1.0), {&w.smoothing[f], -1.0}}) {
            for (int i = 0; i < n; i++) {
                y[size_t(i)] = 0;
                for (int j = 0; j < n; j++)
                    y[size_t(i)] += (*m)[size_t(i * n + j)] * x[size_t(j)];
            }
            double best = -1e30;
            for (int b = 0; b < ShortlistBooks; b++)
                best = std::max(best, Fit(w, y.data(), books[size_t(b)].second, &scratch));
            (*fit)[f] += sign * best;
        }
    }
}

// The scale nearest the likeliest one on average, with adults' voices
// likelier: one utterance's few frames say little, and a scale chosen on
// noise in them costs more than scale 1 does.
size_t LikeliestScale(const SpeakerWarp &w, size_t one, const std::vector<double> &fit)
{
    const double top = *std::max_element(fit.begin(), fit.end());
    double sum = 0, likeliest = 0; // the logarithm of the scale
    for (size_t f = 0; f < fit.size(); f++) {
        const double at = std::log(w.factors[f]) / PriorSpread;
        const double p = std::exp(GainWeight * (fit[f] - top) - at * at / 2);
        sum += p, likeliest += p * std::log(w.factors[f]);
    }
    likeliest /= sum;
    auto away = [&](size_t f) { return std::fabs(std::log(w.factors[f]) - likeliest); };
    size_t best = one;
    for (size_t f = 0; f < fit.size(); f++)
        if (away(f) < away(best))
            best = f;
    return best;
}

} // namespace

bool SpeakerWarpLoad(const std::string &modelDir, const FilterBank &bank, int cepSize,
                     SpeakerWarp *w)
{
    if (bank.filters <= 1 || cepSize <= 0 || cepSize > bank.filters)
        return false;
    int codebooks = 0, densities = 0, c2 = 0, d2 = 0;
    std::vector<int> widths, widths2;
    std::vector<float> means, variances;
    if (!ReadDensities(modelDir + "/means", &codebooks, &densities, &widths, &means) ||
        !ReadDensities(modelDir + "/variances", &c2, &d2, &widths2, &variances) ||
        c2 != codebooks || d2 != densities || widths2 != widths || widths[0] != cepSize)
        return false;
    w->cepSize = cepSize;
    w->codebooks = codebooks;
    w->densities = densities;
    ArrangeDensities(means, variances, std::accumulate(widths.begin(), widths.end(), 0), w);
    // For each scale, the fractional filter each filter hears.
    const std::vector<double> centres = FilterCentres(bank);
    w->factors.clear(), w->matrix.clear(), w->smoothing.clear();
    std::vector<double> shifted, smoothed;
    for (double factor : Factors) {
        ScaleMaps(bank, centres, factor, &shifted, &smoothed);
        w->factors.push_back(factor);
        w->matrix.push_back(CepstralMap(bank, cepSize, shifted));
        w->smoothing.push_back(CepstralMap(bank, cepSize, smoothed));
    }
    return true;
}

size_t SpeakerWarpChoose(const SpeakerWarp &w, const std::vector<mfcc_t> &cepstra)
{
    const size_t one =
        size_t(std::find(w.factors.begin(), w.factors.end(), 1.0) - w.factors.begin());
    const int n = w.cepSize;
    const int frames = n > 0 ? int(cepstra.size() / size_t(n)) : 0;
    if (frames < MinFrames || one == w.factors.size() || w.codebooks < ShortlistBooks)
        return one;
    // Normalised as the decoder normalises: less the utterance's mean.
    std::vector<double> mean(size_t(n), 0.0);
    for (int t = 0; t < frames; t++)
        for (int i = 0; i < n; i++)
            mean[size_t(i)] += cepstra[size_t(t * n + i)] / double(frames);
    // Per scale, the loud frames' fit less their fit at scale 1.
    std::vector<double> fit(w.factors.size(), 0.0), x(static_cast<size_t>(n));
    for (int t : LoudFrames(cepstra, n, frames)) {
        for (int i = 0; i < n; i++)
            x[size_t(i)] = cepstra[size_t(t * n + i)] - mean[size_t(i)];
        AddFrameFit(w, one, x, &fit);
    }
    return LikeliestScale(w, one, fit);
}

void SpeakerWarpApply(const SpeakerWarp &w, size_t index, std::vector<mfcc_t> *cepstra)
{
    if (index < w.factors.size() && w.factors[index] != 1.0)
        ApplyCepstralMap(w.matrix[index], w.cepSize, cepstra);
}
