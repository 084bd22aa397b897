// The recogniser's checks on a phrase heard, each a plain function over
// made-up frames and paths, and the refusal Judge gives from their record.
#include "voiced/recogniser/checks.h"
#include <gtest/gtest.h>
#include <vector>

namespace {

// count frames of each energy, in turn: Energies({{50, 0}, {30, 40}}).
std::vector<double> Energies(std::initializer_list<std::pair<int, double>> runs)
{
    std::vector<double> energy;
    for (const auto &run : runs)
        energy.insert(energy.end(), size_t(run.first), run.second);
    return energy;
}

Segment Word(const char *word, int first, int last, int32_t score = 0)
{
    const bool silence = word[0] == '<' || word[0] == '[' || word[0] == '+';
    return {word, silence, first, last, score};
}

} // namespace

TEST(RecogniserChecks, LoudFramesCountTheSpeechInAQuietRoomOrANoisyOne)
{
    const struct {
        const char *why;
        std::vector<double> energy;
        int loud;
    } rows[] = {
        {"speech above a quiet room: the speech alone", Energies({{50, 0}, {30, 40}}), 30},
        {"speech 20 above a noisy room", Energies({{70, 20}, {30, 40}}), 30},
        {"steady noise: nothing above halfway", Energies({{100, 10}}), 0},
        {"five frames: a tenth is one frame", {0, 10, 40, 40, 5}, 2},
        {"a sentence: more than a command takes", Energies({{50, 0}, {160, 40}}), 160},
    };
    for (const auto &row : rows)
        EXPECT_EQ(LoudFrames(row.energy), row.loud) << row.why;
}

TEST(RecogniserChecks, SaidMoreMeasuresTheSpeechTheLoopTookBesideTheCommand)
{
    // Twenty frames before the command, the command (50) over 20-39, twenty
    // of the room (0) after it.
    const auto energy = [](double before) { return Energies({{20, before}, {20, 50}, {20, 0}}); };
    const struct {
        const char *why;
        std::vector<Segment> path;
        double before;
        bool beside;
        double gap;
    } rows[] = {
        {"speech nearly as loud before it",
         {Word("phone_ah", 0, 19), Word("go", 20, 29), Word("left", 30, 39), Word("<sil>", 40, 59)},
         45,
         true,
         5},
        {"only a quiet sound before it",
         {Word("phone_ah", 0, 19), Word("go", 20, 29), Word("left", 30, 39), Word("<sil>", 40, 59)},
         10,
         true,
         40},
        {"another pronunciation of a word is the word",
         {Word("phone_s", 0, 19), Word("go", 20, 29), Word("left(2)", 30, 39),
          Word("</s>", 40, 59)},
         45,
         true,
         5},
        {"the loop took no frames",
         {Word("<sil>", 0, 19), Word("go", 20, 29), Word("left", 30, 39), Word("<sil>", 40, 59)},
         45,
         false,
         0},
        {"the check heard less than the command",
         {Word("phone_ah", 0, 19), Word("go", 20, 39), Word("<sil>", 40, 59)},
         45,
         false,
         0},
        {"the check heard no words at all", {Word("phone_ah", 0, 59)}, 45, false, 0},
    };
    for (const auto &row : rows) {
        double gap = 0;
        EXPECT_EQ(SaidMoreGap(row.path, energy(row.before), "go left", &gap), row.beside)
            << row.why;
        EXPECT_DOUBLE_EQ(gap, row.gap) << row.why;
    }
}

TEST(RecogniserChecks, EverydayWordsReportWhatFitBetterAndByHowMuch)
{
    const struct {
        const char *why;
        const char *everyday;
        int32_t everydayScore;
        bool better;
        double gain;
    } rows[] = {
        {"the search heard the command again", "go left", -900, false, 0},
        {"an everyday word in place of its last", "go away", -900, true, 50},
        {"an everyday word alone, fitting worse but for its cost", "about", -1100, true, -50},
        {"nothing but fillers: no command either", "", -900, true, 50},
    };
    for (const auto &row : rows) {
        RecogniserChecks c;
        EXPECT_EQ(EverydayFitsBetter("go left", -1000, row.everyday, row.everydayScore, 0.5, &c),
                  row.better)
            << row.why;
        EXPECT_EQ(c.everyday, row.better) << row.why;
        EXPECT_EQ(c.everydayWords, row.better ? row.everyday : "") << row.why;
        EXPECT_DOUBLE_EQ(c.everydayGain, row.gain) << row.why;
    }
}

TEST(RecogniserChecks, SilenceTakenForSpeechIsALoudSilenceThePhoneLoopFitsBetter)
{
    // "go" (40) over frames 0-9, a silence over 10-19, "left" (40) over
    // 20-29; the phone loop's stretch over the silence scores phones.
    const struct {
        const char *why;
        double silenceEnergy;
        int32_t silenceScore, phonesScore;
        int silenceLast;
        double scale, shortfall;
    } rows[] = {
        {"as loud as the words, the loop fits it far better", 35, -1000, -900, 19, 1, 100},
        {"the scale turns the decoder's units into natural log", 35, -1000, -900, 19, 0.5, 50},
        {"quieter than the words by more than SilenceLoudness", 20, -1000, -900, 19, 1, 0},
        {"the grammar fits its silence better than the loop", 35, -900, -1000, 19, 1, 0},
        {"a silence beyond the utterance's frames is left out", 35, -1000, -900, 30, 1, 0},
    };
    for (const auto &row : rows) {
        const std::vector<double> energy = Energies({{10, 40}, {10, row.silenceEnergy}, {10, 40}});
        const std::vector<Segment> grammar = {Word("go", 0, 9, -500),
                                              Word("<sil>", 10, row.silenceLast, row.silenceScore),
                                              Word("left", 20, 29, -500)};
        const std::vector<Segment> phones = {Word("phone_g", 0, 9, -400),
                                             Word("phone_s", 10, 19, row.phonesScore),
                                             Word("phone_l", 20, 29, -400)};
        EXPECT_DOUBLE_EQ(SilenceShortfallOf(grammar, phones, energy, row.scale), row.shortfall)
            << row.why;
    }
}

