#include "sim/BenchConfig.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <system_error>

namespace quillbox::sim {
namespace {

using nlohmann::json;

// Walks the JSON tree, checking every value and naming its key path on failure.
class Reader {
 public:
  explicit Reader(std::string source) : source_(std::move(source)) {}

  [[noreturn]] void Fail(const std::string& path, const std::string& what) const {
    throw BenchError(source_ + ": " + (path.empty() ? "" : path + ": ") + what);
  }

  static std::string Shown(const json& value) {
    std::string text = value.dump();
    if (text.size() > 40) text = text.substr(0, 37) + "...";
    return text;
  }

  void RequireObject(const json& value, const std::string& path) const {
    if (!value.is_object()) Fail(path, "must be an object, not " + Shown(value));
  }

  void CheckKeys(const json& object, const std::string& path,
                 std::initializer_list<const char*> known) const {
    for (const auto& item : object.items()) {
      const bool ok = std::any_of(known.begin(), known.end(),
                                  [&](const char* key) { return item.key() == key; });
      if (ok) continue;
      std::string list;
      for (const char* key : known) list += (list.empty() ? "" : ", ") + std::string(key);
      Fail(Join(path, item.key()), "unknown key (known keys: " + list + ")");
    }
  }

  static std::string Join(const std::string& path, const std::string& key) {
    return path.empty() ? key : path + "." + key;
  }

