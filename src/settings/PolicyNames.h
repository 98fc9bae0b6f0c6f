// Registry locations, value names and the table of every policy value the
// program reads; the checks of the templates and the guide read this table.
#pragma once

#include <cstdint>

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

// A policy value: where it is, its default, and the range it must be in
// (anything else counts as the default).
struct PolicyValue {
  const wchar_t* key;
  const wchar_t* name;
  std::uint32_t defaultValue;
  std::uint32_t minimum;
  std::uint32_t maximum;
};

// One row per value: key, name, default, minimum, maximum.
// clang-format off
inline constexpr PolicyValue kRunRAVITORPolicy =               {kProductPolicyKey,          kRunRAVITOR,               1, 0, 1};
inline constexpr PolicyValue kConnectionTimerEnablePolicy =    {kProductPolicyKey,          kConnectionTimerEnable,    1, 0, 1};
inline constexpr PolicyValue kIdleTimerEnablePolicy =          {kProductPolicyKey,          kIdleTimerEnable,          1, 0, 1};
inline constexpr PolicyValue kDisconnectionTimerEnablePolicy = {kProductPolicyKey,          kDisconnectionTimerEnable, 1, 0, 1};
inline constexpr PolicyValue kMaxConnectionTimePolicy =        {kTerminalServicesPolicyKey, kMaxConnectionTime,        0, 0, 0xFFFFFFFF};
inline constexpr PolicyValue kMaxIdleTimePolicy =              {kTerminalServicesPolicyKey, kMaxIdleTime,              0, 0, 0xFFFFFFFF};
inline constexpr PolicyValue kMaxDisconnectionTimePolicy =     {kTerminalServicesPolicyKey, kMaxDisconnectionTime,     0, 0, 0xFFFFFFFF};
inline constexpr PolicyValue kResetBrokenPolicy =              {kTerminalServicesPolicyKey, kResetBroken,              0, 0, 1};
// clang-format on

}  // namespace ravitor
