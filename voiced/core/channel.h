// The channel: the line protocol between the hub and its clients
// (voiced/channel.txt), a line splitter that refuses oversized input, the
// table of verbs, and one parser and one formatter per message. Every
// program reads and writes the channel through these: no verb is spelled
// anywhere else.
#pragma once
#include "voiced/core/commands.h"
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The channel's limits.
constexpr size_t MaxChannelLine = 65536; // bytes, without the closing newline
constexpr size_t MaxVerbLength = 16;     // capital letters
constexpr size_t MaxNameLength = 31;     // an application's or a state's name, in bytes
constexpr uint32_t MaxScore = 100;       // how sure a recogniser is of a SAY
constexpr uint16_t MaxLevel = 65535;     // the input level a LEVEL passes on
constexpr size_t MaxListenPath = 259;    // a LISTEN's Windows path, without its zero

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

// ---------------------------------------------------------------------------
// The verbs

enum class Verb {
    Say,
    Said,
    Listen,
    Listening,
    Refused,
    List,
    Commands,
    Watch,
    Status,
    Show,
    Service,
    Menu,
    Drop,
    Done,
    Phrase,
    Level,
    Changed,
    Heard,
    Error,
    Unknown, // a well-formed verb the channel does not have: not in the table
};

// Who may send a verb to the hub.
enum class Sender {
    AnyClient, // any connection
    Service,   // only a connection that said SERVICE first
    Hub,       // nobody: the hub alone sends it (to anyone else it is unknown)
};

struct VerbEntry {
    Verb verb;
    const char *name;
    Sender sender;
};

// Every verb, in the order of Verb. A new verb is a row here, its message's
// parser and formatter below, and (when the hub takes it) a handler in
// HubCore's table.
inline constexpr VerbEntry Verbs[] = {
    {Verb::Say, "SAY", Sender::AnyClient},       {Verb::Said, "SAID", Sender::Hub},
    {Verb::Listen, "LISTEN", Sender::AnyClient}, {Verb::Listening, "LISTENING", Sender::Hub},
    {Verb::Refused, "REFUSED", Sender::Hub},     {Verb::List, "LIST", Sender::AnyClient},
    {Verb::Commands, "COMMANDS", Sender::Hub},   {Verb::Watch, "WATCH", Sender::AnyClient},
    {Verb::Status, "STATUS", Sender::AnyClient}, // the hub answers with STATUS too
    {Verb::Show, "SHOW", Sender::AnyClient},     {Verb::Service, "SERVICE", Sender::AnyClient},
    {Verb::Menu, "MENU", Sender::Service},       {Verb::Drop, "DROP", Sender::Service},
    {Verb::Done, "DONE", Sender::Service},       {Verb::Phrase, "PHRASE", Sender::Hub},
    {Verb::Level, "LEVEL", Sender::Hub},         {Verb::Changed, "CHANGED", Sender::Hub},
    {Verb::Heard, "HEARD", Sender::Hub},         {Verb::Error, "ERROR", Sender::Hub},
};
constexpr size_t VerbCount = sizeof Verbs / sizeof Verbs[0];
static_assert(VerbCount == static_cast<size_t>(Verb::Unknown), "a row for every verb");

constexpr bool VerbsInOrder()
{
    for (size_t i = 0; i < VerbCount; ++i)
        if (static_cast<size_t>(Verbs[i].verb) != i)
            return false;
    return true;
}
static_assert(VerbsInOrder(), "the table follows Verb");

// Unknown verbs have no name and are sent by nobody but the hub.
const char *VerbName(Verb verb);
Sender VerbSender(Verb verb);

// ---------------------------------------------------------------------------
// Lines

// A line: a verb of capital letters, then fields separated by tabs. Fields may
// be empty and hold no control characters.
struct ChannelMessage {
    Verb verb = Verb::Unknown;
    std::vector<std::string> fields;
};
bool ParseChannelLine(const std::string &line, ChannelMessage *message);
// The line with its newline; fields with tabs or control characters have them
// replaced by spaces, so a line is always well formed. The formatters below
// are built on it.
std::string FormatChannelLine(Verb verb, const std::vector<std::string> &fields);

bool ParseUnsigned(const std::string &text, uint32_t *value);

