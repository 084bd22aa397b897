// The hub's ear: a thread of its own that owns the recogniser and feeds it
// the microphone's samples as they come and sound files as they are handed
// in. It reports each utterance once, in order, through a hook called on its
// thread. Plain code on both trees: the microphone and the window are the
// feedback program's Win32 layers over it.
#pragma once
#include "voiced/hub/listening.h"
#include "voiced/recogniser/recogniser.h"
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A level meter's reading of some samples: the RMS on a decibel scale, 0 at
// MeterFloorDb below full scale or quieter, 100 at full scale.
constexpr double MeterFloorDb = 60;
unsigned LevelPercent(const int16_t *samples, size_t count);

// What a sound file handed to the hub may be.
constexpr long MaxSoundFileBytes = 64L << 20;
constexpr unsigned MaxSoundSeconds = 600;
// Speech needs no more than 48 kHz; a higher rate only multiplies the work
// of converting it to RecogniserRate.
constexpr unsigned MinSoundRate = 4000, MaxSoundRate = 48000;
// Reads a wave file (any encoding ReadWave takes) and converts it to
// RecogniserRate. Returns false with *why saying what is wrong with it. The
// file's size, and the rate and length its header declares, are checked
// before its samples take any memory; memory that runs short is a refusal.
// When *stop (if given) becomes true meanwhile, it gives up.
bool LoadSound(const std::string &path, std::vector<int16_t> *samples, std::string *why,
               const std::atomic<bool> *stop = nullptr);

class Listener {
  public:
    enum class Source { Microphone, File };
    enum class State { Starting, Ready, Unavailable };
    // One utterance: the phrase listened for that it was taken as (empty when
    // it was none, or its score fell short), what the recogniser heard, and
    // how sure it was.
    struct Heard {
        Source source = Source::Microphone;
        std::string phrase;
        std::string heard;
        double score = 0;
        double threshold = 0;                                // the one it was measured against
        RecogniserRefusal refusal = RecogniserRefusal::None; // why a phrase heard was not taken
        RecogniserChecks checks;   // what the checks found: the refusal's reason and its value
        double start = 0, end = 0; // seconds into the microphone's stream or the file
    };
    // Called on the listener's thread.
    struct Hooks {
        std::function<void(State)> state;
        std::function<void(const Heard &)> heard;
        std::function<void(bool)> file; // a file's decoding starts (true) and ends (false)
        // Name mode's name has a word without a pronunciation, so that no
        // command can be taken (true), or no longer (false): told when that
        // changes, as the grammar is built again.
        std::function<void(bool)> nameUnknown;
    };
    // Microphone audio waiting to be decoded is limited; beyond this, what
    // comes is dropped (the decoder has fallen far behind).
    static constexpr size_t MaxBacklogSamples = 10 * RecogniserRate;
    static constexpr size_t FileChunk = RecogniserRate / 10; // fed at a time, one level each

    explicit Listener(Hooks hooks) : hooks_(std::move(hooks)) {}
    ~Listener() { Stop(); }
    Listener(const Listener &) = delete;
    Listener &operator=(const Listener &) = delete;

    // Starts the thread, which loads the acoustic model and the dictionaries
    // the options name and reports Ready or Unavailable.
    void Start(RecogniserOptions options);
    // Ends the thread; work still queued is dropped.
    void Stop();

