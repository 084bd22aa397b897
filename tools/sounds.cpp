#include "tools/sounds.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

const double kPi = 3.14159265358979323846;

// A two-pole resonator, the building block of the voice's formants.
struct Resonator {
    double y1 = 0, y2 = 0;
    double Step(double x, double frequency, double bandwidth, double rate) {
        double r = std::exp(-kPi * bandwidth / rate);
        double b = 2 * r * std::cos(2 * kPi * frequency / rate), c = -r * r;
        double y = (1 - r) * x + b * y1 + c * y2;
        y2 = y1, y1 = y;
        return y;
    }
};

// Deterministic noise for the breath of the "h".
struct Noise {
    uint32_t state = 0x2545F491;
    double Next() {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) / double(1 << 24) * 2 - 1;
    }
};

double Smooth(double t) {
    return t <= 0 ? 0 : t >= 1 ? 1 : t * t * (3 - 2 * t);
}

// Rises over attack seconds from start, falls over release seconds to end.
double Envelope(double t, double start, double attack, double end, double release) {
    return Smooth((t - start) / attack) * Smooth((end - t) / release);
}

// Scales to a peak of 0.85 and turns into unsigned 8-bit samples around 128.
Bytes ToSamples(const std::vector<double> &signal) {
    double peak = 1e-9;
    for (double v : signal)
        peak = std::max(peak, std::fabs(v));
    Bytes out;
    for (double v : signal)
        out.push_back(static_cast<uint8_t>(std::lround(128 + 127 * 0.85 * v / peak)));
    return out;
}

double Note(int semitonesFromA4) {
    return 440 * std::pow(2.0, semitonesFromA4 / 12.0);
}

} // namespace

Bytes SynthesizeGreeting() {
    const double rate = kGreetingRate;
    std::vector<double> signal(kGreetingSamples);
    Resonator f1, f2, f3, breath1, breath2;
    Noise noise;
    double phase = 0;
    const double voiceStart = 0.06, voiceEnd = 0.52;
    for (size_t i = 0; i < signal.size(); i++) {
        double t = i / rate;
        // "h" breath, then the voice gliding from "ah" to "ee", its pitch rising.
        double u = std::clamp((t - voiceStart) / (voiceEnd - voiceStart), 0.0, 1.0);
        double glide = Smooth((u - 0.2) / 0.55);
        double pitch = 290 + 150 * Smooth(u / 0.8) + 6 * std::sin(2 * kPi * 5.5 * t) * u;
        phase += pitch / rate;
        phase -= std::floor(phase);
        double pulse =
            phase < 0.6 ? std::sin(kPi * phase / 0.6) : -0.35 * std::sin(kPi * (phase - 0.6) / 0.4);
        double voice = pulse * Envelope(t, voiceStart + 0.04, 0.03, voiceEnd, 0.12);
        double h = noise.Next() * Envelope(t, 0.01, 0.03, voiceStart + 0.08, 0.05) * 0.5;
        double formant1 = 800 + (330 - 800) * glide, formant2 = 1250 + (2500 - 1250) * glide;
        double formant3 = 2700 + (3300 - 2700) * glide;
        double sound = 1.0 * f1.Step(voice, formant1, 90, rate) +
                       0.7 * f2.Step(voice, formant2, 120, rate) +
                       0.35 * f3.Step(voice, formant3, 180, rate);
        sound += breath1.Step(h, formant1, 200, rate) + 0.8 * breath2.Step(h, formant2, 250, rate);
        // A soft two-note chime after the word.
        double chime = 0;
        const double bells[][2] = {{0.58, Note(22)}, {0.70, Note(27)}};
        for (const auto &bell : bells) {
            double s = t - bell[0];
            if (s > 0)
                chime +=
                    0.12 * std::sin(2 * kPi * bell[1] * s) * std::exp(-s * 7) * Smooth(s / 0.004);
        }
        signal[i] = sound * 3 + chime;
    }
    // Nothing at the very end: fade out over the last 20 ms.
    double total = signal.size() / rate;
    for (size_t i = 0; i < signal.size(); i++)
        signal[i] *= Smooth((total - i / rate) / 0.02);
    return ToSamples(signal);
}

Bytes SynthesizeJingle() {
    const double rate = kJingleRate;
    const double beat = 0.132; // two frames of the animation
    // Melody and bass, one entry per beat; 0 rests. Semitones from A4.
    const int melody[] = {3, 7, 10, 15, 12, 10, 8, 12, 14, 15};
    const int bass[] = {-21, 0, -14, 0, -16, 0, -14, 0, -26, -21};
    const int beats = sizeof melody / sizeof melody[0];
    std::vector<double> signal(kJingleSamples);
    for (size_t i = 0; i < signal.size(); i++) {
        double t = i / rate;
        double v = 0;
        for (int b = 0; b < beats; b++) {
            double start = 0.02 + b * beat;
            double s = t - start;
            if (s < 0) continue;
            bool last = b == beats - 1; // the final note rings on
            double length = last ? 0.45 : beat * 0.9;
            if (melody[b] && s < length + 0.08) {
                double f = Note(melody[b]);
                double env = Smooth(s / 0.006) * std::exp(-s * (last ? 4 : 9)) *
                             Smooth((length + 0.08 - s) / 0.08);
                // A bright square-ish tone: odd harmonics, gently falling.
                double tone = std::sin(2 * kPi * f * s) + 0.3 * std::sin(6 * kPi * f * s) +
                              0.12 * std::sin(10 * kPi * f * s);
                v += 0.5 * env * tone;
            }
            double bassLength = last ? 0.4 : 2 * beat;
            if (bass[b] && s < bassLength) {
                double f = Note(bass[b]);
                double env = Smooth(s / 0.005) * std::exp(-s * 6) * Smooth((bassLength - s) / 0.04);
                v += 0.45 * env * std::sin(2 * kPi * f * s);
            }
            if (b % 2 == 1 && !last && s < 0.04) // a soft tick on the off-beat
                v += 0.05 * std::sin(2 * kPi * 5200 * s) * (1 - s / 0.04);
        }
        signal[i] = v;
    }
    double total = signal.size() / rate;
    for (size_t i = 0; i < signal.size(); i++)
        signal[i] *= Smooth((total - i / rate) / 0.03);
    return ToSamples(signal);
}
