// What the end-to-end tests know of Nelko: the art the build drew (to tell
// which frame the screen shows) and the gestures a user makes.
#pragma once
#include "common/frames.h"
#include "driver.h"
#include <string>
#include <vector>

namespace e2e {

constexpr int FrameWidth = 64, FrameHeight = 128, FrameCount = 86;
constexpr uint32_t Desktop = 0xC000C0; // a root colour the art never uses
constexpr int ExitTimeoutMs = 15000;

// The generated pictures, as the win32 build embedded them.
class Art {
  public:
    Art(); // reads assets/frames.bmp and assets/about.bmp of the win32 build
    // The frames (1 to 86) that look exactly like what the screen shows in
    // the character window's rectangle, with the desktop colour outside the
    // figure (several where frames repeat a pose; none while the screen is
    // between two frames).
    std::vector<int> Candidates(const Image &screen) const;
    int Identify(const Image &screen) const; // the first candidate, or 0
    // True when the screen shows frame n exactly: its figure's pixels in their
    // colours and the desktop everywhere else.
    bool Shows(const Image &screen, int n) const;
    uint32_t FramePixel(int n, int x, int y) const; // 0xRRGGBB, or Desktop for the background
    uint32_t AboutPixel(int x, int y) const;
    int aboutWidth() const { return aboutWidth_; }
    int aboutHeight() const { return aboutHeight_; }

  private:
    int Mismatches(const Image &screen, int n, int limit) const;
    std::vector<uint32_t> strip_, about_; // 0xRRGGBB, Desktop for index 117 in the strip
    int stripWidth_ = 0, aboutWidth_ = 0, aboutHeight_ = 0;
};

// Nelko running on a session of its own.
class Character {
  public:
    explicit Character(Session &session, const std::string &program = "nelko.exe");
    Window window() const { return window_; }
    pid_t pid() const { return pid_; }
    Rect Where() { return session_.Geometry(window_); }
    Image Screen() { return session_.Grab(Where()); }
    int Frame(const Art &art) { return art.Identify(Screen()); }
    // Waits until the character rests on frame 86 at the same place for
    // stillMs; returns false after timeoutMs.
    bool WaitForRest(const Art &art, int stillMs = 700, int timeoutMs = 20000);
    // Right-clicks the figure; returns the popup menu's rectangle and where
    // the pointer was.
    Rect OpenMenu(int *pointerX = nullptr, int *pointerY = nullptr);
    // Right-clicks the figure and picks menu entry index.
    void Pick(int index);
    // Presses the left button on the figure, moves the pointer by (dx, dy) in
    // steps at a hand's pace, and releases it.
    void Drag(int dx, int dy, int steps = 10);
    // A point on the figure (inside the window's outline).
    void PointOnFigure(int *x, int *y);
    int Exit(int timeoutMs = ExitTimeoutMs) { return session_.WaitExit(pid_, timeoutMs); }

  private:
    Session &session_;
    pid_t pid_;
    Window window_;
};

// Commands of the popup menu, by index.
enum Command {
    Random = 0,
    GoLeft,
    GoRight,
    RunLeft,
    RunRight,
    GoUp,
    GoDown,
    Wave,
    Dance,
    AboutNelko,
    ByeBye
};

} // namespace e2e
