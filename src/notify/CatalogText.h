// Formatting one text of the executable's message catalogue.
#pragma once

#include <cstdint>

#include "platform/Platform.h"

namespace ravitor {

// The platform picks the language (neutral, thread, user default, system
// default, US English). On failure `buffer` is left as it was.
void LoadCatalogText(Platform& platform, std::uint32_t messageId, wchar_t* buffer,
                     std::uint32_t capacity);

}  // namespace ravitor
