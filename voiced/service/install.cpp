// Installation of the service: the class as a local server, the proxy/stub
// DLL beside the program, and the speech setting when the user has none.
//
// A user's installation goes to HKCU\Software\Classes and needs no
// administrator. Windows shows those classes through HKEY_CLASSES_ROOT, where
// COM looks for them; Wine 8 does not (its HKEY_CLASSES_ROOT is the
// machine-wide classes alone). So the class is looked up through
// HKEY_CLASSES_ROOT once written, and where the user's copy is not what shows
// there, the class and the proxies are written through HKEY_CLASSES_ROOT as
// well. A machine-wide installation goes to HKLM\Software\Classes.
//
// Each installation records in its own class key what it added (the copy,
// the user's keys it created on the way, the speech setting), and
// unregistering removes exactly that.
#include "voiced/service/install.h"
#include "common/win32.h"
#include "idl/vcmd.h"
#include <aclapi.h>
#include <sddl.h>
#include <string>
#include <vector>

namespace {

const char ClassKey[] = "CLSID\\{6D40D820-0BA7-11CE-A166-00AA004CD65C}";
const char ClassName[] = "Voice Commands";
const char ProxyDll[] = "vcmdps.dll";
const char VoiceKey[] = "Software\\Voice";
const char UseSpeechValue[] = "UseSpeech";
constexpr DWORD UseSpeechListening = 2;

// Kept under the class key: which installation wrote it, and what it added.
const char RegistrationValue[] = "NelkoRegistration";
const char ForUser[] = "user";
const char ForMachine[] = "machine";
const char UserCopy[] = "user copy"; // written through HKEY_CLASSES_ROOT for a user
const char AddedUseSpeech[] = "NelkoAddedUseSpeech";
const char AddedVoiceKey[] = "NelkoAddedVoiceKey";
const char AddedUserKeys[] = "NelkoAddedKeys"; // bit i: UserKeys[i] was created
const char CopiedValue[] = "NelkoCopiedToClassesRoot";

// The user's keys an installation may create on the way to its own, deepest
// first. Removed again when it created them and they are empty.
const char *const UserKeys[] = {"Software\\Classes\\CLSID", "Software\\Classes\\Interface",
                                "Software\\Classes"};
constexpr DWORD UserKeyCount = sizeof UserKeys / sizeof UserKeys[0];

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
    RegistryKey key;
    DWORD error = RegOpenKeyExA(root, path, 0, KEY_READ, key.Put());
    if (error != ERROR_SUCCESS)
        return error;
    error =
        RegQueryValueExA(key.Get(), name, nullptr, &type, reinterpret_cast<BYTE *>(value), &size);
    if (error == ERROR_SUCCESS && (type != REG_DWORD || size != sizeof *value))
        error = ERROR_INVALID_DATA;
    return error;
}

bool KeyExists(HKEY root, const char *path)
{
    RegistryKey key;
    return RegOpenKeyExA(root, path, 0, KEY_READ, key.Put()) == ERROR_SUCCESS;
}

// The keys an installation writes under a classes root: the class, and for
// each interface its Interface key and (the proxy/stub DLL names its factory
// after one of them) a CLSID key of the same id.
std::vector<std::string> OwnedKeys()
{
    std::vector<std::string> keys{ClassKey};
    for (const IID *iid : {&IID_IVoiceCmdA, &IID_IVCmdMenuA, &IID_IVCmdAttributesA,
                           &IID_IVCmdDialogsA, &IID_IVCmdNotifySinkA}) {
        wchar_t wide[40];
        char text[40];
        StringFromGUID2(*iid, wide, 40);
        WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof text, nullptr, nullptr);
        keys.push_back(std::string("Interface\\") + text);
        keys.push_back(std::string("CLSID\\") + text);
    }
    return keys;
}

// A key's NelkoRegistration, "" when it has none or is not there.
std::string MarkOf(HKEY root, const std::string &path)
{
    char text[32] = {};
    DWORD size = sizeof text - 1, type = 0;
    RegistryKey key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key.Put()) != ERROR_SUCCESS ||
        RegQueryValueExA(key.Get(), RegistrationValue, nullptr, &type,
                         reinterpret_cast<BYTE *>(text), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return "";
    return std::string(text, strnlen(text, size));
}

// Whether a key under root is this system's to write or delete: it carries
// the mark. A key another program wrote over one of ours (deleted and made
// again) has none, and is left to it.
bool Ours(HKEY root, const std::string &path)
{
    return !MarkOf(root, path).empty();
}

// The first owned key under root that another program wrote, "" for none.
std::string ForeignKey(HKEY root)
{
    for (const std::string &path : OwnedKeys())
        if (KeyExists(root, path.c_str()) && !Ours(root, path))
            return path;
    return "";
}

