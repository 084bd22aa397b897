// The wave reader (a file handed to the hub with LISTEN): any bytes. The
// header alone and the whole read agree, and what is taken has a rate and
// no more samples than the bytes hold. What passes the hub's gates on a
// sound's rate and length is converted to the recogniser's rate: exactly
// as long as the sound, whatever the two rates have in common.
#include "tests/fuzz/fuzz.h"
#include "voiced/hub/listener.h"
#include "voiced/recogniser/wave.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    WaveHeader header;
    Wave wave;
    const int headerRead = ReadWaveHeader(data, size, &header);
    Require(ReadWave(data, size, &wave) == headerRead, "the header and the samples disagree");
    if (!headerRead)
        return 0;
    Require(wave.rate != 0 && wave.rate == header.rate, "a rate of 0 or another rate");
    Require(wave.samples.size() == header.frames, "another number of frames");
    Require(header.frames * header.channels * (header.bits / 8) <= size, "frames past the bytes");
    if (header.rate < MinSoundRate || header.rate > MaxSoundRate ||
        header.frames > uint64_t(MaxSoundSeconds) * header.rate)
        return 0;
    const std::vector<int16_t> converted =
        Resample(wave.samples.data(), wave.samples.size(), wave.rate, RecogniserRate);
    Require(converted.size() == uint64_t(wave.samples.size()) * RecogniserRate / wave.rate,
            "the converted sound is not as long as the sound");
    return 0;
}
