// The behaviour engine ticked against recorded platform calls.
#include "behaviour_fake.h"
#include "app/app.h"
#include "resources/ids.h"
#include "sprite/sprite.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <cstdlib>

namespace {
const HWND Window = reinterpret_cast<HWND>(0x4E4C);

std::vector<uint16_t> Frames(uint16_t first, uint16_t last, uint16_t step = 1)
{
    std::vector<uint16_t> out;
    for (uint16_t f = first; f <= last; f = static_cast<uint16_t>(f + step))
        out.push_back(f);
    return out;
}

std::vector<uint16_t> Join(std::vector<uint16_t> a, const std::vector<uint16_t> &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<uint16_t> FramesOf(const std::vector<PlatformCall> &calls)
{
    std::vector<uint16_t> out;
    for (const PlatformCall &call : calls)
        out.push_back(call.frame);
    return out;
}

// The numbers the random source will give after SeedRandomWith(seed).
std::vector<uint16_t> Upcoming(uint32_t seed)
{
    SeedRandomWith(seed);
    std::vector<uint16_t> out;
    for (int i = 0; i < 32; ++i)
        out.push_back(NextRandom());
    SeedRandomWith(seed);
    return out;
}

// The first seed whose upcoming numbers satisfy `wanted`; the source is left seeded with it.
template <typename Wanted> std::vector<uint16_t> SeedWhere(Wanted wanted)
{
    for (uint32_t seed = 1;; ++seed) {
        std::vector<uint16_t> upcoming = Upcoming(seed);
        if (wanted(upcoming))
            return upcoming;
    }
}

// How many numbers were drawn since seeding, found from the next one.
size_t Drawn(const std::vector<uint16_t> &upcoming)
{
    uint16_t next = NextRandom();
    return static_cast<size_t>(std::find(upcoming.begin(), upcoming.end(), next) -
                               upcoming.begin());
}

struct BehaviourTest : ::testing::Test {
    void SetUp() override
    {
        FrameWidth = 64, FrameHeight = 128;
        ScreenWidth = 1024, ScreenHeight = 768;
        MainWindow = Window;
        Dragging = 0, RandomMode = 0, PickNow = 0;
        BehaviourState = Idle, CurrentFrame = RestFrame, CycleCount = 0;
        Fake = FakePlatform{};
        PlaceAt(480, 320);
        SeedRandomWith(1);
    }
    static void PlaceAt(int32_t left, int32_t top)
    {
        Fake.Place(left, top);
        CharacterRect = Fake.window;
    }
    static void Tick(int n = 1)
    {
        for (int i = 0; i < n; ++i)
            BehaviourTick(Window, 0, BehaviourTimerId, 0);
    }
    // Ticks until the running action stops (at most `limit` ticks); the ticks taken.
    static int TickUntilStopped(int limit = 40)
    {
        for (int ticks = 1; ticks <= limit; ++ticks) {
            Tick();
            if (BehaviourState == ReturningToRest)
                return ticks;
        }
        return -1;
    }
};
} // namespace

// A fresh process: not yet at rest, no frame, random mode off; the first tick
// shows the rest frame where the sprite loader put the character. Exits 0 when so.
static void FreshStart()
{
    bool initial = BehaviourState == ReturningToRest && CurrentFrame == 0 && CycleCount == 0 &&
                   RandomMode == 0 && PickNow == 0;
    CharacterRect = RECT{480, 320, 544, 448};
    BehaviourTick(Window, 0, BehaviourTimerId, 0);
    std::vector<PlatformCall> shown = Fake.Presents();
    bool rest = shown.size() == 1 && shown[0].frame == RestFrame && shown[0].left == 480 &&
                shown[0].top == 320 && BehaviourState == Idle;
    BehaviourTick(Window, 0, BehaviourTimerId, 0); // idle, random mode off
    std::exit(initial && rest && Fake.calls.size() == 1 ? 0 : 1);
}

// Run in a child that re-executes this test alone, before anything has ticked.
TEST(BehaviourStart, FirstTickShowsTheRestFrame)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(FreshStart(), ::testing::ExitedWithCode(0), "");
}

