// The channel's named pipes: lines both ways between a listening engine and
// its clients, and peers that break the rules cut off.
#include "harness.h"
#include "voiced/pipe/bridge.h"
#include "voiced/pipe/client.h"
#include "voiced/pipe/engine.h"
#include "voiced/pipe/peer.h"
#include "voiced/service/hublink.h"
#include "voiced/service/install.h"
#include "voiced/service/service.h"
#include <gtest/gtest.h>
#include <aclapi.h>
#include <sddl.h>
#include <condition_variable>
#include <future>
#include <map>
#include <set>
#include <algorithm>
#include <psapi.h>

namespace {

constexpr DWORD WaitMs = 5000;

// Records what the engine reports, from the engine's thread.
class Recorder : public PipeEngine::Events {
  public:
    void Opened(int id) override { Note("open", id, ""); }
    void Line(int id, std::string line) override { Note("line", id, line); }
    void Closed(int id) override { Note("closed", id, ""); }

    // Waits until an event of that kind has arrived; returns its connection.
    int Await(const std::string &kind, std::string *text = nullptr, DWORD ms = WaitMs)
    {
        std::unique_lock<std::mutex> hold(lock_);
        int id = 0;
        changed_.wait_for(hold, std::chrono::milliseconds(ms), [&] {
            for (auto it = events_.begin(); it != events_.end(); ++it)
                if (it->kind == kind) {
                    id = it->id;
                    if (text)
                        *text = it->text;
                    events_.erase(it);
                    return true;
                }
            return false;
        });
        return id;
    }

    // How many events of that kind came, in all.
    int Count(const std::string &kind)
    {
        std::lock_guard<std::mutex> hold(lock_);
        return counts_[kind];
    }
    // Waits until as many connections have closed as opened, less open.
    bool AllClosedBut(int open, DWORD ms = WaitMs)
    {
        std::unique_lock<std::mutex> hold(lock_);
        return changed_.wait_for(hold, std::chrono::milliseconds(ms),
                                 [&] { return counts_["open"] - counts_["closed"] == open; });
    }

