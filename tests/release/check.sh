#!/usr/bin/env bash
# Checks of the packages in dist/ that scripts/release.sh writes, one step per CTest entry:
# static (both DLLs as files, then release_tests on their resources), smoke win32|win64 (the
# package registered from a fresh Wine prefix with the regsvr32 of its architecture, its
# verify.vbs and verify.asp under that architecture's cscript, regsvr32 /u), sums, signing
# (release.sh with a throwaway certificate) and reproducible (a second release build of the
# same sources in another folder gives the same bytes). CTest hands in the paths (VELA_*).
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
unpack() { local zip && zip=$(realpath "$1") && mkdir -p "$2" && (cd "$2" && cmake -E tar xf "$zip"); }
same() { # same <description> <expected> <actual>
  [ "$2" = "$3" ] || { echo "FAIL: $1" && diff <(echo "$2") <(echo "$3"); failed=1; }
}
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
  local arch p dll file && local -A versions
  local contents="CHANGELOG.md INSTALL.md LICENSE VeladcomClient.dll VeladcomClient.h VeladcomClient.idl VeladcomClient.tlb VeladcomClient_i.c verify.asp verify.vbs"
  for arch in win32 win64; do
    check "$arch: unpack" unpack "VeladcomClient-$version-$arch.zip" "$work/$arch"
    check "$arch: unpack debug" unpack "VeladcomClient-$version-$arch-debug.zip" "$work/$arch-debug"
    check "$arch: contents" test "$(cd "$work/$arch" && echo *) $(cd "$work/$arch-debug" && echo *)" = "$contents VeladcomClient.dll.debug"
    for file in CHANGELOG.md INSTALL.md LICENSE package/verify.asp package/verify.vbs; do
      check "$arch: $file as in the sources" cmp "$work/$arch/${file#package/}" "$VELA_SOURCE/$file"
    done
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

