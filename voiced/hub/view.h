// The feedback window's texts and command rows, worked out from what the hub
// and the speech side last reported. Plain code on both trees: the texts come
// from the string table through a lookup the caller gives, so the host tests
// run it over a table of their own.
#pragma once
#include "voiced/core/hubcore.h"
#include "voiced/hub/listener.h"
#include <functional>
#include <string>
#include <vector>

// The string of a string-table id (ids.h); empty when there is none.
using TextTable = std::function<std::string(unsigned id)>;

// What the ear and the microphone last reported, on the window's thread.
struct SpeechState {
    Listener::State ear = Listener::State::Starting;
    bool microphoneOpen = false;
    bool decodingFile = false;
    bool recognised = false;   // an utterance has been heard
    Listener::Heard utterance; // the last one
    ListenSettings listen;     // the mode, and its key or name
    bool keyDown = false;      // Hold mode's key is held
    bool nameUnknown = false;  // Name mode's name has a word the ear cannot pronounce
};

// Everything the window shows.
struct ViewState {
    bool channelOpen = false;
    std::vector<HubService> services;
    std::vector<std::string> phrases; // listened for (HubCore::ActivePhrases)
    HubHeard last;                    // the last phrase said and what it did
    SpeechState speech;
};

// A line of the command list: a menu's heading, or a phrase a click says.
struct CommandRow {
    std::string text;
    std::string phrase; // empty for a heading
    bool operator==(const CommandRow &other) const
    {
        return text == other.text && phrase == other.phrase;
    }
};

struct View {
    std::string status;     // the channel and whether anything listens
    std::string speech;     // what the ear listens to
    std::string recognised; // the ear's last utterance
    std::string heard;      // the last phrase said and what it did
    std::vector<CommandRow> rows;
};

View ComputeView(const ViewState &state, const TextTable &text);
// The sensitivity slider's value beside it.
std::string SensitivityText(const TextTable &text, double threshold);
// The Listen setting's third choice, which names the name ("When I say
// "Nelko" first").
std::string ListenNameChoice(const TextTable &text, const std::string &name);
// A score or threshold (0 to 1) as a whole percent, rounded down, so that a
// score shown below the threshold was below it.
int Percent(double value);
