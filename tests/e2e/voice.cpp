#include "voice.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <unistd.h>

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

std::string HarnessPrefix()
{
    static const std::string prefix = Run("bash -c 'source \"" NELKO_SOURCE_DIR
                                          "/scripts/wine-env.sh\" && printf %s \"$WINEPREFIX\"'");
    return prefix;
}

std::string VoicePrefix()
{
    return HarnessPrefix() + "-voice";
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
    return e2e::Moved(*nelko, art, before, dx, dy);
}

::testing::AssertionResult Moved(Character &nelko, const Art &art, const Rect &before, int dx,
                                 int dy)
{
    Session::Sleep(300);
    if (!nelko.WaitForRest(art))
        return ::testing::AssertionFailure() << "never rested";
    const Rect after = nelko.Where();
    if (after.x - before.x == dx && after.y - before.y == dy)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "moved by " << after.x - before.x << ","
                                         << after.y - before.y << ", expected " << dx << "," << dy;
}

Clips &Clips::Get()
{
    static Clips clips;
    return clips;
}

Clips::~Clips()
{
    Run("rm -rf '" + dir_ + "'");
}

std::string Clips::Say(const std::string &text)
{
    std::string name;
    for (char c : text)
        name += isalnum(static_cast<unsigned char>(c)) ? char(tolower(c)) : '_';
    const std::string path = dir_ + "/" + name + ".wav";
    if (access(path.c_str(), R_OK) != 0)
        Shell("espeak-ng -v en-us -s 160 -w raw.wav '" + text +
              "' && sox raw.wav padded.wav pad 0.5 0.5 && " + Floor("padded.wav") +
              " && sox -m padded.wav floor.wav '" + path + "'");
    return path;
}

std::string Clips::Long(const std::vector<std::string> &said)
{
    const std::string path = dir_ + "/long.wav";
    std::string script = "parts='' && silence() { sox -R -n -r 22050 -c 1 -b 16 $1 synth $2 "
                         "sine 0 vol 0; parts=\"$parts $1\"; } && silence lead.wav 1.0";
    for (size_t i = 0; i < said.size(); ++i) {
        const std::string n = std::to_string(i);
        const double pause = 2.0 + (i % 4) * 0.5;
        script += " && espeak-ng -v en-us -s 160 -w s" + n + ".wav '" + said[i] +
                  "' && parts=\"$parts s" + n + ".wav\"";
        if (i % 3 == 1) // a burst of noise in the middle of the pause
            script += " && silence a" + n + ".wav " + std::to_string(pause / 2 - 0.2) +
                      " && sox -R -n -r 22050 -c 1 -b 16 b" + n +
                      ".wav synth 0.4 pinknoise vol 0.1 && parts=\"$parts b" + n +
                      ".wav\" && silence c" + n + ".wav " + std::to_string(pause / 2 - 0.2);
        else if (i % 5 == 2) // a tone
            script += " && silence a" + n + ".wav 1.0 && sox -R -n -r 22050 -c 1 -b 16 b" + n +
                      ".wav synth 0.5 sine 440 vol 0.2 && parts=\"$parts b" + n +
                      ".wav\" && silence c" + n + ".wav " + std::to_string(pause - 1.5);
        else
            script += " && silence p" + n + ".wav " + std::to_string(pause);
    }
    script += " && sox $parts padded.wav && " + Floor("padded.wav") +
              " && sox -m padded.wav floor.wav '" + path + "'";
    Shell(script, "long");
    return path;
}

Clips::Clips() : dir_(testing::TempDir() + "nelko-listen-" + std::to_string(getpid()))
{
    Run("mkdir -p '" + dir_ + "'");
}

// Pink noise at about -60 dBFS, as long as the file: not digital silence,
// which upsets the detector's normalisation.
std::string Clips::Floor(const std::string &file)
{
    return "sox -R -n -r \"$(soxi -r " + file + ")\" -c 1 -b 16 floor.wav synth \"$(soxi -D " +
           file + ")\" pinknoise vol 0.002";
}

// Runs a script in a work folder of its own, removed afterwards.
void Clips::Shell(const std::string &script, const std::string &work)
{
    const std::string folder = "'" + dir_ + "/" + work + "'";
    const std::string command = "mkdir -p " + folder + " && cd " + folder + " && ( " + script +
                                " ) >/dev/null 2>&1; code=$?; rm -rf " + folder + "; exit $code";
    if (std::system(command.c_str()) != 0)
        ADD_FAILURE() << "espeak-ng or sox failed (scripts/deps.sh): " << script;
}

} // namespace e2e
