// recognise: decodes wave files against a list of phrases and prints one
// line per utterance: file, start and end in seconds, the phrase accepted
// ("-" for none), the score and what the grammar heard.
//
//   recognise [--model DIR] [--dict FILE] [--extra FILE] [--threshold T]
//             [--phrases FILE] FILE.wav...
//
// The phrase file holds one phrase a line, or is a resource script whose
// string table lines ("8001 \"Go Left\"") give them. On Windows the model and
// the dictionaries are looked for beside the program.
#include "voiced/recogniser/recogniser.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#ifdef _WIN32
#include <windows.h>
#endif

namespace {

#ifdef _WIN32
std::string ProgramDir()
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path, n);
    return s.substr(0, s.find_last_of("\\/") + 1);
}
#endif

void Print(void *context, const RecogniserUtterance &u)
{
    std::printf("%s\t%.2f\t%.2f\t%s\t%.4f\t%s\n", static_cast<const char *>(context), u.start,
                u.end, *u.phrase ? u.phrase : "-", u.score, u.heard);
}

} // namespace

int main(int argc, char **argv)
{
#ifdef _WIN32
    std::string dir = ProgramDir();
    std::string model = dir + "model\\en-us", dict = dir + "cmudict-en-us.dict",
                extra = dir + "nelko.dict", phraseFile = dir + "phrases.txt";
#else
    std::string model = NELKO_RECOGNISER_MODEL, dict = NELKO_RECOGNISER_DICT,
                extra = NELKO_RECOGNISER_EXTRA_DICT,
                phraseFile = NELKO_SOURCE_DIR "/resources/commands.rc";
#endif
    double threshold = RecogniserDefaultThreshold;
    std::vector<const char *> files;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        bool more = i + 1 < argc;
        if (a == "--model" && more)
            model = argv[++i];
        else if (a == "--dict" && more)
            dict = argv[++i];
        else if (a == "--extra" && more)
            extra = argv[++i];
        else if (a == "--phrases" && more)
            phraseFile = argv[++i];
        else if (a == "--threshold" && more)
            threshold = std::atof(argv[++i]);
        else if (a.size() > 1 && a[0] == '-') {
            std::fprintf(stderr, "usage: recognise [--model DIR] [--dict FILE] [--extra FILE] "
                                 "[--threshold T] [--phrases FILE] FILE.wav...\n");
            return 2;
        } else
            files.push_back(argv[i]);
    }
    Recogniser *r = RecogniserCreate(model.c_str(), dict.c_str(), extra.c_str());
    if (!r) {
        std::fprintf(stderr, "recognise: cannot load the model from %s\n", model.c_str());
        return 1;
    }
    std::vector<std::string> phrases = ReadPhraseFile(phraseFile.c_str());
    std::vector<std::string> unknown;
    if (phrases.empty() || !RecogniserSetPhrases(r, phrases, &unknown)) {
        std::fprintf(stderr, "recognise: no usable phrases in %s\n", phraseFile.c_str());
        RecogniserDestroy(r);
        return 1;
    }
    for (const std::string &w : unknown)
        std::fprintf(stderr, "recognise: no pronunciation for \"%s\"\n", w.c_str());
    RecogniserSetThreshold(r, threshold);
    int status = 0;
    for (const char *file : files) {
        std::vector<int16_t> samples;
        if (!LoadWave16k(file, &samples)) {
            std::fprintf(stderr, "recognise: cannot read %s\n", file);
            status = 1;
            continue;
        }
        RecogniserFeed(r, samples.data(), samples.size(), Print, const_cast<char *>(file));
        RecogniserFlush(r, Print, const_cast<char *>(file));
    }
    RecogniserDestroy(r);
    return status;
}
