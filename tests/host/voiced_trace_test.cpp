// The trace switch: lines go to the file NELKO_VOICE_TRACE names, and
// nowhere without it.
#include "voiced/core/trace.h"
#include <gtest/gtest.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::vector<std::string> Lines(const std::string &path)
{
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

} // namespace

TEST(Trace, WritesToTheNamedFileOnlyWhenTheVariableIsSet)
{
    const std::string path =
        testing::TempDir() + "voiced-trace-" + std::to_string(getpid()) + ".txt";
    std::remove(path.c_str());
    unsetenv("NELKO_VOICE_TRACE");
    TraceReadEnvironment();
    Trace("test", "not traced %d", 1);
    EXPECT_TRUE(Lines(path).empty());

    setenv("NELKO_VOICE_TRACE", path.c_str(), 1);
    TraceReadEnvironment();
    Trace("test", "traced %d\nand one line", 2);
    TraceLine("hub", "received", 3, "SAY\tgo left\t80");
    TraceLine("hub", "sent", 3, "PHRASE\t4\tgo left\n");
    TraceLine("hub", "received", 3, "DONE\t4\tran\t1830\tGo Left\tSecret App\tMain");
    unsetenv("NELKO_VOICE_TRACE");
    TraceReadEnvironment();
    Trace("test", "not traced %d", 3);

    const std::string stamp =
        R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}Z )" + std::to_string(getpid()) + " ";
    const std::vector<std::string> expected = {
        "test: traced 2 and one line",
        "hub: received SAY go left 80 (connection 3)", // a SAY shows its phrase
        "hub: sent PHRASE 4 go left (connection 3)",
        "hub: received DONE (connection 3)", // other verbs alone: their fields may be private
    };
    const std::vector<std::string> lines = Lines(path);
    ASSERT_EQ(lines.size(), expected.size());
    for (size_t i = 0; i < lines.size(); ++i) {
        std::smatch head;
        ASSERT_TRUE(std::regex_search(lines[i], head, std::regex(stamp))) << lines[i];
        EXPECT_EQ(head.suffix().str(), expected[i]);
    }
    std::remove(path.c_str());
}

// A trace left on grows to TraceMaxBytes at most, and its last line says
// that nothing more is written.
TEST(Trace, TheFileStopsGrowingAtItsLimit)
{
    const std::string path =
        testing::TempDir() + "voiced-trace-full-" + std::to_string(getpid()) + ".txt";
    std::remove(path.c_str());
    setenv("NELKO_VOICE_TRACE", path.c_str(), 1);
    TraceReadEnvironment();
    const std::string text(TraceMaxText, 't');
    const size_t lines = TraceMaxBytes / TraceMaxText * 5 / 4;
    for (size_t line = 0; line < lines; ++line) {
        Trace("test", "%s", text.c_str());
        if (line % (TraceMaxWaiting / 2) == 0)
            TraceReadEnvironment(); // waits for the writer: no line is dropped
    }
    unsetenv("NELKO_VOICE_TRACE");
    TraceReadEnvironment();
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    const auto size = static_cast<size_t>(in.tellg());
    EXPECT_LE(size, TraceMaxBytes);
    EXPECT_GT(size, TraceMaxBytes - 2 * TraceMaxText) << "stopped well short of the limit";
    const std::vector<std::string> all = Lines(path);
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(all.back(), "the trace is full: nothing more is written");
    std::remove(path.c_str());
}