// Marks every owned key under root that is there (after writing them).
DWORD MarkOwned(HKEY root, const char *registration)
{
    for (const std::string &path : OwnedKeys()) {
        RegistryKey key;
        if (RegOpenKeyExA(root, path.c_str(), 0, KEY_WRITE, key.Put()) != ERROR_SUCCESS)
            continue;
        const DWORD error = SetText(key.Get(), RegistrationValue, registration);
        if (error != ERROR_SUCCESS)
            return error;
    }
    return ERROR_SUCCESS;
}

// Deletes a key and everything under it.
DWORD DeleteTree(HKEY root, const std::string &path)
{
    RegistryKey key;
    DWORD error = RegOpenKeyExA(root, path.c_str(), 0, KEY_READ | KEY_WRITE, key.Put());
    if (error == ERROR_FILE_NOT_FOUND)
        return ERROR_SUCCESS;
    if (error != ERROR_SUCCESS)
        return error;
    char child[256];
    for (;;) {
        DWORD size = sizeof child;
        if (RegEnumKeyExA(key.Get(), 0, child, &size, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        error = DeleteTree(key.Get(), child);
        if (error != ERROR_SUCCESS)
            break;
    }
    key.Reset(); // closed before it is deleted
    return error == ERROR_SUCCESS ? RegDeleteKeyA(root, path.c_str()) : error;
}

// Deletes the owned keys under root that carry the given mark.
DWORD DeleteOwned(HKEY root, const char *registration)
{
    if (MarkOf(root, ClassKey) != registration)
        return ERROR_SUCCESS;
    DWORD error = ERROR_SUCCESS;
    for (const std::string &path : OwnedKeys()) {
        if (path == ClassKey || MarkOf(root, path) != registration)
            continue;
        const DWORD deleted = DeleteTree(root, path);
        error = error == ERROR_SUCCESS ? deleted : error;
    }
    const DWORD deleted = DeleteTree(root, ClassKey); // last: it vouches for the rest
    return error == ERROR_SUCCESS ? deleted : error;
}

// Deletes a key that holds nothing.
void DeleteIfEmpty(HKEY root, const char *path)
{
    DWORD subkeys = 1, values = 1;
    {
        RegistryKey key;
        if (RegOpenKeyExA(root, path, 0, KEY_READ, key.Put()) != ERROR_SUCCESS)
            return;
        RegQueryInfoKeyA(key.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                         nullptr, nullptr, nullptr, nullptr);
    }
    if (subkeys == 0 && values == 0)
        RegDeleteKeyA(root, path);
}

// Calls DllRegisterServer or DllUnregisterServer of the proxy/stub DLL. The
// DLL writes through HKEY_CLASSES_ROOT: for classes elsewhere, that is
// pointed at them for the call.
DWORD CallProxyDll(const char *entry, HKEY classes)
{
    const std::string path = ProgramFolder() + ProxyDll;
    HMODULE dll = LoadLibraryA(path.c_str());
    if (!dll)
        return GetLastError();
    typedef HRESULT(STDAPICALLTYPE * Entry)();
    Entry call = reinterpret_cast<Entry>(reinterpret_cast<void *>(GetProcAddress(dll, entry)));
    const bool redirect = classes != HKEY_CLASSES_ROOT;
    DWORD error = redirect ? RegOverridePredefKey(HKEY_CLASSES_ROOT, classes) : ERROR_SUCCESS;
    if (error == ERROR_SUCCESS) {
        const HRESULT result = call ? call() : HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
        error = SUCCEEDED(result) ? ERROR_SUCCESS : static_cast<DWORD>(result);
    }
    if (redirect)
        RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
    FreeLibrary(dll);
    return error;
}

// The class key with its name, its server and who wrote it.
DWORD WriteClass(HKEY classes, const char *registration, HKEY *key)
{
    DWORD error =
        RegCreateKeyExA(classes, ClassKey, 0, nullptr, 0, KEY_WRITE, nullptr, key, nullptr);
    if (error != ERROR_SUCCESS)
        return error;
    error = SetText(*key, nullptr, ClassName);
    if (error == ERROR_SUCCESS)
        error = SetText(*key, RegistrationValue, registration);
    RegistryKey server;
    if (error == ERROR_SUCCESS)
        error = RegCreateKeyExA(*key, "LocalServer32", 0, nullptr, 0, KEY_WRITE, nullptr,
                                server.Put(), nullptr);
    if (error == ERROR_SUCCESS)
        error = SetText(server.Get(), nullptr, "\"" + ProgramFile() + "\"");
    return error;
}

// UseSpeech 2 when the user has no value; never overwrites one. Reports what
// it added.
DWORD AddUseSpeech(bool *addedKey, bool *addedValue)
{
    RegistryKey key;
    DWORD disposition = 0;
    DWORD error = RegCreateKeyExA(HKEY_CURRENT_USER, VoiceKey, 0, nullptr, 0, KEY_READ | KEY_WRITE,
                                  nullptr, key.Put(), &disposition);
    if (error != ERROR_SUCCESS)
        return error;
    *addedKey = disposition == REG_CREATED_NEW_KEY;
    *addedValue = false;
    if (RegQueryValueExA(key.Get(), UseSpeechValue, nullptr, nullptr, nullptr, nullptr) ==
        ERROR_FILE_NOT_FOUND) {
        error = SetNumber(key.Get(), UseSpeechValue, UseSpeechListening);
        *addedValue = error == ERROR_SUCCESS;
    }
    return error;
}

// Takes back the setting while it still holds what was added, and the key
// when it was added and nothing else has been put there since.
void RemoveUseSpeech(DWORD addedValue, DWORD addedKey)
{
    DWORD useSpeech = 0;
    if (addedValue &&
        GetNumber(HKEY_CURRENT_USER, VoiceKey, UseSpeechValue, &useSpeech) == ERROR_SUCCESS &&
        useSpeech == UseSpeechListening) {
        RegistryKey key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, VoiceKey, 0, KEY_WRITE, key.Put()) == ERROR_SUCCESS)
            RegDeleteValueA(key.Get(), UseSpeechValue);
    }
    if (addedKey)
        DeleteIfEmpty(HKEY_CURRENT_USER, VoiceKey);
}

