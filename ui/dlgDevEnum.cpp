#include "ui/dlgDevEnum.h"

#include <QApplication>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <algorithm>

#include "device/DeviceParts.h"
#include "ui/DialogStyle.h"
#include "ui/Pictures.h"
#include "ui/QtApp.h"
#include "ui/TabbedList.h"
#include "ui/Twips.h"
#include "ui/Ui.h"

namespace quillbox {
namespace {

QPointer<dlgDevEnum> g_instance;

std::size_t ListedDevices(const DeviceListing& state) {
  return static_cast<std::size_t>(
      std::clamp<int64_t>(state.DeviceCount, 0, static_cast<int64_t>(state.Devices.size())));
}

// CheckDeviceList: true when the user must choose. One module is taken without asking; two
// modules that cannot be told apart (same board name and serial) leave no choice at all.
bool NeedsChoice(const DeviceListing& state, int16_t& selected) {
  const std::size_t count = ListedDevices(state);
  if (count == 1) {
    selected = state.Devices[0].DeviceIndex;
    return false;
  }
  if (count < 2) return false;
  for (std::size_t i = 0; i < count; ++i)
    for (std::size_t j = i + 1; j < count; ++j)
      if (state.Devices[i].SerialNumber == state.Devices[j].SerialNumber &&
          state.Devices[i].BoardName == state.Devices[j].BoardName)
        return false;
  return true;
}

}  // namespace

dlgDevEnum::dlgDevEnum(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("dlgDevEnum"));
  ApplyDialogFont(this);
  setWindowTitle(QStringLiteral("Select Device"));
  setFixedSize(Px(2820), Px(1950));

  lstDevEnum = new QListWidget(this);
  lstDevEnum->setObjectName(QStringLiteral("lstDevEnum"));
  lstDevEnum->setGeometry(TwipsRect(30, 30, 2745, 1425));
  lstDevEnum->setSelectionMode(QAbstractItemView::SingleSelection);
  lstDevEnum->setSortingEnabled(false);

  cmdDialog = new QPushButton(QStringLiteral("Ok"), this);
  cmdDialog->setObjectName(QStringLiteral("cmdDialog"));
  cmdDialog->setGeometry(TwipsRect(360, 1530, 1155, 345));
  cmdDialog->setDefault(true);
  connect(cmdDialog, &QPushButton::clicked, this, [this] { cmdDialog_Click(); });

  cmdCancel = new QPushButton(QStringLiteral("Cancel"), this);
  cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
  cmdCancel->setGeometry(TwipsRect(1620, 1530, 1155, 345));
  connect(cmdCancel, &QPushButton::clicked, this, [this] { cmdCancel_Click(); });

  // A double-click chooses the module, as Ok does.
  connect(lstDevEnum, &QListWidget::itemDoubleClicked, this, [this] { cmdDialog_Click(); });

  setTabOrder(lstDevEnum, cmdDialog);
  setTabOrder(cmdDialog, cmdCancel);
}

dlgDevEnum* dlgDevEnum::Instance() {
  if (!g_instance) {
    g_instance = new dlgDevEnum();
    // Widgets must go before the application does.
    qAddPostRoutine([] { delete g_instance.data(); });
  }
  return g_instance;
}

dlgDevEnum* dlgDevEnum::ExistingInstance() { return g_instance; }

int16_t dlgDevEnum::SelectDevice(const DeviceListing& state) {
  SelectedDevice = -1;
  state_ = &state;
  if (CheckDeviceList()) {
    Form_Load();
    FillDeviceList();
    while (QApplication::overrideCursor() != nullptr) QApplication::restoreOverrideCursor();
    exec();
  }
  state_ = nullptr;
  return SelectedDevice;
}

bool dlgDevEnum::CheckDeviceList() {
  return state_ != nullptr && NeedsChoice(*state_, SelectedDevice);
}

void dlgDevEnum::Form_Load() {
  setWindowIcon(ComponentIcon());
  // One tab stop at 45 dialog units lines the serial texts up in a second column.
  const QFontMetrics metrics(font());
  const int baseUnit = metrics.horizontalAdvance(
                           QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) /
                       52;
  const int stop = 45 * baseUnit / 4;
  SetTabStops(lstDevEnum, {stop}, stop);
}

void dlgDevEnum::FillDeviceList() {
  lstDevEnum->clear();
  if (state_ == nullptr) return;
  const std::size_t count = ListedDevices(*state_);
  for (std::size_t i = 0; i < count; ++i) {
    const DeviceEntry& entry = state_->Devices[i];
    auto* item = new QListWidgetItem(
        QString::fromStdString(entry.BoardName + "\t" + entry.SerialNumber), lstDevEnum);
    item->setData(Qt::UserRole, entry.DeviceIndex);
  }
  lstDevEnum->setCurrentRow(0);
}

void dlgDevEnum::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  BringToFront(this);
}

void dlgDevEnum::cmdDialog_Click() {
  const int row = lstDevEnum->currentRow();
  if (row >= 0 && state_ != nullptr && static_cast<std::size_t>(row) < ListedDevices(*state_))
    SelectedDevice = state_->Devices[static_cast<std::size_t>(row)].DeviceIndex;
  accept();
}

void dlgDevEnum::cmdCancel_Click() { reject(); }

int16_t SelectDevice(const DeviceListing& state) {
  int16_t selected = -1;
  if (!NeedsChoice(state, selected)) return selected;
  // Without a display there is no one to ask.
  if (DialogApplication() == nullptr) return -1;
  return dlgDevEnum::Instance()->SelectDevice(state);
}

}  // namespace quillbox
