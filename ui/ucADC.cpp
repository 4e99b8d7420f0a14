#include "ui/ucADC.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>

#include "channels/ChannelList.h"
#include "driver/DriverState.h"
#include "ui/DialogStyle.h"
#include "ui/TabbedList.h"
#include "ui/Twips.h"

namespace quillbox {

ucADC::ucADC(QWidget* parent, DriverState& state) : SetupPage(parent, state) {
  resize(Px(4710), Px(3600));

  auto* title = new QLabel(QStringLiteral("Channels:"), this);
  title->setObjectName(QStringLiteral("lblChTitle0"));
  title->setGeometry(TwipsRect(120, 60, 705, 195));
  FitCaption(title);
  lblChTitle[0] = title;

  lstADCh = new QListWidget(this);
  lstADCh->setObjectName(QStringLiteral("lstADCh"));
  lstADCh->setGeometry(TwipsRect(90, 270, 2205, 3180));
  lstADCh->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  SetTabStops(lstADCh, {Px(660)}, Px(660));
  title->setBuddy(lstADCh);

  frChInput = new QGroupBox(QStringLiteral("&Input"), this);
  frChInput->setObjectName(QStringLiteral("frChInput"));
  frChInput->setGeometry(TwipsRect(2400, 180, 2175, 1815));
  const char* captions[] = {"Mezzanine:", "ADC:", "TTL Input:"};
  const double tops[] = {300, 630, 960};
  const double widths[] = {1905, 1995, 1995};
  for (int i = 0; i < 3; ++i) {
    auto* option = new QRadioButton(QString::fromLatin1(captions[i]), frChInput);
    option->setObjectName(QStringLiteral("optACh%1").arg(i));
    option->setGeometry(TwipsRect(120, tops[i], widths[i], 195));
    FitCaption(option);
    connect(option, &QRadioButton::toggled, this, [this, i](bool on) {
      if (on) optACh_Click(i);
    });
    optACh[static_cast<std::size_t>(i)] = option;
  }
  cboADChSrc = new QComboBox(frChInput);
  cboADChSrc->setObjectName(QStringLiteral("cboADChSrc"));
  cboADChSrc->setGeometry(TwipsRect(120, 1350, 1935, 315));
  cboADChSrc->setEditable(false);
  connect(cboADChSrc, &QComboBox::currentIndexChanged, this, [this] { cboADChSrc_Click(); });

  const char* buttons[] = {"Default", "Reset"};
  const double buttonTops[] = {2640, 3090};
  for (int i = 0; i < 2; ++i) {
    auto* button = new QPushButton(QString::fromLatin1(buttons[i]), this);
    button->setObjectName(QStringLiteral("cmdChSet%1").arg(i));
    button->setGeometry(TwipsRect(2400, buttonTops[i], 1155, 375));
    button->setAutoDefault(false);
    connect(button, &QPushButton::clicked, this, [this, i] { cmdChSet_Click(i); });
    cmdChSet[static_cast<std::size_t>(i)] = button;
  }

  setTabOrder(lstADCh, optACh[0]);
  setTabOrder(optACh[0], optACh[1]);
  setTabOrder(optACh[1], optACh[2]);
  setTabOrder(optACh[2], cboADChSrc);
  setTabOrder(cboADChSrc, cmdChSet[1]);
  setTabOrder(cmdChSet[1], cmdChSet[0]);

  connect(lstADCh, &QListWidget::currentRowChanged, this, [this] { lstADCh_Click(); });
  InitSetting();
}

int ucADC::ChannelCount() const {
  return std::clamp<int>(state_.Adc.ChannelsCount, 0, kChannelsCount);
}

QString ucADC::ListLine(int i) {
  // Naming brings the entry's Index into its range and writes it back.
  return QStringLiteral("ACh%1\t").arg(i + 1) +
         QString::fromStdString(
             GetSourceName(WorkSources[static_cast<std::size_t>(i)], state_.Modules));
}

void ucADC::InitSetting() {
  lstADCh->clear();
  WorkSources = state_.Sources;
  for (int i = 0; i < kChannelsCount; ++i) lstADCh->addItem(ListLine(i));
  lstADCh->setCurrentRow(0);
}

void ucADC::UpdateListItem(int i) {
  if (i < 0 || i >= lstADCh->count()) return;
  lstADCh->item(i)->setText(ListLine(i));
}

void ucADC::lstADCh_Click() {
  const int i = lstADCh->currentRow();
  if (i < 0 || i > ChannelCount() - 1) return;
  frChInput->setTitle(QStringLiteral("&Input - Ch%1:").arg(i + 1));
  // A source kind outside the three is named as a mezzanine channel; it is edited as one.
  const uint8_t source = WorkSources[static_cast<std::size_t>(i)].Source;
  CurrentChannel = source <= SourceTTL ? int16_t{source} : int16_t{SourceMezzanine};
  QRadioButton* option = optACh[static_cast<std::size_t>(CurrentChannel)];
  if (option->isChecked())
    optACh_Click(CurrentChannel);
  else
    option->setChecked(true);  // runs optACh_Click
}

void ucADC::optACh_Click(int Index) {
  const int i = lstADCh->currentRow();
  if (i < 0 || i > ChannelCount() - 1) return;
  ChannelSource& entry = WorkSources[static_cast<std::size_t>(i)];
  entry.Source = static_cast<uint8_t>(Index);
  QStringList lines;
  switch (Index) {
    case SourceMezzanine:
      entry.Index = static_cast<uint8_t>(entry.Index % kMezzanineChannels);
      for (int m = 0; m < kModuleSlots; ++m) {
        const QString name =
            QString::fromStdString(state_.Modules[static_cast<std::size_t>(m)].ModuleName);
        lines << QStringLiteral("M%1-Ch%2_").arg(m + 1).arg(2 * m + 1) + name
              << QStringLiteral("M%1-Ch%2_").arg(m + 1).arg(2 * m + 2) + name;
      }
      break;
    case SourceADC:
      entry.Index = static_cast<uint8_t>(entry.Index % 8);
      for (int k = 1; k <= 8; ++k) lines << QStringLiteral("AD-Ch%1").arg(k);
      break;
    default:
      entry.Index = static_cast<uint8_t>(entry.Index % 8);
      for (int k = 1; k <= 8; ++k) lines << QStringLiteral("TTL-In%1").arg(k);
      break;
  }
  {
    // Filling the list is not a choice of the user.
    const QSignalBlocker block(cboADChSrc);
    cboADChSrc->clear();
    cboADChSrc->addItems(lines);
    // The drop-down is as wide as its longest name, and each name is its own tool tip.
    for (int k = 0; k < lines.size(); ++k) cboADChSrc->setItemData(k, lines[k], Qt::ToolTipRole);
    cboADChSrc->view()->setMinimumWidth(cboADChSrc->view()->sizeHintForColumn(0) +
                                        2 * cboADChSrc->view()->frameWidth() + Px(150));
  }
  Loading = true;
  cboADChSrc->setCurrentIndex(entry.Index);
  Loading = false;
  cboADChSrc->setToolTip(cboADChSrc->currentText());
  UpdateListItem(i);
}

void ucADC::cboADChSrc_Click() {
  if (Loading) return;
  const int channel = lstADCh->currentRow();
  const int choice = cboADChSrc->currentIndex();
  if (channel < 0 || channel > ChannelCount() - 1 || choice < 0) return;
  CurrentChannel = static_cast<int16_t>(channel);
  WorkSources[static_cast<std::size_t>(channel)].Index = static_cast<uint8_t>(choice);
  cboADChSrc->setToolTip(cboADChSrc->currentText());
  UpdateListItem(channel);
}

void ucADC::cmdChSet_Click(int Index) {
  int s = lstADCh->currentRow();
  lstADCh->setCurrentRow(-1);
  if (Index == 0) {
    WorkSources = DefaultChannelSources();
    for (int i = 0; i < lstADCh->count(); ++i) UpdateListItem(i);
  } else if (Index == 1) {
    InitSetting();
    lstADCh->setCurrentRow(-1);
  }
  if (s < 0 || s > ChannelCount() - 1) s = 0;
  Loading = true;
  lstADCh->setCurrentRow(s);  // refreshes the frame, the option and the list of sources
  Loading = false;
}

void ucADC::Page_SaveSetting() {
  state_.Sources = WorkSources;
  BuildChannelList(state_.Sources, state_.Modules, state_.DirectSource, state_.TTLSource,
                   state_.Adc.Tables);
}

}  // namespace quillbox
