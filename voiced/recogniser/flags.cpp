// The recogniser's options as the tools' command lines name them.
#include "voiced/recogniser/flags.h"
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace {

using Setter = void (*)(RecogniserOptions &options, const char *value);

struct Flag {
    const char *name;
    Setter set;
};

const Flag Flags[] = {
    {"--model", [](RecogniserOptions &o, const char *v) { o.modelDir = v; }},
    {"--dict", [](RecogniserOptions &o, const char *v) { o.dictPath = v; }},
    {"--extra", [](RecogniserOptions &o, const char *v) { o.ownDictPath = v; }},
    {"--threshold", [](RecogniserOptions &o, const char *v) { o.threshold = std::atof(v); }},
    {"--lw", [](RecogniserOptions &o, const char *v) { o.languageWeight = std::atof(v); }},
    {"--chatter-margin",
     [](RecogniserOptions &o, const char *v) { o.chatterMargin = std::atof(v); }},
    {"--chatter-scale", [](RecogniserOptions &o, const char *v) { o.chatterScale = std::atof(v); }},
    {"--end-silence",
     [](RecogniserOptions &o, const char *v) { o.endSilenceSeconds = std::atof(v); }},
    {"--everyday-words", // a file of them, "" for none
     [](RecogniserOptions &o, const char *v) {
         o.everydayWords.clear();
         std::ifstream in(v);
         for (std::string w; in >> w;)
             o.everydayWords.push_back(w);
     }},
    {"--everyday-cost",
     [](RecogniserOptions &o, const char *v) { o.everydayWordCost = std::atof(v); }},
    {"--noisy-everyday-cost",
     [](RecogniserOptions &o, const char *v) { o.noisyEverydayWordCost = std::atof(v); }},
    {"--listen",
     [](RecogniserOptions &o, const char *v) {
         const std::string mode = v;
         o.listen = mode == "hold"   ? RecogniserListen::Hold
                    : mode == "name" ? RecogniserListen::Name
                                     : RecogniserListen::Always;
     }},
    {"--name", [](RecogniserOptions &o, const char *v) { o.name = v; }},
    {"--max-utterance",
     [](RecogniserOptions &o, const char *v) { o.maxUtteranceSeconds = std::atof(v); }},
};

} // namespace

const char RecogniserFlagsUsage[] =
    "[--model DIR] [--dict FILE] [--extra FILE] [--threshold T] "
    "[--lw W] [--chatter-margin DB] [--chatter-scale S] "
    "[--end-silence SECONDS] [--everyday-words FILE] [--everyday-cost P] "
    "[--noisy-everyday-cost P] [--max-utterance SECONDS] "
    "[--listen always|hold|name] [--name WORD]";

int ReadRecogniserFlag(int argc, char **argv, int *i, RecogniserOptions *options)
{
    if (*i + 1 >= argc)
        return 0;
    for (const Flag &flag : Flags)
        if (std::strcmp(argv[*i], flag.name) == 0) {
            flag.set(*options, argv[*i + 1]);
            *i += 1;
            return 1;
        }
    return 0;
}
