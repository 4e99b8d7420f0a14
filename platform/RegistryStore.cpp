// The registry's SQLite store: the registry functions of platform/Registry.h over one database
// file per user. Built as its own library, libquillbox_registry.so, which the platform library
// loads on the first registry call (platform/Registry.cpp), so that a process that never uses
// the registry never maps SQLite. Everything is reached through the one exported table.

#include "platform/RegistryBackend.h"

#include <fcntl.h>
#include <pthread.h>
#include <pwd.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <vector>

namespace quillbox::platform::store {
namespace {

// Marks a database as ours ("QBOX"); a database with another mark is never written.
constexpr int32_t kApplicationId = 0x51424F58;
constexpr int kSchemaVersion = 1;
// Longest wait of one call for a lock that another process holds. When it runs out, the process
// gives the store up, so a locked store costs one such wait in all.
constexpr auto kLockWait = std::chrono::seconds(5);
constexpr std::size_t kMaxKeyName = 255;
constexpr std::size_t kMaxValueName = 16383;
constexpr int kMaxDepth = 512;
constexpr HKEY kFirstHandle = 0x100;

// The roots kept in the store, with the row ids they have there.
std::optional<int64_t> RootRow(HKEY hKey) {
  switch (hKey) {
    case HKEY_CLASSES_ROOT:
      return 1;
    case HKEY_CURRENT_USER:
      return 2;
    case HKEY_LOCAL_MACHINE:
      return 3;
    case HKEY_USERS:
      return 4;
    case HKEY_CURRENT_CONFIG:
      return 6;
    default:
      return std::nullopt;
  }
}
constexpr int64_t kLastRootRow = 6;
bool IsPredefined(HKEY hKey) { return hKey >= 0x80000000u && hKey <= 0x80000006u; }

// Upper-case form used to compare names: ASCII letters and the letters of Windows-1252, whose
// UTF-8 forms are C3 A0..C3 BE (à..þ, not ÷), C3 BF (ÿ), C5 93 (œ), C5 A1 (š) and C5 BE (ž).
// Other bytes are kept, so any byte string has exactly one folded form.
std::string Fold(std::string_view name) {
  std::string out;
  out.reserve(name.size() + 1);
  for (std::size_t i = 0; i < name.size(); ++i) {
    const auto c = static_cast<unsigned char>(name[i]);
    if (c >= 'a' && c <= 'z') {
      out.push_back(static_cast<char>(c - 32));
      continue;
    }
    if ((c == 0xC3 || c == 0xC5) && i + 1 < name.size()) {
      const auto d = static_cast<unsigned char>(name[i + 1]);
      if (c == 0xC3 && d >= 0xA0 && d <= 0xBE && d != 0xB7) {
        out.push_back(static_cast<char>(c));
        out.push_back(static_cast<char>(d - 0x20));
        ++i;
        continue;
      }
      if (c == 0xC3 && d == 0xBF) {  // ÿ -> Ÿ (U+0178)
        out.append("\xC5\xB8");
        ++i;
        continue;
      }
      if (c == 0xC5 && (d == 0x93 || d == 0xA1 || d == 0xBE)) {
        out.push_back(static_cast<char>(c));
        out.push_back(static_cast<char>(d - 1));
        ++i;
        continue;
      }
    }
    out.push_back(static_cast<char>(c));
  }
  return out;
}

// Splits a sub-key path at "\". Trailing "\"s are dropped (paths built by joining end so); a
// leading one or an empty component is a bad path name, an over-long component an invalid
// parameter.
LONG SplitPath(const char* path, std::vector<std::string>& parts) {
  parts.clear();
  if (path == nullptr || *path == '\0') return ERROR_SUCCESS;
  std::string_view rest(path);
  if (rest.front() == '\\') return ERROR_BAD_PATHNAME;
  while (rest.back() == '\\') rest.remove_suffix(1);
  while (true) {
    const std::size_t cut = rest.find('\\');
    std::string_view part = rest.substr(0, cut);
    if (part.empty()) return ERROR_BAD_PATHNAME;
    if (part.size() > kMaxKeyName) return ERROR_INVALID_PARAMETER;
    parts.emplace_back(part);
    if (cut == std::string_view::npos) break;
    rest.remove_prefix(cut + 1);
  }
  return static_cast<int>(parts.size()) > kMaxDepth ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
}

LONG FromSqlite(int rc) {
  switch (rc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
      return ERROR_SUCCESS;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return ERROR_BUSY;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_SCHEMA:
    case SQLITE_FORMAT:
      return ERROR_REGISTRY_CORRUPT;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return ERROR_ACCESS_DENIED;
    case SQLITE_NOMEM:
      return ERROR_OUTOFMEMORY;
    default:
      return ERROR_REGISTRY_IO_FAILED;
  }
}

// What an operating-system error on the store's file means to its user.
std::string ErrnoReason(int err) {
  switch (err) {
    case EACCES:
    case EPERM:
      return "permission denied";
    case EROFS:
      return "read-only";
    case EISDIR:
      return "is a directory";
    case ENOTDIR:
      return "a part of its path is not a folder";
    case ENOSPC:
      return "disk full";
    default:
      return std::error_code(err, std::generic_category()).message();
  }
}

std::string ResolvePath() {
  if (const char* env = std::getenv("QUILLBOX_REGISTRY"); env != nullptr && *env != '\0')
    return env;
  std::string base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
    base = xdg;
  } else {
    std::string home;
    if (const char* h = std::getenv("HOME"); h != nullptr && h[0] == '/') {
      home = h;
    } else {
      passwd pw{};
      passwd* found = nullptr;
      std::vector<char> buffer(16384);
      if (getpwuid_r(geteuid(), &pw, buffer.data(), buffer.size(), &found) == 0 &&
          found != nullptr && found->pw_dir != nullptr && found->pw_dir[0] == '/')
        home = found->pw_dir;
    }
    if (home.empty()) return {};
    base = home + "/.config";
  }
  return base + "/quillbox/registry.sqlite3";
}

// Creates the missing folders of path's parent, each private to the user. Returns the error of
// the last folder that could not be made (0 if none): it explains a failed open.
int MakeParentFolders(const std::string& path) {
  int error = 0;
  for (std::size_t pos = path.find('/', 1); pos != std::string::npos;
       pos = path.find('/', pos + 1)) {
    const std::string dir = path.substr(0, pos);
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) error = errno;
  }
  return error;
}

