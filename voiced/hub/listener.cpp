// The hub's ear. The recogniser is not thread-safe, so everything that
// touches it happens on the listener's own thread: the other threads only
// queue samples and settings under the lock.
#include "voiced/hub/listener.h"
#include "voiced/core/trace.h"
#include "voiced/recogniser/checks.h"
#include "voiced/recogniser/lexicon.h"
#include "voiced/recogniser/wave.h"
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cwchar>
#include <new>
#ifdef _WIN32
#include "common/win32.h"
#endif

unsigned LevelPercent(const int16_t *samples, size_t count)
{
    if (count == 0)
        return 0;
    double sum = 0;
    for (size_t i = 0; i < count; ++i)
        sum += double(samples[i]) * samples[i];
    const double rms = std::sqrt(sum / double(count)) / 32768.0;
    if (rms <= 0)
        return 0;
    const double db = 20 * std::log10(rms); // 0 at full scale, negative below
    const double percent = (db + MeterFloorDb) / MeterFloorDb * 100;
    return static_cast<unsigned>(std::lround(std::max(0.0, std::min(100.0, percent))));
}

namespace {

#ifdef _WIN32
// The opened handle, not the path's spelling, says whether it is a plain
// file on a local disk: no device, no pipe, no reparse point (a junction or
// a link, opened as itself rather than followed), no network or unknown
// volume. Null when it is.
const char *NotAPlainLocalFile(HANDLE file)
{
    if (GetFileType(file) != FILE_TYPE_DISK)
        return "a device, not a file";
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info))
        return "the file cannot be read";
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return "a link or junction, not a file";
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return "a folder, not a file";
    wchar_t final[MAX_PATH + 8], volume[MAX_PATH + 8];
    if (!GetFinalPathNameByHandleW(file, final, MAX_PATH, FILE_NAME_NORMALIZED) ||
        !GetVolumePathNameW(final, volume, MAX_PATH))
        return "the file's drive cannot be told";
    const UINT drive = GetDriveTypeW(volume);
    if (drive == DRIVE_REMOTE)
        return "the file is on a network drive";
    return drive == DRIVE_UNKNOWN || drive == DRIVE_NO_ROOT_DIR ? "no such drive" : nullptr;
}

// Whether the file was reached through a junction or link in one of the
// path's folders (the file's own name is opened as itself): the path the
// handle ends at is not the one spelled, with short names made long. Wine
// 8 follows a unix symbolic link even with FILE_FLAG_OPEN_REPARSE_POINT and
// shows no reparse attribute, but its final path is the link's target, so
// a link is refused there by this alone (and `mklink /j` fails in its cmd).
bool ThroughALink(const wchar_t *spelled, HANDLE file)
{
    wchar_t full[MAX_PATH + 8], asked[MAX_PATH + 8], final[MAX_PATH + 8];
    const DWORD n = GetFullPathNameW(spelled, MAX_PATH, full, nullptr);
    const DWORD m = n && n < MAX_PATH ? GetLongPathNameW(full, asked, MAX_PATH) : 0;
    const DWORD f = GetFinalPathNameByHandleW(file, final, MAX_PATH, FILE_NAME_NORMALIZED);
    if (!m || m >= MAX_PATH || !f || f >= MAX_PATH)
        return true; // not told apart: taken for a link
    const wchar_t *reached = final;
    if (wcsncmp(reached, L"\\\\?\\", 4) == 0)
        reached += 4;
    return CompareStringOrdinal(asked, -1, reached, -1, TRUE) != CSTR_EQUAL;
}

