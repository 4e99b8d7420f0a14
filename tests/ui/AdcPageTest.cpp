// The ADC page: the list of 32 channels, choosing a source kind and a source, "Default", "Reset",
// and saving with the rebuilt channel list.

#include <QComboBox>

#include "UiTestSupport.h"
#include "ui/ucADC.h"

namespace quillbox::test {
namespace {

class AdcPage : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    state_ = FreshState();
    FillSlots(*state_, {10, 10, 21, 22, 255, 9, 40, 14});
  }
  DriverState& S() { return *state_; }

  void Make() {
    page_ = std::make_unique<ucADC>(nullptr, S());
    page_->show();
    list_ = Find<QListWidget>(page_.get(), "lstADCh");
    combo_ = Find<QComboBox>(page_.get(), "cboADChSrc");
  }
  std::string Line(int i) { return list_->item(i)->text().toStdString(); }
  std::string Chosen() { return combo_->currentText().toStdString(); }
  // The user picks entry `index` of the drop-down list with the keyboard.
  void Pick(int index) {
    combo_->setFocus();
    while (combo_->currentIndex() < index) QTest::keyClick(combo_, Qt::Key_Down);
    while (combo_->currentIndex() > index) QTest::keyClick(combo_, Qt::Key_Up);
  }

  std::unique_ptr<DriverState> state_;
  std::unique_ptr<ucADC> page_;
  QListWidget* list_ = nullptr;
  QComboBox* combo_ = nullptr;
};

// Picks on two channels are saved; "Default" then shows the standard mapping and "Reset" what is
// stored, each keeping the highlighted channel.
TEST_F(AdcPage, SavingStoresTheSourcesAndDefaultAndResetRestoreTheMappings) {
  S().Sources[0] = {SourceADC, 3};
  Make();
  EXPECT_EQ(Line(0), "ACh1\tAD-Ch4");
  ClickRow(list_, 4);
  Click(Find<QRadioButton>(page_.get(), "optACh2"));
  ClickRow(list_, 0);
  Click(Find<QRadioButton>(page_.get(), "optACh1"));
  Pick(6);
  EXPECT_EQ(Line(0), "ACh1\tAD-Ch7");
  ClickRow(list_, 4);  // going back to a channel shows what was picked for it
  EXPECT_EQ(Chosen(), "TTL-In5");
  page_->Page_SaveSetting();
  EXPECT_EQ(S().Sources[4], (ChannelSource{SourceTTL, 4}));
  EXPECT_EQ(S().Sources[0], (ChannelSource{SourceADC, 6}));
  EXPECT_EQ(S().Adc.Tables.ChannelNames[4], "TTL-In5");
  EXPECT_EQ(S().Adc.Tables.ChannelNames[0], "AD-Ch7");
  ASSERT_FALSE(S().Adc.Tables.Ranges.empty());
  EXPECT_EQ(S().Adc.Tables.Ranges[static_cast<std::size_t>(S().Adc.Tables.ChannelRanges[0])],
            DirectSourceInfo().RangeText);

  ClickRow(list_, 30);
  Pick(0);
  Click(Find<QPushButton>(page_.get(), "cmdChSet0"));  // Default
  EXPECT_EQ(Line(0), "ACh1\tM1-Ch1_U10");
  EXPECT_EQ(Line(5), "ACh6\tM3-Ch6_I10");
  EXPECT_EQ(list_->currentRow(), 30);  // the selection stays and the frame follows it
  EXPECT_EQ(Chosen(), "TTL-In7");
  EXPECT_EQ(S().Sources[0], (ChannelSource{SourceADC, 6}));

  ClickRow(list_, 16);
  Click(Find<QPushButton>(page_.get(), "cmdChSet1"));  // Reset: back to what is stored
  EXPECT_EQ(Line(0), "ACh1\tAD-Ch7");
  EXPECT_EQ(list_->currentRow(), 16);
  EXPECT_EQ(Chosen(), "AD-Ch1");
}

}  // namespace
}  // namespace quillbox::test
