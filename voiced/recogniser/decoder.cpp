// The decoder's searches over the decoder's C interface.
#include "voiced/recogniser/decoder.h"
#include "voiced/recogniser/lexicon.h"
#include <sphinxbase/ckd_alloc.h>
#include <sphinxbase/fsg_model.h>
#include <sphinxbase/jsgf.h>
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

const char *const GrammarSearch = "commands";
const char *const PhoneSearch = "phones";
const char *const EverydaySearch = "commands among everyday words";
const char *const NoisyEverydaySearch = "commands among everyday words, noisy";
const char *const SpeechSearch = "commands in speech"; // the grammar inside a phone loop

// The phone loop around the commands (the said-more check): a word per
// context-independent phone, each costing LoopPhoneWeight (a probability) so
// that the loop takes only what no command or decoy explains. (Set with the
// check on the tuning voices.)
constexpr double LoopPhoneWeight = 1e-14;
const char *const LoopPhones[] = {"AA", "AE", "AH", "AO", "AW", "AY", "B",  "CH", "D",  "DH",
                                  "EH", "ER", "EY", "F",  "G",  "HH", "IH", "IY", "JH", "K",
                                  "L",  "M",  "N",  "NG", "OW", "OY", "P",  "R",  "S",  "SH",
                                  "T",  "TH", "UH", "UW", "V",  "W",  "Y",  "Z",  "ZH"};

// A near miss ("go", "left", "go back") lands on one of these instead of on
// the command it resembles. Every single word of a command is a decoy too
// (added per phrase set), so that half a command is not taken for the whole.
// None is a word of the benchmark's held-out near misses.
const char *const Decoys[] = {"go",    "run",   "bye",  "left", "right", "up",   "down",
                              "stop",  "hello", "hi",   "yes",  "no",    "okay", "there",
                              "thank", "you",   "what", "come", "back"};

// Always mode: a lone vowel ("ah", "oh": a hesitation, a letter, a syllable
// drawn out) lands on the one-word command with that vowel ("a" on
// "dance"). The everyday searches hear these as decoys, at no cost, so that
// one that fits better refuses the command. (As the grammar's own decoys
// they took 37% fewer of the tuning part's real people, but the grammar's
// path through the commands shifted and chatter at 15 dB lost 5 of 91
// commands to the score.)
const char *const LoneVowels[] = {"ah", "oh", "uh", "eh"};

// The said-more check searches with a narrower beam than the decoder's: in
// half the time, and on the tuning voices it refused a little more of what
// it should and no command more.
constexpr double CheckBeam = 1e-20;

// The everyday-word searches: every everyday word enters at its cost, so
// their beams are EverydayBeamBeyondCost wider than that.
constexpr double EverydayBeamBeyondCost = 1e-5;

// Each search's name and whether the phone loop's decoder holds it.
const struct {
    const char *name;
    bool onLoop;
} Searches[] = {
    {GrammarSearch, false},       {PhoneSearch, true},  {EverydaySearch, false},
    {NoisyEverydaySearch, false}, {SpeechSearch, true}, {GrammarSearch, true},
};

bool WordKnown(ps_decoder_t *ps, const std::string &word)
{
    char *phones = ps_lookup_word(ps, word.c_str());
    ckd_free(phones);
    return phones != nullptr;
}

} // namespace

// A pointer to each frame of cepstra, as the decoder's front end takes them.
std::vector<mfcc_t *> Rows(std::vector<mfcc_t> &cepstra, int cepSize)
{
    std::vector<mfcc_t *> rows(cepstra.size() / cepSize);
    for (size_t i = 0; i < rows.size(); i++)
        rows[i] = &cepstra[i * cepSize];
    return rows;
}

// A front end of the decoder's configuration with one integer setting
// changed; the decoder's configuration keeps its own.
fe_t *NewFrontEnd(const Recogniser *r, const char *setting, long value)
{
    cmd_ln_t *config = ps_get_config(r->ps);
    const long own = cmd_ln_int_r(config, setting);
    cmd_ln_set_int_r(config, setting, value);
    fe_t *fe = fe_init_auto_r(config);
    cmd_ln_set_int_r(config, setting, own);
    return fe;
}

