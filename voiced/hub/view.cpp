// The window's texts: each picks a string of the table and fills it in.
#include "voiced/hub/view.h"
#include "voiced/hub/ids.h"
#include "voiced/recogniser/checks.h"
#include <cmath>
#include <cstdio>

namespace {

// The recogniser's frames: ten milliseconds each.
constexpr int FrameMs = 10;

const char *Argument(const std::string &text)
{
    return text.c_str();
}
int Argument(int number)
{
    return number;
}

// A string-table format filled in with texts and whole numbers.
template <class... Args> std::string Format(const TextTable &text, unsigned id, const Args &...args)
{
    char filled[512];
    snprintf(filled, sizeof filled, text(id).c_str(), Argument(args)...);
    return filled;
}

std::string StatusText(const ViewState &state, const TextTable &text)
{
    if (!state.channelOpen)
        return text(IDS_NO_CHANNEL);
    bool active = false;
    for (const HubService &service : state.services) {
        if (service.Listening())
            return text(IDS_LISTENING);
        for (const MenuNotice &menu : service.menus)
            active = active || menu.active;
    }
    return text(active ? IDS_NOT_LISTENING : IDS_NO_MENUS);
}

std::string SpeechText(const SpeechState &speech, const TextTable &text)
{
    switch (speech.ear) {
    case Listener::State::Starting: return text(IDS_SPEECH_STARTING);
    case Listener::State::Unavailable: return text(IDS_SPEECH_UNAVAILABLE);
    case Listener::State::Ready: break;
    }
    if (speech.decodingFile)
        return text(IDS_SPEECH_FILE);
    if (!speech.microphoneOpen)
        return text(IDS_SPEECH_NO_MICROPHONE);
    switch (speech.listen.mode) {
    case RecogniserListen::Always: break;
    case RecogniserListen::Hold: {
        if (speech.keyDown)
            return text(IDS_SPEECH_KEY_DOWN);
        const HoldKey *key = FindHoldKey(speech.listen.key);
        return Format(text, IDS_SPEECH_HOLD, std::string(key ? key->name : "?"));
    }
    case RecogniserListen::Name:
        return Format(text, speech.nameUnknown ? IDS_SPEECH_NAME_UNKNOWN : IDS_SPEECH_NAME,
                      speech.listen.name);
    }
    return text(IDS_SPEECH_MICROPHONE);
}

std::string RecognisedText(const ViewState &state, const TextTable &text)
{
    const SpeechState &speech = state.speech;
    if (!speech.recognised)
        return text(IDS_RECOGNISED_NONE);
    const Listener::Heard &u = speech.utterance;
    if (u.heard.empty())
        return text(IDS_RECOGNISED_NO_WORDS);
    if (!u.phrase.empty())
        return Format(text, IDS_RECOGNISED_TAKEN, u.heard, Percent(u.score));
    // The check that refused it, and what it found: the slider helps only
    // a phrase refused by its score.
    const RecogniserChecks &c = u.checks;
    switch (FirstFailed(c, u.threshold)) {
    case RecogniserCheck::LoudFrames:
        return Format(text, IDS_RECOGNISED_LOUD, u.heard, Percent(u.score), c.loudFrames * FrameMs,
                      CommandLoudFrames * FrameMs);
    case RecogniserCheck::SaidMore:
        return Format(text, IDS_RECOGNISED_SAID_MORE, u.heard, Percent(u.score),
                      int(std::lround(c.saidMoreGap)), int(SaidMoreMargin));
    case RecogniserCheck::EverydayWords:
        return Format(text, IDS_RECOGNISED_EVERYDAY, u.heard, Percent(u.score), c.everydayWords);
    case RecogniserCheck::Silence:
        return Format(text, IDS_RECOGNISED_SILENCE, u.heard, Percent(u.score),
                      int(std::lround(c.silenceShortfall)), int(SilenceShortfall));
    case RecogniserCheck::Score:
        return Format(text, IDS_RECOGNISED_LOW, u.heard, Percent(u.score), Percent(u.threshold));
    case RecogniserCheck::None: break;
    }
    return Format(text, IDS_RECOGNISED_OTHER, u.heard, Percent(u.score));
}

std::string ResultText(const HubHeard &last, const DoneNotice &result, const TextTable &text)
{
    switch (result.outcome) {
    case Outcome::Ran:
        return Format(text, IDS_HEARD_RAN, last.phrase, result.command, result.application,
                      result.state);
    case Outcome::Other: return Format(text, IDS_HEARD_OTHER, last.phrase);
    case Outcome::Ignored: return Format(text, IDS_HEARD_IGNORED, last.phrase);
    case Outcome::Failed: return Format(text, IDS_HEARD_FAILED, last.phrase);
    case Outcome::Nobody: return Format(text, IDS_HEARD_NOBODY, last.phrase);
    case Outcome::Dropped: break;
    }
    if (last.dropped == 1)
        return Format(text, IDS_HEARD_DROPPED_ONE, result.application);
    return Format(text, IDS_HEARD_DROPPED, std::to_string(last.dropped), result.application);
}

std::string HeardText(const HubHeard &last, const TextTable &text)
{
    if (last.seq == 0)
        return text(IDS_NOTHING_HEARD);
    // What ran says most; otherwise the first result.
    std::string first;
    for (const DoneNotice &result : last.results) {
        if (result.outcome == Outcome::Ran)
            return ResultText(last, result, text);
        if (first.empty())
            first = ResultText(last, result, text);
    }
    return first.empty() ? Format(text, IDS_HEARD_WAITING, last.phrase) : first;
}

std::vector<CommandRow> CommandRows(const std::vector<HubService> &services, const TextTable &text)
{
    std::vector<CommandRow> rows;
    for (const HubService &service : services)
        for (const MenuNotice &menu : service.menus) {
            if (!menu.active)
                continue;
            rows.push_back({Format(text, menu.listening ? IDS_MENU : IDS_MENU_QUIET,
                                   menu.application, menu.state),
                            ""});
            for (const std::string &phrase : menu.phrases)
                rows.push_back({"    " + phrase, phrase});
        }
    return rows;
}

} // namespace

View ComputeView(const ViewState &state, const TextTable &text)
{
    return {StatusText(state, text), SpeechText(state.speech, text), RecognisedText(state, text),
            HeardText(state.last, text), CommandRows(state.services, text)};
}

std::string SensitivityText(const TextTable &text, double threshold)
{
    return Format(text, IDS_SENSITIVITY_VALUE, Percent(threshold));
}

int Percent(double value)
{
    return static_cast<int>(std::floor(value * 100 + 1e-9));
}

std::string ListenNameChoice(const TextTable &text, const std::string &name)
{
    return Format(text, IDS_LISTEN_NAME, name);
}
