#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/Clock.h"
#include "recording/Postgres.h"

namespace quillbox::recording {
namespace {

using SteadyClock = std::chrono::steady_clock;

// Codes in one transaction: large enough that a fast recording needs few round trips, small
// enough that a batch stays around a megabyte on the wire.
constexpr std::size_t kBatchCodes = std::size_t{128} * 1024;
// A batch leaves at the latest this long (of the recording's time) after its first frame was
// queued: one transaction a second for a slow recording instead of one a poll, which is what lets
// one server take many.
constexpr auto kShipEvery = std::chrono::seconds(1);
constexpr auto kFirstBackOff = std::chrono::milliseconds(500);
constexpr auto kLongestBackOff = std::chrono::seconds(30);

class Shipper final : public DatabaseSink {
 public:
  using Messages = std::function<void(const std::string&)>;

  Shipper(const std::string& connection, Messages say, std::size_t maxQueuedCodes);
  ~Shipper() override;
  Shipper(const Shipper&) = delete;
  Shipper& operator=(const Shipper&) = delete;

  bool Begin(const Sidecar& description, std::string& error) override;
  bool Write(std::span<const int16_t> codes, int64_t firstFrame, std::string& error) override;
  bool Sync(const Sidecar& description, bool describe, std::string& error) override;
  bool End(const Sidecar& description, std::string& error) override;
  int64_t Drain(double seconds) override;
  int64_t Lag() const override;

  // Frames queued for the shipper, and the state it shares with the recording's thread.
  struct Chunk {
    int64_t firstFrame = 0;
    std::vector<int16_t> codes;
  };
  struct Shared;

 private:
  void SayPending();

  std::shared_ptr<Shared> shared_;
  Messages say_;
  std::thread shipper_;
  bool begun_ = false, drained_ = false;
};

struct Shipper::Shared {
  std::string connection, where;
  std::size_t maxCodes = 0;
  mutable std::mutex m;
  std::condition_variable wake;      // the shipper: work, or stop
  std::condition_variable progress;  // Drain: a batch shipped, or the shipper gave up or ended

  // Set by the recording's thread.
  Sidecar description;  // as at Begin
  std::size_t width = 0;
  std::deque<Chunk> queue;
  std::size_t queuedCodes = 0;
  SteadyClock::time_point queuedSince;  // when the queue last became non-empty
  SteadyClock::duration shipEvery{};    // kShipEvery in real time
  int64_t recorded = 0;                 // frames handed to Write
  int64_t behindFrom = -1;              // the first frame not queued because the queue was full
  bool finalPending = false;            // End's state is still to be written
  std::string finalReason;
  int64_t finalFrames = 0;
  bool finalComplete = false;
  bool stop = false;

  // Set by the shipper.
  int64_t shipped = 0;       // frames the database confirmed
  int64_t lastShipped = -1;  // the last of them
  int64_t recordingId = -1;
  bool givenUp = false, exited = false;
  std::vector<std::string> messages;

  void Say(std::string message) {
    std::lock_guard lock(m);
    messages.push_back(std::move(message));
  }

