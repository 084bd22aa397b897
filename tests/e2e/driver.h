// End-to-end driver: a private Xvfb display, Windows programs under Wine on
// it, real input through XTest, and what the X server shows.
#pragma once
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

typedef struct _XDisplay Display;

namespace e2e {

// An X window id (kept free of Xlib's headers, whose macros clash with tests).
typedef unsigned long Window;

struct Rect {
    int x = 0, y = 0, width = 0, height = 0;
};

// Pixels of the root window, 0xRRGGBB.
struct Image {
    int x = 0, y = 0, width = 0, height = 0;
    std::vector<uint32_t> pixels;
    uint32_t At(int px, int py) const { return pixels[(py - y) * width + (px - x)]; }
};

class Session {
  public:
    // depth 24 or 8 (a palette device).
    explicit Session(int width = 1024, int height = 768, int depth = 24);
    ~Session();
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    // Paints the root window one colour (0xRRGGBB), as xsetroot -solid does.
    void SetRootColour(uint32_t rgb);

    // Starts a Windows program under Wine on this display: a path relative to
    // the win32 build folder, an absolute one, or a Windows path. Returns the
    // process id.
    pid_t Start(const std::string &program, const std::vector<std::string> &args = {},
                const std::vector<std::string> &env = {});
    // Waits for a started process; returns its exit code, or -1 on timeout.
    int WaitExit(pid_t pid, int timeoutMs);
    bool Running(pid_t pid);

    // The first mapped window whose title is title, or 0 after timeoutMs.
    Window FindWindow(const std::string &title, int timeoutMs = 15000);
    // Every mapped top-level window (for menus, which have no title).
    std::vector<Window> TopLevelWindows();
    std::string Title(Window window);
    // The titles of the mapped top-level windows, for failure messages.
    std::string Describe();
    bool Mapped(Window window);
    Rect Geometry(Window window);
    // The window's bounding shape in window coordinates (one rectangle for
    // an unshaped window).
    std::vector<Rect> Shape(Window window);
    Image Grab(const Rect &area);

    // Real input.
    void MovePointer(int x, int y);
    void Press(int button);
    void Release(int button);
    void Click(int x, int y, int button = 1);
    // Keys are keysyms (XK_Escape ...). Moves the pointer onto the window
    // first: with no window manager, focus follows the pointer.
    void Key(Window target, unsigned long keysym);

    // Polls until predicate holds or timeoutMs passes; returns the last result.
    template <class F> bool WaitFor(F predicate, int timeoutMs)
    {
        for (int waited = 0;; waited += 50) {
            if (predicate())
                return true;
            if (waited >= timeoutMs)
                return false;
            Sleep(50);
        }
    }
    static void Sleep(int ms);

    Display *display() const { return display_; }
    int width() const { return width_; }
    int height() const { return height_; }
    std::string displayName() const { return displayName_; }

  private:
    void Sync();
    static void EndWine(); // ends every Wine process of the prefix
    int width_, height_;
    pid_t xvfb_ = 0;
    std::string displayName_;
    Display *display_ = nullptr;
    std::vector<pid_t> started_;
};

// The environment variable's value, or fallback when it is unset or empty.
std::string EnvOr(const char *name, const std::string &fallback);

// The Windows tree the tests run: "win32", or "win64" (the same programs
// built for x86-64) on a machine that runs no 32-bit code, as
// scripts/wine-env.sh finds out or NELKO_WINDOWS says.
std::string WindowsTree();

// Its build folder: NELKO_WIN32_DIR when set, else the configured one
// (build/win32), build/win64 beside it for the x86-64 build.
std::string Win32Dir();

} // namespace e2e
