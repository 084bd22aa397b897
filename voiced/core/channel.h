// The channel: the line protocol between the hub and its clients
// (voiced/channel.txt), a line splitter that refuses oversized input, and one
// parser and one formatter per message.
#pragma once
#include "voiced/core/commands.h"
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr size_t MaxChannelLine = 65536; // bytes, without the closing newline

// Splits a byte stream into lines. A line longer than MaxChannelLine or a NUL
// byte breaks the stream: Feed returns false and the connection is to be
// dropped.
class LineReader {
  public:
    bool Feed(const char *data, size_t size, std::vector<std::string> *lines);
    size_t Pending() const { return partial_.size(); }

  private:
    std::string partial_;
    bool broken_ = false;
};

// A line: a verb of capital letters, then fields separated by tabs. Fields may
// be empty and hold no control characters.
struct ChannelMessage {
    std::string verb;
    std::vector<std::string> fields;
};
bool ParseChannelLine(const std::string &line, ChannelMessage *message);
// The line with its newline; fields with tabs or control characters have them
// replaced by spaces, so a line is always well formed.
std::string FormatChannelLine(const std::string &verb, const std::vector<std::string> &fields);

// The messages, one parser and one formatter each. A parser returns false for
// a message of that verb that breaks the rules (field count, numbers, limits).

// SERVICE pid: a connection from a service process.
// MENU id active listening application state phrase...: a menu's state.
struct MenuNotice {
    uint32_t id = 0;
    bool active = false;
    bool listening = false; // active and recognition enabled and awake
    std::string application;
    std::string state;
    std::vector<std::string> phrases;
};
bool ParseMenuNotice(const ChannelMessage &message, MenuNotice *notice);
std::string FormatMenuNotice(const MenuNotice &notice);

// PHRASE seq phrase: the hub hands a service something heard.
struct PhraseNotice {
    uint32_t seq = 0;
    std::string phrase;
};
bool ParsePhraseNotice(const ChannelMessage &message, PhraseNotice *notice);
std::string FormatPhraseNotice(const PhraseNotice &notice);

// What a phrase did in a service: DONE seq outcome micros command application
// state (service to hub), HEARD seq outcome micros phrase command application
// state (hub to watchers).
enum class Outcome {
    Ran,     // CommandRecognize: command, application and state name it
    Other,   // CommandOther: no command of an active menu matched
    Ignored, // recognition off, no active menu or no sink
    Failed,  // the sink could not be called
    Nobody,  // (hub only) no service was listening
    Dropped, // the client was busy and too many phrases waited for it already
};
const char *OutcomeName(Outcome outcome);
bool ParseOutcome(const std::string &text, Outcome *outcome);

struct DoneNotice {
    uint32_t seq = 0;
    Outcome outcome = Outcome::Ignored;
    uint32_t micros = 0; // the phrase reaching the service to CommandRecognize (or
                         // CommandOther) returning
    std::string phrase;  // HEARD only: what was said
    std::string command; // Ran: the command's phrase as added
    std::string application;
    std::string state;
};
bool ParseDoneNotice(const ChannelMessage &message, DoneNotice *notice);
std::string FormatDoneNotice(const DoneNotice &notice);
bool ParseHeardNotice(const ChannelMessage &message, DoneNotice *notice);
std::string FormatHeardNotice(const DoneNotice &notice);

// SAID seq services: the reply to SAY; services = how many listening services
// have a command for the phrase.
// COMMANDS phrase...: the reply to LIST, every phrase listened for.
// STATUS hubpid servicepid...: the reply to STATUS.
bool ParseUnsigned(const std::string &text, uint32_t *value);
