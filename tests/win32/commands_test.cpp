// The popup menu built from the string table, and the menu command dispatch.
#include "app/app.h"
#include "behaviour/behaviour.h"
#include "harness.h"
#include "resources/ids.h"
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

const char *const ShippedLabels[] = {"Random",    "Go Left",     "Go Right", "Run Left",
                                     "Run Right", "Go Up",       "Go Down",  "Wave",
                                     "Dance",     "About Nelko", "Bye Bye"};

// Reads the configuration and labels from another build's string table.
struct StringTable {
    explicit StringTable(const char *variant)
    {
        std::string path = variant ? harness::Variant(variant) : harness::CharacterProgram();
        module = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        AppInstance = module;
        // Reads strings 1, 10, 1003 and 1004; the class itself may already exist.
        RegisterMainClass(GetModuleHandleA(nullptr));
    }
    ~StringTable()
    {
        AppInstance = nullptr;
        UnregisterClassA("KOV_DesktopToyClass", GetModuleHandleA(nullptr));
        if (module)
            FreeLibrary(module);
    }
    HMODULE module;
};

struct Entry {
    UINT id;
    std::string label;
};

std::vector<Entry> MenuEntries(HMENU menu)
{
    std::vector<Entry> entries;
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        char label[128] = {};
        GetMenuStringA(menu, i, label, sizeof label, MF_BYPOSITION);
        entries.push_back({GetMenuItemID(menu, i), label});
    }
    return entries;
}

struct Dispatch : ::testing::Test {
    void SetUp() override
    {
        instance = GetModuleHandleA(nullptr);
        ASSERT_NE(RegisterMainClass(instance), 0);
        ASSERT_EQ(CreateMainWindow(instance, SW_SHOW), 1);
    }
    void TearDown() override
    {
        DestroyWindow(MainWindow);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        }
        UnregisterClassA("KOV_DesktopToyClass", instance);
    }
    HINSTANCE instance = nullptr;
};

} // namespace

TEST(PopupMenu, ShippedStringsGiveElevenEntriesInTableOrder)
{
    StringTable strings(nullptr);
    ASSERT_EQ(CommandCount, 11);
    EXPECT_EQ(BuildPopupMenu(), 1);
    std::vector<Entry> entries = MenuEntries(PopupMenu);
    ASSERT_EQ(entries.size(), 11u);
    for (UINT n = 0; n < entries.size(); ++n) {
        EXPECT_EQ(entries[n].id, IDM_COMMAND_FIRST + n);
        EXPECT_EQ(entries[n].label, ShippedLabels[n]);
    }
    DestroyMenu(PopupMenu);
}

TEST(PopupMenu, AlteredStringTables)
{
    struct Case {
        const char *variant;
        int result;
        size_t entries;
    } cases[] = {
        {"fivecommands", 1, 5}, // a count of 5 offers "Random" to "Run Right"
        {"no8005", 0, 5},       // a label missing part-way keeps the earlier entries
    };
    for (const Case &c : cases) {
        StringTable strings(c.variant);
        ASSERT_NE(strings.module, nullptr) << c.variant;
        EXPECT_EQ(BuildPopupMenu(), c.result) << c.variant;
        std::vector<Entry> entries = MenuEntries(PopupMenu);
        ASSERT_EQ(entries.size(), c.entries) << c.variant;
        EXPECT_EQ(entries.back().label, "Run Right") << c.variant;
        DestroyMenu(PopupMenu);
    }
}

TEST_F(Dispatch, RandomSetsBothFlagsAndAnyOtherEntryEndsRandomMode)
{
    RandomMode = PickNow = 0;
    SendMessageA(MainWindow, WM_COMMAND, IDM_COMMAND_FIRST + 0, 0);
    EXPECT_EQ(RandomMode, 1u);
    EXPECT_EQ(PickNow, 1u);

    SendMessageA(MainWindow, WM_COMMAND, IDM_COMMAND_FIRST + 8, 0); // "Dance"
    EXPECT_EQ(RandomMode, 0u);
    EXPECT_EQ(BehaviourState, Dancing);
}

TEST_F(Dispatch, IdentifiersOutsideTheTableAreIgnored)
{
    RandomMode = 1;
    BehaviourState = Idle;
    for (WPARAM id :
         {WPARAM(0), WPARAM(1999), WPARAM(2011), WPARAM(0x10000 + 2001), WPARAM(0xFFFFFFFF)}) {
        SendMessageA(MainWindow, WM_COMMAND, id, 0);
        EXPECT_EQ(RandomMode, 1u) << id;
        EXPECT_EQ(BehaviourState, Idle) << id;
    }
    // Without the window, a command still reaches its handler.
    EXPECT_EQ(RunCommand(11), 0);
    EXPECT_EQ(RunCommand(0xFFFFFFFF), 0);
}
