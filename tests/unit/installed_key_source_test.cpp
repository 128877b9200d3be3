#include "keys/installed_key_source.h"

#include <gtest/gtest.h>

#include "common/product_id_values.h"
#include "support/registry_standin.h"

namespace {

using namespace platform;
using keys::getExchangeKey;

constexpr char kSetup[] = "SOFTWARE\\Microsoft\\Exchange\\Setup";

class InstalledKeySource : public ::testing::Test {
 protected:
  void SetUp() override { standin::clearRegistry(); }
  void TearDown() override {
    EXPECT_EQ(standin::openRegistryHandles(), 0) << "a key was left open";
  }
};

TEST_F(InstalledKeySource, MissingKeyOrValueGivesNoKey) {
  EXPECT_EQ(getExchangeKey(), "");
  standin::setRegistryValue(hkeyLocalMachine(), "SOFTWARE\\Microsoft\\Exchange", "DigitalProductId",
                            kRegBinary, patternedValue(164));
  EXPECT_EQ(getExchangeKey(), "") << "the value one key up is not the one";
  standin::createRegistryKey(hkeyLocalMachine(), kSetup);
  EXPECT_EQ(getExchangeKey(), "") << "key present, value missing";
  standin::setRegistryValue(hkeyLocalMachine(), kSetup, "ProductId", kRegBinary,
                            patternedValue(164));
  EXPECT_EQ(getExchangeKey(), "") << "another value of the key";
  standin::setRegistryValue(hkeyCurrentUser(), kSetup, "DigitalProductId", kRegBinary,
                            patternedValue(164));
  EXPECT_EQ(getExchangeKey(), "") << "only the machine-wide key counts";
}

TEST_F(InstalledKeySource, DecodesBytes52To66OfEveryValueThatFits) {
  for (const auto& c : productIdCases()) {
    standin::setRegistryValue(hkeyLocalMachine(), kSetup, "DigitalProductId", c.type, c.data);
    EXPECT_EQ(getExchangeKey(), c.expectedKey) << c.what;
  }
}

}  // namespace
