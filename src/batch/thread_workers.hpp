// Workers on threads of their own, started for each for_each and joined before it returns: the
// simple way to run one picture's trial conversions on several cores until the process-wide pool
// shared with -j takes its place.
#pragma once

#include "convert/workers.hpp"

namespace lumaweave {

class ThreadWorkers final : public Workers {
  public:
    // `count` threads at most, the calling thread among them (at least 1).
    explicit ThreadWorkers(int count);
    int count() const override { return count_; }
    // Tasks are taken in index order by whichever thread is free; an exception thrown by a task
    // is thrown again here once every thread has stopped (the first one, by index).
    void for_each(int n, const std::function<void(int)>& task) override;

  private:
    int count_;
};

// The number of cores the machine reports (at least 1).
int core_count();

}  // namespace lumaweave
