// voiceprobe.exe: looks at the voice hub from outside, for the end-to-end
// tests and the benchmark.
//
//   voiceprobe.exe window OUT        the feedback window's texts, its command
//                                    list (one row a line, then where the row
//                                    is on the screen), the level meter and the
//                                    sensitivity slider, into the file OUT
//   voiceprobe.exe bench COUNT OUT   the latency and burst benchmark (below)
//   voiceprobe.exe serve COUNT SECONDS OUT PHRASE...
//                                    acts as a service with one listening menu
//                                    of the phrases: writes each phrase the hub
//                                    hands it ("phrase\t..."), and at the end
//                                    the highest input level it was sent
//                                    ("level\t..."); ends GraceMs after the
//                                    COUNTth phrase (so that a phrase handed
//                                    twice is seen), or after SECONDS
//   voiceprobe.exe flood COUNT PHRASE OUT
//                                    says PHRASE COUNT times at once, as a
//                                    script gone wrong would; ends when the
//                                    hub has taken them all ("said\t...")
//   voiceprobe.exe stress CYCLES PHRASES OUT
//                                    acts as a service with a menu of "Stress"
//                                    and, between phrases said, opens the
//                                    hub's pipe and closes it at once, CYCLES
//                                    times in all for PHRASES phrases; reports
//                                    each phrase's deliveries, the hub's
//                                    private memory before and after, and
//                                    whether every connection slot still
//                                    serves; 0 when all is well
//   voiceprobe.exe deaf COUNT SECONDS OUT
//                                    COUNT clients that watch, ask for the
//                                    command list a thousand times, every
//                                    other one adds a line the hub refuses,
//                                    and none reads anything; for SECONDS
//   voiceprobe.exe idle COUNT SECONDS OUT
//                                    COUNT clients that name themselves as
//                                    services and idle, holding no menu, for
//                                    SECONDS; then how many the hub turned
//                                    away ("given way\t...")
//   voiceprobe.exe burst SECONDS OUT a client of the service with 64 menus of
//                                    256 phrases ("Burst M C") that toggles
//                                    its awake state 20 times; then how many
//                                    of a spread of them (every seventh, and
//                                    each menu's last) the hub hands on
//                                    ("tables\t... of ..."); then, for
//                                    SECONDS, each command run
//                                    ("recognized\t...")
//   voiceprobe.exe squat SECONDS OUT takes the hub's pipe before the hub, as
//                                    another program might, and writes every
//                                    line it is sent ("line\t..."); for
//                                    SECONDS
//   voiceprobe.exe junk OUT          posts every application-range and
//                                    registered message number to the
//                                    feedback window and to every service's
//                                    message-only window, with made-up
//                                    parameters, as a careless or hostile
//                                    program might; writes how many went
//                                    to each ("posted\thub\t..."); 2 when
//                                    there is no feedback window
//
// The benchmark says "Random" COUNT times one after another, each once the
// previous one's result is back, and reports the time from the phrase
// reaching the service to the client's CommandRecognize returning (measured
// by the service) and from SAY to HEARD at this end (through the hub). Then it
// says COUNT phrases at once, twice, and reports the service's and the hub's
// private memory before and after each burst.
#include "common/win32.h"
#include "idl/vcmd.h"
#include "voiced/core/commands.h"
#include "voiced/core/hubcore.h"
#include "voiced/pipe/client.h"
#include "voiced/pipe/engine.h"
#include <commctrl.h>
#include <psapi.h>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <map>
#include <set>

