// The Windows entry of RAVITOR-service.exe: the service control dispatcher,
// the control handler and the one wait loop, which hand every event to the
// portable SessionService and decide nothing themselves.
#include <windows.h>

#include "service/ServiceNames.h"
#include "service/SessionService.h"
#include "service/win32/ServiceEvents.h"
#include "service/win32/Win32ServicePlatform.h"

namespace ravitor::service::win32 {
namespace {

class ServiceRun {
 public:
  bool Register() {
    status_ = ::RegisterServiceCtrlHandlerExW(kServiceName, &ServiceRun::Control, this);
    return status_ != nullptr;
  }

  void Run() {
    Report(SERVICE_START_PENDING, NO_ERROR);
    if (!events_.Created()) {
      Report(SERVICE_STOPPED, ::GetLastError());
      return;
    }
    Win32ServicePlatform platform(events_);
    SessionService service(platform);
    // Running, and so told of logons, before the sessions are listed: a
    // logon while they are listed is then handled after, not lost.
    Report(SERVICE_RUNNING, NO_ERROR);
    if (!service.Start()) {
      Report(SERVICE_STOPPED, ERROR_FILE_NOT_FOUND);
      return;
    }
    Loop(platform, service);
    service.Stop();
    Report(SERVICE_STOPPED, NO_ERROR);
  }

 private:
  // Sleeps until an event, a process's end or a policy key's change.
  void Loop(Win32ServicePlatform& platform, SessionService& service) {
    const HANDLE waits[] = {events_.Ready(), platform.KeyChanged(0), platform.KeyChanged(1)};
    while (true) {
      const DWORD signalled = ::WaitForMultipleObjects(3, waits, FALSE, INFINITE);
      if (signalled == WAIT_OBJECT_0 + 1 || signalled == WAIT_OBJECT_0 + 2) {
        service.OnPolicyKeyChanged();
        continue;
      }
      if (signalled != WAIT_OBJECT_0) return;  // the wait itself failed
      for (const ServiceEvent& event : events_.TakeAll()) {
        switch (event.kind) {
          case ServiceEvent::Kind::Stop:
            return;
          case ServiceEvent::Kind::SessionChange:
            service.OnSessionChange(event.code, event.sessionId);
            break;
          case ServiceEvent::Kind::ProcessEnded:
            if (platform.Holds(event.process)) service.OnProcessEnded(event.process);
            break;
        }
      }
    }
  }

  static DWORD WINAPI Control(DWORD control, DWORD eventType, void* eventData, void* context) {
    auto& run = *static_cast<ServiceRun*>(context);
    switch (control) {
      case SERVICE_CONTROL_STOP:
      case SERVICE_CONTROL_SHUTDOWN:
        run.Report(SERVICE_STOP_PENDING, NO_ERROR);
        run.events_.Put({ServiceEvent::Kind::Stop});
        return NO_ERROR;
      case SERVICE_CONTROL_SESSIONCHANGE: {
        const auto* notification = static_cast<const WTSSESSION_NOTIFICATION*>(eventData);
        run.events_.Put({ServiceEvent::Kind::SessionChange, eventType, notification->dwSessionId});
        return NO_ERROR;
      }
      case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
      default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
  }

  void Report(DWORD state, DWORD exitCode) {
    const ExclusiveLock hold(statusLock_);
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted =
        state == SERVICE_RUNNING
            ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_SESSIONCHANGE
            : 0;
    status.dwWin32ExitCode = exitCode;
    status.dwCheckPoint =
        state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING ? ++checkPoint_ : 0;
    status.dwWaitHint = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING ? 5000 : 0;
    ::SetServiceStatus(status_, &status);
  }

  SERVICE_STATUS_HANDLE status_ = nullptr;
  ServiceEvents events_;
  SRWLOCK statusLock_ = SRWLOCK_INIT;
  DWORD checkPoint_ = 0;
};

void WINAPI ServiceMain(DWORD, wchar_t**) {
  ServiceRun run;
  if (run.Register()) run.Run();
}

}  // namespace
}  // namespace ravitor::service::win32

// Started by the service control manager only; from a console the
// dispatcher fails (ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) and so does this.
int wmain() {
  // The dispatcher does not write to the name.
  const SERVICE_TABLE_ENTRYW table[] = {
      {const_cast<wchar_t*>(ravitor::service::kServiceName), &ravitor::service::win32::ServiceMain},
      {nullptr, nullptr}};
  return ::StartServiceCtrlDispatcherW(table) ? 0 : static_cast<int>(::GetLastError());
}
