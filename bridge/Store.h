// Store-and-forward: data messages kept in an SQLite file while the broker
// cannot take them, in the order they were made, bounded in size, and kept
// across restarts of the bridge.
//
// A Store is used by one thread at a time (the bridge's publisher); it holds
// no lock of its own. The file should have one Store open on it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace qxsym::bridge {

/// The store file cannot be opened, read or written; what() says why.
class StoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct StoredMessage {
  std::uint64_t key = 0;  ///< the order of making: unique and increasing
  std::string topic;
  std::vector<std::uint8_t> payload;
  bool historical = false;  ///< kept because the broker was away
};

class Store {
 public:
  /// Opens (creating when missing) the store at @p path, holding at most
  /// @p max_bytes of topics and payloads. Throws StoreError.
  Store(const std::string& path, std::uint64_t max_bytes);
  ~Store();
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  /// A key greater than every key ever stored in this file.
  std::uint64_t NextKey() const;

  /// Adds messages (keys increasing, above those stored) in one
  /// transaction; then drops the oldest while the store holds more than
  /// max_bytes, counting them. A message larger than max_bytes alone is
  /// dropped and counted. Throws StoreError.
  void Append(const std::vector<StoredMessage>& messages);

  /// Up to @p max_count messages with keys above @p after_key, oldest first,
  /// as copies. Throws StoreError.
  std::vector<StoredMessage> Peek(std::uint64_t after_key, std::size_t max_count);

  /// Forgets the message with @p key (sent and acknowledged); none is fine.
  /// Throws StoreError.
  void Remove(std::uint64_t key);

  std::size_t Count() const;      ///< messages held
  std::uint64_t Bytes() const;    ///< their topics' and payloads' bytes
  std::uint64_t Dropped() const;  ///< messages dropped for room since this open

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qxsym::bridge
