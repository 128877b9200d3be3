// The key lookup against Wine's real registry: the same boundary values as the
// native tests, written with RegSetKeyValueA where Exchange keeps them.
#include "keys/installed_key_source.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "common/product_id_values.h"
#include "win/win_test_support.h"

namespace {

using keys::getExchangeKey;

class InstalledKeySourceOnWindows : public ::testing::Test {
 protected:
  void SetUp() override { wintest::removeExchangeKey(); }
  void TearDown() override { wintest::removeExchangeKey(); }
};

TEST_F(InstalledKeySourceOnWindows, MissingKeyOrValueGivesNoKey) {
  EXPECT_EQ(getExchangeKey(), "");
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, wintest::kSetupKey, &key), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(getExchangeKey(), "") << "key present, value missing";
}

TEST_F(InstalledKeySourceOnWindows, DecodesBytes52To66OfEveryValueThatFits) {
  for (const auto& c : productIdCases()) {
    wintest::writeProductId(c.type, c.data);
    EXPECT_EQ(getExchangeKey(), c.expectedKey) << c.what;
  }
}

// Under 64-bit Windows the registry has two views of HKLM\SOFTWARE, and a
// program reads its own build's: the 32-bit one (Wow6432Node) for the 32-bit
// build, the 64-bit one for the 64-bit build.
TEST_F(InstalledKeySourceOnWindows, ReadsTheRegistryViewOfItsOwnBuild) {
  const bool build32 = sizeof(void*) == 4;
  BOOL wow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &wow64);
  if (build32 && !wow64) GTEST_SKIP() << "32-bit Windows has one registry view only";
  const std::string key = "M3R7T-JV33T-PWDB4-F9XM2-RYBVD";
  const struct {
    const char* what;
    std::vector<REGSAM> views;  // where the value is written
    std::string key32, key64;   // what the 32-bit and the 64-bit build read
  } cases[] = {
      {"only in the 64-bit view", {KEY_WOW64_64KEY}, "", key},
      {"only in the 32-bit view", {KEY_WOW64_32KEY}, key, ""},
      {"in both views", {KEY_WOW64_32KEY, KEY_WOW64_64KEY}, key, key},
  };
  for (const auto& c : cases) {
    for (const REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY})
      wintest::removeExchangeKeyFromView(view);
    for (const REGSAM view : c.views) wintest::writeProductIdInView(view, realisticValue());
    EXPECT_EQ(getExchangeKey(), build32 ? c.key32 : c.key64) << c.what;
  }
  for (const REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY})
    wintest::removeExchangeKeyFromView(view);
}

}  // namespace
