#!/usr/bin/env bash
# Makes the zip a pilot downloads (korvan-bridge-<version>-win64.zip, from the `windows` build,
# with CPack), checks it, and lists what matters for the release notes: its files, the exe's
# imports (Windows' own DLLs only) and the SHA-256 sums.
#
#   scripts/package.sh [--build DIR] [--out DIR]
#
# --build: the Windows build (default build/windows; configured and built when missing).
# --out: where the zip and its .sha256 go (default build/package). The test command runs this
# as the test `windows-package`.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/windows
out=build/package
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    *) echo "usage: $0 [--build DIR] [--out DIR]" >&2; exit 2 ;;
  esac
done

if [ ! -f "$build/CPackConfig.cmake" ]; then
  cmake --preset windows
  cmake --build --preset windows -j2 --target korvan-bridge
fi
rm -rf "$out"
mkdir -p "$out"
out=$(cd "$out" && pwd)
(cd "$build" && cpack -B "$out" >/dev/null)
rm -rf "$out/_CPack_Packages"
zip=$(ls "$out"/korvan-bridge-*-win64.zip)
folder=$(basename "$zip" .zip)

failed=0
fail() {
  echo "FAIL: $*" >&2
  failed=1
}

echo "== $zip"
cmake -E tar tvf "$zip"
listed=$(cmake -E tar tf "$zip" | sort | tr '\n' ' ')
wanted="$folder/README.txt $folder/SHA256.txt $folder/korvan-bridge.exe "
[ "$listed" = "$wanted" ] || fail "the zip holds: $listed (wanted: $wanted)"

unpacked="$out/unpacked"
mkdir -p "$unpacked"
(cd "$unpacked" && cmake -E tar xf "$zip")
exe="$unpacked/$folder/korvan-bridge.exe"

echo "== the exe's imports (x86_64-w64-mingw32-objdump -p)"
imports=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p')
echo "$imports"
# Windows' own: kernel, user interface, SetupAPI, multimedia timer, the shell's known folders
# (with COM's allocator) and its C runtime.
system="ADVAPI32.dll COMCTL32.dll GDI32.dll KERNEL32.dll msvcrt.dll ntdll.dll ole32.dll
        SETUPAPI.dll SHELL32.dll USER32.dll WINMM.dll"
for dll in $imports; do
  echo " $system " | tr -s ' \n' '  ' | grep -qi " $dll " || fail "imports $dll, not a Windows DLL"
done
[ -n "$imports" ] || fail "no imports read from $exe"

# Resource types: 3 icon, 14 icon group, 16 version, 24 manifest.
resources=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n '/Resource Directory section/,$p')
for type in 0x000003 0x00000e 0x000010 0x000018; do
  echo "$resources" | grep -q "Entry: ID: $type," || fail "no resource of type $type in the exe"
done
# The exe starts on Windows 7: what it looks up at run time, for newer Windows, it does not import.
for function in GetDpiForWindow; do
  x86_64-w64-mingw32-objdump -p "$exe" | grep -qw "$function" && fail "imports $function"
done

echo "== SHA-256"
sum=$(sha256sum "$exe" | cut -d' ' -f1)
echo "korvan-bridge.exe  $sum"
echo "$(basename "$zip")  $(cut -d' ' -f1 "$zip.sha256")"
[ "$(tr -d '\r' <"$unpacked/$folder/SHA256.txt")" = "$sum  korvan-bridge.exe" ] ||
  fail "SHA256.txt does not hold the exe's sum"
grep -q $'\r$' "$unpacked/$folder/README.txt" || fail "README.txt without Windows line ends"
grep -q "@" "$unpacked/$folder/README.txt" && fail "README.txt has an unfilled @VARIABLE@"
rm -rf "$unpacked"
exit $failed