// A prepared statement of the cache, reset when it goes out of scope.
class Stmt {
 public:
  explicit Stmt(sqlite3_stmt* s) : s_(s) {}
  ~Stmt() {
    if (s_ != nullptr) {
      sqlite3_reset(s_);
      sqlite3_clear_bindings(s_);
    }
  }
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;

  bool ok() const { return s_ != nullptr; }
  void Bind(int i, int64_t v) { sqlite3_bind_int64(s_, i, v); }
  void Bind(int i, const std::string& text) {
    sqlite3_bind_text(s_, i, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  }
  void BindBlob(int i, const BYTE* data, DWORD size) {
    static const BYTE kNothing = 0;
    sqlite3_bind_blob(s_, i, size > 0 ? data : &kNothing, static_cast<int>(size), SQLITE_TRANSIENT);
  }
  int Step() { return sqlite3_step(s_); }
  void Reset() { sqlite3_reset(s_); }
  int64_t Int(int col) { return sqlite3_column_int64(s_, col); }
  std::string Text(int col) {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(s_, col));
    return p != nullptr ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(s_, col)))
                        : std::string();
  }
  std::vector<BYTE> Blob(int col) {
    const auto* p = static_cast<const BYTE*>(sqlite3_column_blob(s_, col));
    const int n = sqlite3_column_bytes(s_, col);
    return p != nullptr ? std::vector<BYTE>(p, p + n) : std::vector<BYTE>();
  }

 private:
  sqlite3_stmt* s_;
};

struct OpenKey {
  int64_t row = 0;
  REGSAM access = 0;
};

// The process's one connection to the store, with the table of open handles.
class Store {
 public:
  std::mutex mutex;

  // Starts one registry call: its wait for another process's lock ends kLockWait from now.
  // ERROR_SUCCESS when the store is usable.
  LONG Begin() {
    deadline_ = std::chrono::steady_clock::now() + kLockWait;
    const LONG result = Open();
    // Inside a read group the call reads in the group's transaction, begun by the first call
    // (or the first after a write, which ended it). BEGIN takes no lock: the first read does,
    // with the call's wait, as a statement outside a transaction would.
    if (result == ERROR_SUCCESS && reads_ > 0 && sqlite3_get_autocommit(db_) != 0) Exec("BEGIN");
    return result;
  }

  // A read group: from the first call after BeginReads to the matching EndReads, reads share one
  // transaction. Groups nest; the outermost ends the transaction.
  void BeginReads() { ++reads_; }
  void EndReads() {
    if (reads_ > 0 && --reads_ == 0) EndReadTransaction();
  }

  // Opens the database if needed; ERROR_SUCCESS when it is usable.
  LONG Open() {
    if (givenUp_ != ERROR_SUCCESS) return givenUp_;
    if (db_ != nullptr) return ERROR_SUCCESS;
    if (path_.empty()) path_ = ResolvePath();
    if (path_.empty()) {
      Note("no place for it (neither QUILLBOX_REGISTRY, XDG_CONFIG_HOME nor HOME is set)");
      return ERROR_REGISTRY_IO_FAILED;
    }
    int fileError = 0;  // why the file could not be made, if it could not
    struct stat st {};
    if (::stat(path_.c_str(), &st) != 0) {
      const int folderError = MakeParentFolders(path_);
      const int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
      if (fd >= 0)
        ::close(fd);
      else if (errno != EEXIST)
        fileError = errno == ENOENT && folderError != 0 ? folderError : errno;
    } else if (S_ISDIR(st.st_mode)) {
      Note("is a directory");
      return ERROR_REGISTRY_IO_FAILED;
    }
    sqlite3* db = nullptr;
    const int rc =
        sqlite3_open_v2(path_.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
      const int err = fileError != 0 ? fileError : sqlite3_system_errno(db);
      Note(err != 0 ? ErrnoReason(err)
                    : std::string("cannot be opened (") + sqlite3_errstr(rc) + ")");
      sqlite3_close_v2(db);
      return ERROR_REGISTRY_IO_FAILED;
    }
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_handler(db, &Store::OnBusy, this);
    sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    db_ = db;
    const LONG result = Prepare();
    if (result != ERROR_SUCCESS) Close();
    return result;
  }

  void Close() {
    for (auto& [sql, stmt] : cache_) sqlite3_finalize(stmt);
    cache_.clear();
    if (db_ != nullptr) sqlite3_close_v2(db_);
    db_ = nullptr;
  }

  // After fork the child must not touch the parent's connection: it is left as it is and a
  // fresh one is opened on the next call.
  void Abandon() {
    if (db_ != nullptr) abandoned_.push_back(db_);
    db_ = nullptr;
    cache_.clear();
    reads_ = 0;  // a group of the parent's thread is no group of the child's
  }

  void Reset() {
    Close();
    path_.clear();
    handles_.clear();
    problem_.clear();
    givenUp_ = ERROR_SUCCESS;
  }

