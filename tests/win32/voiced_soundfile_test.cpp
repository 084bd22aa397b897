// A file to listen to is looked at on what its path opens: a plain file on a
// local drive passes; a device, a folder or nothing at all does not, however
// the path is spelt.
#include "common/win32.h"
#include "voiced/hub/soundfile.h"
#include <gtest/gtest.h>

namespace {

std::string TempFolder()
{
    char temp[MAX_PATH];
    const DWORD n = GetTempPathA(sizeof temp, temp);
    return std::string(temp, n < sizeof temp ? n : 0);
}

TEST(VoicedSoundFile, OnlyAPlainLocalFilePasses)
{
    const std::string folder = TempFolder();
    ASSERT_FALSE(folder.empty());
    const std::string clip =
        folder + "nelko-clip-" + std::to_string(GetCurrentProcessId()) + ".wav";
    {
        const ScopedHandle file(CreateFileA(clip.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(file);
    }
    struct Row {
        std::string path;
        const char *refusal; // nullptr: taken
        const char *why;
    } rows[] = {
        {clip, nullptr, "a plain file"},
        {folder + ".", "not a plain file", "a folder"},
        {folder + "NUL", "not a file: a device", "a device name inside a folder"},
        {"C:\\windows\\COM1.wav", "not a file: a device", "a serial port with an extension"},
        {folder + "nelko-no-such-clip.wav", "the file cannot be opened", "nothing there"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.why);
        const char *refusal = NotAPlainLocalFile(row.path);
        if (!row.refusal)
            EXPECT_EQ(refusal, nullptr) << refusal;
        else
            EXPECT_NE(refusal, nullptr) << "taken; expected: " << row.refusal;
    }
    // A superscript digit makes a device name too on Windows; wherever it
    // does not, there is no such file: refused either way.
    EXPECT_NE(NotAPlainLocalFile(folder + "COM\xB9"), nullptr);
    DeleteFileA(clip.c_str());
}

} // namespace
