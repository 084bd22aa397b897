#include "tools/wave.h"

#include <cstring>

enum : uint32_t { kWavePcm = 1, kFmtSize = 16 };

Bytes BuildWave(uint32_t samplesPerSecond, const Bytes &samples)
{
    Bytes out;
    PutTag(out, "RIFF");
    PutU32(out, 4 + 8 + kFmtSize + 8 + samples.size() + (samples.size() & 1));
    PutTag(out, "WAVE");
    PutTag(out, "fmt ");
    PutU32(out, kFmtSize);
    PutU16(out, kWavePcm);
    PutU16(out, 1);                // mono
    PutU32(out, samplesPerSecond); // one byte per sample
    PutU32(out, samplesPerSecond);
    PutU16(out, 1); // block align
    PutU16(out, 8); // bits per sample
    PutTag(out, "data");
    PutU32(out, samples.size());
    out.insert(out.end(), samples.begin(), samples.end());
    if (samples.size() & 1)
        PutU8(out, 0); // chunks are padded to an even length
    return out;
}

bool ParseWave(const uint8_t *wave, size_t size, WaveInfo *info, std::string *error)
{
    auto fail = [&](const char *what) {
        if (error)
            *error = what;
        return false;
    };
    if (size < 12 || std::memcmp(wave, "RIFF", 4) != 0 || std::memcmp(wave + 8, "WAVE", 4) != 0)
        return fail("not a RIFF WAVE file");
    WaveInfo w{};
    w.riffSize = GetU32(wave + 4);
    if (w.riffSize > size - 8)
        return fail("RIFF size past the end");
    bool haveFormat = false, haveData = false;
    size_t at = 12, end = 8 + w.riffSize;
    while (at + 8 <= end) {
        uint32_t chunkSize = GetU32(wave + at + 4);
        const uint8_t *body = wave + at + 8;
        if (chunkSize > end - at - 8)
            return fail("chunk past the end of the RIFF");
        if (std::memcmp(wave + at, "fmt ", 4) == 0) {
            if (chunkSize < kFmtSize)
                return fail("short fmt chunk");
            w.fmtSize = chunkSize;
            w.formatTag = GetU16(body);
            w.channels = GetU16(body + 2);
            w.samplesPerSecond = GetU32(body + 4);
            w.bytesPerSecond = GetU32(body + 8);
            w.blockAlign = GetU16(body + 12);
            w.bitsPerSample = GetU16(body + 14);
            haveFormat = true;
        } else if (std::memcmp(wave + at, "data", 4) == 0) {
            w.dataSize = chunkSize;
            w.samples = body;
            haveData = true;
        }
        at += 8 + chunkSize + (chunkSize & 1);
    }
    if (!haveFormat || !haveData)
        return fail("fmt or data chunk missing");
    *info = w;
    return true;
}