  // The first problem since the store was (re)opened, "<path>: <reason>", or "".
  std::string Problem() {
    if (problem_.empty()) return {};
    const std::string path = Path();
    return path.empty() ? problem_ : path + ": " + problem_;
  }

  // The registry's code for an SQLite result, noting what it says about the store. A lock that
  // outlasted the call's wait, or a file that turns out corrupt, makes the process give the
  // store up: later calls fail at once, and nothing more is written into a damaged file.
  LONG Fail(int rc) {
    const LONG code = FromSqlite(rc);
    switch (rc & 0xFF) {
      case SQLITE_OK:
      case SQLITE_ROW:
      case SQLITE_DONE:
      case SQLITE_SCHEMA:  // another process changed the schema; the statement is prepared again
        break;
      case SQLITE_BUSY:
      case SQLITE_LOCKED:
        if (std::chrono::steady_clock::now() >= deadline_) return Locked();
        break;
      case SQLITE_CORRUPT:
        GiveUp(code, "corrupt");
        break;
      case SQLITE_NOTADB:
        GiveUp(code, "not an SQLite store");
        break;
      case SQLITE_READONLY:
        Note("read-only");
        break;
      case SQLITE_PERM:
      case SQLITE_AUTH:
        Note("permission denied");
        break;
      case SQLITE_FULL:
        Note("disk full");
        break;
      case SQLITE_NOMEM:
        Note("out of memory");
        break;
      case SQLITE_CANTOPEN:
      case SQLITE_IOERR: {
        const int err = db_ != nullptr ? sqlite3_system_errno(db_) : 0;
        Note(err != 0 ? ErrnoReason(err) : std::string("input/output error"));
        break;
      }
      default:
        Note(std::string("unusable (") +
             (db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(rc)) + ")");
        break;
    }
    return code;
  }

  std::string Path() {
    if (path_.empty()) path_ = ResolvePath();
    return path_;
  }

  sqlite3_stmt* Sql(const char* sql) {
    if (auto it = cache_.find(sql); it != cache_.end()) return it->second;
    sqlite3_stmt* stmt = nullptr;
    lastRc_ = sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
    if (lastRc_ != SQLITE_OK) return nullptr;
    cache_.emplace(sql, stmt);
    return stmt;
  }

  // Runs a statement that returns no rows (or whose rows are not needed).
  int Exec(const char* sql) {
    Stmt s(Sql(sql));
    if (!s.ok()) return lastRc_;
    int rc;
    while ((rc = s.Step()) == SQLITE_ROW) {
    }
    return rc == SQLITE_DONE ? SQLITE_OK : rc;
  }

  LONG PrepareError() { return Fail(lastRc_ == SQLITE_OK ? SQLITE_ERROR : lastRc_); }

