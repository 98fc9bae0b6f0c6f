// Parser of the message-compiler source format used by res/messages.mc.
#include "fake/McCatalog.h"

#include <fstream>
#include <iterator>
#include <vector>

namespace ravitor::testing {
namespace {

// Splits into lines that keep their own line ending.
std::vector<std::wstring> SplitKeepingEndings(const std::wstring& text) {
  std::vector<std::wstring> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(L'\n', start);
    end = end == std::wstring::npos ? text.size() : end + 1;
    lines.push_back(text.substr(start, end - start));
    start = end;
  }
  return lines;
}

std::wstring Trim(const std::wstring& line) {
  const auto first = line.find_first_not_of(L" \t\r\n");
  if (first == std::wstring::npos) return {};
  const auto last = line.find_last_not_of(L" \t\r\n");
  return line.substr(first, last - first + 1);
}

bool StartsWith(const std::wstring& text, const std::wstring& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

std::uint32_t ParseNumber(const std::wstring& text) {
  return static_cast<std::uint32_t>(std::stoul(text, nullptr, 0));
}

}  // namespace

std::wstring WidenUtf8(const std::string& bytes) {
  std::wstring out;
  for (std::size_t i = 0; i < bytes.size();) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    int extra = lead < 0x80         ? 0
                : (lead >> 5) == 6  ? 1
                : (lead >> 4) == 14 ? 2
                : (lead >> 3) == 30 ? 3
                                    : -1;
    if (extra < 0 || i + static_cast<std::size_t>(extra) >= bytes.size()) {
      out.push_back(L'\uFFFD');
      ++i;
      continue;
    }
    const auto length = static_cast<std::size_t>(extra);
    std::uint32_t code = extra == 0 ? lead : lead & (0x3Fu >> length);
    for (std::size_t k = 1; k <= length; ++k) {
      code = code << 6 | (static_cast<unsigned char>(bytes[i + k]) & 0x3Fu);
    }
    out.push_back(static_cast<wchar_t>(code));
    i += static_cast<std::size_t>(extra) + 1;
  }
  return out;
}

bool McCatalog::Load(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  const std::string bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  const auto lines = SplitKeepingEndings(WidenUtf8(bytes));

  std::uint32_t messageId = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::wstring line = Trim(lines[i]);
    if (line.empty() || line[0] == L';') continue;
    if (StartsWith(line, L"LanguageNames=(")) {
      // LanguageNames=(Name=0xID:FileName)
      const std::wstring entry = line.substr(15, line.size() - 16);
      const auto equals = entry.find(L'=');
      const auto colon = entry.find(L':');
      if (line.back() != L')' || equals == std::wstring::npos || colon == std::wstring::npos) {
        return false;
      }
      languageNames_[entry.substr(0, equals)] =
          static_cast<std::uint16_t>(ParseNumber(entry.substr(equals + 1, colon - equals - 1)));
    } else if (StartsWith(line, L"MessageId=")) {
      messageId = ParseNumber(line.substr(10));
    } else if (StartsWith(line, L"Language=")) {
      const auto language = languageNames_.find(line.substr(9));
      if (language == languageNames_.end()) return false;
      std::wstring text;
      for (++i; i < lines.size() && Trim(lines[i]) != L"."; ++i) text += lines[i];
      if (i == lines.size()) return false;  // no closing "."
      texts_[{messageId, language->second}] = text;
    }
  }
  return !texts_.empty();
}

const std::wstring* McCatalog::Find(std::uint32_t messageId, std::uint16_t languageId) const {
  const auto found = texts_.find({messageId, languageId});
  return found == texts_.end() ? nullptr : &found->second;
}

bool McCatalog::HasLanguage(std::uint16_t languageId) const {
  for (const auto& [key, text] : texts_) {
    if (key.second == languageId) return true;
  }
  return false;
}

std::size_t McCatalog::MessageCount(std::uint16_t languageId) const {
  std::size_t count = 0;
  for (const auto& [key, text] : texts_) count += key.second == languageId ? 1 : 0;
  return count;
}

const McCatalog& ProjectCatalog() {
  static const McCatalog catalog = [] {
    McCatalog loaded;
    loaded.Load(RAVITOR_CATALOG_PATH);
    return loaded;
  }();
  return catalog;
}

}  // namespace ravitor::testing
