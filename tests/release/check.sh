#!/usr/bin/env bash
# Checks of the packages in dist/ that scripts/release.sh writes, one step per CTest entry:
# static (both DLLs as files, then release_tests on their resources; the installer packages'
# tables and files), zip win32|win64 (the zip registered from a fresh Wine prefix with the
# regsvr32 of its architecture, its verify.vbs and verify.asp under that architecture's
# cscript, and the keys compared with the installer package's in a second prefix; regsvr32
# /u), smoke win32|win64 (the installer package's life cycle under msiexec: install, upgrade,
# a refused downgrade, repair, removal), together (both installer packages side by side),
# sums, signing (release.sh with a throwaway certificate) and reproducible (a second release
# build of the same sources in another folder gives the same bytes). CTest hands in the
# paths (VELA_*). Exit code 77: this machine runs no 32-bit programs (wine-exec); CTest
# reports a skip.
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
drive_c() { echo "${VELA_WINEPREFIX_ROOT:-}$VELA_WINEPREFIX/drive_c"; } # where wine-exec keeps the prefix's C:
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
  local arch p dll file && local -A versions codes
  local contents="CHANGELOG.md INSTALL.md LICENSE Logs VeladcomClient.dll VeladcomClient.h VeladcomClient.idl VeladcomClient.tlb VeladcomClient_i.c docs verify.asp verify.vbs"
  for arch in win32 win64; do
    check "$arch: unpack" unpack "VeladcomClient-$version-$arch.zip" "$work/$arch"
    check "$arch: unpack debug" unpack "VeladcomClient-$version-$arch-debug.zip" "$work/$arch-debug"
    check "$arch: contents" test "$(cd "$work/$arch" && echo * Logs/* docs/*) $(cd "$work/$arch-debug" && echo *)" = "$contents Logs/web.config docs/reference.md VeladcomClient.dll.debug"
    for file in CHANGELOG.md INSTALL.md LICENSE docs/reference.md package/verify.asp package/verify.vbs package/Logs/web.config; do
      check "$arch: $file as in the sources" cmp "$work/$arch/${file#package/}" "$VELA_SOURCE/$file"
    done
    # The documents a package carries link only within it.
    check "$arch: links and anchors resolve in the package" python3 -B "$VELA_SOURCE/tests/docs/links.py" "$work/$arch"
    msi_static "$arch"
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
  check "each installer package a product and an upgrade line of its own" test "$(printf '%s\n' "${codes[@]}" | sort -u | wc -l)" = 4
  check "version resource is the package's" test "$(grep -cxE " (FILE|PRODUCT)VERSION ${version//./, }| +VALUE \"(File|Product)Version\", \"${version//./, }\"" <<<"${versions[win64]}")" = 4
  VELA_PACKAGES=$(winpath "$work") VELA_SOURCE=$(winpath "$VELA_SOURCE") \
    wine "$(winpath "$VELA_RELEASE_TESTS")" --gtest_brief=1 || failed=1
}

table() { msiinfo export "$1" "$2" | tr -d '\r' | tail -n +4; } # table <msi> <name>: its rows
property() { table "$1" Property | awk -F'\t' -v p="$2" '$1 == p {print $2}'; }
when() { TZ=UTC date -d "@$1" '+%a %b %e %T %Y'; } # as msiinfo prints a time

