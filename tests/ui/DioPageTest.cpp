// The DIO page on the simulated bench: the bit rows, the output word with its bulk
// buttons, live mode, start and stop values, and the input monitor that runs only while the
// page is visible.

#include <QGroupBox>

#include "UiTestSupport.h"
#include "device/DigitalIO.h"
#include "ui/dlgSetup.h"
#include "ui/ucDIO.h"

namespace quillbox::test {
namespace {

constexpr const char* kModule = "usb0";  // the built-in bench's module

class DioPage : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    sim::LoadDefaultBench();
    state_ = OpenedState();
    ASSERT_TRUE(state_->Detected) << state_->Adc.LastError;
    ASSERT_TRUE(state_->Dio.DIODetected);
  }
  void TearDown() override {
    page_.reset();
    DeviceClose(*state_);
    sim::LoadDefaultBench();
  }
  DriverState& S() { return *state_; }

  void Make(bool show = true) {
    page_ = std::make_unique<ucDIO>(nullptr, S());
    if (show) page_->show();
  }
  template <class W>
  W* W_(const QString& name) {
    return Find<W>(page_.get(), name);
  }
  QCheckBox* Out(int k) { return W_<QCheckBox>(QStringLiteral("chkOut%1").arg(k)); }
  QCheckBox* In(int k) { return W_<QCheckBox>(QStringLiteral("chkIn%1").arg(k)); }
  QPushButton* Output(int i) { return W_<QPushButton>(QStringLiteral("cmdOutput%1").arg(i)); }
  std::string InCaption() { return W_<QGroupBox>("frDI")->title().toStdString(); }
  std::string OutCaption() { return W_<QGroupBox>("frDO")->title().toStdString(); }
  static uint8_t DeviceOutputs() { return sim::Status(kModule).outputs; }

  std::unique_ptr<DriverState> state_;
  std::unique_ptr<ucDIO> page_;
};

TEST_F(DioPage, ShowingReadsTheLinesAndTheBoxesComposeTheOutputWordWithoutWritingIt) {
  sim::SetDigitalInputs(kModule, 0xC5);
  WriteOutputs(S(), S().Dio, 0x42);
  Make(false);
  EXPECT_EQ(OutCaption(), "&Output");  // nothing read before the page is shown
  page_->show();
  EXPECT_EQ(InCaption(), "Input: 0x00C5 (197)");
  EXPECT_EQ(OutCaption(), "Output: 0x0042 (66)");
  for (int k = 8; k < 16; ++k) {  // box 8 is bit 7, box 15 bit 0
    EXPECT_EQ(In(k)->isChecked(), ((0xC5 >> (15 - k)) & 1) != 0) << k;
    EXPECT_EQ(Out(k)->isChecked(), ((0x42 >> (15 - k)) & 1) != 0) << k;
  }
  Click(Out(15));
  Click(Out(8));
  EXPECT_EQ(OutCaption(), "Output: 0x00C3 (195)");
  // Clear, Invert (only the module's eight bits), Set All, Reset (the word last written), As
  // Input.
  const std::pair<int, const char*> steps[] = {
      {0, "Output: 0x0000 (0)"},   {2, "Output: 0x00FF (255)"}, {2, "Output: 0x0000 (0)"},
      {1, "Output: 0x00FF (255)"}, {4, "Output: 0x0042 (66)"},  {3, "Output: 0x00C5 (197)"}};
  for (const auto& [button, word] : steps) {
    Click(Output(button));
    EXPECT_EQ(OutCaption(), word) << button;
  }
  EXPECT_FALSE(Out(7)->isChecked());
  EXPECT_TRUE(Out(15)->isChecked());
  EXPECT_EQ(DeviceOutputs(), 0x42);
  EXPECT_EQ(ReadOutputs(S().Dio), 0x42);
}

