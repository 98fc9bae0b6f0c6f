// The bare service the session service's idle cost is measured against: it
// registers with the service control manager, reports that it runs and waits
// for its stop request, nothing else.
#include <windows.h>

namespace {

SERVICE_STATUS_HANDLE statusHandle = nullptr;
HANDLE stopRequested = nullptr;

void Report(DWORD state) {
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
  ::SetServiceStatus(statusHandle, &status);
}

DWORD WINAPI Control(DWORD control, DWORD, void*, void*) {
  if (control == SERVICE_CONTROL_STOP) {
    ::SetEvent(stopRequested);
    return NO_ERROR;
  }
  return control == SERVICE_CONTROL_INTERROGATE ? NO_ERROR : ERROR_CALL_NOT_IMPLEMENTED;
}

wchar_t serviceName[] = L"RavitorFloorService";

void WINAPI ServiceMain(DWORD, wchar_t**) {
  statusHandle = ::RegisterServiceCtrlHandlerExW(serviceName, &Control, nullptr);
  if (statusHandle == nullptr) return;
  stopRequested = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  Report(SERVICE_RUNNING);
  ::WaitForSingleObject(stopRequested, INFINITE);
  ::CloseHandle(stopRequested);
  Report(SERVICE_STOPPED);
}

}  // namespace

int wmain() {
  const SERVICE_TABLE_ENTRYW table[] = {{serviceName, &ServiceMain}, {nullptr, nullptr}};
  return ::StartServiceCtrlDispatcherW(table) ? 0 : static_cast<int>(::GetLastError());
}
