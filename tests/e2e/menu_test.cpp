// The popup menu's commands as a user picks them, and the About box.
#include "character.h"
#include <X11/keysym.h>
#include <gtest/gtest.h>

using namespace e2e;

namespace {

struct Menu : ::testing::Test {
    void SetUp() override
    {
        nelko = std::make_unique<Character>(session);
        ASSERT_TRUE(nelko->WaitForRest(art));
    }
    // Drags the figure so that its window's left edge lands at left.
    void DragTo(int left)
    {
        nelko->Drag(left - nelko->Where().x, 0);
        ASSERT_TRUE(nelko->WaitForRest(art));
        ASSERT_EQ(nelko->Where().x, left);
    }
    Art art;
    Session session;
    std::unique_ptr<Character> nelko;
};

} // namespace

TEST_F(Menu, OpensAtThePointer)
{
    int x, y;
    Rect menu = nelko->OpenMenu(&x, &y);
    EXPECT_EQ(menu.x, x);
    EXPECT_EQ(menu.y, y);
    EXPECT_GT(menu.height, 11 * 10) << "eleven entries";
    session.Click(10, 10); // away from the menu: it closes and nothing runs
    Session::Sleep(500);
    EXPECT_EQ(nelko->Frame(art), RestFrame);
}

TEST_F(Menu, WalkAndRunCommandsEndWhereTheyMust)
{
    struct Case {
        Command command;
        int dx, dy;
    } cases[] = {
        {GoLeft, -96, 0},   // 24 steps of 4
        {RunRight, 144, 0}, // 12 steps of 12
        {GoUp, 0, -96},     {GoDown, 0, 96}, {RunLeft, -144, 0}, {GoRight, 96, 0},
    };
    for (const Case &c : cases) {
        Rect before = nelko->Where();
        nelko->Pick(c.command);
        Session::Sleep(400);
        ASSERT_TRUE(nelko->WaitForRest(art)) << "command " << c.command;
        Rect after = nelko->Where();
        EXPECT_EQ(after.x - before.x, c.dx) << "command " << c.command;
        EXPECT_EQ(after.y - before.y, c.dy) << "command " << c.command;
    }
}

TEST_F(Menu, GoingLeftStopsShortOfTheScreenEdge)
{
    DragTo(50);
    nelko->Pick(GoLeft);
    Session::Sleep(400);
    ASSERT_TRUE(nelko->WaitForRest(art));
    EXPECT_EQ(nelko->Where().x, 2);
}

TEST_F(Menu, RandomActsByItselfUntilAnotherCommand)
{
    Rect start = nelko->Where();
    nelko->Pick(Random);
    // The first action starts at once; later ones come on about one idle
    // tick in fifty, so allow a long wait for a second one.
    bool moved = session.WaitFor(
        [&] {
            Rect now = nelko->Where();
            return now.x != start.x || now.y != start.y || nelko->Frame(art) != RestFrame;
        },
        30000);
    ASSERT_TRUE(moved) << "nothing happened in random mode";
    nelko->Pick(Dance);
    Session::Sleep(400);
    ASSERT_TRUE(nelko->WaitForRest(art));
    Rect rest = nelko->Where();
    // Random mode is over: Nelko stays put on its rest frame.
    for (int i = 0; i < 40; ++i) {
        Session::Sleep(100);
        ASSERT_EQ(nelko->Frame(art), RestFrame) << "still acting after Dance";
        ASSERT_EQ(nelko->Where().x, rest.x);
        ASSERT_EQ(nelko->Where().y, rest.y);
    }
}

TEST_F(Menu, AboutBoxShowsThePictureCentredAndCloses)
{
    for (bool byEscape : {true, false}) {
        nelko->Pick(AboutNelko);
        Window box = session.FindWindow("About Nelko", 10000);
        ASSERT_NE(box, 0u) << session.Describe();
        Session::Sleep(500);
        // The X window is the box's client area: 220x127 with Wine's metrics
        // (the box 226x152 at 399,308, less its frame and caption).
        Rect outer = session.Geometry(box);
        EXPECT_EQ(outer.width, 220);
        EXPECT_EQ(outer.height, 127);
        EXPECT_EQ(outer.x, 399 + 3);
        EXPECT_EQ(outer.y, 308 + 22);
        // The client area (the X window holds the frame too) shows the picture
        // from its top-left corner; its last row may be cut off.
        Image screen = session.Grab(outer);
        int bestWrong = art.aboutWidth() * art.aboutHeight();
        for (int oy = 0; oy + 127 <= outer.height; ++oy)
            for (int ox = 0; ox + art.aboutWidth() <= outer.width; ++ox) {
                int wrong = 0;
                for (int y = 0; y < 127 && wrong < bestWrong; y += 3)
                    for (int x = 0; x < art.aboutWidth(); x += 3)
                        wrong +=
                            screen.At(outer.x + ox + x, outer.y + oy + y) != art.AboutPixel(x, y);
                bestWrong = std::min(bestWrong, wrong);
            }
        EXPECT_EQ(bestWrong, 0) << "the About picture is not on the screen";
        if (byEscape) {
            session.MovePointer(outer.x + outer.width / 2, outer.y + outer.height / 2);
            session.Key(box, XK_Escape);
        } else {
            session.Click(outer.x + outer.width / 2, outer.y + outer.height / 2);
        }
        EXPECT_TRUE(session.WaitFor([&] { return !session.Mapped(box); }, 5000))
            << (byEscape ? "Escape" : "a click") << " did not close the box";
        // What the box covered of the figure is painted again.
        EXPECT_TRUE(session.WaitFor([&] { return nelko->Frame(art) == RestFrame; }, 3000))
            << "Nelko is not shown whole after the box closed";
    }
    EXPECT_TRUE(session.Running(nelko->pid()));
}

TEST_F(Menu, ByeByeEndsWithExitCodeZero)
{
    nelko->Pick(ByeBye);
    EXPECT_EQ(nelko->Exit(), 0);
}

TEST_F(Menu, AfterTheAboutBoxNelkoStillObeysAndShowsWhole)
{
    for (bool byEscape : {true, false}) {
        nelko->Pick(AboutNelko);
        Window box = session.FindWindow("About Nelko", 10000);
        ASSERT_NE(box, 0u) << session.Describe();
        Rect outer = session.Geometry(box);
        session.MovePointer(outer.x + outer.width / 2, outer.y + outer.height / 2);
        if (byEscape)
            session.Key(box, XK_Escape);
        else
            session.Click(outer.x + outer.width / 2, outer.y + outer.height / 2);
        ASSERT_TRUE(session.WaitFor([&] { return !session.Mapped(box); }, 5000));
        // A menu over the figure, then a command: the figure is shown whole
        // and acts, the place the menu covered repainted.
        nelko->Pick(Wave);
        bool waved = session.WaitFor(
            [&] {
                int f = nelko->Frame(art);
                return f >= 49 && f <= 66;
            },
            5000);
        EXPECT_TRUE(waved) << "no wave frame after the About box, closed by "
                           << (byEscape ? "Escape" : "a click");
        EXPECT_TRUE(nelko->WaitForRest(art)) << "the rest frame is not shown whole";
    }
}
