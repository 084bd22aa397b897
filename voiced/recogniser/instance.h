// The recogniser's state, which its stages share: the decoders, the
// detectors and the stream they hear, and the utterance being heard.
#pragma once
#include "voiced/recogniser/band.h"
#include "voiced/recogniser/recogniser.h"
#include "voiced/recogniser/warp.h"
#include <pocketsphinx.h>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

// A speech detector, a front end of the decoder's configuration, with room
// for the most frames it hands out at once.
struct Detector {
    fe_t *fe = nullptr;
    std::vector<mfcc_t> out;
    std::vector<mfcc_t *> rows;
};

// An utterance decided, owning its strings: it may wait (held, or decided
// early) while other utterances are decoded. Its record's phrase and heard
// are set to them as it is delivered.
struct Decision {
    std::string phrase, heard;
    RecogniserUtterance utterance{};
};

// A key's hold as it comes (hold.cpp): its samples, the speech measure over
// them, and a decision made before the hold ended.
struct HeldSound {
    std::vector<int16_t> samples;
    size_t measured = 0;       // samples the measure has taken in, whole frames
    std::deque<double> recent; // the last frames' power, for the smoothed level
    double floor = 1e300;      // the quietest smoothed level so far (dB)
    size_t speechEnd = 0;      // where the last frame of speech ends, 0 for none
    bool decided = false;      // decision is that of the first decidedLength samples
    size_t decidedLength = 0;
    Decision decision;
};

struct Recogniser {
    ps_decoder_t *ps = nullptr;   // the grammar's searches
    ps_decoder_t *loop = nullptr; // the phone loop, beside them
    Detector detector;
    RecogniserOptions options;
    std::set<std::string> decoderWords;         // words the decoder has a pronunciation for
    std::map<std::string, std::string> phrases; // joined words -> the phrase as given
    std::vector<std::string> phrasesSet;        // as last given, for a grammar rebuilt
    double logBase = 0;                         // natural log of the score base
    int frameShift = 160;                       // samples per frame
    int maxPrespeech = 21;                      // frames the detector can hand out at once
    int endFrames = 50;                         // silent frames that end an utterance
    int cepSize = 13;

    // The stream.
    uint64_t samplesDone = 0;     // samples given to the detector
    std::vector<int16_t> pending; // less than a frame shift, waiting for more
    bool warm = false;            // the detector has heard the opening
    std::vector<int16_t> opening; // the stream's start, until there is enough to warm up
    bool inSpeech = false;
    bool overlong = false; // the current utterance passed the limit
    bool holding = false;  // it ended as no command, and waits in case more comes
    int heldFrames = 0;    // silent frames since its speech ended
    Decision held;
    Detector early; // the detector that hears the end sooner
    bool earlySpeech = false;
    size_t earlyFrames = 0; // frames the early decision covers, 0 for none
    int earlyDecodes = 0;
    Decision earlyDecision;
    BandMeter band;     // the stream's recent blocks
    FilterBank bank;    // the front end's filters
    SpeakerWarp warp;   // the model's densities, for the speaker's scale
    bool warps = false; // the model and front end allow it
    double utteranceStart = 0;
    std::vector<mfcc_t> cepstra; // the current utterance, cepSize per frame
    std::vector<mfcc_t> room;    // RoomFrames of the quiet room, cepSize each
    double roomEnergy = 0;       // their mean log energy
    HeldSound hold;              // Hold mode's hold being handed over
};
