// Recording test platform.
#include "fake/FakePlatform.h"

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <stdexcept>

namespace ravitor::testing {
namespace {

std::wstring Lower(std::wstring text) {
  for (auto& c : text) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
  return text;
}

const wchar_t* HiveName(Hive hive) { return hive == Hive::LocalMachine ? L"HKLM" : L"HKCU"; }
const wchar_t* HookName(HookKind kind) {
  return kind == HookKind::Keyboard ? L"Keyboard" : L"Mouse";
}

std::uint16_t LanguageOf(std::uint32_t locale) {
  return static_cast<std::uint16_t>(locale & 0xFFFF);
}

// A neutral sublanguage finds the language's default variant; neutral
// Chinese is the simplified-script (PRC) variant, as on the real system.
std::uint16_t DefaultVariant(std::uint16_t languageId) {
  const std::uint16_t primary = languageId & 0x3FF;
  return primary == 0x04 ? 0x0804 : static_cast<std::uint16_t>(0x0400 | primary);
}

// Set on the fake's real threads: their message boxes block like real ones.
thread_local bool onRealThread = false;

using Lock = std::lock_guard<std::recursive_mutex>;

// One crossing of the seam, told to the observer on the way in and out.
class Crossing {
 public:
  Crossing(SeamObserver* observer, SeamObserver::Side side) : observer_(observer), side_(side) {
    if (observer_ != nullptr) observer_->Enter(side_);
  }
  ~Crossing() {
    if (observer_ != nullptr) observer_->Leave(side_);
  }
  Crossing(const Crossing&) = delete;
  Crossing& operator=(const Crossing&) = delete;

 private:
  SeamObserver* const observer_;  // the one entered, even if the test swaps it meanwhile
  const SeamObserver::Side side_;
};

// A name the fake does not know would switch or count nothing while the test
// believes it injected a failure: refuse it, naming it.
void RequireOperation(const std::string& operation) {
  const auto& names = FakePlatform::OperationNames();
  if (std::find(names.begin(), names.end(), operation) == names.end()) {
    throw std::invalid_argument("FakePlatform has no operation named \"" + operation + "\"");
  }
}

int CountOf(const std::map<std::string, int>& counts, const std::string& operation) {
  RequireOperation(operation);
  const auto found = counts.find(operation);
  return found == counts.end() ? 0 : found->second;
}

}  // namespace

std::wstring Hex(std::uint64_t value) {
  static const wchar_t kDigits[] = L"0123456789ABCDEF";
  std::wstring digits;
  do {
    digits.insert(digits.begin(), kDigits[value & 0xF]);
    value >>= 4;
  } while (value != 0);
  return L"0x" + digits;
}

// The crossing is entered before the lock is taken and left after it is
// released, so that the observer sees all of the platform's work.
struct FakePlatform::PlatformCall {
  explicit PlatformCall(FakePlatform& fake)
      : crossing(fake.seamObserver, SeamObserver::Side::Platform), lock(fake.mutex_) {}

