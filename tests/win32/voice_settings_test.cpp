// The speech setting, the feedback program and the speech-state messages.
#include "voice/voice.h"
#include "voice_support.h"
#include <gtest/gtest.h>
#include <string>
#include <vector>

using voicetest::Box;
using voicetest::Unowned;

namespace {

const char FailedReading[] = "Failed reading UseSpeech registry entry value.";
const char NoVoiceKey[] = "Error obtaining the UseSpeech variable from the registry, please "
                          "install the voice command service.";

class SpeechSettingTest : public ::testing::Test {
  protected:
    void SetUp() override { voicetest::RemoveFeedbackProgram(); }
    voicetest::SettingGuard setting;
    voicetest::BoxCatcher catcher;
};

TEST_F(SpeechSettingTest, ModeFollowsTheStoredSetting)
{
    enum Stored { Value, NoValue, NoKey };
    const uint64_t eight = 2;
    const BYTE one = 2;
    struct Case {
        const char *what;
        Stored stored;
        DWORD type;
        const void *data;
        DWORD size;
        int32_t mode;
        std::vector<Box> boxes;
    } cases[] = {
        {"1: no program started, recognition left off", Value, REG_DWORD, "\1\0\0\0", 4, 1, {}},
        {"2: recognition switched on", Value, REG_DWORD, "\2\0\0\0", 4, 2, {}},
        {"7: any other value is the mode", Value, REG_DWORD, "\7\0\0\0", 4, 7, {}},
        {"0xFFFFFFFF reads as -1: set-up ends, nothing shown",
         Value,
         REG_DWORD,
         "\xFF\xFF\xFF\xFF",
         4,
         -1,
         {}},
        {"8 bytes do not fit", Value, REG_QWORD, &eight, 8, -1, {Unowned(FailedReading)}},
        {"1 byte: the rest reads as zeros", Value, REG_BINARY, &one, 1, 2, {}},
        {"any type is read as its bytes: \"2\" is 0x32", Value, REG_SZ, "2", 2, 0x32, {}},
        {"no value", NoValue, 0, nullptr, 0, -1, {Unowned(FailedReading)}},
        {"no key", NoKey, 0, nullptr, 0, -1, {Unowned(NoVoiceKey)}},
        {"0 but no feedback program to start: set-up ends, nothing shown",
         Value,
         REG_DWORD,
         "\0\0\0\0",
         4,
         -1,
         {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        voicetest::RemoveVoiceKey();
        if (c.stored == Value)
            voicetest::SetUseSpeech(c.type, c.data, c.size);
        else if (c.stored == NoValue)
            voicetest::SetUseSpeech(REG_DWORD, "\1\0\0\0", 4), voicetest::RemoveUseSpeech();
        catcher.boxes.clear();
        EXPECT_EQ(PrepareSpeechMode(), c.mode);
        EXPECT_EQ(catcher.boxes, c.boxes);
    }
}

// The feedback program is started even when its window is already there; the
// first look finds the window, so there is no wait.
TEST_F(SpeechSettingTest, ZeroStartsTheFeedbackProgramAndFindsItsWindow)
{
    voicetest::FeedbackProgram program;
    ASSERT_TRUE(program.installed);
    voicetest::FeedbackWindow window;
    ASSERT_NE(window.window, nullptr);
    voicetest::SetUseSpeech(0);
    const DWORD start = GetTickCount();
    EXPECT_EQ(PrepareSpeechMode(), SpeechModeListening);
    EXPECT_LT(GetTickCount() - start, 5000u); // far short of the 12.5 s wait
    EXPECT_TRUE(catcher.boxes.empty());
}

// 50 looks 250 ms apart; then set-up goes on as if the window had come.
TEST_F(SpeechSettingTest, ZeroGoesOnAfterTheFeedbackWindowNeverAppears)
{
    voicetest::FeedbackProgram program;
    ASSERT_TRUE(program.installed);
    voicetest::SetUseSpeech(0);
    const DWORD start = GetTickCount();
    EXPECT_EQ(PrepareSpeechMode(), SpeechModeListening);
    EXPECT_GE(GetTickCount() - start, 12000u);
    EXPECT_TRUE(catcher.boxes.empty());
}

// Only the program beside this one: a Feedback.exe in the current folder is
// not started when there is none beside it.
TEST_F(SpeechSettingTest, ZeroStartsNoFeedbackProgramFromTheCurrentFolder)
{
    char temp[MAX_PATH], saved[MAX_PATH];
    ASSERT_TRUE(GetTempPathA(MAX_PATH, temp) && GetCurrentDirectoryA(MAX_PATH, saved));
    const std::string decoy = std::string(temp) + "Feedback.exe";
    ASSERT_TRUE(CopyFileA("C:\\windows\\system32\\hostname.exe", decoy.c_str(), FALSE));
    SetCurrentDirectoryA(temp);
    voicetest::SetUseSpeech(0);
    EXPECT_EQ(PrepareSpeechMode(), -1) << "the current folder's Feedback.exe was started";
    SetCurrentDirectoryA(saved);
    for (int tries = 0; tries < 50 && !DeleteFileA(decoy.c_str()); ++tries)
        Sleep(100);
}

TEST(SpeechMessages, RegistersBothNames)
{
    voicetest::BoxCatcher catcher;
    RegisterSpeechMessages();
    EXPECT_EQ(SpeechStartedMessage, RegisterWindowMessageA("WM_SPEECHSTARTED"));
    EXPECT_EQ(SpeechEndedMessage, RegisterWindowMessageA("WM_SPEECHENDED"));
    EXPECT_NE(SpeechStartedMessage, SpeechEndedMessage);
    EXPECT_GE(SpeechStartedMessage, 0xC000u); // a registered message, not 0
    EXPECT_TRUE(catcher.boxes.empty());
}

} // namespace
