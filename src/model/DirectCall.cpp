#include "DirectCall.h"

#include <cstdlib>
#include <cstring>

namespace qxsym {

QXSymResult TakeHostText(char* text, TCHAR* buffer, std::uint16_t* length) {
  const std::size_t chars = text != nullptr ? std::strlen(text) : 0;
  QXSymResult result = symResOk;
  if (chars + 1 > UINT16_MAX) {
    // Its length cannot be reported in 16 bits; nothing sensible fits.
    result = symResNotOk;
  } else {
    const auto needed = static_cast<std::uint16_t>(chars + 1);
    if (needed > *length) {
      result = symResInvalidBuffer;
    } else {
      if (chars != 0) std::memcpy(buffer, text, chars);
      std::memset(buffer + chars, 0, *length - chars);
      buffer[*length - 1] = '\0';
    }
    *length = needed;
  }
  std::free(text);
  return result;
}

}  // namespace qxsym