// Every action undisturbed: its frames in order, its moves, its sound, then a
// stop tick that shows nothing and a tick that shows the rest frame.
TEST_F(BehaviourTest, EveryActionRunsItsCourse)
{
    struct Case {
        const char *name;
        void (*starter)();
        uint8_t state;
        std::vector<uint16_t> frames;
        int32_t dx, dy;      // per shown frame
        uint16_t stopFrame;  // the advanced frame, never shown, on the stop tick
        uint16_t soundFrame; // 0: silent
        uint16_t soundId;
    } cases[] = {
        {"go left", StartGoLeft, GoingLeft, Join(Frames(13, 24), Frames(13, 24)), -4, 0, 25, 0, 0},
        {"go right", StartGoRight, GoingRight, Join(Frames(1, 12), Frames(1, 12)), 4, 0, 13, 0, 0},
        {"run left", StartRunLeft, RunningLeft, Join(Frames(14, 24, 2), Frames(13, 23, 2)), -12, 0,
         25, 0, 0},
        {"run right", StartRunRight, RunningRight, Join(Frames(2, 12, 2), Frames(1, 11, 2)), 12, 0,
         13, 0, 0},
        {"go up", StartGoUp, GoingUp, Join(Frames(37, 48), Frames(37, 48)), 0, -4, 49, 0, 0},
        {"go down", StartGoDown, GoingDown, Join(Frames(25, 36), Frames(25, 36)), 0, 4, 37, 0, 0},
        {"wave", StartWave, Waving, Frames(49, 66), 0, 0, 67, 56, IDW_WAVING},
        {"dance", StartDance, Dancing, Frames(67, 86), 0, 0, 87, 69, IDW_DANCING},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        PlaceAt(480, 320);
        CharacterRect = RECT{0, 0, 0, 0}; // the starter takes the window's rectangle
        RandomMode = 1, PickNow = 1;
        c.starter();
        EXPECT_EQ(BehaviourState, c.state);
        EXPECT_EQ(CycleCount, 0);
        EXPECT_EQ(CharacterRect.left, 480);
        EXPECT_EQ(CharacterRect.top, 320);
        EXPECT_TRUE(Fake.calls.empty()); // a starter shows nothing
        EXPECT_EQ(RandomMode + PickNow, 2u);

        int ticks = TickUntilStopped();
        int shown = static_cast<int>(c.frames.size());
        EXPECT_EQ(ticks, shown + 1);
        EXPECT_EQ(CurrentFrame, c.stopFrame);
        std::vector<PlatformCall> presents = Fake.Presents();
        EXPECT_EQ(FramesOf(presents), c.frames);
        for (size_t i = 0; i < presents.size(); ++i) {
            EXPECT_EQ(presents[i].left, 480 + c.dx * static_cast<int32_t>(i + 1)) << "tick " << i;
            EXPECT_EQ(presents[i].top, 320 + c.dy * static_cast<int32_t>(i + 1)) << "tick " << i;
        }
        std::vector<PlatformCall> sounds = Fake.Sounds();
        if (c.soundId) {
            ASSERT_EQ(sounds.size(), 1u);
            EXPECT_EQ(sounds[0].sound, c.soundId);
            EXPECT_EQ(sounds[0].frame, c.soundFrame);
        } else {
            EXPECT_TRUE(sounds.empty());
        }

        size_t before = Fake.calls.size();
        Tick(); // the rest frame where the action ended
        ASSERT_EQ(Fake.calls.size(), before + 1);
        const PlatformCall &rest = Fake.calls.back();
        EXPECT_EQ(rest.kind, PlatformCall::Present);
        EXPECT_EQ(rest.frame, RestFrame);
        EXPECT_EQ(rest.left, 480 + c.dx * shown);
        EXPECT_EQ(rest.top, 320 + c.dy * shown);
        EXPECT_EQ(BehaviourState, Idle);
        EXPECT_EQ(CycleCount, 0);
    }
}

