// Exported functions of sessions, layouts and values: check the arguments
// and the handle, make one call into the core, hand out C copies.
#include <QXSymCore.h>

#include <chrono>

#include "CoreApiRegistry.h"
#include "TagTexts.h"

using namespace qxsym::client;
using namespace qxsym::client::capi;

namespace {

constexpr std::uint32_t kMaxItems = 65536;

// Runs body on the open session, one call at a time; with connect, only
// when its connection is there (see Connected).
template <typename Body>
QXSymResult OnSession(QXSymCoreHandle id, Body&& body, bool connect = true) {
  return Guard([&]() -> QXSymResult {
    auto object = Find<SessionObject>(id, Kind::kSession);
    if (!object) return symResInvalidHandle;
    std::lock_guard<std::mutex> lock(object->busy);
    if (!object->session) return symResInvalidHandle;
    if (!connect) return body(*object);
    return Connected(*object->session, [&] { return body(*object); });
  });
}

void FillReadItems(SessionObject& o) {
  const std::size_t n = o.read.size();
  o.read_layouts.assign(n, CLayout{});
  o.read_values.assign(n, {});
  o.read_items.assign(n, QXSymCoreReadItem{});
  for (std::size_t i = 0; i < n; ++i) {
    const ReadResult& r = o.read[i];
    QXSymCoreReadItem& c = o.read_items[i];
    c.result = r.code;
    c.message = r.message.c_str();
    if (r.layout) {
      o.read_layouts[i].Set(r.layout);
      c.layout = &o.read_layouts[i].c;
    }
    o.read_values[i].resize(r.values.size());
    for (std::size_t k = 0; k < r.values.size(); ++k) ToC(r.values[k], &o.read_values[i][k]);
    c.value_count = static_cast<std::uint32_t>(r.values.size());
    c.values = o.read_values[i].data();
  }
}

}  // namespace

extern "C" {

QXSymResult QXSymCore_Open(const QXSymServerAddress* address, uint32_t timeout_ms,
                           uint32_t encoding, uint32_t connections, QXSymCoreHandle* session) {
  return Guard([&]() -> QXSymResult {
    if (address == nullptr || session == nullptr || timeout_ms > 65535 ||
        encoding > QXSymCoreWindows1252 || connections < 1 || connections > kMaxListConnections) {
      return symResInvalidParameter;
    }
    *session = 0;
    SessionOptions options;
    options.timeout_ms = static_cast<std::uint16_t>(timeout_ms);
    options.encoding = static_cast<Encoding>(encoding);
    options.connections = connections;
    QXSymResult rc = symResOk;
    auto object = std::make_shared<SessionObject>();
    object->session = Session::Open(*address, options, &rc);
    if (!object->session) return rc;
    *session = Registry::Get().Add(Kind::kSession, object);
    return symResOk;
  });
}

QXSymResult QXSymCore_Close(QXSymCoreHandle session) {
  return Guard([&]() -> QXSymResult {
    auto object =
        std::static_pointer_cast<SessionObject>(Registry::Get().Remove(session, Kind::kSession));
    if (!object) return symResInvalidHandle;
    std::lock_guard<std::mutex> lock(object->busy);
    for (QXSymCoreHandle listing : object->listings) {
      auto l =
          std::static_pointer_cast<ListingObject>(Registry::Get().Remove(listing, Kind::kListing));
      if (l) l->lister.reset();  // closes the connections it opened
    }
    object->listings.clear();
    for (QXSymCoreHandle id : object->subscriptions) {
      auto s = std::static_pointer_cast<SubscriptionObject>(
          Registry::Get().Remove(id, Kind::kSubscription));
      if (s) EndSubscription(*s);
    }
    object->subscriptions.clear();
    object->session.reset();
    return symResOk;
  });
}

QXSymResult QXSymCore_Exchanges(QXSymCoreHandle session, uint64_t* count) {
  if (count == nullptr) return symResInvalidParameter;
  return OnSession(
      session,
      [&](SessionObject& o) {
        *count = o.session->exchanges();
        return symResOk;
      },
      false);
}

QXSymResult QXSymCore_SetReconnect(QXSymCoreHandle session, uint32_t first_ms, uint32_t max_ms) {
  return OnSession(
      session, [&](SessionObject& o) { return o.session->SetReconnect(first_ms, max_ms); }, false);
}

QXSymResult QXSymCore_SetCache(QXSymCoreHandle session, const char* directory) {
  const std::string dir = directory == nullptr ? std::string() : std::string(directory);
  return OnSession(
      session, [&](SessionObject& o) { return o.session->SetCache(dir); }, false);
}

QXSymResult QXSymCore_SessionState(QXSymCoreHandle session, QXSymCoreSessionState* state) {
  if (state == nullptr) return symResInvalidParameter;
  return OnSession(
      session,
      [&](SessionObject& o) {
        const Session& s = *o.session;
        *state = QXSymCoreSessionState{};
        state->connected = s.away() ? 0 : 1;
        state->reconnects = s.reconnects();
        state->online_changes = s.online_changes();
        state->fingerprint = s.fingerprint();
        if (s.away() && s.next_attempt() != std::chrono::steady_clock::time_point::max()) {
          const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
              s.next_attempt() - std::chrono::steady_clock::now());
          state->retry_in_ms = left.count() > 0 ? static_cast<uint64_t>(left.count()) : 0;
        }
        return symResOk;
      },
      false);
}

