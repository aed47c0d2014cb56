// Exported function of the source's version.
#include <QXSymCore.h>

#include "CoreApiRegistry.h"

using namespace qxsym::client;
using namespace qxsym::client::capi;

extern "C" {

QXSymResult QXSymCore_ServerVersion(QXSymCoreHandle session, uint8_t version[4],
                                    uint32_t* full_support) {
  if (version == nullptr) return symResInvalidParameter;
  return Guard([&]() -> QXSymResult {
    auto object = Find<SessionObject>(session, Kind::kSession);
    if (!object) return symResInvalidHandle;
    std::lock_guard<std::mutex> lock(object->busy);
    if (!object->session) return symResInvalidHandle;
    Session& s = *object->session;
    return Connected(s, [&] {
      const QXSymResult rc = s.Sent(QXSym_GetServerVersion(s.workspace(), &version[0], &version[1],
                                                           &version[2], &version[3]));
      if (rc == symResOk && full_support != nullptr) *full_support = s.full_support() ? 1 : 0;
      return rc;
    });
  });
}

}  // extern "C"
