// The session service over its recording platform, with the machine's
// idle limit set by Group Policy and the users and copies a test plays.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "service/FakeServicePlatform.h"
#include "service/SessionService.h"
#include "settings/PolicyNames.h"

namespace ravitor::service::testing {

inline constexpr const wchar_t* kAlice = L"S-1-5-21-1004336348-1177238915-682003330-1001";
inline constexpr const wchar_t* kBob = L"S-1-5-21-1004336348-1177238915-682003330-1002";
inline constexpr std::uint32_t kTaskManagerExit = 1;

class SessionServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Windows' own limits, set by Group Policy for every user.
    fake.registry.SetDword(Hive::LocalMachine, kTerminalServicesPolicyKey, kMaxIdleTime, 600000);
    fake.consoleSession = 1;
  }

  void UserSession(std::uint32_t id, const wchar_t* sid) { fake.sessions[id].userSid = sid; }

  void UserPolicy(const wchar_t* sid, const wchar_t* key, const wchar_t* name,
                  std::uint32_t value) {
    fake.registry.SetDword(Hive::Users, std::wstring(sid) + L"\\" + key, name, value);
  }

  // Ends the copy the service waits on in a session, as the user or the
  // system would, and tells the service.
  void EndCopy(std::uint32_t sessionId, std::uint32_t exitCode) {
    const std::uint32_t copy = fake.WaitedCopy(sessionId);
    ASSERT_NE(copy, 0u) << "the service waits on a copy in session " << sessionId;
    const ProcessHandle handle = fake.EndProcess(copy, exitCode);
    ASSERT_NE(handle, ProcessHandle{});
    service.OnProcessEnded(handle);
  }

  std::size_t StartedIn(std::uint32_t sessionId) const {
    std::size_t count = 0;
    for (const FakeProcess* process : fake.Started()) count += process->sessionId == sessionId;
    return count;
  }

  FakeServicePlatform fake;
  SessionService service{fake};
};

}  // namespace ravitor::service::testing
