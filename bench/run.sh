#!/usr/bin/env bash
# Runs the benchmarks under Wine in a prefix of their own: registers VeladcomClient.dll
# and the stand-in agent, points InstallPath at a scratch folder, then runs forward_bench
# and log_bench. Build the x64 preset first (or run scripts/test.sh).
# Usage: bench/run.sh [forward_bench calls per round] [log_bench records per writer]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/x64"
export VELA_WINEPREFIX="$build/bench-prefix"
scratch="$build/bench-install"
trap '"$build/wine-stop"; rm -rf "$scratch"' EXIT
winpath() { local p="$1"; echo "Z:${p//\//\\}"; }
wine() { "$build/wine-exec" "$@" 2>/dev/null | tr -d '\r'; return "${PIPESTATUS[0]}"; }

mkdir -p "$scratch/web/admin"
agent=$(find "$build" -name VelaTestAgent.dll -print -quit)
wine regsvr32 /s "$(winpath "$build/src/frame/VeladcomClient.dll")"
wine regsvr32 /s "$(winpath "$agent")"
wine reg add 'HKLM\SOFTWARE\Corvane\Nt Vela Console\General' /v InstallPath /t REG_SZ \
  /d "$(winpath "$scratch")" /f >/dev/null

echo "== forward_bench (machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs))"
wine "$build/bench/forward_bench.exe" "${1:-2000}" 9
echo "== log_bench"
wine "$build/bench/log_bench.exe" "${2:-5000}"