  private:
    struct Event {
        std::string kind;
        int id;
        std::string text;
    };
    void Note(const char *kind, int id, std::string text)
    {
        std::lock_guard<std::mutex> hold(lock_);
        ++counts_[kind];
        events_.push_back({kind, id, std::move(text)});
        changed_.notify_all();
    }
    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<Event> events_;
    std::map<std::string, int> counts_;
};

// This test program: the server its clients expect.
std::string OwnProgram()
{
    return ProgramFile();
}

// A pipe name of this test process alone.
std::string TestPipe()
{
    static int serial = 0;
    return "\\\\.\\pipe\\NelkoVoiceTest-" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(++serial);
}

// Takes the lines a bridge (or a link) holds for its window, oldest first,
// until done() or WaitMs pass: take(event) for each.
template <class Bridge, class Take, class Done> void TakeLines(Bridge &bridge, Take take, Done done)
{
    for (const DWORD start = GetTickCount(); GetTickCount() - start < WaitMs && !done();) {
        WindowEvents::Event event;
        if (!bridge.Next(&event))
            Sleep(10);
        else if (event.kind == WindowEvents::Event::Line)
            take(event);
    }
}

// An engine listening on a pipe of its own, as the hub does.
class VoicedPipe : public ::testing::Test {
  protected:
    void SetUp() override
    {
        ASSERT_EQ(engine.Listen(name), PipeEngine::Listening::Yes);
        ASSERT_TRUE(engine.Start());
    }
    // A client of this engine, connected and reported open; its id.
    int Connect(PipeClient *client)
    {
        if (!client->Connect(name, OwnProgram(), WaitMs))
            return 0;
        return events.Await("open");
    }
    // A service's end: a connection made elsewhere and handed to an engine
    // that does not listen, which introduces itself.
    struct Service {
        Recorder events;
        PipeEngine engine{&events};
        int mine = 0;   // the connection at the service's end
        int theirs = 0; // and at this engine's
    };
    void AdoptService(Service *service)
    {
        ASSERT_TRUE(service->engine.Start());
        HANDLE pipe = OpenPipe(name, OwnProgram(), WaitMs);
        ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
        service->mine = service->engine.Adopt(pipe);
        ASSERT_EQ(service->events.Await("open"), service->mine);
        service->theirs = events.Await("open");
        service->engine.Send(service->mine, "SERVICE\t42\n");
    }
    Recorder events;
    PipeEngine engine{&events};
    const std::string name = TestPipe();
};

TEST_F(VoicedPipe, LinesTravelBothWaysAndEachClientIsItsOwn)
{
    PipeClient first, second;
    const int one = Connect(&first);
    const int two = Connect(&second);
    ASSERT_NE(one, 0);
    ASSERT_NE(two, 0);
    EXPECT_NE(one, two);

    // A line written in pieces arrives whole.
    ASSERT_TRUE(first.Send("SAY\tgo"));
    ASSERT_TRUE(first.Send(" left\nLIST\n"));
    std::string text;
    EXPECT_EQ(events.Await("line", &text), one);
    EXPECT_EQ(text, "SAY\tgo left");
    EXPECT_EQ(events.Await("line", &text), one);
    EXPECT_EQ(text, "LIST");

    engine.Send(two, "PHRASE\t1\tWave\n");
    engine.Send(one, "SAID\t1\t0\n");
    std::string line;
    ASSERT_TRUE(second.ReadLine(&line, WaitMs));
    EXPECT_EQ(line, "PHRASE\t1\tWave");
    ASSERT_TRUE(first.ReadLine(&line, WaitMs));
    EXPECT_EQ(line, "SAID\t1\t0");
    EXPECT_FALSE(first.ReadLine(&line, 100)) << "nothing more for it";

    // A large reply is written out completely.
    const std::string big(200000, 'x');
    engine.Send(one, "COMMANDS\t" + big.substr(0, MaxChannelLine - 10) + "\n");
    ASSERT_TRUE(first.ReadLine(&line, WaitMs));
    EXPECT_EQ(line.size(), MaxChannelLine - 1);

    second.Disconnect();
    EXPECT_EQ(events.Await("closed"), two);
}

TEST_F(VoicedPipe, OversizedLineCutsTheClientOff)
{
    PipeClient client;
    const int id = Connect(&client);
    client.Send("LIST\n" + std::string(MaxChannelLine + 1, 'a'));
    std::string text;
    EXPECT_EQ(events.Await("line", &text), id) << "what came before still counts";
    EXPECT_EQ(text, "LIST");
    EXPECT_EQ(events.Await("closed"), id);
    std::string line;
    EXPECT_FALSE(client.ReadLine(&line, 1000)) << "the hub end is gone";
}

TEST_F(VoicedPipe, CloseWritesWhatWasSentFirst)
{
    PipeClient client;
    const int id = Connect(&client);
    engine.Send(id, "ERROR\tunknown verb\n");
    engine.Close(id);
    std::string line;
    ASSERT_TRUE(client.ReadLine(&line, WaitMs));
    EXPECT_EQ(line, "ERROR\tunknown verb");
    EXPECT_FALSE(client.ReadLine(&line, 1000));
    EXPECT_EQ(events.Await("closed"), id);
}

TEST_F(VoicedPipe, AdoptedConnectionCarriesLines)
{
    Service service;
    AdoptService(&service);
    std::string text;
    EXPECT_EQ(events.Await("line", &text), service.theirs);
    EXPECT_EQ(text, "SERVICE\t42");
    engine.Send(service.theirs, "PHRASE\t7\tGo Up\n");
    EXPECT_EQ(service.events.Await("line", &text), service.mine);
    EXPECT_EQ(text, "PHRASE\t7\tGo Up");
    engine.Stop(); // the hub goes away: the service hears of it
    EXPECT_EQ(service.events.Await("closed"), service.mine);
}

// A handle handed to an engine that stops before taking it is closed, not
// leaked: the hub hears the connection end.
TEST_F(VoicedPipe, HandleAdoptedAsTheEngineStopsIsClosed)
{
    HANDLE pipe = OpenPipe(name, OwnProgram(), WaitMs);
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    const int theirs = events.Await("open");
    {
        Recorder serviceEvents;
        PipeEngine service(&serviceEvents); // never started
        service.Adopt(pipe);
    }
    // Sooner than the hub would cut off a client that never spoke.
    EXPECT_EQ(events.Await("closed", nullptr, PipeEngine::FirstLineMs / 2), theirs);
}

TEST(VoicedPipeClient, NoHubMeansNoConnection)
{
    PipeClient client;
    const DWORD start = GetTickCount();
    EXPECT_FALSE(client.Connect(TestPipe(), OwnProgram(), 300));
    EXPECT_LT(GetTickCount() - start, 3000u);
    EXPECT_EQ(client.Refusal(), "") << "nobody to refuse";
    EXPECT_EQ(OpenPipe(TestPipe(), OwnProgram(), 0), INVALID_HANDLE_VALUE);
}

// A pipe of this user's, as the hub makes it: its owner named.
HANDLE OwnedPipe(const std::string &name)
{
    const std::string sddl =
        "O:" + UserOf(GetCurrentProcess()) + "D:P(A;;GA;;;" + UserOf(GetCurrentProcess()) + ")";
    void *descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                              &descriptor, nullptr))
        return INVALID_HANDLE_VALUE;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    HANDLE pipe = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 1, 4096, 4096,
                                   0, &attributes);
    LocalFree(descriptor);
    return pipe;
}