  const Crossing crossing;
  std::unique_lock<std::recursive_mutex> lock;
};

FakePlatform::FakePlatform() : catalog_(ProjectCatalog()) {}

FakePlatform::~FakePlatform() {
  {
    // Boxes still open go away with the process, which lets their threads end.
    const Lock lock(mutex_);
    shuttingDown_ = true;
    changed_.notify_all();
  }
  for (auto& thread : realThreads_) thread.join();
  // Held warning threads still own their strings; let them finish.
  RunHeldThreads();
}

const std::vector<std::string>& FakePlatform::OperationNames() {
  static const std::vector<std::string> names = {"OpenKeyForRead",
                                                 "QueryValue",
                                                 "CloseKey",
                                                 "CreateKey",
                                                 "SetValue",
                                                 "OutputDebugText",
                                                 "StartWindowTimer",
                                                 "StopWindowTimer",
                                                 "RegisterSessionNotification",
                                                 "UnregisterSessionNotification",
                                                 "DisconnectSession",
                                                 "LogoffSession",
                                                 "InstallHook",
                                                 "RemoveHook",
                                                 "CallNextHook",
                                                 "ReadLastInputTime",
                                                 "StartThread",
                                                 "ShowMessageBox",
                                                 "Sleep",
                                                 "CloseThreadHandle",
                                                 "GetThreadLocale",
                                                 "SetThreadLocale",
                                                 "FormatCatalogMessage",
                                                 "GetModulePath",
                                                 "EnumerateWindows",
                                                 "GetStoredWindowTitle",
                                                 "SendMessageWithTimeout",
                                                 "OpenEventSource",
                                                 "ReportEvent",
                                                 "CloseEventSource",
                                                 "TrimWorkingSet",
                                                 "CreateNamedMutex",
                                                 "CloseMutex",
                                                 "ActiveConsoleSessionId",
                                                 "CreateApplicationWindow",
                                                 "DestroyApplicationWindow",
                                                 "PostQuit",
                                                 "PaintNothing",
                                                 "DefaultWindowProcedure",
                                                 "EqualsIgnoringCase"};
  return names;
}

const std::vector<std::string>& FakePlatform::WaitingOperationNames() {
  static const std::vector<std::string> names = {"StartThread", "EnumerateWindows",
                                                 "SendMessageWithTimeout", "DisconnectSession",
                                                 "LogoffSession"};
  return names;
}

bool FakePlatform::ReenterDuring(const std::string& operation, std::function<void()> handler) {
  RequireOperation(operation);
  const auto& waiting = WaitingOperationNames();
  if (std::find(waiting.begin(), waiting.end(), operation) == waiting.end()) return false;
  const Lock lock(mutex_);
  reentries_.emplace_back(operation, std::move(handler));
  return true;
}

std::size_t FakePlatform::PendingReentryCount() const {
  const Lock lock(mutex_);
  return reentries_.size();
}

void FakePlatform::Reenter(const std::string& operation) {
  const auto armed = std::find_if(reentries_.begin(), reentries_.end(),
                                  [&](const auto& reentry) { return reentry.first == operation; });
  if (armed == reentries_.end()) return;
  // Taken out first: the handler may arm the next one, or call this again.
  const std::function<void()> handler = std::move(armed->second);
  reentries_.erase(armed);
  handler();
}

void FakePlatform::Fail(const std::string& operation) {
  RequireOperation(operation);
  const Lock lock(mutex_);
  failing_.insert(operation);
}

void FakePlatform::Heal(const std::string& operation) {
  RequireOperation(operation);
  const Lock lock(mutex_);
  failing_.erase(operation);
}

int FakePlatform::FailedCallCount(const std::string& operation) const {
  const Lock lock(mutex_);
  return CountOf(failedCallCounts_, operation);
}

int FakePlatform::FailedCallCount() const {
  const Lock lock(mutex_);
  int total = 0;
  for (const auto& [operation, count] : failedCallCounts_) total += count;
  return total;
}

// --- Test-side controls -----------------------------------------------------

void FakePlatform::CreateRegistryKey(Hive hive, const std::wstring& path) {
  const Lock lock(mutex_);
  registry_[{hive, Lower(path)}];
}

void FakePlatform::DeleteRegistryKey(Hive hive, const std::wstring& path) {
  const Lock lock(mutex_);
  registry_.erase({hive, Lower(path)});
}

void FakePlatform::SetDword(Hive hive, const std::wstring& path, const std::wstring& name,
                            std::uint32_t value) {
  SetRaw(hive, path, name, kRegDword,
         {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
          static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)});
}

void FakePlatform::SetRaw(Hive hive, const std::wstring& path, const std::wstring& name,
                          std::uint32_t type, std::vector<unsigned char> data) {
  const Lock lock(mutex_);
  registry_[{hive, Lower(path)}].values[Lower(name)] = FakeValue{type, std::move(data)};
}

void FakePlatform::DeleteValue(Hive hive, const std::wstring& path, const std::wstring& name) {
  const Lock lock(mutex_);
  if (Key* key = FindKey(hive, path)) key->values.erase(Lower(name));
}

void FakePlatform::DenyRead(Hive hive, const std::wstring& path) {
  const Lock lock(mutex_);
  registry_[{hive, Lower(path)}].denyRead = true;
}

const FakeValue* FakePlatform::FindValue(Hive hive, const std::wstring& path,
                                         const std::wstring& name) const {
  const Lock lock(mutex_);
  const auto key = registry_.find({hive, Lower(path)});
  if (key == registry_.end()) return nullptr;
  const auto value = key->second.values.find(Lower(name));
  return value == key->second.values.end() ? nullptr : &value->second;
}

