// The bookkeeping between the pipe engine's thread and a window's: the
// bridge's count of lines each connection has waiting (Backlogs) and a
// service link's gate for the hub's lines (LinkGate), driven by any order of
// lines arriving, posts failing, the window taking what waits and
// connections closing. Both are checked against a plain model: the counts
// are what waits, never past their limits; a connection is cut off once; a
// phrase is answered as dropped exactly when the window holds its most; one
// level waits at a time and the window gets the latest.
//
// Input: operations, each an opcode byte and its argument byte.
//   0 a line of (argument * 997) bytes arrives on connection argument % 4
//   1 the window takes the oldest line waiting
//   2 connection argument % 4 closes (a later one takes its place)
//   3 the hub's line argument % 4: PHRASE, LEVEL, another verb, a broken
//     LEVEL; bit 4 of the argument: posting it fails
//   4 the service's window handles the oldest line it was posted
#include "tests/fuzz/fuzz.h"
#include "voiced/core/backlog.h"
#include <deque>

namespace {

constexpr size_t MaxLines = 5, MaxBytes = 3000;

struct Bridge {
    Backlogs backlogs{MaxLines, MaxBytes};
    int ids[4] = {1, 2, 3, 4}, nextId = 5;
    struct Waiting {
        int id;
        size_t bytes;
        bool stale; // its connection closed before the window took it
    };
    std::deque<Waiting> mailbox;
    std::map<int, bool> cut;

    void Arrive(uint8_t argument)
    {
        const int id = ids[argument % 4];
        const size_t bytes = argument * size_t{997} % 4096;
        size_t lines = 0, held = 0;
        for (const Waiting &w : mailbox)
            if (w.id == id && !w.stale)
                ++lines, held += w.bytes;
        const Backlogs::Hand hand = backlogs.Add(id, bytes);
        const bool over = lines >= MaxLines || held + bytes > MaxBytes;
        if (cut[id])
            Require(hand == Backlogs::Hand::Cut, "a cut connection hands on again");
        else if (over)
            Require(hand == Backlogs::Hand::CutNow, "a connection past its limits not cut off");
        else
            Require(hand == Backlogs::Hand::On, "a connection within its limits cut off");
        cut[id] = cut[id] || hand != Backlogs::Hand::On;
        if (hand == Backlogs::Hand::On)
            mailbox.push_back({id, bytes, false});
    }
    void Check() const
    {
        for (int id : ids) {
            size_t lines = 0, bytes = 0;
            for (const Waiting &w : mailbox)
                if (w.id == id && !w.stale)
                    ++lines, bytes += w.bytes;
            Require(backlogs.Lines(id) == lines && backlogs.Bytes(id) == bytes,
                    "the backlog is not what waits");
        }
    }
};

struct Service {
    LinkGate gate;
    std::deque<std::string> posted;
    uint16_t latest = 0;
    uint32_t nextSeq = 1;

    int Waiting(const char *verb) const
    {
        int count = 0;
        for (const std::string &line : posted)
            count += line.rfind(verb, 0) == 0;
        return count;
    }
    void Arrive(uint8_t argument)
    {
        static const char *const lines[] = {"PHRASE\t%u\tGo Left", "LEVEL\t%u", "ERROR\tno %u",
                                            "LEVEL\tx%u"};
        char line[64];
        const unsigned value = argument % 4 == 0 ? nextSeq++ : argument * 13u % 5000;
        snprintf(line, sizeof line, lines[argument % 4], value);
        const int phrases = Waiting("PHRASE\t"), levels = Waiting("LEVEL\t");
        uint32_t dropped = 0;
        const LinkGate::Action action = gate.Arrived(line, &dropped);
        if (argument % 4 == 1)
            latest = static_cast<uint16_t>(value);
        if (argument % 4 == 0 && phrases >= LinkGate::MaxWaitingPhrases) {
            Require(action == LinkGate::Action::AnswerDropped && dropped == value,
                    "a phrase too many not answered as dropped");
            return;
        }
        Require(action != LinkGate::Action::AnswerDropped, "a phrase dropped with room for it");
        const bool merged = argument % 4 == 3 || (argument % 4 == 1 && levels > 0);
        Require((action == LinkGate::Action::Keep) == merged, "a line kept or posted wrongly");
        if (action != LinkGate::Action::Post)
            return;
        if (argument & 0x10)
            gate.NotPosted(line);
        else
            posted.push_back(line);
    }
    void Handle()
    {
        if (posted.empty())
            return;
        uint16_t level = 0;
        gate.Handled(posted.front(), &level);
        if (posted.front().rfind("LEVEL\t", 0) == 0)
            Require(level == latest, "the window did not get the latest level");
        posted.pop_front();
    }
    void Check() const
    {
        Require(gate.WaitingPhrases() == Waiting("PHRASE\t"), "phrases miscounted");
        Require(Waiting("PHRASE\t") <= LinkGate::MaxWaitingPhrases, "too many phrases wait");
        Require(Waiting("LEVEL\t") <= 1, "more than one level waits");
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Bridge bridge;
    Service service;
    for (size_t at = 0; at + 1 < size; at += 2) {
        const uint8_t argument = data[at + 1];
        switch (data[at] % 5) {
        case 0: bridge.Arrive(argument); break;
        case 1:
            if (!bridge.mailbox.empty()) {
                bridge.backlogs.Taken(bridge.mailbox.front().id, bridge.mailbox.front().bytes);
                bridge.mailbox.pop_front();
            }
            break;
        case 2: {
            int &id = bridge.ids[argument % 4];
            bridge.backlogs.Closed(id);
            // Its lines still wait in the mailbox; the window takes them
            // later, and they count for no one.
            for (auto &w : bridge.mailbox)
                w.stale = w.stale || w.id == id;
            id = bridge.nextId++;
            break;
        }
        case 3: service.Arrive(argument); break;
        default: service.Handle(); break;
        }
        bridge.Check();
        service.Check();
    }
    return 0;
}
