// The channel's named pipes: lines both ways between a listening engine and
// its clients, and peers that break the rules cut off.
#include "voiced/pipe.h"
#include <gtest/gtest.h>
#include <condition_variable>

namespace {

constexpr DWORD WaitMs = 5000;

// Records what the engine reports, from the engine's thread.
class Recorder : public PipeEngine::Events {
  public:
    void Opened(int id) override { Note("open", id, ""); }
    void Line(int id, std::string line) override { Note("line", id, line); }
    void Closed(int id) override { Note("closed", id, ""); }

    // Waits until an event of that kind has arrived; returns its connection.
    int Await(const std::string &kind, std::string *text = nullptr)
    {
        std::unique_lock<std::mutex> hold(lock_);
        int id = 0;
        changed_.wait_for(hold, std::chrono::milliseconds(WaitMs), [&] {
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

  private:
    struct Event {
        std::string kind;
        int id;
        std::string text;
    };
    void Note(const char *kind, int id, std::string text)
    {
        std::lock_guard<std::mutex> hold(lock_);
        events_.push_back({kind, id, std::move(text)});
        changed_.notify_all();
    }
    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<Event> events_;
};

// A pipe name of this test process alone.
std::string TestPipe()
{
    static int serial = 0;
    return "\\\\.\\pipe\\NelkoVoiceTest-" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(++serial);
}

TEST(VoicedPipe, LinesTravelBothWaysAndEachClientIsItsOwn)
{
    Recorder events;
    PipeEngine engine(&events);
    const std::string name = TestPipe();
    ASSERT_TRUE(engine.Listen(name));
    ASSERT_TRUE(engine.Start());

    PipeClient first, second;
    ASSERT_TRUE(first.Connect(name, WaitMs));
    const int one = events.Await("open");
    ASSERT_TRUE(second.Connect(name, WaitMs));
    const int two = events.Await("open");
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

TEST(VoicedPipe, OversizedLineCutsTheClientOff)
{
    Recorder events;
    PipeEngine engine(&events);
    const std::string name = TestPipe();
    ASSERT_TRUE(engine.Listen(name));
    ASSERT_TRUE(engine.Start());
    PipeClient client;
    ASSERT_TRUE(client.Connect(name, WaitMs));
    const int id = events.Await("open");
    client.Send("LIST\n" + std::string(MaxChannelLine + 1, 'a'));
    std::string text;
    EXPECT_EQ(events.Await("line", &text), id) << "what came before still counts";
    EXPECT_EQ(text, "LIST");
    EXPECT_EQ(events.Await("closed"), id);
    std::string line;
    EXPECT_FALSE(client.ReadLine(&line, 1000)) << "the hub end is gone";
}

TEST(VoicedPipe, CloseWritesWhatWasSentFirst)
{
    Recorder events;
    PipeEngine engine(&events);
    const std::string name = TestPipe();
    ASSERT_TRUE(engine.Listen(name));
    ASSERT_TRUE(engine.Start());
    PipeClient client;
    ASSERT_TRUE(client.Connect(name, WaitMs));
    const int id = events.Await("open");
    engine.Send(id, "ERROR\tunknown verb\n");
    engine.Close(id);
    std::string line;
    ASSERT_TRUE(client.ReadLine(&line, WaitMs));
    EXPECT_EQ(line, "ERROR\tunknown verb");
    EXPECT_FALSE(client.ReadLine(&line, 1000));
    EXPECT_EQ(events.Await("closed"), id);
}

// A service's end: a connection made elsewhere and handed to an engine that
// does not listen.
TEST(VoicedPipe, AdoptedConnectionCarriesLines)
{
    Recorder hubEvents, serviceEvents;
    PipeEngine hub(&hubEvents), service(&serviceEvents);
    const std::string name = TestPipe();
    ASSERT_TRUE(hub.Listen(name));
    ASSERT_TRUE(hub.Start());
    ASSERT_TRUE(service.Start());
    HANDLE pipe = OpenPipe(name, WaitMs);
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    const int mine = service.Adopt(pipe);
    EXPECT_EQ(serviceEvents.Await("open"), mine);
    const int theirs = hubEvents.Await("open");
    service.Send(mine, "SERVICE\t42\n");
    std::string text;
    EXPECT_EQ(hubEvents.Await("line", &text), theirs);
    EXPECT_EQ(text, "SERVICE\t42");
    hub.Send(theirs, "PHRASE\t7\tGo Up\n");
    EXPECT_EQ(serviceEvents.Await("line", &text), mine);
    EXPECT_EQ(text, "PHRASE\t7\tGo Up");
    hub.Stop(); // the hub goes away: the service hears of it
    EXPECT_EQ(serviceEvents.Await("closed"), mine);
}

TEST(VoicedPipe, NoHubMeansNoConnection)
{
    PipeClient client;
    const DWORD start = GetTickCount();
    EXPECT_FALSE(client.Connect(TestPipe(), 300));
    EXPECT_LT(GetTickCount() - start, 3000u);
    EXPECT_EQ(OpenPipe(TestPipe(), 0), INVALID_HANDLE_VALUE);
}

} // namespace
