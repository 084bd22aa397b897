// The decoder and its searches: two decoders over the acoustic model, one
// for the grammar of the phrases and the decoys and for the everyday words
// in place of a command's, one for the loop of free phones and the grammar
// inside it; the pronunciations each has.
#pragma once
#include "voiced/recogniser/checks.h"
#include "voiced/recogniser/instance.h"
#include <string>
#include <vector>

enum class Search {
    Grammar,       // the phrases and the decoys
    Phones,        // a free loop of context-independent phones
    Everyday,      // the grammar with everyday words in place of a command's
    NoisyEveryday, // the same, each everyday word costing less
    InPhoneLoop,   // the grammar with the phone loop allowed before and after it
    GrammarBeside, // the phrases and the decoys on the phone loop's decoder
};

// A search's best path: its acoustic score, its words and its stretches.
struct Pass {
    int32_t score = 0; // in the decoder's units
    std::string words; // as HeardWords gives them
    std::vector<Segment> path;
};

// Decodes the utterance's cepstra (normalised in place) with a search: 1,
// or 0 when it found no path.
int Decode(Recogniser *r, Search search, std::vector<mfcc_t> &cepstra, Pass *pass);

// A pointer to each frame of cepstra, as the decoder's front end takes them.
std::vector<mfcc_t *> Rows(std::vector<mfcc_t> &cepstra, int cepSize);

// A front end of the decoder's configuration with one integer setting
// changed; the decoder's configuration keeps its own.
fe_t *NewFrontEnd(const Recogniser *r, const char *setting, long value);

// Sets up r->ps and r->loop from the options, and the frame layout and score
// base they use; false when the model cannot be loaded.
bool NewDecoders(Recogniser *r);
void FreeDecoders(Recogniser *r);

// The searches for these phrases (see RecogniserSetPhrases): false when the
// decoder refused them.
bool SetSearches(Recogniser *r, const std::vector<std::string> &phrases,
                 std::vector<std::string> *unknownWords);
