// The setup dialog as a user meets it: tabs per detection state, pages made when their
// tab is first chosen, "Ok" saving only what was made, "Cancel", Esc and the close box
// discarding, the remembered tab, Help, and a page that cannot be made.

#include <QKeyEvent>
#include <QLabel>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "UiTestSupport.h"
#include "platform/UiHost.h"
#include "ui/PageFactory.h"
#include "ui/SetupPage.h"
#include "ui/Ui.h"
#include "ui/dlgSetup.h"

namespace quillbox::test {
namespace {

namespace fs = std::filesystem;

class SetupDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    state_ = FreshState();
    FillSlots(*state_, {10, 10, 21, 22, 255, 9, 40, 14});
    SetHelpFilePath("");
  }
  void TearDown() override { SetHelpFilePath(""); }
  DriverState& S() { return *state_; }

  // Both hardware parts present.
  void Detect() {
    S().Detected = true;
    S().Dio.DIODetected = true;
    S().Dio.DIBits = 8;
    S().Dio.DOBits = 8;
  }

  std::unique_ptr<DriverState> state_;
};

TEST_F(SetupDialog, TabsFollowWhatWasDetected) {
  const struct {
    bool adc, dio;
    std::string keys;
    int start;  // a remembered tab that no longer exists starts on General
  } cases[] = {{false, false, "General ", 0},
               {false, true, "General DIO ", 0},
               {true, true, "General ADC DIO ", 2}};
  for (const auto& c : cases) {
    S().Detected = c.adc;
    S().Dio.DIODetected = c.dio;
    S().Dio.DIBits = S().Dio.DOBits = 8;
    S().LastSetupTab = 2;
    dlgSetup dialog(S());
    dialog.show();
    std::string keys;
    for (int i = 0; i < dialog.Tabs()->count(); ++i)
      keys += dialog.Tabs()->Key(i).toStdString() + " ";
    EXPECT_EQ(keys, c.keys);
    EXPECT_EQ(dialog.Tabs()->currentIndex(), c.start);
    dialog.reject();
    EXPECT_EQ(S().LastSetupTab, c.start);
  }
}

// Each way of closing, after a change on the General page and one on the DIO page.
TEST_F(SetupDialog, OkAndEnterSaveThePagesThatWereMadeCancelEscAndTheCloseBoxNothing) {
  Detect();
  S().Sources[0] = {SourceTTL, 3};  // stored, but the ADC page is never made
  const std::vector<std::pair<std::function<void(dlgSetup&)>, bool>> closers = {
      {[](dlgSetup& d) { Click(d.Button(0)); }, true},
      {[](dlgSetup& d) {
         d.Tabs()->tabBar()->setFocus();
         QTest::keyClick(d.Tabs()->tabBar(), Qt::Key_Return);
       },
       true},
      {[](dlgSetup& d) { Click(d.Button(1)); }, false},
      {[](dlgSetup& d) { QTest::keyClick(&d, Qt::Key_Escape); }, false},
      {[](dlgSetup& d) { d.close(); }, false},
  };
  for (std::size_t i = 0; i < closers.size(); ++i) {
    const bool saves = closers[i].second;
    S().SyncMode = 2;
    S().LastSetupTab = 0;
    S().Dio.DOStartEnabled = false;
    dlgSetup dialog(S());
    dialog.show();
    EXPECT_TRUE(Find<QRadioButton>(&dialog, "optSynchro2")->isChecked()) << i;  // the stored mode
    Click(Find<QRadioButton>(&dialog, "optSynchro0"));
    ClickTab(dialog.Tabs()->tabBar(), 2);
    Click(Find<QCheckBox>(&dialog, "chkStart0"));
    closers[i].first(dialog);
    EXPECT_FALSE(dialog.isVisible()) << i;
    EXPECT_EQ(dialog.result(), saves ? QDialog::Accepted : QDialog::Rejected) << i;
    EXPECT_EQ(S().SyncMode, saves ? 0 : 2) << i;
    EXPECT_EQ(S().Dio.DOStartEnabled, saves) << i;
    // The ADC page would have rebuilt the channel list and stored its sources.
    EXPECT_TRUE(S().Adc.Tables.Ranges.empty()) << i;
    EXPECT_EQ(S().Sources[0], (ChannelSource{SourceTTL, 3})) << i;
    EXPECT_EQ(S().LastSetupTab, 2) << i;  // the next showing starts on it
  }
}

