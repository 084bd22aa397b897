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

// One utterance as the recogniser heard it; its strings last until the
// callback returns.
struct RecogniserUtterance {
    const char *phrase;        // the active phrase as it was given, or "" (not a command)
    const char *heard;         // the best grammar match in words ("go left", a decoy, or "")
    double score;              // 0..1: how well the audio fits what was heard
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
// Short words a speaker may say instead of a command, standing for "not a
// command"; every single word of the phrases is added to them.
std::vector<std::string> RecogniserDefaultDecoys();
// Everyday words a speaker may say in place of a command's words.
std::vector<std::string> RecogniserEverydayWords();

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
    std::vector<std::string> decoys = RecogniserDefaultDecoys();
    // An accepted command is checked against the grammar inside a loop of
    // free phones, each costing loopPhoneWeight (a probability). It is
    // refused when the check heard it again with the loop taking speech
    // beside it whose loud end is less than saidMoreMargin (in log energy,
    // the first cepstral coefficient) below the command's.
    double loopPhoneWeight = 1e-14;
    double saidMoreMargin = 10;
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
};

// Returns null when the model cannot be loaded.
Recogniser *RecogniserCreate(const RecogniserOptions &options);
void RecogniserDestroy(Recogniser *r);
// Applies the fields that may change while listening (threshold and
// maxUtteranceSeconds) to the utterances that end from now on; the others
// keep the values the recogniser was created with.
void RecogniserUpdate(Recogniser *r, const RecogniserOptions &options);

// Replaces the phrases listened for. A phrase with a word that has no
// pronunciation is left out and its words are added to *unknownWords (when
// given). Returns 1 when the grammar was built, 0 when the decoder refused it.
int RecogniserSetPhrases(Recogniser *r, const std::vector<std::string> &phrases,
                         std::vector<std::string> *unknownWords);

// Feeds samples; calls back once for every utterance that ended in them.
void RecogniserFeed(Recogniser *r, const int16_t *samples, size_t count,
                    RecogniserCallback callback, void *context);
// Ends the input: an utterance still open is decoded and reported. Feeding
// may go on afterwards as a new stream.
void RecogniserFlush(Recogniser *r, RecogniserCallback callback, void *context);
// 1 while the speech detector is inside an utterance.
int RecogniserInSpeech(const Recogniser *r);

// Grammar and dictionary building, shared with the tests.

// The words of a phrase as the dictionary spells them: lower case, split at
// anything but letters, digits and inner apostrophes ("Bye-Bye" -> bye bye).
std::vector<std::string> PhraseWords(const std::string &phrase);

// The JSGF grammar for phrases given as words, with the decoys as
// alternatives that mean "not a command".
std::string BuildGrammar(const std::vector<std::vector<std::string>> &phrases,
                         const std::vector<std::string> &decoys);

// Looks up words in a CMU-format dictionary file; every pronunciation of a
// word found ("word", "word(2)", ...) is appended to its entry, in order.
struct Pronunciation {
    std::string word;   // as the decoder knows it: "read" or "read(2)"
    std::string phones; // "R IY D"
};
int LookUpWords(const char *dictPath, const std::vector<std::string> &words,
                std::vector<Pronunciation> *found);

// The tools' command line: when argv[*i] is a recogniser flag (see
// RecogniserFlagsUsage) followed by its value, sets the option, moves *i to
// the value and returns 1; returns 0 for anything else.
int ReadRecogniserFlag(int argc, char **argv, int *i, RecogniserOptions *options);
extern const char RecogniserFlagsUsage[];

// The phrases of a file for the tools: one a line or, in a resource script,
// the quoted text of each string-table line of the command labels (8000 to
// 8999).
std::vector<std::string> ReadPhraseFile(const char *path);

// Wave files: one reader and one writer.

struct Wave {
    unsigned rate = 0;
    std::vector<int16_t> samples; // mono: channels averaged
};
// Reads a RIFF WAVE image: PCM of 8, 16, 24 or 32 bits or 32/64-bit float,
// any channel count. Returns 0 for anything malformed or unsupported. Every
// chunk's size is checked against what remains; a data chunk longer than the
// image (a stream that left it unset) is read as far as the image goes.
int ReadWave(const uint8_t *bytes, size_t size, Wave *wave);
// What ReadWave would find, without converting a sample: a file can be
// refused by its rate or length before its samples take any memory.
struct WaveHeader {
    unsigned rate = 0;
    unsigned channels = 0;
    unsigned bits = 0;
    size_t frames = 0; // whole frames present
};
int ReadWaveHeader(const uint8_t *bytes, size_t size, WaveHeader *header);
// Reads a file and converts it to RecogniserRate. Returns 0 on failure.
int LoadWave16k(const char *path, std::vector<int16_t> *samples);
// 16-bit PCM, interleaved when channels > 1.
std::vector<uint8_t> WriteWave(const int16_t *samples, size_t frames, unsigned rate,
                               unsigned channels);
int SaveWave(const char *path, const int16_t *samples, size_t count, unsigned rate);
// Band-limited conversion between any two rates. Minutes of sound take
// seconds: when *stop (if given) becomes true meanwhile, it gives up and
// returns nothing.
std::vector<int16_t> Resample(const int16_t *samples, size_t count, unsigned fromRate,
                              unsigned toRate, const std::atomic<bool> *stop = nullptr);
