// Move-only owner of a Win32 handle for the programs beside the core (the trace
// viewer, the test helpers, the floor program), which call Windows directly
// rather than through the platform seam.
#pragma once

#include <windows.h>

#include <cstdio>
#include <utility>

namespace ravitor::win32 {

// What a failed call returns and an empty owner holds. Given as functions
// because INVALID_HANDLE_VALUE is a cast, which no constant expression allows.
template <typename Handle>
constexpr Handle NullHandleValue() noexcept {
  return Handle{};
}

inline HANDLE InvalidHandleValue() noexcept { return INVALID_HANDLE_VALUE; }

template <typename Handle, auto Close, Handle (*Invalid)() = &NullHandleValue<Handle>>
class UniqueWin32Handle {
 public:
  UniqueWin32Handle() noexcept = default;
  explicit UniqueWin32Handle(Handle handle) noexcept : handle_(handle) {}
  UniqueWin32Handle(UniqueWin32Handle&& other) noexcept : handle_(other.release()) {}
  UniqueWin32Handle& operator=(UniqueWin32Handle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueWin32Handle(const UniqueWin32Handle&) = delete;
  UniqueWin32Handle& operator=(const UniqueWin32Handle&) = delete;
  ~UniqueWin32Handle() { reset(); }

  Handle get() const noexcept { return handle_; }
  explicit operator bool() const noexcept { return handle_ != Invalid(); }

  void reset(Handle handle = Invalid()) noexcept {
    const Handle previous = std::exchange(handle_, handle);
    // A close that fails at the end of a scope leaves nothing to do about it.
    if (previous != Invalid()) static_cast<void>(Close(previous));
  }

  Handle release() noexcept { return std::exchange(handle_, Invalid()); }

  // For calls that hand the new handle back through an out-parameter: the one
  // held so far is closed first, so that it cannot leak when overwritten.
  Handle* put() noexcept {
    reset();
    return &handle_;
  }

 private:
  Handle handle_ = Invalid();
};

// A standard library function's address is not portably taken: wrap it.
inline int CloseStdioFile(std::FILE* file) noexcept { return std::fclose(file); }

using unique_handle = UniqueWin32Handle<HANDLE, &::CloseHandle>;
// Files and tool-help snapshots fail with INVALID_HANDLE_VALUE, not null.
using unique_hfile = UniqueWin32Handle<HANDLE, &::CloseHandle, &InvalidHandleValue>;
using unique_hkey = UniqueWin32Handle<HKEY, &::RegCloseKey>;
using unique_hhook = UniqueWin32Handle<HHOOK, &::UnhookWindowsHookEx>;
using unique_mapped_view = UniqueWin32Handle<void*, &::UnmapViewOfFile>;
using unique_stdio_file = UniqueWin32Handle<std::FILE*, &CloseStdioFile>;

}  // namespace ravitor::win32