namespace {

constexpr DWORD ReplyMs = 10000;
constexpr DWORD GraceMs = 3000;
const char BenchPhrase[] = "Random";

struct Report {
    explicit Report(FILE *f) : file(f) {}
    FILE *file;
    std::mutex lock; // the squatter's engine reports from its thread
    void Line(const std::string &text)
    {
        std::lock_guard<std::mutex> hold(lock);
        fputs((text + "\n").c_str(), file);
        fputs((text + "\n").c_str(), stdout);
        fflush(file);
        fflush(stdout);
    }
};

// Every listbox row, the status and the last heard text, read from the
// window of another process.
int DumpWindow(Report &out)
{
    HWND window = FindWindowA(nullptr, FeedbackWindowTitle);
    if (!window)
        return 2;
    char text[512];
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        GetClassNameA(child, text, sizeof text);
        const std::string kind = text;
        if (lstrcmpiA(kind.c_str(), "ListBox") == 0) {
            const LRESULT count = SendMessageA(child, LB_GETCOUNT, 0, 0);
            // Wide: the rows cross the process boundary as Unicode.
            wchar_t row[256];
            for (LRESULT i = 0; i < count; ++i) {
                if (SendMessageW(child, LB_GETTEXTLEN, i, 0) >= LRESULT(256))
                    continue;
                const LRESULT n = SendMessageW(child, LB_GETTEXT, i, reinterpret_cast<LPARAM>(row));
                const int size = WideCharToMultiByte(CP_ACP, 0, row, n > 0 ? int(n) : 0, text,
                                                     sizeof text - 1, nullptr, nullptr);
                const std::string label(text, size > 0 ? size : 0);
                out.Line("row\t" + label);
                RECT item = {};
                if (SendMessageW(child, LB_GETITEMRECT, i, reinterpret_cast<LPARAM>(&item)) !=
                    LB_ERR) {
                    // Near the row's left end, where its text is.
                    POINT at = {item.left + 16, (item.top + item.bottom) / 2};
                    ClientToScreen(child, &at);
                    out.Line("at\t" + label + "\t" + std::to_string(at.x) + "\t" +
                             std::to_string(at.y));
                }
            }
        } else if (lstrcmpiA(kind.c_str(), "Edit") == 0) {
            RECT box;
            GetWindowRect(child, &box);
            out.Line("edit\t" + std::to_string(box.left + 16) + "\t" +
                     std::to_string((box.top + box.bottom) / 2));
        } else if (lstrcmpiA(kind.c_str(), "msctls_progress32") == 0) {
            out.Line("meter\t" + std::to_string(SendMessageA(child, PBM_GETPOS, 0, 0)));
        } else if (lstrcmpiA(kind.c_str(), "msctls_trackbar32") == 0) {
            RECT box;
            GetWindowRect(child, &box);
            out.Line("slider\t" + std::to_string(SendMessageA(child, TBM_GETPOS, 0, 0)) + "\t" +
                     std::to_string((box.left + box.right) / 2) + "\t" +
                     std::to_string((box.top + box.bottom) / 2));
        } else if (lstrcmpiA(kind.c_str(), "Static") == 0) {
            GetWindowTextA(child, text, sizeof text);
            out.Line("text\t" + std::string(text));
        }
    }
    out.Line(std::string("visible\t") + (IsWindowVisible(window) ? "1" : "0"));
    return 0;
}

// The next line from the hub, parsed; false after timeoutMs of silence or for
// a line that breaks the channel's rules.
bool ReadMessage(PipeClient &hub, DWORD timeoutMs, ChannelMessage *message)
{
    std::string line;
    return hub.ReadLine(&line, timeoutMs) && ParseChannelLine(line, message);
}

// The committed private memory of a process, 0 when it cannot be read.
SIZE_T PrivateBytes(DWORD pid)
{
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (!process)
        return 0;
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    SIZE_T bytes = 0;
    if (GetProcessMemoryInfo(process, &counters, sizeof counters))
        bytes = counters.PagefileUsage;
    CloseHandle(process);
    return bytes;
}

class Bench {
  public:
    bool Start()
    {
        if (!hub_.Connect(HubPipeName(), HubProgramPath(), ReplyMs))
            return false;
        if (!hub_.Send(FormatEmptyNotice(Verb::Watch)) ||
            !hub_.Send(FormatEmptyNotice(Verb::Status)))
            return false;
        ChannelMessage message;
        StatusNotice status;
        if (!Await(Verb::Status, &message) || !ParseStatusNotice(message, &status) ||
            status.services.empty())
            return false;
        hubPid_ = status.hub;
        servicePid_ = status.services[0];
        return true;
    }

