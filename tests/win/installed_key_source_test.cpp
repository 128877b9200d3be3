// The key lookup against Wine's real registry: the same boundary values as the
// native tests, written with RegSetKeyValueA where Exchange keeps them.
#include "keys/installed_key_source.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "common/product_id_values.h"
#include "win/win_test_support.h"

namespace {

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
  EXPECT_EQ(getExchangeVersion(), "Microsoft Exchange");
}

TEST_F(InstalledKeySourceOnWindows, DecodesBytes52To66OfEveryValueThatFits) {
  for (const auto& c : productIdCases()) {
    wintest::writeProductId(c.type, c.data);
    EXPECT_EQ(getExchangeKey(), c.expectedKey) << c.what;
  }
}

}  // namespace
