// The offline recogniser: 16 kHz mono samples in, the phrase heard and its
// score out. The grammar is built at run time from the phrases of the active
// commands; anything else it hears comes out as the empty phrase.
//
// Use: create once (loads the acoustic model), give it the phrases, feed it
// samples as they arrive; each utterance, found by the speech detector, is
// decoded whole when it ends and reported through the callback. Not
// thread-safe: one thread feeds one recogniser.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr unsigned RecogniserRate = 16000; // samples per second, mono

struct Recogniser;

// Why a phrase that was heard was not taken. The first that holds is
// given: only Score changes with the threshold.
enum class RecogniserRefusal {
    None,       // taken, or what was heard is no phrase
    MoreSpeech, // more speech than a command takes, or more said beside it
    OtherWords, // other words fit the sound better (an everyday word, speech taken for silence)
    Score,      // its score is under the threshold
};
// "", "more speech", "other words" or "score": for the tools and traces.
const char *RecogniserRefusalName(RecogniserRefusal refusal);

// What the checks found in an utterance whose words are a phrase listened
// for (checks.h: the checks, and Judge, which gives the refusal from them).
// A check that did not run keeps its default, which lets the phrase pass:
// the others run only for a phrase in no more speech than a command takes,
// and the silence check not amid chatter.
struct RecogniserChecks {
    bool phrase = false;  // the grammar heard a phrase listened for
    bool chatter = false; // other voices around the speaker: their loud stretch alone decoded
    int loudFrames = 0;   // frames of speech (a command has at most CommandLoudFrames)
    // The grammar heard again inside a loop of free phones: whether the loop
    // took speech beside the command, and how much louder the command's loud
    // end is than that speech's (log energy; refused under SaidMoreMargin).
    bool besideSpeech = false;
    double saidMoreGap = 0;
    // The search with everyday words in place of a command's: whether it
    // heard other words than the grammar did, which, and how much better
    // they fit the sound (natural log; the words' costs and the grammar's
    // weights left out, so that it may be below 0).
    bool everyday = false;
    std::string everydayWords;
    double everydayGain = 0;
    // The grammar's silence that is as loud as its words and that the phone
    // loop fits best: by how much better (natural log; refused over
    // SilenceShortfall), 0 for none.
    double silenceShortfall = 0;
    // Name mode: the name's own score (0..1), its frames' fit against the
    // phone loop's as the score's; the score is no higher than it, so that
    // a name not heard clearly lowers the utterance's.
    bool named = false;
    double nameScore = 1;
    double score = 0; // 0..1: how well the audio fits what was heard
};

// One utterance as the recogniser heard it; its strings last until the
// callback returns.
struct RecogniserUtterance {
    const char *phrase;        // the active phrase as it was given, or "" (not a command)
    const char *heard;         // the best grammar match in words ("go left", a decoy, or "")
    RecogniserChecks checks;   // what each check found, the score among them
    double threshold;          // the one the score was measured against
    RecogniserRefusal refusal; // why a phrase heard was not taken
    double start, end;         // seconds from the first sample fed
    double decided;            // when it was decoded, as start and end: before end when the
                               // decoding was done while the end silence was waited
    double decodeMs;           // time spent decoding it
};

using RecogniserCallback = void (*)(void *context, const RecogniserUtterance &utterance);

// An utterance is accepted as a command when its score reaches the
// threshold (the "sensitivity": lower accepts more).
constexpr double RecogniserDefaultThreshold = 0.25;
// Everyday words a speaker may say in place of a command's words.
std::vector<std::string> RecogniserEverydayWords();

// When the recogniser takes a command: always; only within a key's hold
// (the hub hands the hold over with RecogniserHoldFeed); or only after
// the name, said first ("nelko go left").
enum class RecogniserListen { Always, Hold, Name };

