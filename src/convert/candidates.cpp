#include "convert/candidates.hpp"

#include <algorithm>

namespace lumaweave {

void CandidateList::reset(int pair_count) {
    n_ = pair_count;
    moved_count_ = 0;
    std::fill_n(front_pos_.begin(), n_ * n_, std::int16_t{-1});
}

void CandidateList::move_to_front(int id) {
    int p = front_pos_[id];
    if (p < 0) p = moved_count_++;  // from the untouched part: the front part grows by one
    for (int q = p; q > 0; --q) {
        front_[q] = front_[q - 1];
        front_pos_[front_[q]] = static_cast<std::int16_t>(q);
    }
    front_[0] = static_cast<std::uint16_t>(id);
    front_pos_[id] = 0;
}

}  // namespace lumaweave
