// The notification sink: recognised voice commands come back through it.
#include "app/app.h"
#include "voice/voice.h"
#include <cstring>

HRESULT STDMETHODCALLTYPE VoiceNotifySink::QueryInterface(REFIID iid, void **object)
{
    *object = nullptr;
    if (memcmp(&iid, &IID_IUnknown, sizeof(IID)) != 0 &&
        memcmp(&iid, &IID_IVCmdNotifySinkA, sizeof(IID)) != 0)
        return E_NOINTERFACE;
    *object = static_cast<IVCmdNotifySinkA *>(this);
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE VoiceNotifySink::AddRef()
{
    return ++references;
}

ULONG STDMETHODCALLTYPE VoiceNotifySink::Release()
{
    if (--references != 0)
        return references;
    delete this;
    return 0;
}

// The action data is the 4-byte action value the command list block stored,
// command number + 1. Data too short to hold one is refused; the value is
// copied out, as the service's buffer need not be aligned.
HRESULT STDMETHODCALLTYPE VoiceNotifySink::CommandRecognize(DWORD, VCMDNAMEA *, DWORD,
                                                            DWORD actionSize, BYTE *action, DWORD,
                                                            char *, char *)
{
    uint32_t value;
    if (!action || actionSize < sizeof value)
        return S_OK;
    memcpy(&value, action, sizeof value);
    if (value >= 1 && value <= CommandCount)
        RunCommand(value - 1);
    return S_OK;
}

// Every other notification is accepted and ignored.
HRESULT STDMETHODCALLTYPE VoiceNotifySink::CommandOther(VCMDNAMEA *, char *)
{
    return S_OK;
}
HRESULT STDMETHODCALLTYPE VoiceNotifySink::CommandStart()
{
    return S_OK;
}
HRESULT STDMETHODCALLTYPE VoiceNotifySink::MenuActivate(VCMDNAMEA *, BOOL)
{
    return S_OK;
}
HRESULT STDMETHODCALLTYPE VoiceNotifySink::UtteranceBegin()
{
    return S_OK;
}
HRESULT STDMETHODCALLTYPE VoiceNotifySink::UtteranceEnd()
{
    return S_OK;
}
HRESULT STDMETHODCALLTYPE VoiceNotifySink::VUMeter(WORD)
{
    return S_OK;
}
HRESULT STDMETHODCALLTYPE VoiceNotifySink::AttribChanged(DWORD)
{
    return S_OK;
}