  // Runs body inside one BEGIN IMMEDIATE transaction: committed when body succeeds, rolled
  // back otherwise.
  template <class Body>
  LONG Write(Body&& body) {
    EndReadTransaction();  // a group's reads so far; the write reads the store afresh
    int rc;
    while ((rc = Exec("BEGIN IMMEDIATE")) != SQLITE_OK) {
      if ((rc & 0xFF) != SQLITE_BUSY || std::chrono::steady_clock::now() >= deadline_)
        return Fail(rc);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    LONG result = body();
    if (result == ERROR_SUCCESS) {
      rc = Exec("COMMIT");
      if (rc == SQLITE_OK) return ERROR_SUCCESS;
      result = Fail(rc);
    }
    Exec("ROLLBACK");
    return result;
  }

  // The row of an open handle or root, checked to still exist.
  LONG Resolve(HKEY hKey, OpenKey& key) {
    if (IsPredefined(hKey)) {
      const auto row = RootRow(hKey);
      if (!row) return ERROR_INVALID_HANDLE;
      key = {*row, KEY_ALL_ACCESS};
      return ERROR_SUCCESS;
    }
    const auto it = handles_.find(hKey);
    if (it == handles_.end()) return ERROR_INVALID_HANDLE;
    key = it->second;
    Stmt s(Sql("SELECT 1 FROM keys WHERE id = ?1"));
    if (!s.ok()) return PrepareError();
    s.Bind(1, key.row);
    const int rc = s.Step();
    if (rc == SQLITE_ROW) return ERROR_SUCCESS;
    return rc == SQLITE_DONE ? ERROR_KEY_DELETED : Fail(rc);
  }

  LONG ResolveWith(HKEY hKey, REGSAM needed, OpenKey& key) {
    const LONG r = Resolve(hKey, key);
    if (r != ERROR_SUCCESS) return r;
    return (key.access & needed) == needed ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
  }

  // Finds the child of parent named name (any case); 0 when there is none.
  LONG Child(int64_t parent, const std::string& name, int64_t& child) {
    Stmt s(Sql("SELECT id FROM keys WHERE parent = ?1 AND fold = ?2"));
    if (!s.ok()) return PrepareError();
    s.Bind(1, parent);
    s.Bind(2, Fold(name));
    const int rc = s.Step();
    child = rc == SQLITE_ROW ? s.Int(0) : 0;
    return rc == SQLITE_ROW || rc == SQLITE_DONE ? ERROR_SUCCESS : Fail(rc);
  }

  // Follows parts from row; on success row is the key reached, or 0 with `missing` the index
  // of the first part that does not exist.
  LONG Walk(int64_t& row, const std::vector<std::string>& parts, std::size_t& missing) {
    for (missing = 0; missing < parts.size(); ++missing) {
      int64_t next = 0;
      if (const LONG r = Child(row, parts[missing], next); r != ERROR_SUCCESS) return r;
      if (next == 0) {
        row = 0;
        return ERROR_SUCCESS;
      }
      row = next;
    }
    return ERROR_SUCCESS;
  }

  LONG Depth(int64_t row, int& depth) {
    depth = 0;
    Stmt s(Sql("SELECT parent FROM keys WHERE id = ?1"));
    if (!s.ok()) return PrepareError();
    while (row > kLastRootRow) {
      s.Bind(1, row);
      const int rc = s.Step();
      if (rc != SQLITE_ROW) return rc == SQLITE_DONE ? ERROR_KEY_DELETED : Fail(rc);
      row = s.Int(0);
      s.Reset();
      if (++depth > kMaxDepth) {  // a loop of keys
        GiveUp(ERROR_REGISTRY_CORRUPT, "corrupt");
        return ERROR_REGISTRY_CORRUPT;
      }
    }
    return ERROR_SUCCESS;
  }

  HKEY NewHandle(int64_t row, REGSAM access) {
    HKEY h = nextHandle_;
    while (handles_.contains(h) || h < kFirstHandle || h >= 0x80000000u) {
      h += 4;
      if (h >= 0x80000000u) h = kFirstHandle;
    }
    nextHandle_ = h + 4;
    handles_[h] = {row, access};
    return h;
  }

  bool CloseHandle(HKEY hKey) { return handles_.erase(hKey) != 0; }

  int Changes() { return sqlite3_changes(db_); }
  int64_t LastRow() { return sqlite3_last_insert_rowid(db_); }

 private:
  // Checks that the file is ours (or empty) and makes it ready: WAL, full sync, the tables.
  LONG Prepare() {
    int32_t appId = 0;
    bool empty = false;
    if (const LONG r = Retry([&] { return ReadOwner(appId, empty); }); r != ERROR_SUCCESS) return r;
    if (appId != kApplicationId && !(appId == 0 && empty)) {
      Note("not our store");
      return ERROR_REGISTRY_CORRUPT;
    }
    const LONG wal = Retry([this]() -> LONG {
      Stmt s(Sql("PRAGMA journal_mode=WAL"));
      if (!s.ok()) return PrepareError();
      const int rc = s.Step();
      if (rc != SQLITE_ROW) return Fail(rc);
      if (s.Text(0) == "wal") return ERROR_SUCCESS;
      Note(sqlite3_db_readonly(db_, "main") == 1 ? "read-only"
                                                 : "cannot keep a write-ahead journal");
      return ERROR_REGISTRY_IO_FAILED;
    });
    if (wal != ERROR_SUCCESS) return wal;
    if (const int rc = Exec("PRAGMA synchronous=FULL"); rc != SQLITE_OK) return Fail(rc);
    if (appId == kApplicationId) return ERROR_SUCCESS;
    return Write([this]() -> LONG {
      // Another process may have set the file up meanwhile.
      Stmt s(Sql("PRAGMA application_id"));
      if (!s.ok()) return PrepareError();
      if (s.Step() == SQLITE_ROW && static_cast<int32_t>(s.Int(0)) == kApplicationId)
        return ERROR_SUCCESS;
      static const char* const kSchema[] = {
          "CREATE TABLE IF NOT EXISTS keys(id INTEGER PRIMARY KEY AUTOINCREMENT, "
          "parent INTEGER NOT NULL, name TEXT NOT NULL, fold TEXT NOT NULL, "
          "UNIQUE(parent, fold))",
          "CREATE TABLE IF NOT EXISTS vals(id INTEGER PRIMARY KEY AUTOINCREMENT, "
          "key INTEGER NOT NULL, name TEXT NOT NULL, fold TEXT NOT NULL, "
          "type INTEGER NOT NULL, data BLOB NOT NULL, UNIQUE(key, fold))",
          "INSERT OR IGNORE INTO keys(id, parent, name, fold) VALUES "
          "(1, 0, 'HKEY_CLASSES_ROOT', 'HKEY_CLASSES_ROOT'), "
          "(2, 0, 'HKEY_CURRENT_USER', 'HKEY_CURRENT_USER'), "
          "(3, 0, 'HKEY_LOCAL_MACHINE', 'HKEY_LOCAL_MACHINE'), (4, 0, 'HKEY_USERS', 'HKEY_USERS'), "
          "(6, 0, 'HKEY_CURRENT_CONFIG', 'HKEY_CURRENT_CONFIG')",
          "PRAGMA user_version=1",
          "PRAGMA application_id=1363300184",
      };
      static_assert(kSchemaVersion == 1 && kApplicationId == 1363300184);
      for (const char* sql : kSchema) {
        // Schema statements are run once; they are not kept in the cache.
        sqlite3_stmt* stmt = nullptr;
        int rc = sqlite3_prepare_v2(db_, sql, -1, &stmt, nullptr);
        if (rc == SQLITE_OK) {
          rc = sqlite3_step(stmt);
          if (rc == SQLITE_DONE || rc == SQLITE_ROW) rc = SQLITE_OK;
        }
        sqlite3_finalize(stmt);
        if (rc != SQLITE_OK) return Fail(rc);
      }
      return ERROR_SUCCESS;
    });
  }

  // Reads, in one read transaction, whose file this is: our mark, or no mark and no tables
  // (a new file), or something else.
  LONG ReadOwner(int32_t& appId, bool& empty) {
    if (const int rc = Exec("BEGIN"); rc != SQLITE_OK) return Fail(rc);
    LONG result = ERROR_SUCCESS;
    {
      Stmt id(Sql("PRAGMA application_id"));
      Stmt count(Sql("SELECT count(*) FROM sqlite_schema"));
      int rc = id.ok() ? id.Step() : lastRc_;
      if (rc == SQLITE_ROW) {
        appId = static_cast<int32_t>(id.Int(0));
        rc = count.ok() ? count.Step() : lastRc_;
        if (rc == SQLITE_ROW) empty = count.Int(0) == 0;
      }
      if (rc != SQLITE_ROW) result = Fail(rc == SQLITE_OK ? SQLITE_ERROR : rc);
    }
    Exec("COMMIT");
    return result;
  }

  // Repeats an operation that found the file locked by another process (for instance while
  // that one sets the file up), until it gets through or the call's wait runs out.
  template <class Op>
  LONG Retry(Op&& op) {
    LONG r;
    while ((r = op()) == ERROR_BUSY && std::chrono::steady_clock::now() < deadline_)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return r == ERROR_BUSY ? Locked() : r;
  }

  // SQLite's busy handler: while another connection holds the lock a statement needs, sleeps a
  // little and lets it try again, until the running call's wait runs out.
  static int OnBusy(void* self, int count) {
    const auto left = static_cast<Store*>(self)->deadline_ - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) return 0;
    const std::chrono::steady_clock::duration step =
        std::chrono::milliseconds(std::min(1 + 2 * count, 25));
    std::this_thread::sleep_for(std::min(left, step));
    return 1;
  }