// ERROR_ALREADY_EXISTS with why, when another program wrote one of the keys
// an installation writes under root: those are never overwritten.
DWORD RefuseForeign(HKEY root, std::string *why)
{
    const std::string foreign = ForeignKey(root);
    if (foreign.empty())
        return ERROR_SUCCESS;
    if (why)
        *why = "another program's " + foreign + " is registered (it has no " + RegistrationValue +
               " value); it is left as it is";
    return ERROR_ALREADY_EXISTS;
}

// Why standard users could change the program in folder, or null. Any write
// to the folder (a file added, data written or appended, its security or
// owner changed) by Users, Authenticated Users, Everyone or INTERACTIVE.
//
// Wine makes the DACL up from the unix mode: the owner and SYSTEM get full
// access, Everyone read and execute (0x1200a9), or write as well (0x1301ff)
// where the folder is writable by others, which is then refused here.
const char *WritableByUsers(const std::string &folder)
{
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoA(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
        return "its permissions cannot be read";
    const char *why = dacl ? nullptr : "it has no access list: everyone may write to it";
    const DWORD writes = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_ADD_SUBDIRECTORY | WRITE_DAC |
                         WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
    static const char *const users[] = {"S-1-5-32-545", "S-1-5-11", "S-1-1-0", "S-1-5-4"};
    for (DWORD i = 0; dacl && !why && i < dacl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE *ace = nullptr;
        if (!GetAce(dacl, i, reinterpret_cast<void **>(&ace)) ||
            ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE ||
            (ace->Header.AceFlags & INHERIT_ONLY_ACE) || !(ace->Mask & writes))
            continue;
        for (const char *text : users) {
            PSID sid = nullptr;
            if (ConvertStringSidToSidA(text, &sid) && EqualSid(sid, &ace->SidStart))
                why = "standard users may write to it";
            LocalFree(sid);
        }
    }
    LocalFree(descriptor);
    return why;
}

// COM reads HKEY_CLASSES_ROOT: where the user's class does not show there
// (and no machine-wide one does), a copy goes where it reads, unless another
// program's keys are there.
DWORD CopyToClassesRoot(std::string *why, bool *copy)
{
    const std::string shown = MarkOf(HKEY_CLASSES_ROOT, ClassKey);
    *copy = shown != ForUser && shown != ForMachine;
    if (!*copy)
        return ERROR_SUCCESS;
    DWORD error = RefuseForeign(HKEY_CLASSES_ROOT, why);
    RegistryKey copied;
    if (error == ERROR_SUCCESS)
        error = WriteClass(HKEY_CLASSES_ROOT, UserCopy, copied.Put());
    if (error == ERROR_SUCCESS)
        error = CallProxyDll("DllRegisterServer", HKEY_CLASSES_ROOT);
    return error == ERROR_SUCCESS ? MarkOwned(HKEY_CLASSES_ROOT, UserCopy) : error;
}

// The scope's classes: created for registering, opened for unregistering.
DWORD OpenClasses(InstallScope scope, bool create, HKEY *classes)
{
    const HKEY root = scope == InstallScope::User ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    const char path[] = "Software\\Classes";
    if (!create)
        return RegOpenKeyExA(root, path, 0, KEY_READ | KEY_WRITE, classes);
    return RegCreateKeyExA(root, path, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, classes,
                           nullptr);
}

} // namespace