# verify_scripts <unpacked package>: its verify.vbs under cscript, and its verify.asp's script
# under cscript with stand-ins for the ASP objects (AspHost.vbs), each while the stand-in
# agent answers and after it is unregistered, so that the test fails and the log's record
# gives the reason. The package is registered; the panel folder is made here. Run from smoke,
# with its architecture's programs ($bin), test agent and bitness.
verify_scripts() {
  local package=$1 page="$work/verify-page.vbs" panel="$work/panel" when output
  local mask='s#[0-9]{2}/[0-9]{2}/[0-9]{2},[0-9]{2}:[0-9]{2}:[0-9]{2},#DATE,TIME,#'
  mkdir -p "$panel/web/admin"
  check "InstallPath" wine "$bin\\reg.exe" add 'HKLM\SOFTWARE\Corvane\Nt Vela Console\General' /v InstallPath /t REG_SZ /d "$(winpath "$panel")" /f
  { echo "Option Explicit" && cat "$VELA_SOURCE/tests/release/AspHost.vbs" &&
    sed '1d; /^<%$/d; /^%>$/d; /^Option Explicit$/d' "$package/verify.asp" && echo "Response.Flush"; } >"$page"
  for when in reached unregistered; do
    local result=1 record='Operation Successful'
    if [ $when = unregistered ]; then
      check "regsvr32 /u VelaTestAgent.dll" wine "$bin\\regsvr32.exe" /s /u "$(winpath "$agent")"
      result=0 record="Operation Failed : Error is 'Unknown error 0x80040154[80040154]'"
    fi
    output=$(wine "$bin\\cscript.exe" //nologo "$(winpath "$package/verify.vbs")" agent1 | grep -v '^Account: ' | sed -E "$mask")
    same "verify.vbs, agent $when" "Process: $bits-bit
Object: created
Reporting: 1
TestDComCommunication: $result
Log: DATE,TIME,Test DCom Communication,$record," "$output"
    output=$(wine "$bin\\cscript.exe" //nologo "$(winpath "$page")" agent1 | grep '^<tr>' | grep -v '>Page identity<' | sed -E "$mask")
    same "verify.asp, agent $when" "<tr><th>Process</th><td>$bits-bit: needs the win$bits package</td></tr>
<tr><th>Authenticated user</th><td>(anonymous)</td></tr>
<tr><th>Object</th><td>created</td></tr>
<tr><th>Reporting</th><td>1</td></tr>
<tr><th>TestDComCommunication agent1</th><td>$result</td></tr>
<tr><th>Action log</th><td>DATE,TIME,Test DCom Communication,$record,</td></tr>" "$output"
  done
}

smoke() { # smoke win32|win64: the win32 package with the 32-bit programs and test agent
  local bits=${1#win} bin='C:\windows\system32' agent=$VELA_AGENT_DLL dir='Program Files/VeladcomClient'
  [ "$1" = win32 ] && export VELA_WOW64=1 && bin='C:\windows\syswow64' agent=$VELA_AGENT_DLL_WIN32 dir='Program Files (x86)/VeladcomClient'
  local vsa='CLSID\{7A3F1C20-5B0E-4D2A-9C11-3E5F00000005}' dll="C:\\${dir//\//\\}\\VeladcomClient.dll" key
  local keys=(VeladcomClient.VelaServerAccess VeladcomClient.VelaServerAccess.1 VeladcomClient.SecDNSAdmin
    VeladcomClient.SecDNSAdmin.1 "$vsa" 'CLSID\{7A3F1C20-5B0E-4D2A-9C11-3E5F00000003}' 'TypeLib\{7A3F1C20-5B0E-4D2A-9C11-3E5F00000001}')
  check "regsvr32 VelaTestAgent.dll" wine "$bin\\regsvr32.exe" /s "$(winpath "$agent")"
  local drive_c="${VELA_WINEPREFIX_ROOT:-}$VELA_WINEPREFIX/drive_c" # where wine-exec keeps the prefix
  check "unpack" unpack "VeladcomClient-$version-$1.zip" "$drive_c/$dir"
  check "regsvr32 from the package" wine "$bin\\regsvr32.exe" /s "$dll"
  for key in "${keys[@]}"; do check "HKCR\\$key written" wine "$bin\\reg.exe" query "HKCR\\$key"; done
  check "registered from the package" grep -qiF "REG_SZ    $dll" <<<"$(wine "$bin\\reg.exe" query "HKCR\\$vsa\\InprocServer32" /ve)"
  verify_scripts "$drive_c/$dir"
  check "regsvr32 /u" wine "$bin\\regsvr32.exe" /s /u "$dll"
  for key in "${keys[@]}"; do check "HKCR\\$key removed" eval '! wine "$bin\\reg.exe" query "HKCR\\$key"'; done
}

sums() {
  check "SHA256SUMS names every package" test "$(echo *.zip)" = "$(awk '{print $2}' SHA256SUMS | sort | xargs)"
  check "sha256sum -c" sha256sum --quiet -c SHA256SUMS
}

signing() {
  local cert="$work/cert.pem" key="$work/key.pem" arch dll name
  check "throwaway certificate" openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=VeladcomClient release check" \
    -keyout "$key" -out "$cert"
  check "release.sh --cert --key" bash "$VELA_SOURCE/scripts/release.sh" --no-build --dist "$work/signed" --cert "$cert" --key "$key"
  for arch in win32 win64; do
    name=VeladcomClient-$version-$arch
    check "$arch: unpack signed" unpack "$work/signed/$name.zip" "$work/$arch"
    check "$arch: unpack unsigned" unpack "$name.zip" "$work/$arch-unsigned"
    dll="$work/$arch/VeladcomClient.dll"
    check "$arch: signature verifies against the certificate" osslsigncode verify -CAfile "$cert" -in "$dll"
    check "$arch: without a certificate the DLL is unsigned" eval '! osslsigncode extract-signature -in "$work/$arch-unsigned/VeladcomClient.dll" -out "$work/$arch/none"'
    check "$arch: debug package unchanged" cmp "$work/signed/$name-debug.zip" "$name-debug.zip"
  done
  check "SHA256SUMS of the signed packages" sh -c "cd '$work/signed' && sha256sum --quiet -c SHA256SUMS"
  # The signed DLL still registers and serves its class.
  check "regsvr32 signed win64" wine regsvr32 /s "$(winpath "$work/win64/VeladcomClient.dll")"
  check "signed win64 creates its object" test "$(wine cscript //nologo "$(winpath "$work/win64/verify.vbs")" | grep '^Object: ')" = "Object: created"
  check "regsvr32 /u signed win64" wine regsvr32 /s /u "$(winpath "$work/win64/VeladcomClient.dll")"
  # How anyone rebuilds a signed release: the published signatures, attached to this build.
  check "release.sh --signatures-from" bash "$VELA_SOURCE/scripts/release.sh" --no-build --dist "$work/attached" --signatures-from "$work/signed"
  check "same packages as the signed release" cmp "$work/attached/SHA256SUMS" "$work/signed/SHA256SUMS"
  # ... and stops when its DLL is not the published one: here the published DLL has a byte changed.
  mkdir -p "$work/tampered" && cp "$work/signed/"*.zip "$work/tampered/"
  check "tamper with a published DLL" python3 -c 'import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z: dll = bytearray(z.read("VeladcomClient.dll"))
dll[len(dll) // 2] ^= 1
with zipfile.ZipFile(sys.argv[1], "a") as z: z.writestr("VeladcomClient.dll", bytes(dll))' "$work/tampered/VeladcomClient-$version-win64.zip"
  check "release.sh --signatures-from refuses a different DLL" eval \
    '! bash "$VELA_SOURCE/scripts/release.sh" --no-build --dist "$work/refused" --signatures-from "$work/tampered"'
}

reproducible() {
  local copy="$work/source" start=$SECONDS file
  # Another folder, reached through a symbolic link, later, with another umask: only the
  # commit may decide the bytes.
  mkdir -p "$copy" && (cd "$VELA_SOURCE" && git ls-files -co --exclude-standard -z | xargs -0 cp --parents -t "$copy") &&
    ln -s "$copy" "$work/linked" || { echo "FAIL: copy the sources" && failed=1 && return; }
  SOURCE_DATE_EPOCH=$(git -C "$VELA_SOURCE" log -1 --format=%ct) &&
    (cd "$work/linked" && umask 077 && SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH bash scripts/release.sh >"$work/release.log" 2>&1) ||
    { echo "FAIL: second release build" && tail -20 "$work/release.log" && failed=1 && return; }
  for file in *.zip SHA256SUMS; do check "$file reproduced" cmp "$file" "$copy/dist/$file"; done
  echo "second release build: $((SECONDS - start)) s"
}

"$@"
[ $failed = 0 ] && echo "release $*: all checks passed"
exit $failed
