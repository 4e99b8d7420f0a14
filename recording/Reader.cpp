#include "recording/Reader.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>

#include "recording/Hdf5File.h"

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

bool ParseNumber(std::string_view cell, double& value) {
  while (!cell.empty() && (cell.back() == ' ' || cell.back() == '\r')) cell.remove_suffix(1);
  while (!cell.empty() && cell.front() == ' ') cell.remove_prefix(1);
  if (!cell.empty() && cell.front() == '+') cell.remove_prefix(1);
  const auto [end, ec] = std::from_chars(cell.data(), cell.data() + cell.size(), value);
  return ec == std::errc() && end == cell.data() + cell.size() && !cell.empty();
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

// An HDF5 recording: its description is in the file, and the time follows from the rate.
ReadResult ReadHdf5(const std::string& path, const std::string& selection, RecordingData& out,
                    std::string& error, std::vector<std::string>& notes) {
  hdf5::Reader file;
  if (!file.Open(path, error, notes)) return ReadResult::Failed;
  const Sidecar& d = file.Description();
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
  if (!file.ReadColumns(keep, out.values, error)) return ReadResult::Failed;
  out.rate = d.rate;
  out.time.resize(static_cast<std::size_t>(file.Frames()));
  out.frame.resize(out.time.size());
  for (std::size_t f = 0; f < out.time.size(); ++f) {
    out.frame[f] = d.firstFrame + static_cast<int64_t>(f);
    out.time[f] = static_cast<double>(out.frame[f]) / out.rate;
  }
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
  if (out.time.empty()) {
    error = path + " holds no frame to plot";
    return ReadResult::Failed;
  }
  return ReadResult::Ok;
}

}  // namespace

ReadResult ReadRecording(const std::string& csv, const std::string& selection, RecordingData& out,
                         std::string& error, std::vector<std::string>& notes) {
  out = RecordingData{};
  if (hdf5::HasSignature(csv) || csv.ends_with(".h5") || csv.ends_with(".hdf5"))
    return ReadHdf5(csv, selection, out, error, notes);
  std::ifstream in(csv, std::ios::binary);
  if (!in) {
    error = "cannot read " + csv;
    return ReadResult::Failed;
  }
  // The whole file in one read: long recordings are parsed from memory without a copy per line.
  std::string text;
  in.seekg(0, std::ios::end);
  text.resize(static_cast<std::size_t>(std::max<std::streamoff>(0, in.tellg())));
  in.seekg(0);
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(std::max<std::streamsize>(0, in.gcount())));
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

  // The rows: cells are found once, then only the kept ones are parsed.
  const std::size_t estimate = std::count(text.begin(), text.end(), '\n');
  out.time.reserve(estimate);
  out.frame.reserve(estimate);
  for (auto& v : out.values) v.reserve(estimate);
  std::vector<std::string_view> cells;
  cells.reserve(heads.size());
  int64_t ragged = 0, timeless = 0, gaps = 0, firstRagged = 0, firstGap = 0;
  int64_t lineNumber = 1;
  for (std::size_t pos = headerEnd + 1; pos < text.size();) {
    const std::size_t end = std::min(text.find('\n', pos), text.size());
    std::string_view line(text.data() + pos, end - pos);
    pos = end + 1;
    ++lineNumber;
    if (line.empty() || line == "\r") continue;
    cells.clear();
    for (std::size_t start = 0;;) {
      const std::size_t comma = line.find(',', start);
      cells.push_back(line.substr(
          start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
      if (comma == std::string_view::npos) break;
      start = comma + 1;
    }
    if (cells.size() != heads.size()) {
      if (ragged++ == 0) firstRagged = lineNumber;
      continue;
    }
    double t = 0, frame = 0;
    if (!ParseNumber(cells[1], t) || !std::isfinite(t)) {
      ++timeless;
      continue;
    }
    out.time.push_back(t);
    // A frame cell that is not a number: the frame the time says.
    out.frame.push_back(ParseNumber(cells[0], frame) && std::abs(frame) < 9e18
                            ? static_cast<int64_t>(frame)
                            : std::llround(t * std::max(out.rate, 1e-9)));
    for (std::size_t k = 0; k < keep.size(); ++k) {
      double v = 0;
      if (!ParseNumber(cells[keep[k] + 2], v)) {
        v = std::numeric_limits<double>::quiet_NaN();
        if (gaps++ == 0) firstGap = lineNumber;
      }
      out.values[k].push_back(static_cast<float>(v));
    }
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
  if (out.time.empty()) {
    error = csv + " holds no row to plot";
    return ReadResult::Failed;
  }
  if (!(out.rate > 0) && out.time.size() > 1 && out.time.back() > out.time.front())
    out.rate = static_cast<double>(out.time.size() - 1) / (out.time.back() - out.time.front());
  return ReadResult::Ok;
}

}  // namespace quillbox::recording
