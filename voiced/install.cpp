// Installation of the service: the class as a local server, the proxy/stub
// DLL beside the program, and the speech setting when the user has none.
// Unregistering removes exactly what registering added.
#include "voiced/service.h"

namespace {

const char ClassKey[] = "CLSID\\{6D40D820-0BA7-11CE-A166-00AA004CD65C}";
const char ClassName[] = "Voice Commands";
const char ProxyDll[] = "vcmdps.dll";
const char VoiceKey[] = "Software\\Voice";
const char UseSpeechValue[] = "UseSpeech";
constexpr DWORD UseSpeechListening = 2;
// Kept under the class key: what registering added to the user's settings.
const char AddedUseSpeech[] = "NelkoAddedUseSpeech";
const char AddedVoiceKey[] = "NelkoAddedVoiceKey";

std::string ProgramPath()
{
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    return std::string(path, n < MAX_PATH ? n : 0);
}

DWORD SetText(HKEY key, const char *name, const std::string &text)
{
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text.c_str()),
                          static_cast<DWORD>(text.size() + 1));
}

DWORD SetNumber(HKEY key, const char *name, DWORD value)
{
    return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value),
                          sizeof value);
}

DWORD GetNumber(HKEY root, const char *path, const char *name, DWORD *value)
{
    DWORD size = sizeof *value, type = 0;
    HKEY key;
    DWORD error = RegOpenKeyExA(root, path, 0, KEY_READ, &key);
    if (error != ERROR_SUCCESS)
        return error;
    error = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE *>(value), &size);
    RegCloseKey(key);
    if (error == ERROR_SUCCESS && (type != REG_DWORD || size != sizeof *value))
        error = ERROR_INVALID_DATA;
    return error;
}

// Deletes a key and everything under it.
DWORD DeleteTree(HKEY root, const std::string &path)
{
    HKEY key;
    DWORD error = RegOpenKeyExA(root, path.c_str(), 0, KEY_READ | KEY_WRITE, &key);
    if (error == ERROR_FILE_NOT_FOUND)
        return ERROR_SUCCESS;
    if (error != ERROR_SUCCESS)
        return error;
    char child[256];
    for (;;) {
        DWORD size = sizeof child;
        if (RegEnumKeyExA(key, 0, child, &size, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        error = DeleteTree(key, child);
        if (error != ERROR_SUCCESS)
            break;
    }
    RegCloseKey(key);
    return error == ERROR_SUCCESS ? RegDeleteKeyA(root, path.c_str()) : error;
}

// Calls DllRegisterServer or DllUnregisterServer of the proxy/stub DLL.
DWORD CallProxyDll(const char *entry)
{
    std::string path = ProgramPath();
    path = path.substr(0, path.find_last_of("\\/") + 1) + ProxyDll;
    HMODULE dll = LoadLibraryA(path.c_str());
    if (!dll)
        return GetLastError();
    typedef HRESULT(STDAPICALLTYPE * Entry)();
    Entry call = reinterpret_cast<Entry>(reinterpret_cast<void *>(GetProcAddress(dll, entry)));
    const HRESULT result = call ? call() : HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    FreeLibrary(dll);
    return SUCCEEDED(result) ? ERROR_SUCCESS : static_cast<DWORD>(result);
}

// UseSpeech 2 when the user has no value; never overwrites one. Reports what
// it added.
DWORD AddUseSpeech(bool *addedKey, bool *addedValue)
{
    HKEY key;
    DWORD disposition = 0;
    DWORD error = RegCreateKeyExA(HKEY_CURRENT_USER, VoiceKey, 0, nullptr, 0, KEY_READ | KEY_WRITE,
                                  nullptr, &key, &disposition);
    if (error != ERROR_SUCCESS)
        return error;
    *addedKey = disposition == REG_CREATED_NEW_KEY;
    *addedValue = false;
    if (RegQueryValueExA(key, UseSpeechValue, nullptr, nullptr, nullptr, nullptr) ==
        ERROR_FILE_NOT_FOUND) {
        error = SetNumber(key, UseSpeechValue, UseSpeechListening);
        *addedValue = error == ERROR_SUCCESS;
    }
    RegCloseKey(key);
    return error;
}

} // namespace

DWORD RegisterService()
{
    // What an earlier registration added stays recorded as added.
    DWORD addedBefore = 0, keyBefore = 0;
    GetNumber(HKEY_CLASSES_ROOT, ClassKey, AddedUseSpeech, &addedBefore);
    GetNumber(HKEY_CLASSES_ROOT, ClassKey, AddedVoiceKey, &keyBefore);

    HKEY key;
    DWORD error = RegCreateKeyExA(HKEY_CLASSES_ROOT, ClassKey, 0, nullptr, 0, KEY_WRITE, nullptr,
                                  &key, nullptr);
    if (error != ERROR_SUCCESS)
        return error;
    error = SetText(key, nullptr, ClassName);
    HKEY server;
    if (error == ERROR_SUCCESS)
        error = RegCreateKeyExA(key, "LocalServer32", 0, nullptr, 0, KEY_WRITE, nullptr, &server,
                                nullptr);
    if (error == ERROR_SUCCESS) {
        error = SetText(server, nullptr, "\"" + ProgramPath() + "\"");
        RegCloseKey(server);
    }
    bool addedKey = false, addedValue = false;
    if (error == ERROR_SUCCESS)
        error = AddUseSpeech(&addedKey, &addedValue);
    if (error == ERROR_SUCCESS)
        error = SetNumber(key, AddedUseSpeech, addedBefore || addedValue);
    if (error == ERROR_SUCCESS)
        error = SetNumber(key, AddedVoiceKey, keyBefore || addedKey);
    RegCloseKey(key);
    if (error == ERROR_SUCCESS)
        error = CallProxyDll("DllRegisterServer");
    return error;
}

DWORD UnregisterService()
{
    DWORD addedValue = 0, addedKey = 0, useSpeech = 0;
    GetNumber(HKEY_CLASSES_ROOT, ClassKey, AddedUseSpeech, &addedValue);
    GetNumber(HKEY_CLASSES_ROOT, ClassKey, AddedVoiceKey, &addedKey);
    // The setting goes only while it still holds what was added.
    if (addedValue &&
        GetNumber(HKEY_CURRENT_USER, VoiceKey, UseSpeechValue, &useSpeech) == ERROR_SUCCESS &&
        useSpeech == UseSpeechListening) {
        HKEY key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, VoiceKey, 0, KEY_WRITE, &key) == ERROR_SUCCESS) {
            RegDeleteValueA(key, UseSpeechValue);
            RegCloseKey(key);
        }
    }
    if (addedKey) {
        // Only when nothing else has been put there since.
        HKEY key;
        DWORD subkeys = 1, values = 1;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, VoiceKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
            RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                             nullptr, nullptr, nullptr, nullptr);
            RegCloseKey(key);
            if (subkeys == 0 && values == 0)
                RegDeleteKeyA(HKEY_CURRENT_USER, VoiceKey);
        }
    }
    const DWORD proxies = CallProxyDll("DllUnregisterServer");
    const DWORD error = DeleteTree(HKEY_CLASSES_ROOT, ClassKey);
    return error != ERROR_SUCCESS ? error : proxies;
}