# msi_static <arch>: the installer package read as a file, against the zip unpacked in $work/<arch>.
msi_static() {
  local arch=$1 msi="VeladcomClient-$version-$1.msi" file bits=0 template=Intel epoch
  [ "$arch" = win64 ] && bits=256 template=x64
  epoch=$(git -C "$VELA_SOURCE" log -1 --format=%ct)
  check "$arch.msi: summary" test "$(TZ=UTC msiinfo suminfo "$msi" | grep -E '^(Template|Created|Last saved):')" = \
    "$(printf 'Template: %s;1033\nCreated: %s\nLast saved: %s' "$template" "$(when "$epoch")" "$(when "$epoch")")"
  check "$arch.msi: version" test "$(property "$msi" ProductVersion)" = "$version"
  codes[$arch.product]=$(property "$msi" ProductCode) codes[$arch.upgrade]=$(property "$msi" UpgradeCode)
  check "$arch.msi: the settings are secure properties" grep -q ';INSTALLPATH;COMMANDTIMEOUTSECONDS$' <<<"$(property "$msi" SecureCustomProperties)"
  # Every component in the package's view but the 64-bit package's 32-bit interface keys;
  # the settings' components permanent and transitive, under their property's condition.
  local components
  components=$(printf '%s\n' "CommandTimeoutSetting	$((bits + 84))	COMMANDTIMEOUTSECONDS" "InstallPathSetting	$((bits + 84))	INSTALLPATH" \
    "LogsConfig	$bits	" "Program	$bits	" && [ "$arch" = win32 ] || printf 'Interfaces32\t4\t\n')
  check "$arch.msi: components" test "$(table "$msi" Component | cut -f1,4,5 | sort)" = "$(sort <<<"$components")"
  check "$arch.msi: no self-registration" test -z "$(table "$msi" SelfReg 2>/dev/null)"
  check "$arch.msi: an older version refused, with a message" test "$(table "$msi" LaunchCondition)" = \
    "NOT WIX_DOWNGRADE_DETECTED	A newer version of VeladcomClient (${arch#win}-bit) is already installed. To install this version, first remove the newer one."
  check "$arch.msi: the DLL versioned" test "$(table "$msi" File | awk -F'\t' '$1 == "VeladcomClient.dll" {print $5}')" = "$version"
  mkdir -p "$work/$arch.msi" && check "$arch.msi: extract" msiextract -C "$work/$arch.msi" "$msi"
  local installed && installed=$(dirname "$(find "$work/$arch.msi" -name VeladcomClient.dll)") # msiextract names the folders its way
  check "$arch.msi: files" test "$(cd "$installed" && echo * Logs/*)" = "CHANGELOG.md INSTALL.md LICENSE Logs VeladcomClient.dll VeladcomClient.tlb verify.asp verify.vbs Logs/web.config"
  for file in CHANGELOG.md INSTALL.md LICENSE Logs/web.config VeladcomClient.dll VeladcomClient.tlb verify.asp verify.vbs; do
    check "$arch.msi: $file as in the zip" cmp "$installed/$file" "$work/$arch/$file"
  done
}

# verify_scripts <unpacked package>: its verify.vbs under cscript, and its verify.asp's script
# under cscript with stand-ins for the ASP objects (AspHost.vbs), each while the stand-in
# agent answers and after it is unregistered, so that the test fails and the log's record
# gives the reason. The package is registered; the panel folder is made here. Run from zip and smoke,
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
  # From any other address the page refuses, and creates no object: the log gains no record.
  local records && records=$(cat "$panel/web/admin/Logs/VelaDComClient.csv")
  same "verify.asp refuses a stranger" "Status: 403 Forbidden
This page answers only requests from the server itself." "$(wine "$bin\\cscript.exe" //nologo "$(winpath "$page")" agent1 192.0.2.99)"
  same "no record for a stranger" "$records" "$(cat "$panel/web/admin/Logs/VelaDComClient.csv")"
}

export_classes() { # export_classes <file prefix> <view>...: HKLM\Software\Classes as each view shows it
  local v
  for v in "${@:2}"; do check "export the classes ($v-bit view)" wine reg export 'HKLM\Software\Classes' "$(winpath "$1.$v.reg")" /y "/reg:$v"; done
}

