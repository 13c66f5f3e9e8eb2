#!/usr/bin/env bash
# Sets up a fresh Debian machine and runs every test: the native sanitizer/fuzzer
# suite, the i686 build, and the x86_64 suite under Wine (unit and end-to-end).
# Each step is a CMake workflow preset: configure, build and (where it runs) test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

cmake --workflow --preset native
cmake --workflow --preset x86
cmake --workflow --preset x64
