// Move-only owner of a Win32 handle, closed by the function it is made with.
#pragma once

#include <windows.h>

#include <utility>

namespace ravitor::win32 {

template <typename Handle, auto Close>
class UniqueWin32Handle {
 public:
  UniqueWin32Handle() = default;
  explicit UniqueWin32Handle(Handle handle) : handle_(handle) {}
  UniqueWin32Handle(UniqueWin32Handle&& other) noexcept
      : handle_(std::exchange(other.handle_, Handle{})) {}
  UniqueWin32Handle& operator=(UniqueWin32Handle&& other) noexcept {
    if (this != &other) {
      reset();
      handle_ = std::exchange(other.handle_, Handle{});
    }
    return *this;
  }
  UniqueWin32Handle(const UniqueWin32Handle&) = delete;
  UniqueWin32Handle& operator=(const UniqueWin32Handle&) = delete;
  ~UniqueWin32Handle() { reset(); }

  Handle get() const { return handle_; }
  Handle* put() {
    reset();
    return &handle_;
  }
  Handle release() { return std::exchange(handle_, Handle{}); }
  explicit operator bool() const { return handle_ != Handle{}; }

  void reset() {
    if (handle_ != Handle{}) Close(std::exchange(handle_, Handle{}));
  }

 private:
  Handle handle_{};
};

using UniqueHkey = UniqueWin32Handle<HKEY, &::RegCloseKey>;
using UniqueHandle = UniqueWin32Handle<HANDLE, &::CloseHandle>;

}  // namespace ravitor::win32
