/*
 * Registration of the proxy/stub DLL: the interface keys with their
 * ProxyStubClsid32 and the factory's class pointing at this DLL, written and
 * removed by the RPC runtime from the generated proxy file list.
 */
#include <windows.h>
#include <rpcproxy.h>

void RPC_ENTRY GetProxyDllInfo(const ProxyFileInfo ***info, const CLSID **clsid);

static HINSTANCE Module;

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        Module = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

HRESULT WINAPI DllRegisterServer(void)
{
    const ProxyFileInfo **files;
    const CLSID *clsid;
    GetProxyDllInfo(&files, &clsid);
    return NdrDllRegisterProxy(Module, files, clsid);
}

HRESULT WINAPI DllUnregisterServer(void)
{
    const ProxyFileInfo **files;
    const CLSID *clsid;
    GetProxyDllInfo(&files, &clsid);
    return NdrDllUnregisterProxy(Module, files, clsid);
}
