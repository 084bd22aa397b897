// The service's objects as a client meets them: marshalled between two
// apartments by the generated proxies (linked in and registered for this
// process only, so the prefix's registry is left alone), with the client's
// sink called back on the client's own thread.
#include "app/app.h"
#include "harness.h"
#include "voice/voice.h"
#include "voiced/service/hublink.h"
#include "voiced/service/install.h"
#include "voiced/service/service.h"
#include <gtest/gtest.h>
#include <cstdlib>
#include <cstring>

// From the generated proxy file list (the proxy list's own type is C only).
extern "C" void RPC_ENTRY GetProxyDllInfo(const void ***info, const CLSID **clsid);
extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void **object);

namespace {

constexpr DWORD WaitMs = 5000;

// The voice interfaces' proxies and stubs for the calling apartment.
class ApartmentProxies {
  public:
    ApartmentProxies()
    {
        const void **files;
        const CLSID *clsid;
        GetProxyDllInfo(&files, &clsid);
        IUnknown *factory = nullptr;
        if (FAILED(DllGetClassObject(*clsid, IID_IPSFactoryBuffer,
                                     reinterpret_cast<void **>(&factory))))
            return;
        CoRegisterClassObject(*clsid, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie_);
        factory->Release();
        for (const IID *iid : {&IID_IVoiceCmdA, &IID_IVCmdMenuA, &IID_IVCmdAttributesA,
                               &IID_IVCmdDialogsA, &IID_IVCmdNotifySinkA})
            CoRegisterPSClsid(*iid, *clsid);
    }
    ~ApartmentProxies()
    {
        if (cookie_)
            CoRevokeClassObject(cookie_);
    }

  private:
    DWORD cookie_ = 0;
};

// The service's apartment: its own thread, a VoiceService and a window that
// runs work sent to it (sent messages are handled even while the service
// waits on a call into the client).
class ServiceApartment {
  public:
    ServiceApartment()
    {
        thread_ = std::thread([this] { Run(); });
        WaitForSingleObject(ready_, INFINITE);
    }
    ~ServiceApartment()
    {
        PostMessageA(window_, WM_CLOSE, 0, 0);
        thread_.join();
        CloseHandle(ready_);
    }
    // Runs work on the service's thread and returns when it is done: only
    // for work that makes no call into the client, whose thread waits here.
    void Do(std::function<void()> work)
    {
        SendMessageA(window_, WM_APP, 0, reinterpret_cast<LPARAM>(&work));
    }
    // Runs work on the service's thread later; the client pumps meanwhile.
    void Post(std::function<void()> work)
    {
        auto *posted = new std::function<void()>(std::move(work));
        PostMessageA(window_, WM_APP + 1, 0, reinterpret_cast<LPARAM>(posted));
    }
    IVoiceCmdA *Connect()
    {
        IStream *stream = nullptr;
        Do([&] {
            IVoiceCmdA *object = service_->NewObject();
            CoMarshalInterThreadInterfaceInStream(IID_IVoiceCmdA, object, &stream);
            object->Release();
        });
        IVoiceCmdA *proxy = nullptr;
        if (stream)
            CoGetInterfaceAndReleaseStream(stream, IID_IVoiceCmdA,
                                           reinterpret_cast<void **>(&proxy));
        return proxy;
    }
    void Say(uint32_t seq, const char *phrase)
    {
        std::string text = phrase;
        Post([=] { service_->Phrase(seq, text, MicrosecondsNow()); });
    }
    // A phrase handed over while the service is inside a call to the
    // client's sink (which is where this must be called from).
    void SayDuringCall(uint32_t seq, const char *phrase)
    {
        Do([=] { service_->Phrase(seq, phrase, MicrosecondsNow()); });
    }
    void Ping()
    {
        Post([=] { service_->Ping(); });
    }
    // The lines published for the hub, DONE lines only when asked.
    std::vector<std::string> Published(const char *verb)
    {
        std::vector<std::string> lines;
        Do([&] {
            for (const std::string &line : published_)
                if (line.rfind(verb, 0) == 0)
                    lines.push_back(line.substr(0, line.size() - 1));
        });
        return lines;
    }
    // Set on the service's thread; read after a Do, which orders the threads.
    bool lastRelease = false;
    bool clientGone = false;

