// The feedback window's texts: which string of the table each state picks
// and what it fills in. The table here names each string and shows its
// arguments, so a row fails on a wrong choice and on a wrong argument alike;
// the end-to-end tests read the shipped texts off the window.
#include "voiced/hub/view.h"
#include "voiced/hub/ids.h"
#include <gtest/gtest.h>
#include <map>

namespace {

std::string Text(unsigned id)
{
    static const std::map<unsigned, std::string> table = {
        {IDS_LISTENING, "listening"},
        {IDS_NOT_LISTENING, "not listening"},
        {IDS_NO_MENUS, "no menus"},
        {IDS_NO_CHANNEL, "no channel"},
        {IDS_NOTHING_HEARD, "nothing heard"},
        {IDS_HEARD_WAITING, "waiting %s"},
        {IDS_HEARD_RAN, "ran %s|%s|%s|%s"},
        {IDS_HEARD_OTHER, "other %s"},
        {IDS_HEARD_IGNORED, "ignored %s"},
        {IDS_HEARD_FAILED, "failed %s"},
        {IDS_HEARD_NOBODY, "nobody %s"},
        {IDS_HEARD_DROPPED, "dropped %s|%s"},
        {IDS_HEARD_DROPPED_ONE, "dropped one %s"},
        {IDS_MENU, "menu %s|%s"},
        {IDS_MENU_QUIET, "quiet %s|%s"},
        {IDS_SPEECH_STARTING, "starting"},
        {IDS_SPEECH_UNAVAILABLE, "unavailable"},
        {IDS_SPEECH_NO_MICROPHONE, "no microphone"},
        {IDS_SPEECH_MICROPHONE, "microphone"},
        {IDS_SPEECH_FILE, "file"},
        {IDS_SPEECH_HOLD, "hold %s"},
        {IDS_SPEECH_KEY_DOWN, "key down"},
        {IDS_SPEECH_NAME, "name %s"},
        {IDS_SPEECH_NAME_UNKNOWN, "no such name %s"},
        {IDS_RECOGNISED_NONE, "none"},
        {IDS_RECOGNISED_TAKEN, "taken %s|%d"},
        {IDS_RECOGNISED_LOW, "low %s|%d|%d"},
        {IDS_RECOGNISED_OTHER, "no command %s|%d"},
        {IDS_RECOGNISED_NO_WORDS, "no words"},
        {IDS_RECOGNISED_LOUD, "loud %s|%d|%d|%d"},
        {IDS_RECOGNISED_EVERYDAY, "everyday %s|%d|%s"},
        {IDS_RECOGNISED_SAID_MORE, "said more %s|%d|%d|%d"},
        {IDS_RECOGNISED_SILENCE, "silence %s|%d|%d|%d"},
        {IDS_SENSITIVITY_VALUE, "%d%%"},
    };
    const auto found = table.find(id);
    return found == table.end() ? "missing " + std::to_string(id) : found->second;
}

MenuNotice Menu(bool active, bool listening, const char *application, const char *state,
                std::vector<std::string> phrases = {})
{
    MenuNotice menu;
    menu.active = active;
    menu.listening = listening;
    menu.application = application;
    menu.state = state;
    menu.phrases = std::move(phrases);
    return menu;
}

HubService Service(std::vector<MenuNotice> menus)
{
    HubService service;
    service.menus = std::move(menus);
    return service;
}

DoneNotice Result(Outcome outcome, const char *application = "Nelko", const char *command = "")
{
    DoneNotice done;
    done.seq = 7;
    done.outcome = outcome;
    done.command = command;
    done.application = application;
    done.state = "Main";
    return done;
}

HubHeard Said(std::vector<DoneNotice> results, uint32_t dropped = 0)
{
    HubHeard last;
    last.seq = 7;
    last.phrase = "go left";
    last.results = std::move(results);
    last.dropped = dropped;
    return last;
}

TEST(VoicedViewTest, StatusSaysWhetherTheChannelIsOpenAndAnythingListens)
{
    const struct {
        const char *why;
        bool channelOpen;
        std::vector<HubService> services;
        const char *status;
    } rows[] = {
        {"a closed channel, whatever the menus",
         false,
         {Service({Menu(true, true, "A", "S")})},
         "no channel"},
        {"no service", true, {}, "no menus"},
        {"only inactive menus", true, {Service({Menu(false, false, "A", "S")})}, "no menus"},
        {"an active menu with recognition off",
         true,
         {Service({Menu(true, false, "A", "S")})},
         "not listening"},
        {"the second service listens",
         true,
         {Service({Menu(true, false, "A", "S")}), Service({Menu(true, true, "B", "S")})},
         "listening"},
    };
    for (const auto &row : rows) {
        ViewState state;
        state.channelOpen = row.channelOpen;
        state.services = row.services;
        EXPECT_EQ(ComputeView(state, Text).status, row.status) << row.why;
    }
}

TEST(VoicedViewTest, HeardShowsWhatTheLastPhraseDid)
{
    const struct {
        const char *why;
        HubHeard last;
        const char *heard;
    } rows[] = {
        {"nothing said yet", HubHeard{}, "nothing heard"},
        {"no service has answered yet", Said({}), "waiting go left"},
        {"what ran wins over an other before it",
         Said({Result(Outcome::Other, "Other"), Result(Outcome::Ran, "Nelko", "Go Left")}),
         "ran go left|Go Left|Nelko|Main"},
        {"otherwise the first answer", Said({Result(Outcome::Ignored), Result(Outcome::Failed)}),
         "ignored go left"},
        {"no service listened", Said({Result(Outcome::Nobody)}), "nobody go left"},
        {"one phrase dropped", Said({Result(Outcome::Dropped, "Busy")}, 1), "dropped one Busy"},
        {"several dropped in a row", Said({Result(Outcome::Dropped, "Busy")}, 3), "dropped 3|Busy"},
    };
    for (const auto &row : rows) {
        ViewState state;
        state.last = row.last;
        EXPECT_EQ(ComputeView(state, Text).heard, row.heard) << row.why;
    }
}

// The ear's checks, for a phrase heard: each row sets one that refuses.
RecogniserChecks Checks(int loudFrames, double saidMoreGap = 99, const char *everyday = nullptr,
                        double silence = 0)
{
    RecogniserChecks c;
    c.phrase = true;
    c.loudFrames = loudFrames;
    c.besideSpeech = saidMoreGap != 99;
    c.saidMoreGap = saidMoreGap;
    c.everyday = everyday != nullptr;
    c.everydayWords = everyday ? everyday : "";
    c.silenceShortfall = silence;
    return c;
}

TEST(VoicedViewTest, RecognisedShowsTheEarsLastUtteranceWithWholePercentsRoundedDown)
{
    const struct {
        const char *why;
        bool recognised;
        const char *phrase; // what the ear took it as
        const char *heard;
        double score, threshold;
        const char *text;
        RecogniserChecks checks = Checks(40);
    } rows[] = {
        {"nothing yet", false, "", "", 0, 0, "none"},
        {"a sound with no words", true, "", "", 0.2, 0.5, "no words"},
        {"taken; 0.57 is 56.99.. in binary, still 57", true, "Go Left", "go left", 0.57, 0.5,
         "taken go left|57"},
        {"a score just under a percent rounds down", true, "Go Left", "go left", 0.6999, 0.5,
         "taken go left|69"},
        {"a phrase listened for, under the threshold (Bye-Bye's words)", true, "", "bye bye", 0.41,
         0.58, "low bye bye|41|58"},
        // Refused whatever the threshold: not said to be under it, but the
        // check that refused it and what it found.
        {"someone talking: frames of ten milliseconds", true, "", "go left", 0.8, 0.5,
         "loud go left|80|1600|1500", Checks(160)},
        {"speech beside it about as loud; the gap rounds", true, "", "go left", 0.8, 0.5,
         "said more go left|80|4|10", Checks(40, 3.6)},
        {"an everyday word in place of a command's", true, "", "go left", 0.8, 0.5,
         "everyday go left|80|go away", Checks(40, 99, "go away")},
        {"speech taken for a pause", true, "", "go left", 0.8, 0.5, "silence go left|80|41|36",
         Checks(40, 99, nullptr, 40.7)},
        {"the first check that refuses is named", true, "", "go left", 0.1, 0.5,
         "said more go left|10|2|10", Checks(40, 2, "go away", 50)},
        {"words that are no phrase listened for", true, "", "hello there", 0.8, 0.5,
         "no command hello there|80", RecogniserChecks()},
    };
    for (const auto &row : rows) {
        ViewState state;
        state.phrases = {"Go Left", "Bye-Bye"};
        state.speech.recognised = row.recognised;
        state.speech.utterance.phrase = row.phrase;
        state.speech.utterance.heard = row.heard;
        state.speech.utterance.score = row.score;
        state.speech.utterance.threshold = row.threshold;
        state.speech.utterance.checks = row.checks;
        state.speech.utterance.checks.score = row.score;
        EXPECT_EQ(ComputeView(state, Text).recognised, row.text) << row.why;
    }
    EXPECT_EQ(SensitivityText(Text, 0.58), "58%") << "the slider's value rounds as the scores";
}

TEST(VoicedViewTest, SpeechSaysWhatTheEarListensTo)
{
    using State = Listener::State;
    using Mode = RecogniserListen;
    const struct {
        const char *why;
        State ear;
        bool microphoneOpen, decodingFile;
        Mode mode;
        bool keyDown;
        const char *speech;
        bool nameUnknown = false;
    } rows[] = {
        {"the model is loading", State::Starting, true, false, Mode::Hold, false, "starting"},
        {"no model", State::Unavailable, true, true, Mode::Always, false, "unavailable"},
        {"a file being decoded comes before the microphone", State::Ready, true, true, Mode::Hold,
         true, "file"},
        {"the microphone", State::Ready, true, false, Mode::Always, false, "microphone"},
        {"neither", State::Ready, false, false, Mode::Name, false, "no microphone"},
        {"the key to hold, by its name", State::Ready, true, false, Mode::Hold, false,
         "hold Scroll Lock"},
        {"the key held", State::Ready, true, false, Mode::Hold, true, "key down"},
        {"the name as the user spelt it", State::Ready, true, false, Mode::Name, false,
         "name Hey Nelko"},
        {"a name that cannot be heard says so", State::Ready, true, false, Mode::Name, false,
         "no such name Hey Nelko", true},
        {"which matters in Name mode only", State::Ready, true, false, Mode::Always, false,
         "microphone", true},
    };
    for (const auto &row : rows) {
        ViewState state;
        state.speech.ear = row.ear;
        state.speech.microphoneOpen = row.microphoneOpen;
        state.speech.decodingFile = row.decodingFile;
        state.speech.listen.mode = row.mode;
        state.speech.listen.key = 0x91;
        state.speech.listen.name = "Hey Nelko";
        state.speech.keyDown = row.keyDown;
        state.speech.nameUnknown = row.nameUnknown;
        EXPECT_EQ(ComputeView(state, Text).speech, row.speech) << row.why;
    }
}

TEST(VoicedViewTest, CommandRowsListEachActiveMenuUnderItsHeading)
{
    ViewState state;
    state.services = {
        Service({Menu(true, true, "Nelko", "Main", {"Go Left", "Bye Bye"}),
                 Menu(false, true, "Nelko", "Away", {"Wave"})}),
        Service({Menu(true, false, "Other", "Main", {"Hello"})}),
    };
    const std::vector<CommandRow> expected = {
        {"menu Nelko|Main", ""},  {"    Go Left", "Go Left"}, {"    Bye Bye", "Bye Bye"},
        {"quiet Other|Main", ""}, // active but not listening: shown, marked quiet
        {"    Hello", "Hello"},
    };
    const std::vector<CommandRow> rows = ComputeView(state, Text).rows;
    ASSERT_EQ(rows.size(), expected.size()) << "the inactive menu shows nothing";
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].text, expected[i].text) << "row " << i;
        EXPECT_EQ(rows[i].phrase, expected[i].phrase) << "row " << i;
    }
}

} // namespace
