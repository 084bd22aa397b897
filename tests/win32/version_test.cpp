// Every file the release ships carries Nelko's version resource: the product,
// the build's version and what the file is.
#include "harness.h"
#include <gtest/gtest.h>
#include <cstdio>
#include <vector>
#include <windows.h>

namespace {

struct Stamped {
    const char *file; // beside nelko.exe
    const char *description;
    DWORD type;
};
const Stamped Files[] = {
    {"nelko.exe", "Nelko, the desktop character", VFT_APP},
    {"nelkovoice.exe", "Nelko voice-command service", VFT_APP},
    {"Feedback.exe", "Voice Commands Feedback", VFT_APP},
    {"vcmdps.dll", "Nelko voice-command proxy/stub", VFT_DLL},
};

std::string Text(const std::vector<char> &info, const char *name)
{
    void *value = nullptr;
    UINT size = 0;
    const std::string path = std::string("\\StringFileInfo\\040904B0\\") + name;
    if (!VerQueryValueA(info.data(), path.c_str(), &value, &size) || size == 0)
        return "(none)";
    return std::string(static_cast<const char *>(value), size - 1);
}

TEST(Version, EveryShippedFileCarriesTheProductAndTheBuildsVersion)
{
    unsigned major = 0, minor = 0, patch = 0;
    ASSERT_EQ(sscanf(NELKO_VERSION, "%u.%u.%u", &major, &minor, &patch), 3);
    for (const Stamped &f : Files) {
        const std::string path = harness::TestDir() + "..\\..\\" + f.file;
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
        ASSERT_NE(size, 0u) << f.file << " has no version resource";
        std::vector<char> info(size);
        ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, info.data())) << f.file;
        EXPECT_EQ(Text(info, "ProductName"), "Nelko") << f.file;
        EXPECT_EQ(Text(info, "ProductVersion"), NELKO_VERSION) << f.file;
        EXPECT_EQ(Text(info, "FileVersion"), NELKO_VERSION) << f.file;
        EXPECT_EQ(Text(info, "FileDescription"), f.description) << f.file;
        EXPECT_EQ(Text(info, "OriginalFilename"), f.file);
        VS_FIXEDFILEINFO *fixed = nullptr;
        UINT fixedSize = 0;
        ASSERT_TRUE(
            VerQueryValueA(info.data(), "\\", reinterpret_cast<void **>(&fixed), &fixedSize));
        EXPECT_EQ(fixed->dwFileType, f.type) << f.file;
        EXPECT_EQ(HIWORD(fixed->dwProductVersionMS), major) << f.file;
        EXPECT_EQ(LOWORD(fixed->dwProductVersionMS), minor) << f.file;
        EXPECT_EQ(HIWORD(fixed->dwProductVersionLS), patch) << f.file;
    }
}

} // namespace