    // One phrase, its result awaited: the service's and the round trip's
    // microseconds, or false.
    bool SayOne(const char *phrase, uint32_t *service, uint32_t *roundTrip, Outcome *outcome)
    {
        const uint64_t start = MicrosecondsNow();
        if (!hub_.Send(FormatSayNotice({phrase})))
            return false;
        ChannelMessage message;
        SaidNotice said;
        if (!Await(Verb::Said, &message) || !ParseSaidNotice(message, &said))
            return false;
        DoneNotice heard;
        do {
            if (!Await(Verb::Heard, &message) || !ParseHeardNotice(message, &heard))
                return false;
        } while (heard.seq != said.seq);
        *roundTrip = static_cast<uint32_t>(MicrosecondsNow() - start);
        *service = heard.micros;
        *outcome = heard.outcome;
        return true;
    }

    // COUNT phrases sent at once; true when every one ran or was dropped
    // (a service keeps only so many waiting while its client is in a call).
    bool Burst(int count, double *seconds, int *dropped)
    {
        const uint64_t start = MicrosecondsNow();
        for (int i = 0; i < count; ++i)
            if (!hub_.Send(FormatSayNotice({BenchPhrase})))
                return false;
        int said = 0, answered = 0;
        while (said < count || answered < count) {
            ChannelMessage message;
            if (!ReadMessage(hub_, ReplyMs, &message))
                return false;
            SaidNotice taken;
            DoneNotice heard;
            if (ParseSaidNotice(message, &taken))
                ++said;
            else if (ParseHeardNotice(message, &heard) &&
                     (heard.outcome == Outcome::Ran || heard.outcome == Outcome::Dropped)) {
                ++answered;
                *dropped += heard.outcome == Outcome::Dropped;
            } else if (message.verb == Verb::Heard)
                return false;
        }
        *seconds = (MicrosecondsNow() - start) / 1e6;
        return true;
    }

    DWORD ServicePid() const { return servicePid_; }
    DWORD HubPid() const { return hubPid_; }

  private:
    bool Await(Verb verb, ChannelMessage *message)
    {
        for (;;) {
            if (!ReadMessage(hub_, ReplyMs, message))
                return false;
            if (message->verb == verb)
                return true;
        }
    }
    PipeClient hub_;
    uint32_t hubPid_ = 0, servicePid_ = 0;
};

std::string Figures(std::vector<uint32_t> micros)
{
    std::sort(micros.begin(), micros.end());
    auto at = [&](double q) {
        return micros[std::min(micros.size() - 1, static_cast<size_t>(q * micros.size()))] / 1000.0;
    };
    char text[160];
    snprintf(text, sizeof text, "median %.2f ms, p90 %.2f ms, p99 %.2f ms, max %.2f ms (n=%u)",
             at(0.5), at(0.9), at(0.99), micros.back() / 1000.0,
             static_cast<unsigned>(micros.size()));
    return text;
}

int RunBench(int count, Report &out)
{
    Bench bench;
    if (!bench.Start()) {
        out.Line("error\tno hub or no service");
        return 2;
    }
    uint32_t service = 0, roundTrip = 0;
    Outcome outcome;
    for (int i = 0; i < 20; ++i) // warm-up
        if (!bench.SayOne(BenchPhrase, &service, &roundTrip, &outcome))
            return 2;

    for (const char *phrase : {BenchPhrase, "no such command"}) {
        std::vector<uint32_t> inService, trip;
        for (int i = 0; i < count; ++i) {
            if (!bench.SayOne(phrase, &service, &roundTrip, &outcome)) {
                out.Line("error\tno result");
                return 2;
            }
            inService.push_back(service);
            trip.push_back(roundTrip);
        }
        out.Line(std::string("phrase\t") + phrase + "\t" + OutcomeName(outcome));
        out.Line("service\t" + Figures(inService));
        out.Line("roundtrip\t" + Figures(trip));
    }

    const SIZE_T serviceBefore = PrivateBytes(bench.ServicePid());
    const SIZE_T hubBefore = PrivateBytes(bench.HubPid());
    for (int burst = 1; burst <= 2; ++burst) {
        double seconds = 0;
        int dropped = 0;
        if (!bench.Burst(count, &seconds, &dropped)) {
            out.Line("error\tburst lost phrases");
            return 2;
        }
        char text[200];
        snprintf(text, sizeof text,
                 "burst %d\t%d phrases in %.2f s, %d dropped; service %lu -> %lu KiB; hub %lu -> "
                 "%lu KiB",
                 burst, count, seconds, dropped, static_cast<unsigned long>(serviceBefore / 1024),
                 static_cast<unsigned long>(PrivateBytes(bench.ServicePid()) / 1024),
                 static_cast<unsigned long>(hubBefore / 1024),
                 static_cast<unsigned long>(PrivateBytes(bench.HubPid()) / 1024));
        out.Line(text);
    }
    return 0;
}

