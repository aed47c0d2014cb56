// The simulator's model loader on arbitrary text: a model is either loaded
// or refused with a message that names the place; nothing else may happen
// (no crash, no unbounded allocation, no endless recursion). A loaded model
// is walked once so that what it claims is also readable.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "SymbolModel.h"

using qxsym::sim::SymbolModel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::string error;
  auto model = SymbolModel::LoadString(text, &error, "fuzz.json");
  if (!model) {
    if (error.empty()) std::abort();
    return 0;
  }
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < model->tags().size() && i < 4096; ++i) {
    const auto view = model->GlobalView(i);
    std::uint32_t dims[3] = {0, 0, 0};
    SymbolModel::Dims(view, dims);
    sum += SymbolModel::DataSize(view) + SymbolModel::FullSize(view) + SymbolModel::TyVar(view);
  }
  for (const auto& type : model->types()) {
    for (std::uint32_t c = 0; c < type->ChildCount() && c < 64; ++c) {
      if (type->Child(c) == nullptr || type->ChildName(c) == nullptr) std::abort();
    }
  }
  (void)sum;
  return 0;
}
