// The values of Windows that the portable core passes to the platform or
// reads from it, mirrored once here; src/platform/win32/Win32Checks.cpp
// checks every one against <windows.h>.
#pragma once

#include <cstdint>

namespace ravitor {

// Window messages.
inline constexpr std::uint32_t kWmDestroy = 0x0002;
inline constexpr std::uint32_t kWmPaint = 0x000F;
inline constexpr std::uint32_t kWmClose = 0x0010;
inline constexpr std::uint32_t kWmQueryEndSession = 0x0011;
inline constexpr std::uint32_t kWmEndSession = 0x0016;
inline constexpr std::uint32_t kWmSettingChange = 0x001A;
inline constexpr std::uint32_t kWmCommand = 0x0111;
inline constexpr std::uint32_t kWmTimer = 0x0113;
inline constexpr std::uint32_t kWmWtsSessionChange = 0x02B1;

// Session-change codes of WM_WTSSESSION_CHANGE.
inline constexpr std::uint32_t kWtsConsoleConnect = 1;
inline constexpr std::uint32_t kWtsConsoleDisconnect = 2;
inline constexpr std::uint32_t kWtsRemoteConnect = 3;
inline constexpr std::uint32_t kWtsRemoteDisconnect = 4;

// Message box style of a warning: MB_OK | MB_ICONHAND | MB_SETFOREGROUND |
// MB_TOPMOST. Not MB_SERVICE_NOTIFICATION: Windows would hand such a box to
// the session's csrss.exe, whose window the sweep's WM_CLOSE cannot reach,
// and show it on the secure desktop of a locked session. Without it the box
// belongs to the thread that shows it.
inline constexpr std::uint32_t kMbIconHand = 0x00000010;
inline constexpr std::uint32_t kMbSetForeground = 0x00010000;
inline constexpr std::uint32_t kMbTopmost = 0x00040000;
inline constexpr std::uint32_t kWarningBoxStyle = kMbIconHand | kMbSetForeground | kMbTopmost;

// SendMessageTimeoutW flags.
inline constexpr std::uint32_t kSmtoNormal = 0;

// Event-log record type.
inline constexpr std::uint16_t kEventTypeInformation = 4;

// Registry value types.
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegDword = 4;

}  // namespace ravitor
