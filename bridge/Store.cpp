// Store-and-forward queue over one SQLite file. Counts and sizes are kept in
// memory (summed once at open), so that staying under the bound costs one
// range delete of the oldest rows, never a scan of the whole queue.
#include "Store.h"

#include <algorithm>
#include <limits>

#include "StoreDb.h"
#include "StoreSchema.h"

namespace qxsym::bridge {

namespace {

constexpr std::uint64_t kMaxKey = std::numeric_limits<std::int64_t>::max();
// No MQTT packet is larger; such a message can never be sent, only dropped.
constexpr std::uint64_t kMaxMessageBytes = 256 * 1024 * 1024;

// A row's size as the queue counts it: bytes of the topic and the payload
// (length() of TEXT would count characters).
const std::string kRowSize = "length(CAST(topic AS BLOB)) + length(payload)";

std::uint64_t SizeOf(const StoredMessage& message) {
  return message.topic.size() + message.payload.size();
}

struct Trimmed {
  std::uint64_t count = 0;
  std::uint64_t bytes = 0;
};

}  // namespace

struct Store::Impl {
  explicit Impl(const std::string& path) : db(path) {}

  StoreDb db;
  std::uint64_t max_bytes = 0;
  std::uint64_t last_key = 0;  ///< highest key ever appended to this file
  std::uint64_t count = 0;
  std::uint64_t bytes = 0;
  std::uint64_t dropped = 0;

  SqliteStmt begin, commit, rollback;
  SqliteStmt insert, save_last_key, oldest, delete_through, size_of, delete_one, peek;

