// Conversions between the seam's opaque handles and Win32 handles.
#pragma once

#include <windows.h>

#include <cstdint>

namespace ravitor::win32 {

template <typename Native, typename Opaque>
Native ToNative(Opaque handle) {
  return reinterpret_cast<Native>(static_cast<std::uintptr_t>(handle));
}

template <typename Opaque, typename Native>
Opaque FromNative(Native handle) {
  return Opaque{reinterpret_cast<std::uintptr_t>(handle)};
}

}  // namespace ravitor::win32
