// The service process: the voice-command objects a client holds, over one
// ServiceCore, the calls into the client's sink, and the link to the hub.
#pragma once
#include "voice/vcmd.h"
#include "voiced/pipe.h"
#include "voiced/voiced.h"
#include <windows.h>
#include <atomic>

// Everything one service process serves: made once, lives as long as the
// process, used only on the thread that runs its apartment.
class VoiceService {
  public:
    // What the service tells the world; each may be empty.
    struct Hooks {
        std::function<void(const std::string &line)> publish; // a line for the hub
        std::function<void()> lastRelease;                    // the client let go of every object
        std::function<void()> clientGone;                     // a sink call found the client dead
    };
    explicit VoiceService(Hooks hooks) : hooks_(std::move(hooks)) {}

    // A new service object (IVoiceCmdA, IVCmdAttributesA, IVCmdDialogsA)
    // with one reference, or null when memory runs short.
    IVoiceCmdA *NewObject();
    // E_OUTOFMEMORY or the QueryInterface result.
    HRESULT NewObject(REFIID iid, void **object);
    LONG Objects() const { return objects_; }

    // Something heard: delivered to the sink now, or after the call in
    // flight; reported to the hub with the time since `arrived`. While a
    // call is out, at most MaxWaitingEvents wait for it: a phrase beyond
    // them is dropped and reported as such.
    void Phrase(uint32_t seq, const std::string &phrase, uint64_t arrived);
    static constexpr size_t MaxWaitingEvents = 16;
    // The liveness check: a VUMeter call with the last input level when
    // nothing else is under way.
    void Ping();
    // The hub's input level (0 to 65535): passed on to the sink's VUMeter.
    void Level(uint16_t level);
    // Every menu to the hub (after connecting).
    void PublishAll();

  private:
    friend class VoiceCommandObject;
    friend class VoiceMenuObject;
    struct Event {
        enum Kind { Phrase, MenuActivate, Ping } kind;
        uint32_t seq;
        std::string phrase;
        uint64_t arrived;
        VCMDNAMEA name;
        BOOL active;
    };
    void ObjectMade() { ++objects_; }
    void ObjectGone();
    void SetSink(IVCmdNotifySinkA *sink);
    void Publish(const ServiceMenu &menu);
    void Dropped(uint32_t menu);
    void MenuActivated(const ServiceMenu &menu);
    void Post(Event event);
    void Deliver(Event &event);
    void DeliverPhrase(IVCmdNotifySinkA *sink, Event &event);
    // False when a sink call failed; a failure that means the client has
    // gone lets go of the sink and says so.
    bool Check(HRESULT result);
    void Tell(const std::string &line);

    Hooks hooks_;
    ServiceCore core_;
    IVCmdNotifySinkA *sink_ = nullptr;
    // Register's site and flags, kept as given: every notification is sent
    // whatever the flags ask for (Nelko asks for all of them).
    std::string site_;
    DWORD notifyFlags_ = 0;
    SerialQueue<Event> queue_;
    LONG objects_ = 0;
    bool gone_ = false;
    uint16_t level_ = 0;
};

// Copies a name field that need not hold its terminating zero.
template <size_t N> std::string FieldText(const char (&field)[N])
{
    size_t n = 0;
    while (n < N && field[n])
        ++n;
    return std::string(field, n);
}

// The link from a service process to the hub: connects (starting the hub
// hidden when none runs), passes the hub's lines to a window of the service's
// thread, and takes the lines the service publishes. Reconnects when the hub
// goes away. A pipe of that name served by another program than the hub is
// refused before anything is sent to it.
class HubLink : WindowEvents {
  public:
    // Posted to the window: wParam the connection, lParam a HubLine* for
    // LinkLineMessage (the receiver deletes it).
    static constexpr UINT LinkOpenedMessage = WM_APP + 1;
    static constexpr UINT LinkLineMessage = WM_APP + 2;
    static constexpr UINT LinkClosedMessage = WM_APP + 3;
    using HubLine = WindowEvents::PostedLine;
    // PHRASE lines posted to the window and not handled yet. While the
    // service's thread is inside a call into its client it may handle none;
    // a phrase beyond MaxPostedPhrases is answered at once as dropped.
    static constexpr int MaxPostedPhrases = 16;
    void PhraseTaken() { --postedPhrases_; } // a PHRASE line was handled
    // LEVEL lines: only the latest level counts, so at most one is posted
    // at a time. The window's thread takes the latest when it handles one.
    uint16_t TakeLevel()
    {
        levelPosted_ = false;
        return level_;
    }

    HubLink(HWND window, std::string pipeName, std::string hubProgram);
    ~HubLink();
    // Tries to connect when not connected; call from a timer. Returns true
    // while connected.
    bool Poll();
    void Send(const std::string &line);
    void OnOpened(int id);
    void OnClosed(int id);
    bool Connected() const { return connection_ != 0; }
    // Why the name's server was refused last time; empty when it was not.
    const std::string &Refusal() const { return refusal_; }

  private:
    void Line(int id, std::string line) override;

    std::string pipeName_;
    std::string hubProgram_;
    PipeEngine engine_;
    std::atomic<int> postedPhrases_{0};
    std::atomic<uint16_t> level_{0};
    std::atomic<bool> levelPosted_{false};
    int connection_ = 0; // the window's thread only
    int pending_ = 0;    // adopted, not yet reported open
    DWORD lastStart_ = 0;
    bool started_ = false;
    std::string refusal_;
    DWORD refused_ = 0; // when
};

// Installation: the class, the proxy/stub DLL beside the program, and
// HKCU\Software\Voice UseSpeech = 2 when there is none. For the current
// user (HKCU\Software\Classes, no administrator needed) or for every user of
// the machine (HKLM\Software\Classes). Where HKEY_CLASSES_ROOT does not show
// the user's classes, a user's registration is copied where it reads too, and
// removed with it. Both return 0 on success, else a Win32 error code.
enum class InstallScope { User, Machine };
DWORD RegisterService(InstallScope scope);
DWORD UnregisterService(InstallScope scope);
