#include "voice.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace e2e {

std::string Run(const std::string &command)
{
    std::string output;
    if (FILE *pipe = popen(command.c_str(), "r")) {
        char buffer[512];
        while (size_t n = fread(buffer, 1, sizeof buffer, pipe))
            output.append(buffer, n);
        pclose(pipe);
    }
    return output;
}

std::string ReadFile(const std::string &path)
{
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::string VoicePrefix()
{
    static const std::string prefix =
        Run("bash -c 'source \"" NELKO_SOURCE_DIR "/scripts/wine-env.sh\" && printf %s "
            "\"$WINEPREFIX\"'") +
        "-voice";
    return prefix;
}

UseVoicePrefix::UseVoicePrefix()
{
    const char *old = getenv("NELKO_WINEPREFIX");
    had_ = old != nullptr;
    if (had_)
        old_ = old;
    setenv("NELKO_WINEPREFIX", VoicePrefix().c_str(), 1);
}

UseVoicePrefix::~UseVoicePrefix()
{
    if (had_)
        setenv("NELKO_WINEPREFIX", old_.c_str(), 1);
    else
        unsetenv("NELKO_WINEPREFIX");
}

void VoiceTest::SetUp()
{
    ASSERT_EQ(Program("nelkovoice.exe", {"/regserver"}), 0);
    ASSERT_EQ(SetUseSpeech(2), 0);
}

int VoiceTest::Program(const std::string &program, const std::vector<std::string> &args)
{
    return session.WaitExit(session.Start(program, args), ProgramMs);
}

int VoiceTest::SetUseSpeech(int value)
{
    return Program("C:\\windows\\system32\\reg.exe",
                   {"add", "HKCU\\Software\\Voice", "/v", "UseSpeech", "/t", "REG_DWORD", "/d",
                    std::to_string(value), "/f"});
}

bool VoiceTest::Listening()
{
    return session.WaitFor([&] { return Program("nelkovoice.exe", {"/list"}) == 0; }, 20000);
}

std::vector<std::string> VoiceTest::FeedbackWindow()
{
    const std::string out = testing::TempDir() + "voice-window.txt";
    if (Program("voiceprobe.exe", {"window", "Z:" + out}) != 0)
        return {};
    return Lines(ReadFile(out));
}

::testing::AssertionResult VoiceTest::Moved(const Rect &before, int dx, int dy)
{
    Session::Sleep(300);
    if (!nelko->WaitForRest(art))
        return ::testing::AssertionFailure() << "never rested";
    const Rect after = nelko->Where();
    if (after.x - before.x == dx && after.y - before.y == dy)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "moved by " << after.x - before.x << ","
                                         << after.y - before.y << ", expected " << dx << "," << dy;
}

} // namespace e2e
