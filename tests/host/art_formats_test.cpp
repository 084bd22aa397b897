// The WAVE and icon writers against their readers.
#include "tools/icon.h"
#include "tools/wave.h"

#include <gtest/gtest.h>

TEST(Wave, HeaderFieldsAndPadding)
{
    struct Case {
        const char *what;
        uint32_t rate;
        size_t samples;
    } cases[] = {
        {"even count", 22050, 6},
        {"odd count: the data chunk is padded, its size is not", 22255, 5},
        {"no samples", 11025, 0},
    };
    for (const Case &c : cases) {
        Bytes samples(c.samples, 0);
        for (size_t i = 0; i < c.samples; i++)
            samples[i] = uint8_t(100 + i);
        Bytes file = BuildWave(c.rate, samples);
        EXPECT_EQ(file.size(), 44 + c.samples + c.samples % 2) << c.what;
        WaveInfo w;
        std::string error;
        ASSERT_TRUE(ParseWave(file.data(), file.size(), &w, &error)) << c.what << ": " << error;
        EXPECT_EQ(w.riffSize, file.size() - 8) << c.what;
        EXPECT_EQ(w.fmtSize, 16u);
        EXPECT_EQ(w.formatTag, 1);
        EXPECT_EQ(w.channels, 1);
        EXPECT_EQ(w.samplesPerSecond, c.rate);
        EXPECT_EQ(w.bytesPerSecond, c.rate);
        EXPECT_EQ(w.blockAlign, 1);
        EXPECT_EQ(w.bitsPerSample, 8);
        EXPECT_EQ(w.dataSize, c.samples) << c.what;
        EXPECT_EQ(w.samples, file.data() + 44);
        EXPECT_TRUE(std::equal(samples.begin(), samples.end(), w.samples)) << c.what;
    }
}

TEST(Wave, ReaderRefusesBrokenFiles)
{
    Bytes good = BuildWave(22050, Bytes(10, 128));
    struct Case {
        const char *what;
        size_t offset;
        uint32_t value;
    } cases[] = {
        {"RIFF size past the end", 4, 100},
        {"fmt chunk past the end", 16, 1000},
        {"data chunk past the end", 40, 11},
    };
    for (const Case &c : cases) {
        Bytes bad = good;
        SetU32(bad, c.offset, c.value);
        WaveInfo w;
        EXPECT_FALSE(ParseWave(bad.data(), bad.size(), &w, nullptr)) << c.what;
    }
    Bytes noData(good.begin(), good.begin() + 36);
    SetU32(noData, 4, 28);
    WaveInfo w;
    EXPECT_FALSE(ParseWave(noData.data(), noData.size(), &w, nullptr)) << "no data chunk";
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
