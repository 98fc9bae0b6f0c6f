// LoadCatalogText against the platform's catalogue formatting called directly.
#include <benchmark/benchmark.h>

#include <cwchar>
#include <string>

#include "CoreProcess.h"
#include "notify/CatalogIds.h"
#include "notify/CatalogText.h"

namespace ravitor::benchmarks {
namespace {

using testing::FakePlatform;

void Program(benchmark::State& state, std::uint32_t locale) {
  FakePlatform fake;
  fake.journalling = false;
  fake.threadLocale = locale;
  wchar_t text[kCatalogTextCapacity] = {};
  for (auto _ : state) {
    LoadCatalogText(fake, kIdleDisconnectWarning, text, kCatalogTextCapacity);
    benchmark::DoNotOptimize(text);
  }
  if (text[0] == 0) state.SkipWithError("no text");
}

void Floor(benchmark::State& state, std::uint32_t locale) {
  FakePlatform fake;
  fake.journalling = false;
  fake.threadLocale = locale;
  wchar_t text[kCatalogTextCapacity] = {};
  for (auto _ : state) {
    fake.FormatCatalogMessage(kIdleDisconnectWarning, text, kCatalogTextCapacity);
    benchmark::DoNotOptimize(text);
  }
  if (text[0] == 0) state.SkipWithError("no text");
}

const bool registered = [] {
  // US English, and German as the warning path leaves it (primary language).
  for (const auto& [name, locale] : {std::pair<const char*, std::uint32_t>{"en-US", 0x0409},
                                     std::pair<const char*, std::uint32_t>{"de", 0x0007}}) {
    const std::string prefix = std::string("LoadCatalogText/Fake/") + name;
    benchmark::RegisterBenchmark((prefix + "/Program").c_str(), &Program, locale);
    benchmark::RegisterBenchmark((prefix + "/Floor").c_str(), &Floor, locale);
  }
  return true;
}();

}  // namespace
}  // namespace ravitor::benchmarks