// The edge tests: only the leading edge counts, a move is made only when that
// edge stays strictly inside the screen, and the stop tick presents nothing.
TEST_F(BehaviourTest, ActionsStopShortOfTheScreenEdge)
{
    struct Case {
        const char *name;
        void (*starter)();
        uint16_t screenWidth, screenHeight;
        int32_t left, top;
        int moves;
        int32_t endLeft, endTop;
        uint16_t stopFrame;
    } cases[] = {
        {"left from 50 stops at 2 after the wrap", StartGoLeft, 1024, 768, 50, 320, 12, 2, 320, 13},
        {"right from 700 stops at 732 on 800", StartGoRight, 800, 600, 700, 200, 8, 732, 200, 9},
        {"one step of room going left", StartGoLeft, 1024, 768, 4, 320, 0, 4, 320, 13},
        {"one step of room running right", StartRunRight, 800, 600, 724, 200, 0, 724, 200, 2},
        {"run left from 30 stops at 6", StartRunLeft, 1024, 768, 30, 320, 2, 6, 320, 18},
        {"up from 10 stops at 2", StartGoUp, 1024, 768, 480, 10, 2, 480, 2, 39},
        {"down from 460 stops at 468 on 600", StartGoDown, 800, 600, 300, 460, 2, 300, 468, 27},
        {"left while partly off the left edge", StartGoLeft, 1024, 768, -20, 320, 0, -20, 320, 13},
        {"right from partly off the left edge", StartGoRight, 800, 600, -20, 200, 24, 76, 200, 13},
        {"down from partly above the top", StartGoDown, 1024, 768, 480, -50, 24, 480, 46, 37},
        {"up from partly below the bottom", StartGoUp, 1024, 600, 480, 550, 24, 480, 454, 49},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        ScreenWidth = c.screenWidth, ScreenHeight = c.screenHeight;
        PlaceAt(c.left, c.top);
        c.starter();
        ASSERT_GT(TickUntilStopped(), 0);
        size_t callsBeforeStop = Fake.calls.size();
        EXPECT_EQ(static_cast<int>(Fake.Presents().size()), c.moves);
        EXPECT_EQ(CurrentFrame, c.stopFrame);
        EXPECT_EQ(CharacterRect.left, c.endLeft);
        EXPECT_EQ(CharacterRect.top, c.endTop);
        Tick();
        ASSERT_EQ(Fake.calls.size(), callsBeforeStop + 1);
        EXPECT_EQ(Fake.calls.back().frame, RestFrame);
        EXPECT_EQ(Fake.calls.back().left, c.endLeft);
        EXPECT_EQ(Fake.calls.back().top, c.endTop);
    }
}

// A command in the middle of a walk: the new action's first frame follows at
// once, from the window's real place, with its passes counted afresh.
TEST_F(BehaviourTest, StarterAbandonsTheRunningAction)
{
    StartGoLeft();
    Tick(13); // into the second pass
    ASSERT_EQ(CycleCount, 1);
    Fake.Place(100, 50); // the window stands elsewhere now
    Fake.calls.clear();
    StartGoRight();
    EXPECT_EQ(TickUntilStopped(), 25);
    EXPECT_EQ(FramesOf(Fake.Presents()), Join(Frames(1, 12), Frames(1, 12)));
    EXPECT_EQ(Fake.Presents().front().left, 104);
    EXPECT_EQ(CharacterRect.left, 196);

    SetUp();
    StartGoLeft();
    Tick(5);
    Fake.calls.clear();
    StartWave();
    Tick(18);
    EXPECT_EQ(FramesOf(Fake.Presents()), Frames(49, 66)); // no rest frame in between
}

// A click is a press (ReturnToRest) and a release (StartDance).
TEST_F(BehaviourTest, ClickDancesWithOrWithoutARestFrameFirst)
{
    StartGoLeft();
    Tick(3);
    Fake.calls.clear();
    ReturnToRest();
    EXPECT_EQ(BehaviourState, ReturningToRest);
    EXPECT_EQ(CurrentFrame, RestFrame);
    EXPECT_TRUE(Fake.calls.empty()); // the press shows nothing by itself
    StartDance();
    Tick();
    EXPECT_EQ(FramesOf(Fake.Presents()), std::vector<uint16_t>{67});

    SetUp();
    StartGoLeft();
    Tick(3);
    Fake.calls.clear();
    ReturnToRest();
    Tick(); // a tick between press and release shows the rest frame where the walk got to
    StartDance();
    Tick();
    std::vector<PlatformCall> presents = Fake.Presents();
    EXPECT_EQ(FramesOf(presents), (std::vector<uint16_t>{RestFrame, 67}));
    EXPECT_EQ(presents[0].left, 468);
}

// Idle ticks with random mode off, and a state no operation stores, do nothing.
TEST_F(BehaviourTest, QuietTicksDoNothing)
{
    std::vector<uint16_t> upcoming = Upcoming(7);
    Tick(200);
    EXPECT_EQ(BehaviourState, Idle);
    EXPECT_EQ(Drawn(upcoming), 0u);

    BehaviourState = 10;
    Tick(3);
    EXPECT_EQ(BehaviourState, 10);
    EXPECT_TRUE(Fake.calls.empty());
    EXPECT_EQ(Fake.windowRectCalls, 0);
}

