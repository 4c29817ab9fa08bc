// Who runs independent pieces of work: the calling thread alone (the core's own default, and all
// there is in the web build) or a front end's pool of threads. The core never starts a thread;
// a front end that has threads hands in a Workers of its own.
#pragma once

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

}  // namespace lumaweave
