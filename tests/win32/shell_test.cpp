// The shell under Wine: start-up with altered string tables, the character
// window's class and style, painting before the assets, and the command
// dispatch.
#include "app/app.h"
#include "behaviour/behaviour.h"
#include "harness.h"
#include "sprite/sprite.h"
#include <gtest/gtest.h>

using harness::Process;

namespace {
constexpr DWORD ExitTimeoutMs = 15000;

// Runs a variant until it exits; fails if it ever shows a character window.
void ExpectQuietExit(const char *variant)
{
    Process process(harness::Variant(variant));
    ASSERT_TRUE(process.Started()) << variant;
    DWORD code = STILL_ACTIVE;
    for (DWORD waited = 0; code == STILL_ACTIVE && waited < ExitTimeoutMs; waited += 50) {
        EXPECT_EQ(harness::FindCharacterWindow(process.Id(), 0), nullptr) << variant;
        code = process.Wait(50);
    }
    EXPECT_EQ(code, 0u) << variant;
}

// The character window created in this process, torn down afterwards.
struct InProcessWindow : ::testing::Test {
    void SetUp() override
    {
        instance = GetModuleHandleA(nullptr);
        AppInstance = nullptr;
        ASSERT_NE(RegisterMainClass(instance), 0);
        ASSERT_EQ(CreateMainWindow(instance, SW_HIDE), 1);
    }
    void TearDown() override
    {
        DestroyWindow(MainWindow);
        MSG message; // the quit request the destruction posts
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        }
        UnregisterClassA("KOV_DesktopToyClass", instance);
        MainWindow = nullptr;
    }
    HINSTANCE instance = nullptr;
};

int TimerTicks;
void CALLBACK CountTick(HWND, UINT, UINT_PTR, DWORD)
{
    ++TimerTicks;
}
} // namespace

TEST(Startup, MissingConfigurationStringsEndQuietlyWithCodeZero)
{
    ExpectQuietExit("notitle"); // string 1
    ExpectQuietExit("nocount"); // string 10
    ExpectQuietExit("nowidth"); // string 1003
}

TEST(Startup, CharacterWindowIsAFrameSizedTopmostToolWindow)
{
    Process nelko(harness::CharacterProgram(), "/ignored --arguments");
    HWND window = harness::FindCharacterWindow(nelko.Id(), ExitTimeoutMs);
    ASSERT_NE(window, nullptr);
    for (int tries = 0; !IsWindowVisible(window) && tries < 100; ++tries)
        Sleep(50);

    LONG style = GetWindowLongA(window, GWL_STYLE);
    EXPECT_EQ(style & (WS_POPUP | WS_CHILD | WS_CAPTION | WS_BORDER | WS_THICKFRAME | WS_SYSMENU),
              static_cast<LONG>(WS_POPUP));
    EXPECT_TRUE(style & WS_VISIBLE);
    LONG exStyle = GetWindowLongA(window, GWL_EXSTYLE);
    EXPECT_EQ(exStyle & (WS_EX_TOOLWINDOW | WS_EX_TOPMOST | WS_EX_APPWINDOW),
              WS_EX_TOOLWINDOW | WS_EX_TOPMOST);
    RECT rect;
    GetWindowRect(window, &rect);
    EXPECT_EQ(rect.right - rect.left, 64);
    EXPECT_EQ(rect.bottom - rect.top, 128);
    char title[80];
    GetWindowTextA(window, title, sizeof title);
    EXPECT_STREQ(title, "Nelko");
    EXPECT_EQ(GetClassLongA(window, GCL_STYLE), 0u); // no double clicks
    EXPECT_EQ(GetClassLongPtrA(window, GCLP_HICON), 0);
    EXPECT_EQ(GetClassLongPtrA(window, GCLP_HBRBACKGROUND), 0);

    PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(nelko.Wait(ExitTimeoutMs), 0u);
}

TEST(Startup, LongNameIsCutTo63Characters)
{
    Process nelko(harness::Variant("longtitle"));
    HWND window = harness::FindCharacterWindow(nelko.Id(), ExitTimeoutMs);
    ASSERT_NE(window, nullptr);
    char title[80];
    EXPECT_EQ(GetWindowTextA(window, title, sizeof title), 63);
    EXPECT_STREQ(title, "Nelko the Desktop Character Who Walks Runs Waves and Dances All");
    PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(nelko.Wait(ExitTimeoutMs), 0u);
}

TEST_F(InProcessWindow, PaintBeforeTheAssetsValidatesAndTheTimerStillFires)
{
    int wasReady = AssetsReady; // another test in this process may have loaded them
    AssetsReady = 0;
    TimerTicks = 0;
    SetTimer(MainWindow, 77, 15, CountTick);
    InvalidateRect(MainWindow, nullptr, FALSE);
    // Pump everything but the deferred set-up, so the assets never load.
    DWORD start = GetTickCount();
    while (GetTickCount() - start < 400) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            if (message.message != WM_USER)
                DispatchMessageA(&message);
        Sleep(5);
    }
    KillTimer(MainWindow, 77);
    EXPECT_GE(TimerTicks, 5);
    RECT update;
    EXPECT_FALSE(GetUpdateRect(MainWindow, &update, FALSE)) << "the window is still invalid";
    AssetsReady = wasReady;
}