bool FakePlatform::KeyExists(Hive hive, const std::wstring& path) const {
  const Lock lock(mutex_);
  return registry_.count({hive, Lower(path)}) != 0;
}

FakePlatform::Key* FakePlatform::FindKey(Hive hive, const std::wstring& path) {
  const auto key = registry_.find({hive, Lower(path)});
  return key == registry_.end() ? nullptr : &key->second;
}

std::vector<std::wstring> FakePlatform::JournalOf(const std::wstring& prefix) const {
  const Lock lock(mutex_);
  std::vector<std::wstring> entries;
  for (const auto& entry : journal_) {
    if (entry.compare(0, prefix.size(), prefix) == 0) entries.push_back(entry);
  }
  return entries;
}

std::vector<std::wstring> FakePlatform::TraceLines() const {
  const Lock lock(mutex_);
  std::vector<std::wstring> lines;
  for (const auto& entry : JournalOf(L"Trace ")) lines.push_back(entry.substr(6));
  return lines;
}

int FakePlatform::CallCount(const std::string& operation) const {
  const Lock lock(mutex_);
  return CountOf(callCounts_, operation);
}

int FakePlatform::OpenHandleCount() const {
  const Lock lock(mutex_);
  return static_cast<int>(openKeys_.size() + openEventSources_.size() + openThreads_.size() +
                          hooks_.size() + openMutexes_.size());
}

std::intptr_t FakePlatform::DeliverInput(HookKind kind, int code, std::uintptr_t wParam,
                                         std::intptr_t lParam) {
  const PlatformCall call(*this);
  ++lastInputTime;
  const auto hooks = hooks_;  // a procedure may change the chain
  for (const auto& [handle, hook] : hooks) {
    if (hook.kind != kind) continue;
    const Crossing program(seamObserver, SeamObserver::Side::Program);
    return hook.procedure(hook.context, code, wParam, lParam);
  }
  return 0;
}

int FakePlatform::InstalledHookCount(HookKind kind) const {
  const Lock lock(mutex_);
  return static_cast<int>(std::count_if(
      hooks_.begin(), hooks_.end(), [kind](const auto& hook) { return hook.second.kind == kind; }));
}

void FakePlatform::RunHeldThreads() {
  const Lock lock(mutex_);
  while (!heldThreads_.empty()) {
    const HeldThread thread = heldThreads_.front();
    heldThreads_.erase(heldThreads_.begin());
    RunBody(thread.entry, thread.argument);
  }
}

WindowHandle FakePlatform::AddWindow(const std::wstring& title, bool answersClose,
                                     std::function<void()> onClose) {
  const Lock lock(mutex_);
  const WindowHandle handle{NextHandle()};
  windows_.push_back(FakeWindow{handle, title, {}, answersClose, 0, std::move(onClose)});
  return handle;
}

WindowHandle FakePlatform::AddBusyWindow(const std::wstring& title, std::uint32_t busyMs) {
  const Lock lock(mutex_);
  const WindowHandle handle{NextHandle()};
  windows_.push_back(FakeWindow{handle, title, {}, true, busyMs, {}});
  return handle;
}

std::uint64_t FakePlatform::WaitedMs() const {
  const Lock lock(mutex_);
  return waitedMs_;
}

std::vector<FakeWindow> FakePlatform::OpenBoxes() const {
  const Lock lock(mutex_);
  std::vector<FakeWindow> boxes;
  std::copy_if(windows_.begin(), windows_.end(), std::back_inserter(boxes),
               [](const FakeWindow& window) { return !window.text.empty(); });
  return boxes;
}

void FakePlatform::CloseWindowByUser(WindowHandle window) {
  const Lock lock(mutex_);
  windows_.erase(std::remove_if(windows_.begin(), windows_.end(),
                                [window](const FakeWindow& w) { return w.handle == window; }),
                 windows_.end());
  changed_.notify_all();
}

void FakePlatform::ClearJournal() {
  const Lock lock(mutex_);
  journal_.clear();
}

std::size_t FakePlatform::HeldThreadCount() const {
  const Lock lock(mutex_);
  return heldThreads_.size();
}

