// Voice commands: the connection to the voice-command service, the command
// list block it is given and the sink through which it reports.
#pragma once
#include "app/platform.h"
#include <cstdint>

// Start-up and shut-down, called by WinMain: VoiceSetUp only after
// VoiceConnect returned 1, VoiceDisconnect once after the message loop.
int VoiceConnect();
void VoiceSetUp();
void VoiceDisconnect();

// The command list block: one voice command record per offered command
// (0 to CommandCount - 1), back to back. Record i carries label string
// 8000 + i as its phrase and description, the category "Main" and the action
// value i + 1 as its 4-byte action data; every record's size is a multiple
// of 4. The block is one malloc'd allocation that the caller frees.
struct CommandListBlock {
    BYTE *data;
    DWORD size; // in bytes
};
// Returns 1 with the block and the number of records handed out, or 0
// (nothing handed out) when memory runs short or a label is missing.
int BuildCommandListBlock(CommandListBlock *block, uint32_t *count);

#ifdef _WIN32
#include "idl/vcmd.h"

// Speech settings. ReadUseSpeech gives HKCU "Software\Voice" UseSpeech as a
// 32-bit value, or -1 after a failure was shown. PrepareSpeechMode gives the
// speech mode, starting the feedback program when the setting is 0, or -1
// when set-up is to end.
constexpr int32_t SpeechModeListening = 2; // recognition is switched on
int32_t ReadUseSpeech();
int32_t PrepareSpeechMode();
void RegisterSpeechMessages();
extern UINT SpeechStartedMessage; // "WM_SPEECHSTARTED"; stored, no one acts on it
extern UINT SpeechEndedMessage;   // "WM_SPEECHENDED"

// The sink the service reports recognised commands to. It lives by its
// reference count, from 0 at construction; the service's last Release
// deletes it.
class VoiceNotifySink final : public IVCmdNotifySinkA {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    // Runs the command whose action value the action data holds, as the
    // popup menu would but leaving random mode as it is.
    HRESULT STDMETHODCALLTYPE CommandRecognize(DWORD id, VCMDNAMEA *name, DWORD flags,
                                               DWORD actionSize, BYTE *action, DWORD listCount,
                                               char *listValues, char *command) override;
    HRESULT STDMETHODCALLTYPE CommandOther(VCMDNAMEA *name, char *command) override;
    HRESULT STDMETHODCALLTYPE CommandStart() override;
    HRESULT STDMETHODCALLTYPE MenuActivate(VCMDNAMEA *name, BOOL active) override;
    HRESULT STDMETHODCALLTYPE UtteranceBegin() override;
    HRESULT STDMETHODCALLTYPE UtteranceEnd() override;
    HRESULT STDMETHODCALLTYPE VUMeter(WORD level) override;
    HRESULT STDMETHODCALLTYPE AttribChanged(DWORD attribute) override;

  private:
    ULONG references = 0;
};

// The connection, all null while not connected. One reference is held on
// each interface; none on the sink, whose address is only kept.
extern IVoiceCmdA *VoiceCommandService;
extern IVCmdDialogsA *VoiceDialogs;
extern IVCmdAttributesA *VoiceAttributes;
extern IVCmdMenuA *VoiceMenu;
extern VoiceNotifySink *VoiceSink;

HRESULT ActivateVoiceMenu();   // Deactivate, then the result of Activate
void ReleaseVoiceInterfaces(); // menu, attributes, dialogs, service; all set to null
#endif
