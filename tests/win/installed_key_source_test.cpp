// The key lookup against Wine's real registry: the same boundary values as the
// native tests, written with RegSetValueExA where Exchange keeps them.
#include "keys/installed_key_source.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "common/product_id_values.h"

namespace {

constexpr char kSetup[] = "SOFTWARE\\Microsoft\\Exchange\\Setup";

void removeSetupKey() { RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Exchange"); }

void writeProductId(DWORD type, const std::vector<std::uint8_t>& data) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSetup, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                            &key, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExA(key, "DigitalProductId", 0, type, data.data(),
                           static_cast<DWORD>(data.size())),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

class InstalledKeySourceOnWindows : public ::testing::Test {
 protected:
  void SetUp() override { removeSetupKey(); }
  void TearDown() override { removeSetupKey(); }
};

TEST_F(InstalledKeySourceOnWindows, MissingKeyOrValueGivesNoKey) {
  EXPECT_EQ(getExchangeKey(), "");
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSetup, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                            &key, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(getExchangeKey(), "") << "key present, value missing";
  EXPECT_EQ(getExchangeVersion(), "Microsoft Exchange");
}

TEST_F(InstalledKeySourceOnWindows, DecodesBytes52To66OfEveryValueThatFits) {
  for (const auto& c : productIdCases()) {
    writeProductId(c.type, c.data);
    EXPECT_EQ(getExchangeKey(), c.expectedKey) << c.what;
  }
}

}  // namespace