// A stand-in service: the hub's routing and the recogniser's deliveries seen
// from where a service process sits.
int Serve(int count, int seconds, const std::vector<std::string> &phrases, Report &out)
{
    PipeClient hub;
    if (!hub.Connect(HubPipeName(), HubProgramPath(), ReplyMs)) {
        out.Line("error\tno hub");
        return 2;
    }
    const MenuNotice menu{1, true, true, "Probe", "Main", phrases};
    if (!hub.Send(FormatServiceNotice({GetCurrentProcessId()})) ||
        !hub.Send(FormatMenuNotice(menu)))
        return 2;
    const DWORD start = GetTickCount();
    DWORD end = start + static_cast<DWORD>(seconds) * 1000;
    int heard = 0;
    uint32_t highest = 0;
    for (;;) {
        const DWORD now = GetTickCount();
        if (static_cast<int32_t>(end - now) <= 0)
            break;
        std::string line;
        if (!hub.ReadLine(&line, end - now))
            continue;
        ChannelMessage message;
        PhraseNotice phrase;
        LevelNotice level;
        if (!ParseChannelLine(line, &message))
            continue;
        if (ParsePhraseNotice(message, &phrase)) {
            out.Line("phrase\t" + phrase.phrase);
            DoneNotice done;
            done.seq = phrase.seq;
            done.outcome = Outcome::Other;
            for (const std::string &command : phrases)
                if (SamePhrase(command, phrase.phrase))
                    done.outcome = Outcome::Ran, done.command = command;
            done.application = "Probe";
            done.state = "Main";
            hub.Send(FormatDoneNotice(done));
            if (++heard == count)
                end = GetTickCount() + GraceMs;
        } else if (ParseLevelNotice(message, &level)) {
            highest = std::max<uint32_t>(highest, level.level);
        }
    }
    out.Line("level\t" + std::to_string(highest));
    return heard >= count ? 0 : 1;
}

int Flood(int count, const std::string &phrase, Report &out)
{
    PipeClient hub;
    if (!hub.Connect(HubPipeName(), HubProgramPath(), ReplyMs))
        return 2;
    for (int i = 0; i < count; ++i)
        if (!hub.Send(FormatSayNotice({phrase})))
            return 2;
    int said = 0;
    ChannelMessage message;
    SaidNotice taken;
    while (said < count && ReadMessage(hub, ReplyMs, &message))
        said += ParseSaidNotice(message, &taken);
    out.Line("said\t" + std::to_string(said));
    return said == count ? 0 : 2;
}

// One connection to the hub's pipe, closed at once; false when the pipe
// stayed busy.
bool ComeAndGo(const std::string &name)
{
    for (int tries = 0; tries < 100; ++tries) {
        HANDLE pipe = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        if (pipe != INVALID_HANDLE_VALUE) {
            CloseHandle(pipe);
            return true;
        }
        if (GetLastError() != ERROR_PIPE_BUSY || !WaitNamedPipeA(name.c_str(), ReplyMs))
            Sleep(10);
    }
    return false;
}

class Stressor {
  public:
    bool Start(Report &out)
    {
        if (!service_.Connect(HubPipeName(), HubProgramPath(), ReplyMs) ||
            !sayer_.Connect(HubPipeName(), HubProgramPath(), ReplyMs))
            return false;
        ChannelMessage message;
        StatusNotice status;
        if (!service_.Send(FormatServiceNotice({GetCurrentProcessId()})) ||
            !service_.Send(FormatMenuNotice({1, true, true, "Stress", "Main", {"Stress"}})) ||
            !sayer_.Send(FormatEmptyNotice(Verb::Status)) ||
            !ReadMessage(sayer_, ReplyMs, &message) || !ParseStatusNotice(message, &status) ||
            status.services.empty()) {
            out.Line("error\tno hub");
            return false;
        }
        hub_ = status.hub;
        return true;
    }
    // cycles comings and goings, a phrase after every share of them.
    bool Run(int cycles, int phrases)
    {
        for (int p = 0; p < phrases; ++p) {
            for (int i = cycles * p / phrases; i < cycles * (p + 1) / phrases; ++i)
                cycles_ += ComeAndGo(HubPipeName());
            if (!SayOne())
                return false;
        }
        return true;
    }
    // Phrases that come late, or twice.
    void Settle()
    {
        const DWORD start = GetTickCount();
        while (GetTickCount() - start < GraceMs)
            Deliver(0, GraceMs);
    }
    uint32_t Hub() const { return hub_; }
    int cycles_ = 0;
    std::map<uint32_t, int> delivered_; // seq: times
    std::set<uint32_t> said_;

