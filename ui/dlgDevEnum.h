#pragma once
// The device selection dialog: lists the E-270 modules found on USB by board name and serial
// text and returns the device number of the one the user takes.

#include <QDialog>
#include <cstdint>

class QListWidget;
class QPushButton;

namespace quillbox {

struct DeviceListing;

class dlgDevEnum : public QDialog {
  Q_OBJECT

 public:
  explicit dlgDevEnum(QWidget* parent = nullptr);

  // The chosen module's DeviceIndex, or -1; shows the dialog only when there is a choice.
  int16_t SelectDevice(const DeviceListing& state);

  QListWidget* List() const { return lstDevEnum; }

  // The one instance of the process, made on first use (needs a QApplication).
  static dlgDevEnum* Instance();
  // The instance if one was made, else null.
  static dlgDevEnum* ExistingInstance();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  bool CheckDeviceList();
  void FillDeviceList();
  void Form_Load();
  void cmdDialog_Click();
  void cmdCancel_Click();

  const DeviceListing* state_ = nullptr;
  int16_t SelectedDevice = -1;
  QListWidget* lstDevEnum = nullptr;
  QPushButton* cmdDialog = nullptr;
  QPushButton* cmdCancel = nullptr;
};

}  // namespace quillbox
