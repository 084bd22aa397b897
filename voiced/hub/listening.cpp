// The keys to hold, the name's form and the hold's sound.
#include "voiced/hub/listening.h"
#include <algorithm>

const HoldKey HoldKeys[] = {
    {0xA3, "Right Ctrl"}, // the default: a modifier that does nothing alone
    {0xA5, "Right Alt"},  // AltGr on many layouts: only where it is not needed
    {0x91, "Scroll Lock"}, {0x13, "Pause"}, {0x7C, "F13"}, {0x2D, "Insert"},
};
const size_t HoldKeyCount = sizeof HoldKeys / sizeof HoldKeys[0];
static_assert(sizeof HoldKeys / sizeof HoldKeys[0] > 0 && DefaultHoldKey == 0xA3,
              "the default key is the table's first row");

const HoldKey *FindHoldKey(unsigned vk)
{
    for (const HoldKey &key : HoldKeys)
        if (key.vk == vk)
            return &key;
    return nullptr;
}

std::string RecognisedName(const std::string &name)
{
    std::string words;
    bool letter = false, space = false;
    for (const char c : name) {
        if (c == ' ' || c == '\t') {
            space = !words.empty();
            continue;
        }
        const bool isLetter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!isLetter && c != '\'' && c != '-')
            return "";
        if (space)
            words += ' ';
        space = false;
        letter = letter || isLetter;
        words += isLetter && c <= 'Z' ? char(c - 'A' + 'a') : c;
    }
    return letter && words.size() <= MaxListenNameLength ? words : "";
}

HoldSound::HoldSound(size_t lead, size_t tail, size_t most)
    : lead_(lead), tail_(tail), most_(std::max(most, lead)), ring_(lead)
{
}

bool HoldSound::Press()
{
    if (state_ == Tail) {
        state_ = Down; // pressed again within the tail: the hold goes on
        return true;
    }
    if (state_ != Up)
        return false;
    // The ring, oldest first, leads the hold.
    kept_.clear();
    held_ = 0;
    const size_t oldest = ringFill_ < lead_ ? 0 : ringAt_;
    for (size_t i = 0; i < ringFill_; ++i)
        kept_.push_back(ring_[(oldest + i) % lead_]);
    held_ = kept_.size();
    ringFill_ = ringAt_ = 0;
    state_ = Down;
    return true;
}

void HoldSound::ForgetLead()
{
    ringFill_ = ringAt_ = 0;
}

bool HoldSound::Release()
{
    if (state_ != Down)
        return false;
    state_ = Tail;
    tailLeft_ = tail_;
    return true;
}

void HoldSound::Keep(const int16_t *samples, size_t count)
{
    const size_t room = most_ - std::min(most_, held_);
    const size_t taken = std::min(count, room);
    kept_.insert(kept_.end(), samples, samples + taken);
    held_ += taken;
}

bool HoldSound::Add(const int16_t *samples, size_t count)
{
    switch (state_) {
    case Up:
        for (size_t i = lead_ && count > lead_ ? count - lead_ : 0; lead_ && i < count; ++i) {
            ring_[ringAt_] = samples[i];
            ringAt_ = (ringAt_ + 1) % lead_;
            ringFill_ = std::min(ringFill_ + 1, lead_);
        }
        return false;
    case Down: Keep(samples, count); return false;
    case Tail: break;
    }
    const size_t taken = std::min(count, tailLeft_);
    Keep(samples, taken);
    tailLeft_ -= taken;
    if (tailLeft_ > 0)
        return false;
    state_ = Up;
    // What came after the tail starts the next lead.
    Add(samples + taken, count - taken);
    return true;
}

std::vector<int16_t> HoldSound::Take()
{
    std::vector<int16_t> kept;
    kept.swap(kept_);
    return kept;
}
