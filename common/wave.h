// RIFF WAVE files: the one writer and the one reader for the whole project.
// The generator writes the character's sounds with them, the recogniser
// reads what it is handed (a file given to the hub, a recording) and writes
// its recordings, and the tests read back what the programs embed.
#pragma once

#include "common/bytes.h"

#include <string>

constexpr uint16_t WaveFormatPcm = 1;
constexpr uint16_t WaveFormatFloat = 3;
constexpr uint16_t WaveFormatExtensible = 0xFFFE; // the format is in a sub-format GUID

// The fields of the fmt chunk.
struct WaveFormat {
    uint16_t formatTag = WaveFormatPcm;
    uint16_t channels = 1;
    uint32_t samplesPerSecond = 0;
    uint32_t bytesPerSecond = 0;
    uint16_t blockAlign = 0;
    uint16_t bitsPerSample = 0;
};

// Integer PCM, interleaved when channels > 1: its byte rate and block size
// worked out.
WaveFormat PcmWaveFormat(uint32_t samplesPerSecond, uint16_t channels, uint16_t bitsPerSample);

// A canonical file: the RIFF header, a fmt chunk of 16 bytes and the data
// chunk (WaveHeaderBytes in all), then the samples, padded to an even length.
constexpr size_t WaveHeaderBytes = 44;
Bytes BuildWave(const WaveFormat &format, const Bytes &samples);

// What a file holds, as its chunks declare it.
struct WaveFile {
    uint32_t riffSize = 0; // as declared: not checked
    uint32_t fmtSize = 0;
    WaveFormat format;                // an extensible file's formatTag is its sub-format's
    const uint8_t *samples = nullptr; // inside the bytes read
    size_t dataSize = 0;              // present
    uint32_t declaredDataSize = 0;    // more than dataSize when the file is cut short
};

// Walks the chunks up to the data chunk, checking every size against what
// remains, and skipping the chunks it does not know. A data chunk longer than
// the bytes (a stream that left its length unset) is read as far as they go;
// any other chunk running past the end, a fmt chunk too short for its
// fields, a missing fmt or data chunk, no channels or a rate of 0 is a
// refusal, with the reason in *why (when given). The encoding is not judged.
bool ParseWave(const uint8_t *bytes, size_t size, WaveFile *file, std::string *why = nullptr);
