// The store's two tables: `messages` holds what waits for the broker, `meta`
// the highest key ever used, so that keys never repeat once the queue is
// empty. A file with other tables is someone else's and is left alone.
#include "StoreSchema.h"

#include <string>
#include <vector>

namespace qxsym::bridge {

namespace {

struct Column {
  const char* name;
  const char* type;
  bool key;
};

const std::vector<Column> kMessageColumns = {{"key", "INTEGER", true},
                                             {"topic", "TEXT", false},
                                             {"payload", "BLOB", false},
                                             {"historical", "INTEGER", false}};
const std::vector<Column> kMetaColumns = {{"name", "TEXT", true}, {"value", "INTEGER", false}};

constexpr const char* kCreate =
    "CREATE TABLE IF NOT EXISTS messages (key INTEGER PRIMARY KEY, topic TEXT NOT NULL,"
    " payload BLOB NOT NULL, historical INTEGER NOT NULL);"
    "CREATE TABLE IF NOT EXISTS meta (name TEXT PRIMARY KEY, value INTEGER NOT NULL);";

std::string Text(sqlite3_stmt* stmt, int column) {
  const auto* text = sqlite3_column_text(stmt, column);
  return text == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(text));
}

std::string Describe(const std::vector<Column>& columns) {
  std::string out;
  for (const Column& c : columns) {
    if (!out.empty()) out += ", ";
    out += std::string(c.name) + " " + c.type + (c.key ? " PRIMARY KEY" : "");
  }
  return out;
}

// Compares the table's columns, their declared types and its primary key
// with what the store writes.
void CheckColumns(const StoreDb& db, const char* table, const std::vector<Column>& want) {
  const SqliteStmt stmt = db.Prepare(
      std::string("SELECT name, upper(type), pk FROM pragma_table_info('") + table + "')");
  const StmtUse use(stmt.get());
  std::vector<std::string> names;
  std::vector<std::string> types;
  bool same = true;
  std::size_t index = 0;
  while (db.Step(use, "cannot read the table " + std::string(table))) {
    names.push_back(Text(stmt.get(), 0));
    types.push_back(Text(stmt.get(), 1));
    const bool key = sqlite3_column_int(stmt.get(), 2) != 0;
    same = same && index < want.size() && names.back() == want[index].name &&
           types.back() == want[index].type && key == want[index].key;
    ++index;
  }
  if (same && index == want.size()) return;
  std::string found;
  for (std::size_t i = 0; i < names.size(); ++i) {
    found += (i == 0 ? "" : ", ") + names[i] + (types[i].empty() ? "" : " " + types[i]);
  }
  db.Refuse("table " + std::string(table) + " has columns (" + found + "), expected (" +
            Describe(want) + ")");
}

// Lists the file's objects; also the first read, which finds a file that is
// not a database at all.
void CheckObjects(const StoreDb& db, bool* has_messages, bool* has_meta) {
  const SqliteStmt stmt = db.Prepare("SELECT type, name, tbl_name FROM sqlite_master");
  const StmtUse use(stmt.get());
  std::string foreign;
  while (db.Step(use, "cannot read")) {
    const std::string type = Text(stmt.get(), 0);
    const std::string name = Text(stmt.get(), 1);
    const std::string table = Text(stmt.get(), 2);
    if (name.rfind("sqlite_", 0) == 0) continue;
    const bool ours = table == "messages" || table == "meta";
    if (ours && name == table && type != "table") {
      db.Refuse(name + " is a " + type + ", expected a table");
    }
    if (!ours) {
      foreign += (foreign.empty() ? "" : ", ") + name;
    } else if (name == "messages") {
      *has_messages = true;
    } else if (name == "meta") {
      *has_meta = true;
    }
  }
  if (!foreign.empty()) {
    db.Refuse("not a store of the bridge: the file holds other tables (" + foreign + ")");
  }
}

}  // namespace

void PrepareStoreSchema(const StoreDb& db) {
  bool has_messages = false;
  bool has_meta = false;
  CheckObjects(db, &has_messages, &has_meta);
  if (has_messages) CheckColumns(db, "messages", kMessageColumns);
  if (has_meta) CheckColumns(db, "meta", kMetaColumns);
  {
    // Sizes are counted in bytes of UTF-8 topics.
    const SqliteStmt stmt = db.Prepare("PRAGMA encoding");
    const StmtUse use(stmt.get());
    const std::string encoding = db.Step(use, "cannot read") ? Text(stmt.get(), 0) : "";
    if (encoding != "UTF-8") db.Refuse("the file's text encoding is " + encoding + ", not UTF-8");
  }
  // WAL lets a commit cost one append to the log; NORMAL syncs it only at
  // checkpoints, which can lose the last commits on power loss but never
  // damages the file.
  db.Exec("PRAGMA journal_mode=WAL", "cannot set the journal up");
  db.Exec("PRAGMA synchronous=NORMAL", "cannot set the journal up");
  db.Exec(kCreate, "cannot create the tables");
}

}  // namespace qxsym::bridge
