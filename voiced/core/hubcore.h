// HubCore: the hub's view of every service, routing phrases to them and
// answering the channel's questions.
#pragma once
#include "voiced/core/channel.h"
#include <map>
#include <set>

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

    // A client beyond MaxClients makes the oldest one holding no menu (it
    // may be the newcomer) give way, told why.
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
    static constexpr size_t MaxClients = 100;
    static constexpr size_t MaxMenusPerService = MaxServiceMenus;
    static constexpr size_t MaxPending = 4096; // phrases awaiting their results
    // Phrases in every service's menus together (the grammar is made of
    // them): four services' worth of full menus. A menu past it is refused
    // with an ERROR, and the service stays connected.
    static constexpr size_t MaxPhrasesInAll = 4 * MaxServiceMenus * MaxMenuCommands;
    // The channel's, as the hub's users know them.
    static constexpr uint16_t MaxLevel = ::MaxLevel;
    static constexpr size_t MaxListenPath = ::MaxListenPath;

  private:
    struct Pending {
        std::string phrase;
        std::set<int> awaiting; // services that have not answered yet
    };
    void Refuse(int client, const std::string &why);
    HubService *ServiceOf(int client);
    void GiveWay();
    void Serve(int client, const ChannelMessage &message);
    void Watchers(const std::string &line);
    void MenusChanged();
    void Finish(int client, const DoneNotice &done);
    size_t PhrasesHeld() const;

    // What the hub takes from a client: one handler per verb a client may
    // send (Verbs says which clients may), each refusing what breaks its
    // message's rules.
    using Handler = void (HubCore::*)(int client, const ChannelMessage &message);
    struct Handling {
        Verb verb;
        Handler handle;
    };
    static const Handling Handlings[];
    bool TakesNothing(int client, const ChannelMessage &message);
    void OnSay(int client, const ChannelMessage &message);
    void OnListen(int client, const ChannelMessage &message);
    void OnList(int client, const ChannelMessage &message);
    void OnWatch(int client, const ChannelMessage &message);
    void OnStatus(int client, const ChannelMessage &message);
    void OnShow(int client, const ChannelMessage &message);
    void OnService(int client, const ChannelMessage &message);
    void OnMenu(int client, const ChannelMessage &message);
    void OnDrop(int client, const ChannelMessage &message);
    void OnDone(int client, const ChannelMessage &message);

    Link *link_;
    std::map<int, uint64_t> clients_; // each with when it came, in openings
    uint64_t openings_ = 0;
    std::set<int> watchers_;
    std::vector<HubService> services_;
    std::map<uint32_t, Pending> pending_;
    HubHeard last_;
    uint32_t nextSeq_ = 1;
};
