#include "recording/Reader.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <sstream>

#include "recording/FileSink.h"
#include "recording/Plugins.h"

namespace quillbox::recording {
namespace {

// The cells of one CSV line, with quoted cells unquoted.
std::vector<std::string> SplitCells(std::string_view line) {
  std::vector<std::string> cells(1);
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char ch = line[i];
    if (quoted) {
      if (ch == '"' && i + 1 < line.size() && line[i + 1] == '"') {
        cells.back() += '"';
        ++i;
      } else if (ch == '"') {
        quoted = false;
      } else {
        cells.back() += ch;
      }
    } else if (ch == '"') {
      quoted = true;
    } else if (ch == ',') {
      cells.emplace_back();
    } else {
      cells.back() += ch;
    }
  }
  return cells;
}

// "NAME (UNIT)" into its parts; a cell without a unit keeps it whole with an empty unit.
void SplitHeading(const std::string& cell, std::string& name, std::string& unit) {
  const std::size_t open = cell.rfind(" (");
  if (open != std::string::npos && cell.size() > open + 2 && cell.back() == ')') {
    name = cell.substr(0, open);
    unit = cell.substr(open + 2, cell.size() - open - 3);
  } else {
    name = cell;
    unit.clear();
  }
}

// A plain decimal of at most 15 digits ("-4.980469", "12"), as the recorder writes them, from
// `p`: its digits as an integer divided by a power of ten. Both are exact doubles, so the one
// rounding of the quotient gives the value from_chars gives, at a fraction of its time. Returns
// where its text ends, or null when `p` starts no such number.
const char* ParsePlain(const char* p, const char* end, double& value) {
  static constexpr double kPow10[] = {1,   1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                      1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  const bool negative = p != end && *p == '-';
  p += negative ? 1 : 0;
  uint64_t digits = 0;
  const auto run = [&] {
    const char* from = p;
    for (; p != end && *p >= '0' && *p <= '9'; ++p) digits = digits * 10 + (*p - '0');
    return static_cast<int>(p - from);
  };
  int count = run(), decimals = 0;
  if (p != end && *p == '.') {
    ++p;
    decimals = run();
    count += decimals;
  }
  if (count == 0 || count > 15) return nullptr;
  value = static_cast<double>(digits) / kPow10[decimals];
  if (negative) value = -value;
  return p;
}

bool ParseNumber(std::string_view cell, double& value) {
  while (!cell.empty() && (cell.back() == ' ' || cell.back() == '\r')) cell.remove_suffix(1);
  while (!cell.empty() && cell.front() == ' ') cell.remove_prefix(1);
  if (!cell.empty() && cell.front() == '+') cell.remove_prefix(1);
  const char* const end = cell.data() + cell.size();
  if (ParsePlain(cell.data(), end, value) == end && !cell.empty()) return true;
  const auto [stop, ec] = std::from_chars(cell.data(), end, value);
  return ec == std::errc() && stop == end && !cell.empty();
}

bool SameIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// FILE.json's description; a missing or unreadable one is said in a note.
void ReadDescription(const std::string& path, RecordingData& out, std::vector<int>& channels,
                     std::vector<std::string>& names, std::vector<std::string>& units,
                     std::vector<std::string>& notes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    notes.push_back(path + " is missing: names and units from the CSV header, no serial");
    return;
  }
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string error;
  if (!Sidecar::Parse(text, out.description, error)) {
    notes.push_back(path + " cannot be read (" + error + "): names and units from the CSV header");
    return;
  }
  const Sidecar& d = out.description;
  out.rate = d.rate;
  out.serial = d.serial;
  out.startUtc = d.startUtc;
  out.complete = d.complete;
  out.stopReason = d.stopReason;
  for (const RecordColumn& c : d.columns) {
    channels.push_back(c.channel);
    names.push_back(c.name);
    units.push_back(c.unit);
  }
  out.described = true;
}

// The columns `selection` names (see ReadRecording) among `names` and, when known, `channels`.
ReadResult SelectColumns(const std::string& path, const std::string& selection,
                         const std::vector<std::string>& names, const std::vector<int>& channels,
                         std::vector<std::size_t>& keep, std::string& error) {
  const std::size_t width = names.size();
  if (selection.empty()) {
    for (std::size_t c = 0; c < width; ++c) keep.push_back(c);
  } else {
    std::stringstream items(selection);
    for (std::string item; std::getline(items, item, ',');) {
      // A number, or a range of numbers "A-B" (names have hyphens too, but never digits alone
      // on both sides).
      const auto digits = [](const std::string& t) {
        return !t.empty() && t.size() < 10 && std::all_of(t.begin(), t.end(), ::isdigit);
      };
      const std::size_t dash = item.find('-');
      const bool range = dash != std::string::npos && digits(item.substr(0, dash)) &&
                         digits(item.substr(dash + 1));
      const bool number = range || digits(item);
      const long lo = number ? std::stol(item.substr(0, range ? dash : item.size())) : 0;
      const long hi = range ? std::stol(item.substr(dash + 1)) : lo;
      std::size_t matched = 0;
      for (std::size_t c = 0; c < width; ++c) {
        const long n = channels.empty() ? static_cast<long>(c) : channels[c];
        if (number ? (n >= lo && n <= hi) : SameIgnoringCase(names[c], item)) {
          ++matched;
          if (std::find(keep.begin(), keep.end(), c) == keep.end()) keep.push_back(c);
        }
        if (matched > 0 && !number) break;
      }
      if (matched == 0) {
        error = "--channels: ";
        error += path;
        error += " has no channel \"" + item + "\"; it has:";
        for (std::size_t c = 0; c < width; ++c)
          error += (c == 0 ? " " : ", ") + names[c] +
                   (channels.empty() ? "" : " (" + std::to_string(channels[c]) + ")");
        return ReadResult::BadSelection;
      }
    }
  }
  return ReadResult::Ok;
}

// The rows of a recording kept in `out`.
class KeepRows : public RowSink {
 public:
  explicit KeepRows(RecordingData& out) : out_(out) {}
  void Expect(std::size_t rows) override {
    out_.time.reserve(rows);
    out_.frame.reserve(rows);
    for (auto& v : out_.values) v.reserve(rows);
  }
  void Row(double time, int64_t frame, std::span<const float> values) override {
    out_.time.push_back(time);
    out_.frame.push_back(frame);
    for (std::size_t k = 0; k < values.size(); ++k) out_.values[k].push_back(values[k]);
  }

