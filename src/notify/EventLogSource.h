// Registration of the program as an event-log source of the Application log.
#pragma once

#include <cstdint>

#include "platform/Platform.h"

namespace ravitor {

// Points the source's event and category message files at the program's own
// executable. Without write access to the machine hive nothing is written.
void RegisterEventLogSource(Platform& platform, const wchar_t* sourceName,
                            std::uint32_t categoryCount);

}  // namespace ravitor