  // Drops the queued frames up to `last`, which the database has; they count as shipped.
  void DropUpTo(int64_t last) {
    while (!queue.empty() && queue.front().firstFrame <= last) {
      Chunk& c = queue.front();
      const auto frames = static_cast<int64_t>(c.codes.size() / width);
      const int64_t drop = std::min(frames, last - c.firstFrame + 1);
      shipped += drop;
      queuedCodes -= static_cast<std::size_t>(drop) * width;
      if (drop == frames) {
        queue.pop_front();
      } else {
        c.codes.erase(c.codes.begin(), c.codes.begin() + static_cast<std::ptrdiff_t>(drop * width));
        c.firstFrame += drop;
      }
    }
    lastShipped = std::max(lastShipped, last);
  }
};

// The shipper: connects (again, with back-off), then sends the queue batch by batch.
void Ship(std::shared_ptr<Shipper::Shared> s) {
  std::unique_ptr<Database> db;
  Database::Row row;
  auto backOff = std::chrono::duration_cast<SteadyClock::duration>(kFirstBackOff);
  auto nextTry = SteadyClock::now();
  bool wasDown = false;
  std::string lastSaid;
  const auto failed = [&](const std::string& what) {
    db.reset();
    if (what != lastSaid) s->Say(s->where + ": " + what);
    lastSaid = what;
    wasDown = true;
    nextTry = SteadyClock::now() + backOff;
    backOff = std::min<SteadyClock::duration>(backOff * 2, kLongestBackOff);
  };
  // The database refuses this user's writes: said once, and nothing more is shipped.
  const auto denied = [&](const std::string& error) {
    s->Say(s->where + ": the user may not write the recording there (" + error +
           "); nothing is shipped");
    std::lock_guard lock(s->m);
    s->givenUp = true;
    s->progress.notify_all();
  };
  std::vector<int16_t> batch;
  for (;;) {
    int64_t first = -1;
    bool final = false;
    std::string finalReason;
    int64_t finalFrames = 0;
    bool finalComplete = false;
    {
      std::unique_lock lock(s->m);
      // Work: a full batch, the oldest frame a period old, the end, or stop.
      const auto work = [&] {
        return s->stop || s->finalPending || s->queuedCodes >= kBatchCodes ||
               (!s->queue.empty() && SteadyClock::now() >= s->queuedSince + s->shipEvery);
      };
      if (db)
        while (!work())
          if (s->queue.empty())
            s->wake.wait(lock);
          else
            s->wake.wait_until(lock, s->queuedSince + s->shipEvery);
      else
        s->wake.wait_until(lock, nextTry, [&] { return s->stop; });
      if (s->stop) break;
      if (db && !s->queue.empty()) {
        // One batch: whole chunks from the front that follow on each other, as many as fit.
        batch.clear();
        first = s->queue.front().firstFrame;
        for (const Shipper::Chunk& chunk : s->queue) {
          if (!batch.empty() && batch.size() + chunk.codes.size() > kBatchCodes) break;
          if (chunk.firstFrame != first + static_cast<int64_t>(batch.size() / s->width)) break;
          batch.insert(batch.end(), chunk.codes.begin(), chunk.codes.end());
        }
      } else if (db && s->finalPending) {
        final = true;
        finalReason = s->finalReason;
        finalFrames = s->finalFrames;
        finalComplete = s->finalComplete;
      }
    }
    std::string error;
    if (!db) {
      db = ConnectPostgres(s->connection, "quillbox record", error);
      if (!db) {
        failed("cannot connect (" + error +
               "); the recording goes on and is shipped once the database can be reached");
        continue;
      }
      std::string note;
      const Database::Schema schema = db->PrepareSchema(error, note);
      if (schema == Database::Schema::Refused) {
        s->Say(s->where + ": " + error);
        std::lock_guard lock(s->m);
        s->givenUp = true;
        s->progress.notify_all();
        break;
      }
      if (schema == Database::Schema::Failed || !db->OpenRecording(s->description, row, error)) {
        if (db->Denied()) {
          denied(error);
          break;
        }
        failed("cannot prepare the recording (" + error + "); trying again");
        continue;
      }
      if (!note.empty()) s->Say(s->where + ": " + note);
      {
        std::lock_guard lock(s->m);
        s->recordingId = row.id;
        s->DropUpTo(row.lastShipped);  // what a commit whose answer was lost already holds
        if (wasDown)
          s->messages.push_back(s->where + ": connected; shipping from frame " +
                                std::to_string(s->lastShipped + 1));
      }
      wasDown = false;
      lastSaid.clear();
      backOff = kFirstBackOff;
      continue;
    }
    if (final) {
      if (!db->Finish(row, finalReason, finalComplete, finalFrames, error)) {
        failed("the connection was lost (" + error + "); reconnecting");
        continue;
      }
      std::lock_guard lock(s->m);
      // A later End (the recording went on) queues its own state again.
      if (s->finalReason == finalReason && s->finalFrames == finalFrames) s->finalPending = false;
      s->progress.notify_all();
      continue;
    }
    if (first < 0) continue;
    const Database::Ship shipped = db->ShipFrames(row, s->description, batch, first, error);
    if (shipped == Database::Ship::Failed) {
      if (db->Denied()) {
        denied(error);
        break;
      }
      failed("the connection was lost (" + error + "); reconnecting, the recording goes on");
      continue;
    }
    std::lock_guard lock(s->m);
    s->DropUpTo(row.lastShipped);
    s->progress.notify_all();
  }
  db.reset();
  std::lock_guard lock(s->m);
  s->exited = true;
  s->progress.notify_all();
}

Shipper::Shipper(const std::string& connection, Messages say, std::size_t maxQueuedCodes)
    : shared_(std::make_shared<Shared>()), say_(std::move(say)) {
  shared_->where = PostgresWhere(connection);
  shared_->connection = connection;
  shared_->maxCodes = maxQueuedCodes;
  shared_->shipEvery = platform::ToReal(kShipEvery);
}

Shipper::~Shipper() {
  {
    std::lock_guard lock(shared_->m);
    shared_->stop = true;
  }
  shared_->wake.notify_all();
  if (shipper_.joinable()) shipper_.detach();  // it holds the shared state; it ends on its own
}

bool Shipper::Begin(const Sidecar& description, std::string& /*error*/) {
  if (begun_) return true;  // the same recording goes on after its module was away
  begun_ = true;
  {
    std::lock_guard lock(shared_->m);
    shared_->description = description;
    if (shared_->description.uid.empty()) shared_->description.uid = NewUid();
    shared_->width = description.columns.size();
  }
  shipper_ = std::thread(Ship, shared_);
  return true;
}

bool Shipper::Write(std::span<const int16_t> codes, int64_t firstFrame, std::string& /*error*/) {
  Shared& s = *shared_;
  if (s.width == 0 || codes.empty()) return true;
  const auto frames = static_cast<int64_t>(codes.size() / s.width);
  bool full = false, wake = false;
  {
    std::lock_guard lock(s.m);
    s.recorded += frames;
    if (s.behindFrom < 0 && s.queuedCodes + codes.size() > s.maxCodes) {
      s.behindFrom = firstFrame;
      full = true;
    }
    if (s.behindFrom < 0 && !s.givenUp) {
      if (s.queue.empty()) {
        s.queuedSince = SteadyClock::now();
        wake = true;  // to time the batch from here
      }
      s.queue.push_back({firstFrame, {codes.begin(), codes.end()}});
      s.queuedCodes += codes.size();
      wake = wake || s.queuedCodes >= kBatchCodes;
    }
  }
  if (full)
    s.Say(s.where + ": the shipping queue is full; frames from " + std::to_string(firstFrame) +
          " on are not shipped now (the local file has them; `quillbox upload` ships them later)");
  if (wake) s.wake.notify_one();
  SayPending();
  return true;
}

bool Shipper::Sync(const Sidecar& /*description*/, bool /*describe*/, std::string& /*error*/) {
  SayPending();
  return true;
}

bool Shipper::End(const Sidecar& description, std::string& /*error*/) {
  {
    std::lock_guard lock(shared_->m);
    shared_->finalPending = true;
    shared_->finalReason = description.stopReason;
    shared_->finalComplete = description.complete;
    shared_->finalFrames = shared_->recorded;
  }
  shared_->wake.notify_one();
  SayPending();
  return true;
}

int64_t Shipper::Lag() const {
  std::lock_guard lock(shared_->m);
  return shared_->recorded - shared_->shipped;
}

int64_t Shipper::Drain(double seconds) {
  if (drained_ || !begun_) return 0;
  drained_ = true;
  Shared& s = *shared_;
  int64_t unsent = 0, shipped = 0, last = -1, id = -1;
  bool givenUp = false;
  {
    std::unique_lock lock(s.m);
    s.progress.wait_for(lock, std::chrono::duration<double>(std::max(0.0, seconds)), [&] {
      return (s.queue.empty() && !s.finalPending) || s.givenUp || s.exited;
    });
    unsent = s.recorded - s.shipped;
    shipped = s.shipped;
    last = s.lastShipped;
    id = s.recordingId;
    givenUp = s.givenUp;
    s.stop = true;
  }
  s.wake.notify_all();
  SayPending();
  if (unsent == 0 && id >= 0) {
    say_(s.where + ": all " + std::to_string(shipped) + " frames shipped (recording " +
         std::to_string(id) + ")");
  } else if (!givenUp || unsent > 0) {
    say_(s.where + ": " + std::to_string(unsent) + " frames not shipped" +
         (last >= 0 ? " (the last shipped is frame " + std::to_string(last) + ")" : "") +
         "; the local file has every frame, `quillbox upload` ships the rest");
  }
  {
    // A shipper stuck in a call to a server that does not answer is left behind.
    std::unique_lock lock(s.m);
    s.progress.wait_for(lock, std::chrono::seconds(2), [&] { return s.exited; });
    if (s.exited && shipper_.joinable()) {
      lock.unlock();
      shipper_.join();
    }
  }
  return unsent;
}

void Shipper::SayPending() {
  std::vector<std::string> messages;
  {
    std::lock_guard lock(shared_->m);
    messages.swap(shared_->messages);
  }
  for (const std::string& m : messages) say_(m);
}

}  // namespace

std::unique_ptr<DatabaseSink> MakePostgresSink(const std::string& connection,
                                               std::function<void(const std::string&)> say,
                                               std::size_t maxQueuedCodes) {
  return std::make_unique<Shipper>(connection, std::move(say), maxQueuedCodes);
}

}  // namespace quillbox::recording
