// ServiceCore: one service process's menus and attributes, what a phrase
// means to them, and the queue that keeps calls into a sink one at a time.
#pragma once
#include "voiced/core/channel.h"
#include <deque>
#include <memory>

struct ServiceMenu {
    uint32_t id = 0;
    std::string application; // at most MaxNameLength bytes
    std::string state;       // at most MaxNameLength bytes
    uint16_t language = 0;
    std::string dialect; // at most 63 characters
    bool temporary = false;
    bool active = false;
    std::vector<VoiceCommand> commands;
};

// What a phrase means to one service process: copies, which a delivery
// keeps whatever the client does to its menus while a call is out.
struct Recognition {
    Outcome outcome = Outcome::Ignored;
    std::string application; // Ran: the command's menu; Other: the first active one
    std::string state;
    VoiceCommand command; // Ran only
};

class ServiceCore {
  public:
    // Opens the menu named by application and state (compared without regard
    // to case), creating it when there is none. Returns its id, or 0 when a
    // new one would be more than MaxServiceMenus.
    uint32_t OpenMenu(const std::string &application, const std::string &state, uint16_t language,
                      const std::string &dialect, bool temporary);
    // A holder let go of a menu: a temporary menu no one holds is gone.
    void CloseMenu(uint32_t id, bool lastHolder);
    ServiceMenu *Menu(uint32_t id);
    const std::vector<std::unique_ptr<ServiceMenu>> &Menus() const { return menus_; }

    // Add: the block checked and copied. Returns 1 with the number the first
    // new command has in the menu (from 1), or 0 when the block is malformed
    // or the menu would grow beyond MaxMenuCommands.
    int Add(uint32_t menu, const uint8_t *block, size_t size, uint32_t count, uint32_t *first);

    bool enabled = false;
    bool awake = false;
    bool Listening() const; // enabled, awake and at least one menu active

    // Matches a phrase against the commands of the active menus, in the order
    // the menus were created and the commands added.
    Recognition Recognise(const std::string &phrase) const;

    // The lines that publish every menu (after a reconnection) or one menu.
    MenuNotice Notice(const ServiceMenu &menu) const;

  private:
    std::vector<std::unique_ptr<ServiceMenu>> menus_;
    uint32_t nextId_ = 1;
};

// Keeps calls into a sink one at a time. Post runs deliver at once when
// nothing is being delivered; an event posted while a delivery is in progress
// (the apartment dispatches incoming calls and messages while a sink call is
// out) waits and is delivered, in order, when the current one has returned.
// Offer is Post for what may be lost: when `limit` events wait already, the
// event is dropped and Offer returns false.
template <class Event> class SerialQueue {
  public:
    template <class Deliver> bool Offer(Event event, size_t limit, Deliver deliver)
    {
        if (queue_.size() >= limit)
            return false;
        Post(std::move(event), deliver);
        return true;
    }
    template <class Deliver> void Post(Event event, Deliver deliver)
    {
        queue_.push_back(std::move(event));
        if (busy_)
            return;
        busy_ = true;
        while (!queue_.empty()) {
            Event next = std::move(queue_.front());
            queue_.pop_front();
            deliver(next);
        }
        busy_ = false;
    }
    bool Busy() const { return busy_; }
    size_t Waiting() const { return queue_.size(); }
    void Clear() { queue_.clear(); }

  private:
    std::deque<Event> queue_;
    bool busy_ = false;
};

// Whether a failed call into a sink means its process is gone (the RPC
// errors of a dead or disconnected peer), as opposed to a call it refused.
bool ClientGone(uint32_t result);
