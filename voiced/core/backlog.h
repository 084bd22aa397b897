// What the channel's connections have handed on to a window that has not
// taken it yet, and what a service's link lets through to its window: the
// bookkeeping behind the bridge and the link, plain code so that it can be
// fuzzed on its own. The owners lock around it.
#pragma once
#include "voiced/core/channel.h"
#include <atomic>
#include <cstddef>
#include <map>

// Per connection: lines handed on and not taken yet, and their bytes. A
// connection past either limit is cut off, once, and hands on nothing more.
class Backlogs {
  public:
    Backlogs(size_t maxLines, size_t maxBytes) : maxLines_(maxLines), maxBytes_(maxBytes) {}
    enum class Hand {
        On,     // counted: hand it on
        CutNow, // over a limit: close the connection (said once)
        Cut     // closed for it already: drop it
    };
    Hand Add(int id, size_t bytes);
    void Taken(int id, size_t bytes); // the window took one of its lines
    void Closed(int id);              // its lines still waiting count no more
    size_t Lines(int id) const;
    size_t Bytes(int id) const;

  private:
    struct Backlog {
        size_t lines = 0, bytes = 0;
        bool cut = false;
    };
    size_t maxLines_, maxBytes_;
    std::map<int, Backlog> backlogs_;
};

// A service's link to the hub, between the engine's thread (Arrived) and the
// window's (Handled): PHRASE lines waiting for the window are bounded (one
// more is answered at once as dropped), and of LEVEL lines one waits at a
// time, carrying the latest level when the window takes it.
class LinkGate {
  public:
    static constexpr int MaxWaitingPhrases = 16;
    enum class Action {
        Post,          // hand the line to the window
        AnswerDropped, // a phrase too many: answer it with *dropped
        Keep           // nothing to post (a level merged into the one waiting, or malformed)
    };
    // The engine's thread: what to do with a line from the hub.
    Action Arrived(const std::string &line, uint32_t *dropped);
    // The engine's thread: a line Arrived said to post could not be.
    void NotPosted(const std::string &line);
    // The window's thread: it handles a line it was posted. For a LEVEL,
    // *level (when given) becomes the latest level.
    void Handled(const std::string &line, uint16_t *level = nullptr);
    int WaitingPhrases() const { return phrases_; }

  private:
    enum class Kind { Phrase, Level, Other };
    static Kind KindOf(const std::string &line, ChannelMessage *message);
    std::atomic<int> phrases_{0};
    std::atomic<uint16_t> level_{0};
    std::atomic<bool> levelWaiting_{false};
};
