#!/usr/bin/env bash
# End-to-end runner: registers VeladcomClient.dll and the stand-in agent with the regsvr32 of
# their architecture (VELA_ARCH x64 or x86: 32-bit programs are in C:\windows\syswow64) in a
# Wine prefix of its own, sets the registry as scripts/demo.sh does with a fresh install
# folder, and runs one step with the cscript of that architecture, as a control panel would:
#   suite.js  the JScript suite; its last line must read "N passed, 0 failed"
#   demo      scripts/demo.vbs, the panel session: what it prints and the action log it
#             leaves (dates and times masked) must equal demo.expected
# Wine's cscript can exit 0 after a script error; a missing line fails the run either way.
# Exit code 77: this machine runs no 32-bit programs (wine-exec); CTest reports a skip.
# Usage: run.sh <build dir> <suite.js | demo>
set -uo pipefail
build=$(cd "$1" && pwd)
step=$2
here=$(cd "$(dirname "$0")" && pwd)
component="${VELA_COMPONENT_DLL:-$build/src/frame/VeladcomClient.dll}"
agent="${VELA_AGENT_DLL:-$build/demo/agent/VelaTestAgent.dll}"
bin='C:\windows\system32' && [ "${VELA_ARCH:-x64}" = x86 ] && bin='C:\windows\syswow64'

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

register "$bin" "$component" "$agent"
settings "$bin" || exit

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
  *) echo "unknown step $step"; exit 1 ;;
esac
