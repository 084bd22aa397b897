// Wave files in every encoding the recogniser takes, read and written
// through the project's one WAVE reader and writer (common/wave.h); and the
// conversion to the recogniser's rate.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

struct Wave {
    unsigned rate = 0;
    std::vector<int16_t> samples; // mono: channels averaged
};
// Reads a RIFF WAVE image: PCM of 8, 16, 24 or 32 bits or 32/64-bit float,
// any channel count. Returns 0 for anything malformed or unsupported. Every
// chunk's size is checked against what remains; a data chunk longer than the
// image (a stream that left it unset) is read as far as the image goes.
int ReadWave(const uint8_t *bytes, size_t size, Wave *wave);
// What ReadWave would find, without converting a sample: a file can be
// refused by its rate or length before its samples take any memory.
struct WaveHeader {
    unsigned rate = 0;
    unsigned channels = 0;
    unsigned bits = 0;
    size_t frames = 0; // whole frames present
};
int ReadWaveHeader(const uint8_t *bytes, size_t size, WaveHeader *header);
// Reads a file and converts it to RecogniserRate. Returns 0 on failure.
int LoadWave16k(const char *path, std::vector<int16_t> *samples);
// 16-bit PCM, interleaved when channels > 1.
std::vector<uint8_t> WriteWave(const int16_t *samples, size_t frames, unsigned rate,
                               unsigned channels);
int SaveWave(const char *path, const int16_t *samples, size_t count, unsigned rate);
// Band-limited conversion between any two rates. Minutes of sound take
// seconds: when *stop (if given) becomes true meanwhile, it gives up and
// returns nothing.
std::vector<int16_t> Resample(const int16_t *samples, size_t count, unsigned fromRate,
                              unsigned toRate, const std::atomic<bool> *stop = nullptr);
