// The hub: every service process's menus, the phrases handed to them and
// what they did. It believes nothing a client sends before checking it; a
// client that breaks the protocol is told why and dropped.
#include "voiced/core/hubcore.h"
#include "voiced/core/trace.h"
#include <algorithm>
#include <cctype>

namespace {

// The names the system keeps for devices: a path with one of them as a part
// ("C:\clips\con.wav") opens the device, not a file.
bool DeviceName(std::string part)
{
    part = part.substr(0, part.find('.'));
    while (!part.empty() && part.back() == ' ')
        part.pop_back();
    for (char &c : part)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    static const char *const devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char *device : devices)
        if (part == device)
            return true;
    if (part.compare(0, 3, "COM") != 0 && part.compare(0, 3, "LPT") != 0)
        return false;
    // The system takes the superscript digits one to three for digits there
    // too: refused as the ANSI code page (1252) spells them and as UTF-8 does,
    // whichever a client sends; the opened handle is checked as well.
    const std::string digit = part.substr(3);
    static const char *const superscripts[] = {"\xB9",     "\xB2",     "\xB3",
                                               "\xC2\xB9", "\xC2\xB2", "\xC2\xB3"};
    for (const char *superscript : superscripts)
        if (digit == superscript)
            return true;
    return digit.size() == 1 && digit[0] >= '1' && digit[0] <= '9';
}

// LISTEN takes a file by its full path on a drive: "C:\clips\a.wav" (either
// slash). Whether the drive is local is the link's to check. Returns why
// not, or null.
const char *NotALocalFile(const std::string &path)
{
    const auto separator = [](char c) { return c == '\\' || c == '/'; };
    if (path.size() < 4 || !std::isalpha(static_cast<unsigned char>(path[0])) || path[1] != ':' ||
        !separator(path[2]) || separator(path.back()))
        return "not a full path on a drive (C:\\...)";
    // Streams (a second colon), wildcards and what no file name holds.
    if (path.find_first_of(":*?\"<>|", 2) != std::string::npos)
        return "not a file's path";
    for (size_t at = 3; at < path.size();) {
        size_t end = at;
        while (end < path.size() && !separator(path[end]))
            ++end;
        if (DeviceName(path.substr(at, end - at)))
            return "a device, not a file";
        at = end + 1;
    }
    return nullptr;
}

} // namespace

bool HubService::Listening() const
{
    for (const MenuNotice &menu : menus)
        if (menu.listening)
            return true;
    return false;
}

void HubCore::Opened(int client)
{
    clients_[client] = ++openings_;
    if (clients_.size() > MaxClients)
        GiveWay();
}

// A connection that holds no menu costs its program nothing to make again:
// a table full of them (named services that idle, watchers) must not keep
// out a service that comes to publish its menus.
void HubCore::GiveWay()
{
    int oldest = 0;
    uint64_t came = UINT64_MAX;
    for (const auto &[client, opened] : clients_) {
        const HubService *service = ServiceOf(client);
        if ((!service || service->menus.empty()) && opened < came) {
            oldest = client;
            came = opened;
        }
    }
    if (came != UINT64_MAX)
        Refuse(oldest, "the hub is full: the oldest connection without a menu gives way");
}

void HubCore::Closed(int client)
{
    if (!clients_.erase(client))
        return;
    watchers_.erase(client);
    const auto service = std::find_if(services_.begin(), services_.end(),
                                      [&](const HubService &s) { return s.client == client; });
    if (service == services_.end())
        return;
    services_.erase(service);
    for (auto it = pending_.begin(); it != pending_.end();) {
        it->second.awaiting.erase(client);
        if (it->first == last_.seq)
            last_.waiting = static_cast<int>(it->second.awaiting.size());
        it = it->second.awaiting.empty() ? pending_.erase(it) : std::next(it);
    }
    MenusChanged();
}

void HubCore::Listened(int client, bool taken, uint32_t millis, const std::string &why)
{
    if (!clients_.count(client))
        return;
    link_->Send(client, taken ? FormatListeningNotice({millis}) : FormatRefusedNotice({why}));
}

void HubCore::Refuse(int client, const std::string &why)
{
    link_->Send(client, FormatErrorNotice({why}));
    link_->Drop(client);
    Closed(client);
}

HubService *HubCore::ServiceOf(int client)
{
    for (HubService &service : services_)
        if (service.client == client)
            return &service;
    return nullptr;
}

void HubCore::Watchers(const std::string &line)
{
    for (int watcher : watchers_)
        link_->Send(watcher, line);
}

void HubCore::Received(int client, const std::string &line)
{
    TraceLine("hub", "received", client, line);
    if (!clients_.count(client))
        return;
    ChannelMessage message;
    if (!ParseChannelLine(line, &message))
        return Refuse(client, "malformed line");
    Serve(client, message);
}

