// The store-and-forward file: messages come back in the order they were
// made, across restarts, within the size bound; files that are not a store
// of ours are refused and damaged ones never crash the bridge.
#include <Store.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace qxsym::bridge {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kPlenty = 1 << 20;

StoredMessage Message(std::uint64_t key, std::string topic, std::size_t payload_size,
                      bool historical = false) {
  StoredMessage m;
  m.key = key;
  m.topic = std::move(topic);
  for (std::size_t i = 0; i < payload_size; ++i) m.payload.push_back(static_cast<uint8_t>(i * 7));
  m.historical = historical;
  return m;
}

std::vector<std::uint64_t> Keys(const std::vector<StoredMessage>& messages) {
  std::vector<std::uint64_t> keys;
  for (const auto& m : messages) keys.push_back(m.key);
  return keys;
}

std::vector<std::uint64_t> AllKeys(Store& store) { return Keys(store.Peek(0, 1000)); }

// Runs SQL on a file with a connection of the test's own.
void ExecSql(const fs::path& path, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  char* error = nullptr;
  const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
  const std::string message = error == nullptr ? "" : error;
  sqlite3_free(error);
  sqlite3_close(db);
  ASSERT_EQ(rc, SQLITE_OK) << message;
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class StoreTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("qxsym-bridge-store-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    path_ = (dir_ / "line1.db").string();
  }
  void TearDown() override {
    std::error_code ec;
    fs::permissions(dir_ / "ro", fs::perms::owner_all, ec);
    fs::remove_all(dir_, ec);
  }

  // Expects opening @p path to be refused with a message naming it and
  // holding @p reason.
  static void ExpectRefused(const std::string& path, const std::string& reason) {
    try {
      Store store(path, kPlenty);
      ADD_FAILURE() << path << " was opened";
    } catch (const StoreError& e) {
      const std::string what = e.what();
      EXPECT_NE(what.find(path), std::string::npos) << what;
      EXPECT_NE(what.find(reason), std::string::npos) << what;
    }
  }

  fs::path dir_;
  std::string path_;
};

TEST_F(StoreTest, KeepsTheOrderThroughAppendPeekAndRemove) {
  Store store(path_, kPlenty);
  EXPECT_EQ(store.NextKey(), 1u);
  StoredMessage with_zeros = Message(1, "spBv1.0/G/DDATA/N/Oven1", 0);
  with_zeros.payload = {0, 1, 0, 0xFF, 0};
  store.Append({with_zeros, Message(2, "spBv1.0/G/DDEATH/N/Oven1", 0, true), Message(3, "t", 9)});
  store.Append({Message(4, "u", 3), Message(5, "v", 4, true)});
  EXPECT_EQ(store.NextKey(), 6u);

  const auto all = store.Peek(0, 100);
  ASSERT_EQ(Keys(all), (std::vector<std::uint64_t>{1, 2, 3, 4, 5}));
  EXPECT_EQ(all[0].topic, with_zeros.topic);
  EXPECT_EQ(all[0].payload, with_zeros.payload);
  EXPECT_FALSE(all[0].historical);
  EXPECT_TRUE(all[1].historical);
  EXPECT_TRUE(all[1].payload.empty());
  EXPECT_EQ(all[2].payload, Message(3, "t", 9).payload);
  EXPECT_EQ(store.Count(), 5u);
  EXPECT_EQ(store.Bytes(), 23u + 5 + 24 + 0 + 1 + 9 + 1 + 3 + 1 + 4);

  // after_key and max_count page through the queue.
  EXPECT_EQ(Keys(store.Peek(2, 2)), (std::vector<std::uint64_t>{3, 4}));
  EXPECT_EQ(Keys(store.Peek(5, 10)), std::vector<std::uint64_t>{});
  EXPECT_EQ(Keys(store.Peek(0, 0)), std::vector<std::uint64_t>{});
  EXPECT_EQ(Keys(store.Peek(UINT64_MAX, 10)), std::vector<std::uint64_t>{});

  store.Remove(3);
  store.Remove(3);
  store.Remove(99);
  store.Remove(UINT64_MAX);
  EXPECT_EQ(AllKeys(store), (std::vector<std::uint64_t>{1, 2, 4, 5}));
  EXPECT_EQ(Keys(store.Peek(2, 1)), std::vector<std::uint64_t>{4});
  EXPECT_EQ(store.Count(), 4u);
  EXPECT_EQ(store.Bytes(), 23u + 5 + 24 + 0 + 1 + 3 + 1 + 4);
}