  // Ends the read transaction a read group began, if one is open. It wrote nothing, so a
  // failed COMMIT only needs the ROLLBACK that releases its snapshot.
  void EndReadTransaction() {
    if (db_ == nullptr || sqlite3_get_autocommit(db_) != 0) return;
    if (Exec("COMMIT") != SQLITE_OK) Exec("ROLLBACK");
  }

  void Note(std::string reason) {
    if (problem_.empty()) problem_ = std::move(reason);
  }
  void GiveUp(LONG code, std::string reason) {
    if (givenUp_ == ERROR_SUCCESS) givenUp_ = code;
    Note(std::move(reason));
  }
  LONG Locked() {
    GiveUp(ERROR_BUSY, "locked by another process");
    return ERROR_BUSY;
  }

  sqlite3* db_ = nullptr;
  std::string path_;
  std::unordered_map<const char*, sqlite3_stmt*> cache_;
  std::map<HKEY, OpenKey> handles_;
  HKEY nextHandle_ = kFirstHandle;
  int lastRc_ = SQLITE_OK;
  std::vector<sqlite3*> abandoned_;
  std::chrono::steady_clock::time_point deadline_;
  std::string problem_;           // the first problem, without the path
  LONG givenUp_ = ERROR_SUCCESS;  // set: every call fails at once with this
  int reads_ = 0;                 // depth of read groups
};

Store& TheStore();

void LockBeforeFork() { TheStore().mutex.lock(); }
void UnlockAfterFork() { TheStore().mutex.unlock(); }
void ChildAfterFork() {
  TheStore().Abandon();
  TheStore().mutex.unlock();
}

Store& TheStore() {
  // Kept for the life of the process: driver objects may be released during exit.
  static Store* store = [] {
    auto* s = new Store;
    pthread_atfork(LockBeforeFork, UnlockAfterFork, ChildAfterFork);
    return s;
  }();
  return *store;
}

// Locks the store and opens it; every registry function starts with one of these.
class Session {
 public:
  Session() : store_(TheStore()), lock_(store_.mutex), status_(store_.Begin()) {}
  LONG status() const { return status_; }
  Store* operator->() { return &store_; }

 private:
  Store& store_;
  std::unique_lock<std::mutex> lock_;
  LONG status_;
};

void CopyName(const std::string& name, char* buffer) {
  std::memcpy(buffer, name.data(), name.size());
  buffer[name.size()] = '\0';
}

// Copies a value's data into a buffer of `room` bytes that holds it. A string that does not end
// in a terminator gets one after it when the buffer has room, as the original does for strings
// stored without one; the size reported stays the stored size.
void CopyValueData(DWORD type, const std::vector<BYTE>& data, BYTE* buffer, DWORD room) {
  const auto size = static_cast<DWORD>(data.size());
  if (size > 0) std::memcpy(buffer, data.data(), size);
  const bool text = type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
  if (text && room > size && (size == 0 || data.back() != 0)) buffer[size] = 0;
}

}  // namespace

LONG RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD /*ulOptions*/, REGSAM samDesired,
                   HKEY* phkResult) {
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  *phkResult = 0;  // what a failed call leaves
  Session s;
  if (s.status() != ERROR_SUCCESS) return s.status();
  OpenKey base;
  if (const LONG r = s->Resolve(hKey, base); r != ERROR_SUCCESS) return r;
  std::vector<std::string> parts;
  if (const LONG r = SplitPath(lpSubKey, parts); r != ERROR_SUCCESS) return r;
  if (parts.empty() && IsPredefined(hKey)) {
    *phkResult = hKey;  // a root opened as itself is the root, not a new handle
    return ERROR_SUCCESS;
  }
  int64_t row = base.row;
  std::size_t missing = 0;
  if (const LONG r = s->Walk(row, parts, missing); r != ERROR_SUCCESS) return r;
  if (row == 0) return ERROR_FILE_NOT_FOUND;
  *phkResult = s->NewHandle(row, samDesired);
  return ERROR_SUCCESS;
}

