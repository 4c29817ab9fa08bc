#include "convert/workers.hpp"

namespace lumaweave {

namespace {

class SerialWorkers final : public Workers {
  public:
    int count() const override { return 1; }
    void for_each(int n, const std::function<void(int)>& task) override {
        for (int i = 0; i < n; ++i)
            task(i);
    }
};

}  // namespace

Workers& serial_workers() {
    static SerialWorkers workers;
    return workers;
}

}  // namespace lumaweave
