// The two sources the end-to-end tests run against: the simulator program
// over TCP on loopback, and the simulator's host table in this process. A
// test asks for an address record and uses nothing but the public API.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "HostTable.h"
#include "QXSymbols.h"
#include "SimLauncher.h"
#include "SymbolModel.h"

namespace qxsym::test {

enum class SourceKind { kSimulator, kHostTable };

inline const char* SourceName(SourceKind k) {
  return k == SourceKind::kSimulator ? "Simulator" : "HostTable";
}

inline std::string DemoModelPath() { return QXSYM_DEMO_MODEL; }

class ApiSource {
 public:
  // Starts the source on model; extra_args go to the simulator program.
  bool Start(SourceKind kind, const std::string& model = DemoModelPath(),
             const std::vector<std::string>& extra_args = {}, std::string* error = nullptr) {
    kind_ = kind;
    if (kind == SourceKind::kSimulator) {
      std::vector<std::string> args = {"--model", model};
      args.insert(args.end(), extra_args.begin(), extra_args.end());
      return sim_.Start(args, error);
    }
    std::string err;
    auto m = sim::SymbolModel::LoadFile(model, &err);
    if (!m) {
      if (error) *error = err;
      return false;
    }
    host_ = std::make_unique<sim::HostTable>(m);
    return true;
  }

  QXSymServerAddress address(std::uint16_t timeout_ms = 2000) const {
    QXSymServerAddress a{};
    if (kind_ == SourceKind::kSimulator) {
      a.protocol = symProtGDB_TCP;
      std::snprintf(a.ip, sizeof a.ip, "%s", sim_.host().c_str());
      a.port = sim_.port();
      a.timeout = timeout_ms;
    } else {
      host_->FillAddress(&a);
    }
    return a;
  }

  SourceKind kind() const { return kind_; }
  SimLauncher& simulator() { return sim_; }
  sim::HostTable* host_table() { return host_.get(); }

 private:
  SourceKind kind_ = SourceKind::kSimulator;
  SimLauncher sim_;
  std::unique_ptr<sim::HostTable> host_;
};

}  // namespace qxsym::test
