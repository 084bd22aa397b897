// End-to-end driver over Xlib, XTest and the shape extension.
#include "driver.h"

#include <X11/Xlib.h>

#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/shape.h>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace e2e {

namespace {

std::string SourceDir()
{
    return NELKO_SOURCE_DIR;
}

// Runs a shell command to its end; returns its exit status.
int Shell(const std::string &command)
{
    int status = system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Windows come and go while the tests look at them: a request about one that
// is gone fails quietly instead of ending the test program.
int IgnoreXErrors(Display *, XErrorEvent *)
{
    return 0;
}

std::string WineSetup()
{
    return "source '" + SourceDir() + "/scripts/wine-env.sh'";
}

} // namespace

std::string EnvOr(const char *name, const std::string &fallback)
{
    const char *value = getenv(name);
    return value && *value ? value : fallback;
}

std::string WindowsTree()
{
    static const std::string tree = [] {
        const std::string set = EnvOr("NELKO_WINDOWS", "");
        if (!set.empty())
            return set;
        const std::string command =
            "bash -c \"" + WineSetup() + " && test \\$NELKO_WINDOWS = win64\" >/dev/null 2>&1";
        return std::string(Shell(command) == 0 ? "win64" : "win32");
    }();
    return tree;
}

std::string Win32Dir()
{
    std::string built = NELKO_WIN32_DIR;
    const std::string win32 = "/win32";
    if (WindowsTree() == "win64" && built.size() > win32.size() &&
        built.compare(built.size() - win32.size(), win32.size(), win32) == 0)
        built.replace(built.size() - win32.size(), win32.size(), "/win64");
    return EnvOr("NELKO_WIN32_DIR", built);
}

void Session::Sleep(int ms)
{
    timespec delay{ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&delay, &delay) == -1 && errno == EINTR) {
    }
}

Session::Session(int width, int height, int depth) : width_(width), height_(height)
{
    // The prefix exists once per run. Each session gets a wineserver of its
    // own: the server keeps the mouse buttons' state, and a release it never
    // saw (a program ended or killed mid-click) would hold a button down for
    // every later program.
    EndWine();
    if (Shell("bash -c \"" + WineSetup() + " && nelko_wine_prefix\"") != 0)
        throw std::runtime_error("cannot prepare the Wine prefix");

    int fds[2];
    if (pipe(fds) != 0)
        throw std::runtime_error("pipe");
    xvfb_ = fork();
    if (xvfb_ == 0) {
        // The display ends with the test program, even one killed by a timeout.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        close(fds[0]);
        std::string screen =
            std::to_string(width) + "x" + std::to_string(height) + "x" + std::to_string(depth);
        std::string fd = std::to_string(fds[1]);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(),
               "-nolisten", "tcp", "-noreset", static_cast<char *>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    char number[16] = {};
    ssize_t got = 0;
    for (ssize_t n; got < 15 && (n = read(fds[0], number + got, 15 - got)) > 0;) {
        got += n;
        if (memchr(number, '\n', got))
            break;
    }
    close(fds[0]);
    if (got <= 0)
        throw std::runtime_error("Xvfb did not start");
    displayName_ = ":" + std::to_string(atoi(number));
    XSetErrorHandler(IgnoreXErrors);
    display_ = XOpenDisplay(displayName_.c_str());
    if (!display_)
        throw std::runtime_error("cannot open " + displayName_);
}

Session::~Session()
{
    for (pid_t pid : started_) {
        if (kill(-pid, SIGKILL) == 0 || kill(pid, SIGKILL) == 0)
            waitpid(pid, nullptr, 0);
    }
    EndWine();
    if (display_)
        XCloseDisplay(display_);
    if (xvfb_ > 0) {
        kill(xvfb_, SIGTERM);
        waitpid(xvfb_, nullptr, 0);
    }
}

void Session::EndWine()
{
    Shell("bash -c \"" + WineSetup() + " && wineserver -k\" >/dev/null 2>&1");
}

void Session::Sync()
{
    XSync(display_, False);
}

void Session::SetRootColour(uint32_t rgb)
{
    Window root = DefaultRootWindow(display_);
    XColor colour = {};
    colour.red = static_cast<unsigned short>(((rgb >> 16) & 0xFF) * 257);
    colour.green = static_cast<unsigned short>(((rgb >> 8) & 0xFF) * 257);
    colour.blue = static_cast<unsigned short>((rgb & 0xFF) * 257);
    XAllocColor(display_, DefaultColormap(display_, DefaultScreen(display_)), &colour);
    XSetWindowBackground(display_, root, colour.pixel);
    XClearWindow(display_, root);
    Sync();
}

pid_t Session::Start(const std::string &program, const std::vector<std::string> &args,
                     const std::vector<std::string> &env)
{
    bool verbatim = program[0] == '/' || program.find('\\') != std::string::npos;
    std::string path = verbatim ? program : Win32Dir() + "/" + program;
    pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        setenv("DISPLAY", displayName_.c_str(), 1);
        for (const std::string &entry : env)
            putenv(strdup(entry.c_str()));
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        std::vector<std::string> words = {"bash", "-c", WineSetup() + " && exec wine \"$@\"",
                                          "wine", path};
        words.insert(words.end(), args.begin(), args.end());
        std::vector<char *> argv;
        for (std::string &word : words)
            argv.push_back(word.data());
        argv.push_back(nullptr);
        execvp("bash", argv.data());
        _exit(127);
    }
    started_.push_back(pid);
    return pid;
}

