// Warning boxes, the sweep of expired boxes and event-log records.
#include "notify/Notifier.h"

#include <cwchar>
#include <memory>
#include <new>

#include "notify/CatalogIds.h"
#include "notify/CatalogText.h"
#include "platform/UniquePlatformHandle.h"

namespace ravitor {
namespace {

constexpr std::uint32_t kChinesePrc = 0x0804;
constexpr std::uint32_t kPrimaryLanguageMask = 0x3FF;
constexpr int kWindowTitleCapacity = 260;

// The strings of one box. They belong to the box's thread, so a second
// warning raised right after cannot overwrite them.
struct WarningBox {
  Platform* platform;
  wchar_t text[kCatalogTextCapacity];
  wchar_t caption[kCatalogTextCapacity];
};

std::uint32_t RunWarningBox(void* argument) {
  const std::unique_ptr<WarningBox> box(static_cast<WarningBox*>(argument));
  box->platform->ShowMessageBox(box->text, box->caption, kWarningBoxStyle);
  return 0;
}

struct Sweep {
  Platform& platform;
  ExpiredWarnings expired;
};

void CloseIfCaption(Platform& platform, WindowHandle window, const wchar_t* title,
                    std::uint32_t captionId) {
  wchar_t caption[kCatalogTextCapacity] = {};
  LoadCatalogText(platform, captionId, caption, kCatalogTextCapacity);
  // An unformatted caption stays empty and so matches no titled window.
  if (std::wcscmp(title, caption) != 0) return;
  // A window that does not answer within the time-out is left alone.
  platform.SendMessageWithTimeout(window, kWmClose, 0, 0, kSmtoNormal, kSweepTimeoutMs);
}

bool VisitWindow(WindowHandle window, void* context) {
  auto& sweep = *static_cast<Sweep*>(context);
  wchar_t title[kWindowTitleCapacity] = {};
  if (sweep.platform.GetStoredWindowTitle(window, title, kWindowTitleCapacity) <= 0 ||
      title[0] == 0) {
    return true;
  }
  if (sweep.expired.idle) CloseIfCaption(sweep.platform, window, title, kIdleCaption);
  if (sweep.expired.active) CloseIfCaption(sweep.platform, window, title, kActiveCaption);
  return true;
}

}  // namespace

void Notifier::ShowWarning(std::uint32_t textId, std::uint32_t captionId) {
  // Any regional variant of a catalogue language then finds that language's
  // texts. Chinese (PRC) is kept, since its neutral form would not name the
  // simplified-script texts alone. The change stays on the main thread.
  const std::uint32_t locale = platform_.GetThreadLocale();
  if (locale != kChinesePrc) platform_.SetThreadLocale(locale & kPrimaryLanguageMask);

  std::unique_ptr<WarningBox> box(new (std::nothrow) WarningBox{&platform_, {}, {}});
  if (!box) return;
  LoadCatalogText(platform_, textId, box->text, kCatalogTextCapacity);
  LoadCatalogText(platform_, captionId, box->caption, kCatalogTextCapacity);

  const UniqueThreadHandle thread(platform_, platform_.StartThread(&RunWarningBox, box.get()));
  if (!thread) return;  // no box; `box` frees the strings here
  box.release();        // the thread owns the strings now
  platform_.Sleep(1);
}

bool Notifier::CloseExpiredWarnings(ExpiredWarnings expired) {
  Sweep sweep{platform_, expired};
  return platform_.EnumerateWindows(&VisitWindow, &sweep);
}

void Notifier::ReportSessionEvent(std::uint16_t type, std::uint16_t category,
                                  std::uint32_t eventId) {
  const UniqueEventSource source(platform_, platform_.OpenEventSource(sourceName_));
  if (!source) return;
  platform_.ReportEvent(source.get(), type, category, eventId);
}

}  // namespace ravitor
