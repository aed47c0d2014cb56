// One controller's metrics: the leaf values of its configured tags, each
// with a stable alias, their latest values, and how a poll's events and a
// command's metrics map onto them. No I/O: the Device feeds it.
#pragma once

#include <QXSymCore.h>

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "Sparkplug.h"

namespace qxsym::bridge {

/// What the device knows of one leaf of a layout (an array leaf's elements
/// share it).
struct LeafInfo {
  std::uint32_t tyvar = 0;
  std::uint32_t element_size = 0;
  bool read_only = false;
  std::string description;
  std::vector<std::pair<std::string, std::string>> attributes;  ///< name, text
};

/// One value to write, taken from a command.
struct WriteRequest {
  std::string path;
  QXSymCoreValue value{};
  std::string text;  ///< a text's or bytes' value (value.data is left null)

  /// The value with data pointing at text, for writing.
  QXSymCoreValue Bound() const {
    QXSymCoreValue v = value;
    if (v.kind == QXSymCoreText || v.kind == QXSymCoreBytes) {
      v.data = reinterpret_cast<const std::uint8_t*>(text.data());
      v.length = static_cast<std::uint32_t>(text.size());
    }
    return v;
  }
};

/// Whether @p text matches @p pattern ('*' any run, '?' one character).
bool GlobMatch(const std::string& pattern, const std::string& text);

class DeviceModel {
 public:
  explicit DeviceModel(std::vector<std::string> writable) : writable_(std::move(writable)) {}

  /// Replaces what is known of the leaves, by leaf path ("Temps",
  /// "Line.Main.Speed"). Metrics of paths no longer there are dropped at
  /// the next Apply; aliases of the others stay.
  void SetLeaves(std::map<std::string, LeafInfo> leaves);

  enum class Applied {
    kKnown,   ///< a metric of the last birth
    kAdded,   ///< a new metric of a known leaf: a birth is due
    kUnknown  ///< not a known leaf: the leaves need describing again
  };
  /// Takes one change event.
  Applied Apply(const QXSymCoreEvent& event);

  /// Every metric with its name, alias, data type, current value and
  /// properties, in alias order.
  Payload Birth(std::uint64_t timestamp_ms) const;

  /// The metrics changed since the last call (named and aliased), oldest
  /// change of a metric replaced by its newest; empty when none.
  Payload TakeChanges(std::uint64_t timestamp_ms);

  /// Turns a command's metrics into writes. A metric is found by name or
  /// alias; one that is unknown, not writable or whose value does not fit
  /// the leaf is refused with a reason in @p refusals.
  std::vector<WriteRequest> Commands(const Payload& command,
                                     std::vector<std::string>* refusals) const;

  std::size_t size() const { return metrics_.size(); }
  bool IsWritable(const std::string& path) const;

 private:
  struct Entry {
    std::string path;
    std::uint64_t alias = 0;
    const LeafInfo* leaf = nullptr;
    DataType type = DataType::kUnknown;
    Value value;
    std::uint32_t status = QXSymCoreBad;
    std::uint64_t timestamp_ms = 0;
    bool changed = false;
  };

  const LeafInfo* LeafOf(const std::string& path) const;
  Metric MetricOf(const Entry& entry, bool named) const;
  bool Convert(const Metric& m, const Entry& e, WriteRequest* out, std::string* why) const;

  std::vector<std::string> writable_;
  std::map<std::string, LeafInfo> leaves_;
  std::vector<Entry> metrics_;                              // in alias order
  std::unordered_map<std::string, std::size_t> index_;      // path -> metrics_
  std::unordered_map<std::uint64_t, std::size_t> aliases_;  // alias -> metrics_
  std::uint64_t next_alias_ = 1;
};

/// A value of the core as a metric's value (texts and bytes copied).
Value ValueOf(const QXSymCoreValue& value);

}  // namespace qxsym::bridge