// Keyboard order on every tab: focus starts on the tab strip, Tab runs through the shown page's
// controls, then Ok and Cancel (Help is off without a help file), and back to the strip.
TEST_F(SetupDialog, TabRunsThroughThePageThenOkAndCancel) {
  Detect();
  for (int16_t tab = 0; tab < 3; ++tab) {
    SCOPED_TRACE(tab);
    S().LastSetupTab = tab;
    dlgSetup dialog(S());
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    QWidget* strip = dialog.Tabs()->tabBar();
    ASSERT_EQ(QApplication::focusWidget(), strip);
    std::vector<QWidget*> order;
    for (int i = 0; i < 100 && (order.empty() || order.back() != strip); ++i) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      order.push_back(QApplication::focusWidget());
    }
    ASSERT_GE(order.size(), 4u);
    ASSERT_EQ(order.back(), strip);
    EXPECT_EQ(order[order.size() - 3], dialog.Button(0));
    EXPECT_EQ(order[order.size() - 2], dialog.Button(1));
    for (std::size_t i = 0; i + 3 < order.size(); ++i)
      EXPECT_TRUE(dialog.Page(tab)->isAncestorOf(order[i])) << order[i]->objectName().toStdString();
    dialog.reject();
  }
}

// At the user's font size times 1, 1.5 and 2, every caption on every tab fits its control and
// every control lies inside its parent.
TEST_F(SetupDialog, CaptionsFitAtLargerFontSizes) {
  Detect();
  const QFont original = QApplication::font();
  for (const double scale : {1.0, 1.5, 2.0}) {
    QFont font = original;
    font.setPixelSize(static_cast<int>(std::lround(11 * scale)));
    QApplication::setFont(font);
    dlgSetup dialog(S());
    dialog.show();
    for (int tab = 0; tab < dialog.Tabs()->count(); ++tab) {
      dialog.SelectTab(tab);
      for (QWidget* w : dialog.findChildren<QWidget*>()) {
        if (!w->isVisibleTo(&dialog)) continue;
        const auto* button = qobject_cast<QAbstractButton*>(w);
        const auto* label = qobject_cast<QLabel*>(w);
        const QString text = button ? button->text() : label ? label->text() : QString();
        if (text.isEmpty()) continue;
        SCOPED_TRACE(::testing::Message()
                     << scale << "x, tab " << tab << ", " << w->objectName().toStdString() << " \""
                     << text.toStdString() << "\"");
        const QFontMetrics metrics(w->font());
        QSize needed(metrics.horizontalAdvance(QString(text).remove(QLatin1Char('&'))),
                     metrics.height());
        if (qobject_cast<const QPushButton*>(w) != nullptr)
          needed += QSize(4, 2);  // the button's frame
        else if (button != nullptr)
          needed = needed.expandedTo(w->sizeHint());  // check mark and caption
        else if (label->wordWrap())
          needed = QSize(0, label->heightForWidth(label->contentsRect().width()));
        EXPECT_LE(needed.width(), w->contentsRect().width());
        EXPECT_LE(needed.height(), w->contentsRect().height());
        EXPECT_TRUE(w->parentWidget()->rect().contains(w->geometry()));
      }
    }
    dialog.reject();
  }
  QApplication::setFont(original);
}

TEST_F(SetupDialog, HelpOpensTheHelpFileAtTheDialogsContextWhenThereIsOne) {
  std::vector<std::string> requests;
  platform::UiHooks hooks;
  hooks.openHelp = [&requests](const std::string& file, int context) {
    requests.push_back(file + " " + std::to_string(context));
    return true;
  };
  platform::SetUiHooks(std::move(hooks));
  for (const std::string file : {"", "/opt/e270/DUzud270.chm"}) {
    SetHelpFilePath(file);
    dlgSetup dialog(S());
    dialog.show();
    EXPECT_EQ(dialog.Button(2)->isEnabled(), !file.empty());
    QTest::keyClick(&dialog, Qt::Key_F1);
    if (!file.empty()) Click(dialog.Button(2));
    QCoreApplication::processEvents();  // the F1 the button sends arrives after the click
    dialog.reject();
  }
  platform::SetUiHooks({});
  const std::string help = "/opt/e270/DUzud270.chm 270";
  EXPECT_EQ(requests, (std::vector<std::string>{help, help}));
}

TEST(HelpFile, FindsTheFirstMatchingFileInTheFolder) {
  const fs::path dir = fs::temp_directory_path() / ("quillbox-help-" + std::to_string(getpid()));
  fs::create_directories(dir / "DUzudDir.chm");  // a folder is no help file
  std::ofstream(dir / "readme.txt") << "x";
  std::ofstream(dir / "DUzud.txt") << "x";
  SetHelpFilePath("");
  FindHelpFileIn(dir.string());
  EXPECT_EQ(HelpFilePath(), "");
  std::ofstream(dir / "duzudE270.CHM") << "x";
  std::ofstream(dir / "DUzud_b.chm") << "x";
  FindHelpFileIn(dir.string());
  EXPECT_EQ(HelpFilePath(), (dir / "DUzud_b.chm").string());
  SetHelpFilePath("/kept.chm");
  FindHelpFileIn((dir / "missing").string());  // nothing found: the path stays
  EXPECT_EQ(HelpFilePath(), "/kept.chm");
  SetHelpFilePath("");
  fs::remove_all(dir);
}

}  // namespace
}  // namespace quillbox::test
