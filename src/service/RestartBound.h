// How often a session's copy may be started again: at most kRestartLimit
// times within any kRestartWindowMs.
#pragma once

#include <cstdint>
#include <deque>

namespace ravitor::service {

class RestartBound {
 public:
  // Takes one restart at `nowMs` if the bound allows it.
  bool TakeOne(std::uint64_t nowMs);
  std::uint32_t Taken() const { return static_cast<std::uint32_t>(times_.size()); }

 private:
  std::deque<std::uint64_t> times_;  // restarts within the window, oldest first
};

}  // namespace ravitor::service
