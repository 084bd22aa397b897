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

TEST(Trace, StopsWithALineSayingSoWhenTheFileIsFull)
{
    const std::string path =
        testing::TempDir() + "voiced-trace-full-" + std::to_string(getpid()) + ".txt";
    std::remove(path.c_str());
    setenv("NELKO_VOICE_TRACE", path.c_str(), 1);
    TraceReadEnvironment();
    const std::string text(TraceMaxText, 'x');
    // In batches the writer keeps up with, each written out before the next.
    for (size_t traced = 0; traced < TraceMaxBytes + (1u << 20); traced += 500 * TraceMaxText) {
        for (int i = 0; i < 500; ++i)
            Trace("test", "%s", text.c_str());
        TraceReadEnvironment();
    }
    unsetenv("NELKO_VOICE_TRACE");
    TraceReadEnvironment();
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    EXPECT_LE(static_cast<size_t>(in.tellg()), TraceMaxBytes + 200);
    const std::vector<std::string> lines = Lines(path);
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines.back().find("trace: the file reached 16 MB"), std::string::npos)
        << lines.back();
    std::remove(path.c_str());
}