  private:
    bool SayOne()
    {
        ChannelMessage message;
        SaidNotice said;
        if (!sayer_.Send(FormatSayNotice({"Stress"})) || !ReadMessage(sayer_, ReplyMs, &message) ||
            !ParseSaidNotice(message, &said))
            return false;
        said_.insert(said.seq);
        while (!delivered_.count(said.seq))
            if (!Deliver(said.seq, ReplyMs))
                return false;
        return true;
    }
    // Reads one line for the service and answers a phrase.
    bool Deliver(uint32_t, DWORD timeoutMs)
    {
        std::string line;
        ChannelMessage message;
        PhraseNotice phrase;
        if (!service_.ReadLine(&line, timeoutMs))
            return false;
        if (!ParseChannelLine(line, &message) || !ParsePhraseNotice(message, &phrase))
            return true;
        ++delivered_[phrase.seq];
        DoneNotice done;
        done.seq = phrase.seq;
        done.outcome = Outcome::Ran;
        done.command = "Stress";
        done.application = "Stress";
        done.state = "Main";
        return service_.Send(FormatDoneNotice(done));
    }
    PipeClient service_, sayer_;
    uint32_t hub_ = 0;
};

// Every slot the hub has: as many clients at once, each answered.
int SlotsServing(int count)
{
    std::vector<std::unique_ptr<PipeClient>> clients;
    for (int i = 0; i < count; ++i) {
        clients.push_back(std::make_unique<PipeClient>());
        if (!clients.back()->Connect(HubPipeName(), HubProgramPath(), ReplyMs) ||
            !clients.back()->Send(FormatEmptyNotice(Verb::Status)))
            return i;
    }
    int answered = 0;
    for (auto &client : clients) {
        ChannelMessage message;
        StatusNotice status;
        answered += ReadMessage(*client, ReplyMs, &message) && ParseStatusNotice(message, &status);
    }
    return answered;
}

int Stress(int cycles, int phrases, Report &out)
{
    Stressor stress;
    if (!stress.Start(out))
        return 2;
    const DWORD start = GetTickCount();
    // A tenth first, so that the hub's heap has grown to its working size.
    if (!stress.Run(cycles / 10, phrases / 10))
        return 2;
    const SIZE_T before = PrivateBytes(stress.Hub());
    const bool ran = stress.Run(cycles, phrases);
    stress.Settle();
    const SIZE_T after = PrivateBytes(stress.Hub());
    int once = 0, more = 0;
    for (const auto &seq : stress.delivered_)
        (seq.second == 1 ? once : more) += 1;
    const int missing = static_cast<int>(stress.said_.size()) - once - more;
    const int slots = static_cast<int>(HubCore::MaxClients) - 2; // the stressor holds two
    const int serving = SlotsServing(slots);
    char text[300];
    snprintf(text, sizeof text,
             "cycles\t%d\nphrases\t%d said, %d delivered once, %d more than once, %d never\n"
             "hub\t%lu KiB private before, %lu KiB after\nslots\t%d of %d answered\nseconds\t%.1f",
             stress.cycles_, static_cast<int>(stress.said_.size()), once, more, missing,
             static_cast<unsigned long>(before / 1024), static_cast<unsigned long>(after / 1024),
             serving, slots, (GetTickCount() - start) / 1000.0);
    out.Line(text);
    const bool ok = ran && more == 0 && missing == 0 && serving == slots &&
                    stress.cycles_ >= cycles * 11 / 10 && after < before + (4 << 20);
    return ok ? 0 : 1;
}

