/*
 * OLE Automation and COM as the library uses them.
 *
 * On Windows this is the system's own headers. Elsewhere it is a small
 * portable layer with the same names, types, codes and record layouts, so the
 * VARIANT functions and the COM channel compile and run unchanged:
 *   - VARIANT: 16 bytes, type code at 0, value field at 8;
 *   - BSTR: UTF-16 text preceded by its length in bytes (32-bit), terminated;
 *   - VariantInit, VariantClear, VariantChangeType (numbers, text, VT_BOOL,
 *     VT_DATE, VT_CY, VT_BYREF sources, with range checks);
 *   - SysAllocString, SysAllocStringLen, SysFreeString, SysStringLen;
 *   - MultiByteToWideChar, WideCharToMultiByte (UTF-8 is the ANSI code page);
 *   - IUnknown, IClassFactory, CoInitialize, CoUninitialize,
 *     CoRegisterClassObject, CoRevokeClassObject, CoCreateInstance, OleRun.
 * Interfaces are C++ classes without a virtual destructor, so their methods
 * sit in the method table in the order of declaration, as in COM.
 */
#ifndef QXSYM_OLE_H
#define QXSYM_OLE_H

#if defined(_WIN32)

#include <objbase.h>
#include <ole2.h>
#include <oleauto.h>
#include <windows.h>

#else

#include <stddef.h>
#include <stdint.h>

typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef int16_t SHORT;
typedef uint16_t USHORT;
typedef int32_t INT;
typedef uint32_t UINT;
typedef int32_t BOOL;
typedef char CHAR;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef float FLOAT;
typedef double DOUBLE;
typedef int32_t HRESULT;
typedef int32_t SCODE;
typedef double DATE;
typedef uint16_t VARTYPE;
typedef int16_t VARIANT_BOOL;
#ifdef __cplusplus
typedef char16_t OLECHAR;
#else
typedef uint16_t OLECHAR;
#endif
typedef OLECHAR* BSTR;
typedef OLECHAR* LPOLESTR;
typedef const OLECHAR* LPCOLESTR;

#define VARIANT_TRUE ((VARIANT_BOOL)-1)
#define VARIANT_FALSE ((VARIANT_BOOL)0)

#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define E_NOTIMPL ((HRESULT)0x80004001)
#define E_NOINTERFACE ((HRESULT)0x80004002)
#define E_POINTER ((HRESULT)0x80004003)
#define E_FAIL ((HRESULT)0x80004005)
#define E_UNEXPECTED ((HRESULT)0x8000FFFF)
#define E_OUTOFMEMORY ((HRESULT)0x8007000E)
#define E_INVALIDARG ((HRESULT)0x80070057)
#define CLASS_E_NOAGGREGATION ((HRESULT)0x80040110)
#define REGDB_E_CLASSNOTREG ((HRESULT)0x80040154)
#define CO_E_NOTINITIALIZED ((HRESULT)0x800401F0)
#define DISP_E_TYPEMISMATCH ((HRESULT)0x80020005)
#define DISP_E_BADVARTYPE ((HRESULT)0x80020008)
#define DISP_E_OVERFLOW ((HRESULT)0x8002000A)
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)

#define CP_ACP 0
#define CP_UTF8 65001

#define STDMETHODCALLTYPE
#define WINAPI

enum VARENUM {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_DECIMAL = 14,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_INT = 22,
  VT_UINT = 23,
  VT_VOID = 24,
  VT_ARRAY = 0x2000,
  VT_BYREF = 0x4000
};

#ifdef __cplusplus
struct IUnknown;
#else
typedef struct IUnknown IUnknown;
#endif

/* Currency: a 64-bit integer in units of 1/10000. */
typedef union tagCY {
  LONGLONG int64;
} CY;

