// Words, grammars and pronunciations: the phrases as the dictionary spells
// them, the grammar built from them, and the dictionary files looked up.
#pragma once
#include <string>
#include <vector>

// The words of a phrase as the dictionary spells them: lower case, split at
// anything but letters, digits and inner apostrophes ("Bye-Bye" -> bye bye).
std::vector<std::string> PhraseWords(const std::string &phrase);

// The JSGF grammar for phrases given as words, with the decoys as
// alternatives that mean "not a command".
std::string BuildGrammar(const std::vector<std::vector<std::string>> &phrases,
                         const std::vector<std::string> &decoys);

// Looks up words in a CMU-format dictionary file; every pronunciation of a
// word found ("word", "word(2)", ...) is appended to its entry, in order.
struct Pronunciation {
    std::string word;   // as the decoder knows it: "read" or "read(2)"
    std::string phones; // "R IY D"
};
int LookUpWords(const char *dictPath, const std::vector<std::string> &words,
                std::vector<Pronunciation> *found);

// The phrases of a file for the tools: one a line or, in a resource script,
// the quoted text of each string-table line of the command labels (8000 to
// 8999).
std::vector<std::string> ReadPhraseFile(const char *path);
