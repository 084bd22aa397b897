// The asset generator: draws Nelko and writes the resource files into the
// folder given, or with --sheet the contact sheet's pictures.
#include "tools/assets.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

bool WriteAll(const std::string &folder, const std::vector<AssetFile> &files)
{
    for (const AssetFile &f : files) {
        std::string path = folder + "/" + f.name;
        FILE *out = std::fopen(path.c_str(), "wb");
        if (!out || std::fwrite(f.data.data(), 1, f.data.size(), out) != f.data.size()) {
            std::fprintf(stderr, "assetgen: cannot write %s\n", path.c_str());
            if (out)
                std::fclose(out);
            return false;
        }
        if (std::fclose(out) != 0) {
            std::fprintf(stderr, "assetgen: cannot write %s\n", path.c_str());
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    bool sheet = argc == 3 && std::strcmp(argv[1], "--sheet") == 0;
    if (argc != 2 && !sheet) {
        std::fprintf(stderr, "usage: assetgen FOLDER | assetgen --sheet FOLDER\n");
        return 2;
    }
    return WriteAll(argv[argc - 1], sheet ? BuildContactSheet() : BuildAssets()) ? 0 : 1;
}
