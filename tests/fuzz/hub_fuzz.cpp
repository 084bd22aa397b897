// The hub's handling of what its clients send. The input is lines; each
// line's first byte picks one of four clients (low bits), may first open or
// close it (0x80) and may make the rest a phrase typed in the hub's window
// (0x40) instead of a line that client sent. Whatever comes, the hub writes
// only well-formed lines a client's reader takes, only to open clients, and
// holds no more than its limits; a file to listen to reaches the link only
// when its path keeps the rules.
#include "tests/fuzz/fuzz.h"
#include "voiced/core/hubcore.h"
#include <algorithm>
#include <regex>

namespace {

constexpr int Clients = 4;

// The rules for a file to listen to, written apart from the hub's: a full
// path on a drive with no stream, wildcard or reserved character, and no
// part naming a device, whatever its letter case, trailing spaces or what
// follows a dot (COM and LPT with a superscript digit too, as code page 1252
// and UTF-8 spell it).
bool KeepsTheRules(const std::string &path)
{
    static const std::regex full(R"([A-Za-z]:[\\/][^:*?"<>|]*[^\\/:*?"<>|])");
    static const std::regex device(R"((^|[\\/])(con|prn|aux|nul|conin\$|conout\$|)"
                                   R"((com|lpt)([1-9]|\xB9|\xB2|\xB3|\xC2\xB9|\xC2\xB2|\xC2\xB3)))"
                                   R"( *(\.[^\\/]*)?($|[\\/]))",
                                   std::regex::icase);
    return path.size() <= HubCore::MaxListenPath && std::regex_match(path, full) &&
           !std::regex_search(path.substr(2), device);
}

struct Link : HubCore::Link {
    bool open[Clients] = {};
    std::vector<int> dropped;
    void Send(int client, const std::string &line) override
    {
        Require(client >= 0 && client < Clients && open[client], "a line to a closed client");
        Require(!line.empty() && line.find('\n') == line.size() - 1, "not one line");
        LineReader reader;
        std::vector<std::string> lines;
        Require(reader.Feed(line.data(), line.size(), &lines), "a line a client refuses");
        ChannelMessage message;
        Require(ParseChannelLine(lines.at(0), &message), "a line that does not parse");
        Require(message.verb != Verb::Unknown, "a verb the channel does not have");
    }
    void Drop(int client) override
    {
        Require(client >= 0 && client < Clients && open[client], "a closed client dropped");
        dropped.push_back(client);
    }
    bool Listen(int client, const std::string &path, std::string *why) override
    {
        Require(client >= 0 && client < Clients && open[client], "a closed client listens");
        Require(KeepsTheRules(path), "a path the rules refuse reached the link");
        *why = "no recogniser";
        return false;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Link link;
    HubCore hub(&link);
    const char *at = reinterpret_cast<const char *>(data), *end = at + size;
    while (at < end) {
        const char *newline = std::find(at, end, '\n');
        const char *line = at;
        at = newline + (newline < end);
        if (line == newline)
            continue;
        const uint8_t control = static_cast<uint8_t>(*line);
        const std::string rest(line + 1, newline);
        const int client = control % Clients;
        if (control & 0x80) {
            link.open[client] = !link.open[client];
            if (link.open[client])
                hub.Opened(client);
            else
                hub.Closed(client);
        }
        if (control & 0x40)
            hub.Say(rest, nullptr, control & 0x20 ? -1 : control % 101);
        else if (link.open[client])
            hub.Received(client, rest);
        for (int gone : link.dropped) {
            link.open[gone] = false;
            hub.Closed(gone);
        }
        link.dropped.clear();
        const size_t open = std::count(link.open, link.open + Clients, true);
        Require(hub.Clients() == open, "the hub counts clients that are gone");
        for (const HubService &service : hub.Services()) {
            Require(link.open[service.client], "a service of a closed client");
            Require(service.menus.size() <= HubCore::MaxMenusPerService, "too many menus");
        }
    }
    return 0;
}
