// The interfaces of the COM communication server as the COM channel calls
// them. Methods sit at fixed positions of the method table (IUnknown's three
// first); positions the channel never calls are placeholders answering
// E_NOTIMPL, so a server implements only what is used. The identifiers are
// those of the project's own server.
#pragma once

#include "QXSymOle.h"

// COM interfaces have no virtual destructor: objects go with their last
// Release, and the method table must hold exactly the listed methods.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif

namespace qxsym {

extern const CLSID kFerrolinkServerClass;
extern const IID kFerrolinkConnectionIid;
extern const IID kFerrolinkTargetIid;

struct IFerrolinkConnection : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Unused3() { return E_NOTIMPL; }
  virtual HRESULT STDMETHODCALLTYPE Unused4() { return E_NOTIMPL; }
  virtual HRESULT STDMETHODCALLTYPE Unused5() { return E_NOTIMPL; }
  virtual HRESULT STDMETHODCALLTYPE Unused6() { return E_NOTIMPL; }
  // 7: opens the connection the name describes.
  virtual HRESULT STDMETHODCALLTYPE Connect(BSTR name) = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused8() { return E_NOTIMPL; }
  virtual HRESULT STDMETHODCALLTYPE Unused9() { return E_NOTIMPL; }
  virtual HRESULT STDMETHODCALLTYPE Unused10() { return E_NOTIMPL; }
  virtual HRESULT STDMETHODCALLTYPE Unused11() { return E_NOTIMPL; }
  virtual HRESULT STDMETHODCALLTYPE Unused12() { return E_NOTIMPL; }
  virtual HRESULT STDMETHODCALLTYPE Unused13() { return E_NOTIMPL; }
  // 14: the target behind the connection (an IUnknown the caller releases).
  virtual HRESULT STDMETHODCALLTYPE GetTarget(IUnknown** target) = 0;

 protected:
  ~IFerrolinkConnection() = default;
};