LONG RegCreateKeyExA(HKEY hKey, const char* lpSubKey, DWORD Reserved, const char* /*lpClass*/,
                     DWORD /*dwOptions*/, REGSAM samDesired, const void* /*lpSecurityAttributes*/,
                     HKEY* phkResult, DWORD* lpdwDisposition) {
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  *phkResult = 0;  // what a failed call leaves
  if (Reserved != 0) return ERROR_INVALID_PARAMETER;
  Session s;
  if (s.status() != ERROR_SUCCESS) return s.status();
  std::vector<std::string> parts;
  if (const LONG r = SplitPath(lpSubKey, parts); r != ERROR_SUCCESS) return r;
  // As on the original, creating below a key does not depend on the rights of its handle.
  OpenKey base;
  if (const LONG r = s->Resolve(hKey, base); r != ERROR_SUCCESS) return r;

  int64_t row = base.row;
  std::size_t missing = 0;
  if (const LONG r = s->Walk(row, parts, missing); r != ERROR_SUCCESS) return r;
  DWORD disposition = REG_OPENED_EXISTING_KEY;
  if (row == 0) {
    // Something is missing: create it, with its missing parents, in one transaction.
    disposition = REG_CREATED_NEW_KEY;
    const LONG r = s->Write([&]() -> LONG {
      row = base.row;
      int depth = 0;
      if (const LONG d = s->Depth(row, depth); d != ERROR_SUCCESS) return d;
      if (depth + static_cast<int>(parts.size()) > kMaxDepth) return ERROR_INVALID_PARAMETER;
      if (const LONG w = s->Walk(row, parts, missing); w != ERROR_SUCCESS) return w;
      if (row != 0) {
        disposition = REG_OPENED_EXISTING_KEY;  // another writer made it meanwhile
        return ERROR_SUCCESS;
      }
      row = base.row;
      for (std::size_t i = 0; i < parts.size(); ++i) {
        int64_t next = 0;
        if (const LONG c = s->Child(row, parts[i], next); c != ERROR_SUCCESS) return c;
        if (next == 0) {
          Stmt ins(s->Sql("INSERT INTO keys(parent, name, fold) VALUES (?1, ?2, ?3)"));
          if (!ins.ok()) return s->PrepareError();
          ins.Bind(1, row);
          ins.Bind(2, parts[i]);
          ins.Bind(3, Fold(parts[i]));
          if (const int rc = ins.Step(); rc != SQLITE_DONE) return s->Fail(rc);
          next = s->LastRow();
        }
        row = next;
      }
      return ERROR_SUCCESS;
    });
    if (r != ERROR_SUCCESS) return r;
  }
  *phkResult = s->NewHandle(row, samDesired);
  if (lpdwDisposition != nullptr) *lpdwDisposition = disposition;
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY hKey) {
  if (IsPredefined(hKey)) return ERROR_SUCCESS;
  Store& store = TheStore();
  std::lock_guard lock(store.mutex);
  return store.CloseHandle(hKey) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

// NOLINTNEXTLINE(readability-non-const-parameter): the Windows signature; must be null
LONG RegQueryValueExA(HKEY hKey, const char* lpValueName, DWORD* lpReserved, DWORD* lpType,
                      BYTE* lpData, DWORD* lpcbData) {
  if (lpReserved != nullptr || (lpData != nullptr && lpcbData == nullptr))
    return ERROR_INVALID_PARAMETER;
  // Read before anything is written: lpType and lpcbData may point at one DWORD.
  const DWORD room = lpData != nullptr ? *lpcbData : 0;
  Session s;
  if (s.status() != ERROR_SUCCESS) return s.status();
  OpenKey key;
  if (const LONG r = s->ResolveWith(hKey, KEY_QUERY_VALUE, key); r != ERROR_SUCCESS) return r;
  Stmt q(s->Sql("SELECT type, data FROM vals WHERE key = ?1 AND fold = ?2"));
  if (!q.ok()) return s->PrepareError();
  q.Bind(1, key.row);
  q.Bind(2, Fold(lpValueName != nullptr ? lpValueName : ""));
  const int rc = q.Step();
  if (rc == SQLITE_DONE) {
    if (lpData == nullptr && lpcbData != nullptr) *lpcbData = 0;
    return ERROR_FILE_NOT_FOUND;
  }
  if (rc != SQLITE_ROW) return s->Fail(rc);
  const auto type = static_cast<DWORD>(q.Int(0));
  const std::vector<BYTE> data = q.Blob(1);
  const auto size = static_cast<DWORD>(data.size());
  const bool fits = lpData == nullptr || room >= size;
  if (lpData != nullptr && fits) CopyValueData(type, data, lpData, room);
  if (lpType != nullptr) *lpType = type;
  if (lpcbData != nullptr) *lpcbData = size;
  return fits ? ERROR_SUCCESS : ERROR_MORE_DATA;
}

LONG RegSetValueExA(HKEY hKey, const char* lpValueName, DWORD Reserved, DWORD dwType,
                    const BYTE* lpData, DWORD cbData) {
  if (Reserved != 0 || (lpData == nullptr && cbData > 0)) return ERROR_INVALID_PARAMETER;
  const std::string name = lpValueName != nullptr ? lpValueName : "";
  if (name.size() > kMaxValueName || cbData > 0x7FFFFFFFu) return ERROR_INVALID_PARAMETER;
  Session s;
  if (s.status() != ERROR_SUCCESS) return s.status();
  OpenKey key;
  if (const LONG r = s->ResolveWith(hKey, KEY_SET_VALUE, key); r != ERROR_SUCCESS) return r;
  const std::string fold = Fold(name);
  return s->Write([&]() -> LONG {
    OpenKey again;
    if (const LONG r = s->Resolve(hKey, again); r != ERROR_SUCCESS) return r;
    // An existing value keeps its place in the enumeration and its spelling.
    {
      Stmt up(s->Sql("UPDATE vals SET type = ?3, data = ?4 WHERE key = ?1 AND fold = ?2"));
      if (!up.ok()) return s->PrepareError();
      up.Bind(1, key.row);
      up.Bind(2, fold);
      up.Bind(3, static_cast<int64_t>(dwType));
      up.BindBlob(4, lpData, cbData);
      if (const int rc = up.Step(); rc != SQLITE_DONE) return s->Fail(rc);
    }
    if (s->Changes() > 0) return ERROR_SUCCESS;
    Stmt ins(s->Sql("INSERT INTO vals(key, name, fold, type, data) VALUES (?1, ?2, ?3, ?4, ?5)"));
    if (!ins.ok()) return s->PrepareError();
    ins.Bind(1, key.row);
    ins.Bind(2, name);
    ins.Bind(3, fold);
    ins.Bind(4, static_cast<int64_t>(dwType));
    ins.BindBlob(5, lpData, cbData);
    const int rc = ins.Step();
    return rc == SQLITE_DONE ? ERROR_SUCCESS : s->Fail(rc);
  });
}

LONG RegDeleteKeyA(HKEY hKey, const char* lpSubKey) {
  if (lpSubKey == nullptr) return ERROR_INVALID_PARAMETER;
  Session s;
  if (s.status() != ERROR_SUCCESS) return s.status();
  std::vector<std::string> parts;
  if (const LONG r = SplitPath(lpSubKey, parts); r != ERROR_SUCCESS) return r;
  OpenKey base;
  if (const LONG r = s->Resolve(hKey, base); r != ERROR_SUCCESS) return r;
  return s->Write([&]() -> LONG {
    int64_t row = base.row;
    std::size_t missing = 0;
    if (const LONG r = s->Walk(row, parts, missing); r != ERROR_SUCCESS) return r;
    if (row == 0) return ERROR_FILE_NOT_FOUND;
    if (row <= kLastRootRow) return ERROR_ACCESS_DENIED;
    {
      Stmt kids(s->Sql("SELECT 1 FROM keys WHERE parent = ?1 LIMIT 1"));
      if (!kids.ok()) return s->PrepareError();
      kids.Bind(1, row);
      const int rc = kids.Step();
      if (rc == SQLITE_ROW) return ERROR_ACCESS_DENIED;
      if (rc != SQLITE_DONE) return s->Fail(rc);
    }
    {
      Stmt del(s->Sql("DELETE FROM vals WHERE key = ?1"));
      if (!del.ok()) return s->PrepareError();
      del.Bind(1, row);
      if (const int rc = del.Step(); rc != SQLITE_DONE) return s->Fail(rc);
    }
    Stmt del(s->Sql("DELETE FROM keys WHERE id = ?1"));
    if (!del.ok()) return s->PrepareError();
    del.Bind(1, row);
    const int rc = del.Step();
    return rc == SQLITE_DONE ? ERROR_SUCCESS : s->Fail(rc);
  });
}

LONG RegDeleteValueA(HKEY hKey, const char* lpValueName) {
  Session s;
  if (s.status() != ERROR_SUCCESS) return s.status();
  OpenKey key;
  if (const LONG r = s->ResolveWith(hKey, KEY_SET_VALUE, key); r != ERROR_SUCCESS) return r;
  const std::string fold = Fold(lpValueName != nullptr ? lpValueName : "");
  return s->Write([&]() -> LONG {
    Stmt del(s->Sql("DELETE FROM vals WHERE key = ?1 AND fold = ?2"));
    if (!del.ok()) return s->PrepareError();
    del.Bind(1, key.row);
    del.Bind(2, fold);
    if (const int rc = del.Step(); rc != SQLITE_DONE) return s->Fail(rc);
    return s->Changes() > 0 ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
  });
}

// NOLINTNEXTLINE(readability-non-const-parameter): the Windows signature; must be null
LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, char* lpName, DWORD* lpcchName, DWORD* lpReserved,
                   char* lpClass, DWORD* lpcchClass, void* /*lpftLastWriteTime*/) {
  if (lpName == nullptr || lpcchName == nullptr || lpReserved != nullptr)
    return ERROR_INVALID_PARAMETER;
  Session s;
  if (s.status() != ERROR_SUCCESS) return s.status();
  OpenKey key;
  if (const LONG r = s->ResolveWith(hKey, KEY_ENUMERATE_SUB_KEYS, key); r != ERROR_SUCCESS)
    return r;
  Stmt q(s->Sql("SELECT name FROM keys WHERE parent = ?1 ORDER BY fold LIMIT 1 OFFSET ?2"));
  if (!q.ok()) return s->PrepareError();
  q.Bind(1, key.row);
  q.Bind(2, static_cast<int64_t>(dwIndex));
  const int rc = q.Step();
  if (rc == SQLITE_DONE) return ERROR_NO_MORE_ITEMS;
  if (rc != SQLITE_ROW) return s->Fail(rc);
  const std::string name = q.Text(0);
  if (*lpcchName < name.size() + 1) return ERROR_MORE_DATA;
  CopyName(name, lpName);
  *lpcchName = static_cast<DWORD>(name.size());
  if (lpClass != nullptr && lpcchClass != nullptr && *lpcchClass > 0) lpClass[0] = '\0';
  if (lpcchClass != nullptr) *lpcchClass = 0;
  return ERROR_SUCCESS;
}

LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, char* lpValueName, DWORD* lpcchValueName,
                   // NOLINTNEXTLINE(readability-non-const-parameter): as above
                   DWORD* lpReserved, DWORD* lpType, BYTE* lpData, DWORD* lpcbData) {
  if (lpValueName == nullptr || lpcchValueName == nullptr || lpReserved != nullptr ||
      (lpData != nullptr && lpcbData == nullptr))
    return ERROR_INVALID_PARAMETER;
  // Read before anything is written, as the out-parameters may share a DWORD.
  const DWORD nameRoom = *lpcchValueName;
  const DWORD room = lpData != nullptr ? *lpcbData : 0;
  Session s;
  if (s.status() != ERROR_SUCCESS) return s.status();
  OpenKey key;
  if (const LONG r = s->ResolveWith(hKey, KEY_QUERY_VALUE, key); r != ERROR_SUCCESS) return r;
  Stmt q(s->Sql("SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY id LIMIT 1 OFFSET ?2"));
  if (!q.ok()) return s->PrepareError();
  q.Bind(1, key.row);
  q.Bind(2, static_cast<int64_t>(dwIndex));
  const int rc = q.Step();
  if (rc == SQLITE_DONE) return ERROR_NO_MORE_ITEMS;
  if (rc != SQLITE_ROW) return s->Fail(rc);
  const std::string name = q.Text(0);
  const auto type = static_cast<DWORD>(q.Int(1));
  const std::vector<BYTE> data = q.Blob(2);
  const auto size = static_cast<DWORD>(data.size());
  // When the name or the data does not fit, neither buffer is written and the name length is
  // left as given, so that a caller may grow just the buffer that was short and call again;
  // the type and the data size are reported either way.
  const bool fits = nameRoom > name.size() && (lpData == nullptr || room >= size);
  if (fits) {
    CopyName(name, lpValueName);
    *lpcchValueName = static_cast<DWORD>(name.size());
    if (lpData != nullptr) CopyValueData(type, data, lpData, room);
  }
  if (lpType != nullptr) *lpType = type;
  if (lpcbData != nullptr) *lpcbData = size;
  return fits ? ERROR_SUCCESS : ERROR_MORE_DATA;
}

