#include "TypeShape.h"

#include <cctype>
#include <cstdlib>

#include "Session.h"

namespace qxsym::cli {
namespace {

constexpr int kMaxDepth = 32;
constexpr std::size_t kMaxTypes = 100000;

struct Walker {
  std::size_t types = 0;

  std::unique_ptr<TypeShape> Walk(QXSymTypeHandle type, int depth) {
    if (depth > kMaxDepth || ++types > kMaxTypes) {
      throw CliError(symResNotOk, "the type is nested too deeply or is too large to show");
    }
    auto shape = std::make_unique<TypeShape>();
    shape->name = TypeName(type);
    auto what = [&] { return "cannot read type '" + shape->name + "'"; };
    Check(QXSym_TypeGetSize(type, &shape->size), what);
    Check(QXSym_TypeGetProperties(type, &shape->properties), what);
    if (shape->is_array()) {
      std::uint32_t n = 0;
      Check(QXSym_TypeGetArrayNumDimensions(type, &n), what);
      if (n == 0 || n > 3) {
        throw CliError(symResNotOk, "type '" + shape->name + "' reports " + std::to_string(n) +
                                        " array dimensions");
      }
      shape->dims.resize(n);
      Check(QXSym_TypeGetArrayDimensions(type, shape->dims.data(), static_cast<uint8_t>(n)), what);
      shape->lower = BoundsFromName(shape->name, n);
      Type element;
      Check(QXSym_TypeGetChild(type, 0, element.out()), what);
      shape->element = Walk(element.get(), depth + 1);
    } else if (shape->is_record()) {
      std::uint32_t n = 0;
      Check(QXSym_TypeGetNumChildren(type, &n), what);
      // Refused before the first member is asked for: a count from a broken
      // controller would otherwise cost a request per member.
      if (n > kMaxTypes - types) {
        throw CliError(symResNotOk,
                       "type '" + shape->name + "' claims " + std::to_string(n) +
                           " members, more than the " + std::to_string(kMaxTypes) +
                           " types this tool walks in one tree",
                       "check the symbol table of the controller's application");
      }
      for (std::uint32_t i = 0; i < n; ++i) {
        Type child;
        Check(QXSym_TypeGetChild(type, i, child.out()), what);
        std::string member = TypeChildName(type, i);
        shape->members.emplace_back(member, Walk(child.get(), depth + 1));
      }
    }
    return shape;
  }
};

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

std::uint64_t TypeShape::element_count() const {
  // Saturates: three 32-bit dimensions could overflow the product.
  std::uint64_t n = 1;
  for (std::uint32_t d : dims) {
    n = d != 0 && n > UINT64_MAX / d ? UINT64_MAX : n * d;
  }
  return n;
}

std::unique_ptr<TypeShape> WalkType(QXSymTypeHandle type) { return Walker{}.Walk(type, 0); }

std::optional<std::vector<std::int64_t>> BoundsFromName(const std::string& name, std::size_t dims) {
  std::string upper = Upper(name);
  std::size_t open = upper.find("ARRAY");
  if (open == std::string::npos) return std::nullopt;
  open = upper.find('[', open);
  std::size_t close = upper.find(']', open == std::string::npos ? 0 : open);
  if (open == std::string::npos || close == std::string::npos) return std::nullopt;
  std::vector<std::int64_t> lower;
  std::size_t pos = open + 1;
  while (pos < close) {
    std::size_t comma = upper.find(',', pos);
    if (comma == std::string::npos || comma > close) comma = close;
    std::string part = upper.substr(pos, comma - pos);
    std::size_t dots = part.find("..");
    if (dots == std::string::npos) return std::nullopt;
    const char* begin = part.c_str();
    char* end = nullptr;
    long long l = std::strtoll(begin, &end, 10);
    // Only blanks may stand between the number and "..".
    for (const char* p = begin; p < begin + dots; ++p) {
      if (p >= end && !std::isspace(static_cast<unsigned char>(*p))) return std::nullopt;
    }
    if (end == begin) return std::nullopt;
    lower.push_back(l);
    pos = comma + 1;
  }
  if (lower.size() != dims) return std::nullopt;
  return lower;
}

std::vector<std::string> PropertyNames(std::uint32_t properties) {
  static const char* const kNames[] = {"Basic",         "Complex", "String", "Array",  "Struct",
                                       "FunctionBlock", "Numeric", "Signed", "Integer"};
  std::vector<std::string> out;
  for (int bit = 0; bit < 9; ++bit) {
    if (properties & (1u << bit)) out.emplace_back(kNames[bit]);
  }
  return out;
}

Json ShapeJson(const TypeShape& shape) {
  Json j = {
      {"type", shape.name}, {"size", shape.size}, {"properties", PropertyNames(shape.properties)}};
  if (shape.is_array()) {
    j["dims"] = shape.dims;
    if (shape.lower) j["lower_bounds"] = *shape.lower;
    j["element"] = ShapeJson(*shape.element);
  }
  if (shape.is_record()) {
    Json members = Json::array();
    for (const auto& [name, child] : shape.members) {
      Json m = ShapeJson(*child);
      m["name"] = name;
      members.push_back(std::move(m));
    }
    j["members"] = std::move(members);
  }
  return j;
}

}  // namespace qxsym::cli
