// RAVITOR-trace: receives debug output through the DBWIN_BUFFER protocol
// (a shared section, two events and a mutex) and prints it line by line.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/win32/UniqueWin32Handle.h"
#include "trace/TraceFormat.h"

namespace {

using ravitor::trace::ViewerOptions;
using ravitor::win32::unique_handle;
using ravitor::win32::unique_mapped_view;

constexpr DWORD kBufferSize = 4096;  // a process id, then up to 4092 bytes of text
constexpr DWORD kPollMs = 200;

std::atomic<bool> stopRequested{false};

BOOL WINAPI OnConsoleControl(DWORD) {
  stopRequested = true;
  return TRUE;
}

void Print(const std::wstring& line) {
  // UTF-8, flushed per line, so that a file or pipe reader sees each line at once.
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), bytes.data(), size,
                        nullptr, nullptr);
  bytes += '\n';
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  std::fflush(stdout);
}

void PrintError(const std::wstring& text) {
  std::fwprintf(stderr, L"RAVITOR-trace: %ls\n", text.c_str());
}

std::wstring ImagePathOf(DWORD processId, std::map<DWORD, std::wstring>& cache) {
  const auto known = cache.find(processId);
  if (known != cache.end()) return known->second;
  std::wstring path;
  const unique_handle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  if (process) {
    wchar_t buffer[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    if (::QueryFullProcessImageNameW(process.get(), 0, buffer, &size)) path.assign(buffer, size);
  }
  // Process ids are reused; only remember names that could be read.
  if (!path.empty()) cache[processId] = path;
  return path;
}

std::wstring Widen(const char* text, std::size_t length) {
  const int size = ::MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), wide.data(), size);
  return wide;
}

int Run(const ViewerOptions& options) {
  const std::wstring prefix = options.global ? L"Global\\" : L"";
  const unique_handle mutex(::CreateMutexW(nullptr, FALSE, (prefix + L"DBWinMutex").c_str()));
  const unique_handle bufferReady(
      ::CreateEventW(nullptr, FALSE, FALSE, (prefix + L"DBWIN_BUFFER_READY").c_str()));
  const DWORD bufferReadyError = ::GetLastError();
  const unique_handle dataReady(
      ::CreateEventW(nullptr, FALSE, FALSE, (prefix + L"DBWIN_DATA_READY").c_str()));
  const unique_handle section(::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                                   kBufferSize,
                                                   (prefix + L"DBWIN_BUFFER").c_str()));
  const DWORD sectionError = ::GetLastError();
  if (!mutex || !bufferReady || !dataReady || !section) {
    PrintError(options.global
                   ? L"cannot open the global debug-output objects (run as administrator)"
                   : L"cannot open the debug-output objects");
    return 2;
  }
  if (bufferReadyError == ERROR_ALREADY_EXISTS || sectionError == ERROR_ALREADY_EXISTS) {
    PrintError(L"another debugger or trace viewer is already receiving debug output");
    return 3;
  }
  const unique_mapped_view view(::MapViewOfFile(section.get(), FILE_MAP_READ, 0, 0, kBufferSize));
  if (!view) {
    PrintError(L"cannot map the debug-output buffer");
    return 2;
  }
  const auto* buffer = static_cast<const unsigned char*>(view.get());

  std::map<DWORD, std::wstring> imagePaths;
  ::SetEvent(bufferReady.get());
  std::fwprintf(stderr, L"RAVITOR-trace: receiving debug output; Ctrl+C ends.\n");
  std::fflush(stderr);
  while (!stopRequested) {
    if (::WaitForSingleObject(dataReady.get(), kPollMs) != WAIT_OBJECT_0) continue;
    DWORD processId = 0;
    std::memcpy(&processId, buffer, sizeof processId);
    const char* text = reinterpret_cast<const char*>(buffer + sizeof processId);
    const std::size_t length = strnlen(text, kBufferSize - sizeof processId);
    const std::wstring message = Widen(text, length);
    ::SetEvent(bufferReady.get());  // the writer may go on while we print

    if (!ravitor::trace::Accepts(
            options, processId,
            options.imageName.empty() ? std::wstring() : ImagePathOf(processId, imagePaths))) {
      continue;
    }
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    const ravitor::trace::LocalTime time{now.wYear,   now.wMonth,  now.wDay,         now.wHour,
                                         now.wMinute, now.wSecond, now.wMilliseconds};
    for (const auto& line : ravitor::trace::FormatTraceLines(time, processId, message)) Print(line);
  }
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<std::wstring> arguments(argv + 1, argv + argc);
  ViewerOptions options;
  std::wstring error;
  if (!ravitor::trace::ParseViewerArguments(arguments, options, error)) {
    PrintError(error);
    std::fwprintf(stderr, L"%ls", ravitor::trace::ViewerUsage().c_str());
    return 64;
  }
  if (options.help) {
    std::fwprintf(stdout, L"%ls", ravitor::trace::ViewerUsage().c_str());
    return 0;
  }
  ::SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
  return Run(options);
}
