// The trace viewer's decisions: its command line, which processes it shows,
// and how each debug-output message becomes printed lines.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ravitor::trace {

struct ViewerOptions {
  std::uint32_t processId = 0;  // 0: any process
  std::wstring imageName;       // empty: any image
  bool global = false;          // all sessions (needs administrator rights)
  bool help = false;
};

// Parses the arguments after the program name. On a bad command line returns
// false and sets `error` to a message for the user.
bool ParseViewerArguments(const std::vector<std::wstring>& arguments, ViewerOptions& options,
                          std::wstring& error);

std::wstring ViewerUsage();

// Whether a message from `processId`, whose executable is `imagePath` (full
// path or bare name; may be empty when unknown), is to be shown.
bool Accepts(const ViewerOptions& options, std::uint32_t processId, const std::wstring& imagePath);

struct LocalTime {
  int year, month, day, hour, minute, second, milliseconds;
};

// One printed line per line of the message, each with the time and the
// process id; trailing line breaks are dropped and an empty message still
// prints one line.
std::vector<std::wstring> FormatTraceLines(const LocalTime& time, std::uint32_t processId,
                                           const std::wstring& message);

}  // namespace ravitor::trace
