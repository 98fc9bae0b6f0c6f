// The session service's names, record identifiers and fixed numbers, and the
// mirrors of the Win32 values its decisions use (checked against <windows.h>
// in win32/ServiceChecks.cpp).
#pragma once

#include <cstdint>

namespace ravitor::service {

// Derived from the product's name; the installer uses the same.
inline constexpr const wchar_t* kServiceName = L"TolvexPellanSessionTimers";
inline constexpr const wchar_t* kServiceDisplayName = L"Tolvex Pellan Session Timers";
inline constexpr const wchar_t* kEventSourceName = L"Tolvex Pellan Session Timers Service";
// Started from the service's own folder, never from anywhere else.
inline constexpr const wchar_t* kProgramFileName = L"RAVITOR.exe";

// Records of res/service/service-messages.mc.
inline constexpr std::uint32_t kCouldNotStartEvent = 1001;     // session, system error
inline constexpr std::uint32_t kGaveUpRestartingEvent = 1002;  // session, count, minutes

// A copy that ends this often within the window is not started again in
// that session until its next logon.
inline constexpr std::uint32_t kRestartLimit = 5;
inline constexpr std::uint64_t kRestartWindowMs = 10 * 60 * 1000;

// WTS_SESSION_* codes of SERVICE_CONTROL_SESSIONCHANGE.
inline constexpr std::uint32_t kWtsConsoleConnect = 0x1;
inline constexpr std::uint32_t kWtsRemoteConnect = 0x3;
inline constexpr std::uint32_t kWtsSessionLogon = 0x5;
inline constexpr std::uint32_t kWtsSessionLogoff = 0x6;

// WTSGetActiveConsoleSessionId without a console session.
inline constexpr std::uint32_t kNoConsoleSession = 0xFFFFFFFF;

// System error codes that mean "no user in this session" rather than a fault.
inline constexpr std::uint32_t kErrorNoToken = 1008;  // ERROR_NO_TOKEN
inline constexpr std::uint32_t kErrorCtxWinstationNotFound =
    7022;                                               // ERROR_CTX_WINSTATION_NOT_FOUND
inline constexpr std::uint32_t kErrorFileNotFound = 2;  // ERROR_FILE_NOT_FOUND

// Event types of ReportEventW.
inline constexpr std::uint16_t kEventTypeError = 0x0001;
inline constexpr std::uint16_t kEventTypeWarning = 0x0002;

}  // namespace ravitor::service
