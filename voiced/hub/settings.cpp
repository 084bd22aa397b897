// The listening settings in the registry.
#include "voiced/hub/settings.h"
#include "common/win32.h"
#include <cmath>

const char ListenSettingsKey[] = "Software\\Voice";
const char ListenModeValue[] = "FeedbackListen"; // 0 always, 1 hold, 2 name
const char HoldKeyValue[] = "FeedbackHoldKey";   // a virtual-key code of HoldKeys
const char NameValue[] = "FeedbackName";
const char SensitivityValue[] = "FeedbackSensitivity"; // percent

namespace {

bool ReadNumber(HKEY key, const char *name, DWORD *value)
{
    DWORD type = 0, size = sizeof *value;
    return RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE *>(value), &size) ==
               ERROR_SUCCESS &&
           type == REG_DWORD && size == sizeof *value;
}

bool ReadText(HKEY key, const char *name, std::string *value)
{
    char text[MaxListenNameLength * 2 + 1] = {};
    DWORD type = 0, size = sizeof text - 1;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE *>(text), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        return false;
    *value = text; // up to its first null, which the stored size may lack
    return true;
}

DWORD Percent(double sensitivity)
{
    return static_cast<DWORD>(std::lround(sensitivity * 100));
}

} // namespace

ListenSettings ReadListenSettings()
{
    ListenSettings settings;
    RegistryKey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, ListenSettingsKey, 0, KEY_READ, key.Put()) !=
        ERROR_SUCCESS)
        return settings;
    DWORD number;
    if (ReadNumber(key.Get(), ListenModeValue, &number) && number <= DWORD(RecogniserListen::Name))
        settings.mode = static_cast<RecogniserListen>(number);
    if (ReadNumber(key.Get(), HoldKeyValue, &number) && FindHoldKey(number))
        settings.key = number;
    std::string name;
    if (ReadText(key.Get(), NameValue, &name) && !RecognisedName(name).empty())
        settings.name = name;
    if (ReadNumber(key.Get(), SensitivityValue, &number) && number <= 100)
        settings.sensitivity = number / 100.0;
    return settings;
}

bool WriteListenSettings(const ListenSettings &settings)
{
    const ListenSettings kept = ReadListenSettings();
    if (settings == kept)
        return true;
    RegistryKey key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, ListenSettingsKey, 0, nullptr, 0, KEY_WRITE, nullptr,
                        key.Put(), nullptr) != ERROR_SUCCESS)
        return false;
    const struct {
        const char *name;
        bool changed;
        DWORD value;
    } numbers[] = {
        {ListenModeValue, settings.mode != kept.mode, DWORD(settings.mode)},
        {HoldKeyValue, settings.key != kept.key, settings.key},
        {SensitivityValue, Percent(settings.sensitivity) != Percent(kept.sensitivity),
         Percent(settings.sensitivity)},
    };
    bool written = true;
    for (const auto &number : numbers)
        if (number.changed)
            written = RegSetValueExA(key.Get(), number.name, 0, REG_DWORD,
                                     reinterpret_cast<const BYTE *>(&number.value),
                                     sizeof number.value) == ERROR_SUCCESS &&
                      written;
    if (settings.name != kept.name)
        written = RegSetValueExA(key.Get(), NameValue, 0, REG_SZ,
                                 reinterpret_cast<const BYTE *>(settings.name.c_str()),
                                 DWORD(settings.name.size() + 1)) == ERROR_SUCCESS &&
                  written;
    return written;
}
