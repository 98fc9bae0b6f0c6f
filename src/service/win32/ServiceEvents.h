// The events the session service handles on its own thread: the service
// control handler and the thread pool's process waits put them here, and
// the service's one wait loop takes them out.
#pragma once

#include <windows.h>

#include <cstdint>
#include <deque>
#include <utility>

#include "platform/win32/UniqueWin32Handle.h"
#include "service/ServicePlatform.h"

namespace ravitor::service::win32 {

// An exclusive hold of a slim reader/writer lock for one scope (MinGW's
// default thread model has no std::mutex).
class ExclusiveLock {
 public:
  explicit ExclusiveLock(SRWLOCK& lock) : lock_(lock) { ::AcquireSRWLockExclusive(&lock_); }
  ~ExclusiveLock() { ::ReleaseSRWLockExclusive(&lock_); }
  ExclusiveLock(const ExclusiveLock&) = delete;
  ExclusiveLock& operator=(const ExclusiveLock&) = delete;

 private:
  SRWLOCK& lock_;
};

struct ServiceEvent {
  enum class Kind { Stop, SessionChange, ProcessEnded };
  Kind kind;
  std::uint32_t code = 0;       // SessionChange: the WTS_SESSION_* code
  std::uint32_t sessionId = 0;  // SessionChange
  ProcessHandle process{};      // ProcessEnded
};

class ServiceEvents {
 public:
  ServiceEvents() : ready_(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

  bool Created() const { return static_cast<bool>(ready_); }
  // Signalled whenever an event has been put.
  HANDLE Ready() const { return ready_.get(); }

  // From any thread.
  void Put(const ServiceEvent& event) {
    {
      const ExclusiveLock hold(lock_);
      events_.push_back(event);
    }
    ::SetEvent(ready_.get());
  }

  std::deque<ServiceEvent> TakeAll() {
    const ExclusiveLock hold(lock_);
    return std::exchange(events_, {});
  }

 private:
  ravitor::win32::unique_handle ready_;
  SRWLOCK lock_ = SRWLOCK_INIT;
  std::deque<ServiceEvent> events_;
};

}  // namespace ravitor::service::win32
