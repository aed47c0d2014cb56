/* Built with UNICODE and _UNICODE: TCHAR is WCHAR in the system's headers,
 * and a name written NAME must still be 8-bit text to reach the library.
 * The script builds it with NAME "Flag" (compiles) and L"Flag" (must not). */
#include <windows.h>

#include "QXSymbols.h"

int main(void) {
  QXSymTagHandle tag = 0;
  return QXSym_GetGlobalTag(1, NAME, &tag);
}
