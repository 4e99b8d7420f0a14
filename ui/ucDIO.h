#pragma once
// The "DIO" page: watches the eight input lines, composes the output word bit by bit (written
// at once in live mode), and edits the words written when a recording starts and stops.

#include <array>
#include <cstdint>
#include <string>

#include "driver/DriverState.h"
#include "ui/SetupPage.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QTimer;

namespace quillbox {

// "0x00A5 (165)": four or more upper-case hexadecimal digits and the decimal value. Negative
// values show their 32-bit pattern.
std::string HexAndDecimal(int32_t value);

class ucDIO : public SetupPage {
  Q_OBJECT

 public:
  static constexpr int kBits = 16;  // boxes per row
  static constexpr int kMonitorIntervalMs = 1000;

  ucDIO(QWidget* parent, DriverState& state);

  void InitSetting() override;
  void Page_SaveSetting() override;

  const DioInfo& PageState() const { return PageDIO; }
  bool MonitorRunning() const;

 protected:
  void UserControl_Show() override;
  void UserControl_Hide() override;

 private:
  void StartMonitor();
  void ShowInputs();
  void LoadOutputs();
  void ShowOutputValue();
  void ApplyOutputs();
  void ShowStartStopValue(int Index);
  int32_t OutputBoxesWord() const;
  void SetOutputBoxes(int32_t value);
  int InBits() const;
  int OutBits() const;

  void chkInput_Click();
  void tmrDI_Timer();
  void chkOutput_Click();
  void chkOut_Click(int Index);
  void cmdOutput_Click(int Index);
  void chkStart_Click(int Index);
  void cmdStart_Click(int Index);
  void cmdShow_Click(int Index);

  DioInfo PageDIO;
  bool Updating = false;

  QGroupBox* frDI = nullptr;
  QTimer* tmrDI = nullptr;
  QPushButton* chkInput = nullptr;
  std::array<QCheckBox*, kBits> chkIn{};
  std::array<QLabel*, kBits> lblInBin{};
  QGroupBox* frDO = nullptr;
  std::array<QCheckBox*, kBits> chkOut{};
  std::array<QLabel*, kBits> lblOutBin{};
  QPushButton* chkOutput = nullptr;
  std::array<QPushButton*, 5> cmdOutput{};
  std::array<QCheckBox*, 2> chkStart{};
  std::array<QPushButton*, 2> cmdStart{};
  std::array<QPushButton*, 2> cmdShow{};
};

}  // namespace quillbox
