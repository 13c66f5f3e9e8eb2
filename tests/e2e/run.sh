#!/usr/bin/env bash
# End-to-end runner: registers VeladcomClient.dll and the stand-in agent with the regsvr32 of
# their architecture (VELA_ARCH x64 or x86: 32-bit programs are in C:\windows\syswow64) in a
# Wine prefix of its own, sets the registry as scripts/demo.sh does with a fresh install
# folder, and runs one step with the cscript of that architecture, as a control panel would:
#   suite.js  the JScript suite; its last line must read "N passed, 0 failed"
#   demo      scripts/demo.vbs, the panel session: what it prints and the action log it
#             leaves (dates and times masked) must equal demo.expected
#   views     both architectures in one prefix (given the x64 DLLs, VELA_X64_*): each
#             registration in its own registry view, each cscript with its own object,
#             both logging into one file; unregistering one leaves the other's class
# Wine's cscript can exit 0 after a script error; a missing line fails the run either way.
# Exit code 77: this machine runs no 32-bit programs (wine-exec); CTest reports a skip.
# Usage: run.sh <build dir> <suite.js | demo | views>
set -uo pipefail
build=$(cd "$1" && pwd)
step=$2
here=$(cd "$(dirname "$0")" && pwd)
component="${VELA_COMPONENT_DLL:-$build/src/frame/VeladcomClient.dll}"
agent="${VELA_AGENT_DLL:-$build/demo/agent/VelaTestAgent.dll}"
bin64='C:\windows\system32' bin32='C:\windows\syswow64'
bin=$bin64 && [ "${VELA_ARCH:-x64}" = x86 ] && bin=$bin32

# A prefix of its own: unit tests in the build's shared prefix register the same classes.
export VELA_WINEPREFIX="$build/e2e-prefix-$step"
work="$build/e2e-work-$step"
trap '"$build/wine-stop"; rm -rf "$work"' EXIT
rm -rf "$work" "$VELA_WINEPREFIX"
mkdir -p "$work/web/admin"
log="$work/web/admin/Logs/VelaDComClient.csv"

winpath() { local p="$1"; echo "Z:${p//\//\\}"; }
wine() { "$build/wine-exec" "$@" 2>/dev/null | tr -d '\r'; return "${PIPESTATUS[0]}"; }
register() { # register <system folder> <dll>...: regsvr32 of that architecture; 77 skips the run
  local bin=$1 dll status
  shift
  for dll; do
    wine "$bin\\regsvr32.exe" /s "$(winpath "$dll")" && continue
    status=$? && [ $status = 77 ] && exit 77
    echo "FAIL: regsvr32 $dll"
    exit 1
  done
}
settings() { # settings <system folder> [/reg:32 | /reg:64]
  local reg="$1\\reg.exe" && shift
  wine "$reg" add 'HKLM\SOFTWARE\Corvane\Nt Vela Console\General' /v InstallPath /t REG_SZ /d "$(winpath "$work")" /f "$@" >/dev/null &&
    wine "$reg" add 'HKLM\SOFTWARE\Corvane\NT Vela Console\Servers' /v SecondaryDNS /t REG_DWORD /d 1 /f "$@" >/dev/null &&
    wine "$reg" add 'HKLM\SOFTWARE\Corvane\NT Vela Console\Servers' /v SecDNSServerIP /t REG_SZ /d 192.0.2.53 /f "$@" >/dev/null
}

# views registers both architectures itself.
if [ "$step" != views ]; then
  register "$bin" "$component" "$agent"
  settings "$bin" || exit
fi