  private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        if (message == WM_APP) {
            (*reinterpret_cast<std::function<void()> *>(lParam))();
            return 0;
        }
        if (message == WM_APP + 1) {
            std::unique_ptr<std::function<void()>> work(
                reinterpret_cast<std::function<void()> *>(lParam));
            (*work)();
            return 0;
        }
        if (message == WM_CLOSE) {
            DestroyWindow(window);
            PostQuitMessage(0);
            return 0;
        }
        return DefWindowProcA(window, message, wParam, lParam);
    }
    void Run()
    {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        {
            ApartmentProxies proxies;
            VoiceService service({[this](const std::string &line) { published_.push_back(line); },
                                  [this] { lastRelease = true; }, [this] { clientGone = true; }});
            service_ = &service;
            WNDCLASSA windowClass = {};
            windowClass.lpfnWndProc = Proc;
            windowClass.lpszClassName = "VoicedServiceApartment";
            RegisterClassA(&windowClass);
            window_ = CreateWindowExA(0, windowClass.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                      nullptr, nullptr, nullptr);
            SetEvent(ready_);
            MSG message;
            while (GetMessageA(&message, nullptr, 0, 0) > 0)
                DispatchMessageA(&message);
            UnregisterClassA(windowClass.lpszClassName, nullptr);
        }
        CoUninitialize();
    }

    std::thread thread_;
    HANDLE ready_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HWND window_ = nullptr;
    VoiceService *service_ = nullptr;
    std::vector<std::string> published_;
};

