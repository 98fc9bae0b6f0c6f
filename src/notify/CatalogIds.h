// Identifiers of the message catalogue texts the program uses.
#pragma once

#include <cstdint>

namespace ravitor {

inline constexpr std::uint32_t kCategoryWtsEvent = 1;
inline constexpr std::uint32_t kActiveCaption = 111;
inline constexpr std::uint32_t kActiveLogoffWarning = 112;
inline constexpr std::uint32_t kActiveDisconnectWarning = 113;
inline constexpr std::uint32_t kIdleCaption = 114;
inline constexpr std::uint32_t kIdleLogoffWarning = 115;
inline constexpr std::uint32_t kIdleDisconnectWarning = 116;
inline constexpr std::uint32_t kDisconnectedCaption = 117;
inline constexpr std::uint32_t kSessionLoggedOffEvent = 118;
inline constexpr std::uint32_t kSessionDisconnectedEvent = 119;

// Every catalogue text is formatted into a buffer of this many units.
inline constexpr std::uint32_t kCatalogTextCapacity = 512;

}  // namespace ravitor