TEST_F(StoreTest, RefusesKeysThatAreNotAboveEveryKeyUsed) {
  Store store(path_, kPlenty);
  store.Append({Message(5, "a", 1)});
  EXPECT_THROW(store.Append({Message(5, "b", 1)}), StoreError);
  EXPECT_THROW(store.Append({Message(7, "b", 1), Message(6, "c", 1)}), StoreError);
  EXPECT_THROW(store.Append({Message(UINT64_MAX, "b", 1)}), StoreError);
  EXPECT_EQ(AllKeys(store), std::vector<std::uint64_t>{5});
  EXPECT_EQ(store.NextKey(), 6u);
  // Emptying the queue does not make its keys free again.
  store.Remove(5);
  EXPECT_THROW(store.Append({Message(5, "a", 1)}), StoreError);
  EXPECT_EQ(store.NextKey(), 6u);
}

TEST_F(StoreTest, SurvivesCloseAndReopen) {
  const std::string topic = "spBv1.0/Plänt/DDATA/Línea1/Öfen";  // bytes, not characters
  std::uint64_t bytes = 0;
  {
    Store store(path_, kPlenty);
    store.Append({Message(1, topic, 10), Message(2, topic, 0, true)});
    store.Append({Message(3, "x", 500)});
    bytes = store.Bytes();
    EXPECT_EQ(bytes, 2 * topic.size() + 10 + 1 + 500);
  }
  {
    Store store(path_, kPlenty);
    EXPECT_EQ(store.Count(), 3u);
    EXPECT_EQ(store.Bytes(), bytes);
    EXPECT_EQ(store.NextKey(), 4u);
    const auto all = store.Peek(0, 10);
    ASSERT_EQ(Keys(all), (std::vector<std::uint64_t>{1, 2, 3}));
    EXPECT_EQ(all[0].topic, topic);
    EXPECT_EQ(all[0].payload, Message(1, topic, 10).payload);
    EXPECT_TRUE(all[1].historical);
    store.Remove(1);
    store.Remove(2);
    store.Remove(3);
    EXPECT_EQ(store.Bytes(), 0u);
  }
  // An emptied store still hands out keys above the old ones.
  Store store(path_, kPlenty);
  EXPECT_EQ(store.Count(), 0u);
  EXPECT_EQ(store.Bytes(), 0u);
  EXPECT_EQ(store.NextKey(), 4u);
}

// Every message below is 30 bytes against a bound of 100.
TEST_F(StoreTest, DropsTheOldestWhenOverTheBound) {
  auto m30 = [](std::uint64_t key) { return Message(key, "0123456789", 20); };
  {
    Store store(path_, 100);
    store.Append({m30(1), m30(2), m30(3)});
    EXPECT_EQ(store.Dropped(), 0u);
    store.Append({m30(4)});
    EXPECT_EQ(AllKeys(store), (std::vector<std::uint64_t>{2, 3, 4}));
    EXPECT_EQ(store.Dropped(), 1u);
    EXPECT_EQ(store.Bytes(), 90u);

    // A batch larger than the bound keeps only its newest.
    store.Append({m30(5), m30(6), m30(7), m30(8), m30(9)});
    EXPECT_EQ(AllKeys(store), (std::vector<std::uint64_t>{7, 8, 9}));
    EXPECT_EQ(store.Dropped(), 6u);

    // A message that could never fit goes alone; the others stay.
    store.Append({Message(10, "big", 98)});
    EXPECT_EQ(AllKeys(store), (std::vector<std::uint64_t>{7, 8, 9}));
    EXPECT_EQ(store.Dropped(), 7u);
    EXPECT_EQ(store.NextKey(), 11u);
    store.Append({m30(11), Message(12, "big", 200), m30(13)});
    EXPECT_EQ(AllKeys(store), (std::vector<std::uint64_t>{9, 11, 13}));
    EXPECT_EQ(store.Dropped(), 10u);
    EXPECT_EQ(store.Count(), 3u);
    EXPECT_EQ(store.Bytes(), 90u);
  }
  // A smaller bound applies at open; Dropped counts from this open.
  {
    Store store(path_, 40);
    EXPECT_EQ(AllKeys(store), std::vector<std::uint64_t>{13});
    EXPECT_EQ(store.Dropped(), 2u);
    EXPECT_EQ(store.Bytes(), 30u);
  }
  Store store(path_, 40);
  EXPECT_EQ(store.Dropped(), 0u);
  EXPECT_EQ(store.Count(), 1u);
}

TEST_F(StoreTest, TrimsLongQueuesOneMessageAtATime) {
  // A bound of ten messages, filled many times over by single appends.
  Store store(path_, 10 * 30);
  for (std::uint64_t key = 1; key <= 2000; ++key) {
    store.Append({Message(key, "0123456789", 20)});
    ASSERT_EQ(store.Count(), std::min<std::uint64_t>(key, 10)) << key;
    ASSERT_EQ(store.Bytes(), 30 * store.Count());
  }
  EXPECT_EQ(store.Count(), 10u);
  EXPECT_EQ(store.Dropped(), 1990u);
  EXPECT_EQ(Keys(store.Peek(0, 1)), std::vector<std::uint64_t>{1991});
}