// NOLINTNEXTLINE(readability-non-const-parameter): the Windows signature; must be null
LONG RegQueryInfoKeyA(HKEY hKey, char* lpClass, DWORD* lpcchClass, DWORD* lpReserved,
                      DWORD* lpcSubKeys, DWORD* lpcbMaxSubKeyLen, DWORD* lpcbMaxClassLen,
                      DWORD* lpcValues, DWORD* lpcbMaxValueNameLen, DWORD* lpcbMaxValueLen,
                      DWORD* lpcbSecurityDescriptor, void* /*lpftLastWriteTime*/) {
  if (lpReserved != nullptr || (lpClass != nullptr && lpcchClass == nullptr))
    return ERROR_INVALID_PARAMETER;
  Session s;
  if (s.status() != ERROR_SUCCESS) return s.status();
  OpenKey key;
  if (const LONG r = s->ResolveWith(hKey, KEY_QUERY_VALUE, key); r != ERROR_SUCCESS) return r;
  Stmt k(s->Sql(
      "SELECT count(*), ifnull(max(length(CAST(name AS BLOB))), 0) FROM keys WHERE parent = ?1"));
  if (!k.ok()) return s->PrepareError();
  k.Bind(1, key.row);
  int rc = k.Step();
  if (rc != SQLITE_ROW) return s->Fail(rc);
  Stmt v(
      s->Sql("SELECT count(*), ifnull(max(length(CAST(name AS BLOB))), 0), "
             "ifnull(max(length(data)), 0) FROM vals WHERE key = ?1"));
  if (!v.ok()) return s->PrepareError();
  v.Bind(1, key.row);
  rc = v.Step();
  if (rc != SQLITE_ROW) return s->Fail(rc);
  if (lpClass != nullptr && lpcchClass != nullptr && *lpcchClass > 0) lpClass[0] = '\0';
  if (lpcchClass != nullptr) *lpcchClass = 0;
  if (lpcSubKeys != nullptr) *lpcSubKeys = static_cast<DWORD>(k.Int(0));
  if (lpcbMaxSubKeyLen != nullptr) *lpcbMaxSubKeyLen = static_cast<DWORD>(k.Int(1));
  if (lpcbMaxClassLen != nullptr) *lpcbMaxClassLen = 0;
  if (lpcValues != nullptr) *lpcValues = static_cast<DWORD>(v.Int(0));
  if (lpcbMaxValueNameLen != nullptr) *lpcbMaxValueNameLen = static_cast<DWORD>(v.Int(1));
  if (lpcbMaxValueLen != nullptr) *lpcbMaxValueLen = static_cast<DWORD>(v.Int(2));
  if (lpcbSecurityDescriptor != nullptr) *lpcbSecurityDescriptor = 0;
  return ERROR_SUCCESS;
}

std::string RegistryPath() {
  Store& store = TheStore();
  std::lock_guard lock(store.mutex);
  return store.Path();
}

std::string RegistryProblem() {
  Store& store = TheStore();
  std::lock_guard lock(store.mutex);
  return store.Problem();
}

void RegistryReopen() {
  Store& store = TheStore();
  std::lock_guard lock(store.mutex);
  store.Reset();
}

void BeginReads() {
  Store& store = TheStore();
  std::lock_guard lock(store.mutex);
  store.BeginReads();
}

void EndReads() {
  Store& store = TheStore();
  std::lock_guard lock(store.mutex);
  store.EndReads();
}

}  // namespace quillbox::platform::store

extern "C" __attribute__((visibility("default"))) const quillbox::platform::RegistryBackend*
QuillboxRegistryBackend() {
  namespace s = quillbox::platform::store;
  static const quillbox::platform::RegistryBackend table{
      quillbox::platform::kRegistryBackendVersion,
      s::RegOpenKeyExA,
      s::RegCreateKeyExA,
      s::RegCloseKey,
      s::RegQueryValueExA,
      s::RegSetValueExA,
      s::RegDeleteKeyA,
      s::RegDeleteValueA,
      s::RegEnumKeyExA,
      s::RegEnumValueA,
      s::RegQueryInfoKeyA,
      s::RegistryPath,
      s::RegistryProblem,
      s::RegistryReopen,
      s::BeginReads,
      s::EndReads,
  };
  return &table;
}