// A server that never reads: a line longer than the pipe holds is given up
// within the client's limit, not waited on for ever.
TEST(VoicedPipeClient, SendToAServerThatDoesNotReadGivesUp)
{
    const std::string name = TestPipe();
    HANDLE server = OwnedPipe(name);
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    PipeClient client;
    ASSERT_TRUE(client.Connect(name, OwnProgram(), WaitMs)) << client.Refusal();
    auto sent = std::async(std::launch::async,
                           [&] { return client.Send(std::string(1 << 20, 'x') + "\n", 500); });
    const bool ended =
        sent.wait_for(std::chrono::milliseconds(WaitMs)) == std::future_status::ready;
    CloseHandle(server); // frees a client still waiting
    ASSERT_TRUE(ended) << "Send waited past its limit";
    EXPECT_FALSE(sent.get());
}

// The right program and user behind a pipe whose security descriptor names
// another owner (here the default one, the administrators under Wine): the
// process id the pipe reports could be another's, so the client refuses it.
TEST(VoicedPipeClient, APipeOwnedByAnotherIsRefused)
{
    const std::string name = TestPipe();
    const ScopedHandle server(CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 1,
                                               4096, 4096, 0, nullptr));
    ASSERT_TRUE(server);
    PipeClient client;
    EXPECT_FALSE(client.Connect(name, OwnProgram(), WaitMs));
    EXPECT_EQ(client.Refusal(), "the pipe belongs to another user");
}

// A program that opens the pipe and closes it at once, hundreds of times,
// often before the hub waits for it: each is closed again (no slot kept),
// and the hub goes on serving.
TEST_F(VoicedPipe, ClientsThatComeAndGoAtOnceLeaveTheHubServing)
{
    int opened = 0;
    for (int i = 0; i < 500; ++i) {
        HANDLE pipe = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        if (pipe != INVALID_HANDLE_VALUE)
            ++opened, CloseHandle(pipe);
    }
    EXPECT_GT(opened, 0);
    PipeClient client;
    ASSERT_TRUE(client.Connect(name, OwnProgram(), WaitMs))
        << "after " << opened << " came and went";
    ASSERT_TRUE(client.Send("LIST\n"));
    std::string text;
    const int id = events.Await("line", &text);
    EXPECT_EQ(text, "LIST");
    engine.Send(id, "COMMANDS\n");
    std::string line;
    EXPECT_TRUE(client.ReadLine(&line, WaitMs));
    EXPECT_TRUE(events.AllClosedBut(1))
        << events.Count("open") << " opened, " << events.Count("closed") << " closed";
}

