// The behaviour step's own CPU cost: ticks of walks (and of the idle choice in
// random mode) against platform calls that do nothing but count.
#include "app/app.h"
#include "behaviour/behaviour.h"
#include "sprite/sprite.h"
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

static unsigned long Presents, Sounds, WindowRects;

void BehaviourWindowRect(HWND, RECT *rect)
{
    ++WindowRects;
    *rect = CharacterRect;
}
void BehaviourPresent(HWND)
{
    ++Presents;
}
void BehaviourPlaySound(uint16_t)
{
    ++Sounds;
}

static double CpuSeconds()
{
    timespec now;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

const int TicksPerBatch = 1000;
const int Batches = 5000;

// CPU microseconds per 1,000 ticks: the median and the best of the batches.
template <typename Step> static void Measure(const char *what, Step step)
{
    std::vector<double> batches;
    for (int b = 0; b < Batches; ++b) {
        double start = CpuSeconds();
        for (int i = 0; i < TicksPerBatch; ++i)
            step();
        batches.push_back((CpuSeconds() - start) * 1e6);
    }
    std::sort(batches.begin(), batches.end());
    double median = batches[batches.size() / 2];
    std::printf("%-44s %8.2f us per 1,000 ticks (best %.2f), %.1f ns per tick\n", what, median,
                batches.front(), median * 1000.0 / TicksPerBatch);
}

int main()
{
    FrameWidth = 64, FrameHeight = 128;
    ScreenWidth = 1024, ScreenHeight = 768;
    CharacterRect = RECT{480, 320, 544, 448};
    HWND window = reinterpret_cast<HWND>(1);
    SeedRandomWith(1000000000);

    // Walks to and fro: 24 moving ticks, a stop tick and a rest tick each.
    bool left = false;
    Measure("walking (go left, go right, ...)", [&] {
        if (BehaviourState == Idle) {
            left ? StartGoLeft() : StartGoRight();
            left = !left;
        }
        BehaviourTick(window, 0, BehaviourTimerId, 0);
    });
    // Random mode: the one-in-fifty draw, the picks and the actions they start.
    RandomMode = 1;
    Measure("random mode (draws, picks and actions)", [&] {
        BehaviourTick(window, 0, BehaviourTimerId, 0);
        CharacterRect = RECT{480, 320, 544, 448}; // keep clear of the edges
    });
    std::printf("(%lu presents, %lu sounds, %lu window rectangles recorded)\n", Presents, Sounds,
                WindowRects);
    std::printf("target: the behaviour step under 5 us per tick\n");
    return 0;
}