/* The published record: type code, three reserved words, 8-byte value. */
typedef struct tagVARIANT {
  VARTYPE vt;
  WORD wReserved1;
  WORD wReserved2;
  WORD wReserved3;
  union {
    LONGLONG llVal;
    LONG lVal;
    BYTE bVal;
    SHORT iVal;
    FLOAT fltVal;
    DOUBLE dblVal;
    VARIANT_BOOL boolVal;
    SCODE scode;
    DATE date;
    BSTR bstrVal;
    IUnknown* punkVal;
    CHAR cVal;
    USHORT uiVal;
    ULONG ulVal;
    ULONGLONG ullVal;
    INT intVal;
    UINT uintVal;
    CY cyVal;
    /* VT_BYREF: where the value of the type without VT_BYREF is. */
    void* byref;
    BYTE* pbVal;
    SHORT* piVal;
    LONG* plVal;
    LONGLONG* pllVal;
    FLOAT* pfltVal;
    DOUBLE* pdblVal;
    VARIANT_BOOL* pboolVal;
    SCODE* pscode;
    CY* pcyVal;
    DATE* pdate;
    BSTR* pbstrVal;
    struct tagVARIANT* pvarVal;
    CHAR* pcVal;
    USHORT* puiVal;
    ULONG* pulVal;
    ULONGLONG* pullVal;
    INT* pintVal;
    UINT* puintVal;
  };
} VARIANT;
typedef VARIANT VARIANTARG;

typedef struct _GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
} GUID;
typedef GUID IID;
typedef GUID CLSID;

#define CLSCTX_INPROC_SERVER 0x1
#define CLSCTX_INPROC_HANDLER 0x2
#define CLSCTX_LOCAL_SERVER 0x4
#define CLSCTX_REMOTE_SERVER 0x10
#define CLSCTX_ALL \
  (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)
#define REGCLS_MULTIPLEUSE 1

#ifdef __cplusplus
#include <cstring>

typedef const GUID& REFGUID;
typedef const IID& REFIID;
typedef const CLSID& REFCLSID;

inline bool IsEqualGUID(REFGUID a, REFGUID b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }
inline bool operator==(REFGUID a, REFGUID b) { return IsEqualGUID(a, b); }
inline bool operator!=(REFGUID a, REFGUID b) { return !IsEqualGUID(a, b); }

extern const IID IID_IUnknown;
extern const IID IID_IClassFactory;

struct IUnknown {
  virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) = 0;
  virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE Release() = 0;

 protected:
  ~IUnknown() = default;  // objects go with their last Release
};

struct IClassFactory : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) = 0;
  virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) = 0;

 protected:
  ~IClassFactory() = default;
};

extern "C" {
#endif

/* Sets vt to VT_EMPTY and nothing else: like the system's, it leaves the
 * reserved words and the value field as they were. */
void VariantInit(VARIANT* value);
/* Releases what the VARIANT owns (its BSTR or interface) and empties it. */
HRESULT VariantClear(VARIANT* value);
/* Converts src into dest (which may be src) as type vt. Failures leave dest
 * untouched: DISP_E_TYPEMISMATCH (no conversion), DISP_E_OVERFLOW (out of the
 * target's range), DISP_E_BADVARTYPE (unknown type), E_OUTOFMEMORY. */
HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, USHORT flags, VARTYPE vt);
HRESULT VariantCopy(VARIANT* dest, const VARIANT* src);

BSTR SysAllocString(const OLECHAR* text);
BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
void SysFreeString(BSTR text);
UINT SysStringLen(BSTR text);

/* UTF-8 (code page CP_ACP or CP_UTF8) to UTF-16 and back, with the Windows
 * rules: a length of -1 takes the text up to and including its zero; an
 * output capacity of 0 asks for the size needed; a short output gives 0.
 * Malformed input becomes U+FFFD (to UTF-16) or '?' (to UTF-8). */
int MultiByteToWideChar(UINT codePage, DWORD flags, const char* text, int length, OLECHAR* out,
                        int capacity);
int WideCharToMultiByte(UINT codePage, DWORD flags, const OLECHAR* text, int length, char* out,
                        int capacity, const char* defaultChar, BOOL* usedDefault);

/* COM for the calling thread. CoInitialize answers S_OK the first time and
 * S_FALSE when the thread was already initialised. */
HRESULT CoInitialize(void* reserved);
void CoUninitialize(void);

#ifdef __cplusplus
}

/* Class objects of the process. A class registered here is what
 * CoCreateInstance creates; nothing is looked up elsewhere. */
HRESULT CoRegisterClassObject(REFCLSID clsid, IUnknown* factory, DWORD context, DWORD flags,
                              DWORD* cookie);
HRESULT CoRevokeClassObject(DWORD cookie);
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid,
                         void** object);
/* Puts a created object into its running state; objects of this layer are
 * always running, so any object answers S_OK. */
HRESULT OleRun(IUnknown* object);
#endif

#endif /* _WIN32 */

#endif /* QXSYM_OLE_H */
