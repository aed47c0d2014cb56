// Where a registered workspace leaves its closed channel and a registered
// group its member table when they are destroyed. The layer that owns the
// objects (the library state) hands each registered object its sink; the
// sink drops what it holds at the end of every workspace close and at start
// and stop. Copies, and objects made without a sink, simply let go of what
// they share: a call still running on it keeps it alive until it ends.
// What a sink holds it only keeps and lets go of, so it is held without its
// type: the library state need not know what a channel is.
#pragma once

#include <memory>

namespace qxsym {

class RetiredSink {
 public:
  virtual void RetireChannel(std::shared_ptr<void> channel) = 0;
  virtual void RetireGroupData(std::shared_ptr<void> memberTable) = 0;

 protected:
  ~RetiredSink() = default;
};

}  // namespace qxsym