int FakePlatform::RunningThreadCount() const {
  const Lock lock(mutex_);
  return runningThreads_;
}

bool FakePlatform::WaitForOpenBoxes(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::recursive_mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return OpenBoxes().size() == count; });
}

bool FakePlatform::WaitForThreadsToEnd(std::chrono::milliseconds timeout) const {
  std::unique_lock<std::recursive_mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return runningThreads_ == 0; });
}

bool FakePlatform::WindowTimerRunning(std::uintptr_t id) const {
  const Lock lock(mutex_);
  return windowTimers_.count(id) != 0;
}

bool FakePlatform::SessionNotificationsRegistered() const {
  const Lock lock(mutex_);
  return sessionNotifications_;
}

bool FakePlatform::ApplicationWindowExists() const {
  const Lock lock(mutex_);
  return applicationWindowExists_;
}

std::optional<int> FakePlatform::QuitCode() const {
  const Lock lock(mutex_);
  return quitCode_;
}

bool FakePlatform::Called(const std::string& operation) {
  ++callCounts_[operation];
  if (failing_.count(operation) == 0) return false;
  ++failedCallCounts_[operation];
  return true;
}

void FakePlatform::CloseThreadGate() {
  const Lock lock(mutex_);
  threadGateClosed_ = true;
}

void FakePlatform::OpenThreadGate() {
  const Lock lock(mutex_);
  threadGateClosed_ = false;
  changed_.notify_all();
}

void FakePlatform::RunBody(ThreadEntry entry, void* argument) {
  const Crossing program(seamObserver, SeamObserver::Side::Program);
  entry(argument);
}

void FakePlatform::RunThread(ThreadEntry entry, void* argument) {
  onRealThread = true;
  {
    std::unique_lock<std::recursive_mutex> lock(mutex_);
    // At shutdown the body still runs: it owns what it was given.
    changed_.wait(lock, [this] { return !threadGateClosed_ || shuttingDown_; });
  }
  RunBody(entry, argument);
  const Lock lock(mutex_);
  --runningThreads_;
  changed_.notify_all();
}

// --- Registry ---------------------------------------------------------------

RegistryKey FakePlatform::OpenKeyForRead(Hive hive, const wchar_t* path) {
  const PlatformCall call(*this);
  if (Called("OpenKeyForRead")) return RegistryKey{};
  const Key* key = FindKey(hive, path);
  if (key == nullptr || key->denyRead) return RegistryKey{};
  const auto handle = NextHandle();
  openKeys_[handle] = OpenKey{hive, path};
  return RegistryKey{handle};
}

bool FakePlatform::QueryValue(RegistryKey key, const wchar_t* name, void* data,
                              std::uint32_t* size) {
  const PlatformCall call(*this);
  if (Called("QueryValue")) return false;
  const auto open = openKeys_.find(static_cast<std::uintptr_t>(key));
  if (open == openKeys_.end()) return false;
  const FakeValue* value = FindValue(open->second.hive, open->second.path, name);
  if (value == nullptr) return false;
  const auto length = static_cast<std::uint32_t>(value->data.size());
  if (length > *size) {
    *size = length;
    return false;
  }
  if (length != 0) std::memcpy(data, value->data.data(), length);
  *size = length;
  return true;
}

void FakePlatform::CloseKey(RegistryKey key) {
  const PlatformCall call(*this);
  if (Called("CloseKey")) return;
  openKeys_.erase(static_cast<std::uintptr_t>(key));
}

RegistryKey FakePlatform::CreateKey(Hive hive, const wchar_t* path) {
  const PlatformCall call(*this);
  if (Called("CreateKey")) return RegistryKey{};
  Record(L"CreateKey " + std::wstring(HiveName(hive)) + L"\\" + path);
  if (Key* existing = FindKey(hive, path); existing != nullptr && existing->denyRead) {
    return RegistryKey{};  // no access to the machine hive
  }
  CreateRegistryKey(hive, path);
  const auto handle = NextHandle();
  openKeys_[handle] = OpenKey{hive, path};
  return RegistryKey{handle};
}

