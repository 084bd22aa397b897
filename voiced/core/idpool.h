// Connection ids: positive, never one still in use, and wrapping past
// INT_MAX to 1 rather than overflowing.
#pragma once
#include <climits>
#include <set>

class IdPool {
  public:
    explicit IdPool(int first = 1) : next_(first > 0 ? first : 1) {}
    int Take()
    {
        while (used_.count(next_))
            Advance();
        const int id = next_;
        used_.insert(id);
        Advance();
        return id;
    }
    void Give(int id) { used_.erase(id); }

  private:
    void Advance() { next_ = next_ == INT_MAX ? 1 : next_ + 1; }
    int next_;
    std::set<int> used_;
};