// A client that is sent an answer and never reads it: its connection is
// closed at once when asked, cut when what waits for it passes the limit or
// has waited too long, and meanwhile every other client is served; the
// engine's end waits on none of them.
TEST_F(VoicedPipe, APeerThatDoesNotReadBlocksNoOne)
{
    PipeClient refused, flooded, stuck, other;
    const int refusedId = Connect(&refused);
    const int floodedId = Connect(&flooded);
    const int stuckId = Connect(&stuck);
    ASSERT_TRUE(refusedId && floodedId && stuckId);
    engine.Send(refusedId, "ERROR\tunknown verb\n");
    engine.Close(refusedId);
    EXPECT_EQ(events.Await("closed"), refusedId) << "closed without waiting for the reader";

    const std::string line(60000, 'x');
    for (size_t sent = 0; sent <= PipeEngine::MaxQueuedBytes + 2 * line.size(); sent += line.size())
        engine.Send(floodedId, "COMMANDS\t" + line + "\n");
    EXPECT_EQ(events.Await("closed"), floodedId) << "over its limit";
    ASSERT_TRUE(stuck.Send("WATCH\n")); // it has spoken: only its reading counts
    EXPECT_EQ(events.Await("line"), stuckId);
    for (int i = 0; i < 3; ++i)
        engine.Send(stuckId, "COMMANDS\t" + line + "\n"); // more than the pipe holds

    const int otherId = Connect(&other);
    ASSERT_NE(otherId, 0);
    ASSERT_TRUE(other.Send("STATUS\n"));
    std::string text;
    EXPECT_EQ(events.Await("line", &text), otherId);
    engine.Send(otherId, "STATUS\t1\n");
    EXPECT_TRUE(other.ReadLine(&text, WaitMs));
    EXPECT_EQ(text, "STATUS\t1");
    for (int i = 0; i < 3; ++i)
        engine.Send(otherId, "COMMANDS\t" + line + "\n"); // it stops reading too
    EXPECT_EQ(events.Await("closed", nullptr, PipeEngine::StalledMs + 2000), stuckId)
        << "it read nothing for too long";

    const DWORD start = GetTickCount();
    engine.Stop();
    EXPECT_LT(GetTickCount() - start, 3000u) << "the end waited on a peer";
    EXPECT_TRUE(events.AllClosedBut(0));
}

// A connection that sends no whole line in time is closed; one that has
// spoken may stay silent (a watcher), and so may the hub's end of a service.
TEST_F(VoicedPipe, SilentConnectionsAreClosedButNotThoseThatSpoke)
{
    Service service;
    AdoptService(&service);

    PipeClient silent, half, watcher;
    const int silentId = Connect(&silent);
    const int halfId = Connect(&half);
    const int watcherId = Connect(&watcher);
    ASSERT_TRUE(half.Send("WATCH")); // no line end
    ASSERT_TRUE(watcher.Send("WATCH\n"));
    const std::set<int> closed = {events.Await("closed"), events.Await("closed")};
    EXPECT_EQ(closed, (std::set<int>{silentId, halfId}));
    Sleep(500);
    EXPECT_EQ(events.Count("closed"), 2) << "the watcher and the service stay";
    EXPECT_EQ(service.events.Count("closed"), 0) << "the hub may be silent";
    engine.Send(watcherId, "CHANGED\n");
    std::string line;
    EXPECT_TRUE(watcher.ReadLine(&line, WaitMs));
    engine.Send(service.theirs, "LEVEL\t1\n");
    EXPECT_EQ(service.events.Await("line", &line), service.mine);
}

