// The General page: module information, the mezzanine list, and a stored synchronisation mode
// that none of its choices shows (the choices are tried through the dialog).

#include <QLabel>
#include <QPlainTextEdit>

#include "UiTestSupport.h"
#include "ui/UiSettings.h"
#include "ui/ucGeneral.h"

namespace quillbox::test {
namespace {

class GeneralPage : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    state_ = FreshState();
  }
  DriverState& S() { return *state_; }
  std::unique_ptr<DriverState> state_;
};

TEST_F(GeneralPage, ShowsTheModuleAndItsSlotsAndKeepsAModeOutsideTheChoices) {
  S().Board = {"E-270", "USB", "A", "27000123", "ADSP-2185M", 24000000};
  FillSlots(S(), {10, 21, 255, 40});
  S().Modules[0].VersionMajor = 1;
  S().Modules[0].VersionMinor = 10;
  S().Modules[0].ModuleSerial = "M1234";
  S().SyncMode = 5;  // outside the choices: selects nothing and survives a save
  ucGeneral page(nullptr, S());
  EXPECT_EQ(Find<QPlainTextEdit>(&page, "txtInfo")->toPlainText().toStdString(),
            "Board:\tE-270, rev.A, USB\nSerial N:\t27000123\nProc.:\tADSP-2185M (24.0 MHz)");
  QListWidget* list = Find<QListWidget>(&page, "lstMezzanines");
  ASSERT_EQ(list->count(), 8);
  EXPECT_EQ(list->item(0)->text().toStdString(),
            "U10\tv1.10\tM1234\t\xC2\xB1"
            "10 V");
  EXPECT_EQ(list->item(2)->text(), "Empty");  // an empty slot: its name only
  page.Page_SaveSetting();
  EXPECT_EQ(S().SyncMode, 5);
}

}  // namespace
}  // namespace quillbox::test
