#include "Fingerprint.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "ResultInfo.h"

namespace qxsym::client {
namespace {

constexpr std::uint64_t kFnvOffset = 1469598103934665603ull;
constexpr std::uint64_t kFnvPrime = 1099511628211ull;

void Mix(std::uint64_t* h, const std::uint8_t* data, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    *h ^= data[i];
    *h *= kFnvPrime;
  }
}

void MixNumber(std::uint64_t* h, std::uint64_t v) {
  std::uint8_t bytes[8];
  for (int i = 0; i < 8; ++i) bytes[i] = static_cast<std::uint8_t>(v >> (8 * i));
  Mix(h, bytes, sizeof bytes);
}

// A file name of its own for each download, in the system's temporary folder.
std::filesystem::path TableFile() {
  static std::atomic<std::uint64_t> counter{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  const std::string name =
      "qxsym-table-" + std::to_string(stamp) + "-" + std::to_string(counter.fetch_add(1)) + ".bin";
  return std::filesystem::temp_directory_path() / name;
}

}  // namespace

std::uint64_t HashProgram(std::uint32_t tag_count, std::uint64_t table_size,
                          const std::vector<std::uint8_t>& head,
                          const std::vector<std::uint8_t>& tail) {
  std::uint64_t h = kFnvOffset;
  MixNumber(&h, tag_count);
  MixNumber(&h, table_size);
  Mix(&h, head.data(), head.size());
  Mix(&h, tail.data(), tail.size());
  return h;
}

bool HashTableFile(const std::string& path, std::uint32_t tag_count, std::uint64_t* out) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return false;
  const std::streamoff size = in.tellg();
  if (size < 0) return false;
  const std::uint64_t total = static_cast<std::uint64_t>(size);
  std::vector<std::uint8_t> head(
      static_cast<std::size_t>(std::min<std::uint64_t>(total, kEdgeBytes)));
  std::vector<std::uint8_t> tail;
  in.seekg(0);
  in.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
  if (total > kEdgeBytes) {
    const std::uint64_t rest = std::min<std::uint64_t>(total - kEdgeBytes, kEdgeBytes);
    tail.resize(static_cast<std::size_t>(rest));
    in.seekg(static_cast<std::streamoff>(total - rest));
    in.read(reinterpret_cast<char*>(tail.data()), static_cast<std::streamsize>(tail.size()));
  }
  if (!in) return false;
  *out = HashProgram(tag_count, total, head, tail);
  return true;
}

QXSymResult TakeFingerprint(QXSymWorkspaceHandle workspace, bool remote, std::uint64_t* out,
                            unsigned* requests) {
  std::uint32_t count = 0;
  ++*requests;
  const QXSymResult rc = QXSym_GetGlobalTagsNum(workspace, &count);
  if (rc != symResOk) return rc;
  *out = HashProgram(count, 0, {}, {});
  if (!remote) return symResOk;
  std::error_code ec;
  const std::filesystem::path file = TableFile();
  ++*requests;
  const QXSymResult table = QXSym_GetSymbolTable(workspace, file.string().c_str(), 1);
  // A table that cannot be had leaves the count alone to tell.
  if (table == symResOk) HashTableFile(file.string(), count, out);
  std::filesystem::remove(file, ec);
  return IsTransportFailure(table) ? table : symResOk;
}

}  // namespace qxsym::client