namespace {

// A decoder over the model, starting from the small dictionary when there
// is one (the phrases' words are looked up and added when the phrases are
// set), or from none.
ps_decoder_t *NewDecoder(const RecogniserOptions &options, bool withWords)
{
    const std::string &startDict =
        options.ownDictPath.empty() ? options.dictPath : options.ownDictPath;
    char weight[32], endFrames[32];
    std::snprintf(weight, sizeof weight, "%.9g", options.languageWeight);
    // The detector counts frames of ten milliseconds.
    std::snprintf(endFrames, sizeof endFrames, "%ld",
                  std::max(1L, std::lround(options.endSilenceSeconds * 100)));
    cmd_ln_t *config = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", options.modelDir.c_str(),
                                   "-dict", startDict.c_str(), "-lw", weight, "-allphone_ci", "yes",
                                   "-vad_postspeech", endFrames, nullptr);
    if (!config)
        return nullptr;
    if (!withWords)
        cmd_ln_set_str_r(config, "-dict", nullptr); // the phone loop needs none
    ps_decoder_t *ps = ps_init(config);
    cmd_ln_free_r(config); // the decoder keeps its own reference
    return ps;
}

// The front end's frame layout and the score base, as the decoder set them.
void ReadDecoderLayout(Recogniser *r)
{
    cmd_ln_t *used = ps_get_config(r->ps);
    r->frameShift = static_cast<int>(
        std::lround(cmd_ln_float32_r(used, "-samprate") / double(cmd_ln_int32_r(used, "-frate"))));
    r->maxPrespeech = cmd_ln_int32_r(used, "-vad_prespeech") + 1;
    r->endFrames = cmd_ln_int32_r(used, "-vad_postspeech");
    r->cepSize = cmd_ln_int32_r(used, "-ceplen");
    r->logBase = std::log(logmath_get_base(ps_get_logmath(r->ps)));
    const char *transform = cmd_ln_str_r(used, "-transform");
    if (transform && std::strcmp(transform, "dct") == 0) {
        r->bank.lowerHz = cmd_ln_float32_r(used, "-lowerf");
        r->bank.upperHz = cmd_ln_float32_r(used, "-upperf");
        r->bank.lifter = cmd_ln_int32_r(used, "-lifter");
        r->bank.filters = cmd_ln_int32_r(used, "-nfilt");
    }
}

// Pronunciations for the words the decoder lacks: the project's own
// dictionary first, then the large one.
void AddPronunciations(Recogniser *r, const std::vector<std::string> &words)
{
    std::vector<std::string> missing;
    for (const std::string &w : words)
        if (!r->decoderWords.count(w) && !WordKnown(r->ps, w))
            missing.push_back(w);
    std::vector<Pronunciation> found;
    if (!missing.empty() && !r->options.ownDictPath.empty())
        LookUpWords(r->options.ownDictPath.c_str(), missing, &found);
    std::set<std::string> fromOwn;
    for (const Pronunciation &p : found)
        fromOwn.insert(p.word.substr(0, p.word.find('(')));
    std::vector<std::string> rest;
    for (const std::string &w : missing)
        if (!fromOwn.count(w))
            rest.push_back(w);
    if (!rest.empty() && !r->options.dictPath.empty())
        LookUpWords(r->options.dictPath.c_str(), rest, &found);
    for (const Pronunciation &p : found)
        if (ps_add_word(r->ps, p.word.c_str(), p.phones.c_str(), FALSE) >= 0)
            r->decoderWords.insert(p.word.substr(0, p.word.find('(')));
}

bool Known(Recogniser *r, const std::string &word)
{
    return r->decoderWords.count(word) || WordKnown(r->ps, word);
}

// The phrases whose words are all pronounceable, as words, each mapped from
// its joined words to the phrase as given; their words become decoys.
struct Usable {
    std::vector<std::vector<std::string>> words;
    std::map<std::string, std::string> phrases;
    std::vector<std::string> decoys;
};

