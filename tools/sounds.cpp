#include "tools/sounds.h"
#include "common/angles.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// A two-pole resonator, the building block of the voice's formants.
struct Resonator {
    double y1 = 0, y2 = 0;
    double Step(double x, double frequency, double bandwidth, double rate)
    {
        double r = std::exp(-Pi * bandwidth / rate);
        double b = 2 * r * std::cos(2 * Pi * frequency / rate), c = -r * r;
        double y = (1 - r) * x + b * y1 + c * y2;
        y2 = y1, y1 = y;
        return y;
    }
};

// Deterministic noise for the breath of the "h".
struct Noise {
    uint32_t state = 0x2545F491;
    double Next()
    {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) / double(1 << 24) * 2 - 1;
    }
};

double Smooth(double t)
{
    return t <= 0 ? 0 : t >= 1 ? 1 : t * t * (3 - 2 * t);
}

// Rises over attack seconds from start, falls over release seconds to end.
double Envelope(double t, double start, double attack, double end, double release)
{
    return Smooth((t - start) / attack) * Smooth((end - t) / release);
}

// Scales to a peak of 0.85 and turns into unsigned 8-bit samples around 128.
Bytes ToSamples(const std::vector<double> &signal)
{
    double peak = 1e-9;
    for (double v : signal)
        peak = std::max(peak, std::fabs(v));
    Bytes out;
    for (double v : signal)
        out.push_back(static_cast<uint8_t>(std::lround(128 + 127 * 0.85 * v / peak)));
    return out;
}

double Note(int semitonesFromA4)
{
    return 440 * std::pow(2.0, semitonesFromA4 / 12.0);
}

} // namespace

// Loudness of a harmonic at frequency f for a vowel with formants f1 to f3.
double Vowel(double f, double f1, double f2, double f3)
{
    auto peak = [&](double centre, double width) {
        double d = (f - centre) / width;
        return 1 / (1 + d * d);
    };
    return peak(f1, 110) + 0.8 * peak(f2, 150) + 0.4 * peak(f3, 220) + 0.04;
}

Bytes SynthesizeGreeting()
{
    const double rate = GreetingRate;
    std::vector<double> signal(GreetingSamples);
    Resonator breath1, breath2;
    Noise noise;
    double phase = 0;
    const double voiceStart = 0.10, voiceEnd = 0.50;
    for (size_t i = 0; i < signal.size(); i++) {
        double t = i / rate;
        // "h": a breath shaped like the vowel to come.
        double h = 0.5 * noise.Next() * Envelope(t, 0.03, 0.03, voiceStart + 0.03, 0.04);
        double sound =
            0.5 * breath1.Step(h, 800, 250, rate) + 0.4 * breath2.Step(h, 1250, 300, rate);
        // The voice, built from its harmonics: the vowel glides from "ah" to
        // "ee" while the pitch rises, as a cheerful "hi!" does.
        double u = std::clamp((t - voiceStart) / (voiceEnd - voiceStart), 0.0, 1.0);
        double glide = Smooth((u - 0.15) / 0.55);
        double pitch = 320 + 170 * Smooth(u / 0.7) - 40 * Smooth((u - 0.75) / 0.25) +
                       5 * std::sin(2 * Pi * 6 * t) * u;
        phase += pitch / rate;
        phase -= std::floor(phase);
        double f1 = 820 + (320 - 820) * glide, f2 = 1250 + (2450 - 1250) * glide;
        double f3 = 2700 + (3200 - 2700) * glide;
        double voice = 0;
        for (int k = 1; k * pitch < 5500; k++)
            voice +=
                Vowel(k * pitch, f1, f2, f3) / std::sqrt(double(k)) * std::sin(2 * Pi * k * phase);
        sound += 0.35 * voice * Envelope(t, voiceStart, 0.025, voiceEnd, 0.1);
        // A soft two-note chime after the word.
        const double bells[][2] = {{0.58, Note(22)}, {0.70, Note(27)}};
        for (const auto &bell : bells) {
            double s = t - bell[0];
            if (s > 0)
                sound +=
                    0.1 * std::sin(2 * Pi * bell[1] * s) * std::exp(-s * 7) * Smooth(s / 0.004);
        }
        signal[i] = sound;
    }
    // Nothing at the very end: fade out over the last 20 ms.
    double total = signal.size() / rate;
    for (size_t i = 0; i < signal.size(); i++)
        signal[i] *= Smooth((total - i / rate) / 0.02);
    return ToSamples(signal);
}

Bytes SynthesizeJingle()
{
    const double rate = JingleRate;
    const double beat = 0.132; // two frames of the animation
    // Melody and bass, one entry per beat; 0 rests. Semitones from A4.
    const int melody[] = {3, 7, 10, 15, 12, 10, 8, 12, 14, 15};
    const int bass[] = {-21, 0, -14, 0, -16, 0, -14, 0, -26, -21};
    const int beats = sizeof melody / sizeof melody[0];
    std::vector<double> signal(JingleSamples);
    for (size_t i = 0; i < signal.size(); i++) {
        double t = i / rate;
        double v = 0;
        for (int b = 0; b < beats; b++) {
            double start = 0.02 + b * beat;
            double s = t - start;
            if (s < 0)
                continue;
            bool last = b == beats - 1; // the final note rings on
            double length = last ? 0.45 : beat * 0.9;
            if (melody[b] && s < length + 0.08) {
                double f = Note(melody[b]);
                double env = Smooth(s / 0.006) * std::exp(-s * (last ? 4 : 9)) *
                             Smooth((length + 0.08 - s) / 0.08);
                // A bright square-ish tone: odd harmonics, gently falling.
                double tone = std::sin(2 * Pi * f * s) + 0.3 * std::sin(6 * Pi * f * s) +
                              0.12 * std::sin(10 * Pi * f * s);
                v += 0.5 * env * tone;
            }
            double bassLength = last ? 0.4 : 2 * beat;
            if (bass[b] && s < bassLength) {
                double f = Note(bass[b]);
                double env = Smooth(s / 0.005) * std::exp(-s * 6) * Smooth((bassLength - s) / 0.04);
                v += 0.45 * env * std::sin(2 * Pi * f * s);
            }
            if (b % 2 == 1 && !last && s < 0.04) // a soft tick on the off-beat
                v += 0.05 * std::sin(2 * Pi * 5200 * s) * (1 - s / 0.04);
        }
        signal[i] = v;
    }
    double total = signal.size() / rate;
    for (size_t i = 0; i < signal.size(); i++)
        signal[i] *= Smooth((total - i / rate) / 0.03);
    return ToSamples(signal);
}
