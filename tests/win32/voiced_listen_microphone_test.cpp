// The hub's microphone through the real waveIn. The tests' Wine runs with
// its audio driver off, where there is no device: the capture thread must
// say so once, keep looking without a fuss, and stop at once when asked.
// With a device it must deliver samples.
#include "voiced/hub/microphone.h"
#include <gtest/gtest.h>
#include <atomic>
#include <mmsystem.h>

namespace {

TEST(Microphone, SaysWhetherThereIsOneOnceAndStopsAtOnce)
{
    std::atomic<int> opened{0}, missing{0};
    std::atomic<size_t> samples{0};
    Microphone mic({
        [&](const int16_t *, size_t count) { samples += count; },
        [&](bool open) { ++(open ? opened : missing); },
        nullptr, // every buffer handed on as it fills
    });
    ASSERT_TRUE(mic.Start());
    for (int waited = 0; waited < 3000 && opened + missing == 0; waited += 20)
        Sleep(20);
    ASSERT_EQ(opened + missing, 1) << "no word on the device after 3 s";
    Sleep(1000); // a buffer's worth and more
    const DWORD stopping = GetTickCount();
    mic.Stop();
    // The retry wait is a few seconds; stopping does not sit it out.
    EXPECT_LT(GetTickCount() - stopping, Microphone::RetryMs / 2);

    if (waveInGetNumDevs() == 0) {
        EXPECT_EQ(opened, 0);
        EXPECT_EQ(missing, 1) << "said once, not at every retry";
        EXPECT_EQ(samples, 0u);
    } else {
        EXPECT_EQ(opened, 1);
        EXPECT_EQ(missing, 1) << "closed when stopped";
        EXPECT_GT(samples, 0u);
    }
}

} // namespace