struct IFerrolinkTarget : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Unused3() { return E_NOTIMPL; }
  virtual HRESULT STDMETHODCALLTYPE Unused4() { return E_NOTIMPL; }
  virtual HRESULT STDMETHODCALLTYPE Unused5() { return E_NOTIMPL; }
  virtual HRESULT STDMETHODCALLTYPE Unused6() { return E_NOTIMPL; }
  virtual HRESULT STDMETHODCALLTYPE Unused7() { return E_NOTIMPL; }
  virtual HRESULT STDMETHODCALLTYPE Unused8() { return E_NOTIMPL; }
  virtual HRESULT STDMETHODCALLTYPE Unused9() { return E_NOTIMPL; }
  virtual HRESULT STDMETHODCALLTYPE Unused10() { return E_NOTIMPL; }
  virtual HRESULT STDMETHODCALLTYPE Unused11() { return E_NOTIMPL; }
  virtual HRESULT STDMETHODCALLTYPE Unused12() { return E_NOTIMPL; }
  // 13: name of the protocol that reaches the target, e.g. "GDB".
  virtual HRESULT STDMETHODCALLTYPE GetProtocolName(BSTR* name) = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused14() { return E_NOTIMPL; }
  virtual HRESULT STDMETHODCALLTYPE Unused15() { return E_NOTIMPL; }
  virtual HRESULT STDMETHODCALLTYPE Unused16() { return E_NOTIMPL; }
  // 17: non-zero when the last variable read delivered a value.
  virtual HRESULT STDMETHODCALLTYPE IsValueValid(LONG* flag) = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused18() { return E_NOTIMPL; }
  virtual HRESULT STDMETHODCALLTYPE Unused19() { return E_NOTIMPL; }
  virtual HRESULT STDMETHODCALLTYPE Unused20() { return E_NOTIMPL; }
  // 21: non-zero when the last variable read timed out.
  virtual HRESULT STDMETHODCALLTYPE IsTimedOut(LONG* flag) = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused22() { return E_NOTIMPL; }
  virtual HRESULT STDMETHODCALLTYPE Unused23() { return E_NOTIMPL; }
  virtual HRESULT STDMETHODCALLTYPE Unused24() { return E_NOTIMPL; }
  virtual HRESULT STDMETHODCALLTYPE Unused25() { return E_NOTIMPL; }
  // 26: one generic request; *responseLength is the capacity on entry.
  virtual HRESULT STDMETHODCALLTYPE Request(LONG target, BYTE* request, LONG requestLength,
                                            BYTE* response, LONG* responseLength) = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused27() { return E_NOTIMPL; }
  // 28: one variable of the target's variable table.
  virtual HRESULT STDMETHODCALLTYPE ReadVariable(USHORT index, LONG reserved, VARTYPE type,
                                                 VARIANT* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused29() { return E_NOTIMPL; }
  virtual HRESULT STDMETHODCALLTYPE Unused30() { return E_NOTIMPL; }
  virtual HRESULT STDMETHODCALLTYPE Unused31() { return E_NOTIMPL; }
  virtual HRESULT STDMETHODCALLTYPE Unused32() { return E_NOTIMPL; }
  virtual HRESULT STDMETHODCALLTYPE Unused33() { return E_NOTIMPL; }
  virtual HRESULT STDMETHODCALLTYPE Unused34() { return E_NOTIMPL; }
  virtual HRESULT STDMETHODCALLTYPE Unused35() { return E_NOTIMPL; }
  virtual HRESULT STDMETHODCALLTYPE Unused36() { return E_NOTIMPL; }
  virtual HRESULT STDMETHODCALLTYPE Unused37() { return E_NOTIMPL; }
  virtual HRESULT STDMETHODCALLTYPE Unused38() { return E_NOTIMPL; }
  virtual HRESULT STDMETHODCALLTYPE Unused39() { return E_NOTIMPL; }
  virtual HRESULT STDMETHODCALLTYPE Unused40() { return E_NOTIMPL; }
  virtual HRESULT STDMETHODCALLTYPE Unused41() { return E_NOTIMPL; }
  virtual HRESULT STDMETHODCALLTYPE Unused42() { return E_NOTIMPL; }
  virtual HRESULT STDMETHODCALLTYPE Unused43() { return E_NOTIMPL; }
  virtual HRESULT STDMETHODCALLTYPE Unused44() { return E_NOTIMPL; }
  virtual HRESULT STDMETHODCALLTYPE Unused45() { return E_NOTIMPL; }
  virtual HRESULT STDMETHODCALLTYPE Unused46() { return E_NOTIMPL; }
  virtual HRESULT STDMETHODCALLTYPE Unused47() { return E_NOTIMPL; }
  virtual HRESULT STDMETHODCALLTYPE Unused48() { return E_NOTIMPL; }
  // 49, 50: target memory.
  virtual HRESULT STDMETHODCALLTYPE ReadMemory(ULONG address, LONG size, BYTE* buffer) = 0;
  virtual HRESULT STDMETHODCALLTYPE WriteMemory(ULONG address, LONG size, const BYTE* data) = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused51() { return E_NOTIMPL; }
  virtual HRESULT STDMETHODCALLTYPE Unused52() { return E_NOTIMPL; }
  virtual HRESULT STDMETHODCALLTYPE Unused53() { return E_NOTIMPL; }
  virtual HRESULT STDMETHODCALLTYPE Unused54() { return E_NOTIMPL; }
  virtual HRESULT STDMETHODCALLTYPE Unused55() { return E_NOTIMPL; }
  virtual HRESULT STDMETHODCALLTYPE Unused56() { return E_NOTIMPL; }
  virtual HRESULT STDMETHODCALLTYPE Unused57() { return E_NOTIMPL; }
  // 58, 59: single bits and bit fields.
  virtual HRESULT STDMETHODCALLTYPE WriteBit(ULONG address, ULONG bitOffset, BYTE value) = 0;
  virtual HRESULT STDMETHODCALLTYPE WriteBits(ULONG address, BYTE bitWidth, ULONG bitOffset,
                                              ULONG value) = 0;

 protected:
  ~IFerrolinkTarget() = default;
};

}  // namespace qxsym

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
