// recognise: decodes wave files against a list of phrases and prints one
// line per utterance, tab-separated: file, start and end in seconds, the
// phrase accepted ("-" for none), the score, what the grammar heard and,
// with --why, what each check found and which refused it. With --listen
// hold, each file is decoded as one hold of the key. With --pieces MS each
// file is fed in pieces of MS milliseconds, as the hub's microphone feeds
// it, rather than whole.
//
//   recognise [--why] [--pieces MS] [--phrases FILE] [RECOGNISER FLAGS] FILE.wav...
//
// The recogniser's flags are those of RecogniserFlagsUsage (flags.h):
// --model DIR, --dict FILE, --extra FILE, --threshold T, ...
// The phrase file holds one phrase a line, or is a resource script whose
// string table lines ("8001 \"Go Left\"") give them. On Windows the model and
// the dictionaries are looked for beside the program.
#include "voiced/recogniser/checks.h"
#include "voiced/recogniser/flags.h"
#include "voiced/recogniser/lexicon.h"
#include "voiced/recogniser/wave.h"
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#ifdef _WIN32
#include "common/win32.h"
#endif

namespace {

// What a line names: the file, and whether the checks go with it.
struct Printing {
    const char *file;
    bool why;
};

void Print(void *context, const RecogniserUtterance &u)
{
    const Printing *p = static_cast<const Printing *>(context);
    std::printf("%s\t%.2f\t%.2f\t%s\t%.4f\t%s", p->file, u.start, u.end, *u.phrase ? u.phrase : "-",
                u.checks.score, u.heard);
    if (p->why)
        std::printf("\t%s", RecogniserChecksText(u.checks, u.threshold).c_str());
    std::printf("\n");
}

// The options and the phrase file a run starts from.
RecogniserOptions Defaults(std::string *phraseFile)
{
#ifdef _WIN32
    const std::string dir = ProgramFolder();
    *phraseFile = dir + "phrases.txt";
    return {dir + "model\\en-us", dir + "cmudict-en-us.dict", dir + "nelko.dict"};
#else
    *phraseFile = NELKO_SOURCE_DIR "/resources/commands.rc";
    return {NELKO_RECOGNISER_MODEL, NELKO_RECOGNISER_DICT, NELKO_RECOGNISER_EXTRA_DICT};
#endif
}

} // namespace

int main(int argc, char **argv)
{
    std::string phraseFile;
    RecogniserOptions options = Defaults(&phraseFile);
    std::vector<const char *> files;
    bool why = false;
    size_t piece = 0; // samples per piece fed, 0 for the whole file
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        if (ReadRecogniserFlag(argc, argv, &i, &options))
            continue;
        if (a == "--why")
            why = true;
        else if (a == "--pieces" && i + 1 < argc)
            piece = size_t(std::max(0, std::atoi(argv[++i]))) * RecogniserRate / 1000;
        else if (a == "--phrases" && i + 1 < argc)
            phraseFile = argv[++i];
        else if (a.size() > 1 && a[0] == '-') {
            std::fprintf(stderr,
                         "usage: recognise [--why] [--pieces MS] [--phrases FILE] %s FILE.wav...\n",
                         RecogniserFlagsUsage);
            return 2;
        } else
            files.push_back(argv[i]);
    }
    Recogniser *r = RecogniserCreate(options);
    if (!r) {
        std::fprintf(stderr, "recognise: cannot load the model from %s\n",
                     options.modelDir.c_str());
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
    int status = 0;
    for (const char *file : files) {
        std::vector<int16_t> samples;
        if (!LoadWave16k(file, &samples)) {
            std::fprintf(stderr, "recognise: cannot read %s\n", file);
            status = 1;
            continue;
        }
        Printing printing{file, why};
        // In Hold mode each file is one hold of the key.
        if (options.listen == RecogniserListen::Hold) {
            RecogniserFeedHeld(r, samples.data(), samples.size(), Print, &printing);
            continue;
        }
        const size_t step = piece ? piece : std::max<size_t>(samples.size(), 1);
        for (size_t at = 0; at < samples.size(); at += step)
            RecogniserFeed(r, samples.data() + at, std::min(step, samples.size() - at), Print,
                           &printing);
        RecogniserFlush(r, Print, &printing);
    }
    RecogniserDestroy(r);
    return status;
}
