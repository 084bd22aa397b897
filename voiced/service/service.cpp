// The voice-command objects a client holds, and the calls the service makes
// into the client's sink: one at a time, on the thread that received it.
#include "voiced/service/service.h"
#include "voiced/core/trace.h"
#include "voiced/pipe/names.h"
#include <cstring>
#include <map>
#include <new>

namespace {

// Fills a menu name record from a menu's texts.
VCMDNAMEA NameOf(const std::string &application, const std::string &state)
{
    VCMDNAMEA name = {};
    memcpy(name.szApplication, application.data(),
           std::min(application.size(), sizeof name.szApplication - 1));
    memcpy(name.szState, state.data(), std::min(state.size(), sizeof name.szState - 1));
    return name;
}

// A name field is text only when it ends inside the field.
template <size_t N> bool Terminated(const char (&field)[N])
{
    return memchr(field, 0, N) != nullptr;
}

} // namespace

// The service object: IVoiceCmdA with the attributes and the (empty) dialogs
// interface on the same object.
class VoiceCommandObject final : public IVoiceCmdA, public IVCmdAttributesA, public IVCmdDialogsA {
  public:
    explicit VoiceCommandObject(VoiceService *service) : service_(service)
    {
        service_->ObjectMade();
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (iid == IID_IUnknown || iid == IID_IVoiceCmdA)
            *object = static_cast<IVoiceCmdA *>(this);
        else if (iid == IID_IVCmdAttributesA)
            *object = static_cast<IVCmdAttributesA *>(this);
        else if (iid == IID_IVCmdDialogsA)
            *object = static_cast<IVCmdDialogsA *>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG left = --references_;
        if (left == 0) {
            VoiceService *service = service_;
            delete this;
            service->ObjectGone();
        }
        return left;
    }

