// What the voice end-to-end tests share: a Wine prefix of their own (the
// harness's prefix with "-voice" appended, so that the other scenarios see no
// service), the service installed there as ./run installs it, and the
// programs and windows of the voice hub.
#pragma once
#include "character.h"
#include "common/feedback.h"
#include "sound.h"
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace e2e {

constexpr int ProgramMs = 20000; // a Wine program's start and end, generously

std::string Run(const std::string &command); // a shell command's output
std::string ReadFile(const std::string &path);
std::vector<std::string> Lines(const std::string &text);

// The harness's prefix, as scripts/wine-env.sh chooses it, and that with "-voice".
std::string HarnessPrefix();
std::string VoicePrefix();

// Points every Wine program of a test (and the session's own prefix handling)
// at the voice prefix, and back afterwards.
class UseVoicePrefix {
  public:
    UseVoicePrefix();
    ~UseVoicePrefix();

  private:
    bool had_ = false;
    std::string old_;
};

// Recordings made with espeak-ng and sox, once per run, in a folder of their
// own. The clips are spoken at espeak-ng's own rate (the hub resamples them)
// over a quiet noise floor.
class Clips {
  public:
    static Clips &Get();
    ~Clips();
    // A phrase spoken, with half a second of a quiet noise floor around it.
    std::string Say(const std::string &text);
    // About a minute: the commands in the order given, with pauses of 2 to
    // 3.5 s between them, some holding a burst of noise or a tone.
    std::string Long(const std::vector<std::string> &said);
    // The path as the Windows programs see it.
    static std::string Windows(const std::string &path) { return "Z:" + path; }

  private:
    Clips();
    static std::string Floor(const std::string &file);
    void Shell(const std::string &script, const std::string &work = "work");
    std::string dir_;
};

// The character moved by (dx, dy) since before, and is at rest again.
::testing::AssertionResult Moved(Character &nelko, const Art &art, const Rect &before, int dx,
                                 int dy);

class VoiceTest : public ::testing::Test {
  protected:
    VoiceTest() = default;
    // sound: a sound server of the test's own, used through Wine's pulse
    // driver in a prefix of its own ("-voice-sound").
    explicit VoiceTest(bool sound)
        : soundPrefix(sound ? std::make_unique<UseSoundPrefix>("-voice-sound") : nullptr),
          server(sound ? std::make_unique<SoundServer>() : nullptr)
    {
    }
    // Installs the service (again and again changes nothing) and listens.
    void SetUp() override;

    int Program(const std::string &program, const std::vector<std::string> &args);
    int Say(const std::string &phrase) { return Program("nelkovoice.exe", {"/say", phrase}); }
    int SetUseSpeech(int value);
    // True once the hub lists some client's commands.
    bool Listening();
    // The feedback window as the probe reads it: "row\t...", "text\t...".
    std::vector<std::string> FeedbackWindow();
    // Moved by (dx, dy) since before, and at rest again.
    ::testing::AssertionResult Moved(const Rect &before, int dx, int dy);

    UseVoicePrefix prefix; // before the session, which prepares the prefix
    std::unique_ptr<UseSoundPrefix> soundPrefix;
    std::unique_ptr<SoundServer> server;
    Session session;
    Art art;
    std::unique_ptr<Character> nelko;
};

} // namespace e2e
