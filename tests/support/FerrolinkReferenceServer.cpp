#include "FerrolinkReferenceServer.h"

#include <atomic>
#include <cstring>
#include <utility>

// COM objects are destroyed by their own Release, never through an interface.
#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif

namespace qxsym::test {
namespace {

using State = std::shared_ptr<FerrolinkServerState>;

// Reference counting and QueryInterface for an object with one interface.
template <typename Interface>
class ComObject : public Interface {
 public:
  ComObject(State state, const IID& iid) : state_(std::move(state)), iid_(iid) {
    ++state_->live_objects;
  }
  virtual ~ComObject() { --state_->live_objects; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (!IsEqualGUID(riid, IID_IUnknown) && !IsEqualGUID(riid, iid_)) {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    *object = static_cast<Interface*>(this);
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

 protected:
  State state_;

 private:
  IID iid_;
  std::atomic<ULONG> refs_{1};
};

std::uint32_t GetLE(const BYTE* p, int bytes) {
  std::uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) v |= static_cast<std::uint32_t>(p[i]) << (8 * i);
  return v;
}

class Target final : public ComObject<IFerrolinkTarget> {
 public:
  explicit Target(State state) : ComObject(std::move(state), kFerrolinkTargetIid) {}

  HRESULT STDMETHODCALLTYPE GetProtocolName(BSTR* name) override {
    ++state_->calls[13];
    if (name == nullptr) return E_POINTER;
    if (state_->fail_protocol_name) return E_FAIL;
    *name = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(state_->protocol.data()),
                              static_cast<UINT>(state_->protocol.size()));
    return *name != nullptr ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT STDMETHODCALLTYPE IsValueValid(LONG* flag) override {
    ++state_->calls[17];
    *flag = state_->value_valid ? 1 : 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE IsTimedOut(LONG* flag) override {
    ++state_->calls[21];
    *flag = state_->timed_out ? 1 : 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Request(LONG target, BYTE* request, LONG requestLength, BYTE* response,
                                    LONG* responseLength) override {
    ++state_->calls[26];
    FerrolinkServerState& s = *state_;
    s.last_target = target;
    s.last_request.assign(request, request + (requestLength > 0 ? requestLength : 0));
    s.last_capacity = *responseLength;
    if (requestLength < 7 || !s.backend) return E_INVALIDARG;
    const std::uint32_t address = GetLE(request + 1, 4);
    const std::uint32_t size = GetLE(request + 5, 2);
    if (request[0] == 2) {  // read: the data, then the marker
      if (*responseLength < static_cast<LONG>(size + 1)) return E_INVALIDARG;
      if (!s.backend->ReadMemory(address, size, response)) return E_FAIL;
      if (s.send_marker) response[size] = s.marker;
      *responseLength = static_cast<LONG>(s.send_marker ? size + 1 : size);
      return S_OK;
    }
    if (request[0] == 1) {  // write: one byte, the marker
      if (*responseLength < 1 || requestLength != static_cast<LONG>(7 + size)) return E_INVALIDARG;
      if (!s.backend->WriteMemory(address, size, request + 7)) return E_FAIL;
      response[0] = s.marker;
      *responseLength = 1;
      return S_OK;
    }
    return E_INVALIDARG;
  }
  HRESULT STDMETHODCALLTYPE ReadVariable(USHORT index, LONG /*reserved*/, VARTYPE type,
                                         VARIANT* value) override {
    ++state_->calls[28];
    state_->last_index = index;
    state_->last_type = type;
    if (!state_->backend || !state_->backend->ReadVariable(index, type, value)) return E_FAIL;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ReadMemory(ULONG address, LONG size, BYTE* buffer) override {
    ++state_->calls[49];
    state_->last_address = address;
    state_->last_size = size;
    if (size < 0 || !state_->backend) return E_INVALIDARG;
    return state_->backend->ReadMemory(address, static_cast<std::uint32_t>(size), buffer) ? S_OK
                                                                                          : E_FAIL;
  }
  HRESULT STDMETHODCALLTYPE WriteMemory(ULONG address, LONG size, const BYTE* data) override {
    ++state_->calls[50];
    state_->last_address = address;
    state_->last_size = size;
    if (size < 0 || !state_->backend) return E_INVALIDARG;
    return state_->backend->WriteMemory(address, static_cast<std::uint32_t>(size), data) ? S_OK
                                                                                         : E_FAIL;
  }
  HRESULT STDMETHODCALLTYPE WriteBit(ULONG address, ULONG bitOffset, BYTE value) override {
    ++state_->calls[58];
    return Bits(address, 1, bitOffset, value & 1u);
  }
  HRESULT STDMETHODCALLTYPE WriteBits(ULONG address, BYTE bitWidth, ULONG bitOffset,
                                      ULONG value) override {
    ++state_->calls[59];
    return Bits(address, bitWidth, bitOffset, value);
  }

 private:
  // Read, change and write back the bits [bitOffset, bitOffset + width).
  HRESULT Bits(ULONG address, unsigned width, ULONG bitOffset, ULONG value) {
    FerrolinkServerState& s = *state_;
    s.last_address = address;
    s.last_bit_width = width;
    s.last_bit_offset = bitOffset;
    s.last_value = value;
    if (!s.backend || width == 0 || width > 32 || bitOffset > 64) return E_INVALIDARG;
    std::uint8_t bytes[13] = {};
    const std::uint32_t n = (bitOffset + width + 7) / 8;
    if (!s.backend->ReadMemory(address, n, bytes)) return E_FAIL;
    for (unsigned i = 0; i < width; ++i) {
      const std::uint32_t bit = bitOffset + i;
      const auto mask = static_cast<std::uint8_t>(1u << (bit % 8));
      if ((value >> i) & 1u) {
        bytes[bit / 8] = static_cast<std::uint8_t>(bytes[bit / 8] | mask);
      } else {
        bytes[bit / 8] = static_cast<std::uint8_t>(bytes[bit / 8] & ~mask);
      }
    }
    return s.backend->WriteMemory(address, n, bytes) ? S_OK : E_FAIL;
  }
};

class Connection final : public ComObject<IFerrolinkConnection> {
 public:
  explicit Connection(State state) : ComObject(std::move(state), kFerrolinkConnectionIid) {}

  HRESULT STDMETHODCALLTYPE Connect(BSTR name) override {
    ++state_->calls[7];
    state_->connected_to.assign(reinterpret_cast<const char16_t*>(name), SysStringLen(name));
    return state_->fail_connect ? E_FAIL : S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTarget(IUnknown** target) override {
    ++state_->calls[14];
    if (target == nullptr) return E_POINTER;
    *target = nullptr;
    if (state_->fail_get_target) return E_FAIL;
    *target = new Target(state_);
    return S_OK;
  }
};

class Factory final : public ComObject<IClassFactory> {
 public:
  explicit Factory(State state) : ComObject(std::move(state), IID_IClassFactory) {}

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    auto* made = new Connection(state_);
    const HRESULT hr = made->QueryInterface(riid, object);
    made->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

}  // namespace

bool MemoryBackend::Range(std::uint32_t address, std::uint32_t n) const {
  return address >= base_ && address - base_ <= memory_.size() &&
         n <= memory_.size() - (address - base_);
}

bool MemoryBackend::ReadMemory(std::uint32_t address, std::uint32_t n, std::uint8_t* out) {
  if (!Range(address, n)) return false;
  if (n != 0) std::memcpy(out, memory_.data() + (address - base_), n);
  return true;
}

bool MemoryBackend::WriteMemory(std::uint32_t address, std::uint32_t n, const std::uint8_t* data) {
  if (!Range(address, n)) return false;
  if (n != 0) std::memcpy(memory_.data() + (address - base_), data, n);
  return true;
}

bool MemoryBackend::ReadVariable(std::uint16_t index, VARTYPE vt, VARIANT* value) {
  const auto text = texts.find(index);
  if (text != texts.end()) {
    value->vt = VT_BSTR;
    value->bstrVal = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text->second.data()),
                                       static_cast<UINT>(text->second.size()));
    return true;
  }
  const auto number = numbers.find(index);
  if (number == numbers.end()) return false;
  // Numbers go out in the asked type where it is one, else as VT_I8.
  value->vt =
      vt == VT_BOOL || vt == VT_I2 || vt == VT_UI2 || vt == VT_I4 || vt == VT_UI4 || vt == VT_R4
          ? vt
          : static_cast<VARTYPE>(VT_I8);
  if (vt == VT_R4) {
    value->fltVal = static_cast<float>(number->second);
  } else {
    value->llVal = number->second;
  }
  return true;
}

FerrolinkReferenceServer::FerrolinkReferenceServer(std::shared_ptr<FerrolinkServerState> state) {
  auto* factory = new Factory(std::move(state));
  registered_ = SUCCEEDED(CoRegisterClassObject(
      kFerrolinkServerClass, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie_));
  factory->Release();  // the registration holds it
}

FerrolinkReferenceServer::~FerrolinkReferenceServer() {
  if (registered_) CoRevokeClassObject(cookie_);
}

}  // namespace qxsym::test
