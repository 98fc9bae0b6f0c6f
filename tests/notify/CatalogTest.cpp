// The message catalogue source: the English texts byte for byte, every
// language complete, and lookup with the platform's language fallback.
#include <gtest/gtest.h>

#include "fake/FakePlatform.h"
#include "notify/CatalogIds.h"
#include "notify/CatalogText.h"

namespace ravitor::testing {
namespace {

constexpr std::uint16_t kEnglish = 0x0409;

const std::wstring kEnded =
    L"The remote session was ended because the disconnect time limit was reached.\r\n"
    L"This limit is set by the server administrator or by network policies.\r\n";

const std::vector<std::pair<std::uint32_t, std::wstring>> kEnglishTexts = {
    {1, L"WTS Event\r\n"},
    {2, L"TIMER Event\r\n"},
    {3, L"TIMER Event\r\n"},
    {4, L"Other\r\n"},
    {101, L"WTS_CONSOLE_CONNECT\r\n"},
    {102, L"WTS_CONSOLE_DISCONNECT\r\n"},
    {103, L"WTS_REMOTE_CONNECT\r\n"},
    {104, L"WTS_REMOTE_DISCONNECT\r\n"},
    {105, L"WTS_SESSION_LOGON\r\n"},
    {106, L"WTS_SESSION_TIMER\r\n"},
    {107, L"WTS_SESSION_LOCK\r\n"},
    {108, L"WTS_SESSION_UNLOCK\r\n"},
    {109, L"WTS_SESSION_REMOTE_CONTROL\r\n"},
    {110,
     L"Exiting program since no Terminal Services time related group policies are enabled "
     L"and there is nothing for this program to do.\r\n"},
    {111, L"RAVITOR: Logon timer expired%0\r\n"},
    {112,
     L"Session has now exceeded its time limit.\r\nLogoff will start in 2 minutes.\r\n"
     L"Save all your files now.\r\n"},
    {113,
     L"Session has now exceeded its time limit.\r\nIt will be disconnected in 2 minutes.\r\n"
     L"Save all your files now.\r\n"},
    {114, L"RAVITOR: Idle timer expired%0\r\n"},
    {115,
     L"Session has been idle over its time limit.\r\nLogoff will start in 2 minutes.\r\n"
     L"Press any key now to continue session. \r\n"},
    {116,
     L"Session has been idle over its time limit.\r\nIt will be disconnected in 2 minutes.\r\n"
     L"Press any key now to continue session. \r\n"},
    {117, L"%0\r\n"},
    {118, kEnded},
    {119, kEnded},
    {120, L"%0\r\n"},
};

const std::vector<std::uint16_t> kLanguages = {
    1025, 1028, 1029, 1030, 1031, 1032, 1033, 1034, 1035, 1036, 1037, 1038, 1040, 1041,
    1042, 1043, 1044, 1045, 1046, 1049, 1051, 1053, 1054, 1055, 1060, 2052, 2070};

TEST(Catalog, StoresTheEnglishTextsByteForByte) {
  FakePlatform fake;
  for (const auto& [id, text] : kEnglishTexts) {
    const std::wstring* stored = fake.Catalog().Find(id, kEnglish);
    ASSERT_NE(stored, nullptr) << id;
    EXPECT_EQ(*stored, text) << id;
  }
}

TEST(Catalog, EveryLanguageCarriesEveryMessageAndCaptionPrefix) {
  FakePlatform fake;
  EXPECT_EQ(fake.Catalog().LanguageCount(), kLanguages.size());
  for (const std::uint16_t language : kLanguages) {
    EXPECT_EQ(fake.Catalog().MessageCount(language), kEnglishTexts.size()) << language;
    for (const auto& [id, english] : kEnglishTexts) {
      const std::wstring* text = fake.Catalog().Find(id, language);
      ASSERT_NE(text, nullptr) << id << " in " << language;
      EXPECT_EQ(text->substr(text->size() - 2), L"\r\n") << id << " in " << language;
    }
    const bool fullWidth = language == 1028 || language == 1041 || language == 2052;
    const std::wstring prefix = fullWidth ? L"RAVITOR\uFF1A" : L"RAVITOR: ";
    for (const std::uint32_t caption : {kActiveCaption, kIdleCaption}) {
      const std::wstring& text = *fake.Catalog().Find(caption, language);
      EXPECT_EQ(text.rfind(prefix, 0), 0u) << caption << " in " << language;
      EXPECT_EQ(text.substr(text.size() - 4), L"%0\r\n") << caption << " in " << language;
    }
  }
}

TEST(LoadCatalogText, CaptionStopsAtPercentZeroAndTextsKeepTheirLineBreaks) {
  FakePlatform fake;
  wchar_t caption[kCatalogTextCapacity] = {};
  wchar_t text[kCatalogTextCapacity] = {};
  LoadCatalogText(fake, kIdleCaption, caption, kCatalogTextCapacity);
  LoadCatalogText(fake, kIdleDisconnectWarning, text, kCatalogTextCapacity);

  EXPECT_STREQ(caption, L"RAVITOR: Idle timer expired");
  EXPECT_STREQ(
      text,
      L"Session has been idle over its time limit.\r\nIt will be disconnected in 2 minutes.\r\n"
      L"Press any key now to continue session. \r\n");
}

TEST(LoadCatalogText, LeavesTheBufferEmptyWhenFormattingFails) {
  FakePlatform fake;
  fake.Fail("FormatCatalogMessage");
  wchar_t caption[kCatalogTextCapacity] = {};
  LoadCatalogText(fake, kIdleCaption, caption, kCatalogTextCapacity);
  EXPECT_STREQ(caption, L"");
}

struct FallbackCase {
  const char* name;
  std::uint32_t threadLocale;
  std::uint16_t userLanguage;
  std::uint16_t systemLanguage;
  std::uint16_t expectedLanguage;
};

void PrintTo(const FallbackCase& c, std::ostream* os) { *os << c.name; }

class CatalogFallbackTest : public ::testing::TestWithParam<FallbackCase> {};

TEST_P(CatalogFallbackTest, FindsTheFirstLanguageTheCatalogueHas) {
  const FallbackCase& c = GetParam();
  FakePlatform fake;
  fake.threadLocale = c.threadLocale;
  fake.userDefaultLanguage = c.userLanguage;
  fake.systemDefaultLanguage = c.systemLanguage;
  wchar_t text[kCatalogTextCapacity] = {};
  LoadCatalogText(fake, kActiveDisconnectWarning, text, kCatalogTextCapacity);

  EXPECT_EQ(std::wstring(text), *fake.Catalog().Find(kActiveDisconnectWarning, c.expectedLanguage));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CatalogFallbackTest,
    ::testing::Values(FallbackCase{"ThreadLanguage", 0x0407, 0x040C, 0x0410, 0x0407},
                      FallbackCase{"NeutralGermanFindsGermany", 0x0007, 0x0409, 0x0409, 0x0407},
                      FallbackCase{"NeutralChineseFindsPrc", 0x0004, 0x0409, 0x0409, 0x0804},
                      FallbackCase{"MissingThreadLanguageFallsToUserDefault", 0x0427, 0x040C,
                                   0x0410, 0x040C},
                      FallbackCase{"ThenToSystemDefault", 0x0427, 0x0426, 0x0410, 0x0410},
                      FallbackCase{"ThenToUsEnglish", 0x0427, 0x0426, 0x0425, 0x0409}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

}  // namespace
}  // namespace ravitor::testing
