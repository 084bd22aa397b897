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
        read.application.size() > MaxNameLength || read.state.size() > MaxNameLength)
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

Verb FindVerb(const std::string &name)
{
    for (const VerbEntry &entry : Verbs)
        if (name == entry.name)
            return entry.verb;
    return Verb::Unknown;
}

// LISTENING, SERVICE and DROP: one number, stored only when it is one.
bool ParseNumber(const ChannelMessage &message, uint32_t *number)
{
    return message.fields.size() == 1 && ParseUnsigned(message.fields[0], number);
}

// REFUSED and ERROR: a reason, which may be empty.
bool ParseReason(const ChannelMessage &message, Verb verb, ReasonNotice *notice)
{
    if (message.verb != verb || message.fields.size() != 1)
        return false;
    notice->why = message.fields[0];
    return true;
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

const char *VerbName(Verb verb)
{
    return verb == Verb::Unknown ? "" : Verbs[static_cast<size_t>(verb)].name;
}

Sender VerbSender(Verb verb)
{
    return verb == Verb::Unknown ? Sender::Hub : Verbs[static_cast<size_t>(verb)].sender;
}

bool ParseChannelLine(const std::string &line, ChannelMessage *message)
{
    if (line.size() > MaxChannelLine)
        return false;
    size_t at = 0;
    while (at < line.size() && line[at] >= 'A' && line[at] <= 'Z')
        ++at;
    if (at == 0 || at > MaxVerbLength || (at < line.size() && line[at] != '\t'))
        return false;
    ChannelMessage read;
    read.verb = FindVerb(line.substr(0, at));
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

std::string FormatChannelLine(Verb verb, const std::vector<std::string> &fields)
{
    std::string line = VerbName(verb);
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

bool ParseEmptyNotice(const ChannelMessage &message, Verb verb)
{
    return verb != Verb::Unknown && message.verb == verb && message.fields.empty();
}

std::string FormatEmptyNotice(Verb verb)
{
    return FormatChannelLine(verb, {});
}

bool ParseSayNotice(const ChannelMessage &message, SayNotice *notice)
{
    const auto &f = message.fields;
    uint32_t score = 0;
    if (message.verb != Verb::Say || (f.size() != 1 && f.size() != 2))
        return false;
    if (f.size() == 2 && (!ParseUnsigned(f[1], &score) || score > MaxScore))
        return false;
    *notice = {f[0], f.size() == 2 ? static_cast<int>(score) : -1};
    return true;
}

std::string FormatSayNotice(const SayNotice &notice)
{
    if (notice.score < 0)
        return FormatChannelLine(Verb::Say, {notice.phrase});
    return FormatChannelLine(Verb::Say, {notice.phrase, std::to_string(notice.score)});
}

bool ParseSaidNotice(const ChannelMessage &message, SaidNotice *notice)
{
    SaidNotice read;
    if (message.verb != Verb::Said || message.fields.size() != 2 ||
        !ParseUnsigned(message.fields[0], &read.seq) ||
        !ParseUnsigned(message.fields[1], &read.services))
        return false;
    *notice = read;
    return true;
}

std::string FormatSaidNotice(const SaidNotice &notice)
{
    return FormatChannelLine(Verb::Said,
                             {std::to_string(notice.seq), std::to_string(notice.services)});
}

bool ParseListenNotice(const ChannelMessage &message, ListenNotice *notice)
{
    const auto &f = message.fields;
    if (message.verb != Verb::Listen || f.size() != 1 || f[0].empty() ||
        f[0].size() > MaxListenPath)
        return false;
    notice->path = f[0];
    return true;
}

std::string FormatListenNotice(const ListenNotice &notice)
{
    return FormatChannelLine(Verb::Listen, {notice.path});
}

bool ParseListeningNotice(const ChannelMessage &message, ListeningNotice *notice)
{
    return message.verb == Verb::Listening && ParseNumber(message, &notice->millis);
}

std::string FormatListeningNotice(const ListeningNotice &notice)
{
    return FormatChannelLine(Verb::Listening, {std::to_string(notice.millis)});
}

bool ParseRefusedNotice(const ChannelMessage &message, ReasonNotice *notice)
{
    return ParseReason(message, Verb::Refused, notice);
}

std::string FormatRefusedNotice(const ReasonNotice &notice)
{
    return FormatChannelLine(Verb::Refused, {notice.why});
}

bool ParseErrorNotice(const ChannelMessage &message, ReasonNotice *notice)
{
    return ParseReason(message, Verb::Error, notice);
}

std::string FormatErrorNotice(const ReasonNotice &notice)
{
    return FormatChannelLine(Verb::Error, {notice.why});
}

bool ParseCommandsNotice(const ChannelMessage &message, CommandsNotice *notice)
{
    if (message.verb != Verb::Commands)
        return false;
    for (const std::string &phrase : message.fields)
        if (!IsSayablePhrase(phrase))
            return false;
    notice->phrases = message.fields;
    return true;
}

std::string FormatCommandsNotice(const CommandsNotice &notice)
{
    return FormatChannelLine(Verb::Commands, notice.phrases);
}

bool ParseStatusNotice(const ChannelMessage &message, StatusNotice *notice)
{
    const auto &f = message.fields;
    StatusNotice read;
    if (message.verb != Verb::Status || f.empty() || !ParseUnsigned(f[0], &read.hub))
        return false;
    read.services.resize(f.size() - 1);
    for (size_t i = 1; i < f.size(); ++i)
        if (!ParseUnsigned(f[i], &read.services[i - 1]))
            return false;
    *notice = std::move(read);
    return true;
}

std::string FormatStatusNotice(const StatusNotice &notice)
{
    std::vector<std::string> pids = {std::to_string(notice.hub)};
    for (uint32_t pid : notice.services)
        pids.push_back(std::to_string(pid));
    return FormatChannelLine(Verb::Status, pids);
}

bool ParseServiceNotice(const ChannelMessage &message, ServiceNotice *notice)
{
    return message.verb == Verb::Service && ParseNumber(message, &notice->pid);
}

std::string FormatServiceNotice(const ServiceNotice &notice)
{
    return FormatChannelLine(Verb::Service, {std::to_string(notice.pid)});
}

bool ParseMenuNotice(const ChannelMessage &message, MenuNotice *notice)
{
    const auto &f = message.fields;
    if (message.verb != Verb::Menu || f.size() < 5 || f.size() - 5 > MaxMenuCommands)
        return false;
    MenuNotice read;
    if (!ParseUnsigned(f[0], &read.id) || !ParseFlag(f[1], &read.active) ||
        !ParseFlag(f[2], &read.listening) || f[3].size() > MaxNameLength ||
        f[4].size() > MaxNameLength)
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
    return FormatChannelLine(Verb::Menu, fields);
}

bool ParseDropNotice(const ChannelMessage &message, DropNotice *notice)
{
    return message.verb == Verb::Drop && ParseNumber(message, &notice->id);
}

std::string FormatDropNotice(const DropNotice &notice)
{
    return FormatChannelLine(Verb::Drop, {std::to_string(notice.id)});
}

bool ParsePhraseNotice(const ChannelMessage &message, PhraseNotice *notice)
{
    if (message.verb != Verb::Phrase || message.fields.size() != 2)
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
    return FormatChannelLine(Verb::Phrase, {std::to_string(notice.seq), notice.phrase});
}

bool ParseLevelNotice(const ChannelMessage &message, LevelNotice *notice)
{
    uint32_t level = 0;
    if (message.verb != Verb::Level || message.fields.size() != 1 ||
        !ParseUnsigned(message.fields[0], &level) || level > MaxLevel)
        return false;
    notice->level = static_cast<uint16_t>(level);
    return true;
}

std::string FormatLevelNotice(const LevelNotice &notice)
{
    return FormatChannelLine(Verb::Level, {std::to_string(notice.level)});
}

bool ParseDoneNotice(const ChannelMessage &message, DoneNotice *notice)
{
    return message.verb == Verb::Done && ParseResult(message, false, notice);
}

std::string FormatDoneNotice(const DoneNotice &notice)
{
    return FormatChannelLine(Verb::Done, ResultFields(notice, false));
}

std::string FormatDroppedNotice(uint32_t seq, const std::string &application,
                                const std::string &state)
{
    DoneNotice dropped;
    dropped.seq = seq;
    dropped.outcome = Outcome::Dropped;
    dropped.application = application;
    dropped.state = state;
    return FormatDoneNotice(dropped);
}

bool ParseHeardNotice(const ChannelMessage &message, DoneNotice *notice)
{
    return message.verb == Verb::Heard && ParseResult(message, true, notice);
}

std::string FormatHeardNotice(const DoneNotice &notice)
{
    return FormatChannelLine(Verb::Heard, ResultFields(notice, true));
}
