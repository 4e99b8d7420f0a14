// quillbox._core: the extension under the Python package. It reaches the driver only through the
// host contract (CreateObject, IADC3, IDIO) and the component's tools interface, as the quillbox
// command does; the package's Python side (quillbox/__init__.py) checks the arguments and builds
// the results. Recordings run through the recording engine the command uses, and are saved and
// loaded with its files' writer and reader.
//
// The component keeps one driver state per process, so one Driver (one opened module) exists at a
// time. Host calls of a Driver are serialised by its mutex, which is only ever taken with the GIL
// released and never held while the GIL is taken back. Waits for data release the GIL, last one
// block period of the module and look for signals between them, so Ctrl-C ends a recording
// within a block period.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/Clock.h"
#include "quillbox/CreateObject.h"
#include "quillbox/IADC3.h"
#include "quillbox/IDIO.h"
#include "quillbox/Tools.h"
#include "recording/DatabaseSink.h"
#include "recording/FileSink.h"
#include "recording/Plugins.h"
#include "recording/Reader.h"
#include "recording/Session.h"

namespace py = pybind11;

namespace quillbox::python {
namespace {

namespace fs = std::filesystem;

constexpr const char* kProgId = "Quillbox.E_270";

// What the component reports (a module not found, a refused start, a failed call): raised as
// quillbox.Error with the component's own text.
class ComponentError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// Sets or, for nullopt, removes an environment variable the component reads. Called with the GIL
// held and before the component's threads exist or while none of them reads the environment.
void SetEnv(const char* name, const std::optional<std::string>& value) {
  // NOLINTBEGIN(concurrency-mt-unsafe)
  if (value)
    setenv(name, value->c_str(), 1);
  else
    unsetenv(name);
  // NOLINTEND(concurrency-mt-unsafe)
}

struct Component {
  ITools* tools = nullptr;
  std::string bench;  // QUILLBOX_BENCH when the simulated bench was read, "" for the built-in one
};
Component g_component;
bool g_driverOpen = false;

std::string SameFile(const std::string& path) {
  std::error_code ec;
  const fs::path canonical = fs::canonical(path, ec);
  return ec ? path : canonical.string();
}

// The refusal of the bench file by the simulated vendor library, "" when there is none.
std::string BenchProblem() {
  using BenchErrorFn = const char* (*)();
  const auto fn = reinterpret_cast<BenchErrorFn>(ComponentSymbol(kProgId, "QuillboxBenchError"));
  const char* text = fn != nullptr ? fn() : nullptr;
  return text != nullptr ? text : "";
}

// Loads the component on first use, with QUILLBOX_BENCH set to `bench` when given. The simulated
// vendor library reads its bench once per process, so a later call may only name the same bench.
ITools& Load(const std::optional<std::string>& bench) {
  if (g_component.tools == nullptr) {
    if (bench) SetEnv("QUILLBOX_BENCH", *bench);
    const auto get = reinterpret_cast<ITools* (*)()>(ComponentSymbol(kProgId, "QuillboxTools"));
    ITools* tools = get != nullptr ? get() : nullptr;
    if (tools == nullptr) {
      const std::string path = FindComponent(kProgId);
      throw ComponentError(path.empty()
                               ? "the component Quillbox.adc was not found: name it with "
                                 "QUILLBOX_COMPONENT or register it with `quillbox register`"
                               : "the component " + path + " cannot be loaded");
    }
    g_component = {tools, Env("QUILLBOX_BENCH")};
  } else if (bench && SameFile(*bench) != SameFile(g_component.bench)) {
    throw py::value_error(
        "bench: the simulated bench is read once per process, and this process uses " +
        (g_component.bench.empty() ? std::string("the built-in bench") : g_component.bench) +
        "; open " + *bench + " from another process");
  }
  if (const std::string problem = platform::TimeScaleProblem(); !problem.empty())
    throw ComponentError(problem);
  if (const std::string problem = BenchProblem(); !problem.empty()) throw ComponentError(problem);
  return *g_component.tools;
}

std::string DevicesJson(const std::optional<std::string>& bench) {
  ITools& tools = Load(bench);
  py::gil_scoped_release release;
  return tools.DevicesJson();
}

// Frames a recording delivered that Python has not taken yet.
class PendingFrames : public recording::Sink {
 public:
  bool Begin(const recording::Sidecar& description, std::string& /*error*/) override {
    width_ = description.columns.size();
    return true;
  }
  bool Write(std::span<const int16_t> codes, int64_t /*firstFrame*/,
             std::string& /*error*/) override {
    codes_.insert(codes_.end(), codes.begin(), codes.end());
    return true;
  }
  bool End(const recording::Sidecar& /*description*/, std::string& /*error*/) override {
    return true;
  }
  // Moves up to `frames` frames into `rows`; returns how many.
  int64_t MoveTo(int16_t* rows, int64_t frames) {
    if (width_ == 0) return 0;
    const auto held = static_cast<int64_t>((codes_.size() - head_) / width_);
    const int64_t n = std::min(held, frames);
    const std::size_t values = static_cast<std::size_t>(n) * width_;
    std::copy_n(codes_.begin() + static_cast<std::ptrdiff_t>(head_), values, rows);
    head_ += values;
    if (head_ == codes_.size()) {
      codes_.clear();
      head_ = 0;
    }
    return n;
  }
  bool Empty() const { return head_ == codes_.size(); }