// Everything a recogniser can be told. The defaults are the tuned values; a
// new setting is a field here with its default, read where the recogniser
// is created or, when it may change while listening, in RecogniserUpdate.
// The files come first, so that {model, dict, ownDict} is a whole value.
struct RecogniserOptions {
    // Creation only.
    std::string modelDir;    // the acoustic model folder
    std::string dictPath;    // pronunciations, CMU format ("word PH ON ES" a line)
    std::string ownDictPath; // the project's own ("nelko"), consulted first; "" for none
    double languageWeight = 1.0;
    // A command is no command when another search likes better an
    // everyday word in place of its first or last word ("about that", "go
    // away"), or one alone. Each everyday word costs everydayWordCost (a
    // probability), or noisyEverydayWordCost in a noisy room, where every
    // word fits worse. No everyday words: no such search.
    std::vector<std::string> everydayWords = RecogniserEverydayWords();
    double everydayWordCost = 1e-65;
    double noisyEverydayWordCost = 1e-75;
    // Speech around the speaker (chatter, a radio): the utterance's edges
    // loud and uneven, their loudest within chatterMargin (log energy) of
    // the utterance's peak. Only the speaker's loud stretch is decoded then,
    // and its shortfall against the phone loop is scaled by chatterScale:
    // chatter blurs every command's fit, the phone loop's much less.
    double chatterMargin = 30;
    double chatterScale = 0.85;
    // The silence after which a command is taken: the detector's wait
    // before it hands an utterance over, most of the delay between the end
    // of a command and its action. An utterance that is no command then
    // waits on to half a second, in case the speaker goes on ("go ... left").
    double endSilenceSeconds = 0.15;
    // Creation and RecogniserUpdate.
    double threshold = RecogniserDefaultThreshold;
    // An utterance longer than this is no command: it is reported as such
    // without decoding.
    double maxUtteranceSeconds = 6.0;
    // Creation and RecogniserUpdate (a change rebuilds the grammar from the
    // phrases last set).
    RecogniserListen listen = RecogniserListen::Always;
    std::string name = "nelko"; // Name mode's word(s), said first; lower case
};

// Returns null when the model cannot be loaded.
Recogniser *RecogniserCreate(const RecogniserOptions &options);
void RecogniserDestroy(Recogniser *r);
// Applies the fields that may change while listening (threshold,
// maxUtteranceSeconds, listen and name) to the utterances that end from now
// on; the others keep the values the recogniser was created with. A change
// of listen or name rebuilds the grammar from the phrases last set, and
// drops an utterance being heard; the words it found no pronunciation for
// are then added to *unknownWords (when given), as RecogniserSetPhrases adds
// them.
void RecogniserUpdate(Recogniser *r, const RecogniserOptions &options,
                      std::vector<std::string> *unknownWords = nullptr);

// Replaces the phrases listened for. A phrase with a word that has no
// pronunciation is left out and its words are added to *unknownWords (when
// given); in Name mode a name word without one leaves out every phrase and
// is added, with phrases or without. In
// Name mode the phrases are listened for with the name in front, and the
// callback's phrase is the phrase as given, its heard the name included. Returns 1 when the grammar
// was built, 0 when the decoder refused it.
int RecogniserSetPhrases(Recogniser *r, const std::vector<std::string> &phrases,
                         std::vector<std::string> *unknownWords);

// Feeds samples; calls back once for every utterance that ended in them.
void RecogniserFeed(Recogniser *r, const int16_t *samples, size_t count,
                    RecogniserCallback callback, void *context);
// Ends the input: an utterance still open is decoded and reported. Feeding
// may go on afterwards as a new stream.
void RecogniserFlush(Recogniser *r, RecogniserCallback callback, void *context);
// Hold mode: the samples of one hold of the key, from its press (the hub may
// put up to RecogniserHoldLeadSeconds of the sound just before the press in
// front) to a short tail after its release, decided as one utterance with
// the hold's own checks. Calls back exactly once (phrase "" when it is no
// command). Outside Hold mode it decodes them as Always would a stream of
// its own. In Hold mode RecogniserFeed and RecogniserFlush hear nothing:
// what is said outside the key runs nothing and is not reported.
//
// A hold is decided on its samples up to the end of its last speech (a
// frame's level well above the quietest so far, hold.cpp) and
// RecogniserHoldTrailSeconds after it, or on all of them when none is
// speech: what follows that stretch in silence changes nothing.
void RecogniserFeedHeld(Recogniser *r, const int16_t *samples, size_t count,
                        RecogniserCallback callback, void *context);
constexpr double RecogniserHoldLeadSeconds = 0.3;
constexpr double RecogniserHoldTailSeconds = 0.1; // the hub keeps listening this long after release
constexpr double RecogniserHoldTrailSeconds = 0.2;

// The same hold handed over as it comes: begun (at the press), fed, ended
// (calls back exactly once, as RecogniserFeedHeld). Once the samples fed
// end in RecogniserHoldTrailSeconds of silence after speech, the hold is
// decided while it goes on; that decision is delivered at the end when
// nothing was said since, else the hold is decided again. Outside Hold mode
// they hear nothing and call back nothing.
void RecogniserHoldBegin(Recogniser *r);
void RecogniserHoldFeed(Recogniser *r, const int16_t *samples, size_t count);
void RecogniserHoldEnd(Recogniser *r, RecogniserCallback callback, void *context);
// 1 when the samples fed so far end in RecogniserHoldTrailSeconds of silence
// after speech: ended now, the hold is decided as it would be with more
// silence after it (the hub need not wait for its tail).
int RecogniserHoldSettled(const Recogniser *r);

// 1 while the speech detector is inside an utterance.
int RecogniserInSpeech(const Recogniser *r);
