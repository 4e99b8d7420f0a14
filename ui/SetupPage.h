#pragma once
// What the setup dialog requires of a page: it loads itself from the driver state when it is
// created (its constructor calls InitSetting), writes back on Page_SaveSetting, and hears when
// it is shown and hidden.

#include <QWidget>

namespace quillbox {

struct DriverState;

class SetupPage : public QWidget {
  Q_OBJECT

 public:
  SetupPage(QWidget* parent, DriverState& state) : QWidget(parent), state_(state) {}

  // Copies what the page shows from the driver state.
  virtual void InitSetting() = 0;
  // Writes the page's values back into the driver state ("Ok" of the dialog).
  virtual void Page_SaveSetting() = 0;

 protected:
  virtual void UserControl_Show() {}
  virtual void UserControl_Hide() {}

  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

  DriverState& state_;
};

}  // namespace quillbox