void FakePlatform::SetValue(RegistryKey key, const wchar_t* name, std::uint32_t type,
                            const void* data, std::uint32_t size) {
  const PlatformCall call(*this);
  if (Called("SetValue")) return;
  Record(L"SetValue " + std::wstring(name));
  const auto open = openKeys_.find(static_cast<std::uintptr_t>(key));
  if (open == openKeys_.end()) return;
  const auto* bytes = static_cast<const unsigned char*>(data);
  SetRaw(open->second.hive, open->second.path, name, type, {bytes, bytes + size});
}

// --- Everything else ----------------------------------------------------------

void FakePlatform::OutputDebugText(const wchar_t* text) {
  const PlatformCall call(*this);
  if (Called("OutputDebugText")) return;
  if (journalling) Record(L"Trace " + std::wstring(text));
}

std::uintptr_t FakePlatform::StartWindowTimer(WindowHandle window, std::uintptr_t id,
                                              std::uint32_t periodMs) {
  const PlatformCall call(*this);
  if (Called("StartWindowTimer")) return 0;
  Record(L"StartWindowTimer " + Hex(static_cast<std::uintptr_t>(window)) + L" " +
         std::to_wstring(id) + L" " + std::to_wstring(periodMs));
  windowTimers_.insert(id);
  return id;
}

void FakePlatform::StopWindowTimer(WindowHandle window, std::uintptr_t id) {
  const PlatformCall call(*this);
  if (Called("StopWindowTimer")) return;  // the timer keeps ticking
  Record(L"StopWindowTimer " + Hex(static_cast<std::uintptr_t>(window)) + L" " +
         std::to_wstring(id));
  windowTimers_.erase(id);
}

void FakePlatform::RegisterSessionNotification(WindowHandle window) {
  const PlatformCall call(*this);
  if (Called("RegisterSessionNotification")) return;
  Record(L"RegisterSessionNotification " + Hex(static_cast<std::uintptr_t>(window)));
  sessionNotifications_ = true;
}

void FakePlatform::UnregisterSessionNotification(WindowHandle window) {
  const PlatformCall call(*this);
  if (Called("UnregisterSessionNotification")) return;
  Record(L"UnregisterSessionNotification " + Hex(static_cast<std::uintptr_t>(window)));
  sessionNotifications_ = false;
}

void FakePlatform::DisconnectSession() {
  const PlatformCall call(*this);
  if (Called("DisconnectSession")) return;  // the session stays connected
  Record(L"DisconnectSession");
  Reenter("DisconnectSession");
}

void FakePlatform::LogoffSession() {
  const PlatformCall call(*this);
  if (Called("LogoffSession")) return;  // the session goes on
  Record(L"LogoffSession");
  Reenter("LogoffSession");
}

HookHandle FakePlatform::InstallHook(HookKind kind, HookProcedure procedure, void* context) {
  const PlatformCall call(*this);
  if (Called("InstallHook")) return HookHandle{};
  Record(L"InstallHook " + std::wstring(HookName(kind)));
  const auto handle = NextHandle();
  hooks_[handle] = Hook{kind, procedure, context};
  return HookHandle{handle};
}

void FakePlatform::RemoveHook(HookHandle hook) {
  const PlatformCall call(*this);
  if (Called("RemoveHook")) return;  // the hook stays in the chain
  const auto found = hooks_.find(static_cast<std::uintptr_t>(hook));
  if (found == hooks_.end()) return;
  Record(L"RemoveHook " + std::wstring(HookName(found->second.kind)));
  hooks_.erase(found);
}

std::intptr_t FakePlatform::CallNextHook(int code, std::uintptr_t wParam, std::intptr_t lParam) {
  const PlatformCall call(*this);
  if (Called("CallNextHook")) return 0;
  if (journalling) {
    Record(L"CallNextHook " + std::to_wstring(code) + L" " + Hex(wParam) + L" " +
           std::to_wstring(lParam));
  }
  return nextHookResult;
}

bool FakePlatform::ReadLastInputTime(std::uint32_t* tickCount) {
  const PlatformCall call(*this);
  if (Called("ReadLastInputTime")) return false;  // `tickCount` untouched
  // A reading changes nothing outside the process: not journalled.
  *tickCount = lastInputTime;
  return true;
}

