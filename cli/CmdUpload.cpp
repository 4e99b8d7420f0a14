// quillbox upload: ships local recordings (a CSV with its description, or HDF5) to a PostgreSQL
// database, or finishes shipping what `record --to` could not. It goes on after the last frame
// the database holds for the recording, so running it again, or while a recorder still ships,
// sends nothing twice.

#include <cmath>
#include <iostream>
#include <limits>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "recording/Database.h"
#include "recording/Plugins.h"
#include "recording/Reader.h"

namespace quillbox::cli {
namespace {

struct UploadOptions {
  std::vector<std::string> files;
  std::string to;
};

// Frames in one transaction.
constexpr std::size_t kBatchFrames = 4096;

// A value read back as the code it was written from; false for a gap (not a number).
bool CodeOf(float value, const recording::RecordColumn& column, bool raw, int16_t& code) {
  if (!std::isfinite(value)) return false;
  const double c = raw || !column.scaled ? value : static_cast<double>(value) * column.scale;
  if (!(c >= std::numeric_limits<int16_t>::min() - 0.5 &&
        c <= std::numeric_limits<int16_t>::max() + 0.5))
    return false;
  code = static_cast<int16_t>(std::lround(c));
  return true;
}

// Ships one file's frames after the database's last; kExitOk or kExitFailure with the reason
// said.
int UploadFile(recording::Database& db, const std::string& where, const std::string& path) {
  recording::RecordingData data;
  std::string error;
  std::vector<std::string> notes;
  if (recording::ReadRecording(path, "", data, error, notes) != recording::ReadResult::Ok) {
    PrintError(error);
    return kExitFailure;
  }
  for (const std::string& note : notes)
    if (note.find("incomplete recording") == std::string::npos)
      PrintMessage(Severity::Warning, note);
  if (!data.described) {
    PrintError(path + " has no description (" + path +
               ".json): without its scales and its recording's uid it cannot be uploaded");
    return kExitFailure;
  }
  recording::Sidecar d = data.description;
  // A recording written before recordings had a uid is known by its module and start.
  if (d.uid.empty()) d.uid = d.serial + "@" + d.startUtc;
  recording::Database::Row row;
  if (!db.OpenRecording(d, row, error)) {
    PrintError(where + ": " + error);
    return kExitFailure;
  }
  const std::size_t width = d.columns.size(), rows = data.frame.size();
  int64_t shipped = 0, there = 0, gaps = 0;
  std::vector<int16_t> batch;
  batch.reserve(kBatchFrames * width);
  for (std::size_t i = 0; i < rows;) {
    if (data.frame[i] <= row.lastShipped) {
      ++there, ++i;
      continue;
    }
    // Consecutive frames with a code in every cell, up to a batch.
    const int64_t first = data.frame[i];
    batch.clear();
    std::size_t n = 0;
    for (; i + n < rows && n < kBatchFrames && data.frame[i + n] == first + static_cast<int64_t>(n);
         ++n) {
      bool whole = true;
      for (std::size_t c = 0; c < width && whole; ++c) {
        int16_t code = 0;
        whole = CodeOf(data.values[c][i + n], d.columns[c], d.raw, code);
        batch.push_back(code);
      }
      if (!whole) {
        batch.resize(n * width);
        break;
      }
    }
    if (n == 0) {  // a damaged row: left out, as the reader said
      ++gaps, ++i;
      continue;
    }
    switch (db.ShipFrames(row, d, batch, first, error)) {
      case recording::Database::Ship::Done:
        shipped += static_cast<int64_t>(n);
        i += n;
        break;
      case recording::Database::Ship::Behind:  // another shipper got there first: skip on
        break;
      case recording::Database::Ship::Failed: {
        std::string message = where;
        message.append(": ").append(error).append(" (").append(std::to_string(shipped));
        message.append(" frames of ").append(path).append(" shipped; run upload again to go on)");
        PrintError(message);
        return kExitFailure;
      }
    }
  }
  // The end of the recording, when this file holds it.
  if (d.stopReason != "recording" && d.stopReason != "rotated" &&
      !db.Finish(row, d.stopReason, d.complete, -1, error)) {
    PrintError(where + ": " + error);
    return kExitFailure;
  }
  std::cout << path << ": " << shipped << " frames shipped to recording " << row.id << " in "
            << where;
  if (there > 0) std::cout << " (" << there << " were there already)";
  std::cout << "\n";
  if (gaps > 0)
    PrintMessage(Severity::Warning,
                 path + ": " + std::to_string(gaps) + " damaged rows were not shipped");
  return kExitOk;
}

int Upload(const UploadOptions& o) {
  std::string error, note;
  const recording::DatabasePlugin* postgres = recording::LoadDatabasePlugin(error);
  if (postgres == nullptr) {
    PrintError(error);
    return kExitFailure;
  }
  const std::string where = postgres->where(o.to);
  const auto db = postgres->connect(o.to, "quillbox upload", error);
  if (!db) {
    PrintError(where + ": cannot connect (" + error + ")");
    return kExitFailure;
  }
  if (db->PrepareSchema(error, note) != recording::Database::Schema::Ready) {
    PrintError(where + ": " + error);
    return kExitFailure;
  }
  if (!note.empty()) PrintMessage(Severity::Notice, where + ": " + note);
  int status = kExitOk;
  for (const std::string& file : o.files)
    if (UploadFile(*db, where, file) != kExitOk) status = kExitFailure;
  return status;
}

}  // namespace

void AddUploadCommand(CLI::App& app, Context& /*ctx*/, Action& run) {
  auto o = std::make_shared<UploadOptions>();
  CLI::App* cmd = app.add_subcommand(
      "upload",
      "Ship local recordings (CSV with its .json, or HDF5) to a PostgreSQL database, going on "
      "after the last frame it holds; give every segment of a rotated recording");
  cmd->add_option("files", o->files, "Recordings to ship, in order")->required();
  cmd->add_option("--to", o->to,
                  "The database: a libpq connection string or URI (a password from ~/.pgpass "
                  "or PGPASSWORD)")
      ->required()
      ->type_name("CONNECTION");
  cmd->callback([o, &run] { run = [o] { return Upload(*o); }; });
}

}  // namespace quillbox::cli
