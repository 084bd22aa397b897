// Real sound for the end-to-end tests: a private sound server per test (a
// null sink "out" whose monitor records what is played, and a microphone
// "mic" fed through a FIFO), a Wine prefix whose programs use it, a feeder
// that speaks into the microphone at real-time pace and a recorder of the
// speaker.
//
// Depends on what WINE-NOTES says of this machine: Debian's pulseaudio runs
// without hardware, Wine's pulse driver is chosen per prefix, and the pipe
// source delivers only what is written into its FIFO.
#pragma once
#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace e2e {

double Now(); // seconds on the monotonic clock

constexpr unsigned MicRate = 16000; // the microphone's format: s16le mono

// The harness's prefix with suffix appended, and Wine's pulse driver chosen
// in it; the programs of the test (and the session's prefix handling) use it
// until the object goes.
class UseSoundPrefix {
  public:
    explicit UseSoundPrefix(const std::string &suffix);
    ~UseSoundPrefix();

  private:
    std::string oldPrefix_, oldAudio_;
    bool hadPrefix_, hadAudio_;
};

// A sound server of the test's own (scripts/sound.sh), with a microphone
// "mic" as the default source; its clients (this process's children) find it
// through PULSE_SERVER. Construct it before the session and let it go after.
class SoundServer {
  public:
    SoundServer();
    ~SoundServer();
    SoundServer(const SoundServer &) = delete;
    SoundServer &operator=(const SoundServer &) = delete;

    // The microphone comes and goes (its module loaded and unloaded).
    bool PlugMicrophone();
    bool UnplugMicrophone();
    // The speaker goes, and with it its monitor, which Wine would otherwise
    // take for a microphone.
    bool UnplugSpeaker();
    std::string fifo() const { return dir_ + "/mic"; }

  private:
    void Shut();                                // ends the server, removes its folder
    bool Control(const std::string &arguments); // pactl
    std::string dir_;
    pid_t server_ = 0;
};

// Writes the microphone's FIFO every 20 ms at real-time pace: room noise
// (level: peak amplitude), with queued speech in its turn over it. Survives the
// microphone's going away (what cannot be written is dropped).
class MicrophoneFeed {
  public:
    explicit MicrophoneFeed(const std::string &fifo, int noise = 30);
    ~MicrophoneFeed();
    void SetNoise(int noise) { noise_ = noise; }
    // Queues a clip (MicRate mono) after what is queued.
    void Speak(const std::vector<int16_t> &clip);
    // Waits until everything queued was written; false after timeoutMs.
    bool WaitSpoken(int timeoutMs);
    // When the last loud sample of the last clip was written (Now()), 0 before.
    double SpeechEnded() const { return speechEnded_.load(); }

  private:
    void Run();
    std::string fifo_;
    std::atomic<int> noise_;
    std::mutex lock_;
    std::deque<int16_t> queued_; // under lock_
    std::deque<bool> lastLoud_;  // beside queued_: the clip's last loud sample
    std::atomic<double> speechEnded_{0};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Records what the server's sink plays (its monitor), mono at rate, from
// construction on, with the time each sample was heard.
class Speaker {
  public:
    explicit Speaker(unsigned rate);
    ~Speaker();
    std::vector<int16_t> Samples();
    // When the sample at index was played (Now()): the earliest arrival seen
    // sets the clock.
    double TimeOf(size_t index);
    unsigned rate() const { return rate_; }

  private:
    void Read(int fd);
    unsigned rate_;
    pid_t recorder_ = 0;
    std::mutex lock_;
    std::vector<int16_t> samples_; // under lock_
    double origin_ = 1e300;        // under lock_
    std::thread thread_;
};

// Speech synthesised with espeak-ng, at MicRate.
std::vector<int16_t> Speech(const std::string &text);
// A sound file converted to mono at rate.
std::vector<int16_t> SoundFile(const std::string &path, unsigned rate);

// Where a sound starts in a recording: the places where the recording
// matches the sound's opening (its first quarter second after any leading
// silence) with a normalised cross-correlation of at least threshold, at
// least that opening's length apart. start: the index in the recording where the sound's
// first sample lies.
struct Occurrence {
    size_t start;
    double score;
};
std::vector<Occurrence> FindSound(const std::vector<int16_t> &recording,
                                  const std::vector<int16_t> &sound, unsigned rate,
                                  double threshold);
// A process of this test's Wine prefix whose command line holds image (a
// Windows program's name), 0 when there is none; and the processor time a
// process has used, in seconds.
pid_t WineProcess(const std::string &image);
double CpuSeconds(pid_t pid);

// The largest absolute sample.
int Peak(const std::vector<int16_t> &samples, size_t from = 0, size_t to = SIZE_MAX);

} // namespace e2e
