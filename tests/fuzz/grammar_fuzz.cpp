// The recogniser's grammar as the hub makes it from the phrases services
// send: any phrase the hub takes (one a line), split into the dictionary's
// words, built into a grammar with decoys and read back through the
// decoder's own grammar parser. Whatever the phrases, the grammar parses,
// has its public rule, becomes a search, and knows every word of every
// phrase: a phrase the grammar garbled could never be heard.
#include "tests/fuzz/fuzz.h"
#include "voiced/core/commands.h"
#include "voiced/recogniser/lexicon.h"
#include <sphinxbase/err.h>
#include <sphinxbase/fsg_model.h>
#include <sphinxbase/jsgf.h>
#include <algorithm>

namespace {

const std::vector<std::string> Decoys = {"go", "bye", "left", "stop"};

void CheckGrammar(const std::vector<std::vector<std::string>> &phrases)
{
    static logmath_t *logmath = logmath_init(1.0001, 0, 0);
    const std::string grammar = BuildGrammar(phrases, Decoys);
    jsgf_t *jsgf = jsgf_parse_string(grammar.c_str(), nullptr);
    Require(jsgf != nullptr, "a grammar its parser refuses");
    jsgf_rule_t *rule = jsgf_get_public_rule(jsgf);
    Require(rule != nullptr, "a grammar without its public rule");
    fsg_model_t *fsg = jsgf_build_fsg(jsgf, rule, logmath, 7.5);
    Require(fsg != nullptr, "a grammar that makes no search");
    for (const std::vector<std::string> &words : phrases)
        for (const std::string &word : words)
            Require(fsg_model_word_id(fsg, word.c_str()) >= 0, "a phrase's word left out");
    fsg_model_free(fsg);
    jsgf_grammar_free(jsgf);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool quiet = (err_set_logfp(nullptr), true);
    (void)quiet;
    std::vector<std::vector<std::string>> phrases;
    const char *at = reinterpret_cast<const char *>(data), *end = at + size;
    while (at < end && phrases.size() < MaxMenuCommands) {
        const char *newline = std::find(at, end, '\n');
        const std::string phrase(at, newline);
        at = newline + (newline < end);
        if (IsSayablePhrase(phrase))
            phrases.push_back(PhraseWords(phrase));
    }
    CheckGrammar(phrases);
    return 0;
}
