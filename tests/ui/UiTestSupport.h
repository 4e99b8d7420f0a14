#pragma once
// Helpers of the dialog tests: one QApplication for the test process (on the offscreen
// platform), driver states filled by hand or opened on the simulated bench, and a way to act on
// a modal dialog from inside its event loop without ever hanging.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "channels/Catalogue.h"
#include "channels/ChannelList.h"
#include "device/Connection.h"
#include "device/DeviceChooser.h"
#include "driver/DriverState.h"
#include "e270/E270API.h"
#include "sim/Bench.h"
#include "ui/Ui.h"

namespace quillbox::test {

// The test process plays a host that made its own application; the component's pages are
// registered as the driver's binding does.
inline QApplication* App() {
  RegisterStandardPages();
  if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance())) return app;
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static int argc = 1;
  static char arg0[] = "ui_tests";
  static char* argv[] = {arg0, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return app;
}

// A driver state as a freshly loaded component has it after construction.
inline std::unique_ptr<DriverState> FreshState() {
  auto s = std::make_unique<DriverState>();
  s->Adc.ADCName = "E-270";
  s->Adc.DisplayName = "E-270";
  s->Adc.ChannelsCount = 32;
  E270Init(&s->Dev);
  s->Sources = DefaultChannelSources();
  return s;
}

// Fills the slots with the given type codes, as an open would.
inline void FillSlots(DriverState& s, const std::vector<uint8_t>& types) {
  for (std::size_t m = 0; m < s.Modules.size(); ++m) {
    ModuleSlot& slot = s.Modules[m];
    slot.ModuleType = m < types.size() ? types[m] : 255;
    DescribeSlot(slot);
  }
  s.DirectSource = DirectSourceInfo();
  s.TTLSource = TTLSourceInfo();
}

// A state whose module was opened on the simulated bench (the built-in one unless a test
// loaded another): Detected and DIODetected as IADC3 Test leaves them.
inline std::unique_ptr<DriverState> OpenedState() {
  auto s = FreshState();
  s->BasePort = DeviceOpen(*s);
  s->Detected = s->BasePort != 0;
  return s;
}

// Runs `action` on the first modal dialog that opens (from inside its event loop); a dialog
// still open after `timeoutMs` is rejected so that no test can hang. `acted` tells whether the
// action ran.
class ModalDriver {
 public:
  explicit ModalDriver(std::function<void(QWidget*)> action, int timeoutMs = 5000)
      : action_(std::move(action)) {
    poll_.setInterval(5);
    QObject::connect(&poll_, &QTimer::timeout, [this] {
      QWidget* modal = QApplication::activeModalWidget();
      if (modal == nullptr || !modal->isVisible()) return;
      poll_.stop();
      acted_ = true;
      action_(modal);
    });
    poll_.start();
    QTimer::singleShot(timeoutMs, &guard_, [this] {
      poll_.stop();
      if (QWidget* modal = QApplication::activeModalWidget()) {
        timedOut_ = true;
        modal->close();
      }
    });
  }
  bool acted() const { return acted_; }
  bool timedOut() const { return timedOut_; }

 private:
  std::function<void(QWidget*)> action_;
  QTimer poll_;
  QObject guard_;
  bool acted_ = false;
  bool timedOut_ = false;
};

inline void Click(QAbstractButton* button) {
  ASSERT_NE(button, nullptr);
  // Check boxes and option buttons answer on their mark (and caption), not on the empty rest.
  const bool marked =
      qobject_cast<QCheckBox*>(button) != nullptr || qobject_cast<QRadioButton*>(button) != nullptr;
  const QPoint at = marked ? QPoint(std::min(6, button->width() / 2), button->height() / 2)
                           : button->rect().center();
  QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, at);
}

inline void ClickRow(QListWidget* list, int row) {
  QListWidgetItem* item = list->item(row);
  ASSERT_NE(item, nullptr);
  list->scrollToItem(item);
  QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                    list->visualItemRect(item).center());
}

inline void ClickTab(QTabBar* bar, int index) {
  QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, bar->tabRect(index).center());
}

template <class W>
W* Find(QWidget* parent, const QString& name) {
  W* widget = parent->findChild<W*>(name);
  EXPECT_NE(widget, nullptr) << name.toStdString();
  return widget;
}

}  // namespace quillbox::test
