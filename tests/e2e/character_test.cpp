// Nelko alive on the screen: its outline, the click that makes it dance and
// the drag that moves it. End states and the order of sampled frames only.
#include "character.h"
#include <gtest/gtest.h>

using namespace e2e;

namespace {

// What the screen showed while something ran: the candidate frames of each
// sample, consecutive repeats folded.
std::vector<std::vector<int>> SampleFrames(Character &nelko, const Art &art, int ms)
{
    std::vector<std::vector<int>> seen;
    for (int waited = 0; waited < ms; waited += 20) {
        std::vector<int> frames = art.Candidates(nelko.Screen());
        if (!frames.empty() && (seen.empty() || seen.back() != frames))
            seen.push_back(frames);
        Session::Sleep(20);
    }
    return seen;
}

// The samples read as frames rising through first..last: each sample can be
// given a candidate above the one before (repeated poses have several).
bool RisesThrough(const std::vector<std::vector<int>> &samples, int first, int last)
{
    int previous = first - 1;
    for (const std::vector<int> &candidates : samples) {
        int next = 0;
        for (int f : candidates)
            if (f > previous && f <= last) {
                next = f;
                break;
            }
        if (!next)
            return false;
        previous = next;
    }
    return true;
}

std::string Show(const std::vector<std::vector<int>> &samples)
{
    std::string text;
    for (const std::vector<int> &candidates : samples) {
        for (size_t i = 0; i < candidates.size(); ++i)
            text += (i ? "/" : "") + std::to_string(candidates[i]);
        text += " ";
    }
    return text;
}

bool Danced(const std::vector<std::vector<int>> &samples)
{
    for (const std::vector<int> &candidates : samples)
        for (int f : candidates)
            if (f >= 67 && f < 86)
                return true;
    return false;
}

} // namespace

// Nelko started on a desktop of its own and standing still on its rest frame.
struct Nelko : ::testing::Test {
    void SetUp() override
    {
        ASSERT_TRUE(nelko.WaitForRest(art)) << "frame " << nelko.Frame(art);
        before = nelko.Where();
    }
    Art art;
    Session session;
    Character nelko{session};
    Rect before;
};

TEST_F(Nelko, StandsCentredOnItsRestFrameInExactlyItsOutline)
{
    Rect where = before;
    EXPECT_EQ(where.x, 480);
    EXPECT_EQ(where.y, 320);
    // Inside the window's rectangle the screen shows frame 86's figure and,
    // around it, the desktop: the outline is exact.
    Image screen = nelko.Screen();
    int wrong = 0;
    for (int y = 0; y < FrameHeight; ++y)
        for (int x = 0; x < FrameWidth; ++x)
            wrong += screen.At(where.x + x, where.y + y) != art.FramePixel(RestFrame, x, y);
    EXPECT_EQ(wrong, 0) << "pixels that differ from frame 86 on the desktop";
}

TEST_F(Nelko, AClickMakesItDanceInPlace)
{
    int x, y;
    nelko.PointOnFigure(&x, &y);
    session.Click(x, y);
    auto samples = SampleFrames(nelko, art, 2500);
    // The rest frame may show before the dance's first tick.
    while (!samples.empty() && samples.front() == std::vector<int>{RestFrame})
        samples.erase(samples.begin());
    ASSERT_GE(samples.size(), 5u) << Show(samples);
    EXPECT_TRUE(RisesThrough(samples, 67, 86)) << Show(samples);
    EXPECT_EQ(samples.back().back(), RestFrame) << "the dance ends on the rest pose";
    EXPECT_TRUE(nelko.WaitForRest(art));
    Rect after = nelko.Where();
    EXPECT_EQ(after.x, before.x);
    EXPECT_EQ(after.y, before.y);
}

TEST_F(Nelko, APressMovedFivePixelsIsStillAClick)
{
    nelko.Drag(5, 5, 1);
    auto samples = SampleFrames(nelko, art, 900);
    EXPECT_TRUE(Danced(samples)) << Show(samples);
    EXPECT_TRUE(nelko.WaitForRest(art));
    EXPECT_EQ(nelko.Where().x, before.x);
    EXPECT_EQ(nelko.Where().y, before.y);
}

TEST_F(Nelko, ADragMovesItWithThePointerAndDoesNotDance)
{
    nelko.Drag(-200, -100);
    auto samples = SampleFrames(nelko, art, 1000);
    EXPECT_FALSE(Danced(samples)) << "after a drag: " << Show(samples);
    Rect after = nelko.Where();
    // The window follows from the move after the one that starts the drag.
    EXPECT_EQ(after.x, before.x - 200);
    EXPECT_EQ(after.y, before.y - 100);
}
