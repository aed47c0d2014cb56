// The simulator as a host program: a QXSymDirectAccessTable whose entries
// answer from a SymbolService in the same process, for workspaces opened
// with symProtDirectAccess. Texts come from malloc (the library frees them),
// identifier arrays from new uint32_t[] (the library deletes them), and
// every entry may be called from several threads at once.
#pragma once

#include <chrono>
#include <memory>

#include "LiveScan.h"
#include "QXSymDirectAccess.h"
#include "SymbolModel.h"
#include "SymbolService.h"

namespace qxsym::sim {

class HostTable {
 public:
  // Up to kSlots tables may exist at once; each has entries of its own,
  // because the entries receive no pointer to their table.
  static constexpr int kSlots = 16;

  // Throws std::runtime_error when all slots are taken.
  explicit HostTable(std::shared_ptr<SymbolModel> model);
  explicit HostTable(std::shared_ptr<SymbolService> service);
  ~HostTable();

  HostTable(const HostTable&) = delete;
  HostTable& operator=(const HostTable&) = delete;

  // Valid for the life of the process; once this object is gone, every
  // entry answers symResShutdownInProgress.
  const QXSymDirectAccessTable* table() const;
  // An address record that opens a Direct workspace on this table.
  void FillAddress(QXSymServerAddress* address) const;

  SymbolService& service() const { return *service_; }

  void StartLiveValues(std::chrono::milliseconds period);
  void StopLiveValues();

 private:
  int slot_ = -1;
  std::shared_ptr<SymbolService> service_;
  std::unique_ptr<LiveScan> live_;
};

}  // namespace qxsym::sim
