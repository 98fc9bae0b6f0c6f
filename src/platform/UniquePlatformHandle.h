// Move-only owner of a handle obtained through the platform seam: the handle
// is given back through the same platform when the owner goes out of scope.
#pragma once

#include <utility>

#include "platform/Platform.h"

namespace ravitor {

template <typename Handle, void (Platform::*Close)(Handle)>
class UniquePlatformHandle {
 public:
  UniquePlatformHandle() = default;
  UniquePlatformHandle(Platform& platform, Handle handle) : platform_(&platform), handle_(handle) {}
  UniquePlatformHandle(UniquePlatformHandle&& other) noexcept
      : platform_(other.platform_), handle_(std::exchange(other.handle_, Handle{})) {}
  UniquePlatformHandle& operator=(UniquePlatformHandle&& other) noexcept {
    if (this != &other) {
      reset();
      platform_ = other.platform_;
      handle_ = std::exchange(other.handle_, Handle{});
    }
    return *this;
  }
  UniquePlatformHandle(const UniquePlatformHandle&) = delete;
  UniquePlatformHandle& operator=(const UniquePlatformHandle&) = delete;
  ~UniquePlatformHandle() { reset(); }

  Handle get() const { return handle_; }
  explicit operator bool() const { return handle_ != Handle{}; }

  void reset() {
    if (handle_ != Handle{}) (platform_->*Close)(std::exchange(handle_, Handle{}));
  }

 private:
  Platform* platform_ = nullptr;
  Handle handle_{};
};

using UniqueRegistryKey = UniquePlatformHandle<RegistryKey, &Platform::CloseKey>;
using UniqueHook = UniquePlatformHandle<HookHandle, &Platform::RemoveHook>;
using UniqueThreadHandle = UniquePlatformHandle<ThreadHandle, &Platform::CloseThreadHandle>;
using UniqueEventSource = UniquePlatformHandle<EventSourceHandle, &Platform::CloseEventSource>;
using UniqueMutex = UniquePlatformHandle<MutexHandle, &Platform::CloseMutex>;

}  // namespace ravitor
