// The floors the core's paths are measured against: the platform calls each
// path must make by design, made directly, with none of the core's logic.
#pragma once

#include <cstdint>

#include "platform/Platform.h"

namespace ravitor::benchmarks {

// The trace switch as designed: open the key, write the line while it
// exists, close it again.
void FloorTraceCheck(Platform& platform, const wchar_t* line);

// The one reading of the session's last input time that a tick of the
// connected set makes; returns what it read.
std::uint32_t FloorLastInputRead(Platform& platform);

// Hook procedures (context: the Platform) that make the one trace check of
// an input event and pass the event on.
std::intptr_t FloorKeyboardHook(void* context, int code, std::uintptr_t wParam,
                                std::intptr_t lParam);
std::intptr_t FloorMouseHook(void* context, int code, std::uintptr_t wParam, std::intptr_t lParam);

// One open/query/close of a four-byte value, as ReadRegistryDword does it
// but without checking the data's length or assembling the number.
bool FloorRawRead(Platform& platform, Hive hive, const wchar_t* keyPath, const wchar_t* valueName,
                  std::uint32_t& value);

}  // namespace ravitor::benchmarks