Usable UsablePhrases(Recogniser *r, const std::vector<std::string> &phrases,
                     const std::vector<std::vector<std::string>> &phraseWords,
                     std::vector<std::string> *unknownWords)
{
    Usable usable;
    for (size_t i = 0; i < phrases.size(); i++) {
        bool ok = !phraseWords[i].empty();
        std::string joined;
        for (const std::string &w : phraseWords[i]) {
            if (!Known(r, w)) {
                ok = false;
                if (unknownWords)
                    unknownWords->push_back(w);
            }
            joined += (joined.empty() ? "" : " ") + w;
        }
        if (!ok)
            continue;
        usable.words.push_back(phraseWords[i]);
        usable.phrases.emplace(joined, phrases[i]);
        for (const std::string &w : phraseWords[i])
            usable.decoys.push_back(w);
    }
    for (const char *d : Decoys)
        if (Known(r, d))
            usable.decoys.push_back(d);
    return usable;
}

// Makes fsg the decoder's search of that name, searched with its own beams
// (0: the decoder's): the search takes them from the configuration as it is
// made, and the configuration keeps the decoder's own. Frees fsg.
bool AddSearch(ps_decoder_t *ps, const char *search, fsg_model_t *fsg, double beam,
               double wordBeam = 0)
{
    cmd_ln_t *config = ps_get_config(ps);
    const char *const names[] = {"-beam", "-pbeam", "-wbeam"};
    const double wanted[] = {beam, beam, wordBeam};
    double own[3];
    for (int i = 0; i < 3; i++) {
        own[i] = cmd_ln_float_r(config, names[i]);
        if (wanted[i] > 0)
            cmd_ln_set_float_r(config, names[i], wanted[i]);
    }
    const int result = ps_set_fsg(ps, search, fsg);
    for (int i = 0; i < 3; i++)
        cmd_ln_set_float_r(config, names[i], own[i]);
    fsg_model_free(fsg);
    return result >= 0;
}

// Makes the grammar the decoder's search of that name, searched with the
// given beam (0: the decoder's own). Parsed here rather than by
// ps_set_jsgf_string, which never frees the parsed grammar.
bool SetGrammar(ps_decoder_t *ps, const char *search, const std::string &grammar, double beam = 0)
{
    jsgf_t *jsgf = jsgf_parse_string(grammar.c_str(), nullptr);
    if (!jsgf)
        return false;
    bool set = false;
    if (jsgf_rule_t *rule = jsgf_get_public_rule(jsgf))
        if (fsg_model_t *fsg = jsgf_build_fsg(jsgf, rule, ps_get_logmath(ps),
                                              cmd_ln_float32_r(ps_get_config(ps), "-lw")))
            set = AddSearch(ps, search, fsg, beam);
    jsgf_grammar_free(jsgf);
    return set;
}

// The grammar (a command or a decoy) and beside it the everyday words: one
// in place of a command's first or last word ("about that", "go away"), or
// one alone; each costs cost (a probability). Built as a graph, as the
// grammar's parser takes no list that long. State 0 starts and 1 ends; an
// everyday word leads from the start to AfterWord, where the commands' last
// words go on to the end, or from BeforeWord, which their first words
// reach, to the end.
bool SetEverydaySearch(Recogniser *r, const Usable &usable, const char *search, double cost)
{
    std::set<std::vector<std::string>> commands(usable.words.begin(), usable.words.end());
    commands.erase(std::vector<std::string>());
    std::set<std::string> decoys(usable.decoys.begin(), usable.decoys.end()), firsts, lasts;
    enum : int32 { Start, End, AfterWord, BeforeWord, Fixed };
    int32 states = Fixed;
    for (const std::vector<std::string> &c : commands) {
        states += int32(c.size()) - 1;
        firsts.insert(c.front());
        lasts.insert(c.back());
        if (c.size() == 1)
            decoys.erase(c.front());
    }
    logmath_t *lmath = ps_get_logmath(r->ps);
    fsg_model_t *fsg =
        fsg_model_init(search, lmath, cmd_ln_float32_r(ps_get_config(r->ps), "-lw"), states);
    fsg->start_state = Start;
    fsg->final_state = End;
    auto add = [fsg](int32 from, int32 to, int32 logp, const std::string &word) {
        fsg_model_trans_add(fsg, from, to, logp, fsg_model_word_add(fsg, word.c_str()));
    };
    int32 next = Fixed;
    for (const std::vector<std::string> &c : commands)
        for (size_t k = 0, from = Start; k < c.size(); k++) {
            const int32 to = k + 1 == c.size() ? End : next++;
            add(int32(from), to, 0, c[k]);
            from = size_t(to);
        }
    for (const std::string &d : decoys)
        add(Start, End, 0, d);
    if (r->options.listen == RecogniserListen::Always)
        for (const char *v : LoneVowels)
            if (!decoys.count(v) && Known(r, v))
                add(Start, End, 0, v);
    const int32 logCost = logmath_log(lmath, cost);
    for (const std::string &w : r->options.everydayWords)
        if (Known(r, w)) {
            add(Start, AfterWord, logCost, w);
            add(BeforeWord, End, logCost, w);
        }
    for (const std::string &w : lasts)
        add(AfterWord, End, 0, w);
    for (const std::string &w : firsts)
        add(Start, BeforeWord, 0, w);
    fsg_model_null_trans_add(fsg, AfterWord, End, 0);
    glist_free(fsg_model_null_trans_closure(fsg, nullptr));
    const double beam = cost * EverydayBeamBeyondCost;
    return AddSearch(r->ps, search, fsg, beam, beam);
}