QXSymResult QXSymCore_Describe(QXSymCoreHandle session, const char* path,
                               const QXSymCoreLayout** layout, const char** message) {
  if (path == nullptr || layout == nullptr) return symResInvalidParameter;
  return OnSession(session, [&](SessionObject& o) {
    *layout = nullptr;
    WalkError err;
    auto described = Describe(*o.session, path, &err);
    o.message = err.message;
    if (message != nullptr) *message = o.message.c_str();
    if (!described) return err.code;
    o.session->Acknowledge(path);
    o.described.Set(std::move(described));
    *layout = &o.described.c;
    return symResOk;
  });
}

QXSymResult QXSymCore_Read(QXSymCoreHandle session, const char* const* paths, uint32_t count,
                           const QXSymCoreReadItem** items) {
  if (paths == nullptr || items == nullptr || count == 0 || count > kMaxItems) {
    return symResInvalidParameter;
  }
  for (uint32_t i = 0; i < count; ++i) {
    if (paths[i] == nullptr) return symResInvalidParameter;
  }
  return OnSession(session, [&](SessionObject& o) {
    *items = nullptr;
    std::vector<std::string> list(paths, paths + count);
    const std::uint64_t changes = o.session->online_changes();
    o.read = Values(*o.session).Read(list);
    o.session->Settle(std::chrono::steady_clock::now());
    // Read through references from before a program change: once more,
    // looked up again.
    if (o.session->online_changes() != changes) o.read = Values(*o.session).Read(list);
    FillReadItems(o);
    *items = o.read_items.data();
    for (const ReadResult& r : o.read) {
      if (r.code != symResOk) return r.code;
    }
    return symResOk;
  });
}

QXSymResult QXSymCore_Write(QXSymCoreHandle session, const QXSymCoreWriteItem* items,
                            uint32_t count, const QXSymCoreWriteResult** results) {
  if (items == nullptr || count == 0 || count > kMaxItems) return symResInvalidParameter;
  std::vector<WriteItem> list(count);
  for (uint32_t i = 0; i < count; ++i) {
    if (items[i].path == nullptr || (items[i].values == nullptr && items[i].value_count != 0)) {
      return symResInvalidParameter;
    }
    list[i].path = items[i].path;
    list[i].values.resize(items[i].value_count);
    for (uint32_t k = 0; k < items[i].value_count; ++k) {
      if (!FromC(items[i].values[k], &list[i].values[k])) return symResInvalidParameter;
    }
  }
  return OnSession(session, [&](SessionObject& o) {
    const QXSymResult rc = Values(*o.session).Write(list, &o.written);
    o.write_results.assign(o.written.size(), QXSymCoreWriteResult{});
    for (std::size_t i = 0; i < o.written.size(); ++i) {
      o.write_results[i].result = o.written[i].code;
      o.write_results[i].message = o.written[i].message.c_str();
    }
    if (results != nullptr) *results = o.write_results.data();
    return rc;
  });
}

QXSymResult QXSymCore_Description(QXSymCoreHandle session, const char* path, const char** text) {
  if (path == nullptr || text == nullptr) return symResInvalidParameter;
  return OnSession(session, [&](SessionObject& o) {
    o.message.clear();
    const QXSymResult rc = DescriptionOf(*o.session, path, &o.message);
    *text = o.message.c_str();
    return rc;
  });
}

QXSymResult QXSymCore_Attribute(QXSymCoreHandle session, const char* path, const char* name,
                                const char** text) {
  if (path == nullptr || name == nullptr || text == nullptr) return symResInvalidParameter;
  return OnSession(session, [&](SessionObject& o) {
    o.message.clear();
    const QXSymResult rc = AttributeOf(*o.session, path, name, &o.message);
    *text = o.message.c_str();
    return rc;
  });
}

}  // extern "C"
