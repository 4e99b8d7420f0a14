#include <gtest/gtest.h>

#include <cmath>

#include "driver/DriverState.h"
#include "driver/E_270.h"
#include "quillbox/IADC3.h"
#include "quillbox/IDIO.h"

namespace quillbox {
namespace {

TEST(DriverObject, FreshObjectHasIdentityAndDefaults) {
  auto object = CreateE_270();
  IADC3& adc = *object;
  IDIO& dio = *object;
  EXPECT_EQ(dio.DIOName(), "E-270");
  EXPECT_EQ(As<IADC3>(adc.Parent()).get(), &adc);
  EXPECT_FLOAT_EQ(adc.RateMax(), 100.0f);
  EXPECT_FLOAT_EQ(adc.Rate(), 10.0f);
  EXPECT_EQ(adc.InputCountChannels(), 1);
  EXPECT_EQ(adc.InputChannels(), (BoundedArray<int16_t>{0}));
  EXPECT_EQ(State().Record.InputSizeRequest, 16384);
  EXPECT_FALSE(adc.Detected());
  EXPECT_FALSE(dio.Detected());
}

// The unit queries answer "" and 0 for channels out of range and for rows the tables do not hold.
TEST(DriverObject, RangeTablesAnswerTheUnitQueries) {
  auto object = CreateE_270();
  IADC3& adc = *object;
  ChannelTables& t = State().Adc.Tables;
  t.Ranges = {"10 V", "0/1 TTL"};
  t.UnitNames = {"V", "TTL"};
  t.UnitScales = {1638.4f, 1000.0f};
  t.UnitOffsets = {0.0f, 0.0f};
  t.ChannelNames[3] = "M2-Ch4_U10";
  t.ChannelRanges[3] = 1;
  t.ChannelRanges[4] = 7;
  EXPECT_EQ(adc.ChannelName(3), "M2-Ch4_U10");
  EXPECT_EQ(adc.ChannelUnitName(3), "TTL");
  EXPECT_FLOAT_EQ(adc.ChannelUnitScale(3), 1000.0f);
  EXPECT_EQ(adc.ChannelUnitName(4), "");
  EXPECT_EQ(adc.ChannelUnitScale(4), 0.0f);
  for (int16_t index : {int16_t(-1), int16_t(32)}) {
    EXPECT_EQ(adc.ChannelName(index), "") << index;
    EXPECT_EQ(adc.ChannelRange(index), 0) << index;
    EXPECT_EQ(adc.ChannelUnitOffset(index), 0.0f) << index;
  }
  // Writing a range changes nothing.
  adc.ChannelRange(3, 5);
  EXPECT_EQ(adc.ChannelRange(3), 1);
  t = ChannelTables{};
}

}  // namespace
}  // namespace quillbox