int Session::WaitExit(pid_t pid, int timeoutMs)
{
    for (int waited = 0; waited <= timeoutMs; waited += 20) {
        int status;
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            started_.erase(std::remove(started_.begin(), started_.end(), pid), started_.end());
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        Sleep(20);
    }
    return -1;
}

bool Session::Running(pid_t pid)
{
    return waitpid(pid, nullptr, WNOHANG) == 0;
}

std::vector<Window> Session::TopLevelWindows()
{
    std::vector<Window> found;
    Window root = DefaultRootWindow(display_), parent, *children = nullptr;
    unsigned count = 0;
    if (XQueryTree(display_, root, &root, &parent, &children, &count)) {
        for (unsigned i = 0; i < count; ++i)
            if (Mapped(children[i]))
                found.push_back(children[i]);
        XFree(children);
    }
    return found;
}

std::string Session::Title(Window window)
{
    char *name = nullptr;
    std::string title;
    if (XFetchName(display_, window, &name) && name) {
        title = name;
        XFree(name);
    }
    return title;
}

std::string Session::Describe()
{
    std::string text = "mapped windows:";
    for (Window window : TopLevelWindows()) {
        Rect r = Geometry(window);
        text += " \"" + Title(window) + "\" " + std::to_string(r.width) + "x" +
                std::to_string(r.height) + "+" + std::to_string(r.x) + "+" + std::to_string(r.y);
    }
    return text;
}

bool Session::Mapped(Window window)
{
    XWindowAttributes attributes;
    return XGetWindowAttributes(display_, window, &attributes) &&
           attributes.map_state == IsViewable;
}

Window Session::FindWindow(const std::string &title, int timeoutMs)
{
    Window result = 0;
    WaitFor(
        [&] {
            for (Window window : TopLevelWindows())
                if (Title(window) == title)
                    return (result = window) != 0;
            return false;
        },
        timeoutMs);
    return result;
}

Rect Session::Geometry(Window window)
{
    XWindowAttributes attributes;
    Rect rect;
    if (!XGetWindowAttributes(display_, window, &attributes))
        return rect;
    Window child;
    XTranslateCoordinates(display_, window, DefaultRootWindow(display_), 0, 0, &rect.x, &rect.y,
                          &child);
    rect.width = attributes.width;
    rect.height = attributes.height;
    return rect;
}

std::vector<Rect> Session::Shape(Window window)
{
    int count = 0, ordering = 0;
    std::vector<Rect> shape;
    XRectangle *rects = XShapeGetRectangles(display_, window, ShapeBounding, &count, &ordering);
    for (int i = 0; i < count; ++i)
        shape.push_back({rects[i].x, rects[i].y, rects[i].width, rects[i].height});
    if (rects)
        XFree(rects);
    return shape;
}

Image Session::Grab(const Rect &area)
{
    Image image;
    image.x = area.x, image.y = area.y, image.width = area.width, image.height = area.height;
    XImage *grabbed = XGetImage(display_, DefaultRootWindow(display_), area.x, area.y, area.width,
                                area.height, AllPlanes, ZPixmap);
    if (!grabbed)
        return image;
    Visual *visual = DefaultVisual(display_, DefaultScreen(display_));
    std::map<unsigned long, uint32_t> colours; // for a palette display
    image.pixels.resize(static_cast<size_t>(area.width) * area.height);
    for (int y = 0; y < area.height; ++y)
        for (int x = 0; x < area.width; ++x) {
            unsigned long pixel = XGetPixel(grabbed, x, y);
            uint32_t rgb;
            if (visual->c_class == TrueColor) {
                rgb = static_cast<uint32_t>(pixel & 0xFFFFFF);
            } else {
                auto known = colours.find(pixel);
                if (known == colours.end()) {
                    XColor colour;
                    colour.pixel = pixel;
                    XQueryColor(display_, DefaultColormap(display_, DefaultScreen(display_)),
                                &colour);
                    rgb = (colour.red >> 8) << 16 | (colour.green >> 8) << 8 | colour.blue >> 8;
                    colours[pixel] = rgb;
                } else {
                    rgb = known->second;
                }
            }
            image.pixels[static_cast<size_t>(y) * area.width + x] = rgb;
        }
    XDestroyImage(grabbed);
    return image;
}

void Session::MovePointer(int x, int y)
{
    XTestFakeMotionEvent(display_, DefaultScreen(display_), x, y, CurrentTime);
    Sync();
}

void Session::Press(int button)
{
    XTestFakeButtonEvent(display_, button, True, CurrentTime);
    Sync();
}

void Session::Release(int button)
{
    XTestFakeButtonEvent(display_, button, False, CurrentTime);
    Sync();
}

void Session::Click(int x, int y, int button)
{
    MovePointer(x, y);
    Sleep(60);
    Press(button);
    Sleep(60);
    Release(button);
}

void Session::Key(Window target, unsigned long keysym)
{
    Rect where = Geometry(target);
    (void)where;
    XSetInputFocus(display_, target, RevertToParent, CurrentTime);
    KeyCode code = XKeysymToKeycode(display_, keysym);
    XTestFakeKeyEvent(display_, code, True, CurrentTime);
    Sync();
    Sleep(30);
    XTestFakeKeyEvent(display_, code, False, CurrentTime);
    Sync();
}

} // namespace e2e