TEST_F(DioPage, LiveModeWritesEveryChangeAtOnceOrShowsItFailing) {
  Make();
  Click(Out(15));  // composed, not written
  EXPECT_EQ(DeviceOutputs(), 0);
  sim::SetDigitalInputs(kModule, 0x3C);
  Click(W_<QPushButton>("chkOutput"));  // live: the boxes' word goes out at once
  EXPECT_EQ(DeviceOutputs(), 0x01);
  EXPECT_FALSE(Output(4)->isEnabled());
  EXPECT_EQ(InCaption(), "Input: 0x003C (60)");
  Click(Out(12));
  EXPECT_EQ(DeviceOutputs(), 0x09);
  // Live mode says so in the caption.
  EXPECT_EQ(OutCaption(), "Output: 0x0009 (9)  \u2014 LIVE: changes go to the lines");
  Click(Output(2));  // bulk buttons write too
  EXPECT_EQ(DeviceOutputs(), 0xF6);
  Click(W_<QPushButton>("chkOutput"));
  EXPECT_TRUE(Output(4)->isEnabled());
  Click(Out(15));
  EXPECT_EQ(DeviceOutputs(), 0xF6);

  // A live write that fails shows the boxes going back, and a failed read shows 0.
  Click(Output(0));
  Click(W_<QPushButton>("chkOutput"));
  sim::Unplug(kModule);
  Click(Out(15));
  EXPECT_FALSE(Out(15)->isChecked());
  EXPECT_EQ(OutCaption(), "Output: 0x0000 (0)  \u2014 LIVE: changes go to the lines");
  EXPECT_EQ(InCaption(), "Input: 0x0000 (0)");
}

TEST_F(DioPage, SetAndShowEditTheStartAndStopValues) {
  S().Dio.DOStartEnabled = true;
  S().Dio.DOStopValue = 0x30;
  S().Dio.DOStopEnabled = false;
  Make();
  EXPECT_FALSE(W_<QPushButton>("cmdShow1")->isEnabled());
  Click(Out(13));
  Click(Out(15));
  Click(W_<QPushButton>("cmdStart0"));  // Set takes the boxes' word, writes nothing
  EXPECT_EQ(page_->PageState().DOStartValue, 5);
  Click(W_<QCheckBox>("chkStart1"));
  Click(W_<QPushButton>("cmdShow1"));  // Show, live mode off: the boxes only
  EXPECT_EQ(OutCaption(), "Output: 0x0030 (48)");
  EXPECT_EQ(DeviceOutputs(), 0);
  Click(W_<QPushButton>("chkOutput"));
  Click(Output(0));
  Click(W_<QPushButton>("cmdShow1"));  // live mode on: written
  EXPECT_EQ(DeviceOutputs(), 0x30);

  Click(W_<QCheckBox>("chkStart0"));
  EXPECT_TRUE(S().Dio.DOStartEnabled);  // not before saving
  page_->Page_SaveSetting();
  EXPECT_EQ(std::vector<int>({S().Dio.DOStartEnabled, S().Dio.DOStopEnabled, S().Dio.DOStartValue,
                              S().Dio.DOStopValue, S().Dio.DOValue}),
            // the word last written, not the page's working word
            (std::vector<int>{false, true, 5, 0x30, 0x30}));
}

TEST_F(DioPage, TheMonitorStopsWhenTheTabIsLeftAndResumesOnReturn) {
  S().LastSetupTab = 2;
  dlgSetup dialog(S());
  dialog.show();
  auto* page = qobject_cast<ucDIO*>(dialog.Page(2));
  ASSERT_NE(page, nullptr);
  Click(Find<QPushButton>(page, "chkInput"));
  EXPECT_TRUE(page->MonitorRunning());
  Click(Find<QCheckBox>(page, "chkOut15"));  // composed without live mode
  EXPECT_TRUE(Find<QCheckBox>(page, "chkOut15")->isChecked());

  ClickTab(dialog.Tabs()->tabBar(), 0);
  EXPECT_FALSE(page->MonitorRunning());
  sim::SetDigitalInputs(kModule, 0x44);
  ClickTab(dialog.Tabs()->tabBar(), 2);
  EXPECT_TRUE(page->MonitorRunning());
  EXPECT_EQ(Find<QGroupBox>(page, "frDI")->title(), "Input: 0x0044 (68)");
  // Boxes changed without live mode are dropped for the word last written.
  EXPECT_FALSE(Find<QCheckBox>(page, "chkOut15")->isChecked());

  dialog.reject();
  EXPECT_FALSE(page->MonitorRunning());
}

}  // namespace
}  // namespace quillbox::test
