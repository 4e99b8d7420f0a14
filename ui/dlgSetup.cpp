#include "ui/dlgSetup.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QStyleOptionTabWidgetFrame>
#include <QTabBar>
#include <QTimer>
#include <limits>

#include "driver/DriverState.h"
#include "platform/UiHost.h"
#include "ui/DialogStyle.h"
#include "ui/PageFactory.h"
#include "ui/Pictures.h"
#include "ui/SetupPage.h"
#include "ui/Twips.h"
#include "ui/Ui.h"

namespace quillbox {
namespace {

constexpr int kOk = 0;
constexpr int kCancel = 1;
constexpr int kHelp = 2;

// Major, minor and revision (first, second and fourth field) of the component's version.
QString VersionText() {
  return QStringLiteral("%1.%2.%3")
      .arg(QUILLBOX_VERSION_MAJOR)
      .arg(QUILLBOX_VERSION_MINOR)
      .arg(QUILLBOX_VERSION_TWEAK);
}

}  // namespace

void ExtractNumber(const std::string& text, int32_t& result) {
  result = 0;
  if (text.size() <= 1) return;
  int64_t value = 0;
  bool any = false;
  for (std::size_t i = 1; i < text.size(); ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') continue;
    any = true;
    value = value * 10 + (c - '0');
    if (value > std::numeric_limits<int32_t>::max()) return;
  }
  if (any) result = static_cast<int32_t>(value);
}

QRect TabStrip::ClientRect() const {
  QStyleOptionTabWidgetFrame option;
  initStyleOption(&option);
  return style()->subElementRect(QStyle::SE_TabWidgetTabContents, &option, this);
}

QString TabStrip::Key(int index) const { return tabBar()->tabData(index).toString(); }

void TabStrip::AddTab(const QString& key) {
  // The strip's own page stays empty: the setup page lies over it.
  const int index = addTab(new QWidget(this), key);
  tabBar()->setTabData(index, key);
}

dlgSetup::dlgSetup(DriverState& state, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      state_(state) {
  setObjectName(QStringLiteral("dlgSetup"));
  ApplyDialogFont(this);
  setWindowIcon(ComponentIcon());
  setFixedSize(Px(5010), Px(4545));

  tabSetup = new TabStrip(this);
  tabSetup->setObjectName(QStringLiteral("tabSetup"));
  tabSetup->setGeometry(TwipsRect(120, 90, 4815, 3945));
  tabSetup->AddTab(QStringLiteral("General"));

  const char* captions[] = {"Ok", "Cancel", "Help"};
  const double lefts[] = {1170, 2475, 3780};
  for (int i = 0; i < 3; ++i) {
    auto* button = new QPushButton(QString::fromLatin1(captions[i]), this);
    button->setObjectName(QStringLiteral("cmdDialog%1").arg(i));
    button->setGeometry(TwipsRect(lefts[i], 4140, 1155, 345));
    connect(button, &QPushButton::clicked, this, [this, i] { cmdDialog_Click(i); });
    cmdDialog[static_cast<std::size_t>(i)] = button;
  }
  cmdDialog[kOk]->setDefault(true);
  cmdDialog[kHelp]->setEnabled(false);
  setTabOrder(tabSetup, cmdDialog[kOk]);
  setTabOrder(cmdDialog[kOk], cmdDialog[kCancel]);
  setTabOrder(cmdDialog[kCancel], cmdDialog[kHelp]);

  Form_Load();
  connect(tabSetup, &QTabWidget::currentChanged, this, [this] { tabSetup_Click(); });
}

dlgSetup::~dlgSetup() = default;

void dlgSetup::Form_Load() {
  setWindowTitle(QString::fromStdString(state_.Adc.DisplayName) + QStringLiteral(" Setup") +
                 QStringLiteral(" (v") + VersionText() + QStringLiteral(")"));

  if (HelpFilePath().size() >= 5) {
    cmdDialog[kHelp]->setEnabled(true);
    ExtractNumber(state_.Adc.ADCName, helpContext_);
  } else {
    cmdDialog[kHelp]->setEnabled(false);
  }

  if (state_.Detected) tabSetup->AddTab(QStringLiteral("ADC"));
  if (state_.Dio.DIODetected) tabSetup->AddTab(QStringLiteral("DIO"));
  Pages.assign(static_cast<std::size_t>(tabSetup->count()), nullptr);
}

SetupPage* dlgSetup::Page(int index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= Pages.size()) return nullptr;
  return Pages[static_cast<std::size_t>(index)];
}

void dlgSetup::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (activated_) return;
  activated_ = true;
  try {
    Form_Activate();
  } catch (const std::exception& e) {
    Fail(e.what());
  } catch (...) {
    Fail("unexpected error while the dialog opened");
  }
}

