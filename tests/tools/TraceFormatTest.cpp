// The trace viewer's command line, process filter and printed lines.
#include "trace/TraceFormat.h"

#include <gtest/gtest.h>

namespace ravitor::trace {
namespace {

using Lines = std::vector<std::wstring>;

TEST(TraceViewerArguments, AcceptsFiltersAndRejectsWhatItCannotUse) {
  struct Case {
    Lines arguments;
    bool ok;
    std::uint32_t processId;
    std::wstring imageName;
    bool global;
  };
  for (const Case& c :
       {Case{{}, true, 0, L"", false}, Case{{L"--pid", L"4242"}, true, 4242, L"", false},
        Case{{L"--image", L"RAVITOR.exe", L"--global"}, true, 0, L"RAVITOR.exe", true},
        Case{{L"--pid", L"4294967295"}, true, 4294967295u, L"", false},
        Case{{L"--pid", L"4294967296"}, false, 0, L"", false},
        Case{{L"--pid", L"0"}, false, 0, L"", false},
        Case{{L"--pid", L"12a"}, false, 0, L"", false}, Case{{L"--pid"}, false, 0, L"", false},
        Case{{L"--image"}, false, 0, L"", false}, Case{{L"--image", L""}, false, 0, L"", false},
        Case{{L"--verbose"}, false, 0, L"", false}}) {
    ViewerOptions options;
    std::wstring error;
    const bool ok = ParseViewerArguments(c.arguments, options, error);
    const std::wstring where = c.arguments.empty() ? L"(none)" : c.arguments[0];
    EXPECT_EQ(ok, c.ok) << std::string(where.begin(), where.end());
    EXPECT_EQ(error.empty(), c.ok);
    if (!ok) continue;
    EXPECT_EQ(options.processId, c.processId);
    EXPECT_EQ(options.imageName, c.imageName);
    EXPECT_EQ(options.global, c.global);
  }
}

TEST(TraceViewerFilter, MatchesProcessIdAndImageNameIgnoringCaseAndFolder) {
  ViewerOptions byImage;
  byImage.imageName = L"ravitor";
  ViewerOptions byPid;
  byPid.processId = 7;
  ViewerOptions both = byImage;
  both.processId = 7;

  EXPECT_TRUE(Accepts(ViewerOptions{}, 1, L""));
  EXPECT_TRUE(Accepts(byImage, 1, L"C:\\Program Files\\Tolvex\\RAVITOR.EXE"));
  EXPECT_TRUE(Accepts(byImage, 1, L"RAVITOR.exe"));
  EXPECT_FALSE(Accepts(byImage, 1, L"C:\\Windows\\notepad.exe"));
  EXPECT_FALSE(Accepts(byImage, 1, L"C:\\RAVITOR.exe.bak"));
  EXPECT_FALSE(Accepts(byImage, 1, L"")) << "an unknown image is not shown";
  EXPECT_TRUE(Accepts(byPid, 7, L""));
  EXPECT_FALSE(Accepts(byPid, 8, L""));
  EXPECT_FALSE(Accepts(both, 8, L"RAVITOR.exe"));
  EXPECT_TRUE(Accepts(both, 7, L"RAVITOR.exe"));
}

TEST(TraceViewerLines, PrefixEachLineWithTimeAndProcessId) {
  const LocalTime time{2026, 12, 9, 8, 5, 3, 7};
  struct Case {
    std::wstring message;
    Lines expected;
  };
  const std::wstring prefix = L"2026-12-09 08:05:03.007 [4242] ";
  for (const Case& c :
       {Case{L"Tick", {prefix + L"Tick"}}, Case{L"Tick\r\n", {prefix + L"Tick"}},
        Case{L"", {prefix}},
        Case{L"one\r\ntwo\nthree\n\n", {prefix + L"one", prefix + L"two", prefix + L"three"}},
        Case{L"a\n\nb", {prefix + L"a", prefix, prefix + L"b"}}}) {
    EXPECT_EQ(FormatTraceLines(time, 4242, c.message), c.expected);
  }
}

}  // namespace
}  // namespace ravitor::trace
