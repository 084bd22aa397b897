// The voice-command service and its hub: the logic that needs no window, in
// plain code both trees build. The service (nelkovoice.exe), the hub
// (Feedback.exe) and the proxy/stub DLL are thin Win32 layers over it.
//
// - Commands: the records a client adds to a voice menu, checked before any
//   is kept, and the phrase matching that finds them again.
// - The channel: the line protocol between the hub and its clients
//   (voiced/channel.txt), a line splitter that refuses oversized input, and
//   one parser and one formatter per message.
// - ServiceCore: one service process's menus and attributes, what a phrase
//   means to them, and the queue that keeps calls into a sink one at a time.
// - HubCore: the hub's view of every service, routing phrases to them and
//   answering the channel's questions.
#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

// ---------------------------------------------------------------------------
// Commands

// Limits of what a menu keeps; a block beyond them is refused. They bound the
// size of a menu's line on the channel (MaxMenuCommands phrases of at most
// MaxPhraseLength bytes fit well inside MaxChannelLine).
constexpr size_t MaxPhraseLength = 127; // bytes, without the terminating zero
constexpr size_t MaxMenuCommands = 256;
// Menus one service keeps and publishes; the hub refuses a service with more.
constexpr size_t MaxServiceMenus = 64;
constexpr size_t MaxCommandText = 1024; // description, category, command text
constexpr size_t MaxActionSize = 4096;

// One voice command record: nine 32-bit little-endian fields, then the data
// its offsets point into (counted from the record's own start).
enum CommandRecordField : uint32_t {
    RecordSizeField = 0,
    RecordFlagsField = 4,
    RecordIdField = 8,
    RecordCommandField = 12,     // offset of the phrase
    RecordDescriptionField = 16, // offset of the description, 0 for none
    RecordCategoryField = 20,    // offset of the category
    RecordCommandTextField = 24, // offset of the command text, 0 for none
    RecordActionField = 28,      // offset of the action data
    RecordActionSizeField = 32,  // its size in bytes, 0 for none
    RecordHeaderSize = 36,       // the data starts here
};

// A command as a menu keeps it: its own copies of everything.
struct VoiceCommand {
    uint32_t id = 0;
    uint32_t flags = 0;
    std::string phrase;
    std::string description;
    std::string category;
    std::string commandText;
    std::vector<uint8_t> action; // exactly as added
};

// Reads count records packed back to back in block[0, size). Every record is
// checked before any is kept: its size is a multiple of 4, at least the
// header and inside the block; every offset points past the header and inside
// the record; the phrase, category and any description and command text end
// with a zero inside the record; the action data lies inside the record; and
// the records add up to exactly size. The phrase must be one a user can say
// (IsSayablePhrase). Returns 1 and appends the commands, or 0 leaving
// *commands as it was.
int ReadCommandBlock(const uint8_t *block, size_t size, uint32_t count,
                     std::vector<VoiceCommand> *commands);

// Phrases compare without regard to case or spacing: "go  left", "Go Left"
// and "GoLeft" are one phrase. The key is the phrase in lower case without
// white space.
std::string PhraseKey(const std::string &phrase);
bool SamePhrase(const std::string &a, const std::string &b);
// 1 to MaxPhraseLength bytes, no control characters, at least one that is
// not white space.
bool IsSayablePhrase(const std::string &phrase);
// Trims white space at both ends (a typed phrase).
std::string TrimPhrase(const std::string &phrase);

// ---------------------------------------------------------------------------
// The channel (voiced/channel.txt)

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

// ---------------------------------------------------------------------------
// The service

struct ServiceMenu {
    uint32_t id = 0;
    std::string application; // at most 31 characters
    std::string state;       // at most 31 characters
    uint16_t language = 0;
    std::string dialect; // at most 63 characters
    bool temporary = false;
    bool active = false;
    std::vector<VoiceCommand> commands;
};

// What a phrase means to one service process: copies, which a delivery
// keeps whatever the client does to its menus while a call is out.
struct Recognition {
    Outcome outcome = Outcome::Ignored;
    std::string application; // Ran: the command's menu; Other: the first active one
    std::string state;
    VoiceCommand command; // Ran only
};

class ServiceCore {
  public:
    // Opens the menu named by application and state (compared without regard
    // to case), creating it when there is none. Returns its id, or 0 when a
    // new one would be more than MaxServiceMenus.
    uint32_t OpenMenu(const std::string &application, const std::string &state, uint16_t language,
                      const std::string &dialect, bool temporary);
    // A holder let go of a menu: a temporary menu no one holds is gone.
    void CloseMenu(uint32_t id, bool lastHolder);
    ServiceMenu *Menu(uint32_t id);
    const std::vector<std::unique_ptr<ServiceMenu>> &Menus() const { return menus_; }

    // Add: the block checked and copied. Returns 1 with the number the first
    // new command has in the menu (from 1), or 0 when the block is malformed
    // or the menu would grow beyond MaxMenuCommands.
    int Add(uint32_t menu, const uint8_t *block, size_t size, uint32_t count, uint32_t *first);

    bool enabled = false;
    bool awake = false;
    bool Listening() const; // enabled, awake and at least one menu active

    // Matches a phrase against the commands of the active menus, in the order
    // the menus were created and the commands added.
    Recognition Recognise(const std::string &phrase) const;