// Gives the phone loop's decoder the pronunciations the grammar's has of the
// phrases' words and the decoys, every variant ("word(2)") of each.
void CopyPronunciations(Recogniser *r, const Usable &usable)
{
    std::vector<std::string> words = usable.decoys;
    for (const std::vector<std::string> &phrase : usable.words)
        words.insert(words.end(), phrase.begin(), phrase.end());
    for (const std::string &w : words)
        for (int n = 1;; n++) {
            const std::string variant = n == 1 ? w : w + "(" + std::to_string(n) + ")";
            if (WordKnown(r->loop, variant))
                continue;
            char *phones = ps_lookup_word(r->ps, variant.c_str());
            if (!phones)
                break;
            ps_add_word(r->loop, variant.c_str(), phones, FALSE);
            ckd_free(phones);
        }
}

// The grammar with the phone loop allowed before and after its utterance.
std::string InsidePhoneLoop(Recogniser *r, const std::string &grammar)
{
    const std::string head = "public <utterance> = ";
    size_t at = grammar.find(head);
    size_t end = grammar.find(";\n", at);
    if (at == std::string::npos || end == std::string::npos)
        return grammar;
    char weight[32];
    std::snprintf(weight, sizeof weight, "/%g/ ", LoopPhoneWeight);
    std::string phones;
    for (const char *phone : LoopPhones) {
        std::string word = LoopWordPrefix;
        for (const char *c = phone; *c; c++)
            word += static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
        if (!WordKnown(r->loop, word))
            ps_add_word(r->loop, word.c_str(), phone, FALSE);
        phones += (phones.empty() ? "" : " | ") + std::string(weight) + word;
    }
    std::string inner = grammar.substr(at + head.size(), end - at - head.size());
    return grammar.substr(0, at) + head + "[<loop>] (" + inner + ") [<loop>]" +
           grammar.substr(end) + "<loop> = <phone>+;\n<phone> = " + phones + ";\n";
}

// Name mode's words, said before every phrase; none in the other modes.
std::vector<std::string> NameWords(const RecogniserOptions &options)
{
    if (options.listen != RecogniserListen::Name)
        return {};
    return PhraseWords(options.name);
}

// The grammar's decoys: each alone and, after the name, each but the name's
// own words ("nelko go" is the name and half a command, no command). A name
// the decoder cannot say is in no phrase and in no decoy.
std::vector<std::string> NamedDecoys(Recogniser *r, const std::vector<std::string> &name,
                                     const std::vector<std::string> &decoys)
{
    std::string prefix;
    for (const std::string &w : name) {
        if (!Known(r, w))
            return decoys;
        prefix += w + " ";
    }
    std::vector<std::string> all = decoys;
    if (!prefix.empty())
        for (const std::string &d : decoys)
            if (std::find(name.begin(), name.end(), d) == name.end())
                all.push_back(prefix + d);
    return all;
}

} // namespace

