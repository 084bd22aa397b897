// What the voice end-to-end tests share: a Wine prefix of their own (the
// harness's prefix with "-voice" appended, so that the other scenarios see no
// service), the service installed there as ./run installs it, and the
// programs and windows of the voice hub.
#pragma once
#include "character.h"
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace e2e {

constexpr int ProgramMs = 20000; // a Wine program's start and end, generously

std::string Run(const std::string &command); // a shell command's output
std::string ReadFile(const std::string &path);
std::vector<std::string> Lines(const std::string &text);

// The harness's prefix, as scripts/wine-env.sh chooses it, with "-voice".
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

class VoiceTest : public ::testing::Test {
  protected:
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
    Session session;
    Art art;
    std::unique_ptr<Character> nelko;
};

} // namespace e2e
