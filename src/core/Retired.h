// Deferred destruction of what closed workspaces and deleted groups leave
// behind. A destroyed Remote workspace hands its (closed) channel here and a
// destroyed group its member table; the library drops them at the end of
// every QXSym_CloseWorkspace and at start and stop. Both are shared: a copy
// or a tag still holding a reference keeps the object alive until it lets go.
#pragma once

#include <memory>

namespace qxsym {

class CCommunication;

void RetireChannel(std::shared_ptr<CCommunication> channel);
void RetireGroupData(std::shared_ptr<void> memberTable);

}  // namespace qxsym
