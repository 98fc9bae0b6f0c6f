// Registry locations and value names of every policy the program reads.
#pragma once

namespace ravitor {

inline constexpr const wchar_t* kProductPolicyKey =
    L"Software\\Policies\\Brevane\\Tolvex Pellan Session Timers";
inline constexpr const wchar_t* kTerminalServicesPolicyKey =
    L"SOFTWARE\\Policies\\Microsoft\\Windows NT\\Terminal Services";
inline constexpr const wchar_t* kTraceSwitchKey =
    L"SOFTWARE\\Brevane\\Tolvex Pellan Session Timers\\dbg";

inline constexpr const wchar_t* kRunRAVITOR = L"RunRAVITOR";
inline constexpr const wchar_t* kConnectionTimerEnable = L"ConnectionTimerEnable";
inline constexpr const wchar_t* kIdleTimerEnable = L"IdleTimerEnable";
inline constexpr const wchar_t* kDisconnectionTimerEnable = L"DisconnectionTimerEnable";
inline constexpr const wchar_t* kMaxConnectionTime = L"MaxConnectionTime";
inline constexpr const wchar_t* kMaxIdleTime = L"MaxIdleTime";
inline constexpr const wchar_t* kMaxDisconnectionTime = L"MaxDisconnectionTime";
inline constexpr const wchar_t* kResetBroken = L"fResetBroken";

}  // namespace ravitor
