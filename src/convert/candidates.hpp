// A candidate list (every upper pair x lower pair, in search order) kept as two parts: the
// entries that have won a block at least once, most recent first, and all others in their
// original order. Moving a winner to the front keeps this split, so the list never has to be
// stored or shifted whole, and the untouched part can be walked pair by pair.
#pragma once

#include <array>
#include <cstdint>

#include "convert/types.hpp"

namespace lumaweave {

class CandidateList {
  public:
    // Candidate id = upper pair index * n + lower pair index; the original order is id order.
    void reset(int pair_count);

    int pair_count() const { return n_; }
    int moved_count() const { return moved_count_; }
    // Entry p (0 <= p < moved_count()) of the front part.
    std::uint16_t moved(int p) const { return front_[p]; }
    bool is_moved(int id) const { return front_pos_[id] >= 0; }

    // A key of the entry's place: smaller keys stand earlier in the list.
    int key(int id) const { return front_pos_[id] >= 0 ? front_pos_[id] : moved_count_ + id; }

    // True when id a stands before id b in the list.
    bool before(int a, int b) const {
        const int pa = front_pos_[a], pb = front_pos_[b];
        if (pa >= 0 || pb >= 0) return pb < 0 || (pa >= 0 && pa < pb);
        return a < b;
    }

    // Moves the entry to index 0; the entries before it move one place back.
    void move_to_front(int id);

  private:
    int n_ = 0;
    int moved_count_ = 0;
    // Left uninitialised: reset fills the places of the ids in use, and the front part is read
    // only as far as it has grown.
    std::array<std::uint16_t, max_candidates> front_;
    std::array<std::int16_t, max_candidates> front_pos_;
};

}  // namespace lumaweave
