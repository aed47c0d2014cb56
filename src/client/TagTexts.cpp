#include "TagTexts.h"

#include "LeafCodec.h"
#include "Session.h"

namespace qxsym::client {

QXSymResult DescriptionOf(Session& session, const std::string& path, std::string* utf8) {
  TagFacts facts;
  QXSymResult rc = session.Tag(path, &facts);
  if (rc != symResOk) return rc;
  char buffer[QXSYM_MAX_STRING] = {};
  std::uint16_t length = sizeof buffer;
  rc = session.Sent(QXSym_GetTagDescr(facts.handle, buffer, &length));
  if (rc == symResOk) *utf8 = TextToUtf8(buffer, session.encoding());
  return rc;
}

QXSymResult AttributeOf(Session& session, const std::string& path, const std::string& name,
                        std::string* utf8) {
  std::string spelt;
  CodecError err;
  if (!TextFromUtf8(name, session.encoding(), &spelt, &err) || spelt.size() >= QXSYM_MAX_STRING ||
      spelt.find('\0') != std::string::npos) {
    return symResInvalidParameter;
  }
  TagFacts facts;
  QXSymResult rc = session.Tag(path, &facts);
  if (rc != symResOk) return rc;
  char buffer[QXSYM_MAX_STRING] = {};
  std::uint16_t length = sizeof buffer;
  rc = session.Sent(QXSym_GetTagAttribute(facts.handle, spelt.c_str(), buffer, &length));
  if (rc == symResOk) *utf8 = TextToUtf8(buffer, session.encoding());
  return rc;
}

}  // namespace qxsym::client
