#include "recording/Hdf5Sink.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <utility>

#include "recording/CsvRows.h"
#include "recording/OutputFile.h"
#include "recording/Session.h"

namespace quillbox::recording {
namespace {

using hdf5::Id;

constexpr int kDeflateLevel = 4;
// Room made sure of beyond a write's chunks: the chunk index grows by pages of up to ~56 KiB,
// and the library sets metadata space aside in small blocks.
constexpr uint64_t kMetadataRoom = uint64_t{128} * 1024;
constexpr uint64_t kChunkIndexBytes = 32;  // an index entry, with room to spare
// Attributes kept in the root group's header up to this many, so that a value rewritten while
// the file is read stays where it was.
constexpr unsigned kMaxCompactAttributes = 64;

bool Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

// `text` in `bytes` bytes, padded with NULs, cut before a character that does not fit whole.
std::string Fixed(const std::string& text, std::size_t bytes) {
  std::size_t size = std::min(text.size(), bytes);
  if (size < text.size())
    while (size > 0 && (static_cast<unsigned char>(text[size]) & 0xC0) == 0x80) --size;
  std::string out = text.substr(0, size);
  out.resize(bytes, '\0');
  return out;
}

Id TextType(std::size_t bytes) {
  Id type(H5Tcopy(H5T_C_S1));
  H5Tset_size(type.get(), bytes);
  H5Tset_cset(type.get(), H5T_CSET_UTF8);
  if (bytes != H5T_VARIABLE) H5Tset_strpad(type.get(), H5T_STR_NULLPAD);
  return type;
}

// The boolean type h5py reads as numpy's bool.
Id BoolType() {
  Id type(H5Tenum_create(H5T_NATIVE_INT8));
  const int8_t no = 0, yes = 1;
  H5Tenum_insert(type.get(), "FALSE", &no);
  H5Tenum_insert(type.get(), "TRUE", &yes);
  return type;
}

// The number as the description's JSON has it: the shortest decimal of the float.
double Decimal(float value) { return std::stod(FloatText(value)); }

// Creates (`create`) or overwrites the attributes of one object.
class Attributes {
 public:
  Attributes(hid_t object, bool create) : object_(object), create_(create) {}

  // `count` values, or one scalar for 0.
  bool Put(const char* name, hid_t fileType, hid_t memoryType, hsize_t count, const void* data) {
    Id attribute;
    if (create_) {
      const Id space(count == 0 ? H5Screate(H5S_SCALAR) : H5Screate_simple(1, &count, nullptr));
      attribute = Id(H5Acreate2(object_, name, fileType, space.get(), H5P_DEFAULT, H5P_DEFAULT));
    } else {
      attribute = Id(H5Aopen(object_, name, H5P_DEFAULT));
    }
    ok_ = ok_ && attribute && H5Awrite(attribute.get(), memoryType, data) >= 0;
    return ok_;
  }
  bool Texts(const char* name, const std::vector<std::string>& texts, hid_t type) {
    std::vector<const char*> pointers;
    pointers.reserve(texts.size());
    for (const std::string& t : texts) pointers.push_back(t.c_str());
    return Put(name, type, type, pointers.size(), pointers.data());
  }
  bool Numbers(const char* name, const std::vector<double>& values) {
    return Put(name, H5T_IEEE_F64LE, H5T_NATIVE_DOUBLE, values.size(), values.data());
  }
  bool Ok() const { return ok_; }

 private:
  hid_t object_;
  bool create_;
  bool ok_ = true;
};

}  // namespace

Hdf5Sink::Hdf5Sink(std::string path, bool compress) : path_(std::move(path)), compress_(compress) {}

Hdf5Sink::~Hdf5Sink() { CloseFile(); }

bool Hdf5Sink::Open(bool replace, std::string& error) {
  if (path_ == "-") {
    error = "an HDF5 recording cannot go to standard output: name a file (-o FILE.h5)";
    return false;
  }
  if (compress_) {
    const hdf5::QuietErrors quiet;
    if (H5Zfilter_avail(H5Z_FILTER_DEFLATE) <= 0 || H5Zfilter_avail(H5Z_FILTER_SHUFFLE) <= 0) {
      error = "this HDF5 library cannot compress (no gzip or shuffle filter)";
      return false;
    }
  }
  const std::string exists = path_ + " exists; choose another name or use --force to replace it";
  if (!replace && Exists(path_)) {
    error = exists;
    return false;
  }
  fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  created_ = fd_ >= 0;
  if (fd_ < 0 && errno == EEXIST) {
    if (!replace) {
      error = exists;
      return false;
    }
    fd_ = ::open(path_.c_str(), O_RDWR | O_CLOEXEC);
  }
  if (fd_ < 0) {
    error = "cannot write " + path_ + ": " + ErrorText(errno);
    return false;
  }
  struct stat st {};
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    error = path_ + " is not a regular file, which an HDF5 recording needs";
  } else if (!created_ && ::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    // Another program's HDF5 library holds the files it has open with flock.
    error = errno == EWOULDBLOCK ? path_ + " is open in another program"
                                 : "cannot lock " + path_ + ": " + ErrorText(errno);
  } else {
    ::flock(fd_, LOCK_UN);
    // The recording's own lock is an open-file-description lock, which readers' flock does not
    // meet: they open the file while it is written.
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (::fcntl(fd_, F_OFD_SETLK, &lock) == 0) return true;
    error = errno == EAGAIN || errno == EACCES ? path_ + " is being written by another recording"
                                               : "cannot lock " + path_ + ": " + ErrorText(errno);
  }
  Abandon();
  return false;
}

