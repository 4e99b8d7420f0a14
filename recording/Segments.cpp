#include "recording/Segments.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "recording/OutputFile.h"

namespace quillbox::recording {
namespace {

std::string NameOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

Segments::Segments(std::string path, FileOptions options, SegmentPolicy policy, bool replace,
                   bool append)
    : path_(std::move(path)),
      options_(options),
      policy_(policy),
      replace_(replace),
      append_(append) {
  folder_ = FolderOf(path_);
  const std::string name = NameOf(path_);
  const auto dot = name.find_last_of('.');
  extension_ = dot == std::string::npos || dot == 0 ? "" : name.substr(dot);
  stem_ = path_.substr(0, path_.size() - extension_.size());
  indexPath_ = stem_ + ".index.json";
}

Segments::~Segments() = default;

std::string Segments::SegmentPath(std::size_t number) const {
  char suffix[24];
  std::snprintf(suffix, sizeof suffix, "-%06zu", number);
  return stem_ + suffix + extension_;
}

bool Segments::Open(std::string& error) {
  number_ = 1;
  const bool exists = ::access(indexPath_.c_str(), F_OK) == 0;
  if (exists && append_ && !replace_) {
    if (!ReadIndex(error)) return false;
  } else if (exists && !replace_) {
    error = indexPath_ +
            " exists; choose another name, --append to continue it or --force to replace it";
    return false;
  }
  return CanReplaceAtomically(indexPath_, error) && OpenSegment(error);
}

bool Segments::ReadIndex(std::string& error) {
  std::ifstream in(indexPath_, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto index = nlohmann::json::parse(text, nullptr, false);
  try {
    if (text.find('\0') != std::string::npos || !index.is_object()) throw std::runtime_error("");
    for (const auto& s : index.at("segments")) {
      Entry e;
      e.file = s.at("file").get<std::string>();
      e.firstFrame = s.at("first_frame").get<int64_t>();
      e.frames = s.at("frames").get<int64_t>();
      e.startUtc = s.at("start_utc").get<std::string>();
      e.stopReason = s.at("stop_reason").get<std::string>();
      if (s.contains("gap") && s["gap"].is_object())
        e.gap = Sidecar::Gap{s["gap"].value("from_utc", ""), s["gap"].value("to_utc", ""),
                             s["gap"].value("frames", int64_t{0})};
      // The next segment is numbered after the highest one (its number ends the stem).
      const auto dash = e.file.rfind('-');
      if (dash != std::string::npos)
        number_ = std::max<std::size_t>(number_,
                                        std::strtoull(e.file.c_str() + dash + 1, nullptr, 10) + 1);
      entries_.push_back(std::move(e));
    }
    deleted_ = index.value("deleted_segments", int64_t{0});
    startUtc_ = index.value("start_utc", "");
    uid_ = index.value("uid", "");
    appendedRate_ = index.value("rate", 0.0);
  } catch (const std::exception&) {
    error = indexPath_ + " is not an index of segments; choose another name or use --force";
    return false;
  }
  return true;
}

std::optional<std::pair<int64_t, std::optional<Sidecar::Gap>>> Segments::Continuation(
    double rate, const std::string& nowUtc, std::string& error) const {
  if (entries_.empty()) return std::pair{int64_t{0}, std::optional<Sidecar::Gap>{}};
  if (static_cast<float>(rate) != static_cast<float>(appendedRate_)) {
    error = indexPath_ + " records at " + FloatText(appendedRate_) + " Hz, not " + FloatText(rate) +
            " Hz; record at its rate or choose another name";
    return std::nullopt;
  }
  // Frames are numbered by time: the frames of the time since its last one are the gap.
  const Entry& last = entries_.back();
  const double lastEnd = UtcSeconds(last.startUtc) + static_cast<double>(last.frames) / rate;
  const int64_t end = last.firstFrame + last.frames;
  const int64_t first =
      end + std::max<int64_t>(0, std::llround((UtcSeconds(nowUtc) - lastEnd) * rate));
  return std::pair{first, std::optional<Sidecar::Gap>{Sidecar::Gap{
                              UtcPlus(last.startUtc, static_cast<double>(last.frames) / rate),
                              nowUtc, first - end}}};
}

void Segments::Abandon() {
  if (current_) current_->Abandon();
  current_.reset();
}

bool Segments::OpenSegment(std::string& error) {
  current_ = MakeFileSink(SegmentPath(number_), options_, error);
  if (!current_) return false;
  if (!current_->Open(replace_, error)) {
    current_.reset();
    return false;
  }
  full_ = false;
  return true;
}

Sidecar Segments::SegmentDescription(const Sidecar& session) const {
  const Entry& e = entries_.back();
  Sidecar d = session;
  d.firstFrame = e.firstFrame;
  d.startUtc = e.startUtc;
  d.frames = e.frames;
  d.framesExpected =
      std::max<int64_t>(0, session.framesExpected - (e.firstFrame - session.firstFrame));
  d.gap = e.gap;
  return d;
}

bool Segments::BeginSegment(int64_t firstFrame, std::string& error) {
  Entry e;
  e.file = NameOf(current_->Path());
  e.firstFrame = firstFrame;
  e.startUtc = UtcPlus(session_.startUtc,
                       static_cast<double>(firstFrame - session_.firstFrame) / session_.rate);
  e.gap = std::exchange(gap_, std::nullopt);
  if (e.gap && e.gap->toUtc.empty()) e.gap->toUtc = e.startUtc;
  entries_.push_back(std::move(e));
  if (!current_->Begin(SegmentDescription(session_), error)) return false;
  DeleteOldest();
  return WriteIndex(false, error);
}

bool Segments::CloseSegment(const Sidecar& description, const std::string& reason,
                            std::string& error) {
  Entry& e = entries_.back();
  e.stopReason = reason;
  Sidecar d = SegmentDescription(description);
  if (reason == "rotated") {
    // A boundary, not an end: this segment holds exactly the frames it was to hold.
    d.stopReason = reason;
    d.error.reset();
    d.framesExpected = d.frames;
  }
  d.complete = true;
  bool ok = current_->End(d, error);
  current_.reset();
  std::string indexError;
  if (!WriteIndex(false, indexError) && ok) {
    error = indexError;
    ok = false;
  }
  return ok;
}

bool Segments::Begin(const Sidecar& description, std::string& error) {
  session_ = description;
  if (startUtc_.empty()) startUtc_ = description.startUtc;
  if (uid_.empty()) uid_ = description.uid;
  perSegment_ = policy_.seconds > 0
                    ? std::max<int64_t>(1, std::llround(policy_.seconds * description.rate))
                    : 0;
  if (!current_) {  // a session that continues the recording after a gap
    ++number_;
    if (!OpenSegment(error)) return false;
  }
  return BeginSegment(description.firstFrame, error);
}

bool Segments::Write(std::span<const int16_t> codes, int64_t firstFrame, std::string& error) {
  const std::size_t width = session_.columns.size();
  if (width == 0) return true;
  const auto frames = static_cast<int64_t>(codes.size() / width);
  int64_t done = 0;
  while (done < frames) {
    if (current_ && full_ && !CloseSegment(session_, "rotated", error)) return false;
    if (!current_) {
      ++number_;
      if (!OpenSegment(error) || !BeginSegment(firstFrame + done, error)) return false;
    }
    Entry& e = entries_.back();
    int64_t take = frames - done;
    if (perSegment_ > 0) take = std::min(take, perSegment_ - e.frames);
    const auto part = codes.subspan(static_cast<std::size_t>(done) * width,
                                    static_cast<std::size_t>(take) * width);
    if (!current_->Write(part, firstFrame + done, error)) return false;
    e.frames += take;
    done += take;
    full_ = (perSegment_ > 0 && e.frames >= perSegment_) ||
            (policy_.bytes > 0 && current_->Bytes() >= policy_.bytes);
  }
  return true;
}

bool Segments::Sync(const Sidecar& description, bool describe, std::string& error) {
  session_ = description;
  return !current_ || current_->Sync(SegmentDescription(description), describe, error);
}

bool Segments::End(const Sidecar& description, std::string& error) {
  session_ = description;
  if (!current_) return WriteIndex(false, error);
  return CloseSegment(description, description.stopReason, error);
}

bool Segments::Finish(std::string& error) { return WriteIndex(true, error); }

void Segments::DeleteOldest() {
  if (policy_.keep == 0) return;
  while (entries_.size() > policy_.keep) {
    const std::string file = folder_ + "/" + entries_.front().file;
    ::unlink(file.c_str());
    ::unlink((file + ".json").c_str());
    entries_.erase(entries_.begin());
    ++deleted_;
  }
}

bool Segments::WriteIndex(bool complete, std::string& error) {
  using Json = nlohmann::ordered_json;
  Json list = Json::array();
  for (const Entry& e : entries_) {
    list.push_back({{"file", e.file},
                    {"first_frame", e.firstFrame},
                    {"frames", e.frames},
                    {"start_utc", e.startUtc},
                    {"stop_reason", e.stopReason},
                    {"gap", e.gap ? Json{{"from_utc", e.gap->fromUtc},
                                         {"to_utc", e.gap->toUtc},
                                         {"frames", e.gap->frames}}
                                  : Json(nullptr)}});
  }
  const Json index = {{"recording", NameOf(path_)}, {"uid", uid_},
                      {"start_utc", startUtc_},     {"rate", session_.rate},
                      {"segments", list},           {"deleted_segments", deleted_},
                      {"complete", complete}};
  return ReplaceFileAtomically(indexPath_, index.dump(2) + "\n", error);
}

}  // namespace quillbox::recording
