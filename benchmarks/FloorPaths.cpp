// The floor paths, in a file of their own so that the compiler treats them
// like the core's paths: called across a translation unit, not inlined into
// the benchmark loop.
#include "FloorPaths.h"

#include "settings/PolicyNames.h"

namespace ravitor::benchmarks {

void FloorTraceCheck(Platform& platform, const wchar_t* line) {
  const RegistryKey key = platform.OpenKeyForRead(Hive::LocalMachine, kTraceSwitchKey);
  if (key == RegistryKey{}) return;
  platform.OutputDebugText(line);
  platform.CloseKey(key);
}

std::uint32_t FloorLastInputRead(Platform& platform) {
  std::uint32_t tickCount = 0;
  platform.ReadLastInputTime(&tickCount);
  return tickCount;
}

std::intptr_t FloorKeyboardHook(void* context, int code, std::uintptr_t wParam,
                                std::intptr_t lParam) {
  auto& platform = *static_cast<Platform*>(context);
  FloorTraceCheck(platform, L"Keyboard timer reset");
  return platform.CallNextHook(code, wParam, lParam);
}

std::intptr_t FloorMouseHook(void* context, int code, std::uintptr_t wParam, std::intptr_t lParam) {
  auto& platform = *static_cast<Platform*>(context);
  FloorTraceCheck(platform, L"Mouse timer reset");
  return platform.CallNextHook(code, wParam, lParam);
}

bool FloorRawRead(Platform& platform, Hive hive, const wchar_t* keyPath, const wchar_t* valueName,
                  std::uint32_t& value) {
  const RegistryKey key = platform.OpenKeyForRead(hive, keyPath);
  if (key == RegistryKey{}) return false;
  std::uint32_t size = sizeof value;
  const bool read = platform.QueryValue(key, valueName, &value, &size);
  platform.CloseKey(key);
  return read;
}

}  // namespace ravitor::benchmarks
