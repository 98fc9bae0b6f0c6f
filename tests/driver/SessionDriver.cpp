// Plays a user session against a running RAVITOR.exe from another process of
// the same Wine prefix (or Windows session): finds its hidden window by class
// name, sends it what Windows would, injects input and inspects warning boxes.
// Messages are sent synchronously so that each command has been handled when
// the driver returns.
#include <windows.h>
// Needs the types of <windows.h>.
#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "platform/win32/UniqueWin32Handle.h"

namespace {

using ravitor::win32::unique_handle;
using ravitor::win32::unique_hfile;
using ravitor::win32::unique_stdio_file;

constexpr const wchar_t* kApplicationName = L"Tolvex Pellan Session Timers";
constexpr UINT kSendTimeoutMs = 20000;
constexpr int kMessageBoxTextId = 0xFFFF;

const wchar_t* const kUsage =
    L"usage: SessionDriver COMMAND ...\n"
    L"  find                      the hidden window exists, titled and classed as expected\n"
    L"  answer TIMEOUT_MS         print {\"waiting\": true}, wait until the window exists and\n"
    L"                            answers a message, print when (Unix milliseconds)\n"
    L"  post MESSAGE WPARAM       post any message (lParam 0)\n"
    L"  send MESSAGE WPARAM       send any message (lParam 0) and wait for it\n"
    L"  tick [COUNT [ID]]         send WM_TIMER ID (151) COUNT (1) times\n"
    L"  slowest                   print the longest time a tick of this process took to\n"
    L"                            be answered, as one JSON line, and start again\n"
    L"  terminate                 end the program's process as Task Manager does (exit code 1)\n"
    L"  session CODE              send WM_WTSSESSION_CHANGE CODE\n"
    L"  setting [TEXT]            send WM_SETTINGCHANGE with TEXT (none: no string)\n"
    L"  endsession WPARAM         send WM_ENDSESSION\n"
    L"  command ID                post WM_COMMAND ID\n"
    L"  key | mouse               inject one key press or one mouse move with SendInput\n"
    L"  keys COUNT | moves COUNT  inject COUNT key events (press, release, ...) or mouse\n"
    L"                            moves, one SendInput each; print how long they took\n"
    L"  park X Y                  move the pointer\n"
    L"  boxes                     list warning boxes as JSON lines {caption, text, pid}:\n"
    L"                            pid is the process that owns the box\n"
    L"  close CAPTION             press OK on the box with exactly this caption (waits 5 s)\n"
    L"  steady                    wait until every warning box raised is up and answers,\n"
    L"                            and no box thread is busy (at most 5 s and the answers)\n"
    L"  stats                     the window's process: handles, threads, private bytes,\n"
    L"                            working set, CPU time, as one JSON line\n"
    L"  debug TEXT                write TEXT to the debug output (OutputDebugStringW)\n"
    L"  script PATH               run the commands of a file, one per line, tab-separated\n"
    L"  sleep MS                  wait, e.g. for a box to come up between scripted ticks\n"
    L"  decoy CAPTION SECTION     a hidden window titled CAPTION; on WM_CLOSE it sends\n"
    L"                            WM_SETTINGCHANGE SECTION to the program before it goes,\n"
    L"                            and prints that as one JSON line (for scripts: it lives\n"
    L"                            as long as this process)\n";

void PrintUtf8(const std::wstring& text) {
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), size,
                        nullptr, nullptr);
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  std::fflush(stdout);
}

std::wstring Json(const std::wstring& text) {
  std::wstring out = L"\"";
  for (const wchar_t c : text) {
    if (c == L'"' || c == L'\\') {
      out += L'\\';
      out += c;
    } else if (c < 0x20) {
      wchar_t escape[8];
      std::swprintf(escape, 8, L"\\u%04x", static_cast<unsigned>(c));
      out += escape;
    } else {
      out += c;
    }
  }
  return out + L"\"";
}

HWND FindApplicationWindow() { return ::FindWindowW(kApplicationName, nullptr); }

std::wstring TextOf(HWND window) {
  wchar_t text[1024] = {};
  ::GetWindowTextW(window, text, 1024);
  return text;
}

int Find() {
  const HWND window = FindApplicationWindow();
  if (window == nullptr) return 1;
  const std::wstring title = TextOf(window);
  DWORD processId = 0;
  ::GetWindowThreadProcessId(window, &processId);
  PrintUtf8(L"{\"title\": " + Json(title) + L", \"visible\": " +
            (::IsWindowVisible(window) ? L"true" : L"false") + L", \"pid\": " +
            std::to_wstring(processId) + L"}\n");
  return title == kApplicationName && !::IsWindowVisible(window) ? 0 : 2;
}

