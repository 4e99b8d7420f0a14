#include "recording/Hdf5File.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <utility>

namespace quillbox::recording::hdf5 {
namespace {

// The private property h5clear sets: open a file whose status flags say a writer has it open.
constexpr char kClearStatusFlags[] = "clear_status_flags";

herr_t KeepInnermost(unsigned n, const H5E_error2_t* error, void* data) {
  if (n == 0 && error->desc != nullptr) *static_cast<std::string*>(data) = error->desc;
  return 0;
}

// Root attributes, read leniently: a missing one leaves `out` as it was and says false.
bool ReadString(hid_t object, const char* name, std::string& out) {
  if (H5Aexists(object, name) <= 0) return false;
  const Id attribute(H5Aopen(object, name, H5P_DEFAULT));
  const Id type(H5Aget_type(attribute.get()));
  if (!type || H5Tget_class(type.get()) != H5T_STRING) return false;
  if (H5Tis_variable_str(type.get()) > 0) {
    char* text = nullptr;
    if (H5Aread(attribute.get(), type.get(), &text) < 0) return false;
    out = text != nullptr ? text : "";
    H5free_memory(text);
    return true;
  }
  std::string text(H5Tget_size(type.get()), '\0');
  if (H5Aread(attribute.get(), type.get(), text.data()) < 0) return false;
  text.resize(std::min(text.size(), std::strlen(text.c_str())));
  out = std::move(text);
  return true;
}

bool ReadStrings(hid_t object, const char* name, std::vector<std::string>& out) {
  if (H5Aexists(object, name) <= 0) return false;
  const Id attribute(H5Aopen(object, name, H5P_DEFAULT));
  const Id type(H5Aget_type(attribute.get()));
  const Id space(H5Aget_space(attribute.get()));
  if (!type || H5Tget_class(type.get()) != H5T_STRING) return false;
  const auto count =
      static_cast<std::size_t>(std::max<hssize_t>(0, H5Sget_simple_extent_npoints(space.get())));
  out.clear();
  if (H5Tis_variable_str(type.get()) > 0) {
    std::vector<char*> texts(count, nullptr);
    if (H5Aread(attribute.get(), type.get(), texts.data()) < 0) return false;
    for (char* text : texts) out.emplace_back(text != nullptr ? text : "");
    H5Dvlen_reclaim(type.get(), space.get(), H5P_DEFAULT, texts.data());
    return true;
  }
  const std::size_t size = H5Tget_size(type.get());
  std::vector<char> texts(count * size);
  if (H5Aread(attribute.get(), type.get(), texts.data()) < 0) return false;
  for (std::size_t i = 0; i < count; ++i) {
    const char* text = texts.data() + i * size;
    out.emplace_back(text, std::find(text, text + size, '\0'));
  }
  return true;
}

// Numbers, booleans (an enum, as h5py writes them) included.
bool ReadNumbers(hid_t object, const char* name, std::vector<double>& out) {
  if (H5Aexists(object, name) <= 0) return false;
  const Id attribute(H5Aopen(object, name, H5P_DEFAULT));
  const Id type(H5Aget_type(attribute.get()));
  const Id space(H5Aget_space(attribute.get()));
  const auto count =
      static_cast<std::size_t>(std::max<hssize_t>(0, H5Sget_simple_extent_npoints(space.get())));
  const H5T_class_t kind = H5Tget_class(type.get());
  out.assign(count, 0.0);
  if (kind == H5T_INTEGER || kind == H5T_FLOAT)
    return H5Aread(attribute.get(), H5T_NATIVE_DOUBLE, out.data()) >= 0;
  if (kind != H5T_ENUM) return false;
  const Id base(H5Tget_super(type.get()));
  const Id native(H5Tget_native_type(base.get(), H5T_DIR_ASCEND));
  const std::size_t size = H5Tget_size(native.get());
  if (size > sizeof(int64_t)) return false;
  std::vector<unsigned char> raw(count * size);
  if (H5Aread(attribute.get(), native.get(), raw.data()) < 0) return false;
  for (std::size_t i = 0; i < count; ++i) {
    int64_t value = 0;
    std::memcpy(&value, raw.data() + i * size, size);
    out[i] = value != 0 ? 1.0 : 0.0;
  }
  return true;
}

bool ReadNumber(hid_t object, const char* name, double& out) {
  std::vector<double> values;
  if (!ReadNumbers(object, name, values) || values.size() != 1) return false;
  out = values[0];
  return true;
}

}  // namespace

Id& Id::operator=(Id&& other) noexcept {
  if (this != &other) {
    Close();
    id_ = std::exchange(other.id_, -1);
  }
  return *this;
}

bool Id::Close() {
  const hid_t id = std::exchange(id_, -1);
  if (id < 0) return true;
  switch (H5Iget_type(id)) {
    case H5I_FILE:
      return H5Fclose(id) >= 0;
    case H5I_DATASET:
      return H5Dclose(id) >= 0;
    case H5I_GROUP:
      return H5Gclose(id) >= 0;
    case H5I_DATASPACE:
      return H5Sclose(id) >= 0;
    case H5I_DATATYPE:
      return H5Tclose(id) >= 0;
    case H5I_ATTR:
      return H5Aclose(id) >= 0;
    case H5I_GENPROP_LST:
      return H5Pclose(id) >= 0;
    default:
      return H5Idec_ref(id) >= 0;
  }
}

QuietErrors::QuietErrors() {
  H5Eget_auto2(H5E_DEFAULT, &function_, &data_);
  H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
}

QuietErrors::~QuietErrors() { H5Eset_auto2(H5E_DEFAULT, function_, data_); }

std::string LastError() {
  std::string text;
  H5Ewalk2(H5E_DEFAULT, H5E_WALK_UPWARD, KeepInnermost, &text);
  // A failed system call: "file write failed: ..., errno = 28, error message = 'No space left
  // on device', ...".
  const std::string said = "error message = '";
  if (const auto at = text.find(said); at != std::string::npos) {
    const auto start = at + said.size();
    return text.substr(start, text.find('\'', start) - start);
  }
  return text.empty() ? "the HDF5 library failed" : text;
}

bool Reader::Open(const std::string& path, std::string& error, std::vector<std::string>& notes) {
  const QuietErrors quiet;
  path_ = path;
  if (!HasHdf5Signature(path)) {
    std::ifstream in(path, std::ios::binary);
    error = !in ? "cannot read " + path
                : path + " is not an HDF5 file" +
                      (in.peek() == std::ifstream::traits_type::eof()
                           ? " (it is empty: its recording never started)"
                           : "");
    return false;
  }
  // Single-writer/multiple-reader access sees a file as its writer last flushed it, also when
  // the writer was killed.
  file_ = Id(H5Fopen(path.c_str(), H5F_ACC_RDONLY | H5F_ACC_SWMR_READ, H5P_DEFAULT));
  if (!file_) {
    // Flags that a writer left set when it was killed before that access began (or that a
    // writer without it sets): ignored, as h5clear would clear them, without changing the file.
    const std::string why = LastError();
    const Id access(H5Pcreate(H5P_FILE_ACCESS));
    hbool_t clear = 1;
    if (access && H5Pexist(access.get(), kClearStatusFlags) > 0 &&
        H5Pset(access.get(), kClearStatusFlags, &clear) >= 0)
      file_ = Id(H5Fopen(path.c_str(), H5F_ACC_RDONLY, access.get()));
    if (!file_) {
      error = "cannot read " + path + ": " + why;
      return false;
    }
    notes.push_back(path + " is marked as open by a writer (one that was killed, or one writing " +
                    "it without SWMR): reading it as it is");
  }
  const Id root(H5Gopen2(file_.get(), "/", H5P_DEFAULT));
  Sidecar& d = description_;
  std::vector<std::string> names, units;
  std::vector<double> channels, scales;
  double rate = 0;
  if (!ReadStrings(root.get(), "names", names) || !ReadStrings(root.get(), "units", units) ||
      !ReadNumber(root.get(), "rate", rate) || units.size() != names.size() || !(rate > 0)) {
    error = path + " is not a recording: it has no \"names\", \"units\" and \"rate\" attributes";
    return false;
  }
  d.rate = static_cast<float>(rate);
  d.rateRequested = rate;
  ReadNumber(root.get(), "rate_requested", d.rateRequested);
  ReadNumbers(root.get(), "channels", channels);
  ReadNumbers(root.get(), "scales", scales);
  if (channels.size() != names.size()) channels.clear();
  if (scales.size() != names.size()) scales.clear();
  for (std::size_t i = 0; i < names.size(); ++i) {
    RecordColumn c;
    c.channel = static_cast<int16_t>(channels.empty() ? static_cast<double>(i) : channels[i]);
    c.name = names[i];
    c.unit = units[i];
    c.scale = scales.empty() ? 1.0f : static_cast<float>(scales[i]);
    c.scaled = c.unit != "code" && std::isfinite(c.scale) && c.scale > 0;
    d.columns.push_back(std::move(c));
  }
  double number = 0;
  ReadString(root.get(), "uid", d.uid);
  ReadString(root.get(), "start_utc", d.startUtc);
  ReadString(root.get(), "serial", d.serial);
  if (ReadNumber(root.get(), "raw", number)) d.raw = number != 0;
  if (ReadNumber(root.get(), "first_frame", number)) d.firstFrame = static_cast<int64_t>(number);
  if (Sidecar::Gap gap; ReadString(root.get(), "gap_from_utc", gap.fromUtc) &&
                        ReadString(root.get(), "gap_to_utc", gap.toUtc) &&
                        ReadNumber(root.get(), "gap_frames", number)) {
    gap.frames = static_cast<int64_t>(number);
    d.gap = gap;
  }
  if (ReadNumber(root.get(), "frames", number)) d.frames = static_cast<int64_t>(number);
  if (ReadNumber(root.get(), "frames_expected", number))
    d.framesExpected = static_cast<int64_t>(number);
  if (ReadNumber(root.get(), "complete", number)) d.complete = number != 0;
  d.stopReason.clear();
  ReadString(root.get(), "stop_reason", d.stopReason);
  if (std::string text; ReadString(root.get(), "error", text) && !text.empty()) d.error = text;

  values_ = Id(H5Dopen2(file_.get(), kValues, H5P_DEFAULT));
  const Id space(values_ ? H5Dget_space(values_.get()) : -1);
  hsize_t dims[2] = {0, 0};
  if (!space || H5Sget_simple_extent_ndims(space.get()) != 2 ||
      H5Sget_simple_extent_dims(space.get(), dims, nullptr) < 0 || dims[1] != names.size()) {
    error = path + " is not a recording: it has no dataset \"values\" of " +
            std::to_string(names.size()) + " columns";
    return false;
  }
  frames_ = static_cast<int64_t>(dims[0]);
  return true;
}

bool Reader::Read(int64_t first, std::span<float> out, std::string& error) const {
  const QuietErrors quiet;
  const hsize_t width = description_.columns.size();
  const hsize_t count[2] = {out.size() / std::max<hsize_t>(1, width), width};
  const hsize_t start[2] = {static_cast<hsize_t>(first), 0};
  if (count[0] == 0) return true;
  const Id space(H5Dget_space(values_.get()));
  const Id memory(H5Screate_simple(2, count, nullptr));
  if (H5Sselect_hyperslab(space.get(), H5S_SELECT_SET, start, nullptr, count, nullptr) < 0 ||
      H5Dread(values_.get(), H5T_NATIVE_FLOAT, memory.get(), space.get(), H5P_DEFAULT, out.data()) <
          0) {
    error = "cannot read " + path_ + ": " + LastError();
    return false;
  }
  return true;
}

}  // namespace quillbox::recording::hdf5
