// The WAVE and icon writers against their readers.
#include "common/wave.h"
#include "tools/icon.h"

#include <gtest/gtest.h>

TEST(Wave, HeaderFieldsAndPadding)
{
    struct Case {
        const char *what;
        uint32_t rate;
        uint16_t channels, bits;
        size_t bytes;
    } cases[] = {
        {"even count", 22050, 1, 8, 6},
        {"odd count: the data chunk is padded, its size is not", 22255, 1, 8, 5},
        {"no samples", 11025, 1, 8, 0},
        {"16-bit stereo: four bytes a frame", 8000, 2, 16, 8},
    };
    for (const Case &c : cases) {
        Bytes samples(c.bytes, 0);
        for (size_t i = 0; i < c.bytes; i++)
            samples[i] = uint8_t(100 + i);
        Bytes file = BuildWave(PcmWaveFormat(c.rate, c.channels, c.bits), samples);
        EXPECT_EQ(file.size(), WaveHeaderBytes + c.bytes + c.bytes % 2) << c.what;
        WaveFile w;
        std::string error;
        ASSERT_TRUE(ParseWave(file.data(), file.size(), &w, &error)) << c.what << ": " << error;
        EXPECT_EQ(w.riffSize, file.size() - 8) << c.what;
        EXPECT_EQ(w.fmtSize, 16u);
        EXPECT_EQ(w.format.formatTag, WaveFormatPcm);
        EXPECT_EQ(w.format.channels, c.channels) << c.what;
        EXPECT_EQ(w.format.samplesPerSecond, c.rate);
        EXPECT_EQ(w.format.bytesPerSecond, c.rate * c.channels * c.bits / 8) << c.what;
        EXPECT_EQ(w.format.blockAlign, c.channels * c.bits / 8) << c.what;
        EXPECT_EQ(w.format.bitsPerSample, c.bits) << c.what;
        EXPECT_EQ(w.dataSize, c.bytes) << c.what;
        EXPECT_EQ(w.declaredDataSize, c.bytes) << c.what;
        EXPECT_EQ(w.samples, file.data() + WaveHeaderBytes);
        EXPECT_TRUE(std::equal(samples.begin(), samples.end(), w.samples)) << c.what;
    }
}

// The reader's refusals of broken chunks are the recogniser's tests' (they
// read through it); here, what it reports of the sizes a file declares.
TEST(Wave, ReaderReportsDeclaredSizesAndCutsAStreamShort)
{
    const Bytes good = BuildWave(PcmWaveFormat(22050, 1, 8), Bytes(10, 128));
    struct Case {
        const char *what;
        size_t offset;
        uint32_t value;
        bool read;
        uint32_t riffSize, declaredDataSize;
        size_t dataSize;
    } cases[] = {
        {"a RIFF size past the end is reported, not trusted", 4, 100, true, 100, 10, 10},
        {"a data chunk past the end is read as far as it goes", 40, 11, true, 46, 11, 10},
        {"a fmt chunk past the end is a refusal", 16, 1000, false, 0, 0, 0},
    };
    for (const Case &c : cases) {
        Bytes file = good;
        SetU32(file, c.offset, c.value);
        WaveFile w;
        ASSERT_EQ(ParseWave(file.data(), file.size(), &w), c.read) << c.what;
        if (!c.read)
            continue;
        EXPECT_EQ(w.riffSize, c.riffSize) << c.what;
        EXPECT_EQ(w.declaredDataSize, c.declaredDataSize) << c.what;
        EXPECT_EQ(w.dataSize, c.dataSize) << c.what;
    }
}

TEST(Icon, RoundTripsAnAsymmetricPicture)
{
    // 32 x 32, slot 0 transparent in the top-left triangle, the rest a pattern
    // that tells odd from even columns and top from bottom.
    IndexedImage image(32, 32, 0);
    for (int y = 0; y < 32; y++)
        for (int x = 0; x < 32; x++)
            image.At(x, y) = x + y < 20 ? 0 : uint8_t(1 + (x * 3 + y * 5) % 15);
    std::array<Rgb, 16> colours{};
    for (int i = 0; i < 16; i++)
        colours[i] = Rgb{uint8_t(i * 16), uint8_t(255 - i), uint8_t(i)};
    Bytes file = BuildIcon16(image, colours, 0);
    EXPECT_EQ(file.size(), 6u + 16 + 40 + 64 + 32 * 16 + 32 * 4);
    IconInfo icon;
    std::string error;
    ASSERT_TRUE(ParseIcon16(file.data(), file.size(), &icon, &error)) << error;
    EXPECT_EQ(icon.headerHeight, 64); // colour picture and mask
    EXPECT_TRUE(icon.colours == colours);
    EXPECT_EQ(icon.pixels.pixels, image.pixels);
    for (int y = 0; y < 32; y++)
        for (int x = 0; x < 32; x++)
            ASSERT_EQ(icon.mask.At(x, y), x + y < 20) << x << ", " << y;
}
