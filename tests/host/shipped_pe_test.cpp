// What the two release zips ship, read as files: where 32-bit programs
// cannot run, this is all the checking the win32 tree gets. Every program
// and DLL is a PE of its tree's processor and the right subsystem, imports
// only Windows' own DLLs, and carries the resources of its twin in the other
// tree byte for byte; both zips list the same files.
#include <gtest/gtest.h>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

typedef std::vector<uint8_t> Bytes;

const std::string Build = NELKO_SOURCE_DIR "/build/";

// A PE file's headers, imports and resources, read with every offset and
// size checked against the file: a malformed file gives ok == false.
struct Pe {
    bool ok = false;
    uint16_t machine = 0, magic = 0, subsystem = 0, characteristics = 0;
    std::set<std::string> imports;          // lower case
    std::map<std::string, Bytes> resources; // "type/name/language" -> data
};

struct Reader {
    const Bytes &file;
    struct Section {
        uint32_t va, size, raw;
    };
    std::vector<Section> sections;
    mutable int entriesLeft = 1 << 16; // a hostile tree's entries may all point at one

    bool U16(uint64_t at, uint16_t *out) const
    {
        if (at + 2 > file.size())
            return false;
        *out = static_cast<uint16_t>(file[at] | file[at + 1] << 8);
        return true;
    }
    bool U32(uint64_t at, uint32_t *out) const
    {
        uint16_t low, high;
        if (!U16(at, &low) || !U16(at + 2, &high))
            return false;
        *out = low | static_cast<uint32_t>(high) << 16;
        return true;
    }
    // The file offset of an address of the loaded image, if the file holds
    // size bytes there.
    bool Offset(uint32_t rva, uint64_t size, uint64_t *out) const
    {
        for (const Section &s : sections)
            if (rva >= s.va && uint64_t(rva) - s.va + size <= s.size) {
                *out = uint64_t(s.raw) + (rva - s.va);
                return *out + size <= file.size();
            }
        return false;
    }
    bool Name(uint32_t rva, std::string *out) const
    {
        uint64_t at;
        if (!Offset(rva, 1, &at))
            return false;
        out->clear();
        for (; at < file.size() && file[at] && out->size() < 256; ++at)
            out->push_back(static_cast<char>(tolower(file[at])));
        return at < file.size() && file[at] == 0;
    }
};

bool ReadImports(const Reader &r, uint32_t rva, Pe *pe)
{
    for (uint32_t entry = 0; rva != 0 && entry < 256; ++entry) {
        uint64_t at;
        uint32_t name, thunk;
        if (!r.Offset(rva + entry * 20, 20, &at) || !r.U32(at + 12, &name) ||
            !r.U32(at + 16, &thunk))
            return false;
        if (name == 0 && thunk == 0)
            return true;
        std::string dll;
        if (!r.Name(name, &dll))
            return false;
        pe->imports.insert(dll);
    }
    return rva == 0;
}

// One level of the resource tree (type, name, language); key names the path.
bool ReadResources(const Reader &r, uint64_t base, uint32_t dir, int level, const std::string &key,
                   Pe *pe)
{
    uint16_t named, ids;
    if (level > 2 || !r.U16(base + dir + 12, &named) || !r.U16(base + dir + 14, &ids))
        return false;
    for (uint32_t i = 0; i < uint32_t(named) + ids; ++i) {
        if (--r.entriesLeft < 0)
            return false;
        uint32_t id, target;
        const uint64_t entry = base + dir + 16 + 8 * uint64_t(i);
        if (!r.U32(entry, &id) || !r.U32(entry + 4, &target))
            return false;
        std::string part = std::to_string(id & 0x7FFFFFFF);
        if (id & 0x80000000) { // a name: its length, then UTF-16 (kept to the low bytes)
            uint16_t length, unit;
            if (!r.U16(base + (id & 0x7FFFFFFF), &length))
                return false;
            part = "\"";
            for (uint32_t c = 0; c < length; ++c)
                if (!r.U16(base + (id & 0x7FFFFFFF) + 2 + 2 * uint64_t(c), &unit))
                    return false;
                else
                    part += static_cast<char>(unit);
        }
        const std::string path = key.empty() ? part : key + "/" + part;
        if (target & 0x80000000) {
            if (!ReadResources(r, base, target & 0x7FFFFFFF, level + 1, path, pe))
                return false;
            continue;
        }
        uint32_t rva, size;
        uint64_t at;
        if (level != 2 || !r.U32(base + target, &rva) || !r.U32(base + target + 4, &size) ||
            !r.Offset(rva, size, &at))
            return false;
        pe->resources[path] = Bytes(r.file.begin() + at, r.file.begin() + at + size);
    }
    return true;
}

