// COM of the portable layer: per-thread initialisation and a process-wide
// table of class objects that CoCreateInstance draws on.
#if !defined(_WIN32)

#include <mutex>
#include <vector>

#include "QXSymOle.h"

const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

namespace {

struct ClassEntry {
  CLSID clsid;
  IClassFactory* factory;
  DWORD cookie;
};

struct ClassTable {
  std::mutex lock;
  std::vector<ClassEntry> entries;
  DWORD next_cookie = 1;
};

ClassTable& Classes() {
  // Never destroyed: objects may be created while the process exits.
  static ClassTable* table = new ClassTable();
  return *table;
}

thread_local int com_init_count = 0;

}  // namespace

extern "C" {

HRESULT CoInitialize(void* /*reserved*/) { return com_init_count++ == 0 ? S_OK : S_FALSE; }

void CoUninitialize(void) {
  if (com_init_count > 0) --com_init_count;
}

}  // extern "C"

HRESULT CoRegisterClassObject(REFCLSID clsid, IUnknown* object, DWORD /*context*/, DWORD /*flags*/,
                              DWORD* cookie) {
  if (object == nullptr || cookie == nullptr) return E_INVALIDARG;
  void* factory = nullptr;
  const HRESULT hr = object->QueryInterface(IID_IClassFactory, &factory);
  if (FAILED(hr)) return hr;
  ClassTable& t = Classes();
  std::lock_guard<std::mutex> guard(t.lock);
  *cookie = t.next_cookie++;
  t.entries.push_back({clsid, static_cast<IClassFactory*>(factory), *cookie});
  return S_OK;
}

HRESULT CoRevokeClassObject(DWORD cookie) {
  IClassFactory* factory = nullptr;
  {
    ClassTable& t = Classes();
    std::lock_guard<std::mutex> guard(t.lock);
    for (auto it = t.entries.begin(); it != t.entries.end(); ++it) {
      if (it->cookie == cookie) {
        factory = it->factory;
        t.entries.erase(it);
        break;
      }
    }
  }
  if (factory == nullptr) return E_INVALIDARG;
  factory->Release();
  return S_OK;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD /*context*/, REFIID riid,
                         void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (com_init_count == 0) return CO_E_NOTINITIALIZED;
  IClassFactory* factory = nullptr;
  {
    ClassTable& t = Classes();
    std::lock_guard<std::mutex> guard(t.lock);
    for (const ClassEntry& e : t.entries) {
      if (IsEqualGUID(e.clsid, clsid)) {
        factory = e.factory;
        factory->AddRef();
        break;
      }
    }
  }
  if (factory == nullptr) return REGDB_E_CLASSNOTREG;
  const HRESULT hr = factory->CreateInstance(outer, riid, object);
  factory->Release();
  return hr;
}

HRESULT OleRun(IUnknown* object) { return object == nullptr ? E_INVALIDARG : S_OK; }

#endif  // !_WIN32
