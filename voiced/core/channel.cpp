// The channel between the hub and its clients: lines of tab-separated fields
// (voiced/channel.txt). Everything read here comes from outside the process
// and is checked before it is believed.
#include "voiced/core/channel.h"
#include <cstring>

namespace {

bool IsControl(unsigned char c)
{
    return c < 0x20 || c == 0x7F;
}

bool ParseFlag(const std::string &text, bool *flag)
{
    if (text != "0" && text != "1")
        return false;
    *flag = text == "1";
    return true;
}

struct NamedOutcome {
    Outcome outcome;
    const char *name;
};
const NamedOutcome OutcomeNames[] = {
    {Outcome::Ran, "ran"},       {Outcome::Other, "other"},   {Outcome::Ignored, "ignored"},
    {Outcome::Failed, "failed"}, {Outcome::Nobody, "nobody"}, {Outcome::Dropped, "dropped"},
};

// The fields DONE and HEARD share after the verb: seq outcome micros, then
// the texts. HEARD carries the phrase said before the command.
bool ParseResult(const ChannelMessage &message, bool heard, DoneNotice *notice)
{
    const size_t texts = heard ? 4 : 3;
    if (message.fields.size() != 3 + texts)
        return false;
    DoneNotice read;
    if (!ParseUnsigned(message.fields[0], &read.seq) || read.seq == 0 ||
        !ParseOutcome(message.fields[1], &read.outcome) ||
        !ParseUnsigned(message.fields[2], &read.micros))
        return false;
    // Only the hub knows that no service was listening.
    if (!heard && read.outcome == Outcome::Nobody)
        return false;
    size_t at = 3;
    if (heard)
        read.phrase = message.fields[at++];
    read.command = message.fields[at++];
    read.application = message.fields[at++];
    read.state = message.fields[at++];
    if (read.phrase.size() > MaxPhraseLength || read.command.size() > MaxPhraseLength ||
        read.application.size() > 31 || read.state.size() > 31)
        return false;
    // Only a command that ran names one.
    if ((read.outcome == Outcome::Ran) != !read.command.empty())
        return false;
    *notice = std::move(read);
    return true;
}

std::vector<std::string> ResultFields(const DoneNotice &notice, bool heard)
{
    std::vector<std::string> fields = {std::to_string(notice.seq), OutcomeName(notice.outcome),
                                       std::to_string(notice.micros)};
    if (heard)
        fields.push_back(notice.phrase);
    fields.push_back(notice.command);
    fields.push_back(notice.application);
    fields.push_back(notice.state);
    return fields;
}

} // namespace

bool LineReader::Feed(const char *data, size_t size, std::vector<std::string> *lines)
{
    if (broken_)
        return false;
    for (size_t i = 0; i < size; ++i) {
        const char c = data[i];
        if (c == '\n') {
            lines->push_back(std::move(partial_));
            partial_.clear();
        } else if (c == '\0' || partial_.size() >= MaxChannelLine) {
            broken_ = true;
            partial_.clear();
            return false;
        } else {
            partial_ += c;
        }
    }
    return true;
}

bool ParseChannelLine(const std::string &line, ChannelMessage *message)
{
    if (line.size() > MaxChannelLine)
        return false;
    size_t at = 0;
    while (at < line.size() && line[at] >= 'A' && line[at] <= 'Z')
        ++at;
    if (at == 0 || at > 16 || (at < line.size() && line[at] != '\t'))
        return false;
    ChannelMessage read;
    read.verb = line.substr(0, at);
    while (at < line.size()) {
        const size_t start = at + 1; // past the tab
        size_t end = start;
        while (end < line.size() && line[end] != '\t') {
            if (IsControl(static_cast<unsigned char>(line[end])))
                return false;
            ++end;
        }
        read.fields.push_back(line.substr(start, end - start));
        at = end;
    }
    *message = std::move(read);
    return true;
}

std::string FormatChannelLine(const std::string &verb, const std::vector<std::string> &fields)
{
    std::string line = verb;
    for (const std::string &field : fields) {
        line += '\t';
        for (unsigned char c : field)
            line += IsControl(c) ? ' ' : static_cast<char>(c);
    }
    line += '\n';
    return line;
}

bool ParseUnsigned(const std::string &text, uint32_t *value)
{
    if (text.empty() || text.size() > 10)
        return false;
    uint64_t number = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        number = number * 10 + (c - '0');
    }
    if (number > UINT32_MAX || (text.size() > 1 && text[0] == '0'))
        return false;
    *value = static_cast<uint32_t>(number);
    return true;
}

const char *OutcomeName(Outcome outcome)
{
    for (const auto &entry : OutcomeNames)
        if (entry.outcome == outcome)
            return entry.name;
    return "ignored";
}

bool ParseOutcome(const std::string &text, Outcome *outcome)
{
    for (const auto &entry : OutcomeNames)
        if (text == entry.name) {
            *outcome = entry.outcome;
            return true;
        }
    return false;
}

bool ParseMenuNotice(const ChannelMessage &message, MenuNotice *notice)
{
    const auto &f = message.fields;
    if (message.verb != "MENU" || f.size() < 5 || f.size() - 5 > MaxMenuCommands)
        return false;
    MenuNotice read;
    if (!ParseUnsigned(f[0], &read.id) || !ParseFlag(f[1], &read.active) ||
        !ParseFlag(f[2], &read.listening) || f[3].size() > 31 || f[4].size() > 31)
        return false;
    if (read.listening && !read.active)
        return false;
    read.application = f[3];
    read.state = f[4];
    for (size_t i = 5; i < f.size(); ++i) {
        if (!IsSayablePhrase(f[i]))
            return false;
        read.phrases.push_back(f[i]);
    }
    *notice = std::move(read);
    return true;
}

std::string FormatMenuNotice(const MenuNotice &notice)
{
    std::vector<std::string> fields = {std::to_string(notice.id), notice.active ? "1" : "0",
                                       notice.listening ? "1" : "0", notice.application,
                                       notice.state};
    fields.insert(fields.end(), notice.phrases.begin(), notice.phrases.end());
    return FormatChannelLine("MENU", fields);
}

bool ParsePhraseNotice(const ChannelMessage &message, PhraseNotice *notice)
{
    if (message.verb != "PHRASE" || message.fields.size() != 2)
        return false;
    PhraseNotice read;
    if (!ParseUnsigned(message.fields[0], &read.seq) || read.seq == 0 ||
        !IsSayablePhrase(message.fields[1]))
        return false;
    read.phrase = message.fields[1];
    *notice = std::move(read);
    return true;
}

std::string FormatPhraseNotice(const PhraseNotice &notice)
{
    return FormatChannelLine("PHRASE", {std::to_string(notice.seq), notice.phrase});
}

bool ParseDoneNotice(const ChannelMessage &message, DoneNotice *notice)
{
    return message.verb == "DONE" && ParseResult(message, false, notice);
}

std::string FormatDoneNotice(const DoneNotice &notice)
{
    return FormatChannelLine("DONE", ResultFields(notice, false));
}

bool ParseHeardNotice(const ChannelMessage &message, DoneNotice *notice)
{
    return message.verb == "HEARD" && ParseResult(message, true, notice);
}

std::string FormatHeardNotice(const DoneNotice &notice)
{
    return FormatChannelLine("HEARD", ResultFields(notice, true));
}
