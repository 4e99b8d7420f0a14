#pragma once
// The "ADC" page: for each of the 32 logical channels, where its signal comes from (a mezzanine
// channel, a direct converter input or a TTL line). Edits a working copy of the channel
// sources; "Ok" stores it and rebuilds the channel list.

#include <array>
#include <cstdint>

#include "channels/ChannelTypes.h"
#include "ui/SetupPage.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QListWidget;
class QPushButton;
class QRadioButton;

namespace quillbox {

class ucADC : public SetupPage {
  Q_OBJECT

 public:
  ucADC(QWidget* parent, DriverState& state);

  void InitSetting() override;
  void Page_SaveSetting() override;
  // Rewrites line i of the channel list from entry i of the working sources.
  void UpdateListItem(int i);

  const ChannelSources& Sources() const { return WorkSources; }

 private:
  void lstADCh_Click();
  void optACh_Click(int Index);
  void cboADChSrc_Click();
  void cmdChSet_Click(int Index);
  int ChannelCount() const;
  QString ListLine(int i);

  ChannelSources WorkSources{};
  int16_t CurrentChannel = 0;
  bool Loading = false;

  std::array<QLabel*, 1> lblChTitle{};
  QListWidget* lstADCh = nullptr;
  QGroupBox* frChInput = nullptr;
  std::array<QRadioButton*, 3> optACh{};
  QComboBox* cboADChSrc = nullptr;
  std::array<QPushButton*, 2> cmdChSet{};
};

}  // namespace quillbox
