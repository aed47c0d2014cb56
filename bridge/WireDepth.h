// A walk over a payload's protobuf bytes before they are unpacked: the
// generated decoder recurses once per nested message and a template holds
// metrics that hold templates, so a hostile payload could nest deep enough
// to exhaust the stack. This walk refuses that first, without recursion.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qxsym::bridge {

/// The deepest nesting of messages a payload may have (a payload holding a
/// metric holding a property set is 3 deep).
constexpr std::size_t kMaxPayloadDepth = 24;

/// True when @p data is well-formed protobuf wire data of a payload whose
/// messages nest at most kMaxPayloadDepth deep; else false with @p error.
bool CheckPayloadWire(const std::uint8_t* data, std::size_t size, std::string* error);

}  // namespace qxsym::bridge
