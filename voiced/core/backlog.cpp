// The bridge's and the link's bookkeeping of lines on their way to a window.
#include "voiced/core/backlog.h"

Backlogs::Hand Backlogs::Add(int id, size_t bytes)
{
    Backlog &backlog = backlogs_[id];
    if (backlog.cut)
        return Hand::Cut;
    if (backlog.lines >= maxLines_ || backlog.bytes + bytes > maxBytes_) {
        backlog.cut = true;
        return Hand::CutNow;
    }
    backlog.lines++, backlog.bytes += bytes;
    return Hand::On;
}

void Backlogs::Taken(int id, size_t bytes)
{
    const auto backlog = backlogs_.find(id);
    if (backlog == backlogs_.end())
        return; // closed meanwhile: it counts no more
    backlog->second.lines--, backlog->second.bytes -= bytes;
}

void Backlogs::Closed(int id)
{
    backlogs_.erase(id);
}

size_t Backlogs::Lines(int id) const
{
    const auto backlog = backlogs_.find(id);
    return backlog == backlogs_.end() ? 0 : backlog->second.lines;
}

size_t Backlogs::Bytes(int id) const
{
    const auto backlog = backlogs_.find(id);
    return backlog == backlogs_.end() ? 0 : backlog->second.bytes;
}

LinkGate::Kind LinkGate::KindOf(const std::string &line, ChannelMessage *message)
{
    PhraseNotice phrase;
    if (!ParseChannelLine(line, message))
        return Kind::Other;
    if (message->verb == Verb::Level)
        return Kind::Level;
    return ParsePhraseNotice(*message, &phrase) ? Kind::Phrase : Kind::Other;
}

LinkGate::Action LinkGate::Arrived(const std::string &line, uint32_t *dropped)
{
    ChannelMessage message;
    switch (KindOf(line, &message)) {
    case Kind::Level: {
        LevelNotice level;
        if (!ParseLevelNotice(message, &level))
            return Action::Keep;
        level_ = level.level;
        return levelWaiting_.exchange(true) ? Action::Keep : Action::Post;
    }
    case Kind::Phrase: {
        PhraseNotice phrase;
        ParsePhraseNotice(message, &phrase);
        if (phrases_ >= MaxWaitingPhrases) {
            *dropped = phrase.seq;
            return Action::AnswerDropped;
        }
        ++phrases_;
        return Action::Post;
    }
    default: return Action::Post;
    }
}

void LinkGate::NotPosted(const std::string &line)
{
    ChannelMessage message;
    const Kind kind = KindOf(line, &message);
    if (kind == Kind::Level)
        levelWaiting_ = false;
    else if (kind == Kind::Phrase)
        --phrases_;
}

void LinkGate::Handled(const std::string &line, uint16_t *level)
{
    ChannelMessage message;
    const Kind kind = KindOf(line, &message);
    if (kind == Kind::Phrase) {
        --phrases_;
    } else if (kind == Kind::Level) {
        levelWaiting_ = false;
        if (level)
            *level = level_;
    }
}
