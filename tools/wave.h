// RIFF WAVE files of 8-bit mono PCM: the one writer and the one reader.
#pragma once

#include "tools/bytes.h"

#include <string>

// A canonical 44-byte header (RIFF, fmt chunk of 16 bytes, data chunk)
// followed by the samples (unsigned, silence 128).
Bytes BuildWave(uint32_t samplesPerSecond, const Bytes &samples);

struct WaveInfo {
    uint32_t riffSize, fmtSize, samplesPerSecond, bytesPerSecond, dataSize;
    uint16_t formatTag, channels, blockAlign, bitsPerSample;
    const uint8_t *samples; // inside the buffer parsed
};

// Reads the chunks of a RIFF WAVE file; fails when a chunk runs past the end
// or the fmt and data chunks are missing. Does not judge the format.
bool ParseWave(const uint8_t *wave, size_t size, WaveInfo *info, std::string *error);
