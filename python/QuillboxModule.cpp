// quillbox._core: the extension under the Python package. It reaches the driver only through the
// host contract (CreateObject, IADC3, IDIO) and the component's tools interface, as the quillbox
// command does; the package's Python side (quillbox/__init__.py) checks the arguments and builds
// the results.
//
// The component keeps one driver state per process, so one Driver (one opened module) exists at a
// time. Host calls of a Driver are serialised by its mutex, which is only ever taken with the GIL
// released and never held while the GIL is taken back. Waits for data release the GIL, run in
// slices of at most 100 ms and look for signals between them, so Ctrl-C interrupts a recording
// within a slice.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "quillbox/CreateObject.h"
#include "quillbox/IADC3.h"
#include "quillbox/IDIO.h"
#include "quillbox/Tools.h"

namespace py = pybind11;

namespace quillbox::python {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

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

// QUILLBOX_TIME_SCALE read like the component's clock reads it: the package's own waits (poll
// period, stall limit) follow the module's accelerated clock.
double TimeScale() {
  const std::string text = Env("QUILLBOX_TIME_SCALE");
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  return (end != text.c_str() && value > 0.0 && value < 1e6) ? value : 1.0;
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
  if (const std::string problem = BenchProblem(); !problem.empty()) throw ComponentError(problem);
  return *g_component.tools;
}

std::string DevicesJson(const std::optional<std::string>& bench) {
  ITools& tools = Load(bench);
  py::gil_scoped_release release;
  return tools.DevicesJson();
}

// One opened module: the driver object and the recording running on it.
class Driver {
 public:
  explicit Driver(const std::optional<std::string>& device) : tools_(Load(std::nullopt)) {
    if (g_driverOpen)
      throw ComponentError(
          "a module is already open in this process; close it before opening another");
    // QUILLBOX_DEVICE chooses the module the open uses; the caller's value is back afterwards.
    const std::optional<std::string> before = std::getenv("QUILLBOX_DEVICE") != nullptr
                                                  ? std::optional(Env("QUILLBOX_DEVICE"))
                                                  : std::nullopt;
    if (device) SetEnv("QUILLBOX_DEVICE", device);
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
    if (device) SetEnv("QUILLBOX_DEVICE", before);
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

  // Starts a recording of the scan list at the rate (both as stored when not given) and returns
  // the rate the module delivers.
  double Start(const std::optional<std::vector<int16_t>>& channels, std::optional<double> rate,
               std::optional<int32_t> ring) {
    return Call([&] {
      if (adc_->Busy()) throw ComponentError("a recording is already running on this module");
      if (channels) {
        adc_->InputChannels(BoundedArray<int16_t>::FromVector(*channels));
        if (adc_->InputChannels().values() != *channels)
          throw ComponentError("the driver did not take the scan list of " +
                               std::to_string(channels->size()) + " entries");
      }
      // Rate Let stores a value above RateMax as RateMax, which would record slower than asked
      // without a word; the magnitude of a negative value is stored as it is, and the start then
      // refuses a rate above RateMax with the component's own text ("Reduce Sampling Rate!").
      if (rate) adc_->Rate(-static_cast<float>(*rate));
      if (ring) adc_->InputSizeData(*ring);
      if (!adc_->StartRecord()) throw ComponentError(adc_->LastError());
      width_ = adc_->InputChannels().size();
      rate_ = adc_->Rate();
      return rate_;
    });
  }

  void Stop() {
    Call([this] {
      if (adc_->Busy()) adc_->StopRecord();
      return 0;
    });
  }

  // Why the running recording's thread gets no data, "" when its calls succeed.
  std::string AcquisitionProblem() {
    return Call([this] { return tools_.AcquisitionProblem(); });
  }

  // Moves frames of the recording into out (frames x channels, from row `offset` on). Waits until
  // out is full, or with `any` until some frames came; returns early, with what it took, when no
  // frame arrives for 2 s of the module's clock (or three frame periods, if longer).
  int64_t Take(py::array_t<int16_t> out, int64_t offset, bool any) {
    if (out.ndim() != 2 || static_cast<std::size_t>(out.shape(1)) != width_ ||
        (out.flags() & py::array::c_style) == 0 || !out.writeable())
      throw py::value_error("out: a writable C-contiguous int16 array of " +
                            std::to_string(width_) + " columns");
    const int64_t capacity = out.shape(0);
    if (offset < 0 || offset > capacity) throw py::value_error("offset outside out");
    int16_t* rows = out.mutable_data();
    const double scale = TimeScale();
    const auto real = [scale](double moduleSeconds) {
      return std::chrono::duration_cast<Clock::duration>(
          std::chrono::duration<double>(moduleSeconds / scale));
    };
    // One block period of the module (a fifth of a second) between polls, as the CLI polls.
    const auto period = std::min<Clock::duration>(real(0.2), std::chrono::milliseconds(100));
    // At an accelerated clock a busy machine can hold the process off for longer than the module's
    // 2 s, so a quarter of a second of real time counts as a stall at the earliest.
    const auto stallAfter = std::max<Clock::duration>(
        real(std::max(2.0, 3.0 / std::max(rate_, 1e-9))), std::chrono::milliseconds(250));
    int64_t taken = 0;
    auto lastFrame = Clock::now();
    while (offset + taken < capacity) {
      int64_t got = 0;
      {
        py::gil_scoped_release release;
        {
          std::lock_guard lock(mutex_);
          if (!object_) throw ComponentError("the module was closed during the recording");
          got = Drain(rows + (offset + taken) * static_cast<int64_t>(width_),
                      capacity - offset - taken);
        }
        if (got == 0 && Clock::now() - lastFrame <= stallAfter) std::this_thread::sleep_for(period);
      }
      if (got > 0) {
        taken += got;
        lastFrame = Clock::now();
        if (any) break;
      } else if (Clock::now() - lastFrame > stallAfter) {
        break;
      }
      if (PyErr_CheckSignals() != 0) throw py::error_already_set();
    }
    return taken;
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

  // Takes what the driver holds, at most `frames` frames, into `rows`.
  int64_t Drain(int16_t* rows, int64_t frames) {
    const auto width = static_cast<int64_t>(width_);
    const int64_t chunk = std::numeric_limits<int32_t>::max() / width;
    int64_t taken = 0;
    while (taken < frames) {
      const int64_t want = std::min(chunk, frames - taken);
      auto size = static_cast<int32_t>(want * width);
      int32_t unread = 0;
      const int32_t got = adc_->GetData(rows[taken * width], size, unread);
      if (got <= 0) break;
      taken += got;
      if (got < want) break;
    }
    return taken;
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
  std::size_t width_ = 0;
  double rate_ = 0.0;
};

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
      .def("start", &Driver::Start, py::arg("channels"), py::arg("rate"), py::arg("ring"))
      .def("stop", &Driver::Stop)
      .def("acquisition_problem", &Driver::AcquisitionProblem)
      .def("take", &Driver::Take, py::arg("out").noconvert(), py::arg("offset"), py::arg("any"));
}