// Reads the whole file within ReadLimitMs, so that a slow or removable
// drive cannot hold the reader (and with it the hub's exit): an overlapped
// read waited on in steps, given up when time runs out or the hub closes.
bool ReadWithin(HANDLE file, std::vector<uint8_t> *bytes, std::string *why,
                const std::atomic<bool> *stop)
{
    const DWORD ReadLimitMs = 10000, StepMs = 100;
    const ScopedHandle done(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    OVERLAPPED overlapped = {};
    overlapped.hEvent = done.Get();
    DWORD read = 0;
    if (!ReadFile(file, bytes->data(), static_cast<DWORD>(bytes->size()), &read, &overlapped) &&
        GetLastError() != ERROR_IO_PENDING) {
        *why = "the file cannot be read";
        return false;
    }
    for (DWORD waited = 0; WaitForSingleObject(done.Get(), StepMs) == WAIT_TIMEOUT;) {
        waited += StepMs;
        if (waited >= ReadLimitMs || (stop && *stop)) {
            CancelIoEx(file, &overlapped);
            GetOverlappedResult(file, &overlapped, &read, TRUE); // the buffer is ours again
            *why = stop && *stop ? "the hub is closing" : "the file took too long to read";
            return false;
        }
    }
    if (!GetOverlappedResult(file, &overlapped, &read, FALSE) || read != bytes->size()) {
        *why = "the file cannot be read";
        return false;
    }
    return true;
}

// The path comes in the ANSI code page, as the channel carries it.
bool ReadBytes(const std::string &path, std::vector<uint8_t> *bytes, std::string *why,
               const std::atomic<bool> *stop)
{
    wchar_t wide[MAX_PATH + 1];
    if (!MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH + 1)) {
        *why = "the file cannot be opened";
        return false;
    }
    const ScopedHandle file(CreateFileW(wide, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_OVERLAPPED,
                                        nullptr));
    if (file.Get() == INVALID_HANDLE_VALUE) {
        *why = "the file cannot be opened";
        return false;
    }
    if (const char *notFile = NotAPlainLocalFile(file.Get())) {
        *why = notFile;
        return false;
    }
    if (ThroughALink(wide, file.Get())) {
        *why = "the path goes through a link or junction";
        return false;
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart > MaxSoundFileBytes) {
        *why = "the file is too large";
        return false;
    }
    bytes->resize(static_cast<size_t>(size.QuadPart));
    return bytes->empty() || ReadWithin(file.Get(), bytes, why, stop);
}
#else
bool ReadBytes(const std::string &path, std::vector<uint8_t> *bytes, std::string *why,
               const std::atomic<bool> *)
{
    FILE *file = std::fopen(path.c_str(), "rb");
    if (!file) {
        *why = "the file cannot be opened";
        return false;
    }
    long size = -1;
    if (std::fseek(file, 0, SEEK_END) == 0)
        size = std::ftell(file);
    if (size < 0 || size > MaxSoundFileBytes || std::fseek(file, 0, SEEK_SET) != 0) {
        std::fclose(file);
        *why = size < 0 ? "the file cannot be read" : "the file is too large";
        return false;
    }
    bytes->resize(static_cast<size_t>(size));
    const size_t read = bytes->empty() ? 0 : std::fread(bytes->data(), 1, bytes->size(), file);
    std::fclose(file);
    if (read != bytes->size()) {
        *why = "not a wave file the recogniser reads";
        return false;
    }
    return true;
}
#endif

bool ReadSound(const std::string &path, std::vector<int16_t> *samples, std::string *why,
               const std::atomic<bool> *stop)
{
    std::vector<uint8_t> bytes;
    if (!ReadBytes(path, &bytes, why, stop))
        return false;
    WaveHeader header;
    if (!ReadWaveHeader(bytes.data(), bytes.size(), &header)) {
        *why = "not a wave file the recogniser reads";
        return false;
    }
    // Checked before converting and resampling, which multiplies the
    // samples by the ratio.
    if (header.rate < MinSoundRate || header.rate > MaxSoundRate) {
        *why = "an unusual sample rate";
        return false;
    }
    if (header.frames > uint64_t(MaxSoundSeconds) * header.rate) {
        *why = "the sound is too long";
        return false;
    }
    Wave wave;
    ReadWave(bytes.data(), bytes.size(), &wave);
    std::vector<uint8_t>().swap(bytes);
    std::vector<int16_t> converted =
        Resample(wave.samples.data(), wave.samples.size(), wave.rate, RecogniserRate, stop);
    if (stop && *stop) {
        *why = "the hub is closing";
        return false;
    }
    *samples = std::move(converted);
    return true;
}

} // namespace

bool LoadSound(const std::string &path, std::vector<int16_t> *samples, std::string *why,
               const std::atomic<bool> *stop)
{
    try {
        return ReadSound(path, samples, why, stop);
    } catch (const std::bad_alloc &) {
        *why = "not enough memory for the sound";
        return false;
    }
}

void Listener::Start(RecogniserOptions options)
{
    if (thread_.joinable())
        return;
    {
        std::lock_guard<std::mutex> hold(lock_);
        options_ = std::move(options);
    }
    thread_ = std::thread(&Listener::Run, this);
    reader_ = std::thread(&Listener::ReadFiles, this);
}

void Listener::Stop()
{
    {
        std::lock_guard<std::mutex> hold(lock_);
        stop_ = true;
        stopping_ = true;
    }
    wake_.notify_all();
    readWake_.notify_all();
    if (thread_.joinable())
        thread_.join();
    if (reader_.joinable())
        reader_.join();
}