// The pipe is this user's and the system's alone, a second server of the
// name is refused even where the first-instance flag is not enforced, and
// a client refuses a server that is not the program it expects, sending it
// nothing.
TEST_F(VoicedPipe, TheChannelIsTheUsersAlone)
{
    Recorder otherEvents;
    PipeEngine squatter(&otherEvents);
    EXPECT_EQ(squatter.Listen(name), PipeEngine::Listening::Taken);

    PipeClient client;
    const std::string elsewhere = harness::TestDir() + "Feedback.exe";
    EXPECT_FALSE(client.Connect(name, elsewhere, WaitMs));
    EXPECT_NE(client.Refusal().find("win32_tests.exe"), std::string::npos) << client.Refusal();
    EXPECT_FALSE(client.Send("SAY\tWave\n"));
    EXPECT_TRUE(events.AllClosedBut(0)) << "the refused server sees it go";
    EXPECT_EQ(events.Count("line"), 0);

    std::string lower = OwnProgram();
    CharLowerA(&lower[0]);
    ASSERT_TRUE(client.Connect(name, lower, WaitMs)) << client.Refusal();
    EXPECT_EQ(client.Refusal(), "");

    HANDLE pipe = OpenPipe(name, OwnProgram(), WaitMs);
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(GetSecurityInfo(pipe, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                              &dacl, nullptr, &descriptor),
              DWORD(ERROR_SUCCESS));
    char *sddl = nullptr;
    ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorA(
        descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &sddl, nullptr));
    const std::string text = sddl;
    LocalFree(sddl);
    LocalFree(descriptor);
    CloseHandle(pipe);
    EXPECT_EQ(text.rfind("D:P(A;;GA;;;S-1-5-21-", 0), 0u) << text;
    EXPECT_EQ(text.substr(text.size() - 13), ")(A;;GA;;;SY)") << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '('), 2) << text;
}

// The service's link to the hub through a window whose doorbells cannot be
// posted (its queue full): nothing is lost, the opening waits for the
// window's next look, and the link is connected once.
TEST_F(VoicedPipe, HubLinkWhoseDoorbellsFailLosesNothing)
{
    HWND gone = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    DestroyWindow(gone);
    HubLink link(gone, name, OwnProgram());
    link.Poll();
    ASSERT_NE(events.Await("line"), 0) << "the link said who it is";
    HubLink::Event event;
    for (const DWORD start = GetTickCount(); !link.Connected() && GetTickCount() - start < WaitMs;
         Sleep(10))
        while (link.Next(&event))
            if (event.kind == HubLink::Event::Opened)
                link.OnOpened(event.id);
    EXPECT_TRUE(link.Connected()) << "the opening was lost";
    EXPECT_EQ(events.Count("open"), 1);
}

// A service whose window handles nothing for a while (its thread is in a
// long call): the hub still hears at once who it is, else it cuts the
// service off, and the levels the hub sends meanwhile do not pile up in the
// window's queue: one waits, carrying the latest.
TEST_F(VoicedPipe, HubLinkKeepsUpWhileItsWindowIsBusy)
{
    HWND busy = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    {
        HubLink link(busy, name, OwnProgram());
        link.Poll();
        std::string text;
        const int theirs = events.Await("line", &text);
        ASSERT_NE(theirs, 0);
        EXPECT_EQ(text, "SERVICE\t" + std::to_string(GetCurrentProcessId()));

        for (int level = 1; level <= 20; ++level)
            engine.Send(theirs, "LEVEL\t" + std::to_string(level * 100) + "\n");
        engine.Send(theirs, "ERROR\tlast\n");
        std::vector<std::string> posted;
        TakeLines(
            link, [&](const HubLink::Event &line) { posted.push_back(line.line); },
            [&] { return !posted.empty() && posted.back() == "ERROR\tlast"; });
        EXPECT_EQ(posted, (std::vector<std::string>{"LEVEL\t100", "ERROR\tlast"}));
        uint16_t level = 0;
        link.Handled(posted.front(), &level);
        EXPECT_EQ(level, 2000) << "the latest level";
    }
    DestroyWindow(busy);
}

