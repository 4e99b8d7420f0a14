// The simulated module is one device of the machine: the quillbox command, run as other
// processes on the same bench, shares it with this test process.
#include <algorithm>
#include <csignal>
#include <filesystem>
#include <string>
#include <thread>

#include "ChildProcess.h"
#include "SimTestSupport.h"

namespace quillbox::sim::test {
namespace {

using quillbox::test::ChildProcess;
using quillbox::test::EnvChanges;
using quillbox::test::RunProcess;
using quillbox::test::ScratchPrefix;

TEST_F(SimTest, ModuleIsOpenInOneProcessAtATimeAndKeepsItsOutputs) {
  const EnvChanges defaultBench = {{"QUILLBOX_BENCH", std::nullopt}};
  const std::string csv = ScratchPrefix() + "held.csv";
  {
    ChildProcess recording({QUILLBOX_CLI, "record", "-d", "600", "-o", csv}, defaultBench);
    // Rows reach the file once the module is open and recording.
    const auto rowsWritten = [&csv] {
      const std::string text = quillbox::test::ReadFile(csv);
      return std::count(text.begin(), text.end(), '\n') >= 2;
    };
    for (int i = 0; i < 1000 && !rowsWritten(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(rowsWritten());
    for (const auto access : {platform::NodeAccess::Exclusive, platform::NodeAccess::Query}) {
      EXPECT_EQ(platform::OpenDeviceNode(NodeName(0), access), -1);
      EXPECT_EQ(platform::LastNodeOpenError(), platform::NodeOpenError::Busy);
    }
    recording.Signal(SIGKILL);
    EXPECT_EQ(recording.Wait().signal, SIGKILL);
  }
  std::filesystem::remove(csv);
  std::filesystem::remove(csv + ".json");
  Device d = OpenUsb(0);
  // The packed record's field is copied: no reference may bind to it.
  ASSERT_NE(static_cast<int32_t>(d.Handle), -1) << "the killed process left the module held";
  E270Close(&d);

  ASSERT_EQ(RunProcess({QUILLBOX_CLI, "dio", "--write", "0x0F"}, defaultBench).exitCode, 0);
  d = OpenUsb(0);
  uint8_t out = 0, in = 0, aux = 0;
  ASSERT_EQ(E270GetDIO(&d, &out, &in, &aux), 0);
  EXPECT_EQ(out, 0x0F);
  E270Close(&d);

  // A runtime folder that cannot be used leaves a module of one process, not a broken one.
  EnvChanges noFolder = defaultBench;
  noFolder["QUILLBOX_RUNTIME_DIR"] = "/dev/null";
  EXPECT_EQ(RunProcess({QUILLBOX_CLI, "dio"}, noFolder).exitCode, 0);
}

}  // namespace
}  // namespace quillbox::sim::test