// Moves the pointer and waits until the display has it there. Under Wine,
// SetCursorPos asks the X server to warp the pointer, and GetCursorPos asks
// the X server back only once the last move is over 100 ms old; a box mapped
// later under a pointer that was not moved would make Wine report a mouse
// move that nobody made.
int Park(int x, int y) {
  for (int attempt = 0; attempt < 20; ++attempt) {
    if (!::SetCursorPos(x, y)) return 3;
    ::Sleep(150);
    POINT position{};
    if (::GetCursorPos(&position) && position.x == x && position.y == y) return 0;
  }
  return 3;
}

// Ends the program's process the way Task Manager does: at once, exit code 1.
int Terminate() {
  const HWND window = FindApplicationWindow();
  if (window == nullptr) return 1;
  DWORD processId = 0;
  ::GetWindowThreadProcessId(window, &processId);
  const unique_handle process(::OpenProcess(PROCESS_TERMINATE, FALSE, processId));
  if (!process) return 3;
  return ::TerminateProcess(process.get(), 1) ? 0 : 3;
}

int Post(UINT message, WPARAM wParam) {
  const HWND window = FindApplicationWindow();
  if (window == nullptr) return 1;
  return ::PostMessageW(window, message, wParam, 0) ? 0 : 3;
}

// How many of this thread's sends are waiting for their answer, so that a
// decoy can tell whether it was closed from inside one of them.
int waitingSends = 0;

int Send(UINT message, WPARAM wParam, LPARAM lParam) {
  const HWND window = FindApplicationWindow();
  if (window == nullptr) return 1;
  DWORD_PTR result = 0;
  ++waitingSends;
  const LRESULT sent =
      ::SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, kSendTimeoutMs, &result);
  --waitingSends;
  return sent ? 0 : 3;
}

// The longest time a sent tick waited for its answer, in this process: the
// program spends that long inside the tick.
double slowestTickMs = 0;

double ElapsedMs(const LARGE_INTEGER& start) {
  LARGE_INTEGER frequency{}, now{};
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart - start.QuadPart) * 1000.0 /
         static_cast<double>(frequency.QuadPart);
}

int Tick(unsigned long count, WPARAM id) {
  for (unsigned long i = 0; i < count; ++i) {
    LARGE_INTEGER start{};
    ::QueryPerformanceCounter(&start);
    const int result = Send(WM_TIMER, id, 0);
    const double elapsed = ElapsedMs(start);
    if (elapsed > slowestTickMs) slowestTickMs = elapsed;
    if (result != 0) return result;
  }
  return 0;
}

int Slowest() {
  wchar_t line[64];
  std::swprintf(line, 64, L"{\"slowest_tick_ms\": %.3f}\n", slowestTickMs);
  PrintUtf8(line);
  slowestTickMs = 0;
  return 0;
}

int Inject(bool keyboard) {
  INPUT inputs[2] = {};
  UINT count = 1;
  if (keyboard) {
    inputs[0].type = INPUT_KEYBOARD;
    inputs[0].ki.wVk = VK_SHIFT;
    inputs[1] = inputs[0];
    inputs[1].ki.dwFlags = KEYEVENTF_KEYUP;
    count = 2;
  } else {
    inputs[0].type = INPUT_MOUSE;
    inputs[0].mi.dx = 1;
    inputs[0].mi.dy = 1;
    inputs[0].mi.dwFlags = MOUSEEVENTF_MOVE;
  }
  return ::SendInput(count, inputs, sizeof(INPUT)) == count ? 0 : 3;
}

struct BoxSearch {
  std::vector<HWND> boxes;
};

BOOL CALLBACK CollectBox(HWND window, LPARAM parameter) {
  wchar_t className[64] = {};
  ::GetClassNameW(window, className, 64);
  // Message boxes are dialogs; ours carry the RAVITOR caption prefix.
  if (std::wcscmp(className, L"#32770") == 0 && TextOf(window).rfind(L"RAVITOR", 0) == 0) {
    reinterpret_cast<BoxSearch*>(parameter)->boxes.push_back(window);
  }
  return TRUE;
}

std::vector<HWND> WarningBoxes() {
  BoxSearch search;
  ::EnumWindows(&CollectBox, reinterpret_cast<LPARAM>(&search));
  return search.boxes;
}