 private:
  std::size_t width_ = 0;
  std::vector<int16_t> codes_;
  std::size_t head_ = 0;
};

// A recording of the open module through the recording engine, and what it said.
struct Recording {
  Recording(IADC3& adc, IDIO& dio, ITools& tools)
      : session(adc, &dio, tools, [this](const std::string& m) { messages.push_back(m); }) {}
  std::vector<std::string> messages;
  PendingFrames pending;
  std::unique_ptr<recording::DatabaseSink> database;  // with `to`: the database's copy
  recording::Session session;
  std::size_t width = 0;
};

// One opened module: the driver object and the recording running on it.
class Driver {
 public:
  explicit Driver(const std::optional<std::string>& device) : tools_(Load(std::nullopt)) {
    if (g_driverOpen)
      throw ComponentError(
          "a module is already open in this process; close it before opening another");
    // The component chooses the module; without `device` it takes QUILLBOX_DEVICE.
    tools_.SetDeviceChoice(device.value_or(""), "device");
    std::string failure;
    {
      py::gil_scoped_release release;
      try {
        object_ = CreateObject(kProgId);
        adc_ = As<IADC3>(object_);
        dio_ = As<IDIO>(object_);
        if (!adc_ || !dio_) {
          failure = "the component's object has no IADC3 or IDIO interface";
        } else if (!adc_->Test()) {
          failure = adc_->LastError();
          if (failure.empty()) failure = "the module could not be opened";
          if (const std::string busy = tools_.BusyModules(); !busy.empty())
            failure += " (in use by another process: " + busy + ")";
        }
      } catch (const CreateObjectError& e) {
        failure = e.what();
      }
      if (!failure.empty()) Release();
    }
    if (!failure.empty()) throw ComponentError(failure);
    g_driverOpen = true;
  }
  ~Driver() {
    try {
      Close();
    } catch (...) {
    }
  }
  Driver(const Driver&) = delete;
  Driver& operator=(const Driver&) = delete;

  // Stops a running recording and releases the driver object (its settings are saved and the
  // module closed). Returns the settings store's trouble, "" when there was none.
  std::string Close() {
    if (!object_) return "";
    {
      py::gil_scoped_release release;
      std::lock_guard lock(mutex_);
      if (recording_) {
        recording_->session.RequestStop("closed");
        recording_->session.Finish();
        recording_.reset();
      }
      if (adc_->Busy()) adc_->StopRecord();
      Release();
    }
    g_driverOpen = false;
    return tools_.StoreProblem();
  }
  bool Closed() const { return !object_; }

  std::string InfoJson() {
    return Call([this] { return tools_.InfoJson(); });
  }