DWORD RegisterService(InstallScope scope, std::string *why)
{
    const bool user = scope == InstallScope::User;
    const char *registration = user ? ForUser : ForMachine;
    // The user's keys that are there before anything is written.
    DWORD existed = 0;
    for (DWORD i = 0; user && i < UserKeyCount; ++i)
        existed |= KeyExists(HKEY_CURRENT_USER, UserKeys[i]) ? 1u << i : 0;
    RegistryKey classes;
    DWORD error = OpenClasses(scope, true, classes.Put());
    if (error != ERROR_SUCCESS)
        return error;
    if (const DWORD foreign = RefuseForeign(classes.Get(), why))
        return foreign;
    // Every user's programs would start this one: a folder they may write
    // to would let any of them replace it.
    if (const char *writable = user ? nullptr : WritableByUsers(ProgramFolder())) {
        if (why)
            *why = "the folder " + ProgramFolder() + " is not safe for every user: " + writable;
        return ERROR_ACCESS_DENIED;
    }

    // What an earlier registration added stays recorded as added.
    DWORD addedBefore = 0, keyBefore = 0, keysBefore = 0;
    GetNumber(classes.Get(), ClassKey, AddedUseSpeech, &addedBefore);
    GetNumber(classes.Get(), ClassKey, AddedVoiceKey, &keyBefore);
    GetNumber(classes.Get(), ClassKey, AddedUserKeys, &keysBefore);

    RegistryKey key;
    error = WriteClass(classes.Get(), registration, key.Put());
    bool addedKey = false, addedValue = false;
    if (error == ERROR_SUCCESS)
        error = AddUseSpeech(&addedKey, &addedValue);
    if (error == ERROR_SUCCESS)
        error = SetNumber(key.Get(), AddedUseSpeech, addedBefore || addedValue);
    if (error == ERROR_SUCCESS)
        error = SetNumber(key.Get(), AddedVoiceKey, keyBefore || addedKey);
    if (error == ERROR_SUCCESS)
        error = CallProxyDll("DllRegisterServer", classes.Get());
    if (error == ERROR_SUCCESS)
        error = MarkOwned(classes.Get(), registration);
    if (error != ERROR_SUCCESS || !user)
        return error;

    bool copy = false;
    error = CopyToClassesRoot(why, &copy);
    DWORD created = keysBefore;
    for (DWORD i = 0; i < UserKeyCount; ++i)
        created |= !(existed & 1u << i) && KeyExists(HKEY_CURRENT_USER, UserKeys[i]) ? 1u << i : 0;
    const DWORD recorded = SetNumber(key.Get(), AddedUserKeys, created);
    error = error == ERROR_SUCCESS ? recorded : error;
    if (error == ERROR_SUCCESS)
        error = SetNumber(key.Get(), CopiedValue, copy);
    return error;
}

DWORD UnregisterService(InstallScope scope)
{
    const bool user = scope == InstallScope::User;
    const char *registration = user ? ForUser : ForMachine;
    RegistryKey classes;
    DWORD error = OpenClasses(scope, false, classes.Put());
    if (error == ERROR_FILE_NOT_FOUND)
        return ERROR_SUCCESS; // nothing was ever installed there
    if (error != ERROR_SUCCESS)
        return error;
    if (MarkOf(classes.Get(), ClassKey) != registration)
        return ERROR_SUCCESS; // not installed here, or another program's class
    DWORD addedValue = 0, addedKey = 0, addedKeys = 0, copied = 0;
    GetNumber(classes.Get(), ClassKey, AddedUseSpeech, &addedValue);
    GetNumber(classes.Get(), ClassKey, AddedVoiceKey, &addedKey);
    GetNumber(classes.Get(), ClassKey, AddedUserKeys, &addedKeys);
    GetNumber(classes.Get(), ClassKey, CopiedValue, &copied);
    RemoveUseSpeech(addedValue, addedKey);

    // The copy goes only while it is still the one this installation wrote.
    const DWORD copyError = user && copied ? DeleteOwned(HKEY_CLASSES_ROOT, UserCopy) : 0;
    error = DeleteOwned(classes.Get(), registration);
    classes.Reset();
    for (DWORD i = 0; user && i < UserKeyCount; ++i)
        if (addedKeys & 1u << i)
            DeleteIfEmpty(HKEY_CURRENT_USER, UserKeys[i]);
    return error != ERROR_SUCCESS ? error : copyError;
}