ThreadHandle FakePlatform::StartThread(ThreadEntry entry, void* argument) {
  const PlatformCall call(*this);
  if (Called("StartThread")) return ThreadHandle{};
  Record(L"StartThread");
  Reenter("StartThread");
  const auto handle = NextHandle();
  openThreads_.insert(handle);
  switch (threadMode) {
    case ThreadMode::RunAtOnce:
      RunBody(entry, argument);
      break;
    case ThreadMode::Hold:
      heldThreads_.push_back(HeldThread{entry, argument});
      break;
    case ThreadMode::RealThreads:
      ++runningThreads_;
      realThreads_.emplace_back(&FakePlatform::RunThread, this, entry, argument);
      break;
  }
  return ThreadHandle{handle};
}

void FakePlatform::ShowMessageBox(const wchar_t* text, const wchar_t* caption,
                                  std::uint32_t style) {
  PlatformCall call(*this);
  if (Called("ShowMessageBox")) return;  // no box
  Record(L"MessageBox " + std::wstring(caption) + L" | " + Hex(style));
  // The box stays up (as a top-level window) until closed.
  const WindowHandle box{NextHandle()};
  windows_.push_back(FakeWindow{box, caption, text, true, 0, {}});
  changed_.notify_all();
  if (!onRealThread) return;
  changed_.wait(call.lock, [&] {
    return shuttingDown_ || std::none_of(windows_.begin(), windows_.end(),
                                         [box](const FakeWindow& w) { return w.handle == box; });
  });
}

void FakePlatform::Sleep(std::uint32_t milliseconds) {
  const PlatformCall call(*this);
  if (Called("Sleep")) return;
  Record(L"Sleep " + std::to_wstring(milliseconds));
}

void FakePlatform::CloseThreadHandle(ThreadHandle thread) {
  const PlatformCall call(*this);
  if (Called("CloseThreadHandle")) return;  // the handle stays open
  Record(L"CloseThreadHandle");
  openThreads_.erase(static_cast<std::uintptr_t>(thread));
}

std::uint32_t FakePlatform::GetThreadLocale() {
  const PlatformCall call(*this);
  if (Called("GetThreadLocale")) return 0;
  return threadLocale;
}

void FakePlatform::SetThreadLocale(std::uint32_t locale) {
  const PlatformCall call(*this);
  if (Called("SetThreadLocale")) return;
  Record(L"SetThreadLocale " + Hex(locale));
  threadLocale = locale;
}

const std::wstring* FakePlatform::LookUpText(std::uint32_t messageId) const {
  // Language 0: neutral, the thread's language, the user's and the system's
  // default language, then US English.
  const std::uint16_t candidates[] = {0, LanguageOf(threadLocale), userDefaultLanguage,
                                      systemDefaultLanguage, 0x0409};
  for (const std::uint16_t language : candidates) {
    if (const std::wstring* text = catalog_.Find(messageId, language)) return text;
    if ((language & 0x3FF) != 0 && (language >> 10) == 0) {
      if (const std::wstring* text = catalog_.Find(messageId, DefaultVariant(language)))
        return text;
    }
  }
  return nullptr;
}

std::uint32_t FakePlatform::FormatCatalogMessage(std::uint32_t messageId, wchar_t* buffer,
                                                 std::uint32_t capacity) {
  const PlatformCall call(*this);
  if (Called("FormatCatalogMessage")) return 0;
  const std::wstring* text = LookUpText(messageId);
  if (text == nullptr) return 0;
  std::wstring formatted;
  for (std::size_t i = 0; i < text->size(); ++i) {
    if ((*text)[i] != L'%' || i + 1 == text->size()) {
      formatted.push_back((*text)[i]);
      continue;
    }
    const wchar_t next = (*text)[++i];
    if (next == L'0') break;  // "%0" ends the text without a line break
    if (next == L'n') {
      formatted += L"\r\n";
    } else {
      formatted.push_back(next);  // "%%", "%." and the like
    }
  }
  if (formatted.size() + 1 > capacity) return 0;
  std::wmemcpy(buffer, formatted.c_str(), formatted.size() + 1);
  return static_cast<std::uint32_t>(formatted.size());
}

std::uint32_t FakePlatform::GetModulePath(wchar_t* buffer, std::uint32_t capacity) {
  const PlatformCall call(*this);
  if (Called("GetModulePath") || capacity == 0) return 0;
  // Like the real call, a path that does not fit is cut and fills the buffer.
  const std::size_t length = std::min<std::size_t>(modulePath.size(), capacity - 1);
  std::wmemcpy(buffer, modulePath.c_str(), length);
  buffer[length] = 0;
  return modulePath.size() < capacity ? static_cast<std::uint32_t>(length) : capacity;
}