void Listener::SetPhrases(std::vector<std::string> phrases)
{
    {
        std::lock_guard<std::mutex> hold(lock_);
        phrases_ = std::move(phrases);
        phrasesChanged_ = true;
    }
    wake_.notify_all();
}

void Listener::SetThreshold(double threshold)
{
    std::lock_guard<std::mutex> hold(lock_);
    options_.threshold = std::max(0.0, std::min(1.0, threshold));
    optionsChanged_ = true;
}

double Listener::Threshold() const
{
    std::lock_guard<std::mutex> hold(lock_);
    return options_.threshold;
}

void Listener::Meter(unsigned level)
{
    unsigned seen = peak_.load();
    for (;;) {
        const unsigned loudest = std::max(seen & ~FreshLevel, level) | FreshLevel;
        if (seen == loudest || peak_.compare_exchange_weak(seen, loudest))
            return;
    }
}

void Listener::MeterOff()
{
    peak_ = FreshLevel;
}

unsigned Listener::Level()
{
    const unsigned peak = peak_.exchange(0);
    if (peak & FreshLevel)
        shown_ = peak & ~FreshLevel;
    return shown_;
}

void Listener::SetListening(RecogniserListen mode, const std::string &name)
{
    std::lock_guard<std::mutex> hold(lock_);
    if (mode != options_.listen) {
        hold_ = HoldSound(size_t(RecogniserHoldLeadSeconds * RecogniserRate),
                          size_t(RecogniserHoldTailSeconds * RecogniserRate), MaxBacklogSamples);
        jobs_.push_back(Job{Job::HoldDropped, {}}); // a hold begun is no longer one
    }
    options_.listen = mode;
    options_.name = name;
    optionsChanged_ = true;
    wake_.notify_one(); // the grammar is built again now, not with the next sound
}

void Listener::SetKeyDown(bool down)
{
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (options_.listen != RecogniserListen::Hold || !(down ? hold_.Press() : hold_.Release()))
            return;
        jobs_.push_back(Job{down ? Job::HoldPress : Job::HoldRelease, {}});
    }
    wake_.notify_all();
}

void Listener::ForgetLead()
{
    std::lock_guard<std::mutex> hold(lock_);
    hold_.ForgetLead();
}

bool Listener::Hear(const int16_t *samples, size_t count)
{
    Meter(LevelPercent(samples, count));
    bool wake = true, kept = true;
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (stop_ || state_ == State::Unavailable)
            return false;
        if (options_.listen == RecogniserListen::Hold) {
            kept = HearHold(samples, count, &wake);
        } else {
            if (backlog_ + count > MaxBacklogSamples)
                return false;
            backlog_ += count;
            jobs_.push_back(Job{Job::Samples, std::vector<int16_t>(samples, samples + count)});
        }
    }
    if (wake)
        wake_.notify_all();
    return kept;
}

// The hold's sound goes to the ear as it comes; with the key up nothing
// does, and the ear is not woken (*wake false). A hold whose sound overflows
// the backlog is dropped whole: false from then until it ends.
bool Listener::HearHold(const int16_t *samples, size_t count, bool *wake)
{
    const bool ended = hold_.Add(samples, count);
    std::vector<int16_t> piece = hold_.Take();
    const bool dropped = holdDropped_ || backlog_ + piece.size() > MaxBacklogSamples;
    *wake = ended || (!piece.empty() && !dropped);
    if (!piece.empty() && !dropped) {
        backlog_ += piece.size();
        jobs_.push_back(Job{Job::HoldPiece, std::move(piece)});
    }
    holdDropped_ = dropped && !ended;
    if (ended)
        jobs_.push_back(Job{dropped ? Job::HoldDropped : Job::HoldEnd, {}});
    return !dropped;
}

bool Listener::WantsSamplesSoon() const
{
    if (inSpeech_)
        return true;
    std::lock_guard<std::mutex> hold(lock_);
    return options_.listen == RecogniserListen::Hold;
}

void Listener::MicrophoneStopped()
{
    MeterOff();
    {
        std::lock_guard<std::mutex> hold(lock_);
        jobs_.push_back(Job{Job::MicrophoneEnd, {}});
    }
    wake_.notify_all();
}

void Listener::Listen(std::vector<int16_t> samples)
{
    {
        std::lock_guard<std::mutex> hold(lock_);
        ++filesPending_;
        jobs_.push_back(Job{Job::File, std::move(samples)});
    }
    wake_.notify_all();
}

