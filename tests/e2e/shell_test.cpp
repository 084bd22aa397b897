// The character window and the shell, as a user meets them.
#include "driver.h"
#include <X11/keysym.h>
#include <gtest/gtest.h>

using e2e::Session;
using e2e::Window;

namespace {
constexpr int ExitTimeoutMs = 10000;
}

TEST(Shell, EscapeEndsWithExitCodeZero)
{
    Session session;
    pid_t nelko = session.Start("nelko.exe");
    Window window = session.FindWindow("Nelko");
    ASSERT_NE(window, 0u) << "no window titled Nelko";
    // No voice service is registered here: Nelko runs without voice and
    // shows no message box ("Error" is the caption of one without its own).
    EXPECT_EQ(session.FindWindow("Error", 0), 0u) << session.Describe();
    EXPECT_EQ(session.FindWindow("Warning", 0), 0u) << session.Describe();
    e2e::Rect where = session.Geometry(window);
    EXPECT_EQ(where.width, 64);
    EXPECT_EQ(where.height, 128);
    session.MovePointer(where.x + 32, where.y + 64);
    session.Key(window, XK_Escape);
    EXPECT_EQ(session.WaitExit(nelko, ExitTimeoutMs), 0);
}

TEST(Shell, CommandLineAndShowStateAreIgnored)
{
    Session session;
    // "start /min" asks for a minimised window; the arguments mean nothing.
    pid_t nelko = session.Start(
        "C:\\windows\\system32\\start.exe",
        {"/min", "/wait", "/unix", e2e::Win32Dir() + "/nelko.exe", "/quit", "--help", "x"});
    Window window = session.FindWindow("Nelko");
    ASSERT_NE(window, 0u) << session.Describe();
    EXPECT_TRUE(session.Mapped(window));
    EXPECT_EQ(session.Geometry(window).width, 64);
    session.MovePointer(session.Geometry(window).x + 32, session.Geometry(window).y + 64);
    session.Key(window, XK_Escape);
    EXPECT_EQ(session.WaitExit(nelko, ExitTimeoutMs), 0);
}