// Clients that never read what they asked for.
int Deaf(int count, int seconds, Report &out)
{
    std::vector<std::unique_ptr<PipeClient>> clients;
    std::string requests = FormatEmptyNotice(Verb::Watch);
    for (int i = 0; i < 1000; ++i)
        requests += FormatEmptyNotice(Verb::List);
    for (int i = 0; i < count; ++i) {
        clients.push_back(std::make_unique<PipeClient>());
        if (!clients.back()->Connect(HubPipeName(), HubProgramPath(), ReplyMs))
            return 2;
        clients.back()->Send(requests + (i % 2 ? "NONSENSE\n" : ""));
    }
    out.Line("connected\t" + std::to_string(count));
    Sleep(static_cast<DWORD>(seconds) * 1000);
    return 0;
}

// Clients that name themselves as services and then idle, holding no menu:
// how many of them the hub turned away meanwhile (an ERROR waits for them).
int Idle(int count, int seconds, Report &out)
{
    std::vector<std::unique_ptr<PipeClient>> clients;
    for (int i = 0; i < count; ++i) {
        clients.push_back(std::make_unique<PipeClient>());
        if (!clients.back()->Connect(HubPipeName(), HubProgramPath(), ReplyMs) ||
            !clients.back()->Send(FormatServiceNotice({GetCurrentProcessId()})))
            return 2;
    }
    out.Line("connected\t" + std::to_string(count));
    Sleep(static_cast<DWORD>(seconds) * 1000);
    int turnedAway = 0;
    for (auto &client : clients) {
        ChannelMessage message;
        ReasonNotice error;
        turnedAway += ReadMessage(*client, 50, &message) && ParseErrorNotice(message, &error);
    }
    out.Line("given way\t" + std::to_string(turnedAway));
    return 0;
}

