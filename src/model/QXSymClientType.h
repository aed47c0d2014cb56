// A type: the data type of a tag, or of a member or element inside one.
//
// The object is a reference only: every question is answered afresh by the
// workspace's source of symbols and nothing is cached. Each predicate is a
// question of its own; none is derived from GetProperties here.
//
// A type used after its workspace was closed gets what the closed channel
// answers (symResConnectionLost for a Remote type).
#pragma once

#include <cstdint>
#include <memory>

#include "QXSymbols.h"
#include "WorkspaceKey.h"

namespace qxsym {

class QXSymClientType {
 public:
  virtual ~QXSymClientType() = default;

  virtual QXSymResult IsBasic(bool_t* answer) = 0;
  virtual QXSymResult IsComplex(bool_t* answer) = 0;
  virtual QXSymResult IsString(bool_t* answer) = 0;
  virtual QXSymResult IsArray(bool_t* answer) = 0;
  virtual QXSymResult IsStruct(bool_t* answer) = 0;
  virtual QXSymResult IsFunctionBlock(bool_t* answer) = 0;
  virtual QXSymResult IsNumeric(bool_t* answer) = 0;
  virtual QXSymResult IsSigned(bool_t* answer) = 0;
  virtual QXSymResult IsInteger(bool_t* answer) = 0;
  virtual QXSymResult GetSize(std::uint32_t* size) = 0;
  // length: capacity in, name length with terminator out (also on
  // symResInvalidBuffer).
  virtual QXSymResult GetName(TCHAR* buffer, std::uint16_t* length) = 0;
  virtual QXSymResult GetNumChildren(std::uint32_t* count) = 0;
  // A new object for a child; *child is untouched on failure.
  virtual QXSymResult GetChild(std::uint32_t index, std::unique_ptr<QXSymClientType>* child) = 0;
  virtual QXSymResult GetChildByName(const TCHAR* name,
                                     std::unique_ptr<QXSymClientType>* child) = 0;
  virtual QXSymResult GetChildName(std::uint32_t index, TCHAR* buffer, std::uint16_t* length) = 0;
  virtual QXSymResult GetArrayNumDimensions(std::uint32_t* count) = 0;
  virtual QXSymResult GetArrayDimension(std::uint32_t index, std::uint32_t* value) = 0;
  // All dimensions into values; more than maxCount: symResInvalidParameter,
  // nothing written.
  virtual QXSymResult GetArrayDimensions(std::uint32_t* values, std::uint8_t maxCount) = 0;
  // The QXSymTypeProperty flags, ORed.
  virtual QXSymResult GetProperties(std::uint32_t* flags) = 0;
  // A copy sharing the channel or table; null when memory runs out.
  virtual std::unique_ptr<QXSymClientType> Clone() const = 0;

  virtual WorkspaceKey GetWorkspaceKey() const = 0;

 protected:
  QXSymClientType() = default;
  QXSymClientType(const QXSymClientType&) = default;
  QXSymClientType& operator=(const QXSymClientType&) = default;
};

}  // namespace qxsym
