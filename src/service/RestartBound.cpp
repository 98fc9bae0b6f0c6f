// The restart bound of one session.
#include "service/RestartBound.h"

#include "service/ServiceNames.h"

namespace ravitor::service {

bool RestartBound::TakeOne(std::uint64_t nowMs) {
  while (!times_.empty() && nowMs - times_.front() >= kRestartWindowMs) times_.pop_front();
  if (times_.size() >= kRestartLimit) return false;
  times_.push_back(nowMs);
  return true;
}

}  // namespace ravitor::service
