// A fingerprint of the controller's program, to tell after a reconnect
// whether the symbols seen before still hold. It hashes the number of
// global tags and, from a controller, the raw symbol table: its size and
// its first and last kEdgeBytes. The table travels once, in one exchange
// (the library refuses tables above 256 MiB); a host's table, which offers
// no raw table, is fingerprinted by its tag count alone.
#pragma once

#include <QXSymbols.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qxsym::client {

// Bytes hashed from each end of the table.
constexpr std::size_t kEdgeBytes = 65536;

// The hash of a count, a table size and the table's two ends (64-bit FNV-1a).
std::uint64_t HashProgram(std::uint32_t tag_count, std::uint64_t table_size,
                          const std::vector<std::uint8_t>& head,
                          const std::vector<std::uint8_t>& tail);

// Reads and hashes the table's two ends from the file at path; false when
// it cannot be read.
bool HashTableFile(const std::string& path, std::uint32_t tag_count, std::uint64_t* out);

// Takes the fingerprint over workspace; *requests counts what was sent.
// Fails only when the tag count cannot be had (its result).
QXSymResult TakeFingerprint(QXSymWorkspaceHandle workspace, bool remote, std::uint64_t* out,
                            unsigned* requests);

}  // namespace qxsym::client
