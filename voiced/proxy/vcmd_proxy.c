/*
 * The proxies and stubs of the voice-command interfaces, for the service's
 * proxy/stub DLL (Nelko itself calls through the system's marshalling and
 * does not link this). The generated file names IUnknown's own proxies,
 * which the platform headers declare for C++ only.
 */
#include <objbase.h> /* not rpcproxy.h: the generated file sets it up itself */

HRESULT STDMETHODCALLTYPE IUnknown_QueryInterface_Proxy(IUnknown *This, REFIID riid, void **object);
ULONG STDMETHODCALLTYPE IUnknown_AddRef_Proxy(IUnknown *This);
ULONG STDMETHODCALLTYPE IUnknown_Release_Proxy(IUnknown *This);

#include "idl/vcmd_p.c"

/* The slots the service and Nelko rely on, counted from 0 with IUnknown's
 * three first. */
#include <stddef.h>
#define SLOT(vtbl, method) (offsetof(vtbl, method) / sizeof(void *))
_Static_assert(SLOT(IVoiceCmdAVtbl, Register) == 3, "IVoiceCmdA::Register");
_Static_assert(SLOT(IVoiceCmdAVtbl, MenuCreate) == 5, "IVoiceCmdA::MenuCreate");
_Static_assert(SLOT(IVCmdMenuAVtbl, Activate) == 3, "IVCmdMenuA::Activate");
_Static_assert(SLOT(IVCmdMenuAVtbl, Deactivate) == 4, "IVCmdMenuA::Deactivate");
_Static_assert(SLOT(IVCmdMenuAVtbl, Add) == 9, "IVCmdMenuA::Add");
_Static_assert(SLOT(IVCmdAttributesAVtbl, AwakeStateSet) == 6, "IVCmdAttributesA::AwakeStateSet");
_Static_assert(SLOT(IVCmdAttributesAVtbl, EnabledSet) == 12, "IVCmdAttributesA::EnabledSet");
_Static_assert(SLOT(IVCmdNotifySinkAVtbl, CommandRecognize) == 3, "CommandRecognize");
_Static_assert(SLOT(IVCmdNotifySinkAVtbl, CommandOther) == 4, "CommandOther");
_Static_assert(SLOT(IVCmdNotifySinkAVtbl, CommandStart) == 5, "CommandStart");
_Static_assert(SLOT(IVCmdNotifySinkAVtbl, MenuActivate) == 6, "MenuActivate");
_Static_assert(SLOT(IVCmdNotifySinkAVtbl, UtteranceBegin) == 7, "UtteranceBegin");
_Static_assert(SLOT(IVCmdNotifySinkAVtbl, UtteranceEnd) == 8, "UtteranceEnd");
_Static_assert(SLOT(IVCmdNotifySinkAVtbl, VUMeter) == 9, "VUMeter");
_Static_assert(SLOT(IVCmdNotifySinkAVtbl, AttribChanged) == 10, "AttribChanged");

/* The records as laid out in memory and on the wire. */
_Static_assert(sizeof(VCMDNAMEA) == 64, "VCMDNAMEA");
_Static_assert(offsetof(VCMDNAMEA, szState) == 32, "VCMDNAMEA state");
_Static_assert(sizeof(LANGUAGEA) == 66, "LANGUAGEA");
_Static_assert(offsetof(LANGUAGEA, szDialect) == 2, "LANGUAGEA dialect");
_Static_assert(offsetof(SDATA, pData) == 0 && offsetof(SDATA, dwSize) == sizeof(void *), "SDATA");
_Static_assert(offsetof(VCMDCOMMAND, abData) == 36, "VCMDCOMMAND action data");
