#include "CFerrolinkCommunication.h"

#include <cstring>
#include <vector>

namespace qxsym {
namespace {

// Exact, case-sensitive comparison with ASCII text; a null BSTR is "".
bool Equals(BSTR name, const char* ascii) {
  const std::size_t n = std::strlen(ascii);
  if (SysStringLen(name) != n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    if (name[i] != static_cast<OLECHAR>(ascii[i])) return false;
  }
  return true;
}

// Compares the protocol name the target reports; false when the call fails.
bool ProtocolIs(IFerrolinkTarget* target, const char* expected, bool* answer) {
  BSTR name = nullptr;
  if (FAILED(target->GetProtocolName(&name))) return false;
  *answer = Equals(name, expected);
  SysFreeString(name);
  return true;
}

// The connection name as a BSTR: at most the 60 bytes of the field.
BSTR NameOf(const QXSymServerAddress& address) {
  std::size_t n = 0;
  while (n < sizeof(address.ip) && address.ip[n] != '\0') ++n;
  if (n == 0) return SysAllocStringLen(nullptr, 0);
  OLECHAR wide[sizeof(address.ip)];
  const int len = MultiByteToWideChar(CP_ACP, 0, address.ip, static_cast<int>(n), wide,
                                      static_cast<int>(sizeof(address.ip)));
  if (len <= 0) return nullptr;
  return SysAllocStringLen(wide, static_cast<UINT>(len));
}

void PutLE(std::uint8_t* out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

CFerrolinkCommunication::~CFerrolinkCommunication() { Release(); }

void CFerrolinkCommunication::Release() {
  if (server_ != nullptr) server_->Release();
  server_ = nullptr;
}

bool CFerrolinkCommunication::Open(const QXSymServerAddress* address) {
  if (address == nullptr || server_ != nullptr) return false;
  if (FAILED(CoInitialize(nullptr))) return false;

  IUnknown* object = nullptr;
  if (FAILED(CoCreateInstance(kFerrolinkServerClass, nullptr, CLSCTX_ALL, IID_IUnknown,
                              reinterpret_cast<void**>(&object))) ||
      object == nullptr) {
    return false;
  }
  IFerrolinkConnection* connection = nullptr;
  HRESULT hr = OleRun(object);
  if (SUCCEEDED(hr)) {
    hr = object->QueryInterface(kFerrolinkConnectionIid, reinterpret_cast<void**>(&connection));
  }
  object->Release();
  if (FAILED(hr) || connection == nullptr) return false;

  BSTR name = NameOf(*address);
  hr = name != nullptr ? connection->Connect(name) : E_OUTOFMEMORY;
  SysFreeString(name);
  IUnknown* target = nullptr;
  if (SUCCEEDED(hr)) hr = connection->GetTarget(&target);
  if (SUCCEEDED(hr) && target != nullptr) {
    hr = target->QueryInterface(kFerrolinkTargetIid, reinterpret_cast<void**>(&server_));
    target->Release();
  }
  bool gdb = false;
  bool can_open = false;
  bool ok = SUCCEEDED(hr) && server_ != nullptr && ProtocolIs(server_, "GDB", &gdb) &&
            ProtocolIs(server_, "CanOpen", &can_open);
  connection->Release();
  if (!ok) {
    Release();
    return false;
  }
  direct_memory_ = gdb;
  request_target_ = can_open ? 0 : 0x200;
  return true;
}

bool CFerrolinkCommunication::Close() {
  Release();
  return true;
}

QXSymResult CFerrolinkCommunication::ReadMemory(std::uint32_t address, std::int32_t size,
                                                void* buffer) {
  if (server_ == nullptr) return symResNotInited;
  auto* out = static_cast<BYTE*>(buffer);
  if (direct_memory_) {
    if (size < 0 || (size > 0 && out == nullptr)) return symResMemReadError;
    return FAILED(server_->ReadMemory(address, size, out)) ? symResMemReadError : symResOk;
  }
  // The message's size field has 16 bits; only they count.
  const std::uint32_t n = static_cast<std::uint32_t>(size) & 0xFFFF;
  if (n > kMaxGenericRead || (n > 0 && out == nullptr)) return symResMemReadError;
  std::uint8_t request[7];
  request[0] = 2;
  PutLE(request + 1, address, 4);
  PutLE(request + 5, n, 2);
  // A marker left from an earlier answer must not pass for this one.
  response_buffer_[n] = 0;
  LONG length = static_cast<LONG>(n + 1);
  if (FAILED(server_->Request(request_target_, request, 7, response_buffer_, &length))) {
    return symResMemReadError;
  }
  if (n > 0) std::memcpy(out, response_buffer_, n);
  return response_buffer_[n] == kMarker ? symResOk : symResMemReadError;
}

QXSymResult CFerrolinkCommunication::WriteMemory(std::uint32_t address, std::int32_t size,
                                                 const void* data) {
  if (server_ == nullptr) return symResNotInited;
  const auto* in = static_cast<const BYTE*>(data);
  if (direct_memory_) {
    if (size < 0 || (size > 0 && in == nullptr)) return symResMemWriteError;
    return FAILED(server_->WriteMemory(address, size, in)) ? symResMemWriteError : symResOk;
  }
  const std::uint32_t n = static_cast<std::uint32_t>(size) & 0xFFFF;
  if (n > 0 && in == nullptr) return symResMemWriteError;
  std::vector<std::uint8_t> request(7 + n);
  request[0] = 1;
  PutLE(&request[1], address, 4);
  PutLE(&request[5], n, 2);
  if (n > 0) std::memcpy(&request[7], in, n);
  std::uint8_t answer = 0;
  LONG length = 1;
  if (FAILED(server_->Request(request_target_, request.data(), static_cast<LONG>(request.size()),
                              &answer, &length))) {
    return symResMemWriteError;
  }
  return answer == kMarker ? symResOk : symResMemWriteError;
}

QXSymResult CFerrolinkCommunication::WriteBit(std::uint32_t address, std::uint32_t bitOffset,
                                              std::uint8_t value) {
  if (server_ == nullptr) return symResNotInited;
  return FAILED(server_->WriteBit(address, bitOffset, value)) ? symResMemWriteError : symResOk;
}

QXSymResult CFerrolinkCommunication::WriteBits(std::uint32_t address, std::uint32_t bitOffset,
                                               std::uint8_t bitWidth, const void* value) {
  if (server_ == nullptr) return symResNotInited;
  if (value == nullptr) return symResInvalidParameter;
  ULONG v = 0;
  switch (bitWidth) {
    case 1:
      v = *static_cast<const std::uint8_t*>(value) & 1u;
      break;
    case 8:
      v = *static_cast<const std::uint8_t*>(value);
      break;
    case 16: {
      std::uint16_t w = 0;
      std::memcpy(&w, value, sizeof(w));
      v = w;
      break;
    }
    case 32: {
      std::uint32_t w = 0;
      std::memcpy(&w, value, sizeof(w));
      v = w;
      break;
    }
    default:
      return symResInvalidParameter;
  }
  return FAILED(server_->WriteBits(address, bitWidth, bitOffset, v)) ? symResMemWriteError
                                                                     : symResOk;
}

QXSymResult CFerrolinkCommunication::ReadMemory64(std::uint64_t address, std::int32_t size,
                                                  void* buffer) {
  return ReadMemory(static_cast<std::uint32_t>(address), size, buffer);
}

QXSymResult CFerrolinkCommunication::WriteMemory64(std::uint64_t address, std::int32_t size,
                                                   const void* data) {
  return WriteMemory(static_cast<std::uint32_t>(address), size, data);
}

QXSymResult CFerrolinkCommunication::WriteBit64(std::uint64_t address, std::uint32_t bitOffset,
                                                std::uint8_t value) {
  return WriteBit(static_cast<std::uint32_t>(address), bitOffset, value);
}

QXSymResult CFerrolinkCommunication::WriteBits64(std::uint64_t address, std::uint32_t bitOffset,
                                                 std::uint8_t bitWidth, const void* value) {
  return WriteBits(static_cast<std::uint32_t>(address), bitOffset, bitWidth, value);
}

VARTYPE CFerrolinkCommunication::VarTypeOf(std::uint8_t ioType) {
  static const VARTYPE kTypes[] = {VT_VOID, VT_BOOL, VT_ERROR, VT_I2,  VT_UI2,
                                   VT_I4,   VT_UI4,  VT_R4,    VT_BSTR};
  if (ioType < sizeof(kTypes) / sizeof(kTypes[0])) return kTypes[ioType];
  return ioType == 255 ? static_cast<VARTYPE>(VT_NULL) : static_cast<VARTYPE>(VT_ERROR);
}

QXSymResult CFerrolinkCommunication::ReadVariable(std::uint16_t index, std::uint32_t /*reserved*/,
                                                  void* buffer, std::uint16_t bufferSize,
                                                  std::uint8_t ioType) {
  if (server_ == nullptr) return symResNotInited;
  if (buffer == nullptr && bufferSize != 0) return symResInvalidParameter;
  VARIANT value;
  // Zeroed whole: a server fills only its type's bytes of the value field,
  // which is copied on as it is.
  std::memset(&value, 0, sizeof value);
  QXSymResult result = symResNotOk;
  LONG flag = 0;
  if (SUCCEEDED(server_->ReadVariable(index, 0, VarTypeOf(ioType), &value))) {
    if (SUCCEEDED(server_->IsValueValid(&flag)) && flag != 0) {
      auto* out = static_cast<std::uint8_t*>(buffer);
      if (bufferSize != 0) std::memset(out, 0, bufferSize);
      if (value.vt == VT_BSTR) {
        // Text as 8-bit text, cut to the buffer and terminated.
        const UINT chars = SysStringLen(value.bstrVal);
        if (chars != 0 && bufferSize > 1) {
          const int n = WideCharToMultiByte(CP_ACP, 0, value.bstrVal, static_cast<int>(chars),
                                            nullptr, 0, nullptr, nullptr);
          if (n > 0) {
            std::vector<char> text(static_cast<std::size_t>(n));
            WideCharToMultiByte(CP_ACP, 0, value.bstrVal, static_cast<int>(chars), text.data(), n,
                                nullptr, nullptr);
            const std::size_t keep = static_cast<std::size_t>(n) < bufferSize - 1u
                                         ? static_cast<std::size_t>(n)
                                         : bufferSize - 1u;
            std::memcpy(out, text.data(), keep);
          }
        }
      } else if (bufferSize != 0) {
        // The value field holds 8 bytes; nothing beyond it is read.
        const std::size_t keep = bufferSize < 8 ? bufferSize : 8;
        std::memcpy(out, &value.llVal, keep);
      }
      result = symResOk;
    } else if (SUCCEEDED(server_->IsTimedOut(&flag)) && flag != 0) {
      result = symResTimeoutError;
    }
  }
  VariantClear(&value);
  return result;
}

QXSymResult CFerrolinkCommunication::WriteVariable(std::uint16_t, std::uint32_t, const void*,
                                                   std::uint16_t, std::uint8_t) {
  return symResNotImplemented;
}

QXSymResult CFerrolinkCommunication::Transact(const void*, std::uint32_t, void*, std::uint32_t*) {
  return symResNotImplemented;
}

}  // namespace qxsym
