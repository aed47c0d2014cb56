// Sparkplug B payloads and topics: plain structs for the bridge's logic, and
// their protobuf encoding. Nothing here knows MQTT or the controllers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qxsym::bridge {

/// Sparkplug B metric data types (the numbers are the payload's).
enum class DataType : std::uint32_t {
  kUnknown = 0,
  kInt8 = 1,
  kInt16 = 2,
  kInt32 = 3,
  kInt64 = 4,
  kUInt8 = 5,
  kUInt16 = 6,
  kUInt32 = 7,
  kUInt64 = 8,
  kFloat = 9,
  kDouble = 10,
  kBoolean = 11,
  kString = 12,
  kDateTime = 13,
  kText = 14,
  kBytes = 17,
};

/// One value of a metric or property. Which member counts follows the
/// data type: b (Boolean), i (signed integers), u (unsigned integers and
/// DateTime), f (Float, Double), text (String, Text), bytes (Bytes).
struct Value {
  bool is_null = false;
  bool b = false;
  std::int64_t i = 0;
  std::uint64_t u = 0;
  double f = 0.0;
  std::string text;
  std::vector<std::uint8_t> bytes;
};

/// A property of a metric (its description, unit, read-only flag, ...).
struct Property {
  std::string key;
  DataType type = DataType::kString;  ///< kString, kBoolean, kInt32, kInt64 or kDouble
  Value value;
};

struct Metric {
  std::string name;  ///< empty: the metric is named by its alias alone
  bool has_alias = false;
  std::uint64_t alias = 0;
  bool has_timestamp = false;
  std::uint64_t timestamp_ms = 0;  ///< UTC, ms since the Unix epoch
  DataType datatype = DataType::kUnknown;
  bool is_historical = false;
  Value value;  ///< value.is_null: the metric has no value
  std::vector<Property> properties;
};

struct Payload {
  bool has_timestamp = false;
  std::uint64_t timestamp_ms = 0;
  bool has_seq = false;
  std::uint64_t seq = 0;
  std::vector<Metric> metrics;
};

/// Limits of what DecodePayload accepts (commands come from the network).
constexpr std::size_t kMaxPayloadBytes = 16 * 1024 * 1024;
constexpr std::size_t kMaxDecodedMetrics = 100000;

/// The protobuf encoding of @p payload.
std::vector<std::uint8_t> EncodePayload(const Payload& payload);

/// Decodes a payload; false with @p error set (for people) when the bytes
/// are not one, are larger than kMaxPayloadBytes or hold more than
/// kMaxDecodedMetrics metrics. A metric's value is read by its datatype:
/// Int8/16/32 from the low bits of int_value, sign-extended; unsigned
/// values as sent (not masked to their width). A metric or property without
/// a datatype takes one from the value member that is set (int_value
/// UInt32, long_value UInt64, float, double, boolean, string, bytes). Types
/// without a plain value (data sets, templates, arrays, ...) read as null;
/// a value of another kind than its datatype (a String in int_value) fails.
bool DecodePayload(const std::uint8_t* data, std::size_t size, Payload* out, std::string* error);

/// Re-encodes a stored payload for sending: sets its seq and, when
/// @p historical, marks every metric historical. False when @p data is not
/// a payload.
bool RestampPayload(const std::vector<std::uint8_t>& data, std::uint64_t seq, bool historical,
                    std::vector<std::uint8_t>* out);

/// The data type of a controller's basic type (a QXSymTyVar): by the client
/// core's value kind and size: BOOL Boolean; signed/unsigned integers by
/// size (Int8..Int64, UInt8..UInt64, bit strings unsigned); REAL Float,
/// LREAL Double; STRING String; every other type Bytes.
DataType DataTypeOf(std::uint32_t tyvar, std::uint32_t element_size);

/// Message types of the topic namespace.
enum class MessageType { kNBirth, kNDeath, kNData, kNCmd, kDBirth, kDDeath, kDData, kDCmd };

/// "spBv1.0/<group>/<type>/<node>[/<device>]"; device empty for node messages.
std::string Topic(const std::string& group, MessageType type, const std::string& node,
                  const std::string& device = std::string());

/// Splits a topic of @p group and @p node; false when it is not one of theirs.
bool ParseTopic(const std::string& topic, const std::string& group, const std::string& node,
                MessageType* type, std::string* device);

/// A payload's seq: 0 to 255, then 0 again.
class SequenceCounter {
 public:
  /// The seq for the next message, advancing the counter.
  std::uint64_t Next() {
    const std::uint64_t seq = next_;
    next_ = (next_ + 1) % 256;
    return seq;
  }
  /// The next message is a node birth: it gets 0.
  void Reset() { next_ = 0; }

 private:
  std::uint64_t next_ = 0;
};

}  // namespace qxsym::bridge
