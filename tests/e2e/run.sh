#!/usr/bin/env bash
# End-to-end runner: registers VeladcomClient.dll and the test agent with regsvr32 in a
# Wine prefix of its own, points the registry at a fresh install folder, runs the given
# scripts under cscript as a control panel would, and requires each script's final line
# "N passed, 0 failed" (Wine's cscript can exit 0 after a script error, so a missing line
# is a failure). "registration" checks the component's registry keys before and after
# `regsvr32 /u`. The prefix and the install folders are removed at the end.
#
# Usage: run.sh <build dir> <suite.js | panel.vbs | registration>...
set -uo pipefail

build=$(cd "$1" && pwd)
shift
here=$(cd "$(dirname "$0")" && pwd)
[ $# -gt 0 ] || set -- suite.js panel.vbs registration
name=$(echo "$*" | tr -c 'A-Za-z0-9\n' '-')

component="${VELA_COMPONENT_DLL:-$build/src/frame/VeladcomClient.dll}"
test_agent="${VELA_AGENT_DLL:-$build/tests/agent/VelaTestAgent.dll}"
for dll in "$component" "$test_agent"; do
  [ -f "$dll" ] || { echo "missing $dll (build the 'all' target first)"; exit 1; }
done

# A prefix of our own: unit tests in the build's shared prefix register and unregister
# the same classes, and must not meet this run half-way.
export VELA_WINEPREFIX="$build/e2e-prefix-$name"
work="$build/e2e-work-$name"
wine_exec="$build/wine-exec"
cleanup() {
  "$build/wine-stop"
  rm -rf "$work"
}
trap cleanup EXIT
rm -rf "$work" "$VELA_WINEPREFIX"
mkdir -p "$work"

winpath() { local p="$1"; echo "Z:${p//\//\\}"; }
wine_quiet() { "$wine_exec" "$@" 2>/dev/null | tr -d '\r'; return "${PIPESTATUS[0]}"; }

status=0
shell_passed=0
shell_failed=0
shell_check() { # shell_check <description> <command...>
  local what="$1"
  shift
  if "$@" >/dev/null 2>&1; then
    shell_passed=$((shell_passed + 1))
  else
    shell_failed=$((shell_failed + 1))
    echo "FAIL: $what"
  fi
}

register() { wine_quiet regsvr32 /s "$(winpath "$1")" >/dev/null; }
unregister() { wine_quiet regsvr32 /s /u "$(winpath "$1")" >/dev/null; }

shell_check "regsvr32 VeladcomClient.dll" register "$component"
shell_check "regsvr32 VelaTestAgent.dll" register "$test_agent"
wine_quiet reg add 'HKLM\SOFTWARE\Corvane\NT Vela Console\Servers' /v SecondaryDNS /t REG_DWORD /d 1 /f >/dev/null
wine_quiet reg add 'HKLM\SOFTWARE\Corvane\NT Vela Console\Servers' /v SecDNSServerIP /t REG_SZ /d 192.0.2.7 /f >/dev/null

# Runs one script against a fresh install folder; its log lies in web\admin\Logs.
run_script() {
  local script="$1" install="$work/install-${1%.*}"
  mkdir -p "$install/web/admin" "$work/scratch"
  wine_quiet reg add 'HKLM\SOFTWARE\Corvane\Nt Vela Console\General' /v InstallPath /t REG_SZ \
    /d "$(winpath "$install")" /f >/dev/null
  local output last
  output=$(wine_quiet cscript //nologo "$(winpath "$here/$script")" "$(winpath "$test_agent")" \
    "$(winpath "$install/web/admin/Logs/VelaDComClient.csv")" "$(winpath "$work/scratch")")
  echo "$output"
  last=$(echo "$output" | tail -n 1)
  if [[ ! "$last" =~ ^([0-9]+)\ passed,\ ([0-9]+)\ failed$ ]]; then
    echo "FAIL: $script ended without its final line (script error?)"
    status=1
  elif [ "${BASH_REMATCH[2]}" != 0 ] || [ "${BASH_REMATCH[1]}" = 0 ]; then
    status=1
  fi
}

key_exists() { wine_quiet reg query "$1" >/dev/null; }
key_missing() { ! key_exists "$1"; }
value_is() { # value_is <key> <value name or empty for the default> <expected data>
  local args=(/ve)
  [ -n "$2" ] && args=(/v "$2")
  wine_quiet reg query "$1" "${args[@]}" | grep -qF "REG_SZ    $3"
}

check_registration() {
  local vsa='{7A3F1C20-5B0E-4D2A-9C11-3E5F00000005}' sec='{7A3F1C20-5B0E-4D2A-9C11-3E5F00000003}'
  local lib='{7A3F1C20-5B0E-4D2A-9C11-3E5F00000001}' cls progid
  for progid in VeladcomClient.VelaServerAccess VeladcomClient.SecDNSAdmin; do
    cls=$vsa
    [ "$progid" = VeladcomClient.SecDNSAdmin ] && cls=$sec
    shell_check "HKCR\\$progid\\CLSID" value_is "HKCR\\$progid\\CLSID" "" "$cls"
    shell_check "HKCR\\$progid\\CurVer" value_is "HKCR\\$progid\\CurVer" "" "$progid.1"
    shell_check "HKCR\\$progid.1\\CLSID" value_is "HKCR\\$progid.1\\CLSID" "" "$cls"
    shell_check "HKCR\\CLSID\\$cls\\ProgID" value_is "HKCR\\CLSID\\$cls\\ProgID" "" "$progid.1"
    shell_check "HKCR\\CLSID\\$cls\\VersionIndependentProgID" \
      value_is "HKCR\\CLSID\\$cls\\VersionIndependentProgID" "" "$progid"
    shell_check "HKCR\\CLSID\\$cls\\Programmable" key_exists "HKCR\\CLSID\\$cls\\Programmable"
    shell_check "HKCR\\CLSID\\$cls\\InprocServer32" \
      value_is "HKCR\\CLSID\\$cls\\InprocServer32" "" "$(winpath "$component")"
    shell_check "HKCR\\CLSID\\$cls\\InprocServer32 ThreadingModel" \
      value_is "HKCR\\CLSID\\$cls\\InprocServer32" ThreadingModel Apartment
    shell_check "HKCR\\CLSID\\$cls\\TypeLib" value_is "HKCR\\CLSID\\$cls\\TypeLib" "" "$lib"
  done
  shell_check "HKCR\\TypeLib\\$lib" key_exists "HKCR\\TypeLib\\$lib"

  shell_check "regsvr32 /u VeladcomClient.dll" unregister "$component"
  for key in VeladcomClient.VelaServerAccess VeladcomClient.VelaServerAccess.1 VeladcomClient.SecDNSAdmin \
    VeladcomClient.SecDNSAdmin.1 "CLSID\\$vsa" "CLSID\\$sec" "TypeLib\\$lib"; do
    shell_check "HKCR\\$key removed by regsvr32 /u" key_missing "HKCR\\$key"
  done
  shell_check "HKCR\\CLSID kept by regsvr32 /u" key_exists 'HKCR\CLSID'
  shell_check "second regsvr32 /u succeeds" unregister "$component"
}

for step in "$@"; do
  echo "== $step"
  case "$step" in
    registration) check_registration ;;
    *.js | *.vbs) run_script "$step" ;;
    *) echo "unknown step $step"; status=1 ;;
  esac
done

unregister "$test_agent" || true
unregister "$component" || true

echo "shell checks: $shell_passed passed, $shell_failed failed"
[ "$shell_failed" = 0 ] || status=1
exit $status
