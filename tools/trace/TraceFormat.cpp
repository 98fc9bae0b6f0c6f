// Command line, process filter and line formatting of the trace viewer.
#include "trace/TraceFormat.h"

#include <cwchar>
#include <cwctype>

namespace ravitor::trace {
namespace {

std::wstring Lower(std::wstring text) {
  for (auto& c : text) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
  return text;
}

// "C:\Program Files\X\RAVITOR.exe" -> "ravitor.exe"
std::wstring BaseName(const std::wstring& path) {
  const auto slash = path.find_last_of(L"\\/");
  return Lower(slash == std::wstring::npos ? path : path.substr(slash + 1));
}

std::wstring WithExtension(const std::wstring& name) {
  const std::wstring lower = Lower(name);
  return lower.find(L'.') == std::wstring::npos ? lower + L".exe" : lower;
}

bool ParseProcessId(const std::wstring& text, std::uint32_t& value) {
  if (text.empty() || text.size() > 10) return false;
  std::uint64_t number = 0;
  for (const wchar_t c : text) {
    if (c < L'0' || c > L'9') return false;
    number = number * 10 + static_cast<std::uint64_t>(c - L'0');
  }
  if (number == 0 || number > 0xFFFFFFFFu) return false;
  value = static_cast<std::uint32_t>(number);
  return true;
}

}  // namespace

std::wstring ViewerUsage() {
  return L"Usage: RAVITOR-trace [--pid ID] [--image NAME] [--global]\n"
         L"Prints debug output (OutputDebugString) of this session as it arrives,\n"
         L"each line with the local time and the process id.\n"
         L"  --pid ID      only lines of process ID\n"
         L"  --image NAME  only lines of processes whose executable is NAME (e.g. RAVITOR.exe)\n"
         L"  --global      all sessions (needs administrator rights)\n"
         L"Ctrl+C ends it.\n";
}

bool ParseViewerArguments(const std::vector<std::wstring>& arguments, ViewerOptions& options,
                          std::wstring& error) {
  options = ViewerOptions{};
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::wstring& argument = arguments[i];
    const bool hasValue = i + 1 < arguments.size();
    if (argument == L"--help" || argument == L"-h" || argument == L"/?") {
      options.help = true;
    } else if (argument == L"--global") {
      options.global = true;
    } else if (argument == L"--pid") {
      if (!hasValue || !ParseProcessId(arguments[++i], options.processId)) {
        error = L"--pid needs a process id (a positive number)";
        return false;
      }
    } else if (argument == L"--image") {
      if (!hasValue || arguments[i + 1].empty()) {
        error = L"--image needs an executable name";
        return false;
      }
      options.imageName = arguments[++i];
    } else {
      error = L"unknown argument: " + argument;
      return false;
    }
  }
  return true;
}

bool Accepts(const ViewerOptions& options, std::uint32_t processId, const std::wstring& imagePath) {
  if (options.processId != 0 && processId != options.processId) return false;
  if (options.imageName.empty()) return true;
  return !imagePath.empty() &&
         WithExtension(BaseName(imagePath)) == WithExtension(options.imageName);
}

std::vector<std::wstring> FormatTraceLines(const LocalTime& time, std::uint32_t processId,
                                           const std::wstring& message) {
  wchar_t prefix[64];
  std::swprintf(prefix, 64, L"%04d-%02d-%02d %02d:%02d:%02d.%03d [%lu] ", time.year, time.month,
                time.day, time.hour, time.minute, time.second, time.milliseconds,
                static_cast<unsigned long>(processId));
  std::wstring text = message;
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r')) text.pop_back();

  std::vector<std::wstring> lines;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find_first_of(L"\r\n", start);
    lines.push_back(prefix + text.substr(start, end == std::wstring::npos ? end : end - start));
    if (end == std::wstring::npos) break;
    start = end + (text.compare(end, 2, L"\r\n") == 0 ? 2 : 1);
  }
  return lines;
}

}  // namespace ravitor::trace