int Boxes() {
  for (const HWND box : WarningBoxes()) {
    wchar_t text[1024] = {};
    ::GetDlgItemTextW(box, kMessageBoxTextId, text, 1024);
    DWORD processId = 0;
    ::GetWindowThreadProcessId(box, &processId);
    PrintUtf8(L"{\"caption\": " + Json(TextOf(box)) + L", \"text\": " + Json(text) +
              L", \"pid\": " + std::to_wstring(processId) + L"}\n");
  }
  return 0;
}

int Close(const std::wstring& caption) {
  // A box comes up on a thread of its own: give it a moment to appear. A box
  // already pressed is hidden while it goes, and is not pressed again.
  for (int attempt = 0; attempt < 100; ++attempt) {
    for (const HWND box : WarningBoxes()) {
      if (TextOf(box) == caption && ::IsWindowVisible(box)) {
        return ::PostMessageW(box, WM_COMMAND, IDOK, 0) ? 0 : 3;
      }
    }
    ::Sleep(50);
  }
  return 1;
}

int ThreadCount(DWORD processId) {
  const unique_hfile snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  if (!snapshot) return -1;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof(entry);
  int count = 0;
  for (BOOL more = ::Thread32First(snapshot.get(), &entry); more;
       more = ::Thread32Next(snapshot.get(), &entry)) {
    if (entry.th32OwnerProcessID == processId) ++count;
  }
  return count;
}

// Waits until every warning box the program has raised is up: each box is
// visible and answers a sent message, and the program has no thread but its
// main thread and one per box (a box thread that has not made its box yet,
// or whose box is going, is still busy). The sweep's WM_CLOSE is dropped, by
// Wine at least, when a busy box thread has not taken it within the sweep's
// time-out. Forged ticks come milliseconds apart, and the program's own
// 30-second tick can raise a box at any moment, so a script waits for this
// before it lets a sweep look, rather than for a number of boxes.
int Steady() {
  constexpr UINT kAnswerTimeoutMs = 5000;
  const HWND window = FindApplicationWindow();
  if (window == nullptr) return 1;
  DWORD processId = 0;
  ::GetWindowThreadProcessId(window, &processId);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::vector<HWND> boxes = WarningBoxes();
    const bool up = std::all_of(boxes.begin(), boxes.end(), [](HWND box) {
      DWORD_PTR result = 0;
      return ::IsWindowVisible(box) &&
             ::SendMessageTimeoutW(box, WM_NULL, 0, 0, SMTO_NORMAL, kAnswerTimeoutMs, &result) != 0;
    });
    if (up && ThreadCount(processId) == static_cast<int>(boxes.size()) + 1) return 0;
    ::Sleep(50);
  }
  std::fwprintf(stderr, L"the warning boxes did not settle\n");
  return 1;
}