TEST_F(StoreTest, RefusesFilesThatAreNotAStore) {
  {
    const std::string text = "broker: { host: 127.0.0.1 }\n" + std::string(600, '#') + "\n";
    std::ofstream(path_) << text;
    ExpectRefused(path_, "not an SQLite database");
    EXPECT_EQ(ReadAll(path_), text) << "a refused file must be left as it was";
  }
  struct Case {
    const char* sql;
    const char* reason;
  };
  const Case cases[] = {
      {"CREATE TABLE messages (key INTEGER PRIMARY KEY, topic TEXT, payload TEXT)",
       "table messages has columns (key INTEGER, topic TEXT, payload TEXT)"},
      {"CREATE TABLE messages (key INTEGER, topic TEXT, payload BLOB, historical INTEGER)",
       "table messages has columns"},
      {"CREATE TABLE meta (name TEXT, value INTEGER)", "table meta has columns"},
      {"CREATE VIEW messages AS SELECT 1", "messages is a view"},
      {"CREATE TABLE users (id INTEGER PRIMARY KEY, name TEXT)", "other tables (users)"},
      {"PRAGMA encoding = 'UTF-16le'; CREATE TABLE meta (name TEXT PRIMARY KEY, value INTEGER)",
       "encoding is UTF-16le"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    fs::remove(path_);
    ExecSql(path_, c.sql);
    ExpectRefused(path_, c.reason);
  }
}

TEST_F(StoreTest, RefusesFoldersItCannotUse) {
  const fs::path missing = dir_ / "nowhere";
  ExpectRefused((missing / "s.db").string(), "folder " + missing.string() + " does not exist");
  EXPECT_FALSE(fs::exists(missing));
  ExpectRefused(dir_.string(), "is a folder");
  std::ofstream(dir_ / "plain") << "x";
  ExpectRefused((dir_ / "plain" / "s.db").string(), "is not a folder");

  fs::create_directories(dir_ / "ro");
  fs::permissions(dir_ / "ro", fs::perms::owner_read | fs::perms::owner_exec);
  if (::geteuid() == 0) {
    ExpectRefused("/proc/qxsym-store-test.db", "cannot open");  // root writes anywhere else
  } else {
    ExpectRefused((dir_ / "ro" / "s.db").string(),
                  "folder " + (dir_ / "ro").string() + " is not writable");
  }
}

TEST_F(StoreTest, RefusesAFileItCannotWrite) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes any file";
  { Store store(path_, kPlenty); }
  fs::permissions(path_, fs::perms::owner_read);
  ExpectRefused(path_, "not writable");
}

// Damage of each kind: the store either refuses with StoreError or goes on.
TEST_F(StoreTest, NeverCrashesOnADamagedFile) {
  auto fill = [this] {
    fs::remove(path_);
    Store store(path_, kPlenty);
    std::vector<StoredMessage> batch;
    for (std::uint64_t key = 1; key <= 300; ++key) batch.push_back(Message(key, "t/x", 150));
    store.Append(batch);
  };
  auto use = [this] {
    try {
      Store store(path_, kPlenty);
      const auto messages = store.Peek(0, 1000);
      if (!messages.empty()) store.Remove(messages.front().key);
      store.Append({Message(store.NextKey(), "t/y", 10)});
    } catch (const StoreError& e) {
      EXPECT_NE(std::string(e.what()).find(path_), std::string::npos) << e.what();
    }
  };
  const std::uintmax_t sizes[] = {100, 4096 + 17, 20000};
  for (std::uintmax_t size : sizes) {
    SCOPED_TRACE("cut to " + std::to_string(size));
    fill();
    fs::resize_file(path_, size);
    use();
  }
  const std::streamoff offsets[] = {16, 28, 100, 4096, 8192 + 8, 30000};
  for (std::streamoff offset : offsets) {
    SCOPED_TRACE("overwritten at " + std::to_string(offset));
    fill();
    std::fstream f(path_, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(offset);
    f.write(std::string(600, '\xA5').data(), 600);
    f.close();
    use();
  }
}

TEST_F(StoreTest, RowsWithoutValuesComeOutEmpty) {
  ExecSql(path_,
          "CREATE TABLE messages (key INTEGER PRIMARY KEY, topic TEXT, payload BLOB,"
          " historical INTEGER); INSERT INTO messages VALUES (4, NULL, NULL, NULL)");
  Store store(path_, kPlenty);
  EXPECT_EQ(store.NextKey(), 5u);
  const auto all = store.Peek(0, 10);
  ASSERT_EQ(Keys(all), std::vector<std::uint64_t>{4});
  EXPECT_TRUE(all[0].topic.empty());
  EXPECT_TRUE(all[0].payload.empty());
  store.Remove(4);
  EXPECT_EQ(store.Count(), 0u);
}

}  // namespace
}  // namespace qxsym::bridge