// An engine listening on a pipe of its own, its events bridged to a window
// that takes nothing until the test says so.
class VoicedWindowEvents : public ::testing::Test {
  protected:
    void SetUp() override
    {
        events.Attach(&engine);
        ASSERT_EQ(engine.Listen(name), PipeEngine::Listening::Yes);
        ASSERT_TRUE(engine.Start());
    }
    void TearDown() override
    {
        engine.Stop();
        DestroyWindow(busy);
    }
    HWND busy = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    WindowEvents events{busy};
    PipeEngine engine{&events};
    const std::string name = TestPipe();
};

// A client that sends faster than the window takes its lines is cut off
// once MaxPostedLines of them wait; another client's line still reaches the
// window, and nothing is left counted once the window has taken them.
TEST_F(VoicedWindowEvents, AClientWhoseLinesPileUpIsCutOffAndNoOtherIs)
{
    PipeClient calm, flood;
    ASSERT_TRUE(calm.Connect(name, OwnProgram(), WaitMs));
    ASSERT_TRUE(flood.Connect(name, OwnProgram(), WaitMs));
    int sent = 0;
    bool cut = false;
    for (DWORD start = GetTickCount(); !cut && GetTickCount() - start < WaitMs; ++sent)
        cut = !flood.Send("FLOOD\n");
    EXPECT_TRUE(cut) << "still connected after " << sent << " lines";
    ASSERT_TRUE(calm.Send("CALM\n"));

    std::map<std::string, size_t> taken;
    auto take = [&](const WindowEvents::Event &line) { ++taken[line.line]; };
    TakeLines(events, take, [&] { return taken.count("CALM") > 0; });
    EXPECT_EQ(taken["CALM"], 1u);
    EXPECT_GE(taken["FLOOD"], WindowEvents::MaxPostedLines / 2);
    EXPECT_LE(taken["FLOOD"], WindowEvents::MaxPostedLines);
    // What the window took is counted out: a whole backlog's worth more
    // still passes while the window takes nothing.
    for (size_t line = 1; line < WindowEvents::MaxPostedLines; ++line)
        ASSERT_TRUE(calm.Send("MORE\n"));
    ASSERT_TRUE(calm.Send("LAST\n"));
    TakeLines(events, take, [&] { return taken.count("LAST") > 0; });
    EXPECT_EQ(taken["MORE"], WindowEvents::MaxPostedLines - 1);
    EXPECT_EQ(taken["LAST"], 1u) << "the calm client was cut off";
}

// A service publishing every menu at the longest a line may be, twice over
// (its state changed while the first set was on its way), while the window
// takes nothing: it is not cut off, and every line reaches the window.
TEST_F(VoicedWindowEvents, TwoWholePublicationsPassWhileTheWindowIsBusy)
{
    PipeClient service;
    ASSERT_TRUE(service.Connect(name, OwnProgram(), WaitMs));
    const std::string menu = "MENU\t" + std::string(MaxChannelLine - 5, 'm') + "\n";
    const size_t lines = 2 * MaxServiceMenus;
    for (size_t line = 0; line < lines; ++line)
        ASSERT_TRUE(service.Send(menu)) << "line " << line;
    ASSERT_TRUE(service.Send("LAST\n"));
    size_t menus = 0;
    bool last = false;
    auto take = [&](const WindowEvents::Event &line) {
        last = last || line.line == "LAST";
        menus += line.line.size() == MaxChannelLine;
    };
    TakeLines(events, take, [&] { return last; });
    EXPECT_EQ(menus, lines);
    EXPECT_TRUE(last) << "the service was cut off";
}

} // namespace
