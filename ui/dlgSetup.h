#pragma once
// The tabbed setup dialog: a tab strip with one page per tab ("General" always, "ADC" when the
// module was detected, "DIO" when its digital lines were), and "Ok", "Cancel" and "Help".
// Pages are created when their tab is first selected and write back only on "Ok".

#include <QDialog>
#include <QPointer>
#include <QTabWidget>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

class QPushButton;

namespace quillbox {

struct DriverState;
class SetupPage;

// Turns the digits of a name into a number: every decimal digit from the second character on,
// in order ("E-270" gives 270); 0 when the text has one character or less, or holds no digit,
// or the digits exceed a Long.
void ExtractNumber(const std::string& text, int32_t& result);

// The tab strip: a tab widget whose own pages stay empty; the setup pages lie over its client
// area as children of the dialog.
class TabStrip : public QTabWidget {
  Q_OBJECT

 public:
  using QTabWidget::QTabWidget;
  // The area inside the strip below the row of tabs, in the strip's coordinates.
  QRect ClientRect() const;
  // Key of tab `index` (0-based): the same text as its caption.
  QString Key(int index) const;
  void AddTab(const QString& key);
};

class dlgSetup : public QDialog {
  Q_OBJECT

 public:
  // Form_Load: builds the title, sets up Help and appends the tabs.
  explicit dlgSetup(DriverState& state, QWidget* parent = nullptr);
  ~dlgSetup() override;

  TabStrip* Tabs() const { return tabSetup; }
  QPushButton* Button(int index) const { return cmdDialog.at(static_cast<std::size_t>(index)); }
  // The page of tab `index`, null until it was created.
  SetupPage* Page(int index) const;
  int HelpContext() const { return helpContext_; }
  // Description of an error that ended the dialog while it loaded or activated; "" otherwise.
  const std::string& Failure() const { return failure_; }

  // Selects tab `index` (0-based) from code; runs the tab handling also when it is already
  // the selected tab.
  void SelectTab(int index);

  void done(int result) override;

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void Form_Load();
  void Form_Activate();
  void Form_Unload();
  void tabSetup_Click();
  void LoadPage(int16_t index);
  void SavePage(int16_t index);
  void cmdDialog_Click(int Index);
  void PlacePages();
  void Fail(const std::string& what);

  DriverState& state_;
  TabStrip* tabSetup = nullptr;
  std::array<QPushButton*, 3> cmdDialog{};
  std::vector<QPointer<SetupPage>> Pages;
  int32_t helpContext_ = 0;
  bool activated_ = false;  // Form_Activate ran for this showing
  std::string failure_;
};

}  // namespace quillbox