    // The lines that publish every menu (after a reconnection) or one menu.
    MenuNotice Notice(const ServiceMenu &menu) const;

  private:
    std::vector<std::unique_ptr<ServiceMenu>> menus_;
    uint32_t nextId_ = 1;
};

// Keeps calls into a sink one at a time. Post runs deliver at once when
// nothing is being delivered; an event posted while a delivery is in progress
// (the apartment dispatches incoming calls and messages while a sink call is
// out) waits and is delivered, in order, when the current one has returned.
// Offer is Post for what may be lost: when `limit` events wait already, the
// event is dropped and Offer returns false.
template <class Event> class SerialQueue {
  public:
    template <class Deliver> bool Offer(Event event, size_t limit, Deliver deliver)
    {
        if (queue_.size() >= limit)
            return false;
        Post(std::move(event), deliver);
        return true;
    }
    template <class Deliver> void Post(Event event, Deliver deliver)
    {
        queue_.push_back(std::move(event));
        if (busy_)
            return;
        busy_ = true;
        while (!queue_.empty()) {
            Event next = std::move(queue_.front());
            queue_.pop_front();
            deliver(next);
        }
        busy_ = false;
    }
    bool Busy() const { return busy_; }
    size_t Waiting() const { return queue_.size(); }
    void Clear() { queue_.clear(); }

  private:
    std::deque<Event> queue_;
    bool busy_ = false;
};

// Whether a failed call into a sink means its process is gone (the RPC
// errors of a dead or disconnected peer), as opposed to a call it refused.
bool ClientGone(uint32_t result);

// ---------------------------------------------------------------------------
// The hub

struct HubService {
    int client = 0;
    uint32_t pid = 0;
    std::vector<MenuNotice> menus;
    // Phrases its client was too busy for since it last took a newer one,
    // and the last of them.
    uint32_t dropped = 0;
    uint32_t lastDropped = 0;
    bool Listening() const;
};

struct HubHeard {
    uint32_t seq = 0;
    std::string phrase;
    int score = -1;                  // from a recogniser: 0 to 100; -1 for a typed phrase
    std::vector<DoneNotice> results; // one per service that answered
    int waiting = 0;                 // services still to answer
    uint32_t dropped = 0; // when a service dropped it: how many in a row, this one included
};

class HubCore {
  public:
    // What the hub does to the world: every call is made on the hub's thread.
    class Link {
      public:
        virtual ~Link() = default;
        virtual void Send(int client, const std::string &line) = 0;
        virtual void Drop(int client) = 0;
        virtual void Changed() {}    // something the window shows changed
        virtual void ShowWindow() {} // SHOW: a second start wants the window
        virtual uint32_t OwnPid() const { return 0; }
        // LISTEN: a sound file on a local drive for the recogniser. True
        // when it was taken to be read (the answer comes later, through
        // Listened); false with *why when it is refused at once.
        virtual bool Listen(int client, const std::string &path, std::string *why)
        {
            (void)client, (void)path;
            *why = "no recogniser";
            return false;
        }
    };
    explicit HubCore(Link *link) : link_(link) {}

    void Opened(int client);
    void Received(int client, const std::string &line);
    void Closed(int client);
    // The answer to a LISTEN the link took: LISTENING with the sound's
    // length, or REFUSED with why, when the client is still there.
    void Listened(int client, bool taken, uint32_t millis, const std::string &why);

    // A phrase from the window, a recogniser or a SAY: handed to every
    // service with a listening menu. Returns its sequence number, 0 when the
    // phrase is not one a user can say. *matching (when given) receives how
    // many services have a command for it. score: how sure a recogniser was
    // (0 to 100), -1 for a typed phrase.
    uint32_t Say(const std::string &phrase, uint32_t *matching = nullptr, int score = -1);
    // The input level (0 to MaxLevel) to every listening service, which
    // passes it on to its client's VUMeter.
    void Level(uint16_t level);

    const std::vector<HubService> &Services() const { return services_; }
    bool Listening() const;
    // Every phrase listened for, once each, in menu order: the recogniser's
    // grammar.
    std::vector<std::string> ActivePhrases() const;
    const HubHeard &Last() const { return last_; }
    size_t Clients() const { return clients_.size(); }

    // Limits on what one client may make the hub hold.
    static constexpr size_t MaxMenusPerService = MaxServiceMenus;
    static constexpr size_t MaxPending = 4096; // phrases awaiting their results
    static constexpr uint16_t MaxLevel = 65535;
    static constexpr int MaxScore = 100;
    static constexpr size_t MaxListenPath = 259; // a Windows path without its zero

  private:
    struct Pending {
        std::string phrase;
        std::set<int> awaiting; // services that have not answered yet
    };
    void Refuse(int client, const char *why);
    HubService *ServiceOf(int client);
    void Serve(int client, const ChannelMessage &message);
    void ServiceMessage(int client, const ChannelMessage &message);
    void Finish(int client, const DoneNotice &done);
    void Watchers(const std::string &line);

    Link *link_;
    std::set<int> clients_;
    std::set<int> watchers_;
    std::vector<HubService> services_;
    std::map<uint32_t, Pending> pending_;
    HubHeard last_;
    uint32_t nextSeq_ = 1;
};
