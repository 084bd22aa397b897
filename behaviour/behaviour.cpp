// The behaviour state machine: each timer tick takes one step of the current
// action from the action table, and the idle character in random mode picks
// its next action itself.
#include "behaviour/behaviour.h"
#include "app/app.h"
#include "resources/ids.h"
#include "sprite/sprite.h"

uint8_t BehaviourState = ReturningToRest;
uint16_t CurrentFrame;
uint16_t CycleCount;
RECT CharacterRect;
uint32_t RandomMode;
uint32_t PickNow;

namespace {
// The screen edge an action heads for; its test stops the action before the
// window would reach that edge.
enum Edge : uint8_t { NoEdge, LeftEdge, RightEdge, TopEdge, BottomEdge };

struct Action {
    uint8_t state;
    // The starter sets the frame before the run's first, never shown: the
    // first tick steps past it. A pass ends when the frame goes beyond the
    // run's last; the next pass begins on its first.
    FrameRun frames;
    uint16_t step; // frames per tick
    uint16_t passes;
    int32_t dx, dy; // pixels per tick
    Edge edge;
    uint16_t soundFrame; // the sound starts on the tick that shows this frame
    uint16_t soundId;    // 0: none
};

// One row per action state, in state order; command n starts the row of state n + 1.
// clang-format off
constexpr Action Actions[] = {
    // state        frames             step passes dx   dy  edge        sound frame, id
    {GoingLeft,     WalkLeftFrames,    1,   2,     -4,   0, LeftEdge,   0, 0},
    {GoingRight,    WalkRightFrames,   1,   2,     +4,   0, RightEdge,  0, 0},
    {RunningLeft,   WalkLeftFrames,    2,   2,     -12,  0, LeftEdge,   0, 0},
    {RunningRight,  WalkRightFrames,   2,   2,     +12,  0, RightEdge,  0, 0},
    {GoingUp,       WalkAwayFrames,    1,   2,     0,   -4, TopEdge,    0, 0},
    {GoingDown,     WalkTowardsFrames, 1,   2,     0,   +4, BottomEdge, 0, 0},
    {Waving,        WaveFrames,        1,   1,     0,    0, NoEdge,     GreetingFrame, IDW_WAVING},
    {Dancing,       DanceFrames,       1,   1,     0,    0, NoEdge,     JingleFrame, IDW_DANCING},
};
// clang-format on
constexpr uint8_t ActionCount = sizeof Actions / sizeof Actions[0];

constexpr bool RowsInStateOrder()
{
    for (uint8_t i = 0; i < ActionCount; ++i)
        if (Actions[i].state != GoingLeft + i)
            return false;
    return true;
}
static_assert(RowsInStateOrder(), "the action table is indexed by state");

const uint16_t PickOneIn = 50;     // the idle character acts on about one tick in this many
const uint16_t CommandChoices = 9; // command numbers drawn by the idle choice; 0 is redrawn

const Action *RowOf(uint8_t state)
{
    return state >= GoingLeft && state < GoingLeft + ActionCount ? &Actions[state - GoingLeft]
                                                                 : nullptr;
}

// The room left between the window's leading edge, once moved one step, and
// the screen's edge it heads for; negative when the step would cross it.
int32_t Room(const Action &action, const RECT &rect)
{
    int32_t frameWidth = FrameWidth, frameHeight = FrameHeight;
    int32_t screenWidth = ScreenWidth, screenHeight = ScreenHeight;
    switch (action.edge) {
    case LeftEdge: return rect.left + action.dx;
    case RightEdge: return screenWidth - (rect.left + frameWidth + action.dx);
    case TopEdge: return rect.top + action.dy;
    case BottomEdge: return screenHeight - (rect.top + frameHeight + action.dy);
    case NoEdge: break;
    }
    return 0;
}

void StartAction(uint8_t state)
{
    BehaviourWindowRect(MainWindow, &CharacterRect);
    CurrentFrame = static_cast<uint16_t>(RowOf(state)->frames.first - 1);
    CycleCount = 0;
    BehaviourState = state;
}

// One tick of a running action: advance the frame, end the pass or the
// action, stop short of the screen edge, move, sound, show.
void ActionStep(HWND window, const Action &action)
{
    CurrentFrame = static_cast<uint16_t>(CurrentFrame + action.step);
    if (CurrentFrame > action.frames.last) {
        CycleCount = static_cast<uint16_t>(CycleCount + 1);
        if (CycleCount >= action.passes) {
            BehaviourState = ReturningToRest;
            return;
        }
        CurrentFrame = action.frames.first;
    }
    if (action.edge != NoEdge && Room(action, CharacterRect) <= 0) {
        BehaviourState = ReturningToRest;
        return;
    }
    CharacterRect.left += action.dx;
    CharacterRect.top += action.dy;
    if (action.soundId && CurrentFrame == action.soundFrame)
        BehaviourPlaySound(action.soundId);
    BehaviourPresent(window);
}

void ShowRest(HWND window)
{
    BehaviourState = Idle;
    CurrentFrame = RestFrame;
    CycleCount = 0;
    BehaviourPresent(window);
}

// In random mode and not under a drag: on about one tick in fifty, or at once
// after the "Random" command, start an action that has room for a step.
void IdleChoice(HWND window)
{
    if (!RandomMode || Dragging)
        return;
    if (!PickNow && NextRandom() % PickOneIn != 1)
        return;
    PickNow = 0;
    RECT rect;
    BehaviourWindowRect(window, &rect);
    for (;;) {
        uint16_t command = NextRandom() % CommandChoices;
        if (command == 0) // "Random" itself
            continue;
        const Action &action = *RowOf(static_cast<uint8_t>(command + 1));
        if (action.edge == NoEdge || Room(action, rect) >= 0) {
            StartAction(action.state);
            return;
        }
    }
}
} // namespace

void CALLBACK BehaviourTick(HWND window, UINT, UINT_PTR, DWORD)
{
    if (BehaviourState == Idle)
        IdleChoice(window);
    else if (BehaviourState == ReturningToRest)
        ShowRest(window);
    else if (const Action *action = RowOf(BehaviourState))
        ActionStep(window, *action);
}

void ReturnToRest()
{
    CurrentFrame = RestFrame;
    CycleCount = 0;
    BehaviourState = ReturningToRest;
}

void StartGoLeft()
{
    StartAction(GoingLeft);
}
void StartGoRight()
{
    StartAction(GoingRight);
}
void StartRunLeft()
{
    StartAction(RunningLeft);
}
void StartRunRight()
{
    StartAction(RunningRight);
}
void StartGoUp()
{
    StartAction(GoingUp);
}
void StartGoDown()
{
    StartAction(GoingDown);
}
void StartWave()
{
    StartAction(Waving);
}
void StartDance()
{
    StartAction(Dancing);
}
