// The setup dialog and the chooser as the driver's hosts reach them: IADC3 ShowSetting in a
// host with its own application, processes without a display (which must get the cancelled
// result, never an abort or a dialog no one can answer), offscreen screenshots, and the
// `quillbox setup` command.

#include <QImage>
#include <filesystem>
#include <fstream>

#include "ChildProcess.h"
#include "UiTestSupport.h"
#include "driver/E_270.h"
#include "quillbox/IADC3.h"
#include "ui/Ui.h"
#include "ui/dlgSetup.h"

namespace quillbox::test {
namespace {

namespace fs = std::filesystem;

// Environment of every child: the same suppressions as this process, after the options the
// test run gave.
void AddSanitizerSuppressions(EnvChanges& env) {
  for (const auto& [variable, file] :
       {std::pair<const char*, const char*>{"LSAN_OPTIONS", "lsan.supp"},
        {"TSAN_OPTIONS", "tsan.supp"}}) {
    const char* given = std::getenv(variable);
    std::string options = given != nullptr && *given != '\0' ? std::string(given) + ":" : "";
    env[variable] = options + "suppressions=" + QUILLBOX_UI_TEST_DIR + "/" + file;
  }
}

fs::path TempDir(const std::string& name) {
  fs::path dir =
      fs::temp_directory_path() / ("quillbox-ui-" + name + "-" + std::to_string(getpid()));
  fs::remove_all(dir);
  return dir;
}

TEST(DriverPath, ShowSettingShowsTheDialogModallyAndReturnsFalse) {
  App();
  auto driver = CreateE_270();
  IADC3& adc = *driver;
  State().Acq.Busy = true;
  {
    ModalDriver watch([](QWidget* modal) { modal->close(); }, 1000);
    EXPECT_FALSE(adc.ShowSetting());
    EXPECT_FALSE(watch.acted());  // nothing is shown while a recording runs
  }
  State().Acq.Busy = false;
  ModalDriver driverOfDialog([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Escape); });
  EXPECT_FALSE(adc.ShowSetting());
  EXPECT_TRUE(driverOfDialog.acted());
  EXPECT_FALSE(driverOfDialog.timedOut());
}

TEST(Screenshots, EveryTabIsRenderedWithoutChangingTheRememberedTab) {
  App();
  sim::LoadDefaultBench();
  auto state = OpenedState();
  state->LastSetupTab = 1;
  const fs::path dir = TempDir("shots") / "nested";
  std::vector<std::string> written;
  std::string error;
  ASSERT_TRUE(RenderSetupScreenshots(*state, dir.string(), written, error)) << error;
  ASSERT_EQ(written.size(), 3u);
  // Each picture shows its own page.
  EXPECT_NE(QImage(QString::fromStdString(written[0])), QImage(QString::fromStdString(written[1])));
  EXPECT_EQ(state->LastSetupTab, 1);
  DeviceClose(*state);
  fs::remove_all(dir.parent_path());
}

// Processes without a usable display (none, the offscreen platform only, a display that does
// not answer) get the cancelled result, never an abort or a dialog no one can answer; the
// device chooser's side of it is tried by the quillbox info test with two modules.
TEST(SetupCommand, ScreenshotsWithoutADisplayAndAClearRefusalToShow) {
  const fs::path dir = TempDir("cli");
  EnvChanges headless = {{"DISPLAY", std::nullopt},
                         {"WAYLAND_DISPLAY", std::nullopt},
                         {"QT_QPA_PLATFORM", std::nullopt},
                         {"QUILLBOX_BENCH", std::nullopt}};
  AddSanitizerSuppressions(headless);
  const ChildResult shots =
      RunProcess({QUILLBOX_CLI, "setup", "--screenshot", dir.string()}, headless);
  ASSERT_TRUE(shots.started);
  EXPECT_EQ(shots.exitCode, 0) << shots.Output();
  for (const char* tab : {"General", "ADC", "DIO"}) {
    const fs::path file = dir / (std::string(tab) + ".png");
    EXPECT_TRUE(fs::is_regular_file(file)) << file;
    EXPECT_NE(shots.Output().find(file.string()), std::string::npos) << shots.Output();
  }
  fs::remove_all(dir);

  for (const auto& [display, platform] :
       {std::pair<std::optional<std::string>, std::optional<std::string>>{},
        {std::nullopt, "offscreen"},
        {":987", std::nullopt}}) {
    auto env = headless;
    env["DISPLAY"] = display;
    env["QT_QPA_PLATFORM"] = platform;
    const ChildResult show = RunProcess({QUILLBOX_CLI, "setup"}, env);
    EXPECT_FALSE(show.timedOut);
    EXPECT_EQ(show.signal, 0) << show.Output();
    EXPECT_EQ(show.exitCode, 1) << show.Output();
    EXPECT_NE(show.Output().find("no display"), std::string::npos) << show.Output();
  }
}

}  // namespace
}  // namespace quillbox::test
