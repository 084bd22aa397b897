// The recogniser's life: created over the acoustic model, given phrases,
// updated, destroyed. An utterance's road runs through the other files:
//
//   stream.cpp   the samples through the speech detectors, into utterances
//   hold.cpp     Hold mode: a key's hold, decided up to its last speech
//   prepare.cpp  an utterance's frames made ready for each pass
//   decoder.cpp  the decoders and their searches
//   checks.cpp   the checks on a phrase heard, and the refusal
//   decide.cpp   the decision: the passes and the checks, in one place
#include "voiced/recogniser/decoder.h"
#include "voiced/recogniser/prepare.h"
#include "voiced/recogniser/stream.h"
#include <sphinxbase/err.h>
#include <cstdlib>

Recogniser *RecogniserCreate(const RecogniserOptions &options)
{
    if (!std::getenv("NELKO_RECOGNISER_LOG"))
        err_set_logfp(nullptr);
    Recogniser *r = new Recogniser;
    r->options = options;
    if (!NewDecoders(r)) {
        RecogniserDestroy(r);
        return nullptr;
    }
    r->warps = SpeakerWarpLoad(options.modelDir, r->bank, r->cepSize, &r->warp);
    if (!NewDetectors(r) || r->frameShift <= 0 || !HearRoom(r) ||
        !RecogniserSetPhrases(r, {}, nullptr)) {
        RecogniserDestroy(r);
        return nullptr;
    }
    return r;
}

void RecogniserUpdate(Recogniser *r, const RecogniserOptions &options,
                      std::vector<std::string> *unknownWords)
{
    r->options.threshold = options.threshold;
    r->options.maxUtteranceSeconds = options.maxUtteranceSeconds;
    r->hold.decided = false; // decided with the options before (a hold goes on: a file
                             // handed in during one is heard as Always would)
    if (options.listen == r->options.listen && options.name == r->options.name)
        return;
    r->options.listen = options.listen;
    r->options.name = options.name;
    RestartStream(r);
    SetSearches(r, r->phrasesSet, unknownWords);
}

void RecogniserDestroy(Recogniser *r)
{
    if (!r)
        return;
    FreeDetectors(r);
    FreeDecoders(r);
    delete r;
}

int RecogniserSetPhrases(Recogniser *r, const std::vector<std::string> &phrases,
                         std::vector<std::string> *unknownWords)
{
    r->phrasesSet = phrases;
    r->hold.decided = false;
    return SetSearches(r, phrases, unknownWords) ? 1 : 0;
}