 private:
  RecordingData& out_;
};

// Appends up to `bytes` more of `in` to `text`; false at the end of the file.
bool ReadMore(std::ifstream& in, std::string& text, std::size_t bytes) {
  const std::size_t had = text.size();
  text.resize(had + bytes);
  in.read(text.data() + had, static_cast<std::streamsize>(bytes));
  text.resize(had + static_cast<std::size_t>(std::max<std::streamsize>(0, in.gcount())));
  return static_cast<bool>(in);
}

// The CSV file is read a chunk at a time: memory stays bounded whatever the file's length.
constexpr std::size_t kChunk = std::size_t{1} << 20;

ReadResult StreamCsv(const std::string& csv, const std::string& selection, RecordingData& out,
                     RowSink& sink, std::string& error, std::vector<std::string>& notes) {
  std::ifstream in(csv, std::ios::binary);
  if (!in) {
    error = "cannot read " + csv;
    return ReadResult::Failed;
  }
  in.seekg(0, std::ios::end);
  const auto fileSize = static_cast<std::size_t>(std::max<std::streamoff>(0, in.tellg()));
  in.seekg(0);
  std::string text;
  bool more = true;
  while (more && text.find('\n') == std::string::npos) more = ReadMore(in, text, kChunk);
  const std::size_t headerEnd = std::min(text.find('\n'), text.size());
  std::string_view header(text.data(), headerEnd);
  if (!header.empty() && header.back() == '\r') header.remove_suffix(1);
  const std::vector<std::string> heads = SplitCells(header);
  if (heads.size() < 3 || heads[0] != "frame" || heads[1] != "time_s") {
    error = csv + " is not a recording: its first line is not \"frame,time_s,NAME (UNIT),...\"";
    return ReadResult::Failed;
  }
  const std::size_t width = heads.size() - 2;

  std::vector<int> channels;
  std::vector<std::string> names(width), units(width), jsonNames, jsonUnits;
  for (std::size_t c = 0; c < width; ++c) SplitHeading(heads[c + 2], names[c], units[c]);
  ReadDescription(csv + ".json", out, channels, jsonNames, jsonUnits, notes);
  if (out.described) {
    if (jsonNames.size() == width && jsonUnits.size() == width) {
      names = jsonNames;
      units = jsonUnits;
    } else {
      notes.push_back(csv + ".json describes " + std::to_string(jsonNames.size()) +
                      " columns, the CSV has " + std::to_string(width) +
                      ": names and units from the CSV header");
    }
    if (channels.size() != width) channels.clear();
    if (!out.complete)
      notes.push_back(csv + " is an incomplete recording (" +
                      (out.stopReason.empty() ? std::string("no end recorded") : out.stopReason) +
                      "): plotting the rows it holds");
  }

  std::vector<std::size_t> keep;
  if (const ReadResult r = SelectColumns(csv, selection, names, channels, keep, error);
      r != ReadResult::Ok)
    return r;
  for (std::size_t c : keep) {
    out.names.push_back(names[c]);
    out.units.push_back(units[c]);
  }
  out.values.assign(keep.size(), {});

  // The number of rows, from the length of the first one.
  const std::size_t firstRow = text.find('\n', headerEnd + 1);
  sink.Expect(firstRow == std::string::npos
                  ? 0
                  : (fileSize - headerEnd) / std::max<std::size_t>(1, firstRow - headerEnd));

  // The rows, scanned once: the frame, the time and the kept cells are parsed where they start
  // (a plain number ends at its comma), the others are skipped to their comma.
  std::vector<int> slot(heads.size(), -1);  // a cell's place in `parsed`, -1: not read
  slot[0] = 0;
  slot[1] = 1;
  for (std::size_t k = 0; k < keep.size(); ++k) slot[keep[k] + 2] = static_cast<int>(k) + 2;
  std::vector<double> parsed(keep.size() + 2);
  std::vector<char> valid(keep.size() + 2);
  std::vector<float> values(keep.size());
  int64_t rows = 0, ragged = 0, timeless = 0, gaps = 0, firstRagged = 0, firstGap = 0;
  int64_t lineNumber = 1;
  double firstTime = 0, lastTime = 0;
  const auto row = [&](std::string_view line) {
    ++lineNumber;
    if (line.empty() || line == "\r") return;
    const char* const end = line.data() + line.size();
    const auto comma = [end](const char* from) {
      const void* found = std::memchr(from, ',', static_cast<std::size_t>(end - from));
      return found != nullptr ? static_cast<const char*>(found) : end;
    };
    std::size_t cells = 1;
    for (const char* p = line.data();; ++cells) {
      const int s = cells <= slot.size() ? slot[cells - 1] : -1;
      const char* stop = s >= 0 ? ParsePlain(p, end, parsed[s]) : nullptr;
      if (stop == nullptr || (stop != end && *stop != ',')) {
        stop = comma(p);
        if (s >= 0)
          valid[s] =
              ParseNumber(std::string_view(p, static_cast<std::size_t>(stop - p)), parsed[s]);
      } else if (s >= 0) {
        valid[s] = 1;
      }
      if (stop == end) break;
      p = stop + 1;
    }
    if (cells != heads.size()) {
      if (ragged++ == 0) firstRagged = lineNumber;
      return;
    }
    const double t = parsed[1];
    if (!valid[1] || !std::isfinite(t)) {
      ++timeless;
      return;
    }
    for (std::size_t k = 0; k < keep.size(); ++k) {
      values[k] = static_cast<float>(parsed[k + 2]);
      if (!valid[k + 2]) {
        values[k] = std::numeric_limits<float>::quiet_NaN();
        if (gaps++ == 0) firstGap = lineNumber;
      }
    }
    if (rows++ == 0) firstTime = t;
    lastTime = t;
    // A frame cell that is not a number: the frame the time says.
    sink.Row(t,
             valid[0] && std::abs(parsed[0]) < 9e18 ? static_cast<int64_t>(parsed[0])
                                                    : std::llround(t * std::max(out.rate, 1e-9)),
             values);
  };
  for (std::size_t pos = headerEnd + 1;;) {
    for (std::size_t end; (end = text.find('\n', pos)) != std::string::npos; pos = end + 1)
      row(std::string_view(text.data() + pos, end - pos));
    if (!more) {
      if (pos < text.size()) row(std::string_view(text.data() + pos, text.size() - pos));
      break;
    }
    text.erase(0, std::min(pos, text.size()));
    pos = 0;
    more = ReadMore(in, text, kChunk);
  }
  if (ragged > 0)
    notes.push_back(csv + ": left out " + std::to_string(ragged) +
                    " rows without one cell per column (the first on line " +
                    std::to_string(firstRagged) + ")");
  if (timeless > 0)
    notes.push_back(csv + ": left out " + std::to_string(timeless) + " rows without a time");
  if (gaps > 0)
    notes.push_back(csv + ": " + std::to_string(gaps) +
                    " cells are not numbers and are gaps in their traces (the first on line " +
                    std::to_string(firstGap) + ")");
  if (rows == 0) {
    error = csv + " holds no row to plot";
    return ReadResult::Failed;
  }
  if (!(out.rate > 0) && rows > 1 && lastTime > firstTime)
    out.rate = static_cast<double>(rows - 1) / (lastTime - firstTime);
  return ReadResult::Ok;
}

// An HDF5 recording's frames are read a hyperslab of this many bytes at a time. The library keeps
// track of every chunk a read touches, and a chunk is one poll's frames (a few hundred bytes):
// 1 MB reads spanned thousands, and a plot took a quarter more memory and 2.5 times the time.
constexpr std::size_t kHdf5Block = std::size_t{64} << 10;

// An HDF5 recording: its description is in the file, and the time follows from the rate. The
// frames are read a block at a time, and handed on row by row as the CSV's are.
ReadResult StreamHdf5(const std::string& path, const std::string& selection, RecordingData& out,
                      RowSink& sink, std::string& error, std::vector<std::string>& notes) {
  const Hdf5Plugin* hdf5 = LoadHdf5Plugin(error);
  if (hdf5 == nullptr) return ReadResult::Failed;
  const std::unique_ptr<Hdf5Recording> file = hdf5->open(path, error, notes);
  if (file == nullptr) return ReadResult::Failed;
  const Sidecar& d = file->Description();
  std::vector<int> channels;
  std::vector<std::string> names;
  for (const RecordColumn& c : d.columns) {
    channels.push_back(c.channel);
    names.push_back(c.name);
  }
  std::vector<std::size_t> keep;
  if (const ReadResult r = SelectColumns(path, selection, names, channels, keep, error);
      r != ReadResult::Ok)
    return r;
  for (std::size_t c : keep) {
    out.names.push_back(d.columns[c].name);
    out.units.push_back(d.columns[c].unit);
  }
  out.values.assign(keep.size(), {});
  out.rate = d.rate;
  out.serial = d.serial;
  out.startUtc = d.startUtc;
  out.complete = d.complete;
  out.stopReason = d.stopReason;
  out.described = true;
  out.description = d;
  if (!out.complete)
    notes.push_back(path + " is an incomplete recording (" +
                    (out.stopReason.empty() ? std::string("no end recorded") : out.stopReason) +
                    "): plotting the frames it holds");
  const int64_t frames = file->Frames();
  if (frames == 0) {
    error = path + " holds no frame to plot";
    return ReadResult::Failed;
  }
  sink.Expect(static_cast<std::size_t>(frames));
  const std::size_t width = names.size();
  const auto block =
      static_cast<int64_t>(std::max<std::size_t>(1, kHdf5Block / sizeof(float) / width));
  std::vector<float> buffer(static_cast<std::size_t>(std::min(block, frames)) * width);
  std::vector<float> values(keep.size());
  for (int64_t first = 0; first < frames; first += block) {
    const auto count = static_cast<std::size_t>(std::min(block, frames - first));
    if (!file->Read(first, std::span(buffer).first(count * width), error))
      return ReadResult::Failed;
    for (std::size_t f = 0; f < count; ++f) {
      const float* row = buffer.data() + f * width;
      for (std::size_t k = 0; k < keep.size(); ++k) values[k] = row[keep[k]];
      const int64_t frame = d.firstFrame + first + static_cast<int64_t>(f);
      sink.Row(static_cast<double>(frame) / out.rate, frame, values);
    }
  }
  return ReadResult::Ok;
}

bool IsHdf5(const std::string& path) {
  return HasHdf5Signature(path) || path.ends_with(".h5") || path.ends_with(".hdf5");
}

}  // namespace

ReadResult ReadRecording(const std::string& csv, const std::string& selection, RecordingData& out,
                         std::string& error, std::vector<std::string>& notes) {
  KeepRows keep(out);
  return StreamRecording(csv, selection, out, keep, error, notes);
}

ReadResult StreamRecording(const std::string& path, const std::string& selection,
                           RecordingData& out, RowSink& rows, std::string& error,
                           std::vector<std::string>& notes) {
  out = RecordingData{};
  return IsHdf5(path) ? StreamHdf5(path, selection, out, rows, error, notes)
                      : StreamCsv(path, selection, out, rows, error, notes);
}

}  // namespace quillbox::recording