  // Names, units and scales of the logical channels.
  std::tuple<std::vector<std::string>, std::vector<std::string>, std::vector<float>> Channels() {
    return Call([this] {
      std::tuple<std::vector<std::string>, std::vector<std::string>, std::vector<float>> t;
      const int16_t count = adc_->ChannelsCount();
      for (int16_t c = 0; c < count; ++c) {
        std::get<0>(t).push_back(adc_->ChannelName(c));
        std::get<1>(t).push_back(adc_->ChannelUnitName(c));
        std::get<2>(t).push_back(adc_->ChannelUnitScale(c));
      }
      return t;
    });
  }
  std::vector<int16_t> ScanList() {
    return Call([this] { return adc_->InputChannels().values(); });
  }
  double Rate() {
    return Call([this] { return adc_->Rate(); });
  }
  double RateMax() {
    return Call([this] { return adc_->RateMax(); });
  }
  bool Busy() {
    return Call([this] { return adc_->Busy(); });
  }
  int32_t RingFrames() {
    return Call([this] { return adc_->InputSizeKadrs(); });
  }

  // Current codes of single channels; a failed vendor call is an error, not a value.
  std::vector<int16_t> Read(const std::vector<int16_t>& channels) {
    return Call([this, &channels] {
      if (auto problem = recording::CheckChannelsUsable(*adc_, channels))
        throw ComponentError(problem->message);
      std::vector<int16_t> codes;
      codes.reserve(channels.size());
      for (int16_t c : channels) {
        codes.push_back(adc_->GetChannel(c));
        Check("reading channel " + std::to_string(c));
      }
      return codes;
    });
  }

  int32_t Inputs() {
    return Call([this] {
      const int32_t value = dio_->DIValue();
      Check("reading the inputs");
      return value;
    });
  }
  int32_t Outputs() {
    return Call([this] { return dio_->DOValue(); });
  }
  void SetOutputs(int32_t value) {
    Call([this, value] {
      dio_->DOValue(value);
      Check("writing the outputs");
      return 0;
    });
  }
  std::tuple<std::string, int, int> DioLines() {
    return Call(
        [this] { return std::tuple(dio_->DIOName(), int{dio_->DIBits()}, int{dio_->DOBits()}); });
  }

  // Prepares and starts a recording through the recording engine. Returns the description
  // (JSON text) and the messages said on the way (a rate note). A wrong request raises
  // ValueError, one the module refuses quillbox.Error, and neither changes the driver.
  std::tuple<std::string, std::vector<std::string>> Begin(
      const std::optional<std::vector<int16_t>>& channels, std::optional<double> rate,
      std::optional<int64_t> frames, std::optional<double> seconds, bool raw,
      std::optional<int32_t> ring, const std::optional<std::string>& to) {
    recording::Request request;
    if (channels) request.channels = *channels;
    request.rate = rate;
    request.frames = frames;
    request.seconds = seconds;
    request.raw = raw;
    request.ring = ring;
    std::optional<recording::Problem> problem;
    std::string description;
    std::vector<std::string> messages;
    Call([&] {
      if (recording_ && !recording_->session.Finished())
        throw ComponentError("a recording is already running on this module");
      const recording::DatabasePlugin* postgres = nullptr;
      if (std::string error; to && (postgres = recording::LoadDatabasePlugin(error)) == nullptr)
        throw ComponentError(error);
      recording_ = std::make_unique<Recording>(*adc_, *dio_, tools_);
      problem = recording_->session.Prepare(request);
      if (!problem) {
        recording_->session.AddSink(recording_->pending);
        if (to) {
          Recording& r = *recording_;
          r.database =
              postgres->makeSink(*to, [&r](const std::string& m) { r.messages.push_back(m); });
          r.session.AddSink(*r.database);
        }
        problem = recording_->session.Start();
      }
      if (problem) {
        recording_.reset();
      } else {
        recording_->width = recording_->session.Description().columns.size();
        description = recording_->session.Description().Text();
        messages = std::exchange(recording_->messages, {});
      }
      return 0;
    });
    // Python's own name for the duration.
    if (problem && problem->field == "duration") problem->field = "seconds";
    if (problem && problem->usage) throw py::value_error(problem->Text());
    if (problem) throw ComponentError(problem->message);
    return {description, messages};
  }

