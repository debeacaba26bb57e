#!/bin/sh
# Usage: check-imports.sh BUILD_DIR
# Every .exe of the build must import only DLLs that Windows itself ships: the runtime, the C++
# library, libgcc and winpthread are linked statically, and so are all image libraries.
set -eu
build=$1
allowed='^(kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|comctl32|comdlg32|gdiplus|msvcrt|ws2_32|winmm|msimg32|msvfw32|avifil32|shlwapi|version|uxtheme|imm32|winspool\.drv|mscms|wininet|rpcrt4|setupapi|windowscodecs|uuid|urlmon|api-ms-win-[a-z0-9-]+)\.dll$'
n=0; bad=0
for exe in $(find "$build" -name '*.exe' -not -path "$build/wine/*" -not -path "$build/testwork/*" -not -path "*/CMakeFiles/*"); do
  n=$((n + 1))
  for dll in $(i686-w64-mingw32-objdump -p "$exe" | awk '/DLL Name:/{print tolower($3)}'); do
    if ! echo "$dll" | grep -qE "$allowed"; then
      echo "$exe imports $dll"; bad=$((bad + 1))
    fi
  done
done
[ "$n" -gt 0 ] || { echo "no executables found under $build"; exit 1; }
echo "$n executables checked, $bad foreign imports"
[ "$bad" -eq 0 ]