// Decodes the utterance with a search: 1 and its best path's acoustic
// score, words and stretches, or 0 when it found no path.
int Decode(Recogniser *r, Search search, std::vector<mfcc_t> &cepstra, Pass *pass)
{
    const auto &s = Searches[size_t(search)];
    ps_decoder_t *ps = s.onLoop ? r->loop : r->ps;
    std::vector<mfcc_t *> rows = Rows(cepstra, r->cepSize);
    if (ps_set_search(ps, s.name) < 0 || ps_start_utt(ps) < 0)
        return 0;
    ps_process_cep(ps, rows.data(), static_cast<int>(rows.size()), FALSE, TRUE);
    ps_end_utt(ps);
    int32_t best = 0;
    const char *h = ps_get_hyp(ps, &best);
    if (!h)
        return 0;
    pass->score = 0;
    pass->words = HeardWords(h);
    pass->path.clear();
    for (ps_seg_t *seg = ps_seg_iter(ps); seg; seg = ps_seg_next(seg)) {
        Segment g{ps_seg_word(seg), false, 0, 0, 0};
        ps_seg_prob(seg, &g.score, nullptr, nullptr);
        pass->score += g.score;
        g.silence = g.word[0] == '<' || g.word[0] == '[' || g.word[0] == '+';
        ps_seg_frames(seg, &g.first, &g.last);
        pass->path.push_back(g);
    }
    return 1;
}

bool NewDecoders(Recogniser *r)
{
    r->ps = NewDecoder(r->options, true);
    r->loop = NewDecoder(r->options, false);
    if (!r->ps || !r->loop)
        return false;
    ReadDecoderLayout(r);
    return ps_set_allphone(r->loop, PhoneSearch, nullptr) >= 0;
}

void FreeDecoders(Recogniser *r)
{
    if (r->loop) {
        // The phone loop keeps its last best path until its next backtrace
        // and never frees it: an empty utterance makes it let go.
        if (ps_set_search(r->loop, PhoneSearch) >= 0 && ps_start_utt(r->loop) >= 0) {
            ps_end_utt(r->loop);
            ps_get_hyp(r->loop, nullptr);
        }
        ps_free(r->loop);
    }
    if (r->ps)
        ps_free(r->ps);
    r->ps = r->loop = nullptr;
}

bool SetSearches(Recogniser *r, const std::vector<std::string> &phrases,
                 std::vector<std::string> *unknownWords)
{
    const std::vector<std::string> name = NameWords(r->options);
    std::vector<std::vector<std::string>> phraseWords;
    std::vector<std::string> words(std::begin(Decoys), std::end(Decoys));
    words.insert(words.end(), r->options.everydayWords.begin(), r->options.everydayWords.end());
    words.insert(words.end(), std::begin(LoneVowels), std::end(LoneVowels));
    for (const std::string &phrase : phrases) {
        phraseWords.push_back(name);
        for (const std::string &w : PhraseWords(phrase))
            phraseWords.back().push_back(w);
        words.insert(words.end(), phraseWords.back().begin(), phraseWords.back().end());
    }
    AddPronunciations(r, words);
    Usable usable = UsablePhrases(r, phrases, phraseWords, unknownWords);
    // The name alone is no command; a name word without a pronunciation is
    // reported, with phrases or without, since nothing can be taken then.
    for (const std::string &w : name)
        if (Known(r, w))
            usable.decoys.push_back(w);
        else if (unknownWords &&
                 std::find(unknownWords->begin(), unknownWords->end(), w) == unknownWords->end())
            unknownWords->push_back(w);
    std::string grammar = BuildGrammar(usable.words, NamedDecoys(r, name, usable.decoys));
    CopyPronunciations(r, usable);
    if (!SetGrammar(r->ps, GrammarSearch, grammar) ||
        !SetGrammar(r->loop, GrammarSearch, grammar) ||
        !SetGrammar(r->loop, SpeechSearch, InsidePhoneLoop(r, grammar), CheckBeam) ||
        !(r->options.everydayWords.empty() ||
          (SetEverydaySearch(r, usable, EverydaySearch, r->options.everydayWordCost) &&
           SetEverydaySearch(r, usable, NoisyEverydaySearch, r->options.noisyEverydayWordCost))))
        return false;
    r->phrases = std::move(usable.phrases);
    return true;
}
