#include "QXSymClientWorkspace.h"

#include <cstdio>
#include <cstring>

#include "QXSymClientWorkspaceDirect.h"
#include "QXSymClientWorkspaceRemote.h"
#include "SymbolMessages.h"

namespace qxsym {

namespace {

// The largest symbol table the library holds in memory for a download.
constexpr std::uint32_t kMaxSymbolTableSize = 256u * 1024u * 1024u;

// Turns the channel's reports (reply bytes, the 4-byte reply header
// included) into the caller's: table bytes, rising, below the table's size.
// The call with the whole size comes after the download succeeded.
struct TableProgress {
  QXSymProgressCallback callback = nullptr;
  void* context = nullptr;
  std::uint32_t size = 0;
  std::uint32_t last = 0;

  static void Relay(std::uint32_t received, std::uint32_t, void* self) {
    auto* p = static_cast<TableProgress*>(self);
    const std::uint32_t table = received > kReplyHeaderSize ? received - kReplyHeaderSize : 0;
    if (table > p->last && table < p->size) {
      p->last = table;
      p->callback(table, p->size, p->context);
    }
  }
};

}  // namespace

QXSymResult QXSymClientWorkspace::Open(std::uint8_t selector, const QXSymServerAddress* address,
                                       std::unique_ptr<QXSymClientWorkspace>* out) {
  std::unique_ptr<QXSymClientWorkspace> ws;
  // Read as a plain integer: a caller may put any value in the field.
  std::int32_t protocol = 0;
  std::memcpy(&protocol, &address->protocol, sizeof protocol);
  if (protocol == symProtDirectAccess) {
    ws = std::make_unique<QXSymClientWorkspaceDirect>();
  } else {
    ws = std::make_unique<QXSymClientWorkspaceRemote>();
  }
  if (!ws->Attach(address)) return symResInvalidAddress;
  QXSymResult r = ws->OpenOnServer(selector);
  if (r != symResOk) return r;
  std::uint8_t major = 0, minor = 0, revision = 0, build = 0;
  r = ws->GetServerVersion(&major, &minor, &revision, &build);
  if (r != symResOk) return r;
  if (major != QXSYMBOLS_VERSION_MAJOR) return symResServerNotCompatible;
  *out = std::move(ws);
  return (minor == 0 && revision == 0) ? symResOkServerNotFullSupport : symResOk;
}

bool QXSymClientWorkspace::RefusesTarget(const TCHAR* path, bool_t overwrite) {
  if (overwrite) return false;
  std::FILE* existing = std::fopen(path, "rb");
  if (existing == nullptr) return false;
  std::fclose(existing);
  return true;
}

QXSymResult QXSymClientWorkspace::DownloadSymbolTable(std::vector<std::uint8_t>* table,
                                                      QXSymProgressCallback callback,
                                                      void* context) {
  std::uint32_t size = 0;
  QXSymResult r = GetSymbolTableSize(&size);
  if (r != symResOk) return r;
  if (size > kMaxSymbolTableSize) return symResMemoryAllocError;
  table->resize(size);
  if (callback == nullptr) return ReadSymbolTable(size, table->data());
  TableProgress progress{callback, context, size};
  r = ReadSymbolTableReporting(size, table->data(),
                               TransferProgress{&TableProgress::Relay, &progress});
  if (r == symResOk) callback(size, size, context);
  return r;
}

QXSymResult QXSymClientWorkspace::WriteSymbolTable(const TCHAR* path, bool_t overwrite,
                                                   QXSymProgressCallback callback, void* context) {
  if (RefusesTarget(path, overwrite)) return symResFileAlreadyExists;
  std::vector<std::uint8_t> table;
  const QXSymResult r = DownloadSymbolTable(&table, callback, context);
  if (r != symResOk) return r;
  std::FILE* f = std::fopen(path, "wb");
  if (f == nullptr) return symResCannotOpenFile;
  const std::size_t written = table.empty() ? 0 : std::fwrite(table.data(), 1, table.size(), f);
  const bool closed = std::fclose(f) == 0;
  if (written != table.size() || !closed) return symResCannotWriteFile;
  return symResOk;
}

}  // namespace qxsym