const HubCore::Handling HubCore::Handlings[] = {
    {Verb::Say, &HubCore::OnSay},         {Verb::Listen, &HubCore::OnListen},
    {Verb::List, &HubCore::OnList},       {Verb::Watch, &HubCore::OnWatch},
    {Verb::Status, &HubCore::OnStatus},   {Verb::Show, &HubCore::OnShow},
    {Verb::Service, &HubCore::OnService}, {Verb::Menu, &HubCore::OnMenu},
    {Verb::Drop, &HubCore::OnDrop},       {Verb::Done, &HubCore::OnDone},
};

void HubCore::Serve(int client, const ChannelMessage &message)
{
    const Sender sender = VerbSender(message.verb);
    if (sender == Sender::Service && !ServiceOf(client))
        return Refuse(client, "not a service");
    if (sender != Sender::Hub)
        for (const Handling &handling : Handlings)
            if (handling.verb == message.verb)
                return (this->*handling.handle)(client, message);
    Refuse(client, "unknown verb");
}

bool HubCore::TakesNothing(int client, const ChannelMessage &message)
{
    if (ParseEmptyNotice(message, message.verb))
        return true;
    Refuse(client, std::string(VerbName(message.verb)) + " takes nothing");
    return false;
}

void HubCore::OnSay(int client, const ChannelMessage &message)
{
    SayNotice say;
    if (!ParseSayNotice(message, &say))
        return Refuse(client, message.fields.size() == 2 ? "a score is 0 to 100"
                                                         : "SAY takes a phrase and a score");
    uint32_t matching = 0;
    const uint32_t seq = Say(say.phrase, &matching, say.score);
    if (!seq)
        return Refuse(client, "not a phrase");
    link_->Send(client, FormatSaidNotice({seq, matching}));
}

void HubCore::OnListen(int client, const ChannelMessage &message)
{
    ListenNotice listen;
    if (!ParseListenNotice(message, &listen))
        return Refuse(client, "LISTEN takes a file's path");
    std::string why;
    if (const char *notLocal = NotALocalFile(listen.path))
        why = notLocal;
    else if (link_->Listen(client, listen.path, &why))
        return; // answered when the file has been read
    link_->Send(client, FormatRefusedNotice({why}));
}

void HubCore::OnList(int client, const ChannelMessage &message)
{
    if (!TakesNothing(client, message))
        return;
    // As many as a line holds; a client reads no longer line.
    CommandsNotice commands{ActivePhrases()};
    size_t length = 0, fit = 0;
    while (fit < commands.phrases.size() &&
           length + commands.phrases[fit].size() + 16 < MaxChannelLine)
        length += commands.phrases[fit++].size() + 1;
    commands.phrases.resize(fit);
    link_->Send(client, FormatCommandsNotice(commands));
}

void HubCore::OnWatch(int client, const ChannelMessage &message)
{
    if (TakesNothing(client, message))
        watchers_.insert(client);
}

void HubCore::OnStatus(int client, const ChannelMessage &message)
{
    if (!TakesNothing(client, message))
        return;
    StatusNotice status{link_->OwnPid(), {}};
    for (const HubService &service : services_)
        status.services.push_back(service.pid);
    link_->Send(client, FormatStatusNotice(status));
}

void HubCore::OnShow(int client, const ChannelMessage &message)
{
    if (TakesNothing(client, message))
        link_->ShowWindow();
}

void HubCore::OnService(int client, const ChannelMessage &message)
{
    ServiceNotice service;
    if (!ParseServiceNotice(message, &service))
        return Refuse(client, "SERVICE takes a process id");
    if (ServiceOf(client))
        return Refuse(client, "already a service");
    services_.push_back(HubService{client, service.pid, {}});
    link_->Changed();
}

// MENU, DROP and DONE come from services only: Serve has seen to that.
void HubCore::OnMenu(int client, const ChannelMessage &message)
{
    MenuNotice notice;
    if (!ParseMenuNotice(message, &notice))
        return Refuse(client, "malformed MENU");
    auto &menus = ServiceOf(client)->menus;
    const auto known = std::find_if(menus.begin(), menus.end(),
                                    [&](const MenuNotice &m) { return m.id == notice.id; });
    if (known == menus.end() && menus.size() >= MaxMenusPerService)
        return Refuse(client, "too many menus");
    const size_t replaced = known != menus.end() ? known->phrases.size() : 0;
    if (PhrasesHeld() - replaced + notice.phrases.size() > MaxPhrasesInAll) {
        link_->Send(client, FormatErrorNotice({"the hub holds too many phrases"}));
        return;
    }
    if (known != menus.end())
        *known = std::move(notice);
    else
        menus.push_back(std::move(notice));
    MenusChanged();
}