// A client of the service with every menu it may have, each full: the
// sink counts what it is told, and from when the tables are checked on,
// names each command it runs.
class BurstSink final : public IVCmdNotifySinkA {
  public:
    explicit BurstSink(Report &out) : out_(out) {}
    std::atomic<bool> naming{false};
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override
    {
        *object = nullptr;
        if (iid != IID_IUnknown && iid != IID_IVCmdNotifySinkA)
            return E_NOINTERFACE;
        *object = this;
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; } // lives as long as the probe
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CommandRecognize(DWORD, VCMDNAMEA *, DWORD, DWORD, BYTE *, DWORD,
                                               char *, char *command) override
    {
        if (naming && command)
            out_.Line(std::string("recognized\t") + command);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CommandOther(VCMDNAMEA *, char *) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE CommandStart() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE MenuActivate(VCMDNAMEA *, BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE UtteranceBegin() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE UtteranceEnd() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE VUMeter(WORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE AttribChanged(DWORD) override { return S_OK; }

  private:
    Report &out_;
};

// "Burst M C" and words to the longest phrase a menu keeps: every
// publication of the client's menus is as large as any can be.
std::string BurstPhrase(size_t menu, size_t command)
{
    const std::string words = " alpha bravo charlie delta echo foxtrot golf hotel india juliet "
                              "kilo lima mike november oscar papa quebec romeo sierra tango";
    const std::string phrase = "Burst " + std::to_string(menu) + " " + std::to_string(command);
    return (phrase + words).substr(0, MaxPhraseLength);
}

// A menu's commands as Add takes them: records of a header and the phrase,
// then an empty category, each padded to four bytes.
std::vector<BYTE> BurstBlock(size_t menu)
{
    std::vector<BYTE> block;
    for (size_t command = 0; command < MaxMenuCommands; ++command) {
        const std::string phrase = BurstPhrase(menu, command);
        const DWORD size = (RecordHeaderSize + phrase.size() + 2 + 3) & ~3u;
        const DWORD fields[] = {size,
                                0,
                                DWORD(command + 1),
                                RecordHeaderSize,
                                0,
                                DWORD(RecordHeaderSize + phrase.size() + 1),
                                0,
                                0,
                                0};
        const size_t at = block.size();
        block.resize(at + size);
        memcpy(&block[at], fields, sizeof fields);
        memcpy(&block[at + RecordHeaderSize], phrase.c_str(), phrase.size() + 1);
    }
    return block;
}

// How many of the phrases the hub hands to a listening menu, asked with
// SAY a window at a time (within what the hub holds unread for a client).
size_t PhrasesTheHubHas(PipeClient &hub, const std::vector<std::string> &phrases)
{
    constexpr size_t Window = 64;
    size_t had = 0;
    for (size_t at = 0; at < phrases.size(); at += Window) {
        const size_t end = std::min(phrases.size(), at + Window);
        for (size_t i = at; i < end; ++i)
            if (!hub.Send(FormatSayNotice({phrases[i]})))
                return had;
        ChannelMessage message;
        SaidNotice said;
        for (size_t i = at; i < end; ++i)
            if (ReadMessage(hub, ReplyMs, &message) && ParseSaidNotice(message, &said))
                had += said.services > 0;
    }
    return had;
}

// Every menu a service may hold, each full, published and then republished
// by the client's awake state toggled twenty times; then whether the hub
// has a spread of them, and the client stays SECONDS for phrases said to it.
int Burst(int seconds, Report &out)
{
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
        return 2;
    BurstSink sink(out);
    ComPtr<IVoiceCmdA> service;
    ComPtr<IVCmdAttributesA> attributes;
    if (CoCreateInstance(CLSID_VCmd, nullptr, CLSCTX_LOCAL_SERVER, IID_IVoiceCmdA,
                         reinterpret_cast<void **>(service.Put())) != S_OK ||
        FAILED(service->QueryInterface(IID_IVCmdAttributesA,
                                       reinterpret_cast<void **>(attributes.Put()))) ||
        FAILED(
            service->Register("", &sink, IID_IVCmdNotifySinkA, VCMDRF_ALLNOTIFICATIONS, nullptr)) ||
        attributes->EnabledSet(1) != S_OK || attributes->AwakeStateSet(1) != S_OK)
        return 2;
    std::vector<ComPtr<IVCmdMenuA>> menus(MaxServiceMenus);
    std::vector<std::string> phrases;
    for (size_t m = 0; m < menus.size(); ++m) {
        VCMDNAMEA name = {};
        snprintf(name.szApplication, sizeof name.szApplication, "Burst");
        snprintf(name.szState, sizeof name.szState, "Menu %u", unsigned(m));
        LANGUAGEA language = {};
        language.LanguageID = 0x409;
        std::vector<BYTE> block = BurstBlock(m);
        DWORD first = 0;
        if (FAILED(service->MenuCreate(&name, &language, 0, menus[m].Put())) ||
            FAILED(menus[m]->Add(MaxMenuCommands, {block.data(), DWORD(block.size())}, &first)) ||
            FAILED(menus[m]->Activate(nullptr, 0)))
            return 2;
        // Asked of the hub: a spread over every menu, its last phrase
        // included. Each SAY costs the hub and the service a pass over every
        // phrase (some ms under Wine): all 16384 would take minutes.
        for (size_t c = m % 7; c < MaxMenuCommands; c += 7)
            phrases.push_back(BurstPhrase(m, c));
        if ((MaxMenuCommands - 1 - m % 7) % 7 != 0)
            phrases.push_back(BurstPhrase(m, MaxMenuCommands - 1));
    }
    out.Line("menus\t" + std::to_string(menus.size()));
    for (int toggle = 0; toggle < 20; ++toggle)
        if (attributes->AwakeStateSet(toggle % 2) != S_OK)
            return 2;
    if (attributes->AwakeStateSet(1) != S_OK)
        return 2;
    out.Line("toggled\t20");
    // The last publication is on its way, and a hub busy taking it in may
    // answer a window of questions late: asked again, on a fresh connection
    // so that no late answer is counted, until it has them all or a minute
    // and a half has passed.
    size_t had = 0;
    for (const DWORD start = GetTickCount(); had < phrases.size() && GetTickCount() - start < 90000;
         Sleep(1000)) {
        PipeClient hub;
        if (hub.Connect(HubPipeName(), HubProgramPath(), ReplyMs))
            had = PhrasesTheHubHas(hub, phrases);
    }
    sink.naming = true;
    out.Line("tables\t" + std::to_string(had) + " of " + std::to_string(phrases.size()));
    Sleep(static_cast<DWORD>(seconds) * 1000);
    return had == phrases.size() ? 0 : 1;
}

// Another program on the hub's pipe: what would it be told?
class Squatter : public PipeEngine::Events {
  public:
    explicit Squatter(Report &out) : out_(out) {}
    void Opened(int) override {}
    void Line(int, std::string line) override { out_.Line("line\t" + line); }
    void Closed(int) override {}

  private:
    Report &out_;
};

int Squat(int seconds, Report &out)
{
    Squatter squatter(out);
    PipeEngine engine(&squatter);
    if (engine.Listen(HubPipeName()) != PipeEngine::Listening::Yes || !engine.Start()) {
        out.Line("error\tthe pipe is taken");
        return 2;
    }
    out.Line("squatting");
    Sleep(static_cast<DWORD>(seconds) * 1000);
    engine.Stop();
    return 0;
}

// Parameters a forger might pick: nothing, small numbers that look like
// connection ids or states, and addresses that are not the receiver's.
const LPARAM JunkParameters[] = {0, 1, 2, 3, 7, 0x10, 0x7fff, -1, 0x12345678};

// Posts every number from WM_APP up to the end of the registered range;
// a full queue is waited out. The number of posts made.
size_t PostJunk(HWND window)
{
    size_t posted = 0, turn = 0;
    for (UINT message = WM_APP; message <= 0xFFFF; ++message) {
        const size_t count = sizeof JunkParameters / sizeof JunkParameters[0];
        const WPARAM wParam = static_cast<WPARAM>(JunkParameters[turn % count]);
        const LPARAM lParam = JunkParameters[(turn / count + 3) % count];
        ++turn;
        for (int tries = 0; tries < 100; ++tries, Sleep(5)) {
            if (PostMessageA(window, message, wParam, lParam)) {
                ++posted;
                break;
            }
            if (!IsWindow(window))
                return posted;
        }
    }
    return posted;
}

int Junk(Report &out)
{
    HWND hub = FindWindowA(nullptr, FeedbackWindowTitle);
    if (!hub)
        return 2;
    out.Line("posted\thub\t" + std::to_string(PostJunk(hub)));
    int services = 0;
    for (HWND service = nullptr;
         (service = FindWindowExA(HWND_MESSAGE, service, "NelkoVoiceService", nullptr));)
        out.Line("posted\tservice " + std::to_string(++services) + "\t" +
                 std::to_string(PostJunk(service)));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        fputs("use: voiceprobe window OUT | voiceprobe bench COUNT OUT | voiceprobe serve COUNT "
              "SECONDS OUT PHRASE... | voiceprobe flood COUNT PHRASE OUT | voiceprobe stress "
              "CYCLES PHRASES OUT | voiceprobe deaf COUNT SECONDS OUT | voiceprobe idle COUNT "
              "SECONDS OUT | voiceprobe burst SECONDS OUT | voiceprobe squat SECONDS OUT | "
              "voiceprobe "
              "junk OUT\n",
              stderr);
        return 3;
    }
    const std::string mode = argv[1];
    const bool serve = mode == "serve" && argc >= 6;
    const char *path = serve ? argv[4] : argv[argc - 1];
    FILE *file = fopen(path, "wb");
    if (!file)
        return 3;
    Report out{file};
    int result = 3;
    if (mode == "window" && argc == 3)
        result = DumpWindow(out);
    else if (mode == "bench" && argc == 4)
        result = RunBench(std::max(1, atoi(argv[2])), out);
    else if (mode == "flood" && argc == 5)
        result = Flood(std::max(1, atoi(argv[2])), argv[3], out);
    else if (mode == "stress" && argc == 5)
        result = Stress(std::max(10, atoi(argv[2])), std::max(10, atoi(argv[3])), out);
    else if (mode == "deaf" && argc == 5)
        result = Deaf(std::max(1, atoi(argv[2])), std::max(1, atoi(argv[3])), out);
    else if (mode == "burst" && argc == 4)
        result = Burst(std::max(1, atoi(argv[2])), out);
    else if (mode == "idle" && argc == 5)
        result = Idle(std::max(1, atoi(argv[2])), std::max(1, atoi(argv[3])), out);
    else if (mode == "squat" && argc == 4)
        result = Squat(std::max(1, atoi(argv[2])), out);
    else if (mode == "junk" && argc == 3)
        result = Junk(out);
    else if (serve)
        result = Serve(std::max(1, atoi(argv[2])), std::max(1, atoi(argv[3])),
                       std::vector<std::string>(argv + 5, argv + argc), out);
    fclose(file);
    return result;
}
