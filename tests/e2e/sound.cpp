#include "sound.h"
#include "voice.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace e2e {

namespace {

constexpr int ChunkMs = 20;
constexpr int LoudSample = 500; // speech, against room noise of a few dozen

std::string Quote(const std::string &text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Starts a program with stdout to fd (or /dev/null); ends with this process.
pid_t Spawn(const std::vector<std::string> &words, int out, const std::string &log)
{
    pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        int null = open("/dev/null", O_RDWR);
        int err = log.empty() ? null : open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        dup2(null, 0);
        dup2(out >= 0 ? out : null, 1);
        dup2(err, 2);
        std::vector<char *> argv;
        for (const std::string &word : words)
            argv.push_back(const_cast<char *>(word.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

void End(pid_t pid)
{
    if (pid > 0 && kill(pid, SIGTERM) == 0)
        waitpid(pid, nullptr, 0);
}

std::vector<int16_t> FromBytes(const std::string &bytes)
{
    std::vector<int16_t> samples(bytes.size() / 2);
    memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

void SetOrUnset(const char *name, bool had, const std::string &old)
{
    if (had)
        setenv(name, old.c_str(), 1);
    else
        unsetenv(name);
}

} // namespace

double Now()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
}

UseSoundPrefix::UseSoundPrefix(const std::string &suffix)
{
    const char *prefix = getenv("NELKO_WINEPREFIX"), *audio = getenv("NELKO_AUDIO");
    hadPrefix_ = prefix, hadAudio_ = audio;
    oldPrefix_ = prefix ? prefix : "", oldAudio_ = audio ? audio : "";
    setenv("NELKO_WINEPREFIX", (HarnessPrefix() + suffix).c_str(), 1);
    setenv("NELKO_AUDIO", "pulse", 1);
}

UseSoundPrefix::~UseSoundPrefix()
{
    SetOrUnset("NELKO_WINEPREFIX", hadPrefix_, oldPrefix_);
    SetOrUnset("NELKO_AUDIO", hadAudio_, oldAudio_);
}

SoundServer::SoundServer()
{
    char pattern[] = "/tmp/nelko-sound-XXXXXX";
    if (!mkdtemp(pattern))
        throw std::runtime_error("mkdtemp");
    dir_ = pattern;
    // The clients: this process's children (pactl, parec, Wine's programs).
    setenv("PULSE_SERVER", ("unix:" + dir_ + "/native").c_str(), 1);
    setenv("PULSE_CLIENTCONFIG", (dir_ + "/client.conf").c_str(), 1);
    server_ =
        Spawn({"bash", "-c",
               "source '" NELKO_SOURCE_DIR "/scripts/sound.sh' && nelko_sound_server \"$0\"", dir_},
              -1, dir_ + ".log");
    bool up = false;
    for (int i = 0; i < 100 && !up; ++i, usleep(50000))
        up = Control("info");
    if (!up || !Control("set-default-sink out") || !PlugMicrophone()) {
        const std::string log = ReadFile(dir_ + ".log");
        Shut(); // a constructor that throws gets no destructor
        throw std::runtime_error("the sound server did not start: " + log);
    }
}

SoundServer::~SoundServer()
{
    Shut();
}

void SoundServer::Shut()
{
    End(server_);
    Run("rm -rf " + Quote(dir_) + " " + Quote(dir_ + ".log"));
    unsetenv("PULSE_SERVER");
    unsetenv("PULSE_CLIENTCONFIG");
}

bool SoundServer::Control(const std::string &arguments)
{
    return system(("pactl " + arguments + " >/dev/null 2>&1").c_str()) == 0;
}

bool SoundServer::PlugMicrophone()
{
    return Control("load-module module-pipe-source source_name=mic file=" + Quote(fifo()) +
                   " format=s16le rate=" + std::to_string(MicRate) + " channels=1") &&
           Control("set-default-source mic");
}

bool SoundServer::UnplugMicrophone()
{
    return Control("unload-module module-pipe-source");
}

bool SoundServer::UnplugSpeaker()
{
    return Control("unload-module module-null-sink");
}

MicrophoneFeed::MicrophoneFeed(const std::string &fifo, int noise) : fifo_(fifo), noise_(noise)
{
    signal(SIGPIPE, SIG_IGN); // a microphone unplugged mid-write
    thread_ = std::thread(&MicrophoneFeed::Run, this);
}

MicrophoneFeed::~MicrophoneFeed()
{
    stop_ = true;
    thread_.join();
}

void MicrophoneFeed::Speak(const std::vector<int16_t> &clip)
{
    size_t last = clip.size();
    while (last > 0 && std::abs(clip[last - 1]) < LoudSample)
        --last;
    std::lock_guard<std::mutex> hold(lock_);
    for (size_t i = 0; i < clip.size(); ++i) {
        queued_.push_back(clip[i]);
        lastLoud_.push_back(i + 1 == last);
    }
}

bool MicrophoneFeed::WaitSpoken(int timeoutMs)
{
    for (int waited = 0; waited <= timeoutMs; waited += ChunkMs) {
        {
            std::lock_guard<std::mutex> hold(lock_);
            if (queued_.empty())
                return true;
        }
        usleep(ChunkMs * 1000);
    }
    return false;
}

void MicrophoneFeed::Run()
{
    const size_t perChunk = MicRate * ChunkMs / 1000;
    int noise = noise_;
    std::vector<int16_t> chunk(perChunk);
    uint32_t random = 12345;
    int fd = -1;
    timespec next;
    clock_gettime(CLOCK_MONOTONIC, &next);
    while (!stop_) {
        bool ends = false;
        noise = noise_;
        {
            std::lock_guard<std::mutex> hold(lock_);
            for (int16_t &sample : chunk) {
                random = random * 1103515245 + 12345;
                int value = int(random >> 16) % (2 * noise + 1) - noise;
                // The room goes on under the speech: clean speech cut into
                // the noise is a sound no microphone hears.
                if (!queued_.empty()) {
                    value += queued_.front();
                    ends = ends || lastLoud_.front();
                    queued_.pop_front();
                    lastLoud_.pop_front();
                }
                sample = static_cast<int16_t>(std::max(-32768, std::min(32767, value)));
            }
        }
        if (fd < 0) {
            // Fails while no microphone reads the FIFO: the chunk is lost,
            // as speech into an unplugged microphone is.
            fd = open(fifo_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        }
        if (fd >= 0 && write(fd, chunk.data(), perChunk * 2) < 0 && errno != EAGAIN) {
            close(fd);
            fd = -1;
        }
        if (ends)
            speechEnded_ = Now();
        next.tv_nsec += ChunkMs * 1000000L;
        if (next.tv_nsec >= 1000000000L)
            next.tv_nsec -= 1000000000L, ++next.tv_sec;
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr) == EINTR) {
        }
    }
    if (fd >= 0)
        close(fd);
}

Speaker::Speaker(unsigned rate) : rate_(rate)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    recorder_ = Spawn({"parec", "--raw", "--format=s16le", "--channels=1",
                       "--rate=" + std::to_string(rate), "--latency-msec=10", "-d", "out.monitor"},
                      fds[1], "");
    close(fds[1]);
    thread_ = std::thread(&Speaker::Read, this, fds[0]);
    // The sink wakes up and the recording starts to flow.
    for (int waited = 0; waited < 5000 && Samples().size() < rate / 10; waited += 20)
        usleep(20000);
}

Speaker::~Speaker()
{
    End(recorder_);
    thread_.join();
}

void Speaker::Read(int fd)
{
    char buffer[4096];
    std::string odd; // a sample split between reads
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) {
        const double now = Now();
        odd.append(buffer, n);
        std::vector<int16_t> got = FromBytes(odd);
        odd.erase(0, got.size() * 2);
        std::lock_guard<std::mutex> hold(lock_);
        samples_.insert(samples_.end(), got.begin(), got.end());
        origin_ = std::min(origin_, now - double(samples_.size()) / rate_);
    }
    close(fd);
}

std::vector<int16_t> Speaker::Samples()
{
    std::lock_guard<std::mutex> hold(lock_);
    return samples_;
}

double Speaker::TimeOf(size_t index)
{
    std::lock_guard<std::mutex> hold(lock_);
    return origin_ + double(index) / rate_;
}

std::vector<int16_t> Speech(const std::string &text)
{
    return FromBytes(Run("espeak-ng -v en-us -s 160 --stdout " + Quote(text) +
                         " 2>/dev/null | sox -t wav - -t raw -e signed -b 16 -c 1 -r " +
                         std::to_string(MicRate) + " - 2>/dev/null"));
}

std::vector<int16_t> SoundFile(const std::string &path, unsigned rate)
{
    return FromBytes(Run("sox " + Quote(path) + " -t raw -e signed -b 16 -c 1 -r " +
                         std::to_string(rate) + " - 2>/dev/null"));
}

pid_t WineProcess(const std::string &image)
{
    const char *prefix = getenv("NELKO_WINEPREFIX");
    const std::string wanted = std::string("WINEPREFIX=") + (prefix ? prefix : "");
    for (const std::string &entry : Lines(Run("ls /proc"))) {
        const pid_t pid = atoi(entry.c_str());
        if (pid <= 0)
            continue;
        const std::string proc = "/proc/" + entry;
        std::string environ = ReadFile(proc + "/environ");
        std::replace(environ.begin(), environ.end(), '\0', '\n');
        const std::vector<std::string> variables = Lines(environ);
        if (ReadFile(proc + "/cmdline").find(image) != std::string::npos &&
            std::find(variables.begin(), variables.end(), wanted) != variables.end())
            return pid;
    }
    return 0;
}

double CpuSeconds(pid_t pid)
{
    // Fields 14 and 15 of stat, after the command's name in parentheses.
    const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    const size_t name = stat.rfind(')');
    if (name == std::string::npos)
        return 0;
    std::istringstream fields(stat.substr(name + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i)
        if (i >= 14)
            ticks += atof(field.c_str());
    return ticks / sysconf(_SC_CLK_TCK);
}

int Peak(const std::vector<int16_t> &samples, size_t from, size_t to)
{
    int peak = 0;
    for (size_t i = from; i < std::min(to, samples.size()); ++i)
        peak = std::max(peak, std::abs(int(samples[i])));
    return peak;
}

std::vector<Occurrence> FindSound(const std::vector<int16_t> &recording,
                                  const std::vector<int16_t> &sound, unsigned rate,
                                  double threshold)
{
    size_t lead = 0;
    while (lead < sound.size() && std::abs(sound[lead]) < LoudSample)
        ++lead;
    const size_t length = std::min(sound.size() - lead, size_t(rate / 4));
    std::vector<Occurrence> found;
    if (length == 0 || recording.size() < length)
        return found;
    const int16_t *opening = sound.data() + lead;
    double openingEnergy = 0;
    for (size_t i = 0; i < length; ++i)
        openingEnergy += double(opening[i]) * opening[i];
    std::vector<double> energy(recording.size() + 1, 0); // running sums of squares
    for (size_t i = 0; i < recording.size(); ++i)
        energy[i + 1] = energy[i] + double(recording[i]) * recording[i];
    auto score = [&](size_t at) {
        const double windowEnergy = energy[at + length] - energy[at];
        double sum = 0;
        for (size_t i = 0; i < length; ++i)
            sum += double(recording[at + i]) * opening[i];
        return sum / std::sqrt(windowEnergy * openingEnergy);
    };
    for (size_t at = 0; at + length <= recording.size(); ++at) {
        // Near silence cannot match (and is most of a recording).
        if (energy[at + length] - energy[at] < openingEnergy / 100)
            continue;
        const double s = score(at);
        if (s < threshold)
            continue;
        if (!found.empty() && at < found.back().start + length) {
            if (s > found.back().score)
                found.back() = {at, s};
            continue;
        }
        found.push_back({at, s});
    }
    for (Occurrence &o : found)
        o.start = o.start >= lead ? o.start - lead : 0;
    return found;
}

} // namespace e2e
