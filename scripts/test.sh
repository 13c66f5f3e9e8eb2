#!/usr/bin/env bash
# Sets up a fresh Debian machine and runs every test: the native sanitizer/fuzzer
# suite, the i686 build, and the x86_64 suite under Wine (unit and end-to-end).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

cmake --preset native >/dev/null
cmake --build --preset native
ctest --preset native

cmake --preset x86 >/dev/null
cmake --build --preset x86

cmake --preset x64 >/dev/null
cmake --build --preset x64
ctest --preset x64
