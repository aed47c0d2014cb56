// BSTR allocation and the UTF-8 <-> UTF-16 conversions of the portable OLE
// Automation layer.
#if !defined(_WIN32)

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "QXSymOle.h"

namespace {

// A BSTR is preceded by its length in bytes; the text is followed by a zero
// character that the length does not count.
constexpr std::size_t kPrefix = sizeof(std::uint32_t);
// Longest text a BSTR can describe with its 32-bit byte count.
constexpr UINT kMaxChars = 0x7FFFFFF0u / sizeof(OLECHAR);

std::uint32_t* PrefixOf(BSTR text) {
  return reinterpret_cast<std::uint32_t*>(reinterpret_cast<unsigned char*>(text) - kPrefix);
}

bool IsHighSurrogate(std::uint32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(std::uint32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Decodes one UTF-8 sequence at s (n bytes available); returns the bytes
// used (at least 1) and the code point, U+FFFD for a malformed sequence.
int DecodeUtf8(const unsigned char* s, std::size_t n, std::uint32_t* cp) {
  const unsigned char b = s[0];
  if (b < 0x80) {
    *cp = b;
    return 1;
  }
  int len = 0;
  std::uint32_t min = 0;
  std::uint32_t c = 0;
  if ((b & 0xE0) == 0xC0) {
    len = 2, min = 0x80, c = b & 0x1F;
  } else if ((b & 0xF0) == 0xE0) {
    len = 3, min = 0x800, c = b & 0x0F;
  } else if ((b & 0xF8) == 0xF0) {
    len = 4, min = 0x10000, c = b & 0x07;
  } else {
    *cp = 0xFFFD;
    return 1;
  }
  for (int i = 1; i < len; ++i) {
    if (static_cast<std::size_t>(i) >= n || (s[i] & 0xC0) != 0x80) {
      *cp = 0xFFFD;
      return i;
    }
    c = (c << 6) | (s[i] & 0x3F);
  }
  if (c < min || c > 0x10FFFF || IsHighSurrogate(c) || IsLowSurrogate(c)) c = 0xFFFD;
  *cp = c;
  return len;
}

}  // namespace

extern "C" {

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
  if (length > kMaxChars) return nullptr;
  const std::size_t bytes = static_cast<std::size_t>(length) * sizeof(OLECHAR);
  auto* block = static_cast<unsigned char*>(std::malloc(kPrefix + bytes + sizeof(OLECHAR)));
  if (block == nullptr) return nullptr;
  const std::uint32_t prefix = static_cast<std::uint32_t>(bytes);
  std::memcpy(block, &prefix, kPrefix);
  BSTR out = reinterpret_cast<BSTR>(block + kPrefix);
  if (text != nullptr && length != 0) {
    std::memcpy(out, text, bytes);
  } else {
    std::memset(out, 0, bytes);
  }
  out[length] = 0;
  return out;
}

BSTR SysAllocString(const OLECHAR* text) {
  if (text == nullptr) return nullptr;
  UINT n = 0;
  while (text[n] != 0) {
    if (n == kMaxChars) return nullptr;
    ++n;
  }
  return SysAllocStringLen(text, n);
}

void SysFreeString(BSTR text) {
  if (text != nullptr) std::free(PrefixOf(text));
}

UINT SysStringLen(BSTR text) {
  if (text == nullptr) return 0;
  std::uint32_t bytes = 0;
  std::memcpy(&bytes, PrefixOf(text), kPrefix);
  return bytes / sizeof(OLECHAR);
}

int MultiByteToWideChar(UINT codePage, DWORD /*flags*/, const char* text, int length, OLECHAR* out,
                        int capacity) {
  if ((codePage != CP_ACP && codePage != CP_UTF8) || text == nullptr || length < -1 ||
      length == 0 || capacity < 0 || (capacity > 0 && out == nullptr)) {
    return 0;
  }
  const auto* s = reinterpret_cast<const unsigned char*>(text);
  const std::size_t n = length == -1 ? std::strlen(text) + 1 : static_cast<std::size_t>(length);
  std::size_t i = 0;
  long long produced = 0;
  while (i < n) {
    std::uint32_t cp = 0;
    i += static_cast<std::size_t>(DecodeUtf8(s + i, n - i, &cp));
    const int units = cp >= 0x10000 ? 2 : 1;
    if (capacity > 0) {
      if (produced + units > capacity) return 0;
      if (units == 2) {
        cp -= 0x10000;
        out[produced] = static_cast<OLECHAR>(0xD800 + (cp >> 10));
        out[produced + 1] = static_cast<OLECHAR>(0xDC00 + (cp & 0x3FF));
      } else {
        out[produced] = static_cast<OLECHAR>(cp);
      }
    }
    produced += units;
    if (produced > 0x7FFFFFFF) return 0;
  }
  return static_cast<int>(produced);
}

int WideCharToMultiByte(UINT codePage, DWORD /*flags*/, const OLECHAR* text, int length, char* out,
                        int capacity, const char* /*defaultChar*/, BOOL* usedDefault) {
  if (usedDefault != nullptr) *usedDefault = 0;
  if ((codePage != CP_ACP && codePage != CP_UTF8) || text == nullptr || length < -1 ||
      length == 0 || capacity < 0 || (capacity > 0 && out == nullptr)) {
    return 0;
  }
  std::size_t n = 0;
  if (length == -1) {
    while (text[n] != 0) ++n;
    ++n;
  } else {
    n = static_cast<std::size_t>(length);
  }
  long long produced = 0;
  for (std::size_t i = 0; i < n; ++i) {
    std::uint32_t cp = text[i];
    if (IsHighSurrogate(cp) && i + 1 < n && IsLowSurrogate(text[i + 1])) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
      ++i;
    } else if (IsHighSurrogate(cp) || IsLowSurrogate(cp)) {
      cp = '?';
      if (usedDefault != nullptr) *usedDefault = 1;
    }
    unsigned char bytes[4];
    int len = 0;
    if (cp < 0x80) {
      bytes[len++] = static_cast<unsigned char>(cp);
    } else if (cp < 0x800) {
      bytes[len++] = static_cast<unsigned char>(0xC0 | (cp >> 6));
      bytes[len++] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      bytes[len++] = static_cast<unsigned char>(0xE0 | (cp >> 12));
      bytes[len++] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
      bytes[len++] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
    } else {
      bytes[len++] = static_cast<unsigned char>(0xF0 | (cp >> 18));
      bytes[len++] = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
      bytes[len++] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
      bytes[len++] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
    }
    if (capacity > 0) {
      if (produced + len > capacity) return 0;
      std::memcpy(out + produced, bytes, static_cast<std::size_t>(len));
    }
    produced += len;
    if (produced > 0x7FFFFFFF) return 0;
  }
  return static_cast<int>(produced);
}

}  // extern "C"

#endif  // !_WIN32
