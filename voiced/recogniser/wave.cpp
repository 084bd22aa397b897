// Wave files in and out, in every encoding the recogniser takes, over the
// project's one reader and writer; and the rate conversion to 16 kHz.
#include "voiced/recogniser/recogniser.h"
#include "common/angles.h"
#include "common/wave.h"
#include "voiced/recogniser/wave.h"
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

// A little-endian field of 1 to 4 bytes.
uint32_t Le(const uint8_t *p, int bytes)
{
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; i--)
        v = v << 8 | p[i];
    return v;
}

// One sample as a value in [-1, 1).
double SampleValue(const uint8_t *p, uint16_t format, unsigned bits)
{
    if (format == WaveFormatFloat) {
        if (bits == 32) {
            uint32_t u = Le(p, 4);
            float f;
            std::memcpy(&f, &u, 4);
            return std::isfinite(f) ? f : 0.0;
        }
        uint64_t u = static_cast<uint64_t>(Le(p + 4, 4)) << 32 | Le(p, 4);
        double d;
        std::memcpy(&d, &u, 8);
        return std::isfinite(d) ? d : 0.0;
    }
    if (bits == 8)
        return (p[0] - 128) / 128.0;
    uint32_t u = Le(p, bits / 8) << (32 - bits);
    return static_cast<int32_t>(u) / 2147483648.0;
}

int16_t ToInt16(double v)
{
    double s = std::lround(v * 32768.0);
    return static_cast<int16_t>(s > 32767 ? 32767 : s < -32768 ? -32768 : s);
}

unsigned Gcd(unsigned a, unsigned b)
{
    while (b) {
        unsigned t = a % b;
        a = b, b = t;
    }
    return a;
}

// Where the samples are and how they are coded: a file ParseWave takes in
// an encoding this reads.
struct WaveLayout {
    WaveHeader header;
    uint16_t format = 0;
    const uint8_t *data = nullptr;
};

bool Walk(const uint8_t *bytes, size_t size, WaveLayout *layout)
{
    WaveFile file;
    if (!ParseWave(bytes, size, &file))
        return false;
    const uint16_t format = file.format.formatTag, bits = file.format.bitsPerSample;
    const bool pcm =
        format == WaveFormatPcm && (bits == 8 || bits == 16 || bits == 24 || bits == 32);
    const bool fp = format == WaveFormatFloat && (bits == 32 || bits == 64);
    if (!(pcm || fp))
        return false;
    layout->format = format;
    layout->data = file.samples;
    layout->header.rate = file.format.samplesPerSecond;
    layout->header.channels = file.format.channels;
    layout->header.bits = bits;
    layout->header.frames = file.dataSize / (static_cast<size_t>(bits / 8) * file.format.channels);
    return true;
}

} // namespace

int ReadWaveHeader(const uint8_t *bytes, size_t size, WaveHeader *header)
{
    WaveLayout layout;
    if (!Walk(bytes, size, &layout))
        return 0;
    *header = layout.header;
    return 1;
}

int ReadWave(const uint8_t *bytes, size_t size, Wave *wave)
{
    WaveLayout layout;
    if (!Walk(bytes, size, &layout))
        return 0;
    const unsigned channels = layout.header.channels, bits = layout.header.bits;
    const size_t frameBytes = static_cast<size_t>(bits / 8) * channels;
    wave->rate = layout.header.rate;
    wave->samples.resize(layout.header.frames);
    for (size_t i = 0; i < layout.header.frames; i++) {
        double sum = 0;
        for (unsigned c = 0; c < channels; c++)
            sum += SampleValue(layout.data + i * frameBytes + c * (bits / 8), layout.format, bits);
        wave->samples[i] = ToInt16(sum / channels);
    }
    return 1;
}

std::vector<uint8_t> WriteWave(const int16_t *samples, size_t frames, unsigned rate,
                               unsigned channels)
{
    Bytes data;
    data.reserve(frames * channels * 2);
    for (size_t i = 0; i < frames * channels; i++)
        PutU16(data, static_cast<uint16_t>(samples[i]));
    return BuildWave(PcmWaveFormat(rate, static_cast<uint16_t>(channels), 16), data);
}

int SaveWave(const char *path, const int16_t *samples, size_t count, unsigned rate)
{
    std::vector<uint8_t> bytes = WriteWave(samples, count, rate, 1);
    FILE *f = std::fopen(path, "wb");
    if (!f)
        return 0;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

int LoadWave16k(const char *path, std::vector<int16_t> *samples)
{
    FILE *f = std::fopen(path, "rb");
    if (!f)
        return 0;
    std::vector<uint8_t> bytes;
    uint8_t block[65536];
    size_t n;
    while ((n = std::fread(block, 1, sizeof block, f)) > 0)
        bytes.insert(bytes.end(), block, block + n);
    std::fclose(f);
    Wave wave;
    if (!ReadWave(bytes.data(), bytes.size(), &wave))
        return 0;
    *samples = Resample(wave.samples.data(), wave.samples.size(), wave.rate, RecogniserRate);
    return 1;
}

// A windowed-sinc filter evaluated at the output's positions in the input;
// the cut-off follows the lower of the two Nyquist frequencies. The taps are
// tabled per phase; rates without a small common period take the phase
// below theirs among 4096, a 1/4096-sample error, so that no rate costs
// more than another.
std::vector<int16_t> Resample(const int16_t *samples, size_t count, unsigned fromRate,
                              unsigned toRate, const std::atomic<bool> *stop)
{
    if (fromRate == toRate || fromRate == 0 || toRate == 0)
        return std::vector<int16_t>(samples, samples + count);
    const unsigned g = Gcd(fromRate, toRate);
    const uint64_t up = toRate / g, down = fromRate / g; // output i sits at input i*down/up
    const double cutoff = 0.95 * (toRate < fromRate ? double(toRate) / fromRate : 1.0);
    const int half = static_cast<int>(std::ceil(32 / cutoff)); // taps either side
    auto tap = [&](double x) {                                 // x: distance in input samples
        if (std::fabs(x) >= half)
            return 0.0;
        double w = 0.42 + 0.5 * std::cos(Pi * x / half) + 0.08 * std::cos(2 * Pi * x / half);
        double s = x == 0 ? 1.0 : std::sin(Pi * cutoff * x) / (Pi * cutoff * x);
        return cutoff * s * w;
    };
    const uint64_t phases = std::min<uint64_t>(up, 4096);
    std::vector<double> table(phases * 2 * half);
    for (uint64_t phase = 0; phase < phases; phase++)
        for (int k = 0; k < 2 * half; k++)
            table[phase * 2 * half + k] = tap(double(phase) / phases + (half - 1) - k);
    size_t outCount = static_cast<size_t>(uint64_t(count) * up / down);
    std::vector<int16_t> out(outCount);
    for (size_t i = 0; i < outCount; i++) {
        if (stop && i % 65536 == 0 && *stop)
            return {};
        uint64_t pos = i * down;
        int64_t base = static_cast<int64_t>(pos / up); // input sample at or before the position
        const uint64_t phase = pos % up * phases / up;
        double sum = 0;
        for (int k = 0; k < 2 * half; k++) {
            int64_t j = base - (half - 1) + k;
            if (j < 0 || j >= static_cast<int64_t>(count))
                continue;
            sum += table[phase * 2 * half + k] * samples[j];
        }
        out[i] = ToInt16(sum / 32768.0);
    }
    return out;
}