zip() { # zip win32|win64: the win32 package with the 32-bit programs and test agent
  local bits=${1#win} bin='C:\windows\system32' agent=$VELA_AGENT_DLL dir='Program Files/VeladcomClient'
  [ "$1" = win32 ] && export VELA_WOW64=1 && bin='C:\windows\syswow64' agent=$VELA_AGENT_DLL_WIN32 dir='Program Files (x86)/VeladcomClient'
  local vsa='CLSID\{7A3F1C20-5B0E-4D2A-9C11-3E5F00000005}' dll="C:\\${dir//\//\\}\\VeladcomClient.dll" key views=(64 32)
  local keys=(VeladcomClient.VelaServerAccess VeladcomClient.VelaServerAccess.1 VeladcomClient.SecDNSAdmin
    VeladcomClient.SecDNSAdmin.1 "$vsa" 'CLSID\{7A3F1C20-5B0E-4D2A-9C11-3E5F00000003}' 'TypeLib\{7A3F1C20-5B0E-4D2A-9C11-3E5F00000001}')
  check "regsvr32 VelaTestAgent.dll" wine "$bin\\regsvr32.exe" /s "$(winpath "$agent")"
  check "unpack" unpack "VeladcomClient-$version-$1.zip" "$(drive_c)/$dir"
  export_classes "$work/regsvr32-before" "${views[@]}"
  check "regsvr32 from the package" wine "$bin\\regsvr32.exe" /s "$dll"
  export_classes "$work/regsvr32-after" "${views[@]}"
  for key in "${keys[@]}"; do check "HKCR\\$key written" wine "$bin\\reg.exe" query "HKCR\\$key"; done
  check "registered from the package" grep -qiF "REG_SZ    $dll" <<<"$(wine "$bin\\reg.exe" query "HKCR\\$vsa\\InprocServer32" /ve)"
  verify_scripts "$(drive_c)/$dir"
  check "regsvr32 /u" wine "$bin\\regsvr32.exe" /s /u "$dll"
  for key in "${keys[@]}"; do check "HKCR\\$key removed" eval '! wine "$bin\\reg.exe" query "HKCR\\$key"'; done

  # The installer package, in a second prefix, writes what regsvr32 wrote, in the same folder,
  # as each view shows it: delta <prefix> <view> [regdiff options] is what one of them wrote.
  # The win32 package is compared in the 32-bit view, the one its processes read: a 32-bit
  # regsvr32 also writes the interface keys into the 64-bit view (RegisterTypeLib does so
  # from either side), which a package of 32-bit components cannot and a 32-bit DLL's
  # interfaces do not need. Its program identifiers are compared apart: a 32-bit regsvr32
  # writes them into the key both views share, as on Windows, where Wine's msiexec writes a
  # 32-bit component's under the 32-bit view's own key.
  delta() { python3 "$VELA_SOURCE/tests/release/regdiff.py" "${installer_records[@]}" "${@:3}" "$work/$1-before.$2.reg" "$work/$1-after.$2.reg"; }
  local progids='\\veladcomclient\.' regsvr32
  [ "$1" = win32 ] && regsvr32[0]=$(delta regsvr32 64 --ignore "^(?!.*$progids)")
  for v in "${views[@]}"; do regsvr32[$v]=$(delta regsvr32 "$v" $([ "$1" = win32 ] && echo --ignore "$progids")); done
  "$VELA_BUILD/wine-stop" && export VELA_WINEPREFIX="$work/prefix-msi"
  [ "$1" = win32 ] && views=(32)
  export_classes "$work/msi-before" "${views[@]}"
  check "msiexec /i" wine msiexec /i "$(winpath "$dist/VeladcomClient-$version-$1.msi")" /qn
  export_classes "$work/msi-after" "${views[@]}"
  if [ "$1" = win32 ]; then
    same "msiexec wrote what regsvr32 wrote, in the 32-bit view" "${regsvr32[32]}" "$(delta msi 32 --ignore "$progids")"
    same "msiexec wrote the program identifiers regsvr32 wrote" "${regsvr32[0]}" "$(delta msi 32 --ignore "^(?!.*$progids)")"
  else
    for v in 64 32; do same "msiexec wrote what regsvr32 wrote, in the $v-bit view" "${regsvr32[$v]}" "$(delta msi "$v")"; done
  fi
  check "msiexec /x" wine msiexec /x "$(winpath "$dist/VeladcomClient-$version-$1.msi")" /qn
}

# --- The installer packages under Wine's msiexec --------------------------------------------
# Their folder and registry view, and the other view: on_arch <arch> sets dir, view and other.
on_arch() {
  dir='Program Files/VeladcomClient' view=64 other=32
  [ "$1" = win32 ] && dir='Program Files (x86)/VeladcomClient' view=32 other=64
  installed="$(drive_c)/$dir" dll="C:\\${dir//\//\\}\\VeladcomClient.dll"
}
reg_value() { # reg_value <view> <key> <name>: the value's data, nothing when it is missing
  wine reg query "$2" /v "$3" "/reg:$1" | awk -v n="$3" '$1 == n {sub(/^ *[^ ]+ +REG_[A-Z_]+ +/, ""); print}'
}
class_path() { wine reg query "HKCR\\CLSID\\{7A3F1C20-5B0E-4D2A-9C11-3E5F00000005}\\InprocServer32" /ve "/reg:$1" | sed -n 's/^ *(Default) *REG_SZ *//p'; }
programs() { # the installed programs of this project, "<name> <version>", in both views
  local v
  for v in 64 32; do wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s "/reg:$v"; done |
    awk 'function flush() { if (name ~ /^VeladcomClient/) print name " " version; name = version = "" }
         /^HKEY/ {flush()} $1 == "DisplayName" {sub(/^ *DisplayName +REG_SZ +/, ""); name = $0}
         $1 == "DisplayVersion" {sub(/^ *DisplayVersion +REG_SZ +/, ""); version = $0} END {flush()}' | sort
}
logged() { tr -d '\0' <"$1" | grep -qF "$2"; } # logged <msiexec log> <text>: Wine writes it in UTF-16
export_software() { wine reg export 'HKLM\Software' "$(winpath "$1")" /y; }
# Wine's msiexec removes a key it empties together with every parent key it leaves empty, even
# one that was there before. A fresh prefix's 32-bit CLSID and Interface keys are empty, and
# its 32-bit view has no Uninstall key, unlike any Windows machine: an entry of their own keeps
# a removal from taking those keys, and the one the installer creates is there before.
seed_prefix() {
  local key
  for key in CLSID Interface; do
    wine reg add "HKLM\\Software\\Classes\\$key\\{7A3F1C20-0000-0000-0000-00000000F00D}" /ve /d unrelated /f /reg:32 || return
  done
  wine reg add 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /f /reg:32
}
# The Installer's own records, which outlive the package: a permanent component stays
# registered to the system.
installer_records=(--ignore '^hkey_local_machine\\software\\(wow6432node\\)?microsoft\\windows\\currentversion\\installer(\\|$)'
  --ignore '^hkey_local_machine\\software\\(wow6432node\\)?classes\\(wow6432node\\)?installer(\\|$)')

# upgrade_package <arch> <version> <msi>: the package of a later version, built as release.sh
# builds the released one, from the zip with a DLL whose version resource says so.
upgrade_package() {
  local stage="$work/stage-$2"
  unpack "$dist/VeladcomClient-$version-$1.zip" "$stage" && python3 - "$stage/VeladcomClient.dll" "$2" <<'EOF' &&
import struct, sys
path, numbers = sys.argv[1], [int(n) for n in sys.argv[2].split(".")]
data = bytearray(open(path, "rb").read())
at = data.index(struct.pack("<I", 0xFEEF04BD))
high, low = numbers[0] << 16 | numbers[1], numbers[2] << 16 | numbers[3]
struct.pack_into("<IIII", data, at + 8, high, low, high, low)  # file and product version
open(path, "wb").write(data)
EOF
    SOURCE_DATE_EPOCH=$(git -C "$VELA_SOURCE" log -1 --format=%ct) python3 "$VELA_SOURCE/cmake/PackageMsi.py" "$1" "$2" "$stage" "$3"
}

# smoke win32|win64: the installer package's life cycle in a fresh prefix: install with both
# settings, upgrade, a refused downgrade, repair, removal. The win32 package installs through
# the same 64-bit msiexec and needs no 32-bit code: its files and registry view are checked on
# every machine here; its objects are created by 32-bit scripts in release.scripts.win32. The
# win64 package's are created here, by its verify.vbs and verify.asp.
smoke() {
  local arch=$1 bits=${1#win} msi="$dist/VeladcomClient-$version-$1.msi" panel="$work/panel" next up="$work/upgrade.msi"
  local dir view other installed dll log="$work/panel/web/admin/Logs/VelaDComClient.csv" product
  # Windows Installer compares the first three fields of a version: the third one grows.
  on_arch "$arch" && product="VeladcomClient ($bits-bit)" && next=$(awk -F. '{print $1 "." $2 "." $3 + 1 "." $4}' <<<"$version")
  check "unpack the zip" unpack "$dist/VeladcomClient-$version-$arch.zip" "$work/zip"
  check "seed the prefix" seed_prefix
  # Wine's script host registers its own type library when it first runs.
  : >"$work/nothing.vbs" && check "run the script host once" wine 'C:\windows\system32\cscript.exe' //nologo "$(winpath "$work/nothing.vbs")"
  check "export before" export_software "$work/before.reg"
  mkdir -p "$panel/web/admin/Logs" && printf 'an earlier record\r\n' >"$log"
  check "install" wine msiexec /i "$(winpath "$msi")" /qn INSTALLPATH="$(winpath "$panel")" COMMANDTIMEOUTSECONDS=30 /l*v "$(winpath "$work/install.log")"
  check "installed files" test "$(cd "$installed" && echo * Logs/*)" = "CHANGELOG.md INSTALL.md LICENSE Logs VeladcomClient.dll VeladcomClient.tlb verify.asp verify.vbs Logs/web.config"
  check "the zip's DLL" cmp "$installed/VeladcomClient.dll" "$work/zip/VeladcomClient.dll"
  check "registered in its view" test "$(class_path "$view")" = "$dll"
  check "not in the other view" test -z "$(class_path "$other")"
  local general='HKLM\SOFTWARE\Corvane\Nt Vela Console\General'
  check "INSTALLPATH in its view" test "$(reg_value "$view" "$general" InstallPath)" = "$(winpath "$panel")"
  check "COMMANDTIMEOUTSECONDS in its view" test "$(reg_value "$view" "$general" CommandTimeoutSeconds)" = 0x1e
  check "no settings in the other view" test -z "$(reg_value "$other" "$general" InstallPath)$(reg_value "$other" "$general" CommandTimeoutSeconds)"
  check "one installed program" test "$(programs)" = "$product $version"
  if [ "$arch" = win64 ]; then
    local bin='C:\windows\system32' agent=$VELA_AGENT_DLL
    check "regsvr32 VelaTestAgent.dll" wine "$bin\\regsvr32.exe" /s "$(winpath "$agent")"
    verify_scripts "$installed"
  fi

  check "build $next" upgrade_package "$arch" "$next" "$up"
  check "upgrade to $next" wine msiexec /i "$(winpath "$up")" /qn /l*v "$(winpath "$work/upgrade.log")"
  check "one installed program, the newer" test "$(programs)" = "$product $next"
  check "the newer DLL in place" cmp "$installed/VeladcomClient.dll" "$work/stage-$next/VeladcomClient.dll"
  check "registration intact" test "$(class_path "$view")" = "$dll"
  check "settings untouched" test "$(reg_value "$view" "$general" InstallPath) $(reg_value "$view" "$general" CommandTimeoutSeconds)" = "$(winpath "$panel") 0x1e"
  if [ "$arch" = win64 ]; then
    check "the upgraded object is created" grep -qx 'Object: created' <<<"$(wine 'C:\windows\system32\cscript.exe' //nologo "$(winpath "$installed/verify.vbs")")"
  fi
  # The package's launch condition refuses it, with the message that static checks; Wine's
  # log shows the condition's property set to the newer product, not the message.
  check "downgrade refused" eval '! wine msiexec /i "$(winpath "$msi")" /qn /l*v "$(winpath "$work/downgrade.log")"'
  check "downgrade detected" logged "$work/downgrade.log" "WIX_DOWNGRADE_DETECTED = $(property "$up" ProductCode)"
  check "still the newer program" test "$(programs)" = "$product $next"

  # A repair writes back the files and the registration, but not the settings, which the
  # operator may have changed since. Wine 8's msiexec /f hands a package's path to
  # MsiReinstallProduct, which takes a product code, and does not handle a product code
  # itself; so the reinstall is asked for through the properties that /f sets: every file
  # (a, what /fa asks for) and the machine's registry entries (m).
  check "the operator moves the panel" wine reg add "$general" /v InstallPath /t REG_SZ /d 'C:\Elsewhere' /f "/reg:$view"
  check "a program identifier lost" wine reg delete 'HKCR\VeladcomClient.VelaServerAccess' /f "/reg:$view"
  rm -f "$installed/VeladcomClient.dll"
  check "repair" wine msiexec /i "$(winpath "$up")" REINSTALL=ALL REINSTALLMODE=amus /qn /l*v "$(winpath "$work/repair.log")"
  check "the DLL restored" cmp "$installed/VeladcomClient.dll" "$work/stage-$next/VeladcomClient.dll"
  check "the program identifier restored" test "$(wine reg query 'HKCR\VeladcomClient.VelaServerAccess\CLSID' /ve "/reg:$view" | sed -n 's/^ *(Default) *REG_SZ *//p')" = '{7A3F1C20-5B0E-4D2A-9C11-3E5F00000005}'
  check "the settings as the operator left them" test "$(reg_value "$view" "$general" InstallPath)" = 'C:\Elsewhere'

  check "uninstall" wine msiexec /x "$(winpath "$up")" /qn /l*v "$(winpath "$work/uninstall.log")"
  check "every file removed" test ! -e "$installed"
  check "no installed program" test -z "$(programs)"
  check "the log left" grep -q '^an earlier record' "$log"
  check "export after" export_software "$work/after.reg"
  local settings="hkey_local_machine\\software\\$([ "$arch" = win32 ] && echo 'wow6432node\')corvane"
  same "the registry as before, but the settings" "+ $settings
+ $settings\\nt vela console
+ $settings\\nt vela console\\general
+ $settings\\nt vela console\\general: \"CommandTimeoutSeconds\"=dword:0000001e
+ $settings\\nt vela console\\general: \"InstallPath\"=\"C:\\\\Elsewhere\"" "$(python3 "$VELA_SOURCE/tests/release/regdiff.py" "${installer_records[@]}" "$work/before.reg" "$work/after.reg")"
}

# scripts win32: the win32 installer package's objects, created by its verify.vbs and
# verify.asp under the 32-bit cscript; only where this machine runs 32-bit programs.
scripts() {
  export VELA_WOW64=1
  local bits=32 bin='C:\windows\syswow64' agent=$VELA_AGENT_DLL_WIN32 dir view other installed dll
  on_arch win32
  check "regsvr32 VelaTestAgent.dll" wine "$bin\\regsvr32.exe" /s "$(winpath "$agent")"
  check "install" wine msiexec /i "$(winpath "$dist/VeladcomClient-$version-win32.msi")" /qn INSTALLPATH="$(winpath "$work/panel")"
  verify_scripts "$installed"
  check "uninstall" wine msiexec /x "$(winpath "$dist/VeladcomClient-$version-win32.msi")" /qn
  check "every file removed" test ! -e "$installed"
}

# together: both installer packages in one prefix, each in its own folder and registry view.
together() {
  local arch dir view other installed dll
  for arch in win64 win32; do check "install $arch" wine msiexec /i "$(winpath "$dist/VeladcomClient-$version-$arch.msi")" /qn; done
  check "two installed programs" test "$(programs)" = "VeladcomClient (32-bit) $version
VeladcomClient (64-bit) $version"
  for arch in win64 win32; do
    on_arch "$arch"
    check "$arch: its files" cmp "$installed/VeladcomClient.dll" <(python3 -c 'import sys, zipfile; sys.stdout.buffer.write(zipfile.ZipFile(sys.argv[1]).read("VeladcomClient.dll"))' "$dist/VeladcomClient-$version-$arch.zip")
    check "$arch: its class in its view" test "$(class_path "$view")" = "$dll"
  done
  on_arch win64
  check "the 64-bit object is created" grep -qx 'Object: created' <<<"$(wine 'C:\windows\system32\cscript.exe' //nologo "$(winpath "$installed/verify.vbs")")"
  check "uninstall win32" wine msiexec /x "$(winpath "$dist/VeladcomClient-$version-win32.msi")" /qn
  check "the 64-bit class stays" test "$(class_path 64)" = "$dll"
  check "uninstall win64" wine msiexec /x "$(winpath "$dist/VeladcomClient-$version-win64.msi")" /qn
  for arch in win64 win32; do on_arch "$arch" && check "$arch: every file removed" test ! -e "$installed"; done
  check "no installed program" test -z "$(programs)"
}

sums() {
  check "SHA256SUMS names every package" test "$(printf '%s\n' *.msi *.zip | sort | xargs)" = "$(awk '{print $2}' SHA256SUMS | sort | xargs)"
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
    check "$arch.msi: signature verifies against the certificate" osslsigncode verify -CAfile "$cert" -in "$work/signed/$name.msi"
    check "$arch.msi: without a certificate unsigned" eval '! osslsigncode extract-signature -in "$name.msi" -out "$work/$arch/none.msi"'
    mkdir -p "$work/$arch.msi" && check "$arch.msi: holds the signed DLL" msiextract -C "$work/$arch.msi" "$work/signed/$name.msi"
    check "$arch.msi: the signed DLL" cmp "$(find "$work/$arch.msi" -name VeladcomClient.dll)" "$dll"
  done
  check "the signed win64 package installs" wine msiexec /i "$(winpath "$work/signed/VeladcomClient-$version-win64.msi")" /qn
  check "and is removed" wine msiexec /x "$(winpath "$work/signed/VeladcomClient-$version-win64.msi")" /qn
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
  for file in *.zip *.msi SHA256SUMS; do check "$file reproduced" cmp "$file" "$copy/dist/$file"; done
  echo "second release build: $((SECONDS - start)) s"
}

"$@"
[ $failed = 0 ] && echo "release $*: all checks passed"
exit $failed