// "Random" while idle: the next tick picks without the one-in-fifty draw; the
// pick presents nothing, its first frame comes on the tick after.
TEST_F(BehaviourTest, PickNowPicksOnTheNextIdleTick)
{
    std::vector<uint16_t> upcoming = SeedWhere([](auto &u) { return u[0] % 9 == 8; });
    RandomMode = 1, PickNow = 1;
    Tick();
    EXPECT_EQ(BehaviourState, Dancing);
    EXPECT_EQ(PickNow, 0u);
    EXPECT_EQ(RandomMode, 1u);
    EXPECT_TRUE(Fake.calls.empty());
    EXPECT_EQ(Drawn(upcoming), 1u);
    Tick();
    EXPECT_EQ(FramesOf(Fake.Presents()), std::vector<uint16_t>{67});

    // command 0 ("Random" itself) is drawn again
    SetUp();
    upcoming = SeedWhere([](auto &u) { return u[0] % 9 == 0 && u[1] % 9 == 7; });
    RandomMode = 1, PickNow = 1;
    Tick();
    EXPECT_EQ(BehaviourState, Waving);
    EXPECT_EQ(Drawn(upcoming), 2u);
}

TEST_F(BehaviourTest, WithoutPickNowOneDrawInFifty)
{
    RandomMode = 1;
    std::vector<uint16_t> upcoming = SeedWhere([](auto &u) { return u[0] % 50 != 1; });
    Tick();
    EXPECT_EQ(BehaviourState, Idle);
    EXPECT_EQ(Drawn(upcoming), 1u);

    upcoming = SeedWhere([](auto &u) { return u[0] % 50 == 1 && u[1] % 9 == 7; });
    Tick();
    EXPECT_EQ(BehaviourState, Waving);
    EXPECT_EQ(Drawn(upcoming), 2u);
}

// While a drag is under way the idle character draws nothing and a pending
// PickNow waits for the drag to end.
TEST_F(BehaviourTest, DragHoldsTheIdleChoice)
{
    std::vector<uint16_t> upcoming = SeedWhere([](auto &u) { return u[0] % 9 == 7; });
    RandomMode = 1, PickNow = 1, Dragging = 1;
    Tick(100);
    EXPECT_EQ(BehaviourState, Idle);
    EXPECT_EQ(PickNow, 1u);
    EXPECT_EQ(Fake.windowRectCalls, 0);
    EXPECT_EQ(Drawn(upcoming), 0u);

    SeedWhere([](auto &u) { return u[0] % 9 == 7; });
    Dragging = 0;
    Tick();
    EXPECT_EQ(BehaviourState, Waving);
    EXPECT_EQ(PickNow, 0u);
}

// The idle choice takes a move only with room for one full step from the
// window's real rectangle (equality allowed); wave and dance always.
TEST_F(BehaviourTest, IdleChoiceNeedsRoomForOneStep)
{
    struct Case {
        uint16_t command; // drawn first
        int32_t left, top;
        bool accepted;
    } cases[] = {
        {1, 4, 320, true},     // go left: 4 - 4 >= 0
        {1, 3, 320, false},    //
        {2, 956, 320, true},   // go right: 956 + 64 + 4 <= 1024
        {2, 957, 320, false},  //
        {3, 12, 320, true},    // run left: 12 - 12 >= 0
        {3, 11, 320, false},   //
        {4, 948, 320, true},   // run right: 948 + 64 + 12 <= 1024
        {4, 949, 320, false},  //
        {5, 480, 4, true},     // go up: 4 - 4 >= 0
        {5, 480, 3, false},    //
        {6, 480, 636, true},   // go down: 636 + 128 + 4 <= 768
        {6, 480, 637, false},  //
        {7, -500, -500, true}, // wave anywhere
        {8, 5000, 5000, true}, // dance anywhere
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << "command " << c.command << " at " << c.left << "," << c.top);
        SetUp();
        Fake.Place(c.left, c.top);
        CharacterRect = RECT{500, 300, 564, 428}; // roomy, but the window's place counts
        std::vector<uint16_t> upcoming = SeedWhere([&](auto &u) { return u[0] % 9 == c.command; });
        RandomMode = 1, PickNow = 1;
        Tick();
        uint8_t state = static_cast<uint8_t>(c.command + 1);
        if (c.accepted) {
            EXPECT_EQ(BehaviourState, state);
            EXPECT_EQ(Drawn(upcoming), 1u);
        } else {
            EXPECT_NE(BehaviourState, state);
            EXPECT_GE(BehaviourState, GoingLeft);
            EXPECT_GE(Drawn(upcoming), 2u);
        }
        EXPECT_EQ(CharacterRect.left, c.left); // the starter took the window's rectangle
    }
}
