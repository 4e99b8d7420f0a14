// The device selection dialog: when it asks, what it lists, and what Enter, "Ok", Esc and the
// close box return.

#include "UiTestSupport.h"
#include "ui/Ui.h"
#include "ui/dlgDevEnum.h"

namespace quillbox::test {
namespace {

class DeviceChooser : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    state_ = FreshState();
  }
  DriverState& S() { return *state_; }

  void List(const std::vector<std::pair<int16_t, std::string>>& modules) {
    S().Devices.clear();
    for (const auto& [index, serial] : modules)
      S().Devices.push_back({"USB", "E-270", serial, "USB" + std::to_string(index + 1), index});
    S().DeviceCount = static_cast<int32_t>(modules.size());
  }

  // SelectDevice with `action` run on the dialog once it shows; fails the test when a dialog
  // shows although `expectDialog` is false, or none shows although it is true.
  int16_t Select(bool expectDialog, const std::function<void(dlgDevEnum*)>& action = {}) {
    ModalDriver driver([&](QWidget* modal) {
      auto* dialog = qobject_cast<dlgDevEnum*>(modal);
      ASSERT_NE(dialog, nullptr);
      if (action)
        action(dialog);
      else
        dialog->reject();
    });
    const int16_t result = SelectDevice(S());
    EXPECT_EQ(driver.acted(), expectDialog);
    EXPECT_FALSE(driver.timedOut());
    return result;
  }

  std::unique_ptr<DriverState> state_;
};

TEST_F(DeviceChooser, NoneOneOrModulesThatCannotBeToldApartNeedNoDialog) {
  List({});
  EXPECT_EQ(Select(false), -1);
  List({{5, "27000555"}});
  EXPECT_EQ(Select(false), 5);
  List({{0, "27000001"}, {3, "27000002"}, {6, "27000001"}});
  EXPECT_EQ(Select(false), -1);
  // The same serial on another kind of board is no twin.
  S().Devices[2].BoardName = "E-270M";
  EXPECT_EQ(Select(true), -1);
}

TEST_F(DeviceChooser, EnterAndOkTakeTheHighlightedModuleEscAndTheCloseBoxNone) {
  List({{0, "27000001"}, {2, "27000002"}, {7, "27000077"}});
  const auto row = [](int r) { return [r](dlgDevEnum* d) { ClickRow(d->List(), r); }; };
  const auto key = [](Qt::Key k) { return [k](dlgDevEnum* d) { QTest::keyClick(d->List(), k); }; };
  const std::vector<std::pair<std::vector<std::function<void(dlgDevEnum*)>>, int16_t>> cases = {
      {{key(Qt::Key_Return)}, 0},
      {{row(2), [](dlgDevEnum* d) { Click(d->findChild<QPushButton*>("cmdDialog")); }}, 7},
      {{row(1), key(Qt::Key_Enter)}, 2},
      {{row(1), key(Qt::Key_Escape)}, -1},
      {{row(1), [](dlgDevEnum* d) { d->close(); }}, -1},
  };
  for (const auto& [steps, expected] : cases) {
    const auto& actions = steps;  // clang 14 cannot capture a structured binding
    std::vector<std::string> texts;
    int highlighted = -2;
    EXPECT_EQ(Select(true,
                     [&](dlgDevEnum* dialog) {
                       for (int i = 0; i < dialog->List()->count(); ++i)
                         texts.push_back(dialog->List()->item(i)->text().toStdString());
                       highlighted = dialog->List()->currentRow();
                       for (const auto& action : actions) action(dialog);
                     }),
              expected);
    // Each showing starts again from a fresh list with the first module highlighted.
    EXPECT_EQ(highlighted, 0);
    EXPECT_EQ(texts,
              (std::vector<std::string>{"E-270\t27000001", "E-270\t27000002", "E-270\t27000077"}));
  }
}

}  // namespace
}  // namespace quillbox::test
