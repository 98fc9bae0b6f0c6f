// Reads a message-compiler source file into texts by identifier and language,
// so the test platform formats the very texts the executable carries.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>

namespace ravitor::testing {

class McCatalog {
 public:
  // Parses a UTF-8 .mc file; false when it cannot be read or parsed.
  bool Load(const std::string& path);

  // The stored text exactly as in the file (line endings included), or null.
  const std::wstring* Find(std::uint32_t messageId, std::uint16_t languageId) const;
  bool HasLanguage(std::uint16_t languageId) const;
  std::size_t LanguageCount() const { return languageNames_.size(); }
  std::size_t MessageCount(std::uint16_t languageId) const;

 private:
  std::map<std::wstring, std::uint16_t> languageNames_;
  std::map<std::pair<std::uint32_t, std::uint16_t>, std::wstring> texts_;
};

// The project's own catalogue, res/messages.mc, parsed once per test process.
const McCatalog& ProjectCatalog();

// Decodes UTF-8 into wide characters; invalid sequences become U+FFFD.
std::wstring WidenUtf8(const std::string& bytes);

}  // namespace ravitor::testing
