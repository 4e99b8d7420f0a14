// Component registration and the registry commands of the quillbox host.

#include "host/Registration.h"

#include <gtest/gtest.h>
#include <filesystem>
#include <fstream>

#include "ChildProcess.h"
#include "quillbox/CreateObject.h"
#include "tests/platform/RegistryTestSupport.h"

namespace quillbox {
namespace {

namespace fs = std::filesystem;
using quillbox::test::ChildResult;
using quillbox::testing::RegistryTest;

std::string BesideExecutable() { return fs::canonical(DefaultComponentPath()).string(); }

TEST_F(RegistryTest, ARegisteredComponentIsFoundFirst) {
  const std::string copy = registry_.dir() + "/Copy.adc";
  fs::copy_file(DefaultComponentPath(), copy);
  // With the vendor library it loads from its own folder, as in a build tree.
  fs::copy_file(fs::path(DefaultComponentPath()).parent_path() / "libE270API.so",
                registry_.dir() + "/libE270API.so");
  // A relative path is recorded as an absolute one.
  const fs::path cwd = fs::current_path();
  fs::current_path(registry_.dir());
  std::string error;
  const bool registered = RegisterComponent("Copy.adc", error);
  fs::current_path(cwd);
  ASSERT_TRUE(registered) << error;
  EXPECT_EQ(FindComponent("Quillbox.E_270"), fs::canonical(copy).string());
  // Gone again: the next candidate, beside the executable, serves.
  fs::remove(copy);
  EXPECT_EQ(fs::canonical(FindComponent("Quillbox.E_270")).string(), BesideExecutable());
}

TEST_F(RegistryTest, IdentifiersNobodyServesAreClearErrors) {
  std::string error;
  ASSERT_TRUE(RegisterComponent(DefaultComponentPath(), error)) << error;
  try {
    CreateObject("Quillbox.ucGeneral");  // registered, but the library makes no such object
    ADD_FAILURE() << "no error";
  } catch (const CreateObjectError& e) {
    EXPECT_NE(std::string(e.what()).find("has no class of that name"), std::string::npos)
        << e.what();
  }
}

// Runs the quillbox command (stderr folded into the output).
ChildResult Quillbox(std::vector<std::string> args) {
  args.insert(args.begin(), QUILLBOX_CLI);
  ChildResult run = quillbox::test::RunProcess(args);
  run.out += run.err;
  return run;
}

TEST_F(RegistryTest, SettingsCommandPrintsTheExportText) {
  ChildResult run = Quillbox({"settings"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.out.find("the settings key does not exist yet"), std::string::npos) << run.out;

  ASSERT_EQ(Quillbox({"about"}).exitCode, 0);  // a driver object made and released: settings saved
  run = Quillbox({"settings"});
  EXPECT_EQ(run.exitCode, 0);
  const std::string expected =
      "\n[HKEY_CURRENT_USER\\Software\\Tarn\\ADC\\L-Card\\E-270]\n"
      "@=\"E-270\"\n"
      "\"Rate\"=dword:41200000\n"
      "\"Channels\"=hex:00,00,00,01,00,02,00,03,00,04,00,05,00,06,00,07,00,08,00,09,00,0a,00,0b,"
      "00,0c,00,0d,00,0e,00,0f,01,00,01,01,01,02,01,03,01,04,01,05,01,06,01,07,02,00,02,01,02,02,"
      "02,03,02,04,02,05,02,06,02,07\n";
  EXPECT_EQ(run.out, expected);
  run = Quillbox({"settings", "--crlf"});
  std::string crlf;
  for (char c : expected) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  EXPECT_EQ(run.out, crlf);

  run = Quillbox({"settings", "--key", "HKEY_CURRENT_USER\\Software\\Tarn", "-r"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out.rfind("\n[HKEY_CURRENT_USER\\Software\\Tarn]\n\n[HKEY_CURRENT_USER\\Software"
                          "\\Tarn\\ADC]\n",
                          0),
            0u)
      << run.out;
  run = Quillbox({"settings", "--key", "Software\\Nowhere"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.out.find("no key HKEY_CURRENT_USER\\Software\\Nowhere"), std::string::npos);
}

TEST_F(RegistryTest, RegisterCommandRecordsEveryIdentifierOrSaysWhyNot) {
  const std::string text = registry_.dir() + "/notes.txt";
  std::ofstream(text) << "not a library";
  const std::string vendor = (fs::path(DefaultComponentPath()).parent_path() / "libE270API.so");
  const std::pair<std::string, std::string> refusals[] = {
      {registry_.dir() + "/missing.adc", "no such file"},
      {text, "not a shared library"},
      {vendor, "not a Quillbox component"},
  };
  for (const auto& [path, why] : refusals) {
    const ChildResult run = Quillbox({"register", path});
    EXPECT_EQ(run.exitCode, 1) << path;
    std::string said = "quillbox: cannot register ";
    said.append(path).append(": ").append(why);
    EXPECT_EQ(run.out.rfind(said, 0), 0u) << run.out;
  }
  EXPECT_EQ(RegisteredComponent("Quillbox.E_270"), "");

  const ChildResult run = Quillbox({"register"});
  EXPECT_EQ(run.exitCode, 0) << run.out;
  for (const char* id :
       {"Quillbox.E_270", "Quillbox.ucGeneral", "Quillbox.ucADC", "Quillbox.ucDIO"}) {
    EXPECT_NE(run.out.find(std::string("Registered ") + id + " -> " + BesideExecutable() + "\n"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(RegisteredComponent(id), BesideExecutable()) << id;
  }
  EXPECT_EQ(RegisteredComponent("quillbox.e_270"), BesideExecutable());  // keys ignore case
  EXPECT_EQ(RegisteredComponent("Quillbox\\E_270"), "");
}

}  // namespace
}  // namespace quillbox