bool FakePlatform::EnumerateWindows(WindowVisitor visitor, void* context) {
  const PlatformCall call(*this);
  if (Called("EnumerateWindows")) return false;
  Reenter("EnumerateWindows");
  std::vector<WindowHandle> handles;
  for (const auto& window : windows_) handles.push_back(window.handle);
  for (const WindowHandle handle : handles) {
    const Crossing program(seamObserver, SeamObserver::Side::Program);
    if (!visitor(handle, context)) break;
  }
  return true;
}

int FakePlatform::GetStoredWindowTitle(WindowHandle window, wchar_t* buffer, int capacity) {
  const PlatformCall call(*this);
  if (Called("GetStoredWindowTitle") || capacity <= 0) return 0;
  // The title the system keeps: no message is sent, so nothing can reach the
  // program meanwhile and a busy window costs no wait.
  for (const auto& candidate : windows_) {
    if (candidate.handle != window) continue;
    const auto length =
        std::min<std::size_t>(candidate.title.size(), static_cast<std::size_t>(capacity - 1));
    std::wmemcpy(buffer, candidate.title.c_str(), length);
    buffer[length] = 0;
    return static_cast<int>(length);
  }
  return 0;
}

void FakePlatform::SendMessageWithTimeout(WindowHandle window, std::uint32_t message,
                                          std::uintptr_t wParam, std::intptr_t lParam,
                                          std::uint32_t flags, std::uint32_t timeoutMs) {
  const PlatformCall call(*this);
  if (Called("SendMessageWithTimeout")) return;  // the window never gets the message
  const auto target = std::find_if(windows_.begin(), windows_.end(),
                                   [window](const FakeWindow& w) { return w.handle == window; });
  const std::wstring title = target == windows_.end() ? L"?" : target->title;
  Record(L"SendMessageTimeout " + title + L" " + Hex(message) + L" " + std::to_wstring(wParam) +
         L" " + std::to_wstring(lParam) + L" " + std::to_wstring(flags) + L" " +
         std::to_wstring(timeoutMs));
  if (target != windows_.end()) {
    // The answer comes once the window's thread is free; a WM_CLOSE it does
    // not answer, or one that comes too late, costs the whole time-out.
    const bool answers = message != kWmClose || target->answersClose;
    waitedMs_ += answers ? std::min(target->busyMs, timeoutMs) : timeoutMs;
  }
  // Sent messages reach the program while it waits for the answer.
  Reenter("SendMessageWithTimeout");
  // Looked up again each time: what ran meanwhile may have closed or opened
  // windows.
  const auto find = [&] {
    return std::find_if(windows_.begin(), windows_.end(),
                        [window](const FakeWindow& w) { return w.handle == window; });
  };
  if (message != kWmClose || find() == windows_.end() || !find()->answersClose) return;
  if (const std::function<void()> onClose = find()->onClose) onClose();
  if (const auto closing = find(); closing != windows_.end()) {
    windows_.erase(closing);
    changed_.notify_all();
  }
}

EventSourceHandle FakePlatform::OpenEventSource(const wchar_t* sourceName) {
  const PlatformCall call(*this);
  if (Called("OpenEventSource")) return EventSourceHandle{};
  Record(L"OpenEventSource " + std::wstring(sourceName));
  const auto handle = NextHandle();
  openEventSources_.insert(handle);
  return EventSourceHandle{handle};
}

void FakePlatform::ReportEvent(EventSourceHandle source, std::uint16_t type, std::uint16_t category,
                               std::uint32_t eventId) {
  const PlatformCall call(*this);
  if (Called("ReportEvent")) return;
  if (openEventSources_.count(static_cast<std::uintptr_t>(source)) == 0) return;
  Record(L"ReportEvent " + std::to_wstring(type) + L" " + std::to_wstring(category) + L" " +
         std::to_wstring(eventId));
}

void FakePlatform::CloseEventSource(EventSourceHandle source) {
  const PlatformCall call(*this);
  if (Called("CloseEventSource")) return;  // the source stays open
  Record(L"CloseEventSource");
  openEventSources_.erase(static_cast<std::uintptr_t>(source));
}