    // IVoiceCmdA
    HRESULT STDMETHODCALLTYPE Register(const char *site, IUnknown *notify, GUID iid, DWORD flags,
                                       VCMDSITEINFOA *) override
    {
        if (!notify) {
            service_->SetSink(nullptr);
            return S_OK;
        }
        if (iid != IID_IVCmdNotifySinkA)
            return E_NOINTERFACE;
        ComPtr<IVCmdNotifySinkA> sink;
        const HRESULT result = notify->QueryInterface(IID_IVCmdNotifySinkA, sink.PutVoid());
        if (FAILED(result) || !sink)
            return FAILED(result) ? result : E_NOINTERFACE;
        service_->SetSink(sink.Get());
        service_->site_ = site ? std::string(site, strnlen(site, MAX_PATH)) : std::string();
        service_->notifyFlags_ = flags;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Reserved4() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE MenuCreate(VCMDNAMEA *name, LANGUAGEA *language, DWORD flags,
                                         IVCmdMenuA **menu) override;

    // IVCmdAttributesA
    HRESULT STDMETHODCALLTYPE Reserved3() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AwakeStateGet(DWORD *awake) override
    {
        if (!awake)
            return E_POINTER;
        *awake = service_->core_.awake;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE AwakeStateSet(DWORD awake) override
    {
        service_->core_.awake = awake != 0;
        service_->PublishAll();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Reserved7() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved8() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved9() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved10() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnabledGet(DWORD *enabled) override
    {
        if (!enabled)
            return E_POINTER;
        *enabled = service_->core_.enabled;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE EnabledSet(DWORD enabled) override
    {
        service_->core_.enabled = enabled != 0;
        service_->PublishAll();
        return S_OK;
    }

  private:
    ~VoiceCommandObject() = default;
    VoiceService *service_;
    ULONG references_ = 1;
};

// A voice menu as one holder sees it; several objects may open one menu.
class VoiceMenuObject final : public IVCmdMenuA {
  public:
    VoiceMenuObject(VoiceService *service, uint32_t menu) : service_(service), menu_(menu)
    {
        service_->ObjectMade();
        ++Holders(menu_);
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (iid != IID_IUnknown && iid != IID_IVCmdMenuA)
            return E_NOINTERFACE;
        *object = static_cast<IVCmdMenuA *>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG left = --references_;
        if (left == 0) {
            VoiceService *service = service_;
            const uint32_t menu = menu_;
            const bool last = --Holders(menu) == 0;
            delete this;
            if (last) {
                ServiceMenu *kept = service->core_.Menu(menu);
                const bool temporary = kept && kept->temporary;
                service->core_.CloseMenu(menu, true);
                if (temporary)
                    service->Dropped(menu);
            }
            service->ObjectGone();
        }
        return left;
    }

    HRESULT STDMETHODCALLTYPE Activate(HWND, DWORD) override { return SetActive(true); }
    HRESULT STDMETHODCALLTYPE Deactivate() override { return SetActive(false); }
    HRESULT STDMETHODCALLTYPE Reserved5() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved6() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved7() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved8() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Add(DWORD count, SDATA data, DWORD *first) override
    {
        uint32_t start = 0;
        if (!service_->core_.Add(menu_, data.pData, data.dwSize, count, &start))
            return E_INVALIDARG;
        if (first)
            *first = start;
        if (ServiceMenu *menu = service_->core_.Menu(menu_))
            service_->Publish(*menu);
        return S_OK;
    }

  private:
    ~VoiceMenuObject() = default;
    HRESULT SetActive(bool active)
    {
        ServiceMenu *menu = service_->core_.Menu(menu_);
        if (!menu)
            return E_UNEXPECTED;
        const bool changed = menu->active != active;
        menu->active = active;
        if (changed) {
            service_->Publish(*menu);
            service_->MenuActivated(*menu);
        }
        return S_OK;
    }
    // How many menu objects hold each menu.
    static ULONG &Holders(uint32_t menu)
    {
        static std::map<uint32_t, ULONG> holders; // ids are never reused
        return holders[menu];
    }

    VoiceService *service_;
    uint32_t menu_;
    ULONG references_ = 1;
};

HRESULT STDMETHODCALLTYPE VoiceCommandObject::MenuCreate(VCMDNAMEA *name, LANGUAGEA *language,
                                                         DWORD flags, IVCmdMenuA **menu)
{
    if (!menu)
        return E_POINTER;
    *menu = nullptr;
    if (!name || !language)
        return E_POINTER;
    if (!Terminated(name->szApplication) || !Terminated(name->szState) ||
        !Terminated(language->szDialect))
        return E_INVALIDARG;
    const uint32_t id = service_->core_.OpenMenu(
        FieldText(name->szApplication), FieldText(name->szState), language->LanguageID,
        FieldText(language->szDialect), (flags & VCMDMC_TEMPORARY) != 0);
    if (!id)
        return E_OUTOFMEMORY; // no more than the hub takes from one service
    VoiceMenuObject *object = new (std::nothrow) VoiceMenuObject(service_, id);
    if (!object) {
        service_->core_.CloseMenu(id, true);
        return E_OUTOFMEMORY;
    }
    *menu = object;
    if (ServiceMenu *made = service_->core_.Menu(id))
        service_->Publish(*made);
    return S_OK;
}

// ---------------------------------------------------------------------------

IVoiceCmdA *VoiceService::NewObject()
{
    return new (std::nothrow) VoiceCommandObject(this);
}

HRESULT VoiceService::NewObject(REFIID iid, void **object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    const auto made = ComPtr<IVoiceCmdA>::Adopt(NewObject());
    if (!made)
        return E_OUTOFMEMORY;
    return made->QueryInterface(iid, object);
}

void VoiceService::ObjectGone()
{
    if (--objects_ != 0)
        return;
    SetSink(nullptr); // the client let go of everything, the sink included
    if (hooks_.lastRelease)
        hooks_.lastRelease();
}

void VoiceService::SetSink(IVCmdNotifySinkA *sink)
{
    const ComPtr<IVCmdNotifySinkA> old = std::move(sink_); // let go of last
    sink_ = ComPtr<IVCmdNotifySinkA>::Share(sink);
    if (!sink)
        queue_.Clear();
}

void VoiceService::Tell(const std::string &line)
{
    if (hooks_.publish)
        hooks_.publish(line);
}

void VoiceService::Publish(const ServiceMenu &menu)
{
    Tell(FormatMenuNotice(core_.Notice(menu)));
}

void VoiceService::PublishAll()
{
    for (const auto &menu : core_.Menus())
        Publish(*menu);
}

void VoiceService::Dropped(uint32_t menu)
{
    Tell(FormatDropNotice({menu}));
}

void VoiceService::MenuActivated(const ServiceMenu &menu)
{
    Event event{Event::MenuActivate, 0, {}, 0, NameOf(menu.application, menu.state), menu.active};
    Post(std::move(event));
}

void VoiceService::Phrase(uint32_t seq, const std::string &phrase, uint64_t arrived)
{
    Event event{Event::Phrase, seq, phrase, arrived, {}, FALSE};
    if (queue_.Offer(std::move(event), MaxWaitingEvents, [this](Event &e) { Deliver(e); }))
        return;
    // The client is inside a long call and has enough to do after it.
    const Recognition heard = core_.Recognise(phrase);
    Trace("service", "dropped %u: the client is busy", seq);
    Tell(FormatDroppedNotice(seq, heard.application, heard.state));
}

void VoiceService::Ping()
{
    if (!sink_ || queue_.Busy() || queue_.Waiting())
        return;
    Post(Event{Event::Ping, 0, {}, 0, {}, FALSE});
}

void VoiceService::Level(uint16_t level)
{
    level_ = level;
    Ping();
}

void VoiceService::Post(Event event)
{
    queue_.Post(std::move(event), [this](Event &e) { Deliver(e); });
}

bool VoiceService::Check(HRESULT result)
{
    if (gone_)
        return false;
    if (!ClientGone(static_cast<uint32_t>(result)))
        return SUCCEEDED(result);
    // The client's process is gone: its references will never be released.
    gone_ = true;
    queue_.Clear();
    sink_.Reset();
    if (hooks_.clientGone)
        hooks_.clientGone();
    return false;
}

void VoiceService::Deliver(Event &event)
{
    // The sink stays alive through the call even if the client registers
    // another one meanwhile.
    const ComPtr<IVCmdNotifySinkA> sink = gone_ ? nullptr : sink_;
    if (event.kind == Event::Phrase)
        return DeliverPhrase(sink.Get(), event);
    if (!sink)
        return;
    if (event.kind == Event::Ping)
        Check(sink->VUMeter(level_));
    else
        Check(sink->MenuActivate(&event.name, event.active));
}

// Everything a delivery passes is a copy made before the first call: a
// client may add commands or let go of the menu in any of them.
void VoiceService::DeliverPhrase(IVCmdNotifySinkA *sink, Event &event)
{
    DoneNotice done;
    done.seq = event.seq;
    uint64_t recognised = 0; // when CommandRecognize or CommandOther returned
    Recognition heard = core_.Recognise(event.phrase);
    done.outcome = sink ? heard.outcome : Outcome::Ignored;
    if (done.outcome != Outcome::Ignored) {
        VCMDNAMEA name = NameOf(heard.application, heard.state);
        done.application = heard.application;
        done.state = heard.state;
        std::string phrase = event.phrase;
        bool ok = Check(sink->UtteranceBegin());
        if (ok && heard.outcome == Outcome::Ran) {
            std::vector<uint8_t> &action = heard.command.action;
            std::string &command = heard.command.phrase;
            done.command = command;
            ok = Check(sink->CommandRecognize(
                heard.command.id, &name, 0, static_cast<DWORD>(action.size()),
                action.empty() ? nullptr : action.data(), 0, nullptr, &command[0]));
        } else if (ok) {
            ok = Check(sink->CommandOther(&name, &phrase[0]));
        }
        recognised = MicrosecondsNow();
        if (ok)
            ok = Check(sink->UtteranceEnd());
        if (!ok) {
            done.outcome = Outcome::Failed;
            done.command.clear();
        }
    }
    const uint64_t elapsed = (recognised ? recognised : MicrosecondsNow()) - event.arrived;
    done.micros = static_cast<uint32_t>(std::min<uint64_t>(elapsed, UINT32_MAX));
    Trace("service", "delivered %u: %s in %u us", done.seq, OutcomeName(done.outcome), done.micros);
    Tell(FormatDoneNotice(done));
}
