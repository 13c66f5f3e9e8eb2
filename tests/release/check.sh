#!/usr/bin/env bash
# Checks of the packages in dist/ that scripts/release.sh writes, one step per CTest entry:
# static (both DLLs as files, then release_tests on their resources), smoke win32|win64 (the
# package registered from a fresh Wine prefix with the regsvr32 of its architecture,
# INSTALL.md's verification script, regsvr32 /u) and sums. CTest hands in the paths (VELA_*).
# Exit code 77: this machine runs no 32-bit programs (wine-exec); CTest reports a skip.
set -uo pipefail
dist="$VELA_SOURCE/dist" work="$VELA_BUILD/release-$1${2:+-$2}" failed=0
export LC_ALL=C VELA_WINEPREFIX="$work/prefix" # LC_ALL: file lists in one order
trap '"$VELA_BUILD/wine-stop"; rm -rf "$work"' EXIT
rm -rf "$work" && mkdir -p "$work" && cd "$dist" || exit 1
package=$(ls VeladcomClient-*-win64.zip) && version=${package#VeladcomClient-} && version=${version%-win64.zip}

check() { # check <description> <command...>
  local what=$1
  shift
  "$@" >/dev/null 2>&1 || { [ $? = 77 ] && exit 77; echo "FAIL: $what"; failed=1; }
}
unpack() { mkdir -p "$2" && (cd "$2" && cmake -E tar xf "$dist/$1"); }
winpath() { local p="$1"; echo "Z:${p//\//\\}"; }
wine() { "$VELA_BUILD/wine-exec" "$@" 2>/dev/null | tr -d '\r'; return "${PIPESTATUS[0]}"; }
imports_system_only() { # a list with kernel32.dll and nothing but system DLLs
  local dlls && dlls=$(sed -n 's/^\tDLL Name: //p' <<<"$1" | tr A-Z a-z)
  grep -qx kernel32.dll <<<"$dlls" && ! grep -qvxE '(kernel32|advapi32|ole32|oleaut32|msvcrt)\.dll' <<<"$dlls"
}
exports() { # "<ordinal> <name>" per named export, then the number of exported addresses
  awk '/^Ordinal Base/ {base = $3} /^\[Ordinal\/Name Pointer\] Table/ {names = 1; next}
       names && /^\t\[/ {gsub(/[][]/, " "); print $1 + base, $2; next} {names = 0}
       /\+base\[/ {n++} END {print n, "addresses"}' <<<"$1"
}
no_debug_sections() { local s && s=$("$VELA_OBJDUMP" -h "$1") && grep -q ' \.text ' <<<"$s" && ! grep -qE ' \.(z?debug|stab)' <<<"$s"; }
debug_link_is() { # debug_link_is <dll> <debug file>: its name and CRC-32, as debuggers check them
  "$VELA_OBJCOPY" --dump-section .gnu_debuglink="$work/link" "$1" "$work/scratch"
  python3 -c 'import sys, os, zlib
link, debug = (open(f, "rb").read() for f in sys.argv[1:])
name = os.path.basename(sys.argv[2]).encode()
sys.exit(link != name + bytes(4 - len(name) % 4) + zlib.crc32(debug).to_bytes(4, "little"))' "$work/link" "$2"
}

static() {
  local arch p dll && local -A versions && local contents="INSTALL.md VeladcomClient.dll VeladcomClient.h VeladcomClient.idl VeladcomClient.tlb VeladcomClient_i.c"
  for arch in win32 win64; do
    check "$arch: unpack" unpack "VeladcomClient-$version-$arch.zip" "$work/$arch"
    check "$arch: unpack debug" unpack "VeladcomClient-$version-$arch-debug.zip" "$work/$arch-debug"
    check "$arch: contents" test "$(cd "$work/$arch" && echo *) $(cd "$work/$arch-debug" && echo *)" = "$contents VeladcomClient.dll.debug"
    dll="$work/$arch/VeladcomClient.dll" && p=$("$VELA_OBJDUMP" -p "$dll")
    check "$arch: machine" grep -qx ".*file format pei-$([ "$arch" = win32 ] && echo i386 || echo x86-64)" <<<"$p"
    check "$arch: imports" imports_system_only "$p"
    check "$arch: exports" test "$(exports "$p" | xargs)" = "1 DllCanUnloadNow 2 DllGetClassObject 3 DllRegisterServer 4 DllUnregisterServer 4 addresses"
    check "$arch: no debug sections" no_debug_sections "$dll"
    check "$arch: debug link" debug_link_is "$dll" "$work/$arch-debug/VeladcomClient.dll.debug"
    check "$arch: debug information" grep -q ' \.debug_info ' <<<"$("$VELA_OBJDUMP" -h "$work/$arch-debug/VeladcomClient.dll.debug")"
    versions[$arch]=$("$VELA_WINDRES" -i "$dll" -O rc | sed -n '/^1 VERSIONINFO$/,/^END$/p')
  done
  check "version resources equal" test "${versions[win32]}" = "${versions[win64]}"
  check "version resource is the package's" test "$(grep -cxE " (FILE|PRODUCT)VERSION ${version//./, }| +VALUE \"(File|Product)Version\", \"${version//./, }\"" <<<"${versions[win64]}")" = 4
  VELA_PACKAGES=$(winpath "$work") VELA_SOURCE=$(winpath "$VELA_SOURCE") \
    wine "$(winpath "$VELA_RELEASE_TESTS")" --gtest_brief=1 || failed=1
}

smoke() { # smoke win32|win64: the win32 package with the 32-bit programs and test agent
  local bin='C:\windows\system32' agent=$VELA_AGENT_DLL dir='Program Files/VeladcomClient'
  [ "$1" = win32 ] && export VELA_WOW64=1 && bin='C:\windows\syswow64' agent=$VELA_AGENT_DLL_WIN32 dir='Program Files (x86)/VeladcomClient'
  local vsa='CLSID\{7A3F1C20-5B0E-4D2A-9C11-3E5F00000005}' dll="C:\\${dir//\//\\}\\VeladcomClient.dll" key
  local keys=(VeladcomClient.VelaServerAccess VeladcomClient.VelaServerAccess.1 VeladcomClient.SecDNSAdmin
    VeladcomClient.SecDNSAdmin.1 "$vsa" 'CLSID\{7A3F1C20-5B0E-4D2A-9C11-3E5F00000003}' 'TypeLib\{7A3F1C20-5B0E-4D2A-9C11-3E5F00000001}')
  check "regsvr32 VelaTestAgent.dll" wine "$bin\\regsvr32.exe" /s "$(winpath "$agent")"
  check "unpack" unpack "VeladcomClient-$version-$1.zip" "$VELA_WINEPREFIX/drive_c/$dir"
  check "regsvr32 from the package" wine "$bin\\regsvr32.exe" /s "$dll"
  for key in "${keys[@]}"; do check "HKCR\\$key written" wine "$bin\\reg.exe" query "HKCR\\$key"; done
  check "registered from the package" grep -qiF "REG_SZ    $dll" <<<"$(wine "$bin\\reg.exe" query "HKCR\\$vsa\\InprocServer32" /ve)"
  # INSTALL.md's fenced block that starts with "' verify.vbs"
  awk '/^```/ {if (take) exit; open = !open; start = NR; next}
       open && NR == start + 1 && /^\047 verify\.vbs/ {take = 1} take' "$VELA_SOURCE/INSTALL.md" >"$work/verify.vbs"
  check "verify.vbs prints 1 twice" test "$(wine "$bin\\cscript.exe" //nologo "$(winpath "$work/verify.vbs")" agent1)" \
    = $'Reporting: 1\nTestDComCommunication: 1'
  check "regsvr32 /u" wine "$bin\\regsvr32.exe" /s /u "$dll"
  for key in "${keys[@]}"; do check "HKCR\\$key removed" eval '! wine "$bin\\reg.exe" query "HKCR\\$key"'; done
}

sums() {
  check "SHA256SUMS names every package" test "$(echo *.zip)" = "$(awk '{print $2}' SHA256SUMS | sort | xargs)"
  check "sha256sum -c" sha256sum --quiet -c SHA256SUMS
}

"$@"
[ $failed = 0 ] && echo "release $*: all checks passed"
exit $failed
