// ./run as a user meets it on a desktop: a display, a home folder of its own
// and no sound server. Nelko shows up and ends with Escape, the first time
// (which makes the Wine prefix under the home folder) and every time after.
#include "voice.h"
#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace e2e;

namespace {

constexpr int FirstRunMs = 120000; // the prefix made, the voice service installed
constexpr int LaterRunMs = 40000;

// A fresh home folder, removed with the Wine processes of its prefix.
class FreshHome {
  public:
    FreshHome() : dir_(testing::TempDir() + "nelko-run-home-" + std::to_string(getpid()))
    {
        Remove();
        Run("mkdir -p '" + dir_ + "/runtime' && chmod 700 '" + dir_ + "/runtime'");
    }
    ~FreshHome() { Remove(); }
    const std::string &dir() const { return dir_; }

  private:
    void Remove()
    {
        for (const char *prefix : {"wine", "wine64"})
            Run("WINEPREFIX='" + dir_ + "/.local/share/nelko/" + prefix +
                "' wineserver -k >/dev/null 2>&1");
        Run("rm -rf '" + dir_ + "'");
    }
    std::string dir_;
};

// Starts ./run on the display with only the home folder changed; its output
// goes to log.
pid_t StartRun(const std::string &display, const std::string &home, const std::string &log)
{
    const std::string tree = WindowsTree(); // the machine's, found before the fork
    pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        // What the test harness set up for its own programs is not a user's.
        for (const char *name : {"WINEPREFIX", "NELKO_WINEPREFIX", "WINEARCH", "NELKO_WINEARCH",
                                 "NELKO_AUDIO", "PULSE_SERVER", "NELKO_WIN32_DIR"})
            unsetenv(name);
        setenv("HOME", home.c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (home + "/runtime").c_str(), 1); // no sound server there
        setenv("DISPLAY", display.c_str(), 1);
        setenv("NELKO_WINDOWS", tree.c_str(), 1);
        int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int in = open("/dev/null", O_RDONLY);
        dup2(in, 0);
        dup2(out, 1);
        dup2(out, 2);
        execl("/bin/sh", "sh", "-c", "exec \"$0\"", NELKO_SOURCE_DIR "/run",
              static_cast<char *>(nullptr));
        _exit(127);
    }
    return pid;
}

// One ./run: Nelko's window within timeoutMs, Escape, exit code 0.
void RunOnce(Session &session, const FreshHome &home, const char *which, int timeoutMs)
{
    SCOPED_TRACE(which);
    const std::string log = home.dir() + "/run-" + which + ".log";
    const auto start = std::chrono::steady_clock::now();
    pid_t run = StartRun(session.displayName(), home.dir(), log);
    Window window = 0;
    int status = 0;
    bool ended = false;
    session.WaitFor(
        [&] {
            ended = waitpid(run, &status, WNOHANG) == run;
            return ended || (window = session.FindWindow("Nelko", 0)) != 0;
        },
        timeoutMs);
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start)
            .count();
    if (!ended && window == 0)
        kill(-run, SIGKILL), waitpid(run, nullptr, 0);
    ASSERT_NE(window, 0u) << "no Nelko window after " << seconds << " s"
                          << (ended ? ", ./run ended with exit code " +
                                          std::to_string(WEXITSTATUS(status))
                                    : std::string())
                          << "; ./run said:\n"
                          << ReadFile(log) << session.Describe();
    std::printf("./run, %s: Nelko's window after %lld s\n", which, static_cast<long long>(seconds));
    session.Key(window, XK_Escape);
    const int code = session.WaitExit(run, ExitTimeoutMs);
    if (code == -1)
        kill(-run, SIGKILL), waitpid(run, nullptr, 0);
    EXPECT_EQ(code, 0) << "-1: still running after Escape; ./run said:\n" << ReadFile(log);
}

TEST(Run, OnADesktopFromAFreshHomeNelkoStartsAndEndsEveryTime)
{
    Session session;
    FreshHome home;
    ASSERT_NO_FATAL_FAILURE(RunOnce(session, home, "first", FirstRunMs));
    RunOnce(session, home, "second", LaterRunMs);
}

} // namespace
