// Exported functions of listings, typed-in values and result texts.
#include <QXSymCore.h>

#include <chrono>

#include "CoreApiRegistry.h"
#include "ResultInfo.h"

using namespace qxsym::client;
using namespace qxsym::client::capi;

namespace {

void FillBatch(ListingObject& l) {
  l.c_batch.assign(l.batch.size(), QXSymCoreTagInfo{});
  for (std::size_t i = 0; i < l.batch.size(); ++i) {
    const TagInfo& t = l.batch[i];
    QXSymCoreTagInfo& c = l.c_batch[i];
    c.name = t.name.c_str();
    c.type_name = t.type_name.c_str();
    c.description = t.description.c_str();
    c.tyvar = t.tyvar;
    c.size = t.size;
    c.flags = t.flags;
  }
}

}  // namespace

extern "C" {

QXSymResult QXSymCore_ListBegin(QXSymCoreHandle session, const char* filter, uint32_t flags,
                                uint32_t connections, QXSymCoreHandle* listing) {
  if (listing == nullptr || connections > kMaxListConnections ||
      (flags & ~uint32_t{QXSYMCORE_LIST_DETAILS | QXSYMCORE_LIST_DESCRIPTIONS}) != 0) {
    return symResInvalidParameter;
  }
  return Guard([&]() -> QXSymResult {
    auto owner = Find<SessionObject>(session, Kind::kSession);
    if (!owner) return symResInvalidHandle;
    std::lock_guard<std::mutex> lock(owner->busy);
    if (!owner->session) return symResInvalidHandle;
    *listing = 0;
    Session* s = owner->session.get();
    const QXSymResult ready = s->Ready(std::chrono::steady_clock::now());
    if (ready != symResOk) return ready;
    ListOptions options;
    options.filter = filter != nullptr ? filter : "";
    options.details = (flags & QXSYMCORE_LIST_DETAILS) != 0;
    options.descriptions = (flags & QXSYMCORE_LIST_DESCRIPTIONS) != 0;
    options.connections = connections != 0 ? connections : s->connections();
    auto l = std::make_shared<ListingObject>();
    l->owner = owner;
    l->lister = std::make_unique<Lister>(
        s->workspace(), s->encoding(), [s] { return s->OpenExtra(); }, options);
    *listing = Registry::Get().Add(Kind::kListing, l);
    owner->listings.insert(*listing);
    return symResOk;
  });
}

QXSymResult QXSymCore_ListNext(QXSymCoreHandle listing, const QXSymCoreTagInfo** tags,
                               uint32_t* count, uint32_t* done) {
  if (tags == nullptr || count == nullptr || done == nullptr) return symResInvalidParameter;
  return Guard([&]() -> QXSymResult {
    auto l = Find<ListingObject>(listing, Kind::kListing);
    if (!l) return symResInvalidHandle;
    std::lock_guard<std::mutex> lock(l->owner->busy);
    if (!l->owner->session || !l->lister) return symResInvalidHandle;
    *tags = nullptr;
    *count = 0;
    *done = 0;
    bool finished = false;
    QXSymResult rc = symResOk;
    l->batch.clear();
    const bool ok = l->lister->Next(&l->batch, &finished, &rc);
    const std::uint64_t requests = l->lister->requests();
    l->owner->session->AddExchanges(requests - l->counted);
    l->counted = requests;
    if (!ok) return rc != symResOk ? rc : symResNotOk;
    FillBatch(*l);
    *tags = l->c_batch.data();
    *count = static_cast<uint32_t>(l->c_batch.size());
    *done = finished ? 1 : 0;
    return symResOk;
  });
}

QXSymResult QXSymCore_ListEnd(QXSymCoreHandle listing) {
  return Guard([&]() -> QXSymResult {
    auto l =
        std::static_pointer_cast<ListingObject>(Registry::Get().Remove(listing, Kind::kListing));
    if (!l) return symResInvalidHandle;
    std::lock_guard<std::mutex> lock(l->owner->busy);
    l->owner->listings.erase(listing);
    l->lister.reset();
    return symResOk;
  });
}

QXSymResult QXSymCore_ParseLeafText(uint32_t tyvar, const char* text, QXSymCoreValue* value,
                                    const char** message) {
  if (text == nullptr || value == nullptr) return symResInvalidParameter;
  return Guard([&]() -> QXSymResult {
    static thread_local LeafValue parsed;
    static thread_local std::string why;
    CodecError err;
    parsed = LeafValue{};
    const bool ok = ParseLeafText(tyvar, text, &parsed, &err);
    why = ok ? std::string() : err.message;
    if (message != nullptr) *message = why.c_str();
    if (!ok) return err.code != symResOk ? err.code : symResInvalidParameter;
    ToC(parsed, value);
    return symResOk;
  });
}

QXSymResult QXSymCore_FormatValue(const QXSymCoreValue* value, const char** text) {
  if (value == nullptr || text == nullptr) return symResInvalidParameter;
  return Guard([&]() -> QXSymResult {
    static thread_local std::string formatted;
    LeafValue v;
    if (!FromC(*value, &v)) return symResInvalidParameter;
    formatted = FormatLeafText(v);
    *text = formatted.c_str();
    return symResOk;
  });
}

const char* QXSymCore_ResultName(int32_t code) { return InfoOf(code).name; }

const char* QXSymCore_ResultMessage(int32_t code) { return InfoOf(code).message; }

const char* QXSymCore_ResultAdvice(int32_t code) { return InfoOf(code).advice; }

const char* QXSymCore_OpenFailureMessage(int32_t code, uint64_t elapsed_ms, uint32_t timeout_ms) {
  return OpenFailureMessage(code, elapsed_ms, timeout_ms);
}

}  // extern "C"