void FakePlatform::TrimWorkingSet() {
  const PlatformCall call(*this);
  if (Called("TrimWorkingSet")) return;
  Record(L"TrimWorkingSet");
}

MutexHandle FakePlatform::CreateNamedMutex(const wchar_t* name, bool* alreadyExisted) {
  const PlatformCall call(*this);
  *alreadyExisted = false;
  if (Called("CreateNamedMutex")) return MutexHandle{};
  Record(L"CreateNamedMutex " + std::wstring(name));
  // "Local\" and names without a prefix live in the session's namespace,
  // "Global\" in the machine's.
  std::wstring machineName = name;
  const std::wstring local = L"Local\\", global = L"Global\\";
  if (machineName.rfind(global, 0) == 0) {
    machineName.erase(0, global.size());
  } else {
    if (machineName.rfind(local, 0) == 0) machineName.erase(0, local.size());
    machineName = L"Sessions\\" + std::to_wstring(sessionId) + L"\\" + machineName;
  }
  int& handles = namedObjects->openHandles[machineName];
  *alreadyExisted = handles > 0;
  ++handles;
  const auto handle = NextHandle();
  openMutexes_[handle] = machineName;
  return MutexHandle{handle};
}

void FakePlatform::CloseMutex(MutexHandle mutex) {
  const PlatformCall call(*this);
  if (Called("CloseMutex")) return;  // the handle stays open
  const auto open = openMutexes_.find(static_cast<std::uintptr_t>(mutex));
  if (open == openMutexes_.end()) return;
  Record(L"CloseMutex");
  if (--namedObjects->openHandles[open->second] == 0) namedObjects->openHandles.erase(open->second);
  openMutexes_.erase(open);
}

std::vector<std::wstring> FakePlatform::OpenMutexNames() const {
  const Lock lock(mutex_);
  std::vector<std::wstring> names;
  for (const auto& open : openMutexes_) names.push_back(open.second);
  return names;
}

std::uint32_t FakePlatform::ActiveConsoleSessionId() {
  const PlatformCall call(*this);
  // No session attached to the console reads as 0xFFFFFFFF on the real system.
  if (Called("ActiveConsoleSessionId")) return 0xFFFFFFFF;
  return consoleSessionId;
}

WindowHandle FakePlatform::CreateApplicationWindow(const wchar_t* className, const wchar_t* title) {
  const PlatformCall call(*this);
  if (Called("CreateApplicationWindow")) return WindowHandle{};
  Record(L"CreateApplicationWindow " + std::wstring(className) + L" | " + title);
  applicationWindowExists_ = true;
  return applicationWindow;
}

void FakePlatform::DestroyApplicationWindow(WindowHandle window) {
  const PlatformCall call(*this);
  if (Called("DestroyApplicationWindow")) return;  // the window stays
  Record(L"DestroyApplicationWindow " + Hex(static_cast<std::uintptr_t>(window)));
  applicationWindowExists_ = false;
}

void FakePlatform::PostQuit(int exitCode) {
  const PlatformCall call(*this);
  if (Called("PostQuit")) return;  // the message loop goes on
  Record(L"PostQuit " + std::to_wstring(exitCode));
  quitCode_ = exitCode;
}

void FakePlatform::PaintNothing(WindowHandle window) {
  const PlatformCall call(*this);
  if (Called("PaintNothing")) return;
  Record(L"PaintNothing " + Hex(static_cast<std::uintptr_t>(window)));
}

std::intptr_t FakePlatform::DefaultWindowProcedure(WindowHandle window, std::uint32_t message,
                                                   std::uintptr_t wParam, std::intptr_t lParam) {
  const PlatformCall call(*this);
  if (Called("DefaultWindowProcedure")) return 0;
  Record(L"DefaultWindowProcedure " + Hex(static_cast<std::uintptr_t>(window)) + L" " +
         Hex(message) + L" " + std::to_wstring(wParam) + L" " + std::to_wstring(lParam));
  return defaultProcedureResult;
}

bool FakePlatform::EqualsIgnoringCase(const wchar_t* first, const wchar_t* second) {
  const PlatformCall call(*this);
  if (Called("EqualsIgnoringCase")) return false;
  return Lower(first) == Lower(second);
}

}  // namespace ravitor::testing
