// Who runs independent pieces of work: the calling thread alone (the core's own default, and all
// there is in the web build) or a front end's pool of threads. The core never starts a thread;
// a front end that has threads hands in a Workers of its own.
#pragma once

#include <algorithm>
#include <functional>

namespace lumaweave {

class Workers {
  public:
    virtual ~Workers() = default;
    // How many tasks can run at the same time.
    virtual int count() const = 0;
    // Runs task(i) for every i in [0, n), in any order and on any worker, and returns when all
    // have run. Tasks must not depend on each other's order.
    virtual void for_each(int n, const std::function<void(int)>& task) = 0;
};

// The calling thread alone: tasks run in order, 0 to n - 1.
Workers& serial_workers();

// Runs rows(first, end) over [0, height) in bands, as many at once as the workers allow (one band
// on the calling thread alone), for stages whose rows do not depend on each other.
template <class F>
void for_row_bands(Workers& workers, int height, F rows) {
    const int bands = workers.count() == 1 ? 1 : std::min(height, 4 * workers.count());
    if (bands <= 1) {
        rows(0, height);
        return;
    }
    workers.for_each(bands, [&](int b) { rows(b * height / bands, (b + 1) * height / bands); });
}

}  // namespace lumaweave
