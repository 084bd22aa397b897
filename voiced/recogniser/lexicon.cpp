// Phrases to words, words to pronunciations, and the grammar over them.
#include "voiced/recogniser/lexicon.h"
#include <cstdio>
#include <string>
#include <set>

namespace {

bool WordChar(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c >= 0x80;
}

unsigned char Lower(unsigned char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

} // namespace

std::vector<std::string> PhraseWords(const std::string &phrase)
{
    std::vector<std::string> words;
    std::string word;
    for (size_t i = 0; i <= phrase.size(); i++) {
        unsigned char c = i < phrase.size() ? Lower(phrase[i]) : ' ';
        unsigned char next = i + 1 < phrase.size() ? Lower(phrase[i + 1]) : ' ';
        if (WordChar(c) || (c == '\'' && !word.empty() && WordChar(next))) {
            word += static_cast<char>(c);
        } else if (!word.empty()) {
            words.push_back(word);
            word.clear();
        }
    }
    return words;
}

std::string BuildGrammar(const std::vector<std::vector<std::string>> &phrases,
                         const std::vector<std::string> &decoys)
{
    std::set<std::vector<std::string>> seen;
    std::string commands;
    for (const std::vector<std::string> &words : phrases) {
        if (words.empty() || !seen.insert(words).second)
            continue;
        commands += commands.empty() ? "" : " | ";
        for (size_t i = 0; i < words.size(); i++)
            commands += (i ? " " : "") + words[i];
    }
    std::string others;
    for (const std::string &decoy : decoys) {
        if (decoy.empty() || !seen.insert({decoy}).second)
            continue;
        others += (others.empty() ? "" : " | ") + decoy;
    }
    std::string top = commands.empty() ? "<other>"
                      : others.empty() ? "<command>"
                                       : "<command> | <other>";
    std::string g = "#JSGF V1.0;\ngrammar commands;\npublic <utterance> = " + top + ";\n";
    if (!commands.empty())
        g += "<command> = " + commands + ";\n";
    if (!others.empty())
        g += "<other> = " + others + ";\n";
    return g;
}

int LookUpWords(const char *dictPath, const std::vector<std::string> &words,
                std::vector<Pronunciation> *found)
{
    FILE *f = std::fopen(dictPath, "rb");
    if (!f)
        return 0;
    std::set<std::string> wanted(words.begin(), words.end());
    char line[1024];
    while (std::fgets(line, sizeof line, f)) {
        std::string text(line);
        size_t end = text.find_first_of(" \t");
        if (end == std::string::npos || end == 0)
            continue;
        std::string word = text.substr(0, end);
        std::string base = word.substr(0, word.find('('));
        if (!wanted.count(base))
            continue;
        size_t from = text.find_first_not_of(" \t", end);
        size_t to = text.find_last_not_of(" \t\r\n");
        if (from == std::string::npos || to < from)
            continue;
        found->push_back({word, text.substr(from, to - from + 1)});
    }
    std::fclose(f);
    return 1;
}

std::vector<std::string> ReadPhraseFile(const char *path)
{
    std::vector<std::string> phrases;
    FILE *f = std::fopen(path, "r");
    if (!f)
        return phrases;
    std::string name(path);
    bool rc = name.size() > 3 && name.compare(name.size() - 3, 3, ".rc") == 0;
    char line[512];
    while (std::fgets(line, sizeof line, f)) {
        std::string s(line);
        s.erase(s.find_last_not_of(" \t\r\n") + 1);
        size_t open = s.find('"'), close = s.rfind('"');
        unsigned id = 0;
        if (!rc && !s.empty())
            phrases.push_back(s);
        else if (rc && open != std::string::npos && close > open &&
                 std::sscanf(s.c_str(), " %u", &id) == 1 && id >= 8000 && id <= 8999)
            phrases.push_back(s.substr(open + 1, close - open - 1));
    }
    std::fclose(f);
    return phrases;
}