void Hdf5Sink::Abandon() {
  if (created_ && !begun_) ::unlink(path_.c_str());
  created_ = false;
  CloseFile();
}

void Hdf5Sink::CloseFile() {
  if (file_) {
    const hdf5::QuietErrors quiet;
    values_.Close();
    file_.Close();
  }
  if (fd_ >= 0) ::close(std::exchange(fd_, -1));
}

uint64_t Hdf5Sink::Bytes() const {
  struct stat st {};
  return fd_ >= 0 && ::fstat(fd_, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

bool Hdf5Sink::Begin(const Sidecar& description, std::string& error) {
  const hdf5::QuietErrors quiet;
  begun_ = true;
  width_ = description.columns.size();
  raw_ = description.raw;
  divisors_.clear();
  for (const RecordColumn& c : description.columns)
    divisors_.push_back(raw_ || !c.scaled ? 1.0 : static_cast<double>(c.scale));
  // One block period of frames per chunk: a poll brings whole blocks, so each chunk is written
  // (and compressed) once and never rewritten.
  chunkFrames_ = std::max<uint64_t>(
      1, static_cast<uint64_t>(std::floor(description.rate * Session::kPollMs / 1000.0)));
  chunkBytes_ = chunkFrames_ * width_ * (raw_ ? sizeof(int16_t) : sizeof(float));

  // The latest format, which SWMR needs; no library lock (the recording's own is held on fd_,
  // and the library would drop its lock when SWMR starts anyway).
  const Id access(H5Pcreate(H5P_FILE_ACCESS));
  const Id creation(H5Pcreate(H5P_FILE_CREATE));
  if (H5Pset_libver_bounds(access.get(), H5F_LIBVER_LATEST, H5F_LIBVER_LATEST) < 0 ||
      H5Pset_file_locking(access.get(), false, true) < 0 ||
      H5Pset_attr_phase_change(creation.get(), kMaxCompactAttributes, 0) < 0 ||
      H5Pset_attr_creation_order(creation.get(), H5P_CRT_ORDER_TRACKED | H5P_CRT_ORDER_INDEXED) < 0)
    return Broken(error);
  file_ = Id(H5Fcreate(path_.c_str(), H5F_ACC_TRUNC, creation.get(), access.get()));
  if (!file_) return Broken(error);
  // The attributes: a few numbers and two texts per column.
  if (!MakeRoom(kMetadataRoom + 256 * width_, error)) return false;
  if (!MakeValues(description) || !Describe(description, true) ||
      H5Fflush(file_.get(), H5F_SCOPE_LOCAL) < 0 || H5Fstart_swmr_write(file_.get()) < 0)
    return Broken(error);
  return true;
}

// The dataset "values" with its attributes.
bool Hdf5Sink::MakeValues(const Sidecar& description) {
  const hsize_t dims[2] = {0, width_}, most[2] = {H5S_UNLIMITED, width_};
  const hsize_t chunk[2] = {chunkFrames_, width_};
  const Id space(H5Screate_simple(2, dims, most));
  const Id layout(H5Pcreate(H5P_DATASET_CREATE));
  if (H5Pset_chunk(layout.get(), 2, chunk) < 0 ||
      H5Pset_attr_creation_order(layout.get(), H5P_CRT_ORDER_TRACKED) < 0 ||
      (compress_ &&
       (H5Pset_shuffle(layout.get()) < 0 || H5Pset_deflate(layout.get(), kDeflateLevel) < 0)))
    return false;
  values_ = Id(H5Dcreate2(file_.get(), hdf5::kValues, raw_ ? H5T_STD_I16LE : H5T_IEEE_F32LE,
                          space.get(), H5P_DEFAULT, layout.get(), H5P_DEFAULT));
  if (!values_) return false;
  std::vector<double> scales, offsets(width_, 0.0);
  for (const RecordColumn& c : description.columns) scales.push_back(Decimal(c.scale));
  Attributes attributes(values_.get(), true);
  attributes.Numbers("scale", scales);
  attributes.Numbers("offset", offsets);
  return attributes.Ok();
}

// The description as root attributes; `create` makes them all, else the fields that change are
// overwritten.
bool Hdf5Sink::Describe(const Sidecar& d, bool create) {
  Attributes root(file_.get(), create);
  const Id boolean = BoolType();
  if (create) {
    const Id text = TextType(H5T_VARIABLE);
    const char* uid = d.uid.c_str();
    const char* start = d.startUtc.c_str();
    const char* serial = d.serial.c_str();
    const double rate = Decimal(d.rate);
    const int8_t raw = d.raw ? 1 : 0;
    std::vector<int16_t> channels;
    std::vector<std::string> names, units;
    std::vector<double> scales;
    for (const RecordColumn& c : d.columns) {
      channels.push_back(c.channel);
      names.push_back(c.name);
      units.push_back(c.unit);
      scales.push_back(Decimal(c.scale));
    }
    root.Put("uid", text.get(), text.get(), 0, &uid);
    root.Put("start_utc", text.get(), text.get(), 0, &start);
    root.Put("rate_requested", H5T_IEEE_F64LE, H5T_NATIVE_DOUBLE, 0, &d.rateRequested);
    root.Put("rate", H5T_IEEE_F64LE, H5T_NATIVE_DOUBLE, 0, &rate);
    root.Put("channels", H5T_STD_I16LE, H5T_NATIVE_INT16, channels.size(), channels.data());
    root.Texts("names", names, text.get());
    root.Texts("units", units, text.get());
    root.Numbers("scales", scales);
    root.Put("serial", text.get(), text.get(), 0, &serial);
    root.Put("raw", boolean.get(), boolean.get(), 0, &raw);
    root.Put("first_frame", H5T_STD_I64LE, H5T_NATIVE_INT64, 0, &d.firstFrame);
    if (d.gap) {  // a segment that follows a gap has these three; others none
      const char* from = d.gap->fromUtc.c_str();
      const char* to = d.gap->toUtc.c_str();
      root.Put("gap_from_utc", text.get(), text.get(), 0, &from);
      root.Put("gap_to_utc", text.get(), text.get(), 0, &to);
      root.Put("gap_frames", H5T_STD_I64LE, H5T_NATIVE_INT64, 0, &d.gap->frames);
    }
  }
  const int8_t complete = d.complete ? 1 : 0;
  const std::string reason = Fixed(d.stopReason, hdf5::kStopReasonBytes);
  const std::string error = Fixed(d.error.value_or(""), hdf5::kErrorBytes);
  const Id reasonType = TextType(hdf5::kStopReasonBytes);
  const Id errorType = TextType(hdf5::kErrorBytes);
  root.Put("frames", H5T_STD_I64LE, H5T_NATIVE_INT64, 0, &d.frames);
  root.Put("frames_expected", H5T_STD_I64LE, H5T_NATIVE_INT64, 0, &d.framesExpected);
  root.Put("complete", boolean.get(), boolean.get(), 0, &complete);
  root.Put("stop_reason", reasonType.get(), reasonType.get(), 0, reason.data());
  root.Put("error", errorType.get(), errorType.get(), 0, error.data());
  return root.Ok();
}

bool Hdf5Sink::Write(std::span<const int16_t> codes, int64_t /*firstFrame*/, std::string& error) {
  if (failed_ || frozen_ || !values_) {
    error = "cannot write " + path_;
    return false;
  }
  const hdf5::QuietErrors quiet;
  const uint64_t frames = width_ == 0 ? 0 : codes.size() / width_;
  if (frames == 0) return true;
  // The chunks this write touches, one more for a partial chunk written again, and their index.
  const uint64_t chunks = (rows_ + frames - 1) / chunkFrames_ - rows_ / chunkFrames_ + 2;
  if (!MakeRoom(chunks * (chunkBytes_ + kChunkIndexBytes) + kMetadataRoom, error)) return false;

  const hsize_t extent[2] = {rows_ + frames, width_};
  const hsize_t start[2] = {rows_, 0}, count[2] = {frames, width_};
  if (H5Dset_extent(values_.get(), extent) < 0) return Broken(error);
  const Id space(H5Dget_space(values_.get()));
  const Id memory(H5Screate_simple(2, count, nullptr));
  if (H5Sselect_hyperslab(space.get(), H5S_SELECT_SET, start, nullptr, count, nullptr) < 0)
    return Broken(error);
  herr_t written = 0;
  if (raw_) {
    written = H5Dwrite(values_.get(), H5T_NATIVE_INT16, memory.get(), space.get(), H5P_DEFAULT,
                       codes.data());
  } else {
    floats_.resize(codes.size());
    for (std::size_t i = 0; i < codes.size(); i += width_)
      for (std::size_t j = 0; j < width_; ++j)
        floats_[i + j] = static_cast<float>(codes[i + j] / divisors_[j]);
    written = H5Dwrite(values_.get(), H5T_NATIVE_FLOAT, memory.get(), space.get(), H5P_DEFAULT,
                       floats_.data());
  }
  // The frames and the dataset's new extent reach the file now: readers and a killed run see
  // them.
  if (written < 0 || H5Fflush(file_.get(), H5F_SCOPE_LOCAL) < 0) return Broken(error);
  rows_ += frames;
  return true;
}

bool Hdf5Sink::Sync(const Sidecar& description, bool describe, std::string& error) {
  if (failed_ || frozen_ || !file_) {
    error = "cannot write " + path_;
    return false;
  }
  const hdf5::QuietErrors quiet;
  if (!MakeRoom(kMetadataRoom, error)) return false;
  if ((describe && !Describe(description, false)) || H5Fflush(file_.get(), H5F_SCOPE_LOCAL) < 0)
    return Broken(error);
  if (::fdatasync(fd_) != 0) return Refuse(errno, error);
  return true;
}

bool Hdf5Sink::End(const Sidecar& description, std::string& error) {
  if (!file_) {
    CloseFile();
    return true;
  }
  const hdf5::QuietErrors quiet;
  bool ok = true;
  // A refused write left the file whole: its description says how the recording ended.
  if (!frozen_ && values_ &&
      (!Describe(description, false) || H5Fflush(file_.get(), H5F_SCOPE_LOCAL) < 0))
    ok = Broken(error);
  values_.Close();
  if (!file_.Close() && ok) ok = Broken(error);
  if (ok && ::fdatasync(fd_) != 0) ok = Refuse(errno, error);
  // The blocks set aside beyond the end go back to the file system.
  struct stat st {};
  if (::fstat(fd_, &st) == 0 && reservedEnd_ > static_cast<uint64_t>(st.st_size))
    ::fallocate(fd_, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, st.st_size,
                static_cast<off_t>(reservedEnd_) - st.st_size);
  CloseFile();
  return ok;
}

// Makes sure the file can grow by `bytes` past what the library has allocated: within the
// file-size limit, and with the disk's blocks allocated (beyond the end, not changing its size).
bool Hdf5Sink::MakeRoom(uint64_t bytes, std::string& error) {
  hsize_t size = 0;
  if (H5Fget_filesize(file_.get(), &size) < 0) return Broken(error);
  const uint64_t end = size + bytes;
  struct rlimit limit {};
  if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
      end > limit.rlim_cur)
    return Refuse(EFBIG, error);
  if (end <= reservedEnd_) return true;
  int result = 0;
  do {
    result = ::fallocate(fd_, FALLOC_FL_KEEP_SIZE, static_cast<off_t>(reservedEnd_),
                         static_cast<off_t>(end - reservedEnd_));
  } while (result != 0 && errno == EINTR);
  // A file system that cannot allocate ahead is written without that certainty.
  if (result != 0 && errno != EOPNOTSUPP && errno != ENOSYS) return Refuse(errno, error);
  reservedEnd_ = end;
  return true;
}

bool Hdf5Sink::Refuse(int error, std::string& message) {
  failed_ = true;
  message = "cannot write " + path_ + ": " + ErrorText(error);
  return false;
}

// The library failed half-way through: what it still holds in memory could leave the file
// pointing past its end. Its descriptor is swapped for /dev/null, so nothing more reaches the
// file, which stays as the last flush left it (readable like a killed writer's), and the library
// can still close it cleanly.
bool Hdf5Sink::Broken(std::string& error) {
  error = "cannot write " + path_ + ": " + hdf5::LastError();
  failed_ = frozen_ = true;
  void* handle = nullptr;
  if (file_ && H5Fget_vfd_handle(file_.get(), H5P_DEFAULT, &handle) >= 0 && handle != nullptr) {
    const int nowhere = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (nowhere >= 0) {
      ::dup3(nowhere, *static_cast<int*>(handle), O_CLOEXEC);
      ::close(nowhere);
    }
  }
  return false;
}

}  // namespace quillbox::recording
