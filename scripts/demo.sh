#!/usr/bin/env bash
# Demonstration on a fresh Debian machine: installs the tools, builds the x64 preset,
# registers VeladcomClient.dll and the test agent (the stand-in for the remote agent) in a
# private Wine prefix, configures the registry, runs a control panel's VBScript session
# (scripts/demo.vbs) and prints the action log it left. Stops Wine at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

echo "== Setting up the machine"
bash scripts/setup.sh

echo "== Building (preset x64)"
cmake --preset x64 >/dev/null
cmake --build --preset x64 --target VeladcomClient VelaTestAgent

build="$root/build/x64"
component="$build/src/frame/VeladcomClient.dll"
test_agent="$build/demo/agent/VelaTestAgent.dll"
install="$root/build/demo-install"
export VELA_WINEPREFIX="$root/build/demo-prefix"
trap '"$build/wine-stop"' EXIT

winpath() { local p="$1"; echo "Z:${p//\//\\}"; }
wine() { "$build/wine-exec" "$@" 2>/dev/null | tr -d '\r'; return "${PIPESTATUS[0]}"; }

echo "== Registering in the Wine prefix $VELA_WINEPREFIX"
rm -rf "$install" "$VELA_WINEPREFIX"
mkdir -p "$install/web/admin"
wine regsvr32 /s "$(winpath "$component")"
wine regsvr32 /s "$(winpath "$test_agent")"
echo "registered $(winpath "$component") and $(winpath "$test_agent")"

echo "== Configuration (HKLM\\SOFTWARE\\Corvane)"
wine reg add 'HKLM\SOFTWARE\Corvane\Nt Vela Console\General' /v InstallPath /t REG_SZ /d "$(winpath "$install")" /f >/dev/null
wine reg add 'HKLM\SOFTWARE\Corvane\NT Vela Console\Servers' /v SecondaryDNS /t REG_DWORD /d 1 /f >/dev/null
wine reg add 'HKLM\SOFTWARE\Corvane\NT Vela Console\Servers' /v SecDNSServerIP /t REG_SZ /d 192.0.2.53 /f >/dev/null
wine reg query 'HKLM\SOFTWARE\Corvane\Nt Vela Console\General' | grep -v '^$'
wine reg query 'HKLM\SOFTWARE\Corvane\NT Vela Console\Servers' | grep -v '^$'

echo "== Control panel session (scripts/demo.vbs)"
output=$(wine cscript //nologo "$(winpath "$root/scripts/demo.vbs")" "$(winpath "$test_agent")")
echo "$output"
# Wine's cscript can end quietly on a script error; the session's last line tells.
echo "$output" | tail -n 1 | grep -q 'CreateAEntry puts' || { echo "the session did not run to its end"; exit 1; }

log="$install/web/admin/Logs/VelaDComClient.csv"
echo
echo "== Action log $(winpath "$log")"
tr -d '\r' <"$log"