unsigned long long Milliseconds(const FILETIME& time) {
  return ((static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime) /
         10000;
}

int Stats() {
  const HWND window = FindApplicationWindow();
  if (window == nullptr) return 1;
  DWORD processId = 0;
  ::GetWindowThreadProcessId(window, &processId);
  const unique_handle process(
      ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
  if (!process) return 3;
  DWORD handles = 0;
  ::GetProcessHandleCount(process.get(), &handles);
  PROCESS_MEMORY_COUNTERS_EX memory{};
  memory.cb = sizeof(memory);
  ::GetProcessMemoryInfo(process.get(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                         sizeof(memory));
  FILETIME created{}, exited{}, kernel{}, user{};
  ::GetProcessTimes(process.get(), &created, &exited, &kernel, &user);
  wchar_t line[256];
  std::swprintf(line, 256,
                L"{\"pid\": %lu, \"handles\": %lu, \"threads\": %d, \"private_bytes\": %llu, "
                L"\"working_set\": %llu, \"cpu_ms\": %llu}\n",
                processId, handles, ThreadCount(processId),
                static_cast<unsigned long long>(memory.PrivateUsage),
                static_cast<unsigned long long>(memory.WorkingSetSize),
                Milliseconds(kernel) + Milliseconds(user));
  PrintUtf8(line);
  return 0;
}

// Wall-clock time as Unix milliseconds: Wine reads the host's clock, so a
// script on the host can set it against its own.
double UnixMilliseconds() {
  constexpr unsigned long long kUnixEpochAsFileTime = 116444736000000000ULL;
  FILETIME now{};
  ::GetSystemTimePreciseAsFileTime(&now);
  const unsigned long long ticks =
      (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return static_cast<double>(ticks - kUnixEpochAsFileTime) / 10000.0;
}

// A window answers a sent message only once its thread reads its queue: for
// the program, that is when its message loop has started.
int Answer(unsigned long timeoutMs) {
  constexpr DWORD kPollMs = 2;
  PrintUtf8(L"{\"waiting\": true}\n");
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  while (::GetTickCount64() < deadline) {
    DWORD_PTR result = 0;
    const HWND window = FindApplicationWindow();
    if (window != nullptr &&
        ::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, kSendTimeoutMs, &result)) {
      wchar_t line[64];
      std::swprintf(line, 64, L"{\"answered_unix_ms\": %.3f}\n", UnixMilliseconds());
      PrintUtf8(line);
      return 0;
    }
    ::Sleep(kPollMs);
  }
  return 1;
}

// Events one at a time, as a user makes them: each SendInput returns once the
// low-level hooks have seen the event. Key events alternate press and release
// of Shift (an odd count ends with one more release); moves alternate one
// step right and one step left.
int InjectMany(bool keyboard, unsigned long count) {
  LARGE_INTEGER start{};
  ::QueryPerformanceCounter(&start);
  for (unsigned long i = 0; i < count; ++i) {
    INPUT input{};
    if (keyboard) {
      input.type = INPUT_KEYBOARD;
      input.ki.wVk = VK_SHIFT;
      input.ki.dwFlags = i % 2 == 0 ? 0 : KEYEVENTF_KEYUP;
    } else {
      input.type = INPUT_MOUSE;
      input.mi.dx = i % 2 == 0 ? 1 : -1;
      input.mi.dwFlags = MOUSEEVENTF_MOVE;
    }
    if (::SendInput(1, &input, sizeof(INPUT)) != 1) return 3;
  }
  const double elapsed = ElapsedMs(start);
  if (keyboard && count % 2 == 1) {
    INPUT release{};
    release.type = INPUT_KEYBOARD;
    release.ki.wVk = VK_SHIFT;
    release.ki.dwFlags = KEYEVENTF_KEYUP;
    ::SendInput(1, &release, sizeof(INPUT));
  }
  wchar_t line[96];
  std::swprintf(line, 96, L"{\"events\": %lu, \"elapsed_ms\": %.3f}\n", count, elapsed);
  PrintUtf8(line);
  return 0;
}

constexpr const wchar_t* kDecoyClassName = L"SessionDriver decoy";

struct Decoy {
  std::wstring caption;
  std::wstring section;
};

// Decoys live until the process ends; their windows point into this list.
std::vector<std::unique_ptr<Decoy>> decoys;

// The program's sweep sends WM_CLOSE with SMTO_NORMAL to each window titled
// like an expired warning and waits up to 100 ms for the answer. A thread
// waiting in an SMTO_NORMAL send handles messages sent to its own windows
// meanwhile: while this thread waits in a scripted tick, the WM_CLOSE is
// handled here, and the setting change sent from here reaches the program
// inside its sweep's wait, in the middle of its tick. Wine 8 does the same (the
// program traces the change between the tick and the expiry), and the round
// trip takes a few milliseconds, well inside the sweep's time-out.
LRESULT CALLBACK DecoyProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* creation = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    ::SetWindowLongPtrW(window, GWLP_USERDATA,
                        reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
  } else if (message == WM_CLOSE) {
    const auto* decoy = reinterpret_cast<const Decoy*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    const bool insideSend = waitingSends > 0;
    // Sent before the window goes, while the sweep still waits for this close.
    const int sent = Send(WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(decoy->section.c_str()));
    ::DestroyWindow(window);
    PrintUtf8(L"{\"decoy_closed\": " + Json(decoy->caption) + L", \"setting\": " +
              Json(decoy->section) + L", \"sent\": " + (sent == 0 ? L"true" : L"false") +
              L", \"inside_send\": " + (insideSend ? L"true" : L"false") + L"}\n");
    return 0;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

int CreateDecoy(const wchar_t* caption, const wchar_t* section) {
  const HINSTANCE instance = ::GetModuleHandleW(nullptr);
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = &DecoyProcedure;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = kDecoyClassName;
  if (!::RegisterClassExW(&windowClass) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    return 3;
  }
  decoys.push_back(std::make_unique<Decoy>(Decoy{caption, section}));
  // Top-level, so that EnumWindows lists it, and never shown: a window
  // appearing under the pointer would make Wine move the mouse.
  const HWND window = ::CreateWindowExW(0, kDecoyClassName, caption, WS_OVERLAPPED, 0, 0, 100, 100,
                                        nullptr, nullptr, instance, decoys.back().get());
  return window != nullptr ? 0 : 3;
}

unsigned long Number(const wchar_t* text) { return std::wcstoul(text, nullptr, 0); }

int RunScript(const wchar_t* path);

int Dispatch(int argc, wchar_t** argv) {
  const std::wstring command = argc >= 2 ? argv[1] : L"";
  const auto argument = [&](int index) { return index < argc ? argv[index] : nullptr; };
  if (command == L"find") return Find();
  if (command == L"terminate") return Terminate();
  if (command == L"post" && argc >= 4)
    return Post(static_cast<UINT>(Number(argv[2])), Number(argv[3]));
  if (command == L"send" && argc >= 4) {
    return Send(static_cast<UINT>(Number(argv[2])), Number(argv[3]), 0);
  }
  if (command == L"tick") {
    const unsigned long count = argument(2) ? Number(argv[2]) : 1;
    const WPARAM id = argument(3) ? Number(argv[3]) : 151;
    return Tick(count, id);
  }
  if (command == L"slowest") return Slowest();
  if (command == L"session" && argc >= 3) return Send(WM_WTSSESSION_CHANGE, Number(argv[2]), 0);
  if (command == L"setting") {
    return Send(WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(argument(2)));
  }
  if (command == L"endsession" && argc >= 3) return Send(WM_ENDSESSION, Number(argv[2]), 0);
  if (command == L"command" && argc >= 3) return Post(WM_COMMAND, Number(argv[2]));
  if (command == L"key") return Inject(true);
  if (command == L"mouse") return Inject(false);
  if (command == L"park" && argc >= 4) {
    return Park(static_cast<int>(Number(argv[2])), static_cast<int>(Number(argv[3])));
  }
  if (command == L"boxes") return Boxes();
  if (command == L"close" && argc >= 3) return Close(argv[2]);
  if (command == L"steady") return Steady();
  if (command == L"stats") return Stats();
  if (command == L"answer" && argc >= 3) return Answer(Number(argv[2]));
  if (command == L"keys" && argc >= 3) return InjectMany(true, Number(argv[2]));
  if (command == L"moves" && argc >= 3) return InjectMany(false, Number(argv[2]));
  if (command == L"debug" && argc >= 3) {
    ::OutputDebugStringW(argv[2]);
    return 0;
  }
  if (command == L"script" && argc >= 3) return RunScript(argv[2]);
  if (command == L"sleep" && argc >= 3) {
    ::Sleep(Number(argv[2]));
    return 0;
  }
  if (command == L"decoy" && argc >= 4) return CreateDecoy(argv[2], argv[3]);
  std::fwprintf(stderr, L"%ls", kUsage);
  return 64;
}

// Closed before the first command runs: a script may run for long (sleeps,
// decoys), and Windows keeps an open file from being removed meanwhile.
bool ReadWholeFile(const wchar_t* path, std::string& bytes) {
  const unique_stdio_file file(::_wfopen(path, L"rb"));
  if (!file) return false;
  char chunk[4096];
  for (std::size_t read; (read = std::fread(chunk, 1, sizeof chunk, file.get())) > 0;)
    bytes.append(chunk, read);
  return true;
}

// Runs one command per line (arguments separated by tabs) in this process,
// which is far faster than a process per command; stops at the first failure.
int RunScript(const wchar_t* path) {
  std::string bytes;
  if (!ReadWholeFile(path, bytes)) return 66;
  std::wstring text(bytes.size(), L'\0');
  text.resize(static_cast<std::size_t>(
      ::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(),
                            static_cast<int>(text.size()))));

  int lineNumber = 0;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) end = text.size();
    std::wstring line = text.substr(start, end - start);
    start = end + 1;
    ++lineNumber;
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    if (line.empty()) continue;
    std::vector<std::wstring> words{L"SessionDriver"};
    for (std::size_t from = 0;;) {
      const std::size_t tab = line.find(L'\t', from);
      words.push_back(line.substr(from, tab == std::wstring::npos ? tab : tab - from));
      if (tab == std::wstring::npos) break;
      from = tab + 1;
    }
    std::vector<wchar_t*> arguments;
    for (auto& word : words) arguments.push_back(word.data());
    if (const int result = Dispatch(static_cast<int>(arguments.size()), arguments.data());
        result != 0) {
      std::fwprintf(stderr, L"script line %d failed with %d\n", lineNumber, result);
      return result;
    }
  }
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) { return Dispatch(argc, argv); }