    // Any thread.
    void SetPhrases(std::vector<std::string> phrases);
    // The sensitivity, clamped to 0..1: applies to the utterances that end
    // after the next piece of sound is taken up.
    void SetThreshold(double threshold);
    double Threshold() const;
    // When the recogniser takes a command, and the name said first in Name
    // mode (RecognisedName's form): applies from the next piece of sound.
    // In Hold mode the microphone's samples are only kept (a ring of
    // RecogniserHoldLeadSeconds) until the key goes down, and the thread is
    // not woken; from the press the hold goes to the recogniser as it comes
    // (RecogniserHoldFeed), until RecogniserHoldTailSeconds after the key
    // comes up, or at once when the hold then already ends in silence
    // (RecogniserHoldSettled).
    void SetListening(RecogniserListen mode, const std::string &name);
    // The key held to talk went down or up (Hold mode).
    void SetKeyDown(bool down);
    // The microphone was paused: the sound before it is no lead.
    void ForgetLead();
    State CurrentState() const { return state_.load(); }
    // Microphone samples (RecogniserRate, mono) as they arrive; false when
    // they were dropped because the backlog is full.
    bool Hear(const int16_t *samples, size_t count);
    // Any thread (the microphone's, before it waits): whether the samples
    // are wanted as they come. Between utterances in Always and Name mode
    // they are not: the recogniser then only listens for speech to begin,
    // which it hears the same a few pieces later, and pieces that come
    // together wake the microphone's thread and this one once, not once
    // each. (Under Wine, on room noise: the two threads 0.33% and 1.07% of a
    // core, woken 62 times a second each, where they took 0.77% and 1.5%,
    // woken 207 and 140 times.) In speech, where its end is waited for, and
    // in Hold mode, where the key's release is, they are wanted at once.
    bool WantsSamplesSoon() const;
    // The microphone stopped: an utterance still open is decoded.
    void MicrophoneStopped();
    // A whole recording, decoded as a stream of its own after what is queued.
    void Listen(std::vector<int16_t> samples);
    // A sound file handed in by its path: read and converted (LoadSound) on
    // a thread of its own, one file at a time, then decoded as Listen's are.
    // At most MaxFilesWaiting files wait, from here until their decoding
    // ends; beyond that, or when speech recognition is unavailable, the file
    // is refused at once (false, with *why). Otherwise answer is called once,
    // on the reading thread: taken, with the sound's length, or why not.
    using FileAnswer = std::function<void(bool taken, uint32_t millis, const std::string &why)>;
    bool ListenFile(std::string path, FileAnswer answer, std::string *why);
    static constexpr size_t MaxFilesWaiting = 4;
    // For the level meter, 0 to 100: the loudest piece of sound fed since the
    // last call, or when nothing was fed since, what the last call said (the
    // level of what is being decoded).
    unsigned Level();
    // Files being read, queued or being decoded.
    size_t FilesPending() const { return filesPending_.load(); }

  private:
    struct Job {
        // A hold: the key went down (or down again in the tail), its
        // sound, the key went up, the tail ended; or it was dropped.
        enum Kind {
            Samples,
            MicrophoneEnd,
            File,
            HoldPress,
            HoldPiece,
            HoldRelease,
            HoldEnd,
            HoldDropped
        } kind;
        std::vector<int16_t> samples;
    };
    struct FileRead {
        std::string path;
        FileAnswer answer;
    };
    void Run();
    void ReadFiles(); // the reading thread
    void Read(FileRead &read);
    void ApplySettings(Recogniser *r);
    void TellName(const std::vector<std::string> &unknown);
    void Do(Recogniser *r, Job &job);
    void DecodeFile(Recogniser *r, const std::vector<int16_t> &samples);
    void Hold(Recogniser *r, Job &job);
    bool HearHold(const int16_t *samples, size_t count, bool *wake); // under lock_
    static void Report(void *context, const RecogniserUtterance &utterance);
    void SetState(State state);
    void Meter(unsigned level); // a piece of sound was fed
    void MeterOff();            // the input stopped

    static constexpr unsigned FreshLevel = 0x100; // set in peak_ when something was fed

    Hooks hooks_;
    std::thread thread_;
    std::thread reader_;
    mutable std::mutex lock_;
    std::condition_variable wake_;
    std::condition_variable readWake_;
    std::deque<Job> jobs_;              // under lock_
    std::deque<FileRead> reads_;        // under lock_
    size_t backlog_ = 0;                // microphone samples in jobs_, under lock_
    bool stop_ = false;                 // under lock_
    std::atomic<bool> stopping_{false}; // stop_, for a file being converted
    bool phrasesChanged_ = false;       // under lock_
    std::vector<std::string> phrases_;  // under lock_
    RecogniserOptions options_;         // under lock_
    bool optionsChanged_ = false;       // under lock_
    HoldSound hold_{size_t(RecogniserHoldLeadSeconds * RecogniserRate),
                    size_t(RecogniserHoldTailSeconds *RecogniserRate),
                    MaxBacklogSamples}; // under lock_, in Hold mode
    bool holdDropped_ = false;          // under lock_: the hold's sound overflowed
    std::atomic<State> state_{State::Starting};
    std::atomic<unsigned> peak_{0};  // the loudest since the last Level, | FreshLevel
    std::atomic<unsigned> shown_{0}; // what Level said last
    std::atomic<size_t> filesPending_{0};
    std::atomic<bool> inSpeech_{false}; // the microphone's stream, as last fed
    // The listener's thread only.
    Source source_ = Source::Microphone; // of the stream being fed
    bool streamOpen_ = false;            // samples fed since the last flush
    RecogniserOptions applied_;          // what the recogniser was last told
    bool nameUnknown_ = false;           // as last told
    bool holdOpen_ = false;              // a hold is being fed to the recogniser
};
