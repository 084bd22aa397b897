// The service process: the voice-command objects a client holds, over one
// ServiceCore, and the calls into the client's sink.
#pragma once
#include "common/win32.h"
#include "idl/vcmd.h"
#include "voiced/core/servicecore.h"
#include <windows.h>
#include <atomic>
#include <functional>

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
    ComPtr<IVCmdNotifySinkA> sink_;
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
