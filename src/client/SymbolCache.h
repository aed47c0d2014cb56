// The symbol cache on disk: the types a session learned from one
// controller's program, kept per controller and program fingerprint so
// that the next process finds them without walking the controller's type
// objects again.
//
// One file per controller and fingerprint, "qxsym-<controller>-<print>.types"
// (both 16 hex digits; the controller is a hash of its protocol, host and
// port). Little-endian binary: a header (magic, version, fingerprint, type
// count), the types in an order where every type comes after those it
// refers to, and a 64-bit hash of all bytes before it. A file that is
// damaged, truncated, of another version, of another fingerprint, above
// kMaxCacheBytes, or whose names and counts exceed the walk limits reads as
// no file. Files are written to a temporary name and renamed, so a reader
// sees a whole file or none, and two writers leave one whole file.
#pragma once

#include <QXSymbols.h>

#include <cstdint>
#include <memory>
#include <string>

#include "TypeCatalog.h"

namespace qxsym::client {

constexpr std::uint32_t kCacheVersion = 1;
constexpr std::uint64_t kMaxCacheBytes = 64ull << 20;
// Bytes of one type or member name (a name of QXSYM_MAX_STRING characters
// in UTF-8).
constexpr std::size_t kMaxCacheName = 4 * QXSYM_MAX_STRING;

// The controller's part of the file name.
std::string CacheControllerKey(const QXSymServerAddress& address);
std::string CacheFileName(const std::string& controller, std::uint64_t fingerprint);

// The catalog's types as a file's bytes.
std::string EncodeCache(const TypeCatalog& catalog, std::uint64_t fingerprint);
// A catalog with the types of bytes; nullptr when they are not a whole,
// valid file of this version and fingerprint within limits.
std::unique_ptr<TypeCatalog> DecodeCache(const std::string& bytes, std::uint64_t fingerprint,
                                         const WalkLimits& limits);

// Reads the file for controller and fingerprint in directory (nullptr when
// there is none or it does not decode).
std::unique_ptr<TypeCatalog> LoadCache(const std::string& directory, const std::string& controller,
                                       std::uint64_t fingerprint, const WalkLimits& limits);
// Writes the catalog's file and removes the controller's files of other
// fingerprints; false when the file could not be written (nothing changed).
bool StoreCache(const std::string& directory, const std::string& controller,
                std::uint64_t fingerprint, const TypeCatalog& catalog);

}  // namespace qxsym::client