bool Listener::ListenFile(std::string path, FileAnswer answer, std::string *why)
{
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (state_ == State::Unavailable) {
            *why = "speech recognition is unavailable";
            return false;
        }
        if (filesPending_ >= MaxFilesWaiting) {
            *why = "too many sound files are waiting";
            return false;
        }
        ++filesPending_;
        reads_.push_back(FileRead{std::move(path), std::move(answer)});
    }
    readWake_.notify_all();
    return true;
}

void Listener::Read(FileRead &read)
{
    std::vector<int16_t> samples;
    std::string why;
    bool taken = LoadSound(read.path, &samples, &why, &stopping_);
    const uint32_t millis = static_cast<uint32_t>(uint64_t(samples.size()) * 1000 / RecogniserRate);
    {
        std::lock_guard<std::mutex> hold(lock_);
        // The recogniser may have failed to load meanwhile: nothing would
        // decode the file.
        if (taken && state_ == State::Unavailable) {
            taken = false;
            why = "speech recognition is unavailable";
        }
        if (taken)
            jobs_.push_back(Job{Job::File, std::move(samples)});
        else
            --filesPending_;
    }
    wake_.notify_all();
    read.answer(taken, millis, why);
}

void Listener::ReadFiles()
{
    for (;;) {
        FileRead read;
        {
            std::unique_lock<std::mutex> hold(lock_);
            readWake_.wait(hold, [this] { return stop_ || !reads_.empty(); });
            if (stop_)
                return;
            read = std::move(reads_.front());
            reads_.pop_front();
        }
        Read(read);
    }
}

void Listener::SetState(State state)
{
    state_ = state;
    if (hooks_.state)
        hooks_.state(state);
}

void Listener::Report(void *context, const RecogniserUtterance &utterance)
{
    Listener *self = static_cast<Listener *>(context);
    Heard heard;
    heard.source = self->source_;
    heard.phrase = utterance.phrase;
    heard.heard = utterance.heard;
    heard.score = utterance.checks.score;
    heard.threshold = utterance.threshold;
    heard.refusal = utterance.refusal;
    heard.start = utterance.start;
    heard.end = utterance.end;
    heard.checks = utterance.checks;
    Trace("ear", "heard \"%s\" (%s), %s; %.0f ms, %.0f ms before its end", utterance.heard,
          heard.source == Source::File ? "file" : "mic",
          RecogniserChecksText(utterance.checks, utterance.threshold).c_str(), utterance.decodeMs,
          (utterance.end - utterance.decided) * 1000);
    if (self->hooks_.heard)
        self->hooks_.heard(heard);
}

// Phrases and options as the other threads last set them, before any
// samples are fed.
void Listener::ApplySettings(Recogniser *r)
{
    std::vector<std::string> phrases;
    RecogniserOptions options;
    bool newPhrases = false, newOptions = false;
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (phrasesChanged_) {
            phrases = phrases_;
            phrasesChanged_ = false;
            newPhrases = true;
        }
        if (optionsChanged_) {
            options = options_;
            optionsChanged_ = false;
            newOptions = true;
        }
    }
    // A phrase whose words cannot be pronounced is left out; it can still
    // be typed. A name that cannot be is told, since it leaves out all.
    std::vector<std::string> unknown;
    bool built = false;
    if (newOptions) {
        built = options.listen != applied_.listen || options.name != applied_.name;
        RecogniserUpdate(r, options, &unknown);
        applied_ = options;
    }
    if (newPhrases) {
        unknown.clear();
        RecogniserSetPhrases(r, phrases, &unknown);
        built = true;
    }
    if (built)
        TellName(unknown);
}

// After the grammar was built, with the words it found no pronunciation
// for: told when it changed whether the name can be heard.
void Listener::TellName(const std::vector<std::string> &unknown)
{
    bool nameUnknown = false;
    if (applied_.listen == RecogniserListen::Name)
        for (const std::string &word : PhraseWords(applied_.name))
            nameUnknown = nameUnknown || std::count(unknown.begin(), unknown.end(), word) > 0;
    if (nameUnknown == nameUnknown_)
        return;
    nameUnknown_ = nameUnknown;
    if (hooks_.nameUnknown)
        hooks_.nameUnknown(nameUnknown);
}

