#include "ui/ucGeneral.h"

#include <QGroupBox>
#include <QListWidget>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <cmath>
#include <cstdlib>

#include "channels/Catalogue.h"
#include "driver/DriverState.h"
#include "platform/UiHost.h"
#include "ui/DialogStyle.h"
#include "ui/Pictures.h"
#include "ui/TabbedList.h"
#include "ui/Twips.h"
#include "ui/UiSettings.h"

namespace quillbox {
namespace {
constexpr uint8_t kEmptySlot = 255;
}  // namespace

std::string FormatClockMHz(int32_t clockHz) {
  // Pattern "##0.0#": at least one integer digit, one decimal, a second one only when not 0.
  const double mhz = static_cast<double>(clockHz) / 1e6;
  const long long hundredths = std::llround(std::fabs(mhz) * 100.0);
  const long long whole = hundredths / 100;
  const long long fraction = hundredths % 100;
  std::string text = " (";
  if (mhz < 0 && hundredths != 0) text += '-';
  text += std::to_string(whole) + LocaleDecimalSeparator() + std::to_string(fraction / 10);
  if (fraction % 10 != 0) text += std::to_string(fraction % 10);
  return text + " MHz)";
}

std::string BuildInfoText(const BoardInfo& board) {
  return "Board:\t" + board.BoardName + ", rev." + board.BoardRevision + ", " + board.PortName +
         "\r\n" + "Serial N:\t" + board.SerialNumber + "\r\n" + "Proc.:\t" + board.ProcessorName +
         FormatClockMHz(board.ClockFrequency) + "\r\n";
}

std::string MezzanineLine(const ModuleSlot& slot) {
  if (slot.ModuleType == kEmptySlot) return slot.ModuleName;
  return slot.ModuleName + "\tv" + std::to_string(slot.VersionMajor) + "." +
         std::to_string(slot.VersionMinor) + "\t" + slot.ModuleSerial + "\t" + slot.RangeText;
}

void ClickableImage::mouseReleaseEvent(QMouseEvent* event) {
  QLabel::mouseReleaseEvent(event);
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
    emit clicked();
}

ucGeneral::ucGeneral(QWidget* parent, DriverState& state) : SetupPage(parent, state) {
  resize(Px(4725), Px(3555));

  txtInfo = new QPlainTextEdit(this);
  txtInfo->setObjectName(QStringLiteral("txtInfo"));
  txtInfo->setGeometry(TwipsRect(90, 90, 2865, 645));
  txtInfo->setReadOnly(true);
  txtInfo->setLineWrapMode(QPlainTextEdit::NoWrap);
  txtInfo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  txtInfo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  txtInfo->document()->setDocumentMargin(1);
  txtInfo->setTabStopDistance(
      txtInfo->fontMetrics().horizontalAdvance(QStringLiteral("Serial N:  ")));
  QPalette face = txtInfo->palette();
  face.setColor(QPalette::Base, face.color(QPalette::Button));
  txtInfo->setPalette(face);
  txtInfo->setPlainText(QStringLiteral("Internal Name:\nSerial Number:\nProcessor:"));

  imgLogo = new ClickableImage(this);
  imgLogo->setObjectName(QStringLiteral("imgLogo"));
  imgLogo->setGeometry(TwipsRect(2970, 90, 1605, 435));
  imgLogo->setPixmap(VendorLogo(imgLogo->size()));
  imgLogo->setCursor(LinkCursor());
  imgLogo->setToolTip(QStringLiteral("\"%1\" on the Web").arg(QString::fromUtf8(kVendorName)));
  connect(imgLogo, &ClickableImage::clicked, this, [this] { imgLogo_Click(); });

  frMezzanines = new QGroupBox(QStringLiteral("&Mezzanines:"), this);
  frMezzanines->setObjectName(QStringLiteral("frMezzanines"));
  frMezzanines->setGeometry(TwipsRect(90, 780, 4515, 2025));
  lstMezzanines = new QListWidget(frMezzanines);
  lstMezzanines->setObjectName(QStringLiteral("lstMezzanines"));
  lstMezzanines->setGeometry(TwipsRect(120, 240, 4275, 1620));
  lstMezzanines->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  // Columns: type name, version, serial text, range.
  SetTabStops(lstMezzanines, {Px(1050), Px(1800), Px(2900)}, Px(720));
  for (int slot = 1; slot <= kModuleSlots; ++slot)
    lstMezzanines->addItem(QStringLiteral("%1.").arg(slot));

  frTrigger = new QGroupBox(QStringLiteral("EIRQ &Synchronization:"), this);
  frTrigger->setObjectName(QStringLiteral("frTrigger"));
  frTrigger->setGeometry(TwipsRect(90, 2880, 4515, 585));
  const char* captions[] = {"Off", "0 \u20141", "1\u2014 0"};
  const double lefts[] = {150, 1650, 3150};
  const double widths[] = {555, 795, 795};
  for (int i = 0; i < 3; ++i) {
    auto* option = new QRadioButton(QString::fromUtf8(captions[i]), frTrigger);
    option->setObjectName(QStringLiteral("optSynchro%1").arg(i));
    option->setGeometry(TwipsRect(lefts[i], 240, widths[i], 255));
    FitCaption(option);
    optSynchro[static_cast<std::size_t>(i)] = option;
  }
  const double iconLefts[] = {1350, 2880};
  const QPixmap icons[] = {RisingEdgeIcon(), FallingEdgeIcon()};
  for (int i = 0; i < 2; ++i) {
    auto* image = new QLabel(frTrigger);
    image->setObjectName(QStringLiteral("imgSyncro%1").arg(i));
    image->setGeometry(TwipsRect(iconLefts[i], 240, 240, 240));
    image->setPixmap(icons[i]);
    imgSyncro[static_cast<std::size_t>(i)] = image;
  }

  setTabOrder(txtInfo, lstMezzanines);
  setTabOrder(lstMezzanines, optSynchro[0]);
  setTabOrder(optSynchro[0], optSynchro[1]);
  setTabOrder(optSynchro[1], optSynchro[2]);

  InitSetting();
}

void ucGeneral::InitSetting() {
  std::string info = BuildInfoText(state_.Board);
  // The text box breaks lines at LF; the text itself keeps CR LF.
  QString shown = QString::fromStdString(info);
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  if (shown.endsWith(QLatin1Char('\n'))) shown.chop(1);
  txtInfo->setPlainText(shown);

  lstMezzanines->clear();
  for (const ModuleSlot& slot : state_.Modules)
    lstMezzanines->addItem(QString::fromStdString(MezzanineLine(slot)));

  if (state_.SyncMode >= 0 && state_.SyncMode <= 2)
    optSynchro[static_cast<std::size_t>(state_.SyncMode)]->setChecked(true);
}

void ucGeneral::Page_SaveSetting() {
  for (int16_t index = 0; index <= 2; ++index) {
    if (optSynchro[static_cast<std::size_t>(index)]->isChecked()) {
      state_.SyncMode = index;
      return;
    }
  }
}

void ucGeneral::imgLogo_Click() {
  // Whether the browser could be started is not reported.
  platform::ShellOpen(VendorWebAddress());
}

}  // namespace quillbox
