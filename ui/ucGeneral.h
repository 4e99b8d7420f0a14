#pragma once
// The "General" page: what the last open learned about the module (board, serial, processor
// and clock, the eight mezzanine slots), the EIRQ synchronisation choice, and the vendor's logo
// that opens its web site.

#include <QLabel>
#include <array>
#include <string>

#include "ui/SetupPage.h"

class QGroupBox;
class QListWidget;
class QPlainTextEdit;
class QRadioButton;

namespace quillbox {

struct BoardInfo;
struct ModuleSlot;

// The module information, one line per item, each ended by CR LF, a TAB after each label.
std::string BuildInfoText(const BoardInfo& board);
// " (7.37 MHz)": the clock in MHz with one or two decimals and the locale's decimal separator.
std::string FormatClockMHz(int32_t clockHz);
// One line of the mezzanine list.
std::string MezzanineLine(const ModuleSlot& slot);

// An image that reports clicks.
class ClickableImage : public QLabel {
  Q_OBJECT

 public:
  using QLabel::QLabel;

 signals:
  void clicked();

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
};

class ucGeneral : public SetupPage {
  Q_OBJECT

 public:
  ucGeneral(QWidget* parent, DriverState& state);

  void InitSetting() override;
  void Page_SaveSetting() override;

 private:
  void imgLogo_Click();

  QPlainTextEdit* txtInfo = nullptr;
  ClickableImage* imgLogo = nullptr;
  QGroupBox* frMezzanines = nullptr;
  QListWidget* lstMezzanines = nullptr;
  QGroupBox* frTrigger = nullptr;
  std::array<QRadioButton*, 3> optSynchro{};
  std::array<QLabel*, 2> imgSyncro{};
};

}  // namespace quillbox
