// The texts of one tag, member or element for people: its description and
// its attributes, decoded from the session's encoding to UTF-8.
#pragma once

#include <QXSymbols.h>

#include <string>

namespace qxsym::client {

class Session;

// The description of the tag at path ("" when it has none).
QXSymResult DescriptionOf(Session& session, const std::string& path, std::string* utf8);

// The attribute `name` (UTF-8) of the tag at path; symResAttributeNotFound
// from the source when it has no such attribute, symResInvalidParameter
// when the name cannot be spelt in the session's encoding.
QXSymResult AttributeOf(Session& session, const std::string& path, const std::string& name,
                        std::string* utf8);

}  // namespace qxsym::client
