// The hub: every service process's menus, the phrases handed to them and
// what they did. It believes nothing a client sends before checking it; a
// client that breaks the protocol is told why and dropped.
#include "voiced/core/hubcore.h"
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
    return part.size() == 4 && (part.compare(0, 3, "COM") == 0 || part.compare(0, 3, "LPT") == 0) &&
           part[3] >= '1' && part[3] <= '9';
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
    clients_.insert(client);
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
    link_->Changed();
    Watchers(FormatChannelLine("CHANGED", {}));
}

void HubCore::Listened(int client, bool taken, uint32_t millis, const std::string &why)
{
    if (!clients_.count(client))
        return;
    link_->Send(client, taken ? FormatChannelLine("LISTENING", {std::to_string(millis)})
                              : FormatChannelLine("REFUSED", {why}));
}

void HubCore::Refuse(int client, const char *why)
{
    link_->Send(client, FormatChannelLine("ERROR", {why}));
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
    if (!clients_.count(client))
        return;
    ChannelMessage message;
    if (!ParseChannelLine(line, &message))
        return Refuse(client, "malformed line");
    Serve(client, message);
}

void HubCore::Serve(int client, const ChannelMessage &message)
{
    const std::string &verb = message.verb;
    const auto &fields = message.fields;
    if (verb == "SAY") {
        uint32_t score = 0;
        if (fields.size() != 1 && fields.size() != 2)
            return Refuse(client, "SAY takes a phrase and a score");
        if (fields.size() == 2 &&
            (!ParseUnsigned(fields[1], &score) || score > static_cast<uint32_t>(MaxScore)))
            return Refuse(client, "a score is 0 to 100");
        uint32_t matching = 0;
        const uint32_t seq = Say(fields[0], &matching, fields.size() == 2 ? int(score) : -1);
        if (!seq)
            return Refuse(client, "not a phrase");
        link_->Send(client,
                    FormatChannelLine("SAID", {std::to_string(seq), std::to_string(matching)}));
    } else if (verb == "LIST") {
        if (!fields.empty())
            return Refuse(client, "LIST takes nothing");
        // As many as a line holds; a client reads no longer line.
        std::vector<std::string> phrases = ActivePhrases();
        size_t length = 0, fit = 0;
        while (fit < phrases.size() && length + phrases[fit].size() + 16 < MaxChannelLine)
            length += phrases[fit++].size() + 1;
        phrases.resize(fit);
        link_->Send(client, FormatChannelLine("COMMANDS", phrases));
    } else if (verb == "LISTEN") {
        if (fields.size() != 1 || fields[0].empty() || fields[0].size() > MaxListenPath)
            return Refuse(client, "LISTEN takes a file's path");
        std::string why;
        if (const char *notLocal = NotALocalFile(fields[0]))
            why = notLocal;
        else if (link_->Listen(client, fields[0], &why))
            return; // answered when the file has been read
        link_->Send(client, FormatChannelLine("REFUSED", {why}));
    } else if (verb == "WATCH") {
        if (!fields.empty())
            return Refuse(client, "WATCH takes nothing");
        watchers_.insert(client);
    } else if (verb == "SHOW") {
        if (!fields.empty())
            return Refuse(client, "SHOW takes nothing");
        link_->ShowWindow();
    } else if (verb == "STATUS") {
        if (!fields.empty())
            return Refuse(client, "STATUS takes nothing");
        std::vector<std::string> pids = {std::to_string(link_->OwnPid())};
        for (const HubService &service : services_)
            pids.push_back(std::to_string(service.pid));
        link_->Send(client, FormatChannelLine("STATUS", pids));
    } else if (verb == "SERVICE") {
        uint32_t pid = 0;
        if (fields.size() != 1 || !ParseUnsigned(fields[0], &pid))
            return Refuse(client, "SERVICE takes a process id");
        if (ServiceOf(client))
            return Refuse(client, "already a service");
        services_.push_back(HubService{client, pid, {}});
        link_->Changed();
    } else if (verb == "MENU" || verb == "DROP" || verb == "DONE") {
        if (!ServiceOf(client))
            return Refuse(client, "not a service");
        ServiceMessage(client, message);
    } else {
        Refuse(client, "unknown verb");
    }
}

void HubCore::ServiceMessage(int client, const ChannelMessage &message)
{
    if (message.verb == "DONE") {
        DoneNotice done;
        if (!ParseDoneNotice(message, &done))
            return Refuse(client, "malformed DONE");
        return Finish(client, done);
    }
    HubService *service = ServiceOf(client);
    auto &menus = service->menus;
    if (message.verb == "DROP") {
        uint32_t id = 0;
        if (message.fields.size() != 1 || !ParseUnsigned(message.fields[0], &id))
            return Refuse(client, "DROP takes a menu id");
        menus.erase(std::remove_if(menus.begin(), menus.end(),
                                   [&](const MenuNotice &m) { return m.id == id; }),
                    menus.end());
    } else {
        MenuNotice notice;
        if (!ParseMenuNotice(message, &notice))
            return Refuse(client, "malformed MENU");
        const auto known = std::find_if(menus.begin(), menus.end(),
                                        [&](const MenuNotice &m) { return m.id == notice.id; });
        if (known != menus.end()) {
            *known = std::move(notice);
        } else {
            if (menus.size() >= MaxMenusPerService)
                return Refuse(client, "too many menus");
            menus.push_back(std::move(notice));
        }
    }
    link_->Changed();
    Watchers(FormatChannelLine("CHANGED", {}));
}

void HubCore::Level(uint16_t level)
{
    const std::string line = FormatChannelLine("LEVEL", {std::to_string(level)});
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