  // Moves frames of the recording into out (frames x channels, from row `offset` on). Waits until
  // out is full, with `any` until some frames came, or until the recording ended (by its length,
  // a stall or a write error). Ctrl-C ends the recording as "SIGINT" and raises
  // KeyboardInterrupt; its frames stay to be taken.
  int64_t Take(py::array_t<int16_t> out, int64_t offset, bool any) {
    if (!object_) throw ComponentError("the module was closed during the recording");
    const std::size_t width = recording_ ? recording_->width : 0;
    if (out.ndim() != 2 || static_cast<std::size_t>(out.shape(1)) != width ||
        (out.flags() & py::array::c_style) == 0 || !out.writeable())
      throw py::value_error("out: a writable C-contiguous int16 array of " + std::to_string(width) +
                            " columns");
    const int64_t capacity = out.shape(0);
    if (offset < 0 || offset > capacity) throw py::value_error("offset outside out");
    int16_t* rows = out.mutable_data();
    int64_t taken = 0;
    for (;;) {
      bool ended = false;
      Call([&] {
        if (!recording_) throw ComponentError("no recording was started");
        Recording& r = *recording_;
        const auto move = [&] {
          taken += r.pending.MoveTo(rows + (offset + taken) * static_cast<int64_t>(width),
                                    capacity - offset - taken);
        };
        move();
        if (offset + taken < capacity && !(any && taken > 0)) {
          r.session.Poll(capacity - offset - taken);
          move();
        }
        ended = !r.session.Running() && r.pending.Empty();
        return 0;
      });
      if (offset + taken >= capacity || ended || (any && taken > 0)) break;
      {
        py::gil_scoped_release release;
        tools_.WaitForData(recording::Session::kWaitMs);
      }
      if (PyErr_CheckSignals() != 0) {
        py::error_already_set interrupt;
        takenBeforeInterrupt_ = taken;
        Call([this] {
          recording_->session.RequestStop("SIGINT");
          recording_->session.Finish();
          return 0;
        });
        throw interrupt;
      }
    }
    return taken;
  }

  // Frames the last take had moved when a signal interrupted it.
  int64_t TakenBeforeInterrupt() const { return takenBeforeInterrupt_; }

  // Ends the recording for `reason` (unless it ended already) and returns its final description
  // and the messages said since the start. A database copy gets at most `shipWait` seconds to
  // catch up.
  std::tuple<std::string, std::vector<std::string>> End(const std::string& reason,
                                                        double shipWait) {
    return Call([&] {
      if (!recording_) throw ComponentError("no recording was started");
      recording_->session.RequestStop(reason);
      recording_->session.Finish();
      if (recording_->database) recording_->database->Drain(shipWait);
      return std::tuple(recording_->session.Description().Text(),
                        std::exchange(recording_->messages, {}));
    });
  }

 private:
  // Runs host calls of the driver one at a time, without the GIL.
  template <class F>
  auto Call(F f) -> decltype(f()) {
    py::gil_scoped_release release;
    std::lock_guard lock(mutex_);
    if (!object_) throw py::value_error("the module is closed");
    return f();
  }

  // A vendor call behind the last single read or digital-I/O member that failed is an error.
  void Check(const std::string& what) {
    if (const std::string call = tools_.LastCallFailure(); !call.empty())
      throw ComponentError(what + " failed: " + call + " failed");
  }

  void Release() {
    adc_.reset();
    dio_.reset();
    object_.reset();
  }

