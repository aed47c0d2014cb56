// Identity of the workspace an object belongs to. Every workspace, tag, type
// and group answers it, so the API and the groups can tell whether two objects
// share one workspace: the same source (channel or host table) and the same
// workspace reference (Remote) or context (Direct).
#pragma once

#include <cstdint>

namespace qxsym {

struct WorkspaceKey {
  const void* source = nullptr;  // the channel or the host's table
  std::uint32_t w0 = 0;          // reference word 0, or the context
  std::uint32_t w1 = 0;          // reference word 1 (0 for Direct)

  bool operator==(const WorkspaceKey& o) const {
    return source == o.source && w0 == o.w0 && w1 == o.w1;
  }
  bool operator!=(const WorkspaceKey& o) const { return !(*this == o); }
};

}  // namespace qxsym