TEST(RecogniserChecks, TheNamesShortfallIsThePhoneLoopsBetterFitOverTheNameAlone)
{
    // A silence over frames 0-4, "nelko" over 5-14, a pause over 15-19,
    // "go" over 20-29; the phone loop has a stretch per word.
    const struct {
        const char *why;
        int32_t nameScore;
        size_t nameWords;
        double spread, shortfall;
    } rows[] = {
        {"the loop fits the name better: its gain a frame", -1000, 1, 30, 20},
        {"clean speech counts as the score counts it", -1000, 1, 120, 10},
        {"the name fits as well as the loop: none", -800, 1, 30, 0},
        {"two name words: the command's first counts too", -1000, 2, 30, 10},
        {"a name longer than the words heard: none", -1000, 3, 30, 0},
    };
    for (const auto &row : rows) {
        const std::vector<Segment> grammar = {
            Word("<sil>", 0, 4, -10), Word("nelko", 5, 14, row.nameScore),
            Word("<sil>", 15, 19, -900), Word("go", 20, 29, -500)};
        const std::vector<Segment> phones = {
            Word("phone_sil", 0, 4, -10), Word("phone_n", 5, 14, -800),
            Word("phone_s", 15, 19, -10), Word("phone_g", 20, 29, -500)};
        EXPECT_DOUBLE_EQ(NameShortfallOf(grammar, phones, row.nameWords, 30, 1, row.spread),
                         row.shortfall)
            << row.why;
    }
}

TEST(RecogniserChecks, ScoreIsTheShortfallPerFrameScaledByTheSpread)
{
    // A shortfall of 300 over 100 frames, in units of 1e-4 natural log
    // shifted ten bits: 0.3072 a frame.
    const struct {
        const char *why;
        int32_t grammar;
        double spread, chatterScale, score;
    } rows[] = {
        {"speech at about 20 dB: the shortfall as it is", -1300, 30, 1, 0.735503},
        {"clean speech: its shortfall counts half", -1300, 120, 1, 0.857615},
        {"a spread under MinSpread counts as MinSpread", -1300, 2, 1, 0.471195},
        {"amid chatter the shortfall is scaled down", -1300, 30, 0.85, 0.770188},
        {"the grammar fits better than the phone loop", -900, 30, 1, 1},
    };
    for (const auto &row : rows)
        EXPECT_NEAR(ScoreOf(row.grammar, -1000, 100, 1e-4, row.spread, row.chatterScale), row.score,
                    1e-6)
            << row.why;
}

TEST(RecogniserChecks, JudgeRefusesByTheFirstCheckThatFails)
{
    using Check = RecogniserCheck;
    using Refusal = RecogniserRefusal;
    const auto record = [](int loud, bool beside, double gap, bool everyday, double silence,
                           double score) {
        RecogniserChecks c;
        c.phrase = true, c.loudFrames = loud, c.besideSpeech = beside, c.saidMoreGap = gap;
        c.everyday = everyday, c.silenceShortfall = silence, c.score = score;
        return c;
    };
    const struct {
        const char *why;
        RecogniserChecks checks;
        Check check;
        Refusal refusal;
    } rows[] = {
        {"passes every check", record(40, true, 12, false, 20, 0.5), Check::None, Refusal::None},
        {"the score at the threshold is taken", record(40, false, 0, false, 0, 0.25), Check::None,
         Refusal::None},
        {"no phrase: nothing to refuse", RecogniserChecks(), Check::None, Refusal::None},
        {"more speech than a command", record(151, false, 0, false, 0, 0.9), Check::LoudFrames,
         Refusal::MoreSpeech},
        {"at the limit is a command", record(150, false, 0, false, 0, 0.9), Check::None,
         Refusal::None},
        {"speech beside it as loud", record(40, true, 9.9, false, 0, 0.9), Check::SaidMore,
         Refusal::MoreSpeech},
        {"a gap without speech beside it means nothing", record(40, false, 0, false, 0, 0.9),
         Check::None, Refusal::None},
        {"an everyday word fits better", record(40, true, 10, true, 0, 0.9), Check::EverydayWords,
         Refusal::OtherWords},
        {"speech taken for silence", record(40, false, 0, false, 36.5, 0.9), Check::Silence,
         Refusal::OtherWords},
        {"under the threshold", record(40, false, 0, false, 36, 0.2), Check::Score, Refusal::Score},
        {"more speech comes before other words and the score", record(200, true, 1, true, 90, 0),
         Check::LoudFrames, Refusal::MoreSpeech},
        {"other words come before the score", record(40, true, 20, false, 90, 0), Check::Silence,
         Refusal::OtherWords},
    };
    for (const auto &row : rows) {
        EXPECT_EQ(FirstFailed(row.checks, 0.25), row.check) << row.why;
        EXPECT_EQ(Judge(row.checks, 0.25), row.refusal) << row.why;
    }
}
