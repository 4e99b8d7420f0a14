// The recording engine with the component and its simulated module loaded in this process.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>
#include <utility>
#include <vector>

#include "platform/Clock.h"
#include "quillbox/CreateObject.h"
#include "quillbox/IADC3.h"
#include "quillbox/Tools.h"
#include "recording/CsvSink.h"
#include "recording/Session.h"

namespace quillbox::recording {
namespace {

// Notes the size of the file at `path` each time the session hands frames on: added after the
// file's own sink, it sees what the file held before the next frames were formatted.
class FileSizeProbe final : public Sink {
 public:
  explicit FileSizeProbe(std::string path) : path_(std::move(path)) {}
  bool Begin(const Sidecar& /*description*/, std::string& /*error*/) override { return true; }
  bool Write(std::span<const int16_t> codes, int64_t /*firstFrame*/,
             std::string& /*error*/) override {
    struct stat st {};
    ::stat(path_.c_str(), &st);
    writes.emplace_back(codes.size(), st.st_size);
    return true;
  }
  bool End(const Sidecar& /*description*/, std::string& /*error*/) override { return true; }

  std::vector<std::pair<std::size_t, off_t>> writes;  // values handed on, file size after them

 private:
  std::string path_;
};

TEST(Session, AWriterFarBehindPutsItsRowsInTheFileBlockByBlock) {
  platform::SetTimeScale(200.0);
  const Object object = CreateObject("Quillbox.E_270");
  const auto adc = As<IADC3>(object);
  const auto get =
      reinterpret_cast<ITools* (*)()>(ComponentSymbol("Quillbox.E_270", "QuillboxTools"));
  ASSERT_TRUE(adc && get != nullptr && adc->Test());
  // The sinks outlive the session, whose end still writes to them.
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("quillbox-behind-" + std::to_string(getpid()) + ".csv"))
                               .string();
  CsvSink csv(path);
  std::string error;
  ASSERT_TRUE(csv.Open(true, error)) << error;
  FileSizeProbe probe(path);
  Session session(*adc, nullptr, *get(), nullptr);
  Request request;
  for (int16_t c = 0; c < 32; ++c) request.channels.push_back(c);
  request.rate = 1000;
  request.frames = 40000;  // bounds the frames the end takes, however slow the build
  request.ring = 32 * 40001;
  ASSERT_FALSE(session.Prepare(request));
  session.AddSink(csv);
  session.AddSink(probe);
  ASSERT_FALSE(session.Start());

  // The module runs ahead of the writer by many polls' worth of frames.
  for (int i = 0; i < 10000 && adc->InputCountKadrs() < 30000; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_GE(adc->InputCountKadrs(), 30000);
  session.Poll();
  // Rows reach the file a bounded piece at a time, not all at the end of the catching up.
  ASSERT_GE(probe.writes.size(), 3U);
  for (std::size_t i = 0; i < probe.writes.size(); ++i) {
    EXPECT_LE(probe.writes[i].first, 32U * 4096U) << "write " << i;
    if (i > 0) {
      EXPECT_GT(probe.writes[i].second, probe.writes[i - 1].second) << "write " << i;
    }
  }
  session.RequestStop("closed");
  session.Finish();
  std::remove(path.c_str());
  std::remove((path + ".json").c_str());
}

}  // namespace
}  // namespace quillbox::recording
