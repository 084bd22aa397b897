#pragma once
#include <windows.h>
#include <string>

// Installation: the class, the proxy/stub DLL beside the program, and
// HKCU\Software\Voice UseSpeech = 2 when there is none. For the current
// user (HKCU\Software\Classes, no administrator needed) or for every user of
// the machine (HKLM\Software\Classes). Where HKEY_CLASSES_ROOT does not show
// the user's classes, a user's registration is copied where it reads too, and
// removed with it. Both return 0 on success, else a Win32 error code.
//
// Each key written carries a NelkoRegistration value. Registering refuses
// (ERROR_ALREADY_EXISTS, with *why) where another program wrote one of the
// keys; unregistering deletes only keys that carry the value.
enum class InstallScope { User, Machine };
DWORD RegisterService(InstallScope scope, std::string *why = nullptr);
DWORD UnregisterService(InstallScope scope);