  int64_t Integer(const json& value, const std::string& path, int64_t lo, int64_t hi) const {
    const std::string range = std::to_string(lo) + ".." + std::to_string(hi);
    int64_t result = 0;
    if (value.is_number_unsigned()) {
      const uint64_t u = value.get<uint64_t>();
      if (u > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
        Fail(path, "must be an integer " + range + ", not " + Shown(value));
      result = static_cast<int64_t>(u);
    } else if (value.is_number_integer()) {
      result = value.get<int64_t>();
    } else {
      Fail(path, "must be an integer " + range + ", not " + Shown(value));
    }
    if (result < lo || result > hi)
      Fail(path, "must be an integer " + range + ", not " + Shown(value));
    return result;
  }

  uint64_t Unsigned64(const json& value, const std::string& path) const {
    if (value.is_number_unsigned()) return value.get<uint64_t>();
    if (value.is_number_integer() && value.get<int64_t>() >= 0)
      return static_cast<uint64_t>(value.get<int64_t>());
    Fail(path, "must be a non-negative integer, not " + Shown(value));
  }

  double Number(const json& value, const std::string& path) const {
    if (!value.is_number()) Fail(path, "must be a number, not " + Shown(value));
    const double result = value.get<double>();
    if (!std::isfinite(result)) Fail(path, "must be a finite number");
    return result;
  }

  double NumberIn(const json& value, const std::string& path, double lo, double hi) const {
    const double result = Number(value, path);
    if (result < lo || result > hi) {
      std::ostringstream range;
      range << lo << ".." << hi;
      Fail(path, "must be a number " + range.str() + ", not " + Shown(value));
    }
    return result;
  }

  bool Bool(const json& value, const std::string& path) const {
    if (!value.is_boolean()) Fail(path, "must be true or false, not " + Shown(value));
    return value.get<bool>();
  }

  // Printable ASCII of at most `maxLength` characters (the EEPROM field's width).
  std::string Text(const json& value, const std::string& path, size_t maxLength) const {
    if (!value.is_string()) Fail(path, "must be a text, not " + Shown(value));
    std::string text = value.get<std::string>();
    if (text.size() > maxLength)
      Fail(path,
           "must be at most " + std::to_string(maxLength) + " characters, not " + Shown(value));
    for (const char c : text) {
      const auto byte = static_cast<unsigned char>(c);
      if (byte < 0x20 || byte > 0x7E)
        Fail(path, "must hold printable ASCII characters only (use \"eeprom\" for raw bytes)");
    }
    return text;
  }

 private:
  std::string source_;
};

std::string Index(const std::string& path, size_t i) {
  return path + "[" + std::to_string(i) + "]";
}

// "usb0".."usb7" or "com1".."com8"; false for anything else.
bool ParseAttach(const std::string& text, bool& usb, int& number) {
  if (text.size() != 4) return false;
  const std::string kind = text.substr(0, 3);
  const char digit = text[3];
  if (kind == "usb" && digit >= '0' && digit <= '7') {
    usb = true;
    number = digit - '0';
    return true;
  }
  if (kind == "com" && digit >= '1' && digit <= '8') {
    usb = false;
    number = digit - '0';
    return true;
  }
  return false;
}

std::vector<uint8_t> ParseHex(const Reader& r, const json& value, const std::string& path) {
  if (!value.is_string()) r.Fail(path, "must be a text of hex bytes, not " + Reader::Shown(value));
  const std::string text = value.get<std::string>();
  std::vector<uint8_t> bytes;
  std::string digits;
  auto flush = [&]() {
    if (digits.empty()) return;
    if (digits.size() % 2 != 0)
      r.Fail(path, "hex bytes must have two digits each, \"" + digits + "\" has " +
                       std::to_string(digits.size()));
    for (size_t i = 0; i < digits.size(); i += 2)
      bytes.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    digits.clear();
  };
  for (const char c : text) {
    if (std::isxdigit(static_cast<unsigned char>(c))) {
      digits += c;
    } else if (c == ' ' || c == '\t' || c == '\n' || c == ',' || c == ':' || c == '-') {
      flush();
    } else {
      r.Fail(path, std::string("bad hex: unexpected character '") + c + "'");
    }
  }
  flush();
  if (bytes.size() > static_cast<size_t>(kPageSize))
    r.Fail(path, "a page holds at most 128 bytes, not " + std::to_string(bytes.size()));
  return bytes;
}

SlotConfig ParseSlot(const Reader& r, const json& value, const std::string& path, int slot) {
  SlotConfig s;
  s.serialNumber = static_cast<uint32_t>(1000 + slot);
  if (value.is_null()) return s;
  r.RequireObject(value, path);
  r.CheckKeys(value, path, {"type", "version", "serial"});
  if (!value.contains("type")) r.Fail(Reader::Join(path, "type"), "is missing");
  s.present = true;
  s.type = static_cast<uint8_t>(r.Integer(value["type"], Reader::Join(path, "type"), 0, 254));
  if (value.contains("version")) {
    const std::string p = Reader::Join(path, "version");
    const json& v = value["version"];
    if (!v.is_array() || v.size() != 2)
      r.Fail(p, "must be [major, minor], not " + Reader::Shown(v));
    s.versionMajor = static_cast<uint8_t>(r.Integer(v[0], Index(p, 0), 0, 255));
    s.versionMinor = static_cast<uint8_t>(r.Integer(v[1], Index(p, 1), 0, 255));
  }
  if (value.contains("serial")) {
    const std::string p = Reader::Join(path, "serial");
    const json& v = value["serial"];
    if (!v.is_array() || v.size() != 3)
      r.Fail(p, "must be [prefix number, \"letter\", number], not " + Reader::Shown(v));
    s.serialPrefix = static_cast<uint8_t>(r.Integer(v[0], Index(p, 0), 0, 255));
    const std::string letter = r.Text(v[1], Index(p, 1), 1);
    if (letter.size() != 1) r.Fail(Index(p, 1), "must be one character");
    s.serialLetter = static_cast<uint8_t>(letter[0]);
    s.serialNumber = static_cast<uint32_t>(r.Integer(v[2], Index(p, 2), 0, 0xFFFFFFFFLL));
  }
  return s;
}

Signal ParseSignal(const Reader& r, const json& value, const std::string& path) {
  r.RequireObject(value, path);
  if (!value.contains("kind")) r.Fail(Reader::Join(path, "kind"), "is missing");
  const json& kindValue = value["kind"];
  const std::string kind = kindValue.is_string() ? kindValue.get<std::string>() : "";
  Signal s;
  auto number = [&](const char* key, double& out) {
    if (value.contains(key)) out = r.Number(value[key], Reader::Join(path, key));
  };
  auto frequency = [&]() {
    if (value.contains("frequency"))
      s.frequency = r.NumberIn(value["frequency"], Reader::Join(path, "frequency"), 0.0, 1e6);
  };
  if (kind == "constant") {
    r.CheckKeys(value, path, {"kind", "value"});
    s.kind = SignalKind::Constant;
    number("value", s.value);
  } else if (kind == "sine") {
    r.CheckKeys(value, path, {"kind", "amplitude", "offset", "frequency", "phase"});
    s.kind = SignalKind::Sine;
    number("amplitude", s.amplitude);
    number("offset", s.offset);
    number("phase", s.phase);
    frequency();
  } else if (kind == "square") {
    r.CheckKeys(value, path, {"kind", "amplitude", "offset", "frequency", "phase", "duty"});
    s.kind = SignalKind::Square;
    number("amplitude", s.amplitude);
    number("offset", s.offset);
    number("phase", s.phase);
    frequency();
    if (value.contains("duty"))
      s.duty = r.NumberIn(value["duty"], Reader::Join(path, "duty"), 0.0, 1.0);
  } else if (kind == "noise") {
    r.CheckKeys(value, path, {"kind", "amplitude", "offset", "seed"});
    s.kind = SignalKind::Noise;
    number("amplitude", s.amplitude);
    number("offset", s.offset);
    if (value.contains("seed")) s.seed = r.Unsigned64(value["seed"], Reader::Join(path, "seed"));
  } else if (kind == "counter") {
    r.CheckKeys(value, path, {"kind", "start"});
    s.kind = SignalKind::Counter;
    if (value.contains("start"))
      s.start = static_cast<uint32_t>(
          r.Integer(value["start"], Reader::Join(path, "start"), 0, 0xFFFFFFFFLL));
  } else {
    r.Fail(Reader::Join(path, "kind"),
           "must be one of \"constant\", \"sine\", \"square\", \"noise\", \"counter\", not " +
               Reader::Shown(kindValue));
  }
  return s;
}

// "m0".."m15", "ad0".."ad7", "ttl0".."ttl7" -> the signal slot; null for anything else.
Signal* SignalSlot(ModuleConfig& m, const std::string& key) {
  auto number = [&](size_t prefix, int limit) -> int {
    const std::string digits = key.substr(prefix);
    if (digits.empty() || digits.size() > 2) return -1;
    if (digits.size() == 2 && digits[0] == '0') return -1;
    if (!std::all_of(digits.begin(), digits.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
      return -1;
    const int n = std::stoi(digits);
    return n < limit ? n : -1;
  };
  if (key.rfind("ttl", 0) == 0) {
    const int n = number(3, kTtlLines);
    return n < 0 ? nullptr : &m.ttl[static_cast<size_t>(n)];
  }
  if (key.rfind("ad", 0) == 0) {
    const int n = number(2, kDirectInputs);
    return n < 0 ? nullptr : &m.direct[static_cast<size_t>(n)];
  }
  if (key.rfind('m', 0) == 0) {
    const int n = number(1, kMezzanineChannels);
    return n < 0 ? nullptr : &m.mezzanine[static_cast<size_t>(n)];
  }
  return nullptr;
}

ModuleConfig ParseModule(const Reader& r, const json& value, const std::string& path) {
  r.RequireObject(value, path);
  r.CheckKeys(value, path,
              {"attach", "description", "name", "serial", "board", "revision", "processor",
               "clock_hz", "crc_ok", "eeprom", "slots", "signals", "dio", "faults"});
  ModuleConfig m;
  auto key = [&](const char* k) { return Reader::Join(path, k); };

  if (!value.contains("attach")) r.Fail(key("attach"), "is missing");
  m.attach = r.Text(value["attach"], key("attach"), 8);
  if (!ParseAttach(m.attach, m.usb, m.number))
    r.Fail(key("attach"), "must be \"usb0\"..\"usb7\" or \"com1\"..\"com8\", not " +
                              Reader::Shown(value["attach"]));
  if (value.contains("description")) r.Text(value["description"], key("description"), 1000);
  if (value.contains("name")) m.name = r.Text(value["name"], key("name"), 8);
  if (value.contains("serial")) m.serial = r.Text(value["serial"], key("serial"), 9);
  if (value.contains("board")) m.board = r.Text(value["board"], key("board"), 7);
  if (value.contains("processor")) m.processor = r.Text(value["processor"], key("processor"), 5);
  if (value.contains("revision"))
    m.revision = static_cast<uint8_t>(r.Integer(value["revision"], key("revision"), 0, 255));
  if (value.contains("clock_hz"))
    m.clockHz =
        static_cast<uint32_t>(r.Integer(value["clock_hz"], key("clock_hz"), 0, 0xFFFFFFFFLL));
  if (value.contains("crc_ok")) m.crcOk = r.Bool(value["crc_ok"], key("crc_ok"));

  if (value.contains("eeprom")) {
    const json& pages = value["eeprom"];
    r.RequireObject(pages, key("eeprom"));
    for (const auto& item : pages.items()) {
      const std::string p = Reader::Join(key("eeprom"), item.key());
      if (item.key().size() != 1 || item.key()[0] < '0' || item.key()[0] > '8')
        r.Fail(p, "page must be \"0\"..\"8\"");
      m.eepromOverrides[static_cast<size_t>(item.key()[0] - '0')] = ParseHex(r, item.value(), p);
    }
  }

  if (value.contains("slots")) {
    const json& slots = value["slots"];
    if (!slots.is_array()) r.Fail(key("slots"), "must be an array, not " + Reader::Shown(slots));
    if (slots.size() > static_cast<size_t>(kSlotCount))
      r.Fail(key("slots"), "has " + std::to_string(slots.size()) + " entries, at most 8");
    for (size_t i = 0; i < slots.size(); ++i)
      m.slots[i] = ParseSlot(r, slots[i], Index(key("slots"), i), static_cast<int>(i));
  }
  for (size_t i = 0; i < m.slots.size(); ++i)
    if (!m.slots[i].present) m.slots[i] = ParseSlot(r, json(), "", static_cast<int>(i));

  if (value.contains("signals")) {
    const json& signals = value["signals"];
    r.RequireObject(signals, key("signals"));
    for (const auto& item : signals.items()) {
      const std::string p = Reader::Join(key("signals"), item.key());
      Signal* target = SignalSlot(m, item.key());
      if (target == nullptr) r.Fail(p, "unknown input (known: m0..m15, ad0..ad7, ttl0..ttl7)");
      if (item.key()[0] == 'm') {
        const int channel = std::stoi(item.key().substr(1));
        if (!m.slots[static_cast<size_t>(channel / 2)].present)
          r.Fail(p, "slot " + std::to_string(channel / 2) + " is empty");
      }
      *target = ParseSignal(r, item.value(), p);
    }
  }

  if (value.contains("dio")) {
    const json& dio = value["dio"];
    const std::string p = key("dio");
    r.RequireObject(dio, p);
    r.CheckKeys(dio, p, {"inputs", "aux", "outputs_to_inputs"});
    if (dio.contains("inputs"))
      m.dioInputs =
          static_cast<uint8_t>(r.Integer(dio["inputs"], Reader::Join(p, "inputs"), 0, 255));
    if (dio.contains("aux"))
      m.dioAux = static_cast<uint8_t>(r.Integer(dio["aux"], Reader::Join(p, "aux"), 0, 255));
    if (dio.contains("outputs_to_inputs"))
      m.outputsToInputs = r.Bool(dio["outputs_to_inputs"], Reader::Join(p, "outputs_to_inputs"));
  }

  if (value.contains("faults")) {
    const json& faults = value["faults"];
    const std::string p = key("faults");
    r.RequireObject(faults, p);
    r.CheckKeys(faults, p,
                {"eeprom_unreadable_pages", "data_calls_fail", "dio_calls_fail", "unplug_after_s",
                 "replug_after_s"});
    if (faults.contains("eeprom_unreadable_pages")) {
      const std::string pp = Reader::Join(p, "eeprom_unreadable_pages");
      const json& pages = faults["eeprom_unreadable_pages"];
      if (!pages.is_array()) r.Fail(pp, "must be an array of pages 0..8");
      for (size_t i = 0; i < pages.size(); ++i)
        m.unreadablePages[static_cast<size_t>(r.Integer(pages[i], Index(pp, i), 0, 8))] = true;
    }
    if (faults.contains("data_calls_fail"))
      m.dataCallsFail = r.Bool(faults["data_calls_fail"], Reader::Join(p, "data_calls_fail"));
    if (faults.contains("dio_calls_fail"))
      m.dioCallsFail = r.Bool(faults["dio_calls_fail"], Reader::Join(p, "dio_calls_fail"));
    if (faults.contains("unplug_after_s") && !faults["unplug_after_s"].is_null())
      m.unplugAfterSeconds =
          r.NumberIn(faults["unplug_after_s"], Reader::Join(p, "unplug_after_s"), 0.0, 1e9);
    if (faults.contains("replug_after_s") && !faults["replug_after_s"].is_null())
      m.replugAfterSeconds =
          r.NumberIn(faults["replug_after_s"], Reader::Join(p, "replug_after_s"), 0.0, 1e9);
  }
  return m;
}

// Bench files are a few kilobytes; the limit keeps a wrong file from taking the memory.
constexpr size_t kMaxBenchFileBytes = size_t{4} << 20;

struct FileDescriptor {
  explicit FileDescriptor(int f) : fd(f) {}
  ~FileDescriptor() {
    if (fd >= 0) ::close(fd);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int fd;
};

BenchError CannotRead(const std::string& source, int error) {
  return BenchError(
      source + ": cannot be read: " + std::error_code(error, std::generic_category()).message());
}

BenchError TooLarge(const std::string& source, const std::string& size) {
  return BenchError(source + ": is too large (" + size +
                    " 4 MiB); a bench file is a small JSON text");
}

const char* FileKind(mode_t mode) {
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "a special file";
}

// Refuses anything but a regular file of at most kMaxBenchFileBytes.
void CheckFileKindAndSize(const struct stat& st, const std::string& source) {
  if (S_ISDIR(st.st_mode)) throw BenchError(source + ": is a directory");
  if (!S_ISREG(st.st_mode))
    throw BenchError(source + ": is " + FileKind(st.st_mode) + ", not a regular file");
  if (static_cast<uintmax_t>(st.st_size) > kMaxBenchFileBytes)
    throw TooLarge(source, std::to_string(st.st_size) + " bytes, more than");
}

}  // namespace

BenchConfig ParseBench(const std::string& text, const std::string& source) {
  const Reader r(source);
  json root;
  try {
    root = json::parse(text);
  } catch (const json::exception& e) {  // parse errors, and numbers too large for any type
    std::string what = e.what();
    if (const size_t at = what.find("] "); what.rfind("[json.", 0) == 0 && at != std::string::npos)
      what = what.substr(at + 2);
    r.Fail("", "not valid JSON: " + what);
  }
  if (!root.is_object()) r.Fail("", "must be a JSON object with the key \"modules\"");
  r.CheckKeys(root, "", {"modules", "description"});
  if (root.contains("description")) r.Text(root["description"], "description", 1000);
  if (!root.contains("modules")) r.Fail("modules", "is missing");
  const json& modules = root["modules"];
  if (!modules.is_array()) r.Fail("modules", "must be an array, not " + Reader::Shown(modules));

  BenchConfig bench;
  bench.textHash = 0xCBF29CE484222325u;
  for (const char c : text)
    bench.textHash = (bench.textHash ^ static_cast<uint8_t>(c)) * 0x100000001B3u;
  std::set<std::string> attached;
  for (size_t i = 0; i < modules.size(); ++i) {
    const std::string path = Index("modules", i);
    ModuleConfig m = ParseModule(r, modules[i], path);
    if (!attached.insert(m.attach).second)
      r.Fail(Reader::Join(path, "attach"), "\"" + m.attach + "\" is used by an earlier module");
    bench.modules.push_back(std::move(m));
  }
  return bench;
}

BenchConfig ReadBenchFile(const std::string& path) {
  const std::string source = "bench file " + path;
  // The type and size are checked before the file is opened, so that a device or a FIFO is never
  // opened at all, and again on the open file, which may be another one by then.
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) throw CannotRead(source, errno);
  CheckFileKindAndSize(st, source);
  // O_NONBLOCK: should a FIFO take the file's place meanwhile, the open does not wait for a writer.
  const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (file.fd < 0 || ::fstat(file.fd, &st) != 0) throw CannotRead(source, errno);
  CheckFileKindAndSize(st, source);

  // Up to one byte past the limit, so that a file that grew meanwhile is refused too.
  std::string text(static_cast<size_t>(st.st_size) + 1, '\0');
  size_t length = 0;
  for (;;) {
    if (length == text.size()) {
      if (length > kMaxBenchFileBytes) throw TooLarge(source, "more than");
      text.resize(std::min(2 * length, kMaxBenchFileBytes + 1));
    }
    const ssize_t n = ::read(file.fd, text.data() + length, text.size() - length);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw CannotRead(source, errno);
    if (n == 0) break;
    length += static_cast<size_t>(n);
  }
  text.resize(length);
  return ParseBench(text, source);
}

}  // namespace quillbox::sim
