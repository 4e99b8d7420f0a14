// The settings store as the driver object uses it: loaded at creation, saved at destruction.

#include <gtest/gtest.h>

#include <bit>

#include "driver/DriverState.h"
#include "driver/E_270.h"
#include "quillbox/IADC3.h"
#include "settings/cRegistry.h"
#include "tests/platform/RegistryTestSupport.h"

namespace quillbox {
namespace {

constexpr int32_t HKCU = cRegistry::kHKeyCurrentUser;
const std::string kKey = "Software\\Tarn\\ADC\\L-Card\\E-270";

class DriverSettingsTest : public quillbox::testing::RegistryTest {
 protected:
  float StoredRate() {
    int32_t bits = 0;
    return registry.GetDWORDValue(HKCU, kKey, "Rate", bits) ? std::bit_cast<float>(bits) : -1.0f;
  }
  cRegistry registry;
};

TEST_F(DriverSettingsTest, ARateSetInOneLifetimeIsWhereTheNextStarts) {
  float rate = 0.0f;
  {
    auto driver = CreateE_270();
    EXPECT_EQ(StoredRate(), -1.0f);  // nothing stored before the first destruction
    IADC3& adc = *driver;
    adc.Rate(25.0f);
    rate = adc.Rate();  // the rate the device makes of it
    EXPECT_EQ(State().Record.Rate, 25.0f);
    State().Sources[7] = {SourceTTL, 5};
  }
  EXPECT_EQ(StoredRate(), 25.0f);
  State().Record.Rate = 1.0f;  // the next object must take the rate from the store
  State().Sources[7] = {};
  {
    auto driver = CreateE_270();
    IADC3& adc = *driver;
    EXPECT_EQ(adc.Rate(), rate);
    EXPECT_EQ(State().Sources[7], (ChannelSource{SourceTTL, 5}));
  }
}

}  // namespace
}  // namespace quillbox
