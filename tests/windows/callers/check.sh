#!/usr/bin/env bash
# Callers of the Windows DLL, built with MinGW as a user builds them:
#   check.sh ARCH BUILD_DIR
# ARCH i686 or x86_64; BUILD_DIR holds src/QXSymbolsA.dll and its import
# library. With UNICODE defined, an 8-bit name compiles and a wide one does
# not (in C++, and in C as the incompatible-pointer error it is); a caller of
# every family links against the import library (and, 32-bit, against one
# made from the shipped QXSymbolsA.def with dlltool, as its users would).
set -euo pipefail
arch=$1
build=$2
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)
cc=$arch-w64-mingw32-gcc-posix
cxx=$arch-w64-mingw32-g++-posix
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
flags=(-DUNICODE -D_UNICODE -I"$root/include" -Wall -Wextra -Werror)

"$cc" "${flags[@]}" -DNAME='"Flag"' -c "$here/text.c" -o "$scratch/text.o"
"$cxx" "${flags[@]}" -DNAME='"Flag"' -x c++ -c "$here/text.c" -o "$scratch/text.o"
for compiler in "$cc" "$cxx -x c++"; do
  # shellcheck disable=SC2086 # the compiler comes with its language option
  if $compiler "${flags[@]}" -DNAME='L"Flag"' -c "$here/text.c" -o "$scratch/wide.o" \
    2>"$scratch/wide.err"; then
    echo "$arch: a wide name compiled with $compiler"
    exit 1
  fi
done
echo "$arch: UNICODE caller: 8-bit name compiles, wide name refused"

"$cc" "${flags[@]}" "$here/families.c" "$build/src/QXSymbolsA.dll.a" -loleaut32 \
  -o "$scratch/families.exe"
echo "$arch: caller of every family links against QXSymbolsA.dll.a"
if [ "$arch" = i686 ]; then
  "$arch-w64-mingw32-dlltool" -k -d "$build/src/QXSymbolsA.def" -D QXSymbolsA.dll \
    -l "$scratch/fromdef.dll.a"
  "$cc" "${flags[@]}" "$here/families.c" "$scratch/fromdef.dll.a" -loleaut32 \
    -o "$scratch/fromdef.exe"
  # Every import names an export of the DLL.
  exports=$("$arch-w64-mingw32-objdump" -p "$build/src/QXSymbolsA.dll" |
    sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk '/^[[:space:]]+\[/ {print $NF}' | sort)
  for exe in families fromdef; do
    imports=$("$arch-w64-mingw32-objdump" -p "$scratch/$exe.exe" |
      sed -n '/DLL Name: QXSymbolsA.dll/,/^$/p' | awk 'NR > 2 && NF >= 2 {print $NF}' | sort)
    missing=$(comm -23 <(echo "$imports") <(echo "$exports"))
    if [ -n "$missing" ] || [ -z "$imports" ]; then
      echo "$arch: $exe.exe imports what the DLL does not export: ${missing:-nothing at all}"
      exit 1
    fi
  done
  echo "$arch: its imports ($(echo "$imports" | wc -l)) are all exports of the DLL, also from QXSymbolsA.def"
fi
