// How the hub listens: the user's choice of mode, the key held to talk and
// the name said first, and the sound of one hold of the key. Plain code on
// both trees: the registry (settings.h), the key's hook and the window are
// the feedback program's layers over it.
#pragma once
#include "voiced/recogniser/recogniser.h"
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A key the user may hold to talk: its virtual-key code and its name as the
// window shows it. Keys rarely pressed alone, which the low-level keyboard
// hook reports with their own code (a right-hand modifier, not the generic
// one) on Windows and under Wine alike.
struct HoldKey {
    unsigned vk;
    const char *name;
};
extern const HoldKey HoldKeys[];
extern const size_t HoldKeyCount;
constexpr unsigned DefaultHoldKey = 0xA3; // VK_RCONTROL, HoldKeys' first row
// The row of vk, or null when it is no key to hold.
const HoldKey *FindHoldKey(unsigned vk);

struct ListenSettings {
    RecogniserListen mode = RecogniserListen::Always;
    unsigned key = DefaultHoldKey;
    std::string name = "Nelko"; // as the user spelt it
    double sensitivity = RecogniserDefaultThreshold;
    bool operator==(const ListenSettings &other) const
    {
        return mode == other.mode && key == other.key && name == other.name &&
               sensitivity == other.sensitivity;
    }
};
constexpr size_t MaxListenNameLength = 32;
// The name as the recogniser takes it (lower case, single spaces, trimmed),
// or "" when it is no name: nothing but letters, apostrophes, hyphens and
// spaces, at least one letter, at most MaxListenNameLength characters.
std::string RecognisedName(const std::string &name);

// One hold of the key, handed out as it comes from the microphone's samples:
// while the key is up, only the last `lead` samples are kept (a ring); from
// the press on, everything, until `tail` samples after the release. Samples
// past `most` in one hold are dropped (it is decoded as far as it went).
class HoldSound {
  public:
    HoldSound(size_t lead, size_t tail, size_t most);
    // The key went down or up: true when that began a hold, or went on with
    // one in its tail (Press), or ended the key's hold (Release); auto-repeat
    // and a release without a press change nothing.
    bool Press();
    bool Release();
    bool Held() const { return state_ == Down; }
    // The sound stopped coming for a while: what the ring holds is no
    // longer just before a press.
    void ForgetLead();
    // Samples as they arrive; true when they completed a hold.
    bool Add(const int16_t *samples, size_t count);
    // What the hold kept since the last Take: the lead first, after a press.
    std::vector<int16_t> Take();

  private:
    enum State { Up, Down, Tail };
    void Keep(const int16_t *samples, size_t count);
    size_t lead_, tail_, most_;
    State state_ = Up;
    std::vector<int16_t> ring_; // lead_ samples, oldest at ringAt_ once full
    size_t ringAt_ = 0;
    size_t ringFill_ = 0;
    std::vector<int16_t> kept_; // since the last Take
    size_t held_ = 0;           // samples kept in this hold
    size_t tailLeft_ = 0;
};
