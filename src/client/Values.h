// Reading and writing the values of a set of tags, members or elements in
// one group exchange, to and from plain leaf values.
//
// One rule for partial values: a write names every value it gives by
// path and gives every leaf of what it names, so a structure or array is
// written whole or through the paths of its parts (`Line.Speed`,
// `Temps[3]`); a leaf left out is never written, not even as zeros. Parts
// go to the source each by its own path, so the bytes between the given
// leaves stay as they are.
#pragma once

#include <QXSymbols.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Layout.h"
#include "LeafCodec.h"

namespace qxsym::client {

class Session;

struct ReadResult {
  QXSymResult code = symResOk;
  std::string message;  // why it failed, for people; empty on success
  std::shared_ptr<const Layout> layout;
  // layout->value_count values: the leaves in order, the elements of an
  // array leaf in order with the last index fastest.
  std::vector<LeafValue> values;
};

struct WriteItem {
  std::string path;
  std::vector<LeafValue> values;  // as ReadResult::values
};

struct WriteResult {
  QXSymResult code = symResOk;
  std::string message;
};

class Values {
 public:
  // A value reply of another length than the value, however it travelled.
  static constexpr QXSymResult kShortReply = symResInvalidTagSize;

  // Group members one call gathers: well below the tags a session keeps,
  // so no tag of the call is closed while the call still needs it.
  static constexpr std::size_t kMaxParts = 8192;

  explicit Values(Session& session) : session_(session) {}

  // One result per path, in order. The paths that can be read are read
  // together in one exchange and delivered even when others fail. A value
  // reply shorter than the values is an error (never stale bytes or zeros).
  std::vector<ReadResult> Read(const std::vector<std::string>& paths);

  // As Read, but the values always travel as one group, a single part
  // included, so that reading the same paths again costs exactly one
  // exchange. *exchange receives that exchange's result (symResOk when
  // nothing had to be sent); the items carry it as well.
  std::vector<ReadResult> ReadAsGroup(const std::vector<std::string>& paths, QXSymResult* exchange);

  // Writes all items in one exchange. Every value is checked first; when
  // one is refused nothing is written (the refused items carry their
  // reason, the others symResNotOk). Returns the first failure or symResOk.
  QXSymResult Write(const std::vector<WriteItem>& items, std::vector<WriteResult>* results);

 private:
  struct Planned {
    std::size_t item = 0;
    std::size_t member = 0;  // index into the group's members
    Unit unit;
  };
  struct Plan {
    std::vector<QXSymTagHandle> members;
    std::vector<std::uint32_t> member_sizes;
    std::map<QXSymTagHandle, std::size_t> index;  // member by tag
    std::vector<Planned> parts;
    bool group_always = false;
  };

  QXSymResult AddUnits(std::size_t item, const std::vector<Unit>& units, bool allow_shared,
                       Plan* plan, std::string* message);
  static void Unplan(std::size_t first_new, Plan* plan);
  std::vector<ReadResult> ReadPlanned(const std::vector<std::string>& paths, Plan* plan,
                                      QXSymResult* exchange);
  static QXSymResult Settle(QXSymResult rc, const std::string& message,
                            std::vector<WriteResult>* results);
  QXSymResult ReadAlone(QXSymTagHandle tag, std::vector<std::uint8_t>* out);
  QXSymResult Fetch(const Plan& plan, std::vector<std::vector<std::uint8_t>>* bytes,
                    std::string* message);
  QXSymGroupHandle GroupOf(const Plan& plan, QXSymResult* rc, std::string* message);
  bool Decode(const Layout& layout, const std::vector<std::uint8_t>& bytes, ReadResult* out);
  bool Encode(const Layout& layout, const std::vector<LeafValue>& values,
              std::vector<std::uint8_t>* bytes, WriteResult* out);

  Session& session_;
};

}  // namespace qxsym::client
