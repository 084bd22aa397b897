// The checks a phrase heard must pass to be taken as a command, each a plain
// function over the utterance's frames and best paths returning its value
// into the utterance's RecogniserChecks; Judge gives the refusal from them.
#pragma once
#include "voiced/recogniser/recogniser.h"
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A command is a word or two: an utterance with more than CommandLoudFrames
// of speech (LoudFrames) is someone talking, even when the grammar finds a
// command's words in it and takes the rest for silence ("go up the stairs
// and turn left ..."). The slowest command of the tuning voices, in echo,
// had 110; sentences have 200 and more.
constexpr int CommandLoudFrames = 150;

// The said-more check refuses a command whose loud end (log energy, the
// first cepstral coefficient) is less than SaidMoreMargin above that of the
// speech the phone loop took beside it: about as loud, the speaker said
// more. Chatter around a command lies further below the speaker. (Set with
// the check on the tuning voices.)
constexpr double SaidMoreMargin = 10;

// Speech taken for silence: a silence in the grammar's path that the phone
// loop fits better by more than SilenceShortfall (natural log) over the
// same frames, with its loud end within SilenceLoudness (log energy) of the
// loudest word's. Quiet breath, a word's fading end and steady noise fall
// short of one or the other. (Chosen on the tuning voices, where no
// command's silence that loud fell short by more than 21; a room's echo
// of the last word can come within 15 of the words.)
constexpr double SilenceShortfall = 36;
constexpr double SilenceLoudness = 12;

// Name mode: the name must be heard clearly. Its own score is its
// shortfall a frame against the phone loop times NameWeight, as the score
// is the utterance's; the utterance's score is no higher. (The tuning part
// said after the name, at the name's threshold of 0.08: 1.0 left 28.8% of
// the commands in chatter at 15 dB, 0.5 75%, for 9.0% and 20.6% of the
// near misses and other phrases accepted.)
constexpr double NameWeight = 0.5;

// The decoder keeps acoustic scores in its log base, shifted right by ten bits.
constexpr double ScoreScale = 1024;

// The phone loop's words, one per context-independent phone: "phone_aa".
constexpr char LoopWordPrefix[] = "phone_";

// A stretch of a best path: a word, or a silence or noise between words.
struct Segment {
    std::string word; // as the decoder spells it: "go", "read(2)", "<sil>", "phone_aa"
    bool silence;     // a silence or a filler
    int first, last;  // frames
    int32_t score;    // acoustic, in the decoder's units
};

// The words of a hypothesis, without fillers and alternate markers.
std::string HeardWords(const std::string &hypothesis);

// The frames louder than halfway from the quietest tenth of the energies
// (log energy per frame) to the loudest: the speech, in a quiet room or a
// noisy one.
int LoudFrames(const std::vector<double> &energy);

// The said-more check over the best path of the grammar inside the phone
// loop: whether it heard the command again (heard, as words) with the loop
// taking some frames, and then *gap, the loud end (90th percentile) of the
// command's frames over that of the frames around it.
bool SaidMoreGap(const std::vector<Segment> &path, const std::vector<double> &energy,
                 const std::string &heard, double *gap);

// The everyday-word check: whether the search with everyday words in place
// of a command's heard other words (everyday, with its acoustic score) than
// the grammar did; if so, sets them and how much better they fit (natural
// log: scale turns the decoder's units into it) into the record.
bool EverydayFitsBetter(const std::string &heard, int32_t heardScore, const std::string &everyday,
                        int32_t everydayScore, double scale, RecogniserChecks *checks);

// The silence taken for speech: over the grammar's silences whose loud end
// lies within SilenceLoudness of its loudest word's, the most by which the
// phone loop's path fits the same frames better (its score spread evenly
// over each of its stretches), 0 for none. scale turns the decoder's units
// into natural log.
double SilenceShortfallOf(const std::vector<Segment> &grammar, const std::vector<Segment> &phones,
                          const std::vector<double> &energy, double scale);

// The name's shortfall: over the frames of the grammar's first nameWords
// words, how much better the phone loop's path fits them (its score spread
// evenly over each of its stretches) a frame, times the spread's factor as
// the score has it; 0 when it fits no better, or the path has fewer words.
double NameShortfallOf(const std::vector<Segment> &grammar, const std::vector<Segment> &phones,
                       size_t nameWords, int frames, double scale, double spread);

// The score: the grammar's acoustic shortfall per frame against the phone
// loop's (in the decoder's units, logBase its natural log), scaled by the
// utterance's energy spread and, amid chatter, by chatterScale (1 for
// none); 1 when the grammar fits at least as well.
double ScoreOf(int32_t grammar, int32_t phones, size_t frames, double logBase, double spread,
               double chatterScale);

// The checks in the order they refuse; None when the phrase passes them all.
enum class RecogniserCheck { None, LoudFrames, SaidMore, EverydayWords, Silence, Score };
RecogniserCheck FirstFailed(const RecogniserChecks &checks, double threshold);
// The refusal: None for what is no phrase or passes every check.
RecogniserRefusal Judge(const RecogniserChecks &checks, double threshold);
// "loud frames", "said more", ...: for the tools and traces.
const char *RecogniserCheckName(RecogniserCheck check);
// The whole record in one line, for the ear's trace and recognise --why.
std::string RecogniserChecksText(const RecogniserChecks &checks, double threshold);