void dlgSetup::Fail(const std::string& what) {
  failure_ = what.empty() ? std::string("unknown error") : what;
  QTimer::singleShot(0, this, &QDialog::reject);
}

void dlgSetup::Form_Activate() {
  // A remembered tab the dialog no longer has (the tab set shrank) starts on the first tab.
  int16_t tab = state_.LastSetupTab;
  if (tab < 0 || tab >= tabSetup->count()) tab = 0;
  SelectTab(tab);
  LoadPage(tab);
  // The keyboard starts on the tab strip.
  tabSetup->tabBar()->setFocus(Qt::TabFocusReason);
  // In front once, without staying on top.
  BringToFront(this);
}

void dlgSetup::SelectTab(int index) {
  if (index < 0 || index >= tabSetup->count()) return;
  {
    const QSignalBlocker block(tabSetup);
    tabSetup->setCurrentIndex(index);
  }
  tabSetup_Click();
}

void dlgSetup::tabSetup_Click() {
  const int selected = tabSetup->currentIndex();
  for (int k = 0; k < tabSetup->count(); ++k) {
    if (k == selected) {
      if (Page(k) == nullptr) LoadPage(static_cast<int16_t>(k));
      if (SetupPage* page = Page(k)) {
        page->setVisible(true);
        page->raise();
      }
    } else if (SetupPage* page = Page(k)) {
      page->setVisible(false);
    }
  }
}

void dlgSetup::LoadPage(int16_t index) {
  if (index < 0 || index >= tabSetup->count() || Page(index) != nullptr) return;
  const QString key = tabSetup->Key(index);
  const std::string progId = "Quillbox.uc" + key.toStdString();
  try {
    SetupPage* page = CreatePage(progId, this, state_);
    if (page == nullptr) return;
    page->setVisible(false);
    page->setObjectName(QStringLiteral("tab") + key);
    Pages[static_cast<std::size_t>(index)] = page;
    PlacePages();
    // Keyboard order: the tab strip, the page's controls in the page's own order, then Ok,
    // Cancel and Help. The controls are collected before the chain is changed.
    std::vector<QWidget*> controls;
    int guard = 10000;
    for (QWidget* w = page->nextInFocusChain(); w != page && --guard > 0; w = w->nextInFocusChain())
      if (page->isAncestorOf(w) && (w->focusPolicy() & Qt::TabFocus) != 0) controls.push_back(w);
    QWidget* previous = tabSetup->tabBar();
    for (QWidget* w : controls) {
      setTabOrder(previous, w);
      previous = w;
    }
    for (QPushButton* button : cmdDialog) {
      setTabOrder(previous, button);
      previous = button;
    }
  } catch (...) {
    // The tab then shows no page.
  }
}

void dlgSetup::PlacePages() {
  const QRect area = tabSetup->ClientRect().translated(tabSetup->pos());
  for (const QPointer<SetupPage>& page : Pages)
    if (page) page->setGeometry(area);
}

void dlgSetup::SavePage(int16_t index) {
  SetupPage* page = Page(index);
  if (page == nullptr) return;
  try {
    page->Page_SaveSetting();
  } catch (...) {
    // A page that fails to save does not stop the others.
  }
}

void dlgSetup::cmdDialog_Click(int Index) {
  switch (Index) {
    case kOk:
      for (int i = 0; i < tabSetup->count(); ++i) SavePage(static_cast<int16_t>(i));
      accept();
      break;
    case kCancel:
      reject();
      break;
    case kHelp:
      // As if the user pressed F1 here; handled once the click has returned.
      QCoreApplication::postEvent(this,
                                  new QKeyEvent(QEvent::KeyPress, Qt::Key_F1, Qt::NoModifier));
      break;
    default:
      break;
  }
}

void dlgSetup::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_F1 && event->modifiers() == Qt::NoModifier) {
    const std::string help = HelpFilePath();
    if (help.size() >= 5) platform::OpenHelp(help, helpContext_);
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void dlgSetup::done(int result) {
  Form_Unload();
  QDialog::done(result);
}

void dlgSetup::Form_Unload() {
  state_.LastSetupTab = static_cast<int16_t>(std::max(0, tabSetup->currentIndex()));
  activated_ = false;
}

}  // namespace quillbox