Pe ReadPe(const Bytes &file)
{
    Pe pe;
    Reader r{file, {}};
    uint32_t header, signature, dirs = 0, importRva = 0, resourceRva = 0;
    uint16_t sections, optionalSize;
    if (file.size() < 64 || file[0] != 'M' || file[1] != 'Z' || !r.U32(0x3C, &header) ||
        !r.U32(header, &signature) || signature != 0x4550 || !r.U16(header + 4, &pe.machine) ||
        !r.U16(header + 6, &sections) || !r.U16(header + 20, &optionalSize) ||
        !r.U16(header + 22, &pe.characteristics))
        return pe;
    const uint64_t optional = uint64_t(header) + 24;
    if (!r.U16(optional, &pe.magic) || !r.U16(optional + 68, &pe.subsystem))
        return pe;
    const uint64_t directory = optional + (pe.magic == 0x20B ? 112 : 96);
    if (!r.U32(directory - 4, &dirs) || dirs < 3 || !r.U32(directory + 8, &importRva) ||
        !r.U32(directory + 16, &resourceRva))
        return pe;
    for (uint32_t i = 0; i < sections; ++i) {
        const uint64_t at = optional + optionalSize + 40 * uint64_t(i);
        Reader::Section s;
        if (!r.U32(at + 12, &s.va) || !r.U32(at + 16, &s.size) || !r.U32(at + 20, &s.raw))
            return pe;
        r.sections.push_back(s);
    }
    uint64_t base = 0;
    pe.ok = ReadImports(r, importRva, &pe) &&
            (resourceRva == 0 ||
             (r.Offset(resourceRva, 16, &base) && ReadResources(r, base, 0, 0, "", &pe)));
    return pe;
}

Bytes ReadBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The programs and DLLs a tree ships (its release-files.txt).
std::vector<std::string> ShippedPrograms(const std::string &tree)
{
    std::vector<std::string> programs;
    std::ifstream list(Build + tree + "/release-files.txt");
    for (std::string line; std::getline(list, line);)
        if (line.size() > 4 && (line.compare(line.size() - 4, 4, ".exe") == 0 ||
                                line.compare(line.size() - 4, 4, ".dll") == 0))
            programs.push_back(line);
    return programs;
}

class Shipped : public ::testing::Test {
  protected:
    void SetUp() override
    {
        for (const char *tree : {"win32", "win64"})
            if (ShippedPrograms(tree).empty())
                GTEST_SKIP() << "build/" << tree << " is not built (./test builds both trees)";
    }
};

constexpr uint16_t Gui = 2, Console = 3, DllFlag = 0x2000;

