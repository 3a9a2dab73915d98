#include "engine/host.h"

namespace obrint::engine {

std::unique_ptr<Clock> Host::ClockFor(const HidInterface&) {
  // Every wait goes to the one clock.
  class Shared : public Clock {
   public:
    explicit Shared(Clock& clock) : clock_(clock) {}
    void Sleep(unsigned ms) override { clock_.Sleep(ms); }

   private:
    Clock& clock_;
  };
  return std::make_unique<Shared>(clock());
}

}  // namespace obrint::engine
