// The release as a new user meets it: each zip scripts/release.sh made,
// unpacked and used in a fresh Wine prefix of each kind it is for. The win32
// zip in a 32-bit prefix and in a 64-bit (WoW64) one, where Nelko runs as a
// 32-bit program, and the win64 zip in a 64-bit prefix; where no 32-bit code
// runs, only the last. install.cmd, Nelko obeying a said and a heard command,
// then uninstall.cmd leaving the user's registry as it found it.
//
// The machine-wide classes: Windows shows a user's classes through
// HKEY_CLASSES_ROOT, Wine 8 does not (WINE-NOTES.md), and there the
// installation also writes a copy through HKEY_CLASSES_ROOT, which is the
// machine-wide classes. The test asks the prefix which kind of platform it
// is (a key made under HKCU\Software\Classes, looked for through HKCR): with
// the merged view, the machine-wide classes must never hold the class;
// without it, they may hold only the copy the user's installation recorded,
// and only until uninstall.cmd.
#include "voice.h"
#include <gtest/gtest.h>
#include <cstdlib>
#include <map>
#include <unistd.h>

using namespace e2e;

namespace {

constexpr int DecodeMs = 30000; // a recording decoded under Wine
const std::string ClassKey = "Software\\Classes\\CLSID\\{6D40D820-0BA7-11CE-A166-00AA004CD65C}";
const std::string Folder = "nelko-" NELKO_VERSION;

// A fresh prefix of one kind (win32 or win64) for the test's programs,
// removed afterwards.
class FreshPrefix {
  public:
    explicit FreshPrefix(const std::string &arch)
        : dir_(testing::TempDir() + "nelko-release-" + arch + "-" + std::to_string(getpid()))
    {
        for (const char *name : {"NELKO_WINEPREFIX", "NELKO_WINEARCH"})
            if (const char *value = getenv(name))
                saved_[name] = value;
        Run("rm -rf '" + dir_ + "' '" + dir_ + ".lock' '" + dir_ + "-files'");
        setenv("NELKO_WINEPREFIX", dir_.c_str(), 1);
        setenv("NELKO_WINEARCH", arch.c_str(), 1);
    }
    ~FreshPrefix()
    {
        for (const char *name : {"NELKO_WINEPREFIX", "NELKO_WINEARCH"})
            if (saved_.count(name))
                setenv(name, saved_[name].c_str(), 1);
            else
                unsetenv(name);
        Run("rm -rf '" + dir_ + "' '" + dir_ + ".lock' '" + dir_ + "-files'");
    }
    // Where the zip is unpacked.
    std::string Files() const { return dir_ + "-files"; }
    // Whether the prefix runs 32-bit programs beside 64-bit ones.
    bool WoW64() const { return access((dir_ + "/drive_c/windows/syswow64").c_str(), F_OK) == 0; }

