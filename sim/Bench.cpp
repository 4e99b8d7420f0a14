// The control API of Bench.h over the running simulator.
#include "sim/Bench.h"

#include "sim/BenchConfig.h"
#include "sim/Simulator.h"

namespace quillbox::sim {

void LoadBench(const std::string& jsonText) { Simulator::Instance().Load(jsonText, "bench text"); }
void LoadBenchFile(const std::string& path) { Simulator::Instance().LoadFile(path); }
void LoadDefaultBench() { Simulator::Instance().Load(DefaultBenchText(), "built-in bench"); }
void ResetBench() { Simulator::Instance().LoadFromEnvironment(); }
std::string DefaultBenchJson() { return DefaultBenchText(); }
std::string LastBenchError() { return Simulator::Instance().Error(); }

ScopedBench::~ScopedBench() {
  try {
    ResetBench();
  } catch (const BenchError&) {
    // The environment's bench is refused: the library now serves no modules, as it would.
  }
}

std::vector<std::string> Attachments() { return Simulator::Instance().Attachments(); }
ModuleStatus Status(const std::string& attach) { return Simulator::Instance().Status(attach); }
void Unplug(const std::string& attach) { Simulator::Instance().Unplug(attach); }
void Replug(const std::string& attach) { Simulator::Instance().Replug(attach); }
void SetDigitalInputs(const std::string& attach, uint8_t value) {
  Simulator::Instance().SetInputs(attach, value);
}

}  // namespace quillbox::sim