void Listener::Do(Recogniser *r, Job &job)
{
    switch (job.kind) {
    case Job::Samples:
        // The microphone's stream goes on where it was, unless a file came
        // in between.
        source_ = Source::Microphone;
        streamOpen_ = true;
        RecogniserFeed(r, job.samples.data(), job.samples.size(), Report, this);
        break;
    case Job::MicrophoneEnd:
        if (streamOpen_ && source_ == Source::Microphone)
            RecogniserFlush(r, Report, this);
        streamOpen_ = false;
        break;
    case Job::File: DecodeFile(r, job.samples); break;
    default: Hold(r, job); break;
    }
}

// A hold goes to the recogniser as it comes, which decides it once its
// speaker has stopped. It ends with its tail, or at the release when it
// already ends in silence: what the tail brings then is dropped, unless the
// key goes down again, which begins another.
void Listener::Hold(Recogniser *r, Job &job)
{
    source_ = Source::Microphone;
    const bool open = holdOpen_;
    switch (job.kind) {
    case Job::HoldPress:
        if (!open)
            RecogniserHoldBegin(r);
        holdOpen_ = true;
        break;
    case Job::HoldPiece:
        if (open)
            RecogniserHoldFeed(r, job.samples.data(), job.samples.size());
        break;
    case Job::HoldRelease:
        if (!open || !RecogniserHoldSettled(r))
            break;
        Trace("ear", "the key came up after the hold's speech ended: its tail is not waited for");
        [[fallthrough]];
    case Job::HoldEnd:
        if (open)
            RecogniserHoldEnd(r, Report, this);
        holdOpen_ = false;
        break;
    default: holdOpen_ = false; break; // dropped
    }
}

// A file is a stream of its own: what the microphone left open is decoded
// first, and its stream starts afresh afterwards. Handing a file in says
// what is meant as a key's hold does: in Hold mode it is decoded as Always
// would (the recogniser hears nothing fed outside a hold).
void Listener::DecodeFile(Recogniser *r, const std::vector<int16_t> &samples)
{
    if (streamOpen_)
        RecogniserFlush(r, Report, this);
    if (hooks_.file)
        hooks_.file(true);
    const bool hold = applied_.listen == RecogniserListen::Hold;
    if (hold) {
        RecogniserOptions always = applied_;
        always.listen = RecogniserListen::Always;
        RecogniserUpdate(r, always);
    }
    source_ = Source::File;
    for (size_t at = 0; at < samples.size(); at += FileChunk) {
        const size_t n = std::min(FileChunk, samples.size() - at);
        Meter(LevelPercent(samples.data() + at, n));
        RecogniserFeed(r, samples.data() + at, n, Report, this);
    }
    RecogniserFlush(r, Report, this);
    if (hold)
        RecogniserUpdate(r, applied_);
    MeterOff();
    streamOpen_ = false;
    source_ = Source::Microphone;
    --filesPending_;
    if (hooks_.file)
        hooks_.file(false);
}

void Listener::Run()
{
    RecogniserOptions options;
    {
        std::lock_guard<std::mutex> hold(lock_);
        options = options_;
        optionsChanged_ = false;
    }
    Recogniser *r = RecogniserCreate(options);
    applied_ = options;
    if (!r) {
        // Nothing will be decoded: what is queued and what comes is dropped;
        // files still being read are refused by the reading thread.
        {
            std::lock_guard<std::mutex> hold(lock_);
            for (const Job &job : jobs_)
                filesPending_ -= job.kind == Job::File;
            jobs_.clear();
            backlog_ = 0;
            state_ = State::Unavailable;
        }
        SetState(State::Unavailable);
        return;
    }
    SetState(State::Ready);
    if (options.listen == RecogniserListen::Name) { // no phrase yet: the name alone
        std::vector<std::string> unknown;
        RecogniserSetPhrases(r, {}, &unknown);
        TellName(unknown);
    }
    for (;;) {
        Job job;
        {
            std::unique_lock<std::mutex> hold(lock_);
            wake_.wait(hold, [this] {
                return stop_ || !jobs_.empty() || phrasesChanged_ || optionsChanged_;
            });
            if (stop_)
                break;
            if (jobs_.empty()) { // only settings changed
                hold.unlock();
                ApplySettings(r);
                continue;
            }
            job = std::move(jobs_.front());
            jobs_.pop_front();
            if (job.kind == Job::Samples || job.kind == Job::HoldPiece)
                backlog_ -= job.samples.size();
        }
        ApplySettings(r);
        Do(r, job);
        inSpeech_ = streamOpen_ && RecogniserInSpeech(r);
    }
    RecogniserDestroy(r);
}