views() {
  local x64=${VELA_X64_COMPONENT_DLL:-} x64agent=${VELA_X64_AGENT_DLL:-} n=200 failed=0 out tag
  local class='CLSID\{7A3F1C20-5B0E-4D2A-9C11-3E5F00000005}\InprocServer32'
  local typelib='TypeLib\{7A3F1C20-5B0E-4D2A-9C11-3E5F00000001}\1.0\0'
  fail() { echo "FAIL: $*"; failed=1; }
  # reg_names <dll | -> <key> <view>: the 64-bit reg.exe reads, in that view, the key's
  # default value: the DLL's path (-: no such key).
  reg_names() {
    out=$(wine "$bin64\\reg.exe" query "$2" /ve "$3")
    if [ $? != 0 ]; then [ "$1" = - ]; else grep -qF "REG_SZ    $(winpath "$1")" <<<"$out"; fi || fail "$2 $3: $out"
  }
  writes() { # writes <system folder> <tag> <count>: views.js under that cscript
    wine "$1\\cscript.exe" //nologo "$(winpath "$here/views.js")" "$2" "$3"
  }
  expect() { [ "$2" = "$1" ] || fail "expected '$1', got '$2'"; }

  register "$bin32" "$component" "$agent"
  [ -f "$x64" ] && [ -f "$x64agent" ] || { echo "FAIL: no x64 DLLs ($x64): build the x64 preset first"; exit 1; }
  register "$bin64" "$x64" "$x64agent"
  settings "$bin64" /reg:64 && settings "$bin64" /reg:32 || exit
  reg_names "$x64" "HKCR\\$class" /reg:64
  reg_names "$component" "HKCR\\$class" /reg:32
  reg_names "$component" "HKLM\\SOFTWARE\\Classes\\Wow6432Node\\$class" /reg:64
  # The type library's key is shared: each view sees both architectures' paths.
  reg_names "$x64" "HKCR\\$typelib\\win64" /reg:32
  reg_names "$component" "HKCR\\$typelib\\win32" /reg:64

  # Both architectures at once, into one new log file.
  writes "$bin32" x86 $n >"$work/x86.out" &
  writes "$bin64" x64 $n >"$work/x64.out" &
  wait
  for tag in x86 x64; do expect "$tag: $n records" "$(cat "$work/$tag.out")"; done

  # Unregistering one architecture leaves the other's class key in its view, but takes the
  # program identifiers, which both views share (as on Windows 7 and later), with it: the
  # other architecture's object comes back once its DLL is registered again.
  wine "$bin64\\regsvr32.exe" /s /u "$(winpath "$x64")" || fail "regsvr32 /u of the x64 DLL"
  reg_names - "HKCR\\$class" /reg:64
  reg_names "$component" "HKCR\\$class" /reg:32
  expect "x86: no object" "$(writes "$bin32" x86 1)"
  register "$bin32" "$component"
  expect "x86: 1 records" "$(writes "$bin32" x86 1)"
  expect "x64: no object" "$(writes "$bin64" x64 1)"
  register "$bin64" "$x64"
  wine "$bin32\\regsvr32.exe" /s /u "$(winpath "$component")" || fail "regsvr32 /u of the i686 DLL"
  reg_names - "HKCR\\$class" /reg:32
  reg_names "$x64" "HKCR\\$class" /reg:64
  expect "x64: no object" "$(writes "$bin64" x64 1)"
  register "$bin64" "$x64"
  expect "x64: 1 records" "$(writes "$bin64" x64 1)"
  expect "x86: no object" "$(writes "$bin32" x86 1)"

  # The log: its header once, first, then nothing but whole records, every one of them.
  local record="[0-9]{2}/[0-9]{2}/[0-9]{2},[0-9]{2}:[0-9]{2}:[0-9]{2},Command for Remote Server 'h' : Create A Record for Domain '(x86|x64)',Operation Successful,"
  out=$(tr -d '\r' <"$log")
  expect "Date,Time,Action,Comments," "$(grep -vxE "$record" <<<"$out")"
  expect "Date,Time,Action,Comments," "$(head -n 1 <<<"$out")"
  for tag in x86 x64; do expect $((n + 1)) "$(grep -cxE "${record/(x86|x64)/$tag}" <<<"$out")"; done
  [ $failed = 0 ] && echo "views: both architectures registered, logging and unregistered apart"
}

case "$step" in
  suite.js)
    output=$(wine "$bin\\cscript.exe" //nologo "$(winpath "$here/suite.js")" "$(winpath "$agent")" "$(winpath "$log")")
    echo "$output"
    echo "$output" | tail -n 1 | grep -Eq '^[1-9][0-9]* passed, 0 failed$' ;;
  demo)
    {
      wine "$bin\\cscript.exe" //nologo "$(winpath "$here/../../scripts/demo.vbs")" "$(winpath "$agent")"
      echo "== action log"
      sed -E 's#^[0-9]{2}/[0-9]{2}/[0-9]{2},[0-9]{2}:[0-9]{2}:[0-9]{2},#MM/DD/YY,HH:MM:SS,#' "$log" | tr -d '\r'
    } >"$work/demo.out"
    diff -u "$here/demo.expected" "$work/demo.out" ;;
  views) views ;;
  *) echo "unknown step $step"; exit 1 ;;
esac