  private:
    std::string dir_;
    std::map<std::string, std::string> saved_;
};

// A Wine program run to its end in the test's prefix: its exit code, and its
// output in *output (through a file: Wine's helpers keep what they inherit).
int Wine(const std::vector<std::string> &args, std::string *output = nullptr)
{
    const std::string file =
        testing::TempDir() + "nelko-release-output-" + std::to_string(getpid()) + ".txt";
    std::string command =
        "bash -c 'source \"" NELKO_SOURCE_DIR "/scripts/wine-env.sh\" && exec wine \"$@\"' wine";
    for (const std::string &arg : args)
        command += " '" + arg + "'";
    const int status = system((command + " </dev/null >'" + file + "' 2>&1").c_str());
    if (output)
        *output = ReadFile(file);
    unlink(file.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A zip and the kind of prefix it is unpacked in.
struct Use {
    const char *zip, *prefix;
};
std::string Name(const Use &use)
{
    return std::string(use.zip) + "ZipIn" + (std::string(use.prefix) == "win64" ? "64" : "32") +
           "BitPrefix";
}
void PrintTo(const Use &use, std::ostream *out)
{
    *out << Name(use);
}

// A value as reg.exe shows it (in the view of the registry Nelko sees: the
// 32-bit one, or the 64-bit one for the x86-64 build), "" for a default
// value, or "(none)".
std::string RegValue(const Use &use, const std::string &key, const std::string &name)
{
    std::string output;
    const std::vector<std::string> which =
        name.empty() ? std::vector<std::string>{"/ve"} : std::vector<std::string>{"/v", name};
    const std::string view = std::string(use.zip) == "win64" ? "/reg:64" : "/reg:32";
    std::vector<std::string> args = {"reg", "query", key, view};
    args.insert(args.end(), which.begin(), which.end());
    if (Wine(args, &output) != 0)
        return "(none)";
    for (const std::string &line : Lines(output)) {
        const size_t type = line.find("    REG_");
        if (type == std::string::npos || line.find(name.empty() ? "(Default)" : name) > type)
            continue;
        const size_t value = line.find("    ", type + 4);
        std::string text = value == std::string::npos ? "" : line.substr(value + 4);
        if (!text.empty() && text.back() == '\r')
            text.pop_back();
        return text;
    }
    return "(none)";
}

// The user's registry as `reg export HKCU` writes it: each key's lines.
// Left out, with the reason:
// - HKCU\Software\Wine: Wine's own bookkeeping (its explorer and its
//   window positions), not Windows' user settings.
// - HKCU\Volatile Environment: made anew at each log-on.
std::map<std::string, std::string> UserRegistry()
{
    const std::string file = testing::TempDir() + "nelko-release-hkcu.reg";
    std::map<std::string, std::string> keys;
    if (Wine({"reg", "export", "HKCU", "Z:" + file, "/y"}) != 0)
        return keys;
    const std::string text = Run("iconv -f UTF-16 -t UTF-8 '" + file + "' | tr -d '\\r'");
    unlink(file.c_str());
    std::string key;
    for (const std::string &line : Lines(text)) {
        if (line.rfind("[", 0) == 0)
            key = line;
        else if (!line.empty())
            keys[key] += line + "\n";
        else
            keys[key];
    }
    for (auto it = keys.begin(); it != keys.end();) {
        const bool volatileKey =
            it->first.rfind("[HKEY_CURRENT_USER\\Software\\Wine", 0) == 0 ||
            it->first.rfind("[HKEY_CURRENT_USER\\Volatile Environment", 0) == 0;
        it = volatileKey ? keys.erase(it) : std::next(it);
    }
    return keys;
}

// Whether HKEY_CLASSES_ROOT shows the user's classes (Windows) or not (Wine).
bool MergedView()
{
    const std::string probe = "NelkoMergeProbe" + std::to_string(getpid());
    Wine({"reg", "add", "HKCU\\Software\\Classes\\" + probe, "/f"});
    const bool merged = Wine({"reg", "query", "HKCR\\" + probe}) == 0;
    Wine({"reg", "delete", "HKCU\\Software\\Classes\\" + probe, "/f"});
    return merged;
}

class Release : public ::testing::TestWithParam<Use> {
  protected:
    std::string Program(const std::string &name) const { return home + "/" + name; }
    int Run(const std::string &program, const std::vector<std::string> &args)
    {
        return session.WaitExit(session.Start(program, args), ProgramMs);
    }
    // A command script as a double-click runs it.
    int Script(const std::string &name)
    {
        return Run("C:\\windows\\system32\\cmd.exe", {"/c", Clips::Windows(Program(name))});
    }
    int Voice(const std::vector<std::string> &args) { return Run(Program("nelkovoice.exe"), args); }

    std::string Reg(const std::string &key, const std::string &name)
    {
        return RegValue(GetParam(), key, name);
    }

    FreshPrefix prefix{GetParam().prefix}; // before the session, which makes the prefix
    Session session;
    Art art;
    std::string home = prefix.Files() + "/" + Folder;
};

TEST_P(Release, FromTheZipInstallForTheUserObeyAndUninstallCleanly)
{
    const std::string zip = EnvOr("NELKO_RELEASE_DIR", NELKO_RELEASE_DIR) + "/" + Folder + "-" +
                            GetParam().zip + ".zip";
    ASSERT_EQ(e2e::Run("unzip -q '" + zip + "' -d '" + prefix.Files() + "' && echo ok"), "ok\n")
        << "scripts/release.sh makes " << zip;
    for (const char *file : {"nelko.exe", "nelkovoice.exe", "Feedback.exe", "vcmdps.dll",
                             "model/en-us/mdef", "cmudict-en-us.dict", "nelko.dict", "install.cmd",
                             "uninstall.cmd", "README.txt", "NOTICES.txt"})
        EXPECT_EQ(access(Program(file).c_str(), R_OK), 0) << file << " is not in the zip";

    ASSERT_EQ(prefix.WoW64(), std::string(GetParam().prefix) == "win64") << "the prefix's kind";
    const std::map<std::string, std::string> before = UserRegistry();
    ASSERT_FALSE(before.empty());
    ASSERT_EQ(Script("install.cmd"), 0);

    // The user's classes hold the class (the machine-wide ones are checked
    // at the end, once the platform's view has been asked for).
    EXPECT_EQ(Reg("HKCU\\" + ClassKey, "NelkoRegistration"), "user");
    EXPECT_NE(Reg("HKCU\\" + ClassKey + "\\LocalServer32", "").find(Folder + "\\nelkovoice.exe"),
              std::string::npos);
    const std::string machine = Reg("HKLM\\" + ClassKey, "NelkoRegistration");
    const std::string copied = Reg("HKCU\\" + ClassKey, "NelkoCopiedToClassesRoot");

    // Nelko hears a said phrase and a recording.
    auto nelko = std::make_unique<Character>(session, Program("nelko.exe"));
    ASSERT_TRUE(session.WaitFor([&] { return Voice({"/list"}) == 0; }, 20000))
        << "the hub never listed Nelko's commands";
    ASSERT_TRUE(nelko->WaitForRest(art));
    Rect start = nelko->Where();
    ASSERT_EQ(Voice({"/say", "Go Left"}), 0);
    EXPECT_TRUE(Moved(*nelko, art, start, -96, 0));
    start = nelko->Where();
    ASSERT_EQ(Voice({"/listen", Clips::Windows(Clips::Get().Say("go right"))}), 0);
    EXPECT_TRUE(session.WaitFor([&] { return nelko->Where().x != start.x; }, DecodeMs))
        << "the recording ran nothing";
    EXPECT_TRUE(Moved(*nelko, art, start, 96, 0));
    ASSERT_EQ(Voice({"/say", "Bye Bye"}), 0);
    EXPECT_EQ(nelko->Exit(), 0);

    ASSERT_EQ(Script("uninstall.cmd"), 0);
    EXPECT_EQ(Reg("HKLM\\" + ClassKey, "NelkoRegistration"), "(none)");
    const std::map<std::string, std::string> after = UserRegistry();
    for (const auto &key : after)
        EXPECT_TRUE(before.count(key.first) && before.at(key.first) == key.second)
            << "left behind or changed: " << key.first << "\n"
            << key.second;
    for (const auto &key : before)
        EXPECT_TRUE(after.count(key.first)) << "removed: " << key.first;

    // The machine-wide classes held at most the recorded copy, and only on
    // a platform that does not show the user's classes. (Asked last: the
    // probe may leave HKCU\Software\Classes behind.)
    const bool merged = MergedView();
    EXPECT_EQ(machine, merged ? "(none)" : "user copy") << (merged ? "merged view" : "Wine's view");
    EXPECT_EQ(copied, merged ? "0x0" : "0x1");
}

// Where no 32-bit code runs, only the 64-bit prefix can be made, and only
// the x86-64 programs run in it.
std::vector<Use> Uses()
{
    if (WindowsTree() == "win64")
        return {{"win64", "win64"}};
    return {{"win32", "win32"}, {"win32", "win64"}, {"win64", "win64"}};
}

INSTANTIATE_TEST_SUITE_P(Zip, Release, ::testing::ValuesIn(Uses()),
                         [](const ::testing::TestParamInfo<Use> &info) {
                             return Name(info.param);
                         });

} // namespace