  ITools& tools_;
  Object object_;
  std::shared_ptr<IADC3> adc_;
  std::shared_ptr<IDIO> dio_;
  std::mutex mutex_;
  std::unique_ptr<Recording> recording_;  // the last recording, until the next starts
  int64_t takenBeforeInterrupt_ = 0;
};

// Writes `codes` (frames x columns) as `quillbox record` would have: by the name, the CSV and its
// description or an HDF5 file.
void Save(const std::string& path, const std::string& descriptionText,
          const py::array_t<int16_t, py::array::c_style | py::array::forcecast>& codes,
          bool replace) {
  recording::Sidecar d;
  std::string error;
  if (!recording::Sidecar::Parse(descriptionText, d, error))
    throw py::value_error("the recording's description: " + error);
  if (codes.ndim() != 2 || static_cast<std::size_t>(codes.shape(1)) != d.columns.size())
    throw py::value_error("codes: one column per channel of the description");
  const auto format = recording::FormatOf(path, "", error);
  if (!format) throw py::value_error(error);
  const std::span<const int16_t> values(codes.data(), static_cast<std::size_t>(codes.size()));
  py::gil_scoped_release release;
  const std::unique_ptr<recording::FileSink> file = recording::MakeFileSink(path, {*format}, error);
  if (!file || !file->Open(replace, error)) throw ComponentError(error);
  recording::Sidecar begun = d;
  begun.complete = false;
  begun.stopReason = "recording";
  begun.error.reset();
  if (!file->Begin(begun, error) || !file->Write(values, 0, error) || !file->End(d, error))
    throw ComponentError(error);
}

// Reads a recording's CSV (and its description, when there): names, units, time, values
// (frames x columns, NaN for cells that are not numbers), the description as JSON ("" without
// one) and notes on what was repaired.
py::tuple LoadRecording(const std::string& path, const std::string& selection) {
  recording::RecordingData data;
  std::string error;
  std::vector<std::string> notes;
  recording::ReadResult result;
  {
    py::gil_scoped_release release;
    result = recording::ReadRecording(path, selection, data, error, notes);
  }
  if (result == recording::ReadResult::BadSelection) throw py::value_error(error);
  if (result != recording::ReadResult::Ok) throw ComponentError(error);
  const auto rows = static_cast<py::ssize_t>(data.time.size());
  const auto cols = static_cast<py::ssize_t>(data.values.size());
  py::array_t<double> time(rows);
  std::copy(data.time.begin(), data.time.end(), time.mutable_data());
  py::array_t<float> values({rows, cols});
  float* out = values.mutable_data();
  for (py::ssize_t c = 0; c < cols; ++c)
    for (py::ssize_t r = 0; r < rows; ++r) out[r * cols + c] = data.values[c][r];
  return py::make_tuple(data.names, data.units, time, values,
                        data.described ? data.description.Text() : std::string(), notes);
}

}  // namespace
}  // namespace quillbox::python

PYBIND11_MODULE(_core, m) {
  using quillbox::python::Driver;
  m.doc() = "The quillbox package's link to the E-270 driver component (use the quillbox package).";
  m.attr("__version__") = QUILLBOX_VERSION;
  py::register_exception<quillbox::python::ComponentError>(m, "Error");
  m.def(
      "load", [](const std::optional<std::string>& bench) { quillbox::python::Load(bench); },
      py::arg("bench") = py::none(),
      "Loads the component (once), with the simulated bench `bench` when given.");
  m.def("devices_json", &quillbox::python::DevicesJson, py::arg("bench") = py::none(),
        "The modules on USB as the component lists them (JSON text); loads the component.");
  m.def(
      "component_version", [] { return quillbox::python::Load(std::nullopt).ComponentVersion(); },
      "Version of the loaded component.");
  m.def("save", &quillbox::python::Save, py::arg("path"), py::arg("description"), py::arg("codes"),
        py::arg("replace"), "Writes a recording's files (CSV and description, or HDF5).");
  m.def("load_recording", &quillbox::python::LoadRecording, py::arg("path"), py::arg("selection"),
        "Reads a recording's CSV and description.");
  py::class_<Driver>(m, "Driver", "The driver object of one opened module.")
      .def(py::init<const std::optional<std::string>&>(), py::arg("device") = py::none())
      .def("close", &Driver::Close)
      .def_property_readonly("closed", &Driver::Closed)
      .def("info_json", &Driver::InfoJson)
      .def("channels", &Driver::Channels)
      .def("scan_list", &Driver::ScanList)
      .def("rate", &Driver::Rate)
      .def("rate_max", &Driver::RateMax)
      .def("busy", &Driver::Busy)
      .def("ring_frames", &Driver::RingFrames)
      .def("read", &Driver::Read)
      .def("inputs", &Driver::Inputs)
      .def("outputs", &Driver::Outputs)
      .def("set_outputs", &Driver::SetOutputs)
      .def("dio_lines", &Driver::DioLines)
      .def("begin", &Driver::Begin, py::arg("channels"), py::arg("rate"), py::arg("frames"),
           py::arg("seconds"), py::arg("raw"), py::arg("ring"), py::arg("to"))
      .def("take", &Driver::Take, py::arg("out").noconvert(), py::arg("offset"), py::arg("any"))
      .def("taken_before_interrupt", &Driver::TakenBeforeInterrupt)
      .def("end", &Driver::End, py::arg("reason"), py::arg("ship_wait"));
}