// A client's sink that writes down every notification and the thread it
// arrived on.
class RecordingSink final : public IVCmdNotifySinkA {
  public:
    std::vector<std::string> calls;
    int otherThreads = 0;
    int depth = 0, deepest = 0;
    std::function<void()> duringRecognize; // runs inside CommandRecognize
    std::function<void()> duringBegin;     // runs inside UtteranceBegin

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override
    {
        *object = nullptr;
        if (iid != IID_IUnknown && iid != IID_IVCmdNotifySinkA)
            return E_NOINTERFACE;
        *object = this;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
    HRESULT STDMETHODCALLTYPE CommandRecognize(DWORD id, VCMDNAMEA *name, DWORD flags, DWORD size,
                                               BYTE *action, DWORD lists, char *,
                                               char *command) override
    {
        Enter();
        uint32_t value = 0;
        if (action && size >= 4)
            memcpy(&value, action, 4);
        Note("recognize " + std::to_string(id) + " " + FieldText(name->szApplication) + "/" +
             FieldText(name->szState) + " flags " + std::to_string(flags) + " size " +
             std::to_string(size) + " value " + std::to_string(value) + " lists " +
             std::to_string(lists) + " \"" + (command ? command : "(null)") + "\"");
        if (duringRecognize)
            duringRecognize();
        --depth;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CommandOther(VCMDNAMEA *name, char *command) override
    {
        Enter();
        Note("other " + (name ? FieldText(name->szApplication) : std::string("(none)")) + " \"" +
             (command ? command : "(null)") + "\"");
        --depth;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CommandStart() override { return Simple("start"); }
    HRESULT STDMETHODCALLTYPE MenuActivate(VCMDNAMEA *name, BOOL active) override
    {
        return Simple(std::string("menu ") + (name ? FieldText(name->szState) : "") +
                      (active ? " on" : " off"));
    }
    HRESULT STDMETHODCALLTYPE UtteranceBegin() override
    {
        const HRESULT result = Simple("begin");
        if (duringBegin)
            duringBegin();
        return result;
    }
    HRESULT STDMETHODCALLTYPE UtteranceEnd() override { return Simple("end"); }
    HRESULT STDMETHODCALLTYPE VUMeter(WORD) override
    {
        ++meters;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE AttribChanged(DWORD) override { return Simple("attribute"); }
    ULONG references = 0;
    int meters = 0;

  private:
    void Enter()
    {
        deepest = std::max(deepest, ++depth);
        if (GetCurrentThreadId() != thread_)
            ++otherThreads;
    }
    void Note(const std::string &call) { calls.push_back(call); }
    HRESULT Simple(const std::string &call)
    {
        Enter();
        Note(call);
        --depth;
        return S_OK;
    }
    DWORD thread_ = GetCurrentThreadId();
};

// Dispatches this thread's messages (the sink's calls arrive as messages)
// until the predicate holds or time runs out.
template <class F> bool PumpUntil(F done, DWORD timeoutMs = WaitMs)
{
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
    }
    return true;
}

class VoicedServiceObjects : public ::testing::Test {
  protected:
    void SetUp() override
    {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        proxies = std::make_unique<ApartmentProxies>();
        service = std::make_unique<ServiceApartment>();
        savedCount = CommandCount;
        CommandCount = 11;
        voice = service->Connect();
        ASSERT_NE(voice, nullptr);
    }
    void TearDown() override
    {
        if (menu)
            menu->Release();
        if (attributes)
            attributes->Release();
        if (voice)
            voice->Release();
        service.reset();
        proxies.reset();
        CommandCount = savedCount;
        CoUninitialize();
    }

    // What Nelko does at start-up, up to the activated menu; listening
    // switches recognition on.
    void SetUpLikeNelko(bool listening = true)
    {
        ASSERT_EQ(voice->Register("", &sink, IID_IVCmdNotifySinkA, 3, nullptr), S_OK);
        ASSERT_EQ(
            voice->QueryInterface(IID_IVCmdAttributesA, reinterpret_cast<void **>(&attributes)),
            S_OK);
        VCMDNAMEA name = {"Nelko", "Main"};
        LANGUAGEA language = {9, "US English"};
        ASSERT_EQ(voice->MenuCreate(&name, &language, 1, &menu), S_OK);
        CommandListBlock block = {nullptr, 0};
        uint32_t count = 0;
        ASSERT_EQ(BuildCommandListBlock(&block, &count), 1);
        DWORD first = 0;
        const HRESULT added = menu->Add(count, SDATA{block.data, block.size}, &first);
        free(block.data);
        ASSERT_EQ(added, S_OK);
        EXPECT_EQ(first, 1u);
        if (listening) {
            ASSERT_EQ(attributes->EnabledSet(1), S_OK);
            ASSERT_EQ(attributes->AwakeStateSet(1), S_OK);
        }
        menu->Deactivate();
        ASSERT_EQ(menu->Activate(nullptr, 0), S_OK);
    }
    bool Done(size_t results)
    {
        return PumpUntil([&] { return service->Published("DONE").size() >= results; });
    }

    std::unique_ptr<ApartmentProxies> proxies;
    std::unique_ptr<ServiceApartment> service;
    IVoiceCmdA *voice = nullptr;
    IVCmdAttributesA *attributes = nullptr;
    IVCmdMenuA *menu = nullptr;
    RecordingSink sink;
    uint16_t savedCount = 0;
};

TEST_F(VoicedServiceObjects, SpokenCommandReachesTheSinkOnItsOwnThreadWithItsActionData)
{
    SetUpLikeNelko();
    service->Say(1, "  go LEFT ");
    ASSERT_TRUE(Done(1));
    ASSERT_TRUE(PumpUntil([&] { return sink.calls.size() >= 4; }));
    EXPECT_EQ(sink.calls, (std::vector<std::string>{
                              "menu Main on",
                              "begin",
                              "recognize 0 Nelko/Main flags 0 size 4 value 2 lists 0 \"Go Left\"",
                              "end",
                          }));
    EXPECT_EQ(sink.otherThreads, 0);
    auto done = service->Published("DONE");
    EXPECT_EQ(done[0].rfind("DONE\t1\tran\t", 0), 0u) << done[0];
    EXPECT_NE(done[0].find("\tGo Left\tNelko\tMain"), std::string::npos) << done[0];

    // Every command comes back with its own action value.
    sink.calls.clear();
    service->Say(2, "bye bye");
    ASSERT_TRUE(Done(2));
    ASSERT_TRUE(PumpUntil([&] { return sink.calls.size() >= 3; }));
    EXPECT_NE(sink.calls[1].find("value 11 "), std::string::npos) << sink.calls[1];
}

TEST_F(VoicedServiceObjects, UnknownPhraseIsCommandOther)
{
    SetUpLikeNelko();
    sink.calls.clear();
    service->Say(1, "sing a song");
    ASSERT_TRUE(Done(1));
    ASSERT_TRUE(PumpUntil([&] { return sink.calls.size() >= 3; }));
    EXPECT_EQ(sink.calls,
              (std::vector<std::string>{"begin", "other Nelko \"sing a song\"", "end"}));
    const std::string done = service->Published("DONE")[0];
    EXPECT_EQ(done.rfind("DONE\t1\tother\t", 0), 0u) << done;
    EXPECT_EQ(done.substr(done.size() - 12), "\t\tNelko\tMain") << "names no command" << done;
}

// Each row leaves one condition of listening unmet: the phrase is reported
// as ignored and the sink hears nothing.
TEST_F(VoicedServiceObjects, NothingIsHeardUnlessEnabledAwakeAndActive)
{
    SetUpLikeNelko(false);
    struct Row {
        const char *why;
        DWORD enabled, awake;
        bool active;
    } rows[] = {
        {"recognition off", 0, 1, true},
        {"asleep", 1, 0, true},
        {"menu inactive", 1, 1, false},
    };
    uint32_t seq = 0;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.why);
        ASSERT_EQ(attributes->EnabledSet(row.enabled), S_OK);
        ASSERT_EQ(attributes->AwakeStateSet(row.awake), S_OK);
        DWORD enabled = 9, awake = 9;
        EXPECT_EQ(attributes->EnabledGet(&enabled), S_OK);
        EXPECT_EQ(attributes->AwakeStateGet(&awake), S_OK);
        EXPECT_EQ(enabled, row.enabled);
        EXPECT_EQ(awake, row.awake);
        ASSERT_EQ(row.active ? menu->Activate(nullptr, 0) : menu->Deactivate(), S_OK);
        sink.calls.clear();
        service->Say(++seq, "Go Left");
        ASSERT_TRUE(Done(seq));
        harness::Pump(50);
        for (const std::string &call : sink.calls)
            EXPECT_EQ(call.rfind("menu ", 0), 0u) << call;
        EXPECT_EQ(service->Published("DONE").back().substr(0, 15),
                  "DONE\t" + std::to_string(seq) + "\tignored\t");
        // The hub is told: the menu's line says active or not, never listening.
        EXPECT_EQ(service->Published("MENU").back().substr(0, 12),
                  std::string("MENU\t1\t") + (row.active ? "1" : "0") + "\t0\tN");
    }
}

TEST_F(VoicedServiceObjects, MalformedBlocksAreRefusedThroughTheProxiesAndNothingKept)
{
    SetUpLikeNelko();
    const size_t published = service->Published("MENU").size();
    CommandListBlock block = {nullptr, 0};
    uint32_t count = 0;
    ASSERT_EQ(BuildCommandListBlock(&block, &count), 1);
    struct Row {
        const char *why;
        DWORD count;
        DWORD size;
        size_t spoilAt; // a 32-bit field set to 0xFFFFFFF0, or none
    } rows[] = {
        {"one record more than the block", 12, 780, 0},
        {"block cut in the last record", 11, 776, 0},
        {"phrase offset far outside", 11, 780, 12},
        {"action size past the record", 11, 780, 68 + 32},
        {"no block at all", 1, 0, 0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.why);
        std::vector<BYTE> bytes(block.data, block.data + block.size);
        if (row.spoilAt)
            memcpy(&bytes[row.spoilAt], "\xF0\xFF\xFF\xFF", 4);
        DWORD first = 77;
        EXPECT_EQ(menu->Add(row.count, SDATA{row.size ? bytes.data() : nullptr, row.size}, &first),
                  E_INVALIDARG);
    }
    free(block.data);
    EXPECT_EQ(service->Published("MENU").size(), published) << "the menu did not change";
    // Still eleven commands: "Bye Bye" has value 11 and nothing follows it.
    sink.calls.clear();
    service->Say(1, "Bye Bye");
    ASSERT_TRUE(Done(1));
    ASSERT_TRUE(PumpUntil([&] { return sink.calls.size() >= 3; }));
    EXPECT_NE(sink.calls[1].find("value 11 "), std::string::npos);
}

// "About Nelko" returns only when the box closes; phrases arriving meanwhile
// wait for it and follow in order, never inside it.
TEST_F(VoicedServiceObjects, PhrasesDuringALongCallWaitAndFollowInOrder)
{
    SetUpLikeNelko();
    bool more = true;
    sink.duringRecognize = [&] {
        if (!more)
            return;
        more = false;
        service->SayDuringCall(2, "Go Right"); // while the service's call is out
        service->SayDuringCall(3, "Wave");
        harness::Pump(200);
    };
    sink.calls.clear();
    service->Say(1, "About Nelko");
    ASSERT_TRUE(Done(3));
    ASSERT_TRUE(PumpUntil([&] { return sink.calls.size() >= 9; }));
    std::vector<std::string> recognised;
    for (const std::string &call : sink.calls)
        if (call.rfind("recognize", 0) == 0)
            recognised.push_back(call.substr(call.find('"')));
    EXPECT_EQ(recognised,
              (std::vector<std::string>{"\"About Nelko\"", "\"Go Right\"", "\"Wave\""}));
    EXPECT_EQ(sink.deepest, 1) << "a sink call was made inside another";
    auto done = service->Published("DONE");
    ASSERT_EQ(done.size(), 3u);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(done[i].rfind("DONE\t" + std::to_string(i + 1) + "\tran", 0), 0u) << done[i];
}

// A flood while "About Nelko" is open: only so many phrases wait for the
// call; the rest are reported dropped at once, and never replayed.
TEST_F(VoicedServiceObjects, AFloodDuringALongCallKeepsOnlySoManyWaiting)
{
    SetUpLikeNelko();
    const uint32_t flood = 40;
    bool more = true;
    sink.duringRecognize = [&] {
        if (!more)
            return;
        more = false;
        for (uint32_t seq = 2; seq <= flood + 1; ++seq)
            service->SayDuringCall(seq, "Wave");
    };
    sink.calls.clear();
    service->Say(1, "About Nelko");
    ASSERT_TRUE(Done(flood + 1));
    harness::Pump(100);
    const size_t waited = VoiceService::MaxWaitingEvents;
    size_t recognised = 0;
    for (const std::string &call : sink.calls)
        recognised += call.rfind("recognize", 0) == 0;
    EXPECT_EQ(recognised, 1 + waited) << "no more than waited were replayed";
    // The first to come wait; the later ones are dropped.
    std::vector<std::string> outcomes(flood + 2);
    for (const std::string &line : service->Published("DONE")) {
        ChannelMessage message;
        DoneNotice done;
        ASSERT_TRUE(ParseChannelLine(line, &message) && ParseDoneNotice(message, &done)) << line;
        outcomes.at(done.seq) += OutcomeName(done.outcome);
    }
    for (uint32_t seq = 1; seq <= flood + 1; ++seq)
        EXPECT_EQ(outcomes[seq], seq <= waited + 1 ? "ran" : "dropped") << seq;
}

// A client may change its menus inside any call: Nelko may add commands,
// or let go of its menu as it ends, during UtteranceBegin. The delivery
// passes on what was heard before the call.
TEST_F(VoicedServiceObjects, ADeliveryKeepsWhatItHeardWhenTheClientChangesTheMenuMeanwhile)
{
    SetUpLikeNelko();
    CommandListBlock block = {nullptr, 0};
    uint32_t count = 0;
    ASSERT_EQ(BuildCommandListBlock(&block, &count), 1);
    bool more = true;
    sink.duringBegin = [&] {
        if (!more)
            return;
        more = false;
        DWORD first = 0;
        for (int i = 0; i < 8; ++i) // the menu's commands move as it grows
            EXPECT_EQ(menu->Add(count, SDATA{block.data, block.size}, &first), S_OK);
        menu->Release(); // the last holder: the menu is gone
        menu = nullptr;
    };
    sink.calls.clear();
    service->Say(1, "Go Left");
    ASSERT_TRUE(Done(1));
    free(block.data);
    ASSERT_TRUE(PumpUntil([&] { return sink.calls.size() >= 3; }));
    EXPECT_EQ(sink.calls, (std::vector<std::string>{
                              "begin",
                              "recognize 0 Nelko/Main flags 0 size 4 value 2 lists 0 \"Go Left\"",
                              "end",
                          }));
    const std::string done = service->Published("DONE")[0];
    EXPECT_NE(done.find("\tran\t"), std::string::npos) << done;
    EXPECT_NE(done.find("\tGo Left\tNelko\tMain"), std::string::npos) << done;
}

// A client whose sink can no longer be reached is gone: the liveness check
// finds out, and the service lets go of it.
TEST_F(VoicedServiceObjects, UnreachableSinkMeansTheClientIsGone)
{
    SetUpLikeNelko();
    service->Ping();
    ASSERT_TRUE(PumpUntil([&] { return sink.meters == 1; })) << "a ping is a VUMeter call";
    EXPECT_FALSE(service->clientGone);

    ASSERT_EQ(CoDisconnectObject(&sink, 0), S_OK);
    service->Ping();
    EXPECT_TRUE(PumpUntil([&] {
        bool gone = false;
        service->Do([&] { gone = service->clientGone; });
        return gone;
    }));
    EXPECT_EQ(sink.meters, 1);
    // A phrase after that reaches no one and says so.
    service->Say(1, "Go Left");
    ASSERT_TRUE(Done(1));
    EXPECT_EQ(service->Published("DONE")[0].substr(0, 15), "DONE\t1\tignored\t");
}

TEST_F(VoicedServiceObjects, LettingGoOfEverythingEndsTheService)
{
    SetUpLikeNelko();
    IVCmdDialogsA *dialogs = nullptr;
    ASSERT_EQ(voice->QueryInterface(IID_IVCmdDialogsA, reinterpret_cast<void **>(&dialogs)), S_OK);

    menu->Release();
    menu = nullptr;
    EXPECT_EQ(service->Published("DROP"), std::vector<std::string>{"DROP\t1"})
        << "a temporary menu goes with its last holder";
    dialogs->Release();
    attributes->Release();
    attributes = nullptr;
    service->Do([] {});
    EXPECT_FALSE(service->lastRelease);
    voice->Release();
    voice = nullptr;
    ASSERT_TRUE(PumpUntil([&] {
        service->Do([] {});
        return service->lastRelease;
    }));
    EXPECT_EQ(sink.references, 0u) << "the service let go of the sink";
}

} // namespace