TEST_F(Shipped, EveryProgramIsAPeOfItsTreesProcessorAndSubsystemImportingOnlyWindows)
{
    const struct {
        const char *tree;
        uint16_t machine, magic; // PE32 for i386, PE32+ for x86-64
    } trees[] = {{"win32", 0x14C, 0x10B}, {"win64", 0x8664, 0x20B}};
    // Windows' own DLLs; the compilers' runtime is linked in statically.
    const std::set<std::string> windows = {
        "kernel32.dll", "user32.dll", "gdi32.dll",  "advapi32.dll", "ole32.dll",   "oleaut32.dll",
        "rpcrt4.dll",   "winmm.dll",  "msvcrt.dll", "shell32.dll",  "comctl32.dll"};
    const std::map<std::string, uint16_t> subsystems = {{"nelko.exe", Gui},
                                                        {"Feedback.exe", Gui},
                                                        {"nelkovoice.exe", Gui},
                                                        {"vcmdps.dll", Console}};
    for (const auto &t : trees)
        for (const std::string &program : ShippedPrograms(t.tree)) {
            SCOPED_TRACE(std::string(t.tree) + "/" + program);
            const Pe pe = ReadPe(ReadBytes(Build + t.tree + "/" + program));
            ASSERT_TRUE(pe.ok) << "not a readable PE";
            EXPECT_EQ(pe.machine, t.machine);
            EXPECT_EQ(pe.magic, t.magic);
            ASSERT_EQ(subsystems.count(program), 1u) << "a new program: give its subsystem";
            EXPECT_EQ(pe.subsystem, subsystems.at(program));
            const bool dll = program.compare(program.size() - 4, 4, ".dll") == 0;
            EXPECT_EQ((pe.characteristics & DllFlag) != 0, dll);
            for (const std::string &import : pe.imports)
                EXPECT_EQ(windows.count(import), 1u) << "imports " << import;
        }
}

TEST_F(Shipped, The32BitProgramsCarryTheResourcesOfTheirX8664Twins)
{
    for (const std::string &program : ShippedPrograms("win32")) {
        SCOPED_TRACE(program);
        const Pe win32 = ReadPe(ReadBytes(Build + "win32/" + program));
        const Pe win64 = ReadPe(ReadBytes(Build + "win64/" + program));
        ASSERT_TRUE(win32.ok && win64.ok);
        EXPECT_FALSE(win32.resources.empty()) << "no version resource at least";
        for (const auto &resource : win64.resources)
            EXPECT_TRUE(win32.resources.count(resource.first))
                << "missing in the 32-bit build: " << resource.first;
        for (const auto &resource : win32.resources)
            EXPECT_TRUE(win64.resources.count(resource.first) &&
                        win64.resources.at(resource.first) == resource.second)
                << "differs from the x86-64 build: " << resource.first << " ("
                << resource.second.size() << " bytes)";
    }
}

std::vector<std::string> ZipListing(const std::string &zip)
{
    std::vector<std::string> names;
    if (FILE *pipe = popen(("unzip -Z1 '" + zip + "' 2>/dev/null").c_str(), "r")) {
        char line[4096];
        while (fgets(line, sizeof line, pipe))
            names.push_back(line);
        pclose(pipe);
    }
    return names;
}

TEST_F(Shipped, BothZipsListTheSameFiles)
{
    const std::string zip = Build + "release/nelko-" NELKO_VERSION "-";
    const std::vector<std::string> win32 = ZipListing(zip + "win32.zip");
    const std::vector<std::string> win64 = ZipListing(zip + "win64.zip");
    if (win32.empty() || win64.empty())
        GTEST_SKIP() << "the zips are not made (scripts/release.sh --no-build)";
    EXPECT_EQ(win32, win64);
}

// Cut short or with a size out of range, a file is refused or read in part,
// never read outside its bytes (the sanitizers watch).
TEST_F(Shipped, TheReaderStaysInsideAFileCutShortOrWithHostileSizes)
{
    const Bytes whole = ReadBytes(Build + "win32/nelko.exe");
    ASSERT_TRUE(ReadPe(whole).ok);
    for (size_t length = 0; length < whole.size(); length += 1 + whole.size() / 97)
        ReadPe(Bytes(whole.begin(), whole.begin() + length));
    EXPECT_FALSE(ReadPe(Bytes(whole.begin(), whole.begin() + whole.size() / 2)).ok);
    const uint32_t header = whole[0x3C] | whole[0x3D] << 8;
    // e_lfanew, the number of sections, the optional header's size, the
    // number of data directories (PE32).
    for (const uint32_t field : {0x3Cu, header + 6, header + 20, header + 24 + 92})
        for (const uint8_t value : {0x00, 0x7F, 0xFF}) {
            Bytes hostile = whole;
            hostile[field] = hostile[field + 1] = value;
            ReadPe(hostile);
        }
}

} // namespace