size_t HubCore::PhrasesHeld() const
{
    size_t held = 0;
    for (const HubService &service : services_)
        for (const MenuNotice &menu : service.menus)
            held += menu.phrases.size();
    return held;
}

void HubCore::OnDrop(int client, const ChannelMessage &message)
{
    DropNotice drop;
    if (!ParseDropNotice(message, &drop))
        return Refuse(client, "DROP takes a menu id");
    auto &menus = ServiceOf(client)->menus;
    menus.erase(std::remove_if(menus.begin(), menus.end(),
                               [&](const MenuNotice &m) { return m.id == drop.id; }),
                menus.end());
    MenusChanged();
}

void HubCore::OnDone(int client, const ChannelMessage &message)
{
    DoneNotice done;
    if (!ParseDoneNotice(message, &done))
        return Refuse(client, "malformed DONE");
    Finish(client, done);
}

void HubCore::MenusChanged()
{
    link_->Changed();
    Watchers(FormatEmptyNotice(Verb::Changed));
}

void HubCore::Level(uint16_t level)
{
    const std::string line = FormatLevelNotice({level});
    for (const HubService &service : services_)
        if (service.Listening())
            link_->Send(service.client, line);
}

uint32_t HubCore::Say(const std::string &said, uint32_t *matching, int score)
{
    const std::string phrase = TrimPhrase(said);
    if (!IsSayablePhrase(phrase))
        return 0;
    const uint32_t seq = nextSeq_;
    nextSeq_ = nextSeq_ == UINT32_MAX ? 1 : nextSeq_ + 1;

    Pending pending;
    pending.phrase = phrase;
    uint32_t matched = 0;
    const std::string key = PhraseKey(phrase);
    for (const HubService &service : services_) {
        if (!service.Listening())
            continue;
        link_->Send(service.client, FormatPhraseNotice({seq, phrase}));
        pending.awaiting.insert(service.client);
        bool has = false;
        for (const MenuNotice &menu : service.menus)
            if (menu.listening)
                for (const std::string &command : menu.phrases)
                    has = has || PhraseKey(command) == key;
        matched += has;
    }
    if (matching)
        *matching = matched;

    last_ = HubHeard{seq, phrase, score, {}, static_cast<int>(pending.awaiting.size())};
    if (pending.awaiting.empty()) {
        DoneNotice nobody;
        nobody.seq = seq;
        nobody.outcome = Outcome::Nobody;
        nobody.phrase = phrase;
        last_.results.push_back(nobody);
        Watchers(FormatHeardNotice(nobody));
    } else {
        if (pending_.size() >= MaxPending)
            pending_.erase(pending_.begin());
        pending_[seq] = std::move(pending);
    }
    link_->Changed();
    return seq;
}

void HubCore::Finish(int client, const DoneNotice &reported)
{
    const auto pending = pending_.find(reported.seq);
    // A result for a phrase this service was not given, or given up on.
    if (pending == pending_.end() || !pending->second.awaiting.erase(client))
        return;
    DoneNotice done = reported;
    done.phrase = pending->second.phrase;
    // A busy spell's drops are counted until the client takes a phrase said
    // after the last of them.
    HubService *service = ServiceOf(client);
    if (done.outcome == Outcome::Dropped) {
        // Dropped before the service's thread saw it: named by the menu
        // listening.
        for (const MenuNotice &menu : service->menus)
            if (done.application.empty() && menu.listening) {
                done.application = menu.application;
                done.state = menu.state;
            }
        service->dropped++;
        service->lastDropped = done.seq;
    } else if (static_cast<int32_t>(done.seq - service->lastDropped) > 0) {
        service->dropped = 0;
    }
    if (done.seq == last_.seq) {
        if (done.outcome == Outcome::Dropped)
            last_.dropped = std::max(last_.dropped, service->dropped);
        last_.results.push_back(done);
        last_.waiting = static_cast<int>(pending->second.awaiting.size());
        link_->Changed();
    }
    if (pending->second.awaiting.empty())
        pending_.erase(pending);
    Watchers(FormatHeardNotice(done));
}

bool HubCore::Listening() const
{
    for (const HubService &service : services_)
        if (service.Listening())
            return true;
    return false;
}

std::vector<std::string> HubCore::ActivePhrases() const
{
    std::vector<std::string> phrases;
    std::set<std::string> keys;
    for (const HubService &service : services_)
        for (const MenuNotice &menu : service.menus)
            if (menu.listening)
                for (const std::string &phrase : menu.phrases)
                    if (keys.insert(PhraseKey(phrase)).second)
                        phrases.push_back(phrase);
    return phrases;
}