  void PrepareStatements();
  void LoadTotals();
  void Run(const SqliteStmt& stmt, const char* what) const;
  Trimmed TrimOldest(std::uint64_t excess) const;
  void Insert(const StoredMessage& message) const;
  void SaveLastKey(std::uint64_t key) const;
  void CheckKeys(const std::vector<StoredMessage>& messages) const;
  void Transact(Trimmed* trimmed, std::uint64_t excess,
                const std::vector<const StoredMessage*>& newest_first, std::uint64_t new_last);
};

void Store::Impl::PrepareStatements() {
  begin = db.Prepare("BEGIN IMMEDIATE");
  commit = db.Prepare("COMMIT");
  rollback = db.Prepare("ROLLBACK");
  insert = db.Prepare("INSERT INTO messages (key, topic, payload, historical) VALUES (?, ?, ?, ?)");
  save_last_key = db.Prepare(
      "INSERT INTO meta (name, value) VALUES ('last_key', ?1)"
      " ON CONFLICT (name) DO UPDATE SET value = ?1");
  oldest = db.Prepare("SELECT key, " + kRowSize + " FROM messages ORDER BY key");
  delete_through = db.Prepare("DELETE FROM messages WHERE key <= ?");
  size_of = db.Prepare("SELECT " + kRowSize + " FROM messages WHERE key = ?");
  delete_one = db.Prepare("DELETE FROM messages WHERE key = ?");
  peek = db.Prepare(
      "SELECT key, topic, payload, historical FROM messages WHERE key > ? ORDER BY key LIMIT ?");
}

void Store::Impl::LoadTotals() {
  const SqliteStmt stmt =
      db.Prepare("SELECT count(*), coalesce(sum(" + kRowSize +
                 "), 0), coalesce(min(key), 1), coalesce(max(key), 0) FROM messages");
  const StmtUse use(stmt.get());
  db.Step(use, "cannot read the messages");
  const std::int64_t min_key = sqlite3_column_int64(stmt.get(), 2);
  const std::int64_t max_key = sqlite3_column_int64(stmt.get(), 3);
  const std::int64_t total = sqlite3_column_int64(stmt.get(), 1);
  if (min_key < 1 || total < 0) db.Refuse("the messages table holds keys below 1");
  count = static_cast<std::uint64_t>(sqlite3_column_int64(stmt.get(), 0));
  bytes = static_cast<std::uint64_t>(total);
  const std::int64_t saved =
      db.QueryInt("SELECT value FROM meta WHERE name = 'last_key'", 0, "cannot read the last key");
  if (saved < 0) db.Refuse("the saved last key is negative");
  last_key = std::max(static_cast<std::uint64_t>(saved), static_cast<std::uint64_t>(max_key));
}

void Store::Impl::Run(const SqliteStmt& stmt, const char* what) const {
  const StmtUse use(stmt.get());
  db.Step(use, what);
}

// Deletes the oldest rows until at least @p excess bytes are gone: reads
// only the rows it drops, then removes them with one range delete.
Trimmed Store::Impl::TrimOldest(std::uint64_t excess) const {
  Trimmed trimmed;
  if (excess == 0) return trimmed;
  std::int64_t through = 0;
  {
    const StmtUse use(oldest.get());
    while (trimmed.bytes < excess && db.Step(use, "cannot read the oldest messages")) {
      through = sqlite3_column_int64(oldest.get(), 0);
      trimmed.bytes += static_cast<std::uint64_t>(sqlite3_column_int64(oldest.get(), 1));
      ++trimmed.count;
    }
  }
  if (trimmed.count == 0) return trimmed;
  const StmtUse use(delete_through.get());
  sqlite3_bind_int64(delete_through.get(), 1, through);
  db.Step(use, "cannot drop the oldest messages");
  return trimmed;
}

void Store::Impl::Insert(const StoredMessage& message) const {
  const StmtUse use(insert.get());
  sqlite3_stmt* stmt = insert.get();
  sqlite3_bind_int64(stmt, 1, static_cast<std::int64_t>(message.key));
  sqlite3_bind_text64(stmt, 2, message.topic.data(), message.topic.size(), SQLITE_STATIC,
                      SQLITE_UTF8);
  // An empty payload is bound as a zero-length blob, not as NULL.
  static const std::uint8_t kNone = 0;
  const std::uint8_t* payload = message.payload.empty() ? &kNone : message.payload.data();
  sqlite3_bind_blob64(stmt, 3, payload, message.payload.size(), SQLITE_STATIC);
  sqlite3_bind_int(stmt, 4, message.historical ? 1 : 0);
  db.Step(use, "cannot store a message");
}

void Store::Impl::SaveLastKey(std::uint64_t key) const {
  const StmtUse use(save_last_key.get());
  sqlite3_bind_int64(save_last_key.get(), 1, static_cast<std::int64_t>(key));
  db.Step(use, "cannot save the last key");
}

void Store::Impl::CheckKeys(const std::vector<StoredMessage>& messages) const {
  std::uint64_t previous = last_key;
  for (const StoredMessage& message : messages) {
    if (message.key <= previous || message.key > kMaxKey) {
      throw StoreError(db.path() + ": message key " + std::to_string(message.key) +
                       " is not above " + std::to_string(previous));
    }
    previous = message.key;
  }
}

// Trims, inserts and records the last key in one transaction; on a failure
// the file is as it was.
void Store::Impl::Transact(Trimmed* trimmed, std::uint64_t excess,
                           const std::vector<const StoredMessage*>& newest_first,
                           std::uint64_t new_last) {
  Run(begin, "cannot begin a transaction");
  try {
    *trimmed = TrimOldest(excess);
    for (auto it = newest_first.rbegin(); it != newest_first.rend(); ++it) Insert(**it);
    SaveLastKey(new_last);
    Run(commit, "cannot commit");
  } catch (...) {
    const StmtUse use(rollback.get());
    sqlite3_step(rollback.get());
    throw;
  }
}

Store::Store(const std::string& path, std::uint64_t max_bytes)
    : impl_(std::make_unique<Impl>(path)) {
  impl_->max_bytes = max_bytes;
  PrepareStoreSchema(impl_->db);
  impl_->LoadTotals();
  impl_->PrepareStatements();
  // A smaller bound than last time applies at once.
  if (impl_->bytes > max_bytes) {
    Trimmed trimmed;
    impl_->Transact(&trimmed, impl_->bytes - max_bytes, {}, impl_->last_key);
    impl_->count -= std::min(impl_->count, trimmed.count);
    impl_->bytes -= std::min(impl_->bytes, trimmed.bytes);
    impl_->dropped += trimmed.count;
  }
}

Store::~Store() = default;

std::uint64_t Store::NextKey() const { return impl_->last_key + 1; }

void Store::Append(const std::vector<StoredMessage>& messages) {
  if (messages.empty()) return;
  Impl& s = *impl_;
  s.CheckKeys(messages);
  // Which of the batch stay: the newest while they fit. One that could never
  // fit is dropped alone; once one does not fit, it and all older ones go.
  const std::uint64_t limit = std::min(s.max_bytes, kMaxMessageBytes);
  std::vector<const StoredMessage*> newest_first;
  std::uint64_t kept_bytes = 0;
  std::uint64_t dropped = 0;
  bool full = false;
  for (auto it = messages.rbegin(); it != messages.rend(); ++it) {
    const std::uint64_t size = SizeOf(*it);
    if (size > limit) {
      ++dropped;
      continue;
    }
    if (!full && kept_bytes + size > s.max_bytes) full = true;
    if (full) {
      ++dropped;
      continue;
    }
    kept_bytes += size;
    newest_first.push_back(&*it);
  }
  const std::uint64_t total = s.bytes + kept_bytes;
  const std::uint64_t excess = total > s.max_bytes ? total - s.max_bytes : 0;
  Trimmed trimmed;
  s.Transact(&trimmed, excess, newest_first, messages.back().key);
  s.last_key = messages.back().key;
  s.count = s.count - std::min(s.count, trimmed.count) + newest_first.size();
  s.bytes = s.bytes - std::min(s.bytes, trimmed.bytes) + kept_bytes;
  s.dropped += dropped + trimmed.count;
}

std::vector<StoredMessage> Store::Peek(std::uint64_t after_key, std::size_t max_count) {
  std::vector<StoredMessage> out;
  if (max_count == 0 || after_key >= kMaxKey) return out;
  const Impl& s = *impl_;
  out.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(max_count, s.count)));
  sqlite3_stmt* stmt = s.peek.get();
  const StmtUse use(stmt);
  sqlite3_bind_int64(stmt, 1, static_cast<std::int64_t>(after_key));
  sqlite3_bind_int64(stmt, 2,
                     static_cast<std::int64_t>(std::min<std::uint64_t>(max_count, kMaxKey)));
  while (s.db.Step(use, "cannot read the messages")) {
    StoredMessage message;
    message.key = static_cast<std::uint64_t>(sqlite3_column_int64(stmt, 0));
    // A damaged row may hold NULLs; it comes out empty rather than crashing.
    const auto* topic =
        static_cast<const char*>(static_cast<const void*>(sqlite3_column_text(stmt, 1)));
    if (topic != nullptr) message.topic.assign(topic, sqlite3_column_bytes(stmt, 1));
    const auto* payload = static_cast<const std::uint8_t*>(sqlite3_column_blob(stmt, 2));
    if (payload != nullptr)
      message.payload.assign(payload, payload + sqlite3_column_bytes(stmt, 2));
    message.historical = sqlite3_column_int(stmt, 3) != 0;
    out.push_back(std::move(message));
  }
  return out;
}

void Store::Remove(std::uint64_t key) {
  if (key == 0 || key > kMaxKey) return;
  Impl& s = *impl_;
  std::uint64_t size = 0;
  {
    const StmtUse use(s.size_of.get());
    sqlite3_bind_int64(s.size_of.get(), 1, static_cast<std::int64_t>(key));
    if (!s.db.Step(use, "cannot read a message")) return;
    size = static_cast<std::uint64_t>(sqlite3_column_int64(s.size_of.get(), 0));
  }
  const StmtUse use(s.delete_one.get());
  sqlite3_bind_int64(s.delete_one.get(), 1, static_cast<std::int64_t>(key));
  s.db.Step(use, "cannot remove a message");
  s.count -= std::min<std::uint64_t>(s.count, 1);
  s.bytes -= std::min(s.bytes, size);
}

std::size_t Store::Count() const { return static_cast<std::size_t>(impl_->count); }
std::uint64_t Store::Bytes() const { return impl_->bytes; }
std::uint64_t Store::Dropped() const { return impl_->dropped; }

}  // namespace qxsym::bridge
