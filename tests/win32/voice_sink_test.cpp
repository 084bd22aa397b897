// The notification sink: recognised commands run through the command table,
// leaving random mode as it was.
#include "app/app.h"
#include "behaviour/behaviour.h"
#include "voice/voice.h"
#include <cstring>
#include <gtest/gtest.h>

namespace {

class VoiceSinkTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        saved = {CommandCount, RandomMode, PickNow, BehaviourState, MainWindow};
        CommandCount = 11;
        RandomMode = 0;
        PickNow = 0;
        BehaviourState = Idle;
        sink = new VoiceNotifySink;
        sink->AddRef();
    }
    void TearDown() override
    {
        sink->Release();
        CommandCount = saved.count;
        RandomMode = saved.random;
        PickNow = saved.pickNow;
        BehaviourState = saved.state;
        MainWindow = saved.window;
    }
    // A recognised command whose action data is the given bytes.
    HRESULT Recognize(const void *action, DWORD size)
    {
        return sink->CommandRecognize(0, nullptr, 0, size,
                                      static_cast<BYTE *>(const_cast<void *>(action)), 0, nullptr,
                                      nullptr);
    }
    HRESULT RecognizeValue(uint32_t value) { return Recognize(&value, sizeof value); }

    struct {
        uint16_t count;
        uint32_t random, pickNow;
        uint8_t state;
        HWND window;
    } saved;
    VoiceNotifySink *sink = nullptr;
};

TEST_F(VoiceSinkTest, ActionValueRunsItsCommandAndLeavesRandomMode)
{
    struct Case {
        uint32_t value;
        uint16_t commandCount;
        uint32_t randomBefore;
        uint8_t state;       // expected afterwards
        uint32_t randomMode; // expected afterwards
        uint32_t pickNow;
    } cases[] = {
        {1, 11, 0, Idle, 1, 1},      // "Random" switches random mode on
        {2, 11, 1, GoingLeft, 1, 0}, // "Go Left" while random: random mode stays on
        {2, 11, 0, GoingLeft, 0, 0}, // ... and off stays off
        {9, 11, 1, Dancing, 1, 0},   // "Dance"
        {0, 11, 1, Idle, 1, 0},      // below the table: nothing runs
        {12, 11, 0, Idle, 0, 0},     // past the last command: nothing runs
        {0xFFFFFFFF, 11, 0, Idle, 0, 0},
        {6, 5, 0, Idle, 0, 0},         // "Go Up" exists but only five commands are offered
        {5, 5, 0, RunningRight, 0, 0}, // the fifth is
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "value " << c.value << ", count " << c.commandCount);
        CommandCount = c.commandCount;
        RandomMode = c.randomBefore;
        PickNow = 0;
        BehaviourState = Idle;
        EXPECT_EQ(RecognizeValue(c.value), S_OK);
        EXPECT_EQ(BehaviourState, c.state);
        EXPECT_EQ(RandomMode, c.randomMode);
        EXPECT_EQ(PickNow, c.pickNow);
    }
}

TEST_F(VoiceSinkTest, ByeByeAsksTheCharacterWindowToClose)
{
    MainWindow = CreateWindowExA(0, "STATIC", "stand-in", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                 nullptr, nullptr);
    ASSERT_NE(MainWindow, nullptr);
    EXPECT_EQ(RecognizeValue(11), S_OK);
    MSG message;
    EXPECT_TRUE(PeekMessageA(&message, MainWindow, WM_CLOSE, WM_CLOSE, PM_REMOVE));
    DestroyWindow(MainWindow);
}

// Action data that cannot hold a value is refused; longer data is read from
// its start, wherever it lies.
TEST_F(VoiceSinkTest, ActionDataTooShortOrMissingRunsNothing)
{
    BYTE bytes[12] = {};
    const uint32_t goLeft = 2;
    memcpy(bytes + 1, &goLeft, sizeof goLeft);
    struct Case {
        const BYTE *data;
        DWORD size;
        uint8_t state;
    } cases[] = {
        {nullptr, 4, Idle},        // no data
        {bytes + 1, 3, Idle},      // three bytes of a value
        {bytes + 1, 0, Idle},      // none
        {bytes + 1, 4, GoingLeft}, // odd address
        {bytes + 1, 8, GoingLeft}, // more than a value
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "size " << c.size);
        BehaviourState = Idle;
        EXPECT_EQ(Recognize(c.data, c.size), S_OK);
        EXPECT_EQ(BehaviourState, c.state);
        EXPECT_EQ(RandomMode, 0u);
    }
}

TEST_F(VoiceSinkTest, AnswersForItselfAndIUnknownOnly)
{
    struct Case {
        const IID *iid;
        HRESULT result;
    } cases[] = {
        {&IID_IUnknown, S_OK},
        {&IID_IVCmdNotifySinkA, S_OK},
        {&IID_IVoiceCmdA, E_NOINTERFACE},
        {&IID_IClassFactory, E_NOINTERFACE},
    };
    for (const Case &c : cases) {
        void *object = &object; // not null before the call
        EXPECT_EQ(sink->QueryInterface(*c.iid, &object), c.result);
        if (c.result == S_OK) {
            EXPECT_EQ(object, static_cast<IVCmdNotifySinkA *>(sink));
            EXPECT_EQ(sink->Release(), 1u); // the reference the answer took
        } else {
            EXPECT_EQ(object, nullptr);
            EXPECT_EQ(sink->AddRef(), 2u); // count unchanged by the refusal
            EXPECT_EQ(sink->Release(), 1u);
        }
    }
}

TEST(VoiceSink, CountsReferencesFromZeroAndDeletesItselfAtZero)
{
    VoiceNotifySink *sink = new VoiceNotifySink;
    EXPECT_EQ(sink->AddRef(), 1u);
    EXPECT_EQ(sink->AddRef(), 2u);
    EXPECT_EQ(sink->Release(), 1u);
    EXPECT_EQ(sink->Release(), 0u);
}

} // namespace
