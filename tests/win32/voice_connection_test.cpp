// The connection to the voice-command service, against a fake service of the
// tests' own: a class object for the service's class id registered in this
// process, which records every call and can fail any of them.
#include "app/app.h"
#include "behaviour/behaviour.h"
#include "voice/voice.h"
#include "voice_support.h"
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

using voicetest::Box;
using voicetest::Unowned;
using Calls = std::vector<std::string>;

namespace {

// What the fake saw, and which call is to fail with what.
struct Script {
    Calls calls;
    std::string failing; // the call that returns `failure` instead of S_OK
    HRESULT failure = E_FAIL;
    // Arguments worth checking.
    std::string site;
    bool siteGiven = false;
    IID notifyId = {};
    DWORD registerFlags = 0;
    bool siteInfoGiven = true;
    VCMDNAMEA name = {};
    LANGUAGEA language = {};
    DWORD menuFlags = 0;
    DWORD addedCount = 0;
    std::vector<BYTE> block;
    DWORD enabled = 0, awake = 0;
    HWND listening = reinterpret_cast<HWND>(1);
    DWORD activateFlags = 1;
    IVCmdNotifySinkA *sink = nullptr; // held by the service, as a real one would
    ULONG sinkReferences = 0;         // once the service took its own
};
Script *Fake;

HRESULT Call(const std::string &name)
{
    Fake->calls.push_back(name);
    return name == Fake->failing ? Fake->failure : S_OK;
}

// The fake's objects are tests' globals; each counts its references and logs
// "free <name>" when the last one goes.
template <class Interface> class FakeObject : public Interface {
  public:
    explicit FakeObject(const char *name) : name(name) {}
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        if (references == 0) {
            Fake->calls.push_back(std::string("released too often: ") + name);
            return 0;
        }
        if (--references == 0)
            Freed();
        return references;
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override
    {
        *object = nullptr;
        if (iid != IID_IUnknown && iid != __uuidof(Interface))
            return E_NOINTERFACE;
        *object = this;
        AddRef();
        return S_OK;
    }
    virtual void Freed() { Fake->calls.push_back(std::string("free ") + name); }
    ULONG references = 0;
    const char *name;
};

class FakeDialogs : public FakeObject<IVCmdDialogsA> {
  public:
    FakeDialogs() : FakeObject("dialogs") {}
};

class FakeAttributes : public FakeObject<IVCmdAttributesA> {
  public:
    FakeAttributes() : FakeObject("attributes") {}
    HRESULT STDMETHODCALLTYPE Reserved3() override { return Call("Reserved3"); }
    HRESULT STDMETHODCALLTYPE Reserved4() override { return Call("Reserved4"); }
    HRESULT STDMETHODCALLTYPE AwakeStateGet(DWORD *awake) override
    {
        *awake = Fake->awake;
        return Call("AwakeStateGet");
    }
    HRESULT STDMETHODCALLTYPE AwakeStateSet(DWORD awake) override
    {
        Fake->awake = awake;
        return Call("AwakeStateSet");
    }
    HRESULT STDMETHODCALLTYPE Reserved7() override { return Call("Reserved7"); }
    HRESULT STDMETHODCALLTYPE Reserved8() override { return Call("Reserved8"); }
    HRESULT STDMETHODCALLTYPE Reserved9() override { return Call("Reserved9"); }
    HRESULT STDMETHODCALLTYPE Reserved10() override { return Call("Reserved10"); }
    HRESULT STDMETHODCALLTYPE EnabledGet(DWORD *enabled) override
    {
        *enabled = Fake->enabled;
        return Call("EnabledGet");
    }
    HRESULT STDMETHODCALLTYPE EnabledSet(DWORD enabled) override
    {
        Fake->enabled = enabled;
        return Call("EnabledSet");
    }
};

class FakeMenu : public FakeObject<IVCmdMenuA> {
  public:
    FakeMenu() : FakeObject("menu") {}
    HRESULT STDMETHODCALLTYPE Activate(HWND listening, DWORD flags) override
    {
        Fake->listening = listening;
        Fake->activateFlags = flags;
        return Call("Activate");
    }
    HRESULT STDMETHODCALLTYPE Deactivate() override { return Call("Deactivate"); }
    HRESULT STDMETHODCALLTYPE Reserved5() override { return Call("Reserved5"); }
    HRESULT STDMETHODCALLTYPE Reserved6() override { return Call("Reserved6"); }
    HRESULT STDMETHODCALLTYPE Reserved7() override { return Call("Reserved7"); }
    HRESULT STDMETHODCALLTYPE Reserved8() override { return Call("Reserved8"); }
    // The block is copied during the call, as the service does.
    HRESULT STDMETHODCALLTYPE Add(DWORD count, SDATA data, DWORD *first) override
    {
        Fake->addedCount = count;
        Fake->block.assign(data.pData, data.pData + data.dwSize);
        *first = 0;
        return Call("Add");
    }
};

FakeDialogs Dialogs;
FakeAttributes Attributes;
FakeMenu Menu;

class FakeService : public FakeObject<IVoiceCmdA> {
  public:
    FakeService() : FakeObject("service") {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override
    {
        if (iid == IID_IVCmdDialogsA || iid == IID_IVCmdAttributesA) {
            *object = nullptr;
            const bool dialogs = iid == IID_IVCmdDialogsA;
            const HRESULT result =
                Call(dialogs ? "QueryInterface IVCmdDialogsA" : "QueryInterface IVCmdAttributesA");
            if (FAILED(result))
                return result;
            if (dialogs)
                Dialogs.AddRef(), *object = static_cast<IVCmdDialogsA *>(&Dialogs);
            else
                Attributes.AddRef(), *object = static_cast<IVCmdAttributesA *>(&Attributes);
            return result;
        }
        return FakeObject::QueryInterface(iid, object);
    }
    HRESULT STDMETHODCALLTYPE Register(const char *site, IUnknown *notify, GUID notifyId,
                                       DWORD flags, VCMDSITEINFOA *siteInfo) override
    {
        Fake->siteGiven = site != nullptr;
        Fake->site = site ? site : "";
        Fake->notifyId = notifyId;
        Fake->registerFlags = flags;
        Fake->siteInfoGiven = siteInfo != nullptr;
        const HRESULT result = Call("Register");
        if (SUCCEEDED(result)) {
            notify->QueryInterface(notifyId, reinterpret_cast<void **>(&Fake->sink));
            Fake->sinkReferences = Fake->sink->AddRef() - 1;
            Fake->sink->Release();
        }
        return result;
    }
    HRESULT STDMETHODCALLTYPE Reserved4() override { return Call("Reserved4"); }
    HRESULT STDMETHODCALLTYPE MenuCreate(VCMDNAMEA *name, LANGUAGEA *language, DWORD flags,
                                         IVCmdMenuA **menu) override
    {
        Fake->name = *name;
        Fake->language = *language;
        Fake->menuFlags = flags;
        *menu = nullptr;
        const HRESULT result = Call("MenuCreate");
        if (SUCCEEDED(result))
            Menu.AddRef(), *menu = &Menu;
        return result;
    }
    // The service lets go of the sink when it ends.
    void Freed() override
    {
        FakeObject::Freed();
        if (Fake->sink)
            Fake->sink->Release();
        Fake->sink = nullptr;
    }
};

FakeService Service;

class FakeFactory : public IClassFactory {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override
    {
        *object = nullptr;
        if (iid != IID_IUnknown && iid != IID_IClassFactory)
            return E_NOINTERFACE;
        *object = this;
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID iid, void **object) override
    {
        *object = nullptr;
        const HRESULT result = Call("CreateInstance");
        if (outer)
            return CLASS_E_NOAGGREGATION;
        if (FAILED(result))
            return result;
        return Service.QueryInterface(iid, object);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

FakeFactory Factory;

// Counts this thread's CoInitialize and CoUninitialize calls.
class InitializeCounter : public IInitializeSpy {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override
    {
        *object = nullptr;
        if (iid != IID_IUnknown && iid != IID_IInitializeSpy)
            return E_NOINTERFACE;
        *object = this;
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE PreInitialize(DWORD, DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE PostInitialize(HRESULT result, DWORD, DWORD) override
    {
        ++initialized;
        return result;
    }
    HRESULT STDMETHODCALLTYPE PreUninitialize(DWORD) override
    {
        ++uninitialized;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE PostUninitialize(DWORD) override { return S_OK; }
    int initialized = 0;
    int uninitialized = 0;
};

const Calls Connected = {"CreateInstance", "QueryInterface IVCmdDialogsA",
                         "QueryInterface IVCmdAttributesA", "Register", "MenuCreate"};
const Calls Released = {"free menu", "free attributes", "free dialogs", "free service"};

Calls Join(std::initializer_list<Calls> parts)
{
    Calls all;
    for (const Calls &part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

class VoiceConnectionTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        savedCount = CommandCount;
        memcpy(savedTitle, WindowTitle, sizeof savedTitle);
        CommandCount = 11;
        strcpy(WindowTitle, "Nelko");
        Fake = &script;
        ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
        ASSERT_EQ(CoRegisterInitializeSpy(&counter, &spyCookie), S_OK);
        ASSERT_EQ(CoRegisterClassObject(CLSID_VCmd, &Factory, CLSCTX_LOCAL_SERVER,
                                        REGCLS_MULTIPLEUSE, &registration),
                  S_OK);
        voicetest::SetUseSpeech(2);
    }
    void TearDown() override
    {
        if (VoiceCommandService || VoiceMenu)
            ReleaseVoiceInterfaces();
        CoRevokeClassObject(registration);
        CoRevokeInitializeSpy(spyCookie);
        CoUninitialize();
        Fake = nullptr;
        CommandCount = savedCount;
        memcpy(WindowTitle, savedTitle, sizeof savedTitle);
    }
    // Connects; on success, calls made while connecting are cleared.
    void Connect()
    {
        ASSERT_EQ(VoiceConnect(), 1);
        ASSERT_EQ(script.calls, Connected);
        script.calls.clear();
    }
    // The fake as it is expected after a disconnect: no references left.
    void ExpectAllReleased()
    {
        EXPECT_EQ(Service.references, 0u);
        EXPECT_EQ(Dialogs.references, 0u);
        EXPECT_EQ(Attributes.references, 0u);
        EXPECT_EQ(Menu.references, 0u);
        EXPECT_EQ(VoiceCommandService, nullptr);
        EXPECT_EQ(VoiceDialogs, nullptr);
        EXPECT_EQ(VoiceAttributes, nullptr);
        EXPECT_EQ(VoiceMenu, nullptr);
    }

    voicetest::SettingGuard setting; // first: holds the voice test lock
    voicetest::BoxCatcher catcher;
    Script script;
    InitializeCounter counter;
    ULARGE_INTEGER spyCookie = {};
    DWORD registration = 0;
    uint16_t savedCount = 0;
    char savedTitle[sizeof WindowTitle] = {};
};

TEST_F(VoiceConnectionTest, ConnectsFillsActivatesAndReleasesInOrder)
{
    ASSERT_EQ(VoiceConnect(), 1);
    EXPECT_EQ(script.calls, Connected);
    EXPECT_EQ(counter.initialized, 1);
    // Register: site "", the sink asked for as the notification interface,
    // all notifications, no site information.
    EXPECT_TRUE(script.siteGiven);
    EXPECT_EQ(script.site, "");
    EXPECT_EQ(script.notifyId, IID_IVCmdNotifySinkA);
    EXPECT_EQ(script.registerFlags, 3u);
    EXPECT_FALSE(script.siteInfoGiven);
    EXPECT_NE(script.sink, nullptr);
    EXPECT_EQ(script.sink, static_cast<IVCmdNotifySinkA *>(VoiceSink));
    EXPECT_EQ(script.sinkReferences, 1u); // Nelko keeps the sink's address, no reference
    // MenuCreate: a temporary menu named "Nelko" / "Main" in US English.
    static const char application[32] = "Nelko";
    static const char state[32] = "Main";
    static const char dialect[64] = "US English";
    EXPECT_EQ(memcmp(script.name.szApplication, application, 32), 0);
    EXPECT_EQ(memcmp(script.name.szState, state, 32), 0);
    EXPECT_EQ(script.language.LanguageID, 9);
    EXPECT_EQ(memcmp(script.language.szDialect, dialect, 64), 0);
    EXPECT_EQ(script.menuFlags, 1u);
    script.calls.clear();

    VoiceSetUp(); // UseSpeech 2
    EXPECT_EQ(script.calls,
              (Calls{"Add", "EnabledSet", "AwakeStateSet", "Deactivate", "Activate"}));
    EXPECT_EQ(script.addedCount, 11u);
    EXPECT_EQ(script.block.size(), 780u);
    EXPECT_EQ(script.enabled, 1u);
    EXPECT_EQ(script.awake, 1u);
    EXPECT_EQ(script.listening, nullptr);
    EXPECT_EQ(script.activateFlags, 0u);
    EXPECT_TRUE(catcher.boxes.empty());
    script.calls.clear();

    VoiceDisconnect();
    EXPECT_EQ(script.calls, Released);
    EXPECT_EQ(counter.uninitialized, 1);
    ExpectAllReleased();
    EXPECT_TRUE(catcher.boxes.empty());
}

// A command heard by the service comes back with the action data it was
// given in the block and runs as the menu would, random mode left alone.
TEST_F(VoiceConnectionTest, HeardCommandRunsThroughTheSink)
{
    Connect();
    VoiceSetUp();
    ASSERT_EQ(script.block.size(), 780u);
    ASSERT_NE(script.sink, nullptr);
    const uint32_t savedRandom = RandomMode;
    const uint8_t savedState = BehaviourState;
    RandomMode = 1;
    BehaviourState = Idle;
    BYTE *goLeft = script.block.data() + 68; // the second record
    ASSERT_EQ(memcmp(goLeft + 40, "Go Left", 8), 0);
    EXPECT_EQ(script.sink->CommandRecognize(0, &script.name, 0, 4, goLeft + 36, 0, nullptr,
                                            const_cast<char *>("Go Left")),
              S_OK);
    EXPECT_EQ(BehaviourState, GoingLeft);
    EXPECT_EQ(RandomMode, 1u);
    RandomMode = savedRandom;
    BehaviourState = savedState;
    VoiceDisconnect();
    EXPECT_EQ(script.sink, nullptr); // the service let go of it when it ended
}

// Any failure while connecting shows nothing and releases what was obtained,
// in order; negative results fail, other success codes do not.
TEST_F(VoiceConnectionTest, ConnectFailuresAreSilentAndReleaseWhatWasHeld)
{
    struct Case {
        const char *failing;
        HRESULT failure;
        int connected;
        Calls calls; // up to and including the disconnect
    } cases[] = {
        {"CreateInstance", REGDB_E_CLASSNOTREG, 0, {"CreateInstance"}},
        {"QueryInterface IVCmdDialogsA",
         E_NOINTERFACE,
         0,
         {"CreateInstance", "QueryInterface IVCmdDialogsA", "free service"}},
        {"QueryInterface IVCmdAttributesA",
         E_NOINTERFACE,
         0,
         {"CreateInstance", "QueryInterface IVCmdDialogsA", "QueryInterface IVCmdAttributesA",
          "free dialogs", "free service"}},
        {"Register", E_FAIL, 0,
         Join({{Connected.begin(), Connected.begin() + 4},
               {"free attributes", "free dialogs", "free service"}})},
        {"MenuCreate", E_OUTOFMEMORY, 0,
         Join({Connected, {"free attributes", "free dialogs", "free service"}})},
        {"Register", S_FALSE, 1, Join({Connected, Released})},
        {"MenuCreate", S_FALSE, 1, Join({Connected, Released})},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.failing << " returning 0x" << std::hex << c.failure);
        script.calls.clear();
        script.failing = c.failing;
        script.failure = c.failure;
        counter.uninitialized = 0;
        EXPECT_EQ(VoiceConnect(), c.connected);
        if (!c.connected) {
            EXPECT_EQ(VoiceCommandService, nullptr);
            EXPECT_EQ(VoiceDialogs, nullptr);
            EXPECT_EQ(VoiceAttributes, nullptr);
            EXPECT_EQ(VoiceMenu, nullptr);
        }
        VoiceDisconnect();
        EXPECT_EQ(script.calls, c.calls);
        EXPECT_EQ(counter.uninitialized, 1);
        ExpectAllReleased();
    }
    EXPECT_TRUE(catcher.boxes.empty());
}

// Failures after the connection exists are shown, and the rest of the
// set-up goes on or stops as each row says.
TEST_F(VoiceConnectionTest, SetUpFailuresShowTheirBox)
{
    const Box addError = Unowned("Error adding commands to menu.");
    const Box enableError = Unowned("Error enabling TTS during VCMD initialization.");
    const Box activateError = Unowned("Error activating the SR command menu.");
    struct Case {
        const char *failing;
        HRESULT failure;
        Calls calls; // from Add up to the disconnect's releases
        std::vector<Box> boxes;
    } cases[] = {
        {"Add", E_OUTOFMEMORY, {"Add"}, {addError}}, // no attributes, no activation
        {"Add", S_FALSE, {"Add", "EnabledSet", "AwakeStateSet", "Deactivate", "Activate"}, {}},
        {"EnabledSet", S_FALSE, {"Add", "EnabledSet", "Deactivate", "Activate"}, {enableError}},
        {"EnabledSet", E_FAIL, {"Add", "EnabledSet", "Deactivate", "Activate"}, {enableError}},
        {"AwakeStateSet",
         E_FAIL,
         {"Add", "EnabledSet", "AwakeStateSet", "Deactivate", "Activate"},
         {enableError}},
        {"Deactivate",
         E_FAIL,
         {"Add", "EnabledSet", "AwakeStateSet", "Deactivate", "Activate"},
         {}}, // its result is not looked at
        {"Activate",
         S_FALSE,
         {"Add", "EnabledSet", "AwakeStateSet", "Deactivate", "Activate"},
         {activateError}},
        {"Activate",
         E_FAIL,
         {"Add", "EnabledSet", "AwakeStateSet", "Deactivate", "Activate"},
         {activateError}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.failing << " returning 0x" << std::hex << c.failure);
        script.failing = c.failing;
        script.failure = c.failure;
        Connect();
        catcher.boxes.clear();
        VoiceSetUp();
        VoiceDisconnect();
        EXPECT_EQ(script.calls, Join({c.calls, Released}));
        EXPECT_EQ(catcher.boxes, c.boxes);
        script.calls.clear();
    }
}

// Modes other than 2 leave recognition as it is; a setting that ends the
// set-up leaves the empty menu held until the disconnect.
TEST_F(VoiceConnectionTest, SpeechSettingDecidesWhatSetUpDoes)
{
    const Box noKey = Unowned("Error obtaining the UseSpeech variable from the registry, please "
                              "install the voice command service.");
    struct Case {
        const char *what;
        bool key;
        DWORD useSpeech;
        Calls calls;
        std::vector<Box> boxes;
    } cases[] = {
        {"1", true, 1, {"Add", "Deactivate", "Activate"}, {}},
        {"2", true, 2, {"Add", "EnabledSet", "AwakeStateSet", "Deactivate", "Activate"}, {}},
        {"0xFFFFFFFF", true, 0xFFFFFFFF, {}, {}},
        {"no key", false, 0, {}, {noKey}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        if (c.key)
            voicetest::SetUseSpeech(c.useSpeech);
        else
            voicetest::RemoveVoiceKey();
        Connect();
        catcher.boxes.clear();
        VoiceSetUp();
        VoiceDisconnect();
        EXPECT_EQ(script.calls, Join({c.calls, Released}));
        EXPECT_EQ(catcher.boxes, c.boxes);
        script.calls.clear();
    }
}

// A count past the last label makes the block fail: reported as out of
// memory, nothing added.
TEST_F(VoiceConnectionTest, BlockFailureShowsOutOfMemory)
{
    CommandCount = 12;
    Connect();
    VoiceSetUp();
    EXPECT_EQ(catcher.boxes,
              (std::vector<Box>{Unowned("Out of memory during VCMD initialization.")}));
    VoiceDisconnect();
    EXPECT_EQ(script.calls, Released);
}

TEST_F(VoiceConnectionTest, WindowTitleIsCutToTheApplicationField)
{
    struct Case {
        std::string title;
        std::string application; // as the field holds it, zero after
    } cases[] = {
        {std::string(31, 'a'), std::string(31, 'a')},
        {std::string(32, 'b'), std::string(31, 'b')},
        {std::string(63, 'c'), std::string(31, 'c')},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.title.size());
        strcpy(WindowTitle, c.title.c_str());
        script.calls.clear();
        ASSERT_EQ(VoiceConnect(), 1);
        VoiceDisconnect();
        EXPECT_EQ(std::string(script.name.szApplication, 31), c.application);
        EXPECT_EQ(script.name.szApplication[31], '\0');
        EXPECT_EQ(memcmp(script.name.szState, "Main", 5), 0);
    }
}

// Without the service the character runs on: nothing shown, nothing held,
// COM still ended once at exit.
TEST_F(VoiceConnectionTest, ServiceNotRegisteredShowsNothing)
{
    CoRevokeClassObject(registration);
    registration = 0;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID\\{6D40D820-0BA7-11CE-A166-00AA004CD65C}", 0,
                      KEY_READ, &key) == ERROR_SUCCESS) {
        RegCloseKey(key);
        GTEST_SKIP() << "a voice-command service is installed in this prefix";
    }
    EXPECT_EQ(VoiceConnect(), 0);
    VoiceDisconnect();
    EXPECT_TRUE(catcher.boxes.empty());
    EXPECT_TRUE(script.calls.empty());
    EXPECT_EQ(counter.initialized, 1);
    EXPECT_EQ(counter.uninitialized, 1);
    ExpectAllReleased();
}

// On a thread already in the multithreaded apartment CoInitialize fails:
// nothing is tried, nothing shown, and the disconnect leaves that thread's
// own initialisation alone.
TEST_F(VoiceConnectionTest, ComThatCannotStartIsSilent)
{
    int connected = -1;
    HRESULT stillInitialized = E_FAIL;
    InitializeCounter threadCounter;
    std::thread other([&] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        ULARGE_INTEGER cookie;
        CoRegisterInitializeSpy(&threadCounter, &cookie);
        voicetest::BoxCatcher threadBoxes;
        connected = VoiceConnect();
        VoiceDisconnect();
        CoRevokeInitializeSpy(cookie);
        stillInitialized = CoInitializeEx(nullptr, COINIT_MULTITHREADED); // S_FALSE: still on
        CoUninitialize();
        CoUninitialize();
        EXPECT_TRUE(threadBoxes.boxes.empty());
    });
    other.join();
    EXPECT_EQ(connected, 0);
    EXPECT_EQ(threadCounter.uninitialized, 0);
    EXPECT_EQ(stillInitialized, S_FALSE);
    EXPECT_TRUE(script.calls.empty());
}

} // namespace
