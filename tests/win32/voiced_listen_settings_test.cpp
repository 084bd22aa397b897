// The hub's listening settings in the user's registry: what a fresh user
// reads, what is written back, and values another program (or an older
// hub) left that are no settings.
#include "voice_support.h"
#include "voiced/hub/settings.h"
#include <gtest/gtest.h>
#include <string>

namespace {

class ListenSettingsTest : public ::testing::Test {
  protected:
    void SetUp() override { RemoveValues(); }
    void TearDown() override { RemoveValues(); }
    static void RemoveValues()
    {
        HKEY key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, ListenSettingsKey, 0, KEY_WRITE, &key) !=
            ERROR_SUCCESS)
            return;
        for (const char *name : {ListenModeValue, HoldKeyValue, NameValue, SensitivityValue})
            RegDeleteValueA(key, name);
        RegCloseKey(key);
    }
    static void Set(const char *name, DWORD type, const void *data, DWORD size)
    {
        HKEY key;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, ListenSettingsKey, 0, nullptr, 0, KEY_WRITE,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExA(key, name, 0, type, static_cast<const BYTE *>(data), size);
        RegCloseKey(key);
    }
    static int Stored() // how many of the values exist
    {
        HKEY key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, ListenSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
            return 0;
        int stored = 0;
        for (const char *name : {ListenModeValue, HoldKeyValue, NameValue, SensitivityValue})
            stored +=
                RegQueryValueExA(key, name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
        RegCloseKey(key);
        return stored;
    }
    voicetest::SettingGuard guard; // the key as it was, and one test at a time
};

TEST_F(ListenSettingsTest, KeptAsWrittenAndDefaultsAreNotWritten)
{
    const ListenSettings defaults;
    EXPECT_TRUE(ReadListenSettings() == defaults);
    ASSERT_TRUE(WriteListenSettings(defaults));
    EXPECT_EQ(Stored(), 0) << "nothing the user did not change is written";

    ListenSettings chosen;
    chosen.mode = RecogniserListen::Hold;
    chosen.key = 0x91;
    chosen.name = "Hey Nelko";
    chosen.sensitivity = 0.4;
    ASSERT_TRUE(WriteListenSettings(chosen));
    const ListenSettings read = ReadListenSettings();
    EXPECT_TRUE(read == chosen) << int(read.mode) << " " << read.key << " " << read.name << " "
                                << read.sensitivity;

    chosen.mode = RecogniserListen::Name;
    ASSERT_TRUE(WriteListenSettings(chosen));
    EXPECT_EQ(ReadListenSettings().mode, RecogniserListen::Name);
    EXPECT_EQ(ReadListenSettings().name, "Hey Nelko") << "the others stay";
}

TEST_F(ListenSettingsTest, ValuesThatAreNoSettingsReadAsDefaults)
{
    const DWORD three = 3, letterA = 0x41, hundredOne = 101, one = 1;
    const uint64_t wide = 1;
    const std::string longName(40, 'n');
    const struct {
        const char *why, *name;
        DWORD type;
        const void *data;
        DWORD size;
    } rows[] = {
        {"no fourth mode", ListenModeValue, REG_DWORD, &three, 4},
        {"a mode as text", ListenModeValue, REG_SZ, "1", 2},
        {"a mode of 8 bytes", ListenModeValue, REG_QWORD, &wide, 8},
        {"a letter is no key to hold", HoldKeyValue, REG_DWORD, &letterA, 4},
        {"a key in 2 bytes", HoldKeyValue, REG_BINARY, "\x91\0", 2},
        {"an empty name", NameValue, REG_SZ, "", 1},
        {"a name with a digit", NameValue, REG_SZ, "nelko2", 7},
        {"a name longer than the box takes", NameValue, REG_SZ, longName.c_str(), 41},
        {"a name as a number", NameValue, REG_DWORD, &one, 4},
        {"over 100 percent", SensitivityValue, REG_DWORD, &hundredOne, 4},
        {"a sensitivity as text", SensitivityValue, REG_SZ, "40", 3},
    };
    const ListenSettings defaults;
    for (const auto &row : rows) {
        Set(row.name, row.type, row.data, row.size);
        EXPECT_TRUE(ReadListenSettings() == defaults) << row.why;
        RemoveValues();
    }
    // A name stored without its terminating null is still read whole.
    Set(NameValue, REG_SZ, "Hey Nelko", 9);
    EXPECT_EQ(ReadListenSettings().name, "Hey Nelko");
}

} // namespace