// ---------------------------------------------------------------------------
// The messages, one parser and one formatter each. A parser takes only a
// message of its own verb and returns false for one that breaks the rules
// (field count, numbers, limits).

// LIST, WATCH, SHOW, CHANGED, and STATUS as a request: the verb alone.
bool ParseEmptyNotice(const ChannelMessage &message, Verb verb);
std::string FormatEmptyNotice(Verb verb);

// SAY phrase [score]: something was heard. The phrase is checked by the hub
// (HubCore::Say), which trims it first.
struct SayNotice {
    std::string phrase;
    int score = -1; // from a recogniser: 0 to MaxScore; -1 for a typed phrase
};
bool ParseSayNotice(const ChannelMessage &message, SayNotice *notice);
std::string FormatSayNotice(const SayNotice &notice);

// SAID seq services: the reply to SAY; services = how many listening
// services have a command for the phrase.
struct SaidNotice {
    uint32_t seq = 0;
    uint32_t services = 0;
};
bool ParseSaidNotice(const ChannelMessage &message, SaidNotice *notice);
std::string FormatSaidNotice(const SaidNotice &notice);

// LISTEN path: a sound file for the hub's recogniser, 1 to MaxListenPath
// bytes (whether it names a local file is the hub's to check).
struct ListenNotice {
    std::string path;
};
bool ParseListenNotice(const ChannelMessage &message, ListenNotice *notice);
std::string FormatListenNotice(const ListenNotice &notice);

// LISTENING millis: a LISTEN taken, the sound's length.
struct ListeningNotice {
    uint32_t millis = 0;
};
bool ParseListeningNotice(const ChannelMessage &message, ListeningNotice *notice);
std::string FormatListeningNotice(const ListeningNotice &notice);

// REFUSED why: a LISTEN not taken. ERROR why: the hub closes the connection.
struct ReasonNotice {
    std::string why;
};
bool ParseRefusedNotice(const ChannelMessage &message, ReasonNotice *notice);
std::string FormatRefusedNotice(const ReasonNotice &notice);
bool ParseErrorNotice(const ChannelMessage &message, ReasonNotice *notice);
std::string FormatErrorNotice(const ReasonNotice &notice);

// COMMANDS phrase...: the reply to LIST, every phrase listened for (as many
// as one line holds).
struct CommandsNotice {
    std::vector<std::string> phrases;
};
bool ParseCommandsNotice(const ChannelMessage &message, CommandsNotice *notice);
std::string FormatCommandsNotice(const CommandsNotice &notice);

// STATUS hubpid servicepid...: the reply to STATUS.
struct StatusNotice {
    uint32_t hub = 0;
    std::vector<uint32_t> services;
};
bool ParseStatusNotice(const ChannelMessage &message, StatusNotice *notice);
std::string FormatStatusNotice(const StatusNotice &notice);

// SERVICE pid: a connection from a service process.
struct ServiceNotice {
    uint32_t pid = 0;
};
bool ParseServiceNotice(const ChannelMessage &message, ServiceNotice *notice);
std::string FormatServiceNotice(const ServiceNotice &notice);

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

// DROP id: the menu is gone.
struct DropNotice {
    uint32_t id = 0;
};
bool ParseDropNotice(const ChannelMessage &message, DropNotice *notice);
std::string FormatDropNotice(const DropNotice &notice);

// PHRASE seq phrase: the hub hands a service something heard.
struct PhraseNotice {
    uint32_t seq = 0;
    std::string phrase;
};
bool ParsePhraseNotice(const ChannelMessage &message, PhraseNotice *notice);
std::string FormatPhraseNotice(const PhraseNotice &notice);

// LEVEL level: the input level, 0 to MaxLevel.
struct LevelNotice {
    uint16_t level = 0;
};
bool ParseLevelNotice(const ChannelMessage &message, LevelNotice *notice);
std::string FormatLevelNotice(const LevelNotice &notice);

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
// The DONE of a phrase a busy client was not given: the menu that would have
// taken it, or empty names when the service's thread never saw it.
std::string FormatDroppedNotice(uint32_t seq, const std::string &application = {},
                                const std::string &state = {});
bool ParseHeardNotice(const ChannelMessage &message, DoneNotice *notice);
std::string FormatHeardNotice(const DoneNotice &notice);
