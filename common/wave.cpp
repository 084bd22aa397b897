#include "common/wave.h"

#include <cstring>

namespace {

constexpr uint32_t PlainFmtBytes = 16;
// An extensible fmt chunk: the plain fields, the size of the extension,
// valid bits, the channel mask, then the sub-format GUID whose first field
// is the format.
constexpr uint32_t ExtensibleFmtBytes = 40;
constexpr size_t SubFormatAt = 24;
constexpr size_t ChunkHeadBytes = 8; // its tag and its length

bool Refuse(std::string *why, const char *reason)
{
    if (why)
        *why = reason;
    return false;
}

// The fields of a fmt chunk's body of length bytes.
bool ReadFormat(const uint8_t *body, uint32_t length, WaveFile *file, std::string *why)
{
    if (length < PlainFmtBytes)
        return Refuse(why, "short fmt chunk");
    WaveFormat &f = file->format;
    f.formatTag = static_cast<uint16_t>(GetU16(body));
    f.channels = static_cast<uint16_t>(GetU16(body + 2));
    f.samplesPerSecond = GetU32(body + 4);
    f.bytesPerSecond = GetU32(body + 8);
    f.blockAlign = static_cast<uint16_t>(GetU16(body + 12));
    f.bitsPerSample = static_cast<uint16_t>(GetU16(body + 14));
    if (f.formatTag == WaveFormatExtensible) {
        // Not read from whatever follows a chunk too short to hold it.
        if (length < ExtensibleFmtBytes)
            return Refuse(why, "short extensible fmt chunk");
        f.formatTag = static_cast<uint16_t>(GetU16(body + SubFormatAt));
    }
    file->fmtSize = length;
    return true;
}

} // namespace

WaveFormat PcmWaveFormat(uint32_t samplesPerSecond, uint16_t channels, uint16_t bitsPerSample)
{
    WaveFormat f;
    f.formatTag = WaveFormatPcm;
    f.channels = channels;
    f.samplesPerSecond = samplesPerSecond;
    f.bytesPerSecond = samplesPerSecond * channels * (bitsPerSample / 8u);
    f.blockAlign = static_cast<uint16_t>(channels * (bitsPerSample / 8u));
    f.bitsPerSample = bitsPerSample;
    return f;
}

Bytes BuildWave(const WaveFormat &format, const Bytes &samples)
{
    const size_t pad = samples.size() & 1; // chunks are padded to an even length
    Bytes out;
    out.reserve(WaveHeaderBytes + samples.size() + pad);
    PutTag(out, "RIFF");
    PutU32(out, static_cast<uint32_t>(WaveHeaderBytes - ChunkHeadBytes + samples.size() + pad));
    PutTag(out, "WAVE");
    PutTag(out, "fmt ");
    PutU32(out, PlainFmtBytes);
    PutU16(out, format.formatTag);
    PutU16(out, format.channels);
    PutU32(out, format.samplesPerSecond);
    PutU32(out, format.bytesPerSecond);
    PutU16(out, format.blockAlign);
    PutU16(out, format.bitsPerSample);
    PutTag(out, "data");
    PutU32(out, static_cast<uint32_t>(samples.size()));
    out.insert(out.end(), samples.begin(), samples.end());
    if (pad)
        PutU8(out, 0);
    return out;
}

bool ParseWave(const uint8_t *bytes, size_t size, WaveFile *file, std::string *why)
{
    if (size < 12 || std::memcmp(bytes, "RIFF", 4) != 0 || std::memcmp(bytes + 8, "WAVE", 4) != 0)
        return Refuse(why, "not a RIFF WAVE file");
    WaveFile w;
    w.riffSize = GetU32(bytes + 4);
    bool haveFormat = false;
    size_t at = 12; // never past size
    while (size - at >= ChunkHeadBytes) {
        const uint8_t *chunk = bytes + at, *body = chunk + ChunkHeadBytes;
        const uint32_t length = GetU32(chunk + 4);
        const size_t room = size - at - ChunkHeadBytes;
        if (std::memcmp(chunk, "data", 4) == 0) {
            w.samples = body;
            w.declaredDataSize = length;
            w.dataSize = length < room ? length : room;
            break;
        }
        if (length > room)
            return Refuse(why, "chunk past the end");
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            if (!ReadFormat(body, length, &w, why))
                return false;
            haveFormat = true;
        }
        // A chunk of odd length is followed by a pad byte, which the last
        // chunk of a careless writer leaves out.
        const size_t padded = size_t(length) + (length & 1);
        if (padded >= room)
            break;
        at += ChunkHeadBytes + padded;
    }
    if (!haveFormat || !w.samples)
        return Refuse(why, "fmt or data chunk missing");
    if (w.format.channels == 0 || w.format.samplesPerSecond == 0)
        return Refuse(why, "no channels or a rate of 0");
    *file = w;
    return true;
}
