// Catalogue lookup through the platform's message formatting.
#include "notify/CatalogText.h"

namespace ravitor {

void LoadCatalogText(Platform& platform, std::uint32_t messageId, wchar_t* buffer,
                     std::uint32_t capacity) {
  // Callers start from an empty buffer, so a failed lookup leaves an empty
  // text; nothing else is done about it.
  platform.FormatCatalogMessage(messageId, buffer, capacity);
}

}  // namespace ravitor
